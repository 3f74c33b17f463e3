// Name buffers built from fuzzer-chosen names, name spaces, separators,
// reverse flags and repetitions, then read back: every name accepted must
// come back byte for byte with its name space and tag, with as many
// positions as GenericCountPositions promises for its scan strings, and with
// separator positions that point at the separator in the stored name. Puts
// that are refused (255 names, 255 components, 65535 bytes) must leave the
// image as it was, and the block must follow the growth rule.
//
// Input, repeated: name space, flags (bit 0 reverse, bits 1-3 first
// separator, bits 4-6 separator, bit 7 explicit length), offset of the name
// (0-3), repetitions, a 4-byte tag, a length and that many character choices.
#include "fuzz_input.h"
#include <dpxut.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/heap.h"
#include "common/le.h"
#include "names/name_buffer.h"

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

constexpr uint32_t kSpaces[] = {0,     1,     2,     3,     4,     0x100, 0x101, 0x102,
                                0x104, 0x200, 0x201, 0x202, 0x204, 0x103, 0x203, 7};
const char* const kFirst[] = {nullptr, "", ":", "::", "/", ":/", ":", ":"};
const char* const kSeparators[] = {nullptr, "", "/", "\\", ":", "//", "/\\", "/"};
constexpr char32_t kChars[] = {'a', 'b', '/', ':', '\\', '.', 0xE9, 0x65E5, 0x20AC, 'c', '/', ':'};

using Input = dpxut::fuzz::FuzzInput;

