#include "lpr_peer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace montest {

namespace {

constexpr uint64_t kSizeUntilClose = 1000000000000ull;

} // namespace

// One connection, read on the peer's thread.
class LprPeer::Session {
public:
    Session(LprPeer& peer, int fd, size_t index) : peer_(peer), fd_(fd), index_(index) {}

    void run()
    {
        std::string command;
        if (!readLine(command) || !answer())
            return;
        while (readLine(command)) {
            uint64_t size = sizeOf(command);
            if (!answer())
                return;
            if (lastAck_ != 0)
                continue;
            if (command[0] == '\2' && !(readBytes(size + 1) && answer()))
                return;
            if (command[0] == '\3' && !readDataFile(size))
                return;
        }
    }

private:
    static uint64_t sizeOf(const std::string& command)
    {
        uint64_t size = 0;
        size_t i = 1;
        for (; i < command.size() && command[i] >= '0' && command[i] <= '9'; i++)
            size = size * 10 + uint64_t(command[i] - '0');
        return i == 1 ? kSizeUntilClose : size;
    }

    bool readDataFile(uint64_t size)
    {
        dataBytes_ = 0;
        inData_ = true;
        bool ok = size >= kSizeUntilClose ? readToEnd() : readBytes(size + 1) && answer();
        inData_ = false;
        return ok;
    }

    // Waits until the socket can be read (and a stalled data file is released); false on stop.
    bool awaitReadable()
    {
        for (;;) {
            bool stalled;
            {
                std::lock_guard<std::mutex> lock(peer_.mutex_);
                if (peer_.stopping_)
                    return false;
                stalled = inData_ && peer_.stallAfter_ && dataBytes_ >= *peer_.stallAfter_ && !peer_.released_;
            }
            pollfd fds[2] = {{peer_.wake_[0], POLLIN, 0}, {fd_, short(stalled ? 0 : POLLIN), 0}};
            if (poll(fds, 2, 50) < 0 && errno != EINTR)
                return false;
            if (!stalled && (fds[1].revents & (POLLIN | POLLHUP | POLLERR)))
                return true;
        }
    }

    // Up to `limit` bytes; 0 when the sender closed, -1 on error or stop.
    ssize_t readSome(uint8_t* buffer, size_t limit)
    {
        if (!awaitReadable())
            return -1;
        ssize_t got = recv(fd_, buffer, limit, 0);
        if (got > 0) {
            record(buffer, size_t(got));
            if (inData_)
                dataBytes_ += uint64_t(got);
        } else if (got == 0) {
            std::lock_guard<std::mutex> lock(peer_.mutex_);
            peer_.connections_[index_].senderClosed = true;
        }
        return got;
    }

    bool readLine(std::string& line)
    {
        line.clear();
        uint8_t c = 0;
        while (readSome(&c, 1) == 1) {
            line += char(c);
            if (c == '\n')
                return true;
        }
        return false;
    }

    bool readBytes(uint64_t count)
    {
        uint8_t buffer[65536];
        while (count > 0) {
            ssize_t got = readSome(buffer, size_t(std::min<uint64_t>(count, sizeof(buffer))));
            if (got <= 0)
                return false;
            count -= uint64_t(got);
        }
        return true;
    }

    bool readToEnd()
    {
        uint8_t buffer[65536];
        ssize_t got;
        while ((got = readSome(buffer, sizeof(buffer))) > 0) {
        }
        return false;
    }

    // Sends the next acknowledgement of the script; false when the connection ends instead.
    bool answer()
    {
        int ack = peer_.nextAck();
        if (ack == kAckClose)
            return false;
        if (ack == kAckSilent)
            return readToEnd();
        bool closing = ack == kAckThenClose || ack == kAckThenHalfClose;
        uint8_t byte = closing ? 0 : uint8_t(ack);
        // Held back until the shutdown, so the answer and the close reach the sender together.
        if (send(fd_, &byte, 1, MSG_NOSIGNAL | (closing ? MSG_MORE : 0)) != 1)
            return false;
        if (ack == kAckThenHalfClose)
            shutdown(fd_, SHUT_WR);
        lastAck_ = byte;
        std::lock_guard<std::mutex> lock(peer_.mutex_);
        peer_.connections_[index_].acks.push_back(byte);
        peer_.changed_.notify_all();
        return ack != kAckThenClose;
    }

    void record(const uint8_t* bytes, size_t count)
    {
        std::lock_guard<std::mutex> lock(peer_.mutex_);
        auto& received = peer_.connections_[index_].received;
        received.insert(received.end(), bytes, bytes + count);
        peer_.changed_.notify_all();
    }

    LprPeer& peer_;
    int fd_;
    size_t index_;
    uint8_t lastAck_ = 0;
    bool inData_ = false;
    uint64_t dataBytes_ = 0;
};

LprPeer::LprPeer(std::vector<int> acks) : script_(std::move(acks)) {}

LprPeer::~LprPeer()
{
    stop();
}

bool LprPeer::start(std::string& error)
{
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    if (listener_ < 0 || bind(listener_, (sockaddr*)&address, sizeof(address)) < 0 || listen(listener_, 16) < 0 ||
        getsockname(listener_, (sockaddr*)&address, &length) < 0 || pipe2(wake_, O_CLOEXEC) < 0) {
        error = std::string("LPR peer: ") + strerror(errno);
        return false;
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread(&LprPeer::run, this);
    return true;
}

void LprPeer::stop()
{
    if (!thread_.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    char c = 0;
    (void)!write(wake_[1], &c, 1);
    thread_.join();
    close(listener_);
    close(wake_[0]);
    close(wake_[1]);
}

void LprPeer::stallDataAfter(uint64_t bytes)
{
    std::lock_guard<std::mutex> lock(mutex_);
    stallAfter_ = bytes;
    released_ = false;
}

void LprPeer::release()
{
    std::lock_guard<std::mutex> lock(mutex_);
    released_ = true;
}

int LprPeer::nextAck()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return nextScript_ < script_.size() ? script_[nextScript_++] : 0;
}

std::vector<LprPeerConnection> LprPeer::connections() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return connections_;
}

bool LprPeer::waitUntil(const std::function<bool(const std::vector<LprPeerConnection>&)>& condition,
                        std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return condition(connections_); });
}

bool LprPeer::waitForEnded(size_t count, std::chrono::milliseconds timeout) const
{
    return waitUntil(
        [count](const std::vector<LprPeerConnection>& connections) {
            if (connections.size() < count)
                return false;
            for (size_t i = 0; i < count; i++)
                if (!connections[i].ended)
                    return false;
            return true;
        },
        timeout);
}

void LprPeer::run()
{
    for (;;) {
        pollfd fds[2] = {{wake_[0], POLLIN, 0}, {listener_, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0 && errno != EINTR)
            return;
        if (fds[0].revents)
            return;
        if (!(fds[1].revents & POLLIN))
            continue;
        sockaddr_in sender = {};
        socklen_t length = sizeof(sender);
        int fd = accept4(listener_, (sockaddr*)&sender, &length, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        size_t index;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            connections_.push_back({});
            connections_.back().senderPort = ntohs(sender.sin_port);
            index = connections_.size() - 1;
        }
        Session(*this, fd, index).run();
        close(fd);
        std::lock_guard<std::mutex> lock(mutex_);
        connections_[index].ended = true;
        changed_.notify_all();
    }
}

} // namespace montest
