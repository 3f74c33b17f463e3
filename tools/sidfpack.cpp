// sidfpack: a small backup tool on the public header of libdpxut.
//
//   sidfpack create  -f STREAM [-C DIR] PATH...       files, directories, symbolic links
//   sidfpack list    -f STREAM [PATTERN...]           one line per matching entry
//   sidfpack extract -f STREAM [-C DIR] [PATTERN...]  restore the matching entries
//
// It is also the worked example of a host program. Every entry is written as
// the library expects a record to be written (name buffer, description
// block, record header, data, length update while the header is still in
// the output buffer), and read back through one fixed input buffer, so that
// record headers straddle buffer ends and the data set information parser
// finishes them from the next buffer.
//
// Stream layout (every section closes with a check value, which this tool
// requires and verifies when reading):
//   media header 0x808000 (text "sidfpack"), session header 0x808004
//     (text3 the code set of the locale names, text4 the format tag,
//     text5 the block size: the stream's length is a multiple of it)
//   per entry, starting on a block boundary (pad sections or filler before):
//     full record header: names in name spaces 0 (locale bytes), 0x100
//       (UTF-8) and 0x200 (wide), each with its component positions;
//       value1 st_mode, value2 uid, value3 gid, value4 size (low 32 bits),
//       value5 link count; dateTime1/2/3 mtime/atime/ctime as DOS dates
//       (local time, 0 outside 1980-2107); an extension area of typed
//       entries: type 3 (owner, group, link target), kExtTimes (exact
//       times), kExtSize (64-bit size), kExtPart (files split over
//       records), kExtTargetUtf8 (link target in UTF-8)
//     the content (regular files only; at most --part-size bytes a record)
//     data check section 0x80801C: 0x8073 content bytes, 0x8072 CRC-32
//   stream trailer 0x80801E: 0x8072 records, 0x8073 content bytes; then
//     padding to a block boundary.
// DOS dates have a 2-second resolution and start in 1980, so the exact
// times travel in kExtTimes; extract restores those (falling back to the
// DOS date) and list shows them.
#include <dpxut.h>

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <clocale>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {

// ---------------------------------------------------------------------------
// Constants of the stream format.

constexpr uint32_t kPadId = 0x808019;           // pad section of HVDPPadBlankSpace
constexpr uint32_t kDataCheckId = 0x80801C;     // after each record's content
constexpr uint32_t kStreamTrailerId = 0x80801E;  // after the last record
constexpr uint32_t kValueField = 0x8072;        // fixed 4 bytes: record count, or CRC-32 of the content
constexpr uint32_t kLengthField = 0x8073;       // fixed 8 bytes
constexpr char kMediaText[] = "sidfpack";
constexpr char kFormatTag[] = "sidfpk/1";  // session text4

constexpr uint32_t kExtStrings = 3;             // owner, group, link target
constexpr uint32_t kExtTimes = 0x53500001;      // i64 mtime s, u32 ns, i64 atime s, u32 ns
constexpr uint32_t kExtSize = 0x53500002;       // u64 file size
constexpr uint32_t kExtPart = 0x53500003;       // u64 offset, u64 length of this record's part
constexpr uint32_t kExtTargetUtf8 = 0x53500004; // the link target in UTF-8
constexpr uint32_t kTimesBytes = 24;

constexpr uint32_t kNsLocale = 0;
constexpr uint32_t kNsUtf8 = 0x100;
constexpr uint32_t kNsWide = 0x200;

constexpr uint8_t kSignature[2] = {0xA5, 0x5A};
constexpr size_t kSpillBytes = 512 * 1024;      // any record header fits (names and extension are 16-bit)
constexpr size_t kMaxSection = 1024 * 1024;     // longest section this tool reads
constexpr uint64_t kMaxPart = 0xF0000000;       // record length is 32-bit
constexpr size_t kPeekBytes = 32;               // a field header and a small value

// ---------------------------------------------------------------------------
// Messages. Failures of the stream are thrown as StreamError and reported
// once at the top; failures of single entries are reported where they
// happen and turn the exit status to 1.

const char* g_prog = "sidfpack";
FILE* g_names_out = stdout;  // -v names; standard error when the stream is standard output
int g_status = 0;
bool g_progress_shown = false;

void clear_progress();

void message(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void message(const char* fmt, ...) {
  clear_progress();
  std::fprintf(stderr, "%s: ", g_prog);
  va_list ap;
  va_start(ap, fmt);
  std::vfprintf(stderr, fmt, ap);
  va_end(ap);
  std::fputc('\n', stderr);
}

struct StreamError {
  std::string text;
};

struct UsageError {
  std::string text;
};

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* fmt, ...) {
  char b[512];
  va_list ap;
  va_start(ap, fmt);
  std::vsnprintf(b, sizeof b, fmt, ap);
  va_end(ap);
  return b;
}

std::string code_text(uint32_t rc) {
  switch (rc) {
    case HVDPUT_INVALID_HANDLE: return "invalid handle";
    case HVDPUT_INVALID_PARAMETER: return "invalid data";
    case HVDPUT_NO_MORE_ENTRIES: return "too many entries";
    case HVDPUT_OUT_OF_MEMORY: return "out of memory";
    case HVDPUT_OVERFLOW: return "value too large";
    case HVDPUT_FIELD_ID_MISMATCH: return "unexpected field";
    case HVDPUT_BEYOND_END: return "beyond the end of its area";
    case HVDPUT_BUFFER_UNDERFLOW: return "cut short";
  }
  return format("code 0x%08X", rc);
}

// Names are shown with control characters and backslashes escaped, so that
// every entry stays on one line whatever bytes its name holds.
std::string shown(const std::string& s) {
  std::string r;
  for (unsigned char c : s) {
    if (c == '\\') {
      r += "\\\\";
    } else if (c == '\n') {
      r += "\\n";
    } else if (c == '\t') {
      r += "\\t";
    } else if (c < 0x20 || c == 0x7F) {
      r += format("\\%03o", c);
    } else {
      r += static_cast<char>(c);
    }
  }
  return r;
}

// ---------------------------------------------------------------------------
// Little-endian numbers in the tool's own data (extension entries, check
// sections).

void put_le(uint8_t* p, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint64_t get_le(const uint8_t* p, int bytes) {
  uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = v << 8 | p[i];
  return v;
}

// ---------------------------------------------------------------------------
// Progress on standard error, for runs longer than a second, when standard
// error is a terminal.

struct Progress {
  bool enabled = false;
  std::chrono::steady_clock::time_point start, last;
  uint64_t entries = 0, bytes = 0;
  const char* verb = "";

  void begin(const char* v) {
    enabled = isatty(STDERR_FILENO) != 0;
    verb = v;
    start = last = std::chrono::steady_clock::now();
  }
  void tick(uint64_t add_bytes) {
    bytes += add_bytes;
    if (!enabled) return;
    const auto now = std::chrono::steady_clock::now();
    if (now - start < std::chrono::seconds(1) || now - last < std::chrono::milliseconds(250)) return;
    last = now;
    std::fprintf(stderr, "\r%s: %s %llu entries, %.1f MiB\033[K", g_prog, verb,
                 static_cast<unsigned long long>(entries), static_cast<double>(bytes) / 1048576.0);
    g_progress_shown = true;
  }
} g_progress;

void clear_progress() {
  if (!g_progress_shown) return;
  std::fputs("\r\033[K", stderr);
  g_progress_shown = false;
}

// ---------------------------------------------------------------------------
// Options.

enum class Command { kNone, kCreate, kList, kExtract };

struct Options {
  Command command = Command::kNone;
  std::string stream;
  std::string directory;
  uint32_t block_size = 512;
  uint32_t buffer_size = 64 * 1024;
  uint64_t part_size = kMaxPart;
  bool dos_wildcards = false;
  bool no_recursion = false;
  int verbose = 0;
  std::vector<std::pair<std::string, std::string>> renames;
  std::vector<std::string> operands;
};

const char kUsage[] =
    "usage: sidfpack create  -f STREAM [-C DIR] [options] PATH...\n"
    "       sidfpack list    -f STREAM [options] [PATTERN...]\n"
    "       sidfpack extract -f STREAM [-C DIR] [options] [PATTERN...]\n"
    "options:\n"
    "  -f STREAM          the stream file (- for standard input or output)\n"
    "  -C DIR             create: read PATHs relative to DIR; extract: restore into DIR\n"
    "  -v, --verbose      name each entry (list: owner, group, and every name form with -vv)\n"
    "  --block-size N     create: start each record on a multiple of N bytes (default 512)\n"
    "  --buffer-size N    size of the fixed input or output buffer, 64 to 1G (default 64K)\n"
    "  --dos-wildcards    match PATTERNs with the enhanced matcher (HVDPWildMatch)\n"
    "  --no-recursion     create: do not descend into directories given as PATH\n"
    "  --rename OLD=NEW   create: store names under OLD as NEW (not checked; builds test streams)\n"
    "  --part-size N      create: largest content of one record (files beyond it span records)\n"
    "Sizes take a K, M or G suffix. A PATTERN selects the names it matches and everything\n"
    "below them; '*' and '?' are the wildcards.\n";

uint64_t parse_size(const std::string& option, const std::string& text, uint64_t lo, uint64_t hi) {
  char* end = nullptr;
  errno = 0;
  const unsigned long long v = std::strtoull(text.c_str(), &end, 10);
  uint64_t mul = 1;
  if (end != nullptr && *end != '\0') {
    if (end[1] != '\0') throw UsageError{format("%s: bad size '%s'", option.c_str(), text.c_str())};
    switch (*end) {
      case 'k': case 'K': mul = 1024; break;
      case 'm': case 'M': mul = 1024 * 1024; break;
      case 'g': case 'G': mul = 1024 * 1024 * 1024; break;
      default: throw UsageError{format("%s: bad size '%s'", option.c_str(), text.c_str())};
    }
  }
  if (text.empty() || text[0] == '-' || errno != 0 || end == text.c_str() || v > hi / mul || v * mul < lo)
    throw UsageError{format("%s: size '%s' out of range (%llu to %llu)", option.c_str(), text.c_str(),
                            static_cast<unsigned long long>(lo), static_cast<unsigned long long>(hi))};
  return v * mul;
}

Options parse_options(int argc, char** argv) {
  Options o;
  if (argc < 2) throw UsageError{"no command given"};
  const std::string cmd = argv[1];
  if (cmd == "create" || cmd == "c") o.command = Command::kCreate;
  else if (cmd == "list" || cmd == "t") o.command = Command::kList;
  else if (cmd == "extract" || cmd == "x") o.command = Command::kExtract;
  else if (cmd == "-h" || cmd == "--help") return o;
  else throw UsageError{format("unknown command '%s'", cmd.c_str())};
  bool options_end = false;
  for (int i = 2; i < argc; ++i) {
    std::string a = argv[i];
    if (options_end || a.empty() || a[0] != '-' || a == "-") {
      o.operands.push_back(a);
      continue;
    }
    if (a == "--") {
      options_end = true;
      continue;
    }
    std::string value;
    bool has_value = false;
    if (a.rfind("--", 0) == 0) {
      const size_t eq = a.find('=');
      if (eq != std::string::npos) {
        value = a.substr(eq + 1);
        a.resize(eq);
        has_value = true;
      }
    } else if (a.size() > 2 && (a[1] == 'f' || a[1] == 'C')) {
      value = a.substr(2);
      a.resize(2);
      has_value = true;
    }
    auto take = [&]() -> std::string {
      if (has_value) return value;
      if (i + 1 >= argc) throw UsageError{format("option %s needs a value", a.c_str())};
      return argv[++i];
    };
    if (a == "-f" || a == "--file") o.stream = take();
    else if (a == "-C" || a == "--directory") o.directory = take();
    else if (a == "-v" || a == "--verbose") ++o.verbose;
    else if (a == "-vv") o.verbose += 2;
    else if (a == "--block-size") o.block_size = static_cast<uint32_t>(parse_size(a, take(), 1, 1 << 20));
    else if (a == "--buffer-size") o.buffer_size = static_cast<uint32_t>(parse_size(a, take(), 64, 1u << 30));
    else if (a == "--part-size") o.part_size = parse_size(a, take(), 1, kMaxPart);
    else if (a == "--dos-wildcards") o.dos_wildcards = true;
    else if (a == "--no-recursion") o.no_recursion = true;
    else if (a == "--rename") {
      const std::string r = take();
      const size_t eq = r.find('=');
      if (eq == std::string::npos || eq == 0) throw UsageError{"--rename needs OLD=NEW"};
      o.renames.emplace_back(r.substr(0, eq), r.substr(eq + 1));
    } else if (a == "-h" || a == "--help") {
      o.command = Command::kNone;
      return o;
    } else {
      throw UsageError{format("unknown option '%s'", a.c_str())};
    }
  }
  if (o.stream.empty()) throw UsageError{"no stream given (-f STREAM)"};
  if (o.command == Command::kCreate && o.operands.empty()) throw UsageError{"create needs at least one PATH"};
  if (o.command == Command::kList && !o.directory.empty()) throw UsageError{"list takes no -C"};
  return o;
}

// ---------------------------------------------------------------------------
// Text in the three encodings. File names are locale bytes; the library
// converts them to UTF-8 and wide form for the other two name spaces.

// The code set the library found for the locale names ("" if none).
std::string current_codeset() { return dp_current_codeset[0] != '\0' ? std::string(dp_current_codeset) : ""; }

// The library's conversions come in two calls: the first sizes the result
// (terminator included), the second fills a destination of that size.
template <class Source>
bool to_bytes(uint32_t (*convert)(char*, size_t*, const Source*), const Source* source, std::string& out) {
  size_t size = 0;
  if (convert(nullptr, &size, source) != 0 || size == 0) return false;
  std::vector<char> b(size);
  if (convert(b.data(), &size, source) != 0) return false;
  out.assign(b.data(), strnlen(b.data(), b.size()));
  return true;
}

bool locale_to_utf8(const std::string& loc, std::string& utf) { return to_bytes(DPloc2utf8, loc.c_str(), utf); }
bool utf8_to_locale(const std::string& utf, std::string& loc) { return to_bytes(DPutf82loc, utf.c_str(), loc); }
// NoMap both ways: a name that happens to hold "[XXXX]" keeps it as text.
bool wide_to_locale(const std::vector<wchar_t>& wide, std::string& loc) {
  return to_bytes(DPuni2locNoMap, wide.data(), loc);
}

bool locale_to_wide(const std::string& loc, std::vector<wchar_t>& wide) {
  size_t size = 0;
  if (DPloc2uniNoMap(nullptr, &size, loc.c_str()) != 0 || size == 0) return false;
  wide.assign(size, L'\0');
  if (DPloc2uniNoMap(wide.data(), &size, loc.c_str()) != 0) return false;
  wide.back() = L'\0';
  return true;
}

// ---------------------------------------------------------------------------
// Dates. DOS dates are local times; 0 stands for none.

uint32_t dos_date(time_t t) {
  struct tm tm {};
  if (localtime_r(&t, &tm) == nullptr) return 0;
  const int year = tm.tm_year + 1900;
  if (year < 1980 || year > 2107) return 0;
  return HVDPPackDateTime(static_cast<uint32_t>(year), static_cast<uint32_t>(tm.tm_mon + 1),
                          static_cast<uint32_t>(tm.tm_mday), static_cast<uint32_t>(tm.tm_hour),
                          static_cast<uint32_t>(tm.tm_min), static_cast<uint32_t>(tm.tm_sec));
}

bool from_dos_date(uint32_t dos, time_t* t) {
  if (dos == 0) return false;
  uint16_t y, mo, d, h, mi, s;
  HVDPUnPackDateTime(dos, &y, &mo, &d, &h, &mi, &s);
  struct tm tm {};
  tm.tm_year = y - 1900;
  tm.tm_mon = mo - 1;
  tm.tm_mday = d;
  tm.tm_hour = h;
  tm.tm_min = mi;
  tm.tm_sec = s;
  tm.tm_isdst = -1;
  *t = mktime(&tm);
  return *t != static_cast<time_t>(-1);
}

std::string date_text(time_t t) {
  struct tm tm {};
  if (localtime_r(&t, &tm) == nullptr) return "-";
  char b[64];
  std::strftime(b, sizeof b, "%Y-%m-%d %H:%M:%S", &tm);
  return b;
}

std::string mode_text(uint32_t mode) {
  std::string s = "?---------";
  switch (mode & S_IFMT) {
    case S_IFREG: s[0] = '-'; break;
    case S_IFDIR: s[0] = 'd'; break;
    case S_IFLNK: s[0] = 'l'; break;
  }
  static const char kRwx[] = "rwxrwxrwx";
  for (int i = 0; i < 9; ++i)
    if (mode & (0400u >> i)) s[1 + i] = kRwx[i];
  if (mode & S_ISUID) s[3] = (mode & S_IXUSR) ? 's' : 'S';
  if (mode & S_ISGID) s[6] = (mode & S_IXGRP) ? 's' : 'S';
  if (mode & S_ISVTX) s[9] = (mode & S_IXOTH) ? 't' : 'T';
  return s;
}

// ---------------------------------------------------------------------------
// Sections in memory: the check value of a closing field.

size_t id_length(uint32_t id) { return id > 0xFFFFFF ? 4 : id > 0xFFFF ? 3 : id > 0xFF ? 2 : 1; }

// Verifies that the n bytes at s are one section with head `head` whose
// closing field holds the check value of the bytes before it. An empty
// closing field (no check value) is refused: this tool always writes them.
bool section_checks(const uint8_t* s, size_t n, uint32_t head, std::string* why) {
  size_t off = 0;
  while (off < n && s[off] == 0) ++off;
  const size_t start = off;
  bool opened = false;
  while (off < n) {
    DPDFField f{};
    if (DPDFGetNextField(s + off, static_cast<uint32_t>(n - off), &f) != 0 || f.dataOverflow.value != 0) break;
    if (f.fieldId == head && opened) {
      if (f.dataSize.value != 4 || f.data == nullptr || f.data + 4 != s + n) {
        *why = "closing field without a check value";
        return false;
      }
      const size_t closing = static_cast<size_t>(f.data - s) - id_length(head) - 1;
      if (closing < start || s[closing + id_length(head)] != 4) {
        *why = "malformed closing field";
        return false;
      }
      const uint32_t crc = HVDPGenerateCRC(static_cast<uint32_t>(closing - start), 0xFFFFFFFF, s + start);
      if (crc != static_cast<uint32_t>(get_le(f.data, 4))) {
        *why = "check value mismatch";
        return false;
      }
      return true;
    }
    if (!opened && f.fieldId != head) break;
    opened = true;
    off += f.bytesUsed;
  }
  *why = "malformed section";
  return false;
}

// ---------------------------------------------------------------------------
// Output: one fixed buffer, flushed to the stream when full.

class Output {
 public:
  Output(int fd, size_t capacity, std::string name) : fd_(fd), buf_(capacity), name_(std::move(name)) {}
  uint8_t* at() { return buf_.data() + used_; }
  uint32_t space() const { return static_cast<uint32_t>(buf_.size() - used_); }
  size_t capacity() const { return buf_.size(); }
  bool empty() const { return used_ == 0; }
  uint64_t offset() const { return flushed_ + used_; }  // stream offset of at()
  void advance(size_t n) { used_ += n; }
  void flush() {
    size_t done = 0;
    while (done < used_) {
      const ssize_t w = ::write(fd_, buf_.data() + done, used_ - done);
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) throw StreamError{format("write error: %s", std::strerror(errno))};
      done += static_cast<size_t>(w);
    }
    flushed_ += used_;
    used_ = 0;
  }
  void write(const uint8_t* p, size_t n) {
    while (n > 0) {
      if (space() == 0) flush();
      const size_t k = std::min<size_t>(n, space());
      std::memcpy(at(), p, k);
      advance(k);
      p += k;
      n -= k;
    }
  }
  // Runs put(buffer, capacity) -> bytes written on at least `need` bytes:
  // in place when the buffer can hold them, else in a scratch area whose
  // bytes are then copied through the buffer.
  template <class Put>
  void emit(size_t need, Put&& put) {
    if (space() < need) flush();
    if (space() >= need) {
      advance(put(at(), space()));
    } else {
      std::vector<uint8_t> scratch(need);
      const size_t n = put(scratch.data(), static_cast<uint32_t>(need));
      write(scratch.data(), n);
    }
  }

 private:
  int fd_;
  std::vector<uint8_t> buf_;
  size_t used_ = 0;
  uint64_t flushed_ = 0;
  std::string name_;
};

void check_put(uint32_t rc, const DPDFField& f, const char* what) {
  if (rc != 0 || f.dataOverflow.value != 0)
    throw StreamError{format("cannot write %s: %s", what, code_text(rc ? rc : HVDPUT_OVERFLOW).c_str())};
}

// A header section (media or session): the head and closing fields are the
// host's to write, the members come from the library's writer; the closing
// field carries the check value of everything before it.
template <class Members>
size_t put_header_section(uint8_t* buf, uint32_t cap, uint32_t id, Members&& members, const char* what) {
  uint8_t* p = buf;
  uint32_t rest = cap;
  DPDFField f{};
  f.fieldId = id;
  f.data = kSignature;
  check_put(DPDFPutNextField(p, rest, &f, 2, 2), f, what);
  p += f.bytesUsed;
  rest -= f.bytesUsed;
  uint32_t n = 0;
  const uint32_t rc = members(p, rest, &n);
  if (rc != 0) throw StreamError{format("cannot write %s: %s", what, code_text(rc).c_str())};
  p += n;
  rest -= n;
  uint8_t check[4];
  put_le(check, HVDPGenerateCRC(static_cast<uint32_t>(p - buf), 0xFFFFFFFF, buf), 4);
  f = DPDFField{};
  f.fieldId = id;
  f.data = check;
  check_put(DPDFPutNextField(p, rest, &f, 4, 4), f, what);
  return static_cast<size_t>(p + f.bytesUsed - buf);
}

// A section of the tool's own (data check, stream trailer): a count or CRC
// in 0x8072 and a byte count in 0x8073, closed with a check value.
size_t put_tool_section(uint8_t* buf, uint32_t cap, uint32_t id, uint32_t value32, uint64_t value64) {
  uint8_t v4[4], v8[8];
  put_le(v4, value32, 4);
  put_le(v8, value64, 8);
  DPDFPutEntry t[4] = {};
  t[0].field.fieldId = id;
  t[1].field.fieldId = kLengthField;
  t[1].field.data = v8;
  t[1].dataBytes = 8;
  t[2].field.fieldId = kValueField;
  t[2].field.data = v4;
  t[2].dataBytes = 4;
  t[3].field.fieldId = DPDF_END_OF_TABLE;
  uint8_t* p = buf;
  uint32_t rest = cap;
  const uint32_t rc = DPDFPutFields(t, &p, &rest, 1);
  if (rc != 0) throw StreamError{format("cannot write a check section: %s", code_text(rc).c_str())};
  return static_cast<size_t>(p - buf);
}

// Reads a section written by put_tool_section at *p, advancing *p and *n.
// Returns 0, a code of DPDFGetFields, or HVDPUT_INVALID_PARAMETER when a
// value is missing or of the wrong size.
uint32_t get_tool_section(uint32_t id, uint8_t** p, uint32_t* n, uint32_t* value32, uint64_t* value64) {
  uint8_t v4[4] = {}, v8[8] = {};
  DPDFGetEntry t[3] = {};
  t[0].fieldId = kLengthField;
  t[0].data = v8;
  t[0].dataSize = 8;
  t[1].fieldId = kValueField;
  t[1].data = v4;
  t[1].dataSize = 4;
  t[2].fieldId = DPDF_END_OF_TABLE;
  if (const uint32_t rc = DPDFGetFields(id, t, p, n)) return rc;
  if (t[0].found == 0 || t[1].found == 0 || t[0].dataSize != 8 || t[1].dataSize != 4) return HVDPUT_INVALID_PARAMETER;
  *value32 = static_cast<uint32_t>(get_le(v4, 4));
  *value64 = get_le(v8, 8);
  return 0;
}

size_t tool_section_size() {
  static const size_t n = [] {
    uint8_t b[128];
    return put_tool_section(b, sizeof b, kDataCheckId, 0, 0);
  }();
  return n;
}

// ---------------------------------------------------------------------------
// Creating a stream.

struct Description {
  uint32_t mode = 0, uid = 0, gid = 0, nlink = 0;
  uint64_t size = 0;
  struct timespec mtime {}, atime {}, ctime {};
  std::string owner, group, target, target_utf8;
};

void add_entry(std::vector<uint8_t>& area, uint32_t type, const uint8_t* data, uint32_t length) {
  uint8_t h[12];
  put_le(h, type, 4);
  put_le(h + 4, 0, 4);
  put_le(h + 8, length, 4);
  area.insert(area.end(), h, h + 12);
  if (length != 0) area.insert(area.end(), data, data + length);
}

// The extension area of one record, read back with HVDPGetFirstExtension.
std::vector<uint8_t> extension_area(const Description& d, bool part, uint64_t part_offset, uint64_t part_length) {
  std::vector<uint8_t> area;
  std::vector<uint8_t> items;
  for (const std::string* s : {&d.owner, &d.group, &d.target}) {
    const size_t n = std::min<size_t>(s->size(), 0xFFFF);
    uint8_t len[2];
    put_le(len, n, 2);
    items.insert(items.end(), len, len + 2);
    items.insert(items.end(), s->begin(), s->begin() + static_cast<std::ptrdiff_t>(n));
  }
  add_entry(area, kExtStrings, items.data(), static_cast<uint32_t>(items.size()));
  uint8_t t[kTimesBytes];
  put_le(t, static_cast<uint64_t>(d.mtime.tv_sec), 8);
  put_le(t + 8, static_cast<uint64_t>(d.mtime.tv_nsec), 4);
  put_le(t + 12, static_cast<uint64_t>(d.atime.tv_sec), 8);
  put_le(t + 20, static_cast<uint64_t>(d.atime.tv_nsec), 4);
  add_entry(area, kExtTimes, t, kTimesBytes);
  uint8_t s[16];
  put_le(s, d.size, 8);
  add_entry(area, kExtSize, s, 8);
  if (!d.target_utf8.empty())
    add_entry(area, kExtTargetUtf8, reinterpret_cast<const uint8_t*>(d.target_utf8.data()),
              static_cast<uint32_t>(d.target_utf8.size()));
  if (part) {
    put_le(s, part_offset, 8);
    put_le(s + 8, part_length, 8);
    add_entry(area, kExtPart, s, 16);
  }
  return area;
}

class Creator {
 public:
  Creator(const Options& o, int fd, std::string stream_name, dev_t stream_dev, ino_t stream_ino)
      : opt_(o), out_(fd, o.buffer_size, stream_name), stream_dev_(stream_dev), stream_ino_(stream_ino) {
    info_.shortHeader = 0;
  }
  ~Creator() {
    std::free(names_);
    std::free(block_);
  }
  Creator(const Creator&) = delete;
  Creator& operator=(const Creator&) = delete;

  void begin() {
    HVDPMediaHeaderInfo media{};
    const uint32_t now = static_cast<uint32_t>(std::time(nullptr));
    HVDPUnixTimeToECMA(now, &media.firstTimeStamp, 1);
    media.secondTimeStamp = media.firstTimeStamp;
    std::snprintf(media.text, sizeof media.text, "%s", kMediaText);
    media.number = 1;
    out_.emit(1024, [&](uint8_t* b, uint32_t cap) {
      return put_header_section(b, cap, HVDP_MEDIA_HEADER_ID, [&](uint8_t* p, uint32_t rest, uint32_t* n) {
        return HVDPSetMediaHeaderInfo(&media, p, rest, n);
      }, "the media header");
    });
    HVDPSessionHeaderInfo session{};
    HVDPUnixTimeToECMA(now, &session.timeStamp, 1);
    session.number = 1;
    std::snprintf(session.text1, sizeof session.text1, "sidfpack backup");
    char host[64] = "";
    gethostname(host, sizeof host - 1);
    std::snprintf(session.text2, sizeof session.text2, "%.60s", host);
    std::snprintf(session.text3, sizeof session.text3, "%.39s", current_codeset().c_str());
    std::snprintf(session.text4, sizeof session.text4, "%s", kFormatTag);
    std::snprintf(session.text5, sizeof session.text5, "%u", opt_.block_size);
    std::snprintf(session.osName, sizeof session.osName, "Unix");
    std::snprintf(session.familyName, sizeof session.familyName, "common");
    std::snprintf(session.fullName, sizeof session.fullName, "sidfpack.%.100s", host);
    out_.emit(2048, [&](uint8_t* b, uint32_t cap) {
      return put_header_section(b, cap, HVDP_SESSION_HEADER_ID, [&](uint8_t* p, uint32_t rest, uint32_t* n) {
        return HVDPSetSessionHeaderInfo(&session, p, rest, n);
      }, "the session header");
    });
  }

  void add_operand(const std::string& path) {
    std::string member;
    if (!member_name(path, member)) return;
    add_tree(path, member, !opt_.no_recursion);
  }

  void finish() {
    pad_to_block();
    out_.emit(tool_section_size(), [&](uint8_t* b, uint32_t cap) {
      return put_tool_section(b, cap, kStreamTrailerId, records_, content_bytes_);
    });
    pad_to_block();
    out_.flush();
  }

 private:
  // The member name of an operand: relative, without "." components or
  // doubled slashes. A leading "/" is dropped (once reported); ".." is
  // refused, as extract would refuse it.
  bool member_name(const std::string& path, std::string& member) {
    std::string out;
    size_t i = 0;
    if (!path.empty() && path[0] == '/') {
      if (!warned_absolute_) message("removing leading '/' from member names");
      warned_absolute_ = true;
    }
    while (i < path.size()) {
      size_t j = path.find('/', i);
      if (j == std::string::npos) j = path.size();
      const std::string c = path.substr(i, j - i);
      i = j + 1;
      if (c.empty() || c == ".") continue;
      if (c == "..") {
        message("%s: refusing a path with '..' (use -C)", shown(path).c_str());
        g_status = 1;
        return false;
      }
      if (!out.empty()) out += '/';
      out += c;
    }
    member = out;
    return true;
  }

  std::string renamed(const std::string& member) const {
    for (const auto& [from, to] : opt_.renames) {
      if (member == from) return to;
      if (member.size() > from.size() && member.compare(0, from.size(), from) == 0 && member[from.size()] == '/')
        return to + member.substr(from.size());
    }
    return member;
  }

  void add_tree(const std::string& path, const std::string& member, bool recurse) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) {
      message("%s: %s", shown(path).c_str(), std::strerror(errno));
      g_status = 1;
      return;
    }
    if (st.st_dev == stream_dev_ && st.st_ino == stream_ino_ && S_ISREG(st.st_mode)) {
      message("%s: file is the stream; not stored", shown(path).c_str());
      return;
    }
    if (!member.empty()) add_file(path, renamed(member), st);
    if (!S_ISDIR(st.st_mode) || !recurse) return;
    std::vector<std::string> children;
    if (DIR* d = opendir(path.c_str())) {
      while (const struct dirent* e = readdir(d))
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) children.emplace_back(e->d_name);
      closedir(d);
    } else {
      message("%s: %s", shown(path).c_str(), std::strerror(errno));
      g_status = 1;
      return;
    }
    std::sort(children.begin(), children.end());
    const std::string dir = path.back() == '/' ? path : path + "/";
    for (const std::string& c : children) add_tree(dir + c, member.empty() ? c : member + "/" + c, true);
  }

  const std::string& user_name(uid_t uid) {
    auto it = users_.find(uid);
    if (it != users_.end()) return it->second;
    const struct passwd* pw = getpwuid(uid);
    return users_[uid] = pw != nullptr ? pw->pw_name : "";
  }
  const std::string& group_name(gid_t gid) {
    auto it = groups_.find(gid);
    if (it != groups_.end()) return it->second;
    const struct group* gr = getgrgid(gid);
    return groups_[gid] = gr != nullptr ? gr->gr_name : "";
  }

  void add_file(const std::string& path, const std::string& member, const struct stat& st) {
    Description d;
    int fd = -1;
    if (S_ISREG(st.st_mode)) {
      // O_NONBLOCK: a file swapped for a FIFO since lstat must not hang us.
      fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
      struct stat now {};
      if (fd < 0 || fstat(fd, &now) != 0 || !S_ISREG(now.st_mode) || now.st_ino != st.st_ino) {
        message("%s: %s", shown(path).c_str(), fd < 0 ? std::strerror(errno) : "changed while being opened");
        if (fd >= 0) close(fd);
        g_status = 1;
        return;
      }
      d.size = static_cast<uint64_t>(st.st_size);
    } else if (S_ISLNK(st.st_mode)) {
      std::vector<char> b(static_cast<size_t>(st.st_size) + 2);
      for (;;) {
        const ssize_t n = readlink(path.c_str(), b.data(), b.size());
        if (n < 0) {
          message("%s: %s", shown(path).c_str(), std::strerror(errno));
          g_status = 1;
          return;
        }
        if (static_cast<size_t>(n) < b.size()) {
          d.target.assign(b.data(), static_cast<size_t>(n));
          break;
        }
        b.resize(b.size() * 2);
      }
      d.size = d.target.size();
      if (!locale_to_utf8(d.target, d.target_utf8)) d.target_utf8.clear();
    } else if (!S_ISDIR(st.st_mode)) {
      message("%s: %s ignored", shown(path).c_str(),
              S_ISSOCK(st.st_mode) ? "socket" : S_ISFIFO(st.st_mode) ? "FIFO" : "special file");
      return;
    }
    d.mode = st.st_mode;
    d.uid = st.st_uid;
    d.gid = st.st_gid;
    d.nlink = static_cast<uint32_t>(st.st_nlink);
    d.mtime = st.st_mtim;
    d.atime = st.st_atim;
    d.ctime = st.st_ctim;
    d.owner = user_name(st.st_uid);
    d.group = group_name(st.st_gid);
    if (member.empty()) {
      message("%s: empty member name", shown(path).c_str());
      g_status = 1;
    } else if (put_names(member)) {
      if (opt_.verbose) {
        clear_progress();
        std::fprintf(g_names_out, "%s\n", shown(member).c_str());
      }
      write_records(path, fd, d);
    }
    if (fd >= 0) close(fd);
  }

  // The names of one entry: the locale bytes in name space 0, then the
  // UTF-8 and wide forms, each with the positions of its components. A name
  // with more components than the buffer records is stored without them; a
  // name the code set cannot convert is stored in name space 0 only.
  bool put_names(const std::string& member) {
    HVDPNameHandle* h = nullptr;
    uint32_t rc = HVDPPutFirstName(&names_, kNsLocale, 0, 0, nullptr, GenericChar(kNsLocale, '/'),
                                   member.c_str(), &h);
    if (rc == HVDPUT_OVERFLOW) {
      if (h != nullptr) HVDPCloseName(&h);
      rc = HVDPPutFirstName(&names_, kNsLocale, 0, 0, nullptr, nullptr, member.c_str(), &h);
    }
    if (rc != 0) {
      if (h != nullptr) HVDPCloseName(&h);
      message("%s: cannot store the name: %s", shown(member).c_str(), code_text(rc).c_str());
      g_status = 1;
      return false;
    }
    std::string utf;
    std::vector<wchar_t> wide;
    if (locale_to_utf8(member, utf) && locale_to_wide(member, wide)) {
      const void* forms[2] = {utf.c_str(), wide.data()};
      const uint32_t spaces[2] = {kNsUtf8, kNsWide};
      for (int i = 0; i < 2 && rc == 0; ++i) {
        rc = HVDPPutNextName(&names_, &h, spaces[i], 0, 0, nullptr, GenericChar(spaces[i], '/'), forms[i]);
        if (rc == HVDPUT_OVERFLOW)
          rc = HVDPPutNextName(&names_, &h, spaces[i], 0, 0, nullptr, nullptr, forms[i]);
      }
      if (rc != 0) {
        message("%s: name kept in locale form only: %s", shown(member).c_str(), code_text(rc).c_str());
        if (h != nullptr) HVDPCloseName(&h);
        rc = HVDPPutFirstName(&names_, kNsLocale, 0, 0, nullptr, nullptr, member.c_str(), &h);
      }
    } else if (!warned_codeset_) {
      message("%s: name not valid in code set %s; stored in locale form only", shown(member).c_str(),
              current_codeset().c_str());
      warned_codeset_ = true;
    }
    if (h != nullptr) HVDPCloseName(&h);
    if (names_ == nullptr || rc != 0) {
      message("%s: cannot store the name: %s", shown(member).c_str(), code_text(rc).c_str());
      g_status = 1;
      return false;
    }
    return true;
  }

  // The description block: host-made, sized for its extension.
  void fill_block(const Description& d, const std::vector<uint8_t>& area) {
    const size_t need = HVDP_DATA_SET_INFO_FIXED + std::max<size_t>(area.size(), 1);
    if (need > 0xFFFF) throw StreamError{"extension area too large"};
    if (block_ == nullptr || block_->bufferSize < need) {
      void* grown = std::realloc(block_, need);
      if (grown == nullptr) throw StreamError{"out of memory"};
      block_ = static_cast<HVDPDataSetInfo*>(grown);
      block_->bufferSize = static_cast<uint16_t>(need);
    }
    const uint16_t allocated = block_->bufferSize;
    std::memset(block_, 0, HVDP_DATA_SET_INFO_FIXED);
    block_->bufferSize = allocated;
    block_->dataSize = static_cast<uint16_t>(48 + area.size());
    block_->value1 = d.mode;
    block_->value2 = d.uid;
    block_->value3 = d.gid;
    block_->value4 = static_cast<uint32_t>(d.size);
    block_->value5 = d.nlink;
    block_->dateTime1 = dos_date(d.mtime.tv_sec);
    block_->dateTime2 = dos_date(d.atime.tv_sec);
    block_->dateTime3 = dos_date(d.ctime.tv_sec);
    block_->extensionLength = static_cast<uint16_t>(area.size());
    std::memcpy(reinterpret_cast<uint8_t*>(block_) + HVDP_DATA_SET_INFO_FIXED, area.data(), area.size());
  }

  void pad_to_block() {
    const uint32_t pad = static_cast<uint32_t>((opt_.block_size - out_.offset() % opt_.block_size) % opt_.block_size);
    if (pad == 0) return;
    out_.emit(pad, [&](uint8_t* b, uint32_t) {
      HVDPPadBlankSpace(b, pad);
      return static_cast<size_t>(pad);
    });
  }

  void write_records(const std::string& path, int fd, const Description& d) {
    const bool split = S_ISREG(d.mode) && d.size > opt_.part_size;
    uint64_t offset = 0;
    bool short_read = false;
    do {
      const uint64_t length = S_ISREG(d.mode) ? std::min<uint64_t>(d.size - offset, opt_.part_size) : 0;
      fill_block(d, extension_area(d, split, offset, length));
      write_record(path, fd, length, short_read);
      offset += length;
    } while (offset < d.size && S_ISREG(d.mode));
    if (fd >= 0 && !short_read) {
      char probe;
      if (::read(fd, &probe, 1) > 0) {
        message("%s: file changed as we read it (grew)", shown(path).c_str());
        g_status = 1;
      }
    }
    ++g_progress.entries;
    g_progress.tick(0);
  }

  // One record: header, then the content, then the data check section. The
  // record's length is known before its data (the content is exactly the
  // part's length: a file that shrinks is padded with zeros), so it is
  // stored while the header is certainly still in the output buffer.
  void write_record(const std::string& path, int fd, uint64_t length, bool& short_read) {
    pad_to_block();
    info_.nameBuffer = names_;
    info_.dataSetInfo = block_;
    info_.byteValue = 0;
    std::vector<uint8_t> spill;
    uint8_t* header = nullptr;
    uint32_t written = 0;
    for (;;) {
      uint8_t* p = out_.at();
      uint32_t rest = out_.space();
      written = 0;
      uint32_t rc = HVDPSetNewRecordHeader(&p, &rest, &written, 1, &info_);
      header = out_.at();
      if (rc == HVDPUT_OVERFLOW && !out_.empty()) {
        out_.flush();
        continue;
      }
      if (rc == HVDPUT_OVERFLOW) {  // larger than the whole buffer
        spill.resize(kSpillBytes);
        p = spill.data();
        rest = static_cast<uint32_t>(spill.size());
        written = 0;
        rc = HVDPSetNewRecordHeader(&p, &rest, &written, 1, &info_);
        header = nullptr;
      }
      if (rc != 0) throw StreamError{format("cannot write the record header of %s: %s", shown(path).c_str(),
                                            code_text(rc).c_str())};
      break;
    }
    const uint64_t record = static_cast<uint64_t>(info_.recordLength) + length + tool_section_size();
    if (record > 0xFFFFFFFFu) throw StreamError{"record too long"};
    info_.recordLength = static_cast<uint32_t>(record);
    HVDPUpdateRecordHeader(&info_);
    if (header != nullptr) out_.advance(written);
    else out_.write(spill.data(), written);
    ++records_;

    uint32_t crc = 0xFFFFFFFF;
    uint64_t left = length;
    while (left > 0) {
      if (out_.space() == 0) out_.flush();
      const size_t want = static_cast<size_t>(std::min<uint64_t>(left, out_.space()));
      ssize_t got = 0;
      if (!short_read) {
        do got = ::read(fd, out_.at(), want);
        while (got < 0 && errno == EINTR);
        if (got <= 0) {
          if (got < 0) message("%s: read error: %s; the rest is stored as zeros", shown(path).c_str(),
                               std::strerror(errno));
          else message("%s: file shrank by %llu bytes; the rest is stored as zeros", shown(path).c_str(),
                       static_cast<unsigned long long>(left));
          g_status = 1;
          short_read = true;
        }
      }
      if (short_read) {
        got = static_cast<ssize_t>(want);
        std::memset(out_.at(), 0, want);
      }
      crc = HVDPGenerateCRC(static_cast<uint32_t>(got), crc, out_.at());
      out_.advance(static_cast<size_t>(got));
      left -= static_cast<uint64_t>(got);
      content_bytes_ += static_cast<uint64_t>(got);
      g_progress.tick(static_cast<uint64_t>(got));
    }
    out_.emit(tool_section_size(), [&](uint8_t* b, uint32_t cap) {
      return put_tool_section(b, cap, kDataCheckId, crc, length);
    });
  }

  const Options& opt_;
  Output out_;
  dev_t stream_dev_;
  ino_t stream_ino_;
  HVDPRecordHeaderInfo info_{};
  HVDPNameBuffer* names_ = nullptr;  // ours, released with free
  HVDPDataSetInfo* block_ = nullptr;  // ours, released with free
  uint32_t records_ = 0;
  uint64_t content_bytes_ = 0;
  bool warned_absolute_ = false;
  bool warned_codeset_ = false;
  std::map<uid_t, std::string> users_;
  std::map<gid_t, std::string> groups_;
};

