// Wildcard matching: the worked results of both matcher families in all
// three encodings, the enhanced wildcard bytes, the wildcard tests, the
// patterns that would take exponential time if tried naively, names longer
// than a 16-bit offset, and the fast matchers against plain recursive
// transcriptions of their rules over many random patterns and names.
#include <gtest/gtest.h>

#include <chrono>
#include <clocale>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "dpxut.h"

namespace {

constexpr uint32_t kLocale = 0, kUtf8 = 0x100, kWide = 0x200;

// A string in one encoding, in a heap block of exactly its size, so that
// the sanitizer build sees any read past its terminator.
class Text {
 public:
  Text(const std::string& bytes, uint32_t ns) : wide_(ns >= 0x200 && ns <= 0x204) {
    if (wide_) {
      // Each byte stands for the wide character of the same value; Wide()
      // makes characters above 0xFF.
      std::vector<uint32_t> units(bytes.begin(), bytes.end());
      for (auto& u : units) u &= 0xFF;
      Init(units);
    } else {
      size_ = bytes.size() + 1;
      data_.reset(new unsigned char[size_]);
      std::memcpy(data_.get(), bytes.c_str(), size_);
    }
  }
  static Text Wide(const std::vector<uint32_t>& units) {
    Text t;
    t.wide_ = true;
    t.Init(units);
    return t;
  }
  const void* get() const { return data_.get(); }
  const char* c() const { return reinterpret_cast<const char*>(data_.get()); }

