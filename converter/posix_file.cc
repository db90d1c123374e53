#include "converter/posix_file.h"

#include <fcntl.h>
#include <langinfo.h>
#include <sys/stat.h>

#include <clocale>

namespace vocrate {

std::FILE* OpenRegularFile(const char* path, FileIdentity* id) {
  struct stat info {};
  if (stat(path, &info) != 0 || !S_ISREG(info.st_mode)) return nullptr;
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return nullptr;
  if (fstat(fileno(file), &info) != 0 || !S_ISREG(info.st_mode)) {
    std::fclose(file);
    return nullptr;
  }
  *id = {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
  return file;
}

bool IsSameFile(const char* path, const FileIdentity& id) {
  struct stat info {};
  return stat(path, &info) == 0 && static_cast<std::uint64_t>(info.st_dev) == id.device &&
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
