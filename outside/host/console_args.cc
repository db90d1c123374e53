#include "outside/host/console_args.h"

#include <cstdio>
#include <filesystem>
#include <string_view>

#include "outside/host/utf.h"

namespace wavrel::host {

const char kConsoleUsage[] =
    "Usage: wavrel convert [--yes] [--quiet] [--lang L] [--] INPUT_DIR [OUTPUT_DIR]\n"
    "       wavrel --help | --version\n"
    "\n"
    "Converts every QCP recording in INPUT_DIR (files are recognised by their\n"
    "content, whatever their names) into a WAV file of the same name in\n"
    "OUTPUT_DIR, which defaults to INPUT_DIR. Subfolders are not entered.\n"
    "\n"
    "Options:\n"
    "  --yes      when some files are not QCP recordings, convert the others\n"
    "             without asking (otherwise asked on a terminal, or answered by\n"
    "             XMESSAGEBOX_ANSWER=ok|cancel; with neither, nothing is converted)\n"
    "  -q, --quiet show no progress line (by default one is kept up to date on\n"
    "             standard error when it is a terminal)\n"
    "  --lang L   language of the messages: en, zh_CN (default: LC_ALL,\n"
    "             LC_MESSAGES or LANG)\n"
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
