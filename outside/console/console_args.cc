#include "outside/console/console_args.h"

#include <cstdio>
#include <filesystem>
#include <string_view>

#include "outside/host/utf.h"

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
    "Usage: wavrel convert [--yes] [--quiet] [--lang L] [--jobs N] [--shard K/N]\n"
    "                      [--recursive] [--skip-existing] [--json] [--]\n"
    "                      INPUT_DIR [OUTPUT_DIR]\n"
    "       wavrel --help | --version\n"
    "\n"
    "Converts every QCP recording in INPUT_DIR (files are recognised by their\n"
    "content, whatever their names) into a WAV file of the same name in\n"
    "OUTPUT_DIR, which defaults to INPUT_DIR. Subfolders are not entered\n"
    "unless --recursive is given.\n"
    "\n"
    "Options:\n"
    "  --yes      when some files are not QCP recordings, convert the others\n"
    "             without asking (otherwise asked on a terminal, or answered by\n"
    "             XMESSAGEBOX_ANSWER=ok|cancel; with neither, nothing is converted)\n"
    "  -q, --quiet show no progress line (by default one is kept up to date on\n"
    "             standard error when it is a terminal)\n"
    "  --lang L   language of the messages: en, zh_CN (default: LC_ALL,\n"
    "             LC_MESSAGES or LANG)\n"
    "  -j, --jobs N  convert N recordings at a time (default: the CPUs this\n"
    "             process may use); the WAVs are the same whatever N\n"
    "  --shard K/N  convert only the recordings at positions K, K+N, K+2N ... of\n"
    "             the sorted list (0 <= K < N), under the names of the whole run\n"
    "  -r, --recursive  enter subfolders (not through links) and mirror them\n"
    "             under OUTPUT_DIR\n"
    "  --skip-existing  report a recording whose WAV is already complete as\n"
    "             skipped instead of converting it again\n"
    "  --json     standard output as JSON Lines: one object per recording and a\n"
    "             summary object (no progress line)\n"
    "  -h, --help show this text\n"
    "  --version  print the version\n"
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

bool ParseConsoleArgs(const std::vector<std::string>& args, ConsoleArgs* parsed, std::string* err) {
  *parsed = ConsoleArgs();
  std::vector<std::string> positional;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
      positional.push_back(arg);
    } else if (arg == "--") {
      optionsEnded = true;
    } else if (arg == "-h" || arg == "--help") {
      parsed->help = true;
    } else if (arg == "--version") {
      parsed->version = true;
    } else if (arg == "--quiet" || arg == "-q") {
      parsed->quiet = true;
    } else if (arg == "--yes" || arg == "-y") {
      parsed->yes = true;
    } else if (arg == "--recursive" || arg == "-r") {
      parsed->recursive = true;
    } else if (arg == "--skip-existing") {
      parsed->skipExisting = true;
    } else if (arg == "--json") {
      parsed->json = true;
    } else if (arg == "--jobs" || arg == "-j" || arg.rfind("--jobs=", 0) == 0) {
      std::string value;
      if (arg.size() > 7) {
        value = arg.substr(7);
      } else if (i + 1 < args.size()) {
        value = args[++i];
      }
      std::size_t jobs = 0;
      if (!ParseCount(value, &jobs) || jobs == 0 || jobs > kMaxJobs) {
        *err = "--jobs needs a number from 1 to " + std::to_string(kMaxJobs);
        return false;
      }
      parsed->jobs = static_cast<unsigned>(jobs);
    } else if (arg == "--shard" || arg.rfind("--shard=", 0) == 0) {
      std::string value;
      if (arg.size() > 8) {
        value = arg.substr(8);
      } else if (i + 1 < args.size()) {
        value = args[++i];
      }
      const std::size_t slash = value.find('/');
      std::size_t k = 0;
      std::size_t n = 0;
      if (slash == std::string::npos || !ParseCount(value.substr(0, slash), &k) ||
          !ParseCount(value.substr(slash + 1), &n) || n == 0 || k >= n) {
        *err = "--shard needs K/N with 0 <= K < N";
        return false;
      }
      parsed->shardIndex = k;
      parsed->shardCount = n;
      parsed->sharded = true;
    } else if (arg == "--lang" || arg.rfind("--lang=", 0) == 0) {
      if (arg == "--lang") {
        if (i + 1 == args.size()) {
          *err = "--lang needs a language (en, zh_CN)";
          return false;
        }
        parsed->language = args[++i];
      } else {
        parsed->language = arg.substr(7);
      }
      if (parsed->language.empty()) {
        *err = "--lang needs a language (en, zh_CN)";
        return false;
      }
    } else {
      *err = "unknown option " + arg;
      return false;
    }
  }
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
  parsed->inputFolder = positional[1];
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
      if (valid) Utf8ToUtf16(std::string_view(text).substr(i, length), &valid);
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
