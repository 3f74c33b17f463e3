// An entry's extension area (FORMAT.md): owner, group and link target,
// exact times, size, UTF-8 target, hard link, device number, sparse map and
// extended attributes. The area's length is 16-bit: what does not fit is
// made to fit without losing data where it can (a sparse map is merged
// across its smallest holes, which are then stored as zeros) and reported
// where it cannot (extended attributes left out).
#include <sys/sysmacros.h>

#include <algorithm>
#include <cstring>
#include <numeric>

#include "common/le.h"
#include "stream/writer.h"

using namespace dpxut::stream;
using dpxut::store_le16;
using dpxut::store_le32;
using dpxut::store_le64;

namespace {

constexpr size_t kShownName = 200;  // bytes of a name quoted in a message
// The most the area holds besides the part entry each record of a split
// file adds: the description block's size is 16-bit.
constexpr size_t kAreaMost = 0xFFFF - HVDP_DATA_SET_INFO_FIXED - kExtHead - kRegionBytes;
constexpr size_t kLeastMap = kExtHead + kRegionBytes;

// Converts the locale target to UTF-8 (the library sizes first, then fills).
bool to_utf8(const char* loc, dpxut::HeapString& out) {
  size_t size = 0;
  if (DPloc2utf8(nullptr, &size, loc) != 0 || size == 0) return false;
  out.assign(size, 0);
  if (DPloc2utf8(out.data(), &size, loc) != 0) return false;
  out.resize(strnlen(out.data(), out.size()));
  return true;
}

}  // namespace

void dpxut::stream::add_ext(dpxut::HeapVector<uint8_t>& area, uint32_t type, const void* data, uint32_t length) {
  uint8_t h[kExtHead];
  store_le32(h, type);
  store_le32(h + 4, 0);
  store_le32(h + 8, length);
  area.insert(area.end(), h, h + kExtHead);
  const auto* d = static_cast<const uint8_t*>(data);
  if (length != 0) area.insert(area.end(), d, d + length);
}

// The stored map: the host's regions, merged across the smallest holes
// until at most `most` remain. Each merged hole becomes a fill of zeros
// after the host's bytes of the region before it.
void dpxut_writer::plan_sparse(const dpxut_entry& e, size_t most) {
  const auto& r = e.sparse;
  const size_t n = r.size();
  Vector<uint8_t> joined(n, 0);  // joined[i]: region i+1 continues region i
  if (n > most) {
    Vector<size_t> order(n - 1);
    std::iota(order.begin(), order.end(), size_t{0});
    const auto hole = [&](size_t i) { return r[i + 1].offset - (r[i].offset + r[i].length); };
    const auto cut = order.begin() + static_cast<std::ptrdiff_t>(n - most);
    std::nth_element(order.begin(), cut, order.end(),
                     [&](size_t a, size_t b) { return hole(a) != hole(b) ? hole(a) < hole(b) : a < b; });
    for (auto it = order.begin(); it != cut; ++it) joined[*it] = 1;
  }
  uint64_t at = 0;
  for (size_t i = 0; i < n; ++i) {
    const uint64_t start = r[i].offset;
    at += r[i].length;
    for (; i + 1 < n && joined[i]; ++i) {
      const uint64_t hole = r[i + 1].offset - (r[i].offset + r[i].length);
      if (hole != 0) fills.push_back({at, hole});
      at += r[i + 1].length;
    }
    regions.push_back({start, r[i].offset + r[i].length - start});
  }
}

