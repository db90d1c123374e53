// The file operations the conversion core needs, handed in through its
// environment (IConversionEnvironment::Files): what a path is, folder
// listings, bounded reads, removals, and the WAV writer's hidden temporary
// file, its time stamp and its rename into place. Paths are bytes (the names
// as the file system gives them, UTF-8 where they are text). Open files are
// standard C streams: the core reads, writes and closes them itself.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#include "base/file_stamp.h"
#include "platform/file_system.h"  // FileLock, RenameResult

namespace wavrel {

class IConversionFiles {
 public:
  virtual ~IConversionFiles() = default;

  /// True when path names an entry of any kind (a dangling link counts too).
  virtual bool PathExists(const std::string& path) = 0;
  /// True when path names a folder (links followed).
  virtual bool IsDirectory(const std::string& path) = 0;
  /// True when path itself is a symbolic link.
  virtual bool IsLink(const std::string& path) = 0;
  /// True when path is a folder that can be opened for listing.
  virtual bool CanOpenDirectory(const std::string& path) = 0;
  /// True when a new file can be made in folder (one is made and removed
  /// again); on false, *error (may be null) says why.
  virtual bool CanCreateFileIn(const std::string& folder, std::string* error) = 0;
  /// Names of folder's entries, "." and ".." left out; false when the
  /// listing cannot be started.
  virtual bool ListDirectory(const std::string& folder, std::vector<std::string>* names) = 0;
  /// Up to maxBytes from the start of a regular file; false for anything
  /// else, never blocking on a pipe.
  virtual bool ReadFileStart(const std::string& path, std::size_t maxBytes,
                             std::vector<unsigned char>* bytes) = 0;
  /// Up to maxBytes of a regular file from offset on; false for anything else.
  virtual bool ReadFileAt(const std::string& path, unsigned long long offset, std::size_t maxBytes,
                          std::vector<unsigned char>* bytes) = 0;
  /// Size of a regular file in bytes; false when it cannot be had.
  virtual bool FileSize(const std::string& path, unsigned long long* size) = 0;
  /// The stamp of the entry path names; links followed only when
  /// followLinks is true. False when there is no such entry.
  virtual bool StampOf(const std::string& path, bool followLinks, FileStamp* stamp) = 0;

  /// A regular file opened for binary reading, its size in *size (may be
  /// null); null for anything else.
  virtual std::FILE* OpenRegularFileForReading(const std::string& path,
                                               unsigned long long* size) = 0;
  /// A new, empty file under a hidden name of its own in finalPath's folder
  /// (exclusively, never through a link), its path in *tempPath, locked in
  /// *lock until the lock is released (so that no run's clean-up takes it
  /// for a dead run's); null when that fails.
  virtual std::FILE* CreateTemporaryBeside(const std::string& finalPath, std::string* tempPath,
                                           FileLock* lock) = 0;
  /// True when a finished file may be renamed onto path (nothing there, a
  /// regular file or a link).
  virtual bool CanReplaceByRename(const std::string& path) = 0;
  /// Sets the modification (and access) time of an open file.
  virtual bool SetModificationTime(std::FILE* file, long long seconds, long nanoseconds) = 0;
  /// Puts an open file's data on the disk (before it is renamed into place).
  virtual bool SyncFile(std::FILE* file, std::string* error) = 0;
  /// Puts a folder's entries on the disk (after renames into it).
  virtual bool SyncFolder(const std::string& folder, std::string* error) = 0;
  /// Puts everything written to folder's file system on the disk: one
  /// flush for the data of many files.
  virtual bool SyncFileSystemOf(const std::string& folder, std::string* error) = 0;
  /// Renames from to to only when nothing is at to (kTargetTaken otherwise,
  /// both left as they are).
  virtual RenameResult RenameNoReplace(const std::string& from, const std::string& to,
                                       std::string* error) = 0;
  /// Renames from onto to, replacing what is there only while it is the
  /// file expected (device and inode); anything else there is kept
  /// (kTargetTaken).
  virtual RenameResult RenameReplacingSame(const std::string& from, const std::string& to,
                                           const FileStamp& expected, std::string* error) = 0;
  /// Deletes a file; false when it could not be deleted.
  virtual bool RemoveFile(const std::string& path) = 0;
  /// Whether names in folder that differ only in case name one file (FAT,
  /// exFAT, CIFS, casefolded ext4); false with *error when it cannot be
  /// told.
  virtual bool FolderIgnoresCase(const std::string& folder, bool* ignoresCase,
                                 std::string* error) = 0;
  /// True, with the system's reason, when folder has no room left for
  /// neededBytes more (no space, no inodes, a quota).
  virtual bool IsOutOfSpace(const std::string& folder, unsigned long long neededBytes,
                            std::string* reason) = 0;
  /// True when nothing is at path any more, or another file than seen.
  virtual bool HasVanished(const std::string& path, const FileStamp* seen) = 0;
  /// Removes in folder the temporary WAV files of runs that are provably
  /// gone (killed, or cut off by a power cut), never a live run's.
  virtual void RemoveDeadRunsTemporaries(const std::string& folder) = 0;
};

/// The file operations over platform/, for the environments to hand out
/// (the production one, and the test fakes that work on real files, which
/// may derive to make one fail).
class PlatformFileOperations : public IConversionFiles {
 public:
  bool PathExists(const std::string& path) override;
  bool IsDirectory(const std::string& path) override;
  bool IsLink(const std::string& path) override;
  bool CanOpenDirectory(const std::string& path) override;
  bool CanCreateFileIn(const std::string& folder, std::string* error) override;
  bool ListDirectory(const std::string& folder, std::vector<std::string>* names) override;
  bool ReadFileStart(const std::string& path, std::size_t maxBytes,
                     std::vector<unsigned char>* bytes) override;
  bool ReadFileAt(const std::string& path, unsigned long long offset, std::size_t maxBytes,
                  std::vector<unsigned char>* bytes) override;
  bool FileSize(const std::string& path, unsigned long long* size) override;
  bool StampOf(const std::string& path, bool followLinks, FileStamp* stamp) override;
  std::FILE* OpenRegularFileForReading(const std::string& path, unsigned long long* size) override;
  std::FILE* CreateTemporaryBeside(const std::string& finalPath, std::string* tempPath,
                                   FileLock* lock) override;
  bool CanReplaceByRename(const std::string& path) override;
  bool SetModificationTime(std::FILE* file, long long seconds, long nanoseconds) override;
  bool SyncFile(std::FILE* file, std::string* error) override;
  bool SyncFolder(const std::string& folder, std::string* error) override;
  bool SyncFileSystemOf(const std::string& folder, std::string* error) override;
  RenameResult RenameNoReplace(const std::string& from, const std::string& to,
                               std::string* error) override;
  RenameResult RenameReplacingSame(const std::string& from, const std::string& to,
                                   const FileStamp& expected, std::string* error) override;
  bool RemoveFile(const std::string& path) override;
  bool FolderIgnoresCase(const std::string& folder, bool* ignoresCase, std::string* error) override;
  bool IsOutOfSpace(const std::string& folder, unsigned long long neededBytes,
                    std::string* reason) override;
  bool HasVanished(const std::string& path, const FileStamp* seen) override;
  void RemoveDeadRunsTemporaries(const std::string& folder) override;
};

/// The one process-wide PlatformFileOperations.
IConversionFiles& PlatformFiles();

}  // namespace wavrel
