// Process environment for tests: the time zone (use_zone), and for the
// character layer a scratch language file for the set-up to read, extra
// locale names that alias the hermetic test locales, and a fixture that
// leaves the process-wide conversion state as found.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <clocale>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>

#include "charset/setup.h"
#include "dpxut.h"

namespace dpxut::testing {

// Each test runs in a process of its own, so the zone set here stays with
// that one test. POSIX rule strings need no zone database.
inline void use_zone(const char* tz) {
  ::setenv("TZ", tz, 1);
  ::tzset();
}

// A private directory holding the language file and locale aliases:
//   xx_YY -> ja_JP.EUC-JP, zz_WW -> en_US.ISO-8859-1, uu_VV -> en_US.UTF-8
// LOCPATH is set to it followed by the test locales.
class CharsetEnv : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/dpxut-charset-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    const std::filesystem::path locales = DPXUT_TEST_LOCPATH;
    std::filesystem::create_directory_symlink(locales / "ja_JP.EUC-JP", dir_ / "xx_YY");
    std::filesystem::create_directory_symlink(locales / "en_US.ISO-8859-1", dir_ / "zz_WW");
    std::filesystem::create_directory_symlink(locales / "en_US.UTF-8", dir_ / "uu_VV");
    const std::string locpath = dir_.string() + ":" + locales.string();
    setenv("LOCPATH", locpath.c_str(), 1);
    unsetenv("LC_ALL");
    unsetenv("LC_CTYPE");
    unsetenv("LANG");
    std::setlocale(LC_ALL, "C");
    file_ = (dir_ / "language").string();
    charset::set_language_file_for_testing(file_.c_str());  // absent until written
  }

  void TearDown() override {
    DPShutDownUniLibrary();
    DPUseMbFunctions = 0;
    charset::set_language_file_for_testing(nullptr);
    std::setlocale(LC_ALL, "C");
    std::filesystem::remove_all(dir_);
  }

  void WriteLanguageFile(const std::string& text) {
    std::ofstream(file_, std::ios::binary) << text;
  }

  static std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v != nullptr ? v : "<unset>";
  }
  static std::string CurrentCtype() { return std::setlocale(LC_CTYPE, nullptr); }

  std::filesystem::path dir_;
  std::string file_;
};

}  // namespace dpxut::testing
