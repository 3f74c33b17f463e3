// Any bytes as a name buffer image, as a restore program meets it in SIDF
// field 0x813E: walked with every reader (first / next with an early close,
// one name, the name of a name space, the image check). Every entry handed
// out must lie within the bytes the image declares, end in its zero byte, and
// agree with the check. Names of the byte name spaces are then taken apart
// with the path functions, as a host would.
#include <dpxut.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "common/le.h"
#include "names/name_buffer.h"

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

size_t checksum = 0;

// Every byte of the entry is touched, so a pointer outside the image shows.
void inspect(const unsigned char* image, size_t limit, const HVDPDataSetName& d) {
  const auto* name = static_cast<const unsigned char*>(d.name);
  check(name >= image && static_cast<size_t>(name - image) + d.nameLength + 1 <= limit);
  check(name[d.nameLength] == 0);
  for (size_t i = 0; i < d.nameLength; ++i) checksum += name[i];
  check((d.positionCount == 0) == (d.componentPositions == nullptr));
  check((d.positionCount == 0) == (d.separatorPositions == nullptr));
  if (d.positionCount != 0) {
    const auto* comp = reinterpret_cast<const unsigned char*>(d.componentPositions);
    const auto* sep = reinterpret_cast<const unsigned char*>(d.separatorPositions);
    check(comp >= image && sep == comp + 2 * d.positionCount && sep + 2 * d.positionCount + 2 == name);
    for (size_t i = 0; i < d.positionCount; ++i) checksum += dpxut::load_le16(comp + 2 * i) + dpxut::load_le16(sep + 2 * i);
  }
}

// A host picks a name and splits it. Locale and UTF-8 names end in their
// zero byte; wide names (4-byte units, one zero byte) are not terminated as
// wide strings and are left alone.
void split(const HVDPDataSetName& d) {
  if (HVDPIsNameSpaceUnicode(d.nameSpace)) return;
  std::vector<char> name(static_cast<const char*>(d.name), static_cast<const char*>(d.name) + d.nameLength + 1);
  std::vector<char> copy = name;
  char child[301];
  void* path = name.data();
  char volume[17];
  uint16_t count = 0;
  GenericCountPositions(d.nameSpace, ":", "/", name.data(), &count);
  HVDPPathIsNotFullyQualified(d.nameSpace, name.data());
  HVDPGetPathChild(d.nameSpace, name.data(), nullptr);
  HVDPGetVolume(&path, d.nameSpace, volume);
  check(name == copy);  // all of these put back what they cut
  HVDPStripPathChild(d.nameSpace, name.data(), child, sizeof child);
  HVDPStripEndSeparator(d.nameSpace, name.data(), nullptr);
  HVDPLegalDOSName(name.data());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  // A block of exactly the input's size whose bufferSize does not claim more
  // than that: the image's other sizes may lie freely.
  auto* image = static_cast<unsigned char*>(std::malloc(size));
  if (image == nullptr) return 0;
  std::memcpy(image, data, size);
  const size_t real = std::min<size_t>(size, 0xFFFF);
  if (dpxut::load_le16(image) > real) dpxut::store_le16(image, static_cast<uint16_t>(real));
  const auto* buffer = reinterpret_cast<const HVDPNameBuffer*>(image);
  const size_t limit = dpxut::names::readable_size(image);
  const uint32_t verdict = dpxut::names::check_image(image);
  check(verdict == 0 || verdict == HVDPUT_BUFFER_UNDERFLOW);

  // The whole walk, and a walk closed early after `stop` names.
  const size_t stop = data[size - 1] % 4;
  for (int pass = 0; pass < 2; ++pass) {
    HVDPDataSetName d{};
    HVDPNameHandle* handle = nullptr;
    size_t read = 0;
    uint32_t code = HVDPGetFirstName(buffer, &d, &handle);
    while (code == 0) {
      inspect(image, limit, d);
      if (pass == 0) split(d);
      ++read;
      if (pass == 1 && read == stop) {
        check(HVDPCloseName(&handle) == 0);
        break;
      }
      code = HVDPGetNextName(&handle, &d);
    }
    check(handle == nullptr);
    if (code != 0) check((code == HVDPUT_NO_MORE_ENTRIES ? 0 : code) == verdict);
  }

  HVDPDataSetName one{};
  const uint32_t first = HVDPGetOneName(buffer, &one);
  if (first == 0) {
    inspect(image, limit, one);
    HVDPDataSetName found{};
    check(HVDPGetDataSetName(buffer, one.nameSpace, &found) == 0);
    check(found.name == one.name);
  } else {
    check(first == HVDPUT_NO_MORE_ENTRIES || first == HVDPUT_BUFFER_UNDERFLOW);
  }
  HVDPDataSetName any{};
  const uint32_t missing = HVDPGetDataSetName(buffer, 0xFFFFFFFF, &any);
  if (missing == HVDPUT_NO_MORE_ENTRIES) check(verdict == 0);
  else if (missing != 0) check(missing == HVDPUT_BUFFER_UNDERFLOW && verdict == missing);
  std::free(image);
  return 0;
}
