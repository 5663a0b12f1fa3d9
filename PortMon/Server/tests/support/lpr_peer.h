// A scripted LPR receiver (RFC 1179) for tests: it takes one connection at a time on a loopback
// address, answers the receive-job command, each subcommand and each file with the next
// acknowledgement of its script, and records every byte each connection brought. Data files
// announced with a size are read by that size (and their NUL); a size of 1e12 or more means the
// file ends with the connection. It plays the outside device, so it uses the C library's sockets.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace montest {

// Script entries beside the acknowledgement bytes 0 to 255.
constexpr int kAckClose = -1;  // close the connection instead of answering
constexpr int kAckSilent = -2;  // never answer; read on until the sender closes
constexpr int kAckThenClose = -3;  // accept, and close the connection at once
constexpr int kAckThenHalfClose = -4;  // accept, and shut down the sending side at once; read on

struct LprPeerConnection {
    uint16_t senderPort = 0;
    std::vector<uint8_t> received;  // every byte, in order
    std::vector<uint8_t> acks;  // the acknowledgements sent, in order
    bool ended = false;  // the connection is over
    bool senderClosed = false;  // the sender closed its end first
};

class LprPeer {
public:
    // acks: the answers to the acknowledgement steps of all connections, in order; after the last
    // one every step is accepted.
    explicit LprPeer(std::vector<int> acks = {});
    ~LprPeer();
    LprPeer(const LprPeer&) = delete;
    LprPeer& operator=(const LprPeer&) = delete;

    bool start(std::string& error);
    void stop();
    uint16_t port() const { return port_; }
    // Stops reading a data file after this many of its bytes, until release().
    void stallDataAfter(uint64_t bytes);
    void release();

    std::vector<LprPeerConnection> connections() const;
    bool waitUntil(const std::function<bool(const std::vector<LprPeerConnection>&)>& condition,
                   std::chrono::milliseconds timeout) const;
    // Waits until the first `count` connections are over.
    bool waitForEnded(size_t count, std::chrono::milliseconds timeout) const;

private:
    class Session;
    void run();
    int nextAck();

    std::vector<int> script_;
    size_t nextScript_ = 0;
    int listener_ = -1;
    int wake_[2] = {-1, -1};
    uint16_t port_ = 0;
    std::thread thread_;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<LprPeerConnection> connections_;
    std::optional<uint64_t> stallAfter_;
    bool released_ = false;
    bool stopping_ = false;
};

} // namespace montest
