#include "frontends/console/console_report.h"

#include <algorithm>
#include <cerrno>
#include <nlohmann/json.hpp>
#include <string_view>

#include "base/unicode.h"
#include "core/batch_conversion.h"
#include "frontends/console/console_args.h"
#include "frontends/dialog/dialog_environment.h"

namespace wavrel::host {

namespace {

/// A name's bytes as a JSON string: valid UTF-8 as it is, each other byte as
/// the code point U+DC00 + byte (written \udcXX), as Python's
/// "surrogateescape" reads it back.
std::string JsonName(const std::string& bytes) {
  // The JSON writer takes only valid UTF-8: an invalid byte b is carried as
  // U+10FF00 + b (a private-use code point, escaped as the pair
  // \udbff\udfXX) and its escape rewritten to \udcXX after the dump.
  std::string text;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const auto byte = static_cast<unsigned char>(bytes[i]);
    if (byte < 0x80) {
      text.push_back(bytes[i]);
      continue;
    }
    const base::Utf8Sequence sequence = base::DecodeUtf8At(bytes, i);
    if (sequence.valid) {
      text.append(bytes, i, sequence.length);
      i += sequence.length - 1;
    } else {
      text += "\xF4\x8F";
      text.push_back(static_cast<char>(byte < 0xC0 ? 0xBE : 0xBF));
      text.push_back(static_cast<char>(0x80 | (byte & 0x3F)));
    }
  }
  return text;
}

std::string JsonLine(const nlohmann::ordered_json& object) {
  std::string line = object.dump(-1, ' ', true);
  for (std::size_t at = line.find("\\udbff\\udf"); at != std::string::npos;
       at = line.find("\\udbff\\udf", at)) {
    line.replace(at, 10, "\\udc");
  }
  return line + "\n";
}

nlohmann::ordered_json RecordingObject(const std::string& input, const std::string& wav,
                                       const char* status, const std::string& reason) {
  // seconds: the time the conversion took; duration: the recording's length.
  return {{"input", JsonName(input)}, {"wav", JsonName(wav)}, {"status", status},
          {"reason", reason},         {"frames", 0},          {"lost", 0},
          {"seconds", 0.0},           {"cut_short", false},   {"codec", ""},
          {"duration", 0.0}};
}

}  // namespace

ConsoleReport::ConsoleReport(std::FILE* out, std::FILE* err, const DialogTexts& texts,
                             ShowBox showBox, bool yes, std::string inputFolder)
    : m_out(out),
      m_err(err),
      m_texts(texts),
      m_showBox(std::move(showBox)),
      m_yes(yes),
      m_inputFolder(std::move(inputFolder)) {}

std::string ConsoleReport::Name(const std::string& path) const {
  return RelativeName(m_inputFolder, path);
}

void ConsoleReport::Print(std::FILE* stream, const std::string& line) {
  if (m_progress) m_progress->Erase();
  const bool written = std::fwrite(line.data(), 1, line.size(), stream) == line.size();
  if ((std::fflush(stream) != 0 || !written) && stream == m_out && m_reportWriteError == 0) {
    m_reportWriteError = errno != 0 ? errno : EIO;
  }
  if (m_progress) m_progress->Redraw();
}

void ConsoleReport::PrintStatus(const std::u16string& text) {
  if (!text.empty()) Print(m_err, "wavrel: " + base::Utf16ToUtf8Replacing(text) + "\n");
}

bool ConsoleReport::BoxLocked(const std::u16string& text, std::uint32_t style) {
  // The box is printed on standard error by the message-box library: the
  // progress line steps aside until the next line.
  if (m_progress) m_progress->Erase();
  return m_showBox(text, style);
}

bool ConsoleReport::Box(const std::u16string& text, std::uint32_t style) {
  std::lock_guard<std::mutex> lock(m_mutex);
  return BoxLocked(text, style);
}

void ConsoleReport::ShowProgress(std::size_t columns) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_progress.emplace(m_err, true, columns);
}

void ConsoleReport::TickProgress() {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_progress) m_progress->Tick();
}

void ConsoleReport::EndProgress() {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_progress) m_progress->Erase();
  m_progress.reset();
}

void ConsoleReport::RunStarting() {
  std::lock_guard<std::mutex> lock(m_mutex);
  PrintStatus(m_texts.converting);
}

void ConsoleReport::Cancelling() {
  std::lock_guard<std::mutex> lock(m_mutex);
  PrintStatus(m_texts.cancelling);
}

bool ConsoleReport::GoOnWithout(const std::vector<SkippedFile>& /*nonRecordings*/) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (!m_yes) return BoxLocked(m_texts.someNoQcp, wavrel::host::kQuestionStyle);
  // Answered on the command line: the question is shown with its answer.
  BoxLocked(m_texts.someNoQcp, wavrel::host::kReportStyle);
  Print(m_err, "-> OK (--yes)\n");
  return true;
}

void ConsoleReport::OnRunStarted(const RunStart& /*start*/) {}

RunTally ConsoleReport::Tally() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_tally;
}

void ConsoleReport::OnFileSkipped(const SkippedFile& file) {
  std::lock_guard<std::mutex> lock(m_mutex);
  ++m_tally.filesNotQcp;
  m_skipped.push_back(file);
  if (m_json) {
    Print(m_out, JsonLine(RecordingObject(file.path, "", "skipped", file.reason)));
    return;
  }
  Print(m_out,
        "skipped " + EscapeForLine(Name(file.path)) + ": " + EscapeForLine(file.reason) + "\n");
}

