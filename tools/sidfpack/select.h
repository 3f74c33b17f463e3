// Selecting entries by pattern: a PATTERN selects the names it matches and
// everything below them, --exclude leaves names out with what lies below
// them; patterns that selected nothing are reported.
//
// '*' matches across '/', so "everything below" means: the pattern matches
// the name or one of its prefixes that end before a '/'. Trying each prefix
// costs a match per component; a pattern's literal parts (the text before
// its first wildcard, between wildcards, after its last) must appear in any
// name it matches, in order, so only prefixes ending in the last part and
// long enough to hold the others are tried, found in one pass over the name.
#pragma once

#include <string>
#include <vector>

#include "context.h"

namespace sidfpack {

// One pattern, with what is known about it beforehand.
class Pattern {
 public:
  Pattern(std::string text, bool dos);
  const std::string& text() const { return text_; }
  // The pattern matches the name or one of its prefixes ending before a '/'.
  bool covers(const std::string& name) const;
  // The pattern matches one of the name's components (or, for a pattern
  // with a '/', covers the name).
  bool covers_component(const std::string& name) const;

 private:
  bool match(const char* name) const;
  bool prefixes_slow(const std::string& name) const;

  std::string text_;
  bool dos_;                // --dos-wildcards: the enhanced matcher
  bool wild_ = false;       // holds a '*' or '?'
  bool literal_ok_ = true;  // the literal parts filter tries (see above)
  bool has_slash_ = false;
  std::string head_, tail_;
  std::vector<std::string> middle_;
};

// --exclude: a pattern without a '/' leaves out every name with a component
// it matches (as GNU tar's unanchored default does, "*.o" or ".git" at any
// depth); one with a '/' leaves out the names it covers.
class Exclusion {
 public:
  Exclusion(const std::vector<std::string>& patterns, bool dos);
  bool excludes(const std::string& name) const;
  bool empty() const { return patterns_.empty(); }

 private:
  std::vector<Pattern> patterns_;
};

class Selection {
 public:
  // The command line's PATTERNs and --exclude patterns.
  explicit Selection(const Options& opt);
  bool selects(const std::string& name);
  // "PATTERN: not found in the stream" for each unused one (exit status 1).
  void report_unused(Context& c) const;

 private:
  std::vector<Pattern> patterns_;
  std::vector<bool> used_;
  Exclusion exclusion_;
};

}  // namespace sidfpack
