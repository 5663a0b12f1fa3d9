// Printer entries, their activation through the spooler and the port monitor, and the state
// changes that reach the printer's watch thread.
#include <gtest/gtest.h>

#include "ChildProcess.h"
#include "Road.h"
#include "ServiceTesting.h"
#include "TempRoot.h"
#include "test_spooler_host.h"

using namespace svctest;

namespace {

class PrinterDataTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(host.start());
        ASSERT_TRUE(road::addMonitor());
        ASSERT_EQ(road::addPort(road::rawPort(u"JT_127.0.0.5", u"127.0.0.5", 9100)), 0u);
        ASSERT_EQ(road::addPort(road::rawPort(u"JT_127.0.0.6", u"127.0.0.6", 9100)), 0u);
        ASSERT_EQ(road::addPrinter(u"Office", u"JT_127.0.0.5"), 0u);
    }
    void TearDown() override { EXPECT_EQ(host.stop(), 0); }

    testsupport::TempRoot root;
    spoolertest::SpoolerHost host;
};

TEST_F(PrinterDataTest, ActivationKeepsAnEntryPerPortWithItsWatchThreadAndAddress)
{
    Context context;
    clPrnComData& printers = context.printers();
    EXPECT_EQ(printers.GetPortPrinterStatus(u"JT_127.0.0.5", u"Office"), 0u);
    ASSERT_TRUE(printers.SetPrinterActive(u"Office", u"JT_127.0.0.5", FALSE));
    EXPECT_EQ(printers.GetPortPrinterStatus(u"JT_127.0.0.5", u"Office"), DWORD(SDKSTATE_AVAILABLE));
    EXPECT_EQ(printers.GetPrinterErrSent(u"JT_127.0.0.5", u"Office"), DWORD(ERRSENT_NONE));
    ASSERT_TRUE(printers.SetPrinterActive(u"Office", u"JT_127.0.0.6", FALSE));
    EXPECT_EQ(printers.GetPortPrinterStatus(u"JT_127.0.0.6", u"Office"), DWORD(SDKSTATE_AVAILABLE));
    // An active entry is left as it is.
    ASSERT_TRUE(printers.SetPrinterActive(u"Office", u"JT_127.0.0.5", TRUE));

    std::vector<LPCWSTR> names = context.get()->IPAddrMap->Names(ipv4(127, 0, 0, 5));
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(std::u16string(names[0]), u"Office");
    EXPECT_EQ(context.get()->IPAddrMap->Names(ipv4(127, 0, 0, 6)).size(), 1u);
    EXPECT_TRUE(serviceEvents().empty());
}

TEST_F(PrinterDataTest, FirstVersionOnANewPortKeepsThePortOnly)
{
    Context context;
    clPrnComData& printers = context.printers();
    EXPECT_FALSE(printers.SetPrinterActive(u"Office", u"JT_127.0.0.5", TRUE));
    EXPECT_EQ(printers.GetPortPrinterStatus(u"JT_127.0.0.5", u"Office"), 0u);
    EXPECT_TRUE(context.get()->IPAddrMap->Names(ipv4(127, 0, 0, 5)).empty());
    EXPECT_TRUE(serviceEvents().empty());
    // The port is known now: the next report activates the printer, first version or not.
    ASSERT_TRUE(printers.SetPrinterActive(u"Office", u"JT_127.0.0.5", TRUE));
    EXPECT_EQ(printers.GetPortPrinterStatus(u"JT_127.0.0.5", u"Office"), DWORD(SDKSTATE_AVAILABLE));
}

TEST_F(PrinterDataTest, APrinterTheSpoolerDoesNotKnowIsReportedAndNotKept)
{
    Context context;
    EXPECT_FALSE(context.printers().SetPrinterActive(u"Nowhere", u"JT_127.0.0.5", FALSE));
    EXPECT_EQ(context.printers().GetPortPrinterStatus(u"JT_127.0.0.5", u"Nowhere"), 0u);
    std::vector<Event> events = serviceEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].id, 0x80000003u);
    EXPECT_EQ(events[0].type, EVENTLOG_WARNING_TYPE);
    ASSERT_EQ(events[0].strings.size(), 3u);
    EXPECT_EQ(events[0].strings[0], u"Nowhere");
    EXPECT_EQ(events[0].strings[1], u"現在処理している印刷ジョブは追跡ができません。");
    EXPECT_EQ(events[0].strings[2], u"0xFFFFFFFF");
}

