// The walk behind the public HVDPExtensionHandle, shared by the extension
// functions and their tests. The handle is a 32-byte heap record; its entry
// record (and, for type-3 entries, the strings record inside the same block)
// belongs to it and is freed with it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "dpxut.h"

#pragma pack(push, 1)
struct HVDPExtensionHandle {
  uint32_t signature;            // live or dead, see names/name_buffer.h
  uint32_t length;               // bytes of the area
  const unsigned char* start;    // first byte of the area
  const unsigned char* cursor;   // next entry header; never past start + length
  HVDPExtensionEntry* entry;     // the record reads fill, null before the first
};
#pragma pack(pop)
static_assert(sizeof(HVDPExtensionHandle) == 32, "extension handles are 32-byte records");

namespace dpxut::names {

// Bytes of one entry header: entryType, entryTag, dataLength (u32 each).
inline constexpr size_t kExtensionHeader = 12;
// The type whose data is three length-prefixed items.
inline constexpr uint32_t kExtensionStringsType = 3;

}  // namespace dpxut::names
