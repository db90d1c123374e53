#include "programs/decoders/decoder_args.h"

namespace evrc {

bool ParseDecoderArgs(const std::vector<std::string>& args, DecoderArgs* out, std::string* err,
                      bool postfilter_option) {
  DecoderArgs parsed;
  bool have_input = false;
  bool have_output = false;
  bool have_postfilter = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "-h" || arg == "--help") {
      *out = DecoderArgs{};
      out->help = true;
      return true;
    }
    if (arg == "--version") {
      *out = DecoderArgs{};
      out->version = true;
      return true;
    }
    if (arg == "-d") {
      parsed.decode = true;
    } else if (arg == "-v") {
      parsed.verbose = true;
    } else if (arg == "-i" || arg == "-o" || (arg == "-p" && postfilter_option)) {
      if (i + 1 == args.size()) {
        *err = "option " + arg + " needs a value";
        return false;
      }
      const std::string& value = args[++i];
      bool& seen = arg == "-i" ? have_input : arg == "-o" ? have_output : have_postfilter;
      if (seen) {
        *err = "option " + arg + " is given twice";
        return false;
      }
      seen = true;
      if (arg == "-p") {
        if (value != "0" && value != "1") {
          *err = "option -p takes 0 (postfilter off) or 1 (on), not '" + value + "'";
          return false;
        }
        parsed.postfilter = value == "1";
      } else if (value.empty()) {
        *err = "option " + arg + " needs a file name";
        return false;
      } else {
        (arg == "-i" ? parsed.input : parsed.output) = value;
      }
    } else {
      *err = "unknown argument '" + arg + "'";
      return false;
    }
  }
  if (!have_input) {
    *err = "no input file: give -i FILE";
    return false;
  }
  if (!have_output) {
    *err = "no output file: give -o FILE";
    return false;
  }
  if (!parsed.decode) {
    *err = "only decoding is supported: give -d";
    return false;
  }
  *out = parsed;
  return true;
}

std::string DecoderUsage() {
  return "usage: evrc_2004 -i EVRC_FILE -o PCM_FILE -d [-p 0|1] [-v]\n"
         "Decodes a raw EVRC packet file (24-byte records) into headerless 16-bit\n"
         "little-endian mono PCM at 8000 samples per second, 160 samples per record.\n"
         "  -i FILE   raw EVRC packet file to read\n"
         "  -o FILE   PCM file to write (replaced if it exists)\n"
         "  -d        decode (required; this program does not encode)\n"
         "  -p 0|1    postfilter off or on (default on)\n"
         "  -v        report the frame counts and the library's messages on stderr\n"
         "  -h        print this help\n"
         "  --version print the version and the libavcodec it runs on\n";
}

std::string QcelpDecoderUsage() {
  return "usage: qcelp_13k -i QCP_FILE -o PCM_FILE -d [-v]\n"
         "Decodes the QCELP-13K speech of a QCP file into headerless 16-bit\n"
         "little-endian mono PCM at 8000 samples per second, 160 samples per packet,\n"
         "and appends a record of the lost frames to loss_stat.txt in the current folder.\n"
         "  -i FILE   QCP file to read\n"
         "  -o FILE   PCM file to write (replaced if it exists)\n"
         "  -d        decode (required; this program does not encode)\n"
         "  -v        report the frame counts and the library's messages on stderr\n"
         "  -h        print this help\n"
         "  --version print the version and the libavcodec it runs on\n";
}

}  // namespace evrc
