#include "plugin/engine/testing/fake_message_box.h"

#include <condition_variable>
#include <deque>
#include <mutex>

namespace wavrel::testing {
namespace {

std::mutex g_mutex;
std::vector<RecordedBox> g_boxes;
std::deque<std::int32_t> g_script;
std::int32_t g_defaultAnswer = 1;
std::condition_variable g_changed;
bool g_holdNext = false;
bool g_holding = false;

}  // namespace

void ResetMessageBoxes(std::int32_t defaultAnswer) {
  std::lock_guard lock(g_mutex);
  g_holdNext = false;
  g_boxes.clear();
  g_script.clear();
  g_defaultAnswer = defaultAnswer;
}

void ScriptMessageBoxAnswer(std::int32_t answer) {
  std::lock_guard lock(g_mutex);
  g_script.push_back(answer);
}

std::vector<RecordedBox> RecordedMessageBoxes() {
  std::lock_guard lock(g_mutex);
  return g_boxes;
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

WAVREL_EXPORT std::int32_t XMessageBox(void*, const char16_t* text, const char16_t* caption,
                                       std::uint32_t style, void*) {
  using namespace wavrel::testing;
  std::unique_lock lock(g_mutex);
  g_boxes.push_back({text != nullptr ? text : u"", caption != nullptr ? caption : u"", style});
  if (g_holdNext) {
    g_holdNext = false;
    g_holding = true;
    g_changed.wait(lock, [] { return !g_holding; });
  }
  if (g_script.empty()) return g_defaultAnswer;
  const std::int32_t answer = g_script.front();
  g_script.pop_front();
  return answer;
}
