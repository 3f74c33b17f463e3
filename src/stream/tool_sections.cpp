// The tool layer's own sections: a count or CRC-32 in 0x8072 and a byte
// count in 0x8073 under a head of their own, closed with a check value.
#include "stream/tool_sections.h"

#include <dpxut.h>

#include "stream/format.h"

namespace dpxut::stream {

uint32_t put_tool_section(uint8_t* buf, uint32_t cap, uint32_t id, uint32_t value32, uint64_t value64,
                          size_t* used) noexcept {
  uint8_t v4[4], v8[8];
  store_le32(v4, value32);
  store_le64(v8, value64);
  DPDFPutEntry t[4] = {};
  t[0].field.fieldId = id;
  t[1].field.fieldId = kLengthField;
  t[1].field.data = v8;
  t[1].dataBytes = 8;
  t[2].field.fieldId = kValueField;
  t[2].field.data = v4;
  t[2].dataBytes = 4;
  t[3].field.fieldId = DPDF_END_OF_TABLE;
  uint8_t* p = buf;
  uint32_t rest = cap;
  const uint32_t rc = DPDFPutFields(t, &p, &rest, 1);
  if (rc == 0 && used != nullptr) *used = static_cast<size_t>(p - buf);
  return rc;
}

size_t tool_section_size() noexcept {
  static const size_t n = [] {
    uint8_t b[128];
    size_t used = 0;
    put_tool_section(b, sizeof b, kDataCheckId, 0, 0, &used);
    return used;
  }();
  return n;
}

uint32_t get_tool_section(uint32_t id, uint8_t** p, uint32_t* n, uint32_t* value32, uint64_t* value64) noexcept {
  uint8_t v4[4] = {}, v8[8] = {};
  DPDFGetEntry t[3] = {};
  t[0].fieldId = kLengthField;
  t[0].data = v8;
  t[0].dataSize = 8;
  t[1].fieldId = kValueField;
  t[1].data = v4;
  t[1].dataSize = 4;
  t[2].fieldId = DPDF_END_OF_TABLE;
  if (const uint32_t rc = DPDFGetFields(id, t, p, n)) return rc;
  if (t[0].found == 0 || t[1].found == 0 || t[0].dataSize != 8 || t[1].dataSize != 4) return HVDPUT_INVALID_PARAMETER;
  *value32 = load_le32(v4);
  *value64 = load_le64(v8);
  return 0;
}

// A section: head field (the head identifier), members, and a closing field
// of the head identifier whose 4 data bytes, the last of the section, are the
// check value of every byte from the head up to the closing field.
const char* section_checks(const uint8_t* s, size_t n, uint32_t head) noexcept {
  if (s == nullptr) return "malformed section";
  size_t off = 0;
  while (off < n && s[off] == 0) ++off;
  const size_t start = off;
  bool opened = false;
  while (off < n) {
    DPDFField f{};
    const uint32_t left = n - off > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(n - off);
    if (DPDFGetNextField(s + off, left, &f) != 0 || f.dataOverflow.value != 0) break;
    if (f.fieldId == head && opened) {
      if (f.dataSize.value != 4 || f.data == nullptr || f.data + 4 != s + n) return "closing field without a check value";
      const size_t data_at = static_cast<size_t>(f.data - s);
      if (data_at < id_length(head) + 1 + start) return "malformed closing field";
      const size_t closing = data_at - id_length(head) - 1;
      if (s[closing + id_length(head)] != 4) return "malformed closing field";
      const uint32_t crc = HVDPGenerateCRC(static_cast<uint32_t>(closing - start), 0xFFFFFFFF, s + start);
      if (crc != load_le32(f.data)) return "check value mismatch";
      return nullptr;
    }
    if (!opened && f.fieldId != head) break;
    opened = true;
    if (f.bytesUsed == 0) break;
    off += f.bytesUsed;
  }
  return "malformed section";
}

}  // namespace dpxut::stream
