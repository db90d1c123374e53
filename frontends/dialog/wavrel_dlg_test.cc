// CWavrelDlg over the recording fake environment: the converter and the
// decoder are functions, the texts and message boxes the fake's, and every
// folder (the plug-in folder, the runs' work folders, the recordings) lies in
// a temporary folder of the test's own, so the cases run in parallel.
#include "frontends/dialog/wavrel_dlg.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <thread>

#include "core/testing/recording_observer.h"
#include "formats/qcp_format.h"
#include "frontends/dialog/testing/fake_window.h"
#include "frontends/dialog/testing/recording_environment.h"
#include "testing/files.h"

namespace wavrel {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using RecordingEnvironment = testing::RecordingDialogEnvironment;
using testing::QcpBytes;
using testing::RecordingWindow;
using testing::Slurp;
using testing::Utf16;
using testing::Utf8;
using testing::WriteFile;

bool Copy(const std::string& from, const std::string& to) {
  std::error_code ec;
  return fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
}

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 8000ms) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

/// One start of the fake converter or decoder; id counts the test's starts from 1.
struct ChildRun {
  std::string role;
  std::size_t id = 0;
  std::string cwd;
  std::vector<std::string> args;
};

/// How a fake program behaves for the inputs whose path contains `only`
/// (every input when empty); the others it converts. kLargePcm: the decoder
/// writes kLargePcmBytes instead of copying its input.
struct FakeBehaviour {
  enum Mode { kOk, kFail3, kKilled, kNoPcm, kHang, kLargePcm };
  Mode mode = kOk;
  std::string only;
  Mode For(const std::string& input) const {
    return only.empty() || input.find(only) != std::string::npos ? mode : kOk;
  }
};
constexpr std::size_t kLargePcmBytes = kWavCopyBlockSize * 40;

/// The exit status of a fake program in mode; convert does the work.
int ActAs(FakeBehaviour::Mode mode, const std::function<bool()>& convert) {
  switch (mode) {
    case FakeBehaviour::kFail3:
      return 3;
    case FakeBehaviour::kKilled:
      return RecordingEnvironment::KilledBy(11);
    case FakeBehaviour::kNoPcm:
      return 0;
    case FakeBehaviour::kHang:
      return RecordingEnvironment::kHang;
    default:
      return convert() ? 0 : 255;
  }
}

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_root = fs::canonical(m_folder.Path());
    m_in = m_root / "in";
    m_out = m_root / "out";
    m_tmp = m_root / "tmp";
    m_hostDir = m_root / "host";
    m_pluginDir = m_hostDir / "Plugins" / "WavrelPlugin";
    for (const fs::path& folder : {m_in, m_out, m_tmp, m_pluginDir}) {
      fs::create_directories(folder);
    }
    m_env.hostFolder = Utf16(m_hostDir.string() + "/");
    m_env.pluginFolder = Utf16(m_pluginDir.string() + "/");
    // Work folders of the runs appear here, so that the test sees them go.
    m_env.workRoot = m_tmp;
    // The converter copies its input and appends a loss record (10 frames, 2
    // lost) to loss_stat.txt in the folder it runs in; the decoder copies
    // its input.
    m_env.programs[(m_pluginDir / "vocrate").string()] = [this](const auto& args,
                                                                const std::string& cwd) {
      return ActAs(m_converter.For(args.at(0)), [&] {
        std::ofstream stat(cwd + "/loss_stat.txt", std::ios::binary | std::ios::app);
        stat << "FILE : " << args.at(0) << " is opened. LOSS PACKAGE POS:\r\n 3, 7, \r\n TOTAL "
             << "FRAMES = 10, TOTAL LOSS PACKAGE = 2, loss rate = 0.200000 \r\n\r\n ";
        return args.size() == 3 && Copy(args[0], args[1]) && stat.good();
      });
    };
    m_env.programs[(m_pluginDir / "evrc_2004").string()] = [this](const auto& args,
                                                                  const std::string&) {
      const FakeBehaviour::Mode mode = m_decoder.For(args.at(1));
      return ActAs(mode, [&] {
        if (mode != FakeBehaviour::kLargePcm) return args.size() == 5 && Copy(args[1], args[3]);
        std::ofstream(args.at(3), std::ios::binary) << std::string(kLargePcmBytes, '\x11');
        return true;
      });
    };
    Reopen();
  }

  void TearDown() override { m_dlg.reset(); }

  /// A fresh dialog on a fresh window (texts are read at start-up).
  void Reopen() {
    m_dlg.reset();
    m_window = std::make_unique<RecordingWindow>();
    m_dlg = std::make_unique<CWavrelDlg>(m_env);
    m_dlg->AttachWindow(m_window.get());
    m_dlg->SetObserver(&m_observer);
    m_dlg->InitDialog();
  }

  void SelectFolders(const fs::path& in, const fs::path& out) {
    m_window->ScriptPick(in.string());
    m_dlg->OnBrowseInput();
    m_window->ScriptPick(out.string());
    m_dlg->OnBrowseOutput();
  }

  void ConvertAndWait() {
    m_dlg->OnConvert();
    ASSERT_TRUE(WaitUntil([&] { return !m_dlg->IsConverting() && !m_dlg->IsAnimating(); }));
  }

  /// The programs started since the test began or last forgot them.
  std::vector<ChildRun> Children() const {
    std::vector<ChildRun> runs;
    const auto launches = m_env.Launches();
    for (std::size_t i = m_forgottenChildren; i < launches.size(); ++i) {
      runs.push_back({fs::path(launches[i].program).filename().string(), i + 1, launches[i].workDir,
                      launches[i].args});
    }
    return runs;
  }
  void ForgetChildren() { m_forgottenChildren = m_env.Launches().size(); }
  /// True when the program of that start runs no more.
  bool Gone(std::size_t id) const { return !m_env.Launches().at(id - 1).running; }

  /// The run of role whose input path contains text, when it has started.
  std::optional<ChildRun> ChildFor(const std::string& role, const std::string& text) const {
    for (const ChildRun& run : Children()) {
      const std::string& input = role == "vocrate" ? run.args.at(0) : run.args.at(1);
      if (run.role == role && input.find(text) != std::string::npos) return run;
    }
    return std::nullopt;
  }

  std::vector<std::string> Boxes() const {
    std::vector<std::string> out;
    for (const auto& box : m_env.Boxes()) {
      out.push_back(Utf8(box.text) + "|" + Utf8(box.caption) + "|" + std::to_string(box.style));
    }
    return out;
  }

  bool TmpIsEmpty() const { return fs::is_empty(m_tmp); }

  std::vector<std::string> Names(const fs::path& folder) const { return testing::Names(folder); }

  testing::TempFolder m_folder{"wavrel_dlg_test"};
  fs::path m_root, m_in, m_out, m_tmp, m_hostDir, m_pluginDir;
  // Read by the fake programs on the worker: set while no run is going.
  FakeBehaviour m_converter, m_decoder;
  std::size_t m_forgottenChildren = 0;
  RecordingEnvironment m_env;
  testing::RecordingObserver m_observer;
  std::unique_ptr<RecordingWindow> m_window;
  std::unique_ptr<CWavrelDlg> m_dlg;
};

