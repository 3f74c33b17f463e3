// Rewriting paths in place into the canonical form VOL:dir/sub: forward
// slashes, no slash after the volume's colon, single separators where the
// fixer collapses them, and, on request, a trailing separator in a caller's
// array or a string record. The directory fixers also reject paths that a
// name space cannot use and wildcards outside the last component. All work
// is done through the name-space string layer, by whole characters of the
// name space; wide text may sit at any address.
#include <cstring>
#include <initializer_list>

#include "common/export.h"
#include "dpxut.h"
#include "paths/match_support.h"
#include "paths/path.h"

namespace dpxut::paths {
namespace {

unsigned char* bytes(void* p) noexcept { return static_cast<unsigned char*>(p); }

// Every character the fixers look for, remove or write is a single unit of
// its name space's encoding. The UTF-8 and wide forms come from tables that
// are converted once; an entry whose conversion failed is empty, and a
// search for an empty character or string would find the terminator and
// walk past it. Fixers refuse to run on such a name space.
bool one_unit(uint32_t ns, const void* c) noexcept {
  return c != nullptr && DPstrlen(ns, c) == DPsizeOfChar(ns);
}

bool glyphs_ready(uint32_t ns) noexcept {
  for (int code : {'/', '\\', ':'})
    if (!one_unit(ns, GenericChar(ns, code))) return false;
  for (const char* key : {"//", ":/", ":/\\", "/", ":"}) {
    const void* s = GenericString(ns, key);
    if (s == nullptr || DPstrlen(ns, s) != std::strlen(key) * DPsizeOfChar(ns)) return false;
  }
  return true;
}

bool has_colon(uint32_t ns, const void* path) noexcept {
  return DPstrchr(ns, path, GenericChar(ns, ':')) != nullptr;
}

// True when the path ends with one of the characters of the generic string
// `key`. An empty path counts as ending with one in the locale and wide
// name spaces and not in the UTF-8 ones, as DPendChar has it.
bool ends_with(uint32_t ns, const void* path, const char* key) noexcept {
  return DPendChar(ns, path, GenericString(ns, key)) != nullptr;
}

// Shifts the rest of the string, terminator included, left over the one
// unit at q.
void remove_unit(uint32_t ns, void* q) noexcept {
  const size_t unit = DPsizeOfChar(ns);
  unsigned char* p = bytes(q);
  std::memmove(p, p + unit, DPstrlen(ns, p + unit) + unit);
}

void replace_backslashes(uint32_t ns, void* path) noexcept {
  const void* backslash = GenericChar(ns, '\\');
  const void* slash = GenericChar(ns, '/');
  const size_t unit = DPsizeOfChar(ns);
  for (void* q = DPstrchr(ns, path, backslash); q != nullptr; q = DPstrchr(ns, bytes(q) + unit, backslash))
    DPsetChar(ns, q, slash);
}

// Every run of slashes becomes one slash. The result is that of removing
// the second slash of the first "//" and searching again from the same
// place until none is left, done in one pass from the first "//" on.
void collapse_slashes(uint32_t ns, void* path) noexcept {
  auto* first = static_cast<unsigned char*>(DPstrstr(ns, path, GenericString(ns, "//")));
  if (first == nullptr) return;
  const void* slash = GenericChar(ns, '/');
  const size_t unit = DPsizeOfChar(ns);
  unsigned char* out = first + unit;  // the run's first slash stays
  bool after_slash = true;
  for (unsigned char* in = out; !at_end(ns, in); in += unit) {
    const bool is_slash = DPcheckChar(ns, in, slash) != 0;
    if (!(is_slash && after_slash)) {
      if (out != in) std::memmove(out, in, unit);
      out += unit;
    }
    after_slash = is_slash;
  }
  DPsetChar(ns, out, GenericChar(ns, 0));
}

// VOL:/dir becomes VOL:dir (the first ":/" only).
void remove_slash_after_colon(uint32_t ns, void* path) noexcept {
  auto* q = static_cast<unsigned char*>(DPstrstr(ns, path, GenericString(ns, ":/")));
  if (q != nullptr) remove_unit(ns, q + DPsizeOfChar(ns));
}

// Upper-cases the volume, the text before the first ':' (there is one).
// Upper-casing UTF-8 text may shorten it (a two-byte letter whose capital
// is ASCII); the rest of the path then moves up behind the new volume
// instead of being cut off.
void upper_volume(uint32_t ns, void* path) noexcept {
  auto* colon = static_cast<unsigned char*>(DPstrchr(ns, path, GenericChar(ns, ':')));
  const size_t before = static_cast<size_t>(colon - bytes(path));
  DPsetChar(ns, colon, GenericChar(ns, 0));
  DPstrupr(ns, path);
  const size_t after = DPstrlen(ns, path);
  DPsetChar(ns, colon, GenericChar(ns, ':'));
  if (after < before) std::memmove(bytes(path) + after, colon, DPstrlen(ns, colon) + DPsizeOfChar(ns));
}

// The wildcard rule of the directory fixers on a result R: without
// wildLastComponent no '*' or '?' anywhere; with it, none before the last
// separator (a trailing separator does not count). A path without a
// separator passes unchecked. Only R's characters before its last component
// are looked at; R is not written, so a path that needs no rewriting is left
// untouched.
bool passes_wildcards(uint32_t ns, void* result, uint16_t wildLastComponent) noexcept {
  if (wildLastComponent == 0) return HVDPGenericIsWild(ns, result) == 0;
  void* child = HVDPGetPathChild(ns, result, nullptr);
  if (child == nullptr) return true;
  return !generic_is_wild_before(ns, result, static_cast<size_t>(bytes(child) - bytes(result)));
}

// The three DOS-path fixers: optional upper-casing, backslashes to
// slashes, optional collapsing of "//", no slash after the first colon,
// then a trailing slash in dest unless the path already ends with ':',
// '/' or '\'. dest needs room for the path, one separator and the
// terminator; it is written only when the separator is appended.
enum class Join { plain, generic };

void* fix_dos_path(uint32_t ns, void* path, void* dest, bool upper, bool collapse, Join join) noexcept {
  if (path == nullptr) return nullptr;
  if (!glyphs_ready(ns)) return path;
  if (upper) DPstrupr(ns, path);
  replace_backslashes(ns, path);
  if (collapse) collapse_slashes(ns, path);
  remove_slash_after_colon(ns, path);
  if (dest == nullptr || ends_with(ns, path, ":/\\")) return path;
  if (join == Join::plain) return HVDPStr(2, static_cast<char*>(dest), static_cast<const char*>(path), "/");
  return HVDPGenericStr(ns, 2, dest, path, GenericChar(ns, '/'));
}

}  // namespace
}  // namespace dpxut::paths

