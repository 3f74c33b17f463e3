// The per-thread iconv descriptor cache behind IconvLease. Each thread owns
// a small fixed table of open descriptors keyed by their two code set names;
// the table is plain data so that a lease ending during thread exit (after
// the table's closer ran) still finds valid memory and simply closes.
#include "common/iconv_cache.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <string_view>

namespace dpxut {

IconvHandle::IconvHandle(const char* tocode, const char* fromcode) noexcept {
  if (tocode != nullptr && fromcode != nullptr) cd_ = iconv_open(tocode, fromcode);
}

IconvHandle& IconvHandle::operator=(IconvHandle&& other) noexcept {
  if (this != &other) {
    reset();
    cd_ = other.release();
  }
  return *this;
}

iconv_t IconvHandle::release() noexcept {
  iconv_t cd = cd_;
  cd_ = bad_iconv();
  return cd;
}

void IconvHandle::reset() noexcept {
  if (valid()) iconv_close(cd_);
  cd_ = bad_iconv();
}

namespace {

std::atomic<uint64_t> g_generation{1};

// One pair of code set names and its descriptor. While the descriptor is
// out with a lease the slot stays reserved for the pair (`leased`): the
// lease owns the descriptor meanwhile, and `cd` keeps its value only to
// recognise it when it comes back.
struct Slot {
  bool used;
  bool leased;
  uint8_t to_len;    // name lengths without the NUL, < kIconvNameMax
  uint8_t from_len;
  uint64_t stamp;    // when the descriptor was last returned; smallest is evicted
  iconv_t cd;
  char to[kIconvNameMax];
  char from[kIconvNameMax];
};
static_assert(kIconvNameMax <= UINT8_MAX + 1, "name lengths are kept in a byte");

// Zero-initialised, trivially destructible: valid for the thread's whole life.
struct ThreadCache {
  Slot slots[kIconvCacheSlots];
  uint64_t generation;
  uint64_t opens;
  uint64_t clock;
  bool closed;  // the thread is exiting: nothing more is cached
};

constinit thread_local ThreadCache tl_cache{};

// Empties the table. A descriptor that is out stays with its lease, which
// then finds its slot gone and closes the descriptor itself.
void close_all(ThreadCache& c) noexcept {
  for (Slot& s : c.slots) {
    if (s.used && !s.leased) iconv_close(s.cd);
    s.used = false;
    s.leased = false;
  }
}

// Registers, on a thread's first lookup, the closing of its descriptors at
// thread exit.
struct ThreadCacheCloser {
  ~ThreadCacheCloser() {
    close_all(tl_cache);
    tl_cache.closed = true;
  }
};

ThreadCache& thread_cache() noexcept {
  static thread_local ThreadCacheCloser closer;
  (void)closer;
  ThreadCache& c = tl_cache;
  const uint64_t gen = g_generation.load(std::memory_order_acquire);
  if (c.generation != gen) {
    close_all(c);
    c.generation = gen;
  }
  return c;
}

// Compared in place, lengths first: most pairs differ in length already.
bool holds(const Slot& s, std::string_view to, std::string_view from) noexcept {
  return s.to_len == to.size() && s.from_len == from.size() &&
         std::memcmp(s.to, to.data(), to.size()) == 0 &&
         std::memcmp(s.from, from.data(), from.size()) == 0;
}

void store_name(char (&dst)[kIconvNameMax], uint8_t* len, std::string_view name) noexcept {
  std::memcpy(dst, name.data(), name.size());
  dst[name.size()] = '\0';
  *len = static_cast<uint8_t>(name.size());
}

void reset_shift_state(iconv_t cd) noexcept { iconv(cd, nullptr, nullptr, nullptr, nullptr); }

}  // namespace

IconvLease::IconvLease(const char* tocode, const char* fromcode) noexcept {
  if (tocode == nullptr || fromcode == nullptr) return;
  ThreadCache& c = thread_cache();
  generation_ = c.generation;
  const std::string_view to(tocode, strnlen(tocode, kIconvNameMax));
  const std::string_view from(fromcode, strnlen(fromcode, kIconvNameMax));
  Slot* keep = nullptr;  // where a descriptor opened now is to be cached
  if (!c.closed && to.size() < kIconvNameMax && from.size() < kIconvNameMax) {
    Slot* oldest_idle = nullptr;
    bool pair_out = false;
    for (uint32_t i = 0; i < kIconvCacheSlots; ++i) {
      Slot& s = c.slots[i];
      if (!s.used) {
        if (keep == nullptr) keep = &s;
      } else if (holds(s, to, from)) {
        if (s.leased) {
          pair_out = true;  // nested lease: a descriptor of its own, not cached
          break;
        }
        s.leased = true;
        slot_ = i;
        handle_ = IconvHandle(s.cd);
        reset_shift_state(s.cd);
        return;
      } else if (!s.leased && (oldest_idle == nullptr || s.stamp < oldest_idle->stamp)) {
        oldest_idle = &s;
      }
    }
    if (pair_out) {
      keep = nullptr;
    } else if (keep == nullptr) {
      keep = oldest_idle;  // null when every slot is leased
    }
  }
  handle_ = IconvHandle(tocode, fromcode);
  ++c.opens;
  if (!handle_.valid() || keep == nullptr) return;
  if (keep->used) iconv_close(keep->cd);  // evicted: idle, least recently returned
  store_name(keep->to, &keep->to_len, to);
  store_name(keep->from, &keep->from_len, from);
  keep->cd = handle_.get();
  keep->used = true;
  keep->leased = true;
  slot_ = static_cast<uint32_t>(keep - c.slots);
}

IconvLease::~IconvLease() {
  if (slot_ == kNoSlot) return;  // the handle closes a descriptor of its own
  ThreadCache& c = tl_cache;
  Slot& s = c.slots[slot_];
  // The slot no longer waits for this descriptor when the table was emptied
  // meanwhile (an invalidation seen by a later lookup, thread exit), or when
  // the lease ends on a thread other than its own; the handle closes it. An
  // open descriptor's address is unique, so a match is this lease's slot.
  if (!s.used || !s.leased || s.cd != handle_.get()) return;
  if (g_generation.load(std::memory_order_acquire) != generation_) {
    s.used = false;  // invalidated while leased: closed, not cached
    s.leased = false;
    return;
  }
  handle_.release();
  s.leased = false;
  s.stamp = ++c.clock;
}

size_t IconvLease::convert(const char** in, size_t* in_left, char** out, size_t* out_left) noexcept {
  if (!handle_.valid()) {
    errno = EBADF;
    return kIconvFailed;
  }
  // glibc declares the input as char** although it never writes through it.
  return iconv(handle_.get(), const_cast<char**>(in), in_left, out, out_left);
}

void IconvLease::reset_state() noexcept {
  if (handle_.valid()) reset_shift_state(handle_.get());
}

void iconv_cache_invalidate() noexcept { g_generation.fetch_add(1, std::memory_order_acq_rel); }

uint64_t iconv_cache_generation() noexcept { return g_generation.load(std::memory_order_acquire); }

uint64_t iconv_cache_thread_opens() noexcept { return tl_cache.opens; }

}  // namespace dpxut
