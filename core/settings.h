// The plug-in's one setting, the sample rate written into the WAV headers,
// from the XML settings file beside the host executable. Read by every
// front end (the dialog at start-up, the console before a run).
#pragma once

#include <cstdint>
#include <string>

#include "core/conversion_files.h"

class CXmlReader;

namespace wavrel {

/// The sample rate that a parsed settings document gives: the text of the
/// last <property> of <converwavset> whose first attribute is "name", read
/// like atoi; -1 when there is none. Walks from the reader's position.
std::int32_t SampleRateFromSettings(CXmlReader& reader);

/// The setting of Plugins/WavrelPlugin/WavrelPluginSet.xml below hostFolder
/// (ending in '/'; the lower-case "plugins" spelling is read when the usual
/// one has no file); -1 when the file gives none. Only a regular file of at
/// most 64 KiB is read: anything else counts as missing.
std::int32_t ReadSampleRateSettingFile(IConversionFiles& files, const std::string& hostFolder);

}  // namespace wavrel
