// Incremental backups, as GNU tar's --listed-incremental makes them.
//
// create -g SNAPSHOT: the snapshot file records, for every name stored or
// passed over, what identifies its state (device, inode, type, size,
// modification and change time). A run without a snapshot file is a full
// backup; a later run stores only the names that are new or changed since
// the snapshot, and every directory with the list of names it holds now,
// so that extract --incremental can remove what is gone. The new snapshot
// replaces the old one once the stream is complete.
//
// Snapshot file, text, one line each:
//   sidfpack-snapshot 1
//   TYPE DEV INO SIZE MTIME_S MTIME_NS CTIME_S CTIME_NS NAME
// TYPE is one of f d l p c b s; numbers are decimal; NAME is the member
// name with '\\' and bytes below 0x20 or 0x7f written as \ooo (octal).
#pragma once

#include <dpxut.h>
#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "context.h"
#include "select.h"
#include "walk.h"

namespace sidfpack {

class Incremental {
 public:
  explicit Incremental(const Options& opt) : exclusion_(opt.excludes, opt.dos_wildcards) {}
  ~Incremental();
  Incremental(const Incremental&) = delete;
  Incremental& operator=(const Incremental&) = delete;

  // Reads the snapshot file (a missing one: a full backup) and keeps its
  // folder open for writing the next. False, reported, for a file that
  // cannot be read or is damaged: nothing may be written then.
  bool load(Context& c, const std::string& path);

  // True when `member` must be stored: new, or changed since the snapshot,
  // or a regular file with several links (so its names stay one file).
  // An unchanged name is carried into the next snapshot as it is now.
  bool wanted(const std::string& member, const struct stat& st);
  // Records a name that was stored.
  void stored(const std::string& member, const struct stat& st) { states_[member] = {state_of(st), true}; }

  // Sets the names of a directory (its children, sorted, without the
  // excluded ones) as the entry's list. A directory that could not be read
  // whole (children null, reported by the walk) carries no list: extract
  // then removes nothing in it.
  bool set_dirlist(Context& c, const std::vector<DirChild>* children, const std::string& member,
                   const std::string& path, dpxut_entry* e);

  // Writes the next snapshot: a temporary file in the snapshot's folder,
  // synced, renamed over the old one. False, reported, on failure.
  bool save(Context& c);

 private:
  struct State {
    char type = 'f';
    uint64_t dev = 0, ino = 0, size = 0;
    int64_t mtime = 0, ctime = 0;
    uint32_t mtime_ns = 0, ctime_ns = 0;
    bool operator==(const State&) const = default;
  };
  // The snapshot read, and the next one: names met in this run are marked
  // as seen; the next snapshot holds those alone.
  struct Slot {
    State state;
    bool seen = false;
  };
  static State state_of(const struct stat& st);

  Exclusion exclusion_;
  std::string path_;   // as given, for messages
  std::string base_;   // its last component
  int dir_ = -1;       // its folder
  std::unordered_map<std::string, Slot> states_;
  std::string list_;  // scratch of set_dirlist
};

// extract --incremental (restore_incremental.cpp). Before an entry that is
// no directory is restored, a directory standing at its name is removed;
// after a directory entry with a list of names, whatever else the folder
// holds is removed. parent is the folder holding the entry's last name.
void incremental_clear(Context& c, int parent, const std::string& leaf, const std::string& name);
void incremental_prune(Context& c, int parent, const std::string& leaf, const std::string& name,
                       const dpxut_entry* e);

}  // namespace sidfpack
