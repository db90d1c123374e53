// Which speech codec a QCP file carries. The codec GUID at offset 22 decides;
// a GUID of no codec known here leaves it to the codec name field at offset
// 40 (80 bytes, zero-padded), which writers fill with the codec's name.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "formats/qcp_format.h"

namespace qcp {

enum class Codec {
  kEvrc,
  kQcelp13k,
  kSmv,
  k4gv,
  kOther,    ///< a codec this system does not know; its name is from the name field
  kUnknown,  ///< neither the GUID nor the name field says which codec
};

struct CodecId {
  Codec codec = Codec::kUnknown;
  /// "EVRC", "QCELP-13K", "SMV", "4GV", the name field's text (printable
  /// ASCII, blanks collapsed, at most kCodecNameFieldSize characters) for
  /// kOther, or "unknown codec".
  std::string name = "unknown codec";
  bool byGuid = false;  ///< the GUID decided (else the name field, or nothing)
};

/// "RIFF" at 0 and "QLCM" at 8, with room for the codec GUID: a QCP file,
/// whatever its codec.
inline bool IsQcpContainer(const std::uint8_t* head, std::size_t size) {
  return size >= kIdentifyingBytes && std::equal(kRiffId.begin(), kRiffId.end(), head) &&
         std::equal(kQlcmId.begin(), kQlcmId.end(), head + kFormTypeOffset);
}

/// The name field's text, fit to print: up to its first NUL, bytes outside
/// printable ASCII become '?', runs of blanks one blank, none at either end.
/// Empty when the field holds nothing printable.
inline std::string CodecNameText(const std::uint8_t* head, std::size_t size) {
  std::string text;
  const std::size_t end = std::min(size, kCodecNameOffset + kCodecNameFieldSize);
  for (std::size_t i = kCodecNameOffset; i < end && head[i] != 0; ++i) {
    const std::uint8_t c = head[i];
    const bool blank = c == ' ' || c == '\t' || c == '\n' || c == '\r';
    if (blank) {
      if (!text.empty() && text.back() != ' ') text += ' ';
    } else {
      text += (c > 0x20 && c < 0x7F) ? static_cast<char>(c) : '?';
    }
  }
  if (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

namespace detail {

inline bool Contains(std::string_view text, std::string_view word) {
  return std::search(text.begin(), text.end(), word.begin(), word.end(), [](char a, char b) {
           const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
           return lower(a) == lower(b);
         }) != text.end();
}

inline CodecId Known(Codec codec, bool byGuid) {
  static constexpr const char* kNames[] = {"EVRC", "QCELP-13K", "SMV", "4GV"};
  return {codec, kNames[static_cast<int>(codec)], byGuid};
}

}  // namespace detail

/// The codec of a QCP file from its first `size` bytes (IsQcpContainer must
/// hold; anything else is kUnknown). A name field that names a known codec
/// counts as that codec: "EVRC-B" or "4GV" is 4GV, "EVRC" or "Enhanced
/// Variable Rate" EVRC (but "EVRC-WB" and "EVRC-NW" are others), "SMV" or
/// "Selectable Mode" SMV, "QCELP" or "PureVoice" with "13" QCELP-13K.
inline CodecId IdentifyCodec(const std::uint8_t* head, std::size_t size) {
  if (!IsQcpContainer(head, size)) return {};
  const std::uint8_t* guid = head + kCodecGuidOffset;
  const auto is = [guid](const std::array<std::uint8_t, 16>& known) {
    return std::equal(known.begin(), known.end(), guid);
  };
  if (is(kEvrcCodecGuid)) return detail::Known(Codec::kEvrc, true);
  if (is(kQcelp13kGuid1) || is(kQcelp13kGuid2)) return detail::Known(Codec::kQcelp13k, true);
  if (is(kSmvGuid)) return detail::Known(Codec::kSmv, true);
  if (is(k4gvGuid)) return detail::Known(Codec::k4gv, true);

  const std::string text = CodecNameText(head, size);
  using detail::Contains;
  // The wideband members of the family are codecs of their own.
  if (Contains(text, "EVRC-WB") || Contains(text, "EVRC-NW") || Contains(text, "4GV-WB")) {
    return {Codec::kOther, text, false};
  }
  if (Contains(text, "4GV") || Contains(text, "EVRC-B") || Contains(text, "EVRCB")) {
    return detail::Known(Codec::k4gv, false);
  }
  if (Contains(text, "EVRC") || Contains(text, "Enhanced Variable Rate")) {
    return detail::Known(Codec::kEvrc, false);
  }
  if (Contains(text, "SMV") || Contains(text, "Selectable Mode")) {
    return detail::Known(Codec::kSmv, false);
  }
  if ((Contains(text, "QCELP") || Contains(text, "PureVoice")) && Contains(text, "13")) {
    return detail::Known(Codec::kQcelp13k, false);
  }
  if (text.empty()) return {};
  return {Codec::kOther, text, false};
}

}  // namespace qcp
