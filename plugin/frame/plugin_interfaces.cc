// Anchors the framework interfaces' declarations in the core library.
#include "plugin/frame/plugin_interfaces.h"
