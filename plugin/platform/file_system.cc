#include "plugin/platform/file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>

namespace wavrel {

bool PathExists(const std::string& path) {
  struct stat info {};
  return !path.empty() && lstat(path.c_str(), &info) == 0;
}

bool IsDirectory(const std::string& path) {
  struct stat info {};
  return !path.empty() && stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool CanOpenDirectory(const std::string& path) {
  if (path.empty()) return false;
  DIR* dir = opendir(path.c_str());
  if (dir == nullptr) return false;
  closedir(dir);
  return true;
}

bool CanCreateFileIn(const std::string& folder, std::string* error) {
  if (folder.empty()) {
    if (error != nullptr) *error = std::strerror(ENOENT);
    return false;
  }
  std::string probe = folder;
  if (probe.back() != '/') probe += '/';
  probe += ".wavrel-probe-XXXXXX";
  // Close-on-exec: a child started meanwhile by another thread must not inherit it.
  const int fd = mkostemp(probe.data(), O_CLOEXEC);
  if (fd < 0) {
    if (error != nullptr) *error = std::strerror(errno);
    return false;
  }
  close(fd);
  unlink(probe.c_str());
  return true;
}

bool ListDirectory(const std::string& folder, std::vector<std::string>* names) {
  names->clear();
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return false;
  while (const dirent* entry = readdir(dir)) {
    const char* name = entry->d_name;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
    names->emplace_back(name);
  }
  closedir(dir);
  return true;
}

bool RemoveFile(const std::string& path) { return !path.empty() && unlink(path.c_str()) == 0; }

bool ReadFileStart(const std::string& path, std::size_t maxBytes,
                   std::vector<unsigned char>* bytes) {
  bytes->clear();
  // O_NONBLOCK: opening a pipe for reading would otherwise wait for a writer.
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    return false;
  }
  bytes->resize(maxBytes);
  std::size_t got = 0;
  while (got < maxBytes) {
    const ssize_t n = read(fd, bytes->data() + got, maxBytes - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  close(fd);
  bytes->resize(got);
  return true;
}

bool FileSize(const std::string& path, unsigned long long* size) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
  *size = static_cast<unsigned long long>(info.st_size);
  return true;
}

std::FILE* OpenRegularFileForReading(const std::string& path, unsigned long long* size) {
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    return nullptr;
  }
  std::FILE* file = fdopen(fd, "rb");
  if (file == nullptr) {
    close(fd);
    return nullptr;
  }
  if (size != nullptr) *size = static_cast<unsigned long long>(info.st_size);
  return file;
}

std::FILE* CreateFileForWriting(const std::string& path) {
  // Open without truncating first, so that nothing but a regular file is cut.
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || ftruncate(fd, 0) != 0) {
    close(fd);
    return nullptr;
  }
  std::FILE* file = fdopen(fd, "wb");
  if (file == nullptr) close(fd);
  return file;
}

bool StampOf(const std::string& path, bool followLinks, FileStamp* stamp) {
  struct stat info {};
  if (path.empty() || (followLinks ? stat(path.c_str(), &info) : lstat(path.c_str(), &info)) != 0) {
    return false;
  }
  stamp->device = static_cast<unsigned long long>(info.st_dev);
  stamp->inode = static_cast<unsigned long long>(info.st_ino);
  stamp->modifiedSeconds = static_cast<long long>(info.st_mtim.tv_sec);
  stamp->modifiedNanoseconds = static_cast<long>(info.st_mtim.tv_nsec);
  return true;
}

std::FILE* CreateTemporaryBeside(const std::string& finalPath, std::string* tempPath) {
  const std::size_t slash = finalPath.rfind('/');
  const std::string folder =
      slash == std::string::npos ? std::string() : finalPath.substr(0, slash + 1);
  // The name is cut so that the hidden name fits a 255-byte name limit.
  const std::string name =
      finalPath.substr(slash == std::string::npos ? 0 : slash + 1).substr(0, 200);
  static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device seed;
  std::minstd_rand random(seed());
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string path = folder + "." + name + ".";
    for (int i = 0; i < 6; ++i) path += kLetters[random() % (sizeof kLetters - 1)];
    // O_EXCL: a new file only, never an existing one nor a link's target.
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return nullptr;
    }
    std::FILE* file = fdopen(fd, "wb");
    if (file == nullptr) {
      close(fd);
      unlink(path.c_str());
      return nullptr;
    }
    *tempPath = std::move(path);
    return file;
  }
  return nullptr;
}

bool CanReplaceByRename(const std::string& path) {
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0) return errno == ENOENT;
  return S_ISREG(info.st_mode) || S_ISLNK(info.st_mode);
}

bool SetModificationTime(std::FILE* file, long long seconds, long nanoseconds) {
  const timespec times[2] = {{static_cast<time_t>(seconds), nanoseconds},
                             {static_cast<time_t>(seconds), nanoseconds}};
  return std::fflush(file) == 0 && futimens(fileno(file), times) == 0;
}

bool RenameOnto(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0;
}

std::string MakePrivateWorkFolder(std::string* error) {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = (base != nullptr && *base != '\0') ? base : "/tmp";
  while (pattern.size() > 1 && pattern.back() == '/') pattern.pop_back();
  pattern += "/wavrel-XXXXXX";
  // mkdtemp makes the folder with mode 0700.
  if (mkdtemp(pattern.data()) == nullptr) {
    if (error != nullptr) *error = std::strerror(errno);
    return {};
  }
  return pattern;
}

void RemoveFolderTree(const std::string& folder) {
  if (folder.empty()) return;
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
}

}  // namespace wavrel
