// Name lists: order and links, a host cursor run off the end, destruction
// with and without freeData, and the release of host-built name lists.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "dpxut.h"

namespace {

std::vector<void*> g_freed;

// A host that walks with head as its cursor ends with head null; the list
// still owns its nodes, so rewinding, appending and destroying go on from
// the tail. freeData gets each non-null data once.
TEST(NameList, KeepsItsNodesWhereverTheCursorIsAndFreesTheirData) {
  HVDPList list;
  std::memset(&list, 0xEE, sizeof list);
  HVDPInitList(&list, [](void* data) { g_freed.push_back(data); });
  EXPECT_EQ(list.compare("ReadMe", "README"), 0);  // strcasecmp
  EXPECT_EQ(HVDPGetListHead(&list), nullptr);
  int d1 = 1, d3 = 3;
  HVDPListNode* first = HVDPAppendToList(&list, "SYS:/etc/hosts", &d1);
  HVDPAppendToList(&list, "", nullptr);
  while (list.head != nullptr) list.head = list.head->next;
  HVDPAppendToList(&list, "three", &d3);
  std::vector<std::string> forward, backward;
  for (HVDPListNode* n = HVDPGetListHead(&list); n != nullptr; n = n->next) forward.emplace_back(n->text);
  for (HVDPListNode* n = list.tail; n != nullptr; n = n->prev) backward.emplace_back(n->text);
  EXPECT_EQ(forward, (std::vector<std::string>{"SYS:/etc/hosts", "", "three"}));
  EXPECT_EQ(backward, (std::vector<std::string>{"three", "", "SYS:/etc/hosts"}));
  EXPECT_EQ(list.head, first);  // rewound
  list.head = list.tail;
  EXPECT_EQ(HVDPGetListHead(&list), first);
  list.head = nullptr;
  HVDPDestroyList(&list);
  EXPECT_EQ(g_freed, (std::vector<void*>{&d1, &d3}));
  EXPECT_EQ(list.head, nullptr);
  EXPECT_EQ(list.tail, nullptr);
  list.freeData = nullptr;  // usable again at once; without freeData data is left alone
  HVDPAppendToList(&list, "again", &d1);
  HVDPDestroyList(&list);
  EXPECT_EQ(g_freed.size(), 2u);
}

// Host nodes may be longer than the two members read.
TEST(NameList, FreeNameListReleasesNodesAndNames) {
  HVDPNameListNode* head = nullptr;
  EXPECT_EQ(HVDPFreeNameList(&head), HVDPUT_SUCCESS);
  for (const char* name : {"x", "y"}) {
    auto* node = static_cast<HVDPNameListNode*>(std::malloc(sizeof(HVDPNameListNode) + 8));
    *node = {head, strdup(name)};
    head = node;
  }
  EXPECT_EQ(HVDPFreeNameList(&head), HVDPUT_SUCCESS);
  EXPECT_EQ(head, nullptr);
}

}  // namespace
