// Walking the stream: filler, headers, pad and unknown sections, records,
// the trailer, and the search for the next record that verifies after a
// failure. Every section is looked at whole in the input window before a
// byte of it is consumed, so a failed one is searched again from its
// second byte.
#include <cstdlib>
#include <cstring>
#include <new>

#include "common/le.h"
#include "stream/format.h"
#include "stream/reader.h"
#include "stream/tool_sections.h"

using namespace dpxut::stream;

namespace {

constexpr size_t kMaxSection = 1u << 20;  // longest section read
constexpr size_t kPeek = 64;              // a field's identifier and size descriptor, with room

template <size_t N>
dpxut::HeapString text_of(const char (&member)[N]) {
  return dpxut::HeapString(member, strnlen(member, N));
}

}  // namespace

void dpxut_reader::skip_filler() {
  for (;;) {
    const size_t n = in.ensure(1);
    if (n == 0) return;
    const uint8_t* p = in.data();
    size_t i = 0;
    while (i < n && p[i] == 0) ++i;
    in.consume(i);
    if (i < n) return;
  }
}

// The identifier of the section whose head field is at window offset at.
uint32_t dpxut_reader::head_at(size_t at, size_t limit) {
  const size_t avail = in.ensure(at + kPeek);
  if (avail <= at) cut("the stream ends where a section should begin");
  DPDFField f{};
  const size_t have = avail - at < limit ? avail - at : limit;
  const uint32_t rc = DPDFGetNextField(in.data() + at, static_cast<uint32_t>(have < kPeek ? have : kPeek), &f);
  if ((rc != 0 || f.dataOverflow.value != 0) && in.ended() && avail - at < kPeek) cut("section head cut short");
  if (rc != 0 || f.dataOverflow.value != 0 || in.data()[at] == 0 || f.dataSize.value != 2 || f.data == nullptr ||
      f.data[0] != kSignature[0] || f.data[1] != kSignature[1])
    fail(DPXUT_E_DAMAGED, "no section begins here");
  return f.fieldId;
}

// Walks the section at window offset at field by field, jumping where its
// offset field says, up to its closing field; at most limit bytes.
Extent dpxut_reader::section_extent(size_t at, uint32_t head, size_t limit) {
  size_t off = at;
  bool opened = false, jumped = false;
  for (;;) {
    DPDFField f{};
    size_t want = kPeek;
    for (;;) {
      if (off - at >= limit) fail(DPXUT_E_DAMAGED, "section 0x%X runs past %zu bytes", head, limit);
      const size_t avail = in.ensure(off + want);
      if (avail <= off) cut("section 0x%X cut short", head);
      const size_t room = limit - (off - at);
      const size_t have = avail - off < room ? avail - off : room;
      const uint32_t rc = DPDFGetNextField(in.data() + off, static_cast<uint32_t>(have < want ? have : want), &f);
      if (rc == 0 && f.dataOverflow.value == 0) break;
      if (in.ended() && avail - off < want) cut("section 0x%X cut short", head);
      if (rc != 0) fail(DPXUT_E_DAMAGED, "malformed field in section 0x%X", head);
      if (f.dataOverflow.value > room - f.bytesUsed) fail(DPXUT_E_DAMAGED, "section 0x%X runs past %zu bytes", head, limit);
      want = f.bytesUsed + static_cast<size_t>(f.dataOverflow.value);
    }
    if (!opened) {
      if (f.fieldId != head) fail(DPXUT_E_DAMAGED, "no section begins here");
      opened = true;
    } else if (f.fieldId == head) {
      if (f.dataSize.value != 0 && f.dataSize.value != 4) fail(DPXUT_E_DAMAGED, "malformed closing field");
      const size_t check_at = f.data != nullptr ? static_cast<size_t>(f.data - in.data()) - at : 0;
      size_t start = off;  // the field's first byte: zero filler may come before it
      while (start < off + f.bytesUsed && in.data()[start] == 0) ++start;
      return Extent{off + f.bytesUsed - at, f.dataSize.value == 4, jumped, check_at, start - at};
    } else if (jumped) {
      fail(DPXUT_E_DAMAGED, "offset field of section 0x%X misses its closing field", head);
    }
    off += f.bytesUsed;
    if (f.fieldId == DPDF_OFFSET_TO_END) {
      if (f.dataSize.value > 8) fail(DPXUT_E_DAMAGED, "malformed offset field");
      const uint64_t distance = dpxut::load_le(f.data, static_cast<size_t>(f.dataSize.value));
      if (distance > limit) fail(DPXUT_E_DAMAGED, "section 0x%X runs past %zu bytes", head, limit);
      off += static_cast<size_t>(distance);
      jumped = true;
    }
  }
}

