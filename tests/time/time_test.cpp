// Dates and times: DOS packed values (packing with and without masks,
// unpacking, the range check, the present time), ECMA time stamps read into
// and written from DOS and Unix time, the zone word and the server's zone,
// and the order of stamps. Round trips over arbitrary values run in the
// ecma_time fuzz target.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <ctime>
#include <random>
#include <tuple>

#include "support/env.h"
#include "time_test_support.h"

namespace {

using dpxut::testing::use_zone;
using namespace dpxut::time_test;

TEST(DosRange, ZeroBoundsAndZeroDateAreNeverOutside) {
  const uint32_t a = 0x586F6DAF, b = 0x586F6DB0;
  const struct { uint32_t first, last, value, outside; } cases[] = {
      {0, 0, 0, 0}, {0, 0, 0xFFFFFFFF, 0}, {a, 0, 0, 0}, {a, b, 0, 0},  // no bound, no date
      {a, b, b + 1, 1}, {0, b, b + 1, 1}, {a, 0, a - 1, 1},            // past a bound
      {a, b, a, 0}, {a, b, b, 0}, {a, 0, 0xFFFFFFFF, 0},               // bounds are inclusive
      {b, a, a, 1},                                                    // empty range
  };
  for (const auto& c : cases)
    EXPECT_EQ(HVDPCheckDateAndTimeRange(c.first, c.last, c.value), c.outside)
        << std::hex << c.first << " " << c.last << " " << c.value;
}

// The 16-bit forms let a field spill into its neighbour; the 32-bit form
// masks every field to its width.
TEST(DosPack, SixteenBitFormsSpillAndThirtyTwoBitFormMasks) {
  const struct { uint16_t y, mo, d, h, mi, s, date, time; uint32_t packed; } cases[] = {
      {2024, 3, 15, 13, 45, 31, 0x586F, 0x6DAF, 0x586F6DAF},   // seconds halved, rounded down
      {2024, 16, 32, 32, 64, 64, 0x5A20, 0x0820, 0x58000000},  // every field one past its width
      {1979, 1, 1, 0, 0, 0, 0xFE21, 0x0000, 0xFE210000},       // the year wraps: 1979 is 2107
      {2108, 1, 1, 0, 0, 1, 0x0021, 0x0000, 0x00210000},       // and 2108 is 1980
  };
  for (const auto& c : cases) {
    EXPECT_EQ(HVDPPackDate(c.y, c.mo, c.d), c.date) << c.y << "-" << c.mo << "-" << c.d;
    EXPECT_EQ(HVDPPackTime(c.h, c.mi, c.s), c.time) << c.h << ":" << c.mi << ":" << c.s;
    EXPECT_EQ(HVDPPackDateTime(c.y, c.mo, c.d, c.h, c.mi, c.s), c.packed) << c.y << "-" << c.mo << "-" << c.d;
  }
}

// 32-bit values round trip in the fuzz target; the 16-bit unpackers read
// only the low half of their argument.
TEST(DosUnpack, SplitsFields) {
  std::array<uint16_t, 6> f{}, d{};
  HVDPUnPackDateTime(0x586F6DAF, &f[0], &f[1], &f[2], &f[3], &f[4], &f[5]);
  HVDPUnPackDate(0xABCD586F, &d[0], &d[1], &d[2]);
  HVDPUnPackTime(0xABCD6DAF, &d[3], &d[4], &d[5]);
  EXPECT_EQ(f, (std::array<uint16_t, 6>{2024, 3, 15, 13, 45, 30}));
  EXPECT_EQ(d, f);
}

// The present time is packed local time.
TEST(DosClock, PacksPresentLocalTime) {
  use_zone("IST-5:30");
  time_t now = 0;
  uint32_t packed = 0;
  do {  // until the second does not turn during the call
    now = ::time(nullptr);
    packed = HVDPGetCurrentDateAndTime();
  } while (::time(nullptr) != now);
  const struct tm t = *std::localtime(&now);
  EXPECT_EQ(packed, HVDPPackDateTime(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec));
}

constexpr uint32_t kLess = 0xFFFFFFFFu, kNo = 1;  // kNo: the conversion refuses the stamp

// Both readings take the fields as they stand, whatever the process zone:
// DOS packing (years 1980-2107 only) and Unix time (fields read as UTC, the
// zone only reported).
TEST(EcmaStamp, ReadsFieldsAsTheyStandIntoDosAndUnixTime) {
  const struct { const char* hex; uint32_t dos_result, dos, unix_result, unix_time; int32_t zone; } cases[] = {
      {"00 00 B2 07 01 01 00 00 00 00 00 00 00 00 00 00", kNo, 0, 0, 0, 0},                     // 1970-01-01
      {"D4 1E E8 07 03 0F 0D 2D 1E 00 00 00 00 00 00 00", 0, 0x586F6DAF, 0, 1710510330, -300},  // zone not applied
      {"4A 11 E8 07 03 0F 0D 2D 1E 00 00 00 00 00 00 00", 0, 0x586F6DAF, 0, 1710510330, 330},
      {"01 18 E8 07 03 0F 0D 2D 1E 00 00 00 00 00 00 00", 0, 0x586F6DAF, 0, 1710510330, -2047},  // unspecified
      {"00 18 E8 07 03 0F 0D 2D 1E 00 00 00 00 00 00 00", 0, 0x586F6DAF, 0, 1710510330, -2048},
      {"3C 00 E8 07 03 0F 0D 2D 1E 00 00 00 00 00 00 00", 0, 0x586F6DAF, 0, 1710510330, -2047},  // type 0, zone bits
      {"00 20 E8 07 03 0F 0D 2D 1F 63 63 63 FF FF FF FF", 0, 0x586F6DAF, 0, 1710510331, -2047},  // type 2, sub-seconds
      {"00 00 BC 07 01 01 00 00 00 00 00 00 00 00 00 00", 0, 0x00210000, 0, 315532800, 0},       // first DOS year
      {"00 00 BB 07 0C 1F 17 3B 3B 00 00 00 00 00 00 00", kNo, 0, 0, 315532799, 0},             // 1979-12-31
      {"00 00 B1 07 0C 1F 17 3B 3B 00 00 00 00 00 00 00", kNo, 0, kNo, 0, -2047},               // 1969
      {"00 00 B2 07 01 00 00 00 00 00 00 00 00 00 00 00", kNo, 0, kNo, 0, -2047},               // 1970-01-00 is 1969
      {"00 00 E8 07 C8 FF FF FF FF 00 00 00 00 00 00 00", 0, 0x591FFFFF, 0, 2250271155, 0},     // hostile fields
      // Moments an unsigned 32-bit count cannot hold fail instead of wrapping.
      {"00 00 3A 08 02 07 06 1C 0F 00 00 00 00 00 00 00", 0, 0xFC473387, 0, 0xFFFFFFFF, 0},  // 2106-02-07 06:28:15
      {"00 00 3A 08 02 07 06 1C 10 00 00 00 00 00 00 00", 0, 0xFC473388, kNo, 0, -2047},     // one second later
      {"00 00 3B 08 0C 1F 17 3B 3A 00 00 00 00 00 00 00", 0, 0xFF9FBF7D, kNo, 0, -2047},     // 2107-12-31 23:59:58
      {"00 00 3C 08 01 01 00 00 00 00 00 00 00 00 00 00", kNo, 0, kNo, 0, -2047},            // 2108 would wrap
  };
  for (const char* tz : kFixedZones) {
    use_zone(tz);
    for (const auto& c : cases) {
      const HVDPECMATimeStamp s = stamp_from_hex(c.hex);
      uint32_t dos = 0xDEADBEEF, unix_time = 0xDEADBEEF;
      int32_t zone = 12345;
      const uint32_t dos_result = HVDPECMAToDOSTime(&s, &dos), unix_result = HVDPECMAToUnixTime(&s, &unix_time, &zone);
      EXPECT_EQ(std::tuple(dos_result, dos, unix_result, unix_time, zone),
                std::tuple(c.dos_result, c.dos, c.unix_result, c.unix_time, c.zone)) << tz << ": " << c.hex;
    }
  }
}

// DOS values are local time: fields copied unshifted and unvalidated, with
// the zone's standard offset. Unix time becomes UTC fields, with that
// offset in the word only when asked for.
TEST(EcmaStamp, WrittenFromDosAndUnixTime) {
  const char* kEst = kFixedZones[1];
  const struct { const char* tz; bool dos; uint32_t value, with_zone; const char* hex; } cases[] = {
      {kEst, true, 0x58AF6DAF, 0, "D4 1E E8 07 05 0F 0D 2D 1E"},  // standard offset, even in May
      {"IST-5:30", true, 0xFFFFFFFF, 0, "4A 11 3B 08 0F 1F 1F 3F 3E"},
      {kEst, false, 0, 0, "00 00 B2 07 01 01 00 00 00"},                // 1970-01-01 00:00:00
      {kEst, false, 951782400, 0x10000, "D4 1E D0 07 02 1D 00 00 00"},  // 2000-02-29, a leap day
      {"IST-5:30", false, 0x80000000, 1, "4A 11 F6 07 01 13 03 0E 08"},  // 2038-01-19, past signed 32 bits
      {"IST-5:30", false, 0xFFFFFFFF, 0, "00 00 3A 08 02 07 06 1C 0F"},  // 2106-02-07 06:28:15, the last one
  };
  for (const auto& c : cases) {
    use_zone(c.tz);
    HVDPECMATimeStamp s;
    std::memset(&s, 0xEE, sizeof s);
    EXPECT_EQ(c.dos ? HVDPDOSTimeToECMA(c.value, &s) : HVDPUnixTimeToECMA(c.value, &s, c.with_zone), 0u);
    EXPECT_EQ(hex_of(s), std::string(c.hex) + " 00 00 00 00 00 00 00") << c.tz << " " << c.value;
  }
}

// The platform's timegm is an independent reading of fields as UTC; the
// two agree on valid and carried-over fields alike. London kept UTC+1 as
// its standard time in 1968-1971: a reading through local standard time
// would be an hour off there, so half the stamps fall in 1970-1972.
TEST(EcmaToUnix, AgreesWithPlatformUtcArithmetic) {
  std::mt19937 rng(167);
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  for (const char* tz : {kFixedZones[1], "Europe/London"}) {
    use_zone(tz);
    for (int i = 0; i < 20000; ++i) {
      const HVDPECMATimeStamp s = stamp(pick(1970, i % 2 ? 1972 : 2105), pick(0, 255), pick(0, 255), pick(0, 255),
                                        pick(0, 255), pick(0, 255), 0x1ED4);
      struct tm fields {};
      std::tie(fields.tm_year, fields.tm_mon, fields.tm_mday, fields.tm_hour, fields.tm_min, fields.tm_sec) =
          std::tuple(s.year - 1900, s.month - 1, s.day, s.hour, s.minute, s.second);
      const int64_t expected = ::timegm(&fields);
      const bool fits = expected >= 0 && expected <= 0xFFFFFFFFll;
      uint32_t unix_time = 0;
      int32_t zone = 0;
      ASSERT_EQ(HVDPECMAToUnixTime(&s, &unix_time, &zone), fits ? 0u : kNo) << tz << " " << hex_of(s);
      ASSERT_EQ(unix_time, fits ? expected : 0) << tz << " " << hex_of(s);
    }
  }
}

TEST(EcmaCompare, OrdersByDenotedMoment) {
  const struct { HVDPECMATimeStamp first, second; uint32_t result; } cases[] = {
      // One zone: fields alone decide.
      {stamp(2024, 3, 15, 13, 45, 30, 0x1ED4), stamp(2024, 3, 15, 13, 45, 30, 0x1ED4), 0},
      {stamp(2024, 3, 15, 13, 45, 30), stamp(2024, 3, 15, 13, 45, 31), kLess},
      {stamp(2024, 3, 15, 13, 45, 31, 0x1ED4), stamp(2024, 3, 15, 13, 45, 30, 0x1ED4), 1},
      // Zones differ: 12:00 at UTC+1 is 11:00 UTC; 07:00 at UTC-5 is 12:00.
      {stamp(2024, 3, 15, 12, 0, 0, 0x103C), stamp(2024, 3, 15, 11, 0, 0), 0},
      {stamp(2024, 3, 15, 12, 0, 0, 0x103C), stamp(2024, 3, 15, 11, 30, 0), kLess},
      {stamp(2024, 3, 15, 7, 0, 0, 0x1ED4), stamp(2024, 3, 15, 17, 29, 0, 0x114A), 1},
      {stamp(1970, 1, 1, 0, 0, 0, 0x1ED4), stamp(1970, 1, 1, 0, 0, 0), 1},
      // Past 2106 the order still holds: nothing wraps.
      {stamp(2200, 1, 1, 0, 0, 0), stamp(2000, 1, 1, 0, 0, 0), 1},
      // Stamps that cannot be ordered, on either side.
      {stamp(2024, 3, 15, 0, 0, 0, 0x1801), stamp(2024, 3, 15, 0, 0, 0), HVDP_ECMA_INCOMPARABLE},
      {stamp(2024, 3, 15, 0, 0, 0), stamp(2024, 3, 15, 0, 0, 0, 0x1801), HVDP_ECMA_INCOMPARABLE},
      {stamp(2024, 3, 15, 0, 0, 0, 0x2000), stamp(2024, 3, 15, 0, 0, 0), HVDP_ECMA_INCOMPARABLE},
      {stamp(1969, 12, 31, 0, 0, 0), stamp(2024, 3, 15, 0, 0, 0), HVDP_ECMA_INCOMPARABLE},
  };
  for (const auto& c : cases)
    EXPECT_EQ(HVDPECMATimeCompare(&c.first, &c.second), c.result) << hex_of(c.first) << " / " << hex_of(c.second);
}

// The standard offset in minutes (daylight saving never counts, seconds
// cut toward zero) and the current one in seconds (daylight saving
// included; these rules keep it all year round).
TEST(ServerZone, StandardAndCurrentOffsets) {
  const struct { const char* tz; int32_t minutes, seconds; } cases[] = {
      {"UTC0", 0, 0},
      {"EST5EDT,0/0,J365/25", -300, -14400},
      {"IST-5:30", 330, 19800},
      {"NST3:30NDT,0/0,J365/25", -210, -9000},
      {"LHST-10:30LHDT-11,0/0,J365/25", 630, 39600},  // a half-hour daylight shift
      {"XXX-5:30:59", 330, 19859},
      {"XXX3:15:20YYY,0/0,J365/25", -195, -8120},
  };
  for (const auto& c : cases) {
    use_zone(c.tz);
    EXPECT_EQ(GenECMATimeZone(), c.minutes) << c.tz;
    EXPECT_EQ(SetTZOffset(), c.seconds) << c.tz;
    EXPECT_EQ(SetTZOffset(), c.seconds) << c.tz << " (again)";
  }
}

// TZ changed after the process first read it is followed at once, also by a
// first call that no tzset preceded.
TEST(ServerZone, FollowsChangedTz) {
  ::setenv("TZ", "IST-5:30", 1);
  EXPECT_EQ(GenECMATimeZone(), 330);
  ::setenv("TZ", "EST5", 1);
  HVDPECMATimeStamp s;
  HVDPUnixTimeToECMA(0, &s, 1);
  EXPECT_EQ(s.typeAndTimeZone, 0x1ED4);
}

}  // namespace
