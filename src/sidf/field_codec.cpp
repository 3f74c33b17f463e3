// Decoding and encoding of one SIDF field: identifier (1-4 bytes, most
// significant first), size descriptor (short, size-of-size or embedded; none
// for fixed-size identifiers) and data. Everything above it (sections, headers,
// the data set info parser) goes through decode_field/encode_field.
#include "sidf/field_codec.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "common/export.h"
#include "common/le.h"

namespace dpxut::sidf {

IdShape id_shape(uint32_t id) noexcept {
  if (id & 0xFF000000u) return {4, true};
  if (id & 0x00FF0000u) return {3, (id & 0x00400000u) == 0};
  if (id & 0x0000FF00u) return {2, false};
  return {1, false};
}

uint32_t fixed_size(uint32_t id, bool long_form) noexcept {
  if (long_form) {
    // Bit 3 of the size byte is not part of the size and is ignored.
    return (id & 0xF000u) == 0xF000u ? 1u << ((id >> 8) & 7u) : 0;
  }
  return (id & 0x40u) ? 1u << (id & 7u) : 0;
}

// Layout read here, at the first non-zero byte:
//   00-7F                      1-byte identifier
//   80-BF b2 (b2 < 80)         2-byte identifier     80-BF b2 b3 (b2 >= 80)  3-byte, long
//   C0-FF b2 b3 (b3 < 80)      3-byte identifier     C0-FF b2 b3 b4 (b3 >= 80) 4-byte, long
// then, unless fixed-size, the descriptor and possibly 1/2/4/8 size bytes.
// Every index is checked against size before the byte is read.
uint32_t decode_field(const uint8_t* buf, uint32_t size, DPDFField& f) noexcept {
  f.dataOverflow.value = 0;
  if (buf == nullptr) return HVDPUT_BUFFER_UNDERFLOW;
  uint32_t pos = 0;
  while (pos < size && buf[pos] == 0) ++pos;
  if (pos == size) return HVDPUT_BUFFER_UNDERFLOW;

  const uint32_t left = size - pos;
  const uint8_t first = buf[pos];
  uint32_t id_len = 1;
  bool long_form = false;
  if (first >= 0xC0) {
    if (left < 3) return HVDPUT_BUFFER_UNDERFLOW;
    long_form = buf[pos + 2] >= 0x80;
    id_len = long_form ? 4 : 3;
  } else if (first >= 0x80) {
    if (left < 2) return HVDPUT_BUFFER_UNDERFLOW;
    long_form = buf[pos + 1] >= 0x80;
    id_len = long_form ? 3 : 2;
  }
  if (left < id_len) return HVDPUT_BUFFER_UNDERFLOW;
  uint32_t id = 0;
  for (uint32_t i = 0; i < id_len; ++i) id = (id << 8) | buf[pos + i];
  pos += id_len;
  f.fieldId = id;

  uint64_t data_size;
  if (const uint32_t fixed = fixed_size(id, long_form)) {
    data_size = fixed;
    f.data = buf + pos;
  } else {
    if (pos == size) return HVDPUT_BUFFER_UNDERFLOW;
    const uint8_t s = buf[pos++];
    if (s < 0x80) {
      data_size = s;
      f.data = s ? buf + pos : nullptr;
    } else if (s >= 0xC0) {
      // Embedded form: the descriptor byte is the value.
      f.dataSize.value = 1;
      f.data = buf + pos - 1;
      f.bytesUsed = pos;
      return HVDPUT_SUCCESS;
    } else {
      const uint32_t n = 1u << (s & 3u);
      if (size - pos < n) return HVDPUT_BUFFER_UNDERFLOW;
      data_size = load_le(buf + pos, n);
      pos += n;
      f.data = buf + pos;
    }
  }
  f.dataSize.value = data_size;
  const uint32_t remaining = size - pos;
  if (data_size <= remaining) {
    f.bytesUsed = pos + static_cast<uint32_t>(data_size);
  } else {
    f.bytesUsed = size;
    f.dataOverflow.value = data_size - remaining;
  }
  return HVDPUT_SUCCESS;
}

// The header is assembled on the stack first, so nothing is stored when it
// does not fit, and a parameter error never leaves a partial header behind.
uint32_t encode_field(uint8_t* buf, uint32_t size, DPDFField& f, uint8_t form,
                      uint32_t data_bytes) noexcept {
  const IdShape shape = id_shape(f.fieldId);
  uint8_t header[kMaxHeaderBytes];
  uint32_t n = 0;
  for (uint32_t i = shape.length; i-- > 0;) header[n++] = static_cast<uint8_t>(f.fieldId >> (8 * i));
  f.dataOverflow.value = 0;

  bool has_data = true;
  if (const uint32_t fixed = fixed_size(f.fieldId, shape.long_form)) {
    f.dataSize.value = fixed;
    if (data_bytes > fixed) return HVDPUT_INVALID_PARAMETER;
  } else if (form < 0x80) {
    header[n++] = form;
    if (data_bytes > form) return HVDPUT_INVALID_PARAMETER;
  } else if (form >= 0xC0) {
    header[n++] = form;
    has_data = false;
  } else {
    // Automatic: the smallest descriptor that holds dataSize.
    const uint64_t ds = f.dataSize.value;
    if (ds < 0x80) {
      header[n++] = static_cast<uint8_t>(ds);
    } else {
      const uint32_t width = ds < 0x100 ? 1 : ds < 0x10000 ? 2 : ds <= 0xFFFFFFFFu ? 4 : 8;
      header[n++] = static_cast<uint8_t>(0x80 | std::countr_zero(width));
      store_le(header + n, ds, width);
      n += width;
    }
    if (ds <= 0xFFFFFFFFu && data_bytes > ds) return HVDPUT_INVALID_PARAMETER;
  }
  if (buf == nullptr) size = 0;
  if (n > size) return HVDPUT_OVERFLOW;

  const uint32_t space = size - n;
  const uint32_t copied = has_data ? std::min(data_bytes, space) : 0;
  if (copied != 0 && f.data == nullptr) return HVDPUT_INVALID_PARAMETER;
  std::memcpy(buf, header, n);
  if (copied != 0) std::memcpy(buf + n, f.data, copied);
  if (has_data && data_bytes > space) f.dataOverflow.value = data_bytes - space;
  f.bytesUsed = n + copied;
  return HVDPUT_SUCCESS;
}

}  // namespace dpxut::sidf

using namespace dpxut::sidf;

DPXUT_EXPORT uint32_t DPDFGetNextField(const uint8_t* buffer, uint32_t bufferSize, DPDFField* field) {
  if (field == nullptr) return HVDPUT_INVALID_PARAMETER;
  return decode_field(buffer, bufferSize, *field);
}

DPXUT_EXPORT uint32_t DPDFPutNextField(uint8_t* buffer, uint32_t bufferSize, DPDFField* field,
                                       uint8_t sizeForm, uint32_t dataBytes) {
  if (field == nullptr) return HVDPUT_INVALID_PARAMETER;
  return encode_field(buffer, bufferSize, *field, sizeForm, dataBytes);
}
