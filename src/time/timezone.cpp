// The server's time zone as the process sees it (TZ and the platform's
// zone files): the standard offset recorded in ECMA stamps, and the current
// offset with daylight saving time that SetTZOffset reports and caches.
//
// tzset() makes the platform re-read TZ, and with TZ unset it stats
// /etc/localtime: a system call on every conversion. Both answers are
// therefore cached, keyed on TZ's value, and recomputed through the
// platform exactly as before whenever the key differs:
//  - TZ set: the platform itself re-reads nothing while TZ's string is
//    unchanged (also for a zone file named in it), so neither does the cache.
//  - TZ unset: the platform follows a change of /etc/localtime (its target,
//    inode or mtime); the cache asks it again at most once a second.
// A miss costs what every call cost before, so a value that cannot be
// cached (TZ longer than the key holds, a writer busy) is simply computed.
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "common/export.h"
#include "time/time.h"

namespace dpxut::time {
namespace {

// TZ's value as the cache compares it: its bytes zero-padded to whole
// words. Values of kKeyBytes or more are not cached.
constexpr size_t kKeyWords = 16;
constexpr size_t kKeyBytes = kKeyWords * 8;

enum class TzState : uint32_t { kNone, kUnset, kSet, kTooLong };

struct TzKey {
  TzState state;
  uint32_t length;
  uint64_t words[kKeyWords];

  uint32_t word_count() const noexcept { return (length + 7) / 8; }
  bool cacheable() const noexcept { return state == TzState::kUnset || state == TzState::kSet; }
  bool operator==(const TzKey& other) const noexcept {
    return state == other.state && length == other.length &&
           std::memcmp(words, other.words, word_count() * sizeof words[0]) == 0;
  }
};

// getenv scans environ in user space: no call into the kernel.
TzKey current_key() noexcept {
  TzKey key{};
  const char* tz = std::getenv("TZ");
  if (tz == nullptr) {
    key.state = TzState::kUnset;
    return key;
  }
  const size_t length = strnlen(tz, kKeyBytes);
  if (length == kKeyBytes) {
    key.state = TzState::kTooLong;
    return key;
  }
  key.state = TzState::kSet;
  key.length = static_cast<uint32_t>(length);
  std::memcpy(key.words, tz, length);
  return key;
}

// Monotonic time at the kernel's tick: served by the vDSO, no system call.
int64_t coarse_now_ns() noexcept {
  struct timespec now {};
  clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
  return int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
}
constexpr int64_t kZoneFileRecheckNs = 1000000000;

// One value computed for one TZ key, with a stamp saying how long it holds.
// A sequence count guards it: even while stable, odd while a writer stores.
// Readers take no lock: they load the count, the fields, the count again,
// and use the fields only if the count was even and did not move. Writers
// claim the odd count with a compare-exchange; one that loses leaves the
// publication to the winner (its own value is returned all the same).
// Every field is an atomic, so a reader overlapping a writer is defined:
// the fields are stored with release after the count turned odd and loaded
// with acquire before the count is read again, so a reader that sees any
// new field also sees the count moved (no fences, which TSan cannot follow;
// on x86-64 these are plain moves).
class KeyedCache {
 public:
  bool find(const TzKey& key, int64_t& value, int64_t& stamp) const noexcept {
    constexpr auto kAcquire = std::memory_order_acquire;
    const uint32_t seq = seq_.load(kAcquire);
    if ((seq & 1) != 0) return false;
    bool same = state_.load(kAcquire) == key.state && length_.load(kAcquire) == key.length;
    for (uint32_t i = 0; same && i < key.word_count(); ++i) same = words_[i].load(kAcquire) == key.words[i];
    value = value_.load(kAcquire);
    stamp = stamp_.load(kAcquire);
    return same && seq_.load(std::memory_order_relaxed) == seq;
  }