using namespace dpxut::paths;

DPXUT_EXPORT int32_t IsLinuxNameSpace(uint32_t nameSpace, const void* path) {
  if (path == nullptr) return 0;
  const void* slash = GenericChar(nameSpace, '/');
  return one_unit(nameSpace, slash) && DPcheckChar(nameSpace, path, slash) ? 1 : 0;
}

// Byte strings: the empty path is taken to end with a separator, as in the
// locale name spaces, so it comes back as it is and dest stays untouched.
DPXUT_EXPORT char* HVDPFixDOSPath(char* path, char* dest) {
  return static_cast<char*>(fix_dos_path(0, path, dest, false, false, Join::plain));
}

DPXUT_EXPORT void* HVDPGenericFixDOSPath(uint32_t nameSpace, void* path, void* dest) {
  return fix_dos_path(nameSpace, path, dest, false, true, Join::generic);
}

DPXUT_EXPORT void* HVDPFixGenericDOSPath(uint32_t nameSpace, void* path, void* dest) {
  return fix_dos_path(nameSpace, path, dest, true, false, Join::generic);
}

// Locale and UTF-8 name spaces; every other one gets its path back as it
// is. The trailing separator is appended in a plain string record.
DPXUT_EXPORT void* HVDPFixDirectoryPath(void* path, uint32_t nameSpace, HVDPStringBuffer** buffer,
                                        uint16_t wildLastComponent) {
  if (path == nullptr) return nullptr;
  bool backslashes = true;
  switch (nameSpace) {
    case 0:
      break;
    case 3: case 4: case 0x100: case 0x104:
      break;
    case 2: case 0x102:
      backslashes = false;
      break;
    case 1: case 0x101:
      break;
    default:
      return path;
  }
  if (!glyphs_ready(nameSpace)) return nullptr;
  const bool colon = has_colon(nameSpace, path);
  const auto* text = static_cast<const char*>(path);

  if (nameSpace == 1 || nameSpace == 0x101) {
    // Colon form: the path names a volume; with a record it is written
    // with a closing colon, also when it has none yet.
    if (buffer != nullptr && !ends_with(nameSpace, path, ":")) return HVDPCatStrings(2, buffer, text, ":");
    return colon ? path : nullptr;
  }
  if (nameSpace != 0 && !colon) return nullptr;

  if (backslashes) replace_backslashes(nameSpace, path);
  collapse_slashes(nameSpace, path);
  remove_slash_after_colon(nameSpace, path);
  void* result = path;
  if (buffer != nullptr && !ends_with(nameSpace, path, ":/\\")) {
    result = HVDPCatStrings(2, buffer, text, "/");
    if (result == nullptr) return nullptr;
  }
  return passes_wildcards(nameSpace, result, wildLastComponent) ? result : nullptr;
}

