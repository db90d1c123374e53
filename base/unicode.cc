#include "base/unicode.h"

#include <cstdint>

namespace wavrel::base {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

}  // namespace

Utf8Sequence DecodeUtf8At(std::string_view text, std::size_t at) {
  const auto lead = static_cast<std::uint8_t>(text[at]);
  Utf8Sequence sequence;
  std::size_t extra = 0;
  char32_t cp = 0;
  char32_t min = 0;
  if (lead < 0x80) {
    return {lead, 1, true};
  } else if ((lead & 0xE0) == 0xC0) {
    extra = 1, cp = lead & 0x1F, min = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    extra = 2, cp = lead & 0x0F, min = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    extra = 3, cp = lead & 0x07, min = 0x10000;
  } else {
    return sequence;  // a continuation byte or 0xF8..0xFF as a lead
  }
  std::size_t next = at + 1;
  for (std::size_t k = 0; k < extra; ++k, ++next) {
    if (next >= text.size() || (static_cast<std::uint8_t>(text[next]) & 0xC0) != 0x80) {
      sequence.length = next - at;  // resumes at the byte that broke it
      return sequence;
    }
    cp = (cp << 6) | (static_cast<std::uint8_t>(text[next]) & 0x3F);
  }
  sequence.length = extra + 1;
  sequence.codePoint = cp;
  sequence.valid = cp >= min && cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF);
  return sequence;
}

void AppendUtf16(char32_t cp, std::u16string* out) {
  if (cp < 0x10000) {
    out->push_back(static_cast<char16_t>(cp));
  } else {
    cp -= 0x10000;
    out->push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out->push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  }
}

void AppendUtf8(char32_t cp, std::string* out) {
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

std::optional<std::u16string> Utf8ToUtf16(std::string_view text, Utf8Policy policy, bool* clean) {
  std::u16string out;
  out.reserve(text.size());
  bool good = true;
  for (std::size_t i = 0; i < text.size();) {
    const Utf8Sequence sequence = DecodeUtf8At(text, i);
    if (sequence.valid) {
      AppendUtf16(sequence.codePoint, &out);
      i += sequence.length;
      continue;
    }
    good = false;
    if (policy == Utf8Policy::kStrict) {
      if (clean != nullptr) *clean = false;
      return std::nullopt;
    }
    if (policy == Utf8Policy::kBytes) {
      out.push_back(static_cast<char16_t>(0xDC00 + static_cast<std::uint8_t>(text[i])));
      ++i;
    } else {
      out.push_back(static_cast<char16_t>(kReplacement));
      i += sequence.length;
    }
  }
  if (clean != nullptr) *clean = good;
  return out;
}

std::optional<std::string> Utf16ToUtf8(std::u16string_view text, Utf8Policy policy) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t cp = text[i];
    if (policy == Utf8Policy::kBytes && cp >= 0xDC80 && cp <= 0xDCFF) {
      out.push_back(static_cast<char>(cp - 0xDC00));
      continue;
    }
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      if (policy != Utf8Policy::kReplace) return std::nullopt;
      cp = kReplacement;
    }
    AppendUtf8(cp, &out);
  }
  return out;
}

}  // namespace wavrel::base
