// The session header: member fields byte-exact, operating system and family
// codes both ways, the short name, the older stamp field and text limits.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "sidf/header_test_support.h"
#include "support/env.h"

namespace dpxut::test {
namespace {

constexpr uint32_t kSession = 0x808004;

template <size_t N>
void set(char (&member)[N], const std::string& text) {
  std::memset(member, 0, N);
  std::memcpy(member, text.data(), std::min(text.size(), N));
}

HVDPSessionHeaderInfo info_of(const std::string& os, const std::string& family, const std::string& fullName = "") {
  HVDPSessionHeaderInfo info{};
  set(info.osName, os);
  set(info.familyName, family);
  set(info.fullName, fullName);
  return info;
}

std::string members(const HVDPSessionHeaderInfo& info) { return members_of(HVDPSetSessionHeaderInfo, info); }

HVDPSessionHeaderInfo read_members(const std::string& bytes) {
  HVDPSessionHeaderInfo info = untouched<HVDPSessionHeaderInfo>();
  EXPECT_EQ(read_guarded(HVDPGetSessionHeaderInfo, section(kSession, bytes), info), 0u) << to_hex(bytes);
  return info;
}

// A field with a short-form size carrying `text` and a zero.
std::string text_field(const char* id, const std::string& text) {
  return hex(id) + static_cast<char>(text.size() + 1) + text + '\0';
}

TEST(SessionHeader, WritesMemberFieldsByteExact) {
  HVDPSessionHeaderInfo info = info_of("unix", "dpx", "X.Y.Z");
  std::memcpy(&info, hex("D4 1E E8 07 03 0F").data(), 6);  // 2024-03-15, EST
  info.number = 5;
  set(info.text1, "A");
  set(info.text5, "e");
  EXPECT_EQ(to_hex(members(info)),
            to_hex(hex("80 72 05 00 00 00"                                           // number
                       "  80 F4 03 D4 1E E8 07 03 0F 00 00 00 00 00 00 00 00 00 00"  // stamp
                       "  80 80 2D C0"                                               // flag false
                       "  80 80 05 02 41 00  80 80 06 01 00"                         // text1, text2
                       "  80 80 07 01 00  80 80 08 01 00"                            // text3, text4
                       "  80 09 04 01 00 00 00"                                      // family DPX
                       "  02 06 58 2E 59 2E 5A 00"                                   // full name
                       "  03 04 04 00 00 00"                                         // Unix
                       "  04 02 65 00")));                                           // text5
}

// Names in the table (Halvane 0 .. Vines 8) compare without regard to case.
// Another operating system goes as text when it starts printable, else as a
// code no reader names. Family: 1 for DPX in any case, else 2.
TEST(SessionHeader, WritesOperatingSystemAndFamilyCodes) {
  const struct { const char *os, *family, *fields; } cases[] = {
      {"hALVANE", "dPx", "80 09 04 01 00 00 00  02 01 00  03 04 00 00 00 00"},
      {"Vines", "DPX ", "80 09 04 02 00 00 00  02 01 00  03 04 08 00 00 00"},
      {"Linux", "common", "80 09 04 02 00 00 00  02 01 00  03 06 4C 69 6E 75 78 00"},
      {" x", "", "80 09 04 02 00 00 00  02 01 00  03 03 20 78 00"},
      {"\x7F", "DP", "80 09 04 02 00 00 00  02 01 00  03 02 7F 00"},
      {"", "DPX", "80 09 04 01 00 00 00  02 01 00  03 04 FF FF FF FF"},
      {"\xC3\xA9t\xC3\xA9", "DPX", "80 09 04 01 00 00 00  02 01 00  03 04 FF FF FF FF"},
  };
  for (const auto& c : cases)
    EXPECT_NE(to_hex(members(info_of(c.os, c.family))).find(to_hex(hex(c.fields))), std::string::npos) << c.os;
}

// osName and familyName from a code (its table name) or a text, cut to 39 and
// 31 characters; an unknown code or an empty field leaves them alone. Short
// name: with family DPX the part of the full name after its last full stop,
// with another family left alone, without a family field the whole full name
// cut to 47 characters.
TEST(SessionHeader, ReadsNamesAndDerivesTheShortName) {
  const std::string dpx = hex("80 09 04 01 00 00 00"), xyz = text_field("02", "X.Y.Z");
  const std::string long255 = hex("02 81 00 01") + std::string(255, 'N') + '\0';  // the most a field delivers
  const std::string ee(47, '\xEE');  // the caller's own full name, untouched and unterminated
  const struct { std::string members, os, family, shortName; } cases[] = {
      {hex("03 04 09 00 00 00"), kKeep, kKeep, ee},           // code 9: no name
      {hex("03 01 04"), "Unix", kKeep, ee},                   // one code byte, zero-extended
      {hex("03 00 80 09 00"), kKeep, kKeep, ee},              // no values: as if absent
      {hex("03 04 41 49 58 00"), "AIX", kKeep, ee},           // text
      {hex("80 09 04 07 00 00 00"), kKeep, "common", kKeep},  // any other code
      {text_field("03", std::string(50, 'O')) + text_field("80 09", std::string(40, 'F')), std::string(39, 'O'),
       std::string(31, 'F'), kKeep},
      {dpx + xyz, kKeep, "DPX", "Z"},
      {hex("80 09 04 64 50 58 00") + xyz, kKeep, "dPX", "Z"},  // family as text
      {hex("80 09 04 02 00 00 00") + xyz, kKeep, "common", kKeep},
      {xyz, kKeep, kKeep, "X.Y.Z"},
      {dpx + text_field("02", "XYZ"), kKeep, "DPX", kKeep},  // no full stop
      {long255, kKeep, kKeep, std::string(47, 'N')},
  };
  for (const auto& c : cases) {
    const HVDPSessionHeaderInfo info = read_members(c.members);
    EXPECT_EQ(text(info.osName) + "|" + text(info.familyName) + "|" + text(info.shortName),
              c.os + "|" + c.family + "|" + c.shortName);
  }
  EXPECT_EQ(text(read_members(long255).fullName), std::string(255, 'N'));
}

// Texts are terminated in their members (kept to 9 of 12 bytes in text4),
// absent ones left alone; the flag is the raw byte. The older DOS stamp field
// wins over the current one.
TEST(SessionHeader, ReadsTextsAndStamps) {
  dpxut::testing::use_zone("EST5");
  const HVDPSessionHeaderInfo info = read_members(
      hex("80 80 05 03 61 62 00  80 80 08 0C 30 31 32 33 34 35 36 37 38 39 41 42  04 02 7A 7A  80 80 2D C0"
          "  80 F4 03 00 00 B2 07 01 01 00 00 00 00 00 00 00 00 00 00  80 42 AF 6D 6F 58"));
  EXPECT_EQ(text(info.text1) + "|" + text(info.text2) + "|" + text(info.text3) + "|" + text(info.text4) + "|" +
                text(info.text5),
            std::string("ab|") + kKeep + "|" + kKeep + "|012345678|zz");
  EXPECT_EQ(+info.flag, 0xC0u);
  EXPECT_EQ(to_hex(&info.timeStamp, 16), "D4 1E E8 07 03 0F 0D 2D 1E 00 00 00 00 00 00 00");  // 2024-03-15 13:45:30
}

// A header text holds at most 126 characters: nothing is written beyond.
TEST(SessionHeader, RefusesTextsLongerThan126Characters) {
  HVDPSessionHeaderInfo info = info_of("Unix", "DPX", std::string(126, 'n'));
  EXPECT_EQ(members(info).size(), 194u);
  set(info.fullName, std::string(127, 'n'));
  std::string buffer(1024, '\xAB');
  uint32_t written = 77;
  EXPECT_EQ(HVDPSetSessionHeaderInfo(&info, reinterpret_cast<uint8_t*>(buffer.data()), 1024, &written),
            HVDPUT_INVALID_PARAMETER);
  EXPECT_EQ(written, 0u);
  EXPECT_EQ(buffer, std::string(1024, '\xAB'));  // nothing written
}

}  // namespace
}  // namespace dpxut::test
