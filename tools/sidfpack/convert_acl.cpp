// POSIX ACLs between the Linux attribute form the stream keeps and
// libarchive's ACL entries (see convert.h). The attribute value is a
// little-endian u32 version 2, then per entry u16 tag, u16 permissions, u32
// id, sorted by tag and, for named users and groups, by id.
#include <endian.h>
#include <grp.h>
#include <pwd.h>

#include <algorithm>
#include <cstring>

#include "convert.h"

namespace sidfpack {

const char kAclAccess[] = "system.posix_acl_access";
const char kAclDefault[] = "system.posix_acl_default";

namespace {

constexpr uint32_t kVersion = 2;
constexpr uint32_t kNoId = 0xFFFFFFFFu;

// Tags of the attribute form, beside libarchive's.
struct Tag {
  uint16_t linux_tag;
  int archive_tag;
};
constexpr Tag kTags[] = {
    {0x01, ARCHIVE_ENTRY_ACL_USER_OBJ}, {0x02, ARCHIVE_ENTRY_ACL_USER}, {0x04, ARCHIVE_ENTRY_ACL_GROUP_OBJ},
    {0x08, ARCHIVE_ENTRY_ACL_GROUP},    {0x10, ARCHIVE_ENTRY_ACL_MASK}, {0x20, ARCHIVE_ENTRY_ACL_OTHER},
};

struct Item {
  uint16_t tag, perm;
  uint32_t id;
};

uint32_t load32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return le32toh(v);
}
uint16_t load16(const uint8_t* p) {
  uint16_t v;
  std::memcpy(&v, p, 2);
  return le16toh(v);
}

bool parse(const void* value, size_t size, std::vector<Item>& out) {
  const auto* p = static_cast<const uint8_t*>(value);
  if (size < 4 || (size - 4) % 8 != 0 || load32(p) != kVersion) return false;
  for (size_t at = 4; at < size; at += 8) out.push_back({load16(p + at), load16(p + at + 2), load32(p + at + 4)});
  return true;
}

}  // namespace

bool acl_from_xattr(archive_entry* ae, int type, const void* value, size_t size) {
  std::vector<Item> items;
  if (!parse(value, size, items)) return false;
  for (const Item& i : items) {
    const Tag* t = std::find_if(std::begin(kTags), std::end(kTags), [&](const Tag& k) { return k.linux_tag == i.tag; });
    if (t == std::end(kTags)) return false;
    const char* name = nullptr;
    if (t->archive_tag == ARCHIVE_ENTRY_ACL_USER) {
      const struct passwd* pw = getpwuid(i.id);
      name = pw != nullptr ? pw->pw_name : nullptr;
    } else if (t->archive_tag == ARCHIVE_ENTRY_ACL_GROUP) {
      const struct group* gr = getgrgid(i.id);
      name = gr != nullptr ? gr->gr_name : nullptr;
    }
    const bool named = t->archive_tag == ARCHIVE_ENTRY_ACL_USER || t->archive_tag == ARCHIVE_ENTRY_ACL_GROUP;
    if (archive_entry_acl_add_entry(ae, type, i.perm & 7, t->archive_tag, named ? static_cast<int>(i.id) : -1, name) !=
        ARCHIVE_OK)
      return false;
  }
  return true;
}

bool acl_to_xattr(archive_entry* ae, int type, std::string& value, std::string& why) {
  value.clear();
  if (archive_entry_acl_reset(ae, type) == 0) return true;
  std::vector<Item> items;
  int etype, perm, tag, id;
  const char* name;
  while (archive_entry_acl_next(ae, type, &etype, &perm, &tag, &id, &name) == ARCHIVE_OK) {
    const Tag* t = std::find_if(std::begin(kTags), std::end(kTags), [&](const Tag& k) { return k.archive_tag == tag; });
    if (t == std::end(kTags)) continue;
    uint32_t uid = kNoId;
    if (tag == ARCHIVE_ENTRY_ACL_USER || tag == ARCHIVE_ENTRY_ACL_GROUP) {
      // Archives made elsewhere may name a user or group without its number.
      if (id < 0 && name != nullptr) {
        if (tag == ARCHIVE_ENTRY_ACL_USER) {
          const struct passwd* pw = getpwnam(name);
          if (pw != nullptr) id = static_cast<int>(pw->pw_uid);
        } else {
          const struct group* gr = getgrnam(name);
          if (gr != nullptr) id = static_cast<int>(gr->gr_gid);
        }
      }
      if (id < 0) {
        why = std::string("ACL names unknown ") + (tag == ARCHIVE_ENTRY_ACL_USER ? "user" : "group") + " '" +
              (name != nullptr ? name : "") + "'";
        return false;
      }
      uid = static_cast<uint32_t>(id);
    }
    items.push_back({t->linux_tag, static_cast<uint16_t>(perm & 7), uid});
  }
  // A default ACL without its base entries is no valid one; an access ACL
  // that is only its base entries is the mode.
  std::stable_sort(items.begin(), items.end(),
                   [](const Item& a, const Item& b) { return a.tag != b.tag ? a.tag < b.tag : a.id < b.id; });
  const bool extended = std::any_of(items.begin(), items.end(), [](const Item& i) { return i.tag & 0x1A; });
  if (type == ARCHIVE_ENTRY_ACL_TYPE_ACCESS && !extended) return true;
  value.resize(4 + 8 * items.size());
  uint8_t* p = reinterpret_cast<uint8_t*>(value.data());
  const uint32_t version = htole32(kVersion);
  std::memcpy(p, &version, 4);
  for (size_t k = 0; k < items.size(); ++k) {
    const uint16_t tag16 = htole16(items[k].tag), perm16 = htole16(items[k].perm);
    const uint32_t id32 = htole32(items[k].id);
    std::memcpy(p + 4 + 8 * k, &tag16, 2);
    std::memcpy(p + 6 + 8 * k, &perm16, 2);
    std::memcpy(p + 8 + 8 * k, &id32, 4);
  }
  return true;
}

int acl_mask(const std::string& value) {
  std::vector<Item> items;
  if (!parse(value.data(), value.size(), items)) return -1;
  for (const Item& i : items)
    if (i.tag == 0x10) return i.perm & 7;
  return -1;
}

}  // namespace sidfpack