uint64_t dpxut_writer::build_area(const dpxut_entry& e, uint64_t size, const char* target, bool content,
                                  size_t* dropped) {
  area.clear();
  fills.clear();
  fill_next = 0;
  regions.clear();
  *dropped = 0;
  const uint32_t type = e.mode & DPXUT_IFMT;
  Vector<uint8_t> items;
  const size_t target_length = std::strlen(target);
  for (const auto& s : {std::string_view(e.uname), std::string_view(e.gname), std::string_view(target)}) {
    const size_t n = s.size() < 0xFFFF ? s.size() : 0xFFFF;
    uint8_t len[2];
    store_le16(len, static_cast<uint16_t>(n));
    items.insert(items.end(), len, len + 2);
    items.insert(items.end(), s.begin(), s.begin() + static_cast<std::ptrdiff_t>(n));
  }
  add_ext(area, kExtStrings, items.data(), static_cast<uint32_t>(items.size()));
  uint8_t t[kTimesBytes];
  store_le64(t, static_cast<uint64_t>(e.mtime));
  store_le32(t + 8, e.mtime_nsec);
  store_le64(t + 12, static_cast<uint64_t>(e.atime));
  store_le32(t + 20, e.atime_nsec);
  add_ext(area, kExtTimes, t, kTimesBytes);
  uint8_t s8[8];
  store_le64(s8, size);
  add_ext(area, kExtSize, s8, 8);
  dpxut::HeapString target_utf8;
  if (target_length != 0 && to_utf8(target, target_utf8) && !target_utf8.empty())
    add_ext(area, kExtTargetUtf8, target_utf8.data(), static_cast<uint32_t>(target_utf8.size()));
  if (e.has_hardlink) add_ext(area, kExtHardlink, e.hardlink.data(), static_cast<uint32_t>(e.hardlink.size()));
  if ((type == DPXUT_IFCHR || type == DPXUT_IFBLK) && e.rdev != 0) {
    store_le32(s8, major(static_cast<dev_t>(e.rdev)));
    store_le32(s8 + 4, minor(static_cast<dev_t>(e.rdev)));
    add_ext(area, kExtDevice, s8, 8);
  }
  // A directory's list of names: in the area when it fits there, else as
  // the record's content, announced in the area (a reader deletes nothing
  // in a directory whose list is missing, so it is never cut).
  list_content = false;
  bool dirlist_left = false;
  if (type == DPXUT_IFDIR && e.has_dirlist) {
    if (area.size() + kExtHead + e.dirlist.size() <= kAreaMost) {
      add_ext(area, kExtDirlist, e.dirlist.data(), static_cast<uint32_t>(e.dirlist.size()));
    } else if (e.dirlist.size() <= kMaxPart) {
      store_le64(s8, e.dirlist.size());
      add_ext(area, kExtDirlistContent, s8, 8);
      list_content = true;
    } else {
      ++*dropped;
      dirlist_left = true;
      warn(DPXUT_E_SIZE, "entry '%.*s': list of names too large to store (%zu bytes); not stored", int{kShownName},
           e.name.c_str(), e.dirlist.size());
    }
  }

  // A sparse map must describe the size: ascending regions within it.
  const bool sparse = content && !e.sparse.empty();
  uint64_t data = 0;
  if (sparse) {
    uint64_t from = 0;
    for (const auto& x : e.sparse) {
      if (x.offset < from || x.offset > size || x.length > size - x.offset)
        fail(DPXUT_FAILED, HVDPUT_INVALID_PARAMETER, "entry '%.*s': sparse map does not fit its size of %llu",
             int{kShownName}, e.name.c_str(), static_cast<unsigned long long>(size));
      from = x.offset + x.length;
      data += x.length;
    }
  }
  if (area.size() + (sparse ? kLeastMap : 0) > kAreaMost)
    fail(DPXUT_FAILED, DPXUT_E_NAME, "entry '%.*s': owner, group and link texts too long to store", int{kShownName},
         e.name.c_str());

  // Extended attributes first (a map can always be merged to fit), each
  // whole or not at all, in the host's order.
  size_t room = kAreaMost - area.size() - (sparse ? kLeastMap : 0);
  Vector<uint8_t> attrs;
  const char* first_left = nullptr;
  uint64_t left_bytes = 0;
  for (const auto& x : e.xattrs) {
    const char* name = e.xattr_data.data() + x.at;
    const size_t need = kExtHead + 2 + x.name_length + x.size;
    if (need > room) {
      ++*dropped;
      left_bytes += x.name_length + x.size;
      if (first_left == nullptr) first_left = name;
      continue;
    }
    room -= need;
    const size_t at = attrs.size();
    add_ext(attrs, kExtXattr, nullptr, 0);
    store_le32(attrs.data() + at + 8, static_cast<uint32_t>(2 + x.name_length + x.size));
    uint8_t len[2];
    store_le16(len, static_cast<uint16_t>(x.name_length));
    attrs.insert(attrs.end(), len, len + 2);
    attrs.insert(attrs.end(), name, name + x.name_length);
    attrs.insert(attrs.end(), name + x.name_length + 1, name + x.name_length + 1 + x.size);  // after the terminator
  }

  uint64_t stored = sparse ? data : size;
  if (sparse) {
    plan_sparse(e, (room + kLeastMap - kExtHead) / kRegionBytes);
    const size_t at = area.size();
    add_ext(area, kExtSparse, nullptr, 0);
    store_le32(area.data() + at + 8, static_cast<uint32_t>(regions.size() * kRegionBytes));
    for (const auto& x : regions) {
      uint8_t p[kRegionBytes];
      store_le64(p, x.offset);
      store_le64(p + 8, x.length);
      area.insert(area.end(), p, p + kRegionBytes);
    }
    for (const auto& f : fills) stored += f.zeros;
  }
  area.insert(area.end(), attrs.begin(), attrs.end());
  if (first_left != nullptr)
    warn(DPXUT_E_SIZE, "entry '%.*s': extended attributes too large to store (%llu bytes); %zu of %zu not stored, "
         "the first '%.*s'%s", int{kShownName}, e.name.c_str(), static_cast<unsigned long long>(left_bytes),
         *dropped - (dirlist_left ? 1 : 0), e.xattrs.size(), int{kShownName}, first_left,
         dirlist_left ? "; its list of names neither" : "");
  host_size = content ? (sparse ? data : size) : 0;
  host_done = 0;
  return content ? stored : list_content ? e.dirlist.size() : 0;
}

// Host content, with the writer's fills of zeros where they belong.
void dpxut_writer::feed(const uint8_t* p, size_t n) {
  for (;;) {
    while (fill_next < fills.size() && fills[fill_next].at == host_done) put_zeros(fills[fill_next++].zeros);
    if (n == 0) return;
    size_t k = n;
    if (fill_next < fills.size() && fills[fill_next].at - host_done < k)
      k = static_cast<size_t>(fills[fill_next].at - host_done);
    take(p, k);
    p += k;
    n -= k;
    host_done += k;
  }
}

void dpxut_writer::put_zeros(uint64_t n) {
  static const uint8_t kZeros[4096] = {};
  while (n > 0) {
    const size_t k = n < sizeof kZeros ? static_cast<size_t>(n) : sizeof kZeros;
    take(kZeros, k);
    n -= k;
  }
}
