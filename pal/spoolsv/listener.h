// The host's socket: accepts connections of other processes and serves each on its own thread.
// The socket is open to every local user, so what one peer can take is bounded: at most
// kMaxConnections connections (and threads) at once, a connection beyond them is closed at once;
// a frame's buffer grows only with the bytes that arrive; a peer that stalls in the middle of a
// frame for kStallLimitMs is cut off. A connection that is idle between frames is kept (a client
// holds its printer handle on it).
#pragma once

#include <atomic>
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
    struct Connection {
        int fd;
        Caller caller;
        std::thread thread;
        std::atomic<bool> finished{false};
    };

    void acceptLoop();
    void serve(Connection& connection);
    bool isAdmin(int fd) const;
    // Joins the threads of connections that have ended; the caller holds mutex_.
    void reapFinished();

    Dispatcher& dispatcher_;
    const uid_t adminOwner_;
    const bool refuseAdmin_;
    std::string socketPath_;
    int listenFd_ = -1;
    int wakeFds_[2] = {-1, -1};
    std::thread acceptThread_;
    std::mutex mutex_;
    std::list<Connection> connections_;
    uint64_t nextSession_ = 1;
};

} // namespace spoolsv
