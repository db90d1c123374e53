#include "base/case_fold.h"

#include <algorithm>
#include <iterator>

#include "base/unicode.h"

namespace wavrel::base {
namespace {

struct Folding {
  char32_t from;
  char32_t to;
};

constexpr Folding kFoldings[] = {
#include "base/case_fold_table.inc"
};

}  // namespace

char32_t FoldCase(char32_t codePoint) {
  if (codePoint < 0x80) {
    return codePoint >= 'A' && codePoint <= 'Z' ? codePoint + ('a' - 'A') : codePoint;
  }
  const auto* found =
      std::lower_bound(std::begin(kFoldings), std::end(kFoldings), codePoint,
                       [](const Folding& folding, char32_t value) { return folding.from < value; });
  return found != std::end(kFoldings) && found->from == codePoint ? found->to : codePoint;
}

std::string FoldNameCase(std::string_view name) {
  std::string folded;
  folded.reserve(name.size());
  for (std::size_t at = 0; at < name.size();) {
    const unsigned char byte = static_cast<unsigned char>(name[at]);
    if (byte < 0x80) {
      folded += static_cast<char>(FoldCase(byte));
      ++at;
      continue;
    }
    const Utf8Sequence sequence = DecodeUtf8At(name, at);
    if (sequence.valid) {
      AppendUtf8(FoldCase(sequence.codePoint), &folded);
      at += sequence.length;
    } else {
      folded += name[at];  // a stray byte stays itself
      ++at;
    }
  }
  return folded;
}

}  // namespace wavrel::base
