// The four conversion passes of the x86-64 kernels, written once over a
// block policy B: kBlock bytes (elements) of ASCII per step (high, widen,
// narrow), the sizing of wide text (extra_bytes), the encoding of 8 or 4
// elements (encode8, encode4, encode4_within), and where kDecodes, the
// decoding of 16 bytes at once (decode16, decode_last). Everything here is
// local to the file that includes it and takes the instruction set in force
// there: include it from one kernel's source only, after every other header
// and inside that kernel's target region, so that no shared inline function
// is ever compiled for a wider processor.
#pragma once

#include <emmintrin.h>

#include <bit>
#include <cstring>

#include "charset/utf8.h"
#include "common/le.h"
#include "common/wide.h"
#include "dpxut.h"

namespace dpxut::utf8 {
namespace {

inline __m128i load16(const void* p) noexcept { return _mm_loadu_si128(static_cast<const __m128i*>(p)); }
inline void store16(void* p, __m128i v) noexcept { _mm_storeu_si128(static_cast<__m128i*>(p), v); }

// Length of the run of ASCII bytes (elements) that a block begins with,
// from the mask of its non-ASCII ones; `bits` when there is none.
inline size_t run_of(uint32_t non_ascii, unsigned bits) noexcept {
  return static_cast<size_t>(std::countr_zero(static_cast<uint64_t>(non_ascii) | (uint64_t{1} << bits)));
}

// The 16 (4) ASCII bytes at src as elements at dst.
inline void widen16(unsigned char* dst, const unsigned char* src) noexcept {
  const __m128i x = load16(src), zero = _mm_setzero_si128();
  const __m128i lo = _mm_unpacklo_epi8(x, zero), hi = _mm_unpackhi_epi8(x, zero);
  store16(dst, _mm_unpacklo_epi16(lo, zero));
  store16(dst + 16, _mm_unpackhi_epi16(lo, zero));
  store16(dst + 32, _mm_unpacklo_epi16(hi, zero));
  store16(dst + 48, _mm_unpackhi_epi16(hi, zero));
}

inline void widen4(unsigned char* dst, const unsigned char* src) noexcept {
  const __m128i x = _mm_cvtsi32_si128(static_cast<int>(load_le32(src))), zero = _mm_setzero_si128();
  store16(dst, _mm_unpacklo_epi16(_mm_unpacklo_epi8(x, zero), zero));
}

// Low halves of 32-bit elements packed to bytes with saturation: an element
// whose low 16 bits are at or above 0x80 becomes a byte at or above 0x80,
// so the sign bits of the bytes mark the elements that are not ASCII.
inline __m128i pack_low_halves(__m128i a, __m128i b, __m128i c, __m128i d) noexcept {
  const __m128i low = _mm_set1_epi32(0xFFFF);
  const __m128i ab = _mm_packs_epi32(_mm_and_si128(a, low), _mm_and_si128(b, low));
  const __m128i cd = _mm_packs_epi32(_mm_and_si128(c, low), _mm_and_si128(d, low));
  return _mm_packus_epi16(ab, cd);
}

// The 16 (4) elements at src as bytes at dst; returns the ASCII run.
inline size_t narrow16(unsigned char* dst, const unsigned char* src) noexcept {
  const __m128i b = pack_low_halves(load16(src), load16(src + 16), load16(src + 32), load16(src + 48));
  store16(dst, b);
  return run_of(static_cast<uint32_t>(_mm_movemask_epi8(b)), 16);
}

inline size_t narrow4(unsigned char* dst, const unsigned char* src) noexcept {
  const __m128i zero = _mm_setzero_si128();
  const __m128i b = pack_low_halves(load16(src), zero, zero, zero);
  store_le32(dst, static_cast<uint32_t>(_mm_cvtsi128_si32(b)));
  return run_of(static_cast<uint32_t>(_mm_movemask_epi8(b)), 4);
}

// Sum of the 16-bit lanes of v.
inline size_t sum_lanes16(__m128i v) noexcept {
  __m128i sums = _mm_madd_epi16(v, _mm_set1_epi16(1));
  sums = _mm_add_epi32(sums, _mm_shuffle_epi32(sums, 0x4E));
  sums = _mm_add_epi32(sums, _mm_shuffle_epi32(sums, 0xB1));
  return static_cast<uint32_t>(_mm_cvtsi128_si32(sums));
}

// Extra UTF-8 bytes of the 16 elements at src, as counted below, as a
// vector of 16-bit lane counts (each at most 4).
inline __m128i extra_lanes16(const unsigned char* src) noexcept {
  const __m128i low = _mm_set1_epi32(0xFFFF), above1 = _mm_set1_epi16(0x7F), above2 = _mm_set1_epi16(0x7FF);
  const __m128i a = _mm_packs_epi32(_mm_and_si128(load16(src), low), _mm_and_si128(load16(src + 16), low));
  const __m128i b = _mm_packs_epi32(_mm_and_si128(load16(src + 32), low), _mm_and_si128(load16(src + 48), low));
  const __m128i ca = _mm_add_epi16(_mm_cmpgt_epi16(a, above1), _mm_cmpgt_epi16(a, above2));
  const __m128i cb = _mm_add_epi16(_mm_cmpgt_epi16(b, above1), _mm_cmpgt_epi16(b, above2));
  return _mm_sub_epi16(_mm_setzero_si128(), _mm_add_epi16(ca, cb));
}

// Extra UTF-8 bytes of `blocks` blocks of 16 elements: one per low half at
// or above 0x80, one more at or above 0x800. The halves are packed to 16
// bits with signed saturation, which keeps their order; the 16-bit lane
// counters take at most 4 per turn and are summed every 8191 turns.
inline size_t extra_bytes16(const unsigned char* src, size_t blocks) noexcept {
  size_t extra = 0;
  while (blocks > 0) {
    size_t turns = blocks < 8191 ? blocks : 8191;
    blocks -= turns;
    __m128i lanes = _mm_setzero_si128();
    for (; turns > 0; --turns, src += 64) lanes = _mm_add_epi16(lanes, extra_lanes16(src));
    extra += sum_lanes16(lanes);
  }
  return extra;
}

// Encodes the 4 elements at src at dst, each as one 4-byte word store, and
// returns the bytes they take; writes up to 13 bytes. No branch depends on
// the text, which mixes 1-, 2- and 3-byte characters without a pattern.
inline size_t encode4_words(unsigned char* dst, const unsigned char* src) noexcept {
  size_t pos = 0;
  for (int k = 0; k < 4; ++k) {
    const auto v = static_cast<uint16_t>(load_le32(src + 4 * k));
    store_le32(dst + pos, v < 0x80 ? v : encode_word(v));
    pos += encoded_length(v);
  }
  return pos;
}

// Bytes of x (with 0x80 flipped, which turns unsigned order into signed
// order) that break the rules of the forms of 1 to 3 bytes, given the two
// bytes before each: a continuation byte (80..BF) without the lead that
// announces it, a lead C2..EF without all the continuation bytes it
// announces, E0 followed by 80..9F (over-long), and C0, C1, F0..FF, which
// are refused here: C0 and C1 are always over-long, and the long forms are
// left to the one-character decoder.
inline __m128i broken(__m128i x, __m128i flipped, __m128i before1, __m128i before2) noexcept {
  const __m128i continuation = _mm_cmplt_epi8(x, _mm_set1_epi8(-64));
  const __m128i announced = _mm_or_si128(_mm_cmpgt_epi8(before1, _mm_set1_epi8(0x3F)),   // C0.. before
                                         _mm_cmpgt_epi8(before2, _mm_set1_epi8(0x5F)));  // E0.. two before
  const __m128i overlong = _mm_and_si128(_mm_cmpeq_epi8(before1, _mm_set1_epi8(0x60)),  // E0 then 80..9F
                                         _mm_cmplt_epi8(x, _mm_set1_epi8(-96)));
  const __m128i refused =
      _mm_or_si128(_mm_cmpgt_epi8(flipped, _mm_set1_epi8(0x6F)),  // F0..FF
                   _mm_cmpeq_epi8(_mm_and_si128(x, _mm_set1_epi8(static_cast<char>(0xFE))),
                                  _mm_set1_epi8(static_cast<char>(0xC0))));  // C0, C1
  return _mm_or_si128(_mm_xor_si128(continuation, announced), _mm_or_si128(overlong, refused));
}

inline __m128i flip(__m128i x) noexcept { return _mm_xor_si128(x, _mm_set1_epi8(static_cast<char>(0x80))); }

// Last n bytes set, the others clear (n <= 16).
inline __m128i last_bytes(size_t n) noexcept {
  static constexpr uint8_t kWindow[32] = {0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,
                                          0,    0,    0,    0,    0,    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                          0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  return load16(kWindow + n);
}

// Checks the text s (len bytes and the terminator, 16 bytes or more) 16
// bytes at a time from byte k on, the bytes before k being ASCII, and
// counts its continuation bytes. A block at q >= 2 takes the bytes before
// each of its bytes from loads at q - 1 and q - 2; a block at 0 sees zeros
// there (no lead). The terminator ends the last sequence, so one cut by the
// NUL fails. The last block ends at the terminator and overlaps the one
// before it; only its fresh bytes are checked and counted.
class Validator {
 public:
  Validator(const unsigned char* s, size_t len) noexcept : s_(s), total_(len + 1) {}

  bool check_from(size_t k) noexcept {
    for (; total_ - k >= 16; k += 16) block(k, _mm_set1_epi8(-1));
    if (k < total_) block(total_ - 16, last_bytes(total_ - k));
    return _mm_movemask_epi8(errors_) == 0;
  }
  size_t continuations() noexcept {
    flush();
    return continuations_;
  }

 private:
  // At q = 1 (17 bytes with the terminator) only byte 16 is fresh, and the
  // two bytes before it lie within the block.
  void block(size_t q, __m128i fresh) noexcept {
    const __m128i x = load16(s_ + q);
    const __m128i flipped = flip(x);
    const __m128i before1 = q >= 2 ? flip(load16(s_ + q - 1)) : _mm_slli_si128(flipped, 1);
    const __m128i before2 = q >= 2 ? flip(load16(s_ + q - 2)) : _mm_slli_si128(flipped, 2);
    errors_ = _mm_or_si128(errors_, _mm_and_si128(broken(x, flipped, before1, before2), fresh));
    // Byte lanes count up to 255 blocks before they are summed.
    lanes_ = _mm_sub_epi8(lanes_, _mm_and_si128(_mm_cmplt_epi8(x, _mm_set1_epi8(-64)), fresh));
    if (++in_lanes_ == 255) flush();
  }
  void flush() noexcept {
    const __m128i sums = _mm_sad_epu8(lanes_, _mm_setzero_si128());
    continuations_ += static_cast<size_t>(_mm_cvtsi128_si32(sums)) +
                      static_cast<size_t>(_mm_cvtsi128_si32(_mm_srli_si128(sums, 8)));
    lanes_ = _mm_setzero_si128();
    in_lanes_ = 0;
  }

  const unsigned char* s_;
  size_t total_;
  __m128i errors_ = _mm_setzero_si128();
  __m128i lanes_ = _mm_setzero_si128();
  unsigned in_lanes_ = 0;
  size_t continuations_ = 0;
};

// Number of elements of the text s of len bytes (15 or more), the bytes
// before k being ASCII. Text the vector check refuses, invalid or holding a
// long form, is measured by the portable pass, which tells the two apart;
// *checked says whether the vector check passed it.
inline Pass validate_from(const unsigned char* s, size_t len, size_t k, bool* checked) noexcept {
  Validator check(s, len);
  *checked = check.check_from(k);
  if (!*checked) return portable::measure_utf8(reinterpret_cast<const char*>(s));
  return {0, len - check.continuations()};
}

// True when the n bytes at p (n < 16) are ASCII.
inline bool ascii_bytes(const unsigned char* p, size_t n) noexcept {
  constexpr uint64_t kHigh = 0x8080808080808080ull;
  if (n >= 8) return ((load_le64(p) | load_le64(p + n - 8)) & kHigh) == 0;
  if (n >= 4) return ((load_le32(p) | load_le32(p + n - 4)) & kHigh) == 0;
  unsigned any = 0;
  for (size_t k = 0; k < n; ++k) any |= p[k];
  return any < 0x80;
}

// Number of elements the len bytes at s decode to (the terminator follows
// them); a count equal to len means ASCII throughout. Names are mostly
// ASCII, so whole blocks are tried first and the last one overlaps the one
// before it; the validator starts at the first block that is not ASCII.
// *checked says whether the text is ASCII or passed the vector check.
template <class B>
Pass measure_text(const unsigned char* s, size_t len, bool* checked) noexcept {
  size_t k = 0;
  for (; len - k >= B::kBlock; k += B::kBlock) {
    if (B::high(s + k) != 0) return validate_from(s, len, k, checked);
  }
  bool ascii;
  if (len >= B::kBlock) {
    ascii = k == len || B::high(s + len - B::kBlock) == 0;
  } else if (B::kBlock > 16 && len >= 16) {
    ascii = _mm_movemask_epi8(_mm_or_si128(load16(s), load16(s + len - 16))) == 0;
  } else {
    ascii = ascii_bytes(s, len);
    if (!ascii && len < 15) {
      *checked = false;
      return portable::measure_utf8(reinterpret_cast<const char*>(s));
    }
  }
  *checked = true;
  return ascii ? Pass{0, len} : validate_from(s, len, k, checked);
}

// UTF-8 bytes of the len elements at src; len itself means ASCII
// throughout. Whole blocks, then 16 and 4 elements at a time into 16-bit
// lane counters (at most 10 each), then the last few.
template <class B>
[[gnu::aligned(64)]] size_t measure_units(const unsigned char* src, size_t len) noexcept {
  size_t k = len - len % B::kBlock;
  size_t extra = k != 0 ? B::extra_bytes(src, k / B::kBlock) : 0;
  __m128i lanes = _mm_setzero_si128();
  if (B::kBlock > 16 && len - k >= 16) {
    lanes = extra_lanes16(wide::at(src, k));
    k += 16;
  }
  const __m128i low = _mm_set1_epi32(0xFFFF), above1 = _mm_set1_epi16(0x7F), above2 = _mm_set1_epi16(0x7FF);
  for (; len - k >= 4; k += 4) {
    const __m128i v = _mm_packs_epi32(_mm_and_si128(load16(wide::at(src, k)), low), _mm_setzero_si128());
    lanes = _mm_sub_epi16(lanes, _mm_add_epi16(_mm_cmpgt_epi16(v, above1), _mm_cmpgt_epi16(v, above2)));
  }
  extra += sum_lanes16(lanes);
  for (; k < len; ++k) extra += encoded_length(static_cast<uint16_t>(wide::load(src, k))) - 1;
  return len + extra;
}

template <class B>
Pass measure_utf8_pass(const char* utf) noexcept {
  bool checked;
  return measure_text<B>(reinterpret_cast<const unsigned char*>(utf), std::strlen(utf), &checked);
}

template <class B>
Pass measure_wide_pass(const void* uni) noexcept {
  return {0, measure_units<B>(static_cast<const unsigned char*>(uni), wide::length(uni))};
}

// The n ASCII bytes at src as elements at dst: whole blocks, the last one
// overlapping the one before it, so that exactly n elements are written.
template <class B>
void widen_ascii(unsigned char* dst, const unsigned char* src, size_t n) noexcept {
  if (n >= B::kBlock) {
    for (size_t k = 0; k + B::kBlock < n; k += B::kBlock) B::widen(dst + 4 * k, src + k);
    B::widen(dst + 4 * (n - B::kBlock), src + n - B::kBlock);
  } else if (B::kBlock > 16 && n >= 16) {
    B::widen16(dst, src);
    if (n > 16) B::widen16(dst + 4 * (n - 16), src + n - 16);
  } else if (n >= 4) {
    for (size_t k = 0; k + 4 < n; k += 4) widen4(dst + 4 * k, src + k);
    widen4(dst + 4 * (n - 4), src + n - 4);
  } else {
    for (size_t k = 0; k < n; ++k) store_le32(dst + 4 * k, src[k]);
  }
}

// The n elements at src, whose low halves are below 0x80, as bytes at dst,
// in the same way.
template <class B>
void narrow_ascii(unsigned char* dst, const unsigned char* src, size_t n) noexcept {
  if (n >= B::kBlock) {
    for (size_t k = 0; k + B::kBlock < n; k += B::kBlock) B::narrow(dst + k, src + 4 * k);
    B::narrow(dst + n - B::kBlock, src + 4 * (n - B::kBlock));
  } else if (B::kBlock > 16 && n >= 16) {
    narrow16(dst, src);
    if (n > 16) narrow16(dst + n - 16, src + 4 * (n - 16));
  } else if (n >= 4) {
    for (size_t k = 0; k + 4 < n; k += 4) narrow4(dst + k, src + 4 * k);
    narrow4(dst + n - 4, src + 4 * (n - 4));
  } else {
    for (size_t k = 0; k < n; ++k) dst[k] = src[4 * k];
  }
}

// Fills in one pass and stores exactly the elements the portable pass
// writes: a block of ASCII whole when it fits, otherwise the portable
// pass's own steps from the same place, which report a failure where the
// portable pass reports it.
template <class B>
Pass fill_exactly(void* uni, const unsigned char* p, size_t len, size_t capacity) noexcept {
  if (capacity == 0) return {HVDPUT_OVERFLOW, 0};
  const unsigned char* const end = p + len;
  auto* out = static_cast<unsigned char*>(uni);
  size_t i = 0;
  while (p < end) {
    const auto bytes = static_cast<size_t>(end - p);
    const size_t room = capacity - i;
    if (bytes >= B::kBlock && room >= B::kBlock && B::high(p) == 0) {
      B::widen(wide::at(out, i), p);
      p += B::kBlock, i += B::kBlock;
      continue;
    }
    if (B::kBlock > 16 && bytes >= 16 && room >= 16 && _mm_movemask_epi8(load16(p)) == 0) {
      B::widen16(wide::at(out, i), p);
      p += 16, i += 16;
      continue;
    }
    if (bytes >= 4 && room >= 4 && (load_le32(p) & 0x80808080u) == 0) {
      widen4(wide::at(out, i), p);
      p += 4, i += 4;
      continue;
    }
    do {
      if (i >= capacity) return {HVDPUT_OVERFLOW, 0};
      uint16_t v;
      const int n = decode(p, &v);
      if (n < 0) return {HVDPUT_INVALID_PARAMETER, 0};
      wide::store(out, i++, v);
      p += n;
    } while (*p >= 0x80);  // the terminator stops it
  }
  if (i >= capacity) return {HVDPUT_OVERFLOW, 0};
  wide::store(out, i, 0);
  return {0, i};
}

// Text that passed the vector check (so of 1- to 3-byte forms) and whose n
// elements fit: elements [0, n) are written in order and the terminator at
// n last, so a store may run ahead of the text wherever it ends at or
// before n; what it puts beyond the characters is overwritten later. 16
// bytes are decoded per step whatever they hold (B::decode16 picks the
// characters whose lead bytes are among them and reads the two bytes
// after), and the last bytes by a window that ends at the terminator.
template <class B>
void decode_checked(unsigned char* out, const unsigned char* p, size_t len, size_t n) noexcept {
  if (n == len) return widen_ascii<B>(out, p, len);
  const unsigned char* const end = p + len;
  size_t i = 0;
  while (end - p >= 17 && n + 1 - i >= 16) {
    if (*p < 0x80 && static_cast<size_t>(end - p) >= B::kBlock && n + 1 - i >= B::kBlock && B::high(p) == 0) {
      B::widen(wide::at(out, i), p);
      p += B::kBlock, i += B::kBlock;
      continue;
    }
    i += B::decode16(wide::at(out, i), p);
    p += 16;
  }
  // One character at a time (p may be inside one decoded above) until the
  // rest fits the last window.
  for (uint16_t v = 0; end - p > 15;) {
    if ((*p & 0xC0) == 0x80) {
      ++p;
    } else {
      p += decode(p, &v);
      wide::store(out, i++, v);
    }
  }
  if (p < end) B::decode_last(wide::at(out, i), end - 15, static_cast<size_t>(15 - (end - p)));
}

// A fill that cannot succeed (invalid text, too little room) is left to the
// portable pass, which writes exactly what it always wrote. Where B decodes
// 16 bytes at once, text of 32 bytes or more is sized first and, when the
// vector check passes it, decoded ahead of its characters; shorter text,
// where sizing twice costs more than it saves, and every fill of a kernel
// without such a decoder go in one exact pass.
template <class B>
Pass utf8_to_wide_pass(void* uni, const char* utf, size_t capacity) noexcept {
  const auto* s = reinterpret_cast<const unsigned char*>(utf);
  const size_t len = std::strlen(utf);
  if constexpr (B::kDecodes) {
    if (len >= 32) {
      bool checked;
      const Pass size = measure_text<B>(s, len, &checked);
      if (size.code != 0 || size.count >= capacity) return portable::utf8_to_wide(uni, utf, capacity);
      if (checked) {
        decode_checked<B>(static_cast<unsigned char*>(uni), s, len, size.count);
        wide::store(uni, size.count, 0);
        return size;
      }
    }
  }
  return fill_exactly<B>(uni, s, len, capacity);
}

// The len elements at src one at a time, writing what the portable pass
// writes: for short text, where sizing first costs more than it saves. The
// second and third bytes of a character that has none go to a local sink,
// so that no branch depends on the mix of 1-, 2- and 3-byte characters.
// Out of line and on a 64-byte boundary, as measure_units: names of a few
// characters spend most of their time in these two, and their speed moved
// by a tenth with where other code happened to land.
[[gnu::noinline, gnu::aligned(64)]] inline Pass encode_exactly(unsigned char* out, const unsigned char* src, size_t len,
                                                              size_t capacity) noexcept {
  if (capacity == 0) return {HVDPUT_OVERFLOW, 0};
  size_t i = 0, pos = 0;
  if (len >= 16 && capacity >= 16) {  // a leading ASCII block, stored only once known to be one
    const __m128i b = pack_low_halves(load16(src), load16(src + 16), load16(src + 32), load16(src + 48));
    if (_mm_movemask_epi8(b) == 0) {
      store16(out, b);
      i = pos = 16;
    }
  }
  unsigned char sink[2];
  for (; i < len; ++i) {
    const auto v = static_cast<uint16_t>(wide::load(src, i));
    const unsigned n = encoded_length(v);
    if (n > capacity - pos) return {HVDPUT_OVERFLOW, 0};
    const uint32_t word = v < 0x80 ? v : encode_word(v);
    out[pos] = static_cast<unsigned char>(word);
    *(n >= 2 ? out + pos + 1 : sink) = static_cast<unsigned char>(word >> 8);
    *(n >= 3 ? out + pos + 2 : sink + 1) = static_cast<unsigned char>(word >> 16);
    pos += n;
  }
  if (pos >= capacity) return {HVDPUT_OVERFLOW, 0};
  out[pos] = 0;
  return {0, pos};
}

// Text of 32 elements or more is sized first: one that cannot succeed is
// left to the portable pass. One
// that will writes bytes [0, m) in order and the terminator at m last, so a
// store may run ahead of the text wherever it ends at or before m.
// Elements that are not ASCII go 8 or 4 at a time into at most
// B::kEncode8Room or B::kEncode4Room bytes; B::encode4_within stores 4 when
// their stores fit the room left (0 when not), the last few go one by one.
template <class B>
Pass wide_to_utf8_pass(char* utf, const void* uni, size_t capacity) noexcept {
  const auto* src = static_cast<const unsigned char*>(uni);
  const size_t len = wide::length(uni);
  if (len < 32) return encode_exactly(reinterpret_cast<unsigned char*>(utf), src, len, capacity);
  const size_t m = measure_units<B>(src, len);
  if (m >= capacity) return portable::wide_to_utf8(utf, uni, capacity);
  auto* out = reinterpret_cast<unsigned char*>(utf);
  if (m == len) {
    narrow_ascii<B>(out, src, len);
  } else {
    size_t i = 0;
    size_t pos = 0;
    bool ascii = true;  // whether the text just passed was ASCII: then a block is worth trying
    while (len - i >= 4) {
      if (ascii && (wide::load(src, i) & 0xFF80) == 0 && len - i >= B::kBlock && m + 1 - pos >= B::kBlock) {
        const size_t run = B::narrow(out + pos, wide::at(src, i));
        i += run, pos += run;
        if (run == B::kBlock) continue;
      }
      const size_t room = m + 1 - pos;
      if (len - i >= 8 && room >= B::kEncode8Room) {
        const size_t bytes = B::encode8(out + pos, wide::at(src, i));
        pos += bytes, i += 8;
        ascii = bytes == 8;
        continue;
      }
      if (len - i < 4) break;
      if (room >= B::kEncode4Room) {
        pos += B::encode4(out + pos, wide::at(src, i));
      } else {
        const size_t bytes = B::encode4_within(out + pos, wide::at(src, i), room);
        if (bytes == 0) break;
        pos += bytes;
      }
      i += 4;
    }
    // The last few: a word store while it ends at or before m.
    for (; i < len; ++i) {
      const auto v = static_cast<uint16_t>(wide::load(src, i));
      if (m - pos >= 3) {
        store_le32(out + pos, v < 0x80 ? v : encode_word(v));
        pos += encoded_length(v);
      } else {
        pos += encode(out + pos, v);
      }
    }
  }
  out[m] = 0;
  return {0, m};
}

template <class B>
constexpr Kernels kernels_over() noexcept {
  return {measure_utf8_pass<B>, utf8_to_wide_pass<B>, measure_wide_pass<B>, wide_to_utf8_pass<B>};
}

}  // namespace
}  // namespace dpxut::utf8
