// Library start and stop: the user count, the instance, failed starts, concurrent starts, and the
// release of callers still waiting when the library stops.
#include "EngineTesting.h"

namespace enginetest {
namespace {

DmlpStatus ProbeWorker()
{
    DmlpEPProperty property;
    return DMLP_GetEPProperty(DmlpBinding(~0ull), &property);
}

class StartStop : public ::testing::Test {
protected:
    void SetUp() override
    {
        vxfake::Reset();
        vxfake::SetAutoNotices(true);
        liveBefore = VxSrvcTestLiveBlocks();
    }
    void TearDown() override { EXPECT_EQ(VxSrvcTestLiveBlocks(), liveBefore); }
    testsupport::TempRoot root;
    int64_t liveBefore = 0;
};

TEST_F(StartStop, UsersShareOneStartAndTheLastStopEndsIt)
{
    DmlpInstance first = 0, second = 0;
    EXPECT_EQ(DMLP_Initialize(15, nullptr, &first), DMLP_NOT_AVAILABLE);
    EXPECT_EQ(DMLP_Initialize(DMLP_INTERFACE_VERSION, nullptr, nullptr), DMLP_BAD_PARAMETER);
    EXPECT_EQ(ProbeWorker(), DMLP_NOT_AVAILABLE) << "before the start";

    ASSERT_EQ(DMLP_Initialize(DMLP_INTERFACE_VERSION, nullptr, &first), DMLP_SUCCESS);
    EXPECT_NE(first, 0u);
    ASSERT_EQ(DMLP_Initialize(DMLP_INTERFACE_VERSION, nullptr, &second), DMLP_SUCCESS);
    EXPECT_EQ(second, first);
    EXPECT_EQ(DMLP_Terminate(first + 1), DMLP_WRONG_INSTANCE);
    EXPECT_EQ(DMLP_Terminate(first), DMLP_SUCCESS);
    EXPECT_EQ(ProbeWorker(), DMLP_UNKNOWN_BINDING) << "one user is left: the worker runs";
    EXPECT_EQ(DMLP_Terminate(first), DMLP_SUCCESS);
    EXPECT_EQ(ProbeWorker(), DMLP_NOT_AVAILABLE);
    EXPECT_EQ(DMLP_Terminate(first), DMLP_SUCCESS) << "a count of 0 stays 0";

    uint8_t result[48];
    memset(result, 0xAB, sizeof result);
    DmlpEchoParams echo = {};
    EXPECT_EQ(DMLP_Echo(DMLP_MODE_SYNC, nullptr, DmlpBinding(1), kObject, &echo, result), DMLP_NOT_AVAILABLE);
    EXPECT_EQ(result[0], 0) << "the result is zeroed first";
    const DmlpAddress peer = Inet(DMLP_ADDRESS_UDP, 9, 47545);
    const DmlpEPProperty property = Property(5000, 1);
    DmlpBinding binding = nullptr;
    EXPECT_EQ(DMLP_Bind(first, &peer, nullptr, &property, &binding), DMLP_NOT_AVAILABLE);
    EXPECT_EQ(DMLP_Unbind(DmlpBinding(1)), DMLP_NOT_AVAILABLE);
    EXPECT_TRUE(vxfake::Endpoints().empty()) << "nothing reached the transport";
}

TEST_F(StartStop, AStartWhoseThreadDoesNotAnswerIsRolledBackAndALaterStartBeginsAfresh)
{
    const uint32_t threadsBefore = VxSrvcTestMsgThreads();
    VxSrvcTestHoldNewThreads();
    DmlpInstance instance = 0;
    EXPECT_EQ(DMLP_Initialize(DMLP_INTERFACE_VERSION, nullptr, &instance), DMLP_INTERNAL_FAILURE);
    EXPECT_EQ(VxSrvcTestMsgThreads(), threadsBefore) << "the thread that did not answer is ended";
    EXPECT_EQ(VxSrvcTestStarted(), 0) << "the runtime is cleaned up";
    VxSrvcTestReleaseHeldThreads();
    EXPECT_EQ(ProbeWorker(), DMLP_NOT_AVAILABLE);
    EXPECT_EQ(VxSrvcTestLiveBlocks(), liveBefore) << "the abandoned start record is freed";
    EXPECT_EQ(vxfake::Released().size(), 1u) << "the transport family taken at the start is released";

    ASSERT_EQ(DMLP_Initialize(DMLP_INTERFACE_VERSION, nullptr, &instance), DMLP_SUCCESS);
    EXPECT_NE(instance, 0u);
    EXPECT_EQ(ProbeWorker(), DMLP_UNKNOWN_BINDING);
    EXPECT_EQ(DMLP_Terminate(instance), DMLP_SUCCESS) << "the count started again from 0";
    EXPECT_EQ(ProbeWorker(), DMLP_NOT_AVAILABLE);
}

// A second user arriving while the first start waits for its threads waits for that start:
// it never gets an instance whose worker is not running yet.
TEST_F(StartStop, AStartInProgressHoldsBackTheNextUser)
{
    VxSrvcTestHoldNewThreads();
    DmlpInstance first = 0, second = 0;
    auto starting = std::async(std::launch::async,
                               [&] { return DMLP_Initialize(DMLP_INTERFACE_VERSION, nullptr, &first); });
    ASSERT_TRUE(WaitUntil([] { return VxSrvcTestMsgThreads() > 0; })) << "the first start made its worker";
    auto joining = std::async(std::launch::async, [&] {
        const DmlpStatus status = DMLP_Initialize(DMLP_INTERFACE_VERSION, nullptr, &second);
        return std::make_pair(status, ProbeWorker());
    });
    joining.wait_for(std::chrono::milliseconds(200));
    VxSrvcTestReleaseHeldThreads();
    ASSERT_EQ(starting.wait_for(std::chrono::milliseconds(kWaitMs)), std::future_status::ready);
    ASSERT_EQ(joining.wait_for(std::chrono::milliseconds(kWaitMs)), std::future_status::ready);
    EXPECT_EQ(starting.get(), DMLP_SUCCESS);
    const auto [status, probe] = joining.get();
    EXPECT_EQ(status, DMLP_SUCCESS);
    EXPECT_EQ(probe, DMLP_UNKNOWN_BINDING) << "the worker was running when the second start returned";
    EXPECT_EQ(second, first);
    EXPECT_NE(first, 0u);
    EXPECT_EQ(DMLP_Terminate(first), DMLP_SUCCESS);
    EXPECT_EQ(DMLP_Terminate(first), DMLP_SUCCESS);
    EXPECT_EQ(ProbeWorker(), DMLP_NOT_AVAILABLE);
}

TEST_F(StartStop, ConcurrentStartsAndStopsLeaveOneConsistentLibrary)
{
    for (int round = 0; round < 3; ++round) {
        std::vector<std::future<DmlpInstance>> starts;
        for (int i = 0; i < 6; ++i)
            starts.push_back(std::async(std::launch::async, [] {
                DmlpInstance instance = 0;
                return DMLP_Initialize(DMLP_INTERFACE_VERSION, nullptr, &instance) == DMLP_SUCCESS ? instance : 0;
            }));
        std::vector<DmlpInstance> instances;
        for (auto& start : starts)
            instances.push_back(start.get());
        for (DmlpInstance instance : instances)
            EXPECT_EQ(instance, instances[0]);
        ASSERT_NE(instances[0], 0u);
        EXPECT_EQ(ProbeWorker(), DMLP_UNKNOWN_BINDING);
        std::vector<std::future<DmlpStatus>> stops;
        for (DmlpInstance instance : instances)
            stops.push_back(std::async(std::launch::async, [instance] { return DMLP_Terminate(instance); }));
        for (auto& stop : stops)
            EXPECT_EQ(stop.get(), DMLP_SUCCESS);
        EXPECT_EQ(ProbeWorker(), DMLP_NOT_AVAILABLE);
    }
}

class Stopping : public EngineTest {};

TEST_F(Stopping, StopReleasesWaitingCallersAndDeliversPendingCompletionsFirst)
{
    DmlpBinding binding = Bind(DMLP_ADDRESS_UDP, 60000, 1);
    Completions& completions = Recorder();
    const DmlpCallback callback = completions.callback();
    DmlpEchoParams echo = {};
    ASSERT_EQ(DMLP_Echo(DMLP_MODE_ASYNC, &callback, binding, kObject, &echo, nullptr), DMLP_SUCCESS);
    uint8_t result[48];
    auto waiting = InThread([&] { return DMLP_Echo(DMLP_MODE_SYNC, nullptr, binding, kObject, &echo, result); });
    SentAt(1);

    EXPECT_EQ(DMLP_Terminate(instance), DMLP_SUCCESS);
    EXPECT_EQ(Await(waiting), DMLP_BINDING_CLOSED);
    ASSERT_EQ(completions.size(), 1u) << "delivered before the stop returned";
    EXPECT_EQ(completions.list()[0].status, DMLP_BINDING_CLOSED);
    EXPECT_EQ(completions.list()[0].method, 1);
    EXPECT_EQ(vxfake::Closes().size(), 1u);
    ASSERT_EQ(DMLP_Initialize(DMLP_INTERFACE_VERSION, nullptr, &instance), DMLP_SUCCESS);
}

// Asynchronous requests posted while DMLP_Terminate runs: each accepted one is called back once
// (21 from the stop), the rest are refused with 2, and no encoded request is left behind.
TEST_F(Stopping, EveryRequestAcceptedWhileTheStopIsQueuedIsCalledBack)
{
    DmlpBinding stopper = Bind(DMLP_ADDRESS_UDP, 60000, 1, 8);
    DmlpBinding binding = Bind(DMLP_ADDRESS_UDP, 60000, 1);
    Completions& held = Recorder();
    HoldWorker(stopper, held);
    Completions& completions = Recorder();
    const DmlpCallback callback = completions.callback();
    DmlpEchoParams echo = {};
    size_t accepted = 0;
    DmlpStatus refused = DMLP_SUCCESS;
    const auto post = [&] {
        refused = DMLP_Echo(DMLP_MODE_ASYNC, &callback, binding, kObject, &echo, nullptr);
        accepted += refused == DMLP_SUCCESS ? 1 : 0;
        return refused != DMLP_SUCCESS;
    };
    // The worker is held: posts queue until the stop is posted, and none may queue behind it.
    for (int i = 0; i < 200; ++i)
        post();
    EXPECT_EQ(accepted, 200u) << "the stop is not started yet";
    auto stop = InThread([&] { return DMLP_Terminate(instance); });
    // Posts go on beside the stop until one is refused: that one is behind the queued stop.
    EXPECT_TRUE(WaitUntil(post));
    EXPECT_EQ(refused, DMLP_NOT_AVAILABLE) << "posts behind the stop are refused";
    vxfake::ReleaseHeldSend();
    EXPECT_EQ(Await(stop), DMLP_SUCCESS);
    EXPECT_EQ(completions.size(), accepted);
    for (const Completion& completion : completions.list())
        EXPECT_EQ(completion.status, DMLP_BINDING_CLOSED);
    ASSERT_EQ(held.size(), 1u);
    EXPECT_EQ(held.list()[0].status, DMLP_BINDING_CLOSED);
    ASSERT_EQ(DMLP_Initialize(DMLP_INTERFACE_VERSION, nullptr, &instance), DMLP_SUCCESS);
}

// Many threads bind, post asynchronous and synchronous calls and unbind while the library stops:
// the callbacks match the accepted posts.
TEST_F(Stopping, StopUnderLoadAnswersEveryAcceptedPost)
{
    Completions& completions = Recorder();
    const DmlpCallback callback = completions.callback();
    std::atomic<size_t> accepted{0};
    std::vector<std::future<uint16_t>> threads;
    for (uint8_t t = 0; t < 8; ++t) {
        threads.push_back(InThread([&, t] {
            const DmlpAddress peer = Inet(DMLP_ADDRESS_UDP, (uint8_t)(10 + t), 47545);
            const DmlpEPProperty property = Property(60000, 1);
            DmlpEchoParams echo = {};
            for (;;) {
                DmlpBinding binding = nullptr;
                if (DMLP_Bind(instance, &peer, nullptr, &property, &binding) != DMLP_SUCCESS)
                    return (uint16_t)0;
                for (int i = 0; i < 3; ++i) {
                    if (DMLP_Echo(DMLP_MODE_ASYNC, &callback, binding, kObject, &echo, nullptr) == DMLP_SUCCESS)
                        ++accepted;
                }
                DmlpEPProperty readBack;
                DMLP_GetEPProperty(binding, &readBack);
                DMLP_Unbind(binding);
            }
        }));
    }
    EXPECT_TRUE(WaitUntil([&] { return accepted.load() >= 600; }));
    EXPECT_EQ(DMLP_Terminate(instance), DMLP_SUCCESS);
    for (auto& thread : threads)
        Await(thread);
    EXPECT_EQ(completions.size(), accepted.load());
    ASSERT_EQ(DMLP_Initialize(DMLP_INTERFACE_VERSION, nullptr, &instance), DMLP_SUCCESS);
}

TEST_F(Stopping, StopAnswersASynchronousBindStillConnectingWith21)
{
    vxfake::SetAutoNotices(false);
    const DmlpAddress tcp = Inet(DMLP_ADDRESS_TCP, 9, 47545);
    const DmlpEPProperty property = Property(5000, 1);
    DmlpBinding waiting = nullptr;
    auto bind = InThread([&] { return DMLP_Bind(instance, &tcp, nullptr, &property, &waiting); });
    ASSERT_TRUE(vxfake::WaitForEndpoints(1, kWaitMs));
    EXPECT_EQ(DMLP_Terminate(instance), DMLP_SUCCESS);
    EXPECT_EQ(Await(bind), DMLP_BINDING_CLOSED);
    EXPECT_EQ(waiting, nullptr);
    ASSERT_EQ(DMLP_Initialize(DMLP_INTERFACE_VERSION, nullptr, &instance), DMLP_SUCCESS);
}

TEST_F(Stopping, UnbindReturnsOnlyAfterTheCallbacksPostedBeforeIt)
{
    DmlpBinding binding = Bind(DMLP_ADDRESS_UDP, 60000, 1);
    Completions& completions = Recorder();
    std::atomic<bool> release{false};
    completions.inside = [&](const Completion&) {
        // A slow callback: the unbind must still wait for it.
        WaitUntil([&] { return release.load(); }, 2000);
    };
    const DmlpCallback callback = completions.callback();
    DmlpEchoParams echo = {};
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(DMLP_Echo(DMLP_MODE_ASYNC, &callback, binding, kObject, &echo, nullptr), DMLP_SUCCESS);
    SentAt(2);
    auto unbind = InThread([&] { return DMLP_Unbind(binding); });
    EXPECT_EQ(unbind.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
    release = true;
    EXPECT_EQ(Await(unbind), DMLP_SUCCESS);
    ASSERT_EQ(completions.size(), 3u);
    for (const Completion& completion : completions.list())
        EXPECT_EQ(completion.status, DMLP_BINDING_CLOSED);
    EXPECT_EQ(DMLP_Unbind(binding), DMLP_UNKNOWN_BINDING) << "a handle is never reused";
}

TEST_F(Stopping, CallbacksRunOneAtATimeInTheOrderTheRepliesCame)
{
    DmlpBinding binding = Bind(DMLP_ADDRESS_UDP, 60000, 1);
    Completions& completions = Recorder();
    const DmlpCallback callback = completions.callback();
    DmlpEchoParams echo = {};
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(DMLP_Echo(DMLP_MODE_ASYNC, &callback, binding, kObject, &echo, nullptr), DMLP_SUCCESS);
    const Bytes first = SentAt(0), second = SentAt(1), third = SentAt(2);
    const uint32_t endpoint = EndpointOf(0);
    vxfake::Receive(endpoint, ReplyTo(third, 40));
    vxfake::Receive(endpoint, ReplyTo(first, 41));
    vxfake::Receive(endpoint, ReplyTo(second, 42));
    ASSERT_TRUE(completions.waitFor(3));
    const std::vector<Completion> list = completions.list();
    EXPECT_EQ(list[0].status, 40);
    EXPECT_EQ(list[1].status, 41);
    EXPECT_EQ(list[2].status, 42);
    completions.release();
}

TEST_F(Stopping, WaitingExportsOnTheNotificationThreadAreRefused)
{
    DmlpBinding binding = Bind(DMLP_ADDRESS_UDP, 60000, 1);
    Completions& completions = Recorder();
    std::atomic<uint16_t> inner{0}, terminate{0};
    completions.inside = [&](const Completion&) {
        DmlpEPProperty property;
        inner = DMLP_GetEPProperty(binding, &property);
        terminate = DMLP_Terminate(instance);
    };
    const DmlpCallback callback = completions.callback();
    DmlpEchoParams echo = {};
    ASSERT_EQ(DMLP_Echo(DMLP_MODE_ASYNC, &callback, binding, kObject, &echo, nullptr), DMLP_SUCCESS);
    vxfake::Receive(EndpointOf(0), ReplyTo(SentAt(0), 40));
    ASSERT_TRUE(completions.waitFor(1));
    EXPECT_EQ(inner.load(), DMLP_INTERNAL_FAILURE);
    EXPECT_EQ(terminate.load(), DMLP_INTERNAL_FAILURE) << "the library keeps running";
    EXPECT_EQ(ProbeWorker(), DMLP_UNKNOWN_BINDING);
    completions.release();
}

} // namespace
} // namespace enginetest
