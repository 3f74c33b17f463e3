// The calling thread's last sizing pass of a locale conversion, with the
// text it produced. Hosts size a conversion and then fill it with the same
// source; the filling pass then copies what the sizing pass wrote instead
// of converting again. A record matches only the same conversion (route
// and mapping), the same server code set (by the key of codeset_ref) and
// the very same source bytes, so what it hands out is what the conversion
// writes. Sources of
// more than kMemoSource bytes and results of more than kMemoOutput bytes
// are not kept.
#pragma once

#include <cstddef>
#include <cstdint>

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

// Starts a record of `kind` in the code set `key` for the `src_bytes` bytes
// at src (terminator included) and gives the area of kMemoOutput bytes the
// sizing pass writes its result into; null when the source is too long or
// the key null. Any previous record is dropped.
unsigned char* memo_begin(MemoKind kind, const void* key, const void* src, size_t src_bytes) noexcept;
// Keeps the record begun last: its result is the first `out_bytes` bytes
// of the area.
void memo_commit(size_t out_bytes) noexcept;
// When the record matches, copies its result into dst (room: cap_bytes),
// provided it fits, and returns true.
bool memo_take(MemoKind kind, const void* key, const void* src, size_t src_bytes, void* dst,
               size_t cap_bytes) noexcept;

}  // namespace dpxut::charset
