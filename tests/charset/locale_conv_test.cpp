// Locale conversions in the ISO-8859-1, EUC-JP and UTF-8 test locales:
// special sequences both ways, sizes and overflow by one, completion codes,
// wide text at every alignment, the multibyte-function routes, the set-up
// on first use, and sizing against filling on generated text (with the
// ASCII fast path checked against the iconv route it stands for).
#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "charset/charset_env.h"
#include "charset/locale_conv.h"
#include "common/iconv_cache.h"
#include "dpxut.h"
#include "support/guard_page.h"

namespace {

using dpxut::charset::set_ascii_fast_path;
using WString = std::vector<uint32_t>;  // wide text without its terminator

constexpr uint32_t kInvalid = HVDPUT_INVALID_PARAMETER;
constexpr uint32_t kOverflow = HVDPUT_OVERFLOW;
constexpr char kCanary = '\xA5';

struct Locale {
  const char* name;
  const char* codeset;
};
constexpr Locale kLatin1{"en_US.ISO-8859-1", "ISO-8859-1"};
constexpr Locale kEucJp{"ja_JP.EUC-JP", "EUC-JP"};
constexpr Locale kUtf8{"en_US.UTF-8", "UTF-8"};
constexpr Locale kAll[] = {kLatin1, kEucJp, kUtf8};

// The bytes of wide text with its terminator, as a destination holds them.
std::string Raw(const WString& w) {
  std::string out((w.size() + 1) * 4, '\0');
  if (!w.empty()) std::memcpy(out.data(), w.data(), w.size() * 4);
  return out;
}
std::string Z(const std::string& s) { return s + '\0'; }
WString Widen(const std::string& s) { return WString(s.begin(), s.end()); }

// Sources end flush against a page without access, so that reading past
// the terminator faults. Wide text starts `shift` bytes past a 4-byte
// boundary and ends less than one unit before the page's end.
class Guarded {
 public:
  explicit Guarded(const std::string& s) : bytes_(s + '\0') {}
  Guarded(const WString& w, size_t shift) : bytes_(Raw(w) + std::string((4 - shift) % 4, kCanary)) {}
  const char* str() { return bytes_.chars(); }
  const wchar_t* wide() { return reinterpret_cast<const wchar_t*>(bytes_.data()); }

