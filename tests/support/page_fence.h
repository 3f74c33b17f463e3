// Bytes placed flush against a page that cannot be touched: after their
// last byte (a read past the end faults) or before their first byte (a read
// before the start faults). Lets tests prove that a function stays inside
// the bytes it was given.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace dpxut::test {

class PageFence {
 public:
  enum Side { kAfter, kBefore };

  PageFence(const std::string& bytes, Side side = kAfter) : size_(bytes.size()) {
    page_ = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
    span_ = (size_ / page_ + 2) * page_;
    void* map = ::mmap(nullptr, span_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (map == MAP_FAILED) std::abort();
    base_ = static_cast<unsigned char*>(map);
    unsigned char* guard = side == kAfter ? base_ + span_ - page_ : base_;
    if (::mprotect(guard, page_, PROT_NONE) != 0) std::abort();
    data_ = side == kAfter ? guard - size_ : guard + page_;
    if (size_ != 0) std::memcpy(data_, bytes.data(), size_);
  }
  PageFence(const PageFence&) = delete;
  PageFence& operator=(const PageFence&) = delete;
  ~PageFence() { ::munmap(base_, span_); }

  unsigned char* data() { return data_; }
  char* chars() { return reinterpret_cast<char*>(data_); }
  size_t size() const { return size_; }

 private:
  size_t size_;
  size_t page_ = 0;
  size_t span_ = 0;
  unsigned char* base_ = nullptr;
  unsigned char* data_ = nullptr;
};

}  // namespace dpxut::test
