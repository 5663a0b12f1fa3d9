#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

#include <pal/testhooks.h>
#include <windows.h>

#include "Gate.h"

static_assert(offsetof(MSG, message) == 8 && offsetof(MSG, wParam) == 16 && offsetof(MSG, lParam) == 24 &&
                  offsetof(MSG, time) == 32 && offsetof(MSG, pt) == 36,
              "MSG has the Windows x64 layout");

namespace {

using testsupport::Gate;
constexpr DWORD kBoundedWait = testsupport::kBoundedWaitMs;
const HWND kThreadMessagesOnly = reinterpret_cast<HWND>(static_cast<LONG_PTR>(-1));

// Every case runs on a thread of its own, so that it starts without a message queue.
void onFreshThread(const std::function<void()>& body)
{
    std::thread thread(body);
    thread.join();
}

// Makes the calling thread's queue.
void createQueue()
{
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
}

DWORD messageWait(DWORD wakeMask = QS_ALLINPUT, DWORD flags = 0)
{
    return MsgWaitForMultipleObjectsEx(0, nullptr, 0, wakeMask, flags);
}

// Posts until the target's queue exists (it is made by the target's first message call).
bool postWhenQueueExists(DWORD threadId, UINT message)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBoundedWait);
    while (!PostThreadMessageW(threadId, message, 0, 0)) {
        if (GetLastError() != ERROR_INVALID_THREAD_ID || std::chrono::steady_clock::now() > deadline)
            return false;
        Sleep(1);
    }
    return true;
}

// ---- Queue existence and limit

enum class FirstCall { peek, get, msgWait };

struct Target {
    explicit Target(FirstCall call) : firstCall(call) {}
    const FirstCall firstCall;
    Gate go;
    std::atomic<UINT> received{0};
};

DWORD WINAPI receiveOneMessage(LPVOID parameter)
{
    auto* target = static_cast<Target*>(parameter);
    if (!target->go.waitOpen())
        return 1;
    MSG msg{};
    if (target->firstCall == FirstCall::peek)
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
    else if (target->firstCall == FirstCall::msgWait)
        MsgWaitForMultipleObjects(0, nullptr, FALSE, kBoundedWait, QS_ALLINPUT);
    if (GetMessageW(&msg, nullptr, 0, 0) != TRUE)
        return 2;
    target->received = msg.message;
    return 0;
}

TEST(MessageQueues, PostingFailsBeforeTheTargetsFirstMessageCallAndAfterItEnded)
{
    for (FirstCall firstCall : {FirstCall::peek, FirstCall::get, FirstCall::msgWait}) {
        Target target{firstCall};
        DWORD id = 0;
        HANDLE thread = CreateThread(nullptr, 0, receiveOneMessage, &target, 0, &id);
        ASSERT_NE(thread, nullptr);
        SetLastError(0);
        EXPECT_FALSE(PostThreadMessageW(id, WM_USER, 0, 0));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_THREAD_ID));

        target.go.open();
        EXPECT_TRUE(postWhenQueueExists(id, WM_USER + 1));
        ASSERT_EQ(WaitForSingleObject(thread, kBoundedWait), WAIT_OBJECT_0);
        DWORD code = 99;
        GetExitCodeThread(thread, &code);
        EXPECT_EQ(code, 0u);
        EXPECT_EQ(target.received.load(), static_cast<UINT>(WM_USER + 1));

        SetLastError(0);
        EXPECT_FALSE(PostThreadMessageW(id, WM_USER, 0, 0)) << "the queue goes with its thread";
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_THREAD_ID));
        CloseHandle(thread);
    }
    EXPECT_FALSE(PostThreadMessageA(0, WM_USER, 0, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_THREAD_ID));
}

TEST(MessageQueues, TheQueueOfAThreadThePlatformDidNotStartGoesWithItToo)
{
    DWORD id = 0;
    onFreshThread([&id] {
        createQueue();
        id = GetCurrentThreadId();
        EXPECT_TRUE(PostThreadMessageW(id, WM_USER, 0, 0)) << "a thread may post to itself";
    });
    SetLastError(0);
    EXPECT_FALSE(PostThreadMessageW(id, WM_USER, 0, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_THREAD_ID));
}

