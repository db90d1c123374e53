#include "outside/console/console_window.h"

#include <algorithm>
#include <cerrno>
#include <nlohmann/json.hpp>
#include <string_view>

#include "base/unicode.h"
#include "outside/console/console_args.h"
#include "outside/host/utf.h"

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
  return {{"input", JsonName(input)}, {"wav", JsonName(wav)}, {"status", status},
          {"reason", reason},         {"frames", 0},          {"lost", 0},
          {"seconds", 0.0},           {"cut_short", false}};
}

std::string BaseName(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

ConsoleWindow::ConsoleWindow(std::u16string inputFolder, std::u16string outputFolder,
                             std::FILE* out, std::FILE* err)
    : m_inputFolder(std::move(inputFolder)),
      m_outputFolder(std::move(outputFolder)),
      m_out(out),
      m_err(err) {}

void ConsoleWindow::Print(std::FILE* stream, const std::string& line) {
  // Called with m_mutex held. The progress line steps aside for the line.
  ReleaseHeldStatus();
  if (m_progress) m_progress->Erase();
  const bool written = std::fwrite(line.data(), 1, line.size(), stream) == line.size();
  if ((std::fflush(stream) != 0 || !written) && stream == m_out && m_reportWriteError == 0) {
    m_reportWriteError = errno != 0 ? errno : EIO;
  }
  if (m_progress) m_progress->Redraw();
}

void ConsoleWindow::ReleaseHeldStatus() {
  if (!m_heldStatus) return;
  const std::string line = "wavrel: " + Utf16ToUtf8(*m_heldStatus) + "\n";
  m_heldStatus.reset();
  Print(m_err, line);
}

void ConsoleWindow::ShowProgress(std::size_t columns) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_progress.emplace(m_err, true, columns);
}

void ConsoleWindow::TickProgress() {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_progress) m_progress->Tick();
}

void ConsoleWindow::HideProgress() {
  std::lock_guard<std::mutex> lock(m_mutex);
  ReleaseHeldStatus();
  if (m_progress) m_progress->Erase();
}

void ConsoleWindow::EndProgress() {
  std::lock_guard<std::mutex> lock(m_mutex);
  ReleaseHeldStatus();
  if (m_progress) m_progress->Erase();
  m_progress.reset();
}

void ConsoleWindow::SetTitle(const std::u16string& /*title*/) {}

void ConsoleWindow::SetControlText(int id, const std::u16string& text) {
  std::lock_guard<std::mutex> lock(m_mutex);
  auto [it, inserted] = m_texts.try_emplace(id, text);
  const bool changed = inserted || it->second != text;
  it->second = text;
  if (id != kIdStatus || !changed || !m_echoStatus || text.empty()) return;
  if (m_progress) {
    ReleaseHeldStatus();
    m_heldStatus = text;
    m_heldStatusThread = std::this_thread::get_id();
    return;
  }
  Print(m_err, "wavrel: " + Utf16ToUtf8(text) + "\n");
}

std::u16string ConsoleWindow::GetControlText(int id) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  const auto it = m_texts.find(id);
  return it == m_texts.end() ? std::u16string() : it->second;
}

void ConsoleWindow::EnableControl(int id, bool enable) {
  if (id == kIdCancelConversion && enable && !m_started.exchange(true) && m_startingHook)
    m_startingHook();
}

void ConsoleWindow::ShowControl(int /*id*/, bool /*show*/) {}

std::optional<std::u16string> ConsoleWindow::PickFolder(FolderPickerKind kind,
                                                        const std::u16string& /*title*/) {
  return kind == FolderPickerKind::kInput ? m_inputFolder : m_outputFolder;
}

RunTally ConsoleWindow::Tally() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_tally;
}

void ConsoleWindow::OnFileSkipped(const std::string& path, const std::string& reason) {
  std::lock_guard<std::mutex> lock(m_mutex);
  ++m_tally.filesNotQcp;
  if (m_json) {
    Print(m_out, JsonLine(RecordingObject(path, "", "skipped", reason)));
    return;
  }
  Print(m_out, "skipped " + EscapeForLine(BaseName(path)) + ": " + EscapeForLine(reason) + "\n");
}

void ConsoleWindow::OnFileStarted(const std::string& path, std::size_t index, std::size_t count) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_heldStatus && m_heldStatusThread == std::this_thread::get_id()) m_heldStatus.reset();
  ++m_tally.filesStarted;
  m_tally.listed = count;
  if (m_progress) m_progress->FileStarted(BaseName(path), index, count);
}

void ConsoleWindow::OnFileFinished(const FileOutcome& outcome) {
  std::lock_guard<std::mutex> lock(m_mutex);
  const std::string name = EscapeForLine(BaseName(outcome.path));
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

void ConsoleWindow::OnRunFinished(std::size_t files, std::size_t /*failed*/, bool cancelled) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_tally.finished = true;
  m_tally.cancelled = cancelled;
  if (!cancelled) m_tally.listed = files;
}

std::string ConsoleWindow::SummaryLine() const {
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
