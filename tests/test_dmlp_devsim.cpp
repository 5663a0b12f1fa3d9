// DMLP between processes: the device simulator answers VxDmlp, driven by dmlp-query and in-process:
// a printed job found by its client job id, traced and cancelled; drops, duplicates and malformed
// replies injected by the simulator.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ChildProcess.h"
#include "JobMessages.h"
#include "TempRoot.h"
#include "VxDmlpApi.h"

namespace {

using testsupport::besideSelf;
using testsupport::ChildProcess;
using testsupport::ChildResult;
using testsupport::runProgram;

constexpr int kWaitMs = 15000;

// One simulated device with DMLP on a free UDP port of its own loopback address.
class Device {
public:
    Device(const std::string& address, std::vector<std::string> options, const std::string& root)
        : address_(address)
    {
        std::vector<std::string> args = {"--root", root, "--device", address, "--raw", address + ":0",
                                         "--dmlp", address + ":0"};
        args.insert(args.end(), options.begin(), options.end());
        process_ = std::make_unique<ChildProcess>(besideSelf("devsim"), args);
        while (rawPort_ == 0 || dmlpPort_ == 0) {
            const std::string line = process_->readLine();
            if (line.empty())
                break;
            rawPort_ = rawPort_ != 0 ? rawPort_ : PortAfter(line, "RAW on ");
            dmlpPort_ = dmlpPort_ != 0 ? dmlpPort_ : PortAfter(line, "DMLP on ");
        }
    }
    bool ready() const { return rawPort_ != 0 && dmlpPort_ != 0; }
    const std::string& address() const { return address_; }
    uint16_t dmlpPort() const { return dmlpPort_; }

    // Sends one job by RAW.
    bool Print(const jobmsg::Bytes& job) const
    {
        const int socket_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in device = {};
        device.sin_family = AF_INET;
        device.sin_port = htons(rawPort_);
        inet_pton(AF_INET, address_.c_str(), &device.sin_addr);
        bool sent = connect(socket_, (sockaddr*)&device, sizeof device) == 0 &&
                    send(socket_, job.data(), job.size(), MSG_NOSIGNAL) == (ssize_t)job.size();
        close(socket_);
        return sent;
    }

    // dmlp-query against this device.
    ChildResult Query(std::vector<std::string> args) const
    {
        std::vector<std::string> full = {"--port", std::to_string(dmlpPort_), address_};
        full.insert(full.end(), args.begin(), args.end());
        return runProgram(besideSelf("dmlp-query"), full);
    }

private:
    static uint16_t PortAfter(const std::string& line, const std::string& what)
    {
        const size_t at = line.find(what);
        const size_t colon = at == std::string::npos ? at : line.find(':', at + what.size());
        return colon == std::string::npos ? 0 : (uint16_t)atoi(line.c_str() + colon + 1);
    }
    std::string address_;
    std::unique_ptr<ChildProcess> process_;
    uint16_t rawPort_ = 0;
    uint16_t dmlpPort_ = 0;
};

jobmsg::Bytes Job(const jobmsg::ClientJobId& id)
{
    jobmsg::Bytes job = jobmsg::typicalHeader(id, 1);
    job.insert(job.end(), 4096, 'P');
    return job;
}

// Repeats the query until its output satisfies accept, within kWaitMs.
template <typename Accept>
ChildResult QueryUntil(const Device& device, const std::vector<std::string>& args, Accept accept)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
    ChildResult result = device.Query(args);
    while (!accept(result) && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        result = device.Query(args);
    }
    return result;
}

// The HANDLE of the jobs line whose ID is id, or "".
std::string HandleOf(const std::string& jobs, const std::string& id)
{
    std::istringstream lines(jobs);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::string handle, state, impressions, lineId;
        if (fields >> handle >> state >> impressions >> lineId && lineId == id)
            return handle;
    }
    return "";
}

class DmlpAcrossProcesses : public ::testing::Test {
protected:
    testsupport::TempRoot root;
};

