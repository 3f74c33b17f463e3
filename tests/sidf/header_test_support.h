// Helpers shared by the header tests: a section built around member bytes,
// reads from heap copies of exactly the given size (so the sanitizers see
// any overread), and a small deterministic random source for generated
// descriptions.
#pragma once

#include <dpxut.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "sidf/hex.h"

namespace dpxut::test {

// Head field (short-form size 2, A5 5A), the members, empty closing field.
inline std::vector<uint8_t> section(uint32_t headId, const std::vector<uint8_t>& members) {
  std::vector<uint8_t> out(16);
  DPDFField f{};
  f.fieldId = headId;
  f.data = reinterpret_cast<const uint8_t*>("\xA5\x5A");
  DPDFPutNextField(out.data(), 16, &f, 2, 2);
  out.resize(f.bytesUsed);
  out.insert(out.end(), members.begin(), members.end());
  std::vector<uint8_t> closing(8);
  DPDFField c{};
  c.fieldId = headId;
  DPDFPutNextField(closing.data(), 8, &c, 0, 0);
  out.insert(out.end(), closing.begin(), closing.begin() + c.bytesUsed);
  return out;
}

// Exactly n bytes on the heap (n may be 0: a pointer that must not be read).
struct ExactBytes {
  explicit ExactBytes(const uint8_t* p, size_t n) : bytes(new uint8_t[n ? n : 1]), size(n) {
    if (n) std::memcpy(bytes.get(), p, n);
  }
  std::unique_ptr<uint8_t[]> bytes;
  size_t size;
};

// Any description fills with this, so members a reader leaves alone show.
inline constexpr uint8_t kUntouched = 0xEE;

template <typename Info>
Info untouched() {
  Info info;
  std::memset(&info, kUntouched, sizeof info);
  return info;
}

inline std::string member_text(const char* member, size_t size) {
  return std::string(member, strnlen(member, size));
}

struct Random {
  explicit Random(uint32_t seed) : engine(seed) {}
  uint32_t below(uint32_t n) { return std::uniform_int_distribution<uint32_t>(0, n - 1)(engine); }
  uint32_t u32() { return static_cast<uint32_t>(engine()); }
  // A text of 0..maxLength non-zero bytes into a member, zero-padded.
  void text(char* member, size_t size, size_t maxLength) {
    std::memset(member, 0, size);
    const size_t n = below(static_cast<uint32_t>(maxLength + 1));
    for (size_t i = 0; i < n; ++i) member[i] = static_cast<char>(1 + below(255));
  }
  HVDPECMATimeStamp stamp() {
    HVDPECMATimeStamp s;
    auto* p = reinterpret_cast<uint8_t*>(&s);
    for (size_t i = 0; i < sizeof s; ++i) p[i] = static_cast<uint8_t>(below(256));
    return s;
  }
  std::mt19937 engine;
};

}  // namespace dpxut::test
