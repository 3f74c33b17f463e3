// Allocated strings: block sizes, the 32-byte reuse rule, growth keeping
// the text, the joiners, wide text at offset 2, and the limits (tiny
// requests, 16-bit sizes, explicit shrinking) handled inside the block.
#include <gtest/gtest.h>

#include <cstring>
#include <malloc.h>
#include <random>
#include <string>
#include <vector>

#include "dpxut.h"

namespace {

using Record = HVDPStringBuffer*;

struct Holder {  // frees the record at the end of a test
  Record r = nullptr;
  ~Holder() { HVDPFreeString(&r); }
};

size_t block_size(Record r) { return malloc_usable_size(r); }

// Wide text read back from any address.
std::wstring wide_at(const void* p) {
  std::wstring out;
  const auto* b = static_cast<const unsigned char*>(p);
  for (;; b += 4) {
    wchar_t c;
    std::memcpy(&c, b, 4);
    if (c == 0) return out;
    out.push_back(c);
  }
}

TEST(StringBuffer, BlockSizesOfFirstCopyCatAndAlloc) {
  {
    Holder h;
    char* t = HVDPCopyString(&h.r, "abc", 0xFFFF);  // 3 + 256 = 259-byte block
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(h.r->capacity, 257);
    EXPECT_GE(block_size(h.r), 259u);
    EXPECT_EQ(t, h.r->text);
    EXPECT_STREQ(t, "abc");
  }
  {
    Holder h;
    ASSERT_NE(HVDPCatString(&h.r, "abc", 0xFFFF), nullptr);  // need 4 + 256 = 260
    EXPECT_EQ(h.r->capacity, 258);
    EXPECT_STREQ(h.r->text, "abc");
  }
  {
    Holder h;
    Record r = HVDPAllocString(&h.r, 0);  // 256-byte block, empty
    ASSERT_EQ(r, h.r);
    EXPECT_EQ(r->capacity, 254);
    EXPECT_STREQ(r->text, "");
    HVDPCopyString(&h.r, "keep", 0xFFFF);
    ASSERT_NE(HVDPAllocString(&h.r, 0), nullptr);  // capacity + 256 = 510
    EXPECT_EQ(h.r->capacity, 508);
    EXPECT_STREQ(h.r->text, "keep");
    ASSERT_NE(HVDPAllocString(&h.r, -7), nullptr);  // negative: default growth too
    EXPECT_EQ(h.r->capacity, 508 + 256 - 2);
  }
  EXPECT_EQ(HVDPAllocString(nullptr, 0), nullptr);
  EXPECT_EQ(HVDPAllocGenericString(0x200, nullptr, 0), nullptr);
  Holder h;  // exactly `length` bytes, never past the source's NUL
  EXPECT_STREQ(HVDPCopyString(&h.r, "abcdef", 3), "abc");
  EXPECT_STREQ(HVDPCopyString(&h.r, "ab", 100), "ab");
  EXPECT_STREQ(HVDPCatString(&h.r, "xyz", 2), "abxy");
  EXPECT_EQ(HVDPCopyString(&h.r, nullptr, 3), nullptr);
  EXPECT_EQ(HVDPCatString(&h.r, nullptr, 0xFFFF), nullptr);
  EXPECT_STREQ(h.r->text, "abxy");
}

// A record is reused while 32 bytes stay free after the new terminator;
// otherwise it is replaced, and text pointers taken before go stale.
TEST(StringBuffer, ReusesCapacity40For7BytesButGrowsFor8) {
  Holder h;
  ASSERT_NE(HVDPAllocString(&h.r, 42), nullptr);
  ASSERT_EQ(h.r->capacity, 40);
  Record before = h.r;
  EXPECT_EQ(HVDPCopyString(&h.r, "1234567", 0xFFFF), before->text);  // 7 + 32 < 40
  EXPECT_EQ(h.r, before);
  ASSERT_NE(HVDPCopyString(&h.r, "12345678", 0xFFFF), nullptr);  // 8 + 32 = 40
  EXPECT_EQ(h.r->capacity, 8 + 256 - 2);
  EXPECT_STREQ(h.r->text, "12345678");

  // Cat: need = old + add + 1 must satisfy need + 31 < capacity.
  ASSERT_NE(HVDPAllocString(&h.r, 42), nullptr);
  HVDPCopyString(&h.r, "abc", 0xFFFF);
  before = h.r;
  HVDPCatString(&h.r, "defg", 0xFFFF);  // need 8: 8 + 31 < 40
  EXPECT_EQ(h.r, before);
  HVDPCatString(&h.r, "h", 0xFFFF);  // need 9: grows to 9 + 256
  EXPECT_EQ(h.r->capacity, 9 + 256 - 2);
  EXPECT_STREQ(h.r->text, "abcdefgh");
}

TEST(StringBuffer, JoinsIntoRecord) {
  Holder h;
  EXPECT_STREQ(HVDPCatStrings(3, &h.r, "a", nullptr, "b"), "ab");
  EXPECT_STREQ(HVDPCatStrings(1, &h.r, "a"), "a");
  EXPECT_STREQ(HVDPCatStrings(0, &h.r, "z", "ignored"), "z");
  EXPECT_EQ(HVDPCatStrings(2, &h.r, nullptr, "b"), nullptr);
  EXPECT_STREQ(HVDPCatStrings(4, &h.r, "/usr", "/", "lib", "/"), "/usr/lib/");
  EXPECT_STREQ(h.r->text, "/usr/lib/");
}

TEST(StringBuffer, JoinsIntoHostArray) {
  char dest[64] = "base";
  EXPECT_EQ(HVDPStr(2, dest, dest, "x"), dest);
  EXPECT_STREQ(dest, "basex");
  EXPECT_STREQ(HVDPStr(4, dest, "VOL:", nullptr, "dir", "/"), "VOL:dir/");
  EXPECT_STREQ(HVDPStr(1, dest, "only", "not this"), "only");
  EXPECT_STREQ(HVDPStr(2, dest, nullptr, "tail"), "tail");
  // A source overlapping the destination is moved, not smeared.
  std::strcpy(dest, "0123456789");
  EXPECT_STREQ(HVDPStr(1, dest, dest + 3), "3456789");
  EXPECT_EQ(HVDPStr(2, nullptr, "a", "b"), nullptr);
  HVDPFreeString(nullptr);  // releases accept null and clear the variable
  HVDPFreeGenericString(nullptr);
  Record r = nullptr;
  HVDPFreeString(&r);
  HVDPCopyString(&r, "x", 0xFFFF);
  HVDPFreeGenericString(&r);
  EXPECT_EQ(r, nullptr);
}

// Appending a record's own text to itself reads the source before the old
// block is released, at every size around the growth points.
TEST(StringBuffer, SourceInsideTheRecordSurvivesGrowth) {
  Holder h;
  std::string expect = "ab";
  HVDPCopyString(&h.r, "ab", 0xFFFF);
  for (int i = 0; i < 12; ++i) {
    ASSERT_NE(HVDPCatString(&h.r, h.r->text, 0xFFFF), nullptr);
    expect += expect;
    ASSERT_EQ(h.r->text, expect);
  }
  ASSERT_NE(HVDPCopyString(&h.r, h.r->text + 1, 0xFFFF), nullptr);
  EXPECT_EQ(h.r->text, expect.substr(1));
  HVDPFreeString(&h.r);
  HVDPCopyGenericString(0x200, &h.r, L"wide");
  ASSERT_NE(HVDPCatGenericString(0x200, &h.r, h.r->text), nullptr);
  EXPECT_EQ(wide_at(h.r->text), L"widewide");
}

// Requests of 1 or 2 bytes still leave room for the terminator that every
// function stores; nothing lands outside the block (checked by ASan).
TEST(StringBuffer, TinyRequestsKeepRoomForTerminator) {
  for (int16_t size : {1, 2, 3}) {
    Holder h;
    ASSERT_NE(HVDPAllocString(&h.r, size), nullptr);
    EXPECT_EQ(h.r->capacity, 1);
    EXPECT_STREQ(h.r->text, "");
    EXPECT_STREQ(HVDPCatString(&h.r, "abc", 0xFFFF), "abc");
    ASSERT_NE(HVDPAllocString(&h.r, size), nullptr);  // shrinks: text cut to fit
    EXPECT_STREQ(h.r->text, "");
  }
  for (uint32_t ns : {0u, 0x100u, 0x200u}) {
    const size_t unit = ns == 0x200 ? 4 : 1;
    for (int32_t size : {1, 2}) {
      Holder h;
      ASSERT_NE(HVDPAllocGenericString(ns, &h.r, size), nullptr);
      EXPECT_EQ(h.r->capacity, unit);
    }
  }
}

// An explicit size below the text keeps what fits, cut at a character.
TEST(StringBuffer, ExplicitShrinkCutsTextToBlock) {
  Holder h;
  HVDPCopyString(&h.r, "abcdefghijklmnop", 0xFFFF);
  ASSERT_NE(HVDPAllocString(&h.r, 10), nullptr);
  EXPECT_EQ(h.r->capacity, 8);
  EXPECT_STREQ(h.r->text, "abcdefg");
  HVDPFreeString(&h.r);
  HVDPCopyGenericString(0x200, &h.r, L"abcdefgh");
  ASSERT_NE(HVDPAllocGenericString(0x200, &h.r, 2 + 13), nullptr);  // 13 bytes: 3 units
  EXPECT_EQ(h.r->capacity, 13);
  EXPECT_EQ(wide_at(h.r->text), L"ab");
}

// Plain requests are signed 16-bit: a text whose growth would need more
// than 32,767 bytes is refused, and the record stays as it was.
TEST(StringBuffer, PlainTextsStopAtSixteenBitRequests) {
  Holder h;
  const std::string fits(32764, 'x');
  ASSERT_NE(HVDPCopyString(&h.r, fits.c_str(), 0xFFFF), nullptr);
  EXPECT_EQ(h.r->capacity, 32765);  // request capped at 32,767
  EXPECT_EQ(std::strlen(h.r->text), fits.size());
  EXPECT_EQ(HVDPAllocString(&h.r, 0), nullptr);  // capacity + 256 does not fit
  EXPECT_EQ(std::strlen(h.r->text), fits.size());

  HVDPFreeString(&h.r);
  const std::string too_long(32765, 'y');
  EXPECT_EQ(HVDPCopyString(&h.r, too_long.c_str(), 0xFFFF), nullptr);
  EXPECT_EQ(h.r, nullptr);
  const std::string longer(70000, 'z');  // longer than a 16-bit length
  EXPECT_EQ(HVDPCopyString(&h.r, longer.c_str(), 0xFFFF), nullptr);
  HVDPCopyString(&h.r, "head", 0xFFFF);
  const std::string rest(32760, 'r');
  EXPECT_STREQ(HVDPCatString(&h.r, rest.c_str(), 0xFFFF), ("head" + rest).c_str());
  EXPECT_EQ(HVDPCatString(&h.r, "!", 0xFFFF), nullptr);  // 32,765 + 1 bytes
  EXPECT_EQ(std::strlen(h.r->text), 32764u);
  EXPECT_EQ(HVDPCatStrings(2, &h.r, "a", longer.c_str()), nullptr);
  EXPECT_STREQ(h.r->text, "a");  // joined so far
}

// Generic records are limited by their 16-bit capacity: 65,535 bytes of
// text area, in whole characters.
TEST(StringBuffer, GenericTextsStopAtSixteenBitCapacity) {
  Holder h;
  const std::string bytes(65534, 'b');
  ASSERT_NE(HVDPCopyGenericString(0x100, &h.r, bytes.c_str()), nullptr);
  EXPECT_EQ(h.r->capacity, 65535);
  EXPECT_EQ(std::strlen(h.r->text), bytes.size());
  EXPECT_EQ(HVDPCatGenericString(0x100, &h.r, "c"), nullptr);
  ASSERT_NE(HVDPAllocGenericString(0x100, &h.r, 0), nullptr);  // default growth clamped
  EXPECT_EQ(h.r->capacity, 65535);
  EXPECT_EQ(HVDPAllocGenericString(0x100, &h.r, 65538), nullptr);
  EXPECT_EQ(h.r->capacity, 65535);
  EXPECT_EQ(HVDPCopyGenericString(0, &h.r, (bytes + "x").c_str()), nullptr);

  HVDPFreeString(&h.r);
  const std::wstring chars(16382, L'w');
  ASSERT_NE(HVDPCopyGenericString(0x200, &h.r, chars.c_str()), nullptr);
  EXPECT_EQ(h.r->capacity, 65535);
  EXPECT_EQ(wide_at(h.r->text), chars);
  EXPECT_EQ(HVDPCatGenericString(0x200, &h.r, L"!"), nullptr);
  EXPECT_EQ(HVDPCopyGenericString(0x200, &h.r, (chars + L"!").c_str()), nullptr);
  EXPECT_EQ(wide_at(h.r->text), chars);
}

TEST(StringBuffer, GenericCopyMeasuresWideBytesAndTerminatesWithFourZeros) {
  Holder h;
  void* t = HVDPCopyGenericString(0x200, &h.r, L"ab");  // 8 bytes + 256
  ASSERT_EQ(t, static_cast<void*>(h.r->text));
  EXPECT_EQ(h.r->capacity, 8 + 256 - 2);
  const unsigned char expect[12] = {'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(std::memcmp(h.r->text, expect, 12), 0);
  for (size_t i = 12; i < h.r->capacity; ++i) ASSERT_EQ(h.r->text[i], 0) << i;  // cleared block
  // Cat asks for old + add + 4 + 256 once fewer than 32 bytes would stay.
  HVDPFreeString(&h.r);
  ASSERT_NE(HVDPCatGenericString(0x204, &h.r, L"abc"), nullptr);
  EXPECT_EQ(h.r->capacity, 12 + 4 + 256 - 2);
  ASSERT_NE(HVDPAllocGenericString(0x204, &h.r, 2 + 47), nullptr);
  Record before = h.r;
  HVDPCatGenericString(0x204, &h.r, L"");  // need 12 + 0 + 4: 47 >= 16 + 32? no
  EXPECT_NE(h.r, before);
  ASSERT_NE(HVDPAllocGenericString(0x204, &h.r, 2 + 48), nullptr);
  before = h.r;
  HVDPCatGenericString(0x204, &h.r, L"");  // 48 >= 48: reused
  EXPECT_EQ(h.r, before);
  HVDPCatGenericString(0x204, &h.r, L"d");  // need 20: grows
  EXPECT_NE(h.r, before);
  EXPECT_EQ(wide_at(h.r->text), L"abcd");
}

// Wide text sits at offset 2 of the block: joins of every length around
// the growth points come back intact.
TEST(StringBuffer, JoinsWideStringsOfManyLengths) {
  std::mt19937 rng(7);
  for (size_t a = 0; a < 80; a += 3) {
    for (size_t b : {0u, 1u, 5u, 31u, 57u, 64u, 65u, 200u}) {
      std::wstring wa, wb, wc;
      for (size_t i = 0; i < a; ++i) wa.push_back(L'a' + rng() % 26);
      for (size_t i = 0; i < b; ++i) wb.push_back(0x100 + rng() % 0x10000);
      wc = L"/";
      Holder h;
      void* t = HVDPCatGenericStrings(0x200, 4, &h.r, wa.c_str(), wb.c_str(), nullptr, wc.c_str());
      ASSERT_NE(t, nullptr);
      ASSERT_EQ(wide_at(t), wa + wb + wc) << a << " " << b;
      t = HVDPCatGenericString(0x200, &h.r, wa.c_str());
      ASSERT_EQ(wide_at(t), wa + wb + wc + wa);
    }
  }
}

TEST(StringBuffer, GenericStrJoinsAtAnyAlignment) {
  alignas(16) unsigned char area[256 + 3];
  for (size_t off = 0; off < 4; ++off) {
    void* dest = area + off;
    ASSERT_EQ(HVDPGenericStr(0x200, 3, dest, L"VOL:", L"dir", L"/"), dest);
    EXPECT_EQ(wide_at(dest), L"VOL:dir/");
    HVDPGenericStr(0x200, 2, dest, dest, L"x");
    EXPECT_EQ(wide_at(dest), L"VOL:dir/x");
  }
  char bytes[32];
  EXPECT_STREQ(static_cast<char*>(HVDPGenericStr(0x100, 2, bytes, "a", "b")), "ab");
  EXPECT_EQ(HVDPGenericStr(0, 2, nullptr, "a", "b"), nullptr);
}

// The sizing rules over random sequences: a growth happens exactly when
// fewer than 32 bytes would stay free, and asks for the need plus 256.
TEST(StringBuffer, CapacityFollowsReuseAndGrowthRules) {
  std::mt19937 rng(11);
  Holder h;
  std::string model;
  size_t cap = 0;
  for (int step = 0; step < 3000; ++step) {
    const std::string piece(rng() % 300, static_cast<char>('a' + rng() % 26));
    if (rng() % 3 == 0 || model.size() > 20000) {
      ASSERT_NE(HVDPCopyString(&h.r, piece.c_str(), 0xFFFF), nullptr);
      model = piece;
      if (cap == 0 || piece.size() + 32 >= cap) cap = piece.size() + 256 - 2;
    } else {
      ASSERT_NE(HVDPCatString(&h.r, piece.c_str(), 0xFFFF), nullptr);
      const size_t need = model.size() + piece.size() + 1;
      model += piece;
      if (cap == 0 || need + 31 >= cap) cap = need + 256 - 2;
    }
    ASSERT_EQ(h.r->capacity, cap);
    ASSERT_EQ(h.r->text, model);
  }
}

}  // namespace
