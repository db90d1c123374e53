// evrc_2004 and qcelp_13k as functions: each program's whole run over its
// command line, so that the programs themselves and the worker of
// `wavrel convert` run the same code. The programs' mains are ProgramMain.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace evrc {

struct ProgramStreams {
  std::FILE* out = stdout;  ///< the usage and version texts
  std::FILE* err = stderr;  ///< the error lines
  /// Told the path of a regular output file once it is created, and nullptr
  /// once it is complete or removed (a program removes it when a signal ends
  /// it early); may be null.
  void (*partialOutput)(const char* path) = nullptr;
};

/// The arguments after the program's name; the exit status.
using ProgramRun = int (*)(const std::vector<std::string>& args, const ProgramStreams& streams);

/// evrc_2004: raw EVRC packets to PCM. 0 when the whole input was decoded;
/// 2 for a bad command line; 1 when the input cannot be read, the decoder
/// cannot be set up or the output cannot be written (nothing is left under
/// the output name then).
int RunEvrc2004(const std::vector<std::string>& args, const ProgramStreams& streams);
/// qcelp_13k: a QCELP-13K QCP file to PCM, its lost frames appended to
/// loss_stat.txt in the current folder. 0, 2 or 1 as RunEvrc2004 (1 also
/// when the input is not QCELP-13K speech or loss_stat.txt cannot be written).
int RunQcelp13k(const std::vector<std::string>& args, const ProgramStreams& streams);

/// A program's main: the output removed when SIGINT, SIGTERM or SIGHUP ends
/// it early, SIGXFSZ ignored (past a file size limit a write fails, the
/// output is removed), the standard streams.
int ProgramMain(int argc, char** argv, ProgramRun run);

}  // namespace evrc
