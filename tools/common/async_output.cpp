#include "async_output.h"

#include <unistd.h>

#include <cerrno>

namespace dpxtool {

AsyncOutput::AsyncOutput(int fd) : fd_(fd), thread_([this] { run(); }) {}

AsyncOutput::~AsyncOutput() { finish(); }

int64_t AsyncOutput::write(void* self, const void* buf, size_t size) {
  auto& o = *static_cast<AsyncOutput*>(self);
  if (const int err = o.err_.load(std::memory_order_relaxed)) {
    errno = err;
    return -1;
  }
  const auto* p = static_cast<const unsigned char*>(buf);
  o.batch_.bytes.insert(o.batch_.bytes.end(), p, p + size);
  o.batch_.ends.push_back(o.batch_.bytes.size());
  if (o.batch_.bytes.size() >= kBatchBytes) o.hand_over();
  return static_cast<int64_t>(size);
}

void AsyncOutput::hand_over() {
  if (batch_.ends.empty()) return;
  std::unique_lock lock(m_);
  wake_host_.wait(lock, [&] { return queue_.size() < kQueued; });
  queue_.push_back(std::move(batch_));
  batch_ = {};
  if (!spare_.empty()) {
    batch_ = std::move(spare_.back());
    spare_.pop_back();
  }
  if (sleeping_) wake_writer_.notify_one();
}

void AsyncOutput::run() {
  std::unique_lock lock(m_);
  for (;;) {
    if (queue_.empty() && !closing_) {
      sleeping_ = true;
      wake_writer_.wait(lock, [&] { return closing_ || !queue_.empty(); });
      sleeping_ = false;
    }
    if (queue_.empty()) return;  // closing, all written
    Batch batch = std::move(queue_.front());
    queue_.pop_front();
    wake_host_.notify_one();
    lock.unlock();
    size_t from = 0;
    for (const size_t end : batch.ends) {
      for (size_t at = from; err_.load(std::memory_order_relaxed) == 0 && at < end;) {
        const ssize_t n = ::write(fd_, batch.bytes.data() + at, end - at);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) err_.store(n == 0 ? EIO : errno, std::memory_order_relaxed);
        else at += static_cast<size_t>(n);
      }
      from = end;
    }
    batch.bytes.clear();
    batch.ends.clear();
    lock.lock();
    spare_.push_back(std::move(batch));
  }
}

int AsyncOutput::finish() {
  if (thread_.joinable()) {
    hand_over();
    {
      std::lock_guard lock(m_);
      closing_ = true;
    }
    wake_writer_.notify_one();
    thread_.join();
  }
  return err_.load(std::memory_order_relaxed);
}

}  // namespace dpxtool
