// Any bytes as ECMA time stamps and packed DOS values: two 16-byte stamps
// (read from an unaligned copy, as field data from media would be) through
// the stamp readers and the compare, and 32-bit values through the
// unpackers and back into stamps. Checks the promised round trips as well.
#include <dpxut.h>

#include <algorithm>

#include "common/le.h"
#include "fuzz_input.h"
#include "time/time.h"

void fuzz(const uint8_t* data, size_t size) {
  [[maybe_unused]] static const int tz = ::setenv("TZ", "IST-5:30", 1);
  uint32_t dos = 0, unix_time = 0, back = 0;
  int32_t zone = 0;
  HVDPECMATimeStamp again;
  // Padded to two whole stamps; the copy sits one byte off alignment.
  unsigned char bytes[1 + 2 * sizeof(HVDPECMATimeStamp)] = {};
  std::memcpy(bytes + 1, data, std::min<size_t>(size, 32));
  const HVDPECMATimeStamp stamps[2] = {dpxut::time::load_stamp(bytes + 1), dpxut::time::load_stamp(bytes + 17)};
  for (const HVDPECMATimeStamp& s : stamps) {
    const uint32_t to_dos = HVDPECMAToDOSTime(&s, &dos), to_unix = HVDPECMAToUnixTime(&s, &unix_time, &zone),
                   self = HVDPECMATimeCompare(&s, &s);
    check(to_dos <= 1 && (to_dos == 0 || dos == 0) && to_unix <= 1 && zone >= -2048 && zone <= 2047 &&
              (self == 0 || self == HVDP_ECMA_INCOMPARABLE),
          "stamp readers; a stamp equals itself");
    // Fields read as UTC come back as the same fields once normalised.
    if (to_unix == 0) HVDPUnixTimeToECMA(unix_time, &again, 0);
    check(to_unix != 0 || (HVDPECMAToUnixTime(&again, &back, &zone) == 0 && back == unix_time), "normalised");
  }
  const uint32_t ab = HVDPECMATimeCompare(stamps, stamps + 1), ba = HVDPECMATimeCompare(stamps + 1, stamps);
  check(ab == HVDP_ECMA_INCOMPARABLE ? ba == ab : static_cast<int32_t>(ab) == -static_cast<int32_t>(ba),
        "antisymmetric");
  dpxut::time::dos_from_stamp_bytes(bytes + 1);
  uint16_t f[6];
  for (size_t off = 0; off + 4 <= size; off += 4) {
    const uint32_t v = dpxut::load_le32(data + off);
    HVDPUnPackDateTime(v, f, f + 1, f + 2, f + 3, f + 4, f + 5);
    check(HVDPPackDateTime(f[0], f[1], f[2], f[3], f[4], f[5]) == v, "packed date and time round trip");
    HVDPUnPackDate(v, f, f + 1, f + 2);
    HVDPUnPackTime(v, f + 3, f + 4, f + 5);
    check(HVDPPackDate(f[0], f[1], f[2]) == (v & 0xFFFF) && HVDPPackTime(f[3], f[4], f[5]) == (v & 0xFFFF),
          "packed date, packed time round trip");
    HVDPDOSTimeToECMA(v, &again);
    check(HVDPECMAToDOSTime(&again, &dos) == 0 && dos == v, "DOS stamp round trip");
    HVDPUnixTimeToECMA(v, &again, v & 1);
    check(HVDPECMAToUnixTime(&again, &back, &zone) == 0 && back == v, "Unix stamp round trip");
    HVDPCheckDateAndTimeRange(v, v >> 3, v << 5);
  }
}
