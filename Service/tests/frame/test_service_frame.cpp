// JTRKSVC2 under the service control: start-up, the status it reports, stop, and the start-up
// failures with their event-log entries.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include <windows.h>

#include "ChildProcess.h"
#include "Road.h"
#include "ServiceTesting.h"
#include "TempRoot.h"
#include "jtrkjobevent.h"
#include "test_spooler_host.h"
#include "TestServices.h"

using namespace svctest;

namespace {

constexpr auto kLimit = std::chrono::seconds(30);

class ServiceFrame : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("PAL_TIME_SCALE", "0.05", 1); // the 5-second pause before STOPPED
        manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        ASSERT_NE(manager, nullptr);
        service = testsupport::createServiceBesideSelf(manager, "JTRKSVC2");
        ASSERT_NE(service, nullptr);
    }
    void TearDown() override
    {
        SERVICE_STATUS status{};
        if (QueryServiceStatus(service, &status) && status.dwCurrentState != SERVICE_STOPPED) {
            ControlService(service, SERVICE_CONTROL_STOP, &status);
            reaches(SERVICE_STOPPED);
        }
        DeleteService(service);
        CloseServiceHandle(service);
        CloseServiceHandle(manager);
        unsetenv("PAL_TIME_SCALE");
    }

    bool reaches(DWORD state, SERVICE_STATUS* last = nullptr)
    {
        SERVICE_STATUS status{};
        bool reached = waitFor(
            [&] { return QueryServiceStatus(service, &status) && status.dwCurrentState == state; }, kLimit);
        if (last)
            *last = status;
        return reached;
    }
    bool startAndRun()
    {
        return StartServiceW(service, 0, nullptr) && reaches(SERVICE_RUNNING);
    }
    bool stop(SERVICE_STATUS* last = nullptr)
    {
        SERVICE_STATUS status{};
        return ControlService(service, SERVICE_CONTROL_STOP, &status) && reaches(SERVICE_STOPPED, last);
    }
    std::vector<DWORD> eventIds()
    {
        std::vector<DWORD> ids;
        for (const Event& event : serviceEvents())
            ids.push_back(event.id);
        return ids;
    }

    testsupport::TempRoot root;
    SC_HANDLE manager = nullptr;
    SC_HANDLE service = nullptr;
};

