// The writer shared by the media, session and record headers: a table of
// DPDFPutEntry rows (optionally opened by DPDF_SECTION_MARK, with
// DPDF_SKIP_ENTRY rows passed over) written as SIDF fields, plus the small
// row builders and text preparation those writers have in common.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "dpxut.h"

namespace dpxut {

// Writes the rows of `table` (ended by DPDF_END_OF_TABLE) at *buffer.
//  - Row 0 == DPDF_SECTION_MARK: row 1 is the head; it is written with the
//    section signature and the rows are closed by a field with the head's
//    identifier (crcMode 0: empty; 1: check value of head and members;
//    other: FF FF FF FF). Without the mark the rows are bare member fields.
//  - DPDF_SKIP_ENTRY rows are passed over.
//  - A DPDF_OFFSET_TO_END row (its sizeForm is its width, 1..127) is written
//    with a placeholder and receives the distance from the end of its data
//    to the end of the last member.
//  - Other rows are written with their own data; a non-zero valueLocation
//    receives the address of the row's value inside the buffer.
// *buffer and *bufferSize advance past every field written, also on failure;
// *bytesWritten (may be null) grows by the same amount. Returns 0,
// HVDPUT_OVERFLOW (a field does not fit wholly), HVDPUT_BUFFER_UNDERFLOW
// (the offset width cannot hold its distance), HVDPUT_INVALID_PARAMETER, or
// a code of DPDFPutNextField.
uint32_t PutHeaderFields(DPDFPutEntry* table, uint8_t** buffer, uint32_t* bufferSize,
                         uint32_t* bytesWritten, uint32_t crcMode) noexcept;

// Writes a header's member fields (a bare table: no section mark, no
// closing field) at buffer, on private copies of the position and size,
// for the Set functions that take their buffer by value.
inline uint32_t PutMemberFields(DPDFPutEntry* table, uint8_t* buffer, uint32_t bufferSize,
                                uint32_t* bytesWritten) noexcept {
  return PutHeaderFields(table, &buffer, &bufferSize, bytesWritten, 0);
}

// A header text field always uses the one-byte short-form size, which holds
// at most 127 bytes: 126 characters and the terminating zero.
inline constexpr size_t kHeaderTextMax = HVDP_HEADER_TEXT_MAX;

// Embedded-form values of header flags.
inline constexpr uint8_t kFlagFalse = 0xC0;
inline constexpr uint8_t kFlagTrue = 0xC1;

// A row of a header table; every member not named is zero.
inline DPDFPutEntry header_row(uint32_t id, const void* data, uint32_t dataBytes,
                               uint8_t sizeForm) noexcept {
  DPDFPutEntry row{};
  row.field.fieldId = id;
  row.field.data = static_cast<const uint8_t*>(data);
  row.dataBytes = dataBytes;
  row.sizeForm = sizeForm;
  return row;
}
// A flag is false when it is 0 or the raw false byte that the readers hand
// back, so a description read from a medium writes back unchanged.
inline DPDFPutEntry flag_row(uint32_t id, uint32_t flag) noexcept {
  return header_row(id, nullptr, 0, flag != 0 && flag != kFlagFalse ? kFlagTrue : kFlagFalse);
}
inline DPDFPutEntry marker_row(uint32_t marker) noexcept {
  return header_row(marker, nullptr, 0, 0);
}
// header_row filled in place: rows are packed 41-byte records, and a row
// built aside and copied in costs a store-forwarding stall per row.
inline void set_row(DPDFPutEntry& row, uint32_t id, const void* data, uint32_t dataBytes,
                    uint8_t sizeForm) noexcept {
  std::memset(&row, 0, sizeof row);
  row.field.fieldId = id;
  row.field.data = static_cast<const uint8_t*>(data);
  row.dataBytes = dataBytes;
  row.sizeForm = sizeForm;
}

// A text member made ready for a short-form field: its bytes up to the
// first zero or the member's end, and a terminating zero. A member that is
// full to its last byte (no zero inside) is written whole and terminated,
// so nothing past the member is ever read.
class HeaderText {
 public:
  // False when the member holds more than kHeaderTextMax characters.
  bool assign(const char* member, size_t memberSize) noexcept;
  // The field: short-form size and data bytes both the length + 1.
  DPDFPutEntry row(uint32_t id) const noexcept {
    return header_row(id, bytes_, size_, size_);
  }
  size_t length() const noexcept { return size_ - 1u; }

 private:
  uint8_t bytes_[kHeaderTextMax + 1] = {};
  uint8_t size_ = 1;
};

}  // namespace dpxut
