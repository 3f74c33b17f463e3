// Internal helpers of the path functions that the name buffer shares: the
// terminator and emptiness tests of a name-space string, and the component
// count that both the exported GenericCountPositions and the name buffer's
// position walk rely on. Strings are in the encoding of their name space and
// may sit at any address (wide strings too); all character work goes through
// the name-space string layer.
#pragma once

#include <cstddef>
#include <cstdint>

namespace dpxut::paths {

// True when the character at p is the terminator of name space ns.
bool at_end(uint32_t ns, const void* p) noexcept;

// True when s is null or its first character is the terminator.
bool is_empty(uint32_t ns, const void* s) noexcept;

// Number of components of `name` as the name buffer records them: the count
// GenericCountPositions reports, without its 16-bit limit. `name` is read only
// when a non-empty separator or first separator is given.
size_t count_components(uint32_t ns, const void* firstSeparator, const void* separator,
                        const void* name) noexcept;

}  // namespace dpxut::paths
