#include "plugin/test_support/fake_message_box.h"

#include "plugin/message_box_record.h"
#include "plugin/plugin_interfaces.h"

namespace {

wavrel::testing::FakeMessageBoxState g_state;

std::int32_t ShowBox(void* owner, const char16_t* text, const char16_t* caption,
                     std::uint32_t style, void* record) {
  wavrel::testing::FakeMessageBoxCall call;
  call.owner = owner;
  call.text = text != nullptr ? text : u"";
  call.caption = caption != nullptr ? caption : u"";
  call.style = style;
  call.hadRecord = record != nullptr;
  if (record != nullptr) {
    const auto* bytes = static_cast<const unsigned char*>(record);
    call.record.assign(bytes, bytes + wavrel::kMessageBoxRecordSize);
  }
  g_state.calls.push_back(std::move(call));
  return g_state.answer;
}

}  // namespace

WAVREL_EXPORT wavrel::testing::FakeMessageBoxState* FakeMessageBoxState() { return &g_state; }

#ifndef FAKE_MESSAGE_BOX_WITHOUT_EXPORT
// The export the plug-in looks for.
WAVREL_EXPORT std::int32_t XMessageBox(void* owner, const char16_t* text, const char16_t* caption,
                                       std::uint32_t style, void* record) {
  return ShowBox(owner, text, caption, style, record);
}
#else
// Same library, but the box is exported under another name only.
WAVREL_EXPORT std::int32_t XMessageBoxW(void* owner, const char16_t* text, const char16_t* caption,
                                        std::uint32_t style, void* record) {
  return ShowBox(owner, text, caption, style, record);
}
#endif
