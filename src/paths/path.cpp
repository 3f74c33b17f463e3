// Taking paths apart: the trailing separator, the last separator and the last
// component, the volume prefix, whether a path is absolute, and the DOS 8.3
// test. Every function works on the caller's NUL-terminated string in the
// encoding of its name space, through the name-space string layer only. The
// inspecting functions look at a bounded part of the string (its start and
// an end position) and never write to it, so a path may sit in read-only
// memory or be shared between threads; only the strip functions write.
#include <algorithm>
#include <cstring>

#include "common/export.h"
#include "dpxut.h"
#include "paths/path.h"

namespace dpxut::paths {
namespace {

// Which characters separate components, by name space number:
//   0, 0x100, 0x200                          '\' or '/'
//   1, 0x101, 0x201                          ':'
//   2, 3, 4, 0x102, 0x104, 0x202, 0x204      '/'
//   anything else                            none
enum class Rule { none, slash_or_backslash, colon, slash };

constexpr Rule rule_of(uint32_t ns) noexcept {
  switch (ns) {
    case 0: case 0x100: case 0x200:
      return Rule::slash_or_backslash;
    case 1: case 0x101: case 0x201:
      return Rule::colon;
    case 2: case 3: case 4: case 0x102: case 0x104: case 0x202: case 0x204:
      return Rule::slash;
    default:
      return Rule::none;
  }
}

// The name spaces whose volumes end in a doubled colon (VOL::dir).
constexpr bool doubles_volume_colon(uint32_t ns) noexcept { return rule_of(ns) == Rule::colon; }

unsigned char* bytes(void* p) noexcept { return static_cast<unsigned char*>(p); }

bool is_char(uint32_t ns, const void* p, int code) noexcept {
  const void* c = GenericChar(ns, code);
  return c != nullptr && DPcheckChar(ns, p, c) != 0;
}

// The separator a path ends with under the rule of ns (by its whole number).
struct Trailing {
  void* at = nullptr;  // the last character
  int code = 0;        // generic code of the separator there, 0 if none
  bool lone = false;   // the path has at most one character: nothing is removed
};

Trailing trailing_separator(uint32_t ns, void* path) noexcept {
  Trailing t;
  t.at = DPlastChar(ns, path);
  if (t.at == path || t.at == nullptr) {
    t.lone = true;
    return t;
  }
  switch (rule_of(ns)) {
    case Rule::slash_or_backslash:
      if (is_char(ns, t.at, '\\')) t.code = '\\';
      else if (is_char(ns, t.at, '/')) t.code = '/';
      break;
    case Rule::colon: {
      // A doubled colon ends a volume (VOL::) and stays.
      const auto* before = static_cast<const unsigned char*>(DPprevChar(ns, t.at));
      bool doubled = before >= bytes(path) && is_char(ns, before, ':');
      if (is_char(ns, t.at, ':') && !doubled) t.code = ':';
      break;
    }
    case Rule::slash:
      if (is_char(ns, t.at, '/')) t.code = '/';
      break;
    case Rule::none:
      break;
  }
  return t;
}

// Where the part of path that counts for its components ends: at a trailing
// separator (which does not count), else null for the terminator.
const void* components_end(uint32_t ns, void* path) noexcept {
  const Trailing t = trailing_separator(ns, path);
  return t.code != 0 ? t.at : nullptr;
}

// The last ch in path before `end` (null: anywhere). A bounded search goes
// forward from one occurrence to the next, so that nothing is cut.
void* last_char_before(uint32_t ns, const void* path, const void* end, const void* ch) noexcept {
  if (end == nullptr) return DPstrrchr(ns, path, ch);
  const size_t unit = DPsizeOfChar(ns);
  void* last = nullptr;
  for (void* q = DPstrchr(ns, path, ch); q != nullptr && q < end; q = DPstrchr(ns, bytes(q) + unit, ch)) last = q;
  return last;
}

// Finds the last separator of path before `end` (null: the terminator) under
// the rule that the low 16 bits of ns select. False when they select none;
// *last is null when there is none.
bool find_last_separator(uint32_t ns, const void* path, const void* end, void** last) noexcept {
  *last = nullptr;
  Rule rule = rule_of(ns & 0xFFFF);
  if (rule == Rule::none) return false;
  if (path == nullptr) return true;
  switch (rule) {
    case Rule::slash_or_backslash: {
      auto* a = static_cast<unsigned char*>(last_char_before(ns, path, end, GenericChar(ns, '\\')));
      auto* b = static_cast<unsigned char*>(last_char_before(ns, path, end, GenericChar(ns, '/')));
      *last = (a == nullptr || (b != nullptr && b > a)) ? b : a;
      break;
    }
    case Rule::colon:
      *last = last_char_before(ns, path, end, GenericChar(ns, ':'));
      break;
    case Rule::slash:
      *last = last_char_before(ns, path, end, GenericChar(ns, '/'));
      break;
    case Rule::none:
      break;
  }
  return true;
}

// Copies the `length` bytes of the component at `component` (or nothing,
// when null) into the caller's `child` of `size` bytes. The copy counts whole
// character units of the name space, fills the rest with terminators like
// strncpy, and keeps the last unit of `child` for a terminator, which is
// always written: a 301-byte array holds 300 locale bytes or 74 wide
// characters, never more, and always ends in a terminator.
void copy_child(uint32_t ns, void* child, uint32_t size, const void* component, size_t length) noexcept {
  const size_t unit = DPsizeOfChar(ns);
  const size_t units = size / unit;
  if (units == 0) return;  // no room even for the terminator
  if (component != nullptr) {
    const size_t copied = std::min(length / unit, units - 1) * unit;
    std::memcpy(child, component, copied);
    std::memset(bytes(child) + copied, 0, (units - 1) * unit - copied);
  }
  DPsetChar(ns, bytes(child) + (component != nullptr ? (units - 1) * unit : 0), GenericChar(ns, 0));
}

}  // namespace
}  // namespace dpxut::paths

