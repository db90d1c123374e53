// The vocrate command line: "vocrate sourcefile destfile option". Converts a
// raw EVRC packet file into a QCP file (option 0) or back (any other option),
// appending a lost-frame record to loss_stat.txt in the working directory.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string_view>

namespace vocrate {

/// The option as atoi reads it: leading white space, an optional sign, then
/// decimal digits up to the first other character; no number gives 0, and a
/// value beyond the int range is clamped to INT_MAX or INT_MIN.
int ParseOption(std::string_view text);

/// Only the low 8 bits of the option choose the direction: 0 is EVRC to QCP.
inline bool IsEvrcToQcp(int option) { return static_cast<std::uint8_t>(option) == 0; }

/// The two Chinese console texts, in the console's character set.
struct ConsoleTexts {
  std::string_view press_any_key;  ///< the usage text's last line
  std::string_view success;        ///< the last text of a successful run
};
/// GBK bytes (code page 936), or UTF-8 when `codeset` (nl_langinfo(CODESET))
/// names UTF-8.
ConsoleTexts ConsoleTextsFor(std::string_view codeset);
/// For the user's locale (LC_ALL / LC_CTYPE / LANG). Leaves the C locale in
/// force, so numbers in loss_stat.txt keep their decimal point.
ConsoleTexts ConsoleTextsForUserLocale();

/// One run over argv (argv[0] the program). Console text goes to `out`, the
/// wait after the usage text reads `in`. Returns the exit status: 0 when the
/// conversion was carried out; -1 after the usage text (wrong argument count)
/// or one error line: "SOURCE FILE CAN'T OPEN!" (missing, or not a regular
/// file), "DEST FILE IS THE SOURCE FILE!", "SOURCE FILE IS NOT EVRC SPEECH
/// (codec)!" (QCP to EVRC only: a QCP file of another codec, see
/// IsOtherCodec), "DEST FILE CAN'T OPEN!", "LOSS_STAT FILE CAN'T OPEN!" (all
/// before anything is written: the destination stays as it was, and is not
/// left behind when the run made it), and after a conversion "DEST FILE
/// CAN'T WRITE!" or "SOURCE FILE CAN'T READ!" (the loss record is complete,
/// the output stays as far as it got).
int Run(int argc, const char* const* argv, const ConsoleTexts& texts, std::FILE* out,
        std::FILE* in);

}  // namespace vocrate
