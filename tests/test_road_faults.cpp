// The printing road under faults, across processes: the spooler host with the port monitor, the
// simulated device and the service's pipe (played by the pipe stub in this process).
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>

#include "JobMessages.h"
#include "LprReceiver.h"
#include "RawSink.h"
#include "StubbedRoad.h"

#include "pal/eventlog.h"

namespace {

const std::string kDevice = "127.0.0.5";
const std::u16string kDeviceWide = u"127.0.0.5";
const jobmsg::ClientJobId kId = jobmsg::ClientJobId::make(0x0A0B0C0D, 1, 2, "11223344", "JOBINFO1 of a faulty road");

// A job whose header runs over several of the spooler's 64 KiB writes: 10,000 SetDocument records
// and the job end (about 230 KB), then the data.
std::vector<BYTE> longHeaderJob(size_t dataBytes)
{
    std::vector<jobmsg::Bytes> parts = {jobmsg::jobStart(), jobmsg::jobStart2({{jobmsg::kAttrClientJobId, kId.wire()}})};
    for (int i = 0; i < 10000; i++)
        parts.push_back(jobmsg::setDocumentByte(jobmsg::kAttrNup, BYTE(i % 4 + 1)));
    parts.push_back(jobmsg::jobEnd());
    std::vector<BYTE> job = jobmsg::concat(parts);
    for (size_t i = 0; i < dataBytes; i++)
        job.push_back(BYTE(i * 13 + i / 1021));
    return job;
}

// The offset of JobInfo1 in the client job id, which the monitor stamps with the local time.
size_t stampOffset()
{
    return jobmsg::jobStart().size() + jobmsg::kHeaderBytes + 2 + 4 + 16;
}

// A raw connection to the spooler host's socket; -1 when it cannot be made.
int connectToHost(const std::string& root)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::string path = root + "/run/spoolsv.sock";
    if (path.size() >= sizeof address.sun_path)
        return -1;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) < 0) {
        ::close(fd);
        fd = -1;
    }
    return fd;
}

// The process id of the spooler host, from its socket; -1 when it cannot be reached.
pid_t hostPid(const std::string& root)
{
    int fd = connectToHost(root);
    ucred peer{};
    peer.pid = -1;
    socklen_t size = sizeof peer;
    if (fd < 0 || ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) < 0)
        peer.pid = -1;
    if (fd >= 0)
        ::close(fd);
    return peer.pid;
}

// A number field ("Threads:", "VmRSS:" in kB) of /proc/<pid>/status; 0 when missing.
long processStatus(pid_t pid, const std::string& field)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.compare(0, field.size(), field) == 0)
            return std::strtol(line.c_str() + field.size(), nullptr, 10);
    return 0;
}

// True once the host has ended the connection (a read would find its end).
bool closedByHost(int fd)
{
    pollfd ready{fd, POLLIN | POLLRDHUP, 0};
    if (::poll(&ready, 1, 0) <= 0)
        return false;
    char byte;
    return ::recv(fd, &byte, 1, MSG_DONTWAIT | MSG_PEEK) == 0 || (ready.revents & (POLLRDHUP | POLLHUP | POLLERR));
}

// Connections to the host, closed at the end of the scope.
struct Connections {
    ~Connections()
    {
        for (int fd : fds)
            ::close(fd);
    }
    std::vector<int> fds;
};

// Adds count connections to the host that send nothing; false when one cannot be made.
bool openIdle(const std::string& root, Connections& idle, int count)
{
    for (int i = 0; i < count; i++) {
        int fd = connectToHost(root);
        if (fd < 0)
            return false;
        idle.fds.push_back(fd);
    }
    return true;
}

// Kills the process if it has not ended by itself in time, so that a hanging stop fails the test
// instead of eating its time-out.
class Watchdog {
public:
    Watchdog(pid_t pid, std::chrono::seconds limit)
        : thread_([this, pid, limit] {
              std::unique_lock<std::mutex> lock(mutex_);
              if (!done_.wait_for(lock, limit, [this] { return finished_; }) && pid > 0)
                  ::kill(pid, SIGKILL);
          })
    {
    }
    ~Watchdog()
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            finished_ = true;
        }
        done_.notify_all();
        thread_.join();
    }

