// Reads a fuzz input front to back as the choices of one run; past its end
// every read gives zero, so any input, however short, is a complete run.
#pragma once

#include <cstddef>
#include <cstdint>

namespace dpxut::fuzz {

struct FuzzInput {
  const uint8_t* p;
  size_t left;
  uint8_t byte() {
    if (left == 0) return 0;
    --left;
    return *p++;
  }
  uint16_t u16() { return static_cast<uint16_t>(byte() | byte() << 8); }
};

}  // namespace dpxut::fuzz
