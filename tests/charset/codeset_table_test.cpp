// The code set tables against the iconv route they stand in for: every
// byte, every byte pair and every code point of the Basic Multilingual
// Plane through the four conversions, then generated text at every
// capacity. The iconv route (fast paths off) is the reference.
#include <gtest/gtest.h>

#include <random>

#include "charset/codeset_table.h"
#include "charset/locale_conv.h"
#include "support/env.h"

namespace {

using LocaleTables = dpxut::testing::CharsetEnv;
using dpxut::charset::set_ascii_fast_path;

const char* const kTableSets[] = {"ISO-8859-1", "ISO-8859-15", "EUC-JP", "SHIFT_JIS", "UTF-8"};

// Sizing call, then filling calls between canaries with a capacity of the
// reported size and one less (`every`: each capacity up to one more; 64
// units when the sizing fails): the codes, the size, and the text of each
// filling that succeeds (a failed one leaves a partial result, which may
// differ).
template <class D, class S>
std::string Outcome(uint32_t (*f)(D*, size_t*, const S*), const S* src, bool every = false) {
  size_t size = 0;
  const uint32_t sizing = f(nullptr, &size, src);
  std::string out = std::to_string(sizing) + ":" + std::to_string(sizing == 0 ? size : 0);
  const size_t first = sizing != 0 ? 64 : every || size == 0 ? 0 : size - 1, last = sizing != 0 ? 64 : size + every;
  for (size_t cap = first; cap <= last; ++cap) {
    std::vector<D> block(cap + 2, D(0x5A));
    size_t reported = cap;
    const uint32_t filling = f(block.data() + 1, &reported, src);
    EXPECT_TRUE(block.front() == D(0x5A) && block.back() == D(0x5A)) << "wrote outside";
    out += " " + std::to_string(filling);
    if (filling == 0) out += std::string(reinterpret_cast<const char*>(block.data() + 1), sizeof(D) * cap);
  }
  return out;
}

// Fast paths on, then off: the outcome must not change.
template <class Run>
void ExpectSameAsIconv(const char* what, Run run) {
  set_ascii_fast_path(true);
  const std::string fast = run();
  set_ascii_fast_path(false);
  const std::string slow = run();
  set_ascii_fast_path(true);
  ASSERT_EQ(fast, slow) << what;
}

TEST_F(LocaleTables, ConvertEveryByteEveryPairAndEveryCodePointAsIconvDoes) {
  for (const char* cs : {"ISO-2022-JP", "UTF-7", "GB18030", "TCVN5712-1"})
    EXPECT_EQ(dpxut::charset::build_or_find_table(cs), nullptr) << cs << ": shifts, combining or longer characters";
  // "UTF-8" gets the UTF-8 walks without a run through iconv: iconv agrees
  // on every scalar value, and other names are still run through it.
  EXPECT_TRUE(dpxut::charset::iconv_converts_as_utf8("UTF-8"));
  EXPECT_FALSE(dpxut::charset::iconv_converts_as_utf8("ISO-8859-1"));
  for (const char* cs : kTableSets) {
    ASSERT_EQ(DPInitUniLibrary(cs), 0u);
    const dpxut::charset::CodesetTable* table = dpxut::charset::build_or_find_table(cs);
    ASSERT_NE(table, nullptr) << cs;
    int decided = 0;  // by the tables, without iconv
    for (int a = 1; a < 256; ++a) {
      for (int b = 0; b < 256; ++b) {  // b = 0: the byte alone
        const char text[3] = {char(a), char(b), 0};
        decided += dpxut::charset::table_to_wide(*table, text, b ? 2 : 1, nullptr, 0).step !=
                   dpxut::charset::TableStep::kFallback;
        ExpectSameAsIconv(text, [&] {
          return Outcome(DPloc2utf8, text) + Outcome(DPloc2uniNoMap, text);
        });
      }
    }
    EXPECT_GT(decided, table->as_utf8 ? 18000 : 60000) << cs;
    for (int start = 1; start <= 16; ++start) {  // every byte in every lane of the vector kernels
      std::string all;
      for (int b = start; b < start + 255; ++b) all += char(b % 255 + 1);
      std::vector<wchar_t> wide(all.size() + 1);  // and back, where the code set holds them all
      size_t cap = wide.size();
      const bool back = DPloc2uniNoMap(wide.data(), &cap, all.c_str()) == 0;
      ExpectSameAsIconv(cs, [&] {
        return Outcome(DPloc2utf8, all.c_str()) + Outcome(DPloc2uniNoMap, all.c_str()) +
               (back ? Outcome(DPuni2locNoMap, static_cast<const wchar_t*>(wide.data())) : "");
      });
    }
    for (uint32_t cp = 1; cp < 0x10000; ++cp) {
      const wchar_t wide[2] = {wchar_t(cp), 0};
      unsigned char utf[5] = {};
      dpxut::charset::utf8_encode(cp, utf);
      ExpectSameAsIconv(cs, [&] {
        return Outcome(DPuni2loc, wide) + Outcome(DPuni2locNoMap, wide) +
               Outcome(DPutf82loc, reinterpret_cast<const char*>(utf));
      });
    }
  }
}

// Runs of ASCII longer than a word, characters of the tables, bytes and
// characters they leave to iconv (EUC-JP's three-byte characters, the yen
// sign of Shift_JIS, characters outside the code set, special sequences,
// invalid bytes), filled at every capacity up to the size and one more.
TEST_F(LocaleTables, FillGeneratedTextAtEveryCapacityAsIconvDoes) {
  const std::vector<std::wstring> pieces = {L"abcdefghijklmno", L"x", L"\u00E9", L"\u20AC", L"\u3042\u4E2D",
                                            L"\uFF71", L"\u00A5", L"\u4E02", L"\U0001F600", L"[00E9]", L"\\~",
                                            {wchar_t(0xD800)}, {wchar_t(0x110000)}, {wchar_t(-5)}};
  std::mt19937 rng(7);
  for (const char* cs : kTableSets) {
    ASSERT_EQ(DPInitUniLibrary(cs), 0u);
    for (int i = 0; i < 300; ++i) {
      std::wstring wide;
      for (int n = rng() % 6; n >= 0; --n) wide += pieces[rng() % pieces.size()];
      // The locale text: what NoMap makes of it, with an odd byte now and then.
      std::vector<char> loc(wide.size() * 12 + 8);
      size_t cap = loc.size();
      std::string text(DPuni2loc(loc.data(), &cap, wide.c_str()) == 0 ? loc.data() : "");
      if (i % 5 == 0) text.insert(rng() % (text.size() + 1), 1, char(0x80 + rng() % 128));
      std::string u8;
      for (wchar_t c : wide) {
        unsigned char b[4];
        u8.append(reinterpret_cast<char*>(b), dpxut::charset::utf8_encode(uint32_t(c), b));
      }
      ExpectSameAsIconv(cs, [&] {
        return Outcome(DPloc2utf8, text.c_str(), true) + Outcome(DPloc2uni, text.c_str(), true) +
               Outcome(DPloc2uniNoMap, text.c_str(), true) + Outcome(DPutf82loc, u8.c_str(), true) +
               Outcome(DPuni2loc, wide.c_str(), true) + Outcome(DPuni2locNoMap, wide.c_str(), true);
      });
    }
  }
}

// Wide text goes to a double-byte code set two characters a round: a
// character the tables leave to iconv stands first or second in a round,
// or last and alone.
TEST_F(LocaleTables, WideTextFallsBackWhereverTheOddCharacterStands) {
  const wchar_t odd[] = {L'\u00A5', L'\u4E02', wchar_t(0x1F600), wchar_t(0xD800), wchar_t(0x110000)};
  for (const char* cs : {"EUC-JP", "SHIFT_JIS"}) {
    ASSERT_EQ(DPInitUniLibrary(cs), 0u);
    for (wchar_t c : odd) {
      for (size_t at = 0; at <= 5; ++at) {
        std::wstring wide = L"\u3042a\u4E2Db\u30D5";
        wide.insert(at, 1, c);
        ExpectSameAsIconv(cs, [&] { return Outcome(DPuni2loc, wide.c_str()) + Outcome(DPuni2locNoMap, wide.c_str()); });
      }
    }
  }
}

// A filling call copies what the sizing call before it wrote only for the
// same conversion of the same text in the same code set.
TEST_F(LocaleTables, FillingReusesTheSizedResultOnlyForTheSameText) {
  ASSERT_EQ(DPInitUniLibrary("ISO-8859-1"), 0u);
  char text[] = "ab\xA4";
  std::vector<wchar_t> out(4);
  size_t size = 0, cap = 4;
  ASSERT_EQ(DPloc2uni(nullptr, &size, text), 0u);
  text[1] = 'c';  // changed in place
  ASSERT_EQ(DPloc2uni(out.data(), &cap, text), 0u);
  EXPECT_EQ(std::wstring(out.data()), L"ac\u00A4");
  ASSERT_TRUE(DPloc2uni(nullptr, &size, text) == 0 && DPInitUniLibrary("ISO-8859-15") == 0);
  ASSERT_EQ(DPloc2uni(out.data(), &cap, text), 0u);
  EXPECT_EQ(std::wstring(out.data()), L"ac\u20AC");
  std::vector<wchar_t> wide(8);  // sized with mapping, filled without
  ASSERT_TRUE(DPloc2uni(nullptr, &size, "\xE9[0041]") == 0 && DPloc2uniNoMap(wide.data(), &(cap = 8), "\xE9[0041]") == 0);
  EXPECT_EQ(std::wstring(wide.data()), L"\u00E9[0041]");
}

}  // namespace
