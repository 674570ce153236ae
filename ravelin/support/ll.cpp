// Doubly linked lists with a per-list lock.
#include "ravelin/support/ll.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "ravelin/support/log.h"

namespace {

const char *const kModule = "ll";

// Items are a header followed by the caller's bytes; the data starts at a boundary fit for any
// object a caller stores (sections hold list headers with pointers).
constexpr size_t kHeaderSpace = 16;
static_assert(sizeof(ll_ItemHeader) <= kHeaderSpace, "item header must fit its space");

void *DataOf(ll_ItemHeader *pItem) {
    return pItem ? reinterpret_cast<char *>(pItem) + kHeaderSpace : nullptr;
}

ll_ItemHeader *ItemOf(const void *pData) {
    return reinterpret_cast<ll_ItemHeader *>(const_cast<char *>(static_cast<const char *>(pData)) -
                                             kHeaderSpace);
}

ll_ItemHeader *AllocItem(int nSize) {
    void *pBlock = std::calloc(1, kHeaderSpace + static_cast<size_t>(nSize));
    if (pBlock == nullptr) return nullptr;
    ll_ItemHeader *pItem = static_cast<ll_ItemHeader *>(pBlock);
    pItem->nRefCount = 0;
    pItem->nSize = nSize;
    return pItem;
}

void ReleaseIfUnused(ll_ItemHeader *pItem) {
    if (pItem != nullptr && pItem->nRefCount == 0) std::free(pItem);
}

// Holds the list's mutex for one operation and marks the list as being in an operation.
class ListLock {
public:
    explicit ListLock(ll_List *pList) : m_pList(pList), m_bOuter(false) {
        if (m_pList == nullptr) return;
        os_LockMutex(m_pList->hMutex);
        m_bOuter = !m_pList->bInLock;  // the mutex is recursive: only the outer level clears
        m_pList->bInLock = true;
    }
    ~ListLock() {
        if (m_pList == nullptr) return;
        if (m_bOuter) m_pList->bInLock = false;
        os_UnlockMutex(m_pList->hMutex);
    }
    ListLock(const ListLock &) = delete;
    ListLock &operator=(const ListLock &) = delete;

private:
    ll_List *m_pList;
    bool m_bOuter;
};

bool CheckIterator(ll_Iterator *pIt, int nLine, const char *pszModule) {
    if (pIt == nullptr) {
        dbg_Assert("pIt != NULL", pszModule, nLine);
        return false;
    }
    if (pIt->pList == nullptr) {
        dbg_Assert("pIt->pList != NULL", pszModule, nLine);
        return false;
    }
    return true;
}

// Unlinks C from the list; returns the link that becomes current. Caller holds the lock.
ll_Link *Unlink(ll_List *pList, ll_Link *C, int nLine, const char *pszModule) {
    ll_Link *P = C->pPrevious;
    ll_Link *N = C->pNext;
    if (P && N) {
        P->pNext = N;
        N->pPrevious = P;
    } else if (P) {
        P->pNext = nullptr;
        if (pList->pTail != C) dbg_Assert("pIt->pList->pTail == B", pszModule, nLine);
        pList->pTail = P;
    } else if (N) {
        N->pPrevious = nullptr;
        if (pList->pHead != C) dbg_Assert("pIt->pList->pHead == B", pszModule, nLine);
        pList->pHead = N;
    } else {
        pList->pHead = pList->pTail = nullptr;
    }
    pList->nCount--;
    if (pList->nCount < 0) dbg_Assert("pIt->pList->nCount >= 0", pszModule, nLine);
    return N ? N : P;
}

// Links L before or after the iterator's current link. Caller holds the lock.
void LinkIn(ll_Iterator *pIt, ll_Link *L, int nType, int nLine, const char *pszModule) {
    ll_List *pList = pIt->pList;
    ll_Link *C = pIt->pCurrent;
    L->pNext = L->pPrevious = nullptr;
    if (C == nullptr) {
        if (pList->pHead != nullptr) {
            dbg_Assert("ll_IsEmpty( pIt->pList )", pszModule, nLine);
            // Keep the list sound: a walk that has not started adds at the end.
            L->pPrevious = pList->pTail;
            pList->pTail->pNext = L;
            pList->pTail = L;
        } else {
            pList->pHead = pList->pTail = L;
        }
    } else {
        ll_Link *A = (nType == ll_kBefore) ? C->pPrevious : C;
        if (A != nullptr) {
            ll_Link *After = A->pNext;
            A->pNext = L;
            L->pPrevious = A;
            if (After != nullptr) {
                L->pNext = After;
                After->pPrevious = L;
            } else {
                if (pList->pTail != A) dbg_Assert("pIt->pList->pTail == A", pszModule, nLine);
                pList->pTail = L;
            }
        } else {
            L->pNext = C;
            C->pPrevious = L;
            if (pList->pHead != C) dbg_Assert("pIt->pList->pHead == C", pszModule, nLine);
            pList->pHead = L;
        }
    }
    pList->nCount++;
    if (pList->nCount <= 0) dbg_Assert("pIt->pList->nCount > 0", pszModule, nLine);
}

}  // namespace

