// sidfdump: prints a SIDF stream field by field — offset, identifier, size
// form, size and data — with sections indented between their head and
// closing fields, pad sections jumped over, and check values verified.
// Media, session and record headers are also shown decoded, as the
// library's readers see them (names as text whatever their encoding), and a
// record's data is passed over by its length.
// Reads a file, or standard input for "-"; without arguments it dumps a
// sample stream that it writes with the library. Uses only dpxut.h.
//
// Exit status: 0 for a clean stream, 1 when the stream has faults (a field
// cut by the end of input, an unclosed section, a wrong check value), 2 for
// usage or I/O errors.
#include <dpxut.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr size_t kChunk = 64 * 1024;  // input window; larger fields are streamed
constexpr size_t kMaxHeader = 13;     // 4 identifier + 1 descriptor + 8 size bytes
constexpr uint32_t kPadSection = 0x808019;

// ---------------------------------------------------------------------------
// One field as shown: where it starts and how its header is laid out.

enum class Form { kShort, kSizeOfSize, kEmbedded, kFixed };

struct FieldView {
  uint64_t offset = 0;  // stream offset of the identifier
  uint32_t id = 0;
  unsigned id_len = 0;
  Form form = Form::kShort;
  unsigned size_bytes = 0;  // size-of-size form: 1, 2, 4 or 8
  uint64_t size = 0;        // declared data size (1 for the embedded form)
  size_t header = 0;        // identifier and descriptor bytes
  const uint8_t* data = nullptr;
  uint64_t present = 0;  // data bytes present in the window
};

// The identifier's length follows from its value, as its first byte is
// never zero. A fixed-size identifier carries its size and no descriptor:
// short ones have bit 6 of the last byte set, long ones (3 bytes starting
// 80-BF, or 4 bytes) the high nibble 0xF in the second-to-last byte.
void classify(const uint8_t* at, const DPDFField& f, FieldView& v) {
  v.id = f.fieldId;
  v.id_len = f.fieldId > 0xFFFFFF ? 4 : f.fieldId > 0xFFFF ? 3 : f.fieldId > 0xFF ? 2 : 1;
  const bool long_form = v.id_len == 4 || (v.id_len == 3 && at[0] < 0xC0);
  const bool fixed = long_form ? (v.id & 0xF000u) == 0xF000u : (v.id & 0x40u) != 0;
  v.size = f.dataSize.value;
  if (fixed) {
    v.form = Form::kFixed;
    v.header = v.id_len;
  } else {
    const uint8_t s = at[v.id_len];
    if (s < 0x80) {
      v.form = Form::kShort;
      v.header = v.id_len + 1;
    } else if (s >= 0xC0) {
      v.form = Form::kEmbedded;
      v.header = v.id_len + 1;
    } else {
      v.form = Form::kSizeOfSize;
      v.size_bytes = 1u << (s & 3u);
      v.header = v.id_len + 1 + v.size_bytes;
    }
  }
  v.data = v.form == Form::kEmbedded ? at + v.id_len : at + v.header;
  v.present = v.form == Form::kEmbedded ? 1 : f.dataSize.value - f.dataOverflow.value;
}

std::string id_text(const FieldView& v) {
  char b[16];
  std::snprintf(b, sizeof b, "%0*X", static_cast<int>(2 * v.id_len), v.id);
  return b;
}

std::string form_text(const FieldView& v) {
  switch (v.form) {
    case Form::kShort: return "short";
    case Form::kEmbedded: return "embedded";
    case Form::kFixed: return "fixed";
    case Form::kSizeOfSize: return "size-of-size:" + std::to_string(v.size_bytes);
  }
  return "?";
}