TEST_F(DialogTest, StartUpTextsProgramsAndReadyState) {
  const std::vector<std::u16string> keys = {
      u"IDS_TITLE_NAME",      u"IDS_PROMPT_INFO",          u"IDS_CONTENT_INFO",
      u"IDS_RESOURCE_PATH",   u"IDS_TARGET_NAME",          u"IDC_CONVERT",
      u"IDS_CANCLE",          u"IDS_MESSAGE_NO_EMPTY",     u"IDS_CONVERING",
      u"IDS_CONVERED",        u"IDS_CONVER_CANCLEING",     u"IDS_CONVER_CANCLEED",
      u"IDS_QUIT_MESSAGE",    u"IDS_LOSE_EXEFILE",         u"IDS_NO_OPEN_FILE",
      u"IDS_CHECK_FOLDER",    u"IDS_SAVEQCP_FOLDER",       u"IDS_SOME_NOQCP",
      u"IDS_PROMPT",          u"IDS_NOQCPFILE_ONFOLDER",   u"IDS_NOQCP_FORMAT",
      u"IDS_SELECT_FOLDER",   u"IDS_CONVER_FAILED",        u"IDS_OUTPUT_NOT_WRITABLE",
      u"IDS_CONVER_PROGRESS", u"IDS_CONVER_CANCLEED_KEPT", u"IDS_END_REPORT",
      u"IDS_REPORT_MORE",     u"IDS_REPORT_CUT_SHORT",     u"IDS_REPORT_SKIPPED",
      u"IDS_MADE_WAVS",       u"IDS_OPEN_FOLDER"};
  const auto asked = m_env.AskedKeys();
  ASSERT_GE(asked.size(), keys.size());
  EXPECT_EQ(std::vector<std::u16string>(asked.end() - keys.size(), asked.end()), keys);

  EXPECT_EQ(m_window->Title(), "T:IDS_TITLE_NAME");
  EXPECT_EQ(m_window->Text(kIdPromptGroup), "T:IDS_PROMPT_INFO");
  EXPECT_EQ(m_window->Text(kIdStatus), "T:IDS_CONTENT_INFO");
  EXPECT_EQ(m_window->Text(kIdInputLabel), "T:IDS_RESOURCE_PATH");
  EXPECT_EQ(m_window->Text(kIdOutputLabel), "T:IDS_TARGET_NAME");
  EXPECT_EQ(m_window->Text(kIdConvert), "T:IDC_CONVERT");
  EXPECT_EQ(m_window->Text(kIdCancelConversion), "T:IDS_CANCLE");
  EXPECT_FALSE(m_window->Enabled(kIdCancelConversion));
  EXPECT_TRUE(m_window->Enabled(kIdConvert));
  EXPECT_EQ(m_dlg->Step(), kStepIdle);
  EXPECT_EQ(m_dlg->SampleRateSetting(), -1);
  EXPECT_EQ(fs::path(Utf8(m_dlg->ConverterPath())), m_pluginDir / "vocrate");
  EXPECT_EQ(fs::path(Utf8(m_dlg->DecoderPath())), m_pluginDir / "evrc_2004");

  // Enter and Escape do nothing; closing while idle ends at once, deleting nothing.
  WriteFile(m_in / "x.evrc", "mine");
  const auto before = m_window->Log().Entries().size();
  m_dlg->OnOK();
  m_dlg->OnCancel();
  EXPECT_EQ(m_window->Log().Entries().size(), before);
  m_dlg->OnCloseRequest();
  EXPECT_TRUE(m_window->Ended());
  EXPECT_EQ(Slurp(m_in / "x.evrc"), "mine");
}

TEST_F(DialogTest, SampleRateSetting) {
  const auto write = [](const fs::path& path, const std::string& body) {
    fs::create_directories(path.parent_path());
    WriteFile(path, "<?xml version=\"1.0\"?>\n<converwavset>" + body + "</converwavset>\n");
  };
  const fs::path settings = m_pluginDir / "WavrelPluginSet.xml";
  // The last counting property wins.
  write(settings, "<property name=\"a\">16000</property><property name=\"b\">8000</property>");
  EXPECT_EQ(m_dlg->ReadSampleRateSetting(), 8000);
  // A property counts only when its first attribute is "name"; text read like atoi.
  write(settings,
        "<property name=\"x\"> 16000abc</property><property id=\"1\" name=\"r\">44100</property>");
  EXPECT_EQ(m_dlg->ReadSampleRateSetting(), 16000);
  write(settings, "<property name=\"x\">fast</property>");
  EXPECT_EQ(m_dlg->ReadSampleRateSetting(), 0);
  WriteFile(settings, "<other><property name=\"x\">16000</property></other>");
  EXPECT_EQ(m_dlg->ReadSampleRateSetting(), -1);
  WriteFile(settings, "<converwavset><property name=\"x\">16000");  // malformed
  EXPECT_EQ(m_dlg->ReadSampleRateSetting(), -1);
  fs::remove(settings);
  EXPECT_EQ(m_dlg->ReadSampleRateSetting(), -1);
  // The lower-case folder spelling is read when the usual one has no file.
  write(m_hostDir / "plugins" / "WavrelPlugin" / "WavrelPluginSet.xml",
        "<property name=\"x\">11025</property>");
  EXPECT_EQ(m_dlg->ReadSampleRateSetting(), 11025);
  fs::remove_all(m_hostDir / "plugins");

  // Only a regular file of bounded size is read: a pipe (which would block
  // the start) or a huge file counts as missing.
  ASSERT_EQ(mkfifo(settings.c_str(), 0600), 0);
  EXPECT_EQ(m_dlg->ReadSampleRateSetting(), -1);
  fs::remove(settings);
  write(settings, "<property name=\"x\">16000</property>" + std::string(70 * 1024, ' '));
  EXPECT_EQ(m_dlg->ReadSampleRateSetting(), -1);
}

TEST_F(DialogTest, ASampleRateNoWavIsWrittenAtIsToldOnceBeforeConverting) {
  WriteFile(m_pluginDir / "WavrelPluginSet.xml",
            "<converwavset><property name=\"samplerate\">16</property></converwavset>");
  Reopen();
  WriteFile(m_in / "a.qcp", QcpBytes("a"));
  SelectFolders(m_in, m_out);
  m_dlg->OnConvert();
  EXPECT_EQ(Boxes(), std::vector<std::string>{"T:IDS_BAD_SAMPLE_RATE|T:IDS_PROMPT|48"});
  m_env.SetText(u"IDS_BAD_SAMPLE_RATE", u"");  // the English text names the setting
  m_env.ResetBoxes();
  m_dlg->OnConvert();
  ASSERT_EQ(m_env.Boxes().size(), 1u);
  EXPECT_EQ(Utf8(m_env.Boxes()[0].text).rfind("The sample rate 16 of the settings file", 0), 0u);
  EXPECT_TRUE(Children().empty());
  EXPECT_FALSE(m_dlg->IsConverting());
}