private:
    std::mutex mutex_;
    std::condition_variable done_;
    bool finished_ = false;
    std::thread thread_;
};

bool portFailureLogged(const std::u16string& port, const std::u16string& operation)
{
    for (const pal::EventLogEntry& entry : pal::readEventLog())
        if (entry.strings == std::vector<std::u16string>{port, operation})
            return true;
    return false;
}

class RoadFaults : public road::StubbedRoad {
protected:
    RoadFaults() : StubbedRoad(kDevice) {}

    static spoolertest::ProgramResult spool(const std::vector<std::string>& args)
    {
        std::vector<std::string> command = {"pal-spool"};
        command.insert(command.end(), args.begin(), args.end());
        return spoolertest::runProgram(command);
    }
};

// Port names compare without regard to case: the port is deleted and no longer listed.
TEST_F(RoadFaults, DeletePortTakesTheNameInAnyCase)
{
    ASSERT_EQ(road::addPort(road::rawPort(u"JT_127.0.0.5", kDeviceWide, 9100)), 0u);
    spoolertest::ProgramResult deleted = spool({"delete-port", "jt_127.0.0.5"});
    EXPECT_EQ(deleted.exitCode, 0) << deleted.output;
    spoolertest::ProgramResult ports = spool({"ports"});
    EXPECT_EQ(ports.exitCode, 0);
    EXPECT_EQ(ports.output.find("127.0.0.5"), std::string::npos) << ports.output;
    // Gone for good: a restarted host does not list it either.
    EXPECT_EQ(host.stop(), 0);
    ASSERT_TRUE(host.start());
    EXPECT_EQ(spool({"ports"}).output.find("127.0.0.5"), std::string::npos);
}

// The device refuses the connection at the write that completes a long header, then comes back:
// it gets the whole job, the held header bytes first, and only then is the job printed.
TEST_F(RoadFaults, HeldHeaderBytesOutliveARefusedConnection)
{
    devsim::RawSinkOptions refusing;
    refusing.address = kDevice;
    refusing.port = 0;
    refusing.listen = false;
    auto closed = std::make_unique<devsim::RawSink>(refusing);
    std::string error;
    ASSERT_TRUE(closed->start(error)) << error;
    uint16_t devicePort = closed->port();
    PortConfigData config = road::rawPort(u"JT_127.0.0.5", kDeviceWide, devicePort);
    config.dwRetryInfinity = 0;
    config.dwRetryCount = 1;
    config.dwRetryInterval = 1;
    ASSERT_EQ(road::addPort(config), 0u);
    ASSERT_EQ(road::addPrinter(u"Office", u"JT_127.0.0.5"), 0u);

    std::vector<BYTE> job = longHeaderJob(200 * 1024);
    DWORD id = road::submit(u"Office", job, u"long.prn");
    ASSERT_NE(id, 0u);
    ASSERT_TRUE(spoolertest::eventually([] { return portFailureLogged(u"JT_127.0.0.5", u"WritePort"); },
                                        std::chrono::seconds(60)));
    closed.reset();
    devsim::RawSinkOptions listening = refusing;
    listening.port = devicePort;
    listening.listen = true;
    devsim::RawSink device(listening);
    ASSERT_TRUE(device.start(error)) << error;
    ASSERT_TRUE(device.waitUntil([](const std::vector<devsim::RawJob>& jobs) {
        return !jobs.empty() && jobs[0].end != devsim::JobEnd::Open;
    }, std::chrono::seconds(60)));
    devsim::RawJob received = device.jobs()[0];
    ASSERT_EQ(received.data.size(), job.size());
    std::copy_n(received.data.begin() + std::ptrdiff_t(stampOffset()), 8, job.begin() + std::ptrdiff_t(stampOffset()));
    EXPECT_TRUE(std::vector<BYTE>(received.data.begin(), received.data.end()) == job);
    DWORD status = 0;
    EXPECT_TRUE(spoolertest::eventually(
        [&] { return road::jobStatus(u"Office", id, status) && (status & JOB_STATUS_PRINTED); }));
}

