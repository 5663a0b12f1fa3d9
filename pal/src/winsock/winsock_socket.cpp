// A socket and its Windows network-event recording.
#include "winsock/winsock_socket.h"

#include <netinet/tcp.h>
#include <poll.h>
#include <sys/epoll.h>
#include <linux/sock_diag.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cerrno>
#include <cstring>
#include <optional>
#include <tuple>

#include "pal/testhooks.h"
#include "winsock/winsock_poller.h"

namespace pal::ws {
namespace {

// Windows gives up a connect after its SYN retransmissions: 3 + 6 + 12 seconds.
constexpr DWORD kConnectTimeoutMs = 21000;
constexpr LONG kRecordableEvents = kFdRead | kFdWrite | kFdOob | kFdAccept | kFdConnect | kFdClose;
// A send the descriptor takes only in part keeps up to this much more in the backlog.
constexpr size_t kBacklogLimit = 1 << 20;
// SO_SNDBUF never makes the descriptor's send buffer smaller than this. Windows keeps in flight
// what the connection allows whatever SO_SNDBUF says; a small Linux buffer limits the flight to a
// segment or two (64 KiB each on loopback), each waiting for the peer's delayed acknowledgement.
constexpr int kMinSystemSendBuffer = 512 * 1024;
// A closed socket whose backlog makes no progress for this long is given up with a reset.
constexpr DWORD kClosedDrainTimeoutMs = 60000;
// How often a socket that would block looks for room, which the system reports only once a third
// of its buffer is free.
constexpr auto kRoomCheckInterval = std::chrono::milliseconds(10);

// palReportCloseWithRead: a peer's close is reported together with the data before it.
std::atomic<bool> g_closeWithRead{false};

static_assert(POLLIN == EPOLLIN && POLLOUT == EPOLLOUT && POLLPRI == EPOLLPRI, "poll and epoll bits agree");
static_assert(POLLERR == EPOLLERR && POLLHUP == EPOLLHUP && POLLRDHUP == EPOLLRDHUP, "poll and epoll bits agree");

struct SystemOption {
    int level;
    int name;
};

SystemOption systemOption(Option option)
{
    switch (option) {
    case Option::ReuseAddress:
        return {SOL_SOCKET, SO_REUSEADDR};
    case Option::KeepAlive:
        return {SOL_SOCKET, SO_KEEPALIVE};
    case Option::SendBuffer:
        return {SOL_SOCKET, SO_SNDBUF};
    case Option::ReceiveBuffer:
        return {SOL_SOCKET, SO_RCVBUF};
    case Option::NoDelay:
        return {IPPROTO_TCP, TCP_NODELAY};
    case Option::Error:
        break;
    }
    return {SOL_SOCKET, SO_ERROR};
}

// Waits until the descriptor is ready for `events`; false when the deadline passed first.
bool waitReady(int fd, short events, std::optional<Clock::time_point> deadline = std::nullopt)
{
    for (;;) {
        int timeout = -1;
        if (deadline) {
            auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now()).count();
            if (left <= 0)
                return false;
            timeout = static_cast<int>(std::min<decltype(left)>(left, 1 << 30));
        }
        pollfd entry{fd, events, 0};
        int ready = ::poll(&entry, 1, timeout);
        if (ready > 0 || (ready < 0 && errno != EINTR))
            return true; // the call itself reports any error
    }
}

bool wouldBlock(int errnoValue)
{
    return errnoValue == EAGAIN || errnoValue == EWOULDBLOCK;
}

} // namespace

Socket::Socket(int fd, bool v6) : fd_(fd), v6_(v6) {}

Socket::~Socket()
{
    ::close(fd_);
}

int Socket::bind(const Endpoint& local)
{
    std::lock_guard<std::mutex> lock(mutex_);
    sockaddr_storage address;
    socklen_t length = toSockaddr(local, address);
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), length) != 0)
        return fail(wsaErrorOf(errno));
    bound_ = true;
    return 0;
}

