// Locale conversions in the ISO-8859-1, EUC-JP and UTF-8 test locales:
// special sequences both ways, sizes and overflow by one, completion codes,
// wide text at every alignment, the multibyte-function routes, the set-up
// on first use, and sizing against filling on generated text (with the
// ASCII fast path checked against the iconv route it stands for).
#include <gtest/gtest.h>

#include <random>

#include "charset/charset_env.h"
#include "charset/charset_test_util.h"
#include "charset/locale_conv.h"
#include "common/iconv_cache.h"

namespace {

using dpxut::charset::set_ascii_fast_path;
using dpxut::test::GuardedBytes;
using dpxut::test::use_locale;
using LocaleConv = dpxut::testing::CharsetEnv;
using WString = std::vector<uint32_t>;  // wide text without its terminator

constexpr uint32_t kInvalid = HVDPUT_INVALID_PARAMETER;
constexpr uint32_t kOverflow = HVDPUT_OVERFLOW;
constexpr char kCanary = '\xA5';
constexpr size_t kUntouched = 7777;
const char *const kLatin1 = "en_US.ISO-8859-1", *const kEucJp = "ja_JP.EUC-JP", *const kUtf8 = "en_US.UTF-8";
const char* const kAll[] = {kLatin1, kEucJp, kUtf8};

// The bytes of wide text with its terminator, as a destination holds them.
std::string Raw(const WString& w) {
  std::string out((w.size() + 1) * 4, '\0');
  if (!w.empty()) std::memcpy(out.data(), w.data(), w.size() * 4);
  return out;
}
std::string Z(const std::string& s) { return s + '\0'; }
WString Widen(const std::string& s) { return WString(s.begin(), s.end()); }

struct Converted {
  uint32_t sizing = 0, filling = 0;
  size_t size = kUntouched;  // from the sizing call
  size_t reported = 0;       // *size after the filling call
  std::string out;           // the filled destination (on success)
  bool operator==(const Converted&) const = default;
};
const std::string kRefused = "refused";  // both calls: invalid parameter
// The filled destination, or what went wrong.
std::string Result(const Converted& c) {
  if (c.sizing == kInvalid && c.filling == kInvalid) return kRefused;
  return c.sizing != 0 ? "sizing failed" : c.filling != 0 ? "filling failed" : c.out;
}

// Sizing call, then a filling call with the reported size plus `extra` (64
// units when the sizing failed) into a destination `shift` bytes off
// alignment between canaries. A failed filling keeps *size, and so does a
// successful one except on the mbsrtowcs route, which counts characters.
template <class D, class S>
Converted Convert(uint32_t (*f)(D*, size_t*, const S*), const S* src, ptrdiff_t extra, size_t shift) {
  Converted c;
  c.sizing = f(nullptr, &c.size, src);
  const size_t cap = c.sizing != 0 ? 64 : std::max<ptrdiff_t>(0, static_cast<ptrdiff_t>(c.size) + extra);
  const size_t head = 8 + shift, bytes = cap * sizeof(D);
  std::string block(head + bytes + 8, kCanary);
  c.reported = cap;
  c.filling = f(reinterpret_cast<D*>(block.data() + head), &c.reported, src);
  EXPECT_EQ(block.substr(0, head) + block.substr(head + bytes), std::string(head + 8, kCanary)) << "wrote outside";
  EXPECT_TRUE(c.reported == cap || (c.filling == 0 && sizeof(D) == 4 && DPUseMbFunctions)) << c.reported;
  if (c.filling == 0) c.out = block.substr(head, bytes);
  return c;
}
// A locale or UTF-8 source ending flush against a page without access.
template <class D>
Converted Conv(uint32_t (*f)(D*, size_t*, const char*), const std::string& s, ptrdiff_t extra = 0, size_t shift = 0) {
  GuardedBytes src(s + '\0');
  return Convert(f, src.chars(), extra, shift);
}
// A wide source `shift` bytes past a 4-byte boundary, ending less than one
// unit before a page without access.
Converted Conv(uint32_t (*f)(char*, size_t*, const wchar_t*), const WString& w, ptrdiff_t extra = 0,
               size_t shift = 0) {
  GuardedBytes src(Raw(w) + std::string((4 - shift) % 4, kCanary));
  return Convert(f, reinterpret_cast<const wchar_t*>(src.data()), extra, 0);
}

TEST_F(LocaleConv, WritesCharactersTheCodeSetCannotHoldAsSpecialSequences) {
  const struct {
    const char* locale;
    WString text;
    const char* mapped;  // DPuni2loc output without its NUL; null: refused
    bool nomap_refused;  // else DPuni2locNoMap writes the same
  } cases[] = {
      {kLatin1, {'a', 0x4E2D, 'b'}, "a[4E2D]b", true},  {kLatin1, {'c', 'a', 'f', 0xE9}, "caf\xE9", false},
      {kLatin1, {0x20AC}, "[20AC]", true},               // euro sign: not in Latin-1
      {kLatin1, {0xD800}, "[D800]", true},               // lone surrogate
      {kLatin1, {0x1F600, 'x'}, "[D83D][DE00]x", true},  {kLatin1, {0x10FFFF}, "[DBFF][DFFF]", true},  // pairs
      {kLatin1, {'a', 0x110000}, nullptr, true},         {kLatin1, {0xFFFFFFFF}, nullptr, true},  // no characters
      {kEucJp, {'a', 0x4E2D, 'b'}, "a\xC3\xE6" "b", false},  // C3 E6: JIS X 0208
      {kEucJp, {0xE9}, "\x8F\xAB\xB1", false},               // 8F AB B1: JIS X 0212
      {kEucJp, {0x0E01, 0x3042}, "[0E01]\xA4\xA2", true},    // Thai letter, hiragana a
      {kUtf8, {'a', 0x4E2D, 0x1F600}, "a\xE4\xB8\xAD\xF0\x9F\x98\x80", false},
  };
  for (const auto& c : cases) {
    use_locale(c.locale);
    const std::string mapped = Result(Conv(DPuni2loc, c.text));
    EXPECT_EQ(mapped, c.mapped ? Z(c.mapped) : kRefused);
    EXPECT_EQ(Result(Conv(DPuni2locNoMap, c.text)), c.nomap_refused ? kRefused : mapped) << mapped;
  }
}

TEST_F(LocaleConv, DecodesSpecialSequencesOnlyWhenMappingAndOneIsPresent) {
  const struct {
    std::string text;
    WString mapped;  // DPloc2uni output without terminator
  } cases[] = {
      {"x[00e9]y", {'x', 0xE9, 'y'}},            {"[4E2D]", {0x4E2D}},
      {"[12G4]", Widen("[12G4]")},               {"[1234", Widen("[1234")},  // G: no hex digit; cut short
      {"[12345]", Widen("[12345]")},             {"[[0041]]", {'[', 'A', ']'}},
      {"[0041][12G4][0042]", {'A', '[', '1', '2', 'G', '4', ']', 'B'}},
      {"[D83D][DE00]", {0x1F600}},               {"[d83d][de00]", {0x1F600}},  // a pair is one character
      {"[D83D]x[DE00]", {0xD83D, 'x', 0xDE00}},  {"[DE00][D83D]", {0xDE00, 0xD83D}},  // apart; wrong order
      {"[D83D][D83D][DE00]", {0xD83D, 0x1F600}},
      {"[0000]z", {0, 'z'}},  // kept as written
  };
  for (const char* locale : kAll) {
    use_locale(locale);
    for (const auto& c : cases) {
      EXPECT_EQ(Result(Conv(DPloc2uni, c.text)), Raw(c.mapped)) << locale << " " << c.text;
      EXPECT_EQ(Result(Conv(DPloc2uniNoMap, c.text)), Raw(Widen(c.text)));
    }
  }
  use_locale(kEucJp);  // A4 A2: hiragana a; 8F AB B1: e acute (three bytes)
  EXPECT_EQ(Result(Conv(DPloc2uni, "\xA4\xA2\x8F\xAB\xB1[0E01]!")), Raw({0x3042, 0xE9, 0x0E01, '!'}));
  EXPECT_EQ(Conv(DPloc2uni, "[0041]\xA4").sizing, kInvalid);
  EXPECT_EQ(Conv(DPloc2uni, "[0041]\xFF\xFF").sizing, kInvalid);
  use_locale(kLatin1);  // every character survives the way out and back
  const WString text = {'n', 0x4E2D, 0xE9, 0x1F600, 0xD800, 'z', 0x10000, 0xFFFF};
  EXPECT_EQ(Result(Conv(DPloc2uni, Conv(DPuni2loc, text).out.c_str())), Raw(text));
}

TEST_F(LocaleConv, RecognisesSpecialSequencesWithoutReadingPastTheEnd) {
  const std::pair<const char*, int> cases[] = {
      {"[00e9]", 1}, {"[ABCD]tail", 1}, {"[00e9", 0}, {"[0G00]", 0}, {"(00e9]", 0},
      {"[ 0e9]", 0}, {"[+0e9]", 0},     {"", 0},      {"[00e9)", 0}, {"[12345]", 0},
  };
  for (const auto& [s, expected] : cases) EXPECT_EQ(isSpecialSequence(s), expected) << s;
  EXPECT_EQ(isSpecialSequence(nullptr), 0);
  const std::string full = "[00E9]";
  for (size_t n = 0; n <= full.size(); ++n)
    EXPECT_EQ(isSpecialSequence(GuardedBytes(full.substr(0, n) + '\0').chars()), n == full.size() ? 1 : 0);
}

TEST_F(LocaleConv, SizesCountTheTerminatorAndFillingKeepsTheCapacity) {
  use_locale(kLatin1);
  EXPECT_EQ(Conv(DPloc2utf8, "").size, 1u);
  EXPECT_EQ(Conv(DPloc2utf8, "caf\xE9").size, 6u);
  EXPECT_EQ(Conv(DPloc2uni, "a[4E2D]").size, 3u);
  EXPECT_EQ(Conv(DPloc2uniNoMap, "a[4E2D]").size, 8u);
  EXPECT_EQ(Conv(DPutf82loc, "caf\xC3\xA9", -1).filling, kOverflow) << "one byte short of the terminator";
  EXPECT_EQ(Conv(DPutf82loc, "caf\xC3\xA9", 3).reported, 8u);  // the filling calls check it too
  EXPECT_EQ(Conv(DPloc2uni, "x[00e9]", 5, 1).reported, 8u);
}

TEST_F(LocaleConv, FillsExactlyTheReportedSizeWhereTheConverterAsksForMoreRoom) {
  // glibc drops Unicode tag characters when writing EUC-JP, but asks for
  // room for a two-byte character before it finds that out; wcsrtombs
  // stops short the same way.
  use_locale(kEucJp);
  for (int mb : {0, 1}) {
    DPUseMbFunctions = mb;
    for (const WString& w : {WString{'a', 0xE0001}, WString{0x3042, 0xE0041, 'z'}, WString{0xE0000}}) {
      for (auto f : {DPuni2loc, DPuni2locNoMap}) {
        EXPECT_EQ(Conv(f, w).filling, 0u) << "mb " << mb;
        EXPECT_EQ(Conv(f, w, -1).filling, kOverflow);
      }
    }
  }
}

TEST_F(LocaleConv, ReportsInvalidTextAsInvalidInEveryDirection) {
  const struct {
    const char* locale;
    uint32_t (*f)(char*, size_t*, const char*);
    const char* text;
  } cases[] = {
      {kLatin1, DPutf82loc, "\xC3"},     {kLatin1, DPutf82loc, "\xE4\xB8\xAD"},  // cut; U+4E2D not in Latin-1
      {kEucJp, DPloc2utf8, "\xA4"},      {kEucJp, DPloc2utf8, "\xFF\xFE"},       // lead byte alone; no lead byte
      {kUtf8, DPloc2utf8, "\xC0\x80"},  {kUtf8, DPutf82loc, "\xED\xA0\x80"},   // over-long NUL; surrogate
  };
  for (const auto& c : cases) {
    use_locale(c.locale);
    const Converted r = Conv(c.f, c.text);
    EXPECT_EQ(Result(r), kRefused) << c.text;
    EXPECT_EQ(r.size, kUntouched) << "a failed sizing call stores nothing";
  }
  // Locale to wide: invalid text is invalid, not an overflow, on both
  // passes, so a caller that grows its buffer on overflow cannot loop.
  use_locale(kEucJp);
  EXPECT_EQ(Result(Conv(DPloc2uni, "ab\xA4")), kRefused);
  EXPECT_EQ(Result(Conv(DPloc2uniNoMap, "ab\xA4")), kRefused);
}

TEST_F(LocaleConv, RefusesNullArgumentsUnknownCodeSetsAndGivesPassResults) {
  use_locale(kLatin1);
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
      EXPECT_EQ(Result(Conv(DPloc2utf8, "abc")), kRefused) << name;
      EXPECT_EQ(Result(Conv(DPutf82loc, "abc")), kRefused);
      EXPECT_EQ(Result(Conv(DPloc2uni, "a[0041]")), kRefused);
      EXPECT_EQ(Result(Conv(DPuni2loc, {'a'})), kRefused);
    }
  }
  set_ascii_fast_path(true);
}

