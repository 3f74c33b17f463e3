// Little-endian loads and stores on byte ranges. Media bytes have no
// alignment, so every multi-byte access goes through memcpy; the compiler
// turns these into single moves on x86-64.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace dpxut {

static_assert(std::endian::native == std::endian::little,
              "the library is built for little-endian targets");

inline uint16_t load_le16(const void* p) noexcept {
  uint16_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
inline uint32_t load_le32(const void* p) noexcept {
  uint32_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
inline uint64_t load_le64(const void* p) noexcept {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
inline void store_le16(void* p, uint16_t v) noexcept { std::memcpy(p, &v, sizeof v); }
inline void store_le32(void* p, uint32_t v) noexcept { std::memcpy(p, &v, sizeof v); }
inline void store_le64(void* p, uint64_t v) noexcept { std::memcpy(p, &v, sizeof v); }

// Little-endian number of n (0..8) bytes, zero-extended.
inline uint64_t load_le(const void* p, size_t n) noexcept {
  uint64_t v = 0;
  if (n != 0) std::memcpy(&v, p, n < 8 ? n : 8);  // p may be null when n is 0
  return v;
}
// Lowest n (0..8) bytes of v, little-endian.
inline void store_le(void* p, uint64_t v, size_t n) noexcept {
  std::memcpy(p, &v, n < 8 ? n : 8);
}

}  // namespace dpxut

namespace dpxut {

// Loads and stores a pointer through an address that may be unaligned: a
// host may pass the address of a pointer member of one of the packed public
// records (for instance &info.nameBuffer).
template <typename T>
inline T* load_ptr(T* const* where) noexcept {
  T* p;
  std::memcpy(&p, where, sizeof p);
  return p;
}
template <typename T>
inline void store_ptr(T** where, T* value) noexcept {
  std::memcpy(where, &value, sizeof value);
}

}  // namespace dpxut
