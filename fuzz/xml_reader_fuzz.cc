// CXmlReader over any document, walked as the plug-in walks its settings:
// a parse either gives a root or an error text, the walk ends, and the
// settings lookup gives a sample rate or -1 without reading past the text.
#include <algorithm>
#include <string>
#include <string_view>

#include "core/settings.h"
#include "core/xml_reader.h"
#include "fuzz/fuzz_target.h"

namespace {

/// Visits every element of a level, then enters the last one and goes on
/// there (nothing leads back up a level); returns the elements seen.
std::size_t Walk(CXmlReader& reader) {
  std::size_t seen = 0;
  for (int level = 0; level <= CXmlReader::kMaxNestingDepth + 1; ++level) {
    bool any = false;
    while (reader.FindNextElement(nullptr)) {
      any = true;
      ++seen;
      for (int n = 0; n < 3; ++n) (void)reader.AttributeNameAt(n);
      (void)reader.GetElementText();
    }
    if (!any || !reader.EnterElement()) return seen;
  }
  FUZZ_CHECK(!"nesting deeper than the reader allows");
  return seen;
}

}  // namespace

WAVREL_FUZZ_TARGET(xml_reader)(const std::uint8_t* data, std::size_t size) {
  // The reader takes text up to its NUL, as LoadFile hands it a file.
  const std::string text(reinterpret_cast<const char*>(data), size);
  CXmlReader reader;
  const bool parsed = reader.ParseText(text.c_str());
  FUZZ_CHECK(parsed == reader.HasRootElement());
  // (A failed parse need not say why: an end tag before the root fails
  // without a message, as callers of the reader have always seen it.)
  const bool hasTag = std::string_view(text.c_str()).find('<') != std::string_view::npos;
  if (parsed) FUZZ_CHECK(hasTag);
  // Every element is a '<' of the text: a walk cannot see more; a failed
  // parse leaves nothing to walk.
  const std::size_t seen = Walk(reader);
  FUZZ_CHECK(seen <= static_cast<std::size_t>(std::count(text.begin(), text.end(), '<')));
  FUZZ_CHECK(parsed || seen == 0);

  CXmlReader again;
  FUZZ_CHECK(again.ParseText(text.c_str()) == parsed);
  if (parsed) {
    // Each element is visited once per level: the sibling loop ends.
    std::size_t siblings = 0;
    while (again.FindNextElement(nullptr)) FUZZ_CHECK(++siblings <= 1);  // one root
  }

  CXmlReader settings;
  if (settings.ParseText(text.c_str())) (void)wavrel::SampleRateFromSettings(settings);
  return 0;
}