TEST_F(DialogTest, ChecksBeforeConvertingShowTheirMessagesInOrder) {
  const std::string caption = "|T:IDS_PROMPT|48";
  // Nothing picked; then a cancelled input picker (input empty, output "/").
  m_dlg->OnConvert();
  m_window->ScriptPick(std::nullopt);
  m_dlg->OnBrowseInput();
  EXPECT_EQ(m_window->Text(kIdInputEdit), "");
  EXPECT_EQ(m_window->Text(kIdOutputEdit), "/");
  m_dlg->OnConvert();
  // A program missing is found before any folder is looked at.
  const std::string decoderPath = (m_pluginDir / "evrc_2004").string();
  const auto decoder = m_env.programs.at(decoderPath);
  m_env.programs.erase(decoderPath);
  SelectFolders(m_root / "missing", m_out);
  m_dlg->OnConvert();
  m_env.programs[decoderPath] = decoder;
  // Folders that do not exist, or are files.
  m_dlg->OnConvert();
  SelectFolders(m_in, m_root / "missing");
  m_dlg->OnConvert();
  WriteFile(m_root / "file", "x");
  SelectFolders(m_root / "file", m_out);
  m_dlg->OnConvert();
  // The folder message names the folder that cannot be opened.
  const std::string missing = (m_root / "missing").string();
  EXPECT_EQ(Boxes(), (std::vector<std::string>{
                         "T:IDS_MESSAGE_NO_EMPTY" + caption, "T:IDS_MESSAGE_NO_EMPTY" + caption,
                         "T:IDS_LOSE_EXEFILE" + caption, "T:IDS_CHECK_FOLDER\n" + missing + caption,
                         "T:IDS_CHECK_FOLDER\n" + missing + caption,
                         "T:IDS_CHECK_FOLDER\n" + (m_root / "file").string() + caption}));
  EXPECT_FALSE(m_dlg->IsConverting());
  EXPECT_FALSE(m_window->Enabled(kIdCancelConversion));
  EXPECT_TRUE(Children().empty());
}

TEST_F(DialogTest, ScanJudgesFilesByContentOnly) {
  const std::string caption = "|T:IDS_PROMPT|48";
  // An empty folder, then one with only a subfolder (whose QCP is not seen).
  SelectFolders(m_in, m_out);
  m_dlg->OnConvert();
  fs::create_directories(m_in / "sub");
  WriteFile(m_in / "sub" / "deep.qcp", QcpBytes("x"));
  m_dlg->OnConvert();
  // Files that only look like QCP files.
  WriteFile(m_in / "notes.txt", "hello");
  WriteFile(m_in / "fake.qcp", "RIFF....QLCM but text");
  WriteFile(m_in / "short.qcp", QcpBytes("").substr(0, qcp::kIdentifyingBytes - 1));
  m_dlg->OnConvert();
  EXPECT_EQ(Boxes(), (std::vector<std::string>{"T:IDS_NOQCPFILE_ONFOLDER" + caption,
                                               "T:IDS_NOQCPFILE_ONFOLDER" + caption,
                                               "T:IDS_NOQCP_FORMAT" + caption}));
  EXPECT_TRUE(m_dlg->FoundNonQcp());
  EXPECT_TRUE(m_dlg->FileList().empty());

  // Exactly the identifying bytes suffice; the name does not matter. A QCP
  // file of a codec no decoder here takes is a recording all the same.
  WriteFile(m_in / "exact", QcpBytes("").substr(0, qcp::kIdentifyingBytes));
  WriteFile(m_in / "voice.dat", QcpBytes("y"));
  std::string guid = QcpBytes("x");
  guid[qcp::kIdentifyingBytes - 1] ^= 0x01;
  guid[qcp::kIdentifyingBytes - 2] ^= 0x01;
  WriteFile(m_in / "guid.qcp", guid);
  m_dlg->ScanInputFolder(Utf16(m_in.string()));
  std::vector<std::string> found = m_dlg->FileList();
  std::sort(found.begin(), found.end());
  EXPECT_EQ(found,
            (std::vector<std::string>{(m_in / "exact").string(), (m_in / "guid.qcp").string(),
                                      (m_in / "voice.dat").string()}));
  EXPECT_FALSE(m_dlg->IsQcpFile(u""));
  EXPECT_FALSE(m_dlg->IsQcpFile(Utf16((m_in / "sub").string())));
}

TEST_F(DialogTest, MixedFolderAsksFirstAndConvertsOnlyOnOk) {
  WriteFile(m_in / "a.qcp", QcpBytes("first"));
  WriteFile(m_in / "b.qcp", QcpBytes("second"));
  WriteFile(m_in / "readme.txt", "text");
  SelectFolders(m_in, m_out);
  m_env.ScriptBoxAnswer(false);
  m_dlg->OnConvert();
  EXPECT_EQ(Boxes(), std::vector<std::string>{"T:IDS_SOME_NOQCP|T:IDS_PROMPT|49"});
  EXPECT_FALSE(m_dlg->IsConverting());
  EXPECT_EQ(m_window->Text(kIdStatus), "T:IDS_CONTENT_INFO");
  EXPECT_TRUE(Names(m_out).empty());

  m_env.ScriptBoxAnswer(true);
  ConvertAndWait();
  EXPECT_EQ(Names(m_out), (std::vector<std::string>{"a.wav", "b.wav"}));
  EXPECT_EQ(m_window->Text(kIdStatus), "T:IDS_CONVERED");
}

