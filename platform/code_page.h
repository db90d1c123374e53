// Conversions between narrow text in a code page and UTF-16.
//
// Code page 0 (the system default) and 65001 mean UTF-8, converted here;
// every other number goes through iconv under its usual name (936 is GBK,
// 1252 is CP1252, 28591 is ISO-8859-1, otherwise "CP<number>"). A conversion
// never substitutes: input that is not valid in its encoding, or a character
// that the target code page cannot hold, fails the whole conversion.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace wavrel {

inline constexpr unsigned kCodePageDefault = 0;
inline constexpr unsigned kCodePageUtf8 = 65001;

/// File-name bytes to UTF-16, for any bytes: valid UTF-8 converts as usual
/// and each byte that is not part of valid UTF-8 becomes a code point of its
/// own, U+DC80..U+DCFF (0xDC00 plus the byte), which no valid UTF-8 gives.
std::u16string BytesToUtf16(std::string_view bytes);
/// The inverse of BytesToUtf16: U+DC80..U+DCFF alone give their byte back,
/// so BytesToUtf16 followed by this returns the same bytes for every byte
/// string. Nothing on any other unpaired surrogate.
std::optional<std::string> Utf16ToBytes(std::u16string_view text);
/// The iconv name of a code page, e.g. "GBK" for 936; "UTF-8" for 0 and 65001.
std::string CodePageName(unsigned codePage);

/// text in codePage to UTF-16; nothing when the code page is unknown or the
/// text is not valid in it.
std::optional<std::u16string> DecodeCodePage(std::string_view text, unsigned codePage);
/// UTF-16 to codePage; nothing when the code page is unknown, the text is not
/// valid UTF-16 or holds a character the code page cannot represent.
std::optional<std::string> EncodeCodePage(std::u16string_view text, unsigned codePage);

/// Code page 0 (the system default, CP_ACP) means UTF-8 here; other numbers
/// (936, 1252, 65001, ...) go through iconv. Empty on failure.
std::u16string ToWideString(const std::string& text, unsigned codePage);
std::string ToNarrowString(const std::u16string& text, unsigned codePage);

inline constexpr unsigned kCpAcp = 0;

}  // namespace wavrel
