// Walking the target folder by descriptors (see restore_tree.h).
#include "restore_tree.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "../common/text.h"

namespace sidfpack {

using dpxtool::format;
using dpxtool::shown;

bool clean_name(std::string_view path, std::string& out) {
  out.clear();
  return for_each_component(path, [&](std::string_view part) {
    if (!out.empty()) out += '/';
    out += part;
  });
}

int open_target(Context& c) {
  const std::string dir = c.opt.directory.empty() ? "." : c.opt.directory;
  const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) message(c, "%s: %s", shown(dir).c_str(), std::strerror(errno));
  return fd;
}

bool split_name(const std::string& name, std::vector<std::string>& parts, std::string& why) {
  if (name.find('\0') != std::string::npos) {
    why = "name holds a zero byte";
    return false;
  }
  if (!name.empty() && name[0] == '/') {
    why = "refusing an absolute name";
    return false;
  }
  if (!for_each_component(name, [&](std::string_view part) { parts.emplace_back(part); })) {
    why = "refusing a name with '..'";
    return false;
  }
  if (parts.empty()) {
    why = "empty name";
    return false;
  }
  return true;
}

int DirWalk::open_one(int at, const std::string& name, bool create, std::string& why) {
  constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
  int fd = openat(at, name.c_str(), kFlags);
  if (fd < 0 && errno == ENOENT && create) {
    if (mkdirat(at, name.c_str(), 0777) != 0 && errno != EEXIST) {
      why = format("cannot create folder %s: %s", shown(name).c_str(), std::strerror(errno));
      return -1;
    }
    fd = openat(at, name.c_str(), kFlags);
  }
  if (fd < 0) {
    const int err = errno;
    struct stat st {};
    if (fstatat(at, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode))
      why = format("refusing to write through the symbolic link %s", shown(name).c_str());
    else
      why = format("%s: %s", shown(name).c_str(), std::strerror(err));
  }
  return fd;
}

void DirWalk::cut(size_t depth) {
  while (names_.size() > depth) {
    if (fds_.back() >= 0) {
      close(fds_.back());
      --open_;
    }
    fds_.pop_back();
    names_.pop_back();
  }
}

int DirWalk::parent(const std::vector<std::string>& parts, bool create, std::string& why) {
  const size_t want = parts.size() - 1;
  size_t same = 0;
  while (same < names_.size() && same < want && names_[same] == parts[same]) ++same;
  cut(same);
  // Closed folders form a prefix of the chain: go on from the deepest open
  // one (or the target) and open again what lies between.
  size_t from = same;
  while (from > 0 && fds_[from - 1] < 0) --from;
  int at = from > 0 ? fds_[from - 1] : root_;
  for (size_t i = from; i < want; ++i) {
    const int fd = open_one(at, parts[i], create, why);
    if (fd < 0) {
      cut(i);
      return -1;
    }
    if (i < names_.size()) {
      fds_[i] = fd;
    } else {
      names_.push_back(parts[i]);
      fds_.push_back(fd);
    }
    ++open_;
    at = fd;
    for (size_t k = 0; open_ > kMaxOpen && k < i; ++k) {
      if (fds_[k] < 0) continue;
      close(fds_[k]);
      fds_[k] = -1;
      --open_;
    }
  }
  return at;
}

}  // namespace sidfpack
