// The dumper: walks a stream field by field through a window of kChunk
// bytes, indenting sections between their head and closing fields, passing
// over record data by the record length, and verifying check values.
#include <dpxut.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "../common/sections.h"
#include "dump.h"

namespace sidfdump {
namespace {

struct OpenSection {
  uint32_t id;
  uint64_t offset;
  uint32_t crc;  // over every byte from the head up to the current position
  const SectionKind* kind;
  bool expect_closing;  // a jump was made: the next field must close it
};

// ---------------------------------------------------------------------------

class Dumper {
 public:
  Dumper(FILE* in, const char* name) : in_(in), name_(name), buf_(kChunk) {}

  int run() {
    for (;;) {
      ensure(kMaxHeader);
      if (io_error_) return fail_io();
      if (avail() == 0) break;
      if (skip_filler()) continue;
      DPDFField f;
      if (DPDFGetNextField(window(), static_cast<uint32_t>(avail()), &f) != 0) {
        // With kMaxHeader bytes in the window a header always decodes, so
        // this is the end of the input inside an identifier or descriptor.
        problem("field at offset 0x%llX is cut by the end of input inside its header (%zu bytes left)",
                ull(offset()), avail());
        break;
      }
      if (f.dataOverflow.value != 0 && !eof_ && f.dataSize.value <= kChunk - kMaxHeader) {
        ensure(f.bytesUsed + static_cast<size_t>(f.dataOverflow.value));  // fits the window: read it whole
        if (io_error_) return fail_io();
        DPDFGetNextField(window(), static_cast<uint32_t>(avail()), &f);
      }
      if (const SectionKind* kind = find_kind(f.fieldId); kind != nullptr && kind->describe != nullptr) {
        ensure(kDescribeWindow);  // the whole header section, for its decoder
        if (io_error_) return fail_io();
        DPDFGetNextField(window(), static_cast<uint32_t>(avail()), &f);
      }
      if (!field(f)) break;
    }
    if (io_error_) return fail_io();
    while (!open_.empty()) {
      problem("section %s opened at offset 0x%llX is not closed", hex_id(open_.back().id).c_str(),
              ull(open_.back().offset));
      open_.pop_back();
    }
    // Empty input, zeros or bytes without a single section head: whatever
    // this is, it is no stream, and must not pass as an empty one.
    if (sections_ == 0) problem("no SIDF stream: %llu bytes without a section", ull(offset()));
    return problems_ ? 1 : 0;
  }

 private:
  static unsigned long long ull(uint64_t v) { return static_cast<unsigned long long>(v); }

  const uint8_t* window() const { return buf_.data() + pos_; }
  size_t avail() const { return end_ - pos_; }
  uint64_t offset() const { return base_ + pos_; }

  // Brings up to `want` bytes into the window, reading as needed.
  void ensure(size_t want) {
    want = std::min(want, buf_.size());
    if (avail() >= want || eof_) return;
    if (pos_ != 0) {
      std::memmove(buf_.data(), buf_.data() + pos_, avail());
      base_ += pos_;
      end_ -= pos_;
      pos_ = 0;
    }
    while (end_ < want && !eof_) {
      const size_t got = std::fread(buf_.data() + end_, 1, buf_.size() - end_, in_);
      end_ += got;
      if (got == 0) {
        eof_ = true;
        io_error_ = std::ferror(in_) != 0;
      }
    }
  }

  // Consumes n window bytes, feeding them to the check value of every open section.
  void consume(size_t n) {
    for (auto& s : open_) s.crc = HVDPGenerateCRC(static_cast<uint32_t>(n), s.crc, window());
    pos_ += n;
  }

  // Consumes n stream bytes, reading through the window; returns the count
  // actually consumed (less at the end of input).
  uint64_t skip(uint64_t n) {
    uint64_t done = 0;
    while (done < n) {
      if (avail() == 0) ensure(buf_.size());
      if (avail() == 0) break;
      const size_t take = static_cast<size_t>(std::min<uint64_t>(avail(), n - done));
      consume(take);
      done += take;
    }
    return done;
  }

  bool skip_filler() {
    const uint64_t start = offset();
    uint64_t zeros = 0;
    for (;;) {
      size_t run = 0;
      while (run < avail() && window()[run] == 0) ++run;
      consume(run);
      zeros += run;
      if (avail() != 0) break;
      ensure(kMaxHeader);
      if (avail() == 0) break;
    }
    if (zeros == 0) return false;
    std::printf("%08llX  %*sfiller: %llu zero bytes\n", ull(start), indent(), "", ull(zeros));
    return true;
  }

