// Section building blocks shared by DPDFPutFields and the stream header
// writer: the head signature, placeholders for values filled in later, the
// offset field, the closing field with its optional check value, and the
// table walk itself in both of its styles.
#pragma once

#include <cstdint>

#include "dpxut.h"

namespace dpxut::sidf {

// Data of every head field: the 16-bit value 0x5AA5, little-endian.
inline constexpr uint8_t kSectionSignature[2] = {0xA5, 0x5A};
inline constexpr uint32_t kPadSectionId = 0x808019;
inline constexpr uint32_t kPadSectionMin = 14;      // 6 head + 4 offset + 4 closing bytes
inline constexpr uint32_t kPadSectionMax = 65549;   // blank length held in 16 bits

// Placeholder data for a value of the given width (the sizeForm of its
// row): width 1 -> 01, 2 -> 00 01, 4 -> 00 00 01 00, any other width ->
// 00 00 00 00 01 00 00 00. Points at constant storage of
// kPlaceholderBytes bytes (the number zero-extended), enough for every data
// size a short form or fixed-size identifier can declare.
inline constexpr uint32_t kPlaceholderBytes = 128;
const uint8_t* placeholder(uint8_t width) noexcept;

// Stores the offset field's distance at its value location: the bytes from
// location + width up to section_end, little-endian and zero-extended over
// width bytes. HVDPUT_BUFFER_UNDERFLOW, with nothing stored, when the width
// cannot hold the distance or reaches past section_end.
uint32_t fill_offset_field(uint8_t* location, uint8_t width, const uint8_t* section_end) noexcept;

// Writes the closing field of a section that started at section_start and
// whose members end at position: crc_mode 0 empty, 1 with the check value of
// [section_start, position), other with FF FF FF FF. On success *used is its
// length. HVDPUT_OVERFLOW when it does not fit wholly into remaining bytes.
uint32_t put_closing_field(uint32_t head_id, const uint8_t* section_start, uint8_t* position,
                           uint32_t remaining, uint32_t crc_mode, uint32_t* used) noexcept;

enum class TableStyle {
  // DPDFPutFields: row 0 is the head; rows asking for a value location are
  // written with a placeholder.
  kSection,
  // Header writer: a DPDF_SECTION_MARK row 0 makes row 1 the head (no mark:
  // bare member fields, no closing field); DPDF_SKIP_ENTRY rows are passed
  // over; rows asking for a value location keep their own data.
  kHeader,
};

// Writes the rows of table at *buffer, advancing *buffer and *buffer_size
// past every field written (also on failure) and adding each field's length
// to *bytes_written when that is not null.
uint32_t put_table(DPDFPutEntry* table, uint8_t** buffer, uint32_t* buffer_size,
                   uint32_t crc_mode, TableStyle style, uint32_t* bytes_written) noexcept;

// Writes one pad section of exactly size bytes (kPadSectionMin..kPadSectionMax).
void put_pad_section(uint8_t* buffer, uint32_t size) noexcept;

}  // namespace dpxut::sidf