 private:
  dpxut::test::GuardedBytes bytes_;
};

struct Converted {
  uint32_t sizing = 0;
  uint32_t filling = 0;
  size_t size = 0;      // from the sizing call
  size_t reported = 0;  // *size after the filling call
  std::string out;      // the filled destination (on success)
};

// Sizing call, then a filling call with the reported size plus `extra`
// into a destination `shift` bytes off alignment between canaries.
template <class D, class S>
Converted Convert(uint32_t (*f)(D*, size_t*, const S*), const S* src, ptrdiff_t extra = 0,
              size_t shift = 0) {
  Converted c;
  c.sizing = f(nullptr, &c.size, src);
  if (c.sizing != 0) return c;
  const size_t cap = extra < 0 && c.size < static_cast<size_t>(-extra) ? 0 : c.size + extra;
  const size_t head = 8 + shift;
  const size_t bytes = cap * sizeof(D);
  std::string block(head + bytes + 8, kCanary);
  c.reported = cap;
  c.filling = f(reinterpret_cast<D*>(block.data() + head), &c.reported, src);
  EXPECT_EQ(block.substr(0, head), std::string(head, kCanary));
  EXPECT_EQ(block.substr(head + bytes), std::string(8, kCanary));
  if (c.filling == 0) c.out = block.substr(head, bytes);
  else EXPECT_EQ(c.reported, cap) << "a failed filling call keeps *size";
  return c;
}
Converted RunStr(uint32_t (*f)(char*, size_t*, const char*), const std::string& s, ptrdiff_t extra = 0) {
  return Convert(f, Guarded(s).str(), extra);
}
Converted RunWide(uint32_t (*f)(wchar_t*, size_t*, const char*), const std::string& s,
                  ptrdiff_t extra = 0, size_t shift = 0) {
  return Convert(f, Guarded(s).str(), extra, shift);
}
Converted RunFromWide(uint32_t (*f)(char*, size_t*, const wchar_t*), const WString& w,
                      ptrdiff_t extra = 0, size_t shift = 0) {
  return Convert(f, Guarded(w, shift).wide(), extra);
}

class LocaleConv : public ::testing::Test {
 protected:
  void Use(const Locale& l) {
    ASSERT_NE(std::setlocale(LC_ALL, l.name), nullptr) << l.name;
    ASSERT_EQ(DPInitUniLibrary(l.codeset), 0u) << l.codeset;
  }
  void TearDown() override {
    DPUseMbFunctions = 0;
    set_ascii_fast_path(true);
    DPShutDownUniLibrary();
    std::setlocale(LC_ALL, "C");
  }
};

// ---- special sequences --------------------------------------------------------

TEST_F(LocaleConv, WritesCharactersTheCodeSetCannotHoldAsSpecialSequences) {
  struct Case {
    Locale locale;
    WString text;
    const char* mapped;  // DPuni2loc output without its NUL; null: invalid
    bool nomap_fails;
  };
  const Case cases[] = {
      {kLatin1, {'a', 0x4E2D, 'b'}, "a[4E2D]b", true},
      {kLatin1, {'c', 'a', 'f', 0xE9}, "caf\xE9", false},
      {kLatin1, {0x20AC}, "[20AC]", true},               // euro sign: not in Latin-1
      {kLatin1, {0xD800}, "[D800]", true},               // lone surrogate
      {kLatin1, {0x1F600, 'x'}, "[D83D][DE00]x", true},  // above U+FFFF: surrogate pair
      {kLatin1, {0x10FFFF}, "[DBFF][DFFF]", true},
      {kLatin1, {'a', 0x110000}, nullptr, true},         // no character at all
      {kLatin1, {0xFFFFFFFF}, nullptr, true},
      {kEucJp, {'a', 0x4E2D, 'b'}, "a\xC3\xE6" "b", false},  // C3 E6: JIS X 0208
      {kEucJp, {0xE9}, "\x8F\xAB\xB1", false},               // 8F AB B1: JIS X 0212
      {kEucJp, {0x0E01, 0x3042}, "[0E01]\xA4\xA2", true},    // Thai letter, hiragana a
      {kUtf8, {'a', 0x4E2D, 0x1F600}, "a\xE4\xB8\xAD\xF0\x9F\x98\x80", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mapped != nullptr ? c.mapped : "(invalid)");
    Use(c.locale);
    const Converted m = RunFromWide(DPuni2loc, c.text);
    if (c.mapped == nullptr) {
      EXPECT_EQ(m.sizing, kInvalid);
      char out[64];
      size_t size = sizeof out;
      EXPECT_EQ(DPuni2loc(out, &size, Guarded(c.text, 0).wide()), kInvalid);
    } else {
      EXPECT_EQ(m.size, std::strlen(c.mapped) + 1);
      EXPECT_EQ(m.out, Z(c.mapped));
      EXPECT_EQ(m.reported, m.size) << "the capacity is kept";
    }
    const Converted n = RunFromWide(DPuni2locNoMap, c.text);
    EXPECT_EQ(n.sizing, c.nomap_fails ? kInvalid : 0u);
    if (c.nomap_fails) {
      char out[64];
      size_t size = sizeof out;
      EXPECT_EQ(DPuni2locNoMap(out, &size, Guarded(c.text, 0).wide()), kInvalid);
    } else {
      EXPECT_EQ(n.out, m.out);
    }
  }
}

TEST_F(LocaleConv, DecodesSpecialSequencesOnlyWhenMappingAndOneIsPresent) {
  struct Case {
    std::string text;
    WString mapped;  // DPloc2uni output without terminator
  };
  const Case cases[] = {
      {"x[00e9]y", {'x', 0xE9, 'y'}},
      {"[4E2D]", {0x4E2D}},
      {"[12G4]", Widen("[12G4]")},    // G: no hexadecimal digit
      {"[1234", Widen("[1234")},      // cut short by the end
      {"[12345]", Widen("[12345]")},
      {"[0041][12G4][0042]", {'A', '[', '1', '2', 'G', '4', ']', 'B'}},
      {"[[0041]]", {'[', 'A', ']'}},
      {"[D83D][DE00]", {0x1F600}},  // a surrogate pair is one character
      {"[d83d][de00]", {0x1F600}},
      {"[D83D]x[DE00]", {0xD83D, 'x', 0xDE00}},  // not adjacent: two units
      {"[DE00][D83D]", {0xDE00, 0xD83D}},        // wrong order
      {"[D83D][D83D][DE00]", {0xD83D, 0x1F600}},
      {"[0000]z", {0, 'z'}},  // kept as written
  };
  for (const Locale& l : kAll) {
    Use(l);
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(l.codeset) + " " + c.text);
      const Converted m = RunWide(DPloc2uni, c.text);
      EXPECT_EQ(m.filling, 0u);
      EXPECT_EQ(m.out, Raw(c.mapped));
      EXPECT_EQ(RunWide(DPloc2uniNoMap, c.text).out, Raw(Widen(c.text)));
    }
  }
}

