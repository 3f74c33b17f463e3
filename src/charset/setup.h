// Internal side of the conversion set-up: the server code set as a safe
// copy, and the test hook that points the language configuration reader at
// another file. The exported objects and functions are declared in dpxut.h.
#pragma once

#include <cstddef>

#include "dpxut.h"

namespace dpxut::charset {

// Size of dp_current_codeset, the NUL included.
inline constexpr size_t kCodeSetSize = 128;

// Copies dp_current_codeset into out. False when the host left it without a
// NUL in its 128 bytes (out is then empty): such a name is never handed to
// iconv_open.
bool current_codeset(char (&out)[kCodeSetSize]) noexcept;

// Runs the set-up on first use, as every conversion that needs the server
// code set does: when DPInitICONV is 0, DPInitUniLibrary(NULL) and then
// DPInitICONV = 1, whatever the set-up returned. Threads that get here at
// once run it once; the others wait for it and then see its code set.
// The set-up publishes DPInitICONV with release and this reads it with
// acquire, so a thread that sees 1 also sees the code set stored before
// it; every conversion passes here, so that test stays inline.
void run_first_setup() noexcept;
inline void ensure_setup() noexcept {
  if (__atomic_load_n(&DPInitICONV, __ATOMIC_ACQUIRE) == 0) run_first_setup();
}

// Tests only (not exported): read the language configuration from path
// instead of the system file; null restores the system file. The string
// must stay alive while the set-up may run.
void set_language_file_for_testing(const char* path) noexcept;

}  // namespace dpxut::charset
