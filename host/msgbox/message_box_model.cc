#include "host/msgbox/message_box_model.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "base/unicode.h"
#include "plugin/message_box_record.h"

namespace wavrel::msgbox {

namespace {

struct ButtonSpec {
  ButtonId id;
  std::optional<std::size_t> field;  // caption field in the record
  const char16_t* fallback;
};

std::vector<ButtonSpec> SpecsFor(std::uint32_t style) {
  const ButtonSpec ok{kIdOk, kCaptionOk, u"OK"};
  const ButtonSpec cancel{kIdCancel, kCaptionCancel, u"Cancel"};
  const ButtonSpec abort{kIdAbort, kCaptionAbort, u"Abort"};
  const ButtonSpec retry{kIdRetry, kCaptionRetry, u"Retry"};
  const ButtonSpec ignore{kIdIgnore, kCaptionIgnore, u"Ignore"};
  const ButtonSpec yes{kIdYes, kCaptionYes, u"Yes"};
  const ButtonSpec no{kIdNo, kCaptionNo, u"No"};
  const ButtonSpec tryAgain{kIdTryAgain, std::nullopt, u"Try Again"};
  const ButtonSpec cont{kIdContinue, kCaptionContinue, u"Continue"};
  switch (style & 0xF) {
    case 1:
      return {ok, cancel};
    case 2:
      return {abort, retry, ignore};
    case 3:
      return {yes, no, cancel};
    case 4:
      return {yes, no};
    case 5:
      return {retry, cancel};
    case 6:
      return {cancel, tryAgain, cont};
    default:
      return {ok};
  }
}

Icon IconFor(std::uint32_t style) {
  switch (style & 0xF0) {
    case 0x10:
      return Icon::kError;
    case 0x20:
      return Icon::kQuestion;
    case 0x30:
      return Icon::kWarning;
    case 0x40:
      return Icon::kInformation;
    default:
      return Icon::kNone;
  }
}

std::string Lower(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return lower;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

/// text as UTF-8 with the controls that could drive a terminal (escape
/// sequences in a file name) written as \xNN or \u{NN}; line breaks and tabs
/// stay.
std::string PrintableUtf8(const std::u16string& text) {
  std::u16string safe;
  safe.reserve(text.size());
  for (const char16_t unit : text) {
    const bool control = (unit < 0x20 && unit != u'\n' && unit != u'\t') || unit == 0x7F ||
                         (unit >= 0x80 && unit <= 0x9F);
    if (!control) {
      safe.push_back(unit);
      continue;
    }
    char escaped[12];
    std::snprintf(escaped, sizeof(escaped), unit < 0x80 ? "\\x%02X" : "\\u{%02X}",
                  static_cast<unsigned>(unit));
    for (const char* c = escaped; *c != '\0'; ++c) safe.push_back(static_cast<char16_t>(*c));
  }
  return base::Utf16ToUtf8Replacing(safe);
}

const Button* FindButton(const BoxRequest& request, ButtonId id) {
  for (const Button& button : request.buttons) {
    if (button.id == id) return &button;
  }
  return nullptr;
}

}  // namespace

BoxRequest MakeRequest(const char16_t* text, const char16_t* caption, std::uint32_t style,
                       const void* record) {
  BoxRequest request;
  if (text != nullptr) request.text = text;
  if (caption != nullptr) request.caption = caption;
  request.icon = IconFor(style);
  for (const ButtonSpec& spec : SpecsFor(style)) {
    std::u16string label;
    if (record != nullptr && spec.field) label = ReadCaption(record, *spec.field);
    if (label.empty()) label = spec.fallback;
    request.buttons.push_back({spec.id, std::move(label)});
  }
  if (FindButton(request, kIdCancel) != nullptr) {
    request.escapeId = kIdCancel;
  } else if (request.buttons.size() == 1) {
    request.escapeId = request.buttons.front().id;
  } else {
    request.escapeId = request.buttons.back().id;  // No, or Ignore
  }
  return request;
}

bool IsOkCancelQuestion(std::uint32_t style) { return (style & 0xF) == 1; }

std::string RenderForConsole(const BoxRequest& request) {
  std::string out;
  const auto mark = [](Icon icon) -> std::string {
    switch (icon) {
      case Icon::kError:
        return "(x) ";
      case Icon::kQuestion:
        return "(?) ";
      case Icon::kWarning:
        return "(!) ";
      case Icon::kInformation:
        return "(i) ";
      case Icon::kNone:
        break;
    }
    return {};
  };
  const std::string heading = mark(request.icon) + PrintableUtf8(request.caption);
  out += "== " + heading + " ==\n";
  std::string text = PrintableUtf8(request.text);
  if (!text.empty() && text.back() != '\n') text.push_back('\n');
  out += text;
  for (std::size_t i = 0; i < request.buttons.size(); ++i) {
    out += (i == 0 ? "[" : "  [") + PrintableUtf8(request.buttons[i].caption) + "]";
  }
  out += "\n";
  return out;
}

std::optional<ButtonId> ParseAnswer(std::string_view answer, const BoxRequest& request) {
  const std::string_view trimmed = Trim(answer);
  const std::string lower = Lower(trimmed);
  if (lower == "o" || lower == "ok" || lower == "y" || lower == "yes") return kIdOk;
  if (lower == "c" || lower == "cancel" || lower == "n" || lower == "no") return kIdCancel;
  for (const ButtonId id : {kIdOk, kIdCancel}) {
    const Button* button = FindButton(request, id);
    if (button != nullptr && !trimmed.empty() &&
        base::Utf16ToUtf8Replacing(button->caption) == trimmed) {
      return id;
    }
  }
  return std::nullopt;
}

}  // namespace wavrel::msgbox
