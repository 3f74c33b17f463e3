// Test text in the encoding of any name space: written in the test as ASCII
// (bytes above 0x7F pass as they are in the byte name spaces), '|' standing
// for a terminator, and held as bytes or as 4-byte wide characters at a
// chosen offset of a 16-aligned buffer filled with 0xEE, so that wide text
// sits at 0-3 mod 4. Results are compared as raw bytes.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "dpxut.h"

namespace dpxut::test {

// The bytes of `text` in the encoding of ns, each '|' a terminator.
inline std::string enc(uint32_t ns, const std::string& text) {
  std::string out;
  for (const unsigned char c : text) {
    const char32_t v = c == '|' ? 0 : c;
    HVDPIsNameSpaceUnicode(ns) ? out.append(reinterpret_cast<const char*>(&v), 4) : out.append(1, char(v));
  }
  return out;
}

class NsText {
 public:
  NsText(uint32_t ns, const std::string& text, size_t offset = 0) : unit_(DPsizeOfChar(ns)) {
    const std::string raw = enc(ns, text + "|");
    buf_.assign(16 + offset + std::max<size_t>(600, raw.size()) + 16, 0xEE);
    p_ = buf_.data() + (16 - reinterpret_cast<uintptr_t>(buf_.data()) % 16) % 16 + offset;
    std::memcpy(p_, raw.data(), raw.size());
  }
  unsigned char* p() { return p_; }
  // The bytes of the string at q (this one by default), terminator excluded.
  std::string str(const void* q = nullptr) {
    auto* r = static_cast<const char*>(q ? q : p_);
    size_t n = 0;
    while (std::string(r + n, unit_) != std::string(unit_, '\0')) n += unit_;
    return std::string(r, n);
  }
  std::string bytes(size_t n) { return std::string(reinterpret_cast<char*>(p_), n); }
  long index_of(const void* q) { return q ? (static_cast<const unsigned char*>(q) - p_) / long(unit_) : -1; }

 private:
  size_t unit_;
  std::vector<unsigned char> buf_;
  unsigned char* p_;
};

// Runs fn(ns, offset) for the locale, UTF-8 and wide forms of `base` (only
// base itself when it has no such forms), the text at offsets 0-3.
template <typename Fn>
void each_form(uint32_t base, const char* what, Fn fn) {
  const bool forms = base == 0 || base == 1 || base == 2 || base == 4;
  for (uint32_t ns : forms ? std::vector<uint32_t>{base, base + 0x100, base + 0x200} : std::vector<uint32_t>{base})
    for (size_t offset = 0; offset < 4; ++offset) {
      SCOPED_TRACE(::testing::Message() << "ns 0x" << std::hex << ns << " offset " << offset << " " << what);
      fn(ns, offset);
    }
}

}  // namespace dpxut::test
