// The simulated kernel32 core: failure plans and the heap and handle counters that every other
// test relies on.
#include "tests/sim_test.h"

using SimCoreTest = SimTest;

TEST_F(SimCoreTest, KthCallFailsOnceAndPersistentPlanKeepsFailing) {
    sim::fail_call("GlobalAlloc", 2);
    HGLOBAL first = GlobalAlloc(GMEM_ZEROINIT, 4);
    HGLOBAL second = GlobalAlloc(GMEM_ZEROINIT, 4);
    HGLOBAL third = GlobalAlloc(GMEM_ZEROINIT, 4);
    EXPECT_NE(first, nullptr);
    EXPECT_EQ(second, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    EXPECT_NE(third, nullptr);
    EXPECT_EQ(sim::open_count(sim::Resource::HeapBlock), 2);
    GlobalFree(first);
    GlobalFree(third);

    sim::fail_calls_from("GlobalAlloc", 1);
    EXPECT_EQ(GlobalAlloc(GMEM_ZEROINIT, 4), nullptr);
    EXPECT_EQ(GlobalAlloc(GMEM_ZEROINIT, 4), nullptr);
    EXPECT_EQ(sim::injected_failure_count(), 3);
}

TEST_F(SimCoreTest, GlobalCallPlanCountsEverySimulatedFunction) {
    sim::fail_global_call(2, false);
    HGLOBAL block = GlobalAlloc(GMEM_ZEROINIT, 8);
    EXPECT_EQ(CreateFileA("\\\\.\\HCD0", GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                          nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(sim::count_calls("CreateFileA"), 1);
    GlobalFree(block);
    EXPECT_EQ(sim::call_count(), 3);
}

// Releases and calls without a failure on Windows are logged but neither counted nor failed, so
// a sweep's every run fails a call that can fail.
TEST_F(SimCoreTest, GlobalCallPlanPassesOverCallsThatCannotFail) {
    HGLOBAL first = GlobalAlloc(GMEM_ZEROINIT, 8);
    sim::fail_global_call(2, false);
    GlobalFree(first);
    HGLOBAL second = GlobalAlloc(GMEM_ZEROINIT, 8);
    EXPECT_NE(second, nullptr);
    GlobalFree(second);
    EXPECT_EQ(GlobalAlloc(GMEM_ZEROINIT, 8), nullptr);
    EXPECT_EQ(sim::failable_call_count(), 3);
    EXPECT_EQ(sim::call_count(), 5);
    ASSERT_FALSE(sim::calls().empty());
    EXPECT_TRUE(sim::calls().back().failed);
    EXPECT_FALSE(sim::calls()[1].can_fail);
}

TEST_F(SimCoreTest, ZeroFilledBlocksAreCountedUntilFreed) {
    auto* block = static_cast<unsigned char*>(GlobalAlloc(GMEM_ZEROINIT, 16));
    ASSERT_NE(block, nullptr);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(block[i], 0);
    EXPECT_EQ(sim::open_summary(), "1 heap blocks");
    EXPECT_EQ(GlobalFree(block), nullptr);
    EXPECT_EQ(sim::open_summary(), "");
}

TEST_F(SimCoreTest, BlockLargerThanAnyHeapCouldGiveIsRefused) {
    EXPECT_EQ(GlobalAlloc(GMEM_ZEROINIT, SIZE_T(0xFFFFFFF0u)), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
}
