// The reader's exported functions. Each checks its arguments and catches
// everything: a damaged record gives DPXUT_FAILED and the next call goes
// on; a failed read callback or a refused allocation gives DPXUT_FATAL and
// breaks the handle.
#include "stream/reader.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "common/export.h"

using dpxut::stream::InputFailure;
using dpxut::stream::ReaderStop;

dpxut_reader::~dpxut_reader() {
  std::free(info.nameBuffer);
  std::free(info.dataSetInfo);
  std::free(info.savedData);
  if (owns_fd) close(fd);
}

// Only the facts are kept on the way through the stream; the text is made
// when a failure needs it.
void dpxut_reader::set_where(uint64_t offset, const dpxut_entry* named, const char* what, uint64_t number) {
  where_offset = offset;
  where_named = named;
  where_what = what;
  where_number = number != 0 ? number : records + 1;
}

dpxut_reader::String dpxut_reader::where() const {
  char b[96];
  const auto offset = static_cast<unsigned long long>(where_offset);
  if (where_what == nullptr)
    std::snprintf(b, sizeof b, "record %llu at offset %llu", static_cast<unsigned long long>(where_number), offset);
  else if (*where_what == '\0')
    std::snprintf(b, sizeof b, "offset %llu", offset);
  else
    std::snprintf(b, sizeof b, "%s at offset %llu", where_what, offset);
  String text = b;
  if (where_named == nullptr) return text;
  // The name as text on one line: control bytes and backslashes escaped.
  const String& name = where_named->has_name ? where_named->name : where_named->name_utf8;
  text += " (";
  for (const unsigned char c : name) {
    if (c < 0x20 || c == 0x7F || c == '\\') {
      std::snprintf(b, sizeof b, "\\%03o", c);
      text += b;
    } else {
      text += static_cast<char>(c);
    }
  }
  text += ')';
  return text;
}

void dpxut_reader::set_error(uint32_t code, const char* fmt, va_list ap) {
  char b[256];
  std::vsnprintf(b, sizeof b, fmt, ap);
  errcode = code;
  error = where();
  error += ": ";
  error += b;
}

void dpxut_reader::fail(uint32_t code, const char* fmt, ...) {
  if (!resync) {
    va_list ap;
    va_start(ap, fmt);
    set_error(code, fmt, ap);
    va_end(ap);
  }
  throw ReaderStop{DPXUT_FAILED};
}

void dpxut_reader::cut(const char* fmt, ...) {
  if (!resync) {
    end_reported = true;
    va_list ap;
    va_start(ap, fmt);
    set_error(DPXUT_E_TRUNCATED, fmt, ap);
    va_end(ap);
    uint32_t code = 0;
    if (const char* why = in.failure(&code)) {  // the compressed stream gave out here
      error += ": ";
      error += why;
    }
  }
  throw ReaderStop{DPXUT_FAILED};
}

namespace {

// A FATAL result: the handle is broken and says why.
int fatal(dpxut_reader* r, uint32_t code, const char* text) noexcept {
  r->broken = true;
  r->errcode = code;
  try {
    r->error = r->where();
    r->error += r->error.empty() ? "" : ": ";
    r->error += text;
  } catch (...) {
    r->error.clear();  // no allocation: keeps the old block or none
  }
  return DPXUT_FATAL;
}

// Runs a body that returns a result, turning what it throws into results.
template <class Body>
auto guarded(dpxut_reader* r, Body&& body) noexcept -> decltype(body()) {
  try {
    return body();
  } catch (const ReaderStop& s) {
    return s.result;
  } catch (const InputFailure& f) {
    char b[160];
    std::snprintf(b, sizeof b, "read error: %s", std::strerror(f.error));
    return fatal(r, DPXUT_E_IO, b);
  } catch (const std::bad_alloc&) {
    return fatal(r, HVDPUT_OUT_OF_MEMORY, "out of memory");
  } catch (...) {
    return fatal(r, DPXUT_E_STATE, "internal failure");
  }
}

int64_t read_fd(void* ctx, void* buf, size_t size) {
  const int fd = static_cast<dpxut_reader*>(ctx)->fd;
  for (;;) {
    const ssize_t n = ::read(fd, buf, size);
    if (n >= 0 || errno != EINTR) return n;
  }
}

dpxut_reader* make(dpxut_read_fn fn, void* ctx, int fd, bool owns) {
  void* p = dpxut::heap_malloc(sizeof(dpxut_reader));
  if (p == nullptr) {
    errno = ENOMEM;
    return nullptr;
  }
  auto* r = new (p) dpxut_reader(fn, ctx != nullptr ? ctx : p);
  r->fd = fd;
  r->owns_fd = owns;
  return r;
}

// A failure of the entry's content: later calls of read_data repeat it and
// the next entry is searched for.
int data_failed(dpxut_reader* r, int result) {
  if (result == DPXUT_FAILED) {
    r->data = dpxut_reader::Data::kFailed;
    r->resync = true;
    r->damaged = true;
  }
  return result;
}

}  // namespace

