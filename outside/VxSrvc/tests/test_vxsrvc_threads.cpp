// Message threads: order, unbounded queues, destroy (also from the thread itself), the start hold.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "Gate.h"
#include "VxSrvc.h"

namespace {

using testsupport::Gate;

struct Journal {
    std::mutex mutex;
    std::vector<uint32_t> messages;
    std::vector<DWORD> threads;
    Gate reached;
    size_t expected = 0;
};

Journal* g_journal = nullptr;

intptr_t record(VxSrvcThread, uint32_t message, uintptr_t wparam, void* record)
{
    EXPECT_EQ(wparam, 0u);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(record), message * 2u);
    std::lock_guard<std::mutex> lock(g_journal->mutex);
    g_journal->messages.push_back(message);
    g_journal->threads.push_back(GetCurrentThreadId());
    if (g_journal->messages.size() == g_journal->expected)
        g_journal->reached.open();
    return 0;
}

class VxSrvcThreads : public ::testing::Test {
protected:
    void SetUp() override { g_journal = &journal; }
    void TearDown() override { g_journal = nullptr; }
    void post(VxSrvcThread thread, uint32_t message)
    {
        ASSERT_EQ(VxSrvcPostMessage(thread, message, 0, reinterpret_cast<void*>(uintptr_t{message} * 2)), VXSRVC_OK);
    }
    Journal journal;
};

TEST_F(VxSrvcThreads, MessagesArriveInPostOrderOnTheThreadWhoseIdWasGiven)
{
    VxSrvcThread thread = nullptr;
    uint32_t threadId = 0;
    ASSERT_EQ(VxSrvcCreateMsgThread(&thread, &threadId, record), VXSRVC_OK);
    EXPECT_NE(threadId, 0u);
    EXPECT_NE(threadId, GetCurrentThreadId());
    journal.expected = 20000; // more than a Windows thread queue holds
    for (uint32_t message = 1; message <= journal.expected; ++message)
        post(thread, message);
    ASSERT_TRUE(journal.reached.waitOpen());
    EXPECT_EQ(VxSrvcDestroyMsgThread(thread), VXSRVC_OK);
    for (uint32_t i = 0; i < journal.expected; ++i)
        ASSERT_EQ(journal.messages[i], i + 1);
    EXPECT_EQ(journal.threads.front(), threadId);
    EXPECT_EQ(journal.threads.back(), threadId);
}

TEST_F(VxSrvcThreads, EachPostersMessagesKeepTheirOrderUnderConcurrentPosting)
{
    VxSrvcThread thread = nullptr;
    uint32_t threadId = 0;
    ASSERT_EQ(VxSrvcCreateMsgThread(&thread, &threadId, record), VXSRVC_OK);
    constexpr uint32_t kPosters = 4, kEach = 2000;
    journal.expected = kPosters * kEach;
    std::vector<std::thread> posters;
    for (uint32_t poster = 0; poster < kPosters; ++poster)
        posters.emplace_back([&, poster] {
            for (uint32_t i = 1; i <= kEach; ++i)
                VxSrvcPostMessage(thread, poster * 100000 + i, 0, reinterpret_cast<void*>(uintptr_t{poster * 100000 + i} * 2));
        });
    for (auto& poster : posters)
        poster.join();
    ASSERT_TRUE(journal.reached.waitOpen());
    VxSrvcDestroyMsgThread(thread);
    std::vector<uint32_t> last(kPosters, 0);
    for (uint32_t message : journal.messages) {
        const uint32_t poster = message / 100000;
        EXPECT_EQ(message % 100000, last[poster] + 1);
        last[poster] = message % 100000;
    }
}

TEST_F(VxSrvcThreads, HeldThreadKeepsItsFirstMessageUntilReleased)
{
    VxSrvcTestHoldNewThreads();
    VxSrvcThread thread = nullptr;
    uint32_t threadId = 0;
    ASSERT_EQ(VxSrvcCreateMsgThread(&thread, &threadId, record), VXSRVC_OK);
    journal.expected = 1;
    post(thread, 7);
    EXPECT_EQ(WaitForSingleObject(journal.reached.event, 100), static_cast<DWORD>(WAIT_TIMEOUT));
    VxSrvcTestReleaseHeldThreads();
    ASSERT_TRUE(journal.reached.waitOpen());
    EXPECT_EQ(VxSrvcDestroyMsgThread(thread), VXSRVC_OK);

    VxSrvcThread later = nullptr;
    ASSERT_EQ(VxSrvcCreateMsgThread(&later, &threadId, record), VXSRVC_OK);
    ResetEvent(journal.reached.event);
    journal.expected = 2;
    post(later, 8);
    ASSERT_TRUE(journal.reached.waitOpen()) << "the hold ends with the release";
    VxSrvcDestroyMsgThread(later);
}

