// The scan of the input folder: every regular file is judged by its first
// bytes alone, whatever its name. A QCP file of any codec is a recording:
// one whose codec no decoder here takes fails with that reason, so the user
// learns what it is instead of reading that it is no recording at all.
#include <algorithm>

#include "core/batch_conversion.h"
#include "formats/qcp_codec.h"

namespace wavrel {
namespace {

/// Bytes read from the start of a file to judge it.
constexpr std::size_t kScanReadBytes = 1024;

bool LessByBytes(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
  });
}

}  // namespace

void SortByBytes(std::vector<std::string>* paths) {
  std::sort(paths->begin(), paths->end(), LessByBytes);
}

bool IsRecording(IConversionFiles& files, const std::string& path) {
  std::vector<unsigned char> head;
  if (path.empty() || !files.ReadFileStart(path, kScanReadBytes, &head)) return false;
  return qcp::IsQcpContainer(head.data(), head.size());
}

ScanResult ScanFolder(IConversionFiles& files, const std::string& folder, bool recursive) {
  ScanResult result;
  if (folder.empty()) return result;
  const std::string top = folder.back() == '/' ? folder : folder + "/";
  // Folders still to list (with recursive runs, the subfolders found).
  std::vector<std::string> pending = {top};
  while (!pending.empty()) {
    const std::string prefix = pending.back();
    pending.pop_back();
    std::vector<std::string> names;
    if (!files.ListDirectory(prefix == top ? folder : prefix, &names)) continue;
    for (const std::string& name : names) {
      if (name.empty()) continue;
      const std::string full = prefix + name;
      if (files.IsDirectory(full)) {
        // Subfolders are entered only in a recursive run, and never through
        // a symbolic link (no loops); otherwise neither entered nor counted.
        if (recursive && !files.IsLink(full)) pending.push_back(full + "/");
        continue;
      }
      if (IsRecording(files, full)) {
        result.recordings.push_back(full);
        continue;
      }
      // A file that cannot be read is told apart from one read and refused.
      std::vector<unsigned char> none;
      result.skipped.push_back({full, files.ReadFileStart(full, 0, &none)
                                          ? "not a QCP recording"
                                          : "cannot be read as a file"});
    }
  }
  SortByBytes(&result.recordings);
  std::sort(result.skipped.begin(), result.skipped.end(),
            [](const SkippedFile& a, const SkippedFile& b) { return LessByBytes(a.path, b.path); });
  return result;
}

}  // namespace wavrel
