// Any bytes as a media header section: a description read back must write,
// and read again, to the same description.
#include "header_fuzz.h"

static void compare(uint32_t rc, const HVDPMediaHeaderInfo& info, const HVDPMediaHeaderInfo* back) {
  if (rc != 0) return;
  // A 64-byte text without its zero is written whole: every read text writes.
  check(info.number <= 0xFFFF && back != nullptr, "16-bit number; every description read writes");
  const size_t length = strnlen(info.text, sizeof info.text);
  check(std::memcmp(back, &info, 32) == 0 && back->number == info.number, "stamps, number");
  check(strnlen(back->text, 64) == length && std::memcmp(back->text, info.text, length) == 0, "text");
  check(back->flag == (info.flag == 0 || info.flag == 0xC0 ? 0xC0u : 0xC1u), "flag");
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_header(data, size, HVDP_MEDIA_HEADER_ID, HVDPGetMediaHeaderInfo, HVDPSetMediaHeaderInfo, compare);
  return 0;
}
