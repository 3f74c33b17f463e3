// The per-thread record of conv_memo.h. Plain zero-initialised data, so it
// needs no construction and stays valid through thread exit.
#include "charset/conv_memo.h"

#include <cstring>


namespace dpxut::charset {
namespace {

struct Memo {
  MemoKind kind;    // kNone: no record
  const void* key;  // the code set
  size_t src_bytes;
  size_t out_bytes;  // SIZE_MAX until committed
  unsigned char src[kMemoSource];
  unsigned char out[kMemoOutput];
};
constinit thread_local Memo tl_memo{};

}  // namespace

unsigned char* memo_begin(MemoKind kind, const void* key, const void* src, size_t src_bytes) noexcept {
  Memo& m = tl_memo;
  m.kind = MemoKind::kNone;
  if (src_bytes > kMemoSource || key == nullptr) return nullptr;
  std::memcpy(m.src, src, src_bytes);
  m.src_bytes = src_bytes;
  m.key = key;
  m.kind = kind;
  m.out_bytes = SIZE_MAX;
  return m.out;
}

void memo_commit(size_t out_bytes) noexcept {
  Memo& m = tl_memo;
  if (m.kind != MemoKind::kNone && out_bytes <= kMemoOutput) m.out_bytes = out_bytes;
}

bool memo_take(MemoKind kind, const void* key, const void* src, size_t src_bytes, void* dst,
               size_t cap_bytes) noexcept {
  const Memo& m = tl_memo;
  if (m.kind != kind || m.key != key || key == nullptr || m.src_bytes != src_bytes || m.out_bytes > kMemoOutput ||
      m.out_bytes > cap_bytes || std::memcmp(m.src, src, src_bytes) != 0) {
    return false;
  }
  std::memcpy(dst, m.out, m.out_bytes);
  return true;
}

}  // namespace dpxut::charset
