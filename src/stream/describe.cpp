// Reading one record's description into an entry. The names come from the
// name buffer the parser filled, the attributes from the description block
// and its extension area, which is walked here within its length whatever
// its entries say.
#include "stream/describe.h"

#include <sys/sysmacros.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <string_view>

#include "common/le.h"
#include "stream/format.h"
#include "time/civil.h"

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

// The local time's offset from UTC at t, in seconds.
int64_t local_offset(int64_t t) {
  const time_t at = static_cast<time_t>(t);
  struct tm tm {};
  return localtime_r(&at, &tm) != nullptr ? tm.tm_gmtoff : 0;
}

// DOS dates are the writer's local time; 0 stands for none. What mktime
// gives, without the zone file check mktime makes on every call: the
// offset is looked up at the guess and once more at the result, which
// settles it on both sides of a change of offset.
int64_t from_dos(uint32_t dos) {
  if (dos == 0) return 0;
  uint16_t y, mo, d, h, mi, s;
  HVDPUnPackDateTime(dos, &y, &mo, &d, &h, &mi, &s);
  const int64_t wall = dpxut::time::utc_seconds(y, mo, d, h, mi, s);
  const int64_t guess = wall - local_offset(wall);
  return wall - local_offset(guess);
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
    // Texts end at a zero inside them, as the C accessors hand them out.
    const char* text = reinterpret_cast<const char*>(d + at + 2);
    to[i]->assign(text, strnlen(text, len));
    if (i == 2) t.has_locale = len != 0;
    at += 2 + len;
  }
}

// A device number: u32 major, u32 minor.
const char* read_device(const uint8_t* d, size_t n, bool& seen, dpxut_entry& e) {
  if (seen) return "device number stored twice";
  if (n != 8) return "damaged device number";
  seen = true;
  e.rdev = makedev(load_le32(d), load_le32(d + 4));
  return nullptr;
}

// One extended attribute: u16 name length, the name (not empty, no zero
// byte), the value. Kept as the name, its terminator, the value.
const char* read_xattr(const uint8_t* d, size_t n, dpxut_entry& e) {
  if (n < 2) return "damaged extended attribute";
  const size_t length = load_le16(d);
  if (length == 0 || length > n - 2 || std::memchr(d + 2, 0, length) != nullptr) return "damaged extended attribute";
  const size_t at = e.xattr_data.size();
  e.xattr_data.insert(e.xattr_data.end(), d + 2, d + 2 + length);
  e.xattr_data.push_back('\0');
  e.xattr_data.insert(e.xattr_data.end(), d + 2 + length, d + n);
  e.xattrs.push_back({at, length, n - 2 - length});
  return nullptr;
}

// A sparse map: one or more regions of u64 offset, u64 length (checked
// against the size once the whole area is read).
const char* read_sparse(const uint8_t* d, size_t n, bool& seen, dpxut_entry& e) {
  if (seen) return "sparse map stored twice";
  if (n == 0 || n % kRegionBytes != 0) return "damaged sparse map";
  seen = true;
  e.sparse.reserve(n / kRegionBytes);
  for (size_t at = 0; at < n; at += kRegionBytes) e.sparse.push_back({load_le64(d + at), load_le64(d + at + 8)});
  return nullptr;
}

// A directory's list of names, checked as the host's would be.
const char* read_dirlist(const uint8_t* d, size_t n, dpxut_entry& e) {
  if (e.has_dirlist) return "list of names stored twice";
  const char* p = reinterpret_cast<const char*>(d);
  if (!dirlist_valid(p, n)) return "damaged list of names";
  e.dirlist.assign(p, p + n);
  e.has_dirlist = true;
  return nullptr;
}

