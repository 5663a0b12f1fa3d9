// Event ports and subscriptions on the scriptable transport: the port search, the registration
// bytes the device gets, each refusal, renewal, unsubscribing, unbind and stop during a
// subscribe, and the dispatch of notifications to the callbacks.
#include <string.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "DmlpEngine.h"
#include "EngineTesting.h"

namespace enginetest {
namespace {

const uint16_t kJobEvents[] = {154, 18};

// Records the events of a callback; each block is released when taken.
class Events {
public:
    struct Seen {
        DmlpAddress sender;
        uint32_t reference;
        std::vector<uint16_t> ids;
    };
    DmlpCallback callback()
    {
        DmlpCallback record = {};
        record.kind = DMLP_CALLBACK_KIND;
        record.function.event = &Events::Record;
        record.context = this;
        return record;
    }
    bool waitFor(size_t count) { return WaitUntil([&] { return size() >= count; }); }
    size_t size()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return seen_.size();
    }
    std::vector<Seen> list()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return seen_;
    }

private:
    static void Record(const DmlpAddress* sender, void* context, void* event)
    {
        Events* self = (Events*)context;
        const DmlpEventRecord* record = (const DmlpEventRecord*)event;
        Seen seen = {*sender, record->reference, {}};
        for (uint8_t i = 0; i < record->count; ++i)
            seen.ids.push_back(record->entries[i].id);
        EXPECT_EQ(DMLP_ReleaseParam(event), DMLP_SUCCESS);
        std::lock_guard<std::mutex> lock(self->mutex_);
        self->seen_.push_back(seen);
    }
    std::mutex mutex_;
    std::vector<Seen> seen_;
};

// Event bodies written by hand: 154 (JobState3, 85 bytes), 18 (41 bytes), 5 (16 bytes).
Bytes Event154(uint32_t job, uint8_t state)
{
    Wire wire;
    wire.u16(154).u8(0).u16(0).u32(job).u16(0).u32(0).u8(state).u8(0).u8(0).u32(0).u32(0).u16(0).u16(0);
    return wire.fill(56, 0).u16(0);
}
Bytes Event18(uint32_t job, uint32_t impressions)
{
    Wire wire;
    wire.u16(18).u8(0).u16(0).u32(job).u32(0).u32(0).u32(0).u32(0).u32(impressions).u32(0).u32(0);
    return wire.u16(0).u16(0).u16(0).u8(0);
}
Bytes Event5() { return Wire().u16(5).u8(0).fill(4, 0).u16(0).u32(0).u32(0).u8(0).u8(0); }

Bytes Notification(uint32_t reference, std::initializer_list<Bytes> events)
{
    Wire body;
    body.u32(reference).u8((uint32_t)events.size());
    for (const Bytes& event : events)
        body.raw(event);
    return Frame(10, body, 0, 0, 0);
}

// The device's answer to a list request: two uint32.
Bytes Ack(const Bytes& sent, uint16_t status = 1) { return ReplyTo(sent, status, Wire().u32(0).u32(0)); }

// The device's answer to a subscription address of kind 2 at 127.0.0.1:port.
Bytes UdpAddressForm(uint16_t port) { return Wire().u16(2).u8(6).u8(127).u8(0).u8(0).u8(1).u16(port); }

class Subscriptions : public EngineTest {
protected:
    // Recorders live as long as the fixture: the notification thread may still deliver an event
    // the test did not wait for until the stop in TearDown.
    Events& NewEvents() { return events_.emplace_back(); }
    void WriteServices(const std::string& lines)
    {
        std::error_code exists;
        std::filesystem::create_directory(root.file("config"), exists);
        std::ofstream(root.file("config/services")) << lines;
    }
    void WriteRange(int range)
    {
        std::error_code exists;
        std::filesystem::create_directory(root.file("config"), exists);
        std::ofstream(root.file("config/vxipport.dat")) << "[PortNumber]\nrange=" << range << "\n";
    }
    // A synchronous subscribe in its own thread; the registration is answered with status.
    uint16_t Subscribe(DmlpBinding binding, uint32_t value, Events& events, size_t sendIndex, uint16_t status = 1,
                       bool setList = false, std::vector<uint16_t> ids = {154, 18})
    {
        const DmlpEventList list = {(uint16_t)ids.size(), ids.data()};
        const DmlpCallback callback = events.callback();
        auto call = InThread([&] {
            return setList ? DMLP_SubscribeEvent2(binding, kObject, 0, value, &list, 0x5A, &callback)
                           : DMLP_SubscribeEvent(binding, kObject, 0, value, &list, 0x5A, &callback);
        });
        const Bytes sent = SentAt(sendIndex);
        vxfake::Receive(SubscriberEndpoint(), Ack(sent, status));
        return Await(call);
    }
    uint16_t Unsubscribe(DmlpBinding binding, uint32_t value, size_t sendIndex, bool setList = false)
    {
        auto call = InThread([&] {
            return setList ? DMLP_UnsubscribeEvent2(binding, kObject, value) : DMLP_UnsubscribeEvent(binding, kObject, value);
        });
        const Bytes sent = SentAt(sendIndex);
        vxfake::Receive(SubscriberEndpoint(), Ack(sent, 1));
        return Await(call);
    }
    uint32_t SubscriberEndpoint() { return EndpointOf(0); }
    vxfake::Endpoint Listener()
    {
        for (const vxfake::Endpoint& endpoint : vxfake::Endpoints()) {
            if (endpoint.listener)
                return endpoint;
        }
        return {};
    }
    static Bytes Body(const Bytes& frame) { return Bytes(frame.begin() + 20, frame.end()); }
    static uint16_t PortOf(const VxTransAddress& address) { return (uint16_t)(address.bytes[0] << 8 | address.bytes[1]); }
    void Send(const char* from, const Bytes& frame)
    {
        vxfake::Receive(Listener().handle, vxfake::Pair(from, 47545, "127.0.0.1", 4660, VXTRANS_PROTOCOL_UDP), frame);
    }

private:
    std::deque<Events> events_;
};

