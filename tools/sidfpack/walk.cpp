// The walk of create (see walk.h). Every file is reached by its name in
// its parent's descriptor (openat/fstatat with O_NOFOLLOW), never by a
// path, so depth is bounded by memory alone; regular files and directories
// are opened first and then described with fstat, one status call each.
#include "walk.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "../common/text.h"
#include "incremental.h"  // -g

namespace sidfpack {
namespace {

using dpxtool::shown;

constexpr int kOpenFile = O_RDONLY | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC | O_NONBLOCK;
constexpr int kOpenDir = O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_DIRECTORY;

}  // namespace

Walker::Walker(Context& c, WalkVisitor& v) : c_(c), v_(v), exclusion_(c.opt.excludes, c.opt.dos_wildcards) {}

Walker::~Walker() {
  for (Frame& f : frames_) close_frame(f);
}

void Walker::close_frame(Frame& f) {
  if (f.fd >= 0) close(f.fd);
  f.fd = -1;
}

void Walker::problem(const char* what) {
  message(c_, "%s: %s", shown(path_).c_str(), what);
  c_.fail(1);
}

bool Walker::excluded() const { return !exclusion_.empty() && !member_.empty() && exclusion_.excludes(member_); }

// Finds the item's status and, for a regular file or directory, opens it.
// A type from the directory saves the fstatat; the descriptor's own status
// is what counts. item.st.st_mode stays 0 when the item is gone (reported).
void Walker::find(WalkItem& item, unsigned char type) {
  if (type == DT_REG || type == DT_DIR) {
    const int fd = openat(item.dirfd, item.name, type == DT_DIR ? kOpenDir : kOpenFile);
    if (fd >= 0 && fstat(fd, &item.st) == 0 && (S_ISREG(item.st.st_mode) || S_ISDIR(item.st.st_mode))) {
      item.fd = fd;
      return;
    }
    if (fd >= 0) close(fd);
  }
  if (fstatat(item.dirfd, item.name, &item.st, AT_SYMLINK_NOFOLLOW) != 0) {
    problem(std::strerror(errno));
    item.st.st_mode = 0;
    return;
  }
  if (!S_ISREG(item.st.st_mode) && !S_ISDIR(item.st.st_mode)) return;
  const int fd = openat(item.dirfd, item.name, S_ISDIR(item.st.st_mode) ? kOpenDir : kOpenFile);
  struct stat now {};
  if (fd < 0) {
    item.open_error = std::strerror(errno);
  } else if (fstat(fd, &now) != 0 || now.st_ino != item.st.st_ino || now.st_dev != item.st.st_dev ||
             (now.st_mode & S_IFMT) != (item.st.st_mode & S_IFMT)) {
    item.open_error = "changed while being opened";
    close(fd);
  } else {
    item.st = now;
    item.fd = fd;
  }
}

void Walker::read_children(WalkItem& item) {
  read_.clear();
  const int err =
      read_entries(item.fd, [&](const char* name, unsigned char type) { read_.push_back({name, type}); });
  if (err != 0) problem(std::strerror(err));  // the names read so far are stored
  std::sort(read_.begin(), read_.end(), [](const Child& a, const Child& b) { return a.name < b.name; });
  item.children = err == 0 ? &read_ : nullptr;
}

// Makes the directory whose children were read last the current frame.
void Walker::enter(int fd, const struct stat& st) {
  Frame f;
  f.fd = fd;
  f.dev = st.st_dev;
  f.ino = st.st_ino;
  f.path_length = path_.size();
  f.member_length = member_.size();
  f.children = std::move(read_);
  read_.clear();
  frames_.push_back(std::move(f));
  if (frames_.size() > kOpenDirs) close_frame(frames_[frames_.size() - 1 - kOpenDirs]);
}

// Done with the current directory. A parent whose descriptor was closed is
// found again as ".." of it, and must be the directory it was.
void Walker::leave() {
  const int fd = frames_.back().fd;
  frames_.pop_back();
  if (!frames_.empty() && frames_.back().fd < 0) {
    Frame& up = frames_.back();
    up.fd = openat(fd, "..", kOpenDir);
    struct stat st {};
    if (up.fd < 0 || fstat(up.fd, &st) != 0 || st.st_dev != up.dev || st.st_ino != up.ino) {
      path_.resize(up.path_length);
      problem("directory moved while being read; its other entries are not stored");
      up.next = up.children.size();
    }
  }
  close(fd);
}

void Walker::walk(const std::string& path, const std::string& member, bool recurse) {
  path_ = path;
  member_ = member;
  if (excluded()) return;
  WalkItem top;
  top.dirfd = AT_FDCWD;
  top.name = path.c_str();
  top.path = &path_;
  top.member = &member_;
  top.recurse = recurse;
  find(top, DT_UNKNOWN);
  if (top.st.st_mode == 0) return;
  top_dev_ = top.st.st_dev;
  if (recurse && top.fd >= 0 && S_ISDIR(top.st.st_mode)) read_children(top);
  if (v_.visit(top) && recurse && top.fd >= 0 && S_ISDIR(top.st.st_mode)) enter(top.fd, top.st);
  else if (top.fd >= 0) close(top.fd);

  while (!frames_.empty()) {
    Frame& f = frames_.back();
    if (f.next == f.children.size()) {
      leave();
      continue;
    }
    const Child& child = f.children[f.next++];
    path_.resize(f.path_length);
    member_.resize(f.member_length);
    if (path_.empty() || path_.back() != '/') path_ += '/';
    path_ += child.name;
    if (!member_.empty()) member_ += '/';
    member_ += child.name;
    if (excluded()) continue;
    WalkItem item;
    item.dirfd = f.fd;
    item.name = child.name.c_str();
    item.path = &path_;
    item.member = &member_;
    // -g: what has not changed since the snapshot is passed over unopened (incremental.h)
    if (c_.incremental && child.type != DT_DIR && fstatat(f.fd, item.name, &item.st, AT_SYMLINK_NOFOLLOW) == 0 &&
        !S_ISDIR(item.st.st_mode) && !c_.incremental->wanted(member_, item.st))
      continue;
    find(item, child.type);
    if (item.st.st_mode == 0) continue;
    item.recurse = !c_.opt.one_file_system || item.st.st_dev == top_dev_;
    if (item.recurse && item.fd >= 0 && S_ISDIR(item.st.st_mode)) read_children(item);
    const bool descend = v_.visit(item) && item.fd >= 0 && S_ISDIR(item.st.st_mode);
    if (descend && !item.recurse)
      message(c_, "%s: file is on a different file system; not descended", shown(path_).c_str());
    if (descend && item.recurse) enter(item.fd, item.st);  // f and child are not used after this
    else if (item.fd >= 0) close(item.fd);
  }
}

}  // namespace sidfpack
