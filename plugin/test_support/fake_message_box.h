// A stand-in for libXMessageBox.so, built only for the tests: it shows
// nothing, notes what each call was given and answers what the test says.
// The test keeps the library loaded itself (so that the notes survive the
// plug-in's unloading) and reaches the notes through FakeMessageBoxState.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace wavrel::testing {

struct FakeMessageBoxCall {
  void* owner = nullptr;
  std::u16string text;
  std::u16string caption;
  std::uint32_t style = 0;
  bool hadRecord = false;
  std::vector<unsigned char> record;  // a copy of the record's bytes
};

struct FakeMessageBoxState {
  std::int32_t answer = 1;
  std::vector<FakeMessageBoxCall> calls;
};

/// Name of the export that hands out the state.
inline constexpr char kFakeMessageBoxStateExport[] = "FakeMessageBoxState";
using FakeMessageBoxStateFn = FakeMessageBoxState* (*)();

}  // namespace wavrel::testing