TEST_F(LocaleConv, DecodesSequencesBesideMultibyteCharacters) {
  Use(kEucJp);
  // A4 A2: hiragana a; 8F AB B1: e acute (three bytes).
  EXPECT_EQ(RunWide(DPloc2uni, "\xA4\xA2\x8F\xAB\xB1[0E01]!").out, Raw({0x3042, 0xE9, 0x0E01, '!'}));
  EXPECT_EQ(RunWide(DPloc2uni, "[0041]\xA4").sizing, kInvalid);
  EXPECT_EQ(RunWide(DPloc2uni, "[0041]\xFF\xFF").sizing, kInvalid);
  // Every character survives the way out and back.
  Use(kLatin1);
  const WString text = {'n', 0x4E2D, 0xE9, 0x1F600, 0xD800, 'z', 0x10000, 0xFFFF};
  const Converted out = RunFromWide(DPuni2loc, text);
  EXPECT_EQ(RunWide(DPloc2uni, out.out.c_str()).out, Raw(text));
}

TEST_F(LocaleConv, RecognisesSpecialSequencesWithoutReadingPastTheEnd) {
  const std::pair<const char*, int> cases[] = {
      {"[00e9]", 1}, {"[ABCD]tail", 1}, {"[00e9", 0}, {"[0G00]", 0}, {"(00e9]", 0},
      {"[ 0e9]", 0}, {"[+0e9]", 0},     {"", 0},      {"[00e9)", 0}, {"[12345]", 0},
  };
  for (const auto& [s, expected] : cases) EXPECT_EQ(isSpecialSequence(s), expected) << s;
  EXPECT_EQ(isSpecialSequence(nullptr), 0);
  const std::string full = "[00E9]";
  for (size_t n = 0; n <= full.size(); ++n) {
    EXPECT_EQ(isSpecialSequence(Guarded(full.substr(0, n)).str()), n == full.size() ? 1 : 0);
  }
}

// ---- sizes, overflow, codes ---------------------------------------------------

TEST_F(LocaleConv, SizesCountTheTerminatorAndOneUnitLessOverflows) {
  const std::string texts[] = {"", "abc", "a[0041]b", "caf\xC3\xA9"};
  const WString wides[] = {{}, {'x', 'y'}, {'a', 0x4E2D, 0xE9, 'b'}, {'q', 0x1F600}};
  for (bool fast : {true, false}) {
    set_ascii_fast_path(fast);
    for (const Locale& l : kAll) {
      SCOPED_TRACE(std::string(l.codeset) + (fast ? " fast" : " iconv"));
      Use(l);
      for (const std::string& s : texts) {
        for (auto f : {DPloc2utf8, DPutf82loc}) {
          const Converted c = RunStr(f, s);
          if (c.sizing != 0) continue;  // "caf\xC3\xA9" is no EUC-JP
          EXPECT_EQ(c.out.size(), c.size);
          EXPECT_EQ(c.out.find('\0') + 1, c.size) << "the terminator is the last byte";
          EXPECT_EQ(RunStr(f, s, -1).filling, kOverflow);
        }
        for (auto f : {DPloc2uni, DPloc2uniNoMap}) {
          const Converted c = RunWide(f, s, 5);
          ASSERT_EQ(c.filling, 0u);
          EXPECT_EQ(c.reported, c.size + 5) << "the capacity is kept";
          EXPECT_EQ(RunWide(f, s, -1).filling, kOverflow);
        }
      }
      for (const WString& w : wides) {
        EXPECT_EQ(RunFromWide(DPuni2loc, w, -1).filling, kOverflow);
        EXPECT_EQ(RunFromWide(DPuni2loc, w).filling, 0u);
      }
    }
  }
  Use(kLatin1);
  EXPECT_EQ(RunStr(DPloc2utf8, "").size, 1u);
  EXPECT_EQ(RunStr(DPloc2utf8, "caf\xE9").size, 6u);
  EXPECT_EQ(RunWide(DPloc2uni, "a[4E2D]").size, 3u);
  EXPECT_EQ(RunWide(DPloc2uniNoMap, "a[4E2D]").size, 8u);
}

