// Walks any bytes as an extension area. The first input byte picks how the
// walk is driven (bits 0-1: to the end, stop early and close, search by
// the type in byte 1, or search then continue); the rest is the area, in a
// heap block of exactly its size. Every entry handed back must lie inside
// the area: its data, and the three items of a type-3 entry with the
// lengths just before them. The handle must be null whenever a call fails.
#include <initializer_list>

#include "common/le.h"
#include "dpxut.h"
#include "fuzz_input.h"

void fuzz(const uint8_t* data, size_t size) {
  if (size < 2) return;
  const uint32_t mode = data[0] & 3, length = static_cast<uint32_t>(size - 2);
  const Block area(length, 0, data + 2, length);
  const auto inside = [&](const void* p, size_t n) {
    const auto* b = static_cast<const uint8_t*>(p);
    return b >= area.at && b <= area.at + length && n <= static_cast<size_t>(area.at + length - b);
  };
  HVDPExtensionEntry* e = nullptr;
  HVDPExtensionHandle* h = nullptr;
  uint32_t rc = mode < 2 ? HVDPGetFirstExtension(area.at, length, &e, &h)  // a walk, or a search
                         : HVDPGetExtension(area.at, length, data[1], &e, &h);
  for (size_t entries = 1; rc == 0; ++entries) {
    check(h != nullptr && e != nullptr && (e->dataLength == 0) == (e->data == nullptr), "an entry and its handle");
    check(mode < 2 || entries > 1 || e->entryType == data[1], "a search finds its type");
    check(e->dataLength == 0 || e->entryType == 3 || inside(e->data, e->dataLength), "data inside the area");
    if (e->dataLength != 0 && e->entryType == 3) {
      const auto* s = static_cast<const HVDPExtensionStrings*>(e->data);
      for (const char* item : {s->string1, s->string2, s->string3})
        check(!item || (inside(item - 2, 2) && dpxut::load_le16(item - 2) && inside(item, dpxut::load_le16(item - 2))),
              "a type-3 item and the length before it inside the area");
    }
    if ((mode == 1 && entries == 2) || mode == 2) break;
    rc = HVDPGetNextExtension(&h, &e);
    check(entries <= length / 12, "at most one entry per 12 bytes of area");
  }
  // A walk stopped early closes its handle once; a failed call leaves none.
  check(rc == 0 ? HVDPCloseExtension(&h) == 0 && h == nullptr && HVDPCloseExtension(&h) == HVDPUT_INVALID_HANDLE
                : h == nullptr && e == nullptr && rc == HVDPUT_BUFFER_UNDERFLOW,
        "the walk's end");
}
