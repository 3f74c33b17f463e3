// Any bytes as a session header section: every text read or derived must
// end inside its member, and a description read back must write and read
// again to the same description (names by code compare without regard to
// case).
#include <strings.h>

#include "header_fuzz.h"

static void check_terminated(const HVDPSessionHeaderInfo& i) {
  size_t at = offsetof(HVDPSessionHeaderInfo, text1);  // the nine texts follow each other
  for (size_t size : {80, 80, 40, 10, 48, 40, 10, 32, 256}) {
    check(strnlen(reinterpret_cast<const char*>(&i) + at, size) < size, "text ends inside its member");
    at += size;
  }
}

static void compare(uint32_t rc, const HVDPSessionHeaderInfo& info, const HVDPSessionHeaderInfo* back) {
  check_terminated(info);
  // A full name above 126 characters is read but refused by the writer.
  if (rc == 0 && back == nullptr) check(strnlen(info.fullName, 256) > 126, "only a long full name is refused");
  if (back == nullptr) return;
  check_terminated(*back);
  check(std::memcmp(back, &info, 20) == 0, "stamp, number");
  check(back->flag == (info.flag == 0 || info.flag == 0xC0 ? 0xC0u : 0xC1u), "flag");
  check(!std::strcmp(back->text1, info.text1) && !std::strcmp(back->text2, info.text2) &&
            !std::strcmp(back->text3, info.text3) && !std::strcmp(back->text4, info.text4) &&
            !std::strcmp(back->text5, info.text5) && !std::strcmp(back->fullName, info.fullName),
        "texts");
  check(strcasecmp(back->osName, info.osName) == 0, "system name");
  check((strcasecmp(info.familyName, "DPX") == 0) == (std::strcmp(back->familyName, "DPX") == 0), "family");
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_header(data, size, HVDP_SESSION_HEADER_ID, HVDPGetSessionHeaderInfo, HVDPSetSessionHeaderInfo, compare);
  return 0;
}
