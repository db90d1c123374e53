// File names between the bytes the core works with and the UTF-16 of the
// dialog's texts and the host's interfaces. The host's texts, message boxes
// (styles in dialog_environment.h) and folders come through the
// IDialogEnvironment the dialog is given.
#pragma once

#include <string>

#include "platform/code_page.h"

namespace wavrel::host {

/// File names between the narrow system code page (UTF-8, each byte that is
/// not part of valid UTF-8 kept as a code point of its own) and UTF-16;
/// empty when a text cannot be converted.
inline std::string Narrow(const std::u16string& text) { return ToNarrowString(text, kCpAcp); }
inline std::u16string Wide(const std::string& text) { return ToWideString(text, kCpAcp); }

}  // namespace wavrel::host
