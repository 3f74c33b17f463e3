// UTF-8 <-> wide conversion: the exported coder table and one-character
// coder that walks it, the portable kernel of the sizing and filling passes
// (the reference of the x86-64 kernels), the one kernel pointer every
// conversion goes through, and the two public entry points. Only 16 bits of
// a character survive a conversion; that is the stored format of wide names
// and is kept as is.
#include "charset/utf8.h"

#include <atomic>
#include <cstring>

#include "common/export.h"
#include "common/le.h"
#include "common/wide.h"
#include "dpxut.h"

// Row n describes sequences of n bytes; the seventh row ends the table.
// The coder reads it under a hidden name that binds inside the library, so
// a host's own global `tab` (a common name) cannot take its place; the
// exported `tab` is the same object.
extern "C" __attribute__((visibility("hidden"))) const DPutf8TabRow dpxut_utf8_tab[7] = {
    {0x80, 0x00, 0, 0x7F, 0},
    {0xE0, 0xC0, 6, 0x7FF, 0x80},
    {0xF0, 0xE0, 12, 0xFFFF, 0x800},
    {0xF8, 0xF0, 18, 0x1FFFFF, 0x10000},
    {0xFC, 0xF8, 24, 0x3FFFFFF, 0x200000},
    {0xFE, 0xFC, 30, 0x7FFFFFFF, 0x4000000},
    {0, 0, 0, 0, 0},
};
DPXUT_EXPORT const DPutf8TabRow tab[7] __attribute__((alias("dpxut_utf8_tab")));

