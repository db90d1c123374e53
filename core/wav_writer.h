// Step 3 of the pipeline: wraps the decoder's headerless PCM file into a WAV
// file: a 44-byte RIFF/WAVE header declaring 16-bit mono PCM, the samples
// (the PCM bytes unchanged at 8000 Hz, resampled to the rate the settings
// ask for otherwise), and the recording's tags in a LIST/INFO chunk after
// them. Each FileConversion owns one writer; its front end tells the user
// when the WAV file cannot be created.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>

#include "core/conversion_files.h"
#include "core/wav_tags.h"

namespace wavrel {

class Resampler;

inline constexpr std::size_t kWavHeaderSize = 44;
/// Rate declared when the setting gives none (0 or below).
inline constexpr std::uint32_t kDefaultWavSampleRate = 8000;
/// The largest RIFF chunk the header's 32-bit size field holds (RIFF size is
/// 36 + the data chunk's size + what follows it).
inline constexpr std::uint64_t kMaxWavRiffSize = 0xFFFFFFFFull;
/// The longest data chunk the header holds (with no tags after it).
inline constexpr std::uint64_t kMaxWavPcmLength = kMaxWavRiffSize - 36;
/// Bytes copied per block.
inline constexpr std::size_t kWavCopyBlockSize = 64 * 1024;

/// The 44-byte header for pcmLength bytes of 16-bit mono samples at
/// sampleRateSetting samples per second, or kDefaultWavSampleRate when the
/// setting is 0 or below; trailerBytes follow the data chunk (the tags).
std::array<std::uint8_t, kWavHeaderSize> BuildWavHeader(std::uint32_t pcmLength,
                                                        std::int32_t sampleRateSetting,
                                                        std::uint32_t trailerBytes = 0);

enum class WavWriteResult {
  kWritten,       ///< the WAV file is complete
  kNoPcm,         ///< the PCM file cannot be opened: no WAV file was made
  kPcmTooLong,    ///< the PCM does not fit a WAV header: no WAV file was made
  kCannotCreate,  ///< the WAV file cannot be created (or put in place)
  kCopyFailed,    ///< a read or write failed: no WAV file was made
  kBadRate,       ///< the setting is no rate a WAV is written at: no WAV file was made
  kNoSpace,       ///< the output folder's file system is full: no WAV file was made
  kStopped,       ///< a stop was requested: no WAV file was made
};

/// Short English text of a result, for reports.
const char* DescribeWavWriteResult(WavWriteResult result);

/// Where a WAV goes: the name planned for it, what was at that name when the
/// run planned it (replaced only while it is still that file: an earlier
/// run's WAV), and other names to take when something else has come there
/// since (another run's WAV) -- the next free ones of the "NAME (2).wav" rule.
struct WavTarget {
  std::string path;
  std::optional<FileStamp> replaces;      ///< none: nothing was there
  std::function<std::string()> nextName;  ///< empty, or giving "": no other name
};

/// A whole WAV under its temporary name, waiting for its rename into place
/// (a run puts several in place at once, after one sync of their disk).
struct PendingWav {
  std::string tempPath;  ///< empty once put in place or removed
  FileLock lock;         ///< held on it all the while
};

/// Puts pending in place at target, by target's rules (what was planned to
/// be replaced, or the next free names), or removes it when that fails
/// (kCannotCreate); the name it took in *writtenPath. Its data must be on
/// the disk before (the caller syncs it), and the folder's entry is the
/// caller's to sync after.
WavWriteResult CommitWav(IConversionFiles& files, PendingWav* pending, const WavTarget& target,
                         std::string* writtenPath);
/// Removes a pending WAV that will not be put in place.
void DiscardWav(IConversionFiles& files, PendingWav* pending);

class PcmWavWriter {
 public:
  /// Works through files (the environment's file operations).
  explicit PcmWavWriter(IConversionFiles& files) : m_files(files) {}
  PcmWavWriter(const PcmWavWriter&) = delete;
  PcmWavWriter& operator=(const PcmWavWriter&) = delete;
  ~PcmWavWriter();

  /// Writes the WAV for pcmPath (8000 Hz samples; resampled when the setting
  /// asks for another rate) under a temporary name in wavPath's folder and
  /// renames it onto wavPath only when complete, so that wavPath is either
  /// the whole new WAV or left as it was (a link there is replaced, never
  /// written through). The WAV takes recording's modification time and
  /// carries tags when they are given. Checks token before every block and
  /// returns kStopped promptly when a stop is asked. Both files are closed,
  /// and the temporary file is gone unless it became wavPath, when it returns.
  /// Its data is on the disk before the rename (a power cut after it
  /// leaves the whole WAV or none; the caller syncs the folder before it
  /// tells the user), and the name it took is in *writtenPath.
  WavWriteResult WritePcmAsWav(const std::string& pcmPath, const WavTarget& target,
                               std::int32_t sampleRateSetting, std::stop_token token,
                               const FileStamp* recording, const WavTags* tags,
                               std::string* writtenPath);
  /// Writes the WAV under its temporary name in wavPath's folder and leaves
  /// it there for CommitWav, closed, its data synced when syncData; kWritten
  /// with *pending, otherwise nothing is left.
  WavWriteResult WriteTemporaryWav(const std::string& pcmPath, const std::string& wavPath,
                                   std::int32_t sampleRateSetting, std::stop_token token,
                                   const FileStamp* recording, const WavTags* tags, bool syncData,
                                   PendingWav* pending);
  /// The same for a WAV that replaces what is at wavPath when it starts.
  WavWriteResult WritePcmAsWav(const std::string& pcmPath, const std::string& wavPath,
                               std::int32_t sampleRateSetting, std::stop_token token,
                               const FileStamp* recording = nullptr, const WavTags* tags = nullptr);

  /// While no WritePcmAsWav runs: whether it left a file open (never).
  bool IsPcmOpen() const { return m_pcmFile != nullptr; }
  bool IsWavOpen() const { return m_wavFile != nullptr; }
  /// True when the last WritePcmAsWav got as far as creating its temporary file.
  bool CreatedWav() const { return m_createdWav; }

  /// Test hook: called on the writing thread after each block with the bytes
  /// copied so far.
  void SetBlockHook(std::function<void(std::uint64_t copied)> hook) {
    m_blockHook = std::move(hook);
  }

 private:
  /// Closes both files, each only when open; an unfinished temporary file goes.
  void CloseFiles();
  /// Copies pcmLength bytes of m_pcmFile into m_wavFile, through the
  /// resampler unless it passes the samples through.
  WavWriteResult CopySamples(std::uint64_t pcmLength, std::uint64_t dataBytes, Resampler& resampler,
                             std::stop_token token);

  IConversionFiles& m_files;
  std::FILE* m_pcmFile = nullptr;
  std::FILE* m_wavFile = nullptr;
  std::string m_tempPath;  // the unfinished WAV, while m_wavFile is open
  FileLock m_tempLock;     // held on it until it is renamed into place or gone
  bool m_createdWav = false;
  std::function<void(std::uint64_t)> m_blockHook;
};

}  // namespace wavrel
