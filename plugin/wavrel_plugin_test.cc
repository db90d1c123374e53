// The plug-in's ABI as a host sees it: libWavrelPlugin.so opened with dlopen,
// driven only through CreatePlugin and the framework interfaces.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "plugin/plugin_interfaces.h"
#include "testing/child_process.h"

// LeakSanitizer builds: fontconfig keeps caches that Qt's text layout fills
// and never frees; not ours to fix.
extern "C" __attribute__((visibility("default"), used)) const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}

namespace {

/// The built plug-in, opened once per test process like a host opens it.
class PluginAbiTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "wavrel_plugin_test";
    static char* argv[] = {name, nullptr};
    if (QApplication::instance() == nullptr) s_app = new QApplication(argc, argv);
    if (s_handle == nullptr) s_handle = ::dlopen(WAVREL_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
  }

  void SetUp() override {
    ASSERT_NE(s_handle, nullptr) << ::dlerror();
    m_create = reinterpret_cast<CreatePluginFn>(::dlsym(s_handle, "CreatePlugin"));
    ASSERT_NE(m_create, nullptr);
  }

  /// The plug-in object and its IWavrel (interface 1) in m_plugin, m_out and
  /// m_wavrel; SetHost(host) first when a host (or nullptr) is given.
  void OpenWavrel(std::optional<IPluginHost*> host = std::nullopt) {
    m_plugin = m_create();
    ASSERT_NE(m_plugin, nullptr);
    if (host) m_plugin->SetHost(*host);
    ASSERT_TRUE(m_plugin->QueryInterface(1, &m_out));
    m_wavrel = dynamic_cast<IWavrel*>(m_out);
    ASSERT_NE(m_wavrel, nullptr);
  }

  static QApplication* s_app;
  static void* s_handle;
  CreatePluginFn m_create = nullptr;
  IBasePlugin* m_plugin = nullptr;
  IBaseInterface* m_out = nullptr;
  IWavrel* m_wavrel = nullptr;
};
QApplication* PluginAbiTest::s_app = nullptr;
void* PluginAbiTest::s_handle = nullptr;

/// What the closer saw of one modal dialog.
struct SeenDialog {
  QString title;
  std::set<QString> texts;  // non-empty texts of labels, group boxes and buttons
};

/// While alive, closes every modal dialog that appears (with close(), as the
/// close box does) after noting its texts. Gives up the whole test process
/// when a dialog refuses to close, rather than hanging.
class ModalCloser {
 public:
  ModalCloser() {
    m_timer.setInterval(20);
    QObject::connect(&m_timer, &QTimer::timeout, [this] { Poll(); });
    m_timer.start();
  }
  std::vector<SeenDialog> seen;
  /// Called once for each dialog, inside its modal loop, before closing it.
  std::function<void()> onShown;

 private:
  void Poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr) {
      m_current = nullptr;
      return;
    }
    if (modal != m_current.data()) {
      m_current = modal;
      m_since = std::chrono::steady_clock::now();
      SeenDialog dialog;
      dialog.title = modal->windowTitle();
      for (auto* label : modal->findChildren<QLabel*>()) dialog.texts.insert(label->text());
      for (auto* box : modal->findChildren<QGroupBox*>()) dialog.texts.insert(box->title());
      for (auto* button : modal->findChildren<QAbstractButton*>()) {
        dialog.texts.insert(button->text());
      }
      dialog.texts.erase(QString());
      seen.push_back(dialog);
      if (onShown) onShown();
    } else if (std::chrono::steady_clock::now() - m_since > std::chrono::seconds(20)) {
      std::fputs("a modal dialog did not close\n", stderr);
      std::_Exit(3);
    }
    modal->close();
  }

  QTimer m_timer;
  QPointer<QWidget> m_current;  // cleared when the dialog goes, even at the same address
  std::chrono::steady_clock::time_point m_since;
};

