// Writing a name buffer: starting and restarting the block, appending names
// through a writing handle with the exact growth rule, the position walk that
// records where a name's components and separators lie, and closing handles.
// The image written here is a stored format (SIDF field 0x813E), so every
// byte of it is set explicitly. All character work goes through the
// name-space string layer; wide names sit at any offset of the block.
#include <cstdlib>
#include <cstring>

#include "common/export.h"
#include "common/heap.h"
#include "common/le.h"
#include "dpxut.h"
#include "names/name_buffer.h"
#include "paths/path.h"

namespace dpxut::names {
namespace {

using paths::at_end;
using paths::is_empty;

const unsigned char* bytes(const void* p) noexcept { return static_cast<const unsigned char*>(p); }

// The strings a name's positions are found in: the caller's own, or reversed
// heap copies of them when the name's components run from leaf to root.
struct ScanStrings {
  const void* name = nullptr;
  const void* first = nullptr;
  const void* separator = nullptr;
  HeapPtr<void> copies[3];

  // False when a copy or its reversal cannot be allocated.
  bool make(uint32_t ns, bool reverse, const void* n, const void* f, const void* s) noexcept {
    if (!reverse) {
      name = n, first = f, separator = s;
      return true;
    }
    const void* originals[3] = {n, f, s};
    const void** results[3] = {&name, &first, &separator};
    for (int i = 0; i < 3; ++i) {
      if (originals[i] == nullptr) continue;
      copies[i].reset(DPstrdup(ns, originals[i]));
      if (!copies[i] || DPstrrev(ns, copies[i].get()) == nullptr) return false;
      *results[i] = copies[i].get();
    }
    return true;
  }
};

// The position walk. It fills the two tables of n u16 slots of an entry from
// the scan strings; slots it does not reach keep kNoPosition.
//
// Without `reverse` a position is a byte offset in the name. With `reverse`
// the walk runs over reversed copies, and an offset there is turned into an
// offset in the stored (unreversed) name: a separator of `len` bytes at
// offset s lies at L - s - len, and the component paired with it starts at
// L - s, right behind it. For one-byte separators these are L - 1 - s and
// L + 1 - (s + 1), the offsets after the separator.
class PositionWalk {
 public:
  PositionWalk(uint32_t ns, const ScanStrings& scan, size_t nameLength, bool reverse, size_t n,
               unsigned char* components, unsigned char* separators) noexcept
      : ns_(ns), scan_(scan), length_(nameLength), reverse_(reverse), n_(n), comp_(components),
        sep_(separators) {}

  void run() noexcept {
    for (size_t i = 0; i < n_; ++i) {
      store_le16(comp_ + 2 * i, kNoPosition);
      store_le16(sep_ + 2 * i, kNoPosition);
    }
    if (n_ == 0) return;
    if (!is_empty(ns_, scan_.first))
      walk_with_first_separator();
    else
      walk_separators_only();
  }

 private:
  void put(unsigned char* table, size_t i, size_t value) noexcept {
    if (i < n_) store_le16(table + 2 * i, static_cast<uint16_t>(value));
  }
  // Offset of p in the scan name.
  size_t offset(const void* p) const noexcept { return static_cast<size_t>(bytes(p) - bytes(scan_.name)); }
  const unsigned char* at(size_t o) const noexcept { return bytes(scan_.name) + o; }
  const unsigned char* find(size_t from, const void* needle) const noexcept {
    return bytes(DPstrstr(ns_, at(from), needle));
  }
  size_t stored_separator(size_t s, size_t len) const noexcept { return reverse_ ? length_ - s - len : s; }

