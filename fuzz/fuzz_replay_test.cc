// Replays every fuzz target over its committed seeds and the inputs that once
// broke it (fuzz/corpus/<target>/, fuzz/regressions/<target>/), in the normal
// build: a fault a fuzzer found stays fixed without a fuzzer.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "fuzz/fuzz_target.h"

namespace wavrel::fuzz {

namespace {

std::map<std::string, TargetFunction>& Targets() {
  static std::map<std::string, TargetFunction> targets;
  return targets;
}

std::vector<std::filesystem::path> Inputs(const std::filesystem::path& folder) {
  std::vector<std::filesystem::path> files;
  if (std::filesystem::is_directory(folder)) {
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
      if (entry.is_regular_file()) files.push_back(entry.path());
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace

bool RegisterTarget(const char* name, TargetFunction function) {
  Targets()[name] = function;
  return true;
}

TEST(FuzzReplay, EveryTargetPassesItsSeedsAndRegressions) {
  const std::filesystem::path root = FUZZ_DATA_DIR;
  EXPECT_EQ(Targets().size(), 11u);
  for (const auto& [name, function] : Targets()) {
    const auto seeds = Inputs(root / "corpus" / name);
    EXPECT_FALSE(seeds.empty()) << name << " has no seed corpus";
    auto inputs = seeds;
    const auto regressions = Inputs(root / "regressions" / name);
    inputs.insert(inputs.end(), regressions.begin(), regressions.end());
    for (const auto& path : inputs) {
      SCOPED_TRACE(path.string());
      std::ifstream file(path, std::ios::binary);
      const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(file)),
                                            std::istreambuf_iterator<char>());
      // A property that does not hold aborts the test with its text.
      EXPECT_EQ(function(bytes.data(), bytes.size()), 0);
    }
  }
}

}  // namespace wavrel::fuzz
