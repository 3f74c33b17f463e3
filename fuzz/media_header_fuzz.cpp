// Reads any bytes as a media header section from an exact-size copy, so
// every overread is caught. A description read back must write, and read
// again, to the same description. The input also serves as a hostile
// description for the writer.
#include <cstdint>
#include <cstring>
#include <vector>

#include "dpxut.h"
#include "header_fuzz.h"

using header_fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> input(data, data + size);
  uint8_t empty = 0;
  HVDPMediaHeaderInfo info{};
  const uint32_t rc = HVDPGetMediaHeaderInfo(size ? input.data() : &empty, static_cast<uint32_t>(size), &info);
  check(rc == 0 || rc == HVDPUT_BUFFER_UNDERFLOW || rc == HVDPUT_FIELD_ID_MISMATCH);
  std::vector<uint8_t> again;
  if (rc == 0) {
    check(info.number <= 0xFFFF);
    // A 64-byte text without its zero is written whole: every read text writes.
    check(header_fuzz::as_section(HVDP_MEDIA_HEADER_ID, info, HVDPSetMediaHeaderInfo, again) == 0);
    HVDPMediaHeaderInfo back{};
    check(HVDPGetMediaHeaderInfo(again.data(), static_cast<uint32_t>(again.size()), &back) == 0);
    check(std::memcmp(&back.firstTimeStamp, &info.firstTimeStamp, 32) == 0);
    const size_t length = strnlen(info.text, sizeof info.text);
    check(strnlen(back.text, sizeof back.text) == length && std::memcmp(back.text, info.text, length) == 0);
    check(back.number == info.number);
    check(back.flag == (info.flag == 0 || info.flag == 0xC0 ? 0xC0u : 0xC1u));
  }
  header_fuzz::write_hostile(data, size, HVDPSetMediaHeaderInfo);
  return 0;
}
