// CRC-32 kernels: byte-wise reference, slicing-by-8 over constexpr tables,
// and on x86-64 carry-less multiplication folds (PCLMULQDQ on 128-bit
// lanes, VPCLMULQDQ on 512-bit registers) chosen once at run time. All
// compute the same register; HVDPGenerateCRC is the export.
#include "sidf/crc32.h"

#include <array>
#include <cstring>

#include "common/export.h"
#include "common/le.h"
#include "dpxut.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace dpxut::sidf {
namespace {

// tables[0] is the classic byte table; tables[k][b] is the register after b
// followed by k zero bytes, which lets eight bytes be folded in one step.
constexpr std::array<std::array<uint32_t, 256>, 8> make_tables() {
  std::array<std::array<uint32_t, 256>, 8> t{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t r = i;
    for (int bit = 0; bit < 8; ++bit) r = (r >> 1) ^ ((r & 1u) ? 0xEDB88320u : 0u);
    t[0][i] = r;
  }
  for (size_t k = 1; k < 8; ++k)
    for (uint32_t i = 0; i < 256; ++i) t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFFu];
  return t;
}
constexpr auto kTables = make_tables();
static_assert(kTables[0][1] == 0x77073096u && kTables[0][255] == 0x2D02EF8Du);

using Kernel = uint32_t (*)(uint32_t, const uint8_t*, size_t) noexcept;

Kernel select_kernel() noexcept {
#if defined(__x86_64__)
  if (crc32_vclmul_usable()) return crc32_vclmul;
  if (crc32_clmul_usable()) return crc32_clmul;
#endif
  return crc32_slice8;
}

}  // namespace

uint32_t crc32_bytewise(uint32_t crc, const uint8_t* p, size_t n) noexcept {
  for (size_t i = 0; i < n; ++i) crc = (crc >> 8) ^ kTables[0][(crc ^ p[i]) & 0xFFu];
  return crc;
}

uint32_t crc32_slice8(uint32_t crc, const uint8_t* p, size_t n) noexcept {
  for (; n >= 8; p += 8, n -= 8) {
    const uint32_t lo = load_le32(p) ^ crc;
    const uint32_t hi = load_le32(p + 4);
    crc = kTables[7][lo & 0xFFu] ^ kTables[6][(lo >> 8) & 0xFFu] ^ kTables[5][(lo >> 16) & 0xFFu] ^
          kTables[4][lo >> 24] ^ kTables[3][hi & 0xFFu] ^ kTables[2][(hi >> 8) & 0xFFu] ^
          kTables[1][(hi >> 16) & 0xFFu] ^ kTables[0][hi >> 24];
  }
  return crc32_bytewise(crc, p, n);
}

#if defined(__x86_64__)

bool crc32_clmul_usable() noexcept {
  __builtin_cpu_init();
  return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
}

#define DPXUT_CLMUL __attribute__((target("pclmul,sse4.1")))

DPXUT_CLMUL static inline __m128i load128(const uint8_t* q) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
}
// x * k folded onto next: (x.lo * k.lo) ^ (x.hi * k.hi) ^ next.
DPXUT_CLMUL static inline __m128i fold(__m128i x, __m128i k, __m128i next) {
  return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11)),
                       next);
}

// Folding with carry-less multiplication over 64-byte blocks: four 128-bit
// lanes are each multiplied by x^(512) mod P (k1, k2) and added to the next
// block, then folded into one lane (k3, k4), reduced to 64 bits (k5) and
// Barrett-reduced (P and its inverse mu) to the 32-bit register. The
// constants are for the reflected polynomial, shifted left by one.
// The four lanes x1..x4 hold the folded bytes before p; n bytes remain.
DPXUT_CLMUL static inline uint32_t clmul_rest(__m128i x1, __m128i x2, __m128i x3, __m128i x4, const uint8_t* p,
                                              size_t n) {
  const __m128i k1k2 = _mm_set_epi64x(0x01c6e41596, 0x0154442bd4);
  const __m128i k3k4 = _mm_set_epi64x(0x00ccaa009e, 0x01751997d0);
  const __m128i k5k0 = _mm_set_epi64x(0, 0x0163cd6124);
  const __m128i poly = _mm_set_epi64x(0x01f7011641, 0x01db710641);
  const auto load = load128;
  for (; n >= 64; p += 64, n -= 64) {
    x1 = fold(x1, k1k2, load(p));
    x2 = fold(x2, k1k2, load(p + 16));
    x3 = fold(x3, k1k2, load(p + 32));
    x4 = fold(x4, k1k2, load(p + 48));
  }
  x1 = fold(x1, k3k4, x2);
  x1 = fold(x1, k3k4, x3);
  x1 = fold(x1, k3k4, x4);
  for (; n >= 16; p += 16, n -= 16) x1 = fold(x1, k3k4, load(p));

  // 128 -> 64 bits.
  const __m128i mask32 = _mm_setr_epi32(-1, 0, -1, 0);
  __m128i x2b = _mm_clmulepi64_si128(x1, k3k4, 0x10);
  x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), x2b);
  x2b = _mm_srli_si128(x1, 4);
  x1 = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x1, mask32), k5k0, 0x00), x2b);
  // Barrett reduction to 32 bits.
  __m128i t = _mm_clmulepi64_si128(_mm_and_si128(x1, mask32), poly, 0x10);
  t = _mm_clmulepi64_si128(_mm_and_si128(t, mask32), poly, 0x00);
  x1 = _mm_xor_si128(x1, t);
  const auto crc = static_cast<uint32_t>(_mm_extract_epi32(x1, 1));
  return crc32_slice8(crc, p, n);
}