// A stop does not wait for ports that retry for ever (the default): one device refuses the
// connection, the other accepts it and never reads. The host ends within its stop limit, and both
// jobs go out whole after the next start.
TEST_F(RoadFaults, StopLeavesStuckDeliveriesAndTheirJobsGoOutAfterARestart)
{
    ASSERT_TRUE(road::writeRootFile("config/icmp", "127.0.0.5 reply\n127.0.0.6 reply\n"));
    devsim::RawSinkOptions refusing;
    refusing.address = "127.0.0.5";
    refusing.port = 0;
    refusing.listen = false;
    devsim::RawSinkOptions stalling;
    stalling.address = "127.0.0.6";
    stalling.port = 0;
    stalling.stallAfter = 0;
    auto refused = std::make_unique<devsim::RawSink>(refusing);
    auto stalled = std::make_unique<devsim::RawSink>(stalling);
    std::string error;
    ASSERT_TRUE(refused->start(error)) << error;
    ASSERT_TRUE(stalled->start(error)) << error;
    refusing.port = refused->port();
    stalling.port = stalled->port();
    ASSERT_EQ(road::addPort(road::rawPort(u"JT_REFUSED", u"127.0.0.5", refusing.port)), 0u);
    ASSERT_EQ(road::addPort(road::rawPort(u"JT_STALLED", u"127.0.0.6", stalling.port)), 0u);
    ASSERT_EQ(road::addPrinter(u"Refused", u"JT_REFUSED"), 0u);
    ASSERT_EQ(road::addPrinter(u"Stalled", u"JT_STALLED"), 0u);
    std::vector<BYTE> job = longHeaderJob(8 * 1024 * 1024);  // more than the socket buffers hold
    DWORD first = road::submit(u"Refused", job, u"refused.prn");
    DWORD second = road::submit(u"Stalled", job, u"stalled.prn");
    ASSERT_NE(first, 0u);
    ASSERT_NE(second, 0u);
    ASSERT_TRUE(stalled->waitUntil([](const std::vector<devsim::RawJob>& jobs) { return !jobs.empty(); },
                                   std::chrono::seconds(60)));
    DWORD status = 0;
    ASSERT_TRUE(spoolertest::eventually(
        [&] { return road::jobStatus(u"Refused", first, status) && (status & JOB_STATUS_PRINTING); }));

    auto began = std::chrono::steady_clock::now();
    {
        Watchdog watchdog(hostPid(root.path()), std::chrono::seconds(60));
        EXPECT_EQ(host.stop(), 0);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(30));

    refused.reset();
    stalled.reset();
    refusing.listen = true;
    stalling.stallAfter.reset();
    devsim::RawSink refusedBack(refusing);
    devsim::RawSink stalledBack(stalling);
    ASSERT_TRUE(refusedBack.start(error)) << error;
    ASSERT_TRUE(stalledBack.start(error)) << error;
    ASSERT_TRUE(host.start());
    auto whole = [&](const std::vector<devsim::RawJob>& jobs) {
        return !jobs.empty() && jobs.back().end == devsim::JobEnd::SenderClosed && jobs.back().data.size() == job.size();
    };
    EXPECT_TRUE(refusedBack.waitUntil(whole, std::chrono::seconds(60)));
    EXPECT_TRUE(stalledBack.waitUntil(whole, std::chrono::seconds(60)));
}

// Frames announce up to 64 MiB; the host's buffer grows only with the bytes that come.
TEST_F(RoadFaults, AnnouncedFrameLengthsReserveNoMemory)
{
    pid_t pid = hostPid(root.path());
    ASSERT_GT(pid, 0);
    long rssBefore = processStatus(pid, "VmRSS:");
    Connections peers;
    const uint8_t announce[8] = {0x00, 0x00, 0x00, 0x04, 'a', 'b', 'c', 'd'};  // 64 MiB, then 4 bytes
    for (int i = 0; i < 40; i++) {
        int fd = connectToHost(root.path());
        ASSERT_GE(fd, 0);
        peers.fds.push_back(fd);
        ASSERT_EQ(::send(fd, announce, sizeof announce, MSG_NOSIGNAL), ssize_t(sizeof announce));
    }
    // Each connection has its thread, which has its frame under way.
    ASSERT_TRUE(spoolertest::eventually([&] { return processStatus(pid, "Threads:") > 40; }));
    EXPECT_TRUE(spoolertest::runProgram({"pal-spool", "ports"}).exitCode == 0);
    EXPECT_LT(processStatus(pid, "VmRSS:") - rssBefore, 64 * 1024) << "kB more than before";
}

