// The install, reinstall and uninstall actions and the port conversion against the spooler host
// with the stand-in network monitors, JTRKMON2 and its UI JTRKMNUI2.
#include "test_spooler_host.h"
#include "util_testing.h"

using namespace utiltest;
using spoolertest::monitorKey;
using spoolertest::setDwordValue;
using spoolertest::setStringValue;

namespace {

const std::u16string kTcp = u"Standard TCP/IP Port", kPort2 = u"TALLY-DESK Output Beacon Port2";
const char16_t* const kData = u",C:\\JTRK";

class Installer : public UtilRoot {
protected:
    void SetUp() override
    {
        UtilRoot::SetUp();
        setStringValue(monitorKey(kTcp), u"Driver", u"tcpmon.dll");
    }
    void tcpPort(const std::u16string& name, const std::u16string& host)
    {
        std::u16string key = monitorKey(kTcp) + u"\\Ports\\" + name;
        setStringValue(key, u"HostName", host);
        setDwordValue(key, u"Protocol", 1);
        setDwordValue(key, u"PortNumber", 9100);
    }
    void start() { ASSERT_TRUE(host.start()); }
    void printer(const std::u16string& name, const std::u16string& port, const std::u16string& driver = u"Vexil MX-1",
                 const std::u16string& processor = u"PRT ServerPrint")
    {
        PRINTER_INFO_2W info{};
        info.pPrinterName = (LPWSTR)name.c_str();
        info.pPortName = (LPWSTR)port.c_str();
        info.pDriverName = (LPWSTR)driver.c_str();
        info.pPrintProcessor = (LPWSTR)processor.c_str();
        info.pDatatype = (LPWSTR)u"RAW";
        HANDLE handle = AddPrinterW(nullptr, 2, (LPBYTE)&info);
        ASSERT_NE(handle, nullptr) << GetLastError();
        ClosePrinter(handle);
    }
    std::u16string portOf(const std::u16string& name)
    {
        HANDLE handle = nullptr;
        if (!OpenPrinterW((LPWSTR)name.c_str(), &handle, nullptr))
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
    UINT run(const char* action, Session& session)
    {
        session.set(u"CustomActionData", kData);
        return util.action(action, session.handle);
    }
    DWORD exists(const char16_t* name)
    {
        return util.entry<DWORD(WINAPI*)(LPCWSTR)>("JTMXIsMonitorExists")(name);
    }

    spoolertest::SpoolerHost host;
};

TEST_F(Installer, EveryExportHasItsOrdinalAndTheStringTableIsComplete)
{
    const char* names[] = {"JTMXAddMonitor",      "JTMXDeleteMonitor", "JTMXInstallPort",    "JTMXInstallPortforReInst",
                           "JTMXIsMonitorExists", "JTMXStartService",  "JTMXStopService",    "JTMXToOriginalPort",
                           "JTMXToSecialPort",    "JTMXUninstallPort"};
    for (WORD ordinal = 1; ordinal <= 10; ++ordinal) {
        FARPROC byName = GetProcAddress(util.module, names[ordinal - 1]);
        ASSERT_NE(byName, nullptr) << names[ordinal - 1];
        EXPECT_EQ(GetProcAddress(util.module, MAKEINTRESOURCEA(ordinal)), byName) << ordinal;
    }
    WCHAR text[1024];
    ASSERT_GT(LoadStringW(util.module, 105, text, 1024), 0);
    EXPECT_EQ(std::u16string(text), u"エラー");
    ASSERT_GT(LoadStringW(util.module, 104, text, 1024), 0);
    EXPECT_EQ(std::u16string(text), u"TALLY-DESK Output Beacon Port2 の削除に失敗しました。\nアンインストール処理を中止します。");
    for (UINT id : {101u, 102u, 103u, 106u})
        EXPECT_GT(LoadStringW(util.module, id, text, 1024), 40) << id;
}

TEST_F(Installer, MonitorNamesCompareWhole)
{
    start();
    ASSERT_EQ(util.entry<DWORD(WINAPI*)(LPCWSTR, LPCWSTR)>("JTMXAddMonitor")(kPort2.c_str(), u"JTRKMON2.DLL"), 0u);
    EXPECT_EQ(exists(u"TALLY-DESK Output Beacon Port2"), 1u);
    EXPECT_EQ(exists(u"tally-desk output beacon port2"), 1u);
    EXPECT_EQ(exists(u"TALLY-DESK Output Beacon Port"), 0u) << "a prefix of an installed name is another monitor";
    EXPECT_EQ(exists(u""), 0u);
    EXPECT_EQ(exists(nullptr), 0u);
    EXPECT_EQ(util.entry<DWORD(WINAPI*)(LPCWSTR)>("JTMXDeleteMonitor")(u"TALLY-DESK Output Beacon Port"), 0u)
        << "absent: nothing deleted";
    EXPECT_EQ(exists(kPort2.c_str()), 1u);
}

TEST_F(Installer, InstallConvertsATcpIpPrinterAndUninstallPutsItBack)
{
    tcpPort(u"IP_127.0.0.9", u"127.0.0.9");
    tcpPort(u"IP_127.0.0.99", u"127.0.0.99");
    start();
    printer(u"Office", u"IP_127.0.0.9");
    printer(u"Office2", u"IP_127.0.0.9");
    printer(u"Plain", u"IP_127.0.0.99", u"Generic", u"winprint");
    layInf();
    Session install;
    EXPECT_EQ(run("JTMXInstallPort", install), 0u);
    EXPECT_FALSE(infExists()) << "the INF goes after it was read";
    EXPECT_TRUE(install.logged(u"MonitorName is TALLY-DESK Output Beacon Port2, DriverName is JTRKMON2.DLL"));
    EXPECT_TRUE(install.logged(u"JTMXPortInstall success."));
    EXPECT_EQ(exists(kPort2.c_str()), 1u);
    EXPECT_EQ(portOf(u"Office"), u"KPX2_IP_127.0.0.9");
    EXPECT_EQ(portOf(u"Office2"), u"KPX3_IP_127.0.0.9");
    EXPECT_EQ(portOf(u"Plain"), u"IP_127.0.0.99") << "not the maker's printer";
    EXPECT_EQ(result(u"ChangePortResult", u"Office"), 0);
    EXPECT_EQ(result(u"ChangePortResult", u"Plain"), -1);
    EXPECT_EQ(resultCode(), -1) << "success writes no ResultCode";

    // OriginalPortName: the characters of the name without a terminator.
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, (monitorKey(kPort2) + u"\\Ports\\KPX2_IP_127.0.0.9").c_str(), 0,
                            KEY_READ, &key),
              ERROR_SUCCESS);
    DWORD bytes = 0, type = 0;
    EXPECT_EQ(RegQueryValueExW(key, u"OriginalPortName", nullptr, &type, nullptr, &bytes), ERROR_SUCCESS);
    EXPECT_EQ(bytes, 12u * 2);
    RegCloseKey(key);

