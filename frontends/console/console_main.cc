// wavrel: the console front end over the conversion core. It hands the
// command line's folders to the core, answers the core's question itself
// (--yes) or through a message box, and prints what the core tells it
// (ConsoleReport). Its texts are the dialog's, from the language file, and
// its message boxes come from libXMessageBox.so beside the executable.
//
// Signals: until a conversion starts, Ctrl-C ends the program at once (the
// checks write nothing). From the moment it starts, SIGINT, SIGTERM, SIGHUP
// and SIGQUIT are only noted (a self-pipe) and served on the main thread,
// which stops the run through its stop token, so that no work folder and no
// partial WAV file is left behind, however often the signal comes. A signal
// ignored when the program starts (nohup) stays ignored.
#include <fcntl.h>
#include <malloc.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "base/unicode.h"
#include "core/batch_conversion.h"
#include "core/settings.h"
#include "core/worker_environment.h"
#include "frontends/console/console_args.h"
#include "frontends/console/console_report.h"
#include "frontends/dialog/dialog_environment.h"
#include "frontends/dialog/dialog_texts.h"
#include "host/language/language_host.h"
#include "plugin/host_services.h"
#include "wavrel_version.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitRefused = 2;

const int kHandledSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

int g_signalPipe[2] = {-1, -1};
std::atomic<bool> g_deferSignals{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void OnSignal(int signal) {
  if (!g_deferSignals.load()) {
    // Nothing to clean up yet: end the way the signal would have.
    ::signal(signal, SIG_DFL);
    ::raise(signal);
    return;
  }
  const int savedErrno = errno;
  const char note = static_cast<char>(signal);
  [[maybe_unused]] const ssize_t written = ::write(g_signalPipe[1], &note, 1);
  errno = savedErrno;
}

bool InstallSignalHandlers() {
  if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  struct sigaction action = {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (const int signal : kHandledSignals) {
    // A signal ignored from the start stays ignored (`nohup wavrel ...`, or
    // SIGINT and SIGQUIT of a background job of a non-interactive shell).
    struct sigaction previous = {};
    if (::sigaction(signal, nullptr, &previous) != 0) return false;
    if (previous.sa_handler == SIG_IGN) continue;
    if (::sigaction(signal, &action, nullptr) != 0) return false;
  }
  return true;
}

void SetSignalsBlocked(bool blocked) {
  sigset_t set;
  sigemptyset(&set);
  for (const int signal : kHandledSignals) sigaddset(&set, signal);
  pthread_sigmask(blocked ? SIG_BLOCK : SIG_UNBLOCK, &set, nullptr);
}

/// Waits up to timeoutMs for a signal; true when one (or more) came.
bool WaitForSignal(int timeoutMs) {
  pollfd fd = {g_signalPipe[0], POLLIN, 0};
  const int ready = ::poll(&fd, 1, timeoutMs);
  if (ready <= 0) return false;
  char drained[64];
  while (::read(g_signalPipe[0], drained, sizeof(drained)) > 0) {
  }
  return true;
}

void PrintError(const std::string& text) { std::fprintf(stderr, "wavrel: %s\n", text.c_str()); }

/// The console's own text of key, or fallback when the language has none.
std::string ConsoleText(const wavrel::host::IniLocaleService& texts, std::u16string_view key,
                        const char* fallback) {
  const std::u16string text = texts.Text(u"WavrelConsole", key);
  return text.empty() ? fallback : wavrel::base::Utf16ToUtf8Replacing(text);
}

/// The languages of the lang/ folder beside the program: the names of its
/// .ini files, sorted.
std::vector<std::string> AvailableLanguages() {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry :
       std::filesystem::directory_iterator(wavrel::host::ExecutableFolder() + "lang", ec)) {
    if (entry.path().extension() == ".ini") names.push_back(entry.path().stem().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

/// The CPUs this process may run on (its affinity mask), at least 1.
unsigned UsableCpus() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (::sched_getaffinity(0, sizeof(set), &set) != 0) return 1;
  return static_cast<unsigned>(std::max(CPU_COUNT(&set), 1));
}

}  // namespace

int main(int argc, char** argv) {
  using namespace wavrel;
  using namespace wavrel::host;
  // The jobs' threads mostly wait for their workers: one heap for all of
  // them keeps a large archive's plan and outcomes from being held in an
  // arena per thread (a few MB more at 10,000 recordings).
  mallopt(M_ARENA_MAX, 1);

  host::ConsoleArgs args;
  std::string err;
  if (!ParseConsoleArgs(std::vector<std::string>(argv + 1, argv + argc), &args, &err)) {
    PrintError(err);
    std::fputs("Try 'wavrel --help'.\n", stderr);
    return kExitRefused;
  }
  if (args.help) {
    std::fputs(kConsoleUsage, stdout);
    return kExitOk;
  }
  if (args.version) {
    std::fputs("wavrel " WAVREL_VERSION "\n" WAVREL_LICENSE_NOTICE, stdout);
    return kExitOk;
  }
  if (!args.language.empty()) {
    // A language is the name of a file in lang/, nothing else.
    const std::vector<std::string> languages = AvailableLanguages();
    if (std::find(languages.begin(), languages.end(), args.language) == languages.end()) {
      std::string list;
      for (const std::string& name : languages) list += (list.empty() ? "" : ", ") + name;
      PrintError("unknown language '" + EscapeForLine(args.language) + "' (available: " + list +
                 ")");
      std::fputs("Try 'wavrel --help'.\n", stderr);
      return kExitRefused;
    }
  }

  std::error_code ec;
  const std::string currentFolder = std::filesystem::current_path(ec).string();
  if (ec) {
    PrintError("cannot determine the current folder: " + ec.message());
    return kExitRefused;
  }
  // INPUT is a folder of recordings, or one recording: its folder is then
  // the input folder, and the default output folder.
  const std::string inputPath = AbsoluteFolder(args.input, currentFolder);
  const bool inputIsFile =
      std::filesystem::exists(inputPath, ec) && !std::filesystem::is_directory(inputPath, ec);
  const std::string input =
      inputIsFile ? std::filesystem::path(inputPath).parent_path().string() : inputPath;
  const std::string output =
      args.outputFolder.empty() ? input : AbsoluteFolder(args.outputFolder, currentFolder);

  // A folder picker can make a new output folder; on the command line a
  // missing OUTPUT_DIR is made the same way (with its parents).
  if (!args.outputFolder.empty() && !std::filesystem::exists(output, ec)) {
    std::filesystem::create_directories(output, ec);
    if (ec) PrintError("cannot create the output folder " + output + ": " + ec.message());
  }

  const std::unique_ptr<HostLanguage> language = LoadHostLanguage(args.language);
  if (language->language.empty()) {
    PrintError("no language file found in " + ExecutableFolder() + "lang/; messages stay empty");
  }
  DialogTexts texts;
  texts.Load([&](const char16_t* key) { return language->service.Text(u"WavrelPlugin", key); });
  // A closed standard output (`wavrel convert ... | head -1`) must not end
  // the run halfway: writes then fail quietly and the conversion goes on.
  ::signal(SIGPIPE, SIG_IGN);
  if (!InstallSignalHandlers()) {
    PrintError("cannot install the signal handlers");
    return kExitRefused;
  }

  // The dialog's message boxes, printed by the library beside the program,
  // with the language's button captions.
  const std::string hostFolder = ExecutableFolder();
  ConsoleReport report(
      stdout, stderr, texts,
      [&](const std::u16string& text, std::uint32_t style) {
        return ShowMessageBoxFrom(hostFolder, &language->host, text, texts.prompt, style) ==
               kMbResultOk;
      },
      args.yes, input);
  report.SetJson(args.json, args.sharded ? std::to_string(args.shardIndex) + "/" +
                                               std::to_string(args.shardCount)
                                         : std::string());
  // The live progress line is for a person at a terminal only; never in a
  // pipe, a file or machine-readable output.
  if (!args.quiet && !args.json && ::isatty(STDERR_FILENO))
    report.ShowProgress(TerminalColumns(STDERR_FILENO));

  BatchRequest request;
  request.inputFolder = input;
  if (inputIsFile) request.inputFile = inputPath;
  request.outputFolder = output;
  const std::string pluginFolder = hostFolder + "Plugins/WavrelPlugin/";
  request.converterPath = pluginFolder + "vocrate";
  request.decoderPath = pluginFolder + "evrc_2004";
  request.qcelpDecoderPath = pluginFolder + "qcelp_13k";
  request.sampleRateSetting = ReadSampleRateSettingFile(PlatformFiles(), hostFolder);
  request.options.jobs = args.jobs != 0 ? args.jobs : UsableCpus();
  request.options.shardIndex = args.shardIndex;
  request.options.shardCount = args.shardCount;
  request.options.recursive = args.recursive;
  request.options.skipExisting = args.skipExisting;
  // Running the same command twice: the first run's WAVs are this run's.
  request.options.plannedWavsAreOutput = true;
  // A batch of WAVs shares one sync of the disk before their lines: up to
  // 64, or what a quarter of a second brings. Each sync waits for the disk to flush, so
  // fewer of them keep its cost small (the syncs' share of the batch time:
  // bench/batch_bench.sh).
  request.options.wavsPerSync = 64;

  // Each job hands its recordings to a worker of its own: no program starts
  // per recording.
  WorkerEnvironment environment(PlatformEnvironment(), pluginFolder + "wavrel-worker");
  BatchConversion core(environment);
  BatchPlan plan;
  Refusal refusal;
  if (!core.Prepare(request, report, &plan, &refusal)) {
    if (inputIsFile && !plan.skipped.empty()) {
      // One file named on the command line: its line says what it is.
      PrintError(EscapeForLine(args.input) + ": " + plan.skipped.front().reason);
    } else if (refusal.kind != Refusal::Kind::kDeclined) {
      report.Box(texts.Refused(refusal), kMbOkExclamation);
    }
    report.EndProgress();
    PrintError(
        ConsoleText(language->service, u"IDS_CONSOLE_NOTHING_CONVERTED", "Nothing was converted."));
    return kExitRefused;
  }

  // The run's threads start with the signals blocked, so only this thread
  // serves them, and from then on a signal cancels instead of ending the program.
  report.RunStarting();
  g_deferSignals = true;
  SetSignalsBlocked(true);
  std::stop_source stop;
  std::atomic<bool> finished{false};
  std::jthread runner([&] {
    core.Run(plan, report, stop.get_token());
    finished = true;
  });
  SetSignalsBlocked(false);  // signals noted meanwhile arrive now, in the pipe
  bool cancelRequested = false;
  while (!finished) {
    report.TickProgress();
    if (WaitForSignal(50) && !finished && !cancelRequested) {
      cancelRequested = true;
      report.EndProgress();
      PrintError(ConsoleText(language->service, u"IDS_CONSOLE_CANCELLING",
                             "Interrupted: cancelling the conversion..."));
      report.Cancelling();
      stop.request_stop();
    }
  }
  runner.join();
  report.EndProgress();
  const RunTally tally = report.Tally();
  std::fputs(report.SummaryLine().c_str(), stdout);
  const bool complete = tally.finished && !tally.cancelled;
  int status = complete && tally.filesFailed == 0 ? kExitOk : kExitFailed;
  // A report that could not be written (a full disk, a closed pipe) fails
  // the run, as it would any tool's.
  if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0 || report.ReportWriteFailed()) {
    const int error = report.ReportWriteFailed() ? report.ReportWriteError() : errno;
    PrintError(std::string("cannot write the report to standard output: ") + std::strerror(error));
    if (status == kExitOk) status = kExitFailed;
  }
  return status;
}
