#include "base/text.h"

#include <vector>

namespace wavrel::base {

std::u16string FormatText(std::u16string_view pattern,
                          std::initializer_list<std::u16string_view> args) {
  const std::vector<std::u16string_view> values(args);
  std::u16string text;
  text.reserve(pattern.size());
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == u'%' && i + 1 < pattern.size() && pattern[i + 1] >= u'1' &&
        pattern[i + 1] <= u'9') {
      const std::size_t number = static_cast<std::size_t>(pattern[i + 1] - u'1');
      if (number < values.size()) {
        text += values[number];
        ++i;
        continue;
      }
    }
    text += pattern[i];
  }
  return text;
}

std::string_view BaseName(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

}  // namespace wavrel::base
