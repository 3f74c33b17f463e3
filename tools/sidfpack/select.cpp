// Selecting entries by pattern (see select.h).
#include "select.h"

#include <dpxut.h>

#include <algorithm>

#include "../common/text.h"

namespace sidfpack {
namespace {

bool ascii(const std::string& s) {
  return std::all_of(s.begin(), s.end(), [](char ch) { return static_cast<unsigned char>(ch) < 0x80; });
}

bool ends_with(const std::string& s, size_t end, const std::string& tail) {
  return end >= tail.size() && s.compare(end - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

// Each literal character of a pattern consumes one equal character of the
// name, in order, and '?' one character of any kind; '*' any run. So a name
// a pattern matches starts with the text before the first wildcard, holds
// the texts between wildcards in order, and ends with the text after the
// last. The enhanced matcher compares seven bits of each character's first
// byte: that holds there only where both strings are ASCII.
Pattern::Pattern(std::string text, bool dos) : text_(std::move(text)), dos_(dos) {
  while (text_.size() > 1 && text_.back() == '/') text_.pop_back();
  has_slash_ = text_.find('/') != std::string::npos;
  literal_ok_ = !dos_ || ascii(text_);
  std::vector<std::string> parts(1);
  for (char ch : text_) {
    if (ch == '*' || ch == '?') {
      wild_ = true;
      parts.emplace_back();
    } else {
      parts.back() += ch;
    }
  }
  head_ = parts.front();
  if (parts.size() > 1) tail_ = parts.back();
  for (size_t i = 1; i + 1 < parts.size(); ++i)
    if (!parts[i].empty()) middle_.push_back(parts[i]);
}

bool Pattern::match(const char* name) const {
  if (dos_) return HVDPWildMatch(text_.c_str(), name) == 1;
  return HVDPMatchName(0, text_.c_str(), name, 0) == HVDP_MATCH;
}

// Every prefix ending before a '/', one match each: for the enhanced
// matcher on names beyond ASCII.
bool Pattern::prefixes_slow(const std::string& name) const {
  std::string b = name;
  for (size_t k = b.find('/'); k != std::string::npos; k = b.find('/', k + 1)) {
    b[k] = '\0';
    if (match(b.c_str())) return true;
    b[k] = '/';
  }
  return false;
}

bool Pattern::covers(const std::string& name) const {
  if (match(name.c_str())) return true;
  if (name.find('/') == std::string::npos) return false;
  const bool filter = literal_ok_ && (!dos_ || ascii(name));
  if (!filter) return prefixes_slow(name);
  if (!wild_)
    return name.size() > text_.size() && name[text_.size()] == '/' && name.compare(0, text_.size(), text_) == 0;
  if (name.compare(0, head_.size(), head_) != 0) return false;
  size_t at = head_.size();
  for (const std::string& m : middle_) {
    at = name.find(m, at);
    if (at == std::string::npos) return false;
    at += m.size();
  }
  std::string b;
  for (size_t k = name.find('/', at + tail_.size()); k != std::string::npos; k = name.find('/', k + 1)) {
    if (!ends_with(name, k, tail_)) continue;
    if (b.empty()) b = name;
    b[k] = '\0';
    if (match(b.c_str())) return true;
    b[k] = '/';
  }
  return false;
}

bool Pattern::covers_component(const std::string& name) const {
  if (has_slash_) return covers(name);
  const bool filter = literal_ok_ && (!dos_ || ascii(name));
  std::string part;
  for (size_t i = 0; i <= name.size();) {
    size_t j = name.find('/', i);
    if (j == std::string::npos) j = name.size();
    if (!filter || (wild_ ? ends_with(name, j, tail_) : j - i == text_.size())) {
      part.assign(name, i, j - i);
      if (match(part.c_str())) return true;
    }
    i = j + 1;
  }
  return false;
}

Exclusion::Exclusion(const std::vector<std::string>& patterns, bool dos) {
  for (const std::string& p : patterns) patterns_.emplace_back(p, dos);
}

bool Exclusion::excludes(const std::string& name) const {
  for (const Pattern& p : patterns_)
    if (p.covers_component(name)) return true;
  return false;
}

Selection::Selection(const Options& opt) : exclusion_(opt.excludes, opt.dos_wildcards) {
  for (const std::string& p : opt.operands) patterns_.emplace_back(p, opt.dos_wildcards);
  used_.assign(patterns_.size(), false);
}

bool Selection::selects(const std::string& name) {
  if (exclusion_.excludes(name)) return false;
  if (patterns_.empty()) return true;
  bool any = false;
  for (size_t i = 0; i < patterns_.size(); ++i) {
    if (patterns_[i].covers(name)) {
      used_[i] = true;
      any = true;
    }
  }
  return any;
}

void Selection::report_unused(Context& c) const {
  for (size_t i = 0; i < patterns_.size(); ++i) {
    if (!used_[i]) {
      message(c, "%s: not found in the stream", dpxtool::shown(patterns_[i].text()).c_str());
      c.fail(1);
    }
  }
}

}  // namespace sidfpack
