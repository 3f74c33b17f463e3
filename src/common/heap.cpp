// State of the heap's failure hook (see common/heap.h).
#include "common/heap.h"

namespace dpxut {
namespace heap_detail {

std::atomic<bool> watched{false};

namespace {
std::atomic<unsigned long> g_count{0};
std::atomic<unsigned long> g_fail_at{0};  // number of the allocation to fail; 0: none
}  // namespace

bool refuse() noexcept {
  unsigned long number = g_count.fetch_add(1, std::memory_order_relaxed) + 1;
  // Only the thread whose allocation carries the number clears it.
  return g_fail_at.compare_exchange_strong(number, 0, std::memory_order_relaxed);
}

}  // namespace heap_detail

void heap_fail_at(unsigned long n) noexcept {
  heap_detail::watched.store(true, std::memory_order_relaxed);
  heap_detail::g_fail_at.store(n == 0 ? 0 : heap_count() + n, std::memory_order_relaxed);
}

unsigned long heap_count() noexcept { return heap_detail::g_count.load(std::memory_order_relaxed); }

}  // namespace dpxut
