// Entries of the streaming API: creation, the accessors the reader's hosts
// use and the setters the writer's hosts use. The fields are those of
// stream/entry.h; every function checks for a null entry.
#include "stream/entry.h"

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
