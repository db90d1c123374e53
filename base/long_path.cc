#include "base/long_path.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <vector>

namespace wavrel {
namespace {

// Each openat of the walk gets a relative path of at most this many bytes:
// far below PATH_MAX, so that a handful of opens cross any depth.
constexpr std::size_t kStepBytes = 2048;

}  // namespace

AtPath::AtPath(const std::string& path) : m_folder(AT_FDCWD) {
  if (path.size() < PATH_MAX) {
    m_name = path;
    return;
  }
  std::vector<std::string> parts;
  for (std::size_t at = 0; at < path.size();) {
    const std::size_t slash = path.find('/', at);
    const std::size_t end = slash == std::string::npos ? path.size() : slash;
    if (end > at) parts.push_back(path.substr(at, end - at));
    at = end + 1;
  }
  if (path.front() == '/') {
    m_folder = open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (m_folder < 0) {
      m_error = errno;
      m_folder = AT_FDCWD;
      return;
    }
    m_owned = true;
  }
  if (parts.empty()) {
    m_name.assign(1, '.');
    return;
  }
  m_name = parts.back();
  if (path.back() == '/') m_name.push_back('/');
  parts.pop_back();

  std::string step;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (!step.empty()) step += '/';
    step += parts[i];
    const bool last = i + 1 == parts.size();
    if (!last && step.size() + 1 + parts[i + 1].size() <= kStepBytes) continue;
    // O_PATH: a folder one may search but not list is passed, as the kernel
    // passes it in a short path.
    const int next = openat(m_folder, step.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    const int error = errno;
    if (m_owned) close(m_folder);
    m_owned = next >= 0;
    m_folder = next >= 0 ? next : AT_FDCWD;
    if (next < 0) {
      m_error = error;
      return;
    }
    step.clear();
  }
}

AtPath::~AtPath() {
  if (m_owned) close(m_folder);
}

int AtPath::Open(const std::string& path, int flags, int mode) {
  const AtPath at(path);
  if (!at.Ok()) {
    errno = at.Error();
    return -1;
  }
  return openat(at.Folder(), at.Name(), flags | O_CLOEXEC, mode);
}

}  // namespace wavrel