TEST_F(DmlpAcrossProcesses, APrintedJobIsFoundByItsClientJobIdTracedAndCancelled)
{
    Device quick("127.0.0.61", {"--print-time", "100", "--impressions", "3", "--keep-done", "200"}, root.path());
    Device slow("127.0.0.62", {"--print-time", "600000"}, root.path());
    ASSERT_TRUE(quick.ready() && slow.ready());

    const auto done = jobmsg::ClientJobId::make(0x1234ABCD, 0x1111, 0x2222, "DONEJOB!", "00000001done");
    ASSERT_TRUE(quick.Print(Job(done)));
    const std::string doneId = done.wireHex();
    ChildResult listed = QueryUntil(quick, {"jobs"}, [&](const ChildResult& r) { return !HandleOf(r.out, doneId).empty(); });
    ASSERT_FALSE(HandleOf(listed.out, doneId).empty()) << listed.out << listed.err;
    ChildResult traced = QueryUntil(quick, {"trace", doneId}, [](const ChildResult& r) { return r.out.rfind("1 ", 0) == 0; });
    EXPECT_EQ(traced.status, 0);
    EXPECT_EQ(traced.out, "1 3\n") << "completed with its impressions";

    const auto cancelled = jobmsg::ClientJobId::make(0x5678, 0x3333, 0x4444, "CANCELME", "00000002stop");
    ASSERT_TRUE(slow.Print(Job(cancelled)));
    const std::string cancelledId = cancelled.wireHex();
    listed = QueryUntil(slow, {"jobs"}, [&](const ChildResult& r) { return !HandleOf(r.out, cancelledId).empty(); });
    const std::string handle = HandleOf(listed.out, cancelledId);
    ASSERT_FALSE(handle.empty()) << listed.out;
    ChildResult cancel = slow.Query({"cancel", handle});
    EXPECT_EQ(cancel.status, 0) << cancel.out << cancel.err;
    traced = QueryUntil(slow, {"trace", cancelledId}, [](const ChildResult& r) { return r.out.rfind("6 ", 0) == 0; });
    EXPECT_EQ(traced.out.substr(0, 2), "6 ") << traced.out;
    ChildResult unknown = slow.Query({"cancel", "999999"});
    EXPECT_EQ(unknown.status, 1);
    EXPECT_EQ(unknown.out, "8\n") << "an unknown handle";
}

// Reads the watcher's lines until one starts with want (after the sender), within kWaitMs.
std::vector<std::string> WatchUntil(ChildProcess& watcher, const std::string& want)
{
    std::vector<std::string> lines;
    for (std::string line; !(line = watcher.readLine(kWaitMs)).empty();) {
        const size_t blank = line.find(' ');
        lines.push_back(blank == std::string::npos ? line : line.substr(blank + 1));
        if (lines.back().rfind(want, 0) == 0)
            break;
    }
    return lines;
}

TEST_F(DmlpAcrossProcesses, AWatcherSeesARawJobPrintRiseAndEndInOrder)
{
    Device device("127.0.0.68", {"--print-time", "300", "--impressions", "3", "--keep-done", "5000"}, root.path());
    ASSERT_TRUE(device.ready());
    ChildProcess watcher(besideSelf("dmlp-query"),
                         {"--port", std::to_string(device.dmlpPort()), device.address(), "watch", "--count", "1000"});
    ASSERT_EQ(watcher.readLine(kWaitMs), "watching");
    const auto id = jobmsg::ClientJobId::make(0x1234ABCD, 0x1111, 0x2222, "WATCHME!", "00000001seen");
    ASSERT_TRUE(device.Print(Job(id)));
    const std::vector<std::string> lines = WatchUntil(watcher, "154");
    ASSERT_FALSE(lines.empty());
    std::istringstream first(lines.back());
    std::string event, job, state, reason, wireId;
    first >> event >> job >> state >> reason >> wireId;
    EXPECT_EQ(state, "7") << lines.back();
    EXPECT_EQ(wireId, id.wireHex());
    std::vector<std::string> rest = WatchUntil(watcher, "154 " + job + " 9");
    ASSERT_FALSE(rest.empty());
    EXPECT_EQ(rest.back().substr(0, 4 + job.size() + 2), "154 " + job + " 9");
    // The last impressions change together with the end: the same notification's next entry.
    const std::string last = watcher.readLine(kWaitMs);
    rest.push_back(last.substr(last.find(' ') + 1));
    std::string seen;
    for (const std::string& line : rest)
        seen += line + "\n";
    EXPECT_NE(std::find(rest.begin(), rest.end(), "18 " + job + " 3"), rest.end()) << "impressions rose to 3:\n" << seen;
    watcher.kill();
}

TEST_F(DmlpAcrossProcesses, DiscoverListsTheDeviceThatAnswers)
{
    Device device("127.0.0.69", {"--dmlp", "127.0.0.69:47545"}, root.path());
    ChildResult found = runProgram(besideSelf("dmlp-query"), {"--timeout", "500", "127.0.0.69", "discover"});
    EXPECT_EQ(found.status, 0) << found.err;
    EXPECT_EQ(found.out, "127.0.0.69\n");
    ChildResult none = runProgram(besideSelf("dmlp-query"), {"--timeout", "300", "127.0.0.70", "discover"});
    EXPECT_EQ(none.status, 0);
    EXPECT_EQ(none.out, "");
}

