#include "RawSink.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

#include "Sockets.h"

namespace devsim {

using Clock = std::chrono::steady_clock;

struct RawSink::Connection {
    int fd = -1;
    size_t job = 0;
    uint64_t received = 0;
    bool recording = true; // false once closeAfter has closed our end: later bytes are dropped
    bool stalled = false;
    bool stalledOnce = false;
    std::optional<Clock::time_point> resumeAt;
    std::optional<Clock::time_point> closeAt;
};

namespace {

bool reached(const std::optional<uint64_t>& limit, uint64_t received)
{
    return limit && received >= *limit;
}

} // namespace

RawSink::RawSink(RawSinkOptions options, JobEnded jobEnded, JobData jobData)
    : options_(std::move(options)), jobEnded_(std::move(jobEnded)), jobData_(std::move(jobData))
{
}

RawSink::~RawSink()
{
    stop();
}

bool RawSink::start(std::string& error)
{
    return serving_.start(options_.address, options_.port, options_.listen, [this] { run(); }, error);
}

void RawSink::stop()
{
    serving_.stop();
}

void RawSink::drop(size_t index)
{
    book_.requestDrop(index);
    serving_.wake();
}

void RawSink::resume()
{
    book_.requestResume();
    serving_.wake();
}

void RawSink::run()
{
    for (;;) {
        std::vector<pollfd> watched{{serving_.wakeup(), POLLIN, 0}};
        if (options_.listen)
            watched.push_back({serving_.listener(), POLLIN, 0});
        const size_t firstConnection = watched.size();
        std::optional<Clock::time_point> nextTimer;
        for (const Connection& connection : connections_) {
            bool reading = !connection.stalled && !connection.closeAt;
            watched.push_back({connection.fd, static_cast<short>(reading ? POLLIN : 0), 0});
            for (const auto& timer : {connection.resumeAt, connection.closeAt})
                if (timer && (!nextTimer || *timer < *nextTimer))
                    nextTimer = timer;
        }
        int timeout = -1;
        if (nextTimer)
            timeout = static_cast<int>(std::max<int64_t>(
                0, std::chrono::ceil<std::chrono::milliseconds>(*nextTimer - Clock::now()).count()));
        ::poll(watched.data(), watched.size(), timeout);

        // Wake-ups are consumed before the requests are read, so that none is lost.
        serving_.drainWakeups();
        if (serving_.stopRequested())
            break;
        const auto requests = book_.takeRequests();
        for (Connection& connection : connections_)
            if (connection.fd >= 0 && requests.dropsJob(connection.job))
                reset(connection);
        const size_t known = connections_.size();
        if (options_.listen && watched[1].revents)
            acceptConnections();
        for (size_t i = 0; i < known; ++i) {
            Connection& connection = connections_[i];
            short events = watched[firstConnection + i].revents;
            if (watched[firstConnection + i].events & POLLIN) {
                if (events)
                    readFrom(connection);
            } else if (events & (POLLERR | POLLHUP)) {
                endJob(connection, connection.closeAt ? JobEnd::SenderClosed : JobEnd::SenderReset);
            }
        }
        for (Connection& connection : connections_) {
            if (requests.resume)
                connection.resumeAt = Clock::now();
            runTimers(connection);
        }
        std::erase_if(connections_, [](const Connection& connection) { return connection.fd < 0; });
    }
    for (Connection& connection : connections_)
        endJob(connection, JobEnd::Stopped);
    connections_.clear();
}

void RawSink::acceptConnections()
{
    for (;;) {
        sockaddr_in peer{};
        int fd = acceptConnection(serving_.listener(), peer);
        if (fd < 0)
            return;
        Connection connection;
        connection.fd = fd;
        connection.job = book_.update([&](std::vector<RawJob>& jobs) {
            jobs.push_back({describe(peer), {}, false, JobEnd::Open});
            return jobs.size() - 1;
        });
        applyLimits(connection);
        connections_.push_back(connection);
    }
}

void RawSink::readFrom(Connection& connection)
{
    uint8_t buffer[65536];
    uint64_t wanted = sizeof(buffer);
    if (connection.recording) {
        // Read exactly up to the next limit, so that the job holds what the device took.
        for (const auto& limit : {options_.closeAfter, options_.resetAfter,
                                  connection.stalledOnce ? std::nullopt : options_.stallAfter})
            if (limit && *limit > connection.received)
                wanted = std::min(wanted, *limit - connection.received);
    }
    ssize_t got = ::recv(connection.fd, buffer, wanted, 0);
    if (got > 0) {
        if (connection.recording) {
            updateJob(connection.job, [&](RawJob& job) { job.data.insert(job.data.end(), buffer, buffer + got); });
            if (jobData_)
                jobData_(connection.job, buffer, static_cast<size_t>(got));
        }
        connection.received += got;
        applyLimits(connection);
    } else if (got == 0) {
        if (connection.recording && options_.closeDelay.count() > 0)
            connection.closeAt = Clock::now() + options_.closeDelay;
        else
            endJob(connection, JobEnd::SenderClosed);
    } else if (errno != EAGAIN && errno != EINTR) {
        endJob(connection, JobEnd::SenderReset);
    }
}

void RawSink::applyLimits(Connection& connection)
{
    if (!connection.recording)
        return;
    if (reached(options_.resetAfter, connection.received)) {
        reset(connection);
        return;
    }
    if (reached(options_.closeAfter, connection.received)) {
        // Our end closes with a FIN; the connection stays until the sender closes its end.
        ::shutdown(connection.fd, SHUT_WR);
        connection.recording = false;
        endJob(connection, JobEnd::ClosedBySink);
        return;
    }
    if (reached(options_.stallAfter, connection.received) && !connection.stalledOnce) {
        connection.stalled = connection.stalledOnce = true;
        if (options_.resumeAfter)
            connection.resumeAt = Clock::now() + *options_.resumeAfter;
        updateJob(connection.job, [](RawJob& job) { job.stalled = true; });
    }
}

void RawSink::reset(Connection& connection)
{
    linger abortive{1, 0};
    setsockopt(connection.fd, SOL_SOCKET, SO_LINGER, &abortive, sizeof(abortive));
    endJob(connection, JobEnd::ResetBySink);
}

void RawSink::runTimers(Connection& connection)
{
    const auto now = Clock::now();
    if (connection.resumeAt && now >= *connection.resumeAt) {
        connection.resumeAt.reset();
        if (connection.stalled) {
            connection.stalled = false;
            updateJob(connection.job, [](RawJob& job) { job.stalled = false; });
        }
    }
    if (connection.closeAt && now >= *connection.closeAt)
        endJob(connection, JobEnd::SenderClosed);
}

// Records how the job ended (once) and closes the connection, unless the sink only closed its
// own end (closeAfter) and waits for the sender's.
void RawSink::endJob(Connection& connection, JobEnd end)
{
    if (end != JobEnd::ClosedBySink)
        closeDescriptor(connection.fd);
    const std::optional<RawJob> ended = book_.recordEnd(connection.job, end);
    if (ended && jobEnded_)
        jobEnded_(connection.job, *ended);
}

void RawSink::updateJob(size_t index, const std::function<void(RawJob&)>& change)
{
    book_.update([&](std::vector<RawJob>& jobs) { change(jobs[index]); });
}

} // namespace devsim
