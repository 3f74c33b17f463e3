// UTF-8 and wide string primitives: measuring and stepping, search,
// upper-casing and reversal in place, the case-insensitive comparisons,
// the hooks, and walks over text that ends flush against unreadable memory.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <cwctype>
#include <string>
#include <vector>

#include "common/wide.h"
#include "dpxut.h"
#include "support/guard_page.h"

namespace {

using dpxut::test::GuardedBytes;
using dpxut::test::hex;
using dpxut::test::to_hex;

class Utf8Strings : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(std::setlocale(LC_ALL, "en_US.UTF-8"), nullptr); }
};

TEST_F(Utf8Strings, MeasuresTheLengthALeadByteAnnounces) {
  const struct {
    unsigned char from, to;
    uint32_t size;
  } ranges[] = {{0x00, 0x7F, 1}, {0x80, 0xBF, 1}, {0xC0, 0xDF, 2}, {0xE0, 0xEF, 3},
                {0xF0, 0xF7, 4}, {0xF8, 0xFB, 5}, {0xFC, 0xFD, 6}, {0xFE, 0xFF, 1}};
  for (const auto& r : ranges) {
    for (unsigned b = r.from; b <= r.to; ++b) {
      char s[2] = {static_cast<char>(b), 0};
      EXPECT_EQ(xutf8size(s), r.size) << std::hex << b;
      EXPECT_EQ(DPutf8Size(s), r.size);
    }
  }
}

TEST_F(Utf8Strings, StepsByTheAnnouncedLengthButNotPastTheNul) {
  const struct {
    const char* bytes;
    ptrdiff_t next;
  } cases[] = {
      {"41 42", 1},    {"C3 A9 41", 2}, {"E2 82 AC", 3}, {"F0 9F 98 80", 4}, {"80 80", 1},
      {"C3", 1},       // cut: stops on the NUL
      {"E2 82", 2},    {"FD BF BF", 3}, {"C3 41", 2},  // no check of the byte after
  };
  for (const auto& c : cases) {
    GuardedBytes page(hex(c.bytes) + std::string(1, '\0'));
    EXPECT_EQ(xutf8next(page.chars()) - page.chars(), c.next) << c.bytes;
    EXPECT_EQ(DPutf8next(page.chars()) - page.chars(), c.next) << c.bytes;
  }
  std::string s = hex("41 42 C3 A9");
  EXPECT_EQ(xutf8prev(s.c_str() + 2), s.c_str()) << "steps back by the length of the character at p";
  EXPECT_EQ(xutf8prev(s.c_str() + 1), s.c_str());
}

TEST_F(Utf8Strings, CountsCharactersAndStopsAtTheNul) {
  const struct {
    const char* bytes;
    size_t length;
  } cases[] = {
      {"", 0}, {"61 62 63", 3}, {"61 C3 A9", 2}, {"F0 9F 98 80 61", 2},
      {"80 80", 2},            // stray bytes count one each
      {"61 C3", 2},            // a cut final character counts as one
      {"61 FD BF BF BF", 2},
  };
  for (const auto& c : cases) {
    GuardedBytes page(hex(c.bytes) + std::string(1, '\0'));
    EXPECT_EQ(xutf8len(page.chars()), c.length) << c.bytes;
    EXPECT_EQ(DPutf8len(page.chars()), c.length) << c.bytes;
  }
}

TEST_F(Utf8Strings, FindsWholeCharactersFirstAndLast) {
  const struct {
    const char* s;
    const char* ch;
    ptrdiff_t first, last;  // -1: not found
  } cases[] = {
      {"61 C3 A9 62", "C3 A9", 1, 1},
      {"C3 A9 61 C3 A9", "C3 A9", 0, 3},
      {"61 62", "", -1, -1},                  // the NUL character is never found
      {"", "61", -1, -1},
      {"E2 82 AC", "E2 82 AD", -1, -1},
      {"C3 A9", "C3", -1, -1},                // a cut character matches nothing
      {"61 C3", "C3", -1, -1},
      {"61 E2 82", "E2 82 AC", -1, -1},
      {"A9 C3 A9", "A9", 0, 0},               // a stray byte is a character of its own
      {"F0 9F 98 80 41", "F0 9F 98 80", 0, 0},
  };
  for (const auto& c : cases) {
    GuardedBytes s(hex(c.s) + std::string(1, '\0'));
    GuardedBytes ch(hex(c.ch) + std::string(1, '\0'));
    auto at = [&](const char* p) { return p ? p - s.chars() : -1; };
    EXPECT_EQ(at(xutf8chr(s.chars(), ch.chars())), c.first) << c.s << " / " << c.ch;
    EXPECT_EQ(at(xutf8rchr(s.chars(), ch.chars())), c.last) << c.s << " / " << c.ch;
    EXPECT_EQ(at(DPutf8chr(s.chars(), ch.chars())), c.first);
    EXPECT_EQ(at(DPutf8rchr(s.chars(), ch.chars())), c.last);
  }
  EXPECT_EQ(xutf8chr(nullptr, "a"), nullptr);
  EXPECT_EQ(xutf8rchr(nullptr, "a"), nullptr);
}

