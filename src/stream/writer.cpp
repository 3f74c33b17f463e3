// The writer's exported functions: creation on a callback, a descriptor or
// a path, the settings, and the calls that add entries and content. Every
// call catches what the layout code throws and turns it into its result.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <new>

#include "common/export.h"
#include "stream/writer.h"

using dpxut::stream::WriterStop;
using State = dpxut_writer::State;

namespace {

int64_t write_fd(void* ctx, const void* buf, size_t size) {
  const int fd = static_cast<int>(reinterpret_cast<intptr_t>(ctx));
  for (;;) {
    const ssize_t n = ::write(fd, buf, size);
    if (n >= 0 || errno != EINTR) return n;
  }
}

dpxut_writer* make(dpxut_write_fn write, void* ctx) {
  void* p = dpxut::heap_malloc(sizeof(dpxut_writer));
  if (p == nullptr) return nullptr;
  auto* w = new (p) dpxut_writer();
  w->write = write;
  w->ctx = ctx;
  return w;
}

dpxut_writer* on_fd(int fd, bool owned) {
  dpxut_writer* w = make(write_fd, reinterpret_cast<void*>(static_cast<intptr_t>(fd)));
  if (w == nullptr) {
    errno = ENOMEM;
    return nullptr;
  }
  w->fd = fd;
  w->owns_fd = owned;
  return w;
}

// Runs body on a usable writer. Failures the body records come back as its
// stop; running out of memory breaks the writer.
template <class Body>
auto guarded(dpxut_writer* w, Body&& body) -> decltype(body()) {
  if (w == nullptr) return DPXUT_FATAL;
  if (w->state == State::kBroken) return DPXUT_FATAL;
  try {
    return body();
  } catch (const WriterStop& stop) {
    return stop.result;
  } catch (...) {  // std::bad_alloc from the containers, or the library running out
    w->state = State::kBroken;
    w->errcode = HVDPUT_OUT_OF_MEMORY;
    w->error.clear();
    return DPXUT_FATAL;
  }
}

// A setting may change only before the first entry.
template <class Apply>
int setting(dpxut_writer* w, bool valid, Apply&& apply) {
  return guarded(w, [&]() -> int {
    if (w->state != State::kNew) w->fail(DPXUT_FAILED, DPXUT_E_STATE, "settings are made before the first entry");
    if (!valid) w->fail(DPXUT_FAILED, HVDPUT_INVALID_PARAMETER, "setting out of range");
    apply();
    return DPXUT_OK;
  });
}

}  // namespace

DPXUT_EXPORT dpxut_writer* dpxut_writer_new(dpxut_write_fn write, void* ctx) {
  if (write == nullptr) {
    errno = EINVAL;
    return nullptr;
  }
  return make(write, ctx);
}

DPXUT_EXPORT dpxut_writer* dpxut_writer_open_fd(int fd) {
  if (fd < 0) {
    errno = EBADF;
    return nullptr;
  }
  return on_fd(fd, false);
}

DPXUT_EXPORT dpxut_writer* dpxut_writer_open_path(const char* path) {
  if (path == nullptr) {
    errno = EINVAL;
    return nullptr;
  }
  if (path[0] == '-' && path[1] == '\0') return on_fd(STDOUT_FILENO, false);
  const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  dpxut_writer* w = on_fd(fd, true);
  if (w == nullptr) {
    ::close(fd);
    errno = ENOMEM;
  }
  return w;
}

DPXUT_EXPORT void dpxut_writer_free(dpxut_writer* w) {
  if (w == nullptr) return;
  if (w->owns_fd) ::close(w->fd);
  w->~dpxut_writer();
  std::free(w);
}

DPXUT_EXPORT int dpxut_writer_set_block_size(dpxut_writer* w, uint32_t size) {
  return setting(w, size >= 1 && size <= dpxut::stream::kMaxBlockSize, [&] { w->block_size = size; });
}

DPXUT_EXPORT int dpxut_writer_set_part_size(dpxut_writer* w, uint64_t size) {
  return setting(w, size >= 1 && size <= dpxut::stream::kMaxPart, [&] { w->part_size = size; });
}

