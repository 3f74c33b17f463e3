// The table walks of codeset_table.h: locale text to UTF-8 or wide text
// and back through the tables. Each walk is written once for counting and
// for filling (kFill), so the count is by construction what the filling
// writes. Runs of ASCII move eight bytes at a time where the code set
// keeps ASCII as it is; code sets whose bytes are all characters by
// themselves are sized without a walk; ISO-8859-1, and the other sets that
// differ from it in a narrow range of bytes, widen and narrow sixteen
// characters at a time and mend the few that differ. A code set that
// converts as UTF-8 is decoded and encoded here, well-formed text only.
//
// The walks, and the loops that most text spends its time in, start on a
// cache-line boundary of their own (the loops out of line): placed
// wherever the code before them ended, their speed changed by a fifth with
// edits elsewhere in the library.
#include <cstring>

#include "charset/codeset_table.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace dpxut::charset {
namespace {

constexpr uint64_t kHighBits = 0x8080808080808080ull;

constexpr TableResult stop(TableStep s) noexcept { return {s, 0}; }
constexpr TableResult done(size_t units) noexcept { return {TableStep::kDone, units}; }

inline uint64_t load64(const unsigned char* p) noexcept {
  uint64_t w;
  std::memcpy(&w, p, 8);
  return w;
}
inline uint32_t load32(const unsigned char* p) noexcept {
  uint32_t w;
  std::memcpy(&w, p, 4);
  return w;
}
inline void store32(unsigned char* p, uint32_t v) noexcept { std::memcpy(p, &v, 4); }

// What a byte that is neither a character nor a lead byte, or a pair entry
// that is no character, makes of the walk.
constexpr TableStep byte_stop(uint32_t entry) noexcept {
  return entry == kInvalidByte ? TableStep::kInvalid : TableStep::kFallback;
}
constexpr TableStep pair_stop(uint16_t entry) noexcept {
  return entry == kInvalidPair ? TableStep::kInvalid : TableStep::kFallback;
}

// UTF-8 of a code point below 0x10000, bytes in memory order, unused ones
// zero; *len gets the length.
inline uint32_t pack_utf8(uint32_t cp, uint32_t* len) noexcept {
  if (cp < 0x80) {
    *len = 1;
    return cp;
  }
  if (cp < 0x800) {
    *len = 2;
    return (0xC0 | cp >> 6) | (0x80 | (cp & 0x3F)) << 8;
  }
  *len = 3;
  return (0xE0 | cp >> 12) | (0x80 | (cp >> 6 & 0x3F)) << 8 | (0x80 | (cp & 0x3F)) << 16;
}

// Writes the `len` bytes of packed UTF-8 v at out. With `wide_store` four
// bytes are stored at once; the caller guarantees the room and that later
// output overwrites the bytes past the character.
inline void put_utf8(unsigned char* out, uint32_t v, uint32_t len, bool wide_store) noexcept {
  if (wide_store) {
    store32(out, v);
    return;
  }
  out[0] = static_cast<unsigned char>(v);
  if (len > 1) out[1] = static_cast<unsigned char>(v >> 8);
  if (len > 2) out[2] = static_cast<unsigned char>(v >> 16);
}

// ---- ISO-8859-1 kernels ------------------------------------------------------

// count bytes (each its own code point) to wide units.
void widen_latin1(const unsigned char* s, size_t count, unsigned char* out) noexcept {
  size_t i = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  for (; i + 16 <= count; i += 16) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
    const __m128i lo = _mm_unpacklo_epi8(x, zero), hi = _mm_unpackhi_epi8(x, zero);
    auto* d = reinterpret_cast<__m128i*>(out + 4 * i);
    _mm_storeu_si128(d, _mm_unpacklo_epi16(lo, zero));
    _mm_storeu_si128(d + 1, _mm_unpackhi_epi16(lo, zero));
    _mm_storeu_si128(d + 2, _mm_unpacklo_epi16(hi, zero));
    _mm_storeu_si128(d + 3, _mm_unpackhi_epi16(hi, zero));
  }
#endif
  for (; i < count; ++i) store32(out + 4 * i, s[i]);
}