// Upper-cases s in a buffer of its own size; what comes back, in hex.
std::string upper(const char* bytes) {
  GuardedBytes page(hex(bytes) + std::string(1, '\0'));
  EXPECT_EQ(DPutf8upr(page.chars()), page.chars());
  EXPECT_LE(std::strlen(page.chars()), page.size() - 1);
  return to_hex(page.chars());
}

TEST_F(Utf8Strings, UpperCasesInPlaceWithinTheOriginalBytes) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {
      {"61 62 63", "41 42 43"},                    // abc -> ABC
      {"C3 A9 74 C3 A9", "C3 89 54 C3 89"},        // été -> ÉTÉ
      {"C3 9F", "C3 9F"},                          // ß has no one-character upper case
      {"CE B1 CF 89", "CE 91 CE A9"},              // αω -> ΑΩ
      {"61 FF", "61 FF"},                          // invalid: left as it is
      {"61 C3", "61 C3"},                          // cut: left as it is
      {"", ""},
      {"C9 90", "C9 90"},                          // ɐ: Ɐ needs 3 bytes, keeps its form
      {"C9 90 61", "C9 90 41"},
      {"C4 B1 C9 90", "49 E2 B1 AF"},              // ıɐ -> IⱯ: the dotless i makes room
      {"C9 90 C4 B1", "E2 B1 AF 49"},              // ɐı -> ⱯI
      {"C9 90 C9 90", "C9 90 C9 90"},
      {"F0 9F 98 80 61", "EF 98 80 41"},           // a 4-byte form comes back cut to 16 bits
      {"61 F0 90 80 80 62", "41"},                 // U+10000 cuts to 0, which ends the text
  };
  for (const auto& c : cases) EXPECT_EQ(upper(c.in), c.out) << c.in;
}

TEST_F(Utf8Strings, UpperCasingFollowsTheLocale) {
  ASSERT_NE(std::setlocale(LC_ALL, "C"), nullptr);
  EXPECT_EQ(upper("61 C3 A9"), "41 C3 A9");
}

TEST_F(Utf8Strings, ReversesCharactersNotBytes) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {
      {"61 C3 A9", "C3 A9 61"},
      {"61 62 63", "63 62 61"},
      {"E2 82 AC 61 C3 A9", "C3 A9 61 E2 82 AC"},
      {"F0 9F 98 80 61", "61 EF 98 80"},  // shorter: the 4-byte form is cut to 16 bits
      {"61 FF", "61 FF"},                 // invalid: left as it is
      {"", ""},
  };
  for (const auto& c : cases) {
    GuardedBytes page(hex(c.in) + std::string(1, '\0'));
    EXPECT_EQ(DPutf8rev(page.chars()), page.chars());
    EXPECT_EQ(to_hex(page.chars()), c.out) << c.in;
  }
}

// Past the stack buffer the working copy comes from the heap.
TEST_F(Utf8Strings, LongTextIsUpperCasedAndReversed) {
  std::string text;
  for (int i = 0; i < 700; ++i) text += i % 3 ? "a" : "\xC3\xA9";
  std::string s = text;
  DPutf8upr(s.data());
  std::string expect;
  for (int i = 0; i < 700; ++i) expect += i % 3 ? "A" : "\xC3\x89";
  EXPECT_EQ(s, expect);
  DPutf8rev(s.data());
  std::string reversed;
  for (int i = 699; i >= 0; --i) reversed += i % 3 ? "A" : "\xC3\x89";
  EXPECT_EQ(s, reversed);
}

TEST_F(Utf8Strings, ComparesIgnoringCase) {
  const struct {
    const char* a;
    const char* b;
    uint32_t n;
    int bounded, whole;  // signs
  } cases[] = {
      {"abc", "ABd", 2, 0, -1},
      {"abc", "ABC", 3, 0, 0},
      {"\xC3\xA9t\xC3\xA9", "\xC3\x89T\xC3\x89", 5, 0, 0},
      {"ab", "abc", 3, -1, -1},
      {"b", "A", 1, 1, 1},
      {"x", "y", 0, 0, -1},
  };
  auto sign = [](int v) { return (v > 0) - (v < 0); };
  for (const auto& c : cases) {
    EXPECT_EQ(sign(DPutf8nicmp(c.a, c.b, c.n)), c.bounded) << c.a << " " << c.b;
    EXPECT_EQ(sign(DPutf8icmp(c.a, c.b)), c.whole) << c.a << " " << c.b;
  }
  EXPECT_EQ(xutf8icmp(nullptr, "a"), -1);
}

