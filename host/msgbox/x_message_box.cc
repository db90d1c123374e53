// libXMessageBox.so: the message boxes of the host and its plug-ins. Inside
// a Qt application it draws a QMessageBox; elsewhere it prints the box on
// standard error and takes the answer to an OK/Cancel question from the
// terminal or from XMESSAGEBOX_ANSWER.
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

#include "base/unicode.h"
#include "host/msgbox/message_box_model.h"
#include "host/msgbox/qt_face.h"

namespace wavrel::msgbox {
namespace {

// One console box at a time: boxes from several threads must not interleave.
std::mutex g_consoleMutex;

void WriteError(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

/// One line from standard input, read byte by byte so that nothing past the
/// line is taken from the process's input. Nothing at end of input.
std::optional<std::string> ReadAnswerLine() {
  std::string line;
  for (;;) {
    char c = 0;
    const ssize_t got = ::read(STDIN_FILENO, &c, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      if (line.empty()) return std::nullopt;
      return line;
    }
    if (c == '\n') return line;
    if (line.size() < 256) line.push_back(c);
  }
}

std::string CaptionOf(const BoxRequest& request, ButtonId id) {
  for (const Button& button : request.buttons) {
    if (button.id == id) return base::Utf16ToUtf8Replacing(button.caption);
  }
  return {};
}

std::int32_t ShowConsoleBox(const BoxRequest& request, std::uint32_t style) {
  std::lock_guard<std::mutex> lock(g_consoleMutex);
  std::string out = RenderForConsole(request);
  if (!IsOkCancelQuestion(style)) {
    WriteError(out);
    return request.buttons.front().id;
  }

  // A configured answer wins over the terminal: `wavrel --yes` must not ask.
  const char* configured = std::getenv("XMESSAGEBOX_ANSWER");
  if (configured != nullptr && *configured != '\0') {
    const ButtonId id = ParseAnswer(configured, request).value_or(kIdCancel);
    WriteError(out + "-> " + CaptionOf(request, id) + " (XMESSAGEBOX_ANSWER)\n");
    return id;
  }
  if (::isatty(STDIN_FILENO) == 1) {
    const std::string prompt =
        CaptionOf(request, kIdOk) + " / " + CaptionOf(request, kIdCancel) + "? [o/c] ";
    WriteError(out + prompt);
    for (int attempt = 0; attempt < 3; ++attempt) {
      const std::optional<std::string> line = ReadAnswerLine();
      if (!line) break;
      if (const auto id = ParseAnswer(*line, request)) return *id;
      WriteError(prompt);
    }
    WriteError("\n-> " + CaptionOf(request, kIdCancel) + "\n");
    return kIdCancel;
  }
  WriteError(out + "-> " + CaptionOf(request, kIdCancel) +
             " (no terminal to ask; set XMESSAGEBOX_ANSWER=ok to accept)\n");
  return kIdCancel;
}

}  // namespace
}  // namespace wavrel::msgbox

/// The library's one export; see plugin/message_box_record.h for the
/// record. Never throws: a box that cannot be shown answers 2 (Cancel).
extern "C" __attribute__((visibility("default"))) std::int32_t XMessageBox(void* /*owner*/,
                                                                           const char16_t* text,
                                                                           const char16_t* caption,
                                                                           std::uint32_t style,
                                                                           void* record) {
  using namespace wavrel::msgbox;
  try {
    const BoxRequest request = MakeRequest(text, caption, style, record);
    if (QtFaceAvailable()) return ShowQtBox(request);
    return ShowConsoleBox(request, style);
  } catch (...) {
    return kIdCancel;
  }
}
