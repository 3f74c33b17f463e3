// Allocated strings: the growing heap string record HVDPStringBuffer in its
// plain (byte string) and generic (text in a name space's encoding) forms,
// and the joiners that fill a host's own array. The path fixers build their
// results in these records.
//
// Record layout: a 16-bit capacity (block size - 2), then `capacity` bytes
// of text area holding the text and its terminator, one zero byte or, for
// wide text, four. The text starts at offset 2 of a malloc block, so wide
// text in it is never 4-byte aligned: it is only touched through the
// alignment-safe wide layer, as whole byte ranges.
#include <algorithm>
#include <cstdarg>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "charset/namespace.h"
#include "common/export.h"
#include "common/heap.h"
#include "common/wide.h"
#include "dpxut.h"

namespace dpxut::paths {
namespace {

constexpr size_t kHead = offsetof(HVDPStringBuffer, text);
// A record is reused while at least this many bytes stay free after the
// new terminator; a growth asks for the bytes needed plus kGrowth.
constexpr size_t kSlack = 32;
constexpr size_t kGrowth = 256;
constexpr size_t kDefaultBlock = 256;
// Largest blocks: plain sizes are signed 16-bit requests; generic blocks
// are limited by what the 16-bit capacity can describe.
constexpr size_t kPlainMaxBlock = 32767;
constexpr size_t kGenericMaxBlock = 0xFFFF + kHead;

unsigned char* text_of(HVDPStringBuffer* r) noexcept {
  return reinterpret_cast<unsigned char*>(r) + kHead;
}

// Byte length of the text at p whose characters come in units of `unit`
// bytes (1, or 4 for wide text), terminator not counted.
size_t text_length(const void* p, size_t unit) noexcept {
  return unit == wide::kUnit ? wide::length(p) * wide::kUnit
                             : std::strlen(static_cast<const char*>(p));
}

// The same, looking at no more than max_bytes bytes: a text without a
// terminator in its area measures as the whole units of the area.
size_t bounded_length(const void* p, size_t unit, size_t max_bytes) noexcept {
  return unit == wide::kUnit ? wide::nlength(p, max_bytes / wide::kUnit) * wide::kUnit
                             : strnlen(static_cast<const char*>(p), max_bytes);
}

// Text bytes a record of capacity `cap` holds besides its terminator.
size_t room_for_text(size_t cap, size_t unit) noexcept { return (cap / unit - 1) * unit; }

// A new block of n bytes (2 + unit <= n <= kGenericMaxBlock) holding the
// text of `old` (cut at a character boundary when the block is smaller),
// terminated. `old` is left alone: callers free it once they have read any
// source that may lie inside it.
HVDPStringBuffer* make_block(const HVDPStringBuffer* old, size_t n, size_t unit,
                             bool cleared) noexcept {
  auto* block = static_cast<HVDPStringBuffer*>(cleared ? heap_calloc(1, n) : heap_malloc(n));
  if (block == nullptr) return nullptr;
  block->capacity = static_cast<uint16_t>(n - kHead);
  size_t keep = 0;
  if (old != nullptr) {
    const auto* old_text = reinterpret_cast<const unsigned char*>(old) + kHead;
    keep = std::min(bounded_length(old_text, unit, old->capacity), room_for_text(n - kHead, unit));
    std::memcpy(text_of(block), old_text, keep);
  }
  std::memset(text_of(block) + keep, 0, unit);
  return block;
}

// Installs `fresh` in the host's variable and frees the block it replaces.
void install(HVDPStringBuffer** slot, HVDPStringBuffer* fresh) noexcept {
  std::free(*slot);
  *slot = fresh;
}

void release(HVDPStringBuffer** buffer) noexcept {
  if (buffer == nullptr || *buffer == nullptr) return;
  std::free(*buffer);
  *buffer = nullptr;
}

// Block size for an explicit Alloc, 0 when the request cannot be met.
// size <= 0 asks for the default: 256 for a new record, capacity + 256 for
// an existing one. Requests of 1 or 2 bytes would leave no room for the
// terminator the functions store; every block holds at least one.
size_t alloc_request(const HVDPStringBuffer* old, long size, size_t unit, size_t max_block,
                     bool clamp_default) noexcept {
  size_t n;
  if (size <= 0) {
    n = old == nullptr ? kDefaultBlock : old->capacity + kGrowth;
    if (n > max_block) {
      if (!clamp_default) return 0;
      n = max_block;
    }
  } else {
    n = static_cast<size_t>(size);
    if (n > max_block) return 0;
  }
  return std::max(n, kHead + unit);
}

// Block size for a growth in Copy or Cat: `base` + 256 bytes, capped at the
// largest block; 0 when even that cannot hold `need` bytes (text and
// terminator).
size_t growth_request(size_t base, size_t need, size_t unit, size_t max_block) noexcept {
  const size_t n = std::min(base + kGrowth, max_block);
  return need <= room_for_text(n - kHead, unit) + unit ? n : 0;
}

// Writes `len` bytes of src at byte `at` of the record's text and
// terminates them, growing the record first when `grow_to` is non-zero (a
// growth for a copy, at 0, carries no old text over). src may point into
// the record itself: it is read before the old block is freed. Returns the
// text, or null when the growth fails.
unsigned char* place(HVDPStringBuffer** slot, size_t grow_to, size_t at, const void* src,
                     size_t len, size_t unit, bool cleared) noexcept {
  HVDPStringBuffer* record = *slot;
  if (grow_to != 0) {
    HVDPStringBuffer* fresh = make_block(at != 0 ? record : nullptr, grow_to, unit, cleared);
    if (fresh == nullptr) return nullptr;
    std::memcpy(text_of(fresh) + at, src, len);
    std::memset(text_of(fresh) + at + len, 0, unit);
    install(slot, fresh);
    return text_of(fresh);
  }
  std::memmove(text_of(record) + at, src, len);
  std::memset(text_of(record) + at + len, 0, unit);
  return text_of(record);
}

// Length of a plain source: `length` bytes, or all of it for 0xFFFF; the
// copy never reads past the string's NUL.
size_t plain_source_length(const char* string, uint16_t length) noexcept {
  return length == 0xFFFF ? std::strlen(string) : strnlen(string, length);
}

char* copy_string(HVDPStringBuffer** buffer, const char* string, size_t len) noexcept {
  HVDPStringBuffer* record = *buffer;
  size_t grow_to = 0;
  if (record == nullptr || len + kSlack >= record->capacity) {
    grow_to = growth_request(len, len + 1, 1, kPlainMaxBlock);
    if (grow_to == 0) return nullptr;
  }
  return reinterpret_cast<char*>(place(buffer, grow_to, 0, string, len, 1, false));
}

char* cat_string(HVDPStringBuffer** buffer, const char* string, size_t add) noexcept {
  HVDPStringBuffer* record = *buffer;
  const size_t old = record != nullptr ? bounded_length(text_of(record), 1, record->capacity) : 0;
  const size_t need = old + add + 1;
  size_t grow_to = 0;
  if (record == nullptr || need + kSlack - 1 >= record->capacity) {
    grow_to = growth_request(need, need, 1, kPlainMaxBlock);
    if (grow_to == 0) return nullptr;
  }
  return reinterpret_cast<char*>(place(buffer, grow_to, old, string, add, 1, false));
}

void* copy_generic(uint32_t ns, HVDPStringBuffer** buffer, const void* string) noexcept {
  const size_t unit = charset::unit_size(ns);
  const size_t len = text_length(string, unit);
  HVDPStringBuffer* record = *buffer;
  size_t grow_to = 0;
  if (record == nullptr || len + kSlack >= record->capacity) {
    grow_to = growth_request(len, len + unit, unit, kGenericMaxBlock);
    if (grow_to == 0) return nullptr;
  }
  return place(buffer, grow_to, 0, string, len, unit, true);
}

void* cat_generic(uint32_t ns, HVDPStringBuffer** buffer, const void* string) noexcept {
  const size_t unit = charset::unit_size(ns);
  const size_t add = text_length(string, unit);
  HVDPStringBuffer* record = *buffer;
  const size_t old = record != nullptr ? bounded_length(text_of(record), unit, record->capacity) : 0;
  const size_t need = old + add + unit;
  size_t grow_to = 0;
  if (record == nullptr || record->capacity < need + kSlack) {
    grow_to = growth_request(need, need, unit, kGenericMaxBlock);
    if (grow_to == 0) return nullptr;
  }
  return place(buffer, grow_to, old, string, add, unit, true);
}

// Joins into a host array: copies `first` to dest (unless it is dest
// itself; a null first counts as empty), then appends each further
// string. memmove keeps overlapping arguments safe; room is the caller's.
void join_into(void* dest, const void* first, unsigned count, va_list more, size_t unit) noexcept {
  auto* out = static_cast<unsigned char*>(dest);
  size_t len;
  if (first == dest) {
    len = text_length(dest, unit);
  } else {
    len = first != nullptr ? text_length(first, unit) : 0;
    if (len != 0) std::memmove(out, first, len);
    std::memset(out + len, 0, unit);
  }
  for (unsigned i = 1; i < count; ++i) {
    const void* s = va_arg(more, const void*);
    if (s == nullptr) continue;
    const size_t add = text_length(s, unit);
    std::memmove(out + len, s, add + unit);
    len += add;
  }
}

}  // namespace
}  // namespace dpxut::paths

