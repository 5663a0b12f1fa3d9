#include <gtest/gtest.h>

#include <winsock2.h>
#include <ws2tcpip.h>

#include <poll.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <ctime>
#include <memory>
#include <thread>
#include <vector>

#include "pal/testhooks.h"

namespace {

using Clock = std::chrono::steady_clock;

class WinsockEvents : public ::testing::Test {
protected:
    void SetUp() override
    {
        WSADATA data;
        ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    }
    void TearDown() override { WSACleanup(); }
};

sockaddr_in loopback(USHORT port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// A socket bound to 127.0.0.1:0 (listening when backlog >= 0); the port goes to `port`.
SOCKET boundSocket(USHORT& port, int backlog = 8, int receiveBuffer = 0)
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    if (receiveBuffer)
        setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char*>(&receiveBuffer), sizeof(receiveBuffer));
    sockaddr_in local = loopback(0);
    EXPECT_EQ(bind(s, reinterpret_cast<sockaddr*>(&local), sizeof(local)), 0);
    if (backlog >= 0) {
        EXPECT_EQ(listen(s, backlog), 0);
    }
    INT length = sizeof(local);
    getsockname(s, reinterpret_cast<sockaddr*>(&local), &length);
    port = ntohs(local.sin_port);
    return s;
}

INT connectTo(SOCKET s, USHORT port)
{
    sockaddr_in remote = loopback(port);
    return connect(s, reinterpret_cast<sockaddr*>(&remote), sizeof(remote));
}

SOCKET blockingClient(USHORT port)
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    EXPECT_EQ(connectTo(s, port), 0) << WSAGetLastError();
    return s;
}

// A socket's event selection and everything WSAEnumNetworkEvents has reported for it.
class Recorder {
public:
    Recorder(SOCKET s, LONG events) : socket_(s), event_(WSACreateEvent())
    {
        EXPECT_EQ(WSAEventSelect(s, event_, events), 0);
    }
    ~Recorder() { WSACloseEvent(event_); }
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    WSAEVENT event() const { return event_; }

    // Enumerates what is recorded now.
    LONG take()
    {
        WSANETWORKEVENTS found{};
        EXPECT_EQ(WSAEnumNetworkEvents(socket_, event_, &found), 0);
        for (int bit = 0; bit < FD_MAX_EVENTS; ++bit)
            if (found.lNetworkEvents & (1 << bit)) {
                ++counts_[bit];
                errors_[bit] = found.iErrorCode[bit];
            }
        seen_ |= found.lNetworkEvents;
        pending_ |= found.lNetworkEvents;
        return found.lNetworkEvents;
    }

    // Waits until every event of `wanted` has been reported since the last wait that took it.
    // Wait times pass through the time scale, so a scaled wait may end early: wait again.
    bool waitFor(LONG wanted, DWORD timeoutMs = 20000)
    {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while ((pending_ & wanted) != wanted) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0)
                return false;
            if (WSAWaitForMultipleEvents(1, &event_, FALSE, static_cast<DWORD>(left), FALSE) == WSA_WAIT_EVENT_0)
                take();
        }
        pending_ &= ~wanted;
        return true;
    }

    // Nothing gets recorded within the time.
    bool quietFor(DWORD milliseconds)
    {
        return WSAWaitForMultipleEvents(1, &event_, FALSE, milliseconds, FALSE) == WSA_WAIT_TIMEOUT && take() == 0;
    }

    LONG seen() const { return seen_; }
    INT error(int bit) const { return errors_[bit]; }
    int count(int bit) const { return counts_[bit]; }

private:
    SOCKET socket_;
    WSAEVENT event_;
    LONG seen_ = 0;
    LONG pending_ = 0;
    std::array<INT, FD_MAX_EVENTS> errors_{};
    std::array<int, FD_MAX_EVENTS> counts_{};
};

TEST_F(WinsockEvents, ConnectRecordsFdConnectAndOneFdWrite)
{
    USHORT port;
    SOCKET listener = boundSocket(port);
    SOCKET client = socket(AF_INET, SOCK_STREAM, 0);
    Recorder events(client, FD_CONNECT | FD_WRITE | FD_CLOSE);
    ASSERT_EQ(connectTo(client, port), SOCKET_ERROR);
    ASSERT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
    ASSERT_TRUE(events.waitFor(FD_CONNECT | FD_WRITE));
    EXPECT_EQ(events.error(FD_CONNECT_BIT), 0);
    SOCKET server = accept(listener, nullptr, nullptr);

    char data[100] = {};
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(send(client, data, sizeof(data), 0), 100);
    EXPECT_TRUE(events.quietFor(200)) << "FD_WRITE comes again only after a would-block";
    EXPECT_EQ(events.count(FD_WRITE_BIT), 1);
    EXPECT_EQ(events.count(FD_CONNECT_BIT), 1);
    EXPECT_EQ(connectTo(client, port), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEISCONN);
    closesocket(server);
    closesocket(client);
    closesocket(listener);
}