// ---- Event port and registration bytes -----------------------------------------------------------

TEST_F(Subscriptions, TheDeviceGetsTheElementWithTheEventPortsAddress)
{
    WriteServices("vxdmlp-event 4660/udp\nvxdmlp-event 4670/tcp\n");
    DmlpBinding binding = Bind(DMLP_ADDRESS_UDP);
    Events& events = NewEvents();
    ASSERT_EQ(Subscribe(binding, 501, events, 0), DMLP_SUCCESS);
    const vxfake::Endpoint listener = Listener();
    EXPECT_EQ(listener.pair.protocol, (uint32_t)VXTRANS_PROTOCOL_UDP);
    EXPECT_EQ(PortOf(listener.pair.local), 4660) << "the service's port";
    const Bytes element = Wire().u16(2).u16(154).u16(18).u32(7).u16(9).raw(UdpAddressForm(4660)).u32(0x5A);
    const Bytes expected = Wire()
                               .u16(0xCDCA).u8(16).u8(4).u16(8).u16(1).u16((uint32_t)(9 + element.size()))
                               .u32(kObject[0]).u32(kObject[1]).u16(0)
                               .u8(3).u32(501).u16(2).u16(0).raw(element);
    EXPECT_EQ(SentAt(0), expected) << "AppendToList of attribute 2";

    // The SetListElement forms: 2 sets, 4 removes with an element without ids.
    ASSERT_EQ(Subscribe(binding, 502, events, 1, 1, true), DMLP_SUCCESS);
    const Bytes set = (Bytes)Wire().u8(2).u8(0).u8(0).u32(502).u16(2).raw(element);
    EXPECT_EQ(Body(SentAt(1)), set);
    ASSERT_EQ(Unsubscribe(binding, 502, 2, true), DMLP_SUCCESS);
    const Bytes removed = Wire().u16(0).u32(7).u16(9).raw(UdpAddressForm(4660)).u32(0x5A);
    EXPECT_EQ(Body(SentAt(2)), (Bytes)Wire().u8(4).u8(0).u8(0).u32(502).u16(2).raw(removed));
    ASSERT_EQ(Unsubscribe(binding, 501, 3), DMLP_SUCCESS);
    EXPECT_EQ(Body(SentAt(3)), (Bytes)Wire().u8(3).u32(501).u16(2).raw(element))
        << "DeleteFromList with the element";
    EXPECT_EQ(Field16(SentAt(3), 4), 9);

    // A second UDP binding reuses the port; a TCP one opens the TCP port.
    DmlpBinding other = Bind(DMLP_ADDRESS_UDP, 5000, 2, 10);
    const DmlpEventList list = {2, kJobEvents};
    const DmlpCallback callback = events.callback();
    auto call = InThread([&] { return DMLP_SubscribeEvent(other, kObject, 0, 7, &list, 0, &callback); });
    const Bytes sent = SentAt(4);
    vxfake::Receive(vxfake::Endpoints().at(2).handle, Ack(sent, 1));
    EXPECT_EQ(Await(call), DMLP_SUCCESS);
    size_t listeners = 0;
    for (const vxfake::Endpoint& endpoint : vxfake::Endpoints())
        listeners += endpoint.listener;
    EXPECT_EQ(listeners, 1u);
}

TEST_F(Subscriptions, PortSearchTriesTheRangeAndFallsBackToAnyPort)
{
    WriteServices("vxdmlp-event 4660/udp\n");
    vxfake::ScriptResult(vxfake::Call::Listen, VXTRANS_E_IN_USE);
    DmlpBinding binding = Bind(DMLP_ADDRESS_UDP);
    Events& events = NewEvents();
    ASSERT_EQ(Subscribe(binding, 501, events, 0), DMLP_SUCCESS);
    EXPECT_EQ(PortOf(Listener().pair.local), 4661) << "base + 1 when the base is held";
}

TEST_F(Subscriptions, TenPortsWithoutRangeFileThenAnyPort)
{
    WriteServices("vxdmlp-event 4660/udp\n");
    for (int i = 0; i < 10; ++i)
        vxfake::ScriptResult(vxfake::Call::Listen, VXTRANS_E_IN_USE);
    DmlpBinding binding = Bind(DMLP_ADDRESS_UDP);
    Events& events = NewEvents();
    ASSERT_EQ(Subscribe(binding, 501, events, 0), DMLP_SUCCESS);
    const uint16_t port = PortOf(Listener().pair.local);
    EXPECT_TRUE(port < 4660 || port > 4669) << "all ten were held: any free port, got " << port;
}