// count bytes, all characters by themselves, to wide units: as ISO-8859-1,
// then the bytes in t.patch_lo..t.patch_hi (a narrow range for the other
// ISO-8859 sets) mended from the table.
void widen_patched(const CodesetTable& t, const unsigned char* s, size_t count, unsigned char* out) noexcept {
  const uint32_t* const single = t.single;
  size_t i = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  // Bytes less patch_lo, as signed values: patch_lo..patch_hi is the range
  // -128..-128 + (patch_hi - patch_lo).
  const __m128i bias = _mm_set1_epi8(static_cast<char>(t.patch_lo - 0x80));
  const __m128i limit = _mm_set1_epi8(static_cast<char>(t.patch_hi - t.patch_lo - 0x80 + 1));
  for (; i + 16 <= count; i += 16) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
    const __m128i lo = _mm_unpacklo_epi8(x, zero), hi = _mm_unpackhi_epi8(x, zero);
    auto* d = reinterpret_cast<__m128i*>(out + 4 * i);
    _mm_storeu_si128(d, _mm_unpacklo_epi16(lo, zero));
    _mm_storeu_si128(d + 1, _mm_unpackhi_epi16(lo, zero));
    _mm_storeu_si128(d + 2, _mm_unpacklo_epi16(hi, zero));
    _mm_storeu_si128(d + 3, _mm_unpackhi_epi16(hi, zero));
    auto mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmplt_epi8(_mm_sub_epi8(x, bias), limit)));
    for (; mask != 0; mask &= mask - 1) {
      const auto k = static_cast<size_t>(__builtin_ctz(mask));
      store32(out + 4 * (i + k), single[s[i + k]]);
    }
  }
#endif
  for (; i < count; ++i) store32(out + 4 * i, single[s[i]]);
}

// True when all `units` wide characters are below 0x100; with a
// destination, writes them as bytes.
bool narrow_latin1(const unsigned char* uni, size_t units, unsigned char* out) noexcept {
  size_t i = 0;
#if defined(__SSE2__)
  const __m128i high = _mm_set1_epi32(static_cast<int>(0xFFFFFF00u));
  for (; i + 16 <= units; i += 16) {
    const auto* p = reinterpret_cast<const __m128i*>(uni + 4 * i);
    const __m128i a = _mm_loadu_si128(p), b = _mm_loadu_si128(p + 1);
    const __m128i c = _mm_loadu_si128(p + 2), d = _mm_loadu_si128(p + 3);
    const __m128i any = _mm_and_si128(_mm_or_si128(_mm_or_si128(a, b), _mm_or_si128(c, d)), high);
    if (_mm_movemask_epi8(_mm_cmpeq_epi8(any, _mm_setzero_si128())) != 0xFFFF) return false;
    if (out != nullptr) {
      const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(a, b), _mm_packs_epi32(c, d));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), bytes);
    }
  }
#endif
  uint32_t any = 0;
  for (size_t j = i; j < units; ++j) any |= load32(uni + 4 * j);
  if (any > 0xFF) return false;
  if (out != nullptr) {
    for (; i < units; ++i) out[i] = uni[4 * i];
  }
  return true;
}

// ---- locale text to UTF-8 and wide text --------------------------------------

// UTF-8 length of a string of bytes that are all characters by themselves.
size_t utf8_size_single(const CodesetTable& t, const unsigned char* s, size_t len) noexcept {
  size_t n = len, i = 0;
  if (t.latin1) {  // one extra byte for each byte from 0x80 up
    for (; i + 8 <= len; i += 8) n += static_cast<size_t>(__builtin_popcountll(load64(s + i) & kHighBits));
    for (; i < len; ++i) n += s[i] >> 7;
    return n + 1;
  }
  const uint8_t* const lens = t.utf8_len;
  n = 0;
  for (; i < len; ++i) n += lens[s[i]];
  return n + 1;
}

// Filling for code sets whose bytes are all characters by themselves.
TableResult fill_utf8_single(const CodesetTable& t, const unsigned char* s, size_t len, unsigned char* out,
                             size_t cap) noexcept {
  const uint32_t* const packed = t.utf8;
  const uint8_t* const lens = t.utf8_len;
  size_t n = 0, i = 0;
  // Four bytes stored for each character while at least three more bytes
  // of output (one for each byte left, and the terminator) overwrite what
  // lands past it.
  for (; len - i >= 3 && cap - n >= 4; ++i) {
    store32(out + n, packed[s[i]]);
    n += lens[s[i]];
  }
  for (; i <= len; ++i) {  // the terminator is the byte at len
    const uint32_t k = lens[s[i]];
    if (cap - n < k) return stop(TableStep::kOverflow);
    put_utf8(out + n, packed[s[i]], k, false);
    n += k;
  }
  return done(n);
}

