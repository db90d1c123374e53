// Little-endian readers over bytes held in a string or a byte vector, and
// writers into a byte buffer. The caller checks that at + 2 (or at + 4)
// bytes are there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace wavrel {

inline std::uint16_t Le16(std::span<const std::uint8_t> bytes, std::size_t at) {
  return static_cast<std::uint16_t>(bytes[at] | bytes[at + 1] << 8);
}

inline std::uint32_t Le32(std::span<const std::uint8_t> bytes, std::size_t at) {
  return static_cast<std::uint32_t>(bytes[at]) | static_cast<std::uint32_t>(bytes[at + 1]) << 8 |
         static_cast<std::uint32_t>(bytes[at + 2]) << 16 |
         static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

inline std::uint16_t Le16(std::string_view bytes, std::size_t at) {
  return Le16({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()}, at);
}

inline std::uint32_t Le32(std::string_view bytes, std::size_t at) {
  return Le32({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()}, at);
}

inline void PutLe16(std::uint8_t* at, std::uint16_t value) {
  at[0] = static_cast<std::uint8_t>(value);
  at[1] = static_cast<std::uint8_t>(value >> 8);
}

inline void PutLe32(std::uint8_t* at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

}  // namespace wavrel
