// Name lists: node layout, order, cursor rewinding, destruction with and
// without freeData, and the release of host-built name lists.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <malloc.h>
#include <string>
#include <vector>

#include "dpxut.h"

namespace {

// Members of the packed node are read by value: gtest would bind references
// to them, and they are not aligned.
template <typename T>
T v(T x) {
  return x;
}

std::vector<void*> g_freed;
void record_free(void* p) { g_freed.push_back(p); }

std::vector<std::string> forward_names(HVDPList* list) {
  std::vector<std::string> out;
  for (HVDPListNode* n = HVDPGetListHead(list); n != nullptr; n = n->next) out.emplace_back(n->text);
  return out;
}

TEST(NameList, NodesAreZeroedBlocksInAppendOrder) {
  HVDPList list;
  std::memset(&list, 0xEE, sizeof list);
  HVDPInitList(&list, nullptr);
  EXPECT_EQ(list.head, nullptr);
  EXPECT_EQ(list.tail, nullptr);
  EXPECT_EQ(list.compare("ReadMe", "README"), 0);  // strcasecmp
  EXPECT_EQ(HVDPGetListHead(&list), nullptr);
  int payload = 7;
  for (const char* name : {"b", "", "SYS:/etc/hosts", "b"}) {
    HVDPListNode* node = HVDPAppendToList(&list, name, &payload);
    ASSERT_NE(node, nullptr);
    EXPECT_GE(malloc_usable_size(node), 26 + std::strlen(name));
    EXPECT_EQ(node->reserved, 0);
    EXPECT_EQ(v(node->next), nullptr);
    EXPECT_EQ(v(node->data), &payload);
    EXPECT_EQ(reinterpret_cast<char*>(node) + 25, node->text);
    EXPECT_STREQ(node->text, name);
  }
  EXPECT_EQ(forward_names(&list), (std::vector<std::string>{"b", "", "SYS:/etc/hosts", "b"}));
  EXPECT_EQ(v(list.tail->prev->prev->prev->prev), nullptr);
  // Moving the cursor and rewinding it.
  HVDPListNode* first = list.head;
  list.head = list.tail;
  EXPECT_EQ(HVDPGetListHead(&list), first);
  EXPECT_EQ(list.head, first);
  HVDPDestroyList(&list);
  EXPECT_EQ(list.head, nullptr);
  EXPECT_EQ(list.tail, nullptr);
}

// A host that walks with head as its cursor ends with head null; the list
// still owns its nodes, so rewinding, appending and destroying go on from
// the tail instead of losing them.
TEST(NameList, CursorRunOffTheEndLosesNoNode) {
  HVDPList list;
  HVDPInitList(&list, &record_free);
  g_freed.clear();
  int d1 = 1, d2 = 2, d3 = 3;
  HVDPListNode* first = HVDPAppendToList(&list, "one", &d1);
  HVDPAppendToList(&list, "two", &d2);
  while (list.head != nullptr) list.head = list.head->next;
  HVDPListNode* added = HVDPAppendToList(&list, "three", &d3);
  ASSERT_NE(added, nullptr);
  EXPECT_EQ(v(added->prev->next), added);
  EXPECT_EQ(HVDPGetListHead(&list), first);
  EXPECT_EQ(forward_names(&list), (std::vector<std::string>{"one", "two", "three"}));
  list.head = nullptr;
  HVDPDestroyList(&list);  // the sanitizer build's leak check sees every node freed
  EXPECT_EQ(g_freed, (std::vector<void*>{&d1, &d2, &d3}));
}

TEST(NameList, DestroyHandsNonNullDataToFreeDataWhenSet) {
  HVDPList list;
  HVDPInitList(&list, &record_free);
  g_freed.clear();
  int a = 0, c = 0;
  HVDPAppendToList(&list, "a", &a);
  HVDPAppendToList(&list, "b", nullptr);
  HVDPAppendToList(&list, "c", &c);
  list.head = list.tail;
  HVDPDestroyList(&list);
  EXPECT_EQ(g_freed, (std::vector<void*>{&a, &c}));
  EXPECT_EQ(list.freeData, &record_free);
  // The list is usable again at once; without freeData data is left alone.
  list.freeData = nullptr;
  HVDPAppendToList(&list, "again", &a);
  EXPECT_EQ(forward_names(&list), std::vector<std::string>{"again"});
  HVDPDestroyList(&list);
  EXPECT_EQ(g_freed.size(), 2u);
}

TEST(NameList, FreeNameListReleasesNodesAndNames) {
  EXPECT_EQ(HVDPFreeNameList(nullptr), HVDPUT_INVALID_PARAMETER);
  HVDPNameListNode* head = nullptr;
  EXPECT_EQ(HVDPFreeNameList(&head), HVDPUT_SUCCESS);
  struct HostNode {  // host nodes may be longer than the two members read
    HVDPNameListNode link;
    int extra;
  };
  for (const char* name : {"x", "y", "z"}) {
    auto* node = static_cast<HostNode*>(std::malloc(sizeof(HostNode)));
    node->link = {head, strdup(name)};
    head = &node->link;
  }
  EXPECT_EQ(HVDPFreeNameList(&head), HVDPUT_SUCCESS);
  EXPECT_EQ(head, nullptr);
}

}  // namespace