TEST_F(Subscriptions, RangeZeroAndUnknownServiceTellTheSubscribersAddress)
{
    WriteServices("other 1/udp\n");  // the root's file without the name: unknown
    DmlpBinding binding = Bind(DMLP_ADDRESS_UDP);
    Events& events = NewEvents();
    ASSERT_EQ(Subscribe(binding, 501, events, 0), DMLP_SUCCESS);
    const vxfake::Endpoint listener = Listener();
    EXPECT_EQ(Bytes(listener.pair.local.bytes + 2, listener.pair.local.bytes + 6), Bytes(4, 0)) << "any address";
    const uint16_t port = PortOf(listener.pair.local);
    const Bytes sent = SentAt(0);
    EXPECT_EQ(Bytes(sent.begin() + 20 + 9 + 10 + 2, sent.begin() + 20 + 9 + 10 + 2 + 9), UdpAddressForm(port))
        << "the device is told the subscriber's own address, not 0.0.0.0";
}

TEST_F(Subscriptions, RangeZeroOpensAnyPortAtOnce)
{
    WriteServices("vxdmlp-event 4660/udp\n");
    WriteRange(0);
    vxfake::ScriptResult(vxfake::Call::Listen, VXTRANS_E_IN_USE);
    DmlpBinding binding = Bind(DMLP_ADDRESS_UDP);
    Events& events = NewEvents();
    const DmlpEventList list = {2, kJobEvents};
    const DmlpCallback callback = events.callback();
    EXPECT_EQ(DMLP_SubscribeEvent(binding, kObject, 0, 501, &list, 0, &callback), DMLP_TRANSPORT_FAILURE)
        << "no search: the one open on port 0 was refused";
}

TEST_F(Subscriptions, AnyOtherListenFailureAnswers8001)
{
    WriteServices("vxdmlp-event 4660/udp\n");
    vxfake::ScriptResult(vxfake::Call::Listen, VXTRANS_E_FAILED);
    DmlpBinding binding = Bind(DMLP_ADDRESS_UDP);
    Events& events = NewEvents();
    const DmlpEventList list = {2, kJobEvents};
    const DmlpCallback callback = events.callback();
    EXPECT_EQ(DMLP_SubscribeEvent(binding, kObject, 0, 501, &list, 0, &callback), DMLP_TRANSPORT_FAILURE);
    EXPECT_TRUE(vxfake::Sends().empty());
}

// ---- Refusals ----------------------------------------------------------------------------------------

TEST_F(Subscriptions, EachRefusal)
{
    DmlpBinding binding = Bind(DMLP_ADDRESS_UDP);
    Events& events = NewEvents();
    const DmlpEventList list = {2, kJobEvents};
    const DmlpCallback callback = events.callback();
    DmlpCallback wrongKind = callback;
    wrongKind.kind = 9;
    EXPECT_EQ(DMLP_SubscribeEvent(nullptr, kObject, 0, 1, &list, 0, &callback), DMLP_UNKNOWN_BINDING);
    EXPECT_EQ(DMLP_SubscribeEvent(binding, nullptr, 0, 1, &list, 0, &callback), DMLP_BAD_PARAMETER);
    EXPECT_EQ(DMLP_SubscribeEvent(binding, kObject, 0, 1, nullptr, 0, &callback), DMLP_BAD_PARAMETER);
    EXPECT_EQ(DMLP_SubscribeEvent(binding, kObject, 0, 1, &list, 0, nullptr), DMLP_BAD_PARAMETER);
    EXPECT_EQ(DMLP_SubscribeEvent(binding, kObject, 0, 1, &list, 0, &wrongKind), DMLP_BAD_PARAMETER);
    EXPECT_EQ(DMLP_SubscribeEvent(binding, kObject, 0, 0, &list, 0, &callback), DMLP_EMPTY_EVENT_LIST);
    EXPECT_EQ(DMLP_UnsubscribeEvent(binding, kObject, 0), DMLP_EMPTY_EVENT_LIST);
    EXPECT_EQ(DMLP_UnsubscribeEvent(binding, nullptr, 1), DMLP_BAD_PARAMETER);
    EXPECT_EQ(DMLP_SubscribeEventAsync(nullptr, binding, kObject, 0, 1, &list, 0, &callback), DMLP_BAD_PARAMETER);
    const DmlpEventList noIds = {2, nullptr};
    const DmlpEventList tooMany = {32735, kJobEvents};
    EXPECT_EQ(DMLP_SubscribeEvent(binding, kObject, 0, 1, &noIds, 0, &callback), DMLP_BAD_PARAMETER);
    EXPECT_EQ(DMLP_SubscribeEvent(binding, kObject, 0, 1, &tooMany, 0, &callback), DMLP_BAD_PARAMETER);
    EXPECT_EQ(DMLP_SubscribeEvent(DmlpBinding(~0ull), kObject, 0, 1, &list, 0, &callback), DMLP_UNKNOWN_BINDING);
    EXPECT_EQ(DMLP_UnsubscribeEvent(binding, kObject, 77), DMLP_BAD_PARAMETER) << "never subscribed";
    EXPECT_TRUE(vxfake::Sends().empty()) << "nothing sent for any of them";
}

