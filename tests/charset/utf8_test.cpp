// UTF-8 <-> wide conversion: the table-walking one-character coders
// against the fast ones, the public entry points on their worked cases, and
// the filling passes at every capacity against the table-walking coder.
#include "charset/utf8.h"

#include <gtest/gtest.h>

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

}  // namespace
