// Test text in the encoding of any name space: written in the test as ASCII
// or UTF-8 ('|' standing for a terminator), held as locale/UTF-8 bytes or as
// 4-byte wide characters at a chosen offset of a 16-aligned buffer, so wide
// text sits at 0-3 mod 4. Results are compared as raw bytes.
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
  const bool wide = HVDPIsNameSpaceUnicode(ns);
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    auto c = static_cast<unsigned char>(text[i]);
    char32_t v = c == '|' ? 0 : c;
    if (wide && c >= 0xC0) {  // a UTF-8 sequence of 2 or 3 bytes
      int n = c >= 0xE0 ? 2 : 1;
      v = c & (0x3F >> n);
      while (n-- > 0) v = v << 6 | (text[++i] & 0x3F);
    }
    if (wide)
      out.append(reinterpret_cast<const char*>(&v), 4);
    else
      out += static_cast<char>(v);
  }
  return out;
}

class NsText {
 public:
  NsText(uint32_t ns, const std::string& text, size_t offset = 0, size_t room = 600) : ns_(ns), offset_(offset) {
    const std::string raw = enc(ns, text + "|");
    buf_.assign(16 + offset + std::max(room, raw.size()) + 16, 0xEE);
    std::memcpy(p(), raw.data(), raw.size());
  }
  unsigned char* p() {
    auto addr = reinterpret_cast<uintptr_t>(buf_.data());
    return buf_.data() + (16 - addr % 16) % 16 + offset_;
  }
  // The bytes of the string at q (this one by default), terminator excluded.
  std::string str(const void* q = nullptr) {
    if (q == nullptr) q = p();
    const size_t unit = DPsizeOfChar(ns_);
    std::string out;
    for (auto* r = static_cast<const char*>(q); std::string(r, unit) != std::string(unit, '\0'); r += unit)
      out.append(r, unit);
    return out;
  }
  std::string bytes(size_t n) { return std::string(reinterpret_cast<char*>(p()), n); }
  // Character index of q, -1 for null.
  long index_of(const void* q) {
    return q == nullptr ? -1 : (static_cast<const unsigned char*>(q) - p()) / static_cast<long>(DPsizeOfChar(ns_));
  }

 private:
  uint32_t ns_;
  size_t offset_;
  std::vector<unsigned char> buf_;
};

// The three forms of a base name space: locale bytes, UTF-8, wide.
inline std::vector<uint32_t> forms_of(uint32_t base) {
  if (base == 0 || base == 1 || base == 2 || base == 4) return {base, base + 0x100, base + 0x200};
  return {base};
}

// Runs fn(ns, offset) for every form of `base`, the text at offsets 0-3.
template <typename Fn>
void each_form(uint32_t base, const char* what, Fn fn) {
  for (uint32_t ns : forms_of(base))
    for (size_t offset = 0; offset < 4; ++offset) {
      SCOPED_TRACE(::testing::Message() << "ns 0x" << std::hex << ns << " offset " << offset << " " << what);
      fn(ns, offset);
    }
}

}  // namespace dpxut::test
