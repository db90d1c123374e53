// FileConversion: the converter, the decoder, the WAV and the clean-up of one
// recording. The intermediates (the EVRC file, the PCM file and the
// converter's loss_stat.txt) live in the job's work folder, never beside the
// user's recordings.
#include "core/file_conversion.h"

#include <algorithm>
#include <climits>
#include <cstdio>

#include "formats/qcp_chunks.h"
#include "formats/qcp_codec.h"
#include "formats/qcp_format.h"
#include "formats/qcp_tags.h"

namespace wavrel {
namespace {

/// Bytes of a recording's start that tell its codec.
constexpr std::size_t kCodecHeadBytes = 1024;
/// A folder with less room than this after a program failed in it was full.
constexpr unsigned long long kFullFolderBytes = 256 * 1024;

/// The totals of the last record of a loss_stat.txt, when there is one.
bool ReadLossTotals(IConversionFiles& files, const std::string& path, std::int32_t* total,
                    std::int32_t* lost) {
  std::FILE* file = files.OpenRegularFileForReading(path, nullptr);
  if (file == nullptr) return false;
  std::string text;
  char buffer[4096];
  // The record of one run is short; a file that grew large is read to its
  // last 1 MiB only.
  std::size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
    text.append(buffer, got);
    if (text.size() > (1u << 20)) text.erase(0, text.size() - (1u << 19));
  }
  std::fclose(file);
  const std::size_t at = text.rfind("TOTAL FRAMES = ");
  if (at == std::string::npos) return false;
  int t = 0;
  int l = 0;
  if (std::sscanf(text.c_str() + at, "TOTAL FRAMES = %d, TOTAL LOSS PACKAGE = %d", &t, &l) != 2) {
    return false;
  }
  *total = t;
  *lost = l;
  return true;
}

/// The codec of a recording by its first bytes; EVRC when they cannot be
/// read (the converter then says what is wrong, as for any EVRC recording).
qcp::CodecId RecordingCodec(IConversionFiles& files, const std::string& path) {
  std::vector<unsigned char> head;
  if (!files.ReadFileStart(path, kCodecHeadBytes, &head) ||
      !qcp::IsQcpContainer(head.data(), head.size())) {
    return {qcp::Codec::kEvrc, "EVRC", false};
  }
  return qcp::IdentifyCodec(head.data(), head.size());
}

/// The recording's labl and text chunks, as the WAV's title and comment.
WavTags RecordingTags(IConversionFiles& files, const std::string& path) {
  unsigned long long size = 0;
  std::FILE* file = files.OpenRegularFileForReading(path, &size);
  if (file == nullptr) return {};
  const qcp::QcpTags tags = qcp::ReadTags(
      [file](std::uint64_t offset, std::uint8_t* out, std::size_t bytes) -> std::size_t {
        // long is 64 bits on the platforms this builds for.
        if (std::fseek(file, static_cast<long>(offset), SEEK_SET) != 0) return 0;
        return std::fread(out, 1, bytes, file);
      },
      size);
  std::fclose(file);
  return {tags.label, tags.text};
}

}  // namespace

std::string DescribeExit(const char* what, const ChildExit& exit) {
  if (exit.kind == ChildExit::Kind::kExited && exit.code == 0) return {};
  if (exit.kind == ChildExit::Kind::kExited) {
    return std::string(what) + " exited with status " + std::to_string(exit.code);
  }
  if (exit.kind == ChildExit::Kind::kTimedOut) {
    return std::string(what) + " did not finish within " + std::to_string(exit.code) +
           " s and was ended";
  }
  if (exit.kind == ChildExit::Kind::kSignalled && exit.code != 0) {
    return std::string(what) + " killed by signal " + std::to_string(exit.code);
  }
  return std::string(what) + " ended with an unknown status";
}

FileConversion::FileConversion(IConversionEnvironment& environment)
    : m_environment(environment),
      m_program(environment.NewProgramRun()),
      m_wavWriter(environment.Files()) {}

FileConversion::~FileConversion() { m_program->Terminate(); }

bool FileConversion::IsCutShort(IConversionFiles& files, const std::string& qcpPath) {
  std::vector<unsigned char> head;
  unsigned long long size = 0;
  if (!files.ReadFileStart(qcpPath, qcp::kChunkListBytes, &head) ||
      !files.FileSize(qcpPath, &size)) {
    return false;
  }
  return qcp::LocateData(head.data(), head.size(), size).cutShort;
}