using namespace dpxut::paths;

// A lone character ("/") or an empty path is never stripped and clears
// *where; a path that ends in no separator leaves *where as it was.
DPXUT_EXPORT const void* HVDPGenericStripEndSeparator(uint32_t nameSpace, void* path, void** where) {
  if (path == nullptr) return nullptr;
  Trailing t = trailing_separator(nameSpace, path);
  if (t.lone) {
    if (where != nullptr) *where = nullptr;
    return nullptr;
  }
  if (t.code == 0) return nullptr;
  DPsetChar(nameSpace, t.at, GenericChar(nameSpace, 0));
  if (where != nullptr) *where = t.at;
  return GenericChar(nameSpace, t.code);
}

DPXUT_EXPORT uint32_t HVDPStripEndSeparator(uint32_t nameSpace, void* path, void** where) {
  const auto* separator = static_cast<const unsigned char*>(HVDPGenericStripEndSeparator(nameSpace, path, where));
  return separator != nullptr ? separator[0] : 0;
}

// The volume is never filled in; a name space outside the separator rules
// clears the caller's path pointer and leaves *volume alone.
DPXUT_EXPORT void GetVolumeAndLastSeparator(uint32_t nameSpace, void** path, void** volume, void** lastSeparator) {
  if (lastSeparator != nullptr) *lastSeparator = nullptr;
  if (path == nullptr) return;
  void* last = nullptr;
  if (!find_last_separator(nameSpace, *path, nullptr, &last)) {
    *path = nullptr;
    return;
  }
  if (volume != nullptr) *volume = nullptr;
  if (lastSeparator != nullptr) *lastSeparator = last;
}

// Absolute means: a name space with separators and a path that begins with
// '/'. A volume does not make a path absolute (VOL:dir is not). A trailing
// separator never stands first (a lone "/" keeps it), so it does not count.
DPXUT_EXPORT int32_t HVDPPathIsNotFullyQualified(uint32_t nameSpace, void* path) {
  if (path == nullptr) return 1;
  return (rule_of(nameSpace & 0xFFFF) != Rule::none && is_char(nameSpace, path, '/')) ? 0 : 1;
}

