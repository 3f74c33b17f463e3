// Name lists: the doubly linked list of heap nodes that hosts keep names in
// (HVDPList), and the release of the singly linked name lists that hosts
// build themselves. Names here are plain byte strings; no name-space layer.
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "common/export.h"
#include "common/heap.h"
#include "dpxut.h"

namespace dpxut::names {
namespace {

// A node is one calloc'ed block: the packed links (25 bytes), then the name
// and its NUL, so 26 + strlen(text) bytes in all.
constexpr size_t kNodeHead = offsetof(HVDPListNode, text);

// The first node, found from the cursor (head) or, when a host has moved
// the cursor off the end and left it null, from the tail.
HVDPListNode* first_node(const HVDPList* list) noexcept {
  HVDPListNode* node = list->head != nullptr ? list->head : list->tail;
  while (node != nullptr && node->prev != nullptr) node = node->prev;
  return node;
}

}  // namespace
}  // namespace dpxut::names

using namespace dpxut::names;

DPXUT_EXPORT void HVDPInitList(HVDPList* list, void (*freeData)(void*)) {
  if (list == nullptr) return;
  list->head = nullptr;
  list->tail = nullptr;
  list->compare = &strcasecmp;
  list->freeData = freeData;
}

DPXUT_EXPORT HVDPListNode* HVDPAppendToList(HVDPList* list, const char* text, void* data) {
  if (list == nullptr || text == nullptr) return nullptr;
  const size_t length = std::strlen(text);
  if (length > SIZE_MAX - kNodeHead - 1) return nullptr;
  auto* node = static_cast<HVDPListNode*>(dpxut::heap_calloc(1, kNodeHead + length + 1));
  if (node == nullptr) return nullptr;
  // The text is written through the block's bytes: the declared member is a
  // one-byte placeholder for a name of any length.
  std::memcpy(reinterpret_cast<char*>(node) + kNodeHead, text, length + 1);
  node->data = data;
  // The old tail is linked even when the host's cursor (head) has run off
  // the end of the list, so that no node is ever cut out of the chain.
  node->prev = list->tail;
  if (list->tail != nullptr) list->tail->next = node;
  if (list->head == nullptr) list->head = node;
  list->tail = node;
  return node;
}

DPXUT_EXPORT HVDPListNode* HVDPGetListHead(HVDPList* list) {
  if (list == nullptr) return nullptr;
  list->head = first_node(list);
  return list->head;
}

DPXUT_EXPORT void HVDPDestroyList(HVDPList* list) {
  if (list == nullptr) return;
  HVDPListNode* node = first_node(list);
  while (node != nullptr) {
    HVDPListNode* next = node->next;
    if (node->data != nullptr && list->freeData != nullptr) list->freeData(node->data);
    std::free(node);
    node = next;
  }
  list->head = nullptr;
  list->tail = nullptr;
}

DPXUT_EXPORT uint32_t HVDPFreeNameList(HVDPNameListNode** nameList) {
  if (nameList == nullptr) return HVDPUT_INVALID_PARAMETER;
  HVDPNameListNode* node = *nameList;
  while (node != nullptr) {
    HVDPNameListNode* next = node->next;
    std::free(node->name);
    std::free(node);
    node = next;
  }
  *nameList = nullptr;
  return HVDPUT_SUCCESS;
}
