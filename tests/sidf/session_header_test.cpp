// The session header: member fields byte-exact, operating system and
// family codes both ways, the short name, the older stamp field, round
// trips, failure codes and hostile sections.
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
using test::member_text;
using test::section;
using test::to_hex;

constexpr uint32_t kSessionId = 0x808004;

template <size_t N>
void set(char (&member)[N], const std::string& text) {
  std::memset(member, 0, N);
  std::memcpy(member, text.data(), std::min(text.size(), N));
}

HVDPSessionHeaderInfo info_of(const std::string& os, const std::string& family, const std::string& fullName) {
  HVDPSessionHeaderInfo info{};
  info.timeStamp.typeAndTimeZone = 0x1ED4;
  info.timeStamp.year = 2024;
  info.timeStamp.month = 3;
  info.timeStamp.day = 15;
  set(info.osName, os);
  set(info.familyName, family);
  set(info.fullName, fullName);
  return info;
}

uint32_t write(const HVDPSessionHeaderInfo& info, std::vector<uint8_t>& members) {
  members.assign(1024, 0);
  uint32_t written = 0xDEAD;
  const uint32_t rc = HVDPSetSessionHeaderInfo(&info, members.data(), 1024, &written);
  members.resize(written);
  return rc;
}
std::vector<uint8_t> members_of(const HVDPSessionHeaderInfo& info) {
  std::vector<uint8_t> members;
  EXPECT_EQ(write(info, members), 0u);
  return members;
}

uint32_t read(const std::vector<uint8_t>& bytes, HVDPSessionHeaderInfo& info, size_t size = SIZE_MAX) {
  ExactBytes exact(bytes.data(), std::min(size, bytes.size()));
  return HVDPGetSessionHeaderInfo(exact.bytes.get(), static_cast<uint32_t>(exact.size), &info);
}

HVDPSessionHeaderInfo read_members(const std::string& members) {
  HVDPSessionHeaderInfo info = test::untouched<HVDPSessionHeaderInfo>();
  EXPECT_EQ(read(section(kSessionId, hex(members)), info), 0u) << members;
  return info;
}

std::string untouched_text(size_t n) { return std::string(n, static_cast<char>(test::kUntouched)); }

TEST(SessionHeader, WritesMemberFieldsByteExact) {
  HVDPSessionHeaderInfo info = info_of("unix", "dpx", "X.Y.Z");
  info.number = 5;
  set(info.text1, "A");
  set(info.text5, "e");
  EXPECT_EQ(to_hex(members_of(info)),
            to_hex(hex("80 72 05 00 00 00"                                        // number
                       "  80 F4 03 D4 1E E8 07 03 0F 00 00 00 00 00 00 00 00 00 00"  // stamp
                       "  80 80 2D C0"                                            // flag false
                       "  80 80 05 02 41 00  80 80 06 01 00"                      // text1, text2
                       "  80 80 07 01 00  80 80 08 01 00"                         // text3, text4
                       "  80 09 04 01 00 00 00"                                   // family DPX
                       "  02 06 58 2E 59 2E 5A 00"                                // full name
                       "  03 04 04 00 00 00"                                      // Unix
                       "  04 02 65 00")));                                        // text5
}

TEST(SessionHeader, WritesOperatingSystemAndFamilyCodes) {
  struct Case {
    const char* os;
    const char* family;
    const char* osField;
    const char* familyField;
    const char* osBack;
    const char* familyBack;
  };
  const Case cases[] = {
      {"Halvane", "DPX", "03 04 00 00 00 00", "80 09 04 01 00 00 00", "Halvane", "DPX"},
      {"dos", "Dpx", "03 04 01 00 00 00", "80 09 04 01 00 00 00", "DOS", "DPX"},
      {"os/2", "dPX", "03 04 02 00 00 00", "80 09 04 01 00 00 00", "OS/2", "DPX"},
      {"MACINTOSH", "common", "03 04 03 00 00 00", "80 09 04 02 00 00 00", "Macintosh", "common"},
      {"uNiX", "dpx2", "03 04 04 00 00 00", "80 09 04 02 00 00 00", "Unix", "common"},
      {"nt", "", "03 04 05 00 00 00", "80 09 04 02 00 00 00", "NT", "common"},
      {"lan manager", "DP", "03 04 06 00 00 00", "80 09 04 02 00 00 00", "Lan Manager", "common"},
      {"LAN SERVER", "x", "03 04 07 00 00 00", "80 09 04 02 00 00 00", "Lan Server", "common"},
      {"vines", "dpx", "03 04 08 00 00 00", "80 09 04 01 00 00 00", "Vines", "DPX"},
      // Not in the table: a printable name is written as text, read back as is.
      {"Linux", "dpx", "03 06 4C 69 6E 75 78 00", "80 09 04 01 00 00 00", "Linux", "DPX"},
      {"Unix ", "dpx", "03 06 55 6E 69 78 20 00", "80 09 04 01 00 00 00", "Unix ", "DPX"},
      // Nothing writable as text: a code no reader names; osName stays.
      {"", "dpx", "03 04 FF FF FF FF", "80 09 04 01 00 00 00", "\xEE", "DPX"},
      {"\xC3\xA9t\xC3\xA9", "dpx", "03 04 FF FF FF FF", "80 09 04 01 00 00 00", "\xEE", "DPX"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.os);
    const std::vector<uint8_t> members = members_of(info_of(c.os, c.family, ""));
    const std::string all = to_hex(members);
    EXPECT_NE(all.find(c.osField), std::string::npos) << all;
    EXPECT_NE(all.find(c.familyField), std::string::npos) << all;
    HVDPSessionHeaderInfo back = test::untouched<HVDPSessionHeaderInfo>();
    ASSERT_EQ(read(section(kSessionId, members), back), 0u);
    if (std::string(c.osBack) == "\xEE") {
      EXPECT_EQ(std::string(back.osName, 40), untouched_text(40));
    } else {
      EXPECT_EQ(member_text(back.osName, 40), c.osBack);
    }
    EXPECT_EQ(member_text(back.familyName, 32), c.familyBack);
  }
}

