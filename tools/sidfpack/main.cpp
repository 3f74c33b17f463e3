// sidfpack's options and main: parses the command line into the Context,
// opens the stream and runs the job (see context.h).
#include <dpxut.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <cstring>

#include "../common/text.h"
#include "context.h"
#include "incremental.h"

namespace sidfpack {
namespace {

using dpxtool::format;
using dpxtool::shown;

struct UsageError {
  std::string text;
};

const char kUsage[] =
    "usage: sidfpack create  -f STREAM [-C DIR] [options] PATH...\n"
    "       sidfpack list    -f STREAM [options] [PATTERN...]\n"
    "       sidfpack extract -f STREAM [-C DIR] [options] [PATTERN...]\n"
    "       sidfpack diff    -f STREAM [-C DIR] [options] [PATTERN...]\n"
    "       sidfpack convert [--format NAME] [options] IN OUT\n"
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
    "  -T, --files-from F create: read PATHs from F, one per line (- for standard input)\n"
    "  --exclude PATTERN  leave out names matching PATTERN (and what lies below them)\n"
    "  --exclude-from F   leave out names matching any PATTERN in F, one per line\n"
    "  --one-file-system  create: stay in the file system of each PATH\n"
    "  --numeric-owner    use numbers, not names, for owners and groups\n"
    "  --same-owner, --no-same-owner\n"
    "                     extract: restore owners as stored (default for root)\n"
    "  -p, --same-permissions, --no-same-permissions\n"
    "                     extract: restore modes as stored, set-uid/set-gid included,\n"
    "                     without the umask (default for root)\n"
    "  --progress, --no-progress\n"
    "                     show entries, bytes, rate and time left (default on a terminal)\n"
    "  --stop-on-error    stop at the first damaged record (default: report it, go on)\n"
    "  --verify           list: also read every entry's content and check it, as extract\n"
    "                     does (without it, list passes content over unread, as tar does)\n"
    "  --format NAME      convert: write OUT as sidf or in a libarchive format (pax, ustar,\n"
    "                     gnutar, cpio, zip, 7zip...); default: by OUT's suffix (.sidf: a\n"
    "                     stream), else pax; for OUT -: pax from a stream, else a stream\n"
    "  --zstd[=LEVEL]     create: compress the stream with zstd, LEVEL 1 to 19 (default 3);\n"
    "                     list, extract and diff read compressed streams as they are\n"
    "  --threads N        create: compression workers, 0 for one a processor (default 0)\n"
    "  -g, --listed-incremental SNAPSHOT\n"
    "                     create: store only what is new or changed since SNAPSHOT (a full\n"
    "                     backup when it does not exist yet), then record the state in it\n"
    "  -G, --incremental  extract: remove what the stream's folders no longer hold\n"
    "Sizes take a K, M or G suffix. A PATTERN selects the names it matches and everything\n"
    "below them; '*' and '?' are the wildcards. Names are shown escaped: \\\\ for a backslash,\n"
    "\\n, \\t and \\ooo (octal) for controls and bytes that are no character, \\u{XXXX} for\n"
    "C1, bidirectional and line separator characters.\n";

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

uint64_t parse_number(const std::string& option, const std::string& text, uint64_t lo, uint64_t hi) {
  const unsigned long long v = std::strtoull(text.c_str(), nullptr, 10);
  if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos || v < lo ||
      v > hi)
    throw UsageError{format("%s: '%s' is not a number from %llu to %llu", option.c_str(), text.c_str(),
                            static_cast<unsigned long long>(lo), static_cast<unsigned long long>(hi))};
  return v;
}

// The lines of FILE ("-": standard input), empty lines skipped, a final
// carriage return dropped.
void read_lines(const std::string& file, std::vector<std::string>& out) {
  FILE* f = file == "-" ? stdin : std::fopen(file.c_str(), "re");
  if (f == nullptr) throw UsageError{format("%s: %s", shown(file).c_str(), std::strerror(errno))};
  char* line = nullptr;
  size_t cap = 0;
  ssize_t n;
  while ((n = getline(&line, &cap, f)) > 0) {
    std::string s(line, static_cast<size_t>(n));
    if (s.back() == '\n') s.pop_back();
    if (!s.empty() && s.back() == '\r') s.pop_back();
    if (!s.empty()) out.push_back(std::move(s));
  }
  const bool failed = std::ferror(f) != 0;
  std::free(line);
  if (f != stdin) std::fclose(f);
  if (failed) throw UsageError{format("%s: read error", shown(file).c_str())};
}

Options parse_options(int argc, char** argv) {
  Options o;
  if (argc < 2) throw UsageError{"no command given"};
  const std::string cmd = argv[1];
  if (cmd == "create" || cmd == "c") o.command = Command::kCreate;
  else if (cmd == "list" || cmd == "t") o.command = Command::kList;
  else if (cmd == "extract" || cmd == "x") o.command = Command::kExtract;
  else if (cmd == "diff" || cmd == "d" || cmd == "compare") o.command = Command::kDiff;
  else if (cmd == "convert") o.command = Command::kConvert;
  else if (cmd == "-h" || cmd == "--help") return o;
  else throw UsageError{format("unknown command '%s'", cmd.c_str())};
  bool options_end = false;
  std::vector<std::string> files_from;
  int same_owner = -1, same_permissions = -1, progress = -1;  // -1: the default
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
    } else if (a.size() > 2 && (a[1] == 'f' || a[1] == 'C' || a[1] == 'T' || a[1] == 'g')) {
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
    else if (a == "-T" || a == "--files-from") files_from.push_back(take());
    else if (a == "--exclude") o.excludes.push_back(take());
    else if (a == "--exclude-from") read_lines(take(), o.excludes);
    else if (a == "--one-file-system") o.one_file_system = true;
    else if (a == "--numeric-owner") o.numeric_owner = true;
    else if (a == "--same-owner") same_owner = 1;
    else if (a == "--no-same-owner") same_owner = 0;
    else if (a == "-p" || a == "--same-permissions" || a == "--preserve-permissions") same_permissions = 1;
    else if (a == "--no-same-permissions") same_permissions = 0;
    else if (a == "--progress") progress = 1;
    else if (a == "--no-progress") progress = 0;
    else if (a == "--stop-on-error") o.stop_on_error = true;
    else if (a == "--verify") o.verify = true;
    else if (a == "--format") o.format = take();
    else if (a == "--zstd") o.zstd_level = has_value ? static_cast<int>(parse_number(a, value, 1, 19)) : 3;
    else if (a == "-g" || a == "--listed-incremental") o.snapshot = take();  // incremental.h
    else if (a == "-G" || a == "--incremental") o.incremental = true;
    else if (a == "--threads") o.threads = static_cast<int>(parse_number(a, take(), 0, 256));
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
  for (const std::string& f : files_from) read_lines(f, o.operands);
  const bool root = geteuid() == 0;
  o.same_owner = same_owner < 0 ? root : same_owner == 1;
  o.same_permissions = same_permissions < 0 ? root : same_permissions == 1;
  o.progress = progress < 0 ? isatty(STDERR_FILENO) != 0 : progress == 1;
  if (o.command == Command::kConvert) {
    if (o.operands.size() != 2 || !o.stream.empty()) throw UsageError{"convert takes IN and OUT (no -f)"};
    return o;
  }
  if (o.stream.empty()) throw UsageError{"no stream given (-f STREAM)"};
  if (o.command == Command::kCreate && o.operands.empty() && files_from.empty())
    throw UsageError{"create needs at least one PATH"};
  if (o.command == Command::kList && !o.directory.empty()) throw UsageError{"list takes no -C"};
  if (!o.snapshot.empty() && o.command != Command::kCreate) throw UsageError{"-g is for create"};
  if (o.incremental && o.command == Command::kCreate) throw UsageError{"-G is for extract (create takes -g)"};
  return o;
}

// Opens the stream and runs the job; the descriptor is closed here.
int run(Context& c) {
  if (c.opt.command == Command::kConvert) return run_convert(c);
  if (!c.opt.snapshot.empty()) {  // a damaged snapshot stops the run before the stream is touched
    c.incremental = std::make_shared<Incremental>(c.opt);
    if (!c.incremental->load(c, c.opt.snapshot)) return 2;
  }
  const bool create = c.opt.command == Command::kCreate;
  int fd;
  if (c.opt.stream == "-") {
    fd = create ? STDOUT_FILENO : STDIN_FILENO;
    if (create) c.names_out = stderr;
    if (create && isatty(fd)) {
      message(c, "refusing to write a stream to a terminal");
      return 2;
    }
  } else {
    fd = create ? open(c.opt.stream.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666)
                : open(c.opt.stream.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      message(c, "%s: %s", shown(c.opt.stream).c_str(), std::strerror(errno));
      return 1;
    }
  }
  int rc = create                                ? run_create(c, fd)
           : c.opt.command == Command::kList    ? run_list(c, fd)
           : c.opt.command == Command::kExtract ? run_extract(c, fd)
                                                : run_diff(c, fd);
  if (fd > STDERR_FILENO && close(fd) != 0 && rc == 0) {
    message(c, "%s: %s", shown(c.opt.stream).c_str(), std::strerror(errno));
    rc = 1;
  }
  return rc;
}

}  // namespace
}  // namespace sidfpack

int main(int argc, char** argv) {
  using namespace sidfpack;
  std::setlocale(LC_ALL, "");
  Context c;
  try {
    c.opt = parse_options(argc, argv);
  } catch (const UsageError& u) {
    message(c, "%s", u.text.c_str());
    std::fputs(kUsage, stderr);
    return 2;
  }
  if (c.opt.command == Command::kNone) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  // The locale's code set, for the name conversions; without one names are
  // stored in locale form only.
  DPInitUniLibrary(nullptr);
  int rc = run(c);
  if (std::fflush(stdout) != 0 && rc == 0) rc = 1;
  DPShutDownUniLibrary();
  return rc;
}
