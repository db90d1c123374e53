#include "platform/code_page.h"

#include <errno.h>
#include <iconv.h>

#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "base/unicode.h"

namespace wavrel {

namespace {

bool IsUtf8(unsigned codePage) { return codePage == kCodePageDefault || codePage == kCodePageUtf8; }

constexpr const char* kUtf16Name =
    std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE";

// Runs iconv over the whole input; nothing on any failure.
std::optional<std::vector<char>> Iconv(const char* to, const char* from, const char* data,
                                       std::size_t size) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;

  std::vector<char> out(size * 2 + 16);
  char* in = const_cast<char*>(data);  // iconv's signature; it does not write there
  std::size_t inLeft = size;
  std::size_t used = 0;
  bool ok = true;
  for (bool flushing = false;;) {
    char* outPtr = out.data() + used;
    std::size_t outLeft = out.size() - used;
    const std::size_t result = flushing ? iconv(cd, nullptr, nullptr, &outPtr, &outLeft)
                                        : iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    used = out.size() - outLeft;
    if (result != static_cast<std::size_t>(-1)) {
      if (flushing) break;
      flushing = true;  // write what a stateful encoding still owes
      continue;
    }
    if (errno == E2BIG) {
      out.resize(out.size() * 2);
      continue;
    }
    ok = false;  // EILSEQ or EINVAL: invalid or unrepresentable input
    break;
  }
  iconv_close(cd);
  if (!ok) return std::nullopt;
  out.resize(used);
  return out;
}

}  // namespace

std::u16string BytesToUtf16(std::string_view bytes) {
  return *base::Utf8ToUtf16(bytes, base::Utf8Policy::kBytes);
}

std::optional<std::string> Utf16ToBytes(std::u16string_view text) {
  return base::Utf16ToUtf8(text, base::Utf8Policy::kBytes);
}

std::string CodePageName(unsigned codePage) {
  switch (codePage) {
    case kCodePageDefault:
    case kCodePageUtf8:
      return "UTF-8";
    case 936:
      return "GBK";
    case 54936:
      return "GB18030";
    case 20127:
      return "ASCII";
    case 20866:
      return "KOI8-R";
    case 21866:
      return "KOI8-U";
    case 20932:
      return "EUC-JP";
    case 51949:
      return "EUC-KR";
    default:
      break;
  }
  if (codePage >= 28591 && codePage <= 28606) {
    return "ISO-8859-" + std::to_string(codePage - 28590);
  }
  return "CP" + std::to_string(codePage);
}

std::optional<std::u16string> DecodeCodePage(std::string_view text, unsigned codePage) {
  if (IsUtf8(codePage)) return base::Utf8ToUtf16(text, base::Utf8Policy::kStrict);
  const std::optional<std::vector<char>> bytes =
      Iconv(kUtf16Name, CodePageName(codePage).c_str(), text.data(), text.size());
  if (!bytes || bytes->size() % sizeof(char16_t) != 0) return std::nullopt;
  std::u16string out(bytes->size() / sizeof(char16_t), u'\0');
  std::memcpy(out.data(), bytes->data(), bytes->size());
  return out;
}

std::optional<std::string> EncodeCodePage(std::u16string_view text, unsigned codePage) {
  if (IsUtf8(codePage)) return base::Utf16ToUtf8(text, base::Utf8Policy::kStrict);
  const std::optional<std::vector<char>> bytes =
      Iconv(CodePageName(codePage).c_str(), kUtf16Name, reinterpret_cast<const char*>(text.data()),
            text.size() * sizeof(char16_t));
  if (!bytes) return std::nullopt;
  return std::string(bytes->begin(), bytes->end());
}

// Both conversions take their input as a zero-terminated text: whatever
// follows an embedded zero is not part of it. In UTF-8 (code pages 0 and
// 65001) they carry any bytes: a Linux file name is bytes, and every name a
// folder lists must come back the same (see BytesToUtf16).
std::u16string ToWideString(const std::string& text, unsigned codePage) {
  try {
    if (codePage == kCodePageDefault || codePage == kCodePageUtf8) {
      return BytesToUtf16(std::string_view(text.c_str()));
    }
    std::optional<std::u16string> wide = DecodeCodePage(std::string_view(text.c_str()), codePage);
    return wide ? std::move(*wide) : std::u16string();
  } catch (...) {
    return {};
  }
}

std::string ToNarrowString(const std::u16string& text, unsigned codePage) {
  try {
    if (codePage == kCodePageDefault || codePage == kCodePageUtf8) {
      return Utf16ToBytes(std::u16string_view(text.c_str())).value_or(std::string());
    }
    std::optional<std::string> narrow = EncodeCodePage(std::u16string_view(text.c_str()), codePage);
    return narrow ? std::move(*narrow) : std::string();
  } catch (...) {
    return {};
  }
}

}  // namespace wavrel
