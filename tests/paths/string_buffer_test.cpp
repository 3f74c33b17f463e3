// Allocated strings: block sizes, the 32-byte reuse rule, growth keeping
// the text, the joiners, wide text at offset 2, and the limits (tiny
// requests, 16-bit sizes, explicit shrinking) handled inside the block.
#include <gtest/gtest.h>

#include <cstring>
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

// Wide text read back from any address.
std::wstring wide_at(const void* p) {
  std::wstring out;
  wchar_t c;
  for (const auto* b = static_cast<const unsigned char*>(p); std::memcpy(&c, b, 4), c != 0; b += 4) out.push_back(c);
  return out;
}

TEST(StringBuffer, BlockSizesOfFirstCopyCatAndAlloc) {
  Holder copy, cat, alloc;
  char* t = HVDPCopyString(&copy.r, "abc", 0xFFFF);  // 3 + 256 = 259-byte block
  EXPECT_EQ(t, copy.r->text);
  EXPECT_EQ(copy.r->capacity, 257);
  EXPECT_STREQ(t, "abc");
  EXPECT_STREQ(HVDPCatString(&cat.r, "abc", 0xFFFF), "abc");  // need 4 + 256 = 260
  EXPECT_EQ(cat.r->capacity, 258);
  Record r = HVDPAllocString(&alloc.r, 0);  // 256-byte block, empty
  ASSERT_EQ(r, alloc.r);
  EXPECT_EQ(alloc.r->capacity, 254);
  EXPECT_STREQ(alloc.r->text, "");
  HVDPCopyString(&alloc.r, "keep", 0xFFFF);
  ASSERT_NE(HVDPAllocString(&alloc.r, 0), nullptr);  // capacity + 256 = 510
  EXPECT_EQ(alloc.r->capacity, 508);
  EXPECT_STREQ(alloc.r->text, "keep");
  ASSERT_NE(HVDPAllocString(&alloc.r, -7), nullptr);  // negative: default growth too
  EXPECT_EQ(alloc.r->capacity, 508 + 256 - 2);
  EXPECT_EQ(HVDPAllocString(nullptr, 0), nullptr);
  EXPECT_EQ(HVDPAllocGenericString(0x200, nullptr, 0), nullptr);
  // Exactly `length` bytes, never past the source's NUL.
  EXPECT_STREQ(HVDPCopyString(&copy.r, "abcdef", 3), "abc");
  EXPECT_STREQ(HVDPCopyString(&copy.r, "ab", 100), "ab");
  EXPECT_STREQ(HVDPCatString(&copy.r, "xyz", 2), "abxy");
  EXPECT_EQ(HVDPCopyString(&copy.r, nullptr, 3), nullptr);
  EXPECT_EQ(HVDPCatString(&copy.r, nullptr, 0xFFFF), nullptr);
  EXPECT_STREQ(copy.r->text, "abxy");
}

