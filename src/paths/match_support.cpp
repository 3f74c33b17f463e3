// Strings walked by the wildcard matchers, and the backtracking memo.
#include "paths/match_support.h"

#include <algorithm>

#include "charset/ascii_path.h"
#include "charset/locale_conv.h"
#include "charset/setup.h"
#include "dpxut.h"

namespace dpxut::paths {

Subject::Subject(const void* s, Stepper how, AsciiVerdict& ascii) noexcept
    : base_(static_cast<const unsigned char*>(s)), how_(how), ascii_(ascii) {
  len_ = how == Stepper::wide ? wide::length(s) * wide::kUnit
                              : std::strlen(static_cast<const char*>(s));
}

namespace {

// The last verdict of this thread with the first 16 bytes of the code set
// name it was given for, a name whose NUL lies among them. Every match
// needs a verdict, and comparing two words costs less than the charset
// layer's own comparison of the whole name.
struct KnownVerdict {
  uint64_t name[2];
  bool known;
  bool single;
};
constinit thread_local KnownVerdict tl_known{};

bool holds_zero_byte(uint64_t w) noexcept {
  return ((w - 0x0101010101010101ull) & ~w & 0x8080808080808080ull) != 0;
}

}  // namespace

bool AsciiVerdict::decide() noexcept {
  if (DPUseMbFunctions != 0) return false;
  // The set-up the first measurement would run; read as the set-up publishes it.
  if (__atomic_load_n(&DPInitICONV, __ATOMIC_ACQUIRE) == 0) charset::ensure_setup();
  if (!charset::fast_paths_on()) return false;  // ascii_transparent's answer then
  uint64_t head, tail;
  std::memcpy(&head, dp_current_codeset, 8);
  std::memcpy(&tail, dp_current_codeset + 8, 8);
  if (!holds_zero_byte(head) && !holds_zero_byte(tail)) return charset::ascii_transparent(dp_current_codeset);
  KnownVerdict& k = tl_known;
  if (k.known && k.name[0] == head && k.name[1] == tail) return k.single;
  k = {{head, tail}, true, charset::ascii_transparent(dp_current_codeset)};
  return k.single;
}

size_t Subject::measure(size_t off) noexcept {
  const auto* p = reinterpret_cast<const char*>(base_ + off);
  ptrdiff_t step;
  if (how_ == Stepper::utf8) {
    step = DPutf8next(p) - p;
  } else {
    step = HVCharType(p);
  }
  // A character never reaches past the terminator: a lead byte whose
  // sequence the NUL cuts short ends at the NUL.
  const size_t left = len_ - off;
  const size_t n = step < 1 ? 1 : std::min(static_cast<size_t>(step), left);
  if (steps_wanted_ && !steps_ready_) {  // the first measurement since remember_steps()
    steps_ready_ = steps_.reserve(len_ + 1, 0);
    if (steps_ready_) std::memset(steps_.data(), 0, len_ + 1);
    steps_wanted_ = steps_ready_;  // without memory, steps are measured again
  }
  if (steps_ready_ && n <= UINT8_MAX) steps_.data()[off] = static_cast<uint8_t>(n);
  return n;
}

bool VisitMemo::init(size_t rows, size_t cols) noexcept {
  if (cols != 0 && rows > SIZE_MAX / cols) return false;
  const size_t words = (rows * cols + 63) / 64;
  if (!bits_.reserve(words, 0)) return false;
  std::memset(bits_.data(), 0, words * sizeof(uint64_t));
  cols_ = cols;
  ready_ = true;
  return true;
}

size_t RunIndex::row_of(size_t offset) noexcept {
  const size_t* begin = offsets_.data();
  return static_cast<size_t>(std::lower_bound(begin, begin + count_, offset) - begin);
}

}  // namespace dpxut::paths
