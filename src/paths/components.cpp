// Counting the components of a name the way the name buffer records them,
// and the two string tests (terminator, empty) that the counting, the path
// functions and the name buffer's position walk share. Everything is done
// through the name-space string layer, so the same code serves locale bytes,
// UTF-8 and wide names at any address.
#include <algorithm>

#include "common/export.h"
#include "dpxut.h"
#include "paths/path.h"

namespace dpxut::paths {

bool at_end(uint32_t ns, const void* p) noexcept { return DPcheckChar(ns, p, GenericChar(ns, 0)) != 0; }

bool is_empty(uint32_t ns, const void* s) noexcept { return s == nullptr || at_end(ns, s); }

// The first separator (a volume's colon, say) opens the name with one
// component. Each separator after it closes one more; a name without a first
// separator that does not begin with a separator has a first component before
// its first separator, so that occurrence counts twice. After a first
// separator the text behind the last separator is one more component.
// Examples with ":" and "/": VOL:dir/sub/file 4, VOL: 1, VOL:/dir/ 2, dir/x 0;
// with "/" alone: dir/sub/file 3, dir/sub/ 3, /dir/sub 2, /dir 1, dir 0.
size_t count_components(uint32_t ns, const void* firstSeparator, const void* separator,
                        const void* name) noexcept {
  if (name == nullptr) return 0;
  const auto* start = static_cast<const unsigned char*>(name);
  const unsigned char* p = start;
  size_t count = 0;
  const bool has_first = !is_empty(ns, firstSeparator);
  if (has_first) {
    const auto* f = static_cast<const unsigned char*>(DPstrstr(ns, name, firstSeparator));
    if (f == nullptr) return 0;
    count = 1;
    p = f + DPstrlen(ns, firstSeparator);
    // A separator right after the first separator (VOL:/dir) opens no component.
    if (separator != nullptr && DPstrstr(ns, p, separator) == p) p += DPstrlen(ns, separator);
  }
  if (!is_empty(ns, separator) && !at_end(ns, p)) {
    const size_t length = DPstrlen(ns, separator);
    while (const auto* s = static_cast<const unsigned char*>(DPstrstr(ns, p, separator))) {
      count += (p == start && s != start) ? 2 : 1;
      p = s + length;
    }
  }
  if (has_first && !at_end(ns, p)) ++count;
  return count;
}

}  // namespace dpxut::paths

// The counter is 16 bits wide: a count beyond it is reported as 0xFFFF, never
// wrapped, so that the name buffer's 255-component limit still catches it.
DPXUT_EXPORT void GenericCountPositions(uint32_t nameSpace, const void* firstSeparator, const void* separator,
                                        const void* name, uint16_t* count) {
  if (count == nullptr) return;
  size_t n = dpxut::paths::count_components(nameSpace, firstSeparator, separator, name);
  *count = static_cast<uint16_t>(std::min<size_t>(n, 0xFFFF));
}
