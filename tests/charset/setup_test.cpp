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
using dpxut::iconv_cache_thread_opens;
constexpr uint32_t kFailed = 0xFFFFFFFFu;

TEST(ConfigValue, ExtractsValueWithoutBlanksAndQuotes) {
  const std::string v255(255, 'v');
  const struct {
    std::string line;
    const char* value;  // null: refused
  } cases[] = {
      {"RC_LANG=\"de_DE.UTF-8\"\n", "de_DE.UTF-8"},  {"RC_LANG= de_DE \n", "de_DE"},
      {"RC_LANG=  \" ja_JP.eucJP \"  \t\n", "ja_JP.eucJP"},
      {"RC_LANG=de_DE", "de_DE"},                     // last line without newline
      {"RC_LANG=\"C\"\n", "C"},  {"RC_LANG= C\n", "C"},  // one character after a skipped one is kept
      {"RC_LANG=a=b\n", "a=b"},                        // only the first "=" separates
      {"RC_LANG=\"a\" \"b\"\n", "a\" \"b"},            // inner quotes stay
      {"RC_LANG=\"\"\n", nullptr},  {"RC_LANG=\n", nullptr},  {"RC_LANG=", nullptr},  // empty
      {"RC_LANG=  \t \n", nullptr}, {"RC_LANG=\"  \"", nullptr},  {"no key here\n", nullptr},
      {"RC_LANG=\"" + v255 + "\"\n", v255.c_str()},          // fills the 256-byte slot exactly
      {"RC_LANG=" + std::string(256, 'v') + "\n", nullptr},  // would overrun the slot
  };
  for (const auto& c : cases) {
    std::vector<char> line(c.line.begin(), c.line.end());
    line.push_back('\0');
    char value[256];
    std::memset(value, 'Z', sizeof value);
    const uint32_t rc = GetValueFromLocaleString(line.data(), value);
    EXPECT_EQ(rc, c.value ? 0u : kFailed) << c.line;
    if (c.value) EXPECT_STREQ(value, c.value) << c.line;
    else EXPECT_EQ(value[0], 'Z') << c.line << ": nothing written";
  }
  EXPECT_EQ(GetValueFromLocaleString(nullptr, nullptr), kFailed);
  char line[] = "RC_LANG=\"xx_YY\"  \n";  // the line is cut after the value
  char value[256];
  ASSERT_EQ(GetValueFromLocaleString(line, value), 0u);
  EXPECT_STREQ(line, "RC_LANG=\"xx_YY");
}

using LanguageFile = CharsetEnv;

TEST_F(LanguageFile, PicksLcAllBeforeLangAndStopsAtLcAll) {
  char locale[256] = "untouched";
  EXPECT_EQ(GetLocaleFromConfigFile(locale), kFailed) << "no file";
  EXPECT_STREQ(locale, "untouched");
  EXPECT_EQ(GetLocaleFromConfigFile(nullptr), kFailed);
  const struct {
    const char* what;
    std::string text;
    const char* locale;  // null: no value
  } cases[] = {
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
      {"over-long value ignored", "RC_LANG=zz_WW\nRC_LANG=" + std::string(300, 'x') + "\n", "zz_WW"},
      {"tail of an over-long line is no line",
       "# " + std::string(1100, '-') + "RC_LANG=xx_YY\nRC_LANG=zz_WW\n", "zz_WW"},
      {"over-long line keeps its head", "RC_LANG=xx_YY" + std::string(1500, ' ') + "\n", "xx_YY"},
      {"empty file", "", nullptr},
  };
  for (const auto& c : cases) {
    WriteLanguageFile(c.text);
    std::memset(locale, 'Z', sizeof locale);
    const uint32_t rc = GetLocaleFromConfigFile(locale);
    EXPECT_EQ(rc, c.locale ? 0u : kFailed) << c.what;
    if (c.locale) {
      EXPECT_STREQ(locale, c.locale) << c.what;
    }
  }
}

using Discovery = CharsetEnv;

TEST_F(Discovery, ConfiguredUtf8LocaleYieldsItsLanguagesCodeSet) {
  WriteLanguageFile("RC_LANG=zz_WW\nRC_LC_ALL=\"xx_YY.UTF-8\"\n");
  char codeset[128] = {};
  ASSERT_EQ(GetServerMBCSCodeSet(codeset), 0u);
  EXPECT_STREQ(codeset, "EUC-JP");  // xx_YY is the EUC-JP locale
  ASSERT_TRUE(resetLocaleToThis && resetCharSetToThis);
  EXPECT_STREQ(resetLocaleToThis, "xx_YY.UTF-8");  // as configured, before the cut
  EXPECT_STREQ(resetCharSetToThis, "C");
  EXPECT_EQ(CurrentCtype(), "C");  // switched back: DPUseMbFunctions is 0
  EXPECT_EQ(Env("LC_ALL"), "<unset>");
  for (const char* name : {"xx_YY.utf8", "xx_YY.utf-8", "xx_YY.UTF8", "xx_YY.UTF-8@euro", "uu_VV"}) {
    WriteLanguageFile(std::string("RC_LANG=") + name + "\n");  // uu_VV: no tag, taken as it stands
    ASSERT_EQ(GetServerMBCSCodeSet(codeset), 0u) << name;
    EXPECT_STREQ(codeset, name[0] == 'u' ? "UTF-8" : "EUC-JP") << name;
  }
}

