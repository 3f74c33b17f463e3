// Reads any bytes as a session header section from an exact-size copy, so
// every overread is caught. Every text read or derived must end inside its
// member, and a description read back must write and read again to the
// same description (names by code compare without regard to case). The
// first 620 bytes also serve as a hostile description for the writer,
// whose output must stay inside a buffer sized by the next byte.
#include <strings.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "dpxut.h"

namespace {

constexpr uint32_t kSessionId = 0x808004;

void check(bool ok) {
  if (!ok) std::abort();
}

template <size_t N>
bool terminated(const char (&member)[N]) {
  return strnlen(member, N) < N;
}
template <size_t N>
bool same_text(const char (&a)[N], const char (&b)[N]) {
  return std::strcmp(a, b) == 0;
}

bool all_terminated(const HVDPSessionHeaderInfo& i) {
  return terminated(i.text1) && terminated(i.text2) && terminated(i.text3) && terminated(i.text4) &&
         terminated(i.shortName) && terminated(i.osName) && terminated(i.text5) && terminated(i.familyName) &&
         terminated(i.fullName);
}

// head, members, empty closing field; false when the writer refuses a text
bool as_section(const HVDPSessionHeaderInfo& info, std::vector<uint8_t>& out) {
  out.assign(6 + 1024 + 4, 0);
  static const uint8_t kSignature[2] = {0xA5, 0x5A};
  DPDFField head{};
  head.fieldId = kSessionId;
  head.data = kSignature;
  check(DPDFPutNextField(out.data(), 6, &head, 2, 2) == 0 && head.bytesUsed == 6);
  uint32_t written = 0;
  const uint32_t rc = HVDPSetSessionHeaderInfo(&info, out.data() + 6, 1024, &written);
  if (rc == HVDPUT_INVALID_PARAMETER) return false;
  check(rc == 0);
  DPDFField closing{};
  closing.fieldId = kSessionId;
  check(DPDFPutNextField(out.data() + 6 + written, 4, &closing, 0, 0) == 0 && closing.bytesUsed == 4);
  out.resize(6 + written + 4);
  return true;
}

void write_hostile(const uint8_t* data, size_t size) {
  if (size <= sizeof(HVDPSessionHeaderInfo)) return;
  HVDPSessionHeaderInfo info;
  std::memcpy(&info, data, sizeof info);
  const uint32_t capacity = data[sizeof info];
  std::vector<uint8_t> buffer(capacity ? capacity : 1);
  uint32_t written = 0xFFFFFFFF;
  const uint32_t rc = HVDPSetSessionHeaderInfo(&info, buffer.data(), capacity, &written);
  check(rc == 0 || rc == HVDPUT_OVERFLOW || rc == HVDPUT_INVALID_PARAMETER);
  check(written <= capacity);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> input(data, data + size);
  uint8_t empty = 0;
  HVDPSessionHeaderInfo info{};
  const uint32_t rc = HVDPGetSessionHeaderInfo(size ? input.data() : &empty, static_cast<uint32_t>(size), &info);
  check(rc == 0 || rc == HVDPUT_BUFFER_UNDERFLOW || rc == HVDPUT_FIELD_ID_MISMATCH);
  check(all_terminated(info));
  std::vector<uint8_t> again;
  if (rc == 0 && as_section(info, again)) {
    HVDPSessionHeaderInfo back{};
    check(HVDPGetSessionHeaderInfo(again.data(), static_cast<uint32_t>(again.size()), &back) == 0);
    check(all_terminated(back));
    check(std::memcmp(&back.timeStamp, &info.timeStamp, sizeof info.timeStamp) == 0);
    check(back.number == info.number);
    check(back.flag == (info.flag == 0 || info.flag == 0xC0 ? 0xC0u : 0xC1u));
    check(same_text(back.text1, info.text1) && same_text(back.text2, info.text2) &&
          same_text(back.text3, info.text3) && same_text(back.text4, info.text4) &&
          same_text(back.text5, info.text5) && same_text(back.fullName, info.fullName));
    check(strcasecmp(back.osName, info.osName) == 0);
    check((strcasecmp(info.familyName, "DPX") == 0) == (std::strcmp(back.familyName, "DPX") == 0));
  }
  write_hostile(data, size);
  return 0;
}
