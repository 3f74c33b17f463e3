// Generic characters and strings in every encoding and several server code
// sets, their one-time filling under concurrent first use, and copying and
// comparing one character of a name space.
#include <barrier>
#include <string>
#include <thread>
#include <vector>

#include "charset/charset_test_util.h"

namespace {

using dpxut::test::hex;
using dpxut::test::use_locale;
using dpxut::test::WideAt;

struct CatalogueChar {
  int code;
  const char* text;  // locale, UTF-8 and wide forms alike (ASCII)
};
const CatalogueChar kChars[] = {{0x2F, "/"}, {0x5C, "\\"}, {0x3A, ":"}, {0x2A, "*"},
                                {0x3F, "?"}, {0x2E, "."},  {0, ""}};
const int kNotInCatalogue[] = {0xAA, 0xBF, 0xAE, 'a', ' ', 0x12F, 0x22F, -1, 0x7F, 0xFF};

const char* const kKeys[] = {":/", ":/\\", "/\\", ":", "/", "::", ">", "<", "|", "//"};
const char* const kNotKeys[] = {"", "x", "word", ":x", ":/x", ":/\\x", "/x", "///", ":::",
                                ">>", "<x", "|x", "\\", "*", "/:"};

std::wstring widen(const char* ascii) { return std::wstring(ascii, ascii + std::strlen(ascii)); }

void expect_every_form(const char* locale) {
  SCOPED_TRACE(locale);
  use_locale(locale);
  for (const auto& c : kChars) {
    SCOPED_TRACE(c.code);
    ASSERT_NE(GenericMBCSChar(c.code), nullptr);
    ASSERT_NE(GenericUtf8Char(c.code), nullptr);
    ASSERT_NE(GenericUniChar(c.code), nullptr);
    EXPECT_STREQ(GenericMBCSChar(c.code), c.text);
    EXPECT_STREQ(GenericUtf8Char(c.code), c.text);
    EXPECT_EQ(std::wstring(GenericUniChar(c.code)), widen(c.text));
  }
  for (int code : kNotInCatalogue) {
    EXPECT_EQ(GenericMBCSChar(code), nullptr) << code;
    EXPECT_EQ(GenericUtf8Char(code), nullptr) << code;
    EXPECT_EQ(GenericUniChar(code), nullptr) << code;
  }
  for (const char* key : kKeys) {
    ASSERT_NE(GenericUtf8String(key), nullptr) << key;
    ASSERT_NE(GenericUniString(key), nullptr) << key;
    EXPECT_STREQ(GenericUtf8String(key), key);
    EXPECT_EQ(std::wstring(GenericUniString(key)), widen(key));
  }
  for (const char* key : kNotKeys) {
    EXPECT_EQ(GenericUtf8String(key), nullptr) << key;
    EXPECT_EQ(GenericUniString(key), nullptr) << key;
  }
  EXPECT_EQ(GenericUtf8String(nullptr), nullptr);
  EXPECT_EQ(GenericUniString(nullptr), nullptr);
}

TEST(GenericChars, EveryFormInLatin1Server) { expect_every_form("en_US.ISO-8859-1"); }
TEST(GenericChars, EveryFormInEucJpServer) { expect_every_form("ja_JP.EUC-JP"); }
TEST(GenericChars, EveryFormInUtf8Server) { expect_every_form("en_US.UTF-8"); }

TEST(GenericChars, DispatchFollowsTheNameSpaceEncoding) {
  use_locale("en_US.ISO-8859-1");
  for (uint32_t ns : {0u, 1u, 2u, 3u, 4u, 5u, 0x103u, 0x203u, 0x300u})
    for (const auto& c : kChars) {
      EXPECT_EQ(GenericChar(ns, c.code), GenericMBCSChar(c.code)) << ns;
      EXPECT_EQ(GenericString(ns, ":/\\"), static_cast<const void*>(":/\\"));
    }
  for (uint32_t ns : {0x100u, 0x101u, 0x102u, 0x104u})
    for (const auto& c : kChars) {
      EXPECT_EQ(GenericChar(ns, c.code), GenericUtf8Char(c.code)) << ns;
      EXPECT_EQ(GenericString(ns, "::"), GenericUtf8String("::"));
    }
  for (uint32_t ns : {0x200u, 0x201u, 0x202u, 0x204u})
    for (const auto& c : kChars) {
      EXPECT_EQ(GenericChar(ns, c.code), GenericUniChar(c.code)) << ns;
      EXPECT_EQ(GenericString(ns, "::"), GenericUniString("::"));
    }
  EXPECT_EQ(GenericChar(0, 0xBF), nullptr);
  EXPECT_EQ(GenericChar(0x100, 0xBF), nullptr);
  EXPECT_EQ(GenericChar(0x200, 0xBF), nullptr);
}

TEST(GenericChars, WorkedExamples) {
  use_locale("en_US.UTF-8");
  EXPECT_EQ(std::wstring(static_cast<const wchar_t*>(GenericChar(0x200, 0x2F))), L"/");
  EXPECT_STREQ(static_cast<const char*>(GenericChar(0x100, 0)), "");
  EXPECT_EQ(GenericChar(0, 0xBF), nullptr);
  // Locale name spaces hand the key back, catalogue or not, even null.
  const char* word = "anything";
  EXPECT_EQ(GenericString(0, word), word);
  EXPECT_EQ(GenericString(3, nullptr), nullptr);
  EXPECT_EQ(GenericString(0x100, word), nullptr);
  EXPECT_EQ(GenericString(0x100, ":x"), nullptr);
  EXPECT_STREQ(static_cast<const char*>(GenericString(0x100, ":/\\")), ":/\\");
  EXPECT_EQ(std::wstring(static_cast<const wchar_t*>(GenericString(0x204, "/\\"))), L"/\\");
}

TEST(GenericChars, WideEntriesAreAlignedAndStable) {
  use_locale("en_US.UTF-8");
  for (const auto& c : kChars) {
    auto* w = GenericUniChar(c.code);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(w) % alignof(wchar_t), 0u);
    EXPECT_EQ(GenericUniChar(c.code), w);
    EXPECT_EQ(GenericUtf8Char(c.code), GenericUtf8Char(c.code));
  }
  for (const char* key : kKeys) {
    EXPECT_EQ(reinterpret_cast<uintptr_t>(GenericUniString(key)) % alignof(wchar_t), 0u);
    // Keys are matched by content, not by address.
    std::string copy = key;
    EXPECT_EQ(GenericUniString(copy.c_str()), GenericUniString(key));
  }
}

