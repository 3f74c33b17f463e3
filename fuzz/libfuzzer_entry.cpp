// libFuzzer's entry point for a target's fuzz() (see fuzz_input.h).
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz(data, size);
  return 0;
}