int Socket::listen(int backlog)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (state_ == State::Connecting || state_ == State::Connected)
        return fail(WSAEISCONN);
    if (!bound_)
        return fail(WSAEINVAL);
    if (::listen(fd_, backlog < 0 ? 0 : backlog) != 0)
        return fail(wsaErrorOf(errno));
    state_ = State::Listening;
    rearm(kFdAccept);
    return 0;
}

std::shared_ptr<Socket> Socket::accept(Endpoint* peer)
{
    std::unique_lock<std::mutex> lock(mutex_);
    if (state_ != State::Listening) {
        fail(WSAEINVAL);
        return nullptr;
    }
    rearm(kFdAccept);
    sockaddr_storage from{};
    int fd;
    for (;;) {
        socklen_t length = sizeof(from);
        fd = ::accept4(fd_, reinterpret_cast<sockaddr*>(&from), &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd >= 0)
            break;
        int error = errno;
        if (wouldBlock(error) && !nonBlocking_) {
            lock.unlock();
            waitReady(fd_, POLLIN);
            lock.lock();
        } else if (error != EINTR && error != ECONNABORTED) {
            fail(wsaErrorOf(error));
            return nullptr;
        }
    }
    auto accepted = std::make_shared<Socket>(fd, v6_);
    accepted->inheritSelection(*this);
    if (peer)
        *peer = fromSockaddr(from);
    return accepted;
}

// An accepted socket has its listener's mode and selection, and is connected.
void Socket::inheritSelection(const Socket& listener)
{
    state_ = State::Connected;
    bound_ = true;
    nonBlocking_ = listener.nonBlocking_;
    event_ = listener.event_;
    selected_ = listener.selected_;
    armed_ = selected_ & ~(kFdAccept | kFdConnect);
}

void Socket::startRecording()
{
    std::lock_guard<std::mutex> lock(mutex_);
    updateInterest();
}

int Socket::connect(const Endpoint& remote)
{
    std::unique_lock<std::mutex> lock(mutex_);
    refreshConnecting();
    switch (state_) {
    case State::Listening:
        return fail(WSAEINVAL);
    case State::Connecting:
        return fail(WSAEALREADY);
    case State::Connected:
        return fail(WSAEISCONN);
    case State::Idle:
        break;
    }
    sockaddr_storage address;
    socklen_t length = toSockaddr(redirected(remote), address);
    rearm(kFdConnect);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), length) == 0) {
        bound_ = true;
        completeConnect(0);
        updateInterest();
        return 0;
    }
    if (errno != EINPROGRESS)
        return fail(wsaErrorOf(errno));
    bound_ = true;
    state_ = State::Connecting;
    deadline_ = Clock::now() + std::chrono::milliseconds(scaleTimeout(kConnectTimeoutMs));
    if (!nonBlocking_)
        return waitForConnect(lock);
    updateInterest();
    poller::wakeAt(id_, deadline_);
    return fail(WSAEWOULDBLOCK);
}

int Socket::waitForConnect(std::unique_lock<std::mutex>& lock)
{
    lock.unlock();
    bool answered = waitReady(fd_, POLLOUT, deadline_);
    lock.lock();
    if (!answered) {
        abortConnect();
        return fail(WSAETIMEDOUT);
    }
    int error = pendingError();
    completeConnect(error);
    return error ? fail(wsaErrorOf(error)) : 0;
}

// A connect without an answer by its deadline stops trying, as Windows does.
void Socket::abortConnect()
{
    sockaddr unspecified{};
    unspecified.sa_family = AF_UNSPEC;
    ::connect(fd_, &unspecified, sizeof(unspecified));
    completeConnect(ETIMEDOUT);
}

void Socket::completeConnect(int errnoValue)
{
    state_ = errnoValue == 0 ? State::Connected : State::Idle;
    connectError_ = errnoValue;
    recordIfArmed(kFdConnect, errnoValue == 0 ? 0 : wsaErrorOf(errnoValue));
}