template <bool kFill>
TableResult to_utf8(const CodesetTable& t, const unsigned char* s, size_t len, unsigned char* out,
                    size_t cap) noexcept {
  if (t.all_single) return kFill ? fill_utf8_single(t, s, len, out, cap) : done(utf8_size_single(t, s, len));
  const uint32_t* const single = t.single;
  const uint32_t* const packed = t.utf8;
  const uint8_t* const lens = t.utf8_len;
  const uint16_t* const pairs = t.pairs;
  const uint32_t* const rows = t.lead_row;
  const bool ascii = t.ascii_identity;
  const unsigned char* p = s;
  const unsigned char* const end = s + len;
  size_t n = 0;
  for (;;) {
    if (ascii && end - p >= 8 && *p < 0x80) {
      const uint64_t w = load64(p);
      if ((w & kHighBits) == 0 && (!kFill || cap - n >= 8)) {
        if (kFill) std::memcpy(out + n, &w, 8);
        n += 8;
        p += 8;
        continue;
      }
    }
    const unsigned b = *p;
    const uint32_t e = single[b];
    uint32_t v, k;
    if (e <= 0xFFFF) {
      v = packed[b];
      k = lens[b];
      ++p;
    } else {
      if (e != kLeadByte) return stop(byte_stop(e));
      // p[1] is at most the terminator, which no pair holds.
      const uint16_t cp = pairs[rows[b] + p[1]];
      if (cp == kInvalidPair || cp == kFallbackPair) return stop(pair_stop(cp));
      v = pack_utf8(cp, &k);
      p += 2;
    }
    if (kFill) {
      if (cap - n < k) return stop(TableStep::kOverflow);
      // Four bytes at once while the rest of the text (at least one byte
      // of output for every two of input, and the terminator) overwrites
      // what lands past the character.
      put_utf8(out + n, v, k, cap - n >= 4 && end - p >= 6);
    }
    n += k;
    if (b == 0) return done(n);
  }
}

// Code sets with lead bytes: a byte is looked up, and a lead byte's pair.
// kChecked: the destination may run out before the terminator.
template <bool kFill, bool kChecked>
[[gnu::noinline, gnu::aligned(64)]] TableResult to_wide_pairs(const CodesetTable& t, const unsigned char* s,
                                                              size_t len, unsigned char* out, size_t cap) noexcept {
  const uint32_t* const single = t.single;
  const uint16_t* const pairs = t.pairs;
  const uint32_t* const rows = t.lead_row;
  const bool ascii = t.ascii_identity;
  const unsigned char* p = s;
  const unsigned char* const end = s + len;
  size_t n = 0;
  for (;;) {
    const unsigned b = *p;
    uint32_t cp = single[b];
    if (cp <= 0xFFFF) {
      // A run of eight ASCII bytes at once, where ASCII stays as it is.
      if (ascii && b - 1 < 0x7F && end - p >= 8 && (load64(p) & kHighBits) == 0 && (!kChecked || cap - n >= 8)) {
        if (kFill) widen_latin1(p, 8, out + 4 * n);
        n += 8;
        p += 8;
        continue;
      }
      if (kFill) {
        if (kChecked && cap == n) return stop(TableStep::kOverflow);
        store32(out + 4 * n, cp);
      }
      ++n;
      if (b == 0) return done(n);
      ++p;
      continue;
    }
    if (cp != kLeadByte) return stop(byte_stop(cp));
    // p[1] is at most the terminator, which no pair holds.
    const uint16_t e = pairs[rows[b] + p[1]];
    if (e == kInvalidPair || e == kFallbackPair) return stop(pair_stop(e));
    if (kFill) {
      if (kChecked && cap == n) return stop(TableStep::kOverflow);
      store32(out + 4 * n, e);
    }
    ++n;
    p += 2;
  }
}

