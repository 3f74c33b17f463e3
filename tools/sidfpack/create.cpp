// sidfpack create: walks the PATHs (directories in name order) and hands
// each file, directory and symbolic link to a dpxut_writer, which lays out
// the stream: headers, one record per entry (or per part of a file larger
// than --part-size) on --block-size boundaries, the trailer.
#include <dirent.h>
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

#include "../common/text.h"
#include "context.h"

namespace sidfpack {
namespace {

using dpxtool::shown;

// The writer failed for good (the stream is lost); already reported.
struct StreamLost {};

class Creator {
 public:
  Creator(Context& c, dpxut_writer* w, dev_t stream_dev, ino_t stream_ino)
      : c_(c), w_(w), stream_dev_(stream_dev), stream_ino_(stream_ino),
        buf_(std::min<size_t>(c.opt.buffer_size, 1 << 20)) {
    entry_ = dpxut_entry_new();
    if (entry_ == nullptr) lost("out of memory");
  }
  ~Creator() { dpxut_entry_free(entry_); }
  Creator(const Creator&) = delete;
  Creator& operator=(const Creator&) = delete;

  void add_operand(const std::string& path) {
    std::string member;
    if (!member_name(path, member)) return;
    add_tree(path, member, !c_.opt.no_recursion);
  }

  void finish() {
    if (dpxut_writer_finish(w_) == DPXUT_FATAL) lost(dpxut_writer_error(w_));
  }

 private:
  [[noreturn]] void lost(const char* why) {
    message(c_, "%s: %s", shown(c_.opt.stream).c_str(), why);
    throw StreamLost{};
  }

  // The member name of an operand: relative, without "." components or
  // doubled slashes. A leading "/" is dropped (once reported); ".." is
  // refused, as extract would refuse it.
  bool member_name(const std::string& path, std::string& member) {
    std::string out;
    size_t i = 0;
    if (!path.empty() && path[0] == '/') {
      if (!warned_absolute_) message(c_, "removing leading '/' from member names");
      warned_absolute_ = true;
    }
    while (i < path.size()) {
      size_t j = path.find('/', i);
      if (j == std::string::npos) j = path.size();
      const std::string part = path.substr(i, j - i);
      i = j + 1;
      if (part.empty() || part == ".") continue;
      if (part == "..") {
        message(c_, "%s: refusing a path with '..' (use -C)", shown(path).c_str());
        c_.fail(1);
        return false;
      }
      if (!out.empty()) out += '/';
      out += part;
    }
    member = out;
    return true;
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
    message(c_, "%s: %s", shown(path).c_str(), what);
    c_.fail(1);
  }

  void add_tree(const std::string& path, const std::string& member, bool recurse) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) return problem(path, std::strerror(errno));
    if (st.st_dev == stream_dev_ && st.st_ino == stream_ino_ && S_ISREG(st.st_mode)) {
      message(c_, "%s: file is the stream; not stored", shown(path).c_str());
      return;
    }
    if (!member.empty()) add_file(path, renamed(member), st);
    if (!S_ISDIR(st.st_mode) || !recurse) return;
    std::vector<std::string> children;
    DIR* d = opendir(path.c_str());
    if (d == nullptr) return problem(path, std::strerror(errno));
    while (const struct dirent* e = readdir(d))
      if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) children.emplace_back(e->d_name);
    closedir(d);
    std::sort(children.begin(), children.end());
    const std::string dir = path.back() == '/' ? path : path + "/";
    for (const std::string& child : children)
      add_tree(dir + child, member.empty() ? child : member + "/" + child, true);
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

  static bool read_link(const std::string& path, const struct stat& st, std::string& target) {
    std::vector<char> b(static_cast<size_t>(st.st_size) + 2);
    for (;;) {
      const ssize_t n = readlink(path.c_str(), b.data(), b.size());
      if (n < 0) return false;
      if (static_cast<size_t>(n) < b.size()) {
        target.assign(b.data(), static_cast<size_t>(n));
        return true;
      }
      b.resize(b.size() * 2);
    }
  }

  void add_file(const std::string& path, const std::string& member, const struct stat& st) {
    int fd = -1;
    std::string target;
    uint64_t size = 0;
    if (S_ISREG(st.st_mode)) {
      // O_NONBLOCK: a file swapped for a FIFO since lstat must not hang us.
      fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
      struct stat now {};
      if (fd < 0 || fstat(fd, &now) != 0 || !S_ISREG(now.st_mode) || now.st_ino != st.st_ino) {
        problem(path, fd < 0 ? std::strerror(errno) : "changed while being opened");
        if (fd >= 0) close(fd);
        return;
      }
      size = static_cast<uint64_t>(st.st_size);
    } else if (S_ISLNK(st.st_mode)) {
      if (!read_link(path, st, target)) return problem(path, std::strerror(errno));
      size = target.size();
    } else if (!S_ISDIR(st.st_mode)) {
      message(c_, "%s: %s ignored", shown(path).c_str(),
              S_ISSOCK(st.st_mode) ? "socket" : S_ISFIFO(st.st_mode) ? "FIFO" : "special file");
      return;
    }
    if (member.empty()) {
      problem(path, "empty member name");
    } else if (describe(member, st, size, target)) {
      if (c_.opt.verbose) {
        progress_clear(c_);
        std::fprintf(c_.names_out, "%s\n", shown(member).c_str());
      }
      if (fd >= 0) content(path, fd, size);
      ++c_.progress.entries;
      progress_tick(c_, 0);
    }
    if (fd >= 0) close(fd);
  }