// A connect in progress that nobody watches learns its outcome when the socket is next used.
void Socket::refreshConnecting()
{
    if (state_ != State::Connecting)
        return;
    pollfd entry{fd_, POLLOUT, 0};
    if (::poll(&entry, 1, 0) == 1)
        completeConnect(pendingError());
}

int Socket::pendingError() const
{
    int error = 0;
    socklen_t length = sizeof(error);
    ::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &length);
    return error;
}

// Why the socket cannot carry data now, or 0.
DWORD Socket::connectionError()
{
    if (brokenError_)
        return brokenError_;
    refreshConnecting();
    return state_ == State::Connected ? 0 : WSAENOTCONN;
}

int Socket::send(const char* data, int length, bool outOfBand)
{
    std::unique_lock<std::mutex> lock(mutex_);
    if (sendShut_)
        return fail(WSAESHUTDOWN);
    if (DWORD error = connectionError())
        return fail(error);
    const int flags = MSG_NOSIGNAL | MSG_DONTWAIT | (outOfBand ? MSG_OOB : 0);
    if (!nonBlocking_)
        return sendBlocking(lock, data, length, flags);
    // While an earlier send is still being written out, the connection takes nothing more.
    if (!flushBacklog())
        return brokenError_ ? fail(brokenError_) : sendFailure(EWOULDBLOCK);
    ssize_t sent = ::send(fd_, data, length, flags);
    if (sent < 0)
        return sendFailure(errno);
    // Out-of-band data ends its own send, so it is never held back.
    if (sent == length || outOfBand)
        return static_cast<int>(sent);
    size_t kept = std::min(static_cast<size_t>(length - sent), kBacklogLimit);
    backlog_.assign(data + sent, data + sent + kept);
    backlogHead_ = 0;
    updateInterest();
    return static_cast<int>(sent + static_cast<ssize_t>(kept));
}

// Returns when every byte has been taken, after any backlog of an earlier non-blocking send.
int Socket::sendBlocking(std::unique_lock<std::mutex>& lock, const char* data, int length, int flags)
{
    backlogDone_.wait(lock, [&] { return backlog_.empty(); });
    if (brokenError_)
        return fail(brokenError_);
    lock.unlock();
    int total = 0;
    while (total < length) {
        ssize_t sent = ::send(fd_, data + total, length - total, flags);
        if (sent >= 0) {
            total += static_cast<int>(sent);
        } else if (wouldBlock(errno)) {
            waitReady(fd_, POLLOUT);
        } else if (errno != EINTR) {
            int error = errno;
            lock.lock();
            return sendFailure(error);
        }
    }
    return total;
}

// Hands the backlog to the descriptor as far as it takes it; true when nothing is left. A failure
// breaks the connection and drops the backlog.
bool Socket::flushBacklog()
{
    while (backlogHead_ < backlog_.size()) {
        ssize_t sent = ::send(fd_, backlog_.data() + backlogHead_, backlog_.size() - backlogHead_,
                              MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent > 0) {
            backlogHead_ += static_cast<size_t>(sent);
            lastProgress_ = Clock::now();
        } else if (sent == 0 || wouldBlock(errno)) {
            break;
        } else if (errno != EINTR) {
            broken(errno == EPIPE ? ECONNRESET : errno);
            break;
        }
    }
    if (brokenError_)
        endBacklog(false);
    else if (backlogHead_ == backlog_.size())
        endBacklog(true);
    updateInterest();
    return backlog_.empty() && !brokenError_;
}

// The backlog has been written or is given up: a deferred shutdown follows the data, blocked
// senders go on, and a closed socket is let go.
void Socket::endBacklog(bool written)
{
    if (backlog_.empty())
        return;
    std::vector<char>().swap(backlog_);
    backlogHead_ = 0;
    if (finPending_ && written)
        ::shutdown(fd_, SHUT_WR);
    finPending_ = false;
    backlogDone_.notify_all();
    if (closed_) {
        if (written)
            setSystemLinger({}); // its last close must not linger on the poller thread
        poller::stopDraining(id_);
    }
}