template <bool kFill>
TableResult to_wide(const CodesetTable& t, const unsigned char* s, size_t len, unsigned char* out,
                    size_t cap) noexcept {
  if (t.all_single) {
    if (!kFill) return done(len + 1);
    // The terminator is the byte at len, whose entry is U+0000.
    const size_t count = len < cap ? len + 1 : cap;
    if (t.latin1) {
      widen_latin1(s, count, out);
    } else if (t.patch_hi - t.patch_lo < 64) {
      widen_patched(t, s, count, out);
    } else {
      const uint32_t* const single = t.single;
      size_t i = 0;
      for (; i + 8 <= count; i += 8) {
        const uint64_t w = load64(s + i);
        for (size_t j = 0; j < 8; ++j) store32(out + 4 * (i + j), single[w >> 8 * j & 0xFF]);
      }
      for (; i < count; ++i) store32(out + 4 * i, single[s[i]]);
    }
    return len < cap ? done(count) : stop(TableStep::kOverflow);
  }
  // Every character takes at least a byte: with room for len + 1 units no
  // character can overflow, and the walk leaves out the test.
  return !kFill || cap > len ? to_wide_pairs<kFill, false>(t, s, len, out, cap)
                             : to_wide_pairs<kFill, true>(t, s, len, out, cap);
}

// ---- UTF-8 and wide text to locale text --------------------------------------

// The table's bytes for a code point (0: not held).
inline uint16_t lookup(const CodesetTable& t, uint32_t cp) noexcept {
  return cp <= 0xFFFF ? t.pages[cp >> 8][cp & 0xFF] : 0;
}

// Code points below 0x80 that are bytes of the same value, as a mask.
struct AsciiSame {
  uint64_t bits[2];
  explicit AsciiSame(const CodesetTable& t) noexcept : bits{t.ascii_same[0], t.ascii_same[1]} {}
  bool operator()(uint32_t cp) const noexcept { return cp < 0x80 && (bits[cp >> 6] >> (cp & 63) & 1) != 0; }
};

// Writes table entry e (never 0) at out + *n within cap; false when it does
// not fit.
template <bool kFill>
inline bool put_entry(unsigned char* out, size_t* n, size_t cap, uint16_t e) noexcept {
  const size_t k = e > 0xFF ? 2 : 1;
  if (kFill) {
    if (cap - *n < k) return false;
    out[*n] = static_cast<unsigned char>(e);
    if (k == 2) out[*n + 1] = static_cast<unsigned char>(e >> 8);
  }
  *n += k;
  return true;
}

template <bool kFill>
TableResult finish(unsigned char* out, size_t n, size_t cap) noexcept {
  if (kFill) {
    if (cap == n) return stop(TableStep::kOverflow);
    out[n] = 0;
  }
  return done(n + 1);
}

// UTF-8 to ISO-8859-1: U+0000..U+00FF are one or two bytes (C2 or C3 and
// a continuation byte); anything else is left to iconv.
template <bool kFill>
TableResult latin1_from_utf8(const unsigned char* s, size_t len, unsigned char* out, size_t cap) noexcept {
  size_t n = 0, i = 0;
  while (i < len) {
    if (i + 8 <= len && s[i] < 0x80) {
      const uint64_t w = load64(s + i);
      if ((w & kHighBits) == 0 && (!kFill || cap - n >= 8)) {
        if (kFill) std::memcpy(out + n, &w, 8);
        n += 8;
        i += 8;
        continue;
      }
    }
    unsigned b = s[i];
    if (b < 0x80) {
      ++i;
    } else {
      // s[i + 1] is at most the terminator, which is no continuation byte.
      if ((b & 0xFE) != 0xC2 || (s[i + 1] & 0xC0) != 0x80) return stop(TableStep::kFallback);
      b = (b & 0x03) << 6 | (s[i + 1] & 0x3Fu);
      i += 2;
    }
    if (kFill) {
      if (cap == n) return stop(TableStep::kOverflow);
      out[n] = static_cast<unsigned char>(b);
    }
    ++n;
  }
  return finish<kFill>(out, n, cap);
}

