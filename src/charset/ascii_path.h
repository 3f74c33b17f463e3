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
#include "common/words.h"
#include "dpxut.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace dpxut::charset {

// The switch of set_ascii_fast_path, for the passes to test inline (each
// conversion does): fast_paths_enabled() reads the same flag.
extern std::atomic<bool> g_fast_paths;
inline bool fast_paths_on() noexcept { return g_fast_paths.load(std::memory_order_relaxed); }

// Whether each of the len bytes at s is below 0x80 (*ascii) and whether
// one of them is "[" (*bracket, when asked). The bytes are taken sixteen
// (or eight) at a time, the last block overlapping the one before it, so
// nothing outside the string is read and no byte is left to a loop of its
// own.
inline void byte_classes(const char* s, size_t len, bool* ascii, bool* bracket = nullptr) noexcept {
#if defined(__SSE2__)
  if (len >= 16) {
    const __m128i open_bracket = _mm_set1_epi8('[');
    __m128i high = _mm_setzero_si128(), open = _mm_setzero_si128();
    const auto take = [&](const char* p) {
      const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      high = _mm_or_si128(high, x);
      open = _mm_or_si128(open, _mm_cmpeq_epi8(x, open_bracket));
    };
    for (size_t i = 0; i + 16 < len; i += 16) take(s + i);
    take(s + len - 16);
    *ascii = _mm_movemask_epi8(high) == 0;
    if (bracket != nullptr) *bracket = _mm_movemask_epi8(open) != 0;
    return;
  }
#endif
  uint64_t high = 0, open = 0;
  // Short strings are padded with 0x01 bytes: ASCII, no "[".
  for_each_word(s, len, kByteOnes, [&](uint64_t w) {
    high |= w;
    open |= zero_byte_bits(w ^ (kByteOnes * '['));
  });
  *ascii = (high & kByteHighs) == 0;
  if (bracket != nullptr) *bracket = open != 0;
}

// Length of the byte string s, with byte_classes of its bytes.
inline size_t scan_bytes(const char* s, bool* ascii, bool* bracket = nullptr) noexcept {
  const size_t len = std::strlen(s);
  byte_classes(s, len, ascii, bracket);
  return len;
}

// True when the n wide characters at uni (any address) are all below 0x80;
// taken eight (or two) at a time as byte_classes takes bytes.
inline bool wide_all_ascii(const void* uni, size_t n) noexcept {
  const auto* p = static_cast<const unsigned char*>(uni);
#if defined(__SSE2__)
  if (n >= 4) {
    const auto load = [p](size_t i) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 4 * i)); };
    // Two lanes of four, so that the ORs do not wait on each other.
    __m128i a = _mm_setzero_si128(), b = _mm_setzero_si128();
    size_t i = 0;
    for (; i + 8 < n; i += 8) {
      a = _mm_or_si128(a, load(i));
      b = _mm_or_si128(b, load(i + 4));
    }
    if (i + 4 < n) a = _mm_or_si128(a, load(i));
    b = _mm_or_si128(b, load(n - 4));
    const __m128i any = _mm_and_si128(_mm_or_si128(a, b), _mm_set1_epi32(~0x7F));
    return _mm_movemask_epi8(_mm_cmpeq_epi32(any, _mm_setzero_si128())) == 0xFFFF;
  }
#endif
  uint64_t high = 0;
  size_t i = 0;
  for (; i + 2 <= n; i += 2) {
    uint64_t w;
    std::memcpy(&w, p + 4 * i, 8);
    high |= w;
  }
  if (i < n) high |= static_cast<uint32_t>(wide::load(uni, i));
  return (high & 0xFFFFFF80FFFFFF80ull) == 0;
}

// Number of wide characters before the terminator of the wide string at
// uni (any address); *ascii tells whether all of them are below 0x80.
inline size_t scan_wide(const void* uni, bool* ascii) noexcept {
  const size_t n = wide::length(uni);
  *ascii = wide_all_ascii(uni, n);
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