TEST_F(DialogTest, RunConvertsInByteOrderAndLeavesOnlyTheWavFiles) {
  WriteFile(m_in / "a.qcp", QcpBytes("alpha"));
  WriteFile(m_in / "B.qcp", QcpBytes("bravo"));
  WriteFile(m_in / "c.d.dat", QcpBytes("charlie"));
  // The user's own files of the intermediates' names are never touched.
  WriteFile(m_in / "a.evrc", "mine");
  WriteFile(m_in / "a.pcm", "mine");
  WriteFile(m_in / "loss_stat.txt", "mine");
  WriteFile(m_out / "a.wav", "left by an earlier run");
  // Nothing is written beside the recordings, so a read-only folder converts.
  fs::permissions(m_in, fs::perms::owner_read | fs::perms::owner_exec);
  SelectFolders(m_in, m_out);
  ConvertAndWait();
  fs::permissions(m_in, fs::perms::owner_all);

  const auto children = Children();
  ASSERT_EQ(children.size(), 6u);
  const char* order[] = {"B", "a", "c.d"};
  for (int i = 0; i < 3; ++i) {
    const ChildRun& conv = children[2 * i];
    const ChildRun& dec = children[2 * i + 1];
    ASSERT_EQ(conv.role, "vocrate");
    ASSERT_EQ(dec.role, "evrc_2004");
    const fs::path work = conv.cwd;
    EXPECT_EQ(work.parent_path(), fs::canonical(m_tmp));
    // Intermediates take short names of their own: the file's position.
    const std::string base = (work / std::to_string(i + 1)).string();
    EXPECT_EQ(fs::path(conv.args.at(0)).stem(), order[i]);
    EXPECT_EQ(fs::path(conv.args.at(0)).parent_path(), m_in);
    EXPECT_EQ(conv.args, (std::vector<std::string>{conv.args.at(0), base + ".evrc", "1"}));
    EXPECT_EQ(dec.args,
              (std::vector<std::string>{"-i", base + ".evrc", "-o", base + ".pcm", "-d"}));
    // Its intermediates go as soon as it is done, not only with the work folder.
    const auto log = m_env.Log();
    for (const std::string& file : {base + ".evrc", base + ".pcm"}) {
      EXPECT_TRUE(std::find(log.begin(), log.end(), "rm " + file) != log.end()) << file;
    }
  }
  EXPECT_TRUE(TmpIsEmpty());
  EXPECT_EQ(Names(m_in), (std::vector<std::string>{"B.qcp", "a.evrc", "a.pcm", "a.qcp", "c.d.dat",
                                                   "loss_stat.txt"}));
  EXPECT_EQ(Slurp(m_in / "a.evrc") + Slurp(m_in / "a.pcm") + Slurp(m_in / "loss_stat.txt"),
            "minemine"
            "mine");
  EXPECT_EQ(Names(m_out), (std::vector<std::string>{"B.wav", "a.wav", "c.d.wav"}));
  // The fake decoder's PCM is the QCP file itself, so the samples show which
  // file each WAV came from; an earlier run's a.wav is replaced.
  const std::string wav = Slurp(m_out / "a.wav");
  ASSERT_EQ(wav.size(), 44 + QcpBytes("alpha").size());
  EXPECT_TRUE(wav.substr(44) == QcpBytes("alpha"));

  EXPECT_EQ(m_window->StatusTexts(),
            (std::vector<std::string>{"T:IDS_CONTENT_INFO", "T:IDS_CONTENT_INFO", "T:IDS_CONVERING",
                                      "T:IDS_CONVER_PROGRESS", "T:IDS_CONVER_PROGRESS",
                                      "T:IDS_CONVER_PROGRESS", "T:IDS_CONVERED"}));
  for (int id : {kIdConvert, kIdBrowseInput, kIdBrowseOutput}) EXPECT_TRUE(m_window->Enabled(id));
  EXPECT_FALSE(m_window->Enabled(kIdCancelConversion));
  EXPECT_EQ(m_dlg->Step(), kStepCleanUp);
  EXPECT_TRUE(m_dlg->FileList().empty());
  EXPECT_EQ(m_window->Log().Matching("picture"),
            (std::vector<std::string>{"picture load " + (m_pluginDir / "process.gif").string(),
                                      "picture start", "picture stop", "picture release",
                                      "picture load " + (m_pluginDir / "static.gif").string(),
                                      "picture start"}));
  EXPECT_TRUE(m_window->Log().Contains("redraw"));
  EXPECT_TRUE(m_window->Shown(kIdPicture));

  std::lock_guard lock(m_observer.m_mutex);
  ASSERT_EQ(m_observer.finished.size(), 3u);
  for (const FileOutcome& outcome : m_observer.finished) {
    EXPECT_TRUE(outcome.success) << outcome.path << ": " << outcome.reason;
    // Whole 160-sample frames of the PCM the fake decoder wrote.
    EXPECT_EQ(outcome.totalFrames,
              static_cast<std::int32_t>((std::filesystem::file_size(outcome.wavPath) - 44) / 320));
    EXPECT_EQ(outcome.lostFrames, 2);
  }
  EXPECT_EQ(m_observer.finished[0].wavPath, (m_out / "B.wav").string());
  ASSERT_EQ(m_observer.runs.size(), 1u);
  EXPECT_EQ(m_observer.runs[0].files, 3u);
  EXPECT_EQ(m_observer.runs[0].failed, 0u);
  EXPECT_FALSE(m_observer.runs[0].cancelled);
}

TEST_F(DialogTest, FailuresAreCountedAndReported) {
  for (const char* name : {"a", "b", "c"}) {
    WriteFile(m_in / (std::string(name) + ".qcp"), QcpBytes(name));
  }
  SelectFolders(m_in, m_out);
  // The decoder fails for b: the host's text carries the counts.
  m_env.SetText(u"IDS_CONVER_FAILED", u"%1 of %2 failed");
  Reopen();
  SelectFolders(m_in, m_out);
  m_decoder = {FakeBehaviour::kFail3, "/2.evrc"};
  ConvertAndWait();
  EXPECT_EQ(m_window->Text(kIdStatus), "1 of 3 failed");
  {
    std::lock_guard lock(m_observer.m_mutex);
    ASSERT_EQ(m_observer.finished.size(), 3u);
    EXPECT_FALSE(m_observer.finished[1].success);
    EXPECT_EQ(m_observer.finished[1].reason, "decoder exited with status 3");
    EXPECT_EQ(m_observer.runs.back().failed, 1u);
    m_observer.finished.clear();
  }

  // Without a text for it the finished text gets the counts appended. The
  // converter crashes for a; the decoder writes no PCM for c.
  m_env.SetText(u"IDS_CONVER_FAILED", u"");
  Reopen();
  SelectFolders(m_in, m_out);
  m_converter = {FakeBehaviour::kKilled, "/a.qcp"};
  m_decoder = {FakeBehaviour::kNoPcm, "/3.evrc"};
  fs::remove_all(m_out);
  fs::create_directories(m_out);
  ConvertAndWait();
  EXPECT_EQ(m_window->Text(kIdStatus), "T:IDS_CONVERED (2/3)");
  EXPECT_EQ(Names(m_out), std::vector<std::string>{"b.wav"});
  std::lock_guard lock(m_observer.m_mutex);
  ASSERT_EQ(m_observer.finished.size(), 3u);
  EXPECT_EQ(m_observer.finished[0].reason, "converter killed by signal 11");
  EXPECT_TRUE(m_observer.finished[1].success);
  EXPECT_EQ(m_observer.finished[2].reason, "decoder produced no PCM");
  EXPECT_TRUE(TmpIsEmpty());
}

