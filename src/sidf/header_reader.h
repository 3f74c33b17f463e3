// Helpers shared by the media and session header readers: reading-table
// rows, section reads from a const position, and bounded copies of texts
// whose stored bytes may lack their terminating zero.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "dpxut.h"

namespace dpxut {

// A row of a reading table with `capacity` bytes at `data`, not yet found.
inline DPDFGetEntry get_row(uint32_t id, void* data, uint32_t capacity) noexcept {
  DPDFGetEntry row{};
  row.fieldId = id;
  row.data = data;
  row.dataSize = capacity;
  return row;
}
inline DPDFGetEntry get_end_row() noexcept { return get_row(DPDF_END_OF_TABLE, nullptr, 0); }

// Reads the section with head `headId` at buffer into `table`, on private
// copies of the position and size. The section reader never writes through
// the position it is given.
inline uint32_t get_header_section(uint32_t headId, DPDFGetEntry* table, const uint8_t* buffer,
                                   uint32_t bufferSize) noexcept {
  auto* position = const_cast<uint8_t*>(buffer);
  uint32_t remaining = bufferSize;
  return DPDFGetFields(headId, table, &position, &remaining);
}

// Copies the text in the `sourceSize` bytes at source (up to its first zero
// or their end) into the `memberSize`-byte member at member, cut to
// memberSize - 1 bytes, and terminates it. memberSize is at least 1.
inline void copy_text_cut(char* member, size_t memberSize, const void* source,
                          size_t sourceSize) noexcept {
  const size_t limit = sourceSize < memberSize - 1 ? sourceSize : memberSize - 1;
  const size_t length = strnlen(static_cast<const char*>(source), limit);
  std::memmove(member, source, length);
  member[length] = 0;
}

// ASCII comparison without regard to case of the text in a member of
// `memberSize` bytes (ending at its first zero or its end) with `name`.
// Locale independent: header names are plain ASCII words.
inline bool text_equals_nocase(const char* member, size_t memberSize, const char* name) noexcept {
  const size_t length = strnlen(member, memberSize);
  for (size_t i = 0; i < length; ++i) {
    auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; };
    if (name[i] == 0 || lower(static_cast<unsigned char>(member[i])) !=
                            lower(static_cast<unsigned char>(name[i])))
      return false;
  }
  return name[length] == 0;
}

}  // namespace dpxut
