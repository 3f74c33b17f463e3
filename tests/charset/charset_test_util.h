// Helpers shared by the character layer tests: hermetic locales and wide
// strings placed at any offset of a buffer (wide strings reach the library
// at addresses that are not 4-aligned).
#pragma once

#include <gtest/gtest.h>
#include <langinfo.h>

#include <algorithm>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "dpxut.h"
#include "support/bytes.h"  // hex(), to_hex()
#include "support/guard.h"  // GuardedBytes

namespace dpxut::test {

// Switches the process to one of the test locales (built into LOCPATH) and
// makes its code set the server's code set of the conversion layer.
inline void use_locale(const char* name) {
  setenv("LC_ALL", name, 1);
  ASSERT_NE(std::setlocale(LC_ALL, name), nullptr) << name << " (LOCPATH=" << getenv("LOCPATH") << ")";
  ASSERT_EQ(DPInitUniLibrary(nl_langinfo(CODESET)), 0u) << nl_langinfo(CODESET);
}

inline int sign(int v) { return (v > 0) - (v < 0); }
inline std::wstring widen(std::string_view ascii) { return std::wstring(ascii.begin(), ascii.end()); }

// Reads the NUL-terminated wide string at any address.
inline std::wstring wide_at(const void* p) {
  std::wstring out;
  for (auto* q = static_cast<const unsigned char*>(p);; q += 4) {
    wchar_t c;
    std::memcpy(&c, q, 4);
    if (c == 0) return out;
    out.push_back(c);
  }
}

// A wide string `offset` bytes past a 16-aligned start, in a block of
// `units` units (at least the string and its terminator) with 0xEE bytes
// all around. Units are read and written with memcpy only.
class WideAt {
 public:
  WideAt(const std::wstring& s, size_t offset, size_t units = 32)
      : start_(16 + offset), units_(std::max(units, s.size() + 1)), buf_(start_ + 4 * units_ + 32, 0xEE) {
    std::memcpy(p(), s.c_str(), 4 * (s.size() + 1));
  }
  unsigned char* p() { return buf_.data() + (16 - reinterpret_cast<uintptr_t>(buf_.data()) % 16) % 16 + start_; }
  std::wstring units(size_t n) {  // the first n units, zeros included
    std::wstring out(n, 0);
    std::memcpy(out.data(), p(), 4 * n);
    return out;
  }
  std::wstring str() { return units(units_).c_str(); }  // up to the terminator, within the block

 private:
  size_t start_, units_;
  std::vector<unsigned char> buf_;
};

}  // namespace dpxut::test
