// The media header: member fields byte-exact, write -> read round trips,
// the older field forms, failure codes and hostile sections.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "sidf/header_test_support.h"

namespace dpxut {
namespace {

using test::ExactBytes;
using test::hex;
using test::section;
using test::to_hex;

constexpr uint32_t kMediaId = 0x808000;

HVDPECMATimeStamp stamp_of(uint16_t year, uint8_t month, uint8_t day, uint16_t word) {
  HVDPECMATimeStamp s{};
  s.typeAndTimeZone = word;
  s.year = static_cast<int16_t>(year);
  s.month = month;
  s.day = day;
  s.hour = 13;
  s.minute = 45;
  s.second = 30;
  return s;
}

HVDPMediaHeaderInfo info_of(const char* text, uint32_t number, uint32_t flag) {
  HVDPMediaHeaderInfo info{};
  info.firstTimeStamp = stamp_of(2024, 3, 15, 0x1ED4);
  info.secondTimeStamp = stamp_of(2025, 12, 31, 0);
  std::memcpy(info.text, text, std::strlen(text));
  info.number = number;
  info.flag = flag;
  return info;
}

std::vector<uint8_t> members_of(const HVDPMediaHeaderInfo& info) {
  std::vector<uint8_t> buffer(512);
  uint32_t written = 0xDEAD;
  EXPECT_EQ(HVDPSetMediaHeaderInfo(&info, buffer.data(), 512, &written), 0u);
  buffer.resize(written);
  return buffer;
}

uint32_t read(const std::vector<uint8_t>& bytes, HVDPMediaHeaderInfo& info, size_t size = SIZE_MAX) {
  ExactBytes exact(bytes.data(), std::min(size, bytes.size()));
  return HVDPGetMediaHeaderInfo(exact.bytes.get(), static_cast<uint32_t>(exact.size), &info);
}

std::string stamp_hex(const HVDPECMATimeStamp& s) {
  return to_hex(reinterpret_cast<const uint8_t*>(&s), sizeof s);
}

TEST(MediaHeader, WritesMemberFieldsByteExact) {
  const HVDPMediaHeaderInfo info = info_of("", 0x12345, 5);
  const std::vector<uint8_t> members = members_of(info);
  ASSERT_EQ(members.size(), 52u);
  EXPECT_EQ(to_hex(members),
            to_hex(hex("80 F4 01  D4 1E E8 07 03 0F 0D 2D 1E 00 00 00 00 00 00 00"  // first stamp
                       "  80 F4 00  00 00 E9 07 0C 1F 0D 2D 1E 00 00 00 00 00 00 00"  // second stamp
                       "  80 80 30 01 00"                                             // empty text
                       "  80 F1 00 45 23"                                             // low 16 bits of 0x12345
                       "  80 80 2F C1")));                                            // flag 5: true

  struct Case {
    const char* text;
    uint32_t flag;
    const char* textField;
    const char* flagField;
  };
  const Case cases[] = {
      {"XYZ", 0, "80 80 30 04 58 59 5A 00", "80 80 2F C0"},
      {"a", 0xC0, "80 80 30 02 61 00", "80 80 2F C0"},  // the raw false byte stays false
      {"a", 0xC1, "80 80 30 02 61 00", "80 80 2F C1"},
      {"a", 0x80000000, "80 80 30 02 61 00", "80 80 2F C1"},
  };
  for (const Case& c : cases) {
    const std::vector<uint8_t> m = members_of(info_of(c.text, 0, c.flag));
    const size_t textSize = hex(c.textField).size();
    EXPECT_EQ(to_hex(m.data() + 38, textSize), c.textField);
    EXPECT_EQ(to_hex(m.data() + m.size() - 4, 4), c.flagField);
  }
}

TEST(MediaHeader, WritesFullTextMemberWholeAndReadsItBack) {
  HVDPMediaHeaderInfo info = info_of("", 7, 0);
  std::memset(info.text, 'T', sizeof info.text);  // 64 characters, no zero
  const std::vector<uint8_t> members = members_of(info);
  EXPECT_EQ(to_hex(members.data() + 38, 4), "80 80 30 41");  // 64 characters and the zero
  EXPECT_EQ(members[38 + 4 + 64], 0);
  HVDPMediaHeaderInfo back = test::untouched<HVDPMediaHeaderInfo>();
  ASSERT_EQ(read(section(kMediaId, members), back), 0u);
  EXPECT_EQ(std::memcmp(&back, &info, 96), 0);
  EXPECT_EQ(test::copy(back.flag), 0xC0u);
}

TEST(MediaHeader, RoundTripsGeneratedDescriptions) {
  test::Random random(20240315);
  for (int i = 0; i < 2000; ++i) {
    HVDPMediaHeaderInfo info;
    info.firstTimeStamp = random.stamp();
    info.secondTimeStamp = random.stamp();
    random.text(info.text, sizeof info.text, sizeof info.text);
    info.number = random.u32();
    info.flag = random.below(3) == 0 ? 0 : random.u32();
    const std::vector<uint8_t> bytes = section(kMediaId, members_of(info));
    HVDPMediaHeaderInfo back = test::untouched<HVDPMediaHeaderInfo>();
    ASSERT_EQ(read(bytes, back), 0u);
    EXPECT_EQ(stamp_hex(back.firstTimeStamp), stamp_hex(info.firstTimeStamp));
    EXPECT_EQ(stamp_hex(back.secondTimeStamp), stamp_hex(info.secondTimeStamp));
    EXPECT_EQ(test::member_text(back.text, 64), test::member_text(info.text, 64));
    EXPECT_EQ(test::copy(back.number), info.number & 0xFFFF);
    EXPECT_EQ(test::copy(back.flag), info.flag == 0 || info.flag == 0xC0 ? 0xC0u : 0xC1u);
    // Read back and written again: the same bytes.
    EXPECT_EQ(to_hex(section(kMediaId, members_of(back))), to_hex(bytes));
  }
}

// Old stamps are recorded with the server's standard zone: EST5 is 300
// minutes west, word 0x1000 | (-300 & 0xFFF) = 0x1ED4.
TEST(MediaHeader, ReadsOlderFieldForms) {
  setenv("TZ", "EST5", 1);
  tzset();
  const std::string untouchedStamp(to_hex(std::vector<uint8_t>(16, test::kUntouched)));
  const std::string epoch = "D4 1E B2 07 01 01 00 00 00 00 00 00 00 00 00 00";
  const std::string secondDay = "D4 1E B2 07 01 02 00 00 00 00 00 00 00 00 00 00";
  const std::string direct1 = "00 00 E8 07 03 0F 0D 2D 1E 00 00 00 00 00 00 00";
  const std::string direct2 = "00 00 E9 07 03 0F 0D 2D 1E 00 00 00 00 00 00 00";
  const std::string dos = "D4 1E E8 07 03 0F 0D 2D 1E 00 00 00 00 00 00 00";
  struct Case {
    const char* what;
    std::string members;
    std::string first, second;
    std::string text;  // expected member bytes up to the first zero, or all 64
  };
  std::string seventy;
  for (int i = 0; i < 70; ++i) seventy += " 41";
  std::string sixtyFour;
  for (int i = 0; i < 64; ++i) sixtyFour += " 42";
  const Case cases[] = {
      {"Unix times for both stamps", "80 F2 0B 00 00 00 00  80 F2 0C 80 51 01 00", epoch, secondDay, "\xEE"},
      {"Unix time, second missing counts as 0", "80 F2 0B 80 51 01 00", secondDay, epoch, "\xEE"},
      {"DOS date and time for both stamps", "81 F2 FF AF 6D 6F 58", dos, dos, "\xEE"},
      {"Unix time wins over DOS time", "81 F2 FF AF 6D 6F 58  80 F2 0B 00 00 00 00", epoch, epoch, "\xEE"},
      {"current stamps win", "80 F2 0B 00 00 00 00  80 F4 01 " + direct1 + " 80 F4 00 " + direct2, direct1,
       direct2, "\xEE"},
      {"current first stamp alone: second untouched", "81 F2 FF AF 6D 6F 58  80 F4 01 " + direct1, direct1,
       untouchedStamp, "\xEE"},
      {"current second stamp is not replaced by an older one", "80 F4 00 " + direct2 + " 80 F2 0B 00 00 00 00",
       epoch, direct2, "\xEE"},
      {"older text", "81 EF FE 03 61 62 63", untouchedStamp, untouchedStamp, "abc"},
      {"older text of 70 bytes keeps 63", "81 EF FE 46" + seventy, untouchedStamp, untouchedStamp,
       std::string(63, 'A')},
      {"text of exactly 64 bytes has no zero", "80 80 30 40" + sixtyFour, untouchedStamp, untouchedStamp,
       std::string(64, 'B')},
      {"text of 70 bytes is cut to 64", "80 80 30 46" + seventy, untouchedStamp, untouchedStamp,
       std::string(64, 'A')},
      {"current text wins, older first", "81 EF FE 03 61 62 63  80 80 30 03 78 79 00", untouchedStamp,
       untouchedStamp, "xy"},
      {"current text wins, older last", "80 80 30 03 78 79 00  81 EF FE 03 61 62 63", untouchedStamp,
       untouchedStamp, "xy"},
      {"unused and unknown fields skipped", "80 F2 00 01 02 03 04  0B 04 01 02 03 04  80 80 31 C1",
       untouchedStamp, untouchedStamp, "\xEE"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    HVDPMediaHeaderInfo info = test::untouched<HVDPMediaHeaderInfo>();
    ASSERT_EQ(read(section(kMediaId, hex(c.members)), info), 0u);
    EXPECT_EQ(stamp_hex(info.firstTimeStamp), to_hex(hex(c.first)));
    EXPECT_EQ(stamp_hex(info.secondTimeStamp), to_hex(hex(c.second)));
    if (c.text == "\xEE") {
      EXPECT_EQ(std::string(info.text, 64), std::string(64, '\xEE'));
    } else {
      EXPECT_EQ(test::member_text(info.text, 64), c.text);
    }
    EXPECT_EQ(test::copy(info.number), 0u);
    EXPECT_EQ(test::copy(info.flag), 0u);
  }
}

TEST(MediaHeader, ReadsNumberAndFlagZeroExtended) {
  struct Case {
    const char* members;
    uint32_t number, flag;
  };
  const Case cases[] = {
      {"80 F1 00 34 12  80 80 2F C0", 0x1234, 0xC0},      // flag written false: raw byte
      {"80 80 2F C1", 0, 0xC1},
      {"80 80 2F 01 01", 0, 1},                           // flag with a data byte
      {"80 80 2F 06 01 02 03 04 05 06", 0, 0x04030201},   // longer value cut to 4 bytes
      {"", 0, 0},
  };
  for (const Case& c : cases) {
    HVDPMediaHeaderInfo info = test::untouched<HVDPMediaHeaderInfo>();
    ASSERT_EQ(read(section(kMediaId, hex(c.members)), info), 0u) << c.members;
    EXPECT_EQ(test::copy(info.number), c.number) << c.members;
    EXPECT_EQ(test::copy(info.flag), c.flag) << c.members;
  }
}

TEST(MediaHeader, ReportsFailureCodes) {
  const HVDPMediaHeaderInfo info = info_of("", 0x12345, 5);
  HVDPMediaHeaderInfo out{};
  EXPECT_EQ(read(section(0x808004, {}), out), HVDPUT_FIELD_ID_MISMATCH);
  test::expect_null_arguments_refused(HVDPSetMediaHeaderInfo, HVDPGetMediaHeaderInfo, info);
  test::expect_overflow_for_every_short_buffer(HVDPSetMediaHeaderInfo, info, members_of(info),
                                               {19, 38, 43, 48, 52});
  test::expect_underflow_for_every_cut(HVDPGetMediaHeaderInfo, section(kMediaId, members_of(info)));
}

TEST(MediaHeader, RefusesFieldsWhoseSizeLies) {
  const char* lies[] = {
      "80 80 30 82 FF FF FF 7F 41 42",                  // text of 2^31 - 1 bytes
      "80 80 30 83 00 00 00 00 01 00 00 00 41",         // 2^32 bytes
      "80 80 30 7F 41",                                 // 127 bytes, 1 present
      "80 F4 01 00 01 02",                              // fixed 16, 3 present
      "81 EF FE 81 FF",                                 // size bytes cut
  };
  for (const char* members : lies) {
    std::vector<uint8_t> bytes = section(kMediaId, {});
    bytes.resize(6);  // the head field alone
    for (uint8_t b : hex(members)) bytes.push_back(b);
    HVDPMediaHeaderInfo info{};
    EXPECT_EQ(read(bytes, info), HVDPUT_BUFFER_UNDERFLOW) << members;
  }
}

// Media headers written by the library, corrupted at random and read back:
// every outcome is a defined code and nothing is read outside the buffer.
TEST(MediaHeader, SurvivesCorruptedSections) {
  test::Random random(7);
  for (int i = 0; i < 3000; ++i) {
    HVDPMediaHeaderInfo info = info_of("", random.u32(), random.u32());
    random.text(info.text, sizeof info.text, 64);
    std::vector<uint8_t> bytes = section(kMediaId, members_of(info));
    const auto size = static_cast<uint32_t>(bytes.size());
    for (uint32_t n = 1 + random.below(4); n > 0; --n) bytes[random.below(size)] = static_cast<uint8_t>(random.u32());
    HVDPMediaHeaderInfo back{};
    const uint32_t rc = read(bytes, back, random.below(size + 1));
    EXPECT_TRUE(rc == 0 || rc == HVDPUT_BUFFER_UNDERFLOW || rc == HVDPUT_FIELD_ID_MISMATCH) << rc;
  }
}

}  // namespace
}  // namespace dpxut