// ---------------------------------------------------------------------------
// Input: one fixed buffer over the stream. Bytes before `pos_` are consumed;
// fill() moves the unread rest to the front and reads until the buffer is
// full or the input ends.

class Input {
 public:
  Input(int fd, size_t capacity) : fd_(fd), buf_(capacity) {}
  uint8_t* data() { return buf_.data() + pos_; }
  uint32_t avail() const { return static_cast<uint32_t>(end_ - pos_); }
  size_t capacity() const { return buf_.size(); }
  bool eof() const { return eof_; }
  uint64_t offset() const { return base_ + pos_; }  // stream offset of data()
  void consume(size_t n) { pos_ += n; }

  // Returns whether new bytes arrived.
  bool fill() {
    if (pos_ != 0) {
      std::memmove(buf_.data(), buf_.data() + pos_, end_ - pos_);
      base_ += pos_;
      end_ -= pos_;
      pos_ = 0;
    }
    const size_t before = end_;
    while (end_ < buf_.size() && !eof_) end_ += read_some(buf_.data() + end_, buf_.size() - end_);
    return end_ > before;
  }
  // Reads n bytes past the buffer (which must be empty) straight into dst,
  // where the caller consumes them; returns the bytes read (fewer at the
  // end of the input).
  size_t read_direct(uint8_t* dst, size_t n) {
    size_t got = 0;
    while (got < n && !eof_) got += read_some(dst + got, n - got);
    base_ += got;
    return got;
  }