// The number of sockets the process has open; 0 when they cannot be read.
long openSockets(pid_t pid)
{
    std::error_code error;
    long count = 0;
    for (auto it = std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error);
         !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
        std::error_code unreadable;
        count += std::filesystem::read_symlink(it->path(), unreadable).string().rfind("socket:", 0) == 0;
    }
    return count;
}

// True when the connection has something to read within timeoutMs.
bool readable(int fd, int timeoutMs)
{
    pollfd ready{fd, POLLIN, 0};
    return ::poll(&ready, 1, timeoutMs) == 1;
}

const std::vector<uint8_t> kEnumMonitors = {12, 0, 0, 0, 6, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 1, 0, 0, 0};

// Sends EnumMonitors on a new connection to the host; the connection, -1 when it failed.
int callEnumMonitors(const std::string& root)
{
    int fd = connectToHost(root);
    if (fd >= 0 && ::send(fd, kEnumMonitors.data(), kEnumMonitors.size(), MSG_NOSIGNAL) != ssize_t(kEnumMonitors.size())) {
        ::close(fd);
        fd = -1;
    }
    return fd;
}

// The head of the reply to EnumMonitors succeeded, read within 30 s.
bool enumMonitorsSucceeded(int fd)
{
    uint8_t head[12];
    return readable(fd, 30000) && ::recv(fd, head, sizeof head, MSG_WAITALL) == ssize_t(sizeof head) && head[4] == 1;
}

// A caller beyond the host's bound of served connections waits for one of them to end, without a
// thread of the host, and is then served.
TEST_F(RoadFaults, ACallerBeyondTheBoundWaitsAndIsServed)
{
    pid_t pid = hostPid(root.path());
    ASSERT_GT(pid, 0);
    long threadsBefore = processStatus(pid, "Threads:");
    Connections idle;
    ASSERT_TRUE(openIdle(root.path(), idle, 64));
    int caller = callEnumMonitors(root.path());
    ASSERT_GE(caller, 0);
    Connections waiting;
    waiting.fds.push_back(caller);
    // Until the host has taken the caller's connection: it holds it beside its listening socket and
    // the 64 it serves (or, refusing it, has closed it).
    spoolertest::eventually([&] { return closedByHost(caller) || openSockets(pid) >= 1 + 64 + 1; });
    EXPECT_FALSE(readable(caller, 0)) << "neither served nor closed while every connection is taken";
    EXPECT_LE(processStatus(pid, "Threads:"), threadsBefore + 64);
    ::close(idle.fds.back());
    idle.fds.pop_back();
    EXPECT_TRUE(enumMonitorsSucceeded(caller));
}

// Connections beyond the bound wait for their turn, each for the host's limit (30 s, here scaled
// to 0.3 s), and are then closed; no thread is made for them, and once the crowd is gone callers
// are served again.
TEST_F(RoadFaults, ConnectionsBeyondTheBoundAreClosedAfterTheirWait)
{
    EXPECT_EQ(host.stop(), 0);
    setenv("PAL_TIME_SCALE", "0.01", 1);
    ASSERT_TRUE(host.start());
    unsetenv("PAL_TIME_SCALE");
    pid_t pid = hostPid(root.path());
    ASSERT_GT(pid, 0);
    long threadsBefore = processStatus(pid, "Threads:");
    {
        Connections idle;
        ASSERT_TRUE(openIdle(root.path(), idle, 300));
        size_t closed = 0;
        EXPECT_TRUE(spoolertest::eventually([&] {
            closed = size_t(std::count_if(idle.fds.begin(), idle.fds.end(), closedByHost));
            return closed >= 300 - 64;
        })) << closed;
        EXPECT_LE(processStatus(pid, "Threads:"), threadsBefore + 64);
        EXPECT_LE(closed, 300u - 64 + 1);  // one connection of the bound may have ended already
    }
    EXPECT_TRUE(spoolertest::eventually([] { return spoolertest::runProgram({"pal-spool", "ports"}).exitCode == 0; }));
}

