#include <gtest/gtest.h>

#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <winsock2.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "RawSink.h"
#include "TempRoot.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;
using devsim::JobEnd;
using devsim::RawJob;
using devsim::RawSink;
using devsim::RawSinkOptions;

constexpr auto kWait = 20s;

class RawSinkTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        WSADATA data;
        ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    }
    void TearDown() override { WSACleanup(); }
};

std::vector<uint8_t> pattern(size_t size, unsigned seed)
{
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>((i * 131 + seed) % 251);
    return bytes;
}

std::vector<uint8_t> prefix(const std::vector<uint8_t>& bytes, size_t size)
{
    return {bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(size)};
}

bool jobEnded(const std::vector<RawJob>& jobs, size_t index)
{
    return jobs.size() > index && jobs[index].end != JobEnd::Open;
}

// An event-driven sender, as the port monitor drives its socket.
class Sender {
public:
    explicit Sender(USHORT port) : socket_(socket(AF_INET, SOCK_STREAM, 0)), event_(WSACreateEvent())
    {
        INT buffer = 16384;
        setsockopt(socket_, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<char*>(&buffer), sizeof(buffer));
        WSAEventSelect(socket_, event_, FD_CONNECT | FD_WRITE | FD_CLOSE);
        sockaddr_in remote{};
        remote.sin_family = AF_INET;
        remote.sin_port = htons(port);
        remote.sin_addr.s_addr = inet_addr("127.0.0.1");
        connect(socket_, reinterpret_cast<sockaddr*>(&remote), sizeof(remote));
    }
    ~Sender()
    {
        closesocket(socket_);
        WSACloseEvent(event_);
    }

    // Waits for the next events; 0 when none came in time.
    LONG wait(DWORD milliseconds = 20000)
    {
        WSANETWORKEVENTS found{};
        if (WSAWaitForMultipleEvents(1, &event_, FALSE, milliseconds, FALSE) != WSA_WAIT_EVENT_0)
            return 0;
        WSAEnumNetworkEvents(socket_, event_, &found);
        for (int bit = 0; bit < FD_MAX_EVENTS; ++bit)
            if (found.lNetworkEvents & (1 << bit))
                errors_[bit] = found.iErrorCode[bit];
        return found.lNetworkEvents;
    }

    bool connected()
    {
        LONG events = 0;
        while (!(events & FD_CONNECT))
            if (!(events |= wait()))
                return false;
        return errors_[FD_CONNECT_BIT] == 0;
    }

    // Sends everything, waiting for FD_WRITE after each would-block; stops at FD_CLOSE (its
    // error, WSAECONNABORTED for a graceful close) or a failed send (its error). 0 when all was
    // sent. `onWouldBlock` runs before each wait.
    INT sendAll(const std::vector<uint8_t>& data, const std::function<void()>& onWouldBlock = {})
    {
        size_t sent = 0;
        while (sent < data.size()) {
            INT n = send(socket_, reinterpret_cast<const char*>(data.data()) + sent,
                         static_cast<INT>(std::min<size_t>(65536, data.size() - sent)), 0);
            if (n > 0) {
                sent += n;
                continue;
            }
            if (WSAGetLastError() != WSAEWOULDBLOCK)
                return WSAGetLastError();
            ++wouldBlocks_;
            if (onWouldBlock)
                onWouldBlock();
            LONG events = wait();
            if (events & FD_CLOSE) {
                closed_ = true;
                return errors_[FD_CLOSE_BIT] ? errors_[FD_CLOSE_BIT] : WSAECONNABORTED;
            }
            if (!(events & FD_WRITE))
                return WSAETIMEDOUT;
        }
        return 0;
    }

    // shutdown(SD_SEND), then waits for the device's close; its error, or -1 on time-out.
    INT finish()
    {
        shutdown(socket_, SD_SEND);
        while (!closed_) {
            LONG events = wait();
            if (!events)
                return -1;
            closed_ = events & FD_CLOSE;
        }
        return errors_[FD_CLOSE_BIT];
    }

    WSAEVENT event() const { return event_; }
    int wouldBlocks() const { return wouldBlocks_; }
    INT error(int bit) const { return errors_[bit]; }

private:
    SOCKET socket_;
    WSAEVENT event_;
    INT errors_[FD_MAX_EVENTS] = {};
    int wouldBlocks_ = 0;
    bool closed_ = false;
};

RawSinkOptions onFreePort()
{
    RawSinkOptions options;
    options.port = 0;
    return options;
}

TEST_F(RawSinkTest, KeepsEveryByteOfEachConnectionAsOneJob)
{
    RawSink sink(onFreePort());
    std::string error;
    ASSERT_TRUE(sink.start(error)) << error;
    auto first = pattern(300000, 1);
    auto second = pattern(17, 2);
    for (const auto* data : {&first, &second}) {
        Sender sender(sink.port());
        ASSERT_TRUE(sender.connected());
        ASSERT_EQ(sender.sendAll(*data), 0);
        EXPECT_EQ(sender.finish(), 0);
    }
    ASSERT_TRUE(sink.waitUntil([](const auto& jobs) { return jobEnded(jobs, 1); }, kWait));
    auto jobs = sink.jobs();
    ASSERT_EQ(jobs.size(), 2u);
    EXPECT_TRUE(jobs[0].data == first);
    EXPECT_TRUE(jobs[1].data == second);
    EXPECT_EQ(jobs[0].end, JobEnd::SenderClosed);
    EXPECT_EQ(jobs[0].peer.rfind("127.0.0.1:", 0), 0u);
}

