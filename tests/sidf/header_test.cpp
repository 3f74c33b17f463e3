// The media and session headers: member fields written byte-exact, the
// operating system and family codes, and the fields read, older forms among
// them. Round trips of arbitrary descriptions: the header fuzz targets.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "dpxut.h"
#include "support/bytes.h"
#include "support/env.h"
#include "support/guard.h"

namespace dpxut::test {
namespace {

// Reads `members` in a section `head` from a buffer that ends at an
// inaccessible page, into a description filled with EE so that members the
// reader leaves alone show.
template <typename Info>
Info read(uint32_t (*get)(const uint8_t*, uint32_t, Info*), const std::string& head, const std::string& members) {
  Info info;
  std::memset(&info, 0xEE, sizeof info);
  GuardedBytes exact(hex(head + " 02 A5 5A") + members + hex(head + " 00"));
  EXPECT_EQ(get(exact.data(), static_cast<uint32_t>(exact.size()), &info), 0u) << to_hex(members);
  return info;
}

// A text member as read: its text, or kKeep when every byte still holds EE.
constexpr const char* kKeep = "untouched";
template <size_t N>
std::string text(const char (&member)[N]) {
  if (std::string(member, N) == std::string(N, '\xEE')) return kKeep;
  return std::string(member, strnlen(member, N));
}

// The members of `info` as a header writer puts them.
template <typename Info>
std::string members_of(uint32_t (*set)(const Info*, uint8_t*, uint32_t, uint32_t*), const Info& info) {
  std::string out(1024, '\0');
  uint32_t written = 0;
  EXPECT_EQ(set(&info, reinterpret_cast<uint8_t*>(out.data()), 1024, &written), 0u);
  return out.substr(0, written);
}

const std::string kFirst = "D4 1E E8 07 03 0F 0D 2D 1E 00 00 00 00 00 00 00";   // 2024-03-15 13:45:30 EST
const std::string kSecond = "00 00 E9 07 0C 1F 0D 2D 1E 00 00 00 00 00 00 00";  // 2025-12-31 13:45:30

// Stamps 80 F4 01 and 80 F4 00, text, low 16 bits of the number, flag (the
// raw false byte C0 a reader hands back stays false).
TEST(MediaHeader, WritesMemberFieldsByteExact) {
  const std::string t64(64, 'T');  // a full member without a zero: written whole
  const struct { std::string text; uint32_t number, flag; std::string fields; } cases[] = {
      {"", 0x12345, 5, "80 80 30 01 00  80 F1 00 45 23  80 80 2F C1"},
      {"XYZ", 0, 0, "80 80 30 04 58 59 5A 00  80 F1 00 00 00  80 80 2F C0"},
      {t64, 7, 0xC0, "80 80 30 41 " + to_hex(t64) + " 00  80 F1 00 07 00  80 80 2F C0"},
  };
  for (const auto& c : cases) {
    HVDPMediaHeaderInfo info{.number = c.number, .flag = c.flag};
    std::memcpy(&info, (hex(kFirst + kSecond) + c.text).data(), 32 + c.text.size());
    EXPECT_EQ(to_hex(members_of(HVDPSetMediaHeaderInfo, info)),
              to_hex(hex("80 F4 01 " + kFirst + " 80 F4 00 " + kSecond + " " + c.fields)));
  }
}

// Old stamps are recorded with the server's standard zone: EST5 is 300
// minutes west, word 0x1000 | (-300 & 0xFFF) = 0x1ED4. Members whose fields
// are absent keep what they held (EE), except number and flag (0). Read:
// both stamps | text, number and flag.
TEST(MediaHeader, ReadsOlderFieldFormsNumberAndFlag) {
  dpxut::testing::use_zone("EST5");
  const std::string keep = to_hex(std::string(16, '\xEE')), rest = std::string(" | ") + kKeep + " 0 0";
  const std::string epoch = "D4 1E B2 07 01 01 00 00 00 00 00 00 00 00 00 00";
  const std::string direct1 = "00 00 E8 07 03 0F 0D 2D 1E 00 00 00 00 00 00 00";
  const std::string direct2 = "00 00 E9 07 03 0F 0D 2D 1E 00 00 00 00 00 00 00";
  const struct { std::string members, read; } cases[] = {
      // Unix times for both stamps, then DOS date and time for both.
      {"80 F2 0B 00 00 00 00  80 F2 0C 80 51 01 00", epoch + " D4 1E B2 07 01 02 00 00 00 00 00 00 00 00 00 00" + rest},
      {"81 F2 FF AF 6D 6F 58", kFirst + " " + kFirst + rest},
      // Current stamps win over older fields before and after them.
      {"80 F2 0B 00 00 00 00  80 F4 01 " + direct1 + " 80 F4 00 " + direct2, direct1 + " " + direct2 + rest},
      {"81 F2 FF AF 6D 6F 58  80 F4 01 " + direct1, direct1 + " " + keep + rest},
      {"80 F4 00 " + direct2 + " 80 F2 0B 00 00 00 00", epoch + " " + direct2 + rest},
      // The older text of 70 bytes keeps 63; the current text wins; the flag is the raw byte.
      {"81 EF FE 46 " + to_hex(std::string(70, 'A')), keep + " " + keep + " | " + std::string(63, 'A') + " 0 0"},
      {"81 EF FE 03 61 62 63  80 80 30 03 78 79 00", keep + " " + keep + " | xy 0 0"},
      {"80 F1 00 34 12  80 80 2F C0", keep + " " + keep + " | " + kKeep + " 4660 192"},
  };
  for (const auto& c : cases) {
    const HVDPMediaHeaderInfo info = read(HVDPGetMediaHeaderInfo, "80 80 00", hex(c.members));
    EXPECT_EQ(to_hex(&info, 32) + " | " + text(info.text) + " " + std::to_string(info.number) + " " +
                  std::to_string(info.flag), c.read);
  }
}

// A field with a short-form size carrying `text` and a zero.
std::string text_field(const char* id, const std::string& text) {
  return hex(id) + static_cast<char>(text.size() + 1) + text + '\0';
}

// Number, stamp (2024-03-15, EST), flag false, texts 1-4 ("A" and empty),
// family, full name (empty), operating system, text5 ("e"). Names in the
// table (Halvane 0 .. Vines 8) compare without regard to case. Another
// operating system goes as text when it starts printable, else as a code no
// reader names. Family: 1 for DPX in any case, else 2.
TEST(SessionHeader, WritesMemberFieldsAndCodesByteExact) {
  const std::string before = "80 72 05 00 00 00  80 F4 03 D4 1E E8 07 03 0F 00 00 00 00 00 00 00 00 00 00  80 80 2D C0"
                             "  80 80 05 02 41 00  80 80 06 01 00  80 80 07 01 00  80 80 08 01 00  ";
  const struct { const char *os, *family, *fields; } cases[] = {
      {"hALVANE", "dPx", "80 09 04 01 00 00 00  02 01 00  03 04 00 00 00 00"},
      {"Vines", "DPX ", "80 09 04 02 00 00 00  02 01 00  03 04 08 00 00 00"},
      {"Linux", "common", "80 09 04 02 00 00 00  02 01 00  03 06 4C 69 6E 75 78 00"},
      {" x", "", "80 09 04 02 00 00 00  02 01 00  03 03 20 78 00"},
      {"\x7F", "DP", "80 09 04 02 00 00 00  02 01 00  03 02 7F 00"},
      {"\xC3\xA9t\xC3\xA9", "DPX", "80 09 04 01 00 00 00  02 01 00  03 04 FF FF FF FF"},
  };
  for (const auto& c : cases) {
    HVDPSessionHeaderInfo info{.timeStamp = {.typeAndTimeZone = 0x1ED4, .year = 2024, .month = 3, .day = 15},
                               .number = 5};
    std::strcpy(info.text1, "A");
    std::strcpy(info.text5, "e");
    std::strcpy(info.osName, c.os);
    std::strcpy(info.familyName, c.family);
    EXPECT_EQ(to_hex(members_of(HVDPSetSessionHeaderInfo, info)), to_hex(hex(before + c.fields + " 04 02 65 00")))
        << c.os;
  }
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
    const HVDPSessionHeaderInfo info = read(HVDPGetSessionHeaderInfo, "80 80 04", c.members);
    EXPECT_EQ(text(info.osName) + "|" + text(info.familyName) + "|" + text(info.shortName),
              c.os + "|" + c.family + "|" + c.shortName);
  }
  EXPECT_EQ(text(read(HVDPGetSessionHeaderInfo, "80 80 04", long255).fullName), std::string(255, 'N'));
}

// Texts are terminated in their members (kept to 9 of 12 bytes in text4),
// absent ones left alone; the flag is the raw byte. The older DOS stamp field
// wins over the current one.
TEST(SessionHeader, ReadsTextsAndStamps) {
  dpxut::testing::use_zone("EST5");
  const HVDPSessionHeaderInfo info = read(
      HVDPGetSessionHeaderInfo, "80 80 04",
      hex("80 80 05 03 61 62 00  80 80 08 0C 30 31 32 33 34 35 36 37 38 39 41 42  04 02 7A 7A  80 80 2D C0"
          "  80 F4 03 00 00 B2 07 01 01 00 00 00 00 00 00 00 00 00 00  80 42 AF 6D 6F 58"));
  EXPECT_EQ(text(info.text1) + "|" + text(info.text2) + "|" + text(info.text3) + "|" + text(info.text4) + "|" +
                text(info.text5),
            std::string("ab|") + kKeep + "|" + kKeep + "|012345678|zz");
  EXPECT_EQ(+info.flag, 0xC0u);
  EXPECT_EQ(to_hex(&info.timeStamp, 16), "D4 1E E8 07 03 0F 0D 2D 1E 00 00 00 00 00 00 00");  // 2024-03-15 13:45:30
}

}  // namespace
}  // namespace dpxut::test