  void publish(const TzKey& key, int64_t value, int64_t stamp) noexcept {
    constexpr auto kRelease = std::memory_order_release;
    uint32_t seq = seq_.load(std::memory_order_relaxed);
    if ((seq & 1) != 0 || !seq_.compare_exchange_strong(seq, seq + 1, std::memory_order_acquire)) return;
    state_.store(key.state, kRelease);
    length_.store(key.length, kRelease);
    for (uint32_t i = 0; i < key.word_count(); ++i) words_[i].store(key.words[i], kRelease);
    value_.store(value, kRelease);
    stamp_.store(stamp, kRelease);
    seq_.store(seq + 2, kRelease);
  }

 private:
  std::atomic<uint32_t> seq_{0};
  std::atomic<TzState> state_{TzState::kNone};
  std::atomic<uint32_t> length_{0};
  std::atomic<uint64_t> words_[kKeyWords] = {};
  std::atomic<int64_t> value_{0};
  std::atomic<int64_t> stamp_{0};
};

// Publishes only if TZ still has the value the computation started from: a
// host changing TZ meanwhile could have paired the key with the new zone.
void publish_if_unchanged(KeyedCache& cache, const TzKey& key, int64_t value, int64_t stamp) noexcept {
  if (key.cacheable() && current_key() == key) cache.publish(key, value, stamp);
}

// The standard offset in minutes; stamp: coarse time until which an unset
// TZ's zone file need not be checked again.
constinit KeyedCache g_standard_zone;
// SetTZOffset's offset in seconds; stamp: the second of time() it is for.
constinit KeyedCache g_current_offset;

}  // namespace

// `timezone` (seconds west of UTC, standard time) is only valid after
// tzset; reading it here rather than trusting an earlier caller keeps a
// first call from reporting UTC for every zone.
int32_t standard_zone_minutes() noexcept {
  const TzKey key = current_key();
  int64_t minutes = 0, recheck = 0;
  if (key.cacheable() && g_standard_zone.find(key, minutes, recheck) &&
      (key.state == TzState::kSet || coarse_now_ns() < recheck))
    return static_cast<int32_t>(minutes);
  ::tzset();
  minutes = -(::timezone / 60);
  publish_if_unchanged(g_standard_zone, key, minutes, coarse_now_ns() + kZoneFileRecheckNs);
  return static_cast<int32_t>(minutes);
}

uint16_t local_zone_word() noexcept {
  return static_cast<uint16_t>(HVDP_ECMA_TYPE_LOCAL | (static_cast<uint32_t>(standard_zone_minutes()) & 0xFFFu));
}

}  // namespace dpxut::time

namespace {

// SetTZOffset's fallback: the flag is set only after a failed clock read and
// then pins the offset for the process's life. Atomics make the unguarded
// concurrent first calls well defined; they all store the same value.
std::atomic<uint32_t> g_offset_fixed{0};
std::atomic<int64_t> g_offset_seconds{0};

}  // namespace

DPXUT_EXPORT int32_t GenECMATimeZone(void) { return dpxut::time::standard_zone_minutes(); }

// The offset comes from the broken-down time's own tm_gmtoff: exact also in
// zones whose daylight shift is not one hour (Lord Howe Island's 30 minutes)
// and equal to standard offset + 3600 wherever the shift is an hour. It is
// reused within the second of time() it was computed for, under the same TZ.
DPXUT_EXPORT int32_t SetTZOffset(void) {
  using namespace dpxut::time;
  if (g_offset_fixed.load(std::memory_order_acquire) != 0)
    return static_cast<int32_t>(g_offset_seconds.load(std::memory_order_relaxed));
  const TzKey key = current_key();
  const time_t now = ::time(nullptr);
  int64_t offset = 0, second = 0;
  if (now != static_cast<time_t>(-1) && key.cacheable() && g_current_offset.find(key, offset, second) &&
      second == now)
    return static_cast<int32_t>(offset);
  ::tzset();
  offset = -static_cast<int64_t>(::timezone);
  if (now == static_cast<time_t>(-1)) {
    g_offset_seconds.store(offset, std::memory_order_relaxed);
    g_offset_fixed.store(1, std::memory_order_release);
    return static_cast<int32_t>(offset);
  }
  struct tm local {};
  if (localtime_r(&now, &local) != nullptr) offset = local.tm_gmtoff;
  publish_if_unchanged(g_current_offset, key, offset, now);
  return static_cast<int32_t>(offset);
}
