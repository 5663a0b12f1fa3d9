// The POSIX socket calls of the stand-ins, for their Windows build: the same names reach Winsock.
// Each call sets errno from WSAGetLastError (a non-blocking connect under way is EINPROGRESS, a full
// or empty buffer EAGAIN); epoll is kept over WSAPoll, level-triggered or one-shot; an eventfd is a
// loopback datagram socket connected to itself, readable while a write waits. Sockets are ints, as
// the stand-ins' interfaces pass them. Name them through using-declarations, which hide the C
// runtime's close, read and write.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>

namespace posixsock {

// Windows sockets never block here and raise no signal for a peer that went away.
constexpr int MSG_DONTWAIT = 0;
constexpr int MSG_NOSIGNAL = 0;

// A socket, or an epoll set.
int close(int fd);
int bind(int fd, const sockaddr* address, socklen_t length);
int listen(int fd, int backlog);
int connect(int fd, const sockaddr* address, socklen_t length);
int getsockname(int fd, sockaddr* address, socklen_t* length);
int setsockopt(int fd, int level, int name, const void* value, socklen_t length);
// SO_ERROR comes back as an errno value.
int getsockopt(int fd, int level, int name, void* value, socklen_t* length);
ptrdiff_t send(int fd, const void* data, size_t length, int flags);
ptrdiff_t sendto(int fd, const void* data, size_t length, int flags, const sockaddr* to, socklen_t toLength);
ptrdiff_t recv(int fd, void* data, size_t length, int flags);
ptrdiff_t recvfrom(int fd, void* data, size_t length, int flags, sockaddr* from, socklen_t* fromLength);
// An eventfd's counter: a write queues one wake-up, a read takes those queued.
ptrdiff_t read(int fd, void* data, size_t length);
ptrdiff_t write(int fd, const void* data, size_t length);

enum EpollEvents : uint32_t { EPOLLIN = 0x001, EPOLLOUT = 0x004, EPOLLERR = 0x008, EPOLLHUP = 0x010, EPOLLONESHOT = 1u << 30 };
enum EpollControl { EPOLL_CTL_ADD = 1, EPOLL_CTL_DEL = 2, EPOLL_CTL_MOD = 3 };
constexpr int EPOLL_CLOEXEC = 0;
constexpr int EFD_NONBLOCK = 0;
constexpr int EFD_CLOEXEC = 0;
union epoll_data_t {
    void* ptr;
    int fd;
    uint32_t u32;
    uint64_t u64;
};
struct epoll_event {
    uint32_t events;
    epoll_data_t data;
};
int epoll_create1(int flags);
int epoll_ctl(int epoll, int operation, int fd, epoll_event* event);
int epoll_wait(int epoll, epoll_event* events, int capacity, int timeoutMs);
int eventfd(unsigned initial, int flags);

// WSAStartup, once per process; false when Winsock cannot start.
bool started();
// Sets a socket non-blocking; false on failure.
bool setNonBlocking(int fd);

} // namespace posixsock
