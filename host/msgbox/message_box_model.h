// What a message box shows, independent of how it is drawn: the buttons that
// a style asks for with their captions (from the caller's record, or the
// library's own), the icon, and the console's rendering and answers.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace wavrel::msgbox {

/// Button identifiers returned by XMessageBox.
enum ButtonId : std::int32_t {
  kIdOk = 1,
  kIdCancel = 2,
  kIdAbort = 3,
  kIdRetry = 4,
  kIdIgnore = 5,
  kIdYes = 6,
  kIdNo = 7,
  kIdTryAgain = 10,
  kIdContinue = 11,
};

enum class Icon { kNone, kError, kQuestion, kWarning, kInformation };

struct Button {
  ButtonId id;
  std::u16string caption;  ///< never empty
};

struct BoxRequest {
  std::u16string text;
  std::u16string caption;
  Icon icon = Icon::kNone;
  std::vector<Button> buttons;  ///< in display order, never empty
  /// The answer when the box is dismissed without a button (Escape, close).
  ButtonId escapeId = kIdCancel;
};

/// Builds the request for the five XMessageBox arguments. Null texts are
/// empty; style & 0xF picks the buttons (0 OK, 1 OK/Cancel, 2 Abort/Retry/
/// Ignore, 3 Yes/No/Cancel, 4 Yes/No, 5 Retry/Cancel, 6 Cancel/Try Again/
/// Continue; others OK); style & 0xF0 the icon. A button takes its caption
/// from record's caption field when record is given and the field is not
/// empty, else the library's own English caption.
BoxRequest MakeRequest(const char16_t* text, const char16_t* caption, std::uint32_t style,
                       const void* record);

/// True when the box asks a question with OK and Cancel (style & 0xF == 1).
bool IsOkCancelQuestion(std::uint32_t style);

/// The box as printed on the console, UTF-8, ending in a line break. Control
/// characters other than line breaks and tabs are shown escaped, so that a
/// file name in a message cannot drive the terminal.
std::string RenderForConsole(const BoxRequest& request);

/// A typed or configured answer to an OK/Cancel question: "o", "ok", "y",
/// "yes" (any case) or the OK button's caption give OK; "c", "cancel", "n",
/// "no" or the Cancel button's caption give Cancel; anything else nothing.
std::optional<ButtonId> ParseAnswer(std::string_view answer, const BoxRequest& request);

}  // namespace wavrel::msgbox
