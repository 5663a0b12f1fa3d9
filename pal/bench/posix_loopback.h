// The plain POSIX side of the Winsock send benchmark: a reader that checks every byte and a
// blocking sender. Kept apart from the Winsock calls, whose names the C library's socket headers
// would take.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <thread>

namespace bench {

// The stream's bytes: byte i is pattern()[i % kPatternPeriod]; pattern() holds kPatternPeriod +
// kChunk bytes, so that any chunk starting inside the period is contiguous.
constexpr size_t kChunk = 64 * 1024;
constexpr size_t kPatternPeriod = 65521;
const char* pattern();

// Accepts one connection on 127.0.0.1 and reads it to its end, checking the bytes against the
// pattern.
class Reader {
public:
    Reader() = default;
    ~Reader();
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    // Listens and starts reading in a thread; false with the reason.
    bool start(std::string& error);
    uint16_t port() const { return port_; }
    // Waits for the end of the stream; false when a byte differed or reading failed.
    bool finish(uint64_t& received, std::string& error);

private:
    void run();

    int listener_ = -1;
    uint16_t port_ = 0;
    std::thread thread_;
    uint64_t received_ = 0;
    std::string error_;
};

// Sends `total` bytes of the pattern in chunks through a plain blocking socket to 127.0.0.1:port
// (send buffer left to the system when sendBuffer is 0); false with the reason.
bool sendBlocking(uint16_t port, uint64_t total, int sendBuffer, std::string& error);

} // namespace bench
