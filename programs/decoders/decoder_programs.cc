// evrc_2004 and qcelp_13k, each a function over its command line (see
// decoder_programs.h). Everything that can fail before decoding is checked
// before the output is created (and, for qcelp_13k, before loss_stat.txt is
// written), so a bad start leaves no file behind and no record.
#include "programs/decoders/decoder_programs.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/avutil.h>
#include <libavutil/log.h>
}

#include "formats/loss_stat.h"
#include "programs/decoders/decoder_args.h"
#include "programs/decoders/evrc_decoder.h"
#include "programs/decoders/qcelp_decoder.h"
#include "wavrel_version.h"

namespace evrc {
namespace {

constexpr char kLossStatPath[] = "loss_stat.txt";

int Fail(const ProgramStreams& streams, const char* program, const std::string& message) {
  std::fprintf(streams.err, "%s: %s\n", program, message.c_str());
  return 1;
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

/// The command line, -h and --version, and the library's log level: -1 when
/// the program goes on to decode, else its exit status.
int BeginProgram(const char* program, const std::vector<std::string>& args_in,
                 const ProgramStreams& streams, bool postfilterOption, const std::string& usage,
                 DecoderArgs* args) {
  std::string err;
  if (!ParseDecoderArgs(args_in, args, &err, postfilterOption)) {
    std::fprintf(streams.err, "%s: %s (%s -h for help)\n", program, err.c_str(), program);
    return 2;
  }
  if (args->help) {
    std::fputs(usage.c_str(), streams.out);
    return 0;
  }
  if (args->version) {
    // The library loaded now, which may be newer than the one built against.
    const unsigned v = avcodec_version();
    std::fprintf(streams.out, "%s (Wavrel) " WAVREL_VERSION "\nlibavcodec %u.%u.%u (FFmpeg %s)\n",
                 program, v >> 16, (v >> 8) & 0xFF, v & 0xFF, av_version_info());
    std::fputs(WAVREL_LICENSE_NOTICE, streams.out);
    return 0;
  }
  av_log_set_level(args->verbose ? AV_LOG_WARNING : AV_LOG_QUIET);
  return -1;
}

/// The input opened for reading (evrc_2004 takes anything but a folder,
/// qcelp_13k a regular file only), or nullptr once the error is told.
std::FILE* OpenInput(const char* program, const ProgramStreams& streams, const std::string& path,
                     bool regularOnly, struct stat* st) {
  std::FILE* in = std::fopen(path.c_str(), "rb");
  if (in == nullptr) {
    Fail(streams, program, "cannot open the input '" + path + "': " + std::strerror(errno));
    return nullptr;
  }
  if (fstat(fileno(in), st) != 0 || (regularOnly ? !S_ISREG(st->st_mode) : S_ISDIR(st->st_mode))) {
    std::fclose(in);
    Fail(streams, program, "cannot read the input '" + path + "': not a file");
    return nullptr;
  }
  return in;
}

/// True when the output just opened is a regular file, the only kind that is
/// removed on failure (never /dev/null or a pipe); it is told as partial.
bool BeginOutput(const ProgramStreams& streams, std::FILE* out, const std::string& output) {
  struct stat out_stat {};
  const bool regular = fstat(fileno(out), &out_stat) == 0 && S_ISREG(out_stat.st_mode);
  if (regular && streams.partialOutput != nullptr) streams.partialOutput(output.c_str());
  return regular;
}

/// After the decoding: the output closed, and on failure removed and the
/// error told; 1 or 0.
int EndProgram(const char* program, const ProgramStreams& streams, std::FILE* out, bool regular,
               const std::string& output, bool ok, std::string err) {
  if (std::fclose(out) != 0 && ok) {
    ok = false;
    err = std::string("cannot write the output: ") + std::strerror(errno);
  }
  if (!ok) {
    // Say "removed" only when a file was.
    const bool removed = regular && unlink(output.c_str()) == 0;
    if (regular && streams.partialOutput != nullptr) streams.partialOutput(nullptr);
    if (removed) return Fail(streams, program, err + " ('" + output + "' removed)");
    return Fail(streams, program, err);
  }
  if (regular && streams.partialOutput != nullptr) streams.partialOutput(nullptr);
  return 0;
}

/// The output being written, removed when a signal ends the program early.
const char* volatile g_partial_output = nullptr;

void RemovePartialOutput(int signal_number) {
  const char* path = g_partial_output;
  if (path != nullptr) unlink(path);
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);
}

void RemoveOnSignal(const char* path) {
  g_partial_output = path;
  if (path != nullptr) {
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) std::signal(sig, RemovePartialOutput);
  }
}

}  // namespace

