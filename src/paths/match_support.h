// What both wildcard matchers (match_name.cpp, wildcard.cpp) stand on: the
// string being walked with its character stepper, a small-or-heap buffer,
// and the memo that keeps star backtracking polynomial.
//
// Why a memo: every star tries many name positions and each try re-enters
// the matcher, so a pattern like a*a*a*a*b costs exponential time against
// a long run of a's if tries are simply repeated. Both matchers are pure
// functions of (pattern position, name position), and the only results
// that end a star's loop early also end the whole match, so a star run
// tried at a name position once and given up there can be given up at
// once the next time. The memo keeps one bit per (star run, name position).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <type_traits>

#include "charset/namespace.h"
#include "common/heap.h"
#include "common/wide.h"
#include "common/words.h"
#include "dpxut.h"

namespace dpxut::paths {

// How a string is stepped from character to character.
enum class Stepper : uint8_t {
  locale,  // HVCharType in the server code set
  utf8,    // DPutf8next (follows the host's hook)
  wide,    // 4-byte units
};

// The stepper of a name space's encoding.
inline Stepper stepper_for(uint32_t ns) noexcept {
  switch (charset::encoding_of(ns)) {
    case charset::Encoding::wide:
      return Stepper::wide;
    case charset::Encoding::utf8:
      return Stepper::utf8;
    default:
      return Stepper::locale;
  }
}

// Storage of N elements inside the object, moving to the heap when more is
// asked for. Elements are trivially copyable; nothing throws.
template <typename T, size_t N>
class SmallBuffer {
  static_assert(std::is_trivially_copyable_v<T>);

 public:
  SmallBuffer() = default;
  SmallBuffer(const SmallBuffer&) = delete;
  SmallBuffer& operator=(const SmallBuffer&) = delete;
  ~SmallBuffer() {
    if (data_ != inline_) std::free(data_);
  }

  T* data() noexcept { return data_; }
  const T* data() const noexcept { return data_; }
  size_t capacity() const noexcept { return capacity_; }

  // Room for n elements, keeping the first `keep` ones; false when out of
  // memory (the buffer is then unchanged).
  bool reserve(size_t n, size_t keep) noexcept {
    if (n <= capacity_) return true;
    if (n > SIZE_MAX / sizeof(T)) return false;
    T* fresh = static_cast<T*>(heap_malloc(n * sizeof(T)));
    if (fresh == nullptr) return false;
    if (keep != 0) std::memcpy(fresh, data_, keep * sizeof(T));
    if (data_ != inline_) std::free(data_);
    data_ = fresh;
    capacity_ = n;
    return true;
  }

 private:
  T inline_[N];
  T* data_ = inline_;
  size_t capacity_ = N;
};

// Whether the ASCII bytes of locale text are one-byte characters that need
// no measuring: true in a server code set that maps every ASCII byte to
// itself alone (as iconv itself confirms), where HVCharType measures any
// ASCII byte as 1 whatever follows it, since its first trial conversion,
// of that byte alone, succeeds. With DPUseMbFunctions set, mblen decides
// as always. Found out once per match, at the first measurement.
class AsciiVerdict {
 public:
  bool single() noexcept {
    if (state_ == State::unknown) state_ = decide() ? State::single : State::measured;
    return state_ == State::single;
  }

 private:
  enum class State : uint8_t { unknown, single, measured };
  static bool decide() noexcept;
  State state_ = State::unknown;
};

// A NUL-terminated string of one encoding, measured once. Positions are
// byte offsets; `len` is the offset of the terminator. Steps never pass the
// terminator, whatever a character's lead byte announces. Once backtracking
// starts, each measured step is remembered, so that retries do not measure
// the same character again.
class Subject {
 public:
  Subject(const void* s, Stepper how, AsciiVerdict& ascii) noexcept;
  // The same string whose terminator the caller has found at byte `len`.
  Subject(const void* s, size_t len, Stepper how, AsciiVerdict& ascii) noexcept
      : base_(static_cast<const unsigned char*>(s)), len_(len), how_(how), ascii_(ascii) {}

  const unsigned char* bytes() const noexcept { return base_; }
  size_t length() const noexcept { return len_; }
  size_t unit() const noexcept { return how_ == Stepper::wide ? wide::kUnit : 1; }
  bool at_end(size_t off) const noexcept { return off >= len_; }

  // The character unit at off: the byte, or the 32-bit wide unit; 0 at the
  // terminator.
  uint32_t unit_at(size_t off) const noexcept {
    if (off >= len_) return 0;
    if (how_ == Stepper::wide) return static_cast<uint32_t>(wide::load(base_ + off));
    return base_[off];
  }

  // Offset of the character after the one at off (off < length()).
  size_t next(size_t off) noexcept {
    if (how_ == Stepper::wide) return off + wide::kUnit;
    if (base_[off] < 0x80 && ascii_steps_are_bytes()) return off + 1;
    if (steps_ready_) {
      const uint8_t known = steps_.data()[off];
      if (known != 0) return off + known;
    }
    return off + measure(off);
  }

  // True when every ASCII byte of this string is a character of its own,
  // so that steps over ASCII need no measuring: in UTF-8 unless the host
  // hooked the stepping, in locale text when the code set says so.
  bool ascii_steps_are_bytes() noexcept {
    if (how_ == Stepper::utf8) return imp_utf8next == nullptr;
    return how_ == Stepper::locale && ascii_.single();
  }

