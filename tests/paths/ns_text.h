// Test text in the encoding of any name space: written in the test as ASCII
// or UTF-8 ('|' standing for a terminator), held as locale/UTF-8 bytes or as
// 4-byte wide characters at a chosen offset of a 16-aligned buffer filled
// with 0xEE, so wide text sits at 0-3 mod 4. Results are compared as raw
// bytes.
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
  if (!HVDPIsNameSpaceUnicode(ns)) {
    std::string out = text;
    std::replace(out.begin(), out.end(), '|', '\0');
    return out;
  }
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    auto c = static_cast<unsigned char>(text[i]);
    char32_t v = c == '|' ? 0 : c;
    if (c >= 0xC0) {  // a UTF-8 sequence of 2 or 3 bytes
      const int n = c >= 0xE0 ? 2 : 1;
      v = c & (0x3F >> n);
      for (int k = 0; k < n; ++k) v = v << 6 | (text[++i] & 0x3F);
    }
    out.append(reinterpret_cast<const char*>(&v), 4);
  }
  return out;
}

class NsText {
 public:
  NsText(uint32_t ns, const std::string& text, size_t offset = 0, size_t room = 600) : unit_(DPsizeOfChar(ns)) {
    const std::string raw = enc(ns, text + "|");
    buf_.assign(16 + offset + std::max(room, raw.size()) + 16, 0xEE);
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
  // True when nothing from character `units` on was written.
  bool filler_from(size_t units) {
    return std::all_of(p_ + units * unit_, buf_.data() + buf_.size(), [](unsigned char b) { return b == 0xEE; });
  }

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
