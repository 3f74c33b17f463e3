// Conversion set-up: reading the language file, discovering the server code
// set, and the shut-down that gives the host its locale back.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "charset/charset_env.h"
#include "common/iconv_cache.h"

namespace {

using dpxut::testing::CharsetEnv;
constexpr uint32_t kFailed = 0xFFFFFFFFu;

struct ValueCase {
  const char* line;
  const char* value;  // null: refused
};

TEST(ConfigValue, ExtractsValueWithoutBlanksAndQuotes) {
  const std::string v255(255, 'v');
  const std::string v256(256, 'v');
  const std::string long_ok = "RC_LANG=\"" + v255 + "\"\n";
  const std::string long_bad = "RC_LANG=" + v256 + "\n";
  const std::vector<ValueCase> cases = {
      {"RC_LANG=\"de_DE.UTF-8\"\n", "de_DE.UTF-8"},
      {"RC_LANG= de_DE \n", "de_DE"},
      {"RC_LANG=  \" ja_JP.eucJP \"  \t\n", "ja_JP.eucJP"},
      {"RC_LANG=de_DE", "de_DE"},            // last line without newline
      {"RC_LANG=\"C\"\n", "C"},              // one character after a quote is kept
      {"RC_LANG= C\n", "C"},
      {"RC_LANG=a=b\n", "a=b"},              // only the first "=" separates
      {"RC_LANG=\"a\" \"b\"\n", "a\" \"b"},  // inner quotes stay
      {"RC_LANG=\"\"\n", nullptr},           // empty pair of quotes
      {"RC_LANG=\n", nullptr},
      {"RC_LANG=", nullptr},
      {"RC_LANG=  \t \n", nullptr},
      {"RC_LANG=\"  \"", nullptr},
      {"no key here\n", nullptr},            // no "=" at all
      {long_ok.c_str(), v255.c_str()},       // fills the 256-byte slot exactly
      {long_bad.c_str(), nullptr},           // would overrun the slot
  };
  for (const auto& c : cases) {
    std::string line = c.line;
    std::vector<char> buf(line.begin(), line.end());
    buf.push_back('\0');
    char value[256];
    std::memset(value, 'Z', sizeof value);
    const uint32_t rc = GetValueFromLocaleString(buf.data(), value);
    if (c.value == nullptr) {
      EXPECT_EQ(rc, kFailed) << c.line;
      EXPECT_EQ(value[0], 'Z') << c.line;  // nothing written
    } else {
      EXPECT_EQ(rc, 0u) << c.line;
      EXPECT_STREQ(value, c.value) << c.line;
    }
  }
  EXPECT_EQ(GetValueFromLocaleString(nullptr, nullptr), kFailed);
}

TEST(ConfigValue, CutsTheLineAfterTheValue) {
  char line[] = "RC_LANG=\"xx_YY\"  \n";
  char value[256];
  ASSERT_EQ(GetValueFromLocaleString(line, value), 0u);
  EXPECT_STREQ(line, "RC_LANG=\"xx_YY");
}

struct FileCase {
  const char* what;
  std::string text;
  const char* locale;  // null: no value
};

class LanguageFile : public CharsetEnv {};

TEST_F(LanguageFile, PicksLcAllBeforeLangAndStopsAtLcAll) {
  const std::vector<FileCase> cases = {
      {"lang only", "# comment\nRC_LANG=\"de_DE.UTF-8\"\n", "de_DE.UTF-8"},
      {"keys in any case", "rc_lang=xx_YY\n", "xx_YY"},
      {"lc_all wins", "RC_LANG=zz_WW\nRC_LC_ALL=\"xx_YY.UTF-8\"\n", "xx_YY.UTF-8"},
      {"lc_all wins when first", "RC_LC_ALL=xx_YY\nRC_LANG=zz_WW\n", "xx_YY"},
      {"later lang replaces", "RC_LANG=zz_WW\nRC_LANG=xx_YY\n", "xx_YY"},
      {"invalid later lang ignored", "RC_LANG=zz_WW\nRC_LANG=\"\"\n", "zz_WW"},
      {"empty lc_all falls back", "RC_LANG=zz_WW\nRC_LC_ALL=\"\"\n", "zz_WW"},
      {"lang after lc_all not read", "RC_LC_ALL=\"\"\nRC_LANG=zz_WW\n", nullptr},
      {"second lc_all not read", "RC_LC_ALL=\"\"\nRC_LC_ALL=xx_YY\n", nullptr},
      {"indented key is no key", "  RC_LANG=zz_WW\n", nullptr},
      {"other keys", "RC_LANG_EXTRA=zz_WW\nINSTALLED_LANGUAGES=\"\"\n", nullptr},
      {"over-long value ignored", "RC_LANG=zz_WW\nRC_LANG=" + std::string(300, 'x') + "\n",
       "zz_WW"},
      {"tail of an over-long line is no line",
       "# " + std::string(1100, '-') + "RC_LANG=xx_YY\nRC_LANG=zz_WW\n", "zz_WW"},
      {"over-long line keeps its head", "RC_LANG=xx_YY" + std::string(1500, ' ') + "\n",
       "xx_YY"},
      {"empty file", "", nullptr},
  };
  for (const auto& c : cases) {
    WriteLanguageFile(c.text);
    char locale[256];
    std::memset(locale, 'Z', sizeof locale);
    const uint32_t rc = GetLocaleFromConfigFile(locale);
    if (c.locale == nullptr) {
      EXPECT_EQ(rc, kFailed) << c.what;
    } else {
      EXPECT_EQ(rc, 0u) << c.what;
      EXPECT_STREQ(locale, c.locale) << c.what;
    }
  }
}

TEST_F(LanguageFile, MissingFileHasNoValue) {
  char locale[256] = "untouched";
  EXPECT_EQ(GetLocaleFromConfigFile(locale), kFailed);
  EXPECT_STREQ(locale, "untouched");
  EXPECT_EQ(GetLocaleFromConfigFile(nullptr), kFailed);
}

class Discovery : public CharsetEnv {};

TEST_F(Discovery, ConfiguredUtf8LocaleYieldsItsLanguagesCodeSet) {
  WriteLanguageFile("RC_LANG=zz_WW\nRC_LC_ALL=\"xx_YY.UTF-8\"\n");
  char codeset[128] = {};
  ASSERT_EQ(GetServerMBCSCodeSet(codeset), 0u);
  EXPECT_STREQ(codeset, "EUC-JP");  // xx_YY is the EUC-JP locale
  ASSERT_NE(resetLocaleToThis, nullptr);
  EXPECT_STREQ(resetLocaleToThis, "xx_YY.UTF-8");  // as configured, before the cut
  ASSERT_NE(resetCharSetToThis, nullptr);
  EXPECT_STREQ(resetCharSetToThis, "C");
  EXPECT_EQ(CurrentCtype(), "C");  // switched back: DPUseMbFunctions is 0
  EXPECT_EQ(Env("LC_ALL"), "<unset>");
}

TEST_F(Discovery, EveryUtf8SpellingIsCut) {
  for (const char* name : {"xx_YY.utf8", "xx_YY.utf-8", "xx_YY.UTF8", "xx_YY.UTF-8@euro"}) {
    WriteLanguageFile(std::string("RC_LANG=") + name + "\n");
    char codeset[128] = {};
    ASSERT_EQ(GetServerMBCSCodeSet(codeset), 0u) << name;
    EXPECT_STREQ(codeset, "EUC-JP") << name;
  }
  WriteLanguageFile("RC_LANG=uu_VV\n");  // no UTF-8 tag: taken as it stands
  char codeset[128] = {};
  ASSERT_EQ(GetServerMBCSCodeSet(codeset), 0u);
  EXPECT_STREQ(codeset, "UTF-8");
}

TEST_F(Discovery, WithoutFileTheEnvironmentDecides) {
  setenv("LC_ALL", "ja_JP.EUC-JP", 1);
  char codeset[128] = {};
  ASSERT_EQ(GetServerMBCSCodeSet(codeset), 0u);
  EXPECT_STREQ(codeset, "EUC-JP");
  EXPECT_STREQ(resetLocaleToThis, "");
  setenv("LC_ALL", "en_US.UTF-8", 1);
  ASSERT_EQ(GetServerMBCSCodeSet(codeset), 0u);
  EXPECT_STREQ(codeset, "UTF-8");
  EXPECT_EQ(CurrentCtype(), "C");
}

TEST_F(Discovery, UnselectableLocaleFails) {
  WriteLanguageFile("RC_LANG=qq_QQ\n");
  char codeset[128] = "keep";
  EXPECT_EQ(GetServerMBCSCodeSet(codeset), kFailed);
  EXPECT_STREQ(codeset, "keep");
  EXPECT_EQ(CurrentCtype(), "C");
  EXPECT_EQ(DPInitUniLibrary(nullptr), kFailed);
  EXPECT_EQ(DPInitICONV, 0);
  EXPECT_EQ(GetServerMBCSCodeSet(nullptr), kFailed);
}

class SetUpAndShutDown : public CharsetEnv {};

TEST_F(SetUpAndShutDown, DiscoversOnceAndProbesBothDirections) {
  WriteLanguageFile("RC_LANG=xx_YY\n");
  const uint64_t opens = dpxut::iconv_cache_thread_opens();
  ASSERT_EQ(DPInitUniLibrary(nullptr), 0u);
  EXPECT_EQ(DPInitICONV, 1);
  EXPECT_STREQ(dp_current_codeset, "EUC-JP");
  EXPECT_EQ(dpxut::iconv_cache_thread_opens() - opens, 2u);  // to and from UTF-8
  // Set up already: a null name returns at once, even if the file changed.
  WriteLanguageFile("RC_LANG=zz_WW\n");
  ASSERT_EQ(DPInitUniLibrary(nullptr), 0u);
  EXPECT_STREQ(dp_current_codeset, "EUC-JP");
  // An empty name discovers again.
  ASSERT_EQ(DPInitUniLibrary(""), 0u);
  EXPECT_STREQ(dp_current_codeset, "ISO-8859-1");
}

TEST_F(SetUpAndShutDown, Utf8NeedsNoProbe) {
  const uint64_t opens = dpxut::iconv_cache_thread_opens();
  ASSERT_EQ(DPInitUniLibrary("UTF-8"), 0u);
  EXPECT_EQ(dpxut::iconv_cache_thread_opens(), opens);
  EXPECT_STREQ(dp_current_codeset, "UTF-8");
  EXPECT_EQ(resetLocaleToThis, nullptr);  // an explicit name discovers nothing
}

TEST_F(SetUpAndShutDown, UnknownCodeSetFailsAndStaysNotSetUp) {
  EXPECT_EQ(DPInitUniLibrary("NO-SUCH-CODESET"), kFailed);
  EXPECT_EQ(DPInitICONV, 0);
  EXPECT_STREQ(dp_current_codeset, "NO-SUCH-CODESET");  // kept, as documented
  // A name always runs again, replacing the code set; a refused one leaves
  // the flag as it was.
  ASSERT_EQ(DPInitUniLibrary("EUC-JP"), 0u);
  ASSERT_EQ(DPInitUniLibrary("ISO-8859-1"), 0u);
  EXPECT_STREQ(dp_current_codeset, "ISO-8859-1");
  EXPECT_EQ(DPInitUniLibrary("NO-SUCH-CODESET"), kFailed);
  EXPECT_EQ(DPInitICONV, 1);
}

TEST_F(SetUpAndShutDown, OverlongCodeSetNameIsRefusedWhole) {
  ASSERT_EQ(DPInitUniLibrary("EUC-JP"), 0u);
  const std::string longname(128, 'A');
  EXPECT_EQ(DPInitUniLibrary(longname.c_str()), kFailed);
  EXPECT_STREQ(dp_current_codeset, "EUC-JP");
  // 127 bytes fit: taken as the name, then refused by iconv.
  const std::string fits(127, 'A');
  EXPECT_EQ(DPInitUniLibrary(fits.c_str()), kFailed);
  EXPECT_EQ(std::string(dp_current_codeset), fits);
}

TEST_F(SetUpAndShutDown, ShutDownRestoresTheHostsLocale) {
  WriteLanguageFile("RC_LC_ALL=\"xx_YY.UTF-8\"\n");
  std::setlocale(LC_CTYPE, "en_US.ISO-8859-1");
  ASSERT_EQ(DPInitUniLibrary(nullptr), 0u);
  EXPECT_EQ(CurrentCtype(), "en_US.ISO-8859-1");  // not switched without the mb functions
  EXPECT_EQ(DPShutDownUniLibrary(), 0u);
  EXPECT_EQ(DPInitICONV, 0);
  EXPECT_EQ(resetCharSetToThis, nullptr);
  EXPECT_EQ(resetLocaleToThis, nullptr);
  EXPECT_EQ(CurrentCtype(), "en_US.ISO-8859-1");
  EXPECT_EQ(Env("LC_ALL"), "<unset>");
  EXPECT_STREQ(dp_current_codeset, "EUC-JP");  // kept across shut-down
}

TEST_F(SetUpAndShutDown, MultibyteFunctionsKeepLocaleSwitchedUntilShutDown) {
  WriteLanguageFile("RC_LC_ALL=\"xx_YY.UTF-8\"\n");
  DPUseMbFunctions = 1;
  ASSERT_EQ(DPInitUniLibrary(nullptr), 0u);
  EXPECT_EQ(CurrentCtype(), "xx_YY");
  EXPECT_EQ(Env("LC_ALL"), "xx_YY");
  EXPECT_EQ(MB_CUR_MAX, 3u);  // the EUC-JP locale is in force
  // Discovering again must not take our switched locale for the host's.
  ASSERT_EQ(DPInitUniLibrary(""), 0u);
  EXPECT_STREQ(resetCharSetToThis, "C");
  ASSERT_EQ(DPShutDownUniLibrary(), 0u);
  EXPECT_EQ(CurrentCtype(), "C");
  EXPECT_EQ(Env("LC_ALL"), "xx_YY.UTF-8");  // the configured name, before the cut
  EXPECT_EQ(resetCharSetToThis, nullptr);
  EXPECT_EQ(resetLocaleToThis, nullptr);
}

TEST_F(SetUpAndShutDown, EnvironmentChosenLocaleLeavesLcAllAlone) {
  setenv("LC_ALL", "ja_JP.EUC-JP", 1);
  DPUseMbFunctions = 1;
  ASSERT_EQ(DPInitUniLibrary(nullptr), 0u);
  EXPECT_STREQ(dp_current_codeset, "EUC-JP");
  EXPECT_EQ(CurrentCtype(), "ja_JP.EUC-JP");
  EXPECT_EQ(Env("LC_ALL"), "ja_JP.EUC-JP");
  DPShutDownUniLibrary();
  EXPECT_EQ(CurrentCtype(), "C");
  EXPECT_EQ(Env("LC_ALL"), "ja_JP.EUC-JP");
}

TEST_F(SetUpAndShutDown, RepeatedSetUpsReleaseTheSavedNames) {
  EXPECT_EQ(DPShutDownUniLibrary(), 0u);  // harmless before any set-up
  WriteLanguageFile("RC_LANG=\"xx_YY.UTF-8\"\n");
  for (int i = 0; i < 50; ++i) {
    ASSERT_EQ(DPInitUniLibrary(""), 0u);  // replaces both saved names
    if (i % 5 == 0) DPShutDownUniLibrary();
  }
  DPUseMbFunctions = 1;
  for (int i = 0; i < 20; ++i) ASSERT_EQ(DPInitUniLibrary(""), 0u);
  EXPECT_STREQ(resetCharSetToThis, "C");
  // The leak checker of the sanitizer build sees any name not released.
}

}  // namespace
