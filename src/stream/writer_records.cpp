// The stream layout the writer produces (FORMAT.md): media and session
// headers, one record per entry (or per part of a large file) made of a
// record header, the content and a data check section, and the trailer.
// Byte for byte what sidfpack has always written, plus hard link entries.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "charset/setup.h"
#include "stream/tool_sections.h"
#include "stream/writer.h"

using namespace dpxut::stream;

namespace {

constexpr size_t kSpillBytes = 512 * 1024;  // any record header fits (names and extension are 16-bit)
constexpr size_t kShownName = 200;          // bytes of a name quoted in a message

// A header section (media or session): head field with the signature, the
// members the library writes, and a closing field holding the check value
// of everything before it.
template <class Members>
size_t put_header_section(dpxut_writer& w, uint8_t* buf, uint32_t cap, uint32_t id, Members&& members,
                          const char* what) {
  uint8_t* p = buf;
  uint32_t rest = cap;
  DPDFField f{};
  f.fieldId = id;
  f.data = kSignature;
  uint32_t rc = DPDFPutNextField(p, rest, &f, 2, 2);
  if (rc == 0 && f.dataOverflow.value == 0) {
    p += f.bytesUsed;
    rest -= f.bytesUsed;
    uint32_t n = 0;
    rc = members(p, rest, &n);
    if (rc == 0) {
      p += n;
      rest -= n;
      uint8_t check[4];
      dpxut::store_le32(check, HVDPGenerateCRC(static_cast<uint32_t>(p - buf), 0xFFFFFFFF, buf));
      f = DPDFField{};
      f.fieldId = id;
      f.data = check;
      rc = DPDFPutNextField(p, rest, &f, 4, 4);
      if (rc == 0 && f.dataOverflow.value == 0) return static_cast<size_t>(p + f.bytesUsed - buf);
    }
  }
  w.fail(DPXUT_FATAL, rc ? rc : HVDPUT_OVERFLOW, "cannot write %s: %s", what, dpxut_strerror(rc ? rc : HVDPUT_OVERFLOW));
}

// DOS date of t in local time; 0 outside the years it can hold.
uint32_t dos_date(int64_t seconds) {
  const time_t t = static_cast<time_t>(seconds);
  struct tm tm {};
  if (localtime_r(&t, &tm) == nullptr) return 0;
  const int year = tm.tm_year + 1900;
  if (year < 1980 || year > 2107) return 0;
  return HVDPPackDateTime(static_cast<uint32_t>(year), static_cast<uint32_t>(tm.tm_mon + 1),
                          static_cast<uint32_t>(tm.tm_mday), static_cast<uint32_t>(tm.tm_hour),
                          static_cast<uint32_t>(tm.tm_min), static_cast<uint32_t>(tm.tm_sec));
}

// The library's conversions size the result first (terminator included),
// then fill it. False when the text does not convert.
template <class Out, class Convert>
bool convert(Convert fn, const char* loc, Out& out) {
  size_t size = 0;
  if (fn(nullptr, &size, loc) != 0 || size == 0) return false;
  out.assign(size, 0);
  if (fn(out.data(), &size, loc) != 0) return false;
  out.back() = 0;
  out.resize(std::char_traits<typename Out::value_type>::length(out.c_str()));
  return true;
}

}  // namespace

