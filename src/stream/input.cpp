// The reader's buffer: grown to the largest window asked for, refilled
// with at most read_size bytes a call.
#include "stream/input.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace dpxut::stream {

size_t Input::ensure(size_t n) {
  if (!probed_) probe();
  if (avail() >= n || ended_) return avail();
  if (pos_ == end_) {
    base_ += pos_;
    pos_ = end_ = 0;
  }
  if (buf_.size() - pos_ < n) {
    if (end_ > pos_) std::memmove(buf_.data(), buf_.data() + pos_, end_ - pos_);
    base_ += pos_;
    end_ -= pos_;
    pos_ = 0;
    if (buf_.size() < n || buf_.size() < read_size_) buf_.resize(n > read_size_ ? n : read_size_);
  }
  fill_to(pos_ + n);
  return avail();
}

void Input::fill_to(size_t end) {
  while (end_ < end) {
    const size_t space = buf_.size() - end_;
    const size_t ask = space < read_size_ ? space : read_size_;
    errno = 0;
    const int64_t got = read_(ctx_, buf_.data() + end_, ask);
    if (got < 0 || static_cast<uint64_t>(got) > ask) throw InputFailure{got < 0 && errno != 0 ? errno : EIO};
    if (got == 0) {
      ended_ = true;
      return;
    }
    end_ += static_cast<size_t>(got);
  }
}

size_t Input::read_direct(uint8_t* buf, size_t n) {
  if (avail() != 0 || ended_) return 0;
  base_ += end_;
  pos_ = end_ = 0;
  const size_t ask = n < read_size_ ? n : read_size_;
  errno = 0;
  const int64_t got = read_(ctx_, buf, ask);
  if (got < 0 || static_cast<uint64_t>(got) > ask) throw InputFailure{got < 0 && errno != 0 ? errno : EIO};
  if (got == 0) ended_ = true;
  base_ += static_cast<uint64_t>(got);
  return static_cast<size_t>(got);
}

uint64_t Input::skip(uint64_t n, int seek_fd) {
  uint64_t done = 0;
  const size_t seen = avail() < n ? avail() : static_cast<size_t>(n);
  consume(seen);
  done += seen;
  if (done < n && seek_fd >= 0 && !compressed() && !ended_ && n - done <= uint64_t{INT64_MAX}) {
    // A seek past the end of a file succeeds: the file's size tells where
    // the stream is cut (asked again only when the skip would pass it, in
    // case the file grew).
    const off_t pos = ::lseek(seek_fd, 0, SEEK_CUR);  // the descriptor may not have started at 0
    const uint64_t at = pos < 0 ? UINT64_MAX / 2 : static_cast<uint64_t>(pos), want = n - done;
    struct stat st {};
    const bool regular = file_size_ >= at + want || (::fstat(seek_fd, &st) == 0 && S_ISREG(st.st_mode));
    if (file_size_ < at + want && regular) file_size_ = static_cast<uint64_t>(st.st_size);
    const uint64_t room = file_size_ > at ? file_size_ - at : 0;
    const uint64_t step = want < room ? want : room;
    if (pos >= 0 && regular && ::lseek(seek_fd, static_cast<off_t>(step), SEEK_CUR) != -1) {
      base_ += end_ + step;
      pos_ = end_ = 0;
      if (step < want) ended_ = true;
      return done + step;
    }
  }
  while (done < n) {
    size_t k = ensure(1);
    if (k == 0) break;
    if (k > n - done) k = static_cast<size_t>(n - done);
    consume(k);
    done += k;
  }
  return done;
}

}  // namespace dpxut::stream