TEST_F(VxSrvcThreads, DestroyFromTheThreadItselfEndsItAfterTheCurrentMessage)
{
    static Gate* s_done;
    static std::atomic<int> s_handled;
    Gate done;
    s_done = &done;
    s_handled = 0;
    VxSrvcThread thread = nullptr;
    uint32_t threadId = 0;
    ASSERT_EQ(VxSrvcCreateMsgThread(&thread, &threadId,
                                    [](VxSrvcThread self, uint32_t, uintptr_t, void*) -> intptr_t {
                                        ++s_handled;
                                        EXPECT_EQ(VxSrvcDestroyMsgThread(self), VXSRVC_OK);
                                        s_done->open();
                                        return 0;
                                    }),
              VXSRVC_OK);
    VxSrvcPostMessage(thread, 1, 0, nullptr);
    ASSERT_TRUE(done.waitOpen());
    EXPECT_EQ(s_handled.load(), 1);
}

TEST_F(VxSrvcThreads, DestroyWaitsForTheMessageInHand)
{
    static Gate* s_entered;
    static Gate* s_release;
    static std::atomic<int> s_handled;
    Gate entered, release;
    s_entered = &entered;
    s_release = &release;
    s_handled = 0;
    VxSrvcThread thread = nullptr;
    uint32_t threadId = 0;
    ASSERT_EQ(VxSrvcCreateMsgThread(&thread, &threadId,
                                    [](VxSrvcThread, uint32_t, uintptr_t, void*) -> intptr_t {
                                        s_entered->open();
                                        s_release->waitOpen();
                                        ++s_handled;
                                        return 0;
                                    }),
              VXSRVC_OK);
    VxSrvcPostMessage(thread, 1, 0, nullptr);
    ASSERT_TRUE(entered.waitOpen());
    std::thread releaser([&] { release.open(); });
    EXPECT_EQ(VxSrvcDestroyMsgThread(thread), VXSRVC_OK);
    EXPECT_EQ(s_handled.load(), 1) << "destroy returns only after the message in hand";
    releaser.join();
}

TEST_F(VxSrvcThreads, DestroyDropsQueuedMessages)
{
    VxSrvcTestHoldNewThreads();
    VxSrvcThread thread = nullptr;
    uint32_t threadId = 0;
    ASSERT_EQ(VxSrvcCreateMsgThread(&thread, &threadId, record), VXSRVC_OK);
    post(thread, 1);
    post(thread, 2);
    EXPECT_EQ(VxSrvcDestroyMsgThread(thread), VXSRVC_OK);
    VxSrvcTestReleaseHeldThreads();
    EXPECT_TRUE(journal.messages.empty());
}

TEST_F(VxSrvcThreads, TheTestCountOfThreadsFollowsCreateAndDestroy)
{
    const uint32_t before = VxSrvcTestMsgThreads();
    VxSrvcThread first = nullptr, second = nullptr;
    uint32_t threadId = 0;
    ASSERT_EQ(VxSrvcCreateMsgThread(&first, &threadId, record), VXSRVC_OK);
    ASSERT_EQ(VxSrvcCreateMsgThread(&second, &threadId, record), VXSRVC_OK);
    EXPECT_EQ(VxSrvcTestMsgThreads(), before + 2);
    VxSrvcDestroyMsgThread(first);
    EXPECT_EQ(VxSrvcTestMsgThreads(), before + 1);
    VxSrvcDestroyMsgThread(second);
    EXPECT_EQ(VxSrvcTestMsgThreads(), before);
}

TEST_F(VxSrvcThreads, BadArgumentsAreRefused)
{
    VxSrvcThread thread = nullptr;
    uint32_t threadId = 0;
    EXPECT_EQ(VxSrvcCreateMsgThread(nullptr, &threadId, record), VXSRVC_E_BAD_PARAMETER);
    EXPECT_EQ(VxSrvcCreateMsgThread(&thread, &threadId, nullptr), VXSRVC_E_BAD_PARAMETER);
    EXPECT_EQ(VxSrvcPostMessage(nullptr, 1, 0, nullptr), VXSRVC_E_BAD_PARAMETER);
    EXPECT_EQ(VxSrvcDestroyMsgThread(nullptr), VXSRVC_E_BAD_PARAMETER);
}

} // namespace
