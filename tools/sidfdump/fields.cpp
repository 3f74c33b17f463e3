// How sidfdump shows one field: its identifier, size form, size and data.
#include <algorithm>
#include <cstdio>

#include "../common/sections.h"
#include "dump.h"

namespace sidfdump {


// The identifier's length follows from its value, as its first byte is
// never zero. A fixed-size identifier carries its size and no descriptor:
// short ones have bit 6 of the last byte set, long ones (3 bytes starting
// 80-BF, or 4 bytes) the high nibble 0xF in the second-to-last byte.
void classify(const uint8_t* at, const DPDFField& f, FieldView& v) {
  v.id = f.fieldId;
  v.id_len = dpxtool::id_length(f.fieldId);
  const bool long_form = v.id_len == 4 || (v.id_len == 3 && at[0] < 0xC0);
  const bool fixed = long_form ? (v.id & 0xF000u) == 0xF000u : (v.id & 0x40u) != 0;
  v.size = f.dataSize.value;
  if (fixed) {
    v.form = Form::kFixed;
    v.header = v.id_len;
  } else {
    const uint8_t s = at[v.id_len];
    if (s < 0x80) {
      v.form = Form::kShort;
      v.header = v.id_len + 1;
    } else if (s >= 0xC0) {
      v.form = Form::kEmbedded;
      v.header = v.id_len + 1;
    } else {
      v.form = Form::kSizeOfSize;
      v.size_bytes = 1u << (s & 3u);
      v.header = v.id_len + 1 + v.size_bytes;
    }
  }
  v.data = v.form == Form::kEmbedded ? at + v.id_len : at + v.header;
  v.present = v.form == Form::kEmbedded ? 1 : f.dataSize.value - f.dataOverflow.value;
}

std::string id_text(const FieldView& v) {
  char b[16];
  std::snprintf(b, sizeof b, "%0*X", static_cast<int>(2 * v.id_len), v.id);
  return b;
}

std::string form_text(const FieldView& v) {
  switch (v.form) {
    case Form::kShort: return "short";
    case Form::kEmbedded: return "embedded";
    case Form::kFixed: return "fixed";
    case Form::kSizeOfSize: return "size-of-size:" + std::to_string(v.size_bytes);
  }
  return "?";
}

// Short data as hex, and as text too when it is printable (trailing zeros
// allowed); longer data as its first 16 bytes.
std::string data_text(const FieldView& v) {
  if (v.size == 0) return "-";
  const size_t shown = static_cast<size_t>(std::min<uint64_t>(v.present, v.size <= 32 ? 32 : 16));
  std::string s;
  char b[4];
  for (size_t i = 0; i < shown; ++i) {
    std::snprintf(b, sizeof b, i ? " %02X" : "%02X", v.data[i]);
    s += b;
  }
  if (shown < v.size) return s + (s.empty() ? "..." : " ...");
  size_t text_end = shown;
  while (text_end > 0 && v.data[text_end - 1] == 0) --text_end;
  bool printable = text_end > 0;
  for (size_t i = 0; i < text_end && printable; ++i) printable = v.data[i] >= 0x20 && v.data[i] < 0x7F;
  if (printable) s += "  \"" + std::string(reinterpret_cast<const char*>(v.data), text_end) + "\"";
  return s;
}

std::string hex_id(uint32_t id) {
  FieldView v;
  v.id = id;
  v.id_len = dpxtool::id_length(id);
  return id_text(v);
}

// Value of an offset field (its first up to 8 data bytes, little-endian).
bool offset_value(const FieldView& v, uint64_t* distance) {
  if (v.id != DPDF_OFFSET_TO_END || v.form == Form::kEmbedded || v.present != v.size) return false;
  *distance = dpxtool::le_value(v.data, static_cast<size_t>(std::min<uint64_t>(v.size, 8)));
  return true;
}

}  // namespace sidfdump
