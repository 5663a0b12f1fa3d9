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
    while (ready && !stopping_) {
        ++waiting_;
        lock.unlock();
        int fd = waitForConnection(epollFd);
        lock.lock();
        --waiting_;
        if (fd < 0)
            break;
        if (stopping_ || serving_ >= kMaxConnections) {
            ::close(fd);  // the peer sees the connection end before its first reply
            continue;
        }
        ++serving_;
        self.fd = fd;
        if (waiting_ == 0)
            addWorker();  // somebody waits for the next connection while this one is served
        Caller caller{nextSession_++, isAdmin(fd)};
        lock.unlock();
        serve(fd, caller);
        lock.lock();
        ::close(fd);  // under the lock: stop() never shuts down a descriptor number reused meanwhile
        self.fd = -1;
        --serving_;
        if (waiting_ >= kMaxIdleThreads)
            break;
    }
    if (epollFd >= 0)
        ::close(epollFd);
    self.finished = true;
}

int Listener::waitForConnection(int epollFd)
{
    for (;;) {
        epoll_event events[2];
        int count = ::epoll_wait(epollFd, events, 2, -1);
        if (count < 0 && errno != EINTR)
            return -1;
        for (int i = 0; i < count; ++i)
            if (events[i].data.fd == wakeFds_[0])
                return -1;
        int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0)
            return fd;
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
