// Messages and the progress line of sidfpack (see context.h).
#include <unistd.h>

#include <cstdarg>

#include "context.h"

namespace sidfpack {

void message(Context& c, const char* fmt, ...) {
  progress_clear(c);
  std::fprintf(stderr, "%s: ", c.prog);
  va_list ap;
  va_start(ap, fmt);
  std::vfprintf(stderr, fmt, ap);
  va_end(ap);
  std::fputc('\n', stderr);
}

void progress_begin(Context& c, const char* verb) {
  Progress& p = c.progress;
  p.enabled = isatty(STDERR_FILENO) != 0;
  p.verb = verb;
  p.start = p.last = std::chrono::steady_clock::now();
}

void progress_tick(Context& c, uint64_t add_bytes) {
  Progress& p = c.progress;
  p.bytes += add_bytes;
  if (!p.enabled) return;
  const auto now = std::chrono::steady_clock::now();
  if (now - p.start < std::chrono::seconds(1) || now - p.last < std::chrono::milliseconds(250)) return;
  p.last = now;
  std::fprintf(stderr, "\r%s: %s %llu entries, %.1f MiB\033[K", c.prog, p.verb,
               static_cast<unsigned long long>(p.entries), static_cast<double>(p.bytes) / 1048576.0);
  p.shown = true;
}

void progress_clear(Context& c) {
  if (!c.progress.shown) return;
  std::fputs("\r\033[K", stderr);
  c.progress.shown = false;
}

}  // namespace sidfpack