TEST_F(LocaleConv, MultibyteRoutesReportCountsOverflowAndFallBack) {
  const std::pair<const char*, std::string> texts[] = {
      {kLatin1, "caf\xE9"}, {kEucJp, "abc\xA4\xA2"}, {kUtf8, "caf\xC3\xA9"}};
  for (const auto& [locale, text] : texts) {
    use_locale(locale);
    DPUseMbFunctions = 1;
    // mbsrtowcs: the filling call reports the characters converted; out of
    // room before the terminator is an overflow, never an unterminated
    // success. Long text crosses the routes' internal chunks.
    for (const std::string& s : {text, std::string(1000, 'k')}) {
      const Converted c = Conv(DPloc2uni, s, 0, 1);
      EXPECT_EQ(c.reported, c.size - 1) << locale;
      EXPECT_EQ(Conv(DPloc2uniNoMap, s, 3, 2).reported, c.size - 1);
      EXPECT_EQ(Conv(DPloc2uni, s, -1, 3).filling, kOverflow);
    }
    // wcsrtombs keeps the capacity.
    EXPECT_EQ(Result(Conv(DPuni2loc, WString(600, 'w'), 0, 1)), Z(std::string(600, 'w')));
    EXPECT_EQ(Conv(DPuni2loc, WString(600, 'w'), -1, 1).filling, kOverflow);
    EXPECT_EQ(Conv(DPuni2loc, {'a', 0xE9}, -1, 3).filling, kOverflow);
  }
  // What the platform refuses goes to iconv, which maps it; the special
  // route never uses mbsrtowcs, so it keeps the capacity.
  use_locale(kLatin1);
  EXPECT_EQ(Result(Conv(DPuni2loc, {'a', 0x4E2D, 'b'}, 0, 2)), Z("a[4E2D]b"));
  EXPECT_EQ(Result(Conv(DPuni2locNoMap, {'a', 0x4E2D})), kRefused);
  const Converted s = Conv(DPloc2uni, "x[00e9]");
  EXPECT_EQ(Result(s), Raw({'x', 0xE9}));
  EXPECT_EQ(s.reported, 3u);
}

