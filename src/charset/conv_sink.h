// Building blocks shared by the locale conversion passes: a leased iconv
// descriptor between the server code set and UTF-8 or wide text, and the
// two sinks a conversion writes into. Each conversion is written once as a
// walk over its source that feeds a sink; the sizing pass runs it with the
// counting sink and the filling pass with the buffer sink, so the size
// reported is by construction the number of units the filling pass writes.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "charset/codeset_table.h"
#include "charset/conv_memo.h"
#include "charset/locale_conv.h"
#include "charset/setup.h"
#include "common/iconv_cache.h"
#include "dpxut.h"

namespace dpxut::charset {

// The four conversions of the server code set, named as iconv_open wants.
enum class Route { kLocaleToUtf8, kUtf8ToLocale, kLocaleToWide, kWideToLocale };

// A descriptor for one route on the calling thread, in the initial shift
// state. Invalid when the code set is empty, not NUL-terminated within its
// 128 bytes, or refused by iconv_open (an empty name would otherwise make
// iconv take the locale's own code set). The lease copies the name, so the
// exported array is handed over as it stands, after the terminator check.
class RouteLease {
 public:
  explicit RouteLease(Route r) noexcept
      : codeset_(usable_codeset()),
        lease_(codeset_ != nullptr ? to_name(r) : nullptr, codeset_ != nullptr ? from_name(r) : nullptr) {}

  explicit operator bool() const noexcept { return static_cast<bool>(lease_); }
  IconvLease& get() noexcept { return lease_; }

 private:
  static const char* usable_codeset() noexcept {
    const bool terminated = std::memchr(dp_current_codeset, '\0', kCodeSetSize) != nullptr;
    return terminated && dp_current_codeset[0] != '\0' ? dp_current_codeset : nullptr;
  }
  const char* to_name(Route r) const noexcept {
    switch (r) {
      case Route::kLocaleToUtf8: return "UTF-8";
      case Route::kLocaleToWide: return "WCHAR_T";
      default: return codeset_;
    }
  }
  const char* from_name(Route r) const noexcept {
    switch (r) {
      case Route::kUtf8ToLocale: return "UTF-8";
      case Route::kWideToLocale: return "WCHAR_T";
      default: return codeset_;
    }
  }

  const char* codeset_;
  IconvLease lease_;
};

// How one step of a walk ended.
enum class Step {
  kDone,           // the input given was consumed
  kOverflow,       // the destination is full
  kInvalid,        // the pass fails with HVDPUT_INVALID_PARAMETER
  kUnconvertible,  // iconv met a character it cannot convert (EILSEQ/EINVAL);
                   // the input stops at it and the walk decides
};

constexpr uint32_t step_code(Step s) noexcept {
  switch (s) {
    case Step::kDone: return HVDPUT_SUCCESS;
    case Step::kOverflow: return HVDPUT_OVERFLOW;
    default: return HVDPUT_INVALID_PARAMETER;
  }
}

inline Step failure_step(int err) noexcept {
  return err == EILSEQ || err == EINVAL ? Step::kUnconvertible : Step::kInvalid;
}

// Counts the bytes a conversion produces. iconv writes into a fixed scratch
// area on the stack that is emptied (and counted) whenever it fills, so a
// string of any length is sized without allocation.
template <size_t N>
class CountingSink {
 public:
  // Converts all of the input; in == null asks iconv for the bytes that
  // return the output to the initial shift state.
  Step convert(IconvLease& cd, const char** in, size_t* in_left) noexcept {
    for (;;) {
      if (cd.convert(in, in_left, &out_, &left_) != kIconvFailed) return Step::kDone;
      const int err = errno;
      if (err != E2BIG) return failure_step(err);
      const size_t produced = N - left_;
      if (produced == 0) return Step::kInvalid;  // no progress into an empty area
      total_ += produced;
      out_ = area_;
      left_ = N;
    }
  }
  Step put(const void*, size_t n) noexcept {
    total_ += n;
    return Step::kDone;
  }
  // Bytes produced so far.
  size_t total() const noexcept { return total_ + (N - left_); }

 private:
  char area_[N];  // written by iconv, never read
  char* out_ = area_;
  size_t left_ = N;
  size_t total_ = 0;
};

// Writes into the caller's destination and never past its capacity.
class BufferSink {
 public:
  BufferSink(void* dst, size_t capacity_bytes) noexcept
      : out_(static_cast<char*>(dst)), left_(capacity_bytes), capacity_(capacity_bytes) {}

