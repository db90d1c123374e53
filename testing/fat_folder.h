// A small FAT file system for a test, as on the memory cards and USB sticks
// that recordings come from: names that differ only in case are one name,
// no hard links, no RENAME_EXCHANGE. Mounting needs root: the kernel's vfat
// on a loop device where the kernel has it, else fusefat (FUSE). Where
// neither can be had, the test skips and says why:
//
//   FatFolder fat;
//   if (!fat.Mounted()) GTEST_SKIP() << fat.SkipReason();
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "testing/child_process.h"
#include "testing/files.h"

namespace wavrel::testing {

class FatFolder {
 public:
  /// Makes an image of sizeBytes (mkfs.vfat) and mounts it.
  explicit FatFolder(std::uint64_t sizeBytes = 16u << 20);
  /// Unmounts (lazily when something is still open) and deletes the image.
  ~FatFolder();
  FatFolder(const FatFolder&) = delete;
  FatFolder& operator=(const FatFolder&) = delete;

  bool Mounted() const { return !m_kind.empty(); }
  /// Why there is no FAT folder (not root, no mkfs.vfat, no vfat nor FUSE).
  const std::string& SkipReason() const { return m_skipReason; }
  /// The mounted file system's root folder, empty and writable.
  const std::filesystem::path& Path() const { return m_mountPoint; }
  /// "vfat" (the kernel's) or "fusefat".
  const std::string& Kind() const { return m_kind; }

 private:
  bool MountKernel();
  bool MountFuse();

  TempFolder m_temp{"wavrel-fat"};
  std::filesystem::path m_image;
  std::filesystem::path m_mountPoint;
  std::string m_kind;
  std::string m_skipReason;
  std::unique_ptr<ChildProcess> m_fuse;  // the fusefat daemon, in the foreground
};

}  // namespace wavrel::testing
