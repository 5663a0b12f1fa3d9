#include <gtest/gtest.h>

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "TempRoot.h"

namespace {

class Winsock : public ::testing::Test {
protected:
    void SetUp() override
    {
        WSADATA data;
        ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    }
    void TearDown() override { WSACleanup(); }
};

sockaddr_in endpoint(const char* address, USHORT port)
{
    sockaddr_in result{};
    result.sin_family = AF_INET;
    result.sin_port = htons(port);
    EXPECT_EQ(inet_pton(AF_INET, address, &result.sin_addr), 1);
    return result;
}

USHORT portOf(SOCKET s)
{
    sockaddr_in local{};
    INT length = sizeof(local);
    EXPECT_EQ(getsockname(s, reinterpret_cast<sockaddr*>(&local), &length), 0);
    return ntohs(local.sin_port);
}

// A socket bound to address:0, listening when backlog >= 0.
SOCKET boundSocket(const char* address, USHORT& port, int backlog = 8)
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    EXPECT_NE(s, INVALID_SOCKET);
    sockaddr_in local = endpoint(address, 0);
    EXPECT_EQ(bind(s, reinterpret_cast<sockaddr*>(&local), sizeof(local)), 0);
    if (backlog >= 0) {
        EXPECT_EQ(listen(s, backlog), 0);
    }
    port = portOf(s);
    return s;
}

// Blocking connect; SOCKET_ERROR or 0 in result.
SOCKET connectedSocket(const char* address, USHORT port, INT* result = nullptr)
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in remote = endpoint(address, port);
    INT done = connect(s, reinterpret_cast<sockaddr*>(&remote), sizeof(remote));
    if (result)
        *result = done;
    else
        EXPECT_EQ(done, 0) << WSAGetLastError();
    return s;
}

TEST(WinsockStartup, CountsStartupsAndRefusesCallsWithoutOne)
{
    EXPECT_EQ(socket(AF_INET, SOCK_STREAM, 0), INVALID_SOCKET);
    EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
    EXPECT_EQ(WSACleanup(), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), 10093);

    WSADATA data;
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    EXPECT_EQ(data.wVersion, 0x0202);
    EXPECT_EQ(data.wHighVersion, 0x0202);
    EXPECT_STREQ(data.szDescription, "WinSock 2.0");
    EXPECT_STREQ(data.szSystemStatus, "Running");
    ASSERT_EQ(WSAStartup(MAKEWORD(1, 1), &data), 0);
    EXPECT_EQ(data.wVersion, 0x0101);
    ASSERT_EQ(WSAStartup(MAKEWORD(3, 1), &data), 0);
    EXPECT_EQ(data.wVersion, 0x0202);
    EXPECT_EQ(WSAStartup(MAKEWORD(0, 9), &data), WSAVERNOTSUPPORTED);
    EXPECT_EQ(WSAStartup(MAKEWORD(2, 2), nullptr), WSAEFAULT);

    // Three start-ups counted; the refused ones not.
    EXPECT_EQ(WSACleanup(), 0);
    EXPECT_EQ(WSACleanup(), 0);
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    EXPECT_NE(s, INVALID_SOCKET);
    EXPECT_EQ(closesocket(s), 0);
    EXPECT_EQ(WSACleanup(), 0);
    EXPECT_EQ(socket(AF_INET, SOCK_STREAM, 0), INVALID_SOCKET);
    EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
    EXPECT_EQ(WSACleanup(), SOCKET_ERROR);
}

