// sidfpack create: walks the PATHs (walk.cpp: directories in name order,
// by descriptors relative to their parent) and hands each file, directory,
// symbolic link, FIFO and device to a dpxut_writer, which lays out the
// stream: headers, one record per entry (or per part of a file larger than
// --part-size) on --block-size boundaries, the trailer. Later names of a
// file with several links are stored as hard links to the first; files
// with holes as their data regions (create_content.cpp); extended
// attributes and ACLs ride with each entry (create_xattr.cpp).
#include <dpxut.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <map>

#include "../common/async_output.h"
#include "../common/text.h"
#include "create_parts.h"
#include "incremental.h"  // -g
#include "restore_tree.h"  // clean_name
#include "walk.h"

namespace sidfpack {
namespace {

using dpxtool::shown;

// What an entry carries beside its status.
struct Extras {
  uint64_t size = 0;          // regular files: st_size; symbolic links: the target's length
  std::string target;         // symbolic links
  const std::string* hardlink = nullptr;  // the first name of a file stored before
  const Xattrs* xattrs = nullptr;
  const std::vector<Region>* map = nullptr;  // files with holes
};

class Creator : public WalkVisitor {
 public:
  Creator(Context& c, dpxut_writer* w, dev_t stream_dev, ino_t stream_ino)
      : c_(c), w_(w), stream_dev_(stream_dev), stream_ino_(stream_ino), buf_(1 << 20), walker_(c, *this) {
    entry_ = dpxut_entry_new();
    if (entry_ == nullptr) stream_lost(c_, "out of memory");
    proc_fd_ = access("/proc/self/fd", X_OK) == 0;
  }
  ~Creator() { dpxut_entry_free(entry_); }
  Creator(const Creator&) = delete;
  Creator& operator=(const Creator&) = delete;

  void add_operand(const std::string& path) {
    std::string member;
    if (member_name(path, member)) walker_.walk(path, member, !c_.opt.no_recursion);
  }

  void finish() {
    if (dpxut_writer_finish(w_) == DPXUT_FATAL) stream_lost(c_, dpxut_writer_error(w_));
  }

  bool visit(const WalkItem& item) override;

 private:
  // The member name of an operand: relative, without "." components or
  // doubled slashes. A leading "/" is dropped (once reported); ".." is
  // refused, as extract would refuse it.
  bool member_name(const std::string& path, std::string& member) {
    if (!path.empty() && path[0] == '/') {
      if (!warned_absolute_) message(c_, "removing leading '/' from member names");
      warned_absolute_ = true;
    }
    if (clean_name(path, member)) return true;
    message(c_, "%s: refusing a path with '..' (use -C)", shown(path).c_str());
    c_.fail(1);
    return false;
  }

  std::string renamed(const std::string& member) const {
    for (const auto& [from, to] : c_.opt.renames) {
      if (member == from) return to;
      if (member.size() > from.size() && member.compare(0, from.size(), from) == 0 && member[from.size()] == '/')
        return to + member.substr(from.size());
    }
    return member;
  }

  void problem(const std::string& path, const char* what) {
    message(c_, "%s: %s", shown(path).c_str(), what != nullptr ? what : "cannot open");
    c_.fail(1);
  }

  const std::string& user_name(uid_t uid) {
    auto it = users_.find(uid);
    if (it != users_.end()) return it->second;
    const struct passwd* pw = getpwuid(uid);
    return users_[uid] = pw != nullptr ? pw->pw_name : "";
  }
  const std::string& group_name(gid_t gid) {
    auto it = groups_.find(gid);
    if (it != groups_.end()) return it->second;
    const struct group* gr = getgrgid(gid);
    return groups_[gid] = gr != nullptr ? gr->gr_name : "";
  }

