// A printed job across processes with the tracking service: pal-print submits it to the spooler
// host, the port monitor JTRKMON2 sends it to the simulated device and reports it on the pipe of
// JTRKSVC2, which runs under the service control and takes the job into its job table; on a device
// that speaks DMLP (the devsim program) the service follows the job to its end.
#include <map>
#include <optional>
#include <set>
#include <sstream>

#include <gtest/gtest.h>

#include "RawSink.h"
#include "ServiceRoad.h"
#include "jtrkjobevent.h"

using namespace serviceroad;

namespace {

const std::string kDevice = "127.0.0.7";
const jobmsg::ClientJobId kId = jobmsg::ClientJobId::make(0x11223344, 5, 6, "87654321", "JOBINFO1 followed by the service");

// The service's entries, but for the refused device subscription: the RAW sink speaks no DMLP.
BOOL collectIds(const PAL_EVENTLOG_ENTRY* entry, void* context)
{
    const DWORD subscriptionFailed = 0x80000003;
    if (std::u16string(entry->source) == u"OutputBeaconService2" && entry->eventId != subscriptionFailed)
        static_cast<std::vector<DWORD>*>(context)->push_back(entry->eventId);
    return TRUE;
}

// A job with the typical header and 4 KiB of data.
std::vector<BYTE> typicalJob()
{
    std::vector<BYTE> job = jobmsg::typicalHeader(kId, 2);
    job.resize(job.size() + 4096, 'x');
    return job;
}

// The printer Office on a RAW sink, which speaks no DMLP, and the service running.
class SinkRoad : public ServiceRoad {
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(ServiceRoad::SetUp());
        std::string error;
        ASSERT_TRUE(sink.start(error)) << error;
        ASSERT_EQ(road::addPort(road::rawPort(u"JT_127.0.0.7", wide(kDevice), sink.port())), 0u);
        ASSERT_EQ(road::addPrinter(u"Office", u"JT_127.0.0.7"), 0u);
        ASSERT_TRUE(startService());
    }
    static devsim::RawSinkOptions atTheDevice()
    {
        devsim::RawSinkOptions options;
        options.address = kDevice;
        options.port = 0;
        return options;
    }

    devsim::RawSink sink{atTheDevice()};
};

TEST_F(SinkRoad, APrintedJobIsReportedAndTrackedAndTheStopIsClean)
{

    DWORD id = print(typicalJob());
    ASSERT_NE(id, 0u);
    ASSERT_TRUE(sink.waitUntil([](const std::vector<devsim::RawJob>& jobs) {
        return !jobs.empty() && jobs[0].end != devsim::JobEnd::Open;
    }, std::chrono::seconds(60)));
    // The service took the report into its job table and woke the printer's watch thread.
    std::string trace = root.file("drive_c/trace/jtrksvc2.log");
    std::string added = "System Job ID:[" + std::to_string(id) + "]";
    EXPECT_TRUE(spoolertest::eventually([&] { return fileText(trace).find(added) != std::string::npos; },
                                        std::chrono::seconds(30)));
    EXPECT_TRUE(spoolertest::eventually(
        [&] { return fileText(trace).find("Status Changed: SDKSTATE_PRINTING.") != std::string::npos; },
        std::chrono::seconds(30)));

    auto started = standin::journalLines(root.file("drive_c/Harbor/journal.log"), "PrStatusNoticeStartExD");
    ASSERT_EQ(started.size(), 1u);
    EXPECT_EQ(standin::jsonValue(started[0], "job"), std::to_string(id));

    SERVICE_STATUS status{};
    ASSERT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status));
    ASSERT_TRUE(reaches(SERVICE_STOPPED));
    std::vector<DWORD> ids;
    palReadEventLog(collectIds, &ids);
    EXPECT_TRUE(ids.empty()) << ids.size() << " entries, the first " << std::hex << (ids.empty() ? 0 : ids[0]);
}

