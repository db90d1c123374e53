// UTF-8 <-> UTF-16 for the host side. The host's texts live in UTF-8 files
// and travel to the plug-in as UTF-16; the console prints UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace wavrel::host {

/// Decodes UTF-8. Malformed sequences (bad lead or continuation bytes,
/// overlong forms, surrogates, values past U+10FFFF) become U+FFFD and set
/// *ok to false when ok is given; nothing is dropped silently.
std::u16string Utf8ToUtf16(std::string_view text, bool* ok = nullptr);

/// Encodes UTF-16. An unpaired surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);

}  // namespace wavrel::host