TEST(WinsockStartup, LastCleanupClosesOpenSockets)
{
    WSADATA data;
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    USHORT port;
    SOCKET listener = boundSocket("127.0.0.1", port);
    SOCKET client = connectedSocket("127.0.0.1", port);
    ASSERT_EQ(WSACleanup(), 0);

    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    EXPECT_EQ(closesocket(listener), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
    EXPECT_EQ(send(client, "x", 1, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
    // The port is free again.
    SOCKET again = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in local = endpoint("127.0.0.1", port);
    EXPECT_EQ(bind(again, reinterpret_cast<sockaddr*>(&local), sizeof(local)), 0) << WSAGetLastError();
    closesocket(again);
    WSACleanup();
}

TEST(WinsockErrors, WsaLastErrorIsTheThreadsLastError)
{
    WSASetLastError(WSAECONNRESET);
    EXPECT_EQ(GetLastError(), 10054u);
    SetLastError(ERROR_ACCESS_DENIED);
    EXPECT_EQ(WSAGetLastError(), 5);
}

TEST(WinsockRecords, ByteOrderAndWindowsLayouts)
{
    EXPECT_EQ(htons(0x1234), 0x3412);
    EXPECT_EQ(ntohs(0x3412), 0x1234);
    EXPECT_EQ(htonl(0x01020304u), 0x04030201u);
    EXPECT_EQ(ntohl(0x04030201u), 0x01020304u);

    sockaddr_in address = endpoint("192.168.1.20", 9100);
    const unsigned char expected[16] = {0x02, 0x00, 0x23, 0x8C, 192, 168, 1, 20, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(std::memcmp(&address, expected, sizeof(expected)), 0);
    EXPECT_EQ(address.sin_addr.S_un.S_un_b.s_b1, 192);
    EXPECT_EQ(address.sin_addr.S_un.S_un_b.s_b4, 20);
    EXPECT_EQ(address.sin_addr.s_addr, 0x1401A8C0u);

    WSANETWORKEVENTS events{};
    EXPECT_EQ(reinterpret_cast<char*>(&events.iErrorCode[FD_CLOSE_BIT]) - reinterpret_cast<char*>(&events), 24);
    EXPECT_EQ(FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE, 51);
    EXPECT_EQ(FD_ACCEPT, 8);
    EXPECT_EQ(FD_OOB, 4);
}

TEST(WinsockAddresses, PresentationFormsBothWays)
{
    in_addr v4{};
    EXPECT_EQ(inet_pton(AF_INET, "10.20.30.40", &v4), 1);
    EXPECT_EQ(v4.s_addr, htonl(0x0A141E28u));
    EXPECT_EQ(inet_pton(AF_INET, "256.1.1.1", &v4), 0);
    EXPECT_EQ(inet_pton(AF_INET, "1.2.3", &v4), 0);
    EXPECT_EQ(inet_pton(AF_INET, "printer.local", &v4), 0);
    EXPECT_EQ(inet_pton(AF_INET, nullptr, &v4), -1);
    EXPECT_EQ(WSAGetLastError(), WSAEFAULT);
    EXPECT_EQ(inet_pton(99, "1.2.3.4", &v4), -1);
    EXPECT_EQ(WSAGetLastError(), WSAEAFNOSUPPORT);

    char text[INET_ADDRSTRLEN];
    EXPECT_STREQ(inet_ntop(AF_INET, &v4 /* still 10.20.30.40 */, text, sizeof(text)), "10.20.30.40");
    char exact[12]; // "10.20.30.40" and its terminator
    EXPECT_EQ(inet_ntop(AF_INET, &v4, exact, sizeof(exact) - 1), nullptr);
    EXPECT_EQ(WSAGetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_STREQ(inet_ntop(AF_INET, &v4, exact, sizeof(exact)), "10.20.30.40");

    in6_addr v6{};
    EXPECT_EQ(inet_pton(AF_INET6, "fe80::1", &v6), 1);
    EXPECT_EQ(v6.s6_addr[0], 0xfe);
    EXPECT_EQ(v6.s6_addr[15], 0x01);
    char text6[INET6_ADDRSTRLEN];
    EXPECT_STREQ(inet_ntop(AF_INET6, &v6, text6, sizeof(text6)), "fe80::1");

    EXPECT_EQ(InetPtonW(AF_INET, W("127.0.0.5"), &v4), 1);
    EXPECT_EQ(v4.s_addr, htonl(0x7F000005u));
    EXPECT_EQ(InetPtonW(AF_INET, W("127.0.0.\u0665"), &v4), 0) << "a digit beyond ASCII is no address";
    WCHAR wide[INET_ADDRSTRLEN];
    ASSERT_NE(InetNtopW(AF_INET, &v4, wide, INET_ADDRSTRLEN), nullptr);
    EXPECT_EQ(std::u16string(wide), u"127.0.0.5");
}

TEST(WinsockAddresses, InetAddrTakesTheClassicForms)
{
    EXPECT_EQ(inet_addr("127.0.0.5"), htonl(0x7F000005u));
    EXPECT_EQ(inet_addr("10.1"), htonl(0x0A000001u));
    EXPECT_EQ(inet_addr("10.1.2"), htonl(0x0A010002u));
    EXPECT_EQ(inet_addr("0x7f.1"), htonl(0x7F000001u));
    EXPECT_EQ(inet_addr("010.0.0.1"), htonl(0x08000001u)) << "a leading zero is octal";
    EXPECT_EQ(inet_addr(""), INADDR_NONE);
    EXPECT_EQ(inet_addr("1.2.3.4.5"), INADDR_NONE);
    EXPECT_EQ(inet_addr("1.2.3.256"), INADDR_NONE);
    EXPECT_EQ(inet_addr("printer"), INADDR_NONE);
    EXPECT_EQ(inet_addr(nullptr), INADDR_NONE);
}

TEST_F(Winsock, GetaddrinfoGivesWindowsRecordsForNumericHosts)
{
    ADDRINFOA hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = AI_NUMERICHOST;
    PADDRINFOA result = nullptr;
    ASSERT_EQ(getaddrinfo("127.0.0.9", "9100", &hints, &result), 0);
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(result->ai_family, AF_INET);
    EXPECT_EQ(result->ai_socktype, SOCK_STREAM);
    EXPECT_EQ(result->ai_protocol, IPPROTO_TCP);
    EXPECT_EQ(result->ai_addrlen, sizeof(sockaddr_in));
    const unsigned char expected[8] = {0x02, 0x00, 0x23, 0x8C, 127, 0, 0, 9};
    EXPECT_EQ(std::memcmp(result->ai_addr, expected, sizeof(expected)), 0);
    EXPECT_EQ(result->ai_next, nullptr);
    freeaddrinfo(result);

    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = 0;
    hints.ai_protocol = 0;
    ASSERT_EQ(getaddrinfo("::1", nullptr, &hints, &result), 0);
    EXPECT_EQ(result->ai_family, AF_INET6);
    EXPECT_EQ(result->ai_addrlen, sizeof(sockaddr_in6));
    EXPECT_EQ(result->ai_addr->sa_family, AF_INET6);
    EXPECT_EQ(result->ai_next, nullptr) << "one result per address when the type is open";
    freeaddrinfo(result);

    hints.ai_flags = AI_NUMERICHOST;
    EXPECT_EQ(getaddrinfo("printer.example", "515", &hints, &result), EAI_NONAME);
    EXPECT_EQ(WSAGetLastError(), 11001);
    EXPECT_EQ(result, nullptr);
    EXPECT_EQ(getaddrinfo(nullptr, nullptr, &hints, &result), EAI_NONAME);
    hints.ai_family = 99;
    EXPECT_EQ(getaddrinfo("127.0.0.1", nullptr, &hints, &result), WSAEAFNOSUPPORT);
}

TEST(WinsockAddresses, GetaddrinfoNeedsAStartup)
{
    PADDRINFOA result = nullptr;
    EXPECT_EQ(getaddrinfo("127.0.0.1", "515", nullptr, &result), WSANOTINITIALISED);
    EXPECT_EQ(result, nullptr);
}

TEST_F(Winsock, BlockingSocketsCarryDataBothWaysAndNameTheirEnds)
{
    USHORT port;
    SOCKET listener = boundSocket("127.0.0.1", port);
    SOCKET client = connectedSocket("127.0.0.1", port);
    sockaddr_in peer{};
    INT peerLength = sizeof(peer);
    SOCKET server = accept(listener, reinterpret_cast<sockaddr*>(&peer), &peerLength);
    ASSERT_NE(server, INVALID_SOCKET);
    EXPECT_EQ(peerLength, static_cast<INT>(sizeof(sockaddr_in)));
    EXPECT_EQ(ntohs(peer.sin_port), portOf(client));

    sockaddr_in serverEnd{};
    INT length = sizeof(serverEnd);
    ASSERT_EQ(getpeername(client, reinterpret_cast<sockaddr*>(&serverEnd), &length), 0);
    EXPECT_EQ(ntohs(serverEnd.sin_port), port);
    EXPECT_EQ(serverEnd.sin_addr.s_addr, htonl(INADDR_LOOPBACK));

    EXPECT_EQ(send(client, "hello", 5, 0), 5);
    char buffer[16] = {};
    EXPECT_EQ(recv(server, buffer, 5, MSG_WAITALL), 5);
    EXPECT_STREQ(buffer, "hello");
    EXPECT_EQ(send(server, "ok", 2, 0), 2);
    EXPECT_EQ(recv(client, buffer, 2, MSG_PEEK), 2);
    EXPECT_EQ(recv(client, buffer, sizeof(buffer), 0), 2);

    EXPECT_EQ(shutdown(client, SD_SEND), 0);
    EXPECT_EQ(recv(server, buffer, sizeof(buffer), 0), 0);
    EXPECT_EQ(send(client, "x", 1, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAESHUTDOWN);
    EXPECT_EQ(shutdown(server, SD_RECEIVE), 0);
    EXPECT_EQ(recv(server, buffer, sizeof(buffer), 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAESHUTDOWN);
    EXPECT_EQ(send(server, "late", 4, 0), 4) << "receiving shut, sending still open";
    EXPECT_EQ(recv(client, buffer, sizeof(buffer), 0), 4);

    closesocket(server);
    closesocket(client);
    closesocket(listener);
}

TEST_F(Winsock, CallsFailWithTheWindowsErrors)
{
    USHORT port;
    SOCKET refusing = boundSocket("127.0.0.1", port, -1);
    INT result = 0;
    SOCKET client = connectedSocket("127.0.0.1", port, &result);
    EXPECT_EQ(result, SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAECONNREFUSED);

    SOCKET second = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in taken = endpoint("127.0.0.1", port);
    EXPECT_EQ(bind(second, reinterpret_cast<sockaddr*>(&taken), sizeof(taken)), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEADDRINUSE);
    EXPECT_EQ(bind(second, reinterpret_cast<sockaddr*>(&taken), 8), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEFAULT);
    EXPECT_EQ(listen(second, 5), SOCKET_ERROR) << "listen needs a bound socket";
    EXPECT_EQ(WSAGetLastError(), WSAEINVAL);
    sockaddr_in name{};
    INT length = sizeof(name);
    EXPECT_EQ(getsockname(second, reinterpret_cast<sockaddr*>(&name), &length), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEINVAL);
    EXPECT_EQ(getpeername(second, reinterpret_cast<sockaddr*>(&name), &length), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAENOTCONN);
    char byte;
    EXPECT_EQ(recv(second, &byte, 1, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAENOTCONN);
    EXPECT_EQ(send(second, &byte, 1, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAENOTCONN);
    EXPECT_EQ(shutdown(second, 7), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEINVAL);

    EXPECT_EQ(socket(1 /* AF_UNIX */, SOCK_STREAM, 0), INVALID_SOCKET);
    EXPECT_EQ(WSAGetLastError(), WSAEAFNOSUPPORT);
    EXPECT_EQ(socket(AF_INET, 3, 0), INVALID_SOCKET);
    EXPECT_EQ(WSAGetLastError(), WSAESOCKTNOSUPPORT);
    EXPECT_EQ(socket(AF_INET, SOCK_STREAM, IPPROTO_UDP), INVALID_SOCKET);
    EXPECT_EQ(WSAGetLastError(), WSAEPROTONOSUPPORT);

    SOCKET closed = second;
    EXPECT_EQ(closesocket(second), 0);
    EXPECT_EQ(closesocket(closed), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
    EXPECT_EQ(send(INVALID_SOCKET, "x", 1, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
    closesocket(client);
    closesocket(refusing);
}

TEST_F(Winsock, OptionsReadBackAsWindowsReportsThem)
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    INT value = 0x4000;
    ASSERT_EQ(setsockopt(s, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<char*>(&value), sizeof(value)), 0);
    value = 0;
    INT length = sizeof(value);
    ASSERT_EQ(getsockopt(s, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<char*>(&value), &length), 0);
    EXPECT_EQ(value, 0x4000);
    EXPECT_EQ(length, 4);

    for (INT name : {SO_KEEPALIVE, SO_REUSEADDR}) {
        value = 1;
        ASSERT_EQ(setsockopt(s, SOL_SOCKET, name, reinterpret_cast<char*>(&value), sizeof(value)), 0);
        value = 0;
        ASSERT_EQ(getsockopt(s, SOL_SOCKET, name, reinterpret_cast<char*>(&value), &length), 0);
        EXPECT_NE(value, 0) << name;
    }
    value = 1;
    ASSERT_EQ(setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<char*>(&value), sizeof(value)), 0);
    value = 0;
    ASSERT_EQ(getsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<char*>(&value), &length), 0);
    EXPECT_NE(value, 0);

    linger lingering{1, 5};
    ASSERT_EQ(setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<char*>(&lingering), sizeof(lingering)), 0);
    linger read{};
    length = sizeof(read);
    ASSERT_EQ(getsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<char*>(&read), &length), 0);
    EXPECT_EQ(length, 4);
    EXPECT_EQ(read.l_onoff, 1);
    EXPECT_EQ(read.l_linger, 5);

    ASSERT_EQ(getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&value), &length), 0);
    EXPECT_EQ(value, 0);
    length = 2;
    EXPECT_EQ(getsockopt(s, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<char*>(&value), &length), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEFAULT);
    EXPECT_EQ(setsockopt(s, SOL_SOCKET, 0x1005 /* SO_SNDTIMEO */, reinterpret_cast<char*>(&value), 4), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAENOPROTOOPT);
    closesocket(s);
}

TEST_F(Winsock, NonBlockingModeAndQueuedBytes)
{
    USHORT port;
    SOCKET listener = boundSocket("127.0.0.1", port);
    SOCKET client = connectedSocket("127.0.0.1", port);
    SOCKET server = accept(listener, nullptr, nullptr);
    u_long on = 1;
    ASSERT_EQ(ioctlsocket(client, FIONBIO, &on), 0);
    char buffer[8];
    EXPECT_EQ(recv(client, buffer, sizeof(buffer), 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);

    ASSERT_EQ(send(server, "abc", 3, MSG_WAITALL), SOCKET_ERROR) << "not a send flag";
    EXPECT_EQ(WSAGetLastError(), WSAEOPNOTSUPP);
    ASSERT_EQ(send(server, "abc", 3, 0), 3);
    u_long queued = 0;
    for (int round = 0; round < 1000 && queued < 3; ++round)
        ASSERT_EQ(ioctlsocket(client, FIONREAD, &queued), 0);
    EXPECT_EQ(queued, 3u);
    EXPECT_EQ(recv(client, buffer, sizeof(buffer), 0), 3);
    EXPECT_EQ(ioctlsocket(client, 0x1234, &queued), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEINVAL);
    closesocket(server);
    closesocket(client);
    closesocket(listener);
}

TEST_F(Winsock, AbortiveCloseResetsThePeerWithoutSignals)
{
    USHORT port;
    SOCKET listener = boundSocket("127.0.0.1", port);
    SOCKET client = connectedSocket("127.0.0.1", port);
    SOCKET server = accept(listener, nullptr, nullptr);
    linger abortive{1, 0};
    ASSERT_EQ(setsockopt(server, SOL_SOCKET, SO_LINGER, reinterpret_cast<char*>(&abortive), sizeof(abortive)), 0);
    ASSERT_EQ(closesocket(server), 0);

    char buffer[8];
    EXPECT_EQ(recv(client, buffer, sizeof(buffer), 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAECONNRESET);
    // Every later call reports the reset; a send never raises SIGPIPE.
    EXPECT_EQ(send(client, "x", 1, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAECONNRESET);
    EXPECT_EQ(recv(client, buffer, sizeof(buffer), 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAECONNRESET);
    closesocket(client);
    closesocket(listener);
}

TEST_F(Winsock, SendingToAClosedPeerFailsInsteadOfRaisingSigpipe)
{
    USHORT port;
    SOCKET listener = boundSocket("127.0.0.1", port);
    SOCKET client = connectedSocket("127.0.0.1", port);
    SOCKET server = accept(listener, nullptr, nullptr);
    ASSERT_EQ(closesocket(server), 0);
    char byte;
    ASSERT_EQ(recv(client, &byte, 1, 0), 0);
    // The first send goes out and is answered with a reset; a later one reports it.
    INT result = 0;
    for (int attempt = 0; attempt < 100000 && result != SOCKET_ERROR; ++attempt)
        result = send(client, "x", 1, 0);
    EXPECT_EQ(result, SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAECONNRESET);
    closesocket(client);
    closesocket(listener);
}

class WinsockRedirect : public Winsock {
protected:
    void writeTable(const std::string& text)
    {
        std::ofstream(root.file("config/connect-redirect")) << text;
    }
    testsupport::TempRoot root;
};

TEST_F(WinsockRedirect, ConnectFollowsTheTableReadAtEveryConnect)
{
    std::filesystem::create_directories(root.file("config"));
    USHORT first, second, refusingPort;
    SOCKET firstListener = boundSocket("127.0.0.5", first);
    SOCKET secondListener = boundSocket("127.0.0.5", second);
    SOCKET refusing = boundSocket("127.0.0.6", refusingPort, -1);
    writeTable("# device ports to the simulator\n\nnot an entry\n127.0.0.5:515 127.0.0.5:" + std::to_string(first) +
               "\n127.0.0.6:1 127.0.0.5:" + std::to_string(first) + "\n");

    SOCKET client = connectedSocket("127.0.0.5", 515);
    sockaddr_in peer{};
    INT length = sizeof(peer);
    SOCKET accepted = accept(firstListener, reinterpret_cast<sockaddr*>(&peer), &length);
    ASSERT_NE(accepted, INVALID_SOCKET);
    EXPECT_EQ(ntohs(peer.sin_port), portOf(client));

    INT result = 0;
    SOCKET unlisted = connectedSocket("127.0.0.6", refusingPort, &result);
    EXPECT_EQ(result, SOCKET_ERROR) << "only the listed endpoint is redirected";
    EXPECT_EQ(WSAGetLastError(), WSAECONNREFUSED);

    writeTable("127.0.0.5:515 127.0.0.5:" + std::to_string(second) + "\n");
    SOCKET again = connectedSocket("127.0.0.5", 515);
    SOCKET acceptedAgain = accept(secondListener, nullptr, nullptr);
    EXPECT_NE(acceptedAgain, INVALID_SOCKET);

    for (SOCKET s : {client, accepted, unlisted, again, acceptedAgain, firstListener, secondListener, refusing})
        closesocket(s);
}

} // namespace