DPXUT_CLMUL uint32_t crc32_clmul(uint32_t crc, const uint8_t* p, size_t n) noexcept {
  if (n < 64) return crc32_slice8(crc, p, n);
  const __m128i x1 = _mm_xor_si128(load128(p), _mm_cvtsi32_si128(static_cast<int>(crc)));
  return clmul_rest(x1, load128(p + 16), load128(p + 32), load128(p + 48), p + 64, n - 64);
}

bool crc32_vclmul_usable() noexcept {
  __builtin_cpu_init();
  return crc32_clmul_usable() && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("vpclmulqdq");
}

#define DPXUT_VCLMUL __attribute__((target("pclmul,sse4.1,avx512f,vpclmulqdq")))

DPXUT_VCLMUL static inline __m512i load512(const uint8_t* q) { return _mm512_loadu_si512(q); }
// The same fold on four 128-bit lanes at once.
DPXUT_VCLMUL static inline __m512i fold4(__m512i x, __m512i k, __m512i next) {
  return _mm512_ternarylogic_epi64(_mm512_clmulepi64_epi128(x, k, 0x00), _mm512_clmulepi64_epi128(x, k, 0x11), next,
                                   0x96);
}

// Four 512-bit registers over 256-byte blocks, each multiplied by x^(2048)
// mod P (constants x^2080 and x^2016) and added to the next block; then
// folded into the last register (the 64-byte constants), whose four lanes
// are where the 128-bit fold goes on.
DPXUT_VCLMUL uint32_t crc32_vclmul(uint32_t crc, const uint8_t* p, size_t n) noexcept {
  if (n < 512) return crc32_clmul(crc, p, n);
  const __m512i k256 = _mm512_broadcast_i32x4(_mm_set_epi64x(0x01322d1430, 0x011542778a));
  const __m512i k64 = _mm512_broadcast_i32x4(_mm_set_epi64x(0x01c6e41596, 0x0154442bd4));
  __m512i z0 = _mm512_xor_si512(load512(p), _mm512_zextsi128_si512(_mm_cvtsi32_si128(static_cast<int>(crc))));
  __m512i z1 = load512(p + 64), z2 = load512(p + 128), z3 = load512(p + 192);
  p += 256;
  n -= 256;
  for (; n >= 256; p += 256, n -= 256) {
    z0 = fold4(z0, k256, load512(p));
    z1 = fold4(z1, k256, load512(p + 64));
    z2 = fold4(z2, k256, load512(p + 128));
    z3 = fold4(z3, k256, load512(p + 192));
  }
  z1 = fold4(z0, k64, z1);
  z2 = fold4(z1, k64, z2);
  z3 = fold4(z2, k64, z3);
  return clmul_rest(_mm512_extracti32x4_epi32(z3, 0), _mm512_extracti32x4_epi32(z3, 1),
                    _mm512_extracti32x4_epi32(z3, 2), _mm512_extracti32x4_epi32(z3, 3), p, n);
}

#else

bool crc32_clmul_usable() noexcept { return false; }
uint32_t crc32_clmul(uint32_t crc, const uint8_t* p, size_t n) noexcept { return crc32_slice8(crc, p, n); }
bool crc32_vclmul_usable() noexcept { return false; }
uint32_t crc32_vclmul(uint32_t crc, const uint8_t* p, size_t n) noexcept { return crc32_slice8(crc, p, n); }

#endif

uint32_t crc32_update(uint32_t crc, const uint8_t* data, size_t length) noexcept {
  static const Kernel kernel = select_kernel();
  return kernel(crc, data, length);
}

}  // namespace dpxut::sidf

DPXUT_EXPORT uint32_t HVDPGenerateCRC(uint32_t length, uint32_t crc, const uint8_t* data) {
  if (data == nullptr || length == 0) return crc;
  return dpxut::sidf::crc32_update(crc, data, length);
}
