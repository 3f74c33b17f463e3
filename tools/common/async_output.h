// A stream's output on a thread of its own, so that writing it overlaps
// reading the next files. The writer's callback calls are gathered into
// batches of about a mebibyte, which the thread writes with the same calls
// in the same order (a tape gets the same records); the host hands over a
// batch at a time (a switch between threads costs more than copying a
// call's bytes) and waits only when several are queued. The first write
// error is kept: the next callback call fails with it, and finish()
// returns it, so no error is lost behind the queue.
#pragma once

#include <atomic>
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

  // Hands over what is gathered, waits until every byte is written and
  // stops the thread: 0, or the errno of the first failure. Later calls
  // return the same.
  int finish();

 private:
  static constexpr size_t kBatchBytes = 1u << 20, kQueued = 4;
  // Calls' bytes one after another; ends[i] is where call i ends.
  struct Batch {
    std::vector<unsigned char> bytes;
    std::vector<size_t> ends;
  };
  void hand_over();
  void run();

  int fd_;
  Batch batch_;  // the host's, being gathered
  std::mutex m_;
  std::condition_variable wake_writer_, wake_host_;
  std::deque<Batch> queue_;
  std::vector<Batch> spare_;
  bool closing_ = false, sleeping_ = false;
  std::atomic<int> err_{0};
  std::thread thread_;
};

}  // namespace dpxtool
