// DOS packed dates and times: packing with and without masks, unpacking,
// the range check with its zero bounds, ordering, and the present time.
#include <gtest/gtest.h>

#include <array>
#include <random>

#include "time/civil.h"
#include "time_test_support.h"

namespace {

using dpxut::time_test::use_zone;

TEST(DosRange, ZeroBoundsAndZeroDateAreNeverOutside) {
  struct Case { uint32_t first, last, value, outside; };
  const uint32_t a = 0x586F6DAF, b = 0x586F6DB0;
  const Case cases[] = {
      {0, 0, 0, 0}, {0, 0, 1, 0}, {0, 0, 0xFFFFFFFF, 0},  // no bounds at all
      {a, 0, 0, 0}, {a, b, 0, 0}, {0, b, 0, 0},           // no date
      {a, b, b + 1, 1}, {0, b, b + 1, 1}, {a, b, 0xFFFFFFFF, 1},
      {a, 0, a - 1, 1}, {2, 0, 1, 1}, {a, b, a - 1, 1},
      {a, b, a, 0}, {a, b, b, 0}, {a, 0, 0xFFFFFFFF, 0},  // bounds are inclusive
      {b, a, a, 1},                                       // empty range
  };
  for (const Case& c : cases)
    EXPECT_EQ(HVDPCheckDateAndTimeRange(c.first, c.last, c.value), c.outside)
        << std::hex << c.first << " " << c.last << " " << c.value;
}

TEST(DosPack, SixteenBitFormsSpillIntoNeighbours) {
  struct Case { uint16_t y, m, d, packed; };
  const Case cases[] = {
      {1980, 1, 1, 0x0021},  {2024, 3, 15, 0x586F}, {2107, 12, 31, 0xFF9F},
      {1980, 16, 0, 0x0200},  // month 16 carries into the year
      {1980, 2, 32, 0x0060},  // day 32 carries into the month
      {1979, 1, 1, 0xFE21},   // year before 1980 wraps to 2107
      {2108, 1, 1, 0x0021},   // year 2108 leaves the 16 bits
  };
  for (const Case& c : cases) EXPECT_EQ(HVDPPackDate(c.y, c.m, c.d), c.packed) << c.y << "-" << c.m << "-" << c.d;
  struct TimeCase { uint16_t h, m, s, packed; };
  const TimeCase times[] = {
      {13, 45, 30, 0x6DAF}, {13, 45, 31, 0x6DAF}, {23, 59, 59, 0xBF7D}, {0, 0, 1, 0x0000},
      {0, 64, 0, 0x0800},   // minute 64 carries into the hour
      {32, 0, 0, 0x0000},   // hour 32 leaves the 16 bits
      {0, 0, 64, 0x0020},   // second 64 carries into the minute
  };
  for (const TimeCase& t : times) EXPECT_EQ(HVDPPackTime(t.h, t.m, t.s), t.packed) << t.h << ":" << t.m << ":" << t.s;
}

TEST(DosPack, ThirtyTwoBitFormMasksEveryField) {
  struct Case { uint32_t y, mo, d, h, mi, s, packed; };
  const Case cases[] = {
      {2024, 3, 15, 13, 45, 30, 0x586F6DAF},
      {2024, 3, 15, 13, 45, 31, 0x586F6DAF},  // two-second resolution
      {1980, 1, 1, 0, 0, 0, 0x00210000},
      {2107, 12, 31, 23, 59, 58, 0xFF9FBF7D},
      {2108, 1, 1, 0, 0, 0, 0x00210000},      // year keeps 7 bits: 2108 is 1980
      {1979, 1, 1, 0, 0, 0, 0xFE210000},      // and 1979 is 2107
      {2024, 17, 15, 13, 45, 30, 0x582F6DAF}, // month 17 -> 1
      {2024, 3, 33, 13, 45, 30, 0x58616DAF},  // day 33 -> 1
      {2024, 3, 15, 33, 45, 30, 0x586F0DAF},  // hour 33 -> 1
      {2024, 3, 15, 13, 65, 30, 0x586F682F},  // minute 65 -> 1
      {2024, 3, 15, 13, 45, 66, 0x586F6DA1},  // second 66 -> 2
      {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0x87FFFFFF},
  };
  for (const Case& c : cases)
    EXPECT_EQ(HVDPPackDateTime(c.y, c.mo, c.d, c.h, c.mi, c.s), c.packed)
        << c.y << "-" << c.mo << "-" << c.d << " " << c.h << ":" << c.mi << ":" << c.s;
}

TEST(DosUnpack, SplitsWithoutValidating) {
  struct Case { uint32_t packed; uint16_t y, mo, d, h, mi, s; };
  const Case cases[] = {
      {0x586F6DAF, 2024, 3, 15, 13, 45, 30},
      {0x00000000, 1980, 0, 0, 0, 0, 0},  // "no date" unpacks as 1980-00-00
      {0xFFFFFFFF, 2107, 15, 31, 31, 63, 62},
      {0x00210000, 1980, 1, 1, 0, 0, 0},
  };
  for (const Case& c : cases) {
    uint16_t f[6] = {9, 9, 9, 9, 9, 9};
    HVDPUnPackDateTime(c.packed, &f[0], &f[1], &f[2], &f[3], &f[4], &f[5]);
    EXPECT_EQ((std::array<uint16_t, 6>{f[0], f[1], f[2], f[3], f[4], f[5]}),
              (std::array<uint16_t, 6>{c.y, c.mo, c.d, c.h, c.mi, c.s}))
        << std::hex << c.packed;
    uint16_t d[3] = {9, 9, 9}, t[3] = {9, 9, 9};
    // The 16-bit unpackers read only the low half of their argument.
    HVDPUnPackDate((c.packed >> 16) | 0xABCD0000u, &d[0], &d[1], &d[2]);
    HVDPUnPackTime(c.packed | 0xABCD0000u, &t[0], &t[1], &t[2]);
    EXPECT_EQ((std::array<uint16_t, 6>{d[0], d[1], d[2], t[0], t[1], t[2]}),
              (std::array<uint16_t, 6>{c.y, c.mo, c.d, c.h, c.mi, c.s}))
        << std::hex << c.packed;
  }
}

TEST(DosUnpack, SkipsNullOutputs) {
  uint16_t year = 0, second = 0, hour = 0;
  HVDPUnPackDate(0x0021, &year, nullptr, nullptr);
  HVDPUnPackTime(0x6DAF, nullptr, nullptr, &second);
  HVDPUnPackDateTime(0x586F6DAF, nullptr, nullptr, nullptr, &hour, nullptr, nullptr);
  EXPECT_EQ(year, 1980);
  EXPECT_EQ(second, 30);
  EXPECT_EQ(hour, 13);
}

// Every valid moment survives packing (seconds rounded down to even), the
// two 16-bit halves agree with the 32-bit form, and packed values order
// exactly like the moments they stand for.
TEST(DosPack, RoundTripsAndOrdersLikeMoments) {
  std::mt19937 rng(1980);
  auto field = [&](uint32_t lo, uint32_t hi) { return std::uniform_int_distribution<uint32_t>(lo, hi)(rng); };
  uint32_t previous_packed = 0;
  int64_t previous_moment = 0;
  for (int i = 0; i < 20000; ++i) {
    const uint32_t y = field(1980, 2107), mo = field(1, 12), d = field(1, 28), h = field(0, 23),
                   mi = field(0, 59), s = field(0, 59);
    const uint32_t packed = HVDPPackDateTime(y, mo, d, h, mi, s);
    ASSERT_EQ(packed, uint32_t{HVDPPackDate(uint16_t(y), uint16_t(mo), uint16_t(d))} << 16 |
                          HVDPPackTime(uint16_t(h), uint16_t(mi), uint16_t(s)));
    uint16_t f[6];
    HVDPUnPackDateTime(packed, &f[0], &f[1], &f[2], &f[3], &f[4], &f[5]);
    ASSERT_EQ((std::array<uint32_t, 6>{f[0], f[1], f[2], f[3], f[4], f[5]}),
              (std::array<uint32_t, 6>{y, mo, d, h, mi, s & ~1u}));
    const int64_t moment = dpxut::time::utc_seconds(y, mo, d, h, mi, s & ~1u);
    if (i > 0) {
      ASSERT_EQ(packed < previous_packed, moment < previous_moment) << std::hex << packed;
    }
    previous_packed = packed;
    previous_moment = moment;
  }
}

// The present time is packed local time: in a fixed zone it equals the UTC
// clock shifted by the zone's offset.
TEST(DosClock, PacksPresentLocalTime) {
  struct Zone { const char* tz; int64_t offset; };
  for (const Zone z : {Zone{"UTC0", 0}, Zone{"IST-5:30", 19800}, Zone{"XXX11", -39600}}) {
    use_zone(z.tz);
    for (int attempt = 0; attempt < 3; ++attempt) {
      const time_t before = ::time(nullptr);
      const uint32_t packed = HVDPGetCurrentDateAndTime();
      if (::time(nullptr) != before) continue;  // the second turned: try again
      const int64_t local = int64_t{before} + z.offset;
      const auto date = dpxut::time::civil_from_days(local / 86400);
      const int64_t rest = local % 86400;
      EXPECT_EQ(packed, HVDPPackDateTime(uint32_t(date.year), date.month, date.day, uint32_t(rest / 3600),
                                         uint32_t(rest / 60 % 60), uint32_t(rest % 60)))
          << z.tz;
      break;
    }
  }
}

}  // namespace
