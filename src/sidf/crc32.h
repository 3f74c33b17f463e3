// CRC-32 of SIDF check values: reflected polynomial 0xEDB88320, register
// supplied by the caller, no final inversion. Check values start the register
// at kCrcStart. crc32_update picks the fastest kernel once; the byte-wise
// kernel is the reference the others are tested against.
#pragma once

#include <cstddef>
#include <cstdint>

namespace dpxut::sidf {

inline constexpr uint32_t kCrcStart = 0xFFFFFFFFu;

uint32_t crc32_update(uint32_t crc, const uint8_t* data, size_t length) noexcept;

// The kernels behind crc32_update, exposed for tests and benchmarks.
uint32_t crc32_bytewise(uint32_t crc, const uint8_t* data, size_t length) noexcept;
uint32_t crc32_slice8(uint32_t crc, const uint8_t* data, size_t length) noexcept;
// Carry-less multiplication folding; only callable when crc32_clmul_usable().
uint32_t crc32_clmul(uint32_t crc, const uint8_t* data, size_t length) noexcept;
bool crc32_clmul_usable() noexcept;
// The same fold four lanes at a time (AVX-512); only callable when
// crc32_vclmul_usable().
uint32_t crc32_vclmul(uint32_t crc, const uint8_t* data, size_t length) noexcept;
bool crc32_vclmul_usable() noexcept;

// Check value of the bytes [from, to): the register started at kCrcStart.
inline uint32_t check_value(const uint8_t* from, const uint8_t* to) noexcept {
  return crc32_update(kCrcStart, from, static_cast<size_t>(to - from));
}

}  // namespace dpxut::sidf
