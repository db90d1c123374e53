// qcelp_13k: the QCELP-13K decoder that the plug-in runs for each QCELP
// recording. It reads the QCP file itself (there is no raw packet file for
// this codec), writes headerless PCM, and appends the lost frames to
// loss_stat.txt in the current folder as vocrate does for EVRC.
// Exit status 0 when the whole recording was decoded; 2 for a bad command
// line; 1 when the input cannot be read or is not QCELP-13K speech, the
// decoder cannot be set up, or the output or loss_stat.txt cannot be written.
// Nothing is left under the output name on failure.
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
#include "programs/decoders/qcelp_decoder.h"
#include "wavrel_version.h"

namespace {

constexpr char kLossStatPath[] = "loss_stat.txt";

/// The output being written, removed when a signal ends the program early.
const char* volatile g_partial_output = nullptr;

void RemovePartialOutput(int signal_number) {
  const char* path = g_partial_output;
  if (path != nullptr) unlink(path);
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "qcelp_13k: %s\n", message.c_str());
  return 1;
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

int main(int argc, char** argv) {
  // Past a file size limit, let the write fail (and the output be removed)
  // instead of the process dying with a half-written file.
  std::signal(SIGXFSZ, SIG_IGN);

  evrc::DecoderArgs args;
  std::string err;
  if (!evrc::ParseDecoderArgs(std::vector<std::string>(argv + 1, argv + argc), &args, &err,
                              /*postfilter_option=*/false)) {
    std::fprintf(stderr, "qcelp_13k: %s (qcelp_13k -h for help)\n", err.c_str());
    return 2;
  }
  if (args.help) {
    std::fputs(evrc::QcelpDecoderUsage().c_str(), stdout);
    return 0;
  }
  if (args.version) {
    // The library loaded now, which may be newer than the one built against.
    const unsigned v = avcodec_version();
    std::printf("qcelp_13k (Wavrel) " WAVREL_VERSION "\nlibavcodec %u.%u.%u (FFmpeg %s)\n", v >> 16,
                (v >> 8) & 0xFF, v & 0xFF, av_version_info());
    std::fputs(WAVREL_LICENSE_NOTICE, stdout);
    return 0;
  }
  av_log_set_level(args.verbose ? AV_LOG_WARNING : AV_LOG_QUIET);

  // Everything that can fail before decoding is checked before the output is
  // created and before loss_stat.txt is written, so a bad start leaves no
  // file behind and no record.
  std::FILE* in = std::fopen(args.input.c_str(), "rb");
  if (in == nullptr) {
    return Fail("cannot open the input '" + args.input + "': " + std::strerror(errno));
  }
  struct stat in_stat {};
  if (fstat(fileno(in), &in_stat) != 0 || !S_ISREG(in_stat.st_mode)) {
    std::fclose(in);
    return Fail("cannot read the input '" + args.input + "': not a file");
  }
  qcelp::PacketRange range;
  if (!qcelp::LocatePackets(in, &range, &err)) {
    std::fclose(in);
    return Fail(args.input + ": " + err);
  }
  qcelp::QcelpDecoder decoder;
  if (!decoder.Open(&err)) {
    std::fclose(in);
    return Fail(err);
  }
  struct stat out_stat {};
  const bool out_exists = stat(args.output.c_str(), &out_stat) == 0;
  if (out_exists && SameFile(out_stat, in_stat)) {
    std::fclose(in);
    return Fail("the output '" + args.output + "' is the input file");
  }
  // Binary append: the record's CR LF line ends are written as they are.
  std::FILE* loss_file = std::fopen(kLossStatPath, "ab");
  struct stat loss_stat {};
  if (loss_file == nullptr || fstat(fileno(loss_file), &loss_stat) != 0) {
    const int error = errno;
    if (loss_file != nullptr) std::fclose(loss_file);
    std::fclose(in);
    return Fail(std::string("cannot open ") + kLossStatPath +
                " in the current folder: " + std::strerror(error));
  }
  if (out_exists && SameFile(out_stat, loss_stat)) {
    std::fclose(loss_file);
    std::fclose(in);
    return Fail("the output '" + args.output + "' is " + kLossStatPath);
  }
  std::FILE* out = std::fopen(args.output.c_str(), "wb");
  if (out == nullptr) {
    const int error = errno;
    std::fclose(loss_file);
    std::fclose(in);
    return Fail("cannot create the output '" + args.output + "': " + std::strerror(error));
  }
  // Only a regular file is removed on failure: never /dev/null or a pipe.
  const bool regular = fstat(fileno(out), &out_stat) == 0 && S_ISREG(out_stat.st_mode);
  if (regular) {
    g_partial_output = args.output.c_str();
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) std::signal(sig, RemovePartialOutput);
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
  if (!ok) {
    // Say "removed" only when a file was.
    if (regular && unlink(args.output.c_str()) == 0) {
      return Fail(err + " ('" + args.output + "' removed)");
    }
    return Fail(err);
  }
  g_partial_output = nullptr;

  if (args.verbose) {
    std::fprintf(stderr,
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
