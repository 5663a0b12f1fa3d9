// The custom actions run by pal-msiexec in its own process against the spooler host.
#include "ChildProcess.h"
#include "conversion_testing.h"
#include "TestServices.h"

using namespace utiltest;
using spoolertest::monitorKey;
using spoolertest::runProgram;
using spoolertest::setDwordValue;
using spoolertest::setStringValue;

namespace {

class AcrossProcesses : public UtilRoot {
protected:
    spoolertest::ProgramResult msiexec(const std::string& entry)
    {
        return runProgram({"pal-msiexec", "--property", "CustomActionData=,C:\\JTRK", "--env", "TEMP=C:\\Temp",
                           "JTRKUtil.dll", entry});
    }
    spoolertest::SpoolerHost host;
};

TEST_F(AcrossProcesses, InstallConvertsATcpIpPrinterAndUninstallRestoresIt)
{
    std::u16string tcp = monitorKey(u"Standard TCP/IP Port");
    setStringValue(tcp, u"Driver", u"tcpmon.dll");
    setStringValue(tcp + u"\\Ports\\IP_127.0.0.9", u"HostName", u"127.0.0.9");
    setDwordValue(tcp + u"\\Ports\\IP_127.0.0.9", u"Protocol", 1);
    setDwordValue(tcp + u"\\Ports\\IP_127.0.0.9", u"PortNumber", 9100);
    ASSERT_TRUE(host.start());
    ASSERT_EQ(runProgram({"pal-spool", "add-printer", "Office", "IP_127.0.0.9", "--driver", "Vexil MX-1 Japanese",
                          "--print-processor", "PRT ServerPrint"})
                  .exitCode,
              0);

    layInf();
    auto install = msiexec("JTMXInstallPort");
    EXPECT_EQ(install.exitCode, 0) << install.output;
    EXPECT_NE(install.output.find("info: portname=IP_127.0.0.9,specialportname=KPX2_IP_127.0.0.9"), std::string::npos)
        << install.output;
    EXPECT_NE(install.output.find("result: 0"), std::string::npos);
    EXPECT_EQ(portOf(u"Office"), u"KPX2_IP_127.0.0.9");
    EXPECT_EQ(result(u"ChangePortResult", u"Office"), 0);

    layInf();
    auto uninstall = msiexec("JTMXUninstallPort");
    EXPECT_EQ(uninstall.exitCode, 0) << uninstall.output;
    EXPECT_EQ(portOf(u"Office"), u"IP_127.0.0.9");
    auto monitors = runProgram({"pal-spool", "monitors"});
    EXPECT_EQ(monitors.output.find("TALLY-DESK Output Beacon Port2"), std::string::npos) << monitors.output;
    EXPECT_EQ(host.stop(), 0);
}

TEST_F(AcrossProcesses, ServiceActionsStartAndStopARegisteredJtrksvc2)
{
    ASSERT_TRUE(host.start());
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = testsupport::createServiceBesideSelf(manager, "JTRKSVC2");
    ASSERT_NE(service, nullptr);
    SERVICE_STATUS status{};
    auto start = runProgram({"pal-msiexec", "--property", "JTRK_SERVICE_NAME=JTRKSVC2", "--env", "TEMP=C:\\Temp",
                             "JTRKUtil.dll", "JTMXStartService"});
    EXPECT_NE(start.output.find("info: JTMXStartService success."), std::string::npos) << start.output;
    ASSERT_TRUE(QueryServiceStatus(service, &status));
    EXPECT_EQ(status.dwCurrentState, (DWORD)SERVICE_RUNNING);
    EXPECT_EQ(resultCode(), 0);
    auto stop = runProgram({"pal-msiexec", "--property", "JTRK_SERVICE_NAME=JTRKSVC2", "JTRKUtil.dll",
                            "JTMXStopService"});
    EXPECT_EQ(stop.exitCode, 0) << stop.output;
    ASSERT_TRUE(QueryServiceStatus(service, &status));
    EXPECT_EQ(status.dwCurrentState, (DWORD)SERVICE_STOPPED) << "the action returns only once stopped";
    DeleteService(service);
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    EXPECT_EQ(host.stop(), 0);
}

TEST_F(AcrossProcesses, WithoutTheServiceManagerStartRecords4AndStopCancels)
{
    auto start = runProgram({"pal-msiexec", "--property", "JTRK_SERVICE_NAME=JTRKSVC2", "--env", "TEMP=C:\\Temp", "--env",
                             "PAL_NON_ADMIN=1", "JTRKUtil.dll", "JTMXStartService"});
    EXPECT_EQ(start.exitCode, 0) << start.output;
    EXPECT_NE(start.output.find("info: dwGetSCManagerHandle failed. ErrorCode = 5\n"), std::string::npos) << start.output;
    EXPECT_NE(start.output.find("warning: TALLY-DESK Output Beacon Service2の開始中"), std::string::npos) << start.output;
    EXPECT_NE(start.output.find("result: 0\n"), std::string::npos);
    EXPECT_EQ(resultCode(), 4);

    auto stop = runProgram({"pal-msiexec", "--property", "JTRK_SERVICE_NAME=JTRKSVC2", "--answer", "yes", "--env",
                            "PAL_NON_ADMIN=1", "JTRKUtil.dll", "JTMXStopService"});
    EXPECT_EQ(stop.exitCode, 1) << stop.output;
    EXPECT_NE(stop.output.find("error: TALLY-DESK Output Beacon Service2 の停止中"), std::string::npos) << stop.output;
    EXPECT_NE(stop.output.find("result: 1602\n"), std::string::npos);
}

} // namespace
