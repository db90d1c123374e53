// A recording fake of the dialog's environment: the core's recording fake
// (programs are functions, starts, terminations and removals logged, real
// files in the test's folder), the texts of FakeTexts, and message boxes
// that are recorded and answered from a script (or held up until released).
// Thread-safe: the dialog's worker and the test's thread use it at once.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "core/testing/recording_environment.h"
#include "frontends/dialog/dialog_environment.h"
#include "frontends/dialog/testing/fake_texts.h"

namespace wavrel::testing {

class RecordingDialogEnvironment final : public RecordingEnvironmentT<IDialogEnvironment>,
                                         public FakeTexts {
 public:
  std::u16string pluginFolder = u"/plugins/";
  std::u16string hostFolder;

  struct Box {
    std::u16string text;
    std::u16string caption;
    std::uint32_t style = 0;
  };
  std::vector<Box> Boxes() const {
    std::lock_guard lock(m_boxMutex);
    return m_boxes;
  }
  /// Forgets the boxes, the script and a hold; later boxes answer OK.
  void ResetBoxes() {
    std::lock_guard lock(m_boxMutex);
    m_boxes.clear();
    m_answers.clear();
    m_holdNextBox = false;
  }
  /// The next box unanswered so far answers ok (queued).
  void ScriptBoxAnswer(bool ok) {
    std::lock_guard lock(m_boxMutex);
    m_answers.push_back(ok);
  }
  /// The next box stays up (its caller waits) until ReleaseHeldBox.
  void HoldNextBox() {
    std::lock_guard lock(m_boxMutex);
    m_holdNextBox = true;
  }
  bool BoxHeld() const {
    std::lock_guard lock(m_boxMutex);
    return m_boxHeld;
  }
  void ReleaseHeldBox() {
    std::lock_guard lock(m_boxMutex);
    m_boxHeld = false;
    m_boxReleased.notify_all();
  }

  std::u16string Text(const char16_t* key) override {
    const char16_t* text = Lookup(key, true);
    return text != nullptr ? text : u"";
  }
  bool MessageBox(const std::u16string& text, const std::u16string& caption,
                  std::uint32_t style) override {
    Note("box");
    std::unique_lock lock(m_boxMutex);
    m_boxes.push_back({text, caption, style});
    if (m_holdNextBox) {
      m_holdNextBox = false;
      m_boxHeld = true;
      m_boxReleased.wait(lock, [this] { return !m_boxHeld; });
    }
    if (m_answers.empty()) return true;
    const bool ok = m_answers.front();
    m_answers.pop_front();
    return ok;
  }
  std::u16string PluginFolder() override { return pluginFolder; }
  std::u16string HostFolder() override { return hostFolder; }

 private:
  mutable std::mutex m_boxMutex;
  std::vector<Box> m_boxes;
  std::deque<bool> m_answers;
  bool m_holdNextBox = false;
  bool m_boxHeld = false;
  std::condition_variable m_boxReleased;
};

}  // namespace wavrel::testing