TEST_F(RawSinkTest, ClosingAfterSomeBytesEndsTheSendWithAGracefulClose)
{
    RawSinkOptions options = onFreePort();
    options.closeAfter = 1000;
    RawSink sink(options);
    std::string error;
    ASSERT_TRUE(sink.start(error)) << error;
    Sender sender(sink.port());
    ASSERT_TRUE(sender.connected());
    auto data = pattern(4 << 20, 3);
    // The device drops what follows its close, so the send may end before FD_CLOSE is seen.
    INT result = sender.sendAll(data);
    EXPECT_TRUE(result == 0 || result == WSAECONNABORTED) << result;
    EXPECT_EQ(sender.finish(), 0) << "the device's close is graceful";
    ASSERT_TRUE(sink.waitUntil([](const auto& jobs) { return jobEnded(jobs, 0); }, kWait));
    auto job = sink.jobs()[0];
    EXPECT_EQ(job.end, JobEnd::ClosedBySink);
    EXPECT_TRUE(job.data == prefix(data, 1000));
}

TEST_F(RawSinkTest, ResettingAfterSomeBytesGivesTheSender10054)
{
    RawSinkOptions options = onFreePort();
    options.resetAfter = 5000;
    RawSink sink(options);
    std::string error;
    ASSERT_TRUE(sink.start(error)) << error;
    Sender sender(sink.port());
    ASSERT_TRUE(sender.connected());
    auto data = pattern(8 << 20, 4);
    EXPECT_EQ(sender.sendAll(data), WSAECONNRESET);
    ASSERT_TRUE(sink.waitUntil([](const auto& jobs) { return jobEnded(jobs, 0); }, kWait));
    auto job = sink.jobs()[0];
    EXPECT_EQ(job.end, JobEnd::ResetBySink);
    EXPECT_TRUE(job.data == prefix(data, 5000));
}

TEST_F(RawSinkTest, AStalledSinkBlocksTheSenderUntilItResumes)
{
    RawSinkOptions options = onFreePort();
    options.stallAfter = 100000;
    RawSink sink(options);
    std::string error;
    ASSERT_TRUE(sink.start(error)) << error;
    Sender sender(sink.port());
    ASSERT_TRUE(sender.connected());
    auto data = pattern(2 << 20, 5);
    bool resumed = false;
    INT result = sender.sendAll(data, [&] {
        WSAEVENT event = sender.event();
        // A would-block may come before the sink has marked itself stalled: look in short slices
        // until the device's buffers take data again (FD_WRITE) or the sink is seen stalled.
        for (int slice = 0; !resumed && slice < 400; ++slice) {
            if (WSAWaitForMultipleEvents(1, &event, FALSE, 50, FALSE) != WSA_WAIT_TIMEOUT)
                return; // the device's buffers still take data
            if (!sink.jobs()[0].stalled)
                continue;
            if (WSAWaitForMultipleEvents(1, &event, FALSE, 200, FALSE) != WSA_WAIT_TIMEOUT)
                return;
            // Blocked against the stalled sink, which has read exactly up to the stall.
            EXPECT_EQ(sink.jobs()[0].data.size(), 100000u);
            resumed = true;
            sink.resume();
        }
    });
    ASSERT_EQ(result, 0);
    EXPECT_TRUE(resumed);
    EXPECT_EQ(sender.finish(), 0);
    ASSERT_TRUE(sink.waitUntil([](const auto& jobs) { return jobEnded(jobs, 0); }, kWait));
    EXPECT_TRUE(sink.jobs()[0].data == data);
}

TEST_F(RawSinkTest, ALateCloseKeepsTheSenderWaitingForFdClose)
{
    RawSinkOptions options = onFreePort();
    options.closeDelay = 300ms;
    RawSink sink(options);
    std::string error;
    ASSERT_TRUE(sink.start(error)) << error;
    Sender sender(sink.port());
    ASSERT_TRUE(sender.connected());
    ASSERT_EQ(sender.sendAll(pattern(1000, 6)), 0);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(sender.finish(), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 250ms);
    ASSERT_TRUE(sink.waitUntil([](const auto& jobs) { return jobEnded(jobs, 0); }, kWait));
    EXPECT_EQ(sink.jobs()[0].end, JobEnd::SenderClosed);
}

TEST_F(RawSinkTest, ANonListeningSinkRefusesConnections)
{
    RawSinkOptions options = onFreePort();
    options.listen = false;
    RawSink sink(options);
    std::string error;
    ASSERT_TRUE(sink.start(error)) << error;
    EXPECT_NE(sink.port(), 0);
    Sender sender(sink.port());
    EXPECT_FALSE(sender.connected());
    EXPECT_EQ(sender.error(FD_CONNECT_BIT), WSAECONNREFUSED);
    EXPECT_TRUE(sink.jobs().empty());
}