// Short data as hex, and as text too when it is printable (trailing zeros
// allowed); longer data as its first 16 bytes.
std::string data_text(const FieldView& v) {
  if (v.size == 0) return "-";
  const size_t shown = static_cast<size_t>(std::min<uint64_t>(v.present, v.size <= 32 ? 32 : 16));
  std::string s;
  char b[4];
  for (size_t i = 0; i < shown; ++i) {
    std::snprintf(b, sizeof b, i ? " %02X" : "%02X", v.data[i]);
    s += b;
  }
  if (shown < v.size) return s + (s.empty() ? "..." : " ...");
  size_t text_end = shown;
  while (text_end > 0 && v.data[text_end - 1] == 0) --text_end;
  bool printable = text_end > 0;
  for (size_t i = 0; i < text_end && printable; ++i) printable = v.data[i] >= 0x20 && v.data[i] < 0x7F;
  if (printable) s += "  \"" + std::string(reinterpret_cast<const char*>(v.data), text_end) + "\"";
  return s;
}

// ---------------------------------------------------------------------------
// Section kinds. A member hook may annotate a field and ask for a jump over
// the bytes that follow it; decoders for further sections plug in here.

struct MemberResult {
  std::string note;
  uint64_t jump = 0;
};

// Value of an offset field (its first up to 8 data bytes, little-endian).
bool offset_value(const FieldView& v, uint64_t* distance) {
  if (v.id != DPDF_OFFSET_TO_END || v.form == Form::kEmbedded || v.present != v.size) return false;
  *distance = 0;
  std::memcpy(distance, v.data, static_cast<size_t>(std::min<uint64_t>(v.size, 8)));
  return true;
}

// Pad sections are jumped over from the end of their offset field.
MemberResult pad_member(const FieldView& v) {
  MemberResult r;
  if (offset_value(v, &r.jump)) r.note = "blank space of " + std::to_string(r.jump) + " bytes";
  return r;
}

// ---------------------------------------------------------------------------
// Media and session headers: each member field is named, and the section is
// decoded as a whole by the library's reader.

struct MemberName {
  uint32_t id;
  const char* name;
};

const MemberName kMediaMembers[] = {
    {0x80F401, "first time stamp"},
    {0x80F400, "second time stamp"},
    {0x808030, "text"},
    {0x80F100, "number (16 bits)"},
    {0x80802F, "flag"},
    {0x81EFFE, "text, older form"},
    {0x80F20B, "first time stamp as Unix time, older form"},
    {0x80F20C, "second time stamp as Unix time, older form"},
    {0x80F200, "unused, older form"},
    {0x81F2FF, "both time stamps as DOS date and time, older form"},
};

const MemberName kSessionMembers[] = {
    {0x8072, "number"},       {0x80F403, "time stamp"}, {0x80802D, "flag"},
    {0x808005, "text1"},      {0x808006, "text2"},      {0x808007, "text3"},
    {0x808008, "text4"},      {0x8009, "format family"}, {0x02, "full name"},
    {0x03, "operating system"}, {0x04, "text5"},
    {0x8042, "time stamp as DOS date and time, older form"},
};

template <size_t N>
MemberResult name_member(const MemberName (&names)[N], const FieldView& v) {
  MemberResult r;
  for (const MemberName& m : names)
    if (m.id == v.id) r.note = m.name;
  return r;
}
MemberResult media_member(const FieldView& v) { return name_member(kMediaMembers, v); }
MemberResult session_member(const FieldView& v) { return name_member(kSessionMembers, v); }

// A stamp as date, time and the zone its word records.
std::string stamp_text(HVDPECMATimeStamp s) {
  static const uint8_t kZero[sizeof s] = {};
  if (std::memcmp(&s, kZero, sizeof s) == 0) return "none";
  char b[96];
  int n = std::snprintf(b, sizeof b, "%04d-%02u-%02u %02u:%02u:%02u", s.year, s.month, s.day, s.hour, s.minute,
                        s.second);
  const unsigned type = s.typeAndTimeZone >> 12;
  int zone = s.typeAndTimeZone & 0xFFF;
  if (zone & 0x800) zone -= 0x1000;
  if (s.typeAndTimeZone == 0) {
    std::snprintf(b + n, sizeof b - n, " UTC");
  } else if (type != 1) {
    std::snprintf(b + n, sizeof b - n, " (zone word %04X of type %u)", s.typeAndTimeZone, type);
  } else if (zone == HVDP_ECMA_ZONE_UNSPECIFIED) {
    std::snprintf(b + n, sizeof b - n, " local time, zone not specified");
  } else {
    const int a = zone < 0 ? -zone : zone;
    std::snprintf(b + n, sizeof b - n, " local time, UTC%c%02d:%02d", zone < 0 ? '-' : '+', a / 60, a % 60);
  }
  return b;
}