// A record is reused while 32 bytes stay free after the new terminator;
// otherwise it is replaced, and text pointers taken before go stale.
TEST(StringBuffer, ReusesCapacity40For7BytesButGrowsFor8) {
  Holder h;
  ASSERT_NE(HVDPAllocString(&h.r, 42), nullptr);
  Record before = h.r;
  EXPECT_EQ(HVDPCopyString(&h.r, "1234567", 0xFFFF), before->text);  // 7 + 32 < 40
  ASSERT_NE(HVDPCopyString(&h.r, "12345678", 0xFFFF), nullptr);       // 8 + 32 = 40
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

TEST(StringBuffer, JoinsIntoRecordOrHostArray) {
  Holder h;
  EXPECT_STREQ(HVDPCatStrings(3, &h.r, "a", nullptr, "b"), "ab");
  EXPECT_STREQ(HVDPCatStrings(1, &h.r, "a"), "a");
  EXPECT_STREQ(HVDPCatStrings(0, &h.r, "z", "ignored"), "z");
  EXPECT_EQ(HVDPCatStrings(2, &h.r, nullptr, "b"), nullptr);
  EXPECT_STREQ(HVDPCatStrings(4, &h.r, "/usr", "/", "lib", "/"), "/usr/lib/");
  char dest[64] = "base";
  EXPECT_EQ(HVDPStr(2, dest, dest, "x"), dest);
  EXPECT_STREQ(dest, "basex");
  EXPECT_STREQ(HVDPStr(4, dest, "VOL:", nullptr, "dir", "/"), "VOL:dir/");
  EXPECT_STREQ(HVDPStr(1, dest, "only", "not this"), "only");
  EXPECT_STREQ(HVDPStr(2, dest, nullptr, "tail"), "tail");
  std::strcpy(dest, "0123456789");
  EXPECT_STREQ(HVDPStr(1, dest, dest + 3), "3456789");  // an overlapping source is moved, not smeared
  EXPECT_EQ(HVDPStr(2, nullptr, "a", "b"), nullptr);
  alignas(16) unsigned char area[256 + 3];
  for (size_t off = 0; off < 4; ++off) {
    ASSERT_EQ(HVDPGenericStr(0x200, 3, area + off, L"VOL:", L"dir", L"/"), area + off);
    HVDPGenericStr(0x200, 2, area + off, area + off, L"x");
    EXPECT_EQ(wide_at(area + off), L"VOL:dir/x");
  }
  EXPECT_STREQ(static_cast<char*>(HVDPGenericStr(0x100, 2, dest, "a", "b")), "ab");
  EXPECT_EQ(HVDPGenericStr(0, 2, nullptr, "a", "b"), nullptr);
  HVDPFreeString(nullptr);  // releases accept null and clear the variable
  HVDPFreeGenericString(nullptr);
  HVDPFreeString(&h.r);
  HVDPFreeString(&h.r);
  HVDPCopyString(&h.r, "x", 0xFFFF);
  HVDPFreeGenericString(&h.r);
  EXPECT_EQ(h.r, nullptr);
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
// function stores, and an explicit size below the text keeps what fits, cut
// at a character; nothing lands outside the block (checked by ASan).
TEST(StringBuffer, TinyAndShrinkingRequestsStayInsideTheBlock) {
  for (int16_t size : {1, 2, 3}) {
    Holder h;
    ASSERT_NE(HVDPAllocString(&h.r, size), nullptr);
    EXPECT_EQ(h.r->capacity, 1);
    EXPECT_STREQ(HVDPCatString(&h.r, "abc", 0xFFFF), "abc");
    ASSERT_NE(HVDPAllocString(&h.r, size), nullptr);
    EXPECT_STREQ(h.r->text, "");
  }
  for (uint32_t ns : {0u, 0x100u, 0x200u})
    for (int32_t size : {1, 2}) {
      Holder h;
      ASSERT_NE(HVDPAllocGenericString(ns, &h.r, size), nullptr);
      EXPECT_EQ(h.r->capacity, ns == 0x200 ? 4 : 1);
    }
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
  const std::string fits(32764, 'x'), longer(70000, 'z');
  ASSERT_NE(HVDPCopyString(&h.r, fits.c_str(), 0xFFFF), nullptr);
  EXPECT_EQ(h.r->capacity, 32765);  // request capped at 32,767
  EXPECT_EQ(HVDPAllocString(&h.r, 0), nullptr);  // capacity + 256 does not fit
  EXPECT_EQ(h.r->text, fits);
  HVDPFreeString(&h.r);
  EXPECT_EQ(HVDPCopyString(&h.r, std::string(32765, 'y').c_str(), 0xFFFF), nullptr);
  EXPECT_EQ(h.r, nullptr);
  EXPECT_EQ(HVDPCopyString(&h.r, longer.c_str(), 0xFFFF), nullptr);  // longer than a 16-bit length
  HVDPCopyString(&h.r, "head", 0xFFFF);
  const std::string rest(32760, 'r');
  EXPECT_EQ(HVDPCatString(&h.r, rest.c_str(), 0xFFFF), "head" + rest);
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
  EXPECT_EQ(HVDPCatGenericString(0x100, &h.r, "c"), nullptr);
  ASSERT_NE(HVDPAllocGenericString(0x100, &h.r, 0), nullptr);  // default growth clamped
  EXPECT_EQ(HVDPAllocGenericString(0x100, &h.r, 65538), nullptr);
  EXPECT_EQ(h.r->capacity, 65535);
  EXPECT_EQ(HVDPCopyGenericString(0, &h.r, (bytes + "x").c_str()), nullptr);
  EXPECT_EQ(h.r->text, bytes);
  HVDPFreeString(&h.r);
  const std::wstring chars(16382, L'w');
  ASSERT_NE(HVDPCopyGenericString(0x200, &h.r, chars.c_str()), nullptr);
  EXPECT_EQ(h.r->capacity, 65535);
  EXPECT_EQ(HVDPCatGenericString(0x200, &h.r, L"!"), nullptr);
  EXPECT_EQ(HVDPCopyGenericString(0x200, &h.r, (chars + L"!").c_str()), nullptr);
  EXPECT_EQ(wide_at(h.r->text), chars);
}

TEST(StringBuffer, GenericCopyMeasuresWideBytesAndTerminatesWithFourZeros) {
  Holder h;
  void* t = HVDPCopyGenericString(0x200, &h.r, L"ab");  // 8 bytes + 256
  ASSERT_EQ(t, static_cast<void*>(h.r->text));
  EXPECT_EQ(h.r->capacity, 8 + 256 - 2);
  EXPECT_EQ(std::string(h.r->text, h.r->capacity), std::string("a\0\0\0b", 5) + std::string(h.r->capacity - 5, '\0'));
  // Cat asks for old + add + 4 + 256 once fewer than 32 bytes would stay.
  HVDPFreeString(&h.r);
  ASSERT_NE(HVDPCatGenericString(0x204, &h.r, L"abc"), nullptr);
  EXPECT_EQ(h.r->capacity, 12 + 4 + 256 - 2);
  for (const auto& [capacity, reused] : {std::pair<int, bool>{47, false}, {48, true}}) {
    ASSERT_NE(HVDPAllocGenericString(0x204, &h.r, 2 + capacity), nullptr);
    const Record before = h.r;
    HVDPCatGenericString(0x204, &h.r, L"");  // need 12 + 0 + 4, and 32 spare
    EXPECT_EQ(h.r == before, reused) << capacity;
  }
  const Record before = h.r;
  HVDPCatGenericString(0x204, &h.r, L"d");  // need 20: grows
  EXPECT_NE(h.r, before);
  EXPECT_EQ(wide_at(h.r->text), L"abcd");
}

// Wide text sits at offset 2 of the block: joins of every length around
// the growth points come back intact.
TEST(StringBuffer, JoinsWideStringsOfManyLengths) {
  std::mt19937 rng(7);
  for (size_t a = 0; a < 80; a += 3)
    for (size_t b : {0u, 1u, 31u, 57u, 64u, 65u, 200u}) {
      std::wstring wa, wb;
      for (size_t i = 0; i < a; ++i) wa.push_back(L'a' + rng() % 26);
      for (size_t i = 0; i < b; ++i) wb.push_back(0x100 + rng() % 0x10000);
      Holder h;
      void* t = HVDPCatGenericStrings(0x200, 4, &h.r, wa.c_str(), wb.c_str(), nullptr, L"/");
      ASSERT_NE(t, nullptr);
      ASSERT_EQ(wide_at(t), wa + wb + L"/") << a << " " << b;
      ASSERT_EQ(wide_at(HVDPCatGenericString(0x200, &h.r, wa.c_str())), wa + wb + L"/" + wa);
    }
}

}  // namespace
