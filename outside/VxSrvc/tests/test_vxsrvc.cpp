#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "VxSrvc.h"

namespace {

TEST(VxSrvcMemory, CountsLiveBlocksAndFailsOnlyTheArmedAllocation)
{
    const int64_t before = VxSrvcTestLiveBlocks();
    void* first = VxSrvcAlloc(0, 16, 0, nullptr);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(VxSrvcTestLiveBlocks(), before + 1);

    VxSrvcTestFailAllocation(2);
    void* second = VxSrvcAlloc(0, 8, 0, nullptr);
    void* third = VxSrvcAlloc(0, 8, 0, nullptr);
    void* fourth = VxSrvcAlloc(0, 0, 0, nullptr);
    EXPECT_NE(second, nullptr);
    EXPECT_EQ(third, nullptr);
    EXPECT_NE(fourth, nullptr) << "a failure is one-shot; size 0 still gives a block";
    EXPECT_EQ(VxSrvcTestLiveBlocks(), before + 3);

    VxSrvcFree(first);
    VxSrvcFree(second);
    VxSrvcFree(fourth);
    EXPECT_EQ(VxSrvcTestLiveBlocks(), before);
}

TEST(VxSrvcMemory, ConcurrentAllocationsKeepTheCountExact)
{
    const int64_t before = VxSrvcTestLiveBlocks();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([] {
            for (int i = 0; i < 1000; ++i)
                VxSrvcFree(VxSrvcAlloc(0, 32, 0, nullptr));
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(VxSrvcTestLiveBlocks(), before);
}

TEST(VxSrvcByteOrder, NetworkOrderIsBigEndian)
{
    const uint16_t net16 = VxSrvcHostToNet16(0x1234);
    const uint32_t net32 = VxSrvcHostToNet32(0x12345678);
    const auto* bytes16 = reinterpret_cast<const uint8_t*>(&net16);
    const auto* bytes32 = reinterpret_cast<const uint8_t*>(&net32);
    EXPECT_EQ(bytes16[0], 0x12);
    EXPECT_EQ(bytes16[1], 0x34);
    EXPECT_EQ(bytes32[0], 0x12);
    EXPECT_EQ(bytes32[3], 0x78);
    EXPECT_EQ(VxSrvcNetToHost16(net16), 0x1234);
    EXPECT_EQ(VxSrvcNetToHost32(net32), 0x12345678u);
}

} // namespace
