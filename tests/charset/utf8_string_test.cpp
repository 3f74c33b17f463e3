// UTF-8 string primitives on text that ends flush against unreadable
// memory: measuring and stepping, search, upper-casing and reversal in
// place, the case-insensitive comparisons, and the hooks.
#include <gtest/gtest.h>

#include "charset/charset_test_util.h"

namespace {

using namespace dpxut::test;

// Bytes given in hex and a NUL, ending flush against an inaccessible page.
GuardedBytes Text(const char* bytes) { return GuardedBytes(hex(bytes) + '\0'); }

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
    GuardedBytes s = Text(bytes);
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
    GuardedBytes s = Text(text), ch = Text(character);
    auto at = [&](const char* p) { return p ? p - s.chars() : -1; };
    EXPECT_TRUE(at(DPutf8chr(s.chars(), ch.chars())) == first && at(DPutf8rchr(s.chars(), ch.chars())) == last) << text;
  }
}

// The walks pass blocks of ASCII whole: the answers of one step at a time,
// for runs of every length around the block ending in each kind of
// sequence (cut ones too), searched for ASCII and other characters.
TEST_F(Utf8Strings, WalksAnswerAsStepByStep) {
  for (size_t run = 0; run < 20; ++run)
    for (const char* tail : {"", "C3 A9", "E2 82", "80", "FF 2F", "F0 9F 98 80 2F", "2F"})
      for (const char* character : {"2F", "61", "C3 A9", "80", "F0 9F 98 80", "E2 82", ""}) {
        GuardedBytes s(std::string(run, 'a') + hex(tail) + "/b" + std::string(run % 9, 'c') + hex(tail) + '\0');
        const std::string ch = hex(character);
        const size_t width = xutf8size(ch.c_str());
        const char *first = nullptr, *last = nullptr;
        size_t steps = 0;
        for (const char* p = s.chars(); *p != '\0'; p = xutf8next(p), ++steps) {
          if (std::strncmp(p, ch.c_str(), width) == 0 && strnlen(p, width) == width) last = p, first = first ? first : p;
        }
        ASSERT_TRUE(xutf8len(s.chars()) == steps && xutf8chr(s.chars(), ch.c_str()) == first &&
                    xutf8rchr(s.chars(), ch.c_str()) == last) << run << " " << tail << " " << character;
      }
}

// In place, within the bytes the string had: what comes back, in hex.
TEST_F(Utf8Strings, UpperCasesAndReversesInPlace) {
  const std::tuple<const char*, const char*, const char*> cases[] = {  // text, upper-cased, reversed
      {"E2 82 AC 61 C3 A9", "E2 82 AC 41 C3 89", "C3 A9 61 E2 82 AC"}, {"C3 9F", "C3 9F", "C3 9F"},  // ß: no upper case
      {"CE B1 CF 89", "CE 91 CE A9", "CF 89 CE B1"}, {"C9 90 61", "C9 90 41", "61 C9 90"},  // ɐ: Ɐ needs 3 bytes, stays
      {"61 FF", "61 FF", "61 FF"},  {"61 C3", "61 C3", "61 C3"},  {"", "", ""},  // invalid, cut: left as they are
      {"C4 B1 C9 90", "49 E2 B1 AF", "C9 90 C4 B1"}, {"C9 90 C4 B1", "E2 B1 AF 49", "C4 B1 C9 90"},  // ı makes room
      {"F0 9F 98 80 61", "EF 98 80 41", "61 EF 98 80"},  // a 4-byte form comes back cut to 16 bits
      {"61 F0 90 80 80 62", "41", "61"},                 // U+10000 cuts to 0, which ends the text
  };
  for (const auto& [in, upper, reversed] : cases) {
    GuardedBytes a = Text(in), b = Text(in);
    EXPECT_EQ(to_hex(DPutf8upr(a.chars())) + "/" + to_hex(DPutf8rev(b.chars())), std::string(upper) + "/" + reversed);
  }
  std::string s = "\xC3\xA9" + std::string(699, 'a');  // past the stack buffer the working copy is on the heap
  EXPECT_EQ(DPutf8upr(s.data()), "\xC3\x89" + std::string(699, 'A'));
  EXPECT_EQ(DPutf8rev(s.data()), std::string(699, 'A') + "\xC3\x89");
  ASSERT_NE(std::setlocale(LC_ALL, "C"), nullptr);  // upper-casing follows the locale
  EXPECT_EQ(to_hex(DPutf8upr(Text("61 C3 A9").chars())), "41 C3 A9");
}

// Within n bytes or whole; the bounded comparison sees a terminator within n.
TEST_F(Utf8Strings, ComparesIgnoringCase) {
  EXPECT_TRUE(DPutf8nicmp("abc", "ABd", 2) == 0 && DPutf8icmp("abc", "ABd") < 0 && DPutf8nicmp("ab", "abc", 3) < 0);
  EXPECT_TRUE(DPutf8icmp("\xC3\xA9t\xC3\xA9", "\xC3\x89T\xC3\x89") == 0 && DPutf8nicmp("b", "A", 1) > 0);
}

// Each wrapper hands its arguments to its hook and returns its result; the
// built-ins step and upper-case through the hooked wrappers.
TEST_F(Utf8Strings, WrappersAndBuiltInsFollowTheHooks) {
  char s[] = "abc";
  imp_utf8width = [](const char* p) { return uint32_t(p[1]); };
  imp_utf8len = [](const char* p) { return size_t(p[2]); };
  imp_utf8chr = imp_utf8rchr = imp_utf8str = [](const char* p, const char* ch) { return const_cast<char*>(p) + *ch; };
  imp_utf8upr = imp_utf8rev = [](char* p) { return p + 1; };
  imp_utf8cmp = [](const char* a, const char* b) { return *a - *b; };
  EXPECT_TRUE(DPutf8Size(s) == 'b' && DPutf8len(s) == 'c' && DPutf8cmp(s, "b") == -1 && DPutf8upr(s) == s + 1);
  EXPECT_TRUE(DPutf8chr(s, "\1") == s + 1 && DPutf8rchr(s, "\2") == s + 2 && DPutf8str(s, "\1") == s + 1);
  EXPECT_EQ(DPutf8rev(s), s + 1);
  imp_utf8width = [](const char*) { return 0u; };  // a width of 0 compares one byte
  EXPECT_EQ(HVDPMatchName(0x100, "x", "a", 0), HVDP_NO_MATCH);
  imp_utf8next = [](const char* p) { return const_cast<char*>(p); };  // never advances: one byte at a time
  imp_utf8upr = [](char* p) { return p; };                            // no upper-casing at all
  imp_utf8cmp = nullptr;
  EXPECT_TRUE(DPutf8next(s) == s && xutf8len("\xC3\xA9" "a") == 3 && xutf8icmp("abc", "ABC") != 0);
}

}  // namespace
