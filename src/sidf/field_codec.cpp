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

namespace {

// The identifier's `length` bytes, most significant first.
void put_id(uint8_t* out, uint32_t id, uint32_t length) noexcept {
  const uint32_t big_endian = __builtin_bswap32(id << (8 * (4 - length)));
  switch (length) {
    case 4: std::memcpy(out, &big_endian, 4); break;
    case 3: std::memcpy(out, &big_endian, 2); out[2] = static_cast<uint8_t>(big_endian >> 16); break;
    case 2: std::memcpy(out, &big_endian, 2); break;
    default: out[0] = static_cast<uint8_t>(id);
  }
}

// memcpy for the few bytes most fields carry, without a library call: two
// overlapping fixed-size copies cover every length from 4 to 16.
void copy_data(uint8_t* out, const uint8_t* in, uint32_t n) noexcept {
  if (n > 16) {
    std::memcpy(out, in, n);
  } else if (n >= 8) {
    uint64_t head, tail;
    std::memcpy(&head, in, 8);
    std::memcpy(&tail, in + n - 8, 8);
    std::memcpy(out, &head, 8);
    std::memcpy(out + n - 8, &tail, 8);
  } else if (n >= 4) {
    uint32_t head, tail;
    std::memcpy(&head, in, 4);
    std::memcpy(&tail, in + n - 4, 4);
    std::memcpy(out, &head, 4);
    std::memcpy(out + n - 4, &tail, 4);
  } else {
    for (uint32_t i = 0; i < n; ++i) out[i] = in[i];
  }
}

}  // namespace

// The header's length is worked out and every parameter checked before the
// first byte is stored, so nothing is stored when it does not fit, and a
// parameter error never leaves a partial header behind. The bytes then go
// straight to the buffer: a header assembled aside and copied over in
// words would stall on store forwarding, at every field of every header.
uint32_t encode_field(uint8_t* buf, uint32_t size, DPDFField& f, uint8_t form,
                      uint32_t data_bytes) noexcept {
  const uint32_t id = f.fieldId;
  const IdShape shape = id_shape(id);
  f.dataOverflow.value = 0;

  // Descriptor: none for a fixed-size identifier, else the byte `descriptor`
  // followed by `size_bytes` little-endian bytes of `data_size`.
  bool has_descriptor = true, has_data = true;
  uint8_t descriptor = form;
  uint32_t size_bytes = 0;
  uint64_t data_size = 0;
  if (const uint32_t fixed = fixed_size(id, shape.long_form)) {
    f.dataSize.value = fixed;
    if (data_bytes > fixed) return HVDPUT_INVALID_PARAMETER;
    has_descriptor = false;
  } else if (form < 0x80) {
    if (data_bytes > form) return HVDPUT_INVALID_PARAMETER;
  } else if (form >= 0xC0) {
    has_data = false;
  } else {
    // Automatic: the smallest descriptor that holds dataSize.
    data_size = f.dataSize.value;
    if (data_size < 0x80) {
      descriptor = static_cast<uint8_t>(data_size);
    } else {
      size_bytes = data_size < 0x100 ? 1 : data_size < 0x10000 ? 2 : data_size <= 0xFFFFFFFFu ? 4 : 8;
      descriptor = static_cast<uint8_t>(0x80 | std::countr_zero(size_bytes));
    }
    if (data_size <= 0xFFFFFFFFu && data_bytes > data_size) return HVDPUT_INVALID_PARAMETER;
  }
  const uint32_t n = shape.length + (has_descriptor ? 1 + size_bytes : 0);
  if (buf == nullptr) size = 0;
  if (n > size) return HVDPUT_OVERFLOW;

  const uint32_t space = size - n;
  const uint32_t copied = has_data ? std::min(data_bytes, space) : 0;
  if (copied != 0 && f.data == nullptr) return HVDPUT_INVALID_PARAMETER;
  put_id(buf, id, shape.length);
  if (has_descriptor) {
    buf[shape.length] = descriptor;
    if (size_bytes != 0) store_le(buf + shape.length + 1, data_size, size_bytes);
  }
  copy_data(buf + n, f.data, copied);
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