TEST(GenericChars, TablesAreNotRefilledWhenTheCodeSetChanges) {
  use_locale("en_US.ISO-8859-1");
  const char* slash = GenericUtf8Char('/');
  const wchar_t* colon = GenericUniString("::");
  // A code set in which the one-byte keys are incomplete characters: any
  // conversion from it fails. The tables keep their first contents.
  ASSERT_EQ(DPInitUniLibrary("UTF-32"), 0u);
  EXPECT_EQ(GenericUtf8Char('/'), slash);
  EXPECT_STREQ(slash, "/");
  EXPECT_EQ(std::wstring(GenericUniString("::")), L"::");
  EXPECT_EQ(std::wstring(colon), L"::");
}

TEST(GenericChars, FailedConversionsLeaveEmptyEntries) {
  ASSERT_EQ(DPInitUniLibrary("UTF-32"), 0u);
  for (const auto& c : kChars) {
    ASSERT_NE(GenericUtf8Char(c.code), nullptr);
    EXPECT_STREQ(GenericUtf8Char(c.code), "");
    ASSERT_NE(GenericUniChar(c.code), nullptr);
    EXPECT_EQ(GenericUniChar(c.code)[0], 0);
    EXPECT_STREQ(GenericMBCSChar(c.code), c.text);  // needs no conversion
  }
  for (const char* key : kKeys) {
    EXPECT_STREQ(GenericUtf8String(key), "");
    EXPECT_EQ(GenericUniString(key)[0], 0);
  }
}

// Many threads make their first lookups in all four converted tables at the
// same moment; each table is filled once and every thread sees it complete.
TEST(GenericChars, ConcurrentFirstLookupsSeeFilledTables) {
  setenv("LC_ALL", "en_US.ISO-8859-1", 1);  // the set-up runs inside the first fill
  constexpr int kThreads = 8;
  std::barrier start(kThreads);
  std::vector<int> failures(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      start.arrive_and_wait();
      for (int round = 0; round < 4; ++round) {
        int order = (t + round) % 4;  // threads start on different tables
        for (int k = 0; k < 4; ++k, order = (order + 1) % 4) {
          for (const auto& c : kChars) {
            std::string text = c.text;
            if (order == 0) failures[t] += GenericUtf8Char(c.code) == nullptr || text != GenericUtf8Char(c.code);
            if (order == 1) failures[t] += GenericUniChar(c.code) == nullptr || widen(c.text) != GenericUniChar(c.code);
          }
          for (const char* key : kKeys) {
            if (order == 2) failures[t] += GenericUtf8String(key) == nullptr || std::string(key) != GenericUtf8String(key);
            if (order == 3) failures[t] += GenericUniString(key) == nullptr || widen(key) != GenericUniString(key);
          }
        }
      }
    });
  for (auto& th : threads) th.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(failures[t], 0) << "thread " << t;
}

