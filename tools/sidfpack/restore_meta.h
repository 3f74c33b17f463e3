// What extract sets on a restored entry once it stands: owner, mode,
// extended attributes (POSIX ACLs included, as raw system.posix_acl_*
// values) and times, by the rules of --same-owner, --same-permissions and
// --numeric-owner. Owner first (changing it clears set-id bits and file
// capabilities), then the mode, the attributes, and the times last.
#pragma once

#include <dpxut.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <ctime>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "context.h"

namespace sidfpack {

// What extract needs of an entry, kept for folders until the end.
struct Meta {
  std::string name;  // locale bytes
  uint32_t mode = 0, uid = 0, gid = 0;
  std::string owner, group;
  struct timespec times[2] {};  // access, modification (UTIME_OMIT: none stored)
  std::vector<std::pair<std::string, std::string>> xattrs;  // name, raw value
};

Meta meta_of(const dpxut_entry* e, const std::string& name);

// "STREAM: NAME: WHAT" and exit status 1.
void entry_problem(Context& c, const std::string& name, const std::string& what);

// What Attributes::apply does to an open file, worked out beforehand
// (owners looked up, modes chosen), so that another thread may carry it
// out: execute() makes the calls and keeps what failed, report() tells it.
struct AttrPlan {
  bool chown = false;
  uid_t uid = 0;
  gid_t gid = 0;
  bool chmod = false;
  mode_t mode_owned = 0, mode_other = 0;  // the owner restored, or not
};
struct AttrFailure {
  enum Step { kOwner, kMode, kXattr, kTimes } step;
  int err;
  size_t xattr;  // kXattr: which of the Meta's
};
void execute(const AttrPlan& plan, const Meta& m, int fd, std::vector<AttrFailure>& failed);

class Attributes {
 public:
  explicit Attributes(Context& c);

  // Without --same-permissions new files get their final mode when they are
  // made (the umask applies, set-id bits go), and apply() leaves it. With
  // it, so do files whose stored mode the umask leaves whole and that have
  // no set-id or sticky bit (which a change of owner would clear); the
  // others are made 0600 and apply() sets the stored mode.
  bool mode_at_creation(const Meta& m) const {
    const mode_t mode = static_cast<mode_t>(m.mode & 07777);
    return !c_.opt.same_permissions || ((mode & (S_ISUID | S_ISGID | S_ISVTX)) == 0 && (mode & umask_) == 0);
  }
  mode_t creation_mode(const Meta& m) { return mode_at_creation(m) ? final_mode(m, false) : 0600; }

  // The open file or folder fd.
  void apply(const Meta& m, int fd);
  AttrPlan plan(const Meta& m);
  void report(const Meta& m, const AttrPlan& plan, const std::vector<AttrFailure>& failed);
  // The entry `name` in the folder `dir`, not followed: links, FIFOs and
  // devices (a symbolic link keeps its mode).
  void apply_at(const Meta& m, int dir, const char* name, bool is_link);

 private:
  mode_t final_mode(const Meta& m, bool owner_restored);
  uid_t user_id(const Meta& m);
  gid_t group_id(const Meta& m);
  bool set_owner(const Meta& m, int rc);
  void xattr_failed(const Meta& m, const std::string& attr, int err, bool regular);

  Context& c_;
  const bool as_root_;
  const uid_t euid_;
  const gid_t egid_;
  mode_t umask_;
  std::map<std::string, std::optional<uid_t>> users_;
  std::map<std::string, std::optional<gid_t>> groups_;
  std::set<std::pair<std::string, int>> told_;  // attribute families and causes already reported
};

}  // namespace sidfpack
