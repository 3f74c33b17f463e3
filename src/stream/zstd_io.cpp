// The zstd layer under the writer's output and the reader's input (see
// zstd_io.h), and the input's first look at a stream. libzstd's functions
// are found with dlsym in libzstd.so.1, loaded once per process; <zstd.h>
// gives only their declarations. A build without the header keeps the
// detection and reports that it cannot compress or read compressed streams.
#include "stream/zstd_io.h"

#include <sched.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "common/heap.h"
#include "stream/input.h"
#include "stream/writer.h"

#if __has_include(<zstd.h>) && __has_include(<zstd_errors.h>)
#define ZSTD_STATIC_LINKING_ONLY  // for ZSTD_customMem: allocations go through the heap door
#include <dlfcn.h>
#include <zstd.h>
#include <zstd_errors.h>
#define DPXUT_HAVE_ZSTD 1
#else
#define DPXUT_HAVE_ZSTD 0
#endif

namespace dpxut::stream {

#if DPXUT_HAVE_ZSTD
namespace {

constexpr const char kLibrary[] = "libzstd.so.1";

// The functions used, found in the library by name.
struct Zstd {
  decltype(&ZSTD_createCCtx_advanced) createCCtx;
  decltype(&ZSTD_freeCCtx) freeCCtx;
  decltype(&ZSTD_CCtx_setParameter) setParameter;
  decltype(&ZSTD_compressStream2) compressStream2;
  decltype(&ZSTD_CStreamOutSize) outSize;
  decltype(&ZSTD_createDCtx_advanced) createDCtx;
  decltype(&ZSTD_freeDCtx) freeDCtx;
  decltype(&ZSTD_decompressStream) decompressStream;
  decltype(&ZSTD_isError) isError;
  decltype(&ZSTD_getErrorName) errorName;
  decltype(&ZSTD_getErrorCode) errorCode;
};

struct Loaded {
  Zstd fn{};
  bool ok = false;
  char why[200] = "";
};

template <class F>
bool find(void* lib, const char* name, F& out, Loaded& l) {
  out = reinterpret_cast<F>(dlsym(lib, name));
  if (out == nullptr) std::snprintf(l.why, sizeof l.why, "%s lacks %s", kLibrary, name);
  return out != nullptr;
}

Loaded load() noexcept {
  Loaded l;
  void* lib = dlopen(kLibrary, RTLD_NOW | RTLD_LOCAL);
  if (lib == nullptr) {
    const char* e = dlerror();
    std::snprintf(l.why, sizeof l.why, "%s", e != nullptr ? e : kLibrary);
    return l;
  }
  Zstd& z = l.fn;
  l.ok = find(lib, "ZSTD_createCCtx_advanced", z.createCCtx, l) && find(lib, "ZSTD_freeCCtx", z.freeCCtx, l) &&
         find(lib, "ZSTD_CCtx_setParameter", z.setParameter, l) &&
         find(lib, "ZSTD_compressStream2", z.compressStream2, l) && find(lib, "ZSTD_CStreamOutSize", z.outSize, l) &&
         find(lib, "ZSTD_createDCtx_advanced", z.createDCtx, l) && find(lib, "ZSTD_freeDCtx", z.freeDCtx, l) &&
         find(lib, "ZSTD_decompressStream", z.decompressStream, l) && find(lib, "ZSTD_isError", z.isError, l) &&
         find(lib, "ZSTD_getErrorName", z.errorName, l) && find(lib, "ZSTD_getErrorCode", z.errorCode, l);
  if (!l.ok) dlclose(lib);
  return l;  // a library in use stays loaded for the life of the process
}

// The library's functions, or null with *why saying what is missing.
const Zstd* library(const char** why) noexcept {
  static const Loaded loaded = load();
  *why = loaded.why;
  return loaded.ok ? &loaded.fn : nullptr;
}

void* zalloc(void*, size_t size) { return heap_malloc(size); }
void zfree(void*, void* p) { std::free(p); }
constexpr ZSTD_customMem kHeapDoor = {zalloc, zfree, nullptr};

// Processors this process may run on.
int processors() noexcept {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) return CPU_COUNT(&set);
  const long n = sysconf(_SC_NPROCESSORS_ONLN);
  return n > 0 ? static_cast<int>(n) : 1;
}

}  // namespace

struct Compressor {
  const Zstd* z = nullptr;
  ZSTD_CCtx* cctx = nullptr;
  dpxut_writer* w = nullptr;
  dpxut_write_fn write = nullptr;  // the host's callback
  void* ctx = nullptr;
  HeapVector<uint8_t> out;

  ~Compressor() {
    if (cctx != nullptr) z->freeCCtx(cctx);  // joins the workers
  }

