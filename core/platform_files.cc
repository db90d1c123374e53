// The core's file operations and environment over platform/: the one
// core file that calls the platform's file and process functions.
#include "core/conversion_environment.h"
#include "platform/file_system.h"
#include "platform/leftovers.h"

namespace wavrel {

using Ops = PlatformFileOperations;

bool Ops::PathExists(const std::string& path) { return wavrel::PathExists(path); }
bool Ops::IsDirectory(const std::string& path) { return wavrel::IsDirectory(path); }
bool Ops::IsLink(const std::string& path) { return wavrel::IsLink(path); }
bool Ops::CanOpenDirectory(const std::string& path) { return wavrel::CanOpenDirectory(path); }
bool Ops::CanCreateFileIn(const std::string& folder, std::string* error) {
  return wavrel::CanCreateFileIn(folder, error);
}
bool Ops::ListDirectory(const std::string& folder, std::vector<std::string>* names) {
  return wavrel::ListDirectory(folder, names);
}
bool Ops::ReadFileStart(const std::string& path, std::size_t maxBytes,
                        std::vector<unsigned char>* bytes) {
  return wavrel::ReadFileStart(path, maxBytes, bytes);
}
bool Ops::ReadFileAt(const std::string& path, unsigned long long offset, std::size_t maxBytes,
                     std::vector<unsigned char>* bytes) {
  std::FILE* file = wavrel::OpenRegularFileForReading(path, nullptr);
  if (file == nullptr) return false;
  bytes->resize(maxBytes);
  // long is 64 bits on the platforms this builds for.
  const bool ok = std::fseek(file, static_cast<long>(offset), SEEK_SET) == 0;
  bytes->resize(ok ? std::fread(bytes->data(), 1, maxBytes, file) : 0);
  std::fclose(file);
  return ok;
}
bool Ops::FileSize(const std::string& path, unsigned long long* size) {
  return wavrel::FileSize(path, size);
}
bool Ops::StampOf(const std::string& path, bool followLinks, FileStamp* stamp) {
  return wavrel::StampOf(path, followLinks, stamp);
}
std::FILE* Ops::OpenRegularFileForReading(const std::string& path, unsigned long long* size) {
  return wavrel::OpenRegularFileForReading(path, size);
}
std::FILE* Ops::CreateTemporaryBeside(const std::string& finalPath, std::string* tempPath,
                                      FileLock* lock) {
  return wavrel::CreateLockedTemporaryBeside(finalPath, tempPath, lock);
}
bool Ops::CanReplaceByRename(const std::string& path) { return wavrel::CanReplaceByRename(path); }
bool Ops::SetModificationTime(std::FILE* file, long long seconds, long nanoseconds) {
  return wavrel::SetModificationTime(file, seconds, nanoseconds);
}
bool Ops::SyncFile(std::FILE* file, std::string* error) { return wavrel::SyncFile(file, error); }
bool Ops::SyncFolder(const std::string& folder, std::string* error) {
  return wavrel::SyncFolder(folder, error);
}
bool Ops::SyncFileSystemOf(const std::string& folder, std::string* error) {
  return wavrel::SyncFileSystemOf(folder, error);
}
RenameResult Ops::RenameNoReplace(const std::string& from, const std::string& to,
                                  std::string* error) {
  return wavrel::RenameNoReplace(from, to, error);
}
RenameResult Ops::RenameReplacingSame(const std::string& from, const std::string& to,
                                      const FileStamp& expected, std::string* error) {
  return wavrel::RenameReplacingSame(from, to, expected, error);
}
bool Ops::RemoveFile(const std::string& path) { return wavrel::RemoveFile(path); }
bool Ops::FolderIgnoresCase(const std::string& folder, bool* ignoresCase, std::string* error) {
  return wavrel::FolderIgnoresCase(folder, ignoresCase, error);
}
bool Ops::IsOutOfSpace(const std::string& folder, unsigned long long neededBytes,
                       std::string* reason) {
  return wavrel::IsOutOfSpace(folder, neededBytes, reason);
}
bool Ops::HasVanished(const std::string& path, const FileStamp* seen) {
  return wavrel::HasVanished(path, seen);
}
void Ops::RemoveDeadRunsTemporaries(const std::string& folder) {
  wavrel::RemoveStaleTemporaries(folder, kLeftoverMinAgeSeconds, nullptr);
}

IConversionFiles& PlatformFiles() {
  static PlatformFileOperations files;
  return files;
}

namespace {

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

class PlatformConversionEnvironment final : public IConversionEnvironment {
 public:
  std::unique_ptr<IProgramRun> NewProgramRun() override {
    return std::make_unique<ChildProgramRun>();
  }
  bool ProgramExists(const std::string& path) override { return wavrel::PathExists(path); }
  bool MakeWorkFolder(std::string* folder, std::string* error) override {
    *folder = MakePrivateWorkFolder(error);
    return !folder->empty();
  }
  bool MakeFolder(const std::string& folder, std::string* error) override {
    return wavrel::MakeFolders(folder, error);
  }
  void RemoveFolderTree(const std::string& folder) override { wavrel::RemoveFolderTree(folder); }
  void RemoveDeadRunsWorkFolders() override {
    wavrel::RemoveStaleWorkFolders(kLeftoverMinAgeSeconds, nullptr);
  }
  IConversionFiles& Files() override { return PlatformFiles(); }
};

}  // namespace

IConversionEnvironment& PlatformEnvironment() {
  static PlatformConversionEnvironment environment;
  return environment;
}

}  // namespace wavrel
