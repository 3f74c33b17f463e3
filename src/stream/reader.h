// The reader's state: the input, what the stream's headers said, the entry
// being read and the last failure. reader_stream.cpp walks the stream,
// reader_data.cpp streams content, reader.cpp holds the exported functions.
#pragma once

#include <dpxut.h>

#include <cstdarg>
#include <cstddef>
#include <cstdint>

#include "common/heap.h"
#include "stream/describe.h"
#include "stream/entry.h"
#include "stream/input.h"

namespace dpxut::stream {

// Thrown inside the reader after the failure has been recorded; the
// exported functions return `result`.
struct ReaderStop {
  int result;
};

// Where a section lies in the input window: its length, whether its
// closing field holds a check value, where that field's data begins, and
// whether the walk jumped over bytes it did not decode (an offset field).
struct Extent {
  size_t length = 0;
  bool checked = false;
  bool jumped = false;
  size_t check_at = 0;    // where the closing field's check value lies
  size_t closing_at = 0;  // where the closing field begins (after any filler)
};

}  // namespace dpxut::stream

struct dpxut_reader {
  using String = dpxut::HeapString;

  explicit dpxut_reader(dpxut_read_fn fn, void* ctx) : in(fn, ctx) {}
  ~dpxut_reader();

  dpxut::stream::Input in;
  int fd = -1;  // the descriptor of open_fd / open_path
  bool owns_fd = false;
  // Content passed over is verified (read and its check value compared);
  // when not, it is skipped unread, by seeking where fd is a seekable file
  // (seekable: -1 not yet known).
  bool verify_skipped = true;
  int seekable = -1;
  bool crc_unchecked = false;  // the current record's content was skipped unread
  bool started = false;
  bool broken = false;  // FATAL: only _free is useful

  // What the stream's headers said.
  String codeset;
  bool same_codeset = true;
  bool tagged = false;  // a session header of our format: trailer and block size apply
  uint32_t block_size = 1;
  bool trailer_seen = false;  // the last section was the trailer
  bool end_reported = false;  // a cut or missing end was reported: the end is quiet
  bool damaged = false;       // a failure was reported: the trailer's counts no longer apply
  bool resync = false;        // looking for the next record that verifies
  bool quiet_parts = false;   // later parts of a failed file are passed over silently

  uint64_t records = 0, content_total = 0;
  HVDPRecordHeaderInfo info{};

  // The current entry and its content.
  enum class Data { kNone, kContent, kDone, kFailed } data = Data::kNone;
  dpxut_entry entry, scratch;
  dpxut::stream::RecordFacts facts;  // of the current record
  uint64_t content_left = 0;         // content bytes of the current record not yet passed
  uint64_t tail = 0;                 // record bytes after the content
  uint32_t crc = 0;
  uint64_t part_next = 0;  // file offset the next part must start at

  // Where the reader is, for the prefix of errors ("record 3 at offset
  // 10752 (name)"): kept as facts, made into text by where().
  uint64_t where_offset = 0, where_number = 0;
  const dpxut_entry* where_named = nullptr;  // the reader's own entry or scratch
  const char* where_what = "";
  String where() const;
  uint32_t errcode = 0;
  String error;

  // Failures (reader.cpp): record the text after `where` and stop.
  // Failures are not recorded while resync is set.
  [[noreturn]] void fail(uint32_t code, const char* fmt, ...) __attribute__((format(printf, 3, 4)));
  // The stream ends inside something: reported once (DPXUT_E_TRUNCATED).
  [[noreturn]] void cut(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
  // where: "record N at offset O (name)" (what null; N the next record
  // unless given), "offset O" (what ""), or "what at offset O".
  void set_where(uint64_t offset, const dpxut_entry* named, const char* what = nullptr, uint64_t number = 0);
  void set_error(uint32_t code, const char* fmt, va_list ap);

  // The stream (reader_stream.cpp).
  int next_entry();
  void skip_filler();
  uint32_t head_at(size_t at, size_t limit);
  dpxut::stream::Extent section_extent(size_t at, uint32_t head, size_t limit);
  size_t checked_section(size_t at, uint32_t head, size_t limit, const char* what);
  void read_record(dpxut_entry& e);
  void read_short_record();
  void read_headers(uint32_t head);
  void read_trailer();
  void skip_section(uint32_t head);
  void skip_pad();
  bool scan();
  int at_end();

  // Content (reader_data.cpp).
  int64_t read_data(uint8_t* buf, size_t size);
  void end_record();
  void read_change_mark();
  void read_list();
  void next_part();
  void skip_bytes(uint64_t n);
};
