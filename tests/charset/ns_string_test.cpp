// Name-space string functions in the three encodings: locale bytes (Latin-1
// and EUC-JP servers), UTF-8, and wide strings placed at every offset mod 4.
#include <random>

#include "charset/charset_test_util.h"

namespace {

using dpxut::test::GuardedBytes;
using dpxut::test::hex;
using dpxut::test::sign;
using dpxut::test::use_locale;
using dpxut::test::wide_at;
using dpxut::test::WideAt;
using dpxut::test::widen;

const char* bytes(const void* p) { return static_cast<const char*>(p); }

// ASCII text in the encoding of a name space (wide text `offset` bytes off
// alignment) followed by zeros to grow into; positions read back as indexes.
struct Form {
  Form(uint32_t ns, const std::string& text, size_t offset)
      : unit(DPsizeOfChar(ns)), wide(widen(text) + std::wstring(16, 0), offset), narrow(text + std::string(16, 0)) {}
  void* p() { return unit == 4 ? static_cast<void*>(wide.p()) : narrow.data(); }
  unsigned char* at(size_t i) { return static_cast<unsigned char*>(p()) + i * unit; }
  ptrdiff_t index(const void* q) { return q ? (static_cast<const unsigned char*>(q) - at(0)) / ptrdiff_t(unit) : -1; }
  std::string str() {
    const std::wstring w = wide.str();
    return unit == 4 ? std::string(w.begin(), w.end()) : std::string(narrow.c_str());
  }
  size_t unit;
  WideAt wide;
  std::string narrow;
};

// Random ASCII text gets the platform's answers in some form of each
// encoding, wide text at random offsets. The UTF-8 forms differ where they
// mean to: bounded comparisons leave the terminator out, and the NUL
// character is never found.
TEST(NsString, EncodingsAgreeWithThePlatformOnAsciiText) {
  use_locale("en_US.UTF-8");
  std::mt19937 rng(20240611);
  const char alphabet[] = "aAbB/:.";
  const char kSet[] = ":/\\";
  auto random_text = [&] {
    std::string s(rng() % 6, ' ');
    for (auto& c : s) c = alphabet[rng() % (sizeof alphabet - 1)];
    return s;
  };
  const uint32_t wide_forms[] = {0x200, 0x201, 0x202, 0x204};
  for (int i = 0; i < 2000; ++i) {
    const std::string a = random_text(), b = random_text();
    const char *pa = a.c_str(), *pb = b.c_str(), *hit = std::strstr(pa, pb);
    const char *first = std::strchr(pa, b[0]), *last = std::strrchr(pa, b[0]);
    const char* end = a.empty() ? nullptr : std::strchr(kSet, a.back());
    const uint32_t n = rng() % 8;
    std::string upper = a, ncopied = b + std::string(8, '\0');
    for (char& c : upper) c = static_cast<char>(std::toupper(c));
    std::strncpy(ncopied.data(), pa, n);
    SCOPED_TRACE(testing::Message() << "[" << a << "] [" << b << "] n=" << n);
    for (uint32_t ns : {rng() % 2 ? 0u : 3u, rng() % 2 ? 0x100u : 0x104u, wide_forms[rng() % 4]}) {
      SCOPED_TRACE(ns);
      Form fa(ns, a, rng() % 4), fb(ns, b, rng() % 4), set(ns, kSet, rng() % 4), t(ns, a, rng() % 4),
          j(ns, b, rng() % 4);
      const bool utf8 = HVDPIsNameSpaceUtf8(ns);
      const size_t u = fa.unit, m = utf8 ? std::min<size_t>({a.size(), b.size(), n}) : n;
      const ptrdiff_t nul = utf8 ? -1 : ptrdiff_t(a.size());  // where a search for NUL ends
      EXPECT_EQ(DPstrlen(ns, fa.p()), u * a.size());
      EXPECT_EQ(sign(DPstrcmp(ns, fa.p(), fb.p())), sign(std::strcmp(pa, pb)));
      EXPECT_EQ(sign(DPstricmp(ns, fa.p(), fb.p())), sign(strcasecmp(pa, pb)));
      EXPECT_EQ(sign(DPstrncmp(ns, fa.p(), fb.p(), n)), sign(std::strncmp(pa, pb, m)));
      EXPECT_EQ(sign(DPstrnicmp(ns, fa.p(), fb.p(), u * n)), sign(strncasecmp(pa, pb, m)));
      EXPECT_EQ(StrNIEqu(ns, fa.p(), fb.p(), u * n), strncasecmp(pa, pb, m) == 0);
      EXPECT_EQ(StrIEqu(ns, fa.p(), fb.p()), a.size() == b.size() && strcasecmp(pa, pb) == 0);
      EXPECT_EQ(fa.index(DPstrstr(ns, fa.p(), fb.p())), hit ? hit - pa : -1);
      EXPECT_EQ(fa.index(DPstrchr(ns, fa.p(), fb.p())), b.empty() ? nul : first ? first - pa : -1);
      EXPECT_EQ(fa.index(DPstrrchr(ns, fa.p(), fb.p())), b.empty() ? nul : last ? last - pa : -1);
      EXPECT_EQ(fa.index(DPlastChar(ns, fa.p())), a.empty() ? 0 : ptrdiff_t(a.size()) - 1);
      EXPECT_EQ(fa.index(DPnextChar(ns, fa.p())), 1);
      EXPECT_EQ(fa.index(DPprevChar(ns, fa.at(1))), 0);
      EXPECT_EQ(set.index(DPendChar(ns, fa.p(), set.p())), end ? end - kSet : a.empty() && !utf8 ? 3 : -1);
      void* copy = DPstrdup(ns, fa.p());
      EXPECT_EQ(u == 4 ? wide_at(copy) : widen(bytes(copy)), widen(a));
      std::free(copy);
      EXPECT_EQ(DPstrupr(ns, t.p()), t.p());
      EXPECT_EQ(t.str(), upper);
      EXPECT_EQ(DPstrrev(ns, t.p()), t.p());
      EXPECT_EQ(t.str(), std::string(upper.rbegin(), upper.rend()));
      EXPECT_EQ(DPstrncpy(ns, j.p(), fa.p(), n), 0);  // n units, no terminator once n is reached
      EXPECT_EQ(j.str(), ncopied.c_str());
      EXPECT_EQ(DPstrcpy(ns, j.p(), fb.p()), 0);
      EXPECT_EQ(DPstrcat(ns, j.p(), fa.p()), 0);
      EXPECT_EQ(j.str(), b + a);
    }
  }
}

TEST(NsString, WorkedExamples) {
  use_locale("en_US.UTF-8");
  WideAt ab(L"ab", 1), aX(L"aX", 2), AB(L"AB", 3), abc(L"abc", 0), ABD(L"ABD", 3), w(L"a\x4E2D" L"bc", 2);
  EXPECT_EQ(DPstrlen(0x200, abc.p()), 12u);
  EXPECT_EQ(StrIEqu(0x200, ab.p(), aX.p()), 0);
  EXPECT_EQ(StrIEqu(0x200, ab.p(), AB.p()), 1);
  EXPECT_EQ(StrIEqu(0, "Abc", "aBC"), 1);
  EXPECT_EQ(StrIEqu(0, "abc", "ab"), 0);  // lengths differ
  EXPECT_EQ(DPstrnicmp(0x100, "ab", "ABC", 3), 0);
  EXPECT_NE(DPstrnicmp(0, "ab", "ABC", 3), 0);
  EXPECT_EQ(DPstrnicmp(0x200, abc.p(), ABD.p(), 8), 0);  // 8 bytes: two characters
  EXPECT_EQ(DPstrnicmp(0x200, abc.p(), ABD.p(), 11), 0);
  EXPECT_NE(DPstrnicmp(0x200, abc.p(), ABD.p(), 12), 0);
  std::string s = "abc", u = hex("61 C3 A9");
  EXPECT_EQ(bytes(DPstrrev(0, s.data())), std::string("cba"));
  EXPECT_EQ(bytes(DPstrrev(0x100, u.data())), hex("C3 A9 61"));
  EXPECT_EQ(DPstrrev(0x200, w.p()), w.p());
  EXPECT_EQ(w.str(), L"cb\x4E2D" L"a");
  u = hex("61 C3 A9");
  char x[] = "keep", t[] = "abc", empty[] = "";
  EXPECT_EQ(bytes(DPlastChar(0x100, u.c_str())), u.c_str() + 1);
  EXPECT_EQ(bytes(DPlastChar(0, empty)), empty);
  EXPECT_EQ(DPnextChar(0x200, abc.at(3)), abc.at(4));  // without looking
  const void* set = GenericString(0x100, ":/\\");
  EXPECT_NE(DPendChar(0x100, "dir/", set), nullptr);
  EXPECT_EQ(DPendChar(0x100, "dir", set), nullptr);
  EXPECT_EQ(bytes(DPstrchr(0, s.c_str(), GenericChar(0, 0))), s.c_str() + 3);
  EXPECT_EQ(DPstrchr(0x100, s.c_str(), GenericChar(0x100, 0)), nullptr);
  EXPECT_EQ(strrev(x, t), t);
  EXPECT_STREQ(t, "cba");
  EXPECT_STREQ(x, "keep");
  EXPECT_EQ(strrev(nullptr, empty), empty);
}

TEST(NsString, MultibyteCharactersStayWholeInUtf8AndAreBytesInTheLocale) {
  use_locale("ja_JP.EUC-JP");
  const std::string euc = hex("61 A4 A2 62"), utf = hex("61 C3 A9"), slashes = hex("61 2F C3 A9 2F 62");
  const char *e = euc.c_str(), *u = utf.c_str(), *p = slashes.c_str();  // a あ b; a é; a / é / b
  EXPECT_EQ(DPstrlen(0, e), 4u);
  EXPECT_EQ(bytes(DPnextChar(0, e + 1)), e + 3);
  EXPECT_EQ(bytes(DPprevChar(0, e + 1)), e - 1);  // back by the length AT p
  EXPECT_EQ(bytes(DPlastChar(0, e)), e + 3);
  EXPECT_EQ(bytes(DPlastChar(0, hex("61 A4 A2").c_str())), std::string(hex("A2"))) << "the trail byte";
  EXPECT_EQ(bytes(DPnextChar(0x100, u + 1)), u + 3);
  EXPECT_EQ(bytes(DPprevChar(0x100, u + 1)), u - 1);
  EXPECT_EQ(bytes(DPprevChar(0x100, u + 3)), u + 2);  // at the terminator: one byte
  EXPECT_EQ(bytes(DPlastChar(0x100, hex("78 E2 82").c_str())), hex("E2 82")) << "cut short: stops at the NUL";
  EXPECT_EQ(bytes(DPstrchr(0x100, p, hex("C3 A9").c_str())), p + 2);
  EXPECT_EQ(DPstrchr(0x100, p, hex("C3 A8").c_str()), nullptr);  // whole characters
  EXPECT_EQ(bytes(DPstrchr(0, p, hex("C3 A8").c_str())), p + 2);  // the byte at ch
  EXPECT_EQ(DPendChar(0x100, hex("64 E2").c_str(), GenericString(0x100, ":/\\")), nullptr);
  std::string rev = euc;
  EXPECT_EQ(bytes(DPstrrev(0, rev.data())), hex("62 A2 A4 61"));  // locale strings: bytes
  // Bytes compare unsigned: é sorts after z; case folds whole characters.
  use_locale("en_US.ISO-8859-1");
  EXPECT_EQ(sign(DPstrcmp(0x100, hex("C3 A9").c_str(), "z")), 1);
  EXPECT_EQ(sign(DPstrcmp(0, hex("E9").c_str(), "z")), 1);
  EXPECT_EQ(sign(DPstrncmp(0x101, hex("C3 A9").c_str(), "e", 2)), 1);
  EXPECT_EQ(StrIEqu(0, hex("E9").c_str(), hex("C9").c_str()), 1);  // Latin-1 é, É
  std::string latin1 = hex("61 E9 7A");
  EXPECT_EQ(bytes(DPstrupr(0, latin1.data())), hex("41 C9 5A"));
  use_locale("en_US.UTF-8");
  EXPECT_EQ(DPstricmp(0x100, hex("C3 A9").c_str(), hex("C3 89").c_str()), 0);
  EXPECT_EQ(DPstrnicmp(0x100, hex("61 C3 A9").c_str(), hex("41 C3 89 7A").c_str(), 3), 0);  // aé / AÉz
  std::string utf8 = hex("61 C3 A9 7A");
  EXPECT_EQ(bytes(DPstrupr(0x100, utf8.data())), hex("41 C3 89 5A"));
  for (size_t off = 0; off < 4; ++off) {
    WideAt w(L"\xE9t\xE9", off), W(L"\xC9T\xC9", 3 - off);
    EXPECT_EQ(DPstricmp(0x202, w.p(), W.p()), 0);
    EXPECT_EQ(DPstrupr(0x200, w.p()), w.p());
    EXPECT_EQ(w.str(), L"\xC9T\xC9");
  }
}

// UTF-8 text whose last character is cut short, ending flush against an
// inaccessible page: stepping, searching and end tests stop at the NUL.
TEST(NsString, CutUtf8CharactersAreNotReadPastTheEnd) {
  use_locale("en_US.UTF-8");
  const char* set = static_cast<const char*>(GenericString(0x100, ":/\\"));
  for (const char* text : {"64 E2 82 00", "64 2F FC 00", "F0 9F 00", "E2 00", "00"}) {
    SCOPED_TRACE(text);
    GuardedBytes s(hex(text));
    const char* p = s.chars();
    const char* last = bytes(DPlastChar(0x100, p));
    EXPECT_TRUE(last >= p && last <= p + std::max<size_t>(std::strlen(p), 1) - 1);
    EXPECT_EQ(DPendChar(0x100, p, set), nullptr);
    EXPECT_EQ(DPstrchr(0x100, p, hex("E2 82 AC").c_str()), nullptr);
    EXPECT_EQ(DPstrrchr(0x100, p, last), nullptr);  // a cut character matches nothing
    for (const char* q = p; *q; q = bytes(DPnextChar(0x100, q))) EXPECT_LE(q, p + std::strlen(p));
    EXPECT_EQ(DPstrncmp(0x100, p, p, 100) + DPstrnicmp(0x100, p, p, 100), 0);
  }
}

TEST(NsString, NullStringsAreRefusedQuietly) {
  use_locale("en_US.UTF-8");
  const wchar_t wide_a[] = L"a";
  for (uint32_t ns : {0u, 0x100u, 0x200u}) {
    const void* a = ns == 0x200 ? static_cast<const void*>(wide_a) : "a";
    EXPECT_EQ(DPstrlen(ns, nullptr), 0u);
    EXPECT_EQ(DPstrcpy(ns, nullptr, a) + DPstrcat(ns, nullptr, a) + DPstrncpy(ns, nullptr, a, 1), 0);
    EXPECT_EQ(DPstrcmp(ns, nullptr, nullptr) + DPstrncmp(ns, nullptr, nullptr, 4), 0);
    EXPECT_TRUE(DPstrcmp(ns, nullptr, a) < 0 && DPstricmp(ns, a, nullptr) > 0 && DPstrnicmp(ns, nullptr, a, 4) < 0);
    EXPECT_EQ(StrIEqu(ns, nullptr, a) + StrNIEqu(ns, nullptr, a, 4), 0);
    EXPECT_TRUE(!DPstrdup(ns, nullptr) && !DPstrupr(ns, nullptr) && !DPstrrev(ns, nullptr));
    EXPECT_TRUE(!DPstrchr(ns, nullptr, a) && !DPstrrchr(ns, a, nullptr));
    EXPECT_TRUE(!DPstrstr(ns, nullptr, a) && !DPstrstr(ns, a, nullptr));
    EXPECT_TRUE(!DPnextChar(ns, nullptr) && !DPprevChar(ns, nullptr) && !DPlastChar(ns, nullptr));
    EXPECT_TRUE(!DPendChar(ns, nullptr, a) && !DPendChar(ns, a, nullptr));
  }
  EXPECT_TRUE(!strrev(nullptr, nullptr) && !strlwr(nullptr) && !strupr(nullptr));
}

TEST(ByteStrings, CaseMapInTheCurrentLocale) {
  use_locale("en_US.ISO-8859-1");
  std::string latin1 = hex("41 C9 7A 2F");  // A É z /
  EXPECT_EQ(strlwr(latin1.data()), latin1.data());
  EXPECT_EQ(latin1, hex("61 E9 7A 2F"));
  EXPECT_EQ(strupr(latin1.data()), latin1.data());
  EXPECT_EQ(latin1, hex("41 C9 5A 2F"));
  use_locale("ja_JP.EUC-JP");  // the bytes of a two-byte character are not letters
  std::string euc = hex("61 A4 A2 5A");
  EXPECT_EQ(strupr(euc.data()), hex("41 A4 A2 5A"));
  EXPECT_EQ(strlwr(euc.data()), hex("61 A4 A2 7A"));
}

}  // namespace
