#include "listener.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace spoolsv {

namespace {

constexpr int kStopped = -1;
constexpr int kNoConnection = -2;
// How often a thread waiting for connections looks at the queued ones' time, in real milliseconds.
constexpr int kQueuePollMs = 50;

bool makeAddress(const std::string& path, sockaddr_un& address)
{
    address = {};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

void closeDescriptor(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

std::string systemError(const std::string& what)
{
    return what + ": " + std::strerror(errno);
}

} // namespace

bool Listener::start(const std::string& socketPath, std::string& error)
{
    // Bound and listening under a temporary name first, so that a client never finds a socket
    // that refuses connections.
    std::string temporary = socketPath + ".new";
    sockaddr_un address;
    if (!makeAddress(temporary, address)) {
        error = "socket path too long: " + temporary;
        return false;
    }
    ::unlink(temporary.c_str());
    listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) < 0 ||
        ::chmod(temporary.c_str(), 0666) < 0 || ::listen(listenFd_, SOMAXCONN) < 0 ||
        ::rename(temporary.c_str(), socketPath.c_str()) < 0 || ::pipe2(wakeFds_, O_CLOEXEC) < 0) {
        error = systemError("cannot listen on " + socketPath);
        ::unlink(temporary.c_str());
        return false;
    }
    socketPath_ = socketPath;
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = false;
    addWorker();
    return true;
}

void Listener::stop()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        for (Worker& worker : workers_)
            if (worker.fd >= 0)
                ::shutdown(worker.fd, SHUT_RDWR);
        for (const WaitingConnection& waiting : queued_)
            ::close(waiting.fd);
        queued_.clear();
    }
    if (wakeFds_[1] >= 0) {
        char wake = 1;  // never read: it wakes every waiting thread, now and later
        while (::write(wakeFds_[1], &wake, 1) < 0 && errno == EINTR) {
        }
    }
    for (;;) {
        std::list<Worker> ending;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ending.splice(ending.end(), workers_);
        }
        if (ending.empty())
            break;
        for (Worker& worker : ending)
            worker.thread.join();
    }
    if (!socketPath_.empty()) {
        ::unlink(socketPath_.c_str());
        socketPath_.clear();
    }
    closeDescriptor(listenFd_);
    closeDescriptor(wakeFds_[0]);
    closeDescriptor(wakeFds_[1]);
}

void Listener::addWorker()
{
    reapFinished();
    ++starting_;
    Worker& worker = workers_.emplace_back();
    worker.thread = std::thread(&Listener::work, this, std::ref(worker));
}

void Listener::reapFinished()
{
    for (auto it = workers_.begin(); it != workers_.end();) {
        if (it->finished) {
            it->thread.join();
            it = workers_.erase(it);
        } else {
            ++it;
        }
    }
}

void Listener::work(Worker& self)
{
    int epollFd = ::epoll_create1(EPOLL_CLOEXEC);
    // Exclusive: a connection wakes one waiting thread, not all of them.
    epoll_event listening{};
    listening.events = EPOLLIN | EPOLLEXCLUSIVE;
    listening.data.fd = listenFd_;
    epoll_event wake{};
    wake.events = EPOLLIN;
    wake.data.fd = wakeFds_[0];
    bool ready = epollFd >= 0 && ::epoll_ctl(epollFd, EPOLL_CTL_ADD, listenFd_, &listening) == 0 &&
                 ::epoll_ctl(epollFd, EPOLL_CTL_ADD, wakeFds_[0], &wake) == 0;
    std::unique_lock<std::mutex> lock(mutex_);
    --starting_;
    int fd = -1;  // a queued connection that this thread serves next
    while (ready && !stopping_) {
        if (fd < 0) {
            ++waiting_;
            int timeoutMs = queued_.empty() ? -1 : kQueuePollMs;
            lock.unlock();
            fd = waitForConnection(epollFd, timeoutMs);
            lock.lock();
            --waiting_;
            if (fd == kStopped)
                break;
            if (fd >= 0 && stopping_) {
                ::close(fd);
                break;
            }
            if (fd == kNoConnection || serving_ >= kMaxConnections) {
                if (fd >= 0)
                    queueConnection(fd);  // served when a connection ends
                fd = -1;
                closeExpired();
                continue;
            }
        }
        ++serving_;
        self.fd = fd;
        if (waiting_ + starting_ == 0)
            addWorker();  // somebody waits for the next connection while this one is served
        Caller caller{nextSession_++, isAdmin(fd)};
        lock.unlock();
        serve(fd, caller);
        lock.lock();
        ::close(fd);  // under the lock: stop() never shuts down a descriptor number reused meanwhile
        self.fd = -1;
        --serving_;
        fd = stopping_ ? -1 : nextQueued();
        if (fd < 0 && waiting_ + starting_ >= kMaxIdleThreads)
            break;
    }
    if (fd >= 0)
        ::close(fd);
    if (epollFd >= 0)
        ::close(epollFd);
    self.finished = true;
}

void Listener::queueConnection(int fd)
{
    if (queued_.size() >= kMaxWaitingConnections) {
        ::close(fd);  // the peer sees the connection end before its first reply
        return;
    }
    queued_.push_back({fd, GetTickCount64()});
}

void Listener::closeExpired()
{
    const ULONGLONG now = GetTickCount64();
    while (!queued_.empty() && now - queued_.front().since >= kConnectionWaitMs) {
        ::close(queued_.front().fd);  // the peer sees the connection end before its first reply
        queued_.pop_front();
    }
}

int Listener::nextQueued()
{
    closeExpired();
    if (queued_.empty())
        return -1;
    int fd = queued_.front().fd;
    queued_.pop_front();
    return fd;
}

int Listener::waitForConnection(int epollFd, int timeoutMs)
{
    for (;;) {
        epoll_event events[2];
        int count = ::epoll_wait(epollFd, events, 2, timeoutMs);
        if (count < 0 && errno != EINTR)
            return kStopped;
        if (count == 0)
            return kNoConnection;
        for (int i = 0; i < count; ++i)
            if (events[i].data.fd == wakeFds_[0])
                return kStopped;
        int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0)
            return fd;
        if (errno == EMFILE || errno == ENFILE)
            ::poll(nullptr, 0, kQueuePollMs);  // out of descriptors: the listener stays ready, so wait
        // Another thread took the connection, or the peer left before it was accepted.
    }
}

void Listener::serve(int fd, const Caller& caller)
{
    pal::spool::Bytes request;
    while (pal::spool::receiveFrame(fd, request, kStallLimitMs)) {
        if (!pal::spool::sendFrame(fd, dispatcher_.serve(caller, request)))
            break;
    }
    // The peer sees the end now, before its handles are closed.
    ::shutdown(fd, SHUT_RDWR);
    dispatcher_.endSession(caller.session);
}

bool Listener::isAdmin(int fd) const
{
    ucred peer{};
    socklen_t size = sizeof peer;
    if (refuseAdmin_ || ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) < 0)
        return false;
    return peer.uid == 0 || peer.uid == adminOwner_;
}

} // namespace spoolsv
