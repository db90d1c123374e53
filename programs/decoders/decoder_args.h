// The command line of evrc_2004: -i FILE -o FILE -d in any order, as the
// plug-in builds it, and a few options for people running it by hand.
#pragma once

#include <string>
#include <vector>

namespace evrc {

struct DecoderArgs {
  std::string input;       ///< -i: raw EVRC packet file
  std::string output;      ///< -o: headerless 16-bit PCM file
  bool decode = false;     ///< -d: decode (the only direction this program has)
  bool postfilter = true;  ///< -p 0|1
  bool verbose = false;    ///< -v
  bool help = false;       ///< -h / --help: print the usage, nothing else
  bool version = false;    ///< --version: print the versions, nothing else
};

/// Parses the arguments after the program name. The word after -i, -o or -p
/// is always taken as its value, so a file name may begin with '-'. False
/// with a one-line message in *err for an unknown, repeated or incomplete
/// argument; once -h or --version is seen the rest is not looked at. Without
/// `postfilter_option` (qcelp_13k's decoder has no postfilter switch) -p is
/// an unknown argument.
bool ParseDecoderArgs(const std::vector<std::string>& args, DecoderArgs* out, std::string* err,
                      bool postfilter_option = true);

/// The usage texts printed for -h, several lines ending in a line feed.
std::string DecoderUsage();
std::string QcelpDecoderUsage();

}  // namespace evrc
