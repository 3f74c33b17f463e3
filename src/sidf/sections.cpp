// Sections: reading one into a table of destinations (DPDFGetFields),
// writing one from a table of fields (DPDFPutFields, and the header writer's
// variant through put_table), and pad sections that readers jump over.
#include "sidf/sections.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "common/export.h"
#include "common/le.h"
#include "sidf/crc32.h"
#include "sidf/field_codec.h"

namespace dpxut::sidf {
namespace {

constexpr std::array<uint8_t, kPlaceholderBytes> make_placeholder(uint64_t value) {
  std::array<uint8_t, kPlaceholderBytes> bytes{};
  for (size_t i = 0; i < 8; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * i));
  return bytes;
}
constexpr auto kPlaceholder1 = make_placeholder(0x01);
constexpr auto kPlaceholder2 = make_placeholder(0x0100);
constexpr auto kPlaceholder4 = make_placeholder(0x00010000);
constexpr auto kPlaceholder8 = make_placeholder(0x0000000100000000);

void advance(uint8_t** buffer, uint32_t* size, uint32_t* counter, uint32_t n) noexcept {
  *buffer += n;
  *size -= n;
  if (counter != nullptr) *counter += n;
}

// Stores one member field's value into the first open row for its
// identifier: the destination is zero-filled when it is larger than the
// value and the value is cut when it is larger than the destination.
void store_member(DPDFGetEntry* table, const DPDFField& f) noexcept {
  for (DPDFGetEntry* row = table; row->fieldId != DPDF_END_OF_TABLE; ++row) {
    if (row->fieldId != f.fieldId || row->found != 0) continue;
    // Members of packed records are copied out before use: they may be
    // misaligned, so no reference may bind to them (std::min takes two).
    const uint64_t size = f.dataSize.value;
    const uint32_t capacity = row->dataSize;
    uint32_t length = 0;
    if (row->data != nullptr) {
      length = size < capacity ? static_cast<uint32_t>(size) : capacity;
      if (capacity > length) std::memset(row->data, 0, capacity);
      if (length != 0) std::memcpy(row->data, f.data, length);
    }
    row->found = 1;
    row->dataSize = length;
    return;
  }
}

}  // namespace

const uint8_t* placeholder(uint8_t width) noexcept {
  switch (width) {
    case 1: return kPlaceholder1.data();
    case 2: return kPlaceholder2.data();
    case 4: return kPlaceholder4.data();
    default: return kPlaceholder8.data();
  }
}

uint32_t fill_offset_field(uint8_t* location, uint8_t width, const uint8_t* section_end) noexcept {
  // A location whose width reaches past the members written would make the
  // distance negative; refuse it rather than store past the section.
  if (section_end < location || static_cast<size_t>(section_end - location) < width)
    return HVDPUT_BUFFER_UNDERFLOW;
  const auto distance = static_cast<uint32_t>(section_end - (location + width));
  const uint32_t needed = distance >= 0x10000 ? 4 : distance >= 0x100 ? 2 : distance != 0 ? 1 : 0;
  if (needed > width) return HVDPUT_BUFFER_UNDERFLOW;
  std::memset(location, 0, width);
  store_le(location, distance, std::min<size_t>(width, 8));
  return HVDPUT_SUCCESS;
}

uint32_t put_closing_field(uint32_t head_id, const uint8_t* section_start, uint8_t* position,
                           uint32_t remaining, uint32_t crc_mode, uint32_t* used) noexcept {
  uint8_t value[4] = {0xFF, 0xFF, 0xFF, 0xFF};
  if (crc_mode == 1) store_le32(value, check_value(section_start, position));
  DPDFField closing{};
  closing.fieldId = head_id;
  closing.data = value;
  const uint8_t size = crc_mode == 0 ? 0 : 4;
  if (const uint32_t rc = encode_field(position, remaining, closing, size, size)) return rc;
  if (closing.dataOverflow.value != 0) return HVDPUT_OVERFLOW;
  *used = closing.bytesUsed;
  return HVDPUT_SUCCESS;
}

