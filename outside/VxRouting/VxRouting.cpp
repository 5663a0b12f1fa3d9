// The routing plug-in for tests. Select gives the local IPv4 address named by VXROUTING_LOCAL
// ("0.0.0.0" leaves the local half zero), else the address the system routes from towards the
// peer; the port stays 0. With VXROUTING_JOURNAL set, each call appends a line to that file:
// "initialize", "select PEER:PORT/PROTOCOL -> LOCAL", "shutdown".
// Built a second time without Select (VXROUTING_WITHOUT_SELECT), for the callers that must cope.
#include "VxRouting.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
typedef ULONG in_addr_t;
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void journal(const std::string& line)
{
    const char* path = std::getenv("VXROUTING_JOURNAL");
    if (path == nullptr || *path == '\0')
        return;
    if (FILE* file = std::fopen(path, "a")) {
        std::fprintf(file, "%s\n", line.c_str());
        std::fclose(file);
    }
}

#ifndef VXROUTING_WITHOUT_SELECT
// The source address the system picks towards peer: 0 when there is no route.
in_addr_t routedFrom(const sockaddr_in& peer)
{
#ifdef _WIN32
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return 0;
    const SOCKET probe = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (probe == INVALID_SOCKET) {
        WSACleanup();
        return 0;
    }
#else
    const int probe = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (probe < 0)
        return 0;
#endif
    sockaddr_in local{};
    socklen_t length = sizeof local;
    const bool routed = connect(probe, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0 &&
                        getsockname(probe, reinterpret_cast<sockaddr*>(&local), &length) == 0;
#ifdef _WIN32
    closesocket(probe);
    WSACleanup();
#else
    close(probe);
#endif
    return routed ? local.sin_addr.s_addr : 0;
}

std::string textOf(in_addr_t address)
{
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address, text, sizeof text);
    return text;
}
#endif

} // namespace

VXROUTING_API void VxRoutingInitialize(void)
{
    journal("initialize");
}

#ifndef VXROUTING_WITHOUT_SELECT
VXROUTING_API void VxRoutingSelect(VxTransAddressPair* pair)
{
    if (pair == nullptr || pair->peer.family != VXTRANS_FAMILY_INET)
        return;
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    std::memcpy(&peer.sin_port, pair->peer.bytes, 2);
    std::memcpy(&peer.sin_addr.s_addr, pair->peer.bytes + 2, 4);
    in_addr_t local = 0;
    const char* chosen = std::getenv("VXROUTING_LOCAL");
    if (chosen == nullptr || inet_pton(AF_INET, chosen, &local) != 1)
        local = routedFrom(peer);
    pair->local = VxTransAddress{};
    if (local != 0) {
        pair->local.family = VXTRANS_FAMILY_INET;
        std::memcpy(pair->local.bytes + 2, &local, 4);
    }
    journal("select " + textOf(peer.sin_addr.s_addr) + ":" + std::to_string(ntohs(peer.sin_port)) + "/" +
            std::to_string(pair->protocol) + " -> " + textOf(local));
}
#endif

VXROUTING_API void VxRoutingShutdown(void)
{
    journal("shutdown");
}
