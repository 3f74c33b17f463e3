// The per-thread record of conv_memo.h.
#include "charset/conv_memo.h"

namespace dpxut::charset {
namespace {

constinit thread_local Memo tl_memo{};

}  // namespace

Memo& thread_memo() noexcept { return tl_memo; }

}  // namespace dpxut::charset
