// What file_system.cc and leftovers.cc share inside the platform layer.
// Not for the engine: it speaks in descriptors.
#pragma once

#include <sys/stat.h>

#include <string>

namespace wavrel::detail {

/// path's folder ("." for a bare name, "/" for a name in the root).
std::string FolderOf(const std::string& path);
/// path's last component (after the last '/').
std::string LastComponent(const std::string& path);
/// Opens folder (any length; empty: ".") with flags | O_DIRECTORY; -1 and errno.
int OpenFolder(const std::string& folder, int flags);
/// fstatat of path (any length); false with errno set.
bool StatAt(const std::string& path, bool followLinks, struct stat* info);
bool SameFile(const struct stat& a, const struct stat& b);
/// count characters drawn from alphabet.
std::string RandomLetters(std::size_t count, const char* alphabet);
/// Takes an exclusive flock on fd without waiting and checks that name in
/// folder is still the file fd is open on. The creator of a file to be kept
/// locked calls it at once after the create: a clean-up that got the lock in
/// between has removed or is removing the name, so the creator gives it up.
/// Where the file system has no locks, only the name is checked.
bool LockIfStillNamed(int fd, int folder, const char* name);
/// Removes name in folder and, when it is a folder, all below it; never
/// follows a link; errors ignored. type is the listing's d_type (DT_UNKNOWN
/// when not known).
void RemoveTreeAt(int folder, const char* name, unsigned char type, int depth = 0);

}  // namespace wavrel::detail
