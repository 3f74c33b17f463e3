// sidfpack list: one line per selected entry (mode, owner and group with
// -v, size or device numbers, modification time, name, link target, and a
// note when the file changed while it was stored), and with -vv the name in
// each of its forms, the extended attributes and the sparse map.
#include <dpxut.h>
#include <sys/sysmacros.h>

#include "../common/text.h"
#include "read.h"
#include "select.h"

namespace sidfpack {
namespace {

using dpxtool::shown;

std::string owner_text(const Context& c, const char* name, uint32_t id) {
  return c.opt.numeric_owner || *name == '\0' ? std::to_string(id) : shown(name);
}

void list_details(const dpxut_entry* e) {
  // The name as each form gives it, shown as locale text.
  std::string forms[3];
  bool has[3] = {dpxut_entry_name(e) != nullptr, false, false};
  if (has[0]) forms[0] = dpxut_entry_name(e);
  if (const char* utf = dpxut_entry_name_utf8(e)) has[1] = dpxtool::utf8_to_locale(utf, forms[1]);
  if (const wchar_t* wide = dpxut_entry_name_wide(e)) has[2] = dpxtool::wide_to_locale(wide, forms[2]);
  static const char* const kSpace[3] = {"0x000", "0x100", "0x200"};
  for (int i = 0; i < 3; ++i)
    std::printf("    name space %s: %s\n", kSpace[i], has[i] ? shown(forms[i]).c_str() : "(none)");
  const char* name = nullptr;
  const void* value = nullptr;
  size_t size = 0;
  for (size_t i = 0; dpxut_entry_xattr(e, i, &name, &value, &size) == DPXUT_OK; ++i)
    std::printf("    xattr %s: %zu bytes\n", shown(name).c_str(), size);
  uint64_t offset = 0, length = 0;
  for (size_t i = 0; dpxut_entry_sparse(e, i, &offset, &length) == DPXUT_OK; ++i)
    std::printf("    data at %llu: %llu bytes\n", static_cast<unsigned long long>(offset),
                static_cast<unsigned long long>(length));
}

void list_entry(Context& c, const dpxut_entry* e, const std::string& name) {
  progress_clear(c);
  const uint32_t type = dpxut_entry_filetype(e);
  std::string line = dpxtool::mode_text(dpxut_entry_mode(e));
  if (c.opt.verbose) {
    line += ' ';
    line += owner_text(c, dpxut_entry_uname(e), dpxut_entry_uid(e));
    line += '/';
    line += owner_text(c, dpxut_entry_gname(e), dpxut_entry_gid(e));
  }
  if (type == DPXUT_IFCHR || type == DPXUT_IFBLK) {
    const uint64_t dev = dpxut_entry_rdev(e);
    line += dpxtool::format(" %8u,%3u", major(dev), minor(dev));
  } else {
    const std::string digits = std::to_string(dpxut_entry_size(e));  // as " %12llu"
    line.append(digits.size() < 12 ? 13 - digits.size() : 1, ' ');
    line += digits;
  }
  line += ' ';
  line += dpxtool::date_text(dpxut_entry_mtime(e));
  line += ' ';
  line += shown(name);
  if (type == DPXUT_IFLNK) {
    const char* target = dpxut_entry_symlink(e);
    line += " -> " + shown(target != nullptr ? target : "");
  } else if (const char* to = dpxut_entry_hardlink(e)) {
    line += " link to " + shown(to);
  }
  if (c.opt.verbose && dpxut_entry_changed(e)) line += " (changed while stored)";
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), stdout);
  if (c.opt.verbose > 1) list_details(e);
}

}  // namespace

int run_list(Context& c, int fd) {
  StreamIn in(c, fd);
  Selection selection(c.opt);
  progress_begin(c, "listed");
  const dpxut_entry* e = nullptr;
  std::string name;
  while (in.next(e, name)) {
    const bool selected = selection.selects(name);
    // The changed mark is known once the content has been passed over.
    if (selected && !c.opt.verbose) list_entry(c, e, name);
    in.read_content(nullptr);
    if (selected && c.opt.verbose) list_entry(c, e, name);
  }
  progress_clear(c);
  in.finish();
  selection.report_unused(c);
  return c.status;
}

}  // namespace sidfpack
