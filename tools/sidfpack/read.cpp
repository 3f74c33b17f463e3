// Reading the stream for list and extract (see read.h).
#include "read.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "../common/text.h"

namespace sidfpack {

StreamIn::StreamIn(Context& c, int fd) : c_(c) {
  r_ = dpxut_reader_open_fd(fd);
  if (r_ == nullptr) {
    message(c_, "%s: %s", c_.opt.stream.c_str(), std::strerror(errno ? errno : ENOMEM));
    c_.fail(2);
    stopped_ = true;
    return;
  }
  dpxut_reader_set_read_size(r_, c_.opt.buffer_size);
  buf_.resize(std::min<size_t>(c_.opt.buffer_size, 1 << 20));
}

StreamIn::~StreamIn() { dpxut_reader_free(r_); }

// Damage and read failures name the stream; the reader's text names the
// record, its offset and the entry.
void StreamIn::report() {
  message(c_, "%s: %s", c_.opt.stream.c_str(), dpxut_reader_error(r_));
  c_.fail(2);
}

void StreamIn::tick() {
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
      // zeros, a media header cut short after it) is no stream: a backup
      // that was never written whole must not pass as an empty one.
      if (failed_at_ == ~0ull && dpxut_reader_records(r_) == 0 && *dpxut_reader_codeset(r_) == '\0') {
        message(c_, "%s: not a stream (no session header and no record)", c_.opt.stream.c_str());
        c_.fail(2);
      }
      return false;
    }
    if (rc == DPXUT_FAILED) {
      report();
      const uint64_t at = dpxut_reader_offset(r_);
      if (at == failed_at_) stopped_ = true;
      failed_at_ = at;
      continue;
    }
    if (rc != DPXUT_OK) {
      report();
      stopped_ = true;
      return false;
    }
    const char* n = dpxut_entry_name(got);
    if (n == nullptr) {
      message(c_, "%s: record %llu: no name that converts to the locale's code set", c_.opt.stream.c_str(),
              static_cast<unsigned long long>(dpxut_entry_record(got)));
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
  if (!sink) {
    const int rc = dpxut_reader_skip_data(r_);
    tick();
    if (rc == DPXUT_OK) return true;
    report();
    if (rc != DPXUT_FAILED) stopped_ = true;
    return false;
  }
  for (;;) {
    const int64_t n = dpxut_reader_read_data(r_, buf_.data(), buf_.size());
    tick();
    if (n == 0) return true;
    if (n < 0) {
      report();
      if (n != DPXUT_FAILED) stopped_ = true;
      return false;
    }
    sink(buf_.data(), static_cast<size_t>(n));
  }
}

}  // namespace sidfpack
