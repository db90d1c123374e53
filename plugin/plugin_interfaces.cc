// Anchors the framework interfaces' declarations in wavrel_frame.
#include "plugin/plugin_interfaces.h"
