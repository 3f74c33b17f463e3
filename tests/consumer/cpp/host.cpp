// A C++ host built against an installed libdpxut through find_package:
// walks a pad section field by field the way a reader skips one, and
// chains the CRC-32 over pieces of a buffer. Exits non-zero naming the
// first check that fails.
#include <dpxut.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

#define CHECK(cond)                                                          \
  do {                                                                       \
    if (!(cond)) {                                                           \
      std::fprintf(stderr, "host_cpp:%d: check failed: %s\n", __LINE__, #cond); \
      return 1;                                                              \
    }                                                                        \
  } while (0)

// A 20-byte pad section: head 80 80 19 02 A5 5A, offset field 01 02 06 00,
// six blank bytes, closing field 80 80 19 00.
int walk_pad_section() {
  std::vector<uint8_t> buffer(20, 0xEE);
  HVDPPadBlankSpace(buffer.data(), static_cast<uint32_t>(buffer.size()));
  const uint8_t *pos = buffer.data();
  uint32_t left = static_cast<uint32_t>(buffer.size());
  DPDFField field;

  CHECK(DPDFGetNextField(pos, left, &field) == HVDPUT_SUCCESS);
  CHECK(field.fieldId == 0x808019u && field.dataSize.value == 2 && field.bytesUsed == 6);
  pos += field.bytesUsed;
  left -= field.bytesUsed;

  CHECK(DPDFGetNextField(pos, left, &field) == HVDPUT_SUCCESS);
  CHECK(field.fieldId == 0x01u && field.bytesUsed == 4);
  uint32_t blank = 0;
  CHECK(DPDFSetUINT32Data(&field.dataSize, field.data, &blank) == HVDPUT_SUCCESS && blank == 6);
  pos += field.bytesUsed + blank;
  left -= field.bytesUsed + blank;

  CHECK(DPDFGetNextField(pos, left, &field) == HVDPUT_SUCCESS);
  CHECK(field.fieldId == 0x808019u && field.dataSize.value == 0 && field.bytesUsed == left);
  return 0;
}

int chain_crc() {
  static const char text[] = "123456789";
  const uint8_t *bytes = reinterpret_cast<const uint8_t *>(text);
  CHECK(HVDPGenerateCRC(9, 0xFFFFFFFFu, bytes) == 0x340BC6D9u);
  uint32_t crc = 0xFFFFFFFFu;
  for (uint32_t cut : {4u, 1u, 0u, 4u}) {
    crc = HVDPGenerateCRC(cut, crc, bytes);
    bytes += cut;
  }
  CHECK(crc == 0x340BC6D9u);
  return 0;
}

}  // namespace

int main() {
  if (walk_pad_section() != 0) return 1;
  if (chain_crc() != 0) return 2;
  return 0;
}