using namespace dpxut::paths;

// ---- plain family ----------------------------------------------------------

DPXUT_EXPORT HVDPStringBuffer* HVDPAllocString(HVDPStringBuffer** buffer, int16_t size) {
  if (buffer == nullptr) return nullptr;
  const size_t n = alloc_request(*buffer, size, 1, kPlainMaxBlock, false);
  if (n == 0) return nullptr;
  HVDPStringBuffer* fresh = make_block(*buffer, n, 1, false);
  if (fresh == nullptr) return nullptr;
  install(buffer, fresh);
  return fresh;
}

DPXUT_EXPORT char* HVDPCopyString(HVDPStringBuffer** buffer, const char* string, uint16_t length) {
  if (buffer == nullptr || string == nullptr) return nullptr;
  return copy_string(buffer, string, plain_source_length(string, length));
}

DPXUT_EXPORT char* HVDPCatString(HVDPStringBuffer** buffer, const char* string, uint16_t length) {
  if (buffer == nullptr || string == nullptr) return nullptr;
  return cat_string(buffer, string, plain_source_length(string, length));
}

DPXUT_EXPORT char* HVDPCatStrings(uint8_t count, HVDPStringBuffer** buffer, const char* first, ...) {
  char* text = HVDPCopyString(buffer, first, 0xFFFF);
  if (text == nullptr || count <= 1) return text;
  va_list more;
  va_start(more, first);
  for (unsigned i = 1; i < count && text != nullptr; ++i) {
    const char* s = va_arg(more, const char*);
    if (s != nullptr) text = HVDPCatString(buffer, s, 0xFFFF);
  }
  va_end(more);
  return text;
}

