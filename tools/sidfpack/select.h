// Selecting entries by pattern: a pattern selects the names it matches and
// everything below them; patterns that selected nothing are reported.
#pragma once

#include <string>
#include <vector>

#include "context.h"

namespace sidfpack {

class Selection {
 public:
  Selection(const std::vector<std::string>& patterns, bool dos);
  bool selects(const std::string& name);
  // "PATTERN: not found in the stream" for each unused one (exit status 1).
  void report_unused(Context& c) const;

 private:
  bool match_one(const std::string& pattern, const std::string& name) const;
  bool matches(const std::string& pattern, const std::string& name) const;

  bool dos_;  // --dos-wildcards: the enhanced matcher
  std::vector<std::string> patterns_;
  std::vector<bool> used_;
};

}  // namespace sidfpack
