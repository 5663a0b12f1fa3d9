#include "LprReceiver.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <optional>

#include "LprSession.h"
#include "Sockets.h"

namespace devsim {

struct LprReceiver::Connection {
    Connection(int socket, size_t index, LprScript script, uint64_t sizeUnknownFrom)
        : fd(socket), job(index), session(std::move(script), sizeUnknownFrom)
    {
    }

    int fd;
    size_t job;
    LprSession session;
    std::string pending;   // read but not yet taken: a stall holds it
    bool draining = false; // the device closed its end; what still comes is read and dropped
    std::optional<std::chrono::steady_clock::time_point> closeAt; // the sender shut down: closeDelay
    size_t dataReported = 0;   // bytes of the first data file shown to jobData
    bool dataWanted = true;
};

namespace {

constexpr size_t kMostReportedData = 65536;

} // namespace

LprReceiver::LprReceiver(LprReceiverOptions options, JobEnded jobEnded, JobData jobData)
    : options_(std::move(options)), jobEnded_(std::move(jobEnded)), jobData_(std::move(jobData))
{
}

LprReceiver::~LprReceiver()
{
    stop();
}

bool LprReceiver::start(std::string& error)
{
    return serving_.start(options_.address, options_.port, true, [this] { run(); }, error);
}

void LprReceiver::stop()
{
    serving_.stop();
}

void LprReceiver::queueScript(LprScript script)
{
    std::lock_guard<std::mutex> lock(queueMutex_);
    queued_.push_back(std::move(script));
}

void LprReceiver::resume()
{
    book_.requestResume();
    serving_.wake();
}

bool LprReceiver::waitForJobs(size_t count, std::chrono::milliseconds timeout) const
{
    return waitUntil(
        [count](const std::vector<LprJob>& jobs) {
            return static_cast<size_t>(std::count_if(jobs.begin(), jobs.end(), [](const LprJob& job) {
                       return job.end != LprEnd::Open;
                   })) >= count;
        },
        timeout);
}

void LprReceiver::run()
{
    for (;;) {
        std::vector<pollfd> watched{{serving_.wakeup(), POLLIN, 0}, {serving_.listener(), POLLIN, 0}};
        std::optional<std::chrono::steady_clock::time_point> nextClose;
        for (const Connection& connection : connections_) {
            // A stalled connection reads nothing, but still notices the sender going away; one
            // that holds its close notices only a reset.
            const bool reading = connection.draining || !connection.session.stalled();
            short events = reading ? POLLIN : POLLRDHUP;
            if (connection.closeAt) {
                events = 0;
                nextClose = std::min(nextClose.value_or(*connection.closeAt), *connection.closeAt);
            }
            watched.push_back({connection.fd, events, 0});
        }
        int timeout = -1;
        if (nextClose) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(*nextClose - std::chrono::steady_clock::now());
            timeout = static_cast<int>(std::max<int64_t>(0, left.count()));
        }
        ::poll(watched.data(), watched.size(), timeout);
        // Wake-ups are consumed before the requests are read, so that none is lost.
        serving_.drainWakeups();
        if (serving_.stopRequested())
            break;
        const auto requests = book_.takeRequests();
        for (Connection& connection : connections_)
            if (connection.fd >= 0 && requests.dropsJob(connection.job))
                reset(connection);

        auto entry = watched.begin() + 2;
        for (Connection& connection : connections_) {
            const pollfd& watch = *entry++;
            if (!watch.revents)
                continue;
            if (watch.events & POLLIN)
                readFrom(connection);
            else
                endJob(connection, (watch.revents & POLLERR) ? LprEnd::SenderReset : LprEnd::SenderClosed);
        }
        for (Connection& connection : connections_)
            if (connection.fd >= 0 && connection.closeAt && std::chrono::steady_clock::now() >= *connection.closeAt)
                endJob(connection, LprEnd::SenderClosed);
        if (requests.resume)
            for (Connection& connection : connections_)
                if (connection.fd >= 0 && !connection.draining && connection.session.stalled())
                    serve(connection, true);
        if (watched[1].revents)
            acceptConnections();
        std::erase_if(connections_, [](const Connection& connection) { return connection.fd < 0; });
    }
    for (Connection& connection : connections_)
        endJob(connection, LprEnd::Stopped);
    connections_.clear();
}

