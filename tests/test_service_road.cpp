// A printed job across processes with the tracking service: pal-print submits it to the spooler
// host, the port monitor JTRKMON2 sends it to the simulated device and reports it on the pipe of
// JTRKSVC2, which runs under the service control and takes the job into its job table; on a device
// that speaks DMLP (the devsim program) the service follows the job to its end.
#include <cstdlib>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "ChildProcess.h"
#include "JobMessages.h"
#include "RawSink.h"
#include "Road.h"
#include "StandinTesting.h"
#include "TempRoot.h"
#include "test_spooler_host.h"

namespace {

const std::string kDevice = "127.0.0.7";
const std::string kDmlpDevice = "127.0.3.17"; // DMLP on the fixed port 47545: an address of its own
const jobmsg::ClientJobId kId = jobmsg::ClientJobId::make(0x11223344, 5, 6, "87654321", "JOBINFO1 followed by the service");

std::u16string wide(const std::string& text)
{
    return std::u16string(text.begin(), text.end());
}

std::string fileText(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The service's entries, but for the refused device subscription: the RAW sink speaks no DMLP.
BOOL collectIds(const PAL_EVENTLOG_ENTRY* entry, void* context)
{
    const DWORD subscriptionFailed = 0x80000003;
    if (std::u16string(entry->source) == u"OutputBeaconService2" && entry->eventId != subscriptionFailed)
        static_cast<std::vector<DWORD>*>(context)->push_back(entry->eventId);
    return TRUE;
}

class ServiceRoad : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("PAL_TIME_SCALE", "0.05", 1);
        ASSERT_TRUE(road::writeRootFile("config/icmp", kDevice + " reply\n" + kDmlpDevice + " reply\n"));
        ASSERT_TRUE(road::writeRootFile("drive_c/trace/jtrksvc2.log", ""));
        ASSERT_TRUE(road::writeRootFile("drive_c/Program Files/JTRKSVC2.ini",
                                        "[LogOutput]\nLevel=3\nOut=1\nLogFile=C:\\trace\\jtrksvc2.log\n"));
        // The service tracks only jobs that the print manager took.
        standin::installPrintManager("[PrintManager]\nLevel=2\n");
        ASSERT_TRUE(host.start());
        ASSERT_TRUE(road::addMonitor());
        manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        std::u16string image = wide(testsupport::besideSelf("JTRKSVC2"));
        service = CreateServiceW(manager, W("JTRKSVC2"), nullptr, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                 SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, image.c_str(), nullptr, nullptr, nullptr,
                                 nullptr, nullptr);
        ASSERT_NE(service, nullptr);
    }
    void TearDown() override
    {
        // A failed check may have left the service running: it must not outlive the test.
        SERVICE_STATUS status{};
        if (service && QueryServiceStatus(service, &status) && status.dwCurrentState != SERVICE_STOPPED) {
            ControlService(service, SERVICE_CONTROL_STOP, &status);
            EXPECT_TRUE(reaches(SERVICE_STOPPED));
        }
        DeleteService(service);
        CloseServiceHandle(service);
        CloseServiceHandle(manager);
        EXPECT_EQ(host.stop(), 0);
        unsetenv("PAL_TIME_SCALE");
    }

    bool reaches(DWORD state)
    {
        SERVICE_STATUS status{};
        return spoolertest::eventually(
            [&] { return QueryServiceStatus(service, &status) && status.dwCurrentState == state; },
            std::chrono::seconds(30));
    }
    DWORD print(const std::vector<BYTE>& job)
    {
        std::string file = root.file("report.prn");
        std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(job.data()), std::streamsize(job.size()));
        spoolertest::ProgramResult result = spoolertest::runProgram({"pal-print", "Office", file, "--user", "carol"});
        EXPECT_EQ(result.exitCode, 0) << result.output;
        return DWORD(std::strtoul(result.output.c_str(), nullptr, 10));
    }

    testsupport::TempRoot root;
    spoolertest::SpoolerHost host;
    SC_HANDLE manager = nullptr;
    SC_HANDLE service = nullptr;
};

TEST_F(ServiceRoad, APrintedJobIsReportedAndTrackedAndTheStopIsClean)
{
    devsim::RawSinkOptions options;
    options.address = kDevice;
    options.port = 0;
    devsim::RawSink sink(options);
    std::string error;
    ASSERT_TRUE(sink.start(error)) << error;
    ASSERT_EQ(road::addPort(road::rawPort(u"JT_127.0.0.7", wide(kDevice), sink.port())), 0u);
    ASSERT_EQ(road::addPrinter(u"Office", u"JT_127.0.0.7"), 0u);
    ASSERT_TRUE(StartServiceW(service, 0, nullptr));
    ASSERT_TRUE(reaches(SERVICE_RUNNING));

    std::vector<BYTE> job = jobmsg::typicalHeader(kId, 2);
    job.resize(job.size() + 4096, 'x');
    DWORD id = print(job);
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

// The port number after "RAW on ADDRESS:" in devsim's ready lines, 0 if it never came.
uint16_t rawPortOf(testsupport::ChildProcess& devsim)
{
    for (std::string line = devsim.readLine(); !line.empty(); line = devsim.readLine()) {
        const size_t at = line.find("RAW on " + kDmlpDevice + ":");
        if (at != std::string::npos)
            return uint16_t(std::strtoul(line.c_str() + at + 8 + kDmlpDevice.size(), nullptr, 10));
    }
    return 0;
}

TEST_F(ServiceRoad, AJobOnADmlpDeviceIsTrackedToItsEndAndLeavesTheSpooler)
{
    testsupport::ChildProcess devsim(testsupport::besideSelf("devsim"),
                                     {"--root", root.path(), "--device", kDmlpDevice, "--raw", kDmlpDevice + ":0",
                                      "--print-time", "300", "--keep-done", "2000"});
    const uint16_t rawPort = rawPortOf(devsim);
    ASSERT_NE(rawPort, 0) << "devsim did not start";
    // Without the message manager the printer's device is not watched.
    testsupport::ChildProcess messageManager = standin::startMessageManager();
    ASSERT_EQ(road::addPort(road::rawPort(u"JT_127.0.3.17", wide(kDmlpDevice), rawPort)), 0u);
    ASSERT_EQ(road::addPrinter(u"Office", u"JT_127.0.3.17"), 0u);
    ASSERT_TRUE(StartServiceW(service, 0, nullptr));
    ASSERT_TRUE(reaches(SERVICE_RUNNING));

    std::vector<BYTE> job = jobmsg::typicalHeader(kId, 2);
    job.resize(job.size() + 4096, 'x');
    const DWORD id = print(job);
    ASSERT_NE(id, 0u);

    const std::string journal = root.file("drive_c/Harbor/journal.log");
    auto ended = [&] { return standin::journalLines(journal, "PrStatusNoticeEndD"); };
    ASSERT_TRUE(spoolertest::eventually([&] { return !ended().empty(); }, std::chrono::seconds(30)))
        << fileText(journal) << fileText(root.file("drive_c/trace/jtrksvc2.log")).substr(0, 6000);
    EXPECT_EQ(standin::jsonValue(ended()[0], "job"), std::to_string(id));
    auto started = standin::journalLines(journal, "PrStatusNoticeStartExD");
    ASSERT_EQ(started.size(), 1u);
    EXPECT_EQ(standin::jsonValue(started[0], "job"), std::to_string(id));
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
