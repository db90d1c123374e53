#include "base/long_path.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "testing/files.h"

namespace wavrel {
namespace {

TEST(AtPathTest, ReachesBelowPathMaxAndTellsWhyNot) {
  testing::TempFolder temp;
  // Twenty folders of 243 bytes: about 4900 bytes, past PATH_MAX.
  const std::string deep = testing::MakeDeepFolders(temp.Path(), 20, 243);
  ASSERT_FALSE(deep.empty());
  ASSERT_GT(deep.size(), static_cast<std::size_t>(PATH_MAX));
  const std::string file = deep + "/rec.qcp";
  EXPECT_LT(open(file.c_str(), O_RDONLY), 0);  // the kernel alone refuses it
  EXPECT_EQ(errno, ENAMETOOLONG);

  const int fd = AtPath::Open(file, O_WRONLY | O_CREAT | O_EXCL, 0600);
  ASSERT_GE(fd, 0) << std::strerror(errno);
  ASSERT_EQ(write(fd, "abc", 3), 3);
  close(fd);
  {
    const AtPath at(file);
    ASSERT_TRUE(at.Ok());
    EXPECT_STREQ(at.Name(), "rec.qcp");
    struct stat info {};
    ASSERT_EQ(fstatat(at.Folder(), at.Name(), &info, 0), 0);
    EXPECT_EQ(info.st_size, 3);
  }
  // Relative, with a trailing '/', and through "..": as the kernel resolves them.
  ASSERT_EQ(chdir(temp.Path().c_str()), 0);
  const std::string relative = deep.substr(temp.Path().string().size() + 1);
  const AtPath folder(relative + "/");
  ASSERT_TRUE(folder.Ok());
  struct stat info {};
  EXPECT_EQ(fstatat(folder.Folder(), folder.Name(), &info, 0), 0);
  EXPECT_TRUE(S_ISDIR(info.st_mode));
  const std::string up = deep + "/../" + deep.substr(deep.rfind('/') + 1) + "/rec.qcp";
  EXPECT_GE(AtPath::Open(up, O_RDONLY), 0);
  ASSERT_EQ(chdir("/"), 0);

  // A missing folder on the way fails the walk with its reason; a short
  // path never fails here (the call that uses it tells).
  const std::string missing = deep.substr(0, deep.size() - 5) + "zzzzz/x";
  const AtPath none(missing);
  EXPECT_FALSE(none.Ok());
  EXPECT_EQ(none.Error(), ENOENT);
  EXPECT_LT(AtPath::Open(missing, O_RDONLY), 0);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_TRUE(AtPath("/no/such/folder/x").Ok());
}

}  // namespace
}  // namespace wavrel
