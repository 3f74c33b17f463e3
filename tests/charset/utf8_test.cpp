// UTF-8 <-> wide conversion: the coder table, the one-character coder, the
// sizing and filling passes and their public entry points, byte-exact, and
// the fast string passes against a character-by-character model built on
// the table-walking coder.
#include "charset/utf8.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "common/wide.h"
#include "dpxut.h"
#include "support/guard_page.h"

namespace {

using dpxut::test::GuardedBytes;
using dpxut::test::hex;
using dpxut::test::to_hex;
namespace wide = dpxut::wide;

TEST(Utf8Coder, TableIsStoredAsSevenPackedRows) {
  ASSERT_EQ(sizeof tab, 7u * 28u);
  const char* rows[] = {
      "80000000 00000000 00000000 7F00000000000000 0000000000000000",
      "E0000000 C0000000 06000000 FF07000000000000 8000000000000000",
      "F0000000 E0000000 0C000000 FFFF000000000000 0008000000000000",
      "F8000000 F0000000 12000000 FFFF1F0000000000 0000010000000000",
      "FC000000 F8000000 18000000 FFFFFF0300000000 0000200000000000",
      "FE000000 FC000000 1E000000 FFFFFF7F00000000 0000000400000000",
      "00000000 00000000 00000000 0000000000000000 0000000000000000",
  };
  for (int r = 0; r < 7; ++r) {
    std::string expect = hex(rows[r]);
    EXPECT_EQ(std::memcmp(reinterpret_cast<const char*>(tab) + 28 * r, expect.data(), 28), 0) << "row " << r + 1;
  }
}

struct Decoded {
  const char* bytes;
  int length;  // -1: rejected
  uint16_t value;
};

// Both decoders: the exported table walk and the one the passes use.
const Decoded kDecoded[] = {
    {"41", 1, 0x41},
    {"00", 1, 0x00},                          // NUL decodes as 0
    {"7F", 1, 0x7F},
    {"C3 A9", 2, 0xE9},                       // é
    {"C2 80", 2, 0x80},
    {"DF BF", 2, 0x7FF},
    {"E0 A0 80", 3, 0x800},
    {"E2 82 AC", 3, 0x20AC},                  // €
    {"ED A0 80", 3, 0xD800},                  // encoded surrogate, accepted
    {"EF BF BF", 3, 0xFFFF},
    {"F0 9F 98 80", 4, 0xF600},               // U+1F600 cut to 16 bits
    {"F0 90 80 80", 4, 0x0000},               // U+10000 cut to 0
    {"F0 90 81 81", 4, 0x0041},               // U+10041 cut to A
    {"F7 BF BF BF", 4, 0xFFFF},               // 0x1FFFFF
    {"F8 88 80 80 80", 5, 0x0000},            // 0x200000
    {"FB BF BF BF BF", 5, 0xFFFF},            // 0x3FFFFFF
    {"FC 84 80 80 80 80", 6, 0x0000},         // 0x4000000
    {"FD BF BF BF BF BF", 6, 0xFFFF},         // 0x7FFFFFFF
    {"C3 A9 41", 2, 0xE9},                    // stops after the sequence
    {"C0 80", -1, 0},                         // over-long NUL
    {"C1 BF", -1, 0},                         // over-long 0x7F
    {"E0 80 80", -1, 0},                      // over-long NUL
    {"E0 9F BF", -1, 0},                      // over-long 0x7FF
    {"F0 8F BF BF", -1, 0},                   // over-long 0xFFFF
    {"F8 87 BF BF BF", -1, 0},                // over-long 0x1FFFFF
    {"FC 83 BF BF BF BF", -1, 0},             // over-long 0x3FFFFFF
    {"80", -1, 0},                            // lone continuation byte
    {"BF 80 80 80 80 80 80 80", -1, 0},       // continuation bytes only
    {"C3", -1, 0},                            // cut by the NUL
    {"E2 82", -1, 0},                         // cut by the NUL
    {"FD BF BF BF BF", -1, 0},                // cut by the NUL
    {"C3 41", -1, 0},                         // no continuation byte
    {"E2 C3 A9", -1, 0},
    {"FE 80 80 80 80 80 80", -1, 0},          // FE starts nothing
    {"FF", -1, 0},
};

TEST(Utf8Coder, DecodesByteExact) {
  for (const auto& d : kDecoded) {
    std::string in = hex(d.bytes);
    uint16_t table_value = 0x5A5A, fast_value = 0x5A5A;
    EXPECT_EQ(dp_utf2uni(&table_value, in.c_str()), d.length) << d.bytes;
    EXPECT_EQ(dpxut::utf8::decode(reinterpret_cast<const unsigned char*>(in.c_str()), &fast_value), d.length)
        << d.bytes;
    uint16_t expect = d.length > 0 ? d.value : 0x5A5A;  // nothing stored on failure
    EXPECT_EQ(table_value, expect) << d.bytes;
    EXPECT_EQ(fast_value, expect) << d.bytes;
  }
  uint16_t v = 7;
  EXPECT_EQ(dp_utf2uni(&v, nullptr), 0);
  EXPECT_EQ(v, 7);
  EXPECT_EQ(dp_utf2uni(nullptr, "\xC3\xA9"), 2) << "a null destination only measures";
}

TEST(Utf8Coder, EncodesByteExact) {
  const struct {
    uint16_t value;
    const char* bytes;
  } cases[] = {
      {0x00, "00"},          {0x41, "41"},          {0x7F, "7F"},          {0x80, "C2 80"},
      {0xE9, "C3 A9"},       {0x7FF, "DF BF"},      {0x800, "E0 A0 80"},   {0x20AC, "E2 82 AC"},
      {0xD800, "ED A0 80"},  {0xFFFF, "EF BF BF"},
  };
  for (const auto& c : cases) {
    char out[8] = {};
    EXPECT_EQ(dp_uni2utf(out, c.value), static_cast<int>(hex(c.bytes).size()));
    EXPECT_EQ(to_hex(std::string(out, hex(c.bytes).size())), c.bytes);
  }
  EXPECT_EQ(dp_uni2utf(nullptr, 0x41), 0);
}

// Every 16-bit value: both encoders agree and decoding gives it back.
TEST(Utf8Coder, EveryValueRoundTripsThroughBothCoders) {
  for (uint32_t v = 0; v <= 0xFFFF; ++v) {
    char table_out[8] = {}, fast_out[8] = {};
    int n = dp_uni2utf(table_out, static_cast<uint16_t>(v));
    ASSERT_EQ(dpxut::utf8::encode(reinterpret_cast<unsigned char*>(fast_out), static_cast<uint16_t>(v)),
              static_cast<unsigned>(n));
    ASSERT_EQ(dpxut::utf8::encoded_length(static_cast<uint16_t>(v)), static_cast<unsigned>(n));
    ASSERT_EQ(std::memcmp(table_out, fast_out, 8), 0) << v;
    uint16_t back = 0;
    ASSERT_EQ(dp_utf2uni(&back, table_out), n);
    ASSERT_EQ(back, v);
  }
}

// The fast decoder against the table walk: every pair of leading bytes with
// a set of tails, then random sequences rich in continuation bytes.
TEST(Utf8Coder, FastDecoderAgreesWithTheTableWalk) {
  auto agree = [](const unsigned char* bytes) {
    uint16_t a = 0x5A5A, b = 0x5A5A;
    int la = dp_utf2uni(&a, reinterpret_cast<const char*>(bytes));
    int lb = dpxut::utf8::decode(bytes, &b);
    return la == lb && a == b;
  };
  const unsigned char tails[][6] = {{0}, {0x80, 0}, {0xBF, 0x80, 0}, {0x80, 0x80, 0x80, 0x80, 0x80, 0},
                                    {0xBF, 0xBF, 0xBF, 0xBF, 0x41, 0}, {0xC0, 0}, {0x41, 0}};
  for (unsigned b0 = 0; b0 < 256; ++b0) {
    for (unsigned b1 = 0; b1 < 256; ++b1) {
      for (const auto& tail : tails) {
        unsigned char seq[9] = {static_cast<unsigned char>(b0), static_cast<unsigned char>(b1)};
        std::memcpy(seq + 2, tail, sizeof tail);
        ASSERT_TRUE(agree(seq)) << to_hex(std::string(reinterpret_cast<char*>(seq), 8));
      }
    }
  }
  std::mt19937 rng(11);
  for (int i = 0; i < 300000; ++i) {
    unsigned char seq[8] = {};
    seq[0] = static_cast<unsigned char>(0xC0 + rng() % 64);
    for (int k = 1; k < 7; ++k) {
      seq[k] = static_cast<unsigned char>(rng() % 8 == 0 ? rng() % 256 : 0x80 + rng() % 64);
    }
    ASSERT_TRUE(agree(seq)) << to_hex(std::string(reinterpret_cast<char*>(seq), 8));
  }
}

// A lead byte followed by fewer continuation bytes than it announces, then
// the NUL flush against an unreadable page: the decoders stop at the NUL.
TEST(Utf8Coder, StopsAtANulThatCutsASequence) {
  for (unsigned lead = 0x80; lead < 0x100; ++lead) {
    for (size_t more = 0; more < 6; ++more) {
      std::string s(1, static_cast<char>(lead));
      s.append(more, '\x80');
      GuardedBytes page(std::string_view(s.c_str(), s.size() + 1));
      uint16_t v;
      int n = dp_utf2uni(&v, page.chars());
      EXPECT_EQ(dpxut::utf8::decode(page.data(), &v), n);
      EXPECT_LE(n, static_cast<int>(more + 1)) << "consumed the NUL";
    }
  }
}

// ---- string passes -------------------------------------------------------

std::wstring widen(std::initializer_list<uint32_t> units) {
  std::wstring s;
  for (uint32_t u : units) s.push_back(static_cast<wchar_t>(u));
  return s;
}

TEST(Utf8Conversion, SizesAndFillsTheWorkedExamples) {
  size_t size = 99;
  EXPECT_EQ(DPutf82uni(nullptr, "a\xC3\xA9", &size), 0u);
  EXPECT_EQ(size, 2u);
  std::wstring ae = widen({0x61, 0xE9});
  EXPECT_EQ(DPuni2utf8(nullptr, ae.c_str(), &size), 0u);
  EXPECT_EQ(size, 3u);

  wchar_t out[4] = {9, 9, 9, 9};
  size = 2;
  EXPECT_EQ(DPutf82uni(out, "ab", &size), HVDPUT_OVERFLOW) << "no room for the terminator";
  EXPECT_EQ(size, 2u);
  size = 3;
  EXPECT_EQ(DPutf82uni(out, "ab", &size), 0u);
  EXPECT_EQ(size, 2u);
  EXPECT_EQ(std::wstring(out), L"ab");

  char bytes[4] = {9, 9, 9, 9};
  size = 0;
  EXPECT_EQ(DPuni2utf8(bytes, L"", &size), HVDPUT_OVERFLOW);
  EXPECT_EQ(bytes[0], 9);
  size = 1;
  EXPECT_EQ(DPuni2utf8(bytes, L"", &size), 0u);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(bytes[0], 0);

  size = 4;
  std::wstring high = widen({0x10041});  // only the low 16 bits are encoded
  EXPECT_EQ(DPuni2utf8(bytes, high.c_str(), &size), 0u);
  EXPECT_EQ(size, 1u);
  EXPECT_EQ(to_hex(bytes), "41");
}

TEST(Utf8Conversion, RejectsNullAndInvalidInputLeavingSizeAlone) {
  wchar_t out[8];
  char bytes[8];
  size_t size = 8;
  EXPECT_EQ(DPutf82uni(out, nullptr, &size), HVDPUT_INVALID_PARAMETER);
  EXPECT_EQ(DPutf82uni(out, "a", nullptr), HVDPUT_INVALID_PARAMETER);
  EXPECT_EQ(DPuni2utf8(bytes, nullptr, &size), HVDPUT_INVALID_PARAMETER);
  EXPECT_EQ(DPuni2utf8(bytes, L"a", nullptr), HVDPUT_INVALID_PARAMETER);
  for (const char* bad : {"61 C3", "61 E2 82", "61 C0 80 62", "E0 80 80", "80", "61 FF", "F0 8F BF BF"}) {
    std::string in = hex(bad);
    size = 8;
    EXPECT_EQ(DPutf82uni(nullptr, in.c_str(), &size), HVDPUT_INVALID_PARAMETER) << bad;
    EXPECT_EQ(DPutf82uni(out, in.c_str(), &size), HVDPUT_INVALID_PARAMETER) << bad;
    EXPECT_EQ(size, 8u);
    size_t count = 77;
    EXPECT_EQ(dp_utfs2unisize(in.c_str(), &count), HVDPUT_INVALID_PARAMETER);
    EXPECT_EQ(count, 77u);
    EXPECT_EQ(dp_utfs2unis(out, in.c_str(), 8), HVDPUT_INVALID_PARAMETER);
  }
}

TEST(Utf8Conversion, LowLevelPassesReturnCountsOrCodes) {
  wchar_t out[8];
  char bytes[8];
  size_t n = 0;
  EXPECT_EQ(dp_utfs2unisize("", &n), 0u);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(dp_utfs2unisize("\xE2\x82\xAC!", &n), 0u);
  EXPECT_EQ(n, 2u);
  EXPECT_EQ(dp_utfs2unis(out, "", 0), HVDPUT_OVERFLOW);
  EXPECT_EQ(dp_utfs2unis(out, "", 1), 0u);
  EXPECT_EQ(dp_utfs2unis(out, "\xE2\x82\xAC!", 3), 2u);
  EXPECT_EQ(dp_utfs2unis(out, "\xE2\x82\xAC!", 2), HVDPUT_OVERFLOW);
  EXPECT_EQ(dp_unis2utfsize(L"\u20AC!", &n), 0u);
  EXPECT_EQ(n, 4u);
  EXPECT_EQ(dp_unis2utfs(bytes, L"\u20AC!", 5), 4u);
  EXPECT_EQ(dp_unis2utfs(bytes, L"\u20AC!", 4), HVDPUT_OVERFLOW);
  EXPECT_EQ(dp_unis2utfs(bytes, L"\u20AC!", 2), HVDPUT_OVERFLOW) << "the euro sign needs 3 bytes";
  EXPECT_EQ(dp_unis2utfs(nullptr, L"a", 5), HVDPUT_INVALID_PARAMETER);
  EXPECT_EQ(dp_utfs2unisize(nullptr, &n), HVDPUT_INVALID_PARAMETER);
}

// 4- to 6-byte forms are kept to their low 16 bits; a form that cuts to 0
// becomes a zero element inside the counted length.
TEST(Utf8Conversion, KeepsSixteenBitsOfLongForms) {
  std::string in = hex("61 F0 9F 98 80 F0 90 80 80 FD BF BF BF BF BF 62");
  size_t size = 0;
  ASSERT_EQ(DPutf82uni(nullptr, in.c_str(), &size), 0u);
  EXPECT_EQ(size, 5u);
  wchar_t out[6];
  size = 6;
  ASSERT_EQ(DPutf82uni(out, in.c_str(), &size), 0u);
  EXPECT_EQ(std::wstring(out, 6), widen({0x61, 0xF600, 0x0000, 0xFFFF, 0x62, 0}));
}

// Models of the two filling passes, one character at a time on the table
// walk, following the stored behaviour step by step.
size_t model_utf8_to_wide(std::vector<uint32_t>& out, const char* utf, size_t capacity) {
  if (*utf == 0) {
    if (capacity == 0) return HVDPUT_OVERFLOW;
    out[0] = 0;
    return 0;
  }
  if (capacity == 0) return HVDPUT_OVERFLOW;
  size_t i = 0;
  for (;;) {
    uint16_t v;
    int n = dp_utf2uni(&v, utf);
    if (n < 0) return HVDPUT_INVALID_PARAMETER;
    out[i] = v;
    utf += n;
    if (*utf == 0) break;
    if (++i >= capacity) return HVDPUT_OVERFLOW;
  }
  size_t m = i + 1;
  if (m >= capacity) return HVDPUT_OVERFLOW;
  out[m] = 0;
  return m;
}

size_t model_wide_to_utf8(std::string& out, const std::wstring& uni, size_t capacity) {
  if (capacity == 0) return HVDPUT_OVERFLOW;
  size_t pos = 0;
  for (wchar_t c : uni) {
    char bytes[6];
    int n = dp_uni2utf(bytes, static_cast<uint16_t>(c));
    if (pos >= capacity || pos + n > capacity) return HVDPUT_OVERFLOW;
    std::memcpy(&out[pos], bytes, n);
    pos += n;
  }
  if (pos >= capacity) return HVDPUT_OVERFLOW;
  out[pos] = 0;
  return pos;
}

// UTF-8 text with ASCII runs long enough for the block path, 2- to 6-byte
// forms, and now and then a fault: an over-long form, a stray byte.
std::string random_utf8(std::mt19937& rng, bool faults) {
  std::string s;
  size_t chars = rng() % 40;
  for (size_t i = 0; i < chars; ++i) {
    switch (rng() % 8) {
      case 0:
      case 1: s.append(1 + rng() % 12, static_cast<char>('a' + rng() % 26)); break;
      case 2: s += "\xC3\xA9"; break;
      case 3: s += "\xE2\x82\xAC"; break;
      case 4: s += "\xF0\x9F\x98\x80"; break;
      case 5: s += rng() % 2 ? "\xF8\x88\x80\x80\x81" : "\xFD\xBF\xBF\xBF\xBF\xBF"; break;
      case 6: s += "\xED\xA0\x80"; break;
      default:
        if (faults && rng() % 4 == 0) {
          const char* bad[] = {"\xC0\x80", "\x80", "\xFF", "\xE2\x82", "\xC3"};
          s += bad[rng() % 5];
        } else {
          s += "\xCE\xB1";
        }
    }
  }
  return s;
}

// The fast passes write exactly what the model writes, element for element
// and byte for byte, at every capacity from 0 to two beyond the need, at
// every destination offset, and touch nothing beyond the capacity.
TEST(Utf8Conversion, FastPassesMatchTheModelAtEveryCapacity) {
  std::mt19937 rng(5);
  for (int round = 0; round < 400; ++round) {
    std::string utf = random_utf8(rng, round % 2 == 1);
    size_t need = utf.size() + 1;
    for (size_t capacity = 0; capacity <= need + 2; ++capacity) {
      std::vector<uint32_t> model(capacity + 1, 0xEEEEEEEEu);
      size_t expect = model_utf8_to_wide(model, utf.c_str(), capacity);
      for (size_t off = 0; off < 4; ++off) {
        std::vector<unsigned char> buf((capacity + 2) * 4 + 4, 0xEE);
        size_t got = dp_utfs2unis(reinterpret_cast<wchar_t*>(buf.data() + off), utf.c_str(), capacity);
        ASSERT_EQ(got, expect) << to_hex(utf) << " capacity " << capacity;
        for (size_t i = 0; i <= capacity; ++i) {
          ASSERT_EQ(static_cast<uint32_t>(wide::load(buf.data() + off, i)), model[i]) << to_hex(utf) << " at " << i;
        }
      }
    }
    // And back: the decoded text (without faults) to UTF-8.
    size_t count = 0;
    if (dp_utfs2unisize(utf.c_str(), &count) != 0) continue;
    std::wstring uni(count, 0);
    ASSERT_EQ(dp_utfs2unis(uni.data(), utf.c_str(), count + 1), count);
    uni.resize(wcslen(uni.c_str()));  // a form cut to 0 ends the wide text
    for (size_t capacity = 0; capacity <= need + 2; ++capacity) {
      std::string model(capacity + 1, '\xEE');
      size_t expect = model_wide_to_utf8(model, uni, capacity);
      for (size_t off = 0; off < 4; ++off) {
        std::vector<unsigned char> src((uni.size() + 1) * 4 + 4);
        std::memcpy(src.data() + off, uni.c_str(), (uni.size() + 1) * 4);
        std::string out(capacity + 1, '\xEE');
        ASSERT_EQ(dp_unis2utfs(out.data(), reinterpret_cast<const wchar_t*>(src.data() + off), capacity), expect);
        ASSERT_EQ(to_hex(out), to_hex(model)) << "capacity " << capacity;
      }
    }
  }
}

// Random BMP text, zero excluded: the sizing call reports exactly what the
// filling call writes, and the text survives UTF-8 -> wide -> UTF-8.
TEST(Utf8Conversion, SizingMatchesFillingAndBmpTextRoundTrips) {
  std::mt19937 rng(9);
  for (int round = 0; round < 2000; ++round) {
    std::wstring text(rng() % 50, 0);
    for (auto& c : text) {
      unsigned pick = rng() % 4;
      c = static_cast<wchar_t>(pick == 0 ? 1 + rng() % 0x7F : pick == 1 ? 0x80 + rng() % 0x780 : 1 + rng() % 0xFFFF);
    }
    size_t bytes = 0;
    ASSERT_EQ(DPuni2utf8(nullptr, text.c_str(), &bytes), 0u);
    std::string utf(bytes + 1, '\xEE');
    size_t size = bytes + 1;
    ASSERT_EQ(DPuni2utf8(utf.data(), text.c_str(), &size), 0u);
    ASSERT_EQ(size, bytes);
    ASSERT_EQ(utf[bytes], '\0');
    size = bytes;
    ASSERT_EQ(DPuni2utf8(utf.data(), text.c_str(), &size), HVDPUT_OVERFLOW) << "one byte too small";
    ASSERT_EQ(size, bytes);

    size_t count = 0;
    ASSERT_EQ(DPutf82uni(nullptr, utf.c_str(), &count), 0u);
    ASSERT_EQ(count, text.size());
    std::wstring back(count + 1, L'\x1');
    size = count + 1;
    ASSERT_EQ(DPutf82uni(back.data(), utf.c_str(), &size), 0u);
    ASSERT_EQ(size, count);
    ASSERT_EQ(back, text + std::wstring(1, 0));
    size = count;
    ASSERT_EQ(DPutf82uni(back.data(), utf.c_str(), &size), HVDPUT_OVERFLOW) << "one element too small";
  }
}

// Text flush against an unreadable page, ending in a sequence the NUL cuts.
TEST(Utf8Conversion, StopsAtTheTerminatorBeforeAnUnreadablePage) {
  for (const char* text : {"", "abcdefghijklmnopq", "abcdefgh\xC3", "abcdefghij\xE2\x82", "\xF0\x9F\x98"}) {
    GuardedBytes page(std::string_view(text, std::strlen(text) + 1));
    size_t size = 0;
    uint32_t code = DPutf82uni(nullptr, page.chars(), &size);
    std::vector<wchar_t> out(40);
    size_t capacity = out.size();
    EXPECT_EQ(DPutf82uni(out.data(), page.chars(), &capacity), code);
  }
}

}  // namespace
