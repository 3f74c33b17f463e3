// Entries of the streaming API: creation, the accessors the reader's hosts
// use and the setters the writer's hosts use. The fields are those of
// stream/entry.h; every function checks for a null entry.
#include "stream/entry.h"

#include <cstring>
#include <new>

#include "common/export.h"

namespace {

// Copies text into s; false on allocation failure.
bool assign(dpxut_entry::String& s, const char* text) noexcept {
  try {
    s.assign(text);
    return true;
  } catch (...) {
    return false;
  }
}

int set_text(dpxut_entry* e, const char* text, dpxut_entry::String dpxut_entry::*field, bool dpxut_entry::*has) {
  if (e == nullptr || text == nullptr || !assign(e->*field, text)) return DPXUT_FATAL;
  if (has != nullptr) e->*has = true;
  return DPXUT_OK;
}

template <typename T>
int set_value(dpxut_entry* e, T dpxut_entry::*field, T value) noexcept {
  if (e == nullptr) return DPXUT_FATAL;
  e->*field = value;
  return DPXUT_OK;
}

int set_time(dpxut_entry* e, int64_t dpxut_entry::*sec, uint32_t dpxut_entry::*nsec, int64_t s, uint32_t ns) {
  if (e == nullptr) return DPXUT_FATAL;
  e->*sec = s;
  e->*nsec = ns;
  return DPXUT_OK;
}

}  // namespace

DPXUT_EXPORT dpxut_entry* dpxut_entry_new(void) {
  void* p = dpxut::heap_malloc(sizeof(dpxut_entry));
  if (p == nullptr) return nullptr;
  return new (p) dpxut_entry();
}

DPXUT_EXPORT void dpxut_entry_clear(dpxut_entry* e) {
  if (e != nullptr) e->clear();
}

DPXUT_EXPORT void dpxut_entry_free(dpxut_entry* e) {
  if (e == nullptr) return;
  e->~dpxut_entry();
  std::free(e);
}

DPXUT_EXPORT const char* dpxut_entry_name(const dpxut_entry* e) {
  return e != nullptr && e->has_name ? e->name.c_str() : nullptr;
}
DPXUT_EXPORT const char* dpxut_entry_name_utf8(const dpxut_entry* e) {
  return e != nullptr && e->has_name_utf8 ? e->name_utf8.c_str() : nullptr;
}
DPXUT_EXPORT const wchar_t* dpxut_entry_name_wide(const dpxut_entry* e) {
  return e != nullptr && e->has_name_wide ? e->name_wide.c_str() : nullptr;
}

DPXUT_EXPORT uint32_t dpxut_entry_mode(const dpxut_entry* e) { return e != nullptr ? e->mode : 0; }
DPXUT_EXPORT uint32_t dpxut_entry_filetype(const dpxut_entry* e) { return e != nullptr ? e->mode & DPXUT_IFMT : 0; }
DPXUT_EXPORT uint32_t dpxut_entry_uid(const dpxut_entry* e) { return e != nullptr ? e->uid : 0; }
DPXUT_EXPORT uint32_t dpxut_entry_gid(const dpxut_entry* e) { return e != nullptr ? e->gid : 0; }
DPXUT_EXPORT const char* dpxut_entry_uname(const dpxut_entry* e) { return e != nullptr ? e->uname.c_str() : ""; }
DPXUT_EXPORT const char* dpxut_entry_gname(const dpxut_entry* e) { return e != nullptr ? e->gname.c_str() : ""; }
DPXUT_EXPORT uint32_t dpxut_entry_nlink(const dpxut_entry* e) { return e != nullptr ? e->nlink : 0; }
DPXUT_EXPORT uint64_t dpxut_entry_size(const dpxut_entry* e) { return e != nullptr ? e->size : 0; }

DPXUT_EXPORT int64_t dpxut_entry_mtime(const dpxut_entry* e) { return e != nullptr ? e->mtime : 0; }
DPXUT_EXPORT uint32_t dpxut_entry_mtime_nsec(const dpxut_entry* e) { return e != nullptr ? e->mtime_nsec : 0; }
DPXUT_EXPORT int64_t dpxut_entry_atime(const dpxut_entry* e) { return e != nullptr ? e->atime : 0; }
DPXUT_EXPORT uint32_t dpxut_entry_atime_nsec(const dpxut_entry* e) { return e != nullptr ? e->atime_nsec : 0; }
DPXUT_EXPORT int64_t dpxut_entry_ctime(const dpxut_entry* e) { return e != nullptr ? e->ctime : 0; }
DPXUT_EXPORT uint32_t dpxut_entry_ctime_nsec(const dpxut_entry* e) { return e != nullptr ? e->ctime_nsec : 0; }
DPXUT_EXPORT int dpxut_entry_times_exact(const dpxut_entry* e) { return e != nullptr && e->times_exact ? 1 : 0; }

