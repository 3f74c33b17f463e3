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
#include <dpxut.h>

#include <string_view>
#include <vector>

#include "common/le.h"
#include "fuzz_input.h"
#include "names/name_buffer.h"

constexpr uint32_t kSpaces[] = {0, 1, 2, 3, 4, 0x100, 0x101, 0x102, 0x104, 0x200, 0x201, 0x202, 0x204, 0x103, 0x203, 7};
static const char* const kFirst[] = {nullptr, "", ":", "::", "/", ":/", ":", ":"};
static const char* const kSeparators[] = {nullptr, "", "/", "\\", ":", "//", "/\\", "/"};
// The characters of names: wide, in UTF-8, and as a locale byte (any byte
// will do for those above 0x7F).
constexpr char32_t kChars[] = U"ab/:\\.é日€c/:";
constexpr const char* kUtf[] = {"a", "b", "/", ":", "\\", ".", "é", "日", "€", "c", "/", ":"};
constexpr char kLocale[] = "ab/:\\.\xE9\xA4\xA4\x63/:";
static const unsigned char kEmpty[4] = {};  // the empty string of every encoding

static std::string character(uint32_t ns, int k) {
  if (HVDPIsNameSpaceUnicode(ns)) return std::string(reinterpret_cast<const char*>(kChars + k), 4);
  return HVDPIsNameSpaceUtf8(ns) ? kUtf[k] : std::string(1, kLocale[k]);
}

struct Written {
  uint32_t ns, tag, count, reverse;
  std::string bytes;
  const void *first, *separator;
};

static const void* scan_string(uint32_t ns, const char* k) { return !k ? nullptr : *k ? GenericString(ns, k) : kEmpty; }

static std::string raw(uint32_t ns, const void* s) {
  return s ? std::string(static_cast<const char*>(s), DPstrlen(ns, s)) : "";
}

static void check_entry(const Written& w, const HVDPDataSetName& d) {
  check(d.nameSpace == w.ns && d.nameTag == w.tag && d.positionCount == w.count &&
            std::string(static_cast<const char*>(d.name), d.nameLength + 1) == w.bytes + '\0',
        "an entry as written");
  const bool with_first = !raw(w.ns, w.first).empty();
  for (size_t i = 0; i < d.positionCount; ++i) {
    const uint16_t comp = dpxut::load_le16(d.componentPositions + i), sep = dpxut::load_le16(d.separatorPositions + i);
    check(comp == dpxut::names::kNoPosition || comp <= d.nameLength, "component position inside the name");
    // 0 after a first separator stands for none.
    if (sep == dpxut::names::kNoPosition || (with_first && i != 0 && !w.reverse && sep == 0)) continue;
    const std::string s = raw(w.ns, with_first && i == 0 ? w.first : w.separator);
    check(sep + s.size() <= w.bytes.size() && w.bytes.compare(sep, s.size(), s) == 0, "a separator position");
  }
}

void fuzz(const uint8_t* data, size_t size) {
  FuzzInput in{data, size};
  HVDPNameBuffer* buffer = nullptr;
  HVDPNameHandle* handle = nullptr;
  std::vector<Written> written;
  while (in.left > 0) {
    const uint32_t ns = kSpaces[in.byte() % 16], flags = in.byte(), offset = in.byte() % 4, repeat = 1 + in.byte() % 32,
                   tag = in.number(4, true);
    std::string bytes;
    for (int n = in.byte(); n > 0; --n) bytes += character(ns, in.byte() % 12);
    // The name at an offset chosen by the input, terminated in its encoding.
    const Block name(bytes.size() + 4, offset, bytes.data(), bytes.size());
    const bool reverse = flags & 1, explicit_length = flags & 0x80;
    const void* first = scan_string(ns, kFirst[(flags >> 1) % 8]);
    const void* sep = scan_string(ns, kSeparators[(flags >> 4) % 8]);
    // The count GenericCountPositions gives for the strings the buffer scans
    // (reversed copies of them for a reversed name).
    std::string copies[3];
    const void* scan[3] = {name.at, first, sep};
    for (int i = 0; i < 3 && reverse; ++i)
      if (scan[i] != nullptr)
        check((scan[i] = DPstrrev(ns, (copies[i] = raw(ns, scan[i]) + std::string(4, '\0')).data())), "reversed");
    uint16_t count = 0;
    GenericCountPositions(ns, scan[1], scan[2], scan[0], &count);
    const uint32_t len = bytes.size(), needed = dpxut::names::entry_size(count, len);
    for (uint32_t r = 0; r < repeat; ++r) {
      // The outcome follows from the block's state: a first put starts over
      // at offset 6, a block keeps 64 spare bytes or is resized to exactly
      // the bytes used, and nothing grows beyond 65535 bytes.
      const size_t room = buffer ? buffer->bufferSize : 1024, used = buffer ? 2 + buffer->dataSize : 6;
      const uint32_t expected = buffer && written.size() >= 255 ? HVDPUT_NO_MORE_ENTRIES
                                : count > 255 || (room < used + needed + 64 && used + needed > 65535) ? HVDPUT_OVERFLOW
                                                                                                      : 0;
      const std::string before = expected && buffer ? std::string(reinterpret_cast<const char*>(buffer), used) : "";
      const uint32_t code =
          !buffer && explicit_length ? HVDPPutFirstLName(&buffer, ns, tag, reverse, first, sep, len, name.at, &handle)
          : !buffer                  ? HVDPPutFirstName(&buffer, ns, tag, reverse, first, sep, name.at, &handle)
          : explicit_length          ? HVDPPutNextLName(&buffer, &handle, ns, tag, reverse, first, sep, len, name.at)
                                     : HVDPPutNextName(&buffer, &handle, ns, tag, reverse, first, sep, name.at);
      if (code == 0) written.push_back({ns, tag, count, reverse, bytes, first, sep});
      // The growth rule: 1024 until it is too small, then exactly the bytes used.
      const auto after = buffer ? std::string_view(reinterpret_cast<const char*>(buffer), 2 + buffer->dataSize) : "";
      check(code == expected && buffer != nullptr && handle != nullptr &&
                (code != 0 || after.size() == used + needed) && (before.empty() || before == after) &&
                (buffer->bufferSize == 1024 || buffer->bufferSize == after.size()),
            "the put's code, the entry's size, a refused put leaves the image, the growth rule");
    }
  }
  if (handle != nullptr) check(HVDPCloseName(&handle) == 0, "close");
  if (buffer == nullptr) return;
  check(buffer->nameCount == written.size() && dpxut::names::check_image(buffer) == 0, "a sound image");
  HVDPDataSetName d{};
  size_t i = 0;
  for (uint32_t code = HVDPGetFirstName(buffer, &d, &handle); code == 0; code = HVDPGetNextName(&handle, &d), ++i)
    check_entry(written.at(i), d);  // no more entries than written
  check(i == written.size() && handle == nullptr, "every entry read");
  std::free(buffer);
}
