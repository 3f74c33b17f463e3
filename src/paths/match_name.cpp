// The name-space aware matcher HVDPMatchName with its workers
// matchNameEnabled (case-sensitive) and matchIName (upper-cased copies):
// whole characters of any encoding, the wildcards * and ?, and a four-way
// result that also tells which side ran out first.
//
// The rules, which stored selections and host programs rely on:
//  - a pattern character equal to the name character is consumed first,
//    so a * or ? facing the same character in the name is a literal;
//  - a * absorbs the *'s and ?'s after it; at the end of the pattern it
//    matches everything;
//  - a * followed by more pattern tries the name positions from the
//    nearest on where the next pattern character appears, and cannot
//    extend over a . in the name unless a try at that . failed;
//  - with `partial`, a try in which the pattern ran out first ends the
//    match with 2.
// A greedy search settles most star patterns in about linear time (see
// NameMatcher::greedy); what it cannot settle is tried with an explicit
// stack and the memo of match_support.h, so the cost stays polynomial and
// the thread's stack small.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwctype>

#include "charset/namespace.h"
#include "common/export.h"
#include "common/le.h"
#include "common/words.h"
#include "dpxut.h"
#include "paths/match_support.h"

namespace dpxut::paths {
namespace {

constexpr int32_t kMatch = 0;
constexpr int32_t kNameEnded = 1;
constexpr int32_t kPatternEnded = 2;
constexpr int32_t kMismatch = -1;
constexpr int32_t kOutOfMemory = static_cast<int32_t>(HVDPUT_OUT_OF_MEMORY);
constexpr size_t kNoRow = SIZE_MAX;
constexpr int32_t kUndecided = INT32_MIN;  // the greedy search leaves the result to the full one

class NameMatcher {
 public:
  NameMatcher(uint32_t ns, const void* pattern, const void* name, bool partial, bool quick) noexcept
      : how_(stepper_for(ns)),
        pat_(pattern, how_, ascii_),
        name_(name, how_, ascii_),
        partial_(partial),
        quick_(quick) {}
  // The same with the byte lengths of both strings known.
  NameMatcher(uint32_t ns, const void* pattern, size_t pattern_len, const void* name, size_t name_len,
              bool partial) noexcept
      : how_(stepper_for(ns)),
        pat_(pattern, pattern_len, how_, ascii_),
        name_(name, name_len, how_, ascii_),
        partial_(partial),
        quick_(true) {}

  int32_t run() noexcept;

 private:
  // Where a walk ended: a final code, or a star run to try.
  struct Outcome {
    bool star;
    int32_t code;
    size_t run;  // offset of the run's first *
    size_t p;    // first pattern character after the run
    size_t n;    // name position the run starts at
  };
  // A star run being tried at name position x.
  struct Frame {
    size_t run;
    size_t row;
    size_t p;
    size_t x;
    bool resumed;  // the try at x went on in a deeper frame, which failed
  };

  // The generic characters *, ?, . are single units in every encoding.
  bool pattern_is(size_t p, uint32_t c) const noexcept { return pat_.unit_at(p) == c; }
  bool name_is(size_t n, uint32_t c) const noexcept { return name_.unit_at(n) == c; }
  bool same_char(size_t p, size_t n) noexcept;
  // ASCII units are characters of their own that compare as units.
  bool ascii_units() noexcept { return pat_.ascii_units() && (how_ != Stepper::utf8 || imp_utf8width == nullptr); }
  size_t skip_plain(size_t p, size_t x) noexcept;
  Outcome walk(size_t p, size_t n) noexcept;
  int32_t greedy(const Outcome& first) noexcept;
  bool holds_unit(size_t from, size_t to, uint32_t a, uint32_t b) const noexcept;
  size_t chars_to_end(size_t p) noexcept;
  bool open(const Outcome& o) noexcept;
  bool start_memo() noexcept;

