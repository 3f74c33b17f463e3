// Internal side of multibyte measuring: the plain trial-conversion measure
// that the table-driven dp_mblen must always agree with. Tests, the fuzz
// target and the benchmark compare the two.
#pragma once

#include <cstddef>

namespace dpxut::charset {

// dp_mblen without the per-thread tables: every call measures by trial
// conversion on a fresh shift state, exactly as the tables were built.
// Runs the set-up on first use like dp_mblen.
int mblen_by_trial(const char* s, size_t n) noexcept;

// dp_mblen itself (table-driven), for callers inside the library.
int measure(const char* s, size_t n) noexcept;

}  // namespace dpxut::charset