TEST(SetChar, CopiesOneCharacterMeasuredBySource) {
  use_locale("ja_JP.EUC-JP");
  struct Case {
    uint32_t ns;
    std::string dst, ch, expect;
  } cases[] = {
      {0x100, "abcd", hex("C3 A9"), hex("C3 A9 63 64")},     // é over a, b: no terminator written
      {0x100, "abcd", hex("E2 82 AC"), hex("E2 82 AC 64")},  // three-byte character
      {0x100, "abcd", "/", "/bcd"},
      {0x100, "abcd", hex("E2 82"), hex("E2 82 63 64")},  // cut short: only what is there
      {0x103, "abcd", hex("C6 FC"), hex("C6 FC 63 64")},  // 0x103 is EUC-JP bytes here
      {0, "abcd", hex("A4 A2"), hex("A4 A2 63 64")},      // EUC-JP two-byte character
      {0, "abcd", hex("A4"), hex("A4 62 63 64")},         // lead byte alone: one byte
      {0, "abcd", "", hex("00 62 63 64")},                // the terminator is one byte
      {2, "abcd", "\\", "\\bcd"},
  };
  for (auto& c : cases) {
    std::string dst = c.dst;
    DPsetChar(c.ns, dst.data(), c.ch.c_str());
    EXPECT_EQ(dst, c.expect) << c.ns << " " << c.ch;
  }
  std::string untouched = "abcd";
  DPsetChar(0, untouched.data(), nullptr);
  DPsetChar(0x100, untouched.data(), nullptr);
  DPsetChar(0x200, untouched.data(), nullptr);
  EXPECT_EQ(untouched, "abcd");
}

TEST(SetChar, CopiesWideCharactersAtAnyOffset) {
  use_locale("en_US.UTF-8");
  for (size_t off = 0; off < 4; ++off) {
    WideAt s(L"abc", off);
    DPsetChar(0x200, s.at(1), GenericUniChar('/'));
    EXPECT_EQ(s.str(), L"a/c") << off;
    WideAt ch(L"\x4E2D", (off + 1) % 4);
    DPsetChar(0x204, s.at(0), ch.p());
    EXPECT_EQ(s.str(), L"\x4E2D/c") << off;
    DPsetChar(0x202, s.at(2), GenericUniChar(0));
    EXPECT_EQ(s.str(), L"\x4E2D/") << off;
  }
}

TEST(CheckChar, ComparesTheLengthOfTheGivenCharacter) {
  use_locale("ja_JP.EUC-JP");
  struct Case {
    uint32_t ns;
    std::string s, ch;
    uint16_t equal;
  } cases[] = {
      {0x100, "/x", "/", 1},
      {0x100, "x/", "/", 0},
      {0x100, "", "", 1},                              // at the terminator
      {0x100, "a", "", 0},
      {0x100, hex("C3 A9 41"), hex("C3 A9"), 1},       // é
      {0x100, hex("C3 A8 41"), hex("C3 A9"), 0},
      {0x100, hex("C3"), hex("C3 A9"), 0},             // string ends inside
      {0x100, hex("C3 A9"), hex("C3"), 0},             // truncated character: A9 vs its NUL
      {0x100, hex("C3"), hex("C3"), 1},                // both cut short alike
      {0, hex("A4 A2 A4 A4"), hex("A4 A2"), 1},        // EUC-JP あ
      {0, hex("A4 A4"), hex("A4 A2"), 0},              // same lead byte, other trail
      {0, "", "", 1},
      {0, "?", "?", 1},
      {0x203, hex("A4 A2"), hex("A4 A2"), 1},          // 0x203 is locale bytes
      {0x203, hex("A4 A3"), hex("A4 A2"), 0},
  };
  for (auto& c : cases)
    EXPECT_EQ(DPcheckChar(c.ns, c.s.c_str(), c.ch.c_str()), c.equal) << c.ns << " [" << c.s << "] [" << c.ch << "]";
  EXPECT_EQ(DPcheckChar(0, "x", nullptr), 0);
}