  static bool read_link(const WalkItem& item, std::string& target) {
    std::vector<char> b(static_cast<size_t>(std::max<off_t>(item.st.st_size, 0)) + 2);
    for (;;) {
      const ssize_t n = readlinkat(item.dirfd, item.name, b.data(), b.size());
      if (n < 0) return false;
      if (static_cast<size_t>(n) < b.size()) {
        target.assign(b.data(), static_cast<size_t>(n));
        return true;
      }
      b.resize(b.size() * 2);
    }
  }

  void add_regular(const WalkItem& item, const std::string& member);
  void gather_xattrs(const WalkItem& item, Extras& x);
  bool store(const WalkItem& item, const std::string& member, const Extras& x);
  void fill(const std::string& member, const struct stat& st, const Extras& x);
  void name_warning(const std::string& member);

  Context& c_;
  dpxut_writer* w_;
  dev_t stream_dev_;
  ino_t stream_ino_;
  dpxut_entry* entry_ = nullptr;  // reused from entry to entry
  std::vector<uint8_t> buf_;      // content read from a file
  Xattrs xattrs_;                 // of the current entry
  std::vector<Region> map_;       // of the current entry
  Walker walker_;
  bool proc_fd_ = false;          // /proc/self/fd reaches a file by its directory's descriptor
  bool warned_absolute_ = false;
  bool warned_codeset_ = false;
  std::map<uid_t, std::string> users_;
  std::map<gid_t, std::string> groups_;
  // Files with more links than names met so far: the first name stored,
  // and how many names are still to come.
  struct Link {
    std::string name;
    nlink_t left;
  };
  std::map<std::pair<dev_t, ino_t>, Link> links_;
};

bool Creator::visit(const WalkItem& item) {
  const struct stat& st = item.st;
  const std::string& path = *item.path;
  if (S_ISREG(st.st_mode) && st.st_dev == stream_dev_ && st.st_ino == stream_ino_) {
    message(c_, "%s: file is the stream; not stored", shown(path).c_str());
    return false;
  }
  if (item.member->empty()) {  // "." or "/": what lies below; with -g also its list of names, as "."
    if (c_.incremental && S_ISDIR(st.st_mode)) store(item, ".", Extras{});
    return true;
  }
  // -g: only what is new or changed; every directory (incremental.h)
  if (c_.incremental && !S_ISDIR(st.st_mode) && !c_.incremental->wanted(*item.member, st)) return false;
  const std::string member = renamed(*item.member);
  if (member.empty()) {
    problem(path, "empty member name");
    return false;
  }
  Extras x;
  switch (st.st_mode & S_IFMT) {
    case S_IFREG:
      add_regular(item, member);
      return false;
    case S_IFDIR:
      gather_xattrs(item, x);
      store(item, member, x);
      if (item.fd < 0 && item.recurse) problem(path, item.open_error);
      return true;
    case S_IFLNK:
      if (!read_link(item, x.target)) {
        problem(path, std::strerror(errno));
        return false;
      }
      x.size = x.target.size();
      break;
    case S_IFSOCK:
      message(c_, "%s: socket ignored", shown(path).c_str());
      return false;
    default:  // FIFOs and devices
      break;
  }
  gather_xattrs(item, x);
  store(item, member, x);
  return false;
}

void Creator::add_regular(const WalkItem& item, const std::string& member) {
  const struct stat& st = item.st;
  if (item.fd < 0) return problem(*item.path, item.open_error);
  Extras x;
  const auto key = std::make_pair(st.st_dev, st.st_ino);
  if (st.st_nlink > 1) {
    auto it = links_.find(key);
    if (it != links_.end()) {
      x.hardlink = &it->second.name;
      store(item, member, x);
      if (--it->second.left == 0) links_.erase(it);
      return;
    }
  }
  x.size = static_cast<uint64_t>(st.st_size);
  // Holes are looked for only where the blocks cannot hold the size.
  map_.clear();
  if (static_cast<uint64_t>(st.st_blocks) * 512 < x.size && find_regions(item.fd, x.size, map_)) x.map = &map_;
  gather_xattrs(item, x);
  if (!store(item, member, x)) return;
  write_content(c_, w_, buf_, item.fd, *item.path, st, map_);
  if (st.st_nlink > 1) links_[key] = Link{member, st.st_nlink - 1};
}

// The extended attributes of the item, through its descriptor, or by its
// name in its directory's descriptor (symbolic links, FIFOs, devices).
void Creator::gather_xattrs(const WalkItem& item, Extras& x) {
  std::string proc;
  const char* path = item.name;
  if (item.fd < 0 && item.dirfd != AT_FDCWD) {
    if (proc_fd_) proc = dpxtool::format("/proc/self/fd/%d/%s", item.dirfd, item.name);
    path = proc_fd_ ? proc.c_str() : item.path->c_str();
  }
  const int err = read_xattrs(item.fd, path, xattrs_);
  if (err != 0) {
    message(c_, "%s: cannot read extended attributes: %s", shown(*item.path).c_str(), std::strerror(err));
    c_.fail(1);
  }
  x.xattrs = &xattrs_;
}

// Starts the entry in the writer; false when it is not stored (reported).
bool Creator::store(const WalkItem& item, const std::string& member, const Extras& x) {
  fill(member, item.st, x);
  if (c_.incremental && S_ISDIR(item.st.st_mode) && item.fd >= 0 && item.recurse && !c_.opt.no_recursion)
    c_.incremental->set_dirlist(c_, item.children, *item.member, *item.path, entry_);  // -g
  const int rc = dpxut_writer_add(w_, entry_);
  if (rc == DPXUT_FATAL) stream_lost(c_, dpxut_writer_error(w_));
  if (rc == DPXUT_FAILED) {
    message(c_, "%s: cannot store the name: %s", shown(member).c_str(), dpxut_writer_error(w_));
    c_.fail(1);
    return false;
  }
  if (rc == DPXUT_WARN && dpxut_writer_errcode(w_) == DPXUT_E_NAME) {
    name_warning(member);
  } else if (rc == DPXUT_WARN && c_.incremental && S_ISDIR(item.st.st_mode)) {  // -g: its list of names left out
    message(c_, "%s: %s", shown(*item.path).c_str(), dpxut_writer_error(w_));
    c_.fail(1);
  } else if (rc == DPXUT_WARN && x.xattrs != nullptr && !x.xattrs->items.empty()) {
    message(c_, "%s: extended attributes too large to store; not all kept", shown(*item.path).c_str());
    c_.fail(1);
  } else if (rc == DPXUT_WARN) {
    message(c_, "%s: %s", shown(*item.path).c_str(), dpxut_writer_error(w_));
  }
  if (c_.incremental && !item.member->empty()) c_.incremental->stored(*item.member, item.st);  // -g
  if (c_.opt.verbose) {
    progress_clear(c_);
    std::fprintf(c_.names_out, "%s\n", shown(member).c_str());
  }
  ++c_.progress.entries;
  progress_tick(c_, 0);
  return true;
}

void Creator::fill(const std::string& member, const struct stat& st, const Extras& x) {
  dpxut_entry* e = entry_;
  dpxut_entry_clear(e);
  bool ok = dpxut_entry_set_name(e, member.c_str()) == DPXUT_OK &&
            dpxut_entry_set_mode(e, st.st_mode) == DPXUT_OK && dpxut_entry_set_uid(e, st.st_uid) == DPXUT_OK &&
            dpxut_entry_set_gid(e, st.st_gid) == DPXUT_OK &&
            dpxut_entry_set_nlink(e, static_cast<uint32_t>(st.st_nlink)) == DPXUT_OK &&
            dpxut_entry_set_size(e, x.size) == DPXUT_OK &&
            dpxut_entry_set_mtime(e, st.st_mtim.tv_sec, static_cast<uint32_t>(st.st_mtim.tv_nsec)) == DPXUT_OK &&
            dpxut_entry_set_atime(e, st.st_atim.tv_sec, static_cast<uint32_t>(st.st_atim.tv_nsec)) == DPXUT_OK &&
            dpxut_entry_set_ctime(e, st.st_ctim.tv_sec, static_cast<uint32_t>(st.st_ctim.tv_nsec)) == DPXUT_OK;
  if (ok && !c_.opt.numeric_owner)
    ok = dpxut_entry_set_uname(e, user_name(st.st_uid).c_str()) == DPXUT_OK &&
         dpxut_entry_set_gname(e, group_name(st.st_gid).c_str()) == DPXUT_OK;
  if (ok && S_ISLNK(st.st_mode)) ok = dpxut_entry_set_symlink(e, x.target.c_str()) == DPXUT_OK;
  if (ok && (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode))) ok = dpxut_entry_set_rdev(e, st.st_rdev) == DPXUT_OK;
  if (ok && x.hardlink != nullptr) ok = dpxut_entry_set_hardlink(e, x.hardlink->c_str()) == DPXUT_OK;
  if (ok && x.map != nullptr)
    for (const Region& r : *x.map) ok = ok && dpxut_entry_add_sparse(e, r.offset, r.length) == DPXUT_OK;
  if (ok && x.xattrs != nullptr) {
    for (const Xattrs::Item& i : x.xattrs->items)
      ok = ok && dpxut_entry_add_xattr(e, x.xattrs->names.data() + i.name, x.xattrs->values.data() + i.value,
                                       i.size) != DPXUT_FATAL;
  }
  if (!ok) stream_lost(c_, "out of memory");
}

// The writer stored the name in locale form only: because the locale's
// code set cannot convert it (told once a run), or because a form did
// not fit.
void Creator::name_warning(const std::string& member) {
  std::string utf;
  std::vector<wchar_t> wide;
  if (dpxtool::locale_to_utf8(member, utf) && dpxtool::locale_to_wide(member, wide)) {
    message(c_, "%s: name kept in locale form only: %s", shown(member).c_str(), dpxut_writer_error(w_));
  } else if (!warned_codeset_) {
    message(c_, "%s: name not valid in code set %s; stored in locale form only", shown(member).c_str(),
            dpxtool::current_codeset().c_str());
    warned_codeset_ = true;
  }
}

}  // namespace