  // Comp[0] = 0 and Sep[0] = the first separator; then each component after
  // it: Comp[i] its start, Sep[i] the separator that follows it (0 when none).
  // Reversed: Comp[i] starts component i counted from the end of the stored
  // name (0 for the last), Sep[i] is the separator before it (0xFFFF: none).
  // With ":" and "/", VOL:dir/file gives Comp 0 4 8, Sep 3 7 0; the reversed
  // name file/dir:VOL gives Comp 9 5 0, Sep 8 4 0xFFFF.
  void walk_with_first_separator() noexcept {
    const unsigned char* f = find(0, scan_.first);
    if (f == nullptr) return;  // the count was 0 then
    const size_t first_at = offset(f);
    const size_t first_length = DPstrlen(ns_, scan_.first);
    put(comp_, 0, 0);
    put(sep_, 0, stored_separator(first_at, first_length));
    if (scan_.separator == nullptr) return;
    const size_t length = DPstrlen(ns_, scan_.separator);
    size_t p = first_at + first_length;
    size_t boundary = first_at;  // the separator the next component follows
    if (find(p, scan_.separator) == at(p)) p += length;
    if (at_end(ns_, at(p)) || n_ <= 1) return;
    for (size_t k = 0, i = reverse_ ? 0 : 1, j = 1; k + 1 < n_; ++k, ++i, ++j) {
      put(comp_, i, reverse_ ? length_ - boundary : p);
      if (const unsigned char* s = find(p, scan_.separator)) {
        boundary = offset(s);
        put(sep_, j, stored_separator(boundary, length));
        p = boundary + length;
      } else {
        put(sep_, j, reverse_ ? kNoPosition : 0);
      }
    }
    if (reverse_) put(comp_, n_ - 1, 0);
  }

  // Each separator and the component after it: /usr/bin/ls gives Sep 0 4 8
  // and Comp 1 5 9; a separator that ends the name has component 0xFFFF.
  void walk_separators_only() noexcept {
    if (is_empty(ns_, scan_.separator) || at_end(ns_, scan_.name)) return;
    const size_t length = DPstrlen(ns_, scan_.separator);
    size_t p = 0, j = 0, k = 0;
    for (size_t pass = 0; pass < n_; ++pass) {
      const unsigned char* s = find(p, scan_.separator);
      if (s == nullptr) break;
      const size_t so = offset(s);
      put(sep_, k++, stored_separator(so, length));
      p = so + length;
      if (!at_end(ns_, at(p)))
        put(comp_, j++, reverse_ ? length_ - so : p);
      else
        put(comp_, j, kNoPosition);
    }
  }