TEST_F(Subscriptions, KindElevenHasNoEventPortAndAConnectingBindingWaits)
{
    RestartWith({VXTRANS_FAMILY_9A21});
    DmlpAddress peer = {};
    peer.kind = DMLP_ADDRESS_9A21;
    const DmlpEPProperty untimed = Property(0, 1);
    DmlpBinding binding = nullptr;
    ASSERT_EQ(DMLP_Bind(instance, &peer, nullptr, &untimed, &binding), DMLP_SUCCESS);
    Events& events = NewEvents();
    const DmlpEventList list = {2, kJobEvents};
    const DmlpCallback callback = events.callback();
    EXPECT_EQ(DMLP_SubscribeEvent(binding, kObject, 0, 1, &list, 0, &callback), DMLP_WRONG_INSTANCE);

    vxfake::SetAutoNotices(false);
    Completions& bound = Recorder();
    const DmlpCallback bindCallback = bound.callback();
    const DmlpAddress udp = Inet(DMLP_ADDRESS_UDP, 9, 47545);
    const DmlpEPProperty property = Property(1000, 1);
    DmlpBinding connecting = nullptr;
    ASSERT_EQ(DMLP_BindAsync(&bindCallback, instance, &udp, nullptr, &property, &connecting), DMLP_SUCCESS);
    EXPECT_EQ(DMLP_SubscribeEvent(connecting, kObject, 0, 1, &list, 0, &callback), DMLP_CONNECTING);
    ASSERT_TRUE(vxfake::Notify(vxfake::LastEndpoint(), VXTRANS_NOTICE_CONNECTED));
    ASSERT_TRUE(bound.waitFor(1));
}

// Kinds 6 and 15 carry their events on the binding itself: no listener is opened, the element
// names the binding's own local address, and notifications arriving on it are dispatched.
TEST_F(Subscriptions, AKindSixBindingCarriesItsOwnEvents)
{
    RestartWith({VXTRANS_FAMILY_9707});
    DmlpAddress peer = {};
    peer.kind = DMLP_ADDRESS_9707;
    peer.u.family9707.selector = 0x42;
    memset(peer.u.family9707.address, 0xA5, 16);
    const DmlpEPProperty property = Property(5000, 1);
    DmlpBinding binding = nullptr;
    ASSERT_EQ(DMLP_Bind(instance, &peer, nullptr, &property, &binding), DMLP_SUCCESS);
    Events& events = NewEvents();
    ASSERT_EQ(Subscribe(binding, 501, events, 0), DMLP_SUCCESS);
    EXPECT_EQ(Listener().handle, 0u) << "no event port of its own";
    const Bytes sent = SentAt(0);
    EXPECT_EQ(Field16(sent, 4), 8);
    const Bytes local(vxfake::kLocal9707, vxfake::kLocal9707 + 16);
    EXPECT_NE(std::search(sent.begin(), sent.end(), local.begin(), local.end()), sent.end())
        << "the element names the binding's local address";

    vxfake::Receive(SubscriberEndpoint(), Notification(501, {Event154(7, 3)}));
    ASSERT_TRUE(events.waitFor(1));
    EXPECT_EQ(events.list()[0].ids, std::vector<uint16_t>{154});
    EXPECT_EQ(events.list()[0].sender.kind, DMLP_ADDRESS_9707);
    EXPECT_EQ(events.list()[0].sender.u.family9707.selector, 0x42);
    ASSERT_EQ(Unsubscribe(binding, 501, 1), DMLP_SUCCESS);
    vxfake::Receive(SubscriberEndpoint(), Notification(501, {Event154(7, 4)}));
    Flush();
    EXPECT_EQ(events.size(), 1u) << "no subscription is left";
}

// An IPX subscriber gets an IPX event port: a datagram listener on a socket of the transport's.
TEST_F(Subscriptions, AnIpxSubscriptionListensOnAnIpxSocket)
{
    RestartWith({VXTRANS_FAMILY_IPX});
    DmlpAddress peer = {};
    peer.kind = DMLP_ADDRESS_IPX;
    memset(peer.u.ipx.node, 0x0C, 6);
    peer.u.ipx.network[3] = 9;
    peer.u.ipx.socket = 0x4567;
    const DmlpEPProperty property = Property(5000, 1);
    DmlpBinding binding = nullptr;
    ASSERT_EQ(DMLP_Bind(instance, &peer, nullptr, &property, &binding), DMLP_SUCCESS);
    Events& events = NewEvents();
    ASSERT_EQ(Subscribe(binding, 501, events, 0), DMLP_SUCCESS);
    const vxfake::Endpoint listener = Listener();
    ASSERT_NE(listener.handle, 0u);
    EXPECT_EQ(listener.pair.protocol, 1000u);
    EXPECT_EQ(listener.pair.local.family, VXTRANS_FAMILY_IPX);
    EXPECT_NE(listener.pair.local.bytes[10] << 8 | listener.pair.local.bytes[11], 0) << "a socket was chosen";

    VxTransAddressPair sender = vxfake::Endpoints().at(0).pair;
    sender.local = listener.pair.local;
    sender.peer.bytes[10] = 0x99;  // the device may report from another socket
    vxfake::Receive(listener.handle, sender, Notification(501, {Event18(7, 12)}));
    ASSERT_TRUE(events.waitFor(1));
    EXPECT_EQ(events.list()[0].ids, std::vector<uint16_t>{18});
    EXPECT_EQ(events.list()[0].sender.kind, DMLP_ADDRESS_IPX);
    EXPECT_EQ(memcmp(events.list()[0].sender.u.ipx.node, peer.u.ipx.node, 6), 0);
    sender.peer.bytes[4] ^= 1;
    vxfake::Receive(listener.handle, sender, Notification(501, {Event18(7, 13)}));
    Flush();
    EXPECT_EQ(events.size(), 1u) << "another node is not the subscriber's device";
}

