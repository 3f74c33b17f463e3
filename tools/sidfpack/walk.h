// The walk of create: each PATH and, below a directory, its entries in name
// order, reached through descriptors relative to their parent directory, so
// a tree of any depth is walked whatever the length of its paths.
#pragma once

#include <dirent.h>
#include <sys/stat.h>

#include <cstddef>
#include <string>
#include <vector>

#include "context.h"
#include "select.h"

namespace sidfpack {

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
  struct Child {
    std::string name;
    unsigned char type;  // d_type
  };
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
  static constexpr size_t kOpenDirs = 64;

  bool excluded() const;
  void find(WalkItem& item, unsigned char type);
  void enter(int fd, const struct stat& st);
  void leave();
  void problem(const char* what);
  static void close_frame(Frame& f);

  Context& c_;
  WalkVisitor& v_;
  Exclusion exclusion_;
  dev_t top_dev_ = 0;         // the PATH's file system, for --one-file-system
  std::string path_, member_;  // of the current item
  std::vector<Frame> frames_;
};

}  // namespace sidfpack
