// The SENT notice of a datagram sent on the endpoint's own message thread: it comes back as a
// message of that thread, consumed by VxTransPreDispatch, so that no other thread wakes for it.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

#include "Gate.h"
#include "VxSrvc.h"
#include "transport_recorder.h"

namespace {

using namespace vxtest;
using testsupport::Gate;

const uint32_t kRunStep = 1;

struct Notice {
    uint32_t endpoint;
    int32_t value;
    DWORD thread;
};

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

void onReceive(uint32_t, const VxTransAddressPair*, const VxTransBuffer*, int32_t) {}

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

    // Opens a UDP association to the device for the thread id and waits for its confirmation.
    uint32_t open(uint32_t threadId)
    {
        VxTransAddressPair pair{};
        pair.peer = transAddress("127.0.0.1", device.port());
        pair.protocol = VXTRANS_PROTOCOL_UDP;
        VxTransEndpointAddress local{};
        uint32_t endpoint = 0;
        EXPECT_EQ(VxTransOpenConnection(threadId, &pair, VXTRANS_MODE_CONNECTION, onReceive, nullptr, onState,
                                        &endpoint, &local, nullptr),
                  VXTRANS_OK);
        EXPECT_TRUE(waitFor([&] { return !noticesOf(endpoint, VXTRANS_NOTICE_CONNECTED).empty(); }));
        return endpoint;
    }

    // Bounded wait for a condition on the notices.
    static bool waitFor(const std::function<bool()>& condition)
    {
        std::unique_lock<std::recursive_mutex> lock(g_lock);
        return g_changed.wait_for(lock, std::chrono::milliseconds(testsupport::kBoundedWaitMs), condition);
    }

    PlainSocket device{SOCK_DGRAM, "127.0.0.1", 0};
    Dispatcher dispatcher;
};

TEST_F(VxTransDispatch, SentOfADatagramSentOnTheEndpointsThreadRunsOnThatThreadAnyOtherOnTheIoThread)
{
    const uint32_t endpoint = open(dispatcher.id());
    ASSERT_TRUE(dispatcher.run([&] { EXPECT_EQ(sendText(endpoint, "first"), VXTRANS_OK); }));
    EXPECT_EQ(device.receive(), "first");
    // The callback runs inside the dispatch, which is counted once it returns.
    ASSERT_TRUE(waitFor([&] { return noticesOf(endpoint, VXTRANS_NOTICE_SENT).size() == 1 && g_consumed == 1; }));
    EXPECT_EQ(noticesOf(endpoint, VXTRANS_NOTICE_SENT)[0].thread, dispatcher.id());

    // Sent from a thread that is not the endpoint's: the I/O thread reports it.
    ASSERT_EQ(sendText(endpoint, "second"), VXTRANS_OK);
    EXPECT_EQ(device.receive(), "second");
    ASSERT_TRUE(waitFor([&] { return noticesOf(endpoint, VXTRANS_NOTICE_SENT).size() == 2; }));
    const DWORD reporter = noticesOf(endpoint, VXTRANS_NOTICE_SENT)[1].thread;
    EXPECT_NE(reporter, dispatcher.id());
    EXPECT_NE(reporter, GetCurrentThreadId());
    EXPECT_EQ(g_consumed.load(), 1);
    EXPECT_EQ(VxTransCloseEndpoint(endpoint), VXTRANS_OK);
}

TEST_F(VxTransDispatch, ThreadThatDoesNotDispatchGetsItsSentFromTheIoThread)
{
    const uint32_t endpoint = open(GetCurrentThreadId());
    ASSERT_EQ(sendText(endpoint, "plain"), VXTRANS_OK);
    ASSERT_TRUE(waitFor([&] { return noticesOf(endpoint, VXTRANS_NOTICE_SENT).size() == 1; }));
    EXPECT_NE(noticesOf(endpoint, VXTRANS_NOTICE_SENT)[0].thread, GetCurrentThreadId());
    EXPECT_EQ(VxTransCloseEndpoint(endpoint), VXTRANS_OK);
}

TEST_F(VxTransDispatch, EndpointClosedBeforeItsNoticeIsDispatchedHearsNothing)
{
    const uint32_t endpoint = open(dispatcher.id());
    ASSERT_TRUE(dispatcher.run([&] {
        EXPECT_EQ(sendText(endpoint, "last words"), VXTRANS_OK);
        EXPECT_EQ(VxTransCloseEndpoint(endpoint), VXTRANS_OK);
    }));
    EXPECT_EQ(device.receive(), "last words");
    ASSERT_TRUE(waitFor([] { return g_consumed.load() == 1; }));
    // The notice message was consumed by the transport; a step posted after it has run since.
    ASSERT_TRUE(dispatcher.run([] {}));
    EXPECT_TRUE(noticesOf(endpoint, VXTRANS_NOTICE_SENT).empty());
}

TEST_F(VxTransDispatch, CallbackOnTheEndpointsThreadMayCloseItsEndpoint)
{
    const uint32_t endpoint = open(dispatcher.id());
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