// The last component keeps a trailing separator: /usr/lib/ gives lib/.
DPXUT_EXPORT void* HVDPGetPathChild(uint32_t nameSpace, void* path, void** child) {
  void* result = nullptr;
  if (path != nullptr) {
    void* last = nullptr;
    if (find_last_separator(nameSpace, path, components_end(nameSpace, path), &last) && last != nullptr)
      result = bytes(last) + DPsizeOfChar(nameSpace);
  }
  if (child != nullptr) *child = result;
  return result;
}

// Cuts the path right after its last separator (a trailing separator does
// not count) and hands back the new end. When the component after that
// separator is empty (a//), the cut falls where the trailing separator stood
// and that separator is not put back: the path ends with its last separator.
DPXUT_EXPORT void* HVDPStripPathChild(uint32_t nameSpace, void* path, void* child, uint32_t childSize) {
  if (path == nullptr) {
    if (child != nullptr) copy_child(nameSpace, child, childSize, nullptr, 0);
    return nullptr;
  }
  const auto* stop = static_cast<const unsigned char*>(components_end(nameSpace, path));
  void* last = nullptr;
  find_last_separator(nameSpace, path, stop, &last);
  unsigned char* end = last != nullptr ? bytes(last) + DPsizeOfChar(nameSpace) : nullptr;
  if (child != nullptr) {
    // The component ends at the trailing separator, or at the terminator.
    const size_t length = end == nullptr ? 0 : stop != nullptr ? size_t(stop - end) : DPstrlen(nameSpace, end);
    copy_child(nameSpace, child, childSize, end, length);
  }
  if (end == nullptr) return nullptr;
  DPsetChar(nameSpace, end, GenericChar(nameSpace, 0));
  return end;
}

// A volume is the text up to the first colon, colon included, at most 16
// characters; name spaces 1, 0x101 and 0x201 write it with a doubled colon.
// `volume` needs room for 16 characters and a terminator.
DPXUT_EXPORT void* HVDPGetVolume(void** path, uint32_t nameSpace, void* volume) {
  if (path == nullptr || *path == nullptr || volume == nullptr) return nullptr;
  const void* colon_char = GenericChar(nameSpace, ':');
  const size_t unit = HVDPIsNameSpaceUnicode(nameSpace) ? 4 : DPstrlen(nameSpace, colon_char);
  if (unit == 0) return nullptr;
  auto* colon = static_cast<unsigned char*>(DPstrchr(nameSpace, *path, colon_char));
  if (colon == nullptr) return nullptr;
  unsigned char* after = colon + unit;
  const bool doubled = doubles_volume_colon(nameSpace);
  if (doubled && !is_char(nameSpace, after, ':')) return nullptr;
  const size_t length = static_cast<size_t>(after - static_cast<unsigned char*>(*path));
  if (length > 16 * unit) return nullptr;
  std::memcpy(volume, *path, length);
  DPsetChar(nameSpace, bytes(volume) + length, GenericChar(nameSpace, 0));
  *path = doubled ? after + unit : after;
  return volume;
}

// Only lengths and dots count, never the value of a byte: at most 8 bytes,
// or at most 8, one dot and at most 3. The empty name passes.
DPXUT_EXPORT int32_t HVDPLegalDOSName(const char* name) {
  if (name == nullptr) return 0;
  const uint32_t ns = 0;  // plain bytes
  const char* dot_char = static_cast<const char*>(GenericMBCSChar('.'));
  if (DPstrlen(ns, name) > 12 || DPcheckChar(ns, name, dot_char)) return 0;
  const auto* dot = static_cast<const char*>(DPstrchr(ns, name, dot_char));
  if (dot == nullptr) return DPstrlen(ns, name) <= 8 ? 1 : 0;
  if (dot - name > 8 || DPstrchr(ns, dot + 1, dot_char) != nullptr) return 0;
  return DPstrlen(ns, dot + 1) <= 3 ? 1 : 0;
}
