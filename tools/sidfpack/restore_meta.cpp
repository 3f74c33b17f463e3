// Owners, modes, extended attributes and times of restored entries (see
// restore_meta.h).
#include "restore_meta.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "../common/text.h"

namespace sidfpack {

using dpxtool::format;
using dpxtool::shown;

Meta meta_of(const dpxut_entry* e, const std::string& name) {
  Meta m;
  m.name = name;
  m.mode = dpxut_entry_mode(e);
  m.uid = dpxut_entry_uid(e);
  m.gid = dpxut_entry_gid(e);
  m.owner = dpxut_entry_uname(e);
  m.group = dpxut_entry_gname(e);
  const int64_t sec[2] = {dpxut_entry_atime(e), dpxut_entry_mtime(e)};
  const uint32_t nsec[2] = {dpxut_entry_atime_nsec(e), dpxut_entry_mtime_nsec(e)};
  // Without exact times the reader gives the DOS dates' times, 0 for none.
  const bool exact = dpxut_entry_times_exact(e) != 0;
  for (int i = 0; i < 2; ++i) {
    m.times[i].tv_sec = static_cast<time_t>(sec[i]);
    m.times[i].tv_nsec = exact ? static_cast<long>(nsec[i] % 1000000000u) : sec[i] == 0 ? UTIME_OMIT : 0;
  }
  const size_t count = dpxut_entry_xattr_count(e);
  for (size_t i = 0; i < count; ++i) {
    const char* attr = nullptr;
    const void* value = nullptr;
    size_t size = 0;
    if (dpxut_entry_xattr(e, i, &attr, &value, &size) != DPXUT_OK || attr == nullptr) break;
    m.xattrs.emplace_back(attr, std::string(static_cast<const char*>(value), size));
  }
  return m;
}

void entry_problem(Context& c, const std::string& name, const std::string& what) {
  message(c, "%s: %s: %s", c.opt.stream.c_str(), shown(name).c_str(), what.c_str());
  c.fail(1);
}

Attributes::Attributes(Context& c) : c_(c), as_root_(geteuid() == 0), euid_(geteuid()), egid_(getegid()) {
  umask_ = umask(0);
  umask(umask_);
}

// As GNU tar: without --same-permissions the umask applies and set-uid and
// set-gid go; with it they stay only where the stored owner (group) is the
// file's owner (group): restored, or the extracting user's own.
mode_t Attributes::final_mode(const Meta& m, bool owner_restored) {
  mode_t mode = static_cast<mode_t>(m.mode & 07777);
  if (!c_.opt.same_permissions) return mode & ~(umask_ | S_ISUID | S_ISGID);
  if (!owner_restored && (mode & S_ISUID) != 0 && user_id(m) != euid_) mode &= ~S_ISUID;
  if (!owner_restored && (mode & S_ISGID) != 0 && group_id(m) != egid_) mode &= ~S_ISGID;
  return mode;
}

// Owners are restored by name where this system knows the name (unless
// --numeric-owner), else by number; names are looked up once each.
template <class Id, class Lookup>
static Id known_id(std::map<std::string, std::optional<Id>>& known, const std::string& name, Id number,
                   bool numeric, Lookup lookup) {
  if (numeric || name.empty()) return number;
  auto it = known.find(name);
  if (it == known.end()) it = known.emplace(name, lookup(name.c_str())).first;
  return it->second.value_or(number);
}

uid_t Attributes::user_id(const Meta& m) {
  return known_id<uid_t>(users_, m.owner, m.uid, c_.opt.numeric_owner, [](const char* n) -> std::optional<uid_t> {
    const struct passwd* pw = getpwnam(n);
    return pw != nullptr ? std::optional<uid_t>(pw->pw_uid) : std::nullopt;
  });
}

gid_t Attributes::group_id(const Meta& m) {
  return known_id<gid_t>(groups_, m.group, m.gid, c_.opt.numeric_owner, [](const char* n) -> std::optional<gid_t> {
    const struct group* gr = getgrnam(n);
    return gr != nullptr ? std::optional<gid_t>(gr->gr_gid) : std::nullopt;
  });
}

bool Attributes::set_owner(const Meta& m, int rc) {
  if (rc == 0) return true;
  entry_problem(c_, m.name, format("cannot set owner %u:%u: %s", user_id(m), group_id(m), std::strerror(errno)));
  return false;
}

// A target that cannot hold a family of attributes (a file system without
// them, trusted.* or security.* for a user other than root, user.* on a
// link or device) is told once per family and cause, and is no failure:
// the restore did what this target and user allow. Any other refusal loses
// what the stream holds: told per entry, exit status 1.
void Attributes::xattr_failed(const Meta& m, const std::string& attr, int err, bool regular) {
  const std::string family = attr.substr(0, attr.find('.'));
  const bool beyond = err == ENOTSUP || (err == EPERM && (!as_root_ || (family == "user" && !regular)));
  if (!beyond) {
    entry_problem(c_, m.name, format("cannot restore the attribute %s: %s", shown(attr).c_str(), std::strerror(err)));
    return;
  }
  if (!told_.emplace(family, err).second) return;
  message(c_, "%s: %s: cannot restore the attribute %s: %s (not told again for %s.* attributes)",
          c_.opt.stream.c_str(), shown(m.name).c_str(), shown(attr).c_str(), std::strerror(err), family.c_str());
}

AttrPlan Attributes::plan(const Meta& m) {
  AttrPlan p;
  p.chown = c_.opt.same_owner;
  if (p.chown) p.uid = user_id(m), p.gid = group_id(m);
  p.chmod = !mode_at_creation(m) || S_ISDIR(m.mode);
  if (p.chmod) p.mode_owned = final_mode(m, true), p.mode_other = final_mode(m, false);
  return p;
}

void execute(const AttrPlan& plan, const Meta& m, int fd, std::vector<AttrFailure>& failed) {
  bool owner_restored = false;
  if (plan.chown) {
    owner_restored = fchown(fd, plan.uid, plan.gid) == 0;
    if (!owner_restored) failed.push_back({AttrFailure::kOwner, errno, 0});
  }
  if (plan.chmod && fchmod(fd, owner_restored ? plan.mode_owned : plan.mode_other) != 0)
    failed.push_back({AttrFailure::kMode, errno, 0});
  for (size_t i = 0; i < m.xattrs.size(); ++i) {
    const auto& [attr, value] = m.xattrs[i];
    if (fsetxattr(fd, attr.c_str(), value.data(), value.size(), 0) != 0) failed.push_back({AttrFailure::kXattr, errno, i});
  }
  if (futimens(fd, m.times) != 0) failed.push_back({AttrFailure::kTimes, errno, 0});
}

void Attributes::report(const Meta& m, const AttrPlan& plan, const std::vector<AttrFailure>& failed) {
  for (const AttrFailure& f : failed) {
    switch (f.step) {
      case AttrFailure::kOwner:
        entry_problem(c_, m.name, format("cannot set owner %u:%u: %s", plan.uid, plan.gid, std::strerror(f.err)));
        break;
      case AttrFailure::kMode:
        entry_problem(c_, m.name, format("cannot set mode: %s", std::strerror(f.err)));
        break;
      case AttrFailure::kXattr:
        xattr_failed(m, m.xattrs[f.xattr].first, f.err, true);
        break;
      case AttrFailure::kTimes:
        entry_problem(c_, m.name, format("cannot set times: %s", std::strerror(f.err)));
        break;
    }
  }
}

void Attributes::apply(const Meta& m, int fd) {
  const AttrPlan p = plan(m);
  std::vector<AttrFailure> failed;
  execute(p, m, fd, failed);
  report(m, p, failed);
}

void Attributes::apply_at(const Meta& m, int dir, const char* name, bool is_link) {
  bool owner_restored = false;
  if (c_.opt.same_owner)
    owner_restored = set_owner(m, fchownat(dir, name, user_id(m), group_id(m), AT_SYMLINK_NOFOLLOW));
  // The node was just made under a name of our own: the mode call may
  // follow it (a FIFO or device is no link).
  if (!is_link && fchmodat(dir, name, final_mode(m, owner_restored), 0) != 0)
    entry_problem(c_, m.name, format("cannot set mode: %s", std::strerror(errno)));
  if (!m.xattrs.empty()) {
    // The folder by its descriptor, the last name not followed.
    const std::string path = format("/proc/self/fd/%d/%s", dir, name);
    for (const auto& [attr, value] : m.xattrs)
      if (lsetxattr(path.c_str(), attr.c_str(), value.data(), value.size(), 0) != 0)
        xattr_failed(m, attr, errno, false);
  }
  if (utimensat(dir, name, m.times, AT_SYMLINK_NOFOLLOW) != 0)
    entry_problem(c_, m.name, format("cannot set times: %s", std::strerror(errno)));
}

}  // namespace sidfpack