TEST_F(LocaleConv, FirstCallRunsTheSetUpOnceUntilShutDown) {
  WriteLanguageFile("RC_LANG=\"zz_WW\"\n");  // zz_WW: the ISO-8859-1 test locale
  // Wide sources run the set-up before checking their arguments, the
  // others after; the exported passes never run it.
  size_t size = 0;
  EXPECT_EQ(dp_locs2utfsize("abc", &size), kInvalid);
  EXPECT_EQ(DPutf82loc(nullptr, nullptr, "a"), kInvalid);
  EXPECT_EQ(DPloc2utf8(nullptr, nullptr, "a"), kInvalid);
  EXPECT_EQ(DPloc2uni(nullptr, nullptr, "a"), kInvalid);
  EXPECT_EQ(DPloc2uniNoMap(nullptr, nullptr, "a"), kInvalid);
  EXPECT_EQ(DPInitICONV, 0);
  EXPECT_EQ(DPuni2locNoMap(nullptr, nullptr, L"a"), kInvalid);
  EXPECT_EQ(DPInitICONV, 1);
  EXPECT_STREQ(dp_current_codeset, "ISO-8859-1");
  // Later calls keep it; after shut-down the next call runs it again.
  WriteLanguageFile("RC_LANG=xx_YY\n");
  EXPECT_EQ(Result(Conv(DPloc2utf8, "caf\xE9")), Z("caf\xC3\xA9"));
  DPShutDownUniLibrary();
  EXPECT_EQ(Result(Conv(DPloc2uni, "\xA4\xA2")), Raw({0x3042}));
  EXPECT_STREQ(dp_current_codeset, "EUC-JP");
}