bool FileConversion::RunProgram(IProgramRun& run, const char* what, const std::string& program,
                                const std::vector<std::string>& args, const std::string& workFolder,
                                std::stop_token token, ConversionOutcome* outcome) {
  const auto note = [outcome](const std::string& reason) {
    if (outcome->reason.empty()) outcome->reason = reason;
  };
  std::string error;
  if (!run.Start(program, args, workFolder, &error)) {
    note(std::string("cannot start the ") + what + ": " + error);
    return true;
  }
  const ChildExit exit = run.Wait(token);
  if (exit.kind == ChildExit::Kind::kStopped) return false;
  note(DescribeExit(what, exit));
  return true;
}

ConversionOutcome FileConversion::Run(const ConversionJob& job, std::stop_token token) {
  ConversionOutcome outcome;
  const auto stopped = [this, &outcome, &token] {
    if (!token.stop_requested()) return false;
    CleanUpAfterStop();
    outcome.status = ConversionOutcome::Status::kStopped;
    outcome.reason.clear();
    return true;
  };
  m_workBase = job.workBase;
  const std::string evrc = job.workBase + ".evrc";
  const std::string pcm = job.workBase + ".pcm";
  IConversionFiles& files = m_environment.Files();
  const std::string lossStat = job.workFolder + "/loss_stat.txt";
  const auto readLossTotals = [&] {
    std::int32_t total = 0;
    std::int32_t lost = 0;
    if (ReadLossTotals(files, lossStat, &total, &lost)) {
      outcome.totalFrames = total;
      outcome.lostFrames = lost;
    }
  };

  // 1. The converter (RunConverter). A stop before it starts leaves nothing to clean up.
  m_step = kStepConverter;
  if (token.stop_requested()) {
    outcome.status = ConversionOutcome::Status::kStopped;
    return outcome;
  }
  // The codec decides the road: EVRC through the converter and evrc_2004,
  // QCELP-13K straight into its decoder, which reads the QCP file itself.
  const qcp::CodecId codec = RecordingCodec(files, job.recording);
  outcome.codec = codec.codec == qcp::Codec::kUnknown ? std::string() : codec.name;
  if (codec.codec != qcp::Codec::kEvrc && codec.codec != qcp::Codec::kQcelp13k) {
    outcome.reason =
        (codec.codec == qcp::Codec::kUnknown ? std::string("speech of an unknown codec")
                                             : codec.name + " speech") +
        ": no decoder for this codec";
    m_step = kStepCleanUp;
    outcome.cutShort = IsCutShort(files, job.recording);
    return outcome;
  }
  const bool qcelp = codec.codec == qcp::Codec::kQcelp13k;
  if (!qcelp) {
    if (!RunProgram(*m_program, "converter", job.converterPath, {job.recording, evrc, "1"},
                    job.workFolder, token, &outcome)) {
      stopped();
      return outcome;
    }
    readLossTotals();
  }

  // 2. The decoder (RunDecoder).
  m_step = kStepDecoder;
  if (stopped()) return outcome;
  const std::vector<std::string> decoderArgs =
      qcelp ? std::vector<std::string>{"-i", job.recording, "-o", pcm, "-d"}
            : std::vector<std::string>{"-i", evrc, "-o", pcm, "-d"};
  if (!RunProgram(*m_program, "decoder", qcelp ? job.qcelpDecoderPath : job.decoderPath,
                  decoderArgs, job.workFolder, token, &outcome)) {
    stopped();
    return outcome;
  }
  if (qcelp) readLossTotals();
  if (stopped()) return outcome;

  // 3. The WAV (WritePcmAsWav).
  unsigned long long pcmBytes = 0;
  if (!outcome.reason.empty()) {
    // What made a program fail, when the system can tell: the recording is
    // gone, or the work folder has no room for what the program writes (a
    // program may delete what it wrote when it fails, so the room is
    // measured against what the step needs: an EVRC record of 24 bytes for
    // a packet of 3 bytes or more, a PCM frame of 320 for a record, or for a
    // QCELP packet of 4 bytes or more).
    unsigned long long recordingBytes = 0;
    unsigned long long evrcBytes = 0;
    files.FileSize(job.recording, &recordingBytes);
    files.FileSize(evrc, &evrcBytes);
    const unsigned long long needed =
        kFullFolderBytes + (qcelp                                     ? recordingBytes * 80
                            : outcome.reason.rfind("decoder", 0) == 0 ? evrcBytes / 24 * 320
                                                                      : recordingBytes * 8);
    std::string why;
    if (files.HasVanished(job.recording, job.recordingStamp ? &*job.recordingStamp : nullptr)) {
      outcome.reason = "the recording is gone: it was moved or deleted during the run";
    } else if (files.IsOutOfSpace(job.workFolder, needed, &why)) {
      outcome.reason = "the work folder " + job.workFolder + " has no space left (" + why + ")";
    }
    // A program failed: what it left may end anywhere, and a WAV made of it
    // would replace a whole one from an earlier run. The file fails, no WAV.
    outcome.wavResult = WavWriteResult::kNoPcm;
  } else if (m_environment.Files().FileSize(pcm, &pcmBytes) && pcmBytes == 0) {
    // Nothing decoded (a recording cut inside its header): no WAV.
    outcome.reason = "no speech frames in the recording";
    outcome.wavResult = WavWriteResult::kNoPcm;
  } else {
    m_step = kStepWav;
    // The WAV takes the recording's modification time.
    FileStamp recording;
    const bool stamped = m_environment.Files().StampOf(job.recording, true, &recording);
    // What the recording says about itself goes into the WAV too.
    const WavTags tags = RecordingTags(files, job.recording);
    std::string written;
    outcome.wavResult =
        job.commitLater
            ? m_wavWriter.WriteTemporaryWav(pcm, job.wavPath, job.sampleRateSetting, token,
                                            stamped ? &recording : nullptr, &tags,
                                            /*syncData=*/false, &outcome.pendingWav)
            : m_wavWriter.WritePcmAsWav(pcm, {job.wavPath, job.wavReplaces, job.nextWavName},
                                        job.sampleRateSetting, token,
                                        stamped ? &recording : nullptr, &tags, &written);
    // A copy cut short by a stop stays at this step: the clean-up deletes
    // the intermediates (the writer has already removed its partial file).
    if (outcome.wavResult == WavWriteResult::kStopped) {
      stopped();
      return outcome;
    }
    if (outcome.wavResult == WavWriteResult::kWritten) {
      outcome.wavPath = written;
      // The frames the WAV holds: the converter's count takes a QCP pad
      // byte for a frame of its own, the decoder makes 160 samples per real one.
      if (m_environment.Files().FileSize(pcm, &pcmBytes)) {
        outcome.totalFrames = static_cast<std::int32_t>(
            std::min<unsigned long long>(pcmBytes / (evrc::kSamplesPerFrame * 2), INT32_MAX));
      }
    } else {
      outcome.reason = DescribeWavWriteResult(outcome.wavResult);
      const std::string folder = job.wavPath.substr(0, job.wavPath.rfind('/') + 1);
      if (outcome.wavResult == WavWriteResult::kCannotCreate &&
          files.HasVanished(folder, nullptr)) {
        outcome.reason =
            "the output folder " + folder + " is gone: it was moved or deleted during the run";
      }
    }
  }

  // 4. The clean-up (DeleteIntermediates).
  m_step = kStepCleanUp;
  DeleteIntermediates();
  outcome.cutShort = IsCutShort(m_environment.Files(), job.recording);
  outcome.status = outcome.reason.empty() && outcome.wavResult == WavWriteResult::kWritten
                       ? ConversionOutcome::Status::kOk
                       : ConversionOutcome::Status::kFailed;
  if (outcome.status == ConversionOutcome::Status::kFailed && outcome.reason.empty()) {
    outcome.reason = DescribeWavWriteResult(outcome.wavResult);
  }
  return outcome;
}

void FileConversion::CleanUpAfterStop() {
  m_program->Terminate();
  DeleteIntermediates();
}

void FileConversion::DeleteIntermediates() {
  if (m_workBase.empty()) return;
  const std::size_t slash = m_workBase.rfind('/');
  const std::string lossStat =
      (slash == std::string::npos ? std::string() : m_workBase.substr(0, slash + 1)) +
      "loss_stat.txt";
  const std::string evrc = m_workBase + ".evrc";
  const std::string pcm = m_workBase + ".pcm";
  // The WAV is never deleted here: an unfinished one is a temporary file
  // that the writer removes itself, and a WAV under its final name is whole.
  IConversionFiles& files = m_environment.Files();
  switch (m_step.load()) {
    case kStepConverter:
      files.RemoveFile(evrc);
      files.RemoveFile(lossStat);
      break;
    case kStepDecoder:
    case kStepWav:
    case kStepCleanUp:
      files.RemoveFile(evrc);
      files.RemoveFile(pcm);
      files.RemoveFile(lossStat);
      break;
    default:
      break;
  }
}

}  // namespace wavrel