TEST_F(ServiceFrame, FromAConsoleTheProgramWritesOneErrorAndEnds)
{
    testsupport::ChildResult run = testsupport::runProgram(testsupport::besideSelf("JTRKSVC2"), {});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(eventIds(), (std::vector<DWORD>{0xC0000001u}));
    testsupport::ChildResult help = testsupport::runProgram(testsupport::besideSelf("JTRKSVC2"), {"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("pal-sc start JTRKSVC2"), std::string::npos);
    EXPECT_EQ(testsupport::runProgram(testsupport::besideSelf("JTRKSVC2"), {"--bogus"}).status, 0);
    EXPECT_EQ(eventIds(), (std::vector<DWORD>{0xC0000001u, 0xC0000001u})) << "an unknown word is ignored";
}

// A binPath may carry words of its own: the service starts with them all the same.
TEST_F(ServiceFrame, ABinPathWithAnExtraWordStartsTheService)
{
    spoolertest::SpoolerHost host;
    ASSERT_TRUE(host.start());
    const std::string program = testsupport::besideSelf("JTRKSVC2");
    const std::u16string image = u"\"" + std::u16string(program.begin(), program.end()) + u"\" -k extra";
    ASSERT_TRUE(DeleteService(service));
    CloseServiceHandle(service);
    service = CreateServiceW(manager, W("JTRKSVC2"), nullptr, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                             SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, image.c_str(), nullptr, nullptr, nullptr,
                             nullptr, nullptr);
    ASSERT_NE(service, nullptr);
    EXPECT_TRUE(startAndRun());
    EXPECT_TRUE(stop());
    EXPECT_EQ(host.stop(), 0);
}

TEST_F(ServiceFrame, RunsAnswersReportsAndStopsCleanly)
{
    spoolertest::SpoolerHost host;
    spoolertest::registerTestMonitor(u"TestMon", {u"TP1"});
    ASSERT_TRUE(host.start());
    ASSERT_EQ(road::addPrinter(u"Office", u"TP1"), 0u);
    ASSERT_TRUE(startAndRun());
    SERVICE_STATUS status{};
    ASSERT_TRUE(QueryServiceStatus(service, &status));
    EXPECT_EQ(status.dwControlsAccepted, DWORD(SERVICE_ACCEPT_STOP));

    // The pipe answers a report with an empty message.
    JobEventRequest request{};
    request.dwSize = sizeof request;
    request.dwMessageID = 0;
    BYTE reply[8];
    DWORD read = 99;
    ASSERT_TRUE(CallNamedPipeW(JTRK_SERVICE_PIPE_NAME, &request, sizeof request, reply, sizeof reply, &read,
                               NMPWAIT_USE_DEFAULT_WAIT));
    EXPECT_EQ(read, 0u);

    ASSERT_TRUE(stop(&status));
    EXPECT_EQ(status.dwWin32ExitCode, 0u);
    for (DWORD id : eventIds())
        EXPECT_EQ(id, 0xC0000013u) << "only a client library without runtime may be reported";
    EXPECT_EQ(host.stop(), 0);
}

// Without the client library the service runs all the same: it takes reports and tracks nothing
// at the device.
TEST_F(ServiceFrame, AClientLibraryThatDoesNotStartIsLoggedAndTheServiceRuns)
{
    ASSERT_TRUE(road::writeRootFile("config/vxsrvc-startup", "fail\n"));
    spoolertest::SpoolerHost host;
    ASSERT_TRUE(host.start());
    ASSERT_TRUE(startAndRun());
    EXPECT_EQ(eventIds(), (std::vector<DWORD>{0xC0000013u}));
    JobEventRequest request{};
    request.dwSize = sizeof request;
    BYTE reply[8];
    DWORD read = 99;
    EXPECT_TRUE(CallNamedPipeW(JTRK_SERVICE_PIPE_NAME, &request, sizeof request, reply, sizeof reply, &read,
                               NMPWAIT_USE_DEFAULT_WAIT));
    ASSERT_TRUE(stop());
    EXPECT_EQ(eventIds(), (std::vector<DWORD>{0xC0000013u})) << "nothing to terminate";
    EXPECT_EQ(host.stop(), 0);
}

// The pending states ask the service control for six seconds each.
TEST_F(ServiceFrame, StartAndStopPendingAskForSixSeconds)
{
    ASSERT_TRUE(road::writeRootFile("config/vxsrvc-startup", "delay 4000\n")); // 200 ms at this time scale
    spoolertest::SpoolerHost host;
    ASSERT_TRUE(host.start());
    ASSERT_TRUE(StartServiceW(service, 0, nullptr));
    // The service control reports START_PENDING without checkpoint until the service reports.
    SERVICE_STATUS pending{};
    ASSERT_TRUE(waitFor(
        [&] {
            return QueryServiceStatus(service, &pending) && pending.dwCurrentState == SERVICE_START_PENDING &&
                   pending.dwCheckPoint != 0;
        },
        kLimit));
    EXPECT_EQ(pending.dwWaitHint, 6000u);
    EXPECT_EQ(pending.dwCheckPoint, 1u);
    EXPECT_EQ(pending.dwControlsAccepted, 0u);
    ASSERT_TRUE(reaches(SERVICE_RUNNING));
    ASSERT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &pending));
    ASSERT_TRUE(reaches(SERVICE_STOP_PENDING, &pending)); // the 5-second pause before STOPPED
    EXPECT_EQ(pending.dwWaitHint, 6000u);
    EXPECT_GE(pending.dwCheckPoint, 2u);
    EXPECT_EQ(pending.dwControlsAccepted, DWORD(SERVICE_ACCEPT_STOP));
    ASSERT_TRUE(reaches(SERVICE_STOPPED));
    EXPECT_EQ(host.stop(), 0);
}