TEST_F(LocaleConv, ReturnsToTheInitialShiftStateBeforeASpecialSequence) {
  ASSERT_EQ(DPInitUniLibrary("ISO-2022-JP"), 0u);
  // ESC $ B 43 66 (U+4E2D in JIS X 0208), ESC ( B back to ASCII, then the
  // sequence for e acute, which ISO-2022-JP cannot hold.
  EXPECT_EQ(Result(Conv(DPuni2loc, {0x4E2D, 0xE9, 'a'})), Z("\x1B$BCf\x1B(B[00E9]a"));
  EXPECT_EQ(Conv(DPuni2loc, {0x4E2D, 0xE9}, -1).filling, kOverflow);
  // Its ASCII is not copied by the fast path: ESC changes the meaning.
  for (const char* cs : {"ISO-2022-JP", "SJIS", "UTF-16", "UTF-7"})
    EXPECT_FALSE(dpxut::charset::ascii_transparent(cs)) << cs;
  for (const char* cs : {"EUC-JP", "ISO-8859-1", "UTF-8"}) EXPECT_TRUE(dpxut::charset::ascii_transparent(cs)) << cs;
}

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
  for (size_t n = rng() % 12; n > 0; --n)
    s += rng() % 3 ? kPieces[rng() % std::size(kPieces)] : std::string(1, char(1 + rng() % 255));
  return s;
}

