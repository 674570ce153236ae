// Linked lists: walking, inserting and deleting while walking, data and pointer lists.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <vector>

#include "ravelin/support/ll.h"
#include "ravelin/support/log.h"
#include "ravelin/support/osclock.h"

namespace {

class ListTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(ll_CreateList(&m_list, ll_kDataList), 1); }
    void TearDown() override { ll_DestroyList(&m_list); }

    void Append(int n) { ASSERT_NE(ll_Append(&m_list, &n, sizeof n, __LINE__, "test"), nullptr); }

    // Values front to back, walked with a fresh iterator; also checks the back links agree.
    std::vector<int> Values() {
        std::vector<int> forward, backward;
        ll_Iterator it;
        ll_CreateIterator(&it, &m_list);
        for (void *p = ll_First(&it); p; p = ll_Next(&it)) forward.push_back(*static_cast<int *>(p));
        for (void *p = ll_Last(&it); p; p = ll_Previous(&it)) backward.insert(backward.begin(), *static_cast<int *>(p));
        EXPECT_EQ(forward, backward) << "previous links disagree with next links";
        EXPECT_EQ(ll_GetCount(&m_list), static_cast<int>(forward.size()));
        return forward;
    }

    static int Value(void *p) { return p ? *static_cast<int *>(p) : -999; }

    ll_List m_list;
};

TEST_F(ListTest, EmptyListWalksToNothing) {
    ll_Iterator it;
    ll_CreateIterator(&it, &m_list);
    EXPECT_TRUE(ll_IsEmpty(&m_list));
    EXPECT_EQ(ll_First(&it), nullptr);
    EXPECT_EQ(ll_Last(&it), nullptr);
    EXPECT_EQ(ll_Next(&it), nullptr);
    EXPECT_EQ(ll_Current(&it), nullptr);
    EXPECT_EQ(ll_CurrentSize(&it), 0);
}

TEST_F(ListTest, AppendToEmptyMakesFirstAndLast) {
    Append(7);
    ll_Iterator it;
    ll_CreateIterator(&it, &m_list);
    EXPECT_EQ(ll_GetCount(&m_list), 1);
    EXPECT_EQ(Value(ll_First(&it)), 7);
    EXPECT_EQ(Value(ll_Last(&it)), 7);
    EXPECT_EQ(ll_CurrentSize(&it), static_cast<int>(sizeof(int)));
}

TEST_F(ListTest, DataListKeepsItsOwnCopy) {
    int n = 5;
    int *pCopy = static_cast<int *>(ll_Append(&m_list, &n, sizeof n, __LINE__, "test"));
    ASSERT_NE(pCopy, nullptr);
    EXPECT_NE(pCopy, &n);
    n = 6;
    EXPECT_EQ(Values(), std::vector<int>{5});
}

TEST_F(ListTest, NextAfterLastLeavesCurrentOnLast) {
    Append(1);
    Append(2);
    ll_Iterator it;
    ll_CreateIterator(&it, &m_list);
    EXPECT_EQ(Value(ll_First(&it)), 1);
    EXPECT_EQ(Value(ll_Next(&it)), 2);
    EXPECT_EQ(ll_Next(&it), nullptr);
    EXPECT_EQ(Value(ll_Current(&it)), 2);
    EXPECT_EQ(Value(ll_Previous(&it)), 1);
    EXPECT_EQ(ll_Previous(&it), nullptr);
    EXPECT_EQ(Value(ll_Current(&it)), 1);
}

TEST_F(ListTest, PrependAndAppendOrder) {
    Append(2);
    int n = 1;
    ll_Prepend(&m_list, &n, sizeof n, __LINE__, "test");
    Append(3);
    EXPECT_EQ(Values(), (std::vector<int>{1, 2, 3}));
}

TEST_F(ListTest, InsertBeforeAndAfterCurrentKeepsCurrent) {
    Append(10);
    Append(30);
    ll_Iterator it;
    ll_CreateIterator(&it, &m_list);
    ll_First(&it);
    int n = 20;
    EXPECT_EQ(Value(ll_Insert(&it, ll_kAfter, &n, sizeof n, __LINE__, "test")), 10);
    n = 5;
    EXPECT_EQ(Value(ll_Insert(&it, ll_kBefore, &n, sizeof n, __LINE__, "test")), 10);
    ll_Last(&it);
    n = 40;
    ll_Insert(&it, ll_kAfter, &n, sizeof n, __LINE__, "test");
    n = 25;
    EXPECT_EQ(Value(ll_Insert(&it, ll_kBefore, &n, sizeof n, __LINE__, "test")), 30);
    EXPECT_EQ(Values(), (std::vector<int>{5, 10, 20, 25, 30, 40}));
}