  uint32_t ns_;
  const ScanStrings& scan_;
  size_t length_;
  bool reverse_;
  size_t n_;
  unsigned char* comp_;
  unsigned char* sep_;
};

// Makes room for `needed` more bytes at the handle's cursor. A block with at
// least 64 bytes to spare after the entry is kept; otherwise it is resized to
// exactly the bytes used plus the entry (it may shrink), never beyond 65535.
// A failed resize frees the block (the caller's pointer is nulled, so nothing
// else could) and leaves the handle unable to write.
uint32_t make_room(HVDPNameBuffer** buffer, HVDPNameHandle* h, size_t needed) noexcept {
  const ptrdiff_t spare = h->end - h->cursor;
  if (spare >= 0 && static_cast<size_t>(spare) >= needed + 64) return HVDPUT_SUCCESS;
  const size_t used = static_cast<size_t>(h->cursor - h->start);
  const size_t old_size = static_cast<size_t>(h->end - h->start);
  const size_t new_size = used + needed;
  if (new_size > kMaxBufferSize) return HVDPUT_OVERFLOW;
  auto* block = static_cast<unsigned char*>(heap_realloc(h->start, new_size));
  if (block == nullptr) {
    std::free(h->start);
    dpxut::store_ptr<HVDPNameBuffer>(buffer, nullptr);
    h->start = h->end = nullptr;
    return HVDPUT_OUT_OF_MEMORY;
  }
  // A reused block whose headerExtra points past its end: the gap is zeroed,
  // since the image goes to media.
  if (used > old_size) std::memset(block + old_size, 0, used - old_size);
  h->start = block;
  h->cursor = block + used;
  h->end = block + new_size;
  store_le16(block, static_cast<uint16_t>(new_size));
  dpxut::store_ptr(buffer, reinterpret_cast<HVDPNameBuffer*>(block));
  return HVDPUT_SUCCESS;
}

// Writes one entry at the handle's cursor. The scan strings decide the
// positions; the bytes stored are always the caller's own `nameLength` bytes
// of `name`. With neither separator given and no reversal, `name` is read
// for exactly nameLength bytes and needs no terminator.
uint32_t write_entry(HVDPNameBuffer** buffer, HVDPNameHandle* h, uint32_t ns, uint32_t tag, bool reverse,
                     const void* first, const void* separator, uint32_t nameLength, const void* name) noexcept {
  ScanStrings scan;
  if (!scan.make(ns, reverse, name, first, separator)) return HVDPUT_OUT_OF_MEMORY;
  const size_t n = paths::count_components(ns, scan.first, scan.separator, scan.name);
  if (n > kMaxComponents) return HVDPUT_OVERFLOW;
  const size_t needed = entry_size(n, nameLength);
  if (uint32_t code = make_room(buffer, h, needed); code != HVDPUT_SUCCESS) return code;

  unsigned char* e = h->cursor;
  store_le32(e, ns);
  store_le32(e + 4, tag);
  e[8] = static_cast<unsigned char>(n);
  PositionWalk(ns, scan, nameLength, reverse, n, e + 9, e + 9 + 2 * n).run();
  store_le16(e + 9 + 4 * n, static_cast<uint16_t>(nameLength));
  if (nameLength != 0) std::memcpy(e + 11 + 4 * n, name, nameLength);
  e[11 + 4 * n + nameLength] = 0;

  h->cursor = e + needed;
  ++h->count;
  unsigned char* start = h->start;
  start[4] = static_cast<unsigned char>(start[4] + 1);
  store_le16(start + 2, static_cast<uint16_t>(h->cursor - start - 2));
  return HVDPUT_SUCCESS;
}

}  // namespace

void release_handle(HVDPNameHandle** handle) noexcept {
  (*handle)->signature = kHandleDead;
  std::free(*handle);
  *handle = nullptr;
}

}  // namespace dpxut::names

using namespace dpxut::names;
using dpxut::load_le16;
using dpxut::store_le16;

DPXUT_EXPORT uint32_t HVDPPutFirstLName(HVDPNameBuffer** buffer, uint32_t nameSpace, uint32_t nameTag,
                                        uint16_t reverse, const void* firstSeparator, const void* separator,
                                        uint32_t nameLength, const void* name, HVDPNameHandle** handle) {
  if (buffer == nullptr || handle == nullptr || name == nullptr) return HVDPUT_INVALID_PARAMETER;
  auto* block = reinterpret_cast<unsigned char*>(dpxut::load_ptr(buffer));
  if (block == nullptr) {
    block = static_cast<unsigned char*>(dpxut::heap_calloc(1, kFirstBufferSize));
    if (block == nullptr) return HVDPUT_OUT_OF_MEMORY;
    store_le16(block, static_cast<uint16_t>(kFirstBufferSize));
    dpxut::store_ptr(buffer, reinterpret_cast<HVDPNameBuffer*>(block));
  } else if (load_le16(block) < kHeaderSize) {
    return HVDPUT_INVALID_PARAMETER;  // a block that cannot hold its own header
  }
  auto* h = static_cast<HVDPNameHandle*>(dpxut::heap_calloc(1, sizeof(HVDPNameHandle)));
  *handle = h;
  if (h == nullptr) return HVDPUT_OUT_OF_MEMORY;
  h->signature = kHandleLive;
  h->start = block;
  h->end = block + load_le16(block);
  h->cursor = block + kHeaderSize + block[5];
  // Names already in a reused block are dropped; its size and headerExtra stay.
  block[4] = 0;
  store_le16(block + 2, 0);
  return write_entry(buffer, h, nameSpace, nameTag, reverse != 0, firstSeparator, separator, nameLength, name);
}