TEST(MessageQueues, AFullQueueOf10000MessagesRefusesMoreWithNotEnoughQuota)
{
    onFreshThread([] {
        createQueue();
        const DWORD self = GetCurrentThreadId();
        for (WPARAM i = 0; i < 10000; ++i)
            ASSERT_TRUE(PostThreadMessageW(self, WM_USER, i, 0)) << i;
        SetLastError(0);
        EXPECT_FALSE(PostThreadMessageW(self, WM_USER, 10000, 0));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_QUOTA));
        PostQuitMessage(0); // a request, not a queued message

        MSG msg;
        ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
        EXPECT_EQ(msg.wParam, 0u);
        EXPECT_TRUE(PostThreadMessageW(self, WM_USER, 10000, 0)) << "room for one again";
        EXPECT_FALSE(PostThreadMessageW(self, WM_USER, 10001, 0));

        for (WPARAM expected = 1; expected <= 10000; ++expected) {
            ASSERT_EQ(GetMessageW(&msg, nullptr, 0, 0), TRUE);
            ASSERT_EQ(msg.wParam, expected);
        }
        EXPECT_EQ(GetMessageW(&msg, nullptr, 0, 0), 0);
    });
}

// ---- Waiting for input

TEST(MessageWaits, WakeOnlyForInputThatIsNewSinceTheThreadLastLooked)
{
    onFreshThread([] {
        createQueue();
        const DWORD self = GetCurrentThreadId();
        MSG msg;
        EXPECT_EQ(messageWait(), WAIT_TIMEOUT);
        PostThreadMessageW(self, WM_USER, 0, 0);
        EXPECT_EQ(messageWait(), WAIT_OBJECT_0);
        EXPECT_EQ(messageWait(), WAIT_OBJECT_0) << "waiting is not looking";

        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
        EXPECT_EQ(messageWait(), WAIT_TIMEOUT) << "the message was there when the thread last looked";
        EXPECT_EQ(messageWait(QS_ALLINPUT, MWMO_INPUTAVAILABLE), WAIT_OBJECT_0) << "but it is still waiting";

        PostThreadMessageW(self, WM_USER + 1, 0, 0);
        EXPECT_FALSE(PeekMessageW(&msg, nullptr, WM_APP, WM_APP, PM_REMOVE));
        EXPECT_EQ(messageWait(), WAIT_TIMEOUT) << "a filtered look that found nothing still counts";

        PostThreadMessageW(self, WM_USER + 2, 0, 0);
        EXPECT_EQ(messageWait(QS_KEY | QS_MOUSE), WAIT_TIMEOUT) << "posted messages are not in this mask";
        EXPECT_EQ(messageWait(QS_POSTMESSAGE), WAIT_OBJECT_0);
        EXPECT_EQ(messageWait(QS_ALLPOSTMESSAGE), WAIT_OBJECT_0);
        ASSERT_EQ(GetMessageW(&msg, nullptr, 0, 0), TRUE);
        EXPECT_EQ(msg.message, static_cast<UINT>(WM_USER));
        EXPECT_EQ(messageWait(), WAIT_TIMEOUT) << "taking a message is looking";

        PostQuitMessage(1);
        EXPECT_EQ(messageWait(), WAIT_OBJECT_0) << "a quit request is new input";
    });
}

TEST(MessageWaits, HandlesComeBeforeInputAndTheInputIndexIsTheHandleCount)
{
    onFreshThread([] {
        createQueue();
        HANDLE events[2] = {CreateEventW(nullptr, TRUE, FALSE, nullptr), CreateEventW(nullptr, FALSE, FALSE, nullptr)};
        PostThreadMessageW(GetCurrentThreadId(), WM_USER, 0, 0);
        EXPECT_EQ(MsgWaitForMultipleObjects(2, events, FALSE, 0, QS_ALLINPUT), WAIT_OBJECT_0 + 2);
        SetEvent(events[1]);
        EXPECT_EQ(MsgWaitForMultipleObjects(2, events, FALSE, 0, QS_ALLINPUT), WAIT_OBJECT_0 + 1);
        EXPECT_EQ(MsgWaitForMultipleObjects(2, events, FALSE, 0, QS_ALLINPUT), WAIT_OBJECT_0 + 2)
            << "the auto-reset event was taken";
        SetEvent(events[0]);
        EXPECT_EQ(MsgWaitForMultipleObjects(2, events, FALSE, 0, QS_ALLINPUT), WAIT_OBJECT_0);
        CloseHandle(events[0]);
        CloseHandle(events[1]);
    });
}

