// The walk of create: each PATH and, below a directory, its entries in name
// order, reached through descriptors relative to their parent directory, so
// a tree of any depth is walked whatever the length of its paths.
#pragma once

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "context.h"
#include "select.h"

namespace sidfpack {

// Calls f(name, d_type) for each entry of the open directory fd but "." and
// "..", in the order the kernel gives them; returns 0, or the error of a
// failed read (the entries read before it were passed on).
template <class F>
int read_entries(int fd, F f) {
  alignas(8) char buf[32768];
  for (;;) {
    const ssize_t n = getdents64(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) return 0;
    for (ssize_t at = 0; at < n;) {
      struct dirent64 d;
      std::memcpy(&d, buf + at, offsetof(struct dirent64, d_name));
      const char* name = buf + at + offsetof(struct dirent64, d_name);
      at += d.d_reclen;
      if (std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0) f(name, d.d_type);
    }
  }
}

// An entry of a directory, as the kernel named and typed it.
struct DirChild {
  std::string name;
  unsigned char type;  // d_type
};

// One file met by the walk, valid during the visit.
struct WalkItem {
  int dirfd = -1;            // its parent's descriptor; AT_FDCWD for a PATH
  const char* name = "";     // its name in dirfd (a PATH: the PATH)
  struct stat st {};
  int fd = -1;               // regular files and directories: open for reading, else -1
  const char* open_error = nullptr;  // why a regular file or directory could not be opened
  bool recurse = true;       // the walk enters a directory whose visit says so
  const std::string* path = nullptr;    // as given and found, for messages
  const std::string* member = nullptr;  // the member name (before --rename); "" for "." or "/"
  // A directory the walk will enter: its entries in ascending byte order,
  // read whole (null when its reading failed, reported).
  const std::vector<DirChild>* children = nullptr;
};

class WalkVisitor {
 public:
  // Stores the item; true to walk the entries of a directory.
  virtual bool visit(const WalkItem& item) = 0;

 protected:
  ~WalkVisitor() = default;
};

class Walker {
 public:
  Walker(Context& c, WalkVisitor& v);
  ~Walker();
  Walker(const Walker&) = delete;
  Walker& operator=(const Walker&) = delete;

  // Walks PATH, stored as `member`; below it only when `recurse`.
  void walk(const std::string& path, const std::string& member, bool recurse);

 private:
  using Child = DirChild;
  // A directory being walked. Its descriptor is closed while it lies more
  // than kOpenDirs levels above the current one (and found again through
  // ".." of its child on the way back up).
  struct Frame {
    int fd = -1;
    dev_t dev = 0;
    ino_t ino = 0;
    size_t path_length = 0, member_length = 0;
    std::vector<Child> children;
    size_t next = 0;
  };
  // Reads the entries of the directory item, to be entered after its
  // visit: item.children points at them once they are read whole.
  void read_children(WalkItem& item);
  static constexpr size_t kOpenDirs = 64;

  bool excluded() const;
  void find(WalkItem& item, unsigned char type);
  void enter(int fd, const struct stat& st);  // with the children read last
  void leave();
  void problem(const char* what);
  static void close_frame(Frame& f);

  Context& c_;
  WalkVisitor& v_;
  Exclusion exclusion_;
  dev_t top_dev_ = 0;         // the PATH's file system, for --one-file-system
  std::string path_, member_;  // of the current item
  std::vector<Frame> frames_;
  std::vector<Child> read_;  // the children read_children read last
};

}  // namespace sidfpack
