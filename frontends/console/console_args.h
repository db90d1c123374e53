// The console front end's command line.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace wavrel::host {

struct ConsoleArgs {
  bool help = false;
  bool version = false;        ///< --version: print the version, nothing else
  bool yes = false;            ///< answer OK to the question "some files are not QCP"
  bool quiet = false;          ///< -q/--quiet: no progress line on the terminal
  std::string language;        ///< --lang; empty: from the locale variables
  std::string input;           ///< a folder of recordings, or one recording
  std::string outputFolder;    ///< empty: the input folder, as browsing gives
  unsigned jobs = 0;           ///< -j/--jobs N; 0: the CPUs the process may use
  std::size_t shardIndex = 0;  ///< --shard K/N
  std::size_t shardCount = 1;
  bool sharded = false;
  bool recursive = false;     ///< -r/--recursive
  bool skipExisting = false;  ///< --skip-existing
  bool json = false;          ///< --json: JSON Lines on standard output
};

/// Parses argv[1..] as GNU tools do (getopt_long): `convert [-y|--yes] [-q|--quiet]
/// [--lang L] [-j|--jobs N] [--shard K/N] [-r|--recursive] [--skip-existing] [--json] [--]
/// INPUT [OUTPUT_DIR]`, or `--help`/`-h` or `--version` alone. Options may come anywhere
/// before "--", short ones joined (-qy, -j2), long ones abbreviated while unambiguous, values
/// after '=' (--jobs=2). false with *err on bad usage. Not reentrant (getopt's state is the
/// process's): one thread parses at a time.
bool ParseConsoleArgs(const std::vector<std::string>& args, ConsoleArgs* parsed, std::string* err);

/// folder made absolute and normal, without a trailing '/' (except "/"),
/// relative to currentFolder.
std::string AbsoluteFolder(const std::string& folder, const std::string& currentFolder);

/// text with control characters and backslashes escaped (\n, \t, \\, \xNN,
/// \u{NN} for C1 controls), so that every printed file name stays on its line
/// and cannot drive the terminal.
std::string EscapeForLine(const std::string& text);

extern const char kConsoleUsage[];

}  // namespace wavrel::host