int run_create(Context& c, int fd) {
  struct stat st {};
  const bool is_file = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  if (!c.opt.directory.empty() && chdir(c.opt.directory.c_str()) != 0) {
    message(c, "%s: %s", shown(c.opt.directory).c_str(), std::strerror(errno));
    return 1;
  }
  // The stream is written on a thread of its own while the next files are read.
  dpxtool::AsyncOutput out(fd);
  dpxut_writer* w = dpxut_writer_new(dpxtool::AsyncOutput::write, &out);
  if (w == nullptr) {
    message(c, "%s: out of memory", shown(c.opt.stream).c_str());
    return 1;
  }
  // Options are range-checked as they are parsed; the stamp is the start of the run.
  dpxut_writer_set_block_size(w, c.opt.block_size);
  dpxut_writer_set_part_size(w, c.opt.part_size);
  dpxut_writer_set_time(w, static_cast<int64_t>(std::time(nullptr)));
  if (c.opt.zstd_level != 0 && dpxut_writer_set_compression(w, c.opt.zstd_level, c.opt.threads) != DPXUT_OK) {
    message(c, "%s: %s", shown(c.opt.stream).c_str(), dpxut_writer_error(w));
    dpxut_writer_free(w);
    return 1;
  }
  progress_begin(c, "stored");
  try {
    Creator creator(c, w, is_file ? st.st_dev : 0, is_file ? st.st_ino : 0);
    for (const std::string& path : c.opt.operands) creator.add_operand(path);
    creator.finish();
    if (const int err = out.finish()) stream_lost(c, std::strerror(err));
    if (c.incremental) c.incremental->save(c);  // -g: once the stream is complete
  } catch (const StreamLost&) {  // reported: the stream cannot be trusted, as tar's fatal errors
    c.fail(2);
  }
  progress_clear(c);
  dpxut_writer_free(w);
  return c.status;
}

}  // namespace sidfpack
