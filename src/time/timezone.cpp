// The server's time zone as the process sees it (TZ and the platform's
// zone files): the standard offset recorded in ECMA stamps, and the current
// offset with daylight saving time that SetTZOffset reports and caches.
#include <atomic>
#include <ctime>

#include "common/export.h"
#include "time/time.h"

namespace dpxut::time {

// tzset makes the platform re-read TZ, so a host that changes its zone is
// followed; `timezone` (seconds west of UTC, standard time) is only valid
// after it. Reading it here rather than trusting an earlier caller keeps a
// first call from reporting UTC for every zone.
int32_t standard_zone_minutes() noexcept {
  ::tzset();
  return static_cast<int32_t>(-(::timezone / 60));
}

uint16_t local_zone_word() noexcept {
  return static_cast<uint16_t>(HVDP_ECMA_TYPE_LOCAL | (static_cast<uint32_t>(standard_zone_minutes()) & 0xFFFu));
}

}  // namespace dpxut::time

namespace {

// SetTZOffset's cache: the flag is set only after a failed clock read and
// then pins the offset for the process's life. Atomics make the unguarded
// concurrent first calls well defined; they all store the same value.
std::atomic<uint32_t> g_offset_fixed{0};
std::atomic<int64_t> g_offset_seconds{0};

}  // namespace

DPXUT_EXPORT int32_t GenECMATimeZone(void) { return dpxut::time::standard_zone_minutes(); }

// The offset comes from the broken-down time's own tm_gmtoff: exact also in
// zones whose daylight shift is not one hour (Lord Howe Island's 30 minutes)
// and equal to standard offset + 3600 wherever the shift is an hour.
DPXUT_EXPORT int32_t SetTZOffset(void) {
  if (g_offset_fixed.load(std::memory_order_acquire) != 0)
    return static_cast<int32_t>(g_offset_seconds.load(std::memory_order_relaxed));
  ::tzset();
  const time_t now = ::time(nullptr);
  int64_t offset = -static_cast<int64_t>(::timezone);
  if (now == static_cast<time_t>(-1)) {
    g_offset_seconds.store(offset, std::memory_order_relaxed);
    g_offset_fixed.store(1, std::memory_order_release);
    return static_cast<int32_t>(offset);
  }
  struct tm local {};
  if (localtime_r(&now, &local) != nullptr) offset = local.tm_gmtoff;
  g_offset_seconds.store(offset, std::memory_order_relaxed);
  return static_cast<int32_t>(offset);
}
