// The stream as list, extract and diff read it: a dpxut_reader over the
// stream's descriptor that reports every damaged record and goes on with
// the next one that verifies, and feeds the progress line.
//
// Damage policy: a damaged record or content is reported (the reader's
// text names the record, its offset and the entry when known) and passed
// over; at the end "N damaged records passed over" and exit status 1. With
// --stop-on-error the first damage ends the run with exit status 2. A
// stream that ends early (cut short, no end marker), input that is no
// stream, and read failures are fatal: exit status 2.
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
  // Over a reader the caller made (convert: input read ahead); freed here.
  StreamIn(Context& c, dpxut_reader* r);
  // Reports the count of damaged records passed over (see finish).
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

  // Whether the run goes on after a failure of read_content: false once
  // the stream is given up (fatal, or --stop-on-error).
  bool going() const { return !stopped_; }

  // Ends the run's reading: reports the damaged records passed over (exit
  // status 1). Called by the destructor when not before.
  void finish();

 private:
  void damage();
  void tick();

  Context& c_;
  dpxut_reader* r_ = nullptr;
  std::vector<uint8_t> buf_;
  bool stopped_ = false;
  bool finished_ = false;
  uint64_t damaged_ = 0;        // damaged records and contents reported
  uint64_t ticked_ = 0;         // stream offset the progress line has counted
  uint64_t failed_at_ = ~0ull;  // offset of the last failure, to stop a reader that makes no headway
};

}  // namespace sidfpack
