// Name space numbers, the generic characters and strings in every encoding,
// and copying and comparing one character of a name space.
#include <array>

#include "charset/charset_test_util.h"

namespace {

using namespace dpxut::test;

TEST(NameSpace, TestsAndMappingsFollowExactValues) {
  const std::array<uint32_t, 7> facts[] = {
      // name space, wide, UTF-8, locale bytes, base form, wide form, UTF-8 form
      {0x000, 0, 0, 1, 0x000, 0x200, 0x100}, {0x004, 0, 0, 1, 0x004, 0x204, 0x104},  // base: locale bytes
      {0x003, 0, 0, 1, 0x003, 0x003, 0x003}, {0x005, 0, 0, 0, 0x005, 0x005, 0x005},  // no other forms; unknown
      {0x100, 0, 1, 0, 0x000, 0x100, 0x100}, {0x104, 0, 1, 0, 0x004, 0x104, 0x104},  // UTF-8 forms
      {0x200, 1, 0, 0, 0x000, 0x200, 0x200}, {0x204, 1, 0, 0, 0x004, 0x204, 0x204},  // wide forms
      {0x103, 0, 0, 0, 0x103, 0x103, 0x103}, {0x203, 0, 0, 0, 0x203, 0x203, 0x203},  // look-alikes
  };
  for (const auto& f : facts) {
    const std::array<uint32_t, 7> got = {f[0], HVDPIsNameSpaceUnicode(f[0]), HVDPIsNameSpaceUtf8(f[0]),
                                         HVDPIsNameSpaceAscii(f[0]), MapToKFSNameSpace(f[0]),
                                         MapToUnicodeNameSpace(f[0]), MapToUtf8NameSpace(f[0])};
    EXPECT_TRUE(got == f && MapToAsciiNameSpace(f[0]) == f[4] && DPsizeOfChar(f[0]) == (f[1] ? 4u : 1u)) << f[0];
  }
}

// The catalogue: code, and the text that every form holds (ASCII).
const std::pair<int, const char*> kChars[] = {{0x2F, "/"}, {0x5C, "\\"}, {0x3A, ":"}, {0x2A, "*"},
                                              {0x3F, "?"}, {0x2E, "."},  {0, ""}};

// The entry holds the ASCII text in its form, aligned for its units.
template <class Unit>
bool holds(const Unit* entry, std::string_view text) {
  return entry && entry == std::basic_string<Unit>(text.begin(), text.end()) && uintptr_t(entry) % alignof(Unit) == 0;
}

TEST(GenericChars, CatalogueHoldsEveryCharacterAndStringInEveryForm) {
  use_locale("ja_JP.EUC-JP");
  for (const auto& [code, text] : kChars)
    EXPECT_TRUE(holds(GenericMBCSChar(code), text) && holds(GenericUtf8Char(code), text) &&
                holds(GenericUniChar(code), text)) << code;
  for (int code : {0xAA, 0xBF, int('a'), 0x12F, -1, 0x7F})
    EXPECT_TRUE(!GenericMBCSChar(code) && !GenericUtf8Char(code) && !GenericUniChar(code)) << code;
  for (const char* key : {":/", ":/\\", "/\\", ":", "/", "::", ">", "<", "|", "//"})  // matched by content
    EXPECT_TRUE(holds(GenericUtf8String(std::string(key).c_str()), key) &&
                holds(GenericUniString(std::string(key).c_str()), key));
  for (const char* key : {"", ":x", ":/x", ":/\\x", "///", "\\", "/:"})
    EXPECT_TRUE(!GenericUtf8String(key) && !GenericUniString(key) && GenericString(0x103, key) == key) << key;
}

TEST(CheckChar, CopiesAndComparesTheLengthOfTheGivenCharacter) {
  use_locale("ja_JP.EUC-JP");
  const std::tuple<uint32_t, std::string, std::string> copies[] = {  // copied over "abcd"
      {0x100, hex("E2 82 AC"), hex("E2 82 AC 64")}, {0x100, hex("E2 82"), hex("E2 82 63 64")},  // cut: what is there
      {0x103, hex("C6 FC"), hex("C6 FC 63 64")},    {0, hex("A4"), hex("A4 62 63 64")},  // EUC-JP; lead byte alone
      {0, "", hex("00 62 63 64")},  {0x200, hex("41 00 01 00"), hex("41 00 01 00")},  // the terminator: one byte
  };
  for (const auto& [ns, ch, expect] : copies) {
    std::string dst = "abcd";
    DPsetChar(ns, dst.data(), ch.c_str());
    EXPECT_EQ(dst, expect) << ns << " " << ch;
  }
  const std::tuple<uint32_t, std::string, std::string, uint16_t> compared[] = {  // "": the end
      {0x100, "/x", "/", 1},  {0x100, "x/", "/", 0},  {0x100, "", "", 1},  {0x100, "a", "", 0},
      {0x100, hex("C3 A9 41"), hex("C3 A9"), 1},  {0x100, hex("C3 A8 41"), hex("C3 A9"), 0},
      {0x100, hex("C3 A9"), hex("C3"), 0},        {0x100, hex("C3"), hex("C3"), 1},  // cut short; both alike
      {0, hex("A4 A2 A4 A4"), hex("A4 A2"), 1},   {0x203, hex("A4 A4"), hex("A4 A2"), 0},  // EUC-JP bytes
      {0x200, hex("2F 00 01 00"), hex("2F 00 00 00"), 0},  {0x204, hex("2F 00 00 00"), hex("2F 00 00 00"), 1},  // wide
  };
  for (const auto& [ns, s, ch, equal] : compared)
    EXPECT_EQ(DPcheckChar(ns, s.c_str(), ch.c_str()), equal) << ns << " [" << s << "] [" << ch << "]";
  for (uint32_t ns : {0u, 0x100u})  // only the generic star and question mark are wild
    for (const char* s : {"*", "?", "\xAA", "\xBF", ".", "", "a"})
      EXPECT_EQ(DPisWild(ns, s) * 2 + DPisQuestion(ns, s), *s == '*' ? 2 : *s == '?' ? 3 : 0) << ns << s;
}

}  // namespace
