#include "base/dynamic_library.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <utility>

#include "base/module_path.h"

namespace wavrel {
namespace {

TEST(DynamicLibraryTest, LoadsResolvesAndReportsFailures) {
  DynamicLibrary library;
  std::string error;
  EXPECT_EQ(library.Symbol("cos", &error), nullptr);
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(library.Open("/nonexistent/libnothing.so", &error));
  EXPECT_NE(error.find("libnothing.so"), std::string::npos) << error;
  EXPECT_FALSE(library.Open("/proc/self/status", nullptr));  // no library
  EXPECT_FALSE(library.IsOpen());

  ASSERT_TRUE(library.Open("libm.so.6", &error)) << error;
  EXPECT_NE(library.Symbol("cos", &error), nullptr);
  EXPECT_EQ(library.Symbol("no_such_symbol_here", &error), nullptr);
  EXPECT_NE(error.find("no_such_symbol_here"), std::string::npos) << error;

  DynamicLibrary moved = std::move(library);
  EXPECT_FALSE(library.IsOpen());
  EXPECT_NE(moved.Symbol("sin", nullptr), nullptr);
  moved.Close();
  EXPECT_FALSE(moved.IsOpen());
}

TEST(ModulePathTest, ExecutablePathAndItsFolder) {
  const std::optional<std::string> path = ExecutablePath();
  ASSERT_TRUE(path.has_value());
  EXPECT_EQ(*path, std::filesystem::read_symlink("/proc/self/exe").string());
  EXPECT_EQ(ExecutablePathUtf16(), std::filesystem::path(*path).u16string());

  EXPECT_EQ(DirectoryOf(u"/opt/host/wavrel"), u"/opt/host/");
  EXPECT_EQ(DirectoryOf(u"/wavrel"), u"/");
  EXPECT_EQ(DirectoryOf(u"wavrel"), u"");
}

}  // namespace
}  // namespace wavrel