// Well-formed UTF-8 only (no over-long forms, surrogates or four-byte
// sequences, which no table holds); anything else is left to iconv.
template <bool kFill>
TableResult from_utf8(const CodesetTable& t, const unsigned char* s, size_t len, unsigned char* out,
                      size_t cap) noexcept {
  if (t.latin1) return latin1_from_utf8<kFill>(s, len, out, cap);
  const bool ascii = t.ascii_identity;
  const AsciiSame same(t);
  size_t n = 0, i = 0;
  while (i < len) {
    if (ascii && i + 8 <= len && s[i] < 0x80) {
      const uint64_t w = load64(s + i);
      if ((w & kHighBits) == 0 && (!kFill || cap - n >= 8)) {
        if (kFill) std::memcpy(out + n, &w, 8);
        n += 8;
        i += 8;
        continue;
      }
    }
    // Each continuation byte is tested before the next is read, so nothing
    // past the terminator is.
    const uint32_t b = s[i];
    if (same(b)) {
      if (kFill) {
        if (cap == n) return stop(TableStep::kOverflow);
        out[n] = static_cast<unsigned char>(b);
      }
      ++n;
      ++i;
      continue;
    }
    uint32_t cp = b;
    size_t k = 1;
    if (b >= 0x80) {
      if (b < 0xC2 || b > 0xEF || (s[i + 1] & 0xC0) != 0x80) return stop(TableStep::kFallback);
      const uint32_t c1 = s[i + 1] & 0x3Fu;
      if (b < 0xE0) {
        cp = (b & 0x1F) << 6 | c1;
        k = 2;
      } else {
        if ((b == 0xE0 && c1 < 0x20) || (b == 0xED && c1 >= 0x20) || (s[i + 2] & 0xC0) != 0x80) {
          return stop(TableStep::kFallback);
        }
        cp = (b & 0x0F) << 12 | c1 << 6 | (s[i + 2] & 0x3Fu);
        k = 3;
      }
    }
    const uint16_t e = lookup(t, cp);
    if (e == 0) return stop(TableStep::kFallback);
    if (!put_entry<kFill>(out, &n, cap, e)) return stop(TableStep::kOverflow);
    i += k;
  }
  return finish<kFill>(out, n, cap);
}

// Wide text to a single-byte code set that keeps U+0001..U+00FF outside
// patch_lo..patch_hi as bytes of the same value (t.narrow_patched): those
// sixteen at a time, the others looked up. Every character takes one byte,
// so the destination gets the first min(units, cap) of them.
template <bool kFill>
TableResult narrow_patched(const CodesetTable& t, const unsigned char* uni, size_t units, unsigned char* out,
                           size_t cap) noexcept {
  const size_t count = !kFill || units < cap ? units : cap;
  const uint32_t lo = t.patch_lo, hi = t.patch_hi;
  // The byte of code point u, or 0 when the table has none of one byte.
  const auto byte_of = [&](uint32_t u) -> uint32_t {
    if (u < 0x100 && (u < lo || u > hi)) return u;
    const uint16_t e = lookup(t, u);
    return e <= 0xFF ? e : 0;
  };
  size_t i = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128(), high = _mm_set1_epi32(static_cast<int>(0xFFFFFF00u));
  const __m128i below = _mm_set1_epi32(static_cast<int>(lo) - 1), above = _mm_set1_epi32(static_cast<int>(hi) + 1);
  const auto plain = [&](__m128i x) {
    const __m128i small = _mm_cmpeq_epi32(_mm_and_si128(x, high), zero);
    return _mm_andnot_si128(_mm_and_si128(_mm_cmpgt_epi32(x, below), _mm_cmplt_epi32(x, above)), small);
  };
  for (; i + 16 <= units; i += 16) {
    const auto* p = reinterpret_cast<const __m128i*>(uni + 4 * i);
    const __m128i a = _mm_loadu_si128(p), b = _mm_loadu_si128(p + 1);
    const __m128i c = _mm_loadu_si128(p + 2), d = _mm_loadu_si128(p + 3);
    const __m128i ok = _mm_packs_epi16(_mm_packs_epi32(plain(a), plain(b)), _mm_packs_epi32(plain(c), plain(d)));
    alignas(16) unsigned char bytes[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(bytes),
                    _mm_packus_epi16(_mm_packs_epi32(a, b), _mm_packs_epi32(c, d)));
    for (auto odd = ~static_cast<unsigned>(_mm_movemask_epi8(ok)) & 0xFFFFu; odd != 0; odd &= odd - 1) {
      const auto k = static_cast<size_t>(__builtin_ctz(odd));
      const uint32_t e = byte_of(load32(uni + 4 * (i + k)));
      if (e == 0) return stop(TableStep::kFallback);
      bytes[k] = static_cast<unsigned char>(e);
    }
    if (kFill && i < count) std::memcpy(out + i, bytes, count - i < 16 ? count - i : 16);
  }
#endif
  for (; i < units; ++i) {
    const uint32_t e = byte_of(load32(uni + 4 * i));
    if (e == 0) return stop(TableStep::kFallback);
    if (kFill && i < count) out[i] = static_cast<unsigned char>(e);
  }
  return finish<kFill>(out, count, kFill ? cap : count + 1);
}