// A text member up to its zero or its end, quoted, other bytes escaped.
std::string quoted(const char* member, size_t size) {
  std::string s = "\"";
  char b[8];
  for (size_t i = 0; i < size && member[i] != 0; ++i) {
    const auto c = static_cast<unsigned char>(member[i]);
    if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
      s += static_cast<char>(c);
    } else {
      std::snprintf(b, sizeof b, "\\x%02X", c);
      s += b;
    }
  }
  return s + "\"";
}

std::string flag_text(uint32_t flag) {
  char b[48];
  std::snprintf(b, sizeof b, "%X (%s)", flag, flag == 0 ? "absent" : flag == 0xC0 ? "false" : "true");
  return b;
}

// How a name was recorded in a code field: its code, or the name as text.
std::string code_text(const uint8_t* at, size_t avail, uint32_t head, uint32_t id) {
  uint8_t value[40] = {};
  DPDFGetEntry table[2] = {{id, value, sizeof value, 0}, {DPDF_END_OF_TABLE, nullptr, 0, 0}};
  auto* pos = const_cast<uint8_t*>(at);  // the section reader only reads
  auto left = static_cast<uint32_t>(avail);
  if (DPDFGetFields(head, table, &pos, &left) != 0 || !table[0].found || table[0].dataSize == 0) return "no field";
  if (value[0] >= 0x20 && value[0] <= 0x7F) return "given as text";
  uint32_t code;
  std::memcpy(&code, value, sizeof code);
  return "code " + std::to_string(code);
}

using Lines = std::vector<std::string>;

std::string line(const char* name, const std::string& value) {
  char b[24];
  std::snprintf(b, sizeof b, "%-18s ", name);
  return b + value;
}

Lines describe_media(const uint8_t* at, size_t avail) {
  HVDPMediaHeaderInfo m{};
  if (HVDPGetMediaHeaderInfo(at, static_cast<uint32_t>(avail), &m) != 0) return {};
  return {line("first time stamp", stamp_text(m.firstTimeStamp)),
          line("second time stamp", stamp_text(m.secondTimeStamp)), line("text", quoted(m.text, sizeof m.text)),
          line("number", std::to_string(m.number)), line("flag", flag_text(m.flag))};
}

Lines describe_session(const uint8_t* at, size_t avail) {
  HVDPSessionHeaderInfo h{};
  if (HVDPGetSessionHeaderInfo(at, static_cast<uint32_t>(avail), &h) != 0) return {};
  return {line("time stamp", stamp_text(h.timeStamp)),
          line("number", std::to_string(h.number)),
          line("flag", flag_text(h.flag)),
          line("text1", quoted(h.text1, sizeof h.text1)),
          line("text2", quoted(h.text2, sizeof h.text2)),
          line("text3", quoted(h.text3, sizeof h.text3)),
          line("text4", quoted(h.text4, sizeof h.text4)),
          line("text5", quoted(h.text5, sizeof h.text5)),
          line("full name", quoted(h.fullName, sizeof h.fullName)),
          line("short name", quoted(h.shortName, sizeof h.shortName)),
          line("operating system", quoted(h.osName, sizeof h.osName) + " (" +
                                       code_text(at, avail, HVDP_SESSION_HEADER_ID, 0x03) + ")"),
          line("format family", quoted(h.familyName, sizeof h.familyName) + " (" +
                                    code_text(at, avail, HVDP_SESSION_HEADER_ID, 0x8009) + ")")};
}

// ---------------------------------------------------------------------------
// Record headers: the first section (stamp, record length) and the data set
// information section, decoded by the library's record readers.

