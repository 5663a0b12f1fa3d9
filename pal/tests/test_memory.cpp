#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include <windows.h>

namespace {

struct AllocationFaults : ::testing::Test {
    ~AllocationFaults() override { palFailAllocations(0, 0); }
};

TEST(Memory, LocalBlocksZeroedOnRequestAndFreedToNull)
{
    auto* block = static_cast<BYTE*>(LocalAlloc(LPTR, 100));
    ASSERT_NE(block, nullptr);
    for (int i = 0; i < 100; ++i)
        ASSERT_EQ(block[i], 0) << i;
    EXPECT_EQ(LocalSize(block), 100u);
    memset(block, 0xAB, 100);
    EXPECT_EQ(LocalFree(block), nullptr);
    EXPECT_EQ(LocalFree(nullptr), nullptr);

    void* empty = LocalAlloc(LMEM_FIXED, 0);
    ASSERT_NE(empty, nullptr) << "a zero-byte block is still a block";
    EXPECT_EQ(LocalFree(empty), nullptr);
}

TEST(Memory, ForeignPointerIsRefusedNotFreed)
{
    auto* block = static_cast<BYTE*>(LocalAlloc(LPTR, 64));
    ASSERT_NE(block, nullptr);
    SetLastError(0);
    EXPECT_EQ(LocalFree(block + 32), block + 32) << "LocalFree gives back what it could not free";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(HeapFree(GetProcessHeap(), 0, block + 32));
    EXPECT_EQ(LocalFree(block), nullptr);
}

TEST(Memory, ProcessHeapBlocks)
{
    HANDLE heap = GetProcessHeap();
    ASSERT_NE(heap, nullptr);
    EXPECT_EQ(GetProcessHeap(), heap);
    auto* block = static_cast<BYTE*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, 33));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block[32], 0);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % 16, 0u);
    EXPECT_TRUE(HeapFree(heap, 0, block));
    EXPECT_TRUE(HeapFree(heap, 0, nullptr));
    int other = 0;
    EXPECT_EQ(HeapAlloc(&other, 0, 8), nullptr) << "only the process heap exists";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    // One family's blocks free through the other, as both come from the process heap.
    void* local = LocalAlloc(LMEM_FIXED, 8);
    EXPECT_TRUE(HeapFree(heap, 0, local));
}

TEST_F(AllocationFaults, InjectedFailuresHitTheChosenAllocations)
{
    palFailAllocations(2, 2);
    void* first = LocalAlloc(LPTR, 8);
    void* second = HeapAlloc(GetProcessHeap(), 0, 8);
    EXPECT_NE(first, nullptr);
    EXPECT_NE(second, nullptr);
    SetLastError(0);
    EXPECT_EQ(LocalAlloc(LPTR, 8), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    EXPECT_EQ(HeapAlloc(GetProcessHeap(), 0, 8), nullptr);
    void* after = LocalAlloc(LPTR, 8);
    EXPECT_NE(after, nullptr) << "only `count` allocations fail";
    LocalFree(first);
    LocalFree(second);
    LocalFree(after);
}

TEST(Memory, HugeRequestFailsCleanly)
{
    EXPECT_EQ(LocalAlloc(LPTR, SIZE_MAX - 4), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
}

TEST(Memory, ThreadsAllocateAndFreeTogether)
{
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([] {
            for (int i = 0; i < 2000; ++i) {
                void* block = (i % 2) ? LocalAlloc(LPTR, 24) : HeapAlloc(GetProcessHeap(), 0, 24);
                ASSERT_NE(block, nullptr);
                ASSERT_EQ(LocalFree(block), nullptr);
            }
        });
    for (auto& thread : threads)
        thread.join();
}

} // namespace