TEST_F(DmlpAcrossProcesses, ADroppedRequestIsSentAgainAndAllDroppedTimesOutOnTime)
{
    Device once("127.0.0.63", {"--dmlp-fault", "Echo:drop/1"}, root.path());
    Device never("127.0.0.64", {"--dmlp-fault", "any:drop"}, root.path());
    ASSERT_TRUE(once.ready() && never.ready());
    ChildResult retried = once.Query({"--timeout", "300", "--retry", "2", "echo", "again"});
    EXPECT_EQ(retried.status, 0) << retried.err;
    EXPECT_EQ(retried.out, "again\n");

    const auto start = std::chrono::steady_clock::now();
    ChildResult lost = never.Query({"--timeout", "300", "--retry", "2", "echo", "lost"});
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    EXPECT_EQ(lost.status, 1);
    EXPECT_EQ(lost.out, "20\n");
    EXPECT_GE(took.count(), 600) << "two transmissions of 300 ms";
    EXPECT_LT(took.count(), 5000);
}

TEST_F(DmlpAcrossProcesses, AMalformedReplyIsIgnoredAndTheGoodOneAfterItCounts)
{
    Device device("127.0.0.65", {"--dmlp-fault", "Echo:malformed:magic/1", "--dmlp-fault", "Get2:malformed:nostatus/1"},
                  root.path());
    ASSERT_TRUE(device.ready());
    ChildResult echoed = device.Query({"--timeout", "300", "--retry", "2", "echo", "fine"});
    EXPECT_EQ(echoed.status, 0) << echoed.err;
    EXPECT_EQ(echoed.out, "fine\n");
    ChildResult statusless = device.Query({"--timeout", "300", "--retry", "2", "device"});
    EXPECT_EQ(statusless.out, "32774\n") << "a reply without status";
    ChildResult state = device.Query({"device"});
    EXPECT_EQ(state.status, 0) << state.out << state.err;
}

// In-process: every asynchronous request completes once, however often the device answers it.
TEST_F(DmlpAcrossProcesses, DuplicatedRepliesCompleteOnce)
{
    Device device("127.0.0.66", {"--dmlp-fault", "Echo:duplicate"}, root.path());
    ASSERT_TRUE(device.ready());
    DmlpInstance instance = 0;
    ASSERT_EQ(DMLP_Initialize(DMLP_INTERFACE_VERSION, nullptr, &instance), DMLP_SUCCESS);
    DmlpAddress peer = {};
    peer.kind = DMLP_ADDRESS_UDP;
    inet_pton(AF_INET, device.address().c_str(), peer.u.inet.address);
    peer.u.inet.port = device.dmlpPort();
    DmlpEPProperty property = {};
    property.timeout = 5000;
    property.transmissions = 1;
    DmlpBinding binding = nullptr;
    ASSERT_EQ(DMLP_Bind(instance, &peer, nullptr, &property, &binding), DMLP_SUCCESS);

    static std::atomic<int> completions{0}, failures{0};
    completions = 0;
    failures = 0;
    DmlpCallback callback = {};
    callback.kind = DMLP_CALLBACK_KIND;
    callback.function.result = [](DmlpBinding, uint16_t, void*, uint16_t status, void* result) -> uint16_t {
        if (result != nullptr)
            DMLP_ReleaseParam(result);
        failures += status != DMLP_SUCCESS;
        ++completions;
        return 0;
    };
    const uint32_t object[2] = {0, 0};
    const char text[] = "twice";
    DmlpEchoParams echo = {text, 5};
    for (int i = 0; i < 5; ++i)
        ASSERT_EQ(DMLP_Echo(DMLP_MODE_ASYNC, &callback, binding, object, &echo, nullptr), DMLP_SUCCESS);
    DmlpEchoResult result = {};
    ASSERT_EQ(DMLP_Echo(DMLP_MODE_SYNC, nullptr, binding, object, &echo, &result), DMLP_SUCCESS);
    DMLP_FreeMemory(&result.buffer);
    // The unbind barrier: every completion posted before it has run.
    ASSERT_EQ(DMLP_Unbind(binding), DMLP_SUCCESS);
    EXPECT_EQ(completions.load(), 5);
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(DMLP_Terminate(instance), DMLP_SUCCESS);
}

} // namespace
