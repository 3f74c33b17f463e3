// Kernels of the ASCII fast path of the locale conversions. When the server
// code set is ASCII-transparent (ascii_transparent() in locale_conv.h) and
// a string holds nothing but ASCII, converting it is copying: the iconv
// route would write the very same units. The passes test both conditions
// and otherwise take the iconv route, which stays the reference.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "charset/locale_conv.h"
#include "common/wide.h"
#include "dpxut.h"

namespace dpxut::charset {

// The switch of set_ascii_fast_path, for the passes to test inline (each
// conversion does): fast_paths_enabled() reads the same flag.
extern std::atomic<bool> g_fast_paths;
inline bool fast_paths_on() noexcept { return g_fast_paths.load(std::memory_order_relaxed); }

// Length of the byte string s; *ascii tells whether every byte before the
// NUL is below 0x80, and *bracket (when asked) whether one of them is "[".
// The bytes are taken a word at a time, the last word overlapping the one
// before it, so nothing outside the string is read and no byte is left to
// a loop of its own.
inline size_t scan_bytes(const char* s, bool* ascii, bool* bracket = nullptr) noexcept {
  constexpr uint64_t kOnes = 0x0101010101010101ull, kHigh = 0x8080808080808080ull;
  const size_t len = std::strlen(s);
  uint64_t high = 0, open = 0;
  const auto take = [&](uint64_t w) {
    high |= w;
    const uint64_t x = w ^ (kOnes * '[');
    open |= (x - kOnes) & ~x & kHigh;  // non-zero when a byte of x is zero
  };
  if (len >= 8) {
    uint64_t w;
    for (size_t i = 0; i + 8 < len; i += 8) {
      std::memcpy(&w, s + i, 8);
      take(w);
    }
    std::memcpy(&w, s + len - 8, 8);
    take(w);
  } else if (len >= 4) {
    uint32_t a, b;
    std::memcpy(&a, s, 4);
    std::memcpy(&b, s + len - 4, 4);
    take(uint64_t{a} << 32 | b);
  } else {
    // At most three bytes, padded with 0x01 (ASCII, no "[") to a word.
    uint64_t w = kOnes;
    std::memcpy(&w, s, len);
    take(w);
  }
  *ascii = (high & kHigh) == 0;
  if (bracket != nullptr) *bracket = open != 0;
  return len;
}

// Number of wide characters before the terminator of the wide string at
// uni (any address); *ascii tells whether all of them are below 0x80.
inline size_t scan_wide(const void* uni, bool* ascii) noexcept {
  const size_t n = wide::length(uni);
  const auto* p = static_cast<const unsigned char*>(uni);
  uint64_t high = 0;
  size_t i = 0;
  for (; i + 2 <= n; i += 2) {
    uint64_t w;
    std::memcpy(&w, p + 4 * i, 8);
    high |= w;
  }
  if (i < n) high |= static_cast<uint32_t>(wide::load(uni, i));
  *ascii = (high & 0xFFFFFF80FFFFFF80ull) == 0;
  return n;
}

// ASCII bytes to wide characters, and back: `count` units each.
inline void widen_ascii(void* uni, const char* s, size_t count) noexcept {
  for (size_t i = 0; i < count; ++i) {
    wide::store(uni, i, static_cast<wchar_t>(static_cast<unsigned char>(s[i])));
  }
}
inline void narrow_ascii(char* s, const void* uni, size_t count) noexcept {
  for (size_t i = 0; i < count; ++i) s[i] = static_cast<char>(wide::load(uni, i));
}

// The fast path's filling pass over `len` units of text: copy(n) copies the
// first n units (the terminator is unit len). iconv would write as many
// whole characters as fit, so a destination too small gets exactly those.
template <class Copy>
PassResult fill_ascii(size_t len, size_t capacity, Copy copy) noexcept {
  if (capacity <= len) {
    copy(capacity);
    return {HVDPUT_OVERFLOW, 0};
  }
  copy(len + 1);
  return {HVDPUT_SUCCESS, capacity};
}

}  // namespace dpxut::charset
