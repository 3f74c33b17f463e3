// The exported wide-string primitives that the name-space string functions
// use for Unicode name spaces: reversal, upper-casing, duplication and the
// bounded case-insensitive comparison. Wide strings reach them at any
// address, so all work goes through the alignment-safe layer.
#include "common/export.h"
#include "common/wide.h"
#include "dpxut.h"

namespace wide = dpxut::wide;

DPXUT_EXPORT wchar_t* DPunirev(wchar_t* s) {
  if (s != nullptr) wide::reverse(s);
  return s;
}

DPXUT_EXPORT wchar_t* DPuniupr(wchar_t* s) {
  if (s != nullptr) wide::upper(s);
  return s;
}

DPXUT_EXPORT wchar_t* DPunidup(const wchar_t* s) {
  return s != nullptr ? wide::duplicate(s) : nullptr;
}

// Comparing at most n characters case-insensitively gives the same answer
// as comparing copies cut to n characters, so no copy is made and the
// comparison cannot fail for want of memory.
DPXUT_EXPORT int DPuninicmp(const wchar_t* a, const wchar_t* b, int32_t n) {
  if (a == nullptr || b == nullptr) return -1;
  if (n < 0) return wide::icompare(a, b);
  return wide::nicompare(a, b, static_cast<size_t>(n));
}
