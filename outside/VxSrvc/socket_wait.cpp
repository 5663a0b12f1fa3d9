// See socket_wait.h.
#include "socket_wait.h"

#ifdef _WIN32
#include "PosixSockets.h"
#else
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#endif

namespace vxsrvc {

#ifdef _WIN32
using posixsock::close;
using posixsock::EFD_CLOEXEC;
using posixsock::EFD_NONBLOCK;
using posixsock::EPOLL_CLOEXEC;
using posixsock::EPOLL_CTL_ADD;
using posixsock::EPOLL_CTL_DEL;
using posixsock::EPOLL_CTL_MOD;
using posixsock::epoll_create1;
using posixsock::epoll_ctl;
using posixsock::epoll_event;
using posixsock::epoll_wait;
using posixsock::EPOLLIN;
using posixsock::EPOLLONESHOT;
using posixsock::eventfd;
using posixsock::read;
using posixsock::write;
#endif

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

} // namespace vxsrvc
