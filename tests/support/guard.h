// Bytes that end flush against a page without access, so that reading a
// single byte past their end faults (GuardedBytes), and text that begins
// right after such a page, so that reading a byte before it faults
// (GuardedFront).
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

class GuardedFront {
 public:
  // The bytes of `text` (at most one page), first byte just above the
  // closed page.
  explicit GuardedFront(std::string_view text) : pages_(2 * page_size()) {
    if (text.size() > page_size() || ::mprotect(pages_.data(), page_size(), PROT_NONE) != 0) std::abort();
    std::memcpy(data(), text.data(), text.size());
  }

  unsigned char* data() { return pages_.data() + page_size(); }
  char* chars() { return reinterpret_cast<char*>(data()); }

 private:
  static size_t page_size() { return static_cast<size_t>(::sysconf(_SC_PAGESIZE)); }
  GuardedBytes pages_;  // two whole pages: page-aligned, the second ends at the guard
};

}  // namespace dpxut::test
