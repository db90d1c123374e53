#include "programs/vocrate/vocrate_run.h"

#include <cerrno>
#include <cstring>
#include <string>

#include "base/decimal.h"
#include "formats/evrc_to_qcp.h"
#include "formats/loss_stat.h"
#include "formats/posix_file.h"
#include "formats/qcp_to_evrc.h"

namespace vocrate {
namespace {

constexpr char kLossStatPath[] = "loss_stat.txt";

// "Press any key to leave the program..." and "EVRC file converted
// successfully!", as GBK and as UTF-8 bytes.
constexpr std::string_view kPressAnyKeyGbk =
    "\xC7\xEB\xB0\xB4\xC8\xCE\xD2\xE2\xBC\xFC\xCD\xCB\xB3\xF6\xB3\xCC\xD0\xF2\xA1\xA3\xA1\xA3\xA1"
    "\xA3";
constexpr std::string_view kSuccessGbk =
    "EVRC\xB8\xF1\xCA\xBD\xCE\xC4\xBC\xFE\xD7\xAA\xBB\xBB\xB3\xC9\xB9\xA6\xA3\xA1";
constexpr std::string_view kPressAnyKeyUtf8 = "请按任意键退出程序。。。";
constexpr std::string_view kSuccessUtf8 = "EVRC格式文件转换成功！";

bool IsUtf8(std::string_view codeset) {
  std::string name;
  for (char c : codeset) {
    if (c != '-' && c != '_')
      name += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return name == "utf8";
}

// Opens path for writing without changing it: an existing file as it is, a
// missing one created empty (*created). Null when it cannot be written.
std::FILE* OpenUnchanged(const char* path, bool* created) {
  errno = 0;
  if (std::FILE* file = std::fopen(path, "r+b")) return file;
  if (errno == ENOENT) {
    if (std::FILE* file = std::fopen(path, "wbx")) {
      *created = true;
      return file;
    }
  }
  return std::fopen(path, "ab");  // a file that may be written but not read
}

void Print(std::FILE* out, std::string_view text) { std::fwrite(text.data(), 1, text.size(), out); }

void PrintUsage(std::FILE* out, const ConsoleTexts& texts) {
  Print(out, "\nUSAGE: vocrate.exe sourcefile destfile option\n");
  Print(out, "       sourcefile is the INPUT FILE\n");
  Print(out, "       destfile   is the OUTPUT FILE( EVRC FORMAT )\n\n");
  Print(out, " option = 0 or 1; '0':evrc->qcp; '1':qcp->evrc");
  Print(out, texts.press_any_key);
}

}  // namespace

int ParseOption(std::string_view text) { return wavrel::base::ParseAtoi(text); }

ConsoleTexts ConsoleTextsFor(std::string_view codeset) {
  if (IsUtf8(codeset)) return {kPressAnyKeyUtf8, kSuccessUtf8};
  return {kPressAnyKeyGbk, kSuccessGbk};
}

ConsoleTexts ConsoleTextsForUserLocale() { return ConsoleTextsFor(UserLocaleCodeset()); }

int Run(int argc, const char* const* argv, const ConsoleTexts& texts, std::FILE* out,
        std::FILE* in) {
  if (argc != 4) {
    PrintUsage(out, texts);
    std::fflush(out);
    std::getc(in);  // returns at once when the input is at its end
    return -1;
  }
  const char* source_path = argv[1];
  const char* dest_path = argv[2];
  const bool to_qcp = IsEvrcToQcp(ParseOption(argv[3]));

  // Only a regular file will do: a folder or a device would open but could
  // not be read as a file of packets (a folder fails every read, a device
  // may never end, and opening a pipe waits for a writer).
  FileIdentity source_id;
  std::FILE* source = OpenRegularFile(source_path, &source_id);
  if (source == nullptr) {
    Print(out, "SOURCE FILE CAN'T OPEN!\n");
    return -1;
  }
  // Opening the destination truncates it: never when it is the source itself.
  if (IsSameFile(dest_path, source_id)) {
    std::fclose(source);
    Print(out, "DEST FILE IS THE SOURCE FILE!\n");
    return -1;
  }
  // Speech of another codec would come out as noise with most frames "lost".
  std::string codec;
  if (!to_qcp && IsOtherCodec(source, &codec)) {
    std::fclose(source);
    std::fprintf(out, "SOURCE FILE IS NOT EVRC SPEECH (%s)!\n", codec.c_str());
    return -1;
  }
  // The destination is emptied only once every file is open, so a run that
  // fails before converting leaves it as it was (or not there at all).
  bool created = false;
  std::FILE* dest = OpenUnchanged(dest_path, &created);
  if (dest == nullptr) {
    std::fclose(source);
    Print(out, "DEST FILE CAN'T OPEN!\n");
    return -1;
  }
  // Binary append: the record's CR LF line ends are written as they are.
  std::FILE* loss_file = std::fopen(kLossStatPath, "ab+");
  if (loss_file == nullptr) {
    std::fclose(dest);
    if (created) std::remove(dest_path);
    std::fclose(source);
    Print(out, "LOSS_STAT FILE CAN'T OPEN!\n");
    return -1;
  }
  dest = std::freopen(dest_path, "wb", dest);
  if (dest == nullptr) {
    std::fclose(loss_file);
    std::fclose(source);
    Print(out, "DEST FILE CAN'T OPEN!\n");
    return -1;
  }

  ConversionResult result;
  {
    LossStatFile loss(loss_file);
    loss.Header(source_path);
    if (to_qcp) {
      result = ConvertEvrcToQcp(source, dest, loss);
    } else {
      result = ConvertQcpToEvrc(source, dest, loss, [out](long position) {
        std::fprintf(out, "%d\n", static_cast<int>(position));
      });
    }
  }
  std::fclose(loss_file);

  const bool closed_ok = std::fclose(dest) == 0;
  std::fclose(source);
  if (result.write_failed || !closed_ok) {
    Print(out, "DEST FILE CAN'T WRITE!\n");
    return -1;
  }
  if (result.read_failed) {
    Print(out, "SOURCE FILE CAN'T READ!\n");
    return -1;
  }
  std::fprintf(out,
               to_qcp ? " INPUT FILE: %s \n OUTPUT FILE: %s \n FORMAT: EVRC - > QCP"
                      : " INPUT FILE: %s \n OUTPUT FILE: %s \n FORMAT: QCP - > EVRC ",
               source_path, dest_path);
  Print(out, texts.success);
  std::fflush(out);
  return 0;
}

}  // namespace vocrate
