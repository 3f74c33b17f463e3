// sidfpack extract. Every file system call is made relative to a descriptor
// of the target folder or of a folder below it, opened component by
// component with O_NOFOLLOW (restore_tree.h), so no name and no symbolic
// link (from the stream or already there) leads outside the target folder.
// A file is written unnamed (O_TMPFILE) or under a temporary name and given
// its name only once its content has passed its check; other entries are
// made under a temporary name and renamed into place. Folders get their
// modes and times at the end, also when the run stops early.
//
// A small file is read whole and checked by the run, then made on a
// thread of its own (restore_async.h) while the run reads on; every other
// entry waits until that thread is idle.
#include <dpxut.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <unordered_set>
#include <cerrno>
#include <cstring>
#include <vector>

#include "../common/text.h"
#include "incremental.h"  // -G
#include "read.h"
#include "restore_async.h"
#include "restore_meta.h"
#include "restore_signal.h"
#include "restore_tree.h"
#include "select.h"

namespace sidfpack {
namespace {

using dpxtool::format;
using dpxtool::shown;

struct Interrupted {};  // a signal asked the run to stop

// Files up to this size are read whole, then written in place at once.
constexpr uint64_t kInPlaceBytes = 256 * 1024;

// The file being written: its descriptor and, when it has one, its
// temporary name, both let go of on every path out of file().
struct Output {
  int dir = -1, fd = -1;
  std::string temp;  // empty: an O_TMPFILE file, or already in place
  Output() = default;
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;
  ~Output() {
    if (fd >= 0) close(fd);
    if (!temp.empty()) unlinkat(dir, temp.c_str(), 0);
    temp_disarm();
  }
};

bool write_all(int fd, const uint8_t* p, size_t n, uint64_t at, bool positioned) {
  while (n > 0) {
    const ssize_t w = positioned ? pwrite(fd, p, n, static_cast<off_t>(at)) : ::write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      if (w == 0) errno = ENOSPC;
      return false;
    }
    p += w;
    n -= static_cast<size_t>(w);
    at += static_cast<uint64_t>(w);
  }
  return true;
}

class Extractor {
 public:
  Extractor(Context& c, int root)
      : c_(c), root_(root), walk_(root), attrs_(c), tmpfile_(access("/proc/self/fd", X_OK) == 0) {
    // -G removes names before it makes them: it keeps to one thread.
    if (!c.opt.incremental && sysconf(_SC_NPROCESSORS_ONLN) > 1) writer_ = std::make_unique<FileWriter>();
  }
  Extractor(const Extractor&) = delete;
  Extractor& operator=(const Extractor&) = delete;

  bool stopped() const { return stopped_; }

  void entry(StreamIn& in, const dpxut_entry* e, const std::string& name) {
    collect(false);
    std::vector<std::string> parts;
    std::string why;
    if (names_top(name, dpxut_entry_filetype(e))) {  // the target folder: -G removes what it no longer holds
      in.read_content(nullptr);
      if (c_.opt.incremental) incremental_prune(c_, root_, ".", name, e);
      return;
    }
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
    if (writer_ && type == S_IFREG && dpxut_entry_hardlink(e) == nullptr && small(e) && small_async(in, e, m, parts))
      return;
    // A folder is made beside the thread's work unless it meets a file
    // still to be made; everything else waits for the thread.
    if (type != S_IFDIR || pending_on(parts)) settle();
    if (type != S_IFDIR) incremental(e, name, parts, false);  // -G: a folder in its place
    if (const char* to = dpxut_entry_hardlink(e)) {
      in.read_content(nullptr);
      hardlink(m, parts, to);
    } else if (type == S_IFREG) {
      file(in, e, m, parts);
    } else {
      in.read_content(nullptr);
      if (type == S_IFDIR) {
        directory(m, parts);
        incremental(e, name, parts, true);  // -G: what it no longer holds
      } else if (type == S_IFLNK) symlink(m, parts, dpxut_entry_symlink(e));
      else if (type == S_IFIFO || type == S_IFCHR || type == S_IFBLK) special(m, parts, dpxut_entry_rdev(e));
      else problem(m, type == S_IFSOCK ? "sockets are not restored" : "unsupported entry type");
    }
  }

