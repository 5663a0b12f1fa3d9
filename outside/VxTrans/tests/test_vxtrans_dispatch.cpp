// UDP endpoints owned by the message thread that opened them: the thread watches the socket, and
// every callback runs on it inside VxTransPreDispatch, so that no other thread wakes for them.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

#include "Gate.h"
#include "VxSrvc.h"
#include "plain_socket.h"
#include "transport_recorder.h"

namespace {

using namespace vxtest;
using testsupport::Gate;

const uint32_t kRunStep = 1;

// A notice, or received data (value kReceived).
struct Notice {
    uint32_t endpoint;
    int32_t value;
    DWORD thread;
};
const int32_t kReceived = 0x1000;

std::recursive_mutex g_lock; // the wait's condition reads the notices under it
std::condition_variable_any g_changed;
std::vector<Notice> g_notices;
std::atomic<int> g_consumed{0};
std::atomic<bool> g_closeInSent{false};
Gate* g_sentSeen = nullptr;

std::vector<Notice> noticesOf(uint32_t endpoint, int32_t value)
{
    std::lock_guard<std::recursive_mutex> lock(g_lock);
    std::vector<Notice> found;
    for (const Notice& notice : g_notices)
        if (notice.endpoint == endpoint && notice.value == value)
            found.push_back(notice);
    return found;
}

void onState(uint32_t endpoint, int32_t value, void*)
{
    {
        std::lock_guard<std::recursive_mutex> lock(g_lock);
        g_notices.push_back({endpoint, value, GetCurrentThreadId()});
    }
    g_changed.notify_all();
    if (value == VXTRANS_NOTICE_SENT && g_closeInSent)
        VxTransCloseEndpoint(endpoint);
    if (value == VXTRANS_NOTICE_SENT && g_sentSeen != nullptr)
        g_sentSeen->open();
}

void onReceive(uint32_t endpoint, const VxTransAddressPair*, const VxTransBuffer* buffer, int32_t result)
{
    if (result != 0 || buffer == nullptr)
        return;
    {
        std::lock_guard<std::recursive_mutex> lock(g_lock);
        g_notices.push_back({endpoint, kReceived, GetCurrentThreadId()});
    }
    g_changed.notify_all();
}

// A message thread that offers every message to the transport first, as the protocol library's
// worker does, and runs the test's steps.
class Dispatcher {
public:
    Dispatcher() { VxSrvcCreateMsgThread(&thread_, &id_, &Dispatcher::procedure); }
    ~Dispatcher() { VxSrvcDestroyMsgThread(thread_); }
    uint32_t id() const { return id_; }
    // Runs the step on the thread and waits for it.
    bool run(std::function<void()> step)
    {
        Gate done;
        std::function<void()> whole = [&] {
            step();
            done.open();
        };
        return VxSrvcPostMessage(thread_, kRunStep, 0, &whole) >= 0 && done.waitOpen();
    }

private:
    static intptr_t procedure(VxSrvcThread thread, uint32_t message, uintptr_t wparam, void* record)
    {
        if (VxTransPreDispatch(thread, message, wparam, record) != 0) {
            {
                std::lock_guard<std::recursive_mutex> lock(g_lock);
                ++g_consumed;
            }
            g_changed.notify_all();
            return 0;
        }
        if (message == kRunStep)
            (*static_cast<std::function<void()>*>(record))();
        return 0;
    }
    VxSrvcThread thread_ = nullptr;
    uint32_t id_ = 0;
};

class VxTransDispatch : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_GE(device.fd, 0);
        g_notices.clear();
        g_consumed = 0;
        g_closeInSent = false;
        g_sentSeen = nullptr;
    }

    // Opens a UDP association to the device, for the thread id, on the dispatcher or on the
    // test's thread; waits for its confirmation.
    uint32_t open(uint32_t threadId, bool onDispatcher)
    {
        VxTransAddressPair pair{};
        pair.peer = transAddress("127.0.0.1", device.port());
        pair.protocol = VXTRANS_PROTOCOL_UDP;
        uint32_t endpoint = 0;
        const auto opening = [&] {
            EXPECT_EQ(VxTransOpenConnection(threadId, &pair, VXTRANS_MODE_CONNECTION, onReceive, nullptr, onState,
                                            &endpoint, &local, nullptr),
                      VXTRANS_OK);
        };
        if (onDispatcher)
            EXPECT_TRUE(dispatcher.run(opening));
        else
            opening();
        EXPECT_TRUE(waitFor([&] { return !noticesOf(endpoint, VXTRANS_NOTICE_CONNECTED).empty(); }));
        return endpoint;
    }

    // The thread of the endpoint's only callback of that value.
    DWORD threadOf(uint32_t endpoint, int32_t value)
    {
        const std::vector<Notice> found = noticesOf(endpoint, value);
        EXPECT_EQ(found.size(), 1u);
        return found.empty() ? 0 : found[0].thread;
    }

    // Bounded wait for a condition on the notices.
    static bool waitFor(const std::function<bool()>& condition)
    {
        std::unique_lock<std::recursive_mutex> lock(g_lock);
        return g_changed.wait_for(lock, std::chrono::milliseconds(testsupport::kBoundedWaitMs), condition);
    }

    PlainSocket device{SOCK_DGRAM, "127.0.0.1", 0};
    VxTransEndpointAddress local{};
    Dispatcher dispatcher;
};