// Callers that come at once, more than the host serves at a time, are all served, each once it
// has a connection; the host's threads stay within the bound, and once the callers are gone at
// most four threads stay to wait for the next callers, and they serve them.
TEST_F(RoadFaults, ABurstOfCallersIsServedAndFewThreadsStayWaiting)
{
    pid_t pid = hostPid(root.path());
    ASSERT_GT(pid, 0);
    long threadsBefore = processStatus(pid, "Threads:");
    long mostThreads = 0;
    size_t served = 0;
    {
        Connections callers;
        for (int i = 0; i < 200; i++) {
            int fd = callEnumMonitors(root.path());
            ASSERT_GE(fd, 0);
            callers.fds.push_back(fd);
        }
        for (int& fd : callers.fds) {
            served += enumMonitorsSucceeded(fd);
            mostThreads = std::max(mostThreads, processStatus(pid, "Threads:"));
            ::close(fd);  // its connection goes to a caller that waits
            fd = -1;
        }
    }
    EXPECT_EQ(served, 200u);
    EXPECT_LE(mostThreads, threadsBefore + 64 + 4);
    EXPECT_TRUE(spoolertest::eventually([&] { return processStatus(pid, "Threads:") <= threadsBefore + 3; }))
        << processStatus(pid, "Threads:") << " threads, " << threadsBefore << " before";
    EXPECT_EQ(spoolertest::runProgram({"pal-spool", "monitors"}).exitCode, 0);
}

// A peer that stops in the middle of a frame is cut off; one that is idle between frames is not.
TEST_F(RoadFaults, PeerStalledInAFrameIsCutOff)
{
    EXPECT_EQ(host.stop(), 0);
    setenv("PAL_TIME_SCALE", "0.01", 1);  // the host's 30 s stall limit takes 0.3 s
    ASSERT_TRUE(host.start());
    unsetenv("PAL_TIME_SCALE");
    Connections peers;
    int stalled = connectToHost(root.path());
    int idle = connectToHost(root.path());
    ASSERT_GE(stalled, 0);
    ASSERT_GE(idle, 0);
    peers.fds = {stalled, idle};
    const uint8_t partial[6] = {100, 0, 0, 0, 1, 0};  // 100 bytes announced, 2 sent
    ASSERT_EQ(::send(stalled, partial, sizeof partial, MSG_NOSIGNAL), ssize_t(sizeof partial));
    EXPECT_TRUE(spoolertest::eventually([&] { return closedByHost(stalled); }, std::chrono::seconds(30)));
    EXPECT_FALSE(closedByHost(idle));
}

// A job deleted while its device accepts it and never reads leaves the port at once (the
// connection is reset): the next job does not wait out the device's close (LprRecvCount x
// LprRecvInterval, 5 minutes by default).
TEST_F(RoadFaults, DeletedJobOnADeviceThatNeverReadsFreesThePortAtOnce)
{
    devsim::LprReceiverOptions options;
    options.address = kDevice;
    options.port = 0;
    devsim::LprReceiver device(options);
    devsim::LprScript stall;
    std::string error;
    ASSERT_TRUE(devsim::parseLprScript("df@0=stall", stall, error)) << error;
    device.queueScript(stall);  // the first connection only
    ASSERT_TRUE(device.start(error)) << error;
    ASSERT_TRUE(road::writeRootFile("config/connect-redirect",
                                    kDevice + ":515 " + kDevice + ":" + std::to_string(device.port()) + "\n"));
    ASSERT_EQ(road::addPort(road::lprPort(u"JT_LPR", kDeviceWide, 0)), 0u);
    ASSERT_EQ(road::addPrinter(u"Lpr", u"JT_LPR"), 0u);

    DWORD stuck = road::submit(u"Lpr", longHeaderJob(8 * 1024 * 1024), u"stuck.prn");
    ASSERT_NE(stuck, 0u);
    ASSERT_TRUE(device.waitUntil([](const std::vector<devsim::LprJob>& jobs) { return !jobs.empty() && jobs[0].stalled; },
                                 std::chrono::seconds(60)));
    spoolertest::ProgramResult deleted =
        spoolertest::runProgram({"pal-spool", "job", "Lpr", std::to_string(stuck), "delete"});
    ASSERT_EQ(deleted.exitCode, 0) << deleted.output;
    std::vector<BYTE> next = longHeaderJob(1000);
    ASSERT_NE(road::submit(u"Lpr", next, u"next.prn"), 0u);
    EXPECT_TRUE(device.waitUntil([&](const std::vector<devsim::LprJob>& jobs) {
        return jobs.size() >= 2 && jobs[1].complete() && jobs[1].dataFiles.size() == 1 &&
               jobs[1].dataFiles[0].bytes.size() == next.size();
    }, std::chrono::seconds(60)));
}

