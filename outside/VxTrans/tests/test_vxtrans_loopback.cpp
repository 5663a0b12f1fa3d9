// The transport on both ends of loopback exchanges, so that its sockets are exercised wherever it is
// built (over Winsock on Windows): a UDP listener hears an associated endpoint's datagrams with
// their pair, a TCP listener accepts a connecting endpoint, hears its data and sees it end.
#include <gtest/gtest.h>

#include "transport_recorder.h"

namespace {

using namespace vxtest;

class VxTransLoopback : public ::testing::Test {
protected:
    void SetUp() override { Recorder::instance().clear(); }

    // A listener on 127.0.0.1 at a free port, confirmed; 0 on failure.
    uint32_t listen(uint32_t protocol, uint16_t* port)
    {
        uint32_t listener = 0;
        VxTransEndpointAddress local{};
        if (openListener("127.0.0.1", 0, protocol, &listener) != VXTRANS_OK ||
            !recorder.waitNotice(listener, VXTRANS_NOTICE_CONNECTED) ||
            VxTransGetLocalAddress(listener, 1, &local) != VXTRANS_OK)
            return 0;
        *port = portOf(local.address);
        return listener;
    }

    // A listener and an endpoint connected to it; local is the endpoint's own address.
    void connectPair(uint32_t protocol, uint32_t* listener, uint16_t* port, uint32_t* endpoint,
                     VxTransEndpointAddress* local)
    {
        *listener = listen(protocol, port);
        ASSERT_NE(*listener, 0u);
        ASSERT_EQ(openConnection("127.0.0.1", *port, protocol, VXTRANS_MODE_CONNECTION, endpoint, local), VXTRANS_OK);
        ASSERT_TRUE(recorder.waitNotice(*endpoint, VXTRANS_NOTICE_CONNECTED));
    }

    Recorder& recorder = Recorder::instance();
};

TEST_F(VxTransLoopback, UdpListenerHearsAnEndpointsDatagramsWithItsPair)
{
    uint32_t listener = 0, endpoint = 0;
    uint16_t port = 0;
    VxTransEndpointAddress local{};
    ASSERT_NO_FATAL_FAILURE(connectPair(VXTRANS_PROTOCOL_UDP, &listener, &port, &endpoint, &local));
    ASSERT_EQ(sendText(endpoint, "first"), VXTRANS_OK);
    ASSERT_TRUE(recorder.waitNotice(endpoint, VXTRANS_NOTICE_SENT));
    ASSERT_EQ(sendText(endpoint, std::string(65507, 'x')), VXTRANS_OK);
    ASSERT_TRUE(recorder.waitFor(listener, [](auto& events) { return events.size() >= 3; }));
    const std::vector<Event> events = recorder.of(listener);
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[1].data, "first");
    EXPECT_EQ(hostOf(events[1].sender.peer), "127.0.0.1");
    EXPECT_EQ(portOf(events[1].sender.peer), portOf(local.address));
    EXPECT_EQ(portOf(events[1].sender.local), port);
    EXPECT_EQ(events[1].sender.protocol, uint32_t{VXTRANS_PROTOCOL_UDP});
    EXPECT_EQ(events[2].data, std::string(65507, 'x')) << "the largest datagram, whole";
    EXPECT_EQ(VxTransCloseEndpoint(endpoint), VXTRANS_OK);
    EXPECT_EQ(VxTransCloseEndpoint(listener), VXTRANS_OK);
}

TEST_F(VxTransLoopback, TcpListenerAcceptsAnEndpointHearsItsDataAndItsEnd)
{
    uint32_t listener = 0, endpoint = 0;
    uint16_t port = 0;
    VxTransEndpointAddress local{};
    ASSERT_NO_FATAL_FAILURE(connectPair(VXTRANS_PROTOCOL_TCP, &listener, &port, &endpoint, &local));
    // More than one receive's worth, so that the data arrives in several blocks.
    std::string data;
    for (int i = 0; data.size() < 200000; ++i)
        data += std::to_string(i) + ",";
    for (size_t at = 0; at < data.size();) {
        const std::string chunk = data.substr(at, 65535);
        const int32_t sent = sendText(endpoint, chunk);
        if (sent == VXTRANS_E_WOULD_BLOCK) {
            ASSERT_TRUE(recorder.waitNotice(endpoint, VXTRANS_NOTICE_WRITABLE));
            recorder.clear();
            continue;
        }
        ASSERT_EQ(sent, VXTRANS_OK);
        at += chunk.size();
    }
    ASSERT_TRUE(recorder.waitFor(listener, [&](auto& events) { return Recorder::received(events).size() >= data.size(); }));
    EXPECT_EQ(VxTransCloseEndpoint(endpoint), VXTRANS_OK);
    ASSERT_TRUE(recorder.waitFor(listener, [](auto& events) { return !events.empty() && events.back().value < 0; }));
    const std::vector<Event> events = recorder.of(listener);
    EXPECT_EQ(Recorder::received(events), data);
    const Event& accepted = events.front().isReceive ? events.front() : events[1];
    EXPECT_TRUE(accepted.isReceive && accepted.value == 0 && accepted.data.empty()) << "the acceptance";
    EXPECT_EQ(portOf(accepted.sender.peer), portOf(local.address));
    EXPECT_EQ(portOf(accepted.sender.local), port);
    const Event& end = events.back();
    EXPECT_EQ(end.value, VXTRANS_E_CLOSED);
    EXPECT_EQ(end.sender.connection, accepted.sender.connection);
    EXPECT_EQ(VxTransCloseEndpoint(listener), VXTRANS_OK);
}

} // namespace
