// Multibyte measuring in single-byte, EUC-JP and UTF-8 server code sets,
// the mblen route, and the table-driven measure against plain trial
// conversion. (The steppers are walked by the multibyte fuzz target.)
#include <gtest/gtest.h>

#include "charset/charset_test_util.h"
#include "charset/multibyte.h"
#include "common/iconv_cache.h"
#include "support/env.h"

namespace {

using dpxut::charset::mblen_by_trial;
using namespace dpxut::test;
using Multibyte = dpxut::testing::CharsetEnv;

TEST_F(Multibyte, MeasuresTheShortestPrefixThatConverts) {
  const char *euc = "ja_JP.EUC-JP", *utf8 = "en_US.UTF-8";
  const std::tuple<const char*, const char*, size_t, int> cases[] = {  // locale, bytes, limit n, length
      {"en_US.ISO-8859-1", "\xE9\xE9", 4, 1},  {utf8, "\xED\xA0\x80", 6, 1},  // surrogate
      {utf8, "\xF0\x9F\x98\x80", 4, 4}, {utf8, "\xF0\x9F\x98\x80", 3, 1},  // exactly n; cut by n
      {utf8, "\xF0\x9F\x98", 6, 1},   {utf8, "\x80\x80", 6, 1},      // cut by the NUL; continuation byte
      {euc, "\xA4\xA2", 2, 2},        {euc, "\xA4\xA2", 1, 1},      // A4 A2: hiragana a; lead byte with n = 1
      {euc, "\xA4\xA2", 0, 1},        {euc, "\xA4", 4, 1},          // n = 0; lead byte before the NUL
      {euc, "\x8F\xB0\xA1", 4, 3},    {euc, "\x8F\xB0\xA1", 2, 1},  // JIS X 0212; cut by n
      {euc, "\x8F\xB0", 4, 1},        {euc, "\xA4\x41", 4, 1},      // cut by the NUL; lead byte before ASCII
  };
  for (const auto& [locale, bytes, n, length] : cases) {
    use_locale(locale);
    EXPECT_TRUE(dp_mblen(bytes, n) == length && mblen_by_trial(bytes, n) == length) << bytes << " n=" << n;
    if (n >= std::strlen(bytes)) {
      EXPECT_EQ(HVCharType(bytes), length) << bytes;
    }
  }
}

TEST_F(Multibyte, CharTypeIsBoundByTheLocaleAndFollowsMblenOnRequest) {
  // MB_CUR_MAX of the C locale is 1: a two-byte EUC-JP character is not
  // looked at beyond its first byte.
  EXPECT_TRUE(DPInitUniLibrary("EUC-JP") == 0 && HVCharType("\xA4\xA2") == 1);
  EXPECT_TRUE(std::setlocale(LC_CTYPE, "ja_JP.EUC-JP") && HVCharType("\xA4\xA2") == 2);
  // A code set iconv cannot open: -1 from the measure, 1 from HVCharType,
  // and a name left without its NUL is not read past its 128 bytes.
  strcpy(dp_current_codeset, "NO-SUCH-CODESET");
  EXPECT_TRUE(dp_mblen("A", 4) == -1 && mblen_by_trial("A", 4) == -1 && HVCharType("\xA4\xA2") == 1);
  std::memset(dp_current_codeset, 'X', sizeof dp_current_codeset);
  EXPECT_TRUE(dp_mblen("A", 4) == -1 && mblen_by_trial("A", 4) == -1);
  DPUseMbFunctions = 1;  // iconv is not consulted; mblen's -1 and 0 count as 1
  EXPECT_EQ(HVCharType("\x8F\xB0\xA1") * 100 + HVCharType("\xA4") * 10 + HVCharType(""), 311);
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

// The tables follow the code set, whoever writes its name: names that share
// a prefix, differ past their eighth byte, or leave the tail of a longer
// name behind their NUL are told apart. Once built, they open nothing more.
TEST_F(Multibyte, TablesFollowTheCodeSetAndOpenNoDescriptorsOnceBuilt) {
  std::setlocale(LC_CTYPE, "en_US.UTF-8");
  ASSERT_EQ(DPInitUniLibrary("UTF-8"), 0u);
  EXPECT_EQ(dp_mblen("\xE4\xB8\xAD", 3), 3);
  const std::pair<const char*, int> steps[] = {  // 87 40 is a character in BIG5-HKSCS only
      {"EUC-JP", 2},      {"BIG5", 1},          {"BIG5-HKSCS", 2},  {"BIG5", 1},  // "-HKSCS" stays after the NUL
      {"BIG5-HKSCS", 2},  {"BIG5-HKSCX", -1},   {"BIG5-HKSCS", 2},  {"BIG5-HKSCS1", -1},  {"BIG5-HKSCS", 2},
      {"BIG5-HKSCS8", -1}, {"BIG5-HKSCS", 2},  // every bit of the byte after the name counts
  };
  for (const auto& [name, length] : steps) {
    strcpy(dp_current_codeset, name);
    EXPECT_EQ(dp_mblen(name[0] == 'E' ? "\xE4\xB8\xAD" : "\x87\x40", 2), length) << name;
  }
  use_locale("ja_JP.EUC-JP");  // every lead byte, every kind of character: one descriptor at most
  const uint64_t opens = dpxut::iconv_cache_thread_opens();
  for (int i = 0; i < 4000; ++i)
    dp_mblen((std::string(1, char(i % 255 + 1)) + "\xA4\xA2\x8E\xB1\x8F\xB0\xA1").c_str() + i % 8, 3);
  EXPECT_LE(dpxut::iconv_cache_thread_opens() - opens, 1u);
}

}  // namespace
