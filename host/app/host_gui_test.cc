#include <dlfcn.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <QAction>
#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLabel>
#include <QLocale>
#include <QMimeData>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QTranslator>
#include <QUrl>
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "host/app/host_options.h"
#include "host/app/host_window.h"
#include "host/app/plugin_loader.h"
#include "host/app/plugin_session.h"
#include "host/language/language_host.h"
#include "testing/child_process.h"
#include "testing/files.h"
#include "wavrel_version.h"

// LeakSanitizer builds: fontconfig keeps caches that Qt's text layout fills
// and never frees; not ours to fix.
extern "C" __attribute__((visibility("default"), used)) const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}

namespace wavrel::host {
namespace {

namespace fs = std::filesystem;

using testing::TempFolder;

/// Runs a program; its exit status and what it wrote (both streams).
struct RunResult {
  int status = -1;
  std::string output;
};

RunResult RunCommand(const std::vector<std::string>& argv,
                     const std::map<std::string, std::string>& setEnv = {},
                     const std::vector<std::string>& unsetEnv = {}) {
  testing::ChildOptions options;
  options.setEnv = setEnv;
  options.unsetEnv = unsetEnv;
  const testing::ChildResult result = testing::RunChild(argv, options);
  return {result.Status(), result.out + result.err};
}

using SetLogFn = void (*)(std::vector<std::string>*);

/// Keeps a fake plug-in library open for the test and records its calls.
class FakeLog {
 public:
  explicit FakeLog(const char* path) : m_handle(::dlopen(path, RTLD_NOW | RTLD_LOCAL)) {
    if (m_handle != nullptr) {
      m_setLog = reinterpret_cast<SetLogFn>(::dlsym(m_handle, "FakePluginSetLog"));
      if (m_setLog != nullptr) m_setLog(&events);
    }
  }
  ~FakeLog() {
    if (m_setLog != nullptr) m_setLog(nullptr);
    if (m_handle != nullptr) ::dlclose(m_handle);
  }
  bool ok() const { return m_setLog != nullptr; }
  std::vector<std::string> events;