/// A host whose localisation service knows a few texts.
class FakeHost final : public IPluginHost, public ILocaleMgrService {
 public:
  void Release() override {}  // both faces belong to the test
  bool QueryService(const char* serviceGuid, std::int32_t requestCode,
                    IBaseInterface** out) override {
    const bool ours =
        std::string(serviceGuid) == kLocaleServiceGuid && requestCode == kLocaleServiceRequestCode;
    *out = ours ? static_cast<ILocaleMgrService*>(this) : nullptr;
    return ours;
  }
  const char16_t* GetString(const char16_t* key, const char16_t* section, std::int32_t) override {
    if (std::u16string(section) != u"WavrelPlugin") return nullptr;
    const auto found = texts.find(key);
    return found == texts.end() ? nullptr : found->second.c_str();
  }
  std::map<std::u16string, std::u16string> texts;
};

TEST_F(PluginAbiTest, IdentityInterfacesAndErrorCodes) {
  IBasePlugin* plugin = m_create();
  ASSERT_NE(plugin, nullptr);
  EXPECT_EQ(m_create(), plugin);  // one plug-in object per process
  EXPECT_EQ(plugin->GetLastErrorCode(), 0);

  for (int round = 0; round < 2; ++round) {
    EXPECT_STREQ(plugin->GetGuid(), "CA15B339-7332-41ad-A093-EF6BB3C8970B");
    EXPECT_STREQ(plugin->GetName(), "WavrelPlugin");
    EXPECT_EQ(plugin->GetVersion(), 257);
    EXPECT_EQ(plugin->GetPluginType(), 1);
  }
  EXPECT_TRUE(plugin->Initialize());

  IBaseInterface* first = nullptr;
  IBaseInterface* second = nullptr;
  EXPECT_TRUE(plugin->QueryInterface(1, &first));
  EXPECT_TRUE(plugin->QueryInterface(1, &second));
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first, second);
  EXPECT_EQ(plugin->GetLastErrorCode(), 0);
  auto* wavrel = dynamic_cast<IWavrel*>(first);
  ASSERT_NE(wavrel, nullptr);
  EXPECT_EQ(wavrel->Reserved(), 0);

  for (int id : {0, 2, -1}) {
    IBaseInterface* out = first;
    EXPECT_FALSE(plugin->QueryInterface(id, &out)) << id;
    EXPECT_EQ(out, nullptr) << id;
    EXPECT_EQ(plugin->GetLastErrorCode(), -1) << id;
  }
  EXPECT_TRUE(plugin->Uninitialize());
  EXPECT_EQ(plugin->GetLastErrorCode(), -1);  // Uninitialize leaves it
  plugin->SetHost(nullptr);
  EXPECT_EQ(plugin->GetLastErrorCode(), -1);  // so does SetHost
  EXPECT_STREQ(plugin->GetName(), "WavrelPlugin");
  EXPECT_EQ(plugin->GetLastErrorCode(), 0);
  plugin->QueryInterface(7, &second);
  EXPECT_TRUE(plugin->Initialize());
  EXPECT_EQ(plugin->GetLastErrorCode(), 0);

  // The second base is reachable by a run-time cast from the plug-in object.
  auto* destroyEvent = dynamic_cast<IDestroyEvent*>(plugin);
  ASSERT_NE(destroyEvent, nullptr);
  EXPECT_NE(static_cast<void*>(destroyEvent), static_cast<void*>(plugin));
  destroyEvent->OnDestroy();
  EXPECT_EQ(dynamic_cast<IBasePlugin*>(destroyEvent), plugin);
  plugin->Release();
}

TEST_F(PluginAbiTest, AReleasedPluginIsReplacedByAFreshOne) {
  IBasePlugin* plugin = m_create();
  ASSERT_NE(plugin, nullptr);
  IBaseInterface* out = nullptr;
  plugin->QueryInterface(3, &out);
  EXPECT_EQ(plugin->GetLastErrorCode(), -1);
  plugin->Release();

  IBasePlugin* fresh = m_create();  // not the released object
  ASSERT_NE(fresh, nullptr);
  EXPECT_EQ(fresh->GetLastErrorCode(), 0);
  EXPECT_TRUE(fresh->QueryInterface(1, &out));
  EXPECT_NE(dynamic_cast<IWavrel*>(out), nullptr);
  EXPECT_EQ(m_create(), fresh);
  fresh->Release();
}

