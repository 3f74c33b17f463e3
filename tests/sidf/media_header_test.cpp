// The media header: member fields byte-exact, and the fields read, the older
// forms among them.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "sidf/header_test_support.h"
#include "support/env.h"

namespace dpxut::test {
namespace {

constexpr uint32_t kMedia = 0x808000;
const std::string kFirst = "D4 1E E8 07 03 0F 0D 2D 1E 00 00 00 00 00 00 00";   // 2024-03-15 13:45:30 EST
const std::string kSecond = "00 00 E9 07 0C 1F 0D 2D 1E 00 00 00 00 00 00 00";  // 2025-12-31 13:45:30

// Stamps 80 F4 01 and 80 F4 00, text, low 16 bits of the number, flag (the
// raw false byte C0 a reader hands back stays false). Read back: the fuzz
// target's round trip.
TEST(MediaHeader, WritesMemberFieldsByteExact) {
  const std::string t64(64, 'T');  // a full member without a zero: written whole
  const struct { std::string text; uint32_t number, flag; std::string fields; } cases[] = {
      {"", 0x12345, 5, "80 80 30 01 00  80 F1 00 45 23  80 80 2F C1"},
      {"XYZ", 0, 0, "80 80 30 04 58 59 5A 00  80 F1 00 00 00  80 80 2F C0"},
      {t64, 7, 0xC0, "80 80 30 41 " + to_hex(t64) + " 00  80 F1 00 07 00  80 80 2F C0"},
  };
  for (const auto& c : cases) {
    HVDPMediaHeaderInfo info{};
    std::memcpy(&info, (hex(kFirst + kSecond) + c.text).data(), 32 + c.text.size());
    info.number = c.number;
    info.flag = c.flag;
    EXPECT_EQ(to_hex(members_of(HVDPSetMediaHeaderInfo, info)),
              to_hex(hex("80 F4 01 " + kFirst + " 80 F4 00 " + kSecond + " " + c.fields)));
  }
}

// Old stamps are recorded with the server's standard zone: EST5 is 300
// minutes west, word 0x1000 | (-300 & 0xFFF) = 0x1ED4. Members whose fields
// are absent keep what they held (EE), except number and flag (0).
TEST(MediaHeader, ReadsOlderFieldFormsNumberAndFlag) {
  dpxut::testing::use_zone("EST5");
  const std::string keep = to_hex(std::string(16, '\xEE'));
  const std::string epoch = "D4 1E B2 07 01 01 00 00 00 00 00 00 00 00 00 00";
  const std::string secondDay = "D4 1E B2 07 01 02 00 00 00 00 00 00 00 00 00 00";
  const std::string direct1 = "00 00 E8 07 03 0F 0D 2D 1E 00 00 00 00 00 00 00";
  const std::string direct2 = "00 00 E9 07 03 0F 0D 2D 1E 00 00 00 00 00 00 00";
  const std::string seventy = " " + to_hex(std::string(70, 'A'));
  const struct {
    const char* what;
    std::string members, first, second, text;
    uint32_t number = 0, flag = 0;
  } cases[] = {
      {"Unix times for both stamps", "80 F2 0B 00 00 00 00  80 F2 0C 80 51 01 00", epoch, secondDay, kKeep},
      {"DOS date and time for both stamps", "81 F2 FF AF 6D 6F 58", kFirst, kFirst, kKeep},
      {"current stamps win", "80 F2 0B 00 00 00 00  80 F4 01 " + direct1 + " 80 F4 00 " + direct2, direct1,
       direct2, kKeep},
      {"current first stamp alone", "81 F2 FF AF 6D 6F 58  80 F4 01 " + direct1, direct1, keep, kKeep},
      {"a current second stamp stays", "80 F4 00 " + direct2 + " 80 F2 0B 00 00 00 00", epoch, direct2, kKeep},
      {"older text of 70 bytes keeps 63", "81 EF FE 46" + seventy, keep, keep, std::string(63, 'A')},
      {"current text wins", "81 EF FE 03 61 62 63  80 80 30 03 78 79 00", keep, keep, "xy"},
      {"flag written false: the raw byte", "80 F1 00 34 12  80 80 2F C0", keep, keep, kKeep, 0x1234, 0xC0},
  };
  for (const auto& c : cases) {
    HVDPMediaHeaderInfo info = untouched<HVDPMediaHeaderInfo>();
    ASSERT_EQ(read_guarded(HVDPGetMediaHeaderInfo, section(kMedia, hex(c.members)), info), 0u) << c.what;
    EXPECT_EQ(to_hex(&info, 32) + " " + text(info.text) + " " + std::to_string(info.number) + " " +
                  std::to_string(info.flag),
              to_hex(hex(c.first + c.second)) + " " + c.text + " " + std::to_string(c.number) + " " +
                  std::to_string(c.flag));
  }
}

}  // namespace
}  // namespace dpxut::test
