// The stream's side of convert (see convert.h): entries read through the
// same loop list, extract and diff use (read.h: damaged records reported
// and passed over), and entries written through a dpxut_writer.
#include <dpxut.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <map>

#include "../common/text.h"
#include "convert.h"
#include "read.h"
#include "restore_tree.h"  // clean_name

namespace sidfpack {
namespace {

using dpxtool::shown;

int64_t input_read(void* ctx, void* buf, size_t size) { return static_cast<Input*>(ctx)->read(buf, size); }

class SidfSource : public EntrySource {
 public:
  SidfSource(Context& c, Input& in) : c_(c), in_(c, dpxut_reader_new(input_read, &in)) {}

  bool next(archive_entry* ae) override {
    std::string name;
    while (in_.next(e_, name))
      if (fill(ae, name)) return true;
    return false;
  }

  // The content is the file's bytes, or a sparse file's regions' bytes one
  // after the other: given here at their offsets in the file.
  bool content(const BlockSink* sink) override {
    if (sink == nullptr) return in_.read_content(nullptr);
    const size_t regions = dpxut_entry_sparse_count(e_);
    size_t region = 0;
    uint64_t at = 0, left = regions == 0 ? ~0ull : 0;
    const bool ok = in_.read_content([&](const uint8_t* p, size_t n) {
      while (n > 0) {
        while (left == 0 && region < regions && dpxut_entry_sparse(e_, region++, &at, &left) == DPXUT_OK) {
        }
        if (left == 0) return;  // the reader holds content to the map
        const size_t take = static_cast<size_t>(std::min<uint64_t>(n, left));
        (*sink)(at, p, take);
        at += take, left -= take, p += take, n -= take;
      }
    });
    if (ok && dpxut_entry_changed(e_) != 0) {
      message(c_, "%s: file changed as it was read when stored", shown(dpxut_entry_name(e_)).c_str());
      c_.fail(1);
    }
    return ok;
  }

 private:
  bool fill(archive_entry* ae, const std::string& name) {
    const dpxut_entry* e = e_;
    const uint32_t mode = dpxut_entry_mode(e), type = mode & DPXUT_IFMT;
    archive_entry_clear(ae);
    archive_entry_copy_pathname(ae, name.c_str());
    archive_entry_set_mode(ae, mode);
    archive_entry_set_uid(ae, dpxut_entry_uid(e));
    archive_entry_set_gid(ae, dpxut_entry_gid(e));
    if (*dpxut_entry_uname(e) != '\0') archive_entry_copy_uname(ae, dpxut_entry_uname(e));
    if (*dpxut_entry_gname(e) != '\0') archive_entry_copy_gname(ae, dpxut_entry_gname(e));
    archive_entry_set_nlink(ae, dpxut_entry_nlink(e));
    archive_entry_set_size(ae, 0);
    if (const char* h = dpxut_entry_hardlink(e)) {
      archive_entry_copy_hardlink(ae, h);
    } else if (type == DPXUT_IFREG) {
      archive_entry_set_size(ae, static_cast<la_int64_t>(dpxut_entry_size(e)));
    } else if (type == DPXUT_IFLNK) {
      if (dpxut_entry_symlink(e) != nullptr) {
        archive_entry_copy_symlink(ae, dpxut_entry_symlink(e));
      } else if (dpxut_entry_symlink_utf8(e) == nullptr ||
                 archive_entry_update_symlink_utf8(ae, dpxut_entry_symlink_utf8(e)) == 0) {
        message(c_, "%s: link target does not convert; not converted", shown(name).c_str());
        c_.fail(1);
        return false;
      }
    } else if (type == DPXUT_IFCHR || type == DPXUT_IFBLK) {
      archive_entry_set_rdev(ae, static_cast<dev_t>(dpxut_entry_rdev(e)));
    }
    // The change time the stream holds is a 2-second local date: not kept.
    archive_entry_set_mtime(ae, dpxut_entry_mtime(e), dpxut_entry_mtime_nsec(e));
    if (dpxut_entry_times_exact(e) != 0 || dpxut_entry_atime(e) != 0)
      archive_entry_set_atime(ae, dpxut_entry_atime(e), dpxut_entry_atime_nsec(e));
    // Attributes as they are; ACLs also as libarchive's ACL entries, which
    // other tar programs restore.
    const char* xname;
    const void* value;
    size_t size;
    for (size_t i = 0; dpxut_entry_xattr(e, i, &xname, &value, &size) == DPXUT_OK; ++i) {
      archive_entry_xattr_add_entry(ae, xname, value, size);
      if (std::strcmp(xname, kAclAccess) == 0) acl_from_xattr(ae, ARCHIVE_ENTRY_ACL_TYPE_ACCESS, value, size);
      if (std::strcmp(xname, kAclDefault) == 0) acl_from_xattr(ae, ARCHIVE_ENTRY_ACL_TYPE_DEFAULT, value, size);
    }
    uint64_t offset, length;
    for (size_t i = 0; dpxut_entry_sparse(e, i, &offset, &length) == DPXUT_OK; ++i)
      archive_entry_sparse_add_entry(ae, static_cast<la_int64_t>(offset), static_cast<la_int64_t>(length));
    return true;
  }

