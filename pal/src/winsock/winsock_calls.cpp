// The start-up count, the process's open sockets and the calls on a SOCKET handle.
#include <sys/socket.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <set>

#include "winsock/winsock_poller.h"
#include "winsock/winsock_socket.h"

namespace pal::ws {
namespace {

struct Sockets {
    std::mutex mutex;
    std::atomic<int> started{0};
    std::set<SOCKET> open;
};

Sockets& sockets()
{
    static Sockets* table = new Sockets; // used until the process ends
    return *table;
}

struct ErrnoMapping {
    int errnoValue;
    DWORD wsaError;
};

constexpr ErrnoMapping kErrnoMappings[] = {
    {EINTR, WSAEINTR},
    {EBADF, WSAENOTSOCK},
    {EACCES, WSAEACCES},
    {EPERM, WSAEACCES},
    {EFAULT, WSAEFAULT},
    {EINVAL, WSAEINVAL},
    {EMFILE, WSAEMFILE},
    {ENFILE, WSAEMFILE},
    {EAGAIN, WSAEWOULDBLOCK},
    {EINPROGRESS, WSAEWOULDBLOCK}, // a non-blocking connect under way
    {EALREADY, WSAEALREADY},
    {ENOTSOCK, WSAENOTSOCK},
    {EDESTADDRREQ, WSAEDESTADDRREQ},
    {EMSGSIZE, WSAEMSGSIZE},
    {EPROTOTYPE, WSAEPROTOTYPE},
    {ENOPROTOOPT, WSAENOPROTOOPT},
    {EPROTONOSUPPORT, WSAEPROTONOSUPPORT},
    {ESOCKTNOSUPPORT, WSAESOCKTNOSUPPORT},
    {EOPNOTSUPP, WSAEOPNOTSUPP},
    {EPFNOSUPPORT, WSAEPFNOSUPPORT},
    {EAFNOSUPPORT, WSAEAFNOSUPPORT},
    {EADDRINUSE, WSAEADDRINUSE},
    {EADDRNOTAVAIL, WSAEADDRNOTAVAIL},
    {ENETDOWN, WSAENETDOWN},
    {ENETUNREACH, WSAENETUNREACH},
    {ENETRESET, WSAENETRESET},
    {ECONNABORTED, WSAECONNABORTED},
    {ECONNRESET, WSAECONNRESET},
    {EPIPE, WSAECONNRESET},
    {ENOBUFS, WSAENOBUFS},
    {ENOMEM, WSAENOBUFS},
    {EISCONN, WSAEISCONN},
    {ENOTCONN, WSAENOTCONN},
    {ESHUTDOWN, WSAESHUTDOWN},
    {ETOOMANYREFS, WSAETOOMANYREFS},
    {ETIMEDOUT, WSAETIMEDOUT},
    {ECONNREFUSED, WSAECONNREFUSED},
    {ELOOP, WSAELOOP},
    {ENAMETOOLONG, WSAENAMETOOLONG},
    {EHOSTDOWN, WSAEHOSTDOWN},
    {EHOSTUNREACH, WSAEHOSTUNREACH},
};

std::shared_ptr<Socket> lookupSocket(SOCKET id)
{
    auto socket = lookup<Socket>(reinterpret_cast<HANDLE>(id));
    if (!socket)
        fail(WSAENOTSOCK);
    return socket;
}

SOCKET publish(const std::shared_ptr<Socket>& socket)
{
    SOCKET id = reinterpret_cast<SOCKET>(insertHandle(socket));
    socket->setId(id);
    Sockets& table = sockets();
    std::lock_guard<std::mutex> lock(table.mutex);
    table.open.insert(id);
    return id;
}

void closeOne(SOCKET id)
{
    auto socket = lookup<Socket>(reinterpret_cast<HANDLE>(id));
    removeHandle(reinterpret_cast<HANDLE>(id));
    if (socket)
        socket->close();
}

// Runs `call` on the socket behind `id` after the start-up check.
template <class Call>
int onSocket(SOCKET id, Call call)
{
    if (!requireStarted())
        return kSocketError;
    auto socket = lookupSocket(id);
    return socket ? call(*socket) : kSocketError;
}

} // namespace

DWORD wsaErrorOf(int errnoValue)
{
    for (const auto& mapping : kErrnoMappings)
        if (mapping.errnoValue == errnoValue)
            return mapping.wsaError;
    return WSAEINVAL;
}

int fail(DWORD wsaError)
{
    SetLastError(wsaError);
    return kSocketError;
}

socklen_t toSockaddr(const Endpoint& endpoint, sockaddr_storage& address)
{
    std::memset(&address, 0, sizeof(address));
    if (endpoint.v6) {
        auto& in6 = reinterpret_cast<sockaddr_in6&>(address);
        in6.sin6_family = AF_INET6;
        in6.sin6_port = htons(endpoint.port);
        in6.sin6_flowinfo = htonl(endpoint.flowInfo);
        std::memcpy(&in6.sin6_addr, endpoint.address.data(), 16);
        in6.sin6_scope_id = endpoint.scopeId;
        return sizeof(sockaddr_in6);
    }
    auto& in = reinterpret_cast<sockaddr_in&>(address);
    in.sin_family = AF_INET;
    in.sin_port = htons(endpoint.port);
    std::memcpy(&in.sin_addr, endpoint.address.data(), 4);
    return sizeof(sockaddr_in);
}

Endpoint fromSockaddr(const sockaddr_storage& address)
{
    Endpoint endpoint;
    if (address.ss_family == AF_INET6) {
        const auto& in6 = reinterpret_cast<const sockaddr_in6&>(address);
        endpoint.v6 = true;
        endpoint.port = ntohs(in6.sin6_port);
        endpoint.flowInfo = ntohl(in6.sin6_flowinfo);
        std::memcpy(endpoint.address.data(), &in6.sin6_addr, 16);
        endpoint.scopeId = in6.sin6_scope_id;
    } else {
        const auto& in = reinterpret_cast<const sockaddr_in&>(address);
        endpoint.port = ntohs(in.sin_port);
        std::memcpy(endpoint.address.data(), &in.sin_addr, 4);
    }
    return endpoint;
}

int startup()
{
    Sockets& table = sockets();
    std::lock_guard<std::mutex> lock(table.mutex);
    if (table.started == 0)
        poller::start();
    return ++table.started;
}

bool cleanup()
{
    Sockets& table = sockets();
    std::lock_guard<std::mutex> lock(table.mutex);
    if (table.started == 0)
        return false;
    if (--table.started == 0) {
        for (SOCKET id : table.open)
            closeOne(id);
        table.open.clear();
        poller::stop();
    }
    return true;
}

bool requireStarted()
{
    if (sockets().started > 0)
        return true;
    fail(WSANOTINITIALISED);
    return false;
}

SOCKET createSocket(bool v6, SocketType type, int protocol)
{
    if (!requireStarted())
        return kInvalidSocket;
    if (type != SocketType::Stream) {
        fail(WSAESOCKTNOSUPPORT);
        return kInvalidSocket;
    }
    if (protocol != 0 && protocol != IPPROTO_TCP) {
        fail(WSAEPROTONOSUPPORT);
        return kInvalidSocket;
    }
    int fd = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, protocol);
    if (fd < 0) {
        fail(wsaErrorOf(errno));
        return kInvalidSocket;
    }
    return publish(std::make_shared<Socket>(fd, v6));
}