TEST_F(Subscriptions, NothingIsAvailableBeforeTheStart)
{
    ASSERT_EQ(DMLP_Terminate(instance), DMLP_SUCCESS);
    Events& events = NewEvents();
    const DmlpEventList list = {2, kJobEvents};
    const DmlpCallback callback = events.callback();
    EXPECT_EQ(DMLP_SubscribeEvent(DmlpBinding(1), kObject, 0, 1, &list, 0, &callback), DMLP_NOT_AVAILABLE);
    ASSERT_EQ(DMLP_Initialize(DMLP_INTERFACE_VERSION, nullptr, &instance), DMLP_SUCCESS);
}

// ---- Subscriptions ------------------------------------------------------------------------------------

TEST_F(Subscriptions, AsyncSubscribeAnswersWithTheDevicesStatusAndKeepsTheSubscription)
{
    DmlpBinding binding = Bind(DMLP_ADDRESS_UDP);
    Events& events = NewEvents();
    Completions& completions = Recorder();
    const DmlpCallback result = completions.callback();
    const DmlpEventList list = {2, kJobEvents};
    const DmlpCallback callback = events.callback();
    ASSERT_EQ(DMLP_SubscribeEventAsync2(&result, binding, kObject, 0, 501, &list, 0, &callback), DMLP_SUCCESS);
    vxfake::Receive(SubscriberEndpoint(), Ack(SentAt(0), 33));
    ASSERT_TRUE(completions.waitFor(1));
    EXPECT_EQ(completions.list()[0].status, 33) << "the device's own status";
    EXPECT_EQ(completions.list()[0].method, 0);
    Send("127.0.0.9", Notification(501, {Event154(3, 7)}));
    ASSERT_TRUE(events.waitFor(1)) << "a device error keeps the subscription";
}

TEST_F(Subscriptions, ATimedOutRegistrationKeepsTheSubscription)
{
    DmlpBinding binding = Bind(DMLP_ADDRESS_UDP, 1000, 1);
    Events& events = NewEvents();
    const DmlpEventList list = {2, kJobEvents};
    const DmlpCallback callback = events.callback();
    auto call = InThread([&] { return DMLP_SubscribeEvent(binding, kObject, 0, 501, &list, 0, &callback); });
    SentAt(0);
    WaitArmed();
    Advance(1000);
    EXPECT_EQ(Await(call), DMLP_TIMEOUT);
    Send("127.0.0.9", Notification(501, {Event154(3, 7)}));
    EXPECT_TRUE(events.waitFor(1));
}

TEST_F(Subscriptions, RenewalGivesOneCallbackPerEvent)
{
    DmlpBinding binding = Bind(DMLP_ADDRESS_UDP);
    Events& events = NewEvents();
    ASSERT_EQ(Subscribe(binding, 501, events, 0), DMLP_SUCCESS);
    ASSERT_EQ(Subscribe(binding, 501, events, 1), DMLP_SUCCESS);
    Send("127.0.0.9", Notification(501, {Event154(3, 7)}));
    Send("127.0.0.9", Notification(501, {Event154(3, 9)}));
    ASSERT_TRUE(events.waitFor(2));
    Flush();
    EXPECT_EQ(events.size(), 2u);
}

TEST_F(Subscriptions, UnsubscribeRemovesAndSendsNothingTwice)
{
    DmlpBinding binding = Bind(DMLP_ADDRESS_UDP);
    Events& events = NewEvents();
    ASSERT_EQ(Subscribe(binding, 501, events, 0), DMLP_SUCCESS);
    ASSERT_EQ(Unsubscribe(binding, 501, 1), DMLP_SUCCESS);
    EXPECT_EQ(DMLP_UnsubscribeEvent(binding, kObject, 501), DMLP_BAD_PARAMETER) << "gone";
    EXPECT_EQ(vxfake::Sends().size(), 2u);
    Send("127.0.0.9", Notification(501, {Event154(3, 7)}));
    Flush();
    EXPECT_EQ(events.size(), 0u);
}

// Runs on the worker: the binding keeps class 2 only, as one that never registered would.
void LeaveClassTwoOnly(const DmlpDeferredCall* call)
{
    if (DmlpBindingRecord* binding = DmlpFindBinding(call->args[0]))
        binding->flags = (binding->flags & ~(uint32_t)DMLP_BINDING_CLASS1) | DMLP_BINDING_CLASS2;
}

TEST_F(Subscriptions, AnUnsubscribeRefusedByTheFlagsKeepsTheSubscription)
{
    DmlpBinding binding = Bind(DMLP_ADDRESS_UDP);
    Events& events = NewEvents();
    ASSERT_EQ(Subscribe(binding, 501, events, 0), DMLP_SUCCESS);
    ASSERT_TRUE(DmlpDefer(LeaveClassTwoOnly, DmlpHandleOf(binding)));
    Flush();
    EXPECT_EQ(DMLP_UnsubscribeEvent(binding, kObject, 501), DMLP_UNKNOWN_BINDING);
    EXPECT_EQ(vxfake::Sends().size(), 1u) << "nothing sent for the refusal";
    Send("127.0.0.9", Notification(501, {Event154(3, 7)}));
    ASSERT_TRUE(events.waitFor(1)) << "the subscription stays, and its events still arrive";
}

