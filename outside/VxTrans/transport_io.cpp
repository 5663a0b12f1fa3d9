// The I/O thread: one epoll set for every socket. Each round gathers, under the lock, the notices
// queued by calls and what the sockets report, then runs the callbacks without the lock.
// Winsock 2 before windows.h on Windows.
#include "transport_sockets.h"
#include <windows.h>

#include <cerrno>
#include <cstring>

#include "VxSrvc.h"
#include "transport_core.h"

namespace vxtrans {
namespace {

constexpr int kMaxEvents = 64;
constexpr int kReadsPerEvent = 64;          // then other sockets get their turn
constexpr int kConnectCheckMs = 100;        // how often pending TCP connects check their deadline
constexpr size_t kReceiveSize = 65536;

thread_local const Endpoint* t_delivering = nullptr; // the endpoint whose callback runs on this thread
thread_local void* t_dispatcher = nullptr;           // the message thread this thread dispatches for

Delivery notice(const EndpointRef& endpoint, int32_t value)
{
    Delivery delivery;
    delivery.endpoint = endpoint;
    delivery.value = value;
    return delivery;
}

Delivery received(const EndpointRef& endpoint, const VxTransAddressPair& sender, const uint8_t* data, size_t length)
{
    Delivery delivery;
    delivery.endpoint = endpoint;
    delivery.isReceive = true;
    delivery.hasSender = true;
    delivery.sender = sender;
    delivery.buffer.resize(4 + length);
    const VxTransBuffer header{0, static_cast<uint16_t>(length)};
    std::memcpy(delivery.buffer.data(), &header, 4);
    if (length > 0)
        std::memcpy(delivery.buffer.data() + 4, data, length);
    return delivery;
}

Delivery receiveError(const EndpointRef& endpoint, int32_t result)
{
    Delivery delivery;
    delivery.endpoint = endpoint;
    delivery.isReceive = true;
    delivery.value = result;
    return delivery;
}

// The end of an accepted connection, with its pair.
Delivery connectionEnded(const EndpointRef& listener, const VxTransAddressPair& pair, int32_t result)
{
    Delivery delivery = receiveError(listener, result);
    delivery.hasSender = true;
    delivery.sender = pair;
    return delivery;
}

sockaddr_in localOf(int fd)
{
    sockaddr_in local{};
    socklen_t length = sizeof local;
    getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length);
    return local;
}

// The stream ends: one negative notice, and the socket is no longer watched.
void endStreamLocked(Transport& state, const EndpointRef& endpoint, int32_t result, std::vector<Delivery>& out)
{
    endpoint->ended = true;
    endpoint->connecting = false;
    state.connecting.erase(endpoint->handle);
    unwatchLocked(state, endpoint->fd, endpoint->token);
    out.push_back(notice(endpoint, result));
}

void readDatagramsLocked(const EndpointRef& endpoint, std::vector<Delivery>& out)
{
    static thread_local std::vector<uint8_t> data(kReceiveSize);
    if (!endpoint->localKnown) {
        endpoint->local = localOf(endpoint->fd);
        endpoint->localKnown = true;
    }
    const sockaddr_in local = endpoint->local;
    for (int i = 0; i < kReadsPerEvent; ++i) {
        sockaddr_in sender{};
        socklen_t length = sizeof sender;
        const ssize_t got = recvfrom(endpoint->fd, data.data(), data.size(), MSG_DONTWAIT,
                                     reinterpret_cast<sockaddr*>(&sender), &length);
        if (got < 0) {
            if (errno == EAGAIN || errno == EINTR)
                return;
            // An ICMP error that met an earlier datagram of a UDP association.
            out.push_back(receiveError(endpoint, resultOfErrno(errno, endpoint->protocol)));
            continue;
        }
        if (got == 0)
            continue;
        if (endpoint->kind == Kind::UdpConnection)
            sender = endpoint->peer;
        out.push_back(received(endpoint, pairOf(sender, VXTRANS_PROTOCOL_UDP, local), data.data(),
                               static_cast<size_t>(got)));
    }
}

// Reads a stream; false when it ended (result in *ended: 0 closed by the peer, else the errno).
bool readStream(int fd, const VxTransAddressPair& pair, const EndpointRef& endpoint, std::vector<Delivery>& out,
                int& ended)
{
    static thread_local std::vector<uint8_t> data(VXTRANS_MAX_CHUNK_TCP);
    for (int i = 0; i < kReadsPerEvent; ++i) {
        const ssize_t got = recv(fd, data.data(), data.size(), MSG_DONTWAIT);
        if (got > 0) {
            out.push_back(received(endpoint, pair, data.data(), static_cast<size_t>(got)));
            continue;
        }
        if (got < 0 && (errno == EAGAIN || errno == EINTR))
            return true;
        ended = got == 0 ? 0 : errno;
        return false;
    }
    return true;
}

void flushOutgoingLocked(Transport& state, const EndpointRef& endpoint, std::vector<Delivery>& out)
{
    if (endpoint->outgoing.empty())
        return;
    while (endpoint->outgoingSent < endpoint->outgoing.size()) {
        const ssize_t sent = send(endpoint->fd, endpoint->outgoing.data() + endpoint->outgoingSent,
                                  endpoint->outgoing.size() - endpoint->outgoingSent, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EAGAIN || errno == EINTR)
                return;
            endStreamLocked(state, endpoint, resultOfErrno(errno, VXTRANS_PROTOCOL_TCP), out);
            return;
        }
        endpoint->outgoingSent += static_cast<size_t>(sent);
    }
    endpoint->outgoing.clear();
    endpoint->outgoingSent = 0;
    out.push_back(notice(endpoint, VXTRANS_NOTICE_SENT));
}

