// Reads any bytes as a media header section from an exact-size copy, so
// every overread is caught. A description read back must write, and read
// again, to the same description. The first 104 bytes also serve as a
// hostile description (texts without zeros) for the writer, whose output
// must stay inside a buffer sized by the next byte.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "dpxut.h"

namespace {

constexpr uint32_t kMediaId = 0x808000;

void check(bool ok) {
  if (!ok) std::abort();
}

// head, members, empty closing field
std::vector<uint8_t> as_section(const HVDPMediaHeaderInfo& info) {
  std::vector<uint8_t> out(6 + 256 + 4);
  static const uint8_t kSignature[2] = {0xA5, 0x5A};
  DPDFField head{};
  head.fieldId = kMediaId;
  head.data = kSignature;
  check(DPDFPutNextField(out.data(), 6, &head, 2, 2) == 0 && head.bytesUsed == 6);
  uint32_t written = 0;
  check(HVDPSetMediaHeaderInfo(&info, out.data() + 6, 256, &written) == 0);
  DPDFField closing{};
  closing.fieldId = kMediaId;
  check(DPDFPutNextField(out.data() + 6 + written, 4, &closing, 0, 0) == 0 && closing.bytesUsed == 4);
  out.resize(6 + written + 4);
  return out;
}

size_t text_length(const char* text) { return strnlen(text, 64); }

void write_hostile(const uint8_t* data, size_t size) {
  if (size <= sizeof(HVDPMediaHeaderInfo)) return;
  HVDPMediaHeaderInfo info;
  std::memcpy(&info, data, sizeof info);
  const uint32_t capacity = data[sizeof info] % 64;
  std::vector<uint8_t> buffer(capacity ? capacity : 1);
  uint32_t written = 0xFFFFFFFF;
  const uint32_t rc = HVDPSetMediaHeaderInfo(&info, buffer.data(), capacity, &written);
  check(rc == 0 || rc == HVDPUT_OVERFLOW);
  check(written <= capacity);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> input(data, data + size);
  uint8_t empty = 0;
  HVDPMediaHeaderInfo info{};
  const uint32_t rc = HVDPGetMediaHeaderInfo(size ? input.data() : &empty, static_cast<uint32_t>(size), &info);
  check(rc == 0 || rc == HVDPUT_BUFFER_UNDERFLOW || rc == HVDPUT_FIELD_ID_MISMATCH);
  if (rc == 0) {
    check(info.number <= 0xFFFF);
    const std::vector<uint8_t> again = as_section(info);
    HVDPMediaHeaderInfo back{};
    check(HVDPGetMediaHeaderInfo(again.data(), static_cast<uint32_t>(again.size()), &back) == 0);
    check(std::memcmp(&back.firstTimeStamp, &info.firstTimeStamp, 32) == 0);
    check(text_length(back.text) == text_length(info.text) &&
          std::memcmp(back.text, info.text, text_length(info.text)) == 0);
    check(back.number == info.number);
    check(back.flag == (info.flag == 0 || info.flag == 0xC0 ? 0xC0u : 0xC1u));
  }
  write_hostile(data, size);
  return 0;
}
