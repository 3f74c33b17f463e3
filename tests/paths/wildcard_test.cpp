// Wildcard matching: case folding by name space, patterns that would take
// exponential time if tried naively, and the matchers against plain
// recursive transcriptions of their rules over many random patterns and
// names, in every encoding. The wildcard tests and the agreement of the
// encodings on ASCII text are the fuzz target's part.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "charset/charset_test_util.h"
#include "dpxut.h"
#include "support/bytes.h"

namespace {

constexpr uint32_t kLocale = 0, kUtf8 = 0x100, kWide = 0x200;

using Units = std::u32string;
using Block = std::vector<unsigned char>;
using Bytes = const unsigned char*;
using dpxut::test::to_hex;

// A terminated string in a heap block of exactly its size: one byte per
// unit, or a 4-byte wide character per unit in the wide name spaces.
Block text(const Units& units, uint32_t ns) {
  const size_t size = HVDPIsNameSpaceUnicode(ns) ? 4 : 1;
  Block out((units.size() + 1) * size, 0);
  for (size_t i = 0; i < units.size(); ++i) std::memcpy(&out[i * size], &units[i], size);
  return out;
}

int32_t Match(uint32_t ns, const Units& pattern, const Units& name, int16_t partial = 0) {
  return HVDPMatchName(ns, text(pattern, ns).data(), text(name, ns).data(), partial);
}

class Wildcard : public ::testing::Test {
 protected:
  void SetUp() override { dpxut::test::use_locale("en_US.ISO-8859-1"); }
};

TEST_F(Wildcard, MatchNameIgnoresCaseInNameSpace4Only) {
  for (uint32_t ns : {4u, 0x104u, 0x204u, 0u, 0x100u, 0x200u, 3u, 5u, 0x201u}) {
    const bool folds = (ns & 0xFF) == 4;
    EXPECT_EQ(Match(ns, U"a*Z", U"ABz"), folds ? 0 : -1) << ns;
    EXPECT_EQ(Match(ns, U"ab", U"ABC"), folds ? 2 : -1) << ns;
  }
}

// Patterns that a naive backtracking matcher needs exponential time for,
// against a name long enough that the memo and the remembered steps live on
// the heap.
TEST_F(Wildcard, HostilePatternsStayFast) {
  auto bytes = [](const Units& u) { return std::string(u.begin(), u.end()); };
  const Units as(300, 'a');
  Units stars, enhanced;
  for (int i = 0; i < 30; ++i) stars += U"*a", enhanced += U"\xAA" "a";
  for (const Units& pattern : {stars + U"b", enhanced + U"b", Units(U"*?*?*?*?*?*?*?*?*?*?b")}) {
    const auto start = std::chrono::steady_clock::now();
    for (uint32_t ns : {kLocale, kUtf8, kWide}) {
      EXPECT_EQ(Match(ns, pattern, as, 1), -1);
      EXPECT_EQ(HVDPGenericWildMatch(ns, text(pattern, ns).data(), text(as, ns).data()), 0);
    }
    EXPECT_EQ(HVDPWildMatch(bytes(pattern).c_str(), bytes(as).c_str()), 0);
    // Generous, for busy machines: the benchmark reports the real figure.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200)) << pattern.size();
  }
  EXPECT_EQ(HVDPWildMatch(bytes(stars).c_str(), bytes(as).c_str()), 1);
  EXPECT_EQ(Match(kLocale, stars, as), 0);
}

// ---------------------------------------------------------------------------
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
  uint32_t unit(Bytes s) const { uint32_t u = *s; return wide ? (std::memcpy(&u, s, 4), u) : u; }
  std::array<unsigned char, 16> cell(Bytes s) const {
    std::array<unsigned char, 16> c{};
    DPsetChar(ns, c.data(), s);
    c[0] &= 0x7F;
    return c;
  }
  bool same(Bytes n, Bytes p, bool front) const {
    return front ? DPcheckChar(ns, cell(n).data(), cell(p).data()) != 0 : ((unit(n) ^ unit(p)) & ~0x80u) == 0;
  }
  bool is(Bytes s, int c, bool front) const {
    return front ? DPcheckChar(ns, cell(s).data(), GenericChar(ns, c)) != 0 : (unit(s) & ~0x80u) == uint32_t(c);
  }
  Bytes next(Bytes s, bool front) const {
    if (front) return Next(ns, s);
    return wide ? s + 4 : reinterpret_cast<Bytes>(HVNextChar(reinterpret_cast<const char*>(s)));
  }
  int match(Bytes p, Bytes n, bool front) const {
    for (;;) {
      const uint32_t c = unit(p), a = unit(n);
      if (is(p, '*', front)) break;
      if (is(p, '?', front)) {
        if (a == 0 && c != 0xBF) return 0;
        if (a == 0 || (is(n, '.', front) && (front || c == 0xBF))) {  // consumes nothing
          p = next(p, front);
          continue;
        }
      } else if (c == 0xAE && a == 0) {
        p = next(p, front);
        continue;
      } else if (!same(n, p, front) || c == 0 || a == 0) {
        return same(n, p, front) && c == 0 && a == 0;
      }
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
      if ((is(p, '?', front) || is(p, '.', front) || same(n + i * u, p, front)) && match(p, n + i * u, false))
        return 1;
    return 0;
  }
};

// Random strings from small alphabets of tokens (the units of one token
// together): letters, the dot, both plain and enhanced wildcards, a byte
// 80, letters with bit 7 set, and multibyte characters of the encoding.
using Alphabet = std::vector<Units>;

void Differential(uint32_t ns, const Alphabet& alphabet, size_t max_tokens, int rounds, unsigned seed) {
  std::mt19937 rng(seed);
  const RefWild front{ns, HVDPIsNameSpaceUnicode(ns) != 0}, bytes{ns, false};
  const bool byte_ns = !HVDPIsNameSpaceUnicode(ns) && !HVDPIsNameSpaceUtf8(ns);
  for (int round = 0; round < rounds; ++round) {
    Block s[2];  // pattern, name
    for (Block& b : s) {
      Units units;
      for (size_t n = rng() % (max_tokens + 1); n > 0; --n) units += alphabet[rng() % alphabet.size()];
      b = text(units, ns);
    }
    const Bytes p = s[0].data(), n = s[1].data();
    auto shown = [&] { return to_hex(s[0].data(), s[0].size()) + " / " + to_hex(s[1].data(), s[1].size()); };
    for (int16_t partial : {0, 1})
      ASSERT_EQ(matchNameEnabled(ns, p, n, partial), RefMatchName(ns, p, n, partial))
          << "matchNameEnabled " << ns << " partial " << partial << ": " << shown();
    ASSERT_EQ(HVDPGenericWildMatch(ns, p, n), front.match(p, n, true)) << "generic " << ns << ": " << shown();
    if (byte_ns) {
      ASSERT_EQ(HVDPWildMatch(reinterpret_cast<const char*>(p), reinterpret_cast<const char*>(n)),
                bytes.match(p, n, false))
          << "wild: " << shown();
    }
  }
}

Alphabet Common(const Alphabet& more) {
  Alphabet a = {U"a", U"b", U".", U"*", U"?", U"\xAA", U"\xBF", U"\xAE", U"a", U"*", U"."};
  a.insert(a.end(), more.begin(), more.end());
  return a;
}

TEST_F(Wildcard, AgreesWithReferenceInSingleByteCodeSet) {
  const Alphabet a = Common({U"\x80", U"\xE1", U"A", U"\xAA"});
  Differential(kLocale, a, 8, 30000, 1);
  Differential(4, a, 8, 3000, 2);
  Differential(kLocale, {U"a", U"*", U".", U"\xAA", U"b"}, 16, 3000, 3);
}

TEST_F(Wildcard, AgreesWithReferenceInEucJp) {
  dpxut::test::use_locale("ja_JP.EUC-JP");
  Differential(kLocale, Common({U"\xA4\xA2", U"\xA4\xAA", U"\xA4", U"\x8E\xAE", U"\xA4\xA2"}), 8, 20000, 4);
}

TEST_F(Wildcard, AgreesWithReferenceInUtf8) {
  dpxut::test::use_locale("en_US.UTF-8");
  const Alphabet a = Common({U"\xC3\xA9", U"\xC3\xAA", U"\xC3.", U"\xC3", U"\x80", U"\xE2\x82\xAC"});
  Differential(kUtf8, a, 8, 20000, 5);
  Differential(kLocale, a, 8, 20000, 6);  // UTF-8 as the server code set
  Differential(kUtf8, {U"a", U"*", U".", U"\xAA", U"\xC3\xA9"}, 16, 3000, 7);
}

TEST_F(Wildcard, AgreesWithReferenceInWideNameSpaces) {
  Differential(kWide, Common({U"\xE1", U"\x1AA", U"\x12A", U"\x4E2D", U"\x80", U"\x1BF", U"\x1AE"}), 8, 30000, 8);
  Differential(kWide, {U"a", U"*", U".", U"\xAA", U"b"}, 16, 3000, 9);
}

}  // namespace
