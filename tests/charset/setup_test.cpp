// Conversion set-up: reading the language file, discovering the server code
// set, and the shut-down that gives the host its locale back.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "common/iconv_cache.h"
#include "support/env.h"

namespace {

using dpxut::iconv_cache_thread_opens;
using CharsetSetUp = dpxut::testing::CharsetEnv;
constexpr uint32_t kFailed = 0xFFFFFFFFu;

// The value after the first "=" without the blanks and quotes around it,
// at most 255 bytes; the line is cut after the value.
TEST(ConfigValue, ExtractsValueWithoutBlanksAndQuotes) {
  const std::string v255(255, 'v');
  const std::pair<std::string, const char*> cases[] = {  // null: refused, nothing written
      {"RC_LANG=  \" ja_JP.eucJP \"  \t\n", "ja_JP.eucJP"}, {"RC_LANG=de_DE", "de_DE"}, {"RC_LANG=\"C\"\n", "C"},
      {"RC_LANG=a=b\n", "a=b"}, {"RC_LANG=\"a\" \"b\"\n", "a\" \"b"}, {"RC_LANG=\"\"\n", nullptr},  // inner quotes stay
      {"RC_LANG=", nullptr}, {"no key here\n", nullptr}, {"RC_LANG=\"" + v255 + "\"\n", v255.c_str()},  // slot filled
      {"RC_LANG=" + v255 + "v\n", nullptr},  // the 256-byte slot would overflow
      {"RC_LANG= \nC", nullptr},             // the blanks run into the end of the line
  };
  for (const auto& [text, expect] : cases) {
    std::string line = text, value(256, 'Z');
    EXPECT_EQ(GetValueFromLocaleString(line.data(), value.data()), expect ? 0u : kFailed) << text;
    EXPECT_TRUE(expect ? value.c_str() == std::string(expect) && std::string(line.c_str()).ends_with(expect)
                       : value == std::string(256, 'Z')) << text;
  }
}

TEST_F(CharsetSetUp, LanguageFilePicksLcAllBeforeLangAndStopsAtLcAll) {
  char locale[256] = "untouched";
  EXPECT_TRUE(GetLocaleFromConfigFile(locale) == kFailed && std::string(locale) == "untouched") << "no file";
  const std::pair<std::string, const char*> cases[] = {  // null: no value
      {"# comment\nrc_lang=xx_YY\n", "xx_YY"}, {"RC_LANG=zz_WW\nRC_LC_ALL=\"xx_YY.UTF-8\"\n", "xx_YY.UTF-8"},
      {"RC_LANG=zz_WW\nRC_LANG=xx_YY\n", "xx_YY"}, {"RC_LANG=zz_WW\nRC_LANG=\"\"\n", "zz_WW"},  // empty: ignored
      {"RC_LANG=zz_WW\nRC_LC_ALL=\"\"\n", "zz_WW"}, {"RC_LC_ALL=\"\"\nRC_LANG=zz_WW\n", nullptr},  // stops at LC_ALL
      {"  RC_LANG=zz_WW\nRC_LANG_EXTRA=zz_WW\n", nullptr},  // indented or other keys
      {"RC_LANG=zz_WW\nRC_LANG=" + std::string(300, 'x') + "\n", "zz_WW"},  // over-long value ignored
      {"# " + std::string(1100, '-') + "RC_LANG=xx_YY\nRC_LANG=zz_WW\n", "zz_WW"},  // over-long line: no tail line
      {"RC_LANG=xx_YY" + std::string(1500, ' ') + "\n", "xx_YY"},                    // but its head
  };
  for (const auto& [text, expect] : cases) {
    WriteLanguageFile(text);
    std::memset(locale, 'Z', sizeof locale);
    EXPECT_EQ(GetLocaleFromConfigFile(locale), expect ? 0u : kFailed) << text;
    if (expect) {
      EXPECT_STREQ(locale, expect) << text;
    }
  }
}

// A configured UTF-8 locale names the language whose code set the server
// uses; the host's LC_CTYPE and LC_ALL are left as they were.
TEST_F(CharsetSetUp, DiscoveryTakesTheLanguageOfAConfiguredUtf8Locale) {
  char codeset[128] = "keep";
  WriteLanguageFile("RC_LANG=qq_QQ\n");  // a locale that cannot be selected
  EXPECT_TRUE(GetServerMBCSCodeSet(codeset) == kFailed && std::string(codeset) == "keep" && CurrentCtype() == "C");
  for (const char* name : {"xx_YY.UTF-8", "xx_YY.utf8", "xx_YY.utf-8", "xx_YY.UTF8@euro", "uu_VV"}) {
    WriteLanguageFile(std::string("RC_LANG=zz_WW\nRC_LC_ALL=\"") + name + "\"\n");  // uu_VV: no tag, as it stands
    ASSERT_EQ(GetServerMBCSCodeSet(codeset), 0u) << name;  // xx_YY is the EUC-JP locale; saved as configured
    EXPECT_TRUE(codeset == std::string(name[0] == 'u' ? "UTF-8" : "EUC-JP") && resetLocaleToThis == std::string(name));
    EXPECT_TRUE(std::string(resetCharSetToThis) == "C" && CurrentCtype() == "C" && Env("LC_ALL") == "<unset>");
  }
  setenv("LC_ALL", "ja_JP.EUC-JP", 1);  // without a file the environment decides
  WriteLanguageFile("");
  EXPECT_TRUE(GetServerMBCSCodeSet(codeset) == 0 && codeset == std::string("EUC-JP") && CurrentCtype() == "C");
  EXPECT_STREQ(resetLocaleToThis, "");
}

// The set-up discovers once; a name runs it again; a refused one leaves
// the flag as it was; shut-down gives the host its locale back.
TEST_F(CharsetSetUp, DiscoversOnceAndExplicitNamesRunAgain) {
  EXPECT_EQ(DPShutDownUniLibrary(), 0u);  // harmless before any set-up
  WriteLanguageFile("RC_LANG=qq_QQ\n");
  EXPECT_EQ(DPInitUniLibrary(nullptr) + DPInitUniLibrary("NO-SUCH-CODESET"), 2 * kFailed);
  EXPECT_TRUE(DPInitICONV == 0 && dp_current_codeset == std::string("NO-SUCH-CODESET"));  // kept, as documented
  // 128 bytes do not fit and are refused whole; 127 fit, then iconv refuses.
  EXPECT_TRUE(DPInitUniLibrary(std::string(128, 'A').c_str()) == kFailed && dp_current_codeset[0] == 'N');
  const std::string long_name(127, 'A');
  EXPECT_TRUE(DPInitUniLibrary(long_name.c_str()) == kFailed && long_name == dp_current_codeset);
  WriteLanguageFile("RC_LANG=xx_YY\n");
  std::setlocale(LC_CTYPE, "en_US.ISO-8859-1");
  const uint64_t opens = iconv_cache_thread_opens();
  EXPECT_TRUE(DPInitUniLibrary(nullptr) == 0 && DPInitICONV == 1 && dp_current_codeset == std::string("EUC-JP"));
  EXPECT_EQ(iconv_cache_thread_opens() - opens, 2u);  // probes to and from UTF-8
  WriteLanguageFile("RC_LANG=zz_WW\n");  // set up already: a null name returns at once, an empty one discovers again
  EXPECT_TRUE(DPInitUniLibrary(nullptr) == 0 && dp_current_codeset == std::string("EUC-JP"));
  EXPECT_TRUE(DPInitUniLibrary("") == 0 && dp_current_codeset == std::string("ISO-8859-1"));
  EXPECT_TRUE(DPInitUniLibrary("EUC-JP") == 0 && std::string(resetLocaleToThis) == "zz_WW");  // discovers nothing
  EXPECT_TRUE(DPInitUniLibrary("NO-SUCH-CODESET") == kFailed && DPInitICONV == 1);
  EXPECT_TRUE(DPShutDownUniLibrary() == 0 && DPInitICONV == 0 && !resetCharSetToThis && !resetLocaleToThis);
  EXPECT_TRUE(CurrentCtype() == "en_US.ISO-8859-1" && Env("LC_ALL") == "<unset>");  // never switched
  EXPECT_STREQ(dp_current_codeset, "NO-SUCH-CODESET");  // kept across shut-down
}

TEST_F(CharsetSetUp, MultibyteFunctionsKeepTheLocaleSwitchedUntilShutDown) {
  WriteLanguageFile("RC_LC_ALL=\"xx_YY.UTF-8\"\n");
  DPUseMbFunctions = 1;
  ASSERT_EQ(DPInitUniLibrary(nullptr), 0u);
  EXPECT_TRUE(CurrentCtype() == "xx_YY" && Env("LC_ALL") == "xx_YY" && MB_CUR_MAX == 3u);  // EUC-JP in force
  // Discovering again must not take our switched locale for the host's,
  // and each run releases the names it replaces (seen by the leak checker).
  for (int i = 0; i < 3; ++i) ASSERT_EQ(DPInitUniLibrary(""), 0u);
  EXPECT_TRUE(std::string(resetCharSetToThis) == "C" && DPShutDownUniLibrary() == 0 && CurrentCtype() == "C");
  EXPECT_EQ(Env("LC_ALL"), "xx_YY.UTF-8");  // the configured name, before the cut
  setenv("LC_ALL", "ja_JP.EUC-JP", 1);  // chosen by the environment: LC_ALL stays as the host set it
  WriteLanguageFile("");
  EXPECT_TRUE(DPInitUniLibrary(nullptr) == 0 && CurrentCtype() == "ja_JP.EUC-JP");
  DPShutDownUniLibrary();
  EXPECT_TRUE(CurrentCtype() == "C" && Env("LC_ALL") == "ja_JP.EUC-JP");
}

}  // namespace
