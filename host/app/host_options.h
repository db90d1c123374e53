// The command line of wavrel-host.
#pragma once

#include <string>
#include <vector>

namespace wavrel::host {

struct HostOptions {
  bool help = false;
  bool openConverter = false;      // open the conversion dialog at start
  std::string language;            // --lang; empty: from the environment
  std::vector<std::string> paths;  // recordings or folders to open the dialog with
  std::string error;               // not empty when the command line is wrong
};

/// Parses the arguments after the program name: --help/-h, --lang L
/// (--lang=L), --open-converter, then files or folders (after "--" too),
/// each of which must exist. Arguments Qt understands (-platform X, -style
/// X, ...) are left to Qt and must not reach here.
HostOptions ParseHostOptions(const std::vector<std::string>& args);

/// The text --help prints.
std::string HostUsage(const std::string& program);

}  // namespace wavrel::host
