// The plain POSIX reader and sender of the Winsock send benchmark.
#include "posix_loopback.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <vector>

namespace bench {
namespace {

std::string systemError(const char* call)
{
    return std::string(call) + ": " + std::strerror(errno);
}

sockaddr_in loopback(uint16_t port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// Compares the ends of each block with the pattern, which shows lost, repeated or reordered bytes
// without making the reader much slower than a plain one.
bool matches(const char* block, size_t size, uint64_t offset)
{
    constexpr size_t kSample = 64;
    const char* expected = pattern() + offset % kPatternPeriod;
    size_t head = std::min(size, kSample);
    size_t tail = std::min(size, kSample);
    return std::memcmp(block, expected, head) == 0 &&
           std::memcmp(block + size - tail, expected + size - tail, tail) == 0;
}

} // namespace

const char* pattern()
{
    static const std::vector<char> bytes = [] {
        std::vector<char> data(kPatternPeriod + kChunk);
        for (size_t i = 0; i < data.size(); ++i)
            data[i] = static_cast<char>((i % kPatternPeriod) * 131 + (i % kPatternPeriod) / 251);
        return data;
    }();
    return bytes.data();
}

Reader::~Reader()
{
    if (thread_.joinable())
        thread_.join();
    if (listener_ >= 0)
        ::close(listener_);
}

bool Reader::start(std::string& error)
{
    pattern(); // built before the clock starts
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = loopback(0);
    socklen_t length = sizeof(address);
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        ::listen(listener_, 1) != 0 || ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        error = systemError("listen");
        return false;
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread(&Reader::run, this);
    return true;
}

void Reader::run()
{
    int connection = ::accept(listener_, nullptr, nullptr);
    if (connection < 0) {
        error_ = systemError("accept");
        return;
    }
    std::vector<char> buffer(kChunk);
    for (;;) {
        ssize_t got = ::recv(connection, buffer.data(), buffer.size(), 0);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            error_ = systemError("recv");
            break;
        }
        if (got == 0)
            break;
        if (!matches(buffer.data(), static_cast<size_t>(got), received_)) {
            error_ = "bytes from " + std::to_string(received_) + " on differ from what was sent";
            break;
        }
        received_ += static_cast<uint64_t>(got);
    }
    ::close(connection);
}

bool Reader::finish(uint64_t& received, std::string& error)
{
    if (thread_.joinable())
        thread_.join();
    received = received_;
    error = error_;
    return error_.empty();
}

bool sendBlocking(uint16_t port, uint64_t total, int sendBuffer, std::string& error)
{
    int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0) {
        error = systemError("socket");
        return false;
    }
    sockaddr_in address = loopback(port);
    bool done = (sendBuffer == 0 || ::setsockopt(s, SOL_SOCKET, SO_SNDBUF, &sendBuffer, sizeof(sendBuffer)) == 0) &&
                ::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    for (uint64_t sent = 0; done && sent < total;) {
        size_t size = static_cast<size_t>(std::min<uint64_t>(kChunk, total - sent));
        ssize_t n = ::send(s, pattern() + sent % kPatternPeriod, size, MSG_NOSIGNAL);
        if (n > 0)
            sent += static_cast<uint64_t>(n);
        else if (n < 0 && errno != EINTR)
            done = false;
    }
    if (!done)
        error = systemError("send");
    ::shutdown(s, SHUT_WR);
    ::close(s);
    return done;
}

} // namespace bench