// from_wide with room for two bytes a character and the terminator: both
// bytes of an entry are stored at once, the second of a one-byte entry to
// be overwritten by what follows. Two characters a round, tested together
// (any of them outside the tables sends the whole text to iconv).
[[gnu::noinline, gnu::aligned(64)]] TableResult from_wide_roomy(const CodesetTable& t, const unsigned char* uni,
                                                                size_t units, unsigned char* out,
                                                                size_t cap) noexcept {
  size_t n = 0, i = 0;
  const auto put = [&](uint16_t e) {
    std::memcpy(out + n, &e, 2);
    n += 1 + ((e + 0xFF00u) >> 16);  // 2 from 0x100 up
  };
  for (; i + 2 <= units; i += 2) {
    const uint32_t a = load32(uni + 4 * i), b = load32(uni + 4 * i + 4);
    if ((a | b) > 0xFFFF) return stop(TableStep::kFallback);
    const uint16_t ea = t.pages[a >> 8][a & 0xFF], eb = t.pages[b >> 8][b & 0xFF];
    if (ea == 0 || eb == 0) return stop(TableStep::kFallback);
    put(ea);
    put(eb);
  }
  if (i < units) {
    const uint16_t e = lookup(t, load32(uni + 4 * i));
    if (e == 0) return stop(TableStep::kFallback);
    put(e);
  }
  return finish<true>(out, n, cap);
}

template <bool kFill>
TableResult from_wide(const CodesetTable& t, const unsigned char* uni, size_t units, unsigned char* out,
                      size_t cap) noexcept {
  if (t.narrow_patched && !t.latin1) return narrow_patched<kFill>(t, uni, units, out, cap);
  if (t.latin1) {
    const size_t count = !kFill || units < cap ? units : cap;
    if (!narrow_latin1(uni, units, nullptr)) return stop(TableStep::kFallback);
    if (kFill) narrow_latin1(uni, count, out);
    return finish<kFill>(out, count, kFill ? cap : count + 1);
  }
  // ASCII that stays ASCII is in the tables too (page 0 holds it as
  // itself), so every character is one lookup.
  if (kFill && cap / 2 > units) return from_wide_roomy(t, uni, units, out, cap);
  size_t n = 0;
  for (size_t i = 0; i < units; ++i) {
    const uint16_t e = lookup(t, load32(uni + 4 * i));
    if (e == 0) return stop(TableStep::kFallback);
    if (!put_entry<kFill>(out, &n, cap, e)) return stop(TableStep::kOverflow);
  }
  return finish<kFill>(out, n, cap);
}

inline const unsigned char* bytes_of(const void* p) noexcept { return static_cast<const unsigned char*>(p); }
inline unsigned char* bytes_of(void* p) noexcept { return static_cast<unsigned char*>(p); }

// ---- UTF-8 as the server code set -------------------------------------------

// Length of the well-formed UTF-8 character at s (shortest form, no
// surrogate, at most U+10FFFF), its value in *cp; 0 for anything else,
// which iconv decides. Each byte is tested before the next is read, so
// nothing past a NUL is.
inline size_t utf8_char(const unsigned char* s, uint32_t* cp) noexcept {
  const uint32_t b = s[0];
  if (b < 0x80) {
    *cp = b;
    return 1;
  }
  if (b < 0xC2 || b > 0xF4 || (s[1] & 0xC0) != 0x80) return 0;
  const uint32_t c1 = s[1] & 0x3Fu;
  if (b < 0xE0) {
    *cp = (b & 0x1F) << 6 | c1;
    return 2;
  }
  if ((b == 0xE0 && c1 < 0x20) || (b == 0xED && c1 >= 0x20) || (b == 0xF0 && c1 < 0x10) ||
      (b == 0xF4 && c1 >= 0x10) || (s[2] & 0xC0) != 0x80) {
    return 0;
  }
  const uint32_t c2 = s[2] & 0x3Fu;
  if (b < 0xF0) {
    *cp = (b & 0x0F) << 12 | c1 << 6 | c2;
    return 3;
  }
  if ((s[3] & 0xC0) != 0x80) return 0;
  *cp = (b & 0x07) << 18 | c1 << 12 | c2 << 6 | (s[3] & 0x3Fu);
  return 4;
}

