// Hostile text through the name-space string functions: two strings cut
// from the input run through every function in one of the three encodings
// (wide strings at any offset mod 4), each in a heap block of exactly its
// size so that a read past a terminator is caught. Checks a few invariants
// that hold for any bytes.
#include <memory>

#include "dpxut.h"
#include "fuzz_input.h"

// The string the `n` bytes begin with (up to its first zero unit),
// `offset` bytes into a block that ends `slack` bytes after its terminator.
struct Text {
  static size_t count(const uint8_t* p, size_t n, size_t unit) {
    size_t i = 0;
    while ((i + 1) * unit <= n && std::memcmp(p + i * unit, "\0\0\0", unit) != 0) ++i;
    return i;
  }
  Text(const uint8_t* p, size_t n, size_t unit, size_t offset, size_t slack = 0)
      : units(count(p, n, unit)), bytes(units * unit), block(bytes + unit + slack, offset, p, bytes), s(block.at) {}
  size_t units, bytes;
  Block block;
  uint8_t* s;
  // Whether a position found in the string lies inside it (or is null).
  bool holds(const void* hit) const { return hit == nullptr || (hit >= s && hit <= s + bytes); }
};

void fuzz(const uint8_t* data, size_t size) {
  // A multibyte server code set, so the locale branch measures characters
  // of more than one byte; no locale files are needed for iconv.
  [[maybe_unused]] static const int euc_jp = DPInitUniLibrary("EUC-JP");
  static const uint32_t kSpaces[] = {0, 0x100, 0x200, 0x103};
  if (size < 1) return;
  const uint8_t mode = data[0];
  const uint32_t ns = kSpaces[mode & 3];
  // The rest split at its middle into the two strings.
  const size_t unit = HVDPIsNameSpaceUnicode(ns) ? 4 : 1, n = size - 1, half = n / 2;
  const Text a(data + 1, half, unit, mode >> 2 & 3), b(data + 1 + half, n - half, unit, mode >> 4 & 3);
  const Text work(data + 1, half, unit, mode >> 6 & 3, 8);
  uint8_t *as = a.s, *end = as + a.bytes, *last = static_cast<uint8_t*>(DPlastChar(ns, as));
  const std::unique_ptr<void, decltype(&std::free)> copy(DPstrdup(ns, as), &std::free);
  for (auto compare : {DPstrcmp, DPstricmp, StrIEqu}) compare(ns, as, b.s);
  for (auto compare : {DPstrncmp, DPstrnicmp}) compare(ns, as, b.s, mode);
  // Invalid UTF-8 may not fold.
  check((!copy || DPstrcmp(ns, copy.get(), as) == 0) && DPstrlen(ns, as) == a.bytes &&
            (StrIEqu(ns, as, as) == 1 || ns == 0x100),
        "a copy compares equal, the length, equal to itself ignoring case");
  check(a.holds(DPstrchr(ns, as, b.s)) && a.holds(DPstrrchr(ns, as, b.s)) && a.holds(DPstrstr(ns, as, b.s)) &&
            b.holds(DPendChar(ns, as, b.s)) && last >= as && (a.units == 0 ? last == as : last < end),
        "search hits lie in the string (DPendChar's in the set), DPlastChar");
  // Walk the string character by character; every step moves forward and
  // stays inside the string (a UTF-8 or locale step stops at the NUL).
  size_t steps = 0;
  for (auto *p = as, *q = p; q <= end && !DPcheckChar(ns, p, GenericChar(ns, 0)); p = q, ++steps) {
    DPisWild(ns, p);
    DPcheckChar(ns, p, b.s);
    q = static_cast<uint8_t*>(DPnextChar(ns, p));
    check(q > p && (ns == 0x100 || q <= end), "a step moves forward inside the string");
  }
  check(steps <= a.units, "no more steps than units");
  DPstrupr(ns, work.s);
  check(DPstrlen(ns, work.s) <= a.bytes, "upper-casing never lengthens");
  std::memcpy(work.s, as, a.bytes);
  if (DPstrrev(ns, work.s) != nullptr && ns != 0x100)
    check(DPstrrev(ns, work.s) && std::memcmp(work.s, as, a.bytes) == 0, "reversed twice, the string");
  if (a.units > 0) DPsetChar(ns, work.s, b.units > 0 ? b.s : GenericChar(ns, '/'));
}
