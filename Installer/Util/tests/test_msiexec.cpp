// The custom actions run by pal-msiexec in its own process against the spooler host.
#include "test_spooler_host.h"
#include "util_testing.h"

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
    std::u16string portOf(const char16_t* name)
    {
        HANDLE handle = nullptr;
        if (!OpenPrinterW((LPWSTR)name, &handle, nullptr))
            return u"(none)";
        DWORD needed = 0;
        GetPrinterW(handle, 2, nullptr, 0, &needed);
        std::vector<BYTE> buffer(needed + 1);
        std::u16string port = u"(none)";
        if (GetPrinterW(handle, 2, buffer.data(), needed, &needed))
            port = reinterpret_cast<PRINTER_INFO_2W*>(buffer.data())->pPortName;
        ClosePrinter(handle);
        return port;
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

} // namespace