TEST_F(DialogTest, SameStemFilesBothKeepTheirWav) {
  WriteFile(m_in / "x.qcp", QcpBytes("from qcp"));
  WriteFile(m_in / "x.dat", QcpBytes("from dat"));
  WriteFile(m_out / "x.wav", "an earlier run's file");
  SelectFolders(m_in, m_out);
  ConvertAndWait();
  // x.dat sorts first and takes x.wav; x.qcp does not overwrite it.
  EXPECT_EQ(Names(m_out), (std::vector<std::string>{"x (2).wav", "x.wav"}));
  EXPECT_TRUE(Slurp(m_out / "x.wav").substr(44) == QcpBytes("from dat"));
  EXPECT_TRUE(Slurp(m_out / "x (2).wav").substr(44) == QcpBytes("from qcp"));
  EXPECT_EQ(m_window->Text(kIdStatus), "T:IDS_CONVERED");
}

TEST_F(DialogTest, WavThatCannotBeCreatedIsReportedAndTheNextFileGoesOn) {
  WriteFile(m_in / "a.qcp", QcpBytes("a"));
  WriteFile(m_in / "b.qcp", QcpBytes("b"));
  fs::create_directories(m_out / "a.wav");  // the name is taken by a folder
  SelectFolders(m_in, m_out);
  ConvertAndWait();
  EXPECT_EQ(Boxes(), (std::vector<std::string>{
                         "T:IDS_NO_OPEN_FILE" + (m_out / "a.wav").string() + "|T:IDS_PROMPT|48",
                         "T:IDS_END_REPORT\na.qcp: cannot create WAV file|T:IDS_PROMPT|48"}));
  EXPECT_TRUE(fs::is_directory(m_out / "a.wav"));
  EXPECT_TRUE(fs::is_regular_file(m_out / "b.wav"));
  EXPECT_EQ(m_window->Text(kIdStatus), "T:IDS_CONVER_FAILED");
  EXPECT_TRUE(TmpIsEmpty());
}

TEST_F(DialogTest, OutputsNeverReplaceAnInputNorWriteThroughALink) {
  // Recordings whose WAV names are taken by recordings of the same run, in
  // one folder for input and output.
  for (const char* name : {"rec.wav", "x.qcp", "x.dat", "x (2).wav"}) {
    WriteFile(m_in / name, QcpBytes(name));
  }
  SelectFolders(m_in, m_in);
  ConvertAndWait();
  EXPECT_EQ(Names(m_in),
            (std::vector<std::string>{"rec (2).wav", "rec.wav", "x (2) (2).wav", "x (2).wav",
                                      "x (3).wav", "x.dat", "x.qcp", "x.wav"}));
  for (const char* name : {"rec.wav", "x.qcp", "x.dat", "x (2).wav"}) {
    EXPECT_TRUE(Slurp(m_in / name) == QcpBytes(name)) << name;
  }
  EXPECT_TRUE(Slurp(m_in / "x (3).wav").substr(44) == QcpBytes("x.qcp"));

  // A hard link to a recording in the output folder counts as that
  // recording; a link in the output folder is replaced, its target untouched.
  fs::remove_all(m_in);
  fs::create_directories(m_in);
  WriteFile(m_in / "y.qcp", QcpBytes("y"));
  WriteFile(m_in / "z.qcp", QcpBytes("z"));
  fs::create_hard_link(m_in / "y.qcp", m_out / "y.wav");
  WriteFile(m_root / "victim.txt", "victim");
  fs::create_symlink("../victim.txt", m_out / "z.wav");
  const auto recorded = fs::last_write_time(m_in / "z.qcp") - std::chrono::hours(24 * 400);
  fs::last_write_time(m_in / "z.qcp", recorded);
  SelectFolders(m_in, m_out);
  ConvertAndWait();
  // Each WAV takes its recording's modification time.
  EXPECT_EQ(fs::last_write_time(m_out / "z.wav"), recorded);
  EXPECT_EQ(Names(m_out), (std::vector<std::string>{"y (2).wav", "y.wav", "z.wav"}));
  EXPECT_TRUE(Slurp(m_in / "y.qcp") == QcpBytes("y"));
  EXPECT_EQ(Slurp(m_root / "victim.txt"), "victim");
  EXPECT_FALSE(fs::is_symlink(m_out / "z.wav"));
  EXPECT_TRUE(Slurp(m_out / "z.wav").substr(44) == QcpBytes("z"));
  EXPECT_EQ(m_window->Text(kIdStatus), "T:IDS_CONVERED");
}

TEST_F(DialogTest, AnyNameTheFolderListsConverts) {
  // Bytes that are not UTF-8 (a Latin-1 name) and a name of 255 bytes.
  const std::string latin1 = "rec\xE9";
  const std::string longStem(251, 'n');
  WriteFile(m_in / (latin1 + ".qcp"), QcpBytes("latin1"));
  WriteFile(m_in / (longStem + ".qcp"), QcpBytes("long"));
  SelectFolders(m_in, m_out);
  ConvertAndWait();
  EXPECT_EQ(Names(m_out), (std::vector<std::string>{longStem + ".wav", latin1 + ".wav"}));
  EXPECT_TRUE(Slurp(m_out / (latin1 + ".wav")).substr(44) == QcpBytes("latin1"));
  EXPECT_EQ(m_window->Text(kIdStatus), "T:IDS_CONVERED");
  std::lock_guard lock(m_observer.m_mutex);
  ASSERT_EQ(m_observer.finished.size(), 2u);
  EXPECT_EQ(m_observer.finished[1].path, (m_in / (latin1 + ".qcp")).string());
  EXPECT_EQ(m_observer.finished[1].wavPath, (m_out / (latin1 + ".wav")).string());
}

/// Starts a run of a.qcp (quick) and b.qcp, which is held in step by a
/// converter or decoder that runs until it is stopped, or by a slow copy;
/// returns once b is in that step (with the id of the program that holds it).
class StopTest : public DialogTest {
 protected:
  std::size_t StartAndHold(int step) {
    WriteFile(m_in / "a.qcp", QcpBytes("a"));
    WriteFile(m_in / "b.qcp", QcpBytes("b"));
    SelectFolders(m_in, m_out);
    if (step == kStepConverter) {
      m_converter = {FakeBehaviour::kHang, "/b.qcp"};
    } else if (step == kStepDecoder) {
      m_decoder = {FakeBehaviour::kHang, "/2.evrc"};
    } else if (step == kStepWav) {
      m_decoder = {FakeBehaviour::kLargePcm, "/2.evrc"};
      m_dlg->WavWriterForTesting().SetBlockHook(
          [](std::uint64_t) { std::this_thread::sleep_for(20ms); });
    }
    m_dlg->OnConvert();
    const char* role = step == kStepConverter ? "vocrate" : "evrc_2004";
    const bool held = WaitUntil([&] {
      if (m_dlg->Step() != step) return false;
      if (step == kStepWav) return UnfinishedWavOf("b.wav");
      return ChildFor(role, step == kStepConverter ? "/b.qcp" : "/2.evrc").has_value();
    });
    EXPECT_TRUE(held);
    if (step == kStepWav) return 0;
    return ChildFor(role, step == kStepConverter ? "/b.qcp" : "/2.evrc")->id;
  }