  // Modes and times of folders are set last, deepest first: writing into a
  // folder changes its time, and its mode might forbid the writing.
  void finish() {
    settle();
    for (auto it = dirs_.rbegin(); it != dirs_.rend(); ++it) {
      std::string why;
      const int at = walk_.parent(it->parts, false, why);
      if (at < 0) continue;
      const int fd = openat(at, it->parts.back().c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (fd < 0) continue;
      attrs_.apply(it->meta, fd);
      close(fd);
    }
    dirs_.clear();
  }

 private:
  struct Dir {
    std::vector<std::string> parts;
    Meta meta;
  };

  void problem(const Meta& m, const std::string& what) { entry_problem(c_, m.name, what); }

  static bool small(const dpxut_entry* e) {
    return dpxut_entry_sparse_count(e) == 0 && dpxut_entry_size(e) <= kInPlaceBytes;
  }

  // A small file for the writer thread: its folder must stand already
  // (making folders is the run's own work). False when it goes the
  // run's way instead (nothing read).
  bool small_async(StreamIn& in, const dpxut_entry* e, const Meta& m, const std::vector<std::string>& parts) {
    std::string why;
    const int dir = walk_.parent(parts, false, why);
    if (dir < 0) return false;
    std::string key;
    for (size_t i = 0; i + 1 < parts.size(); ++i) (key += parts[i]) += '/';
    if (!shared_dir_ || key != shared_key_) {
      const int fd = fcntl(dir, F_DUPFD_CLOEXEC, 0);
      if (fd < 0) return false;
      shared_dir_ = std::make_shared<const SharedDir>(fd);
      shared_key_ = std::move(key);
    }
    auto job = writer_->job();
    const bool whole = in.read_content([&](const uint8_t* p, size_t n) {
      if (stop_signal() != 0) throw Interrupted{};
      writer_->add(*job, p, n);
    });
    if (stop_signal() != 0) throw Interrupted{};
    if (!whole) {  // reported by the reader; nothing was created
      writer_->drop(std::move(job));
      if (c_.opt.stop_on_error) stopped_ = true;
      return true;
    }
    job->dir = shared_dir_;
    job->leaf = parts.back();
    job->meta = m;
    job->plan = attrs_.plan(m);
    job->mode = attrs_.creation_mode(m);
    job->changed = dpxut_entry_changed(e) != 0;
    job->key = shared_key_ + parts.back();
    pending_.insert(job->key);
    writer_->submit(std::move(job));
    return true;
  }

  // Whether the name, or a folder on its way, is a file the thread has
  // still to make.
  bool pending_on(const std::vector<std::string>& parts) const {
    if (pending_.empty()) return false;
    std::string key;
    for (const std::string& p : parts) {
      key += p;
      if (pending_.count(key) != 0) return true;
      key += '/';
    }
    return false;
  }

  // The outcomes of the writer thread's jobs, in order; with wait, once it
  // is idle (before the run's own calls: nothing is half made then).
  void collect(bool wait) {
    if (!writer_) return;
    if (wait) writer_->wait_idle();
    for (const auto& job : writer_->take_done()) {
      pending_.erase(job->key);
      switch (job->outcome) {
        case SmallFile::Outcome::kMade:
          attrs_.report(job->meta, job->plan, job->failed);
          if (job->changed) problem(job->meta, "file changed as it was read when stored");
          break;
        case SmallFile::Outcome::kTaken:  // the general way, with the thread idle (one signal slot)
          writer_->wait_idle();
          replace_small(job->data(), job->size, job->changed, job->meta, job->dir->fd, job->leaf);
          break;
        case SmallFile::Outcome::kFailed:
          problem(job->meta, format("%s: %s", job->what, std::strerror(job->err)));
          break;
        case SmallFile::Outcome::kSkipped:
          break;
      }
    }
  }
  void settle() {
    if (!writer_) return;
    collect(true);
    shared_dir_.reset();  // the run may change the tree now
  }

  // extract -G (restore_incremental.cpp)
  void incremental(const dpxut_entry* e, const std::string& name, const std::vector<std::string>& parts, bool dir) {
    if (!c_.opt.incremental) return;
    std::string why;
    const int at = walk_.parent(parts, false, why);
    if (at >= 0 && dir) incremental_prune(c_, at, parts.back(), name, e);
    else if (at >= 0) incremental_clear(c_, at, parts.back(), name);
  }

  int parent(const Meta& m, const std::vector<std::string>& parts) {
    std::string why;
    const int fd = walk_.parent(parts, true, why);
    if (fd < 0) problem(m, why);
    return fd;
  }

  std::string temp_name() { return format(".sidfpack-%ld-%u", static_cast<long>(pid_), ++temp_counter_); }

  // Puts the temporary `temp` in place under the entry's name, replacing
  // what stands there (not a folder).
  void put_in_place(int dir, std::string& temp, const Meta& m, const std::string& leaf) {
    if (renameat(dir, temp.c_str(), dir, leaf.c_str()) == 0) temp.clear();
    else problem(m, format("cannot put in place: %s", std::strerror(errno)));
  }

  void open_output(Output& out, int dir, const Meta& m) {
    out.dir = dir;
    const mode_t mode = attrs_.creation_mode(m);
#ifdef O_TMPFILE
    if (tmpfile_) out.fd = openat(dir, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
    if (out.fd >= 0) return;
#endif
    out.temp = temp_name();
    temp_arm(dir, out.temp.c_str());
    out.fd = openat(dir, out.temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (out.fd < 0) {
      problem(m, format("cannot create: %s", std::strerror(errno)));
      out.temp.clear();
    }
  }

  // Links the unnamed file in: by its descriptor where this process may
  // (CAP_DAC_READ_SEARCH, the shorter way), else through /proc.
  bool link_unnamed(const Output& out, const char* name) {
    if (empty_path_) {
      if (linkat(out.fd, "", out.dir, name, AT_EMPTY_PATH) == 0) return true;
      if (errno != EPERM && errno != ENOENT && errno != EINVAL) return false;
      empty_path_ = false;
    }
    char proc[40];
    std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", out.fd);
    return linkat(AT_FDCWD, proc, out.dir, name, AT_SYMLINK_FOLLOW) == 0;
  }

  // An unnamed file gets its name by a link; where a file of
  // that name stands, under a temporary name first, renamed over it, so the
  // name never goes missing.
  void name_output(Output& out, const Meta& m, const std::string& leaf) {
    if (!out.temp.empty()) {
      put_in_place(out.dir, out.temp, m, leaf);
      return;
    }
    if (link_unnamed(out, leaf.c_str())) return;
    if (errno == EEXIST) {
      out.temp = temp_name();
      temp_arm(out.dir, out.temp.c_str());
      if (link_unnamed(out, out.temp.c_str())) {
        put_in_place(out.dir, out.temp, m, leaf);
        return;
      }
      out.temp.clear();
    }
    problem(m, format("cannot put in place: %s", std::strerror(errno)));
  }

  // Regular files are named once their content has passed its check, so a
  // damaged file never stands under its name, and an existing entry of that
  // name (a symbolic link included) is replaced, not written through. A
  // sparse file's content is its data regions one after the other: each
  // goes to its offset, the holes stay holes.
  void file(StreamIn& in, const dpxut_entry* e, const Meta& m, const std::vector<std::string>& parts) {
    const int dir = parent(m, parts);
    if (dir >= 0 && dpxut_entry_sparse_count(e) == 0 && dpxut_entry_size(e) <= kInPlaceBytes &&
        small_file(in, e, m, dir, parts.back()))
      return;
    Output out;
    if (dir >= 0) open_output(out, dir, m);
    if (out.fd < 0) {
      in.read_content(nullptr);
      return;
    }
    const size_t regions = dpxut_entry_sparse_count(e);
    size_t region = 0;
    uint64_t offset = 0, left = 0;  // the current region's next offset and bytes left
    std::string error;
    const bool whole = in.read_content([&](const uint8_t* p, size_t n) {
      if (stop_signal() != 0) throw Interrupted{};
      if (!error.empty()) return;
      if (regions == 0) {
        if (!write_all(out.fd, p, n, 0, false)) error = format("write error: %s", std::strerror(errno));
        return;
      }
      while (n > 0 && error.empty()) {
        while (left == 0 && region < regions && dpxut_entry_sparse(e, region++, &offset, &left) == DPXUT_OK) {}
        if (left == 0) {
          error = "content beyond its data regions";
          break;
        }
        const size_t k = static_cast<size_t>(std::min<uint64_t>(n, left));
        if (!write_all(out.fd, p, k, offset, true)) error = format("write error: %s", std::strerror(errno));
        p += k, n -= k, offset += k, left -= k;
      }
    });
    if (stop_signal() != 0) throw Interrupted{};  // its temporary name may be gone already
    if (whole && error.empty() && regions > 0 && ftruncate(out.fd, static_cast<off_t>(dpxut_entry_size(e))) != 0)
      error = format("cannot set size: %s", std::strerror(errno));
    if (!whole || !error.empty()) {  // a damaged content was reported by the reader
      if (!error.empty()) problem(m, error);
      if (!whole && c_.opt.stop_on_error) stopped_ = true;
      return;
    }
    finish_file(out, m, parts.back());
    if (dpxut_entry_changed(e) != 0) problem(m, "file changed as it was read when stored");
  }

  // A small file is read whole and checked first, then, where its name is
  // free, written in place: one create, one write, no link or rename (the
  // name is armed for the signal handler while it is written). False when
  // the name is taken: the general way replaces what stands there.
  bool small_file(StreamIn& in, const dpxut_entry* e, const Meta& m, int dir, const std::string& leaf) {
    small_.clear();
    const bool whole = in.read_content([&](const uint8_t* p, size_t n) {
      if (stop_signal() != 0) throw Interrupted{};
      small_.insert(small_.end(), p, p + n);
    });
    if (stop_signal() != 0) throw Interrupted{};
    if (!whole) {  // reported by the reader; nothing was created
      if (c_.opt.stop_on_error) stopped_ = true;
      return true;
    }
    Output out;
    out.dir = dir;
    out.temp = leaf;  // removed on every way out until it is complete
    temp_arm(dir, leaf.c_str());
    out.fd = openat(dir, leaf.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, attrs_.creation_mode(m));
    if (out.fd < 0) {
      const int err = errno;
      out.temp.clear();
      temp_disarm();
      if (err == EEXIST) return replace_small(small_.data(), small_.size(), dpxut_entry_changed(e) != 0, m, dir, leaf);
      problem(m, format("cannot create: %s", std::strerror(err)));
      return true;
    }
    if (!write_all(out.fd, small_.data(), small_.size(), 0, false)) {
      problem(m, format("write error: %s", std::strerror(errno)));
      return true;
    }
    attrs_.apply(m, out.fd);
    const int rc = close(out.fd);
    out.fd = -1;
    if (rc != 0) {
      problem(m, format("write error: %s", std::strerror(errno)));
      return true;
    }
    out.temp.clear();
    if (dpxut_entry_changed(e) != 0) problem(m, "file changed as it was read when stored");
    return true;
  }

  // A small file whose name is taken: the content already read goes the
  // general way (unnamed or temporary file, then in place over the name).
  bool replace_small(const uint8_t* content, size_t size, bool changed, const Meta& m, int dir,
                     const std::string& leaf) {
    Output out;
    open_output(out, dir, m);
    if (out.fd < 0) return true;
    if (!write_all(out.fd, content, size, 0, false)) {
      problem(m, format("write error: %s", std::strerror(errno)));
      return true;
    }
    finish_file(out, m, leaf);
    if (changed) problem(m, "file changed as it was read when stored");
    return true;
  }

  void finish_file(Output& out, const Meta& m, const std::string& leaf) {
    attrs_.apply(m, out.fd);
    if (!out.temp.empty()) {  // a named file is closed (write errors show there) before it is renamed
      const int rc = close(out.fd);
      out.fd = -1;
      if (rc != 0) return problem(m, format("write error: %s", std::strerror(errno)));
    }
    name_output(out, m, leaf);
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

  // Links, FIFOs and devices: made under a temporary name, given their
  // owner, mode, attributes and times there (not a hard link: its file has
  // them), then renamed into place.
  enum class Node { kSymlink, kHardlink, kOther };
  template <class Make>
  void node(const Meta& m, const std::vector<std::string>& parts, Node kind, const std::string& what, Make make) {
    const int dir = parent(m, parts);
    if (dir < 0) return;
    Output out;
    out.dir = dir;
    out.temp = temp_name();
    temp_arm(dir, out.temp.c_str());
    if (make(dir, out.temp.c_str()) != 0) {
      problem(m, format("cannot create %s: %s", what.c_str(), std::strerror(errno)));
      out.temp.clear();
      return;
    }
    if (kind != Node::kHardlink) attrs_.apply_at(m, dir, out.temp.c_str(), kind == Node::kSymlink);
    const std::string made = out.temp;
    put_in_place(dir, out.temp, m, parts.back());
    // A rename between two names of one file does nothing: where the name
    // was that file already, the temporary link still stands.
    if (kind == Node::kHardlink && out.temp.empty()) unlinkat(dir, made.c_str(), 0);
  }

  void symlink(const Meta& m, const std::vector<std::string>& parts, const char* target) {
    if (target == nullptr || *target == '\0') return problem(m, "damaged link target");
    node(m, parts, Node::kSymlink, "link",
         [&](int dir, const char* temp) { return symlinkat(target, dir, temp); });
  }

  // Devices need root (or the capability to make them): elsewhere they are
  // reported and passed over.
  void special(const Meta& m, const std::vector<std::string>& parts, uint64_t rdev) {
    const mode_t type = m.mode & S_IFMT;
    node(m, parts, Node::kOther, type == S_IFIFO ? "FIFO" : "device", [&](int dir, const char* temp) {
      return type == S_IFIFO ? mkfifoat(dir, temp, 0600) : mknodat(dir, temp, type | 0600, static_cast<dev_t>(rdev));
    });
  }

  // A hard link to an earlier entry: both names lie below the target
  // folder, reached as every other name is; the link itself is not
  // followed (linkat without AT_SYMLINK_FOLLOW).
  void hardlink(const Meta& m, const std::vector<std::string>& parts, const std::string& to) {
    std::vector<std::string> to_parts;
    std::string why;
    DirWalk other(root_);
    const int from = split_name(to, to_parts, why) ? other.parent(to_parts, false, why) : -1;
    if (from < 0) return problem(m, format("link to %s: %s", shown(to).c_str(), why.c_str()));
    node(m, parts, Node::kHardlink, "hard link to " + shown(to),
         [&](int dir, const char* temp) { return linkat(from, to_parts.back().c_str(), dir, temp, 0); });
  }

  Context& c_;
  int root_;
  DirWalk walk_;
  Attributes attrs_;
  bool tmpfile_;  // files are written unnamed and linked in through /proc
  std::vector<uint8_t> small_;  // the content of a small file, read whole before it is written
  bool empty_path_ = geteuid() == 0;  // ... or by their descriptor
  bool stopped_ = false;
  unsigned temp_counter_ = 0;
  const pid_t pid_ = getpid();
  std::vector<Dir> dirs_;
  std::unique_ptr<FileWriter> writer_;       // null: every file made by the run itself
  std::shared_ptr<const SharedDir> shared_dir_;  // the folder of the last job, and its path
  std::string shared_key_;
  std::unordered_set<std::string> pending_;  // the names of the thread's jobs not yet collected
};

}  // namespace

int run_extract(Context& c, int fd) {
  const int root = open_target(c);
  if (root < 0) return 2;  // nothing can be restored: fatal, as tar
  {
    SignalGuard signals;
    StreamIn in(c, fd);
    Selection selection(c.opt);
    Extractor extractor(c, root);
    progress_begin(c, "restored");
    const dpxut_entry* e = nullptr;
    std::string name;
    try {
      while (stop_signal() == 0 && !extractor.stopped() && in.next(e, name)) {
        if (selection.selects(name)) extractor.entry(in, e, name);
        else in.read_content(nullptr);
      }
    } catch (const Interrupted&) {
    } catch (...) {
      extractor.finish();
      throw;
    }
    extractor.finish();
    progress_clear(c);
    if (const int sig = stop_signal()) {
      message(c, "stopped by signal %d (%s)", sig, strsignal(sig));
      std::fflush(stdout);
      die_of(sig);
    }
    selection.report_unused(c);
  }
  close(root);
  return c.status;
}

}  // namespace sidfpack