TEST_F(ServiceFrame, WithoutTheSpoolerTheServiceStopsWithTheError)
{
    ASSERT_TRUE(StartServiceW(service, 0, nullptr));
    SERVICE_STATUS status{};
    ASSERT_TRUE(reaches(SERVICE_STOPPED, &status));
    EXPECT_NE(status.dwWin32ExitCode, 0u);
    EXPECT_EQ(eventIds(), (std::vector<DWORD>{0xC0000001u}));
}

TEST_F(ServiceFrame, APipeHeldElsewhereEndsTheStartWithItsOwnEventOnly)
{
    spoolertest::SpoolerHost host;
    ASSERT_TRUE(host.start());
    HANDLE held = CreateNamedPipeW(JTRK_SERVICE_PIPE_NAME, PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE, 1, 0, 0, 1000, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(StartServiceW(service, 0, nullptr));
    ASSERT_TRUE(reaches(SERVICE_STOPPED));
    std::vector<Event> events = serviceEvents();
    std::vector<DWORD> ids;
    for (const Event& event : events)
        if (event.id != 0xC0000013u)
            ids.push_back(event.id);
    EXPECT_EQ(ids, (std::vector<DWORD>{0xC0000008u}));
    CloseHandle(held);
    EXPECT_EQ(host.stop(), 0);
}

DWORD printerStatus(const std::u16string& printer)
{
    HANDLE handle = nullptr;
    std::u16string name = printer;
    if (!OpenPrinterW(name.data(), &handle, nullptr))
        return ~0u;
    DWORD needed = 0;
    GetPrinterW(handle, 2, nullptr, 0, &needed);
    std::vector<BYTE> buffer(needed);
    DWORD status = ~0u;
    if (needed && GetPrinterW(handle, 2, buffer.data(), needed, &needed))
        status = reinterpret_cast<PRINTER_INFO_2W*>(buffer.data())->Status;
    ClosePrinter(handle);
    return status;
}

TEST_F(ServiceFrame, OnlyTheMonitorsOwnPortsLoseTheirStatus)
{
    spoolertest::SpoolerHost host;
    spoolertest::registerTestMonitor(u"OwnMon", {u"OWN1"}, u"TALLY-DESK Output Beacon Port2");
    spoolertest::registerTestMonitor(u"OtherMon", {u"OTHER1"}, u"Other Port");
    ASSERT_TRUE(host.start());
    ASSERT_EQ(road::addPrinter(u"Own", u"OWN1"), 0u);
    ASSERT_EQ(road::addPrinter(u"Other", u"OTHER1"), 0u);
    for (const WCHAR* port : {W("OWN1"), W("OTHER1")}) {
        std::u16string text = u"Paper jam";
        PORT_INFO_3W info = {PORT_STATUS_PAPER_JAM, text.data(), PORT_STATUS_TYPE_ERROR};
        ASSERT_TRUE(SetPortW(nullptr, const_cast<LPWSTR>(port), 3, reinterpret_cast<BYTE*>(&info)));
    }
    ASSERT_TRUE(printerStatus(u"Own") & PRINTER_STATUS_PAPER_JAM);
    ASSERT_TRUE(startAndRun());
    EXPECT_FALSE(printerStatus(u"Own") & PRINTER_STATUS_PAPER_JAM);
    EXPECT_TRUE(printerStatus(u"Other") & PRINTER_STATUS_PAPER_JAM);
    ASSERT_TRUE(stop());
    EXPECT_EQ(host.stop(), 0);
}

} // namespace
