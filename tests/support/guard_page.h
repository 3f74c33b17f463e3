// Test helpers for reads that must stop at a terminator: a block of bytes
// that ends flush against a page without access, so that reading a single
// byte past its end faults, and a hex-string parser for byte tables.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace dpxut::test {

class GuardedBytes {
 public:
  // size bytes, the last of them just below an inaccessible page.
  explicit GuardedBytes(size_t size) : size_(size) {
    page_ = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
    span_ = (size / page_ + 2) * page_;
    void* map = ::mmap(nullptr, span_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (map == MAP_FAILED) std::abort();
    base_ = static_cast<unsigned char*>(map);
    if (::mprotect(base_ + span_ - page_, page_, PROT_NONE) != 0) std::abort();
  }
  // The bytes of `text`, ending flush against the guard page.
  explicit GuardedBytes(std::string_view text) : GuardedBytes(text.size()) {
    std::memcpy(data(), text.data(), text.size());
  }
  GuardedBytes(const GuardedBytes&) = delete;
  GuardedBytes& operator=(const GuardedBytes&) = delete;
  ~GuardedBytes() { ::munmap(base_, span_); }

  unsigned char* data() { return base_ + span_ - page_ - size_; }
  char* chars() { return reinterpret_cast<char*>(data()); }
  size_t size() const { return size_; }

 private:
  size_t size_;
  size_t page_;
  size_t span_;
  unsigned char* base_;
};

// "61 C3 A9" -> the bytes 0x61 0xC3 0xA9.
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

// The bytes of s as "61 C3 A9".
inline std::string to_hex(std::string_view s) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : s) {
    if (!out.empty()) out.push_back(' ');
    out.push_back(digits[c >> 4]);
    out.push_back(digits[c & 15]);
  }
  return out;
}

}  // namespace dpxut::test
