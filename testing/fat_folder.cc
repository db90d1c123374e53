#include "testing/fat_folder.h"

#include <sys/statfs.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>
#include <vector>

namespace wavrel::testing {
namespace {

namespace fs = std::filesystem;

constexpr long kFuseMagic = 0x65735546;

/// The program's path in PATH or the system folders (mkfs.vfat lives in
/// /usr/sbin, which a user's PATH may lack); empty when missing.
std::string FindProgram(const std::string& name) {
  std::vector<std::string> folders;
  const char* path = std::getenv("PATH");
  std::string list = path != nullptr ? path : "";
  list += ":/usr/sbin:/sbin:/usr/bin:/bin";
  for (std::size_t at = 0; at <= list.size();) {
    const std::size_t colon = std::min(list.find(':', at), list.size());
    if (colon > at) {
      const std::string candidate = list.substr(at, colon - at) + "/" + name;
      if (access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    at = colon + 1;
  }
  return {};
}

bool KernelHas(const std::string& fileSystem) {
  std::ifstream in("/proc/filesystems");
  std::string line;
  while (std::getline(in, line)) {
    if (line.size() >= fileSystem.size() &&
        line.compare(line.size() - fileSystem.size(), fileSystem.size(), fileSystem) == 0) {
      return true;
    }
  }
  return false;
}

}  // namespace

FatFolder::FatFolder(std::uint64_t sizeBytes) {
  if (geteuid() != 0) {
    m_skipReason = "mounting a FAT image needs root";
    return;
  }
  const std::string mkfs = FindProgram("mkfs.vfat");
  if (mkfs.empty()) {
    m_skipReason = "no mkfs.vfat (dosfstools, tools/install-deps.sh)";
    return;
  }
  m_image = m_temp / "fat.img";
  m_mountPoint = m_temp / "mnt";
  fs::create_directory(m_mountPoint);
  { std::ofstream(m_image.string()); }
  fs::resize_file(m_image, sizeBytes);
  const ChildResult made = RunChild({mkfs, m_image.string()});
  if (made.exitCode != 0) {
    m_skipReason = "mkfs.vfat failed: " + made.err;
    return;
  }
  if (MountKernel()) {
    m_kind = "vfat";
  } else if (MountFuse()) {
    m_kind = "fusefat";
  } else if (m_skipReason.empty()) {
    m_skipReason = "the kernel has no vfat and there is no FUSE (/dev/fuse, fusefat)";
  }
}

bool FatFolder::MountKernel() {
  if (!KernelHas("vfat")) return false;  // mount would ask for a module that is not there
  const std::string mount = FindProgram("mount");
  return !mount.empty() &&
         RunChild({mount, "-t", "vfat", "-o", "loop", m_image.string(), m_mountPoint.string()})
                 .exitCode == 0;
}

bool FatFolder::MountFuse() {
  const std::string fusefat = FindProgram("fusefat");
  if (fusefat.empty() || access("/dev/fuse", R_OK | W_OK) != 0 || !KernelHas("fuse")) return false;
  ChildOptions options;
  options.timeout = std::chrono::minutes(30);
  m_fuse = std::make_unique<ChildProcess>();
  std::string error;
  // In the foreground, its output into a file: a pipe that no one reads
  // would fill and stall every file operation.
  const std::string log = (m_temp / "fusefat.log").string();
  if (!m_fuse->Start({"/bin/sh", "-c", "exec \"$0\" -f -o rw+ \"$1\" \"$2\" >\"$3\" 2>&1", fusefat,
                      m_image.string(), m_mountPoint.string(), log},
                     options, &error)) {
    m_fuse.reset();
    return false;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline && m_fuse->Running()) {
    struct statfs info {};
    if (statfs(m_mountPoint.c_str(), &info) == 0 && info.f_type == kFuseMagic) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  m_skipReason = "fusefat did not mount the image";
  m_fuse.reset();  // kills it
  return false;
}

FatFolder::~FatFolder() {
  if (m_kind == "vfat") {
    const std::string umount = FindProgram("umount");
    if (RunChild({umount, m_mountPoint.string()}).exitCode != 0) {
      RunChild({umount, "-l", m_mountPoint.string()});
    }
  } else if (m_kind == "fusefat") {
    const std::string fusermount = FindProgram("fusermount");
    if (fusermount.empty() || RunChild({fusermount, "-u", m_mountPoint.string()}).exitCode != 0) {
      RunChild({FindProgram("umount"), "-l", m_mountPoint.string()});
    }
    // fusefat ends with the unmount; one stuck on a busy mount is killed.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (m_fuse->Running() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    m_fuse.reset();
  }
  m_kind.clear();
}

}  // namespace wavrel::testing