void tcpConnectionEventLocked(Transport& state, const EndpointRef& endpoint, uint32_t events,
                              std::vector<Delivery>& out)
{
    if (endpoint->ended)
        return;
    if (endpoint->connecting) {
        int error = 0;
        socklen_t length = sizeof error;
        getsockopt(endpoint->fd, SOL_SOCKET, SO_ERROR, &error, &length);
        if (error != 0) {
            endStreamLocked(state, endpoint, resultOfErrno(error, VXTRANS_PROTOCOL_TCP), out);
            return;
        }
        if (!(events & EPOLLOUT))
            return;
        endpoint->connecting = false;
        state.connecting.erase(endpoint->handle);
        out.push_back(notice(endpoint, VXTRANS_NOTICE_CONNECTED));
        events &= ~static_cast<uint32_t>(EPOLLIN); // data, if any, on the next round
    }
    if (events & (EPOLLIN | EPOLLERR | EPOLLHUP)) {
        int ended = 0;
        const VxTransAddressPair pair = pairOf(endpoint->peer, VXTRANS_PROTOCOL_TCP, localOf(endpoint->fd));
        if (!readStream(endpoint->fd, pair, endpoint, out, ended)) {
            endStreamLocked(state, endpoint, ended == 0 ? VXTRANS_E_CLOSED : resultOfErrno(ended, VXTRANS_PROTOCOL_TCP),
                            out);
            return;
        }
    }
    if (events & EPOLLOUT)
        flushOutgoingLocked(state, endpoint, out);
    if (endpoint->ended)
        return;
    if (endpoint->outgoing.empty() && endpoint->wantWritable) {
        endpoint->wantWritable = false;
        out.push_back(notice(endpoint, VXTRANS_NOTICE_WRITABLE));
    }
    rewatchLocked(state, endpoint->fd, endpoint->token,
                  EPOLLIN | (endpoint->outgoing.empty() && !endpoint->wantWritable ? 0u : EPOLLOUT));
}

void udpEventLocked(Transport& state, const EndpointRef& endpoint, uint32_t events, std::vector<Delivery>& out)
{
    // An owned socket is watched here only while a send waits for room.
    if (endpoint->owner != nullptr) {
        if ((events & EPOLLOUT) && endpoint->wantWritable) {
            endpoint->wantWritable = false;
            noticeLocked(state, endpoint, VXTRANS_NOTICE_WRITABLE);
        }
        unwatchLocked(state, endpoint->fd, endpoint->token);
        endpoint->token = 0;
        return;
    }
    if (events & (EPOLLIN | EPOLLERR))
        readDatagramsLocked(endpoint, out);
    if ((events & EPOLLOUT) && endpoint->wantWritable) {
        endpoint->wantWritable = false;
        out.push_back(notice(endpoint, VXTRANS_NOTICE_WRITABLE));
        rewatchLocked(state, endpoint->fd, endpoint->token, EPOLLIN);
    }
}

