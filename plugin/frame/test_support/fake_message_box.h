// A stand-in for libXMessageBox.so, built only for the tests: it shows
// nothing, notes what each call was given and answers from a script, then
// with a default answer; a box can be held up until the test releases it.
// Two ways to reach it: a test that dlopens the library itself (so that the
// notes survive the plug-in's unloading) takes the state through the export
// FakeMessageBoxState; a test program that links the library calls the
// functions below, and the plug-in's dlopen of the same file finds it
// already loaded. Thread-safe: the worker shows boxes too.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "plugin/frame/plugin_interfaces.h"

namespace wavrel::testing {

struct FakeMessageBoxCall {
  void* owner = nullptr;
  std::u16string text;
  std::u16string caption;
  std::uint32_t style = 0;
  bool hadRecord = false;
  std::vector<unsigned char> record;  // a copy of the record's bytes
};

/// What the boxes wrote and the answer of every box the script does not
/// answer. Read it while no box is up.
struct FakeMessageBoxState {
  std::int32_t answer = 1;
  std::vector<FakeMessageBoxCall> calls;
};

/// Name of the export that hands out the state.
inline constexpr char kFakeMessageBoxStateExport[] = "FakeMessageBoxState";
using FakeMessageBoxStateFn = FakeMessageBoxState* (*)();

/// Forgets the boxes and the script; later boxes answer defaultAnswer.
WAVREL_INTERFACE void ResetMessageBoxes(std::int32_t defaultAnswer);
/// The next box answers answer (queued).
WAVREL_INTERFACE void ScriptMessageBoxAnswer(std::int32_t answer);
WAVREL_INTERFACE std::vector<FakeMessageBoxCall> RecordedMessageBoxes();
/// The next box stays up (its caller waits) until ReleaseHeldMessageBox.
WAVREL_INTERFACE void HoldNextMessageBox();
/// True while a held box is up.
WAVREL_INTERFACE bool MessageBoxHeld();
WAVREL_INTERFACE void ReleaseHeldMessageBox();

}  // namespace wavrel::testing
