// Conversion and uninstall when the platform refuses a step. This executable defines SetPrinterW,
// DeletePortW, DeleteMonitorW, RegSetValueExW, EnumJobsW and XcvDataW itself and exports them, so
// JTRKUtil, loaded later, binds to them ahead of libpal's: each records its call and fails (or
// changes what it reports) when told to, else hands over.
#include <dlfcn.h>

#include <cstring>
#include <optional>

#include "conversion_testing.h"

using namespace utiltest;

namespace {

struct Deletion {
    std::u16string port;
    HWND window;
};

struct Faults {
    DWORD setPrinter = 0;
    DWORD deleteMonitor = 0;
    LSTATUS originalPortName = 0;
    std::optional<DWORD> jobStatus;     // the status every listed job reports
    std::optional<DWORD> monitorUi;     // the status of Xcv "MonitorUI"
    std::u16string monitorUiName;       // the UI module "MonitorUI" names instead of the real one
    int setPrinterCalls = 0;
    std::vector<Deletion> deletions;
};

Faults faults;

template <class Function>
Function libpal(Function, const char* name)
{
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

} // namespace

extern "C" {

BOOL WINAPI SetPrinterW(HANDLE hPrinter, DWORD Level, LPBYTE pPrinter, DWORD Command)
{
    ++faults.setPrinterCalls;
    if (faults.setPrinter) {
        SetLastError(faults.setPrinter);
        return FALSE;
    }
    return libpal(&SetPrinterW, "SetPrinterW")(hPrinter, Level, pPrinter, Command);
}

BOOL WINAPI DeletePortW(LPWSTR pName, HWND hWnd, LPWSTR pPortName)
{
    faults.deletions.push_back({pPortName ? pPortName : u"(null)", hWnd});
    return libpal(&DeletePortW, "DeletePortW")(pName, hWnd, pPortName);
}

BOOL WINAPI DeleteMonitorW(LPWSTR pName, LPWSTR pEnvironment, LPWSTR pMonitorName)
{
    if (faults.deleteMonitor) {
        SetLastError(faults.deleteMonitor);
        return FALSE;
    }
    return libpal(&DeleteMonitorW, "DeleteMonitorW")(pName, pEnvironment, pMonitorName);
}

LSTATUS RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData, DWORD cbData)
{
    if (faults.originalPortName && lpValueName && std::u16string(lpValueName) == u"OriginalPortName")
        return faults.originalPortName;
    return libpal(&RegSetValueExW, "RegSetValueExW")(hKey, lpValueName, Reserved, dwType, lpData, cbData);
}

BOOL WINAPI EnumJobsW(HANDLE hPrinter, DWORD FirstJob, DWORD NoJobs, DWORD Level, LPBYTE pJob, DWORD cbBuf,
                      LPDWORD pcbNeeded, LPDWORD pcReturned)
{
    BOOL listed = libpal(&EnumJobsW, "EnumJobsW")(hPrinter, FirstJob, NoJobs, Level, pJob, cbBuf, pcbNeeded, pcReturned);
    if (listed && faults.jobStatus && Level == 1 && pJob)
        for (DWORD i = 0; i < *pcReturned; ++i)
            reinterpret_cast<JOB_INFO_1W*>(pJob)[i].Status = *faults.jobStatus;
    return listed;
}

BOOL WINAPI XcvDataW(HANDLE hXcv, PCWSTR pszDataName, PBYTE pInputData, DWORD cbInputData, PBYTE pOutputData,
                     DWORD cbOutputData, PDWORD pcbOutputNeeded, PDWORD pdwStatus)
{
    bool monitorUi = pszDataName && std::u16string(pszDataName) == u"MonitorUI";
    if (monitorUi && faults.monitorUi) {
        *pdwStatus = *faults.monitorUi;
        return TRUE;
    }
    if (monitorUi && !faults.monitorUiName.empty()) {
        DWORD size = DWORD((faults.monitorUiName.size() + 1) * sizeof(WCHAR));
        *pcbOutputNeeded = size;
        *pdwStatus = cbOutputData < size ? ERROR_INSUFFICIENT_BUFFER : ERROR_SUCCESS;
        if (*pdwStatus == ERROR_SUCCESS)
            std::memcpy(pOutputData, faults.monitorUiName.c_str(), size);
        return TRUE;
    }
    return libpal(&XcvDataW, "XcvDataW")(hXcv, pszDataName, pInputData, cbInputData, pOutputData, cbOutputData,
                                         pcbOutputNeeded, pdwStatus);
}

} // extern "C"