  int indent() const { return static_cast<int>(2 * open_.size()); }

  void print(const FieldView& v, const std::string& note) {
    std::printf("%08llX  %*s%-8s  %-14s %8llu  %s%s%s\n", ull(v.offset), indent(), "", id_text(v).c_str(),
                form_text(v).c_str(), ull(v.size), data_text(v).c_str(), note.empty() ? "" : "   # ",
                note.c_str());
  }

  // Shows one decoded field and consumes it. Returns false to stop.
  bool field(const DPDFField& f) {
    FieldView v;
    v.offset = offset();
    classify(window(), f, v);
    const bool whole = f.dataOverflow.value == 0;
    const bool is_head = whole && v.size == 2 && v.form != Form::kEmbedded && dpxtool::is_section_head(v.data, v.size);

    // After a full record header's first section comes its data set
    // information section; without one the record's data starts here.
    if (info_expected_ && open_.empty()) {
      info_expected_ = false;
      if (!(is_head && v.id == HVDP_DATA_SET_INFO_ID)) return skip_record_data(record_length_);
      info_open_ = true;
      info_start_ = v.offset;
    }
    if (!open_.empty() && is_record_head(open_.back().id) && v.id == 0x0B && whole && v.form != Form::kEmbedded) {
      record_length_ = dpxtool::le_value(v.data, static_cast<size_t>(std::min<uint64_t>(v.size, 4)));
    }

    if (!open_.empty() && v.id == open_.back().id) return close_section(v, f);
    for (size_t i = open_.size(); i-- > 1;) {
      if (open_[i - 1].id == v.id) {
        problem("section %s opened at offset 0x%llX is not closed before its enclosing section closes",
                hex_id(open_.back().id).c_str(), ull(open_.back().offset));
        open_.pop_back();
        return close_section(v, f);
      }
    }
    if (!open_.empty() && open_.back().expect_closing) {
      problem("the offset field of section %s at offset 0x%llX does not land on its closing field",
              hex_id(open_.back().id).c_str(), ull(open_.back().offset));
      open_.back().expect_closing = false;
    }

    MemberResult extra;
    if (!open_.empty() && open_.back().kind != nullptr && open_.back().kind->member != nullptr) {
      extra = open_.back().kind->member(v);
    } else if (uint64_t distance; !open_.empty() && offset_value(v, &distance)) {
      extra.note = "closing field " + std::to_string(distance) + " bytes after this one";
    }
    if (is_head) {
      const SectionKind* kind = find_kind(v.id);
      extra.note = "section " + id_text(v) + " begins" + (kind ? std::string(": ") + kind->name : "");
    }
    print(v, extra.note);
    if (is_head) describe(v);
    consume(f.bytesUsed);
    if (!whole) {
      const uint64_t got = skip(f.dataOverflow.value);
      if (got < f.dataOverflow.value) {
        problem("field %s at offset 0x%llX is cut by the end of input: %llu of %llu data bytes missing",
                id_text(v).c_str(), ull(v.offset), ull(f.dataOverflow.value - got), ull(v.size));
        return false;
      }
    }
    if (is_head) {
      open_.push_back({v.id, v.offset, dpxtool::kCheckStart, find_kind(v.id), false});
      ++sections_;
    }
    // The head's own bytes count in its check value.
    if (is_head) open_.back().crc = HVDPGenerateCRC(f.bytesUsed, dpxtool::kCheckStart, window() - f.bytesUsed);
    if (extra.jump != 0) {
      const uint64_t start = offset();
      const uint64_t got = skip(extra.jump);
      std::printf("%08llX  %*s(%llu bytes jumped)\n", ull(start), indent(), "", ull(got));
      if (got < extra.jump) {
        problem("a jump of %llu bytes from offset 0x%llX runs past the end of input", ull(extra.jump), ull(start));
        return false;
      }
      open_.back().expect_closing = true;
    }
    return true;
  }

