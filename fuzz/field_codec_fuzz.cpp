// Decodes any bytes field by field, as a reader walks a stream: every field
// the decoder reports must lie inside the input, and re-encoding a whole
// field must reproduce a field that decodes the same.
#include "dpxut.h"
#include "fuzz_input.h"

void fuzz(const uint8_t* data, size_t size) {
  const auto n = static_cast<uint32_t>(size > 0xFFFFFFFFu ? 0xFFFFFFFFu : size);
  uint8_t out[200];
  DPDFField f, w, r;
  for (uint32_t at = 0; at < n && DPDFGetNextField(data + at, n - at, &f) == 0; at += f.bytesUsed) {
    const uint8_t* end = data + at + f.bytesUsed;
    const bool whole = f.dataOverflow.value == 0 && f.data != nullptr;
    check(f.bytesUsed != 0 && f.bytesUsed <= n - at && (f.data == nullptr || (f.data >= data + at && f.data <= end)) &&
              (!whole || f.data + f.dataSize.value <= end),
          "the field and its data inside the input");
    // Re-encoded with the automatic size form, it reads back.
    w = f;
    if (whole && f.dataSize.value <= 128 && DPDFPutNextField(out, sizeof out, &w, 0x80, f.dataSize.value) == 0)
      check(DPDFGetNextField(out, w.bytesUsed, &r) == 0 && r.fieldId == f.fieldId && r.dataOverflow.value == 0,
            "again");
  }
}
