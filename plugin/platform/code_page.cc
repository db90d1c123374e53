#include "plugin/platform/code_page.h"

#include <errno.h>
#include <iconv.h>

#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

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

namespace {

/// Decodes the UTF-8 sequence at text[i]: its code point and length, or
/// false when no valid sequence starts there.
bool DecodeOne(std::string_view text, std::size_t i, std::uint32_t* codePoint,
               std::size_t* length) {
  const auto lead = static_cast<unsigned char>(text[i]);
  std::uint32_t cp = 0;
  std::size_t extra = 0;
  std::uint32_t min = 0;
  if (lead < 0x80) {
    *codePoint = lead;
    *length = 1;
    return true;
  } else if ((lead & 0xE0) == 0xC0) {
    cp = lead & 0x1F;
    extra = 1;
    min = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    cp = lead & 0x0F;
    extra = 2;
    min = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    cp = lead & 0x07;
    extra = 3;
    min = 0x10000;
  } else {
    return false;  // continuation byte or 0xF8..0xFF as a lead
  }
  if (text.size() - i <= extra) return false;
  for (std::size_t k = 1; k <= extra; ++k) {
    const auto next = static_cast<unsigned char>(text[i + k]);
    if ((next & 0xC0) != 0x80) return false;
    cp = (cp << 6) | (next & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
  *codePoint = cp;
  *length = extra + 1;
  return true;
}

void AppendUtf16(std::uint32_t cp, std::u16string* out) {
  if (cp >= 0x10000) {
    cp -= 0x10000;
    out->push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out->push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  } else {
    out->push_back(static_cast<char16_t>(cp));
  }
}

/// First and last code point that stands for a byte outside valid UTF-8.
constexpr char16_t kFirstByteCode = 0xDC80;
constexpr char16_t kLastByteCode = 0xDCFF;

std::optional<std::string> Utf16ToNarrow(std::u16string_view text, bool bytesAllowed) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::uint32_t cp = text[i];
    if (bytesAllowed && cp >= kFirstByteCode && cp <= kLastByteCode) {
      out.push_back(static_cast<char>(cp - 0xDC00));
      continue;
    }
    if (cp >= 0xDC00 && cp <= 0xDFFF) return std::nullopt;
    if (cp >= 0xD800 && cp <= 0xDBFF) {
      if (i + 1 >= text.size()) return std::nullopt;
      const std::uint32_t low = text[i + 1];
      if (low < 0xDC00 || low > 0xDFFF) return std::nullopt;
      cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
      ++i;
    }
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

}  // namespace

std::optional<std::u16string> Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    std::uint32_t cp = 0;
    std::size_t length = 0;
    if (!DecodeOne(text, i, &cp, &length)) return std::nullopt;
    AppendUtf16(cp, &out);
    i += length;
  }
  return out;
}

std::u16string BytesToUtf16(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size();) {
    std::uint32_t cp = 0;
    std::size_t length = 0;
    if (DecodeOne(bytes, i, &cp, &length)) {
      AppendUtf16(cp, &out);
      i += length;
    } else {
      out.push_back(static_cast<char16_t>(0xDC00 + static_cast<unsigned char>(bytes[i])));
      ++i;
    }
  }
  return out;
}

std::optional<std::string> Utf16ToBytes(std::u16string_view text) {
  return Utf16ToNarrow(text, true);
}

std::optional<std::string> Utf16ToUtf8(std::u16string_view text) {
  return Utf16ToNarrow(text, false);
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
  if (IsUtf8(codePage)) return Utf8ToUtf16(text);
  const std::optional<std::vector<char>> bytes =
      Iconv(kUtf16Name, CodePageName(codePage).c_str(), text.data(), text.size());
  if (!bytes || bytes->size() % sizeof(char16_t) != 0) return std::nullopt;
  std::u16string out(bytes->size() / sizeof(char16_t), u'\0');
  std::memcpy(out.data(), bytes->data(), bytes->size());
  return out;
}

std::optional<std::string> EncodeCodePage(std::u16string_view text, unsigned codePage) {
  if (IsUtf8(codePage)) return Utf16ToUtf8(text);
  const std::optional<std::vector<char>> bytes =
      Iconv(CodePageName(codePage).c_str(), kUtf16Name, reinterpret_cast<const char*>(text.data()),
            text.size() * sizeof(char16_t));
  if (!bytes) return std::nullopt;
  return std::string(bytes->begin(), bytes->end());
}

}  // namespace wavrel