namespace {

// A TCP/IP printer "Office" and a PrintHub LAN printer "Hub", both of the maker.
class Refused : public Installer {
protected:
    void SetUp() override
    {
        Installer::SetUp();
        faults = Faults();
        otherMonitors();
        tcpPort(u"IP_127.0.0.9", u"127.0.0.9");
        spoolertest::setStringValue(portKey(kHub, u"HUB_1"), u"Server Address", u"127.0.0.12");
        start();
        printer(u"Office", u"IP_127.0.0.9");
        printer(u"Hub", u"HUB_1");
        layInf();
    }
    void TearDown() override
    {
        faults = Faults();
        Installer::TearDown();
    }
    std::vector<std::u16string> deletedPorts() const
    {
        std::vector<std::u16string> ports;
        for (const Deletion& deletion : faults.deletions) {
            EXPECT_EQ(deletion.window, nullptr) << "deletions show no dialog";
            ports.push_back(deletion.port);
        }
        return ports;
    }
    // Neither the spooler nor the registry knows the port any more.
    void expectGone(const std::u16string& port)
    {
        EXPECT_FALSE(portListed(port)) << std::string(port.begin(), port.end());
        EXPECT_FALSE(keyExists(portKey(kPort2, port))) << std::string(port.begin(), port.end());
    }
    void expectUninstallSucceeds()
    {
        layInf();
        Session uninstall;
        EXPECT_EQ(run("JTMXUninstallPort", uninstall), 0u);
        EXPECT_EQ(exists(kPort2.c_str()), 0u);
    }
};

TEST_F(Refused, SetPrinterRefusedGives3AndTheNewPortsAreGone)
{
    faults.setPrinter = ERROR_ACCESS_DENIED;
    Session session;
    EXPECT_EQ(run("JTMXInstallPort", session), 0u) << "per-printer failures are only recorded";
    EXPECT_EQ(result(u"ChangePortResult", u"Office"), 3);
    EXPECT_EQ(result(u"ChangePortResult", u"Hub"), 3);
    EXPECT_EQ(resultCode(), -1);
    EXPECT_EQ(portOf(u"Office"), u"IP_127.0.0.9");
    EXPECT_EQ(portOf(u"Hub"), u"HUB_1");
    EXPECT_EQ(deletedPorts(), (std::vector<std::u16string>{u"KPX2_HUB_1", u"KPX2_IP_127.0.0.9"}))
        << "each new port deleted by its name, nothing else";
    expectGone(u"KPX2_IP_127.0.0.9");
    expectGone(u"KPX2_HUB_1");
    faults.setPrinter = 0;
    expectUninstallSucceeds();
}

TEST_F(Refused, UnwritableOriginalPortNameGives4AndThePrinterStays)
{
    faults.originalPortName = ERROR_ACCESS_DENIED;
    Session session;
    EXPECT_EQ(run("JTMXInstallPort", session), 0u);
    EXPECT_EQ(result(u"ChangePortResult", u"Office"), 4);
    EXPECT_EQ(result(u"ChangePortResult", u"Hub"), 4);
    EXPECT_EQ(faults.setPrinterCalls, 0) << "a printer is not moved to a port it could not come back from";
    EXPECT_EQ(portOf(u"Office"), u"IP_127.0.0.9");
    EXPECT_EQ(portOf(u"Hub"), u"HUB_1");
    EXPECT_EQ(deletedPorts(), (std::vector<std::u16string>{u"KPX2_HUB_1", u"KPX2_IP_127.0.0.9"}));
    expectGone(u"KPX2_IP_127.0.0.9");
    expectGone(u"KPX2_HUB_1");
    faults.originalPortName = 0;
    expectUninstallSucceeds();
}

TEST_F(Refused, AddPortSilentFailingGives2AndDeletesNothing)
{
    // Without JTRKMON2 the UI module finds no monitor to add the port to.
    Session session;
    EXPECT_EQ(toSpecialPort(session), 0u) << "the conversion ran";
    EXPECT_TRUE(session.logged(u"portname=HUB_1,specialportname=KPX2_HUB_1"));
    EXPECT_EQ(result(u"ChangePortResult", u"Office"), 2);
    EXPECT_EQ(result(u"ChangePortResult", u"Hub"), 2);
    EXPECT_EQ(portOf(u"Hub"), u"HUB_1");
    EXPECT_TRUE(faults.deletions.empty());
    EXPECT_EQ(faults.setPrinterCalls, 0);
}

TEST_F(Refused, PrintHubPrinterWithASpoolingJobGives5AndKeepsItsPort)
{
    HANDLE handle = nullptr;
    ASSERT_TRUE(OpenPrinterW((LPWSTR)u"Hub", &handle, nullptr));
    DOC_INFO_1W doc{(LPWSTR)u"letter", nullptr, (LPWSTR)u"RAW"};
    ASSERT_NE(StartDocPrinterW(handle, 1, (LPBYTE)&doc), 0u);
    Session session;
    EXPECT_EQ(run("JTMXInstallPort", session), 0u);
    EXPECT_EQ(result(u"ChangePortResult", u"Hub"), 5);
    EXPECT_EQ(portOf(u"Hub"), u"HUB_1");
    EXPECT_EQ(result(u"ChangePortResult", u"Office"), 0) << "the busy printer holds up no other";
    EXPECT_EQ(portOf(u"Office"), u"KPX2_IP_127.0.0.9");
    EXPECT_TRUE(faults.deletions.empty());
    EXPECT_FALSE(portListed(u"KPX2_HUB_1"));
    EndDocPrinter(handle);
    ClosePrinter(handle);
}

TEST_F(Refused, PrintHubPrinterWithAJobPrintingGives5AndOneWithAPrintedJobIsConverted)
{
    HANDLE handle = nullptr;
    ASSERT_TRUE(OpenPrinterW((LPWSTR)u"Hub", &handle, nullptr));
    DOC_INFO_1W doc{(LPWSTR)u"letter", nullptr, (LPWSTR)u"RAW"};
    ASSERT_NE(StartDocPrinterW(handle, 1, (LPBYTE)&doc), 0u);
    faults.jobStatus = JOB_STATUS_PRINTING;
    Session printing;
    EXPECT_EQ(run("JTMXInstallPort", printing), 0u);
    EXPECT_EQ(result(u"ChangePortResult", u"Hub"), 5) << "printing, no longer spooling";
    EXPECT_EQ(portOf(u"Hub"), u"HUB_1");

    WritePrivateProfileStringW(u"ChangePortResult", nullptr, nullptr, u"C:\\Temp\\JTRKSetup.ini");
    faults.jobStatus = JOB_STATUS_PRINTED;
    layInf();
    Session printed;
    EXPECT_EQ(run("JTMXInstallPortforReInst", printed), 0u);
    EXPECT_EQ(result(u"ChangePortResult", u"Hub"), 0);
    EXPECT_EQ(portOf(u"Hub"), u"KPX2_HUB_1");
    EndDocPrinter(handle);
    ClosePrinter(handle);
}

TEST_F(Refused, AMissingUiNameAloneGivesResultCode3)
{
    faults.monitorUi = ERROR_UNIDENTIFIED_ERROR;
    Session session;
    EXPECT_EQ(run("JTMXInstallPort", session), 0u);
    EXPECT_TRUE(session.logged(u"dwGetMonitorUiName failed. ErrorCode = 1287"));
    EXPECT_FALSE(session.logged(u"JTMXToSecialPort start."));
    EXPECT_EQ(resultCode(), 3);
    EXPECT_EQ(portOf(u"Office"), u"IP_127.0.0.9");
}

TEST_F(Refused, AFailedConversionAloneGivesResultCode3)
{
    faults.monitorUiName = u"NOSUCHUI.DLL";
    Session session;
    EXPECT_EQ(run("JTMXInstallPort", session), 0u);
    EXPECT_TRUE(session.logged(u"JTMXToSecialPort start."));
    EXPECT_TRUE(session.logged(u"JTMXToSecialPort failed. ErrorCode = 126"));
    EXPECT_EQ(resultCode(), 3);
    EXPECT_EQ(portOf(u"Office"), u"IP_127.0.0.9");
}

TEST_F(Refused, PrintHubPrinterWithoutSpecialNameDeletesNothing)
{
    std::u16string longPort = u"HUB_" + std::u16string(55, u'h');
    spoolertest::setStringValue(portKey(kHub, longPort), u"Server Address", u"127.0.0.13");
    printer(u"HubLong", longPort);
    Session session;
    EXPECT_EQ(run("JTMXInstallPort", session), 0u);
    EXPECT_EQ(result(u"ChangePortResult", u"HubLong"), 1);
    EXPECT_EQ(portOf(u"HubLong"), longPort);
    EXPECT_TRUE(faults.deletions.empty());
}

TEST_F(Refused, FailingDeleteMonitorGives104And1602)
{
    Session install;
    ASSERT_EQ(run("JTMXInstallPort", install), 0u);
    ASSERT_EQ(portOf(u"Office"), u"KPX2_IP_127.0.0.9");
    faults.deleteMonitor = ERROR_PRINT_MONITOR_IN_USE;
    layInf();
    Session uninstall;
    EXPECT_EQ(run("JTMXUninstallPort", uninstall), (UINT)ERROR_INSTALL_USEREXIT);
    EXPECT_TRUE(uninstall.logged(u"JTMXDeleteMonitor failed. ErrorCode = 3008"));
    ASSERT_EQ(uninstall.shown().size(), 1u);
    EXPECT_EQ(uninstall.shown()[0], INSTALLMESSAGE_ERROR);
    EXPECT_EQ(uninstall.shownText(0), u"TALLY-DESK Output Beacon Port2 の削除に失敗しました。\nアンインストール処理を中止します。");
    EXPECT_FALSE(uninstall.logged(u"JTMXUninstallPort success."));
    EXPECT_EQ(portOf(u"Office"), u"IP_127.0.0.9") << "printers went back before the monitor was asked to go";
    EXPECT_FALSE(portListed(u"KPX2_IP_127.0.0.9"));
    EXPECT_EQ(exists(kPort2.c_str()), 1u);
}

} // namespace