// While the service still starts, the reason says the events are registered again at the next print.
TEST_F(PrinterDataTest, AnActivationFailingWhileTheServiceStartsGivesTheStartReason)
{
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    ASSERT_NE(manager, nullptr);
    std::string program = testsupport::besideSelf("PalTestService");
    std::u16string image = u"\"" + std::u16string(program.begin(), program.end()) + u"\" --start-ms 2000";
    SC_HANDLE service = CreateServiceW(manager, W("JTRKSVC2"), nullptr, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                       SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, image.c_str(), nullptr, nullptr,
                                       nullptr, nullptr, nullptr);
    ASSERT_NE(service, nullptr);
    ASSERT_TRUE(StartServiceW(service, 0, nullptr));
    SERVICE_STATUS status{};
    ASSERT_TRUE(QueryServiceStatus(service, &status));
    ASSERT_EQ(status.dwCurrentState, DWORD(SERVICE_START_PENDING));
    {
        Context context;
        EXPECT_FALSE(context.printers().SetPrinterActive(u"Nowhere", u"JT_127.0.0.5", FALSE));
    }
    std::vector<Event> events = serviceEvents();
    ASSERT_EQ(events.size(), 1u);
    ASSERT_EQ(events[0].strings.size(), 3u);
    EXPECT_EQ(events[0].strings[1], u"印刷実行時に再度イベント登録処理を行います。");
    auto reaches = [&](DWORD state) {
        return waitFor([&] { return QueryServiceStatus(service, &status) && status.dwCurrentState == state; });
    };
    EXPECT_TRUE(reaches(SERVICE_RUNNING));
    EXPECT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status));
    EXPECT_TRUE(reaches(SERVICE_STOPPED));
    DeleteService(service);
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
}

TEST_F(PrinterDataTest, StartJobStopsRetryingOnceTheWatchThreadHasEnded)
{
    Context context;
    clPrnComData& printers = context.printers();
    ASSERT_TRUE(printers.SetPrinterActive(u"Office", u"JT_127.0.0.5", FALSE));
    ASSERT_TRUE(printers.ChangeDeviceThreadStatus(u"JT_127.0.0.5", SDKSTATE_PRINTING, u"Office"));
    EXPECT_EQ(printers.GetPortPrinterStatus(u"JT_127.0.0.5", u"Office"), DWORD(SDKSTATE_PRINTING));
    ASSERT_TRUE(printers.ChangeDeviceThreadStatus(u"JT_127.0.0.5", SDKSTATE_AVAILABLE, u"Office"));
    context.stop();
    ASSERT_TRUE(printers.TerminatePrinterInstance() && !printers.WatchThreadsRunning());
    // The entries are gone after termination; a fresh entry whose thread has ended refuses.
    ASSERT_TRUE(printers.SetPrinterActive(u"Office", u"JT_127.0.0.5", FALSE));
    ASSERT_TRUE(waitFor([&] {
        return !printers.ChangeDeviceThreadStatus(u"JT_127.0.0.5", SDKSTATE_AVAILABLE, u"Office");
    }));
    EXPECT_FALSE(printers.ChangeDeviceThreadStatus(u"JT_127.0.0.5", SDKSTATE_PRINTING, u"Office"));
    EXPECT_EQ(printers.GetPortPrinterStatus(u"JT_127.0.0.5", u"Office"), DWORD(SDKSTATE_AVAILABLE));
    EXPECT_FALSE(printers.ChangeDeviceThreadStatus(u"JT_127.0.0.5", 7, u"Office"));
}

