// The file-name and code-page conversions: the plug-in's (code_page.cc and
// the host services' ToWideString/ToNarrowString) and the host's (utf.cc).
// Both UTF-8 decoders agree, every conversion that succeeds converts back
// to the bytes it came from, and a file name survives the trip to wide
// characters and back.
#include <string>
#include <string_view>

#include "base/unicode.h"
#include "fuzz/fuzz_target.h"
#include "platform/code_page.h"
#include "plugin/host_services.h"

namespace {

constexpr unsigned kCodePages[] = {0, 65001, 936, 1252, 28591, 950, 437, 12345};

}  // namespace

WAVREL_FUZZ_TARGET(code_page)(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const unsigned codePage = kCodePages[data[0] % std::size(kCodePages)];
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);

  // UTF-8: the strict decoder and the replacing one agree.
  bool hostValid = false;
  const std::u16string hostWide = wavrel::base::Utf8ToUtf16Replacing(text, &hostValid);
  const auto wide = wavrel::base::Utf8ToUtf16(text, wavrel::base::Utf8Policy::kStrict);
  FUZZ_CHECK(wide.has_value() == hostValid);
  if (wide) {
    FUZZ_CHECK(*wide == hostWide);
    FUZZ_CHECK(wavrel::base::Utf16ToUtf8(*wide, wavrel::base::Utf8Policy::kStrict) == text);
    FUZZ_CHECK(wavrel::base::Utf16ToUtf8Replacing(*wide) == text);
  }

  // The bytes as UTF-16: the two encoders agree where the text is valid.
  std::u16string units(text.size() / 2, u'\0');
  for (std::size_t i = 0; i < units.size(); ++i) {
    units[i] = static_cast<char16_t>(static_cast<std::uint8_t>(text[2 * i]) |
                                     static_cast<std::uint8_t>(text[2 * i + 1]) << 8);
  }
  const auto narrow = wavrel::base::Utf16ToUtf8(units, wavrel::base::Utf8Policy::kStrict);
  const std::string hostNarrow = wavrel::base::Utf16ToUtf8Replacing(units);
  if (narrow) {
    FUZZ_CHECK(*narrow == hostNarrow);
    FUZZ_CHECK(wavrel::base::Utf8ToUtf16(*narrow, wavrel::base::Utf8Policy::kStrict) == units);
  }
  FUZZ_CHECK(wavrel::base::Utf8ToUtf16Replacing(hostNarrow).size() <= units.size());

  // Other code pages: what decodes encodes back to the same characters, and
  // in the single-byte ones to the same bytes.
  if (const auto decoded = wavrel::DecodeCodePage(text, codePage)) {
    const auto encoded = wavrel::EncodeCodePage(*decoded, codePage);
    FUZZ_CHECK(encoded.has_value());
    FUZZ_CHECK(wavrel::DecodeCodePage(*encoded, codePage) == decoded);
    if (codePage == 1252 || codePage == 28591 || codePage == 0 || codePage == 65001) {
      FUZZ_CHECK(*encoded == text);
    }
  }

  // A file name (up to a NUL, as the services take it) through the plug-in's
  // wide strings and back: every byte string comes back as it was, valid
  // UTF-8 as its characters, other bytes as code points of their own.
  const std::string name = text.substr(0, text.find('\0'));
  const std::u16string wideName = wavrel::ToWideString(name, wavrel::kCpAcp);
  FUZZ_CHECK(wavrel::ToNarrowString(wideName, wavrel::kCpAcp) == name);
  FUZZ_CHECK(wavrel::Utf16ToBytes(wavrel::BytesToUtf16(text)) == text);
  if (wide) FUZZ_CHECK(wavrel::BytesToUtf16(text) == *wide);
  return 0;
}
