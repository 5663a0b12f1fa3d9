// The client library over the real protocol engine and the simulated device: the flows' success
// codes, what goes on the wire (the simulator's request log), events reaching the caller's
// callback, and the binding through the spooler host and the port monitor.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "JTRKCLIB.h"
#include "Road.h"
#include "Simulator.h"
#include "SimulatorJobId.h"
#include "TempRoot.h"
#include "VxDmlpApi.h"
#include "test_spooler_host.h"

#include "pal/testhooks.h"

namespace {

using namespace std::chrono_literals;

const uint32_t kNoObject[2] = {0, 0};

// A loopback address of this test process's own, so that parallel tests do not share a device.
std::string deviceAddress()
{
    unsigned pid = static_cast<unsigned>(getpid());
    return "127." + std::to_string(64 + ((pid >> 16) & 63)) + "." + std::to_string((pid >> 8) & 0xFF) + "." +
           std::to_string(pid & 0xFF);
}

ClJobID jobId(uint32_t number)
{
    ClJobID id = {};
    id.Data1 = 0x51000000 + number;
    id.Data2 = static_cast<WORD>(0x100 + number);
    id.Data3 = 0x0203;
    id.Data4[7] = static_cast<BYTE>(number);
    snprintf(reinterpret_cast<char*>(id.JobText), sizeof id.JobText, "%08X engine job", number);
    return id;
}

struct EventSink {
    std::mutex lock;
    std::condition_variable changed;
    std::vector<std::pair<uint16_t, uint32_t>> seen;  // event id, job handle
    std::vector<uint32_t> impressions;
    std::vector<void*> contexts;
    DmlpInstance instance = 0;
    std::u16string port;
    DWORD lastRelease = 0;

    bool waitFor(uint16_t id, std::chrono::milliseconds limit)
    {
        std::unique_lock<std::mutex> hold(lock);
        return changed.wait_for(hold, limit, [&] {
            for (auto& event : seen)
                if (event.first == id)
                    return true;
            return false;
        });
    }
};

void onEvent(const DmlpAddress*, void* context, void* event)
{
    auto* sink = static_cast<EventSink*>(context);
    {
        std::lock_guard<std::mutex> hold(sink->lock);
        const auto* record = static_cast<const DmlpEventRecord*>(event);
        for (uint8_t i = 0; i < record->count; ++i) {
            const DmlpEventEntry& entry = record->entries[i];
            if (entry.id == 154) {
                sink->seen.emplace_back(154, static_cast<const JobState3*>(entry.body)->Job);
            } else if (entry.id == 18) {
                auto* count = static_cast<const DmlpImpressionEvent*>(entry.body);
                sink->seen.emplace_back(18, count->Job);
                sink->impressions.push_back(count->ImprCompCnt);
            }
            sink->contexts.push_back(context);
        }
        sink->lastRelease = DMLLIB_ReleaseBuff(sink->instance, sink->port.c_str(), event);
    }
    sink->changed.notify_all();
}

class EngineFlows : public ::testing::Test {
protected:
    void SetUp() override
    {
        palSetTimeScale(0.01);  // the job log's pause
        device.address = address;
        device.printTime = 1h;
        device.keepDone = 0ms;
    }
    void start()
    {
        simulator.addDevice(device);
        std::string error;
        ASSERT_TRUE(simulator.start(error)) << error;
        ASSERT_TRUE(DMLLIB_Initialize(&instance));
        DmlpAddress peer = {};
        peer.kind = DMLP_ADDRESS_UDP;
        inet_pton(AF_INET, address.c_str(), peer.u.inet.address);
        peer.u.inet.port = 47545;
        DmlpEPProperty property = {};
        // One transmission, so that the request log counts each request once even on a loaded machine.
        property.timeout = 5000;
        property.transmissions = 1;
        ASSERT_EQ(DMLP_Bind(instance, &peer, nullptr, &property, &binding), DMLP_SUCCESS);
    }
    void TearDown() override
    {
        if (binding)
            DMLP_Unbind(binding);
        if (instance)
            DMLLIB_Terminate(instance);
        simulator.stop();
        palSetTimeScale(1.0);
    }
    void addFault(const std::string& text)
    {
        devsim::FaultRule rule;
        ASSERT_EQ(devsim::parseFaultRule(text, rule), "");
        device.faults.push_back(rule);
    }
    // A control command; false when the simulator refused it.
    bool tell(const std::vector<std::string>& words)
    {
        std::string reply = simulator.command(words);
        return reply.find("error") == std::string::npos;
    }
    uint32_t arrive(uint32_t number) { return simulator.jobArrived(address, wireId(jobId(number)), nullptr); }
    // Request log lines that contain text.
    std::vector<std::string> requests(const std::string& text)
    {
        std::vector<std::string> found;
        for (const std::string& line : simulator.requestLog())
            if (line.find(text) != std::string::npos)
                found.push_back(line);
        return found;
    }