 private:
  Text() = default;
  void Init(const std::vector<uint32_t>& units) {
    size_ = (units.size() + 1) * 4;
    data_.reset(new unsigned char[size_]);
    if (!units.empty()) std::memcpy(data_.get(), units.data(), units.size() * 4);
    std::memset(data_.get() + units.size() * 4, 0, 4);
  }
  bool wide_ = false;
  size_t size_ = 0;
  std::unique_ptr<unsigned char[]> data_;
};

int32_t Match(uint32_t ns, const std::string& pattern, const std::string& name, int16_t partial = 0) {
  const Text p(pattern, ns), n(name, ns);
  return HVDPMatchName(ns, p.get(), n.get(), partial);
}
int32_t Generic(uint32_t ns, const std::string& pattern, const std::string& name) {
  const Text p(pattern, ns), n(name, ns);
  return HVDPGenericWildMatch(ns, p.get(), n.get());
}
int32_t Wild(const std::string& pattern, const std::string& name) {
  const Text p(pattern, 0), n(name, 0);
  return HVDPWildMatch(p.c(), n.c());
}

// Each test picks the server code set and the process locale it walks in.
class Wildcard : public ::testing::Test {
 protected:
  void Use(const char* locale, const char* codeset) {
    ASSERT_NE(std::setlocale(LC_CTYPE, locale), nullptr) << locale;
    ASSERT_EQ(DPInitUniLibrary(codeset), 0u) << codeset;
  }
  void SetUp() override { Use("en_US.ISO-8859-1", "ISO-8859-1"); }
  void TearDown() override { DPShutDownUniLibrary(); }
};

struct NameCase {
  const char* pattern;
  const char* name;
  int16_t partial;
  int32_t result;
  const char* why;
};

const NameCase kNameCases[] = {
    {"*", "a.b", 0, 0, "a final star matches everything"},
    {"*.txt", "a.b.txt", 0, 0, "a try at the first dot fails, the star goes on"},
    {"*b", "a.b", 0, -1, "a star does not pass a dot that is not tried"},
    {"*x", "a.x", 0, -1, "nor for any other following character"},
    {"ab", "abc", 0, 2, "the pattern ended first"},
    {"abc", "ab", 0, 1, "the name ended first"},
    {"a??", "ab", 0, 1, "a question mark needs a character"},
    {"*b", "abc", 0, -1, "no try at the end"},
    {"*b", "abc", 1, 2, "with partial, the try at b ran out of pattern"},
    {"*?b", "b", 0, 0, "the ? after the star is absorbed"},
    {"a*?", "a", 0, 1, "at the end of the name only * is skipped"},
    {"*a", "*b", 0, -1, "the leading * is matched literally against the name's *"},
    {"*.*", "abc", 0, -1, "a name without a dot does not match"},
    {"*.*", "a.b", 0, 0, "the dot is tried"},
    {"?", ".", 0, 0, "a question mark takes a dot"},
    {"ABC", "abc", 0, -1, "case counts outside name space 4"},
    {"", "", 0, 0, "empty against empty"},
    {"", "a", 0, 2, "empty pattern"},
    {"a", "", 0, 1, "empty name"},
    {"**", "", 0, 0, "stars at the end of the pattern are skipped"},
    {"a*", "a", 0, 0, "a final star matches nothing too"},
    {"a*c", "abbbc", 0, 0, "star between literals"},
    {"a*c", "abbbd", 0, -1, "no c to end on"},
    {"*c", "ab.c", 0, -1, "the star stops at a dot it does not try"},
    {"?b", "ab", 0, 0, "? then literal"},
    {"??", "a", 0, 1, "more ?s than characters"},
    {"*a*", "xxa.y", 0, 0, "star tried at a, the final star takes the rest"},
    {"*a*b", "xaxb", 1, 0, "partial leaves full matches alone"},
    {"a*", "ab", 1, 0, "partial with a final star"},
    {"*ab", "abab", 0, 0, "the second try matches"},
    {"*ab", "abab", 1, 2, "partial stops at the first try that ran out of pattern"},
    {"*ab", "ab.", 1, 2, "partial: the try at a ran out of pattern first"},
};

TEST_F(Wildcard, MatchNameGivesFourWayResultsInEveryEncoding) {
  for (uint32_t ns : {kLocale, kUtf8, kWide, 1u, 0x202u}) {
    for (const auto& c : kNameCases) {
      EXPECT_EQ(Match(ns, c.pattern, c.name, c.partial), c.result)
          << std::hex << ns << " '" << c.pattern << "' '" << c.name << "': " << c.why;
      EXPECT_EQ(matchNameEnabled(ns, Text(c.pattern, ns).get(), Text(c.name, ns).get(), c.partial),
                c.result);
    }
  }
}

TEST_F(Wildcard, MatchNameIgnoresCaseInNameSpace4Only) {
  for (uint32_t ns : {4u, 0x104u, 0x204u}) {
    EXPECT_EQ(Match(ns, "ABC", "abc"), 0) << ns;
    EXPECT_EQ(Match(ns, "*.TXT", "read.me.txt"), 0) << ns;
    EXPECT_EQ(Match(ns, "a*Z", "ABz"), 0) << ns;
    EXPECT_EQ(Match(ns, "ab", "ABC"), 2) << ns;
    EXPECT_EQ(matchNameEnabled(ns, Text("ABC", ns).get(), Text("abc", ns).get(), 0), -1);
    EXPECT_EQ(matchIName(ns, Text("ABC", ns).get(), Text("abc", ns).get(), 0), 0);
  }
  for (uint32_t ns : {0u, 1u, 2u, 3u, 5u, 0x100u, 0x201u, 0x203u}) EXPECT_EQ(Match(ns, "ABC", "abc"), -1) << ns;
  // Upper-casing follows the locale: a-acute is E1 in ISO-8859-1.
  EXPECT_EQ(Match(4, "\xE1*", "\xC1" "bc"), 0);
  EXPECT_EQ(HVDPMatchName(0x204, Text::Wide({0xE1, '*'}).get(), Text::Wide({0xC1}).get(), 0), 0);
}

TEST_F(Wildcard, MatchNameRefusesNullQuietly) {
  EXPECT_EQ(HVDPMatchName(0, nullptr, "a", 0), -1);
  EXPECT_EQ(HVDPMatchName(4, "a", nullptr, 0), -1);
  EXPECT_EQ(HVDPWildMatch(nullptr, "a"), 0);
  EXPECT_EQ(HVDPGenericWildMatch(0x200, L"a", nullptr), 0);
  EXPECT_EQ(HVDPIsWild(nullptr), 0);
  EXPECT_EQ(HVDPGenericIsWild(0x100, nullptr), 0);
}

// Multibyte characters are compared and stepped whole.
TEST_F(Wildcard, MatchNameStepsWholeCharacters) {
  EXPECT_EQ(Match(kUtf8, "?b", "\xC3\xA9" "b"), 0);
  EXPECT_EQ(Match(kUtf8, "*\xC3\xA9", "x.\xC3\xA9"), -1);
  EXPECT_EQ(Match(kUtf8, "*\xC3\xA9", "x\xC3\xA9"), 0);
  EXPECT_EQ(Match(kUtf8, "\xC3\xA9", "\xC3\xA8"), -1);
  EXPECT_EQ(Match(kUtf8, "\xC3", "\xC3\xA9"), -1);  // a lead byte cut by the NUL
  Use("ja_JP.EUC-JP", "EUC-JP");
  EXPECT_EQ(Match(kLocale, "?", "\xA4\xA2"), 0);
  EXPECT_EQ(Match(kLocale, "a?b", "a\xA4\xA2" "b"), 0);
  EXPECT_EQ(Match(kLocale, "*\xA4\xA2", "xx\xA4\xA2"), 0);
}

struct WildCase {
  const char* pattern;
  const char* name;
  int32_t wild;     // HVDPWildMatch
  int32_t generic;  // HVDPGenericWildMatch in name space 0
  const char* why;
};

TEST_F(Wildcard, WildMatchKnowsTheEnhancedBytes) {
  const WildCase cases[] = {
      {"*", "a.b", 1, 1, "a plain star passes dots"},
      {"\xAA", "a.b", 0, 0, "AA: a star that stops at a dot"},
      {"\xAA", "ab", 1, 1, "AA without dots"},
      {"\xAA.b", "a.b", 1, 1, "AA up to the dot"},
      {"\xAA", ".a", 0, 0, "AA facing a dot at once"},
      {"a?", "a", 0, 0, "? needs a character"},
      {"a\xBF", "a", 1, 1, "BF: also nothing at the end"},
      {"a\xBF.b", "a.b", 1, 1, "BF: nothing before a dot"},
      {"a\xBF" "b", "axb", 1, 1, "BF: one character"},
      {"a?.b", "a.b", 0, 1, "a plain ? consumes the dot; in the front, not"},
      {"a?b", "a.b", 1, 0, "and so matches it"},
      {"a\xAE", "a", 1, 1, "AE: the end of the name"},
      {"a\xAE", "a.", 1, 1, "AE: a dot"},
      {"a\xAE", "ab", 0, 0, "AE: nothing else"},
      {"A", "a", 0, 0, "case counts"},
      {"\xC1", "A", 1, 1, "only seven bits are compared"},
      {"a", "\xE1", 1, 1, "in the name too"},
      {"*", "", 1, 1, "a star matches the empty name"},
      {"", "", 1, 1, "empty against empty"},
      {"?", "", 0, 0, "nothing for ?"},
      {"*.txt", "a.b.txt", 1, 1, "the last dot is tried first"},
      {"*.txt", "a.txt.b", 0, 0, "no match at the end"},
      {"a*b*c", "aXbYbZc", 1, 1, "two stars"},
      {"*\xAA", "a.b", 1, 0, "a plain star in the run passes dots; AA ends the front's run"},
      {"\xAA*", "a.b", 1, 1, "in any place of the run"},
      {"*?", "", 0, 0, "? after a star needs a character"},
      {"*.", "a.b.", 1, 1, "ends on the last dot"},
      {"abc", "abc\x80", 0, 0, "a byte 80 is a character, not the end"},
      {"abc\x80", "abc", 0, 0, "in the pattern too"},
      {"ab?", "ab\x80", 1, 1, "? takes a byte 80"},
      {"a\x80", "a\x80", 1, 1, "80 matches 80"},
      {"a\xAE", "a\x80", 0, 0, "AE does not take a byte 80"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Wild(c.pattern, c.name), c.wild) << c.why;
    EXPECT_EQ(Generic(kLocale, c.pattern, c.name), c.generic) << "generic: " << c.why;
  }
}

// The name-space front differs from the byte-level matcher before the
// first star, and hands everything after it to the byte-level rules.
TEST_F(Wildcard, GenericFrontDiffersUpToTheFirstStar) {
  EXPECT_EQ(Generic(kLocale, "a?.b", "a.b"), 1);  // a plain ? facing a dot consumes nothing
  EXPECT_EQ(Wild("a?.b", "a.b"), 0);
  EXPECT_EQ(Generic(kLocale, "x?b", "x.b"), 0);
  EXPECT_EQ(Generic(kLocale, "*x?b", "x.b"), 1);  // after the star a plain ? consumes the dot
  EXPECT_EQ(Generic(kLocale, "*\xAA", "abc"), 0);  // AA does not continue the first star's run
  EXPECT_EQ(Wild("*\xAA", "abc"), 1);
  EXPECT_EQ(Generic(kLocale, "**.c", "a.b.c"), 1);  // the run is plain: passes dots
  EXPECT_EQ(Generic(kLocale, "\xAA*", "a.b"), 1);  // a plain * after AA does continue it
  EXPECT_EQ(Generic(kUtf8, "?", "\xC3\xA9"), 1);  // one UTF-8 character before the star
  EXPECT_EQ(Generic(kUtf8, "\xC3\xA9", "\xC3\xA8"), 1);  // only the first byte, seven bits
}

// In the wide name spaces every character is a unit, before and after the
// star; wide text is never read as bytes.
TEST_F(Wildcard, GenericWideMatchesWholeUnits) {
  auto W = [](std::vector<uint32_t> p, std::vector<uint32_t> n) {
    return HVDPGenericWildMatch(kWide, Text::Wide(p).get(), Text::Wide(n).get());
  };
  EXPECT_EQ(Generic(kWide, "*.txt", "a.doc"), 0);
  EXPECT_EQ(Generic(kWide, "*.txt", "a.b.txt"), 1);
  EXPECT_EQ(Generic(kWide, "*a*b", "xxayyb"), 1);
  EXPECT_EQ(Generic(kWide, "*a*b", "xxayyc"), 0);
  EXPECT_EQ(W({0xAA}, {'a', '.', 'b'}), 0);
  EXPECT_EQ(W({0xAA}, {'a', 'b'}), 1);
  EXPECT_EQ(W({'a', 0xBF}, {'a'}), 1);
  EXPECT_EQ(W({'a', 0xAE}, {'a'}), 1);
  EXPECT_EQ(W({'a', 0xE1}, {'a', 'a'}), 1);  // E1 without bit 7 is a
  EXPECT_EQ(W({'a', 0x1E1}, {'a', 'a'}), 0);  // 1E1 is no a
  EXPECT_EQ(W({0x12A}, {'x'}), 0);  // nor is 12A a star
  EXPECT_EQ(W({'*', 0x4E2D}, {'x', 0x4E2D}), 1);
  EXPECT_EQ(W({'*', 0x4E2D}, {'x', 0x4E2E}), 0);
}

TEST_F(Wildcard, IsWildSeesPlainWildcardsOnly) {
  EXPECT_EQ(HVDPIsWild("abc"), 0);
  EXPECT_EQ(HVDPIsWild(""), 0);
  EXPECT_EQ(HVDPIsWild("a?c"), 1);
  EXPECT_EQ(HVDPIsWild("*"), 1);
  EXPECT_EQ(HVDPIsWild("\xAA"), 0);
  EXPECT_EQ(HVDPIsWild("a\xBF\xAE"), 0);
  for (uint32_t ns : {kLocale, kUtf8, kWide}) {
    EXPECT_EQ(HVDPGenericIsWild(ns, Text("abc", ns).get()), 0) << ns;
    EXPECT_EQ(HVDPGenericIsWild(ns, Text("", ns).get()), 0) << ns;
    EXPECT_EQ(HVDPGenericIsWild(ns, Text("ab*", ns).get()), 1) << ns;
    EXPECT_EQ(HVDPGenericIsWild(ns, Text("?", ns).get()), 1) << ns;
    EXPECT_EQ(HVDPGenericIsWild(ns, Text("\xAA\xBF", ns).get()), 0) << ns;
  }
  EXPECT_EQ(HVDPGenericIsWild(kWide, Text::Wide({0x12A, 0x13F}).get()), 0);
  // A ? byte inside a character is no wildcard: in EUC-JP 8F 3F is not a
  // character, so 3F stands alone; in UTF-8 a lead byte swallows it.
  EXPECT_EQ(HVDPGenericIsWild(kUtf8, "\xC3?"), 0);
}

// Patterns that a naive backtracking matcher needs exponential time for.
TEST_F(Wildcard, HostilePatternsStayFast) {
  const std::string as(200, 'a');
  std::string thirty;
  for (int i = 0; i < 30; ++i) thirty += "*a";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"a*a*a*a*a*a*a*a*b", as},
      {thirty + "b", as},
      {std::string(30, '*') + "b", as},
      {"*?*?*?*?*?*?*?*?*?*?b", as},
      {"\xAA" "a\xAA" "a\xAA" "a\xAA" "a\xAA" "a\xAA" "a\xAA" "ab", as},
      {thirty + ".b", as + "." + as},
  };
  for (const auto& [pattern, name] : cases) {
    const auto start = std::chrono::steady_clock::now();
    for (uint32_t ns : {kLocale, kUtf8, kWide}) {
      EXPECT_EQ(Match(ns, pattern, name), -1);
      EXPECT_EQ(Match(ns, pattern, name, 1), -1);
      EXPECT_EQ(Generic(ns, pattern, name), 0);
    }
    EXPECT_EQ(Wild(pattern, name), 0);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    // Generous: sanitizer builds and busy machines. The benchmark reports
    // the real figure.
    EXPECT_LT(elapsed, std::chrono::milliseconds(200)) << pattern;
  }
  EXPECT_EQ(Wild(thirty, as), 1);
  EXPECT_EQ(Match(kLocale, thirty, as), 0);
}

