#include "restore_async.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include "restore_signal.h"

namespace sidfpack {

SharedDir::~SharedDir() {
  if (fd >= 0) close(fd);
}

FileWriter::FileWriter() : thread_([this] { run(); }) {}

FileWriter::~FileWriter() {
  std::unique_lock lock(m_);
  hand_over(lock);
  closing_ = true;
  lock.unlock();
  work_.notify_one();
  thread_.join();
}

std::unique_ptr<SmallFile> FileWriter::job() {
  if (!arena_) {
    for (const auto& a : arenas_)
      if (a.use_count() == 1) arena_ = a;  // jobs let go of in this thread alone
    if (!arena_) arena_ = arenas_.emplace_back(std::make_shared<Arena>());
    arena_->bytes.clear();
  }
  auto j = std::make_unique<SmallFile>();
  j->arena = arena_;
  j->at = arena_->bytes.size();
  return j;
}

void FileWriter::hand_over(std::unique_lock<std::mutex>& lock) {
  arena_.reset();  // the thread reads it from now on
  if (batch_.empty()) return;
  room_.wait(lock, [&] { return queue_.size() < kMostBatches; });
  queue_.push_back(std::move(batch_));
  batch_.clear();
  work_.notify_one();
}

void FileWriter::submit(std::unique_ptr<SmallFile> job) {
  batch_.push_back(std::move(job));
  if (batch_.size() < kBatchJobs && arena_->bytes.size() < kBatchBytes) return;
  std::unique_lock lock(m_);
  waiting_ = true;
  hand_over(lock);
  waiting_ = false;
}

std::vector<std::unique_ptr<SmallFile>> FileWriter::take_done() {
  std::vector<std::unique_ptr<SmallFile>> out;
  std::lock_guard lock(m_);
  out.swap(done_);
  return out;
}

void FileWriter::wait_idle() {
  std::unique_lock lock(m_);
  waiting_ = true;
  hand_over(lock);
  room_.wait(lock, [&] { return queue_.empty() && !busy_; });
  waiting_ = false;
}

void FileWriter::run() {
  // Signals go to the run's thread, whose handler removes the file armed
  // here when one comes.
  sigset_t all;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, nullptr);
  std::unique_lock lock(m_);
  for (;;) {
    work_.wait(lock, [&] { return closing_ || !queue_.empty(); });
    if (queue_.empty()) return;  // closing, all done
    std::vector<std::unique_ptr<SmallFile>> jobs = std::move(queue_.front());
    queue_.pop_front();
    busy_ = true;
    if (waiting_) room_.notify_all();  // room for a batch
    lock.unlock();
    for (const auto& job : jobs) {
      if (stop_requested()) job->outcome = SmallFile::Outcome::kSkipped;
      else make(*job);
    }
    lock.lock();
    for (auto& job : jobs) done_.push_back(std::move(job));
    busy_ = false;
    if (waiting_) room_.notify_all();
  }
}

// As the run makes a small file itself: created under its name (armed, so a
// signal removes it), written, given its attributes, closed; on a failure
// nothing stays under the name.
void FileWriter::make(SmallFile& job) {
  const int dir = job.dir->fd;
  const char* leaf = job.leaf.c_str();
  temp_arm(dir, leaf);
  const int fd = openat(dir, leaf, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, job.mode);
  if (fd < 0) {
    job.err = errno;
    temp_disarm();
    job.outcome = job.err == EEXIST ? SmallFile::Outcome::kTaken : SmallFile::Outcome::kFailed;
    job.what = "cannot create";
    return;
  }
  int err = 0;
  for (size_t at = 0; at < job.size;) {
    const ssize_t w = ::write(fd, job.data() + at, job.size - at);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      err = w == 0 ? ENOSPC : errno;
      break;
    }
    at += static_cast<size_t>(w);
  }
  if (err == 0) execute(job.plan, job.meta, fd, job.failed);
  if (close(fd) != 0 && err == 0) err = errno;
  if (err != 0) {
    unlinkat(dir, leaf, 0);
    job.outcome = SmallFile::Outcome::kFailed;
    job.what = "write error";
    job.err = err;
  } else {
    job.outcome = SmallFile::Outcome::kMade;
  }
  temp_disarm();
}

}  // namespace sidfpack