 private:
  void* m_handle;
  SetLogFn m_setLog = nullptr;
};

TEST(PluginLibrary, ReportsEachFailureByItsOwnKind) {
  TempFolder dir{"wavrel-host-test"};
  PluginLibrary library;

  const std::string missing = (dir.Path() / "Plugins/WavrelPlugin/libWavrelPlugin.so").string();
  EXPECT_EQ(library.Load(missing), PluginLoadError::kMissingFile);
  EXPECT_NE(library.ErrorText().find(missing), std::string::npos);
  EXPECT_NE(library.ErrorText().find("missing"), std::string::npos);
  EXPECT_EQ(library.Load(dir.Path().string()), PluginLoadError::kMissingFile);

  const fs::path garbage = dir.Path() / "libGarbage.so";
  std::ofstream(garbage) << "this is not a shared library\n";
  EXPECT_EQ(library.Load(garbage.string()), PluginLoadError::kOpenFailed);
  EXPECT_NE(library.ErrorText().find("cannot be loaded: "), std::string::npos);
  EXPECT_GT(library.ErrorText().size(), std::string("cannot be loaded: ").size() + missing.size());

  EXPECT_EQ(library.Load(FAKE_PLUGIN_NOENTRY), PluginLoadError::kNoEntry);
  EXPECT_NE(library.ErrorText().find("CreatePlugin"), std::string::npos);
  EXPECT_EQ(library.Load(FAKE_PLUGIN_NULLENTRY), PluginLoadError::kNullPlugin);
  EXPECT_FALSE(library.IsLoaded());
  EXPECT_EQ(library.Plugin(), nullptr);

  EXPECT_EQ(library.Load(FAKE_PLUGIN_RECORDING), PluginLoadError::kNone);
  EXPECT_TRUE(library.IsLoaded());
  ASSERT_NE(library.Plugin(), nullptr);
  EXPECT_STREQ(library.Plugin()->GetName(), "FakePlugin");
  library.Plugin()->Release();
  library.Unload();
  EXPECT_FALSE(library.IsLoaded());
}

TEST(PluginSession, DrivesThePluginAndGivesEverythingBackInOrder) {
  FakeLog log(FAKE_PLUGIN_RECORDING);
  ASSERT_TRUE(log.ok());
  IniLocaleService service;
  LanguageHost host(&service);
  {
    PluginSession session;
    ASSERT_TRUE(session.Open(FAKE_PLUGIN_RECORDING, &host)) << session.ErrorText();
    EXPECT_TRUE(session.IsOpen());
    EXPECT_EQ(session.PluginTitle(), "FakePlugin 1.2");
    EXPECT_EQ(session.ShowConverter(), 0);
    EXPECT_EQ(session.ShowConverter(), 0);
    session.Close();
    EXPECT_FALSE(session.IsOpen());
    EXPECT_EQ(session.ShowConverter(), -1);
    session.Close();  // nothing left to give back
  }
  const std::vector<std::string> expected = {
      "CreatePlugin", "SetHost",          "QueryInterface(1)",   "ShowDialog",
      "ShowDialog",   "IWavrel::Release", "IBasePlugin::Release"};
  EXPECT_EQ(log.events, expected);

  // Destroying an open session gives everything back as well.
  log.events.clear();
  {
    PluginSession session;
    ASSERT_TRUE(session.Open(FAKE_PLUGIN_RECORDING, &host));
  }
  EXPECT_EQ(log.events.back(), "IBasePlugin::Release");
  EXPECT_EQ(log.events.size(), 5u);
}

TEST(PluginSession, APluginWithoutDialogIsReportedAndReleased) {
  FakeLog log(FAKE_PLUGIN_NODIALOG);
  ASSERT_TRUE(log.ok());
  PluginSession session;
  EXPECT_FALSE(session.Open(FAKE_PLUGIN_NODIALOG, nullptr));
  EXPECT_NE(session.ErrorText().find("no conversion dialog"), std::string::npos);
  EXPECT_NE(session.ErrorText().find("-1"), std::string::npos);
  EXPECT_FALSE(session.IsOpen());
  const std::vector<std::string> expected = {"CreatePlugin", "SetHost(null)", "QueryInterface(1)",
                                             "IBasePlugin::Release"};
  EXPECT_EQ(log.events, expected);
  EXPECT_EQ(session.ShowConverter(), -1);

  PluginSession missing;
  EXPECT_FALSE(missing.Open("/nonexistent/libWavrelPlugin.so", nullptr));
  EXPECT_NE(missing.ErrorText().find("/nonexistent/libWavrelPlugin.so"), std::string::npos);
  EXPECT_EQ(WavrelPluginPath("/opt/wavrel/"),
            "/opt/wavrel/Plugins/WavrelPlugin/libWavrelPlugin.so");
}

TEST(HostOptions, ParsesTheCommandLine) {
  HostOptions options = ParseHostOptions({});
  EXPECT_FALSE(options.help || options.openConverter);
  EXPECT_TRUE(options.language.empty() && options.error.empty());

  options = ParseHostOptions({"--lang", "zh_CN", "--open-converter"});
  EXPECT_EQ(options.language, "zh_CN");
  EXPECT_TRUE(options.openConverter);
  EXPECT_TRUE(options.error.empty());
  EXPECT_EQ(ParseHostOptions({"--lang=en"}).language, "en");
  EXPECT_TRUE(ParseHostOptions({"-h"}).help);

  EXPECT_FALSE(ParseHostOptions({"--lang"}).error.empty());
  EXPECT_FALSE(ParseHostOptions({"--lang="}).error.empty());
  EXPECT_FALSE(ParseHostOptions({"--lang", ""}).error.empty());
  EXPECT_NE(ParseHostOptions({"--open-converter", "extra"}).error.find("extra"), std::string::npos);

  // Recordings or folders to open the dialog with ("Open with"): each must exist.
  TempFolder dir{"wavrel-host-options"};
  const std::string calls = (dir / "calls").string();
  const std::string dashed = (dir / "-calls").string();
  fs::create_directory(calls);
  std::ofstream(calls + "/a.qcp") << "x";
  fs::create_directory(dashed);
  options = ParseHostOptions({calls + "/a.qcp", "--lang", "en", calls, "--", dashed});
  EXPECT_TRUE(options.error.empty()) << options.error;
  EXPECT_EQ(options.paths, (std::vector<std::string>{calls + "/a.qcp", calls, dashed}));
  EXPECT_EQ(options.language, "en");
  EXPECT_EQ(ParseHostOptions({calls + "/b.qcp"}).error,
            "no such file or folder: " + calls + "/b.qcp");

  // The folder they choose: a folder itself, a file's folder; the first that exists.
  EXPECT_EQ(FolderOfPaths({calls + "/b.qcp", calls + "/a.qcp", "/"}), calls);
  EXPECT_EQ(FolderOfPaths({calls + "/../calls/"}), calls);
  EXPECT_EQ(FolderOfPaths({calls + "/b.qcp"}), "");
}

TEST(LanguageHost, HandsOutTheStartFolderOnlyWhenTheFrontEndHasOne) {
  IniLocaleService texts;
  StartFolder start;
  start.Set(u"/home/u/calls");
  LanguageHost host(&texts, &start);
  std::string lower(kStartFolderServiceGuid);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  IBaseInterface* out = nullptr;
  ASSERT_TRUE(host.QueryService(lower.c_str(), kStartFolderServiceRequestCode, &out));
  EXPECT_EQ(std::u16string(static_cast<IStartFolderService*>(out)->GetStartFolder()),
            u"/home/u/calls");
  EXPECT_FALSE(host.QueryService(kStartFolderServiceGuid, kLocaleServiceRequestCode, &out));
  EXPECT_EQ(out, nullptr);
  ASSERT_TRUE(host.QueryService(kLocaleServiceGuid, kLocaleServiceRequestCode, &out));
  EXPECT_EQ(out, static_cast<ILocaleMgrService*>(&texts));
  start.Set({});
  EXPECT_EQ(start.GetStartFolder(), nullptr);  // none: the dialog opens as always
  LanguageHost without(&texts);
  EXPECT_FALSE(without.QueryService(kStartFolderServiceGuid, kStartFolderServiceRequestCode, &out));
}

TEST(HostWindow, ButtonAndMenuOpenTheDialogAndFailuresAreReported) {
  int argc = 1;
  char name[] = "host_gui_test";
  char* argv[] = {name, nullptr};
  QApplication app(argc, argv);

  FakeLog log(FAKE_PLUGIN_RECORDING);
  ASSERT_TRUE(log.ok());
  IniLocaleService texts;
  texts.LoadText("[WavrelHost]\nIDS_HOST_TITLE = Host Title\n");
  StartFolder start;
  LanguageHost host(&texts, &start);
  PluginSession session;
  ASSERT_TRUE(session.Open(FAKE_PLUGIN_RECORDING, &host));
  {
    HostWindow window(session, &texts, QStringLiteral("en"), &start);
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Host Title"));
    auto* button = window.findChild<QPushButton*>(QStringLiteral("convertButton"));
    ASSERT_NE(button, nullptr);
    EXPECT_FALSE(button->text().isEmpty());
    button->click();
    EXPECT_EQ(window.OpenConverter(), 0);
    EXPECT_EQ(std::count(log.events.begin(), log.events.end(), "ShowDialog"), 2);

    // A folder or recordings dropped on the window open the dialog with their folder.
    TempFolder dir{"wavrel-host-drop"};
    fs::create_directory(dir / "calls");
    std::ofstream(dir / "calls/a.qcp") << "x";
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(QString::fromStdString((dir / "calls/a.qcp").string()))});
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&window, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&window, &drop);
    EXPECT_TRUE(drop.isAccepted());
    QCoreApplication::processEvents();
    EXPECT_EQ(log.events.back(), "ShowDialog " + (dir / "calls").string());
    EXPECT_EQ(window.OpenConverter(), 0);  // the start folder was for that dialog only
    EXPECT_EQ(log.events.back(), "ShowDialog");

