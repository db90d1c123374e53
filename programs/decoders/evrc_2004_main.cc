// evrc_2004: the EVRC decoder that the plug-in runs for each recording.
// Exit status 0 when the whole input was decoded; 2 for a bad command line;
// 1 when the input cannot be read, the decoder cannot be set up or the output
// cannot be written. Nothing is left under the output name on failure.
#include <sys/stat.h>
#include <unistd.h>

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

#include "programs/decoders/decoder_args.h"
#include "programs/decoders/evrc_decoder.h"
#include "wavrel_version.h"

namespace {

/// The output being written, removed when a signal ends the program early.
const char* volatile g_partial_output = nullptr;

void RemovePartialOutput(int signal_number) {
  const char* path = g_partial_output;
  if (path != nullptr) unlink(path);
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "evrc_2004: %s\n", message.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  // Past a file size limit, let the write fail (and the output be removed)
  // instead of the process dying with a half-written file.
  std::signal(SIGXFSZ, SIG_IGN);

  evrc::DecoderArgs args;
  std::string err;
  if (!evrc::ParseDecoderArgs(std::vector<std::string>(argv + 1, argv + argc), &args, &err)) {
    std::fprintf(stderr, "evrc_2004: %s (evrc_2004 -h for help)\n", err.c_str());
    return 2;
  }
  if (args.help) {
    std::fputs(evrc::DecoderUsage().c_str(), stdout);
    return 0;
  }
  if (args.version) {
    // The library loaded now, which may be newer than the one built against.
    const unsigned v = avcodec_version();
    std::printf("evrc_2004 (Wavrel) " WAVREL_VERSION "\nlibavcodec %u.%u.%u (FFmpeg %s)\n", v >> 16,
                (v >> 8) & 0xFF, v & 0xFF, av_version_info());
    std::fputs(WAVREL_LICENSE_NOTICE, stdout);
    return 0;
  }
  av_log_set_level(args.verbose ? AV_LOG_WARNING : AV_LOG_QUIET);

  // Everything that can fail before decoding is checked before the output is
  // created, so a bad start leaves no file behind.
  std::FILE* in = std::fopen(args.input.c_str(), "rb");
  if (in == nullptr) {
    return Fail("cannot open the input '" + args.input + "': " + std::strerror(errno));
  }
  struct stat in_stat {};
  if (fstat(fileno(in), &in_stat) != 0 || S_ISDIR(in_stat.st_mode)) {
    std::fclose(in);
    return Fail("cannot read the input '" + args.input + "': not a file");
  }
  evrc::EvrcDecoder decoder;
  if (!decoder.Open(evrc::DecodeOptions{.postfilter = args.postfilter}, &err)) {
    std::fclose(in);
    return Fail(err);
  }
  struct stat out_stat {};
  if (stat(args.output.c_str(), &out_stat) == 0 && out_stat.st_dev == in_stat.st_dev &&
      out_stat.st_ino == in_stat.st_ino) {
    std::fclose(in);
    return Fail("the output '" + args.output + "' is the input file");
  }
  std::FILE* out = std::fopen(args.output.c_str(), "wb");
  if (out == nullptr) {
    const int error = errno;
    std::fclose(in);
    return Fail("cannot create the output '" + args.output + "': " + std::strerror(error));
  }
  // Only a regular file is removed on failure: never /dev/null or a pipe.
  const bool regular = fstat(fileno(out), &out_stat) == 0 && S_ISREG(out_stat.st_mode);
  if (regular) {
    g_partial_output = args.output.c_str();
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) std::signal(sig, RemovePartialOutput);
  }

  evrc::DecodeStats stats;
  bool ok = decoder.DecodeStream(in, out, &stats, &err);
  std::fclose(in);
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
                 "evrc_2004: %llu frames decoded, %llu concealed (%llu erasures, %llu of unknown "
                 "rate)\n",
                 static_cast<unsigned long long>(stats.frames),
                 static_cast<unsigned long long>(stats.concealed),
                 static_cast<unsigned long long>(stats.erasures),
                 static_cast<unsigned long long>(stats.unknown));
    if (stats.trailing_bytes != 0) {
      std::fprintf(stderr, "evrc_2004: %zu bytes after the last whole record ignored\n",
                   stats.trailing_bytes);
    }
  }
  return 0;
}
