// One fuzz target per reader. A target is a function over one input that
// returns 0 and aborts (through FUZZ_CHECK) when a property of the reader does
// not hold. The same source builds two ways:
//   - the fuzz build (WAVREL_FUZZ=ON, clang): the function is libFuzzer's
//     LLVMFuzzerTestOneInput, one executable per target;
//   - the normal build: the function is registered under the target's name
//     and fuzz_replay_test runs it over the committed seeds and regression
//     inputs (fuzz/corpus/<name>/, fuzz/regressions/<name>/).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace wavrel::fuzz {

using TargetFunction = int (*)(const std::uint8_t* data, std::size_t size);

/// Adds a target to the replay list; returns true (for a static initialiser).
bool RegisterTarget(const char* name, TargetFunction function);

[[noreturn]] inline void CheckFailed(const char* condition, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: property does not hold: %s\n", file, line, condition);
  std::abort();
}

}  // namespace wavrel::fuzz

/// Aborts with the condition's text when it is false: a crash to libFuzzer, a
/// failed test to the replay.
#define FUZZ_CHECK(condition) \
  ((condition) ? void(0) : ::wavrel::fuzz::CheckFailed(#condition, __FILE__, __LINE__))

#ifdef WAVREL_FUZZ_REPLAY
#define WAVREL_FUZZ_TARGET(name)                                            \
  static int FuzzTarget_##name(const std::uint8_t* data, std::size_t size); \
  [[maybe_unused]] static const bool kFuzzTargetRegistered_##name =         \
      ::wavrel::fuzz::RegisterTarget(#name, &FuzzTarget_##name);            \
  static int FuzzTarget_##name
#else
#define WAVREL_FUZZ_TARGET(name) extern "C" int LLVMFuzzerTestOneInput
#endif
