// evrc_2004 and qcelp_13k, each a function over its command line (see
// decoder_programs.h). Everything that can fail before decoding is checked
// before the output is created (and, for qcelp_13k, before loss_stat.txt is
// written), so a bad start leaves no file behind and no record.
#include "programs/decoders/decoder_programs.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
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

/// After the decoding: on failure the output is removed (a regular file
/// only: never /dev/null or a pipe) and the error told; 1 or 0.
int EndProgram(const char* program, const ProgramStreams& streams, bool regular,
               const std::string& output, bool ok, const std::string& err) {
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
  std::FILE* in = std::fopen(args.input.c_str(), "rb");
  if (in == nullptr) {
    return Fail(streams, "evrc_2004",
                "cannot open the input '" + args.input + "': " + std::strerror(errno));
  }
  struct stat in_stat {};
  if (fstat(fileno(in), &in_stat) != 0 || S_ISDIR(in_stat.st_mode)) {
    std::fclose(in);
    return Fail(streams, "evrc_2004", "cannot read the input '" + args.input + "': not a file");
  }
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
  // Only a regular file is removed on failure: never /dev/null or a pipe.
  const bool regular = fstat(fileno(out), &out_stat) == 0 && S_ISREG(out_stat.st_mode);
  if (regular) {
    if (streams.partialOutput != nullptr) streams.partialOutput(args.output.c_str());
  }

  DecodeStats stats;
  bool ok = decoder.DecodeStream(in, out, &stats, &err);
  std::fclose(in);
  if (std::fclose(out) != 0 && ok) {
    ok = false;
    err = std::string("cannot write the output: ") + std::strerror(errno);
  }
  if (const int ended = EndProgram("evrc_2004", streams, regular, args.output, ok, err);
      ended != 0) {
    return ended;
  }

  if (args.verbose) {
    std::fprintf(streams.err,
                 "evrc_2004: %llu frames decoded, %llu concealed (%llu erasures, %llu of unknown "
                 "rate)\n",
                 static_cast<unsigned long long>(stats.frames),
                 static_cast<unsigned long long>(stats.concealed),
                 static_cast<unsigned long long>(stats.erasures),
                 static_cast<unsigned long long>(stats.unknown));
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
  std::FILE* in = std::fopen(args.input.c_str(), "rb");
  if (in == nullptr) {
    return Fail(streams, "qcelp_13k",
                "cannot open the input '" + args.input + "': " + std::strerror(errno));
  }
  struct stat in_stat {};
  if (fstat(fileno(in), &in_stat) != 0 || !S_ISREG(in_stat.st_mode)) {
    std::fclose(in);
    return Fail(streams, "qcelp_13k", "cannot read the input '" + args.input + "': not a file");
  }
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
  // Only a regular file is removed on failure: never /dev/null or a pipe.
  const bool regular = fstat(fileno(out), &out_stat) == 0 && S_ISREG(out_stat.st_mode);
  if (regular) {
    if (streams.partialOutput != nullptr) streams.partialOutput(args.output.c_str());
  }

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
  if (std::fclose(out) != 0 && ok) {
    ok = false;
    err = std::string("cannot write the output: ") + std::strerror(errno);
  }
  if (const int ended = EndProgram("qcelp_13k", streams, regular, args.output, ok, err);
      ended != 0) {
    return ended;
  }

  if (args.verbose) {
    std::fprintf(streams.err,
                 "qcelp_13k: %llu frames decoded, %llu lost and concealed (%llu erasures, %llu "
                 "blank, %llu of unknown rate, %llu cut short)\n",
                 static_cast<unsigned long long>(stats.frames),
                 static_cast<unsigned long long>(stats.lost),
                 static_cast<unsigned long long>(stats.erasures),
                 static_cast<unsigned long long>(stats.blank),
                 static_cast<unsigned long long>(stats.unknown),
                 static_cast<unsigned long long>(stats.cutShort));
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