// Names longer than a 16-bit offset match by the same rules and are never
// read past their terminator (the blocks are exactly their size).
TEST_F(Wildcard, LongNamesMatchWithoutOverreading) {
  const std::string big(40000, 'a');
  EXPECT_EQ(Wild("*", big), 1);
  EXPECT_EQ(Wild("*b", big + "b"), 1);
  EXPECT_EQ(Wild("*b", big), 0);
  EXPECT_EQ(Wild("\xAA", big + ".x"), 0);
  EXPECT_EQ(Wild("a*a*a*c", big), 0);
  EXPECT_EQ(Wild("?*", big), 1);
  for (uint32_t ns : {kLocale, kUtf8, kWide}) {
    EXPECT_EQ(Generic(ns, "*", big), 1) << ns;
    EXPECT_EQ(Generic(ns, "*.x", big + ".x"), 1) << ns;
    EXPECT_EQ(Generic(ns, "\xAA.x", big + ".x"), 1) << ns;
    EXPECT_EQ(Generic(ns, "*a*c", big), 0) << ns;
    EXPECT_EQ(Match(ns, "*.x", big + ".x"), 0) << ns;
    EXPECT_EQ(Match(ns, "*a*a*c", big), -1) << ns;
    EXPECT_EQ(Match(ns, big.substr(1), big), 2) << ns;
    EXPECT_EQ(HVDPGenericIsWild(ns, Text(big, ns).get()), 0) << ns;
  }
}

