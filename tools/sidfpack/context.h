// sidfpack: a backup tool on the streaming API of libdpxut.
//
//   sidfpack create  -f STREAM [-C DIR] PATH...       files, directories, symbolic links
//   sidfpack list    -f STREAM [PATTERN...]           one line per matching entry
//   sidfpack extract -f STREAM [-C DIR] [PATTERN...]  restore the matching entries
//   sidfpack diff    -f STREAM [-C DIR] [PATTERN...]  compare the entries with the file system
//   sidfpack convert IN OUT                           a stream to or from a tar, pax, zip... archive
//
// One Context holds the whole run's state; main.cpp parses the options and
// hands it to the job: create.cpp (a dpxut_writer), list.cpp and
// extract.cpp, diff.cpp (a dpxut_reader through read.cpp). Exit status: 0;
// 1 when an entry or path failed or differs, the stream could not be opened
// or written, or damaged records were passed over; 2 for usage errors, read
// failures, streams cut short and, with --stop-on-error, damage.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace sidfpack {

enum class Command { kNone, kCreate, kList, kExtract, kDiff, kConvert };

inline constexpr uint64_t kMaxPart = 0xF0000000;  // a record's length is 32-bit

struct Options {
  Command command = Command::kNone;  // the first argument
  std::string stream;                // -f
  std::string directory;             // -C
  uint32_t block_size = 512;         // --block-size
  uint32_t buffer_size = 64 * 1024;  // --buffer-size: the reader's read size, create's read chunk
  uint64_t part_size = kMaxPart;     // --part-size
  bool dos_wildcards = false;        // --dos-wildcards
  bool verify = false;               // list --verify: read and check every entry's content
  bool no_recursion = false;         // --no-recursion
  int verbose = 0;                   // -v, -vv
  std::vector<std::pair<std::string, std::string>> renames;  // --rename OLD=NEW
  std::vector<std::string> operands;  // PATHs or PATTERNs, -T's lines after the command line's
  std::vector<std::string> excludes;  // --exclude, --exclude-from's lines
  bool one_file_system = false;       // --one-file-system
  bool numeric_owner = false;         // --numeric-owner
  // extract: restore owners (--same-owner) and modes as stored, set-uid,
  // set-gid and sticky bits included, without the umask
  // (--same-permissions). Both default to on for root, off for others.
  bool same_owner = false;
  bool same_permissions = false;
  bool progress = false;              // --progress / --no-progress; default: stderr is a terminal
  bool stop_on_error = false;         // --stop-on-error: stop at the first damaged record
  std::string format;                 // convert --format: sidf, or a libarchive format name
  int zstd_level = 0;                 // create --zstd[=LEVEL]: compress the stream (0: not)
  int threads = 0;                    // --threads N: compression workers (0: one a processor)
  // incremental backups (incremental.h)
  std::string snapshot;               // create -g, --listed-incremental=SNAPSHOT
  bool incremental = false;           // extract -G, --incremental: remove what a level no longer holds
};

// Progress on standard error (--progress), for runs longer than a second.
struct Progress {
  bool enabled = false;
  uint64_t total = 0;  // bytes the run will count, for the time left (0: unknown)
  bool shown = false;  // a progress line stands on the terminal
  std::chrono::steady_clock::time_point start, last;
  uint64_t entries = 0, bytes = 0;
  const char* verb = "";
};

class Incremental;

struct Context {
  Options opt;
  const char* prog = "sidfpack";
  int status = 0;             // the exit status so far
  FILE* names_out = stdout;   // -v names; standard error when the stream is standard output
  Progress progress;
  std::shared_ptr<Incremental> incremental;  // create -g: the snapshot, loaded before the stream is opened

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
int run_diff(Context& c, int fd);
// convert.cpp: operands IN and OUT, no -f.
int run_convert(Context& c);

}  // namespace sidfpack
