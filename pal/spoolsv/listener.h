// The host's socket: accepts connections of other processes and serves each on a thread of its
// own. The threads are kept for later connections: each waits for a connection itself (one of the
// waiters is woken per connection), so a connection costs neither a thread start nor a hand-over.
// The socket is open to every local user, so what one peer can take is bounded: at most
// kMaxConnections connections are served at once (with one more thread waiting, which closes a
// connection beyond them at once); a frame's buffer grows only with the bytes that arrive; a peer
// that stalls in the middle of a frame for kStallLimitMs is cut off. A connection that is idle
// between frames is kept (a client holds its printer handle on it).
#pragma once

#include <list>
#include <mutex>
#include <string>
#include <thread>

#include <sys/types.h>

#include "dispatch.h"

namespace spoolsv {

class Listener {
public:
    static constexpr size_t kMaxConnections = 64;
    static constexpr size_t kMaxIdleThreads = 4;
    static constexpr DWORD kStallLimitMs = 30000;  // scaled by the time knob

    // Callers running as root or as adminOwner administer the server, unless everyone is refused
    // (the host's --non-admin setting).
    Listener(Dispatcher& dispatcher, uid_t adminOwner, bool refuseAdmin)
        : dispatcher_(dispatcher), adminOwner_(adminOwner), refuseAdmin_(refuseAdmin)
    {
    }
    ~Listener() { stop(); }
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    // Listens on socketPath; the socket appears under that name only once it accepts connections.
    bool start(const std::string& socketPath, std::string& error);
    // Stops accepting, ends every connection, waits for their threads; removes the socket.
    void stop();

private:
    struct Worker {
        std::thread thread;
        int fd = -1;  // the connection being served
        bool finished = false;
    };

    void work(Worker& self);
    // The next connection, or -1 once the listener stops.
    int waitForConnection(int epollFd);
    void serve(int fd, const Caller& caller);
    bool isAdmin(int fd) const;
    // Starts a thread that waits for connections; the caller holds mutex_.
    void addWorker();
    // Joins the threads that have ended; the caller holds mutex_.
    void reapFinished();

    Dispatcher& dispatcher_;
    const uid_t adminOwner_;
    const bool refuseAdmin_;
    std::string socketPath_;
    int listenFd_ = -1;
    int wakeFds_[2] = {-1, -1};
    std::mutex mutex_;
    std::list<Worker> workers_;
    size_t waiting_ = 0;  // threads waiting for a connection
    size_t serving_ = 0;  // connections being served
    bool stopping_ = false;
    uint64_t nextSession_ = 1;
};

} // namespace spoolsv