  // Starts the entry in the writer; false when it is not stored (reported).
  bool describe(const std::string& member, const struct stat& st, uint64_t size, const std::string& target) {
    dpxut_entry* e = entry_;
    dpxut_entry_clear(e);
    bool ok = dpxut_entry_set_name(e, member.c_str()) == DPXUT_OK &&
              dpxut_entry_set_mode(e, st.st_mode) == DPXUT_OK && dpxut_entry_set_uid(e, st.st_uid) == DPXUT_OK &&
              dpxut_entry_set_gid(e, st.st_gid) == DPXUT_OK &&
              dpxut_entry_set_uname(e, user_name(st.st_uid).c_str()) == DPXUT_OK &&
              dpxut_entry_set_gname(e, group_name(st.st_gid).c_str()) == DPXUT_OK &&
              dpxut_entry_set_nlink(e, static_cast<uint32_t>(st.st_nlink)) == DPXUT_OK &&
              dpxut_entry_set_size(e, size) == DPXUT_OK &&
              dpxut_entry_set_mtime(e, st.st_mtim.tv_sec, static_cast<uint32_t>(st.st_mtim.tv_nsec)) == DPXUT_OK &&
              dpxut_entry_set_atime(e, st.st_atim.tv_sec, static_cast<uint32_t>(st.st_atim.tv_nsec)) == DPXUT_OK &&
              dpxut_entry_set_ctime(e, st.st_ctim.tv_sec, static_cast<uint32_t>(st.st_ctim.tv_nsec)) == DPXUT_OK;
    if (ok && S_ISLNK(st.st_mode)) ok = dpxut_entry_set_symlink(e, target.c_str()) == DPXUT_OK;
    if (!ok) lost("out of memory");
    const int rc = dpxut_writer_add(w_, e);
    if (rc == DPXUT_FATAL) lost(dpxut_writer_error(w_));
    if (rc == DPXUT_FAILED) {
      message(c_, "%s: cannot store the name: %s", shown(member).c_str(), dpxut_writer_error(w_));
      c_.fail(1);
      return false;
    }
    if (rc == DPXUT_WARN) name_warning(member);
    return true;
  }

  // The writer stored the name in locale form only: because the locale's
  // code set cannot convert it (told once a run), or because a form did
  // not fit.
  void name_warning(const std::string& member) {
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

  // The content: exactly `size` bytes. A file that shrinks is stored with
  // zeros for the rest (the writer fills them in); one that grew is told.
  void content(const std::string& path, int fd, uint64_t size) {
    uint64_t left = size;
    while (left > 0) {
      const size_t want = static_cast<size_t>(std::min<uint64_t>(left, buf_.size()));
      ssize_t got;
      do got = ::read(fd, buf_.data(), want);
      while (got < 0 && errno == EINTR);
      if (got <= 0) {
        if (got < 0) message(c_, "%s: read error: %s; the rest is stored as zeros", shown(path).c_str(),
                             std::strerror(errno));
        else message(c_, "%s: file shrank by %llu bytes; the rest is stored as zeros", shown(path).c_str(),
                     static_cast<unsigned long long>(left));
        c_.fail(1);
        if (dpxut_writer_finish_entry(w_) == DPXUT_FATAL) lost(dpxut_writer_error(w_));
        progress_tick(c_, left);
        return;
      }
      if (dpxut_writer_write_data(w_, buf_.data(), static_cast<size_t>(got)) < 0) lost(dpxut_writer_error(w_));
      left -= static_cast<uint64_t>(got);
      progress_tick(c_, static_cast<uint64_t>(got));
    }
    char probe;
    if (::read(fd, &probe, 1) > 0) problem(path, "file changed as we read it (grew)");
  }

  Context& c_;
  dpxut_writer* w_;
  dev_t stream_dev_;
  ino_t stream_ino_;
  dpxut_entry* entry_ = nullptr;  // reused from entry to entry
  std::vector<uint8_t> buf_;      // content read from a file
  bool warned_absolute_ = false;
  bool warned_codeset_ = false;
  std::map<uid_t, std::string> users_;
  std::map<gid_t, std::string> groups_;
};

}  // namespace

int run_create(Context& c, int fd) {
  struct stat st {};
  const bool is_file = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  if (!c.opt.directory.empty() && chdir(c.opt.directory.c_str()) != 0) {
    message(c, "%s: %s", shown(c.opt.directory).c_str(), std::strerror(errno));
    return 1;
  }
  dpxut_writer* w = dpxut_writer_open_fd(fd);
  if (w == nullptr) {
    message(c, "%s: out of memory", shown(c.opt.stream).c_str());
    return 1;
  }
  // Options are range-checked as they are parsed; the stamp is the start of the run.
  dpxut_writer_set_block_size(w, c.opt.block_size);
  dpxut_writer_set_part_size(w, c.opt.part_size);
  dpxut_writer_set_time(w, static_cast<int64_t>(std::time(nullptr)));
  progress_begin(c, "stored");
  try {
    Creator creator(c, w, is_file ? st.st_dev : 0, is_file ? st.st_ino : 0);
    for (const std::string& path : c.opt.operands) creator.add_operand(path);
    creator.finish();
  } catch (const StreamLost&) {
    c.fail(1);
  }
  progress_clear(c);
  dpxut_writer_free(w);
  return c.status;
}

}  // namespace sidfpack