    layInf();
    Session uninstall;
    EXPECT_EQ(run("JTMXUninstallPort", uninstall), 0u);
    EXPECT_TRUE(uninstall.logged(u"JTMXUninstallPort success."));
    EXPECT_EQ(portOf(u"Office"), u"IP_127.0.0.9");
    EXPECT_EQ(portOf(u"Office2"), u"IP_127.0.0.9");
    EXPECT_EQ(exists(kPort2.c_str()), 0u);
}

TEST_F(Installer, MissingInfGivesResultCode1AndNoCancelsWith1602)
{
    start();
    Session yes(PAL_MSI_ANSWER_YES);
    EXPECT_EQ(run("JTMXInstallPort", yes), 0u);
    EXPECT_TRUE(yes.logged(u"dwGetPortMonitorInfo failed. ErrorCode = 2"));
    EXPECT_TRUE(yes.logged(u"JTMXPortInstall was continued."));
    EXPECT_EQ(resultCode(), 1);
    Session no(PAL_MSI_ANSWER_NO);
    EXPECT_EQ(run("JTMXInstallPortforReInst", no), (UINT)ERROR_INSTALL_USEREXIT);
    EXPECT_TRUE(no.logged(u"JTMXInstallPortforReInst was canceled."));
    ASSERT_EQ(no.shown().size(), 1u);
    EXPECT_EQ(no.shown()[0], 0x02000104);
    Session none;
    EXPECT_EQ(run("JTMXInstallPort", none), (UINT)ERROR_INSTALL_USEREXIT) << "no user interface answers 0";
}

TEST_F(Installer, InfInUtf16WithEmptyEntryGives11AndIsDeleted)
{
    start();
    std::u16string text = u"\xFEFF[PortMonitors]\r\n\"TALLY-DESK Output Beacon Port2\" = JTRKMON2\r\n[JTRKMON2]\r\n";
    writeFile("drive_c/JTRK/JTRKMON2.INF", std::string((const char*)text.data(), text.size() * 2));
    Session session(PAL_MSI_ANSWER_YES);
    EXPECT_EQ(run("JTMXInstallPort", session), 0u);
    EXPECT_TRUE(session.logged(u"dwGetPortMonitorInfo failed. ErrorCode = 11"));
    EXPECT_FALSE(infExists());
    EXPECT_EQ(resultCode(), 1);
}

TEST_F(Installer, LongPortNamesGetNoSpecialName)
{
    std::u16string port59 = u"IP_" + std::u16string(56, u'x');
    tcpPort(port59, u"127.0.0.10");
    start();
    printer(u"Long", port59);
    layInf();
    Session session;
    EXPECT_EQ(run("JTMXInstallPort", session), 0u);
    EXPECT_EQ(result(u"ChangePortResult", u"Long"), 1) << "KPX2_ plus 59 characters is over 63";
    EXPECT_EQ(portOf(u"Long"), port59);
}