  Context& c_;
  StreamIn in_;
  const dpxut_entry* e_ = nullptr;
};

struct Region {
  uint64_t offset, end;
};

class SidfSink : public EntrySink {
 public:
  SidfSink(Context& c, int fd) : c_(c), out_(c.opt.operands[1]) {
    w_ = dpxut_writer_open_fd(fd);
    e_ = dpxut_entry_new();
    if (w_ == nullptr || e_ == nullptr) {
      give_up("out of memory");
      return;
    }
    dpxut_writer_set_block_size(w_, c_.opt.block_size);
    dpxut_writer_set_part_size(w_, c_.opt.part_size);
    dpxut_writer_set_time(w_, static_cast<int64_t>(std::time(nullptr)));
    // --zstd, or a name ending in ".sidf.zst": compressed.
    int level = c_.opt.zstd_level;
    if (level == 0 && out_.size() > 9 && out_.compare(out_.size() - 9, 9, ".sidf.zst") == 0) level = 3;
    if (level != 0 && dpxut_writer_set_compression(w_, level, c_.opt.threads) != DPXUT_OK)
      give_up(dpxut_writer_error(w_));
  }
  ~SidfSink() override {
    dpxut_entry_free(e_);
    dpxut_writer_free(w_);
  }

  bool add(archive_entry* ae) override;

  void data(uint64_t offset, const uint8_t* p, size_t n) override {
    if (!content_ || lost_) return;
    if (!sparse_) {
      if (offset > pos_) zeros_to(offset);
      if (offset + n <= pos_) return;  // blocks overlap: the first one counts
      write(p + (pos_ - offset), n - (pos_ - offset));
      pos_ = offset + n;
      return;
    }
    zeros_to(offset);
    const uint64_t end = offset + n;
    for (uint64_t at = std::max(offset, pos_); at < end && !lost_;) {
      while (region_ < map_.size() && map_[region_].end <= at) ++region_;
      const uint64_t next = region_ < map_.size() ? map_[region_].offset : end;
      if (at < next) {  // in a hole: zeros, or the map was wrong
        const uint64_t upto = std::min(end, next);
        if (!warned_ && std::any_of(p + (at - offset), p + (upto - offset), [](uint8_t b) { return b != 0; })) {
          problem("data in a hole of its sparse map not kept");
          warned_ = true;
        }
        at = upto;
        continue;
      }
      const uint64_t upto = std::min(end, map_[region_].end);
      write(p + (at - offset), upto - at);
      at = upto;
    }
    pos_ = std::max(pos_, end);
  }

  void end_entry(bool complete) override {
    if (lost_ || !added_) return;
    if (content_ && complete) zeros_to(size_);
    added_ = false;
    const int rc = dpxut_writer_finish_entry(w_);
    if (rc == DPXUT_FATAL) give_up(dpxut_writer_error(w_));
    if (rc == DPXUT_WARN) problem(dpxut_writer_error(w_));
  }

  void finish() override {
    if (lost_) return;
    const int rc = dpxut_writer_finish(w_);
    if (rc == DPXUT_FATAL) give_up(dpxut_writer_error(w_));
    if (rc == DPXUT_WARN) message(c_, "%s: %s", shown(out_).c_str(), dpxut_writer_error(w_));
  }

  bool lost() const override { return lost_; }

 private:
  void give_up(const char* why) {
    message(c_, "%s: %s", shown(out_).c_str(), dpxtool::shown_message(why).c_str());
    c_.fail(1);
    lost_ = true;
  }
  void problem(const char* what) {
    message(c_, "%s: %s", shown(name_).c_str(), dpxtool::shown_message(what).c_str());
    c_.fail(1);
  }
  void write(const uint8_t* p, uint64_t n) {
    const int64_t rc = dpxut_writer_write_data(w_, p, static_cast<size_t>(n));
    if (rc == DPXUT_FATAL) give_up(dpxut_writer_error(w_));
    if (rc == DPXUT_FAILED && !warned_) problem("more content than its size; the rest not kept");
    warned_ = warned_ || rc == DPXUT_FAILED;
  }
  // Zeros for the content between pos_ and `to` (in a sparse file, only
  // where its regions lie).
  void zeros_to(uint64_t to) {
    static const uint8_t kZeros[64 * 1024] = {};
    auto fill = [&](uint64_t n) {
      for (; n > 0 && !lost_; n -= std::min<uint64_t>(n, sizeof kZeros))
        write(kZeros, std::min<uint64_t>(n, sizeof kZeros));
    };
    if (!sparse_) {
      if (to > pos_) fill(to - pos_);
    } else {
      for (; region_ < map_.size() && !lost_; ++region_) {
        const Region& r = map_[region_];
        const uint64_t from = std::max(pos_, r.offset);
        if (from >= to) break;
        if (from < r.end) fill(std::min(to, r.end) - from);
        if (r.end > to) break;
      }
    }
    pos_ = std::max(pos_, to);
  }
  bool member(const char* path, std::string& out);
  void sparse_map(archive_entry* ae);
  bool store_xattrs(archive_entry* ae, uint32_t& mode);

