#include "core/xml_reader.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <string_view>

namespace {

// Offsets are 32-bit signed; a longer document is refused rather than wrapped.
constexpr std::int32_t kMaxDocumentLength = std::numeric_limits<std::int32_t>::max() - 16;

// The error message is formatted in a 300-byte area, NUL included.
constexpr std::size_t kMaxErrorLength = 299;

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

bool IsDelimiter(char c) {
  return IsSpace(c) || c == '<' || c == '>' || c == '=' || c == '\\' || c == '/' || c == '?' ||
         c == '!';
}

bool EndsName(char c) { return c == '\0' || c == ' ' || c == '=' || c == '/' || c == '['; }

// Appends code point value as UTF-8. False, appending nothing, for values
// that are no character: zero, negative, surrogates, above U+10FFFF.
bool AppendUtf8(std::string& out, long value) {
  if (value <= 0 || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
    return false;
  }
  const auto v = static_cast<unsigned long>(value);
  if (v < 0x80) {
    out += static_cast<char>(v);
  } else if (v < 0x800) {
    out += static_cast<char>(0xC0 | (v >> 6));
    out += static_cast<char>(0x80 | (v & 0x3F));
  } else if (v < 0x10000) {
    out += static_cast<char>(0xE0 | ((v >> 12) & 0x0F));
    out += static_cast<char>(0x80 | ((v >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (v & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | ((v >> 18) & 0x07));
    out += static_cast<char>(0x80 | ((v >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((v >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (v & 0x3F));
  }
  return true;
}

struct Entity {
  const char* name;  // with its ';'
  char value;
};
constexpr Entity kEntities[] = {
    {"lt;", '<'}, {"amp;", '&'}, {"gt;", '>'}, {"apos;", '\''}, {"quot;", '"'}};

}  // namespace

CXmlReader::CXmlReader() { ParseText(nullptr); }

CXmlReader::~CXmlReader() = default;

const std::string& CXmlReader::ErrorText() const { return m_errorText; }

// ---------------------------------------------------------------------------
// Tokenizer. Every read goes through At(), which answers NUL outside the
// document, so no scan can run past its end.

char CXmlReader::At(std::int32_t offset) const {
  if (offset < 0 || static_cast<std::size_t>(offset) >= m_documentText.size()) return '\0';
  return m_documentText[static_cast<std::size_t>(offset)];
}

bool CXmlReader::SkipSpace(std::int32_t& offset) const {
  while (IsSpace(At(offset))) ++offset;
  return At(offset) != '\0';
}

bool CXmlReader::ScanTo(std::int32_t& offset, char c) const {
  while (At(offset) != '\0' && At(offset) != c) ++offset;
  return At(offset) == c;
}

bool CXmlReader::NextToken(ScanToken& token) const {
  token.quoted = false;
  std::int32_t pos = token.next;
  if (!SkipSpace(pos)) {
    token.first = token.last = token.next = pos;
    return false;
  }
  const char c = At(pos);
  if (c == '"' || c == '\'') {
    token.quoted = true;
    token.first = pos + 1;
    std::int32_t end = token.first;
    const bool closed = ScanTo(end, c);
    token.last = end - 1;
    token.next = closed ? end + 1 : end;
    return true;
  }
  token.first = pos;
  if (IsDelimiter(c)) {
    token.last = pos;
    token.next = pos + 1;
    return true;
  }
  std::int32_t end = pos;
  while (At(end) != '\0' && !IsDelimiter(At(end))) ++end;
  token.last = end - 1;
  token.next = end;
  return true;
}

std::string CXmlReader::TokenText(const ScanToken& token) const {
  const auto size = static_cast<std::int32_t>(m_documentText.size());
  const std::int32_t first = token.first < 0 ? 0 : token.first;
  const std::int32_t last = token.last < size ? token.last : size - 1;
  if (first > last) return {};
  return m_documentText.substr(static_cast<std::size_t>(first),
                               static_cast<std::size_t>(last - first + 1));
}

bool CXmlReader::TokenMatchesName(const ScanToken& token, const char* name) const {
  if (name == nullptr) name = "";
  const std::int32_t length = token.last - token.first + 1;
  std::int32_t k = 0;
  for (; k < length; ++k) {
    if (name[k] == '\0' || name[k] != At(token.first + k)) return false;
  }
  return EndsName(name[k]);
}

// ---------------------------------------------------------------------------
// Parse.

std::int32_t CXmlReader::NewPosition() {
  const auto used = static_cast<std::size_t>(m_nextFreeIndex);
  if (used >= m_elements.size()) {
    std::size_t grown = used + used / 2;
    if (grown <= used) grown = used + 1;
    m_elements.resize(grown);
  }
  return m_nextFreeIndex++;
}

std::int32_t CXmlReader::SetParseError(const char* message, const std::string* name) {
  std::string text = message;
  if (name != nullptr) {
    const std::size_t at = text.find("%s");
    if (at != std::string::npos) text.replace(at, 2, *name);
  }
  if (text.size() > kMaxErrorLength) text.resize(kMaxErrorLength);
  m_errorText = std::move(text);
  --m_nextFreeIndex;
  return -1;
}

bool CXmlReader::ReadSpecialNode(ScanToken& token) const {
  const std::int32_t open = token.first;
  const char c1 = At(open + 1);
  const char c2 = At(open + 2);
  if (c1 == '\0' || c2 == '\0') return false;

  const char* closer = nullptr;
  if (c1 == '?') {
    closer = "?>";
  } else if (c1 == '!' && c2 == '[') {
    closer = "]]>";
  } else if (c1 == '!' && c2 == '-') {
    closer = "-->";
  }
  if (closer != nullptr) {
    const std::size_t found = m_documentText.find(closer, static_cast<std::size_t>(open));
    if (found == std::string::npos) return false;
    token.next = static_cast<std::int32_t>(found + std::strlen(closer));
    return true;
  }
  // A '<' followed by white space and then '?' or '!' is no node: failing
  // here keeps the element scan from standing still on it.
  if (c1 != '!') return false;

  // A declaration: it ends at the first '>' outside brackets.
  ScanToken scan;
  scan.next = open;
  int depth = 0;
  while (NextToken(scan)) {
    if (scan.quoted) continue;
    const char c = At(scan.first);
    if (c == '[') {
      ++depth;
    } else if (c == ']') {
      --depth;
    } else if (c == '>' && depth == 0) {
      token.next = scan.first + 1;
      return true;
    }
  }
  return false;
}

std::int32_t CXmlReader::ParseElement(std::int32_t parent, int depth) {
  const std::int32_t i = NewPosition();
  m_elements[i] = ElementRecord{};
  m_elements[i].startTagOpen = m_elements[parent].endTagOpen;
  m_elements[i].parent = parent;

  std::int32_t scan = m_elements[parent].endTagOpen;
  std::string name;
  while (name.empty()) {
    std::int32_t open = scan;
    if (!ScanTo(open, '<')) return SetParseError("Element tag not found", nullptr);
    m_elements[i].startTagOpen = open;
    m_elements[parent].endTagOpen = open;  // the parent's scan follows the child's

    ScanToken token;
    token.next = open + 1;
    if (!NextToken(token)) return SetParseError("Abrupt end within tag", nullptr);
    if (token.quoted) return SetParseError("Tag starts with quote", nullptr);

    const char c = At(token.first);
    if (c == '?' || c == '!') {
      ScanToken node;
      node.first = open;
      node.next = open;
      if (!ReadSpecialNode(node)) return SetParseError("Invalid node", nullptr);
      scan = node.next;
      continue;
    }
    if (c == '/') {
      --m_nextFreeIndex;  // an end tag: this level has no further element
      return 0;
    }
    name = TokenText(token);
    std::int32_t close = token.next;
    if (!ScanTo(close, '>')) return SetParseError("End of tag not found", nullptr);
    scan = close;
  }
  if (depth > kMaxNestingDepth) return SetParseError("Element nesting too deep", nullptr);

  m_elements[i].startTagClose = scan;
  if (At(scan - 1) == '/') {
    m_elements[i].endTagOpen = scan - 1;
    m_elements[i].endTagClose = scan;
    return i;
  }

  m_elements[i].endTagOpen = scan + 1;
  std::int32_t previous = 0;
  std::int32_t child = ParseElement(i, depth + 1);
  while (child > 0) {
    if (previous == 0) {
      m_elements[i].firstChild = child;
    } else {
      m_elements[previous].nextSibling = child;
    }
    m_elements[i].endTagOpen = m_elements[child].endTagClose + 1;
    previous = child;
    child = ParseElement(i, depth + 1);
  }
  if (child < 0) return -1;

  // The end tag: '/', the name, possibly more tokens, then '>'.
  ScanToken token;
  token.next = m_elements[i].endTagOpen + 1;
  int count = 0;
  while (NextToken(token)) {
    ++count;
    if (token.quoted) continue;
    if (At(token.first) == '>') {
      if (count < 2) break;
      m_elements[i].endTagClose = token.first;
      return i;
    }
    if (count == 2 && !TokenMatchesName(token, name.c_str())) {
      return SetParseError("End tag does not correspond to %s", &name);
    }
  }
  return SetParseError("End tag not completed for element %s", &name);
}

void CXmlReader::ResetPosition() {
  m_parentIndex = 0;
  m_currentIndex = 0;
  m_currentKind = 0;
}

bool CXmlReader::ParseText(const char* text) {
  m_nextFreeIndex = 1;
  ResetPosition();
  bool parsed = false;
  try {
    const std::size_t length = text == nullptr ? 0 : std::strlen(text);
    if (length > static_cast<std::size_t>(kMaxDocumentLength)) {
      m_documentText.clear();
      m_errorText = "Document too large";
    } else {
      m_documentText.assign(text == nullptr ? "" : text, length);
    }
    const std::size_t wanted = m_documentText.size() / 64 + 8;
    if (m_elements.size() < wanted) m_elements.resize(wanted);
    if (!m_documentText.empty()) {
      m_elements[0] = ElementRecord{};
      const std::int32_t root = ParseElement(0, 1);
      if (root > 0) {
        m_elements[0] = ElementRecord{};
        m_elements[0].firstChild = root;
        parsed = true;
      }
    }
  } catch (const std::bad_alloc&) {
    m_errorText = "Out of memory";
  }
  if (!parsed) {
    if (m_elements.empty()) m_elements.resize(1);  // record 0 always exists
    m_elements[0] = ElementRecord{};
    m_nextFreeIndex = 1;
  }
  ResetPosition();
  return parsed;
}

bool CXmlReader::LoadFile(const char* path) {
  bool loaded = false;
  if (path != nullptr) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path, "rb"), &std::fclose);
    std::string buffer;
    bool read = false;
    // A folder opens on Linux but reports no sensible size or fails to
    // read; either way it ends here.
    if (file && std::fseek(file.get(), 0, SEEK_END) == 0) {
      const long size = std::ftell(file.get());
      if (size > 0 && size <= kMaxDocumentLength && std::fseek(file.get(), 0, SEEK_SET) == 0) {
        try {
          buffer.resize(static_cast<std::size_t>(size));
          read = std::fread(buffer.data(), static_cast<std::size_t>(size), 1, file.get()) == 1;
        } catch (const std::bad_alloc&) {
          read = false;
        }
      }
    }
    file.reset();
    if (read) loaded = ParseText(buffer.c_str());
  }
  if (!loaded) ParseText(nullptr);
  return loaded;
}

bool CXmlReader::HasRootElement() const {
  return !m_elements.empty() && m_elements[0].firstChild != 0;
}

// ---------------------------------------------------------------------------
// Navigation.

std::int32_t CXmlReader::FindSiblingByName(std::int32_t parent, std::int32_t current,
                                           const char* name) const {
  std::int32_t candidate =
      current != 0 ? m_elements[current].nextSibling : m_elements[parent].firstChild;
  if (name == nullptr || *name == '\0') return candidate;
  while (candidate != 0) {
    ScanToken token;
    token.next = m_elements[candidate].startTagOpen + 1;
    if (NextToken(token) && TokenMatchesName(token, name)) return candidate;
    candidate = m_elements[candidate].nextSibling;
  }
  return 0;
}

bool CXmlReader::FindNextElement(const char* name) {
  if (m_elements.empty()) return false;
  const std::int32_t found = FindSiblingByName(m_parentIndex, m_currentIndex, name);
  if (found == 0) return false;
  m_currentIndex = found;
  m_parentIndex = m_elements[found].parent;
  m_currentKind = 1;
  return true;
}

bool CXmlReader::EnterElement() {
  if (m_currentIndex == 0 || m_currentKind != 1) return false;
  m_parentIndex = m_currentIndex;
  m_currentIndex = 0;
  m_currentKind = 0;
  return true;
}

bool CXmlReader::NextAttributeName(ScanToken& token) const {
  for (int count = 0; NextToken(token); ++count) {
    if (token.quoted) continue;
    const char c = At(token.first);
    if (c == '>' || c == '/' || c == '?') return false;
    if (c != '=' && count != 0) return true;
  }
  return false;
}

std::string CXmlReader::AttributeNameAt(int n) const {
  if (n < 0 || m_currentIndex == 0 || m_currentKind != 1) return {};
  ScanToken token;
  token.next = m_elements[m_currentIndex].startTagOpen + 1;
  for (std::int64_t k = 0; k <= n; ++k) {
    if (!NextAttributeName(token)) return {};
  }
  return TokenText(token);
}

// ---------------------------------------------------------------------------
// Element text.

std::string CXmlReader::GetElementText() const {
  if (m_elements.empty()) return {};
  const std::int32_t index = (m_currentKind == 1 && m_currentIndex != 0) ? m_currentIndex : 0;
  return ReadElementText(index);
}

std::string CXmlReader::ReadElementText(std::int32_t index) const {
  const ElementRecord& element = m_elements[index];
  if (element.firstChild != 0 || element.startTagClose == element.endTagOpen + 1) return {};

  std::int32_t pos = element.startTagClose + 1;
  SkipSpace(pos);
  static constexpr std::string_view kCdataOpen = "<![CDATA[";
  if (At(pos) == '<' && pos + 11 < element.endTagOpen &&
      std::string_view(m_documentText).substr(static_cast<std::size_t>(pos), kCdataOpen.size()) ==
          kCdataOpen) {
    const std::int32_t inner = pos + static_cast<std::int32_t>(kCdataOpen.size());
    const std::string_view content =
        std::string_view(m_documentText)
            .substr(static_cast<std::size_t>(inner),
                    static_cast<std::size_t>(element.endTagOpen - inner));
    const std::size_t end = content.find("]]>");
    if (end != std::string_view::npos) return std::string(content.substr(0, end));
  }
  return DecodeText(element.startTagClose + 1, element.endTagOpen - 1);
}

std::string CXmlReader::DecodeText(std::int32_t from, std::int32_t to) const {
  std::string out;
  const auto size = static_cast<std::int32_t>(m_documentText.size());
  if (from < 0) from = 0;
  if (to >= size) to = size - 1;
  if (to < from) return out;
  out.reserve(static_cast<std::size_t>(to - from + 1));

  std::int32_t pos = from;
  while (pos <= to) {
    const char c = At(pos);
    if (c != '&') {
      out += c;
      ++pos;
      continue;
    }
    if (At(pos + 1) == '#') {
      // At most seven digit characters, then ';' inside the content. A
      // reference that is no character (zero, negative, a surrogate, above
      // U+10FFFF) is kept as written.
      std::int32_t digits = pos + 2;
      int base = 10;
      if (At(digits) == 'x') {
        ++digits;
        base = 16;
      }
      std::int32_t semicolon = -1;
      for (std::int32_t k = 0; k < 8 && At(digits + k) != '\0'; ++k) {
        if (At(digits + k) == ';') {
          semicolon = digits + k;
          break;
        }
      }
      if (semicolon >= 0 && semicolon <= to) {
        char number[8] = {};
        std::memcpy(number, m_documentText.data() + digits,
                    static_cast<std::size_t>(semicolon - digits));
        if (AppendUtf8(out, std::strtol(number, nullptr, base))) {
          pos = semicolon + 1;
          continue;
        }
      }
      out += '&';
      ++pos;
      continue;
    }
    bool matched = false;
    for (const Entity& entity : kEntities) {
      const auto length = static_cast<std::int32_t>(std::strlen(entity.name));
      if (pos + length > to) continue;  // its ';' must lie inside the content
      if (m_documentText.compare(static_cast<std::size_t>(pos + 1),
                                 static_cast<std::size_t>(length), entity.name) == 0) {
        out += entity.value;
        pos += length + 1;
        matched = true;
        break;
      }
    }
    if (!matched) {
      out += '&';
      ++pos;
    }
  }
  return out;
}
