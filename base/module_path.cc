#include "base/module_path.h"

#include <unistd.h>

#include <vector>

#include "base/unicode.h"

namespace wavrel {

std::optional<std::string> ExecutablePath() {
  // readlink does not say how long the link is: grow the buffer until the
  // answer fits with room to spare, which proves it was not cut.
  std::vector<char> buffer(256);
  for (;;) {
    const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length <= 0) return std::nullopt;
    if (static_cast<std::size_t>(length) < buffer.size()) {
      return std::string(buffer.data(), static_cast<std::size_t>(length));
    }
    if (buffer.size() >= (std::size_t{1} << 20)) return std::nullopt;
    buffer.resize(buffer.size() * 2);
  }
}

std::optional<std::u16string> ExecutablePathUtf16() {
  const std::optional<std::string> path = ExecutablePath();
  if (!path) return std::nullopt;
  return base::Utf8ToUtf16(*path, base::Utf8Policy::kStrict);
}

std::u16string DirectoryOf(std::u16string_view path) {
  const std::size_t slash = path.rfind(u'/');
  if (slash == std::u16string_view::npos) return {};
  return std::u16string(path.substr(0, slash + 1));
}

}  // namespace wavrel