void dpxut_writer::begin_stream() {
  dpxut::charset::ensure_setup();  // the session header names the code set
  if (!time_set) time = static_cast<uint32_t>(std::time(nullptr));
  if (!host_set) {
    char name[64] = "";
    gethostname(name, sizeof name - 1);
    host.assign(name);
  }
  buf.resize(block_size > (64u << 10) ? block_size : (64u << 10));
  state = State::kStarted;

  HVDPMediaHeaderInfo media{};
  HVDPUnixTimeToECMA(time, &media.firstTimeStamp, 1);
  media.secondTimeStamp = media.firstTimeStamp;
  std::snprintf(media.text, sizeof media.text, "%s", kMediaText);
  media.number = 1;
  emit(1024, [&](uint8_t* b, uint32_t cap) {
    return put_header_section(*this, b, cap, HVDP_MEDIA_HEADER_ID, [&](uint8_t* p, uint32_t rest, uint32_t* n) {
      return HVDPSetMediaHeaderInfo(&media, p, rest, n);
    }, "the media header");
  });

  HVDPSessionHeaderInfo session{};
  HVDPUnixTimeToECMA(time, &session.timeStamp, 1);
  session.number = 1;
  char codeset[dpxut::charset::kCodeSetSize];
  if (!dpxut::charset::current_codeset(codeset)) codeset[0] = '\0';
  std::snprintf(session.text1, sizeof session.text1, "sidfpack backup");
  std::snprintf(session.text2, sizeof session.text2, "%.60s", host.c_str());
  std::snprintf(session.text3, sizeof session.text3, "%.39s", codeset);
  std::snprintf(session.text4, sizeof session.text4, "%s", kFormatTag);
  std::snprintf(session.text5, sizeof session.text5, "%u", block_size);
  std::snprintf(session.osName, sizeof session.osName, "Unix");
  std::snprintf(session.familyName, sizeof session.familyName, "common");
  std::snprintf(session.fullName, sizeof session.fullName, "sidfpack.%.100s", host.c_str());
  emit(2048, [&](uint8_t* b, uint32_t cap) {
    return put_header_section(*this, b, cap, HVDP_SESSION_HEADER_ID, [&](uint8_t* p, uint32_t rest, uint32_t* n) {
      return HVDPSetSessionHeaderInfo(&session, p, rest, n);
    }, "the session header");
  });
}

// The names of one entry: the locale bytes in name space 0, then the UTF-8
// and wide forms, each with the positions of its components. A name with
// more components than the buffer records is stored without them; a name
// the code set cannot convert is stored in name space 0 only (a warning).
// Returns DPXUT_OK or DPXUT_WARN; stops with DPXUT_FAILED when the name
// cannot be stored at all.
static int put_names(dpxut_writer& w, const char* member) {
  // The handle is closed on every way out, a refused allocation in the
  // conversions below included.
  struct Handle {
    HVDPNameHandle* h = nullptr;
    ~Handle() {
      if (h != nullptr) HVDPCloseName(&h);
    }
  } handle;
  HVDPNameHandle*& h = handle.h;
  uint32_t rc = HVDPPutFirstName(&w.names, kNsLocale, 0, 0, nullptr, GenericChar(kNsLocale, '/'), member, &h);
  if (rc == HVDPUT_OVERFLOW) {
    if (h != nullptr) HVDPCloseName(&h);
    rc = HVDPPutFirstName(&w.names, kNsLocale, 0, 0, nullptr, nullptr, member, &h);
  }
  int result = DPXUT_OK;
  if (rc == 0) {
    dpxut::HeapString utf;
    dpxut::HeapWString wide;
    if (convert(DPloc2utf8, member, utf) && convert(DPloc2uniNoMap, member, wide)) {
      const void* forms[2] = {utf.c_str(), wide.c_str()};
      const uint32_t spaces[2] = {kNsUtf8, kNsWide};
      for (int i = 0; i < 2 && rc == 0; ++i) {
        rc = HVDPPutNextName(&w.names, &h, spaces[i], 0, 0, nullptr, GenericChar(spaces[i], '/'), forms[i]);
        if (rc == HVDPUT_OVERFLOW) rc = HVDPPutNextName(&w.names, &h, spaces[i], 0, 0, nullptr, nullptr, forms[i]);
      }
      if (rc != 0) {
        result = w.warn(DPXUT_E_NAME, "entry '%.*s': name kept in locale form only: %s", int{kShownName}, member,
                        dpxut_strerror(rc));
        if (h != nullptr) HVDPCloseName(&h);
        rc = HVDPPutFirstName(&w.names, kNsLocale, 0, 0, nullptr, nullptr, member, &h);
      }
    } else {
      char codeset[dpxut::charset::kCodeSetSize];
      if (!dpxut::charset::current_codeset(codeset)) codeset[0] = '\0';
      result = w.warn(DPXUT_E_NAME, "entry '%.*s': name not valid in code set %s; stored in locale form only",
                      int{kShownName}, member, codeset);
    }
  }
  if (h != nullptr) HVDPCloseName(&h);
  if (w.names == nullptr || rc != 0) {
    if (rc == HVDPUT_OUT_OF_MEMORY) throw std::bad_alloc();
    w.fail(DPXUT_FAILED, DPXUT_E_NAME, "entry '%.*s': cannot store the name: %s", int{kShownName}, member,
           dpxut_strerror(rc ? rc : HVDPUT_INVALID_PARAMETER));
  }
  return result;
}

