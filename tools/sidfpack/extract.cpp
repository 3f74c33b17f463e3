// sidfpack extract. Every file system call is made relative to a descriptor
// of the target folder or of a folder below it, opened component by
// component with O_NOFOLLOW, so no name and no symbolic link (from the
// stream or already there) leads outside the target folder. Files and links
// are made under a temporary name and renamed into place.
#include <dpxut.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <optional>

#include "../common/text.h"
#include "read.h"
#include "select.h"

namespace sidfpack {
namespace {

using dpxtool::format;
using dpxtool::shown;

// What extract needs of an entry, kept for folders until the end.
struct Meta {
  std::string name;  // locale bytes
  uint64_t record = 0;
  uint32_t mode = 0, uid = 0, gid = 0;
  std::string owner, group;
  struct timespec times[2] {};  // access, modification (UTIME_OMIT: none stored)
};

Meta meta_of(const dpxut_entry* e, const std::string& name) {
  Meta m;
  m.name = name;
  m.record = dpxut_entry_record(e);
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
  return m;
}

class Extractor {
 public:
  Extractor(Context& c, int root) : c_(c), root_(root), as_root_(geteuid() == 0) {}
  ~Extractor() {
    if (parent_fd_ >= 0) close(parent_fd_);
  }
  Extractor(const Extractor&) = delete;
  Extractor& operator=(const Extractor&) = delete;

  void entry(StreamIn& in, const dpxut_entry* e, const std::string& name) {
    std::vector<std::string> parts;
    std::string why;
    if (!split_name(name, parts, why)) {
      message(c_, "%s: record %llu: %s: %s", c_.opt.stream.c_str(),
              static_cast<unsigned long long>(dpxut_entry_record(e)), shown(name).c_str(), why.c_str());
      c_.fail(1);
      in.read_content(nullptr);
      return;
    }
    if (c_.opt.verbose) {
      progress_clear(c_);
      std::printf("%s\n", shown(name).c_str());
    }
    const Meta m = meta_of(e, name);
    const uint32_t type = m.mode & S_IFMT;
    if (const char* to = dpxut_entry_hardlink(e)) {
      in.read_content(nullptr);
      hardlink(m, parts, to);
    } else if (type == S_IFREG) {
      file(in, m, parts);
    } else {
      in.read_content(nullptr);
      if (type == S_IFDIR) directory(m, parts);
      else if (type == S_IFLNK) symlink(m, parts, dpxut_entry_symlink(e));
      else problem(m, "unsupported entry type");
    }
  }