  /// True when the WAV writer's temporary file for name is in the output folder.
  bool UnfinishedWavOf(const std::string& name) const {
    for (const std::string& entry : Names(m_out)) {
      if (entry.rfind("." + name + ".", 0) == 0) return true;
    }
    return false;
  }

  /// What every stopped run leaves: a's WAV, nothing of b, no child, no
  /// work folder, the threads ended.
  void ExpectCleanStop(std::size_t child) {
    EXPECT_FALSE(m_dlg->IsConverting());
    EXPECT_FALSE(m_dlg->IsAnimating());
    EXPECT_TRUE(child == 0 || Gone(child));
    EXPECT_EQ(Names(m_out), std::vector<std::string>{"a.wav"});
    // a's WAV is complete (with a large fake PCM in the copy step).
    const bool aComplete = Slurp(m_out / "a.wav").substr(44) == QcpBytes("a") ||
                           fs::file_size(m_out / "a.wav") == 44 + kWavCopyBlockSize * 40;
    EXPECT_TRUE(aComplete);
    EXPECT_EQ(Names(m_in), (std::vector<std::string>{"a.qcp", "b.qcp"}));
    EXPECT_TRUE(TmpIsEmpty());
    EXPECT_FALSE(m_window->Shown(kIdPicture));
    EXPECT_FALSE(m_window->Log().Contains("picture load " + (m_pluginDir / "static.gif").string()));
  }
};

TEST_F(StopTest, CancelInEachStep) {
  for (int step : {kStepConverter, kStepDecoder, kStepWav}) {
    SCOPED_TRACE("step " + std::to_string(step));
    Reopen();
    const std::size_t child = StartAndHold(step);
    const auto begin = std::chrono::steady_clock::now();
    m_dlg->OnCancelConversion();
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 1500ms);
    ExpectCleanStop(child);
    const auto texts = m_window->StatusTexts();
    ASSERT_GE(texts.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(texts.end() - 3, texts.end()),
              (std::vector<std::string>{"T:IDS_CONVER_PROGRESS", "T:IDS_CONVER_CANCLEING",
                                        "T:IDS_CONVER_CANCLEED_KEPT"}));
    for (int id : {kIdConvert, kIdBrowseInput, kIdBrowseOutput}) {
      EXPECT_TRUE(m_window->Enabled(id));
    }
    EXPECT_FALSE(m_window->Enabled(kIdCancelConversion));
    EXPECT_FALSE(m_window->Ended());
    // The cancelled run may be followed by a new one at once.
    m_converter = m_decoder = {};
    m_dlg->WavWriterForTesting().SetBlockHook(nullptr);
    ConvertAndWait();
    EXPECT_EQ(Names(m_out), (std::vector<std::string>{"a.wav", "b.wav"}));
    EXPECT_EQ(m_window->Text(kIdStatus), "T:IDS_CONVERED");
    fs::remove_all(m_out);
    fs::create_directories(m_out);
    ForgetChildren();
  }
}

TEST_F(StopTest, CloseInEachStep) {
  for (int step : {kStepConverter, kStepDecoder, kStepWav}) {
    SCOPED_TRACE("step " + std::to_string(step));
    Reopen();
    const std::size_t child = StartAndHold(step);
    m_dlg->OnCloseRequest();
    ExpectCleanStop(child);
    EXPECT_TRUE(m_window->Ended());
    const auto texts = m_window->StatusTexts();
    if (step == kStepWav) {
      EXPECT_EQ(std::vector<std::string>(texts.end() - 2, texts.end()),
                (std::vector<std::string>{"T:IDS_CONVER_CANCLEING", "T:IDS_CONVER_CANCLEED"}));
    } else {
      EXPECT_EQ(texts.back(), "T:IDS_QUIT_MESSAGE");
    }
    // The converter killed by close does not lead to a decoder for b.
    EXPECT_FALSE(step == kStepConverter && ChildFor("evrc_2004", "/2.evrc").has_value());
    m_converter = m_decoder = {};
    fs::remove_all(m_out);
    fs::create_directories(m_out);
    ForgetChildren();
  }
}

TEST_F(StopTest, CancelAndCloseKeepAWavThatWasThereBefore) {
  for (const bool close : {false, true}) {
    SCOPED_TRACE(close ? "close" : "cancel");
    Reopen();
    WriteFile(m_out / "b.wav", "the user's own b.wav");
    StartAndHold(kStepWav);
    if (close) {
      m_dlg->OnCloseRequest();
    } else {
      m_dlg->OnCancelConversion();
    }
    EXPECT_EQ(Slurp(m_out / "b.wav"), "the user's own b.wav");
    EXPECT_EQ(Names(m_out), (std::vector<std::string>{"a.wav", "b.wav"}));
    EXPECT_TRUE(TmpIsEmpty());
    m_decoder = {};
    fs::remove_all(m_out);
    fs::create_directories(m_out);
  }
}

TEST_F(StopTest, CancelReportsTheFilesDoneBeforeItAndNothingElse) {
  // Nothing to report: no box, the buttons come back at once.
  StartAndHold(kStepDecoder);
  m_dlg->OnCancelConversion();
  EXPECT_FALSE(m_dlg->IsConverting());
  EXPECT_TRUE(m_env.Boxes().empty());
  EXPECT_TRUE(m_window->Enabled(kIdConvert));

  // bad1 and bad2 fail, c is cancelled in the decoder, d is never reached.
  m_converter = {FakeBehaviour::kFail3, "/bad"};
  m_decoder = {FakeBehaviour::kHang, "/3.evrc"};
  for (const bool close : {false, true}) {
    SCOPED_TRACE(close ? "close during the report" : "report answered");
    Reopen();
    fs::remove_all(m_in);
    fs::create_directories(m_in);
    for (const char* name : {"bad1", "bad2", "c", "d"}) {
      WriteFile(m_in / (name + std::string(".qcp")), QcpBytes(name));
    }
    ForgetChildren();
    SelectFolders(m_in, m_out);
    m_dlg->OnConvert();
    ASSERT_TRUE(WaitUntil([&] { return ChildFor("evrc_2004", "/3.evrc").has_value(); }));
    m_env.HoldNextBox();
    m_dlg->OnCancelConversion();
    ASSERT_TRUE(WaitUntil([&] { return m_env.BoxHeld(); }));
    // The cancelled status first; no new run while the report shows.
    EXPECT_EQ(m_window->Text(kIdStatus), "T:IDS_CONVER_CANCLEED_KEPT");
    EXPECT_FALSE(m_window->Enabled(kIdConvert));
    if (close) m_dlg->OnCloseRequest();
    EXPECT_FALSE(m_window->Ended());
    m_env.ReleaseHeldBox();
    ASSERT_TRUE(WaitUntil([&] { return !m_dlg->IsConverting() && !m_dlg->IsAnimating(); }));
    EXPECT_EQ(Boxes(), std::vector<std::string>{"T:IDS_END_REPORT"
                                                "\nbad1.qcp: converter exited with status 3"
                                                "\nbad2.qcp: converter exited with status 3"
                                                "|T:IDS_PROMPT|48"});
    EXPECT_EQ(m_window->Ended(), close);
    EXPECT_EQ(m_window->Enabled(kIdConvert), !close);
    EXPECT_FALSE(ChildFor("vocrate", "/d.qcp").has_value());
    EXPECT_TRUE(TmpIsEmpty());
    m_env.ResetBoxes();
  }
}

