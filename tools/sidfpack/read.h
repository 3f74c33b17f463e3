// The stream as list and extract read it: a dpxut_reader over the stream's
// descriptor that reports every damaged record (exit status 2) and goes on
// with the next one, and feeds the progress line.
#pragma once

#include <dpxut.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "context.h"

namespace sidfpack {

// Takes the bytes of an entry's content in order.
using Sink = std::function<void(const uint8_t*, size_t)>;

class StreamIn {
 public:
  StreamIn(Context& c, int fd);
  ~StreamIn();
  StreamIn(const StreamIn&) = delete;
  StreamIn& operator=(const StreamIn&) = delete;

  // The next entry that reads; false at the end of the stream or after a
  // failure it cannot go on from (reported). An entry without a name this
  // locale can show is reported and passed over.
  bool next(const dpxut_entry*& e, std::string& name);

  // The current entry's content through sink (null: passed over, still
  // verified). False when it is damaged or unreadable (reported): the
  // bytes already given may be wrong.
  bool read_content(const Sink& sink);

 private:
  void report();
  void tick();

  Context& c_;
  dpxut_reader* r_ = nullptr;
  std::vector<uint8_t> buf_;
  bool stopped_ = false;
  uint64_t ticked_ = 0;       // stream offset the progress line has counted
  uint64_t failed_at_ = ~0ull;  // offset of the last failure, to stop a reader that makes no headway
};

}  // namespace sidfpack
