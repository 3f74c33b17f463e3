// Any bytes as a media header section: a description read back must write,
// and read again, to the same description.
#include "header_fuzz.h"

static void compare(uint32_t rc, const HVDPMediaHeaderInfo& info, const HVDPMediaHeaderInfo* back) {
  if (rc != 0) return;
  // A 64-byte text without its zero is written whole: every read text writes.
  const size_t length = strnlen(info.text, sizeof info.text);
  check(info.number <= 0xFFFF && back != nullptr && std::memcmp(back, &info, 32) == 0 && back->number == info.number &&
            strnlen(back->text, 64) == length && std::memcmp(back->text, info.text, length) == 0,
        "16-bit number, stamps and text; every description read writes");
}

void fuzz(const uint8_t* data, size_t size) {
  fuzz_header(data, size, HVDP_MEDIA_HEADER_ID, HVDPGetMediaHeaderInfo, HVDPSetMediaHeaderInfo, compare);
}
