// The message-box library's call and its parameter record, shared by the
// plug-in (which fills the record) and libXMessageBox.so (which reads the
// button captions from it).
//
// The record is 13072 bytes, made afresh for each box and alive only during
// the call. Integers are 32-bit little-endian; a text field is 520 bytes and
// holds up to 260 UTF-16 units including the terminating zero. The plug-in
// writes only the flag at 2148 (set to 1) and the button captions; every other
// byte is zero. When the plug-in has no host it passes no record at all (a
// null pointer), and the library uses captions of its own.
//
//   offset  size   content
//   0       40     ten 32-bit fields, 0
//   40      520    text field, empty
//   560     4      32-bit field, 0
//   564     520    text field, empty
//   1084    4      32-bit field, 0
//   1088    520    text field, empty
//   1608    520    text field, empty
//   2128    20     five 32-bit fields, 0
//   2148    4      32-bit field, 1
//   2152    10920  21 button-caption fields, field n at 2152 + 520 * n
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <string>

namespace wavrel {

/// The library's file name; it is looked for in the host executable's folder.
inline constexpr char kMessageBoxLibraryName[] = "libXMessageBox.so";
/// The library's one export, called with five arguments.
inline constexpr char kMessageBoxExportName[] = "XMessageBox";

/// XMessageBox(owner, text, caption, style, record): owner is always null
/// here; style holds the standard message-box style bits (48: OK with an
/// exclamation icon, 49: OK and Cancel); record is a kMessageBoxRecordSize
/// block laid out as below, or null. Returns the button that closed the box
/// (1 OK, 2 Cancel, 3 Abort, 4 Retry, 5 Ignore, 6 Yes, 7 No, ...).
using XMessageBoxFn = std::int32_t (*)(void* owner, const char16_t* text, const char16_t* caption,
                                       std::uint32_t style, void* record);

inline constexpr std::size_t kMessageBoxRecordSize = 13072;
/// A text field: 260 UTF-16 units (520 bytes), the last text unit followed by
/// a zero unit, so at most 259 units of text.
inline constexpr std::size_t kTextFieldUnits = 260;
inline constexpr std::size_t kTextFieldBytes = kTextFieldUnits * sizeof(char16_t);

/// The 32-bit field that the plug-in sets to kFlagValue in every record.
inline constexpr std::size_t kFlagOffset = 2148;
inline constexpr std::uint32_t kFlagValue = 1;

/// The button-caption fields: field n at kCaptionFieldsOffset + n * kTextFieldBytes.
inline constexpr std::size_t kCaptionFieldsOffset = 2152;
inline constexpr std::size_t kCaptionFieldCount = 21;

/// Index of each button's caption field. Fields 3, 4, 5, 16, 19 and 20 have no
/// key and stay empty.
enum CaptionIndex : std::size_t {
  kCaptionAbort = 0,
  kCaptionCancel = 1,
  kCaptionContinue = 2,
  kCaptionHelp = 6,
  kCaptionIgnore = 7,
  kCaptionIgnoreAll = 8,
  kCaptionNo = 9,
  kCaptionNoToAll = 10,
  kCaptionOk = 11,
  kCaptionReport = 12,
  kCaptionRetry = 13,
  kCaptionSkip = 14,
  kCaptionSkipAll = 15,
  kCaptionYes = 17,
  kCaptionYesToAll = 18,
};

constexpr std::size_t CaptionOffset(std::size_t index) {
  return kCaptionFieldsOffset + index * kTextFieldBytes;
}

inline constexpr std::size_t kCaptionOffsetCancel = CaptionOffset(kCaptionCancel);  // 2672
inline constexpr std::size_t kCaptionOffsetHelp = CaptionOffset(kCaptionHelp);      // 5272
inline constexpr std::size_t kCaptionOffsetOk = CaptionOffset(kCaptionOk);          // 7872

static_assert(CaptionOffset(kCaptionFieldCount) == kMessageBoxRecordSize);
static_assert(kCaptionOffsetOk == 7872 && kCaptionOffsetCancel == 2672 &&
              kCaptionOffsetHelp == 5272);

/// Section of the localisation service that holds the captions.
inline constexpr char16_t kCaptionSection[] = u"Torvex";

/// The caption keys in the order the plug-in looks them up, each with its field.
struct CaptionKey {
  const char16_t* key;
  CaptionIndex index;
};
inline constexpr CaptionKey kCaptionKeys[] = {
    {u"IDS_OK", kCaptionOk},
    {u"IDS_CANCEL", kCaptionCancel},
    {u"IDS_ABORT", kCaptionAbort},
    {u"IDS_RETRY", kCaptionRetry},
    {u"IDS_IGNORE", kCaptionIgnore},
    {u"IDS_YES", kCaptionYes},
    {u"IDS_NO", kCaptionNo},
    {u"IDS_HELP", kCaptionHelp},
    {u"IDS_CONTINUE", kCaptionContinue},
    {u"IDS_SKIP", kCaptionSkip},
    {u"IDS_SKIPALL", kCaptionSkipAll},
    {u"IDS_IGNOREALL", kCaptionIgnoreAll},
    {u"IDS_YESTOALL", kCaptionYesToAll},
    {u"IDS_NOTOALL", kCaptionNoToAll},
    {u"IDS_REPORT", kCaptionReport},
};
static_assert(std::size(kCaptionKeys) == 15);

/// The text of a text field at offset of record: up to its first zero unit,
/// at most kTextFieldUnits units. record must hold kMessageBoxRecordSize bytes.
inline std::u16string ReadRecordText(const void* record, std::size_t offset) {
  std::u16string text;
  const auto* bytes = static_cast<const unsigned char*>(record) + offset;
  for (std::size_t i = 0; i < kTextFieldUnits; ++i) {
    char16_t unit = 0;
    std::memcpy(&unit, bytes + i * sizeof(char16_t), sizeof(char16_t));
    if (unit == 0) break;
    text.push_back(unit);
  }
  return text;
}

/// The caption of button field index (0..20) of record; empty when the field is.
inline std::u16string ReadCaption(const void* record, std::size_t index) {
  return ReadRecordText(record, CaptionOffset(index));
}

/// The 32-bit field at offset of record.
inline std::uint32_t ReadRecordField(const void* record, std::size_t offset) {
  std::uint32_t value = 0;
  std::memcpy(&value, static_cast<const unsigned char*>(record) + offset, sizeof(value));
  return value;
}

}  // namespace wavrel
