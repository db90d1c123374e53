#include "platform/file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

#include "base/long_path.h"
#include "platform/file_system_detail.h"

namespace wavrel {

namespace detail {

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string LastComponent(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

int OpenFolder(const std::string& folder, int flags) {
  return AtPath::Open(folder.empty() ? std::string(".") : folder, flags | O_DIRECTORY);
}

bool StatAt(const std::string& path, bool followLinks, struct stat* info) {
  if (path.empty()) {
    errno = ENOENT;
    return false;
  }
  const AtPath at(path);
  if (!at.Ok()) {
    errno = at.Error();
    return false;
  }
  return fstatat(at.Folder(), at.Name(), info, followLinks ? 0 : AT_SYMLINK_NOFOLLOW) == 0;
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

std::string RandomLetters(std::size_t count, const char* alphabet) {
  thread_local std::minstd_rand random(std::random_device{}());
  const std::size_t size = std::strlen(alphabet);
  std::string letters;
  for (std::size_t i = 0; i < count; ++i) letters += alphabet[random() % size];
  return letters;
}

bool LockIfStillNamed(int fd, int folder, const char* name) {
  // EWOULDBLOCK: a clean-up holds it. A file system without locks (ENOLCK,
  // EINVAL) gets the file unlocked: no clean-up can lock it there either.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) return false;
  struct stat mine {};
  struct stat named {};
  // A clean-up that got the lock first may have removed the name meanwhile.
  return fstat(fd, &mine) == 0 && fstatat(folder, name, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
         SameFile(mine, named);
}

void RemoveTreeAt(int folder, const char* name, unsigned char type, int depth) {
  if (type != DT_DIR && type != DT_UNKNOWN) {
    unlinkat(folder, name, 0);
    return;
  }
  if (type == DT_UNKNOWN && unlinkat(folder, name, 0) == 0) return;
  if (depth > 4096) return;  // a tree this deep is not ours to walk
  const int fd = openat(folder, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOTDIR || errno == ELOOP) unlinkat(folder, name, 0);
    return;
  }
  DIR* dir = fdopendir(fd);
  if (dir == nullptr) {
    close(fd);
    return;
  }
  std::vector<std::pair<std::string, unsigned char>> entries;
  while (const dirent* entry = readdir(dir)) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    entries.emplace_back(entry->d_name, entry->d_type);
  }
  for (const auto& [child, childType] : entries) {
    RemoveTreeAt(dirfd(dir), child.c_str(), childType, depth + 1);
  }
  closedir(dir);
  unlinkat(folder, name, AT_REMOVEDIR);
}

}  // namespace detail

namespace {

using detail::FolderOf;
using detail::LastComponent;
using detail::OpenFolder;
using detail::SameFile;
using detail::StatAt;

bool Fail(std::string* error, int code) {
  if (error != nullptr) *error = std::strerror(code);
  return false;
}

/// Opens path with flags (O_CLOEXEC added) when it is a regular file; -1
/// for anything else. O_NONBLOCK keeps a pipe from waiting for a writer.
int OpenRegular(const std::string& path, int flags, struct stat* info) {
  if (path.empty()) return -1;
  const int fd = AtPath::Open(path, flags | O_NONBLOCK);
  if (fd < 0) return -1;
  if (fstat(fd, info) != 0 || !S_ISREG(info->st_mode)) {
    close(fd);
    return -1;
  }
  return fd;
}

/// Makes a hidden file of a random name ("." + stem + XXXXXX) exclusively
/// in the open folder, locked and checked to be still under its name (see
/// LockIfStillNamed); its descriptor, with the name in *name, or -1.
int CreateHiddenLocked(int folder, const std::string& stem, std::string* name) {
  static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string candidate = "." + stem + detail::RandomLetters(6, kLetters);
    // O_EXCL: a new file only, never an existing one nor a link's target.
    const int fd = openat(folder, candidate.c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return -1;
    }
    if (!detail::LockIfStillNamed(fd, folder, candidate.c_str())) {
      close(fd);  // a clean-up took it in the instant before the lock: not ours now
      continue;
    }
    *name = std::move(candidate);
    return fd;
  }
  errno = EEXIST;
  return -1;
}

/// finalPath's name cut so that ".NAME.XXXXXX" fits a 255-byte name limit,
/// its extension kept and no UTF-8 sequence split.
std::string TemporaryStem(const std::string& finalPath) {
  constexpr std::size_t kMaxName = 200;
  std::string name = LastComponent(finalPath);
  if (name.size() > kMaxName) {
    const std::size_t dot = name.rfind('.');
    const std::string extension =
        dot != std::string::npos && name.size() - dot <= 16 ? name.substr(dot) : std::string();
    std::size_t keep = kMaxName - extension.size();
    while (keep > 0 && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80) --keep;
    name = name.substr(0, keep) + extension;
  }
  return name + ".";
}

std::FILE* CreateTemporary(const std::string& finalPath, std::string* tempPath, FileLock* lock) {
  const std::string folder = FolderOf(finalPath);
  const int folderFd = OpenFolder(folder, O_PATH);
  if (folderFd < 0) return nullptr;
  std::string name;
  const int fd = CreateHiddenLocked(folderFd, TemporaryStem(finalPath), &name);
  if (fd < 0) {
    close(folderFd);
    return nullptr;
  }
  // The lock belongs to the open file description: a duplicate keeps it
  // after the stream is closed.
  const int lockFd = lock != nullptr ? fcntl(fd, F_DUPFD_CLOEXEC, 3) : -1;
  std::FILE* file = (lock == nullptr || lockFd >= 0) ? fdopen(fd, "wb") : nullptr;
  if (file == nullptr) {
    unlinkat(folderFd, name.c_str(), 0);
    close(fd);
    if (lockFd >= 0) close(lockFd);
    close(folderFd);
    return nullptr;
  }
  close(folderFd);
  if (lock != nullptr) lock->Adopt(lockFd);
  const std::size_t slash = finalPath.rfind('/');
  *tempPath = (slash == std::string::npos ? std::string() : finalPath.substr(0, slash + 1)) + name;
  return file;
}

bool IsUnsupported(int code) {
  return code == EINVAL || code == ENOSYS || code == EOPNOTSUPP || code == ENOTSUP;
}

RenameResult Failed(std::string* error, int code) {
  if (error != nullptr) *error = std::strerror(code);
  return RenameResult::kFailed;
}

}  // namespace

bool PathExists(const std::string& path) {
  struct stat info {};
  return StatAt(path, false, &info);
}

bool IsDirectory(const std::string& path) {
  struct stat info {};
  return StatAt(path, true, &info) && S_ISDIR(info.st_mode);
}

bool IsLink(const std::string& path) {
  struct stat info {};
  return StatAt(path, false, &info) && S_ISLNK(info.st_mode);
}

bool CanOpenDirectory(const std::string& path) {
  if (path.empty()) return false;
  const int fd = AtPath::Open(path, O_RDONLY | O_DIRECTORY);
  if (fd < 0) return false;
  close(fd);
  return true;
}

bool CanCreateFileIn(const std::string& folder, std::string* error) {
  if (folder.empty()) return Fail(error, ENOENT);
  const int folderFd = OpenFolder(folder, O_PATH);
  if (folderFd < 0) return Fail(error, errno);
  std::string name = ".wavrel-probe-" + detail::RandomLetters(6, "abcdefghijklmnopqrstuvwxyz");
  // Close-on-exec: a child started meanwhile by another thread must not inherit it.
  const int fd =
      openat(folderFd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  const int code = errno;
  if (fd >= 0) {
    close(fd);
    unlinkat(folderFd, name.c_str(), 0);
  }
  close(folderFd);
  // Another probe of that very name proves the folder writable too.
  return fd >= 0 || code == EEXIST || Fail(error, code);
}

bool ListDirectory(const std::string& folder, std::vector<std::string>* names) {
  names->clear();
  if (folder.empty()) return false;
  const int fd = AtPath::Open(folder, O_RDONLY | O_DIRECTORY);
  if (fd < 0) return false;
  DIR* dir = fdopendir(fd);
  if (dir == nullptr) {
    close(fd);
    return false;
  }
  while (const dirent* entry = readdir(dir)) {
    const char* name = entry->d_name;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
    names->emplace_back(name);
  }
  closedir(dir);
  return true;
}

bool RemoveFile(const std::string& path) {
  if (path.empty()) return false;
  const AtPath at(path);
  return at.Ok() && unlinkat(at.Folder(), at.Name(), 0) == 0;
}

bool ReadFileStart(const std::string& path, std::size_t maxBytes,
                   std::vector<unsigned char>* bytes) {
  bytes->clear();
  struct stat info {};
  const int fd = OpenRegular(path, O_RDONLY, &info);
  if (fd < 0) return false;
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
  if (!StatAt(path, true, &info) || !S_ISREG(info.st_mode)) return false;
  *size = static_cast<unsigned long long>(info.st_size);
  return true;
}

std::FILE* OpenRegularFileForReading(const std::string& path, unsigned long long* size) {
  struct stat info {};
  const int fd = OpenRegular(path, O_RDONLY, &info);
  if (fd < 0) return nullptr;
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
  if (path.empty()) return nullptr;
  const int fd = AtPath::Open(path, O_WRONLY | O_CREAT | O_NONBLOCK, 0666);
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
  if (!StatAt(path, followLinks, &info)) return false;
  stamp->device = static_cast<unsigned long long>(info.st_dev);
  stamp->inode = static_cast<unsigned long long>(info.st_ino);
  stamp->modifiedSeconds = static_cast<long long>(info.st_mtim.tv_sec);
  stamp->modifiedNanoseconds = static_cast<long>(info.st_mtim.tv_nsec);
  return true;
}

bool MakeFolders(const std::string& folder, std::string* error) {
  if (folder.empty()) return Fail(error, ENOENT);
  if (IsDirectory(folder)) return true;
  const std::string parent = FolderOf(folder);
  if (parent != folder && parent != "." && !MakeFolders(parent, error)) return false;
  const AtPath at(folder);
  if (!at.Ok()) return Fail(error, at.Error());
  if (mkdirat(at.Folder(), at.Name(), 0777) != 0 && !(errno == EEXIST && IsDirectory(folder))) {
    return Fail(error, errno);
  }
  return true;
}

FileLock& FileLock::operator=(FileLock&& other) noexcept {
  if (this != &other) {
    Release();
    m_fd = other.m_fd;
    other.m_fd = -1;
  }
  return *this;
}

void FileLock::Release() {
  if (m_fd >= 0) close(m_fd);
  m_fd = -1;
}

void FileLock::Adopt(int fd) {
  Release();
  m_fd = fd;
}

std::FILE* CreateTemporaryBeside(const std::string& finalPath, std::string* tempPath) {
  return CreateTemporary(finalPath, tempPath, nullptr);
}

std::FILE* CreateLockedTemporaryBeside(const std::string& finalPath, std::string* tempPath,
                                       FileLock* lock) {
  return CreateTemporary(finalPath, tempPath, lock);
}

bool CanReplaceByRename(const std::string& path) {
  struct stat info {};
  if (!StatAt(path, false, &info)) return errno == ENOENT;
  return S_ISREG(info.st_mode) || S_ISLNK(info.st_mode);
}

bool SetModificationTime(std::FILE* file, long long seconds, long nanoseconds) {
  const timespec times[2] = {{static_cast<time_t>(seconds), nanoseconds},
                             {static_cast<time_t>(seconds), nanoseconds}};
  return std::fflush(file) == 0 && futimens(fileno(file), times) == 0;
}

bool RenameOnto(const std::string& from, const std::string& to) {
  if (from.empty() || to.empty()) return false;
  const AtPath source(from);
  const AtPath target(to);
  return source.Ok() && target.Ok() &&
         renameat(source.Folder(), source.Name(), target.Folder(), target.Name()) == 0;
}

RenameResult RenameNoReplace(const std::string& from, const std::string& to, std::string* error) {
  if (from.empty() || to.empty()) return Failed(error, ENOENT);
  const AtPath source(from);
  if (!source.Ok()) return Failed(error, source.Error());
  const AtPath target(to);
  if (!target.Ok()) return Failed(error, target.Error());
  if (renameat2(source.Folder(), source.Name(), target.Folder(), target.Name(), RENAME_NOREPLACE) ==
      0) {
    return RenameResult::kRenamed;
  }
  if (errno == EEXIST) return RenameResult::kTargetTaken;
  if (!IsUnsupported(errno)) return Failed(error, errno);

  // No RENAME_NOREPLACE here: a link fails as well when to exists.
  if (linkat(source.Folder(), source.Name(), target.Folder(), target.Name(), 0) == 0) {
    unlinkat(source.Folder(), source.Name(), 0);
    return RenameResult::kRenamed;
  }
  if (errno == EEXIST) return RenameResult::kTargetTaken;
  if (errno != EPERM && errno != EMLINK && !IsUnsupported(errno)) return Failed(error, errno);

  // No links either (FAT): claim the name by an exclusive create, then
  // rename onto the claim. Another run that finds the claim takes the next
  // name, as it would for a finished WAV.
  const int claim = openat(target.Folder(), target.Name(),
                           O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (claim < 0) {
    return errno == EEXIST ? RenameResult::kTargetTaken : Failed(error, errno);
  }
  if (renameat(source.Folder(), source.Name(), target.Folder(), target.Name()) == 0) {
    close(claim);
    return RenameResult::kRenamed;
  }
  const int code = errno;
  struct stat claimed {};
  struct stat named {};
  if (fstat(claim, &claimed) == 0 &&
      fstatat(target.Folder(), target.Name(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
      SameFile(claimed, named)) {
    unlinkat(target.Folder(), target.Name(), 0);
  }
  close(claim);
  return Failed(error, code);
}

RenameResult RenameReplacingSame(const std::string& from, const std::string& to,
                                 const FileStamp& expected, std::string* error) {
  if (from.empty() || to.empty()) return Failed(error, ENOENT);
  struct stat there {};
  if (!StatAt(to, false, &there)) {
    if (errno == ENOENT) return RenameNoReplace(from, to, error);
    return Failed(error, errno);
  }
  const auto isExpected = [&expected](const struct stat& info) {
    return static_cast<unsigned long long>(info.st_dev) == expected.device &&
           static_cast<unsigned long long>(info.st_ino) == expected.inode;
  };
  if (!isExpected(there)) return RenameResult::kTargetTaken;

  const AtPath source(from);
  if (!source.Ok()) return Failed(error, source.Error());
  const AtPath target(to);
  if (!target.Ok()) return Failed(error, target.Error());
  if (renameat2(source.Folder(), source.Name(), target.Folder(), target.Name(), RENAME_EXCHANGE) !=
      0) {
    if (errno == ENOENT) return RenameNoReplace(from, to, error);  // to went meanwhile
    if (!IsUnsupported(errno)) return Failed(error, errno);
    // No exchange here: the check above and this rename are two steps.
    if (renameat(source.Folder(), source.Name(), target.Folder(), target.Name()) != 0) {
      return Failed(error, errno);
    }
    return RenameResult::kRenamed;
  }
  // The file that was at to is now at from, a name of the caller's own.
  struct stat swapped {};
  if (fstatat(source.Folder(), source.Name(), &swapped, AT_SYMLINK_NOFOLLOW) == 0 &&
      isExpected(swapped)) {
    unlinkat(source.Folder(), source.Name(), 0);
    return RenameResult::kRenamed;
  }
  // Another file took to's place between the check and the exchange: give
  // it its name back.
  if (renameat2(source.Folder(), source.Name(), target.Folder(), target.Name(), RENAME_EXCHANGE) ==
      0) {
    return RenameResult::kTargetTaken;
  }
  const int code = errno;
  RenameNoReplace(from, to, nullptr);
  return Failed(error, code);
}

bool SyncFile(std::FILE* file, std::string* error) {
  if (std::fflush(file) != 0 || std::ferror(file) != 0) return Fail(error, errno ? errno : EIO);
  if (fsync(fileno(file)) != 0) return Fail(error, errno);
  return true;
}

bool SyncFolder(const std::string& folder, std::string* error) {
  const int fd = OpenFolder(folder, O_RDONLY);
  if (fd < 0) return Fail(error, errno);
  const bool synced = fsync(fd) == 0 || errno == EINVAL;
  const int code = errno;
  close(fd);
  return synced || Fail(error, code);
}

bool SyncFileSystemOf(const std::string& folder, std::string* error) {
  const int fd = OpenFolder(folder, O_RDONLY);
  if (fd < 0) return Fail(error, errno);
  const bool synced = syncfs(fd) == 0;
  const int code = errno;
  close(fd);
  return synced || Fail(error, code);
}

bool FolderIgnoresCase(const std::string& folder, bool* ignoresCase, std::string* error) {
  const int folderFd = OpenFolder(folder, O_PATH);
  if (folderFd < 0) return Fail(error, errno);
  // Lower-case letters only: the upper-case name exists only as this file.
  std::string name;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    name = ".wavrel-case-" + detail::RandomLetters(10, "abcdefghijklmnopqrstuvwxyz");
    fd = openat(folderFd, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    const int code = errno;
    close(folderFd);
    return Fail(error, code);
  }
  bool ok = pwrite(fd, name.data(), name.size(), 0) == static_cast<ssize_t>(name.size());
  const int writeError = errno;
  std::string upper = name;
  for (char& c : upper) c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  bool same = false;
  if (ok) {
    const int other =
        openat(folderFd, upper.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (other >= 0) {
      // Device and inode tell where the file system gives them per file; a
      // FUSE file system may number the names apart, but the bytes still tell.
      struct stat mine {};
      struct stat found {};
      std::string bytes(name.size() + 1, '\0');
      const bool sameInode =
          fstat(fd, &mine) == 0 && fstat(other, &found) == 0 && SameFile(mine, found);
      const bool sameBytes =
          pread(other, bytes.data(), bytes.size(), 0) == static_cast<ssize_t>(name.size()) &&
          bytes.compare(0, name.size(), name) == 0;
      same = sameInode || sameBytes;
      close(other);
    }
  }
  close(fd);
  unlinkat(folderFd, name.c_str(), 0);
  close(folderFd);
  if (!ok) return Fail(error, writeError);
  *ignoresCase = same;
  return true;
}

bool IsOutOfSpace(const std::string& folder, unsigned long long neededBytes, std::string* reason) {
  const int folderFd = OpenFolder(folder, O_RDONLY);
  if (folderFd < 0) return false;
  struct statvfs info {};
  int code = 0;
  if (fstatvfs(folderFd, &info) == 0) {
    const unsigned long long available =
        static_cast<unsigned long long>(info.f_bavail) * info.f_frsize;
    if (available < neededBytes || available == 0 || (info.f_files > 0 && info.f_favail == 0)) {
      code = ENOSPC;
    }
  }
  if (code == 0) {
    // A quota shows only in a write.
    std::string name = ".wavrel-space-" + detail::RandomLetters(6, "abcdefghijklmnopqrstuvwxyz");
    const int fd =
        openat(folderFd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
      if (errno == ENOSPC || errno == EDQUOT) code = errno;
    } else {
      const std::vector<char> block(4096, '\0');
      if (write(fd, block.data(), block.size()) < 0 && (errno == ENOSPC || errno == EDQUOT)) {
        code = errno;
      }
      close(fd);
      unlinkat(folderFd, name.c_str(), 0);
    }
  }
  close(folderFd);
  if (code == 0) return false;
  if (reason != nullptr) *reason = std::strerror(code);
  return true;
}

bool HasVanished(const std::string& path, const FileStamp* seen) {
  struct stat info {};
  if (!StatAt(path, true, &info)) return errno == ENOENT || errno == ENOTDIR;
  return seen != nullptr && (static_cast<unsigned long long>(info.st_dev) != seen->device ||
                             static_cast<unsigned long long>(info.st_ino) != seen->inode);
}

}  // namespace wavrel