int closeSocket(SOCKET id)
{
    if (!requireStarted() || !lookupSocket(id))
        return kSocketError;
    closeOne(id);
    Sockets& table = sockets();
    std::lock_guard<std::mutex> lock(table.mutex);
    table.open.erase(id);
    return 0;
}

int bindSocket(SOCKET id, const Endpoint& local)
{
    return onSocket(id, [&](Socket& socket) { return socket.bind(local); });
}

int listenSocket(SOCKET id, int backlog)
{
    return onSocket(id, [&](Socket& socket) { return socket.listen(backlog); });
}

SOCKET acceptSocket(SOCKET id, Endpoint* peer)
{
    if (!requireStarted())
        return kInvalidSocket;
    auto listener = lookupSocket(id);
    auto accepted = listener ? listener->accept(peer) : nullptr;
    if (!accepted)
        return kInvalidSocket;
    SOCKET acceptedId = publish(accepted);
    accepted->startRecording();
    return acceptedId;
}

int connectSocket(SOCKET id, const Endpoint& remote)
{
    return onSocket(id, [&](Socket& socket) { return socket.connect(remote); });
}

int sendSocket(SOCKET id, const char* data, int length, bool outOfBand)
{
    return onSocket(id, [&](Socket& socket) { return socket.send(data, length, outOfBand); });
}

int receiveSocket(SOCKET id, char* buffer, int length, ReceiveFlags flags)
{
    return onSocket(id, [&](Socket& socket) { return socket.receive(buffer, length, flags); });
}

int shutdownSocket(SOCKET id, bool receive, bool send)
{
    return onSocket(id, [&](Socket& socket) { return socket.shutdown(receive, send); });
}

int setOption(SOCKET id, Option option, int value)
{
    return onSocket(id, [&](Socket& socket) { return socket.setOption(option, value); });
}

int getOption(SOCKET id, Option option, int& value)
{
    return onSocket(id, [&](Socket& socket) { return socket.getOption(option, value); });
}

int setLinger(SOCKET id, Linger linger)
{
    return onSocket(id, [&](Socket& socket) { return socket.setLinger(linger); });
}

int getLinger(SOCKET id, Linger& linger)
{
    return onSocket(id, [&](Socket& socket) { return socket.getLinger(linger); });
}

int setNonBlocking(SOCKET id, bool nonBlocking)
{
    return onSocket(id, [&](Socket& socket) { return socket.setNonBlocking(nonBlocking); });
}

int bytesReadable(SOCKET id, ULONG& count)
{
    return onSocket(id, [&](Socket& socket) { return socket.bytesReadable(count); });
}

int localEndpoint(SOCKET id, Endpoint& local)
{
    return onSocket(id, [&](Socket& socket) { return socket.endpoint(false, local); });
}

int peerEndpoint(SOCKET id, Endpoint& peer)
{
    return onSocket(id, [&](Socket& socket) { return socket.endpoint(true, peer); });
}

int eventSelect(SOCKET id, HANDLE event, LONG events)
{
    return onSocket(id, [&](Socket& socket) {
        auto object = lookup<Event>(event);
        if (events && !object)
            return fail(WSAEINVAL);
        return socket.eventSelect(std::move(object), events);
    });
}

int enumNetworkEvents(SOCKET id, HANDLE event, LONG& events, INT errors[kFdMaxEvents])
{
    return onSocket(id, [&](Socket& socket) {
        auto object = lookup<Event>(event);
        if (event && !object)
            return fail(WSAEINVAL);
        return socket.enumNetworkEvents(object.get(), events, errors);
    });
}

} // namespace pal::ws
