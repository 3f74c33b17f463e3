// Walks any bytes as an extension area. The first input byte picks how the
// walk is driven (bits 0-1: to the end, stop early and close, search by
// the type in byte 1, or search then continue); the rest is the area, in a
// heap block of exactly its size. Every entry handed back must lie inside
// the area: its data, and the three items of a type-3 entry with the
// lengths just before them. The handle must be null whenever a call fails.
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "common/le.h"
#include "dpxut.h"

namespace {

void check(bool ok) {
  if (!ok) __builtin_trap();
}

struct Area {
  const unsigned char* start;
  size_t size;
  bool contains(const void* p, size_t n) const {
    const auto* b = static_cast<const unsigned char*>(p);
    return b >= start && b <= start + size && n <= static_cast<size_t>(start + size - b);
  }
};

void check_entry(const Area& area, const HVDPExtensionEntry* e) {
  check(e != nullptr);
  if (e->dataLength == 0) {
    check(e->data == nullptr);
    return;
  }
  check(e->data != nullptr);
  if (e->entryType != 3) {
    check(area.contains(e->data, e->dataLength));
    return;
  }
  const auto* s = static_cast<const HVDPExtensionStrings*>(e->data);
  for (const char* item : {s->string1, s->string2, s->string3}) {
    if (item == nullptr) continue;
    check(area.contains(item - 2, 2));
    const uint16_t length = dpxut::load_le16(item - 2);
    check(length != 0 && area.contains(item, length));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const unsigned mode = data[0] & 3;
  const uint32_t wanted = data[1];
  std::vector<unsigned char> bytes(data + 2, data + size);
  const Area area{bytes.data(), bytes.size()};
  // A non-null pointer even for an empty area: null is refused outright.
  static const unsigned char kNothing = 0;
  const void* start = bytes.empty() ? &kNothing : bytes.data();
  const auto length = static_cast<uint32_t>(bytes.size());

  HVDPExtensionEntry* e = nullptr;
  HVDPExtensionHandle* h = nullptr;
  uint32_t rc = mode >= 2 ? HVDPGetExtension(start, length, wanted, &e, &h)
                          : HVDPGetFirstExtension(start, length, &e, &h);
  size_t entries = 0;
  while (rc == 0) {
    check(h != nullptr);
    check_entry(area, e);
    if (mode >= 2 && entries == 0) check(e->entryType == wanted);
    ++entries;
    if ((mode == 1 && entries == 2) || mode == 2) {
      check(HVDPCloseExtension(&h) == 0 && h == nullptr);
      check(HVDPCloseExtension(&h) == HVDPUT_INVALID_HANDLE);
      return 0;
    }
    rc = HVDPGetNextExtension(&h, &e);
    // At most one entry per 12 bytes of area.
    check(entries <= bytes.size() / 12);
  }
  check(h == nullptr && e == nullptr);
  check(rc == HVDPUT_BUFFER_UNDERFLOW);
  return 0;
}
