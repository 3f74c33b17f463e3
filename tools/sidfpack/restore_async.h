// extract's writer thread: small files, read whole and checked by the run,
// are made (created, written, given their owner, mode, attributes and
// times, closed) on a thread of its own while the run reads on. Jobs are
// done one at a time in the order given; their outcomes come back in that
// order, to be reported by the run, which alone prints and sets the exit
// status. The run drains the queue before any file system call of its own,
// so nothing it does meets a file half made.
#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "restore_meta.h"

namespace sidfpack {

// A folder's descriptor, shared by the jobs made in it, closed by the last.
struct SharedDir {
  int fd = -1;
  explicit SharedDir(int f) : fd(f) {}
  ~SharedDir();
  SharedDir(const SharedDir&) = delete;
  SharedDir& operator=(const SharedDir&) = delete;
};

// The contents of a batch of jobs, one after another. Arenas are used
// again once the run has let go of every job in them, so the heap neither
// grows nor gives pages back from file to file.
struct Arena {
  std::vector<uint8_t> bytes;
};

struct SmallFile {
  std::shared_ptr<const SharedDir> dir;
  std::string leaf;
  std::shared_ptr<Arena> arena;  // its content: size bytes from at
  size_t at = 0, size = 0;
  const uint8_t* data() const { return arena->bytes.data() + at; }
  Meta meta;
  AttrPlan plan;
  mode_t mode = 0600;  // at creation
  bool changed = false;  // stored as changed while read
  std::string key;       // the run's name for it
  // The outcome. kTaken: the name is taken (nothing made): the run
  // replaces what stands there; kFailed: `what` failed with err (nothing
  // left under the name); kSkipped: a signal asked the run to stop.
  enum class Outcome { kMade, kTaken, kFailed, kSkipped } outcome = Outcome::kSkipped;
  const char* what = "";
  int err = 0;
  std::vector<AttrFailure> failed;  // kMade: what of the plan failed
};

class FileWriter {
 public:
  FileWriter();
  ~FileWriter();  // finishes what is queued, its outcomes untold
  FileWriter(const FileWriter&) = delete;
  FileWriter& operator=(const FileWriter&) = delete;

  // A job whose content the run appends with add() before it submits it
  // (or drops it, taking its bytes back).
  std::unique_ptr<SmallFile> job();
  void add(SmallFile& job, const uint8_t* p, size_t n) {
    job.arena->bytes.insert(job.arena->bytes.end(), p, p + n);
    job.size += n;
  }
  void drop(std::unique_ptr<SmallFile> job) { job->arena->bytes.resize(job->at); }
  // Queues the job. Jobs go to the thread in batches, and it takes a batch
  // at a time: a switch between threads costs about what making a small
  // file does. Waits while too much is queued.
  void submit(std::unique_ptr<SmallFile> job);
  // The jobs done so far, in order.
  std::vector<std::unique_ptr<SmallFile>> take_done();
  // Hands over the batch begun and waits until every job is done.
  void wait_idle();

 private:
  static constexpr size_t kBatchJobs = 32, kBatchBytes = 1u << 20, kMostBatches = 4;
  void hand_over(std::unique_lock<std::mutex>& lock);
  void run();
  static void make(SmallFile& job);

  // The run's side, touched by the run alone.
  std::vector<std::unique_ptr<SmallFile>> batch_;
  std::shared_ptr<Arena> arena_;  // the batch's
  std::vector<std::shared_ptr<Arena>> arenas_;  // all; free when held here alone

  std::mutex m_;
  std::condition_variable work_, room_;
  std::deque<std::vector<std::unique_ptr<SmallFile>>> queue_;  // batches
  std::vector<std::unique_ptr<SmallFile>> done_;
  bool busy_ = false, waiting_ = false, closing_ = false;
  std::thread thread_;
};

}  // namespace sidfpack
