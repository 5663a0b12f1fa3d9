// The engine's unit-test fixture: the scriptable transport, the runtime's manual clock, a fresh
// platform root, and recorders for asynchronous completions.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "../../tests/WireBytes.h"
#include "TempRoot.h"
#include "VxDmlpApi.h"
#include "VxSrvc.h"
#include "VxTransFake.h"

namespace enginetest {

constexpr uint32_t kStartTick = 100000;
constexpr int kWaitMs = 10000;
inline const uint32_t kObject[2] = {0x11223344, 0x55667788};

// Polls pred until it holds, at most kWaitMs real milliseconds.
template <typename Predicate>
bool WaitUntil(Predicate pred, int milliseconds = kWaitMs)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

struct Completion {
    DmlpBinding binding;
    uint16_t method;
    uint16_t status;
    void* result;
    uint32_t tick;
};

// Records the completions of a result callback, in the order they arrive.
class Completions {
public:
    DmlpCallback callback()
    {
        DmlpCallback record = {};
        record.kind = DMLP_CALLBACK_KIND;
        record.function.result = &Completions::Record;
        record.context = this;
        return record;
    }
    bool waitFor(size_t count)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::milliseconds(kWaitMs), [&] { return list_.size() >= count; });
    }
    std::vector<Completion> list()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return list_;
    }
    size_t size()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return list_.size();
    }
    // Runs on the notification thread inside the callback, before the completion is recorded.
    std::function<void(const Completion&)> inside;
    // Releases every result block received.
    void release()
    {
        for (const Completion& completion : list()) {
            if (completion.result != nullptr) {
                EXPECT_EQ(DMLP_ReleaseParam(completion.result), DMLP_SUCCESS);
            }
        }
    }

private:
    static uint16_t Record(DmlpBinding binding, uint16_t method, void* context, uint16_t status, void* result)
    {
        Completions* self = (Completions*)context;
        Completion completion = {binding, method, status, result, VxSrvcGetTick()};
        if (self->inside)
            self->inside(completion);
        std::lock_guard<std::mutex> lock(self->mutex_);
        self->list_.push_back(completion);
        self->changed_.notify_all();
        return 0;
    }
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Completion> list_;
};

inline DmlpAddress Inet(uint16_t kind, uint8_t last, uint16_t port)
{
    DmlpAddress address = {};
    address.kind = kind;
    address.u.inet.address[0] = 127;
    address.u.inet.address[3] = last;
    address.u.inet.port = port;
    return address;
}

inline DmlpEPProperty Property(uint32_t timeout, uint8_t transmissions)
{
    DmlpEPProperty property = {};
    property.timeout = timeout;
    property.transmissions = transmissions;
    return property;
}

// A big-endian field of a frame; 0 when the frame is too short (a send that never came).
inline uint16_t Field16(const Bytes& frame, size_t at)
{
    return frame.size() < at + 2 ? 0 : (uint16_t)(frame[at] << 8 | frame[at + 1]);
}

// A reply to a sent request frame: its method and request id, with status and body.
inline Bytes ReplyTo(const Bytes& request, uint16_t status, const Bytes& body = {}, uint8_t flags = DMLP_FLAG_STATUS)
{
    return Frame(Field16(request, 4), body, status, flags, Field16(request, 6));
}

// A running library over the scriptable transport with the clock standing at kStartTick.
class EngineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        vxfake::Reset();
        vxfake::SetAutoNotices(true);
        VxSrvcTestSetManualClock(kStartTick);
        liveBefore_ = VxSrvcTestLiveBlocks();
        ASSERT_EQ(DMLP_Initialize(DMLP_INTERFACE_VERSION, nullptr, &instance), DMLP_SUCCESS);
    }
    void TearDown() override
    {
        EXPECT_EQ(DMLP_Terminate(instance), DMLP_SUCCESS);
        VxSrvcTestUseRealClock();
        VxSrvcTestSetTickOffset(0);
        EXPECT_EQ(VxSrvcTestLiveBlocks(), liveBefore_) << "every block the library allocated is freed";
    }

    DmlpBinding Bind(uint16_t kind, uint32_t timeout = 5000, uint8_t transmissions = 2, uint8_t last = 9)
    {
        const DmlpAddress peer = Inet(kind, last, 47545);
        const DmlpEPProperty property = Property(timeout, transmissions);
        DmlpBinding binding = nullptr;
        EXPECT_EQ(DMLP_Bind(instance, &peer, nullptr, &property, &binding), DMLP_SUCCESS);
        return binding;
    }
    uint32_t EndpointOf(size_t index) { return vxfake::Endpoints().at(index).handle; }
    // Holds the worker inside the send of an Echo on stopper, a binding of the test's own, until
    // vxfake::ReleaseHeldSend: what is posted meanwhile queues behind it. heldBefore: the sends
    // held so far.
    void HoldWorker(DmlpBinding stopper, Completions& completions, size_t heldBefore = 0)
    {
        vxfake::HoldNextSend();
        const DmlpCallback callback = completions.callback();
        DmlpEchoParams echo = {};
        ASSERT_EQ(DMLP_Echo(DMLP_MODE_ASYNC, &callback, stopper, kObject, &echo, nullptr), DMLP_SUCCESS);
        ASSERT_TRUE(vxfake::WaitForHeldSends(heldBefore + 1, kWaitMs));
    }
    // The transport offers these families too; the library, which asks at its start, restarts.
    void RestartWith(std::initializer_list<uint16_t> families)
    {
        for (uint16_t family : families)
            vxfake::SetAvailable(family, true);
        ASSERT_EQ(DMLP_Terminate(instance), DMLP_SUCCESS);
        ASSERT_EQ(DMLP_Initialize(DMLP_INTERFACE_VERSION, nullptr, &instance), DMLP_SUCCESS);
    }

    // The worker has handled everything posted before, and the steps those posted in turn.
    void Flush()
    {
        DmlpEPProperty property;
        for (int round = 0; round < 4; ++round)
            DMLP_GetEPProperty(DmlpBinding(~0ull), &property);
    }
    Bytes SentAt(size_t index)
    {
        EXPECT_TRUE(vxfake::WaitForSends(index + 1, kWaitMs));
        std::vector<vxfake::Sent> sends = vxfake::Sends();
        return index < sends.size() ? sends[index].data : Bytes();
    }
    // Waits until the deadline of the latest send is armed.
    void WaitArmed(uint32_t timers = 1)
    {
        EXPECT_TRUE(WaitUntil([&] { return VxSrvcTestPendingTimers() >= timers; }));
        Flush();
    }
    void Advance(uint32_t ticks)
    {
        VxSrvcTestAdvanceClock(ticks);
        Flush();
    }

    template <typename F>
    static std::future<uint16_t> InThread(F call)
    {
        return std::async(std::launch::async, call);
    }
    static uint16_t Await(std::future<uint16_t>& call)
    {
        if (call.wait_for(std::chrono::milliseconds(kWaitMs)) != std::future_status::ready) {
            ADD_FAILURE() << "the call did not return";
            return 0;
        }
        return call.get();
    }

    // Recorders live as long as the fixture, so that completions delivered by the stop in
    // TearDown still find theirs.
    Completions& Recorder() { return recorders_.emplace_back(); }

    testsupport::TempRoot root;
    DmlpInstance instance = 0;

private:
    std::deque<Completions> recorders_;
    int64_t liveBefore_ = 0;
};

} // namespace enginetest
