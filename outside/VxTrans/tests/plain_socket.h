// A plain POSIX socket of the transport's tests: the peer of an endpoint on loopback.
#pragma once

#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "transport_recorder.h"

namespace vxtest {

// A plain socket of the test, bound to address:port (0: any free port).
struct PlainSocket {
    int fd = -1;
    PlainSocket(int type, const char* address, uint16_t port, bool reuse = false)
    {
        fd = socket(AF_INET, type, 0);
        const int on = 1;
        if (reuse)
            setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in local = inet(address, port);
        if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
            close(fd);
            fd = -1;
        }
    }
    ~PlainSocket()
    {
        if (fd >= 0)
            close(fd);
    }
    PlainSocket(const PlainSocket&) = delete;
    PlainSocket& operator=(const PlainSocket&) = delete;
    uint16_t port() const
    {
        sockaddr_in local{};
        socklen_t length = sizeof local;
        getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length);
        return ntohs(local.sin_port);
    }
    void sendTo(const std::string& data, const char* address, uint16_t port) const
    {
        sockaddr_in peer = inet(address, port);
        sendto(fd, data.data(), data.size(), 0, reinterpret_cast<sockaddr*>(&peer), sizeof peer);
    }
    // One datagram, waiting at most 10 s; empty on time-out. The sender's port in *from.
    std::string receive(uint16_t* fromPort = nullptr) const
    {
        timeval limit{10, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        char data[65536];
        sockaddr_in sender{};
        socklen_t length = sizeof sender;
        const ssize_t got = recvfrom(fd, data, sizeof data, 0, reinterpret_cast<sockaddr*>(&sender), &length);
        if (fromPort != nullptr)
            *fromPort = ntohs(sender.sin_port);
        return got > 0 ? std::string(data, static_cast<size_t>(got)) : std::string();
    }
};

} // namespace vxtest
