// Any bytes as a session header section: every text read or derived must
// end inside its member, and a description read back must write and read
// again to the same description (names by code compare without regard to
// case).
#include <strings.h>

#include "header_fuzz.h"

static void compare(uint32_t rc, const HVDPSessionHeaderInfo& info, const HVDPSessionHeaderInfo* back) {
  static const size_t kSizes[] = {80, 80, 40, 10, 48, 40, 10, 32, 256};  // the nine texts follow each other
  for (const HVDPSessionHeaderInfo* i : {&info, back})
    for (size_t k = 0, at = offsetof(HVDPSessionHeaderInfo, text1); i != nullptr && k < 9; at += kSizes[k++])
      check(strnlen(reinterpret_cast<const char*>(i) + at, kSizes[k]) < kSizes[k], "text ends inside its member");
  // A full name above 126 characters is read but refused by the writer.
  if (back == nullptr) return check(rc != 0 || strnlen(info.fullName, 256) > 126, "only a long full name is refused");
  check(std::memcmp(back, &info, 20) == 0 && strcasecmp(back->osName, info.osName) == 0 &&
            !std::strcmp(back->text1, info.text1) && !std::strcmp(back->text2, info.text2) &&
            !std::strcmp(back->text3, info.text3) && !std::strcmp(back->text4, info.text4) &&
            !std::strcmp(back->text5, info.text5) && !std::strcmp(back->fullName, info.fullName),
        "stamp, number, system name (by its code) and texts");
  check((strcasecmp(info.familyName, "DPX") == 0) == (std::strcmp(back->familyName, "DPX") == 0), "family");
}

void fuzz(const uint8_t* data, size_t size) {
  fuzz_header(data, size, HVDP_SESSION_HEADER_ID, HVDPGetSessionHeaderInfo, HVDPSetSessionHeaderInfo, compare);
}
