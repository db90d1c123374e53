// Files and folders for the conversion engine: folder listing, existence and
// directory tests, deletion, the WAV writer's temporary file and its way into
// place, and the private work folder of a run. Paths are narrow UTF-8
// strings of any length: a path longer than PATH_MAX is walked folder by
// folder (base/long_path.h), so a recording deep in a tree is reached like
// any other.
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
/// True when path itself is a symbolic link.
bool IsLink(const std::string& path);
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

/// Makes folder and the folders above it that are missing (mode 0777 less
/// the umask). True when folder is a folder at the end; else *error (may be
/// null) says why.
bool MakeFolders(const std::string& folder, std::string* error);

/// A lock (flock, exclusive) that this process holds on one file or folder
/// until Release or destruction. Another process sees it as long as it lasts:
/// the leftover clean-ups (platform/leftovers.h) remove only what no
/// one holds locked. A process that ends, however it ends, lets go of its
/// locks. Move-only.
class FileLock {
 public:
  FileLock() = default;
  ~FileLock() { Release(); }
  FileLock(FileLock&& other) noexcept : m_fd(other.m_fd) { other.m_fd = -1; }
  FileLock& operator=(FileLock&& other) noexcept;
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  bool Held() const { return m_fd >= 0; }
  void Release();

  /// Takes over fd, a descriptor on which this process holds a flock. For
  /// the platform's own files.
  void Adopt(int fd);

 private:
  int m_fd = -1;
};

/// Creates a new, empty file in finalPath's folder under a hidden name of its
/// own (".NAME.XXXXXX": NAME is finalPath's last component, cut at 200 bytes
/// with its extension kept; XXXXXX six letters or digits), exclusively and
/// never through a link; its path in *tempPath. The file is locked while the
/// stream is open. Null when that fails.
std::FILE* CreateTemporaryBeside(const std::string& finalPath, std::string* tempPath);
/// CreateTemporaryBeside, with a lock on the new file in *lock that outlives
/// the stream: keep it until the file has been renamed into place (and its
/// folder synced) or removed, so that no other run's clean-up ever takes the
/// file for a dead run's, even between the close and the rename.
std::FILE* CreateLockedTemporaryBeside(const std::string& finalPath, std::string* tempPath,
                                       FileLock* lock);
/// True when a finished file may be renamed onto path: nothing is there, or
/// a regular file, or a link (the rename replaces the link, not its target).
bool CanReplaceByRename(const std::string& path);
/// Sets the modification (and access) time of an open file.
bool SetModificationTime(std::FILE* file, long long seconds, long nanoseconds);
/// Renames from onto to in one step (to is replaced when it exists).
bool RenameOnto(const std::string& from, const std::string& to);

/// How a guarded rename ended.
enum class RenameResult {
  kRenamed,      ///< from is now at to
  kTargetTaken,  ///< something the caller did not plan to replace is at to; from
                 ///< stays where it was, to is untouched: take the next free name
  kFailed,       ///< the rename failed for another reason (*error says which);
                 ///< from stays where it was
};

/// Renames from to to only when nothing is at to: renameat2 with
/// RENAME_NOREPLACE; where the file system lacks it (EINVAL, ENOSYS: FUSE,
/// older network file systems), link then unlink; where it lacks links too
/// (FAT, exFAT), to is first claimed by creating it exclusively and then
/// replaced by the rename. The last way leaves a window of the two calls in
/// which another program that renames onto to without an exclusive create
/// is overwritten, and a crash inside it leaves an empty file at to.
RenameResult RenameNoReplace(const std::string& from, const std::string& to, std::string* error);

/// Renames from onto to, replacing what is at to only while it is the file
/// expected (device and inode, links not followed): the file the caller saw
/// there when it planned its names. Nothing at to: RenameNoReplace. Anything
/// else at to: kTargetTaken, and it stays as it was.
///
/// Where the file system can exchange two names (renameat2 RENAME_EXCHANGE:
/// ext4, tmpfs, btrfs, xfs, vfat since Linux 6.0) nothing but the expected
/// file is ever replaced: the names are swapped, what came out is checked
/// and unlinked when it is the expected file, swapped back when it is not.
/// Elsewhere the check and the rename are two calls, and a file put at to
/// between them (a window of microseconds) is replaced.
RenameResult RenameReplacingSame(const std::string& from, const std::string& to,
                                 const FileStamp& expected, std::string* error);

/// Flushes the stream and makes its data and metadata durable (fsync), so
/// that a rename that follows never leaves a name for a file whose bytes a
/// power cut may have lost. False, *error (may be null) set, when the stream
/// or the disk reports a failure: the file's contents are then not to be
/// trusted.
bool SyncFile(std::FILE* file, std::string* error);
/// Makes folder's entries durable (fsync of the folder), so that a rename
/// into it survives a power cut. One call covers every rename made into the
/// folder before it. A file system that cannot sync folders (EINVAL) counts
/// as synced.
bool SyncFolder(const std::string& folder, std::string* error);
/// Puts everything written to the file system that holds folder on the
/// disk (syncfs): one flush for many files, where a sync of each would pay
/// the disk's flush once per file.
bool SyncFileSystemOf(const std::string& folder, std::string* error);

/// Finds out whether folder's file system takes names that differ only in
/// case as one name (FAT, exFAT, CIFS, casefolded ext4), in *ignoresCase: a
/// hidden probe file is made there, looked up under its upper-case name and
/// removed again; nothing stays behind. Each folder may differ (ext4
/// casefolds per folder); the answer holds for ASCII letters. False, with
/// *error (may be null), when no probe can be made (treat the folder as
/// ignoring case to be safe).
bool FolderIgnoresCase(const std::string& folder, bool* ignoresCase, std::string* error);

/// True when folder's file system has no room left: less than neededBytes
/// available to this process (statvfs), no free file slots, or a small
/// write there fails with ENOSPC or EDQUOT (quotas that statvfs does not
/// show). *reason (may be null) then says which ("No space left on device",
/// "Disk quota exceeded"). False when there is room or the folder cannot be
/// looked at. For telling why a program that wrote there failed.
bool IsOutOfSpace(const std::string& folder, unsigned long long neededBytes, std::string* reason);

/// True when the file is gone: nothing at path (or a folder on its way is
/// missing), or, with seen, something other than that file (device and
/// inode, links followed) is there now. For telling why a step that read
/// path failed.
bool HasVanished(const std::string& path, const FileStamp* seen);

/// Makes a new folder only this user can enter, under $TMPDIR (or /tmp when
/// that is unset or empty). Its path without a trailing '/', or empty with
/// *error (may be null) set. The folder is locked (as PrivateWorkFolder's,
/// platform/leftovers.h) until RemoveFolderTree removes it or the
/// process ends, so that RemoveStaleWorkFolders never takes it for a dead
/// run's.
std::string MakePrivateWorkFolder(std::string* error);
/// Deletes folder and everything in it, never following a link; missing
/// entries are ignored. Drops MakePrivateWorkFolder's lock when folder is one.
void RemoveFolderTree(const std::string& folder);

}  // namespace wavrel