TEST_F(LocaleConv, FillsExactlyTheReportedSizeWhereTheConverterAsksForMoreRoom) {
  // glibc drops Unicode tag characters when writing EUC-JP, but asks for
  // room for a two-byte character before it finds that out; wcsrtombs
  // stops short the same way.
  Use(kEucJp);
  for (int mb : {0, 1}) {
    DPUseMbFunctions = mb;
    for (const WString& w : {WString{'a', 0xE0001}, WString{0x3042, 0xE0041, 'z'}, WString{0xE0000}}) {
      for (auto f : {DPuni2loc, DPuni2locNoMap}) {
        EXPECT_EQ(RunFromWide(f, w).filling, 0u) << "mb " << mb;
        EXPECT_EQ(RunFromWide(f, w, -1).filling, kOverflow);
      }
    }
  }
}

TEST_F(LocaleConv, ReportsInvalidTextAsInvalidInEveryDirection) {
  struct Case {
    Locale locale;
    uint32_t (*f)(char*, size_t*, const char*);
    const char* text;
  };
  const Case cases[] = {
      {kLatin1, DPutf82loc, "\xC3"},          // cut UTF-8 sequence
      {kLatin1, DPutf82loc, "\xE4\xB8\xAD"},  // U+4E2D: not in Latin-1
      {kEucJp, DPloc2utf8, "\xA4"},           // lead byte without its partner
      {kEucJp, DPloc2utf8, "\xFF\xFE"},
      {kUtf8, DPloc2utf8, "\xC0\x80"},        // over-long NUL
      {kUtf8, DPutf82loc, "\xED\xA0\x80"},    // encoded surrogate
  };
  for (const Case& c : cases) {
    Use(c.locale);
    size_t size = 7;
    EXPECT_EQ(c.f(nullptr, &size, c.text), kInvalid);
    EXPECT_EQ(size, 7u) << "a failed sizing call stores nothing";
    char out[64];
    size = sizeof out;
    EXPECT_EQ(c.f(out, &size, c.text), kInvalid);
  }
  // Locale to wide: invalid text is invalid, not an overflow, on both
  // passes, so a caller that grows its buffer on overflow cannot loop.
  Use(kEucJp);
  for (auto f : {DPloc2uni, DPloc2uniNoMap}) {
    size_t size = 0;
    EXPECT_EQ(f(nullptr, &size, "ab\xA4"), kInvalid);
    wchar_t out[16];
    size = 16;
    EXPECT_EQ(f(out, &size, "ab\xA4"), kInvalid);
  }
}

