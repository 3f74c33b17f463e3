// The AVX2 conversion kernel over the passes of utf8_blocks.h: ASCII blocks
// of 32 bytes (elements), and byte shuffles from two tables that decode 16
// bytes of mixed UTF-8 or encode 4 or 8 mixed characters at once. Selected
// at run time where the processor (and the system, which must save the
// 256-bit registers) supports AVX2.
#if defined(__x86_64__)

#include <immintrin.h>

#include <array>
#include <bit>
#include <cstring>

#include "charset/utf8.h"
#include "common/le.h"
#include "common/wide.h"
#include "dpxut.h"

namespace dpxut::utf8 {

bool avx2_usable() noexcept {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
}

namespace {

// Byte shuffles that squeeze four 4-byte words, each holding the UTF-8
// bytes of one character from its low end, into their 1 to 3 bytes. Entry
// (two | three << 4) serves the four characters whose bits are set in
// `two` (at or above 0x80) and `three` (at or above 0x800); a set bit in
// three always has its bit in two. Unused bytes select zero (0x80).
struct Squeeze {
  alignas(16) std::array<std::array<uint8_t, 16>, 256> shuffle;
  std::array<uint8_t, 256> length;
};

constexpr Squeeze make_squeeze() {
  Squeeze t{};
  for (unsigned index = 0; index < 256; ++index) {
    unsigned pos = 0;
    for (unsigned k = 0; k < 4; ++k) {
      const unsigned n = 1 + ((index >> k) & 1) + ((index >> (k + 4)) & 1);
      for (unsigned b = 0; b < n; ++b) t.shuffle[index][pos++] = static_cast<uint8_t>(4 * k + b);
    }
    t.length[index] = static_cast<uint8_t>(pos);
    for (; pos < 16; ++pos) t.shuffle[index][pos] = 0x80;
  }
  return t;
}

constexpr Squeeze kSqueeze = make_squeeze();

// Byte shuffles that pick the 16-bit lanes whose bits are set in an 8-bit
// mask, in order, to the low end; count is the number picked.
struct Pick {
  alignas(16) std::array<std::array<uint8_t, 16>, 256> shuffle;
  std::array<uint8_t, 256> count;
};

constexpr Pick make_pick() {
  Pick t{};
  for (unsigned mask = 0; mask < 256; ++mask) {
    unsigned pos = 0;
    for (unsigned k = 0; k < 8; ++k) {
      if ((mask >> k & 1) == 0) continue;
      t.shuffle[mask][pos++] = static_cast<uint8_t>(2 * k);
      t.shuffle[mask][pos++] = static_cast<uint8_t>(2 * k + 1);
    }
    t.count[mask] = static_cast<uint8_t>(pos / 2);
    for (; pos < 16; ++pos) t.shuffle[mask][pos] = 0x80;
  }
  return t;
}

constexpr Pick kPick = make_pick();

}  // namespace
}  // namespace dpxut::utf8

// From here on every function is compiled for AVX2; it runs only once
// avx2_usable() has said yes.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2")
#endif

#include "charset/utf8_blocks.h"

