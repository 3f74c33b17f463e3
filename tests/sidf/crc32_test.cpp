// CRC-32: the known check value, agreement with zlib and between kernels,
// and chained calls over split data.
#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <vector>

#include "dpxut.h"
#include "sidf/crc32.h"

namespace {

std::vector<uint8_t> random_bytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = static_cast<uint8_t>(rng());
  return v;
}

TEST(Crc32, StoredValueOfTheNineDigitsIs340BC6D9) {
  const auto* digits = reinterpret_cast<const uint8_t*>("123456789");
  EXPECT_EQ(HVDPGenerateCRC(9, 0xFFFFFFFFu, digits), 0x340BC6D9u);
  EXPECT_EQ(HVDPGenerateCRC(0, 0x12345678u, digits), 0x12345678u);
  EXPECT_EQ(HVDPGenerateCRC(9, 0x12345678u, nullptr), 0x12345678u);
}

// Every length class of the kernels (tails, 8- and 64-byte blocks, the
// 65536-byte pieces), at unaligned starts too.
TEST(Crc32, AgreesWithZlibAndEveryKernelOnRandomData) {
  const auto data = random_bytes(1 << 20, 7);
  std::mt19937 rng(11);
  std::vector<size_t> lengths = {0, 1, 7, 8, 15, 16, 63, 64, 65, 127, 128, 4096, 65536, 65537, data.size() - 3};
  for (int i = 0; i < 200; ++i) lengths.push_back(rng() % 5000);
  for (size_t len : lengths) {
    const uint8_t* p = data.data() + rng() % 3;
    const uint32_t seed = static_cast<uint32_t>(rng()), ref = dpxut::sidf::crc32_bytewise(seed, p, len);
    EXPECT_EQ(HVDPGenerateCRC(static_cast<uint32_t>(len), 0xFFFFFFFFu, p),
              ~static_cast<uint32_t>(crc32(0, p, static_cast<uInt>(len)))) << len;
    EXPECT_EQ(dpxut::sidf::crc32_slice8(seed, p, len), ref) << len;
    EXPECT_EQ(dpxut::sidf::crc32_clmul_usable() ? dpxut::sidf::crc32_clmul(seed, p, len) : ref, ref) << len;
  }
}

TEST(Crc32, ChainedCallsOverSplitDataEqualOneCall) {
  const auto data = random_bytes(300, 3);
  const uint32_t whole = HVDPGenerateCRC(300, 0xFFFFFFFFu, data.data());
  for (uint32_t a = 0; a <= 300; a += 3)
    for (uint32_t b = a; b <= 300; b += 37) {
      uint32_t crc = HVDPGenerateCRC(a, 0xFFFFFFFFu, data.data());
      crc = HVDPGenerateCRC(b - a, crc, data.data() + a);
      ASSERT_EQ(HVDPGenerateCRC(300 - b, crc, data.data() + b), whole) << a << " " << b;
    }
}

}  // namespace
