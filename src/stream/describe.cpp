// Reading one record's description into an entry. The names come from the
// name buffer the parser filled, the attributes from the description block
// and its extension area, which is walked here within its length whatever
// its entries say.
#include "stream/describe.h"

#include <cstring>
#include <ctime>

#include "common/le.h"
#include "stream/format.h"

namespace dpxut::stream {
namespace {

using String = HeapString;
using WString = HeapWString;

constexpr size_t kMaxConverted = 1u << 20;

// The library's locale conversions size first (terminator included), then
// fill a destination of that size.
template <class Source>
bool to_bytes(uint32_t (*convert)(char*, size_t*, const Source*), const Source* source, String& out) {
  size_t size = 0;
  if (convert(nullptr, &size, source) != 0 || size == 0 || size > kMaxConverted) return false;
  String b(size, '\0');
  if (convert(b.data(), &size, source) != 0) return false;
  b.resize(strnlen(b.data(), b.size()));
  out = std::move(b);
  return true;
}

bool loc_to_wide(const String& loc, WString& out) {
  size_t size = 0;
  if (DPloc2uniNoMap(nullptr, &size, loc.c_str()) != 0 || size == 0 || size > kMaxConverted) return false;
  WString w(size, L'\0');
  if (DPloc2uniNoMap(w.data(), &size, loc.c_str()) != 0) return false;
  w.resize(wcsnlen(w.data(), w.size()));
  out = std::move(w);
  return true;
}

bool utf8_to_wide(const String& utf, WString& out) {
  size_t size = 0;
  if (DPutf82uni(nullptr, utf.c_str(), &size) != 0 || size >= kMaxConverted) return false;
  WString w(size + 1, L'\0');
  ++size;
  if (DPutf82uni(w.data(), utf.c_str(), &size) != 0) return false;
  w.resize(wcsnlen(w.data(), w.size()));
  out = std::move(w);
  return true;
}

bool wide_to_utf8(const WString& wide, String& out) {
  size_t size = 0;
  if (DPuni2utf8(nullptr, wide.c_str(), &size) != 0 || size >= kMaxConverted) return false;
  String b(size + 1, '\0');
  ++size;
  if (DPuni2utf8(b.data(), wide.c_str(), &size) != 0) return false;
  b.resize(strnlen(b.data(), b.size()));
  out = std::move(b);
  return true;
}

// The name stored in name space ns: its bytes up to its terminating zero,
// which the stored length counts. A zero inside the name refuses the form.
bool stored_name(const HVDPNameBuffer* names, uint32_t ns, String* bytes, WString* wide) {
  HVDPDataSetName dn{};
  if (names == nullptr || HVDPGetDataSetName(names, ns, &dn) != 0 || dn.name == nullptr) return false;
  const size_t length = dn.nameLength;
  if (wide != nullptr) {
    // Copied into aligned storage: the stored characters are unaligned.
    WString w(length / sizeof(wchar_t), L'\0');
    std::memcpy(w.data(), dn.name, w.size() * sizeof(wchar_t));
    const size_t n = wcsnlen(w.data(), w.size());
    if (n + 1 < w.size()) return false;
    w.resize(n);
    *wide = std::move(w);
    return true;
  }
  const char* text = static_cast<const char*>(dn.name);
  const size_t n = strnlen(text, length);
  if (n + 1 < length) return false;
  bytes->assign(text, n);
  return true;
}

void fill_names(const HVDPNameBuffer* names, bool same, dpxut_entry& e) {
  String loc, utf;
  WString wide;
  const bool has0 = stored_name(names, kNsLocale, &loc, nullptr);
  const bool has8 = stored_name(names, kNsUtf8, &utf, nullptr);
  const bool hasw = stored_name(names, kNsWide, nullptr, &wide);
  // Locale bytes: the stream's own when its code set is ours, else
  // converted; the stored bytes as they are when nothing converts.
  if (has0 && same) e.has_name = (e.name = loc, true);
  else if (has8 && to_bytes(DPutf82loc, utf.c_str(), e.name)) e.has_name = true;
  else if (hasw && to_bytes(DPuni2locNoMap, wide.c_str(), e.name)) e.has_name = true;
  else if (has0) e.has_name = (e.name = loc, true);
  if (has8) e.has_name_utf8 = (e.name_utf8 = utf, true);
  else if (hasw && wide_to_utf8(wide, e.name_utf8)) e.has_name_utf8 = true;
  else if (has0 && same && to_bytes(DPloc2utf8, loc.c_str(), e.name_utf8)) e.has_name_utf8 = true;
  if (hasw) e.has_name_wide = (e.name_wide = wide, true);
  else if (has8 && utf8_to_wide(utf, e.name_wide)) e.has_name_wide = true;
  else if (has0 && same && loc_to_wide(loc, e.name_wide)) e.has_name_wide = true;
}

// DOS dates are the writer's local time; 0 stands for none.
int64_t from_dos(uint32_t dos) {
  if (dos == 0) return 0;
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
  const time_t t = mktime(&tm);
  return t == static_cast<time_t>(-1) ? 0 : static_cast<int64_t>(t);
}

// Link target pieces gathered from the extension area.
struct Targets {
  String locale, utf8;
  bool has_locale = false, has_utf8 = false;
};

// A type-3 entry: owner, group and link target, each a u16 length and its
// bytes. Items beyond the data stop the reading.
void read_strings(const uint8_t* d, size_t n, dpxut_entry& e, Targets& t) {
  String* to[3] = {&e.uname, &e.gname, &t.locale};
  size_t at = 0;
  for (int i = 0; i < 3 && at + 2 <= n; ++i) {
    const size_t len = load_le16(d + at);
    if (len > n - at - 2) break;
    to[i]->assign(reinterpret_cast<const char*>(d + at + 2), len);
    if (i == 2) t.has_locale = len != 0;
    at += 2 + len;
  }
}

// Walks the extension area: every entry is kept raw, the known ones read.
// An entry is 12 bytes (type, tag, length) and its data; the area ends
// where its length says. A type-3 entry reaches as far as its items.
void read_extension(const uint8_t* area, size_t length, dpxut_entry& e, RecordFacts& f, Targets& t) {
  size_t at = 0;
  while (length - at >= 12) {
    const uint32_t type = load_le32(area + at);
    const uint64_t declared = load_le32(area + at + 8);
    const uint8_t* d = area + at + 12;
    const size_t room = length - at - 12;
    size_t n = declared < room ? static_cast<size_t>(declared) : room;
    size_t reach = n;
    if (type == kExtStrings) {
      size_t items = 0;
      for (int i = 0; i < 3 && items + 2 <= room; ++i) items += 2 + load_le16(d + items);
      if (items > room) break;
      if (items > reach) reach = items;
      n = reach;
    } else if (declared > room) {
      break;
    }
    e.extensions.push_back({type, e.ext_data.size(), static_cast<uint32_t>(n)});
    e.ext_data.insert(e.ext_data.end(), d, d + n);
    if (type == kExtStrings) {
      read_strings(d, n, e, t);
    } else if (type == kExtTimes && n == kTimesBytes) {
      e.times_exact = true;
      e.mtime = static_cast<int64_t>(load_le64(d));
      e.mtime_nsec = load_le32(d + 8) % 1000000000u;
      e.atime = static_cast<int64_t>(load_le64(d + 12));
      e.atime_nsec = load_le32(d + 20) % 1000000000u;
    } else if (type == kExtSize && n == 8) {
      e.size = load_le64(d);
    } else if (type == kExtPart && n == 16) {
      f.part = true;
      f.part_offset = load_le64(d);
      f.part_length = load_le64(d + 8);
    } else if (type == kExtTargetUtf8 && n != 0) {
      t.utf8.assign(reinterpret_cast<const char*>(d), strnlen(reinterpret_cast<const char*>(d), n));
      t.has_utf8 = true;
    } else if (type == kExtHardlink && n != 0) {
      e.hardlink.assign(reinterpret_cast<const char*>(d), strnlen(reinterpret_cast<const char*>(d), n));
      e.has_hardlink = true;
    }
    at += 12 + reach;
  }
}

void fill_symlink(const Targets& t, bool same, dpxut_entry& e) {
  if (t.has_locale && (same || !t.has_utf8)) e.has_symlink = (e.symlink = t.locale, true);
  else if (t.has_utf8 && to_bytes(DPutf82loc, t.utf8.c_str(), e.symlink)) e.has_symlink = true;
  else if (t.has_locale) e.has_symlink = (e.symlink = t.locale, true);
  if (t.has_utf8) e.has_symlink_utf8 = (e.symlink_utf8 = t.utf8, true);
  else if (t.has_locale && same && to_bytes(DPloc2utf8, t.locale.c_str(), e.symlink_utf8)) e.has_symlink_utf8 = true;
}

}  // namespace

const char* describe_record(const HVDPRecordHeaderInfo& info, bool same_codeset, dpxut_entry& e,
                            RecordFacts& facts, uint32_t* code) {
  e.clear();
  facts = RecordFacts{};
  *code = DPXUT_E_NAME;
  fill_names(info.nameBuffer, same_codeset, e);
  if (!e.has_name && !e.has_name_utf8 && !e.has_name_wide) return "record without a name";
  if (e.name.empty() && e.name_utf8.empty() && e.name_wide.empty()) return "record with an empty name";

  *code = DPXUT_E_DAMAGED;
  const HVDPDataSetInfo* b = info.dataSetInfo;
  if (b == nullptr) return "record without description";
  HVDPDataSetInfo fixed;
  std::memcpy(&fixed, b, HVDP_DATA_SET_INFO_FIXED);
  if (fixed.bufferSize < HVDP_DATA_SET_INFO_FIXED || fixed.extensionLength > fixed.bufferSize - HVDP_DATA_SET_INFO_FIXED)
    return "damaged description block";
  e.mode = fixed.value1;
  e.uid = fixed.value2;
  e.gid = fixed.value3;
  e.size = fixed.value4;
  e.nlink = fixed.value5;
  Targets targets;
  read_extension(reinterpret_cast<const uint8_t*>(b) + HVDP_DATA_SET_INFO_FIXED, fixed.extensionLength, e, facts,
                 targets);
  if (!e.times_exact) {
    e.mtime = from_dos(fixed.dateTime1);
    e.atime = from_dos(fixed.dateTime2);
  }
  e.ctime = from_dos(fixed.dateTime3);
  if ((e.mode & DPXUT_IFMT) == DPXUT_IFLNK) fill_symlink(targets, same_codeset, e);

  if (facts.part &&
      (facts.part_offset > e.size || facts.part_length > e.size - facts.part_offset || facts.part_length == 0)) {
    *code = DPXUT_E_PART;
    return "damaged part description";
  }
  const bool content = (e.mode & DPXUT_IFMT) == DPXUT_IFREG && !e.has_hardlink;
  facts.content = content ? (facts.part ? facts.part_length : e.size) : 0;
  *code = 0;
  return nullptr;
}

bool same_description(const dpxut_entry& a, const dpxut_entry& b) noexcept {
  return a.has_name == b.has_name && a.name == b.name && a.has_name_utf8 == b.has_name_utf8 &&
         a.name_utf8 == b.name_utf8 && a.has_name_wide == b.has_name_wide && a.name_wide == b.name_wide &&
         a.mode == b.mode && a.uid == b.uid && a.gid == b.gid && a.size == b.size && a.uname == b.uname &&
         a.gname == b.gname && a.times_exact == b.times_exact && a.mtime == b.mtime &&
         a.mtime_nsec == b.mtime_nsec && a.atime == b.atime && a.atime_nsec == b.atime_nsec && a.ctime == b.ctime &&
         a.has_symlink == b.has_symlink && a.symlink == b.symlink && a.has_symlink_utf8 == b.has_symlink_utf8 &&
         a.symlink_utf8 == b.symlink_utf8 && a.has_hardlink == b.has_hardlink && a.hardlink == b.hardlink;
}

}  // namespace dpxut::stream
