// The process-wide slot the signal handler needs (see restore_signal.h).
// This is the one piece of state outside the run's Context: a handler sees
// nothing else. The handler reads the slot only while `armed` is set, and
// temp_arm fills it before setting `armed`, so it never sees half a name; it
// calls only async-signal-safe functions. A run blocked on a stream that
// stalls (a pipe, a tape) cannot look at the flag: an alarm kills it two
// seconds after the signal unless the run has seen the flag by then.
#include "restore_signal.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <climits>
#include <cstring>

namespace sidfpack {
namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGALRM};

struct Slot {
  volatile sig_atomic_t armed = 0;
  volatile sig_atomic_t dir = -1;
  volatile sig_atomic_t stop = 0;  // the signal received
  char name[NAME_MAX + 1] = {};  // a final name, for files written in place
  struct sigaction saved[4] = {};
  bool installed[4] = {};
};
Slot slot;  // NOLINT: the handler's only way to the temporary file

void on_signal(int sig) {
  const int saved_errno = errno;
  if (slot.armed) {
    unlinkat(slot.dir, slot.name, 0);
    slot.armed = 0;
  }
  if (slot.stop != 0) die_of(sig);  // a second signal: no more waiting
  alarm(2);  // before the flag: a run that sees the flag has an alarm to cancel
  slot.stop = sig;
  errno = saved_errno;
}

void on_alarm(int) {
  static const char kText[] = "sidfpack: stopped while waiting for the stream; folder modes and times not set\n";
  if (write(STDERR_FILENO, kText, sizeof kText - 1) < 0) {}
  die_of(slot.stop != 0 ? slot.stop : SIGALRM);
}

}  // namespace

SignalGuard::SignalGuard() {
  struct sigaction sa {};
  sa.sa_handler = on_signal;
  sa.sa_flags = SA_RESTART;  // reads and writes go on; the run looks at stop_signal()
  sigemptyset(&sa.sa_mask);
  for (int s : kSignals) sigaddset(&sa.sa_mask, s);
  for (int i = 0; i < 4; ++i) {
    if (sigaction(kSignals[i], nullptr, &slot.saved[i]) != 0 || slot.saved[i].sa_handler == SIG_IGN) continue;
    sa.sa_handler = kSignals[i] == SIGALRM ? on_alarm : on_signal;
    slot.installed[i] = sigaction(kSignals[i], &sa, nullptr) == 0;
  }
}

SignalGuard::~SignalGuard() {
  alarm(0);
  for (int i = 0; i < 4; ++i)
    if (slot.installed[i]) sigaction(kSignals[i], &slot.saved[i], nullptr);
  slot.armed = 0;
}

void temp_arm(int dir, const char* name) {
  slot.armed = 0;
  const size_t n = std::strlen(name);
  if (n >= sizeof slot.name) return;
  std::memcpy(slot.name, name, n + 1);
  slot.dir = dir;
  // The name is whole before the handler may read it, also when the
  // handler runs on another thread than the one arming.
  std::atomic_thread_fence(std::memory_order_seq_cst);
  slot.armed = 1;
}

void temp_disarm() { slot.armed = 0; }

bool stop_requested() { return slot.stop != 0; }

int stop_signal() {
  if (slot.stop == 0) return 0;
  alarm(0);  // the run has seen it and stops on its own
  return slot.stop;
}

void die_of(int sig) {
  struct sigaction sa {};
  sa.sa_handler = SIG_DFL;
  sigemptyset(&sa.sa_mask);
  sigaction(sig, &sa, nullptr);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, sig);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
  raise(sig);
  _exit(128 + sig);
}

}  // namespace sidfpack