TEST_F(WinsockEvents, RefusedConnectRecordsOnlyFdConnectWith10061)
{
    USHORT port;
    SOCKET refusing = boundSocket(port, -1);
    SOCKET client = socket(AF_INET, SOCK_STREAM, 0);
    Recorder events(client, FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE);
    ASSERT_EQ(connectTo(client, port), SOCKET_ERROR);
    ASSERT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
    ASSERT_TRUE(events.waitFor(FD_CONNECT));
    EXPECT_EQ(events.error(FD_CONNECT_BIT), 10061);
    EXPECT_TRUE(events.quietFor(100));
    EXPECT_EQ(events.seen(), FD_CONNECT);
    INT error = 0;
    INT length = sizeof(error);
    ASSERT_EQ(getsockopt(client, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length), 0);
    EXPECT_EQ(error, WSAECONNREFUSED);
    ASSERT_EQ(getsockopt(client, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length), 0);
    EXPECT_EQ(error, 0) << "read once";
    closesocket(client);
    closesocket(refusing);
}

TEST_F(WinsockEvents, SelectingMakesTheSocketNonBlockingAndRecordsWhatHoldsAtOnce)
{
    USHORT port;
    SOCKET listener = boundSocket(port);
    SOCKET client = blockingClient(port);
    SOCKET server = accept(listener, nullptr, nullptr);
    Recorder events(client, FD_READ | FD_WRITE);
    EXPECT_EQ(events.take(), FD_WRITE) << "a connected socket is writable when the selection is made";

    char byte;
    EXPECT_EQ(recv(client, &byte, 1, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
    u_long blocking = 0;
    EXPECT_EQ(ioctlsocket(client, FIONBIO, &blocking), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEINVAL);
    EXPECT_EQ(WSAEventSelect(client, nullptr, FD_READ), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEINVAL);
    EXPECT_EQ(WSAEventSelect(client, nullptr, 0), 0);
    EXPECT_EQ(ioctlsocket(client, FIONBIO, &blocking), 0);
    EXPECT_EQ(send(server, "z", 1, 0), 1);
    EXPECT_EQ(recv(client, &byte, 1, 0), 1) << "blocking again";
    closesocket(server);
    closesocket(client);
    closesocket(listener);
}

TEST_F(WinsockEvents, FdReadIsRecordedAgainOnlyAfterRecv)
{
    USHORT port;
    SOCKET listener = boundSocket(port);
    SOCKET client = blockingClient(port);
    SOCKET server = accept(listener, nullptr, nullptr);
    Recorder events(client, FD_READ | FD_CLOSE);

    ASSERT_EQ(send(server, "0123456789", 10, 0), 10);
    ASSERT_TRUE(events.waitFor(FD_READ));
    ASSERT_EQ(send(server, "abcdefghij", 10, 0), 10);
    EXPECT_TRUE(events.quietFor(200)) << "more data does not record FD_READ before a recv";
    char buffer[32];
    ASSERT_EQ(recv(client, buffer, 5, 0), 5);
    EXPECT_TRUE(events.waitFor(FD_READ)) << "data remains after the recv";
    EXPECT_EQ(events.count(FD_READ_BIT), 2);
    EXPECT_EQ(recv(client, buffer, sizeof(buffer), 0), 15);
    EXPECT_TRUE(events.quietFor(200));
    closesocket(server);
    closesocket(client);
    closesocket(listener);
}

TEST_F(WinsockEvents, FdCloseAfterLocalShutdownWaitsForTheUnreadData)
{
    USHORT port;
    SOCKET listener = boundSocket(port);
    SOCKET client = blockingClient(port);
    SOCKET server = accept(listener, nullptr, nullptr);
    Recorder events(client, FD_READ | FD_CLOSE);

    ASSERT_EQ(shutdown(client, SD_SEND), 0);
    char buffer[8];
    ASSERT_EQ(recv(server, buffer, sizeof(buffer), 0), 0);
    ASSERT_EQ(send(server, "bye", 3, 0), 3);
    ASSERT_EQ(closesocket(server), 0);

    ASSERT_TRUE(events.waitFor(FD_READ));
    EXPECT_TRUE(events.quietFor(200));
    EXPECT_EQ(events.seen() & FD_CLOSE, 0) << "FD_CLOSE waits until the data before it is read";
    ASSERT_EQ(recv(client, buffer, sizeof(buffer), 0), 3);
    ASSERT_TRUE(events.waitFor(FD_CLOSE));
    EXPECT_EQ(events.error(FD_CLOSE_BIT), 0);
    EXPECT_EQ(recv(client, buffer, sizeof(buffer), 0), 0);
    closesocket(client);
    closesocket(listener);
}

TEST_F(WinsockEvents, GracefulCloseSequenceWaitsForThePeersLateClose)
{
    USHORT port;
    SOCKET listener = boundSocket(port);
    SOCKET client = socket(AF_INET, SOCK_STREAM, 0);
    Recorder events(client, FD_CONNECT | FD_WRITE | FD_CLOSE);
    connectTo(client, port);
    ASSERT_TRUE(events.waitFor(FD_CONNECT | FD_WRITE));
    SOCKET server = accept(listener, nullptr, nullptr);

    // shutdown(SD_SEND), drain, shutdown(SD_BOTH), then wait for the peer's close.
    ASSERT_EQ(shutdown(client, SD_SEND), 0);
    char buffer[256];
    EXPECT_EQ(recv(client, buffer, sizeof(buffer), 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
    ASSERT_EQ(shutdown(client, SD_BOTH), 0);
    EXPECT_TRUE(events.quietFor(200)) << "the peer has not closed yet";

    ASSERT_EQ(recv(server, buffer, sizeof(buffer), 0), 0);
    ASSERT_EQ(closesocket(server), 0);
    ASSERT_TRUE(events.waitFor(FD_CLOSE));
    EXPECT_EQ(events.error(FD_CLOSE_BIT), 0);
    EXPECT_EQ(events.count(FD_CLOSE_BIT), 1);
    EXPECT_EQ(closesocket(client), 0);
    closesocket(listener);
}

TEST_F(WinsockEvents, PeerResetRecordsFdCloseWith10054)
{
    USHORT port;
    SOCKET listener = boundSocket(port);
    SOCKET client = blockingClient(port);
    SOCKET server = accept(listener, nullptr, nullptr);
    Recorder events(client, FD_WRITE | FD_CONNECT | FD_CLOSE);
    ASSERT_TRUE(events.waitFor(FD_WRITE));

    linger abortive{1, 0};
    setsockopt(server, SOL_SOCKET, SO_LINGER, reinterpret_cast<char*>(&abortive), sizeof(abortive));
    ASSERT_EQ(closesocket(server), 0);
    ASSERT_TRUE(events.waitFor(FD_CLOSE));
    EXPECT_EQ(events.error(FD_CLOSE_BIT), WSAECONNRESET);
    EXPECT_EQ(send(client, "x", 1, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAECONNRESET);
    EXPECT_TRUE(events.quietFor(100));
    closesocket(client);
    closesocket(listener);
}

// Reads up to `limit` bytes, or to the end of the data; false at the end.
bool readInto(SOCKET s, size_t limit, std::vector<char>& received)
{
    char buffer[65536];
    for (size_t got = 0; got < limit;) {
        INT n = recv(s, buffer, static_cast<INT>(std::min(sizeof(buffer), limit - got)), 0);
        if (n <= 0)
            return false;
        received.insert(received.end(), buffer, buffer + n);
        got += n;
    }
    return true;
}

// Reads in phases and stalls between them (it stops reading, so the sender blocks) until it is
// told to resume; then reads to the end and closes.
struct StallingSink {
    StallingSink(SOCKET s, std::vector<size_t> readBeforeStalls) : socket(s), phases(std::move(readBeforeStalls)) {}

    SOCKET socket;
    std::vector<size_t> phases; // bytes read before each stall
    HANDLE stalled = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HANDLE resume = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    std::vector<char> received;

    ~StallingSink()
    {
        CloseHandle(stalled);
        CloseHandle(resume);
    }

    void run()
    {
        for (size_t phase : phases) {
            if (!readInto(socket, phase, received))
                break;
            SetEvent(stalled);
            WaitForSingleObject(resume, 20000);
        }
        readInto(socket, SIZE_MAX, received);
        closesocket(socket);
    }
};

TEST_F(WinsockEvents, LargeTransferRearmsFdWriteAfterEachWouldBlockOnly)
{
    constexpr size_t kTotal = 4 << 20;
    std::vector<char> data(kTotal);
    for (size_t i = 0; i < kTotal; ++i)
        data[i] = static_cast<char>(i * 7 % 251);

    USHORT port;
    SOCKET listener = boundSocket(port, 8, 16384);
    SOCKET client = socket(AF_INET, SOCK_STREAM, 0);
    INT sendBuffer = 16384;
    setsockopt(client, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<char*>(&sendBuffer), sizeof(sendBuffer));
    Recorder events(client, FD_CONNECT | FD_WRITE | FD_CLOSE);
    connectTo(client, port);
    ASSERT_TRUE(events.waitFor(FD_CONNECT | FD_WRITE));

    StallingSink sink(accept(listener, nullptr, nullptr), {0, 1 << 20, 1 << 20});
    std::thread reader([&] { sink.run(); });
    const HANDLE waits[2] = {events.event(), sink.stalled};
    int wouldBlocks = 0;
    int stalls = 0;
    // Waits for one of `wanted`, letting the sink go on whenever it stalls.
    auto waitForSocket = [&](LONG wanted) {
        for (;;) {
            DWORD which = WSAWaitForMultipleEvents(2, waits, FALSE, 20000, FALSE);
            if (which == WSA_WAIT_EVENT_0 + 1) {
                ++stalls;
                SetEvent(sink.resume);
            } else if (which != WSA_WAIT_EVENT_0 || (events.take() & wanted)) {
                return which == WSA_WAIT_EVENT_0;
            }
        }
    };

    size_t sent = 0;
    while (sent < kTotal) {
        INT n = send(client, data.data() + sent, static_cast<INT>(std::min<size_t>(65536, kTotal - sent)), 0);
        if (n > 0) {
            sent += n;
            continue;
        }
        ASSERT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
        ++wouldBlocks;
        ASSERT_TRUE(waitForSocket(FD_WRITE));
        ASSERT_EQ(events.seen() & FD_CLOSE, 0);
    }
    EXPECT_EQ(events.count(FD_WRITE_BIT), wouldBlocks + 1) << "one FD_WRITE after connect, one per would-block";
    ASSERT_EQ(shutdown(client, SD_SEND), 0);
    ASSERT_TRUE(waitForSocket(FD_CLOSE));
    EXPECT_EQ(events.error(FD_CLOSE_BIT), 0);
    reader.join();
    EXPECT_EQ(stalls, 3);
    EXPECT_GE(wouldBlocks, 3);
    EXPECT_TRUE(sink.received == data);
    closesocket(client);
    closesocket(listener);
}

TEST_F(WinsockEvents, PeerResetMidSendEndsTheTransferWith10054)
{
    USHORT port;
    SOCKET listener = boundSocket(port, 8, 16384);
    SOCKET client = socket(AF_INET, SOCK_STREAM, 0);
    Recorder events(client, FD_CONNECT | FD_WRITE | FD_CLOSE);
    connectTo(client, port);
    ASSERT_TRUE(events.waitFor(FD_CONNECT | FD_WRITE));
    SOCKET server = accept(listener, nullptr, nullptr);
    std::thread resetter([server] {
        std::vector<char> received;
        readInto(server, 100000, received);
        linger abortive{1, 0};
        setsockopt(server, SOL_SOCKET, SO_LINGER, reinterpret_cast<char*>(&abortive), sizeof(abortive));
        closesocket(server);
    });

    std::vector<char> data(65536, 'r');
    INT error = 0;
    for (size_t sent = 0; sent < (256u << 20) && !error;) {
        INT n = send(client, data.data(), static_cast<INT>(data.size()), 0);
        if (n > 0) {
            sent += n;
        } else if (WSAGetLastError() != WSAEWOULDBLOCK) {
            error = WSAGetLastError();
        } else {
            WSAEVENT event = events.event();
            ASSERT_EQ(WSAWaitForMultipleEvents(1, &event, FALSE, 20000, FALSE), WSA_WAIT_EVENT_0);
            if (events.take() & FD_CLOSE)
                error = events.error(FD_CLOSE_BIT);
        }
    }
    resetter.join();
    EXPECT_EQ(error, WSAECONNRESET);
    ASSERT_TRUE(events.waitFor(FD_CLOSE));
    EXPECT_EQ(events.error(FD_CLOSE_BIT), WSAECONNRESET);
    EXPECT_EQ(send(client, data.data(), 1, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAECONNRESET);
    closesocket(client);
    closesocket(listener);
}

TEST_F(WinsockEvents, AcceptIsRecordedAgainAfterAcceptAndTheAcceptedSocketInheritsTheSelection)
{
    USHORT port;
    SOCKET listener = boundSocket(port);
    Recorder events(listener, FD_ACCEPT | FD_READ | FD_WRITE | FD_CLOSE);
    SOCKET first = blockingClient(port);
    ASSERT_TRUE(events.waitFor(FD_ACCEPT));
    SOCKET accepted = accept(listener, nullptr, nullptr);
    ASSERT_NE(accepted, INVALID_SOCKET);

    WSAEVENT event = events.event();
    WSANETWORKEVENTS found{};
    ASSERT_EQ(WSAWaitForMultipleEvents(1, &event, FALSE, 20000, FALSE), WSA_WAIT_EVENT_0);
    ASSERT_EQ(WSAEnumNetworkEvents(accepted, events.event(), &found), 0);
    EXPECT_EQ(found.lNetworkEvents, FD_WRITE) << "established: FD_WRITE on the listener's event";
    char byte;
    EXPECT_EQ(recv(accepted, &byte, 1, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK) << "non-blocking like its listener";
    ASSERT_EQ(send(first, "q", 1, 0), 1);
    ASSERT_EQ(WSAWaitForMultipleEvents(1, &event, FALSE, 20000, FALSE), WSA_WAIT_EVENT_0);
    ASSERT_EQ(WSAEnumNetworkEvents(accepted, events.event(), &found), 0);
    EXPECT_EQ(found.lNetworkEvents, FD_READ);

    SOCKET second = blockingClient(port);
    EXPECT_TRUE(events.waitFor(FD_ACCEPT) && events.count(FD_ACCEPT_BIT) == 2);
    for (SOCKET s : {first, second, accepted, listener})
        closesocket(s);
}

TEST_F(WinsockEvents, EventObjectsAndMultipleWaits)
{
    WSAEVENT events[3] = {WSACreateEvent(), WSACreateEvent(), WSACreateEvent()};
    ASSERT_NE(events[0], WSA_INVALID_EVENT);
    EXPECT_EQ(WSAWaitForMultipleEvents(3, events, FALSE, 0, FALSE), WSA_WAIT_TIMEOUT);
    ASSERT_TRUE(WSASetEvent(events[2]));
    EXPECT_EQ(WSAWaitForMultipleEvents(3, events, FALSE, WSA_INFINITE, FALSE), WSA_WAIT_EVENT_0 + 2);
    EXPECT_EQ(WSAWaitForMultipleEvents(3, events, FALSE, 0, FALSE), WSA_WAIT_EVENT_0 + 2) << "manual reset";
    EXPECT_EQ(WSAWaitForMultipleEvents(3, events, TRUE, 50, FALSE), WSA_WAIT_TIMEOUT);
    WSASetEvent(events[0]);
    WSASetEvent(events[1]);
    EXPECT_EQ(WSAWaitForMultipleEvents(3, events, TRUE, 0, FALSE), WSA_WAIT_EVENT_0);
    ASSERT_TRUE(WSAResetEvent(events[0]));
    EXPECT_EQ(WSAWaitForMultipleEvents(1, events, FALSE, 0, FALSE), WSA_WAIT_TIMEOUT);

    EXPECT_EQ(WSAWaitForMultipleEvents(0, events, FALSE, 0, FALSE), WSA_WAIT_FAILED);
    EXPECT_EQ(WSAGetLastError(), WSA_INVALID_PARAMETER);
    ASSERT_TRUE(WSACloseEvent(events[1]));
    EXPECT_EQ(WSAWaitForMultipleEvents(3, events, FALSE, 0, FALSE), WSA_WAIT_FAILED);
    EXPECT_EQ(WSAGetLastError(), WSA_INVALID_HANDLE);
    EXPECT_FALSE(WSASetEvent(events[1]));

    // Enumerating resets the event it is given, even with nothing recorded.
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    WSANETWORKEVENTS found{};
    EXPECT_EQ(WSAEnumNetworkEvents(s, events[2], &found), 0);
    EXPECT_EQ(found.lNetworkEvents, 0);
    EXPECT_EQ(WSAWaitForMultipleEvents(1, &events[2], FALSE, 0, FALSE), WSA_WAIT_TIMEOUT);
    EXPECT_EQ(WSAEnumNetworkEvents(s, events[2], nullptr), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEFAULT);
    EXPECT_EQ(WSAEnumNetworkEvents(INVALID_SOCKET, events[2], &found), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
    closesocket(s);
    WSACloseEvent(events[0]);
    WSACloseEvent(events[2]);
}

TEST_F(WinsockEvents, ConnectWithoutAnswerTimesOutAfterTheScaledWindowsTime)
{
    ASSERT_TRUE(palSetTimeScale(0.05)); // 21 s become 1.05 s
    USHORT port;
    SOCKET listener = boundSocket(port, 0);
    Recorder accepts(listener, FD_ACCEPT);
    SOCKET filler = blockingClient(port);
    ASSERT_TRUE(accepts.waitFor(FD_ACCEPT)) << "the one queued connection fills the backlog";

    SOCKET client = socket(AF_INET, SOCK_STREAM, 0);
    Recorder events(client, FD_CONNECT | FD_WRITE | FD_CLOSE);
    const auto start = Clock::now();
    ASSERT_EQ(connectTo(client, port), SOCKET_ERROR);
    ASSERT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
    ASSERT_TRUE(events.waitFor(FD_CONNECT));
    const auto waited = Clock::now() - start;
    EXPECT_EQ(events.error(FD_CONNECT_BIT), WSAETIMEDOUT);
    EXPECT_GE(waited, std::chrono::milliseconds(1000));
    EXPECT_EQ(events.seen(), FD_CONNECT);

    SOCKET blocking = socket(AF_INET, SOCK_STREAM, 0);
    EXPECT_EQ(connectTo(blocking, port), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAETIMEDOUT);
    palSetTimeScale(1.0);
    for (SOCKET s : {blocking, client, filler, listener})
        closesocket(s);
}

// ---- Windows send semantics on non-blocking sockets

constexpr INT kMonitorSendBuffer = 16384;
constexpr size_t kChunk = 64 * 1024;
// More than the system takes from one send while the peer does not read, and less than that plus
// the backlog's 1 MiB: accepted whole, with part of it in the backlog.
constexpr size_t kOvercommittingSend = 1536 * 1024;

std::vector<char> pattern(size_t size, int seed)
{
    std::vector<char> data(size);
    for (size_t i = 0; i < size; ++i)
        data[i] = static_cast<char>(i * 131 + i / 251 + seed);
    return data;
}

// Reads to the end of the data: 0 at the peer's end, else the WSA error that ended it.
INT readToEnd(SOCKET s, std::vector<char>& received)
{
    char buffer[65536];
    for (;;) {
        INT n = recv(s, buffer, sizeof(buffer), 0);
        if (n <= 0)
            return n == 0 ? 0 : WSAGetLastError();
        received.insert(received.end(), buffer, buffer + n);
    }
}

// Processor time of the whole process, in milliseconds.
double processorMilliseconds()
{
    return 1000.0 * static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

// The monitor's side of a connection (non-blocking, SO_SNDBUF 16384, FD_CONNECT | FD_WRITE |
// FD_CLOSE recorded) and a blocking peer with a small receive buffer that reads only when told.
class WinsockSend : public WinsockEvents {
protected:
    void SetUp() override
    {
        WinsockEvents::SetUp();
        USHORT port;
        listener = boundSocket(port, 8, 16384);
        client = socket(AF_INET, SOCK_STREAM, 0);
        INT size = kMonitorSendBuffer;
        ASSERT_EQ(setsockopt(client, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<char*>(&size), sizeof(size)), 0);
        events = std::make_unique<Recorder>(client, FD_CONNECT | FD_WRITE | FD_CLOSE);
        connectTo(client, port);
        ASSERT_TRUE(events->waitFor(FD_CONNECT | FD_WRITE));
        server = accept(listener, nullptr, nullptr);
        ASSERT_NE(server, INVALID_SOCKET);
    }
    void TearDown() override
    {
        if (reader.joinable())
            reader.join();
        for (SOCKET s : {client, server, listener})
            if (s != INVALID_SOCKET)
                closesocket(s);
        events.reset();
        WinsockEvents::TearDown();
    }

    // The peer reads `limit` bytes, or to the end of the data, in the background.
    void startReading(size_t limit = SIZE_MAX)
    {
        reader = std::thread([this, limit] {
            readError = limit == SIZE_MAX ? readToEnd(server, received) : (readInto(server, limit, received) ? 0 : -1);
        });
    }
    INT finishReading()
    {
        reader.join();
        return readError;
    }

    // One send while the peer does not read: accepted whole, with a backlog left to go out.
    void sendIntoBacklog(const std::vector<char>& data)
    {
        ASSERT_EQ(send(client, data.data(), static_cast<INT>(data.size()), 0), static_cast<INT>(data.size()));
        EXPECT_EQ(send(client, data.data(), 1, 0), SOCKET_ERROR) << "the backlog waits";
        EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
    }

    SOCKET listener = INVALID_SOCKET;
    SOCKET client = INVALID_SOCKET;
    SOCKET server = INVALID_SOCKET;
    std::unique_ptr<Recorder> events;
    std::thread reader;
    std::vector<char> received;
    INT readError = -1;
};

TEST_F(WinsockSend, SendsLargerThanTheSendBufferAreAcceptedWholeAndArriveInOrder)
{
    INT size = 0;
    INT length = sizeof(size);
    ASSERT_EQ(getsockopt(client, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<char*>(&size), &length), 0);
    EXPECT_EQ(size, kMonitorSendBuffer) << "reads back as set";

    const std::vector<char> data = pattern(256 * kChunk, 1);
    startReading();
    EXPECT_EQ(send(client, data.data(), kChunk, 0), static_cast<INT>(kChunk)) << "writable: taken whole at once";
    int wouldBlocks = 0;
    for (size_t sent = kChunk; sent < data.size();) {
        INT n = send(client, data.data() + sent, kChunk, 0);
        if (n == SOCKET_ERROR) {
            ASSERT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
            ++wouldBlocks;
            ASSERT_TRUE(events->waitFor(FD_WRITE));
            continue;
        }
        ASSERT_EQ(n, static_cast<INT>(kChunk)) << "never taken in part";
        sent += kChunk;
    }
    ASSERT_EQ(shutdown(client, SD_SEND), 0);
    EXPECT_EQ(finishReading(), 0);
    EXPECT_TRUE(received == data);
    EXPECT_EQ(events->count(FD_WRITE_BIT), wouldBlocks + 1);
}

TEST_F(WinsockSend, ASendWhileTheBacklogWaitsWouldBlockWithoutSpinningAndFdWriteComesOnceItIsOut)
{
    const std::vector<char> data = pattern(kOvercommittingSend, 2);
    sendIntoBacklog(data);
    const double processorBefore = processorMilliseconds();
    EXPECT_TRUE(events->quietFor(500)) << "nothing to record while the peer reads nothing";
    EXPECT_LT(processorMilliseconds() - processorBefore, 250.0) << "waiting for the peer costs no processor";
    EXPECT_EQ(send(client, data.data(), kChunk, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);

    startReading(data.size());
    ASSERT_TRUE(events->waitFor(FD_WRITE)) << "the backlog has gone out";
    EXPECT_EQ(finishReading(), 0);
    EXPECT_TRUE(received == data);
    EXPECT_TRUE(events->quietFor(200));
    EXPECT_EQ(events->count(FD_WRITE_BIT), 2) << "after the connect, and once after the would-blocks";
    EXPECT_EQ(send(client, data.data(), kChunk, 0), static_cast<INT>(kChunk));
}

TEST_F(WinsockSend, AWouldBlockGetsItsFdWriteOnceThePeerHasTakenALittle)
{
    const std::vector<char> data = pattern(kChunk, 3);
    int sends = 0;
    while (send(client, data.data(), static_cast<INT>(data.size()), 0) != SOCKET_ERROR)
        ASSERT_LT(++sends, 1000) << "a peer that reads nothing holds the sender back";
    ASSERT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
    startReading(3 * kChunk); // far less than a third of the system's buffer
    EXPECT_TRUE(events->waitFor(FD_WRITE));
    EXPECT_EQ(finishReading(), 0);
}

TEST_F(WinsockSend, ASendBeyondTheBacklogLimitIsAcceptedInPart)
{
    const std::vector<char> data = pattern(4 << 20, 3);
    INT taken = send(client, data.data(), static_cast<INT>(data.size()), 0);
    EXPECT_GT(taken, 1 << 20) << "what the system took and 1 MiB more";
    ASSERT_LT(taken, static_cast<INT>(data.size()));
    EXPECT_EQ(send(client, data.data() + taken, static_cast<INT>(data.size()) - taken, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
    startReading(static_cast<size_t>(taken));
    ASSERT_TRUE(events->waitFor(FD_WRITE)) << "writable again once the backlog has gone out";
    EXPECT_EQ(finishReading(), 0);
    EXPECT_TRUE(std::equal(received.begin(), received.end(), data.begin()));
    EXPECT_EQ(received.size(), static_cast<size_t>(taken));
}

TEST_F(WinsockSend, ShutdownAfterABackloggedSendEndsTheDataAfterItsLastByte)
{
    const std::vector<char> data = pattern(kOvercommittingSend, 4);
    sendIntoBacklog(data);
    ASSERT_EQ(shutdown(client, SD_SEND), 0);
    EXPECT_EQ(send(client, data.data(), 1, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAESHUTDOWN);
    startReading();
    EXPECT_EQ(finishReading(), 0) << "the end of the data";
    EXPECT_TRUE(received == data);
    ASSERT_EQ(closesocket(server), 0);
    server = INVALID_SOCKET;
    ASSERT_TRUE(events->waitFor(FD_CLOSE));
    EXPECT_EQ(events->error(FD_CLOSE_BIT), 0);
}

TEST_F(WinsockSend, ClosingAfterABackloggedSendStillDeliversEverything)
{
    const std::vector<char> data = pattern(kOvercommittingSend, 5);
    sendIntoBacklog(data);
    ASSERT_EQ(closesocket(client), 0) << "returns at once";
    client = INVALID_SOCKET;
    startReading();
    EXPECT_EQ(finishReading(), 0);
    EXPECT_TRUE(received == data);
}

TEST_F(WinsockSend, AbortiveLingerDropsTheBacklogAndResetsTheConnection)
{
    const std::vector<char> data = pattern(kOvercommittingSend, 6);
    sendIntoBacklog(data);
    linger abortive{1, 0};
    ASSERT_EQ(setsockopt(client, SOL_SOCKET, SO_LINGER, reinterpret_cast<char*>(&abortive), sizeof(abortive)), 0);
    ASSERT_EQ(closesocket(client), 0);
    client = INVALID_SOCKET;
    startReading();
    EXPECT_EQ(finishReading(), WSAECONNRESET);
    EXPECT_LT(received.size(), data.size());
    EXPECT_TRUE(std::equal(received.begin(), received.end(), data.begin()));
}

TEST_F(WinsockSend, APeerResetWhileTheBacklogGoesOutIsReportedAs10054)
{
    const std::vector<char> data = pattern(kOvercommittingSend, 7);
    sendIntoBacklog(data);
    linger abortive{1, 0};
    ASSERT_EQ(setsockopt(server, SOL_SOCKET, SO_LINGER, reinterpret_cast<char*>(&abortive), sizeof(abortive)), 0);
    ASSERT_EQ(closesocket(server), 0);
    server = INVALID_SOCKET;
    ASSERT_TRUE(events->waitFor(FD_CLOSE));
    EXPECT_EQ(events->error(FD_CLOSE_BIT), WSAECONNRESET);
    EXPECT_EQ(send(client, data.data(), 1, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAECONNRESET);
    char byte;
    EXPECT_EQ(recv(client, &byte, 1, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAECONNRESET);
    EXPECT_TRUE(events->quietFor(100));
    EXPECT_EQ(events->count(FD_CLOSE_BIT), 1);
}

TEST_F(WinsockSend, ABlockingSendFollowsTheBacklogOfAnEarlierNonBlockingOne)
{
    const std::vector<char> data = pattern(kOvercommittingSend, 8);
    sendIntoBacklog(data);
    ASSERT_EQ(WSAEventSelect(client, nullptr, 0), 0);
    u_long blocking = 0;
    ASSERT_EQ(ioctlsocket(client, FIONBIO, &blocking), 0);
    startReading();
    const std::vector<char> tail = pattern(100000, 9);
    EXPECT_EQ(send(client, tail.data(), static_cast<INT>(tail.size()), 0), static_cast<INT>(tail.size()));
    ASSERT_EQ(shutdown(client, SD_SEND), 0);
    EXPECT_EQ(finishReading(), 0);
    std::vector<char> expected = data;
    expected.insert(expected.end(), tail.begin(), tail.end());
    EXPECT_TRUE(received == expected);
}

TEST_F(WinsockSend, AClosedSocketWhosePeerStopsReadingIsResetAfterAMinuteWithoutProgress)
{
    ASSERT_TRUE(palSetTimeScale(0.01)); // 60 s become 600 ms
    Recorder peer(server, FD_CLOSE);
    sendIntoBacklog(pattern(kOvercommittingSend, 10));
    const auto closed = Clock::now();
    ASSERT_EQ(closesocket(client), 0);
    client = INVALID_SOCKET;
    EXPECT_TRUE(peer.waitFor(FD_CLOSE));
    EXPECT_GE(Clock::now() - closed, std::chrono::milliseconds(550));
    EXPECT_EQ(peer.error(FD_CLOSE_BIT), WSAECONNRESET);
    palSetTimeScale(1.0);
}

// The C library's own socket calls, for a reader that WSACleanup leaves alone. Linux agrees with
// Windows on AF_INET, SOCK_STREAM and the layout of sockaddr_in.
extern "C" {
int plainSocket(int family, int type, int protocol) __asm__("socket");
int plainBind(int s, const sockaddr* name, unsigned length) __asm__("bind");
int plainListen(int s, int backlog) __asm__("listen");
int plainAccept(int s, sockaddr* name, unsigned* length) __asm__("accept");
int plainGetsockname(int s, sockaddr* name, unsigned* length) __asm__("getsockname");
long plainRecv(int s, void* buffer, size_t length, int flags) __asm__("recv");
}

// Accepts one connection on 127.0.0.1 and, once told to go, reads it to its end.
class PlainReader {
public:
    PlainReader() : listener_(plainSocket(AF_INET, SOCK_STREAM, 0))
    {
        sockaddr_in local = loopback(0);
        unsigned length = sizeof(local);
        EXPECT_EQ(plainBind(listener_, reinterpret_cast<sockaddr*>(&local), sizeof(local)), 0);
        EXPECT_EQ(plainListen(listener_, 1), 0);
        EXPECT_EQ(plainGetsockname(listener_, reinterpret_cast<sockaddr*>(&local), &length), 0);
        port_ = ntohs(local.sin_port);
        thread_ = std::thread([this] { run(); });
    }
    ~PlainReader()
    {
        if (thread_.joinable())
            finish();
        ::close(listener_);
        CloseHandle(go_);
    }
    PlainReader(const PlainReader&) = delete;
    PlainReader& operator=(const PlainReader&) = delete;

    USHORT port() const { return port_; }
    // Lets it read; what arrived before the end of the data.
    const std::vector<char>& finish()
    {
        SetEvent(go_);
        thread_.join();
        return received_;
    }

private:
    void run()
    {
        int connection = plainAccept(listener_, nullptr, nullptr);
        WaitForSingleObject(go_, 20000);
        char buffer[65536];
        pollfd readable{connection, POLLIN, 0};
        for (long n; ::poll(&readable, 1, 20000) == 1 && (n = plainRecv(connection, buffer, sizeof(buffer), 0)) > 0;)
            received_.insert(received_.end(), buffer, buffer + n);
        ::close(connection);
    }

    int listener_;
    USHORT port_ = 0;
    HANDLE go_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread thread_;
    std::vector<char> received_;
};

TEST_F(WinsockEvents, AClosedSocketsBacklogStillGoesOutAfterTheLastCleanup)
{
    PlainReader reader;
    SOCKET client = socket(AF_INET, SOCK_STREAM, 0);
    INT size = kMonitorSendBuffer;
    setsockopt(client, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<char*>(&size), sizeof(size));
    Recorder events(client, FD_CONNECT | FD_WRITE);
    connectTo(client, reader.port());
    ASSERT_TRUE(events.waitFor(FD_CONNECT | FD_WRITE));
    const std::vector<char> data = pattern(kOvercommittingSend, 11);
    ASSERT_EQ(send(client, data.data(), static_cast<INT>(data.size()), 0), static_cast<INT>(data.size()));
    ASSERT_EQ(closesocket(client), 0);
    ASSERT_EQ(WSACleanup(), 0);
    EXPECT_TRUE(reader.finish() == data);
    WSADATA started;
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &started), 0); // for TearDown
}

} // namespace