// A closed socket's backlog that the peer has stopped taking: the connection is reset.
void Socket::checkClosedDrain()
{
    auto giveUp = lastProgress_ + std::chrono::milliseconds(scaleTimeout(kClosedDrainTimeoutMs));
    if (Clock::now() < giveUp) {
        poller::wakeAt(id_, giveUp);
        return;
    }
    setSystemLinger({true, 0});
    endBacklog(false);
    updateInterest();
}

void Socket::scheduleRoomCheck()
{
    if (roomCheckAt_ || !(armed_ & kFdWrite))
        return;
    roomCheckAt_ = Clock::now() + kRoomCheckInterval;
    poller::wakeAt(id_, *roomCheckAt_);
}

// FD_WRITE after a would-block, as soon as the backlog has gone out and the system's buffer has
// room again.
void Socket::checkRoom()
{
    roomCheckAt_.reset();
    if (state_ != State::Connected || sendShut_ || brokenError_)
        return;
    if (flushBacklog() && hasRoom())
        recordIfArmed(kFdWrite, 0);
    else
        scheduleRoomCheck();
    updateInterest();
}

// A send would take data now: the descriptor's queue is below its send buffer.
bool Socket::hasRoom() const
{
    uint32_t memory[SK_MEMINFO_VARS] = {};
    socklen_t length = sizeof(memory);
    if (::getsockopt(fd_, SOL_SOCKET, SO_MEMINFO, memory, &length) != 0)
        return true;
    return memory[SK_MEMINFO_WMEM_QUEUED] < memory[SK_MEMINFO_SNDBUF];
}

int Socket::setSystemLinger(Linger linger)
{
    ::linger system{linger.on ? 1 : 0, linger.seconds};
    return ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &system, sizeof(system));
}

int Socket::sendFailure(int errnoValue)
{
    if (wouldBlock(errnoValue)) {
        rearm(kFdWrite);
        scheduleRoomCheck();
        return fail(WSAEWOULDBLOCK);
    }
    if (errnoValue == EPIPE || errnoValue == ECONNRESET) {
        broken(ECONNRESET);
        updateInterest();
        return fail(brokenError_);
    }
    return fail(wsaErrorOf(errnoValue));
}

int Socket::receive(char* buffer, int length, ReceiveFlags flags)
{
    std::unique_lock<std::mutex> lock(mutex_);
    if (receiveShut_)
        return fail(WSAESHUTDOWN);
    if (DWORD error = connectionError())
        return fail(error);
    rearm(flags.outOfBand ? kFdOob : kFdRead);
    const int systemFlags = MSG_DONTWAIT | (flags.outOfBand ? MSG_OOB : 0) | (flags.peek ? MSG_PEEK : 0);
    const bool wait = !nonBlocking_;
    if (wait)
        lock.unlock();
    int total = 0;
    for (;;) {
        ssize_t got = ::recv(fd_, buffer + total, length - total, systemFlags);
        if (got > 0) {
            total += static_cast<int>(got);
            if (!wait || !flags.waitAll || flags.peek || total == length)
                break;
        } else if (got == 0) {
            break;
        } else if (wouldBlock(errno) && wait) {
            waitReady(fd_, flags.outOfBand ? POLLPRI : POLLIN);
        } else if (errno != EINTR || !wait) {
            int error = errno;
            if (wait)
                lock.lock();
            return total > 0 ? total : receiveFailure(error);
        }
    }
    if (wait)
        lock.lock();
    if (total == 0 && length > 0 && !flags.outOfBand)
        peerClosed();
    updateInterest();
    return total;
}