  Stepper how_;
  AsciiVerdict ascii_;
  Subject pat_;
  Subject name_;
  bool partial_;
  bool quick_;  // the greedy search may settle the match first
  size_t opened_ = 0;
  RunIndex runs_;
  VisitMemo memo_;
  FrameStack<Frame> frames_;
};

// Character equality as the character layer defines it: the bytes of the
// pattern character, as many as its lead byte announces, equal the bytes
// at the name position. A UTF-8 lead byte cut short by the pattern's NUL
// is compared with that NUL, and no further: neither string is read past
// its terminator.
bool NameMatcher::same_char(size_t p, size_t n) noexcept {
  if (how_ == Stepper::wide) return pat_.unit_at(p) == name_.unit_at(n);
  size_t len;
  if (how_ == Stepper::utf8) {
    const uint32_t size = pat_.bytes()[p] < 0x80 && imp_utf8width == nullptr
                              ? 1
                              : DPutf8Size(reinterpret_cast<const char*>(pat_.bytes() + p));
    len = std::min<size_t>(size == 0 ? 1 : size, pat_.length() - p + 1);
  } else {
    len = pat_.next(p) - p;
  }
  // Where the name ends sooner, its NUL faces a pattern byte that is not.
  if (name_.length() - n + 1 < len) return false;
  if (len == 1) return pat_.bytes()[p] == name_.bytes()[n];
  return std::memcmp(pat_.bytes() + p, name_.bytes() + n, len) == 0;
}

// The star loop only steps over name characters that are neither the
// pattern character at p nor a dot. Runs of them are passed here in one
// go where a character is one unit: wide units, or ASCII bytes while the
// pattern character is a single ASCII byte. Returns the first position
// the loop has to look at, or the end of the name.
size_t NameMatcher::skip_plain(size_t p, size_t x) noexcept {
  const size_t end = name_.length();
  if (how_ == Stepper::wide) {
    const uint32_t c = pat_.unit_at(p);
    while (x < end && name_.unit_at(x) != c && name_.unit_at(x) != '.') x += wide::kUnit;
    return x;
  }
  const unsigned char c = pat_.bytes()[p];
  if (c >= 0x80 || !name_.ascii_steps_are_bytes()) return x;
  if (how_ == Stepper::utf8 && imp_utf8width != nullptr) return x;  // compares by the hook's length
  const unsigned char* b = name_.bytes();
  while (x < end && b[x] < 0x80 && b[x] != c && b[x] != '.') ++x;
  return x;
}

NameMatcher::Outcome NameMatcher::walk(size_t p, size_t n) noexcept {
  while (!pat_.at_end(p) && !name_.at_end(n)) {
    if (same_char(p, n)) {
      p = pat_.next(p);
      n = name_.next(n);
    } else if (pattern_is(p, '*')) {
      const size_t run = p;
      p = pat_.next(p);
      while (pattern_is(p, '*') || pattern_is(p, '?')) p = pat_.next(p);
      if (pat_.at_end(p)) return {false, kMatch, 0, 0, 0};
      return {true, 0, run, p, n};
    } else if (pattern_is(p, '?')) {
      p = pat_.next(p);
      n = name_.next(n);
      while (pattern_is(p, '?') && !name_.at_end(n)) {
        p = pat_.next(p);
        n = name_.next(n);
      }
    } else {
      return {false, kMismatch, 0, 0, 0};
    }
  }
  while (pattern_is(p, '*')) p = pat_.next(p);
  if (name_.at_end(n)) return {false, pat_.at_end(p) ? kMatch : kNameEnded, 0, 0, 0};
  return {false, kPatternEnded, 0, 0, 0};
}

// The star loops tried greedily: a try of the newest star run that reaches
// the next run commits to it, and a failed try only moves the newest run
// on; the runs before it are never tried further. Were every star free to
// cover any stretch of the name, that would be exact: each pattern
// character between two runs consumes one name character, so a later try
// of an earlier run reaches the newest run no sooner, and a star that
// starts later reaches no name position that one starting sooner does not;
// and failures cut only subtrees without a result, so the first result
// found is the one the full search finds first. Two rules narrow a star: a
// dot in the name stops it unless the pattern character after it is a dot,
// and a pattern * facing a * in the name is a literal. Names holding a *
// are left to the full search.
//
// Dots stop the stars here as in the full search while every stretch of
// pattern committed to holds neither ? nor dot: its name characters are
// then no dots, so the later run of a commit starts sooner by a stretch
// without dots, which its star covers, and still reaches every position.
// After a commit over a ? or a dot, dots are passed as if they did not
// stop: the search finds every match and maybe more, so a failure is final,
// and a result found without passing such a dot is the full search's too.
int32_t NameMatcher::greedy(const Outcome& first) noexcept {
  // In a name of single units the tries are found by unit, and the dots
  // passed are looked for only when a try succeeds.
  bool name_star;
  const bool units = name_.unit_text_from(first.n, '*', name_star) && ascii_units();
  if (name_star) return kUndecided;
  const size_t len = name_.length();
  size_t p = first.p;     // the pattern after the newest run
  size_t from = first.n;  // where that run started
  bool exact = true;      // dots stop the stars
  bool passed_dot = false;
  size_t dot = 0;          // in units, the first dot from `from` on (or the end),
  bool dot_known = false;  // once looked for
  auto first_dot = [&]() noexcept {
    if (!dot_known || dot < from) dot = name_.find('.', from);
    dot_known = true;
    return dot;
  };
  size_t last_run = 0;  // in units, where the last run may begin
  if (units) {
    for (size_t q = p; !pat_.at_end(q); q += pat_.unit())
      if (pattern_is(q, '*')) last_run = q;
  }
  for (;;) {
    const bool stops = exact && !pattern_is(p, '.');
    const size_t reach = units && stops ? first_dot() : len;  // tries lie before it
    if (units && !partial_ && p > last_run) {
      // The last run: every character after it consumes one unit, so only
      // the try that leaves as many units as there are characters can match.
      const size_t need = chars_to_end(p) * name_.unit();
      if (need > len - from || len - need >= reach) return kMismatch;
      const size_t x = len - need;
      passed_dot = passed_dot || (!pattern_is(p, '.') && first_dot() < x);
      if (walk(p, x).code != kMatch) return kMismatch;
      return passed_dot ? kUndecided : kMatch;
    }
    for (size_t x = from;;) {  // the tries of the newest run
      if (units) {
        x = name_.find(pat_.unit_at(p), x);
        if (x >= reach) return kMismatch;
      } else {
        for (x = skip_plain(p, x); !name_.at_end(x) && !same_char(p, x); x = skip_plain(p, name_.next(x))) {
          if (name_is(x, '.')) {
            if (stops) return kMismatch;
            passed_dot = true;
          }
        }
        if (name_.at_end(x)) return kMismatch;
      }
      const Outcome o = walk(p, x);
      const bool found = !o.star && (o.code == kMatch || (partial_ && o.code == kPatternEnded));
      if (o.star || found) {
        passed_dot = passed_dot || (units && !pattern_is(p, '.') && first_dot() < x);
        if (found) return passed_dot ? kUndecided : o.code;
        exact = exact && !holds_unit(p, o.run, '?', '.');
        p = o.p;
        from = o.n;
        break;
      }
      // Tries are walked again from here on: remember the steps measured.
      pat_.remember_steps();
      name_.remember_steps();
      x = name_.next(x);
    }
  }
}

// Whether a pattern unit from `from` up to `to` is a or b. Units, not
// characters: a byte inside a multibyte character may say yes, which costs
// only a quicker path.
bool NameMatcher::holds_unit(size_t from, size_t to, uint32_t a, uint32_t b) const noexcept {
  for (size_t q = from; q < to; q += pat_.unit()) {
    const uint32_t u = pat_.unit_at(q);
    if (u == a || u == b) return true;
  }
  return false;
}

size_t NameMatcher::chars_to_end(size_t p) noexcept {
  size_t k = 0;
  for (; !pat_.at_end(p); p = pat_.next(p)) ++k;
  return k;
}

// Rows of the memo: every * of the pattern may begin a run (one consumed
// as a literal leaves the next one to begin it), so each gets a row.
bool NameMatcher::start_memo() noexcept {
  for (size_t p = 0; !pat_.at_end(p); p = pat_.next(p)) {
    if (pattern_is(p, '*') && !runs_.add(p)) return false;
  }
  return memo_.init(runs_.size(), name_.length() / name_.unit() + 1);
}

bool NameMatcher::open(const Outcome& o) noexcept {
  // A star re-reads the pattern after it at every name position it tries:
  // its steps are remembered from the first star on. The memo, and the
  // steps of the name, from the second: a star tried once needs neither.
  if (++opened_ == 1) pat_.remember_steps();
  if (opened_ == 2) {
    name_.remember_steps();
    if (!start_memo()) return false;
  }
  const size_t row = memo_.ready() ? runs_.row_of(o.run) : kNoRow;
  return frames_.push({o.run, row, o.p, o.n, false});
}

int32_t NameMatcher::run() noexcept {
  const Outcome first = walk(0, 0);
  if (!first.star) return first.code;
  const int32_t quick = quick_ ? greedy(first) : kUndecided;
  if (quick != kUndecided) return quick;
  if (!open(first)) return kOutOfMemory;
  while (!frames_.empty()) {
    Frame& f = frames_.top();
    if (!f.resumed) {
      if (!memo_.ready()) {
        f.x = skip_plain(f.p, f.x);
        if (name_.at_end(f.x)) {
          frames_.pop();
          continue;
        }
      } else {
        if (f.row == kNoRow) f.row = runs_.row_of(f.run);
        // Tried here before: that try and everything after it failed.
        if (memo_.test_and_set(f.row, f.x / name_.unit())) {
          frames_.pop();
          continue;
        }
      }
      if (same_char(f.p, f.x)) {
        const Outcome o = walk(f.p, f.x);
        if (o.star) {
          f.resumed = true;
          if (!open(o)) return kOutOfMemory;
          continue;
        }
        if (o.code == kMatch) return kMatch;
        if (partial_ && o.code == kPatternEnded) return kPatternEnded;
      } else if (name_is(f.x, '.')) {
        frames_.pop();
        continue;
      }
    }
    f.resumed = false;
    f.x = name_.next(f.x);
    if (name_.at_end(f.x)) frames_.pop();
  }
  return kMismatch;
}

bool case_insensitive(uint32_t ns) noexcept { return ns == 4 || ns == 0x104 || ns == 0x204; }

// Locale text upper-cased as DPstrupr does it, byte by byte through
// toupper; with glibc, through the table its toupper reads, looked up once.
class UpperBytes {
 public:
  UpperBytes() noexcept {
#ifdef __GLIBC__
    upper_ = *__ctype_toupper_loc();
#endif
  }

