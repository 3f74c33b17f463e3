// Writes records from descriptions the input chooses (values, dates, an
// extension, up to twelve names in locale, UTF-8 and wide name spaces,
// full or short header, check values on or off) and reads each back at
// every split of the stream into two buffers: every read must give what
// was written.
#include <dpxut.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "../tests/sidf/record_test_support.h"

namespace {

class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
  uint32_t word() {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = v << 8 | byte();
    return v;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

constexpr uint32_t kSpaces[] = {0, 1, 2, 4, 0x100, 0x101, 0x102, 0x104, 0x200, 0x201, 0x202, 0x204, 3, 0x10000};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace dpxut::test;
  Input in(data, size);
  RecordDescription d;
  const uint8_t flags = in.byte();
  d.shortHeader = (flags & 1) != 0;
  d.checkValues = (flags & 2) != 0;
  for (auto& v : d.values) v = in.word();
  for (auto& b : d.bytes) b = in.byte();
  for (auto& t : d.dates) t = in.word();
  d.byteValue = in.byte();
  d.extension.resize(in.byte() * 3u);
  for (auto& e : d.extension) e = in.byte();
  const int names = in.byte() % 13;
  for (int i = 0; i < names; ++i) {
    RecordName n{kSpaces[in.byte() % std::size(kSpaces)], {}};
    const bool wide = n.nameSpace >= 0x200 && n.nameSpace <= 0x204;
    const size_t length = (in.byte() % 48) * (wide ? 4 : 1);
    for (size_t j = 0; j < length; ++j) n.bytes.push_back(in.byte());
    d.names.push_back(n);
  }

  std::vector<uint8_t> stream;
  if (write_record(d, stream) != 0) __builtin_trap();
  RecordInfo record;
  const RecordRead whole = read_record(stream, stream.size(), record);
  if (!reads_back(d, whole, stream.size())) __builtin_trap();
  for (size_t split = 0; split < stream.size(); ++split)
    if (!(read_record(stream, split, record) == whole)) __builtin_trap();
  return 0;
}
