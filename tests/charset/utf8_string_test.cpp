// UTF-8 string primitives on text that ends flush against unreadable
// memory: measuring and stepping, search, upper-casing and reversal in
// place, the case-insensitive comparisons, and the hooks.
#include <gtest/gtest.h>

#include "charset/charset_test_util.h"

namespace {

using namespace dpxut::test;

// Bytes given in hex and a NUL, ending flush against an inaccessible page.
struct Text : GuardedBytes {
  explicit Text(const char* bytes) : GuardedBytes(hex(bytes) + '\0') {}
};

class Utf8Strings : public ::testing::Test {
  void SetUp() override { ASSERT_NE(std::setlocale(LC_ALL, "en_US.UTF-8"), nullptr); }
};

// Lead bytes announce 1 (ASCII, continuation bytes, FE, FF) to 6 bytes; a
// step stops on a NUL inside the character, whose bytes are not checked.
TEST_F(Utf8Strings, MeasuresStepsAndCountsWithoutPassingTheNul) {
  for (unsigned b = 1; b < 256; ++b) {
    const char s[2] = {static_cast<char>(b), 0};
    EXPECT_EQ(DPutf8Size(s), b < 0xC0 || b > 0xFD ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : b < 0xF8 ? 4 : b < 0xFC ? 5 : 6u);
  }
  const std::tuple<const char*, ptrdiff_t, size_t> cases[] = {  // bytes, step from the first, characters
      {"C3 A9 41", 2, 2},  {"F0 9F 98 80 61", 4, 2}, {"80 80", 1, 2},  // stray bytes: one each
      {"E2 82", 2, 1},     {"61 FD BF BF", 1, 2},    {"C3 41", 2, 1},  {"", 1, 0},  // cut by the NUL: one
  };
  for (const auto& [bytes, next, length] : cases) {
    Text s(bytes);
    EXPECT_TRUE(DPutf8next(s.chars()) - s.chars() == next && DPutf8len(s.chars()) == length) << bytes;
  }
  const std::string s = hex("41 42 C3 A9");
  EXPECT_EQ(xutf8prev(s.c_str() + 2), s.c_str()) << "steps back by the length of the character at p";
}

TEST_F(Utf8Strings, FindsWholeCharactersFirstAndLast) {
  const std::tuple<const char*, const char*, ptrdiff_t, ptrdiff_t> cases[] = {  // -1: not found
      {"C3 A9 61 C3 A9", "C3 A9", 0, 3}, {"61 62", "", -1, -1},  {"", "61", -1, -1},  // NUL: never found
      {"E2 82 AC", "E2 82 AD", -1, -1},  {"C3 A9", "C3", -1, -1}, {"61 C3", "C3", -1, -1},  // cut: matches nothing
      {"A9 C3 A9", "A9", 0, 0},          {"F0 9F 98 80 41", "F0 9F 98 80", 0, 0},  // a stray byte is one character
  };
  for (const auto& [text, character, first, last] : cases) {
    Text s(text), ch(character);
    auto at = [&](const char* p) { return p ? p - s.chars() : -1; };
    EXPECT_TRUE(at(DPutf8chr(s.chars(), ch.chars())) == first && at(DPutf8rchr(s.chars(), ch.chars())) == last) << text;
  }
}

// In place, within the bytes the string had: what comes back, in hex.
TEST_F(Utf8Strings, UpperCasesAndReversesInPlace) {
  const std::tuple<const char*, const char*, const char*> cases[] = {  // text, upper-cased, reversed
      {"E2 82 AC 61 C3 A9", "E2 82 AC 41 C3 89", "C3 A9 61 E2 82 AC"},
      {"C3 9F", "C3 9F", "C3 9F"},                    // ß has no one-character upper case
      {"CE B1 CF 89", "CE 91 CE A9", "CF 89 CE B1"},  // αω -> ΑΩ
      {"61 FF", "61 FF", "61 FF"},  {"61 C3", "61 C3", "61 C3"},  {"", "", ""},  // invalid, cut: left as they are
      {"C9 90 61", "C9 90 41", "61 C9 90"},           // ɐ: Ɐ needs 3 bytes, keeps its form
      {"C4 B1 C9 90", "49 E2 B1 AF", "C9 90 C4 B1"},  // ıɐ -> IⱯ: the dotless i makes room
      {"C9 90 C4 B1", "E2 B1 AF 49", "C4 B1 C9 90"},  // ɐı -> ⱯI
      {"F0 9F 98 80 61", "EF 98 80 41", "61 EF 98 80"},  // a 4-byte form comes back cut to 16 bits
      {"61 F0 90 80 80 62", "41", "61"},                 // U+10000 cuts to 0, which ends the text
  };
  for (const auto& [in, upper, reversed] : cases) {
    Text a(in), b(in);
    EXPECT_EQ(to_hex(DPutf8upr(a.chars())) + "/" + to_hex(DPutf8rev(b.chars())), std::string(upper) + "/" + reversed);
  }
  // Past the stack buffer the working copy comes from the heap.
  std::string s, upper, reversed;
  for (int i = 0; i < 700; ++i) s += i % 3 ? "a" : "\xC3\xA9", upper += i % 3 ? "A" : "\xC3\x89";
  for (int i = 699; i >= 0; --i) reversed += i % 3 ? "A" : "\xC3\x89";
  EXPECT_TRUE(DPutf8upr(s.data()) == upper && DPutf8rev(s.data()) == reversed);
  ASSERT_NE(std::setlocale(LC_ALL, "C"), nullptr);  // upper-casing follows the locale
  EXPECT_EQ(to_hex(DPutf8upr(Text("61 C3 A9").chars())), "41 C3 A9");
}

TEST_F(Utf8Strings, ComparesIgnoringCase) {
  const std::tuple<const char*, const char*, uint32_t, int, int> cases[] = {  // a, b, n, signs: bounded, whole
      {"abc", "ABd", 2, 0, -1}, {"\xC3\xA9t\xC3\xA9", "\xC3\x89T\xC3\x89", 5, 0, 0},
      {"ab", "abc", 3, -1, -1}, {"b", "A", 1, 1, 1},  {"x", "y", 0, 0, -1},
  };
  for (const auto& [a, b, n, bounded, whole] : cases)
    EXPECT_TRUE(sign(DPutf8nicmp(a, b, n)) == bounded && sign(DPutf8icmp(a, b)) == whole) << a << " " << b;
}

// Each wrapper hands its own arguments to its hook and returns its result,
// and the built-ins step and upper-case through the hooked wrappers.
TEST_F(Utf8Strings, WrappersAndBuiltInsFollowTheHooks) {
  char s[] = "abc";
  imp_utf8width = [](const char* p) { return uint32_t(p[1]); };
  imp_utf8len = [](const char* p) { return size_t(p[2]); };
  imp_utf8chr = [](const char* p, const char* ch) { return const_cast<char*>(p) + (*ch - 'a'); };
  imp_utf8rchr = imp_utf8str = [](const char* p, const char* ch) { return const_cast<char*>(p) + (*ch - 'b'); };
  imp_utf8upr = imp_utf8rev = [](char* p) { return p + 1; };
  imp_utf8cmp = [](const char* a, const char* b) { return *a - *b; };
  EXPECT_TRUE(DPutf8Size(s) == 'b' && DPutf8len(s) == 'c' && DPutf8chr(s, "c") == s + 2 && DPutf8rchr(s, "c") == s + 1);
  EXPECT_TRUE(DPutf8str(s, "d") == s + 2 && DPutf8upr(s) == s + 1 && DPutf8rev(s) == s + 1 && DPutf8cmp(s, "b") == -1);
  imp_utf8next = [](const char* p) { return const_cast<char*>(p); };  // never advances: one byte at a time
  EXPECT_TRUE(DPutf8next(s) == s && xutf8len("\xC3\xA9" "a") == 3);
  imp_utf8upr = [](char* p) { return p; };  // no upper-casing at all
  imp_utf8cmp = nullptr;
  EXPECT_TRUE(xutf8icmp("abc", "ABC") != 0 && xutf8nicmp("abc", "ABC", 3) != 0);
}

}  // namespace
