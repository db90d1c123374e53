#include "core/wav_names.h"

#include <algorithm>
#include <cstdint>
#include <set>

#include "base/case_fold.h"
#include "base/little_endian.h"
#include "base/text.h"
#include "core/wav_writer.h"

namespace wavrel {
namespace {

std::string StemOf(const std::string& path) {
  const std::string_view name = base::BaseName(path);
  return std::string(name.substr(0, name.rfind('.')));
}

bool IsInput(IConversionFiles& files, const std::string& path,
             const std::vector<FileStamp>& inputStamps) {
  FileStamp stamp;
  if (!files.StampOf(path, false, &stamp)) return false;
  return std::any_of(inputStamps.begin(), inputStamps.end(),
                     [&](const FileStamp& input) { return input.SameFile(stamp); });
}

}  // namespace

WavNamePlan::WavNamePlan(IConversionFiles& files, const std::vector<std::string>& recordings,
                         const std::vector<std::string>& outputFolders,
                         const std::vector<FileStamp>& inputStamps)
    : m_folders(outputFolders), m_lastNumber(recordings.size(), 1) {
  for (const std::string& folder : outputFolders) {
    if (m_ignoresCase.count(folder) != 0) continue;
    bool ignores = false;
    std::string error;
    // A folder that cannot be asked cannot take the WAVs either; folding
    // there costs at most a numbered name.
    if (!files.FolderIgnoresCase(folder, &ignores, &error)) ignores = true;
    m_ignoresCase[folder] = ignores;
  }
  // The recordings that lie in an output folder, under the name as that
  // folder compares it (some file systems give the spellings of one name
  // inodes of their own, so the stamps alone would miss them).
  std::set<std::string> inputKeys;
  for (const std::string& recording : recordings) {
    const std::size_t slash = recording.rfind('/');
    const std::string folder = recording.substr(0, slash + 1);
    if (m_ignoresCase.count(folder) != 0)
      inputKeys.insert(Key(folder, recording.substr(slash + 1)));
  }
  m_paths.reserve(recordings.size());
  for (std::size_t i = 0; i < recordings.size(); ++i) {
    const std::string stem = StemOf(recordings[i]);
    m_stems.push_back(stem);
    std::string name = stem + ".wav";
    for (int n = 2; m_taken.count(Key(outputFolders[i], name)) != 0 ||
                    inputKeys.count(Key(outputFolders[i], name)) != 0 ||
                    IsInput(files, outputFolders[i] + name, inputStamps);
         ++n) {
      name = stem + " (" + std::to_string(n) + ").wav";
      m_lastNumber[i] = n;
    }
    m_taken.insert(Key(outputFolders[i], name));
    m_paths.push_back(outputFolders[i] + name);
  }
}

std::string WavNamePlan::Key(const std::string& folder, const std::string& name) const {
  const auto it = m_ignoresCase.find(folder);
  return folder + (it != m_ignoresCase.end() && it->second ? base::FoldNameCase(name) : name);
}

std::string WavNamePlan::NextFreeName(std::size_t i) {
  std::lock_guard lock(m_mutex);
  if (i >= m_paths.size()) return {};
  std::string name;
  do {
    name = m_stems[i] + " (" + std::to_string(++m_lastNumber[i]) + ").wav";
  } while (m_taken.count(Key(m_folders[i], name)) != 0);
  m_taken.insert(Key(m_folders[i], name));
  return m_folders[i] + name;
}

std::vector<std::string> PlanWavPaths(IConversionFiles& files,
                                      const std::vector<std::string>& recordings,
                                      const std::vector<std::string>& outputFolders,
                                      const std::vector<FileStamp>& inputStamps) {
  return WavNamePlan(files, recordings, outputFolders, inputStamps).Paths();
}

bool IsCompleteWav(IConversionFiles& files, const std::string& path) {
  std::vector<unsigned char> head;
  unsigned long long size = 0;
  if (!files.ReadFileStart(path, kWavHeaderSize, &head) || head.size() != kWavHeaderSize ||
      !files.FileSize(path, &size) || size < kWavHeaderSize) {
    return false;
  }
  const std::uint32_t dataBytes = Le32(head, 40);
  if (Le32(head, 4) != size - 8 || dataBytes > size - kWavHeaderSize) return false;
  // What follows the samples is the tags' LIST chunk (after a pad byte when
  // the data chunk is odd), whose size says where the file ends.
  const unsigned long long trailer = size - kWavHeaderSize - dataBytes;
  if (trailer != 0) {
    const std::size_t pad = dataBytes & 1u;
    std::vector<unsigned char> list;
    if (trailer < pad + 8 || !files.ReadFileAt(path, kWavHeaderSize + dataBytes + pad, 8, &list) ||
        list.size() != 8 || std::string(list.begin(), list.begin() + 4) != "LIST" ||
        Le32(list, 4) + 8 + pad != trailer) {
      return false;
    }
  }
  // The header is the one the writer makes for that many bytes, sample rate aside.
  const std::uint32_t rate = Le32(head, 24);
  const auto expected = BuildWavHeader(dataBytes, static_cast<std::int32_t>(rate),
                                       static_cast<std::uint32_t>(trailer));
  return std::equal(expected.begin(), expected.end(), head.begin());
}

}  // namespace wavrel