TEST(MessageWaits, WaitAllNeedsEveryHandleAndNewInputTogether)
{
    onFreshThread([] {
        createQueue();
        HANDLE event = CreateEventW(nullptr, FALSE, TRUE, nullptr);
        EXPECT_EQ(MsgWaitForMultipleObjects(1, &event, TRUE, 0, QS_ALLINPUT), WAIT_TIMEOUT) << "no input yet";
        EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0) << "a wait that did not end took nothing";

        PostThreadMessageW(GetCurrentThreadId(), WM_USER, 0, 0);
        EXPECT_EQ(MsgWaitForMultipleObjects(1, &event, TRUE, 0, QS_ALLINPUT), WAIT_TIMEOUT) << "input alone";
        SetEvent(event);
        EXPECT_EQ(MsgWaitForMultipleObjects(1, &event, TRUE, 0, QS_ALLINPUT), WAIT_OBJECT_0);
        EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT) << "the wait took the auto-reset signal";
        CloseHandle(event);
    });
}

struct Waiter {
    HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE drained = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    ~Waiter()
    {
        CloseHandle(stop);
        CloseHandle(drained);
    }
};

// A message loop of the kind the service runs: wait for stop or input, take all input, repeat.
// Returns how many messages it took, or 1000 when a wait failed or ran out.
DWORD WINAPI messageLoopUntilStopped(LPVOID parameter)
{
    auto* waiter = static_cast<Waiter*>(parameter);
    DWORD taken = 0;
    for (;;) {
        const DWORD result = MsgWaitForMultipleObjects(1, &waiter->stop, FALSE, kBoundedWait, QS_ALLINPUT);
        if (result == WAIT_OBJECT_0)
            return taken;
        if (result != WAIT_OBJECT_0 + 1)
            return 1000;
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            ++taken;
        SetEvent(waiter->drained);
    }
}

TEST(MessageWaits, AWaitingThreadWakesForEachPostAndForItsStopEvent)
{
    Waiter waiter;
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, messageLoopUntilStopped, &waiter, 0, &id);
    ASSERT_TRUE(postWhenQueueExists(id, WM_USER));
    EXPECT_EQ(WaitForSingleObject(waiter.drained, kBoundedWait), WAIT_OBJECT_0);
    EXPECT_TRUE(PostThreadMessageW(id, WM_USER + 1, 0, 0));
    EXPECT_EQ(WaitForSingleObject(waiter.drained, kBoundedWait), WAIT_OBJECT_0);
    SetEvent(waiter.stop);
    ASSERT_EQ(WaitForSingleObject(thread, kBoundedWait), WAIT_OBJECT_0);
    DWORD taken = 0;
    GetExitCodeThread(thread, &taken);
    EXPECT_EQ(taken, 2u);
    CloseHandle(thread);
}

TEST(MessageWaits, ScaledTimeOutsEndEarly)
{
    onFreshThread([] {
        ASSERT_TRUE(palSetTimeScale(0.01));
        HANDLE never = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(MsgWaitForMultipleObjects(1, &never, FALSE, 10000, QS_ALLINPUT), WAIT_TIMEOUT);
        const auto real = std::chrono::steady_clock::now() - start;
        EXPECT_LT(real, std::chrono::seconds(5)) << "a 10 s wait at scale 0.01 takes about 100 ms";
        EXPECT_GE(real, std::chrono::milliseconds(99));
        palSetTimeScale(1.0);
        CloseHandle(never);
    });
}

TEST(MessageWaits, BadArgumentsFail)
{
    onFreshThread([] {
        HANDLE bogus = reinterpret_cast<HANDLE>(0x4321);
        SetLastError(0);
        EXPECT_EQ(MsgWaitForMultipleObjects(1, &bogus, FALSE, 0, QS_ALLINPUT), WAIT_FAILED);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        EXPECT_EQ(MsgWaitForMultipleObjects(1, nullptr, FALSE, 0, QS_ALLINPUT), WAIT_FAILED);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
        std::vector<HANDLE> tooMany(MAXIMUM_WAIT_OBJECTS, nullptr);
        EXPECT_EQ(MsgWaitForMultipleObjects(MAXIMUM_WAIT_OBJECTS, tooMany.data(), FALSE, 0, QS_ALLINPUT),
                  WAIT_FAILED);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    });
}

// ---- Taking messages

