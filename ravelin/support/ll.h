// Doubly linked lists with a lock of their own, walked through separate iterators.
//
// Data lists own copies of what is put into them; pointer lists link items made by ll_alloc,
// each item counting the lists that link it so that it is released only when none does.
// Data handed out is always the address of an item's data. Operations that insert, delete or
// release take the caller's line and module for the assertion hook.
#pragma once

#include <cstdint>

#include "ravelin/support/oswin32.h"

constexpr std::uint16_t ll_kPointerList = 1;
constexpr std::uint16_t ll_kDataList = 2;

// Insert positions relative to the iterator's current link.
constexpr int ll_kBefore = 1;
constexpr int ll_kAfter = 2;

// Header in front of every item's data.
struct ll_ItemHeader {
    std::uint8_t nRefCount;     // lists linking the item
    std::int32_t nSize;         // bytes of data that follow the header
};

struct ll_Link {
    ll_Link *pNext;
    ll_Link *pPrevious;
    ll_ItemHeader *pItem;
};

// List header; owned by the caller, set up by ll_CreateList.
struct ll_List {
    ll_Link *pHead;
    ll_Link *pTail;
    std::uint16_t ListType;     // ll_kPointerList or ll_kDataList
    std::int32_t nCount;
    os_Mutex hMutex;
    bool bInLock;               // true while a list operation holds hMutex
};

// Iterator; owned by the caller, usually on the stack.
struct ll_Iterator {
    ll_List *pList;
    ll_Link *pCurrent;          // nullptr when the list was empty or the walk has not started
};

// Sets the header empty with the given type and creates its mutex. 1 on success, else 0.
int ll_CreateList(ll_List *pList, std::uint16_t ListType);
// Deletes every link (releasing items no list links any more) and closes the mutex.
int ll_DestroyList(ll_List *pList);

// Binds the iterator to the list, current = first link at this moment.
void ll_CreateIterator(ll_Iterator *pIt, ll_List *pList);
void ll_DestroyIterator(ll_Iterator *pIt);

// Walks; each returns the data of the (new) current link, or nullptr. ll_Next and ll_Previous
// leave current where it was when there is no further link.
void *ll_First(ll_Iterator *pIt);
void *ll_Last(ll_Iterator *pIt);
void *ll_Next(ll_Iterator *pIt);
void *ll_Previous(ll_Iterator *pIt);
void *ll_Current(ll_Iterator *pIt);
// Size of the current item, 0 when there is none.
int ll_CurrentSize(ll_Iterator *pIt);

// Unlinks the current link; current moves to the following link, else to the preceding one.
// Returns the data of the new current link, or nullptr.
void *ll_DeleteCurrent(ll_Iterator *pIt, int nLine, const char *pszModule);

// Links a new element before or after the current link (or as the only link of an empty
// list). A data list gets a copy of nSize bytes of pData; a pointer list links the item pData
// (made by ll_alloc) itself. Current does not move; returns the data of the current link.
void *ll_Insert(ll_Iterator *pIt, int nType, const void *pData, int nSize, int nLine,
                const char *pszModule);

// Data lists: adds a copy at the end / in front. Returns the address of the new copy
// (nullptr on failure).
void *ll_Append(ll_List *pList, const void *pData, int nSize, int nLine, const char *pszModule);
void *ll_Prepend(ll_List *pList, const void *pData, int nSize, int nLine, const char *pszModule);

// Data lists: -1 when empty; the first item's size when it exceeds nSize (nothing changes);
// otherwise copies the first item into pReturnData, deletes it and returns 0.
int ll_RemoveFirst(ll_List *pList, void *pReturnData, int nSize, int nLine,
                   const char *pszModule);

// Pointer lists: link the item pItemData (from ll_alloc) at the end / in front; the item's
// count goes up. Return pItemData, or nullptr on failure.
void *ll_AppendPointer(ll_List *pList, void *pItemData, int nLine, const char *pszModule);
void *ll_PrependPointer(ll_List *pList, void *pItemData, int nLine, const char *pszModule);
// Pointer lists: unlinks the first link and returns its item's data without releasing the
// item (its count goes down); nullptr when the list is empty.
void *ll_PopPointer(ll_List *pList, int nLine, const char *pszModule);

bool ll_IsEmpty(ll_List *pList);
int ll_GetCount(ll_List *pList);

// A new item of nSize bytes (not 0), zero-filled, count 0; returns its data address.
void *ll_alloc(int nSize);
// Releases the item when no list links it; otherwise leaves it. 1 when released, else 0.
int ll_Free(void *pData, int nLine, const char *pszModule);