TEST_F(Discovery, WithoutFileTheEnvironmentDecides) {
  setenv("LC_ALL", "ja_JP.EUC-JP", 1);
  char codeset[128] = {};
  ASSERT_EQ(GetServerMBCSCodeSet(codeset), 0u);
  EXPECT_STREQ(codeset, "EUC-JP");
  EXPECT_STREQ(resetLocaleToThis, "");
  EXPECT_EQ(CurrentCtype(), "C");
  // A UTF-8 environment: the set-up opens no probe descriptors.
  setenv("LC_ALL", "en_US.UTF-8", 1);
  const uint64_t opens = iconv_cache_thread_opens();
  ASSERT_EQ(DPInitUniLibrary(nullptr), 0u);
  EXPECT_STREQ(dp_current_codeset, "UTF-8");
  EXPECT_EQ(iconv_cache_thread_opens(), opens);
}

using SetUpAndShutDown = CharsetEnv;

TEST_F(SetUpAndShutDown, DiscoversOnceAndProbesBothDirections) {
  WriteLanguageFile("RC_LANG=xx_YY\n");
  const uint64_t opens = iconv_cache_thread_opens();
  ASSERT_EQ(DPInitUniLibrary(nullptr), 0u);
  EXPECT_EQ(DPInitICONV, 1);
  EXPECT_STREQ(dp_current_codeset, "EUC-JP");
  EXPECT_EQ(iconv_cache_thread_opens() - opens, 2u);  // to and from UTF-8
  // Set up already: a null name returns at once, even if the file changed.
  WriteLanguageFile("RC_LANG=zz_WW\n");
  ASSERT_EQ(DPInitUniLibrary(nullptr), 0u);
  EXPECT_STREQ(dp_current_codeset, "EUC-JP");
  ASSERT_EQ(DPInitUniLibrary(""), 0u);  // an empty name discovers again
  EXPECT_STREQ(dp_current_codeset, "ISO-8859-1");
}

TEST_F(SetUpAndShutDown, ExplicitNamesRunAgainAndRefusedOnesLeaveTheFlag) {
  WriteLanguageFile("RC_LANG=qq_QQ\n");  // a locale that cannot be selected
  char codeset[128] = "keep";
  EXPECT_EQ(GetServerMBCSCodeSet(codeset), kFailed);
  EXPECT_STREQ(codeset, "keep");
  EXPECT_EQ(CurrentCtype(), "C");
  EXPECT_EQ(GetServerMBCSCodeSet(nullptr), kFailed);
  EXPECT_EQ(DPInitUniLibrary(nullptr), kFailed);
  EXPECT_EQ(DPInitUniLibrary("NO-SUCH-CODESET"), kFailed);
  EXPECT_EQ(DPInitICONV, 0);
  EXPECT_STREQ(dp_current_codeset, "NO-SUCH-CODESET");  // kept, as documented
  ASSERT_EQ(DPInitUniLibrary("EUC-JP"), 0u);
  ASSERT_EQ(DPInitUniLibrary("ISO-8859-1"), 0u);  // runs again, replaces the code set
  EXPECT_STREQ(dp_current_codeset, "ISO-8859-1");
  EXPECT_STREQ(resetLocaleToThis, "qq_QQ") << "an explicit name discovers nothing";
  EXPECT_EQ(DPInitUniLibrary("NO-SUCH-CODESET"), kFailed);
  EXPECT_EQ(DPInitICONV, 1) << "a refused name leaves the flag as it was";
  // A name of 128 bytes does not fit and is refused whole; 127 bytes fit and
  // are taken, then refused by iconv.
  ASSERT_EQ(DPInitUniLibrary("EUC-JP"), 0u);
  EXPECT_EQ(DPInitUniLibrary(std::string(128, 'A').c_str()), kFailed);
  EXPECT_STREQ(dp_current_codeset, "EUC-JP");
  EXPECT_EQ(DPInitUniLibrary(std::string(127, 'A').c_str()), kFailed);
  EXPECT_EQ(std::string(dp_current_codeset), std::string(127, 'A'));
}

TEST_F(SetUpAndShutDown, ShutDownRestoresTheHostsLocale) {
  WriteLanguageFile("RC_LC_ALL=\"xx_YY.UTF-8\"\n");
  std::setlocale(LC_CTYPE, "en_US.ISO-8859-1");
  ASSERT_EQ(DPInitUniLibrary(nullptr), 0u);
  EXPECT_EQ(CurrentCtype(), "en_US.ISO-8859-1");  // not switched without the mb functions
  EXPECT_EQ(DPShutDownUniLibrary(), 0u);
  EXPECT_TRUE(DPInitICONV == 0 && resetCharSetToThis == nullptr && resetLocaleToThis == nullptr);
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
  EXPECT_TRUE(resetCharSetToThis == nullptr && resetLocaleToThis == nullptr);
  // Chosen by the environment, the locale leaves LC_ALL as the host set it.
  setenv("LC_ALL", "ja_JP.EUC-JP", 1);
  WriteLanguageFile("");
  ASSERT_EQ(DPInitUniLibrary(nullptr), 0u);
  EXPECT_EQ(CurrentCtype(), "ja_JP.EUC-JP");
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