// Checks and describes an entry, then starts its first record. Nothing is
// written before the entry is known to be storable.
int dpxut_writer::begin_entry(const dpxut_entry& e) {
  if (!e.has_name || e.name.empty()) fail(DPXUT_FAILED, DPXUT_E_NAME, "entry without a name");
  const uint32_t type = e.mode & DPXUT_IFMT;
  const bool hardlink = e.has_hardlink;
  const char* target = type == DPXUT_IFLNK && e.has_symlink ? e.symlink.c_str() : "";
  uint64_t size = type == DPXUT_IFREG ? e.size : 0;
  if (type == DPXUT_IFLNK) size = std::strlen(target);

  // The extension area, less the part entry each record adds. Its warning
  // (extended attributes left out) outweighs the names'.
  int result = put_names(*this, e.name.c_str());
  const bool content = type == DPXUT_IFREG && !hardlink;
  size_t dropped = 0;
  const uint64_t stored = build_area(e, size, target, content, &dropped);
  if (dropped != 0) result = DPXUT_WARN;
  entry_name.assign(e.name);

  // The description block: host-made, sized for the largest extension area.
  const size_t need = HVDP_DATA_SET_INFO_FIXED + area.size() + 12 + 16;
  if (block == nullptr || block->bufferSize < need) {
    void* grown = dpxut::heap_realloc(block, need);
    if (grown == nullptr) throw std::bad_alloc();
    block = static_cast<HVDPDataSetInfo*>(grown);
    block->bufferSize = static_cast<uint16_t>(need);
  }
  const uint16_t allocated = block->bufferSize;
  std::memset(block, 0, HVDP_DATA_SET_INFO_FIXED);
  block->bufferSize = allocated;
  block->value1 = e.mode;
  block->value2 = e.uid;
  block->value3 = e.gid;
  block->value4 = static_cast<uint32_t>(size);
  block->value5 = e.nlink;
  block->dateTime1 = dos_date(e.mtime);
  block->dateTime2 = dos_date(e.atime);
  block->dateTime3 = dos_date(e.ctime);

  in_entry = true;
  has_content = content;
  changed = false;
  entry_size = stored;
  entry_done = 0;
  split = content && stored > part_size;
  begin_record();
  if (list_content) take(reinterpret_cast<const uint8_t*>(e.dirlist.data()), e.dirlist.size());
  else if (part_left == 0) end_record();
  return result;
}

// One record: padding to the block, then the record header. The record's
// length is known before its content (a part holds exactly part_length
// bytes; content falling short is made up with zeros), so it is stored
// while the header is certainly still in the output buffer, or in the spill
// area when the header is larger than the whole buffer.
void dpxut_writer::begin_record() {
  const uint64_t left = entry_size - entry_done;
  const uint64_t most = list_content ? kMaxPart : part_size;  // a list of names is never split
  part_length = left < most ? left : most;
  const size_t base = area.size();
  if (split) {
    uint8_t s[16];
    dpxut::store_le64(s, entry_done);
    dpxut::store_le64(s + 8, part_length);
    add_ext(area, kExtPart, s, 16);
  }
  block->dataSize = static_cast<uint16_t>(48 + area.size());
  block->extensionLength = static_cast<uint16_t>(area.size());
  std::memcpy(reinterpret_cast<uint8_t*>(block) + HVDP_DATA_SET_INFO_FIXED, area.data(), area.size());
  area.resize(base);
  if (records == UINT32_MAX) fail(DPXUT_FATAL, DPXUT_E_STATE, "too many records for one stream");

  pad_to_block();
  info.shortHeader = 0;
  info.nameBuffer = names;
  info.dataSetInfo = block;
  info.byteValue = 0;
  Vector<uint8_t> spill;
  uint32_t written = 0;
  bool in_place = true;
  for (;;) {
    uint8_t* p = buf.data() + used;
    uint32_t rest = static_cast<uint32_t>(buf.size() - used);
    written = 0;
    uint32_t rc = HVDPSetNewRecordHeader(&p, &rest, &written, 1, &info);
    if (rc == HVDPUT_OVERFLOW && used != 0) {
      flush();
      continue;
    }
    if (rc == HVDPUT_OVERFLOW) {  // larger than the whole buffer
      spill.resize(kSpillBytes);
      p = spill.data();
      rest = static_cast<uint32_t>(spill.size());
      written = 0;
      rc = HVDPSetNewRecordHeader(&p, &rest, &written, 1, &info);
      in_place = false;
    }
    if (rc == HVDPUT_OUT_OF_MEMORY) throw std::bad_alloc();
    if (rc != 0)  // the padding before it is all that stands: the stream is whole, but this entry half-made
      fail(DPXUT_FATAL, rc, "entry '%.*s' (record %u): cannot write the record header: %s", int{kShownName},
           entry_name.c_str(), records + 1, dpxut_strerror(rc));
    break;
  }
  info.recordLength = static_cast<uint32_t>(info.recordLength + part_length + tool_section_size());
  HVDPUpdateRecordHeader(&info);
  if (in_place) used += written;
  else put(spill.data(), written);
  ++records;
  part_left = part_length;
  crc = 0xFFFFFFFF;
}