TEST_F(PluginAbiTest, ShowDialogBeforeSetHostShowsItWithoutTexts) {
  ASSERT_NO_FATAL_FAILURE(OpenWavrel(nullptr));
  IBasePlugin* plugin = m_plugin;
  IWavrel* wavrel = m_wavrel;
  {
    ModalCloser closer;
    EXPECT_EQ(wavrel->ShowDialog(), 0);
    ASSERT_EQ(closer.seen.size(), 1u);
    EXPECT_TRUE(closer.seen[0].title.isEmpty()) << closer.seen[0].title.toStdString();
    for (const QString& text : closer.seen[0].texts) {
      EXPECT_EQ(text, QStringLiteral("...")) << text.toStdString();  // only the browse buttons
    }
  }
  plugin->Release();
}

TEST_F(PluginAbiTest, EachShowDialogMakesAFreshDialogAndReleaseFreesIt) {
  FakeHost host;
  host.texts = {{u"IDS_TITLE_NAME", u"Convert QCP"}, {u"IDC_CONVERT", u"Go"}};
  ASSERT_NO_FATAL_FAILURE(OpenWavrel(&host));
  IBasePlugin* plugin = m_plugin;
  IBaseInterface* out = m_out;
  IWavrel* wavrel = m_wavrel;
  {
    ModalCloser closer;
    EXPECT_EQ(wavrel->ShowDialog(), 0);
    EXPECT_EQ(wavrel->ShowDialog(), 0);  // replaces the first dialog object
    wavrel->Release();                   // frees the second
    wavrel->Release();                   // nothing left to free
    EXPECT_EQ(wavrel->ShowDialog(), 0);  // the IWavrel stays usable
    ASSERT_EQ(closer.seen.size(), 3u);
    for (const SeenDialog& dialog : closer.seen) {
      EXPECT_EQ(dialog.title, QStringLiteral("Convert QCP"));
      EXPECT_EQ(dialog.texts.count(QStringLiteral("Go")), 1u);
    }
  }
  IBaseInterface* again = nullptr;
  EXPECT_TRUE(plugin->QueryInterface(1, &again));
  EXPECT_EQ(again, out);
  plugin->SetHost(nullptr);
  plugin->Release();  // frees the third dialog with the IWavrel
}

/// A host that offers the folder it was opened with (and no texts).
class StartFolderHost final : public IPluginHost, public IStartFolderService {
 public:
  void Release() override { ++releases; }
  bool QueryService(const char* serviceGuid, std::int32_t requestCode,
                    IBaseInterface** out) override {
    const bool ours = std::string(serviceGuid) == kStartFolderServiceGuid &&
                      requestCode == kStartFolderServiceRequestCode;
    *out = ours ? static_cast<IStartFolderService*>(this) : nullptr;
    return ours;
  }
  const char16_t* GetStartFolder() override { return folder.c_str(); }
  std::u16string folder;
  int releases = 0;
};

TEST_F(PluginAbiTest, AHostsStartFolderIsTheDialogsInputFolderAsThePickerWouldSetIt) {
  QTemporaryDir config;
  QTemporaryDir calls;
  ASSERT_TRUE(config.isValid() && calls.isValid());
  QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, config.path());
  StartFolderHost host;
  host.folder = calls.path().toStdU16String();
  ASSERT_NO_FATAL_FAILURE(OpenWavrel(&host));
  std::vector<QStringList> fields;  // the folder fields of each dialog, top to bottom
  {
    ModalCloser closer;
    closer.onShown = [&] {
      QList<QLineEdit*> edits = QApplication::activeModalWidget()->findChildren<QLineEdit*>();
      std::sort(edits.begin(), edits.end(), [](auto* a, auto* b) { return a->y() < b->y(); });
      QStringList texts;
      for (QLineEdit* edit : edits) texts << edit->text();
      fields.push_back(texts);
    };
    EXPECT_EQ(m_wavrel->ShowDialog(), 0);
    host.folder.clear();  // a host that has none (any more)
    EXPECT_EQ(m_wavrel->ShowDialog(), 0);
  }
  ASSERT_EQ(fields.size(), 2u);
  EXPECT_EQ(fields[0], (QStringList{calls.path(), calls.path() + "/"}));
  EXPECT_EQ(fields[1], (QStringList{"", ""}));
  EXPECT_EQ(host.releases, 2);  // each service handed out is given back
  m_plugin->SetHost(nullptr);
  m_plugin->Release();
}

