// Helpers shared by the character layer tests: hermetic locales and wide
// strings placed at any offset of a buffer (wide strings reach the library
// at addresses that are not 4-aligned).
#pragma once

#include <gtest/gtest.h>
#include <langinfo.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "dpxut.h"
#include "support/guard_page.h"  // hex(), GuardedBytes

namespace dpxut::test {

// Switches the process to one of the test locales (built into LOCPATH) and
// makes its code set the server's code set of the conversion layer.
inline void use_locale(const char* name) {
  setenv("LC_ALL", name, 1);
  ASSERT_NE(std::setlocale(LC_ALL, name), nullptr) << name << " (LOCPATH=" << getenv("LOCPATH") << ")";
  ASSERT_EQ(DPInitUniLibrary(nl_langinfo(CODESET)), 0u) << nl_langinfo(CODESET);
}

// A wide string at `offset` bytes past a 16-aligned start, with room to
// grow, surrounded by guard bytes. Elements are read and written with
// memcpy only.
class WideAt {
 public:
  WideAt(const std::wstring& s, size_t offset, size_t room = 32) : offset_(offset), room_(room) {
    buf_.assign(offset + 4 * (room + 1) + 16, 0xEE);
    set(s);
  }
  void set(const std::wstring& s) {
    EXPECT_LT(s.size(), room_);
    std::memcpy(p(), s.c_str(), 4 * (s.size() + 1));
  }
  unsigned char* p() { return data() + offset_; }
  unsigned char* at(size_t i) { return p() + 4 * i; }
  std::wstring str() {
    std::wstring out;
    for (size_t i = 0; i < room_; ++i) {
      wchar_t c;
      std::memcpy(&c, at(i), 4);
      if (c == 0) break;
      out.push_back(c);
    }
    return out;
  }
  // Index of the element at `q`, which must lie on an element boundary.
  ptrdiff_t index_of(const void* q) {
    ptrdiff_t d = static_cast<const unsigned char*>(q) - p();
    EXPECT_EQ(d % 4, 0);
    return d / 4;
  }

 private:
  unsigned char* data() {
    auto addr = reinterpret_cast<uintptr_t>(buf_.data());
    return buf_.data() + ((16 - addr % 16) % 16);
  }
  std::vector<unsigned char> buf_ = {};
  size_t offset_, room_;
};

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

}  // namespace dpxut::test
