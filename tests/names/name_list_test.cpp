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

TEST(NameList, InitialisedListIsEmptyAndComparesWithoutCase) {
  HVDPList list;
  std::memset(&list, 0xEE, sizeof list);
  HVDPInitList(&list, &record_free);
  EXPECT_EQ(list.head, nullptr);
  EXPECT_EQ(list.tail, nullptr);
  EXPECT_EQ(list.freeData, &record_free);
  ASSERT_NE(list.compare, nullptr);
  EXPECT_EQ(list.compare("ReadMe", "README"), 0);
  EXPECT_EQ(HVDPGetListHead(&list), nullptr);
  HVDPDestroyList(&list);
  EXPECT_EQ(list.head, nullptr);
  EXPECT_EQ(list.tail, nullptr);
}

TEST(NameList, NodeIsZeroedBlockOf26BytesPlusName) {
  HVDPList list;
  HVDPInitList(&list, nullptr);
  int payload = 7;
  for (const char* name : {"", "a", "SYS:/etc/hosts"}) {
    HVDPListNode* node = HVDPAppendToList(&list, name, &payload);
    ASSERT_NE(node, nullptr);
    EXPECT_GE(malloc_usable_size(node), 26 + std::strlen(name));
    EXPECT_EQ(node->reserved, 0);
    EXPECT_EQ(v(node->next), nullptr);
    EXPECT_EQ(v(node->data), &payload);
    EXPECT_STREQ(node->text, name);
    EXPECT_EQ(reinterpret_cast<char*>(node) + 25, node->text);
  }
  HVDPDestroyList(&list);
}

TEST(NameList, KeepsAppendOrderAndDuplicates) {
  HVDPList list;
  HVDPInitList(&list, nullptr);
  for (const char* name : {"b", "a", "b", "c"}) ASSERT_NE(HVDPAppendToList(&list, name, nullptr), nullptr);
  EXPECT_EQ(forward_names(&list), (std::vector<std::string>{"b", "a", "b", "c"}));
  EXPECT_STREQ(list.tail->text, "c");
  EXPECT_STREQ(list.tail->prev->prev->prev->text, "b");
  EXPECT_EQ(v(list.tail->prev->prev->prev->prev), nullptr);
  HVDPDestroyList(&list);
}

TEST(NameList, GetListHeadRewindsTheCursor) {
  HVDPList list;
  HVDPInitList(&list, nullptr);
  HVDPListNode* first = HVDPAppendToList(&list, "one", nullptr);
  HVDPAppendToList(&list, "two", nullptr);
  HVDPListNode* third = HVDPAppendToList(&list, "three", nullptr);
  list.head = third;
  EXPECT_EQ(HVDPGetListHead(&list), first);
  EXPECT_EQ(list.head, first);
  HVDPDestroyList(&list);
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
  HVDPDestroyList(&list);  // the leak checker of the sanitizer build sees all nodes freed
  EXPECT_EQ(g_freed, (std::vector<void*>{&d1, &d2, &d3}));
}

TEST(NameList, DestroyHandsEachNonNullDataToFreeData) {
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
  EXPECT_EQ(list.head, nullptr);
  EXPECT_EQ(list.tail, nullptr);
  EXPECT_EQ(list.freeData, &record_free);
  // The list is usable again at once.
  ASSERT_NE(HVDPAppendToList(&list, "again", nullptr), nullptr);
  EXPECT_EQ(forward_names(&list), std::vector<std::string>{"again"});
  HVDPDestroyList(&list);
}

TEST(NameList, DestroyWithoutFreeDataLeavesDataAlone) {
  HVDPList list;
  HVDPInitList(&list, nullptr);
  g_freed.clear();
  int a = 0;
  HVDPAppendToList(&list, "a", &a);
  HVDPDestroyList(&list);
  EXPECT_TRUE(g_freed.empty());
}

TEST(NameList, FreeNameListReleasesNodesAndNames) {
  EXPECT_EQ(HVDPFreeNameList(nullptr), HVDPUT_INVALID_PARAMETER);
  HVDPNameListNode* empty = nullptr;
  EXPECT_EQ(HVDPFreeNameList(&empty), HVDPUT_SUCCESS);

  // Host nodes may be longer than the two members the library reads.
  struct HostNode {
    HVDPNameListNode link;
    int extra;
  };
  HVDPNameListNode* head = nullptr;
  for (const char* name : {"x", "y", "z"}) {
    auto* node = static_cast<HostNode*>(std::malloc(sizeof(HostNode)));
    node->link.next = head;
    node->link.name = strdup(name);
    node->extra = 1;
    head = &node->link;
  }
  EXPECT_EQ(HVDPFreeNameList(&head), HVDPUT_SUCCESS);
  EXPECT_EQ(head, nullptr);
}

}  // namespace