TEST_F(StopTest, BetweenFilesCancelAndCloseStopTheWorkerAndConvertWaits) {
  WriteFile(m_in / "a.qcp", QcpBytes("a"));
  WriteFile(m_in / "b.qcp", QcpBytes("b"));
  SelectFolders(m_in, m_out);
  m_observer.afterFile = [](const FileOutcome&) {
    std::this_thread::sleep_for(600ms);
  };  // holds the worker in step 4 after a
  m_dlg->OnConvert();
  ASSERT_TRUE(WaitUntil([&] {
    std::lock_guard lock(m_observer.m_mutex);
    return !m_observer.finished.empty();
  }));
  // A second Convert while the worker runs starts nothing.
  m_dlg->OnConvert();
  m_dlg->OnCancelConversion();
  EXPECT_FALSE(m_dlg->IsConverting());
  EXPECT_EQ(Children().size(), 2u);  // a's converter and decoder only
  EXPECT_EQ(Names(m_out), std::vector<std::string>{"a.wav"});
  EXPECT_EQ(m_window->Text(kIdStatus), "T:IDS_CONVER_CANCLEED_KEPT");
  EXPECT_TRUE(m_window->Enabled(kIdConvert));
  EXPECT_TRUE(TmpIsEmpty());
  {
    std::lock_guard lock(m_observer.m_mutex);
    ASSERT_EQ(m_observer.runs.size(), 1u);
    EXPECT_TRUE(m_observer.runs[0].cancelled);
  }

  // Close between files: the dialog ends only after the worker has.
  fs::remove(m_out / "a.wav");
  m_dlg->OnConvert();
  ASSERT_TRUE(WaitUntil([&] {
    std::lock_guard lock(m_observer.m_mutex);
    return m_observer.finished.size() == 2;
  }));
  m_dlg->OnCloseRequest();
  EXPECT_TRUE(m_window->Ended());
  EXPECT_FALSE(m_dlg->IsConverting());
  EXPECT_FALSE(m_dlg->IsAnimating());
  EXPECT_EQ(Names(m_out), std::vector<std::string>{"a.wav"});
  EXPECT_TRUE(TmpIsEmpty());
}

TEST_F(DialogTest, BrowseButtonsFillTheFields) {
  m_window->ScriptPick(m_in.string());
  m_dlg->OnBrowseInput();
  EXPECT_EQ(m_window->Text(kIdInputEdit), m_in.string());
  EXPECT_EQ(m_window->Text(kIdOutputEdit), m_in.string() + "/");
  EXPECT_FALSE(m_window->Shown(kIdPicture));
  EXPECT_EQ(m_window->Text(kIdStatus), "T:IDS_CONTENT_INFO");
  m_window->ScriptPick(std::nullopt);
  m_dlg->OnBrowseOutput();
  EXPECT_EQ(m_window->Text(kIdOutputEdit), "");
  EXPECT_EQ(m_window->Log().Matching("pick"),
            (std::vector<std::string>{"pick input T:IDS_SAVEQCP_FOLDER",
                                      "pick output T:IDS_SELECT_FOLDER"}));

  // Output into the input folder: the WAVs land beside the recordings, and a
  // second Convert finds them and asks first.
  WriteFile(m_in / "a.qcp", QcpBytes("a"));
  m_window->ScriptPick(m_in.string());
  m_dlg->OnBrowseInput();
  ConvertAndWait();
  EXPECT_EQ(Names(m_in), (std::vector<std::string>{"a.qcp", "a.wav"}));
  m_env.ScriptBoxAnswer(false);
  m_dlg->OnConvert();
  EXPECT_EQ(Boxes(), std::vector<std::string>{"T:IDS_SOME_NOQCP|T:IDS_PROMPT|49"});
}

TEST_F(DialogTest, OutputFolderThatCannotTakeFilesIsRefusedBeforeStarting) {
  const std::string caption = "|T:IDS_PROMPT|48";
  WriteFile(m_in / "a.qcp", QcpBytes("a"));
  // /proc can be opened but takes no new file, not even from root.
  SelectFolders(m_in, "/proc");
  m_dlg->OnConvert();
  m_env.SetText(u"IDS_OUTPUT_NOT_WRITABLE", u"");  // the English fallback names it too
  Reopen();
  SelectFolders(m_in, "/proc");
  m_dlg->OnConvert();
  const auto boxes = Boxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].rfind("T:IDS_OUTPUT_NOT_WRITABLE\n/proc\n(", 0), 0u) << boxes[0];
  EXPECT_EQ(boxes[1].rfind("The WAV files cannot be written in the output folder:\n/proc\n(", 0),
            0u)
      << boxes[1];
  EXPECT_FALSE(m_dlg->IsConverting());
  EXPECT_TRUE(Children().empty());
  EXPECT_EQ(m_window->Text(kIdStatus), "T:IDS_CONTENT_INFO");
  EXPECT_TRUE(m_window->Enabled(kIdConvert));
  EXPECT_FALSE(m_window->Enabled(kIdCancelConversion));
  // The probe leaves nothing behind in a folder that takes files.
  EXPECT_TRUE(m_env.Files().CanCreateFileIn(m_out.string(), nullptr));
  EXPECT_TRUE(fs::is_empty(m_out));
  // Permission bits refuse an ordinary user; root passes them, and so does the run.
  fs::permissions(m_out, fs::perms::owner_read | fs::perms::owner_exec);
  const bool writable = m_env.Files().CanCreateFileIn(m_out.string(), nullptr);
  fs::permissions(m_out, fs::perms::owner_all);
  if (geteuid() != 0) {
    EXPECT_FALSE(writable) << "a folder without write permission took a file";
  } else {
    std::printf("note: running as root, the permission-bit case is not checked (/proc is)\n");
  }
}

