// DMLP between processes: the device simulator answers VxDmlp, driven by dmlp-query and in-process:
// a printed job found by its client job id, traced and cancelled; drops, duplicates and malformed
// replies injected by the simulator; event notifications to watchers over UDP and TCP with the
// simulator's event faults, expiry and renewal, the event port's search of the service's ports;
// discovery by unicast and broadcast Echo.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>
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
        : address_(address), control_(root + "/" + address + ".ctl")
    {
        std::vector<std::string> args = {"--root",   root,         "--control", control_, "--device",
                                         address,    "--raw",      address + ":0",        "--dmlp",
                                         address + ":0"};
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

    // A command on devsim's control socket; its answer, or "error: ..." when it failed.
    std::string Control(std::vector<std::string> words) const
    {
        words.insert(words.begin(), {"--control", control_});
        ChildResult result = runProgram(besideSelf("devsim-ctl"), words);
        return result.status == 0 ? result.out : "error: " + result.out + result.err;
    }
    // Notifications of these event ids to every subscriber, sent before the call returns.
    bool Send(std::vector<std::string> ids) const
    {
        ids.insert(ids.begin(), {"event", address_});
        return Control(ids).empty();
    }
    // Reads devsim's lines until one contains text, within kWaitMs; that line, or "".
    std::string LineWith(const std::string& text)
    {
        for (std::string line; !(line = process_->readLine(kWaitMs)).empty();) {
            if (line.find(text) != std::string::npos)
                return line;
        }
        return "";
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
    std::string control_;
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
    Device quick("127.0.0.61", {"--print-time", "100", "--impressions", "3", "--keep-done", "2000"}, root.path());
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

// Polls until done() holds, within kWaitMs.
template <typename Done>
bool Eventually(Done done)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// dmlp-query watching one device: a line per event entry, the sender first.
class Watcher {
public:
    Watcher(const Device& device, std::vector<std::string> options = {}, const testsupport::ChildOptions& child = {})
        : sender_(device.address())
    {
        std::vector<std::string> args = {"--port", std::to_string(device.dmlpPort()), device.address(), "watch"};
        args.insert(args.end(), options.begin(), options.end());
        process_ = std::make_unique<ChildProcess>(besideSelf("dmlp-query"), args, child);
        ready_ = process_->readLine(kWaitMs) == "watching";
    }
    bool ready() const { return ready_; }
    // The next event entry without its sender; "" when none came within timeoutMs.
    std::string Next(int timeoutMs = kWaitMs)
    {
        const std::string line = process_->readLine(timeoutMs);
        if (line.empty() || line.rfind(sender_ + " ", 0) != 0)
            return line.empty() ? line : "from another sender: " + line;
        return line.substr(sender_.size() + 1);
    }
    // The event ids of the entries up to and including the next 18, the marker the tests send
    // after the events they look for.
    std::vector<std::string> IdsToMarker()
    {
        std::vector<std::string> ids;
        for (std::string entry; (entry = Next()) != "";) {
            ids.push_back(entry.substr(0, entry.find(' ')));
            if (ids.back() == "18")
                break;
        }
        return ids;
    }
    void Kill()
    {
        process_->kill();
        process_->wait();
    }
    // The watcher's resident memory in kB (its own /proc entry); 0 when unknown.
    long ResidentKb() const
    {
        std::ifstream status("/proc/" + std::to_string(process_->pid()) + "/status");
        for (std::string line; std::getline(status, line);) {
            if (line.rfind("VmRSS:", 0) == 0)
                return atol(line.c_str() + 6);
        }
        return 0;
    }

private:
    std::string sender_;
    std::unique_ptr<ChildProcess> process_;
    bool ready_ = false;
};

using Ids = std::vector<std::string>;

// A port of this type free on 127.0.0.1 with the next one free too.
uint16_t FreePortPair(int type)
{
    for (int attempt = 0; attempt < 50; ++attempt) {
        const int first = socket(AF_INET, type, 0), second = socket(AF_INET, type, 0);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        bool free = bind(first, (sockaddr*)&address, sizeof address) == 0 &&
                    getsockname(first, (sockaddr*)&address, &length) == 0 && ntohs(address.sin_port) < 65535;
        const uint16_t port = ntohs(address.sin_port);
        address.sin_port = htons((uint16_t)(port + 1));
        free = free && bind(second, (sockaddr*)&address, sizeof address) == 0;
        close(first);
        close(second);
        if (free)
            return port;
    }
    return 0;
}

// The root's services file names the event ports.
void WriteServices(const testsupport::TempRoot& root, const std::string& lines)
{
    mkdir(root.file("config").c_str(), 0755);
    std::ofstream(root.file("config/services")) << lines;
}

TEST_F(DmlpAcrossProcesses, DroppedAndDuplicatedNotifications)
{
    Device device("127.0.0.71", {"--dmlp-fault", "event:drop/2"}, root.path());
    ASSERT_TRUE(device.ready());
    Watcher watcher(device);
    ASSERT_TRUE(watcher.ready());
    ASSERT_TRUE(device.Send({"count=3", "154"}));
    ASSERT_TRUE(device.Send({"18"}));
    EXPECT_EQ(watcher.IdsToMarker(), (Ids{"154", "18"})) << "the first two dropped";

    EXPECT_EQ(device.Control({"fault", "event:duplicate/1"}), "");
    ASSERT_TRUE(device.Send({"154"}));
    ASSERT_TRUE(device.Send({"18"}));
    EXPECT_EQ(watcher.IdsToMarker(), (Ids{"154", "154", "18"})) << "each copy delivered as it came";

    EXPECT_EQ(device.Control({"fault", "event:drop"}), "");
    ASSERT_TRUE(device.Send({"count=5", "154"}));
    ASSERT_TRUE(device.Send({"18"}));
    EXPECT_EQ(device.Control({"fault", "clear"}), "");
    ASSERT_TRUE(device.Send({"18"}));
    EXPECT_EQ(watcher.IdsToMarker(), (Ids{"18"})) << "nothing while every notification was dropped";
}

TEST_F(DmlpAcrossProcesses, NotificationsSentWhereNothingListensAreCountedAsFailures)
{
    Device device("127.0.0.72", {}, root.path());
    ASSERT_TRUE(device.ready());
    Watcher watcher(device);
    ASSERT_TRUE(watcher.ready());
    EXPECT_EQ(device.Control({"fault", "event:unreachable/2"}), "");
    ASSERT_TRUE(device.Send({"count=2", "154"}));
    std::string subs;
    EXPECT_TRUE(Eventually([&] {
        subs = device.Control({"subs"});
        return subs.find("127.0.0.72 unreachable sent 2 failures 2\n") != std::string::npos;
    })) << subs;
    ASSERT_TRUE(device.Send({"18"}));
    EXPECT_EQ(watcher.IdsToMarker(), (Ids{"18"})) << "the watcher got neither";
}

// In-process: a device that goes on sending after the unsubscribe reaches no callback.
TEST_F(DmlpAcrossProcesses, WhatADeviceSendsAfterTheUnsubscribeIsDropped)
{
    Device keeps("127.0.0.73", {"--dmlp-fault", "event:after-unsubscribe"}, root.path());
    Device other("127.0.0.74", {}, root.path());
    ASSERT_TRUE(keeps.ready() && other.ready());
    DmlpInstance instance = 0;
    ASSERT_EQ(DMLP_Initialize(DMLP_INTERFACE_VERSION, nullptr, &instance), DMLP_SUCCESS);
    struct Senders {
        std::mutex lock;
        std::condition_variable changed;
        std::vector<int> last;  // the last byte of each event's sender
    } senders;
    DmlpCallback callback = {};
    callback.kind = DMLP_CALLBACK_KIND;
    callback.context = &senders;
    callback.function.event = [](const DmlpAddress* sender, void* context, void* event) {
        Senders* seen = (Senders*)context;
        DMLP_ReleaseParam(event);
        std::lock_guard<std::mutex> guard(seen->lock);
        seen->last.push_back(sender->u.inet.address[3]);
        seen->changed.notify_all();
    };
    const auto waitFor = [&](size_t count) {
        std::unique_lock<std::mutex> guard(senders.lock);
        senders.changed.wait_for(guard, std::chrono::milliseconds(kWaitMs), [&] { return senders.last.size() >= count; });
        return senders.last;
    };
    const uint16_t ids[] = {154, 18};
    const DmlpEventList list = {2, ids};
    const uint32_t object[2] = {0, 0};
    std::vector<DmlpBinding> bindings;
    for (const Device* device : {&keeps, &other}) {
        DmlpAddress peer = {};
        peer.kind = DMLP_ADDRESS_UDP;
        inet_pton(AF_INET, device->address().c_str(), peer.u.inet.address);
        peer.u.inet.port = device->dmlpPort();
        DmlpEPProperty property = {};
        property.timeout = 5000;
        property.transmissions = 2;
        DmlpBinding binding = nullptr;
        ASSERT_EQ(DMLP_Bind(instance, &peer, nullptr, &property, &binding), DMLP_SUCCESS);
        ASSERT_EQ(DMLP_SubscribeEvent(binding, object, 0, 501, &list, 0, &callback), DMLP_SUCCESS);
        bindings.push_back(binding);
    }
    ASSERT_TRUE(keeps.Send({"154"}));
    EXPECT_EQ(waitFor(1), std::vector<int>{73});
    ASSERT_EQ(DMLP_UnsubscribeEvent(bindings[0], object, 501), DMLP_SUCCESS);
    EXPECT_NE(keeps.LineWith("unsubscribe 501"), "");
    ASSERT_TRUE(keeps.Send({"154"}));
    ASSERT_TRUE(other.Send({"18"}));
    EXPECT_EQ(waitFor(2), (std::vector<int>{73, 74})) << "the device's second notification reached nobody";
    EXPECT_NE(keeps.Control({"subs"}).find(" sent 2 failures 0 unsubscribed"), std::string::npos)
        << "the device did send it";
    for (DmlpBinding binding : bindings)
        EXPECT_EQ(DMLP_Unbind(binding), DMLP_SUCCESS);
    EXPECT_EQ(DMLP_Terminate(instance), DMLP_SUCCESS);
}

// Two watchers; one is killed; the other still gets each event within a second of its send.
// Options: the watchers' (--tcp, or none for UDP).
void KilledWatcherDelaysNoOther(Device& device, const std::vector<std::string>& options)
{
    Watcher killed(device, options), survivor(device, options);
    ASSERT_TRUE(killed.ready() && survivor.ready());
    ASSERT_TRUE(device.Send({"154", "18"}));
    EXPECT_EQ(killed.IdsToMarker(), (Ids{"154", "18"})) << "both had an event (a TCP watcher its connection)";
    EXPECT_EQ(survivor.IdsToMarker(), (Ids{"154", "18"}));
    killed.Kill();
    for (int round = 0; round < 3; ++round) {
        ASSERT_TRUE(device.Send({"18"}));
        const auto sent = std::chrono::steady_clock::now();
        EXPECT_EQ(survivor.IdsToMarker(), (Ids{"18"}));
        EXPECT_LT(std::chrono::steady_clock::now() - sent, std::chrono::seconds(1)) << "round " << round;
    }
    if (options.empty())
        return;
    // The dead watcher's connection broke: its notifications count as failures, the survivor's not.
    std::string subs;
    EXPECT_TRUE(Eventually([&] {
        subs = device.Control({"subs"});
        std::istringstream lines(subs);
        int failing = 0, clean = 0;
        for (std::string line; std::getline(lines, line);)
            (line.size() > 11 && line.substr(line.size() - 11) == " failures 0" ? clean : failing) += 1;
        return failing == 1 && clean == 1;
    })) << subs;
}

TEST_F(DmlpAcrossProcesses, AKilledUdpWatcherDelaysNoOther)
{
    Device device("127.0.0.75", {}, root.path());
    ASSERT_TRUE(device.ready());
    KilledWatcherDelaysNoOther(device, {});
}

TEST_F(DmlpAcrossProcesses, AKilledTcpWatcherDelaysNoOther)
{
    Device device("127.0.0.76", {"--dmlp-tcp"}, root.path());
    ASSERT_TRUE(device.ready());
    KilledWatcherDelaysNoOther(device, {"--tcp"});
}

TEST_F(DmlpAcrossProcesses, ASubscriptionExpiresAndTheRenewalBringsItBack)
{
    Device device("127.0.0.77", {"--subscription-lifetime", "2500"}, root.path());
    ASSERT_TRUE(device.ready());
    Watcher watcher(device, {"--renew", "5"});
    ASSERT_TRUE(watcher.ready());
    ASSERT_TRUE(device.Send({"154", "18"}));
    EXPECT_EQ(watcher.IdsToMarker(), (Ids{"154", "18"}));
    EXPECT_NE(device.LineWith(" expire 501 [154,18] udp 127.0.0.1:"), "")
        << "no vxdmlp-event service: the device is told the binding's own address, not 0.0.0.0";
    EXPECT_EQ(device.Control({"subs"}), "") << "expired";
    ASSERT_TRUE(device.Send({"154"}));
    EXPECT_NE(device.LineWith(" subscribe 501 [154,18] udp 127.0.0.1:"), "") << "renewed";
    ASSERT_TRUE(device.Send({"18"}));
    EXPECT_EQ(watcher.IdsToMarker(), (Ids{"18"})) << "nothing while expired, then one callback an event";
}

TEST_F(DmlpAcrossProcesses, TwoWatchersOfOneDeviceEachGetEveryEventOnPortsOfTheService)
{
    const uint16_t base = FreePortPair(SOCK_DGRAM);
    ASSERT_NE(base, 0);
    WriteServices(root, "vxdmlp-event " + std::to_string(base) + "/udp\n");
    Device device("127.0.0.78", {}, root.path());
    ASSERT_TRUE(device.ready());
    Watcher first(device);
    ASSERT_TRUE(first.ready());
    Watcher second(device);
    ASSERT_TRUE(second.ready());
    EXPECT_NE(device.LineWith("subscribe 501 [154,18] udp 127.0.0.1:" + std::to_string(base)), "");
    EXPECT_NE(device.LineWith("subscribe 501 [154,18] udp 127.0.0.1:" + std::to_string(base + 1)), "")
        << "the second process finds the base held";
    ASSERT_TRUE(device.Send({"count=3", "154"}));
    ASSERT_TRUE(device.Send({"18"}));
    EXPECT_EQ(first.IdsToMarker(), (Ids{"154", "154", "154", "18"}));
    EXPECT_EQ(second.IdsToMarker(), (Ids{"154", "154", "154", "18"}));
}

// count consecutive UDP ports of 127.0.0.1 held by this test, the one after them free.
class HeldPorts {
public:
    explicit HeldPorts(int count)
    {
        for (int attempt = 0; attempt < 50 && sockets_.empty(); ++attempt) {
            const uint16_t base = FreePortPair(SOCK_DGRAM);
            for (int i = 0; i <= count && base != 0 && base + count < 65535; ++i) {
                const int held = socket(AF_INET, SOCK_DGRAM, 0);
                sockaddr_in address = {};
                address.sin_family = AF_INET;
                address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
                address.sin_port = htons((uint16_t)(base + i));
                sockets_.push_back(held);
                if (bind(held, (sockaddr*)&address, sizeof address) != 0) {
                    Release();
                    break;
                }
            }
            if (!sockets_.empty()) {  // the one after them was free: let it go
                close(sockets_.back());
                sockets_.pop_back();
            }
            base_ = sockets_.empty() ? 0 : base;
        }
    }
    ~HeldPorts() { Release(); }
    uint16_t base() const { return base_; }

private:
    void Release()
    {
        for (int held : sockets_)
            close(held);
        sockets_.clear();
    }
    std::vector<int> sockets_;
    uint16_t base_ = 0;
};

// The port of devsim's next "subscribe" line, or 0.
uint16_t SubscribedPort(Device& device)
{
    const std::string line = device.LineWith(" subscribe 501 [154,18] udp 127.0.0.1:");
    return line.empty() ? 0 : (uint16_t)atoi(line.c_str() + line.rfind(':') + 1);
}

TEST_F(DmlpAcrossProcesses, TheEventPortSearchesTheServicesRangeOnRealSockets)
{
    HeldPorts held(10);
    ASSERT_NE(held.base(), 0);
    const int base = held.base();
    WriteServices(root, "vxdmlp-event " + std::to_string(base) + "/udp\n");
    Device device("127.0.0.84", {}, root.path());
    ASSERT_TRUE(device.ready());
    Watcher tenHeld(device);
    ASSERT_TRUE(tenHeld.ready());
    const uint16_t any = SubscribedPort(device);
    EXPECT_TRUE(any != 0 && (any < base || any >= base + 10)) << "ten ports tried, then any: " << any;

    std::ofstream(root.file("config/vxipport.dat")) << "[PortNumber]\nrange=11\n";
    Watcher eleventh(device);
    ASSERT_TRUE(eleventh.ready());
    EXPECT_EQ(SubscribedPort(device), base + 10) << "the range from vxipport.dat";

    std::ofstream(root.file("config/vxipport.dat")) << "[PortNumber]\nrange=0\n";
    Watcher noSearch(device);
    ASSERT_TRUE(noSearch.ready());
    const uint16_t unsearched = SubscribedPort(device);
    EXPECT_TRUE(unsearched != 0 && (unsearched < base || unsearched > base + 10)) << unsearched;

    ASSERT_TRUE(device.Send({"18"}));
    for (Watcher* watcher : {&tenHeld, &eleventh, &noSearch})
        EXPECT_EQ(watcher->IdsToMarker(), (Ids{"18"}));
}

TEST_F(DmlpAcrossProcesses, ATcpWatcherGetsItsEventsOverTheKeptConnection)
{
    const uint16_t udp = FreePortPair(SOCK_DGRAM), tcp = FreePortPair(SOCK_STREAM);
    ASSERT_TRUE(udp != 0 && tcp != 0);
    WriteServices(root, "vxdmlp-event " + std::to_string(udp) + "/udp\nvxdmlp-event " + std::to_string(tcp) + "/tcp\n");
    Device device("127.0.0.79", {"--dmlp-tcp"}, root.path());
    ASSERT_TRUE(device.ready());
    Watcher watcher(device, {"--tcp"});
    ASSERT_TRUE(watcher.ready());
    EXPECT_NE(device.LineWith("subscribe 501 [154,18] tcp 127.0.0.1:" + std::to_string(tcp)), "")
        << "the TCP port of the service";
    ASSERT_TRUE(device.Send({"count=2", "154"}));
    ASSERT_TRUE(device.Send({"18"}));
    EXPECT_EQ(watcher.IdsToMarker(), (Ids{"154", "154", "18"}));
    EXPECT_EQ(device.Control({"subs"}), "127.0.0.79 501 [154,18] tcp 127.0.0.1:" + std::to_string(tcp) +
                                            " sent 3 failures 0\n");
}

// A notification of event 18 (job, impressions) with list value 501, written by hand.
std::vector<uint8_t> Notification18(uint32_t job, uint32_t impressions)
{
    const auto u32 = [](std::vector<uint8_t>& out, uint32_t value) {
        for (int shift = 24; shift >= 0; shift -= 8)
            out.push_back((uint8_t)(value >> shift));
    };
    std::vector<uint8_t> body;
    u32(body, 501);
    body.insert(body.end(), {1, 0x00, 18, 0, 0, 0});
    u32(body, job);
    for (int i = 0; i < 4; ++i)
        u32(body, 0);
    u32(body, impressions);
    body.insert(body.end(), 15, 0);
    std::vector<uint8_t> frame = {0xCD, 0xCA, 0x10, 0x00, 0x00, 0x0A, 0x00, 0x00,
                                  (uint8_t)(body.size() >> 8), (uint8_t)body.size()};
    frame.insert(frame.end(), 10, 0);
    frame.insert(frame.end(), body.begin(), body.end());
    return frame;
}

// A TCP connection to 127.0.0.1:port from address:localPort (0: any); -1 when refused.
int ConnectFrom(const char* address, uint16_t localPort, uint16_t port)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in local = {};
    local.sin_family = AF_INET;
    local.sin_port = htons(localPort);
    inet_pton(AF_INET, address, &local.sin_addr);
    sockaddr_in target = {};
    target.sin_family = AF_INET;
    target.sin_port = htons(port);
    target.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(fd, (sockaddr*)&local, sizeof local) != 0 || connect(fd, (sockaddr*)&target, sizeof target) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

bool SendAll(int fd, const std::vector<uint8_t>& bytes, size_t count)
{
    for (size_t sent = 0; sent < count;) {
        const ssize_t done = send(fd, bytes.data() + sent, count - sent, MSG_NOSIGNAL);
        if (done <= 0)
            return false;
        sent += (size_t)done;
    }
    return true;
}

void Reset(int fd)
{
    const linger abort = {1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    close(fd);
}

// Any host reaches a TCP event port: a partial frame then a reset does not swallow the next
// connection's notification from the same address and port, and thousands of connections that
// announce 65535 bytes, send 65000 and close leave the watcher's memory where it was.
TEST_F(DmlpAcrossProcesses, HostileTcpConnectionsNeitherGrowTheWatcherNorSwallowAnEvent)
{
    const uint16_t udp = FreePortPair(SOCK_DGRAM), tcp = FreePortPair(SOCK_STREAM);
    ASSERT_TRUE(udp != 0 && tcp != 0);
    WriteServices(root, "vxdmlp-event " + std::to_string(udp) + "/udp\nvxdmlp-event " + std::to_string(tcp) + "/tcp\n");
    Device device("127.0.0.80", {"--dmlp-tcp"}, root.path());
    ASSERT_TRUE(device.ready());
    // Under AddressSanitizer freed blocks wait in its quarantine: without it the resident memory
    // is that of the blocks the watcher holds.
    testsupport::ChildOptions child;
    const char* sanitizer = getenv("ASAN_OPTIONS");
    child.setEnvironment = {std::string("ASAN_OPTIONS=") + (sanitizer != nullptr ? sanitizer : "") + ":quarantine_size_mb=0"};
    Watcher watcher(device, {"--tcp"}, child);
    ASSERT_TRUE(watcher.ready());

    const uint16_t port = FreePortPair(SOCK_STREAM);
    const std::vector<uint8_t> partial = Notification18(1, 1), good = Notification18(2, 2);
    int fd = ConnectFrom("127.0.0.80", port, tcp);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(SendAll(fd, partial, 30));
    Reset(fd);
    fd = ConnectFrom("127.0.0.80", port, tcp);
    ASSERT_GE(fd, 0) << "the same address and port again";
    ASSERT_TRUE(SendAll(fd, good, good.size()));
    close(fd);
    EXPECT_EQ(watcher.Next(), "18 2 2");

    // 3 x 1000 connections from a host without a subscription, 100 open at a time.
    std::vector<uint8_t> large = {0xCD, 0xCA, 0x10, 0x00, 0x00, 0x0A, 0x00, 0x00, 0xFF, 0xFF};
    large.resize(20 + 65000, 0);
    const long before = watcher.ResidentKb();
    ASSERT_GT(before, 0);
    std::vector<long> rounds;
    for (uint32_t round = 0; round < 3; ++round) {
        for (int batch = 0; batch < 10; ++batch) {
            std::vector<int> open;
            for (int i = 0; i < 100; ++i) {
                const int connection = ConnectFrom("127.0.0.81", 0, tcp);
                ASSERT_GE(connection, 0);
                ASSERT_TRUE(SendAll(connection, large, large.size()));
                open.push_back(connection);
            }
            for (int connection : open)
                close(connection);
            // A notification of the device's after them: the watcher has handled what came before.
            const uint32_t job = 10 + round * 10 + (uint32_t)batch;
            fd = ConnectFrom("127.0.0.80", 0, tcp);
            ASSERT_GE(fd, 0);
            ASSERT_TRUE(SendAll(fd, Notification18(job, 1), good.size()));
            close(fd);
            ASSERT_EQ(watcher.Next(), "18 " + std::to_string(job) + " 1");
        }
        rounds.push_back(watcher.ResidentKb());
    }
    fprintf(stderr, "watcher resident memory: %ld kB before, %ld / %ld / %ld kB after each 1000 connections\n", before,
            rounds[0], rounds[1], rounds[2]);
    // Each round sends 65 MB; a sanitizer's shadow of the heap first touched counts in the first.
    EXPECT_LT(rounds[2] - before, 96 * 1024) << "held bytes are bounded and freed with their connection";
    EXPECT_LT(rounds[2] - rounds[0], 24 * 1024) << "no growth from round to round";
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

// Other devsim processes on this machine may answer the broadcast too: ours must each be listed once.
TEST_F(DmlpAcrossProcesses, ABroadcastEchoListsEveryDeviceOnce)
{
    std::vector<std::string> args = {"--root", root.path(), "--broadcast"};
    for (const char* address : {"127.0.0.81", "127.0.0.82", "127.0.0.83"})
        args.insert(args.end(), {"--device", address, "--no-raw", "--dmlp", std::string(address) + ":0"});
    args.insert(args.end(), {"--dmlp-fault", "Echo:duplicate"});  // the last device answers twice
    ChildProcess devsim(besideSelf("devsim"), args);
    std::string line;
    while (!(line = devsim.readLine(kWaitMs)).empty() && line.rfind("devsim: broadcast Echo on ", 0) != 0) {
    }
    ASSERT_EQ(line, "devsim: broadcast Echo on 127.255.255.255:47545");
    ChildResult found = runProgram(besideSelf("dmlp-query"), {"--timeout", "1000", "127.255.255.255", "discover"});
    EXPECT_EQ(found.status, 0) << found.err;
    for (const std::string address : {"127.0.0.81", "127.0.0.82", "127.0.0.83"}) {
        std::istringstream lines(found.out);
        int times = 0;
        for (std::string listed; std::getline(lines, listed);)
            times += listed == address;
        EXPECT_EQ(times, 1) << address << " in:\n" << found.out;
    }
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
