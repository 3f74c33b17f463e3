// sidfpack convert IN OUT: a stream into any archive format libarchive
// writes, or any archive libarchive reads into a stream (see convert.h).
//
// IN is read as a stream when its first bytes are one (a media, session or
// record header, or what the library's reader takes for one: a compressed
// stream too), else through libarchive (every format and filter it knows).
// OUT is written as a stream with --format sidf or a name ending in
// ".sidf" (".sidf.zst": compressed, as with --zstd), else through libarchive
// in the --format named or the one its suffix tells (pax when it tells
// none). "-" is standard input or output; without --format a stream then
// becomes pax and anything else a stream.
#include "convert.h"

#include <dpxut.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "../common/text.h"

namespace sidfpack {
namespace {

using dpxtool::shown;

constexpr size_t kHead = 128 * 1024;  // read ahead: the headers and a first record header of the largest

ssize_t read_fd(int fd, void* buf, size_t size) {
  for (;;) {
    const ssize_t n = ::read(fd, buf, size);
    if (n >= 0 || errno != EINTR) return n;
  }
}

int64_t probe_read(void* ctx, void* buf, size_t size) {
  auto* in = static_cast<Input*>(ctx);
  return in->read(buf, size);
}

// Whether the input starts as a stream: the head field and signature of a
// media, session or record header, or a first entry or session header the
// library's reader finds in the bytes read ahead.
bool is_stream(const std::vector<uint8_t>& head) {
  static const uint8_t kMedia[] = {0x80, 0x80, 0x00, 0x02, 0xA5, 0x5A};
  static const uint8_t kSession[] = {0x80, 0x80, 0x04, 0x02, 0xA5, 0x5A};
  static const uint8_t kRecord[] = {0x09, 0x02, 0xA5, 0x5A};
  auto starts = [&](const uint8_t* p, size_t n) { return head.size() >= n && std::memcmp(head.data(), p, n) == 0; };
  if (starts(kMedia, sizeof kMedia) || starts(kSession, sizeof kSession) || starts(kRecord, sizeof kRecord))
    return true;
  Input probe;  // the bytes read ahead alone
  probe.head = head;
  dpxut_reader* r = dpxut_reader_new(probe_read, &probe);
  if (r == nullptr) return false;
  dpxut_entry* e = nullptr;
  const int rc = dpxut_reader_next(r, &e);
  const bool found = rc == DPXUT_OK || *dpxut_reader_codeset(r) != '\0';
  dpxut_reader_free(r);
  return found;
}

bool ends_with(const std::string& s, const char* tail) {
  const size_t n = std::strlen(tail);
  return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

// Content the archive does not give the size of beforehand (a zip member
// written as a stream, say) is gathered in a temporary file first.
struct Spool {
  FILE* f = nullptr;
  ~Spool() {
    if (f != nullptr) std::fclose(f);
  }
};

bool spool(Context& c, EntrySource& src, archive_entry* ae, Spool& s) {
  s.f = std::tmpfile();
  if (s.f == nullptr) {
    message(c, "%s: cannot make a temporary file: %s",
            shown(archive_entry_pathname(ae) ? archive_entry_pathname(ae) : "").c_str(), std::strerror(errno));
    c.fail(1);
    return false;
  }
  uint64_t end = 0;
  bool ok = true;
  const BlockSink put = [&](uint64_t offset, const uint8_t* data, size_t size) {
    if (ok && (fseeko(s.f, static_cast<off_t>(offset), SEEK_SET) != 0 || std::fwrite(data, 1, size, s.f) != size))
      ok = false;
    end = std::max(end, offset + size);
  };
  const bool complete = src.content(&put);
  if (!ok || std::fflush(s.f) != 0) {
    message(c, "%s: temporary file: %s", shown(archive_entry_pathname(ae) ? archive_entry_pathname(ae) : "").c_str(),
            std::strerror(errno));
    c.fail(1);
    std::fclose(s.f);
    s.f = nullptr;  // the entry is passed over
    return false;
  }
  archive_entry_set_size(ae, static_cast<la_int64_t>(end));
  std::rewind(s.f);
  return complete;
}

// Converts the entries from the one in ae (fetched already) on.
void convert(Context& c, EntrySource& src, EntrySink& dst, archive_entry* ae) {
  std::vector<uint8_t> buf(1 << 16);
  const BlockSink pass = [&](uint64_t offset, const uint8_t* data, size_t size) { dst.data(offset, data, size); };
  for (bool more = true; more && !dst.lost(); more = src.next(ae)) {
    const bool regular = archive_entry_filetype(ae) == AE_IFREG && archive_entry_hardlink(ae) == nullptr;
    Spool s;
    const bool spooled = regular && !archive_entry_size_is_set(ae);
    const bool whole = spooled ? spool(c, src, ae, s) : true;
    if (spooled && s.f == nullptr) continue;
    if (!dst.add(ae)) {
      if (regular && !spooled) src.content(nullptr);
      continue;
    }
    if (c.opt.verbose) {
      progress_clear(c);
      const char* name = archive_entry_pathname(ae);
      std::fprintf(c.names_out, "%s\n", shown(name != nullptr ? name : "").c_str());
    }
    bool complete = true;
    if (spooled) {
      uint64_t at = 0;
      size_t n;
      while ((n = std::fread(buf.data(), 1, buf.size(), s.f)) > 0) {
        dst.data(at, buf.data(), n);
        at += n;
      }
      complete = whole;
    } else if (regular) {
      complete = src.content(&pass);
    }
    dst.end_entry(complete);
  }
  dst.finish();
}

// Opens OUT, refusing the input itself and a terminal.
int open_output(Context& c, const std::string& out, int in_fd) {
  if (out == "-") {
    c.names_out = stderr;
    if (isatty(STDOUT_FILENO)) {
      message(c, "refusing to write to a terminal");
      return -1;
    }
    return STDOUT_FILENO;
  }
  struct stat in {};
  struct stat st {};
  if (fstat(in_fd, &in) == 0 && stat(out.c_str(), &st) == 0 && in.st_dev == st.st_dev && in.st_ino == st.st_ino) {
    message(c, "%s: is the input", shown(out).c_str());
    return -1;
  }
  const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) message(c, "%s: %s", shown(out).c_str(), std::strerror(errno));
  return fd;
}

}  // namespace

ssize_t Input::read(void* buf, size_t size) {
  if (given < head.size()) {
    const size_t n = std::min(size, head.size() - given);
    std::memcpy(buf, head.data() + given, n);
    given += n;
    return static_cast<ssize_t>(n);
  }
  return fd < 0 ? 0 : read_fd(fd, buf, size);
}

int run_convert(Context& c) {
  const std::string& in_name = c.opt.operands[0];
  const std::string& out_name = c.opt.operands[1];
  c.opt.stream = in_name;  // names the input in the reader's messages
  Input in;
  in.fd = in_name == "-" ? STDIN_FILENO : open(in_name.c_str(), O_RDONLY | O_CLOEXEC);
  if (in.fd < 0) {
    message(c, "%s: %s", shown(in_name).c_str(), std::strerror(errno));
    return 1;
  }
  in.head.resize(kHead);
  size_t got = 0;
  while (got < kHead) {
    const ssize_t n = read_fd(in.fd, in.head.data() + got, kHead - got);
    if (n < 0) {
      message(c, "%s: %s", shown(in_name).c_str(), std::strerror(errno));
      c.fail(2);
      break;
    }
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  in.head.resize(got);
  const bool from_stream = is_stream(in.head);
  const std::string& f = c.opt.format;
  const bool to_stream =
      f == "sidf" ||
      (f.empty() &&
       (out_name == "-" ? !from_stream : ends_with(out_name, ".sidf") || ends_with(out_name, ".sidf.zst")));
  archive_entry* ae = archive_entry_new();
  std::unique_ptr<EntrySource> src;
  if (ae == nullptr) {
    message(c, "out of memory");
    c.fail(2);
  } else if (c.status == 0) {
    progress_begin(c, "converted");
    src = from_stream ? sidf_source(c, in) : archive_source(c, in);
  }
  // Input that is no archive, or fails before its first entry, leaves OUT alone.
  const bool first = src != nullptr && src->next(ae);
  const int out_fd = src != nullptr && (first || c.status < 2) ? open_output(c, out_name, in.fd) : -2;
  if (out_fd == -1) c.fail(1);
  if (out_fd >= 0) {
    std::unique_ptr<EntrySink> dst = to_stream ? sidf_sink(c, out_fd) : archive_sink(c, out_fd, out_name);
    if (dst != nullptr && first) {
      convert(c, *src, *dst, ae);
    } else if (dst != nullptr) {
      dst->finish();  // an empty archive
    }
    dst.reset();
    if (out_fd != STDOUT_FILENO && close(out_fd) != 0) {
      message(c, "%s: %s", shown(out_name).c_str(), std::strerror(errno));
      c.fail(1);
    }
  }
  progress_clear(c);
  src.reset();  // reports the damage passed over
  archive_entry_free(ae);
  if (in.fd != STDIN_FILENO) close(in.fd);
  return c.status;
}

}  // namespace sidfpack
