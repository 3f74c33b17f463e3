// The per-thread iconv descriptor cache behind IconvLease. Each thread owns
// a small fixed table of open descriptors keyed by their two code set names;
// the table is plain data so that a lease ending during thread exit (after
// the table's closer ran) still finds valid memory and simply closes.
#include "common/iconv_cache.h"

#include <atomic>
#include <cerrno>
#include <cstring>

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

struct Slot {
  bool used;
  uint32_t stamp;  // when the descriptor was last returned; smallest is evicted
  iconv_t cd;
  char to[kIconvNameMax];
  char from[kIconvNameMax];
};

// Zero-initialised, trivially destructible: valid for the thread's whole life.
struct ThreadCache {
  Slot slots[kIconvCacheSlots];
  uint64_t generation;
  uint64_t opens;
  uint32_t clock;
  bool closed;  // the thread is exiting: nothing more is cached
};

constinit thread_local ThreadCache tl_cache{};

void close_all(ThreadCache& c) noexcept {
  for (Slot& s : c.slots) {
    if (s.used) iconv_close(s.cd);
    s.used = false;
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

// Copies a name that fits a slot; false when it is too long to cache.
bool copy_name(char (&dst)[kIconvNameMax], const char* src) noexcept {
  const size_t len = strnlen(src, kIconvNameMax);
  if (len >= kIconvNameMax) return false;
  std::memcpy(dst, src, len + 1);
  return true;
}

void reset_shift_state(iconv_t cd) noexcept { iconv(cd, nullptr, nullptr, nullptr, nullptr); }

}  // namespace

IconvLease::IconvLease(const char* tocode, const char* fromcode) noexcept {
  if (tocode == nullptr || fromcode == nullptr) return;
  ThreadCache& c = thread_cache();
  generation_ = c.generation;
  cacheable_ = !c.closed && copy_name(to_, tocode) && copy_name(from_, fromcode);
  if (cacheable_) {
    for (Slot& s : c.slots) {
      if (s.used && std::strcmp(s.to, to_) == 0 && std::strcmp(s.from, from_) == 0) {
        s.used = false;
        handle_ = IconvHandle(s.cd);
        reset_shift_state(s.cd);
        return;
      }
    }
  }
  handle_ = IconvHandle(tocode, fromcode);
  ++c.opens;
}

IconvLease::~IconvLease() {
  if (!handle_.valid() || !cacheable_) return;
  ThreadCache& c = tl_cache;
  if (c.closed || c.generation != generation_ ||
      g_generation.load(std::memory_order_acquire) != generation_) {
    return;  // the handle closes it
  }
  Slot* target = nullptr;
  for (Slot& s : c.slots) {
    if (s.used && std::strcmp(s.to, to_) == 0 && std::strcmp(s.from, from_) == 0) {
      return;  // a nested lease of the same pair already went back
    }
    if (!s.used && target == nullptr) target = &s;
  }
  if (target == nullptr) {
    target = &c.slots[0];
    for (Slot& s : c.slots) {
      if (s.stamp < target->stamp) target = &s;
    }
    iconv_close(target->cd);
    target->used = false;
  }
  std::memcpy(target->to, to_, sizeof to_);
  std::memcpy(target->from, from_, sizeof from_);
  target->cd = handle_.release();
  target->stamp = ++c.clock;
  target->used = true;
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