DPXUT_EXPORT const char* dpxut_entry_symlink(const dpxut_entry* e) {
  return e != nullptr && e->has_symlink ? e->symlink.c_str() : nullptr;
}
DPXUT_EXPORT const char* dpxut_entry_symlink_utf8(const dpxut_entry* e) {
  return e != nullptr && e->has_symlink_utf8 ? e->symlink_utf8.c_str() : nullptr;
}
DPXUT_EXPORT const char* dpxut_entry_hardlink(const dpxut_entry* e) {
  return e != nullptr && e->has_hardlink ? e->hardlink.c_str() : nullptr;
}

DPXUT_EXPORT uint64_t dpxut_entry_record(const dpxut_entry* e) { return e != nullptr ? e->record : 0; }
DPXUT_EXPORT uint64_t dpxut_entry_offset(const dpxut_entry* e) { return e != nullptr ? e->offset : 0; }

DPXUT_EXPORT int dpxut_entry_extension(const dpxut_entry* e, size_t index, uint32_t* type, const void** data,
                                       uint32_t* length) {
  if (e == nullptr || type == nullptr || data == nullptr || length == nullptr) return DPXUT_FATAL;
  if (index >= e->extensions.size()) return DPXUT_EOF;
  const dpxut_entry::Extension& x = e->extensions[index];
  if (x.at > e->ext_data.size() || x.length > e->ext_data.size() - x.at) return DPXUT_EOF;  // never outside
  *type = x.type;
  *data = e->ext_data.data() + x.at;
  *length = x.length;
  return DPXUT_OK;
}

// A new locale name drops the forms derived from the old one.
DPXUT_EXPORT int dpxut_entry_set_name(dpxut_entry* e, const char* name) {
  const int rc = set_text(e, name, &dpxut_entry::name, &dpxut_entry::has_name);
  if (rc == DPXUT_OK) e->has_name_utf8 = e->has_name_wide = false;
  return rc;
}
DPXUT_EXPORT int dpxut_entry_set_mode(dpxut_entry* e, uint32_t mode) { return set_value(e, &dpxut_entry::mode, mode); }
DPXUT_EXPORT int dpxut_entry_set_uid(dpxut_entry* e, uint32_t uid) { return set_value(e, &dpxut_entry::uid, uid); }
DPXUT_EXPORT int dpxut_entry_set_gid(dpxut_entry* e, uint32_t gid) { return set_value(e, &dpxut_entry::gid, gid); }
DPXUT_EXPORT int dpxut_entry_set_uname(dpxut_entry* e, const char* uname) {
  return set_text(e, uname, &dpxut_entry::uname, nullptr);
}
DPXUT_EXPORT int dpxut_entry_set_gname(dpxut_entry* e, const char* gname) {
  return set_text(e, gname, &dpxut_entry::gname, nullptr);
}
DPXUT_EXPORT int dpxut_entry_set_nlink(dpxut_entry* e, uint32_t nlink) {
  return set_value(e, &dpxut_entry::nlink, nlink);
}
DPXUT_EXPORT int dpxut_entry_set_size(dpxut_entry* e, uint64_t size) { return set_value(e, &dpxut_entry::size, size); }
// Times set by the host are exact: the writer stores them in full.
DPXUT_EXPORT int dpxut_entry_set_mtime(dpxut_entry* e, int64_t sec, uint32_t nsec) {
  return set_time(e, &dpxut_entry::mtime, &dpxut_entry::mtime_nsec, sec, nsec);
}
DPXUT_EXPORT int dpxut_entry_set_atime(dpxut_entry* e, int64_t sec, uint32_t nsec) {
  return set_time(e, &dpxut_entry::atime, &dpxut_entry::atime_nsec, sec, nsec);
}
DPXUT_EXPORT int dpxut_entry_set_ctime(dpxut_entry* e, int64_t sec, uint32_t nsec) {
  return set_time(e, &dpxut_entry::ctime, &dpxut_entry::ctime_nsec, sec, nsec);
}
DPXUT_EXPORT int dpxut_entry_set_symlink(dpxut_entry* e, const char* target) {
  const int rc = set_text(e, target, &dpxut_entry::symlink, &dpxut_entry::has_symlink);
  if (rc == DPXUT_OK) e->has_symlink_utf8 = false;
  return rc;
}
DPXUT_EXPORT int dpxut_entry_set_hardlink(dpxut_entry* e, const char* target) {
  return set_text(e, target, &dpxut_entry::hardlink, &dpxut_entry::has_hardlink);
}

DPXUT_EXPORT uint64_t dpxut_entry_rdev(const dpxut_entry* e) { return e != nullptr ? e->rdev : 0; }

DPXUT_EXPORT size_t dpxut_entry_xattr_count(const dpxut_entry* e) { return e != nullptr ? e->xattrs.size() : 0; }