// The data check section after a record's content.
void dpxut_writer::end_record() {
  emit(tool_section_size(), [&](uint8_t* b, uint32_t cap) {
    size_t n = 0;
    if (const uint32_t rc = put_tool_section(b, cap, kDataCheckId, crc, part_length, &n))
      fail(DPXUT_FATAL, rc, "cannot write a data check section: %s", dpxut_strerror(rc));
    return n;
  });
}

void dpxut_writer::take(const uint8_t* p, size_t n) {
  while (n > 0) {
    if (used == buf.size()) flush();
    size_t k = buf.size() - used;
    if (k > n) k = n;
    if (k > part_left) k = static_cast<size_t>(part_left);
    crc = HVDPGenerateCRC(static_cast<uint32_t>(k), crc, p);
    if (used == 0 && k == buf.size()) {
      // A whole buffer's worth goes from the host's bytes: the callback
      // sees the same calls as when they are copied and flushed.
      hand_over(p, k);
    } else {
      std::memcpy(buf.data() + used, p, k);
      used += k;
    }
    p += k;
    n -= k;
    part_left -= k;
    entry_done += k;
    content_bytes += k;
    if (part_left == 0) {
      end_record();
      if (entry_done < entry_size) begin_record();
    }
  }
}

// Content that fell short is stored as zeros, so the stream stays whole,
// and the entry is marked as changed. The change mark follows the data
// check section of the entry's last record (the record's length was
// written before anyone knew).
int dpxut_writer::end_entry() {
  if (!in_entry) return DPXUT_OK;
  in_entry = false;
  const bool content = has_content;
  has_content = false;
  const uint64_t missing = host_size - host_done;
  if (missing != 0) {
    changed = true;
    for (uint64_t left = missing; left > 0;) {
      static const uint8_t kZeros[4096] = {};
      const size_t k = left < sizeof kZeros ? static_cast<size_t>(left) : sizeof kZeros;
      feed(kZeros, k);
      left -= k;
    }
  }
  feed(nullptr, 0);  // fills after the last region's bytes
  if (content && changed) {
    emit(tool_section_size(), [&](uint8_t* b, uint32_t cap) {
      size_t n = 0;
      if (const uint32_t rc = put_tool_section(b, cap, kChangeMarkId, kChanged, entry_size, &n))
        fail(DPXUT_FATAL, rc, "cannot write a change mark: %s", dpxut_strerror(rc));
      return n;
    });
  }
  changed = false;
  if (missing == 0) return DPXUT_OK;
  return warn(DPXUT_E_SIZE, "entry '%.*s': %llu bytes short; stored as zeros and marked as changed", int{kShownName},
              entry_name.c_str(), static_cast<unsigned long long>(missing));
}

// The trailer after the last record: records and content bytes, between
// paddings to the block.
void dpxut_writer::end_stream() {
  pad_to_block();
  emit(tool_section_size(), [&](uint8_t* b, uint32_t cap) {
    size_t n = 0;
    if (const uint32_t rc = put_tool_section(b, cap, kStreamTrailerId, records, content_bytes, &n))
      fail(DPXUT_FATAL, rc, "cannot write the stream trailer: %s", dpxut_strerror(rc));
    return n;
  });
  pad_to_block();
  flush();
  state = State::kFinished;
}
