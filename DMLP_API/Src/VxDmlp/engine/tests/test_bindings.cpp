// Bindings: bind checks and failures, the connecting and busy states, the window, and unbinding
// while work is still under way.
#include <string.h>

#include "EngineTesting.h"

namespace enginetest {
namespace {

class Bindings : public EngineTest {};

TEST_F(Bindings, BindChecksItsArguments)
{
    const DmlpAddress udp = Inet(DMLP_ADDRESS_UDP, 9, 47545);
    const DmlpEPProperty property = Property(5000, 2);
    DmlpBinding binding = DmlpBinding(1);
    Completions& completions = Recorder();
    const DmlpCallback callback = completions.callback();
    EXPECT_EQ(DMLP_Bind(instance + 1, &udp, nullptr, &property, &binding), DMLP_BAD_PARAMETER);
    EXPECT_EQ(DMLP_BindAsync(&callback, instance + 1, &udp, nullptr, &property, &binding), DMLP_WRONG_INSTANCE);
    EXPECT_EQ(DMLP_Bind(instance, nullptr, nullptr, &property, &binding), DMLP_BAD_PARAMETER);
    EXPECT_EQ(DMLP_Bind(instance, &udp, nullptr, nullptr, &binding), DMLP_BAD_PARAMETER);
    const DmlpEPProperty none = Property(5000, 0);
    EXPECT_EQ(DMLP_Bind(instance, &udp, nullptr, &none, &binding), DMLP_BAD_PARAMETER);
    const DmlpEPProperty zeroTimeout = Property(0, 1);
    EXPECT_EQ(DMLP_Bind(instance, &udp, nullptr, &zeroTimeout, &binding), DMLP_BAD_PARAMETER);
    const DmlpAddress tcpLocal = Inet(DMLP_ADDRESS_TCP, 1, 0);
    EXPECT_EQ(DMLP_Bind(instance, &udp, &tcpLocal, &property, &binding), DMLP_BAD_PARAMETER);
    for (uint16_t kind : {5, 16}) {
        DmlpAddress odd = udp;
        odd.kind = kind;
        EXPECT_EQ(DMLP_Bind(instance, &odd, nullptr, &property, &binding), DMLP_BAD_PARAMETER) << kind;
    }
    DmlpAddress ipx = {};
    ipx.kind = DMLP_ADDRESS_IPX;
    EXPECT_EQ(DMLP_Bind(instance, &ipx, nullptr, &property, &binding), DMLP_NOT_AVAILABLE) << "no IPX transport";
    DmlpCallback wrongKind = callback;
    wrongKind.kind = 9;
    EXPECT_EQ(DMLP_BindAsync(&wrongKind, instance, &udp, nullptr, &property, &binding), DMLP_BAD_PARAMETER);
    EXPECT_TRUE(vxfake::Endpoints().empty());

    // The asynchronous bind accepts zero transmissions.
    ASSERT_EQ(DMLP_BindAsync(&callback, instance, &udp, nullptr, &none, &binding), DMLP_SUCCESS);
    ASSERT_TRUE(completions.waitFor(1));
    EXPECT_EQ(completions.list()[0].status, DMLP_SUCCESS);
    EXPECT_EQ(completions.list()[0].method, 0);
    EXPECT_EQ(completions.list()[0].binding, binding);
}

TEST_F(Bindings, ConnectionBindingsSendOnceUntilTheCallerAsksForMore)
{
    DmlpBinding tcp = Bind(DMLP_ADDRESS_TCP, 5000, 3);
    DmlpEPProperty property = {};
    ASSERT_EQ(DMLP_GetEPProperty(tcp, &property), DMLP_SUCCESS);
    EXPECT_EQ(property.transmissions, 1);
    property.transmissions = 3;
    ASSERT_EQ(DMLP_SetEPProperty(tcp, &property), DMLP_SUCCESS);
    ASSERT_EQ(DMLP_GetEPProperty(tcp, &property), DMLP_SUCCESS);
    EXPECT_EQ(property.transmissions, 3);
    EXPECT_EQ(DMLP_GetEPProperty(nullptr, &property), DMLP_UNKNOWN_BINDING);
    EXPECT_EQ(DMLP_GetEPProperty(tcp, nullptr), DMLP_BAD_PARAMETER);

    DmlpAddress peer = {}, local = {};
    ASSERT_EQ(DMLP_GetEPAddress(tcp, DMLP_EP_PEER, &peer), DMLP_SUCCESS);
    EXPECT_EQ(peer.kind, DMLP_ADDRESS_TCP);
    EXPECT_EQ(peer.u.inet.port, 47545);
    EXPECT_EQ(peer.u.inet.address[3], 9);
    ASSERT_EQ(DMLP_GetEPAddress(tcp, DMLP_EP_LOCAL, &local), DMLP_SUCCESS);
    EXPECT_EQ(local.kind, DMLP_ADDRESS_TCP);
    EXPECT_EQ(local.u.inet.address[0], 127);
    EXPECT_NE(local.u.inet.port, 0);
    EXPECT_EQ(DMLP_GetEPAddress(tcp, 3, &local), DMLP_BAD_PARAMETER);
    EXPECT_EQ(DMLP_ResizeWindow(tcp, 4), DMLP_UNKNOWN_BINDING) << "connections have no window";
}

TEST_F(Bindings, RefusedBindsLeaveNoBindingBehind)
{
    const DmlpAddress tcp = Inet(DMLP_ADDRESS_TCP, 9, 47545);
    const DmlpEPProperty property = Property(5000, 1);
    const struct {
        int32_t result;
        DmlpStatus status;
    } cases[] = {{VXTRANS_E_REFUSED, DMLP_CONNECTION_REFUSED},
                 {VXTRANS_E_BAD_ADDRESS, DMLP_BAD_PARAMETER},
                 {VXTRANS_E_FAILED, DMLP_TRANSPORT_FAILURE}};
    for (const auto& refusal : cases) {
        vxfake::ScriptResult(vxfake::Call::Open, refusal.result);
        DmlpBinding binding = DmlpBinding(1);
        EXPECT_EQ(DMLP_Bind(instance, &tcp, nullptr, &property, &binding), refusal.status);
        EXPECT_EQ(binding, nullptr) << "a failed bind hands out no handle";
    }

    // Refused at the connect notice: the endpoint is closed and the binding forgotten.
    vxfake::SetAutoNotices(false);
    Completions& completions = Recorder();
    const DmlpCallback callback = completions.callback();
    DmlpBinding connecting = nullptr;
    ASSERT_EQ(DMLP_BindAsync(&callback, instance, &tcp, nullptr, &property, &connecting), DMLP_SUCCESS);
    ASSERT_TRUE(vxfake::WaitForEndpoints(1, kWaitMs));
    DmlpEchoParams echo = {};
    uint8_t result[48];
    EXPECT_EQ(DMLP_Echo(DMLP_MODE_SYNC, nullptr, connecting, kObject, &echo, result), DMLP_CONNECTING);
    vxfake::Notify(EndpointOf(0), VXTRANS_E_REFUSED);
    ASSERT_TRUE(completions.waitFor(1));
    EXPECT_EQ(completions.list()[0].status, DMLP_CONNECTION_REFUSED);
    EXPECT_EQ(vxfake::Closes(), std::vector<uint32_t>{EndpointOf(0)});
    EXPECT_EQ(DMLP_Unbind(connecting), DMLP_UNKNOWN_BINDING);

    // The synchronous bind refused the same way hands back NULL.
    DmlpBinding binding = DmlpBinding(1);
    auto bind = InThread([&] { return DMLP_Bind(instance, &tcp, nullptr, &property, &binding); });
    ASSERT_TRUE(vxfake::WaitForEndpoints(2, kWaitMs));
    EXPECT_TRUE(vxfake::Notify(EndpointOf(1), VXTRANS_E_FAILED));
    EXPECT_EQ(Await(bind), DMLP_TRANSPORT_FAILURE);
    EXPECT_EQ(binding, nullptr);
}

TEST_F(Bindings, UnbindWhileConnectingAnswersTheBindWithClosed)
{
    vxfake::SetAutoNotices(false);
    const DmlpAddress tcp = Inet(DMLP_ADDRESS_TCP, 9, 47545);
    const DmlpEPProperty property = Property(5000, 1);
    Completions& completions = Recorder();
    const DmlpCallback callback = completions.callback();
    DmlpBinding binding = nullptr;
    ASSERT_EQ(DMLP_BindAsync(&callback, instance, &tcp, nullptr, &property, &binding), DMLP_SUCCESS);
    ASSERT_TRUE(vxfake::WaitForEndpoints(1, kWaitMs));
    EXPECT_EQ(DMLP_Unbind(binding), DMLP_SUCCESS);
    ASSERT_EQ(completions.size(), 1u) << "answered before the unbind returned";
    EXPECT_EQ(completions.list()[0].status, DMLP_BINDING_CLOSED);
    EXPECT_FALSE(vxfake::Notify(EndpointOf(0), VXTRANS_NOTICE_CONNECTED)) << "the endpoint is closed";

    // A synchronous bind is released the same way and hands back NULL.
    DmlpBinding waiting = nullptr;
    auto bind = InThread([&] { return DMLP_Bind(instance, &tcp, nullptr, &property, &waiting); });
    ASSERT_TRUE(vxfake::WaitForEndpoints(2, kWaitMs));
    const DmlpBinding pending = waiting;
    ASSERT_NE(pending, nullptr) << "the handle is written before the bind waits";
    EXPECT_EQ(DMLP_Unbind(pending), DMLP_SUCCESS);
    EXPECT_EQ(Await(bind), DMLP_BINDING_CLOSED);
    EXPECT_EQ(waiting, nullptr);
}

TEST_F(Bindings, TheWindowLimitsRequestsInFlightAndCanBeResized)
{
    DmlpBinding binding = Bind(DMLP_ADDRESS_UDP, 60000, 1);
    const uint32_t endpoint = EndpointOf(0);
    Completions& completions = Recorder();
    const DmlpCallback callback = completions.callback();
    DmlpEchoParams echo = {};
    for (int i = 0; i < 10; ++i)
        ASSERT_EQ(DMLP_Echo(DMLP_MODE_ASYNC, &callback, binding, kObject, &echo, nullptr), DMLP_SUCCESS);
    SentAt(7);
    Flush();
    EXPECT_EQ(vxfake::Sends().size(), 8u) << "the default window is 8";

    EXPECT_EQ(DMLP_ResizeWindow(binding, 7), DMLP_NOT_AVAILABLE) << "8 in flight";
    vxfake::Receive(endpoint, ReplyTo(SentAt(0), 40));
    SentAt(8);
    Flush();
    EXPECT_EQ(vxfake::Sends().size(), 9u) << "one answer lets one more out";

    EXPECT_EQ(DMLP_ResizeWindow(binding, 9), DMLP_SUCCESS) << "a full window that grows resumes sending";
    SentAt(9);
    for (size_t i = 1; i < 5; ++i)
        vxfake::Receive(endpoint, ReplyTo(SentAt(i), 40));
    ASSERT_TRUE(completions.waitFor(5));
    // Five in flight (sends 5 to 9).
    EXPECT_EQ(DMLP_ResizeWindow(binding, 4), DMLP_NOT_AVAILABLE);
    EXPECT_EQ(DMLP_ResizeWindow(binding, 6), DMLP_SUCCESS);
    EXPECT_EQ(DMLP_ResizeWindow(binding, 0), DMLP_NOT_AVAILABLE) << "0 becomes 1";
    EXPECT_EQ(DMLP_ResizeWindow(binding, 1000), DMLP_SUCCESS) << "above 32 becomes 32";
    EXPECT_EQ(DMLP_ResizeWindow(nullptr, 4), DMLP_BAD_PARAMETER);
    for (size_t i = 5; i < 10; ++i)
        vxfake::Receive(endpoint, ReplyTo(SentAt(i), 40));
    ASSERT_TRUE(completions.waitFor(10));
    completions.release();
}

TEST_F(Bindings, ABusyBindingHoldsRequestsUntilTheTransportIsWritable)
{
    DmlpBinding binding = Bind(DMLP_ADDRESS_UDP, 60000, 1);
    const uint32_t endpoint = EndpointOf(0);
    Completions& completions = Recorder();
    const DmlpCallback callback = completions.callback();
    DmlpEchoParams echo = {};
    vxfake::ScriptResult(vxfake::Call::Send, VXTRANS_E_WOULD_BLOCK);
    ASSERT_EQ(DMLP_Echo(DMLP_MODE_ASYNC, &callback, binding, kObject, &echo, nullptr), DMLP_SUCCESS);
    Flush();
    EXPECT_TRUE(vxfake::Sends().empty());
    ASSERT_EQ(DMLP_Echo(DMLP_MODE_ASYNC, &callback, binding, kObject, &echo, nullptr), DMLP_SUCCESS);
    ASSERT_TRUE(completions.waitFor(1));
    EXPECT_EQ(completions.list()[0].status, DMLP_BUSY);

    vxfake::Notify(endpoint, VXTRANS_NOTICE_WRITABLE);
    const Bytes first = SentAt(0);
    vxfake::Receive(endpoint, ReplyTo(first, 40));
    ASSERT_TRUE(completions.waitFor(2));
    EXPECT_EQ(completions.list()[1].status, 40);
    completions.release();
}

TEST_F(Bindings, AFailedSendFreesItsWindowSlot)
{
    DmlpBinding binding = Bind(DMLP_ADDRESS_UDP, 60000, 1);
    ASSERT_EQ(DMLP_ResizeWindow(binding, 1), DMLP_SUCCESS);
    Completions& completions = Recorder();
    const DmlpCallback callback = completions.callback();
    DmlpEchoParams echo = {};
    vxfake::ScriptResult(vxfake::Call::Send, VXTRANS_E_FAILED);
    ASSERT_EQ(DMLP_Echo(DMLP_MODE_ASYNC, &callback, binding, kObject, &echo, nullptr), DMLP_SUCCESS);
    ASSERT_TRUE(completions.waitFor(1));
    EXPECT_EQ(completions.list()[0].status, DMLP_TRANSPORT_FAILURE);
    ASSERT_EQ(DMLP_Echo(DMLP_MODE_ASYNC, &callback, binding, kObject, &echo, nullptr), DMLP_SUCCESS);
    vxfake::Receive(EndpointOf(0), ReplyTo(SentAt(0), 40));
    ASSERT_TRUE(completions.waitFor(2)) << "the window of one is free again";
    completions.release();
}

TEST_F(Bindings, UnbindWithChunkStepsStillScheduledFreesEverything)
{
    DmlpBinding binding = Bind(DMLP_ADDRESS_TCP, 60000, 1);
    std::vector<uint8_t> data(200000, 0x5A);
    DmlpSendParams send = {};
    send.kind = 1;
    send.length = (uint32_t)data.size();
    send.data = data.data();
    Completions& completions = Recorder();
    const DmlpCallback callback = completions.callback();
    vxfake::SetAutoNotices(false);
    ASSERT_EQ(DMLP_Send(DMLP_MODE_ASYNC, &callback, binding, kObject, &send, nullptr), DMLP_SUCCESS);
    SentAt(0);
    EXPECT_EQ(DMLP_Unbind(binding), DMLP_SUCCESS);
    ASSERT_EQ(completions.size(), 1u);
    EXPECT_EQ(completions.list()[0].status, DMLP_BINDING_CLOSED);
    Flush();
    EXPECT_EQ(vxfake::Sends().size(), 1u);
}

// The device may answer before the transport confirms the send. The answered request is dropped,
// but its send stays in flight: the next request waits for the confirmation, even when the freed
// window slot resumes the pump at once.
TEST_F(Bindings, AnAnswerBeforeTheSendIsConfirmedKeepsTheNextRequestWaiting)
{
    DmlpBinding binding = Bind(DMLP_ADDRESS_UDP, 60000, 1);
    ASSERT_EQ(DMLP_ResizeWindow(binding, 1), DMLP_SUCCESS);
    vxfake::SetAutoNotices(false);
    const uint32_t endpoint = EndpointOf(0);
    Completions& completions = Recorder();
    const DmlpCallback callback = completions.callback();
    DmlpDeleteParams cancel = {};
    ASSERT_EQ(DMLP_CancelJob(DMLP_MODE_ASYNC, &callback, binding, kObject, &cancel, nullptr), DMLP_SUCCESS);
    const Bytes first = SentAt(0);
    ASSERT_EQ(DMLP_CancelJob(DMLP_MODE_ASYNC, &callback, binding, kObject, &cancel, nullptr), DMLP_SUCCESS);
    Flush();
    ASSERT_EQ(vxfake::Sends().size(), 1u) << "the window of one is full";

    vxfake::Receive(endpoint, ReplyTo(first, 1, Wire().u32(1)));
    ASSERT_TRUE(completions.waitFor(1));
    Flush();
    EXPECT_EQ(vxfake::Sends().size(), 1u) << "the first send is still in flight";
    vxfake::NotifySent(endpoint);
    const Bytes second = SentAt(1);
    EXPECT_NE(Field16(second, 6), Field16(first, 6));
    vxfake::NotifySent(endpoint);
    Flush();
    vxfake::Receive(endpoint, ReplyTo(second, 1, Wire().u32(2)));
    ASSERT_TRUE(completions.waitFor(2));
    EXPECT_EQ(completions.list()[1].status, DMLP_SUCCESS);
    completions.release();
}

// Work the worker queued for itself (a raw data chunk, a resume of the pump, a send completion)
// may run after the binding was unbound: each finds the binding gone and frees only itself.
TEST_F(Bindings, StepsQueuedForABindingThatIsUnboundMeanwhileFindItGone)
{
    DmlpBinding stopper = Bind(DMLP_ADDRESS_UDP, 60000, 1, 20);
    DmlpBinding raw = Bind(DMLP_ADDRESS_TCP, 60000, 1, 21);
    DmlpBinding windowed = Bind(DMLP_ADDRESS_UDP, 60000, 1, 22);
    DmlpBinding sending = Bind(DMLP_ADDRESS_UDP, 60000, 1, 23);
    vxfake::SetAutoNotices(false);
    ASSERT_EQ(DMLP_ResizeWindow(windowed, 1), DMLP_SUCCESS);
    Completions& requests = Recorder();
    Completions& unbinds = Recorder();
    const DmlpCallback requestDone = requests.callback();
    const DmlpCallback unbindDone = unbinds.callback();
    DmlpDeleteParams cancel = {};
    // windowed: one request fills the window of one, a second waits for a slot.
    ASSERT_EQ(DMLP_CancelJob(DMLP_MODE_ASYNC, &requestDone, windowed, kObject, &cancel, nullptr), DMLP_SUCCESS);
    const Bytes answered = SentAt(0);
    vxfake::NotifySent(EndpointOf(2));
    ASSERT_EQ(DMLP_CancelJob(DMLP_MODE_ASYNC, &requestDone, windowed, kObject, &cancel, nullptr), DMLP_SUCCESS);
    // sending: a request whose send is not confirmed yet.
    ASSERT_EQ(DMLP_CancelJob(DMLP_MODE_ASYNC, &requestDone, sending, kObject, &cancel, nullptr), DMLP_SUCCESS);
    SentAt(1);
    Flush();

    // The worker is held inside a send; behind it queue what schedules each step, each followed
    // by the unbind of its binding.
    HoldWorker(stopper, requests);
    std::vector<uint8_t> data(100000, 0x5A);
    DmlpSendParams send = {};
    send.kind = 1;
    send.length = (uint32_t)data.size();
    send.data = data.data();
    ASSERT_EQ(DMLP_Send(DMLP_MODE_ASYNC, &requestDone, raw, kObject, &send, nullptr), DMLP_SUCCESS);
    ASSERT_EQ(DMLP_UnbindAsync(&unbindDone, raw), DMLP_SUCCESS);
    vxfake::Receive(EndpointOf(2), ReplyTo(answered, 1, Wire().u32(1)));
    ASSERT_EQ(DMLP_UnbindAsync(&unbindDone, windowed), DMLP_SUCCESS);
    vxfake::NotifySent(EndpointOf(3));
    ASSERT_EQ(DMLP_UnbindAsync(&unbindDone, sending), DMLP_SUCCESS);
    vxfake::ReleaseHeldSend();

    ASSERT_TRUE(unbinds.waitFor(3));
    ASSERT_TRUE(requests.waitFor(4));
    Flush();
    for (const Completion& unbind : unbinds.list())
        EXPECT_EQ(unbind.status, DMLP_SUCCESS);
    int closed = 0, answeredOnce = 0;
    for (const Completion& request : requests.list()) {
        closed += request.status == DMLP_BINDING_CLOSED;
        answeredOnce += request.status == DMLP_SUCCESS;
    }
    EXPECT_EQ(closed, 3) << "the raw send, the request waiting for a slot, the unconfirmed one";
    EXPECT_EQ(answeredOnce, 1);
    EXPECT_EQ(requests.size(), 4u) << "the stopper's request still waits for its reply";
    ASSERT_EQ(vxfake::Sends().size(), 3u) << "only the stopper's request went out after the hold";
    EXPECT_EQ(vxfake::Sends()[2].endpoint, EndpointOf(0));
    requests.release();
}

TEST_F(Bindings, AStaleHandleNamesNoLaterBinding)
{
    DmlpBinding first = Bind(DMLP_ADDRESS_UDP);
    ASSERT_EQ(DMLP_Unbind(first), DMLP_SUCCESS);
    DmlpBinding second = Bind(DMLP_ADDRESS_UDP);
    EXPECT_NE(second, first);
    DmlpEPProperty property;
    EXPECT_EQ(DMLP_GetEPProperty(first, &property), DMLP_UNKNOWN_BINDING);
    EXPECT_EQ(DMLP_Unbind(first), DMLP_UNKNOWN_BINDING);

    // Nor across a restart of the library.
    ASSERT_EQ(DMLP_Terminate(instance), DMLP_SUCCESS);
    ASSERT_EQ(DMLP_Initialize(DMLP_INTERFACE_VERSION, nullptr, &instance), DMLP_SUCCESS);
    DmlpBinding third = Bind(DMLP_ADDRESS_UDP);
    EXPECT_NE(third, first);
    EXPECT_NE(third, second);
    EXPECT_EQ(DMLP_GetEPProperty(first, &property), DMLP_UNKNOWN_BINDING);
    EXPECT_EQ(DMLP_GetEPProperty(second, &property), DMLP_UNKNOWN_BINDING);
    EXPECT_EQ(DMLP_GetEPProperty(third, &property), DMLP_SUCCESS);
}

TEST_F(Bindings, AsynchronousRequestsWithoutCallbackOnAConnectionWantNoReply)
{
    DmlpBinding binding = Bind(DMLP_ADDRESS_TCP, 60000, 1);
    vxfake::SetAutoNotices(false);
    DmlpDeleteParams cancel = {};
    ASSERT_EQ(DMLP_CancelJob(DMLP_MODE_ASYNC, nullptr, binding, kObject, &cancel, nullptr), DMLP_SUCCESS);
    const Bytes sent = SentAt(0);
    EXPECT_EQ(sent[3], 0);
    vxfake::NotifySent(EndpointOf(0));
    Flush();
    EXPECT_EQ(VxSrvcTestPendingTimers(), 0u) << "no deadline for a request that wants no reply";
}

// A raw chunk held while the binding is busy goes out once it is writable, even when a resend
// without the hold flag met the busy binding in between.
TEST_F(Bindings, AHeldRawChunkSurvivesABusyResendAttempt)
{
    DmlpBinding binding = Bind(DMLP_ADDRESS_TCP, 1000, 1);
    const DmlpEPProperty twice = Property(1000, 2);
    ASSERT_EQ(DMLP_SetEPProperty(binding, &twice), DMLP_SUCCESS);
    vxfake::SetAutoNotices(false);
    const uint32_t endpoint = EndpointOf(0);
    Completions& completions = Recorder();
    const DmlpCallback callback = completions.callback();
    DmlpDeleteParams cancel = {};
    ASSERT_EQ(DMLP_CancelJob(DMLP_MODE_ASYNC, &callback, binding, kObject, &cancel, nullptr), DMLP_SUCCESS);
    SentAt(0);
    vxfake::NotifySent(endpoint);
    Flush();
    std::vector<uint8_t> data(100000, 0x42);
    DmlpSendParams send = {};
    send.kind = 1;
    send.length = (uint32_t)data.size();
    send.data = data.data();
    ASSERT_EQ(DMLP_Send(DMLP_MODE_ASYNC, &callback, binding, kObject, &send, nullptr), DMLP_SUCCESS);
    SentAt(1);
    ASSERT_EQ(DMLP_CancelJob(DMLP_MODE_ASYNC, &callback, binding, kObject, &cancel, nullptr), DMLP_SUCCESS);
    Flush();
    // The first chunk goes out; the request behind it meets a full socket, so the second chunk is
    // held for the writable notice.
    vxfake::ScriptResult(vxfake::Call::Send, VXTRANS_E_WOULD_BLOCK);
    vxfake::NotifySent(endpoint);
    Flush();
    Advance(1000);
    EXPECT_EQ(vxfake::Sends().size(), 2u) << "the first request's resend waits: the binding is busy";
    vxfake::Notify(endpoint, VXTRANS_NOTICE_WRITABLE);
    EXPECT_EQ(Field16(SentAt(2), 4), 31);
    vxfake::NotifySent(endpoint);
    Flush();
    const Bytes chunk = SentAt(3);
    ASSERT_EQ(chunk.size(), 21u + 100000u - 65514u) << "the held chunk went out";
    EXPECT_EQ(Field16(chunk, 4), 26);
    EXPECT_EQ(chunk[3], DMLP_FLAG_REPLY_WANTED);
}

// A kind-11 binding has no time-out: an unanswered request ends with success 2 ticks after it went.
TEST_F(Bindings, Kind11BindingsNeedTimeOutZeroAndEndUnansweredRequestsWithSuccess)
{
    RestartWith({VXTRANS_FAMILY_9A21});
    DmlpAddress peer = {};
    peer.kind = DMLP_ADDRESS_9A21;
    peer.u.family9A21.address = 0x0807060504030201ull;
    DmlpBinding binding = nullptr;
    const DmlpEPProperty timed = Property(5000, 1);
    EXPECT_EQ(DMLP_Bind(instance, &peer, nullptr, &timed, &binding), DMLP_BAD_PARAMETER);
    const DmlpEPProperty untimed = Property(0, 1);
    ASSERT_EQ(DMLP_Bind(instance, &peer, nullptr, &untimed, &binding), DMLP_SUCCESS);
    const vxfake::Endpoint endpoint = vxfake::Endpoints().at(0);
    EXPECT_EQ(endpoint.pair.protocol, 0xC601u);
    EXPECT_EQ(endpoint.pair.peer.family, VXTRANS_FAMILY_9A21);
    EXPECT_EQ(endpoint.pair.peer.bytes[6], 1) << "the address at +8 of the transport form";
    Completions& completions = Recorder();
    const DmlpCallback callback = completions.callback();
    DmlpEchoParams echo = {};
    ASSERT_EQ(DMLP_Echo(DMLP_MODE_ASYNC, &callback, binding, kObject, &echo, nullptr), DMLP_SUCCESS);
    SentAt(0);
    WaitArmed();
    Advance(2);
    ASSERT_TRUE(completions.waitFor(1));
    EXPECT_EQ(completions.list()[0].status, DMLP_SUCCESS);
    EXPECT_EQ(completions.list()[0].tick, kStartTick + 2);
}

} // namespace
} // namespace enginetest