namespace dpxut::utf8 {

namespace {

constexpr uint64_t kHighBits = 0x8080808080808080ull;

// Eight ASCII bytes at src become eight wide elements at dst (any
// alignment).
inline void widen8(unsigned char* dst, const unsigned char* src) noexcept {
  for (int k = 0; k < 8; ++k) store_le32(dst + 4 * k, src[k]);
}

// When the eight elements at src all have low 16 bits below 0x80, writes
// their low bytes to dst and returns true; otherwise writes nothing.
inline bool narrow8(unsigned char* dst, const unsigned char* src) noexcept {
  uint32_t any = 0;
  for (int k = 0; k < 8; ++k) any |= load_le32(src + 4 * k);
  if (any & 0xFF80u) return false;
  for (int k = 0; k < 8; ++k) dst[k] = src[4 * k];
  return true;
}

}  // namespace

namespace portable {

// The ASCII runs are taken eight bytes at a time once the string's length
// is known, so no load ever reaches beyond the terminator.
Pass measure_utf8(const char* utf) noexcept {
  auto p = reinterpret_cast<const unsigned char*>(utf);
  const unsigned char* end = p + std::strlen(utf);
  size_t count = 0;
  while (p < end) {
    if (*p < 0x80 && end - p >= 8 && (load_le64(p) & kHighBits) == 0) {
      p += 8, count += 8;
      continue;
    }
    uint16_t v;
    int n = decode(p, &v);
    if (n < 0) return {HVDPUT_INVALID_PARAMETER, 0};
    p += n, ++count;
  }
  return {0, count};
}

Pass utf8_to_wide(void* uni, const char* utf, size_t capacity) noexcept {
  if (capacity == 0) return {HVDPUT_OVERFLOW, 0};
  auto p = reinterpret_cast<const unsigned char*>(utf);
  const unsigned char* end = p + std::strlen(utf);
  auto out = static_cast<unsigned char*>(uni);
  size_t i = 0;
  // Invariant: i <= capacity, and elements [0, i) hold the characters
  // before p. decode() stops at the terminator, so p never passes end.
  while (p < end) {
    if (*p < 0x80 && end - p >= 8 && capacity - i >= 8 && (load_le64(p) & kHighBits) == 0) {
      widen8(wide::at(out, i), p);
      p += 8, i += 8;
      continue;
    }
    if (i >= capacity) return {HVDPUT_OVERFLOW, 0};
    uint16_t v;
    int n = decode(p, &v);
    if (n < 0) return {HVDPUT_INVALID_PARAMETER, 0};
    wide::store(out, i++, static_cast<wchar_t>(v));
    p += n;
  }
  if (i >= capacity) return {HVDPUT_OVERFLOW, 0};
  wide::store(out, i, 0);
  return {0, i};
}

// One byte per element, plus one for each low half at or above 0x80 and one
// more at or above 0x800.
Pass measure_wide(const void* uni) noexcept {
  const size_t len = wide::length(uni);
  size_t bytes = len;
  for (size_t i = 0; i < len; ++i) bytes += encoded_length(static_cast<uint16_t>(wide::load(uni, i))) - 1;
  return {0, bytes};
}

Pass wide_to_utf8(char* utf, const void* uni, size_t capacity) noexcept {
  if (capacity == 0) return {HVDPUT_OVERFLOW, 0};
  size_t len = wide::length(uni);
  auto out = reinterpret_cast<unsigned char*>(utf);
  size_t pos = 0;
  size_t i = 0;
  // Invariant: pos <= capacity, bytes [0, pos) encode elements [0, i).
  while (i < len) {
    if ((wide::load(uni, i) & 0xFF80) == 0 && len - i >= 8 && capacity - pos >= 8 &&
        narrow8(out + pos, wide::at(uni, i))) {
      i += 8, pos += 8;
      continue;
    }
    auto v = static_cast<uint16_t>(wide::load(uni, i));
    if (encoded_length(v) > capacity - pos) return {HVDPUT_OVERFLOW, 0};
    pos += encode(out + pos, v);
    ++i;
  }
  if (pos >= capacity) return {HVDPUT_OVERFLOW, 0};
  out[pos] = 0;
  return {0, pos};
}

}  // namespace portable

namespace {

constexpr Kernels kPortableKernels = {portable::measure_utf8, portable::utf8_to_wide, portable::measure_wide,
                                      portable::wide_to_utf8};

// Null until the first conversion selects; the selection gives the same
// answer in every thread, so a race only repeats it.
std::atomic<const Kernels*> active_kernels{nullptr};

inline const Kernels& kernels() noexcept {
  const Kernels* k = active_kernels.load(std::memory_order_relaxed);
  if (k == nullptr) {
#if defined(__x86_64__)
    k = avx2_usable() ? &kAvx2Kernels : &kSse2Kernels;
#else
    k = &kPortableKernels;
#endif
    active_kernels.store(k, std::memory_order_relaxed);
  }
  return *k;
}

}  // namespace

const Kernels* kernels_of(Kernel k) noexcept {
  switch (k) {
    case Kernel::kPortable:
      return &kPortableKernels;
#if defined(__x86_64__)
    case Kernel::kSse2:
      return &kSse2Kernels;
    case Kernel::kAvx2:
      return avx2_usable() ? &kAvx2Kernels : nullptr;
#endif
    default:
      return nullptr;
  }
}

bool force_kernel(Kernel k) noexcept {
  const Kernels* chosen = kernels_of(k);
  if (chosen != nullptr) active_kernels.store(chosen, std::memory_order_relaxed);
  return chosen != nullptr;
}

Pass measure_utf8(const char* utf) noexcept { return kernels().measure_utf8(utf); }
Pass utf8_to_wide(void* uni, const char* utf, size_t capacity) noexcept {
  return kernels().utf8_to_wide(uni, utf, capacity);
}
Pass measure_wide(const void* uni) noexcept { return kernels().measure_wide(uni); }
Pass wide_to_utf8(char* utf, const void* uni, size_t capacity) noexcept {
  return kernels().wide_to_utf8(utf, uni, capacity);
}

}  // namespace dpxut::utf8

using dpxut::utf8::Pass;

