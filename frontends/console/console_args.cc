#include "frontends/console/console_args.h"

#include <getopt.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <string_view>
#include <utility>

#include "base/unicode.h"

namespace wavrel::host {
namespace {

constexpr std::size_t kMaxJobs = 1024;

/// A count of plain decimal digits (no sign, no spaces), at most 10^9.
bool ParseCount(const std::string& text, std::size_t* value) {
  if (text.empty() || text.size() > 9) return false;
  std::size_t result = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    result = result * 10 + static_cast<std::size_t>(c - '0');
  }
  *value = result;
  return true;
}

}  // namespace

const char kConsoleUsage[] =
    "Usage: wavrel convert [OPTION]... [--] INPUT [OUTPUT_DIR]\n"
    "       wavrel --help | --version\n"
    "\n"
    "Converts every QCP recording (EVRC or QCELP-13K speech) in the folder\n"
    "INPUT, or the one recording INPUT, into a WAV file of the same name in\n"
    "OUTPUT_DIR, which defaults to INPUT's folder. Files are recognised by\n"
    "their content, whatever their names. Subfolders are not entered unless\n"
    "--recursive is given. Options may come anywhere before \"--\";\n"
    "short ones may be joined (-qy, -j2), long ones shortened while they stay\n"
    "unambiguous, and a value may follow after '=' (--jobs=2).\n"
    "\n"
    "Options:\n"
    "  -y, --yes            when some files are not QCP recordings, convert the\n"
    "                       others without asking (otherwise asked on a\n"
    "                       terminal; without one, nothing is converted)\n"
    "  -q, --quiet          show no progress line (by default one is kept up to\n"
    "                       date on standard error when it is a terminal)\n"
    "      --lang L         language of the messages: en, zh_CN (default: LC_ALL,\n"
    "                       LC_MESSAGES or LANG)\n"
    "  -j, --jobs N         convert N recordings at a time (default: the CPUs this\n"
    "                       process may use); the WAVs are the same whatever N\n"
    "      --shard K/N      convert only the recordings at positions K, K+N,\n"
    "                       K+2N ... of the sorted list (0 <= K < N), under the\n"
    "                       names of the whole run\n"
    "  -r, --recursive      enter subfolders (not through links) and mirror them\n"
    "                       under OUTPUT_DIR\n"
    "      --skip-existing  report a recording whose WAV is already complete as\n"
    "                       skipped instead of converting it again\n"
    "      --json           standard output as JSON Lines: one object per\n"
    "                       recording and a summary object (no progress line)\n"
    "  -h, --help           show this text\n"
    "      --version        print the version\n"
    "\n"
    "Standard output gets one line per file and a summary:\n"
    "  ok  NAME -> WAV_PATH (FRAMES frames, LOST lost[, cut short])\n"
    "  FAILED NAME: REASON\n"
    "  skipped NAME: not a QCP recording\n"
    "Control characters, backslashes and bytes that are not UTF-8 in names are\n"
    "written as \\n, \\t, \\xNN, \\\\.\n"
    "Progress and messages go to standard error. Ctrl-C (or Ctrl-\\) cancels the\n"
    "conversion and removes the file in work.\n"
    "\n"
    "Exit status: 0 every file got its WAV; 1 some failed, or cancelled, or the\n"
    "report could not be written;\n"
    "2 nothing converted (a check refused: see the message) or bad usage.\n";

namespace {

// getopt_long's codes of the options without a short form.
enum LongOnly : int { kVersion = 256, kSkipExisting, kJson, kShard, kLang };

constexpr option kLongOptions[] = {
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, kVersion},
    {"yes", no_argument, nullptr, 'y'},
    {"quiet", no_argument, nullptr, 'q'},
    {"recursive", no_argument, nullptr, 'r'},
    {"skip-existing", no_argument, nullptr, kSkipExisting},
    {"json", no_argument, nullptr, kJson},
    {"jobs", required_argument, nullptr, 'j'},
    {"shard", required_argument, nullptr, kShard},
    {"lang", required_argument, nullptr, kLang},
    {nullptr, 0, nullptr, 0},
};
// '-': every argument comes back in order, the non-options as code 1, so
// that POSIXLY_CORRECT cannot change the meaning; ':': a missing value is
// told apart from an unknown option.
constexpr char kShortOptions[] = "-:hyqrj:";

std::string JobsError() { return "--jobs needs a number from 1 to " + std::to_string(kMaxJobs); }
const char kShardError[] = "--shard needs K/N with 0 <= K < N";
const char kLangError[] = "--lang needs a language (en, zh_CN)";

/// The message for a missing value of the option getopt_long names by code.
std::string MissingValue(int code) {
  switch (code) {
    case 'j':
      return JobsError();
    case kShard:
      return kShardError;
    default:
      return kLangError;
  }
}

}  // namespace

