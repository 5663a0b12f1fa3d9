// The exported transport calls: IPv4 TCP and UDP endpoints on non-blocking POSIX sockets.
// Winsock 2 before windows.h on Windows.
#include "transport_sockets.h"
#include <windows.h>

#include <cerrno>
#include <cstring>

#include "VxSrvc.h"
#include "transport_core.h"

using namespace vxtrans;

namespace {

constexpr uint32_t kConnectGiveUpMs = 20000;
constexpr int kListenerReceiveBuffer = 4 * 1024 * 1024;

struct OpenRequest {
    Kind kind;
    uint32_t protocol;
    sockaddr_in peer{};
    bool bindLocal = false;
    sockaddr_in local{};
    Callbacks callbacks;
};

// Checks a connection's pair and mode; 0 or a result.
int32_t connectionRequest(const VxTransAddressPair* pair, uint32_t mode, OpenRequest& request)
{
    if (pair == nullptr)
        return VXTRANS_E_BAD_PARAMETER;
    if (pair->peer.family != VXTRANS_FAMILY_INET)
        return pair->peer.family == VXTRANS_FAMILY_IPX ? VXTRANS_E_NOT_AVAILABLE : VXTRANS_E_BAD_ADDRESS;
    toSockaddr(pair->peer, request.peer);
    if (request.peer.sin_port == 0 || request.peer.sin_addr.s_addr == 0)
        return VXTRANS_E_BAD_ADDRESS;
    if (pair->protocol == VXTRANS_PROTOCOL_TCP && mode == VXTRANS_MODE_CONNECTION)
        request.kind = Kind::TcpConnection;
    else if (pair->protocol == VXTRANS_PROTOCOL_UDP && mode == VXTRANS_MODE_CONNECTION)
        request.kind = Kind::UdpConnection;
    else if (pair->protocol == VXTRANS_PROTOCOL_UDP && mode == VXTRANS_MODE_DATAGRAM)
        request.kind = Kind::UdpDatagram;
    else
        return VXTRANS_E_BAD_ADDRESS;
    request.protocol = pair->protocol;
    if (!isUnset(pair->local)) {
        if (!toSockaddr(pair->local, request.local))
            return VXTRANS_E_BAD_ADDRESS;
        request.bindLocal = true;
    }
    return VXTRANS_OK;
}

int32_t listenerRequest(const VxTransEndpointAddress* local, OpenRequest& request)
{
    if (local == nullptr)
        return VXTRANS_E_BAD_PARAMETER;
    if (local->address.family != VXTRANS_FAMILY_INET)
        return local->address.family == VXTRANS_FAMILY_IPX ? VXTRANS_E_NOT_AVAILABLE : VXTRANS_E_BAD_ADDRESS;
    if (local->protocol == VXTRANS_PROTOCOL_TCP)
        request.kind = Kind::TcpListener;
    else if (local->protocol == VXTRANS_PROTOCOL_UDP)
        request.kind = Kind::UdpListener;
    else
        return VXTRANS_E_BAD_ADDRESS;
    request.protocol = local->protocol;
    toSockaddr(local->address, request.local);
    request.bindLocal = true;
    return VXTRANS_OK;
}

bool isTcp(Kind kind)
{
    return kind == Kind::TcpConnection || kind == Kind::TcpListener;
}

// Creates, binds and starts the socket: 0 or a result. A TCP connect refused at once sets
// refusedAtOnce; the refusal then comes as the connection's notice.
int32_t openSocket(const OpenRequest& request, int& fd, bool& refusedAtOnce)
{
    fd = openNonBlocking(isTcp(request.kind) ? SOCK_STREAM : SOCK_DGRAM);
    if (fd < 0)
        return VXTRANS_E_FAILED;
    const int on = 1;
    // TCP listeners may take a port whose earlier connections linger; UDP ports are never shared.
    if (request.kind == Kind::TcpListener)
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (request.kind == Kind::UdpDatagram)
        setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    // A UDP listener hears many devices at once: room for their bursts (the system may cap it).
    if (request.kind == Kind::UdpListener)
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &kListenerReceiveBuffer, sizeof kListenerReceiveBuffer);
    // An unconnected endpoint without a local address gets its port now, so that its local
    // address is known before the first send.
    const bool bindAny = !request.bindLocal && request.kind == Kind::UdpDatagram;
    sockaddr_in local = request.local;
    if (bindAny) {
        local = sockaddr_in{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = INADDR_ANY;
    }
    if ((request.bindLocal || bindAny) && bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0)
        return resultOfErrno(errno, request.protocol);
    if (request.kind == Kind::TcpListener && listen(fd, SOMAXCONN) != 0)
        return resultOfErrno(errno, request.protocol);
    if (request.kind == Kind::TcpConnection || request.kind == Kind::UdpConnection) {
        if (connect(fd, reinterpret_cast<const sockaddr*>(&request.peer), sizeof request.peer) != 0) {
            refusedAtOnce = request.kind == Kind::TcpConnection && errno == ECONNREFUSED;
            if (errno != EINPROGRESS && !refusedAtOnce)
                return resultOfErrno(errno, request.protocol);
        }
    }
    return VXTRANS_OK;
}

VxTransEndpointAddress localAddressOf(const Endpoint& endpoint)
{
    sockaddr_in local{};
    socklen_t length = sizeof local;
    getsockname(endpoint.fd, reinterpret_cast<sockaddr*>(&local), &length);
    return VxTransEndpointAddress{fromSockaddr(local), endpoint.protocol};
}

int32_t open(const OpenRequest& request, uint32_t threadId, uint32_t* handle, VxTransEndpointAddress* local)
{
    if (handle == nullptr)
        return VXTRANS_E_BAD_PARAMETER;
    Transport& state = transport();
    std::lock_guard<std::mutex> lock(state.lock);
    if (!startLocked(state))
        return VXTRANS_E_FAILED;
    auto endpoint = std::make_shared<Endpoint>();
    endpoint->kind = request.kind;
    endpoint->protocol = request.protocol;
    endpoint->callbacks = request.callbacks;
    endpoint->peer = request.peer;
    bool refusedAtOnce = false;
    const int32_t opened = openSocket(request, endpoint->fd, refusedAtOnce);
    if (opened != VXTRANS_OK) {
        if (endpoint->fd >= 0)
            close(endpoint->fd);
        return opened;
    }
    const bool tcpConnect = request.kind == Kind::TcpConnection;
    endpoint->handle = state.lastHandle + 1;
    // A UDP endpoint opened on its own message thread is watched by that thread.
    endpoint->owner = isTcp(request.kind) ? nullptr : ownerFor(threadId);
    if (endpoint->owner != nullptr)
        endpoint->ownerWatch = VxSrvcWatchSocket(static_cast<VxSrvcThread>(endpoint->owner), endpoint->fd,
                                                 VXTRANS_MSG_READABLE, endpoint->handle);
    else
        endpoint->token = watchLocked(state, endpoint->fd, endpoint, false, EPOLLIN | (tcpConnect ? EPOLLOUT : 0u));
    if (endpoint->token == 0 && endpoint->ownerWatch == 0) {
        close(endpoint->fd);
        return VXTRANS_E_FAILED;
    }
    state.lastHandle = endpoint->handle;
    state.endpoints[endpoint->handle] = endpoint;
    if (refusedAtOnce) {
        endpoint->ended = true;
        unwatchLocked(state, endpoint->fd, endpoint->token);
        queueNoticeLocked(state, endpoint, VXTRANS_E_REFUSED);
    } else if (tcpConnect) {
        endpoint->connecting = true;
        endpoint->connectDeadline = GetTickCount() + kConnectGiveUpMs;
        state.connecting.insert(endpoint->handle);
        wakeLocked(state);
    } else {
        noticeLocked(state, endpoint, VXTRANS_NOTICE_CONNECTED);
    }
    *handle = endpoint->handle;
    if (local != nullptr)
        *local = localAddressOf(*endpoint);
    return VXTRANS_OK;
}

EndpointRef findLocked(Transport& state, uint32_t handle)
{
    auto found = state.endpoints.find(handle);
    return found == state.endpoints.end() ? nullptr : found->second;
}

uint16_t maxChunkOf(const Endpoint& endpoint)
{
    return endpoint.protocol == VXTRANS_PROTOCOL_TCP ? VXTRANS_MAX_CHUNK_TCP : VXTRANS_MAX_CHUNK_UDP;
}

// A datagram; a send that meets the ICMP error of an earlier one goes once more.
int32_t sendDatagramLocked(Transport& state, const EndpointRef& endpoint, const uint8_t* data, size_t length)
{
    const bool associated = endpoint->kind == Kind::UdpConnection;
    for (int attempt = 0; attempt < 2; ++attempt) {
        const ssize_t sent =
            associated ? send(endpoint->fd, data, length, MSG_DONTWAIT | MSG_NOSIGNAL)
                       : sendto(endpoint->fd, data, length, MSG_DONTWAIT | MSG_NOSIGNAL,
                                reinterpret_cast<const sockaddr*>(&endpoint->peer), sizeof endpoint->peer);
        if (sent >= 0) {
            noticeLocked(state, endpoint, VXTRANS_NOTICE_SENT);
            return VXTRANS_OK;
        }
        if (errno == ECONNREFUSED)
            continue;
        if (errno == EAGAIN) {
            endpoint->wantWritable = true;
            // An owned socket is watched by the I/O thread just until there is room.
            if (endpoint->owner == nullptr)
                rewatchLocked(state, endpoint->fd, endpoint->token, EPOLLIN | EPOLLOUT);
            else if (endpoint->token == 0)
                endpoint->token = watchLocked(state, endpoint->fd, endpoint, false, EPOLLOUT);
            return VXTRANS_E_WOULD_BLOCK;
        }
        return resultOfErrno(errno, VXTRANS_PROTOCOL_UDP);
    }
    return VXTRANS_E_UNREACHABLE;
}

// A stream send: what the kernel does not take at once stays queued and goes out before SENT.
int32_t sendStreamLocked(Transport& state, const EndpointRef& endpoint, const uint8_t* data, size_t length)
{
    if (endpoint->ended)
        return VXTRANS_E_CLOSED;
    if (endpoint->connecting || !endpoint->outgoing.empty()) {
        endpoint->wantWritable = true;
        return VXTRANS_E_WOULD_BLOCK;
    }
    const ssize_t sent = send(endpoint->fd, data, length, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (sent < 0 && errno != EAGAIN)
        return resultOfErrno(errno, VXTRANS_PROTOCOL_TCP);
    if (sent < 0) {
        endpoint->wantWritable = true;
        rewatchLocked(state, endpoint->fd, endpoint->token, EPOLLIN | EPOLLOUT);
        return VXTRANS_E_WOULD_BLOCK;
    }
    if (static_cast<size_t>(sent) == length) {
        queueNoticeLocked(state, endpoint, VXTRANS_NOTICE_SENT);
        return VXTRANS_OK;
    }
    endpoint->outgoing.assign(data + sent, data + length);
    endpoint->outgoingSent = 0;
    rewatchLocked(state, endpoint->fd, endpoint->token, EPOLLIN | EPOLLOUT);
    return VXTRANS_OK;
}

} // namespace

int32_t VxTransQueryTransport(uint32_t /*version*/, VxTransInfo* info)
{
    if (info == nullptr)
        return VXTRANS_E_BAD_PARAMETER;
    info->availability = info->family == VXTRANS_FAMILY_INET ? 1 : 0;
    return VXTRANS_OK;
}

int32_t VxTransReleaseTransport(uint32_t /*version*/, VxTransInfo* info)
{
    return info == nullptr ? VXTRANS_E_BAD_PARAMETER : VXTRANS_OK;
}

int32_t VxTransOpenConnection(uint32_t threadId, const VxTransAddressPair* pair, uint32_t mode,
                              VxTransReceiveProc receive, VxTransStateDataProc stateWithData, VxTransStateProc state,
                              uint32_t* endpoint, VxTransEndpointAddress* local, void* context)
{
    OpenRequest request{};
    const int32_t checked = connectionRequest(pair, mode, request);
    if (checked != VXTRANS_OK)
        return checked;
    request.callbacks = Callbacks{receive, stateWithData, state, context};
    return open(request, threadId, endpoint, local);
}

int32_t VxTransOpenListener(uint32_t threadId, const VxTransEndpointAddress* local, VxTransReceiveProc receive,
                            VxTransStateDataProc stateWithData, VxTransStateProc state, uint32_t* endpoint,
                            void* context)
{
    OpenRequest request{};
    const int32_t checked = listenerRequest(local, request);
    if (checked != VXTRANS_OK)
        return checked;
    request.callbacks = Callbacks{receive, stateWithData, state, context};
    return open(request, threadId, endpoint, nullptr);
}

namespace {

// Closes an endpoint with the connections it accepted. Lock held.
void closeEndpointLocked(Transport& state, const EndpointRef& endpoint)
{
    endpoint->closed = true;
    state.endpoints.erase(endpoint->handle);
    state.connecting.erase(endpoint->handle);
    while (!endpoint->children.empty())
        closeChildLocked(state, endpoint, endpoint->children.begin()->first);
    if (endpoint->owner != nullptr)
        VxSrvcUnwatchSocket(static_cast<VxSrvcThread>(endpoint->owner), endpoint->ownerWatch);
    if (endpoint->token != 0)
        unwatchLocked(state, endpoint->fd, endpoint->token);
    close(endpoint->fd);
    endpoint->fd = -1;
}

// Closes one accepted connection alone; its listener, or null when no connection has the handle.
// Lock held.
EndpointRef closeAcceptedLocked(Transport& state, uint32_t handle)
{
    auto accepted = state.accepted.find(handle);
    if (accepted == state.accepted.end())
        return nullptr;
    const EndpointRef listener = accepted->second.first;
    const uint64_t token = accepted->second.second;
    *listener->children.at(token).closed = true;
    closeChildLocked(state, listener, token);
    return listener;
}

} // namespace

int32_t VxTransCloseEndpoint(uint32_t handle)
{
    Transport& state = transport();
    EndpointRef calling; // the endpoint whose callbacks run the closed one's
    {
        std::lock_guard<std::mutex> lock(state.lock);
        calling = findLocked(state, handle);
        if (calling != nullptr)
            closeEndpointLocked(state, calling);
        else
            calling = closeAcceptedLocked(state, handle);
        if (calling == nullptr)
            return VXTRANS_E_BAD_HANDLE;
    }
    // A callback already running finishes before close returns (unless that callback is the
    // caller).
    if (!inCallbackOf(*calling)) {
        std::lock_guard<std::mutex> wait(calling->callbackLock);
    }
    return VXTRANS_OK;
}

int32_t VxTransSend(uint32_t handle, const VxTransBuffer* buffer, uint32_t /*flags*/)
{
    if (buffer == nullptr)
        return VXTRANS_E_BAD_PARAMETER;
    Transport& state = transport();
    std::lock_guard<std::mutex> lock(state.lock);
    const EndpointRef endpoint = findLocked(state, handle);
    if (endpoint == nullptr)
        return VXTRANS_E_BAD_HANDLE;
    if (buffer->length == 0 || buffer->length > maxChunkOf(*endpoint) || endpoint->kind == Kind::TcpListener ||
        endpoint->kind == Kind::UdpListener)
        return VXTRANS_E_BAD_PARAMETER;
    const uint8_t* data = VxTransBufferDataConst(buffer);
    return endpoint->kind == Kind::TcpConnection ? sendStreamLocked(state, endpoint, data, buffer->length)
                                                 : sendDatagramLocked(state, endpoint, data, buffer->length);
}

int32_t VxTransGetLocalAddress(uint32_t handle, uint32_t /*which*/, VxTransEndpointAddress* local)
{
    if (local == nullptr)
        return VXTRANS_E_BAD_PARAMETER;
    Transport& state = transport();
    std::lock_guard<std::mutex> lock(state.lock);
    const EndpointRef endpoint = findLocked(state, handle);
    if (endpoint == nullptr)
        return VXTRANS_E_BAD_HANDLE;
    *local = localAddressOf(*endpoint);
    return VXTRANS_OK;
}

int32_t VxTransSetProperty(uint32_t handle, uint32_t /*option*/)
{
    Transport& state = transport();
    std::lock_guard<std::mutex> lock(state.lock);
    return findLocked(state, handle) == nullptr ? VXTRANS_E_BAD_HANDLE : VXTRANS_OK;
}

int32_t VxTransPreDispatch(void* thread, uint32_t message, uintptr_t wparam, void* record)
{
    noteDispatcher(thread);
    switch (message) {
    case VXTRANS_MSG_NOTICE:
        deliverPostedNotice(static_cast<uint32_t>(wparam), static_cast<int32_t>(reinterpret_cast<intptr_t>(record)));
        return 1;
    case VXTRANS_MSG_READABLE:
        receiveOwned(static_cast<uint32_t>(wparam));
        return 1;
    default:
        return 0;
    }
}

int32_t VxTransGetMaxChunk(uint32_t handle, uint16_t* largest, uint32_t /*reserved*/)
{
    if (largest == nullptr)
        return VXTRANS_E_BAD_PARAMETER;
    Transport& state = transport();
    std::lock_guard<std::mutex> lock(state.lock);
    const EndpointRef endpoint = findLocked(state, handle);
    if (endpoint == nullptr)
        return VXTRANS_E_BAD_HANDLE;
    *largest = maxChunkOf(*endpoint);
    return VXTRANS_OK;
}

int VxTransTestSocketOf(uint32_t handle)
{
    Transport& state = transport();
    std::lock_guard<std::mutex> lock(state.lock);
    const EndpointRef endpoint = findLocked(state, handle);
    return endpoint == nullptr ? -1 : endpoint->fd;
}
