// The names of a run's WAV files, fixed from the whole sorted list before any
// file starts, so that every front end and every number of parallel jobs (or
// shards) gives each recording the same WAV.
#pragma once

#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "core/conversion_files.h"

namespace wavrel {

/// The WAV names of a run. For each recording (sorted; byte paths), its WAV
/// in outputFolders[i] (ending in '/'): the recording's name without its last
/// extension plus ".wav"; a name an earlier recording of the run took
/// becomes "NAME (2).wav" (then 3, ...), and so does a path that is one of
/// the run's own inputs (inputStamps, by device and inode: a hard link
/// counts). In a folder whose file system takes names that differ only in
/// case for one name (asked once per folder), names are compared folded.
class WavNamePlan {
 public:
  WavNamePlan(IConversionFiles& files, const std::vector<std::string>& recordings,
              const std::vector<std::string>& outputFolders,
              const std::vector<FileStamp>& inputStamps);

  const std::vector<std::string>& Paths() const { return m_paths; }

  /// Another name for recording i's WAV, when something else has come to
  /// its planned name since: the next of the same rule that no recording of
  /// the run is planned to take and that was not given out before. Any
  /// thread.
  std::string NextFreeName(std::size_t i);

 private:
  /// The name as the folder's file system compares it.
  std::string Key(const std::string& folder, const std::string& name) const;

  std::map<std::string, bool> m_ignoresCase;  // by output folder
  std::vector<std::string> m_paths;
  std::vector<std::string> m_folders;
  std::vector<std::string> m_stems;
  std::mutex m_mutex;             // guards the two below
  std::vector<int> m_lastNumber;  // the n of each recording's last name
  std::set<std::string> m_taken;  // keys of every name planned or given out
};

/// WavNamePlan(...).Paths().
std::vector<std::string> PlanWavPaths(IConversionFiles& files,
                                      const std::vector<std::string>& recordings,
                                      const std::vector<std::string>& outputFolders,
                                      const std::vector<FileStamp>& inputStamps);

/// True when path is a complete WAV of this system's making: a regular file
/// with a valid 44-byte PCM header whose sizes match the file's (the tags'
/// LIST chunk after the samples counted).
bool IsCompleteWav(IConversionFiles& files, const std::string& path);

}  // namespace wavrel