TEST_F(Subscriptions, UnbindDuringASubscribeAnswers21AndLeavesNothing)
{
    DmlpBinding binding = Bind(DMLP_ADDRESS_UDP);
    Events& events = NewEvents();
    const DmlpEventList list = {2, kJobEvents};
    const DmlpCallback callback = events.callback();
    auto call = InThread([&] { return DMLP_SubscribeEvent(binding, kObject, 0, 501, &list, 0, &callback); });
    SentAt(0);
    EXPECT_EQ(DMLP_Unbind(binding), DMLP_SUCCESS);
    EXPECT_EQ(Await(call), DMLP_BINDING_CLOSED);
}

TEST_F(Subscriptions, TerminateDuringASubscribeAnswers21)
{
    DmlpBinding binding = Bind(DMLP_ADDRESS_UDP);
    Events& events = NewEvents();
    const DmlpEventList list = {2, kJobEvents};
    const DmlpCallback callback = events.callback();
    auto call = InThread([&] { return DMLP_SubscribeEvent(binding, kObject, 0, 501, &list, 0, &callback); });
    SentAt(0);
    ASSERT_EQ(DMLP_Terminate(instance), DMLP_SUCCESS);
    EXPECT_EQ(Await(call), DMLP_BINDING_CLOSED);
    ASSERT_EQ(DMLP_Initialize(DMLP_INTERFACE_VERSION, nullptr, &instance), DMLP_SUCCESS);
}

TEST_F(Subscriptions, ASubscribeMeetingAListeningPortWaitsForItsConfirmation)
{
    vxfake::SetAutoNotices(false);
    DmlpBinding first = nullptr, second = nullptr;
    const DmlpAddress peer1 = Inet(DMLP_ADDRESS_UDP, 9, 47545), peer2 = Inet(DMLP_ADDRESS_UDP, 10, 47545);
    const DmlpEPProperty property = Property(5000, 1);
    auto bind1 = InThread([&] { return DMLP_Bind(instance, &peer1, nullptr, &property, &first); });
    ASSERT_TRUE(vxfake::WaitForEndpoints(1, kWaitMs));
    vxfake::Notify(vxfake::LastEndpoint(), VXTRANS_NOTICE_CONNECTED);
    ASSERT_EQ(Await(bind1), DMLP_SUCCESS);
    auto bind2 = InThread([&] { return DMLP_Bind(instance, &peer2, nullptr, &property, &second); });
    ASSERT_TRUE(vxfake::WaitForEndpoints(2, kWaitMs));
    vxfake::Notify(vxfake::LastEndpoint(), VXTRANS_NOTICE_CONNECTED);
    ASSERT_EQ(Await(bind2), DMLP_SUCCESS);

    Events& events = NewEvents();
    Completions& completions = Recorder();
    const DmlpCallback result = completions.callback();
    const DmlpEventList list = {2, kJobEvents};
    const DmlpCallback callback = events.callback();
    ASSERT_EQ(DMLP_SubscribeEventAsync(&result, first, kObject, 0, 1, &list, 0, &callback), DMLP_SUCCESS);
    ASSERT_EQ(DMLP_SubscribeEventAsync(&result, second, kObject, 0, 2, &list, 0, &callback), DMLP_SUCCESS);
    Flush();
    EXPECT_EQ(vxfake::Endpoints().size(), 3u) << "one listener for both";
    EXPECT_TRUE(vxfake::Sends().empty()) << "nothing is registered before the port listens";
    vxfake::Notify(Listener().handle, VXTRANS_E_FAILED);
    ASSERT_TRUE(completions.waitFor(2));
    EXPECT_EQ(completions.list()[0].status, DMLP_TRANSPORT_FAILURE);
    EXPECT_EQ(completions.list()[1].status, DMLP_TRANSPORT_FAILURE);
}

// ---- Dispatch -------------------------------------------------------------------------------------------

TEST_F(Subscriptions, EntriesAreFilteredToTheWantedIds)
{
    DmlpBinding binding = Bind(DMLP_ADDRESS_UDP);
    Events& events = NewEvents();
    ASSERT_EQ(Subscribe(binding, 501, events, 0), DMLP_SUCCESS);
    Send("127.0.0.9", Notification(501, {Event154(3, 7), Event18(3, 1), Event5()}));
    ASSERT_TRUE(events.waitFor(1));
    const Events::Seen seen = events.list()[0];
    EXPECT_EQ(seen.ids, (std::vector<uint16_t>{154, 18}));
    EXPECT_EQ(seen.reference, 501u);
    EXPECT_EQ(seen.sender.kind, DMLP_ADDRESS_UDP);
    EXPECT_EQ(seen.sender.u.inet.address[3], 9);
    EXPECT_EQ(seen.sender.u.inet.port, 47545);
}