// Any local user may open the service's pipe: one who connects and writes nothing is let go after
// the pipe's time-out, and the jobs reported afterwards are tracked. (A report that comes while the
// silent client holds the pipe waits for it as long as the silent client may hold it: whether it
// gets the pipe is a race, so none is printed then.)
TEST_F(SinkRoad, ASilentPipeClientDoesNotStopTheTracking)
{

    HANDLE silent = CreateFileW(JTRK_SERVICE_PIPE_NAME, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                                nullptr);
    ASSERT_NE(silent, INVALID_HANDLE_VALUE) << GetLastError();
    EXPECT_TRUE(spoolertest::eventually(
        [&] { return fileText(trace()).find("No request within the time-out") != std::string::npos; },
        std::chrono::seconds(30)));
    std::vector<DWORD> jobs;
    for (int i = 0; i < 2; ++i) {
        jobs.push_back(print(typicalJob()));
        ASSERT_NE(jobs.back(), 0u);
        auto started = [&] {
            for (const std::string& line : standin::journalLines(journal(), "PrStatusNoticeStartExD"))
                if (standin::jsonValue(line, "job") == std::to_string(jobs.back()))
                    return true;
            return false;
        };
        EXPECT_TRUE(spoolertest::eventually(started, std::chrono::seconds(30))) << fileText(trace()).substr(0, 6000);
    }
    CloseHandle(silent);
    ASSERT_TRUE(stopService());
    EXPECT_EQ(failedReports(), 0u) << "a report failed at the monitor";
}

TEST_F(ServiceRoad, AJobOnADmlpDeviceIsTrackedToItsEndAndLeavesTheSpooler)
{
    std::optional<testsupport::ChildProcess> devsim;
    const uint16_t rawPort = startDmlpDevice(devsim, {"--root", root.path(), "--device", kDmlpDevice, "--raw",
                                                      kDmlpDevice + ":0", "--print-time", "300", "--keep-done", "2000"});
    ASSERT_NE(rawPort, 0) << "devsim did not start";
    // Without the message manager the printer's device is not watched.
    testsupport::ChildProcess messageManager = standin::startMessageManager();
    ASSERT_EQ(road::addPort(road::rawPort(u"JT_127.0.3.17", wide(kDmlpDevice), rawPort)), 0u);
    ASSERT_EQ(road::addPrinter(u"Office", u"JT_127.0.3.17"), 0u);
    ASSERT_TRUE(startService());

    const DWORD id = print(typicalJob());
    ASSERT_NE(id, 0u);

    const std::string journal = this->journal();
    auto ended = [&] { return standin::journalLines(journal, "PrStatusNoticeEndD"); };
    ASSERT_TRUE(spoolertest::eventually([&] { return !ended().empty(); }, std::chrono::seconds(30)))
        << fileText(journal) << fileText(root.file("drive_c/trace/jtrksvc2.log")).substr(0, 6000);
    EXPECT_EQ(standin::jsonValue(ended()[0], "job"), std::to_string(id));
    auto started = standin::journalLines(journal, "PrStatusNoticeStartExD");
    ASSERT_EQ(started.size(), 1u);
    EXPECT_EQ(standin::jsonValue(started[0], "job"), std::to_string(id));
    // The device's one impression came with the job's end: the completion carries it as the page
    // count, though the job's end is handled before the count's own message.
    auto statuses = standin::journalLines(journal, "PrStatusSendExD");
    ASSERT_FALSE(statuses.empty());
    EXPECT_EQ(standin::jsonValue(statuses.back(), "status"), "268435456");
    EXPECT_EQ(standin::jsonValue(statuses.back(), "ext"), "[1,0]");
    // The service ended the job in the spooler: it left the host as sent.
    EXPECT_TRUE(spoolertest::eventually(
        [&] {
            return spoolertest::runProgram({"pal-spool", "history"}).output.find(std::to_string(id) + " sent") !=
                   std::string::npos;
        },
        std::chrono::seconds(20)));

    SERVICE_STATUS status{};
    ASSERT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status));
    ASSERT_TRUE(reaches(SERVICE_STOPPED));
}