 private:
  size_t read_some(uint8_t* dst, size_t n) {
    for (;;) {
      const ssize_t r = ::read(fd_, dst, n);
      if (r > 0) return static_cast<size_t>(r);
      if (r == 0) {
        eof_ = true;
        return 0;
      }
      if (errno != EINTR) throw StreamError{format("read error: %s", std::strerror(errno))};
    }
  }

  int fd_;
  std::vector<uint8_t> buf_;
  size_t pos_ = 0, end_ = 0;
  uint64_t base_ = 0;  // stream offset of buf_[0]
  bool eof_ = false;
};

// ---------------------------------------------------------------------------
// Reading a stream: entries one by one.

struct Entry {
  uint32_t record = 0;
  std::string name;                 // locale bytes: shown, matched, restored
  std::string forms[3];             // name in 0, 0x100, 0x200 (as locale text), for -vv
  bool has_form[3] = {false, false, false};
  uint32_t mode = 0, uid = 0, gid = 0, nlink = 0;
  uint64_t size = 0;                // the whole file
  bool part = false;
  uint64_t part_offset = 0, part_length = 0;
  uint64_t content = 0;             // content bytes in this record
  std::string owner, group, target;  // target: locale bytes, as the name
  bool exact_times = false;
  struct timespec mtime {}, atime {};
  uint32_t dos_mtime = 0, dos_atime = 0;

