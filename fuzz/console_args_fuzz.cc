// The console's command line over any argument vector (the input's NUL
// bytes separate the arguments): a parse that succeeds names folders given
// on the line, folders become absolute and normal, and every printed name
// stays on its line and can be read back.
#include <algorithm>
#include <string>
#include <vector>

#include "frontends/console/console_args.h"
#include "fuzz/fuzz_target.h"

namespace {

/// The inverse of EscapeForLine, or text starting with byte 1 for text it cannot have made.
std::string Unescape(const std::string& line) {
  std::string out;
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] != '\\') {
      out.push_back(line[i]);
      continue;
    }
    const std::string rest = line.substr(i + 1);
    if (rest.rfind("\\", 0) == 0)
      out += '\\', i += 1;
    else if (rest.rfind("n", 0) == 0)
      out += '\n', i += 1;
    else if (rest.rfind("t", 0) == 0)
      out += '\t', i += 1;
    else if (rest.rfind("x", 0) == 0 && rest.size() >= 3) {
      out += static_cast<char>(std::stoi(rest.substr(1, 2), nullptr, 16)), i += 3;
    } else if (rest.rfind("u{", 0) == 0 && rest.size() >= 5 && rest[4] == '}') {
      out += '\xC2', out += static_cast<char>(std::stoi(rest.substr(2, 2), nullptr, 16)), i += 5;
    } else {
      return "\x01"
             "bad";
    }
  }
  return out;
}

bool IsNormalAbsolute(const std::string& folder) {
  if (folder.empty() || folder[0] != '/') return false;
  if (folder == "/") return true;
  if (folder.back() == '/' || folder.find("//") != std::string::npos) return false;
  const std::string padded = folder + "/";
  return padded.find("/./") == std::string::npos && padded.find("/../") == std::string::npos;
}

}  // namespace

WAVREL_FUZZ_TARGET(console_args)(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> args;
  const std::string text(reinterpret_cast<const char*>(data), size);
  for (std::size_t from = 0; from <= text.size() && args.size() < 16;) {
    const std::size_t end = std::min(text.find('\0', from), text.size());
    args.push_back(text.substr(from, end - from));
    from = end + 1;
  }

  wavrel::host::ConsoleArgs parsed;
  std::string err;
  if (wavrel::host::ParseConsoleArgs(args, &parsed, &err)) {
    if (!parsed.help && !parsed.version) {
      FUZZ_CHECK(std::count(args.begin(), args.end(), "convert") >= 1);
      FUZZ_CHECK(!parsed.input.empty());
      FUZZ_CHECK(std::count(args.begin(), args.end(), parsed.input) >= 1);
      FUZZ_CHECK(parsed.outputFolder.empty() ||
                 std::count(args.begin(), args.end(), parsed.outputFolder) >= 1);
    }
  } else {
    FUZZ_CHECK(!err.empty());
  }

  for (const std::string& arg : args) {
    const std::string folder = wavrel::host::AbsoluteFolder(arg, "/work/current");
    FUZZ_CHECK(IsNormalAbsolute(folder));
    FUZZ_CHECK(wavrel::host::AbsoluteFolder(folder, "/elsewhere") == folder);

    const std::string line = wavrel::host::EscapeForLine(arg);
    for (std::size_t i = 0; i < line.size(); ++i) {
      const auto byte = static_cast<unsigned char>(line[i]);
      FUZZ_CHECK(byte >= 0x20 && byte != 0x7F);
      FUZZ_CHECK(!(byte == 0xC2 && i + 1 < line.size() &&
                   static_cast<unsigned char>(line[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(line[i + 1]) <= 0x9F));
    }
    FUZZ_CHECK(Unescape(line) == arg);
  }
  return 0;
}