  // Modes and times of folders are set last, deepest first: writing into a
  // folder changes its time, and its mode might forbid the writing.
  void finish() {
    for (auto it = dirs_.rbegin(); it != dirs_.rend(); ++it) {
      const int fd = open_path(it->parts, it->parts.size(), false);
      if (fd < 0) continue;
      const int dfd = openat(fd, it->parts.back().c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      close(fd);
      if (dfd < 0) continue;
      apply_owner(dfd, it->meta);
      fchmod(dfd, permissions(it->meta.mode));
      apply_times(dfd, it->meta);
      close(dfd);
    }
  }

 private:
  struct Dir {
    std::vector<std::string> parts;
    Meta meta;
  };

  static bool split_name(const std::string& name, std::vector<std::string>& parts, std::string& why) {
    if (name.find('\0') != std::string::npos) {
      why = "name holds a zero byte";
      return false;
    }
    if (!name.empty() && name[0] == '/') {
      why = "refusing an absolute name";
      return false;
    }
    size_t i = 0;
    while (i <= name.size()) {
      size_t j = name.find('/', i);
      if (j == std::string::npos) j = name.size();
      std::string part = name.substr(i, j - i);
      i = j + 1;
      if (part.empty() || part == ".") continue;
      if (part == "..") {
        why = "refusing a name with '..'";
        return false;
      }
      parts.push_back(std::move(part));
    }
    if (parts.empty()) {
      why = "empty name";
      return false;
    }
    return true;
  }

  void problem(const Meta& m, const std::string& what) {
    message(c_, "%s: %s: %s", c_.opt.stream.c_str(), shown(m.name).c_str(), what.c_str());
    c_.fail(1);
  }

  mode_t permissions(uint32_t mode) const { return static_cast<mode_t>(mode & (as_root_ ? 07777 : 01777)); }

  // Opens the folder that holds parts[count - 1], creating missing folders
  // when `create`. Refuses symbolic links on the way. Returns a descriptor
  // the caller closes, or -1 (with the reason in *why when given).
  int open_path(const std::vector<std::string>& parts, size_t count, bool create, std::string* why = nullptr) {
    int fd = dup(root_);
    for (size_t i = 0; fd >= 0 && i + 1 < count; ++i) {
      int next = openat(fd, parts[i].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (next < 0 && errno == ENOENT && create) {
        if (mkdirat(fd, parts[i].c_str(), 0777) != 0 && errno != EEXIST) {
          if (why) *why = format("cannot create folder %s: %s", shown(parts[i]).c_str(), std::strerror(errno));
          close(fd);
          return -1;
        }
        next = openat(fd, parts[i].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      }
      if (next < 0) {
        struct stat st {};
        const int err = errno;
        if (why) {
          if (fstatat(fd, parts[i].c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode))
            *why = format("refusing to write through the symbolic link %s", shown(parts[i]).c_str());
          else
            *why = format("%s: %s", shown(parts[i]).c_str(), std::strerror(err));
        }
      }
      close(fd);
      fd = next;
    }
    return fd;
  }

  // The folder of an entry, kept open while entries of the same folder
  // follow one another.
  int parent(const Meta& m, const std::vector<std::string>& parts) {
    std::string key;
    for (size_t i = 0; i + 1 < parts.size(); ++i) key += parts[i] + '/';
    if (parent_fd_ >= 0 && key == parent_key_) return parent_fd_;
    if (parent_fd_ >= 0) close(parent_fd_);
    parent_fd_ = -1;
    std::string why;
    const int fd = open_path(parts, parts.size(), true, &why);
    if (fd < 0) {
      problem(m, why);
      return -1;
    }
    parent_fd_ = fd;
    parent_key_ = key;
    return fd;
  }

  // Owners are restored by name where this system knows the name, else by
  // number; names are looked up once each.
  template <class Id, class Lookup>
  static Id known_id(std::map<std::string, std::optional<Id>>& known, const std::string& name, Id number,
                     Lookup lookup) {
    if (name.empty()) return number;
    auto it = known.find(name);
    if (it == known.end()) it = known.emplace(name, lookup(name.c_str())).first;
    return it->second.value_or(number);
  }
  uid_t user_id(const Meta& m) {
    return known_id<uid_t>(users_, m.owner, m.uid, [](const char* n) -> std::optional<uid_t> {
      const struct passwd* pw = getpwnam(n);
      return pw != nullptr ? std::optional<uid_t>(pw->pw_uid) : std::nullopt;
    });
  }
  gid_t group_id(const Meta& m) {
    return known_id<gid_t>(groups_, m.group, m.gid, [](const char* n) -> std::optional<gid_t> {
      const struct group* gr = getgrnam(n);
      return gr != nullptr ? std::optional<gid_t>(gr->gr_gid) : std::nullopt;
    });
  }

  void apply_owner(int fd, const Meta& m, const char* link = nullptr) {
    if (!as_root_) return;
    const uid_t uid = user_id(m);
    const gid_t gid = group_id(m);
    if (link != nullptr) fchownat(fd, link, uid, gid, AT_SYMLINK_NOFOLLOW);
    else if (fchown(fd, uid, gid) != 0) problem(m, format("cannot set owner: %s", std::strerror(errno)));
  }

  void apply_times(int fd, const Meta& m, const char* link = nullptr) {
    const int rc = link != nullptr ? utimensat(fd, link, m.times, AT_SYMLINK_NOFOLLOW) : futimens(fd, m.times);
    if (rc != 0) problem(m, format("cannot set times: %s", std::strerror(errno)));
  }

  std::string temp_name() { return format(".sidfpack-%ld-%u", static_cast<long>(pid_), ++temp_counter_); }

  // Puts the temporary `temp` in place under the entry's name.
  void put_in_place(int dir, const std::string& temp, const Meta& m, const std::string& leaf) {
    if (renameat(dir, temp.c_str(), dir, leaf.c_str()) != 0) {
      problem(m, format("cannot put in place: %s", std::strerror(errno)));
      unlinkat(dir, temp.c_str(), 0);
    }
  }

  // Regular files are written under a temporary name in their folder and
  // renamed into place once their content has passed its check, so a
  // damaged file never stands under its name and an existing entry of that
  // name (a symbolic link included) is replaced, not written through.
  void file(StreamIn& in, const Meta& m, const std::vector<std::string>& parts) {
    const int dir = parent(m, parts);
    if (dir < 0) {
      in.read_content(nullptr);
      return;
    }
    const std::string temp = temp_name();
    const int fd = openat(dir, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
      problem(m, format("cannot create: %s", std::strerror(errno)));
      in.read_content(nullptr);
      return;
    }
    std::string error;
    const bool whole = in.read_content([&](const uint8_t* p, size_t n) {
      while (n > 0 && error.empty()) {
        const ssize_t w = ::write(fd, p, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) {
          error = format("write error: %s", std::strerror(errno));
          break;
        }
        p += w;
        n -= static_cast<size_t>(w);
      }
    });
    if (!whole || !error.empty()) {  // a damaged content was reported by the reader
      if (!error.empty()) problem(m, error);
      close(fd);
      unlinkat(dir, temp.c_str(), 0);
      return;
    }
    apply_owner(fd, m);
    if (fchmod(fd, permissions(m.mode)) != 0) problem(m, format("cannot set mode: %s", std::strerror(errno)));
    apply_times(fd, m);
    if (close(fd) != 0) problem(m, format("write error: %s", std::strerror(errno)));
    put_in_place(dir, temp, m, parts.back());
  }

  void directory(const Meta& m, const std::vector<std::string>& parts) {
    const int dir = parent(m, parts);
    if (dir < 0) return;
    const char* leaf = parts.back().c_str();
    if (mkdirat(dir, leaf, 0700) != 0) {
      struct stat st {};
      if (errno != EEXIST || fstatat(dir, leaf, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        problem(m, format("cannot create folder: %s", std::strerror(errno)));
        return;
      }
      if (!S_ISDIR(st.st_mode)) {
        if (unlinkat(dir, leaf, 0) != 0 || mkdirat(dir, leaf, 0700) != 0) {
          problem(m, format("cannot replace by a folder: %s", std::strerror(errno)));
          return;
        }
      }
    }
    dirs_.push_back(Dir{parts, m});
  }

  void symlink(const Meta& m, const std::vector<std::string>& parts, const char* target) {
    if (target == nullptr || *target == '\0') {
      problem(m, "damaged link target");
      return;
    }
    const int dir = parent(m, parts);
    if (dir < 0) return;
    const std::string temp = temp_name();
    if (symlinkat(target, dir, temp.c_str()) != 0) {
      problem(m, format("cannot create link: %s", std::strerror(errno)));
      return;
    }
    apply_owner(dir, m, temp.c_str());
    apply_times(dir, m, temp.c_str());
    put_in_place(dir, temp, m, parts.back());
  }

  // A hard link to an earlier entry: both names lie below the target
  // folder, reached as every other name is; the link itself is not
  // followed (linkat without AT_SYMLINK_FOLLOW).
  void hardlink(const Meta& m, const std::vector<std::string>& parts, const std::string& to) {
    std::vector<std::string> to_parts;
    std::string why;
    if (!split_name(to, to_parts, why)) {
      problem(m, format("link to %s: %s", shown(to).c_str(), why.c_str()));
      return;
    }
    const int from_dir = open_path(to_parts, to_parts.size(), false, &why);
    if (from_dir < 0) {
      problem(m, format("link to %s: %s", shown(to).c_str(), why.c_str()));
      return;
    }
    const int dir = parent(m, parts);
    const std::string temp = temp_name();
    if (dir >= 0 && linkat(from_dir, to_parts.back().c_str(), dir, temp.c_str(), 0) != 0)
      problem(m, format("cannot link to %s: %s", shown(to).c_str(), std::strerror(errno)));
    else if (dir >= 0)
      put_in_place(dir, temp, m, parts.back());
    close(from_dir);
  }

  Context& c_;
  int root_;
  bool as_root_;
  int parent_fd_ = -1;
  std::string parent_key_;
  unsigned temp_counter_ = 0;
  const pid_t pid_ = getpid();
  std::vector<Dir> dirs_;
  std::map<std::string, std::optional<uid_t>> users_;
  std::map<std::string, std::optional<gid_t>> groups_;
};

}  // namespace

int run_extract(Context& c, int fd) {
  const std::string dir = c.opt.directory.empty() ? "." : c.opt.directory;
  const int root = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (root < 0) {
    message(c, "%s: %s", shown(dir).c_str(), std::strerror(errno));
    return 1;
  }
  {
    StreamIn in(c, fd);
    Selection selection(c.opt.operands, c.opt.dos_wildcards);
    Extractor extractor(c, root);
    progress_begin(c, "restored");
    const dpxut_entry* e = nullptr;
    std::string name;
    while (in.next(e, name)) {
      if (selection.selects(name)) extractor.entry(in, e, name);
      else in.read_content(nullptr);
    }
    extractor.finish();
    progress_clear(c);
    selection.report_unused(c);
  }
  close(root);
  return c.status;
}

}  // namespace sidfpack