  bool first_part() const { return !part || part_offset == 0; }
  bool last_part() const { return !part || part_offset + part_length == size; }
  time_t shown_mtime() const {
    if (exact_times) return mtime.tv_sec;
    time_t t = 0;
    from_dos_date(dos_mtime, &t);
    return t;
  }
};

using Sink = std::function<void(const uint8_t*, size_t)>;

class Reader {
 public:
  Reader(int fd, uint32_t buffer_size, std::string stream) : in_(fd, buffer_size), stream_(std::move(stream)) {}
  ~Reader() {
    std::free(info_.nameBuffer);
    std::free(info_.dataSetInfo);
    if (info_.state == HVDP_STATE_SAVED) std::free(info_.savedData);
  }
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;

  // Reads the media and session headers.
  void begin() {
    where_ = "media header";
    std::vector<uint8_t> s = header_section(HVDP_MEDIA_HEADER_ID, "not a sidfpack stream (no media header)");
    HVDPMediaHeaderInfo media{};
    if (const uint32_t rc = HVDPGetMediaHeaderInfo(s.data(), static_cast<uint32_t>(s.size()), &media))
      fail("unreadable: " + code_text(rc));
    if (text_of(media.text) != kMediaText) fail("not a sidfpack stream");
    where_ = "session header";
    s = header_section(HVDP_SESSION_HEADER_ID, "missing");
    HVDPSessionHeaderInfo session{};
    if (const uint32_t rc = HVDPGetSessionHeaderInfo(s.data(), static_cast<uint32_t>(s.size()), &session))
      fail("unreadable: " + code_text(rc));
    if (text_of(session.text4) != kFormatTag)
      fail(format("unsupported format '%s'", shown(text_of(session.text4)).c_str()));
    codeset_ = text_of(session.text3);
    same_codeset_ = codeset_.empty() || codeset_ == current_codeset();
    const std::string block = text_of(session.text5);
    char* end = nullptr;
    block_size_ = std::strtoul(block.c_str(), &end, 10);
    if (block.empty() || *end != '\0' || block_size_ == 0 || block_size_ > (1u << 20)) fail("damaged block size");
  }