TEST_F(Installer, UninstallWithAPrinterLackingItsOriginalNameStopsWith103)
{
    tcpPort(u"IP_127.0.0.9", u"127.0.0.9");
    start();
    printer(u"Office", u"IP_127.0.0.9");
    layInf();
    Session install;
    ASSERT_EQ(run("JTMXInstallPort", install), 0u);
    ASSERT_EQ(portOf(u"Office"), u"KPX2_IP_127.0.0.9");
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, (monitorKey(kPort2) + u"\\Ports\\KPX2_IP_127.0.0.9").c_str(), 0,
                            KEY_ALL_ACCESS, &key),
              ERROR_SUCCESS);
    RegDeleteValueW(key, u"OriginalPortName");
    RegCloseKey(key);
    layInf();
    Session uninstall;
    EXPECT_EQ(run("JTMXUninstallPort", uninstall), (UINT)ERROR_INSTALL_USEREXIT);
    EXPECT_TRUE(uninstall.logged(u"JTMXToOriginalPort failed. ErrorCode = 87"));
    ASSERT_FALSE(uninstall.shown().empty());
    EXPECT_EQ(uninstall.shown()[0], INSTALLMESSAGE_ERROR);
    EXPECT_EQ(exists(kPort2.c_str()), 1u) << "the monitor stays";
}

TEST_F(Installer, PortsCompareWholeAndCandidatesGiveWayOnlyToPortsBeginningWithThem)
{
    tcpPort(u"SOURCE", u"127.0.0.20");
    tcpPort(u"IP_127.0.0.5", u"127.0.0.5");
    tcpPort(u"IP_127.0.0.7", u"127.0.0.7");
    tcpPort(u"X_KPX2_IP_127.0.0.7", u"127.0.0.7");
    tcpPort(u"IP_127.0.0.8", u"127.0.0.8");
    tcpPort(u"KPX2_IP_127.0.0.8abc", u"127.0.0.8");
    start();
    ASSERT_EQ(util.entry<DWORD(WINAPI*)(LPCWSTR, LPCWSTR)>("JTMXAddMonitor")(kPort2.c_str(), u"JTRKMON2.DLL"), 0u);
    HMODULE ui = LoadLibraryW(u"JTRKMNUI2.dll");
    ASSERT_NE(ui, nullptr);
    auto addSilent = reinterpret_cast<BOOL(WINAPI*)(LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR)>(
        GetProcAddress(ui, "JTMXAddPortSilent"));
    ASSERT_TRUE(addSilent(nullptr, u"SOURCE", u"IP_127.0.0.55", nullptr));
    FreeLibrary(ui);
    printer(u"Five", u"IP_127.0.0.5");
    printer(u"Seven", u"IP_127.0.0.7");
    printer(u"Eight", u"IP_127.0.0.8");
    layInf();
    Session session;
    EXPECT_EQ(run("JTMXInstallPortforReInst", session), 0u);
    EXPECT_EQ(portOf(u"Five"), u"KPX2_IP_127.0.0.5") << "a JTRKMON2 port IP_127.0.0.55 is another port";
    EXPECT_EQ(portOf(u"Seven"), u"KPX2_IP_127.0.0.7");
    EXPECT_EQ(portOf(u"Eight"), u"KPX3_IP_127.0.0.8");
}

TEST_F(Installer, ListFileSelectsPortKindsAndDrivers)
{
    tcpPort(u"IP_127.0.0.9", u"127.0.0.9");
    tcpPort(u"IP_127.0.0.11", u"127.0.0.11");
    start();
    printer(u"Chosen", u"IP_127.0.0.9", u"Vexil MX-1 Japanese");
    printer(u"Other", u"IP_127.0.0.11", u"Vexil MX-2 JA");
    writeFile("drive_c/Temp/jtrkprtlist.ini", "[Port]\r\nTCP=1\r\n[Printer]\r\nVexil MX-1=1\r\nVexil MX-2=0\r\n");
    layInf();
    Session session;
    session.set(u"CustomActionData", u"C:\\Temp,C:\\JTRK");
    EXPECT_EQ(util.action("JTMXInstallPort", session.handle), 0u);
    EXPECT_EQ(portOf(u"Chosen"), u"KPX2_IP_127.0.0.9");
    EXPECT_EQ(portOf(u"Other"), u"IP_127.0.0.11");

    writeFile("drive_c/Temp/jtrkprtlist.ini", "[Port]\r\nTCP=0\r\nLPR=0\r\nPrintHub=0\r\n");
    layInf();
    Session off;
    off.set(u"CustomActionData", u"C:\\Temp,C:\\JTRK");
    EXPECT_EQ(util.action("JTMXInstallPortforReInst", off.handle), 0u);
    EXPECT_TRUE(off.logged(u"All Ports not Change!!"));
    EXPECT_EQ(portOf(u"Other"), u"IP_127.0.0.11");
}

} // namespace