int ll_CreateList(ll_List *pList, std::uint16_t ListType) {
    if (pList == nullptr) {
        dbg_Assert("pList != NULL", kModule, __LINE__);
        return 0;
    }
    if (!((ListType & ll_kPointerList) || (ListType & ll_kDataList)))
        dbg_Assert("(ListType & ll_kPointerList) || (ListType & ll_kDataList)", kModule, __LINE__);
    pList->pHead = pList->pTail = nullptr;
    pList->ListType = ListType;
    pList->nCount = 0;
    pList->bInLock = false;
    pList->hMutex = nullptr;
    if (os_CreateMutex(&pList->hMutex) == nullptr) return 0;
    return 1;
}

int ll_DestroyList(ll_List *pList) {
    if (pList == nullptr) {
        dbg_Assert("pList != NULL", kModule, __LINE__);
        return 0;
    }
    {
        ListLock lock(pList);
        ll_Link *pLink = pList->pHead;
        while (pLink != nullptr) {
            ll_Link *pNext = pLink->pNext;
            ll_ItemHeader *pItem = pLink->pItem;
            if (pItem != nullptr && pItem->nRefCount > 0) pItem->nRefCount--;
            ReleaseIfUnused(pItem);
            delete pLink;
            pLink = pNext;
        }
        pList->pHead = pList->pTail = nullptr;
        pList->nCount = 0;
    }
    os_DestroyMutex(pList->hMutex);
    pList->hMutex = nullptr;
    return 1;
}

void ll_CreateIterator(ll_Iterator *pIt, ll_List *pList) {
    if (pIt == nullptr) {
        dbg_Assert("pIt != NULL", kModule, __LINE__);
        return;
    }
    if (pList == nullptr) dbg_Assert("pList != NULL", kModule, __LINE__);
    pIt->pList = pList;
    pIt->pCurrent = nullptr;
    if (pList != nullptr) {
        ListLock lock(pList);
        pIt->pCurrent = pList->pHead;
    }
}

void ll_DestroyIterator(ll_Iterator *pIt) {
    if (pIt == nullptr) return;
    pIt->pList = nullptr;
    pIt->pCurrent = nullptr;
}

void *ll_First(ll_Iterator *pIt) {
    if (!CheckIterator(pIt, __LINE__, kModule)) return nullptr;
    ListLock lock(pIt->pList);
    pIt->pCurrent = pIt->pList->pHead;
    return pIt->pCurrent ? DataOf(pIt->pCurrent->pItem) : nullptr;
}

void *ll_Last(ll_Iterator *pIt) {
    if (!CheckIterator(pIt, __LINE__, kModule)) return nullptr;
    ListLock lock(pIt->pList);
    pIt->pCurrent = pIt->pList->pTail;
    return pIt->pCurrent ? DataOf(pIt->pCurrent->pItem) : nullptr;
}

void *ll_Next(ll_Iterator *pIt) {
    if (!CheckIterator(pIt, __LINE__, kModule)) return nullptr;
    ListLock lock(pIt->pList);
    if (pIt->pCurrent == nullptr || pIt->pCurrent->pNext == nullptr) return nullptr;
    pIt->pCurrent = pIt->pCurrent->pNext;
    return DataOf(pIt->pCurrent->pItem);
}

void *ll_Previous(ll_Iterator *pIt) {
    if (!CheckIterator(pIt, __LINE__, kModule)) return nullptr;
    ListLock lock(pIt->pList);
    if (pIt->pCurrent == nullptr || pIt->pCurrent->pPrevious == nullptr) return nullptr;
    pIt->pCurrent = pIt->pCurrent->pPrevious;
    return DataOf(pIt->pCurrent->pItem);
}

