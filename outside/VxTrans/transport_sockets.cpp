// See transport_sockets.h.
#include "transport_sockets.h"

namespace vxtrans {

#ifdef _WIN32

int openNonBlocking(int type)
{
    if (!posixsock::started())
        return -1;
    const SOCKET socket = ::socket(AF_INET, type, type == SOCK_STREAM ? IPPROTO_TCP : IPPROTO_UDP);
    if (socket == INVALID_SOCKET)
        return -1;
    const int fd = static_cast<int>(socket);
    if (!posixsock::setNonBlocking(fd)) {
        close(fd);
        return -1;
    }
    return fd;
}

int acceptNonBlocking(int listener, sockaddr_in* peer)
{
    int length = sizeof *peer;
    const SOCKET accepted = ::accept(static_cast<SOCKET>(static_cast<unsigned>(listener)),
                                     reinterpret_cast<sockaddr*>(peer), &length);
    if (accepted == INVALID_SOCKET)
        return -1;
    const int fd = static_cast<int>(accepted);
    if (!posixsock::setNonBlocking(fd)) {
        close(fd);
        return -1;
    }
    return fd;
}

#else

int openNonBlocking(int type)
{
    return socket(AF_INET, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
}

int acceptNonBlocking(int listener, sockaddr_in* peer)
{
    socklen_t length = sizeof *peer;
    return accept4(listener, reinterpret_cast<sockaddr*>(peer), &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
}

#endif

} // namespace vxtrans
