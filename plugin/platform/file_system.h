// Files and folders for the conversion engine: folder listing, existence and
// directory tests, deletion, and the private work folder of a run. Paths are
// narrow UTF-8 strings.
#pragma once

#include <string>
#include <vector>

namespace wavrel {

/// True when path names an entry of any kind (a dangling link counts too).
bool PathExists(const std::string& path);
/// True when path names a directory (links followed).
bool IsDirectory(const std::string& path);
/// True when path is a directory that can be opened for listing.
bool CanOpenDirectory(const std::string& path);
/// Names of folder's entries in the order the system lists them, "." and ".."
/// left out. False (names empty) when the listing cannot be started.
bool ListDirectory(const std::string& folder, std::vector<std::string>* names);
/// Deletes a file; false when it could not be deleted (a missing file too).
bool RemoveFile(const std::string& path);
/// Size of a regular file in bytes; false when it cannot be had.
bool FileSize(const std::string& path, unsigned long long* size);

/// Makes a new folder only this user can enter, under $TMPDIR (or /tmp when
/// that is unset or empty). Its path without a trailing '/', or empty with
/// *error (may be null) set.
std::string MakePrivateWorkFolder(std::string* error);
/// Deletes folder and everything in it; missing entries are ignored.
void RemoveFolderTree(const std::string& folder);

}  // namespace wavrel
