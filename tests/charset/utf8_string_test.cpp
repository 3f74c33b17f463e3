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
      {"41 42", 1, 2},       {"C3 A9 41", 2, 2},    {"E2 82 AC", 3, 1}, {"F0 9F 98 80 61", 4, 2},
      {"80 80", 1, 2},                             // stray bytes count one each
      {"C3", 1, 1},          {"E2 82", 2, 1},       // cut by the NUL: the step stops on it
      {"61 FD BF BF", 1, 2}, {"FD BF BF", 3, 1},    // and the cut character counts as one
      {"C3 41", 2, 1},                             // the bytes stepped over are not checked
      {"", 1, 0},
  };
  for (const auto& c : cases) {
    GuardedBytes page(hex(c.bytes) + std::string(1, '\0'));
    EXPECT_EQ(DPutf8next(page.chars()) - page.chars(), c.next) << c.bytes;
    EXPECT_EQ(DPutf8len(page.chars()), c.length) << c.bytes;
  }
  std::string s = hex("41 42 C3 A9");
  EXPECT_EQ(xutf8prev(s.c_str() + 2), s.c_str()) << "steps back by the length of the character at p";
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
  std::string s, upper, reversed;
  for (int i = 0; i < 700; ++i) s += i % 3 ? "a" : "\xC3\xA9", upper += i % 3 ? "A" : "\xC3\x89";
  for (int i = 699; i >= 0; --i) reversed += i % 3 ? "A" : "\xC3\x89";
  EXPECT_EQ(DPutf8upr(s.data()), upper);
  EXPECT_EQ(DPutf8rev(s.data()), reversed);
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

// A wide string at `offset` bytes into a byte buffer (vector storage is
// aligned, so offsets 1..3 misalign it).
wchar_t* misplace(std::vector<unsigned char>& buf, const std::wstring& s, size_t offset) {
  buf.assign((s.size() + 2) * 4, 0xEE);
  std::memcpy(buf.data() + offset, s.c_str(), (s.size() + 1) * 4);
  return reinterpret_cast<wchar_t*>(buf.data() + offset);
}

std::wstring read(const wchar_t* p) {
  std::wstring out;
  for (size_t i = 0; dpxut::wide::load(p, i) != 0; ++i) out.push_back(dpxut::wide::load(p, i));
  return out;
}

TEST_F(Utf8Strings, WidePrimitivesWorkAtEveryOffset) {
  const struct {
    const wchar_t *a, *b;
    int32_t n;
    bool equal;
  } cases[] = {
      {L"ab", L"aX", 2, false},   {L"abc", L"ABD", 2, true},   {L"abc", L"ABD", 3, false},
      {L"ab", L"xy", 0, true},    {L"abc", L"ABC", -1, true},  {L"abc", L"ABCD", -1, false},
      {L"abc", L"ABCD", 3, true}, {L"\u00E9", L"\u00C9", 1, true},
  };
  std::vector<unsigned char> x, y;
  for (size_t off = 0; off < 4; ++off) {
    for (const auto& c : cases) {
      int got = DPuninicmp(misplace(x, c.a, off), misplace(y, c.b, 3 - off), c.n);
      EXPECT_EQ(got == 0, c.equal) << "n " << c.n;
      EXPECT_EQ(got, c.n < 0 ? ::wcscasecmp(c.a, c.b) : ::wcsncasecmp(c.a, c.b, size_t(c.n)));
    }
    wchar_t* p = misplace(x, L"ab\u00E9\u00DF", off);
    EXPECT_EQ(read(DPunirev(p)), L"\u00DF\u00E9ba");
    EXPECT_EQ(read(DPuniupr(p)), L"\u00DF\u00C9BA");  // no one-character upper case of sharp s
    wchar_t* copy = DPunidup(p);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(std::wstring(copy), L"\u00DF\u00C9BA");
    std::free(copy);
  }
  EXPECT_EQ(DPunidup(nullptr), nullptr);
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
