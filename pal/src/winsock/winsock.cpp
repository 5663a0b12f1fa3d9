// The Winsock calls: Windows records and constants in, the socket machinery behind.
#include <atomic>
#include <bit>
#include <cstring>
#include <string>
#include <type_traits>

#include "pal/testhooks.h"
#include "pal/winsock.h"
#include "winsock/winsock_core.h"

namespace ws = pal::ws;

static_assert(std::is_same_v<SOCKET, UINT_PTR> && INVALID_SOCKET == ws::kInvalidSocket && SOCKET_ERROR == ws::kSocketError,
              "socket values agree");
static_assert(FD_READ == ws::kFdRead && FD_WRITE == ws::kFdWrite && FD_OOB == ws::kFdOob && FD_ACCEPT == ws::kFdAccept &&
                  FD_CONNECT == ws::kFdConnect && FD_CLOSE == ws::kFdClose && FD_MAX_EVENTS == ws::kFdMaxEvents,
              "network event bits agree");

namespace {

constexpr WORD kHighestVersion = MAKEWORD(2, 2);

// palFailSends: the error every send fails with, or 0.
std::atomic<INT> g_sendFailure{0};

int failWith(DWORD error)
{
    SetLastError(error);
    return SOCKET_ERROR;
}

bool familyOf(INT family, bool& v6)
{
    if (family != AF_INET && family != AF_INET6) {
        SetLastError(WSAEAFNOSUPPORT);
        return false;
    }
    v6 = family == AF_INET6;
    return true;
}

bool endpointOf(const sockaddr* name, INT length, ws::Endpoint& endpoint)
{
    if (!name || length < static_cast<INT>(sizeof(sockaddr_in))) {
        SetLastError(WSAEFAULT);
        return false;
    }
    if (name->sa_family == AF_INET) {
        sockaddr_in in;
        std::memcpy(&in, name, sizeof(in));
        endpoint.v6 = false;
        std::memcpy(endpoint.address.data(), &in.sin_addr, 4);
        endpoint.port = ntohs(in.sin_port);
        return true;
    }
    if (name->sa_family != AF_INET6) {
        SetLastError(WSAEAFNOSUPPORT);
        return false;
    }
    if (length < static_cast<INT>(sizeof(sockaddr_in6))) {
        SetLastError(WSAEFAULT);
        return false;
    }
    sockaddr_in6 in6;
    std::memcpy(&in6, name, sizeof(in6));
    endpoint.v6 = true;
    std::memcpy(endpoint.address.data(), &in6.sin6_addr, 16);
    endpoint.port = ntohs(in6.sin6_port);
    endpoint.flowInfo = ntohl(in6.sin6_flowinfo);
    endpoint.scopeId = in6.sin6_scope_id;
    return true;
}

// The Windows record of an endpoint; its size, or 0.
size_t storeEndpoint(const ws::Endpoint& endpoint, sockaddr_storage& address)
{
    std::memset(&address, 0, sizeof(address));
    if (endpoint.v6) {
        sockaddr_in6 in6{};
        in6.sin6_family = AF_INET6;
        in6.sin6_port = htons(endpoint.port);
        in6.sin6_flowinfo = htonl(endpoint.flowInfo);
        std::memcpy(&in6.sin6_addr, endpoint.address.data(), 16);
        in6.sin6_scope_id = endpoint.scopeId;
        std::memcpy(&address, &in6, sizeof(in6));
        return sizeof(in6);
    }
    sockaddr_in in{};
    in.sin_family = AF_INET;
    in.sin_port = htons(endpoint.port);
    std::memcpy(&in.sin_addr, endpoint.address.data(), 4);
    std::memcpy(&address, &in, sizeof(in));
    return sizeof(in);
}

// Copies the endpoint into the caller's name buffer; WSAEFAULT when it does not fit.
int copyEndpoint(const ws::Endpoint& endpoint, sockaddr* name, INT* length)
{
    sockaddr_storage address;
    size_t size = storeEndpoint(endpoint, address);
    if (!name || !length || *length < static_cast<INT>(size))
        return failWith(WSAEFAULT);
    std::memcpy(name, &address, size);
    *length = static_cast<INT>(size);
    return 0;
}

struct OptionName {
    INT level;
    INT name;
    ws::Option option;
};

constexpr OptionName kOptions[] = {
    {SOL_SOCKET, SO_REUSEADDR, ws::Option::ReuseAddress}, {SOL_SOCKET, SO_KEEPALIVE, ws::Option::KeepAlive},
    {SOL_SOCKET, SO_SNDBUF, ws::Option::SendBuffer},      {SOL_SOCKET, SO_RCVBUF, ws::Option::ReceiveBuffer},
    {SOL_SOCKET, SO_ERROR, ws::Option::Error},            {IPPROTO_TCP, TCP_NODELAY, ws::Option::NoDelay},
};

bool optionOf(INT level, INT name, ws::Option& option)
{
    for (const auto& entry : kOptions)
        if (entry.level == level && entry.name == name) {
            option = entry.option;
            return true;
        }
    return false;
}

bool isLinger(INT level, INT name)
{
    return level == SOL_SOCKET && name == SO_LINGER;
}

template <class T>
T swapToNetwork(T value)
{
    if constexpr (std::endian::native == std::endian::big)
        return value;
    else if constexpr (sizeof(T) == 2)
        return static_cast<T>(__builtin_bswap16(value));
    else
        return static_cast<T>(__builtin_bswap32(value));
}

// Wide address text: a character beyond ASCII makes it no address.
std::string narrowAddressText(PCWSTR wide)
{
    std::string narrow;
    for (; *wide; ++wide)
        narrow.push_back(*wide < 0x80 ? static_cast<char>(*wide) : '?');
    return narrow;
}

// 0, or the EAI_* error of the hints.
INT hintsOf(const ADDRINFOA* hints, ws::ResolveHints& resolve)
{
    if (!hints)
        return 0;
    switch (hints->ai_family) {
    case AF_UNSPEC:
        break;
    case AF_INET:
        resolve.family = 4;
        break;
    case AF_INET6:
        resolve.family = 6;
        break;
    default:
        return EAI_FAMILY;
    }
    switch (hints->ai_socktype) {
    case 0:
        break;
    case SOCK_STREAM:
    case SOCK_DGRAM:
        resolve.anyType = false;
        resolve.type = hints->ai_socktype == SOCK_STREAM ? ws::SocketType::Stream : ws::SocketType::Datagram;
        break;
    default:
        return EAI_SOCKTYPE;
    }
    resolve.protocol = hints->ai_protocol;
    resolve.passive = hints->ai_flags & AI_PASSIVE;
    resolve.canonicalName = hints->ai_flags & AI_CANONNAME;
    resolve.numericHost = hints->ai_flags & AI_NUMERICHOST;
    resolve.numericService = hints->ai_flags & AI_NUMERICSERV;
    return 0;
}

// getaddrinfo's errors are its result and the last error.
INT lookupFailure(INT error)
{
    SetLastError(static_cast<DWORD>(error));
    return error;
}

// One allocation per result: the record and its address.
struct AddressEntry {
    addrinfo info;
    sockaddr_storage address;
};
static_assert(std::is_standard_layout_v<AddressEntry> && offsetof(AddressEntry, info) == 0, "entry starts with info");

AddressEntry* newAddressEntry(const ws::Endpoint& endpoint, const ADDRINFOA* hints)
{
    auto* entry = new AddressEntry{};
    entry->info.ai_family = endpoint.v6 ? AF_INET6 : AF_INET;
    entry->info.ai_socktype = hints ? hints->ai_socktype : 0;
    entry->info.ai_protocol = hints ? hints->ai_protocol : 0;
    entry->info.ai_addrlen = storeEndpoint(endpoint, entry->address);
    entry->info.ai_addr = reinterpret_cast<sockaddr*>(&entry->address);
    return entry;
}

char* copyText(const std::string& text)
{
    char* copy = new char[text.size() + 1];
    std::memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

} // namespace

extern "C" {

INT WSAStartup(WORD wVersionRequested, LPWSADATA lpWSAData)
{
    if (!lpWSAData)
        return WSAEFAULT;
    std::memset(lpWSAData, 0, sizeof(*lpWSAData));
    lpWSAData->wHighVersion = kHighestVersion;
    if (LOBYTE(wVersionRequested) == 0)
        return WSAVERNOTSUPPORTED;
    bool aboveHighest = LOBYTE(wVersionRequested) > 2 || (LOBYTE(wVersionRequested) == 2 && HIBYTE(wVersionRequested) > 2);
    lpWSAData->wVersion = aboveHighest ? kHighestVersion : wVersionRequested;
    std::strcpy(lpWSAData->szDescription, "WinSock 2.0");
    std::strcpy(lpWSAData->szSystemStatus, "Running");
    ws::startup();
    return 0;
}

INT WSACleanup(void)
{
    return ws::cleanup() ? 0 : failWith(WSANOTINITIALISED);
}

INT WSAGetLastError(void)
{
    return static_cast<INT>(GetLastError());
}

void WSASetLastError(INT iError)
{
    SetLastError(static_cast<DWORD>(iError));
}

SOCKET socket(INT af, INT type, INT protocol)
{
    bool v6 = false;
    if (!ws::requireStarted() || !familyOf(af, v6))
        return INVALID_SOCKET;
    if (type != SOCK_STREAM && type != SOCK_DGRAM) {
        SetLastError(WSAESOCKTNOSUPPORT);
        return INVALID_SOCKET;
    }
    return ws::createSocket(v6, type == SOCK_STREAM ? ws::SocketType::Stream : ws::SocketType::Datagram, protocol);
}

INT closesocket(SOCKET s)
{
    return ws::closeSocket(s);
}

INT bind(SOCKET s, const struct sockaddr* name, INT namelen)
{
    ws::Endpoint local;
    return endpointOf(name, namelen, local) ? ws::bindSocket(s, local) : SOCKET_ERROR;
}

INT listen(SOCKET s, INT backlog)
{
    return ws::listenSocket(s, backlog);
}

SOCKET accept(SOCKET s, struct sockaddr* addr, INT* addrlen)
{
    if (addr && (!addrlen || *addrlen < static_cast<INT>(sizeof(sockaddr_in)))) {
        SetLastError(WSAEFAULT);
        return INVALID_SOCKET;
    }
    ws::Endpoint peer;
    SOCKET accepted = ws::acceptSocket(s, &peer);
    if (accepted != INVALID_SOCKET && addr && copyEndpoint(peer, addr, addrlen) != 0) {
        ws::closeSocket(accepted);
        SetLastError(WSAEFAULT);
        return INVALID_SOCKET;
    }
    return accepted;
}

INT connect(SOCKET s, const struct sockaddr* name, INT namelen)
{
    ws::Endpoint remote;
    return endpointOf(name, namelen, remote) ? ws::connectSocket(s, remote) : SOCKET_ERROR;
}

INT send(SOCKET s, const char* buf, INT len, INT flags)
{
    if (flags & ~(MSG_OOB | MSG_DONTROUTE))
        return failWith(WSAEOPNOTSUPP);
    if (len < 0 || (len > 0 && !buf))
        return failWith(WSAEFAULT);
    if (INT error = g_sendFailure)
        return failWith(DWORD(error));
    return ws::sendSocket(s, buf, len, flags & MSG_OOB);
}

INT recv(SOCKET s, char* buf, INT len, INT flags)
{
    if (flags & ~(MSG_OOB | MSG_PEEK | MSG_WAITALL))
        return failWith(WSAEOPNOTSUPP);
    if (len < 0 || (len > 0 && !buf))
        return failWith(WSAEFAULT);
    ws::ReceiveFlags receive;
    receive.outOfBand = flags & MSG_OOB;
    receive.peek = flags & MSG_PEEK;
    receive.waitAll = flags & MSG_WAITALL;
    return ws::receiveSocket(s, buf, len, receive);
}

INT shutdown(SOCKET s, INT how)
{
    if (how != SD_RECEIVE && how != SD_SEND && how != SD_BOTH)
        return failWith(WSAEINVAL);
    return ws::shutdownSocket(s, how != SD_SEND, how != SD_RECEIVE);
}

INT setsockopt(SOCKET s, INT level, INT optname, const char* optval, INT optlen)
{
    if (isLinger(level, optname)) {
        if (!optval || optlen < static_cast<INT>(sizeof(linger)))
            return failWith(WSAEFAULT);
        linger value;
        std::memcpy(&value, optval, sizeof(value));
        return ws::setLinger(s, {value.l_onoff != 0, value.l_linger});
    }
    ws::Option option;
    if (!optionOf(level, optname, option))
        return failWith(WSAENOPROTOOPT);
    if (!optval || optlen < static_cast<INT>(sizeof(INT)))
        return failWith(WSAEFAULT);
    INT value;
    std::memcpy(&value, optval, sizeof(value));
    return ws::setOption(s, option, value);
}

INT getsockopt(SOCKET s, INT level, INT optname, char* optval, INT* optlen)
{
    if (!optval || !optlen || *optlen < static_cast<INT>(sizeof(INT)))
        return failWith(WSAEFAULT);
    if (isLinger(level, optname)) {
        ws::Linger value;
        if (ws::getLinger(s, value) != 0)
            return SOCKET_ERROR;
        linger record{static_cast<USHORT>(value.on ? 1 : 0), static_cast<USHORT>(value.seconds)};
        std::memcpy(optval, &record, sizeof(record));
        *optlen = sizeof(record);
        return 0;
    }
    ws::Option option;
    if (!optionOf(level, optname, option))
        return failWith(WSAENOPROTOOPT);
    INT value;
    if (ws::getOption(s, option, value) != 0)
        return SOCKET_ERROR;
    std::memcpy(optval, &value, sizeof(value));
    *optlen = sizeof(value);
    return 0;
}

INT ioctlsocket(SOCKET s, LONG cmd, u_long* argp)
{
    if (!argp)
        return failWith(WSAEFAULT);
    if (cmd == FIONBIO)
        return ws::setNonBlocking(s, *argp != 0);
    if (cmd != FIONREAD)
        return failWith(WSAEINVAL);
    ULONG count = 0;
    if (ws::bytesReadable(s, count) != 0)
        return SOCKET_ERROR;
    *argp = count;
    return 0;
}

INT getsockname(SOCKET s, struct sockaddr* name, INT* namelen)
{
    ws::Endpoint local;
    return ws::localEndpoint(s, local) == 0 ? copyEndpoint(local, name, namelen) : SOCKET_ERROR;
}

INT getpeername(SOCKET s, struct sockaddr* name, INT* namelen)
{
    ws::Endpoint peer;
    return ws::peerEndpoint(s, peer) == 0 ? copyEndpoint(peer, name, namelen) : SOCKET_ERROR;
}

USHORT htons(USHORT hostshort)
{
    return swapToNetwork(hostshort);
}

ULONG htonl(ULONG hostlong)
{
    return swapToNetwork(hostlong);
}

USHORT ntohs(USHORT netshort)
{
    return swapToNetwork(netshort);
}

ULONG ntohl(ULONG netlong)
{
    return swapToNetwork(netlong);
}

INT inet_pton(INT Family, PCSTR pszAddrString, PVOID pAddrBuf)
{
    bool v6 = false;
    if (!familyOf(Family, v6))
        return -1;
    if (!pszAddrString || !pAddrBuf) {
        SetLastError(WSAEFAULT);
        return -1;
    }
    return ws::parseAddress(v6, pszAddrString, static_cast<uint8_t*>(pAddrBuf));
}

PCSTR inet_ntop(INT Family, const VOID* pAddr, PSTR pStringBuf, size_t StringBufSize)
{
    bool v6 = false;
    if (!familyOf(Family, v6))
        return nullptr;
    std::string text = pAddr ? ws::formatAddress(v6, static_cast<const uint8_t*>(pAddr)) : std::string();
    if (text.empty() || !pStringBuf || StringBufSize < text.size() + 1) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::memcpy(pStringBuf, text.c_str(), text.size() + 1);
    return pStringBuf;
}

INT InetPtonW(INT Family, PCWSTR pszAddrString, PVOID pAddrBuf)
{
    if (!pszAddrString)
        return inet_pton(Family, nullptr, pAddrBuf);
    return inet_pton(Family, narrowAddressText(pszAddrString).c_str(), pAddrBuf);
}

PCWSTR InetNtopW(INT Family, const VOID* pAddr, PWSTR pStringBuf, size_t StringBufSize)
{
    char narrow[INET6_ADDRSTRLEN];
    if (!inet_ntop(Family, pAddr, narrow, sizeof(narrow)))
        return nullptr;
    size_t length = std::strlen(narrow);
    if (!pStringBuf || StringBufSize < length + 1) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    for (size_t i = 0; i <= length; ++i)
        pStringBuf[i] = static_cast<WCHAR>(narrow[i]);
    return pStringBuf;
}

ULONG inet_addr(const char* cp)
{
    uint32_t address = 0;
    return cp && ws::parseDottedAddress(cp, address) ? address : INADDR_NONE;
}

INT getaddrinfo(PCSTR pNodeName, PCSTR pServiceName, const ADDRINFOA* pHints, PADDRINFOA* ppResult)
{
    if (!ppResult)
        return lookupFailure(WSAEINVAL);
    *ppResult = nullptr;
    if (!ws::requireStarted())
        return WSANOTINITIALISED;
    if (!pNodeName && !pServiceName)
        return lookupFailure(EAI_NONAME);
    ws::ResolveHints hints;
    if (INT error = hintsOf(pHints, hints))
        return lookupFailure(error);
    std::vector<ws::Endpoint> found;
    std::string canonicalName;
    if (INT error = ws::resolve(pNodeName, pServiceName, hints, found, canonicalName))
        return lookupFailure(error);
    PADDRINFOA* tail = ppResult;
    for (const auto& endpoint : found) {
        *tail = &newAddressEntry(endpoint, pHints)->info;
        tail = &(*tail)->ai_next;
    }
    if (*ppResult && hints.canonicalName && !canonicalName.empty())
        (*ppResult)->ai_canonname = copyText(canonicalName);
    return 0;
}

void freeaddrinfo(PADDRINFOA pAddrInfo)
{
    while (pAddrInfo) {
        PADDRINFOA next = pAddrInfo->ai_next;
        delete[] pAddrInfo->ai_canonname;
        delete reinterpret_cast<AddressEntry*>(pAddrInfo);
        pAddrInfo = next;
    }
}

WSAEVENT WSACreateEvent(void)
{
    return CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

BOOL WSACloseEvent(WSAEVENT hEvent)
{
    return CloseHandle(hEvent);
}

BOOL WSASetEvent(WSAEVENT hEvent)
{
    return SetEvent(hEvent);
}

BOOL WSAResetEvent(WSAEVENT hEvent)
{
    return ResetEvent(hEvent);
}

INT WSAEventSelect(SOCKET s, WSAEVENT hEventObject, LONG lNetworkEvents)
{
    return ws::eventSelect(s, hEventObject, lNetworkEvents);
}

DWORD WSAWaitForMultipleEvents(DWORD cEvents, const WSAEVENT* lphEvents, BOOL fWaitAll, DWORD dwTimeout, BOOL)
{
    return WaitForMultipleObjects(cEvents, lphEvents, fWaitAll, dwTimeout);
}

INT WSAEnumNetworkEvents(SOCKET s, WSAEVENT hEventObject, LPWSANETWORKEVENTS lpNetworkEvents)
{
    if (!lpNetworkEvents)
        return failWith(WSAEFAULT);
    return ws::enumNetworkEvents(s, hEventObject, lpNetworkEvents->lNetworkEvents, lpNetworkEvents->iErrorCode);
}

void palFailSends(INT error)
{
    g_sendFailure = error;
}

} // extern "C"
