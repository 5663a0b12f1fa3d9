// The other end of the simulator's DMLP ports in tests: plain sockets, frames built field by
// field, bounded waits.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace dmlptest {

using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;

constexpr auto kWait = std::chrono::milliseconds(20000);
// How long a test listens to be sure that nothing comes.
constexpr auto kQuiet = std::chrono::milliseconds(300);

inline void put16(Bytes& bytes, uint16_t value)
{
    bytes.push_back(static_cast<uint8_t>(value >> 8));
    bytes.push_back(static_cast<uint8_t>(value));
}

inline void put32(Bytes& bytes, uint32_t value)
{
    put16(bytes, static_cast<uint16_t>(value >> 16));
    put16(bytes, static_cast<uint16_t>(value));
}

inline uint16_t get16(const Bytes& bytes, size_t at)
{
    return static_cast<uint16_t>(bytes.at(at) << 8 | bytes.at(at + 1));
}

inline uint32_t get32(const Bytes& bytes, size_t at)
{
    return static_cast<uint32_t>(get16(bytes, at)) << 16 | get16(bytes, at + 2);
}

// A request: magic, version 16, flags 0x04 (reply wanted), method, id, body length, object words 0.
inline Bytes request(uint16_t method, uint16_t id, const Bytes& body, uint8_t flags = 0x04)
{
    Bytes frame = {0xCD, 0xCA, 0x10, flags};
    put16(frame, method);
    put16(frame, id);
    put16(frame, static_cast<uint16_t>(body.size()));
    frame.resize(20, 0);
    frame.insert(frame.end(), body.begin(), body.end());
    return frame;
}

inline Bytes get2Body(uint16_t objectClass, const std::vector<uint32_t>& handles, const std::vector<uint16_t>& ids)
{
    Bytes body;
    put16(body, objectClass);
    body.push_back(0); // typed value of type 0
    body.push_back(0);
    put16(body, static_cast<uint16_t>(handles.size()));
    for (uint32_t handle : handles)
        put32(body, handle);
    put16(body, static_cast<uint16_t>(ids.size()));
    for (uint16_t id : ids)
        put16(body, id);
    return body;
}

inline Bytes listJobsBody()
{
    Bytes body;
    put16(body, 0);
    put16(body, 0);
    body.push_back(0);
    put16(body, 201);
    body.push_back(22);
    put32(body, 501);
    put32(body, 0);
    put16(body, 0);
    return body;
}

// The handles of a ListObjects2 reply.
inline std::vector<uint32_t> listedHandles(const Bytes& reply)
{
    std::vector<uint32_t> handles(get16(reply, 20 + 14));
    for (size_t i = 0; i < handles.size(); ++i)
        handles[i] = get32(reply, 20 + 16 + 4 * i);
    return handles;
}

// The subscription element: ids, 7, an IPv4 address form of `kind` (1 TCP, 2 UDP), extra.
inline Bytes element(const std::vector<uint16_t>& ids, uint16_t kind, uint16_t port, uint32_t address = 0x7F000001)
{
    Bytes bytes;
    put16(bytes, static_cast<uint16_t>(ids.size()));
    for (uint16_t id : ids)
        put16(bytes, id);
    put32(bytes, 7);
    put16(bytes, 9);
    put16(bytes, kind);
    bytes.push_back(6);
    put32(bytes, address);
    put16(bytes, port);
    put32(bytes, 0x01000000);
    return bytes;
}

inline Bytes appendToListBody(uint32_t value, const Bytes& element)
{
    Bytes body = {3};
    put32(body, value);
    put16(body, 2);
    put16(body, 0);
    body.insert(body.end(), element.begin(), element.end());
    return body;
}

inline Bytes setListElementBody(uint8_t operation, uint32_t value, const Bytes& element)
{
    Bytes body = {operation, 0, 0};
    put32(body, value);
    put16(body, 2);
    body.insert(body.end(), element.begin(), element.end());
    return body;
}

inline sockaddr_in endpoint(const std::string& address, uint16_t port)
{
    sockaddr_in result{};
    result.sin_family = AF_INET;
    result.sin_port = htons(port);
    inet_pton(AF_INET, address.c_str(), &result.sin_addr);
    return result;
}

inline bool readable(int fd, std::chrono::milliseconds wait)
{
    pollfd ready{fd, POLLIN, 0};
    return ::poll(&ready, 1, static_cast<int>(wait.count())) == 1;
}