  // The next entry, or false after the stream trailer. Before the next call
  // the caller passes the entry's content to read_content.
  bool next(Entry& e) {
    if (content_pending_) read_content(nullptr);
    ++record_;
    where_ = format("record %u", record_);
    uint32_t head = peek_head();
    while (head == kPadId) {
      gather_section(kPadId, nullptr, 0);
      head = peek_head();
    }
    if (head == 0) fail(record_ == 1 ? "truncated stream: no end marker"
                                     : format("truncated stream: no end marker after record %u", record_ - 1));
    if (head == kStreamTrailerId) {
      where_ = "end of stream";
      finish();
      return false;
    }
    if (head != HVDP_RECORD_HEADER_ID) fail(format("unexpected section 0x%X", head));
    read_header(e);
    if (pending_part_ && (!e.part || e.part_offset == 0 || e.name != part_name_ || e.part_offset != part_next_))
      fail(format("%s: continuation missing", shown(part_name_).c_str()));
    if (e.part && e.part_offset != 0 && !pending_part_) fail(format("%s: part without its beginning",
                                                                  shown(e.name).c_str()));
    pending_part_ = e.part && !e.last_part();
    part_name_ = e.name;
    part_next_ = e.part_offset + e.part_length;
    content_pending_ = true;
    return true;
  }

  // Streams the current entry's content to sink (null: skip it) and checks
  // it against the record's data check section.
  void read_content(const Sink& sink) {
    content_pending_ = false;
    uint32_t crc = 0xFFFFFFFF;
    uint64_t left = content_;
    while (left > 0) {
      if (in_.avail() == 0 && !in_.fill()) fail("truncated data");
      const size_t n = static_cast<size_t>(std::min<uint64_t>(left, in_.avail()));
      crc = HVDPGenerateCRC(static_cast<uint32_t>(n), crc, in_.data());
      if (sink) sink(in_.data(), n);
      in_.consume(n);
      left -= n;
      content_total_ += n;
      g_progress.tick(n);
    }
    // The rest of the record is its data check section.
    while (in_.avail() < tool_section_size() + 16 && !in_.eof())
      if (!in_.fill()) break;
    uint8_t* p = in_.data();
    uint32_t n = in_.avail();
    uint32_t check = 0;
    uint64_t length = 0;
    const uint32_t rc = get_tool_section(kDataCheckId, &p, &n, &check, &length);
    if (rc == HVDPUT_BUFFER_UNDERFLOW && in_.eof()) fail("truncated data check");
    if (rc != 0) fail("damaged data check section");
    const size_t used = static_cast<size_t>(p - in_.data());
    std::string why;
    if (!section_checks(in_.data(), used, kDataCheckId, &why)) fail("data check section: " + why);
    if (used != tail_) fail("record length disagrees with its content");
    if (length != content_) fail("damaged data check section");
    if (check != crc) fail("data check value mismatch");
    in_.consume(used);
  }

 private:
  [[noreturn]] void fail(const std::string& what) const {
    throw StreamError{stream_ + ": " + where_ + ": " + what};
  }

  void skip_filler() {
    for (;;) {
      while (in_.avail() > 0 && *in_.data() == 0) in_.consume(1);
      if (in_.avail() > 0 || !in_.fill()) return;
    }
  }

  // Identifier of the section that starts at the read position (after
  // filler), 0 at the end of the input.
  uint32_t peek_head() {
    skip_filler();
    if (in_.avail() < kPeekBytes && !in_.eof()) in_.fill();
    if (in_.avail() == 0) return 0;
    DPDFField f{};
    if (DPDFGetNextField(in_.data(), in_.avail(), &f) != 0 || f.dataOverflow.value != 0) {
      if (in_.eof()) fail("truncated section");
      fail("damaged section head");
    }
    if (f.dataSize.value != 2 || f.data == nullptr || f.data[0] != kSignature[0] || f.data[1] != kSignature[1])
      fail(format("damaged stream: field 0x%X where a section should begin", f.fieldId));
    return f.fieldId;
  }

  void take(size_t n, std::vector<uint8_t>* gather, size_t cap) {
    if (gather != nullptr) {
      if (gather->size() + n > cap) fail("section too long");
      gather->insert(gather->end(), in_.data(), in_.data() + n);
    }
    in_.consume(n);
  }

  // Passes over n bytes that may run past the buffer; `blank` requires them
  // to be zero (the blank space of a pad section).
  void take_stream(uint64_t n, std::vector<uint8_t>* gather, size_t cap, bool blank) {
    while (n > 0) {
      if (in_.avail() == 0 && !in_.fill()) fail("truncated section");
      const size_t k = static_cast<size_t>(std::min<uint64_t>(n, in_.avail()));
      if (blank)
        for (size_t i = 0; i < k; ++i)
          if (in_.data()[i] != 0) fail("damaged pad section");
      take(k, gather, cap);
      n -= k;
    }
  }

