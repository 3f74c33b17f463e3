// libarchive's side of convert (see convert.h): archives of every format
// and filter it reads, and archives in the format --format names or OUT's
// suffix tells. Its errors are reported with the entry's name: a failed
// entry costs that entry (exit status 1), a fatal one the rest of the input
// (2) or the output (1).
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "../common/text.h"
#include "convert.h"

namespace sidfpack {
namespace {

using dpxtool::shown;

const char* entry_name(archive_entry* ae) {
  const char* n = archive_entry_pathname(ae);
  if (n == nullptr) n = archive_entry_pathname_utf8(ae);
  return n != nullptr ? n : "";
}

class ArchiveSource : public EntrySource {
 public:
  ArchiveSource(Context& c, Input& in) : c_(c), in_(in), buf_(c.opt.buffer_size) {
    a_ = archive_read_new();
    if (a_ == nullptr || archive_read_support_format_all(a_) != ARCHIVE_OK ||
        archive_read_support_filter_all(a_) < ARCHIVE_WARN ||
        archive_read_open(a_, this, nullptr, read_cb, nullptr) != ARCHIVE_OK) {
      message(c_, "%s: %s", shown(c_.opt.stream).c_str(), a_ ? archive_error_string(a_) : "out of memory");
      c_.fail(2);
      stopped_ = true;
    }
  }
  ~ArchiveSource() override { archive_read_free(a_); }

  bool next(archive_entry* ae) override {
    while (!stopped_) {
      const int rc = archive_read_next_header2(a_, ae);
      if (rc == ARCHIVE_EOF) return false;
      if (rc == ARCHIVE_RETRY) continue;
      if (rc != ARCHIVE_OK) report(ae, rc);
      if (rc == ARCHIVE_OK || rc == ARCHIVE_WARN) {
        progress_tick(c_, 0);
        return true;
      }
    }
    return false;
  }

  bool content(const BlockSink* sink) override {
    if (sink == nullptr) return true;  // the next header passes over it
    for (;;) {
      const void* p;
      size_t n;
      la_int64_t offset;
      const int rc = archive_read_data_block(a_, &p, &n, &offset);
      if (rc == ARCHIVE_EOF) return true;
      if (rc != ARCHIVE_OK) report(nullptr, rc);
      if (rc != ARCHIVE_OK && rc != ARCHIVE_WARN) return false;
      if (n > 0 && offset >= 0) (*sink)(static_cast<uint64_t>(offset), static_cast<const uint8_t*>(p), n);
      progress_tick(c_, n);
    }
  }

 private:
  static la_ssize_t read_cb(archive* a, void* ctx, const void** buf) {
    auto* s = static_cast<ArchiveSource*>(ctx);
    const ssize_t n = s->in_.read(s->buf_.data(), s->buf_.size());
    if (n < 0) archive_set_error(a, errno, "%s", std::strerror(errno));
    *buf = s->buf_.data();
    return n;
  }

  // ae: the entry whose header failed; null: the current one.
  void report(archive_entry* ae, int rc) {
    if (ae != nullptr) name_ = entry_name(ae);
    message(c_, "%s: %s%s%s", shown(c_.opt.stream).c_str(), name_.empty() ? "" : shown(name_).c_str(),
            name_.empty() ? "" : ": ",
            archive_error_string(a_) ? archive_error_string(a_) : "archive cut short or unreadable");
    c_.fail(rc == ARCHIVE_FATAL ? 2 : 1);
    if (rc == ARCHIVE_FATAL) stopped_ = true;
  }

  Context& c_;
  Input& in_;
  std::vector<uint8_t> buf_;
  archive* a_ = nullptr;
  bool stopped_ = false;
  std::string name_;  // of the current entry, for messages
};

class ArchiveSink : public EntrySink {
 public:
  ArchiveSink(Context& c, archive* a) : c_(c), a_(a) {}
  ~ArchiveSink() override { archive_write_free(a_); }

  bool add(archive_entry* ae) override {
    if (lost_) return false;
    const bool hard = archive_entry_hardlink(ae) != nullptr;
    regular_ = !hard && archive_entry_filetype(ae) == AE_IFREG;
    if (!regular_) archive_entry_set_size(ae, 0);
    size_ = static_cast<uint64_t>(std::max<la_int64_t>(archive_entry_size(ae), 0));
    pos_ = 0;
    name_ = entry_name(ae);
    const int rc = archive_write_header(a_, ae);
    if (rc != ARCHIVE_OK) report(rc);
    ++c_.progress.entries;
    return rc == ARCHIVE_OK || rc == ARCHIVE_WARN;
  }

  // Holes are handed on as zeros: formats with sparse maps drop them again.
  void data(uint64_t offset, const uint8_t* p, size_t n) override {
    if (!regular_ || lost_) return;
    if (offset > pos_) {
      zeros(offset - pos_);
      pos_ = offset;
    }
    if (offset + n <= pos_) return;  // blocks overlap: the first one counts
    write(p + (pos_ - offset), n - (pos_ - offset));
    pos_ = offset + n;
  }

