#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include <windows.h>

namespace {

TEST(Events, ManualResetStaysSignalledAutoResetIsTakenByOneWait)
{
    HANDLE manual = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE automatic = CreateEventW(nullptr, FALSE, TRUE, nullptr);
    ASSERT_NE(manual, nullptr);
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_TIMEOUT);
    SetEvent(manual);
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
    ResetEvent(manual);
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_TIMEOUT);

    EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_TIMEOUT);
    CloseHandle(manual);
    CloseHandle(automatic);
}

TEST(Events, WaitAnyGivesTheLowestSignalledIndexAndWaitAllNeedsEvery)
{
    HANDLE events[3];
    for (auto& event : events)
        event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetEvent(events[2]);
    SetEvent(events[1]);
    EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, 0), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(WaitForMultipleObjects(3, events, TRUE, 0), WAIT_TIMEOUT);
    SetEvent(events[0]);
    EXPECT_EQ(WaitForMultipleObjects(3, events, TRUE, 0), WAIT_OBJECT_0);
    for (auto event : events)
        CloseHandle(event);
}

TEST(Events, WaitAllTakesAutoResetSignalsOnlyWhenAllAreThere)
{
    HANDLE events[2] = {CreateEventW(nullptr, FALSE, TRUE, nullptr), CreateEventW(nullptr, FALSE, FALSE, nullptr)};
    EXPECT_EQ(WaitForMultipleObjects(2, events, TRUE, 0), WAIT_TIMEOUT);
    EXPECT_EQ(WaitForSingleObject(events[0], 0), WAIT_OBJECT_0) << "a failed wait-all must not take a signal";
    SetEvent(events[0]);
    SetEvent(events[1]);
    EXPECT_EQ(WaitForMultipleObjects(2, events, TRUE, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForMultipleObjects(2, events, FALSE, 0), WAIT_TIMEOUT);
    CloseHandle(events[0]);
    CloseHandle(events[1]);
}

TEST(Events, AnotherThreadWakesAWaiter)
{
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    std::thread setter([event] { SetEvent(event); });
    EXPECT_EQ(WaitForSingleObject(event, 10000), WAIT_OBJECT_0);
    setter.join();
    CloseHandle(event);
}

TEST(Events, OnlyOneOfManyWaitersTakesAnAutoResetSignal)
{
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    std::atomic<int> woken{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 4; ++i)
        waiters.emplace_back([&] {
            if (WaitForSingleObject(event, 300) == WAIT_OBJECT_0)
                ++woken;
        });
    SetEvent(event);
    for (auto& waiter : waiters)
        waiter.join();
    EXPECT_EQ(woken.load(), 1);
    CloseHandle(event);
}

// Each waiter is woken by the objects it waits for, whichever of them is set and whoever else waits.
TEST(Events, ASignalReachesEveryThreadWaitingForItAmongThreadsWaitingForOthers)
{
    HANDLE shared = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE first[2] = {CreateEventW(nullptr, FALSE, FALSE, nullptr), shared};
    HANDLE both[2] = {CreateEventW(nullptr, FALSE, FALSE, nullptr), shared};
    HANDLE alone = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    DWORD anyResult = WAIT_FAILED, allResult = WAIT_FAILED, aloneResult = WAIT_FAILED;
    std::thread any([&] { anyResult = WaitForMultipleObjects(2, first, FALSE, 10000); });
    std::thread all([&] { allResult = WaitForMultipleObjects(2, both, TRUE, 10000); });
    std::thread single([&] { aloneResult = WaitForSingleObject(alone, 10000); });
    SetEvent(shared);
    any.join();
    EXPECT_EQ(anyResult, WAIT_OBJECT_0 + 1);
    SetEvent(both[0]);
    all.join();
    EXPECT_EQ(allResult, WAIT_OBJECT_0);
    SetEvent(alone);
    single.join();
    EXPECT_EQ(aloneResult, WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(both[0], 0), WAIT_TIMEOUT) << "the wait-all took the auto-reset signal";
    for (HANDLE event : {shared, first[0], both[0], alone})
        CloseHandle(event);
}

TEST(Handles, BadHandlesAndArgumentsFailWithWindowsErrors)
{
    SetLastError(0);
    EXPECT_FALSE(CloseHandle(reinterpret_cast<HANDLE>(0x12345)));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(WaitForSingleObject(nullptr, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(WaitForMultipleObjects(0, nullptr, FALSE, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    EXPECT_TRUE(CloseHandle(event));
    EXPECT_FALSE(CloseHandle(event));
    EXPECT_FALSE(SetEvent(event));
}

TEST(LastError, IsPerThread)
{
    SetLastError(5);
    std::thread other([] {
        EXPECT_EQ(GetLastError(), 0u);
        SetLastError(87);
    });
    other.join();
    EXPECT_EQ(GetLastError(), 5u);
}

} // namespace
