// The reader's input: its own buffer over the host's read callback, so that
// a section is looked at whole in memory whatever counts the callback
// returns. Bytes before data() are consumed; ensure() makes more visible.
#pragma once

#include <dpxut.h>

#include <cstddef>
#include <cstdint>

#include "common/heap.h"
#include "stream/zstd_io.h"

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

  // A stream compressed with zstd reads as the stream it holds (known once
  // something was read; zstd_io.cpp). A damaged or cut compressed stream
  // reads as ending there, and failure() then says why and gives the cause.
  bool compressed() const noexcept { return zstd_ != nullptr; }
  const char* failure(uint32_t* code) const noexcept;

  size_t read_size() const noexcept { return read_size_; }
  // With nothing visible: one call of the callback for up to n (at most
  // read_size) bytes straight into buf, which are consumed with it; 0 at the
  // end of the stream. Saves the copy out of the buffer for long content.
  size_t read_direct(uint8_t* buf, size_t n);
  // Passes over n bytes: those visible, then, when seek_fd is the
  // descriptor the callback reads (and the stream is not compressed), by
  // moving its offset, else by reading. Returns the bytes passed over (fewer
  // at the end of the stream; a seek past the end shows at the next read).
  uint64_t skip(uint64_t n, int seek_fd);

 private:
  dpxut_read_fn read_;
  void* ctx_;
  size_t read_size_ = kDefaultReadSize;
  HeapVector<uint8_t> buf_;
  size_t pos_ = 0, end_ = 0;
  uint64_t base_ = 0;  // stream offset of buf_[0]
  bool ended_ = false;
  bool probed_ = false;
  uint64_t file_size_ = 0;  // of the file skip() seeks in, as last seen
  DecompressorPtr zstd_;  // read_ and ctx_ lead to it when set

  void probe();
  // Reads until the buffer holds bytes up to `end` (its size allows it) or
  // the stream ends.
  void fill_to(size_t end);
};

}  // namespace dpxut::stream
