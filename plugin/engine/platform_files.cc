// The engine's file operations over plugin/platform, unchanged: the one
// engine file that calls the platform's file functions.
#include <filesystem>
#include <system_error>

#include "plugin/engine/engine_files.h"
#include "plugin/platform/file_system.h"

namespace wavrel {

using Ops = PlatformFileOperations;

bool Ops::PathExists(const std::string& path) { return wavrel::PathExists(path); }
bool Ops::IsDirectory(const std::string& path) { return wavrel::IsDirectory(path); }
bool Ops::IsLink(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_symlink(path, ec);
}
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
bool Ops::FileSize(const std::string& path, unsigned long long* size) {
  return wavrel::FileSize(path, size);
}
bool Ops::StampOf(const std::string& path, bool followLinks, FileStamp* stamp) {
  return wavrel::StampOf(path, followLinks, stamp);
}
std::FILE* Ops::OpenRegularFileForReading(const std::string& path, unsigned long long* size) {
  return wavrel::OpenRegularFileForReading(path, size);
}
std::FILE* Ops::CreateTemporaryBeside(const std::string& finalPath, std::string* tempPath) {
  return wavrel::CreateTemporaryBeside(finalPath, tempPath);
}
bool Ops::CanReplaceByRename(const std::string& path) { return wavrel::CanReplaceByRename(path); }
bool Ops::SetModificationTime(std::FILE* file, long long seconds, long nanoseconds) {
  return wavrel::SetModificationTime(file, seconds, nanoseconds);
}
bool Ops::RenameOnto(const std::string& from, const std::string& to) {
  return wavrel::RenameOnto(from, to);
}
bool Ops::RemoveFile(const std::string& path) { return wavrel::RemoveFile(path); }

IEngineFiles& PlatformFiles() {
  static PlatformFileOperations files;
  return files;
}

}  // namespace wavrel