// The bytes of one character in the encoding of ns. Locale names get the
// Latin-1 byte of a character above 0x7F (any byte will do there).
void append(std::string& out, uint32_t ns, char32_t c) {
  if (HVDPIsNameSpaceUnicode(ns)) {
    uint32_t w = c;
    out.append(reinterpret_cast<const char*>(&w), 4);
  } else if (!HVDPIsNameSpaceUtf8(ns) || c < 0x80) {
    out += static_cast<char>(c < 0x100 ? c : 0xA4);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

const unsigned char kEmpty[4] = {0, 0, 0, 0};  // the empty string of every encoding

const void* separator_string(uint32_t ns, const char* key) {
  if (key == nullptr) return nullptr;
  if (*key == '\0') return kEmpty;
  return GenericString(ns, key);
}

struct Written {
  uint32_t ns, tag;
  bool reverse;
  std::string bytes;
  const void* first;
  const void* separator;
  uint16_t count;
};

// What GenericCountPositions gives for the strings the buffer scans.
uint16_t promised_count(uint32_t ns, bool reverse, const void* name, const void* first, const void* sep) {
  dpxut::HeapPtr<void> copies[3];
  const void* scan[3] = {name, first, sep};
  if (reverse)
    for (int i = 0; i < 3; ++i)
      if (scan[i] != nullptr) {
        copies[i].reset(DPstrdup(ns, scan[i]));
        check(copies[i] != nullptr && DPstrrev(ns, copies[i].get()) != nullptr);
        scan[i] = copies[i].get();
      }
  uint16_t count = 0;
  GenericCountPositions(ns, scan[1], scan[2], scan[0], &count);
  return count;
}

std::string raw_string(uint32_t ns, const void* s) {
  return s == nullptr ? std::string() : std::string(static_cast<const char*>(s), DPstrlen(ns, s));
}

// A separator position points at the separator in the stored name.
void check_separator(const Written& w, uint16_t at, const void* which) {
  const std::string sep = raw_string(w.ns, which);
  check(at + sep.size() <= w.bytes.size());
  check(w.bytes.compare(at, sep.size(), sep) == 0);
}

void check_entry(const Written& w, const HVDPDataSetName& d) {
  check(d.nameSpace == w.ns && d.nameTag == w.tag);
  check(d.nameLength == w.bytes.size());
  check(std::memcmp(d.name, w.bytes.data(), w.bytes.size()) == 0);
  check(static_cast<const unsigned char*>(d.name)[d.nameLength] == 0);
  check(d.positionCount == w.count);
  const bool with_first = w.first != nullptr && DPstrlen(w.ns, w.first) != 0;
  for (size_t i = 0; i < d.positionCount; ++i) {
    uint16_t comp, sep;
    std::memcpy(&comp, reinterpret_cast<const unsigned char*>(d.componentPositions) + 2 * i, 2);
    std::memcpy(&sep, reinterpret_cast<const unsigned char*>(d.separatorPositions) + 2 * i, 2);
    check(comp == dpxut::names::kNoPosition || comp <= d.nameLength);
    if (sep == dpxut::names::kNoPosition) continue;
    if (with_first && i == 0) {
      check_separator(w, sep, w.first);
    } else if (!(with_first && !w.reverse && sep == 0)) {  // 0: none, after a first separator
      check_separator(w, sep, w.separator);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in{data, size};
  HVDPNameBuffer* buffer = nullptr;
  HVDPNameHandle* handle = nullptr;
  std::vector<Written> written;
  bool started = false;
  while (in.left > 0) {
    const uint32_t ns = kSpaces[in.byte() % 16];
    const uint8_t flags = in.byte();
    const size_t offset = in.byte() % 4;
    const int repeat = 1 + in.byte() % 32;
    uint32_t tag = 0;
    for (int i = 0; i < 4; ++i) tag = tag << 8 | in.byte();
    std::string bytes;
    for (int n = in.byte(); n > 0; --n) append(bytes, ns, kChars[in.byte() % 12]);

    // The name at an offset chosen by the input, terminated in its encoding.
    std::vector<unsigned char> storage(offset + bytes.size() + 4, 0);
    std::memcpy(storage.data() + offset, bytes.data(), bytes.size());
    const void* name = storage.data() + offset;
    const bool reverse = flags & 1;
    const void* first = separator_string(ns, kFirst[(flags >> 1) % 8]);
    const void* sep = separator_string(ns, kSeparators[(flags >> 4) % 8]);
    const bool explicit_length = flags & 0x80;
    const uint16_t count = promised_count(ns, reverse, name, first, sep);

    for (int r = 0; r < repeat; ++r) {
      // The outcome follows from the block's state: a first put starts over
      // at offset 6, a block keeps 64 spare bytes or is resized to exactly
      // the bytes used, and nothing grows beyond 65535 bytes.
      const size_t size = buffer ? buffer->bufferSize : 1024;
      const size_t used = started ? 2 + buffer->dataSize : 6;
      const size_t needed = dpxut::names::entry_size(count, bytes.size());
      uint32_t expected = 0;
      if (started && written.size() >= 255)
        expected = HVDPUT_NO_MORE_ENTRIES;
      else if (count > 255 || (size < used + needed + 64 && used + needed > 65535))
        expected = HVDPUT_OVERFLOW;
      std::string before;
      if (expected != 0 && started)
        before.assign(reinterpret_cast<const char*>(buffer), used);

      const uint32_t length = static_cast<uint32_t>(bytes.size());
      uint32_t code;
      if (!started)
        code = explicit_length ? HVDPPutFirstLName(&buffer, ns, tag, reverse, first, sep, length, name, &handle)
                               : HVDPPutFirstName(&buffer, ns, tag, reverse, first, sep, name, &handle);
      else
        code = explicit_length ? HVDPPutNextLName(&buffer, &handle, ns, tag, reverse, first, sep, length, name)
                               : HVDPPutNextName(&buffer, &handle, ns, tag, reverse, first, sep, name);
      check(code == expected);
      check(buffer != nullptr && handle != nullptr);
      started = true;
      if (code == 0) {
        written.push_back({ns, tag, reverse, bytes, first, sep, count});
        check(buffer->dataSize == used + needed - 2);
      } else if (!before.empty()) {
        check(before == std::string(reinterpret_cast<const char*>(buffer), 2 + buffer->dataSize));
      }
      // The growth rule: 1024 until it is too small, then exactly the bytes used.
      check(buffer->bufferSize == 1024 || buffer->bufferSize == 2 + buffer->dataSize);
    }
  }
  if (handle != nullptr) check(HVDPCloseName(&handle) == 0);
  if (buffer == nullptr) return 0;

  check(buffer->nameCount == written.size());
  check(dpxut::names::check_image(buffer) == 0);
  HVDPDataSetName d{};
  size_t i = 0;
  for (uint32_t code = HVDPGetFirstName(buffer, &d, &handle); code == 0; code = HVDPGetNextName(&handle, &d), ++i) {
    check(i < written.size());
    check_entry(written[i], d);
  }
  check(i == written.size() && handle == nullptr);
  std::free(buffer);
  return 0;
}