int RunEvrc2004(const std::vector<std::string>& args_in, const ProgramStreams& streams) {
  DecoderArgs args;
  const int begun =
      BeginProgram("evrc_2004", args_in, streams, /*postfilterOption=*/true, DecoderUsage(), &args);
  if (begun >= 0) return begun;
  std::string err;

  // Everything that can fail before decoding is checked before the output is
  // created, so a bad start leaves no file behind.
  struct stat in_stat {};
  std::FILE* in = OpenInput("evrc_2004", streams, args.input, /*regularOnly=*/false, &in_stat);
  if (in == nullptr) return 1;
  EvrcDecoder decoder;
  if (!decoder.Open(DecodeOptions{.postfilter = args.postfilter}, &err)) {
    std::fclose(in);
    return Fail(streams, "evrc_2004", err);
  }
  struct stat out_stat {};
  if (stat(args.output.c_str(), &out_stat) == 0 && out_stat.st_dev == in_stat.st_dev &&
      out_stat.st_ino == in_stat.st_ino) {
    std::fclose(in);
    return Fail(streams, "evrc_2004", "the output '" + args.output + "' is the input file");
  }
  std::FILE* out = std::fopen(args.output.c_str(), "wb");
  if (out == nullptr) {
    const int error = errno;
    std::fclose(in);
    return Fail(streams, "evrc_2004",
                "cannot create the output '" + args.output + "': " + std::strerror(error));
  }
  const bool regular = BeginOutput(streams, out, args.output);

  DecodeStats stats;
  bool ok = decoder.DecodeStream(in, out, &stats, &err);
  std::fclose(in);
  if (const int ended = EndProgram("evrc_2004", streams, out, regular, args.output, ok, err);
      ended != 0) {
    return ended;
  }

  if (args.verbose) {
    const auto n = [](std::uint64_t count) { return std::to_string(count); };
    std::fprintf(streams.err, "evrc_2004: %s\n",
                 (n(stats.frames) + " frames decoded, " + n(stats.concealed) + " concealed (" +
                  n(stats.erasures) + " erasures, " + n(stats.unknown) + " of unknown rate)")
                     .c_str());
    if (stats.trailing_bytes != 0) {
      std::fprintf(streams.err, "evrc_2004: %zu bytes after the last whole record ignored\n",
                   stats.trailing_bytes);
    }
  }
  return 0;
}

int RunQcelp13k(const std::vector<std::string>& args_in, const ProgramStreams& streams) {
  DecoderArgs args;
  const int begun = BeginProgram("qcelp_13k", args_in, streams, /*postfilterOption=*/false,
                                 QcelpDecoderUsage(), &args);
  if (begun >= 0) return begun;
  std::string err;

  // Everything that can fail before decoding is checked before the output is
  // created and before loss_stat.txt is written, so a bad start leaves no
  // file behind and no record.
  struct stat in_stat {};
  std::FILE* in = OpenInput("qcelp_13k", streams, args.input, /*regularOnly=*/true, &in_stat);
  if (in == nullptr) return 1;
  qcelp::PacketRange range;
  if (!qcelp::LocatePackets(in, &range, &err)) {
    std::fclose(in);
    return Fail(streams, "qcelp_13k", args.input + ": " + err);
  }
  qcelp::QcelpDecoder decoder;
  if (!decoder.Open(&err)) {
    std::fclose(in);
    return Fail(streams, "qcelp_13k", err);
  }
  struct stat out_stat {};
  const bool out_exists = stat(args.output.c_str(), &out_stat) == 0;
  if (out_exists && SameFile(out_stat, in_stat)) {
    std::fclose(in);
    return Fail(streams, "qcelp_13k", "the output '" + args.output + "' is the input file");
  }
  // Binary append: the record's CR LF line ends are written as they are.
  std::FILE* loss_file = std::fopen(kLossStatPath, "ab");
  struct stat loss_stat {};
  if (loss_file == nullptr || fstat(fileno(loss_file), &loss_stat) != 0) {
    const int error = errno;
    if (loss_file != nullptr) std::fclose(loss_file);
    std::fclose(in);
    return Fail(streams, "qcelp_13k",
                std::string("cannot open ") + kLossStatPath +
                    " in the current folder: " + std::strerror(error));
  }
  if (out_exists && SameFile(out_stat, loss_stat)) {
    std::fclose(loss_file);
    std::fclose(in);
    return Fail(streams, "qcelp_13k", "the output '" + args.output + "' is " + kLossStatPath);
  }
  std::FILE* out = std::fopen(args.output.c_str(), "wb");
  if (out == nullptr) {
    const int error = errno;
    std::fclose(loss_file);
    std::fclose(in);
    return Fail(streams, "qcelp_13k",
                "cannot create the output '" + args.output + "': " + std::strerror(error));
  }
  const bool regular = BeginOutput(streams, out, args.output);

  qcelp::DecodeStats stats;
  bool ok = true;
  {
    vocrate::LossStatFile loss(loss_file);
    loss.Header(args.input);
    ok = decoder.DecodePackets(in, range, out, loss, &stats, &err);
    if (!loss.Flush() && ok) {
      ok = false;
      err = std::string("cannot write ") + kLossStatPath + ": " + std::strerror(errno);
    }
  }
  std::fclose(in);
  if (std::fclose(loss_file) != 0 && ok) {
    ok = false;
    err = std::string("cannot write ") + kLossStatPath + ": " + std::strerror(errno);
  }
  if (const int ended = EndProgram("qcelp_13k", streams, out, regular, args.output, ok, err);
      ended != 0) {
    return ended;
  }

  if (args.verbose) {
    const auto n = [](std::uint64_t count) { return std::to_string(count); };
    std::fprintf(streams.err, "qcelp_13k: %s\n",
                 (n(stats.frames) + " frames decoded, " + n(stats.lost) + " lost and concealed (" +
                  n(stats.erasures) + " erasures, " + n(stats.blank) + " blank, " +
                  n(stats.unknown) + " of unknown rate, " + n(stats.cutShort) + " cut short)")
                     .c_str());
  }
  return 0;
}

int ProgramMain(int argc, char** argv, ProgramRun run) {
  // Past a file size limit, let the write fail (and the output be removed)
  // instead of the process dying with a half-written file.
  std::signal(SIGXFSZ, SIG_IGN);
  ProgramStreams streams;
  streams.partialOutput = RemoveOnSignal;
  return run(std::vector<std::string>(argv + 1, argv + argc), streams);
}

}  // namespace evrc