namespace dpxut::utf8 {
namespace {

inline __m256i load32(const void* p) noexcept { return _mm256_loadu_si256(static_cast<const __m256i*>(p)); }
inline void store32(void* p, __m256i v) noexcept { _mm256_storeu_si256(static_cast<__m256i*>(p), v); }

// The 32-bit lane operations of the UTF-8 word builder at either width.
struct Ops128 {
  __m128i set1(int v) const noexcept { return _mm_set1_epi32(v); }
  __m128i and_(__m128i a, __m128i b) const noexcept { return _mm_and_si128(a, b); }
  __m128i or_(__m128i a, __m128i b) const noexcept { return _mm_or_si128(a, b); }
  __m128i slli(__m128i a, int n) const noexcept { return _mm_sll_epi32(a, _mm_cvtsi32_si128(n)); }
  __m128i srli(__m128i a, int n) const noexcept { return _mm_srl_epi32(a, _mm_cvtsi32_si128(n)); }
  __m128i cmpgt(__m128i a, __m128i b) const noexcept { return _mm_cmpgt_epi32(a, b); }
  __m128i blendv(__m128i a, __m128i b, __m128i m) const noexcept { return _mm_blendv_epi8(a, b, m); }
};
struct Ops256 {
  __m256i set1(int v) const noexcept { return _mm256_set1_epi32(v); }
  __m256i and_(__m256i a, __m256i b) const noexcept { return _mm256_and_si256(a, b); }
  __m256i or_(__m256i a, __m256i b) const noexcept { return _mm256_or_si256(a, b); }
  __m256i slli(__m256i a, int n) const noexcept { return _mm256_sll_epi32(a, _mm_cvtsi32_si128(n)); }
  __m256i srli(__m256i a, int n) const noexcept { return _mm256_srl_epi32(a, _mm_cvtsi32_si128(n)); }
  __m256i cmpgt(__m256i a, __m256i b) const noexcept { return _mm256_cmpgt_epi32(a, b); }
  __m256i blendv(__m256i a, __m256i b, __m256i m) const noexcept { return _mm256_blendv_epi8(a, b, m); }
};

// Stores the first n (0..8) 32-bit lanes of v at p and nothing else.
inline void store_lanes(void* p, __m256i v, size_t n) noexcept {
  static constexpr int32_t kFirst[16] = {-1, -1, -1, -1, -1, -1, -1, -1};
  _mm256_maskstore_epi32(static_cast<int*>(p), _mm256_loadu_si256(reinterpret_cast<const __m256i*>(kFirst + 8 - n)), v);
}

struct Avx2Blocks {
  static constexpr size_t kBlock = 32;
  static constexpr size_t kEncode8Room = 28;
  static constexpr size_t kEncode4Room = 16;
  static constexpr bool kDecodes = true;

  static uint32_t high(const unsigned char* p) noexcept {
    return static_cast<uint32_t>(_mm256_movemask_epi8(load32(p)));
  }

  static void widen(unsigned char* dst, const unsigned char* src) noexcept {
    widen16(dst, src);
    widen16(dst + 64, src + 16);
  }
  static void widen16(unsigned char* dst, const unsigned char* src) noexcept {
    for (int k = 0; k < 2; ++k) {
      store32(dst + 32 * k, _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(src + 8 * k))));
    }
  }