// A burst: 40 jobs at once to each of four printers whose devices' job events are lost and which
// keep a done job listed for 100 ms only, so that the service learns of every end from its polls,
// by a trace that finds the job in the device's job log. Every job ends once, with its device's
// status (completed: the print manager's last status 0x10000000, the spooler job sent), and none
// is left behind: a job the log holds is answered without the client library's pause, which the
// one job-control thread would otherwise pay for every job of every printer.
TEST_F(ServiceRoad, ABurstOnFourPrintersEndsEveryJobOnceWithItsDevicesStatus)
{
    const std::vector<std::string> devices = {"127.0.3.90", "127.0.3.91", "127.0.3.92", "127.0.3.93"};
    const int jobsEach = 40;
    std::string icmp;
    std::vector<std::string> args = {"--root", root.path()};
    for (const std::string& device : devices) {
        icmp += device + " reply\n";
        args.insert(args.end(), {"--device", device, "--raw", device + ":0", "--print-time", "100", "--keep-done", "100",
                                 "--dmlp-fault", "event:drop"});
    }
    ASSERT_TRUE(road::writeRootFile("config/icmp", icmp));
    std::optional<testsupport::ChildProcess> devsim;
    std::map<std::string, uint16_t> rawPorts = {{devices[0], startDmlpDevice(devsim, args, devices[0])}};
    ASSERT_NE(rawPorts[devices[0]], 0) << "devsim did not start";
    while (rawPorts.size() < devices.size()) {
        std::string line = devsim->readLine();
        ASSERT_FALSE(line.empty()) << "devsim did not start every device";
        for (const std::string& device : devices)
            if (line.find("RAW on " + device + ":") != std::string::npos)
                rawPorts[device] = uint16_t(std::strtoul(line.c_str() + line.rfind(':') + 1, nullptr, 10));
    }
    testsupport::ChildProcess messageManager = standin::startMessageManager();
    std::vector<std::u16string> printers;
    for (const std::string& device : devices) {
        printers.push_back(u"Burst " + wide(device));
        ASSERT_EQ(road::addPort(road::rawPort(wide("JT_" + device), wide(device), rawPorts[device])), 0u);
        ASSERT_EQ(road::addPrinter(printers.back(), wide("JT_" + device)), 0u);
    }
    // A poll every 3 s; the service's times a quarter: a poll every 750 ms, and the client library's
    // pause of 1.5 s takes 375 ms.
    ASSERT_TRUE(road::writeRootFile("drive_c/Program Files/JTRKSVC2.ini", "[Device]\nPollingTime=3\n"));
    setenv("PAL_TIME_SCALE", "0.25", 1);
    ASSERT_TRUE(startService());

    std::set<DWORD> submitted;
    for (int round = 0; round < jobsEach; round++) {
        for (size_t printer = 0; printer < printers.size(); printer++) {
            auto id = jobmsg::ClientJobId::make(0x66000000 + uint32_t(submitted.size()), 1, 2, "BURSTJOB", "burst");
            std::vector<BYTE> data = jobmsg::typicalHeader(id, 1);
            data.resize(data.size() + 1024, 'x');
            DWORD job = road::submit(printers[printer], data, u"burst.prn");
            ASSERT_NE(job, 0u);
            submitted.insert(job);
        }
    }
    // How often each job left the spooler as sent.
    auto sentCounts = [] {
        std::map<DWORD, int> sent;
        std::istringstream lines(spoolertest::runProgram({"pal-spool", "history"}).output);
        DWORD id = 0;
        std::string how, when;
        while (lines >> id >> how >> when)
            sent[id] += how == "sent";
        return sent;
    };
    std::map<DWORD, int> sent;
    spoolertest::eventually([&] { return (sent = sentCounts()).size() >= submitted.size(); }, std::chrono::seconds(20));
    size_t unended = 0;
    for (DWORD job : submitted)
        unended += sent[job] == 0;
    EXPECT_EQ(unended, 0u) << "of " << submitted.size() << " jobs";

    std::map<DWORD, int> endNotices;
    std::map<DWORD, std::string> lastStatus;
    for (const std::string& line : standin::journalLines(journal())) {
        DWORD job = DWORD(std::strtoul(standin::jsonValue(line, "job").c_str(), nullptr, 10));
        std::string entry = standin::jsonText(line, "entry");
        if (entry == "PrStatusNoticeEndD")
            endNotices[job]++;
        else if (entry == "PrStatusSendExD")
            lastStatus[job] = standin::jsonValue(line, "status");
    }
    for (DWORD job : submitted) {
        EXPECT_LE(sent[job], 1) << "job " << job;
        EXPECT_EQ(endNotices[job], 1) << "job " << job;
        EXPECT_EQ(lastStatus[job], "268435456") << "job " << job;
    }
}

} // namespace
