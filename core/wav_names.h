// The names of a run's WAV files, fixed from the whole sorted list before any
// file starts, so that every front end and every number of parallel jobs (or
// shards) gives each recording the same WAV.
#pragma once

#include <string>
#include <vector>

#include "core/conversion_files.h"

namespace wavrel {

/// For each recording (sorted; UTF-8 paths), its WAV in outputFolders[i]
/// (ending in '/'): the recording's name without its last extension plus
/// ".wav"; a name an earlier recording of the run took becomes "NAME (2).wav"
/// (then 3, ...), and so does a path that is one of the run's own inputs
/// (inputStamps, by device and inode: a hard link counts).
std::vector<std::string> PlanWavPaths(IConversionFiles& files,
                                      const std::vector<std::string>& recordings,
                                      const std::vector<std::string>& outputFolders,
                                      const std::vector<FileStamp>& inputStamps);

/// True when path is a complete WAV of this system's making: a regular file
/// with a valid 44-byte PCM header whose sizes match the file's.
bool IsCompleteWav(IConversionFiles& files, const std::string& path);

}  // namespace wavrel