  // Hands out[0, n) to the host's callback, as many calls as it takes.
  void deliver(size_t n) {
    for (size_t done = 0; done < n;) {
      errno = 0;
      const int64_t k = write(ctx, out.data() + done, n - done);
      if (k <= 0 || static_cast<uint64_t>(k) > n - done) {
        const int err = errno;
        w->fail(DPXUT_FATAL, DPXUT_E_IO, "write error after stream offset %llu (compressed): %s",
                static_cast<unsigned long long>(w->flushed),
                k < 0 && err != 0 ? std::strerror(err) : "the write callback wrote nothing");
      }
      done += static_cast<size_t>(k);
    }
  }

  // Compresses in[0, n); ZSTD_e_end also ends the frame.
  void run(const void* in, size_t n, ZSTD_EndDirective mode) {
    ZSTD_inBuffer src{in, n, 0};
    for (;;) {
      ZSTD_outBuffer dst{out.data(), out.size(), 0};
      const size_t r = z->compressStream2(cctx, &dst, &src, mode);
      if (z->isError(r)) {
        if (z->errorCode(r) == ZSTD_error_memory_allocation) throw std::bad_alloc();
        w->fail(DPXUT_FATAL, DPXUT_E_IO, "compression failed after stream offset %llu: %s",
                static_cast<unsigned long long>(w->flushed), z->errorName(r));
      }
      deliver(dst.pos);
      if (mode == ZSTD_e_end ? r == 0 : src.pos == src.size) return;
    }
  }
};

namespace {

// The writer's write callback while it compresses: takes everything.
int64_t compress_write(void* ctx, const void* buf, size_t size) {
  static_cast<Compressor*>(ctx)->run(buf, size, ZSTD_e_continue);
  return static_cast<int64_t>(size);
}

}  // namespace

void compress_output(dpxut_writer& w, int level, int threads) {
  if (w.zstd) {  // back to the host's callback, then set up anew
    w.write = w.zstd->write;
    w.ctx = w.zstd->ctx;
    w.zstd.reset();
  }
  if (level == 0) return;
  const char* why = "";
  const Zstd* z = library(&why);
  if (z == nullptr)
    w.fail(DPXUT_FAILED, DPXUT_E_FORMAT, "compression needs %s, which cannot be loaded: %s", kLibrary, why);
  void* p = heap_malloc(sizeof(Compressor));
  if (p == nullptr) throw std::bad_alloc();
  CompressorPtr c(new (p) Compressor());
  c->z = z;
  c->w = &w;
  c->out.resize(z->outSize());
  c->cctx = z->createCCtx(kHeapDoor);
  if (c->cctx == nullptr) throw std::bad_alloc();
  // One worker a processor besides the writer's thread, as `zstd -T0` runs;
  // a library built without threads compresses in the caller's thread.
  const int workers = threads == 0 ? processors() : threads;
  z->setParameter(c->cctx, ZSTD_c_nbWorkers, workers > 1 ? workers : 0);
  if (z->isError(z->setParameter(c->cctx, ZSTD_c_compressionLevel, level)) ||
      z->isError(z->setParameter(c->cctx, ZSTD_c_checksumFlag, 1)))
    w.fail(DPXUT_FAILED, HVDPUT_INVALID_PARAMETER, "compression level %d refused", level);
  c->write = w.write;
  c->ctx = w.ctx;
  w.write = compress_write;
  w.ctx = c.get();
  w.zstd = std::move(c);
}

void compress_finish(dpxut_writer& w) {
  if (w.zstd) w.zstd->run(nullptr, 0, ZSTD_e_end);
}

struct Decompressor {
  const Zstd* z = nullptr;
  ZSTD_DCtx* dctx = nullptr;
  dpxut_read_fn read = nullptr;  // the host's callback
  void* ctx = nullptr;
  size_t read_size = 0;
  HeapVector<uint8_t> raw;  // compressed bytes [pos, end) not yet decoded
  size_t pos = 0, end = 0;
  bool in_frame = true;  // a frame is begun and not yet whole
  bool done = false;     // the end was met, whole or not
  uint32_t code = 0;
  char why[200] = "";

  ~Decompressor() {
    if (dctx != nullptr) z->freeDCtx(dctx);
  }

  int64_t stop(uint32_t c, const char* text, const char* detail = "") {
    done = true;
    code = c;
    std::snprintf(why, sizeof why, "%s%s", text, detail);
    return 0;
  }

