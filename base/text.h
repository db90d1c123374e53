// Small text helpers shared by the front ends: the one "%1" substitution of
// the host's texts, and the last component of a path.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace wavrel::base {

/// pattern with each %1 ... %9 replaced by the argument of that number, in
/// one pass, so that an argument's own "%1" (a file name may hold one) stays
/// as it is. A number without an argument, and any other %, stay as written.
std::u16string FormatText(std::u16string_view pattern,
                          std::initializer_list<std::u16string_view> args);

/// The last component of a path: what follows its last '/' (all of it when
/// there is none).
std::string_view BaseName(std::string_view path);

}  // namespace wavrel::base
