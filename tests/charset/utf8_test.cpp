// UTF-8 <-> wide conversion: the coder table and one-character coder byte
// for byte, the public entry points on their worked cases, and the fast
// string passes against a character-by-character model built on the
// table-walking coder.
#include "charset/utf8.h"

#include <gtest/gtest.h>

#include <random>

#include "charset/charset_test_util.h"
#include "common/wide.h"

namespace {

using dpxut::test::hex;
using dpxut::test::to_hex;
const unsigned char* ubytes(const char* s) { return reinterpret_cast<const unsigned char*>(s); }

TEST(Utf8Coder, TableIsStoredAsSevenPackedRows) {
  ASSERT_EQ(sizeof tab, 7u * 28u);
  const char* rows =  // cmask, cval, shift (32-bit), lmask, lval (64-bit), little-endian
      "80000000 00000000 00000000 7F00000000000000 0000000000000000"
      "E0000000 C0000000 06000000 FF07000000000000 8000000000000000"
      "F0000000 E0000000 0C000000 FFFF000000000000 0008000000000000"
      "F8000000 F0000000 12000000 FFFF1F0000000000 0000010000000000"
      "FC000000 F8000000 18000000 FFFFFF0300000000 0000200000000000"
      "FE000000 FC000000 1E000000 FFFFFF7F00000000 0000000400000000"
      "00000000 00000000 00000000 0000000000000000 0000000000000000";
  EXPECT_EQ(to_hex(std::string_view(reinterpret_cast<const char*>(tab), sizeof tab)), to_hex(hex(rows)));
}

// Both decoders byte for byte; the valid forms of up to three bytes are
// also what both encoders write for the value.
TEST(Utf8Coder, CodesByteExact) {
  const struct {
    const char* bytes;
    int length;  // -1: rejected, nothing stored
    uint16_t value;
  } cases[] = {
      {"41", 1, 0x41},        {"00", 1, 0x00},         {"C3 A9", 2, 0xE9},  // é
      {"C2 80", 2, 0x80},     {"DF BF", 2, 0x7FF},     {"E0 A0 80", 3, 0x800},
      {"E2 82 AC", 3, 0x20AC},                                               // €
      {"ED A0 80", 3, 0xD800},                                               // surrogate, accepted
      {"F0 9F 98 80", 4, 0xF600},                                            // U+1F600 cut to 16 bits
      {"F0 90 80 80", 4, 0x0000},                                            // U+10000 cut to 0
      {"F7 BF BF BF", 4, 0xFFFF},        {"F8 88 80 80 80", 5, 0x0000},
      {"FB BF BF BF BF", 5, 0xFFFF},     {"FC 84 80 80 80 80", 6, 0x0000},
      {"FD BF BF BF BF BF", 6, 0xFFFF},  {"C3 A9 41", 2, 0xE9},
      {"C0 80", -1, 0},       {"C1 BF", -1, 0},        {"E0 80 80", -1, 0},  // over-long forms
      {"E0 9F BF", -1, 0},    {"F0 8F BF BF", -1, 0},  {"F8 87 BF BF BF", -1, 0},
      {"FC 83 BF BF BF BF", -1, 0},
      {"80", -1, 0},          {"BF 80 80 80 80 80 80 80", -1, 0},           // continuation bytes
      {"C3", -1, 0},          {"E2 82", -1, 0},        {"FD BF BF BF BF", -1, 0},  // cut by the NUL
      {"C3 41", -1, 0},       {"E2 C3 A9", -1, 0},                                 // no continuation
      {"FE 80 80 80 80 80 80", -1, 0},   {"FF", -1, 0},
  };
  for (const auto& c : cases) {
    const std::string in = hex(c.bytes);
    uint16_t table = 0x5A5A, fast = 0x5A5A;
    EXPECT_EQ(dp_utf2uni(&table, in.c_str()), c.length) << c.bytes;
    EXPECT_EQ(dpxut::utf8::decode(ubytes(in.c_str()), &fast), c.length);
    EXPECT_EQ(table, c.length > 0 ? c.value : 0x5A5A) << c.bytes;
    EXPECT_EQ(fast, table);
    if (c.length < 1 || c.length > 3) continue;
    char out[8] = {};
    EXPECT_EQ(std::string(out, dp_uni2utf(out, c.value)), in.substr(0, c.length)) << c.bytes;
  }
  EXPECT_EQ(dp_utf2uni(nullptr, "\xC3\xA9"), 2) << "a null destination only measures";
  EXPECT_EQ(dp_utf2uni(nullptr, nullptr), 0);
  EXPECT_EQ(dp_uni2utf(nullptr, 0x41), 0);
}

// Every 16-bit value: both encoders write the same 1 to 3 bytes, and
// decoding gives the value back.
TEST(Utf8Coder, EveryValueRoundTripsThroughBothCoders) {
  for (uint32_t v = 0; v <= 0xFFFF; ++v) {
    char table[8] = {}, fast[8] = {};
    const int n = dp_uni2utf(table, static_cast<uint16_t>(v));
    ASSERT_EQ(dpxut::utf8::encode(reinterpret_cast<unsigned char*>(fast), static_cast<uint16_t>(v)), unsigned(n));
    ASSERT_EQ(dpxut::utf8::encoded_length(static_cast<uint16_t>(v)), unsigned(n));
    ASSERT_EQ(std::memcmp(table, fast, 8), 0) << v;
    uint16_t back = 0;
    ASSERT_EQ(dp_utf2uni(&back, table), n);
    ASSERT_EQ(back, v);
  }
}

// The fast decoder against the table walk: every pair of leading bytes with
// a set of tails, random continuation-rich sequences, and every lead byte
// with too few continuation bytes before a NUL that ends the readable page.
TEST(Utf8Coder, FastDecoderAgreesWithTheTableWalk) {
  auto agree = [](const unsigned char* bytes) {
    uint16_t a = 0x5A5A, b = 0x5A5A;
    const int n = dp_utf2uni(&a, reinterpret_cast<const char*>(bytes));
    return n == dpxut::utf8::decode(bytes, &b) && a == b;
  };
  for (unsigned b0 = 0; b0 < 256; ++b0)
    for (unsigned b1 = 0; b1 < 256; ++b1)
      for (const char* tail : {"", "80", "BF 80", "80 80 80 80 80", "BF BF BF BF 41", "C0", "41"}) {
        const std::string seq = std::string{char(b0), char(b1)} + hex(tail);
        ASSERT_TRUE(agree(ubytes(seq.c_str()))) << to_hex(seq);
      }
  std::mt19937 rng(11);
  for (int i = 0; i < 300000; ++i) {
    unsigned char seq[8] = {static_cast<unsigned char>(0xC0 + rng() % 64)};
    for (int k = 1; k < 7; ++k) seq[k] = static_cast<unsigned char>(rng() % 8 ? 0x80 + rng() % 64 : rng() % 256);
    ASSERT_TRUE(agree(seq)) << to_hex(std::string_view(reinterpret_cast<char*>(seq), 7));
  }
  for (unsigned lead = 0x80; lead < 0x100; ++lead)
    for (size_t more = 0; more < 6; ++more) {
      dpxut::test::GuardedBytes page(std::string(1, char(lead)) + std::string(more, '\x80') + '\0');
      EXPECT_TRUE(agree(page.data()));
      EXPECT_LE(dp_utf2uni(nullptr, page.chars()), static_cast<int>(more + 1)) << "consumed the NUL";
    }
}

TEST(Utf8Conversion, SizesAndFillsTheWorkedExamples) {
  size_t size = 99;
  EXPECT_EQ(DPutf82uni(nullptr, "a\xC3\xA9", &size), 0u);
  EXPECT_EQ(size, 2u);
  EXPECT_EQ(DPuni2utf8(nullptr, L"a\u00E9", &size), 0u);
  EXPECT_EQ(size, 3u);
  wchar_t out[8] = {9, 9, 9, 9};
  size = 2;
  EXPECT_EQ(DPutf82uni(out, "ab", &size), HVDPUT_OVERFLOW) << "no room for the terminator";
  EXPECT_EQ(size, 2u);
  size = 3;
  EXPECT_EQ(DPutf82uni(out, "ab", &size), 0u);
  EXPECT_EQ(size, 2u);
  EXPECT_EQ(std::wstring(out), L"ab");
  char bytes[8] = {9, 9, 9, 9};
  size = 0;
  EXPECT_EQ(DPuni2utf8(bytes, L"", &size), HVDPUT_OVERFLOW);
  EXPECT_EQ(bytes[0], 9);
  size = 1;
  EXPECT_EQ(DPuni2utf8(bytes, L"", &size), 0u);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(bytes[0], 0);
  const wchar_t high[] = {0x10041, 0};  // only the low 16 bits are encoded
  size = 8;
  EXPECT_EQ(DPuni2utf8(bytes, high, &size), 0u);
  EXPECT_EQ(to_hex(bytes), "41");
  // 16-bit truncation: a long form that cuts to 0 is a zero element inside
  // the counted length.
  size = 8;
  EXPECT_EQ(DPutf82uni(out, hex("61 F0 9F 98 80 F0 90 80 80 FD BF BF BF BF BF 62").c_str(), &size), 0u);
  EXPECT_EQ(size, 5u);
  EXPECT_EQ(std::wstring(out, 6), std::wstring(L"a\uF600\0\uFFFFb\0", 6));
  EXPECT_EQ(DPutf82uni(out, nullptr, &size), HVDPUT_INVALID_PARAMETER);
  EXPECT_EQ(DPuni2utf8(bytes, L"a", nullptr), HVDPUT_INVALID_PARAMETER);
  EXPECT_EQ(DPutf82uni(nullptr, "a\xC0\x80", &size), HVDPUT_INVALID_PARAMETER);
  EXPECT_EQ(DPutf82uni(out, "a\xC3", &size), HVDPUT_INVALID_PARAMETER);
  EXPECT_EQ(size, 5u);
  EXPECT_EQ(dp_utfs2unis(out, "\xE2\x82\xAC!", 3), 2u) << "the low-level passes return the count";
  EXPECT_EQ(dp_unis2utfs(bytes, L"\u20AC!", 2), HVDPUT_OVERFLOW) << "or the code";
}

// Models of the filling passes, one character at a time on the table walk,
// step by step as the stored behaviour is defined.
size_t model_to_wide(std::vector<uint32_t>& out, const char* utf, size_t capacity) {
  if (capacity == 0) return HVDPUT_OVERFLOW;
  size_t m = 0;
  for (; *utf != '\0'; ++m) {
    if (m >= capacity) return HVDPUT_OVERFLOW;
    uint16_t v;
    const int n = dp_utf2uni(&v, utf);
    if (n < 0) return HVDPUT_INVALID_PARAMETER;
    out[m] = v, utf += n;
  }
  if (m >= capacity) return HVDPUT_OVERFLOW;
  out[m] = 0;
  return m;
}

size_t model_to_utf8(std::string& out, const std::wstring& uni, size_t capacity) {
  if (capacity == 0) return HVDPUT_OVERFLOW;
  size_t pos = 0;
  for (size_t i = 0; i < uni.size() && uni[i] != 0; ++i) {
    char bytes[6];
    const size_t n = dp_uni2utf(bytes, static_cast<uint16_t>(uni[i]));
    if (pos >= capacity || pos + n > capacity) return HVDPUT_OVERFLOW;
    std::memcpy(&out[pos], bytes, n);
    pos += n;
  }
  if (pos >= capacity) return HVDPUT_OVERFLOW;
  out[pos] = 0;
  return pos;
}

// ASCII runs long enough for the block paths, 2- to 6-byte forms, any
// 16-bit value, and in every other text now and then an invalid sequence.
std::string random_utf8(std::mt19937& rng, bool faults) {
  const char* pieces[] = {"\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\xF8\x88\x80\x80\x81",
                          "\xFD\xBF\xBF\xBF\xBF\xBF", "\xED\xA0\x80", "\xF0\x90\x80\x80"};
  const char* bad[] = {"\xC0\x80", "\x80", "\xFF", "\xE2\x82", "\xC3"};
  std::string s;
  for (size_t i = rng() % 40; i > 0; --i) {
    const unsigned r = rng() % 10;
    char any[6];
    if (r < 3) s.append(1 + rng() % 12, static_cast<char>('a' + rng() % 26));
    else if (r == 8) s.append(any, dp_uni2utf(any, static_cast<uint16_t>(1 + rng() % 0xFFFF)));
    else if (faults && r == 9 && rng() % 3 == 0) s += bad[rng() % 5];
    else s += pieces[rng() % 7];
  }
  return s;
}

// The fast passes return and write exactly what the models do, element for
// element and byte for byte, at every capacity up to three beyond the need
// and every destination offset, and touch nothing beyond the capacity. The
// sizing passes count what the models write, and decoded text survives
// wide -> UTF-8 -> wide.
TEST(Utf8Conversion, FastPassesMatchTheModelAtEveryCapacity) {
  std::mt19937 rng(5);
  for (int round = 0; round < 400; ++round) {
    const std::string utf = random_utf8(rng, round % 2 == 1);
    for (size_t capacity = 0; capacity <= utf.size() + 3; ++capacity) {
      std::vector<uint32_t> model(capacity + 1, 0xEEEEEEEEu);
      const size_t expect = model_to_wide(model, utf.c_str(), capacity);
      for (size_t off = 0; off < 4; ++off) {
        std::vector<unsigned char> buf((capacity + 2) * 4, 0xEE);
        ASSERT_EQ(dp_utfs2unis(reinterpret_cast<wchar_t*>(buf.data() + off), utf.c_str(), capacity), expect)
            << to_hex(utf) << " capacity " << capacity;
        for (size_t i = 0; i <= capacity; ++i)
          ASSERT_EQ(uint32_t(dpxut::wide::load(buf.data() + off, i)), model[i]) << to_hex(utf) << " at " << i;
      }
    }
    size_t count = 0, bytes = 0;
    if (dp_utfs2unisize(utf.c_str(), &count) != 0) continue;
    std::wstring uni(count + 1, 0);
    ASSERT_EQ(dp_utfs2unis(uni.data(), utf.c_str(), count + 1), count);
    uni.resize(std::wcslen(uni.c_str()));  // a form cut to 16 bits may be a zero
    std::string encoded;
    for (size_t capacity = 0; capacity <= utf.size() + 3; ++capacity) {
      std::string model(capacity + 1, '\xEE');
      const size_t expect = model_to_utf8(model, uni, capacity);
      if (expect < capacity) encoded = model.substr(0, expect + 1);
      for (size_t off = 0; off < 4; ++off) {
        std::vector<unsigned char> src((uni.size() + 2) * 4);
        std::memcpy(src.data() + off, uni.c_str(), (uni.size() + 1) * 4);
        std::string out(capacity + 1, '\xEE');
        ASSERT_EQ(dp_unis2utfs(out.data(), reinterpret_cast<const wchar_t*>(src.data() + off), capacity), expect);
        ASSERT_EQ(to_hex(out), to_hex(model)) << "capacity " << capacity;
      }
    }
    ASSERT_EQ(dp_unis2utfsize(uni.c_str(), &bytes), 0u);
    ASSERT_EQ(bytes + 1, encoded.size());
    std::wstring back(uni.size() + 1, L'\x1');
    ASSERT_EQ(dp_utfs2unis(back.data(), encoded.c_str(), back.size()), uni.size());
    ASSERT_EQ(back.c_str(), uni);
  }
}

}  // namespace
