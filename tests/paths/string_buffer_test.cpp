// Allocated strings: the sizing rules against a model, the joiners, and the
// limits of 16-bit requests and capacities. The texts themselves are
// checked against std::string by the fuzz target.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>

#include "charset/charset_test_util.h"
#include "dpxut.h"

namespace {

using dpxut::test::wide_at;

// Random copies, appends and allocations on a plain and a wide record,
// their lengths often right at the point where the call would grow the
// record. A record is reused while 32 bytes stay free after the new
// terminator; a growth asks for the bytes needed plus 256. An Alloc of 0 or
// less asks for 256 (capacity + 256 for a record), one of 1 or 2 bytes
// still for room for a terminator; the text is kept, cut at a character.
TEST(StringBuffer, CapacityFollowsTheReuseAndGrowthRules) {
  std::mt19937 rng(11);
  for (const size_t unit : {1u, 4u}) {
    HVDPStringBuffer* r = nullptr;
    std::string text;  // the model's text bytes
    size_t cap = 0;
    for (int step = 0; step < 6000; ++step) {
      const int op = text.size() > 8000 ? 0 : rng() % 3, d = static_cast<int>(rng() % 3) - 1;
      const long room = long(cap) - 32 - (op == 1 ? long(text.size() + unit) : 0);  // bytes up to a growth
      const size_t n = rng() % 2 ? rng() % 300 : std::max(0L, room / long(unit) + d);
      std::string add;
      for (size_t i = 0; i < n; ++i) {
        const uint32_t c = unit == 1 ? 'a' + i % 26 : 0x4E00 + i;
        add.append(reinterpret_cast<const char*>(&c), unit);
      }
      const std::string arg = add + std::string(unit, '\0');
      if (op == 0) {
        ASSERT_NE(unit == 1 ? HVDPCopyString(&r, arg.data(), 0xFFFF) : HVDPCopyGenericString(0x200, &r, arg.data()),
                  nullptr);
        if (cap == 0 || add.size() + 32 >= cap) cap = add.size() + 254;
        text = add;
      } else if (op == 1) {
        ASSERT_NE(unit == 1 ? HVDPCatString(&r, arg.data(), 0xFFFF) : HVDPCatGenericString(0x200, &r, arg.data()),
                  nullptr);
        const size_t need = text.size() + add.size() + unit;
        if (cap == 0 || need + 32 > cap) cap = need + 254;
        text += add;
      } else {
        const int size = rng() % 4 == 0 ? static_cast<int>(rng() % 4) - 1 : static_cast<int>(text.size() + 2 + n % 9);
        ASSERT_NE(unit == 1 ? HVDPAllocString(&r, static_cast<int16_t>(size)) : HVDPAllocGenericString(0x200, &r, size),
                  nullptr);
        cap = std::max<size_t>(size > 0 ? size : cap ? cap + 256 : 256, 2 + unit) - 2;
        text.resize(std::min(text.size(), (cap / unit - 1) * unit));
      }
      ASSERT_EQ(r->capacity, cap) << "step " << step << " op " << op << " unit " << unit;
      ASSERT_EQ(unit == 1 ? std::string(r->text) : std::string(r->text, 4 * wide_at(r->text).size()), text);
    }
    HVDPFreeGenericString(&r);
  }
}

TEST(StringBuffer, JoinsIntoRecordOrHostArray) {
  HVDPStringBuffer* r = nullptr;
  EXPECT_STREQ(HVDPCatStrings(1, &r, "a", "not this"), "a");
  EXPECT_STREQ(HVDPCatStrings(0, &r, "z", "ignored"), "z");
  EXPECT_EQ(HVDPCatStrings(2, &r, nullptr, "b"), nullptr);
  EXPECT_EQ(wide_at(HVDPCatGenericStrings(0x200, 1, &r, L"a", L"not this")), L"a");
  HVDPFreeString(&r);
  char dest[64] = "base";
  EXPECT_STREQ(HVDPStr(3, dest, dest, nullptr, "x"), "basex");  // the text already there
  EXPECT_STREQ(HVDPStr(2, dest, nullptr, "tail"), "tail");
  EXPECT_STREQ(HVDPStr(1, dest, dest + 2, "not this"), "il");  // an overlapping source is moved, not smeared
  alignas(16) unsigned char area[64];
  for (size_t off = 0; off < 4; ++off) {
    ASSERT_EQ(HVDPGenericStr(0x200, 2, area + off, L"VOL:", L"dir"), area + off);
    HVDPGenericStr(0x200, 2, area + off, area + off, L"/");
    EXPECT_EQ(wide_at(area + off), L"VOL:dir/");
  }
}

// Plain requests are signed 16-bit: a text whose growth would need more than
// 32,767 bytes is refused and the record stays as it was. Generic records
// are limited by their 16-bit capacity: 65,535 bytes, in whole characters.
TEST(StringBuffer, StopsAtSixteenBitRequestsAndCapacities) {
  HVDPStringBuffer* r = nullptr;
  const std::string fits(32764, 'x'), bytes(65534, 'b');
  ASSERT_NE(HVDPCopyString(&r, fits.c_str(), 0xFFFF), nullptr);
  EXPECT_EQ(r->capacity, 32765);               // request capped at 32,767
  EXPECT_EQ(HVDPAllocString(&r, 0), nullptr);  // capacity + 256 does not fit
  EXPECT_EQ(HVDPCatString(&r, "!", 0xFFFF), nullptr);
  EXPECT_EQ(HVDPCopyString(&r, (fits + "y").c_str(), 0xFFFF), nullptr);
  EXPECT_EQ(r->text, fits);
  ASSERT_NE(HVDPCopyGenericString(0x100, &r, bytes.c_str()), nullptr);
  EXPECT_EQ(r->capacity, 65535);
  EXPECT_EQ(HVDPCatGenericString(0x100, &r, "c"), nullptr);
  ASSERT_NE(HVDPAllocGenericString(0x100, &r, 0), nullptr);  // default growth clamped
  EXPECT_EQ(HVDPAllocGenericString(0x100, &r, 65538), nullptr);
  EXPECT_EQ(r->text, bytes);
  const std::wstring chars(16382, L'w');
  ASSERT_NE(HVDPCopyGenericString(0x200, &r, chars.c_str()), nullptr);
  EXPECT_EQ(r->capacity, 65535);
  EXPECT_EQ(HVDPCatGenericString(0x200, &r, L"!"), nullptr);
  EXPECT_EQ(wide_at(r->text), chars);
  HVDPFreeString(&r);
}

}  // namespace
