// Wildcard matching: the worked results of both matcher families in all
// three encodings, the enhanced wildcard bytes, the wildcard tests, the
// patterns that would take exponential time if tried naively, names longer
// than a 16-bit offset, and the fast matchers against plain recursive
// transcriptions of their rules over many random patterns and names.
#include <gtest/gtest.h>

#include <chrono>
#include <clocale>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "dpxut.h"

namespace {

constexpr uint32_t kLocale = 0, kUtf8 = 0x100, kWide = 0x200;

using Units = std::vector<uint32_t>;
using Block = std::vector<unsigned char>;

// A terminated string in a heap block of exactly its size, so that the
// sanitizer build sees any read past its terminator: one byte per unit, or
// a 4-byte wide character per unit in the wide name spaces.
Block text(const Units& units, uint32_t ns) {
  const size_t size = HVDPIsNameSpaceUnicode(ns) ? 4 : 1;
  Block out((units.size() + 1) * size, 0);
  for (size_t i = 0; i < units.size(); ++i) std::memcpy(&out[i * size], &units[i], size);
  return out;
}
// Each byte stands for the character of the same value.
Block text(const std::string& bytes, uint32_t ns) {
  Units units;
  for (unsigned char b : bytes) units.push_back(b);
  return text(units, ns);
}

int32_t Match(uint32_t ns, const std::string& pattern, const std::string& name, int16_t partial = 0) {
  return HVDPMatchName(ns, text(pattern, ns).data(), text(name, ns).data(), partial);
}
int32_t Generic(uint32_t ns, const std::string& pattern, const std::string& name) {
  return HVDPGenericWildMatch(ns, text(pattern, ns).data(), text(name, ns).data());
}
int32_t Wild(const std::string& pattern, const std::string& name) {
  return HVDPWildMatch(reinterpret_cast<const char*>(text(pattern, 0).data()),
                       reinterpret_cast<const char*>(text(name, 0).data()));
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

// Further combinations of stars, dots and question marks are covered by the
// comparison with the reference matchers below.
TEST_F(Wildcard, MatchNameGivesFourWayResultsInEveryEncoding) {
  const struct { const char *pattern, *name; int16_t partial; int32_t result; } cases[] = {
      {"*", "a.b", 0, 0},    {"*.txt", "a.b.txt", 0, 0}, {"*b", "a.b", 0, -1},  {"*x", "a.x", 0, -1},
      {"ab", "abc", 0, 2},   {"abc", "ab", 0, 1},        {"a??", "ab", 0, 1},   {"*b", "abc", 0, -1},
      {"*b", "abc", 1, 2},   {"*?b", "b", 0, 0},         {"a*?", "a", 0, 1},    {"*a", "*b", 0, -1},
      {"*.*", "abc", 0, -1}, {"*.*", "a.b", 0, 0},       {"?", ".", 0, 0},      {"ABC", "abc", 0, -1},
      {"*ab", "abab", 1, 2},  // partial stops at the first try that ran out of pattern
  };
  for (uint32_t ns : {kLocale, kUtf8, kWide, 1u, 0x202u})
    for (const auto& c : cases) {
      EXPECT_EQ(Match(ns, c.pattern, c.name, c.partial), c.result) << ns << " " << c.pattern << " " << c.name;
      EXPECT_EQ(matchNameEnabled(ns, text(c.pattern, ns).data(), text(c.name, ns).data(), c.partial), c.result);
    }
}

TEST_F(Wildcard, MatchNameIgnoresCaseInNameSpace4Only) {
  for (uint32_t ns : {4u, 0x104u, 0x204u}) {
    EXPECT_EQ(Match(ns, "ABC", "abc"), 0) << ns;
    EXPECT_EQ(Match(ns, "a*Z", "ABz"), 0) << ns;
    EXPECT_EQ(Match(ns, "ab", "ABC"), 2) << ns;
    EXPECT_EQ(matchNameEnabled(ns, text("ABC", ns).data(), text("abc", ns).data(), 0), -1);
    EXPECT_EQ(matchIName(ns, text("ABC", ns).data(), text("abc", ns).data(), 0), 0);
  }
  for (uint32_t ns : {0u, 1u, 2u, 3u, 5u, 0x100u, 0x201u, 0x203u}) EXPECT_EQ(Match(ns, "ABC", "abc"), -1) << ns;
  // Upper-casing follows the locale: a-acute is E1 in ISO-8859-1.
  EXPECT_EQ(Match(4, "\xE1*", "\xC1" "bc"), 0);
  EXPECT_EQ(Match(0x204, "\xE1*", "\xC1"), 0);
}

TEST_F(Wildcard, RefusesNullQuietly) {
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
  EXPECT_EQ(Match(kUtf8, "\xC3", "\xC3\xA9"), -1);  // a lead byte cut by the NUL
  Use("ja_JP.EUC-JP", "EUC-JP");
  EXPECT_EQ(Match(kLocale, "a?b", "a\xA4\xA2" "b"), 0);
}

// Both byte-level matchers; they differ up to the first star, after which
// the name-space front hands over to the byte-level rules.
TEST_F(Wildcard, WildMatchKnowsTheEnhancedBytes) {
  const struct { const char *pattern, *name; int32_t wild, generic; } cases[] = {
      {"*", "a.b", 1, 1},           // a plain star passes dots
      {"\xAA", "a.b", 0, 0},        // AA: a star that stops at a dot
      {"\xAA", "ab", 1, 1},         {"\xAA.b", "a.b", 1, 1},
      {"a?", "a", 0, 0},            // ? needs a character
      {"a\xBF", "a", 1, 1},         // BF: also nothing at the end
      {"a\xBF.b", "a.b", 1, 1},     // BF: nothing before a dot
      {"a\xAE", "a", 1, 1},         // AE: the end of the name
      {"a\xAE", "a.", 1, 1},        // AE: a dot
      {"A", "a", 0, 0},             // case counts
      {"\xC1", "A", 1, 1},          // only seven bits are compared
      {"abc", "abc\x80", 0, 0},     // a byte 80 is a character, not the end
      {"abc\x80", "abc", 0, 0},
      {"a?.b", "a.b", 0, 1},        // before the star the front's ? consumes no dot
      {"a?b", "a.b", 1, 0},
      {"*x?b", "x.b", 1, 1},        // after it, it does
      {"*\xAA", "abc", 1, 0},       // AA does not continue the front's first run of plain stars
      {"\xAA*", "a.b", 1, 1},       // a plain * after AA does continue it
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Wild(c.pattern, c.name), c.wild) << c.pattern << " " << c.name;
    EXPECT_EQ(Generic(kLocale, c.pattern, c.name), c.generic) << "generic: " << c.pattern << " " << c.name;
  }
  EXPECT_EQ(Generic(kUtf8, "?", "\xC3\xA9"), 1);          // one UTF-8 character before the star
  EXPECT_EQ(Generic(kUtf8, "\xC3\xA9", "\xC3\xA8"), 1);  // only the first byte, seven bits
  // Wide characters are whole units: E1 without bit 7 is a, 1E1 is not.
  EXPECT_EQ(HVDPGenericWildMatch(kWide, text(Units{'a', 0xE1}, kWide).data(), text("aa", kWide).data()), 1);
  EXPECT_EQ(HVDPGenericWildMatch(kWide, text(Units{'a', 0x1E1}, kWide).data(), text("aa", kWide).data()), 0);
  EXPECT_EQ(HVDPGenericWildMatch(kWide, text(Units{0x12A}, kWide).data(), text("x", kWide).data()), 0);
}

TEST_F(Wildcard, IsWildSeesPlainWildcardsOnly) {
  for (const auto& [s, wild] : {std::pair<const char*, int32_t>{"abc", 0}, {"", 0}, {"a?c", 1}, {"ab*", 1},
                                {"\xAA", 0}, {"a\xBF\xAE", 0}}) {
    EXPECT_EQ(HVDPIsWild(s), wild) << s;
    for (uint32_t ns : {kLocale, kUtf8, kWide}) EXPECT_EQ(HVDPGenericIsWild(ns, text(s, ns).data()), wild) << s;
  }
  EXPECT_EQ(HVDPGenericIsWild(kWide, text(Units{0x12A, 0x13F}, kWide).data()), 0);
  EXPECT_EQ(HVDPGenericIsWild(kUtf8, "\xC3?"), 0);  // a UTF-8 lead byte swallows the ?
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
    // Generous: sanitizer builds and busy machines. The benchmark reports
    // the real figure.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200)) << pattern;
  }
  EXPECT_EQ(Wild(thirty, as), 1);
  EXPECT_EQ(Match(kLocale, thirty, as), 0);
}