void ConsoleReport::OnFileStarted(const std::string& path, std::size_t index, std::size_t count) {
  std::lock_guard<std::mutex> lock(m_mutex);
  ++m_tally.filesStarted;
  m_tally.listed = count;
  if (m_progress) {
    m_progress->FileStarted(Name(path), index, count);
  } else {
    // Without a progress line, the status naming each file is the only sign of progress.
    PrintStatus(m_texts.Progress(index + 1, count, base::Utf8ToUtf16Replacing(Name(path))));
  }
}

void ConsoleReport::OnFileFinished(const FileOutcome& outcome) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (outcome.wavResult == WavWriteResult::kCannotCreate && !m_failureBoxShown) {
    // One box per run: later failures are listed in the end report.
    m_failureBoxShown = true;
    BoxLocked(m_texts.CannotCreateWav(outcome.plannedWavPath), wavrel::host::kReportStyle);
  }
  if (!outcome.skipped) m_outcomes.push_back(outcome);
  const std::string name = EscapeForLine(Name(outcome.path));
  if (outcome.skipped) {
    ++m_tally.filesUpToDate;
    Print(m_out, m_json ? JsonLine(RecordingObject(outcome.path, outcome.wavPath, "skipped",
                                                   "WAV already complete"))
                        : "skipped " + name + ": WAV already complete\n");
    return;
  }
  if (outcome.totalFrames) m_tally.framesTotal += *outcome.totalFrames;
  if (outcome.lostFrames) m_tally.framesLost += *outcome.lostFrames;
  if (m_progress) m_progress->FileFinished(outcome.index);
  if (m_json) {
    (outcome.success ? m_tally.filesOk : m_tally.filesFailed) += 1;
    nlohmann::ordered_json object =
        RecordingObject(outcome.path, outcome.wavPath, outcome.success ? "ok" : "failed",
                        outcome.success ? std::string() : outcome.reason);
    object["frames"] = outcome.totalFrames.value_or(0);
    object["lost"] = outcome.lostFrames.value_or(0);
    object["seconds"] = static_cast<double>(static_cast<long long>(outcome.seconds * 1000)) / 1000;
    object["cut_short"] = outcome.cutShort;
    object["codec"] = outcome.codec;
    // Every frame is 160 samples at 8000 Hz, whatever the codec: 20 ms.
    object["duration"] = static_cast<double>(outcome.totalFrames.value_or(0)) / 50;
    if (!outcome.success && outcome.reason.empty()) object["reason"] = "no WAV file written";
    Print(m_out, JsonLine(object));
    return;
  }
  if (outcome.success) {
    ++m_tally.filesOk;
    std::string line = "ok  " + name + " -> " + EscapeForLine(outcome.wavPath);
    std::string details;
    if (outcome.totalFrames && outcome.lostFrames) {
      details = std::to_string(*outcome.totalFrames) + " frames, " +
                std::to_string(*outcome.lostFrames) + " lost";
    }
    if (outcome.cutShort) details += details.empty() ? "cut short" : ", cut short";
    if (!details.empty()) line += " (" + details + ")";
    Print(m_out, line + "\n");
  } else {
    ++m_tally.filesFailed;
    const std::string reason = outcome.reason.empty() ? "no WAV file written" : outcome.reason;
    Print(m_out, "FAILED " + name + ": " + EscapeForLine(reason) + "\n");
  }
}

void ConsoleReport::OnRunFinished(const RunSummary& summary) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_tally.finished = true;
  m_tally.cancelled = summary.cancelled;
  if (summary.cancelled) {
    PrintStatus(m_texts.CancelledKept(summary.wavsWritten));
    return;
  }
  m_tally.listed = summary.files;
  PrintStatus(m_texts.Finished(summary.failed, summary.files));
  // Every file has its line on standard output; the report sums up what
  // needs the user's attention, as the dialog's does.
  const std::u16string report = m_texts.EndReport(m_outcomes, m_skipped, m_inputFolder);
  if (!report.empty()) BoxLocked(report, wavrel::host::kReportStyle);
}

std::string ConsoleReport::SummaryLine() const {
  const RunTally tally = Tally();
  if (m_json) {
    const std::size_t converted = std::max(tally.listed, tally.filesOk + tally.filesFailed);
    nlohmann::ordered_json summary = {
        {"summary", true},
        {"files", converted + tally.filesUpToDate + tally.filesNotQcp},
        {"ok", tally.filesOk},
        {"failed", tally.filesFailed},
        {"skipped", tally.filesUpToDate + tally.filesNotQcp},
        {"cancelled", tally.cancelled || !tally.finished},
    };
    if (!m_shard.empty()) summary["shard"] = m_shard;
    return JsonLine(summary);
  }
  std::string line = tally.cancelled || !tally.finished ? "cancelled: " : "done: ";
  line += std::to_string(tally.filesOk) + " converted, " + std::to_string(tally.filesFailed) +
          " failed";
  if (tally.filesUpToDate > 0) {
    line += ", " + std::to_string(tally.filesUpToDate) + " skipped (already complete)";
  }
  if (tally.listed > tally.filesOk + tally.filesFailed) {
    line +=
        ", " + std::to_string(tally.listed - tally.filesOk - tally.filesFailed) + " not converted";
  }
  if (tally.framesTotal > 0) {
    line += "; " + std::to_string(tally.framesLost) + " of " + std::to_string(tally.framesTotal) +
            " frames lost";
  }
  return line + "\n";
}

}  // namespace wavrel::host
