// BatchConversion: the conversion core. It knows no window, no text and no
// message box: a front end (the dialog, the console) hands it byte paths,
// and it plans (the checks, the scan, the sorted list of recordings), runs
// (each recording through a FileConversion, one at a time or several jobs
// at once) and stops (one stop token, honoured at every blocking point),
// telling the front end through an IBatchObserver.
//
// Threads: Prepare and Run belong to one thread at a time; Step may be read
// from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stop_token>
#include <string>
#include <vector>

#include "core/batch_observer.h"
#include "core/conversion_environment.h"
#include "core/file_conversion.h"

namespace wavrel {

/// How a run goes through its list (the console's options; the dialog
/// keeps the defaults).
struct RunOptions {
  unsigned jobs = 1;           ///< recordings converted at a time
  std::size_t shardIndex = 0;  ///< convert positions shardIndex, +shardCount, ...
  std::size_t shardCount = 1;  ///< of the sorted list of the whole run
  bool recursive = false;      ///< enter subfolders, mirror them in the output
  bool skipExisting = false;   ///< a complete WAV already there is not made again
  /// A WAV at a name this run plans to write is the run's own output (an
  /// earlier run's), not a file it goes on without (the console; the dialog
  /// asks, as it always has, when the output folder is the input folder).
  bool plannedWavsAreOutput = false;
  /// Finished WAVs put in place after one sync of their disk: a WAV is on
  /// the disk before it is told made either way, but one sync for several
  /// costs the disk's flush once instead of once a file. A WAV waits at
  /// most a second for the others.
  std::size_t wavsPerSync = 1;
};

/// What a front end asks to convert. Paths are bytes.
struct BatchRequest {
  std::string inputFolder;
  /// When given, the one recording of inputFolder to convert (the scan
  /// looks at it alone).
  std::string inputFile;
  std::string outputFolder;      ///< must exist (a front end makes it when it may)
  std::string converterPath;     ///< vocrate
  std::string decoderPath;       ///< evrc_2004
  std::string qcelpDecoderPath;  ///< qcelp_13k
  std::int32_t sampleRateSetting = -1;
  RunOptions options;
};

/// Why Prepare converts nothing.
struct Refusal {
  enum class Kind {
    kProgramMissing,         ///< the converter or the decoder is not there
    kUnsupportedSampleRate,  ///< reason: the setting, a rate no WAV is written at
    kFolderCannotBeOpened,   ///< folder: the input or the output folder
    kOutputNotWritable,      ///< folder: the output folder; reason: the system's
    kNoFiles,                ///< the input folder holds no file
    kNoRecordings,           ///< none of its files is a recording
    kDeclined,               ///< the observer chose not to go on without the others
  };
  Kind kind = Kind::kNoFiles;
  std::string folder;
  std::string reason;
};

/// A prepared run: what was asked, the recordings found in byte order
/// (unsigned, "B.qcp" before "a.qcp") and the files it goes on without.
struct BatchPlan {
  BatchRequest request;
  std::vector<std::string> recordings;
  std::vector<SkippedFile> skipped;
};

/// What the scan of a folder found (its entries judged by content).
struct ScanResult {
  std::vector<std::string> recordings;  ///< full paths, in byte order
  std::vector<SkippedFile> skipped;     ///< the other regular files, in byte order
};

/// The recordings of folder by their first bytes, whatever their names
/// (subfolders only when recursive, never through a link).
ScanResult ScanFolder(IConversionFiles& files, const std::string& folder, bool recursive);
/// True when path is a QCP recording by its first bytes (RIFF "QLCM" with
/// room for the codec GUID), whatever its codec: one the run cannot decode
/// fails with its reason, it is not skipped.
bool IsRecording(IConversionFiles& files, const std::string& path);
/// Sorts paths by their bytes taken as unsigned values.
void SortByBytes(std::vector<std::string>* paths);
/// path relative to folder (what lines and reports name a file by), or its
/// last component when it is not below folder.
std::string RelativeName(const std::string& folder, const std::string& path);

class BatchConversion {
 public:
  explicit BatchConversion(IConversionEnvironment& environment);
  BatchConversion(const BatchConversion&) = delete;
  BatchConversion& operator=(const BatchConversion&) = delete;

  /// The checks before converting, in this order: both programs, both
  /// folders, the output folder takes new files, the scan; when some files
  /// are not recordings, the observer is asked whether to go on. True with
  /// the plan, or false with *refusal. Nothing is written.
  bool Prepare(const BatchRequest& request, IBatchObserver& observer, BatchPlan* plan,
               Refusal* refusal);

  /// Converts the plan's recordings (this shard's, without complete WAVs
  /// when asked), after removing what dead runs left (work folders and
  /// temporary WAVs in the output folders). Returns when every file is done,
  /// or once stop was requested and everything has stopped: no program of
  /// the run still runs, the file in work has left no intermediate and no
  /// partial WAV, and the run's work folder is gone. A WAV told as made is
  /// on the disk, its folder's entry too.
  RunSummary Run(const BatchPlan& plan, IBatchObserver& observer, std::stop_token stop);

  /// The step of the file in work when one job converts at a time.
  std::int32_t Step() const { return m_conversion.Step(); }
  void ResetStep() { m_conversion.ResetStep(); }
  /// The writer of the one-at-a-time conversion (a test slows its copy).
  PcmWavWriter& WavWriterForTesting() { return m_conversion.WavWriter(); }

 private:
  IConversionEnvironment& m_env;
  FileConversion m_conversion;  // the file in work when converting one at a time
};

}  // namespace wavrel