    testsupport::TempRoot root;
    std::string address = deviceAddress();
    devsim::DeviceSettings device;
    devsim::Simulator simulator{devsim::SimulatorSettings{}, [](const std::string&) {}};
    DmlpInstance instance = 0;
    DmlpBinding binding = nullptr;
    const WCHAR* port = W("JT_ENGINE");
};

TEST_F(EngineFlows, StatusOfTheThirdOfThreeJobs)
{
    start();
    arrive(1);
    arrive(2);
    uint32_t third = arrive(3);
    ASSERT_TRUE(tell({"job", std::to_string(third), "codes", "0x0A000001"}));
    ASSERT_TRUE(tell({"device", address, "hint", "0x09000002", "online", "1"}));
    ClJobID wanted = jobId(3);
    StatusInfo info = {};
    EXPECT_EQ(DMLLIB_GetStatusInfo(instance, port, &wanted, &info, binding, 1), 0x00060001u);
    EXPECT_EQ(info.lStatusCode, 0x0A000001u);
    EXPECT_EQ(info.byOnline, 1);
    EXPECT_EQ(requests("Get2 ").size(), 5u) << "three jobs, the support check, the device state";
    EXPECT_EQ(requests("attrs=280,283,277").size(), 3u);
    EXPECT_EQ(requests("class=490 handles=601 attrs=111").size(), 1u);
    EXPECT_EQ(requests("class=512 handles=601 attrs=282").size(), 1u);
}

TEST_F(EngineFlows, ADeviceWithout282IsNotAsked)
{
    device.reportsDeviceState = false;
    start();
    ClJobID wanted = jobId(1);
    StatusInfo info = {0x77, 0x77777777, 0};
    EXPECT_EQ(DMLLIB_GetStatusInfo(instance, port, &wanted, &info, binding, 0), 0x00060001u);
    EXPECT_EQ(info.lStatusCode, 0x77777777u);
    EXPECT_TRUE(requests("attrs=282").empty());
}

TEST_F(EngineFlows, ATimedOutGet2LeavesTheStatusAlone)
{
    addFault("Get2:drop");
    start();
    arrive(1);
    ClJobID wanted = jobId(1);
    StatusInfo info = {0x77, 0x77777777, 0x77777777};
    EXPECT_EQ(DMLLIB_GetStatusInfo(instance, port, &wanted, &info, binding, 1), 0x000A0014u);
    EXPECT_EQ(info.lStatusCode, 0x77777777u);
    EXPECT_EQ(info.ImprCompCnt, 0x77777777u);
}

TEST_F(EngineFlows, TraceFromLiveToCancelledThroughTheLog)
{
    start();
    uint32_t handle = arrive(1);
    ClJobID wanted = jobId(1);
    BYTE trace = 0;
    DWORD impressions = 0x77;
    EXPECT_EQ(DMLLIB_TraceJob(instance, port, &wanted, &trace, binding, &impressions, 1), 0x00060001u);
    EXPECT_EQ(trace, DMLLIB_TRACE_PROCESSING);
    EXPECT_EQ(impressions, 0x77u) << "no log request";

    EXPECT_EQ(DMLLIB_CancelJob(instance, port, &wanted, binding), 0x00090001u);
    EXPECT_EQ(requests("CancelJob id=").size(), 1u);
    EXPECT_NE(requests("CancelJob").front().find("handles=" + std::to_string(handle)), std::string::npos);
    ASSERT_TRUE(simulator.waitForJobs([](const auto& jobs) { return jobs.empty(); }, 10s));
    EXPECT_EQ(DMLLIB_TraceJob(instance, port, &wanted, &trace, binding, &impressions, 1), 0x00060001u);
    EXPECT_EQ(trace, DMLLIB_TRACE_CANCELLED) << "the job log says 6";
    EXPECT_EQ(requests("TraceJob").size(), 1u);
    EXPECT_NE(requests("TraceJob").front().find("attrs=6004,277"), std::string::npos);
}

TEST_F(EngineFlows, AJobCompletedOnTheDevice)
{
    start();
    uint32_t handle = arrive(1);
    ASSERT_TRUE(tell({"job", std::to_string(handle), "state", "9"}));
    ClJobID wanted = jobId(1);
    BYTE trace = 0;
    DWORD impressions = 0;
    EXPECT_EQ(DMLLIB_TraceJob(instance, port, &wanted, &trace, binding, &impressions, 0), 0x00060001u);
    EXPECT_EQ(trace, DMLLIB_TRACE_COMPLETED);
}

TEST_F(EngineFlows, CancelOfAJobTheDeviceDoesNotHave)
{
    start();
    ClJobID wanted = jobId(4);
    EXPECT_EQ(DMLLIB_CancelJob(instance, port, &wanted, binding), 0x00060008u);
    EXPECT_TRUE(requests("Get2").empty());
}

TEST_F(EngineFlows, ListTimeOutEndsTheCancel)
{
    addFault("ListObjects2:drop");
    start();
    ClJobID wanted = jobId(1);
    EXPECT_EQ(DMLLIB_CancelJob(instance, port, &wanted, binding), 0x000B0014u);
}

// The service traces on its job-control thread and reads the status on its device-watch thread,
// both on one binding.
TEST_F(EngineFlows, TwoThreadsOnOneBinding)
{
    start();
    arrive(1);
    arrive(2);
    const int rounds = 40;
    std::atomic<int> good{0};
    auto tracer = [&] {
        ClJobID wanted = jobId(2);
        for (int i = 0; i < rounds; ++i) {
            BYTE trace = 0;
            DWORD impressions = 0;
            if (DMLLIB_TraceJob(instance, port, &wanted, &trace, binding, &impressions, 1) == 0x00060001u &&
                trace == DMLLIB_TRACE_PROCESSING)
                ++good;
        }
    };
    auto reader = [&] {
        ClJobID wanted = jobId(1);
        for (int i = 0; i < rounds; ++i) {
            StatusInfo info = {};
            if (DMLLIB_GetStatusInfo(instance, port, &wanted, &info, binding, 1) == 0x00060001u)
                ++good;
        }
    };
    std::thread first(tracer), second(reader);
    first.join();
    second.join();
    EXPECT_EQ(good.load(), 2 * rounds);
}

TEST_F(EngineFlows, ClientJobIdOfAnObject)
{
    start();
    uint32_t handle = arrive(6);
    ClJobID got = {};
    EXPECT_EQ(DMLLIB_GetClientJobID(instance, port, handle, &got, binding), 0x00060001u);
    ClJobID wanted = jobId(6);
    EXPECT_EQ(memcmp(&got, &wanted, sizeof got), 0);
}

TEST_F(EngineFlows, EventsReachTheCallbackWithItsContext)
{
    start();
    EventSink sink;
    sink.instance = instance;
    sink.port = port;
    DmlpCallback callback = {};
    callback.kind = DMLP_CALLBACK_KIND;
    callback.function.event = onEvent;
    callback.context = &sink;
    DmlpBinding held = binding;
    EXPECT_EQ(DMLLIB_SubscribeEvent(instance, port, 0, &callback, &held, nullptr, 1), 0x000D0001u)
        << "the device offers SetListElement: the second version";
    EXPECT_EQ(held, binding) << "the held binding is adopted";
    uint32_t handle = arrive(1);
    ASSERT_TRUE(tell({"job", std::to_string(handle), "impressions", "3"}));
    ASSERT_TRUE(tell({"job", std::to_string(handle), "state", "9"}));
    EXPECT_TRUE(sink.waitFor(154, 10s));
    EXPECT_TRUE(sink.waitFor(18, 10s));
    {
        std::lock_guard<std::mutex> hold(sink.lock);
        for (void* context : sink.contexts)
            EXPECT_EQ(context, &sink);
        EXPECT_EQ(sink.lastRelease, 0x00050001u);
    }
    EXPECT_EQ(DMLLIB_SubscribeEvent(instance, port, 1, &callback, &held, nullptr, 1), 0x00040001u);
    binding = nullptr;  // unbound by mode 1
    EXPECT_EQ(requests("SetListElement").size(), 2u);
}

TEST_F(EngineFlows, ADeviceWithout106GetsTheFirstVersion)
{
    device.setsListElements = false;
    start();
    EventSink sink;
    DmlpCallback callback = {};
    callback.kind = DMLP_CALLBACK_KIND;
    callback.function.event = onEvent;
    callback.context = &sink;
    DmlpBinding held = binding;
    EXPECT_EQ(DMLLIB_SubscribeEvent(instance, port, 0, &callback, &held, nullptr, 0), 0x000C0001u);
    EXPECT_EQ(requests("AppendToList").size(), 1u);
    EXPECT_NE(requests("AppendToList").front().find("ids=154"), std::string::npos);
}

} // namespace

