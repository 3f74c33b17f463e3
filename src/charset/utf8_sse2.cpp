// The SSE2 conversion kernel, which every x86-64 processor runs: ASCII
// blocks of 16 bytes (elements) over the passes of utf8_blocks.h.
#if defined(__x86_64__)

#include <emmintrin.h>

#include "charset/utf8.h"
#include "charset/utf8_blocks.h"

namespace dpxut::utf8 {
namespace {

struct Sse2Blocks {
  static constexpr size_t kBlock = 16;
  static constexpr size_t kEncode8Room = 25;
  static constexpr size_t kEncode4Room = 13;
  static constexpr bool kDecodes = false;  // no byte shuffle in SSE2

  static uint32_t high(const unsigned char* p) noexcept { return static_cast<uint32_t>(_mm_movemask_epi8(load16(p))); }
  static void widen(unsigned char* dst, const unsigned char* src) noexcept { widen16(dst, src); }
  static void widen16(unsigned char* dst, const unsigned char* src) noexcept { utf8::widen16(dst, src); }
  static size_t narrow(unsigned char* dst, const unsigned char* src) noexcept { return narrow16(dst, src); }
  static size_t encode4(unsigned char* dst, const unsigned char* src) noexcept { return encode4_words(dst, src); }
  static size_t encode4_within(unsigned char*, const unsigned char*, size_t) noexcept { return 0; }
  static size_t encode8(unsigned char* dst, const unsigned char* src) noexcept {
    const size_t n = encode4_words(dst, src);
    return n + encode4_words(dst + n, src + 16);
  }
  static size_t extra_bytes(const unsigned char* src, size_t blocks) noexcept { return extra_bytes16(src, blocks); }
};

}  // namespace

constinit const Kernels kSse2Kernels = kernels_over<Sse2Blocks>();

}  // namespace dpxut::utf8

#endif