DPXUT_EXPORT uint32_t HVDPPutFirstName(HVDPNameBuffer** buffer, uint32_t nameSpace, uint32_t nameTag,
                                       uint16_t reverse, const void* firstSeparator, const void* separator,
                                       const void* name, HVDPNameHandle** handle) {
  if (buffer == nullptr || handle == nullptr || name == nullptr) return HVDPUT_INVALID_PARAMETER;
  return HVDPPutFirstLName(buffer, nameSpace, nameTag, reverse, firstSeparator, separator,
                           DPstrlen(nameSpace, name), name, handle);
}

// Only a live writing handle on the caller's current block may append: a
// reading handle, a handle whose block was lost in a failed resize, or a
// block the caller replaced behind the handle's back is refused.
DPXUT_EXPORT uint32_t HVDPPutNextLName(HVDPNameBuffer** buffer, HVDPNameHandle** handle, uint32_t nameSpace,
                                       uint32_t nameTag, uint16_t reverse, const void* firstSeparator,
                                       const void* separator, uint32_t nameLength, const void* name) {
  if (buffer == nullptr || handle == nullptr || *handle == nullptr || name == nullptr)
    return HVDPUT_INVALID_PARAMETER;
  HVDPNameHandle* h = *handle;
  if (!is_live(h) || h->start == nullptr || h->end == nullptr) return HVDPUT_INVALID_HANDLE;
  if (reinterpret_cast<unsigned char*>(dpxut::load_ptr(buffer)) != h->start) return HVDPUT_INVALID_PARAMETER;
  if (h->count >= kMaxNames) return HVDPUT_NO_MORE_ENTRIES;
  return write_entry(buffer, h, nameSpace, nameTag, reverse != 0, firstSeparator, separator, nameLength, name);
}

DPXUT_EXPORT uint32_t HVDPPutNextName(HVDPNameBuffer** buffer, HVDPNameHandle** handle, uint32_t nameSpace,
                                      uint32_t nameTag, uint16_t reverse, const void* firstSeparator,
                                      const void* separator, const void* name) {
  if (buffer == nullptr || handle == nullptr || *handle == nullptr || name == nullptr)
    return HVDPUT_INVALID_PARAMETER;
  return HVDPPutNextLName(buffer, handle, nameSpace, nameTag, reverse, firstSeparator, separator,
                          DPstrlen(nameSpace, name), name);
}

DPXUT_EXPORT uint32_t HVDPPutOneLName(HVDPNameBuffer** buffer, uint32_t nameSpace, uint32_t nameTag,
                                      uint16_t reverse, const void* firstSeparator, const void* separator,
                                      uint32_t nameLength, const void* name) {
  HVDPNameHandle* handle = nullptr;
  uint32_t code = HVDPPutFirstLName(buffer, nameSpace, nameTag, reverse, firstSeparator, separator, nameLength,
                                    name, &handle);
  if (handle != nullptr) {
    uint32_t closed = HVDPCloseName(&handle);
    if (code == HVDPUT_SUCCESS) code = closed;
  }
  return code;
}

DPXUT_EXPORT uint32_t HVDPPutOneName(HVDPNameBuffer** buffer, uint32_t nameSpace, uint32_t nameTag,
                                     uint16_t reverse, const void* firstSeparator, const void* separator,
                                     const void* name) {
  if (buffer == nullptr || name == nullptr) return HVDPUT_INVALID_PARAMETER;
  return HVDPPutOneLName(buffer, nameSpace, nameTag, reverse, firstSeparator, separator,
                         DPstrlen(nameSpace, name), name);
}

DPXUT_EXPORT uint32_t HVDPCloseName(HVDPNameHandle** handle) {
  if (handle == nullptr || *handle == nullptr || !is_live(*handle)) return HVDPUT_INVALID_HANDLE;
  release_handle(handle);
  return HVDPUT_SUCCESS;
}

DPXUT_EXPORT void CountPositions(const void* firstSeparator, const void* separator, const void* name,
                                 uint32_t nameSpace, uint32_t /*unused*/, uint16_t* count) {
  GenericCountPositions(nameSpace, firstSeparator, separator, name, count);
}
