// Messages and the progress line of sidfpack (see context.h). The progress
// line stands on standard error: on a terminal one line rewritten in place
// and cleared before any message or listing line, elsewhere a line a
// second. It shows entries, bytes, the rate and, when the run's total is
// known (a stream read from a regular file), the time left.
#include <unistd.h>

#include <cstdarg>
#include <string>

#include "context.h"

namespace sidfpack {
namespace {

using Clock = std::chrono::steady_clock;

std::string duration_text(double seconds) {
  const auto s = static_cast<unsigned long long>(seconds + 0.5);
  char b[48];
  if (s >= 3600)
    std::snprintf(b, sizeof b, "%llu:%02llu:%02llu", s / 3600, s / 60 % 60, s % 60);
  else
    std::snprintf(b, sizeof b, "%llu:%02llu", s / 60, s % 60);
  return b;
}

}  // namespace

void message(Context& c, const char* fmt, ...) {
  progress_clear(c);
  std::fflush(stdout);
  std::fprintf(stderr, "%s: ", c.prog);
  va_list ap;
  va_start(ap, fmt);
  std::vfprintf(stderr, fmt, ap);
  va_end(ap);
  std::fputc('\n', stderr);
}

void progress_begin(Context& c, const char* verb) {
  Progress& p = c.progress;
  p.enabled = c.opt.progress;
  p.verb = verb;
  p.start = p.last = Clock::now();
}

void progress_tick(Context& c, uint64_t add_bytes) {
  Progress& p = c.progress;
  p.bytes += add_bytes;
  if (!p.enabled) return;
  const auto now = Clock::now();
  if (now - p.start < std::chrono::seconds(1) || now - p.last < std::chrono::milliseconds(250)) return;
  const bool tty = isatty(STDERR_FILENO) != 0;
  if (!tty && now - p.last < std::chrono::seconds(1)) return;
  p.last = now;
  const double secs = std::chrono::duration<double>(now - p.start).count();
  const double rate = static_cast<double>(p.bytes) / secs;
  std::string left;
  if (p.total > p.bytes && rate > 0)
    left = ", " + duration_text(static_cast<double>(p.total - p.bytes) / rate) + " left";
  std::fflush(stdout);
  std::fprintf(stderr, "%s%s: %s %llu entries, %.1f MiB, %.1f MiB/s%s%s", tty ? "\r" : "", c.prog, p.verb,
               static_cast<unsigned long long>(p.entries), static_cast<double>(p.bytes) / 1048576.0, rate / 1048576.0,
               left.c_str(), tty ? "\033[K" : "\n");
  p.shown = tty;
}

void progress_clear(Context& c) {
  if (!c.progress.shown) return;
  std::fputs("\r\033[K", stderr);
  c.progress.shown = false;
}

}  // namespace sidfpack
