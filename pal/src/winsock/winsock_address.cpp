// Address text, name lookup and the connect-redirect table.
#include <arpa/inet.h>
#include <netdb.h>

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>

#include "files/root.h"
#include "winsock/winsock_socket.h"

namespace pal::ws {
namespace {

DWORD wsaErrorOfLookup(int code)
{
    switch (code) {
    case EAI_AGAIN:
        return WSATRY_AGAIN;
    case EAI_BADFLAGS:
        return WSAEINVAL;
    case EAI_FAIL:
        return WSANO_RECOVERY;
    case EAI_FAMILY:
        return WSAEAFNOSUPPORT;
    case EAI_MEMORY:
        return ERROR_NOT_ENOUGH_MEMORY;
    case EAI_NONAME:
        return WSAHOST_NOT_FOUND;
    case EAI_SERVICE:
        return WSATYPE_NOT_FOUND;
    case EAI_SOCKTYPE:
        return WSAESOCKTNOSUPPORT;
    case EAI_SYSTEM:
        return wsaErrorOf(errno);
    default:
        return WSANO_DATA;
    }
}

addrinfo systemHints(const ResolveHints& hints)
{
    addrinfo system{};
    system.ai_family = hints.family == 4 ? AF_INET : hints.family == 6 ? AF_INET6 : AF_UNSPEC;
    // One result per address, as Windows gives when the type is left open.
    system.ai_socktype = hints.anyType || hints.type == SocketType::Stream ? SOCK_STREAM : SOCK_DGRAM;
    system.ai_protocol = hints.protocol;
    system.ai_flags = (hints.passive ? AI_PASSIVE : 0) | (hints.canonicalName ? AI_CANONNAME : 0) |
                      (hints.numericHost ? AI_NUMERICHOST : 0) | (hints.numericService ? AI_NUMERICSERV : 0);
    return system;
}

// "a.b.c.d:port"
bool parseEndpoint(const std::string& text, Endpoint& endpoint)
{
    size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon + 1 == text.size())
        return false;
    std::string host = text.substr(0, colon);
    std::string port = text.substr(colon + 1);
    if (port.find_first_not_of("0123456789") != std::string::npos || port.size() > 5)
        return false;
    unsigned long number = std::stoul(port);
    if (number == 0 || number > 65535 || !parseAddress(false, host.c_str(), endpoint.address.data()))
        return false;
    endpoint.v6 = false;
    endpoint.port = static_cast<uint16_t>(number);
    return true;
}

bool sameIpv4Endpoint(const Endpoint& a, const Endpoint& b)
{
    return !a.v6 && !b.v6 && a.port == b.port && std::memcmp(a.address.data(), b.address.data(), 4) == 0;
}

} // namespace

int parseAddress(bool v6, const char* text, uint8_t* address)
{
    return ::inet_pton(v6 ? AF_INET6 : AF_INET, text, address) == 1 ? 1 : 0;
}

std::string formatAddress(bool v6, const uint8_t* address)
{
    char text[INET6_ADDRSTRLEN];
    return ::inet_ntop(v6 ? AF_INET6 : AF_INET, address, text, sizeof(text)) ? std::string(text) : std::string();
}

bool parseDottedAddress(const char* text, uint32_t& networkOrder)
{
    in_addr address{};
    if (::inet_aton(text, &address) == 0)
        return false;
    networkOrder = address.s_addr;
    return true;
}

int resolve(const char* node, const char* service, const ResolveHints& hints, std::vector<Endpoint>& results,
            std::string& canonicalName)
{
    addrinfo system = systemHints(hints);
    addrinfo* found = nullptr;
    int code = ::getaddrinfo(node, service, &system, &found);
    if (code != 0)
        return static_cast<int>(wsaErrorOfLookup(code));
    if (found->ai_canonname)
        canonicalName = found->ai_canonname;
    for (addrinfo* entry = found; entry; entry = entry->ai_next) {
        if (entry->ai_family != AF_INET && entry->ai_family != AF_INET6)
            continue;
        sockaddr_storage address{};
        std::memcpy(&address, entry->ai_addr, std::min<size_t>(entry->ai_addrlen, sizeof(address)));
        results.push_back(fromSockaddr(address));
    }
    ::freeaddrinfo(found);
    return 0;
}

Endpoint redirected(const Endpoint& remote)
{
    std::string root = rootPath();
    if (root.empty() || remote.v6)
        return remote;
    std::ifstream table(root + "/config/connect-redirect");
    std::string line;
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string from, to;
        Endpoint source, target;
        if (!(fields >> from >> to) || from[0] == '#' || !parseEndpoint(from, source) || !parseEndpoint(to, target))
            continue;
        if (sameIpv4Endpoint(source, remote))
            return target;
    }
    return remote;
}

} // namespace pal::ws
