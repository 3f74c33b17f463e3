// Multibyte measuring: the byte length of the character that begins at a
// position in server code set text, by trial conversion to UTF-8 through
// iconv (dp_mblen) or by the platform's mblen (HVCharType with
// DPUseMbFunctions set), and the two steppers built on it.
//
// A measurement converts the first k bytes for k = 1, 2, ... from the
// initial shift state until a prefix converts as a whole. Its answer is a
// function of the code set and the bytes alone, so each thread remembers,
// per code set, the outcome of the first try for every byte, of the second
// try for every pair after a lead byte, and (in a small memo) of the third
// try for the triples met so far; only sequences still incomplete after
// three bytes are converted again. The tables are filled by the very same
// trials, so they answer exactly what the trial would. Measuring then costs
// no iconv_open and, mostly, no iconv at all.
#include "charset/multibyte.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "charset/setup.h"
#include "common/export.h"
#include "common/heap.h"
#include "common/iconv_cache.h"
#include "common/le.h"
#include "dpxut.h"

namespace dpxut::charset {
namespace {

constexpr size_t kScratch = 16;  // output area shared by the tries of one measurement

// One measurement in progress: its descriptor, and an output area whose
// free space is not renewed between tries.
struct Trial {
  IconvLease& cd;
  char out[kScratch];
  char* out_pos = out;
  size_t out_left = kScratch;

  explicit Trial(IconvLease& lease) noexcept : cd(lease) {}

