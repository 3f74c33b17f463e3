// Any bytes as a name buffer image, as a restore program meets it in SIDF
// field 0x813E: walked with every reader (first / next with an early close,
// one name, the name of a name space, the image check). Every entry handed
// out must lie within the bytes the image declares, end in its zero byte, and
// agree with the check. Names of the byte name spaces are then taken apart
// with the path functions, as a host would.
#include <dpxut.h>

#include <algorithm>
#include <numeric>

#include "common/le.h"
#include "fuzz_input.h"
#include "names/name_buffer.h"

static volatile size_t checksum;

// Every byte of the entry is touched, so a pointer outside the image shows.
static void inspect(const uint8_t* image, size_t limit, const HVDPDataSetName& d) {
  const auto* name = static_cast<const uint8_t*>(d.name);
  const auto* comp = reinterpret_cast<const uint8_t*>(d.componentPositions);
  const auto* sep = reinterpret_cast<const uint8_t*>(d.separatorPositions);
  const size_t n = d.positionCount;
  check(name >= image && static_cast<size_t>(name - image) + d.nameLength + 1 <= limit && name[d.nameLength] == 0,
        "name and its zero byte inside the image");
  check(n == 0 ? !comp && !sep : comp >= image && sep == comp + 2 * n && sep + 2 * n + 2 == name, "positions");
  checksum = std::accumulate(n ? comp : name, name + d.nameLength, size_t{0});
}

// A host picks a name and splits it. Locale and UTF-8 names end in their
// zero byte; wide names (4-byte units, one zero byte) are not terminated as
// wide strings and are left alone.
static void split(const HVDPDataSetName& d) {
  const Block block(d.nameLength + 1, 0, d.name, d.nameLength + 1);
  char child[301], volume[17], *name = block.as<char>();
  void* path = name;
  uint16_t count = 0;
  GenericCountPositions(d.nameSpace, ":", "/", name, &count);
  HVDPPathIsNotFullyQualified(d.nameSpace, name);
  HVDPGetPathChild(d.nameSpace, name, nullptr);
  HVDPGetVolume(&path, d.nameSpace, volume);
  check(std::memcmp(name, d.name, d.nameLength + 1) == 0, "these put back what they cut");
  HVDPStripPathChild(d.nameSpace, name, child, sizeof child);
  HVDPStripEndSeparator(d.nameSpace, name, nullptr);
  HVDPLegalDOSName(name);
}

void fuzz(const uint8_t* data, size_t size) {
  if (size < 2) return;
  // A block of exactly the input's size whose bufferSize does not claim more
  // than that: the image's other sizes may lie freely.
  const Block block(size, 0, data, size);
  dpxut::store_le16(block.at, static_cast<uint16_t>(std::min<size_t>({dpxut::load_le16(block.at), size, 0xFFFF})));
  const auto* buffer = block.as<const HVDPNameBuffer>();
  const size_t limit = dpxut::names::readable_size(block.at);
  const uint32_t verdict = dpxut::names::check_image(block.at);
  check(verdict == 0 || verdict == HVDPUT_BUFFER_UNDERFLOW, "image check");
  // The whole walk, and a walk closed early after `stop` names.
  for (size_t pass = 0, stop = data[size - 1] % 4; pass < 2; ++pass) {
    HVDPDataSetName d{};
    HVDPNameHandle* handle = nullptr;
    uint32_t code = HVDPGetFirstName(buffer, &d, &handle);
    for (size_t read = 1; code == 0; ++read) {
      inspect(block.at, limit, d);
      if (pass == 0 && !HVDPIsNameSpaceUnicode(d.nameSpace)) split(d);
      if (pass == 1 && read == stop) break;
      code = HVDPGetNextName(&handle, &d);
    }
    check((code == 0 ? HVDPCloseName(&handle) == 0 : (code == HVDPUT_NO_MORE_ENTRIES ? 0 : code) == verdict) &&
              handle == nullptr,
          "walk's end, or an early close");
  }
  HVDPDataSetName one{}, found{}, any{};
  const uint32_t first = HVDPGetOneName(buffer, &one);
  check(first == 0 ? HVDPGetDataSetName(buffer, one.nameSpace, &found) == 0 && found.name == one.name
                   : first == HVDPUT_NO_MORE_ENTRIES || first == HVDPUT_BUFFER_UNDERFLOW,
        "one name's code; it is the first name of its name space");
  if (first == 0) inspect(block.at, limit, one);
  const uint32_t missing = HVDPGetDataSetName(buffer, 0xFFFFFFFF, &any);
  check(missing == 0 || (missing == HVDPUT_NO_MORE_ENTRIES ? verdict == 0 : missing == verdict && verdict != 0),
        "an absent name space");
}
