// sidfpack: a backup tool on the streaming API of libdpxut.
//
//   sidfpack create  -f STREAM [-C DIR] PATH...       files, directories, symbolic links
//   sidfpack list    -f STREAM [PATTERN...]           one line per matching entry
//   sidfpack extract -f STREAM [-C DIR] [PATTERN...]  restore the matching entries
//
// One Context holds the whole run's state; main.cpp parses the options and
// hands it to the job: create.cpp (a dpxut_writer), list.cpp and
// extract.cpp (a dpxut_reader through read.cpp). Exit status: 0; 1 when an
// entry or path failed, or the stream could not be opened or written; 2 for
// usage errors and for damaged streams or read failures (damaged records
// are reported and passed over, as tar does).
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace sidfpack {

enum class Command { kNone, kCreate, kList, kExtract };

inline constexpr uint64_t kMaxPart = 0xF0000000;  // a record's length is 32-bit

struct Options {
  Command command = Command::kNone;  // the first argument
  std::string stream;                // -f
  std::string directory;             // -C
  uint32_t block_size = 512;         // --block-size
  uint32_t buffer_size = 64 * 1024;  // --buffer-size: the reader's read size, create's read chunk
  uint64_t part_size = kMaxPart;     // --part-size
  bool dos_wildcards = false;        // --dos-wildcards
  bool no_recursion = false;         // --no-recursion
  int verbose = 0;                   // -v, -vv
  std::vector<std::pair<std::string, std::string>> renames;  // --rename OLD=NEW
  std::vector<std::string> operands;  // PATHs or PATTERNs
};

// Progress on standard error, for runs longer than a second, when standard
// error is a terminal.
struct Progress {
  bool enabled = false;
  bool shown = false;  // a progress line stands on the terminal
  std::chrono::steady_clock::time_point start, last;
  uint64_t entries = 0, bytes = 0;
  const char* verb = "";
};

struct Context {
  Options opt;
  const char* prog = "sidfpack";
  int status = 0;             // the exit status so far
  FILE* names_out = stdout;   // -v names; standard error when the stream is standard output
  Progress progress;

  // Raises the exit status to `level` (1: an entry failed, 2: the stream).
  void fail(int level) {
    if (status < level) status = level;
  }
};

// messages.cpp. A message is "sidfpack: TEXT" on standard error, after any
// progress line is cleared.
void message(Context& c, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
void progress_begin(Context& c, const char* verb);
void progress_tick(Context& c, uint64_t add_bytes);
void progress_clear(Context& c);

// The jobs, on the stream's descriptor. Each returns the exit status.
int run_create(Context& c, int fd);
int run_list(Context& c, int fd);
int run_extract(Context& c, int fd);

}  // namespace sidfpack
