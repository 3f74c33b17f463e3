// Runs the five path fixers over any path in every class of name space.
// Byte 0 picks the name space, byte 1 the shape of the call (bits 0-1: the
// path's offset from an aligned start, so wide text sits anywhere; bit 2:
// wildLastComponent; bit 3: with dest / record). The rest is the path: in
// the locale and UTF-8 name spaces its bytes up to the first NUL; in the
// wide ones one character per byte (bytes from 0x80 on become U+0100 +
// byte). The path sits in a heap block that ends right after its
// terminator, and dest in one that holds exactly the path, one separator
// and the terminator: a write past either faults. The bytes before them
// must stay as they were, dest must be untouched unless it is the result,
// and a result must be null, the path, dest or the record's text.
#include <clocale>
#include <cstdint>
#include <cstring>
#include <vector>

#include "dpxut.h"

namespace {

void check(bool ok) {
  if (!ok) __builtin_trap();
}

const uint32_t kNameSpaces[] = {0,     1,     2,     3,     4,     0x100, 0x101, 0x102,
                                0x104, 0x200, 0x201, 0x202, 0x204, 0x103, 0x203, 5};
constexpr unsigned char kFill = 0xA5;

// A string of `units` characters and its terminator at `offset` bytes into
// a block that ends right after them (plus `spare` more units).
struct Placed {
  std::vector<unsigned char> block;
  size_t offset;
  Placed(const std::vector<unsigned char>& text, size_t unit, size_t offset, size_t spare)
      : block(offset + text.size() + unit + spare * unit, kFill), offset(offset) {
    if (!text.empty()) std::memcpy(block.data() + offset, text.data(), text.size());
    std::memset(block.data() + offset + text.size(), 0, unit);
  }
  unsigned char* p() { return block.data() + offset; }
  bool lead_intact() const {
    for (size_t i = 0; i < offset; ++i)
      if (block[i] != kFill) return false;
    return true;
  }
};

// The path's bytes in the encoding of ns, without a terminator.
std::vector<unsigned char> encode(uint32_t ns, const uint8_t* data, size_t size) {
  std::vector<unsigned char> out;
  for (size_t i = 0; i < size && data[i] != 0; ++i) {
    if (!HVDPIsNameSpaceUnicode(ns)) {
      out.push_back(data[i]);
      continue;
    }
    const wchar_t c = data[i] < 0x80 ? data[i] : 0x100 + data[i];
    const auto* b = reinterpret_cast<const unsigned char*>(&c);
    out.insert(out.end(), b, b + 4);
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Upper-casing follows the locale: use a UTF-8 one when the test locales
  // are reachable (LOCPATH), so capitals of any length occur.
  if (std::setlocale(LC_ALL, "en_US.UTF-8") != nullptr) DPInitUniLibrary("UTF-8");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint32_t ns = kNameSpaces[data[0] % (sizeof kNameSpaces / sizeof kNameSpaces[0])];
  const size_t offset = data[1] & 3;
  const uint16_t wild = (data[1] >> 2) & 1;
  const bool with_out = (data[1] & 8) != 0;
  const size_t unit = DPsizeOfChar(ns);

  for (int fixer = 0; fixer < 5; ++fixer) {
    const uint32_t fns = fixer == 0 ? 0 : ns;  // HVDPFixDOSPath works on bytes
    const size_t funit = fixer == 0 ? 1 : unit;
    const std::vector<unsigned char> text = encode(fns, data + 2, size - 2);
    Placed path(text, funit, offset, 0);
    Placed dest({}, funit, (offset + 1) & 3, text.size() / funit + 1);
    const std::vector<unsigned char> dest_before = dest.block;
    HVDPStringBuffer* record = nullptr;
    HVDPStringBuffer** buffer = with_out ? &record : nullptr;
    void* out = with_out ? dest.p() : nullptr;

    void* result = nullptr;
    switch (fixer) {
      case 0: result = HVDPFixDOSPath(reinterpret_cast<char*>(path.p()), static_cast<char*>(out)); break;
      case 1: result = HVDPGenericFixDOSPath(fns, path.p(), out); break;
      case 2: result = HVDPFixGenericDOSPath(fns, path.p(), out); break;
      case 3: result = HVDPFixDirectoryPath(path.p(), fns, buffer, wild); break;
      case 4: result = HVDPFixGenericDirectoryPath(path.p(), fns, buffer, wild); break;
    }

    check(path.lead_intact() && dest.lead_intact());
    const size_t fixed = DPstrlen(fns, path.p());
    check(fixed <= text.size());
    if (fixer <= 2) {
      check(result == path.p() || (with_out && result == dest.p()));
      if (result == dest.p()) {
        // dest holds the fixed path and one separator.
        check(DPstrlen(fns, dest.p()) == fixed + funit);
        check(std::memcmp(dest.p(), path.p(), fixed) == 0);
        check(DPcheckChar(fns, dest.p() + fixed, GenericChar(fns, '/')));
      } else {
        check(dest.block == dest_before);
      }
      // UTF-8 searches step by characters: in invalid UTF-8 a removal can
      // move a backslash out of a bogus sequence that hid it before.
      if (!HVDPIsNameSpaceUtf8(fns)) check(DPstrchr(fns, path.p(), GenericChar(fns, '\\')) == nullptr);
      if (fixer == 1) check(DPstrstr(fns, path.p(), GenericString(fns, "//")) == nullptr);
    } else {
      check(result == nullptr || result == path.p() || (record != nullptr && result == record->text));
      check(dest.block == dest_before);
    }
    HVDPFreeGenericString(&record);
  }
  return 0;
}