TEST_F(ListTest, DeleteOnlyElementEmptiesListAndIterator) {
    Append(1);
    ll_Iterator it;
    ll_CreateIterator(&it, &m_list);
    ll_First(&it);
    EXPECT_EQ(ll_DeleteCurrent(&it, __LINE__, "test"), nullptr);
    EXPECT_TRUE(ll_IsEmpty(&m_list));
    EXPECT_EQ(ll_GetCount(&m_list), 0);
    EXPECT_EQ(ll_Current(&it), nullptr);
    EXPECT_EQ(m_list.pTail, nullptr);
    // The emptied list takes new elements as usual.
    Append(2);
    EXPECT_EQ(Values(), std::vector<int>{2});
}

TEST_F(ListTest, DeleteFirstWhileWalkingMakesSecondCurrent) {
    Append(1);
    Append(2);
    Append(3);
    ll_Iterator it;
    ll_CreateIterator(&it, &m_list);
    ll_First(&it);
    EXPECT_EQ(Value(ll_DeleteCurrent(&it, __LINE__, "test")), 2);
    EXPECT_EQ(Value(ll_Current(&it)), 2);
    EXPECT_EQ(Values(), (std::vector<int>{2, 3}));
}

TEST_F(ListTest, DeleteLastMovesCurrentBack) {
    Append(1);
    Append(2);
    Append(3);
    ll_Iterator it;
    ll_CreateIterator(&it, &m_list);
    ll_Last(&it);
    EXPECT_EQ(Value(ll_DeleteCurrent(&it, __LINE__, "test")), 2);
    EXPECT_EQ(Values(), (std::vector<int>{1, 2}));
    int n = 9;
    ll_Append(&m_list, &n, sizeof n, __LINE__, "test");
    EXPECT_EQ(Values(), (std::vector<int>{1, 2, 9})) << "the tail moved back with the delete";
}