  // Copies the `size` bytes at `in` upper-cased to out, followed by a NUL;
  // returns the length of the copy, shorter when a byte became NUL. Words
  // are folded whole, the last one overlapping the one before it.
  size_t copy(unsigned char* out, const unsigned char* in, size_t size) const noexcept {
    constexpr uint64_t kOnes = 0x0101010101010101ull, kHigh = 0x8080808080808080ull;
    uint64_t zero = 0;  // a high bit set by a byte mapped to NUL
    const auto fold4 = [&](size_t at) noexcept {
      return uint64_t{map(in[at])} | uint64_t{map(in[at + 1])} << 8 | uint64_t{map(in[at + 2])} << 16 |
             uint64_t{map(in[at + 3])} << 24;
    };
    const auto fold8 = [&](size_t at) noexcept {
      const uint64_t w = fold4(at) | fold4(at + 4) << 32;
      store_le64(out + at, w);
      zero |= (w - kOnes) & ~w & kHigh;
    };
    if (size >= 8) {
      for (size_t i = 0; i + 8 < size; i += 8) fold8(i);
      fold8(size - 8);
    } else if (size >= 4) {
      const uint64_t w = fold4(0) | fold4(size - 4) << 32;
      store_le32(out, static_cast<uint32_t>(w));
      store_le32(out + size - 4, static_cast<uint32_t>(w >> 32));
      zero |= (w - kOnes) & ~w & kHigh;
    } else {
      for (size_t i = 0; i < size; ++i) {
        const uint64_t b = map(in[i]);
        out[i] = static_cast<unsigned char>(b);
        zero |= (b - 1) & ~b & 0x80;
      }
    }
    out[size] = 0;
    return zero != 0 ? std::strlen(reinterpret_cast<const char*>(out)) : size;
  }