    // Help > About: the version, the plug-in, the decoder's library, the licence.
    auto* about = window.findChild<QAction*>(QStringLiteral("aboutAction"));
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(about->text(), QStringLiteral("&About Wavrel"));
    const QString aboutText = window.AboutBoxText();
    EXPECT_TRUE(aboutText.startsWith(QStringLiteral("Wavrel " WAVREL_VERSION "\n")));
    EXPECT_TRUE(aboutText.contains(QStringLiteral("Plug-in: FakePlugin 1.2")));
    EXPECT_TRUE(aboutText.contains(QStringLiteral("License: GPL-3.0-or-later")));
    EXPECT_FALSE(window.findChild<QLabel*>(QStringLiteral("intro"))->text().contains("Plug-in"));

    session.Close();
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(window.OpenConverter(), -1);  // reported, not shown: offscreen
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("wavrel-host: "), std::string::npos);
  }
  EXPECT_EQ(HostText(nullptr, u"IDS_HOST_TITLE", "Wavrel"), QStringLiteral("Wavrel"));

  // Qt's own dialogs speak the chosen language (Debian's qt6-translations-l10n).
  QTranslator english;
  EXPECT_FALSE(LoadQtTranslations(app, "en", &english));
  EXPECT_EQ(QCoreApplication::translate("QFileDialog", "Look in:"), QStringLiteral("Look in:"));
  QTranslator chinese;
  ASSERT_TRUE(LoadQtTranslations(app, "zh_CN", &chinese));
  EXPECT_NE(QCoreApplication::translate("QFileDialog", "Look in:"), QStringLiteral("Look in:"));
  EXPECT_NE(QCoreApplication::translate("QFileDialog", "&Choose"), QStringLiteral("&Choose"));
  QCoreApplication::removeTranslator(&chinese);
  QLocale::setDefault(QLocale::c());

  // The decoder names the libavcodec it runs on.
  const std::string decoder =
      (fs::path(WAVREL_HOST_EXE).parent_path() / "Plugins/WavrelPlugin/evrc_2004").string();
  EXPECT_TRUE(DecoderLibraryVersion(QString::fromStdString(decoder)).startsWith("libavcodec "));
  EXPECT_TRUE(DecoderLibraryVersion(QStringLiteral("/nonexistent/evrc_2004")).isEmpty());
}

