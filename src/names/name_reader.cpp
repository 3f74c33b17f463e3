// Reading a name buffer: the checked walk over an image's entries and the
// exported get functions built on it (first / next through a handle, one
// name, the name of one name space). Images may come from a medium, so every
// count and length in them is checked against the image's own sizes before a
// byte behind it is looked at.
#include <algorithm>
#include <cstdlib>

#include "common/export.h"
#include "common/heap.h"
#include "dpxut.h"
#include "names/name_buffer.h"

namespace dpxut::names {

size_t readable_size(const void* image) noexcept {
  if (image == nullptr) return 0;
  const auto* p = static_cast<const unsigned char*>(image);
  const size_t buffer_size = load_le16(p);
  if (buffer_size < 4) return buffer_size;  // dataSize lies outside the block
  return std::min<size_t>(2 + load_le16(p + 2), buffer_size);
}

Reader::Reader(const void* image) noexcept
    : image_(static_cast<const unsigned char*>(image)),
      limit_(readable_size(image)),
      offset_(kHeaderSize),
      index_(0),
      count_(0) {
  if (image_ == nullptr || limit_ < kHeaderSize) return;  // no header in use: no names
  count_ = image_[4];
  offset_ = kHeaderSize + image_[5];
}

Reader::Reader(const void* image, size_t offset, size_t index, size_t count) noexcept
    : image_(static_cast<const unsigned char*>(image)),
      limit_(readable_size(image)),
      offset_(offset),
      index_(index),
      count_(count) {}

uint32_t Reader::next(Entry* out) noexcept {
  if (index_ >= count_) return HVDPUT_NO_MORE_ENTRIES;
  const size_t at = offset_;
  // True when `length` bytes from the entry's start are all readable.
  auto fits = [&](size_t length) { return at <= limit_ && length <= limit_ - at; };
  if (!fits(9)) return HVDPUT_BUFFER_UNDERFLOW;
  const size_t n = image_[at + 8];
  const size_t fixed = 9 + 4 * n + 2;  // up to and including nameLength
  if (!fits(fixed)) return HVDPUT_BUFFER_UNDERFLOW;
  const size_t length = load_le16(image_ + at + fixed - 2);
  const size_t total = fixed + length + 1;
  if (!fits(total) || image_[at + total - 1] != 0) return HVDPUT_BUFFER_UNDERFLOW;

  const unsigned char* e = image_ + at;
  out->nameSpace = load_le32(e);
  out->nameTag = load_le32(e + 4);
  out->positionCount = static_cast<uint8_t>(n);
  out->componentPositions = n != 0 ? e + 9 : nullptr;
  out->separatorPositions = n != 0 ? e + 9 + 2 * n : nullptr;
  out->nameLength = static_cast<uint16_t>(length);
  out->name = e + fixed;
  offset_ = at + total;
  ++index_;
  return HVDPUT_SUCCESS;
}

uint32_t check_image(const void* image) noexcept {
  Reader reader(image);
  Entry entry;
  uint32_t code;
  while ((code = reader.next(&entry)) == HVDPUT_SUCCESS) {
  }
  return code == HVDPUT_NO_MORE_ENTRIES ? HVDPUT_SUCCESS : code;
}

// The record hands out mutable pointers (hosts cut names in place with the
// path functions), as strchr does for a const string.
void fill_data_set_name(const Entry& entry, HVDPDataSetName* out) noexcept {
  auto positions = [](const unsigned char* p) { return reinterpret_cast<uint16_t*>(const_cast<unsigned char*>(p)); };
  out->nameSpace = entry.nameSpace;
  out->nameTag = entry.nameTag;
  out->positionCount = entry.positionCount;
  out->componentPositions = positions(entry.componentPositions);
  out->separatorPositions = positions(entry.separatorPositions);
  out->nameLength = entry.nameLength;
  out->name = const_cast<unsigned char*>(entry.name);
}

namespace {

// Reads the next entry of a reading handle and moves the handle past it.
uint32_t read_next(HVDPNameHandle* h, HVDPDataSetName* out) noexcept {
  Reader reader(h->start, static_cast<size_t>(h->cursor - h->start), h->index, h->count);
  Entry entry;
  uint32_t code = reader.next(&entry);
  if (code != HVDPUT_SUCCESS) return code;
  fill_data_set_name(entry, out);
  h->cursor = h->start + reader.offset();
  h->index = static_cast<uint16_t>(reader.index());
  return HVDPUT_SUCCESS;
}

}  // namespace
}  // namespace dpxut::names

using namespace dpxut::names;

DPXUT_EXPORT uint32_t HVDPGetFirstName(const HVDPNameBuffer* nameBuffer, HVDPDataSetName* dataSetName,
                                       HVDPNameHandle** handle) {
  if (nameBuffer == nullptr || dataSetName == nullptr || handle == nullptr) return HVDPUT_INVALID_PARAMETER;
  auto* h = static_cast<HVDPNameHandle*>(dpxut::heap_calloc(1, sizeof(HVDPNameHandle)));
  *handle = h;
  if (h == nullptr) return HVDPUT_OUT_OF_MEMORY;
  Reader reader(nameBuffer);
  h->signature = kHandleLive;
  h->start = reinterpret_cast<unsigned char*>(const_cast<HVDPNameBuffer*>(nameBuffer));
  h->end = nullptr;  // a reading handle
  h->cursor = h->start + reader.offset();
  h->count = static_cast<uint16_t>(reader.count());
  h->index = 0;
  uint32_t code = read_next(h, dataSetName);
  if (code != HVDPUT_SUCCESS) release_handle(handle);
  return code;
}

// A writing handle (end set) is refused: its cursor stands behind the data.
DPXUT_EXPORT uint32_t HVDPGetNextName(HVDPNameHandle** handle, HVDPDataSetName* dataSetName) {
  if (handle == nullptr || *handle == nullptr || dataSetName == nullptr) return HVDPUT_INVALID_PARAMETER;
  HVDPNameHandle* h = *handle;
  if (!is_live(h) || h->start == nullptr || h->end != nullptr) return HVDPUT_INVALID_HANDLE;
  uint32_t code = read_next(h, dataSetName);
  if (code != HVDPUT_SUCCESS) release_handle(handle);
  return code;
}

// Needs no handle of its own: the walk lives on the stack.
DPXUT_EXPORT uint32_t HVDPGetOneName(const HVDPNameBuffer* nameBuffer, HVDPDataSetName* dataSetName) {
  if (nameBuffer == nullptr || dataSetName == nullptr) return HVDPUT_INVALID_PARAMETER;
  Reader reader(nameBuffer);
  Entry entry;
  uint32_t code = reader.next(&entry);
  if (code == HVDPUT_SUCCESS) fill_data_set_name(entry, dataSetName);
  return code;
}

// Every entry read is left in *dataSetName, so when none matches it holds
// the last one.
DPXUT_EXPORT uint32_t HVDPGetDataSetName(const HVDPNameBuffer* nameBuffer, uint32_t nameSpace,
                                         HVDPDataSetName* dataSetName) {
  if (nameBuffer == nullptr || dataSetName == nullptr) return HVDPUT_INVALID_PARAMETER;
  Reader reader(nameBuffer);
  Entry entry;
  uint32_t code;
  while ((code = reader.next(&entry)) == HVDPUT_SUCCESS) {
    fill_data_set_name(entry, dataSetName);
    if (entry.nameSpace == nameSpace) return HVDPUT_SUCCESS;
  }
  return code;
}
