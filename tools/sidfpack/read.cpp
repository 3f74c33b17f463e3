// Reading the stream for list, extract and diff (see read.h).
#include "read.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "../common/text.h"

namespace sidfpack {

StreamIn::StreamIn(Context& c, int fd) : c_(c) {
  r_ = dpxut_reader_open_fd(fd);
  if (r_ == nullptr) {
    message(c_, "%s: %s", dpxtool::shown(c_.opt.stream).c_str(), std::strerror(errno ? errno : ENOMEM));
    c_.fail(2);
    stopped_ = true;
    return;
  }
  dpxut_reader_set_read_size(r_, c_.opt.buffer_size);
  // A listing needs no content: passed over unread (by seeking in a file),
  // as tar lists, unless --verify asks for every check value.
  dpxut_reader_set_verify_skipped(r_, c_.opt.command != Command::kList || c_.opt.verify);
  buf_.resize(std::min<size_t>(c_.opt.buffer_size, 1 << 20));
  // A stream in a regular file has a known length: the progress line can
  // tell the time left from the offset read.
  struct stat st {};
  const off_t at = lseek(fd, 0, SEEK_CUR);
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && at >= 0 && at <= st.st_size)
    c_.progress.total = static_cast<uint64_t>(st.st_size - at);
}

StreamIn::StreamIn(Context& c, dpxut_reader* r) : c_(c), r_(r) {
  if (r_ == nullptr) {
    message(c_, "%s: %s", dpxtool::shown(c_.opt.stream).c_str(), std::strerror(ENOMEM));
    c_.fail(2);
    stopped_ = true;
    return;
  }
  dpxut_reader_set_read_size(r_, c_.opt.buffer_size);
  buf_.resize(std::min<size_t>(c_.opt.buffer_size, 1 << 20));
}

StreamIn::~StreamIn() {
  finish();
  dpxut_reader_free(r_);
}

void StreamIn::finish() {
  if (finished_) return;
  finished_ = true;
  if (damaged_ == 0 || c_.status >= 2) return;
  message(c_, "%s: %llu damaged record%s passed over", dpxtool::shown(c_.opt.stream).c_str(),
          static_cast<unsigned long long>(damaged_), damaged_ == 1 ? "" : "s");
  c_.fail(1);
}

// A failure of the reader, reported with the stream's name: damage costs
// the record (exit status 1 at the end), unless the run stops at the first
// one; a stream cut short costs the rest of it (exit status 2).
void StreamIn::damage() {
  message(c_, "%s: %s", dpxtool::shown(c_.opt.stream).c_str(), dpxtool::shown_message(dpxut_reader_error(r_)).c_str());
  ++damaged_;
  if (c_.opt.stop_on_error || dpxut_reader_errcode(r_) == DPXUT_E_TRUNCATED) c_.fail(2);
  if (c_.opt.stop_on_error) stopped_ = true;
}

void StreamIn::tick() {
  // Offsets count the uncompressed stream: no time left against the size
  // of a compressed file.
  if (dpxut_reader_compressed(r_) == 1) c_.progress.total = 0;
  const uint64_t at = dpxut_reader_offset(r_);
  if (at > ticked_) progress_tick(c_, at - ticked_);
  ticked_ = std::max(ticked_, at);
}

bool StreamIn::next(const dpxut_entry*& e, std::string& name) {
  while (!stopped_) {
    dpxut_entry* got = nullptr;
    const int rc = dpxut_reader_next(r_, &got);
    tick();
    if (rc == DPXUT_EOF) {
      // Input that held neither a session header nor a record (nothing,
      // zeros, noise, a media header cut short) is no stream: a backup that
      // was never written whole must not pass as an empty or damaged one.
      if (dpxut_reader_records(r_) == 0 && *dpxut_reader_codeset(r_) == '\0') {
        message(c_, "%s: not a stream (no session header and no record)", dpxtool::shown(c_.opt.stream).c_str());
        c_.fail(2);
      }
      return false;
    }
    if (rc == DPXUT_FAILED) {
      damage();
      const uint64_t at = dpxut_reader_offset(r_);
      if (at == failed_at_) {
        c_.fail(2);
        stopped_ = true;
      }
      failed_at_ = at;
      continue;
    }
    if (rc != DPXUT_OK) {
      message(c_, "%s: %s", dpxtool::shown(c_.opt.stream).c_str(),
              dpxtool::shown_message(dpxut_reader_error(r_)).c_str());
      c_.fail(2);
      stopped_ = true;
      return false;
    }
    const char* n = dpxut_entry_name(got);
    if (n == nullptr) {
      message(c_, "%s: record %llu at offset %llu: no name that converts to the locale's code set",
              dpxtool::shown(c_.opt.stream).c_str(), static_cast<unsigned long long>(dpxut_entry_record(got)),
              static_cast<unsigned long long>(dpxut_entry_offset(got)));
      c_.fail(1);
      continue;
    }
    e = got;
    name = n;
    ++c_.progress.entries;
    return true;
  }
  return false;
}

bool StreamIn::read_content(const Sink& sink) {
  if (stopped_) return false;
  for (;;) {
    const int64_t n = sink ? dpxut_reader_read_data(r_, buf_.data(), buf_.size()) : dpxut_reader_skip_data(r_);
    tick();
    if (n == 0) return true;
    if (n < 0) {
      if (n == DPXUT_FAILED) {
        damage();
      } else {
        message(c_, "%s: %s", dpxtool::shown(c_.opt.stream).c_str(),
              dpxtool::shown_message(dpxut_reader_error(r_)).c_str());
        c_.fail(2);
        stopped_ = true;
      }
      return false;
    }
    sink(buf_.data(), static_cast<size_t>(n));
  }
}

}  // namespace sidfpack
