#include "formats/posix_file.h"

#include <gtest/gtest.h>

#include <climits>

#include "testing/files.h"

namespace vocrate {
namespace {

TEST(PosixFileTest, OpensARecordingBelowPathMax) {
  wavrel::testing::TempFolder temp;
  const std::string deep = wavrel::testing::MakeDeepFolders(temp.Path(), 20, 243);
  ASSERT_GT(deep.size(), static_cast<std::size_t>(PATH_MAX));
  const std::string path = deep + "/rec.qcp";
  const std::string other = deep + "/other.qcp";
  ASSERT_TRUE(wavrel::testing::WriteFile(path, "RIFF"));
  ASSERT_TRUE(wavrel::testing::WriteFile(other, "RIFF"));
  FileIdentity id;
  std::FILE* file = OpenRegularFile(path.c_str(), &id);
  ASSERT_NE(file, nullptr);
  char bytes[4] = {};
  EXPECT_EQ(std::fread(bytes, 1, 4, file), 4u);
  std::fclose(file);
  EXPECT_TRUE(IsSameFile(path.c_str(), id));
  EXPECT_FALSE(IsSameFile(other.c_str(), id));
  EXPECT_EQ(OpenRegularFile(deep.c_str(), &id), nullptr);  // a folder
}

}  // namespace
}  // namespace vocrate
