// Owning pointers for blocks from the platform heap. Blocks handed to hosts
// are allocated with malloc/calloc/realloc because hosts release them with
// free; inside the library they are held by these until handed over.
#pragma once

#include <cstdlib>
#include <memory>

namespace dpxut {

struct FreeDeleter {
  void operator()(void* p) const noexcept { std::free(p); }
};

template <typename T = void>
using HeapPtr = std::unique_ptr<T, FreeDeleter>;

// malloc that returns an owning pointer; null on failure, never throws.
template <typename T = unsigned char>
inline HeapPtr<T> heap_alloc(size_t bytes) noexcept {
  return HeapPtr<T>(static_cast<T*>(std::malloc(bytes ? bytes : 1)));
}

}  // namespace dpxut
