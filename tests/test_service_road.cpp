// A printed job across processes with the tracking service: pal-print submits it to the spooler
// host, the port monitor JTRKMON2 sends it to the simulated device and reports it on the pipe of
// JTRKSVC2, which runs under the service control and takes the job into its job table; on a device
// that speaks DMLP (the devsim program) the service follows the job to its end.
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

// The monitor's entries for a report it could not hand to the service.
BOOL countFailedReports(const PAL_EVENTLOG_ENTRY* entry, void* context)
{
    const DWORD reportFailed = 0xC0000012;
    if (entry->eventId == reportFailed)
        ++*static_cast<DWORD*>(context);
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
// the pipe's time-out, and the jobs reported meanwhile and afterwards are tracked.
TEST_F(SinkRoad, ASilentPipeClientDoesNotStopTheTracking)
{

    HANDLE silent = CreateFileW(JTRK_SERVICE_PIPE_NAME, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                                nullptr);
    ASSERT_NE(silent, INVALID_HANDLE_VALUE) << GetLastError();
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
    EXPECT_NE(fileText(trace()).find("No request within the time-out"), std::string::npos);
    ASSERT_TRUE(stopService());
    DWORD failedReports = 0;
    palReadEventLog(countFailedReports, &failedReports);
    EXPECT_EQ(failedReports, 0u) << "a report failed at the monitor";
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

} // namespace