// The check value of a section the walk decoded field by field: the same
// verdict as section_checks, which would decode every field again to find
// the closing field the walk already found.
static const char* closing_checks(const uint8_t* s, const Extent& x, uint32_t head) {
  if (x.check_at + 4 != x.length) return "closing field without a check value";
  if (x.closing_at + id_length(head) >= x.check_at) return "malformed closing field";
  const uint32_t crc = HVDPGenerateCRC(static_cast<uint32_t>(x.closing_at), 0xFFFFFFFF, s);
  return crc != dpxut::load_le32(s + x.check_at) ? "check value mismatch" : nullptr;
}

// The length of the section at window offset at, its check value verified
// when it has one.
size_t dpxut_reader::checked_section(size_t at, uint32_t head, size_t limit, const char* what) {
  const Extent x = section_extent(at, head, limit);
  if (x.checked) {
    const uint8_t* s = in.data() + at;
    if (const char* why = closing_checks(s, x, head))
      fail(DPXUT_E_CHECK, "%s: %s", what, why);
  }
  return x.length;
}

// The record header at the read position into e, facts and the content
// counters; consumed only once both of its sections verified.
void dpxut_reader::read_record(dpxut_entry& e) {
  const uint64_t start = in.offset();
  set_where(start, nullptr);
  const size_t first = checked_section(0, HVDP_RECORD_HEADER_ID, kMaxSection, "record header");
  uint8_t* p = in.data();
  uint32_t n = static_cast<uint32_t>(first);
  uint32_t rc = HVDPGetRecordHeaderOnly(&p, &n, &info);
  if (rc == HVDPUT_OUT_OF_MEMORY) throw std::bad_alloc();  // not damage: the handle cannot go on
  if (rc != 0 || n != 0 || info.shortHeader != 0 || info.state != HVDP_STATE_NEW_SECTION)
    fail(DPXUT_E_DAMAGED, "damaged record header (%s)", dpxut_strerror(rc));
  const uint32_t record_length = info.recordLength;
  if (head_at(first, kMaxSection) != HVDP_DATA_SET_INFO_ID) fail(DPXUT_E_DAMAGED, "record header without description");
  const size_t second = checked_section(first, HVDP_DATA_SET_INFO_ID, kMaxSection, "description");
  p = in.data() + first;
  n = static_cast<uint32_t>(second);
  rc = HVDPGetDataSetInfo(&p, &n, &info);
  if (rc == HVDPUT_OUT_OF_MEMORY) throw std::bad_alloc();
  if (rc != 0 || n != 0 || info.state != HVDP_STATE_DONE)
    fail(DPXUT_E_DAMAGED, "damaged description (%s)", dpxut_strerror(rc));
  if (second > record_length) fail(DPXUT_E_DAMAGED, "record length %u shorter than its header", record_length);
  const uint64_t rest = record_length - second;
  uint32_t code = 0;
  if (const char* why = describe_record(info, same_codeset, e, facts, &code)) fail(code, "%s", why);
  e.record = records + 1;
  e.offset = start;
  set_where(start, &e);
  if (facts.content > rest)
    fail(DPXUT_E_DAMAGED, "record length %llu shorter than its content of %llu bytes",
         static_cast<unsigned long long>(rest), static_cast<unsigned long long>(facts.content));
  in.consume(first + second);
  ++records;
  content_left = facts.content;
  tail = rest - facts.content;
  crc = 0xFFFFFFFF;
  crc_unchecked = false;
}

