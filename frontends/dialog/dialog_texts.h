// The conversion dialog's texts, looked up by key from the host, and the
// status lines and messages made of them. The console shows the same
// messages, so it uses them too. Texts the host has none for are empty;
// those added to the original set have an English fallback.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "core/batch_conversion.h"

namespace wavrel {

struct DialogTexts {
  // In the order of their lookup at start-up.
  std::u16string title, promptInfo, contentInfo, resourcePath, targetName, convert, cancel,
      messageNoEmpty, converting, converted, cancelling, cancelled, quitMessage, programMissing,
      noOpenFile, checkFolder, saveQcpFolder, someNoQcp, prompt, noQcpFileOnFolder, noQcpFormat,
      selectFolder,
      // Added with the failure count, the run's progress and its report.
      conversionFailed, outputNotWritable, conversionProgress, cancelledKept, endReport, reportMore,
      reportCutShort, reportSkipped,
      // Added with the end of a run's offer to open the output folder.
      madeWavs, openFolder;

  using Lookup = std::function<std::u16string(const char16_t* key)>;
  /// Looks every text up by its key, in the order above; between (may be
  /// empty) is called after IDS_LOSE_EXEFILE, where the dialog fixes the
  /// programs' paths before it goes on. Texts of rare messages are looked up
  /// through text when they are needed; it must outlive this object's use.
  void Load(const Lookup& text, const std::function<void()>& between = {});

  /// The status while a file converts: IDS_CONVER_PROGRESS with the file's
  /// number, the number of files and its name, or the converting text
  /// followed by " (n/N)" when the host has no text for it.
  std::u16string Progress(std::size_t number, std::size_t total, const std::u16string& name) const;
  /// The status at the end of a run: IDS_CONVERED, or with failures
  /// IDS_CONVER_FAILED (%1 failed, %2 files), or IDS_CONVERED " (f/N)".
  std::u16string Finished(std::size_t failed, std::size_t total) const;
  /// The status after a cancel: how many WAV files the run made and kept.
  std::u16string CancelledKept(std::size_t kept) const;
  /// The end of a run's offer: IDS_MADE_WAVS with the number of WAV files
  /// the run made and the folder they are in.
  std::u16string MadeWavs(std::size_t made, const std::u16string& folder) const;
  /// The offer's caption: IDS_OPEN_FOLDER.
  std::u16string OpenFolder() const;
  /// The message of a check that refused the run; empty for kDeclined.
  std::u16string Refused(const Refusal& refusal) const;
  /// The message when a WAV file cannot be made.
  std::u16string CannotCreateWav(const std::string& wavPath) const;
  /// The report at the end of a run: each failed, cut-short or skipped file
  /// (by its path below inputFolder) with its reason, the first 20 of them
  /// and a count of the rest; empty when there is nothing to report.
  std::u16string EndReport(const std::vector<FileOutcome>& outcomes,
                           const std::vector<SkippedFile>& skipped,
                           const std::string& inputFolder) const;

 private:
  Lookup m_lookup;
};

}  // namespace wavrel
