// UTF-8 <-> 16-bit wide conversion inside the library: the one-character
// coder used by the string passes, and the passes themselves with their
// completion code and count kept apart, behind one kernel pointer. The
// exported dp_utf2uni/dp_uni2utf walk the coder table and serve as the
// reference the coder is tested against; the portable kernel is the
// reference of the others.
#pragma once

#include <cstddef>
#include <cstdint>

namespace dpxut::utf8 {

// Byte length a lead byte announces: 1 for ASCII, 2..6 for the lead bytes
// of longer forms, 1 for continuation bytes, 0xFE and 0xFF.
inline unsigned lead_length(unsigned char b) noexcept {
  if (b < 0xC0) return 1;
  if (b < 0xE0) return 2;
  if (b < 0xF0) return 3;
  if (b < 0xF8) return 4;
  if (b < 0xFC) return 5;
  if (b < 0xFE) return 6;
  return 1;
}

// Decodes the sequence at p. Returns its length (1..6) and stores the low
// 16 bits of its value, or returns -1 for a lead byte that starts nothing,
// a byte that is no continuation byte (a NUL included: nothing after a NUL
// is read), or an over-long form. 4- to 6-byte forms are accepted and cut
// to 16 bits, as the stored format has always done.
inline int decode(const unsigned char* p, uint16_t* out) noexcept {
  unsigned c0 = p[0];
  if (c0 < 0x80) {
    *out = static_cast<uint16_t>(c0);
    return 1;
  }
  int n;
  uint32_t v;
  uint32_t least;
  if (c0 < 0xC0) {
    return -1;
  } else if (c0 < 0xE0) {
    unsigned t = p[1] ^ 0x80u;
    if (t > 0x3F) return -1;
    v = ((c0 & 0x1Fu) << 6) | t;
    if (v < 0x80) return -1;
    *out = static_cast<uint16_t>(v);
    return 2;
  } else if (c0 < 0xF0) {
    unsigned t1 = p[1] ^ 0x80u;
    if (t1 > 0x3F) return -1;
    unsigned t2 = p[2] ^ 0x80u;
    if (t2 > 0x3F) return -1;
    v = ((c0 & 0x0Fu) << 12) | (t1 << 6) | t2;
    if (v < 0x800) return -1;
    *out = static_cast<uint16_t>(v);
    return 3;
  } else if (c0 < 0xF8) {  // the rare long forms share one loop
    n = 4, v = c0 & 0x07u, least = 0x10000;
  } else if (c0 < 0xFC) {
    n = 5, v = c0 & 0x03u, least = 0x200000;
  } else if (c0 < 0xFE) {
    n = 6, v = c0 & 0x01u, least = 0x4000000;
  } else {
    return -1;
  }
  for (int k = 1; k < n; ++k) {
    unsigned t = p[k] ^ 0x80u;
    if (t > 0x3F) return -1;
    v = (v << 6) | t;
  }
  if (v < least) return -1;
  *out = static_cast<uint16_t>(v);
  return n;
}

// UTF-8 length of a 16-bit value (branch-free: mixed text would defeat
// the branch predictor).
inline unsigned encoded_length(uint16_t v) noexcept {
  return 1u + (v >= 0x80) + (v >= 0x800);
}

// Writes the 1 to 3 bytes of v at out; returns their number.
inline unsigned encode(unsigned char* out, uint16_t v) noexcept {
  if (v < 0x80) {
    out[0] = static_cast<unsigned char>(v);
    return 1;
  }
  if (v < 0x800) {
    out[0] = static_cast<unsigned char>(0xC0 | (v >> 6));
    out[1] = static_cast<unsigned char>(0x80 | (v & 0x3F));
    return 2;
  }
  out[0] = static_cast<unsigned char>(0xE0 | (v >> 12));
  out[1] = static_cast<unsigned char>(0x80 | ((v >> 6) & 0x3F));
  out[2] = static_cast<unsigned char>(0x80 | (v & 0x3F));
  return 3;
}

// Outcome of a pass: a completion code (0 or HVDPUT_*) and, on success, the
// length without terminator in the destination's unit.
struct Pass {
  uint32_t code;
  size_t count;
};

// The 2 or 3 bytes of v (at or above 0x80) in one little-endian word, the
// first byte lowest; a word store writes them and 1 or 2 bytes beyond.
inline uint32_t encode_word(uint16_t v) noexcept {
  uint32_t two = 0x80C0u | (v >> 6) | ((v & 0x3Fu) << 8);
  uint32_t three = 0x8080E0u | (v >> 12) | (((v >> 6) & 0x3Fu) << 8) | ((v & 0x3Fu) << 16);
  return v < 0x800 ? two : three;
}

// Number of wide elements utf decodes to; HVDPUT_INVALID_PARAMETER at the
// first invalid sequence.
Pass measure_utf8(const char* utf) noexcept;

// Decodes utf into `capacity` elements at uni (any alignment), terminator
// included. Characters are taken in order: the one at index i needs
// i < capacity (else HVDPUT_OVERFLOW), an invalid one gives
// HVDPUT_INVALID_PARAMETER, and the terminator needs its own element. On
// failure uni holds the elements written so far, unterminated.
Pass utf8_to_wide(void* uni, const char* utf, size_t capacity) noexcept;

// UTF-8 byte length of the wide string uni (any alignment).
Pass measure_wide(const void* uni) noexcept;

// Encodes uni into `capacity` bytes at utf, terminator included; a
// character is written only when all its bytes fit, and the terminator
// needs its own byte (else HVDPUT_OVERFLOW, with the bytes written so far
// left unterminated).
Pass wide_to_utf8(char* utf, const void* uni, size_t capacity) noexcept;

// The four passes above as one kernel. Every kernel gives the results of
// the portable one, its reference, down to the units written before a
// failure. The x86-64 kernels take ASCII 16 (SSE2) or 32 (AVX2) bytes at a
// time, AVX2 mixed text too; where a fill sizes first and so knows that it
// will succeed, it may store whole blocks ahead of the text, never past the
// terminator's place. The first conversion selects the widest kernel the
// processor runs.
struct Kernels {
  Pass (*measure_utf8)(const char* utf) noexcept;
  Pass (*utf8_to_wide)(void* uni, const char* utf, size_t capacity) noexcept;
  Pass (*measure_wide)(const void* uni) noexcept;
  Pass (*wide_to_utf8)(char* utf, const void* uni, size_t capacity) noexcept;
};

namespace portable {
Pass measure_utf8(const char* utf) noexcept;
Pass utf8_to_wide(void* uni, const char* utf, size_t capacity) noexcept;
Pass measure_wide(const void* uni) noexcept;
Pass wide_to_utf8(char* utf, const void* uni, size_t capacity) noexcept;
}  // namespace portable

#if defined(__x86_64__)
extern const Kernels kSse2Kernels;
extern const Kernels kAvx2Kernels;  // only where avx2_usable()
bool avx2_usable() noexcept;
#endif

enum class Kernel { kPortable, kSse2, kAvx2 };

// Kernel k, or null when this machine cannot run it.
const Kernels* kernels_of(Kernel k) noexcept;

// Test and benchmark hook: every later conversion of the process uses
// kernel k. False, with nothing changed, when this machine cannot run it.
bool force_kernel(Kernel k) noexcept;

}  // namespace dpxut::utf8