// The headers hold the time as an unsigned 32-bit count of seconds.
DPXUT_EXPORT int dpxut_writer_set_time(dpxut_writer* w, int64_t seconds) {
  return setting(w, seconds >= 0 && seconds <= int64_t{UINT32_MAX}, [&] {
    w->time = static_cast<uint32_t>(seconds);
    w->time_set = true;
  });
}

DPXUT_EXPORT int dpxut_writer_set_host(dpxut_writer* w, const char* host) {
  if (host == nullptr) return DPXUT_FATAL;
  return setting(w, true, [&] {
    w->host.assign(host);
    w->host_set = true;
  });
}

DPXUT_EXPORT int dpxut_writer_set_compression(dpxut_writer* w, int level, int threads) {
  return setting(w, level >= 0 && level <= 19 && threads >= 0 && threads <= 256,
                 [&] { dpxut::stream::compress_output(*w, level, threads); });
}

DPXUT_EXPORT int dpxut_writer_add(dpxut_writer* w, const dpxut_entry* e) {
  if (e == nullptr) return DPXUT_FATAL;
  return guarded(w, [&]() -> int {
    if (w->state == State::kFinished) w->fail(DPXUT_FAILED, DPXUT_E_STATE, "the stream is finished");
    if (w->state == State::kNew) w->begin_stream();
    const int before = w->end_entry();
    const int rc = w->begin_entry(*e);
    return rc == DPXUT_OK ? before : rc;
  });
}

DPXUT_EXPORT int64_t dpxut_writer_write_data(dpxut_writer* w, const void* buf, size_t size) {
  if (buf == nullptr && size != 0) return DPXUT_FATAL;
  return guarded(w, [&]() -> int64_t {
    if (!w->in_entry || !w->has_content)
      w->fail(DPXUT_FAILED, DPXUT_E_STATE, "content given without a regular file entry current");
    if (size > w->host_size - w->host_done || size > uint64_t{INT64_MAX})
      w->fail(DPXUT_FAILED, DPXUT_E_SIZE, "entry '%.200s': %zu bytes given, %llu of its size left; none written",
              w->entry_name.c_str(), size, static_cast<unsigned long long>(w->host_size - w->host_done));
    w->feed(static_cast<const uint8_t*>(buf), size);
    return static_cast<int64_t>(size);
  });
}

DPXUT_EXPORT int dpxut_writer_mark_changed(dpxut_writer* w) {
  return guarded(w, [&]() -> int {
    if (!w->in_entry || !w->has_content)
      w->fail(DPXUT_FAILED, DPXUT_E_STATE, "a change marked without an entry with content current");
    w->changed = true;
    return DPXUT_OK;
  });
}

DPXUT_EXPORT int dpxut_writer_finish_entry(dpxut_writer* w) {
  return guarded(w, [&] { return w->end_entry(); });
}

DPXUT_EXPORT int dpxut_writer_finish(dpxut_writer* w) {
  return guarded(w, [&]() -> int {
    if (w->state == State::kFinished) return DPXUT_OK;
    if (w->state == State::kNew) w->begin_stream();
    const int rc = w->end_entry();
    w->end_stream();
    dpxut::stream::compress_finish(*w);
    // A stream this writer opened by path is closed here, where a failure
    // of the last write-back (a full disk, a lost server) can still be
    // reported rather than lost in _free.
    if (w->owns_fd) {
      const int fd = w->fd;
      w->owns_fd = false;
      w->fd = -1;
      if (::close(fd) != 0 && errno != EINTR)
        w->fail(DPXUT_FATAL, DPXUT_E_IO, "closing the stream: %s", std::strerror(errno));
    }
    return rc;
  });
}

DPXUT_EXPORT uint32_t dpxut_writer_errcode(const dpxut_writer* w) { return w != nullptr ? w->errcode : 0; }

DPXUT_EXPORT const char* dpxut_writer_error(const dpxut_writer* w) {
  if (w == nullptr) return "";
  if (w->error.empty() && w->errcode != 0) return dpxut_strerror(w->errcode);
  return w->error.c_str();
}

DPXUT_EXPORT uint64_t dpxut_writer_offset(const dpxut_writer* w) { return w != nullptr ? w->offset() : 0; }

DPXUT_EXPORT uint64_t dpxut_writer_records(const dpxut_writer* w) { return w != nullptr ? w->records : 0; }