const MemberName kRecordMembers[] = {
    {0x54, "time stamp"},
    {0x0B, "record length: bytes after this section"},
    {0x42, "time stamp as DOS date and time, older form"},
};

const MemberName kInfoMembers[] = {
    {DPDF_OFFSET_TO_END, "distance to the closing field"},
    {0x81F2FE, "value1"}, {0x81F2FD, "value2"}, {0x81F2FC, "value3"}, {0x81F2FB, "value4"}, {0x81F2FA, "value5"},
    {0x81F0FF, "byte1"},  {0x81F0FE, "byte2"},  {0x81F0FD, "byte3"},
    {0x44, "date 1"},     {0x64, "date 2"},     {0x74, "date 3"},     {0x54, "date 4"},
    {0x81F2F9, "date 1, DOS form"}, {0x81F2F8, "date 2, DOS form"}, {0x81F2F7, "date 3, DOS form"},
    {0x81F2F6, "date 4, DOS form"}, {0x81EFFD, "extension"}, {0x50, "byte value"},
    {0x11, "name space"}, {0x12, "name"}, {0x813E, "name list"},
};

MemberResult record_member(const FieldView& v) { return name_member(kRecordMembers, v); }
// The offset field jumps nowhere here: every member is shown.
MemberResult info_member(const FieldView& v) { return name_member(kInfoMembers, v); }

std::string dos_text(uint32_t packed) {
  if (packed == 0) return "none";
  uint16_t y, mo, d, h, mi, s;
  HVDPUnPackDateTime(packed, &y, &mo, &d, &h, &mi, &s);
  char b[48];
  std::snprintf(b, sizeof b, "%04u-%02u-%02u %02u:%02u:%02u", y, mo, d, h, mi, s);
  return b;
}

// A Unicode character as UTF-8, or escaped when it is not one.
void append_utf8(std::string& out, uint32_t c) {
  char b[16];
  if (c < 0x20 || c == 0x7F || c == '"' || c == '\\' || (c >= 0xD800 && c < 0xE000) || c > 0x10FFFF) {
    std::snprintf(b, sizeof b, c < 0x100 ? "\\x%02X" : "\\u{%X}", c);
    out += b;
  } else if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | c >> 6);
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | c >> 12);
    out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | c >> 18);
    out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
    out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// Length of the well-formed UTF-8 character at p (at most n bytes), 0 if none.