// True when the len bytes at s are well-formed UTF-8.
[[gnu::noinline, gnu::aligned(64)]] bool utf8_valid(const unsigned char* s, size_t len) noexcept {
  for (size_t i = 0; i < len;) {
    if (i + 8 <= len && (load64(s + i) & kHighBits) == 0) {
      i += 8;
      continue;
    }
    uint32_t cp;
    const size_t k = utf8_char(s + i, &cp);
    if (k == 0) return false;
    i += k;
  }
  return true;
}

// UTF-8 to UTF-8 (either way): a copy of well-formed text; a destination
// too small gets the whole characters that fit.
template <bool kFill>
TableResult utf8_copy(const unsigned char* s, size_t len, unsigned char* out, size_t cap) noexcept {
  if (!utf8_valid(s, len)) return stop(TableStep::kFallback);
  if (!kFill) return done(len + 1);
  if (len < cap) {
    std::memcpy(out, s, len + 1);
    return done(len + 1);
  }
  size_t n = cap;
  while (n > 0 && (s[n] & 0xC0) == 0x80) --n;  // back to the start of a character
  std::memcpy(out, s, n);
  return stop(TableStep::kOverflow);
}

template <bool kFill>
TableResult utf8_to_wide(const unsigned char* s, size_t len, unsigned char* out, size_t cap) noexcept {
  size_t n = 0, i = 0;
  for (;;) {
    if (i + 8 <= len && s[i] < 0x80) {
      const uint64_t w = load64(s + i);
      if ((w & kHighBits) == 0 && (!kFill || cap - n >= 8)) {
        if (kFill) widen_latin1(s + i, 8, out + 4 * n);
        n += 8;
        i += 8;
        continue;
      }
    }
    uint32_t cp;
    const size_t k = utf8_char(s + i, &cp);
    if (k == 0) return stop(TableStep::kFallback);
    if (kFill) {
      if (cap == n) return stop(TableStep::kOverflow);
      store32(out + 4 * n, cp);
    }
    ++n;
    if (i == len) return done(n);  // the terminator
    i += k;
  }
}

// UTF-8 length of `units` wide characters, or SIZE_MAX when one is a
// surrogate or above U+10FFFF (iconv decides those).
size_t utf8_size_of_wide(const unsigned char* uni, size_t units) noexcept {
  size_t n = units, i = 0;
#if defined(__SSE2__)
  // Signed compares: values from 0x80000000 up are negative and caught by
  // the range test below 0.
  const __m128i c7f = _mm_set1_epi32(0x7F), c7ff = _mm_set1_epi32(0x7FF), cffff = _mm_set1_epi32(0xFFFF);
  const __m128i sur_lo = _mm_set1_epi32(0xD7FF), sur_hi = _mm_set1_epi32(0xE000);
  const __m128i top = _mm_set1_epi32(0x10FFFF), zero = _mm_setzero_si128();
  __m128i extra = zero, bad = zero;
  for (; i + 4 <= units; i += 4) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(uni + 4 * i));
    // Each compare is -1 where it holds: subtracting adds one per byte.
    extra = _mm_sub_epi32(extra, _mm_cmpgt_epi32(x, c7f));
    extra = _mm_sub_epi32(extra, _mm_cmpgt_epi32(x, c7ff));
    extra = _mm_sub_epi32(extra, _mm_cmpgt_epi32(x, cffff));
    bad = _mm_or_si128(bad, _mm_and_si128(_mm_cmpgt_epi32(x, sur_lo), _mm_cmplt_epi32(x, sur_hi)));
    bad = _mm_or_si128(bad, _mm_or_si128(_mm_cmpgt_epi32(x, top), _mm_cmplt_epi32(x, zero)));
  }
  if (_mm_movemask_epi8(bad) != 0) return SIZE_MAX;
  alignas(16) uint32_t lanes[4];
  _mm_store_si128(reinterpret_cast<__m128i*>(lanes), extra);
  n += size_t{lanes[0]} + lanes[1] + lanes[2] + lanes[3];
