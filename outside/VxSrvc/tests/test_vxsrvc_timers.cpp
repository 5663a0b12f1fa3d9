// Timers and the tick: the contract the protocol library's deadlines rely on.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <mutex>
#include <vector>

#include "Gate.h"
#include "VxSrvc.h"

namespace {

using testsupport::Gate;

struct Fired {
    std::mutex mutex;
    std::vector<uintptr_t> parameters;
    std::vector<uint32_t> ticks;

    static void callback(VxSrvcTimer, uintptr_t parameter);
};

Fired* g_fired = nullptr;

void Fired::callback(VxSrvcTimer, uintptr_t parameter)
{
    std::lock_guard<std::mutex> lock(g_fired->mutex);
    g_fired->parameters.push_back(parameter);
    g_fired->ticks.push_back(VxSrvcGetTick());
}

class VxSrvcTimers : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_fired = &fired;
        VxSrvcStartup(nullptr);
    }
    void TearDown() override
    {
        VxSrvcCleanup();
        VxSrvcTestUseRealClock();
        VxSrvcTestSetTickOffset(0);
        g_fired = nullptr;
    }
    std::vector<uintptr_t> parameters()
    {
        std::lock_guard<std::mutex> lock(fired.mutex);
        return fired.parameters;
    }
    Fired fired;
};

TEST_F(VxSrvcTimers, ManualClockFiresDueTimersInDueOrderAtTheirDueTicks)
{
    VxSrvcTestSetManualClock(1000);
    VxSrvcTimer late = 0, early = 0, never = 0;
    ASSERT_EQ(VxSrvcStartTimer(&late, 300, Fired::callback, 3), VXSRVC_OK);
    ASSERT_EQ(VxSrvcStartTimer(&early, 100, Fired::callback, 1), VXSRVC_OK);
    ASSERT_EQ(VxSrvcStartTimer(&never, 301, Fired::callback, 4), VXSRVC_OK);
    EXPECT_NE(late, 0u);
    EXPECT_NE(early, late) << "handles are never reused";

    VxSrvcTestAdvanceClock(99);
    EXPECT_TRUE(parameters().empty());
    VxSrvcTestAdvanceClock(201);
    EXPECT_EQ(parameters(), (std::vector<uintptr_t>{1, 3}));
    EXPECT_EQ(fired.ticks, (std::vector<uint32_t>{1100, 1300})) << "the clock steps to each due time";
    EXPECT_EQ(VxSrvcGetTick(), 1300u);
    EXPECT_EQ(VxSrvcTestPendingTimers(), 1u);
    EXPECT_EQ(VxSrvcCancelTimer(never), VXSRVC_OK);
    EXPECT_EQ(VxSrvcTestPendingTimers(), 0u);
}

TEST_F(VxSrvcTimers, CancelSucceedsOnceAndFailsForAFiredTimer)
{
    VxSrvcTestSetManualClock(0);
    VxSrvcTimer first = 0, second = 0;
    ASSERT_EQ(VxSrvcStartTimer(&first, 10, Fired::callback, 1), VXSRVC_OK);
    ASSERT_EQ(VxSrvcStartTimer(&second, 10, Fired::callback, 2), VXSRVC_OK);
    EXPECT_EQ(VxSrvcCancelTimer(first), VXSRVC_OK);
    EXPECT_EQ(VxSrvcCancelTimer(first), VXSRVC_E_NOT_FOUND);
    VxSrvcTestAdvanceClock(10);
    EXPECT_EQ(parameters(), (std::vector<uintptr_t>{2}));
    EXPECT_LT(VxSrvcCancelTimer(second), 0) << "a fired timer cannot be cancelled";
}

// The callback has started and is blocked: cancel must fail at once instead of waiting for it.
Gate* g_entered = nullptr;
Gate* g_release = nullptr;
void blockingCallback(VxSrvcTimer, uintptr_t)
{
    g_entered->open();
    g_release->waitOpen();
}