int Socket::receiveFailure(int errnoValue)
{
    if (errnoValue == ECONNRESET)
        broken(errnoValue);
    updateInterest();
    return fail(brokenError_ ? brokenError_ : wsaErrorOf(errnoValue));
}

int Socket::shutdown(bool receive, bool send)
{
    std::lock_guard<std::mutex> lock(mutex_);
    refreshConnecting();
    if (state_ != State::Connected)
        return fail(WSAENOTCONN);
    if (send && !sendShut_) {
        // The end of the data follows the backlog.
        finPending_ = !backlog_.empty();
        if (!finPending_ && ::shutdown(fd_, SHUT_WR) != 0)
            return fail(wsaErrorOf(errno));
        sendShut_ = true;
    }
    // Receiving ends here only: the peer's close still reaches FD_CLOSE.
    if (receive) {
        receiveShut_ = true;
        armed_ &= ~kFdRead;
    }
    updateInterest();
    return 0;
}

int Socket::setOption(Option option, int value)
{
    if (option == Option::Error)
        return fail(WSAENOPROTOOPT);
    std::lock_guard<std::mutex> lock(mutex_);
    SystemOption system = systemOption(option);
    int systemValue = option == Option::SendBuffer ? std::max(value, kMinSystemSendBuffer) : value;
    if (::setsockopt(fd_, system.level, system.name, &systemValue, sizeof(systemValue)) != 0)
        return fail(wsaErrorOf(errno));
    if (option == Option::SendBuffer)
        sendBuffer_ = value;
    else if (option == Option::ReceiveBuffer)
        receiveBuffer_ = value;
    return 0;
}

int Socket::getOption(Option option, int& value)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (option == Option::Error) {
        // A failed connect's error stays readable, as on Windows, until it has been read.
        int error = pendingError();
        if (error == 0)
            error = connectError_;
        connectError_ = 0;
        value = error ? static_cast<int>(wsaErrorOf(error)) : 0;
        return 0;
    }
    if (option == Option::SendBuffer && sendBuffer_ >= 0) {
        value = sendBuffer_;
        return 0;
    }
    if (option == Option::ReceiveBuffer && receiveBuffer_ >= 0) {
        value = receiveBuffer_;
        return 0;
    }
    SystemOption system = systemOption(option);
    socklen_t length = sizeof(value);
    if (::getsockopt(fd_, system.level, system.name, &value, &length) != 0)
        return fail(wsaErrorOf(errno));
    return 0;
}

int Socket::setLinger(Linger linger)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (setSystemLinger(linger) != 0)
        return fail(wsaErrorOf(errno));
    abortiveLinger_ = linger.on && linger.seconds == 0;
    return 0;
}

int Socket::getLinger(Linger& linger)
{
    std::lock_guard<std::mutex> lock(mutex_);
    ::linger system{};
    socklen_t length = sizeof(system);
    if (::getsockopt(fd_, SOL_SOCKET, SO_LINGER, &system, &length) != 0)
        return fail(wsaErrorOf(errno));
    linger = {system.l_onoff != 0, system.l_linger};
    return 0;
}

int Socket::setNonBlocking(bool nonBlocking)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (!nonBlocking && selected_)
        return fail(WSAEINVAL);
    nonBlocking_ = nonBlocking;
    return 0;
}

int Socket::bytesReadable(ULONG& count)
{
    std::lock_guard<std::mutex> lock(mutex_);
    int queued = 0;
    if (::ioctl(fd_, FIONREAD, &queued) != 0)
        return fail(wsaErrorOf(errno));
    count = static_cast<ULONG>(queued);
    return 0;
}

int Socket::endpoint(bool peer, Endpoint& result)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (peer)
        refreshConnecting();
    if (peer ? state_ != State::Connected : !bound_)
        return fail(peer ? WSAENOTCONN : WSAEINVAL);
    sockaddr_storage address{};
    socklen_t length = sizeof(address);
    int done = peer ? ::getpeername(fd_, reinterpret_cast<sockaddr*>(&address), &length)
                    : ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    if (done != 0)
        return fail(wsaErrorOf(errno));
    result = fromSockaddr(address);
    return 0;
}

