// Moved to geometry/polygon.h when the platform folder was split. New code includes it
// there; this forwarder goes once the branches begun before the split have merged.
#pragma once

#include "geometry/polygon.h"