TEST(TakingMessages, FilterRangesPickTheFirstMatchingMessageAndLeaveTheOthers)
{
    onFreshThread([] {
        createQueue();
        const DWORD self = GetCurrentThreadId();
        for (UINT message : {0x401u, 0x500u, 0x402u, 0x600u})
            PostThreadMessageW(self, message, 0, 0);
        MSG msg;
        ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0x402, 0x402, PM_REMOVE));
        EXPECT_EQ(msg.message, 0x402u);
        ASSERT_EQ(GetMessageW(&msg, nullptr, 0x500, 0x5FF), TRUE);
        EXPECT_EQ(msg.message, 0x500u);
        EXPECT_FALSE(PeekMessageW(&msg, nullptr, 0x403, 0x4FF, PM_REMOVE));
        ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_NOYIELD));
        EXPECT_EQ(msg.message, 0x401u);
        ASSERT_TRUE(PeekMessageA(&msg, kThreadMessagesOnly, 0, 0, PM_REMOVE));
        EXPECT_EQ(msg.message, 0x401u) << "PM_NOREMOVE left it at the head";
        ASSERT_EQ(GetMessageA(&msg, kThreadMessagesOnly, 0, 0), TRUE);
        EXPECT_EQ(msg.message, 0x600u);
        EXPECT_FALSE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
    });
}

struct FilteredGet {
    Gate ready;
    std::atomic<UINT> first{0};
    std::atomic<UINT> second{0};
};

DWORD WINAPI getOnlyMessage0x500(LPVOID parameter)
{
    auto* check = static_cast<FilteredGet*>(parameter);
    createQueue();
    PostThreadMessageW(GetCurrentThreadId(), 0x401, 0, 0);
    check->ready.open();
    MSG msg;
    if (GetMessageW(&msg, nullptr, 0x500, 0x500) != TRUE)
        return 1;
    check->first = msg.message;
    if (!PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        return 2;
    check->second = msg.message;
    return 0;
}

TEST(TakingMessages, GetMessageBlocksUntilAMessageOfItsRangeArrives)
{
    FilteredGet check;
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, getOnlyMessage0x500, &check, 0, &id);
    ASSERT_TRUE(check.ready.waitOpen());
    EXPECT_TRUE(PostThreadMessageW(id, 0x500, 0, 0));
    ASSERT_EQ(WaitForSingleObject(thread, kBoundedWait), WAIT_OBJECT_0);
    DWORD code = 99;
    GetExitCodeThread(thread, &code);
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(check.first.load(), 0x500u);
    EXPECT_EQ(check.second.load(), 0x401u);
    CloseHandle(thread);
}

TEST(TakingMessages, WindowFiltersAndMissingRecordsAreErrors)
{
    onFreshThread([] {
        MSG msg;
        const HWND someWindow = reinterpret_cast<HWND>(0x1234);
        SetLastError(0);
        EXPECT_FALSE(PeekMessageW(&msg, someWindow, 0, 0, PM_REMOVE));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
        EXPECT_EQ(GetMessageW(&msg, someWindow, 0, 0), -1);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
        EXPECT_EQ(GetMessageW(nullptr, nullptr, 0, 0), -1);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOACCESS));
        EXPECT_FALSE(PeekMessageW(nullptr, nullptr, 0, 0, PM_REMOVE));
    });
}

TEST(TakingMessages, RecordsCarryTheParametersAndThePostingTick)
{
    onFreshThread([] {
        createQueue();
        palSetTestTickCount(0x123456789ULL);
        const WPARAM wParam = static_cast<WPARAM>(0xFEDCBA9876543210ULL);
        const LPARAM lParam = -2;
        EXPECT_TRUE(PostThreadMessageW(GetCurrentThreadId(), WM_USER + 5, wParam, lParam));
        palResetTestClock();
        MSG msg;
        memset(&msg, 0xAB, sizeof(msg));
        ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
        EXPECT_EQ(msg.hwnd, nullptr);
        EXPECT_EQ(msg.message, static_cast<UINT>(WM_USER + 5));
        EXPECT_EQ(msg.wParam, wParam);
        EXPECT_EQ(msg.lParam, lParam);
        EXPECT_EQ(msg.time, 0x23456789u);
        EXPECT_EQ(msg.pt.x, 0);
        EXPECT_EQ(msg.pt.y, 0);
    });
}

// ---- WM_QUIT

