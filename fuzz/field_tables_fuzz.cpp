// Reads any bytes as a section with DPDFGetFields and a table of rows of
// capacities 0, 1, 2, 4, 16 and 64; the first input byte chooses the head
// identifier. Rows may never receive more than their capacity, and the read
// position must stay inside the input.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "dpxut.h"

namespace {
const uint32_t kHeads[] = {0x813F, 0x09, 0x8001, 0x808000, 0x808004, 0x808019, 0x0B, 0x50};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint32_t head = kHeads[data[0] % 8];
  std::vector<uint8_t> input(data + 1, data + size);  // exact copy: overreads are caught
  static const uint32_t kIds[] = {0x0B, 0x50, 0x0B, 0x808030, 0x80F401, 0x11, 0x12, DPDF_OFFSET_TO_END};
  static const uint32_t kCaps[] = {4, 1, 2, 64, 16, 0, 16, 8};
  std::vector<std::vector<uint8_t>> dest;
  std::vector<DPDFGetEntry> table;
  for (size_t i = 0; i < 8; ++i) {
    dest.emplace_back(kCaps[i] + 1, 0xA5);  // one guard byte after the capacity
    DPDFGetEntry e{};
    e.fieldId = kIds[i];
    e.data = dest.back().data();
    e.dataSize = kCaps[i];
    table.push_back(e);
  }
  table.push_back(DPDFGetEntry{DPDF_END_OF_TABLE, nullptr, 0, 0});
  uint8_t* pos = input.data();
  auto left = static_cast<uint32_t>(input.size());
  // Several sections in a row, as a reader would go on after each one.
  for (int i = 0; i < 4; ++i) {
    uint8_t* before = pos;
    if (DPDFGetFields(head, table.data(), &pos, &left) != 0) break;
    if (pos <= before) std::abort();
  }
  if (pos < input.data() || pos > input.data() + input.size() || left != input.data() + input.size() - pos)
    std::abort();
  for (size_t i = 0; i < 8; ++i) {
    if (table[i].dataSize > kCaps[i] || dest[i][kCaps[i]] != 0xA5) std::abort();
  }
  return 0;
}
