// ProductionEnvironment: the dialog's environment over the core's platform
// environment and the host services.
#include "plugin/production_environment.h"

#include "plugin/host_services.h"

namespace wavrel {
namespace {

static_assert(host::kReportStyle == kMbOkExclamation &&
              host::kQuestionStyle == kMbOkCancelExclamation);

class HostedEnvironment final : public IDialogEnvironment {
 public:
  std::unique_ptr<IProgramRun> NewProgramRun() override { return m_platform.NewProgramRun(); }
  bool ProgramExists(const std::string& path) override { return m_platform.ProgramExists(path); }
  bool MakeWorkFolder(std::string* folder, std::string* error) override {
    return m_platform.MakeWorkFolder(folder, error);
  }
  bool MakeFolder(const std::string& folder, std::string* error) override {
    return m_platform.MakeFolder(folder, error);
  }
  void RemoveFolderTree(const std::string& folder) override { m_platform.RemoveFolderTree(folder); }
  void RemoveDeadRunsWorkFolders() override { m_platform.RemoveDeadRunsWorkFolders(); }
  IConversionFiles& Files() override { return m_platform.Files(); }
  std::u16string Text(const char16_t* key) override { return GetPluginText(key); }
  bool MessageBox(const std::u16string& text, const std::u16string& caption,
                  std::uint32_t style) override {
    return ShowHostMessageBox(GetHostPointer(), text, caption, style) == kMbResultOk;
  }
  std::u16string PluginFolder() override { return GetPluginDirectory(u"WavrelPlugin"); }
  std::u16string HostFolder() override { return GetHostDirectory(); }

 private:
  IConversionEnvironment& m_platform = PlatformEnvironment();
};

}  // namespace

IDialogEnvironment& ProductionEnvironment() {
  static HostedEnvironment environment;
  return environment;
}

}  // namespace wavrel
