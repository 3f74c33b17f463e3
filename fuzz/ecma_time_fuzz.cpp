// Any bytes as ECMA time stamps and packed DOS values: two 16-byte stamps
// (read from an unaligned copy, as field data from media would be) through
// the stamp readers and the compare, and 32-bit values through the
// unpackers and back into stamps. Checks the promised round trips as well.
#include <dpxut.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "common/le.h"
#include "time/time.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  ::setenv("TZ", "IST-5:30", 1);
  return 0;
}

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

void exercise_stamp(const HVDPECMATimeStamp& s) {
  uint32_t dos = 0;
  const uint32_t dos_result = HVDPECMAToDOSTime(&s, &dos);
  check(dos_result <= 1 && (dos_result == 0 || dos == 0));
  uint32_t unix_time = 0;
  int32_t zone = 0;
  const uint32_t unix_result = HVDPECMAToUnixTime(&s, &unix_time, &zone);
  check(unix_result <= 1);
  check(zone >= -2048 && zone <= 2047);
  if (unix_result == 0) {
    // Fields read as UTC come back as the same fields once normalised.
    HVDPECMATimeStamp again;
    HVDPUnixTimeToECMA(unix_time, &again, 0);
    uint32_t back = 0;
    check(HVDPECMAToUnixTime(&again, &back, &zone) == 0 && back == unix_time);
  }
  check(HVDPECMATimeCompare(&s, &s) == 0 || HVDPECMATimeCompare(&s, &s) == HVDP_ECMA_INCOMPARABLE);
}

void exercise_value(uint32_t v) {
  uint16_t f[6];
  HVDPUnPackDateTime(v, &f[0], &f[1], &f[2], &f[3], &f[4], &f[5]);
  check(HVDPPackDateTime(f[0], f[1], f[2], f[3], f[4], f[5]) == v);
  HVDPUnPackDate(v, &f[0], &f[1], &f[2]);
  HVDPUnPackTime(v, &f[3], &f[4], &f[5]);
  HVDPPackDate(f[0], f[1], f[2]);
  HVDPPackTime(f[3], f[4], f[5]);
  HVDPPackTime(static_cast<uint16_t>(v), static_cast<uint16_t>(v >> 16), static_cast<uint16_t>(v >> 8));
  HVDPPackDate(static_cast<uint16_t>(v), static_cast<uint16_t>(v >> 16), static_cast<uint16_t>(v >> 8));
  HVDPECMATimeStamp s;
  HVDPDOSTimeToECMA(v, &s);
  uint32_t dos = 0;
  check(HVDPECMAToDOSTime(&s, &dos) == 0 && dos == v);
  HVDPUnixTimeToECMA(v, &s, v & 1);
  uint32_t back = 0;
  int32_t zone = 0;
  check(HVDPECMAToUnixTime(&s, &back, &zone) == 0 && back == v);
  HVDPCheckDateAndTimeRange(v, v >> 3, v << 5);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Pad to two whole stamps; the copy sits one byte off alignment.
  unsigned char bytes[1 + 2 * sizeof(HVDPECMATimeStamp)] = {};
  std::memcpy(bytes + 1, data, size < 32 ? size : 32);
  const HVDPECMATimeStamp first = dpxut::time::load_stamp(bytes + 1);
  const HVDPECMATimeStamp second = dpxut::time::load_stamp(bytes + 17);
  exercise_stamp(first);
  exercise_stamp(second);
  const uint32_t ab = HVDPECMATimeCompare(&first, &second), ba = HVDPECMATimeCompare(&second, &first);
  check(ab == HVDP_ECMA_INCOMPARABLE ? ba == ab : static_cast<int32_t>(ab) == -static_cast<int32_t>(ba));
  dpxut::time::dos_from_stamp_bytes(bytes + 1);
  for (size_t off = 0; off + 4 <= size; off += 4) exercise_value(dpxut::load_le32(data + off));
  return 0;
}
