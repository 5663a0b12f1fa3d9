// The sockets a message thread waits for beside its queue: each watch is armed for one readiness
// (readable or an error) at a time and re-armed by the thread once it has handled it. An epoll set
// with an eventfd for the wake-up (on Windows those of outside/winsock).
#pragma once

#include <cstdint>

namespace vxsrvc {

class SocketWait {
public:
    SocketWait() = default;
    SocketWait(const SocketWait&) = delete;
    SocketWait& operator=(const SocketWait&) = delete;
    ~SocketWait();

    // False when the set or its wake-up cannot be made.
    bool open();
    bool add(int socket, uint32_t watch);
    void rearm(int socket, uint32_t watch);
    void remove(int socket);
    // The watches of sockets that became ready (at most capacity), waiting for one or a wake-up
    // unless block is false. A wake-up is consumed and reports nothing.
    int wait(bool block, uint32_t* ready, int capacity);
    // Ends a wait in progress (or the next one); callable from any thread.
    void wake();

private:
    int poller_ = -1;
    int wake_ = -1;
};

} // namespace vxsrvc