void *ll_Current(ll_Iterator *pIt) {
    if (!CheckIterator(pIt, __LINE__, kModule)) return nullptr;
    ListLock lock(pIt->pList);
    return pIt->pCurrent ? DataOf(pIt->pCurrent->pItem) : nullptr;
}

int ll_CurrentSize(ll_Iterator *pIt) {
    if (!CheckIterator(pIt, __LINE__, kModule)) return 0;
    ListLock lock(pIt->pList);
    if (pIt->pCurrent == nullptr || pIt->pCurrent->pItem == nullptr) return 0;
    return pIt->pCurrent->pItem->nSize;
}

void *ll_DeleteCurrent(ll_Iterator *pIt, int nLine, const char *pszModule) {
    if (!CheckIterator(pIt, nLine, pszModule)) return nullptr;
    ListLock lock(pIt->pList);
    if (!pIt->pList->bInLock) dbg_Assert("pIt->pList->bInLock", pszModule, nLine);
    ll_Link *C = pIt->pCurrent;
    if (C == nullptr) {
        dbg_Assert("pIt->pCurrent != NULL", pszModule, nLine);
        return nullptr;
    }
    pIt->pCurrent = Unlink(pIt->pList, C, nLine, pszModule);
    ll_ItemHeader *pItem = C->pItem;
    if (pItem != nullptr && pItem->nRefCount > 0) pItem->nRefCount--;
    ReleaseIfUnused(pItem);
    delete C;
    return pIt->pCurrent ? DataOf(pIt->pCurrent->pItem) : nullptr;
}

void *ll_Insert(ll_Iterator *pIt, int nType, const void *pData, int nSize, int nLine,
                const char *pszModule) {
    if (!CheckIterator(pIt, nLine, pszModule)) return nullptr;
    if (nType != ll_kAfter && nType != ll_kBefore) {
        dbg_Assert("(nType == ll_kAfter) || (nType == ll_kBefore)", pszModule, nLine);
        return nullptr;
    }
    if (pData == nullptr) {
        dbg_Assert("pData != NULL", pszModule, nLine);
        return nullptr;
    }
    ll_List *pList = pIt->pList;
    ll_ItemHeader *pItem = nullptr;
    if (pList->ListType & ll_kDataList) {
        if (nSize <= 0) {
            dbg_Assert("nSize > 0", pszModule, nLine);
            return nullptr;
        }
        pItem = AllocItem(nSize);
        if (pItem == nullptr) {
            dbg_Assert("os_CheckPointer (pAllocData)", pszModule, nLine);
            return nullptr;
        }
        std::memcpy(DataOf(pItem), pData, static_cast<size_t>(nSize));
    } else {
        pItem = ItemOf(pData);
        if (pItem->nRefCount == 0xFF) {
            // The count is eight bits wide; one more link would wrap it and free a live item.
            dbg_Assert("pItem->nRefCount < 255", pszModule, nLine);
            return nullptr;
        }
    }
    ll_Link *L = new (std::nothrow) ll_Link;
    if (L == nullptr) {
        dbg_Assert("os_CheckPointer ((void *)pLink)", pszModule, nLine);
        ReleaseIfUnused(pItem);
        return nullptr;
    }
    L->pItem = pItem;
    pItem->nRefCount++;
    ListLock lock(pList);
    LinkIn(pIt, L, nType, nLine, pszModule);
    return pIt->pCurrent ? DataOf(pIt->pCurrent->pItem) : nullptr;
}

namespace {
// Inserts at one end; returns the data address of the new element.
void *InsertAtEnd(ll_List *pList, const void *pData, int nSize, bool bAtEnd, int nLine,
                  const char *pszModule) {
    if (pList == nullptr) {
        dbg_Assert("pList != NULL", pszModule, nLine);
        return nullptr;
    }
    ListLock lock(pList);  // the end must not move between finding it and linking there
    ll_Iterator it;
    ll_CreateIterator(&it, pList);
    if (bAtEnd) ll_Last(&it);
    else ll_First(&it);
    int nCountBefore = pList->nCount;
    ll_Insert(&it, bAtEnd ? ll_kAfter : ll_kBefore, pData, nSize, nLine, pszModule);
    if (pList->nCount == nCountBefore) return nullptr;
    ll_Link *pNew = bAtEnd ? pList->pTail : pList->pHead;
    return pNew ? DataOf(pNew->pItem) : nullptr;
}
}  // namespace

