#include "core/wav_names.h"

#include <algorithm>
#include <cstdint>
#include <set>

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

std::vector<std::string> PlanWavPaths(IConversionFiles& files,
                                      const std::vector<std::string>& recordings,
                                      const std::vector<std::string>& outputFolders,
                                      const std::vector<FileStamp>& inputStamps) {
  std::vector<std::string> paths;
  std::set<std::string> taken;
  paths.reserve(recordings.size());
  for (std::size_t i = 0; i < recordings.size(); ++i) {
    const std::string stem = outputFolders[i] + StemOf(recordings[i]);
    std::string path = stem + ".wav";
    for (int n = 2; taken.count(path) != 0 || IsInput(files, path, inputStamps); ++n) {
      path = stem + " (" + std::to_string(n) + ").wav";
    }
    taken.insert(path);
    paths.push_back(path);
  }
  return paths;
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
