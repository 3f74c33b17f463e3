// Name space numbers and the encoding each one implies. The exported tests
// and mappings in namespace.cpp and every string function of the character
// layer dispatch through these, so the one rule lives in one place: exact
// values, not bits (0x103 and 0x203 are locale bytes like any unknown number).
#pragma once

#include <cstddef>
#include <cstdint>

namespace dpxut::charset {

enum class Encoding { bytes, utf8, wide };

// The base name spaces that have UTF-8 (+0x100) and wide (+0x200) forms.
constexpr bool is_base_ns(uint32_t ns) noexcept {
  return ns == 0 || ns == 1 || ns == 2 || ns == 4;
}
constexpr bool is_wide_ns(uint32_t ns) noexcept {
  return ns >= 0x200 && is_base_ns(ns - 0x200);
}
constexpr bool is_utf8_ns(uint32_t ns) noexcept {
  return ns >= 0x100 && is_base_ns(ns - 0x100);
}
constexpr Encoding encoding_of(uint32_t ns) noexcept {
  return is_wide_ns(ns) ? Encoding::wide : is_utf8_ns(ns) ? Encoding::utf8 : Encoding::bytes;
}
// Bytes per character unit: a wide character is 4 bytes, everything else
// is measured in single bytes.
constexpr size_t unit_size(uint32_t ns) noexcept { return is_wide_ns(ns) ? 4 : 1; }

}  // namespace dpxut::charset
