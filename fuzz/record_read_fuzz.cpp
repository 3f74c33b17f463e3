// Reads records from hostile bytes as a restore program does: the first
// section with HVDPGetRecordHeaderOnly, the data set information with
// HVDPGetDataSetInfo, the input split into two buffers at a point the first
// two bytes choose (a saved section is completed from the second buffer),
// up to four records in a row with one reused description. Every result is
// walked afterwards: the name buffer through its readers, the extension
// within its block.
#include <dpxut.h>

#include <cstdint>
#include <cstring>
#include <memory>

#include "../tests/sidf/record_test_support.h"

namespace {

using dpxut::test::exact_copy;

void check_description(const HVDPRecordHeaderInfo& info) {
  if (const HVDPDataSetInfo* block = info.dataSetInfo) {
    if (block->bufferSize < HVDP_DATA_SET_INFO_FIXED ||
        block->extensionLength > block->bufferSize - HVDP_DATA_SET_INFO_FIXED)
      __builtin_trap();
    volatile uint8_t sink = 0;
    const auto* ext = reinterpret_cast<const uint8_t*>(block) + HVDP_DATA_SET_INFO_FIXED;
    for (uint16_t i = 0; i < block->extensionLength; ++i) sink = sink ^ ext[i];
  }
  for (const auto& name : dpxut::test::names_of(info.nameBuffer)) {
    HVDPDataSetName found{};
    if (HVDPGetDataSetName(info.nameBuffer, name.nameSpace, &found) != 0) __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const size_t rest = size - 2;
  const size_t split = (data[0] | data[1] << 8) % (rest + 1);
  data += 2;
  std::unique_ptr<uint8_t[]> buffers[2] = {exact_copy(data, split), exact_copy(data + split, rest - split)};
  const uint32_t sizes[2] = {static_cast<uint32_t>(split), static_cast<uint32_t>(rest - split)};
  std::unique_ptr<uint8_t[]> joined;
  int current = 0;
  uint8_t* position = buffers[0].get();
  uint32_t left = sizes[0];
  // The rest of the first buffer joined with the second, as a host keeps
  // the bytes the reader did not take.
  auto join = [&] {
    const size_t taken = static_cast<size_t>(position - buffers[0].get());
    joined = exact_copy(data + taken, rest - taken);
    position = joined.get();
    left = static_cast<uint32_t>(rest - taken);
    current = 2;
  };

  dpxut::test::RecordInfo record;
  HVDPRecordHeaderInfo& info = record.info;
  for (int n = 0; n < 4; ++n) {
    uint32_t rc = HVDPGetRecordHeaderOnly(&position, &left, &info);
    if (rc == HVDPUT_BUFFER_UNDERFLOW && current == 0) {
      join();
      rc = HVDPGetRecordHeaderOnly(&position, &left, &info);
    }
    if (rc != 0) break;
    rc = HVDPGetDataSetInfo(&position, &left, &info);
    if (rc == 0 && info.state == HVDP_STATE_SAVED) {
      if (left != 0) __builtin_trap();  // a save takes the whole buffer
      if (current != 0) break;          // and there is no buffer after this one
      current = 1;
      position = buffers[1].get();
      left = sizes[1];
      rc = HVDPGetDataSetInfo(&position, &left, &info);
      if (rc != 0 && info.state != HVDP_STATE_LOST) __builtin_trap();
    }
    check_description(info);
    if (rc != 0) break;
    // Skip the record's data that is in this buffer.
    const uint32_t skip = info.recordLength < left ? info.recordLength : left;
    position += skip;
    left -= skip;
  }
  return 0;
}