TEST_F(LocaleConv, RefusesNullArgumentsUnknownCodeSetsAndGivesPassResults) {
  Use(kLatin1);
  size_t size = 5;
  char out[16];
  const wchar_t wide[] = {L'a', 0x4E2D, 0};
  EXPECT_EQ(DPutf82loc(out, nullptr, "a"), kInvalid);
  EXPECT_EQ(DPloc2utf8(out, &size, nullptr), kInvalid);
  EXPECT_EQ(DPloc2uniNoMap(nullptr, nullptr, "a"), kInvalid);
  EXPECT_EQ(DPuni2loc(out, &size, nullptr), kInvalid);
  EXPECT_EQ(size, 5u);
  // The exported passes: the capacity, or a code.
  EXPECT_EQ(dp_locs2unis(nullptr, "a", 4, 1), size_t{kInvalid});
  EXPECT_EQ(dp_locs2utfs(out, "caf\xE9", sizeof out), sizeof out);
  EXPECT_EQ(dp_locs2utfs(out, "caf\xE9", 5), size_t{kOverflow});
  EXPECT_EQ(dp_unis2locsize(wide, &size, 0), kInvalid);
  EXPECT_EQ(dp_unis2locs(out, wide, 8, 1), 8u);
  EXPECT_EQ(dp_unis2locs(out, wide, 7, 1), size_t{kOverflow});
  EXPECT_EQ(dp_locs2unisize("a[4E2D]", &size, 1), 0u);
  EXPECT_EQ(size, 3u);
  for (const char* name : {"NO-SUCH-CODESET", ""}) {
    std::strcpy(dp_current_codeset, name);
    for (bool fast : {true, false}) {
      set_ascii_fast_path(fast);
      EXPECT_EQ(RunStr(DPloc2utf8, "abc").sizing, kInvalid) << name;
      EXPECT_EQ(RunStr(DPutf82loc, "abc").sizing, kInvalid);
      EXPECT_EQ(RunWide(DPloc2uni, "a[0041]").sizing, kInvalid);
      EXPECT_EQ(RunFromWide(DPuni2loc, {'a'}).sizing, kInvalid);
      size = 8;
      EXPECT_EQ(DPloc2utf8(out, &size, "abc"), kInvalid);
      EXPECT_EQ(DPuni2loc(out, &size, wide), kInvalid);
    }
  }
}

// ---- the platform's multibyte functions -----------------------------------------

TEST_F(LocaleConv, MultibyteRoutesReportCountsOverflowAndFallBack) {
  for (const Locale& l : kAll) {
    SCOPED_TRACE(l.codeset);
    Use(l);
    DPUseMbFunctions = 1;
    const std::string src = l.codeset == kUtf8.codeset    ? "caf\xC3\xA9"
                            : l.codeset == kEucJp.codeset ? "abc\xA4\xA2"
                                                          : "caf\xE9";
    // mbsrtowcs: the filling call reports the characters converted; out of
    // room before the terminator is an overflow, never an unterminated
    // success. Long text crosses the routes' internal chunks.
    for (const std::string& s : {src, std::string(1000, 'k')}) {
      const Converted c = RunWide(DPloc2uni, s, 0, 1);
      ASSERT_EQ(c.filling, 0u);
      EXPECT_EQ(c.reported, c.size - 1);
      EXPECT_EQ(RunWide(DPloc2uniNoMap, s, 3, 2).reported, c.size - 1);
      EXPECT_EQ(RunWide(DPloc2uni, s, -1, 3).filling, kOverflow);
    }
    // wcsrtombs keeps the capacity.
    const Converted w = RunFromWide(DPuni2loc, WString(600, 'w'), 0, 1);
    EXPECT_EQ(w.out, Z(std::string(600, 'w')));
    EXPECT_EQ(w.reported, 601u);
    EXPECT_EQ(RunFromWide(DPuni2loc, WString(600, 'w'), -1, 1).filling, kOverflow);
    EXPECT_EQ(RunFromWide(DPuni2loc, {'a', 0xE9}, -1, 3).filling, kOverflow);
  }
  // What the platform refuses goes to iconv, which maps it; the special
  // route never uses mbsrtowcs, so it keeps the capacity.
  Use(kLatin1);
  DPUseMbFunctions = 1;
  EXPECT_EQ(RunFromWide(DPuni2loc, {'a', 0x4E2D, 'b'}, 0, 2).out, Z("a[4E2D]b"));
  EXPECT_EQ(RunFromWide(DPuni2locNoMap, {'a', 0x4E2D}).sizing, kInvalid);
  const Converted s = RunWide(DPloc2uni, "x[00e9]");
  EXPECT_EQ(s.out, Raw({'x', 0xE9}));
  EXPECT_EQ(s.reported, 3u);
}

// ---- set-up on first use --------------------------------------------------------

class LocaleConvSetUp : public dpxut::testing::CharsetEnv {};

