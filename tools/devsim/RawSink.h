// The simulated printer's RAW port: it accepts TCP connections on a loopback address and keeps
// every byte of each connection as one job. Told to, it misbehaves as a device may: it closes or
// resets a connection after some bytes, stops reading (the sender blocks), closes late after the
// sender's shutdown, or does not listen at all (connections are refused).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "JobBook.h"
#include "ServingThread.h"

namespace devsim {

struct RawSinkOptions {
    std::string address = "127.0.0.1";
    uint16_t port = 9100; // 0: a free port
    bool listen = true;   // false: the address is only bound, so connections are refused
    // Close gracefully after this many bytes of a job: FIN, later bytes are read and dropped.
    std::optional<uint64_t> closeAfter;
    // Reset the connection (RST) after this many bytes of a job.
    std::optional<uint64_t> resetAfter;
    // Stop reading after this many bytes of a job, until resume() or resumeAfter.
    std::optional<uint64_t> stallAfter;
    std::optional<std::chrono::milliseconds> resumeAfter;
    // Close this long after the sender's shutdown instead of at once.
    std::chrono::milliseconds closeDelay{0};
};

enum class JobEnd {
    Open,         // still connected
    SenderClosed, // the sender shut its end down (after closeDelay, the sink closed too)
    ClosedBySink, // closeAfter
    ResetBySink,  // resetAfter
    SenderReset,  // the connection broke
    Stopped,      // the sink stopped first
};

struct RawJob {
    std::string peer; // "address:port" of the sender
    std::vector<uint8_t> data;
    bool stalled = false;
    JobEnd end = JobEnd::Open;
};

class RawSink {
public:
    using JobEnded = std::function<void(size_t index, const RawJob& job)>;
    // Each run of bytes as it is taken, on the sink's thread.
    using JobData = std::function<void(size_t index, const uint8_t* data, size_t size)>;

    explicit RawSink(RawSinkOptions options, JobEnded jobEnded = {}, JobData jobData = {});
    ~RawSink();
    RawSink(const RawSink&) = delete;
    RawSink& operator=(const RawSink&) = delete;

    // Binds, listens (unless told not to) and serves on a thread of its own; false with a message.
    bool start(std::string& error);
    // Ends every open job (JobEnd::Stopped) and the thread, and frees the port.
    void stop();
    const std::string& address() const { return options_.address; }
    uint16_t port() const { return serving_.port(); }
    // Stalled jobs read on.
    void resume();
    // Resets the connection of a job still open (JobEnd::ResetBySink).
    void drop(size_t index);

    std::vector<RawJob> jobs() const { return book_.jobs(); }
    // Waits until `condition` holds for the jobs; false when the time ran out first.
    bool waitUntil(const std::function<bool(const std::vector<RawJob>&)>& condition,
                   std::chrono::milliseconds timeout) const
    {
        return book_.waitUntil(condition, timeout);
    }

private:
    struct Connection;

    void run();
    void acceptConnections();
    void readFrom(Connection& connection);
    void applyLimits(Connection& connection);
    void reset(Connection& connection);
    void runTimers(Connection& connection);
    void endJob(Connection& connection, JobEnd end);
    void updateJob(size_t index, const std::function<void(RawJob&)>& change);

    const RawSinkOptions options_;
    const JobEnded jobEnded_;
    const JobData jobData_;
    std::vector<Connection> connections_; // the sink's thread only

    JobBook<RawJob> book_;
    ServingThread serving_; // last: stopped before the members its thread uses go
};

} // namespace devsim