// A record with a short header has no description, so no entry: it is
// passed over by its length and reported.
void dpxut_reader::read_short_record() {
  set_where(in.offset(), nullptr);
  const size_t first = checked_section(0, HVDP_SHORT_RECORD_HEADER_ID, kMaxSection, "record header");
  uint8_t* p = in.data();
  uint32_t n = static_cast<uint32_t>(first);
  const uint32_t rc = HVDPGetRecordHeaderOnly(&p, &n, &info);
  if (rc == HVDPUT_OUT_OF_MEMORY) throw std::bad_alloc();
  if (rc != 0 || n != 0 || info.shortHeader == 0) fail(DPXUT_E_DAMAGED, "damaged record header (%s)", dpxut_strerror(rc));
  in.consume(first);
  ++records;
  skip_bytes(info.recordLength);
  fail(DPXUT_E_FORMAT, "record without description passed over");
}

// A media or session header: verified and read; the session header names
// the code set and, for streams of our format, the block size.
void dpxut_reader::read_headers(uint32_t head) {
  const bool media = head == HVDP_MEDIA_HEADER_ID;
  set_where(in.offset(), nullptr, media ? "media header" : "session header");
  const size_t length = checked_section(0, head, kMaxSection, "header");
  const uint32_t n = static_cast<uint32_t>(length);
  if (media) {
    HVDPMediaHeaderInfo m{};
    if (const uint32_t rc = HVDPGetMediaHeaderInfo(in.data(), n, &m)) fail(rc, "unreadable");
    // Our media header promises our session header and trailer: a stream
    // cut right after it is not an empty stream.
    if (text_of(m.text) == kMediaText) tagged = true;
  } else {
    HVDPSessionHeaderInfo s{};
    if (const uint32_t rc = HVDPGetSessionHeaderInfo(in.data(), n, &s)) fail(rc, "unreadable");
    String set = text_of(s.text3), tag = text_of(s.text4), block = text_of(s.text5);
    if (tag == kFormatTag) {
      char* end = nullptr;
      const unsigned long size = std::strtoul(block.c_str(), &end, 10);
      if (block.empty() || block[0] < '0' || block[0] > '9' || *end != '\0' || size == 0 || size > kMaxBlockSize)
        fail(DPXUT_E_DAMAGED, "damaged block size");
      tagged = true;
      block_size = static_cast<uint32_t>(size);
    }
    codeset = std::move(set);
    same_codeset = codeset.empty() || codeset == dp_current_codeset;
  }
  in.consume(length);
}

// The trailer: its counts must be those read, unless a failure came first.
void dpxut_reader::read_trailer() {
  set_where(in.offset(), nullptr, "stream trailer");
  const size_t length = checked_section(0, kStreamTrailerId, 4096, "trailer");
  uint8_t* p = in.data();
  uint32_t n = static_cast<uint32_t>(length), count = 0;
  uint64_t bytes = 0;
  if (const uint32_t rc = get_tool_section(kStreamTrailerId, &p, &n, &count, &bytes)) fail(rc, "unreadable");
  in.consume(length);
  trailer_seen = true;
  if (!damaged && (count != records || bytes != content_total))
    fail(DPXUT_E_DAMAGED, "it counts %u records and %llu content bytes, the stream holds %llu and %llu", count,
         static_cast<unsigned long long>(bytes), static_cast<unsigned long long>(records),
         static_cast<unsigned long long>(content_total));
}

// True when the n bytes at p are all zero; eight at a time.
static bool all_zero(const uint8_t* p, size_t n) {
  uint64_t any = 0;
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t w;
    std::memcpy(&w, p + i, 8);
    any |= w;
  }
  for (; i < n; ++i) any |= p[i];
  return any == 0;
}

// A pad section: its blank space must be blank (a flipped bit there is
// damage like any other).
void dpxut_reader::skip_pad() {
  const size_t length = checked_section(0, kPadId, kMaxSection, "pad section");
  const uint8_t* p = in.data();
  DPDFField h{}, o{};
  if (DPDFGetNextField(p, static_cast<uint32_t>(length), &h) != 0 ||
      DPDFGetNextField(p + h.bytesUsed, static_cast<uint32_t>(length - h.bytesUsed), &o) != 0 ||
      o.fieldId != DPDF_OFFSET_TO_END || o.dataSize.value > 8 || o.dataOverflow.value != 0)
    fail(DPXUT_E_DAMAGED, "damaged pad section");
  const size_t blank = h.bytesUsed + o.bytesUsed;
  const uint64_t distance = dpxut::load_le(o.data, static_cast<size_t>(o.dataSize.value));
  if (distance > length - blank) fail(DPXUT_E_DAMAGED, "damaged pad section");
  if (!all_zero(p + blank, static_cast<size_t>(distance)))
    fail(DPXUT_E_DAMAGED, "damaged pad section: blank space not blank");
  in.consume(length);
}

