// Locale conversions in the ISO-8859-1, EUC-JP and UTF-8 test locales:
// worked examples, special sequences both ways, sizes and overflow by one,
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
constexpr unsigned char kCanary = 0xA5;

struct Locale {
  const char* name;
  const char* codeset;
};
constexpr Locale kLatin1{"en_US.ISO-8859-1", "ISO-8859-1"};
constexpr Locale kEucJp{"ja_JP.EUC-JP", "EUC-JP"};
constexpr Locale kUtf8{"en_US.UTF-8", "UTF-8"};

// Outcome of a sized conversion: both codes, the size and what was written.
struct Converted {
  uint32_t sizing = 0;
  uint32_t filling = 0;
  size_t size = 0;
  std::string bytes;  // locale/UTF-8 output with its NUL
  WString wide;       // wide output with its terminator
};

// Wide text placed at byte offset `shift` of an aligned block, with its
// terminator, so that every alignment of a host's buffer is exercised.
class WideAt {
 public:
  WideAt(const WString& text, size_t shift) : block_((text.size() + 2) * 4 + shift, kCanary) {
    for (size_t i = 0; i <= text.size(); ++i) {
      const uint32_t c = i < text.size() ? text[i] : 0;
      std::memcpy(block_.data() + shift + i * 4, &c, 4);
    }
    ptr_ = reinterpret_cast<const wchar_t*>(block_.data() + shift);
  }
  const wchar_t* get() const { return ptr_; }

 private:
  std::vector<unsigned char> block_;
  const wchar_t* ptr_;
};

// The capacity a filling call gets: the size reported plus `extra`, but
// never below zero.
size_t Capacity(size_t size, ptrdiff_t extra) {
  return extra < 0 && size < static_cast<size_t>(-extra) ? 0 : size + extra;
}

using WideToLoc = uint32_t (*)(char*, size_t*, const wchar_t*);
using LocToWide = uint32_t (*)(wchar_t*, size_t*, const char*);
using BytesToBytes = uint32_t (*)(char*, size_t*, const char*);

// Sizing call, then filling with the size reported (plus `extra`) into a
// block surrounded by canaries that must stay untouched.
Converted Bytes(BytesToBytes f, const std::string& src, ptrdiff_t extra = 0) {
  Converted c;
  c.sizing = f(nullptr, &c.size, src.c_str());
  if (c.sizing != 0) return c;
  const size_t cap = Capacity(c.size, extra);
  std::vector<char> out(cap + 16, static_cast<char>(kCanary));
  size_t size = cap;
  c.filling = f(out.data() + 8, &size, src.c_str());
  for (size_t i = 0; i < 8; ++i) {
    EXPECT_EQ(static_cast<unsigned char>(out[i]), kCanary);
    EXPECT_EQ(static_cast<unsigned char>(out[8 + cap + i]), kCanary);
  }
  EXPECT_EQ(size, cap);  // kept on success (capacity) and on failure
  if (c.filling == 0) {
    c.bytes.assign(out.data() + 8, cap);
    EXPECT_EQ(c.bytes.find('\0') + 1, cap) << "terminator is the last byte written";
  }
  return c;
}

Converted ToLocale(WideToLoc f, const WString& src, ptrdiff_t extra = 0, size_t shift = 0) {
  const WideAt in(src, shift);
  Converted c;
  c.sizing = f(nullptr, &c.size, in.get());
  if (c.sizing != 0) return c;
  const size_t cap = Capacity(c.size, extra);
  std::vector<char> out(cap + 16, static_cast<char>(kCanary));
  size_t size = cap;
  c.filling = f(out.data() + 8, &size, in.get());
  for (size_t i = 0; i < 8; ++i) {
    EXPECT_EQ(static_cast<unsigned char>(out[i]), kCanary);
    EXPECT_EQ(static_cast<unsigned char>(out[8 + cap + i]), kCanary);
  }
  EXPECT_EQ(size, cap);
  if (c.filling == 0) c.bytes.assign(out.data() + 8, cap);
  return c;
}

// `shift` places the wide destination at 0..3 mod 4. *reported receives
// what the filling call left in *size.
Converted ToWide(LocToWide f, const std::string& src, ptrdiff_t extra = 0, size_t shift = 0,
                 size_t* reported = nullptr) {
  Converted c;
  c.sizing = f(nullptr, &c.size, src.c_str());
  if (c.sizing != 0) return c;
  const size_t cap = Capacity(c.size, extra);
  std::vector<unsigned char> out((cap + 4) * 4 + shift, kCanary);
  unsigned char* dst = out.data() + 8 + shift;
  size_t size = cap;
  c.filling = f(reinterpret_cast<wchar_t*>(dst), &size, src.c_str());
  for (unsigned char* p = out.data(); p < dst; ++p) EXPECT_EQ(*p, kCanary);
  for (unsigned char* p = dst + cap * 4; p < out.data() + out.size(); ++p) EXPECT_EQ(*p, kCanary);
  if (reported != nullptr) *reported = size;
  else EXPECT_EQ(size, cap);
  if (c.filling == 0) {
    c.wide.resize(cap);
    std::memcpy(c.wide.data(), dst, cap * 4);
  }
  return c;
}