 private:
  unsigned map(unsigned char b) const noexcept {
#ifdef __GLIBC__
    return static_cast<unsigned char>(upper_[b]);
#else
    return static_cast<unsigned char>(std::toupper(b));
#endif
  }
#ifdef __GLIBC__
  const int32_t* upper_;
#endif
};

// Both copies lie side by side in one block, which names of ordinary
// length find on the stack.
int32_t match_upper_bytes(uint32_t ns, const unsigned char* pattern, const unsigned char* name,
                          bool partial) noexcept {
  const size_t name_len = std::strlen(reinterpret_cast<const char*>(name));
  const size_t pattern_len = std::strlen(reinterpret_cast<const char*>(pattern));
  SmallBuffer<unsigned char, 512> block;
  if (!block.reserve(name_len + pattern_len + 2, 0)) return kOutOfMemory;
  unsigned char* upper_name = block.data();
  unsigned char* upper_pattern = upper_name + name_len + 1;
  const UpperBytes fold;
  const size_t n = fold.copy(upper_name, name, name_len);
  const size_t p = fold.copy(upper_pattern, pattern, pattern_len);
  NameMatcher matcher(ns, upper_pattern, p, upper_name, n, partial);
  return matcher.run();
}

// towupper of the code points below 0x80, read from the byte table toupper
// uses where the thread's locale agrees with towupper on every one of them
// (checked once per table; a Turkish locale, whose 'i' goes to U+0130,
// does not, and keeps towupper for all). Other code points go to towupper.
class WideUpper {
 public:
  WideUpper() noexcept {
#ifdef __GLIBC__
    thread_local const int32_t* checked = nullptr;
    thread_local bool agrees = false;
    const int32_t* table = *__ctype_toupper_loc();
    if (table != checked) {
      agrees = true;
      for (wint_t c = 0; c < 0x80 && agrees; ++c)
        agrees = table[c] >= 0 && table[c] < 0x80 && std::towupper(c) == static_cast<wint_t>(table[c]);
      checked = table;
    }
    if (agrees) ascii_ = table;
#endif
  }
  bool ascii_known() const noexcept { return ascii_ != nullptr; }
  wint_t operator()(wint_t c) const noexcept {
    return c < 0x80 && ascii_ != nullptr ? static_cast<wint_t>(ascii_[c]) : std::towupper(c);
  }

