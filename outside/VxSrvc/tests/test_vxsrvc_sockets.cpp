// Message threads that watch sockets beside their queue: a message each time a socket is
// readable, watched again once handled; posts reaching a thread that waits for its sockets;
// unwatching, also after the thread is gone.
#include <gtest/gtest.h>

#include <windows.h>

#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "Gate.h"
#include "VxSrvc.h"

namespace {

const uint32_t kReadable = 0x500;
const uint32_t kBusy = 0x600; // posts itself again while g_busy is set

struct Entry {
    uint32_t message;
    uintptr_t wparam;
    int datagrams; // readable: how many it read
    DWORD thread;
};

std::mutex g_lock;
std::condition_variable g_changed;
std::vector<Entry> g_entries;
std::atomic<bool> g_busy{false};

// Reads every datagram waiting on the socket in wparam for a readable message.
intptr_t procedure(VxSrvcThread thread, uint32_t message, uintptr_t wparam, void*)
{
    if (message == kBusy) {
        if (g_busy)
            VxSrvcPostMessage(thread, kBusy, 0, nullptr);
        return 0;
    }
    int datagrams = 0;
    if (message == kReadable) {
        char data[64];
        while (recv(static_cast<int>(wparam), data, sizeof data, MSG_DONTWAIT) > 0)
            ++datagrams;
    }
    {
        std::lock_guard<std::mutex> lock(g_lock);
        g_entries.push_back({message, wparam, datagrams, GetCurrentThreadId()});
    }
    g_changed.notify_all();
    return 0;
}

class VxSrvcSockets : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_entries.clear();
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, pair), 0);
        ASSERT_EQ(VxSrvcCreateMsgThread(&thread, &threadId, procedure), VXSRVC_OK);
    }
    void TearDown() override
    {
        if (thread != nullptr)
            VxSrvcDestroyMsgThread(thread);
        close(pair[0]);
        close(pair[1]);
    }
    void send(const char* text) { ASSERT_GT(::send(pair[1], text, strlen(text), 0), 0); }
    static std::vector<Entry> entries()
    {
        std::lock_guard<std::mutex> lock(g_lock);
        return g_entries;
    }
    static bool waitForEntries(size_t count)
    {
        std::unique_lock<std::mutex> lock(g_lock);
        return g_changed.wait_for(lock, std::chrono::milliseconds(testsupport::kBoundedWaitMs),
                                  [count] { return g_entries.size() >= count; });
    }

    int pair[2] = {-1, -1};
    VxSrvcThread thread = nullptr;
    uint32_t threadId = 0;
};

TEST_F(VxSrvcSockets, ReadableSocketGivesAMessageOnItsThreadAndIsWatchedAgainOnceHandled)
{
    const uint32_t watch = VxSrvcWatchSocket(thread, pair[0], kReadable, static_cast<uintptr_t>(pair[0]));
    ASSERT_NE(watch, 0u);
    send("one");
    ASSERT_TRUE(waitForEntries(1));
    send("two");
    ASSERT_TRUE(waitForEntries(2));
    const std::vector<Entry> got = entries();
    ASSERT_EQ(got.size(), 2u);
    for (const Entry& entry : got) {
        EXPECT_EQ(entry.message, kReadable);
        EXPECT_EQ(entry.wparam, static_cast<uintptr_t>(pair[0]));
        EXPECT_EQ(entry.datagrams, 1);
        EXPECT_EQ(entry.thread, threadId);
    }
    VxSrvcUnwatchSocket(thread, watch);
}

TEST_F(VxSrvcSockets, PostsReachAThreadWaitingForItsSocketsInOrder)
{
    ASSERT_NE(VxSrvcWatchSocket(thread, pair[0], kReadable, static_cast<uintptr_t>(pair[0])), 0u);
    for (uint32_t message = 1; message <= 200; ++message)
        ASSERT_EQ(VxSrvcPostMessage(thread, message, 0, nullptr), VXSRVC_OK);
    ASSERT_TRUE(waitForEntries(200));
    const std::vector<Entry> got = entries();
    for (uint32_t i = 0; i < got.size(); ++i)
        EXPECT_EQ(got[i].message, i + 1);
}

TEST_F(VxSrvcSockets, SocketIsHeardWhileTheQueueNeverRunsEmpty)
{
    ASSERT_NE(VxSrvcWatchSocket(thread, pair[0], kReadable, static_cast<uintptr_t>(pair[0])), 0u);
    g_busy = true;
    ASSERT_EQ(VxSrvcPostMessage(thread, kBusy, 0, nullptr), VXSRVC_OK);
    send("heard");
    const bool heard = waitForEntries(1);
    g_busy = false;
    ASSERT_TRUE(heard);
    EXPECT_EQ(entries()[0].message, kReadable);
}

TEST_F(VxSrvcSockets, UnwatchedSocketGivesNoMoreMessages)
{
    const uint32_t watch = VxSrvcWatchSocket(thread, pair[0], kReadable, static_cast<uintptr_t>(pair[0]));
    VxSrvcUnwatchSocket(thread, watch);
    VxSrvcUnwatchSocket(thread, watch); // unknown by now: nothing happens
    send("unheard");
    ASSERT_EQ(VxSrvcPostMessage(thread, 7, 0, nullptr), VXSRVC_OK);
    ASSERT_TRUE(waitForEntries(1));
    // Data and post were both there before this post was handled.
    ASSERT_EQ(VxSrvcPostMessage(thread, 8, 0, nullptr), VXSRVC_OK);
    ASSERT_TRUE(waitForEntries(2));
    const std::vector<Entry> got = entries();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].message, 7u);
    EXPECT_EQ(got[1].message, 8u);
}

TEST_F(VxSrvcSockets, ThreadWaitingForItsSocketsIsDestroyedAndALateUnwatchDoesNothing)
{
    const uint32_t watch = VxSrvcWatchSocket(thread, pair[0], kReadable, static_cast<uintptr_t>(pair[0]));
    ASSERT_NE(watch, 0u);
    ASSERT_EQ(VxSrvcDestroyMsgThread(thread), VXSRVC_OK);
    VxSrvcThread gone = thread;
    thread = nullptr;
    VxSrvcUnwatchSocket(gone, watch);
    EXPECT_EQ(VxSrvcWatchSocket(nullptr, pair[0], kReadable, 0), 0u);
}

} // namespace
