// Streams in memory for the stream tests: a write callback, a read callback
// that returns at most a set number of bytes a call, a writer that reuses one
// entry, and a reader's results as one line per entry.
#pragma once

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "dpxut.h"
#include "support/bytes.h"

namespace dpxut::test {

using Bytes = std::vector<uint8_t>;

// Read sizes from one byte a call up to more than a block.
constexpr size_t kReadSizes[] = {1, 7, 4096};

// Takes at most chunk bytes a call (0: all of them); fails with fail_errno when set.
struct Sink {
  Bytes out;
  size_t chunk = 0;
  int fail_errno = 0;
};
inline int64_t sink_write(void* ctx, const void* buf, size_t size) {
  auto* s = static_cast<Sink*>(ctx);
  if (s->fail_errno != 0) return errno = s->fail_errno, -1;
  const size_t n = s->chunk != 0 && size > s->chunk ? s->chunk : size;
  s->out.insert(s->out.end(), static_cast<const uint8_t*>(buf), static_cast<const uint8_t*>(buf) + n);
  return static_cast<int64_t>(n);
}

struct Source {
  const Bytes* bytes;
  size_t at, most;
};
inline int64_t source_read(void* ctx, void* buf, size_t size) {
  auto* s = static_cast<Source*>(ctx);
  const size_t n = std::min({size, s->most, s->bytes->size() - s->at});
  if (n != 0) std::memcpy(buf, s->bytes->data() + s->at, n);
  s->at += n;
  return static_cast<int64_t>(n);
}

struct Writer {
  Sink sink;
  dpxut_writer* w = dpxut_writer_new(sink_write, &sink);
  dpxut_entry* e = dpxut_entry_new();
  Writer() = default;
  Writer(const Writer&) = delete;
  ~Writer() { dpxut_writer_free(w), dpxut_entry_free(e); }
  dpxut_entry* entry(const char* name, uint32_t mode, uint64_t size = 0) {
    dpxut_entry_clear(e);
    dpxut_entry_set_name(e, name);
    dpxut_entry_set_mode(e, mode);
    dpxut_entry_set_size(e, size);
    return e;
  }
  int add(const std::string& data = "") {
    const int rc = dpxut_writer_add(w, e);
    EXPECT_EQ(data.empty() ? 0 : dpxut_writer_write_data(w, data.data(), data.size()), int64_t(data.size()));
    return rc;
  }
};

inline std::string cause(uint32_t c) {
  static const char* const names[] = {"IO",     "TRUNCATED", "CHECK", "DATA_CHECK", "DAMAGED",
                                      "FORMAT", "STATE",     "SIZE",  "PART",       "NAME"};
  return c - DPXUT_E_IO < std::size(names) ? names[c - DPXUT_E_IO] : std::to_string(c);
}

// One line per result: "name=content" and what else the entry holds
// (";rdev=N", ";u=user", ";->symlink", ";=>hardlink", ";attr=value",
// ";@offset+length", ";changed"); "name!CAUSE" when its content failed,
// "!CAUSE" for a failed next. The content is read into buffers of varying size.
inline std::vector<std::string> read_all(const Bytes& bytes, size_t most, std::vector<std::string>* errors = nullptr) {
  Source src{&bytes, 0, most};
  dpxut_reader* r = dpxut_reader_new(source_read, &src);
  std::vector<std::string> lines;
  dpxut_entry* e = nullptr;
  for (int rc, calls = 0; calls < 100 && (rc = dpxut_reader_next(r, &e)) != DPXUT_EOF && rc != DPXUT_FATAL; ++calls) {
    std::string data, line = rc == DPXUT_OK ? dpxut_entry_name(e) : "";
    char buf[13];
    int64_t n = -1;
    while (rc == DPXUT_OK && (n = dpxut_reader_read_data(r, buf, 1 + data.size() % sizeof buf)) > 0)
      data.append(buf, n);
    if (n < 0) {
      lines.push_back(line + "!" + cause(dpxut_reader_errcode(r)));
      if (errors != nullptr) errors->push_back(dpxut_reader_error(r));
      continue;
    }
    line += "=" + data;
    if (dpxut_entry_rdev(e) != 0) line += ";rdev=" + std::to_string(dpxut_entry_rdev(e));
    if (*dpxut_entry_uname(e) != '\0') line += std::string(";u=") + dpxut_entry_uname(e);
    if (const char* t = dpxut_entry_symlink(e)) line += std::string(";->") + t;
    if (const char* t = dpxut_entry_hardlink(e)) line += std::string(";=>") + t;
    const char* name;
    const void* value;
    size_t size;
    for (size_t i = 0; dpxut_entry_xattr(e, i, &name, &value, &size) == DPXUT_OK; ++i)
      line += std::string(";") + name + "=" + std::string(static_cast<const char*>(value), size);
    uint64_t offset, length;
    for (size_t i = 0; dpxut_entry_sparse(e, i, &offset, &length) == DPXUT_OK; ++i)
      line += ";@" + std::to_string(offset) + "+" + std::to_string(length);
    lines.push_back(dpxut_entry_changed(e) ? line + ";changed" : line);
  }
  dpxut_reader_free(r);
  return lines;
}

}  // namespace dpxut::test