TEST(SessionHeader, ReadsCodesAndTextsOfOperatingSystemAndFamily) {
  struct Case {
    const char* members;
    std::string os;      // expected osName, or untouched
    std::string family;  // expected familyName, or untouched
  };
  const std::string keep40 = untouched_text(40), keep32 = untouched_text(32);
  const Case cases[] = {
      {"03 04 09 00 00 00", keep40, keep32},                          // code 9: no name
      {"03 04 00 01 00 00", keep40, keep32},                          // code 256
      {"03 01 04", "Unix", keep32},                                   // one code byte, zero-extended
      {"03 00", keep40, keep32},                                      // no value: as if absent
      {"03 04 41 49 58 00", "AIX", keep32},                           // text
      {"03 03 7F 41 42", "\x7F" "AB", keep32},                        // text without its zero
      {"80 09 04 07 00 00 00", keep40, "common"},                     // any other code
      {"80 09 04 00 00 00 00", keep40, "common"},
      {"80 09 04 64 70 78 00", keep40, "dpx"},                        // text
      {"80 09 00", keep40, keep32},                                   // no value
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.members);
    const HVDPSessionHeaderInfo info = read_members(c.members);
    EXPECT_EQ(c.os == keep40 ? std::string(info.osName, 40) : member_text(info.osName, 40), c.os);
    EXPECT_EQ(c.family == keep32 ? std::string(info.familyName, 32) : member_text(info.familyName, 32), c.family);
  }
}

TEST(SessionHeader, CutsLongNamesToTheirMembers) {
  std::string os50, family40, full;
  for (int i = 0; i < 50; ++i) os50 += " 4F";
  for (int i = 0; i < 40; ++i) family40 += " 46";
  // A 0x03 text of 50 bytes and a 0x8009 text of 40: kept 39 and 31.
  HVDPSessionHeaderInfo info = read_members("03 32" + os50 + "  80 09 28" + family40);
  EXPECT_EQ(member_text(info.osName, 40), std::string(39, 'O'));
  EXPECT_EQ(member_text(info.familyName, 32), std::string(31, 'F'));

  // A full name of 255 characters (the most its field delivers) without a
  // family field: the short name keeps its first 47.
  std::string long255 = "02 81 00 01";
  for (int i = 0; i < 256; ++i) long255 += i < 255 ? " 4E" : " 00";
  info = read_members(long255);
  EXPECT_EQ(member_text(info.fullName, 256), std::string(255, 'N'));
  EXPECT_EQ(member_text(info.shortName, 48), std::string(47, 'N'));

  // DPX: the part after the last full stop, cut to 47.
  std::string dotted = "80 09 04 01 00 00 00  02 3F 61 2E";
  for (int i = 0; i < 60; ++i) dotted += " 53";
  dotted += " 00";
  info = read_members(dotted);
  EXPECT_EQ(member_text(info.shortName, 48), std::string(47, 'S'));
}