  // Decodes into buf: frames one after the other, as `zstd -d` reads them.
  int64_t get(uint8_t* buf, size_t size) {
    if (done) return 0;
    for (;;) {
      // With no input left, a frame in progress may still hold output.
      if (pos < end || in_frame) {
        ZSTD_inBuffer src{raw.data(), end, pos};
        ZSTD_outBuffer dst{buf, size, 0};
        const size_t r = z->decompressStream(dctx, &dst, &src);
        if (z->isError(r)) {
          if (z->errorCode(r) == ZSTD_error_memory_allocation) throw std::bad_alloc();
          return stop(DPXUT_E_TRUNCATED, "the compressed stream is damaged: ", z->errorName(r));
        }
        const bool moved = src.pos != pos || dst.pos != 0;
        pos = src.pos;
        in_frame = r != 0;
        if (dst.pos != 0) return static_cast<int64_t>(dst.pos);
        if (pos < end) {
          if (!moved) return stop(DPXUT_E_TRUNCATED, "the compressed stream is damaged: no progress");
          continue;
        }
      }
      const size_t ask = read_size < raw.size() ? read_size : raw.size();
      errno = 0;
      const int64_t got = read(ctx, raw.data(), ask);
      if (got < 0) return -1;  // errno as the callback left it
      if (static_cast<uint64_t>(got) > ask) return errno = EIO, -1;
      if (got == 0) return in_frame ? stop(DPXUT_E_TRUNCATED, "the compressed stream is cut short") : stop(0, "");
      pos = 0;
      end = static_cast<size_t>(got);
    }
  }
};

void CompressorFree::operator()(Compressor* c) const noexcept {
  c->~Compressor();
  std::free(c);
}

void DecompressorFree::operator()(Decompressor* d) const noexcept {
  d->~Decompressor();
  std::free(d);
}

DecompressorPtr decompress_input(dpxut_read_fn read, void* ctx, size_t read_size, const uint8_t* head, size_t n) {
  void* p = heap_malloc(sizeof(Decompressor));
  if (p == nullptr) throw std::bad_alloc();
  DecompressorPtr d(new (p) Decompressor());
  d->read = read;
  d->ctx = ctx;
  d->read_size = read_size;
  const char* why = "";
  d->z = library(&why);
  if (d->z == nullptr) {
    std::snprintf(d->why, sizeof d->why, "the stream is compressed with zstd, and %s cannot be loaded: %s", kLibrary,
                  why);
    d->done = true;
    d->code = DPXUT_E_FORMAT;
    return d;
  }
  d->dctx = d->z->createDCtx(kHeapDoor);
  if (d->dctx == nullptr) throw std::bad_alloc();
  constexpr size_t kRawMost = 1 << 20;
  d->raw.resize(n > kRawMost ? n : read_size < kRawMost ? read_size : kRawMost);
  std::memcpy(d->raw.data(), head, n);
  d->end = n;
  return d;
}

int64_t decompress_read(void* ctx, void* buf, size_t size) {
  return static_cast<Decompressor*>(ctx)->get(static_cast<uint8_t*>(buf), size);
}

const char* decompress_failure(const Decompressor& d, uint32_t* code) noexcept {
  *code = d.code;
  return d.done && d.code != 0 ? d.why : nullptr;
}

#else  // built without <zstd.h>

struct Compressor {
  dpxut_write_fn write;
  void* ctx;
};
struct Decompressor {};

void CompressorFree::operator()(Compressor* c) const noexcept { std::free(c); }
void DecompressorFree::operator()(Decompressor* d) const noexcept { std::free(d); }

void compress_output(dpxut_writer& w, int level, int) {
  if (level != 0) w.fail(DPXUT_FAILED, DPXUT_E_FORMAT, "this build of the library cannot compress streams");
}
void compress_finish(dpxut_writer&) {}

DecompressorPtr decompress_input(dpxut_read_fn, void*, size_t, const uint8_t*, size_t) {
  void* p = heap_malloc(1);
  if (p == nullptr) throw std::bad_alloc();
  return DecompressorPtr(static_cast<Decompressor*>(p));
}
int64_t decompress_read(void*, void*, size_t) { return 0; }
const char* decompress_failure(const Decompressor&, uint32_t* code) noexcept {
  *code = DPXUT_E_FORMAT;
  return "the stream is compressed with zstd, and this build of the library cannot read it";
}

#endif

// The input's first bytes tell a compressed stream by zstd's magic number.
// They are read into the buffer, where they stay as the stream's own bytes
// unless they are that number: then they go to the decompressor, which
// becomes the source of everything read from here on.
void Input::probe() {
  probed_ = true;
  if (buf_.size() < sizeof kZstdMagic) buf_.resize(read_size_ > sizeof kZstdMagic ? read_size_ : sizeof kZstdMagic);
  fill_to(sizeof kZstdMagic);
  if (end_ < sizeof kZstdMagic) return;
  if (std::memcmp(buf_.data(), kZstdMagic, sizeof kZstdMagic) != 0) return;
  zstd_ = decompress_input(read_, ctx_, read_size_, buf_.data(), end_);
  read_ = decompress_read;
  ctx_ = zstd_.get();
  end_ = 0;
}

const char* Input::failure(uint32_t* code) const noexcept { return zstd_ ? decompress_failure(*zstd_, code) : nullptr; }

}  // namespace dpxut::stream
