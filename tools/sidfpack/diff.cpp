// sidfpack diff: compares the stream's entries with the file system below
// -C DIR. Each difference is a line "NAME: WHAT differs" on standard output
// (GNU tar's --compare wording); a name that is not there is a message.
// Exit status 1 when anything differs. What is compared, by type:
//   regular files  type, mode, owner, modification time, size, content
//                  (holes of a sparse file read as zeros), attributes
//   folders        type, mode, owner, attributes
//   links          type, target;  hard links: the same file as the name
//   FIFOs, devices type, mode, owner, device number, attributes
// Names are looked up component by component from DIR with O_NOFOLLOW (the
// walk extract uses), so no name and no link leads outside DIR.
#include <dpxut.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>

#include "../common/text.h"
#include "read.h"
#include "restore_tree.h"
#include "select.h"

namespace sidfpack {
namespace {

using dpxtool::format;
using dpxtool::shown;

// A descriptor closed when it goes.
struct Fd {
  int fd = -1;
  explicit Fd(int f) : fd(f) {}
  ~Fd() {
    if (fd >= 0) close(fd);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
};

using XattrMap = std::map<std::string, std::string>;

// The attributes of the file open on fd (an O_PATH descriptor is read
// through /proc); none where the file system keeps none.
bool file_xattrs(int fd, bool by_path, XattrMap& out, int& err) {
  char proc[40];
  std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", fd);
  auto list = [&](char* b, size_t n) { return by_path ? listxattr(proc, b, n) : flistxattr(fd, b, n); };
  auto get = [&](const char* name, void* b, size_t n) {
    return by_path ? getxattr(proc, name, b, n) : fgetxattr(fd, name, b, n);
  };
  std::string names;
  for (;;) {
    const ssize_t need = list(nullptr, 0);
    if (need < 0) {
      err = errno;
      return err == ENOTSUP || err == ENOSYS;
    }
    names.resize(static_cast<size_t>(need));
    const ssize_t got = list(names.data(), names.size());
    if (got >= 0) {
      names.resize(static_cast<size_t>(got));
      break;
    }
    if (errno != ERANGE) return err = errno, false;
  }
  for (size_t at = 0; at < names.size(); at += std::strlen(names.c_str() + at) + 1) {
    const char* name = names.c_str() + at;
    if (*name == '\0') continue;
    std::string value;
    ssize_t got = -1;  // a failed sizing call leaves its errno for the tests below
    do {
      const ssize_t need = get(name, nullptr, 0);
      if (need < 0) break;
      value.resize(static_cast<size_t>(need));
      got = get(name, value.data(), value.size());
    } while (got < 0 && errno == ERANGE);
    if (got < 0 && errno == ENODATA) continue;
    if (got < 0) return err = errno, false;
    value.resize(static_cast<size_t>(got));
    out[name] = std::move(value);
  }
  return true;
}

// Whether the bytes of fd from `from` to `to` all read as zeros; holes the
// file system reports are not read.
bool zeros(int fd, uint64_t from, uint64_t to, std::vector<uint8_t>& buf) {
  while (from < to) {
    const off_t data = lseek(fd, static_cast<off_t>(from), SEEK_DATA);
    if (data < 0 && errno == ENXIO) return true;
    uint64_t end = to;
    if (data >= 0) {
      if (static_cast<uint64_t>(data) >= to) return true;
      from = static_cast<uint64_t>(data);
      const off_t hole = lseek(fd, data, SEEK_HOLE);
      if (hole > data) end = std::min<uint64_t>(to, static_cast<uint64_t>(hole));
    }
    while (from < end) {
      const ssize_t n = pread(fd, buf.data(), std::min<uint64_t>(buf.size(), end - from), static_cast<off_t>(from));
      if (n <= 0) return false;
      if (std::any_of(buf.data(), buf.data() + n, [](uint8_t b) { return b != 0; })) return false;
      from += static_cast<uint64_t>(n);
    }
  }
  return true;
}

class Differ {
 public:
  Differ(Context& c, int root) : c_(c), walk_(root), root_(root) {
    buf_.resize(std::min<size_t>(c.opt.buffer_size, 1 << 20));
  }

  uint64_t differing() const { return differing_; }