  // glibc's converters ask for room for their longest character before
  // they know what the next one becomes (a character they drop, such as a
  // Unicode tag character, needs none), so E2BIG near the end of the
  // destination does not prove that the rest cannot fit. The rest then goes
  // through a bounce area and is copied as far as it really fits: the
  // filling pass writes exactly what the counting sink counted.
  Step convert(IconvLease& cd, const char** in, size_t* in_left) noexcept {
    if (cd.convert(in, in_left, &out_, &left_) != kIconvFailed) return Step::kDone;
    if (errno != E2BIG) return failure_step(errno);
    for (;;) {
      char bounce[64];
      char* b = bounce;
      size_t b_left = sizeof bounce;
      const size_t r = cd.convert(in, in_left, &b, &b_left);
      const int err = errno;
      const Step s = put(bounce, static_cast<size_t>(b - bounce));
      if (s != Step::kDone) return s;
      if (r != kIconvFailed) return Step::kDone;
      if (err != E2BIG) return failure_step(err);
      if (b == bounce) return Step::kInvalid;  // no progress into an empty area
    }
  }
  Step put(const void* bytes, size_t n) noexcept {
    if (n > left_) return Step::kOverflow;
    std::memcpy(out_, bytes, n);
    out_ += n;
    left_ -= n;
    return Step::kDone;
  }
  // Bytes written so far.
  size_t written() const noexcept { return capacity_ - left_; }

 private:
  char* out_;
  size_t left_;
  size_t capacity_;
};

// Converts a whole NUL-terminated string, terminator included, in one go.
// A character that cannot be converted fails the conversion.
template <class Sink>
Step convert_whole(IconvLease& cd, const char* src, size_t len, Sink& sink) noexcept {
  const char* in = src;
  size_t in_left = len + 1;
  const Step s = sink.convert(cd, &in, &in_left);
  return s == Step::kUnconvertible ? Step::kInvalid : s;
}

// Results of a walk: a sizing pass reports what its sink counted, a
// filling pass its capacity.
inline PassResult counted(Step s, size_t total) noexcept {
  return s == Step::kDone ? PassResult{HVDPUT_SUCCESS, total} : PassResult{step_code(s), 0};
}
inline PassResult filled(Step s, size_t capacity) noexcept { return counted(s, capacity); }

// How a filling walk ended, and the units (bytes, or wide characters) it
// wrote.
struct Filled {
  Step step;
  size_t units;
};

// A table walk that did not fall back, as a filling walk or as a sizing
// pass.
inline Filled table_filled(TableResult r) noexcept {
  switch (r.step) {
    case TableStep::kDone: return {Step::kDone, r.units};
    case TableStep::kOverflow: return {Step::kOverflow, 0};
    default: return {Step::kInvalid, 0};
  }
}
inline PassResult table_counted(TableResult r) noexcept {
  const Filled f = table_filled(r);
  return counted(f.step, f.units);
}

// A sizing pass that keeps its result for the filling pass (conv_memo.h):
// fill(area, units) converts into the record's area, count() sizes without
// keeping anything, for text too long to keep. The record's area filled
// without overflow holds the whole result, so its size is the size, and a
// failure before the area overflows is the failure counting meets.
template <class Fill, class Count>
PassResult size_and_keep(MemoKind kind, const void* key, const void* src, size_t src_bytes, size_t unit, Fill fill,
                         Count count) noexcept {
  Memo& m = thread_memo();
  if (unsigned char* area = memo_begin(m, kind, key, src, src_bytes)) {
    const Filled f = fill(area, kMemoOutput / unit);
    if (f.step == Step::kDone) {
      memo_commit(m, f.units * unit);
      return {HVDPUT_SUCCESS, f.units};
    }
    if (f.step != Step::kOverflow) return {step_code(f.step), 0};
  }
  return count();
}

// True when text made only of ASCII converts by copying in the code set
// cs stands for (the name in dp_current_codeset): its tables say so where
// it has them, and iconv decides once per thread otherwise.
inline bool ascii_copies(CodesetRef cs) noexcept {
  return cs.table != nullptr ? cs.table->ascii_identity : ascii_transparent(dp_current_codeset);
}

// Byte capacity of a wide destination of `units` wide characters, kept
// whole units and clear of size_t wrap-around.
inline size_t wide_bytes(size_t units) noexcept {
  constexpr size_t kMaxUnits = SIZE_MAX / sizeof(wchar_t);
  return (units < kMaxUnits ? units : kMaxUnits) * sizeof(wchar_t);
}

// Area sizes of the sizing passes: 2048 bytes for byte output, 8192 for
// wide output.
inline constexpr size_t kByteScratch = 2048;
inline constexpr size_t kWideScratch = 8192;

}  // namespace dpxut::charset
