#include "plugin/frame/test_support/fake_message_box.h"

#include <condition_variable>
#include <deque>
#include <mutex>

#include "plugin/frame/message_box_record.h"

namespace wavrel::testing {
namespace {

std::mutex g_mutex;
FakeMessageBoxState g_state;
std::deque<std::int32_t> g_script;
std::condition_variable g_changed;
bool g_holdNext = false;
bool g_holding = false;

std::int32_t ShowBox(void* owner, const char16_t* text, const char16_t* caption,
                     std::uint32_t style, void* record) {
  FakeMessageBoxCall call;
  call.owner = owner;
  call.text = text != nullptr ? text : u"";
  call.caption = caption != nullptr ? caption : u"";
  call.style = style;
  call.hadRecord = record != nullptr;
  if (record != nullptr) {
    const auto* bytes = static_cast<const unsigned char*>(record);
    call.record.assign(bytes, bytes + kMessageBoxRecordSize);
  }
  std::unique_lock lock(g_mutex);
  g_state.calls.push_back(std::move(call));
  if (g_holdNext) {
    g_holdNext = false;
    g_holding = true;
    g_changed.wait(lock, [] { return !g_holding; });
  }
  if (g_script.empty()) return g_state.answer;
  const std::int32_t answer = g_script.front();
  g_script.pop_front();
  return answer;
}

}  // namespace

void ResetMessageBoxes(std::int32_t defaultAnswer) {
  std::lock_guard lock(g_mutex);
  g_holdNext = false;
  g_state.calls.clear();
  g_script.clear();
  g_state.answer = defaultAnswer;
}

void ScriptMessageBoxAnswer(std::int32_t answer) {
  std::lock_guard lock(g_mutex);
  g_script.push_back(answer);
}

std::vector<FakeMessageBoxCall> RecordedMessageBoxes() {
  std::lock_guard lock(g_mutex);
  return g_state.calls;
}

void HoldNextMessageBox() {
  std::lock_guard lock(g_mutex);
  g_holdNext = true;
}

bool MessageBoxHeld() {
  std::lock_guard lock(g_mutex);
  return g_holding;
}

void ReleaseHeldMessageBox() {
  std::lock_guard lock(g_mutex);
  g_holding = false;
  g_changed.notify_all();
}

}  // namespace wavrel::testing

WAVREL_EXPORT wavrel::testing::FakeMessageBoxState* FakeMessageBoxState() {
  return &wavrel::testing::g_state;
}

#ifndef FAKE_MESSAGE_BOX_WITHOUT_EXPORT
// The export the plug-in looks for.
WAVREL_EXPORT std::int32_t XMessageBox(void* owner, const char16_t* text, const char16_t* caption,
                                       std::uint32_t style, void* record) {
  return wavrel::testing::ShowBox(owner, text, caption, style, record);
}
#else
// Same library, but the box is exported under another name only.
WAVREL_EXPORT std::int32_t XMessageBoxW(void* owner, const char16_t* text, const char16_t* caption,
                                        std::uint32_t style, void* record) {
  return wavrel::testing::ShowBox(owner, text, caption, style, record);
}
#endif