  Context& c_;
  const std::string& out_;
  dpxut_writer* w_ = nullptr;
  dpxut_entry* e_ = nullptr;
  bool lost_ = false, added_ = false, warned_absolute_ = false;
  // The entry being written.
  std::string name_;
  bool content_ = false, warned_ = false;  // warned_: of content that does not fit
  uint64_t size_ = 0, pos_ = 0;            // pos_: file offset the content has reached
  bool sparse_ = false;
  std::vector<Region> map_;  // data regions of a sparse file
  size_t region_ = 0;
};

// The member name as create makes them: relative, without "." or empty
// components; names with ".." are refused.
bool SidfSink::member(const char* path, std::string& out) {
  if (path[0] == '/' && !warned_absolute_) {
    message(c_, "removing leading '/' from member names");
    warned_absolute_ = true;
  }
  if (clean_name(path, out)) return !out.empty();
  message(c_, "%s: refusing a name with '..'; not converted", shown(path).c_str());
  c_.fail(1);
  return false;
}

// The archive's map, regions in order and apart; empty ones dropped but
// the one that marks a file all hole. A map the writer refuses is dropped:
// the file is stored dense.
void SidfSink::sparse_map(archive_entry* ae) {
  map_.clear();
  region_ = 0;
  sparse_ = archive_entry_sparse_reset(ae) != 0;
  if (!sparse_) return;
  la_int64_t offset, length;
  while (archive_entry_sparse_next(ae, &offset, &length) == ARCHIVE_OK) {
    if (offset < 0 || length <= 0) continue;
    const Region r{static_cast<uint64_t>(offset), static_cast<uint64_t>(offset) + static_cast<uint64_t>(length)};
    if (!map_.empty() && r.offset <= map_.back().end)
      map_.back().end = std::max(map_.back().end, r.end);
    else
      map_.push_back(r);
  }
  bool ok = true;
  for (const Region& r : map_) ok = ok && dpxut_entry_add_sparse(e_, r.offset, r.end - r.offset) == DPXUT_OK;
  if (map_.empty()) ok = dpxut_entry_add_sparse(e_, size_, 0) == DPXUT_OK;
  if (!ok) {
    dpxut_entry_clear_sparse(e_);
    map_.clear();
    sparse_ = false;
  }
}

// The entry's attributes, once each (libarchive may give a pax attribute
// twice), and its ACLs as attributes where it has no attribute for them.
// The group bits of the mode are the access ACL's mask.
bool SidfSink::store_xattrs(archive_entry* ae, uint32_t& mode) {
  std::map<std::string, std::string> seen;
  std::vector<const std::string*> order;
  const char* xname;
  const void* value;
  size_t size;
  archive_entry_xattr_reset(ae);
  while (archive_entry_xattr_next(ae, &xname, &value, &size) == ARCHIVE_OK) {
    auto [it, fresh] = seen.emplace(xname, std::string(static_cast<const char*>(value), size));
    if (fresh) order.push_back(&it->first);
  }
  for (const auto& [type, attr] :
       {std::pair{ARCHIVE_ENTRY_ACL_TYPE_ACCESS, kAclAccess}, std::pair{ARCHIVE_ENTRY_ACL_TYPE_DEFAULT, kAclDefault}}) {
    std::string v, why;
    if (seen.count(attr) != 0) continue;
    if (!acl_to_xattr(ae, type, v, why)) {
      problem(why.c_str());
    } else if (!v.empty()) {
      order.push_back(&seen.emplace(attr, v).first->first);
    }
  }
  if (archive_entry_acl_types(ae) & ARCHIVE_ENTRY_ACL_TYPE_NFS4) problem("NFSv4 ACL not kept");
  if (seen.count(kAclAccess) != 0 && acl_mask(seen[kAclAccess]) >= 0)
    mode = (mode & ~070u) | static_cast<uint32_t>(acl_mask(seen[kAclAccess])) << 3;
  for (const std::string* n : order) {
    const std::string& v = seen[*n];
    if (dpxut_entry_add_xattr(e_, n->c_str(), v.data(), v.size()) == DPXUT_FATAL) return false;
  }
  return true;
}

bool SidfSink::add(archive_entry* ae) {
  if (lost_) return false;
  const char* path = archive_entry_pathname(ae);
  if (path == nullptr) {
    const char* utf = archive_entry_pathname_utf8(ae);
    message(c_, "%s: name does not convert to the locale's code set; not converted", shown(utf ? utf : "?").c_str());
    c_.fail(1);
    return false;
  }
  if (!member(path, name_)) return false;
  const unsigned type = archive_entry_filetype(ae);
  const char* hard = archive_entry_hardlink(ae);
  const char* target = archive_entry_symlink(ae);
  std::string hard_name;
  if ((type == 0 && hard == nullptr) || (type == AE_IFLNK && target == nullptr)) {
    problem(type == 0 ? "no file type; not converted" : "link target does not convert; not converted");
    return false;
  }
  if (hard != nullptr && !member(hard, hard_name)) return false;
  content_ = type == AE_IFREG && hard == nullptr;
  size_ = content_           ? static_cast<uint64_t>(std::max<la_int64_t>(archive_entry_size(ae), 0))
          : type == AE_IFLNK ? std::strlen(target)
                             : 0;
  pos_ = 0;
  warned_ = false;
  uint32_t mode = archive_entry_mode(ae) | (type == 0 ? AE_IFREG : 0);  // tar's hard links have no type
  dpxut_entry* e = e_;
  dpxut_entry_clear(e);
  bool ok = dpxut_entry_set_name(e, name_.c_str()) == DPXUT_OK &&
            dpxut_entry_set_uid(e, static_cast<uint32_t>(archive_entry_uid(ae))) == DPXUT_OK &&
            dpxut_entry_set_gid(e, static_cast<uint32_t>(archive_entry_gid(ae))) == DPXUT_OK &&
            dpxut_entry_set_nlink(e, archive_entry_nlink(ae)) == DPXUT_OK && dpxut_entry_set_size(e, size_) == DPXUT_OK;
  if (archive_entry_uname(ae) != nullptr) ok = ok && dpxut_entry_set_uname(e, archive_entry_uname(ae)) == DPXUT_OK;
  if (archive_entry_gname(ae) != nullptr) ok = ok && dpxut_entry_set_gname(e, archive_entry_gname(ae)) == DPXUT_OK;
  if (archive_entry_mtime_is_set(ae))
    ok = ok && dpxut_entry_set_mtime(e, archive_entry_mtime(ae), static_cast<uint32_t>(archive_entry_mtime_nsec(ae))) ==
                   DPXUT_OK;
  if (archive_entry_atime_is_set(ae))
    ok = ok && dpxut_entry_set_atime(e, archive_entry_atime(ae), static_cast<uint32_t>(archive_entry_atime_nsec(ae))) ==
                   DPXUT_OK;
  if (archive_entry_ctime_is_set(ae))
    ok = ok && dpxut_entry_set_ctime(e, archive_entry_ctime(ae), static_cast<uint32_t>(archive_entry_ctime_nsec(ae))) ==
                   DPXUT_OK;
  if (type == AE_IFLNK) ok = ok && dpxut_entry_set_symlink(e, target) == DPXUT_OK;
  if (hard != nullptr) ok = ok && dpxut_entry_set_hardlink(e, hard_name.c_str()) == DPXUT_OK;
  if (type == AE_IFCHR || type == AE_IFBLK) ok = ok && dpxut_entry_set_rdev(e, archive_entry_rdev(ae)) == DPXUT_OK;
  ok = ok && store_xattrs(ae, mode) && dpxut_entry_set_mode(e, mode) == DPXUT_OK;
  map_.clear();
  sparse_ = false;
  if (ok && content_) sparse_map(ae);
  if (!ok) {
    give_up("out of memory");
    return false;
  }
  const int rc = dpxut_writer_add(w_, e);
  if (rc == DPXUT_FATAL) give_up(dpxut_writer_error(w_));
  if (rc == DPXUT_FAILED) problem(dpxut_writer_error(w_));
  if (rc == DPXUT_WARN && dpxut_writer_errcode(w_) == DPXUT_E_NAME)
    message(c_, "%s: %s", shown(name_).c_str(), dpxtool::shown_message(dpxut_writer_error(w_)).c_str());
  else if (rc == DPXUT_WARN)
    problem(dpxut_writer_error(w_));
  added_ = rc == DPXUT_OK || rc == DPXUT_WARN;
  ++c_.progress.entries;
  return added_;
}

}  // namespace

std::unique_ptr<EntrySource> sidf_source(Context& c, Input& in) { return std::make_unique<SidfSource>(c, in); }
std::unique_ptr<EntrySink> sidf_sink(Context& c, int fd) { return std::make_unique<SidfSink>(c, fd); }

}  // namespace sidfpack
