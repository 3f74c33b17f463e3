// The header writer: PutHeaderFields runs the section table walk in its
// header style (section mark, skipped rows, value locations that keep the
// row's own data); HeaderText bounds a host text before it becomes a field.
#include "sidf/header_writer.h"

#include <cstring>

#include "sidf/sections.h"

namespace dpxut {

uint32_t PutHeaderFields(DPDFPutEntry* table, uint8_t** buffer, uint32_t* bufferSize,
                         uint32_t* bytesWritten, uint32_t crcMode) noexcept {
  return sidf::put_table(table, buffer, bufferSize, crcMode, sidf::TableStyle::kHeader,
                         bytesWritten);
}

bool HeaderText::assign(const char* member, size_t memberSize) noexcept {
  const size_t length = strnlen(member, memberSize);
  if (length > kHeaderTextMax) return false;
  std::memcpy(bytes_, member, length);
  bytes_[length] = 0;
  size_ = static_cast<uint8_t>(length + 1);
  return true;
}

}  // namespace dpxut
