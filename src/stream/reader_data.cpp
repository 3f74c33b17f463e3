// Content: the current record's bytes, its data check section, and the
// records of the later parts of a split file, which must describe the same
// file as the first.
#include <unistd.h>

#include <cstring>

#include "stream/format.h"
#include "stream/reader.h"
#include "stream/tool_sections.h"

using namespace dpxut::stream;

namespace {
constexpr size_t kPeek = 64;
}

// Up to size content bytes into buf (null: passed over); 0 at the end of
// the entry's content once every check verified.
int64_t dpxut_reader::read_data(uint8_t* buf, size_t size) {
  for (;;) {
    if (content_left > 0 && buf == nullptr && !verify_skipped) {
      if (seekable < 0) seekable = fd >= 0 && ::lseek(fd, 0, SEEK_CUR) != -1 ? 1 : 0;
      const uint64_t n = in.skip(content_left, seekable == 1 ? fd : -1);
      content_total += n;
      content_left -= n;
      crc_unchecked = true;
      if (content_left > 0)
        cut("content cut short: %llu bytes missing", static_cast<unsigned long long>(content_left));
      continue;
    }
    if (content_left > 0) {
      const size_t whole = in.read_size();
      if (buf != nullptr && in.avail() == 0 && !in.ended() && size >= whole && content_left >= whole) {
        // A whole read's worth of content, read where the host wants it:
        // the callback is asked for the same count as through the buffer.
        const size_t n = in.read_direct(buf, whole);
        if (n == 0)
          cut("content cut short: %llu bytes missing", static_cast<unsigned long long>(content_left));
        crc = HVDPGenerateCRC(static_cast<uint32_t>(n), crc, buf);
        content_left -= n;
        content_total += n;
        return static_cast<int64_t>(n);
      }
      size_t n = in.ensure(1);
      if (n == 0)
        cut("content cut short: %llu bytes missing", static_cast<unsigned long long>(content_left));
      if (n > content_left) n = static_cast<size_t>(content_left);
      if (n > size) n = size;
      crc = HVDPGenerateCRC(static_cast<uint32_t>(n), crc, in.data());
      if (buf != nullptr) std::memcpy(buf, in.data(), n);
      in.consume(n);
      content_left -= n;
      content_total += n;
      return static_cast<int64_t>(n);
    }
    end_record();
    if (facts.part && part_next < entry.content_length()) {
      next_part();
      continue;
    }
    read_change_mark();
    data = Data::kDone;
    return 0;
  }
}

// The record bytes after the content: its data check section when they are
// one (required in streams of our format), else passed over.
void dpxut_reader::end_record() {
  if (tail == 0) return;
  const size_t n = in.ensure(kPeek);
  DPDFField f{};
  const size_t have = n < tail ? n : static_cast<size_t>(tail);
  const bool check = have > 0 && in.data()[0] != 0 &&
                     DPDFGetNextField(in.data(), static_cast<uint32_t>(have), &f) == 0 && f.fieldId == kDataCheckId &&
                     f.dataOverflow.value == 0 && f.dataSize.value == 2 && f.data != nullptr &&
                     f.data[0] == kSignature[0] && f.data[1] == kSignature[1];
  if (!check) {
    if (tagged) fail(DPXUT_E_DAMAGED, "data check section missing");
    skip_bytes(tail);
    tail = 0;
    return;
  }
  const size_t length = checked_section(0, kDataCheckId, tail < 4096 ? static_cast<size_t>(tail) : 4096, "data check");
  if (length != tail) fail(DPXUT_E_DAMAGED, "record length disagrees with its data check section");
  uint8_t* p = in.data();
  uint32_t left = static_cast<uint32_t>(length), value = 0;
  uint64_t bytes = 0;
  if (const uint32_t rc = get_tool_section(kDataCheckId, &p, &left, &value, &bytes)) fail(rc, "damaged data check");
  if (bytes != facts.content)
    fail(DPXUT_E_SIZE, "data check counts %llu bytes, the record holds %llu", static_cast<unsigned long long>(bytes),
         static_cast<unsigned long long>(facts.content));
  if (value != crc && !crc_unchecked) fail(DPXUT_E_DATA_CHECK, "data check value mismatch");
  crc_unchecked = false;
  in.consume(length);
  tail = 0;
}

// A change mark right after the entry's last record: it must count the
// entry's content. Anything else there is left for the walk.
void dpxut_reader::read_change_mark() {
  static const uint8_t kHead[6] = {0x80, 0x80, 0x1D, 0x02, kSignature[0], kSignature[1]};
  if (in.ensure(sizeof kHead) < sizeof kHead || std::memcmp(in.data(), kHead, sizeof kHead) != 0) return;
  const size_t length = checked_section(0, kChangeMarkId, 4096, "change mark");
  uint8_t* p = in.data();
  uint32_t left = static_cast<uint32_t>(length), flags = 0;
  uint64_t bytes = 0;
  if (const uint32_t rc = get_tool_section(kChangeMarkId, &p, &left, &flags, &bytes)) fail(rc, "damaged change mark");
  if (bytes != (facts.part ? entry.content_length() : facts.content))
    fail(DPXUT_E_DAMAGED, "change mark of another entry");
  in.consume(length);
  entry.changed = (flags & kChanged) != 0;
}

// A directory's list of names held as its record's content: read whole
// (it grows only as its bytes arrive) and checked as one from the area is.
// The host sees a directory without content.
void dpxut_reader::read_list() {
  entry.dirlist.clear();
  uint8_t chunk[4096];
  for (int64_t n; (n = read_data(chunk, sizeof chunk)) > 0;)
    entry.dirlist.insert(entry.dirlist.end(), chunk, chunk + n);
  if (!dirlist_valid(entry.dirlist.data(), entry.dirlist.size())) fail(DPXUT_E_DAMAGED, "damaged list of names");
  entry.has_dirlist = true;
}

// The record of the next part: pad sections and filler may come before it;
// it must continue where the last part ended and describe the same file.
void dpxut_reader::next_part() {
  for (;;) {
    skip_filler();
    if (in.avail() == 0)
      cut("continuation missing: the stream ends after %llu of %llu bytes",
          static_cast<unsigned long long>(part_next), static_cast<unsigned long long>(entry.content_length()));
    const uint32_t head = head_at(0, 4096);
    if (head == kPadId) {
      skip_section(head);
      continue;
    }
    if (head != HVDP_RECORD_HEADER_ID) fail(DPXUT_E_PART, "continuation missing (section 0x%X follows)", head);
    break;
  }
  read_record(scratch);
  set_where(scratch.offset, &entry, nullptr, scratch.record);
  const char* why = !facts.part || facts.part_offset != part_next ? "part out of order"
                    : !same_description(entry, scratch)          ? "a later part describes another file"
                                                                   : nullptr;
  if (why != nullptr) {
    skip_bytes(content_left + tail);  // the record verified: the search goes on after it
    fail(DPXUT_E_PART, "%s", why);
  }
  part_next = facts.part_offset + facts.part_length;
}

void dpxut_reader::skip_bytes(uint64_t n) {
  while (n > 0) {
    size_t k = in.ensure(1);
    if (k == 0) cut("record cut short");
    if (k > n) k = static_cast<size_t>(n);
    in.consume(k);
    n -= k;
  }
}
