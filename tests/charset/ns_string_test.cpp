// Name-space string functions in the three encodings: locale bytes (Latin-1
// and EUC-JP servers), UTF-8, and wide strings placed at every offset mod 4
// (which also covers the alignment-safe wide-string layer).
#include <random>

#include "charset/charset_test_util.h"

namespace {

using namespace dpxut::test;

const char* bytes(const void* p) { return static_cast<const char*>(p); }

// ASCII text in the encoding of a name space (wide text `offset` bytes off
// alignment) followed by two zeros and 0xEE filler to grow into; positions
// read back as indexes, characters as the bytes of their low halves.
struct Form {
  Form(uint32_t ns, const std::string& text, size_t offset)
      : unit(DPsizeOfChar(ns)), wide(widen(text + '\0'), offset), narrow(text + '\0' + '\0' + std::string(9, '\xEE')) {}
  void* p() { return unit == 4 ? static_cast<void*>(wide.p()) : narrow.data(); }
  ptrdiff_t index(const void* q) { return q ? (bytes(q) - bytes(p())) / ptrdiff_t(unit) : -1; }
  std::string units(size_t n) {  // the first n characters, terminators and filler included
    const std::wstring w = wide.units(n);
    return unit == 4 ? std::string(w.begin(), w.end()) : narrow.substr(0, n);
  }
  std::string str() { return units(16).c_str(); }
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
  const char kSet[] = ":/\\";
  auto random_text = [&] {
    std::string s(rng() % 6, ' ');
    for (auto& c : s) c = "aAbB/:."[rng() % 7];
    return s;
  };
  for (int i = 0; i < 2000; ++i) {
    const std::string a = random_text(), b = random_text();
    const char *pa = a.c_str(), *pb = b.c_str(), *hit = std::strstr(pa, pb);
    const char *first = std::strchr(pa, b[0]), *last = std::strrchr(pa, b[0]);
    const char* end = a.empty() ? nullptr : std::strchr(kSet, a.back());
    const uint32_t n = rng() % 8;
    std::string upper = a, ncopied = b + '\0' + '\0' + std::string(7, '\xEE');  // n characters, zeros up to n
    for (char& c : upper) c = static_cast<char>(std::toupper(c));
    std::strncpy(ncopied.data(), pa, n);
    SCOPED_TRACE(testing::Message() << "[" << a << "] [" << b << "] n=" << n);
    for (uint32_t ns : {rng() % 2 ? 0u : 3u, rng() % 2 ? 0x100u : 0x104u, 0x200u + uint32_t(rng() % 5)}) {
      SCOPED_TRACE(ns);
      Form fa(ns, a, rng() % 4), fb(ns, b, rng() % 4), set(ns, kSet, rng() % 4), t(ns, a, rng() % 4),
          j(ns, b, rng() % 4);
      const bool utf8 = HVDPIsNameSpaceUtf8(ns);
      const size_t u = fa.unit, m = utf8 ? std::min<size_t>({a.size(), b.size(), n}) : n;
      const ptrdiff_t nul = utf8 ? -1 : ptrdiff_t(a.size());  // where a search for NUL ends
      EXPECT_TRUE(DPstrlen(ns, fa.p()) == u * a.size() && sign(DPstrcmp(ns, fa.p(), fb.p())) == sign(strcmp(pa, pb)));
      EXPECT_EQ(sign(DPstricmp(ns, fa.p(), fb.p())), sign(strcasecmp(pa, pb)));
      EXPECT_EQ(sign(DPstrncmp(ns, fa.p(), fb.p(), n)), sign(std::strncmp(pa, pb, m)));
      EXPECT_EQ(sign(DPstrnicmp(ns, fa.p(), fb.p(), u * n)), sign(strncasecmp(pa, pb, m)));
      EXPECT_EQ(StrNIEqu(ns, fa.p(), fb.p(), u * n), strncasecmp(pa, pb, m) == 0);
      EXPECT_EQ(StrIEqu(ns, fa.p(), fb.p()), a.size() == b.size() && strcasecmp(pa, pb) == 0);
      EXPECT_EQ(fa.index(DPstrstr(ns, fa.p(), fb.p())), hit ? hit - pa : -1);
      EXPECT_EQ(fa.index(DPstrchr(ns, fa.p(), fb.p())), b.empty() ? nul : first ? first - pa : -1);
      EXPECT_EQ(fa.index(DPstrrchr(ns, fa.p(), fb.p())), b.empty() ? nul : last ? last - pa : -1);
      EXPECT_EQ(fa.index(DPlastChar(ns, fa.p())), a.empty() ? 0 : ptrdiff_t(a.size()) - 1);
      EXPECT_TRUE(fa.index(DPnextChar(ns, fa.p())) == 1 && fa.index(DPprevChar(ns, bytes(fa.p()) + u)) == 0);
      EXPECT_EQ(set.index(DPendChar(ns, fa.p(), set.p())), end ? end - kSet : a.empty() && !utf8 ? 3 : -1);
      const std::unique_ptr<void, void (*)(void*)> copy(DPstrdup(ns, fa.p()), std::free);
      EXPECT_EQ(u == 4 ? wide_at(copy.get()) : widen(bytes(copy.get())), widen(a));
      EXPECT_TRUE(DPstrupr(ns, t.p()) == t.p() && t.str() == upper);
      EXPECT_TRUE(DPstrrev(ns, t.p()) == t.p() && t.str() == std::string(upper.rbegin(), upper.rend()));
      EXPECT_TRUE(DPstrncpy(ns, j.p(), fa.p(), n) == 0 && j.units(ncopied.size()) == ncopied);
      EXPECT_TRUE(DPstrcpy(ns, j.p(), fb.p()) == 0 && DPstrcat(ns, j.p(), fa.p()) == 0 && j.str() == b + a);
    }
  }
}

TEST(NsString, MultibyteCharactersStayWholeInUtf8AndAreBytesInTheLocale) {
  use_locale("ja_JP.EUC-JP");
  std::string euc = hex("61 A4 A2"), utf = hex("61 2F C3 A9 2F"), cut = hex("78 E2 82");  // a あ; a / é /
  char *e = euc.data(), *u = utf.data();
  EXPECT_TRUE(DPnextChar(0, e + 1) == e + 3 && DPprevChar(0, e + 1) == e - 1);  // back by the length AT p
  EXPECT_TRUE(DPlastChar(0, e) == e + 2 && DPlastChar(0x100, u) == u + 4) << "a locale string's last byte";
  EXPECT_TRUE(DPnextChar(0x100, u + 2) == u + 4 && DPprevChar(0x100, u + 2) == u && DPprevChar(0x100, u + 5) == u + 4);
  EXPECT_EQ(DPlastChar(0x100, cut.c_str()), cut.c_str() + 1) << "cut short: stops at the NUL";
  EXPECT_TRUE(DPstrchr(0x100, u, hex("C3 A9").c_str()) == u + 2 && !DPstrchr(0x100, u, hex("C3 A8").c_str()));
  EXPECT_EQ(bytes(DPstrrev(0, e)) + std::string("|") + bytes(DPstrrev(0x100, u)),
            hex("A2 A4 61") + "|" + hex("2F C3 A9 2F 61"));  // locale strings by bytes, UTF-8 by characters
  // Bytes compare unsigned: é sorts after z; case folds whole characters.
  use_locale("en_US.ISO-8859-1");
  EXPECT_EQ(sign(DPstrcmp(0x100, "\xC3\xA9", "z")) + sign(DPstrncmp(0x101, "\xC3\xA9", "e", 2)), 2);
  EXPECT_EQ(sign(DPstrcmp(0, "\xE9", "z")) + StrIEqu(0, "\xE9", "\xC9") + StrNIEqu(0, "\xE9z", "\xC9Z", 2), 3);
  std::string latin1 = hex("61 E9 7A"), upper = strupr(latin1.data());
  EXPECT_TRUE(upper == hex("41 C9 5A") && strlwr(latin1.data()) == hex("61 E9 7A"));
  char keep[] = "keep", t[] = "abc";
  EXPECT_TRUE(strrev(keep, t) == t && std::string(t) == "cba" && std::string(keep) == "keep");
  use_locale("en_US.UTF-8");
  EXPECT_TRUE(DPstricmp(0x100, "\xC3\xA9", "\xC3\x89") == 0 && DPstrnicmp(0x100, "a\xC3\xA9", "A\xC3\x89z", 3) == 0);
  EXPECT_EQ(DPuninicmp(L"abc", L"ABD", -1), L'c' - L'd') << "negative: whole strings";
  for (size_t off = 0; off < 4; ++off) {  // wide units compare as signed numbers and fold beyond ASCII
    WideAt high(std::wstring(1, wchar_t(0x80000000u)), off), small(L"\xE9z", off), capital(L"\xC9Z", off);
    EXPECT_TRUE(DPstrcmp(0x200, high.p(), small.p()) < 0 && DPstricmp(0x200, small.p(), capital.p()) == 0) << off;
  }
}

}  // namespace