// The table walk: the lead byte's row is found by shifting in one
// continuation byte per row until the lead byte matches the row's pattern,
// so a stray lead byte fails at the first non-continuation byte (a NUL
// included) or at the end row, after at most 7 bytes.
DPXUT_EXPORT int dp_utf2uni(uint16_t* uni, const char* utf) {
  if (utf == nullptr) return 0;
  auto s = reinterpret_cast<const unsigned char*>(utf);
  const int64_t c0 = s[0];
  int64_t v = c0;
  int row = 0;
  while ((c0 & dpxut_utf8_tab[row].cmask) != dpxut_utf8_tab[row].cval) {
    unsigned payload = s[row + 1] ^ 0x80u;
    if (payload & 0xC0u) return -1;
    ++row;
    if (dpxut_utf8_tab[row].cmask == 0) return -1;
    v = (v << 6) | payload;
  }
  v &= dpxut_utf8_tab[row].lmask;
  if (v < dpxut_utf8_tab[row].lval) return -1;
  if (uni != nullptr) *uni = static_cast<uint16_t>(v);
  return row + 1;
}

DPXUT_EXPORT int dp_uni2utf(char* utf, uint16_t uni) {
  if (utf == nullptr) return 0;
  const int64_t v = uni;
  int row = 0;
  for (; dpxut_utf8_tab[row].lmask < v; ++row) {
    if (dpxut_utf8_tab[row].cmask == 0) return -1;
  }
  auto out = reinterpret_cast<unsigned char*>(utf);
  int shift = dpxut_utf8_tab[row].shift;
  *out++ = static_cast<unsigned char>((v >> shift) | dpxut_utf8_tab[row].cval);
  while (shift > 0) {
    shift -= 6;
    *out++ = static_cast<unsigned char>(((v >> shift) & 0x3F) | 0x80);
  }
  return row + 1;
}

namespace {

namespace utf8 = dpxut::utf8;

// The calling convention of the conversions: a null source or size is
// rejected; a null destination sizes, otherwise *size is the capacity.
// *size receives the length only on success.
template <typename Dst, typename Src>
uint32_t convert(Dst* dst, const Src* src, size_t* size, Pass (*measure)(const void*),
                 Pass (*fill)(Dst*, const Src*, size_t)) {
  if (src == nullptr || size == nullptr) return HVDPUT_INVALID_PARAMETER;
  Pass r = dst == nullptr ? measure(src) : fill(dst, src, *size);
  if (r.code == 0) *size = r.count;
  return r.code;
}

Pass measure_utf8(const void* utf) { return utf8::measure_utf8(static_cast<const char*>(utf)); }
Pass to_wide(wchar_t* uni, const char* utf, size_t capacity) { return utf8::utf8_to_wide(uni, utf, capacity); }
Pass to_utf8(char* utf, const wchar_t* uni, size_t capacity) { return utf8::wide_to_utf8(utf, uni, capacity); }

// The low-level filling passes return a count or a completion code in one
// value (a count never reaches the codes: it would need a 4 GiB string).
template <typename Dst, typename Src>
size_t fill_or_code(Dst* dst, const Src* src, size_t capacity, Pass (*fill)(Dst*, const Src*, size_t)) {
  if (dst == nullptr || src == nullptr) return HVDPUT_INVALID_PARAMETER;
  Pass r = fill(dst, src, capacity);
  return r.code != 0 ? r.code : r.count;
}

}  // namespace

DPXUT_EXPORT uint32_t dp_utfs2unisize(const char* utf, size_t* count) {
  return convert<wchar_t>(nullptr, utf, count, measure_utf8, to_wide);
}

DPXUT_EXPORT uint32_t dp_unis2utfsize(const wchar_t* uni, size_t* bytes) {
  return convert<char>(nullptr, uni, bytes, utf8::measure_wide, to_utf8);
}

DPXUT_EXPORT size_t dp_utfs2unis(wchar_t* uni, const char* utf, size_t capacity) {
  return fill_or_code(uni, utf, capacity, to_wide);
}

DPXUT_EXPORT size_t dp_unis2utfs(char* utf, const wchar_t* uni, size_t capacity) {
  return fill_or_code(utf, uni, capacity, to_utf8);
}

DPXUT_EXPORT uint32_t DPutf82uni(wchar_t* uni, const char* utf, size_t* size) {
  return convert(uni, utf, size, measure_utf8, to_wide);
}

DPXUT_EXPORT uint32_t DPuni2utf8(char* utf, const wchar_t* uni, size_t* size) {
  return convert(utf, uni, size, utf8::measure_wide, to_utf8);
}