// Sizing reports what filling writes (canaries are checked inside), one
// unit less overflows, locale text survives locale -> UTF-8 -> locale, and
// once warmed up no conversion opens a descriptor.
TEST_F(LocaleConv, SizingAgreesWithFillingOnGeneratedText) {
  std::mt19937 rng(20240611);
  for (const char* locale : kAll) {
    use_locale(locale);
    uint64_t opens = 0;
    for (int round = 0; round < 400; ++round) {
      if (round == 20) opens = dpxut::iconv_cache_thread_opens();
      WString w(rng() % 10);
      for (uint32_t& c : w) c = RandomChar(rng);
      const size_t shift = rng() % 4;
      for (auto f : {DPuni2loc, DPuni2locNoMap}) {
        const Converted c = Conv(f, w, 0, shift);
        if (c.sizing != 0) continue;
        EXPECT_EQ(Result(c).back(), '\0');
        EXPECT_EQ(Conv(f, w, -1, shift).filling, kOverflow);
      }
      const std::string s = RandomLocaleText(rng);
      for (auto f : {DPloc2uni, DPloc2uniNoMap}) {
        const Converted c = Conv(f, s, 0, shift);
        if (c.sizing != 0) continue;
        EXPECT_EQ(Result(c).substr(c.out.size() - 4), std::string(4, '\0')) << s;
        EXPECT_EQ(Conv(f, s, -1, shift).filling, kOverflow);
      }
      const Converted u = Conv(DPloc2utf8, s);
      if (u.sizing != 0) continue;
      EXPECT_EQ(Result(u).find('\0') + 1, u.size) << "the terminator is the last byte";
      EXPECT_EQ(Conv(DPloc2utf8, s, -1).filling, kOverflow);
      EXPECT_EQ(Result(Conv(DPutf82loc, u.out.c_str())), Z(s)) << "locale -> UTF-8 -> locale";
      EXPECT_EQ(Conv(DPutf82loc, u.out.c_str(), -1).filling, kOverflow);
    }
    EXPECT_EQ(dpxut::iconv_cache_thread_opens(), opens) << locale;
  }
}

TEST_F(LocaleConv, AsciiFastPathWritesWhatIconvWrites) {
  std::mt19937 rng(7);
  for (const char* locale : kAll) {
    use_locale(locale);
    for (int round = 0; round < 200; ++round) {
      std::string s(rng() % 40, ' ');
      for (char& c : s) c = static_cast<char>(1 + rng() % 0x7F);
      for (ptrdiff_t extra : {0, -1, -2}) {
        std::vector<Converted> r[2];
        for (int pass = 0; pass < 2; ++pass) {
          set_ascii_fast_path(pass == 0);
          r[pass] = {Conv(DPloc2utf8, s, extra), Conv(DPutf82loc, s, extra), Conv(DPloc2uniNoMap, s, extra, 1),
                     Conv(DPuni2loc, Widen(s), extra, 3)};
        }
        EXPECT_TRUE(r[0] == r[1]) << s << " " << extra;
      }
    }
  }
  set_ascii_fast_path(true);
}

}  // namespace
