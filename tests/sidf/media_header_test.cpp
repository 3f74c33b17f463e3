// The media header: member fields byte-exact, write -> read round trips,
// the older field forms, failure codes and hostile sections.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "sidf/header_test_support.h"
#include "time/time_test_support.h"

namespace dpxut {
namespace {

using test::ExactBytes;
using test::hex;
using test::section;
using test::to_hex;
using time_test::stamp;

constexpr uint32_t kMediaId = 0x808000;
constexpr const char* kKeep = test::kUntouchedText;

HVDPMediaHeaderInfo info_of(const char* text, uint32_t number, uint32_t flag) {
  HVDPMediaHeaderInfo info{};
  info.firstTimeStamp = stamp(2024, 3, 15, 13, 45, 30, 0x1ED4);
  info.secondTimeStamp = stamp(2025, 12, 31, 13, 45, 30);
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

  // The raw false byte a reader hands back stays false; any other flag is true.
  for (const auto& [flag, field] :
       {std::pair<uint32_t, const char*>{0xC0, "80 80 2F C0"}, {0x80000000, "80 80 2F C1"}}) {
    const std::vector<uint8_t> m = members_of(info_of("XYZ", 0, flag));
    EXPECT_EQ(to_hex(m.data() + 38, 8), "80 80 30 04 58 59 5A 00");
    EXPECT_EQ(to_hex(m.data() + m.size() - 4, 4), field);
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
    EXPECT_EQ(time_test::hex_of(back.firstTimeStamp), time_test::hex_of(info.firstTimeStamp));
    EXPECT_EQ(time_test::hex_of(back.secondTimeStamp), time_test::hex_of(info.secondTimeStamp));
    EXPECT_EQ(test::member_text(back.text, 64), test::member_text(info.text, 64));
    EXPECT_EQ(test::copy(back.number), info.number & 0xFFFF);
    EXPECT_EQ(test::copy(back.flag), info.flag == 0 || info.flag == 0xC0 ? 0xC0u : 0xC1u);
    // Read back and written again: the same bytes.
    EXPECT_EQ(to_hex(section(kMediaId, members_of(back))), to_hex(bytes));
  }
}

// Old stamps are recorded with the server's standard zone: EST5 is 300
// minutes west, word 0x1000 | (-300 & 0xFFF) = 0x1ED4. Members whose fields
// are absent keep what they held (EE), except number and flag (0).
TEST(MediaHeader, ReadsOlderFieldFormsNumberAndFlag) {
  time_test::use_zone("EST5");
  const std::string keep(to_hex(std::vector<uint8_t>(16, test::kUntouched)));
  const std::string epoch = "D4 1E B2 07 01 01 00 00 00 00 00 00 00 00 00 00";
  const std::string secondDay = "D4 1E B2 07 01 02 00 00 00 00 00 00 00 00 00 00";
  const std::string direct1 = "00 00 E8 07 03 0F 0D 2D 1E 00 00 00 00 00 00 00";
  const std::string direct2 = "00 00 E9 07 03 0F 0D 2D 1E 00 00 00 00 00 00 00";
  const std::string dos = "D4 1E E8 07 03 0F 0D 2D 1E 00 00 00 00 00 00 00";
  std::string seventy, sixtyFour;
  for (int i = 0; i < 70; ++i) seventy += " 41";
  for (int i = 0; i < 64; ++i) sixtyFour += " 42";
  const struct {
    const char* what;
    std::string members, first, second;
    std::string text;  // expected member bytes up to the first zero, or all 64
    uint32_t number = 0, flag = 0;
  } cases[] = {
      {"Unix times for both stamps", "80 F2 0B 00 00 00 00  80 F2 0C 80 51 01 00", epoch, secondDay, kKeep},
      {"Unix time, second missing counts as 0", "80 F2 0B 80 51 01 00", secondDay, epoch, kKeep},
      {"DOS date and time for both stamps", "81 F2 FF AF 6D 6F 58", dos, dos, kKeep},
      {"Unix time wins over DOS time", "81 F2 FF AF 6D 6F 58  80 F2 0B 00 00 00 00", epoch, epoch, kKeep},
      {"current stamps win", "80 F2 0B 00 00 00 00  80 F4 01 " + direct1 + " 80 F4 00 " + direct2, direct1,
       direct2, kKeep},
      {"current first stamp alone: second untouched", "81 F2 FF AF 6D 6F 58  80 F4 01 " + direct1, direct1, keep,
       kKeep},
      {"current second stamp is not replaced by an older one", "80 F4 00 " + direct2 + " 80 F2 0B 00 00 00 00",
       epoch, direct2, kKeep},
      {"older text of 70 bytes keeps 63", "81 EF FE 46" + seventy, keep, keep, std::string(63, 'A')},
      {"text of exactly 64 bytes has no zero", "80 80 30 40" + sixtyFour, keep, keep, std::string(64, 'B')},
      {"text of 70 bytes is cut to 64", "80 80 30 46" + seventy, keep, keep, std::string(64, 'A')},
      {"current text wins, older first", "81 EF FE 03 61 62 63  80 80 30 03 78 79 00", keep, keep, "xy"},
      {"current text wins, older last", "80 80 30 03 78 79 00  81 EF FE 03 61 62 63", keep, keep, "xy"},
      {"unused and unknown fields skipped", "80 F2 00 01 02 03 04  0B 04 01 02 03 04  80 80 31 C1", keep, keep,
       kKeep},
      {"flag written false: the raw byte", "80 F1 00 34 12  80 80 2F C0", keep, keep, kKeep, 0x1234, 0xC0},
      {"flag with a data byte", "80 80 2F 01 01", keep, keep, kKeep, 0, 1},
      {"longer flag value cut to 4 bytes", "80 80 2F 06 01 02 03 04 05 06", keep, keep, kKeep, 0, 0x04030201},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    HVDPMediaHeaderInfo info = test::untouched<HVDPMediaHeaderInfo>();
    ASSERT_EQ(read(section(kMediaId, hex(c.members)), info), 0u);
    EXPECT_EQ(time_test::hex_of(info.firstTimeStamp), to_hex(hex(c.first)));
    EXPECT_EQ(time_test::hex_of(info.secondTimeStamp), to_hex(hex(c.second)));
    EXPECT_EQ(test::text_or_untouched(info.text), c.text);
    EXPECT_EQ(test::copy(info.number), c.number);
    EXPECT_EQ(test::copy(info.flag), c.flag);
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

// Fields whose declared size runs past the buffer's end, after the head
// field alone (80 80 00 02 A5 5A).
TEST(MediaHeader, RefusesFieldsWhoseSizeLies) {
  for (const char* members : {"80 80 30 82 FF FF FF 7F 41 42",           // text of 2^31 - 1 bytes
                              "80 80 30 83 00 00 00 00 01 00 00 00 41",  // 2^32 bytes
                              "80 80 30 7F 41",                          // 127 bytes, 1 present
                              "80 F4 01 00 01 02",                       // fixed 16, 3 present
                              "81 EF FE 81 FF"}) {                       // size bytes cut
    HVDPMediaHeaderInfo info{};
    EXPECT_EQ(read(hex(std::string("80 80 00 02 A5 5A ") + members), info), HVDPUT_BUFFER_UNDERFLOW) << members;
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
