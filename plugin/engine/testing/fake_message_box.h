// A libXMessageBox.so for the engine's tests: it records every box (text,
// caption, style) and answers from a script, then with a default answer.
// The test program links this library, and the plug-in's dlopen of the same
// file in the host folder finds it already loaded, so the state below is the
// one the boxes write to. Thread-safe: the worker shows boxes too.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "plugin/frame/plugin_interfaces.h"

namespace wavrel::testing {

struct RecordedBox {
  std::u16string text;
  std::u16string caption;
  std::uint32_t style = 0;
};

/// Forgets the boxes and the script; later boxes answer defaultAnswer.
WAVREL_INTERFACE void ResetMessageBoxes(std::int32_t defaultAnswer);
/// The next box answers answer (queued).
WAVREL_INTERFACE void ScriptMessageBoxAnswer(std::int32_t answer);
WAVREL_INTERFACE std::vector<RecordedBox> RecordedMessageBoxes();
/// The next box stays up (its caller waits) until ReleaseHeldMessageBox.
WAVREL_INTERFACE void HoldNextMessageBox();
/// True while a held box is up.
WAVREL_INTERFACE bool MessageBoxHeld();
WAVREL_INTERFACE void ReleaseHeldMessageBox();

}  // namespace wavrel::testing