// ---------------------------------------------------------------------------
// Reference matchers: the rules transcribed step by step, recursion and all,
// with the character layer's own functions. Exponential, so only for short
// strings.

using Bytes = const unsigned char*;

Bytes Next(uint32_t ns, Bytes p) { return static_cast<Bytes>(DPnextChar(ns, p)); }
bool AtEnd(uint32_t ns, Bytes p) { return DPcheckChar(ns, p, GenericChar(ns, 0)) != 0; }

int RefMatchName(uint32_t ns, Bytes p, Bytes n, bool partial) {
  const void* star = GenericChar(ns, '*');
  const void* dot = GenericChar(ns, '.');
  while (!AtEnd(ns, p) && !AtEnd(ns, n)) {
    if (DPcheckChar(ns, n, p)) {
      p = Next(ns, p);
      n = Next(ns, n);
    } else if (DPcheckChar(ns, p, star)) {
      p = Next(ns, p);
      while (DPisWild(ns, p)) p = Next(ns, p);
      if (AtEnd(ns, p)) return 0;
      for (;;) {
        if (DPcheckChar(ns, n, p)) {
          const int r = RefMatchName(ns, p, n, partial);
          if (r == 0) return 0;
          if (partial && r == 2) return 2;
        } else if (DPcheckChar(ns, n, dot)) {
          return -1;
        }
        n = Next(ns, n);
        if (AtEnd(ns, n)) return -1;
      }
    } else if (DPisQuestion(ns, p)) {
      p = Next(ns, p);
      n = Next(ns, n);
      while (DPisQuestion(ns, p) && !AtEnd(ns, n)) {
        p = Next(ns, p);
        n = Next(ns, n);
      }
    } else {
      return -1;
    }
  }
  while (DPcheckChar(ns, p, star)) p = Next(ns, p);
  if (AtEnd(ns, p) && AtEnd(ns, n)) return 0;
  return AtEnd(ns, n) ? 1 : 2;
}

