// What the conversion dialog needs from outside: the core's environment
// (programs, work folders, files) and the host's services, handed in as one
// object. The production one (ProductionEnvironment, plugin/) is over
// platform/ and the host pointer; tests hand in a fake that records
// what the dialog did.
#pragma once

#include <cstdint>
#include <string>

#include "core/conversion_environment.h"

namespace wavrel {

namespace host {
/// The host's message box styles (IDialogEnvironment::MessageBox): a report
/// (OK) and a question (OK and Cancel).
inline constexpr std::uint32_t kReportStyle = 48;
inline constexpr std::uint32_t kQuestionStyle = 49;
}  // namespace host

class IDialogEnvironment : public IConversionEnvironment {
 public:
  /// The host's text of key in the plug-in's section; empty when none.
  virtual std::u16string Text(const char16_t* key) = 0;
  /// A message box; true when closed with OK.
  virtual bool MessageBox(const std::u16string& text, const std::u16string& caption,
                          std::uint32_t style) = 0;
  /// The plug-in folder (its programs and pictures) and the host's folder,
  /// both ending in '/'; empty when unknown.
  virtual std::u16string PluginFolder() = 0;
  virtual std::u16string HostFolder() = 0;
};

}  // namespace wavrel
