// Wildcard matching: case folding by name space, the matchers against
// plain recursive transcriptions of their rules over many random patterns
// and names, in every encoding, and their quick paths against their full
// search on long names. Hostile patterns, the wildcard tests and the
// agreement of the encodings on ASCII text are the fuzz target's part.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "charset/charset_test_util.h"
#include "dpxut.h"
#include "paths/match_support.h"
#include "support/bytes.h"

namespace {

using Units = std::u32string;
using Block = std::vector<unsigned char>;
using Bytes = const unsigned char*;

// A terminated string in a heap block of exactly its size: one byte per
// unit, or a 4-byte wide character per unit in the wide name spaces.
Block text(const Units& units, uint32_t ns) {
  const size_t size = HVDPIsNameSpaceUnicode(ns) ? 4 : 1;
  Block out((units.size() + 1) * size, 0);
  for (size_t i = 0; i < units.size(); ++i) std::memcpy(&out[i * size], &units[i], size);
  return out;
}

TEST(Wildcard, MatchNameIgnoresCaseInNameSpace4Only) {
  dpxut::test::use_locale("en_US.ISO-8859-1");
  for (uint32_t ns : {4u, 0x104u, 0x204u, 0u, 0x100u, 0x200u, 3u, 5u, 0x201u})
    EXPECT_EQ(HVDPMatchName(ns, text(U"a*Z", ns).data(), text(U"ABz", ns).data(), 0), (ns & 0xFF) == 4 ? 0 : -1) << ns;
  // Latin-1 letters fold in the locale; a name longer than the copies kept on the stack.
  EXPECT_EQ(HVDPMatchName(4, "\xE1*.TXT", "\xC1" "b.txt", 0), 0);
  EXPECT_EQ(HVDPMatchName(4, "*A?", (std::string(600, 'a') + "B").c_str(), 0), 0);
  EXPECT_EQ(HVDPMatchName(4, (std::string(600, 'A') + "*").c_str(), std::string(600, 'a').c_str(), 1), 0);
  // Where towupper takes an ASCII letter out of ASCII (Turkish i to U+0130),
  // wide and UTF-8 names fold as towupper does, also after another locale.
  for (const char* locale : {"en_US.UTF-8", "tr_TR.UTF-8", "en_US.UTF-8"}) {
    dpxut::test::use_locale(locale);
    const bool turkish = locale[0] == 't';
    EXPECT_EQ(HVDPMatchName(0x204, L"\u0130X*", L"ixy", 0), turkish ? 0 : -1) << locale;
    EXPECT_EQ(HVDPMatchName(0x204, L"IX*", L"ixy", 0), turkish ? -1 : 0) << locale;
    EXPECT_EQ(HVDPMatchName(0x104, "IX*", "ixy", 0), turkish ? -1 : 0) << locale;
  }
}

// A star stops at a dot in the name unless the pattern goes on with a dot,
// in every name space; a ? after a star may consume the dot the star may not pass.
TEST(Wildcard, StarsStopAtDots) {
  dpxut::test::use_locale("en_US.UTF-8");
  const std::tuple<const char32_t*, const char32_t*, int32_t> rows[] = {
      {U"a*a*a*b", U"aaaa.b", -1},    // the last star cannot reach the b
      {U"*b", U"a.b", -1},
      {U"*a?*b", U"aa.xb", 0},        // the first try stops, the second passes the dot
      {U"*.*b", U"a.b.c.b", 0},       // a star before a dot tries every dot
      {U"*a*b", U"xa.b", -1},
      {U"*A.*B", U"xa.yb", 0},        // only where case is ignored
  };
  for (size_t row = 0; row < std::size(rows); ++row) {
    const auto& [pattern, name, result] = rows[row];
    for (uint32_t ns : {0u, 0x100u, 0x200u, 4u, 0x104u, 0x204u})
      EXPECT_EQ(HVDPMatchName(ns, text(pattern, ns).data(), text(name, ns).data(), 0),
                pattern[1] == U'A' && (ns & 0xFF) != 4 ? -1 : result)
          << "row " << row << ", name space " << ns;
  }
}

// matchIName as the rules define it: matchNameEnabled on copies that
// DPstrupr upper-cased.
int MatchUpperCopies(uint32_t ns, Block pattern, Block name, int16_t partial) {
  DPstrupr(ns, pattern.data());
  DPstrupr(ns, name.data());
  return matchNameEnabled(ns, pattern.data(), name.data(), partial);
}

// Reference matchers: the rules transcribed step by step, recursion and all,
// with the character layer's own functions. Exponential, so only for short
// strings.

Bytes Next(uint32_t ns, Bytes p) { return static_cast<Bytes>(DPnextChar(ns, p)); }
bool Is(uint32_t ns, Bytes p, int c) { return DPcheckChar(ns, p, GenericChar(ns, c)) != 0; }

int RefMatchName(uint32_t ns, Bytes p, Bytes n, bool partial) {
  while (!Is(ns, p, 0) && !Is(ns, n, 0)) {
    if (DPcheckChar(ns, n, p)) {
      p = Next(ns, p), n = Next(ns, n);
    } else if (Is(ns, p, '*')) {
      do p = Next(ns, p);
      while (DPisWild(ns, p));
      if (Is(ns, p, 0)) return 0;
      for (; !Is(ns, n, 0); n = Next(ns, n)) {
        if (DPcheckChar(ns, n, p)) {
          const int r = RefMatchName(ns, p, n, partial);
          if (r == 0 || (partial && r == 2)) return r;
        } else if (Is(ns, n, '.')) {
          return -1;
        }
      }
      return -1;
    } else if (DPisQuestion(ns, p)) {
      do p = Next(ns, p), n = Next(ns, n);
      while (DPisQuestion(ns, p) && !Is(ns, n, 0));
    } else {
      return -1;
    }
  }
  while (Is(ns, p, '*')) p = Next(ns, p);
  return !Is(ns, n, 0) ? 2 : Is(ns, p, 0) ? 0 : 1;
}

// The byte-level rules (front false: the first unit of each character
// without bit 7, bytes stepped by HVNextChar, or wide units) and the
// name-space front (front true: whole characters of ns with bit 7 of their
// first byte cleared), which hands the rest of the pattern to the
// byte-level rules at its first star.
struct RefWild {
  uint32_t ns;
  bool wide;
  uint32_t unit(Bytes s) const {
    uint32_t u = *s;
    return wide ? (std::memcpy(&u, s, 4), u) : u;
  }
  std::array<unsigned char, 16> cell(Bytes s) const {
    std::array<unsigned char, 16> c{};
    DPsetChar(ns, c.data(), s);
    c[0] &= 0x7F;
    return c;
  }
  bool same(Bytes n, Bytes p, bool front) const {
    return front ? DPcheckChar(ns, cell(n).data(), cell(p).data()) != 0 : ((unit(n) ^ unit(p)) & ~0x80u) == 0;
  }
  bool is(Bytes s, int c, bool front) const { return same(s, static_cast<Bytes>(GenericChar(ns, c)), front); }
  Bytes next(Bytes s, bool front) const {
    return front ? Next(ns, s) : wide ? s + 4 : reinterpret_cast<Bytes>(HVNextChar(reinterpret_cast<const char*>(s)));
  }
  int match(Bytes p, Bytes n, bool front) const {
    for (;;) {
      const uint32_t c = unit(p), a = unit(n);
      const bool q = is(p, '?', front);
      if (is(p, '*', front)) break;
      if (q && a == 0 && c != 0xBF) return 0;
      if (q ? a == 0 || (is(n, '.', front) && (front || c == 0xBF)) : c == 0xAE && a == 0) {  // consumes nothing
        p = next(p, front);
        continue;
      }
      if (!q && (!same(n, p, front) || c == 0 || a == 0)) return same(n, p, front) && c == 0 && a == 0;
      p = next(p, front);
      n = next(n, front);
    }
    bool plain = false;  // the run holds a plain *, which passes dots
    do {
      plain |= unit(p) == '*';
      p = next(p, front);
    } while (front ? unit(p) == '*' : is(p, '*', false));
    const size_t u = wide ? 4 : 1;
    size_t k = 0;  // the farthest name position the star reaches
    if (unit(n) != 0 && (plain || unit(n) != '.'))
      for (k = 1; unit(n + k * u) != 0 && (plain || unit(n + k * u) != '.');) ++k;
    for (size_t i = 0; i <= k; ++i)
      if ((is(p, '?', front) || is(p, '.', front) || same(n + i * u, p, front)) && match(p, n + i * u, false)) return 1;
    return 0;
  }
};

// Random patterns and names from small alphabets of tokens (the units of
// one token together): letters, the dot, both plain and enhanced wildcards,
// a byte 80, letters with bit 7 set, and multibyte characters of the
// encoding. Short strings take the common tokens and the row's; long ones
// the row's alone.
TEST(Wildcard, AgreesWithReferenceMatchers) {
  const std::vector<Units> common = {U"a", U"b", U".", U"*", U"?", U"\xAA", U"\xBF", U"\xAE", U"a", U"*", U"."};
  const std::vector<Units> latin1 = {U"\x80", U"\xE1", U"A", U"\xAA"}, few = {U"a", U"*", U".", U"\xAA", U"b"},
                           utf8 = {U"\xC3\xA9", U"\xC3\xAA", U"\xC3.", U"\xC3", U"\x80", U"\xE2\x82\xAC"};
  // The locale, the name space, the tokens, the longest string in tokens and the number of rounds.
  const std::tuple<const char*, uint32_t, std::vector<Units>, size_t, int> cases[] = {
      {"en_US.ISO-8859-1", 0, latin1, 8, 30000},
      {"en_US.ISO-8859-1", 4, latin1, 8, 3000},
      {"en_US.ISO-8859-1", 0, few, 16, 3000},
      {"en_US.ISO-8859-1", 0x200, {U"\xE1", U"\x1AA", U"\x12A", U"\x4E2D", U"\x80", U"\x1BF", U"\x1AE"}, 8, 30000},
      {"en_US.ISO-8859-1", 0x200, few, 16, 3000},
      {"ja_JP.EUC-JP", 0, {U"\xA4\xA2", U"\xA4\xAA", U"\xA4", U"\x8E\xAE", U"\xA4\xA2"}, 8, 20000},
      {"en_US.UTF-8", 0x100, utf8, 8, 20000},
      {"en_US.UTF-8", 0, utf8, 8, 20000},  // UTF-8 as the server code set
      {"en_US.UTF-8", 0x100, {U"a", U"*", U".", U"\xAA", U"\xC3\xA9"}, 16, 3000},
  };
  std::mt19937 rng(1);
  for (const auto& [locale, ns, tokens, max_tokens, rounds] : cases) {
    dpxut::test::use_locale(locale);
    const RefWild front{ns, HVDPIsNameSpaceUnicode(ns) != 0}, bytes{ns, false};
    std::vector<Units> alphabet = max_tokens == 8 ? common : std::vector<Units>{};
    alphabet.insert(alphabet.end(), tokens.begin(), tokens.end());
    for (int round = 0; round < rounds; ++round) {
      Block s[2];  // pattern, name
      for (Block& b : s) {
        Units units;
        for (size_t n = rng() % (max_tokens + 1); n > 0; --n) units += alphabet[rng() % alphabet.size()];
        b = text(units, ns);
      }
      const Bytes p = s[0].data(), n = s[1].data();
      SCOPED_TRACE(::testing::Message() << "ns " << ns << " in " << locale << ": "
                                        << dpxut::test::to_hex(p, s[0].size()) << " / "
                                        << dpxut::test::to_hex(n, s[1].size()));
      for (int16_t partial : {0, 1}) {
        ASSERT_EQ(matchNameEnabled(ns, p, n, partial), RefMatchName(ns, p, n, partial)) << "partial " << partial;
        const uint32_t folding = (ns & ~0xFFu) | 4;  // the same encoding, ignoring case
        ASSERT_EQ(HVDPMatchName(folding, p, n, partial), MatchUpperCopies(folding, s[0], s[1], partial));
      }
      ASSERT_EQ(HVDPGenericWildMatch(ns, p, n), front.match(p, n, true)) << "generic";
      if (ns == 0 || ns == 4) {
        ASSERT_EQ(HVDPWildMatch(reinterpret_cast<const char*>(p), reinterpret_cast<const char*>(n)),
                  bytes.match(p, n, false));
      }
    }
  }
}

// The quick paths against the full search, on names too long for the
// reference matchers: a's with some b's, dots and a non-ASCII character
// (some names without the last, or the last two), against many stars.
TEST(Wildcard, QuickPathsAgreeWithFullSearch) {
  dpxut::test::use_locale("en_US.UTF-8");
  EXPECT_EQ(HVDPWildMatch("*?*,", "\xE2\x82\xAC"), 1);  // ? from the second byte ends before the one from the first
  std::mt19937 rng(2);
  for (int round = 0; round < 9000; ++round) {
    const uint32_t ns = round % 3 * 0x100;
    Units u[2];  // pattern, name
    for (size_t k = rng() % 30; k > 0; --k) u[0] += U"aa*?*.\xAA\xBF\xAE" U"b"[rng() % 10];
    for (size_t k = rng() % 200; k > 0; --k) u[1] += U"aaaaaaab.\xE9"[rng() % (10 - round / 3 % 3)];
    const Block s[2] = {text(u[0], ns), text(u[1], ns)};
    const auto *p = s[0].data(), *n = s[1].data();
    const auto *bp = reinterpret_cast<const char*>(p), *bn = reinterpret_cast<const char*>(n);
    SCOPED_TRACE(dpxut::test::to_hex(p, s[0].size()) + " / " + dpxut::test::to_hex(n, s[1].size()));
    for (int16_t partial : {0, 1})
      ASSERT_EQ(matchNameEnabled(ns, p, n, partial), dpxut::paths::match_name_fully(ns, p, n, partial));
    ASSERT_EQ(HVDPGenericWildMatch(ns, p, n), dpxut::paths::generic_wild_match_fully(ns, p, n)) << ns;
    if (ns == 0) {
      ASSERT_EQ(HVDPWildMatch(bp, bn), dpxut::paths::wild_match_fully(bp, bn));
    }
  }
}

}  // namespace
