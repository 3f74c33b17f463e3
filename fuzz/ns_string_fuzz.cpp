// Hostile text through the name-space string functions: two strings cut
// from the input run through every function in one of the three encodings
// (wide strings at any offset mod 4), each in a heap block of exactly its
// size so that a read past a terminator is caught. Checks a few invariants
// that hold for any bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "dpxut.h"

namespace {

// A string of the chosen encoding in a malloc block that ends right after
// its terminator, `slack` spare bytes after it for in-place writes.
struct Text {
  unsigned char* block = nullptr;
  unsigned char* s = nullptr;
  size_t units = 0;  // characters units before the terminator
  Text(const uint8_t* bytes, size_t n, bool wide, size_t offset, size_t slack) {
    size_t unit = wide ? 4 : 1;
    units = n / unit;
    if (!wide) units = strnlen(reinterpret_cast<const char*>(bytes), n);
    if (wide) {
      // Stop at the first zero unit, as a wide string would.
      for (size_t i = 0; i < units; ++i) {
        uint32_t v;
        std::memcpy(&v, bytes + 4 * i, 4);
        if (v == 0) units = i;
      }
    }
    block = static_cast<unsigned char*>(std::calloc(offset + (units + 1) * unit + slack, 1));
    s = block + offset;
    std::memcpy(s, bytes, units * unit);
  }
  ~Text() { std::free(block); }
  Text(const Text&) = delete;
  Text& operator=(const Text&) = delete;
};

void check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // A multibyte server code set, so the locale branch measures characters
  // of more than one byte; no locale files are needed for iconv.
  DPInitUniLibrary("EUC-JP");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t mode = data[0];
  static const uint32_t kSpaces[] = {0, 0x100, 0x200, 0x103};
  const uint32_t ns = kSpaces[mode & 3];
  const bool wide = HVDPIsNameSpaceUnicode(ns);
  const size_t unit = wide ? 4 : 1;
  // Split the rest at its middle into the two strings.
  const uint8_t* rest = data + 1;
  size_t n = size - 1, half = n / 2;
  Text a(rest, half, wide, (mode >> 2) & 3, 0);
  Text b(rest + half, n - half, wide, (mode >> 4) & 3, 0);
  Text work(rest, half, wide, (mode >> 6) & 3, 8);

  check(DPstrlen(ns, a.s) == a.units * unit);
  if (void* copy = DPstrdup(ns, a.s)) {
    check(DPstrcmp(ns, copy, a.s) == 0);
    std::free(copy);
  }
  DPstrcmp(ns, a.s, b.s);
  DPstrncmp(ns, a.s, b.s, mode);
  DPstricmp(ns, a.s, b.s);
  DPstrnicmp(ns, a.s, b.s, mode);
  check(StrIEqu(ns, a.s, a.s) == 1 || ns == 0x100);  // invalid UTF-8 may not fold
  StrIEqu(ns, a.s, b.s);

  unsigned char* hit = static_cast<unsigned char*>(DPstrchr(ns, a.s, b.s));
  check(hit == nullptr || (hit >= a.s && hit <= a.s + a.units * unit));
  hit = static_cast<unsigned char*>(DPstrrchr(ns, a.s, b.s));
  check(hit == nullptr || (hit >= a.s && hit <= a.s + a.units * unit));
  hit = static_cast<unsigned char*>(DPstrstr(ns, a.s, b.s));
  check(hit == nullptr || (hit >= a.s && hit <= a.s + a.units * unit));
  auto* last = static_cast<unsigned char*>(DPlastChar(ns, a.s));
  check(last >= a.s && (a.units == 0 ? last == a.s : last < a.s + a.units * unit));
  hit = static_cast<unsigned char*>(DPendChar(ns, a.s, b.s));
  check(hit == nullptr || (hit >= b.s && hit <= b.s + b.units * unit));

  // Walk the string character by character; every step moves forward and
  // stays inside the string (a UTF-8 or locale step stops at the NUL).
  size_t steps = 0;
  for (auto* p = a.s; !DPcheckChar(ns, p, GenericChar(ns, 0)); ++steps) {
    DPisWild(ns, p);
    DPcheckChar(ns, p, b.s);
    auto* q = static_cast<unsigned char*>(DPnextChar(ns, p));
    check(q > p);
    if (ns != 0x100) check(q <= a.s + a.units * unit);
    if (q > a.s + a.units * unit) break;  // a locale step never crosses, UTF-8 may not
    p = q;
  }
  check(steps <= a.units);

  DPstrupr(ns, work.s);
  check(DPstrlen(ns, work.s) <= a.units * unit);
  std::memcpy(work.s, a.s, a.units * unit);
  if (DPstrrev(ns, work.s) != nullptr && ns != 0x100) {
    DPstrrev(ns, work.s);
    check(std::memcmp(work.s, a.s, a.units * unit) == 0);
  }
  if (a.units > 0) DPsetChar(ns, work.s, b.units > 0 ? b.s : GenericChar(ns, '/'));
  return 0;
}