// Rows that ask for a value location get its address: the last dataBytes
// data bytes written, or for the embedded form the descriptor byte, which is
// the value there. The pointer always lies inside the field just written.
uint32_t put_table(DPDFPutEntry* table, uint8_t** buffer, uint32_t* buffer_size, uint32_t crc_mode,
                   TableStyle style, uint32_t* bytes_written) noexcept {
  if (table == nullptr || buffer == nullptr || buffer_size == nullptr) return HVDPUT_INVALID_PARAMETER;
  uint8_t* const start = *buffer;
  DPDFPutEntry* row = table;
  DPDFPutEntry* head = nullptr;
  if (style == TableStyle::kSection) {
    head = row;
  } else if (row->field.fieldId == DPDF_SECTION_MARK) {
    head = ++row;
  }
  if (head != nullptr) {
    if (head->field.fieldId == DPDF_END_OF_TABLE) return HVDPUT_INVALID_PARAMETER;
    head->field.data = kSectionSignature;
    head->sizeForm = 2;
    head->dataBytes = 2;
  }

  DPDFPutEntry* offset = nullptr;
  for (; row->field.fieldId != DPDF_END_OF_TABLE; ++row) {
    const uint32_t id = row->field.fieldId;
    if (row != head) {
      if (style == TableStyle::kHeader && id == DPDF_SKIP_ENTRY) continue;
      if (id == DPDF_OFFSET_TO_END) {
        // Its width is its short-form size; other forms have none.
        if (row->sizeForm >= 0x80) return HVDPUT_INVALID_PARAMETER;
        row->field.data = placeholder(row->sizeForm);
        row->valueLocation = 1;
        offset = row;
      } else if (row->valueLocation != 0 && style == TableStyle::kSection) {
        row->field.data = placeholder(row->sizeForm);
        if (row->sizeForm & 0xC0) row->dataBytes = 1;
        // The codec refuses more data than a short form or fixed size
        // declares, so a placeholder is never read past its storage.
      }
    }
    if (const uint32_t rc = encode_field(*buffer, *buffer_size, row->field, row->sizeForm, row->dataBytes))
      return rc;
    if (row->field.dataOverflow.value != 0) return HVDPUT_OVERFLOW;
    const uint32_t used = row->field.bytesUsed;
    if (row->valueLocation != 0) {
      // The bytes written from a placeholder already are the placeholder,
      // so nothing is copied to the location again.
      const uint32_t data_bytes = row->dataBytes;
      const uint32_t tail = is_embedded(id, row->sizeForm) ? 1 : std::min(data_bytes, used);
      row->valueLocation = reinterpret_cast<uintptr_t>(*buffer + used - tail);
    }
    advance(buffer, buffer_size, bytes_written, used);
  }

  if (offset != nullptr) {
    if (const uint32_t rc = fill_offset_field(reinterpret_cast<uint8_t*>(offset->valueLocation),
                                              offset->sizeForm, *buffer))
      return rc;
  }
  if (head == nullptr) return HVDPUT_SUCCESS;
  uint32_t used = 0;
  if (const uint32_t rc = put_closing_field(head->field.fieldId, start, *buffer, *buffer_size, crc_mode, &used))
    return rc;
  advance(buffer, buffer_size, bytes_written, used);
  return HVDPUT_SUCCESS;
}

// Pad section layout, exactly size bytes:
//   80 80 19 02 A5 5A   head
//   01 02 LL HH         offset field: size - 14, 16-bit little-endian
//   size - 14 zeros     the blank space
//   80 80 19 00         closing field
void put_pad_section(uint8_t* buffer, uint32_t size) noexcept {
  static constexpr uint8_t kHead[6] = {0x80, 0x80, 0x19, 0x02, 0xA5, 0x5A};
  static constexpr uint8_t kClosing[4] = {0x80, 0x80, 0x19, 0x00};
  const uint32_t blank = size - kPadSectionMin;
  std::memcpy(buffer, kHead, sizeof kHead);
  buffer[6] = 0x01;
  buffer[7] = 0x02;
  store_le16(buffer + 8, static_cast<uint16_t>(blank));
  std::memset(buffer + 10, 0, blank);
  std::memcpy(buffer + 10 + blank, kClosing, sizeof kClosing);
}

}  // namespace dpxut::sidf

using namespace dpxut::sidf;

// A field cut by the buffer's end is not consumed and fills no row: its
// value is incomplete, and the read position stays at its start so a caller
// can retry there with more data.
DPXUT_EXPORT uint32_t DPDFGetFields(uint32_t headId, DPDFGetEntry* table, uint8_t** buffer,
                                    uint32_t* bufferSize) {
  if (table == nullptr || buffer == nullptr || bufferSize == nullptr) return HVDPUT_INVALID_PARAMETER;
  DPDFField f{};
  if (const uint32_t rc = decode_field(*buffer, *bufferSize, f)) return rc;
  if (f.fieldId != headId) return HVDPUT_FIELD_ID_MISMATCH;
  for (bool head = true;; head = false) {
    if (!head) {
      if (const uint32_t rc = decode_field(*buffer, *bufferSize, f)) return rc;
    }
    if (f.dataOverflow.value != 0) return HVDPUT_BUFFER_UNDERFLOW;
    *buffer += f.bytesUsed;
    *bufferSize -= f.bytesUsed;
    if (head) continue;
    if (f.fieldId == headId) return HVDPUT_SUCCESS;
    store_member(table, f);
  }
}

DPXUT_EXPORT uint32_t DPDFPutFields(DPDFPutEntry* table, uint8_t** buffer, uint32_t* bufferSize,
                                    uint32_t crcMode) {
  return put_table(table, buffer, bufferSize, crcMode, TableStyle::kSection, nullptr);
}

// More than one pad section's worth is written as consecutive pad sections,
// each 14..65549 bytes: every piece but the last takes the maximum unless
// that would leave less than a whole minimal section behind.
DPXUT_EXPORT void HVDPPadBlankSpace(uint8_t* buffer, uint32_t size) {
  if (buffer == nullptr) return;
  while (size > kPadSectionMax) {
    const uint32_t piece = std::min(kPadSectionMax, size - kPadSectionMin);
    put_pad_section(buffer, piece);
    buffer += piece;
    size -= piece;
  }
  if (size < kPadSectionMin) {
    std::memset(buffer, 0, size);
  } else {
    put_pad_section(buffer, size);
  }
}