// The byte-level rules, over bytes stepped by HVNextChar or over wide units.
template <bool kWideUnits>
int RefWild(Bytes p, Bytes n) {
  constexpr size_t U = kWideUnits ? 4 : 1;
  auto unit = [](Bytes s) -> uint32_t {
    if (!kWideUnits) return *s;
    uint32_t u;
    std::memcpy(&u, s, 4);
    return u;
  };
  auto next = [](Bytes s) -> Bytes {
    return kWideUnits ? s + 4 : reinterpret_cast<Bytes>(HVNextChar(reinterpret_cast<const char*>(s)));
  };
  for (;;) {
    const uint32_t c = unit(p), a = unit(n), c7 = c & ~0x80u, a7 = a & ~0x80u;
    if (c7 == '*') {
      bool plain = false;
      while ((unit(p) & ~0x80u) == '*') {
        plain = plain || unit(p) == '*';
        p = next(p);
      }
      const uint32_t q = unit(p) & ~0x80u;
      long k = 0;
      if (a != 0 && (plain || a != '.')) {
        k = 1;
        while (unit(n + k * U) != 0 && (plain || unit(n + k * U) != '.')) ++k;
      }
      for (long i = k; i >= 0; --i) {
        if (q == '?' || q == '.' || (unit(n + i * U) & ~0x80u) == q) {
          if (RefWild<kWideUnits>(p, n + i * U)) return 1;
        }
      }
      return 0;
    }
    if (c7 == '?') {
      if (c == 0xBF && (a == 0 || a7 == '.')) {
        p = next(p);
        continue;
      }
      if (a == 0) return 0;
    } else if (c == 0xAE && a == 0) {
      p = next(p);
      continue;
    } else {
      if (c7 != a7) return 0;
      if (c == 0 && a == 0) return 1;
      if (c == 0 || a == 0) return 0;
    }
    p = next(p);
    n = next(n);
  }
}