 private:
  const int32_t* ascii_ = nullptr;
};

// Wide text upper-cased element by element while it is copied, as
// DPuniupr does it in place.
void copy_upper_wide(unsigned char* out, const void* in, size_t units, const WideUpper& up) noexcept {
  const auto* p = static_cast<const unsigned char*>(in);
  for (size_t i = 0; i < units; ++i) {
    uint32_t c;
    std::memcpy(&c, p + i * 4, 4);
    const uint32_t u = static_cast<uint32_t>(up(static_cast<wint_t>(c)));
    std::memcpy(out + i * 4, &u, 4);
  }
}

// Whether the n bytes at p are all ASCII.
bool all_ascii(const void* p, size_t n) noexcept {
  uint64_t high = 0;
  for_each_word(p, n, 0, [&](uint64_t w) { high |= w; });
  return (high & kByteHighs) == 0;
}

// matchIName: the match of upper-cased copies of both strings, made with
// their terminators. Wide copies are upper-cased as they are made, and so
// are UTF-8 ones that are all ASCII where towupper is known there (what
// xutf8upr gives for them) and the host has not hooked the upper-casing;
// other UTF-8 text, which may come back shorter, is left to DPstrupr.
int32_t match_upper_copies(uint32_t ns, const void* pattern, const void* name, bool partial) noexcept {
  if (charset::encoding_of(ns) == charset::Encoding::bytes)
    return match_upper_bytes(ns, static_cast<const unsigned char*>(pattern), static_cast<const unsigned char*>(name),
                             partial);
  const size_t unit = charset::unit_size(ns);
  const size_t name_len = DPstrlen(ns, name), pattern_len = DPstrlen(ns, pattern);  // bytes
  const size_t name_size = name_len + unit;  // with the terminator
  const size_t pattern_size = pattern_len + unit;
  SmallBuffer<uint32_t, 128> block;  // 4-byte units keep wide copies aligned
  if (!block.reserve((name_size + pattern_size + 3) / 4, 0)) return kOutOfMemory;
  auto* upper_name = reinterpret_cast<unsigned char*>(block.data());
  unsigned char* upper_pattern = upper_name + name_size;
  const WideUpper up;
  if (unit == 4) {
    copy_upper_wide(upper_name, name, name_size / 4, up);
    copy_upper_wide(upper_pattern, pattern, pattern_size / 4, up);
  } else if (up.ascii_known() && __atomic_load_n(&imp_utf8upr, __ATOMIC_RELAXED) == nullptr &&
             all_ascii(name, name_len) && all_ascii(pattern, pattern_len)) {
    const UpperBytes fold;  // the byte table agrees with towupper on ASCII here
    fold.copy(upper_name, static_cast<const unsigned char*>(name), name_len);
    fold.copy(upper_pattern, static_cast<const unsigned char*>(pattern), pattern_len);
  } else {
    std::memcpy(upper_name, name, name_size);
    std::memcpy(upper_pattern, pattern, pattern_size);
    DPstrupr(ns, upper_name);
    DPstrupr(ns, upper_pattern);
    NameMatcher matcher(ns, upper_pattern, upper_name, partial, true);
    return matcher.run();
  }
  NameMatcher matcher(ns, upper_pattern, pattern_len, upper_name, name_len, partial);
  return matcher.run();
}

}  // namespace

int32_t match_name_fully(uint32_t ns, const void* pattern, const void* name, int16_t partial) noexcept {
  NameMatcher matcher(ns, pattern, name, partial != 0, false);
  return matcher.run();
}

}  // namespace dpxut::paths

using namespace dpxut::paths;

DPXUT_EXPORT int32_t matchNameEnabled(uint32_t nameSpace, const void* pattern, const void* name,
                                      int16_t partial) {
  if (pattern == nullptr || name == nullptr) return kMismatch;
  NameMatcher matcher(nameSpace, pattern, name, partial != 0, true);
  return matcher.run();
}

DPXUT_EXPORT int32_t matchIName(uint32_t nameSpace, const void* pattern, const void* name,
                                int16_t partial) {
  if (pattern == nullptr || name == nullptr) return kMismatch;
  return match_upper_copies(nameSpace, pattern, name, partial != 0);
}

DPXUT_EXPORT int32_t HVDPMatchName(uint32_t nameSpace, const void* pattern, const void* name,
                                   int16_t partial) {
  if (case_insensitive(nameSpace)) return matchIName(nameSpace, pattern, name, partial);
  return matchNameEnabled(nameSpace, pattern, name, partial);
}
