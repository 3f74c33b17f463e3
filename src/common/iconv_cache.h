// Conversion descriptors of the platform's iconv: an owning wrapper and a
// per-thread cache that keeps one open descriptor per (tocode, fromcode)
// pair, so that converting a string or measuring one character never pays
// for an iconv_open. Every conversion in the library goes through here.
//
// Use:
//
//   dpxut::IconvLease cd("UTF-8", codeset);   // to, from: as for iconv_open
//   if (!cd) return failure;                   // iconv_open refused the pair
//   const char* in = src; size_t in_left = len;
//   char* out = dst;      size_t out_left = cap;
//   if (cd.convert(&in, &in_left, &out, &out_left) == dpxut::kIconvFailed) ... errno
//
// A lease checks the pair's descriptor out of the calling thread's cache (or
// opens one when the cache has none) and puts it back when it goes out of
// scope. While leased the descriptor belongs to its holder alone: nothing
// closes it, and a nested lease of the same pair gets a second descriptor,
// closed when that lease ends (the pair keeps one cached descriptor).
// Every lease starts in the initial shift state (the cache resets the state
// on hand-out), so a conversion never inherits a half-finished escape
// sequence from the one before it.
//
// Leasing is on the path of every non-ASCII conversion, so it is kept to a
// lookup over the slots: a slot keeps its pair's names while its descriptor
// is out, and the lease remembers the slot, so putting the descriptor back
// compares and copies no names. Names are copied only when a descriptor is
// opened.
//
// Invalidation: iconv_cache_invalidate() (run by the conversion set-up and
// shut-down whenever the server code set may have changed) bumps a
// process-wide generation. Each thread compares it on its next lookup and
// closes everything it cached under an older generation; a descriptor
// leased across an invalidation is closed, not cached, when its lease ends.
//
// Limits: a thread caches at most kIconvCacheSlots pairs; opening a new one
// when all are taken closes the idle descriptor least recently returned (a
// leased one is never closed; with every slot leased the new descriptor is
// simply not cached). Names of kIconvNameMax bytes or more are converted
// with a descriptor of their own that is closed at the end of the lease.
// Each thread's descriptors are closed when the thread exits.
#pragma once

#include <iconv.h>

#include <cstddef>
#include <cstdint>

namespace dpxut {

// The value iconv_open returns on failure, and iconv's failure result.
inline iconv_t bad_iconv() noexcept { return reinterpret_cast<iconv_t>(-1); }
inline constexpr size_t kIconvFailed = static_cast<size_t>(-1);

inline constexpr size_t kIconvCacheSlots = 8;
inline constexpr size_t kIconvNameMax = 128;  // bytes incl. the NUL, like dp_current_codeset

// Owns one descriptor from iconv_open; closes it on destruction.
class IconvHandle {
 public:
  IconvHandle() noexcept = default;
  // iconv_open(tocode, fromcode); valid() tells whether it succeeded. Null
  // names are refused without calling iconv_open.
  IconvHandle(const char* tocode, const char* fromcode) noexcept;
  explicit IconvHandle(iconv_t adopt) noexcept : cd_(adopt) {}
  ~IconvHandle() { reset(); }
  IconvHandle(IconvHandle&& other) noexcept : cd_(other.release()) {}
  IconvHandle& operator=(IconvHandle&& other) noexcept;
  IconvHandle(const IconvHandle&) = delete;
  IconvHandle& operator=(const IconvHandle&) = delete;

  bool valid() const noexcept { return cd_ != bad_iconv(); }
  iconv_t get() const noexcept { return cd_; }
  iconv_t release() noexcept;  // gives up ownership, leaves the handle empty
  void reset() noexcept;       // closes the descriptor, if any

 private:
  iconv_t cd_ = bad_iconv();
};

// One descriptor of the calling thread's cache, held for the lease's scope.
// Not to be handed to another thread: ending there, it closes its descriptor
// rather than return it to either thread's cache (its own thread then leaves
// the pair uncached until the next invalidation).
class IconvLease {
 public:
  IconvLease(const char* tocode, const char* fromcode) noexcept;
  ~IconvLease();
  IconvLease(const IconvLease&) = delete;
  IconvLease& operator=(const IconvLease&) = delete;

  explicit operator bool() const noexcept { return handle_.valid(); }
  iconv_t get() const noexcept { return handle_.get(); }

  // iconv(3) on the leased descriptor: returns its result (kIconvFailed with
  // errno set on failure) and advances the four arguments as iconv does.
  size_t convert(const char** in, size_t* in_left, char** out, size_t* out_left) noexcept;
  // Back to the initial shift state without writing anything.
  void reset_state() noexcept;

 private:
  static constexpr uint32_t kNoSlot = UINT32_MAX;

  IconvHandle handle_;       // owns the descriptor for the whole lease
  uint64_t generation_ = 0;  // cache generation when the lease began
  uint32_t slot_ = kNoSlot;  // the cache slot reserved for it, if any
};

// Makes every thread drop the descriptors it has cached (at its next
// lookup). Called whenever the server code set may have changed.
void iconv_cache_invalidate() noexcept;
// Current generation; changes with every invalidation.
uint64_t iconv_cache_generation() noexcept;
// Number of iconv_open calls the calling thread's leases have made so far:
// lets tests and benchmarks verify that a conversion loop opens nothing.
uint64_t iconv_cache_thread_opens() noexcept;

}  // namespace dpxut