TEST(SessionHeader, DerivesShortNameFromFullName) {
  struct Case {
    const char* family;  // family field, or null for none
    const char* fullName;
    std::string shortName;
  };
  const std::string keep = untouched_text(48);
  const Case cases[] = {
      {"80 09 04 01 00 00 00", "X.Y.Z", "Z"},
      {"80 09 04 64 50 58 00", "X.Y.Z", "Z"},  // family as text dPX
      {"80 09 04 02 00 00 00", "X.Y.Z", keep},
      {nullptr, "X.Y.Z", "X.Y.Z"},
      {"80 09 04 01 00 00 00", "XYZ", keep},    // no full stop
      {"80 09 04 01 00 00 00", "X.Y.", ""},     // nothing after the last one
      {"80 09 04 01 00 00 00", ".Z", "Z"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fullName);
    std::string members = c.family ? c.family : "";
    const std::string name = c.fullName;
    members += " 02 " + to_hex(std::vector<uint8_t>{static_cast<uint8_t>(name.size() + 1)});
    for (unsigned char ch : name) members += " " + to_hex(&ch, 1);
    members += " 00";
    const HVDPSessionHeaderInfo info = read_members(members);
    EXPECT_EQ(member_text(info.fullName, 256), name);
    EXPECT_EQ(c.shortName == keep ? std::string(info.shortName, 48) : member_text(info.shortName, 48), c.shortName);
  }
}

TEST(SessionHeader, OlderDosStampWinsOverCurrentStamp) {
  setenv("TZ", "EST5", 1);
  tzset();
  const std::string dos = "D4 1E E8 07 03 0F 0D 2D 1E 00 00 00 00 00 00 00";  // 2024-03-15 13:45:30
  const std::string direct = "00 00 B2 07 01 01 00 00 00 00 00 00 00 00 00 00";
  for (const std::string& members : {"80 F4 03 " + direct + " 80 42 AF 6D 6F 58",
                                    "80 42 AF 6D 6F 58  80 F4 03 " + direct, std::string("80 42 AF 6D 6F 58")}) {
    const HVDPSessionHeaderInfo info = read_members(members);
    EXPECT_EQ(to_hex(reinterpret_cast<const uint8_t*>(&info.timeStamp), 16), dos) << members;
  }
  const HVDPSessionHeaderInfo current = read_members("80 F4 03 " + direct);
  EXPECT_EQ(to_hex(reinterpret_cast<const uint8_t*>(&current.timeStamp), 16), direct);
}

TEST(SessionHeader, ReadsTextsTerminatedAndLeavesAbsentMembers) {
  const HVDPSessionHeaderInfo info = read_members("80 80 05 03 61 62 00  80 80 08 0C 30 31 32 33 34 35 36 37 38 39 41 42"
                                                  "  04 02 7A 7A  80 80 2D C0");
  EXPECT_EQ(member_text(info.text1, 80), "ab");
  EXPECT_EQ(member_text(info.text4, 10), "012345678");  // 12 bytes kept to 9
  EXPECT_EQ(member_text(info.text5, 10), "zz");         // stored without a zero
  EXPECT_EQ(std::string(info.text2, 80), untouched_text(80));
  EXPECT_EQ(std::string(info.text3, 40), untouched_text(40));
  EXPECT_EQ(std::string(info.osName, 40), untouched_text(40));
  EXPECT_EQ(std::string(info.familyName, 32), untouched_text(32));
  EXPECT_EQ(test::copy(info.flag), 0xC0u);
  EXPECT_EQ(test::copy(info.number), 0u);
  // Without a family field the short name is the full name, here the
  // caller's own (unterminated) content, cut to 47 characters.
  EXPECT_EQ(member_text(info.shortName, 48), untouched_text(47));
}

TEST(SessionHeader, RoundTripsGeneratedDescriptions) {
  test::Random random(4);
  const char* osNames[] = {"Halvane", "DOS", "OS/2", "Macintosh", "Unix", "NT", "Lan Manager", "Lan Server", "Vines"};
  for (int i = 0; i < 2000; ++i) {
    HVDPSessionHeaderInfo info{};
    info.timeStamp = random.stamp();
    info.number = random.u32();
    info.flag = random.below(2) ? 0 : random.u32();
    random.text(info.text1, 80, 80);
    random.text(info.text2, 80, 80);
    random.text(info.text3, 40, 39);
    random.text(info.text4, 10, 9);
    random.text(info.text5, 10, 9);
    random.text(info.fullName, 256, 126);
    const uint32_t os = random.below(10);
    set(info.osName, os < 9 ? osNames[os] : "Plan 9");
    const bool dpx = random.below(2) == 0;
    set(info.familyName, dpx ? "DPX" : "common");
    std::vector<uint8_t> members;
    ASSERT_EQ(write(info, members), 0u);
    HVDPSessionHeaderInfo back = test::untouched<HVDPSessionHeaderInfo>();
    ASSERT_EQ(read(section(kSessionId, members), back), 0u);
    EXPECT_EQ(std::memcmp(&back.timeStamp, &info.timeStamp, 16), 0);
    EXPECT_EQ(test::copy(back.number), test::copy(info.number));
    EXPECT_EQ(test::copy(back.flag), info.flag == 0 ? 0xC0u : 0xC1u);
    // Texts of 80 characters fill their members whole and come back cut to 79.
    EXPECT_EQ(member_text(back.text1, 80), member_text(info.text1, 79));
    EXPECT_EQ(member_text(back.text2, 80), member_text(info.text2, 79));
    EXPECT_EQ(member_text(back.text3, 40), member_text(info.text3, 40));
    EXPECT_EQ(member_text(back.text4, 10), member_text(info.text4, 10));
    EXPECT_EQ(member_text(back.text5, 10), member_text(info.text5, 10));
    EXPECT_EQ(member_text(back.fullName, 256), member_text(info.fullName, 256));
    EXPECT_EQ(member_text(back.osName, 40), member_text(info.osName, 40));
    EXPECT_EQ(member_text(back.familyName, 32), member_text(info.familyName, 32));
    const std::string full = member_text(info.fullName, 256);
    const size_t stop = full.rfind('.');
    if (!dpx) {
      EXPECT_EQ(std::string(back.shortName, 48), untouched_text(48));
    } else if (stop != std::string::npos) {
      EXPECT_EQ(member_text(back.shortName, 48), full.substr(stop + 1, 47));
    }
  }
}