void LprReceiver::acceptConnections()
{
    for (;;) {
        sockaddr_in peer{};
        int fd = acceptConnection(serving_.listener(), peer);
        if (fd < 0)
            return;
        LprScript script = options_.script;
        {
            std::lock_guard<std::mutex> lock(queueMutex_);
            if (!queued_.empty()) {
                script = std::move(queued_.front());
                queued_.pop_front();
            }
        }
        const size_t index = book_.update([&](std::vector<LprJob>& jobs) {
            LprJob& job = jobs.emplace_back();
            job.peer = describe(peer);
            job.peerPort = ntohs(peer.sin_port);
            return jobs.size() - 1;
        });
        connections_.emplace_back(fd, index, std::move(script), options_.sizeUnknownFrom);
    }
}

void LprReceiver::readFrom(Connection& connection)
{
    char buffer[65536];
    const size_t wanted = connection.draining ? sizeof(buffer) : connection.session.readLimit(sizeof(buffer));
    ssize_t got = ::recv(connection.fd, buffer, wanted, 0);
    if (got > 0) {
        if (!connection.draining) {
            connection.pending.append(buffer, static_cast<size_t>(got));
            serve(connection, false);
        }
    } else if (got == 0) {
        if (!connection.draining)
            book_.update([&](std::vector<LprJob>& jobs) { connection.session.senderClosed(jobs[connection.job]); });
        if (!connection.draining && options_.closeDelay.count() > 0)
            connection.closeAt = std::chrono::steady_clock::now() + options_.closeDelay;
        else
            endJob(connection, LprEnd::SenderClosed);
    } else if (errno != EAGAIN && errno != EINTR) {
        endJob(connection, LprEnd::SenderReset);
    }
}

// Lets the session take what is pending (after resuming it), sends its answers and does what it
// says next.
void LprReceiver::serve(Connection& connection, bool resuming)
{
    const LprSession::Result result = book_.update([&](std::vector<LprJob>& jobs) {
        LprJob& job = jobs[connection.job];
        LprSession::Result answer;
        if (resuming)
            answer = connection.session.resume(job);
        if (answer.then == LprSession::Then::Read) {
            LprSession::Result taking = connection.session.take(job, connection.pending);
            answer.taken = taking.taken;
            answer.replies += taking.replies;
            answer.then = taking.then;
        }
        return answer;
    });
    reportData(connection);
    connection.pending.erase(0, result.taken);
    sendQuietly(connection.fd, result.replies);
    if (result.then == LprSession::Then::Close) {
        // Our end closes with a FIN; the connection stays until the sender closes its end.
        ::shutdown(connection.fd, SHUT_WR);
        connection.draining = true;
        connection.pending.clear();
        endJob(connection, LprEnd::ClosedByDevice);
    } else if (result.then == LprSession::Then::Reset) {
        reset(connection);
    }
}

void LprReceiver::reportData(Connection& connection)
{
    if (!jobData_ || !connection.dataWanted)
        return;
    const std::optional<std::string> data = book_.update([&](std::vector<LprJob>& jobs) -> std::optional<std::string> {
        const LprJob& job = jobs[connection.job];
        if (job.dataFiles.empty() || job.dataFiles.front().bytes.size() == connection.dataReported ||
            connection.dataReported >= kMostReportedData)
            return std::nullopt;
        return job.dataFiles.front().bytes.substr(0, kMostReportedData);
    });
    if (!data)
        return;
    connection.dataReported = data->size();
    connection.dataWanted = !jobData_(connection.job, *data);
}

void LprReceiver::drop(size_t index)
{
    book_.requestDrop(index);
    serving_.wake();
}

void LprReceiver::reset(Connection& connection)
{
    linger abortive{1, 0};
    setsockopt(connection.fd, SOL_SOCKET, SO_LINGER, &abortive, sizeof(abortive));
    endJob(connection, LprEnd::ResetByDevice);
}

// Records how the job ended (once) and closes the connection, unless the device only closed its
// own end and waits for the sender's.
void LprReceiver::endJob(Connection& connection, LprEnd end)
{
    if (end != LprEnd::ClosedByDevice)
        closeDescriptor(connection.fd);
    const std::optional<LprJob> ended = book_.recordEnd(connection.job, end);
    if (ended && jobEnded_)
        jobEnded_(connection.job, *ended);
}

} // namespace devsim
