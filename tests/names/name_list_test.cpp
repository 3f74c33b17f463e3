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
// the tail. freeData gets each non-null data once; a destroyed list is
// empty and usable again at once. Host-built name lists are released
// with their names.
TEST(NameList, KeepsItsNodesWhereverTheCursorIsAndFreesThem) {
  HVDPList list;
  std::memset(&list, 0xEE, sizeof list);
  HVDPInitList(&list, [](void* data) { g_freed.push_back(data); });
  EXPECT_EQ(list.compare("ReadMe", "README"), 0);  // strcasecmp
  EXPECT_EQ(HVDPGetListHead(&list), nullptr);
  int d1 = 1, d3 = 3;
  HVDPListNode* first = HVDPAppendToList(&list, "SYS:/etc/hosts", &d1);
  HVDPAppendToList(&list, "", nullptr);
  list.head = nullptr;
  HVDPAppendToList(&list, "three", &d3);
  std::vector<std::string> both_ways;
  for (HVDPListNode* n = HVDPGetListHead(&list); n != nullptr; n = n->next) both_ways.emplace_back(n->text);
  for (HVDPListNode* n = list.tail; n != nullptr; n = n->prev) both_ways.emplace_back(n->text);
  EXPECT_EQ(both_ways, (std::vector<std::string>{"SYS:/etc/hosts", "", "three", "three", "", "SYS:/etc/hosts"}));
  EXPECT_EQ(list.head, first);  // rewound
  list.head = list.tail;
  EXPECT_EQ(HVDPGetListHead(&list), first);
  list.head = nullptr;
  HVDPDestroyList(&list);
  EXPECT_EQ(g_freed, (std::vector<void*>{&d1, &d3}));
  list.freeData = nullptr;  // without freeData data is left alone
  HVDPAppendToList(&list, "again", &d1);
  HVDPDestroyList(&list);
  EXPECT_EQ(g_freed.size(), 2u);
  HVDPNameListNode* head = nullptr;  // a host-built list, its nodes longer than the two members read
  for (const char* name : {"x", "y"}) {
    auto* node = static_cast<HVDPNameListNode*>(std::malloc(sizeof(HVDPNameListNode) + 8));
    *node = {head, strdup(name)};
    head = node;
  }
  EXPECT_EQ(HVDPFreeNameList(&head), HVDPUT_SUCCESS);
  EXPECT_EQ(head, nullptr);
}

}  // namespace
