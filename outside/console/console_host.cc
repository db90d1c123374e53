#include "outside/console/console_host.h"

#include "plugin/frame/host_services.h"

namespace wavrel::host {

void AttachConsoleHost(IPluginHost* host) { SetHostPointer(host); }

}  // namespace wavrel::host
