// The one byte order rule between a packet's data bytes and the words of a
// raw EVRC record: data byte 2k is the high byte of word k+1 and byte 2k+1
// its low byte; with an odd count the last byte is the high byte of its word
// and the low byte stays as it is. Sizes are template arguments so that each
// rate's copy is unrolled: the converters spend most of their time here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace vocrate {

/// Swaps the two bytes of every 16-bit pair of the first N bytes (N even).
template <std::size_t N>
inline void SwapPairs(const std::uint8_t* from, std::uint8_t* to) {
  static_assert(N % 2 == 0);
  constexpr std::uint64_t kLowBytes = 0x00FF00FF00FF00FFull;
  std::size_t k = 0;
#pragma GCC unroll 4
  for (; k + 8 <= N; k += 8) {
    std::uint64_t x;
    std::memcpy(&x, from + k, 8);
    x = ((x & kLowBytes) << 8) | ((x >> 8) & kLowBytes);
    std::memcpy(to + k, &x, 8);
  }
#pragma GCC unroll 4
  for (; k < N; k += 2) {
    to[k] = from[k + 1];
    to[k + 1] = from[k];
  }
}

/// `words` points at word 1 of a little-endian record.
template <std::size_t N>
inline void PacketToWords(const std::uint8_t* data, std::uint8_t* words) {
  SwapPairs<N - N % 2>(data, words);
  if constexpr (N % 2 == 1) words[N] = data[N - 1];
}

template <std::size_t N>
inline void WordsToPacket(const std::uint8_t* words, std::uint8_t* data) {
  SwapPairs<N - N % 2>(words, data);
  if constexpr (N % 2 == 1) data[N - 1] = words[N];
}

}  // namespace vocrate