TEST_F(LocaleConvSetUp, FirstCallRunsTheSetUpOnce) {
  WriteLanguageFile("RC_LANG=\"zz_WW\"\n");  // zz_WW: the ISO-8859-1 test locale
  ASSERT_EQ(DPInitICONV, 0);
  EXPECT_EQ(RunStr(DPloc2utf8, "caf\xE9").out, Z("caf\xC3\xA9"));
  EXPECT_EQ(DPInitICONV, 1);
  EXPECT_STREQ(dp_current_codeset, "ISO-8859-1");
  // Later calls keep it; after shut-down the next call runs it again.
  WriteLanguageFile("RC_LANG=xx_YY\n");
  EXPECT_EQ(RunStr(DPloc2utf8, "caf\xE9").size, 6u);
  EXPECT_STREQ(dp_current_codeset, "ISO-8859-1");
  DPShutDownUniLibrary();
  EXPECT_EQ(RunWide(DPloc2uni, "\xA4\xA2").out, Raw({0x3042}));
  EXPECT_STREQ(dp_current_codeset, "EUC-JP");
}

TEST_F(LocaleConvSetUp, WideSourcesRunTheSetUpBeforeCheckingArguments) {
  WriteLanguageFile("RC_LANG=xx_YY\n");
  size_t size = 0;
  EXPECT_EQ(dp_locs2utfsize("abc", &size), kInvalid) << "the passes run no set-up";
  EXPECT_EQ(DPutf82loc(nullptr, nullptr, "a"), kInvalid);
  EXPECT_EQ(DPloc2utf8(nullptr, nullptr, "a"), kInvalid);
  EXPECT_EQ(DPloc2uni(nullptr, nullptr, "a"), kInvalid);
  EXPECT_EQ(DPloc2uniNoMap(nullptr, nullptr, "a"), kInvalid);
  EXPECT_EQ(DPInitICONV, 0);
  EXPECT_EQ(DPuni2locNoMap(nullptr, nullptr, L"a"), kInvalid);
  EXPECT_EQ(DPInitICONV, 1);
  EXPECT_STREQ(dp_current_codeset, "EUC-JP");
}

// ---- code sets with shift states --------------------------------------------------

TEST_F(LocaleConv, ReturnsToTheInitialShiftStateBeforeASpecialSequence) {
  ASSERT_EQ(DPInitUniLibrary("ISO-2022-JP"), 0u);
  // ESC $ B 43 66 (U+4E2D in JIS X 0208), ESC ( B back to ASCII, then the
  // sequence for e acute, which ISO-2022-JP cannot hold.
  EXPECT_EQ(RunFromWide(DPuni2loc, {0x4E2D, 0xE9, 'a'}).out, Z("\x1B$BCf\x1B(B[00E9]a"));
  EXPECT_EQ(RunFromWide(DPuni2loc, {0x4E2D, 0xE9}, -1).filling, kOverflow);
  // Its ASCII is not copied by the fast path: ESC changes the meaning.
  for (const char* cs : {"ISO-2022-JP", "SJIS", "UTF-16", "UTF-7"}) {
    EXPECT_FALSE(dpxut::charset::ascii_transparent(cs)) << cs;
  }
  for (const char* cs : {"EUC-JP", "ISO-8859-1", "UTF-8"}) {
    EXPECT_TRUE(dpxut::charset::ascii_transparent(cs)) << cs;
  }
}

// ---- generated text ------------------------------------------------------------------

// Characters from every class the conversions treat differently.
uint32_t RandomChar(std::mt19937& rng) {
  static constexpr uint32_t kPool[] = {'a', '[', ']', '0', 'F', 0xE9, 0x3042, 0x4E2D, 0x20AC,
                                       0xD800, 0xDE00, 0x1F600, 0x10FFFF, 0xE0001, 0x110000};
  switch (rng() % 4) {
    case 0: return kPool[rng() % std::size(kPool)];
    case 1: return 0x20 + rng() % 0x5F;
    case 2: return 1 + rng() % 0xFFFF;
    default: return 1 + rng() % 0x10FFFF;
  }
}

