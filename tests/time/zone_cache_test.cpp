// The server's zone as the library keeps it between calls: every answer
// equals the platform's, read afresh with tzset, when TZ changes between
// calls and when the zone file behind it does.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <string>
#include <thread>
#include <utility>

#include "dpxut.h"

namespace {

constexpr int32_t kAnyZone = 0x7FFF;

// What the library reports (standard minutes, current offset), twice, the
// second answer from what it kept, against the platform's read afresh.
void expect_platform_zone(const std::string& what, int32_t minutes = kAnyZone) {
  const auto first = std::pair(GenECMATimeZone(), SetTZOffset());
  EXPECT_EQ(std::pair(GenECMATimeZone(), SetTZOffset()), first) << what;
  ::tzset();
  const time_t now = ::time(nullptr);
  struct tm t {};
  localtime_r(&now, &t);
  EXPECT_EQ(first, std::pair(static_cast<int32_t>(-(::timezone / 60)), static_cast<int32_t>(t.tm_gmtoff))) << what;
  if (minutes != kAnyZone) EXPECT_EQ(first.first, minutes) << what;
}

// A zone file with one zone type, "ZZZ", `seconds` east of UTC at all times:
// header, counts (no UT or standard flags, leaps or transitions; 1 type, 4
// name bytes), the type (offset, not DST, name at 0), the name.
void write_zone_file(const std::string& path, int32_t seconds) {
  std::string file = "TZif" + std::string(35, '\0') + '\1' + std::string(3, '\0') + '\4';
  for (int shift = 24; shift >= 0; shift -= 8) file += static_cast<char>(seconds >> shift);
  std::ofstream(path, std::ios::binary | std::ios::trunc) << file << std::string("\0\0ZZZ\0", 6);
}

std::string scratch_path() { return ::testing::TempDir() + "zone_cache_" + std::to_string(::getpid()); }

TEST(ZoneCache, FollowsEveryChangeOfTz) {
  const std::string too_long = "<" + std::string(130, 'A') + ">-3";  // longer than the library keeps
  for (const char* tz : {"", "UTC0", "EST5EDT,M3.2.0,M11.1.0", "IST-5:30", ":IST-5:30", too_long.c_str(),
                         "XXX3:15:20YYY,0/0,J365/25", "unset", "IST-5:30", "", "unset"}) {
    std::string(tz) == "unset" ? ::unsetenv("TZ") : ::setenv("TZ", tz, 1);
    expect_platform_zone(tz);
  }
}

// A zone file named in TZ is read again only once TZ's text changes (a
// leading colon is no change), and then only if it is another file.
TEST(ZoneCache, ZoneFileInTzIsReadWhenTzChanges) {
  const std::string path = scratch_path();
  write_zone_file(path, 7200);
  ::setenv("TZ", (":" + path).c_str(), 1);
  expect_platform_zone("first file", 120);
  write_zone_file(path + "~", -10800);
  ASSERT_EQ(std::rename((path + "~").c_str(), path.c_str()), 0);
  for (const std::string& tz : {":" + path, path, "/" + path}) {
    ::setenv("TZ", tz.c_str(), 1);
    expect_platform_zone(tz, tz.starts_with("//") ? -180 : 120);
  }
}

// With TZ unset, a file mounted over /etc/localtime and then rewritten in
// place is seen within a second.
TEST(ZoneCache, SystemZoneFileIsFollowedWithinASecond) {
  if (::geteuid() != 0 || ::access("/etc/localtime", F_OK) != 0 || ::unshare(CLONE_NEWNS) != 0)
    GTEST_SKIP() << "needs root and /etc/localtime, to mount zone files over it in a private mount namespace";
  ASSERT_EQ(::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr), 0);
  ::unsetenv("TZ");
  expect_platform_zone("the machine's zone");
  const std::string path = scratch_path();
  for (int32_t seconds : {7200, -10800}) {
    write_zone_file(path, seconds);
    if (seconds > 0) ASSERT_EQ(::mount(path.c_str(), "/etc/localtime", nullptr, MS_BIND, nullptr), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    expect_platform_zone(path, seconds / 60);
  }
}

}  // namespace
