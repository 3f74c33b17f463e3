// UTF-8 and wide string primitives: measuring and stepping, search,
// upper-casing and reversal in place, the case-insensitive comparisons,
// the hooks, and walks over text that ends flush against unreadable memory.
#include <gtest/gtest.h>

#include "charset/charset_test_util.h"

namespace {

using dpxut::test::GuardedBytes;
using dpxut::test::hex;
using dpxut::test::sign;
using dpxut::test::to_hex;
using dpxut::test::WideAt;

// Bytes given in hex and a NUL, ending flush against an inaccessible page.
struct Text : GuardedBytes {
  explicit Text(const char* bytes) : GuardedBytes(hex(bytes) + '\0') {}
};

class Utf8Strings : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(std::setlocale(LC_ALL, "en_US.UTF-8"), nullptr); }
};

// Lead bytes announce 1 (ASCII, continuation bytes, FE, FF) to 6 bytes.
TEST_F(Utf8Strings, MeasuresStepsAndCountsWithoutPassingTheNul) {
  const unsigned char starts[] = {0x00, 0x80, 0xC0, 0xE0, 0xF0, 0xF8, 0xFC, 0xFE};
  const uint32_t sizes[] = {1, 1, 2, 3, 4, 5, 6, 1};
  for (unsigned b = 1, range = 0; b < 256; ++b) {
    range += range + 1 < 8 && b == starts[range + 1];
    const char s[2] = {static_cast<char>(b), 0};
    EXPECT_EQ(DPutf8Size(s), sizes[range]) << std::hex << b;
  }
  const struct {
    const char* bytes;
    ptrdiff_t next;  // from the first byte
    size_t length;   // characters
  } cases[] = {
      {"41 42", 1, 2},       {"C3 A9 41", 2, 2}, {"E2 82 AC", 3, 1}, {"F0 9F 98 80 61", 4, 2},
      {"80 80", 1, 2},                           // stray bytes count one each
      {"C3", 1, 1},          {"E2 82", 2, 1},    // cut by the NUL: the step stops on it
      {"61 FD BF BF", 1, 2}, {"FD BF BF", 3, 1},  // and the cut character counts as one
      {"C3 41", 2, 1},                           // the bytes stepped over are not checked
      {"", 1, 0},
  };
  for (const auto& c : cases) {
    Text s(c.bytes);
    EXPECT_EQ(DPutf8next(s.chars()) - s.chars(), c.next) << c.bytes;
    EXPECT_EQ(DPutf8len(s.chars()), c.length) << c.bytes;
  }
  const std::string s = hex("41 42 C3 A9");
  EXPECT_EQ(xutf8prev(s.c_str() + 2), s.c_str()) << "steps back by the length of the character at p";
}

TEST_F(Utf8Strings, FindsWholeCharactersFirstAndLast) {
  const struct {
    const char *s, *ch;
    ptrdiff_t first, last;  // -1: not found
  } cases[] = {
      {"61 C3 A9 62", "C3 A9", 1, 1},
      {"C3 A9 61 C3 A9", "C3 A9", 0, 3},
      {"61 62", "", -1, -1},  // the NUL character is never found
      {"", "61", -1, -1},
      {"E2 82 AC", "E2 82 AD", -1, -1},
      {"C3 A9", "C3", -1, -1},  // a cut character matches nothing
      {"61 C3", "C3", -1, -1},
      {"61 E2 82", "E2 82 AC", -1, -1},
      {"A9 C3 A9", "A9", 0, 0},  // a stray byte is a character of its own
      {"F0 9F 98 80 41", "F0 9F 98 80", 0, 0},
  };
  for (const auto& c : cases) {
    Text s(c.s), ch(c.ch);
    auto at = [&](const char* p) { return p ? p - s.chars() : -1; };
    EXPECT_EQ(at(xutf8chr(s.chars(), ch.chars())), c.first) << c.s << " / " << c.ch;
    EXPECT_EQ(at(xutf8rchr(s.chars(), ch.chars())), c.last) << c.s << " / " << c.ch;
    EXPECT_EQ(at(DPutf8chr(s.chars(), ch.chars())), c.first);
    EXPECT_EQ(at(DPutf8rchr(s.chars(), ch.chars())), c.last);
  }
  EXPECT_EQ(xutf8chr(nullptr, "a"), nullptr);
  EXPECT_EQ(xutf8rchr(nullptr, "a"), nullptr);
}

