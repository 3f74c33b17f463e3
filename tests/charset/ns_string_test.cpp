// Name-space string functions in the three encodings: locale bytes (Latin-1
// and EUC-JP servers), UTF-8, and wide strings placed at every offset mod 4.
#include <algorithm>
#include <cstdlib>
#include <random>
#include <string>

#include "charset/charset_test_util.h"

namespace {

using dpxut::test::hex;
using dpxut::test::use_locale;
using dpxut::test::wide_at;
using dpxut::test::WideAt;

int sign(int v) { return (v > 0) - (v < 0); }
const char* bytes(const void* p) { return static_cast<const char*>(p); }

// Runs `check(offset_a, offset_b)` for every pair of offsets mod 4.
template <typename F>
void at_all_offsets(F check) {
  for (size_t a = 0; a < 4; ++a)
    for (size_t b = 0; b < 4; ++b) {
      SCOPED_TRACE(testing::Message() << "offsets " << a << "," << b);
      check(a, b);
    }
}

TEST(NsString, LengthsAreBytes) {
  use_locale("ja_JP.EUC-JP");
  EXPECT_EQ(DPstrlen(0, hex("A4 A2 A4 A4 61").c_str()), 5u);  // あい a
  EXPECT_EQ(DPstrlen(0x103, "abc"), 3u);
  EXPECT_EQ(DPstrlen(0x100, hex("61 C3 A9").c_str()), 3u);
  EXPECT_EQ(DPstrlen(0x100, ""), 0u);
  for (size_t off = 0; off < 4; ++off) {
    WideAt w(L"ab\x4E2D", off);
    EXPECT_EQ(DPstrlen(0x200, w.p()), 12u) << off;
    WideAt e(L"", off);
    EXPECT_EQ(DPstrlen(0x204, e.p()), 0u) << off;
  }
}

TEST(NsString, DuplicatesInEveryEncoding) {
  use_locale("en_US.UTF-8");
  for (uint32_t ns : {0u, 0x100u, 0x203u}) {
    std::string s = hex("61 C3 A9 00");
    char* copy = static_cast<char*>(DPstrdup(ns, s.c_str()));
    ASSERT_NE(copy, nullptr);
    EXPECT_STREQ(copy, s.c_str());
    EXPECT_NE(copy, s.c_str());
    std::free(copy);
  }
  for (size_t off = 0; off < 4; ++off) {
    WideAt w(L"a\x4E2D/", off);
    void* copy = DPstrdup(0x201, w.p());
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(wide_at(copy), L"a\x4E2D/");
    std::free(copy);
  }
}

TEST(NsString, CopiesAndConcatenatesByUnits) {
  use_locale("en_US.UTF-8");
  for (uint32_t ns : {0u, 0x100u}) {
    char dst[16];
    std::memset(dst, 'x', sizeof dst);
    EXPECT_EQ(DPstrcpy(ns, dst, "ab"), 0);
    EXPECT_STREQ(dst, "ab");
    EXPECT_EQ(DPstrcat(ns, dst, hex("C3 A9").c_str()), 0);
    EXPECT_EQ(std::string(dst), hex("61 62 C3 A9"));
    std::memset(dst, 'x', sizeof dst);
    EXPECT_EQ(DPstrncpy(ns, dst, "abc", 2), 0);  // count reached: no terminator
    EXPECT_EQ(std::string(dst, 3), "abx");
    EXPECT_EQ(DPstrncpy(ns, dst, "a", 4), 0);  // short source: padded with NULs
    EXPECT_EQ(std::string(dst, 5), std::string("a\0\0\0x", 5));
  }
  at_all_offsets([](size_t a, size_t b) {
    WideAt dst(L"", a), src(L"a\x4E2D", b);
    EXPECT_EQ(DPstrcpy(0x200, dst.p(), src.p()), 0);
    EXPECT_EQ(dst.str(), L"a\x4E2D");
    EXPECT_EQ(DPstrcat(0x200, dst.p(), src.p()), 0);
    EXPECT_EQ(dst.str(), L"a\x4E2D" L"a\x4E2D");
    // n counts wide characters: 2 copies a and U+4E2D and no terminator.
    WideAt d2(L"wxyz", a);
    EXPECT_EQ(DPstrncpy(0x201, d2.p(), src.p(), 2), 0);
    EXPECT_EQ(d2.str(), L"a\x4E2Dyz");
    EXPECT_EQ(DPstrncpy(0x201, d2.p(), src.p(), 4), 0);  // padded to 4 elements
    EXPECT_EQ(d2.str(), L"a\x4E2D");
    EXPECT_EQ(wide_at(d2.at(3)), L"");
  });
}

struct CmpCase {
  const char* a;
  const char* b;
  int cmp, icmp;
};
// ASCII pairs whose order is the same in all three encodings.
const CmpCase kAsciiPairs[] = {
    {"abc", "abc", 0, 0},  {"abc", "abd", -1, -1}, {"abd", "abc", 1, 1}, {"ab", "abc", -1, -1},
    {"abc", "ab", 1, 1},   {"", "", 0, 0},         {"", "a", -1, -1},    {"Abc", "aBC", -1, 0},
    {"a/B", "A/b", 1, 0},  {"Z", "a", -1, 1},      {"abc", "ABD", 1, -1},
};

std::wstring widen(const char* s) { return std::wstring(s, s + std::strlen(s)); }

TEST(NsString, ComparesInEveryEncoding) {
  use_locale("en_US.UTF-8");
  for (const auto& c : kAsciiPairs) {
    SCOPED_TRACE(testing::Message() << c.a << " vs " << c.b);
    for (uint32_t ns : {0u, 3u, 0x100u, 0x104u}) {
      EXPECT_EQ(sign(DPstrcmp(ns, c.a, c.b)), c.cmp) << ns;
      EXPECT_EQ(sign(DPstricmp(ns, c.a, c.b)), c.icmp) << ns;
    }
    at_all_offsets([&](size_t oa, size_t ob) {
      WideAt a(widen(c.a), oa), b(widen(c.b), ob);
      EXPECT_EQ(sign(DPstrcmp(0x200, a.p(), b.p())), c.cmp);
      EXPECT_EQ(sign(DPstricmp(0x202, a.p(), b.p())), c.icmp);
    });
  }
  // UTF-8 and byte strings compare bytes as unsigned: é (C3 A9) sorts after z.
  EXPECT_EQ(sign(DPstrcmp(0x100, hex("C3 A9").c_str(), "z")), 1);
  EXPECT_EQ(sign(DPstrcmp(0, hex("E9").c_str(), "z")), 1);
  EXPECT_EQ(sign(DPstricmp(0x100, hex("C3 A9").c_str(), hex("C3 89").c_str())), 0);  // é, É
}

TEST(NsString, BoundedComparisonUnitsDifferByNameSpace) {
  use_locale("en_US.UTF-8");
  // UTF-8: the terminator never takes part, so a prefix within n is equal.
  struct {
    const char *a, *b;
    uint32_t n;
    int utf8, bytes;
  } cases[] = {
      {"ab", "abc", 3, 0, -1}, {"abc", "ab", 3, 0, 1},   {"abc", "abd", 2, 0, 0},  {"abc", "abd", 3, -1, -1},
      {"", "abc", 5, 0, -1},   {"abc", "abd", 0, 0, 0},  {"b", "abc", 3, 1, 1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(sign(DPstrncmp(0x100, c.a, c.b, c.n)), c.utf8) << c.a << " " << c.b << " " << c.n;
    EXPECT_EQ(sign(DPstrncmp(0, c.a, c.b, c.n)), c.bytes) << c.a << " " << c.b << " " << c.n;
  }
  EXPECT_EQ(sign(DPstrncmp(0x101, hex("C3 A9").c_str(), "e", 2)), 1);  // unsigned bytes
  at_all_offsets([](size_t oa, size_t ob) {
    // Wide: n counts characters.
    WideAt a(L"abX", oa), b(L"abY", ob), p(L"ab", ob);
    EXPECT_EQ(DPstrncmp(0x200, a.p(), b.p(), 2), 0);
    EXPECT_EQ(sign(DPstrncmp(0x200, a.p(), b.p(), 3)), -1);
    EXPECT_EQ(sign(DPstrncmp(0x200, a.p(), p.p(), 3)), 1);  // the terminator counts here
  });
}

TEST(NsString, CaseInsensitiveBoundedComparisonCountsBytes) {
  use_locale("en_US.UTF-8");
  EXPECT_EQ(DPstrnicmp(0x100, "ab", "ABC", 3), 0);
  EXPECT_NE(DPstrnicmp(0, "ab", "ABC", 3), 0);
  EXPECT_EQ(DPstrnicmp(0x100, "abc", "ABd", 2), 0);
  EXPECT_NE(DPstrnicmp(0x100, "abc", "ABd", 3), 0);
  EXPECT_EQ(DPstrnicmp(0x100, hex("61 C3 A9").c_str(), hex("41 C3 89 7A").c_str(), 3), 0);  // aé / AÉz
  EXPECT_EQ(DPstrnicmp(0x203, "abc", "ABD", 2), 0);
  at_all_offsets([](size_t oa, size_t ob) {
    WideAt ab(L"ab", oa), aX(L"aX", ob), AB(L"AB", ob), ABD(L"ABD", ob), abc(L"abc", oa);
    EXPECT_EQ(DPstrnicmp(0x200, abc.p(), ABD.p(), 8), 0);  // 8 bytes: two characters
    EXPECT_NE(DPstrnicmp(0x200, abc.p(), ABD.p(), 12), 0);
    EXPECT_EQ(DPstrnicmp(0x200, abc.p(), ABD.p(), 11), 0);  // 11 / 4 = 2 characters
    EXPECT_EQ(DPstrnicmp(0x200, ab.p(), aX.p(), 0), 0);
    EXPECT_EQ(StrIEqu(0x200, ab.p(), aX.p()), 0);
    EXPECT_EQ(StrIEqu(0x200, ab.p(), AB.p()), 1);
    EXPECT_EQ(StrIEqu(0x200, ab.p(), abc.p()), 0);
    EXPECT_EQ(StrNIEqu(0x200, abc.p(), ABD.p(), 8), 1);
  });
}

TEST(NsString, EqualityTestsCompareLengthsFirst) {
  use_locale("en_US.ISO-8859-1");
  EXPECT_EQ(StrIEqu(0, "Abc", "aBC"), 1);
  EXPECT_EQ(StrIEqu(0, "abc", "ab"), 0);
  EXPECT_EQ(StrIEqu(0, hex("E9").c_str(), hex("C9").c_str()), 1);  // Latin-1 é, É
  EXPECT_EQ(StrIEqu(0x100, "ab", "ABC"), 0);  // prefix, but the lengths differ
  EXPECT_EQ(StrNIEqu(0x100, "ab", "ABC", 3), 1);
  EXPECT_EQ(StrNIEqu(0, "ab", "ABC", 3), 0);
  EXPECT_EQ(StrIEqu(0x104, "", ""), 1);
}

TEST(NsString, UpperCasesInEveryEncoding) {
  use_locale("en_US.ISO-8859-1");
  std::string latin1 = hex("61 E9 7A 31");  // a é z 1
  EXPECT_EQ(DPstrupr(0, latin1.data()), latin1.data());
  EXPECT_EQ(latin1, hex("41 C9 5A 31"));
  use_locale("en_US.UTF-8");
  std::string utf8 = hex("61 C3 A9 7A");
  EXPECT_EQ(DPstrupr(0x100, utf8.data()), utf8.data());
  EXPECT_EQ(utf8, hex("41 C3 89 5A"));
  for (size_t off = 0; off < 4; ++off) {
    WideAt w(L"a\xE9z/1", off);
    EXPECT_EQ(DPstrupr(0x200, w.p()), w.p());
    EXPECT_EQ(w.str(), L"A\xC9Z/1") << off;
  }
}

TEST(NsString, ReversesByTheUnitsOfEachEncoding) {
  use_locale("ja_JP.EUC-JP");
  std::string abc = "abc";
  EXPECT_EQ(DPstrrev(0, abc.data()), abc.data());
  EXPECT_EQ(abc, "cba");
  std::string utf8 = hex("61 C3 A9");
  EXPECT_EQ(DPstrrev(0x100, utf8.data()), utf8.data());
  EXPECT_EQ(utf8, hex("C3 A9 61"));  // characters, not bytes
  std::string euc = hex("61 A4 A2");
  EXPECT_EQ(DPstrrev(0, euc.data()), euc.data());
  EXPECT_EQ(euc, hex("A2 A4 61"));  // locale strings: bytes
  std::string empty;
  EXPECT_EQ(DPstrrev(0x203, empty.data()), empty.data());
  for (size_t off = 0; off < 4; ++off) {
    WideAt w(L"a\x4E2D" L"bc", off);
    EXPECT_EQ(DPstrrev(0x204, w.p()), w.p());
    EXPECT_EQ(w.str(), L"cb\x4E2D" L"a") << off;
  }
}

TEST(NsString, FindsCharactersAndSubstrings) {
  use_locale("en_US.UTF-8");
  const std::string s = hex("61 2F C3 A9 2F 62");  // a / é / b
  const char* p = s.c_str();
  for (uint32_t ns : {0u, 0x100u}) {
    EXPECT_EQ(bytes(DPstrchr(ns, p, "/")), p + 1) << ns;
    EXPECT_EQ(bytes(DPstrrchr(ns, p, "/")), p + 4) << ns;
    EXPECT_EQ(DPstrchr(ns, p, ":"), nullptr) << ns;
    EXPECT_EQ(DPstrrchr(ns, p, ":"), nullptr) << ns;
    EXPECT_EQ(bytes(DPstrstr(ns, p, "/b")), p + 4) << ns;
    EXPECT_EQ(bytes(DPstrstr(ns, p, "")), p) << ns;
    EXPECT_EQ(DPstrstr(ns, p, "//"), nullptr) << ns;
  }
  // UTF-8 compares whole characters; locale bytes compare the byte at ch.
  EXPECT_EQ(bytes(DPstrchr(0x100, p, hex("C3 A9").c_str())), p + 2);
  EXPECT_EQ(DPstrchr(0x100, p, hex("C3 A8").c_str()), nullptr);
  EXPECT_EQ(bytes(DPstrchr(0, p, hex("C3 A8").c_str())), p + 2);
  // The terminator: found by the byte search, never by the UTF-8 search.
  EXPECT_EQ(bytes(DPstrchr(0, p, GenericChar(0, 0))), p + s.size());
  EXPECT_EQ(DPstrchr(0x100, p, GenericChar(0x100, 0)), nullptr);
  at_all_offsets([](size_t oa, size_t ob) {
    WideAt w(L"a/\x4E2D/b", oa), slash(L"/", ob), needle(L"\x4E2D/", ob), none(L":", ob);
    EXPECT_EQ(w.index_of(DPstrchr(0x200, w.p(), slash.p())), 1);
    EXPECT_EQ(w.index_of(DPstrrchr(0x200, w.p(), slash.p())), 3);
    EXPECT_EQ(w.index_of(DPstrchr(0x200, w.p(), GenericUniChar(0))), 5);
    EXPECT_EQ(DPstrchr(0x200, w.p(), none.p()), nullptr);
    EXPECT_EQ(DPstrrchr(0x200, w.p(), none.p()), nullptr);
    EXPECT_EQ(w.index_of(DPstrstr(0x200, w.p(), needle.p())), 2);
    EXPECT_EQ(DPstrstr(0x200, w.p(), none.p()), nullptr);
    EXPECT_EQ(w.index_of(DPstrstr(0x200, w.p(), GenericUniChar(0))), 0);
  });
}

TEST(NsString, StepsOverCharacters) {
  use_locale("ja_JP.EUC-JP");
  const std::string euc = hex("61 A4 A2 62");  // a あ b
  const char* e = euc.c_str();
  EXPECT_EQ(bytes(DPnextChar(0, e)), e + 1);
  EXPECT_EQ(bytes(DPnextChar(0, e + 1)), e + 3);
  EXPECT_EQ(bytes(DPprevChar(0, e + 1)), e - 1);  // back by the length AT p
  EXPECT_EQ(bytes(DPprevChar(0, e + 3)), e + 2);
  EXPECT_EQ(bytes(DPlastChar(0, e)), e + 3);
  EXPECT_EQ(bytes(DPlastChar(0, e + 3)), e + 3);
  const std::string euc_end = hex("61 A4 A2");
  EXPECT_EQ(bytes(DPlastChar(0, euc_end.c_str())), euc_end.c_str() + 2);  // the trail byte
  const std::string utf8 = hex("61 C3 A9");
  const char* u = utf8.c_str();
  EXPECT_EQ(bytes(DPnextChar(0x100, u)), u + 1);
  EXPECT_EQ(bytes(DPnextChar(0x100, u + 1)), u + 3);
  EXPECT_EQ(bytes(DPprevChar(0x100, u + 1)), u - 1);
  EXPECT_EQ(bytes(DPprevChar(0x100, u + 3)), u + 2);  // at the terminator: one byte
  EXPECT_EQ(bytes(DPlastChar(0x100, u)), u + 1);
  const char* empty = "";
  EXPECT_EQ(bytes(DPlastChar(0x100, empty)), empty);
  EXPECT_EQ(bytes(DPlastChar(0, empty)), empty);
  const char* abc = "abc";
  EXPECT_EQ(*bytes(DPlastChar(0, abc)), 'c');
  EXPECT_EQ(bytes(DPlastChar(0x104, abc)), abc + 2);
  // A last character cut short: the walk stops at the terminator.
  const std::string cut = hex("78 E2 82");
  EXPECT_EQ(bytes(DPlastChar(0x100, cut.c_str())), cut.c_str() + 1);
  const std::string lead = hex("78 79 E2");
  EXPECT_EQ(bytes(DPlastChar(0x100, lead.c_str())), lead.c_str() + 2);
  for (size_t off = 0; off < 4; ++off) {
    WideAt w(L"ab\x4E2D", off);
    EXPECT_EQ(DPnextChar(0x200, w.p()), w.at(1));
    EXPECT_EQ(DPnextChar(0x200, w.at(3)), w.at(4));  // without looking
    EXPECT_EQ(DPprevChar(0x200, w.at(2)), w.at(1));
    EXPECT_EQ(DPlastChar(0x200, w.p()), w.at(2));
    WideAt e(L"", off);
    EXPECT_EQ(DPlastChar(0x200, e.p()), e.p());
  }
}

TEST(NsString, EndCharTellsWhetherAStringEndsWithASetMember) {
  use_locale("en_US.UTF-8");
  const char* set8 = static_cast<const char*>(GenericString(0x100, ":/\\"));
  EXPECT_EQ(bytes(DPendChar(0x100, "dir/", set8)), set8 + 1);
  EXPECT_EQ(DPendChar(0x100, "dir", set8), nullptr);
  EXPECT_EQ(DPendChar(0x100, "", set8), nullptr);  // the UTF-8 search never finds NUL
  const char* set = ":/\\";
  EXPECT_EQ(bytes(DPendChar(0, "VOL:", set)), set);
  EXPECT_EQ(DPendChar(0, "dir", set), nullptr);
  EXPECT_EQ(bytes(DPendChar(0, "", set)), set + 3);  // the terminator of set
  const std::string cut = hex("64 E2");               // last character cut short
  EXPECT_EQ(DPendChar(0x100, cut.c_str(), set8), nullptr);
  at_all_offsets([](size_t oa, size_t ob) {
    WideAt dir(L"dir\\", oa), plain(L"dir", oa), empty(L"", oa), wset(L":/\\", ob);
    EXPECT_EQ(wset.index_of(DPendChar(0x200, dir.p(), wset.p())), 2);
    EXPECT_EQ(DPendChar(0x200, plain.p(), wset.p()), nullptr);
    EXPECT_EQ(wset.index_of(DPendChar(0x200, empty.p(), wset.p())), 3);
  });
}

// UTF-8 text whose last character is cut short, ending flush against an
// inaccessible page: stepping, searching and end tests stop at the NUL.
TEST(NsString, CutUtf8CharactersAreNotReadPastTheEnd) {
  use_locale("en_US.UTF-8");
  const char* set = static_cast<const char*>(GenericString(0x100, ":/\\"));
  for (const char* text : {"64 E2 82 00", "64 2F FC 00", "F0 9F 00", "E2 00", "00"}) {
    SCOPED_TRACE(text);
    dpxut::test::GuardedBytes s(hex(text));
    const char* p = s.chars();
    const char* last = bytes(DPlastChar(0x100, p));
    EXPECT_GE(last, p);
    EXPECT_LE(last, p + std::max<size_t>(std::strlen(p), 1) - 1);
    EXPECT_EQ(DPendChar(0x100, p, set), nullptr);
    EXPECT_EQ(DPstrchr(0x100, p, hex("E2 82 AC").c_str()), nullptr);
    EXPECT_EQ(DPstrrchr(0x100, p, last), nullptr);  // a cut character matches nothing
    for (const char* q = p; *q; q = bytes(DPnextChar(0x100, q))) EXPECT_LE(q, p + std::strlen(p));
    EXPECT_EQ(DPstrncmp(0x100, p, p, 100), 0);
    EXPECT_EQ(DPstrnicmp(0x100, p, p, 100), 0);
  }
}

TEST(ByteStrings, ReverseAndCaseMapInTheCurrentLocale) {
  use_locale("en_US.ISO-8859-1");
  char x[] = "keep";
  char s[] = "abc";
  EXPECT_EQ(strrev(x, s), s);
  EXPECT_STREQ(s, "cba");
  EXPECT_STREQ(x, "keep");
  char empty[] = "";
  EXPECT_EQ(strrev(nullptr, empty), empty);
  std::string latin1 = hex("41 C9 7A 2F");  // A É z /
  EXPECT_EQ(strlwr(latin1.data()), latin1.data());
  EXPECT_EQ(latin1, hex("61 E9 7A 2F"));
  EXPECT_EQ(strupr(latin1.data()), latin1.data());
  EXPECT_EQ(latin1, hex("41 C9 5A 2F"));
  // In EUC-JP the bytes of a two-byte character are not letters.
  use_locale("ja_JP.EUC-JP");
  std::string euc = hex("61 A4 A2 5A");
  strupr(euc.data());
  EXPECT_EQ(euc, hex("41 A4 A2 5A"));
  strlwr(euc.data());
  EXPECT_EQ(euc, hex("61 A4 A2 7A"));
}

TEST(NsString, NullStringsAreRefusedQuietly) {
  use_locale("en_US.UTF-8");
  const wchar_t wide_a[] = L"a";
  for (uint32_t ns : {0u, 0x100u, 0x200u}) {
    const void* a = ns == 0x200 ? static_cast<const void*>(wide_a) : "a";
    EXPECT_EQ(DPstrlen(ns, nullptr), 0u);
    EXPECT_EQ(DPstrdup(ns, nullptr), nullptr);
    EXPECT_EQ(DPstrcpy(ns, nullptr, a), 0);
    EXPECT_EQ(DPstrcat(ns, nullptr, a), 0);
    EXPECT_EQ(DPstrncpy(ns, nullptr, a, 1), 0);
    EXPECT_EQ(DPstrcmp(ns, nullptr, nullptr), 0);
    EXPECT_LT(DPstrcmp(ns, nullptr, a), 0);
    EXPECT_GT(DPstricmp(ns, a, nullptr), 0);
    EXPECT_LT(DPstrnicmp(ns, nullptr, a, 4), 0);
    EXPECT_EQ(DPstrncmp(ns, nullptr, nullptr, 4), 0);
    EXPECT_EQ(StrIEqu(ns, nullptr, a), 0);
    EXPECT_EQ(StrNIEqu(ns, nullptr, a, 4), 0);
    EXPECT_EQ(DPstrupr(ns, nullptr), nullptr);
    EXPECT_EQ(DPstrrev(ns, nullptr), nullptr);
    EXPECT_EQ(DPstrchr(ns, nullptr, a), nullptr);
    EXPECT_EQ(DPstrrchr(ns, a, nullptr), nullptr);
    EXPECT_EQ(DPstrstr(ns, nullptr, a), nullptr);
    EXPECT_EQ(DPstrstr(ns, a, nullptr), nullptr);
    EXPECT_EQ(DPnextChar(ns, nullptr), nullptr);
    EXPECT_EQ(DPprevChar(ns, nullptr), nullptr);
    EXPECT_EQ(DPlastChar(ns, nullptr), nullptr);
    EXPECT_EQ(DPendChar(ns, nullptr, a), nullptr);
    EXPECT_EQ(DPendChar(ns, a, nullptr), nullptr);
  }
  EXPECT_EQ(strrev(nullptr, nullptr), nullptr);
  EXPECT_EQ(strlwr(nullptr), nullptr);
  EXPECT_EQ(strupr(nullptr), nullptr);
}

// Random ASCII strings give the same answers in all three encodings (the
// wide strings at random offsets), except where the UTF-8 bounded
// comparison deliberately differs.
TEST(NsString, EncodingsAgreeOnAsciiText) {
  use_locale("en_US.UTF-8");
  std::mt19937 rng(20240611);
  const char alphabet[] = "aAbB/:.";
  auto random_text = [&] {
    std::string s(rng() % 6, ' ');
    for (auto& c : s) c = alphabet[rng() % (sizeof alphabet - 1)];
    return s;
  };
  for (int i = 0; i < 2000; ++i) {
    std::string a = random_text(), b = random_text();
    uint32_t n = rng() % 8;
    WideAt wa(widen(a.c_str()), rng() % 4), wb(widen(b.c_str()), rng() % 4);
    SCOPED_TRACE(testing::Message() << "[" << a << "] [" << b << "] n=" << n);
    for (uint32_t ns : {0u, 0x100u}) {
      EXPECT_EQ(sign(DPstrcmp(ns, a.c_str(), b.c_str())), sign(DPstrcmp(0x200, wa.p(), wb.p())));
      EXPECT_EQ(sign(DPstricmp(ns, a.c_str(), b.c_str())), sign(DPstricmp(0x200, wa.p(), wb.p())));
      EXPECT_EQ(StrIEqu(ns, a.c_str(), b.c_str()), StrIEqu(0x200, wa.p(), wb.p()));
      auto* hit = bytes(DPstrstr(ns, a.c_str(), b.c_str()));
      auto* whit = DPstrstr(0x200, wa.p(), wb.p());
      ASSERT_EQ(hit == nullptr, whit == nullptr);
      if (hit) {
        EXPECT_EQ(hit - a.c_str(), wa.index_of(whit));
      }
      if (!b.empty()) {
        auto* c = bytes(DPstrrchr(ns, a.c_str(), b.c_str()));
        auto* wc = DPstrrchr(0x200, wa.p(), wb.p());
        ASSERT_EQ(c == nullptr, wc == nullptr);
        if (c) {
          EXPECT_EQ(c - a.c_str(), wa.index_of(wc));
        }
      }
    }
    EXPECT_EQ(sign(DPstrncmp(0, a.c_str(), b.c_str(), n)), sign(DPstrncmp(0x200, wa.p(), wb.p(), n)));
    EXPECT_EQ(sign(DPstrnicmp(0, a.c_str(), b.c_str(), n)), sign(DPstrnicmp(0x200, wa.p(), wb.p(), 4 * n)));
    // UTF-8 bounded comparison: equal to the byte one up to the shorter length.
    size_t m = std::min<size_t>({a.size(), b.size(), n});
    EXPECT_EQ(sign(DPstrncmp(0x100, a.c_str(), b.c_str(), n)), sign(std::strncmp(a.c_str(), b.c_str(), m)));
    EXPECT_EQ(sign(DPstrnicmp(0x100, a.c_str(), b.c_str(), n)), sign(strncasecmp(a.c_str(), b.c_str(), m)));
  }
}

}  // namespace
