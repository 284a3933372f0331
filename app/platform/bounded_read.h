// Moved to system/bounded_read.h when the platform folder was split. New code includes it there;
// this forwarder goes once the branches begun before the split have merged.
#pragma once

#include "system/bounded_read.h"
