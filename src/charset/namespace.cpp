// Name space tests and mappings between the locale, UTF-8 and wide forms of
// a base name space (0, 1, 2, 4; +0x100 UTF-8, +0x200 wide). Numbers outside
// these forms pass through the mappings unchanged and count as locale bytes.
#include "charset/namespace.h"

#include "common/export.h"
#include "dpxut.h"

using namespace dpxut::charset;

DPXUT_EXPORT uint16_t HVDPIsNameSpaceUnicode(uint32_t nameSpace) { return is_wide_ns(nameSpace); }

DPXUT_EXPORT uint16_t HVDPIsNameSpaceUtf8(uint32_t nameSpace) { return is_utf8_ns(nameSpace); }

// 3 has no UTF-8 or wide form but is still a locale-byte name space.
DPXUT_EXPORT uint16_t HVDPIsNameSpaceAscii(uint32_t nameSpace) { return nameSpace <= 4; }

DPXUT_EXPORT uint32_t MapToKFSNameSpace(uint32_t nameSpace) {
  if (is_wide_ns(nameSpace)) return nameSpace - 0x200;
  if (is_utf8_ns(nameSpace)) return nameSpace - 0x100;
  return nameSpace;
}

DPXUT_EXPORT uint32_t MapToAsciiNameSpace(uint32_t nameSpace) { return MapToKFSNameSpace(nameSpace); }

DPXUT_EXPORT uint32_t MapToUnicodeNameSpace(uint32_t nameSpace) {
  return is_base_ns(nameSpace) ? nameSpace + 0x200 : nameSpace;
}

DPXUT_EXPORT uint32_t MapToUtf8NameSpace(uint32_t nameSpace) {
  return is_base_ns(nameSpace) ? nameSpace + 0x100 : nameSpace;
}
