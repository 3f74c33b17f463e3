// The session header: member fields byte-exact, operating system and
// family codes both ways, the short name, the older stamp field, round
// trips, failure codes and hostile sections.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "sidf/header_test_support.h"
#include "time/time_test_support.h"

namespace dpxut {
namespace {

using test::ExactBytes;
using test::hex;
using test::member_text;
using test::section;
using test::text_field;
using test::text_or_untouched;
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

constexpr const char* kKeep = test::kUntouchedText;

const char* const kOsNames[] = {"Halvane", "DOS",         "OS/2",       "Macintosh", "Unix",
                                "NT",      "Lan Manager", "Lan Server", "Vines"};

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

// Names compare without regard to case on writing and read back as listed.
// An operating system not in the table goes as text when it is printable,
// else as a code no reader names (osName then stays as it was).
TEST(SessionHeader, WritesOperatingSystemAndFamilyCodes) {
  auto check = [](std::string os, const char* family, const std::string& osField, const char* familyField,
                  const std::string& osBack, const char* familyBack) {
    SCOPED_TRACE(os + " / " + family);
    const std::string all = to_hex(members_of(info_of(os, family, "")));
    EXPECT_NE(all.find(osField), std::string::npos) << all;
    EXPECT_NE(all.find(familyField), std::string::npos) << all;
    HVDPSessionHeaderInfo back = test::untouched<HVDPSessionHeaderInfo>();
    ASSERT_EQ(read(section(kSessionId, members_of(info_of(os, family, ""))), back), 0u);
    EXPECT_EQ(text_or_untouched(back.osName), osBack);
    EXPECT_EQ(member_text(back.familyName, 32), familyBack);
  };
  for (int code = 0; code < 9; ++code) {
    std::string mixed = kOsNames[code];
    for (size_t i = 0; i < mixed.size(); i += 2)  // every other letter's case turned
      mixed[i] = static_cast<char>(std::islower(mixed[i]) ? std::toupper(mixed[i]) : std::tolower(mixed[i]));
    const std::string field = "03 04 0" + std::to_string(code) + " 00 00 00";
    check(mixed, "dpx", field, "80 09 04 01 00 00 00", kOsNames[code], "DPX");
  }
  check("Linux", "Dpx", "03 06 4C 69 6E 75 78 00", "80 09 04 01 00 00 00", "Linux", "DPX");
  check("Unix ", "dPX", "03 06 55 6E 69 78 20 00", "80 09 04 01 00 00 00", "Unix ", "DPX");
  check("", "DPX", "03 04 FF FF FF FF", "80 09 04 01 00 00 00", kKeep, "DPX");
  check("\xC3\xA9t\xC3\xA9", "DPX", "03 04 FF FF FF FF", "80 09 04 01 00 00 00", kKeep, "DPX");
  for (const char* other : {"common", "dpx2", "", "DP"})
    check("Unix", other, "03 04 04 00 00 00", "80 09 04 02 00 00 00", "Unix", "common");
}

TEST(SessionHeader, ReadsCodesAndTextsOfOperatingSystemAndFamily) {
  const struct { const char *members, *os, *family; } cases[] = {
      {"03 04 09 00 00 00", kKeep, kKeep},        // code 9: no name
      {"03 04 00 01 00 00", kKeep, kKeep},        // code 256
      {"03 01 04", "Unix", kKeep},                // one code byte, zero-extended
      {"03 00", kKeep, kKeep},                    // no value: as if absent
      {"03 04 41 49 58 00", "AIX", kKeep},        // text
      {"03 03 7F 41 42", "\x7F" "AB", kKeep},     // text without its zero
      {"80 09 04 07 00 00 00", kKeep, "common"},  // any other code
      {"80 09 04 00 00 00 00", kKeep, "common"},
      {"80 09 04 64 70 78 00", kKeep, "dpx"},     // text
      {"80 09 00", kKeep, kKeep},                 // no value
  };
  for (const auto& c : cases) {
    const HVDPSessionHeaderInfo info = read_members(c.members);
    EXPECT_EQ(text_or_untouched(info.osName), c.os) << c.members;
    EXPECT_EQ(text_or_untouched(info.familyName), c.family) << c.members;
  }
}

// Short name: with family DPX the part of the full name after its last full
// stop, with another family left alone, without a family field the whole
// full name. Copies are cut to their members: osName keeps 39 characters,
// familyName 31, shortName 47.
TEST(SessionHeader, DerivesShortNameAndCutsNamesToTheirMembers) {
  const std::string dpx = "80 09 04 01 00 00 00 ";
  // A full name of 255 characters, the most its field delivers.
  const std::string long255 = "02 81 00 01 " + to_hex(std::vector<uint8_t>(255, 'N')) + " 00";
  const struct { std::string members; std::string shortName; } cases[] = {
      {dpx + text_field("02", "X.Y.Z"), "Z"},
      {"80 09 04 64 50 58 00 " + text_field("02", "X.Y.Z"), "Z"},  // family as text dPX
      {"80 09 04 02 00 00 00 " + text_field("02", "X.Y.Z"), kKeep},
      {text_field("02", "X.Y.Z"), "X.Y.Z"},
      {dpx + text_field("02", "XYZ"), kKeep},  // no full stop
      {dpx + text_field("02", "X.Y."), ""},    // nothing after the last one
      {dpx + text_field("02", ".Z"), "Z"},
      {dpx + text_field("02", "a." + std::string(60, 'S')), std::string(47, 'S')},
      {long255, std::string(47, 'N')},
  };
  for (const auto& c : cases) {
    const HVDPSessionHeaderInfo info = read_members(c.members);
    EXPECT_EQ(text_or_untouched(info.shortName), c.shortName) << c.members;
  }
  EXPECT_EQ(member_text(read_members(long255).fullName, 256), std::string(255, 'N'));
  const HVDPSessionHeaderInfo info = read_members(text_field("03", std::string(50, 'O')) + " " +
                                                  text_field("80 09", std::string(40, 'F')));
  EXPECT_EQ(member_text(info.osName, 40), std::string(39, 'O'));
  EXPECT_EQ(member_text(info.familyName, 32), std::string(31, 'F'));
}

TEST(SessionHeader, OlderDosStampWinsOverCurrentStamp) {
  time_test::use_zone("EST5");
  const std::string dos = "D4 1E E8 07 03 0F 0D 2D 1E 00 00 00 00 00 00 00";  // 2024-03-15 13:45:30
  const std::string direct = "00 00 B2 07 01 01 00 00 00 00 00 00 00 00 00 00";
  using Case = std::pair<std::string, std::string>;
  for (const auto& [members, stamp] : {Case{"80 F4 03 " + direct + " 80 42 AF 6D 6F 58", dos},
                                       Case{"80 42 AF 6D 6F 58  80 F4 03 " + direct, dos},
                                       Case{"80 42 AF 6D 6F 58", dos}, Case{"80 F4 03 " + direct, direct}}) {
    EXPECT_EQ(time_test::hex_of(read_members(members).timeStamp), stamp) << members;
  }
}

TEST(SessionHeader, ReadsTextsTerminatedAndLeavesAbsentMembers) {
  const HVDPSessionHeaderInfo info = read_members(
      "80 80 05 03 61 62 00  80 80 08 0C 30 31 32 33 34 35 36 37 38 39 41 42  04 02 7A 7A  80 80 2D C0");
  EXPECT_EQ(member_text(info.text1, 80), "ab");
  EXPECT_EQ(member_text(info.text4, 10), "012345678");  // 12 bytes kept to 9
  EXPECT_EQ(member_text(info.text5, 10), "zz");         // stored without a zero
  for (const std::string& absent : {text_or_untouched(info.text2), text_or_untouched(info.text3),
                                    text_or_untouched(info.osName), text_or_untouched(info.familyName)})
    EXPECT_EQ(absent, kKeep);
  EXPECT_EQ(test::copy(info.flag), 0xC0u);
  EXPECT_EQ(test::copy(info.number), 0u);
  // Without a family field the short name is the full name, here the
  // caller's own (unterminated) content, cut to 47 characters.
  EXPECT_EQ(member_text(info.shortName, 48), std::string(47, static_cast<char>(test::kUntouched)));
}

// Texts of 80 characters fill text1 and text2 whole and come back cut to 79.
TEST(SessionHeader, RoundTripsGeneratedDescriptions) {
  test::Random random(4);
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
    set(info.osName, os < 9 ? kOsNames[os] : "Plan 9");
    const bool dpx = random.below(2) == 0;
    set(info.familyName, dpx ? "DPX" : "common");
    HVDPSessionHeaderInfo back = test::untouched<HVDPSessionHeaderInfo>();
    ASSERT_EQ(read(section(kSessionId, members_of(info)), back), 0u);
    EXPECT_EQ(time_test::hex_of(back.timeStamp), time_test::hex_of(info.timeStamp));
    EXPECT_EQ(test::copy(back.number), test::copy(info.number));
    EXPECT_EQ(test::copy(back.flag), info.flag == 0 ? 0xC0u : 0xC1u);
    const std::pair<const char*, const char*> texts[] = {{back.text1, info.text1}, {back.text2, info.text2},
        {back.text3, info.text3}, {back.text4, info.text4}, {back.text5, info.text5}, {back.fullName, info.fullName},
        {back.osName, info.osName}, {back.familyName, info.familyName}};
    const size_t sizes[] = {80, 80, 40, 10, 10, 256, 40, 32};
    for (size_t t = 0; t < 8; ++t)
      EXPECT_EQ(member_text(texts[t].first, sizes[t]), member_text(texts[t].second, t < 2 ? 79 : sizes[t])) << t;
    const std::string full = member_text(info.fullName, 256);
    if (!dpx) {
      EXPECT_EQ(text_or_untouched(back.shortName), kKeep);
    } else if (full.rfind('.') != std::string::npos) {
      EXPECT_EQ(member_text(back.shortName, 48), full.substr(full.rfind('.') + 1, 47));
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