  void entry(StreamIn& in, const dpxut_entry* e, const std::string& name) {
    name_ = &name;
    differs_ = false;
    if (names_top(name, dpxut_entry_filetype(e))) {  // the folder compared against
      in.read_content(nullptr);
      return;
    }
    if (c_.opt.verbose) {
      progress_clear(c_);
      std::printf("%s\n", shown(name).c_str());
    }
    std::vector<std::string> parts;
    std::string why;
    int dir = split_name(name, parts, why) ? walk_.parent(parts, false, why) : -1;
    struct stat st {};
    if (dir >= 0 && fstatat(dir, parts.back().c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      why = std::strerror(errno);
      dir = -1;
    }
    if (dir < 0) {
      in.read_content(nullptr);
      message(c_, "%s: Warning: Cannot stat: %s", shown(name).c_str(), why.c_str());
      return count(true);
    }
    const uint32_t type = dpxut_entry_filetype(e);
    if (const char* to = dpxut_entry_hardlink(e)) {
      in.read_content(nullptr);
      hardlink(st, to);
    } else if ((st.st_mode & S_IFMT) != type) {
      in.read_content(nullptr);
      report("File type differs");
    } else if (type == DPXUT_IFLNK) {
      in.read_content(nullptr);
      symlink(dir, parts.back(), st, e);
    } else {
      attributes(e, st);
      if (type == DPXUT_IFREG) file(in, dir, parts.back(), st, e);
      else in.read_content(nullptr);
      if (type != DPXUT_IFREG) xattrs(dir, parts.back(), e, type == DPXUT_IFDIR ? O_RDONLY | O_DIRECTORY : O_PATH);
    }
    if (dpxut_entry_changed(e) != 0) report("File changed as it was stored");
    count(differs_);
  }

 private:
  void count(bool differs) {
    if (differs) ++differing_;
  }

  void report(const std::string& what) {
    progress_clear(c_);
    std::printf("%s: %s\n", shown(*name_).c_str(), what.c_str());
    differs_ = true;
  }

  uint32_t stored_id(bool user, const dpxut_entry* e) {
    const uint32_t id = user ? dpxut_entry_uid(e) : dpxut_entry_gid(e);
    const char* text = user ? dpxut_entry_uname(e) : dpxut_entry_gname(e);
    if (c_.opt.numeric_owner || *text == '\0') return id;
    auto& cache = user ? users_ : groups_;
    const auto it = cache.find(text);
    if (it != cache.end()) return it->second;
    uint32_t found = id;
    if (user) {
      if (const passwd* pw = getpwnam(text)) found = pw->pw_uid;
    } else if (const group* gr = getgrnam(text)) {
      found = gr->gr_gid;
    }
    cache.emplace(text, found);
    return found;
  }

  void attributes(const dpxut_entry* e, const struct stat& st) {
    const uint32_t type = dpxut_entry_filetype(e);
    if ((st.st_mode & 07777) != (dpxut_entry_mode(e) & 07777)) report("Mode differs");
    if (st.st_uid != stored_id(true, e)) report("Uid differs");
    if (st.st_gid != stored_id(false, e)) report("Gid differs");
    if ((type == DPXUT_IFCHR || type == DPXUT_IFBLK) && st.st_rdev != dpxut_entry_rdev(e))
      report("Device number differs");
    if (type != DPXUT_IFREG) return;
    const int64_t sec = dpxut_entry_mtime(e);
    // Without exact times the stream holds a DOS date: two-second steps.
    const bool same =
        dpxut_entry_times_exact(e) != 0
            ? st.st_mtim.tv_sec == sec && st.st_mtim.tv_nsec == static_cast<long>(dpxut_entry_mtime_nsec(e))
            : sec == 0 || std::abs(static_cast<int64_t>(st.st_mtim.tv_sec) - sec) <= 1;
    if (!same) report("Mod time differs");
  }

  void symlink(int dir, const std::string& leaf, const struct stat& st, const dpxut_entry* e) {
    const char* stored = dpxut_entry_symlink(e);
    std::string target(static_cast<size_t>(st.st_size) + 1, '\0');
    const ssize_t n = readlinkat(dir, leaf.c_str(), target.data(), target.size());
    if (n < 0 || static_cast<size_t>(n) == target.size() || stored == nullptr ||
        target.compare(0, static_cast<size_t>(n), stored) != 0 || std::strlen(stored) != static_cast<size_t>(n))
      report("Symlink differs");
  }

  void hardlink(const struct stat& st, const std::string& to) {
    std::vector<std::string> parts;
    std::string why;
    DirWalk other(root_);
    const int dir = split_name(to, parts, why) ? other.parent(parts, false, why) : -1;
    struct stat ts {};
    if (dir < 0 || fstatat(dir, parts.back().c_str(), &ts, AT_SYMLINK_NOFOLLOW) != 0 || ts.st_dev != st.st_dev ||
        ts.st_ino != st.st_ino)
      report("Not linked to " + shown(to));
  }

  void xattrs(int dir, const std::string& leaf, const dpxut_entry* e, int flags) {
    Fd fd(openat(dir, leaf.c_str(), flags | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (fd.fd < 0) return report(format("Cannot open: %s", std::strerror(errno)));
    xattrs_of(fd.fd, (flags & O_PATH) != 0, e);
  }

  void xattrs_of(int fd, bool by_path, const dpxut_entry* e) {
    XattrMap stored, found;
    const char* name = nullptr;
    const void* value = nullptr;
    size_t size = 0;
    for (size_t i = 0; dpxut_entry_xattr(e, i, &name, &value, &size) == DPXUT_OK; ++i)
      stored[name].assign(static_cast<const char*>(value), size);
    int err = 0;
    if (!file_xattrs(fd, by_path, found, err)) return report(format("Cannot read attributes: %s", std::strerror(err)));
    for (const auto& [key, v] : stored) {
      const auto it = found.find(key);
      if (it == found.end() || it->second != v) return report("Extended attribute " + shown(key) + " differs");
    }
    for (const auto& kv : found)
      if (stored.count(kv.first) == 0) return report("Extended attribute " + shown(kv.first) + " differs");
  }

  // The content read from the stream against the file's bytes at the
  // offsets the entry's map gives (one region for a dense file); what lies
  // outside the regions must read as zeros.
  void file(StreamIn& in, int dir, const std::string& leaf, const struct stat& st, const dpxut_entry* e) {
    const uint64_t size = dpxut_entry_size(e);
    if (static_cast<uint64_t>(st.st_size) != size) {
      in.read_content(nullptr);
      return report("Size differs");
    }
    Fd fd(openat(dir, leaf.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    struct stat now {};
    if (fd.fd < 0 || fstat(fd.fd, &now) != 0 || !S_ISREG(now.st_mode)) {
      in.read_content(nullptr);
      return report(format("Cannot open: %s", fd.fd < 0 ? std::strerror(errno) : "not a regular file"));
    }
    const size_t regions = dpxut_entry_sparse_count(e);
    size_t region = 0;
    uint64_t offset = 0, left = regions == 0 ? size : 0, end = 0;
    bool same = true;
    std::vector<uint8_t>& mine = buf_;
    const bool whole = in.read_content([&](const uint8_t* p, size_t n) {
      while (same && n > 0) {
        while (left == 0 && region < regions && dpxut_entry_sparse(e, region++, &offset, &left) == DPXUT_OK) {
          same = zeros(fd.fd, end, offset, mine);
          end = offset + left;
        }
        if (left == 0 || !same) {
          same = false;
          break;
        }
        const size_t k = static_cast<size_t>(std::min<uint64_t>({n, left, mine.size()}));
        const ssize_t got = pread(fd.fd, mine.data(), k, static_cast<off_t>(offset));
        if (got <= 0) {
          same = false;
          break;
        }
        const auto m = static_cast<size_t>(got);
        same = std::memcmp(mine.data(), p, m) == 0;
        p += m, n -= m, offset += m, left -= m;
        end = offset;
      }
    });
    if (!whole) return;  // the reader reported the damage
    if (same && regions > 0) same = left == 0 && zeros(fd.fd, end, size, mine);
    if (!same) report("Contents differ");
    xattrs_of(fd.fd, false, e);
  }

  Context& c_;
  DirWalk walk_;
  int root_;
  std::vector<uint8_t> buf_;
  std::map<std::string, uint32_t> users_, groups_;  // stored names to this system's ids
  const std::string* name_ = nullptr;               // the entry being compared
  bool differs_ = false;
  uint64_t differing_ = 0;
};

}  // namespace

int run_diff(Context& c, int fd) {
  const int root = open_target(c);
  if (root < 0) return 2;
  {
    StreamIn in(c, fd);
    Selection selection(c.opt);
    Differ differ(c, root);
    progress_begin(c, "compared");
    const dpxut_entry* e = nullptr;
    std::string name;
    while (in.next(e, name)) {
      if (selection.selects(name)) differ.entry(in, e, name);
      else in.read_content(nullptr);
    }
    progress_clear(c);
    in.finish();
    selection.report_unused(c);
    if (differ.differing() != 0) {
      message(c, "%llu %s from %s", static_cast<unsigned long long>(differ.differing()),
              differ.differing() == 1 ? "entry differs" : "entries differ",
              shown(c.opt.directory.empty() ? "." : c.opt.directory).c_str());
      c.fail(1);
    }
  }
  close(root);
  return c.status;
}

}  // namespace sidfpack
