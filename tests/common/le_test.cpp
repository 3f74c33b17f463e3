// Little-endian helpers at every alignment and width.
#include "common/le.h"

#include <gtest/gtest.h>

#include <array>

namespace {

TEST(LittleEndian, LoadsAndStoresAtAnyOffsetAndWidth) {
  std::array<unsigned char, 16> buf{};
  for (size_t off = 0; off < 4; ++off) {
    buf.fill(0xEE);
    dpxut::store_le32(buf.data() + off, 0x04030201u);
    EXPECT_TRUE(buf[off] == 0x01 && buf[off + 3] == 0x04 && buf[off + 4] == 0xEE) << off;
    EXPECT_EQ(dpxut::load_le32(buf.data() + off), 0x04030201u);
    dpxut::store_le64(buf.data() + off, 0x0807060504030201ull);
    EXPECT_EQ(dpxut::load_le64(buf.data() + off), 0x0807060504030201ull);
    EXPECT_EQ(dpxut::load_le16(buf.data() + off), 0x0201u);
  }
  // Partial widths zero-extend and store only their bytes.
  const unsigned char bytes[8] = {0x2C, 0x01, 0xFF, 0xFF, 0, 0, 0, 0};
  EXPECT_EQ(dpxut::load_le(bytes, 0), 0u);
  EXPECT_EQ(dpxut::load_le(bytes, 2), 0x012Cu);
  EXPECT_EQ(dpxut::load_le(bytes, 3), 0xFF012Cu);
  unsigned char out[4] = {0xAA, 0xAA, 0xAA, 0xAA};
  dpxut::store_le(out, 0x0102030405ull, 3);
  EXPECT_TRUE(out[0] == 0x05 && out[2] == 0x03 && out[3] == 0xAA);
}

}  // namespace
