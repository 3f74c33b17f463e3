// The byte-level matcher HVDPWildMatch, its name-space front
// HVDPGenericWildMatch, and the wildcard tests HVDPIsWild and
// HVDPGenericIsWild.
//
// The byte-level rules compare only the low seven bits of the first byte of
// each character, so the enhanced bytes 0xAA, 0xBF and 0xAE read as *, ?
// and . and carry rules of their own:
//   0xAA  a star that does not pass a . in the name;
//   0xBF  one character, or none at the end of the name or before a .;
//   0xAE  a ., or the end of the name.
// A star tries name byte offsets from the farthest candidate down to the
// nearest; only offsets whose byte can begin the rest of the pattern are
// tried. Since a match is a yes or no, the order of the tries is free: a
// greedy search (WildEngine::greedy) settles most patterns in about linear
// time, a one-pass test of the pattern's literals rejects many of the rest,
// and a memoised search decides what remains. The end of a string is its
// NUL alone: a byte 0x80, whose low seven bits are zero, is a character
// like any other and never ends a string.
#include <cstdint>

#include "common/export.h"
#include "dpxut.h"
#include "paths/match_support.h"

namespace dpxut::paths {
namespace {

constexpr uint32_t kHighBit = 0x80;
constexpr uint32_t kEnhancedQuestion = 0xBF;
constexpr uint32_t kEnhancedDot = 0xAE;

// A character as the byte-level rules see it: the first byte (or the wide
// unit) without bit 7.
constexpr uint32_t low7(uint32_t unit) noexcept { return unit & ~kHighBit; }

// Which name offsets a star tries: those whose character can begin the
// rest of the pattern. Every other try would fail at its first comparison,
// so leaving it out changes no result: after the star stands
//   ? (plain or 0xBF)  anything;
//   0xAE               a . (seven bits) or the end of the name;
//   anything else c    a character equal to c in seven bits.
class StarTarget {
 public:
  StarTarget() = default;
  explicit StarTarget(uint32_t c) noexcept
      : q_(low7(c)), kind_(low7(c) == '?' ? Kind::any : c == kEnhancedDot ? Kind::dot_or_end : Kind::equal) {}
  // The byte an ASCII name byte must be to be admitted, where one must.
  bool sought(uint32_t& b) const noexcept {
    b = kind_ == Kind::dot_or_end ? '.' : q_;
    return kind_ != Kind::any;
  }
  bool admits(uint32_t a) const noexcept {
    switch (kind_) {
      case Kind::any:
        return true;
      case Kind::dot_or_end:
        return a == 0 || low7(a) == '.';
      case Kind::equal:
        break;
    }
    return low7(a) == q_;
  }

 private:
  enum class Kind : uint8_t { any, dot_or_end, equal };
  uint32_t q_ = 0;
  Kind kind_ = Kind::any;
};

// The byte-level matcher over the bytes of a string in the server code set
// (stepped by HVCharType), or over the units of a wide string. One engine
// serves any number of tries of one pattern against one name at different
// starting offsets, sharing its memo between them.
class WildEngine {
 public:
  // What settle() returns when only the full search can tell.
  static constexpr int kUndecided = -2;

  WildEngine(const void* pattern, const void* name, Stepper how, AsciiVerdict& ascii) noexcept
      : pat_(pattern, how, ascii), name_(name, how, ascii) {}

  // 1 when the whole pattern matches the whole name, else 0; with or
  // without what settle() tells before the full search.
  int match(bool quick) noexcept;

  // 1 when the whole pattern matches the name from byte offset n on, 0 when
  // not, -1 when the memo could not be allocated; the full search.
  int match_from(size_t n) noexcept { return search(walk(0, n)); }

  // Whether a star run standing before the pattern offset p, with the
  // name at offset n, lets the rest match at some offset its target admits,
  // as far as can be told before the full search: 1 or 0, or kUndecided.
  int settle(size_t p, size_t n, bool plain) noexcept;

 private:
  struct Outcome {
    bool star;
    bool matched;
    size_t run;  // offset of the run's first star
    size_t p;    // pattern after the run
    size_t n;
    bool plain;  // the run holds a plain * (0x2A), which may pass dots
  };
  // A star run trying the name offsets lo..i, from i down.
  struct Frame {
    size_t run;
    size_t row;
    size_t p;
    size_t lo;
    size_t i;
    StarTarget target;
    bool resumed;  // the try at i went on in a deeper frame, which failed
  };
  enum class Opened { pushed, failed, out_of_memory };

