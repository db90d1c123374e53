// ProductionEnvironment: the dialog's environment over the core's platform
// environment and the host services.
#include "plugin/production_environment.h"

#include "core/forwarding_environment.h"
#include "plugin/host_services.h"

namespace wavrel {
namespace {

static_assert(host::kReportStyle == kMbOkExclamation &&
              host::kQuestionStyle == kMbOkCancelExclamation);

class HostedEnvironment final : public ForwardingEnvironmentT<IDialogEnvironment> {
 public:
  HostedEnvironment() : ForwardingEnvironmentT(PlatformEnvironment()) {}
  std::u16string Text(const char16_t* key) override { return GetPluginText(key); }
  bool MessageBox(const std::u16string& text, const std::u16string& caption,
                  std::uint32_t style) override {
    return ShowHostMessageBox(GetHostPointer(), text, caption, style) == kMbResultOk;
  }
  std::u16string PluginFolder() override { return GetPluginDirectory(u"WavrelPlugin"); }
  std::u16string HostFolder() override { return GetHostDirectory(); }
};

}  // namespace

IDialogEnvironment& ProductionEnvironment() {
  static HostedEnvironment environment;
  return environment;
}

}  // namespace wavrel
