// UINT64 arithmetic: the 64-bit sizes of SIDF fields, built from 1-8
// little-endian bytes and narrowed to 32 bits only with an overflow check.
#include <cstring>

#include "common/export.h"
#include "common/le.h"
#include "dpxut.h"

DPXUT_EXPORT uint32_t DPDFSetUINT64(UINT64* value, const uint8_t* bytes, uint16_t count) {
  if (value == nullptr) return HVDPUT_INVALID_PARAMETER;
  value->value = 0;
  if (bytes == nullptr || count == 0) return HVDPUT_SUCCESS;
  if (count > 8) return HVDPUT_OVERFLOW;
  value->value = dpxut::load_le(bytes, count);
  return HVDPUT_SUCCESS;
}

DPXUT_EXPORT uint32_t DPDFGetUINT64(const UINT64* value, uint32_t* out32) {
  if (value == nullptr || out32 == nullptr) return HVDPUT_INVALID_PARAMETER;
  if (value->value > 0xFFFFFFFFu) return HVDPUT_OVERFLOW;
  *out32 = static_cast<uint32_t>(value->value);
  return HVDPUT_SUCCESS;
}

DPXUT_EXPORT uint32_t DPDFAddUINT64(const UINT64* a, const UINT64* b, UINT64* sum) {
  if (a == nullptr || b == nullptr || sum == nullptr) return HVDPUT_INVALID_PARAMETER;
  const uint64_t x = a->value, y = b->value;  // read both before sum may overwrite one
  const uint64_t s = x + y;
  sum->value = s;
  return s < x ? HVDPUT_OVERFLOW : HVDPUT_SUCCESS;
}

DPXUT_EXPORT uint32_t DPDFSubUINT64(const UINT64* a, const UINT64* b, UINT64* difference) {
  if (a == nullptr || b == nullptr || difference == nullptr) return HVDPUT_INVALID_PARAMETER;
  const uint64_t x = a->value, y = b->value;
  if (x < y) return HVDPUT_BUFFER_UNDERFLOW;
  difference->value = x - y;
  return HVDPUT_SUCCESS;
}

DPXUT_EXPORT uint32_t DPDFIncrementUINT64(UINT64* value, uint32_t n) {
  UINT64 step;
  step.value = n;
  return DPDFAddUINT64(value, &step, value);
}

DPXUT_EXPORT uint32_t DPDFDecrementUINT64(UINT64* value, uint32_t n) {
  UINT64 step;
  step.value = n;
  return DPDFSubUINT64(value, &step, value);
}

// A value of more than 8 bytes is refused without reading it: the 32-bit
// result could only be right if every byte past the fourth were zero, and
// field values of that length are never numbers.
DPXUT_EXPORT uint32_t DPDFSetUINT32Data(const UINT64* dataSize, const uint8_t* data, uint32_t* out32) {
  if (dataSize == nullptr || out32 == nullptr) return HVDPUT_INVALID_PARAMETER;
  const uint64_t n = dataSize->value;
  if (n > 8) return HVDPUT_OVERFLOW;  // covers a non-zero upper half too
  if (n != 0 && data == nullptr) return HVDPUT_INVALID_PARAMETER;
  const uint64_t v = n == 0 ? 0 : dpxut::load_le(data, static_cast<size_t>(n));
  if (v > 0xFFFFFFFFu) return HVDPUT_OVERFLOW;
  *out32 = static_cast<uint32_t>(v);
  return HVDPUT_SUCCESS;
}
