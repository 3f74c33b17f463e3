// The sections sidfdump names and decodes: pad sections (jumped over),
// media and session headers, record headers and their data set
// information, each member field named and the section decoded as a whole
// by the library's readers.
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
#include "../common/text.h"
#include "dump.h"

namespace sidfdump {
namespace {

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
const char* name_of(const MemberName (&names)[N], uint32_t id) {
  for (const MemberName& m : names)
    if (m.id == id) return m.name;
  return nullptr;
}
template <size_t N>
MemberResult name_member(const MemberName (&names)[N], const FieldView& v) {
  MemberResult r;
  if (const char* name = name_of(names, v.id)) r.note = name;
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

// A Unicode character as UTF-8, or escaped when it is not one or would change
// how the text around it shows (controls, bidirectional controls).
void append_utf8(std::string& out, uint32_t c) {
  char b[16];
  if (c < 0x20 || c == 0x7F || c == '"' || c == '\\' || dpxtool::hidden_control(c) || (c >= 0xD800 && c < 0xE000) ||
      c > 0x10FFFF) {
    std::snprintf(b, sizeof b, c < 0x80 ? "\\x%02X" : "\\u{%X}", c);
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
    std::string utf;
    if (!ascii && dpxtool::locale_to_utf8(bytes, utf)) bytes = utf;
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

// The extension entries sidfpack writes, by type.
const MemberName kExtensionTypes[] = {
    {3, "owner, group and link target"},
    {0x53500001, "exact times"},
    {0x53500002, "size"},
    {0x53500003, "part of a split file"},
    {0x53500004, "link target in UTF-8"},
    {0x53500005, "hard link"},
    {0x53500006, "device number"},
    {0x53500007, "extended attribute"},
    {0x53500008, "sparse map"},
    {0x53500009, "list of names"},
    {0x5350000A, "list of names in the content"},
};

// One line an entry of the extension area: its type, named when known, and
// its length.
void describe_extension(const HVDPDataSetInfo& b, Lines& lines) {
  HVDPExtensionEntry* x = nullptr;
  HVDPExtensionHandle* h = nullptr;
  const uint8_t* area = reinterpret_cast<const uint8_t*>(&b) + HVDP_DATA_SET_INFO_FIXED;
  for (uint32_t rc = HVDPGetFirstExtension(area, b.extensionLength, &x, &h); rc == 0; rc = HVDPGetNextExtension(&h, &x)) {
    char v[96];
    const char* named = name_of(kExtensionTypes, x->entryType);
    std::snprintf(v, sizeof v, "%08X%s%s, %u bytes", x->entryType, named ? " " : "", named ? named : "", x->dataLength);
    lines.push_back(line("  entry", v));
  }
  if (h != nullptr) HVDPCloseExtension(&h);
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
      lines.push_back(line(v, dpxtool::dos_date_text(dates[i])));
    }
    lines.push_back(line("extension", std::to_string(b.extensionLength) + " bytes"));
    describe_extension(b, lines);
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

// sidfpack's own sections: a byte count and a check value, count or flags.
const MemberName kToolMembers[] = {{0x8073, "bytes"}, {0x8072, "value"}};
MemberResult tool_member(const FieldView& v) { return name_member(kToolMembers, v); }

const SectionKind kSectionKinds[] = {
    {dpxtool::kDataCheckId, "data check", tool_member, nullptr},
    {dpxtool::kChangeMarkId, "change mark", tool_member, nullptr},
    {dpxtool::kStreamTrailerId, "stream trailer", tool_member, nullptr},
    {dpxtool::kPadId, "pad section", pad_member, nullptr},
    {HVDP_MEDIA_HEADER_ID, "media header", media_member, describe_media},
    {HVDP_SESSION_HEADER_ID, "session header", session_member, describe_session},
    {HVDP_RECORD_HEADER_ID, "record header", record_member, describe_record},
    {HVDP_SHORT_RECORD_HEADER_ID, "short record header", record_member, describe_record},
    {HVDP_DATA_SET_INFO_ID, "data set information", info_member, describe_info},
};

}  // namespace

const SectionKind* find_kind(uint32_t id) {
  for (const auto& k : kSectionKinds)
    if (k.id == id) return &k;
  return nullptr;
}

}  // namespace sidfdump
