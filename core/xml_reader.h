// CXmlReader: the plug-in's small, non-validating XML reader. It keeps a
// whole document in memory as one byte string, parses it once into a flat
// table of element records (text, comments, processing instructions, CDATA
// sections and declarations are stepped over and not recorded), and then
// lets its caller walk the element tree through a current position.
//
// Strings are bytes in the system's default code page; nothing is converted
// except numeric character references, which become UTF-8. Only the first
// element at document level is parsed; anything after its end tag is never
// looked at. A reader belongs to the thread that made it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class CXmlReader {
 public:
  /// Empty document (HasRootElement() is false).
  CXmlReader();
  virtual ~CXmlReader();

  CXmlReader(const CXmlReader&) = delete;
  CXmlReader& operator=(const CXmlReader&) = delete;

  /// Reads the whole file at path and parses it. False, with the reader
  /// emptied, when the file cannot be opened or read (a folder, say) or the
  /// parse fails; a failed parse leaves its message in ErrorText(). The bytes
  /// are taken as they are: a byte-order mark is text before the root and a
  /// NUL byte ends the document.
  bool LoadFile(const char* path);

  /// Takes text (up to its NUL) as the document and parses it; null is an
  /// empty document. True when a root element was parsed; the position is
  /// then at document level before the root.
  bool ParseText(const char* text);

  /// True when the last parse succeeded.
  bool HasRootElement() const;

  /// Moves to the next element at the current level, or to the next one
  /// named name (case-sensitive; null or "" = any name). False, with the
  /// position unchanged, when there is none.
  bool FindNextElement(const char* name);

  /// Makes the current element the level walked next; the position then
  /// stands before its first child. False without a current element.
  bool EnterElement();

  /// Name of the n-th (zero-based) attribute of the current element; empty
  /// when there is none or no current element.
  std::string AttributeNameAt(int n) const;

  /// Text content of the current element: the inner bytes of a CDATA section
  /// that opens the content (after white space), else the whole content with
  /// references decoded. Empty for an element with child elements, an empty
  /// element, or no current element.
  std::string GetElementText() const;

  /// Message of the last failed parse; a later successful parse keeps it.
  const std::string& ErrorText() const;

  /// Deepest element nesting a document may have; deeper documents fail to
  /// parse with "Element nesting too deep" instead of exhausting the stack.
  static constexpr int kMaxNestingDepth = 256;

 private:
  /// One element, by byte offsets into the document; entry 0 is the
  /// document itself. Records are addressed by index only: the table moves
  /// when it grows.
  struct ElementRecord {
    std::int32_t startTagOpen = 0;   // '<' of the start tag
    std::int32_t startTagClose = 0;  // '>' of the start tag
    std::int32_t endTagOpen = 0;     // '<' of the end tag ('/' of an empty element)
    std::int32_t endTagClose = 0;    // '>' of the end tag (startTagClose when empty)
    std::int32_t parent = 0;
    std::int32_t firstChild = 0;
    std::int32_t nextSibling = 0;
  };

  /// The tokenizer's working record.
  struct ScanToken {
    std::int32_t first = 0;  // first byte (after an opening quote)
    std::int32_t last = -1;  // last byte (before a closing quote)
    std::int32_t next = 0;   // where the following scan starts
    bool quoted = false;
  };

  char At(std::int32_t offset) const;
  bool SkipSpace(std::int32_t& offset) const;
  bool ScanTo(std::int32_t& offset, char c) const;
  bool NextToken(ScanToken& token) const;
  std::string TokenText(const ScanToken& token) const;
  bool TokenMatchesName(const ScanToken& token, const char* name) const;

  std::int32_t NewPosition();
  std::int32_t SetParseError(const char* message, const std::string* name);
  std::int32_t ParseElement(std::int32_t parent, int depth);
  bool ReadSpecialNode(ScanToken& token) const;
  void ResetPosition();

  std::int32_t FindSiblingByName(std::int32_t parent, std::int32_t current, const char* name) const;
  bool NextAttributeName(ScanToken& token) const;
  std::string ReadElementText(std::int32_t index) const;
  std::string DecodeText(std::int32_t from, std::int32_t to) const;

  std::string m_documentText;
  std::string m_errorText;
  std::vector<ElementRecord> m_elements;
  std::int32_t m_parentIndex = 0;
  std::int32_t m_currentIndex = 0;
  std::int32_t m_nextFreeIndex = 1;
  std::int32_t m_currentKind = 0;
};
