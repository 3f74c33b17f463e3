// The writer's output buffer over the host's write callback, and its
// failure reports. Bytes reach the callback only from flush, so a record
// header stays in the buffer, unmoved, until its length is filled in.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "stream/tool_sections.h"
#include "stream/writer.h"

using dpxut::stream::WriterStop;

dpxut_writer::~dpxut_writer() {
  std::free(names);
  std::free(block);
}

void dpxut_writer::set_error(uint32_t code, const char* fmt, va_list ap) {
  errcode = code;
  char text[512];
  std::vsnprintf(text, sizeof text, fmt, ap);
  try {
    error.assign(text);
  } catch (...) {
    error.clear();  // the code alone then tells
  }
}

void dpxut_writer::fail(int result, uint32_t code, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  set_error(code, fmt, ap);
  va_end(ap);
  if (result == DPXUT_FATAL) state = State::kBroken;
  throw WriterStop{result};
}

int dpxut_writer::warn(uint32_t code, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  set_error(code, fmt, ap);
  va_end(ap);
  return DPXUT_WARN;
}

// Hands the buffer to the callback, as many calls as it takes. A callback
// that fails, writes nothing or claims more than it was given breaks the
// stream.
void dpxut_writer::flush() {
  hand_over(buf.data(), used);
  used = 0;
}

void dpxut_writer::hand_over(const uint8_t* p, size_t n) {
  size_t done = 0;
  while (done < n) {
    errno = 0;
    const int64_t w = write(ctx, p + done, n - done);
    if (w <= 0 || static_cast<uint64_t>(w) > n - done) {
      const int err = errno;
      fail(DPXUT_FATAL, DPXUT_E_IO, "write error at stream offset %llu: %s",
           static_cast<unsigned long long>(flushed + done),
           w < 0 && err != 0 ? std::strerror(err) : "the write callback wrote nothing");
    }
    done += static_cast<size_t>(w);
  }
  flushed += n;
}

void dpxut_writer::put(const uint8_t* p, size_t n) {
  while (n > 0) {
    if (used == buf.size()) flush();
    const size_t k = n < buf.size() - used ? n : buf.size() - used;
    std::memcpy(buf.data() + used, p, k);
    used += k;
    p += k;
    n -= k;
  }
}

// Pad sections, or zero filler below their least size, up to the next
// multiple of the block size.
void dpxut_writer::pad_to_block() {
  const uint32_t pad = dpxut::stream::pad_length(offset(), block_size);
  if (pad == 0) return;
  emit(pad, [&](uint8_t* b, uint32_t) {
    HVDPPadBlankSpace(b, pad);
    return static_cast<size_t>(pad);
  });
}
