// Paths of any length for the *at calls (openat, fstatat, unlinkat, ...).
// The kernel refuses a path of PATH_MAX (4096) bytes or more, yet a tree may
// hold files far deeper than that. AtPath turns such a path into an open
// folder and a name inside it: the folders are opened a few components at a
// time, each step well below the limit. Shorter paths are used as they are,
// at no cost. Resolution matches the kernel's own: links in the folder part
// are followed, ".." is taken in the folder reached.
#pragma once

#include <string>

namespace wavrel {

class AtPath {
 public:
  /// Resolves path's folder part. Never fails for a path shorter than
  /// PATH_MAX (Folder() is then AT_FDCWD and Name() the path itself); a
  /// longer one fails when a folder on the way cannot be opened (see Error).
  explicit AtPath(const std::string& path);
  ~AtPath();
  AtPath(const AtPath&) = delete;
  AtPath& operator=(const AtPath&) = delete;

  /// True when Folder() and Name() may be used.
  bool Ok() const { return m_error == 0; }
  /// The errno value of the failed step (ENOENT, ENOTDIR, EACCES, ...), 0 when Ok.
  int Error() const { return m_error; }
  /// A folder descriptor for the *at calls, or AT_FDCWD. Owned by this object.
  int Folder() const { return m_folder; }
  /// The name relative to Folder(): one component (a trailing '/' kept, so
  /// that it must name a folder), or the whole path when it is short.
  const char* Name() const { return m_name.c_str(); }

  /// Opens path with open(2)'s flags and mode, whatever its length; -1 with
  /// errno set on failure. O_CLOEXEC is always added.
  static int Open(const std::string& path, int flags, int mode = 0);

 private:
  int m_folder;
  int m_error = 0;
  bool m_owned = false;
  std::string m_name;
};

}  // namespace wavrel
