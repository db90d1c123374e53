#include "platform/leftovers.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>

#include "base/long_path.h"
#include "platform/file_system.h"
#include "platform/file_system_detail.h"

namespace wavrel {
namespace {

constexpr char kAlphanumerics[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
constexpr char kWorkPrefix[] = "wavrel-";

std::string TempBase() {
  const char* base = std::getenv("TMPDIR");
  std::string folder = (base != nullptr && *base != '\0') ? base : "/tmp";
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder;
}

bool IsAlphanumeric(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

bool EndsInSixAlphanumerics(const std::string& name) {
  if (name.size() < 6) return false;
  for (std::size_t i = name.size() - 6; i < name.size(); ++i) {
    if (!IsAlphanumeric(name[i])) return false;
  }
  return true;
}

bool IsWorkFolderName(const std::string& name) {
  const std::size_t prefix = sizeof kWorkPrefix - 1;
  return name.size() == prefix + 6 && name.compare(0, prefix, kWorkPrefix) == 0 &&
         EndsInSixAlphanumerics(name);
}

/// Names in the open folder fd, "." and ".." left out (fd stays open).
std::vector<std::string> ListAt(int fd) {
  std::vector<std::string> names;
  const int listed = fcntl(fd, F_DUPFD_CLOEXEC, 3);
  DIR* dir = listed >= 0 ? fdopendir(listed) : nullptr;
  if (dir == nullptr) {
    if (listed >= 0) close(listed);
    return names;
  }
  while (const dirent* entry = readdir(dir)) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    names.emplace_back(entry->d_name);
  }
  closedir(dir);
  return names;
}

bool OldEnough(const struct stat& info, int minAgeSeconds) {
  return std::time(nullptr) - info.st_ctim.tv_sec >= minAgeSeconds;
}

/// Opens name in folder with flags and takes its lock when no one holds it
/// and it is still the entry that was looked at; -1 otherwise.
int LockLeftover(int folder, const std::string& name, int flags, const struct stat& seen) {
  const int fd = openat(folder, name.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat opened {};
  if (flock(fd, LOCK_EX | LOCK_NB) != 0 || fstat(fd, &opened) != 0 ||
      !detail::SameFile(opened, seen)) {
    close(fd);
    return -1;
  }
  return fd;
}

/// True when bytes could be the start of a WAV file as the writer makes it.
bool BeginsLikeOurWav(const unsigned char* bytes, std::size_t size) {
  static const char kShape[] = "RIFF????WAVEfmt ";
  for (std::size_t i = 0; i < size && i < sizeof kShape - 1; ++i) {
    if (kShape[i] != '?' && bytes[i] != static_cast<unsigned char>(kShape[i])) return false;
  }
  return true;
}

/// The locks of the work folders that MakePrivateWorkFolder handed out by
/// path, until RemoveFolderTree. Never destroyed: a thread may still remove
/// its folder while the process exits.
std::mutex& RegistryMutex() {
  static auto* mutex = new std::mutex;
  return *mutex;
}
std::map<std::string, int>& Registry() {
  static auto* registry = new std::map<std::string, int>;
  return *registry;
}

void RemoveTree(const std::string& path) {
  std::string folder = path;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  if (folder.empty()) return;
  const AtPath at(folder);
  if (at.Ok()) detail::RemoveTreeAt(at.Folder(), at.Name(), DT_UNKNOWN);
}

}  // namespace

bool PrivateWorkFolder::Make(std::string* error) {
  Remove();
  const std::string base = TempBase();
  const int baseFd = detail::OpenFolder(base, O_PATH);
  if (baseFd < 0) {
    if (error != nullptr) *error = std::strerror(errno);
    return false;
  }
  int code = EEXIST;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name = kWorkPrefix + detail::RandomLetters(6, kAlphanumerics);
    if (mkdirat(baseFd, name.c_str(), 0700) != 0) {
      code = errno;
      if (code == EEXIST) continue;
      break;
    }
    const int fd = openat(baseFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
      code = errno;
      continue;
    }
    if (!detail::LockIfStillNamed(fd, baseFd, name.c_str())) {
      close(fd);  // a clean-up took it in the instant before the lock
      continue;
    }
    close(baseFd);
    m_lockFd = fd;
    m_path = (base == "/" ? std::string() : base) + "/" + name;
    return true;
  }
  close(baseFd);
  if (error != nullptr) *error = std::strerror(code);
  return false;
}

void PrivateWorkFolder::Remove() {
  if (!m_path.empty()) RemoveTree(m_path);
  if (m_lockFd >= 0) close(m_lockFd);
  m_lockFd = -1;
  m_path.clear();
}

int PrivateWorkFolder::ReleaseLock(std::string* path) {
  const int fd = m_lockFd;
  *path = std::move(m_path);
  m_path.clear();
  m_lockFd = -1;
  return fd;
}

std::string MakePrivateWorkFolder(std::string* error) {
  PrivateWorkFolder folder;
  if (!folder.Make(error)) return {};
  std::string path;
  const int fd = folder.ReleaseLock(&path);
  std::lock_guard lock(RegistryMutex());
  auto [it, inserted] = Registry().emplace(path, fd);
  if (!inserted) {  // a path handed out before whose folder someone else removed
    close(it->second);
    it->second = fd;
  }
  return path;
}

void RemoveFolderTree(const std::string& folder) {
  if (folder.empty()) return;
  RemoveTree(folder);
  std::lock_guard lock(RegistryMutex());
  const auto it = Registry().find(folder);
  if (it != Registry().end()) {
    close(it->second);
    Registry().erase(it);
  }
}

bool IsTemporaryWavName(const std::string& name) {
  // "." NAME ".wav" "." XXXXXX, NAME not empty.
  const std::size_t size = name.size();
  return size >= 13 && name[0] == '.' && name[size - 7] == '.' &&
         name.compare(size - 11, 4, ".wav") == 0 && EndsInSixAlphanumerics(name);
}

int RemoveStaleWorkFolders(int minAgeSeconds, std::vector<std::string>* removed) {
  const std::string base = TempBase();
  const int baseFd = detail::OpenFolder(base, O_RDONLY);
  if (baseFd < 0) return 0;
  int count = 0;
  for (const std::string& name : ListAt(baseFd)) {
    if (!IsWorkFolderName(name)) continue;
    struct stat info {};
    if (fstatat(baseFd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(info.st_mode) ||
        info.st_uid != geteuid() || (info.st_mode & 07777) != 0700 ||
        !OldEnough(info, minAgeSeconds)) {
      continue;
    }
    const int fd = LockLeftover(baseFd, name, O_RDONLY | O_DIRECTORY, info);
    if (fd < 0) continue;  // a live run's
    detail::RemoveTreeAt(baseFd, name.c_str(), DT_DIR);
    close(fd);
    struct stat after {};
    if (fstatat(baseFd, name.c_str(), &after, AT_SYMLINK_NOFOLLOW) != 0) {
      ++count;
      if (removed != nullptr) removed->push_back((base == "/" ? "" : base) + "/" + name);
    }
  }
  close(baseFd);
  return count;
}

int RemoveStaleTemporaries(const std::string& folder, int minAgeSeconds,
                           std::vector<std::string>* removed) {
  const int folderFd = detail::OpenFolder(folder, O_RDONLY);
  if (folderFd < 0) return 0;
  const std::string prefix = folder.empty() || folder.back() == '/' ? folder : folder + "/";
  int count = 0;
  for (const std::string& name : ListAt(folderFd)) {
    if (!IsTemporaryWavName(name)) continue;
    struct stat info {};
    if (fstatat(folderFd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(info.st_mode) || info.st_uid != geteuid() || !OldEnough(info, minAgeSeconds)) {
      continue;
    }
    const int fd = LockLeftover(folderFd, name, O_RDONLY, info);
    if (fd < 0) continue;  // a live run's, or not readable
    unsigned char head[16] = {};
    const ssize_t got = pread(fd, head, sizeof head, 0);
    struct stat named {};
    if (got >= 0 && BeginsLikeOurWav(head, static_cast<std::size_t>(got)) &&
        fstatat(folderFd, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
        detail::SameFile(named, info) && unlinkat(folderFd, name.c_str(), 0) == 0) {
      ++count;
      if (removed != nullptr) removed->push_back(prefix + name);
    }
    close(fd);
  }
  close(folderFd);
  return count;
}

}  // namespace wavrel