  // Reads the section at the read position field by field, jumping where
  // an offset field says, into *gather (or over it when null). Fields may be
  // longer than the buffer.
  void gather_section(uint32_t head, std::vector<uint8_t>* gather, size_t cap) {
    if (gather != nullptr) gather->clear();
    bool opened = false, jumped = false;
    for (;;) {
      if (in_.avail() < kPeekBytes && !in_.eof()) in_.fill();
      if (in_.avail() == 0) fail("truncated section");
      DPDFField f{};
      if (DPDFGetNextField(in_.data(), in_.avail(), &f) != 0) {
        if (in_.eof()) fail("truncated section");
        fail("damaged section");
      }
      if (opened && jumped && f.fieldId != head) fail("damaged section: offset field misses the closing field");
      take(f.bytesUsed, gather, cap);
      if (f.dataOverflow.value != 0) take_stream(f.dataOverflow.value, gather, cap, false);
      if (!opened) {
        opened = true;
        continue;
      }
      if (f.fieldId == head) return;
      if (f.fieldId == DPDF_OFFSET_TO_END && f.dataOverflow.value == 0) {
        UINT64 distance{};
        if (f.dataSize.value > 8 || DPDFSetUINT64(&distance, f.data, static_cast<uint16_t>(f.dataSize.value)) != 0)
          fail("damaged offset field");
        take_stream(distance.value, gather, cap, head == kPadId);
        jumped = true;
      }
    }
  }

  void check_section(const std::vector<uint8_t>& s, uint32_t head) const {
    std::string why;
    if (!section_checks(s.data(), s.size(), head, &why)) fail(why);
  }

  // The header section `head`, which must come next, checked.
  std::vector<uint8_t> header_section(uint32_t head, const char* missing) {
    std::vector<uint8_t> s;
    if (peek_head() != head) fail(missing);
    gather_section(head, &s, 64 * 1024);
    check_section(s, head);
    return s;
  }

  // A text member of a header record, which need not be terminated.
  template <size_t N>
  static std::string text_of(const char (&member)[N]) {
    return std::string(member, strnlen(member, N));
  }

  void finish() {
    std::vector<uint8_t> s;
    gather_section(kStreamTrailerId, &s, 4096);
    check_section(s, kStreamTrailerId);
    uint8_t* p = s.data();
    uint32_t n = static_cast<uint32_t>(s.size());
    uint32_t records = 0;
    uint64_t bytes = 0;
    if (get_tool_section(kStreamTrailerId, &p, &n, &records, &bytes) != 0) fail("damaged");
    if (pending_part_) fail(format("%s: continuation missing", shown(part_name_).c_str()));
    if (records != record_ - 1 || bytes != content_total_)
      fail(format("%u records and %llu bytes read, the stream holds %u and %llu", record_ - 1,
                  static_cast<unsigned long long>(content_total_), records, static_cast<unsigned long long>(bytes)));
    // Only padding may follow.
    for (;;) {
      const uint32_t head = peek_head();
      if (head == 0) {
        if (in_.offset() % block_size_ != 0)
          fail(format("truncated stream: %llu bytes, not a multiple of its block size %lu",
                      static_cast<unsigned long long>(in_.offset()), block_size_));
        return;
      }
      if (head != kPadId) fail("unexpected data after the end of the stream");
      gather_section(kPadId, nullptr, 0);
    }
  }

  // The first section through HVDPGetRecordHeaderOnly, refilling the buffer
  // when the section runs past its end; then the data set information
  // section (see read_description).
  void read_header(Entry& e) {
    uint32_t rc;
    uint8_t* start;
    uint8_t* p;
    for (;;) {
      start = p = in_.data();
      uint32_t n = in_.avail();
      rc = HVDPGetRecordHeaderOnly(&p, &n, &info_);
      if (rc == HVDPUT_BUFFER_UNDERFLOW && !in_.eof() && in_.fill()) continue;
      break;
    }
    if (rc == HVDPUT_BUFFER_UNDERFLOW && in_.eof()) fail("truncated record header");
    if (rc != 0) fail("damaged record header: " + code_text(rc));
    const size_t first = static_cast<size_t>(p - start);
    std::string why;
    if (!section_checks(start, first, HVDP_RECORD_HEADER_ID, &why)) fail("record header: " + why);
    if (info_.shortHeader != 0 || info_.state != HVDP_STATE_NEW_SECTION) fail("record header without description");
    in_.consume(first);
    const uint32_t record_length = info_.recordLength;

    std::vector<uint8_t> section;
    read_description(section);
    if (section.size() > record_length) fail("record length shorter than its header");
    if (!section_checks(section.data(), section.size(), HVDP_DATA_SET_INFO_ID, &why)) fail("description: " + why);
    const uint64_t rest = record_length - section.size();
    describe(e);
    if (e.content > rest) fail("record length shorter than its content");
    content_ = e.content;
    tail_ = rest - e.content;
  }

  // HVDPGetDataSetInfo on the rest of the buffer. When the section runs
  // past the buffer's end, the parser keeps its start (state 1) and the
  // rest comes from the next buffer: the buffer refilled, or, when the
  // section is longer than that, exactly its remaining bytes read into a
  // buffer of their own. Every byte the parser consumed is kept in
  // `section` for the check value.
  void read_description(std::vector<uint8_t>& section) {
    if (in_.avail() == 0 && !in_.fill()) fail("truncated record header");
    uint8_t* p = in_.data();
    uint32_t n = in_.avail();
    uint32_t rc = HVDPGetDataSetInfo(&p, &n, &info_);
    take(static_cast<size_t>(p - in_.data()), &section, kMaxSection);
    if (rc != 0) fail("damaged description: " + code_text(rc));
    if (info_.state == HVDP_STATE_SAVED) {
      if (!in_.fill()) fail("truncated record header");
      const uint64_t total = section_length(info_.savedData, info_.savedLength);
      std::vector<uint8_t> next;
      const uint64_t missing = total > info_.savedLength ? total - info_.savedLength : 0;
      if (missing > in_.avail()) {
        if (total > kMaxSection) fail("description too long");
        next.resize(static_cast<size_t>(missing));
        std::memcpy(next.data(), in_.data(), in_.avail());
        const size_t had = in_.avail();
        in_.consume(had);
        next.resize(had + in_.read_direct(next.data() + had, next.size() - had));
        p = next.data();
        n = static_cast<uint32_t>(next.size());
        rc = HVDPGetDataSetInfo(&p, &n, &info_);
        section.insert(section.end(), next.data(), p);
        if (rc == 0 && n != 0) fail("description shorter than its offset field says");
      } else {
        p = in_.data();
        n = in_.avail();
        rc = HVDPGetDataSetInfo(&p, &n, &info_);
        take(static_cast<size_t>(p - in_.data()), &section, kMaxSection);
      }
      if (rc == HVDPUT_BUFFER_UNDERFLOW && in_.eof()) fail("truncated record header");
      if (rc != 0) fail("damaged description: " + code_text(rc));
    }
    if (info_.state != HVDP_STATE_DONE) fail("damaged description");
  }

  // Length of a data set information section from its head and offset
  // fields, which lie in the saved start and the refilled buffer; 0 when
  // they cannot be read (the parser then reports the damage).
  uint64_t section_length(const uint8_t* saved, uint32_t saved_length) {
    uint8_t head[64];
    const size_t a = std::min<size_t>(saved_length, sizeof head);
    if (a != 0) std::memcpy(head, saved, a);
    const size_t b = std::min<size_t>(sizeof head - a, in_.avail());
    std::memcpy(head + a, in_.data(), b);
    DPDFField h{}, o{};
    if (DPDFGetNextField(head, static_cast<uint32_t>(a + b), &h) != 0 || h.dataOverflow.value != 0 ||
        h.fieldId != HVDP_DATA_SET_INFO_ID)
      return 0;
    if (DPDFGetNextField(head + h.bytesUsed, static_cast<uint32_t>(a + b - h.bytesUsed), &o) != 0 ||
        o.dataOverflow.value != 0 || o.fieldId != DPDF_OFFSET_TO_END || o.dataSize.value > 8)
      return 0;
    UINT64 distance{};
    DPDFSetUINT64(&distance, o.data, static_cast<uint16_t>(o.dataSize.value));
    const uint64_t closing = id_length(HVDP_DATA_SET_INFO_ID) + 5;
    if (distance.value > kMaxSection) fail("description too long");
    return h.bytesUsed + o.bytesUsed + distance.value + closing;
  }

  // The name to use for a name space's entry, as locale text.
  bool name_form(uint32_t ns, std::string& out) {
    HVDPDataSetName dn{};
    if (info_.nameBuffer == nullptr || HVDPGetDataSetName(info_.nameBuffer, ns, &dn) != 0 || dn.name == nullptr)
      return false;
    const uint16_t length = dn.nameLength;
    const char* name = static_cast<const char*>(dn.name);
    if (ns == kNsWide) {
      // Copied into aligned storage with a terminator of our own: the name
      // is unaligned and comes from the stream.
      std::vector<wchar_t> wide(length / sizeof(wchar_t) + 1, L'\0');
      std::memcpy(wide.data(), name, length / sizeof(wchar_t) * sizeof(wchar_t));
      wide.back() = L'\0';
      return wide_to_locale(wide, out);
    }
    const std::string text(name, strnlen(name, length));
    if (text.size() + 1 < length) return false;  // a zero inside the name
    if (ns == kNsUtf8) return utf8_to_locale(text, out);
    out = text;
    return true;
  }

