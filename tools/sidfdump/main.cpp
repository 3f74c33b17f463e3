// sidfdump: prints a SIDF stream field by field — offset, identifier, size
// form, size and data — with sections indented between their head and
// closing fields, pad sections jumped over, and check values verified.
// Media, session and record headers are also shown decoded, as the
// library's readers see them (names as text whatever their encoding), and a
// record's data is passed over by its length.
// Reads a file, or standard input for "-"; without arguments it dumps a
// sample stream that it writes with the library. Uses only dpxut.h and the
// helpers the tools share (tools/common).
//
// Exit status: 0 for a clean stream, 1 when the stream has faults (a field
// cut by the end of input, an unclosed section, a wrong check value) or the
// input holds no stream (nothing, zeros, bytes without a section), 2 for
// usage or I/O errors. Text is shown as UTF-8 with controls escaped (C0 and
// invalid bytes as \xXX; C1, bidirectional and line separator characters as
// \u{XXXX}).
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "dump.h"

namespace {

int usage() {
  std::fprintf(stderr,
               "usage: sidfdump [FILE | -]\n"
               "Prints a SIDF stream field by field; without FILE, a sample stream.\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 2) return usage();
  if (argc == 2 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0)) return usage() - 2;
  if (argc == 1) {
    std::vector<uint8_t> sample = sidfdump::build_sample();
    FILE* in = sample.empty() ? nullptr : fmemopen(sample.data(), sample.size(), "rb");
    if (in == nullptr) {
      std::fprintf(stderr, "sidfdump: cannot build the sample stream\n");
      return 2;
    }
    std::printf("sample stream, %zu bytes, written with libdpxut\n", sample.size());
    const int rc = sidfdump::dump(in, "sample");
    std::fclose(in);
    return rc;
  }
  const bool from_stdin = std::strcmp(argv[1], "-") == 0;
  FILE* in = from_stdin ? stdin : std::fopen(argv[1], "rb");
  if (in == nullptr) {
    std::fprintf(stderr, "sidfdump: %s: %s\n", argv[1], std::strerror(errno));
    return 2;
  }
  const int rc = sidfdump::dump(in, from_stdin ? "<stdin>" : argv[1]);
  if (!from_stdin) std::fclose(in);
  return rc;
}
