// The one UTF-8 / UTF-16 codec of the tree, with three policies for what is
// not valid: refuse it (strict), replace it with U+FFFD (replacing), or keep
// each stray byte as the code point U+DC00 + byte (the lossless byte mapping
// used for file names, as Python's "surrogateescape").
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace wavrel::base {

enum class Utf8Policy { kStrict, kReplace, kBytes };

struct Utf8Sequence {
  char32_t codePoint = 0;
  std::size_t length = 1;  ///< bytes of the sequence; when invalid, the bytes a
                           ///< replacing decoder skips (up to the byte that broke it)
  bool valid = false;
};

/// The UTF-8 sequence that starts at text[at] (at < text.size()).
Utf8Sequence DecodeUtf8At(std::string_view text, std::size_t at);

void AppendUtf16(char32_t codePoint, std::u16string* out);
void AppendUtf8(char32_t codePoint, std::string* out);

/// UTF-8 to UTF-16. kStrict: nothing on malformed input. kReplace: each
/// malformed sequence becomes U+FFFD. kBytes: each byte outside a valid
/// sequence becomes U+DC00 + byte. *clean (may be null): false when anything
/// was replaced or mapped.
std::optional<std::u16string> Utf8ToUtf16(std::string_view text, Utf8Policy policy,
                                          bool* clean = nullptr);

/// UTF-16 to UTF-8. kStrict: nothing for an unpaired surrogate. kReplace: an
/// unpaired surrogate becomes U+FFFD. kBytes: U+DC80..U+DCFF become the byte
/// they stand for, any other unpaired surrogate refuses.
std::optional<std::string> Utf16ToUtf8(std::u16string_view text, Utf8Policy policy);

/// The conversions that never fail (kReplace): texts for people, where a
/// stray byte or surrogate may show as U+FFFD. *clean (may be null): false
/// when anything was replaced.
inline std::u16string Utf8ToUtf16Replacing(std::string_view text, bool* clean = nullptr) {
  return *Utf8ToUtf16(text, Utf8Policy::kReplace, clean);
}
inline std::string Utf16ToUtf8Replacing(std::u16string_view text) {
  return *Utf16ToUtf8(text, Utf8Policy::kReplace);
}

}  // namespace wavrel::base
