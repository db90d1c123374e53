// Stand-in for the converter and the decoder in the engine's tests. Its role
// comes from the name it was started under ("vocrate" or "evrc_2004"), its
// behaviour from the environment:
//   FAKE_VOCRATE / FAKE_EVRC_2004   ok (default) | fail3 | segv | nopcm | sleep=<ms>
//   FAKE_VOCRATE_ONLY / FAKE_EVRC_2004_ONLY   apply the mode only when the
//                                   input path contains this text
//   FAKE_PCM_BYTES                  the decoder writes this many bytes instead
//                                   of copying its input
//   FAKE_CHILD_LOG                  append "<role> <pid> <cwd> <args...>" at start
// "ok": vocrate copies its source to its destination and writes a loss
// record (10 frames, 2 lost) to loss_stat.txt in its working directory; the
// decoder copies its input to its output (or writes FAKE_PCM_BYTES bytes).
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

namespace {

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

bool Copy(const std::string& from, const std::string& to) {
  std::ifstream in(from, std::ios::binary);
  if (!in) return false;
  std::ofstream out(to, std::ios::binary | std::ios::trunc);
  out << in.rdbuf();
  return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
  std::string role = argv[0];
  role = role.substr(role.rfind('/') + 1);
  const bool converter = role == "vocrate";
  const std::string upper = converter ? "FAKE_VOCRATE" : "FAKE_EVRC_2004";
  // vocrate: source destination option; evrc_2004: -i in -o out -d
  const std::string input = converter ? (argc > 1 ? argv[1] : "") : (argc > 2 ? argv[2] : "");
  const std::string output = converter ? (argc > 2 ? argv[2] : "") : (argc > 4 ? argv[4] : "");

  if (const std::string log = Env("FAKE_CHILD_LOG"); !log.empty()) {
    char cwd[4096] = "";
    if (getcwd(cwd, sizeof cwd) == nullptr) cwd[0] = '\0';
    std::string line = role + " " + std::to_string(getpid()) + " " + cwd;
    for (int i = 1; i < argc; ++i) line += std::string(" ") + argv[i];
    if (std::FILE* f = std::fopen(log.c_str(), "a")) {
      std::fprintf(f, "%s\n", line.c_str());
      std::fclose(f);
    }
  }

  std::string mode = Env(upper.c_str());
  const std::string only = Env((upper + "_ONLY").c_str());
  if (!only.empty() && input.find(only) == std::string::npos) mode = "ok";

  if (mode.rfind("sleep=", 0) == 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(mode.c_str() + 6)));
    mode = "ok";
  }
  if (mode == "fail3") return 3;
  if (mode == "segv") {
    const rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    signal(SIGSEGV, SIG_DFL);
    raise(SIGSEGV);
    return 99;
  }
  if (mode == "nopcm") return 0;

  if (converter) {
    if (argc != 4 || !Copy(input, output)) return 255;
    std::FILE* stat = std::fopen("loss_stat.txt", "ab");
    if (stat == nullptr) return 255;
    std::fprintf(stat,
                 "FILE : %s is opened. LOSS PACKAGE POS:\r\n 3, 7, \r\n TOTAL FRAMES = 10, TOTAL "
                 "LOSS PACKAGE = 2, loss rate = 0.200000 \r\n\r\n ",
                 input.c_str());
    std::fclose(stat);
    return 0;
  }
  if (argc != 6) return 255;
  if (const std::string bytes = Env("FAKE_PCM_BYTES"); !bytes.empty()) {
    std::ofstream out(output, std::ios::binary | std::ios::trunc);
    const std::string block(std::strtoull(bytes.c_str(), nullptr, 10), '\x11');
    out << block;
    return out ? 0 : 255;
  }
  return Copy(input, output) ? 0 : 255;
}