TEST_F(VxTransDispatch, EndpointOpenedOnItsMessageThreadHasEveryCallbackThere)
{
    const uint32_t endpoint = open(dispatcher.id(), true);
    EXPECT_EQ(threadOf(endpoint, VXTRANS_NOTICE_CONNECTED), dispatcher.id());
    ASSERT_TRUE(dispatcher.run([&] { EXPECT_EQ(sendText(endpoint, "request"), VXTRANS_OK); }));
    EXPECT_EQ(device.receive(), "request");
    device.sendTo("reply", "127.0.0.1", portOf(local.address));
    // Each callback runs inside a dispatch, which is counted once it returns.
    ASSERT_TRUE(waitFor([&] { return !noticesOf(endpoint, kReceived).empty() && g_consumed == 3; }));
    EXPECT_EQ(threadOf(endpoint, VXTRANS_NOTICE_SENT), dispatcher.id());
    EXPECT_EQ(threadOf(endpoint, kReceived), dispatcher.id());

    // Sent from another thread, the notice still comes on the owner thread.
    ASSERT_EQ(sendText(endpoint, "again"), VXTRANS_OK);
    EXPECT_EQ(device.receive(), "again");
    ASSERT_TRUE(waitFor([&] { return noticesOf(endpoint, VXTRANS_NOTICE_SENT).size() == 2 && g_consumed == 4; }));
    EXPECT_EQ(noticesOf(endpoint, VXTRANS_NOTICE_SENT)[1].thread, dispatcher.id());
    ASSERT_TRUE(dispatcher.run([&] { EXPECT_EQ(VxTransCloseEndpoint(endpoint), VXTRANS_OK); }));
}

TEST_F(VxTransDispatch, EndpointOpenedOnAnotherThreadHasItsCallbacksOnTheIoThread)
{
    const uint32_t endpoint = open(dispatcher.id(), false);
    ASSERT_TRUE(dispatcher.run([&] { EXPECT_EQ(sendText(endpoint, "request"), VXTRANS_OK); }));
    EXPECT_EQ(device.receive(), "request");
    device.sendTo("reply", "127.0.0.1", portOf(local.address));
    ASSERT_TRUE(waitFor([&] { return !noticesOf(endpoint, kReceived).empty() && !noticesOf(endpoint, VXTRANS_NOTICE_SENT).empty(); }));
    const DWORD ioThread = threadOf(endpoint, VXTRANS_NOTICE_CONNECTED);
    EXPECT_NE(ioThread, dispatcher.id());
    EXPECT_NE(ioThread, GetCurrentThreadId());
    EXPECT_EQ(threadOf(endpoint, VXTRANS_NOTICE_SENT), ioThread);
    EXPECT_EQ(threadOf(endpoint, kReceived), ioThread);
    EXPECT_EQ(g_consumed.load(), 0);
    EXPECT_EQ(VxTransCloseEndpoint(endpoint), VXTRANS_OK);
}

TEST_F(VxTransDispatch, EndpointClosedBeforeItsNoticeIsDispatchedHearsNothing)
{
    const uint32_t endpoint = open(dispatcher.id(), true);
    ASSERT_TRUE(dispatcher.run([&] {
        EXPECT_EQ(sendText(endpoint, "last words"), VXTRANS_OK);
        EXPECT_EQ(VxTransCloseEndpoint(endpoint), VXTRANS_OK);
    }));
    EXPECT_EQ(device.receive(), "last words");
    ASSERT_TRUE(waitFor([] { return g_consumed.load() == 2; }));
    // The notice message was consumed by the transport; a step posted after it has run since.
    ASSERT_TRUE(dispatcher.run([] {}));
    EXPECT_TRUE(noticesOf(endpoint, VXTRANS_NOTICE_SENT).empty());
}

TEST_F(VxTransDispatch, CallbackOnTheEndpointsThreadMayCloseItsEndpoint)
{
    const uint32_t endpoint = open(dispatcher.id(), true);
    Gate sentSeen;
    g_sentSeen = &sentSeen;
    g_closeInSent = true;
    ASSERT_TRUE(dispatcher.run([&] { EXPECT_EQ(sendText(endpoint, "bye"), VXTRANS_OK); }));
    ASSERT_TRUE(sentSeen.waitOpen()) << "the close inside the callback did not return";
    ASSERT_TRUE(dispatcher.run([] {}));
    EXPECT_EQ(VxTransCloseEndpoint(endpoint), VXTRANS_E_BAD_HANDLE);
    g_sentSeen = nullptr;
}

} // namespace
