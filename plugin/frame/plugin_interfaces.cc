// Anchors the framework interfaces' declarations in wavrel_frame.
#include "plugin/frame/plugin_interfaces.h"
