// A recording stand-in for the dialog's window: it keeps every control's
// text, enabled and shown state, records every call in order (thread-safe,
// since the worker and the animation thread call it too), and answers the
// folder picker from a script. Shared by the engine's tests and the GUI's.
#pragma once

#include <algorithm>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/unicode.h"
#include "frontends/dialog/dialog_window.h"

namespace wavrel::testing {

/// UTF-8 of a UTF-16 text (unpaired surrogates become U+FFFD).
inline std::string Utf8(const std::u16string& text) { return base::Utf16ToUtf8Replacing(text); }

/// UTF-16 of a UTF-8 text (enough for test paths).
inline std::u16string Utf16(const std::string& text) { return base::Utf8ToUtf16Replacing(text); }

/// Shared call log of a window and its picture.
class CallLog {
 public:
  void Add(std::string entry) {
    std::lock_guard lock(m_mutex);
    m_entries.push_back(std::move(entry));
  }
  std::vector<std::string> Entries() const {
    std::lock_guard lock(m_mutex);
    return m_entries;
  }
  /// Entries that begin with prefix, in order.
  std::vector<std::string> Matching(const std::string& prefix) const {
    std::lock_guard lock(m_mutex);
    std::vector<std::string> out;
    for (const auto& e : m_entries) {
      if (e.rfind(prefix, 0) == 0) out.push_back(e);
    }
    return out;
  }
  bool Contains(const std::string& entry) const {
    std::lock_guard lock(m_mutex);
    return std::find(m_entries.begin(), m_entries.end(), entry) != m_entries.end();
  }
  void Clear() {
    std::lock_guard lock(m_mutex);
    m_entries.clear();
  }

 private:
  mutable std::mutex m_mutex;
  std::vector<std::string> m_entries;
};

/// Records "picture load <path>", "picture start", "picture stop",
/// "picture release".
class FakePicture final : public IPictureControl {
 public:
  explicit FakePicture(CallLog& log) : m_log(log) {}
  bool LoadPicture(const std::u16string& path) override {
    m_log.Add("picture load " + Utf8(path));
    return true;
  }
  void StartDrawing() override { m_log.Add("picture start"); }
  void StopAnimation() override { m_log.Add("picture stop"); }
  void ReleasePicture() override { m_log.Add("picture release"); }

 private:
  CallLog& m_log;
};

/// Records "title <t>", "text <id> <t>", "enable <id> 0|1", "show <id> 0|1",
/// "redraw", "pick input|output <title>", "end".
class RecordingWindow final : public IDialogWindow {
 public:
  RecordingWindow() : m_picture(m_log) {}

  void SetTitle(const std::u16string& title) override {
    m_log.Add("title " + Utf8(title));
    std::lock_guard lock(m_mutex);
    m_title = title;
  }
  void SetControlText(int id, const std::u16string& text) override {
    m_log.Add("text " + std::to_string(id) + " " + Utf8(text));
    std::lock_guard lock(m_mutex);
    m_texts[id] = text;
  }
  std::u16string GetControlText(int id) const override {
    std::lock_guard lock(m_mutex);
    auto it = m_texts.find(id);
    return it == m_texts.end() ? std::u16string() : it->second;
  }
  void EnableControl(int id, bool enable) override {
    m_log.Add("enable " + std::to_string(id) + (enable ? " 1" : " 0"));
    std::lock_guard lock(m_mutex);
    m_enabled[id] = enable;
  }
  void ShowControl(int id, bool show) override {
    m_log.Add("show " + std::to_string(id) + (show ? " 1" : " 0"));
    std::lock_guard lock(m_mutex);
    m_shown[id] = show;
  }
  void RedrawAll() override { m_log.Add("redraw"); }
  std::optional<std::u16string> PickFolder(FolderPickerKind kind,
                                           const std::u16string& title) override {
    m_log.Add(std::string("pick ") + (kind == FolderPickerKind::kInput ? "input " : "output ") +
              Utf8(title));
    std::lock_guard lock(m_mutex);
    if (m_picks.empty()) return std::nullopt;
    auto answer = m_picks.front();
    m_picks.pop_front();
    return answer;
  }
  IPictureControl& Picture() override { return m_picture; }
  void EndDialog() override {
    m_log.Add("end");
    std::lock_guard lock(m_mutex);
    m_ended = true;
  }

  /// The next PickFolder answers: a folder, or nullopt for a cancelled picker.
  void ScriptPick(std::optional<std::string> folder) {
    std::lock_guard lock(m_mutex);
    if (folder) {
      m_picks.push_back(Utf16(*folder));
    } else {
      m_picks.push_back(std::nullopt);
    }
  }

  std::string Text(int id) const { return Utf8(GetControlText(id)); }
  std::string Title() const {
    std::lock_guard lock(m_mutex);
    return Utf8(m_title);
  }
  /// Controls start enabled and shown, as in the dialog template.
  bool Enabled(int id) const {
    std::lock_guard lock(m_mutex);
    auto it = m_enabled.find(id);
    return it == m_enabled.end() || it->second;
  }
  bool Shown(int id) const {
    std::lock_guard lock(m_mutex);
    auto it = m_shown.find(id);
    return it == m_shown.end() || it->second;
  }
  bool Ended() const {
    std::lock_guard lock(m_mutex);
    return m_ended;
  }
  CallLog& Log() { return m_log; }
  /// The texts the status line showed, in order.
  std::vector<std::string> StatusTexts() const {
    std::vector<std::string> out;
    const std::string prefix = "text " + std::to_string(kIdStatus) + " ";
    for (const auto& e : m_log.Matching(prefix)) out.push_back(e.substr(prefix.size()));
    return out;
  }

 private:
  CallLog m_log;
  FakePicture m_picture;
  mutable std::mutex m_mutex;
  std::u16string m_title;
  std::map<int, std::u16string> m_texts;
  std::map<int, bool> m_enabled;
  std::map<int, bool> m_shown;
  std::deque<std::optional<std::u16string>> m_picks;
  bool m_ended = false;
};

}  // namespace wavrel::testing
