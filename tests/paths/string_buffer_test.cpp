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
      const std::string add(n * unit, static_cast<char>('a' + step % 26));
      const std::string arg = add + std::string(unit, '\0');
      if (op < 2) {  // a copy, or an append to the text
        const char* in = arg.data();
        ASSERT_NE(op == 0 ? (unit == 1 ? HVDPCopyString(&r, in, 0xFFFF) : HVDPCopyGenericString(0x200, &r, in))
                          : (unit == 1 ? HVDPCatString(&r, in, 0xFFFF) : HVDPCatGenericString(0x200, &r, in)),
                  nullptr);
        const size_t base = op == 0 ? add.size() : text.size() + add.size() + unit;
        if (cap == 0 || (op == 0 ? base + 32 >= cap : base + 32 > cap)) cap = base + 254;
        text = (op == 0 ? "" : text) + add;
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

// The texts of a count of 1 only; joins into a host array whose first text
// may be dest itself (kept), null (empty) or inside dest (moved).
TEST(StringBuffer, JoinsIntoRecordOrHostArray) {
  HVDPStringBuffer* r = nullptr;
  EXPECT_STREQ(HVDPCatStrings(1, &r, "a", "not this"), "a");
  EXPECT_EQ(wide_at(HVDPCatGenericStrings(0x200, 1, &r, L"a", L"not this")), L"a");
  HVDPFreeString(&r);
  char dest[64] = "base";
  EXPECT_STREQ(HVDPStr(3, dest, dest, nullptr, "x"), "basex");
  EXPECT_STREQ(HVDPStr(2, dest, nullptr, "tail"), "tail");
  EXPECT_STREQ(HVDPStr(1, dest, dest + 2, "not this"), "il");
  dpxut::test::WideAt area(L"", 1);
  ASSERT_EQ(HVDPGenericStr(0x200, 2, area.p(), L"VOL:", L"dir"), area.p());
  HVDPGenericStr(0x200, 2, area.p(), area.p(), L"/");
  EXPECT_EQ(area.str(), L"VOL:dir/");
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
