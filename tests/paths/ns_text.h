// Test text in the encoding of any name space: written as UTF-8 in the test,
// stored as locale/UTF-8 bytes or as wide characters at a chosen offset of a
// 16-aligned buffer (so wide text sits at 0-3 mod 4), with guard bytes after
// it. Units are read and written with memcpy only.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "dpxut.h"

namespace dpxut::test {

inline std::u32string decode_utf8(const std::string& s) {
  std::u32string out;
  for (size_t i = 0; i < s.size();) {
    unsigned char c = s[i];
    int extra = c < 0x80 ? 0 : c < 0xE0 ? 1 : c < 0xF0 ? 2 : 3;
    char32_t v = extra == 0 ? c : c & (0x3F >> extra);
    for (int k = 1; k <= extra && i + k < s.size(); ++k) v = (v << 6) | (s[i + k] & 0x3F);
    out.push_back(v);
    i += 1 + extra;
  }
  return out;
}

inline std::string encode_utf8(char32_t v) {
  std::string out;
  if (v < 0x80) {
    out += static_cast<char>(v);
  } else if (v < 0x800) {
    out += static_cast<char>(0xC0 | (v >> 6));
    out += static_cast<char>(0x80 | (v & 0x3F));
  } else if (v < 0x10000) {
    out += static_cast<char>(0xE0 | (v >> 12));
    out += static_cast<char>(0x80 | ((v >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (v & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (v >> 18));
    out += static_cast<char>(0x80 | ((v >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((v >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (v & 0x3F));
  }
  return out;
}

// The bytes a string of name space ns holds for `text` (UTF-8 in the test),
// without the terminator.
inline std::string encode_for(uint32_t ns, const std::string& text) {
  if (!HVDPIsNameSpaceUnicode(ns)) return text;
  std::string out;
  for (char32_t c : decode_utf8(text)) {
    wchar_t w = static_cast<wchar_t>(c);
    out.append(reinterpret_cast<const char*>(&w), 4);
  }
  return out;
}

class NsText {
 public:
  static constexpr unsigned char kGuard = 0xEE;

  NsText(uint32_t ns, const std::string& text, size_t offset = 0, size_t room = 64)
      : ns_(ns), unit_(HVDPIsNameSpaceUnicode(ns) ? 4 : 1), offset_(offset), room_(room * unit_) {
    buf_.assign(16 + offset + room_ + unit_ + 32, kGuard);
    set(text);
  }

  void set(const std::string& text) {
    std::string raw = encode_for(ns_, text);
    ASSERT_LE(raw.size(), room_);
    std::memcpy(p(), raw.data(), raw.size());
    std::memset(p() + raw.size(), 0, unit_);
  }

  unsigned char* p() { return data() + offset_; }
  unsigned char* at(size_t index) { return p() + index * unit_; }
  size_t unit() const { return unit_; }

  // The text up to the terminator, back in UTF-8.
  std::string str() { return decode_at(p()); }

  // The whole room, terminators shown as '|': what a cut left behind.
  std::string raw(size_t units) {
    std::string out;
    for (size_t i = 0; i < units; ++i) {
      char32_t c = unit_at(at(i));
      out += c == 0 ? std::string("|") : unit_ == 4 ? encode_utf8(c) : std::string(1, static_cast<char>(c));
    }
    return out;
  }

  // Character index of q in the text (byte offset / unit), -1 for null.
  long index_of(const void* q) {
    if (q == nullptr) return -1;
    long d = static_cast<const unsigned char*>(q) - p();
    EXPECT_EQ(d % static_cast<long>(unit_), 0);
    return d / static_cast<long>(unit_);
  }

  // The NUL-terminated text at q in this name space, in UTF-8.
  std::string decode_at(const void* q) const {
    if (q == nullptr) return "<null>";
    std::string out;
    for (auto* r = static_cast<const unsigned char*>(q);; r += unit_) {
      char32_t c = unit_at(r);
      if (c == 0) return out;
      out += unit_ == 4 ? encode_utf8(c) : std::string(1, static_cast<char>(c));
    }
  }

  bool guard_intact() {
    for (size_t i = offset_ + room_ + unit_; i < buf_.size() - 16; ++i)
      if (data()[i] != kGuard) return false;
    return true;
  }

 private:
  char32_t unit_at(const unsigned char* r) const {
    if (unit_ == 1) return *r;
    uint32_t w;
    std::memcpy(&w, r, 4);
    return w;
  }
  unsigned char* data() {
    auto addr = reinterpret_cast<uintptr_t>(buf_.data());
    return buf_.data() + ((16 - addr % 16) % 16);
  }

  uint32_t ns_;
  size_t unit_, offset_, room_;
  std::vector<unsigned char> buf_;
};

// The three forms of a base name space: locale bytes, UTF-8, wide.
inline std::vector<uint32_t> forms_of(uint32_t base) {
  if (base == 0 || base == 1 || base == 2 || base == 4) return {base, base + 0x100, base + 0x200};
  return {base};
}

}  // namespace dpxut::test