WString W(std::initializer_list<uint32_t> units) { return WString(units); }
WString Terminated(WString w) {
  w.push_back(0);
  return w;
}
std::string Z(const std::string& s) { return std::string(s) + '\0'; }

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

// ---- worked examples ------------------------------------------------------

TEST_F(LocaleConv, WritesCharactersTheCodeSetCannotHoldAsSpecialSequences) {
  struct Case {
    Locale locale;
    WString text;
    std::string mapped;  // DPuni2loc output without its NUL
    bool nomap_fails;
  };
  const Case cases[] = {
      {kLatin1, W({'a', 0x4E2D, 'b'}), "a[4E2D]b", true},
      {kLatin1, W({'c', 'a', 'f', 0xE9}), "caf\xE9", false},
      {kLatin1, W({0x20AC}), "[20AC]", true},                 // euro sign: not in Latin-1
      {kLatin1, W({0xD800}), "[D800]", true},                 // lone surrogate
      {kLatin1, W({0x1F600, 'x'}), "[D83D][DE00]x", true},    // above U+FFFF: surrogate pair
      {kLatin1, W({0x10FFFF}), "[DBFF][DFFF]", true},
      {kEucJp, W({'a', 0x4E2D, 'b'}), "a\xC3\xE6" "b", false},  // C3 E6: JIS X 0208
      {kEucJp, W({0xE9}), "\x8F\xAB\xB1", false},               // 8F AB B1: JIS X 0212
      {kEucJp, W({0x0E01, 0x3042}), "[0E01]\xA4\xA2", true},     // Thai letter, hiragana a
      {kUtf8, W({'a', 0x4E2D, 0x1F600}), "a\xE4\xB8\xAD\xF0\x9F\x98\x80", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mapped);
    Use(c.locale);
    const Converted m = ToLocale(DPuni2loc, c.text);
    ASSERT_EQ(m.sizing, 0u);
    EXPECT_EQ(m.size, c.mapped.size() + 1);
    EXPECT_EQ(m.filling, 0u);
    EXPECT_EQ(m.bytes, Z(c.mapped));
    const Converted n = ToLocale(DPuni2locNoMap, c.text);
    if (c.nomap_fails) {
      EXPECT_EQ(n.sizing, kInvalid);
      size_t size = 64;
      std::vector<char> out(64);
      EXPECT_EQ(DPuni2locNoMap(out.data(), &size, WideAt(c.text, 0).get()), kInvalid);
      EXPECT_EQ(size, 64u);
    } else {
      EXPECT_EQ(n.bytes, Z(c.mapped));
    }
  }
}

TEST_F(LocaleConv, RefusesWideValuesThatAreNoCharacterEvenWhenMapping) {
  Use(kLatin1);
  for (uint32_t bad : {0x110000u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
    const WString text = W({'a', bad});
    size_t size = 0;
    EXPECT_EQ(DPuni2loc(nullptr, &size, WideAt(text, 0).get()), kInvalid);
    char out[64];
    size = sizeof out;
    EXPECT_EQ(DPuni2loc(out, &size, WideAt(text, 0).get()), kInvalid);
    EXPECT_EQ(size, sizeof out);
  }
}

TEST_F(LocaleConv, DecodesSpecialSequencesOnlyWhenMappingAndOneIsPresent) {
  struct Case {
    std::string text;
    WString mapped;  // DPloc2uni output without terminator
  };
  const Case cases[] = {
      {"x[00e9]y", W({'x', 0xE9, 'y'})},
      {"[4E2D]", W({0x4E2D})},
      {"[12G4]", W({'[', '1', '2', 'G', '4', ']'})},     // G: no hexadecimal digit
      {"[1234", W({'[', '1', '2', '3', '4'})},            // cut short by the end
      {"[12345]", W({'[', '1', '2', '3', '4', '5', ']'})},
      {"[0041][12G4][0042]", W({'A', '[', '1', '2', 'G', '4', ']', 'B'})},
      {"[[0041]]", W({'[', 'A', ']'})},
      {"[D83D][DE00]", W({0x1F600})},                     // surrogate pair: one character
      {"[d83d][de00]", W({0x1F600})},
      {"[D83D]x[DE00]", W({0xD83D, 'x', 0xDE00})},        // not adjacent: two units
      {"[DE00][D83D]", W({0xDE00, 0xD83D})},              // wrong order
      {"[D83D][D83D][DE00]", W({0xD83D, 0x1F600})},
      {"[0000]z", W({0, 'z'})},                           // kept as written
  };
  for (const Locale& l : {kLatin1, kEucJp, kUtf8}) {
    Use(l);
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(l.codeset) + " " + c.text);
      const Converted m = ToWide(DPloc2uni, c.text);
      ASSERT_EQ(m.sizing, 0u);
      EXPECT_EQ(m.filling, 0u);
      EXPECT_EQ(m.wide, Terminated(c.mapped));
      const Converted n = ToWide(DPloc2uniNoMap, c.text);
      WString as_text(c.text.begin(), c.text.end());
      EXPECT_EQ(n.wide, Terminated(as_text));
    }
  }
}

