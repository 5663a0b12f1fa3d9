// TCP on real loopback sockets: connect, refuse, give up, close and reset, would-block, listeners.
#include <gtest/gtest.h>

#include <windows.h>

#include <fcntl.h>
#include <netinet/tcp.h>
#include <poll.h>

#include "pal/testhooks.h"
#include "plain_socket.h"
#include "transport_recorder.h"

namespace {

using namespace vxtest;

class VxTransTcp : public ::testing::Test {
protected:
    void SetUp() override { Recorder::instance().clear(); }
    Recorder& recorder = Recorder::instance();
};

struct Server {
    PlainSocket socket{SOCK_STREAM, "127.0.0.1", 0, true};
    explicit Server(int backlog = 16) { listen(socket.fd, backlog); }
    int accept() const
    {
        pollfd ready{socket.fd, POLLIN, 0};
        return poll(&ready, 1, 10000) == 1 ? ::accept(socket.fd, nullptr, nullptr) : -1;
    }
};

std::string readSome(int fd, size_t count)
{
    std::string data;
    char chunk[65536];
    while (data.size() < count) {
        pollfd ready{fd, POLLIN, 0};
        if (poll(&ready, 1, 10000) != 1)
            break;
        const ssize_t got = recv(fd, chunk, std::min(sizeof chunk, count - data.size()), 0);
        if (got <= 0)
            break;
        data.append(chunk, static_cast<size_t>(got));
    }
    return data;
}

bool endedWith(const std::vector<Event>& events, int32_t* value)
{
    for (const Event& event : events)
        if (!event.isReceive && event.value < 0) {
            *value = event.value;
            return true;
        }
    return false;
}

TEST_F(VxTransTcp, ConnectsExchangesAndReportsThePeersCloseOnce)
{
    Server server;
    uint32_t endpoint = 0;
    VxTransEndpointAddress local{};
    ASSERT_EQ(openConnection("127.0.0.1", server.socket.port(), VXTRANS_PROTOCOL_TCP, 0, &endpoint, &local), VXTRANS_OK);
    EXPECT_EQ(local.protocol, uint32_t{VXTRANS_PROTOCOL_TCP});
    ASSERT_TRUE(recorder.waitNotice(endpoint, VXTRANS_NOTICE_CONNECTED));
    const int peer = server.accept();
    ASSERT_GE(peer, 0);
    uint16_t chunk = 0;
    VxTransGetMaxChunk(endpoint, &chunk, 0);
    EXPECT_EQ(chunk, 65535);

    ASSERT_EQ(sendText(endpoint, std::string(65535, 'q')), VXTRANS_OK);
    EXPECT_EQ(readSome(peer, 65535), std::string(65535, 'q'));
    ASSERT_TRUE(recorder.waitNotice(endpoint, VXTRANS_NOTICE_SENT));
    ASSERT_EQ(send(peer, "answer", 6, 0), 6);
    ASSERT_TRUE(recorder.waitFor(endpoint, [](auto& events) { return Recorder::received(events) == "answer"; }));
    EXPECT_EQ(portOf(recorder.of(endpoint).back().sender.peer), server.socket.port());

    close(peer);
    int32_t ended = 0;
    ASSERT_TRUE(recorder.waitFor(endpoint, [&](auto& events) { return endedWith(events, &ended); }));
    EXPECT_EQ(ended, VXTRANS_E_CLOSED);
    EXPECT_NE(VXTRANS_LOW_WORD(ended), 12);
    EXPECT_NE(VXTRANS_LOW_WORD(ended), 13);
    EXPECT_EQ(sendText(endpoint, "late"), VXTRANS_E_CLOSED);
    // The probe's notice comes after anything the ended connection could still have reported.
    uint32_t probe = 0;
    ASSERT_EQ(openListener("127.0.0.1", 0, VXTRANS_PROTOCOL_UDP, &probe), VXTRANS_OK);
    ASSERT_TRUE(recorder.waitNotice(probe, VXTRANS_NOTICE_CONNECTED));
    EXPECT_EQ(Recorder::notices(recorder.of(endpoint)), 3u) << "connected, sent, closed: nothing more";
    VxTransCloseEndpoint(probe);
    VxTransCloseEndpoint(endpoint);
}

TEST_F(VxTransTcp, ResetIsANegativeNoticeThatIsNeitherRefusedNorAborted)
{
    Server server;
    uint32_t endpoint = 0;
    ASSERT_EQ(openConnection("127.0.0.1", server.socket.port(), VXTRANS_PROTOCOL_TCP, 0, &endpoint), VXTRANS_OK);
    const int peer = server.accept();
    ASSERT_GE(peer, 0);
    ASSERT_TRUE(recorder.waitNotice(endpoint, VXTRANS_NOTICE_CONNECTED));
    const linger abort{1, 0};
    setsockopt(peer, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    close(peer);
    int32_t ended = 0;
    ASSERT_TRUE(recorder.waitFor(endpoint, [&](auto& events) { return endedWith(events, &ended); }));
    EXPECT_EQ(ended, VXTRANS_E_RESET);
    VxTransCloseEndpoint(endpoint);
}

TEST_F(VxTransTcp, RefusedConnectionIsNoticedWithLowWordTwelve)
{
    uint16_t port;
    {
        PlainSocket probe(SOCK_STREAM, "127.0.0.1", 0);
        port = probe.port();
    }
    uint32_t endpoint = 0;
    ASSERT_EQ(openConnection("127.0.0.1", port, VXTRANS_PROTOCOL_TCP, 0, &endpoint), VXTRANS_OK);
    int32_t ended = 0;
    ASSERT_TRUE(recorder.waitFor(endpoint, [&](auto& events) { return endedWith(events, &ended); }));
    EXPECT_EQ(VXTRANS_LOW_WORD(ended), 12);
    EXPECT_EQ(Recorder::notices(recorder.of(endpoint)), 1u);
    VxTransCloseEndpoint(endpoint);
}

TEST_F(VxTransTcp, ConnectGivesUpAfterTwentySecondsOfTicks)
{
    // A listener whose accept queue is full drops further SYNs: the connect stays pending.
    Server server(0);
    PlainSocket filler(SOCK_STREAM, "127.0.0.1", 0);
    sockaddr_in target = inet("127.0.0.1", server.socket.port());
    ASSERT_EQ(connect(filler.fd, reinterpret_cast<sockaddr*>(&target), sizeof target), 0);
    PlainSocket filler2(SOCK_STREAM, "127.0.0.1", 0);
    fcntl(filler2.fd, F_SETFL, O_NONBLOCK);
    connect(filler2.fd, reinterpret_cast<sockaddr*>(&target), sizeof target);

    palSetTimeScale(0.005); // 20 s of ticks in 100 ms
    const uint32_t start = GetTickCount();
    uint32_t endpoint = 0;
    ASSERT_EQ(openConnection("127.0.0.1", server.socket.port(), VXTRANS_PROTOCOL_TCP, 0, &endpoint), VXTRANS_OK);
    int32_t ended = 0;
    const bool gaveUp = recorder.waitFor(endpoint, [&](auto& events) { return endedWith(events, &ended); });
    const uint32_t elapsed = GetTickCount() - start;
    palSetTimeScale(1.0);
    ASSERT_TRUE(gaveUp);
    EXPECT_EQ(ended, VXTRANS_E_TIMED_OUT);
    EXPECT_GE(elapsed, 20000u);
    VxTransCloseEndpoint(endpoint);
}

TEST_F(VxTransTcp, WouldBlockThenWritable)
{
    Server server;
    uint32_t endpoint = 0;
    ASSERT_EQ(openConnection("127.0.0.1", server.socket.port(), VXTRANS_PROTOCOL_TCP, 0, &endpoint), VXTRANS_OK);
    const int peer = server.accept();
    ASSERT_GE(peer, 0);
    ASSERT_TRUE(recorder.waitNotice(endpoint, VXTRANS_NOTICE_CONNECTED));

    // The peer reads nothing: sends go until the transport refuses one as would-block.
    const std::string chunk(65535, 'w');
    size_t accepted = 0, sentNotices = 0;
    int32_t result = VXTRANS_OK;
    for (int i = 0; i < 2000 && result == VXTRANS_OK; ++i) {
        result = sendText(endpoint, chunk);
        if (result != VXTRANS_OK)
            break;
        ++accepted;
        // The next send waits for this one's SENT, as the protocol library does, unless the
        // kernel kept part of it back (then the next send is refused).
        if (recorder.waitFor(endpoint, [&](auto& events) {
                size_t sent = 0;
                for (const Event& event : events)
                    sent += !event.isReceive && event.value == VXTRANS_NOTICE_SENT;
                return sent > sentNotices;
            }, 200))
            ++sentNotices;
    }
    ASSERT_EQ(result, VXTRANS_E_WOULD_BLOCK);
    EXPECT_FALSE(recorder.waitNotice(endpoint, VXTRANS_NOTICE_WRITABLE, 100)) << "nothing drained yet";

    EXPECT_EQ(readSome(peer, accepted * chunk.size()).size(), accepted * chunk.size())
        << "every accepted byte arrives, in full";
    ASSERT_TRUE(recorder.waitNotice(endpoint, VXTRANS_NOTICE_WRITABLE));
    size_t sent = 0;
    for (const Event& event : recorder.of(endpoint))
        sent += !event.isReceive && event.value == VXTRANS_NOTICE_SENT;
    EXPECT_EQ(sent, accepted) << "each accepted send is confirmed once";
    EXPECT_EQ(sendText(endpoint, "after"), VXTRANS_OK);
    EXPECT_EQ(readSome(peer, 5), "after");
    close(peer);
    VxTransCloseEndpoint(endpoint);
}

// A TCP listener on a free port of 127.0.0.1, confirmed; target: its address. 0 when it failed.
uint32_t listenOnLoopback(Recorder& recorder, VxTransEndpointAddress& local, sockaddr_in& target)
{
    uint32_t listener = 0;
    if (openListener("127.0.0.1", 0, VXTRANS_PROTOCOL_TCP, &listener) != VXTRANS_OK ||
        !recorder.waitNotice(listener, VXTRANS_NOTICE_CONNECTED) || VxTransGetLocalAddress(listener, 1, &local) != VXTRANS_OK)
        return 0;
    target = inet("127.0.0.1", portOf(local.address));
    return listener;
}

TEST_F(VxTransTcp, ListenerReportsEachConnectionsDataWithItsPair)
{
    VxTransEndpointAddress local{};
    sockaddr_in target{};
    const uint32_t listener = listenOnLoopback(recorder, local, target);
    ASSERT_NE(listener, 0u);

    PlainSocket a(SOCK_STREAM, "127.0.0.7", 0), b(SOCK_STREAM, "127.0.0.8", 0);
    ASSERT_EQ(connect(a.fd, reinterpret_cast<sockaddr*>(&target), sizeof target), 0);
    ASSERT_TRUE(recorder.waitFor(listener, [](auto& events) { return events.size() >= 2; }));
    send(a.fd, "event a", 7, 0);
    ASSERT_TRUE(recorder.waitFor(listener, [](auto& events) { return Recorder::received(events) == "event a"; }));
    ASSERT_EQ(connect(b.fd, reinterpret_cast<sockaddr*>(&target), sizeof target), 0);
    ASSERT_TRUE(recorder.waitFor(listener, [](auto& events) { return events.size() >= 4; }));
    send(b.fd, "event b", 7, 0);
    ASSERT_TRUE(recorder.waitFor(listener, [](auto& events) { return Recorder::received(events) == "event aevent b"; }));
    // The notice, a's acceptance (an empty buffer) and data, b's acceptance and data.
    const std::vector<Event> events = recorder.of(listener);
    ASSERT_EQ(events.size(), 5u);
    EXPECT_TRUE(events[1].isReceive && events[1].value == 0 && events[1].data.empty());
    EXPECT_EQ(hostOf(events[1].sender.peer), "127.0.0.7");
    EXPECT_EQ(portOf(events[1].sender.peer), a.port());
    EXPECT_EQ(events[2].data, "event a");
    EXPECT_NE(events[1].sender.connection, 0u);
    EXPECT_EQ(events[2].sender.connection, events[1].sender.connection) << "one handle per connection";
    EXPECT_NE(events[3].sender.connection, events[1].sender.connection);
    EXPECT_NE(events[3].sender.connection, listener);
    EXPECT_EQ(hostOf(events[4].sender.peer), "127.0.0.8");
    EXPECT_EQ(portOf(events[4].sender.local), portOf(local.address));
    EXPECT_EQ(events[4].sender.protocol, uint32_t{VXTRANS_PROTOCOL_TCP});

    uint32_t second = 0;
    EXPECT_EQ(openListener("127.0.0.1", portOf(local.address), VXTRANS_PROTOCOL_TCP, &second), VXTRANS_E_IN_USE);
    EXPECT_EQ(VxTransCloseEndpoint(listener), VXTRANS_OK);
    EXPECT_EQ(readSome(a.fd, 1), "") << "closing the listener closes its connections";
}

// Each accepted connection ends once, with its pair; closing one closes it alone.
TEST_F(VxTransTcp, AnAcceptedConnectionEndsWithItsPairAndClosesAlone)
{
    VxTransEndpointAddress local{};
    sockaddr_in target{};
    const uint32_t listener = listenOnLoopback(recorder, local, target);
    ASSERT_NE(listener, 0u);
    const auto accepted = [&](size_t count) {
        return recorder.waitFor(listener, [count](auto& events) {
            size_t found = 0;
            for (const Event& event : events)
                found += event.isReceive && event.value == 0 && event.data.empty();
            return found >= count;
        });
    };
    const auto endOf = [&](uint32_t connection, int32_t* value) {
        return recorder.waitFor(listener, [connection, value](auto& events) {
            for (const Event& event : events) {
                if (event.isReceive && event.value < 0 && event.hasSender && event.sender.connection == connection) {
                    *value = event.value;
                    return true;
                }
            }
            return false;
        });
    };
    PlainSocket closing(SOCK_STREAM, "127.0.0.7", 0), resetting(SOCK_STREAM, "127.0.0.7", 0),
        closed(SOCK_STREAM, "127.0.0.8", 0);
    for (PlainSocket* socket_ : {&closing, &resetting, &closed}) {
        ASSERT_EQ(connect(socket_->fd, reinterpret_cast<sockaddr*>(&target), sizeof target), 0);
        ASSERT_TRUE(accepted(socket_ == &closing ? 1 : socket_ == &resetting ? 2 : 3));
    }
    std::vector<uint32_t> handles;
    for (const Event& event : recorder.of(listener)) {
        if (event.isReceive && event.value == 0)
            handles.push_back(event.sender.connection);
    }
    ASSERT_EQ(handles.size(), 3u);

    shutdown(closing.fd, SHUT_WR);
    int32_t value = 0;
    ASSERT_TRUE(endOf(handles[0], &value));
    EXPECT_EQ(value, VXTRANS_E_CLOSED);
    const linger abort = {1, 0};
    setsockopt(resetting.fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    close(resetting.fd);
    resetting.fd = -1;
    ASSERT_TRUE(endOf(handles[1], &value));
    EXPECT_EQ(value, VXTRANS_E_RESET);

    EXPECT_EQ(VxTransCloseEndpoint(handles[2]), VXTRANS_OK);
    EXPECT_EQ(readSome(closed.fd, 1), "") << "the connection is closed";
    EXPECT_EQ(VxTransCloseEndpoint(handles[2]), VXTRANS_E_BAD_HANDLE) << "and forgotten";
    PlainSocket after(SOCK_STREAM, "127.0.0.9", 0);
    ASSERT_EQ(connect(after.fd, reinterpret_cast<sockaddr*>(&target), sizeof target), 0);
    ASSERT_TRUE(accepted(4)) << "the listener goes on";
    size_t ends = 0;
    for (const Event& event : recorder.of(listener))
        ends += event.isReceive && event.value < 0;
    EXPECT_EQ(ends, 2u) << "nothing of a connection closed by the caller";
    EXPECT_EQ(VxTransCloseEndpoint(listener), VXTRANS_OK);
}

} // namespace
