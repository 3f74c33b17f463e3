// The sections of the tool layer (data check after each record's content,
// stream trailer after the last record) and the check of a section held
// whole in memory. Shared by the writer, which puts them, and the reader,
// which gets and verifies them. Little-endian loads and stores are those of
// common/le.h.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/le.h"

namespace dpxut::stream {

// Bytes of a field identifier as stored (1 to 4).
inline constexpr size_t id_length(uint32_t id) noexcept {
  return id > 0xFFFFFF ? 4 : id > 0xFFFF ? 3 : id > 0xFF ? 2 : 1;
}

// Writes a tool section at buf (at most cap bytes): head `id` with the
// signature, 0x8073 value64 (8 bytes), 0x8072 value32 (4 bytes), closed with
// a check value. On success *used is its length (always tool_section_size()
// for the two heads of format.h). Returns 0 or a code of DPDFPutFields.
uint32_t put_tool_section(uint8_t* buf, uint32_t cap, uint32_t id, uint32_t value32, uint64_t value64,
                          size_t* used) noexcept;

// Bytes of a data check or stream trailer section.
size_t tool_section_size() noexcept;

// Reads a section written by put_tool_section at *p, advancing *p and *n.
// Returns 0, a code of DPDFGetFields, or HVDPUT_INVALID_PARAMETER when a
// value is missing or of the wrong size. Does not verify the check value:
// section_checks does.
uint32_t get_tool_section(uint32_t id, uint8_t** p, uint32_t* n, uint32_t* value32, uint64_t* value64) noexcept;

// Verifies that the n bytes at s are one section with head `head` (zero
// filler before it allowed) whose closing field holds the check value of the
// bytes from its head up to the closing field. Returns null when it does,
// else a short English reason. An empty closing field (no check value) is
// refused: the writer always writes one.
const char* section_checks(const uint8_t* s, size_t n, uint32_t head) noexcept;

// Bytes of padding that bring offset to a multiple of block (block > 0).
inline constexpr uint32_t pad_length(uint64_t offset, uint32_t block) noexcept {
  return static_cast<uint32_t>((block - offset % block) % block);
}

}  // namespace dpxut::stream
