// The console's link to the plug-in's host pointer.
#pragma once

#include "plugin/frame/plugin_interfaces.h"

namespace wavrel::host {

/// Makes host the process's host object for the dialog's texts and message
/// boxes (null detaches).
void AttachConsoleHost(IPluginHost* host);

}  // namespace wavrel::host
