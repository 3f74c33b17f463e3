// Signals during extract: SIGINT, SIGTERM and SIGHUP remove the temporary
// file being written at once, then ask the run to stop; extract sets what
// it has pending (folder modes and times) and dies of the same signal. A
// second signal kills the process at once (the temporary file is gone by
// then), and so does a run that has not seen the request within two
// seconds (blocked on a stalled stream). Files written through O_TMPFILE
// have no name to remove.
#pragma once

namespace sidfpack {

// Installs the handlers for its lifetime (signals the caller ignores stay
// ignored) and puts the previous ones back.
class SignalGuard {
 public:
  SignalGuard();
  ~SignalGuard();
  SignalGuard(const SignalGuard&) = delete;
  SignalGuard& operator=(const SignalGuard&) = delete;
};

// The temporary `name` in the folder `dir` is removed if a signal comes
// before temp_disarm(). Names are short (a fixed-size slot holds them).
void temp_arm(int dir, const char* name);
void temp_disarm();

// The signal that asked the run to stop, or 0. Once it has returned a
// signal the run is trusted to stop on its own (no alarm any more).
int stop_signal();
// Whether a signal asked the run to stop, leaving the alarm as it is: for
// threads other than the run's.
bool stop_requested();

// Dies of `sig` with the default action (the exit status a shell expects).
[[noreturn]] void die_of(int sig);

}  // namespace sidfpack
