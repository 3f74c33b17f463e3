// Sections of a stream as the tools see them: the identifiers of the
// sections sidfpack adds to the record layout, how a section's head field
// is recognised, how long an identifier is, offset and check values.
#pragma once

#include <cstddef>
#include <cstdint>

namespace dpxtool {

inline constexpr uint32_t kPadId = 0x808019;            // pad section (HVDPPadBlankSpace)
inline constexpr uint32_t kDataCheckId = 0x80801C;      // sidfpack: after each record's content
inline constexpr uint32_t kChangeMarkId = 0x80801D;     // sidfpack: after a file that changed while read
inline constexpr uint32_t kStreamTrailerId = 0x80801E;  // sidfpack: after the last record
inline constexpr uint8_t kSignature[2] = {0xA5, 0x5A};  // data of every section's head field

// A section's check value is the CRC-32 (HVDPGenerateCRC, started at
// kCheckStart) of every byte from its head up to its closing field; a
// stored kCheckNotComputed means the writer left it out.
inline constexpr uint32_t kCheckStart = 0xFFFFFFFFu;
inline constexpr uint32_t kCheckNotComputed = 0xFFFFFFFFu;

// Bytes of a field identifier: its first byte is never zero, so the length
// follows from the value.
unsigned id_length(uint32_t id);

// Whether a field whose data is whole is a section head: two data bytes,
// the signature.
bool is_section_head(const uint8_t* data, uint64_t size);

// An unsigned little-endian number of up to 8 bytes (more are ignored), as
// offset fields, record lengths and check values store them.
uint64_t le_value(const uint8_t* p, size_t n);

}  // namespace dpxtool
