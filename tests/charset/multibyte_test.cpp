// Multibyte measuring in single-byte, EUC-JP and UTF-8 server code sets,
// the mblen route, the edge cases of the steppers, and the table-driven
// measure against plain trial conversion.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <thread>

#include "charset/charset_env.h"
#include "charset/charset_test_util.h"
#include "charset/multibyte.h"
#include "common/iconv_cache.h"

namespace {

using dpxut::charset::mblen_by_trial;
using dpxut::test::use_locale;
using Multibyte = dpxut::testing::CharsetEnv;

TEST_F(Multibyte, MeasuresTheShortestPrefixThatConverts) {
  const char *euc = "ja_JP.EUC-JP", *utf8 = "en_US.UTF-8";
  const struct {
    const char* locale;
    const char* bytes;
    size_t n;
    int length;
  } cases[] = {
      {euc, "A", 4, 1},              {euc, "\xA4\xA2", 4, 2},      // A4 A2: hiragana a
      {euc, "\xA4\xA2", 2, 2},        {euc, "\xA4\xA2", 1, 1},      // exactly n bytes; lead byte with n = 1
      {euc, "\xA4\xA2", 0, 1},        {euc, "\xA4", 4, 1},          // n = 0; lead byte before the NUL
      {euc, "\x8E\xB1", 4, 2},        {euc, "\x8F\xB0\xA1", 4, 3},  // half-width katakana; JIS X 0212
      {euc, "\x8F\xB0\xA1", 2, 1},    {euc, "\x8F\xB0", 4, 1},      // cut by n; cut by the NUL
      {euc, "\xA4\x41", 4, 1},        {euc, "\xFF\xA1", 4, 1},      // lead byte before ASCII; rejected byte
      {utf8, "\xC3\xA9", 6, 2},       {utf8, "\xE4\xB8\xAD", 6, 3},
      {utf8, "\xF0\x9F\x98\x80", 6, 4}, {utf8, "\xF0\x9F\x98\x80", 3, 1},  // cut by n
      {utf8, "\xE4\xB8", 6, 1},       {utf8, "\x80\x80", 6, 1},      // cut by the NUL; continuation byte
      {utf8, "\xC0\x80", 6, 1},       {utf8, "\xED\xA0\x80", 6, 1},  // over-long NUL; surrogate
      {"en_US.ISO-8859-1", "\xE9\xE9", 4, 1},
  };
  for (const auto& c : cases) {
    use_locale(c.locale);
    EXPECT_EQ(dp_mblen(c.bytes, c.n), c.length) << c.bytes << " n=" << c.n;
    EXPECT_EQ(mblen_by_trial(c.bytes, c.n), c.length) << c.bytes << " n=" << c.n;
    if (c.n >= std::strlen(c.bytes)) {
      EXPECT_EQ(HVCharType(c.bytes), c.length) << c.bytes;
    }
  }
}

TEST_F(Multibyte, CharTypeIsBoundByTheLocaleAndFollowsMblenOnRequest) {
  // MB_CUR_MAX of the C locale is 1: a two-byte EUC-JP character is not
  // looked at beyond its first byte.
  ASSERT_EQ(DPInitUniLibrary("EUC-JP"), 0u);
  EXPECT_EQ(HVCharType("\xA4\xA2"), 1);
  std::setlocale(LC_CTYPE, "ja_JP.EUC-JP");
  EXPECT_EQ(HVCharType("\xA4\xA2"), 2);
  // A code set iconv cannot open: -1 from the measure, 1 from HVCharType,
  // and a name left without its NUL is not read past its 128 bytes.
  strcpy(dp_current_codeset, "NO-SUCH-CODESET");
  EXPECT_EQ(dp_mblen("A", 4), -1);
  EXPECT_EQ(mblen_by_trial("A", 4), -1);
  EXPECT_EQ(HVCharType("\xA4\xA2"), 1);
  std::memset(dp_current_codeset, 'X', sizeof dp_current_codeset);
  EXPECT_EQ(dp_mblen("A", 4), -1);
  DPUseMbFunctions = 1;  // iconv is not consulted
  EXPECT_EQ(HVCharType("\x8F\xB0\xA1"), 3);
  EXPECT_EQ(HVCharType("\xA4"), 1);  // mblen -1
  EXPECT_EQ(HVCharType(""), 1);      // mblen 0
  std::setlocale(LC_CTYPE, "en_US.UTF-8");
  EXPECT_EQ(HVCharType("\xE4\xB8\xAD"), 3);
}

TEST_F(Multibyte, FirstMeasureRunsTheSetUpOnceUntilShutDown) {
  WriteLanguageFile("RC_LANG=xx_YY\n");
  EXPECT_EQ(dp_mblen(nullptr, 4), 0);
  EXPECT_EQ(dp_mblen("", 4), 0);
  EXPECT_EQ(DPInitICONV, 0) << "an empty string sets nothing up";
  EXPECT_EQ(resetLocaleToThis, nullptr);
  EXPECT_EQ(dp_mblen("\xA4\xA2", 0), 1);  // n = 0 still sets up
  EXPECT_EQ(DPInitICONV, 1);
  EXPECT_STREQ(dp_current_codeset, "EUC-JP");
  EXPECT_EQ(dp_mblen("\xA4\xA2", 2), 2);
  DPShutDownUniLibrary();
  WriteLanguageFile("RC_LANG=uu_VV\n");
  EXPECT_EQ(dp_mblen("\xE4\xB8\xAD", 3), 3);  // set up again: now UTF-8
  EXPECT_STREQ(dp_current_codeset, "UTF-8");
  DPShutDownUniLibrary();
  WriteLanguageFile("RC_LANG=qq_QQ\n");  // cannot be selected: the set-up fails
  EXPECT_EQ(dp_mblen("\xE4\xB8\xAD", 3), 3) << "measured in the code set kept";
  EXPECT_EQ(DPInitICONV, 1) << "and marked done all the same";
}

TEST_F(Multibyte, SteppersMoveByTheCharacterAtThePosition) {
  use_locale("ja_JP.EUC-JP");
  const char text[] = "a\xA4\xA2" "b\x8F\xB0\xA1" "c";
  std::vector<size_t> starts;
  for (const char* p = text; *p != '\0'; p = HVNextChar(p)) starts.push_back(p - text);
  EXPECT_EQ(starts, (std::vector<size_t>{0, 1, 3, 4, 7}));
  // On the terminator HVNextChar steps past it: callers stop at the NUL.
  const char* end = text + std::strlen(text);
  EXPECT_EQ(HVCharType(end), 1);
  EXPECT_EQ(HVNextChar(end), end + 1);
  // HVPrevChar steps back by the character AT s, not the one before it.
  EXPECT_EQ(HVPrevChar(text, text + 3), text + 2);  // 'b' is one byte
  EXPECT_EQ(HVPrevChar(text, text + 4), text + 1);  // at 8F B0 A1: back 3
  EXPECT_EQ(HVNextChar(nullptr), nullptr);
  EXPECT_EQ(HVPrevChar(text, nullptr), nullptr);
  EXPECT_EQ(HVCharType(nullptr), 1);
}

// The tables answer exactly what trial conversion answers: every first and
// second byte with several third bytes and limits, then every third byte
// after the leads of three- and four-byte sequences.
TEST_F(Multibyte, TablesAgreeWithTrialConversion) {
  for (const char* codeset : {"EUC-JP", "UTF-8", "SHIFT_JIS", "ISO-8859-1", "GB18030"}) {
    ASSERT_EQ(DPInitUniLibrary(codeset), 0u);
    size_t mismatches = 0;
    auto check = [&](unsigned b0, unsigned b1, unsigned b2, size_t n) {
      const char s[5] = {char(b0), char(b1), char(b2), b1 && b2 ? '\x80' : '\0', 0};
      if (dp_mblen(s, n) != mblen_by_trial(s, n) && ++mismatches < 10)
        ADD_FAILURE() << codeset << std::hex << " " << b0 << " " << b1 << " " << b2 << " n=" << n;
    };
    for (unsigned b0 = 1; b0 < 256; ++b0)
      for (unsigned b1 = 0; b1 < 256; ++b1)
        for (unsigned b2 : {0x00u, 0x41u, 0x80u, 0xA1u, 0xBFu})
          for (size_t n : {0, 1, 2, 3, 6}) check(b0, b1, b1 ? b2 : 0, n);
    for (unsigned b0 : {0x8Fu, 0xE4u, 0xEDu, 0xF0u, 0x81u})
      for (unsigned b1 = 1; b1 < 256; ++b1)
        for (unsigned b2 = 0; b2 < 256; ++b2)
          for (size_t n : {3, 6}) check(b0, b1, b2, n);
    EXPECT_EQ(mismatches, 0u) << codeset;
  }
}

TEST_F(Multibyte, CodeSetChangeRebuildsTheTables) {
  std::setlocale(LC_CTYPE, "en_US.UTF-8");
  ASSERT_EQ(DPInitUniLibrary("EUC-JP"), 0u);
  EXPECT_EQ(dp_mblen("\xE4\xB8\xAD", 3), 2);  // two-byte EUC-JP character
  ASSERT_EQ(DPInitUniLibrary("UTF-8"), 0u);
  EXPECT_EQ(dp_mblen("\xE4\xB8\xAD", 3), 3);
  strcpy(dp_current_codeset, "EUC-JP");  // written by the host: followed too
  EXPECT_EQ(dp_mblen("\xE4\xB8\xAD", 3), 2);
  // Names that share a prefix, differ past their eighth byte, or leave the
  // tail of a longer name behind their NUL are told apart. 87 40 is a
  // character in BIG5-HKSCS but not in BIG5.
  const struct {
    const char* name;
    int length;
  } steps[] = {
      {"BIG5", 1},         {"BIG5-HKSCS", 2}, {"BIG5", 1},  // "-HKSCS" stays after the NUL
      {"BIG5-HKSCS", 2},   {"BIG5-HKSCX", -1}, {"BIG5-HKSCS", 2},
      {"BIG5-HKSCS1", -1}, {"BIG5-HKSCS", 2},
  };
  for (const auto& step : steps) {
    strcpy(dp_current_codeset, step.name);
    EXPECT_EQ(dp_mblen("\x87\x40", 2), step.length) << step.name;
    EXPECT_EQ(mblen_by_trial("\x87\x40", 2), step.length) << step.name;
  }
}

// Threads walk the same text and find the same characters, opening at
// most one descriptor each, not one per character.
TEST_F(Multibyte, ThreadsMeasureAlikeWithoutOpeningDescriptors) {
  use_locale("ja_JP.EUC-JP");
  std::mt19937 rng(7);
  std::string text;
  for (int i = 0; i < 2000; ++i) text += "a\xA4\xA2\x8E\xB1\x8F\xB0\xA1";
  for (int i = 0; i < 4000; ++i) text += static_cast<char>(rng() % 255 + 1);
  std::vector<size_t> starts[5];
  auto walk = [&text](std::vector<size_t>& out) {
    dp_mblen("x", 1);
    const uint64_t opens = dpxut::iconv_cache_thread_opens();
    for (const char* p = text.c_str(); *p != '\0'; p = HVNextChar(p)) out.push_back(p - text.c_str());
    EXPECT_LE(dpxut::iconv_cache_thread_opens() - opens, 1u);
  };
  walk(starts[0]);
  EXPECT_EQ(starts[0][8000], 16000u);
  std::vector<std::thread> threads;
  for (int t = 1; t < 5; ++t) threads.emplace_back(walk, std::ref(starts[t]));
  for (auto& t : threads) t.join();
  for (int t = 1; t < 5; ++t) EXPECT_EQ(starts[t], starts[0]);
}

}  // namespace
