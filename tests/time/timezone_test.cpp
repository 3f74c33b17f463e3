// The server's zone: the standard offset recorded in stamps and the current
// offset with daylight saving time, under fixed POSIX TZ rules.
#include <gtest/gtest.h>

#include "time_test_support.h"

namespace {

using dpxut::time_test::use_zone;

TEST(ServerZone, StandardOffsetInMinutesTruncatesTowardZero) {
  const struct { const char* tz; int32_t minutes; } cases[] = {
      {"UTC0", 0},          {"EST5EDT,M3.2.0,M11.1.0", -300},  // daylight saving never counts
      {"IST-5:30", 330},    {"NST3:30NDT,M3.2.0,M11.1.0", -210},
      {"XXX-5:30:59", 330}, {"XXX5:30:59", -330},  // seconds are cut, not rounded
  };
  for (const auto& c : cases) {
    use_zone(c.tz);
    EXPECT_EQ(GenECMATimeZone(), c.minutes) << c.tz;
  }
}

// TZ changed after the process first read it is followed at once, also by a
// first call that no tzset preceded.
TEST(ServerZone, FollowsChangedTz) {
  ::setenv("TZ", "IST-5:30", 1);
  EXPECT_EQ(GenECMATimeZone(), 330);
  ::setenv("TZ", "EST5", 1);
  EXPECT_EQ(GenECMATimeZone(), -300);
  HVDPECMATimeStamp s;
  HVDPUnixTimeToECMA(0, &s, 1);
  EXPECT_EQ(s.typeAndTimeZone, 0x1ED4);
}

TEST(ServerZone, CurrentOffsetIncludesDaylightSaving) {
  const struct { const char* tz; int32_t seconds; } cases[] = {
      {"IST-5:30", 19800},
      {"EST5EDT,0/0,J365/25", -14400},           // daylight saving all year round
      {"LHST-10:30LHDT-11,0/0,J365/25", 39600},  // a half-hour daylight shift
      {"XXX3:15:20YYY,0/0,J365/25", -8120},      // odd seconds kept
  };
  for (const auto& c : cases) {
    use_zone(c.tz);
    EXPECT_EQ(SetTZOffset(), c.seconds) << c.tz;
    EXPECT_EQ(SetTZOffset(), c.seconds) << c.tz << " (again)";
  }
}

}  // namespace