// A job deleted while EndDocPort waits for the device's orderly close (every byte taken, the
// device reads no more and never closes) is reset at once, and the next job goes out.
TEST_F(RoadFaults, DeletedJobWaitingForTheDevicesCloseIsResetAndTheNextStarts)
{
    std::vector<BYTE> job = longHeaderJob(1000);
    devsim::RawSinkOptions options;
    options.address = kDevice;
    options.port = 0;
    options.stallAfter = job.size();
    devsim::RawSink device(options);
    std::string error;
    ASSERT_TRUE(device.start(error)) << error;
    ASSERT_EQ(road::addPort(road::rawPort(u"JT_127.0.0.5", kDeviceWide, device.port())), 0u);
    ASSERT_EQ(road::addPrinter(u"Office", u"JT_127.0.0.5"), 0u);

    DWORD first = road::submit(u"Office", job, u"first.prn");
    ASSERT_NE(first, 0u);
    ASSERT_TRUE(device.waitUntil([&](const std::vector<devsim::RawJob>& jobs) {
        return !jobs.empty() && jobs[0].stalled && jobs[0].data.size() == job.size();
    }, std::chrono::seconds(60)));
    spoolertest::ProgramResult deleted = spool({"job", "Office", std::to_string(first), "delete"});
    ASSERT_EQ(deleted.exitCode, 0) << deleted.output;
    ASSERT_NE(road::submit(u"Office", job, u"next.prn"), 0u);
    EXPECT_TRUE(device.waitUntil([&](const std::vector<devsim::RawJob>& jobs) {
        return jobs.size() >= 2 && jobs[0].end == devsim::JobEnd::SenderReset && jobs[1].data.size() == job.size();
    }, std::chrono::seconds(10))) << "the device's close takes LprRecvCount x LprRecvInterval (5 minutes)";
}

// The same on an LPR port: the device takes the whole job and holds the connection after the
// monitor's close; the delete resets it, and the next job goes out.
TEST_F(RoadFaults, DeletedLprJobWaitingForTheDevicesCloseIsResetAndTheNextStarts)
{
    devsim::LprReceiverOptions options;
    options.address = kDevice;
    options.port = 0;
    options.closeDelay = std::chrono::minutes(10);
    devsim::LprReceiver device(options);
    std::string error;
    ASSERT_TRUE(device.start(error)) << error;
    ASSERT_TRUE(road::writeRootFile("config/connect-redirect",
                                    kDevice + ":515 " + kDevice + ":" + std::to_string(device.port()) + "\n"));
    ASSERT_EQ(road::addPort(road::lprPort(u"JT_LPR", kDeviceWide, 0)), 0u);
    ASSERT_EQ(road::addPrinter(u"Lpr", u"JT_LPR"), 0u);

    std::vector<BYTE> job = longHeaderJob(1000);
    auto taken = [&](const devsim::LprJob& sent) {
        return sent.dataFiles.size() == 1 && sent.dataFiles[0].whole && sent.dataFiles[0].bytes.size() == job.size();
    };
    DWORD ids[2] = {};
    for (DWORD& id : ids) {
        id = road::submit(u"Lpr", job, u"held.prn");
        ASSERT_NE(id, 0u);
        const size_t index = &id - ids;
        ASSERT_TRUE(device.waitUntil([&](const std::vector<devsim::LprJob>& jobs) {
            return jobs.size() > index && taken(jobs[index]);
        }, index == 0 ? std::chrono::seconds(60) : std::chrono::seconds(10)))
            << "the device's close takes LprRecvCount x LprRecvInterval (5 minutes)";
        spoolertest::ProgramResult deleted = spool({"job", "Lpr", std::to_string(id), "delete"});
        ASSERT_EQ(deleted.exitCode, 0) << deleted.output;
        EXPECT_TRUE(device.waitUntil([&](const std::vector<devsim::LprJob>& jobs) {
            return jobs[index].end == devsim::LprEnd::SenderReset;
        }, std::chrono::seconds(10)));
    }
}

} // namespace
