// wavrel-host: a small window that loads the conversion plug-in from
// Plugins/WavrelPlugin/ beside the program and opens its dialog. Exit status
// 0 after a normal end, 1 when the plug-in cannot be used, 2 for a wrong
// command line.
#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "outside/host/gui/host_options.h"
#include "outside/host/gui/host_window.h"
#include "outside/host/gui/plugin_session.h"
#include "outside/host/language_host.h"
#include "wavrel_version.h"

namespace {

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
      std::fputs("wavrel-host " WAVREL_VERSION "\n", stdout);
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
  {
    HostWindow window(session, &language->service, QString::fromStdString(language->language));
    window.show();
    if (options.openConverter) {
      QTimer::singleShot(0, &window, [&window] { window.OpenConverter(); });
    }
    status = app.exec();
    session.Close();  // IWavrel, plug-in object, library: before the window goes
  }
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