  // A decodable section's members as its reader sees them, under its head.
  void describe(const FieldView& v) {
    const SectionKind* kind = find_kind(v.id);
    if (kind == nullptr || kind->describe == nullptr) return;
    Lines lines = kind->describe(window(), avail());
    if (lines.empty()) lines.push_back("(cannot be decoded: the section is not whole)");
    for (const std::string& l : lines) std::printf("%8s  %*s  = %s\n", "", indent(), "", l.c_str());
  }

  // The closing field is shown at its head's indentation.
  bool close_section(const FieldView& v, const DPDFField& f) {
    const OpenSection s = open_.back();
    open_.pop_back();
    std::string note = "section " + id_text(v) + " ends";
    bool wrong = false;
    uint32_t stored = 0;
    if (f.dataOverflow.value == 0 && v.size == 4 && v.form != Form::kEmbedded) {
      stored = static_cast<uint32_t>(dpxtool::le_value(v.data, 4));
      char b[80];
      wrong = stored != dpxtool::kCheckNotComputed && stored != s.crc;
      if (stored == dpxtool::kCheckNotComputed) {
        std::snprintf(b, sizeof b, ", check value not computed");
      } else if (!wrong) {
        std::snprintf(b, sizeof b, ", check value %08X ok", stored);
      } else {
        std::snprintf(b, sizeof b, ", check value %08X WRONG (computed %08X)", stored, s.crc);
      }
      note += b;
    }
    print(v, note);
    consume(f.bytesUsed);
    if (wrong)
      problem("check value of section %s at offset 0x%llX is %08X, computed %08X", id_text(v).c_str(),
              ull(s.offset), stored, s.crc);
    if (f.dataOverflow.value != 0 && skip(f.dataOverflow.value) < f.dataOverflow.value) {
      problem("closing field %s at offset 0x%llX is cut by the end of input", id_text(v).c_str(), ull(v.offset));
      return false;
    }
    if (!open_.empty()) return true;
    // The record length counts the bytes after the first section: the data
    // set information section (full headers), then the record's data.
    if (s.id == HVDP_SHORT_RECORD_HEADER_ID) return skip_record_data(record_length_);
    if (s.id == HVDP_RECORD_HEADER_ID) info_expected_ = true;
    if (s.id == HVDP_DATA_SET_INFO_ID && info_open_) {
      info_open_ = false;
      const uint64_t section = offset() - info_start_;
      if (section > record_length_) {
        problem("data set information at offset 0x%llX is longer than its record (%llu bytes)", ull(info_start_),
                ull(record_length_));
        return true;
      }
      return skip_record_data(record_length_ - section);
    }
    return true;
  }

  static bool is_record_head(uint32_t id) {
    return id == HVDP_RECORD_HEADER_ID || id == HVDP_SHORT_RECORD_HEADER_ID;
  }

  // The record's data is not SIDF: it is passed over by its length.
  bool skip_record_data(uint64_t n) {
    if (n == 0) return true;
    const uint64_t start = offset();
    const uint64_t got = skip(n);
    std::printf("%08llX  (%llu bytes of record data)\n", ull(start), ull(got));
    if (got < n) {
      problem("record data of %llu bytes from offset 0x%llX runs past the end of input", ull(n), ull(start));
      return false;
    }
    return true;
  }

  __attribute__((format(printf, 2, 3))) void problem(const char* fmt, ...) {
    char msg[256];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(msg, sizeof msg, fmt, ap);
    va_end(ap);
    std::printf("!! %s\n", msg);
    std::fflush(stdout);
    std::fprintf(stderr, "sidfdump: %s: %s\n", name_, msg);
    ++problems_;
  }

  int fail_io() {
    std::fflush(stdout);
    std::fprintf(stderr, "sidfdump: %s: read error: %s\n", name_, std::strerror(errno));
    return 2;
  }

  FILE* in_;
  const char* name_;
  std::vector<uint8_t> buf_;
  size_t pos_ = 0, end_ = 0;
  uint64_t base_ = 0;
  bool eof_ = false, io_error_ = false;
  std::vector<OpenSection> open_;
  int problems_ = 0;
  uint64_t sections_ = 0;  // section heads seen
  uint64_t record_length_ = 0;  // field 0x0B of the last record header
  bool info_expected_ = false;  // a full record header's first section closed
  bool info_open_ = false;      // its data set information section is open
  uint64_t info_start_ = 0;
};

}  // namespace

int dump(FILE* in, const char* name) { return Dumper(in, name).run(); }

}  // namespace sidfdump
