// The simulated printer's line printer daemon (RFC 1179): it takes the "receive a printer job"
// command with its control-file, data-file and abort subcommands on a loopback address, answers
// each step as its script says, and records every connection as one LprJob: the bytes as they
// came and the job read from them. Data files come announced by size, or, with a count of 0 or
// one too large for any device, they end with the connection's close.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "JobBook.h"
#include "LprJob.h"
#include "ServingThread.h"

namespace devsim {

struct LprReceiverOptions {
    std::string address = "127.0.0.1";
    uint16_t port = 515; // 0: a free port
    LprScript script;    // for every connection that has no script of its own queued
    // Data-file counts of 0 or at least this announce a file that ends with the connection.
    uint64_t sizeUnknownFrom = 1000000000000;
    // Close this long after the sender's shutdown instead of at once (0: at once); a reset from
    // the sender meanwhile ends the job as SenderReset.
    std::chrono::milliseconds closeDelay{0};
};

class LprReceiver {
public:
    using JobEnded = std::function<void(size_t index, const LprJob& job)>;
    // The first data file so far (up to 64 KiB), on the receiver's thread each time it grows,
    // until the callback returns true.
    using JobData = std::function<bool(size_t index, std::string_view firstDataFile)>;

    explicit LprReceiver(LprReceiverOptions options, JobEnded jobEnded = {}, JobData jobData = {});
    ~LprReceiver();
    LprReceiver(const LprReceiver&) = delete;
    LprReceiver& operator=(const LprReceiver&) = delete;

    // Binds, listens and serves on a thread of its own; false with a message.
    bool start(std::string& error);
    // Ends every open job (LprEnd::Stopped) and the thread, and frees the port.
    void stop();
    const std::string& address() const { return options_.address; }
    uint16_t port() const { return serving_.port(); }

    // The next connection answers by this script (one queued script per connection, in order).
    void queueScript(LprScript script);
    // Stalled connections go on; an answer held back is sent as an acknowledgement.
    void resume();
    // Resets the connection of a job still open (LprEnd::ResetByDevice).
    void drop(size_t index);

    std::vector<LprJob> jobs() const { return book_.jobs(); }
    // Waits until `condition` holds for the jobs; false when the time ran out first.
    bool waitUntil(const std::function<bool(const std::vector<LprJob>&)>& condition,
                   std::chrono::milliseconds timeout) const
    {
        return book_.waitUntil(condition, timeout);
    }
    // Waits until at least count connections have ended.
    bool waitForJobs(size_t count, std::chrono::milliseconds timeout) const;

private:
    struct Connection;

    void run();
    void acceptConnections();
    void readFrom(Connection& connection);
    void serve(Connection& connection, bool resuming);
    void endJob(Connection& connection, LprEnd end);
    void reportData(Connection& connection);
    void reset(Connection& connection);

    const LprReceiverOptions options_;
    const JobEnded jobEnded_;
    const JobData jobData_;
    std::list<Connection> connections_; // the receiver's thread only

    JobBook<LprJob> book_;
    std::mutex queueMutex_;
    std::deque<LprScript> queued_; // under queueMutex_
    ServingThread serving_; // last: stopped before the members its thread uses go
};

} // namespace devsim
