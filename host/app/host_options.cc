#include "host/app/host_options.h"

#include <filesystem>
#include <system_error>

namespace wavrel::host {

HostOptions ParseHostOptions(const std::vector<std::string>& args) {
  HostOptions options;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
      std::error_code error;
      if (!std::filesystem::exists(arg, error)) {
        options.error = "no such file or folder: " + arg;
        return options;
      }
      options.paths.push_back(arg);
    } else if (arg == "--") {
      optionsEnded = true;
    } else if (arg == "--help" || arg == "-h") {
      options.help = true;
    } else if (arg == "--open-converter") {
      options.openConverter = true;
    } else if (arg == "--lang") {
      if (i + 1 >= args.size() || args[i + 1].empty()) {
        options.error = "--lang needs a language, such as en or zh_CN";
        return options;
      }
      options.language = args[++i];
    } else if (arg.starts_with("--lang=")) {
      options.language = arg.substr(7);
      if (options.language.empty()) {
        options.error = "--lang needs a language, such as en or zh_CN";
        return options;
      }
    } else {
      options.error = "unknown argument: " + arg;
      return options;
    }
  }
  return options;
}

std::string HostUsage(const std::string& program) {
  return "Usage: " + program +
         " [--lang L] [--open-converter] [--] [FILE|FOLDER]...\n"
         "Opens the Wavrel host window, which runs the QCP to WAV conversion plug-in\n"
         "from Plugins/WavrelPlugin/ beside this program. Given recordings or a\n"
         "folder, it opens the conversion dialog with their folder chosen.\n"
         "\n"
         "  --lang L           language of the texts (en, zh_CN, ...); default from\n"
         "                     LC_ALL, LC_MESSAGES or LANG, else en\n"
         "  --open-converter   open the conversion dialog at start\n"
         "  -h, --help         show this help and exit\n"
         "  --version          print the version and exit\n";
}

}  // namespace wavrel::host
