// A listening socket served on a thread of its own, which wake() interrupts. This header stays free
// of the C library's socket headers: tests built on the platform layer's sockets include it.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace devsim {

class ServingThread {
public:
    ServingThread() = default;
    ~ServingThread();
    ServingThread(const ServingThread&) = delete;
    ServingThread& operator=(const ServingThread&) = delete;

    // Binds address:port (port 0: a free port) and, unless told not to, listens; then runs serve
    // on the new thread. serve returns once stopRequested() holds. False with a message.
    bool start(const std::string& address, uint16_t port, bool listen, std::function<void()> serve,
               std::string& error);
    // Asks serve to return, waits for it and frees the port.
    void stop();
    bool stopRequested() const { return stopping_; }
    // Ends the serving thread's current poll; drainWakeups() consumes the signal.
    void wake();
    void drainWakeups();

    int listener() const { return listener_; }
    int wakeup() const { return wake_; }
    uint16_t port() const { return port_; }

private:
    int listener_ = -1;
    int wake_ = -1;
    uint16_t port_ = 0;
    std::thread thread_;
    std::mutex stopMutex_;
    std::atomic<bool> stopping_{false};
};

} // namespace devsim
