// CWavrelDlg's checks before converting and the scan of the input folder.
// A file is judged by its first bytes alone, whatever its name.
#include <algorithm>

#include "converter/qcp_format.h"
#include "plugin/engine/host_access.h"
#include "plugin/engine/wavrel_dlg.h"

namespace wavrel {
namespace {

/// Bytes read from the start of a file to judge it.
constexpr std::size_t kScanReadBytes = 1024;

template <std::size_t N>
bool BytesAt(const std::vector<unsigned char>& bytes, std::size_t offset,
             const std::array<std::uint8_t, N>& expected) {
  return bytes.size() >= offset + N &&
         std::equal(expected.begin(), expected.end(), bytes.begin() + offset);
}

}  // namespace

bool CWavrelDlg::IsQcpFile(const std::u16string& path) {
  if (path.empty()) return false;
  const std::string narrow = host::Narrow(path);
  std::vector<unsigned char> head;
  if (narrow.empty() || !m_env.Files().ReadFileStart(narrow, kScanReadBytes, &head)) return false;
  return head.size() >= qcp::kIdentifyingBytes && BytesAt(head, qcp::kRiffIdOffset, qcp::kRiffId) &&
         BytesAt(head, qcp::kFormTypeOffset, qcp::kQlcmId) &&
         BytesAt(head, qcp::kCodecGuidOffset, qcp::kEvrcCodecGuid);
}

void CWavrelDlg::ScanInputFolder(const std::u16string& folder) {
  m_fileList.clear();
  m_skippedFiles.clear();
  m_foundNonQcp = false;
  m_scanPrefix.clear();
  const std::string narrow = host::Narrow(folder);
  if (narrow.empty()) return;
  m_scanPrefix = narrow.back() == '/' ? narrow : narrow + "/";
  // Folders still to list (with recursive runs, the subfolders found).
  std::vector<std::string> pending = {m_scanPrefix};
  while (!pending.empty()) {
    const std::string prefix = pending.back();
    pending.pop_back();
    std::vector<std::string> names;
    if (!m_env.Files().ListDirectory(prefix == m_scanPrefix ? narrow : prefix, &names)) continue;
    for (const std::string& name : names) {
      if (name.empty()) continue;
      const std::string full = prefix + name;
      if (m_env.Files().IsDirectory(full)) {
        // Subfolders are entered only in a recursive run, and never through
        // a symbolic link (no loops); otherwise neither entered nor counted.
        if (m_options.recursive && !m_env.Files().IsLink(full)) {
          pending.push_back(full + "/");
        }
        continue;
      }
      if (IsQcpFile(host::Wide(full))) {
        m_fileList.push_back(full);
      } else {
        m_foundNonQcp = true;
        // A file that cannot be read is told apart from one read and refused.
        std::vector<unsigned char> none;
        m_skippedFiles.emplace_back(full, m_env.Files().ReadFileStart(full, 0, &none)
                                              ? "not a QCP recording"
                                              : "cannot be read as a file");
      }
    }
  }
}

bool CWavrelDlg::RunChecks() {
  IDialogWindow& window = Window();
  const std::u16string input = window.GetControlText(kIdInputEdit);
  const std::u16string output = window.GetControlText(kIdOutputEdit);
  if (input.empty() || output.empty()) {
    MessageBox(m_textMessageNoEmpty, host::kReportStyle);
    return false;
  }
  if (!m_env.ProgramExists(host::Narrow(m_converterPath)) ||
      !m_env.ProgramExists(host::Narrow(m_decoderPath))) {
    MessageBox(m_textProgramMissing, host::kReportStyle);
    return false;
  }
  // The output field ends in the '/' that browsing appends.
  std::u16string outputFolder = output;
  if (outputFolder.size() > 1 && outputFolder.back() == u'/') outputFolder.pop_back();
  // The message names the folder that cannot be opened.
  for (const std::u16string* folder : {&input, static_cast<const std::u16string*>(&outputFolder)}) {
    if (!m_env.Files().CanOpenDirectory(host::Narrow(*folder))) {
      MessageBox(m_textCheckFolder + u"\n" + *folder, host::kReportStyle);
      return false;
    }
  }
  // A folder that cannot take the WAV files is refused now, not once per file.
  std::string whyNot;
  if (!m_env.Files().CanCreateFileIn(host::Narrow(outputFolder), &whyNot)) {
    const std::u16string text = m_textOutputNotWritable.empty()
                                    ? u"The WAV files cannot be written in the output folder:\n%1"
                                    : m_textOutputNotWritable;
    const std::size_t at = text.find(u"%1");
    std::u16string message = at == std::u16string::npos
                                 ? text + u"\n" + outputFolder
                                 : text.substr(0, at) + outputFolder + text.substr(at + 2);
    message += u"\n(" + host::Wide(whyNot) + u")";
    MessageBox(message, host::kReportStyle);
    return false;
  }
  // The input field always holds m_inputFolder (only browsing changes it);
  // the field is what a front end without a picker fills in.
  ScanInputFolder(input);
  if (m_fileList.empty()) {
    MessageBox(m_foundNonQcp ? m_textNoQcpFormat : m_textNoQcpFileOnFolder, host::kReportStyle);
    return false;
  }
  if (m_foundNonQcp) return MessageBox(m_textSomeNoQcp, host::kQuestionStyle);
  return true;
}

}  // namespace wavrel