TEST_F(PluginAbiTest, CallsFromInsideTheOpenDialogLeaveItAlone) {
  // A host reacting to its own events while the dialog is open may call back
  // into the plug-in from inside the modal loop: the dialog in use stays.
  ASSERT_NO_FATAL_FAILURE(OpenWavrel());
  IBasePlugin* plugin = m_plugin;
  IWavrel* wavrel = m_wavrel;
  std::int32_t nested = 0;
  {
    ModalCloser closer;
    closer.onShown = [&] {
      nested = wavrel->ShowDialog();
      wavrel->Release();  // carried out once the loop has ended
    };
    EXPECT_EQ(wavrel->ShowDialog(), 0);
    EXPECT_EQ(nested, -1);
    EXPECT_EQ(closer.seen.size(), 1u);
    closer.onShown = nullptr;
    EXPECT_EQ(wavrel->ShowDialog(), 0);
    EXPECT_EQ(closer.seen.size(), 2u);
  }
  plugin->Release();
}

TEST_F(PluginAbiTest, ShowDialogWithoutAnApplicationFailsCleanly) {
  // A dialog needs the host's QApplication; asked from another thread the
  // plug-in refuses instead of crashing.
  ASSERT_NO_FATAL_FAILURE(OpenWavrel());
  IBasePlugin* plugin = m_plugin;
  IWavrel* wavrel = m_wavrel;
  std::int32_t result = 0;
  std::thread other([&] { result = wavrel->ShowDialog(); });
  other.join();
  EXPECT_EQ(result, -1);
  plugin->Release();
}

/// Defined symbols in the plug-in's dynamic symbol table, from nm -D.
std::set<std::string> ExportedSymbols() {
  std::set<std::string> names;
  const wavrel::testing::ChildResult nm =
      wavrel::testing::RunChild({WAVREL_NM, "-D", "--defined-only", WAVREL_PLUGIN_PATH});
  std::istringstream lines(nm.out);
  for (std::string text; std::getline(lines, text);) {
    while (!text.empty() && text.back() == '\r') text.pop_back();
    const std::size_t space = text.rfind(' ');
    names.insert(space == std::string::npos ? text : text.substr(space + 1));
  }
  return names;
}

TEST(PluginExports, OnlyCreatePluginAndTheInterfacesTypeInformation) {
  const std::set<std::string> names = ExportedSymbols();
  ASSERT_FALSE(names.empty());
  EXPECT_EQ(names.count("CreatePlugin"), 1u);
  const std::set<std::string> typeInfo = {"_ZTI14IBaseInterface",
                                          "_ZTS14IBaseInterface",
                                          "_ZTI11IBasePlugin",
                                          "_ZTS11IBasePlugin",
                                          "_ZTI13IDestroyEvent",
                                          "_ZTS13IDestroyEvent",
                                          "_ZTI7IWavrel",
                                          "_ZTS7IWavrel",
                                          "_ZTI17ILocaleMgrService",
                                          "_ZTS17ILocaleMgrService",
                                          "_ZTI11IPluginHost",
                                          "_ZTS11IPluginHost",
                                          "_ZTI19IStartFolderService",
                                          "_ZTS19IStartFolderService"};
  for (const std::string& name : names) {
    EXPECT_TRUE(name == "CreatePlugin" || typeInfo.count(name) == 1) << "exported: " << name;
  }
  // The interfaces the host casts to must keep one identity across the boundary.
  for (const char* needed : {"_ZTI7IWavrel", "_ZTI13IDestroyEvent", "_ZTI11IBasePlugin"}) {
    EXPECT_EQ(names.count(needed), 1u) << needed;
  }
}

}  // namespace