namespace {

// A UDP port of the address that no one holds right now (taken and given back).
uint16_t freeUdpPort(const std::string& address, int* keep = nullptr)
{
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in local = {};
    local.sin_family = AF_INET;
    inet_pton(AF_INET, address.c_str(), &local.sin_addr);
    bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local);
    socklen_t size = sizeof local;
    getsockname(fd, reinterpret_cast<sockaddr*>(&local), &size);
    if (keep)
        *keep = fd;
    else
        close(fd);
    return ntohs(local.sin_port);
}

// Rebinding through the spooler host and the port monitor, against the simulated device.
class EngineRebind : public EngineFlows {
protected:
    void SetUp() override
    {
        EngineFlows::SetUp();
        ASSERT_TRUE(started = host.start());
        ASSERT_TRUE(road::addMonitor());
        std::u16string wide(address.begin(), address.end());
        ASSERT_EQ(road::addPort(road::rawPort(u"JT_ENGINE", wide, 9100)), 0u);
        ASSERT_TRUE(road::writeRootFile("config/icmp", address + " reply\n"));
        ASSERT_TRUE(road::writeRootFile("config/routes", address + "/32 direct 127.0.0.9\n"));
        start();
    }
    void TearDown() override
    {
        EngineFlows::TearDown();
        if (started) {
            EXPECT_EQ(host.stop(), 0);
        }
    }
    spoolertest::SpoolerHost host;
    bool started = false;
};

