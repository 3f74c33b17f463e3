// Writes records from descriptions the input chooses (values, dates, an
// extension, up to twelve names in locale, UTF-8 and wide name spaces,
// full or short header, check values on or off) and reads each back at
// every split of the stream into two buffers: every read must give what
// was written.
#include <dpxut.h>

#include "../tests/sidf/record_test_support.h"
#include "fuzz_input.h"

using namespace dpxut::test;

void fuzz(const uint8_t* data, size_t size) {
  static const uint32_t kSpaces[] = {0, 1, 2, 4, 0x100, 0x101, 0x102, 0x104, 0x200, 0x201, 0x202, 0x204, 3, 0x10000};
  FuzzInput in{data, size};
  RecordDescription d;
  const uint8_t flags = in.byte();
  d.shortHeader = flags & 1;
  d.checkValues = flags & 2;
  for (auto& v : d.values) v = in.number(4, true);
  for (auto& b : d.bytes) b = in.byte();
  for (auto& t : d.dates) t = in.number(4, true);
  d.byteValue = in.byte();
  d.extension.resize(in.byte() * 3u);
  for (auto& e : d.extension) e = in.byte();
  for (int i = in.byte() % 13; i > 0; --i) {
    RecordName& n = d.names.emplace_back(RecordName{kSpaces[in.byte() % std::size(kSpaces)], {}});
    n.bytes.resize((in.byte() % 48) * (n.nameSpace >= 0x200 && n.nameSpace <= 0x204 ? 4 : 1));
    for (auto& b : n.bytes) b = in.byte();
  }
  std::vector<uint8_t> stream;
  check(write_record(d, stream) == 0, "written");
  RecordInfo record;
  const RecordRead whole = read_record(stream, stream.size(), record);
  check(reads_back(d, whole, stream.size()), "reads back as written");
  for (size_t split = 0; split < stream.size(); ++split)
    check(read_record(stream, split, record) == whole, "the same read at every split");
}
