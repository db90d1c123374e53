// Files and folders for the conversion engine: folder listing, existence and
// directory tests, deletion, and the private work folder of a run. Paths are
// narrow UTF-8 strings.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#include "base/file_stamp.h"

namespace wavrel {

/// True when path names an entry of any kind (a dangling link counts too).
bool PathExists(const std::string& path);
/// True when path names a directory (links followed).
bool IsDirectory(const std::string& path);
/// True when path is a directory that can be opened for listing.
bool CanOpenDirectory(const std::string& path);
/// True when a new file can be made in folder: a hidden file is created
/// there and removed again (permission bits alone do not tell: root passes
/// them, a read-only mount or a full disk does not). On false, *error (may be
/// null) says why.
bool CanCreateFileIn(const std::string& folder, std::string* error);
/// Names of folder's entries in the order the system lists them, "." and ".."
/// left out. False (names empty) when the listing cannot be started.
bool ListDirectory(const std::string& folder, std::vector<std::string>* names);
/// Deletes a file; false when it could not be deleted (a missing file too).
bool RemoveFile(const std::string& path);
/// Reads up to maxBytes from the start of a regular file into *bytes. False
/// for anything else (a folder, a pipe, a device) and for files that cannot
/// be opened; never blocks on a pipe.
bool ReadFileStart(const std::string& path, std::size_t maxBytes,
                   std::vector<unsigned char>* bytes);
/// Size of a regular file in bytes; false when it cannot be had.
bool FileSize(const std::string& path, unsigned long long* size);

/// Opens a regular file for binary reading and gives its size (size may be
/// null); null for
/// anything else (never blocks on a pipe).
std::FILE* OpenRegularFileForReading(const std::string& path, unsigned long long* size);
/// Creates path, or truncates it when it is an existing regular file, for
/// binary writing; null when that fails or path names something else (a
/// pipe, a device, a folder).
std::FILE* CreateFileForWriting(const std::string& path);

/// The stamp of the entry path names; links are followed only when
/// followLinks is true. False when there is no such entry.
bool StampOf(const std::string& path, bool followLinks, FileStamp* stamp);

/// Creates a new, empty file in finalPath's folder under a hidden name of its
/// own (".NAME.XXXXXX", NAME cut to fit), exclusively and never through a
/// link; its path in *tempPath. Null when that fails.
std::FILE* CreateTemporaryBeside(const std::string& finalPath, std::string* tempPath);
/// True when a finished file may be renamed onto path: nothing is there, or
/// a regular file, or a link (the rename replaces the link, not its target).
bool CanReplaceByRename(const std::string& path);
/// Sets the modification (and access) time of an open file.
bool SetModificationTime(std::FILE* file, long long seconds, long nanoseconds);
/// Renames from onto to in one step (to is replaced when it exists).
bool RenameOnto(const std::string& from, const std::string& to);

/// Makes a new folder only this user can enter, under $TMPDIR (or /tmp when
/// that is unset or empty). Its path without a trailing '/', or empty with
/// *error (may be null) set.
std::string MakePrivateWorkFolder(std::string* error);
/// Deletes folder and everything in it; missing entries are ignored.
void RemoveFolderTree(const std::string& folder);

}  // namespace wavrel