// In place, within the bytes the string had: what comes back, in hex.
TEST_F(Utf8Strings, UpperCasesAndReversesInPlace) {
  const struct {
    const char *in, *upper, *reversed;
  } cases[] = {
      {"61 62 63", "41 42 43", "63 62 61"},                 // abc
      {"C3 A9 74 C3 A9", "C3 89 54 C3 89", "C3 A9 74 C3 A9"},  // été -> ÉTÉ
      {"61 C3 A9", "41 C3 89", "C3 A9 61"},
      {"E2 82 AC 61 C3 A9", "E2 82 AC 41 C3 89", "C3 A9 61 E2 82 AC"},
      {"C3 9F", "C3 9F", "C3 9F"},          // ß has no one-character upper case
      {"CE B1 CF 89", "CE 91 CE A9", "CF 89 CE B1"},  // αω -> ΑΩ
      {"61 FF", "61 FF", "61 FF"},          // invalid: left as it is
      {"61 C3", "61 C3", "61 C3"},          // cut: left as it is
      {"", "", ""},
      {"C9 90", "C9 90", "C9 90"},          // ɐ: Ɐ needs 3 bytes, keeps its form
      {"C9 90 61", "C9 90 41", "61 C9 90"},
      {"C4 B1 C9 90", "49 E2 B1 AF", "C9 90 C4 B1"},  // ıɐ -> IⱯ: the dotless i makes room
      {"C9 90 C4 B1", "E2 B1 AF 49", "C4 B1 C9 90"},  // ɐı -> ⱯI
      {"F0 9F 98 80 61", "EF 98 80 41", "61 EF 98 80"},  // a 4-byte form comes back cut to 16 bits
      {"61 F0 90 80 80 62", "41", nullptr},              // U+10000 cuts to 0, which ends the text
  };
  for (const auto& c : cases) {
    Text up(c.in), rev(c.in);
    EXPECT_EQ(DPutf8upr(up.chars()), up.chars());
    EXPECT_EQ(to_hex(up.chars()), c.upper) << c.in;
    EXPECT_EQ(DPutf8rev(rev.chars()), rev.chars());
    if (c.reversed) {
      EXPECT_EQ(to_hex(rev.chars()), c.reversed) << c.in;
    }
  }
  // Past the stack buffer the working copy comes from the heap.
  std::string s, upper, reversed;
  for (int i = 0; i < 700; ++i) s += i % 3 ? "a" : "\xC3\xA9", upper += i % 3 ? "A" : "\xC3\x89";
  for (int i = 699; i >= 0; --i) reversed += i % 3 ? "A" : "\xC3\x89";
  EXPECT_EQ(DPutf8upr(s.data()), upper);
  EXPECT_EQ(DPutf8rev(s.data()), reversed);
  ASSERT_NE(std::setlocale(LC_ALL, "C"), nullptr);  // upper-casing follows the locale
  Text c_locale("61 C3 A9");
  EXPECT_EQ(to_hex(DPutf8upr(c_locale.chars())), "41 C3 A9");
}

TEST_F(Utf8Strings, ComparesIgnoringCase) {
  const struct {
    const char *a, *b;
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
  for (const auto& c : cases) {
    EXPECT_EQ(sign(DPutf8nicmp(c.a, c.b, c.n)), c.bounded) << c.a << " " << c.b;
    EXPECT_EQ(sign(DPutf8icmp(c.a, c.b)), c.whole) << c.a << " " << c.b;
  }
  EXPECT_EQ(xutf8icmp(nullptr, "a"), -1);
}

struct Calls {
  int count = 0;
  const char* arg = nullptr;
} calls;

uint32_t fake_size(const char* p) { return ++calls.count, calls.arg = p, 42; }
char* fake_next(const char* p) { return ++calls.count, calls.arg = p, const_cast<char*>(p + 1); }
size_t fake_len(const char* s) { return ++calls.count, calls.arg = s, 42; }
char* fake_chr(const char* s, const char*) { return ++calls.count, calls.arg = s, const_cast<char*>(s + 2); }
int fake_cmp(const char* a, const char*) { return ++calls.count, calls.arg = a, 42; }
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
  check(imp_utf8str, fake_chr, [&] { return DPutf8str(s, "a"); }, s + 2, s);
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
  imp_utf8next = [](const char* p) { return const_cast<char*>(p); };
  EXPECT_EQ(xutf8len("abc"), 3u) << "a stepper that does not advance is taken one byte at a time";
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

// Wide primitives at every offset; the name-space string tests cover the
// rest of their work.
TEST_F(Utf8Strings, WidePrimitivesWorkAtEveryOffset) {
  const struct {
    const wchar_t *a, *b;
    int32_t n;  // negative: whole strings
  } cases[] = {{L"ab", L"aX", 2},   {L"abc", L"ABD", 2},  {L"abc", L"ABD", 3}, {L"ab", L"xy", 0},
               {L"abc", L"ABC", -1}, {L"abc", L"ABCD", -1}, {L"abc", L"ABCD", 3}, {L"\u00E9", L"\u00C9", 1}};
  for (size_t off = 0; off < 4; ++off) {
    for (const auto& c : cases) {
      WideAt a(c.a, off), b(c.b, 3 - off);
      EXPECT_EQ(DPuninicmp(reinterpret_cast<wchar_t*>(a.p()), reinterpret_cast<wchar_t*>(b.p()), c.n),
                c.n < 0 ? ::wcscasecmp(c.a, c.b) : ::wcsncasecmp(c.a, c.b, size_t(c.n))) << c.a << " " << c.n;
    }
    WideAt s(L"\u00DF\u00E9", off);  // sharp s has no one-character upper case
    EXPECT_EQ(DPuniupr(reinterpret_cast<wchar_t*>(s.p())), static_cast<void*>(s.p()));
    EXPECT_EQ(s.str(), L"\u00DF\u00C9");
  }
  EXPECT_EQ(DPunidup(nullptr), nullptr);
  EXPECT_EQ(DPuninicmp(nullptr, L"a", 1), -1);
}

TEST_F(Utf8Strings, WalksStopAtTheTerminatorBeforeAnUnreadablePage) {
  for (const char* text : {"61 62 63 C3", "C3 A9 E2 82", "78 FD BF BF BF", "E2"}) {
    Text s(text), ch("E2 82");
    const std::string before(s.chars(), s.size());
    xutf8len(s.chars());
    xutf8chr(s.chars(), ch.chars());
    xutf8rchr(s.chars(), ch.chars());
    xutf8chr(ch.chars(), s.chars());
    xutf8icmp(s.chars(), ch.chars());
    xutf8nicmp(s.chars(), ch.chars(), 100);
    EXPECT_EQ(std::string(xutf8upr(s.chars()), s.size()), before) << "invalid text stays";
    EXPECT_EQ(std::string(xutf8rev(s.chars()), s.size()), before);
  }
}

}  // namespace
