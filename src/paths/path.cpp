// Taking paths apart in place: the trailing separator, the last separator and
// the last component, the volume prefix, whether a path is absolute, and the
// DOS 8.3 test. Every function works on the caller's NUL-terminated string in
// the encoding of its name space, through the name-space string layer only;
// a character cut for the length of a call is always put back.
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

// Writes the terminator of a name space over one character unit (one byte,
// or one wide character) and puts the unit's bytes back when it goes out of
// scope, unless told to keep the cut. The unit's own bytes are saved rather
// than rewritten from a generic character, so the string comes back exactly.
class Cut {
 public:
  Cut() = default;
  Cut(uint32_t ns, void* p) noexcept { cut(ns, p); }
  ~Cut() { restore(); }
  Cut(const Cut&) = delete;
  Cut& operator=(const Cut&) = delete;

  void cut(uint32_t ns, void* p) noexcept {
    restore();
    size_ = DPsizeOfChar(ns);
    std::memcpy(saved_, p, size_);
    DPsetChar(ns, p, GenericChar(ns, 0));
    at_ = p;
  }
  void restore() noexcept {
    if (at_ != nullptr) std::memcpy(at_, saved_, size_);
    at_ = nullptr;
  }
  void keep() noexcept { at_ = nullptr; }
  void* where() const noexcept { return at_; }

 private:
  void* at_ = nullptr;
  size_t size_ = 0;
  unsigned char saved_[4] = {};
};

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

// Removes a trailing separator for the length of a call.
class TrailingCut {
 public:
  TrailingCut(uint32_t ns, void* path) noexcept {
    Trailing t = trailing_separator(ns, path);
    if (t.code != 0) cut_.cut(ns, t.at);
  }
  void* where() const noexcept { return cut_.where(); }
  void keep() noexcept { cut_.keep(); }

 private:
  Cut cut_;
};

// Finds the last separator of path under the rule that the low 16 bits of
// ns select. False when they select none; *last is null when there is none.
bool find_last_separator(uint32_t ns, const void* path, void** last) noexcept {
  *last = nullptr;
  Rule rule = rule_of(ns & 0xFFFF);
  if (rule == Rule::none) return false;
  if (path == nullptr) return true;
  switch (rule) {
    case Rule::slash_or_backslash: {
      auto* a = static_cast<unsigned char*>(DPstrrchr(ns, path, GenericChar(ns, '\\')));
      auto* b = static_cast<unsigned char*>(DPstrrchr(ns, path, GenericChar(ns, '/')));
      *last = (a == nullptr || (b != nullptr && b > a)) ? b : a;
      break;
    }
    case Rule::colon:
      *last = DPstrrchr(ns, path, GenericChar(ns, ':'));
      break;
    case Rule::slash:
      *last = DPstrrchr(ns, path, GenericChar(ns, '/'));
      break;
    case Rule::none:
      break;
  }
  return true;
}

// Copies the component at `component` (or nothing, when null) into the
// caller's `child` of `size` bytes. The copy counts whole character units of
// the name space and keeps the last unit of `child` for a terminator, which
// is always written: a 301-byte array holds 300 locale bytes or 74 wide
// characters, never more, and always ends in a terminator.
void copy_child(uint32_t ns, void* child, uint32_t size, const void* component) noexcept {
  const size_t unit = DPsizeOfChar(ns);
  const size_t units = size / unit;
  if (units == 0) return;  // no room even for the terminator
  if (component == nullptr) {
    DPsetChar(ns, child, GenericChar(ns, 0));
    return;
  }
  DPstrncpy(ns, child, component, static_cast<uint32_t>(units - 1));
  DPsetChar(ns, bytes(child) + (units - 1) * unit, GenericChar(ns, 0));
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
  if (!find_last_separator(nameSpace, *path, &last)) {
    *path = nullptr;
    return;
  }
  if (volume != nullptr) *volume = nullptr;
  if (lastSeparator != nullptr) *lastSeparator = last;
}

// Absolute means: a name space with separators and a path that begins with
// '/'. A volume does not make a path absolute (VOL:dir is not).
DPXUT_EXPORT int32_t HVDPPathIsNotFullyQualified(uint32_t nameSpace, void* path) {
  if (path == nullptr) return 1;
  TrailingCut trailing(nameSpace, path);
  void* copy = path;
  void* volume = nullptr;
  void* last = nullptr;
  GetVolumeAndLastSeparator(nameSpace, &copy, &volume, &last);
  return (copy != nullptr && is_char(nameSpace, path, '/')) ? 0 : 1;
}

// The last component keeps a trailing separator: /usr/lib/ gives lib/.
DPXUT_EXPORT void* HVDPGetPathChild(uint32_t nameSpace, void* path, void** child) {
  void* result = nullptr;
  if (path != nullptr) {
    TrailingCut trailing(nameSpace, path);
    void* last = nullptr;
    if (find_last_separator(nameSpace, path, &last) && last != nullptr) result = bytes(last) + DPsizeOfChar(nameSpace);
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
    if (child != nullptr) copy_child(nameSpace, child, childSize, nullptr);
    return nullptr;
  }
  TrailingCut trailing(nameSpace, path);
  void* last = nullptr;
  find_last_separator(nameSpace, path, &last);
  const size_t unit = DPsizeOfChar(nameSpace);
  unsigned char* end = last != nullptr ? bytes(last) + unit : nullptr;
  if (child != nullptr) copy_child(nameSpace, child, childSize, end);
  if (end == nullptr) return nullptr;
  DPsetChar(nameSpace, end, GenericChar(nameSpace, 0));
  if (trailing.where() == end) trailing.keep();
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
  {
    Cut cut(nameSpace, after);
    if (DPstrlen(nameSpace, *path) > 16 * unit) return nullptr;
    DPstrcpy(nameSpace, volume, *path);
  }
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