TEST_F(EngineRebind, TheDeviceSeesTheNewLocalAddressAndPort)
{
    uint16_t localPort = freeUdpPort("127.0.0.9");
    ASSERT_EQ(DMLLIB_ResetBind(instance, port, &binding, localPort), 1u);
    ASSERT_NE(binding, nullptr);
    ClJobID wanted = jobId(1);
    StatusInfo info = {};
    EXPECT_EQ(DMLLIB_GetStatusInfo(instance, port, &wanted, &info, binding, 0), 0x00060001u);
    auto lists = requests("ListObjects2");
    ASSERT_FALSE(lists.empty());
    EXPECT_NE(lists.back().find(" 127.0.0.9:" + std::to_string(localPort) + " "), std::string::npos) << lists.back();
}

TEST_F(EngineRebind, TheIniSettingsReachTheBinding)
{
    palSetModuleFileName(W("C:\\Vexil\\JTRKSVC2.exe"));
    ASSERT_TRUE(road::writeRootFile("drive_c/Vexil/JTRKSVC2.ini", "[JTRKCLIB]\nTimeout=1200\nRetry=4\n"));
    DmlpBinding bound = nullptr;
    DMLLIB_SubscribeEvent(instance, port, 0, nullptr, &bound, nullptr, 0);
    palSetModuleFileName(nullptr);
    ASSERT_NE(bound, nullptr);
    DmlpEPProperty property = {};
    EXPECT_EQ(DMLP_GetEPProperty(bound, &property), DMLP_SUCCESS);
    EXPECT_EQ(property.timeout, 1200u);
    EXPECT_EQ(property.transmissions, 4);
    EXPECT_EQ(DMLP_Unbind(bound), DMLP_SUCCESS);
}

TEST_F(EngineRebind, ATakenLocalPortLeavesNoBinding)
{
    int holder = -1;
    uint16_t localPort = freeUdpPort("127.0.0.9", &holder);
    DWORD status = DMLLIB_ResetBind(instance, port, &binding, localPort);
    close(holder);
    EXPECT_NE(status, 0u);
    EXPECT_NE(status, 1u);
    EXPECT_EQ(binding, nullptr) << "the old binding was dropped, the new bind failed";
}

TEST_F(EngineRebind, ASilentDeviceKeepsItsBinding)
{
    ASSERT_TRUE(road::writeRootFile("config/icmp", address + " silent\n"));
    DmlpBinding before = binding;
    EXPECT_EQ(DMLLIB_ResetBind(instance, port, &binding, 0), 0u);
    EXPECT_EQ(binding, before);
    EXPECT_TRUE(simulator.requestLog().empty());
}

} // namespace
