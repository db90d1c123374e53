// ProductionEnvironment: the engine's environment over plugin/platform and
// the host services.
#include "plugin/frame/production_environment.h"

#include <filesystem>
#include <system_error>

#include "plugin/frame/host_services.h"
#include "plugin/platform/file_system.h"

namespace wavrel {
namespace {

static_assert(host::kReportStyle == kMbOkExclamation &&
              host::kQuestionStyle == kMbOkCancelExclamation);

class ChildProgramRun final : public IProgramRun {
 public:
  bool Start(const std::string& program, const std::vector<std::string>& args,
             const std::string& workDir, std::string* error) override {
    return m_child.Start(program, args, workDir, error);
  }
  ChildExit Wait(std::stop_token token) override { return m_child.Wait(token); }
  bool Terminate() override { return m_child.Terminate(); }

 private:
  ChildProcess m_child;
};

class PlatformEnvironment final : public IEngineEnvironment {
 public:
  std::unique_ptr<IProgramRun> NewProgramRun() override {
    return std::make_unique<ChildProgramRun>();
  }
  bool ProgramExists(const std::string& path) override { return PathExists(path); }
  std::string MakeWorkFolder(std::string* error) override { return MakePrivateWorkFolder(error); }
  bool MakeFolder(const std::string& folder, std::string* error) override {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec && error != nullptr) *error = ec.message();
    return !ec;
  }
  void RemoveFolderTree(const std::string& folder) override { wavrel::RemoveFolderTree(folder); }
  void RemoveFile(const std::string& path) override { wavrel::RemoveFile(path); }
  IEngineFiles& Files() override { return PlatformFiles(); }
  std::u16string Text(const char16_t* key) override { return GetPluginText(key); }
  bool MessageBox(const std::u16string& text, const std::u16string& caption,
                  std::uint32_t style) override {
    return ShowHostMessageBox(GetHostPointer(), text, caption, style) == kMbResultOk;
  }
  std::u16string PluginFolder() override { return GetPluginDirectory(u"WavrelPlugin"); }
  std::u16string HostFolder() override { return GetHostDirectory(); }
};

}  // namespace

IEngineEnvironment& ProductionEnvironment() {
  static PlatformEnvironment environment;
  return environment;
}

}  // namespace wavrel