TEST_F(Subscriptions, UnwantedUnknownAndUndecodableNotificationsAreDropped)
{
    DmlpBinding binding = Bind(DMLP_ADDRESS_UDP);
    Events& events = NewEvents();
    ASSERT_EQ(Subscribe(binding, 501, events, 0), DMLP_SUCCESS);
    Send("127.0.0.99", Notification(501, {Event154(3, 7)}));           // another sender
    Send("127.0.0.9", Notification(501, {Event5()}));                  // nothing wanted
    Bytes shortBody = Notification(501, {Event154(3, 7)});
    shortBody.resize(shortBody.size() - 3);
    shortBody[9] = (uint8_t)(shortBody.size() - 20);
    Send("127.0.0.9", shortBody);                                      // undecodable
    vxfake::Receive(SubscriberEndpoint(), Notification(501, {Event154(3, 7)}));  // not an event port
    for (uint32_t nth = 1; nth <= 3; ++nth) {                           // no memory on the way
        VxSrvcTestFailAllocation(nth);
        Send("127.0.0.9", Notification(501, {Event154(3, 7)}));
        Flush();
    }
    VxSrvcTestFailAllocation(0);
    Send("127.0.0.9", Notification(501, {Event154(4, 9)}));
    ASSERT_TRUE(events.waitFor(1));
    Flush();
    const std::vector<Events::Seen> seen = events.list();
    ASSERT_GE(seen.size(), 1u);
    EXPECT_EQ(seen.back().ids, std::vector<uint16_t>{154});
}

TEST_F(Subscriptions, EventsAreTakenOnlyFromTheSubscribersDevice)
{
    DmlpBinding binding = Bind(DMLP_ADDRESS_UDP);
    Events& events = NewEvents();
    ASSERT_EQ(Subscribe(binding, 501, events, 0), DMLP_SUCCESS);
    Send("127.0.0.99", Notification(501, {Event154(3, 7)}));  // another host, the device's port
    Send("127.0.0.9", Notification(501, {Event18(3, 1)}));
    ASSERT_TRUE(events.waitFor(1));
    Flush();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events.list()[0].ids, std::vector<uint16_t>{18});
}

// Ids outside 2..168 and 217..225 have no place in a set: adding one selects nothing.
TEST(EventIdSet, OnlyIdsTwoTo168And217To225AreEverSelected)
{
    const DmlpEventIdSet empty = {};
    for (uint32_t id = 0; id <= 0xFFFF; ++id) {
        DmlpEventIdSet set = {};
        DmlpEventIdSetAdd(&set, (uint16_t)id);
        const bool inRange = (id >= 2 && id <= 168) || (id >= 217 && id <= 225);
        if (!inRange) {
            ASSERT_EQ(memcmp(&set, &empty, sizeof set), 0) << "id " << id;
            continue;
        }
        for (uint32_t other = 0; other <= 300; ++other)
            ASSERT_EQ(DmlpEventIdWanted(&set, (uint16_t)other), other == id) << id << " selects " << other;
    }
}

TEST_F(Subscriptions, OwnReferenceTakesItAloneOtherwiseEachGetsACopy)
{
    DmlpBinding binding = Bind(DMLP_ADDRESS_UDP);
    Events& first = NewEvents();
    Events& second = NewEvents();
    ASSERT_EQ(Subscribe(binding, 501, first, 0), DMLP_SUCCESS);
    ASSERT_EQ(Subscribe(binding, 502, second, 1), DMLP_SUCCESS);
    Send("127.0.0.9", Notification(502, {Event154(3, 7)}));
    ASSERT_TRUE(second.waitFor(1));
    Flush();
    EXPECT_EQ(first.size(), 0u) << "the subscription of reference 502 took it alone";
    Send("127.0.0.9", Notification(999, {Event154(3, 7)}));
    ASSERT_TRUE(first.waitFor(1));
    ASSERT_TRUE(second.waitFor(2));
}

TEST_F(Subscriptions, ThousandEventsInOrderAndNoneAfterUnbind)
{
    DmlpBinding binding = Bind(DMLP_ADDRESS_UDP);
    Events& events = NewEvents();
    ASSERT_EQ(Subscribe(binding, 501, events, 0), DMLP_SUCCESS);
    for (uint32_t job = 1; job <= 1000; ++job)
        Send("127.0.0.9", Notification(501, {Event18(job, job)}));
    ASSERT_TRUE(events.waitFor(1000));
    ASSERT_EQ(DMLP_Unbind(binding), DMLP_SUCCESS);
    const size_t seen = events.size();
    Send("127.0.0.9", Notification(501, {Event18(1, 1)}));
    Flush();
    EXPECT_EQ(events.size(), seen) << "nothing after Unbind returned";
    EXPECT_EQ(seen, 1000u);
}

// ---- The TCP event port's connections ------------------------------------------------------------------

