// wavrel-host: a small window that loads the conversion plug-in from
// Plugins/WavrelPlugin/ beside the program and opens its dialog. Exit status
// 0 after a normal end, 1 when the plug-in cannot be used, 2 for a wrong
// command line, 128 + the signal's number when SIGINT, SIGTERM, SIGHUP or
// SIGQUIT ended it.
//
// Signals: once the application exists, those four are only noted (a
// self-pipe) and served by the event loop, which closes the conversion
// dialog as its close box would (the run stops, its intermediates and a
// partial WAV file go, the WAV files made stay) and then ends the program.
// Further signals meanwhile change nothing; a signal that was ignored when
// the program started (nohup) stays ignored.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <QTranslator>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "host/app/host_options.h"
#include "host/app/host_window.h"
#include "host/app/plugin_session.h"
#include "host/language/language_host.h"
#include "wavrel_version.h"

namespace {

const int kQuitSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

int g_signalPipe[2] = {-1, -1};

extern "C" void NoteSignal(int signal) {
  const int savedErrno = errno;
  const auto note = static_cast<unsigned char>(signal);
  [[maybe_unused]] const ssize_t written = ::write(g_signalPipe[1], &note, 1);
  errno = savedErrno;
}

/// From now on kQuitSignals (but those ignored when the program started)
/// are noted and handed to onSignal, one call per signal, by the event loop
/// of the calling thread (the GUI thread); the notifier belongs to context.
/// false when they cannot be caught: they keep their default action then.
bool CatchQuitSignals(QObject* context, std::function<void(int)> onSignal) {
  if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, context);
  QObject::connect(notifier, &QSocketNotifier::activated, context, [onSignal] {
    // All that came is read first: onSignal may run an event loop of its own.
    std::vector<int> noted;
    unsigned char notes[16];
    ssize_t got = 0;
    while ((got = ::read(g_signalPipe[0], notes, sizeof(notes))) > 0) {
      noted.insert(noted.end(), notes, notes + got);
    }
    for (const int signal : noted) onSignal(signal);
  });
  struct sigaction action = {};
  action.sa_handler = NoteSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (const int signal : kQuitSignals) {
    // One ignored from the start stays so: `nohup wavrel-host &` outlives
    // its terminal.
    struct sigaction before = {};
    if (::sigaction(signal, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
    if (::sigaction(signal, &action, nullptr) != 0) return false;
  }
  return true;
}

bool HasDisplay(int argc, char** argv) {
  for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return true;
  }
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "-platform") return true;
  }
  return false;
}

int Run(int argc, char** argv) {
  using namespace wavrel::host;
  const std::string program = "wavrel-host";
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(HostUsage(program).c_str(), stdout);
      return 0;
    }
    if (arg == "--version") {
      std::fputs("wavrel-host " WAVREL_VERSION "\n" WAVREL_LICENSE_NOTICE, stdout);
      return 0;
    }
  }
  // Without a display Qt would end the process from inside its constructor.
  if (!HasDisplay(argc, argv)) {
    std::fputs("wavrel-host: no display (set DISPLAY, or QT_QPA_PLATFORM=offscreen)\n", stderr);
    return 1;
  }

  QApplication app(argc, argv);  // takes the arguments meant for Qt out of argv
  const HostOptions options =
      ParseHostOptions(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc));
  if (!options.error.empty()) {
    std::fprintf(stderr, "wavrel-host: %s\n%s", options.error.c_str(), HostUsage(program).c_str());
    return 2;
  }

  const std::unique_ptr<HostLanguage> language = LoadHostLanguage(options.language);
  if (!options.language.empty() && language->language != options.language) {
    std::fprintf(stderr, "wavrel-host: language %s: %s\n", options.language.c_str(),
                 language->language.empty() ? "no language file found, texts stay empty"
                                            : ("using " + language->language).c_str());
  }
  // Qt's own dialogs (the folder picker) in the same language.
  QTranslator qtTexts;
  LoadQtTranslations(app, language->language, &qtTexts);
  // Opened with recordings or a folder ("Open with" of a file manager).
  const std::string startFolder = FolderOfPaths(options.paths);

  PluginSession session;
  const std::string folder = ExecutableFolder();
  const QString title = HostText(&language->service, u"IDS_HOST_TITLE", "Wavrel");
  if (folder.empty()) {
    ReportHostError(nullptr, title, QStringLiteral("The program's own folder cannot be found."));
    return 1;
  }
  if (!session.Open(WavrelPluginPath(folder), &language->host)) {
    ReportHostError(nullptr, title, QString::fromStdString(session.ErrorText()));
    return 1;
  }

  int status = 0;
  int quitSignal = 0;
  {
    HostWindow window(session, &language->service, QString::fromStdString(language->language),
                      &language->startFolder);
    const bool caught = CatchQuitSignals(&window, [&window, &quitSignal](int signal) {
      if (quitSignal != 0) return;
      quitSignal = signal;
      window.QuitClosingDialogs(128 + signal);
    });
    if (!caught) std::fputs("wavrel-host: cannot catch SIGINT, SIGTERM, SIGHUP, SIGQUIT\n", stderr);
    window.show();
    if (!startFolder.empty()) {
      QTimer::singleShot(0, &window,
                         [&window, &startFolder] { window.OpenConverterWith(startFolder); });
    } else if (options.openConverter) {
      QTimer::singleShot(0, &window, [&window] { window.OpenConverter(); });
    }
    status = app.exec();
    session.Close();  // IWavrel, plug-in object, library: before the window goes
  }
  if (quitSignal != 0) return 128 + quitSignal;
  return status == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "wavrel-host: %s\n", e.what());
  } catch (...) {
    std::fputs("wavrel-host: unexpected failure\n", stderr);
  }
  return 1;
}
