// Multibyte measuring in single-byte, EUC-JP and UTF-8 server code sets,
// the mblen route, the edge cases of the steppers, and the table-driven
// measure against plain trial conversion.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "charset/charset_env.h"
#include "charset/multibyte.h"
#include "common/iconv_cache.h"

namespace {

using dpxut::charset::mblen_by_trial;

class Multibyte : public dpxut::testing::CharsetEnv {
 protected:
  // Server code set and process locale of one of the test locales.
  void Use(const char* locale, const char* codeset) {
    ASSERT_NE(std::setlocale(LC_CTYPE, locale), nullptr) << locale;
    ASSERT_EQ(DPInitUniLibrary(codeset), 0u) << codeset;
  }
};

struct MeasureCase {
  const char* bytes;
  size_t n;
  int length;
  const char* what;
};

void ExpectMeasures(const std::vector<MeasureCase>& cases) {
  for (const auto& c : cases) {
    EXPECT_EQ(dp_mblen(c.bytes, c.n), c.length) << c.what;
    EXPECT_EQ(mblen_by_trial(c.bytes, c.n), c.length) << c.what;
  }
}

TEST_F(Multibyte, MeasuresEucJp) {
  Use("ja_JP.EUC-JP", "EUC-JP");
  ExpectMeasures({
      {"A", 4, 1, "ASCII"},
      {"\xA4\xA2", 4, 2, "A4 A2: hiragana a"},
      {"\xA4\xA2", 2, 2, "exactly n bytes"},
      {"\xA4\xA2", 1, 1, "lead byte with n = 1"},
      {"\xA4", 4, 1, "lead byte before the NUL"},
      {"\x8E\xB1", 4, 2, "8E B1: half-width katakana a"},
      {"\x8F\xB0\xA1", 4, 3, "8F B0 A1: JIS X 0212 kanji"},
      {"\x8F\xB0\xA1", 2, 1, "three-byte character cut by n"},
      {"\x8F\xB0", 4, 1, "three-byte character cut by the NUL"},
      {"\xA4\x41", 4, 1, "A4 41: lead byte before ASCII"},
      {"\xFF\xA1", 4, 1, "FF: no lead byte"},
      {"\x80", 4, 1, "80: no lead byte"},
      {"\xA4\xA2", 0, 1, "n = 0"},
  });
  EXPECT_EQ(HVCharType("\xA4\xA2\xA4\xA4"), 2);
  EXPECT_EQ(HVCharType("\x8F\xB0\xA1x"), 3);
  EXPECT_EQ(HVCharType("\xA4"), 1);
}

TEST_F(Multibyte, MeasuresUtf8) {
  Use("en_US.UTF-8", "UTF-8");
  ExpectMeasures({
      {"a", 6, 1, "ASCII"},
      {"\xC3\xA9", 6, 2, "C3 A9: e acute"},
      {"\xE4\xB8\xAD", 6, 3, "E4 B8 AD: U+4E2D"},
      {"\xF0\x9F\x98\x80", 6, 4, "F0 9F 98 80: U+1F600"},
      {"\xF0\x9F\x98\x80", 3, 1, "four-byte character cut by n"},
      {"\xE4\xB8", 6, 1, "cut by the NUL"},
      {"\xC3", 1, 1, "lead byte with n = 1"},
      {"\x80\x80", 6, 1, "continuation byte"},
      {"\xC0\x80", 6, 1, "C0 80: over-long NUL"},
      {"\xED\xA0\x80", 6, 1, "ED A0 80: surrogate"},
      {"\xFF", 6, 1, "FF"},
  });
  EXPECT_EQ(HVCharType("\xF0\x9F\x98\x80!"), 4);
}

TEST_F(Multibyte, SingleByteCodeSetMeasuresOneByte) {
  Use("en_US.ISO-8859-1", "ISO-8859-1");
  std::string all;
  for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
  for (size_t i = 0; i < all.size(); ++i) {
    EXPECT_EQ(HVCharType(all.c_str() + i), 1) << i;
    EXPECT_EQ(dp_mblen(all.c_str() + i, 4), 1) << i;
  }
}

TEST_F(Multibyte, LocaleBoundsTheMeasure) {
  // MB_CUR_MAX of the C locale is 1: a two-byte EUC-JP character is not
  // looked at beyond its first byte.
  ASSERT_EQ(DPInitUniLibrary("EUC-JP"), 0u);
  EXPECT_EQ(HVCharType("\xA4\xA2"), 1);
  std::setlocale(LC_CTYPE, "ja_JP.EUC-JP");
  EXPECT_EQ(HVCharType("\xA4\xA2"), 2);
}

TEST_F(Multibyte, EmptyOrNullStringMeasuresZeroWithoutSetUp) {
  WriteLanguageFile("RC_LANG=xx_YY\n");
  EXPECT_EQ(dp_mblen(nullptr, 4), 0);
  EXPECT_EQ(dp_mblen("", 4), 0);
  EXPECT_EQ(DPInitICONV, 0);
  EXPECT_EQ(resetLocaleToThis, nullptr);
}

TEST_F(Multibyte, FirstMeasureRunsTheSetUpAndShutDownResetsIt) {
  WriteLanguageFile("RC_LANG=xx_YY\n");
  EXPECT_EQ(dp_mblen("\xA4\xA2", 0), 1);  // n = 0 still sets up
  EXPECT_EQ(DPInitICONV, 1);
  EXPECT_STREQ(dp_current_codeset, "EUC-JP");
  EXPECT_EQ(dp_mblen("\xA4\xA2", 2), 2);
  DPShutDownUniLibrary();
  WriteLanguageFile("RC_LANG=uu_VV\n");
  EXPECT_EQ(dp_mblen("\xE4\xB8\xAD", 3), 3);  // set up again: now UTF-8
  EXPECT_STREQ(dp_current_codeset, "UTF-8");
}

TEST_F(Multibyte, FailedSetUpStillMarksItDone) {
  WriteLanguageFile("RC_LANG=qq_QQ\n");  // cannot be selected
  strcpy(dp_current_codeset, "EUC-JP");
  EXPECT_EQ(dp_mblen("\xA4\xA2", 2), 2);  // measures in the code set it kept
  EXPECT_EQ(DPInitICONV, 1);
}

TEST_F(Multibyte, UnopenableCodeSetMeasuresMinusOneAndTypeOne) {
  DPInitICONV = 1;
  strcpy(dp_current_codeset, "NO-SUCH-CODESET");
  EXPECT_EQ(dp_mblen("A", 4), -1);
  EXPECT_EQ(mblen_by_trial("A", 4), -1);
  EXPECT_EQ(HVCharType("A"), 1);
  // A name the host left without its NUL is never read past its 128 bytes.
  std::memset(dp_current_codeset, 'X', sizeof dp_current_codeset);
  EXPECT_EQ(dp_mblen("A", 4), -1);
}

TEST_F(Multibyte, MbFunctionsRouteFollowsMblen) {
  std::setlocale(LC_CTYPE, "ja_JP.EUC-JP");
  DPUseMbFunctions = 1;
  DPInitICONV = 1;
  strcpy(dp_current_codeset, "NO-SUCH-CODESET");  // iconv is not consulted
  EXPECT_EQ(HVCharType("\xA4\xA2"), 2);
  EXPECT_EQ(HVCharType("\x8F\xB0\xA1"), 3);
  EXPECT_EQ(HVCharType("\xA4"), 1);    // mblen -1
  EXPECT_EQ(HVCharType(""), 1);        // mblen 0
  EXPECT_EQ(HVCharType("\xFF\xA1"), 1);
  std::setlocale(LC_CTYPE, "en_US.UTF-8");
  EXPECT_EQ(HVCharType("\xE4\xB8\xAD"), 3);
}

TEST_F(Multibyte, SteppersMoveByTheCharacterAtThePosition) {
  Use("ja_JP.EUC-JP", "EUC-JP");
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

// The tables must answer exactly what trial conversion answers, for every
// first and second byte, several third bytes and several limits n.
void CompareWithTrial(const char* codeset) {
  ASSERT_EQ(DPInitUniLibrary(codeset), 0u);
  const unsigned char thirds[] = {0x00, 0x41, 0x80, 0xA1, 0xBF};
  const size_t limits[] = {0, 1, 2, 3, 6};
  char s[6] = {};
  size_t mismatches = 0;
  for (unsigned b0 = 1; b0 < 256; ++b0) {
    for (unsigned b1 = 0; b1 < 256; ++b1) {
      for (unsigned char b2 : thirds) {
        s[0] = static_cast<char>(b0);
        s[1] = static_cast<char>(b1);
        s[2] = static_cast<char>(b2);
        s[3] = static_cast<char>(0x80);
        for (size_t n : limits) {
          const int fast = dp_mblen(s, n);
          const int slow = mblen_by_trial(s, n);
          if (fast != slow && ++mismatches < 10) {
            ADD_FAILURE() << codeset << " " << std::hex << b0 << " " << b1 << " "
                          << unsigned(b2) << " n=" << n << ": " << fast << " vs " << slow;
          }
        }
        if (b1 == 0) break;
      }
    }
  }
  // Every third byte after the leads of three- and four-byte sequences.
  for (unsigned b0 : {0x8Fu, 0xE4u, 0xEDu, 0xF0u, 0x81u}) {
    for (unsigned b1 = 1; b1 < 256; ++b1) {
      for (unsigned b2 = 0; b2 < 256; ++b2) {
        s[0] = static_cast<char>(b0);
        s[1] = static_cast<char>(b1);
        s[2] = static_cast<char>(b2);
        for (size_t n : {size_t{3}, size_t{6}}) {
          if (dp_mblen(s, n) != mblen_by_trial(s, n) && ++mismatches < 10) {
            ADD_FAILURE() << codeset << " " << std::hex << b0 << " " << b1 << " " << b2;
          }
        }
      }
    }
  }
  EXPECT_EQ(mismatches, 0u) << codeset;
}

TEST_F(Multibyte, TablesAgreeWithTrialConversion) {
  for (const char* cs : {"EUC-JP", "UTF-8", "SHIFT_JIS", "ISO-8859-1", "GB18030"}) {
    CompareWithTrial(cs);
  }
}

TEST_F(Multibyte, MeasuringOpensNoDescriptorPerCharacter) {
  Use("ja_JP.EUC-JP", "EUC-JP");
  std::string text;
  for (int i = 0; i < 2000; ++i) text += "a\xA4\xA2\x8E\xB1\x8F\xB0\xA1";
  dp_mblen("x", 1);  // builds the tables once
  const uint64_t opens = dpxut::iconv_cache_thread_opens();
  size_t chars = 0;
  for (const char* p = text.c_str(); *p != '\0'; p = HVNextChar(p)) ++chars;
  EXPECT_EQ(chars, 8000u);
  EXPECT_LE(dpxut::iconv_cache_thread_opens() - opens, 1u);
}

TEST_F(Multibyte, CodeSetChangeRebuildsTheTables) {
  Use("en_US.UTF-8", "EUC-JP");
  EXPECT_EQ(dp_mblen("\xE4\xB8\xAD", 3), 2);  // two-byte EUC-JP character
  ASSERT_EQ(DPInitUniLibrary("UTF-8"), 0u);
  EXPECT_EQ(dp_mblen("\xE4\xB8\xAD", 3), 3);
  // The host may write the name itself: the tables follow it too.
  strcpy(dp_current_codeset, "EUC-JP");
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

TEST_F(Multibyte, ThreadsMeasureAlike) {
  Use("ja_JP.EUC-JP", "EUC-JP");
  std::mt19937 rng(7);
  std::string text;
  for (int i = 0; i < 4000; ++i) text += static_cast<char>(rng() % 255 + 1);
  std::vector<size_t> expected;
  for (const char* p = text.c_str(); *p != '\0'; p = HVNextChar(p)) expected.push_back(p - text.c_str());
  std::vector<std::vector<size_t>> got(4);
  std::vector<std::thread> threads;
  for (auto& g : got) {
    threads.emplace_back([&text, &g] {
      for (const char* p = text.c_str(); *p != '\0'; p = HVNextChar(p)) g.push_back(p - text.c_str());
    });
  }
  for (auto& t : threads) t.join();
  for (const auto& g : got) EXPECT_EQ(g, expected);
}

}  // namespace
