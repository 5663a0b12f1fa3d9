// The install, reinstall and uninstall actions and the port conversion against the spooler host
// with the stand-in network monitors, JTRKMON2 and its UI JTRKMNUI2.
#include "conversion_testing.h"

using namespace utiltest;
using spoolertest::monitorKey;
using spoolertest::setDwordValue;
using spoolertest::setStringValue;

namespace {

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
    ASSERT_EQ(addMonitor(), 0u);
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

TEST_F(Installer, SpecialNamesHoldAtMost63Characters)
{
    std::u16string port58 = u"IP_" + std::u16string(55, u'w'), port59 = u"IP_" + std::u16string(56, u'x'),
                   port63 = u"IP_" + std::u16string(60, u'y');
    tcpPort(port58, u"127.0.0.10");
    tcpPort(port59, u"127.0.0.10");
    tcpPort(port63, u"127.0.0.10");
    start();
    printer(u"Fits", port58);
    printer(u"Long", port59);
    printer(u"Longest", port63);
    layInf();
    Session session;
    EXPECT_EQ(run("JTMXInstallPort", session), 0u);
    EXPECT_EQ(result(u"ChangePortResult", u"Fits"), 0);
    EXPECT_EQ(portOf(u"Fits"), u"KPX2_" + port58) << "63 characters fit";
    EXPECT_EQ(result(u"ChangePortResult", u"Long"), 1) << "KPX2_ plus 59 characters is over 63";
    EXPECT_EQ(portOf(u"Long"), port59);
    EXPECT_EQ(result(u"ChangePortResult", u"Longest"), 1);
    EXPECT_EQ(portOf(u"Longest"), port63);
}

TEST_F(Installer, UninstallWithAPrinterLackingItsOriginalNameStopsWith103)
{
    tcpPort(u"IP_127.0.0.8", u"127.0.0.8");
    tcpPort(u"IP_127.0.0.9", u"127.0.0.9");
    start();
    printer(u"Annex", u"IP_127.0.0.8"); // listed before Office
    printer(u"Office", u"IP_127.0.0.9");
    layInf();
    Session install;
    ASSERT_EQ(run("JTMXInstallPort", install), 0u);
    ASSERT_EQ(portOf(u"Annex"), u"KPX2_IP_127.0.0.8");
    ASSERT_EQ(portOf(u"Office"), u"KPX2_IP_127.0.0.9");
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, (monitorKey(kPort2) + u"\\Ports\\KPX2_IP_127.0.0.8").c_str(), 0,
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
    EXPECT_EQ(portOf(u"Annex"), u"KPX2_IP_127.0.0.8");
    EXPECT_EQ(portOf(u"Office"), u"IP_127.0.0.9") << "the printers after the one lacking its name go back";
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
    ASSERT_EQ(addMonitor(), 0u);
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

TEST_F(Installer, OnlyTheFirstTwoSectionsOfTheListFileAreLookedAtAndOnlyForTheirExactNames)
{
    tcpPort(u"IP_127.0.0.9", u"127.0.0.9");
    start();
    printer(u"Office", u"IP_127.0.0.9");
    struct Case {
        const char* file;
        bool converted;
    } cases[] = {
        {"[First]\r\nA=1\r\n[Second]\r\nB=1\r\n[Port]\r\nTCP=1\r\n", false},
        {"[Ports]\r\nTCP=1\r\n[Printers]\r\nVexil MX-1=1\r\n", false},
        {"[First]\r\nA=1\r\n[Port]\r\nTCP=1\r\n", true},
    };
    for (const Case& c : cases) {
        writeFile("drive_c/Temp/jtrkprtlist.ini", c.file);
        layInf();
        Session session;
        session.set(u"CustomActionData", u"C:\\Temp,C:\\JTRK");
        EXPECT_EQ(util.action("JTMXInstallPort", session.handle), 0u);
        EXPECT_EQ(session.logged(u"No Section!!"), !c.converted) << c.file;
        EXPECT_EQ(portOf(u"Office"), c.converted ? u"KPX2_IP_127.0.0.9" : u"IP_127.0.0.9") << c.file;
    }
}

TEST_F(Installer, LprAndEarlierMonitorPrintersAreConvertedAndPutBack)
{
    otherMonitors();
    setStringValue(portKey(kLpr, u"LPR_A"), u"Server Name", u"127.0.0.21");
    setStringValue(portKey(kLpr, u"LPR_A"), u"Printer Name", u"lp1");
    // Earlier-monitor ports made from a TCP/IP and a PrintHub LAN port that are still there.
    tcpPort(u"IP_127.0.0.30", u"127.0.0.30");
    setStringValue(portKey(kObv1, u"OBV_1"), u"OriginalPortName", u"IP_127.0.0.30");
    setStringValue(portKey(kHub, u"HUB_2"), u"Server Address", u"127.0.0.31");
    setStringValue(portKey(kHub, u"HUB_2"), u"Printer Queue Name", u"hq");
    setStringValue(portKey(kObv1, u"OBV_2"), u"Original PrintHub PortNname", u"HUB_2");
    start();
    printer(u"Lpr", u"LPR_A");
    printer(u"Old", u"OBV_1");
    printer(u"OldHub", u"OBV_2");
    layInf();
    Session session;
    EXPECT_EQ(run("JTMXInstallPort", session), 0u);
    EXPECT_TRUE(session.logged(u"lprportCount = 1"));
    EXPECT_TRUE(session.logged(u"obv1portCount = 2"));

    EXPECT_EQ(portOf(u"Lpr"), u"KPX2_LPR_A");
    std::u16string lpr = portKey(kPort2, u"KPX2_LPR_A");
    EXPECT_EQ(stringValue(lpr, u"ServerName"), u"127.0.0.21");
    EXPECT_EQ(dwordValue(lpr, u"Protocol"), 2u);
    EXPECT_EQ(stringValue(lpr, u"Queue"), u"lp1");

    EXPECT_TRUE(session.logged(u"portname=OBV_1,oldname=IP_127.0.0.30,bIsOBV1Port=1"));
    EXPECT_TRUE(session.logged(u"portname=OBV_1,specialportname=KPX2_OBV_1,oldname=IP_127.0.0.30"));
    EXPECT_EQ(portOf(u"Old"), u"KPX2_OBV_1");
    std::u16string old = portKey(kPort2, u"KPX2_OBV_1");
    EXPECT_EQ(stringValue(old, u"ServerName"), u"127.0.0.30") << "settings of the original TCP/IP port";
    EXPECT_EQ(dwordValue(old, u"Protocol"), 1u);
    EXPECT_EQ(dwordValue(old, u"PortNumber"), 9100u);
    EXPECT_EQ(stringValue(old, u"OriginalPortName"), u"OBV_1") << "the printer goes back where it was";

    EXPECT_TRUE(session.logged(u"portname=OBV_2,oldname=HUB_2,bIsOBV1Port=1"));
    EXPECT_EQ(portOf(u"OldHub"), u"KPX2_OBV_2");
    EXPECT_EQ(stringValue(portKey(kPort2, u"KPX2_OBV_2"), u"ServerName"), u"127.0.0.31");
    EXPECT_EQ(stringValue(portKey(kPort2, u"KPX2_OBV_2"), u"Queue"), u"hq");

    layInf();
    Session uninstall;
    EXPECT_EQ(run("JTMXUninstallPort", uninstall), 0u);
    EXPECT_EQ(portOf(u"Lpr"), u"LPR_A");
    EXPECT_EQ(portOf(u"Old"), u"OBV_1");
    EXPECT_EQ(portOf(u"OldHub"), u"OBV_2");
}

TEST_F(Installer, PortSectionWithOnlyLprConvertsLprAndEarlierMonitorPrinters)
{
    otherMonitors();
    tcpPort(u"IP_127.0.0.9", u"127.0.0.9");
    setStringValue(portKey(kLpr, u"LPR_A"), u"Server Name", u"127.0.0.21");
    setStringValue(portKey(kHub, u"HUB_1"), u"Server Address", u"127.0.0.22");
    setStringValue(portKey(kObv1, u"OBV_1"), u"OriginalPortName", u"IP_127.0.0.9");
    start();
    printer(u"Tcp", u"IP_127.0.0.9");
    printer(u"Lpr", u"LPR_A");
    printer(u"Hub", u"HUB_1");
    printer(u"Old", u"OBV_1");
    writeFile("drive_c/Temp/jtrkprtlist.ini", "[Port]\r\nLPR=1\r\n");
    layInf();
    Session session;
    session.set(u"CustomActionData", u"C:\\Temp,C:\\JTRK");
    EXPECT_EQ(util.action("JTMXInstallPort", session.handle), 0u);
    EXPECT_TRUE(session.logged(u"bChageTCPIPPort=0"));
    EXPECT_TRUE(session.logged(u"bChageLPRPort=1"));
    EXPECT_TRUE(session.logged(u"bChagePrintHubLANPort=0"));
    EXPECT_EQ(portOf(u"Tcp"), u"IP_127.0.0.9");
    EXPECT_EQ(portOf(u"Lpr"), u"KPX2_LPR_A");
    EXPECT_EQ(portOf(u"Hub"), u"HUB_1");
    EXPECT_EQ(portOf(u"Old"), u"KPX2_OBV_1") << "earlier-monitor ports are always converted";
    EXPECT_EQ(result(u"ChangePortResult", u"Tcp"), -1);
    EXPECT_EQ(result(u"ChangePortResult", u"Hub"), -1);
}

TEST_F(Installer, ResultFileGoesToTmpWhenTempIsMissingOrTooLongThenNowhere)
{
    start();
    std::filesystem::create_directories(root.file("drive_c/Temp2"));
    const char16_t* tmpFile = u"C:\\Temp2\\JTRKSetup.ini";
    unsetenv("TEMP");
    setenv("TMP", "C:\\Temp2", 1);
    Session missing(PAL_MSI_ANSWER_YES);
    EXPECT_EQ(run("JTMXInstallPort", missing), 0u);
    EXPECT_EQ(GetPrivateProfileIntW(u"ResponseResult", u"ResultCode", -1, tmpFile), 1u);
    EXPECT_TRUE(missing.logged(u"<C:\\Temp2\\JTRKSetup.ini> ResultCode=1"));

    std::filesystem::remove(root.file("drive_c/Temp2/JTRKSetup.ini"));
    setenv("TEMP", ("C:\\" + std::string(1021, 't')).c_str(), 1);
    Session tooLong(PAL_MSI_ANSWER_YES);
    EXPECT_EQ(run("JTMXInstallPort", tooLong), 0u);
    EXPECT_EQ(GetPrivateProfileIntW(u"ResponseResult", u"ResultCode", -1, tmpFile), 1u) << "TEMP of 1024 characters";

    std::filesystem::remove(root.file("drive_c/Temp2/JTRKSetup.ini"));
    unsetenv("TEMP");
    unsetenv("TMP");
    Session neither(PAL_MSI_ANSWER_YES);
    EXPECT_EQ(run("JTMXInstallPort", neither), 0u);
    EXPECT_TRUE(neither.logged(u"dwGetPortMonitorInfo failed. ErrorCode = 2"));
    for (const Message& m : neither.messages)
        EXPECT_EQ(m.text.find(u"ResultCode="), std::u16string::npos) << "nothing written";
    EXPECT_FALSE(std::filesystem::exists(root.file("drive_c/Temp2/JTRKSetup.ini")));
    EXPECT_FALSE(std::filesystem::exists(root.file("drive_c/Temp/JTRKSetup.ini")));
}

TEST_F(Installer, UninstallWithASpecialPortStillInUseStopsWith103)
{
    tcpPort(u"IP_127.0.0.9", u"127.0.0.9");
    start();
    printer(u"Office", u"IP_127.0.0.9");
    layInf();
    Session install;
    ASSERT_EQ(run("JTMXInstallPort", install), 0u);
    ASSERT_EQ(portOf(u"Office"), u"KPX2_IP_127.0.0.9");
    // The original port is gone: the printer cannot go back and keeps its special port busy.
    ASSERT_EQ(RegDeleteTreeW(HKEY_LOCAL_MACHINE, portKey(kTcp, u"IP_127.0.0.9").c_str()), ERROR_SUCCESS);
    layInf();
    Session uninstall(PAL_MSI_ANSWER_YES);
    EXPECT_EQ(run("JTMXUninstallPort", uninstall), (UINT)ERROR_INSTALL_USEREXIT);
    EXPECT_TRUE(uninstall.logged(u"JTMXToOriginalPort failed. ErrorCode = 1796"));
    // The UI module answers a busy port with "cancelled" (it shows its own message only with a window).
    EXPECT_TRUE(uninstall.logged(u"JTMXDeleteSpecialPort failed. ErrorCode = 1223"));
    ASSERT_EQ(uninstall.shown().size(), 1u);
    EXPECT_EQ(uninstall.shown()[0], INSTALLMESSAGE_ERROR);
    EXPECT_EQ(uninstall.shownText(0).substr(0, 14), u"ポートの削除に失敗しました。");
    EXPECT_EQ(portOf(u"Office"), u"KPX2_IP_127.0.0.9");
    EXPECT_TRUE(portListed(u"KPX2_IP_127.0.0.9"));
    EXPECT_EQ(exists(kPort2.c_str()), 1u) << "the monitor stays";
}

TEST_F(Installer, InfIsFoundInTheLongestInstallationFolder)
{
    std::string folder = std::string(100, 'a') + "/" + std::string(100, 'b') + "/" + std::string(54, 'c');
    std::filesystem::create_directories(root.file("drive_c/" + folder));
    std::u16string windowsFolder = u"C:\\" + std::u16string(100, u'a') + u"\\" + std::u16string(100, u'b') + u"\\" +
                                   std::u16string(54, u'c');
    ASSERT_EQ(windowsFolder.size(), 259u);
    start();
    std::filesystem::copy_file(JTRKUTIL_INF, root.file("drive_c/" + folder + "/JTRKMON2.INF"));
    Session longest;
    longest.set(u"CustomActionData", u"," + windowsFolder);
    EXPECT_EQ(util.action("JTMXInstallPort", longest.handle), 0u);
    EXPECT_TRUE(longest.logged(u"MonitorName is TALLY-DESK Output Beacon Port2, DriverName is JTRKMON2.DLL"));
    EXPECT_FALSE(std::filesystem::exists(root.file("drive_c/" + folder + "/JTRKMON2.INF")));

    Session tooLong(PAL_MSI_ANSWER_YES);
    tooLong.set(u"CustomActionData", u"," + windowsFolder + u"d");
    EXPECT_EQ(util.action("JTMXInstallPortforReInst", tooLong.handle), 0u);
    EXPECT_TRUE(tooLong.logged(u"dwGetPortMonitorInfo failed. ErrorCode = 87"));
}

TEST_F(Installer, RollbackAfterAnInfReadOnlyInPartDeletesNoMonitor)
{
    start();
    ASSERT_EQ(addMonitor(), 0u);
    writeFile("drive_c/JTRK/JTRKMON2.INF", "[PortMonitors]\r\n\"TALLY-DESK Output Beacon Port2\" = JTRKMON2\r\n");
    Session no(PAL_MSI_ANSWER_NO);
    EXPECT_EQ(run("JTMXInstallPortforReInst", no), (UINT)ERROR_INSTALL_USEREXIT);
    EXPECT_TRUE(no.logged(u"dwGetPortMonitorInfo failed. ErrorCode = 11"));
    EXPECT_TRUE(no.logged(u"JTMXInstallPortforReInst was canceled."));
    EXPECT_EQ(resultCode(), 1);
    EXPECT_EQ(exists(kPort2.c_str()), 1u) << "a monitor name read in part names nothing to delete";
}

} // namespace