TEST_F(Utf8Strings, ByteStringFunctionsAreThePlatformOnes) {
  char buf[16] = "ab";
  EXPECT_EQ(DPutf8cat(buf, "c\xC3\xA9"), buf);
  EXPECT_STREQ(buf, "abc\xC3\xA9");
  EXPECT_EQ(DPutf8ncat(buf, "xyz", 2), buf);
  EXPECT_STREQ(buf, "abc\xC3\xA9xy");
  char* copy = DPutf8dup(buf);
  EXPECT_STREQ(copy, buf);
  std::free(copy);
  EXPECT_EQ(DPutf8str(buf, "\xC3\xA9"), buf + 3);
  EXPECT_LT(DPutf8cmp("a", "b"), 0);
}

// ---- hooks ----------------------------------------------------------------

struct Calls {
  int count = 0;
  const char* arg = nullptr;
} calls;

uint32_t fake_size(const char* p) { return ++calls.count, calls.arg = p, 42; }
char* fake_next(const char* p) { return ++calls.count, calls.arg = p, const_cast<char*>(p + 1); }
size_t fake_len(const char* s) { return ++calls.count, calls.arg = s, 42; }
char* fake_chr(const char* s, const char*) { return ++calls.count, calls.arg = s, const_cast<char*>(s + 2); }
int fake_cmp(const char* a, const char*) { return ++calls.count, calls.arg = a, 42; }
char* fake_str(const char* h, const char*) { return ++calls.count, calls.arg = h, const_cast<char*>(h + 2); }
char* fake_in_place(char* s) { return ++calls.count, calls.arg = s, s + 2; }

// Each wrapper calls its hook with its own arguments and returns its
// result; with the hook reset to null the built-in answers again.
TEST_F(Utf8Strings, WrappersFollowTheirHooksOnEveryCall) {
  char s[] = "abc";
  auto check = [&](auto& hook, auto fake, auto call, auto hooked_result, auto built_in_result) {
    EXPECT_EQ(hook, nullptr) << "null at load";
    hook = fake;
    calls = {};
    EXPECT_EQ(call(), hooked_result);
    EXPECT_EQ(calls.count, 1);
    EXPECT_EQ(calls.arg, s);
    hook = nullptr;
    EXPECT_EQ(call(), built_in_result);
    EXPECT_EQ(calls.count, 1);
  };
  check(imp_utf8width, fake_size, [&] { return DPutf8Size(s); }, 42u, 1u);
  check(imp_utf8next, fake_next, [&] { return DPutf8next(s); }, s + 1, s + 1);
  check(imp_utf8len, fake_len, [&] { return DPutf8len(s); }, size_t{42}, size_t{3});
  check(imp_utf8chr, fake_chr, [&] { return DPutf8chr(s, "a"); }, s + 2, s);
  check(imp_utf8rchr, fake_chr, [&] { return DPutf8rchr(s, "a"); }, s + 2, s);
  check(imp_utf8cmp, fake_cmp, [&] { return DPutf8cmp(s, "abc"); }, 42, 0);
  check(imp_utf8str, fake_str, [&] { return DPutf8str(s, "a"); }, s + 2, s);
  check(imp_utf8upr, fake_in_place, [&] { return DPutf8upr(s); }, s + 2, s);
  check(imp_utf8rev, fake_in_place, [&] { return DPutf8rev(s); }, s + 2, s);
  EXPECT_STREQ(s, "CBA");
}

// The built-ins themselves go through the hooked wrappers where they step
// (xutf8len), upper-case and compare (xutf8icmp, xutf8nicmp).
TEST_F(Utf8Strings, BuiltInsStepAndCompareThroughTheHooks) {
  imp_utf8next = fake_next;
  calls = {};
  EXPECT_EQ(xutf8len("\xC3\xA9\xC3\xA9"), 4u) << "the hook steps one byte at a time";
  EXPECT_EQ(calls.count, 4);
  imp_utf8next = nullptr;

  imp_utf8upr = [](char* s) { return s; };  // no upper-casing at all
  EXPECT_NE(xutf8icmp("abc", "ABC"), 0);
  EXPECT_NE(xutf8nicmp("abc", "ABC", 3), 0);
  imp_utf8upr = nullptr;
  static std::string seen;
  imp_utf8cmp = [](const char* a, const char* b) { return seen = std::string(a) + "|" + b, 42; };
  EXPECT_EQ(xutf8icmp("abc", "x\xC3\xA9"), 42);
  EXPECT_EQ(seen, "ABC|X\xC3\x89") << "compares the upper-cased copies";
  imp_utf8cmp = nullptr;
}

