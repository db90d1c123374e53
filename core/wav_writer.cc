#include "core/wav_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <span>
#include <vector>

#include "base/little_endian.h"
#include "core/resampler.h"

namespace wavrel {
std::array<std::uint8_t, kWavHeaderSize> BuildWavHeader(std::uint32_t pcmLength,
                                                        std::int32_t sampleRateSetting,
                                                        std::uint32_t trailerBytes) {
  const std::uint32_t rate =
      sampleRateSetting > 0 ? static_cast<std::uint32_t>(sampleRateSetting) : kDefaultWavSampleRate;
  std::array<std::uint8_t, kWavHeaderSize> header{};
  std::uint8_t* h = header.data();
  std::memcpy(h + 0, "RIFF", 4);
  PutLe32(h + 4, pcmLength + 36 + trailerBytes);
  std::memcpy(h + 8, "WAVE", 4);
  std::memcpy(h + 12, "fmt ", 4);
  PutLe32(h + 16, 16);    // format chunk size
  PutLe16(h + 20, 1);     // integer PCM
  PutLe16(h + 22, 1);     // mono
  PutLe32(h + 24, rate);  // samples per second
  PutLe32(h + 28, rate * 2);
  PutLe16(h + 32, 2);   // block align
  PutLe16(h + 34, 16);  // bits per sample
  std::memcpy(h + 36, "data", 4);
  PutLe32(h + 40, pcmLength);
  return header;
}

const char* DescribeWavWriteResult(WavWriteResult result) {
  // In the order of the enumeration.
  static constexpr const char* kTexts[] = {
      "WAV file written",
      "decoder produced no PCM",
      "PCM too long for a WAV file",
      "cannot create WAV file",
      "copying PCM into the WAV file failed",
      "the sample rate setting is not one a WAV file is written at",
      "no space left in the output folder",
      "stopped",
  };
  const auto index = static_cast<std::size_t>(result);
  return index < std::size(kTexts) ? kTexts[index] : "unknown";
}

PcmWavWriter::~PcmWavWriter() { CloseFiles(); }

WavWriteResult PcmWavWriter::WritePcmAsWav(const std::string& pcmPath, const std::string& wavPath,
                                           std::int32_t sampleRateSetting, std::stop_token token,
                                           const FileStamp* recording, const WavTags* tags) {
  WavTarget target{wavPath, std::nullopt, {}};
  FileStamp there;
  if (m_files.StampOf(wavPath, false, &there)) target.replaces = there;
  std::string written;
  return WritePcmAsWav(pcmPath, target, sampleRateSetting, token, recording, tags, &written);
}

WavWriteResult PcmWavWriter::WritePcmAsWav(const std::string& pcmPath, const WavTarget& target,
                                           std::int32_t sampleRateSetting, std::stop_token token,
                                           const FileStamp* recording, const WavTags* tags,
                                           std::string* writtenPath) {
  writtenPath->clear();
  PendingWav pending;
  WavWriteResult result = WriteTemporaryWav(pcmPath, target.path, sampleRateSetting, token,
                                            recording, tags, /*syncData=*/true, &pending);
  if (result == WavWriteResult::kWritten)
    result = CommitWav(m_files, &pending, target, writtenPath);
  // The folder's new entry goes to the disk too before the WAV is told made.
  if (result == WavWriteResult::kWritten) {
    m_files.SyncFolder(writtenPath->substr(0, writtenPath->rfind('/') + 1), nullptr);
  }
  return result;
}

WavWriteResult PcmWavWriter::WriteTemporaryWav(const std::string& pcmPath,
                                               const std::string& wavPath,
                                               std::int32_t sampleRateSetting,
                                               std::stop_token token, const FileStamp* recording,
                                               const WavTags* tags, bool syncData,
                                               PendingWav* pending) {
  m_createdWav = false;
  const std::uint32_t rate =
      sampleRateSetting > 0 ? static_cast<std::uint32_t>(sampleRateSetting) : kDefaultWavSampleRate;
  Resampler resampler;
  std::string error;
  if (!resampler.Open(rate, &error)) return WavWriteResult::kBadRate;
  unsigned long long pcmLength = 0;
  m_pcmFile = m_files.OpenRegularFileForReading(pcmPath, &pcmLength);
  if (m_pcmFile == nullptr) return WavWriteResult::kNoPcm;
  // At 8000 Hz the bytes go as they are; resampled, whole samples are.
  const std::uint64_t dataBytes =
      resampler.PassesThrough() ? pcmLength : 2 * ResampledLength(pcmLength / 2, rate);
  const std::vector<std::uint8_t> trailer =
      tags != nullptr ? BuildWavTagTrailer(dataBytes, *tags) : std::vector<std::uint8_t>();
  // A length the header cannot hold would be written as a wrapped size.
  if (36 + dataBytes + trailer.size() > kMaxWavRiffSize) {
    CloseFiles();
    return WavWriteResult::kPcmTooLong;
  }
  // A folder or a pipe of that name cannot be replaced; a file or a link can.
  if (m_files.CanReplaceByRename(wavPath)) {
    m_wavFile = m_files.CreateTemporaryBeside(wavPath, &m_tempPath, &m_tempLock);
  }
  if (m_wavFile == nullptr) {
    CloseFiles();
    return WavWriteResult::kCannotCreate;
  }
  m_createdWav = true;

  const auto header = BuildWavHeader(static_cast<std::uint32_t>(dataBytes), sampleRateSetting,
                                     static_cast<std::uint32_t>(trailer.size()));
  WavWriteResult result = WavWriteResult::kWritten;
  if (std::fwrite(header.data(), 1, header.size(), m_wavFile) != header.size()) {
    result = WavWriteResult::kCopyFailed;
  }
  if (result == WavWriteResult::kWritten) {
    result = CopySamples(pcmLength, dataBytes, resampler, token);
  }
  if (result == WavWriteResult::kWritten && !trailer.empty() &&
      std::fwrite(trailer.data(), 1, trailer.size(), m_wavFile) != trailer.size()) {
    result = WavWriteResult::kCopyFailed;
  }

  if (result == WavWriteResult::kWritten && recording != nullptr) {
    m_files.SetModificationTime(m_wavFile, recording->modifiedSeconds,
                                recording->modifiedNanoseconds);
  }
  // The stream's error flag also keeps a write that failed in a flush before
  // the close (setting the time flushes), whose bytes are gone. The data go
  // to the disk before the rename (here, or by whoever commits it), so that
  // a power cut cannot leave a WAV under its name that is not whole.
  const bool writeFailed =
      std::ferror(m_wavFile) != 0 ||
      (syncData && result == WavWriteResult::kWritten && !m_files.SyncFile(m_wavFile, &error));
  const bool closeFailed = std::fclose(m_wavFile) != 0;
  m_wavFile = nullptr;
  if ((closeFailed || writeFailed) && result == WavWriteResult::kWritten) {
    result = WavWriteResult::kCopyFailed;  // the last bytes did not reach the disk
  }
  if (result == WavWriteResult::kCopyFailed && (errno == ENOSPC || errno == EDQUOT)) {
    result = WavWriteResult::kNoSpace;
  }
  if (result == WavWriteResult::kWritten) {
    pending->tempPath = std::move(m_tempPath);
    pending->lock = std::move(m_tempLock);
  } else {
    m_files.RemoveFile(m_tempPath);
    m_tempLock.Release();
  }
  m_tempPath.clear();
  CloseFiles();
  return result;
}

WavWriteResult CommitWav(IConversionFiles& files, PendingWav* pending, const WavTarget& target,
                         std::string* writtenPath) {
  // Never over what the run did not plan to replace: another run's WAV
  // that came there since keeps its name, and this one takes the next.
  std::string error;
  std::string to = target.path;
  RenameResult renamed =
      target.replaces ? files.RenameReplacingSame(pending->tempPath, to, *target.replaces, &error)
                      : files.RenameNoReplace(pending->tempPath, to, &error);
  while (renamed == RenameResult::kTargetTaken && target.nextName) {
    to = target.nextName();
    if (to.empty()) break;
    renamed = files.RenameNoReplace(pending->tempPath, to, &error);
  }
  WavWriteResult result = WavWriteResult::kWritten;
  if (renamed == RenameResult::kRenamed) {
    *writtenPath = to;
  } else {
    files.RemoveFile(pending->tempPath);
    result = WavWriteResult::kCannotCreate;
  }
  pending->tempPath.clear();
  pending->lock.Release();
  return result;
}

void DiscardWav(IConversionFiles& files, PendingWav* pending) {
  if (pending->tempPath.empty()) return;
  files.RemoveFile(pending->tempPath);
  pending->tempPath.clear();
  pending->lock.Release();
}

WavWriteResult PcmWavWriter::CopySamples(std::uint64_t pcmLength, std::uint64_t dataBytes,
                                         Resampler& resampler, std::stop_token token) {
  std::vector<char> block(kWavCopyBlockSize);
  std::vector<std::int16_t> in;
  std::vector<std::int16_t> out;
  std::vector<char> bytes;
  std::string error;
  std::uint64_t copied = 0;
  std::uint64_t written = 0;
  const auto writeSamples = [&]() {
    bytes.resize(out.size() * 2);
    for (std::size_t i = 0; i < out.size(); ++i) {
      PutLe16(reinterpret_cast<std::uint8_t*>(bytes.data()) + 2 * i,
              static_cast<std::uint16_t>(out[i]));
    }
    written += bytes.size();
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), m_wavFile) == bytes.size();
    out.clear();
    return ok;
  };
  while (copied < pcmLength) {
    if (token.stop_requested()) return WavWriteResult::kStopped;
    const std::size_t want =
        static_cast<std::size_t>(std::min<std::uint64_t>(kWavCopyBlockSize, pcmLength - copied));
    if (std::fread(block.data(), 1, want, m_pcmFile) != want) return WavWriteResult::kCopyFailed;
    copied += want;
    if (resampler.PassesThrough()) {
      if (std::fwrite(block.data(), 1, want, m_wavFile) != want) return WavWriteResult::kCopyFailed;
      written += want;
    } else {
      // Block sizes are even, so each block holds whole samples (a last odd
      // byte is no sample).
      in.resize(want / 2);
      for (std::size_t i = 0; i < in.size(); ++i) {
        in[i] = static_cast<std::int16_t>(
            Le16(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(block.data()),
                                               want),
                 2 * i));
      }
      if (!resampler.Process(in.data(), in.size(), &out, &error) || !writeSamples()) {
        return WavWriteResult::kCopyFailed;
      }
    }
    if (m_blockHook) m_blockHook(copied);
  }
  if (!resampler.PassesThrough() && (!resampler.Finish(&out, &error) || !writeSamples())) {
    return WavWriteResult::kCopyFailed;
  }
  // The header promised exactly this many bytes.
  return written == dataBytes ? WavWriteResult::kWritten : WavWriteResult::kCopyFailed;
}

void PcmWavWriter::CloseFiles() {
  if (m_pcmFile != nullptr) std::fclose(m_pcmFile);
  if (m_wavFile != nullptr) {
    std::fclose(m_wavFile);
    m_files.RemoveFile(m_tempPath);
    m_tempPath.clear();
    m_tempLock.Release();
  }
  m_pcmFile = nullptr;
  m_wavFile = nullptr;
}

}  // namespace wavrel
