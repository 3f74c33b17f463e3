// Member names as the tools make and check them, and the folders extract
// works in, reached from the target folder one
// component at a time with O_NOFOLLOW, so no name and no symbolic link
// leads outside it, and at any depth (no path is ever longer than one
// component). The chain of folders of the last entry stays open: the next
// entry costs one openat per component that differs. Descriptors of the
// shallowest folders of a very deep chain are closed and opened again when
// needed, so a deep tree does not run out of descriptors.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "context.h"

namespace sidfpack {

// Calls f(component) for each component of a /-separated name, leaving out
// empty and "." ones; false, at once, on a ".." component.
template <class F>
bool for_each_component(std::string_view name, F&& f) {
  for (size_t i = 0; i <= name.size();) {
    size_t j = name.find('/', i);
    if (j == std::string_view::npos) j = name.size();
    const std::string_view part = name.substr(i, j - i);
    i = j + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") return false;
    f(part);
  }
  return true;
}

// The member name create and convert store for a path: its components
// joined by single slashes, relative (empty for "." or "/"). False on "..".
bool clean_name(std::string_view path, std::string& out);

// The target folder of extract and diff (-C, else "."), opened; -1 when it
// cannot be, reported.
int open_target(Context& c);

// Splits a stored name into components. False (with the reason in why) for
// names that would lead outside the target: absolute, with "..", with a
// zero byte, or empty.
bool split_name(const std::string& name, std::vector<std::string>& parts, std::string& why);

// The name create -g gives the top folder of an operand such as "." (it
// carries that folder's list of names): the target folder itself.
inline bool names_top(const std::string& name, uint32_t type) { return name == "." && type == S_IFDIR; }

class DirWalk {
 public:
  explicit DirWalk(int root) : root_(root) {}
  ~DirWalk() { cut(0); }
  DirWalk(const DirWalk&) = delete;
  DirWalk& operator=(const DirWalk&) = delete;

  // The folder that holds parts.back() (a descriptor the walk keeps), its
  // missing folders made (mode 0777 less the umask) when `create`; -1 with
  // the reason in why.
  int parent(const std::vector<std::string>& parts, bool create, std::string& why);

 private:
  int open_one(int at, const std::string& name, bool create, std::string& why);
  void cut(size_t depth);

  static constexpr size_t kMaxOpen = 64;
  int root_;
  std::vector<std::string> names_;  // the chain: names_[i] is a folder of names_[i - 1]
  std::vector<int> fds_;            // open on names_[0..i], or -1 when closed
  size_t open_ = 0;                 // descriptors held in fds_
};

}  // namespace sidfpack
