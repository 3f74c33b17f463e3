// The writer's state: settings, the output buffer over the write callback,
// the record being written and the last failure. writer_output.cpp holds
// the buffer, writer_records.cpp the stream layout, writer.cpp the exported
// functions.
#pragma once

#include <dpxut.h>

#include <cstdarg>
#include <cstddef>
#include <cstdint>

#include "common/heap.h"
#include "stream/entry.h"
#include "stream/format.h"
#include "stream/zstd_io.h"

namespace dpxut::stream {

// Thrown inside the writer after the failure has been recorded; the
// exported functions turn it into their result.
struct WriterStop {
  int result;
};

// Appends an extension entry: type, 4 reserved zero bytes, length, data.
void add_ext(dpxut::HeapVector<uint8_t>& area, uint32_t type, const void* data, uint32_t length);

}  // namespace dpxut::stream

struct dpxut_writer {
  using String = dpxut::HeapString;
  template <typename T>
  using Vector = dpxut::HeapVector<T>;

  // Destination.
  dpxut_write_fn write = nullptr;
  void* ctx = nullptr;
  int fd = -1;  // the descriptor of open_fd / open_path
  bool owns_fd = false;
  // Compressing: write and ctx lead to it, and it to the host's callback.
  dpxut::stream::CompressorPtr zstd;

  // Settings.
  uint32_t block_size = dpxut::stream::kDefaultBlockSize;
  uint64_t part_size = dpxut::stream::kMaxPart;
  bool time_set = false, host_set = false;
  uint32_t time = 0;
  String host;

  enum class State { kNew, kStarted, kFinished, kBroken } state = State::kNew;

  // Output buffer: bytes [0, used) wait for the callback; flushed counts
  // those handed over before them.
  Vector<uint8_t> buf;
  size_t used = 0;
  uint64_t flushed = 0;

  // Record header pieces, reused from record to record (ours, freed with
  // free: the library grows the name buffer).
  HVDPRecordHeaderInfo info{};
  HVDPNameBuffer* names = nullptr;
  HVDPDataSetInfo* block = nullptr;
  Vector<uint8_t> area;  // the current entry's extension area, without kExtPart

  // Zeros the writer puts into the content itself: `zeros` bytes after the
  // host's first `at` content bytes (the holes between sparse regions it
  // merged to make the map fit), in order; next is the first not yet put.
  struct Fill {
    uint64_t at, zeros;
  };
  Vector<Fill> fills;
  size_t fill_next = 0;
  Vector<dpxut_entry::Region> regions;  // the map stored (merged)

  // The current entry.
  bool in_entry = false;
  bool has_content = false;  // a regular file (not a hard link): content follows
  bool list_content = false; // a directory whose list of names is its record's content
  String entry_name;        // for messages
  bool split = false;        // its records carry kExtPart
  uint64_t entry_size = 0;   // content bytes stored: the host's and the fills
  uint64_t entry_done = 0;   // content bytes taken
  uint64_t host_size = 0;    // content bytes expected from the host
  uint64_t host_done = 0;    // content bytes the host gave
  uint64_t part_left = 0;    // content bytes the current record still holds
  uint64_t part_length = 0;  // content bytes of the current record
  uint32_t crc = 0;          // of the current record's content
  bool changed = false;      // marked as changed while read: flagged in its last data check

  uint32_t records = 0;  // the trailer's count is 32-bit
  uint64_t content_bytes = 0;

  uint32_t errcode = 0;
  String error;

  ~dpxut_writer();

  // Output (writer_output.cpp).
  uint64_t offset() const { return flushed + used; }
  void flush();
  // The callback's calls for n bytes at p, which follow those flushed.
  void hand_over(const uint8_t* p, size_t n);
  void put(const uint8_t* p, size_t n);
  // Runs put(buffer, capacity) -> bytes on at least `need` bytes: in place
  // when the buffer can hold them, else through a scratch area.
  template <class Put>
  void emit(size_t need, Put&& put_fn);
  void pad_to_block();

  // Stream layout (writer_records.cpp).
  void begin_stream();
  int begin_entry(const dpxut_entry& e);
  // The extension area (writer_area.cpp): fills area, regions and fills;
  // content: a regular file with content. Returns the content bytes to
  // store; *dropped counts the extended attributes (and a directory's list of names) left out.
  uint64_t build_area(const dpxut_entry& e, uint64_t size, const char* target, bool content, size_t* dropped);
  void plan_sparse(const dpxut_entry& e, size_t most);
  void feed(const uint8_t* p, size_t n);  // host content, with the fills
  void put_zeros(uint64_t n);
  void begin_record();
  void end_record();
  void take(const uint8_t* p, size_t n);  // content, through the parts
  int end_entry();
  void end_stream();

  // Failures: record them and stop with `result` (FATAL breaks the writer).
  [[noreturn]] void fail(int result, uint32_t code, const char* fmt, ...) __attribute__((format(printf, 4, 5)));
  // Records a warning and returns DPXUT_WARN.
  int warn(uint32_t code, const char* fmt, ...) __attribute__((format(printf, 3, 4)));
  void set_error(uint32_t code, const char* fmt, va_list ap);
};

template <class Put>
void dpxut_writer::emit(size_t need, Put&& put_fn) {
  if (buf.size() - used < need) flush();
  if (buf.size() - used >= need) {
    used += put_fn(buf.data() + used, static_cast<uint32_t>(buf.size() - used));
  } else {
    Vector<uint8_t> scratch(need);
    const size_t n = put_fn(scratch.data(), static_cast<uint32_t>(need));
    put(scratch.data(), n);
  }
}
