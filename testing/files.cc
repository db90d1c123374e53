#include "testing/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <vector>

#include "base/long_path.h"
#include "formats/qcp_format.h"

namespace wavrel::testing {

namespace fs = std::filesystem;

TempFolder::TempFolder(const std::string& prefix) {
  std::string pattern = (fs::temp_directory_path() / (prefix + "-XXXXXX")).string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed: " + pattern);
  m_path = pattern;
}

TempFolder::~TempFolder() { RemoveAll(m_path); }

namespace {

// Relative to open folders, so that no path grows past PATH_MAX.
void RemoveAt(int parent, const std::string& name) {
  if (::unlinkat(parent, name.c_str(), 0) == 0 || errno == ENOENT) return;
  struct stat info {};
  if (::fstatat(parent, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(info.st_mode)) {
    return;
  }
  // A folder a test made unreadable can be entered again; if not, the open
  // below fails and what is in it stays.
  if (::fchmodat(parent, name.c_str(), (info.st_mode & 07777) | S_IRWXU, 0) != 0) return;
  const int fd = ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return;
  DIR* dir = ::fdopendir(fd);
  if (dir == nullptr) {
    ::close(fd);
    return;
  }
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string child = entry->d_name;
    if (child != "." && child != "..") names.push_back(child);
  }
  for (const std::string& child : names) RemoveAt(::dirfd(dir), child);
  ::closedir(dir);
  ::unlinkat(parent, name.c_str(), AT_REMOVEDIR);
}

}  // namespace

void RemoveAll(const fs::path& folder) {
  if (folder.empty()) return;
  fs::path absolute = fs::absolute(folder).lexically_normal();
  if (!absolute.has_filename()) absolute = absolute.parent_path();
  const int parent = ::open(absolute.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (parent < 0) return;
  RemoveAt(parent, absolute.filename().string());
  ::close(parent);
}

std::string MakeDeepFolders(const fs::path& base, int levels, std::size_t nameBytes) {
  std::string path = base.string();
  int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  for (int level = 0; level < levels && fd >= 0; ++level) {
    const std::string name(nameBytes, static_cast<char>('a' + level % 26));
    const bool made = ::mkdirat(fd, name.c_str(), 0700) == 0 || errno == EEXIST;
    const int next = made ? ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
    ::close(fd);
    fd = next;
    path += "/" + name;
  }
  if (fd < 0) return {};
  ::close(fd);
  return path;
}

std::string Slurp(const fs::path& path) {
  if (path.native().size() >= PATH_MAX) {
    std::string bytes;
    const int fd = AtPath::Open(path.string(), O_RDONLY);
    char block[65536];
    ssize_t n = 0;
    while (fd >= 0 && (n = ::read(fd, block, sizeof block)) > 0) bytes.append(block, n);
    if (fd >= 0) ::close(fd);
    return bytes;
  }
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool WriteFile(const fs::path& path, std::string_view bytes) {
  if (path.native().size() >= PATH_MAX) {
    const int fd = AtPath::Open(path.string(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    const bool written =
        fd >= 0 && ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    return fd >= 0 && ::close(fd) == 0 && written;
  }
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  return static_cast<bool>(out);
}

void CopySamples(const fs::path& samples, const fs::path& folder,
                 const std::map<std::string, std::string>& renamed) {
  fs::create_directories(folder);
  const auto copy = [&](const fs::path& sample, const fs::path& name) {
    fs::copy_file(samples / sample, folder / name, fs::copy_options::overwrite_existing);
    fs::permissions(folder / name, fs::perms::owner_read | fs::perms::owner_write);
  };
  if (renamed.empty()) {
    for (const auto& entry : fs::directory_iterator(samples)) {
      copy(entry.path().filename(), entry.path().filename());
    }
  }
  for (const auto& [sample, name] : renamed) copy(sample, name);
}

std::vector<std::string> Names(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string QcpBytes(const std::string& payload) {
  std::string bytes(qcp::kHeaderSize, '\0');
  std::copy(qcp::kRiffId.begin(), qcp::kRiffId.end(), bytes.begin() + qcp::kRiffIdOffset);
  std::copy(qcp::kQlcmId.begin(), qcp::kQlcmId.end(), bytes.begin() + qcp::kFormTypeOffset);
  std::copy(qcp::kEvrcCodecGuid.begin(), qcp::kEvrcCodecGuid.end(),
            bytes.begin() + qcp::kCodecGuidOffset);
  return bytes + payload;
}

}  // namespace wavrel::testing
