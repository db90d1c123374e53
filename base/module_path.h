// Where the running program lives: the path of the process's executable (not
// of a library loaded into it), as the system reports it in /proc/self/exe.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace wavrel {

/// Full path of the process's executable, or nothing when the system cannot
/// tell. The bytes are the file system's; they are taken as UTF-8.
std::optional<std::string> ExecutablePath();

/// ExecutablePath() as UTF-16; nothing when it cannot be read or is no valid
/// UTF-8.
std::optional<std::u16string> ExecutablePathUtf16();

/// The part of path up to and including its last '/', or empty when path
/// holds none ("/opt/host/wavrel" gives "/opt/host/", "/wavrel" gives "/").
std::u16string DirectoryOf(std::u16string_view path);

}  // namespace wavrel
