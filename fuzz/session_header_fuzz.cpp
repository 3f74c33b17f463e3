// Reads any bytes as a session header section from an exact-size copy, so
// every overread is caught. Every text read or derived must end inside its
// member, and a description read back must write and read again to the
// same description (names by code compare without regard to case). The
// input also serves as a hostile description for the writer.
#include <strings.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "dpxut.h"
#include "header_fuzz.h"

namespace {

using header_fuzz::check;

template <size_t N>
bool terminated(const char (&member)[N]) {
  return strnlen(member, N) < N;
}

bool all_terminated(const HVDPSessionHeaderInfo& i) {
  return terminated(i.text1) && terminated(i.text2) && terminated(i.text3) && terminated(i.text4) &&
         terminated(i.shortName) && terminated(i.osName) && terminated(i.text5) && terminated(i.familyName) &&
         terminated(i.fullName);
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
  // A full name above 126 characters is read but refused by the writer.
  if (rc == 0 && header_fuzz::as_section(HVDP_SESSION_HEADER_ID, info, HVDPSetSessionHeaderInfo, again) == 0) {
    HVDPSessionHeaderInfo back{};
    check(HVDPGetSessionHeaderInfo(again.data(), static_cast<uint32_t>(again.size()), &back) == 0);
    check(all_terminated(back));
    check(std::memcmp(&back.timeStamp, &info.timeStamp, sizeof info.timeStamp) == 0);
    check(back.number == info.number);
    check(back.flag == (info.flag == 0 || info.flag == 0xC0 ? 0xC0u : 0xC1u));
    for (auto [a, b] : {std::pair{back.text1, info.text1}, {back.text2, info.text2}, {back.text3, info.text3},
                        {back.text4, info.text4}, {back.text5, info.text5}, {back.fullName, info.fullName}})
      check(std::strcmp(a, b) == 0);
    check(strcasecmp(back.osName, info.osName) == 0);
    check((strcasecmp(info.familyName, "DPX") == 0) == (std::strcmp(back.familyName, "DPX") == 0));
  } else if (rc == 0) {
    check(strnlen(info.fullName, sizeof info.fullName) > 126);
  }
  header_fuzz::write_hostile(data, size, HVDPSetSessionHeaderInfo);
  return 0;
}