// Walks the extension area: every entry is kept raw, the known ones read.
// An entry is 12 bytes (type, tag, length) and its data; the area ends
// where its length says. A type-3 entry reaches as far as its items.
// Returns null, or why a known entry is malformed.
const char* read_extension(const uint8_t* area, size_t length, dpxut_entry& e, RecordFacts& f, Targets& t) {
  size_t at = 0;
  bool device = false, sparse = false;
  const char* why = nullptr;
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
    } else if (type == kExtDevice) {
      why = read_device(d, n, device, e);
    } else if (type == kExtXattr) {
      why = read_xattr(d, n, e);
    } else if (type == kExtSparse) {
      why = read_sparse(d, n, sparse, e);
    } else if (type == kExtDirlist) {
      why = read_dirlist(d, n, e);
    } else if (type == kExtDirlistContent) {
      if (n != 8 || f.list_content) return "damaged list of names";
      f.list_content = true;
      f.content = load_le64(d);
    }
    if (why != nullptr) return why;
    at += 12 + reach;
  }
  return nullptr;
}

// Each attribute name once.
bool distinct_xattrs(const dpxut_entry& e) {
  HeapVector<std::string_view> names;
  names.reserve(e.xattrs.size());
  for (const auto& x : e.xattrs) names.emplace_back(e.xattr_data.data() + x.at, x.name_length);
  std::sort(names.begin(), names.end());
  return std::adjacent_find(names.begin(), names.end()) == names.end();
}

// Regions ascending, apart, within the size; their sum is the content.
bool sparse_fits(dpxut_entry& e) {
  uint64_t from = 0, sum = 0;
  for (const auto& x : e.sparse) {
    if (x.offset < from || x.offset > e.size || x.length > e.size - x.offset) return false;
    from = x.offset + x.length;
    sum += x.length;
  }
  e.sparse_data = sum;
  return true;
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
  if (const char* why = read_extension(reinterpret_cast<const uint8_t*>(b) + HVDP_DATA_SET_INFO_FIXED,
                                       fixed.extensionLength, e, facts, targets))
    return why;
  const uint32_t type = e.mode & DPXUT_IFMT;
  const bool content = type == DPXUT_IFREG && !e.has_hardlink;
  if (type != DPXUT_IFCHR && type != DPXUT_IFBLK) e.rdev = 0;  // meaningless elsewhere
  if (!distinct_xattrs(e)) return "extended attribute stored twice";
  if (!e.sparse.empty() && !content) return "sparse map on an entry without content";
  if ((e.has_dirlist || facts.list_content) && type != DPXUT_IFDIR)
    return "list of names on an entry that is no directory";
  if (e.has_dirlist && facts.list_content) return "list of names stored twice";
  if (!sparse_fits(e)) return "sparse map outside the file";
  if (!e.times_exact) {
    e.mtime = from_dos(fixed.dateTime1);
    e.atime = from_dos(fixed.dateTime2);
  }
  e.ctime = from_dos(fixed.dateTime3);
  if ((e.mode & DPXUT_IFMT) == DPXUT_IFLNK) fill_symlink(targets, same_codeset, e);

  // Parts count content bytes: a sparse file's regions one after another.
  const uint64_t stored = e.content_length();
  if (facts.part &&
      (facts.part_offset > stored || facts.part_length > stored - facts.part_offset || facts.part_length == 0)) {
    *code = DPXUT_E_PART;
    return "damaged part description";
  }
  if (facts.list_content) {
    if (facts.part) return "a list of names in parts";
  } else {
    facts.content = content ? (facts.part ? facts.part_length : stored) : 0;
  }
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
         a.symlink_utf8 == b.symlink_utf8 && a.has_hardlink == b.has_hardlink && a.hardlink == b.hardlink &&
         a.rdev == b.rdev && a.xattr_data == b.xattr_data && a.sparse_data == b.sparse_data &&
         std::equal(a.xattrs.begin(), a.xattrs.end(), b.xattrs.begin(), b.xattrs.end(),
                    [](const auto& x, const auto& y) { return x.name_length == y.name_length && x.size == y.size; }) &&
         std::equal(a.sparse.begin(), a.sparse.end(), b.sparse.begin(), b.sparse.end(),
                    [](const auto& x, const auto& y) { return x.offset == y.offset && x.length == y.length; });
}

}  // namespace dpxut::stream