void *ll_Append(ll_List *pList, const void *pData, int nSize, int nLine, const char *pszModule) {
    if (pList != nullptr && !(pList->ListType & ll_kDataList))
        dbg_Assert("pList->ListType & ll_kDataList", pszModule, nLine);
    return InsertAtEnd(pList, pData, nSize, true, nLine, pszModule);
}

void *ll_Prepend(ll_List *pList, const void *pData, int nSize, int nLine, const char *pszModule) {
    if (pList != nullptr && !(pList->ListType & ll_kDataList))
        dbg_Assert("pList->ListType & ll_kDataList", pszModule, nLine);
    return InsertAtEnd(pList, pData, nSize, false, nLine, pszModule);
}

void *ll_AppendPointer(ll_List *pList, void *pItemData, int nLine, const char *pszModule) {
    if (pList != nullptr && !(pList->ListType & ll_kPointerList)) {
        dbg_Assert("pList->ListType & ll_kPointerList", pszModule, nLine);
        return nullptr;
    }
    return InsertAtEnd(pList, pItemData, 4, true, nLine, pszModule);
}

void *ll_PrependPointer(ll_List *pList, void *pItemData, int nLine, const char *pszModule) {
    if (pList != nullptr && !(pList->ListType & ll_kPointerList)) {
        dbg_Assert("pList->ListType & ll_kPointerList", pszModule, nLine);
        return nullptr;
    }
    return InsertAtEnd(pList, pItemData, 4, false, nLine, pszModule);
}

void *ll_PopPointer(ll_List *pList, int nLine, const char *pszModule) {
    if (pList == nullptr) {
        dbg_Assert("pList != NULL", pszModule, nLine);
        return nullptr;
    }
    if (!(pList->ListType & ll_kPointerList)) {
        dbg_Assert("pList->ListType & ll_kPointerList", pszModule, nLine);
        return nullptr;
    }
    ListLock lock(pList);
    ll_Link *C = pList->pHead;
    if (C == nullptr) return nullptr;
    Unlink(pList, C, nLine, pszModule);
    ll_ItemHeader *pItem = C->pItem;
    if (pItem != nullptr && pItem->nRefCount > 0) pItem->nRefCount--;
    delete C;
    return DataOf(pItem);
}

int ll_RemoveFirst(ll_List *pList, void *pReturnData, int nSize, int nLine,
                   const char *pszModule) {
    if (pList == nullptr) {
        dbg_Assert("pList != NULL", pszModule, nLine);
        return -1;
    }
    if (!(pList->ListType & ll_kDataList)) dbg_Assert("pList->ListType & ll_kDataList", pszModule, nLine);
    if (pReturnData == nullptr) {
        dbg_Assert("pReturnData != NULL", pszModule, nLine);
        return -1;
    }
    ListLock lock(pList);
    ll_Link *C = pList->pHead;
    if (C == nullptr) return -1;
    int nItemSize = C->pItem->nSize;
    if (nItemSize > nSize) return nItemSize;
    std::memcpy(pReturnData, DataOf(C->pItem), static_cast<size_t>(nItemSize));
    ll_Iterator it;
    it.pList = pList;
    it.pCurrent = C;
    ll_DeleteCurrent(&it, nLine, pszModule);
    return 0;
}

bool ll_IsEmpty(ll_List *pList) {
    if (pList == nullptr) {
        dbg_Assert("pList != NULL", kModule, __LINE__);
        return true;
    }
    return pList->pHead == nullptr;
}

int ll_GetCount(ll_List *pList) {
    if (pList == nullptr) {
        dbg_Assert("pList != NULL", kModule, __LINE__);
        return 0;
    }
    return pList->nCount;
}

void *ll_alloc(int nSize) {
    if (nSize <= 0) {
        dbg_Assert("nSize != 0", kModule, __LINE__);
        return nullptr;
    }
    ll_ItemHeader *pItem = AllocItem(nSize);
    if (pItem == nullptr) {
        dbg_Assert("os_CheckPointer (pAllocData)", kModule, __LINE__);
        return nullptr;
    }
    return DataOf(pItem);
}

int ll_Free(void *pData, int nLine, const char *pszModule) {
    if (pData == nullptr) {
        dbg_Assert("pData", pszModule, nLine);
        return 0;
    }
    ll_ItemHeader *pItem = ItemOf(pData);
    if (pItem->nRefCount != 0) return 0;
    std::free(pItem);
    return 1;
}