// The name-space front, with its cells: each character copied with
// DPsetChar, bit 7 of the first byte cleared, compared with DPcheckChar.
int RefGeneric(uint32_t ns, Bytes p, Bytes n) {
  const bool wide = HVDPIsNameSpaceUnicode(ns) != 0;
  const size_t U = DPsizeOfChar(ns);
  const void* star = GenericChar(ns, '*');
  const void* question = GenericChar(ns, '?');
  const void* dot = GenericChar(ns, '.');
  auto cell = [&](Bytes s, unsigned char (&out)[16]) {
    std::memset(out, 0, sizeof out);
    DPsetChar(ns, out, s);
    out[0] &= 0x7F;
  };
  auto raw = [&](Bytes s) -> uint32_t {
    if (!wide) return *s;
    uint32_t u;
    std::memcpy(&u, s, 4);
    return u;
  };
  unsigned char pc[16], nc[16];
  for (;;) {
    cell(p, pc);
    cell(n, nc);
    const uint32_t c = raw(p);
    const bool p_end = AtEnd(ns, p), n_end = AtEnd(ns, n);
    if (DPcheckChar(ns, pc, star)) break;
    if (DPcheckChar(ns, pc, question)) {
      if (c != 0xBF && n_end) return 0;
      if (n_end || DPcheckChar(ns, nc, dot)) {
        p = Next(ns, p);
        continue;
      }
    } else if (c == 0xAE && n_end) {
      p = Next(ns, p);
      continue;
    } else {
      if (!DPcheckChar(ns, nc, pc)) return 0;
      if (p_end || n_end) return p_end && n_end ? 1 : 0;
    }
    p = Next(ns, p);
    n = Next(ns, n);
  }
  bool plain = raw(p) == '*';
  p = Next(ns, p);
  while (DPcheckChar(ns, p, star)) {
    plain = true;
    p = Next(ns, p);
  }
  unsigned char qc[16];
  cell(p, qc);
  long k = 0;
  if (!AtEnd(ns, n) && (plain || !DPcheckChar(ns, n, dot))) {
    k = 1;
    while (!AtEnd(ns, n + k * U) && (plain || !DPcheckChar(ns, n + k * U, dot))) ++k;
  }
  for (long i = k; i >= 0; --i) {
    cell(n + i * U, nc);
    if (DPcheckChar(ns, qc, question) || DPcheckChar(ns, qc, dot) || DPcheckChar(ns, nc, qc)) {
      const int r = wide ? RefWild<true>(p, n + i * U) : RefWild<false>(p, n + i * U);
      if (r) return 1;
    }
  }
  return 0;
}

