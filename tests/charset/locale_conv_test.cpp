// Locale conversions in the ISO-8859-1, EUC-JP and UTF-8 test locales:
// special sequences both ways, completion codes, the multibyte-function
// routes, and the set-up on first use (of conversions and measures).
#include <gtest/gtest.h>

#include "charset/charset_test_util.h"
#include "charset/locale_conv.h"
#include "charset/multibyte.h"
#include "support/env.h"

namespace {

using namespace dpxut::test;
using LocaleConv = dpxut::testing::CharsetEnv;
using WString = std::vector<uint32_t>;  // wide text without its terminator

constexpr uint32_t kInvalid = HVDPUT_INVALID_PARAMETER, kOverflow = HVDPUT_OVERFLOW;
constexpr char kCanary = '\xA5';
const char *const kLatin1 = "en_US.ISO-8859-1", *const kEucJp = "ja_JP.EUC-JP", *const kUtf8 = "en_US.UTF-8";

std::string Z(const std::string& s) { return s + '\0'; }
// The bytes of wide text with its terminator, as a destination holds them.
std::string Raw(const WString& w) {
  return std::string(reinterpret_cast<const char*>(w.data()), 4 * w.size()) + std::string(4, '\0');
}

// Sizing call, then a filling call with the reported size plus `extra` (64
// units when the sizing failed) into a destination `shift` bytes off
// alignment between canaries. Gives the filled destination, "refused" when
// both calls refuse, "overflow" when the filling call overflows, else
// "failed"; a reported size other than the capacity follows a "#".
template <class D, class S>
std::string Convert(uint32_t (*f)(D*, size_t*, const S*), const S* src, ptrdiff_t extra, size_t shift) {
  size_t size = 7777, reported;
  const uint32_t sizing = f(nullptr, &size, src);
  const size_t cap = sizing != 0 ? 64 : std::max<ptrdiff_t>(0, static_cast<ptrdiff_t>(size) + extra);
  const size_t head = 8 + shift, bytes = cap * sizeof(D);
  std::string block(head + bytes + 8, kCanary);
  const uint32_t filling = f(reinterpret_cast<D*>(block.data() + head), &(reported = cap), src);
  EXPECT_EQ(block.substr(0, head) + block.substr(head + bytes), std::string(head + 8, kCanary)) << "wrote outside";
  if (sizing == kInvalid && filling == kInvalid) return "refused";
  if (sizing != 0 || filling != 0) return filling == kOverflow && sizing == 0 ? "overflow" : "failed";
  return block.substr(head, bytes) + (reported == cap ? "" : "#" + std::to_string(reported));
}
// Locale or UTF-8 text ending flush against a page without access.
template <class D>
std::string Conv(uint32_t (*f)(D*, size_t*, const char*), const std::string& s, ptrdiff_t extra = 0, size_t shift = 0) {
  return Convert(f, GuardedBytes(s + '\0').chars(), extra, shift);
}
// Wide text `shift` bytes past a 4-byte boundary, less than a unit before such a page.
std::string Conv(uint32_t (*f)(char*, size_t*, const wchar_t*), const WString& w, ptrdiff_t extra = 0,
                 size_t shift = 0) {
  GuardedBytes src(Raw(w) + std::string((4 - shift) % 4, kCanary));
  return Convert(f, reinterpret_cast<const wchar_t*>(src.data()), extra, 0);
}

TEST_F(LocaleConv, WritesCharactersTheCodeSetCannotHoldAsSpecialSequences) {
  // locale, text, DPuni2loc output (null: refused), whether DPuni2locNoMap refuses it (else writes the same);
  // a lone surrogate and U+FFFF are single sequences, characters above U+FFFF surrogate pairs; C3 E6: U+4E2D
  // in JIS X 0208, 8F AB B1: e acute in JIS X 0212, A4 A2: hiragana a; U+0E01 (Thai) is not in EUC-JP.
  const std::tuple<const char*, WString, const char*, bool> cases[] = {
      {kLatin1, {'a', 0x4E2D, 'b'}, "a[4E2D]b", true},  {kLatin1, {'c', 'a', 'f', 0xE9}, "caf\xE9", false},
      {kLatin1, {0xD800, 0xFFFF}, "[D800][FFFF]", true}, {kLatin1, {0x10000, 'x'}, "[D800][DC00]x", true},
      {kLatin1, {0x10FFFF}, "[DBFF][DFFF]", true},      {kLatin1, {'a', 0x110000}, nullptr, true},
      {kEucJp, {'a', 0x4E2D, 'b'}, "a\xC3\xE6" "b", false}, {kEucJp, {0xE9}, "\x8F\xAB\xB1", false},
      {kEucJp, {0x0E01, 0x3042}, "[0E01]\xA4\xA2", true},  {kUtf8, {0x1F600}, "\xF0\x9F\x98\x80", false},
  };
  for (const auto& [locale, text, mapped, nomap_refused] : cases) {
    use_locale(locale);
    EXPECT_EQ(Conv(DPuni2loc, text, 0, text.size() % 4), mapped ? Z(mapped) : "refused") << locale;
    EXPECT_EQ(Conv(DPuni2locNoMap, text), nomap_refused ? "refused" : Z(mapped)) << locale;
  }
}

TEST_F(LocaleConv, DecodesSpecialSequencesOnlyWhenMappingAndOneIsPresent) {
  const std::pair<std::string, WString> cases[] = {  // text, DPloc2uni output without terminator (none: as written)
      {"x[00e9]y", {'x', 0xE9, 'y'}},             {"[9AF0][afaf]", {0x9AF0, 0xAFAF}},
      {"[12G4][1234", {}},                        {"[12345]", {}},  // G: no hex digit; cut short; too long
      {"[[0041]]", {'[', 'A', ']'}},              {"[0000]z", {0, 'z'}},
      {"[D800][DC00]", {0x10000}},                {"[dbff][dfff]", {0x10FFFF}},  // a pair is one character
      {"[D83D]x[DE00]", {0xD83D, 'x', 0xDE00}},   {"[DC00][DC00]", {0xDC00, 0xDC00}},  // apart; no high unit
      {"[DBFF][E000]", {0xDBFF, 0xE000}},         {"[D83D][D83D][DE00]", {0xD83D, 0x1F600}},  // no pair; one
  };
  for (const char* locale : {kLatin1, kEucJp, kUtf8}) {
    use_locale(locale);
    for (const auto& [text, mapped] : cases) {
      const std::string as_written = Raw(WString(text.begin(), text.end()));
      EXPECT_EQ(Conv(DPloc2uni, text, 2, 1), (mapped.empty() ? as_written : Raw(mapped)) + std::string(8, kCanary));
      EXPECT_EQ(Conv(DPloc2uniNoMap, text), as_written) << locale << text;
    }
  }
  use_locale(kEucJp);  // A4 A2: hiragana a; 8F AB B1: e acute (three bytes); A4: a lead byte alone
  EXPECT_EQ(Conv(DPloc2uni, "\xA4\xA2\x8F\xAB\xB1[0E01]!") + Conv(DPloc2uni, "[0041]\xA4"),
            Raw({0x3042, 0xE9, 0x0E01, '!'}) + "refused");
}

TEST_F(LocaleConv, RecognisesSpecialSequencesWithoutReadingPastTheEnd) {
  for (size_t n = 0; n <= 10; ++n)  // "[09af]tail" cut after n bytes
    EXPECT_EQ(isSpecialSequence(GuardedBytes(std::string("[09af]tail", n) + '\0').chars()), n >= 6 ? 1 : 0) << n;
  EXPECT_EQ(isSpecialSequence("(00e9]") + isSpecialSequence("[ 0e9]") + isSpecialSequence("[00e9)"), 0);
}

// The scan that picks the ASCII copy and the special route sees a high byte
// or a special sequence wherever it stands in text of one to a few words,
// and reads nothing past the terminator (the text ends at a guard page).
TEST_F(LocaleConv, SeesAHighByteOrASequenceAtEveryPositionOfShortText) {
  use_locale(kLatin1);
  for (size_t len = 1; len <= 40; ++len) {
    for (size_t at = 0; at < len; ++at) {
      std::string text(len, 'a'), utf(len, 'a');
      text[at] = '\xE9';
      utf.replace(at, 1, "\xC3\xA9");
      EXPECT_EQ(Conv(DPloc2utf8, text), Z(utf)) << len << " at " << at;
      WString euro(len, 'a');  // not in Latin-1: a sequence, where taking it for ASCII would cut it to a byte
      euro[at] = 0x20AC;
      EXPECT_EQ(Conv(DPuni2loc, euro), Z(std::string(len, 'a').replace(at, 1, "[20AC]"))) << len << " at " << at;
      if (at + 6 > len) continue;
      WString wide(len - 5, 'a');
      wide[at] = 0xE9;
      EXPECT_EQ(Conv(DPloc2uni, std::string(len, 'a').replace(at, 6, "[00e9]")), Raw(wide)) << len << " at " << at;
    }
  }
}

// Text the code set cannot hold, or that is not valid in it, is invalid
// in every direction; locale to wide is never an overflow, so that a
// caller that grows its buffer on overflow cannot loop.
TEST_F(LocaleConv, ReportsInvalidTextAsInvalid) {
  use_locale(kLatin1);  // cut; U+4E2D is not in Latin-1
  EXPECT_EQ(Conv(DPutf82loc, "\xC3") + Conv(DPutf82loc, "\xE4\xB8\xAD"), "refusedrefused");
  use_locale(kEucJp);  // a lead byte alone; no lead byte
  EXPECT_EQ(Conv(DPloc2utf8, "\xA4") + Conv(DPloc2utf8, "\xFF\xFE"), "refusedrefused");
  use_locale(kUtf8);  // a surrogate cut short; an over-long NUL
  EXPECT_EQ(Conv(DPloc2uni, "ab\xED\xA0") + Conv(DPloc2uniNoMap, "ab\xC0\x80"), "refusedrefused");
}

// The exported passes run no set-up: they give the capacity or a code.
TEST_F(LocaleConv, PassesReportTheCapacityOrACode) {
  use_locale(kLatin1);
  size_t size = 5;
  char out[16];
  const wchar_t wide[] = {L'a', 0x4E2D, 0};
  EXPECT_TRUE(dp_locs2utfs(out, "caf\xE9", 16) == 16 && dp_utfs2locs(out, "caf\xC3\xA9", 4) == kOverflow);
  EXPECT_TRUE(dp_unis2locsize(wide, &size, 0) == kInvalid && dp_unis2locsize(wide, &size, 1) == 0 && size == 8);
  EXPECT_TRUE(dp_unis2locs(out, wide, 8, 1) == 8 && dp_locs2unisize("a[4E2D]", &size, 1) == 0 && size == 3);
  EXPECT_EQ(dp_locs2unis(reinterpret_cast<wchar_t*>(out), "a[4E2D]", 3, 0), kOverflow);
  std::strcpy(dp_current_codeset, "");  // an empty name is never handed to iconv, fast path or not
  EXPECT_EQ(Conv(DPloc2utf8, "a") + Conv(DPloc2uni, "a[0041]") + Conv(DPuni2loc, {'a'}), "refusedrefusedrefused");
}

// On the multibyte routes mbsrtowcs reports the characters converted and
// wcsrtombs the capacity; out of room before the terminator is an overflow,
// never an unterminated success. Long text crosses their internal chunks.
// What the platform refuses goes to iconv, which maps it; the special route
// never uses mbsrtowcs.
TEST_F(LocaleConv, MultibyteRoutesReportCountsOverflowAndFallBack) {
  const std::string k(1000, 'k'), w(600, 'w');
  for (const char* locale : {kLatin1, kEucJp, kUtf8}) {
    use_locale(locale);
    DPUseMbFunctions = 1;
    EXPECT_EQ(Conv(DPloc2uni, k, 0, 1), Raw(WString(k.begin(), k.end())) + "#1000") << locale;
    EXPECT_EQ(Conv(DPloc2uniNoMap, "ab", 3, 2), Raw({'a', 'b'}) + std::string(12, kCanary) + "#2") << locale;
    EXPECT_EQ(Conv(DPuni2loc, WString(w.begin(), w.end()), 0, 1), Z(w)) << locale;
    EXPECT_EQ(Conv(DPloc2uni, k, -1, 3) + Conv(DPuni2loc, WString(w.begin(), w.end()), -1) +
                  Conv(DPuni2loc, {'a', 0xE9}, -1), "overflowoverflowoverflow") << locale;
  }
  use_locale(kLatin1);
  EXPECT_EQ(Conv(DPuni2loc, {'a', 0x4E2D, 'b'}, 0, 2) + Conv(DPuni2locNoMap, {0x4E2D}) + Conv(DPloc2uni, "x[00e9]"),
            Z("a[4E2D]b") + "refused" + Raw({'x', 0xE9}));
}

TEST_F(LocaleConv, FirstConversionOrMeasureRunsTheSetUpOnceUntilShutDown) {
  WriteLanguageFile("RC_LANG=\"zz_WW\"\n");  // zz_WW: the ISO-8859-1 test locale
  // Wide sources run the set-up before checking their arguments, the
  // others after; the exported passes and empty text to measure never run it.
  size_t size = 0;
  EXPECT_TRUE(dp_locs2utfsize("abc", &size) + DPloc2uni(nullptr, nullptr, "a") + dp_mblen("", 4) == 2 * kInvalid &&
              DPInitICONV == 0);
  EXPECT_TRUE(DPuni2locNoMap(nullptr, nullptr, L"a") == kInvalid && DPInitICONV == 1);
  EXPECT_STREQ(dp_current_codeset, "ISO-8859-1");
  WriteLanguageFile("RC_LANG=xx_YY\n");  // later calls keep it; after shut-down the next call runs it again
  EXPECT_EQ(Conv(DPloc2utf8, "caf\xE9"), Z("caf\xC3\xA9"));
  DPShutDownUniLibrary();
  EXPECT_TRUE(Conv(DPloc2uni, "\xA4\xA2") == Raw({0x3042}) && std::string(dp_current_codeset) == "EUC-JP");
  DPShutDownUniLibrary();  // measures run it too, by trial and with no room to measure in as well
  EXPECT_TRUE(dpxut::charset::mblen_by_trial("\xA4\xA2", 2) == 2 && DPInitICONV == 1);
  DPShutDownUniLibrary();
  WriteLanguageFile("RC_LANG=uu_VV\n");
  EXPECT_TRUE(dp_mblen("\xE4\xB8\xAD", 0) == 1 && std::string(dp_current_codeset) == "UTF-8");
  DPShutDownUniLibrary();
  WriteLanguageFile("RC_LANG=qq_QQ\n");  // cannot be selected: the set-up fails but counts as done
  EXPECT_TRUE(dp_mblen("\xE4\xB8\xAD", 3) == 3 && DPInitICONV == 1) << "measured in the code set kept";
}

TEST_F(LocaleConv, ReturnsToTheInitialShiftStateBeforeASpecialSequence) {
  ASSERT_EQ(DPInitUniLibrary("ISO-2022-JP"), 0u);
  // ESC $ B 43 66 (U+4E2D in JIS X 0208), ESC ( B back to ASCII, then the
  // sequence for e acute, which ISO-2022-JP cannot hold.
  EXPECT_EQ(Conv(DPuni2loc, {0x4E2D, 0xE9, 'a'}), Z("\x1B$BCf\x1B(B[00E9]a"));
  EXPECT_EQ(Conv(DPuni2loc, {0x4E2D, 0xE9}, -1), "overflow");
  // Its ASCII is not copied by the fast path: ESC changes the meaning.
  for (const char* cs : {"ISO-2022-JP", "SJIS", "UTF-16", "UTF-7", ""})
    EXPECT_FALSE(dpxut::charset::ascii_transparent(cs)) << cs;
  for (const char* cs : {"EUC-JP", "ISO-8859-1", "UTF-8"}) EXPECT_TRUE(dpxut::charset::ascii_transparent(cs)) << cs;
}

}  // namespace