TEST_F(RawSinkTest, StoppingEndsOpenJobs)
{
    RawSink sink(onFreePort());
    std::string error;
    ASSERT_TRUE(sink.start(error)) << error;
    Sender sender(sink.port());
    ASSERT_TRUE(sender.connected());
    ASSERT_EQ(sender.sendAll(pattern(10, 7)), 0);
    ASSERT_TRUE(sink.waitUntil([](const auto& jobs) { return !jobs.empty() && jobs[0].data.size() == 10; }, kWait));
    sink.stop();
    EXPECT_EQ(sink.jobs()[0].end, JobEnd::Stopped);
    EXPECT_TRUE(sender.wait() & FD_CLOSE);

    RawSinkOptions busy = onFreePort();
    busy.port = sink.port();
    RawSink second(busy);
    EXPECT_TRUE(second.start(error)) << "a stopped sink frees its port: " << error;
}

// The program, started as tests and the demo start it.
struct Program {
    pid_t pid = -1;
    int output = -1;
    int errors = -1;

    explicit Program(std::vector<std::string> arguments)
    {
        int out[2], err[2];
        EXPECT_EQ(pipe(out), 0);
        EXPECT_EQ(pipe(err), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        posix_spawn_file_actions_addclose(&actions, err[0]);
        arguments.insert(arguments.begin(), {DEVSIM_PROGRAM, "--no-dmlp"});
        std::vector<char*> argv;
        for (auto& argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        EXPECT_EQ(posix_spawn(&pid, DEVSIM_PROGRAM, &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        close(err[1]);
        output = out[0];
        errors = err[0];
    }
    ~Program()
    {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        close(output);
        close(errors);
    }

    // Reads until `until` appears in the text, or the end; bounded by the wait.
    static std::string read(int fd, const std::string& until = {})
    {
        std::string text;
        const auto deadline = std::chrono::steady_clock::now() + kWait;
        while (until.empty() || text.find(until) == std::string::npos) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            pollfd entry{fd, POLLIN, 0};
            if (left.count() <= 0 || poll(&entry, 1, static_cast<int>(left.count())) != 1)
                break;
            char buffer[4096];
            ssize_t got = ::read(fd, buffer, sizeof(buffer));
            if (got <= 0)
                break;
            text.append(buffer, static_cast<size_t>(got));
        }
        return text;
    }

    // The exit status once the output has ended.
    int exitStatus()
    {
        read(output);
        int status = 0;
        waitpid(pid, &status, 0);
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
};

TEST(DevsimProgram, HelpAndWrongCommandLines)
{
    Program help({"--help"});
    EXPECT_NE(Program::read(help.output, "--no-listen").find("Usage: devsim"), std::string::npos);
    EXPECT_EQ(help.exitStatus(), 0);

    Program unknown({"--colour", "red"});
    EXPECT_NE(Program::read(unknown.errors, "\n").find("unknown option '--colour'"), std::string::npos);
    EXPECT_EQ(unknown.exitStatus(), 2);

    Program notNumber({"--close-after", "lots"});
    EXPECT_NE(Program::read(notNumber.errors, "\n").find("--close-after wants a number"), std::string::npos);
    EXPECT_EQ(notNumber.exitStatus(), 2);
}

TEST_F(RawSinkTest, TheProgramWritesEachJobToAFileAndReportsABusyPort)
{
    testsupport::TempRoot root;
    const std::string out = root.file("jobs");
    Program devsim({"--raw", "127.0.0.1:0", "--out", out, "--jobs", "1"});
    std::string ready = Program::read(devsim.output, "\n");
    ASSERT_EQ(ready.rfind("devsim: RAW on 127.0.0.1:", 0), 0u) << ready;
    const USHORT port = static_cast<USHORT>(std::stoi(ready.substr(ready.rfind(':') + 1)));

    Program busy({"--raw", "127.0.0.1:" + std::to_string(port)});
    EXPECT_NE(Program::read(busy.errors, "\n").find("cannot listen on 127.0.0.1:" + std::to_string(port)),
              std::string::npos);
    EXPECT_EQ(busy.exitStatus(), 1);

    auto data = pattern(200000, 8);
    {
        Sender sender(port);
        ASSERT_TRUE(sender.connected());
        ASSERT_EQ(sender.sendAll(data), 0);
        EXPECT_EQ(sender.finish(), 0);
    }
    EXPECT_NE(Program::read(devsim.output, "\n")
                  .find("RAW job 1 on 127.0.0.1:" + std::to_string(port) + " from 127.0.0.1:"),
              std::string::npos);
    EXPECT_EQ(devsim.exitStatus(), 0);
    std::ifstream file(out + "/raw-00001.bin", std::ios::binary);
    std::vector<uint8_t> written{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    EXPECT_TRUE(written == data);
}

} // namespace
