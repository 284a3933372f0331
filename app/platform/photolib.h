// Moved to photogrammetry/photolib.h when the platform folder was split. New code includes it
// there; this forwarder goes once the branches begun before the split have merged.
#pragma once

#include "photogrammetry/photolib.h"