  // Converts exactly the first k bytes of s: 0 when they convert as a
  // whole, else the errno of the failure.
  int attempt(const char* s, size_t k) noexcept {
    const char* in = s;
    size_t in_left = k;
    if (cd.convert(&in, &in_left, &out_pos, &out_left) != kIconvFailed) return 0;
    return errno != 0 ? errno : EILSEQ;
  }
};

// The measurement itself, from try k_from on; the tries before it must
// already have run on `trial` and failed with EINVAL. s[0..k_from-1] are
// not NUL and k_from <= n.
int measure_from(Trial& trial, const char* s, size_t n, size_t k_from) noexcept {
  for (size_t k = k_from;; ++k) {
    const int err = trial.attempt(s, k);
    if (err == 0) return k <= INT_MAX ? static_cast<int>(k) : 1;
    // An incomplete sequence cut by the NUL or by n counts as one byte;
    // the NUL test also keeps the next try inside the string.
    if (err != EINVAL || s[k] == '\0' || k + 1 > n) return 1;
  }
}

int measure_fresh(IconvLease& cd, const char* s, size_t n) noexcept {
  cd.reset_state();
  Trial trial(cd);
  return measure_from(trial, s, n, 1);
}

// Outcomes remembered in the tables.
enum Outcome : uint8_t {
  kUnknown = 0,   // row entry not filled (never read: rows are built whole)
  kOneByte = 1,   // the measurement ends with 1
  kTwoBytes = 2,  // the second try converts: 2
  kThreeBytes = 4,  // memo: the third try converts: 3
  kLead = 3,      // first table: the first try is incomplete (EINVAL)
  kLonger = 3,    // row: the second try is incomplete too
};

// The length a remembered outcome settles, or 0 while still incomplete.
int decided(uint8_t outcome) noexcept {
  switch (outcome) {
    case kOneByte: return 1;
    case kTwoBytes: return 2;
    case kThreeBytes: return 3;
    default: return 0;
  }
}

// Per-thread tables for one code set. Plain data plus heap rows released
// by the thread's closer, so that measuring during thread exit still works
// (by trial, without tables).
struct Tables {
  bool ready;
  bool closed;
  uint64_t generation;
  size_t codeset_len;          // strlen(codeset), below kCodeSetSize
  char codeset[kCodeSetSize];  // the code set they were built for
  uint8_t first[256];   // kOneByte or kLead, for the first try on each byte
  uint8_t* rows[256];   // for a lead byte: outcome of the second try per next byte
  uint32_t* memo;       // third tries, direct-mapped: outcome << 24 | b0 << 16 | b1 << 8 | b2
};

constexpr unsigned kMemoBits = 13;  // 8192 triples, 32 KiB

uint32_t memo_slot(uint32_t triple) noexcept {
  return (triple * 2654435761u) >> (32 - kMemoBits);
}

constinit thread_local Tables tl_tables{};

// The calling thread's tables. In the shared library every mention of a
// thread-local costs a __tls_get_addr call, and the compiler would rather
// repeat it than keep the address in a register; a call it cannot see
// through yields the address once per measurement.
[[gnu::noinline]] Tables& thread_tables() noexcept { return tl_tables; }

void drop_rows(Tables& t) noexcept {
  for (uint8_t*& row : t.rows) {
    std::free(row);
    row = nullptr;
  }
  std::free(t.memo);
  t.memo = nullptr;
}

struct TablesCloser {
  ~TablesCloser() {
    drop_rows(tl_tables);
    tl_tables.ready = false;
    tl_tables.closed = true;
  }
};

// Fills the first table: one try on each single byte.
void build_first(IconvLease& cd, uint8_t (&first)[256]) noexcept {
  first[0] = kOneByte;  // never consulted: empty strings end earlier
  for (unsigned b = 1; b < 256; ++b) {
    const char byte = static_cast<char>(b);
    cd.reset_state();
    Trial trial(cd);
    first[b] = trial.attempt(&byte, 1) == EINVAL ? kLead : kOneByte;
  }
}

// Fills the row of a lead byte: the first try (incomplete) and then the
// second on each pair, on one trial each as a measurement would run them.
uint8_t* build_row(IconvLease& cd, unsigned lead) noexcept {
  auto* row = static_cast<uint8_t*>(heap_malloc(256));
  if (row == nullptr) return nullptr;
  row[0] = kUnknown;  // a NUL after the lead is answered before the row
  for (unsigned b = 1; b < 256; ++b) {
    const char pair[2] = {static_cast<char>(lead), static_cast<char>(b)};
    cd.reset_state();
    Trial trial(cd);
    int err = trial.attempt(pair, 1);
    if (err == EINVAL) err = trial.attempt(pair, 2);
    else err = EILSEQ;  // cannot happen for a lead byte; never claim 2
    row[b] = err == 0 ? kTwoBytes : err == EINVAL ? kLonger : kOneByte;
  }
  return row;
}

// Outcome of the third try on s, whose first two tries are incomplete.
uint8_t classify_third(IconvLease& cd, const char* s) noexcept {
  cd.reset_state();
  Trial trial(cd);
  if (trial.attempt(s, 1) != EINVAL || trial.attempt(s, 2) != EINVAL) return kOneByte;  // cannot happen
  const int err = trial.attempt(s, 3);
  return err == 0 ? kThreeBytes : err == EINVAL ? kLonger : kOneByte;
}

// Whether dp_current_codeset holds the name `cached` of length len: their
// first len + 1 bytes (the NUL included) compared eight at a time, the bytes
// after the NUL masked off. As len < 128, the group of eight holding the NUL
// still lies within both 128-byte arrays.
bool same_name(const char (&cached)[kCodeSetSize], size_t len) noexcept {
  size_t i = 0;
  for (; i + 8 <= len; i += 8) {
    if (load_le64(cached + i) != load_le64(dp_current_codeset + i)) return false;
  }
  const uint64_t mask = ~uint64_t{0} >> (8 * (7 - (len - i)));
  return ((load_le64(cached + i) ^ load_le64(dp_current_codeset + i)) & mask) == 0;
}

// The calling thread's tables when they are current, else null. This runs
// on every measurement, so it copies nothing: the tables hold the name they
// were built for with its length, and comparing that many bytes plus the NUL
// (a few bytes: "EUC-JP" is 7) with dp_current_codeset tells whether the
// name there is still the same, whoever wrote it. The generation catches a
// set-up that re-ran since.
Tables* current_tables() noexcept {
  Tables& t = thread_tables();
  if (!t.ready || t.generation != iconv_cache_generation()) return nullptr;
  if (!same_name(t.codeset, t.codeset_len)) return nullptr;
  return &t;
}

// Builds the calling thread's tables for codeset; null when they cannot be
// had (the code set does not open, or the thread is exiting). *opened tells
// the caller whether a descriptor could be opened at all.
Tables* build_tables(const char (&codeset)[kCodeSetSize], bool* opened) noexcept {
  // Set up before the first rows are allocated: the closer releases them.
  static thread_local TablesCloser closer;
  (void)closer;
  Tables& t = thread_tables();
  const uint64_t gen = iconv_cache_generation();
  IconvLease cd("UTF-8", codeset);
  *opened = static_cast<bool>(cd);
  if (!cd || t.closed) return nullptr;
  t.ready = false;
  drop_rows(t);
  build_first(cd, t.first);
  t.codeset_len = std::strlen(codeset);
  std::memcpy(t.codeset, codeset, t.codeset_len + 1);
  t.generation = gen;
  t.ready = true;
  return &t;
}

}  // namespace

int mblen_by_trial(const char* s, size_t n) noexcept {
  if (s == nullptr || s[0] == '\0') return 0;
  ensure_setup();
  char codeset[kCodeSetSize];
  if (!current_codeset(codeset)) return -1;
  IconvLease cd("UTF-8", codeset);
  if (!cd) return -1;
  if (n == 0) return 1;
  return measure_fresh(cd, s, n);
}

int measure(const char* s, size_t n) noexcept {
  if (s == nullptr || s[0] == '\0') return 0;  // before any set-up
  ensure_setup();
  Tables* t = current_tables();
  if (t == nullptr) {
    char name[kCodeSetSize];
    if (!current_codeset(name)) return -1;
    bool opened = false;
    t = build_tables(name, &opened);
    if (t == nullptr) return opened ? mblen_by_trial(s, n) : -1;
  }
  // The same name as dp_current_codeset now, in storage no host writes.
  const char* codeset = t->codeset;
  if (n == 0) return 1;

  const auto b0 = static_cast<unsigned char>(s[0]);
  if (t->first[b0] == kOneByte) return 1;
  // The first try was incomplete.
  if (s[1] == '\0' || n < 2) return 1;
  uint8_t*& row = t->rows[b0];
  if (row == nullptr) {
    IconvLease cd("UTF-8", codeset);
    if (!cd) return -1;
    row = build_row(cd, b0);
    if (row == nullptr) return measure_fresh(cd, s, n);
  }
  if (const int len = decided(row[static_cast<unsigned char>(s[1])])) return len;
  // Still incomplete after two bytes: three-byte EUC, UTF-8 beyond U+07FF.
  if (s[2] == '\0' || n < 3) return 1;
  const uint32_t triple = static_cast<uint32_t>(b0) << 16 |
                          static_cast<uint32_t>(static_cast<unsigned char>(s[1])) << 8 |
                          static_cast<unsigned char>(s[2]);
  if (t->memo == nullptr) {
    t->memo = static_cast<uint32_t*>(heap_calloc(size_t{1} << kMemoBits, sizeof(uint32_t)));
  }
  uint32_t* entry = t->memo != nullptr ? &t->memo[memo_slot(triple)] : nullptr;
  uint8_t outcome = kUnknown;
  if (entry != nullptr && (*entry & 0xFFFFFFu) == triple) outcome = static_cast<uint8_t>(*entry >> 24);
  if (outcome == kUnknown) {
    IconvLease cd("UTF-8", codeset);
    if (!cd) return -1;
    outcome = classify_third(cd, s);
    if (entry != nullptr) *entry = static_cast<uint32_t>(outcome) << 24 | triple;
  }
  if (const int len = decided(outcome)) return len;
  // Incomplete after three bytes (four-byte UTF-8 and longer): by trial.
  if (s[3] == '\0' || n < 4) return 1;
  IconvLease cd("UTF-8", codeset);
  if (!cd) return -1;
  return measure_fresh(cd, s, n);
}

}  // namespace dpxut::charset

using namespace dpxut::charset;

DPXUT_EXPORT int dp_mblen(const char* s, size_t n) { return measure(s, n); }

DPXUT_EXPORT int HVCharType(const char* s) {
  if (s == nullptr) return 1;
  // The length of s, but no more than one maximal character of the current
  // locale (a handful of bytes: counted inline, cheaper than a strnlen call).
  const size_t max = MB_CUR_MAX;
  size_t n = 0;
  while (n < max && s[n] != '\0') ++n;
  const int r = DPUseMbFunctions != 0 ? std::mblen(s, n) : measure(s, n);
  return r > 0 ? r : 1;
}

DPXUT_EXPORT char* HVNextChar(const char* s) {
  if (s == nullptr) return nullptr;
  return const_cast<char*>(s + HVCharType(s));
}

DPXUT_EXPORT char* HVPrevChar(const char* start, const char* s) {
  (void)start;  // steps back by the length of the character at s, by design
  if (s == nullptr) return nullptr;
  return const_cast<char*>(s - HVCharType(s));
}