  // True when each unit below 0x80 is a character of its own.
  bool ascii_units() noexcept { return how_ == Stepper::wide || ascii_steps_are_bytes(); }

  // Asks for measured steps to be remembered from now on. The table is made
  // at the first measurement, so text that needs none costs nothing; a
  // failed allocation only means no memory.
  void remember_steps() noexcept { steps_wanted_ = true; }

  // True when the text from `from` on is wide, or ASCII bytes: then, where
  // ascii_units(), every character there is one unit. `holds_u` tells
  // whether the unit u appears there, looked for in the same pass.
  bool unit_text_from(size_t from, uint32_t u, bool& holds_u) const noexcept {
    if (how_ == Stepper::wide) {
      holds_u = find(u, from) != len_;
      return true;
    }
    // A word at a time, so that short names take no loop of single bytes;
    // the shortest are padded with an ASCII byte other than u.
    const size_t n = from < len_ ? len_ - from : 0;
    const uint64_t sought = kByteOnes * (u & 0xFF);
    uint64_t any = 0, hit = 0;
    for_each_word(base_ + from, n, kByteOnes * ((u & 0x7F) ^ 1), [&](uint64_t w) {
      any |= w;
      hit |= zero_byte_bits(w ^ sought);
    });
    holds_u = hit != 0;
    return (any & kByteHighs) == 0;
  }

  // Offset of the first unit u at a unit offset from `from` (at most
  // length()) on, or length() when there is none.
  size_t find(uint32_t u, size_t from) const noexcept {
    if (how_ != Stepper::wide) {
      const void* hit = std::memchr(base_ + from, static_cast<int>(u), len_ - from);
      return hit != nullptr ? static_cast<size_t>(static_cast<const unsigned char*>(hit) - base_) : len_;
    }
    while (from < len_ && unit_at(from) != u) from += wide::kUnit;
    return from;
  }

 private:
  size_t measure(size_t off) noexcept;

  const unsigned char* base_;
  size_t len_;
  Stepper how_;
  AsciiVerdict& ascii_;
  bool steps_wanted_ = false;
  bool steps_ready_ = false;
  SmallBuffer<uint8_t, 256> steps_;  // step length per offset, 0 = unknown
};

// Bits per (star run, name position): set when the run's star loop has
// tried that position. Rows are the star runs of one pattern, found by a
// scan of the pattern when backtracking first starts.
class VisitMemo {
 public:
  // Room for rows x cols bits, all clear; false when out of memory.
  bool init(size_t rows, size_t cols) noexcept;
  bool ready() const noexcept { return ready_; }

  // Sets the bit and tells whether it was set before.
  bool test_and_set(size_t row, size_t col) noexcept {
    const size_t bit = row * cols_ + col;
    uint64_t& word = bits_.data()[bit / 64];
    const uint64_t mask = uint64_t{1} << (bit % 64);
    const bool was = (word & mask) != 0;
    word |= mask;
    return was;
  }
  bool test(size_t row, size_t col) const noexcept {
    const size_t bit = row * cols_ + col;
    return (bits_.data()[bit / 64] >> (bit % 64)) & 1;
  }

 private:
  SmallBuffer<uint64_t, 128> bits_;  // 8192 bits inline
  size_t cols_ = 0;
  bool ready_ = false;
};

// The sorted pattern offsets at which star runs begin, and the row of the
// memo that belongs to each.
class RunIndex {
 public:
  bool add(size_t offset) noexcept {
    if (!offsets_.reserve(count_ + 1 > offsets_.capacity() ? 2 * count_ + 1 : count_ + 1, count_))
      return false;
    offsets_.data()[count_++] = offset;
    return true;
  }
  size_t size() const noexcept { return count_; }
  // Row of the run beginning at offset (which the scan has listed).
  size_t row_of(size_t offset) noexcept;

 private:
  SmallBuffer<size_t, 32> offsets_;
  size_t count_ = 0;
};

// A stack of backtracking frames, one per star run being tried; its depth
// is at most the number of star runs, so it lives on the heap for patterns
// with many stars instead of on the thread's stack.
template <typename Frame>
class FrameStack {
 public:
  bool empty() const noexcept { return size_ == 0; }
  Frame& top() noexcept { return frames_.data()[size_ - 1]; }
  bool push(const Frame& f) noexcept {
    if (size_ == frames_.capacity() && !frames_.reserve(2 * size_, size_)) return false;
    frames_.data()[size_++] = f;
    return true;
  }
  void pop() noexcept { --size_; }

 private:
  SmallBuffer<Frame, 16> frames_;
  size_t size_ = 0;
};

// matchNameEnabled, HVDPWildMatch and HVDPGenericWildMatch with the full
// search alone, which their quicker paths must agree with.
int32_t match_name_fully(uint32_t ns, const void* pattern, const void* name, int16_t partial) noexcept;
int32_t wild_match_fully(const char* pattern, const char* name) noexcept;
int32_t generic_wild_match_fully(uint32_t ns, const void* pattern, const void* name) noexcept;

// HVDPGenericIsWild over the characters of s that begin before byte offset
// `limit`, for callers that must not cut the string there.
bool generic_is_wild_before(uint32_t ns, const void* s, size_t limit) noexcept;

}  // namespace dpxut::paths