  Outcome walk(size_t p, size_t n) noexcept;
  void pass_same_ascii(size_t& p, size_t& n) const noexcept;
  int greedy(size_t p, size_t n, bool plain) noexcept;
  bool literals_fit(size_t p, size_t n) noexcept;
  size_t next_try(const StarTarget& target, size_t x, bool ascii) const noexcept;
  int search(const Outcome& first) noexcept;
  Opened open(const Outcome& o) noexcept;
  bool start_memo() noexcept;
  size_t row_of(Frame& f) noexcept;

  Subject pat_;
  Subject name_;
  size_t opened_ = 0;
  RunIndex runs_;
  VisitMemo memo_;
  FrameStack<Frame> frames_;
};

WildEngine::Outcome WildEngine::walk(size_t p, size_t n) noexcept {
  for (;;) {
    const uint32_t c = pat_.unit_at(p);
    const uint32_t a = name_.unit_at(n);
    if (low7(c) == '*') {
      const size_t run = p;
      bool plain = false;
      while (low7(pat_.unit_at(p)) == '*') {
        plain = plain || pat_.unit_at(p) == '*';
        p = pat_.next(p);
      }
      return {true, false, run, p, n, plain};
    }
    if (low7(c) == '?') {
      if (c == kEnhancedQuestion && (a == 0 || low7(a) == '.')) {
        p = pat_.next(p);
        continue;
      }
      if (a == 0) return {};
    } else if (c == kEnhancedDot && a == 0) {
      p = pat_.next(p);
      continue;
    } else {
      if (low7(c) != low7(a)) return {};
      if (c == 0 || a == 0) return {false, c == a, 0, 0, 0, false};
    }
    p = pat_.next(p);
    n = name_.next(n);
    if (pat_.ascii_units()) pass_same_ascii(p, n);
  }
}

// Passes the run of literal ASCII characters that both strings hold alike
// from p and n on, where each such unit is a character of its own.
void WildEngine::pass_same_ascii(size_t& p, size_t& n) const noexcept {
  for (uint32_t c = pat_.unit_at(p); c != 0 && c < 0x80 && c != '*' && c != '?' && c == name_.unit_at(n);
       c = pat_.unit_at(p)) {
    p += pat_.unit();
    n += name_.unit();
  }
}

// Rows of the memo: the first star of each run of stars.
bool WildEngine::start_memo() noexcept {
  bool in_run = false;
  for (size_t p = 0; !pat_.at_end(p); p = pat_.next(p)) {
    const bool star = low7(pat_.unit_at(p)) == '*';
    if (star && !in_run && !runs_.add(p)) return false;
    in_run = star;
  }
  return memo_.init(runs_.size(), name_.length() / name_.unit() + 1);
}

size_t WildEngine::row_of(Frame& f) noexcept {
  if (f.row == SIZE_MAX) f.row = runs_.row_of(f.run);
  return f.row;
}

// Sets up the tries of a star run at name offset o.n. The farthest
// candidate is the name's end, or with enhanced stars only the first . after
// the first character; offsets whose tries are already known to have
// failed are not tried again.
WildEngine::Opened WildEngine::open(const Outcome& o) noexcept {
  // A star re-reads the pattern after it at every name position it tries:
  // its steps are remembered from the first star on. The memo, and the
  // steps of the name, from the second: a star tried once needs neither.
  if (++opened_ == 1) pat_.remember_steps();
  if (opened_ == 2) {
    name_.remember_steps();
    if (!start_memo()) return Opened::out_of_memory;
  }
  Frame f{o.run, SIZE_MAX, o.p, o.n, o.n, StarTarget(pat_.unit_at(o.p)), false};
  const size_t unit = name_.unit();
  const bool memo = memo_.ready();
  if (memo && memo_.test(row_of(f), o.n / unit)) return Opened::failed;
  const uint32_t first = name_.unit_at(o.n);
  if (first != 0 && o.plain && !memo) {
    f.i = name_.length();  // a plain star reaches the end
  } else if (first != 0 && (o.plain || first != '.')) {
    for (size_t m = o.n + unit;; m += unit) {
      if (memo && memo_.test(f.row, m / unit)) {
        f.i = m - unit;
        break;
      }
      const uint32_t b = name_.unit_at(m);
      if (b == 0 || (!o.plain && b == '.')) {
        f.i = m;
        break;
      }
    }
  }
  return frames_.push(f) ? Opened::pushed : Opened::out_of_memory;
}

// Star runs tried greedily, from the nearest offset on: a try of the
// newest run that reaches the next run commits to it, and a failed try
// moves only the newest run on. With a plain star in every run that is
// exact where each character is one unit: every pattern character between
// two runs consumes at most one unit, and fewer only at the same dots and
// end, so a later try of an earlier run reaches the newest run no sooner;
// and a plain star that starts sooner tries every offset one starting
// later would. Enhanced stars, which stop at dots, are taken as plain here,
// so the search finds every match and maybe more: a failure is final, and
// a match whose enhanced runs covered no dot is a match of the full rules
// too. In multibyte text a character stepped from inside another may end
// past it, so there a second run is left to the full search; a single run
// tries every offset in any text.
int WildEngine::greedy(size_t p, size_t n, bool plain) noexcept {
  // A run that ends the pattern needs only the name's end within its reach.
  if (pat_.at_end(p)) return plain || name_.find('.', n) == name_.length() ? 1 : 0;
  bool unused;
  const bool units = name_.unit_text_from(n, 0, unused);
  pat_.remember_steps();  // tries walk the pattern after the run again
  StarTarget target(pat_.unit_at(p));
  size_t from = n;       // where the newest run starts
  bool strayed = false;  // an enhanced run covered a dot
  size_t x = next_try(target, n, units);
  while (x <= name_.length()) {
    const Outcome o = walk(p, x);
    if (!o.star && !o.matched) {
      x = next_try(target, x + name_.unit(), units);
      continue;
    }
    strayed = strayed || (!plain && name_.find('.', from) < x);
    if (o.matched) return strayed ? kUndecided : 1;
    if (!units || !name_.ascii_units()) return kUndecided;
    p = o.p;
    from = o.n;
    plain = o.plain;
    target = StarTarget(pat_.unit_at(p));
    x = next_try(target, from, units);
  }
  return 0;
}

// The first offset from x on that the target admits; past the end when
// there is none. In `ascii` bytes a sought byte is found with memchr.
size_t WildEngine::next_try(const StarTarget& target, size_t x, bool ascii) const noexcept {
  const size_t end = name_.length();
  uint32_t b;
  if (ascii && x < end && name_.unit() == 1 && target.sought(b)) {  // the seven bits are the byte
    if (name_.unit_at(x) != b) x = name_.find(b, x);
    return x < end || target.admits(0) ? x : end + 1;
  }
  while (x <= end && !target.admits(name_.unit_at(x))) x += name_.unit();
  return x;
}

// A necessary condition, in one pass: every pattern character from p on
// that only an equal name character consumes (all but the wildcards and
// 0xAE, which the end of the name satisfies) finds one, in order, among
// the name units from n on. Tries start at any byte, so every byte counts.
bool WildEngine::literals_fit(size_t p, size_t n) noexcept {
  for (; !pat_.at_end(p); p = pat_.next(p)) {
    const uint32_t c = pat_.unit_at(p);
    if (low7(c) == '*' || low7(c) == '?' || c == kEnhancedDot) continue;
    while (!name_.at_end(n) && low7(name_.unit_at(n)) != low7(c)) n += name_.unit();
    if (name_.at_end(n)) return false;
    n += name_.unit();
  }
  return true;
}

int WildEngine::settle(size_t p, size_t n, bool plain) noexcept {
  const int quick = greedy(p, n, plain);
  if (quick != kUndecided) return quick;
  return literals_fit(p, n) ? kUndecided : 0;
}

int WildEngine::match(bool quick) noexcept {
  const Outcome first = walk(0, 0);
  if (!first.star) return first.matched ? 1 : 0;
  const int known = quick ? settle(first.p, first.n, first.plain) : kUndecided;
  if (known != kUndecided) return known;
  return search(first) == 1 ? 1 : 0;
}

int WildEngine::search(const Outcome& first) noexcept {
  if (!first.star) return first.matched ? 1 : 0;
  switch (open(first)) {
    case Opened::failed:
      return 0;
    case Opened::out_of_memory:
      return -1;
    case Opened::pushed:
      break;
  }
  const size_t unit = name_.unit();
  while (!frames_.empty()) {
    Frame& f = frames_.top();
    if (!f.resumed) {
      if (memo_.ready()) {
        memo_.test_and_set(row_of(f), f.i / unit);
      } else {  // no memo to keep up: pass the offsets that are not tried
        while (f.i != f.lo && !f.target.admits(name_.unit_at(f.i))) f.i -= unit;
      }
      if (f.target.admits(name_.unit_at(f.i))) {
        const Outcome o = walk(f.p, f.i);
        if (o.star) {
          f.resumed = true;
          const Opened opened = open(o);
          if (opened == Opened::out_of_memory) return -1;
          continue;  // a child that failed at once leaves f resumed
        }
        if (o.matched) return 1;
      }
    }
    f.resumed = false;
    if (f.i == f.lo) {
      frames_.pop();
    } else {
      f.i -= unit;
    }
  }
  return 0;
}

// The name-space front: the byte-level rules applied to the characters of
// the name space up to the first star, with three differences: a plain ?
// facing a . consumes nothing; only plain *'s continue the first star's
// run; and every try of that star hands the rest of the pattern to the
// byte-level matcher. In the wide name spaces the byte-level matcher works
// on wide units: seen as bytes, wide text would end after its first
// character.
int generic_wild_match(uint32_t ns, const void* pattern, const void* name, bool quick) noexcept {
  const Stepper how = stepper_for(ns);
  AsciiVerdict ascii;
  Subject pat(pattern, how, ascii);
  Subject nm(name, how, ascii);
  size_t p = 0;
  size_t n = 0;
  for (;;) {
    const uint32_t c = pat.unit_at(p);
    const uint32_t a = nm.unit_at(n);
    if (low7(c) == '*') break;
    if (low7(c) == '?') {
      if (a == 0 && c != kEnhancedQuestion) return 0;
      if (a == 0 || low7(a) == '.') {
        p = pat.next(p);
        continue;
      }
    } else if (c == kEnhancedDot && a == 0) {
      p = pat.next(p);
      continue;
    } else {
      if (low7(c) != low7(a)) return 0;
      if (c == 0 || a == 0) return c == a ? 1 : 0;
    }
    p = pat.next(p);
    n = nm.next(n);
  }

  // The star step.
  bool plain = pat.unit_at(p) == '*';
  p = pat.next(p);
  while (pat.unit_at(p) == '*') {
    plain = true;
    p = pat.next(p);
  }
  WildEngine rest(pat.bytes() + p, name, how == Stepper::wide ? Stepper::wide : Stepper::locale, ascii);
  const int known = quick ? rest.settle(0, n, plain) : WildEngine::kUndecided;
  if (known != WildEngine::kUndecided) return known;
  const StarTarget target(pat.unit_at(p));
  const size_t unit = nm.unit();
  size_t top = n;
  const uint32_t first = nm.unit_at(n);
  if (first != 0 && (plain || first != '.')) {
    do {
      top += unit;
    } while (nm.unit_at(top) != 0 && (plain || nm.unit_at(top) != '.'));
  }
  for (size_t i = top;; i -= unit) {
    if (target.admits(nm.unit_at(i))) {
      if (rest.match_from(i) == 1) return 1;
    }
    if (i == n) return 0;
  }
}

bool holds_wildcard(const void* s, Stepper how, size_t limit = SIZE_MAX) noexcept {
  AsciiVerdict ascii;
  Subject str(s, how, ascii);
  for (size_t p = 0; !str.at_end(p) && p < limit; p = str.next(p)) {
    const uint32_t c = str.unit_at(p);
    if (c == '*' || c == '?') return true;
  }
  return false;
}

int wild_match(const char* pattern, const char* name, bool quick) noexcept {
  if (pattern == nullptr || name == nullptr) return 0;
  AsciiVerdict ascii;
  WildEngine engine(pattern, name, Stepper::locale, ascii);
  return engine.match(quick);
}

}  // namespace

int32_t wild_match_fully(const char* pattern, const char* name) noexcept { return wild_match(pattern, name, false); }

int32_t generic_wild_match_fully(uint32_t ns, const void* pattern, const void* name) noexcept {
  return generic_wild_match(ns, pattern, name, false);
}

bool generic_is_wild_before(uint32_t ns, const void* s, size_t limit) noexcept {
  return s != nullptr && holds_wildcard(s, stepper_for(ns), limit);
}

}  // namespace dpxut::paths

using namespace dpxut::paths;

DPXUT_EXPORT int32_t HVDPWildMatch(const char* pattern, const char* name) { return wild_match(pattern, name, true); }

DPXUT_EXPORT int32_t HVDPGenericWildMatch(uint32_t nameSpace, const void* pattern, const void* name) {
  if (pattern == nullptr || name == nullptr) return 0;
  return generic_wild_match(nameSpace, pattern, name, true);
}

DPXUT_EXPORT int32_t HVDPIsWild(const char* string) {
  if (string == nullptr) return 0;
  return holds_wildcard(string, Stepper::locale) ? 1 : 0;
}

DPXUT_EXPORT int32_t HVDPGenericIsWild(uint32_t nameSpace, const void* string) {
  if (string == nullptr) return 0;
  return holds_wildcard(string, stepper_for(nameSpace)) ? 1 : 0;
}
