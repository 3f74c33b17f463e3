// What an entry holds, shared by the reader (which fills it from a record)
// and the writer (which the host fills through the setters).
#pragma once

#include <dpxut.h>

#include <cstdint>
#include <cstring>

#include "common/heap.h"

// Entries are kept in containers on the library's heap door; the exported
// functions catch std::bad_alloc and return DPXUT_FATAL.
struct dpxut_entry {
  using String = dpxut::HeapString;
  using WString = dpxut::HeapWString;

  // Names. has_* tell which forms are present; the reader fills all three
  // it can, the writer takes the locale form and derives the others.
  String name;            // locale bytes
  String name_utf8;
  WString name_wide;
  bool has_name = false, has_name_utf8 = false, has_name_wide = false;

  uint32_t mode = 0, uid = 0, gid = 0, nlink = 0;
  uint64_t size = 0;           // the whole file
  String uname, gname;
  int64_t mtime = 0, atime = 0, ctime = 0;
  uint32_t mtime_nsec = 0, atime_nsec = 0, ctime_nsec = 0;
  bool times_exact = false;

  String symlink;         // locale bytes
  String symlink_utf8;
  bool has_symlink = false, has_symlink_utf8 = false;
  String hardlink;        // locale bytes of the earlier name
  bool has_hardlink = false;
  uint64_t rdev = 0;      // devices only

  // Extended attributes in stored order: the name (with its terminator) at
  // `at` in xattr_data, the value right after it.
  struct Xattr {
    size_t at;
    size_t name_length;  // without the terminator
    size_t size;         // of the value
  };
  dpxut::HeapVector<Xattr> xattrs;
  dpxut::HeapVector<char> xattr_data;

  // Data regions of a sparse file, ascending; none for a dense file.
  // sparse_data is the sum of their lengths: the content's length.
  struct Region {
    uint64_t offset, length;
  };
  dpxut::HeapVector<Region> sparse;
  uint64_t sparse_data = 0;

  // A directory's names, each with its terminator, ascending (see
  // dirlist_valid); has_dirlist tells an empty list from none.
  dpxut::HeapVector<char> dirlist;
  bool has_dirlist = false;

  // Bytes of content a regular file's records hold.
  uint64_t content_length() const { return sparse.empty() ? size : sparse_data; }

  // The content changed while the writer's host read it.
  bool changed = false;

  // Where the reader found it.
  uint64_t record = 0;
  uint64_t offset = 0;

  // Raw extension entries of the first record: type, offset into ext_data,
  // length.
  struct Extension {
    uint32_t type;
    size_t at;
    uint32_t length;
  };
  dpxut::HeapVector<Extension> extensions;
  dpxut::HeapVector<uint8_t> ext_data;

  void clear() {
    name.clear();
    name_utf8.clear();
    name_wide.clear();
    has_name = has_name_utf8 = has_name_wide = false;
    mode = uid = gid = nlink = 0;
    size = 0;
    uname.clear();
    gname.clear();
    mtime = atime = ctime = 0;
    mtime_nsec = atime_nsec = ctime_nsec = 0;
    times_exact = false;
    symlink.clear();
    symlink_utf8.clear();
    has_symlink = has_symlink_utf8 = false;
    hardlink.clear();
    has_hardlink = false;
    rdev = 0;
    xattrs.clear();
    xattr_data.clear();
    sparse.clear();
    sparse_data = 0;
    dirlist.clear();
    has_dirlist = false;
    changed = false;
    record = offset = 0;
    extensions.clear();
    ext_data.clear();
  }
};

// A list of names: each not empty, not "." or "..", without '/', ended by
// a NUL within the list, each after the one before in byte order.
inline bool dirlist_valid(const char* p, size_t n) noexcept {
  const char* prev = nullptr;
  size_t prev_length = 0;
  for (size_t at = 0; at < n;) {
    const char* name = p + at;
    const void* end = std::memchr(name, 0, n - at);
    if (end == nullptr) return false;
    const size_t length = static_cast<size_t>(static_cast<const char*>(end) - name);
    if (length == 0 || std::memchr(name, '/', length) != nullptr || (length == 1 && name[0] == '.') ||
        (length == 2 && name[0] == '.' && name[1] == '.'))
      return false;
    if (prev != nullptr) {
      const int c = std::memcmp(prev, name, prev_length < length ? prev_length : length);
      if (c > 0 || (c == 0 && prev_length >= length)) return false;
    }
    prev = name;
    prev_length = length;
    at += length + 1;
  }
  return true;
}