DPXUT_EXPORT dpxut_reader* dpxut_reader_new(dpxut_read_fn read, void* ctx) {
  if (read == nullptr) {
    errno = EINVAL;
    return nullptr;
  }
  return make(read, ctx, -1, false);
}

DPXUT_EXPORT dpxut_reader* dpxut_reader_open_fd(int fd) {
  if (fd < 0) {
    errno = EBADF;
    return nullptr;
  }
  return make(read_fd, nullptr, fd, false);
}

DPXUT_EXPORT dpxut_reader* dpxut_reader_open_path(const char* path) {
  if (path == nullptr) {
    errno = EINVAL;
    return nullptr;
  }
  if (std::strcmp(path, "-") == 0) return make(read_fd, nullptr, STDIN_FILENO, false);
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  dpxut_reader* r = make(read_fd, nullptr, fd, true);
  if (r == nullptr) close(fd);
  return r;
}

DPXUT_EXPORT void dpxut_reader_free(dpxut_reader* r) {
  if (r == nullptr) return;
  r->~dpxut_reader();
  std::free(r);
}

DPXUT_EXPORT int dpxut_reader_set_read_size(dpxut_reader* r, size_t size) {
  if (r == nullptr) return DPXUT_FATAL;
  if (r->started || size == 0 || size > (1u << 30)) return DPXUT_FAILED;
  r->in.set_read_size(size);
  return DPXUT_OK;
}

DPXUT_EXPORT int dpxut_reader_set_verify_skipped(dpxut_reader* r, int verify) {
  if (r == nullptr) return DPXUT_FATAL;
  r->verify_skipped = verify != 0;
  return DPXUT_OK;
}

DPXUT_EXPORT int dpxut_reader_next(dpxut_reader* r, dpxut_entry** entry) {
  if (r == nullptr || entry == nullptr) return DPXUT_FATAL;
  *entry = nullptr;
  if (r->broken) return DPXUT_FATAL;
  r->started = true;
  return guarded(r, [&] {
    if (r->data == dpxut_reader::Data::kContent) {
      // The rest of the previous entry, verified.
      const int rc = data_failed(r, guarded(r, [&] {
        while (r->read_data(nullptr, SIZE_MAX) > 0) {
        }
        return DPXUT_OK;
      }));
      if (rc != DPXUT_OK) return rc;
    }
    r->data = dpxut_reader::Data::kNone;
    const int rc = r->next_entry();
    if (rc == DPXUT_OK) *entry = &r->entry;
    return rc;
  });
}

DPXUT_EXPORT int64_t dpxut_reader_read_data(dpxut_reader* r, void* buf, size_t size) {
  if (r == nullptr) return DPXUT_FATAL;
  if (r->broken) return DPXUT_FATAL;
  switch (r->data) {
    case dpxut_reader::Data::kDone:
      return 0;
    case dpxut_reader::Data::kFailed:
      return DPXUT_FAILED;
    case dpxut_reader::Data::kNone:
      r->errcode = DPXUT_E_STATE;
      r->error = "no current entry";
      return DPXUT_FAILED;
    case dpxut_reader::Data::kContent:
      break;
  }
  if (buf == nullptr || size == 0) {
    r->errcode = DPXUT_E_STATE;
    r->error = "no room for content";
    return DPXUT_FAILED;
  }
  return data_failed(r, guarded(r, [&]() -> int64_t { return r->read_data(static_cast<uint8_t*>(buf), size); }));
}

DPXUT_EXPORT int dpxut_reader_skip_data(dpxut_reader* r) {
  if (r == nullptr || r->broken) return DPXUT_FATAL;
  if (r->data != dpxut_reader::Data::kContent) {
    uint8_t none;
    return static_cast<int>(dpxut_reader_read_data(r, &none, 1));  // 0 when done, else the failure
  }
  return data_failed(r, guarded(r, [&] {
    while (r->read_data(nullptr, SIZE_MAX) > 0) {
    }
    return DPXUT_OK;
  }));
}

DPXUT_EXPORT uint32_t dpxut_reader_errcode(const dpxut_reader* r) { return r == nullptr ? 0 : r->errcode; }

DPXUT_EXPORT const char* dpxut_reader_error(const dpxut_reader* r) {
  return r == nullptr ? "" : r->error.c_str();
}

DPXUT_EXPORT uint64_t dpxut_reader_offset(const dpxut_reader* r) { return r == nullptr ? 0 : r->in.offset(); }

DPXUT_EXPORT int dpxut_reader_compressed(const dpxut_reader* r) { return r != nullptr && r->in.compressed() ? 1 : 0; }

DPXUT_EXPORT const char* dpxut_reader_codeset(const dpxut_reader* r) {
  return r == nullptr ? "" : r->codeset.c_str();
}

DPXUT_EXPORT uint64_t dpxut_reader_records(const dpxut_reader* r) { return r == nullptr ? 0 : r->records; }
