// The calling thread's last sizing pass of a locale conversion, with the
// text it produced. Hosts size a conversion and then fill it with the same
// source; the filling pass then copies what the sizing pass wrote instead
// of converting again. A record matches only the same conversion (route
// and mapping), the same server code set (by the key of codeset_ref) and
// the very same source bytes, so what it hands out is what the conversion
// writes. Sources of more than kMemoSource bytes and results of more than
// kMemoOutput bytes are not kept.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace dpxut::charset {

enum class MemoKind : uint8_t {
  kNone,
  kUtf8ToLocale,
  kLocaleToUtf8,
  kWideToLocale,
  kWideToLocaleMap,
  kLocaleToWide,
  kLocaleToWideMap,
};

inline constexpr size_t kMemoSource = 2048;  // 511 wide characters and the terminator
inline constexpr size_t kMemoOutput = 2048;

// Plain zero-initialised data, so it needs no construction and stays valid
// through thread exit.
struct Memo {
  MemoKind kind;    // kNone: no record
  const void* key;  // the code set
  size_t src_bytes;
  size_t out_bytes;  // SIZE_MAX until committed
  unsigned char src[kMemoSource];
  unsigned char out[kMemoOutput];
};

// The calling thread's record. A pass asks once: in the shared library
// every mention of a thread-local costs a call.
Memo& thread_memo() noexcept;

// Starts a record of `kind` in the code set `key` for the `src_bytes` bytes
// at src (terminator included) and gives the area of kMemoOutput bytes the
// sizing pass writes its result into; null when the source is too long or
// the key null. Any previous record is dropped.
inline unsigned char* memo_begin(Memo& m, MemoKind kind, const void* key, const void* src,
                                 size_t src_bytes) noexcept {
  m.kind = MemoKind::kNone;
  if (src_bytes > kMemoSource || key == nullptr) return nullptr;
  std::memcpy(m.src, src, src_bytes);
  m.src_bytes = src_bytes;
  m.key = key;
  m.kind = kind;
  m.out_bytes = SIZE_MAX;
  return m.out;
}

// Keeps the record begun last: its result is the first `out_bytes` bytes
// of the area.
inline void memo_commit(Memo& m, size_t out_bytes) noexcept {
  if (m.kind != MemoKind::kNone && out_bytes <= kMemoOutput) m.out_bytes = out_bytes;
}

// When the record matches, copies its result into dst (room: cap_bytes),
// provided it fits, and returns true.
inline bool memo_take(const Memo& m, MemoKind kind, const void* key, const void* src, size_t src_bytes,
                      void* dst, size_t cap_bytes) noexcept {
  if (m.kind != kind || m.key != key || key == nullptr || m.src_bytes != src_bytes || m.out_bytes > kMemoOutput ||
      m.out_bytes > cap_bytes || std::memcmp(m.src, src, src_bytes) != 0) {
    return false;
  }
  std::memcpy(dst, m.out, m.out_bytes);
  return true;
}

}  // namespace dpxut::charset