  void describe(Entry& e) {
    e = Entry{};
    e.record = record_;
    const uint32_t spaces[3] = {kNsLocale, kNsUtf8, kNsWide};
    for (int i = 0; i < 3; ++i) e.has_form[i] = name_form(spaces[i], e.forms[i]);
    // Names are locale bytes of the stream's code set: used as they are
    // when it is ours, else converted from the UTF-8 or wide form.
    if (same_codeset_ && e.has_form[0]) e.name = e.forms[0];
    else if (e.has_form[1]) e.name = e.forms[1];
    else if (e.has_form[2]) e.name = e.forms[2];
    else if (e.has_form[0]) e.name = e.forms[0];
    else fail("record without a name");
    if (e.name.empty()) fail("record with an empty name");

    const HVDPDataSetInfo* b = info_.dataSetInfo;
    if (b == nullptr) fail("record without description");
    e.mode = b->value1;
    e.uid = b->value2;
    e.gid = b->value3;
    e.size = b->value4;
    e.nlink = b->value5;
    e.dos_mtime = b->dateTime1;
    e.dos_atime = b->dateTime2;
    const uint16_t ext_length = b->extensionLength;
    if (ext_length > b->bufferSize - HVDP_DATA_SET_INFO_FIXED) fail("damaged description block");
    const uint8_t* area = reinterpret_cast<const uint8_t*>(b) + HVDP_DATA_SET_INFO_FIXED;
    HVDPExtensionEntry* x = nullptr;
    HVDPExtensionHandle* h = nullptr;
    for (uint32_t rc = ext_length ? HVDPGetFirstExtension(area, ext_length, &x, &h) : HVDPUT_BUFFER_UNDERFLOW;
         rc == 0; rc = HVDPGetNextExtension(&h, &x)) {
      const uint32_t type = x->entryType, length = x->dataLength;
      const uint8_t* d = static_cast<const uint8_t*>(x->data);
      if (type == kExtStrings && d != nullptr) {
        const auto* s = reinterpret_cast<const HVDPExtensionStrings*>(d);
        std::string* to[3] = {&e.owner, &e.group, &e.target};
        const char* from[3] = {s->string1, s->string2, s->string3};
        for (int i = 0; i < 3; ++i)
          if (from[i] != nullptr)
            to[i]->assign(from[i], get_le(reinterpret_cast<const uint8_t*>(from[i]) - 2, 2));
      } else if (type == kExtTimes && length == kTimesBytes) {
        e.exact_times = true;
        e.mtime.tv_sec = static_cast<time_t>(get_le(d, 8));
        e.mtime.tv_nsec = static_cast<long>(get_le(d + 8, 4) % 1000000000u);
        e.atime.tv_sec = static_cast<time_t>(get_le(d + 12, 8));
        e.atime.tv_nsec = static_cast<long>(get_le(d + 20, 4) % 1000000000u);
      } else if (type == kExtSize && length == 8) {
        e.size = get_le(d, 8);
      } else if (type == kExtTargetUtf8 && length != 0 && !same_codeset_) {
        std::string target;
        if (utf8_to_locale(std::string(reinterpret_cast<const char*>(d), length), target)) e.target = target;
      } else if (type == kExtPart && length == 16) {
        e.part = true;
        e.part_offset = get_le(d, 8);
        e.part_length = get_le(d + 8, 8);
      }
    }
    if (h != nullptr) HVDPCloseExtension(&h);
    if (e.part && (e.part_offset > e.size || e.part_length > e.size - e.part_offset || e.part_length == 0))
      fail("damaged part description");
    e.content = (e.mode & S_IFMT) == S_IFREG ? (e.part ? e.part_length : e.size) : 0;
  }

  Input in_;
  std::string stream_;
  std::string where_;
  std::string codeset_;
  bool same_codeset_ = true;
  unsigned long block_size_ = 1;
  HVDPRecordHeaderInfo info_{};
  uint32_t record_ = 0;
  uint64_t content_ = 0, tail_ = 0, content_total_ = 0;
  bool content_pending_ = false;
  bool pending_part_ = false;
  std::string part_name_;
  uint64_t part_next_ = 0;
};

// ---------------------------------------------------------------------------
// Selecting entries by pattern: a pattern selects the names it matches and
// everything below them.

class Selection {
 public:
  Selection(const std::vector<std::string>& patterns, bool dos) : dos_(dos) {
    for (std::string p : patterns) {
      while (p.size() > 1 && p.back() == '/') p.pop_back();
      patterns_.push_back(p);
    }
    used_.assign(patterns_.size(), false);
  }
  bool selects(const std::string& name) {
    if (patterns_.empty()) return true;
    bool any = false;
    for (size_t i = 0; i < patterns_.size(); ++i) {
      if (matches(patterns_[i], name)) {
        used_[i] = true;
        any = true;
      }
    }
    return any;
  }
  void report_unused() const {
    for (size_t i = 0; i < patterns_.size(); ++i) {
      if (!used_[i]) {
        message("%s: not found in the stream", shown(patterns_[i]).c_str());
        g_status = 1;
      }
    }
  }

 private:
  bool match_one(const std::string& pattern, const std::string& name) const {
    if (dos_) return HVDPWildMatch(pattern.c_str(), name.c_str()) == 1;
    return HVDPMatchName(kNsLocale, pattern.c_str(), name.c_str(), 0) == HVDP_MATCH;
  }
  bool matches(const std::string& pattern, const std::string& name) const {
    if (match_one(pattern, name)) return true;
    for (size_t slash = name.find('/'); slash != std::string::npos; slash = name.find('/', slash + 1))
      if (match_one(pattern, name.substr(0, slash))) return true;
    return false;
  }

  bool dos_;
  std::vector<std::string> patterns_;
  std::vector<bool> used_;
};

// ---------------------------------------------------------------------------
// Listing.

void list_entry(const Entry& e, int verbose) {
  clear_progress();
  std::string line = mode_text(e.mode);
  if (verbose) {
    line += ' ';
    line += e.owner.empty() ? std::to_string(e.uid) : shown(e.owner);
    line += '/';
    line += e.group.empty() ? std::to_string(e.gid) : shown(e.group);
  }
  line += format(" %12llu %s %s", static_cast<unsigned long long>(e.size), date_text(e.shown_mtime()).c_str(),
                 shown(e.name).c_str());
  if ((e.mode & S_IFMT) == S_IFLNK) line += " -> " + shown(e.target);
  std::printf("%s\n", line.c_str());
  if (verbose > 1) {
    static const char* const kSpace[3] = {"0x000", "0x100", "0x200"};
    for (int i = 0; i < 3; ++i)
      std::printf("    name space %s: %s\n", kSpace[i], e.has_form[i] ? shown(e.forms[i]).c_str() : "(none)");
  }
}

int run_list(const Options& o, int fd) {
  Reader reader(fd, o.buffer_size, o.stream);
  Selection selection(o.operands, o.dos_wildcards);
  reader.begin();
  g_progress.begin("listed");
  Entry e;
  while (reader.next(e)) {
    ++g_progress.entries;
    if (e.first_part() && selection.selects(e.name)) list_entry(e, o.verbose);
    reader.read_content(nullptr);
  }
  clear_progress();
  selection.report_unused();
  return g_status;
}

// ---------------------------------------------------------------------------
// Extracting. Every file system call is made relative to a descriptor of
// the target folder or of a folder below it, opened component by component
// with O_NOFOLLOW, so no name and no symbolic link (from the stream or
// already there) leads outside the target folder.

class Extractor {
 public:
  Extractor(const Options& o, int root) : opt_(o), root_(root), as_root_(geteuid() == 0) {}
  ~Extractor() {
    if (parent_fd_ >= 0) close(parent_fd_);
    discard_file();
  }
  Extractor(const Extractor&) = delete;
  Extractor& operator=(const Extractor&) = delete;

  void entry(Reader& reader, const Entry& e) {
    std::vector<std::string> parts;
    std::string why;
    if (!split_name(e.name, parts, why)) {
      message("%s: record %u: %s: %s", opt_.stream.c_str(), e.record, shown(e.name).c_str(), why.c_str());
      g_status = 1;
      reader.read_content(nullptr);
      return;
    }
    if (opt_.verbose && e.first_part()) {
      clear_progress();
      std::printf("%s\n", shown(e.name).c_str());
    }
    const uint32_t type = e.mode & S_IFMT;
    if (type == S_IFREG) {
      file(reader, e, parts);
      return;
    }
    reader.read_content(nullptr);
    if (type == S_IFDIR) directory(e, parts);
    else if (type == S_IFLNK) symlink(e, parts);
    else problem(e, "unsupported entry type");
  }