TEST(CheckChar, WideCharactersCompareAllFourBytesAtAnyOffset) {
  use_locale("en_US.UTF-8");
  for (size_t off = 0; off < 4; ++off) {
    SCOPED_TRACE(off);
    WideAt s(std::wstring(L"/") + wchar_t(0x1002F) + L"\x012F", off);
    EXPECT_EQ(DPcheckChar(0x200, s.at(0), GenericUniChar('/')), 1);
    EXPECT_EQ(DPcheckChar(0x200, s.at(1), GenericUniChar('/')), 0);  // high bytes differ
    EXPECT_EQ(DPcheckChar(0x200, s.at(2), GenericUniChar('/')), 0);
    EXPECT_EQ(DPcheckChar(0x200, s.at(3), GenericUniChar(0)), 1);    // whole zero element
    EXPECT_EQ(DPcheckChar(0x200, s.at(2), GenericUniChar(0)), 0);    // 2F 01 00 00: not the end
    WideAt ch(L"/", (off + 3) % 4);
    EXPECT_EQ(DPcheckChar(0x202, s.at(0), ch.p()), 1);
  }
}

TEST(Wildcards, OnlyGenericStarAndQuestionAreWild) {
  use_locale("en_US.ISO-8859-1");
  struct Case {
    std::string ch;
    uint16_t wild, question;
  } cases[] = {{"*", 1, 0}, {"?", 1, 1}, {hex("AA"), 0, 0}, {hex("BF"), 0, 0},
               {hex("AE"), 0, 0}, {".", 0, 0}, {"", 0, 0}, {"a", 0, 0}};
  for (const auto& c : cases) {
    for (uint32_t ns : {0u, 3u, 0x103u, 0x100u, 0x104u}) {
      EXPECT_EQ(DPisWild(ns, c.ch.c_str()), c.wild) << ns << " " << c.ch;
      EXPECT_EQ(DPisQuestion(ns, c.ch.c_str()), c.question) << ns << " " << c.ch;
    }
    if (c.ch.size() > 1) continue;
    for (size_t off = 0; off < 4; ++off) {
      WideAt w(std::wstring(c.ch.begin(), c.ch.end()), off);
      EXPECT_EQ(DPisWild(0x200, w.p()), c.wild) << off << " " << c.ch;
      EXPECT_EQ(DPisQuestion(0x201, w.p()), c.question) << off << " " << c.ch;
    }
  }
}

}  // namespace

namespace {

using dpxut::test::GuardedBytes;

// Strings that end flush against an inaccessible page: measuring a
// character by the one at `ch` must not read past the end of either string.
TEST(CheckChar, NeverReadsPastEitherTerminator) {
  use_locale("ja_JP.EUC-JP");
  // Per name space: a character of more than one byte, and a string that
  // holds only its first byte.
  struct {
    uint32_t ns;
    std::string ch, lead;
  } cases[] = {{0x100, hex("E2 82 AC"), hex("E2")}, {0, hex("A4 A2"), hex("A4")}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.ns);
    GuardedBytes lone_lead(c.lead + '\0');
    EXPECT_EQ(DPcheckChar(c.ns, lone_lead.chars(), c.ch.c_str()), 0);
    GuardedBytes whole(c.ch + '\0');
    EXPECT_EQ(DPcheckChar(c.ns, whole.chars(), whole.chars()), 1);
    EXPECT_EQ(DPcheckChar(c.ns, lone_lead.chars(), lone_lead.chars()), 1);
    GuardedBytes end(hex("00"));
    EXPECT_EQ(DPcheckChar(c.ns, end.chars(), GenericChar(c.ns, 0)), 1);
    EXPECT_EQ(DPcheckChar(c.ns, end.chars(), c.ch.c_str()), 0);
  }
}

TEST(SetChar, NeverReadsPastTheSourceTerminator) {
  use_locale("ja_JP.EUC-JP");
  for (uint32_t ns : {0x100u, 0x104u, 0u}) {
    GuardedBytes cut(hex("FC 80 00"));  // announces six bytes, holds two
    std::string dst = "abcdefgh";
    DPsetChar(ns, dst.data(), cut.chars());
    EXPECT_EQ(dst.substr(2), "cdefgh") << ns;
  }
}

}  // namespace
