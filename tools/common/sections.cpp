// Sections of a stream as the tools see them (see sections.h).
#include "sections.h"

namespace dpxtool {

unsigned id_length(uint32_t id) { return id > 0xFFFFFF ? 4 : id > 0xFFFF ? 3 : id > 0xFF ? 2 : 1; }

bool is_section_head(const uint8_t* data, uint64_t size) {
  return size == 2 && data != nullptr && data[0] == kSignature[0] && data[1] == kSignature[1];
}

uint64_t le_value(const uint8_t* p, size_t n) {
  uint64_t v = 0;
  for (size_t i = n < 8 ? n : 8; i-- > 0;) v = v << 8 | p[i];
  return v;
}

}  // namespace dpxtool
