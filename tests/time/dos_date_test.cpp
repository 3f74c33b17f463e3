// DOS packed dates and times: packing with and without masks, unpacking,
// the range check with its zero bounds, ordering, and the present time.
#include <gtest/gtest.h>

#include <array>
#include <random>

#include "time/civil.h"
#include "time_test_support.h"

namespace {

using Fields = std::array<uint16_t, 6>;

TEST(DosRange, ZeroBoundsAndZeroDateAreNeverOutside) {
  const uint32_t a = 0x586F6DAF, b = 0x586F6DB0;
  const struct { uint32_t first, last, value, outside; } cases[] = {
      {0, 0, 0, 0}, {0, 0, 0xFFFFFFFF, 0}, {a, 0, 0, 0},  {a, b, 0, 0},  // no bound, no date
      {a, b, b + 1, 1}, {0, b, b + 1, 1},  {a, 0, a - 1, 1}, {2, 0, 1, 1},
      {a, b, a, 0}, {a, b, b, 0}, {a, 0, 0xFFFFFFFF, 0},  // bounds are inclusive
      {b, a, a, 1},                                       // empty range
  };
  for (const auto& c : cases)
    EXPECT_EQ(HVDPCheckDateAndTimeRange(c.first, c.last, c.value), c.outside)
        << std::hex << c.first << " " << c.last << " " << c.value;
}

// Valid fields are covered by the round trip below; these are the spills
// of the unmasked 16-bit forms and the masks of the 32-bit one.
TEST(DosPack, SixteenBitFormsSpillAndThirtyTwoBitFormMasks) {
  EXPECT_EQ(HVDPPackDate(1980, 1, 1), 0x0021);
  EXPECT_EQ(HVDPPackDate(1980, 16, 0), 0x0200);  // month 16 carries into the year
  EXPECT_EQ(HVDPPackDate(1980, 2, 32), 0x0060);  // day 32 carries into the month
  EXPECT_EQ(HVDPPackDate(1979, 1, 1), 0xFE21);   // year before 1980 wraps to 2107
  EXPECT_EQ(HVDPPackTime(13, 45, 31), 0x6DAF);
  EXPECT_EQ(HVDPPackTime(0, 64, 0), 0x0800);  // minute 64 carries into the hour
  EXPECT_EQ(HVDPPackTime(32, 0, 0), 0x0000);  // hour 32 leaves the 16 bits
  const struct { uint32_t y, mo, d, h, mi, s, packed; } cases[] = {
      {2024, 3, 15, 13, 45, 30, 0x586F6DAF},  {2024, 3, 15, 13, 45, 31, 0x586F6DAF},
      {2108, 1, 1, 0, 0, 0, 0x00210000},      // year keeps 7 bits: 2108 is 1980
      {1979, 1, 1, 0, 0, 0, 0xFE210000},      // and 1979 is 2107
      {2024, 17, 33, 33, 65, 66, 0x58210821}, // every field masked to its width
      {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0x87FFFFFF},
  };
  for (const auto& c : cases)
    EXPECT_EQ(HVDPPackDateTime(c.y, c.mo, c.d, c.h, c.mi, c.s), c.packed) << c.y << "-" << c.mo << "-" << c.d;
}

TEST(DosUnpack, SplitsWithoutValidatingAndSkipsNullOutputs) {
  const struct { uint32_t packed; Fields f; } cases[] = {
      {0x586F6DAF, {2024, 3, 15, 13, 45, 30}},
      {0x00000000, {1980, 0, 0, 0, 0, 0}},  // "no date" unpacks as 1980-00-00
      {0xFFFFFFFF, {2107, 15, 31, 31, 63, 62}},
  };
  for (const auto& c : cases) {
    Fields f{}, d{};
    HVDPUnPackDateTime(c.packed, &f[0], &f[1], &f[2], &f[3], &f[4], &f[5]);
    EXPECT_EQ(f, c.f) << std::hex << c.packed;
    // The 16-bit unpackers read only the low half of their argument.
    HVDPUnPackDate((c.packed >> 16) | 0xABCD0000u, &d[0], &d[1], &d[2]);
    HVDPUnPackTime(c.packed | 0xABCD0000u, &d[3], &d[4], &d[5]);
    EXPECT_EQ(d, c.f) << std::hex << c.packed;
  }
  uint16_t year = 0, second = 0;
  HVDPUnPackDate(0x0021, &year, nullptr, nullptr);
  HVDPUnPackTime(0x6DAF, nullptr, nullptr, &second);
  EXPECT_EQ(year, 1980);
  EXPECT_EQ(second, 30);
}

// Every valid moment survives packing (seconds rounded down to even), the
// two 16-bit halves agree with the 32-bit form, and packed values order
// exactly like the moments they stand for.
TEST(DosPack, RoundTripsAndOrdersLikeMoments) {
  std::mt19937 rng(1980);
  auto pick = [&](uint16_t lo, uint16_t hi) { return std::uniform_int_distribution<uint16_t>(lo, hi)(rng); };
  uint32_t previous_packed = 0;
  int64_t previous_moment = 0;
  for (int i = 0; i < 20000; ++i) {
    const Fields in = {pick(1980, 2107), pick(1, 12), pick(1, 28), pick(0, 23), pick(0, 59), pick(0, 59)};
    const uint32_t packed = HVDPPackDateTime(in[0], in[1], in[2], in[3], in[4], in[5]);
    ASSERT_EQ(packed, uint32_t{HVDPPackDate(in[0], in[1], in[2])} << 16 | HVDPPackTime(in[3], in[4], in[5]));
    Fields out;
    HVDPUnPackDateTime(packed, &out[0], &out[1], &out[2], &out[3], &out[4], &out[5]);
    Fields even = in;
    even[5] &= ~1u;
    ASSERT_EQ(out, even);
    const int64_t moment = dpxut::time::utc_seconds(in[0], in[1], in[2], in[3], in[4], even[5]);
    ASSERT_TRUE(i == 0 || (packed < previous_packed) == (moment < previous_moment)) << std::hex << packed;
    previous_packed = packed;
    previous_moment = moment;
  }
}

// The present time is packed local time: in a fixed zone it equals the UTC
// clock shifted by the zone's offset.
TEST(DosClock, PacksPresentLocalTime) {
  using Zone = std::pair<const char*, int64_t>;
  for (const auto& [tz, offset] : {Zone{"UTC0", 0}, Zone{"IST-5:30", 19800}, Zone{"XXX11", -39600}}) {
    dpxut::time_test::use_zone(tz);
    for (int attempt = 0; attempt < 3; ++attempt) {
      const time_t before = ::time(nullptr);
      const uint32_t packed = HVDPGetCurrentDateAndTime();
      if (::time(nullptr) != before) continue;  // the second turned: try again
      const int64_t local = int64_t{before} + offset, rest = local % 86400;
      const auto date = dpxut::time::civil_from_days(local / 86400);
      EXPECT_EQ(packed, HVDPPackDateTime(uint32_t(date.year), date.month, date.day, uint32_t(rest / 3600),
                                         uint32_t(rest / 60 % 60), uint32_t(rest % 60)))
          << tz;
      break;
    }
  }
}

}  // namespace
