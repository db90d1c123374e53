// Files and folders for tests: a temporary folder removed at the end, whole
// files read and written, the sample recordings copied.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "base/little_endian.h"

namespace wavrel::testing {

using wavrel::Le16;
using wavrel::Le32;

/// A fresh folder below $TMPDIR (or /tmp), removed with everything in it at
/// the end, even what the test made read-only.
class TempFolder {
 public:
  explicit TempFolder(const std::string& prefix = "wavrel-test");
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& Path() const { return m_path; }
  std::filesystem::path operator/(const std::filesystem::path& name) const { return m_path / name; }

 private:
  std::filesystem::path m_path;
};

/// Removes a folder and everything in it, read-only or not, at any depth
/// (paths longer than PATH_MAX too); errors ignored.
void RemoveAll(const std::filesystem::path& folder);

/// Makes `levels` nested folders below `base`, each named by `nameBytes`
/// letters (level k by the letter 'a' + k % 26), walking down by open
/// folders so that the path may exceed PATH_MAX; the deepest one's path, or
/// empty when a folder could not be made.
std::string MakeDeepFolders(const std::filesystem::path& base, int levels, std::size_t nameBytes);

/// The whole file; empty when it cannot be read. Any depth.
std::string Slurp(const std::filesystem::path& path);
/// Replaces the file with `bytes`; false when it cannot be written whole.
/// Any depth.
bool WriteFile(const std::filesystem::path& path, std::string_view bytes);

/// Copies sample recordings (from `samples`) into `folder`, made first:
/// every one under its own name, or only those of `renamed` (sample ->
/// name). The copies are readable and writable by the owner.
void CopySamples(const std::filesystem::path& samples, const std::filesystem::path& folder,
                 const std::map<std::string, std::string>& renamed = {});

/// The names of folder's entries, sorted.
std::vector<std::string> Names(const std::filesystem::path& folder);

/// A QCP file to a fake converter: the identifying bytes of an EVRC QCP
/// header (RIFF, QLCM, the codec GUID) in its 194 bytes, then payload.
std::string QcpBytes(const std::string& payload);

}  // namespace wavrel::testing