// Every name space; the trailing separator is appended in a generic string
// record. A path whose directories hold wildcards under wildLastComponent
// comes back emptied rather than null.
DPXUT_EXPORT void* HVDPFixGenericDirectoryPath(void* path, uint32_t nameSpace, HVDPStringBuffer** buffer,
                                               uint16_t wildLastComponent) {
  if (path == nullptr) return nullptr;
  bool backslashes = true;
  bool volume_only = false;
  switch (nameSpace) {
    case 0: case 0x100: case 0x200:
      break;
    case 2: case 0x102: case 0x202:
      backslashes = false;
      volume_only = true;
      break;
    case 4: case 0x104: case 0x204:
      volume_only = true;
      break;
    case 1: case 0x101: case 0x201:
      break;
    default:
      return path;
  }
  if (!glyphs_ready(nameSpace)) return nullptr;
  const bool linux_form = IsLinuxNameSpace(nameSpace, path) != 0;
  const void* nul = GenericChar(nameSpace, 0);

  if (nameSpace == 1 || nameSpace == 0x101 || nameSpace == 0x201) {
    // Colon form: the volume upper-cased, or no path at all; with a record
    // it is written with a closing colon.
    if (has_colon(nameSpace, path))
      upper_volume(nameSpace, path);
    else
      DPsetChar(nameSpace, path, nul);
    if (buffer == nullptr || ends_with(nameSpace, path, ":")) return path;
    return HVDPCatGenericStrings(nameSpace, 2, buffer, path, GenericString(nameSpace, ":"));
  }
  if (!volume_only) {
    DPstrupr(nameSpace, path);
  } else if (!linux_form) {
    if (!has_colon(nameSpace, path)) return nullptr;
    upper_volume(nameSpace, path);
  }

  // Collapsing comes first: a "//" that the backslashes form stays.
  collapse_slashes(nameSpace, path);
  if (backslashes) replace_backslashes(nameSpace, path);
  if (!linux_form) remove_slash_after_colon(nameSpace, path);
  void* result = path;
  if (buffer != nullptr && !ends_with(nameSpace, path, ":/\\")) {
    result = HVDPCatGenericStrings(nameSpace, 2, buffer, path, GenericString(nameSpace, "/"));
    if (result == nullptr) return nullptr;
  }
  if (passes_wildcards(nameSpace, result, wildLastComponent)) return result;
  if (wildLastComponent == 0) return nullptr;
  DPsetChar(nameSpace, result, nul);
  return result;
}
