// See PosixSockets.h.
#include "PosixSockets.h"

#include <windows.h>

#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace posixsock {

namespace {

struct Winsock {
    Winsock()
    {
        WSADATA data;
        started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }
    bool started = false;
};


int errnoOf(int error)
{
    switch (error) {
    case WSAEWOULDBLOCK:
        return EAGAIN;
    case WSAEINPROGRESS:
        return EINPROGRESS;
    case WSAEINTR:
        return EINTR;
    case WSAEADDRINUSE:
        return EADDRINUSE;
    case WSAEADDRNOTAVAIL:
        return EADDRNOTAVAIL;
    case WSAEAFNOSUPPORT:
        return EAFNOSUPPORT;
    case WSAEACCES:
        return EACCES;
    case WSAEINVAL:
        return EINVAL;
    case WSAECONNREFUSED:
        return ECONNREFUSED;
    case WSAECONNRESET:
    case WSAECONNABORTED:
        return ECONNRESET;
    case WSAESHUTDOWN:
        return EPIPE;
    case WSAETIMEDOUT:
        return ETIMEDOUT;
    case WSAENETUNREACH:
        return ENETUNREACH;
    case WSAEHOSTUNREACH:
        return EHOSTUNREACH;
    default:
        return error == 0 ? 0 : EIO;
    }
}

// A failed call's result, with errno set from Winsock's error.
template <typename Result>
Result failed(Result result)
{
    if (result == SOCKET_ERROR)
        errno = errnoOf(WSAGetLastError());
    return result;
}

SOCKET handleOf(int fd)
{
    return static_cast<SOCKET>(static_cast<unsigned>(fd));
}


// A loopback datagram socket connected to itself: readable while a datagram it sent waits.
int selfConnectedSocket()
{
    if (!started())
        return -1;
    SOCKET wake = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    if (wake == INVALID_SOCKET || ::bind(wake, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(wake, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        ::connect(wake, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || !setNonBlocking(static_cast<int>(wake))) {
        if (wake != INVALID_SOCKET)
            closesocket(wake);
        return -1;
    }
    return static_cast<int>(wake);
}

// Epoll sets are numbered far above the handle values Windows gives sockets, so that close can
// tell them apart.
constexpr int kFirstEpoll = 0x7F000000;

struct EpollSet {
    std::mutex mutex;
    std::map<int, epoll_event> sockets;
    int wake = -1; // told of every change, so that a wait in progress looks again
};

struct EpollSets {
    std::mutex mutex;
    std::map<int, std::shared_ptr<EpollSet>> sets;
    int last = kFirstEpoll - 1;
};

EpollSets& epollSets()
{
    static EpollSets* sets = new EpollSets;
    return *sets;
}

std::shared_ptr<EpollSet> epollSet(int epoll)
{
    EpollSets& sets = epollSets();
    std::lock_guard<std::mutex> lock(sets.mutex);
    auto found = sets.sets.find(epoll);
    return found == sets.sets.end() ? nullptr : found->second;
}

void drain(int fd)
{
    char datagram[16];
    while (::recv(handleOf(fd), datagram, sizeof datagram, 0) > 0) {
    }
}

} // namespace

bool started()
{
    static Winsock winsock;
    return winsock.started;
}

bool setNonBlocking(int fd)
{
    u_long on = 1;
    return ioctlsocket(handleOf(fd), FIONBIO, &on) == 0;
}

int close(int fd)
{
    std::shared_ptr<EpollSet> set;
    {
        EpollSets& sets = epollSets();
        std::lock_guard<std::mutex> lock(sets.mutex);
        auto found = sets.sets.find(fd);
        if (found != sets.sets.end()) {
            set = found->second;
            sets.sets.erase(found);
        }
    }
    if (set != nullptr)
        return failed(closesocket(handleOf(set->wake)));
    return failed(closesocket(handleOf(fd)));
}

int bind(int fd, const sockaddr* address, socklen_t length)
{
    return failed(::bind(handleOf(fd), address, length));
}

int listen(int fd, int backlog)
{
    return failed(::listen(handleOf(fd), backlog));
}

int connect(int fd, const sockaddr* address, socklen_t length)
{
    const int result = failed(::connect(handleOf(fd), address, length));
    if (result != 0 && errno == EAGAIN)
        errno = EINPROGRESS;
    return result;
}

int getsockname(int fd, sockaddr* address, socklen_t* length)
{
    return failed(::getsockname(handleOf(fd), address, length));
}

int setsockopt(int fd, int level, int name, const void* value, socklen_t length)
{
    return failed(::setsockopt(handleOf(fd), level, name, static_cast<const char*>(value), length));
}

int getsockopt(int fd, int level, int name, void* value, socklen_t* length)
{
    const int result = failed(::getsockopt(handleOf(fd), level, name, static_cast<char*>(value), length));
    if (result == 0 && level == SOL_SOCKET && name == SO_ERROR && *length == static_cast<socklen_t>(sizeof(int)))
        *static_cast<int*>(value) = errnoOf(*static_cast<int*>(value));
    return result;
}

ptrdiff_t send(int fd, const void* data, size_t length, int flags)
{
    return failed(::send(handleOf(fd), static_cast<const char*>(data), static_cast<int>(length), flags));
}

ptrdiff_t sendto(int fd, const void* data, size_t length, int flags, const sockaddr* to, socklen_t toLength)
{
    return failed(
        ::sendto(handleOf(fd), static_cast<const char*>(data), static_cast<int>(length), flags, to, toLength));
}

ptrdiff_t recv(int fd, void* data, size_t length, int flags)
{
    return failed(::recv(handleOf(fd), static_cast<char*>(data), static_cast<int>(length), flags));
}

ptrdiff_t recvfrom(int fd, void* data, size_t length, int flags, sockaddr* from, socklen_t* fromLength)
{
    return failed(
        ::recvfrom(handleOf(fd), static_cast<char*>(data), static_cast<int>(length), flags, from, fromLength));
}

ptrdiff_t read(int fd, void* /*data*/, size_t length)
{
    drain(fd);
    return static_cast<ptrdiff_t>(length);
}

ptrdiff_t write(int fd, const void* /*data*/, size_t length)
{
    const char one = 1;
    ::send(handleOf(fd), &one, 1, 0);
    return static_cast<ptrdiff_t>(length);
}

int eventfd(unsigned /*initial*/, int /*flags*/)
{
    return selfConnectedSocket();
}

int epoll_create1(int /*flags*/)
{
    auto set = std::make_shared<EpollSet>();
    set->wake = selfConnectedSocket();
    if (set->wake < 0)
        return -1;
    EpollSets& sets = epollSets();
    std::lock_guard<std::mutex> lock(sets.mutex);
    const int epoll = ++sets.last;
    sets.sets[epoll] = set;
    return epoll;
}

int epoll_ctl(int epoll, int operation, int fd, epoll_event* event)
{
    const std::shared_ptr<EpollSet> set = epollSet(epoll);
    if (set == nullptr) {
        errno = EBADF;
        return -1;
    }
    {
        std::lock_guard<std::mutex> lock(set->mutex);
        const bool known = set->sockets.count(fd) != 0;
        if ((operation == EPOLL_CTL_ADD && known) || (operation != EPOLL_CTL_ADD && !known)) {
            errno = known ? EEXIST : ENOENT;
            return -1;
        }
        if (operation == EPOLL_CTL_DEL)
            set->sockets.erase(fd);
        else
            set->sockets[fd] = *event;
    }
    const char one = 1;
    ::send(handleOf(set->wake), &one, 1, 0);
    return 0;
}

int epoll_wait(int epoll, epoll_event* events, int capacity, int timeoutMs)
{
    const std::shared_ptr<EpollSet> set = epollSet(epoll);
    if (set == nullptr) {
        errno = EBADF;
        return -1;
    }
    std::vector<WSAPOLLFD> polled{{handleOf(set->wake), POLLRDNORM, 0}};
    std::vector<epoll_data_t> data{{}};
    std::vector<int> fds{-1};
    {
        std::lock_guard<std::mutex> lock(set->mutex);
        for (const auto& [fd, event] : set->sockets) {
            const SHORT wanted = static_cast<SHORT>(((event.events & EPOLLIN) ? POLLRDNORM : 0) |
                                                    ((event.events & EPOLLOUT) ? POLLWRNORM : 0));
            if (wanted == 0)
                continue;
            polled.push_back({handleOf(fd), wanted, 0});
            data.push_back(event.data);
            fds.push_back(fd);
        }
    }
    if (WSAPoll(polled.data(), static_cast<ULONG>(polled.size()), timeoutMs) <= 0)
        return 0;
    if (polled[0].revents != 0)
        drain(set->wake);
    int count = 0;
    std::lock_guard<std::mutex> lock(set->mutex);
    for (size_t i = 1; i < polled.size() && count < capacity; ++i) {
        const SHORT ready = polled[i].revents;
        auto found = set->sockets.find(fds[i]);
        // A socket removed, or a one-shot one reported, since the poll began: not this time.
        if (ready == 0 || found == set->sockets.end() || (found->second.events & (EPOLLIN | EPOLLOUT)) == 0)
            continue;
        if (found->second.events & EPOLLONESHOT)
            found->second.events = EPOLLONESHOT;
        uint32_t reported = 0;
        if (ready & (POLLRDNORM | POLLRDBAND))
            reported |= EPOLLIN;
        if (ready & POLLWRNORM)
            reported |= EPOLLOUT;
        if (ready & (POLLERR | POLLNVAL))
            reported |= EPOLLERR;
        if (ready & POLLHUP)
            reported |= EPOLLHUP | EPOLLIN;
        events[count++] = {reported, data[i]};
    }
    return count;
}

} // namespace posixsock
