// What the engine knows of the system it runs on: file names between the
// narrow system code page (UTF-8) and UTF-16. The host's texts, message
// boxes (styles in engine_environment.h) and folders come through the
// IEngineEnvironment the engine is given.
#pragma once

#include <string>

#include "plugin/platform/code_page.h"

namespace wavrel::host {

/// File names between the narrow system code page (UTF-8) and UTF-16; empty
/// when a text cannot be converted.
inline std::string Narrow(const std::u16string& text) { return ToNarrowString(text, kCpAcp); }
inline std::u16string Wide(const std::string& text) { return ToWideString(text, kCpAcp); }

}  // namespace wavrel::host
