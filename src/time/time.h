// Internal interface of the date and time subsystem for the header writers
// and the data set information parser: ECMA stamps moved to and from field
// data at any address, and the zone word this server writes.
#pragma once

#include <dpxut.h>

#include <cstdint>
#include <cstring>

namespace dpxut::time {

inline constexpr size_t kStampBytes = sizeof(HVDPECMATimeStamp);  // 16

// The stamp held in the 16 bytes at `bytes` (SIDF field data, any address).
inline HVDPECMATimeStamp load_stamp(const void* bytes) noexcept {
  HVDPECMATimeStamp stamp;
  std::memcpy(&stamp, bytes, kStampBytes);
  return stamp;
}
inline void store_stamp(void* bytes, const HVDPECMATimeStamp& stamp) noexcept {
  std::memcpy(bytes, &stamp, kStampBytes);
}

// DOS packed date and time of the stamp in the 16 bytes at `bytes`, or 0
// (no date) when the packed form cannot hold its year.
uint32_t dos_from_stamp_bytes(const void* bytes) noexcept;

// The zone a stamp's word gives, in minutes east of UTC: 0 for word 0, the
// sign-extended 12 bits for type 1, HVDP_ECMA_ZONE_UNSPECIFIED otherwise.
int32_t decode_zone(uint16_t word) noexcept;

// The server's standard offset in minutes east as the platform's tzset
// gives it for TZ's present value (an unset TZ's zone file is looked at
// again at most once a second), and the type-1 word that records it.
int32_t standard_zone_minutes() noexcept;
uint16_t local_zone_word() noexcept;

// The stamps HVDPDOSTimeToECMA and HVDPUnixTimeToECMA write, with the zone
// word given, so that a writer of several stamps looks the zone up once.
HVDPECMATimeStamp stamp_from_dos(uint32_t dosDateTime, uint16_t zoneWord) noexcept;
HVDPECMATimeStamp stamp_from_unix(uint32_t unixTime, uint16_t zoneWord) noexcept;

}  // namespace dpxut::time
