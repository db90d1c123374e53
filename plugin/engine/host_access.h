// The engine's access to the host services: the engine reaches them only
// through these functions.
#pragma once

#include <cstdint>
#include <string>

namespace wavrel::host {

/// Text of key in the plug-in's section; empty when the host has none.
std::u16string PluginText(const char16_t* key);
/// A message box with the host's captions; true when it was closed with OK.
bool MessageBoxOk(const std::u16string& text, const std::u16string& caption, std::uint32_t style);
/// Message box styles: a report (OK) and a question (OK and Cancel).
inline constexpr std::uint32_t kReportStyle = 48;
inline constexpr std::uint32_t kQuestionStyle = 49;

/// The host executable's folder and the plug-in folder "Plugins/WavrelPlugin/"
/// below it, both ending in '/'; empty when unknown.
std::u16string HostDirectory();
std::u16string PluginDirectory();

/// File names between the narrow system code page (UTF-8) and UTF-16; empty
/// when a text cannot be converted.
std::string Narrow(const std::u16string& text);
std::u16string Wide(const std::string& text);

}  // namespace wavrel::host