DPXUT_EXPORT int dpxut_entry_xattr(const dpxut_entry* e, size_t index, const char** name, const void** value,
                                   size_t* size) {
  if (e == nullptr || name == nullptr || value == nullptr || size == nullptr) return DPXUT_FATAL;
  if (index >= e->xattrs.size()) return DPXUT_EOF;
  const dpxut_entry::Xattr& x = e->xattrs[index];
  const size_t held = e->xattr_data.size();
  if (x.at > held || x.name_length >= held - x.at || x.size > held - x.at - x.name_length - 1) return DPXUT_EOF;
  *name = e->xattr_data.data() + x.at;
  *value = e->xattr_data.data() + x.at + x.name_length + 1;
  *size = x.size;
  return DPXUT_OK;
}

DPXUT_EXPORT size_t dpxut_entry_sparse_count(const dpxut_entry* e) { return e != nullptr ? e->sparse.size() : 0; }

DPXUT_EXPORT int dpxut_entry_sparse(const dpxut_entry* e, size_t index, uint64_t* offset, uint64_t* length) {
  if (e == nullptr || offset == nullptr || length == nullptr) return DPXUT_FATAL;
  if (index >= e->sparse.size()) return DPXUT_EOF;
  *offset = e->sparse[index].offset;
  *length = e->sparse[index].length;
  return DPXUT_OK;
}

DPXUT_EXPORT uint64_t dpxut_entry_sparse_data(const dpxut_entry* e) { return e != nullptr ? e->sparse_data : 0; }

DPXUT_EXPORT int dpxut_entry_changed(const dpxut_entry* e) { return e != nullptr && e->changed ? 1 : 0; }

DPXUT_EXPORT int dpxut_entry_set_rdev(dpxut_entry* e, uint64_t rdev) { return set_value(e, &dpxut_entry::rdev, rdev); }

// A name is stored once per entry (a second value for it is refused), with
// its terminator, the value right after it.
DPXUT_EXPORT int dpxut_entry_add_xattr(dpxut_entry* e, const char* name, const void* value, size_t size) {
  if (e == nullptr || name == nullptr || (value == nullptr && size != 0)) return DPXUT_FATAL;
  const size_t n = std::strlen(name);
  if (n == 0 || n > 0xFFFF || size > UINT32_MAX) return DPXUT_FAILED;
  for (const dpxut_entry::Xattr& x : e->xattrs)
    if (x.name_length == n && std::memcmp(e->xattr_data.data() + x.at, name, n) == 0) return DPXUT_FAILED;
  const size_t at = e->xattr_data.size();
  try {
    e->xattrs.reserve(e->xattrs.size() + 1);
    e->xattr_data.insert(e->xattr_data.end(), name, name + n + 1);
    const auto* v = static_cast<const char*>(value);
    if (size != 0) e->xattr_data.insert(e->xattr_data.end(), v, v + size);
  } catch (...) {
    e->xattr_data.resize(at);
    return DPXUT_FATAL;
  }
  e->xattrs.push_back({at, n, size});  // room reserved: does not throw
  return DPXUT_OK;
}

// Regions come in ascending order, may be empty (a file all hole carries
// one of length 0 at its end) and end within the size set before them.
DPXUT_EXPORT int dpxut_entry_add_sparse(dpxut_entry* e, uint64_t offset, uint64_t length) {
  if (e == nullptr) return DPXUT_FATAL;
  const uint64_t from = e->sparse.empty() ? 0 : e->sparse.back().offset + e->sparse.back().length;
  if (offset < from || offset > e->size || length > e->size - offset) return DPXUT_FAILED;
  try {
    e->sparse.push_back({offset, length});
  } catch (...) {
    return DPXUT_FATAL;
  }
  e->sparse_data += length;
  return DPXUT_OK;
}

DPXUT_EXPORT int dpxut_entry_clear_sparse(dpxut_entry* e) {
  if (e == nullptr) return DPXUT_FATAL;
  e->sparse.clear();
  e->sparse_data = 0;
  return DPXUT_OK;
}

DPXUT_EXPORT const char* dpxut_entry_dirlist(const dpxut_entry* e, size_t* size) {
  if (size != nullptr) *size = 0;
  if (e == nullptr || !e->has_dirlist) return nullptr;
  if (size != nullptr) *size = e->dirlist.size();
  return e->dirlist.empty() ? "" : e->dirlist.data();
}

DPXUT_EXPORT int dpxut_entry_set_dirlist(dpxut_entry* e, const char* names, size_t size) {
  if (e == nullptr || (names == nullptr && size != 0)) return DPXUT_FATAL;
  if (!dirlist_valid(names, size)) return DPXUT_FAILED;
  try {
    e->dirlist.assign(names, names + size);
  } catch (...) {
    e->dirlist.clear();
    e->has_dirlist = false;
    return DPXUT_FATAL;
  }
  e->has_dirlist = true;
  return DPXUT_OK;
}