TEST(SessionHeader, RefusesTextsLongerThan126Characters) {
  HVDPSessionHeaderInfo info = info_of("Unix", "DPX", std::string(126, 'n'));
  std::vector<uint8_t> members;
  EXPECT_EQ(write(info, members), 0u);
  set(info.fullName, std::string(127, 'n'));
  std::vector<uint8_t> buffer(1024, 0xAB);
  uint32_t written = 77;
  EXPECT_EQ(HVDPSetSessionHeaderInfo(&info, buffer.data(), 1024, &written), HVDPUT_INVALID_PARAMETER);
  EXPECT_EQ(written, 0u);
  EXPECT_EQ(buffer, std::vector<uint8_t>(1024, 0xAB));  // nothing written
  // A full member without a zero is written whole: text4 of 10 characters.
  info = info_of("Unix", "DPX", "");
  std::memset(info.text4, 'q', sizeof info.text4);
  const std::string all = to_hex(members_of(info));
  EXPECT_NE(all.find("80 80 08 0B 71 71 71 71 71 71 71 71 71 71 00"), std::string::npos) << all;
}

TEST(SessionHeader, ReportsFailureCodes) {
  HVDPSessionHeaderInfo info = info_of("Unix", "DPX", "X.Y.Z");
  set(info.text2, "two");
  HVDPSessionHeaderInfo out{};
  EXPECT_EQ(read(section(0x808000, {}), out), HVDPUT_FIELD_ID_MISMATCH);
  test::expect_null_arguments_refused(HVDPSetSessionHeaderInfo, HVDPGetSessionHeaderInfo, info);
  const std::vector<uint8_t> whole = members_of(info);
  ASSERT_EQ(whole.size(), 76u);
  test::expect_overflow_for_every_short_buffer(HVDPSetSessionHeaderInfo, info, whole,
                                               {6, 25, 29, 34, 42, 47, 52, 59, 67, 73, 76});
  test::expect_underflow_for_every_cut(HVDPGetSessionHeaderInfo, section(kSessionId, whole));
}

TEST(SessionHeader, SurvivesCorruptedSections) {
  test::Random random(11);
  for (int i = 0; i < 3000; ++i) {
    HVDPSessionHeaderInfo info = info_of(random.below(2) ? "Unix" : "Minix", random.below(2) ? "DPX" : "x", "");
    random.text(info.fullName, 256, 126);
    random.text(info.text1, 80, 80);
    std::vector<uint8_t> bytes = section(kSessionId, members_of(info));
    const auto size = static_cast<uint32_t>(bytes.size());
    for (uint32_t n = 1 + random.below(4); n > 0; --n) bytes[random.below(size)] = static_cast<uint8_t>(random.u32());
    HVDPSessionHeaderInfo back{};
    const uint32_t rc = read(bytes, back, random.below(size + 1));
    EXPECT_TRUE(rc == 0 || rc == HVDPUT_BUFFER_UNDERFLOW || rc == HVDPUT_FIELD_ID_MISMATCH) << rc;
    if (rc != 0) continue;
    // Whatever the bytes said, every text read or derived ends inside its member.
    for (auto [member, size] : {std::pair<const char*, size_t>{back.text1, 80}, {back.text2, 80}, {back.text3, 40},
                                {back.text4, 10}, {back.shortName, 48}, {back.osName, 40}, {back.text5, 10},
                                {back.familyName, 32}, {back.fullName, 256}})
      EXPECT_LT(strnlen(member, size), size);
  }
}

}  // namespace
}  // namespace dpxut
