// See socket_wait.h.
#include "socket_wait.h"

#ifdef _WIN32
#include <winsock2.h>
#include <windows.h>

#include <vector>
#else
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#endif

namespace vxsrvc {

#ifdef _WIN32

SocketWait::~SocketWait()
{
    if (wake_ != INVALID_SOCKET)
        closesocket(wake_);
}

// The wake-up: a datagram socket on loopback connected to itself, readable while a datagram waits.
bool SocketWait::open()
{
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return false;
    SOCKET wake = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    u_long nonBlocking = 1;
    if (wake == INVALID_SOCKET || bind(wake, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(wake, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        connect(wake, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ioctlsocket(wake, FIONBIO, &nonBlocking) != 0) {
        if (wake != INVALID_SOCKET)
            closesocket(wake);
        WSACleanup();
        return false;
    }
    wake_ = wake;
    return true;
}

bool SocketWait::add(int socket, uint32_t watch)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!sockets_.emplace(socket, Armed{watch, true}).second)
            return false;
    }
    wake();
    return true;
}

void SocketWait::rearm(int socket, uint32_t watch)
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = sockets_.find(socket);
    if (found != sockets_.end() && found->second.watch == watch)
        found->second.armed = true;
}

void SocketWait::remove(int socket)
{
    std::lock_guard<std::mutex> lock(mutex_);
    sockets_.erase(socket);
}

int SocketWait::wait(bool block, uint32_t* ready, int capacity)
{
    std::vector<WSAPOLLFD> polled(1);
    polled[0] = {wake_, POLLRDNORM, 0};
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const auto& [socket, state] : sockets_) {
            if (state.armed)
                polled.push_back({static_cast<SOCKET>(socket), POLLRDNORM, 0});
        }
    }
    if (WSAPoll(polled.data(), static_cast<ULONG>(polled.size()), block ? -1 : 0) <= 0)
        return 0;
    if (polled[0].revents != 0) {
        char datagram[8];
        while (recv(wake_, datagram, sizeof datagram, 0) > 0) {
        }
    }
    int count = 0;
    std::lock_guard<std::mutex> lock(mutex_);
    for (size_t i = 1; i < polled.size() && count < capacity; ++i) {
        auto found = sockets_.find(static_cast<int>(polled[i].fd));
        if (polled[i].revents == 0 || found == sockets_.end() || !found->second.armed)
            continue;
        found->second.armed = false;
        ready[count++] = found->second.watch;
    }
    return count;
}

void SocketWait::wake()
{
    const char one = 1;
    send(wake_, &one, 1, 0);
}

#else

SocketWait::~SocketWait()
{
    if (poller_ >= 0)
        close(poller_);
    if (wake_ >= 0)
        close(wake_);
}

bool SocketWait::open()
{
    const int poller = epoll_create1(EPOLL_CLOEXEC);
    const int wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u32 = 0;
    if (poller < 0 || wake < 0 || epoll_ctl(poller, EPOLL_CTL_ADD, wake, &event) != 0) {
        if (poller >= 0)
            close(poller);
        if (wake >= 0)
            close(wake);
        return false;
    }
    poller_ = poller;
    wake_ = wake;
    return true;
}

bool SocketWait::add(int socket, uint32_t watch)
{
    epoll_event event{};
    event.events = EPOLLIN | EPOLLONESHOT;
    event.data.u32 = watch;
    return epoll_ctl(poller_, EPOLL_CTL_ADD, socket, &event) == 0;
}

void SocketWait::rearm(int socket, uint32_t watch)
{
    epoll_event event{};
    event.events = EPOLLIN | EPOLLONESHOT;
    event.data.u32 = watch;
    epoll_ctl(poller_, EPOLL_CTL_MOD, socket, &event);
}

void SocketWait::remove(int socket)
{
    epoll_ctl(poller_, EPOLL_CTL_DEL, socket, nullptr);
}

int SocketWait::wait(bool block, uint32_t* ready, int capacity)
{
    epoll_event events[16];
    const int count = epoll_wait(poller_, events, capacity < 16 ? capacity : 16, block ? -1 : 0);
    int watches = 0;
    for (int i = 0; i < count; ++i) {
        if (events[i].data.u32 == 0) {
            uint64_t posts;
            (void)!read(wake_, &posts, sizeof posts);
            continue;
        }
        ready[watches++] = events[i].data.u32;
    }
    return watches;
}

void SocketWait::wake()
{
    const uint64_t one = 1;
    (void)!write(wake_, &one, sizeof one);
}

#endif

} // namespace vxsrvc