std::string RandomLocaleText(std::mt19937& rng) {
  static const char* const kPieces[] = {"[",      "]",        "[00e9]",       "[D83D]", "[DE00]",
                                        "[12G4]", "\xA4\xA2", "\x8F\xAB\xB1", "\xE9",   "ab"};
  std::string s;
  for (size_t n = rng() % 12; n > 0; --n) {
    if (rng() % 3 == 0) s += static_cast<char>(1 + rng() % 255);
    else s += kPieces[rng() % std::size(kPieces)];
  }
  return s;
}

TEST_F(LocaleConv, SizingAgreesWithFillingOnGeneratedText) {
  std::mt19937 rng(20240611);
  for (const Locale& l : kAll) {
    Use(l);
    for (int round = 0; round < 400; ++round) {
      WString w(rng() % 10);
      for (uint32_t& c : w) c = RandomChar(rng);
      const size_t shift = rng() % 4;
      for (auto f : {DPuni2loc, DPuni2locNoMap}) {
        const Converted c = RunFromWide(f, w, 0, shift);  // canaries checked inside
        if (c.sizing != 0) continue;
        EXPECT_EQ(c.filling, 0u);
        EXPECT_EQ(c.out.back(), '\0');
        EXPECT_EQ(RunFromWide(f, w, -1, shift).filling, kOverflow);
      }
      const std::string s = RandomLocaleText(rng);
      for (auto f : {DPloc2uni, DPloc2uniNoMap}) {
        const Converted c = RunWide(f, s, 0, shift);
        if (c.sizing != 0) continue;
        ASSERT_EQ(c.filling, 0u) << s;
        EXPECT_EQ(c.out.substr(c.out.size() - 4), std::string(4, '\0'));
        EXPECT_EQ(RunWide(f, s, -1, shift).filling, kOverflow);
      }
      const Converted u = RunStr(DPloc2utf8, s);
      if (u.sizing == 0) {
        EXPECT_EQ(RunStr(DPloc2utf8, s, -1).filling, kOverflow);
        EXPECT_EQ(RunStr(DPutf82loc, u.out.c_str()).out, Z(s)) << "locale -> UTF-8 -> locale";
      }
    }
  }
}

TEST_F(LocaleConv, AsciiFastPathWritesWhatIconvWrites) {
  std::mt19937 rng(7);
  for (const Locale& l : kAll) {
    Use(l);
    for (int round = 0; round < 200; ++round) {
      std::string s(rng() % 40, ' ');
      for (char& c : s) c = static_cast<char>(1 + rng() % 0x7F);
      for (ptrdiff_t extra : {0, -1, -2}) {
        Converted r[2][4];
        for (int pass = 0; pass < 2; ++pass) {
          set_ascii_fast_path(pass == 0);
          r[pass][0] = RunStr(DPloc2utf8, s, extra);
          r[pass][1] = RunStr(DPutf82loc, s, extra);
          r[pass][2] = RunWide(DPloc2uniNoMap, s, extra, 1);
          r[pass][3] = RunFromWide(DPuni2loc, Widen(s), extra, 3);
        }
        for (int i = 0; i < 4; ++i) {
          EXPECT_EQ(r[0][i].sizing, r[1][i].sizing) << i << " " << s;
          EXPECT_EQ(r[0][i].size, r[1][i].size);
          EXPECT_EQ(r[0][i].filling, r[1][i].filling);
          EXPECT_EQ(r[0][i].out, r[1][i].out);
        }
      }
    }
  }
}

TEST_F(LocaleConv, OpensNoDescriptorPerCall) {
  Use(kEucJp);
  auto once = [] {
    EXPECT_EQ(RunStr(DPloc2utf8, "\xA4\xA2z").filling, 0u);
    EXPECT_EQ(RunStr(DPutf82loc, "\xE3\x81\x82").filling, 0u);
    EXPECT_EQ(RunWide(DPloc2uni, "\xA4\xA2[0041]").filling, 0u);
    EXPECT_EQ(RunFromWide(DPuni2loc, {0x3042, 'x', 0x1F600}).filling, 0u);
  };
  once();
  const uint64_t opened = dpxut::iconv_cache_thread_opens();
  for (int i = 0; i < 50; ++i) once();
  EXPECT_EQ(dpxut::iconv_cache_thread_opens(), opened);
}

}  // namespace
