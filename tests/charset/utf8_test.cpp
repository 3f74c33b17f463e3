// UTF-8 <-> wide conversion: the table-walking one-character coders
// against the fast ones, the public entry points on their worked cases, the
// filling passes at every capacity against the table-walking coder, and
// every conversion kernel against the portable one.
#include "charset/utf8.h"

#include <gtest/gtest.h>

#include <random>

#include "charset/charset_test_util.h"
#include "common/wide.h"

namespace {

using namespace dpxut::test;
namespace wide = dpxut::wide;

// Both decoders agree with each other on every pair of leading bytes with
// a set of tails. Worked cases: surrogates pass, 4- to 6-byte forms are cut
// to their low 16 bits, over-long forms and sequences cut short are refused.
TEST(Utf8Coder, DecodersAgreeByteForByte) {
  auto decode = [](const char* bytes) {
    uint16_t table = 0x5A5A, fast = 0x5A5A;
    const int n = dp_utf2uni(&table, bytes);
    const bool agree = n == dpxut::utf8::decode(reinterpret_cast<const unsigned char*>(bytes), &fast) && table == fast;
    return agree ? std::pair<int, int>{n, table} : std::pair<int, int>{-2, 0};
  };
  for (unsigned b0 = 0; b0 < 256; ++b0)
    for (unsigned b1 = 0; b1 < 256; ++b1)
      for (const char* tail : {"", "80", "BF 80", "80 80 80 80 80", "BF BF BF BF 41", "C0", "41"})
        ASSERT_NE(decode((std::string{char(b0), char(b1)} + hex(tail)).c_str()).first, -2) << b0 << " " << b1 << tail;
  const std::tuple<const char*, int, int> cases[] = {  // -1: refused, nothing stored
      {"E2 82 AC", 3, 0x20AC},        {"ED A0 80", 3, 0xD800},  {"F0 9F 98 80", 4, 0xF600},  {"F0 90 80 80", 4, 0},
      {"F8 88 80 80 80", 5, 0},       {"FD BF BF BF BF BF", 6, 0xFFFF},  {"C1 BF", -1, 0x5A5A},
      {"E0 9F BF", -1, 0x5A5A},       {"F8 87 BF BF BF", -1, 0x5A5A},    {"FC 83 BF BF BF BF", -1, 0x5A5A},
      {"FD BF BF BF BF", -1, 0x5A5A}, {"E2 C3 A9", -1, 0x5A5A},          {"FE 80 80 80 80 80 80", -1, 0x5A5A},
  };
  for (const auto& [bytes, length, value] : cases) EXPECT_EQ(decode(hex(bytes).c_str()), std::pair(length, value));
  EXPECT_EQ(dp_utf2uni(nullptr, "\xC3\xA9"), 2) << "a null destination only measures";
}

// Every 16-bit value: both encoders write the same 1 to 3 bytes, and the
// table walk reads the value back.
TEST(Utf8Coder, EveryValueRoundTripsThroughBothCoders) {
  for (uint32_t v = 0; v <= 0xFFFF; ++v) {
    char table[8] = {}, fast[8] = {};
    const int n = dp_uni2utf(table, static_cast<uint16_t>(v));
    ASSERT_EQ(dpxut::utf8::encode(reinterpret_cast<unsigned char*>(fast), static_cast<uint16_t>(v)), unsigned(n));
    uint16_t back = 0;
    ASSERT_TRUE(std::memcmp(table, fast, 8) == 0 && dp_utf2uni(&back, table) == n && back == v) << v;
  }
}

// Only 16 bits of a character survive: a long form that cuts to 0 is a
// zero element inside the counted length; a wide unit's high bits are lost.
TEST(Utf8Conversion, KeepsTheLow16BitsOfEveryCharacter) {
  size_t size = 8;
  wchar_t out[8];
  char bytes[8];
  EXPECT_EQ(DPutf82uni(out, hex("61 F0 9F 98 80 F0 90 80 80 FD BF BF BF BF BF 62").c_str(), &size), 0u);
  EXPECT_TRUE(size == 5 && std::wstring(out, 6) == std::wstring(L"a\uF600\0\uFFFFb\0", 6));
  const wchar_t high[] = {0x10041, 0};
  EXPECT_TRUE(DPuni2utf8(bytes, high, &(size = 8)) == 0 && size == 1 && std::string(bytes) == "A");
}

// Every capacity up to one beyond the need, wide text at every offset: the
// code, the units written (those that fit) and nothing past the capacity.
// ASCII runs are long enough for the eight-at-a-time paths.
TEST(Utf8Conversion, FillsAtEveryCapacityWithinIt) {
  const std::string utf = hex("C3 A9") + "abcdefghi" + hex("DF BF E2 82 AC C2 80") + "0123456789";
  const std::wstring uni = L"\u00E9abcdefghi\u07FF\u20AC\u0080" L"0123456789";
  size_t size = 0;
  EXPECT_TRUE(dp_unis2utfsize(uni.c_str(), &size) == 0 && size == utf.size());
  for (size_t cap = 0; cap <= utf.size() + 1; ++cap)
    for (size_t off = 0; off < 4; ++off) {
      SCOPED_TRACE(testing::Message() << "capacity " << cap << " offset " << off);
      std::vector<unsigned char> w(4 * cap + 8, 0xEE);
      const size_t units = dp_utfs2unis(reinterpret_cast<wchar_t*>(w.data() + off), utf.c_str(), cap);
      EXPECT_TRUE(units == (cap > uni.size() ? uni.size() : size_t{HVDPUT_OVERFLOW}) && w[4 * cap + off] == 0xEE);
      for (size_t i = 0; i < std::min(cap, uni.size() + 1); ++i) EXPECT_EQ(wide::load(w.data() + off, i), uni[i]);
      WideAt src(uni, off);
      std::string out(cap + 1, '\xEE');
      const size_t bytes = dp_unis2utfs(out.data(), reinterpret_cast<wchar_t*>(src.p()), cap);
      const bool fits = cap > utf.size();
      EXPECT_TRUE(out[cap] == '\xEE' && (fits ? bytes == utf.size() && out.c_str() == utf : bytes == HVDPUT_OVERFLOW));
    }
}

// Each kernel this machine runs, forced in turn, against the portable one:
// ASCII runs of every length around the block sizes ending in each kind of
// sequence (2- to 5-byte forms, invalid and cut ones), random mixed text,
// and wide text of the coder's edge values (high bits, low half 0), at
// every offset and at the capacities around the need. Same code, count and
// bytes in the whole destination, also after a failure; nothing read past
// the terminator.
TEST(Utf8Kernels, EveryKernelWritesWhatThePortableOneWrites) {
  namespace utf8 = dpxut::utf8;
  const utf8::Kernels& ref = *utf8::kernels_of(utf8::Kernel::kPortable);
  std::vector<std::string> texts;
  for (size_t run = 0; run < 70; ++run)
    for (const char* t : {"C3 A9", "E2 82 AC", "F0 9F 98 80", "F8 88 80 80 80", "ED A0 80", "FF", "C0 80", "E0 9F BF",
                          "80", "C3", "E2 82", "C3 41", "E0 A0 80", "E2 82 AC C3 A9 E2 82 AC", "C3 A9 C3 A9 C3 A9 C3 A9"})
      for (size_t after : {0, 1, 3, 9, 40}) texts.push_back(std::string(run, 'a') + hex(t) + std::string(after, 'z'));
  const char* pool[] = {"a", "/", "\x7F", "\xC2\x80", "\xC3\xA9", "\xDF\xBF", "\xE0\xA0\x80", "\xE2\x82\xAC", "\xEF\xBF\xBF"};
  const wchar_t units[] = {L'a', 0x7F, 0x80, 0x7FF, 0x800, 0xFFFF, 0xD800, 0x10041, 0x10000, static_cast<wchar_t>(0xFFFF0080)};
  std::mt19937 rng(5);
  std::vector<std::wstring> wides;
  for (int k = 0; k < 400; ++k) {
    std::string s;
    std::wstring w;
    for (size_t n = rng() % 160; n > 0; --n) s += pool[rng() % (rng() % 2 ? 3 : 9)], w += units[rng() % (rng() % 2 ? 2 : 10)];
    texts.push_back(s), wides.push_back(w);
  }
  for (const std::string& s : texts) {
    std::vector<unsigned char> w(4 * s.size() + 4);
    if (ref.utf8_to_wide(w.data(), s.c_str(), s.size() + 1).code == 0) wides.push_back(wide_at(w.data()));
  }
  auto same = [](utf8::Pass a, utf8::Pass b) { return a.code == b.code && a.count == b.count; };
  for (utf8::Kernel kind : {utf8::Kernel::kSse2, utf8::Kernel::kAvx2}) {
    if (!utf8::force_kernel(kind)) continue;  // not on this machine
    SCOPED_TRACE(testing::Message() << "kernel " << int(kind));
    for (const std::string& text : texts) {  // sources end flush against unreadable memory
      GuardedBytes guarded(text + '\0');
      const char* s = guarded.chars();
      const utf8::Pass need = ref.measure_utf8(s);
      ASSERT_TRUE(same(utf8::measure_utf8(s), need)) << to_hex(text);
      for (size_t cap : {size_t{0}, size_t{3}, need.count, need.count + 1, text.size() + 1})
        for (size_t off = 0; off < 4; ++off) {
          std::vector<unsigned char> a(4 * cap + 8, 0xEE), b = a;
          ASSERT_TRUE(same(utf8::utf8_to_wide(b.data() + off, s, cap), ref.utf8_to_wide(a.data() + off, s, cap)) && a == b)
              << to_hex(text) << " capacity " << cap << " offset " << off;
        }
    }
    for (const std::wstring& w : wides)
      for (size_t off = 0; off < 4; ++off) {
        GuardedBytes guarded(std::string(off, 'x') + std::string(reinterpret_cast<const char*>(w.c_str()), 4 * w.size() + 4));
        const void* src = guarded.data() + off;
        const utf8::Pass need = ref.measure_wide(src);
        ASSERT_TRUE(same(utf8::measure_wide(src), need));
        for (size_t cap : {size_t{0}, size_t{1}, need.count / 2, need.count, need.count + 1, need.count + 9}) {
          std::string a(cap + 8, '\xEE'), b = a;
          ASSERT_TRUE(same(utf8::wide_to_utf8(b.data(), src, cap), ref.wide_to_utf8(a.data(), src, cap)) && a == b)
              << "units " << w.size() << " capacity " << cap << " offset " << off;
        }
      }
  }
}

}  // namespace
