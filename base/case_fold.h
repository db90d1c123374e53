// Names compared as a file system that ignores case compares them. FAT,
// exFAT, CIFS shares and casefolded ext4 folders take "Rec.wav" and
// "rec.wav" as one name; a name plan for such a folder compares the folded
// names.
#pragma once

#include <string>
#include <string_view>

namespace wavrel::base {

/// The simple Unicode case folding of one code point (ASCII included: 'A'
/// to 'a', 'Ä' to 'ä', 'Σ' and 'ς' to 'σ', the Kelvin sign to 'k').
char32_t FoldCase(char32_t codePoint);

/// name with every valid UTF-8 sequence case-folded (FoldCase); bytes that
/// are not valid UTF-8 stay as they are. Two names that fold to the same
/// string are one name on a case-insensitive folder.
///
/// Limits: one code point maps to one (no full folding: "ß" stays apart from
/// "ss", as FAT and exFAT keep them), and no normalisation ("é" precomposed
/// and "e" + U+0301 stay apart, though casefolded ext4 joins them). A file
/// system that folds less (vfat folds ASCII only in its utf8 mode) joins
/// fewer names than this does, which only costs a name a numbered suffix it
/// did not need.
std::string FoldNameCase(std::string_view name);

}  // namespace wavrel::base
