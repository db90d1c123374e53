// The converter's one use of POSIX, kept to this file: opening a source that
// must be a regular file, telling whether two names are one file, the user
// locale's character set, and making sure the standard streams are open.
// Everything else of the converter is the standard library.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace vocrate {

/// Which file a name stood for when it was opened (device and inode).
struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
};

/// Opens path for binary reading when it is a regular file, and fills *id;
/// null for anything else (a folder, a device, a FIFO) or when it cannot be
/// opened. A FIFO is never opened, so this never waits for a writer. A path longer than PATH_MAX is
/// walked folder by folder.
std::FILE* OpenRegularFile(const char* path, FileIdentity* id);

/// True when path (of any length) names the file id stands for.
bool IsSameFile(const char* path, const FileIdentity& id);

/// The character set of the user's locale (LANG, LC_ALL, ...), e.g. "UTF-8";
/// the program's own locale stays "C".
std::string UserLocaleCodeset();

/// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed, so that
/// no file the program opens takes one of them; false when that fails.
bool OpenClosedStandardStreams();

}  // namespace vocrate
