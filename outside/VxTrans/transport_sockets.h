// The socket calls the transport makes, as POSIX names them; on Windows they reach Winsock through
// outside/winsock (PosixSockets.h).
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>

#ifdef _WIN32
#include "PosixSockets.h"
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace vxtrans {

#ifdef _WIN32
using posixsock::bind;
using posixsock::close;
using posixsock::connect;
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
using posixsock::EPOLLERR;
using posixsock::EPOLLHUP;
using posixsock::EPOLLIN;
using posixsock::EPOLLOUT;
using posixsock::eventfd;
using posixsock::getsockname;
using posixsock::getsockopt;
using posixsock::listen;
using posixsock::MSG_DONTWAIT;
using posixsock::MSG_NOSIGNAL;
using posixsock::read;
using posixsock::recv;
using posixsock::recvfrom;
using posixsock::send;
using posixsock::sendto;
using posixsock::setsockopt;
using posixsock::write;
#endif

// A non-blocking IPv4 socket of type SOCK_STREAM or SOCK_DGRAM, -1 on failure.
int openNonBlocking(int type);
// The next connection of a listener, non-blocking, with its peer; -1 when none waits.
int acceptNonBlocking(int listener, sockaddr_in* peer);

} // namespace vxtrans