#ifdef WAVREL_PLUGIN_PATH
TEST(HostAndPlugin, TheRealPluginShowsItsDialogWithTheHostsTexts) {
  int argc = 1;
  char name[] = "host_gui_test";
  char* argv[] = {name, nullptr};
  QApplication app(argc, argv);

  IniLocaleService texts;
  std::string err;
  ASSERT_TRUE(texts.LoadFile(WAVREL_EN_INI, &err)) << err;
  LanguageHost host(&texts);
  PluginSession session;
  ASSERT_TRUE(session.Open(WAVREL_PLUGIN_PATH, &host)) << session.ErrorText();
  EXPECT_EQ(session.PluginTitle(), "WavrelPlugin 1.1");

  // Closes each dialog as the close box would, noting its title; gives up
  // after a while rather than hang.
  std::vector<QString> titles;
  QPointer<QWidget> current;
  int polls = 0;
  QTimer closer;
  QObject::connect(&closer, &QTimer::timeout, [&] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr) return;
    if (++polls > 1000) std::_Exit(3);
    if (modal != current.data()) titles.push_back(modal->windowTitle());
    current = modal;
    modal->close();
  });
  closer.start(20);
  {
    HostWindow window(session, &texts, QStringLiteral("en"));
    EXPECT_EQ(window.OpenConverter(), 0);
    EXPECT_EQ(window.OpenConverter(), 0);
  }
  closer.stop();
  ASSERT_EQ(titles.size(), 2u);
  EXPECT_EQ(titles[0], QStringLiteral("Convert QCP Recordings to WAV"));
  EXPECT_EQ(titles[1], titles[0]);
  session.Close();
}

