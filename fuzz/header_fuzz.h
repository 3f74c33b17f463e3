// The media and session header fuzz targets: any bytes are read as a
// section from an exact-size copy, so every overread is caught; a
// description read is written back into a whole section (head, member
// fields, empty closing field) and read again; then the input serves as a
// hostile description (raw bytes, texts without zeros) written into a
// buffer of a size the input chooses, which the writer must not leave.
#pragma once

#include <vector>

#include "dpxut.h"
#include "fuzz_input.h"

// `compare(rc, info, back)` checks what the reader gave (rc its code) and
// what it gave again after writing, `back` (null when rc is not 0 or the
// writer refused the description). Flags always write as C0 or C1.
template <typename Info, typename Compare>
void fuzz_header(const uint8_t* data, size_t size, uint32_t headId, uint32_t (*get)(const uint8_t*, uint32_t, Info*),
                 uint32_t (*set)(const Info*, uint8_t*, uint32_t, uint32_t*), Compare compare) {
  static const uint8_t kSignature[2] = {0xA5, 0x5A};
  const auto read = [&](const uint8_t* p, size_t n, Info& into) {
    const uint32_t rc = get(Block(n, 0, p, n).at, static_cast<uint32_t>(n), &into);
    check(rc == 0 || rc == HVDPUT_BUFFER_UNDERFLOW || rc == HVDPUT_FIELD_ID_MISMATCH, "reader's code");
    return rc;
  };
  Info info{}, back{};
  const uint32_t rc = read(data, size, info);
  std::vector<uint8_t> out(6 + 1024 + 4);
  DPDFField head{headId, {}, kSignature, 0, {}}, closing{headId, {}, nullptr, 0, {}};
  uint32_t n = 0;
  const bool written = rc == 0 && set(&info, out.data() + 6, 1024, &n) == 0;
  check(!written ||
            (DPDFPutNextField(out.data(), 6, &head, 2, 2) == 0 &&
             DPDFPutNextField(out.data() + 6 + n, 4, &closing, 0, 0) == 0 && read(out.data(), 10 + n, back) == 0 &&
             back.flag == (info.flag == 0 || info.flag == 0xC0 ? 0xC0u : 0xC1u)),
        "a written description reads back");
  compare(rc, info, written ? &back : nullptr);

  // The first sizeof(Info) input bytes as a description, the next byte as
  // the buffer's size: only 0, HVDPUT_OVERFLOW or (too long a text)
  // HVDPUT_INVALID_PARAMETER, and no byte written past the buffer.
  if (size <= sizeof(Info)) return;
  std::memcpy(&info, data, sizeof info);
  const Block buffer(data[sizeof info]);
  const uint32_t code = set(&info, buffer.at, data[sizeof info], &(n = 0xFFFFFFFF));
  check((code == 0 || code == HVDPUT_OVERFLOW || code == HVDPUT_INVALID_PARAMETER) && n <= data[sizeof info],
        "hostile");
}