// Random strings from small alphabets: letters, the dot, both plain and
// enhanced wildcards, a byte 80, letters with bit 7 set, and multibyte
// characters of the encoding.
struct Alphabet {
  std::vector<std::vector<uint32_t>> tokens;  // units of one token
};

std::vector<uint32_t> RandomUnits(std::mt19937& rng, const Alphabet& a, size_t max_tokens) {
  std::vector<uint32_t> out;
  const size_t n = rng() % (max_tokens + 1);
  for (size_t i = 0; i < n; ++i) {
    const auto& t = a.tokens[rng() % a.tokens.size()];
    out.insert(out.end(), t.begin(), t.end());
  }
  return out;
}

Text MakeText(const std::vector<uint32_t>& units, uint32_t ns) {
  if (HVDPIsNameSpaceUnicode(ns)) return Text::Wide(units);
  return Text(std::string(units.begin(), units.end()), ns);
}

void Differential(uint32_t ns, const Alphabet& alphabet, size_t max_tokens, int rounds, unsigned seed) {
  std::mt19937 rng(seed);
  const bool wide = HVDPIsNameSpaceUnicode(ns) != 0;
  for (int i = 0; i < rounds; ++i) {
    const auto pu = RandomUnits(rng, alphabet, max_tokens);
    const auto nu = RandomUnits(rng, alphabet, max_tokens);
    const Text p = MakeText(pu, ns), n = MakeText(nu, ns);
    const auto pb = static_cast<Bytes>(p.get()), nb = static_cast<Bytes>(n.get());
    std::string shown;
    for (uint32_t u : pu) shown += std::to_string(u) + " ";
    shown += "/ ";
    for (uint32_t u : nu) shown += std::to_string(u) + " ";
    for (int16_t partial : {0, 1}) {
      ASSERT_EQ(matchNameEnabled(ns, pb, nb, partial), RefMatchName(ns, pb, nb, partial))
          << "matchNameEnabled " << ns << " partial " << partial << ": " << shown;
    }
    ASSERT_EQ(HVDPGenericWildMatch(ns, pb, nb), RefGeneric(ns, pb, nb)) << "generic " << ns << ": " << shown;
    if (!wide && !HVDPIsNameSpaceUtf8(ns)) {
      ASSERT_EQ(HVDPWildMatch(p.c(), n.c()), RefWild<false>(pb, nb)) << "wild: " << shown;
    }
  }
}