TEST(WavrelHostProgram, ASignalWhileConvertingClosesTheDialogAndLeavesNothingBehind) {
  TempFolder dir{"wavrel-host-signal"};
  // A host folder of the test's own: a copy of the program (it finds its
  // plug-in beside its real path), links to the rest of the stage tree, and
  // a decoder that takes a second per file, so that the run is surely in
  // work when the signal comes.
  const fs::path stage = fs::path(WAVREL_HOST_EXE).parent_path();
  const fs::path host = dir / "host";
  const fs::path pluginFolder = host / "Plugins/WavrelPlugin";
  fs::create_directories(pluginFolder);
  fs::copy_file(WAVREL_HOST_EXE, host / "wavrel-host");
  fs::create_directory_symlink(stage / "lang", host / "lang");
  fs::create_symlink(stage / "libXMessageBox.so", host / "libXMessageBox.so");
  for (const auto& entry : fs::directory_iterator(stage / "Plugins/WavrelPlugin")) {
    fs::create_symlink(entry.path(), pluginFolder / entry.path().filename());
  }
  fs::remove(pluginFolder / "evrc_2004");
  ASSERT_TRUE(testing::WriteFile(pluginFolder / "evrc_2004",
                                 "#!/bin/sh\nsleep 1\nexec '" +
                                     (stage / "Plugins/WavrelPlugin/evrc_2004").string() +
                                     "' \"$@\"\n"));
  fs::permissions(pluginFolder / "evrc_2004", fs::perms::owner_all);
  const fs::path tmp = dir / "tmp";
  const fs::path recordings = dir / "recordings";
  fs::create_directory(tmp);
  testing::CopySamples(WAVREL_SAMPLES_DIR, recordings);
  std::vector<fs::path> samples;
  for (const auto& entry : fs::directory_iterator(WAVREL_SAMPLES_DIR)) samples.push_back(entry);
  ASSERT_GE(samples.size(), 3u);
  const auto workFolders = [&tmp] {
    int count = 0;
    for (const auto& entry : fs::directory_iterator(tmp)) {
      count += entry.path().filename().string().rfind("wavrel-", 0) == 0;
    }
    return count;
  };

  testing::ChildOptions options;
  const char* asan = std::getenv("ASAN_OPTIONS");
  options.setEnv = {
      {"QT_QPA_PLATFORM", "offscreen"},
      {"TMPDIR", tmp.string()},
      {"LD_PRELOAD", WAVREL_DIALOG_DRIVER},
      {"WAVREL_DRIVE_INPUT", recordings.string()},
      {"XDG_CONFIG_HOME", (dir / "config").string()},  // the remembered folders
      // The driver is preloaded ahead of the sanitizer's runtime.
      {"ASAN_OPTIONS", std::string(asan != nullptr ? asan : "") + ":verify_asan_link_order=0"}};
  testing::ChildProcess program;
  std::string error;
  ASSERT_TRUE(program.Start({(host / "wavrel-host").string(), "--lang", "en", "--open-converter"},
                            options, &error))
      << error;
  // The first recording's WAV is made: the second one is in work.
  const fs::path firstWav = recordings / "greeting.wav";
  for (int polls = 0; polls < 600 && program.Running(); ++polls) {
    if (fs::exists(firstWav) && workFolders() == 1) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  if (!fs::exists(firstWav) || workFolders() != 1) {
    ::kill(program.Pid(), SIGKILL);
    FAIL() << "the run did not get going:\n" << program.Wait().err;
  }
  ASSERT_EQ(::kill(program.Pid(), SIGTERM), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ::kill(program.Pid(), SIGINT);  // a second signal while it closes does not end it abruptly

  const testing::ChildResult result = program.Wait();
  EXPECT_EQ(result.signal, 0);
  EXPECT_EQ(result.exitCode, 128 + SIGTERM) << result.err;
  EXPECT_EQ(workFolders(), 0);
  EXPECT_GT(fs::file_size(firstWav), 44u);  // made before the signal: kept
  std::size_t wavs = 0;
  for (const auto& entry : fs::directory_iterator(recordings)) {
    const std::string name = entry.path().filename().string();
    EXPECT_NE(name.front(), '.') << "a temporary file is left: " << name;
    wavs += entry.path().extension() == ".wav";
  }
  EXPECT_LT(wavs, samples.size());  // the run was stopped, not finished
  for (const fs::path& sample : samples) {
    EXPECT_EQ(testing::Slurp(recordings / sample.filename()), testing::Slurp(sample)) << sample;
  }
}
TEST(WavrelHostProgram, OpenedWithARecordingItsDialogHasTheRecordingsFolderChosen) {
  // As a file manager's "Open with Wavrel" on one recording: the preloaded
  // driver only clicks Convert, and the run converts the whole folder.
  TempFolder dir{"wavrel-host-open-with"};
  const fs::path recordings = dir / "recordings";
  testing::CopySamples(WAVREL_SAMPLES_DIR, recordings);
  std::size_t samples = 0;
  for (const auto& entry : fs::directory_iterator(recordings)) samples += entry.is_regular_file();
  fs::create_directory(dir / "tmp");
  testing::ChildOptions options;
  const char* asan = std::getenv("ASAN_OPTIONS");
  options.setEnv = {
      {"QT_QPA_PLATFORM", "offscreen"},
      {"TMPDIR", (dir / "tmp").string()},
      {"LD_PRELOAD", WAVREL_DIALOG_DRIVER},
      {"XDG_CONFIG_HOME", (dir / "config").string()},
      {"ASAN_OPTIONS", std::string(asan != nullptr ? asan : "") + ":verify_asan_link_order=0"}};
  options.unsetEnv = {"WAVREL_DRIVE_INPUT"};
  testing::ChildProcess program;
  std::string error;
  ASSERT_TRUE(program.Start(
      {WAVREL_HOST_EXE, "--lang", "en", (recordings / "greeting.qcp").string()}, options, &error))
      << error;
  const auto wavs = [&] {
    std::size_t count = 0;
    for (const auto& entry : fs::directory_iterator(recordings)) {
      count += entry.path().extension() == ".wav";
    }
    return count;
  };
  for (int polls = 0; polls < 600 && program.Running() && wavs() < samples; ++polls) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ::kill(program.Pid(), SIGTERM);
  const testing::ChildResult result = program.Wait();
  EXPECT_EQ(wavs(), samples) << result.err;
  EXPECT_EQ(result.exitCode, 128 + SIGTERM) << result.err;
  // The folder is remembered for the next dialog's picker.
  EXPECT_NE(
      testing::Slurp(dir / "config/wavrel/WavrelPlugin.ini").find("input=" + recordings.string()),
      std::string::npos);
}
#endif

TEST(WavrelHostProgram, HelpBadArgumentsAndAMissingOrBrokenPlugin) {
  RunResult help = RunCommand({WAVREL_HOST_EXE, "--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.output.find("--open-converter"), std::string::npos);
  EXPECT_NE(help.output.find("--lang"), std::string::npos);

  const std::map<std::string, std::string> offscreen = {{"QT_QPA_PLATFORM", "offscreen"}};
  RunResult bad = RunCommand({WAVREL_HOST_EXE, "--bogus"}, offscreen);
  EXPECT_EQ(bad.status, 2);
  EXPECT_NE(bad.output.find("unknown argument: --bogus"), std::string::npos);

  // A copy of the program in a folder without Plugins/.
  TempFolder dir{"wavrel-host-test"};
  const fs::path exe = dir.Path() / "wavrel-host";
  fs::copy_file(WAVREL_HOST_EXE, exe);
  RunResult missing = RunCommand({exe.string()}, offscreen);
  EXPECT_EQ(missing.status, 1) << missing.output;
  EXPECT_NE(missing.output.find("Plugins/WavrelPlugin/libWavrelPlugin.so is missing"),
            std::string::npos)
      << missing.output;

  fs::create_directories(dir.Path() / "Plugins/WavrelPlugin");
  std::ofstream(dir.Path() / "Plugins/WavrelPlugin/libWavrelPlugin.so") << "broken";
  RunResult broken = RunCommand({exe.string(), "--lang", "en"}, offscreen);
  EXPECT_EQ(broken.status, 1) << broken.output;
  EXPECT_NE(broken.output.find("cannot be loaded"), std::string::npos) << broken.output;

  fs::remove(dir.Path() / "Plugins/WavrelPlugin/libWavrelPlugin.so");
  fs::copy_file(FAKE_PLUGIN_NULLENTRY, dir.Path() / "Plugins/WavrelPlugin/libWavrelPlugin.so");
  RunResult null = RunCommand({exe.string()}, offscreen);
  EXPECT_EQ(null.status, 1) << null.output;
  EXPECT_NE(null.output.find("did not make its plug-in object"), std::string::npos);

  RunResult noDisplay =
      RunCommand({exe.string()}, {}, {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"});
  EXPECT_EQ(noDisplay.status, 1);
  EXPECT_NE(noDisplay.output.find("no display"), std::string::npos);
}

}  // namespace
}  // namespace wavrel::host
