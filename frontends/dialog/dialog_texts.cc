#include "frontends/dialog/dialog_texts.h"

#include "base/text.h"
#include "frontends/dialog/host_access.h"

namespace wavrel {
namespace {

using base::FormatText;
using host::Wide;

std::u16string Number(std::size_t value) {
  const std::string digits = std::to_string(value);
  return std::u16string(digits.begin(), digits.end());
}

/// Files listed by name in the end report; the rest are counted.
constexpr std::size_t kReportLines = 20;

}  // namespace

void DialogTexts::Load(const Lookup& text, const std::function<void()>& between) {
  struct Entry {
    std::u16string DialogTexts::*member;
    const char16_t* key;
  };
  static constexpr Entry kTexts[] = {
      {&DialogTexts::title, u"IDS_TITLE_NAME"},
      {&DialogTexts::promptInfo, u"IDS_PROMPT_INFO"},
      {&DialogTexts::contentInfo, u"IDS_CONTENT_INFO"},
      {&DialogTexts::resourcePath, u"IDS_RESOURCE_PATH"},
      {&DialogTexts::targetName, u"IDS_TARGET_NAME"},
      {&DialogTexts::convert, u"IDC_CONVERT"},
      {&DialogTexts::cancel, u"IDS_CANCLE"},
      {&DialogTexts::messageNoEmpty, u"IDS_MESSAGE_NO_EMPTY"},
      {&DialogTexts::converting, u"IDS_CONVERING"},
      {&DialogTexts::converted, u"IDS_CONVERED"},
      {&DialogTexts::cancelling, u"IDS_CONVER_CANCLEING"},
      {&DialogTexts::cancelled, u"IDS_CONVER_CANCLEED"},
      {&DialogTexts::quitMessage, u"IDS_QUIT_MESSAGE"},
      {&DialogTexts::programMissing, u"IDS_LOSE_EXEFILE"},
      // The programs' paths are fixed here.
      {&DialogTexts::noOpenFile, u"IDS_NO_OPEN_FILE"},
      {&DialogTexts::checkFolder, u"IDS_CHECK_FOLDER"},
      {&DialogTexts::saveQcpFolder, u"IDS_SAVEQCP_FOLDER"},
      {&DialogTexts::someNoQcp, u"IDS_SOME_NOQCP"},
      {&DialogTexts::prompt, u"IDS_PROMPT"},
      {&DialogTexts::noQcpFileOnFolder, u"IDS_NOQCPFILE_ONFOLDER"},
      {&DialogTexts::noQcpFormat, u"IDS_NOQCP_FORMAT"},
      {&DialogTexts::selectFolder, u"IDS_SELECT_FOLDER"},
      // %1 failed, %2 files.
      {&DialogTexts::conversionFailed, u"IDS_CONVER_FAILED"},
      // %1 the output folder.
      {&DialogTexts::outputNotWritable, u"IDS_OUTPUT_NOT_WRITABLE"},
      // %1 the file's number, %2 the number of files, %3 the file's name.
      {&DialogTexts::conversionProgress, u"IDS_CONVER_PROGRESS"},
      // %1 the number of WAV files the cancelled run made and kept.
      {&DialogTexts::cancelledKept, u"IDS_CONVER_CANCLEED_KEPT"},
      {&DialogTexts::endReport, u"IDS_END_REPORT"},
      // %1 the number of files beyond those listed.
      {&DialogTexts::reportMore, u"IDS_REPORT_MORE"},
      {&DialogTexts::reportCutShort, u"IDS_REPORT_CUT_SHORT"},
      {&DialogTexts::reportSkipped, u"IDS_REPORT_SKIPPED"},
      // %1 the number of WAV files the run made, %2 their folder.
      {&DialogTexts::madeWavs, u"IDS_MADE_WAVS"},
      {&DialogTexts::openFolder, u"IDS_OPEN_FOLDER"},
  };
  m_lookup = text;
  for (const Entry& entry : kTexts) {
    if (entry.member == &DialogTexts::noOpenFile && between) between();
    this->*entry.member = text(entry.key);
  }
}

std::u16string DialogTexts::Progress(std::size_t number, std::size_t total,
                                     const std::u16string& name) const {
  if (conversionProgress.empty()) {
    return converting + u" (" + Number(number) + u"/" + Number(total) + u")";
  }
  return FormatText(conversionProgress, {Number(number), Number(total), name});
}

std::u16string DialogTexts::Finished(std::size_t failed, std::size_t total) const {
  if (failed == 0) return converted;
  if (conversionFailed.empty()) {
    return converted + u" (" + Number(failed) + u"/" + Number(total) + u")";
  }
  return FormatText(conversionFailed, {Number(failed), Number(total)});
}

std::u16string DialogTexts::CancelledKept(std::size_t kept) const {
  if (cancelledKept.empty()) return cancelled + u" (" + Number(kept) + u" WAV)";
  return FormatText(cancelledKept, {Number(kept)});
}

std::u16string DialogTexts::MadeWavs(std::size_t made, const std::u16string& folder) const {
  return FormatText(madeWavs.empty() ? u"%1 WAV files made in %2" : madeWavs,
                    {Number(made), folder});
}

std::u16string DialogTexts::OpenFolder() const {
  return openFolder.empty() ? u"Open folder" : openFolder;
}

std::u16string DialogTexts::Refused(const Refusal& refusal) const {
  switch (refusal.kind) {
    case Refusal::Kind::kProgramMissing:
      return programMissing;
    case Refusal::Kind::kUnsupportedSampleRate: {
      // %1 the setting.
      const std::u16string text = m_lookup ? m_lookup(u"IDS_BAD_SAMPLE_RATE") : std::u16string();
      return FormatText(text.empty() ? u"The sample rate %1 of the settings file "
                                       u"WavrelPluginSet.xml is not one a WAV file can have "
                                       u"(1000 to 384000 samples per second)."
                                     : text,
                        {Wide(refusal.reason)});
    }
    case Refusal::Kind::kFolderCannotBeOpened:
      // The message names the folder that cannot be opened.
      return checkFolder + u"\n" + Wide(refusal.folder);
    case Refusal::Kind::kOutputNotWritable: {
      const std::u16string folder = Wide(refusal.folder);
      const std::u16string message =
          outputNotWritable.empty()
              ? u"The WAV files cannot be written in the output folder:\n" + folder
          : outputNotWritable.find(u"%1") == std::u16string::npos
              ? outputNotWritable + u"\n" + folder
              : FormatText(outputNotWritable, {folder});
      return message + u"\n(" + Wide(refusal.reason) + u")";
    }
    case Refusal::Kind::kNoFiles:
      return noQcpFileOnFolder;
    case Refusal::Kind::kNoRecordings:
      return noQcpFormat;
    case Refusal::Kind::kDeclined:
      break;
  }
  return {};
}

std::u16string DialogTexts::CannotCreateWav(const std::string& wavPath) const {
  return noOpenFile + Wide(wavPath);
}

std::u16string DialogTexts::EndReport(const std::vector<FileOutcome>& outcomes,
                                      const std::vector<SkippedFile>& skipped,
                                      const std::string& inputFolder) const {
  std::vector<std::u16string> lines;
  const auto name = [&](const std::string& path) { return Wide(RelativeName(inputFolder, path)); };
  for (const FileOutcome& outcome : outcomes) {
    if (outcome.skipped) continue;
    if (!outcome.success) {
      lines.push_back(name(outcome.path) + u": " + Wide(outcome.reason));
    } else if (outcome.cutShort) {
      lines.push_back(name(outcome.path) + u": " +
                      (reportCutShort.empty()
                           ? u"cut short: the recording ends before its header says"
                           : reportCutShort));
    }
  }
  for (const SkippedFile& file : skipped) {
    // The usual reason in the user's language; a rarer one as the scan gave it.
    std::u16string text = Wide(file.reason) + u", skipped";
    if (file.reason == "not a QCP recording") {
      text = reportSkipped.empty() ? u"not a QCP recording, skipped" : reportSkipped;
    }
    lines.push_back(name(file.path) + u": " + text);
  }
  if (lines.empty()) return {};
  std::u16string text = endReport.empty() ? u"These files need your attention:" : endReport;
  for (std::size_t i = 0; i < lines.size() && i < kReportLines; ++i) text += u"\n" + lines[i];
  if (lines.size() > kReportLines) {
    text += u"\n" + FormatText(reportMore.empty() ? u"and %1 more" : reportMore,
                               {Number(lines.size() - kReportLines)});
  }
  return text;
}

}  // namespace wavrel
