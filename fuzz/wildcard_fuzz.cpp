// Fuzzes every wildcard matcher in every encoding. Input: one flag byte
// (bit 0: partial), then the pattern up to the first NUL byte, then the
// name. Strings sit in heap blocks of exactly their size, wide ones at an
// odd address. Besides memory safety and the result ranges, ASCII input
// must give the same result in the locale, UTF-8 and wide name spaces.
#include <clocale>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "dpxut.h"

namespace {

// A byte or wide string in a block that ends right after its terminator.
struct Block {
  std::unique_ptr<unsigned char[]> bytes;
  const void* text = nullptr;
};

Block byte_string(const uint8_t* p, size_t n) {
  Block b;
  b.bytes.reset(new unsigned char[n + 1]);
  if (n != 0) std::memcpy(b.bytes.get(), p, n);
  b.bytes[n] = 0;
  b.text = b.bytes.get();
  return b;
}

// Each byte becomes one wide character; the top bytes stand for
// characters above 0xFF that look like wildcards in their low byte.
Block wide_string(const uint8_t* p, size_t n) {
  static const uint32_t kHigh[8] = {0x1AA, 0x12A, 0x1BF, 0x13F, 0x1AE, 0x4E2D, 0x10041, 0xFFFF};
  Block b;
  b.bytes.reset(new unsigned char[(n + 1) * 4 + 1]);
  unsigned char* out = b.bytes.get() + 1;
  for (size_t i = 0; i < n; ++i) {
    const uint32_t u = p[i] >= 0xF8 ? kHigh[p[i] - 0xF8] : p[i];
    std::memcpy(out + 4 * i, &u, 4);
  }
  std::memset(out + 4 * n, 0, 4);
  b.text = out;
  return b;
}

void check(bool ok) {
  if (!ok) __builtin_trap();
}

bool valid_name_result(int32_t r) {
  return r == 0 || r == 1 || r == 2 || r == -1 || r == static_cast<int32_t>(HVDPUT_OUT_OF_MEMORY);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // A multibyte server code set: EUC-JP characters are one to three bytes.
  std::setlocale(LC_CTYPE, "ja_JP.EUC-JP");
  DPInitUniLibrary("EUC-JP");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > 4096) return 0;
  const int16_t partial = data[0] & 1;
  const uint8_t* rest = data + 1;
  const size_t left = size - 1;
  const auto* cut = static_cast<const uint8_t*>(std::memchr(rest, 0, left));
  const size_t pattern_len = cut != nullptr ? static_cast<size_t>(cut - rest) : left;
  const uint8_t* name = cut != nullptr ? cut + 1 : rest + left;
  const size_t name_left = static_cast<size_t>(rest + left - name);
  const auto* name_cut = static_cast<const uint8_t*>(std::memchr(name, 0, name_left));
  const size_t name_len = name_cut != nullptr ? static_cast<size_t>(name_cut - name) : name_left;

  bool ascii = true;
  for (size_t i = 0; i < pattern_len; ++i) ascii = ascii && rest[i] < 0x80;
  for (size_t i = 0; i < name_len; ++i) ascii = ascii && name[i] < 0x80;

  const Block bp = byte_string(rest, pattern_len), bn = byte_string(name, name_len);
  const Block wp = wide_string(rest, pattern_len), wn = wide_string(name, name_len);

  int32_t name_results[3][2];  // [encoding][case-insensitive]
  int32_t generic_results[3];
  int32_t wild_flags[3];
  const uint32_t spaces[3] = {0, 0x100, 0x200};
  for (int e = 0; e < 3; ++e) {
    const uint32_t ns = spaces[e];
    const void* p = e == 2 ? wp.text : bp.text;
    const void* n = e == 2 ? wn.text : bn.text;
    name_results[e][0] = matchNameEnabled(ns, p, n, partial);
    name_results[e][1] = HVDPMatchName(ns + 4, p, n, partial);
    generic_results[e] = HVDPGenericWildMatch(ns, p, n);
    wild_flags[e] = HVDPGenericIsWild(ns, p);
    check(valid_name_result(name_results[e][0]) && valid_name_result(name_results[e][1]));
    check(generic_results[e] == 0 || generic_results[e] == 1);
    check(wild_flags[e] == 0 || wild_flags[e] == 1);
    check(HVDPMatchName(ns, p, n, partial) == name_results[e][0]);
  }
  const int32_t wild = HVDPWildMatch(static_cast<const char*>(bp.text), static_cast<const char*>(bn.text));
  check(wild == 0 || wild == 1);
  const int32_t is_wild = HVDPIsWild(static_cast<const char*>(bp.text));

  if (ascii) {
    const bool has = std::memchr(bp.text, '*', pattern_len) != nullptr ||
                     std::memchr(bp.text, '?', pattern_len) != nullptr;
    check(is_wild == has);
    for (int e = 1; e < 3; ++e) {
      check(name_results[e][0] == name_results[0][0]);
      check(name_results[e][1] == name_results[0][1]);
      check(generic_results[e] == generic_results[0]);
      check(wild_flags[e] == wild_flags[0]);
    }
  }
  return 0;
}