  // The packs work within 128-bit lanes, which leaves the groups of four
  // bytes in the order 0 2 4 6 1 3 5 7; the permutation puts them back.
  static size_t narrow(unsigned char* dst, const unsigned char* src) noexcept {
    const __m256i low = _mm256_set1_epi32(0xFFFF);
    const __m256i ab = _mm256_packs_epi32(_mm256_and_si256(load32(src), low), _mm256_and_si256(load32(src + 32), low));
    const __m256i cd =
        _mm256_packs_epi32(_mm256_and_si256(load32(src + 64), low), _mm256_and_si256(load32(src + 96), low));
    const __m256i bytes =
        _mm256_permutevar8x32_epi32(_mm256_packus_epi16(ab, cd), _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7));
    store32(dst, bytes);
    return run_of(static_cast<uint32_t>(_mm256_movemask_epi8(bytes)), 32);
  }

  // Characters become words of their UTF-8 bytes from the low end: the
  // 1-, 2- and 3-byte forms are all made and the right one chosen per lane.
  template <typename V, typename I>
  static V utf8_words(V v, I i, V* two, V* three) noexcept {
    const V six = i.set1(0x3F), mark = i.set1(0x80);
    const V last = i.slli(i.or_(i.and_(v, six), mark), 8);
    const V two_bytes = i.or_(i.or_(i.srli(v, 6), i.set1(0xC0)), last);
    const V middle = i.or_(i.and_(i.srli(v, 6), six), mark);
    const V three_bytes = i.or_(i.or_(i.srli(v, 12), i.set1(0xE0)), i.or_(i.slli(middle, 8), i.slli(last, 8)));
    *two = i.cmpgt(v, i.set1(0x7F));
    *three = i.cmpgt(v, i.set1(0x7FF));
    return i.blendv(i.blendv(v, two_bytes, *two), three_bytes, *three);
  }

  // Four characters as four words, squeezed by their table entry (index:
  // the lanes at or above 0x80, then those at or above 0x800). Writes 16
  // bytes.
  static size_t encode4(unsigned char* dst, const unsigned char* src) noexcept {
    __m128i two, three;
    const __m128i words = utf8_words(_mm_and_si128(load16(src), _mm_set1_epi32(0xFFFF)), Ops128{}, &two, &three);
    const auto index = static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(two)) |
                                             _mm_movemask_ps(_mm_castsi128_ps(three)) << 4);
    store16(dst, _mm_shuffle_epi8(words, load16(kSqueeze.shuffle[index].data())));
    return kSqueeze.length[index];
  }

  // The same when fewer than 16 bytes are left before the terminator's
  // place: stored as whole 32-bit words with a mask, so the store ends at
  // most 3 bytes after the characters; 0 (nothing stored) when even that
  // does not fit the room.
  static size_t encode4_within(unsigned char* dst, const unsigned char* src, size_t room) noexcept {
    __m128i two, three;
    const __m128i words = utf8_words(_mm_and_si128(load16(src), _mm_set1_epi32(0xFFFF)), Ops128{}, &two, &three);
    const auto index = static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(two)) |
                                             _mm_movemask_ps(_mm_castsi128_ps(three)) << 4);
    const size_t bytes = kSqueeze.length[index], lanes = (bytes + 3) / 4;
    if (4 * lanes > room) return 0;
    static constexpr int32_t kFirst[8] = {-1, -1, -1, -1};
    _mm_maskstore_epi32(reinterpret_cast<int*>(dst), load16(kFirst + 4 - lanes),
                        _mm_shuffle_epi8(words, load16(kSqueeze.shuffle[index].data())));
    return bytes;
  }

  // Eight at once, each 128-bit half squeezed by its own entry and the
  // second stored where the first one's bytes end. Writes up to 28 bytes.
  static size_t encode8(unsigned char* dst, const unsigned char* src) noexcept {
    __m256i two, three;
    const __m256i words = utf8_words(_mm256_and_si256(load32(src), _mm256_set1_epi32(0xFFFF)), Ops256{}, &two, &three);
    const auto twos = static_cast<unsigned>(_mm256_movemask_ps(_mm256_castsi256_ps(two)));
    const auto threes = static_cast<unsigned>(_mm256_movemask_ps(_mm256_castsi256_ps(three)));
    const unsigned lo = (twos & 0xF) | (threes & 0xF) << 4, hi = twos >> 4 | (threes & 0xF0);
    const __m256i bytes = _mm256_shuffle_epi8(
        words, _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(kSqueeze.shuffle[hi].data()),
                                   reinterpret_cast<const __m128i*>(kSqueeze.shuffle[lo].data())));
    store16(dst, _mm256_castsi256_si128(bytes));
    const size_t first = kSqueeze.length[lo];
    store16(dst + first, _mm256_extracti128_si256(bytes, 1));
    return first + kSqueeze.length[hi];
  }

  // Every byte position of x decoded as if a character began there, from
  // the bytes one and two after each (y1, y2); 16-bit values.
  static __m256i values(__m128i x, __m128i y1, __m128i y2) noexcept {
    const __m256i b0 = _mm256_cvtepu8_epi16(x);
    const __m256i six = _mm256_set1_epi16(0x3F);
    const __m256i c1 = _mm256_and_si256(_mm256_cvtepu8_epi16(y1), six);
    const __m256i c2 = _mm256_and_si256(_mm256_cvtepu8_epi16(y2), six);
    const __m256i v2 = _mm256_or_si256(_mm256_slli_epi16(_mm256_and_si256(b0, _mm256_set1_epi16(0x1F)), 6), c1);
    const __m256i v3 = _mm256_or_si256(_mm256_slli_epi16(b0, 12), _mm256_or_si256(_mm256_slli_epi16(c1, 6), c2));
    const __m256i two = _mm256_cmpgt_epi16(b0, _mm256_set1_epi16(0xBF));
    const __m256i three = _mm256_cmpgt_epi16(b0, _mm256_set1_epi16(0xDF));
    return _mm256_blendv_epi8(_mm256_blendv_epi8(b0, v2, two), v3, three);
  }

  // The values at the lead positions set in `leads`, in order, as 32-bit
  // elements: each 128-bit half is picked by its table entry. Returns the
  // halves and the number in the first.
  static size_t pick(__m256i values, unsigned leads, __m256i* first, __m256i* second) noexcept {
    const unsigned lo = leads & 0xFF, hi = leads >> 8;
    const __m256i shuffle = _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(kPick.shuffle[hi].data()),
                                                reinterpret_cast<const __m128i*>(kPick.shuffle[lo].data()));
    const __m256i picked = _mm256_shuffle_epi8(values, shuffle);
    *first = _mm256_cvtepu16_epi32(_mm256_castsi256_si128(picked));
    *second = _mm256_cvtepu16_epi32(_mm256_extracti128_si256(picked, 1));
    return kPick.count[lo];
  }

  static unsigned lead_bits(__m128i x) noexcept {
    return ~static_cast<unsigned>(_mm_movemask_epi8(_mm_cmplt_epi8(x, _mm_set1_epi8(-64)))) & 0xFFFF;
  }

  // The characters whose lead bytes are among the 16 at src, read with the
  // two bytes after; stores 16 elements at dst and returns how many are
  // characters.
  static size_t decode16(unsigned char* dst, const unsigned char* src) noexcept {
    const __m128i x = load16(src);
    const unsigned leads = lead_bits(x);
    __m256i first, second;
    const size_t n = pick(values(x, load16(src + 1), load16(src + 2)), leads, &first, &second);
    store32(dst, first);
    store32(dst + 4 * n, second);
    return n + kPick.count[leads >> 8];
  }

  // The characters whose lead bytes are among bytes old..14 of the 16 at
  // window, which end with the terminator; stores exactly those elements.
  static void decode_last(unsigned char* dst, const unsigned char* window, size_t old) noexcept {
    const __m128i x = load16(window);
    const unsigned leads = lead_bits(x) & (0x7FFFu << old) & 0x7FFF;
    __m256i first, second;
    const size_t n = pick(values(x, _mm_srli_si128(x, 1), _mm_srli_si128(x, 2)), leads, &first, &second);
    store_lanes(dst, first, n);
    store_lanes(dst + 4 * n, second, kPick.count[leads >> 8]);
  }

  // As in the SSE2 kernel, twice as wide.
  static size_t extra_bytes(const unsigned char* src, size_t blocks) noexcept {
    const __m256i low = _mm256_set1_epi32(0xFFFF), above1 = _mm256_set1_epi16(0x7F), above2 = _mm256_set1_epi16(0x7FF);
    size_t extra = 0;
    while (blocks > 0) {
      size_t turns = blocks < 8191 ? blocks : 8191;
      blocks -= turns;
      __m256i lanes = _mm256_setzero_si256();
      for (; turns > 0; --turns, src += 128) {
        const __m256i a =
            _mm256_packs_epi32(_mm256_and_si256(load32(src), low), _mm256_and_si256(load32(src + 32), low));
        const __m256i b =
            _mm256_packs_epi32(_mm256_and_si256(load32(src + 64), low), _mm256_and_si256(load32(src + 96), low));
        lanes = _mm256_sub_epi16(lanes, _mm256_add_epi16(_mm256_cmpgt_epi16(a, above1), _mm256_cmpgt_epi16(a, above2)));
        lanes = _mm256_sub_epi16(lanes, _mm256_add_epi16(_mm256_cmpgt_epi16(b, above1), _mm256_cmpgt_epi16(b, above2)));
      }
      const __m256i wide_sums = _mm256_madd_epi16(lanes, _mm256_set1_epi16(1));
      __m128i sums = _mm_add_epi32(_mm256_castsi256_si128(wide_sums), _mm256_extracti128_si256(wide_sums, 1));
      sums = _mm_add_epi32(sums, _mm_shuffle_epi32(sums, 0x4E));
      sums = _mm_add_epi32(sums, _mm_shuffle_epi32(sums, 0xB1));
      extra += static_cast<uint32_t>(_mm_cvtsi128_si32(sums));
    }
    return extra;
  }
};

}  // namespace
}  // namespace dpxut::utf8

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

namespace dpxut::utf8 {
constinit const Kernels kAvx2Kernels = kernels_over<Avx2Blocks>();
}  // namespace dpxut::utf8

#endif
