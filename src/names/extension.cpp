// Walking an extension area: typed entries back to back, read one at a time
// through a handle (first / next / close), and the search for the first
// entry of a type. Areas come from media, so every read is checked against
// the area's length; no entry header, data or type-3 item is taken from
// outside it, whatever the lengths in the entries say.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "common/export.h"
#include "common/heap.h"
#include "common/le.h"
#include "dpxut.h"
#include "names/extension.h"
#include "names/name_buffer.h"

namespace dpxut::names {
namespace {

// The handle's entry record and the strings record of a type-3 entry share
// one block, so that reading a type-3 entry cannot fail for memory and the
// strings record is never freed apart from its entry. The strings record
// sits 8-byte aligned, as a C caller's pointer to it expects.
struct EntryBlock {
  HVDPExtensionEntry entry;
  unsigned char pad[4];
  HVDPExtensionStrings strings;
};
static_assert(offsetof(EntryBlock, strings) % alignof(void*) == 0, "strings record is pointer-aligned");

EntryBlock* block_of(HVDPExtensionEntry* entry) noexcept { return reinterpret_cast<EntryBlock*>(entry); }

bool is_live(const HVDPExtensionHandle* h) noexcept {
  return h->signature == kHandleLive && h->cursor != nullptr;
}

// Marks the handle dead and frees it with its entry record.
void release(HVDPExtensionHandle** handle) noexcept {
  HVDPExtensionHandle* h = *handle;
  h->signature = kHandleDead;
  std::free(h->entry);
  std::free(h);
  *handle = nullptr;
}

// Type-3 data: three items, each a u16 length and that many bytes, starting
// at `data` with `left` bytes of the area from there on. Items are taken
// only from within the area. Returns the bytes the items take, or 0 when an
// item runs past the area.
size_t read_items(const unsigned char* data, size_t left, HVDPExtensionStrings* strings) noexcept {
  const char** slots[] = {&strings->string1, &strings->string2, &strings->string3};
  size_t used = 0;
  for (const char** slot : slots) {
    if (left - used < 2) return 0;
    const size_t length = load_le16(data + used);
    used += 2;
    if (length == 0) continue;
    if (left - used < length) return 0;
    *slot = reinterpret_cast<const char*>(data + used);
    used += length;
  }
  return used;
}

// Reads the entry at the cursor into the handle's record and advances the
// cursor past it; *out receives the record, or null on failure. The caller
// has checked that the handle is live.
//
// A type-3 entry moves the cursor past its items or past its dataLength,
// whichever is further: items that fall short of dataLength leave the rest
// of the data unread rather than taking it for the next entry, and items
// that run beyond a dataLength that understates them are still stepped
// over as a whole, within the area.
uint32_t read_entry(HVDPExtensionHandle* h, HVDPExtensionEntry** out) noexcept {
  *out = nullptr;
  const auto used = static_cast<size_t>(reinterpret_cast<uintptr_t>(h->cursor) -
                                        reinterpret_cast<uintptr_t>(h->start));
  if (h->cursor < h->start || used > h->length) return HVDPUT_BEYOND_END;
  size_t left = h->length - used;
  if (left < kExtensionHeader) return HVDPUT_BUFFER_UNDERFLOW;

  if (h->entry == nullptr) {
    auto* fresh = static_cast<EntryBlock*>(heap_calloc(1, sizeof(EntryBlock)));
    if (fresh == nullptr) return HVDPUT_OUT_OF_MEMORY;
    h->entry = &fresh->entry;
  }
  EntryBlock* b = block_of(h->entry);
  std::memset(b, 0, sizeof *b);

  const unsigned char* p = h->cursor;
  b->entry.entryType = load_le32(p);
  b->entry.entryTag = load_le32(p + 4);
  b->entry.dataLength = load_le32(p + 8);
  p += kExtensionHeader;
  left -= kExtensionHeader;
  h->cursor = p;

  const size_t length = b->entry.dataLength;
  if (length != 0) {
    if (left < length) return HVDPUT_BUFFER_UNDERFLOW;
    size_t step = length;
    if (b->entry.entryType == kExtensionStringsType) {
      const size_t items = read_items(p, left, &b->strings);
      if (items == 0) return HVDPUT_BUFFER_UNDERFLOW;
      step = std::max(step, items);
      b->entry.data = &b->strings;
    } else {
      b->entry.data = p;
    }
    h->cursor = p + step;
  }
  *out = h->entry;
  return HVDPUT_SUCCESS;
}

}  // namespace

}  // namespace dpxut::names

using namespace dpxut::names;

DPXUT_EXPORT uint32_t HVDPGetFirstExtension(const void* extension, uint32_t extensionLength,
                                            HVDPExtensionEntry** entry, HVDPExtensionHandle** handle) {
  if (extension == nullptr || entry == nullptr || handle == nullptr) return HVDPUT_INVALID_PARAMETER;
  *entry = nullptr;
  *handle = static_cast<HVDPExtensionHandle*>(dpxut::heap_calloc(1, sizeof(HVDPExtensionHandle)));
  if (*handle == nullptr) return HVDPUT_OUT_OF_MEMORY;
  HVDPExtensionHandle* h = *handle;
  h->signature = kHandleLive;
  h->length = extensionLength;
  h->start = static_cast<const unsigned char*>(extension);
  h->cursor = h->start;
  const uint32_t rc = read_entry(h, entry);
  if (rc != HVDPUT_SUCCESS) release(handle);
  return rc;
}

// The entry is always read into the handle's own record; whatever the
// caller's entry pointer held is neither read nor freed, only replaced.
// Without a place for the entry the walk cannot go on: a live handle is
// closed.
DPXUT_EXPORT uint32_t HVDPGetNextExtension(HVDPExtensionHandle** handle, HVDPExtensionEntry** entry) {
  if (handle == nullptr || *handle == nullptr) return HVDPUT_INVALID_PARAMETER;
  if (entry == nullptr) {
    if (is_live(*handle)) release(handle);
    return HVDPUT_INVALID_PARAMETER;
  }
  if (!is_live(*handle)) return HVDPUT_INVALID_HANDLE;
  const uint32_t rc = read_entry(*handle, entry);
  if (rc != HVDPUT_SUCCESS) release(handle);
  return rc;
}

DPXUT_EXPORT uint32_t HVDPGetExtension(const void* extension, uint32_t extensionLength, uint32_t entryType,
                                       HVDPExtensionEntry** entry, HVDPExtensionHandle** handle) {
  if (extension == nullptr || entry == nullptr || handle == nullptr) return HVDPUT_INVALID_PARAMETER;
  uint32_t rc = HVDPGetFirstExtension(extension, extensionLength, entry, handle);
  while (rc == HVDPUT_SUCCESS && (*entry)->entryType != entryType) rc = HVDPGetNextExtension(handle, entry);
  return rc;
}

DPXUT_EXPORT uint32_t HVDPCloseExtension(HVDPExtensionHandle** handle) {
  if (handle == nullptr || *handle == nullptr || !is_live(*handle)) return HVDPUT_INVALID_HANDLE;
  release(handle);
  return HVDPUT_SUCCESS;
}
