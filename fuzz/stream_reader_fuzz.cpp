// The streaming reader over any bytes. The first byte chooses how many
// bytes each call of the read callback returns, the second the sizes of the
// content buffers; the rest is the stream. Every entry is walked through
// its accessors and its content read; a failure is followed by the next
// call, as a host goes on after a damaged record. The reader must end: each
// failed call moves on at least one byte, so the calls stay bounded by the
// stream's length.
#include <dpxut.h>

#include <cwchar>

#include "fuzz_input.h"

namespace {

struct Source {
  const uint8_t* p;
  size_t left;
  uint8_t pattern;
  unsigned calls;
};

// Counts from 1 byte up, a pattern chosen by the input.
int64_t source_read(void* ctx, void* buf, size_t size) {
  auto* s = static_cast<Source*>(ctx);
  const size_t step = s->pattern == 0 ? size : 1 + (s->pattern & 0x7F) * (s->pattern & 0x80 ? ++s->calls % 5 + 1 : 1);
  size_t n = step < size ? step : size;
  if (n > s->left) n = s->left;
  std::memcpy(buf, s->p, n);
  s->p += n;
  s->left -= n;
  return static_cast<int64_t>(n);
}

volatile size_t sink;

void walk(const dpxut_entry* e) {
  for (const char* t : {dpxut_entry_name(e), dpxut_entry_name_utf8(e), dpxut_entry_symlink(e), dpxut_entry_hardlink(e),
                        dpxut_entry_uname(e), dpxut_entry_gname(e)})
    if (t != nullptr) sink = sink + std::strlen(t);
  if (const wchar_t* n = dpxut_entry_name_wide(e)) sink = std::wcslen(n);
  uint32_t type, length;
  const void* data;
  for (size_t i = 0; dpxut_entry_extension(e, i, &type, &data, &length) == DPXUT_OK; ++i) {
    const auto* b = static_cast<const uint8_t*>(data);
    for (uint32_t k = 0; k < length; ++k) sink = sink + b[k];
  }
  const char* name;
  size_t n;
  for (size_t i = 0; dpxut_entry_xattr(e, i, &name, &data, &n) == DPXUT_OK; ++i) {
    check(i < dpxut_entry_xattr_count(e) && name[0] != '\0', "attributes are named and counted");
    sink = std::strlen(name) + n + (n != 0 ? static_cast<const uint8_t*>(data)[n - 1] : 0);
  }
  uint64_t offset, span, from = 0, sum = 0;
  for (size_t i = 0; dpxut_entry_sparse(e, i, &offset, &span) == DPXUT_OK; ++i) {
    check(offset >= from && offset <= dpxut_entry_size(e) && span <= dpxut_entry_size(e) - offset,
          "sparse regions ascend within the size");
    from = offset + span;
    sum += span;
  }
  check(sum == dpxut_entry_sparse_data(e), "sparse regions add up to their content");
  sink = dpxut_entry_rdev(e) + static_cast<size_t>(dpxut_entry_changed(e));
}

}  // namespace

void fuzz(const uint8_t* data, size_t size) {
  FuzzInput in{data, size};
  const uint8_t pattern = in.byte(), sizes = in.byte();
  Source src{in.p, in.left, pattern, 0};
  const size_t stream = in.left;
  dpxut_reader* r = dpxut_reader_new(source_read, &src);
  check(r != nullptr, "a reader is made");
  size_t nexts = 0, reads = 0, content = 0;
  dpxut_entry* e = nullptr;
  int rc;
  // A compressed stream is bounded by the bytes it holds so far: the offset.
  auto bound = [&]() -> size_t { return dpxut_reader_compressed(r) ? dpxut_reader_offset(r) : stream; };
  for (;;) {
    rc = dpxut_reader_next(r, &e);
    check(++nexts <= bound() + 3, "next calls stay bounded by the stream's length");
    check(dpxut_reader_offset(r) <= bound(), "the offset stays within the stream");
    if (rc == DPXUT_EOF || rc == DPXUT_FATAL) break;
    check(rc == DPXUT_OK || rc == DPXUT_FAILED, "next returns a known result");
    if (rc == DPXUT_FAILED) {
      check(dpxut_reader_error(r)[0] != '\0', "a failure says what failed");
      continue;
    }
    walk(e);
    const size_t before = content;
    for (unsigned i = 0;; ++i) {
      const size_t n = 1 + (sizes * (i + 1)) % 1500;
      Block buf(n);
      const int64_t got = dpxut_reader_read_data(r, buf.at, n);
      check(got <= static_cast<int64_t>(n), "read_data fills at most its buffer");
      if (got == 0 && dpxut_entry_sparse_count(e) != 0)
        check(content - before == dpxut_entry_sparse_data(e), "a sparse file's content is its regions' bytes");
      if (got <= 0) break;
      content += static_cast<size_t>(got);
      check(++reads <= bound() + 2 && content <= bound(), "content stays within the stream");
    }
  }
  check(dpxut_reader_next(r, &e) == rc, "the end stays the end");
  dpxut_reader_free(r);
}