class UdpPeer {
public:
    explicit UdpPeer(const std::string& address = "127.0.0.1")
    {
        fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in local = endpoint(address, 0);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof(local));
        int on = 1;
        setsockopt(fd_, SOL_SOCKET, SO_BROADCAST, &on, sizeof(on));
        socklen_t length = sizeof(local);
        getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &length);
        port_ = ntohs(local.sin_port);
    }
    ~UdpPeer() { ::close(fd_); }
    UdpPeer(const UdpPeer&) = delete;
    UdpPeer& operator=(const UdpPeer&) = delete;

    uint16_t port() const { return port_; }

    void send(const std::string& address, uint16_t port, const Bytes& bytes)
    {
        const sockaddr_in to = endpoint(address, port);
        ::sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof(to));
    }

    // The next datagram, and who sent it; nothing when none came in time.
    std::optional<Bytes> receive(std::chrono::milliseconds wait = kWait, std::string* from = nullptr)
    {
        if (!readable(fd_, wait))
            return std::nullopt;
        Bytes bytes(65536);
        sockaddr_in sender{};
        socklen_t length = sizeof(sender);
        ssize_t got = ::recvfrom(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&sender), &length);
        if (got < 0)
            return std::nullopt;
        bytes.resize(static_cast<size_t>(got));
        if (from) {
            char text[INET_ADDRSTRLEN] = {};
            inet_ntop(AF_INET, &sender.sin_addr, text, sizeof(text));
            *from = std::string(text) + ":" + std::to_string(ntohs(sender.sin_port));
        }
        return bytes;
    }

    // Sends the request and waits for one answer.
    std::optional<Bytes> ask(const std::string& address, uint16_t port, const Bytes& frame)
    {
        send(address, port, frame);
        return receive();
    }

private:
    int fd_ = -1;
    uint16_t port_ = 0;
};

// A TCP listener for event notifications sent over a kept connection.
class TcpEventListener {
public:
    TcpEventListener()
    {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int small = 16384; // a subscriber that stops reading is soon full
        setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &small, sizeof(small));
        sockaddr_in local = endpoint("127.0.0.1", 0);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof(local));
        ::listen(fd_, 4);
        socklen_t length = sizeof(local);
        getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &length);
        port_ = ntohs(local.sin_port);
    }
    ~TcpEventListener()
    {
        ::close(connection_);
        ::close(fd_);
    }
    TcpEventListener(const TcpEventListener&) = delete;
    TcpEventListener& operator=(const TcpEventListener&) = delete;

    uint16_t port() const { return port_; }
    bool accept(std::chrono::milliseconds wait = kWait)
    {
        if (!readable(fd_, wait))
            return false;
        sockaddr_in peer{};
        socklen_t length = sizeof(peer);
        connection_ = ::accept(fd_, reinterpret_cast<sockaddr*>(&peer), &length);
        char text[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &peer.sin_addr, text, sizeof(text));
        peer_ = text;
        return connection_ >= 0;
    }
    const std::string& peer() const { return peer_; }
    // The subscriber goes away: its connection closes (the listener stays).
    void hangUp()
    {
        ::close(connection_);
        connection_ = -1;
        buffer_.clear();
    }

    // The next whole frame from the connection.
    std::optional<Bytes> frame(std::chrono::milliseconds wait = kWait)
    {
        const auto deadline = std::chrono::steady_clock::now() + wait;
        for (;;) {
            if (buffer_.size() >= 20 && buffer_.size() >= 20u + get16(buffer_, 8)) {
                const size_t size = 20u + get16(buffer_, 8);
                Bytes frame(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(size));
                buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(size));
                return frame;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0 || !readable(connection_, left))
                return std::nullopt;
            uint8_t bytes[4096];
            ssize_t got = ::recv(connection_, bytes, sizeof(bytes), 0);
            if (got <= 0)
                return std::nullopt;
            buffer_.insert(buffer_.end(), bytes, bytes + got);
        }
    }

private:
    int fd_ = -1;
    int connection_ = -1;
    uint16_t port_ = 0;
    std::string peer_;
    Bytes buffer_;
};

// The event ids of a notification frame, in order.
inline std::vector<uint16_t> eventIds(const Bytes& frame)
{
    static const std::pair<uint16_t, size_t> kSizes[] = {{154, 85}, {18, 41}, {19, 0}};
    std::vector<uint16_t> ids;
    size_t at = 25;
    for (uint8_t count = frame.at(24); count > 0; --count) {
        const uint16_t id = get16(frame, at);
        ids.push_back(id);
        size_t size = 0;
        for (auto [known, bytes] : kSizes)
            if (known == id)
                size = bytes ? bytes : 5u + frame.at(at + 3 + 4);
        at += 3 + size;
    }
    return ids;
}

} // namespace dmlptest
