#include "silent_listener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace montest {

SilentListener::SilentListener()
{
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener_ < 0 || bind(listener_, (sockaddr*)&address, sizeof(address)) < 0 || listen(listener_, 0) < 0 ||
        getsockname(listener_, (sockaddr*)&address, &length) < 0)
        return;
    port_ = ntohs(address.sin_port);
    // One connection fills the queue of a backlog of 0; it is never accepted.
    int filler = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (filler >= 0 && connect(filler, (sockaddr*)&address, sizeof(address)) == 0)
        filler_ = filler;
    else if (filler >= 0)
        close(filler);
}

SilentListener::~SilentListener()
{
    if (filler_ >= 0)
        close(filler_);
    if (listener_ >= 0)
        close(listener_);
}

} // namespace montest
