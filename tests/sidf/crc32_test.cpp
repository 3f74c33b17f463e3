// CRC-32: the known check value, agreement with zlib and between kernels,
// and chained calls over split data.
#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <vector>

#include "dpxut.h"
#include "sidf/crc32.h"

namespace dpxut::sidf {
namespace {

// Every length class of the kernels (tails, 8- and 64-byte blocks, the
// 65536-byte pieces), at unaligned starts, from any register value, and two
// calls chained over a split that give what one call gives.
TEST(Crc32, AgreesWithZlibAndEveryKernelAndChainsOverSplits) {
  EXPECT_EQ(HVDPGenerateCRC(9, 0xFFFFFFFFu, reinterpret_cast<const uint8_t*>("123456789")), 0x340BC6D9u);
  std::mt19937 rng(11);
  std::vector<uint8_t> data(1 << 20);
  for (auto& b : data) b = static_cast<uint8_t>(rng());
  std::vector<uint32_t> lengths = {0, 1, 7, 8, 15, 16, 63, 64, 65, 127, 128, 4096, 65536, 65537, (1 << 20) - 3};
  for (int i = 0; i < 200; ++i) lengths.push_back(rng() % 5000);
  for (uint32_t len : lengths) {
    const uint8_t* p = data.data() + rng() % 3;
    const uint32_t seed = static_cast<uint32_t>(rng()), ref = crc32_bytewise(seed, p, len), split = rng() % (len + 1);
    const uint32_t whole = HVDPGenerateCRC(len, 0xFFFFFFFFu, p);
    EXPECT_EQ(whole, ~static_cast<uint32_t>(crc32(0, p, len))) << len;
    EXPECT_EQ(crc32_slice8(seed, p, len), ref) << len;
    EXPECT_EQ(crc32_clmul_usable() ? crc32_clmul(seed, p, len) : ref, ref) << len;
    EXPECT_EQ(HVDPGenerateCRC(len - split, HVDPGenerateCRC(split, 0xFFFFFFFFu, p), p + split), whole) << len;
  }
}

}  // namespace
}  // namespace dpxut::sidf
