#include "plugin/engine/host_access.h"

#include "plugin/frame/host_services.h"

namespace wavrel::host {

static_assert(kReportStyle == kMbOkExclamation && kQuestionStyle == kMbOkCancelExclamation);

std::u16string PluginText(const char16_t* key) { return GetPluginText(key); }

bool MessageBoxOk(const std::u16string& text, const std::u16string& caption, std::uint32_t style) {
  return ShowHostMessageBox(GetHostPointer(), text, caption, style) == kMbResultOk;
}

std::u16string HostDirectory() { return GetHostDirectory(); }

std::u16string PluginDirectory() { return GetPluginDirectory(u"WavrelPlugin"); }

std::string Narrow(const std::u16string& text) { return ToNarrowString(text, kCpAcp); }

std::u16string Wide(const std::string& text) { return ToWideString(text, kCpAcp); }

}  // namespace wavrel::host
