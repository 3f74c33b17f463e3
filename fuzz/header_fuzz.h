// Pieces shared by the media and session header fuzz targets: a header
// written back into a whole section, and a hostile description (raw input
// bytes, texts without zeros) written into a buffer of a size the input
// chooses, which the writer must not leave.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "dpxut.h"

namespace header_fuzz {

inline void check(bool ok) {
  if (!ok) std::abort();
}

template <typename Info>
using SetHeader = uint32_t (*)(const Info*, uint8_t*, uint32_t, uint32_t*);

// Head, the member fields of `info`, empty closing field. Returns the
// writer's code; `out` holds the section only when it is 0.
template <typename Info>
uint32_t as_section(uint32_t headId, const Info& info, SetHeader<Info> set, std::vector<uint8_t>& out) {
  static const uint8_t kSignature[2] = {0xA5, 0x5A};
  out.assign(6 + 1024 + 4, 0);
  DPDFField head{};
  head.fieldId = headId;
  head.data = kSignature;
  check(DPDFPutNextField(out.data(), 6, &head, 2, 2) == 0 && head.bytesUsed == 6);
  uint32_t written = 0;
  if (const uint32_t rc = set(&info, out.data() + 6, 1024, &written)) return rc;
  DPDFField closing{};
  closing.fieldId = headId;
  check(DPDFPutNextField(out.data() + 6 + written, 4, &closing, 0, 0) == 0 && closing.bytesUsed == 4);
  out.resize(6 + written + 4);
  return 0;
}

// The first sizeof(Info) input bytes as a description, the next byte as
// the buffer's size: only 0, HVDPUT_OVERFLOW or (too long a text)
// HVDPUT_INVALID_PARAMETER, and no byte written past the buffer.
template <typename Info>
void write_hostile(const uint8_t* data, size_t size, SetHeader<Info> set) {
  if (size <= sizeof(Info)) return;
  Info info;
  std::memcpy(&info, data, sizeof info);
  const uint32_t capacity = data[sizeof info];
  std::vector<uint8_t> buffer(capacity ? capacity : 1);  // exact size: overruns are caught
  uint32_t written = 0xFFFFFFFF;
  const uint32_t rc = set(&info, buffer.data(), capacity, &written);
  check(rc == 0 || rc == HVDPUT_OVERFLOW || rc == HVDPUT_INVALID_PARAMETER);
  check(written <= capacity);
}

}  // namespace header_fuzz