  // Modes and times of folders are set last, deepest first: writing into a
  // folder changes its time, and its mode might forbid the writing.
  void finish() {
    discard_file();
    for (auto it = dirs_.rbegin(); it != dirs_.rend(); ++it) {
      int fd = open_path(it->parts, it->parts.size(), false);
      if (fd < 0) continue;
      const int dfd = openat(fd, it->parts.back().c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      close(fd);
      if (dfd < 0) continue;
      apply_owner(dfd, it->entry);
      fchmod(dfd, permissions(it->entry.mode));
      apply_times(dfd, it->entry);
      close(dfd);
    }
  }

 private:
  struct Dir {
    std::vector<std::string> parts;
    Entry entry;
  };

  static bool split_name(const std::string& name, std::vector<std::string>& parts, std::string& why) {
    if (name.find('\0') != std::string::npos) {
      why = "name holds a zero byte";
      return false;
    }
    if (name[0] == '/') {
      why = "refusing an absolute name";
      return false;
    }
    size_t i = 0;
    while (i <= name.size()) {
      size_t j = name.find('/', i);
      if (j == std::string::npos) j = name.size();
      std::string c = name.substr(i, j - i);
      i = j + 1;
      if (c.empty() || c == ".") continue;
      if (c == "..") {
        why = "refusing a name with '..'";
        return false;
      }
      parts.push_back(std::move(c));
    }
    if (parts.empty()) {
      why = "empty name";
      return false;
    }
    return true;
  }

  void problem(const Entry& e, const std::string& what) {
    message("%s: %s: %s", opt_.stream.c_str(), shown(e.name).c_str(), what.c_str());
    g_status = 1;
  }

  mode_t permissions(uint32_t mode) const { return static_cast<mode_t>(mode & (as_root_ ? 07777 : 01777)); }

  // Opens the folder that holds parts[count - 1], creating missing folders
  // when `create`. Refuses symbolic links on the way. Returns a descriptor
  // the caller closes, or -1 (reported when `report`).
  int open_path(const std::vector<std::string>& parts, size_t count, bool create, std::string* why = nullptr) {
    int fd = dup(root_);
    for (size_t i = 0; fd >= 0 && i + 1 < count; ++i) {
      int next = openat(fd, parts[i].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (next < 0 && errno == ENOENT && create) {
        if (mkdirat(fd, parts[i].c_str(), 0777) != 0 && errno != EEXIST) {
          if (why) *why = format("cannot create folder %s: %s", shown(parts[i]).c_str(), std::strerror(errno));
          close(fd);
          return -1;
        }
        next = openat(fd, parts[i].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      }
      if (next < 0) {
        struct stat st {};
        const int err = errno;
        if (why) {
          if (fstatat(fd, parts[i].c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode))
            *why = format("refusing to write through the symbolic link %s", shown(parts[i]).c_str());
          else
            *why = format("%s: %s", shown(parts[i]).c_str(), std::strerror(err));
        }
      }
      close(fd);
      fd = next;
    }
    return fd;
  }

  // The folder of an entry, kept open while entries of the same folder
  // follow one another.
  int parent(const Entry& e, const std::vector<std::string>& parts) {
    std::string key;
    for (size_t i = 0; i + 1 < parts.size(); ++i) key += parts[i] + '/';
    if (parent_fd_ >= 0 && key == parent_key_) return parent_fd_;
    if (parent_fd_ >= 0) close(parent_fd_);
    parent_fd_ = -1;
    std::string why;
    const int fd = open_path(parts, parts.size(), true, &why);
    if (fd < 0) {
      problem(e, why);
      return -1;
    }
    parent_fd_ = fd;
    parent_key_ = key;
    return fd;
  }

  // Owners are restored by name where this system knows the name, else by
  // number; names are looked up once each.
  template <class Id, class Lookup>
  static Id known_id(std::map<std::string, std::optional<Id>>& known, const std::string& name, Id number,
                     Lookup lookup) {
    if (name.empty()) return number;
    auto it = known.find(name);
    if (it == known.end()) it = known.emplace(name, lookup(name.c_str())).first;
    return it->second.value_or(number);
  }
  uid_t user_id(const Entry& e) {
    return known_id<uid_t>(users_, e.owner, e.uid, [](const char* n) -> std::optional<uid_t> {
      const struct passwd* pw = getpwnam(n);
      return pw != nullptr ? std::optional<uid_t>(pw->pw_uid) : std::nullopt;
    });
  }
  gid_t group_id(const Entry& e) {
    return known_id<gid_t>(groups_, e.group, e.gid, [](const char* n) -> std::optional<gid_t> {
      const struct group* gr = getgrnam(n);
      return gr != nullptr ? std::optional<gid_t>(gr->gr_gid) : std::nullopt;
    });
  }

  void apply_owner(int fd, const Entry& e, const char* link = nullptr) {
    if (!as_root_) return;
    const uid_t uid = user_id(e);
    const gid_t gid = group_id(e);
    if (link != nullptr) fchownat(fd, link, uid, gid, AT_SYMLINK_NOFOLLOW);
    else if (fchown(fd, uid, gid) != 0) problem(e, format("cannot set owner: %s", std::strerror(errno)));
  }

  static void times_of(const Entry& e, struct timespec ts[2]) {
    if (e.exact_times) {
      ts[0] = e.atime;
      ts[1] = e.mtime;
      return;
    }
    time_t t = 0;
    ts[0] = {from_dos_date(e.dos_atime, &t) ? t : 0, 0};
    if (e.dos_atime == 0) ts[0].tv_nsec = UTIME_OMIT;
    ts[1] = {from_dos_date(e.dos_mtime, &t) ? t : 0, 0};
    if (e.dos_mtime == 0) ts[1].tv_nsec = UTIME_OMIT;
  }

  void apply_times(int fd, const Entry& e, const char* link = nullptr) {
    struct timespec ts[2];
    times_of(e, ts);
    const int rc = link != nullptr ? utimensat(fd, link, ts, AT_SYMLINK_NOFOLLOW) : futimens(fd, ts);
    if (rc != 0) problem(e, format("cannot set times: %s", std::strerror(errno)));
  }

  std::string temp_name() { return format(".sidfpack-%ld-%u", static_cast<long>(pid_), ++temp_counter_); }

  // Regular files are written under a temporary name in their folder and
  // renamed into place once their content has passed its check, so a
  // damaged file never stands under its name and an existing entry of that
  // name (a symbolic link included) is replaced, not written through.
  void file(Reader& reader, const Entry& e, const std::vector<std::string>& parts) {
    if (e.first_part()) {
      discard_file();
      const int dir = parent(e, parts);
      if (dir < 0) {
        reader.read_content(nullptr);
        return;
      }
      file_dir_ = dup(dir);
      file_temp_ = temp_name();
      file_leaf_ = parts.back();
      file_fd_ = openat(file_dir_, file_temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
      if (file_fd_ < 0) {
        problem(e, format("cannot create: %s", std::strerror(errno)));
        discard_file();
        reader.read_content(nullptr);
        return;
      }
      file_error_.clear();
    } else if (file_fd_ < 0) {  // the first part failed and was reported
      reader.read_content(nullptr);
      return;
    }
    reader.read_content([&](const uint8_t* p, size_t n) {
      while (n > 0 && file_error_.empty()) {
        const ssize_t w = ::write(file_fd_, p, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) {
          file_error_ = format("write error: %s", std::strerror(errno));
          break;
        }
        p += w;
        n -= static_cast<size_t>(w);
      }
    });
    if (!e.last_part()) return;
    if (!file_error_.empty()) {
      problem(e, file_error_);
      discard_file();
      return;
    }
    apply_owner(file_fd_, e);
    if (fchmod(file_fd_, permissions(e.mode)) != 0) problem(e, format("cannot set mode: %s", std::strerror(errno)));
    apply_times(file_fd_, e);
    if (close(file_fd_) != 0) problem(e, format("write error: %s", std::strerror(errno)));
    file_fd_ = -1;
    if (renameat(file_dir_, file_temp_.c_str(), file_dir_, file_leaf_.c_str()) != 0) {
      problem(e, format("cannot put in place: %s", std::strerror(errno)));
      unlinkat(file_dir_, file_temp_.c_str(), 0);
    }
    close(file_dir_);
    file_dir_ = -1;
  }

  void discard_file() {
    if (file_fd_ >= 0) {
      close(file_fd_);
      file_fd_ = -1;
      unlinkat(file_dir_, file_temp_.c_str(), 0);
    }
    if (file_dir_ >= 0) close(file_dir_);
    file_dir_ = -1;
  }

  void directory(const Entry& e, const std::vector<std::string>& parts) {
    const int dir = parent(e, parts);
    if (dir < 0) return;
    const char* leaf = parts.back().c_str();
    if (mkdirat(dir, leaf, 0700) != 0) {
      struct stat st {};
      if (errno != EEXIST || fstatat(dir, leaf, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        problem(e, format("cannot create folder: %s", std::strerror(errno)));
        return;
      }
      if (!S_ISDIR(st.st_mode)) {
        if (unlinkat(dir, leaf, 0) != 0 || mkdirat(dir, leaf, 0700) != 0) {
          problem(e, format("cannot replace by a folder: %s", std::strerror(errno)));
          return;
        }
      }
    }
    dirs_.push_back(Dir{parts, e});
  }

  void symlink(const Entry& e, const std::vector<std::string>& parts) {
    if (e.target.empty() || e.target.find('\0') != std::string::npos) {
      problem(e, "damaged link target");
      return;
    }
    const int dir = parent(e, parts);
    if (dir < 0) return;
    const std::string temp = temp_name();
    if (symlinkat(e.target.c_str(), dir, temp.c_str()) != 0) {
      problem(e, format("cannot create link: %s", std::strerror(errno)));
      return;
    }
    apply_owner(dir, e, temp.c_str());
    apply_times(dir, e, temp.c_str());
    if (renameat(dir, temp.c_str(), dir, parts.back().c_str()) != 0) {
      problem(e, format("cannot put in place: %s", std::strerror(errno)));
      unlinkat(dir, temp.c_str(), 0);
    }
  }

  const Options& opt_;
  int root_;
  bool as_root_;
  int parent_fd_ = -1;
  std::string parent_key_;
  int file_fd_ = -1, file_dir_ = -1;
  std::string file_temp_, file_leaf_, file_error_;
  unsigned temp_counter_ = 0;
  const pid_t pid_ = getpid();
  std::vector<Dir> dirs_;
  std::map<std::string, std::optional<uid_t>> users_;
  std::map<std::string, std::optional<gid_t>> groups_;
};

int run_extract(const Options& o, int fd) {
  const std::string dir = o.directory.empty() ? "." : o.directory;
  const int root = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (root < 0) {
    message("%s: %s", shown(dir).c_str(), std::strerror(errno));
    return 1;
  }
  Reader reader(fd, o.buffer_size, o.stream);
  Selection selection(o.operands, o.dos_wildcards);
  int rc = 0;
  {
    Extractor extractor(o, root);
    reader.begin();
    g_progress.begin("restored");
    Entry e;
    while (reader.next(e)) {
      ++g_progress.entries;
      if (selection.selects(e.name)) extractor.entry(reader, e);
      else reader.read_content(nullptr);
    }
    extractor.finish();
    clear_progress();
    selection.report_unused();
    rc = g_status;
  }
  close(root);
  return rc;
}

int run_create(const Options& o, int fd) {
  struct stat st {};
  const bool is_file = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  if (!o.directory.empty() && chdir(o.directory.c_str()) != 0) {
    message("%s: %s", shown(o.directory).c_str(), std::strerror(errno));
    return 1;
  }
  Creator creator(o, fd, o.stream, is_file ? st.st_dev : 0, is_file ? st.st_ino : 0);
  g_progress.begin("stored");
  creator.begin();
  for (const std::string& path : o.operands) creator.add_operand(path);
  creator.finish();
  clear_progress();
  return g_status;
}

}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  Options o;
  try {
    o = parse_options(argc, argv);
  } catch (const UsageError& u) {
    message("%s", u.text.c_str());
    std::fputs(kUsage, stderr);
    return 2;
  }
  if (o.command == Command::kNone) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  // The locale's code set, for the name conversions; without one names are
  // stored in locale form only.
  DPInitUniLibrary(nullptr);

  const bool create = o.command == Command::kCreate;
  int fd;
  if (o.stream == "-") {
    fd = create ? STDOUT_FILENO : STDIN_FILENO;
    if (create) g_names_out = stderr;
    if (create && isatty(fd)) {
      message("refusing to write a stream to a terminal");
      return 2;
    }
  } else {
    fd = create ? open(o.stream.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666)
                : open(o.stream.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      message("%s: %s", shown(o.stream).c_str(), std::strerror(errno));
      return 1;
    }
  }
  int rc = 1;
  try {
    rc = create ? run_create(o, fd) : o.command == Command::kList ? run_list(o, fd) : run_extract(o, fd);
  } catch (const StreamError& e) {
    // Reader errors carry the stream's name and the record; writer errors
    // get the stream's name here.
    if (create) message("%s: %s", shown(o.stream).c_str(), e.text.c_str());
    else message("%s", e.text.c_str());
    rc = 1;
  }
  if (fd > STDERR_FILENO && close(fd) != 0 && rc == 0) {
    message("%s: %s", shown(o.stream).c_str(), std::strerror(errno));
    rc = 1;
  }
  if (std::fflush(stdout) != 0 && rc == 0) rc = 1;
  DPShutDownUniLibrary();
  return rc;
}
