// The SIDF field codec as the rest of the library calls it: identifier
// shapes, the fixed-size rule, and one-field decode/encode over spans.
// field_codec.cpp holds the code; the exported DPDF* functions wrap it.
#pragma once

#include <cstdint>

#include "dpxut.h"

namespace dpxut::sidf {

// Length and form of an identifier as the encoder writes it: 4 bytes when
// bits 24-31 are set (long), 3 bytes when bits 16-23 are set (long unless
// bit 22 is set), 2 bytes when bits 8-15 are set, else 1 byte (short).
struct IdShape {
  uint8_t length;
  bool long_form;
};
inline IdShape id_shape(uint32_t id) noexcept {
  if (id & 0xFF000000u) return {4, true};
  if (id & 0x00FF0000u) return {3, (id & 0x00400000u) == 0};
  if (id & 0x0000FF00u) return {2, false};
  return {1, false};
}

// Data size carried by a fixed-size identifier, 0 when the identifier is
// followed by a size descriptor. Short identifiers are fixed when bit 6 of
// their last byte is set, long ones when the second-to-last byte's high
// nibble is 0xF; the size is 2^(low three bits of that byte).
inline uint32_t fixed_size(uint32_t id, bool long_form) noexcept {
  if (long_form) {
    // Bit 3 of the size byte is not part of the size and is ignored.
    return (id & 0xF000u) == 0xF000u ? 1u << ((id >> 8) & 7u) : 0;
  }
  return (id & 0x40u) ? 1u << (id & 7u) : 0;
}

// Longest header (identifier and size descriptor with 8 size bytes).
inline constexpr uint32_t kMaxHeaderBytes = 13;

// The bodies of DPDFGetNextField and DPDFPutNextField, for callers that
// already hold a valid record (no null checks).
uint32_t decode_field(const uint8_t* buffer, uint32_t size, DPDFField& field) noexcept;
uint32_t encode_field(uint8_t* buffer, uint32_t size, DPDFField& field, uint8_t size_form,
                      uint32_t data_bytes) noexcept;

// True when a field written with this identifier and size form carries its
// value in the descriptor byte (embedded form) rather than in data bytes.
inline bool is_embedded(uint32_t id, uint8_t size_form) noexcept {
  return size_form >= 0xC0 && fixed_size(id, id_shape(id).long_form) == 0;
}

}  // namespace dpxut::sidf