const std::vector<std::vector<uint32_t>> kCommon = {
    {'a'}, {'b'}, {'.'}, {'*'}, {'?'}, {0xAA}, {0xBF}, {0xAE}, {'a'}, {'*'}, {'.'}};

TEST_F(Wildcard, AgreesWithReferenceInSingleByteCodeSet) {
  Alphabet a{kCommon};
  a.tokens.insert(a.tokens.end(), {{0x80}, {0xE1}, {'A'}, {0xAA}});
  Differential(kLocale, a, 8, 30000, 1);
  Differential(4, a, 8, 3000, 2);
  Differential(kLocale, Alphabet{{{'a'}, {'*'}, {'.'}, {0xAA}, {'b'}}}, 16, 3000, 3);
}

TEST_F(Wildcard, AgreesWithReferenceInEucJp) {
  Use("ja_JP.EUC-JP", "EUC-JP");
  Alphabet a{kCommon};
  a.tokens.insert(a.tokens.end(), {{0xA4, 0xA2}, {0xA4, 0xAA}, {0xA4}, {0x8E, 0xAE}, {0xA4, 0xA2}});
  Differential(kLocale, a, 8, 20000, 4);
}

TEST_F(Wildcard, AgreesWithReferenceInUtf8) {
  Use("en_US.UTF-8", "UTF-8");
  Alphabet a{kCommon};
  a.tokens.insert(a.tokens.end(), {{0xC3, 0xA9}, {0xC3, 0xAA}, {0xC3, 0x2E}, {0xC3}, {0x80}, {0xE2, 0x82, 0xAC}});
  Differential(kUtf8, a, 8, 20000, 5);
  Differential(kLocale, a, 8, 20000, 6);  // UTF-8 as the server code set
  Differential(kUtf8, Alphabet{{{'a'}, {'*'}, {'.'}, {0xAA}, {0xC3, 0xA9}}}, 16, 3000, 7);
}

TEST_F(Wildcard, AgreesWithReferenceInWideNameSpaces) {
  Alphabet a{kCommon};
  a.tokens.insert(a.tokens.end(), {{0xE1}, {0x1AA}, {0x12A}, {0x4E2D}, {0x80}, {0x1BF}, {0x1AE}});
  Differential(kWide, a, 8, 30000, 8);
  Differential(kWide, Alphabet{{{'a'}, {'*'}, {'.'}, {0xAA}, {'b'}}}, 16, 3000, 9);
}

}  // namespace
