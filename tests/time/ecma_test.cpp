// ECMA time stamps: their byte layout, conversion to and from DOS packed
// dates and Unix time in several fixed zones, the zone word, and ordering.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <vector>

#include "time/time.h"
#include "time_test_support.h"

namespace {

using dpxut::time_test::hex_of;
using dpxut::time_test::kFixedZones;
using dpxut::time_test::stamp;
using dpxut::time_test::stamp_from_hex;
using dpxut::time_test::use_zone;

constexpr uint32_t kLess = 0xFFFFFFFFu, kIncomparable = 0xFFFFF801u;

// Both readings of a stamp take its fields as they stand: DOS packing
// (years 1980-2107 only) and Unix time (fields read as UTC, the zone only
// reported). Carried-over fields are compared with timegm further down.
TEST(EcmaStamp, ReadsFieldsAsTheyStandIntoDosAndUnixTime) {
  constexpr uint32_t kNo = 1;  // result of a conversion that refuses the stamp
  const struct { const char* hex; uint32_t dos_result, dos, unix_result, unix_time; int32_t zone; } cases[] = {
      {"00 00 B2 07 01 01 00 00 00 00 00 00 00 00 00 00", kNo, 0, 0, 0, 0},                   // 1970-01-01
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
      {"00 00 3A 08 02 07 06 1C 0F 00 00 00 00 00 00 00", 0, 0xFC473387, 0, 0xFFFFFFFF, 0},     // 2106-02-07 06:28:15
      {"00 00 3A 08 02 07 06 1C 10 00 00 00 00 00 00 00", 0, 0xFC473388, kNo, 0, -2047},        // one second later
      {"00 00 3B 08 0C 1F 17 3B 3A 00 00 00 00 00 00 00", 0, 0xFF9FBF7D, kNo, 0, -2047},        // 2107-12-31 23:59:58
      {"00 00 3C 08 01 01 00 00 00 00 00 00 00 00 00 00", kNo, 0, kNo, 0, -2047},               // 2108 would wrap
      {"00 00 00 80 01 01 00 00 00 00 00 00 00 00 00 00", kNo, 0, kNo, 0, -2047},               // year -32768
  };
  unsigned char bytes[20] = {};
  size_t offset = 0;
  for (const char* tz : kFixedZones) {
    use_zone(tz);
    for (const auto& c : cases) {
      SCOPED_TRACE(::testing::Message() << tz << ": " << c.hex);
      const HVDPECMATimeStamp s = stamp_from_hex(c.hex);
      uint32_t dos = 0xDEADBEEF, unix_time = 0xDEADBEEF;
      int32_t zone = 12345;
      EXPECT_EQ(HVDPECMAToDOSTime(&s, &dos), c.dos_result);
      EXPECT_EQ(dos, c.dos);
      EXPECT_EQ(HVDPECMAToUnixTime(&s, &unix_time, &zone), c.unix_result);
      EXPECT_EQ(unix_time, c.unix_time);
      EXPECT_EQ(zone, c.zone);
      // The internal form reads field data at any address.
      offset = (offset + 1) % 4;
      std::memcpy(bytes + offset, &s, sizeof s);
      EXPECT_EQ(dpxut::time::dos_from_stamp_bytes(bytes + offset), c.dos);
    }
  }
  uint32_t dos = 7, unix_time = 7;
  int32_t zone = 7;
  EXPECT_EQ(HVDPECMAToDOSTime(nullptr, &dos), 1u);
  EXPECT_EQ(HVDPECMAToUnixTime(nullptr, &unix_time, &zone), 1u);
  EXPECT_EQ(dos + unix_time, 0u);
  EXPECT_EQ(zone, -2047);
}

TEST(DosToEcma, CopiesLocalFieldsAndRecordsStandardZone) {
  // Standard offsets only: EST5EDT records -300 even in summer.
  const char* words[] = {"00 10", "D4 1E", "4A 11"};
  for (int z = 0; z < 3; ++z) {
    use_zone(kFixedZones[z]);
    for (const auto& [dos, fields] : {std::pair<uint32_t, const char*>{0x58AF6DAF, "E8 07 05 0F 0D 2D 1E"},
                                      {0xFFFFFFFF, "3B 08 0F 1F 1F 3F 3E"}}) {  // copied unshifted, unvalidated
      HVDPECMATimeStamp s;
      std::memset(&s, 0xEE, sizeof s);
      EXPECT_EQ(HVDPDOSTimeToECMA(dos, &s), 0u);
      EXPECT_EQ(hex_of(s), std::string(words[z]) + " " + fields + " 00 00 00 00 00 00 00") << kFixedZones[z];
    }
  }
  EXPECT_EQ(HVDPDOSTimeToECMA(0x586F6DAF, nullptr), 1u);
}

TEST(UnixToEcma, WritesUtcFieldsWithOrWithoutZoneWord) {
  const struct { uint32_t unix_time; const char* fields; } cases[] = {
      {0, "B2 07 01 01 00 00 00"},           // 1970-01-01 00:00:00
      {951782400, "D0 07 02 1D 00 00 00"},   // 2000-02-29, a leap day
      {0x80000000, "F6 07 01 13 03 0E 08"},  // 2038-01-19 03:14:08, past signed 32 bits
      {0xFFFFFFFF, "3A 08 02 07 06 1C 0F"},  // 2106-02-07 06:28:15, the last one
  };
  use_zone("IST-5:30");
  for (const auto& c : cases)
    for (const uint32_t with_zone : {0u, 0x10000u}) {
      HVDPECMATimeStamp s;
      std::memset(&s, 0xEE, sizeof s);
      EXPECT_EQ(HVDPUnixTimeToECMA(c.unix_time, &s, with_zone), 0u);
      EXPECT_EQ(hex_of(s), std::string(with_zone ? "4A 11 " : "00 00 ") + c.fields + " 00 00 00 00 00 00 00")
          << c.unix_time;
    }
  EXPECT_EQ(HVDPUnixTimeToECMA(0, nullptr, 1), 1u);
}

// Instants over the whole unsigned 32-bit range, its ends and year turns,
// written with and without the zone word, read back in every zone.
TEST(EcmaToUnix, RoundTripsUnixTimeInEveryZone) {
  std::vector<uint32_t> instants = {0, 1, 86399, 86400, 31535999, 68256000, 951782399, 951868800,
                                    0x7FFFFFFF, 0x80000000, 4107542399, 4107542400, 0xFFFFFFFF};
  std::mt19937 rng(2106);
  for (int i = 0; i < 5000; ++i) instants.push_back(static_cast<uint32_t>(rng()));
  for (const char* tz : kFixedZones) {
    use_zone(tz);
    const int32_t standard = GenECMATimeZone();
    for (const uint32_t t : instants)
      for (const uint32_t with_zone : {0u, 1u}) {
        HVDPECMATimeStamp s;
        HVDPUnixTimeToECMA(t, &s, with_zone);
        uint32_t back = 0;
        int32_t zone = 0;
        ASSERT_EQ(HVDPECMAToUnixTime(&s, &back, &zone), 0u) << tz << " " << t;
        ASSERT_EQ(back, t) << tz << " " << hex_of(s);
        ASSERT_EQ(zone, with_zone ? standard : 0) << tz;
      }
  }
}

// The platform's timegm is an independent reading of fields as UTC; the
// two agree on valid and carried-over fields alike.
TEST(EcmaToUnix, AgreesWithPlatformUtcArithmetic) {
  use_zone("EST5EDT,M3.2.0,M11.1.0");
  std::mt19937 rng(167);
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  for (int i = 0; i < 20000; ++i) {
    const HVDPECMATimeStamp s = stamp(pick(1970, 2105), pick(0, 255), pick(0, 255), pick(0, 255), pick(0, 255),
                                      pick(0, 255), 0x1ED4);
    struct tm fields {};
    fields.tm_year = s.year - 1900;
    fields.tm_mon = s.month - 1;
    fields.tm_mday = s.day;
    fields.tm_hour = s.hour;
    fields.tm_min = s.minute;
    fields.tm_sec = s.second;
    const int64_t expected = ::timegm(&fields);
    uint32_t unix_time = 0;
    int32_t zone = 0;
    const bool fits = expected >= 0 && expected <= 0xFFFFFFFFll;
    ASSERT_EQ(HVDPECMAToUnixTime(&s, &unix_time, &zone), fits ? 0u : 1u) << hex_of(s);
    ASSERT_EQ(unix_time, fits ? expected : 0) << hex_of(s);
  }
}

// London kept UTC+1 as its standard time from 1968 to 1971, while its
// standard offset today is 0: reading fields as local standard time and
// adding today's offset would be an hour off for these dates.
TEST(EcmaToUnix, IgnoresZoneHistory) {
  if (!std::filesystem::exists("/usr/share/zoneinfo/Europe/London")) GTEST_SKIP() << "no zone database";
  use_zone("Europe/London");
  ASSERT_EQ(GenECMATimeZone(), 0);
  struct tm new_year {};
  new_year.tm_year = 70;
  new_year.tm_mday = 1;
  ASSERT_NE(::mktime(&new_year) - ::timezone, 0) << "the zone database lacks London's 1970 offset";
  const HVDPECMATimeStamp s = stamp_from_hex("00 10 B2 07 0C 1F 17 3B 3B 00 00 00 00 00 00 00");
  uint32_t unix_time = 0;
  int32_t zone = 0;
  EXPECT_EQ(HVDPECMAToUnixTime(&s, &unix_time, &zone), 0u);
  EXPECT_EQ(unix_time, 31535999u);  // 1970-12-31 23:59:59
  for (uint32_t t = 0; t < 2 * 31536000u; t += 3 * 3600 + 17) {
    HVDPECMATimeStamp written;
    HVDPUnixTimeToECMA(t, &written, 1);
    ASSERT_EQ(HVDPECMAToUnixTime(&written, &unix_time, &zone), 0u);
    ASSERT_EQ(unix_time, t) << hex_of(written);
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
      {stamp(2024, 3, 15, 0, 0, 0, 0x1801), stamp(2024, 3, 15, 0, 0, 0), kIncomparable},
      {stamp(2024, 3, 15, 0, 0, 0), stamp(2024, 3, 15, 0, 0, 0, 0x1801), kIncomparable},
      {stamp(2024, 3, 15, 0, 0, 0, 0x2000), stamp(2024, 3, 15, 0, 0, 0), kIncomparable},
      {stamp(1969, 12, 31, 0, 0, 0), stamp(2024, 3, 15, 0, 0, 0), kIncomparable},
  };
  for (const auto& c : cases)
    EXPECT_EQ(HVDPECMATimeCompare(&c.first, &c.second), c.result) << hex_of(c.first) << " / " << hex_of(c.second);
  const HVDPECMATimeStamp s = stamp(2024, 3, 15, 0, 0, 0);
  EXPECT_EQ(HVDPECMATimeCompare(nullptr, &s), kIncomparable);
  EXPECT_EQ(HVDPECMATimeCompare(&s, nullptr), kIncomparable);
}

// Over random stamps with specified zones the compare is a total order:
// reflexive, antisymmetric, and equal to comparing UTC moments.
TEST(EcmaCompare, IsConsistentOverRandomStamps) {
  std::mt19937 rng(4242);
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  auto random_stamp = [&] {
    return stamp(pick(1970, 2300), pick(0, 255), pick(0, 255), pick(0, 255), pick(0, 255), pick(0, 255),
                 static_cast<uint16_t>(0x1000 | (pick(-1440, 1440) & 0xFFF)));
  };
  for (int i = 0; i < 20000; ++i) {
    const HVDPECMATimeStamp a = random_stamp(), b = random_stamp();
    ASSERT_EQ(HVDPECMATimeCompare(&a, &a), 0u);
    const uint32_t ab = HVDPECMATimeCompare(&a, &b), ba = HVDPECMATimeCompare(&b, &a);
    ASSERT_EQ(static_cast<int32_t>(ab), -static_cast<int32_t>(ba)) << hex_of(a) << " / " << hex_of(b);
    // The same stamp moved to UTC (zone folded into its time of day)
    // denotes the same moment.
    const int64_t utc_minutes = int64_t{a.hour} * 60 + a.minute - dpxut::time::decode_zone(a.typeAndTimeZone);
    if (utc_minutes < 0 || utc_minutes > 255 * 60 + 59) continue;
    HVDPECMATimeStamp a_utc = a;
    a_utc.typeAndTimeZone = 0;
    a_utc.hour = static_cast<uint8_t>(utc_minutes / 60);
    a_utc.minute = static_cast<uint8_t>(utc_minutes % 60);
    ASSERT_EQ(HVDPECMATimeCompare(&a, &a_utc), 0u) << hex_of(a) << " / " << hex_of(a_utc);
  }
}

}  // namespace
