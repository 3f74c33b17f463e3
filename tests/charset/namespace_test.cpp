// Name space numbers: the three encoding tests and the four mappings over
// every class of number, including the look-alikes 3, 0x103 and 0x203.
#include <gtest/gtest.h>

#include "dpxut.h"

namespace {

TEST(NameSpace, TestsAndMappingsFollowExactValues) {
  const struct {
    uint32_t ns;
    uint16_t unicode, utf8, ascii;
    uint32_t kfs, toUnicode, toUtf8;
  } facts[] = {
      // ns   uni utf asc kfs   ->uni  ->utf8
      {0x000, 0, 0, 1, 0x000, 0x200, 0x100}, {0x001, 0, 0, 1, 0x001, 0x201, 0x101},  // base: locale bytes
      {0x002, 0, 0, 1, 0x002, 0x202, 0x102}, {0x004, 0, 0, 1, 0x004, 0x204, 0x104},
      {0x003, 0, 0, 1, 0x003, 0x003, 0x003},  // locale bytes without other forms
      {0x100, 0, 1, 0, 0x000, 0x100, 0x100}, {0x101, 0, 1, 0, 0x001, 0x101, 0x101},  // UTF-8 forms
      {0x102, 0, 1, 0, 0x002, 0x102, 0x102}, {0x104, 0, 1, 0, 0x004, 0x104, 0x104},
      {0x200, 1, 0, 0, 0x000, 0x200, 0x200}, {0x201, 1, 0, 0, 0x001, 0x201, 0x201},  // wide forms
      {0x202, 1, 0, 0, 0x002, 0x202, 0x202}, {0x204, 1, 0, 0, 0x004, 0x204, 0x204},
      {0x103, 0, 0, 0, 0x103, 0x103, 0x103}, {0x203, 0, 0, 0, 0x203, 0x203, 0x203},  // look-alikes
      {0x005, 0, 0, 0, 0x005, 0x005, 0x005}, {0x300, 0, 0, 0, 0x300, 0x300, 0x300},  // unknown: unchanged
      {0x1100, 0, 0, 0, 0x1100, 0x1100, 0x1100}, {0x10200, 0, 0, 0, 0x10200, 0x10200, 0x10200},
      {0xFFFFFFFF, 0, 0, 0, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF},
  };
  for (const auto& f : facts) {
    SCOPED_TRACE(testing::Message() << "name space 0x" << std::hex << f.ns);
    EXPECT_EQ(HVDPIsNameSpaceUnicode(f.ns), f.unicode);
    EXPECT_EQ(HVDPIsNameSpaceUtf8(f.ns), f.utf8);
    EXPECT_EQ(HVDPIsNameSpaceAscii(f.ns), f.ascii);
    EXPECT_EQ(MapToKFSNameSpace(f.ns), f.kfs);
    EXPECT_EQ(MapToAsciiNameSpace(f.ns), f.kfs);
    EXPECT_EQ(MapToUnicodeNameSpace(f.ns), f.toUnicode);
    EXPECT_EQ(MapToUtf8NameSpace(f.ns), f.toUtf8);
    EXPECT_EQ(DPsizeOfChar(f.ns), f.unicode ? 4u : 1u);
  }
  // The tests work on values, not bits: below 0x1000 only the rows above
  // are UTF-8, wide or ASCII.
  int utf8 = 0, wide = 0, ascii = 0;
  for (uint32_t ns = 0; ns < 0x1000; ++ns)
    utf8 += HVDPIsNameSpaceUtf8(ns), wide += HVDPIsNameSpaceUnicode(ns), ascii += HVDPIsNameSpaceAscii(ns);
  EXPECT_EQ(utf8, 4);
  EXPECT_EQ(wide, 4);
  EXPECT_EQ(ascii, 5);
}

}  // namespace