TEST_F(PrinterDataTest, AvailablePrinterLeavesAPrinterThatHasAJobAgain)
{
    Context context;
    clPrnComData& printers = context.printers();
    ASSERT_TRUE(printers.SetPrinterActive(u"Office", u"JT_127.0.0.5", FALSE));
    ASSERT_TRUE(printers.ChangeDeviceThreadStatus(u"JT_127.0.0.5", SDKSTATE_PRINTING, u"Office"));
    ClJobID id = clJobId(1, "01000000");
    ASSERT_TRUE(context.jobs().AddJobData(u"Office", u"JT_127.0.0.5", &id, 3, nullptr));
    printers.AvailablePrinter(u"Office");
    EXPECT_EQ(printers.GetPortPrinterStatus(u"JT_127.0.0.5", u"Office"), DWORD(SDKSTATE_PRINTING));
    ASSERT_TRUE(context.jobs().RemoveJobData(u"Office", &id));
    printers.AvailablePrinter(u"Office");
    EXPECT_EQ(printers.GetPortPrinterStatus(u"JT_127.0.0.5", u"Office"), DWORD(SDKSTATE_AVAILABLE));
}

TEST_F(PrinterDataTest, FieldsAddressesBindingsAndTheMonitorsPausedFlag)
{
    Context context;
    clPrnComData& printers = context.printers();
    ASSERT_TRUE(printers.SetPrinterActive(u"Office", u"JT_127.0.0.5", FALSE));
    EXPECT_TRUE(printers.ChangeDeviceThreadlRetParley(u"JT_127.0.0.5", u"Office", 5));
    EXPECT_TRUE(printers.ChangeDeviceThreadSysJobIdParley(u"JT_127.0.0.5", u"Office", 9));
    EXPECT_TRUE(printers.ChangeDeviceThreadResetFlgParley(u"JT_127.0.0.5", u"Office", 1));
    EXPECT_TRUE(printers.ChangeDeviceThreadlRetParley(u"JT_127.0.0.5", u"Office", 6));
    EXPECT_EQ(printers.GetPrinterSysJobIdParley(u"JT_127.0.0.5", u"Office"), 9u);
    EXPECT_TRUE(printers.ChangeDeviceThreadlRetParley(u"JT_127.0.0.5", u"Office", 0));
    EXPECT_EQ(printers.GetPrinterSysJobIdParley(u"JT_127.0.0.5", u"Office"), 0u);
    EXPECT_EQ(printers.GetPrinterResetFlgParley(u"JT_127.0.0.5", u"Office"), 0u);
    EXPECT_FALSE(printers.ChangeDeviceThreadErrSent(u"JT_127.0.0.5", u"Other", 8));
    EXPECT_EQ(printers.GetCriticalObj(u"JT_127.0.0.5", u"Other"), nullptr);

    DWORD address = 0;
    EXPECT_FALSE(printers.GetIPAddress2(u"JT_127.0.0.5", &address));
    EXPECT_FALSE(printers.SetIPAddress2(u"JT_127.0.0.5", 0));
    EXPECT_TRUE(printers.SetIPAddress2(u"JT_127.0.0.5", ipv4(127, 0, 0, 5)));
    EXPECT_TRUE(printers.GetIPAddress2(u"JT_127.0.0.5", &address));
    EXPECT_EQ(address, ipv4(127, 0, 0, 5));
    auto* first = reinterpret_cast<DmlpBinding>(0x10);
    auto* second = reinterpret_cast<DmlpBinding>(0x20);
    EXPECT_FALSE(printers.SetClibEpHandle2(0, first));
    EXPECT_FALSE(printers.SetClibEpHandle2(address, nullptr));
    EXPECT_TRUE(printers.SetClibEpHandle2(address, first));
    EXPECT_TRUE(printers.SetClibEpHandle2(address, second));
    DmlpBinding found = nullptr;
    EXPECT_TRUE(printers.GetClibEpHandle2(address, &found));
    EXPECT_EQ(found, second);
    EXPECT_TRUE(printers.GetIPAddress(u"JT_127.0.0.6", &address));
    EXPECT_EQ(address, ipv4(127, 0, 0, 6));
    EXPECT_FALSE(printers.GetIPAddress(u"NoSuchPort", &address));
    EXPECT_EQ(address, 0u);

    EXPECT_FALSE(printers.SetPausedFlag(u"Office", 0));
    EXPECT_FALSE(printers.SetPausedFlag(nullptr, 4));
    EXPECT_TRUE(printers.SetPausedFlag(u"Office", 4));
    EXPECT_FALSE(printers.SetPausedFlag(u"Nowhere", 4));
}

} // namespace
