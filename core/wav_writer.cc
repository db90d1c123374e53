#include "core/wav_writer.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "base/little_endian.h"

namespace wavrel {
std::array<std::uint8_t, kWavHeaderSize> BuildWavHeader(std::uint32_t pcmLength,
                                                        std::int32_t sampleRateSetting) {
  const std::uint32_t rate =
      sampleRateSetting > 0 ? static_cast<std::uint32_t>(sampleRateSetting) : kDefaultWavSampleRate;
  std::array<std::uint8_t, kWavHeaderSize> header{};
  std::uint8_t* h = header.data();
  std::memcpy(h + 0, "RIFF", 4);
  PutLe32(h + 4, pcmLength + 36);
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
  switch (result) {
    case WavWriteResult::kWritten:
      return "WAV file written";
    case WavWriteResult::kNoPcm:
      return "decoder produced no PCM";
    case WavWriteResult::kPcmTooLong:
      return "PCM too long for a WAV file";
    case WavWriteResult::kCannotCreate:
      return "cannot create WAV file";
    case WavWriteResult::kCopyFailed:
      return "copying PCM into the WAV file failed";
    case WavWriteResult::kStopped:
      return "stopped";
  }
  return "unknown";
}

PcmWavWriter::~PcmWavWriter() { CloseFiles(); }

WavWriteResult PcmWavWriter::WritePcmAsWav(const std::string& pcmPath, const std::string& wavPath,
                                           std::int32_t sampleRateSetting, std::stop_token token,
                                           const FileStamp* recording) {
  m_createdWav = false;
  unsigned long long pcmLength = 0;
  m_pcmFile = m_files.OpenRegularFileForReading(pcmPath, &pcmLength);
  if (m_pcmFile == nullptr) return WavWriteResult::kNoPcm;
  // A length the header cannot hold would be written as a wrapped size.
  if (pcmLength > kMaxWavPcmLength) {
    CloseFiles();
    return WavWriteResult::kPcmTooLong;
  }
  // A folder or a pipe of that name cannot be replaced; a file or a link can.
  if (m_files.CanReplaceByRename(wavPath)) {
    m_wavFile = m_files.CreateTemporaryBeside(wavPath, &m_tempPath);
  }
  if (m_wavFile == nullptr) {
    CloseFiles();
    return WavWriteResult::kCannotCreate;
  }
  m_createdWav = true;

  const auto header = BuildWavHeader(static_cast<std::uint32_t>(pcmLength), sampleRateSetting);
  std::vector<char> block(kWavCopyBlockSize);
  WavWriteResult result = WavWriteResult::kWritten;
  if (std::fwrite(header.data(), 1, header.size(), m_wavFile) != header.size()) {
    result = WavWriteResult::kCopyFailed;
  }
  std::uint64_t copied = 0;
  while (result == WavWriteResult::kWritten && copied < pcmLength) {
    if (token.stop_requested()) {
      result = WavWriteResult::kStopped;
      break;
    }
    const std::size_t want =
        static_cast<std::size_t>(std::min<std::uint64_t>(kWavCopyBlockSize, pcmLength - copied));
    const std::size_t got = std::fread(block.data(), 1, want, m_pcmFile);
    if (got != want || std::fwrite(block.data(), 1, got, m_wavFile) != got) {
      result = WavWriteResult::kCopyFailed;
      break;
    }
    copied += got;
    if (m_blockHook) m_blockHook(copied);
  }

  if (result == WavWriteResult::kWritten && recording != nullptr) {
    m_files.SetModificationTime(m_wavFile, recording->modifiedSeconds,
                                recording->modifiedNanoseconds);
  }
  // The stream's error flag also keeps a write that failed in a flush before
  // the close (setting the time flushes), whose bytes are gone.
  const bool writeFailed = std::ferror(m_wavFile) != 0;
  const bool closeFailed = std::fclose(m_wavFile) != 0;
  m_wavFile = nullptr;
  if ((closeFailed || writeFailed) && result == WavWriteResult::kWritten) {
    result = WavWriteResult::kCopyFailed;  // the last bytes did not reach the disk
  }
  if (result == WavWriteResult::kWritten && !m_files.RenameOnto(m_tempPath, wavPath)) {
    result = WavWriteResult::kCannotCreate;
  }
  if (result != WavWriteResult::kWritten) m_files.RemoveFile(m_tempPath);
  m_tempPath.clear();
  CloseFiles();
  return result;
}

void PcmWavWriter::CloseFiles() {
  if (m_pcmFile != nullptr) std::fclose(m_pcmFile);
  if (m_wavFile != nullptr) {
    std::fclose(m_wavFile);
    m_files.RemoveFile(m_tempPath);
    m_tempPath.clear();
  }
  m_pcmFile = nullptr;
  m_wavFile = nullptr;
}

}  // namespace wavrel
