// Decodes any bytes field by field, as a reader walks a stream: every field
// the decoder reports must lie inside the input, and re-encoding a whole
// field must reproduce a field that decodes the same.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "dpxut.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto n = static_cast<uint32_t>(size > 0xFFFFFFFFu ? 0xFFFFFFFFu : size);
  uint32_t at = 0;
  std::vector<uint8_t> out(200);
  while (at < n) {
    DPDFField f;
    if (DPDFGetNextField(data + at, n - at, &f) != 0) break;
    if (f.bytesUsed == 0 || f.bytesUsed > n - at) std::abort();
    const uint8_t* end = data + at + f.bytesUsed;
    if (f.data != nullptr && (f.data < data + at || f.data > end)) std::abort();
    if (f.dataOverflow.value == 0 && f.data != nullptr && f.data + f.dataSize.value > end &&
        !(f.dataSize.value == 1 && f.data + 1 == end))
      std::abort();
    if (f.dataOverflow.value == 0 && f.dataSize.value <= 128 && f.data != nullptr) {
      // Re-encode with the automatic form and read it back.
      DPDFField w = f;
      const auto bytes = static_cast<uint32_t>(f.dataSize.value);
      if (DPDFPutNextField(out.data(), static_cast<uint32_t>(out.size()), &w, 0x80, bytes) == 0) {
        DPDFField r;
        if (DPDFGetNextField(out.data(), w.bytesUsed, &r) != 0 || r.fieldId != f.fieldId ||
            r.dataOverflow.value != 0)
          std::abort();
      }
    }
    at += f.bytesUsed;
  }
  return 0;
}
