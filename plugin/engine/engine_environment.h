// What the engine touches outside itself, handed in as an object: the
// programs it starts and waits for, the files and folders it reads, creates
// and removes (Files: IEngineFiles), the host's texts and message boxes, and the plug-in folder.
// The production environment (ProductionEnvironment, plugin/frame) is over plugin/platform and the
// host pointer; tests hand in a fake that records what the engine did.
#pragma once

#include <cstdint>
#include <memory>
#include <stop_token>
#include <string>
#include <vector>

#include "plugin/engine/engine_files.h"
#include "plugin/platform/process.h"

namespace wavrel {

namespace host {
/// The host's message box styles (IEngineEnvironment::MessageBox): a report
/// (OK) and a question (OK and Cancel).
inline constexpr std::uint32_t kReportStyle = 48;
inline constexpr std::uint32_t kQuestionStyle = 49;
}  // namespace host

/// One launch record: at most one program at a time. Start and Wait belong to
/// one thread; Terminate may come from any thread while Wait blocks.
class IProgramRun {
 public:
  virtual ~IProgramRun() = default;
  /// False with *error when program cannot be started.
  virtual bool Start(const std::string& program, const std::vector<std::string>& args,
                     const std::string& workDir, std::string* error) = 0;
  /// Until the program ends or token asks to stop (kStopped: still running).
  virtual ChildExit Wait(std::stop_token token) = 0;
  /// Ends a program still running; true when none is left running.
  virtual bool Terminate() = 0;
};

class IEngineEnvironment {
 public:
  virtual ~IEngineEnvironment() = default;
  virtual std::unique_ptr<IProgramRun> NewProgramRun() = 0;
  /// True when there is a program at path to start (the checks before a run).
  virtual bool ProgramExists(const std::string& path) = 0;
  /// A new private folder for a run's intermediates; empty with *error.
  virtual std::string MakeWorkFolder(std::string* error) = 0;
  /// A folder below a work folder (one per parallel job); false with *error.
  virtual bool MakeFolder(const std::string& folder, std::string* error) = 0;
  virtual void RemoveFolderTree(const std::string& folder) = 0;
  virtual void RemoveFile(const std::string& path) = 0;
  /// The file operations: listings, reads, stamps, the WAV's temporary file.
  virtual IEngineFiles& Files() = 0;
  /// The host's text of key in the plug-in's section; empty when none.
  virtual std::u16string Text(const char16_t* key) = 0;
  /// A message box; true when closed with OK.
  virtual bool MessageBox(const std::u16string& text, const std::u16string& caption,
                          std::uint32_t style) = 0;
  /// The plug-in folder (its programs and pictures) and the host's folder,
  /// both ending in '/'; empty when unknown.
  virtual std::u16string PluginFolder() = 0;
  virtual std::u16string HostFolder() = 0;
};

}  // namespace wavrel
