#include "outside/host/utf.h"

#include "base/unicode.h"

namespace wavrel::host {

std::u16string Utf8ToUtf16(std::string_view text, bool* ok) {
  return *base::Utf8ToUtf16(text, base::Utf8Policy::kReplace, ok);
}

std::string Utf16ToUtf8(std::u16string_view text) {
  return *base::Utf16ToUtf8(text, base::Utf8Policy::kReplace);
}

}  // namespace wavrel::host
