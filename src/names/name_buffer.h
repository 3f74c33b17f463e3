// The name buffer's image and its checked reader, shared by the exported name
// buffer functions and by the record code that writes a record's names and
// unpacks a stored name list (SIDF field 0x813E). The image may come from a
// medium: the reader takes nothing in it on trust and never looks at a byte
// beyond what the image's own sizes declare.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/le.h"
#include "dpxut.h"

// The handle behind the public HVDPNameHandle: 32 bytes on the heap, fields
// packed in this order. A writing handle has `end` set (start + bufferSize);
// a reading handle has it null. Reading: count is the image's nameCount and
// index the entries already returned; writing: count is the entries written.
#pragma pack(push, 1)
struct HVDPNameHandle {
  uint32_t signature;
  unsigned char* start;
  unsigned char* end;
  unsigned char* cursor;
  uint16_t count;
  uint16_t index;
};
#pragma pack(pop)
static_assert(sizeof(HVDPNameHandle) == 32, "name handles are 32-byte records");

namespace dpxut::names {

// Handle signatures: live while the handle is in use, dead just before the
// handle is freed (so a stale copy of a handle pointer is recognised while
// the memory has not been reused).
inline constexpr uint32_t kHandleLive = 0x2AAAAAAA;
inline constexpr uint32_t kHandleDead = 0x15555555;

// Image layout (little-endian, unaligned):
//   0 u16 bufferSize | 2 u16 dataSize | 4 u8 nameCount | 5 u8 headerExtra
//   6 + headerExtra: entries
// Entry: 0 u32 nameSpace | 4 u32 nameTag | 8 u8 n | 9 u16 x n component
//   positions | 9+2n u16 x n separator positions | 9+4n u16 nameLength |
//   11+4n name bytes | one zero byte; 12 + 4n + nameLength bytes in all.
inline constexpr size_t kHeaderSize = 6;
inline constexpr size_t kEntryOverhead = 12;
inline constexpr size_t kFirstBufferSize = 1024;
inline constexpr size_t kMaxBufferSize = 65535;
inline constexpr size_t kMaxNames = 255;
inline constexpr size_t kMaxComponents = 255;
// Position of no component or separator; also the value of every position
// slot that the position walk leaves unfilled. Never a valid offset, since
// no name in a 65535-byte buffer is that long.
inline constexpr uint16_t kNoPosition = 0xFFFF;

inline constexpr size_t entry_size(size_t components, size_t nameLength) noexcept {
  return kEntryOverhead + 4 * components + nameLength;
}

// One entry of an image, checked to lie within the image's data.
struct Entry {
  uint32_t nameSpace = 0;
  uint32_t nameTag = 0;
  uint8_t positionCount = 0;
  const unsigned char* componentPositions = nullptr;  // null when positionCount is 0
  const unsigned char* separatorPositions = nullptr;  // null when positionCount is 0
  uint16_t nameLength = 0;
  const unsigned char* name = nullptr;  // nameLength bytes, then a zero byte

  uint16_t component(size_t i) const noexcept { return load_le16(componentPositions + 2 * i); }
  uint16_t separator(size_t i) const noexcept { return load_le16(separatorPositions + 2 * i); }
};

// Number of bytes of an image a reader may look at: 2 + dataSize, and never
// more than bufferSize. Reads the two size fields only (offsets 0-3), and the
// second only when bufferSize covers it.
size_t readable_size(const void* image) noexcept;

// A checked walk over an image's entries. The walk reads no byte at or past
// readable_size(image); nameCount, headerExtra, the position counts and the
// name lengths are all checked against it. An image whose readable part does
// not even cover the 6-byte header holds no names.
class Reader {
 public:
  explicit Reader(const void* image) noexcept;
  // Re-creates a walk from the state a handle keeps.
  Reader(const void* image, size_t offset, size_t index, size_t count) noexcept;

  // The next entry: 0, HVDPUT_NO_MORE_ENTRIES after the last one (nameCount
  // reached), or HVDPUT_BUFFER_UNDERFLOW when the entry does not lie wholly
  // within the readable bytes or its name lacks its zero byte; the walk then
  // stays where it is. *out is written only on success.
  uint32_t next(Entry* out) noexcept;

  size_t offset() const noexcept { return offset_; }  // of the next entry
  size_t index() const noexcept { return index_; }    // entries returned
  size_t count() const noexcept { return count_; }    // nameCount

 private:
  const unsigned char* image_;
  size_t limit_;
  size_t offset_;
  size_t index_;
  size_t count_;
};

// Walks every entry nameCount announces: 0 when all of them are sound, else
// the code the walk stops with (HVDPUT_BUFFER_UNDERFLOW). An image that
// passes reads back without error through every reader of this file.
uint32_t check_image(const void* image) noexcept;

// Fills the caller's record from a checked entry.
void fill_data_set_name(const Entry& entry, HVDPDataSetName* out) noexcept;

// True for a handle whose signature is live and whose cursor is set.
inline bool is_live(const HVDPNameHandle* h) noexcept { return h->signature == kHandleLive && h->cursor != nullptr; }

// Marks the handle dead, frees it and nulls the caller's pointer.
void release_handle(HVDPNameHandle** handle) noexcept;

}  // namespace dpxut::names

