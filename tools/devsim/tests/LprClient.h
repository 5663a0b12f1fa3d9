// A hand-driven LPR sender for the simulator's tests: plain blocking sockets, bytes exactly as the
// test writes them, and bounded waits for the device's answers.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>

namespace lprtest {

using namespace std::chrono_literals;

constexpr auto kWait = std::chrono::milliseconds(20000);

// What the sender hears next from the device.
struct Heard {
    enum Kind { Byte, Closed, Reset, Nothing } kind = Nothing;
    uint8_t byte = 0;

    static Heard of(uint8_t value) { return {Byte, value}; }
    bool operator==(const Heard& other) const { return kind == other.kind && (kind != Byte || byte == other.byte); }
};

inline std::string describe(const Heard& heard)
{
    switch (heard.kind) {
    case Heard::Byte:
        return "byte " + std::to_string(heard.byte);
    case Heard::Closed:
        return "closed";
    case Heard::Reset:
        return "reset";
    default:
        return "nothing";
    }
}

inline void PrintTo(const Heard& heard, std::ostream* out)
{
    *out << describe(heard);
}

class LprClient {
public:
    LprClient(const std::string& address, uint16_t port)
    {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        timeval bound{static_cast<time_t>(kWait.count() / 1000), 0};
        setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &bound, sizeof(bound));
        sockaddr_in remote{};
        remote.sin_family = AF_INET;
        remote.sin_port = htons(port);
        inet_pton(AF_INET, address.c_str(), &remote.sin_addr);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&remote), sizeof(remote)) == 0;
        connectError_ = connected_ ? 0 : errno;
    }
    ~LprClient()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    LprClient(const LprClient&) = delete;
    LprClient& operator=(const LprClient&) = delete;

    bool connected() const { return connected_; }
    int connectError() const { return connectError_; }

    uint16_t localPort() const
    {
        sockaddr_in local{};
        socklen_t length = sizeof(local);
        getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &length);
        return ntohs(local.sin_port);
    }

    // Sends every byte; false when the connection broke or the device stopped taking them.
    bool send(std::string_view bytes)
    {
        while (!bytes.empty()) {
            ssize_t sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (sent <= 0)
                return false;
            bytes.remove_prefix(static_cast<size_t>(sent));
        }
        return true;
    }

    // The device's next answer, waiting at most `wait`.
    Heard next(std::chrono::milliseconds wait = kWait)
    {
        pollfd ready{fd_, POLLIN, 0};
        if (::poll(&ready, 1, static_cast<int>(wait.count())) != 1)
            return {};
        uint8_t byte = 0;
        ssize_t got = ::recv(fd_, &byte, 1, 0);
        if (got == 1)
            return Heard::of(byte);
        return {got == 0 ? Heard::Closed : Heard::Reset};
    }

    // Sends a step and returns the device's answer to it.
    Heard exchange(std::string_view bytes)
    {
        if (!send(bytes))
            return {Heard::Reset};
        return next();
    }

    // Everything the device sends until it closes (bounded).
    std::string rest()
    {
        std::string bytes;
        for (;;) {
            Heard heard = next();
            if (heard.kind != Heard::Byte)
                return bytes;
            bytes += static_cast<char>(heard.byte);
        }
    }

    void shutdownSend() { ::shutdown(fd_, SHUT_WR); }

    // Closes with a reset (RST) instead of a FIN.
    void reset()
    {
        linger abortive{1, 0};
        setsockopt(fd_, SOL_SOCKET, SO_LINGER, &abortive, sizeof(abortive));
        ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_ = -1;
    bool connected_ = false;
    int connectError_ = 0;
};

} // namespace lprtest
