// sidfpack diff: compares the stream's entries with the file system.
#include "context.h"

namespace sidfpack {

int run_diff(Context& c, int) {
  message(c, "diff: not built yet");
  return 2;
}

}  // namespace sidfpack
