// Reads records from hostile bytes as a restore program does: the first
// section with HVDPGetRecordHeaderOnly, the data set information with
// HVDPGetDataSetInfo, the input split into two buffers at a point the first
// two bytes choose (a saved section is completed from the second buffer),
// up to four records in a row with one reused description. Every result is
// walked afterwards: the name buffer through its readers, the extension
// within its block.
#include <dpxut.h>

#include <numeric>
#include <optional>

#include "../tests/sidf/record_test_support.h"
#include "fuzz_input.h"

static volatile unsigned sink;  // every byte of an extension is read, so ASan sees one outside its block

static void check_description(const HVDPRecordHeaderInfo& info) {
  if (const HVDPDataSetInfo* b = info.dataSetInfo) {
    check(b->bufferSize >= HVDP_DATA_SET_INFO_FIXED && b->extensionLength <= b->bufferSize - HVDP_DATA_SET_INFO_FIXED,
          "extension inside its block");
    sink = std::accumulate(b->extensionData, b->extensionData + b->extensionLength, 0u);
  }
  HVDPDataSetName found{};
  for (const auto& name : dpxut::test::names_of(info.nameBuffer))
    check(HVDPGetDataSetName(info.nameBuffer, name.nameSpace, &found) == 0, "the name space of every name is found");
}

void fuzz(const uint8_t* data, size_t size) {
  if (size < 2) return;
  const size_t rest = size - 2, split = (data[0] | data[1] << 8) % (rest + 1);
  data += 2;
  const Block first(split, 0, data, split), second(rest - split, 0, data + split, rest - split);
  std::optional<Block> joined;
  int current = 0;  // 1 in the second buffer, 2 in the joined one: no buffer follows
  uint8_t* position = first.at;
  auto left = static_cast<uint32_t>(split);
  dpxut::test::RecordInfo record;
  HVDPRecordHeaderInfo& info = record.info;
  for (int n = 0; n < 4; ++n) {
    uint32_t rc = HVDPGetRecordHeaderOnly(&position, &left, &info);
    if (rc == HVDPUT_BUFFER_UNDERFLOW && current == 0) {
      // The rest of the first buffer joined with the second, as a host keeps
      // the bytes the reader did not take.
      const auto taken = static_cast<size_t>(position - first.at);
      position = joined.emplace(rest - taken, 0, data + taken, rest - taken).at;
      left = static_cast<uint32_t>(rest - taken);
      current = 2;
      rc = HVDPGetRecordHeaderOnly(&position, &left, &info);
    }
    if (rc != 0) break;
    rc = HVDPGetDataSetInfo(&position, &left, &info);
    if (rc == 0 && info.state == HVDP_STATE_SAVED) {
      check(left == 0, "a save takes the whole buffer");
      if (current++ != 0) break;  // and there is no buffer after this one
      position = second.at;
      left = static_cast<uint32_t>(rest - split);
      rc = HVDPGetDataSetInfo(&position, &left, &info);
      check(rc == 0 || info.state == HVDP_STATE_LOST, "a failed completion loses the section");
    }
    check_description(info);
    if (rc != 0) break;
    // Skip the record's data that is in this buffer.
    const uint32_t skip = std::min(info.recordLength, left);
    position += skip;
    left -= skip;
  }
}
