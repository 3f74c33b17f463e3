// Byte strings taken a 64-bit word at a time, for tests that or together
// what they find (no byte above 0x7F, no byte equal to some value).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace dpxut {

inline constexpr uint64_t kByteOnes = 0x0101010101010101ull, kByteHighs = 0x8080808080808080ull;

// Non-zero when a byte of w is zero (the high bit of each such byte set).
inline constexpr uint64_t zero_byte_bits(uint64_t w) noexcept { return (w - kByteOnes) & ~w & kByteHighs; }

// Calls take(w) on the n bytes at s as words: whole words, the last one
// overlapping the one before it, so that nothing outside the string is
// read and no byte is left to a loop of its own; 4 to 7 bytes as one word
// of two overlapping halves; fewer as one word, `pad` with them over its
// first bytes. A byte may be seen twice, none is left out.
template <class Take>
inline void for_each_word(const void* s, size_t n, uint64_t pad, Take&& take) noexcept {
  const auto* p = static_cast<const unsigned char*>(s);
  uint64_t w;
  if (n >= 8) {
    for (size_t i = 0; i + 8 < n; i += 8) {
      std::memcpy(&w, p + i, 8);
      take(w);
    }
    std::memcpy(&w, p + n - 8, 8);
    take(w);
  } else if (n >= 4) {
    uint32_t a, b;
    std::memcpy(&a, p, 4);
    std::memcpy(&b, p + n - 4, 4);
    take(uint64_t{a} << 32 | b);
  } else {
    w = pad;
    if (n != 0) std::memcpy(&w, p, n);
    take(w);
  }
}

}  // namespace dpxut