// Names longer than a 16-bit offset match by the same rules and are never
// read past their terminator (the blocks are exactly their size).
TEST_F(Wildcard, LongNamesMatchWithoutOverreading) {
  const std::string big(40000, 'a');
  EXPECT_EQ(Wild("*b", big + "b"), 1);
  EXPECT_EQ(Wild("\xAA", big + ".x"), 0);
  EXPECT_EQ(Wild("a*a*a*c", big), 0);
  for (uint32_t ns : {kLocale, kUtf8, kWide}) {
    EXPECT_EQ(Generic(ns, "*.x", big + ".x"), 1) << ns;
    EXPECT_EQ(Generic(ns, "\xAA.x", big + ".x"), 1) << ns;
    EXPECT_EQ(Generic(ns, "*a*c", big), 0) << ns;
    EXPECT_EQ(Match(ns, "*.x", big + ".x"), 0) << ns;
    EXPECT_EQ(Match(ns, "*a*a*c", big), -1) << ns;
    EXPECT_EQ(Match(ns, big.substr(1), big), 2) << ns;
    EXPECT_EQ(HVDPGenericIsWild(ns, text(big, ns).data()), 0) << ns;
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

// Random strings from small alphabets of tokens (the units of one token
// together): letters, the dot, both plain and enhanced wildcards, a byte
// 80, letters with bit 7 set, and multibyte characters of the encoding.
using Alphabet = std::vector<Units>;

Units RandomUnits(std::mt19937& rng, const Alphabet& a, size_t max_tokens) {
  Units out;
  for (size_t n = rng() % (max_tokens + 1); n > 0; --n) {
    const auto& t = a[rng() % a.size()];
    out.insert(out.end(), t.begin(), t.end());
  }
  return out;
}

void Differential(uint32_t ns, const Alphabet& alphabet, size_t max_tokens, int rounds, unsigned seed) {
  std::mt19937 rng(seed);
  const bool bytes = !HVDPIsNameSpaceUnicode(ns) && !HVDPIsNameSpaceUtf8(ns);
  for (int i = 0; i < rounds; ++i) {
    const Units pu = RandomUnits(rng, alphabet, max_tokens), nu = RandomUnits(rng, alphabet, max_tokens);
    const Block p = text(pu, ns), n = text(nu, ns);
    std::string shown;
    for (uint32_t u : pu) shown += std::to_string(u) + " ";
    shown += "/ ";
    for (uint32_t u : nu) shown += std::to_string(u) + " ";
    for (int16_t partial : {0, 1})
      ASSERT_EQ(matchNameEnabled(ns, p.data(), n.data(), partial), RefMatchName(ns, p.data(), n.data(), partial))
          << "matchNameEnabled " << ns << " partial " << partial << ": " << shown;
    ASSERT_EQ(HVDPGenericWildMatch(ns, p.data(), n.data()), RefGeneric(ns, p.data(), n.data()))
        << "generic " << ns << ": " << shown;
    if (bytes) {
      ASSERT_EQ(HVDPWildMatch(reinterpret_cast<const char*>(p.data()), reinterpret_cast<const char*>(n.data())),
                RefWild<false>(p.data(), n.data()))
          << "wild: " << shown;
    }
  }
}

Alphabet Common(const Alphabet& more) {
  Alphabet a = {{'a'}, {'b'}, {'.'}, {'*'}, {'?'}, {0xAA}, {0xBF}, {0xAE}, {'a'}, {'*'}, {'.'}};
  a.insert(a.end(), more.begin(), more.end());
  return a;
}

TEST_F(Wildcard, AgreesWithReferenceInSingleByteCodeSet) {
  const Alphabet a = Common({{0x80}, {0xE1}, {'A'}, {0xAA}});
  Differential(kLocale, a, 8, 30000, 1);
  Differential(4, a, 8, 3000, 2);
  Differential(kLocale, {{'a'}, {'*'}, {'.'}, {0xAA}, {'b'}}, 16, 3000, 3);
}

TEST_F(Wildcard, AgreesWithReferenceInEucJp) {
  Use("ja_JP.EUC-JP", "EUC-JP");
  Differential(kLocale, Common({{0xA4, 0xA2}, {0xA4, 0xAA}, {0xA4}, {0x8E, 0xAE}, {0xA4, 0xA2}}), 8, 20000, 4);
}

TEST_F(Wildcard, AgreesWithReferenceInUtf8) {
  Use("en_US.UTF-8", "UTF-8");
  const Alphabet a = Common({{0xC3, 0xA9}, {0xC3, 0xAA}, {0xC3, 0x2E}, {0xC3}, {0x80}, {0xE2, 0x82, 0xAC}});
  Differential(kUtf8, a, 8, 20000, 5);
  Differential(kLocale, a, 8, 20000, 6);  // UTF-8 as the server code set
  Differential(kUtf8, {{'a'}, {'*'}, {'.'}, {0xAA}, {0xC3, 0xA9}}, 16, 3000, 7);
}

TEST_F(Wildcard, AgreesWithReferenceInWideNameSpaces) {
  Differential(kWide, Common({{0xE1}, {0x1AA}, {0x12A}, {0x4E2D}, {0x80}, {0x1BF}, {0x1AE}}), 8, 30000, 8);
  Differential(kWide, {{'a'}, {'*'}, {'.'}, {0xAA}, {'b'}}, 16, 3000, 9);
}

}  // namespace
