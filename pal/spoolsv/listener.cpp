#include "listener.h"

#include <fcntl.h>
#include <poll.h>
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
    listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) < 0 ||
        ::chmod(temporary.c_str(), 0666) < 0 || ::listen(listenFd_, SOMAXCONN) < 0 ||
        ::rename(temporary.c_str(), socketPath.c_str()) < 0 || ::pipe2(wakeFds_, O_CLOEXEC) < 0) {
        error = systemError("cannot listen on " + socketPath);
        ::unlink(temporary.c_str());
        return false;
    }
    socketPath_ = socketPath;
    acceptThread_ = std::thread(&Listener::acceptLoop, this);
    return true;
}

void Listener::stop()
{
    if (acceptThread_.joinable()) {
        char wake = 1;
        while (::write(wakeFds_[1], &wake, 1) < 0 && errno == EINTR) {
        }
        acceptThread_.join();
    }
    if (!socketPath_.empty()) {
        ::unlink(socketPath_.c_str());
        socketPath_.clear();
    }
    std::lock_guard<std::mutex> lock(mutex_);
    for (Connection& connection : connections_)
        ::shutdown(connection.fd, SHUT_RDWR);
    for (Connection& connection : connections_) {
        connection.thread.join();
        ::close(connection.fd);
    }
    connections_.clear();
    closeDescriptor(listenFd_);
    closeDescriptor(wakeFds_[0]);
    closeDescriptor(wakeFds_[1]);
}

void Listener::acceptLoop()
{
    for (;;) {
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakeFds_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[1].revents)
            return;
        int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        std::lock_guard<std::mutex> lock(mutex_);
        reapFinished();
        if (connections_.size() >= kMaxConnections) {
            ::close(fd);  // the peer sees the connection end before its first reply
            continue;
        }
        Connection& connection = connections_.emplace_back();
        connection.fd = fd;
        connection.caller = {nextSession_++, isAdmin(fd)};
        connection.thread = std::thread(&Listener::serve, this, std::ref(connection));
    }
}

void Listener::serve(Connection& connection)
{
    pal::spool::Bytes request;
    while (pal::spool::receiveFrame(connection.fd, request, kStallLimitMs)) {
        if (!pal::spool::sendFrame(connection.fd, dispatcher_.serve(connection.caller, request)))
            break;
    }
    // The peer sees the end now; the descriptor itself is closed when the thread is reaped.
    ::shutdown(connection.fd, SHUT_RDWR);
    dispatcher_.endSession(connection.caller.session);
    connection.finished = true;
}

bool Listener::isAdmin(int fd) const
{
    ucred peer{};
    socklen_t size = sizeof peer;
    if (refuseAdmin_ || ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) < 0)
        return false;
    return peer.uid == 0 || peer.uid == adminOwner_;
}

void Listener::reapFinished()
{
    for (auto it = connections_.begin(); it != connections_.end();) {
        if (it->finished) {
            it->thread.join();
            ::close(it->fd);
            it = connections_.erase(it);
        } else {
            ++it;
        }
    }
}

} // namespace spoolsv