void acceptLocked(Transport& state, const EndpointRef& listener, std::vector<Delivery>& out)
{
    for (int i = 0; i < kReadsPerEvent; ++i) {
        Child child;
        child.fd = acceptNonBlocking(listener->fd, &child.peer);
        if (child.fd < 0)
            return;
        child.local = localOf(child.fd);
        const uint64_t token = watchLocked(state, child.fd, listener, true, EPOLLIN);
        if (token == 0) {
            close(child.fd);
            continue;
        }
        child.handle = ++state.lastHandle;
        listener->children[token] = child;
        state.accepted[child.handle] = {listener, token};
        out.push_back(received(listener, pairOf(child), nullptr, 0));
        out.back().childClosed = child.closed;
    }
}

void childEventLocked(Transport& state, const EndpointRef& listener, uint64_t token, std::vector<Delivery>& out)
{
    auto found = listener->children.find(token);
    if (found == listener->children.end())
        return;
    const VxTransAddressPair pair = pairOf(found->second);
    const std::shared_ptr<std::atomic<bool>> closed = found->second.closed;
    int ended = 0;
    const size_t first = out.size();
    const bool open = readStream(found->second.fd, pair, listener, out, ended);
    for (size_t i = first; i < out.size(); ++i)
        out[i].childClosed = closed;
    if (open)
        return;
    closeChildLocked(state, listener, token);
    out.push_back(connectionEnded(listener, pair, ended == 0 ? VXTRANS_E_CLOSED : resultOfErrno(ended, VXTRANS_PROTOCOL_TCP)));
}

} // namespace

void closeChildLocked(Transport& state, const EndpointRef& listener, uint64_t token)
{
    auto found = listener->children.find(token);
    if (found == listener->children.end())
        return;
    unwatchLocked(state, found->second.fd, token);
    close(found->second.fd);
    state.accepted.erase(found->second.handle);
    listener->children.erase(found);
}

namespace {

void socketEventLocked(Transport& state, uint64_t token, uint32_t events, std::vector<Delivery>& out)
{
    auto watch = state.watches.find(token);
    if (watch == state.watches.end())
        return;
    const EndpointRef endpoint = watch->second.endpoint;
    if (endpoint->closed)
        return;
    if (watch->second.child) {
        childEventLocked(state, endpoint, token, out);
        return;
    }
    switch (endpoint->kind) {
    case Kind::TcpConnection:
        tcpConnectionEventLocked(state, endpoint, events, out);
        break;
    case Kind::TcpListener:
        acceptLocked(state, endpoint, out);
        break;
    default:
        udpEventLocked(state, endpoint, events, out);
        break;
    }
}

// TCP connects give up at their deadline; true while any is still pending.
bool expireConnectsLocked(Transport& state, std::vector<Delivery>& out)
{
    if (state.connecting.empty())
        return false;
    const uint32_t now = GetTickCount();
    const std::set<uint32_t> connecting = state.connecting;
    for (uint32_t handle : connecting) {
        const EndpointRef& endpoint = state.endpoints.at(handle);
        if (static_cast<int32_t>(now - endpoint->connectDeadline) >= 0)
            endStreamLocked(state, endpoint, VXTRANS_E_TIMED_OUT, out);
    }
    return !state.connecting.empty();
}

void runCallback(const Endpoint& endpoint, const Delivery& delivery)
{
    const Callbacks& callbacks = endpoint.callbacks;
    if (delivery.isReceive) {
        if (callbacks.receive != nullptr)
            callbacks.receive(endpoint.handle, delivery.hasSender ? &delivery.sender : nullptr,
                              delivery.buffer.empty() ? nullptr
                                                      : reinterpret_cast<const VxTransBuffer*>(delivery.buffer.data()),
                              delivery.value);
    } else if (callbacks.state != nullptr) {
        callbacks.state(endpoint.handle, delivery.value, callbacks.context);
    } else if (callbacks.stateWithData != nullptr) {
        callbacks.stateWithData(endpoint.handle, nullptr, delivery.value, callbacks.context);
    }
}

// Runs the callback under the endpoint's callback lock, which keeps its callbacks one at a time and
// lets a close on another thread wait for the one in progress.
void deliver(const Delivery& delivery)
{
    Endpoint& endpoint = *delivery.endpoint;
    std::lock_guard<std::mutex> lock(endpoint.callbackLock);
    if (endpoint.closed || (delivery.childClosed != nullptr && *delivery.childClosed))
        return;
    t_delivering = &endpoint;
    runCallback(endpoint, delivery);
    t_delivering = nullptr;
}

void ioLoop()
{
    Transport& state = transport();
    bool connectsPending = false;
    epoll_event events[kMaxEvents];
    for (;;) {
        const int count = epoll_wait(state.epoll, events, kMaxEvents, connectsPending ? kConnectCheckMs : -1);
        std::vector<Delivery> deliveries;
        {
            std::lock_guard<std::mutex> lock(state.lock);
            deliveries.swap(state.queued);
            for (int i = 0; i < count; ++i) {
                if (events[i].data.u64 == 0) {
                    uint64_t drained;
                    (void)!read(state.wake, &drained, sizeof drained);
                    continue;
                }
                socketEventLocked(state, events[i].data.u64, events[i].events, deliveries);
            }
            connectsPending = expireConnectsLocked(state, deliveries);
        }
        for (const Delivery& delivery : deliveries)
            deliver(delivery);
    }
}

} // namespace