size_t utf8_char(const uint8_t* p, size_t n, uint32_t* c) {
  const uint8_t b = p[0];
  const size_t len = b < 0x80 ? 1 : (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
  if (len == 0 || len > n) return 0;
  uint32_t v = len == 1 ? b : b & (0x7F >> len);
  for (size_t i = 1; i < len; ++i) {
    if ((p[i] & 0xC0) != 0x80) return 0;
    v = v << 6 | (p[i] & 0x3F);
  }
  static const uint32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
  if (len > 1 && v < kMin[len]) return 0;
  *c = v;
  return len;
}

// A name in its name space's encoding as quoted UTF-8 text: wide names by
// their 32-bit characters, UTF-8 names as they are, locale names through
// the library's conversion to UTF-8. Bytes that are no character are
// escaped. The name ends at its terminator (or its length).
std::string name_text(uint32_t ns, const uint8_t* p, size_t n) {
  std::string out = "\"";
  const uint32_t base = ns & 0xFF;
  const bool known = base == 0 || base == 1 || base == 2 || base == 4;
  if (known && (ns >> 8) == 2) {
    for (size_t i = 0; i + 4 <= n; i += 4) {
      uint32_t c;
      std::memcpy(&c, p + i, 4);
      if (c == 0) break;
      append_utf8(out, c);
    }
    return out + "\"";
  }
  size_t end = 0;
  while (end < n && p[end] != 0) ++end;
  std::string bytes(reinterpret_cast<const char*>(p), end);
  if (!(known && (ns >> 8) == 1)) {
    bool ascii = true;
    for (unsigned char c : bytes) ascii = ascii && c < 0x80;
    size_t size = 0;
    if (!ascii && DPloc2utf8(nullptr, &size, bytes.c_str()) == 0 && size != 0) {
      std::string utf(size, '\0');
      if (DPloc2utf8(utf.data(), &size, bytes.c_str()) == 0) bytes.assign(utf.c_str());
    }
  }
  const auto* q = reinterpret_cast<const uint8_t*>(bytes.data());
  for (size_t i = 0; i < bytes.size();) {
    uint32_t c = 0;
    const size_t len = utf8_char(q + i, bytes.size() - i, &c);
    if (len != 0) {
      append_utf8(out, c);
      i += len;
    } else {
      char b[8];
      std::snprintf(b, sizeof b, "\\x%02X", q[i++]);
      out += b;
    }
  }
  return out + "\"";
}

const char* encoding_name(uint32_t ns) {
  const uint32_t base = ns & 0xFF;
  if (!(base == 0 || base == 1 || base == 2 || base == 4) || ns > 0x2FF) return "locale bytes";
  return (ns >> 8) == 2 ? "wide" : (ns >> 8) == 1 ? "UTF-8" : "locale bytes";
}

Lines describe_record(const uint8_t* at, size_t avail) {
  HVDPRecordHeaderInfo info{};
  auto* pos = const_cast<uint8_t*>(at);  // the reader only reads
  auto left = static_cast<uint32_t>(avail);
  if (HVDPGetRecordHeaderOnly(&pos, &left, &info) != 0) return {};
  Lines lines = {line("header", info.shortHeader ? "short: no data set information follows" : "full"),
                 line("record length", std::to_string(info.recordLength) + " bytes after this section")};
  if (!info.shortHeader) lines.insert(lines.begin() + 1, line("time stamp", stamp_text(info.timeStamp)));
  return lines;
}

Lines describe_info(const uint8_t* at, size_t avail) {
  HVDPRecordHeaderInfo info{};
  auto* pos = const_cast<uint8_t*>(at);  // the parser only reads the host's bytes
  auto left = static_cast<uint32_t>(avail);
  Lines lines;
  if (HVDPGetDataSetInfo(&pos, &left, &info) == 0 && info.state == HVDP_STATE_DONE) {
    const HVDPDataSetInfo& b = *info.dataSetInfo;
    char v[128];
    std::snprintf(v, sizeof v, "%08X %08X %08X %08X %08X", b.value1, b.value2, b.value3, b.value4, b.value5);
    lines.push_back(line("values", v));
    std::snprintf(v, sizeof v, "%02X %02X %02X, byte value %02X", b.byte1, b.byte2, b.byte3, info.byteValue);
    lines.push_back(line("bytes", v));
    const uint32_t dates[4] = {b.dateTime1, b.dateTime2, b.dateTime3, b.dateTime4};
    for (int i = 0; i < 4; ++i) {
      std::snprintf(v, sizeof v, "date %d", i + 1);
      lines.push_back(line(v, dos_text(dates[i])));
    }
    lines.push_back(line("extension", std::to_string(b.extensionLength) + " bytes"));
    HVDPNameHandle* handle = nullptr;
    HVDPDataSetName name{};
    for (uint32_t rc = info.nameBuffer ? HVDPGetFirstName(info.nameBuffer, &name, &handle) : 1; rc == 0;
         rc = HVDPGetNextName(&handle, &name)) {
      std::snprintf(v, sizeof v, "name, space %X", name.nameSpace);
      lines.push_back(line(v, name_text(name.nameSpace, static_cast<const uint8_t*>(name.name), name.nameLength) +
                                  " (" + encoding_name(name.nameSpace) + ")"));
    }
    if (handle != nullptr) HVDPCloseName(&handle);
  }
  std::free(info.nameBuffer);
  std::free(info.dataSetInfo);
  std::free(info.savedData);
  return lines;
}

// Sections decoded as a whole need them inside the window; headers are small.
constexpr size_t kDescribeWindow = 8192;

struct SectionKind {
  uint32_t id;
  const char* name;
  MemberResult (*member)(const FieldView&);
  Lines (*describe)(const uint8_t* head, size_t avail);  // empty: not decodable
};

const SectionKind kSectionKinds[] = {
    {kPadSection, "pad section", pad_member, nullptr},
    {HVDP_MEDIA_HEADER_ID, "media header", media_member, describe_media},
    {HVDP_SESSION_HEADER_ID, "session header", session_member, describe_session},
    {HVDP_RECORD_HEADER_ID, "record header", record_member, describe_record},
    {HVDP_SHORT_RECORD_HEADER_ID, "short record header", record_member, describe_record},
    {HVDP_DATA_SET_INFO_ID, "data set information", info_member, describe_info},
};

const SectionKind* find_kind(uint32_t id) {
  for (const auto& k : kSectionKinds)
    if (k.id == id) return &k;
  return nullptr;
}

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
    return problems_ ? 1 : 0;
  }

 private:
  static unsigned long long ull(uint64_t v) { return static_cast<unsigned long long>(v); }
  static std::string hex_id(uint32_t id) {
    FieldView v;
    v.id = id;
    v.id_len = id > 0xFFFFFF ? 4 : id > 0xFFFF ? 3 : id > 0xFF ? 2 : 1;
    return id_text(v);
  }

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
    const bool is_head = whole && v.size == 2 && v.form != Form::kEmbedded && v.data[0] == 0xA5 && v.data[1] == 0x5A;

    // After a full record header's first section comes its data set
    // information section; without one the record's data starts here.
    if (info_expected_ && open_.empty()) {
      info_expected_ = false;
      if (!(is_head && v.id == HVDP_DATA_SET_INFO_ID)) return skip_record_data(record_length_);
      info_open_ = true;
      info_start_ = v.offset;
    }
    if (!open_.empty() && is_record_head(open_.back().id) && v.id == 0x0B && whole && v.form != Form::kEmbedded) {
      uint32_t length = 0;
      std::memcpy(&length, v.data, static_cast<size_t>(std::min<uint64_t>(v.size, 4)));
      record_length_ = length;
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
    if (is_head) open_.push_back({v.id, v.offset, 0xFFFFFFFFu, find_kind(v.id), false});
    // The head's own bytes count in its check value.
    if (is_head) open_.back().crc = HVDPGenerateCRC(f.bytesUsed, 0xFFFFFFFFu, window() - f.bytesUsed);
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
      std::memcpy(&stored, v.data, 4);
      char b[80];
      wrong = stored != 0xFFFFFFFFu && stored != s.crc;
      if (stored == 0xFFFFFFFFu) {
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
  uint64_t record_length_ = 0;  // field 0x0B of the last record header
  bool info_expected_ = false;  // a full record header's first section closed
  bool info_open_ = false;      // its data set information section is open
  uint64_t info_start_ = 0;
};

// ---------------------------------------------------------------------------
// The sample stream: a pad section, a media header and a session header,
// then a section with a field of every identifier length and size form and a
// closing check value, a short record header whose check value is left to be
// filled in later, and two records written by the library's record header
// writer, each followed by its data.

DPDFPutEntry row(uint32_t id, const void* data = nullptr, uint32_t bytes = 0, uint8_t form = 0) {
  DPDFPutEntry e{};
  e.field.fieldId = id;
  e.field.data = static_cast<const uint8_t*>(data);
  e.field.dataSize.value = bytes;
  e.dataBytes = bytes;
  e.sizeForm = form;
  return e;
}

// A header section as a backup program writes one: the head, the member
// fields from the library's header writer, the empty closing field.
template <typename Info>
bool put_header(uint32_t id, const Info& info,
                uint32_t (*set)(const Info*, uint8_t*, uint32_t, uint32_t*), uint8_t*& pos,
                uint32_t& left) {
  static const uint8_t kSignature[2] = {0xA5, 0x5A};
  DPDFField head{};
  head.fieldId = id;
  head.data = kSignature;
  if (DPDFPutNextField(pos, left, &head, 2, 2) != 0 || head.dataOverflow.value != 0) return false;
  pos += head.bytesUsed;
  left -= head.bytesUsed;
  uint32_t written = 0;
  if (set(&info, pos, left, &written) != 0) return false;
  pos += written;
  left -= written;
  DPDFField closing{};
  closing.fieldId = id;
  if (DPDFPutNextField(pos, left, &closing, 0, 0) != 0 || closing.dataOverflow.value != 0) return false;
  pos += closing.bytesUsed;
  left -= closing.bytesUsed;
  return true;
}

bool put_sample_headers(uint8_t*& pos, uint32_t& left) {
  HVDPMediaHeaderInfo media{};
  HVDPUnixTimeToECMA(1717243200, &media.firstTimeStamp, 0);  // 2024-06-01 12:00:00 UTC
  HVDPDOSTimeToECMA(0x58C16000, &media.secondTimeStamp);     // 2024-06-01 12:00:00 local
  std::strcpy(media.text, "Weekly full backup, set 3");
  media.number = 3;
  media.flag = 1;
  HVDPSessionHeaderInfo session{};
  HVDPUnixTimeToECMA(1717243200, &session.timeStamp, 1);
  session.number = 17;
  std::strcpy(session.text1, "nightly");
  std::strcpy(session.text2, "all volumes");
  std::strcpy(session.osName, "unix");
  std::strcpy(session.familyName, "dpx");
  std::strcpy(session.fullName, "fs1.example.backup.VOL1");
  return put_header(HVDP_MEDIA_HEADER_ID, media, HVDPSetMediaHeaderInfo, pos, left) &&
         put_header(HVDP_SESSION_HEADER_ID, session, HVDPSetSessionHeaderInfo, pos, left);
}

// Records as a backup program writes them: a full record header with names
// in all three encodings, dates and an extension, then the record's data;
// a short record header with its data. Both with check values.
bool put_record(HVDPRecordHeaderInfo& info, uint8_t*& pos, uint32_t& left, uint32_t data_bytes) {
  uint32_t written = 0;
  if (HVDPSetNewRecordHeader(&pos, &left, &written, 1, &info) != 0 || left < data_bytes) return false;
  std::memset(pos, 'D', data_bytes);
  pos += data_bytes;
  left -= data_bytes;
  info.recordLength += data_bytes;
  return HVDPUpdateRecordHeader(&info) == 0;
}

bool put_sample_records(uint8_t*& pos, uint32_t& left) {
  HVDPRecordHeaderInfo info{};
  HVDPNameBuffer* names = nullptr;  // a variable of its own: the record's member is packed
  HVDPNameHandle* handle = nullptr;
  static const wchar_t kWide[] = L"VOL1/docs/\u00fcber.txt";
  bool ok = HVDPPutFirstName(&names, 0, 0, 0, nullptr, nullptr, "VOL1:docs/report.txt", &handle) == 0 &&
            HVDPPutNextName(&names, &handle, 0x100, 0, 0, nullptr, nullptr, "VOL1/docs/r\xC3\xA9sum\xC3\xA9.txt") == 0 &&
            HVDPPutNextName(&names, &handle, 0x200, 0, 0, nullptr, nullptr, kWide) == 0;
  if (handle != nullptr) HVDPCloseName(&handle);
  info.nameBuffer = names;
  auto* block = static_cast<HVDPDataSetInfo*>(std::calloc(1, HVDP_DATA_SET_INFO_FIXED + 8));
  if (block != nullptr) {
    block->bufferSize = HVDP_DATA_SET_INFO_FIXED + 8;
    block->value1 = 0x1ED;
    block->value2 = 4096;
    block->byte1 = 0x20;
    block->dateTime1 = 0x58C16000;  // 2024-06-01 12:00:00
    block->dateTime2 = 0x586F6DAF;  // 2024-03-15 13:45:30
    block->extensionLength = 8;
    std::memcpy(reinterpret_cast<uint8_t*>(block) + HVDP_DATA_SET_INFO_FIXED, "EXTENDED", 8);
  }
  info.dataSetInfo = block;
  info.byteValue = 1;
  ok = ok && block != nullptr && put_record(info, pos, left, 32);
  info.shortHeader = 1;
  ok = ok && put_record(info, pos, left, 10);
  std::free(info.nameBuffer);
  std::free(info.dataSetInfo);
  return ok;
}

std::vector<uint8_t> build_sample() {
  std::vector<uint8_t> out(128 * 1024);
  std::vector<uint8_t> big(70000);
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i * 7);
  const uint8_t number[4] = {0x70, 0x11, 0x01, 0x00}, seven = 7, version[4] = {5, 0, 0, 0};
  const uint8_t two[2] = {0xAB, 0xCD};
  const uint8_t stamp[16] = {0x01, 0x10, 0xE8, 0x07, 6, 1, 12, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  uint8_t* pos = out.data();
  uint32_t left = static_cast<uint32_t>(out.size());
  HVDPPadBlankSpace(pos, 20);
  pos += 20;
  left -= 20;
  if (!put_sample_headers(pos, left)) return {};
  DPDFPutEntry sample[] = {
      row(0x808100),                           // head, 3-byte long identifier
      row(DPDF_OFFSET_TO_END, nullptr, 4, 4),  // distance to the closing field
      row(0x0B, number, 4, 4),                 // 1-byte identifier, short form
      row(0x50, &seven, 1),                    // fixed size 1
      row(0x8072, version, 4),                 // 2-byte identifier, fixed size 4
      row(0x8030, "hello", 6, 6),              // 2-byte identifier, short form text
      row(0x808030, "XYZ", 4, 4),              // 3-byte long identifier, text
      row(0x80F401, stamp, 16),                // 3-byte long identifier, fixed size 16
      row(0xC10203, two, 2, 2),                // 3-byte short identifier
      row(0xC1028304, big.data(), 300, 0x80),  // 4-byte identifier, 2 size bytes
      row(0x81EFFD, big.data(), 200, 0x80),    // 1 size byte
      row(0x80802F, nullptr, 0, 0xC1),         // embedded flag: true
      row(0x12, big.data(), 70000, 0x80),      // 4 size bytes, larger than the input window
      row(DPDF_END_OF_TABLE),
  };
  if (DPDFPutFields(sample, &pos, &left, 1) != 0) return {};
  const uint8_t no_data[4] = {0, 0, 0, 0};
  DPDFPutEntry record[] = {row(0x8001), row(0x0B, no_data, 4, 4), row(DPDF_END_OF_TABLE)};
  if (DPDFPutFields(record, &pos, &left, 2) != 0) return {};
  if (!put_sample_records(pos, left)) return {};
  out.resize(out.size() - left);
  return out;
}

int usage() {
  std::fprintf(stderr,
               "usage: sidfdump [FILE | -]\n"
               "Prints a SIDF stream field by field; without FILE, a sample stream.\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 2) return usage();
  if (argc == 2 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0)) return usage() - 2;
  if (argc == 1) {
    std::vector<uint8_t> sample = build_sample();
    FILE* in = sample.empty() ? nullptr : fmemopen(sample.data(), sample.size(), "rb");
    if (in == nullptr) {
      std::fprintf(stderr, "sidfdump: cannot build the sample stream\n");
      return 2;
    }
    std::printf("sample stream, %zu bytes, written with libdpxut\n", sample.size());
    const int rc = Dumper(in, "sample").run();
    std::fclose(in);
    return rc;
  }
  const bool from_stdin = std::strcmp(argv[1], "-") == 0;
  FILE* in = from_stdin ? stdin : std::fopen(argv[1], "rb");
  if (in == nullptr) {
    std::fprintf(stderr, "sidfdump: %s: %s\n", argv[1], std::strerror(errno));
    return 2;
  }
  const int rc = Dumper(in, from_stdin ? "<stdin>" : argv[1]).run();
  if (!from_stdin) std::fclose(in);
  return rc;
}
