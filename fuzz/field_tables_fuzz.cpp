// Reads any bytes as a section with DPDFGetFields and a table of rows of
// capacities 0, 1, 2, 4, 16 and 64; the first input byte chooses the head
// identifier. Rows may never receive more than their capacity, and the read
// position must stay inside the input.
#include "dpxut.h"
#include "fuzz_input.h"

void fuzz(const uint8_t* data, size_t size) {
  static const uint32_t kHeads[] = {0x813F, 0x09, 0x8001, 0x808000, 0x808004, 0x808019, 0x0B, 0x50};
  static const uint32_t kIds[] = {0x0B, 0x50, 0x0B, 0x808030, 0x80F401, 0x11, 0x12, DPDF_OFFSET_TO_END};
  static const uint32_t kCaps[] = {4, 1, 2, 64, 16, 0, 16, 8};
  if (size == 0) return;
  const Block input(size - 1, 0, data + 1, size - 1);
  uint8_t dest[8][65];  // each row followed by a guard byte
  std::memset(dest, 0xA5, sizeof dest);
  DPDFGetEntry table[9] = {};
  for (size_t i = 0; i < 8; ++i) table[i] = DPDFGetEntry{kIds[i], dest[i], kCaps[i], 0};
  table[8].fieldId = DPDF_END_OF_TABLE;
  uint8_t *pos = input.at, *end = input.at + size - 1;
  auto left = static_cast<uint32_t>(size - 1);
  // Several sections in a row, as a reader would go on after each one.
  for (uint8_t* before = pos; DPDFGetFields(kHeads[data[0] % 8], table, &pos, &left) == 0; before = pos)
    check(pos > before, "a section read moves on");
  check(pos >= input.at && pos <= end && left == end - pos, "position inside the input");
  for (size_t i = 0; i < 8; ++i) check(table[i].dataSize <= kCaps[i] && dest[i][kCaps[i]] == 0xA5, "row capacity");
}
