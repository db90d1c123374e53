#include "platform/file_system.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "testing/fat_folder.h"
#include "testing/files.h"

namespace wavrel {
namespace {

namespace fs = std::filesystem;
using testing::Slurp;
using testing::WriteFile;

/// The names in folder, sorted.
std::vector<std::string> Names(const std::string& folder) {
  std::vector<std::string> names;
  ListDirectory(folder, &names);
  std::sort(names.begin(), names.end());
  return names;
}

bool Write(std::FILE* file, const std::string& bytes) {
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && written;
}

std::string Read(const std::string& path) {
  std::vector<unsigned char> bytes;
  ReadFileStart(path, 1 << 16, &bytes);
  return {bytes.begin(), bytes.end()};
}

TEST(FileSystemTest, EveryPathFunctionReachesBelowPathMax) {
  testing::TempFolder temp;
  // Twenty folders of 243-byte names below a tree made by MakeFolders.
  const std::string top = (temp / "top").string();
  std::string deep = top;
  for (int level = 0; level < 20; ++level) deep += "/" + std::string(243, 'a' + level);
  ASSERT_GT(deep.size(), static_cast<std::size_t>(PATH_MAX));
  std::string error;
  ASSERT_TRUE(MakeFolders(deep, &error)) << error;
  EXPECT_TRUE(IsDirectory(deep));
  EXPECT_TRUE(CanOpenDirectory(deep));
  EXPECT_TRUE(CanCreateFileIn(deep, &error)) << error;

  const std::string wav = deep + "/rec.wav";
  ASSERT_TRUE(Write(CreateFileForWriting(deep + "/rec.qcp"), "0123456789"));
  EXPECT_TRUE(PathExists(deep + "/rec.qcp"));
  EXPECT_FALSE(IsLink(deep + "/rec.qcp"));
  EXPECT_EQ(Read(deep + "/rec.qcp"), "0123456789");
  unsigned long long size = 0;
  EXPECT_TRUE(FileSize(deep + "/rec.qcp", &size));
  EXPECT_EQ(size, 10u);
  FileStamp stamp;
  EXPECT_TRUE(StampOf(deep + "/rec.qcp", false, &stamp));
  EXPECT_NE(stamp.inode, 0u);
  std::FILE* in = OpenRegularFileForReading(deep + "/rec.qcp", &size);
  ASSERT_NE(in, nullptr);
  std::fclose(in);

  std::string temp1;
  std::FILE* out = CreateTemporaryBeside(wav, &temp1);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(temp1.substr(0, deep.size() + 10), deep + "/.rec.wav.");
  EXPECT_TRUE(SyncFile(out, &error)) << error;
  ASSERT_TRUE(Write(out, "RIFF"));
  EXPECT_TRUE(CanReplaceByRename(wav));
  EXPECT_EQ(RenameNoReplace(temp1, wav, &error), RenameResult::kRenamed) << error;
  EXPECT_TRUE(SyncFolder(deep, &error)) << error;
  std::string temp2;
  ASSERT_TRUE(Write(CreateTemporaryBeside(wav, &temp2), "RIFF2"));
  EXPECT_TRUE(RenameOnto(temp2, wav));
  EXPECT_EQ(Read(wav), "RIFF2");
  EXPECT_EQ(Names(deep), (std::vector<std::string>{"rec.qcp", "rec.wav"}));
  EXPECT_FALSE(HasVanished(wav, nullptr));
  EXPECT_TRUE(RemoveFile(wav));
  EXPECT_TRUE(HasVanished(wav, nullptr));

  RemoveFolderTree(top);
  EXPECT_FALSE(PathExists(top));
}

TEST(FileSystemTest, GuardedRenamesKeepWhatTheRunDidNotPlanToReplace) {
  testing::TempFolder temp;
  const std::string mine = (temp / ".mine").string();
  const std::string wav = (temp / "rec.wav").string();
  const auto freshTemporary = [&] { ASSERT_TRUE(WriteFile(mine, "new")); };
  std::string error;

  // Another run's WAV appeared at the name: it stays, the caller moves on.
  freshTemporary();
  ASSERT_TRUE(WriteFile(wav, "theirs"));
  EXPECT_EQ(RenameNoReplace(mine, wav, &error), RenameResult::kTargetTaken);
  EXPECT_EQ(Slurp(wav), "theirs");
  EXPECT_EQ(Slurp(mine), "new");

  // The WAV that was there when the names were planned is replaced ...
  FileStamp planned;
  ASSERT_TRUE(StampOf(wav, false, &planned));
  EXPECT_EQ(RenameReplacingSame(mine, wav, planned, &error), RenameResult::kRenamed) << error;
  EXPECT_EQ(Slurp(wav), "new");
  EXPECT_FALSE(fs::exists(mine));
  // ... but not a file that took its place since.
  freshTemporary();
  ASSERT_TRUE(StampOf(wav, false, &planned));
  ASSERT_TRUE(WriteFile(temp / "other", "other run"));
  fs::rename(temp / "other", wav);
  EXPECT_EQ(RenameReplacingSame(mine, wav, planned, &error), RenameResult::kTargetTaken);
  EXPECT_EQ(Slurp(wav), "other run");
  EXPECT_EQ(Slurp(mine), "new");
  // Gone meanwhile: the name is free again.
  fs::remove(wav);
  EXPECT_EQ(RenameReplacingSame(mine, wav, planned, &error), RenameResult::kRenamed);
  EXPECT_EQ(Slurp(wav), "new");

  freshTemporary();
  EXPECT_EQ(RenameNoReplace(mine, (temp / "missing" / "x.wav").string(), &error),
            RenameResult::kFailed);
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(Slurp(mine), "new");
}

TEST(FileSystemTest, SyncsCaseProbeSpaceAndVanishedFiles) {
  testing::TempFolder temp;
  std::string error;
  // A write that never reached the file is a failed sync, not a silent one.
  std::FILE* full = std::fopen("/dev/full", "wb");
  ASSERT_NE(full, nullptr);
  std::fputs("lost", full);
  EXPECT_FALSE(SyncFile(full, &error));
  EXPECT_FALSE(error.empty());
  std::fclose(full);
  EXPECT_FALSE(SyncFolder((temp / "missing").string(), &error));

  // This folder keeps case apart, and the probe leaves nothing behind.
  bool ignoresCase = true;
  ASSERT_TRUE(FolderIgnoresCase(temp.Path().string(), &ignoresCase, &error)) << error;
  EXPECT_FALSE(ignoresCase);
  EXPECT_TRUE(fs::is_empty(temp.Path()));
  EXPECT_FALSE(FolderIgnoresCase((temp / "missing").string(), &ignoresCase, &error));

  EXPECT_FALSE(IsOutOfSpace(temp.Path().string(), 4096, &error));
  EXPECT_TRUE(IsOutOfSpace(temp.Path().string(), 1ull << 62, &error));
  EXPECT_EQ(error, std::strerror(ENOSPC));
  EXPECT_TRUE(fs::is_empty(temp.Path()));

  const std::string path = (temp / "rec.qcp").string();
  ASSERT_TRUE(WriteFile(path, "x"));
  FileStamp seen;
  ASSERT_TRUE(StampOf(path, true, &seen));
  EXPECT_FALSE(HasVanished(path, &seen));
  ASSERT_TRUE(WriteFile(temp / "other", "y"));
  fs::rename(temp / "other", path);
  EXPECT_TRUE(HasVanished(path, &seen));  // another file under its name
  EXPECT_FALSE(HasVanished(path, nullptr));
  EXPECT_TRUE(HasVanished((temp / "gone" / "rec.qcp").string(), nullptr));
}

TEST(FatFolderTest, CaseRenamesAndSpaceOnFat) {
  testing::FatFolder fat;
  if (!fat.Mounted()) GTEST_SKIP() << fat.SkipReason();
  const std::string folder = fat.Path().string();
  std::string error;
  bool ignoresCase = false;
  ASSERT_TRUE(FolderIgnoresCase(folder, &ignoresCase, &error)) << error;
  EXPECT_TRUE(ignoresCase) << fat.Kind();
  EXPECT_TRUE(Names(folder).empty());

  // No RENAME_NOREPLACE nor links on FUSE's FAT: the fall-backs hold the line.
  const std::string wav = folder + "/Rec.wav";
  std::string first;
  ASSERT_TRUE(Write(CreateTemporaryBeside(wav, &first), "first"));
  ASSERT_EQ(RenameNoReplace(first, wav, &error), RenameResult::kRenamed) << error;
  std::string second;
  ASSERT_TRUE(Write(CreateTemporaryBeside(folder + "/rec.wav", &second), "second"));
  EXPECT_EQ(RenameNoReplace(second, folder + "/rec.wav", &error), RenameResult::kTargetTaken);
  EXPECT_EQ(Read(wav), "first");
  FileStamp planned;
  ASSERT_TRUE(StampOf(wav, false, &planned));
  EXPECT_EQ(RenameReplacingSame(second, wav, planned, &error), RenameResult::kRenamed) << error;
  EXPECT_EQ(Read(wav), "second");
  EXPECT_TRUE(SyncFolder(folder, &error)) << error;
  EXPECT_EQ(Names(folder), (std::vector<std::string>{"Rec.wav"}));

  // Filled up: the true reason.
  EXPECT_FALSE(IsOutOfSpace(folder, 4096, &error));
  std::FILE* filler = CreateFileForWriting(folder + "/filler");
  ASSERT_NE(filler, nullptr);
  const std::string block(1 << 16, 'x');
  while (std::fwrite(block.data(), 1, block.size(), filler) == block.size()) {
  }
  std::fclose(filler);
  EXPECT_TRUE(IsOutOfSpace(folder, 4096, &error));
  EXPECT_EQ(error, std::strerror(ENOSPC));
}

}  // namespace
}  // namespace wavrel
