#include "plugin/engine/testing/fake_message_box.h"

#include <deque>
#include <mutex>

namespace wavrel::testing {
namespace {

std::mutex g_mutex;
std::vector<RecordedBox> g_boxes;
std::deque<std::int32_t> g_script;
std::int32_t g_defaultAnswer = 1;

}  // namespace

void ResetMessageBoxes(std::int32_t defaultAnswer) {
  std::lock_guard lock(g_mutex);
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

}  // namespace wavrel::testing

WAVREL_EXPORT std::int32_t XMessageBox(void*, const char16_t* text, const char16_t* caption,
                                       std::uint32_t style, void*) {
  using namespace wavrel::testing;
  std::lock_guard lock(g_mutex);
  g_boxes.push_back({text != nullptr ? text : u"", caption != nullptr ? caption : u"", style});
  if (g_script.empty()) return g_defaultAnswer;
  const std::int32_t answer = g_script.front();
  g_script.pop_front();
  return answer;
}
