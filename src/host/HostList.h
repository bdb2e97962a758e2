#pragma once
// TList: the runtime's growable pointer list, laid out in memory as the host lays it out,
// so that the host and its modules work on the same list object.
//
// The host creates and owns every list; a module reads the item count straight from the
// object (offset 8 on the 32-bit target), takes items with Get and appends with Add. The
// item array comes from the allocator shared with the host, so whichever side grows the
// list, the other may free it.
//
//   TList* list = TList::Create();       // host side
//   list->Add(entry);                    // either side
//   void* first = list->Get(0);          // raises Exception for an index outside 0..Count-1
//   TList::Destroy(list);                // host side; the items are the owner's business
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>

#include "host/HostMemory.h"
#include "platform/Exception.h"

struct TList {
  // The runtime's class reference of the list; neither side reads it through this header.
  const void* ClassRef;
  void** FList;
  int32_t FCount;
  int32_t FCapacity;

  int32_t Count() const { return FCount; }

  void* Get(int32_t index) const {
    if (index < 0 || index >= FCount) {
      throw Exception("List index out of bounds (" + std::to_string(index) + ")");
    }
    return FList[index];
  }

  // Appends item at the end and returns its index. Raises std::bad_alloc when the list
  // cannot grow; the list is unchanged then.
  int32_t Add(void* item) {
    if (FCount == FCapacity) Grow();
    FList[FCount] = item;
    return FCount++;
  }

  // A new empty list from the shared allocator.
  static TList* Create() {
    auto* list = static_cast<TList*>(HostAlloc(sizeof(TList)));
    if (list == nullptr) throw std::bad_alloc();
    list->ClassRef = nullptr;
    list->FList = nullptr;
    list->FCount = 0;
    list->FCapacity = 0;
    return list;
  }

  // Frees the list and its item array, not the items.
  static void Destroy(TList* list) {
    if (list == nullptr) return;
    HostFree(list->FList);
    HostFree(list);
  }

 private:
  // The runtime's growth steps: 4 while small, 16 up to 64 items, then a quarter more.
  void Grow() {
    int32_t delta = FCapacity > 64 ? FCapacity / 4 : (FCapacity > 8 ? 16 : 4);
    int32_t capacity = FCapacity + delta;
    auto* items = static_cast<void**>(HostAlloc(sizeof(void*) * static_cast<size_t>(capacity)));
    if (items == nullptr) throw std::bad_alloc();
    if (FCount > 0) std::memcpy(items, FList, sizeof(void*) * static_cast<size_t>(FCount));
    HostFree(FList);
    FList = items;
    FCapacity = capacity;
  }
};

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(TList) == 16);
static_assert(offsetof(TList, FList) == 4);
static_assert(offsetof(TList, FCount) == 8);
static_assert(offsetof(TList, FCapacity) == 12);
#endif
