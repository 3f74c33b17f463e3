// Hex strings for byte-exact test tables: "61 C3 A9" <-> bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace dpxut::test {

// "61 C3 A9" -> the bytes 0x61 0xC3 0xA9; spaces are ignored.
inline std::string hex(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size();) {
    if (text[i] == ' ') {
      ++i;
      continue;
    }
    out.push_back(static_cast<char>(std::strtoul(std::string(text.substr(i, 2)).c_str(), nullptr, 16)));
    i += 2;
  }
  return out;
}

// The same bytes as unsigned values.
inline std::vector<uint8_t> hex_bytes(std::string_view text) {
  const std::string s = hex(text);
  return {s.begin(), s.end()};
}

// The bytes as "61 C3 A9".
inline std::string to_hex(const void* p, size_t n) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (size_t i = 0; i < n; ++i) {
    const auto c = static_cast<const unsigned char*>(p)[i];
    if (i) out.push_back(' ');
    out.push_back(digits[c >> 4]);
    out.push_back(digits[c & 15]);
  }
  return out;
}
inline std::string to_hex(std::string_view s) { return to_hex(s.data(), s.size()); }
inline std::string to_hex(const std::vector<uint8_t>& v) { return to_hex(v.data(), v.size()); }

}  // namespace dpxut::test