TEST_F(ListTest, DeletingWhileWalkingVisitsEveryElementOnce) {
    for (int i = 0; i < 10; ++i) Append(i);
    ll_Iterator it;
    ll_CreateIterator(&it, &m_list);
    std::vector<int> seen;
    void *p = ll_First(&it);
    while (p != nullptr) {
        int v = Value(p);
        seen.push_back(v);
        if (v % 2 == 0) {
            // The element after the deleted one becomes current; look at it next.
            p = ll_DeleteCurrent(&it, __LINE__, "test");
            if (p != nullptr && Value(p) < v) break;  // deleted the last: current moved back
        } else {
            p = ll_Next(&it);
        }
    }
    EXPECT_EQ(seen, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
    EXPECT_EQ(Values(), (std::vector<int>{1, 3, 5, 7, 9}));
}

TEST_F(ListTest, InsertingWhileWalkingDoesNotRevisit) {
    for (int i = 1; i <= 3; ++i) Append(i * 10);
    ll_Iterator it;
    ll_CreateIterator(&it, &m_list);
    int nVisits = 0;
    for (void *p = ll_First(&it); p && nVisits < 100; p = ll_Next(&it), ++nVisits) {
        int n = Value(p) + 1;
        ll_Insert(&it, ll_kBefore, &n, sizeof n, __LINE__, "test");
    }
    EXPECT_EQ(nVisits, 3);
    EXPECT_EQ(Values(), (std::vector<int>{11, 10, 21, 20, 31, 30}));
}

TEST_F(ListTest, RemoveFirstCopiesOutOrRefusesSmallBuffer) {
    char szBig[100];
    EXPECT_EQ(ll_RemoveFirst(&m_list, szBig, sizeof szBig, __LINE__, "test"), -1);
    Append(1);
    Append(2);
    char cSmall[2];
    EXPECT_EQ(ll_RemoveFirst(&m_list, cSmall, sizeof cSmall, __LINE__, "test"), static_cast<int>(sizeof(int)));
    EXPECT_EQ(Values(), (std::vector<int>{1, 2})) << "a refused removal changes nothing";
    int n = 0;
    EXPECT_EQ(ll_RemoveFirst(&m_list, &n, sizeof n, __LINE__, "test"), 0);
    EXPECT_EQ(n, 1);
    EXPECT_EQ(Values(), std::vector<int>{2});
}

TEST_F(ListTest, BadCallsReportAndChangeNothing) {
    Append(1);
    long nBefore = dbg_AssertCount();
    ll_Iterator it;
    ll_CreateIterator(&it, &m_list);
    it.pCurrent = nullptr;
    EXPECT_EQ(ll_DeleteCurrent(&it, __LINE__, "test"), nullptr);
    int n = 2;
    ll_First(&it);
    EXPECT_EQ(ll_Insert(&it, 7, &n, sizeof n, __LINE__, "test"), nullptr);
    EXPECT_EQ(ll_Insert(&it, ll_kAfter, nullptr, 4, __LINE__, "test"), nullptr);
    EXPECT_EQ(ll_Insert(&it, ll_kAfter, &n, 0, __LINE__, "test"), nullptr);
    EXPECT_EQ(dbg_AssertCount() - nBefore, 4);
    EXPECT_EQ(Values(), std::vector<int>{1});
}

TEST(PointerList, ItemLivesWhileAnyListLinksIt) {
    ll_List a, b;
    ll_CreateList(&a, ll_kPointerList);
    ll_CreateList(&b, ll_kPointerList);
    char *pItem = static_cast<char *>(ll_alloc(32));
    ASSERT_NE(pItem, nullptr);
    std::strcpy(pItem, "shared item");
    EXPECT_EQ(ll_AppendPointer(&a, pItem, __LINE__, "test"), pItem);
    EXPECT_EQ(ll_AppendPointer(&b, pItem, __LINE__, "test"), pItem);

    ll_Iterator it;
    ll_CreateIterator(&it, &b);
    EXPECT_EQ(ll_First(&it), pItem) << "a pointer list hands out the item itself";

    EXPECT_EQ(ll_Free(pItem, __LINE__, "test"), 0) << "still linked";
    EXPECT_EQ(ll_PopPointer(&a, __LINE__, "test"), pItem);
    EXPECT_TRUE(ll_IsEmpty(&a));
    EXPECT_EQ(ll_Free(pItem, __LINE__, "test"), 0) << "still linked by the other list";
    EXPECT_STREQ(pItem, "shared item");
    EXPECT_EQ(ll_PopPointer(&b, __LINE__, "test"), pItem);
    EXPECT_EQ(ll_PopPointer(&b, __LINE__, "test"), nullptr);
    EXPECT_EQ(ll_Free(pItem, __LINE__, "test"), 1);
    ll_DestroyList(&a);
    ll_DestroyList(&b);
}

TEST(ListLocking, ConcurrentAppendsLoseNothing) {
    ll_List list;
    ll_CreateList(&list, ll_kDataList);
    struct Job {
        ll_List *pList;
        int nBase;
        std::atomic<int> *pDone;
    };
    std::atomic<int> nDone{0};
    constexpr int kThreads = 4;
    constexpr int kEach = 2000;
    Job jobs[kThreads];
    for (int t = 0; t < kThreads; ++t) {
        jobs[t] = Job{&list, t * kEach, &nDone};
        os_Thread h;
        ASSERT_EQ(os_StartThread(&h, [](void *pv) -> std::uint32_t {
                      Job *pJob = static_cast<Job *>(pv);
                      for (int i = 0; i < kEach; ++i) {
                          int n = pJob->nBase + i;
                          ll_Append(pJob->pList, &n, sizeof n, __LINE__, "test");
                      }
                      pJob->pDone->fetch_add(1);
                      return 0;
                  }, 0, &jobs[t]), 1);
    }
    std::int64_t nDeadline = os_MonotonicMs() + 60000;
    while (nDone.load() < kThreads && os_MonotonicMs() < nDeadline) os_SleepMs(5);
    ASSERT_EQ(nDone.load(), kThreads);
    EXPECT_EQ(ll_GetCount(&list), kThreads * kEach);
    std::vector<int> nextExpected(kThreads);
    for (int t = 0; t < kThreads; ++t) nextExpected[t] = t * kEach;
    ll_Iterator it;
    ll_CreateIterator(&it, &list);
    int nWalked = 0;
    for (void *p = ll_First(&it); p; p = ll_Next(&it), ++nWalked) {
        int n = *static_cast<int *>(p);
        int t = n / kEach;
        ASSERT_EQ(n, nextExpected[t]) << "each thread's elements stay in its order";
        nextExpected[t]++;
    }
    EXPECT_EQ(nWalked, kThreads * kEach);
    ll_DestroyList(&list);
}

}  // namespace
