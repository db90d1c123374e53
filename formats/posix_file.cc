#include "formats/posix_file.h"

#include <fcntl.h>
#include <langinfo.h>
#include <sys/stat.h>
#include <unistd.h>

#include <clocale>

#include "base/long_path.h"

namespace vocrate {

std::FILE* OpenRegularFile(const char* path, FileIdentity* id) {
  // Looked at before it is opened: opening a FIFO or a device may wait or
  // act. O_NONBLOCK covers a FIFO put in its place in between.
  const wavrel::AtPath at(path);
  struct stat info {};
  if (!at.Ok() || fstatat(at.Folder(), at.Name(), &info, 0) != 0 || !S_ISREG(info.st_mode)) {
    return nullptr;
  }
  const int fd = openat(at.Folder(), at.Name(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  std::FILE* file = nullptr;
  if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) file = fdopen(fd, "rb");
  if (file == nullptr) {
    close(fd);
    return nullptr;
  }
  *id = {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
  return file;
}

bool IsSameFile(const char* path, const FileIdentity& id) {
  const wavrel::AtPath at(path);
  struct stat info {};
  return at.Ok() && fstatat(at.Folder(), at.Name(), &info, 0) == 0 &&
         static_cast<std::uint64_t>(info.st_dev) == id.device &&
         static_cast<std::uint64_t>(info.st_ino) == id.inode;
}

std::string UserLocaleCodeset() {
  std::string codeset;
  if (std::setlocale(LC_ALL, "") != nullptr) codeset = nl_langinfo(CODESET);
  std::setlocale(LC_ALL, "C");
  return codeset;
}

bool OpenClosedStandardStreams() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) == -1 && open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY) != fd) {
      return false;
    }
  }
  return true;
}

}  // namespace vocrate
