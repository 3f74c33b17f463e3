// Generic characters and strings in every encoding and several server code
// sets, their one-time filling under concurrent first use, and copying and
// comparing one character of a name space.
#include <atomic>
#include <barrier>
#include <thread>

#include "charset/charset_test_util.h"

namespace {

using dpxut::test::GuardedBytes;
using dpxut::test::hex;
using dpxut::test::use_locale;
using dpxut::test::WideAt;
using dpxut::test::widen;

// The catalogue: code, and the text that every form holds (ASCII).
const std::pair<int, const char*> kChars[] = {{0x2F, "/"}, {0x5C, "\\"}, {0x3A, ":"}, {0x2A, "*"},
                                              {0x3F, "?"}, {0x2E, "."},  {0, ""}};
const int kNotInCatalogue[] = {0xAA, 0xBF, 0xAE, 'a', ' ', 0x12F, 0x22F, -1, 0x7F, 0xFF};
const char* const kKeys[] = {":/", ":/\\", "/\\", ":", "/", "::", ">", "<", "|", "//"};
const char* const kNotKeys[] = {"", "x", ":x", ":/x", ":/\\x", "/x", "///", ":::", ">>", "<x", "|x", "\\", "*", "/:", "word"};

// The entry holds text in its form; wide entries are 4-aligned.
bool holds(const char* entry, const char* text) { return entry && std::string(entry) == text; }
bool holds(const wchar_t* entry, const char* text) {
  return entry && entry == widen(text) && reinterpret_cast<uintptr_t>(entry) % alignof(wchar_t) == 0;
}

void expect_every_form(const char* locale) {
  use_locale(locale);
  for (const auto& [code, text] : kChars) {
    EXPECT_TRUE(holds(GenericMBCSChar(code), text) && holds(GenericUtf8Char(code), text) &&
                holds(GenericUniChar(code), text)) << code;
  }
  for (int code : kNotInCatalogue)
    EXPECT_TRUE(!GenericMBCSChar(code) && !GenericUtf8Char(code) && !GenericUniChar(code)) << code;
  for (const char* key : kKeys) {
    const std::string copy = key;  // matched by content, not by address
    EXPECT_TRUE(holds(GenericUtf8String(copy.c_str()), key) && holds(GenericUniString(copy.c_str()), key)) << key;
  }
  for (const char* key : kNotKeys) EXPECT_TRUE(!GenericUtf8String(key) && !GenericUniString(key)) << key;
  EXPECT_TRUE(!GenericUtf8String(nullptr) && !GenericUniString(nullptr));
}

// The tables are filled once per process, so each server gets a test.
TEST(GenericChars, EveryFormInLatin1Server) { expect_every_form("en_US.ISO-8859-1"); }
TEST(GenericChars, EveryFormInEucJpServer) { expect_every_form("ja_JP.EUC-JP"); }
TEST(GenericChars, EveryFormInUtf8Server) { expect_every_form("en_US.UTF-8"); }

TEST(GenericChars, DispatchFollowsTheNameSpaceEncoding) {
  use_locale("en_US.UTF-8");
  const char* word = "anything";
  for (uint32_t ns : {0u, 1u, 2u, 3u, 4u, 5u, 0x103u, 0x203u, 0x300u}) {
    for (const auto& c : kChars) EXPECT_EQ(GenericChar(ns, c.first), GenericMBCSChar(c.first)) << ns;
    EXPECT_EQ(GenericString(ns, word), word);  // the key itself, in the catalogue or not
    EXPECT_EQ(GenericString(ns, nullptr), nullptr);
  }
  for (uint32_t ns : {0x100u, 0x101u, 0x102u, 0x104u}) {
    for (const auto& c : kChars) EXPECT_EQ(GenericChar(ns, c.first), GenericUtf8Char(c.first)) << ns;
    EXPECT_EQ(GenericString(ns, "::"), GenericUtf8String("::"));
    EXPECT_EQ(GenericString(ns, word), nullptr);
  }
  for (uint32_t ns : {0x200u, 0x201u, 0x202u, 0x204u}) {
    for (const auto& c : kChars) EXPECT_EQ(GenericChar(ns, c.first), GenericUniChar(c.first)) << ns;
    EXPECT_EQ(GenericString(ns, "::"), GenericUniString("::"));
  }
  for (uint32_t ns : {0u, 0x100u, 0x200u}) EXPECT_EQ(GenericChar(ns, 0xBF), nullptr);
  EXPECT_TRUE(holds(static_cast<const wchar_t*>(GenericChar(0x200, 0x2F)), "/"));
  EXPECT_TRUE(holds(static_cast<const char*>(GenericChar(0x100, 0)), ""));
  EXPECT_EQ(GenericString(0x100, ":x"), nullptr);
  EXPECT_TRUE(holds(static_cast<const char*>(GenericString(0x100, ":/\\")), ":/\\"));
  EXPECT_TRUE(holds(static_cast<const wchar_t*>(GenericString(0x204, "/\\")), "/\\"));
}

TEST(GenericChars, TablesAreNotRefilledWhenTheCodeSetChanges) {
  use_locale("en_US.ISO-8859-1");
  const char* slash = GenericUtf8Char('/');
  const wchar_t* colons = GenericUniString("::");
  // In UTF-32 the one-byte keys are incomplete characters: every conversion
  // from it fails. The tables keep their first contents.
  ASSERT_EQ(DPInitUniLibrary("UTF-32"), 0u);
  EXPECT_EQ(GenericUtf8Char('/'), slash);
  EXPECT_EQ(GenericUniString("::"), colons);
  EXPECT_TRUE(holds(slash, "/") && holds(colons, "::"));
}

TEST(GenericChars, FailedConversionsLeaveEmptyEntries) {
  ASSERT_EQ(DPInitUniLibrary("UTF-32"), 0u);
  for (const auto& [code, text] : kChars) {  // the locale form needs no conversion
    EXPECT_TRUE(holds(GenericUtf8Char(code), "") && holds(GenericUniChar(code), "") &&
                holds(GenericMBCSChar(code), text)) << code;
  }
  for (const char* key : kKeys) EXPECT_TRUE(holds(GenericUtf8String(key), "") && holds(GenericUniString(key), ""));
}

// Threads make their first lookups in all four converted tables at the same
// moment, each starting on another table; every table is filled once and
// every thread sees it complete.
TEST(GenericChars, ConcurrentFirstLookupsSeeFilledTables) {
  setenv("LC_ALL", "en_US.ISO-8859-1", 1);  // the set-up runs inside the first fill
  constexpr int kThreads = 8;
  std::barrier start(kThreads);
  std::atomic<int> failures{0};
  auto lookup = [&](int table) {
    for (const auto& [code, text] : kChars)
      failures += table == 0 ? !holds(GenericUtf8Char(code), text) : table == 1 && !holds(GenericUniChar(code), text);
    for (const char* key : kKeys)
      failures += table == 2 ? !holds(GenericUtf8String(key), key) : table == 3 && !holds(GenericUniString(key), key);
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      start.arrive_and_wait();
      for (int k = 0; k < 4; ++k) lookup((t + k) % 4);
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(failures, 0);
}

TEST(SetChar, CopiesOneCharacterMeasuredBySource) {
  use_locale("ja_JP.EUC-JP");
  const struct {
    uint32_t ns;
    std::string ch, expect;  // copied over "abcd"
  } cases[] = {
      {0x100, hex("C3 A9"), hex("C3 A9 63 64")},  {0x100, hex("E2 82 AC"), hex("E2 82 AC 64")},  // no terminator
      {0x100, hex("E2 82"), hex("E2 82 63 64")},  // cut short: only what is there
      {0x103, hex("C6 FC"), hex("C6 FC 63 64")},  // 0x103 is EUC-JP bytes here
      {0, hex("A4 A2"), hex("A4 A2 63 64")},      {0, hex("A4"), hex("A4 62 63 64")},  // lead byte alone: one
      {0, "", hex("00 62 63 64")},                {2, "\\", "\\bcd"},  // the terminator is one byte
  };
  for (const auto& c : cases) {
    std::string dst = "abcd";
    DPsetChar(c.ns, dst.data(), c.ch.c_str());
    EXPECT_EQ(dst, c.expect) << c.ns << " " << c.ch;
  }
  std::string untouched = "abcd";
  for (uint32_t ns : {0u, 0x100u, 0x200u}) DPsetChar(ns, untouched.data(), nullptr);
  EXPECT_EQ(untouched, "abcd");
}

TEST(CheckChar, ComparesTheLengthOfTheGivenCharacter) {
  use_locale("ja_JP.EUC-JP");
  const struct {
    uint32_t ns;
    std::string s, ch;
    uint16_t equal;
  } cases[] = {
      {0x100, "/x", "/", 1},  {0x100, "x/", "/", 0},  {0x100, "", "", 1},  {0x100, "a", "", 0},  // "": the end
      {0x100, hex("C3 A9 41"), hex("C3 A9"), 1},  {0x100, hex("C3 A8 41"), hex("C3 A9"), 0},  // é
      {0x100, hex("C3"), hex("C3 A9"), 0},        // string ends inside
      {0x100, hex("C3 A9"), hex("C3"), 0},        // truncated character: A9 vs its NUL
      {0x100, hex("C3"), hex("C3"), 1},           // both cut short alike
      {0, hex("A4 A2 A4 A4"), hex("A4 A2"), 1},   {0, hex("A4 A4"), hex("A4 A2"), 0},  // EUC-JP あ; other trail
      {0x203, hex("A4 A2"), hex("A4 A2"), 1},     {0x203, hex("A4 A3"), hex("A4 A2"), 0},  // locale bytes
  };
  for (const auto& c : cases)
    EXPECT_EQ(DPcheckChar(c.ns, c.s.c_str(), c.ch.c_str()), c.equal) << c.ns << " [" << c.s << "] [" << c.ch << "]";
  EXPECT_EQ(DPcheckChar(0, "x", nullptr), 0);
}

// Wide characters are four bytes, compared and copied whole at any offset.
TEST(CheckChar, WideCharactersAreFourBytesAtAnyOffset) {
  use_locale("en_US.UTF-8");
  const void *slash = GenericUniChar('/'), *end = GenericUniChar(0);
  for (size_t off = 0; off < 4; ++off) {
    WideAt s(std::wstring(L"/") + wchar_t(0x1002F) + L"\x012F*?\xBF", off), ch(L"\x4E2D", (off + 3) % 4);
    EXPECT_EQ(DPcheckChar(0x200, s.at(0), slash), 1) << off;
    EXPECT_EQ(DPcheckChar(0x200, s.at(1), slash) + DPcheckChar(0x200, s.at(2), slash), 0);  // high bytes differ
    EXPECT_EQ(DPcheckChar(0x200, s.at(6), end), 1);  // the whole zero element
    EXPECT_EQ(DPcheckChar(0x200, s.at(2), end), 0);  // 2F 01 00 00: not the end
    EXPECT_EQ(DPisWild(0x200, s.at(3)) + DPisWild(0x201, s.at(4)) + DPisQuestion(0x202, s.at(4)), 3);
    EXPECT_EQ(DPisWild(0x200, s.at(1)) + DPisQuestion(0x204, s.at(3)) + DPisWild(0x200, s.at(5)) +
                  DPisWild(0x200, s.at(6)), 0);
    DPsetChar(0x204, s.at(0), ch.p());
    DPsetChar(0x200, s.at(1), slash);
    DPsetChar(0x202, s.at(2), end);
    EXPECT_EQ(s.str(), L"\x4E2D/") << off;
    EXPECT_EQ(DPcheckChar(0x202, s.at(0), ch.p()), 1);
  }
}

// Strings that end flush against an inaccessible page: a character measured
// at one string is never read past the end of the other.
TEST(CheckChar, NeverReadsPastEitherTerminator) {
  use_locale("ja_JP.EUC-JP");
  const struct {
    uint32_t ns;
    std::string ch, lead;  // a character of several bytes; its first byte alone
  } cases[] = {{0x100, hex("E2 82 AC"), hex("E2")}, {0, hex("A4 A2"), hex("A4")}};
  for (const auto& c : cases) {
    GuardedBytes lone_lead(c.lead + '\0'), whole(c.ch + '\0'), end(hex("00"));
    EXPECT_EQ(DPcheckChar(c.ns, lone_lead.chars(), c.ch.c_str()), 0) << c.ns;
    EXPECT_EQ(DPcheckChar(c.ns, whole.chars(), whole.chars()), 1);
    EXPECT_EQ(DPcheckChar(c.ns, lone_lead.chars(), lone_lead.chars()), 1);
    EXPECT_EQ(DPcheckChar(c.ns, end.chars(), GenericChar(c.ns, 0)), 1);
    EXPECT_EQ(DPcheckChar(c.ns, end.chars(), c.ch.c_str()), 0);
  }
  for (uint32_t ns : {0x100u, 0x104u, 0u}) {
    GuardedBytes cut(hex("FC 80 00"));  // announces six bytes, holds two
    std::string dst = "abcdefgh";
    DPsetChar(ns, dst.data(), cut.chars());
    EXPECT_EQ(dst.substr(2), "cdefgh") << ns;
  }
}

TEST(Wildcards, OnlyGenericStarAndQuestionAreWild) {
  use_locale("en_US.ISO-8859-1");
  const struct {
    std::string ch;
    uint16_t wild, question;
  } cases[] = {{"*", 1, 0},        {"?", 1, 1}, {hex("AA"), 0, 0}, {hex("BF"), 0, 0},
               {hex("AE"), 0, 0}, {".", 0, 0}, {"", 0, 0},        {"a", 0, 0}};
  for (const auto& c : cases) {
    for (uint32_t ns : {0u, 3u, 0x103u, 0x100u, 0x104u})
      EXPECT_TRUE(DPisWild(ns, c.ch.c_str()) == c.wild && DPisQuestion(ns, c.ch.c_str()) == c.question) << ns << c.ch;
  }
}

}  // namespace