bool ParseConsoleArgs(const std::vector<std::string>& args, ConsoleArgs* parsed, std::string* err) {
  *parsed = ConsoleArgs();
  // getopt_long wants a mutable, null-terminated argv with the program first.
  std::vector<std::string> words;
  words.reserve(args.size() + 1);
  words.emplace_back("wavrel");
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  const int argc = static_cast<int>(words.size());

  std::vector<std::string> positional;
  optind = 0;  // a fresh scan: glibc starts over, forgetting the last one
  opterr = 0;  // the messages are ours
  // The options that only switch something on.
  static constexpr std::pair<int, bool ConsoleArgs::*> kSwitches[] = {
      {'h', &ConsoleArgs::help},      {kVersion, &ConsoleArgs::version},
      {'y', &ConsoleArgs::yes},       {'q', &ConsoleArgs::quiet},
      {'r', &ConsoleArgs::recursive}, {kSkipExisting, &ConsoleArgs::skipExisting},
      {kJson, &ConsoleArgs::json}};
  for (;;) {
    const int code = getopt_long(argc, argv.data(), kShortOptions, kLongOptions, nullptr);
    if (code == -1) break;
    const auto isSwitch = [code](const auto& entry) { return entry.first == code; };
    if (const auto* on = std::find_if(std::begin(kSwitches), std::end(kSwitches), isSwitch);
        on != std::end(kSwitches)) {
      parsed->*(on->second) = true;
      continue;
    }
    switch (code) {
      case 1:
        positional.emplace_back(optarg);
        break;
      case 'j': {
        std::size_t jobs = 0;
        if (!ParseCount(optarg, &jobs) || jobs == 0 || jobs > kMaxJobs) {
          *err = JobsError();
          return false;
        }
        parsed->jobs = static_cast<unsigned>(jobs);
        break;
      }
      case kShard: {
        const std::string value = optarg;
        const std::size_t slash = value.find('/');
        std::size_t k = 0;
        std::size_t n = 0;
        if (slash == std::string::npos || !ParseCount(value.substr(0, slash), &k) ||
            !ParseCount(value.substr(slash + 1), &n) || n == 0 || k >= n) {
          *err = kShardError;
          return false;
        }
        parsed->shardIndex = k;
        parsed->shardCount = n;
        parsed->sharded = true;
        break;
      }
      case kLang:
        parsed->language = optarg;
        if (parsed->language.empty()) {
          *err = kLangError;
          return false;
        }
        break;
      case ':':
        *err = MissingValue(optopt);
        return false;
      default: {
        // '?': an unknown (or ambiguous) option, or a value given to one
        // that takes none. The word is the one just read, except inside a
        // group of short options, where it is the letter.
        const std::string word = optind > 0 && optind <= argc ? words[optind - 1] : "";
        if (word.rfind("--", 0) == 0) {
          const std::size_t equals = word.find('=');
          *err = optopt != 0 && equals != std::string::npos
                     ? word.substr(0, equals) + " takes no value"
                     : "unknown option " + word.substr(0, equals);
        } else {
          *err = std::string("unknown option -") + static_cast<char>(optopt);
        }
        return false;
      }
    }
  }
  // Everything after "--" is a folder, whatever it looks like.
  for (int i = optind; i < argc; ++i) positional.push_back(words[i]);

  if (parsed->help || parsed->version) return true;
  if (positional.empty()) {
    *err = "no command given";
    return false;
  }
  if (positional[0] != "convert") {
    *err = "unknown command " + positional[0];
    return false;
  }
  if (positional.size() < 2 || positional.size() > 3) {
    *err = "convert takes an input folder and an optional output folder";
    return false;
  }
  if (positional[1].empty() || (positional.size() == 3 && positional[2].empty())) {
    *err = "a folder name is empty";
    return false;
  }
  parsed->input = positional[1];
  if (positional.size() == 3) parsed->outputFolder = positional[2];
  return true;
}

std::string AbsoluteFolder(const std::string& folder, const std::string& currentFolder) {
  std::filesystem::path path(folder);
  if (path.is_relative()) path = std::filesystem::path(currentFolder) / path;
  std::string normal = path.lexically_normal().string();
  while (normal.size() > 1 && normal.back() == '/') normal.pop_back();
  return normal;
}

std::string EscapeForLine(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const auto byte = static_cast<unsigned char>(c);
    const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
    if (byte == 0xC2 && next >= 0x80 && next <= 0x9F) {
      // U+0080..U+009F: C1 controls, which some terminals obey in UTF-8 too.
      char hex[8];
      std::snprintf(hex, sizeof(hex), "\\u{%02X}", next);
      out += hex;
      ++i;
    } else if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (byte < 0x20 || byte == 0x7F) {
      char hex[5];
      std::snprintf(hex, sizeof(hex), "\\x%02X", byte);
      out += hex;
    } else if (byte >= 0x80) {
      // A whole UTF-8 sequence is kept; a byte outside one is written as \xNN.
      const std::size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
      bool valid = length > 1 && i + length <= text.size();
      if (valid) base::Utf8ToUtf16Replacing(std::string_view(text).substr(i, length), &valid);
      if (valid) {
        out.append(text, i, length);
        i += length - 1;
      } else {
        char hex[5];
        std::snprintf(hex, sizeof(hex), "\\x%02X", byte);
        out += hex;
      }
    } else {
      out.push_back(c);
    }
  }
  return out;
}

}  // namespace wavrel::host
