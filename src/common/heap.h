// The library's one door to the heap. Every allocation goes through the
// heap_* functions below, which take their blocks from the platform heap:
// blocks handed to hosts are released there with free, and inside the
// library they are held by HeapPtr until handed over.
//
// A test can make one chosen allocation fail (heap_fail_at) and count the
// allocations a call makes (heap_count). Until a test arms the hook an
// allocation costs one relaxed atomic load more than the platform call.
#pragma once

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace dpxut {

namespace heap_detail {
extern std::atomic<bool> watched;
// Counts the allocation; true when it is the one that is to fail.
bool refuse() noexcept;
}  // namespace heap_detail

// True when the allocation about to be made is to fail.
inline bool heap_refuses() noexcept {
  return heap_detail::watched.load(std::memory_order_relaxed) && heap_detail::refuse();
}

inline void* heap_malloc(size_t bytes) noexcept { return heap_refuses() ? nullptr : std::malloc(bytes); }

inline void* heap_calloc(size_t count, size_t size) noexcept {
  return heap_refuses() ? nullptr : std::calloc(count, size);
}

// As realloc: on failure the old block stays as it was.
inline void* heap_realloc(void* block, size_t bytes) noexcept {
  return heap_refuses() ? nullptr : std::realloc(block, bytes);
}

inline char* heap_strdup(const char* s) noexcept { return heap_refuses() ? nullptr : ::strdup(s); }

// Test hook: the n-th allocation from now on fails, once (0: none fails).
void heap_fail_at(unsigned long n) noexcept;
// Allocations made since heap_fail_at was first called.
unsigned long heap_count() noexcept;

struct FreeDeleter {
  void operator()(void* p) const noexcept { std::free(p); }
};

template <typename T = void>
using HeapPtr = std::unique_ptr<T, FreeDeleter>;

// heap_malloc that returns an owning pointer; null on failure, never throws.
template <typename T = unsigned char>
inline HeapPtr<T> heap_alloc(size_t bytes) noexcept {
  return HeapPtr<T>(static_cast<T*>(heap_malloc(bytes ? bytes : 1)));
}

// Standard containers on the same door (the stream layer keeps its strings
// and buffers in them): a refused allocation throws std::bad_alloc, which
// the exported functions catch and report.
template <typename T>
struct HeapAllocator {
  using value_type = T;
  HeapAllocator() noexcept = default;
  template <typename U>
  HeapAllocator(const HeapAllocator<U>&) noexcept {}
  T* allocate(size_t n) {
    if (n > SIZE_MAX / sizeof(T)) throw std::bad_alloc();
    void* p = heap_malloc(n == 0 ? 1 : n * sizeof(T));
    if (p == nullptr) throw std::bad_alloc();
    return static_cast<T*>(p);
  }
  void deallocate(T* p, size_t) noexcept { std::free(p); }
  template <typename U>
  bool operator==(const HeapAllocator<U>&) const noexcept {
    return true;
  }
};

using HeapString = std::basic_string<char, std::char_traits<char>, HeapAllocator<char>>;
using HeapWString = std::basic_string<wchar_t, std::char_traits<wchar_t>, HeapAllocator<wchar_t>>;
template <typename T>
using HeapVector = std::vector<T, HeapAllocator<T>>;

}  // namespace dpxut