void dpxut_reader::skip_section(uint32_t head) {
  in.consume(checked_section(0, head, kMaxSection, "section"));
}

// Moves to the next place where a record header (or a media or session
// header, or the trailer) begins: its head field and signature. False at
// the end of the stream.
bool dpxut_reader::scan() {
  static const uint8_t kMark[3] = {0x02, kSignature[0], kSignature[1]};
  for (;;) {
    const size_t n = in.ensure(4096);
    if (n == 0) return false;
    const uint8_t* p = in.data();
    size_t from = 0;
    while (const void* m = memmem(p + from, n - from, kMark, sizeof kMark)) {
      const size_t i = static_cast<size_t>(static_cast<const uint8_t*>(m) - p);
      if (i >= 1 && p[i - 1] == HVDP_RECORD_HEADER_ID) {
        in.consume(i - 1);
        return true;
      }
      if (i >= 3 && p[i - 3] == 0x80 && p[i - 2] == 0x80 && (p[i - 1] == 0x00 || p[i - 1] == 0x04 || p[i - 1] == 0x1E)) {
        in.consume(i - 3);
        return true;
      }
      from = i + 1;
    }
    // Keep the last bytes: a mark may continue in what comes next.
    in.consume(in.ended() ? n : n - 5);
  }
}

int dpxut_reader::at_end() {
  resync = false;
  set_where(in.offset(), nullptr, "end of stream");
  uint32_t code = 0;
  if (const char* why = in.failure(&code); why != nullptr && !end_reported) {  // a compressed stream cut or damaged
    end_reported = true;
    fail(code, "%s", why);
  }
  if (tagged && !end_reported) {
    end_reported = true;
    if (!trailer_seen) fail(DPXUT_E_TRUNCATED, "no end marker");
    if (in.offset() % block_size != 0)
      fail(DPXUT_E_TRUNCATED, "stream length %llu is not a multiple of its block size %u",
           static_cast<unsigned long long>(in.offset()), block_size);
  }
  return DPXUT_EOF;
}

// The next entry: sections before it read or passed over. A failure moves
// the position at least one byte on and starts the search for the next
// record that verifies, during which failures are not reported.
int dpxut_reader::next_entry() {
  for (;;) {
    if (resync && !scan()) return at_end();
    skip_filler();
    if (in.avail() == 0) return at_end();
    const uint64_t start = in.offset();
    try {
      set_where(start, nullptr, "");
      const uint32_t head = head_at(0, kMaxSection);
      if (head == HVDP_RECORD_HEADER_ID) {
        read_record(entry);
        trailer_seen = false;
        if (facts.part && facts.part_offset != 0) {
          // The rest of a file whose beginning failed is passed over quietly.
          if (!resync) fail(DPXUT_E_PART, "part without its beginning");
          skip_bytes(content_left + tail);
          continue;
        }
        resync = false;
        part_next = facts.part_offset + facts.part_length;
        data = Data::kContent;
        if (facts.list_content) read_list();
        return DPXUT_OK;
      }
      if (head == HVDP_MEDIA_HEADER_ID || head == HVDP_SESSION_HEADER_ID) {
        read_headers(head);
      } else if (head == HVDP_SHORT_RECORD_HEADER_ID) {
        read_short_record();
      } else if (head == kStreamTrailerId) {
        read_trailer();
      } else if (head == kPadId) {
        skip_pad();
      } else {
        skip_section(head);
      }
    } catch (const ReaderStop&) {
      data = Data::kNone;  // no entry was given: nothing of it is left to pass
      if (in.offset() == start) in.consume(1);
      if (resync) continue;
      resync = true;
      damaged = true;
      throw;
    }
  }
}