#endif
  for (; i < units; ++i) {
    const uint32_t cp = load32(uni + 4 * i);
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return SIZE_MAX;
    n += (cp > 0x7F) + (cp > 0x7FF) + (cp > 0xFFFF);
  }
  return n;
}

template <bool kFill>
TableResult utf8_from_wide(const unsigned char* uni, size_t units, unsigned char* out, size_t cap) noexcept {
  if (!kFill) {
    const size_t n = utf8_size_of_wide(uni, units);
    return n == SIZE_MAX ? stop(TableStep::kFallback) : done(n + 1);
  }
  size_t n = 0, i = 0;
  while (i < units) {
    // Four characters at a time: stored at once when all are ASCII.
    size_t block = units - i < 4 ? units - i : 4;
#if defined(__SSE2__)
    if (block == 4 && cap - n >= 4) {
      const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(uni + 4 * i));
      if (_mm_movemask_epi8(_mm_cmpeq_epi32(_mm_and_si128(x, _mm_set1_epi32(~0x7F)), _mm_setzero_si128())) ==
          0xFFFF) {
        const __m128i w = _mm_packs_epi32(x, x);
        store32(out + n, static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(w, w))));
        n += 4;
        i += 4;
        continue;
      }
    }
#endif
    for (; block > 0; --block) {
      const uint32_t cp = load32(uni + 4 * i++);
      if (cp < 0x80 && n < cap) {
        out[n++] = static_cast<unsigned char>(cp);
        continue;
      }
      if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return stop(TableStep::kFallback);
      unsigned char bytes[4];
      const size_t k = utf8_encode(cp, bytes);
      if (cap - n < k) return stop(TableStep::kOverflow);
      for (size_t j = 0; j < k; ++j) out[n + j] = bytes[j];
      n += k;
    }
  }
  return finish<kFill>(out, n, cap);
}

}  // namespace

[[gnu::aligned(64)]] TableResult table_to_utf8(const CodesetTable& t, const char* loc, size_t len, char* utf,
                                               size_t capacity) noexcept {
  if (t.as_utf8) {
    return utf != nullptr ? utf8_copy<true>(bytes_of(loc), len, bytes_of(utf), capacity)
                          : utf8_copy<false>(bytes_of(loc), len, nullptr, 0);
  }
  return utf != nullptr ? to_utf8<true>(t, bytes_of(loc), len, bytes_of(utf), capacity)
                        : to_utf8<false>(t, bytes_of(loc), len, nullptr, 0);
}

[[gnu::aligned(64)]] TableResult table_to_wide(const CodesetTable& t, const char* loc, size_t len, void* uni,
                                               size_t capacity) noexcept {
  if (t.as_utf8) {
    return uni != nullptr ? utf8_to_wide<true>(bytes_of(loc), len, bytes_of(uni), capacity)
                          : utf8_to_wide<false>(bytes_of(loc), len, nullptr, 0);
  }
  return uni != nullptr ? to_wide<true>(t, bytes_of(loc), len, bytes_of(uni), capacity)
                        : to_wide<false>(t, bytes_of(loc), len, nullptr, 0);
}

[[gnu::aligned(64)]] TableResult table_from_utf8(const CodesetTable& t, const char* utf, size_t len, char* loc,
                                                 size_t capacity) noexcept {
  if (t.as_utf8) {
    return loc != nullptr ? utf8_copy<true>(bytes_of(utf), len, bytes_of(loc), capacity)
                          : utf8_copy<false>(bytes_of(utf), len, nullptr, 0);
  }
  return loc != nullptr ? from_utf8<true>(t, bytes_of(utf), len, bytes_of(loc), capacity)
                        : from_utf8<false>(t, bytes_of(utf), len, nullptr, 0);
}

[[gnu::aligned(64)]] TableResult table_from_wide(const CodesetTable& t, const void* uni, size_t units, char* loc,
                                                 size_t capacity) noexcept {
  if (t.as_utf8) {
    return loc != nullptr ? utf8_from_wide<true>(bytes_of(uni), units, bytes_of(loc), capacity)
                          : utf8_from_wide<false>(bytes_of(uni), units, nullptr, 0);
  }
  return loc != nullptr ? from_wide<true>(t, bytes_of(uni), units, bytes_of(loc), capacity)
                        : from_wide<false>(t, bytes_of(uni), units, nullptr, 0);
}

}  // namespace dpxut::charset
