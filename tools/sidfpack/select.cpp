// Selecting entries by pattern (see select.h).
#include "select.h"

#include <dpxut.h>

#include "../common/text.h"

namespace sidfpack {

Selection::Selection(const std::vector<std::string>& patterns, bool dos) : dos_(dos) {
  for (std::string p : patterns) {
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    patterns_.push_back(p);
  }
  used_.assign(patterns_.size(), false);
}

bool Selection::selects(const std::string& name) {
  if (patterns_.empty()) return true;
  bool any = false;
  for (size_t i = 0; i < patterns_.size(); ++i) {
    if (matches(patterns_[i], name)) {
      used_[i] = true;
      any = true;
    }
  }
  return any;
}

void Selection::report_unused(Context& c) const {
  for (size_t i = 0; i < patterns_.size(); ++i) {
    if (!used_[i]) {
      message(c, "%s: not found in the stream", dpxtool::shown(patterns_[i]).c_str());
      c.fail(1);
    }
  }
}

bool Selection::match_one(const std::string& pattern, const std::string& name) const {
  if (dos_) return HVDPWildMatch(pattern.c_str(), name.c_str()) == 1;
  return HVDPMatchName(0, pattern.c_str(), name.c_str(), 0) == HVDP_MATCH;
}

// The name itself or any folder above it.
bool Selection::matches(const std::string& pattern, const std::string& name) const {
  if (match_one(pattern, name)) return true;
  for (size_t slash = name.find('/'); slash != std::string::npos; slash = name.find('/', slash + 1))
    if (match_one(pattern, name.substr(0, slash))) return true;
  return false;
}

}  // namespace sidfpack