int Socket::eventSelect(std::shared_ptr<Event> event, LONG events)
{
    std::lock_guard<std::mutex> lock(mutex_);
    event_ = events ? std::move(event) : nullptr;
    selected_ = events & kRecordableEvents;
    recorded_ = 0;
    errors_ = {};
    parked_ = false;
    peerClosed_ = false;
    armed_ = selected_ & ~(kFdConnect | (receiveShut_ ? kFdRead : 0));
    if (state_ == State::Connecting)
        armed_ |= selected_ & kFdConnect;
    nonBlocking_ = true;
    // What holds already is recorded now, as Windows does when the selection is made.
    if (brokenError_) {
        peerClosed_ = true;
        recordIfArmed(kFdClose, brokenError_);
    } else if (selected_) {
        process(currentReadiness());
    }
    updateInterest();
    return 0;
}

int Socket::enumNetworkEvents(Event* eventToReset, LONG& events, INT errors[kFdMaxEvents])
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (g_closeWithRead && (recorded_ & kFdRead) && (armed_ & kFdClose) && (currentReadiness() & (EPOLLRDHUP | EPOLLHUP)))
        peerClosed();
    events = recorded_;
    for (int bit = 0; bit < kFdMaxEvents; ++bit)
        errors[bit] = (recorded_ & (1 << bit)) ? errors_[bit] : 0;
    recorded_ = 0;
    errors_ = {};
    // Reset under the socket's lock, so that an event recorded meanwhile keeps its signal.
    if (eventToReset)
        eventToReset->set(false);
    return 0;
}

// A backlog still goes out as a graceful close sends all data, unless the abortive linger drops it
// (the descriptor's close then resets the connection).
void Socket::close()
{
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    event_.reset();
    selected_ = armed_ = 0;
    if (abortiveLinger_) {
        endBacklog(false);
    } else if (!backlog_.empty()) {
        poller::keepDraining(id_, shared_from_this());
        lastProgress_ = Clock::now();
        checkClosedDrain();
    }
    updateInterest();
}

void Socket::onReady()
{
    std::lock_guard<std::mutex> lock(mutex_);
    // What epoll reported may be stale by now (a call may have taken it): look again.
    uint32_t readiness = currentReadiness();
    if (!backlog_.empty() && (readiness & (EPOLLOUT | EPOLLERR | EPOLLHUP))) {
        flushBacklog();
        readiness = currentReadiness(); // FD_WRITE needs room after the backlog
    }
    if (event_) {
        auto recording = [this] { return std::tuple(state_, recorded_, armed_, peerClosed_, brokenError_); };
        auto before = recording();
        process(readiness);
        if ((readiness & (EPOLLHUP | EPOLLERR)) && before == recording())
            parked_ = true; // a hang-up stays reported: watch again only after a re-enabling call
    }
    updateInterest();
}

void Socket::onDeadline()
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) {
        if (!backlog_.empty())
            checkClosedDrain();
    } else if (roomCheckAt_ && Clock::now() >= *roomCheckAt_) {
        checkRoom();
    } else if (state_ == State::Connecting && Clock::now() >= deadline_) {
        abortConnect();
        updateInterest();
    }
}

uint32_t Socket::currentReadiness() const
{
    pollfd entry{fd_, POLLIN | POLLOUT | POLLPRI | POLLRDHUP, 0};
    return ::poll(&entry, 1, 0) == 1 ? static_cast<uint32_t>(entry.revents) : 0;
}

void Socket::process(uint32_t readiness)
{
    switch (state_) {
    case State::Connecting:
        if (!(readiness & (EPOLLOUT | EPOLLERR | EPOLLHUP)))
            return;
        completeConnect(pendingError());
        if (state_ == State::Connected)
            processConnected(readiness);
        return;
    case State::Connected:
        processConnected(readiness);
        return;
    case State::Listening:
        if (readiness & EPOLLIN)
            recordIfArmed(kFdAccept, 0);
        return;
    case State::Idle:
        return;
    }
}