  void end_entry(bool complete) override {
    if (lost_) return;
    if (regular_ && complete && pos_ < size_) zeros(size_ - pos_);
    const int rc = archive_write_finish_entry(a_);
    if (rc != ARCHIVE_OK) report(rc);
  }

  void finish() override {
    if (lost_) return;
    name_.clear();
    if (archive_write_close(a_) != ARCHIVE_OK) report(ARCHIVE_FATAL);
  }

  bool lost() const override { return lost_; }

 private:
  void write(const uint8_t* p, size_t n) {
    const la_ssize_t rc = archive_write_data(a_, p, n);
    if (rc < 0) report(static_cast<int>(rc));
  }
  void zeros(uint64_t n) {
    static const uint8_t kZeros[64 * 1024] = {};
    for (; n > 0 && !lost_; n -= std::min<uint64_t>(n, sizeof kZeros))
      write(kZeros, std::min<uint64_t>(n, sizeof kZeros));
  }
  void report(int rc) {
    const char* why = archive_error_string(a_) ? archive_error_string(a_) : "error";
    const bool named = !name_.empty() && std::strncmp(why, name_.c_str(), name_.size()) != 0;
    message(c_, "%s: %s%s%s", shown(c_.opt.operands[1]).c_str(), named ? shown(name_).c_str() : "", named ? ": " : "",
            why);
    c_.fail(1);
    if (rc == ARCHIVE_FATAL) lost_ = true;
  }

  Context& c_;
  archive* a_;
  bool lost_ = false, regular_ = false;
  uint64_t size_ = 0, pos_ = 0;
  std::string name_;
};

bool ends_with(const std::string& s, const char* tail) {
  const size_t n = std::strlen(tail);
  return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

// The format (and filter) for OUT: --format, else OUT's suffix, else pax.
// Suffixes libarchive does not know by themselves (".tar.zst") are taken
// as a compression over what the rest tells. Restricted pax, libarchive's
// choice for ".tar", leaves out what ustar cannot hold unless some other
// field needs an extended header: full pax keeps every time and attribute.
// Whether libarchive knows the format of a name's suffix: asked of a
// scratch handle, as a refusal leaves the handle unusable.
bool by_ext(archive* a, const std::string& name) {
  archive* probe = archive_write_new();
  const bool known = probe != nullptr && archive_write_set_format_filter_by_ext(probe, name.c_str()) == ARCHIVE_OK;
  archive_write_free(probe);
  return known && archive_write_set_format_filter_by_ext(a, name.c_str()) == ARCHIVE_OK;
}

bool choose_format(Context& c, archive* a, const std::string& out) {
  static const char* const kFilters[][2] = {{".zst", "zstd"}, {".gz", "gzip"},   {".bz2", "bzip2"}, {".xz", "xz"},
                                            {".lz4", "lz4"},  {".lzma", "lzma"}, {".lz", "lzip"},   {".Z", "compress"}};
  bool known = out != "-" && by_ext(a, out);
  for (const auto& f : kFilters) {
    if (known || out == "-" || !ends_with(out, f[0])) continue;
    known = by_ext(a, out.substr(0, out.size() - std::strlen(f[0])));
    if (archive_write_add_filter_by_name(a, f[1]) < ARCHIVE_WARN) {
      message(c, "%s: %s", shown(out).c_str(), archive_error_string(a));
      return false;
    }
    break;
  }
  if (!c.opt.format.empty()) {
    if (archive_write_set_format_by_name(a, c.opt.format.c_str()) != ARCHIVE_OK) {
      message(c, "--format %s: %s", shown(c.opt.format).c_str(), archive_error_string(a));
      return false;
    }
  } else if (!known || archive_format(a) == ARCHIVE_FORMAT_TAR_PAX_RESTRICTED) {
    archive_write_set_format_pax(a);
  }
  return true;
}

}  // namespace

std::unique_ptr<EntrySource> archive_source(Context& c, Input& in) { return std::make_unique<ArchiveSource>(c, in); }

std::unique_ptr<EntrySink> archive_sink(Context& c, int fd, const std::string& out) {
  archive* a = archive_write_new();
  if (a == nullptr) {
    message(c, "out of memory");
    c.fail(1);
    return nullptr;
  }
  if (!choose_format(c, a, out)) {
    archive_write_free(a);
    c.fail(2);
    return nullptr;
  }
  if (archive_write_open_fd(a, fd) != ARCHIVE_OK) {
    message(c, "%s: %s", shown(out).c_str(), archive_error_string(a));
    archive_write_free(a);
    c.fail(1);
    return nullptr;
  }
  return std::make_unique<ArchiveSink>(c, a);
}

}  // namespace sidfpack
