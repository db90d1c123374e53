// The production environment over a host folder of the test's own: a
// temporary folder holding links to the built programs, pictures and
// message-box library (Link), its plug-in folder Plugins/WavrelPlugin/ (where
// a test writes its settings file), and the runs' work folders beside it.
// Programs, files and texts are the real ones; the message boxes come from
// the libXMessageBox.so linked into this host folder, not from the one beside
// the test's executable. The folder goes with the object.
#pragma once

#include <atomic>
#include <filesystem>
#include <string>

#include "frontends/dialog/dialog_environment.h"
#include "plugin/host_services.h"
#include "plugin/production_environment.h"
#include "testing/files.h"

namespace wavrel::testing {

class LinkedPluginEnvironment final : public IDialogEnvironment {
 public:
  LinkedPluginEnvironment() { std::filesystem::create_directories(PluginPath()); }

  std::filesystem::path HostPath() const { return m_root / "host"; }
  std::filesystem::path PluginPath() const { return HostPath() / "Plugins" / "WavrelPlugin"; }
  /// Links name in folder (HostPath() or PluginPath()) to target; false when
  /// target is missing.
  bool Link(const std::filesystem::path& folder, const std::string& name,
            const std::filesystem::path& target) {
    std::error_code ec;
    if (!std::filesystem::exists(target, ec)) return false;
    std::filesystem::create_symlink(target, folder / name, ec);
    return !ec;
  }

  std::unique_ptr<IProgramRun> NewProgramRun() override { return m_production.NewProgramRun(); }
  bool ProgramExists(const std::string& path) override { return m_production.ProgramExists(path); }
  bool MakeWorkFolder(std::string* folder, std::string* error) override {
    *folder = (m_root / ("work" + std::to_string(++m_workFolders))).string();
    return m_production.MakeFolder(*folder, error);
  }
  bool MakeFolder(const std::string& folder, std::string* error) override {
    return m_production.MakeFolder(folder, error);
  }
  void RemoveFolderTree(const std::string& folder) override {
    m_production.RemoveFolderTree(folder);
  }
  void RemoveDeadRunsWorkFolders() override { m_production.RemoveDeadRunsWorkFolders(); }
  IConversionFiles& Files() override { return m_production.Files(); }
  std::u16string Text(const char16_t* key) override { return m_production.Text(key); }
  bool MessageBox(const std::u16string& text, const std::u16string& caption,
                  std::uint32_t style) override {
    return ShowMessageBoxFrom(HostPath().string() + "/", GetHostPointer(), text, caption, style) ==
           kMbResultOk;
  }
  std::u16string PluginFolder() override { return Folder(PluginPath()); }
  std::u16string HostFolder() override { return Folder(HostPath()); }

 private:
  static std::u16string Folder(const std::filesystem::path& path) {
    return path.u16string() + u"/";
  }

  IDialogEnvironment& m_production = ProductionEnvironment();
  TempFolder m_root{"wavrel_host"};
  std::atomic<unsigned> m_workFolders{0};
};

}  // namespace wavrel::testing