void Socket::processConnected(uint32_t readiness)
{
    if (readiness & EPOLLERR) {
        if (int error = pendingError())
            broken(error);
    }
    if (!peerClosed_ && (readiness & (EPOLLIN | EPOLLRDHUP | EPOLLHUP)))
        checkReadable(readiness);
    if (brokenError_)
        return;
    if (readiness & EPOLLPRI)
        recordIfArmed(kFdOob, 0);
    if ((readiness & EPOLLOUT) && !sendShut_ && backlog_.empty())
        recordIfArmed(kFdWrite, 0);
}

// Data gives FD_READ; the peer's end gives FD_CLOSE once the data before it has been read.
void Socket::checkReadable(uint32_t readiness)
{
    char next;
    ssize_t queued = ::recv(fd_, &next, 1, MSG_PEEK | MSG_DONTWAIT);
    if (queued > 0) {
        if (armed_ & kFdRead)
            record(kFdRead, 0);
        else if ((readiness & (EPOLLRDHUP | EPOLLHUP)) && !closeWaitsForRead())
            peerClosed();
    } else if (queued == 0) {
        peerClosed();
    } else if (!wouldBlock(errno)) {
        broken(errno);
    }
}

bool Socket::closeWaitsForRead() const
{
    return (selected_ & kFdRead) && !(armed_ & kFdRead) && !receiveShut_;
}

void Socket::peerClosed()
{
    peerClosed_ = true;
    recordIfArmed(kFdClose, 0);
}

void Socket::broken(int errnoValue)
{
    if (brokenError_)
        return;
    brokenError_ = errnoValue == ECONNRESET ? WSAECONNRESET : WSAECONNABORTED;
    peerClosed_ = true;
    recordIfArmed(kFdClose, brokenError_);
}

void Socket::record(LONG event, DWORD error)
{
    recorded_ |= event;
    errors_[std::countr_zero(static_cast<uint32_t>(event))] = static_cast<INT>(error);
    armed_ &= ~event;
    event_->set(true);
}

void Socket::recordIfArmed(LONG event, DWORD error)
{
    if (armed_ & event)
        record(event, error);
}

// The Windows re-enabling calls: the event may be recorded again.
void Socket::rearm(LONG events)
{
    armed_ |= events & selected_;
    parked_ = false;
    updateInterest();
}

uint32_t Socket::interest() const
{
    // The backlog goes out with or without a selection, and after closesocket.
    const uint32_t draining = backlog_.empty() ? 0 : uint32_t{EPOLLOUT};
    if (!event_ || closed_ || parked_ || brokenError_)
        return draining;
    switch (state_) {
    case State::Listening:
        return (armed_ & kFdAccept) ? uint32_t{EPOLLIN} : 0;
    case State::Connecting:
        return EPOLLOUT;
    case State::Connected:
        break;
    case State::Idle:
        return 0;
    }
    uint32_t events = draining;
    if ((armed_ & kFdWrite) && !sendShut_)
        events |= EPOLLOUT;
    if (!peerClosed_) {
        if (armed_ & kFdRead)
            events |= EPOLLIN | EPOLLRDHUP;
        else if ((armed_ & kFdClose) && !closeWaitsForRead())
            events |= EPOLLRDHUP;
        if (armed_ & kFdOob)
            events |= EPOLLPRI;
    }
    return events;
}

void Socket::updateInterest()
{
    uint32_t wanted = interest();
    if (wanted == watched_)
        return;
    poller::watch(id_, fd_, watched_, wanted);
    watched_ = wanted;
}

} // namespace pal::ws

extern "C" void palReportCloseWithRead(BOOL enable)
{
    pal::ws::g_closeWithRead = enable != FALSE;
}
