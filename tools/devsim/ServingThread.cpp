#include "ServingThread.h"

#include <arpa/inet.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "Sockets.h"

namespace devsim {

namespace {

// A printer's small receive window: a device that stops reading blocks the sender soon.
constexpr int kReceiveBuffer = 65536;

} // namespace

ServingThread::~ServingThread()
{
    stop();
    closeDescriptor(wake_);
}

bool ServingThread::start(const std::string& address, uint16_t port, bool listen, std::function<void()> serve,
                          std::string& error)
{
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    if (inet_pton(AF_INET, address.c_str(), &local.sin_addr) != 1) {
        error = "not an IPv4 address: " + address;
        return false;
    }
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    int on = 1;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
    setsockopt(listener_, SOL_SOCKET, SO_RCVBUF, &kReceiveBuffer, sizeof(kReceiveBuffer));
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&local), sizeof(local)) != 0 ||
        (listen && ::listen(listener_, 16) != 0)) {
        error = "cannot listen on " + describe(local) + ": " + std::strerror(errno);
        closeDescriptor(listener_);
        return false;
    }
    socklen_t length = sizeof(local);
    getsockname(listener_, reinterpret_cast<sockaddr*>(&local), &length);
    port_ = ntohs(local.sin_port);
    wake_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    thread_ = std::thread(std::move(serve));
    return true;
}

void ServingThread::stop()
{
    std::lock_guard<std::mutex> lock(stopMutex_);
    if (thread_.joinable()) {
        stopping_ = true;
        wake();
        thread_.join();
    }
    closeDescriptor(listener_);
}

void ServingThread::wake()
{
    uint64_t one = 1;
    [[maybe_unused]] ssize_t written = ::write(wake_, &one, sizeof(one));
}

void ServingThread::drainWakeups()
{
    uint64_t count;
    [[maybe_unused]] ssize_t consumed = ::read(wake_, &count, sizeof(count));
}

} // namespace devsim