TEST_F(DialogTest, StatusLineShowsTheRunsPlace) {
  WriteFile(m_in / "a.qcp", QcpBytes("a"));
  WriteFile(m_in / "B.qcp", QcpBytes("b"));
  m_env.SetText(u"IDS_CONVER_PROGRESS", u"%1/%2 %3");
  Reopen();
  SelectFolders(m_in, m_out);
  ConvertAndWait();
  auto texts = m_window->StatusTexts();
  EXPECT_EQ(std::vector<std::string>(texts.end() - 3, texts.end()),
            (std::vector<std::string>{"1/2 B.qcp", "2/2 a.qcp", "T:IDS_CONVERED"}));
  // Without a text for it, the converting text gets the counts.
  m_env.SetText(u"IDS_CONVER_PROGRESS", u"");
  Reopen();
  SelectFolders(m_in, m_out);
  ConvertAndWait();
  texts = m_window->StatusTexts();
  EXPECT_EQ(std::vector<std::string>(texts.end() - 3, texts.end()),
            (std::vector<std::string>{"T:IDS_CONVERING (1/2)", "T:IDS_CONVERING (2/2)",
                                      "T:IDS_CONVERED"}));
}

TEST_F(DialogTest, OneFailureBoxPerRunAndAnEndReportOfEveryFileWithItsReason) {
  // 22 recordings whose WAV names are taken by folders, one fine, one skipped.
  for (int i = 0; i < 22; ++i) {
    const std::string name = "f" + std::to_string(100 + i);
    WriteFile(m_in / (name + ".qcp"), QcpBytes(name));
    fs::create_directories(m_out / (name + ".wav"));
  }
  WriteFile(m_in / "ok.qcp", QcpBytes("ok"));
  WriteFile(m_in / "notes.txt", "text");
  m_env.SetText(u"IDS_REPORT_MORE", u"and %1 more");
  Reopen();
  SelectFolders(m_in, m_out);
  ConvertAndWait();
  const auto boxes = m_env.Boxes();
  ASSERT_EQ(boxes.size(), 3u);
  EXPECT_EQ(Utf8(boxes[0].text), "T:IDS_SOME_NOQCP");
  EXPECT_EQ(Utf8(boxes[1].text), "T:IDS_NO_OPEN_FILE" + (m_out / "f100.wav").string());
  std::string expected = "T:IDS_END_REPORT";
  for (int i = 0; i < 20; ++i) {
    expected += "\nf" + std::to_string(100 + i) + ".qcp: cannot create WAV file";
  }
  expected += "\nand 3 more";  // f120, f121 and the skipped notes.txt
  EXPECT_EQ(Utf8(boxes[2].text), expected);
  EXPECT_TRUE(fs::is_regular_file(m_out / "ok.wav"));
  EXPECT_TRUE(m_window->Enabled(kIdConvert));

  // A short report lists the skipped file with its reason; a clean run has none.
  m_env.ResetBoxes();
  fs::remove_all(m_in);
  fs::create_directories(m_in);
  WriteFile(m_in / "ok.qcp", QcpBytes("ok"));
  WriteFile(m_in / "notes.txt", "text");
  ConvertAndWait();
  EXPECT_EQ(Boxes(), (std::vector<std::string>{
                         "T:IDS_SOME_NOQCP|T:IDS_PROMPT|49",
                         "T:IDS_END_REPORT\nnotes.txt: T:IDS_REPORT_SKIPPED|T:IDS_PROMPT|48"}));
  m_env.ResetBoxes();
  fs::remove(m_in / "notes.txt");
  ConvertAndWait();
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(DialogTest, CancelOrCloseWhileABoxShowsIsCarriedOutOnceItIsAnswered) {
  m_env.SetText(u"IDS_CONVER_CANCLEED_KEPT", u"%1 kept");
  for (const bool close : {false, true}) {
    SCOPED_TRACE(close ? "close" : "cancel");
    Reopen();
    m_env.ResetBoxes();
    fs::remove_all(m_out);
    fs::create_directories(m_out / "b.wav");  // b's WAV cannot be made: a box
    for (const char* name : {"a", "b", "c"}) {
      WriteFile(m_in / (name + std::string(".qcp")), QcpBytes(name));
    }
    ForgetChildren();
    SelectFolders(m_in, m_out);
    m_env.HoldNextBox();
    m_dlg->OnConvert();
    ASSERT_TRUE(WaitUntil([&] { return m_env.BoxHeld(); }));
    // The handler returns at once; the worker waits for the user.
    if (close) {
      m_dlg->OnCloseRequest();
      EXPECT_EQ(m_window->Text(kIdStatus), "T:IDS_QUIT_MESSAGE");
    } else {
      m_dlg->OnCancelConversion();
      EXPECT_EQ(m_window->Text(kIdStatus), "T:IDS_CONVER_CANCLEING");
    }
    EXPECT_TRUE(m_dlg->IsConverting());
    EXPECT_FALSE(m_window->Ended());
    EXPECT_FALSE(m_window->Enabled(kIdCancelConversion));
    m_env.ReleaseHeldBox();
    ASSERT_TRUE(WaitUntil([&] { return !m_dlg->IsConverting() && !m_dlg->IsAnimating(); }));
    EXPECT_EQ(m_window->Ended(), close);
    EXPECT_FALSE(ChildFor("vocrate", "/c.qcp").has_value());
    EXPECT_EQ(Names(m_out), (std::vector<std::string>{"a.wav", "b.wav"}));
    EXPECT_TRUE(TmpIsEmpty());
    EXPECT_FALSE(m_window->Shown(kIdPicture));
    // After a close nothing more; after a cancel the report of the files done.
    const auto boxes = Boxes();
    ASSERT_EQ(boxes.size(), close ? 1u : 2u);
    if (!close) {
      EXPECT_EQ(boxes[1], "T:IDS_END_REPORT\nb.qcp: cannot create WAV file|T:IDS_PROMPT|48");
      EXPECT_EQ(m_window->Text(kIdStatus), "1 kept");
      EXPECT_TRUE(m_window->Enabled(kIdConvert));
      EXPECT_FALSE(m_window->Enabled(kIdCancelConversion));
    }
  }

  // A close while the end report shows ends the dialog once it is answered.
  Reopen();
  m_env.ResetBoxes();
  fs::remove(m_out / "b.wav");
  m_converter = {FakeBehaviour::kFail3, "/c.qcp"};
  SelectFolders(m_in, m_out);
  m_env.HoldNextBox();
  m_dlg->OnConvert();
  ASSERT_TRUE(WaitUntil([&] { return m_env.BoxHeld(); }));
  EXPECT_EQ(Utf8(m_env.Boxes().at(0).text).rfind("T:IDS_END_REPORT", 0), 0u);
  m_dlg->OnCloseRequest();
  EXPECT_FALSE(m_window->Ended());
  m_env.ReleaseHeldBox();
  ASSERT_TRUE(WaitUntil([&] { return m_window->Ended() && !m_dlg->IsConverting(); }));
  EXPECT_FALSE(m_dlg->IsAnimating());
}

}  // namespace
}  // namespace wavrel