TEST(QuitMessages, QuitRequestComesAfterWaitingMessagesAndPassesEveryFilter)
{
    onFreshThread([] {
        createQueue();
        PostQuitMessage(7);
        PostThreadMessageW(GetCurrentThreadId(), 0x401, 0, 0);
        MSG msg;
        ASSERT_EQ(GetMessageW(&msg, nullptr, 0, 0), TRUE);
        EXPECT_EQ(msg.message, 0x401u) << "posted messages come before the quit request";
        ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0x500, 0x500, PM_NOREMOVE));
        EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
        EXPECT_EQ(msg.wParam, 7u);
        EXPECT_EQ(GetMessageW(&msg, nullptr, 0x500, 0x500), 0) << "PM_NOREMOVE kept it; the filter does not apply";
        EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
        EXPECT_EQ(msg.wParam, 7u);
        EXPECT_FALSE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) << "taken once";
    });
}

TEST(QuitMessages, APostedQuitKeepsItsPlaceInTheQueue)
{
    onFreshThread([] {
        createQueue();
        const DWORD self = GetCurrentThreadId();
        PostThreadMessageW(self, 0x401, 0, 0);
        PostThreadMessageW(self, WM_QUIT, 3, 0);
        PostThreadMessageW(self, 0x402, 0, 0);
        MSG msg;
        EXPECT_EQ(GetMessageW(&msg, nullptr, 0, 0), TRUE);
        EXPECT_EQ(msg.message, 0x401u);
        EXPECT_EQ(GetMessageW(&msg, nullptr, 0x402, 0x402), 0);
        EXPECT_EQ(msg.wParam, 3u);
        EXPECT_EQ(GetMessageW(&msg, nullptr, 0, 0), TRUE);
        EXPECT_EQ(msg.message, 0x402u);
    });
}

DWORD WINAPI countUntilQuit(LPVOID)
{
    createQueue();
    DWORD count = 0;
    MSG msg;
    BOOL result;
    while ((result = GetMessageW(&msg, nullptr, 0, 0)) > 0)
        ++count;
    return result == 0 && msg.wParam == 5 ? count : 1000;
}

TEST(QuitMessages, EndAMessageLoopOnAnotherThread)
{
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, countUntilQuit, nullptr, 0, &id);
    ASSERT_TRUE(postWhenQueueExists(id, WM_USER));
    EXPECT_TRUE(PostThreadMessageW(id, WM_USER, 0, 0));
    EXPECT_TRUE(PostThreadMessageW(id, WM_QUIT, 5, 0));
    ASSERT_EQ(WaitForSingleObject(thread, kBoundedWait), WAIT_OBJECT_0);
    DWORD count = 0;
    GetExitCodeThread(thread, &count);
    EXPECT_EQ(count, 2u);
    CloseHandle(thread);
}

// ---- Concurrency

constexpr int kPosters = 4;
constexpr int kPerPoster = 2000;

struct Consumer {
    Gate ready;
    std::atomic<int> outOfOrder{0};
};

DWORD WINAPI consumeInPosterOrder(LPVOID parameter)
{
    auto* consumer = static_cast<Consumer*>(parameter);
    createQueue();
    consumer->ready.open();
    std::vector<LPARAM> next(kPosters, 0);
    MSG msg;
    for (int received = 0; received < kPosters * kPerPoster; ++received) {
        if (GetMessageW(&msg, nullptr, 0, 0) != TRUE || msg.wParam >= kPosters)
            return 1;
        if (msg.lParam != next[msg.wParam]++)
            ++consumer->outOfOrder;
    }
    return PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE) ? 2 : 0;
}

TEST(MessageQueues, EachPostersMessagesArriveInOrderUnderConcurrency)
{
    Consumer consumer;
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, consumeInPosterOrder, &consumer, 0, &id);
    ASSERT_TRUE(consumer.ready.waitOpen());
    std::atomic<int> failedPosts{0};
    std::vector<std::thread> posters;
    for (WPARAM poster = 0; poster < kPosters; ++poster)
        posters.emplace_back([&, poster] {
            for (LPARAM sequence = 0; sequence < kPerPoster; ++sequence)
                if (!PostThreadMessageW(id, WM_USER, poster, sequence))
                    ++failedPosts;
        });
    for (auto& poster : posters)
        poster.join();
    ASSERT_EQ(WaitForSingleObject(thread, 60000), WAIT_OBJECT_0);
    DWORD code = 99;
    GetExitCodeThread(thread, &code);
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(failedPosts.load(), 0);
    EXPECT_EQ(consumer.outOfOrder.load(), 0);
    CloseHandle(thread);
}

} // namespace