class TcpEventPort : public Subscriptions {
protected:
    void SetUp() override
    {
        Subscriptions::SetUp();
        WriteServices("vxdmlp-event 4670/tcp\n");
        binding_ = Bind(DMLP_ADDRESS_TCP, 5000, 1);
        ASSERT_EQ(Subscribe(binding_, 501, events, 0), DMLP_SUCCESS);
        listener_ = Listener().handle;
        ASSERT_NE(listener_, 0u);
    }
    // The pair of accepted connection number handle, from the device's address and port.
    static VxTransAddressPair Connection(uint32_t handle, uint16_t port = 5000, const char* from = "127.0.0.9")
    {
        VxTransAddressPair pair = vxfake::Pair(from, port, "127.0.0.1", 4670, VXTRANS_PROTOCOL_TCP);
        pair.connection = handle;
        return pair;
    }
    void Accept(const VxTransAddressPair& pair) { ASSERT_TRUE(vxfake::Receive(listener_, pair, {})); }
    void Data(const VxTransAddressPair& pair, const Bytes& bytes) { ASSERT_TRUE(vxfake::Receive(listener_, pair, bytes)); }
    void End(const VxTransAddressPair& pair, int32_t result = VXTRANS_E_RESET)
    {
        ASSERT_TRUE(vxfake::ReceiveError(listener_, pair, result));
    }
    // The job numbers of the 18 events seen.
    std::vector<uint32_t> Jobs() { return jobs_; }
    bool Closed(uint32_t handle)
    {
        const std::vector<uint32_t> closes = vxfake::Closes();
        return std::find(closes.begin(), closes.end(), handle) != closes.end();
    }
    Events& events = NewEvents();
    DmlpBinding binding_ = nullptr;
    uint32_t listener_ = 0;
    std::vector<uint32_t> jobs_;
};

Bytes Part(const Bytes& bytes, size_t from, size_t to) { return Bytes(bytes.begin() + from, bytes.begin() + to); }

// A header announcing 65535 body bytes and 65000 of them.
Bytes LargePartial() { return Part(Frame(10, Bytes(65535, 0), 0, 0, 0), 0, 65020); }

TEST_F(TcpEventPort, AFrameIsNeverJoinedAcrossConnections)
{
    const Bytes first = Notification(501, {Event18(1, 1)}), second = Notification(501, {Event18(2, 2)});
    // A partial notification, a reset, and a new connection from the same address and port.
    Accept(Connection(101));
    Data(Connection(101), Part(first, 0, 30));
    End(Connection(101));
    Accept(Connection(102));
    Data(Connection(102), second);
    ASSERT_TRUE(events.waitFor(1)) << "the good notification of the new connection";
    // Two connections at once, their bytes interleaved.
    Accept(Connection(103, 5001));
    Data(Connection(103, 5001), Part(first, 0, 25));
    Data(Connection(102), Part(second, 0, 10));
    Data(Connection(103, 5001), Part(first, 25, first.size()));
    Data(Connection(102), Part(second, 10, second.size()));
    ASSERT_TRUE(events.waitFor(3));
    Flush();
    EXPECT_EQ(events.size(), 3u);
    // Bytes of a connection never announced, or already ended, are not framed.
    Data(Connection(104), second);
    Data(Connection(101), second);
    Flush();
    EXPECT_EQ(events.size(), 3u);
}

TEST_F(TcpEventPort, AConnectionsBytesAreFreedWhenItEnds)
{
    const int64_t before = VxSrvcTestLiveBlocks();
    for (uint32_t handle = 200; handle < 210; ++handle) {
        Accept(Connection(handle, (uint16_t)handle, "127.0.0.99"));
        Data(Connection(handle, (uint16_t)handle, "127.0.0.99"), LargePartial());
        End(Connection(handle, (uint16_t)handle, "127.0.0.99"), handle % 2 ? VXTRANS_E_CLOSED : VXTRANS_E_RESET);
    }
    Flush();
    EXPECT_LE(VxSrvcTestLiveBlocks(), before + 1) << "at most the table of connections stays";
}

TEST_F(TcpEventPort, BeyondTheBoundsTheConnectionIdleLongestIsClosed)
{
    // Open connections: one more than the bound closes the first.
    for (uint32_t handle = 1000; handle <= 1000 + DMLP_EVENT_CONNECTIONS_MAX; ++handle)
        Accept(Connection(handle, (uint16_t)handle));
    Flush();
    EXPECT_TRUE(Closed(1000));
    EXPECT_FALSE(Closed(1001));
    // Held bytes: the partial frames of 64 connections are within the bound, a 65th is not; the
    // connection idle longest goes, though it was accepted last of these.
    for (uint32_t handle = 1001; handle <= 1065; ++handle)
        Data(Connection(handle, (uint16_t)handle), LargePartial());
    Flush();
    EXPECT_FALSE(Closed(1064));
    EXPECT_TRUE(Closed(1001)) << "the oldest partial frame";
    EXPECT_FALSE(Closed(1065));
    EXPECT_FALSE(Closed(1002)) << "one closed is enough";
    // The newest connection's frame completes and is delivered.
    Data(Connection(1065, 1065), Part(Frame(10, Bytes(65535, 0), 0, 0, 0), 65020, 65555));
    Data(Connection(1066, 1066), Notification(501, {Event18(3, 3)}));
    ASSERT_TRUE(events.waitFor(1));
}

TEST_F(Subscriptions, AnEventBlockWithoutCallbackFunctionIsReleased)
{
    DmlpBinding binding = Bind(DMLP_ADDRESS_UDP);
    const uint16_t ids[] = {154};
    const DmlpEventList list = {1, ids};
    DmlpCallback callback = {};
    callback.kind = DMLP_CALLBACK_KIND;
    auto call = InThread([&] { return DMLP_SubscribeEvent(binding, kObject, 0, 501, &list, 0, &callback); });
    vxfake::Receive(SubscriberEndpoint(), Ack(SentAt(0), 1));
    ASSERT_EQ(Await(call), DMLP_SUCCESS);
    Send("127.0.0.9", Notification(501, {Event154(3, 7)}));
    Flush();
    // The fixture's check of live blocks finds the released block.
}

} // namespace
} // namespace enginetest