DPXUT_EXPORT void HVDPFreeString(HVDPStringBuffer** buffer) { release(buffer); }

DPXUT_EXPORT char* HVDPStr(uint8_t count, char* dest, const char* first, ...) {
  if (dest == nullptr) return nullptr;
  va_list more;
  va_start(more, first);
  join_into(dest, first, count, more, 1);
  va_end(more);
  return dest;
}

// ---- generic family --------------------------------------------------------

DPXUT_EXPORT HVDPStringBuffer* HVDPAllocGenericString(uint32_t nameSpace, HVDPStringBuffer** buffer,
                                                      int32_t size) {
  if (buffer == nullptr) return nullptr;
  const size_t unit = dpxut::charset::unit_size(nameSpace);
  const size_t n = alloc_request(*buffer, size, unit, kGenericMaxBlock, true);
  if (n == 0) return nullptr;
  HVDPStringBuffer* fresh = make_block(*buffer, n, unit, true);
  if (fresh == nullptr) return nullptr;
  install(buffer, fresh);
  return fresh;
}

DPXUT_EXPORT void* HVDPCopyGenericString(uint32_t nameSpace, HVDPStringBuffer** buffer,
                                         const void* string) {
  if (buffer == nullptr || string == nullptr) return nullptr;
  return copy_generic(nameSpace, buffer, string);
}

DPXUT_EXPORT void* HVDPCatGenericString(uint32_t nameSpace, HVDPStringBuffer** buffer,
                                        const void* string) {
  if (buffer == nullptr || string == nullptr) return nullptr;
  return cat_generic(nameSpace, buffer, string);
}

DPXUT_EXPORT void* HVDPCatGenericStrings(uint32_t nameSpace, uint8_t count, HVDPStringBuffer** buffer,
                                         const void* first, ...) {
  void* text = HVDPCopyGenericString(nameSpace, buffer, first);
  if (text == nullptr || count <= 1) return text;
  va_list more;
  va_start(more, first);
  for (unsigned i = 1; i < count && text != nullptr; ++i) {
    const void* s = va_arg(more, const void*);
    if (s != nullptr) text = HVDPCatGenericString(nameSpace, buffer, s);
  }
  va_end(more);
  return text;
}

DPXUT_EXPORT void HVDPFreeGenericString(HVDPStringBuffer** buffer) { release(buffer); }

DPXUT_EXPORT void* HVDPGenericStr(uint32_t nameSpace, uint8_t count, void* dest, const void* first, ...) {
  if (dest == nullptr) return nullptr;
  va_list more;
  va_start(more, first);
  join_into(dest, first, count, more, dpxut::charset::unit_size(nameSpace));
  va_end(more);
  return dest;
}