TEST_F(LocaleConv, DecodesSequencesBesideMultibyteCharactersOfTheCodeSet) {
  Use(kEucJp);
  // A4 A2: hiragana a; 8F AB B1: e acute (three bytes); then a sequence.
  const Converted c = ToWide(DPloc2uni, "\xA4\xA2\x8F\xAB\xB1[0E01]!");
  EXPECT_EQ(c.wide, Terminated(W({0x3042, 0xE9, 0x0E01, '!'})));
  // Invalid text on the special route.
  EXPECT_EQ(ToWide(DPloc2uni, "[0041]\xA4").sizing, kInvalid);
  EXPECT_EQ(ToWide(DPloc2uni, "[0041]\xFF\xFF").sizing, kInvalid);
}

TEST_F(LocaleConv, RoundTripsEveryCharacterThroughSpecialSequences) {
  Use(kLatin1);
  const WString text = W({'n', 0x4E2D, 0xE9, 0x1F600, 0xD800, 'z', 0x10000, 0xFFFF});
  const Converted out = ToLocale(DPuni2loc, text);
  ASSERT_EQ(out.filling, 0u);
  const Converted back = ToWide(DPloc2uni, out.bytes.c_str());
  EXPECT_EQ(back.wide, Terminated(text));
}

TEST_F(LocaleConv, RecognisesSpecialSequencesWithoutReadingPastTheEnd) {
  struct Case {
    const char* s;
    int expected;
  };
  const Case cases[] = {
      {"[00e9]", 1}, {"[ABCD]tail", 1}, {"[abcd]", 1}, {"[00e9", 0}, {"[0G00]", 0},
      {"(00e9]", 0}, {"[ 0e9]", 0},     {"[+0e9]", 0}, {"", 0},      {"[", 0},
      {"[00e9)", 0}, {"[12345]", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(isSpecialSequence(c.s), c.expected) << c.s;
  EXPECT_EQ(isSpecialSequence(nullptr), 0);
  // Each prefix of a sequence, ending flush against a page without access.
  const std::string full = "[00E9]";
  for (size_t n = 0; n <= full.size(); ++n) {
    dpxut::test::GuardedBytes exact(full.substr(0, n) + '\0');
    EXPECT_EQ(isSpecialSequence(exact.chars()), n == full.size() ? 1 : 0);
  }
}

TEST_F(LocaleConv, ReadsNothingPastTheTerminator) {
  // Sources end flush against a page without access: one byte read past
  // the NUL faults.
  for (const Locale& l : {kLatin1, kEucJp}) {
    Use(l);
    for (const char* text : {"x[00e9", "[0041][D83D", "ab[", "\xA4", "[00E9]", ""}) {
      dpxut::test::GuardedBytes src(std::string(text) + '\0');
      size_t size = 0;
      DPloc2uni(nullptr, &size, src.chars());
      DPloc2uniNoMap(nullptr, &size, src.chars());
      DPloc2utf8(nullptr, &size, src.chars());
      DPutf82loc(nullptr, &size, src.chars());
      wchar_t out[16];
      size = 16;
      DPloc2uni(out, &size, src.chars());
      isSpecialSequence(src.chars());
    }
    for (size_t shift = 0; shift < 4; ++shift) {
      const WString text = W({'a', 0x4E2D, 0x1F600});
      dpxut::test::GuardedBytes src((text.size() + 1) * 4 + shift);
      unsigned char* at = src.data() + shift;
      std::memcpy(at, Terminated(text).data(), (text.size() + 1) * 4);
      const auto* uni = reinterpret_cast<const wchar_t*>(at);
      size_t size = 0;
      EXPECT_EQ(DPuni2loc(nullptr, &size, uni), 0u);
      std::vector<char> out(size);
      EXPECT_EQ(DPuni2loc(out.data(), &size, uni), 0u);
      DPUseMbFunctions = 1;
      EXPECT_EQ(DPuni2locNoMap(nullptr, &size, uni), kInvalid);
      DPUseMbFunctions = 0;
    }
  }
}

// ---- sizes, overflow by one, codes ----------------------------------------

TEST_F(LocaleConv, SizesCountTheTerminatorAndFillingKeepsTheCapacity) {
  Use(kLatin1);
  struct Case {
    const char* what;
    size_t size;
  };
  EXPECT_EQ(Bytes(DPloc2utf8, "").size, 1u);
  EXPECT_EQ(Bytes(DPutf82loc, "").size, 1u);
  EXPECT_EQ(Bytes(DPloc2utf8, "caf\xE9").size, 6u);       // é takes two UTF-8 bytes
  EXPECT_EQ(Bytes(DPutf82loc, "caf\xC3\xA9").size, 5u);
  EXPECT_EQ(ToWide(DPloc2uni, "").size, 1u);
  EXPECT_EQ(ToWide(DPloc2uni, "ab").size, 3u);
  EXPECT_EQ(ToWide(DPloc2uni, "a[4E2D]").size, 3u);
  EXPECT_EQ(ToLocale(DPuni2loc, W({})).size, 1u);
  // A capacity larger than needed is kept as passed, too.
  size_t size = 100;
  char out[100];
  EXPECT_EQ(DPloc2utf8(out, &size, "abc"), 0u);
  EXPECT_EQ(size, 100u);
  EXPECT_STREQ(out, "abc");
}

TEST_F(LocaleConv, ReportsOverflowWhenTheCapacityIsOneTooSmall) {
  const WString wide_text = W({'a', 0x4E2D, 0xE9, 'b'});
  const std::string latin1 = "a[4E2D]\xE9x";
  for (bool fast : {true, false}) {
    set_ascii_fast_path(fast);
    for (const Locale& l : {kLatin1, kEucJp, kUtf8}) {
      SCOPED_TRACE(std::string(l.codeset) + (fast ? " fast" : " iconv"));
      Use(l);
      for (const std::string& s : {std::string(""), std::string("abc"), std::string("a[0041]b")}) {
        EXPECT_EQ(Bytes(DPloc2utf8, s, -1).filling, kOverflow);
        EXPECT_EQ(Bytes(DPutf82loc, s, -1).filling, kOverflow);
        EXPECT_EQ(ToWide(DPloc2uni, s, -1).filling, kOverflow);
        EXPECT_EQ(ToWide(DPloc2uniNoMap, s, -1).filling, kOverflow);
        EXPECT_EQ(Bytes(DPloc2utf8, s, 0).filling, 0u);
        EXPECT_EQ(ToWide(DPloc2uni, s, 0).filling, 0u);
      }
      // Wide to locale: too small is an overflow, with or without a sequence
      // at the end of the room.
      for (const WString& w : {W({}), W({'x', 'y'}), wide_text, W({'q', 0x1F600})}) {
        EXPECT_EQ(ToLocale(DPuni2loc, w, -1).filling, kOverflow);
        EXPECT_EQ(ToLocale(DPuni2loc, w, 0).filling, 0u);
      }
    }
  }
}

TEST_F(LocaleConv, FillsExactlyTheReportedSizeWhereIconvAsksForMoreRoom) {
  // glibc drops Unicode tag characters when writing EUC-JP, but asks for
  // room for a two-byte character before it finds that out.
  // wcsrtombs stops short the same way.
  Use(kEucJp);
  for (int mb : {0, 1}) {
    DPUseMbFunctions = mb;
    for (const WString& w : {W({'a', 0xE0001}), W({0x3042, 0xE0041, 'z'}), W({0xE0000})}) {
      for (WideToLoc f : {DPuni2loc, DPuni2locNoMap}) {
        const Converted c = ToLocale(f, w);
        ASSERT_EQ(c.sizing, 0u);
        EXPECT_EQ(c.filling, 0u) << "mb " << mb;
        EXPECT_EQ(ToLocale(f, w, -1).filling, kOverflow);
      }
    }
  }
}

TEST_F(LocaleConv, ReportsInvalidTextAsInvalidInEveryDirection) {
  struct Case {
    Locale locale;
    BytesToBytes f;
    std::string text;
  };
  const Case cases[] = {
      {kLatin1, DPutf82loc, "\xC3"},              // cut UTF-8 sequence
      {kLatin1, DPutf82loc, "\xE4\xB8\xAD"},      // U+4E2D: not in Latin-1
      {kLatin1, DPutf82loc, "\xFF"},
      {kEucJp, DPloc2utf8, "\xA4"},               // lead byte without its partner
      {kEucJp, DPloc2utf8, "\xFF\xFE"},
      {kUtf8, DPloc2utf8, "\xC0\x80"},            // over-long NUL
      {kUtf8, DPutf82loc, "\xED\xA0\x80"},        // encoded surrogate
  };
  for (const Case& c : cases) {
    Use(c.locale);
    size_t size = 7;
    EXPECT_EQ(c.f(nullptr, &size, c.text.c_str()), kInvalid);
    EXPECT_EQ(size, 7u) << "a failed sizing call stores nothing";
    char out[64];
    size = sizeof out;
    EXPECT_EQ(c.f(out, &size, c.text.c_str()), kInvalid);
    EXPECT_EQ(size, sizeof out);
  }
  // Locale to wide: invalid text is invalid, not an overflow, on both
  // passes, so a caller that grows its buffer on overflow cannot loop.
  Use(kEucJp);
  for (LocToWide f : {DPloc2uni, DPloc2uniNoMap}) {
    size_t size = 0;
    EXPECT_EQ(f(nullptr, &size, "ab\xA4"), kInvalid);
    wchar_t out[16];
    size = 16;
    EXPECT_EQ(f(out, &size, "ab\xA4"), kInvalid);
  }
}

TEST_F(LocaleConv, RefusesNullArgumentsAndUnknownCodeSets) {
  Use(kLatin1);
  size_t size = 5;
  char out[8];
  wchar_t wout[8];
  const wchar_t wide[] = {L'a', 0};
  EXPECT_EQ(DPutf82loc(out, nullptr, "a"), kInvalid);
  EXPECT_EQ(DPutf82loc(out, &size, nullptr), kInvalid);
  EXPECT_EQ(DPloc2utf8(out, &size, nullptr), kInvalid);
  EXPECT_EQ(DPloc2uni(wout, &size, nullptr), kInvalid);
  EXPECT_EQ(DPloc2uniNoMap(wout, nullptr, "a"), kInvalid);
  EXPECT_EQ(DPuni2loc(out, &size, nullptr), kInvalid);
  EXPECT_EQ(DPuni2locNoMap(out, nullptr, wide), kInvalid);
  EXPECT_EQ(size, 5u);
  EXPECT_EQ(dp_utfs2locsize(nullptr, &size), kInvalid);
  EXPECT_EQ(dp_locs2unis(nullptr, "a", 4, 1), size_t{kInvalid});
  // A code set iconv does not know, or none at all: every pass refuses.
  for (const char* name : {"NO-SUCH-CODESET", ""}) {
    std::strcpy(dp_current_codeset, name);
    for (bool fast : {true, false}) {
      set_ascii_fast_path(fast);
      EXPECT_EQ(DPloc2utf8(nullptr, &size, "abc"), kInvalid) << name;
      EXPECT_EQ(DPutf82loc(nullptr, &size, "abc"), kInvalid);
      EXPECT_EQ(DPloc2uni(nullptr, &size, "abc"), kInvalid);
      EXPECT_EQ(DPuni2loc(nullptr, &size, wide), kInvalid);
      size = 8;
      EXPECT_EQ(DPloc2utf8(out, &size, "abc"), kInvalid);
      EXPECT_EQ(DPloc2uni(wout, &size, "abc"), kInvalid);
      EXPECT_EQ(DPuni2loc(out, &size, wide), kInvalid);
    }
  }
}

TEST_F(LocaleConv, ExportedPassesReturnTheCapacityOrACode) {
  Use(kLatin1);
  size_t size = 0;
  EXPECT_EQ(dp_locs2utfsize("caf\xE9", &size), 0u);
  EXPECT_EQ(size, 6u);
  char out[16];
  EXPECT_EQ(dp_locs2utfs(out, "caf\xE9", sizeof out), sizeof out);
  EXPECT_STREQ(out, "caf\xC3\xA9");
  EXPECT_EQ(dp_locs2utfs(out, "caf\xE9", 5), size_t{kOverflow});
  EXPECT_EQ(dp_utfs2locsize("\xE4\xB8\xAD", &size), kInvalid);
  EXPECT_EQ(dp_utfs2locs(out, "\xC3\xA9", 2), 2u);
  const wchar_t wide[] = {L'a', 0x4E2D, 0};
  EXPECT_EQ(dp_unis2locsize(wide, &size, 1), 0u);
  EXPECT_EQ(size, 8u);
  EXPECT_EQ(dp_unis2locsize(wide, &size, 0), kInvalid);
  EXPECT_EQ(dp_unis2locs(out, wide, 8, 1), 8u);
  EXPECT_STREQ(out, "a[4E2D]");
  EXPECT_EQ(dp_unis2locs(out, wide, 7, 1), size_t{kOverflow});
  EXPECT_EQ(dp_locs2unisize("a[4E2D]", &size, 1), 0u);
  EXPECT_EQ(size, 3u);
  EXPECT_EQ(dp_locs2unisize("a[4E2D]", &size, 0), 0u);
  EXPECT_EQ(size, 8u);
  wchar_t wout[8];
  EXPECT_EQ(dp_locs2unis(wout, "a[4E2D]", 3, 1), 3u);
  EXPECT_EQ(wout[1], 0x4E2D);
  EXPECT_EQ(dp_locs2unis(wout, "a[4E2D]", 2, 1), size_t{kOverflow});
}

// ---- wide text at any address ---------------------------------------------

TEST_F(LocaleConv, ConvertsWideTextAtEveryAlignment) {
  for (const Locale& l : {kLatin1, kEucJp, kUtf8}) {
    Use(l);
    const WString text = W({'p', 0xE9, 0x4E2D, 'q', 0x1F600});
    const Converted ref = ToLocale(DPuni2loc, text);
    ASSERT_EQ(ref.filling, 0u);
    for (size_t shift = 0; shift < 4; ++shift) {
      SCOPED_TRACE(std::string(l.codeset) + " shift " + std::to_string(shift));
      EXPECT_EQ(ToLocale(DPuni2loc, text, 0, shift).bytes, ref.bytes);
      EXPECT_EQ(ToLocale(DPuni2loc, W({'a', 'b'}), 0, shift).bytes, Z("ab"));
      EXPECT_EQ(ToWide(DPloc2uni, ref.bytes.c_str(), 0, shift).wide, Terminated(text));
      EXPECT_EQ(ToWide(DPloc2uniNoMap, "plain", 0, shift).wide,
                Terminated(W({'p', 'l', 'a', 'i', 'n'})));
      EXPECT_EQ(ToWide(DPloc2uni, "plain", -1, shift).filling, kOverflow);
    }
  }
}

// ---- the platform's multibyte functions -----------------------------------

TEST_F(LocaleConv, MultibyteRoutesReportCountsAndOverflow) {
  for (const Locale& l : {kLatin1, kEucJp, kUtf8}) {
    SCOPED_TRACE(l.codeset);
    Use(l);
    DPUseMbFunctions = 1;
    // mbsrtowcs: the filling call reports the characters converted.
    const std::string text = l.codeset == kLatin1.codeset ? "caf\xE9" : "abc\xA4\xA2";
    const std::string src = l.codeset == kUtf8.codeset ? "caf\xC3\xA9" : text;
    size_t reported = 0;
    const Converted c = ToWide(DPloc2uni, src, 0, 1, &reported);
    ASSERT_EQ(c.filling, 0u);
    EXPECT_EQ(reported, c.size - 1);
    EXPECT_EQ(ToWide(DPloc2uniNoMap, src, 3, 2, &reported).filling, 0u);
    EXPECT_EQ(reported, c.size - 1);
    // Out of room before the terminator: an overflow, never an unterminated
    // success.
    EXPECT_EQ(ToWide(DPloc2uni, src, -1, 3, &reported).filling, kOverflow);
    // Long text crosses the routes' internal chunks.
    const std::string long_text(1000, 'k');
    EXPECT_EQ(ToWide(DPloc2uni, long_text, 0, 1, &reported).filling, 0u);
    EXPECT_EQ(reported, 1000u);
    EXPECT_EQ(ToWide(DPloc2uni, long_text, -1, 1, &reported).filling, kOverflow);
    // wcsrtombs: overflow by one, and the capacity kept on success.
    const WString wide_text(600, 'w');
    EXPECT_EQ(ToLocale(DPuni2loc, wide_text, 0, 1).bytes, Z(std::string(600, 'w')));
    EXPECT_EQ(ToLocale(DPuni2loc, wide_text, -1, 1).filling, kOverflow);
    EXPECT_EQ(ToLocale(DPuni2loc, W({'a', 0xE9}), -1, 3).filling, kOverflow);
  }
}

TEST_F(LocaleConv, MultibyteRoutesFallBackToIconvForWhatThePlatformRefuses) {
  Use(kLatin1);
  DPUseMbFunctions = 1;
  // wcsrtombs cannot write U+4E2D in Latin-1: iconv maps it.
  const Converted c = ToLocale(DPuni2loc, W({'a', 0x4E2D, 'b'}), 0, 2);
  EXPECT_EQ(c.bytes, Z("a[4E2D]b"));
  EXPECT_EQ(ToLocale(DPuni2locNoMap, W({'a', 0x4E2D})).sizing, kInvalid);
  // The special route never uses mbsrtowcs: the capacity is kept.
  size_t reported = 0;
  const Converted s = ToWide(DPloc2uni, "x[00e9]", 0, 0, &reported);
  EXPECT_EQ(s.wide, Terminated(W({'x', 0xE9})));
  EXPECT_EQ(reported, 3u);
}

// ---- set-up on first use ----------------------------------------------------

class LocaleConvSetUp : public dpxut::testing::CharsetEnv {};

TEST_F(LocaleConvSetUp, FirstCallRunsTheSetUpOnce) {
  WriteLanguageFile("RC_LANG=\"zz_WW\"\n");  // zz_WW: the ISO-8859-1 test locale
  ASSERT_EQ(DPInitICONV, 0);
  size_t size = 0;
  ASSERT_EQ(DPloc2utf8(nullptr, &size, "caf\xE9"), 0u);
  EXPECT_EQ(DPInitICONV, 1);
  EXPECT_STREQ(dp_current_codeset, "ISO-8859-1");
  EXPECT_EQ(size, 6u);
  // Later calls keep it: a changed file is not read again.
  WriteLanguageFile("RC_LANG=xx_YY\n");
  std::vector<char> out(size);
  EXPECT_EQ(DPloc2utf8(out.data(), &size, "caf\xE9"), 0u);
  EXPECT_STREQ(out.data(), "caf\xC3\xA9");
  EXPECT_STREQ(dp_current_codeset, "ISO-8859-1");
  // After shut-down the next call runs it again.
  DPShutDownUniLibrary();
  EXPECT_EQ(DPloc2uni(nullptr, &size, "\xA4\xA2"), 0u);
  EXPECT_STREQ(dp_current_codeset, "EUC-JP");
  EXPECT_EQ(size, 2u);
}

TEST_F(LocaleConvSetUp, WideSourcesRunTheSetUpBeforeCheckingArguments) {
  WriteLanguageFile("RC_LANG=xx_YY\n");
  EXPECT_EQ(DPutf82loc(nullptr, nullptr, "a"), kInvalid);
  EXPECT_EQ(DPloc2utf8(nullptr, nullptr, "a"), kInvalid);
  EXPECT_EQ(DPloc2uni(nullptr, nullptr, "a"), kInvalid);
  EXPECT_EQ(DPloc2uniNoMap(nullptr, nullptr, "a"), kInvalid);
  EXPECT_EQ(DPInitICONV, 0);
  EXPECT_EQ(DPuni2locNoMap(nullptr, nullptr, L"a"), kInvalid);
  EXPECT_EQ(DPInitICONV, 1);
  EXPECT_STREQ(dp_current_codeset, "EUC-JP");
}

TEST_F(LocaleConvSetUp, ExportedPassesRunNoSetUp) {
  WriteLanguageFile("RC_LANG=xx_YY\n");
  size_t size = 0;
  // No code set yet: the pass refuses instead of guessing one.
  EXPECT_EQ(dp_locs2utfsize("abc", &size), kInvalid);
  EXPECT_EQ(DPInitICONV, 0);
}

// ---- code sets with shift states --------------------------------------------

TEST_F(LocaleConv, ReturnsToTheInitialShiftStateBeforeASpecialSequence) {
  ASSERT_EQ(DPInitUniLibrary("ISO-2022-JP"), 0u);
  // ESC $ B 43 66 (U+4E2D in JIS X 0208), ESC ( B back to ASCII, then the
  // sequence for e acute, which ISO-2022-JP cannot hold.
  const Converted c = ToLocale(DPuni2loc, W({0x4E2D, 0xE9, 'a'}));
  ASSERT_EQ(c.filling, 0u);
  EXPECT_EQ(c.bytes, Z("\x1B$BCf\x1B(B[00E9]a"));
  EXPECT_EQ(ToLocale(DPuni2loc, W({0x4E2D, 0xE9}), -1).filling, kOverflow);
  // Its ASCII is not copied by the fast path: ESC changes the meaning.
  EXPECT_FALSE(dpxut::charset::ascii_transparent("ISO-2022-JP"));
  EXPECT_TRUE(dpxut::charset::ascii_transparent("EUC-JP"));
  EXPECT_FALSE(dpxut::charset::ascii_transparent("SJIS"));
  EXPECT_FALSE(dpxut::charset::ascii_transparent("UTF-16"));
}

// ---- generated text -----------------------------------------------------------

// Characters drawn from every class the conversions treat differently.
uint32_t RandomChar(std::mt19937& rng) {
  static constexpr uint32_t kPool[] = {'a', 'Z', '[', ']', '0', 'F', 0xE9, 0xFF, 0x100, 0x3042,
                                       0x4E2D, 0x20AC, 0xD800, 0xDE00, 0xFFFD, 0x1F600, 0x10FFFF};
  switch (rng() % 4) {
    case 0: return kPool[rng() % std::size(kPool)];
    case 1: return 0x20 + rng() % 0x5F;
    case 2: return 1 + rng() % 0xFFFF;
    default: return 1 + rng() % 0x10FFFF;
  }
}

std::string RandomLocaleText(std::mt19937& rng) {
  static const char* const kPieces[] = {"[",      "]",      "[00e9]", "[D83D]", "[DE00]",
                                        "[12G4]", "\xA4\xA2", "\x8F\xAB\xB1", "\xE9", "ab"};
  std::string s;
  const size_t n = rng() % 12;
  for (size_t i = 0; i < n; ++i) {
    if (rng() % 3 == 0) s += static_cast<char>(1 + rng() % 255);
    else s += kPieces[rng() % std::size(kPieces)];
  }
  return s;
}

TEST_F(LocaleConv, SizingAgreesWithFillingOnGeneratedText) {
  std::mt19937 rng(20240611);
  for (const Locale& l : {kLatin1, kEucJp, kUtf8}) {
    Use(l);
    for (int round = 0; round < 400; ++round) {
      WString w(rng() % 10);
      for (uint32_t& c : w) c = RandomChar(rng);
      const size_t shift = rng() % 4;
      for (WideToLoc f : {DPuni2loc, DPuni2locNoMap}) {
        const Converted c = ToLocale(f, w, 0, shift);  // canaries checked inside
        if (c.sizing == 0) {
          EXPECT_EQ(c.filling, 0u);
          EXPECT_EQ(c.bytes.size(), c.size);
          EXPECT_EQ(ToLocale(f, w, -1, shift).filling, kOverflow);
        }
      }
      const std::string s = RandomLocaleText(rng);
      for (LocToWide f : {DPloc2uni, DPloc2uniNoMap}) {
        const Converted c = ToWide(f, s, 0, shift);
        if (c.sizing == 0) {
          ASSERT_EQ(c.filling, 0u) << s;
          EXPECT_EQ(c.wide.back(), 0u);
          EXPECT_EQ(ToWide(f, s, -1, shift).filling, kOverflow);
        }
      }
      const Converted u = Bytes(DPloc2utf8, s);
      if (u.sizing == 0) {
        EXPECT_EQ(u.filling, 0u);
        EXPECT_EQ(Bytes(DPloc2utf8, s, -1).filling, kOverflow);
        const Converted back = Bytes(DPutf82loc, u.bytes.c_str());
        EXPECT_EQ(back.bytes, Z(s)) << "locale -> UTF-8 -> locale";
      }
    }
  }
}

TEST_F(LocaleConv, AsciiFastPathWritesWhatIconvWrites) {
  std::mt19937 rng(7);
  for (const Locale& l : {kLatin1, kEucJp, kUtf8}) {
    Use(l);
    for (int round = 0; round < 200; ++round) {
      std::string s(rng() % 40, ' ');
      for (char& c : s) c = static_cast<char>(1 + rng() % 0x7F);
      const WString w(s.begin(), s.end());
      for (ptrdiff_t extra : {0, -1, -2}) {
        Converted fast[4], slow[4];
        for (int pass = 0; pass < 2; ++pass) {
          set_ascii_fast_path(pass == 0);
          Converted* r = pass == 0 ? fast : slow;
          r[0] = Bytes(DPloc2utf8, s, extra);
          r[1] = Bytes(DPutf82loc, s, extra);
          r[2] = ToWide(DPloc2uniNoMap, s, extra, 1);
          r[3] = ToLocale(DPuni2loc, w, extra, 3);
        }
        for (int i = 0; i < 4; ++i) {
          EXPECT_EQ(fast[i].sizing, slow[i].sizing) << i << " " << s;
          EXPECT_EQ(fast[i].size, slow[i].size);
          EXPECT_EQ(fast[i].filling, slow[i].filling);
          EXPECT_EQ(fast[i].bytes, slow[i].bytes);
          EXPECT_EQ(fast[i].wide, slow[i].wide);
        }
      }
    }
  }
}

TEST_F(LocaleConv, OpensNoDescriptorPerCall) {
  Use(kEucJp);
  const WString w = W({0x3042, 'x', 0x1F600});
  auto once = [&] {
    EXPECT_EQ(Bytes(DPloc2utf8, "\xA4\xA2z").filling, 0u);
    EXPECT_EQ(Bytes(DPutf82loc, "\xE3\x81\x82").filling, 0u);
    EXPECT_EQ(ToWide(DPloc2uni, "\xA4\xA2[0041]").filling, 0u);
    EXPECT_EQ(ToLocale(DPuni2loc, w).filling, 0u);
  };
  once();
  const uint64_t opened = dpxut::iconv_cache_thread_opens();
  for (int i = 0; i < 50; ++i) once();
  EXPECT_EQ(dpxut::iconv_cache_thread_opens(), opened);
}

}  // namespace
