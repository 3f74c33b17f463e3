// CRC-32 throughput: HVDPGenerateCRC (and each of its kernels) beside
// zlib's crc32, on 64 B, 4 KiB and 1 MiB.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <random>
#include <vector>

#include "dpxut.h"
#include "sidf/crc32.h"

namespace {

const std::vector<uint8_t>& data() {
  static const std::vector<uint8_t> bytes = [] {
    std::vector<uint8_t> v(1 << 20);
    std::mt19937 rng(1);
    for (auto& b : v) b = static_cast<uint8_t>(rng());
    return v;
  }();
  return bytes;
}

template <typename F>
void run(benchmark::State& state, F f) {
  const auto n = static_cast<size_t>(state.range(0));
  const uint8_t* p = data().data();
  for (auto _ : state) benchmark::DoNotOptimize(f(p, n));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * n));
}

void BM_HVDPGenerateCRC(benchmark::State& s) {
  run(s, [](const uint8_t* p, size_t n) { return HVDPGenerateCRC(static_cast<uint32_t>(n), 0xFFFFFFFFu, p); });
}
void BM_ZlibCrc32(benchmark::State& s) {
  run(s, [](const uint8_t* p, size_t n) { return crc32(0, p, static_cast<uInt>(n)); });
}
void BM_KernelBytewise(benchmark::State& s) {
  run(s, [](const uint8_t* p, size_t n) { return dpxut::sidf::crc32_bytewise(0xFFFFFFFFu, p, n); });
}
void BM_KernelSlice8(benchmark::State& s) {
  run(s, [](const uint8_t* p, size_t n) { return dpxut::sidf::crc32_slice8(0xFFFFFFFFu, p, n); });
}
void BM_KernelClmul(benchmark::State& s) {
  if (!dpxut::sidf::crc32_clmul_usable()) {
    s.SkipWithError("no PCLMULQDQ");
    return;
  }
  run(s, [](const uint8_t* p, size_t n) { return dpxut::sidf::crc32_clmul(0xFFFFFFFFu, p, n); });
}

}  // namespace

BENCHMARK(BM_HVDPGenerateCRC)->Arg(64)->Arg(4096)->Arg(1 << 20);
BENCHMARK(BM_ZlibCrc32)->Arg(64)->Arg(4096)->Arg(1 << 20);
BENCHMARK(BM_KernelBytewise)->Arg(64)->Arg(4096)->Arg(1 << 20);
BENCHMARK(BM_KernelSlice8)->Arg(64)->Arg(4096)->Arg(1 << 20);
BENCHMARK(BM_KernelClmul)->Arg(64)->Arg(4096)->Arg(1 << 20);
