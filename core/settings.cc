#include "core/settings.h"

#include <vector>

#include "base/decimal.h"
#include "core/xml_reader.h"

namespace wavrel {
namespace {

/// The settings file below the host folder; the lower-case folder spelling is
/// tried too when the usual one is missing (installed trees use both).
constexpr char kSettingsPath[] = "Plugins/WavrelPlugin/WavrelPluginSet.xml";
constexpr char kSettingsPathLower[] = "plugins/WavrelPlugin/WavrelPluginSet.xml";
/// A settings file holds a few lines; a larger one counts as missing.
constexpr std::size_t kMaxSettingsBytes = 64 * 1024;

}  // namespace

std::int32_t SampleRateFromSettings(CXmlReader& reader) {
  std::int32_t result = -1;
  if (reader.FindNextElement("converwavset") && reader.EnterElement()) {
    while (reader.FindNextElement("property")) {
      if (reader.AttributeNameAt(0) == "name") result = base::ParseAtoi(reader.GetElementText());
    }
  }
  return result;
}

std::int32_t ReadSampleRateSettingFile(IConversionFiles& files, const std::string& hostFolder) {
  if (hostFolder.empty()) return -1;
  std::string path = hostFolder + kSettingsPath;
  if (!files.PathExists(path)) path = hostFolder + kSettingsPathLower;
  // Only a regular file of bounded size is read (a pipe there must not block
  // the start); anything else counts as missing.
  std::vector<unsigned char> bytes;
  if (!files.ReadFileStart(path, kMaxSettingsBytes + 1, &bytes) ||
      bytes.size() > kMaxSettingsBytes) {
    return -1;
  }
  const std::string text(bytes.begin(), bytes.end());
  CXmlReader reader;
  if (!reader.ParseText(text.c_str()) || !reader.HasRootElement()) return -1;
  return SampleRateFromSettings(reader);
}

}  // namespace wavrel
