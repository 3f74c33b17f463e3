// The reader's input: its own buffer over the host's read callback, so that
// a section is looked at whole in memory whatever counts the callback
// returns. Bytes before data() are consumed; ensure() makes more visible.
#pragma once

#include <dpxut.h>

#include <cstddef>
#include <cstdint>

#include "common/heap.h"

namespace dpxut::stream {

// Thrown when the read callback fails (errno kept) or misbehaves.
struct InputFailure {
  int error;
};

class Input {
 public:
  static constexpr size_t kDefaultReadSize = 64 * 1024;

  Input(dpxut_read_fn read, void* ctx) noexcept : read_(read), ctx_(ctx) {}

  void set_read_size(size_t n) noexcept { read_size_ = n; }
  const uint8_t* data() const noexcept { return buf_.data() + pos_; }
  uint8_t* data() noexcept { return buf_.data() + pos_; }
  size_t avail() const noexcept { return end_ - pos_; }
  // True once the callback reported the end: avail() is all there is.
  bool ended() const noexcept { return ended_; }
  // Stream offset of data().
  uint64_t offset() const noexcept { return base_ + pos_; }

  // Makes at least n bytes visible (fewer only at the end of the stream)
  // and returns avail(). Throws InputFailure or std::bad_alloc.
  size_t ensure(size_t n);
  void consume(size_t n) noexcept { pos_ += n < avail() ? n : avail(); }

 private:
  dpxut_read_fn read_;
  void* ctx_;
  size_t read_size_ = kDefaultReadSize;
  HeapVector<uint8_t> buf_;
  size_t pos_ = 0, end_ = 0;
  uint64_t base_ = 0;  // stream offset of buf_[0]
  bool ended_ = false;
};

}  // namespace dpxut::stream
