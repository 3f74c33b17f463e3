// Text that begins right after a page without access, so that reading a
// single byte before its start faults: the counterpart of GuardedBytes for
// functions that step backwards. Built on GuardedBytes: of its two pages
// the first is closed, the text starts the second.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string_view>

#include "support/guard_page.h"

namespace dpxut::test {

class GuardedFront {
 public:
  // The bytes of `text` (at most one page), first byte just above the
  // closed page.
  explicit GuardedFront(std::string_view text) : pages_(2 * page_size()) {
    if (text.size() > page_size() || ::mprotect(pages_.data(), page_size(), PROT_NONE) != 0) std::abort();
    std::memcpy(data(), text.data(), text.size());
  }

  unsigned char* data() { return pages_.data() + page_size(); }
  char* chars() { return reinterpret_cast<char*>(data()); }

 private:
  static size_t page_size() { return static_cast<size_t>(::sysconf(_SC_PAGESIZE)); }
  GuardedBytes pages_;  // two whole pages: page-aligned, the second ends at the guard
};

}  // namespace dpxut::test
