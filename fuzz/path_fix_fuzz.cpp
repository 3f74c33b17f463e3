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
#include <vector>

#include "dpxut.h"
#include "fuzz_input.h"

constexpr uint32_t kSpaces[] = {0, 1, 2, 3, 4, 0x100, 0x101, 0x102, 0x104, 0x200, 0x201, 0x202, 0x204, 0x103, 0x203, 5};

// `text` and a terminator of `unit` bytes, `offset` bytes into a block of
// 0xA5 bytes that ends `spare` units after them.
static std::vector<uint8_t> placed(const std::string& text, size_t unit, size_t offset, size_t spare) {
  std::vector<uint8_t> block(offset + text.size() + unit + spare * unit, 0xA5);
  std::copy(text.begin(), text.end(), block.begin() + offset);
  std::fill_n(block.begin() + offset + text.size(), unit, 0);
  return block;
}

void fuzz(const uint8_t* data, size_t size) {
  // Upper-casing follows the locale: use a UTF-8 one when the test locales
  // are reachable (LOCPATH), so capitals of any length occur.
  [[maybe_unused]] static const bool utf8 = std::setlocale(LC_ALL, "en_US.UTF-8") && !DPInitUniLibrary("UTF-8");
  if (size < 2) return;
  const uint32_t ns = kSpaces[data[0] % 16], offset = data[1] & 3, dest_offset = (offset + 1) & 3,
                 wild = (data[1] >> 2) & 1, with_out = data[1] & 8;
  const std::string chars = FuzzInput{data + 2, size - 2}.until_nul();
  for (int fixer = 0; fixer < 5; ++fixer) {
    const uint32_t fns = fixer == 0 ? 0 : ns;  // HVDPFixDOSPath works on bytes
    const size_t unit = DPsizeOfChar(fns);
    std::string text;  // the path in the encoding of fns: wide units c or 0x100 + c, little-endian
    for (const uint8_t c : chars)
      text += unit == 1 ? std::string(1, c) : std::string{static_cast<char>(c), c >= 0x80, 0, 0};
    std::vector<uint8_t> path_block = placed(text, unit, offset, 0),
                         dest_block = placed("", unit, dest_offset, text.size() / unit + 1);
    const std::vector<uint8_t> dest_before = dest_block;
    uint8_t *path = path_block.data() + offset, *dest = with_out ? dest_block.data() + dest_offset : nullptr;
    HVDPStringBuffer* record = nullptr;
    void* result = fixer == 0   ? HVDPFixDOSPath(reinterpret_cast<char*>(path), reinterpret_cast<char*>(dest))
                   : fixer == 1 ? HVDPGenericFixDOSPath(fns, path, dest)
                   : fixer == 2 ? HVDPFixGenericDOSPath(fns, path, dest)
                   : fixer == 3 ? HVDPFixDirectoryPath(path, fns, with_out ? &record : nullptr, wild)
                                : HVDPFixGenericDirectoryPath(path, fns, with_out ? &record : nullptr, wild);
    const size_t fixed = DPstrlen(fns, path);
    check(std::memcmp(path_block.data(), "\xA5\xA5\xA5", offset) == 0 &&
              std::memcmp(dest_block.data(), "\xA5\xA5\xA5", dest_offset) == 0 && fixed <= text.size(),
          "bytes before path and dest kept; a fix never lengthens the path");
    check(fixer > 2 ? result == nullptr || result == path || (record != nullptr && result == record->text)
                    : result == path || (dest && result == dest),
          "the result is the path, dest or the record's text");
    // dest holds the fixed path and one separator, or is untouched.
    check(result && result == dest ? DPstrlen(fns, dest) == fixed + unit && std::memcmp(dest, path, fixed) == 0 &&
                                         DPcheckChar(fns, dest + fixed, GenericChar(fns, '/'))
                                   : dest_block == dest_before,
          "dest");
    // UTF-8 searches step by characters: in invalid UTF-8 a removal can
    // move a backslash out of a bogus sequence that hid it before.
    check(fixer > 2 || HVDPIsNameSpaceUtf8(fns) || DPstrchr(fns, path, GenericChar(fns, '\\')) == nullptr,
          "no backslash left");
    check(fixer != 1 || DPstrstr(fns, path, GenericString(fns, "//")) == nullptr, "no doubled slash left");
    HVDPFreeGenericString(&record);
  }
}
