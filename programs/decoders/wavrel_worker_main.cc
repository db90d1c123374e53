// wavrel-worker: the worker of `wavrel convert`, one per job for the whole
// run. It does, request after request, what vocrate, evrc_2004 and
// qcelp_13k do (the same code: vocrate::Run, evrc::RunEvrc2004,
// evrc::RunQcelp13k), each in the request's working folder, with a fresh
// decoder for every recording, so that its output is byte for byte the
// programs' own. The protocol is in platform/worker_process.h. It
// talks only on its standard input and output; the programs' console texts
// and error lines go nowhere, as they do when the pipeline starts them.
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/worker_process.h"
#include "programs/decoders/decoder_programs.h"
#include "programs/vocrate/vocrate_run.h"

namespace {

/// Reads exactly bytes from fd 0 into *out; false at the end of the input.
bool ReadExactly(std::size_t bytes, std::string* buffer, std::string* out) {
  while (buffer->size() < bytes) {
    char chunk[4096];
    const ssize_t got = read(STDIN_FILENO, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    buffer->append(chunk, static_cast<std::size_t>(got));
  }
  out->assign(*buffer, 0, bytes);
  buffer->erase(0, bytes);
  return true;
}

/// Reads one line (without its newline) of at most 32 bytes.
bool ReadLine(std::string* buffer, std::string* line) {
  for (;;) {
    const std::size_t newline = buffer->find('\n');
    if (newline != std::string::npos) {
      line->assign(*buffer, 0, newline);
      buffer->erase(0, newline + 1);
      return true;
    }
    if (buffer->size() > 32) return false;
    char chunk[4096];
    const ssize_t got = read(STDIN_FILENO, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    buffer->append(chunk, static_cast<std::size_t>(got));
  }
}

bool WriteAll(const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(STDOUT_FILENO, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

/// One request: the program's exit status (0-255).
int Serve(const std::vector<std::string>& fields, std::FILE* nothingIn, std::FILE* nothingOut) {
  if (fields.size() < 2) return 2;
  const std::string& program = fields[0];
  const std::vector<std::string> args(fields.begin() + 2, fields.end());
  // The program runs in its working folder, as a started program would.
  if (chdir(fields[1].c_str()) != 0) return 127;
  evrc::ProgramStreams streams;
  streams.out = nothingOut;
  streams.err = nothingOut;
  int status = 127;
  if (program == "vocrate") {
    std::vector<const char*> argv{"vocrate"};
    for (const std::string& arg : args) argv.push_back(arg.c_str());
    status = vocrate::Run(static_cast<int>(argv.size()), argv.data(),
                          vocrate::ConsoleTextsFor("UTF-8"), nothingOut, nothingIn);
  } else if (program == "evrc_2004") {
    status = evrc::RunEvrc2004(args, streams);
  } else if (program == "qcelp_13k") {
    status = evrc::RunQcelp13k(args, streams);
  }
  std::fflush(nothingOut);
  std::clearerr(nothingIn);
  return status & 0xFF;
}

}  // namespace

int main(int argc, char**) {
  if (argc != 1) {
    std::fputs("wavrel-worker: started by wavrel convert only, with no arguments\n", stderr);
    return 2;
  }
  // As the programs: past a file size limit a write fails instead.
  std::signal(SIGXFSZ, SIG_IGN);
  std::FILE* nothingIn = std::fopen("/dev/null", "r");
  std::FILE* nothingOut = std::fopen("/dev/null", "w");
  if (nothingIn == nullptr || nothingOut == nullptr) return 1;
  if (!WriteAll(wavrel::WorkerGreeting() + "\n")) return 1;
  std::string buffer;
  std::string line;
  std::string request;
  std::vector<std::string> fields;
  while (ReadLine(&buffer, &line)) {
    char* end = nullptr;
    const unsigned long long bytes = std::strtoull(line.c_str(), &end, 10);
    if (line.empty() || *end != '\0' || bytes > wavrel::kMaxWorkerRequestBytes ||
        !ReadExactly(static_cast<std::size_t>(bytes), &buffer, &request) ||
        !wavrel::DecodeWorkerRequest(request, &fields)) {
      return 2;  // not the protocol: the client sees the end and says so
    }
    if (!WriteAll(std::to_string(Serve(fields, nothingIn, nothingOut)) + "\n")) return 1;
  }
  return 0;
}
