// The atoi-style number reading that settings files and command lines rely on.
#pragma once

#include <cstdint>
#include <string_view>

namespace wavrel::base {

/// Decimal value of text read like atoi: leading white space, an optional
/// sign, digits up to the first non-digit; 0 without digits. Values beyond
/// the 32-bit range are clamped instead of overflowing.
std::int32_t ParseAtoi(std::string_view text);

}  // namespace wavrel::base
