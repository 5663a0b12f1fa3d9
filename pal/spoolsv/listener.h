// The host's socket: accepts connections of other processes and serves each on a thread of its
// own. The threads are kept for later connections: each waits for a connection itself (one of the
// waiters is woken per connection), so a connection costs neither a thread start nor a hand-over.
// The socket is open to every local user, so what one peer can take is bounded: at most
// kMaxConnections connections are served at once; a connection beyond them waits, without a
// thread, for one of them to end (kMaxWaitingConnections at most, each for kConnectionWaitMs, then
// it is closed); a frame's buffer grows only with the bytes that arrive; a peer that stalls in the
// middle of a frame for kStallLimitMs is cut off. A connection that is idle between frames is kept
// (a client holds its printer handle on it).
#pragma once

#include <deque>
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
    static constexpr size_t kMaxWaitingConnections = 2048;
    static constexpr size_t kMaxIdleThreads = 4;
    static constexpr DWORD kStallLimitMs = 30000;       // scaled by the time knob
    static constexpr DWORD kConnectionWaitMs = 30000;   // scaled by the time knob

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
    struct WaitingConnection {
        int fd;
        ULONGLONG since;  // GetTickCount64
    };

    void work(Worker& self);
    // A new connection, kNoConnection after timeoutMs (-1: none), or kStopped once the listener stops.
    int waitForConnection(int epollFd, int timeoutMs);
    // Queues a connection beyond the bound, or closes it when the queue is full; the caller holds mutex_.
    void queueConnection(int fd);
    // Closes the queued connections that have waited too long; the caller holds mutex_.
    void closeExpired();
    // The oldest queued connection that has not waited too long, or -1; the caller holds mutex_.
    int nextQueued();
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
    std::deque<WaitingConnection> queued_;  // accepted beyond the bound, oldest first
    size_t waiting_ = 0;   // threads waiting for a connection
    size_t starting_ = 0;  // threads started that will wait for one
    size_t serving_ = 0;  // connections being served
    bool stopping_ = false;
    uint64_t nextSession_ = 1;
};

} // namespace spoolsv
