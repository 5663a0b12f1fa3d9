// UDP on real loopback sockets: associations, ICMP errors, datagram mode, listeners.
#include <gtest/gtest.h>

#include <poll.h>

#include <atomic>

#include "Gate.h"
#include "plain_socket.h"
#include "transport_recorder.h"

namespace {

using namespace vxtest;
using testsupport::Gate;

class VxTransUdp : public ::testing::Test {
protected:
    void SetUp() override { Recorder::instance().clear(); }
    Recorder& recorder = Recorder::instance();
};

TEST_F(VxTransUdp, AssociationConfirmsSendsAndReceivesWithTheSenderPair)
{
    PlainSocket device(SOCK_DGRAM, "127.0.0.1", 0);
    ASSERT_GE(device.fd, 0);
    uint32_t endpoint = 0;
    VxTransEndpointAddress local{};
    ASSERT_EQ(openConnection("127.0.0.1", device.port(), VXTRANS_PROTOCOL_UDP, VXTRANS_MODE_CONNECTION, &endpoint, &local),
              VXTRANS_OK);
    EXPECT_NE(endpoint, 0u);
    EXPECT_EQ(local.protocol, uint32_t{VXTRANS_PROTOCOL_UDP});
    EXPECT_EQ(hostOf(local.address), "127.0.0.1");
    EXPECT_NE(portOf(local.address), 0);
    ASSERT_TRUE(recorder.waitNotice(endpoint, VXTRANS_NOTICE_CONNECTED));

    uint16_t chunk = 0;
    ASSERT_EQ(VxTransGetMaxChunk(endpoint, &chunk, 0), VXTRANS_OK);
    EXPECT_EQ(chunk, 65507);

    ASSERT_EQ(sendText(endpoint, "request"), VXTRANS_OK);
    uint16_t fromPort = 0;
    EXPECT_EQ(device.receive(&fromPort), "request");
    EXPECT_EQ(fromPort, portOf(local.address));
    ASSERT_TRUE(recorder.waitNotice(endpoint, VXTRANS_NOTICE_SENT));

    device.sendTo("reply", "127.0.0.1", portOf(local.address));
    ASSERT_TRUE(recorder.waitFor(endpoint, [](auto& events) { return Recorder::received(events) == "reply"; }));
    const Event answer = recorder.of(endpoint).back();
    ASSERT_TRUE(answer.hasSender);
    EXPECT_EQ(hostOf(answer.sender.peer), "127.0.0.1");
    EXPECT_EQ(portOf(answer.sender.peer), device.port());
    EXPECT_EQ(answer.sender.protocol, uint32_t{VXTRANS_PROTOCOL_UDP});
    EXPECT_EQ(portOf(answer.sender.local), portOf(local.address));
    EXPECT_EQ(VxTransCloseEndpoint(endpoint), VXTRANS_OK);
    EXPECT_EQ(VxTransCloseEndpoint(endpoint), VXTRANS_E_BAD_HANDLE);
}

TEST_F(VxTransUdp, LargestDatagramGoesAndALargerOneIsRefused)
{
    PlainSocket device(SOCK_DGRAM, "127.0.0.1", 0);
    const int big = 1 << 20;
    setsockopt(device.fd, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
    uint32_t endpoint = 0;
    ASSERT_EQ(openConnection("127.0.0.1", device.port(), VXTRANS_PROTOCOL_UDP, VXTRANS_MODE_CONNECTION, &endpoint),
              VXTRANS_OK);
    EXPECT_EQ(sendText(endpoint, std::string(65508, 'x')), VXTRANS_E_BAD_PARAMETER);
    EXPECT_EQ(sendText(endpoint, std::string()), VXTRANS_E_BAD_PARAMETER);
    ASSERT_EQ(sendText(endpoint, std::string(65507, 'y')), VXTRANS_OK);
    EXPECT_EQ(device.receive().size(), 65507u);
    VxTransCloseEndpoint(endpoint);
}

// Blocks the I/O thread inside a callback, so that a socket's pending error stays for the next send.
std::atomic<Gate*> g_holding{nullptr};
std::atomic<Gate*> g_release{nullptr};
void holdIoThread(uint32_t, int32_t value, void*)
{
    if (value == VXTRANS_NOTICE_CONNECTED && g_holding != nullptr) {
        g_holding.load()->open();
        g_release.load()->waitOpen();
    }
}

TEST_F(VxTransUdp, IcmpErrorIsAReceiveErrorAndASendMeetingOneGoesAgain)
{
    uint16_t deadPort;
    {
        PlainSocket probe(SOCK_DGRAM, "127.0.0.83", 0);
        deadPort = probe.port();
    }
    uint32_t endpoint = 0;
    ASSERT_EQ(openConnection("127.0.0.83", deadPort, VXTRANS_PROTOCOL_UDP, VXTRANS_MODE_CONNECTION, &endpoint),
              VXTRANS_OK);
    ASSERT_EQ(sendText(endpoint, "first"), VXTRANS_OK);
    ASSERT_TRUE(recorder.waitFor(endpoint, [](auto& events) {
        for (const Event& event : events)
            if (event.isReceive && event.value == VXTRANS_E_UNREACHABLE)
                return true;
        return false;
    })) << "the port unreachable answer is reported as a receive error";

    // Now with the I/O thread held, so that the error waits on the socket for the next send.
    Gate holding, release;
    g_holding = &holding;
    g_release = &release;
    VxTransAddressPair pair{};
    pair.peer = transAddress("127.0.0.1", 9);
    pair.protocol = VXTRANS_PROTOCOL_UDP;
    uint32_t holder = 0;
    VxTransEndpointAddress ignored;
    ASSERT_EQ(VxTransOpenConnection(1, &pair, VXTRANS_MODE_CONNECTION, nullptr, nullptr, holdIoThread, &holder, &ignored,
                                    nullptr),
              VXTRANS_OK);
    ASSERT_TRUE(holding.waitOpen());
    ASSERT_EQ(sendText(endpoint, "second"), VXTRANS_OK);
    pollfd pending{VxTransTestSocketOf(endpoint), 0, 0};
    ASSERT_EQ(poll(&pending, 1, 10000), 1);
    ASSERT_TRUE(pending.revents & POLLERR) << "the second datagram's ICMP error waits on the socket";

    PlainSocket device(SOCK_DGRAM, "127.0.0.83", deadPort);
    ASSERT_GE(device.fd, 0);
    EXPECT_EQ(sendText(endpoint, "third"), VXTRANS_OK) << "the send met the error and went again";
    EXPECT_EQ(device.receive(), "third");
    release.open();
    g_holding = nullptr;
    VxTransCloseEndpoint(holder);
    VxTransCloseEndpoint(endpoint);
}

TEST_F(VxTransUdp, DatagramModeHearsEverySenderAndMayBroadcast)
{
    PlainSocket first(SOCK_DGRAM, "127.0.0.1", 0);
    PlainSocket second(SOCK_DGRAM, "127.0.0.2", 0);
    uint32_t endpoint = 0;
    VxTransEndpointAddress local{};
    ASSERT_EQ(openConnection("127.0.0.1", first.port(), VXTRANS_PROTOCOL_UDP, VXTRANS_MODE_DATAGRAM, &endpoint, &local,
                             "127.0.0.1", 0),
              VXTRANS_OK);
    ASSERT_TRUE(recorder.waitNotice(endpoint, VXTRANS_NOTICE_CONNECTED));
    ASSERT_EQ(sendText(endpoint, "echo?"), VXTRANS_OK);
    EXPECT_EQ(first.receive(), "echo?");
    first.sendTo("one", "127.0.0.1", portOf(local.address));
    second.sendTo("two", "127.0.0.1", portOf(local.address));
    second.sendTo("two again", "127.0.0.1", portOf(local.address));
    ASSERT_TRUE(recorder.waitFor(endpoint, [](auto& events) { return events.size() >= 5; }));
    std::vector<std::string> senders;
    for (const Event& event : recorder.of(endpoint))
        if (event.isReceive)
            senders.push_back(hostOf(event.sender.peer) + ":" + std::to_string(portOf(event.sender.peer)) + " " +
                              event.data);
    EXPECT_EQ(senders, (std::vector<std::string>{"127.0.0.1:" + std::to_string(first.port()) + " one",
                                                 "127.0.0.2:" + std::to_string(second.port()) + " two",
                                                 "127.0.0.2:" + std::to_string(second.port()) + " two again"}));
    VxTransCloseEndpoint(endpoint);

    PlainSocket everyone(SOCK_DGRAM, "127.255.255.255", 0);
    ASSERT_GE(everyone.fd, 0);
    ASSERT_EQ(openConnection("127.255.255.255", everyone.port(), VXTRANS_PROTOCOL_UDP, VXTRANS_MODE_DATAGRAM, &endpoint,
                             &local),
              VXTRANS_OK);
    EXPECT_NE(portOf(local.address), 0) << "the local port is known before the first send";
    ASSERT_EQ(sendText(endpoint, "anyone?"), VXTRANS_OK);
    EXPECT_EQ(everyone.receive(), "anyone?");
    VxTransCloseEndpoint(endpoint);
}

TEST_F(VxTransUdp, ListenerConfirmsOnceAndReportsEachDatagramWithItsSender)
{
    uint32_t listener = 0;
    ASSERT_EQ(openListener("127.0.0.1", 0, VXTRANS_PROTOCOL_UDP, &listener), VXTRANS_OK);
    VxTransEndpointAddress local{};
    ASSERT_EQ(VxTransGetLocalAddress(listener, 1, &local), VXTRANS_OK);
    EXPECT_EQ(local.protocol, uint32_t{VXTRANS_PROTOCOL_UDP});
    const uint16_t port = portOf(local.address);
    ASSERT_NE(port, 0);

    PlainSocket a(SOCK_DGRAM, "127.0.0.4", 0), b(SOCK_DGRAM, "127.0.0.5", 0);
    a.sendTo("from a", "127.0.0.1", port);
    b.sendTo("from b", "127.0.0.1", port);
    ASSERT_TRUE(recorder.waitFor(listener, [](auto& events) { return events.size() >= 3; }));
    const std::vector<Event> events = recorder.of(listener);
    EXPECT_EQ(Recorder::notices(events), 1u) << "one confirming notice";
    EXPECT_FALSE(events[0].isReceive);
    EXPECT_EQ(events[0].value, VXTRANS_NOTICE_CONNECTED);
    EXPECT_EQ(hostOf(events[1].sender.peer), "127.0.0.4");
    EXPECT_EQ(portOf(events[1].sender.peer), a.port());
    EXPECT_EQ(events[1].data, "from a");
    EXPECT_EQ(hostOf(events[2].sender.peer), "127.0.0.5");
    EXPECT_EQ(portOf(events[2].sender.local), port);
    EXPECT_EQ(hostOf(events[2].sender.local), "127.0.0.1");
    VxTransCloseEndpoint(listener);
}

TEST_F(VxTransUdp, ListenerOnAPortInUseFailsAtOnceWhateverTheHolderAllows)
{
    PlainSocket plain(SOCK_DGRAM, "127.0.0.1", 0);
    PlainSocket sharing(SOCK_DGRAM, "127.0.0.6", 0, true);
    uint32_t listener = 0;
    EXPECT_EQ(openListener("127.0.0.1", plain.port(), VXTRANS_PROTOCOL_UDP, &listener), VXTRANS_E_IN_USE);
    EXPECT_EQ(static_cast<uint32_t>(openListener("127.0.0.6", sharing.port(), VXTRANS_PROTOCOL_UDP, &listener)),
              0xC0208002u)
        << "a UDP listener never shares its port";

    // An address of its own: on 127.0.0.1 the TCP port of that number may belong to another process.
    uint32_t first = 0, second = 0;
    ASSERT_EQ(openListener("127.0.0.63", 0, VXTRANS_PROTOCOL_UDP, &first), VXTRANS_OK);
    VxTransEndpointAddress local{};
    VxTransGetLocalAddress(first, 1, &local);
    EXPECT_EQ(openListener("127.0.0.63", portOf(local.address), VXTRANS_PROTOCOL_UDP, &second), VXTRANS_E_IN_USE);
    EXPECT_EQ(openListener("127.0.0.63", portOf(local.address), VXTRANS_PROTOCOL_TCP, &second), VXTRANS_OK)
        << "the same number over TCP is another port";
    VxTransCloseEndpoint(first);
    VxTransCloseEndpoint(second);
}

// Closing while datagrams pour in: once close has returned, the callback never runs for it again.
std::atomic<uint32_t> g_closedEndpoint{0};
std::atomic<int> g_lateCallbacks{0};
void countLate(uint32_t endpoint, const VxTransAddressPair*, const VxTransBuffer*, int32_t)
{
    if (endpoint == g_closedEndpoint.load())
        ++g_lateCallbacks;
}

TEST_F(VxTransUdp, NoCallbackAfterCloseReturns)
{
    for (int round = 0; round < 20; ++round) {
        VxTransEndpointAddress address{transAddress("127.0.0.1", 0), VXTRANS_PROTOCOL_UDP};
        uint32_t listener = 0;
        ASSERT_EQ(VxTransOpenListener(1, &address, countLate, nullptr, nullptr, &listener, nullptr), VXTRANS_OK);
        VxTransEndpointAddress local{};
        VxTransGetLocalAddress(listener, 1, &local);
        std::atomic<bool> stop{false};
        std::thread flood([&] {
            PlainSocket sender(SOCK_DGRAM, "127.0.0.1", 0);
            while (!stop)
                sender.sendTo("x", "127.0.0.1", portOf(local.address));
        });
        ASSERT_EQ(VxTransCloseEndpoint(listener), VXTRANS_OK);
        g_closedEndpoint = listener;
        stop = true;
        flood.join();
    }
    // Round trip through the I/O thread: whatever it had gathered has been delivered (or dropped).
    uint32_t probe = 0;
    ASSERT_EQ(openListener("127.0.0.1", 0, VXTRANS_PROTOCOL_UDP, &probe), VXTRANS_OK);
    ASSERT_TRUE(recorder.waitNotice(probe, VXTRANS_NOTICE_CONNECTED));
    VxTransCloseEndpoint(probe);
    EXPECT_EQ(g_lateCallbacks.load(), 0);
}

TEST_F(VxTransUdp, HandlesAreNeverReusedAndOnlyFamilyTwoIsAvailable)
{
    uint32_t last = 0;
    for (int i = 0; i < 5; ++i) {
        uint32_t endpoint = 0;
        ASSERT_EQ(openListener("127.0.0.1", 0, VXTRANS_PROTOCOL_UDP, &endpoint), VXTRANS_OK);
        EXPECT_GT(endpoint, last);
        last = endpoint;
        VxTransCloseEndpoint(endpoint);
    }
    for (uint16_t family : {uint16_t{2}, uint16_t{6}, uint16_t{0x9707}, uint16_t{0x9A21}}) {
        VxTransInfo info{family, 0, 0};
        EXPECT_GE(VxTransQueryTransport(1, &info), 0);
        EXPECT_EQ(info.availability, family == 2 ? 1u : 0u) << family;
        EXPECT_GE(VxTransReleaseTransport(1, &info), 0);
    }
    uint32_t endpoint = 0;
    EXPECT_EQ(VXTRANS_LOW_WORD(openConnection("127.0.0.1", 0, VXTRANS_PROTOCOL_UDP, 0, &endpoint)), 6)
        << "no port: bad address";
    VxTransAddressPair ipx{};
    ipx.peer.family = VXTRANS_FAMILY_IPX;
    ipx.protocol = 1000;
    VxTransEndpointAddress ignored;
    EXPECT_LT(VxTransOpenConnection(1, &ipx, 0, nullptr, nullptr, nullptr, &endpoint, &ignored, nullptr), 0);
    EXPECT_EQ(VxTransSend(123456789, nullptr, 0), VXTRANS_E_BAD_PARAMETER);
    EXPECT_EQ(sendText(123456789, "x"), VXTRANS_E_BAD_HANDLE);
    EXPECT_EQ(VxTransPreDispatch(nullptr, 0x8205, 0, nullptr), 0);
}

} // namespace
