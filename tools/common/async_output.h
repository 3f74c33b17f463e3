// A stream's output on a thread of its own, so that writing it overlaps
// reading the next files. Each call of the writer's callback is copied into
// a queue and written by the thread with the same calls in the same order
// (a tape gets the same records), at most kQueued calls ahead. The first
// write error is kept: the next callback call fails with it, and finish()
// returns it, so no error is lost behind the queue.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace dpxtool {

class AsyncOutput {
 public:
  explicit AsyncOutput(int fd);
  ~AsyncOutput();  // finishes
  AsyncOutput(const AsyncOutput&) = delete;
  AsyncOutput& operator=(const AsyncOutput&) = delete;

  // A dpxut_write_fn with the AsyncOutput as its context.
  static int64_t write(void* self, const void* buf, size_t size);

  // Waits until every queued byte is written and stops the thread: 0, or
  // the errno of the first failure. Later calls return the same.
  int finish();

 private:
  static constexpr size_t kQueued = 16;
  void run();

  int fd_;
  std::mutex m_;
  std::condition_variable wake_writer_, wake_host_;
  std::deque<std::vector<unsigned char>> queue_;
  std::vector<std::vector<unsigned char>> spare_;
  bool closing_ = false;
  int err_ = 0;
  std::thread thread_;
};

}  // namespace dpxtool
