#include "async_output.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace dpxtool {

AsyncOutput::AsyncOutput(int fd) : fd_(fd), thread_([this] { run(); }) {}

AsyncOutput::~AsyncOutput() { finish(); }

int64_t AsyncOutput::write(void* self, const void* buf, size_t size) {
  auto& o = *static_cast<AsyncOutput*>(self);
  std::unique_lock lock(o.m_);
  o.wake_host_.wait(lock, [&] { return o.err_ != 0 || o.closing_ || o.queue_.size() < kQueued; });
  if (o.err_ != 0 || o.closing_) {
    errno = o.err_ != 0 ? o.err_ : EBADF;
    return -1;
  }
  std::vector<unsigned char> chunk;
  if (!o.spare_.empty()) {
    chunk = std::move(o.spare_.back());
    o.spare_.pop_back();
  }
  lock.unlock();
  const auto* p = static_cast<const unsigned char*>(buf);
  chunk.assign(p, p + size);  // outside the lock: the thread writes meanwhile
  lock.lock();
  o.queue_.push_back(std::move(chunk));
  o.wake_writer_.notify_one();
  return static_cast<int64_t>(size);
}

void AsyncOutput::run() {
  std::unique_lock lock(m_);
  for (;;) {
    wake_writer_.wait(lock, [&] { return closing_ || !queue_.empty(); });
    if (queue_.empty()) return;  // closing, all written
    std::vector<unsigned char> chunk = std::move(queue_.front());
    queue_.pop_front();
    const bool failed = err_ != 0;
    lock.unlock();
    int err = 0;
    for (size_t at = 0; !failed && at < chunk.size();) {
      const ssize_t n = ::write(fd_, chunk.data() + at, chunk.size() - at);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        err = n == 0 ? EIO : errno;
        break;
      }
      at += static_cast<size_t>(n);
    }
    lock.lock();
    if (err != 0 && err_ == 0) err_ = err;
    spare_.push_back(std::move(chunk));
    wake_host_.notify_all();
  }
}

int AsyncOutput::finish() {
  {
    std::lock_guard lock(m_);
    closing_ = true;
  }
  wake_writer_.notify_one();
  wake_host_.notify_all();
  if (thread_.joinable()) thread_.join();
  return err_;
}

}  // namespace dpxtool
