// What runs that died (kill -9, the OOM killer, a power cut) leave behind,
// and how a later run removes it without ever touching a live run's files.
// A run holds a lock (flock) on its private work folder and on each
// temporary WAV for as long as they exist; the kernel drops a lock when its
// process ends, however it ends. So what matches the system's own names, is
// this user's, is not brand new and whose lock can be taken belongs to a run
// that is provably gone. Locks are local on ext4, tmpfs and FAT; on a network
// file system they are only as good as its lock service.
#pragma once

#include <string>
#include <vector>

namespace wavrel {

/// Leftovers younger than this are kept whatever their lock says: a margin
/// for clocks and for runs of versions that took no locks.
constexpr int kLeftoverMinAgeSeconds = 30;

/// A run's private work folder under $TMPDIR (or /tmp): "wavrel-XXXXXX",
/// mode 0700, locked from the instant it is made until it is removed (a
/// clean-up that takes a brand-new folder's lock first makes Make pick
/// another name). The owner is the run: destroying the object removes the
/// folder with everything in it.
class PrivateWorkFolder {
 public:
  PrivateWorkFolder() = default;
  ~PrivateWorkFolder() { Remove(); }
  PrivateWorkFolder(const PrivateWorkFolder&) = delete;
  PrivateWorkFolder& operator=(const PrivateWorkFolder&) = delete;

  /// Makes the folder (any earlier one of this object is removed first).
  /// False, with *error (may be null), when it cannot be made.
  bool Make(std::string* error);
  /// The folder's path without a trailing '/'; empty before Make and after Remove.
  const std::string& Path() const { return m_path; }
  /// Removes the folder and all in it, then drops the lock.
  void Remove();

  /// For MakePrivateWorkFolder: the lock's descriptor, handed over with the
  /// folder (the object forgets both).
  int ReleaseLock(std::string* path);

 private:
  std::string m_path;
  int m_lockFd = -1;
};

/// True when name has the form of the WAV writer's temporary files:
/// "." + NAME + ".wav." + six letters or digits, NAME not empty.
bool IsTemporaryWavName(const std::string& name);

/// Removes under $TMPDIR (or /tmp) the work folders of this user's dead
/// runs: "wavrel-" + six letters or digits, a real folder of mode 0700 owned
/// by this user, unchanged for at least minAgeSeconds (its ctime), whose lock
/// can be taken. The number removed; their paths appended to *removed (may
/// be null).
int RemoveStaleWorkFolders(int minAgeSeconds, std::vector<std::string>* removed);

/// Removes in folder (not below it) the WAV writer's temporary files of dead
/// runs: names of IsTemporaryWavName's form, regular files of this user,
/// unchanged for at least minAgeSeconds (ctime), whose lock can be taken, and
/// which are empty or begin as the writer's WAV files do ("RIFF", "WAVEfmt ").
/// The number removed; their paths appended to *removed (may be null).
/// Limit: a user's own hidden file of that very form and content that no
/// one holds locked would go too.
int RemoveStaleTemporaries(const std::string& folder, int minAgeSeconds,
                           std::vector<std::string>* removed);

}  // namespace wavrel