Transport& transport()
{
    static Transport* state = new Transport; // the I/O thread runs until the process ends
    return *state;
}

bool inCallbackOf(const Endpoint& endpoint)
{
    return t_delivering == &endpoint;
}

void noteDispatcher(void* thread)
{
    t_dispatcher = thread;
}

void* ownerFor(uint32_t threadId)
{
    return threadId == GetCurrentThreadId() ? t_dispatcher : nullptr;
}

void noticeLocked(Transport& state, const EndpointRef& endpoint, int32_t value)
{
    if (endpoint->owner != nullptr &&
        VxSrvcPostMessage(static_cast<VxSrvcThread>(endpoint->owner), VXTRANS_MSG_NOTICE, endpoint->handle,
                          reinterpret_cast<void*>(static_cast<intptr_t>(value))) >= 0)
        return;
    queueNoticeLocked(state, endpoint, value);
}

void deliverPostedNotice(uint32_t handle, int32_t value)
{
    Transport& state = transport();
    EndpointRef endpoint;
    {
        std::lock_guard<std::mutex> lock(state.lock);
        auto found = state.endpoints.find(handle);
        if (found == state.endpoints.end())
            return;
        endpoint = found->second;
    }
    deliver(notice(endpoint, value));
}

bool startLocked(Transport& state)
{
    if (state.ioThread.joinable())
        return true;
    if (state.epoll < 0)
        state.epoll = epoll_create1(EPOLL_CLOEXEC);
    if (state.wake < 0)
        state.wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (state.epoll < 0 || state.wake < 0)
        return false;
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u64 = 0;
    if (epoll_ctl(state.epoll, EPOLL_CTL_ADD, state.wake, &event) != 0 && errno != EEXIST)
        return false;
    try {
        state.ioThread = std::thread(ioLoop);
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void queueNoticeLocked(Transport& state, const EndpointRef& endpoint, int32_t value)
{
    state.queued.push_back(notice(endpoint, value));
    wakeLocked(state);
}

void wakeLocked(Transport& state)
{
    const uint64_t one = 1;
    (void)!write(state.wake, &one, sizeof one);
}

uint64_t watchLocked(Transport& state, int fd, const EndpointRef& endpoint, bool child, uint32_t events)
{
    const uint64_t token = ++state.lastToken;
    epoll_event event{};
    event.events = events;
    event.data.u64 = token;
    if (epoll_ctl(state.epoll, EPOLL_CTL_ADD, fd, &event) != 0)
        return 0;
    state.watches[token] = Watch{endpoint, child};
    return token;
}

void rewatchLocked(Transport& state, int fd, uint64_t token, uint32_t events)
{
    epoll_event event{};
    event.events = events;
    event.data.u64 = token;
    epoll_ctl(state.epoll, EPOLL_CTL_MOD, fd, &event);
}

void unwatchLocked(Transport& state, int fd, uint64_t token)
{
    epoll_ctl(state.epoll, EPOLL_CTL_DEL, fd, nullptr);
    state.watches.erase(token);
}

} // namespace vxtrans

namespace vxtrans {

void receiveOwned(uint32_t handle)
{
    Transport& state = transport();
    std::vector<Delivery> deliveries;
    {
        std::lock_guard<std::mutex> lock(state.lock);
        auto found = state.endpoints.find(handle);
        if (found == state.endpoints.end() || found->second->closed)
            return;
        readDatagramsLocked(found->second, deliveries);
    }
    for (const Delivery& delivery : deliveries)
        deliver(delivery);
}

} // namespace vxtrans