TEST_F(VxSrvcTimers, CancelOfARunningCallbackFailsWithoutBlocking)
{
    Gate entered, release;
    g_entered = &entered;
    g_release = &release;
    VxSrvcTimer timer = 0;
    ASSERT_EQ(VxSrvcStartTimer(&timer, 0, blockingCallback, 0), VXSRVC_OK);
    ASSERT_TRUE(entered.waitOpen());
    EXPECT_EQ(VxSrvcCancelTimer(timer), VXSRVC_E_TOO_LATE);
    release.open();
}

TEST_F(VxSrvcTimers, RealClockTimerFiresOnTheTimerThreadAfterItsDelay)
{
    Gate done;
    static Gate* s_done;
    static DWORD s_thread;
    s_done = &done;
    const uint32_t start = VxSrvcGetTick();
    VxSrvcTimer timer = 0;
    ASSERT_EQ(VxSrvcStartTimer(
                  &timer, 20,
                  [](VxSrvcTimer, uintptr_t) {
                      s_thread = GetCurrentThreadId();
                      s_done->open();
                  },
                  0),
              VXSRVC_OK);
    ASSERT_TRUE(done.waitOpen());
    EXPECT_GE(VxSrvcGetTick() - start, 20u);
    EXPECT_NE(s_thread, GetCurrentThreadId());
}

TEST_F(VxSrvcTimers, CallbackMayStartTheNextTimer)
{
    static std::atomic<int> s_rounds;
    static Gate* s_done;
    Gate done;
    s_rounds = 0;
    s_done = &done;
    VxSrvcTimerProc again = [](VxSrvcTimer, uintptr_t parameter) {
        if (++s_rounds == 3) {
            s_done->open();
            return;
        }
        VxSrvcTimer next;
        VxSrvcStartTimer(&next, 1, reinterpret_cast<VxSrvcTimerProc>(parameter), parameter);
    };
    VxSrvcTimer timer;
    ASSERT_EQ(VxSrvcStartTimer(&timer, 1, again, reinterpret_cast<uintptr_t>(again)), VXSRVC_OK);
    ASSERT_TRUE(done.waitOpen());
}

TEST_F(VxSrvcTimers, TickOffsetRunsDeadlinesAcrossTheWrap)
{
    VxSrvcTestSetManualClock(0);
    VxSrvcTestSetTickOffset(0xFFFFFFFFu - 1999); // 2000 ticks before the wrap
    const uint32_t start = VxSrvcGetTick();
    EXPECT_EQ(start, 0xFFFFF830u);
    VxSrvcTimer timer;
    ASSERT_EQ(VxSrvcStartTimer(&timer, 5000, Fired::callback, 7), VXSRVC_OK);
    VxSrvcTestAdvanceClock(4999);
    EXPECT_TRUE(parameters().empty());
    VxSrvcTestAdvanceClock(1);
    EXPECT_EQ(parameters(), (std::vector<uintptr_t>{7}));
    EXPECT_EQ(fired.ticks[0], start + 5000u);
    EXPECT_LT(fired.ticks[0], start) << "the tick wrapped";
}

TEST_F(VxSrvcTimers, SwitchingClocksKeepsTheRemainingDelay)
{
    static Gate* s_done;
    Gate done;
    s_done = &done;
    VxSrvcTestSetManualClock(500);
    VxSrvcTimer timer;
    ASSERT_EQ(VxSrvcStartTimer(&timer, 1000, [](VxSrvcTimer, uintptr_t) { s_done->open(); }, 0), VXSRVC_OK);
    VxSrvcTestAdvanceClock(999);
    VxSrvcTestUseRealClock();
    EXPECT_TRUE(done.waitOpen()) << "one tick was left; the real clock fires it";
}

TEST_F(VxSrvcTimers, CleanupDropsTimersNotYetFired)
{
    VxSrvcTestSetManualClock(0);
    VxSrvcTimer timer;
    ASSERT_EQ(VxSrvcStartTimer(&timer, 10, Fired::callback, 1), VXSRVC_OK);
    VxSrvcCleanup();
    VxSrvcTestAdvanceClock(20);
    EXPECT_TRUE(parameters().empty());
    EXPECT_EQ(VxSrvcCancelTimer(timer), VXSRVC_E_NOT_FOUND);
    EXPECT_EQ(VxSrvcStartTimer(nullptr, 1, Fired::callback, 0), VXSRVC_E_BAD_PARAMETER);
}

} // namespace