// A stepping hook that does not advance is taken one byte at a time.
TEST_F(Utf8Strings, CountingSurvivesAStuckStepper) {
  imp_utf8next = [](const char* p) { return const_cast<char*>(p); };
  EXPECT_EQ(xutf8len("abc"), 3u);
  imp_utf8next = nullptr;
}

// ---- wide primitives --------------------------------------------------------

// A wide string copied in at `offset` bytes past an aligned boundary.
struct Misplaced {
  Misplaced(const std::wstring& s, size_t offset) : bytes((s.size() + 2) * 4 + 8) {
    p = reinterpret_cast<wchar_t*>(bytes.data() + offset);
    std::memcpy(bytes.data() + offset, s.c_str(), (s.size() + 1) * 4);
  }
  std::wstring text() const {
    std::wstring out;
    for (size_t i = 0; dpxut::wide::load(p, i) != 0; ++i) out.push_back(dpxut::wide::load(p, i));
    return out;
  }
  std::vector<unsigned char> bytes;
  wchar_t* p;
};

TEST_F(Utf8Strings, WidePrimitivesWorkAtEveryOffset) {
  for (size_t off = 0; off < 4; ++off) {
    Misplaced r(L"ab\u00E9", off), u(L"ab\u00E9\u00DF", off), d(L"xyz", off);
    EXPECT_EQ(DPunirev(r.p), r.p);
    EXPECT_EQ(r.text(), L"\u00E9ba");
    EXPECT_EQ(DPuniupr(u.p), u.p);
    EXPECT_EQ(u.text(), L"AB\u00C9\u00DF");
    wchar_t* copy = DPunidup(d.p);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(std::wstring(copy), L"xyz");
    std::free(copy);
  }
  EXPECT_EQ(DPunirev(nullptr), nullptr);
  EXPECT_EQ(DPunidup(nullptr), nullptr);
}

TEST_F(Utf8Strings, ComparesWideStringsIgnoringCaseOverNCharacters) {
  const struct {
    const wchar_t* a;
    const wchar_t* b;
    int32_t n;
    bool equal;
  } cases[] = {
      {L"ab", L"aX", 2, false}, {L"abc", L"ABD", 2, true}, {L"abc", L"ABD", 3, false},
      {L"ab", L"xy", 0, true},  {L"abc", L"ABC", -1, true}, {L"abc", L"ABCD", -1, false},
      {L"abc", L"ABCD", 3, true}, {L"\u00E9", L"\u00C9", 1, true},
  };
  for (const auto& c : cases) {
    for (size_t oa = 0; oa < 4; ++oa) {
      Misplaced a(c.a, oa), b(c.b, 3 - oa);
      int got = DPuninicmp(a.p, b.p, c.n);
      EXPECT_EQ(got == 0, c.equal) << "n " << c.n;
      int expect = c.n < 0 ? ::wcscasecmp(c.a, c.b) : ::wcsncasecmp(c.a, c.b, static_cast<size_t>(c.n));
      EXPECT_EQ(got, expect);
    }
  }
  EXPECT_EQ(DPuninicmp(nullptr, L"a", 1), -1);
}

// ---- walks ending at unreadable memory ----------------------------------------

TEST_F(Utf8Strings, WalksStopAtTheTerminatorBeforeAnUnreadablePage) {
  for (const char* text : {"abc\xC3", "\xC3\xA9\xE2\x82", "x\xFD\xBF\xBF\xBF", "\xE2"}) {
    std::string bytes(text, std::strlen(text) + 1);
    GuardedBytes s(bytes);
    GuardedBytes ch(std::string_view("\xE2\x82\x00", 3));
    xutf8len(s.chars());
    xutf8chr(s.chars(), ch.chars());
    xutf8rchr(s.chars(), ch.chars());
    xutf8chr(ch.chars(), s.chars());
    xutf8icmp(s.chars(), ch.chars());
    xutf8nicmp(s.chars(), ch.chars(), 100);
    EXPECT_EQ(std::memcmp(xutf8upr(s.chars()), text, bytes.size()), 0) << "invalid text stays";
    EXPECT_EQ(std::memcmp(xutf8rev(s.chars()), text, bytes.size()), 0);
  }
}

}  // namespace
