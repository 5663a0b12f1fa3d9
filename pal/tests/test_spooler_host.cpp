// The spooler host: loading monitors from the registry, their registry callbacks, start and stop.
#include "test_spooler_host.h"

#include "TempRoot.h"
#include "pal/system.h"

using namespace spoolertest;

namespace {

std::vector<std::u16string> monitorNames()
{
    DWORD needed = 0;
    DWORD count = 0;
    EXPECT_FALSE(EnumMonitorsW(nullptr, 1, nullptr, 0, &needed, &count));
    std::vector<BYTE> buffer(needed);
    EXPECT_TRUE(EnumMonitorsW(nullptr, 1, buffer.data(), needed, &needed, &count));
    std::vector<std::u16string> names;
    for (DWORD i = 0; i < count; ++i)
        names.push_back(reinterpret_cast<MONITOR_INFO_1W*>(buffer.data())[i].pName);
    return names;
}

TEST(SpoolerHost, LoadsRegisteredMonitorsThroughTheirDriverValue)
{
    testsupport::TempRoot root;
    registerTestMonitor(u"Test Monitor A", {u"P1"});
    registerTestMonitor(u"Test Monitor B", {u"Q1"});
    SpoolerHost host;
    ASSERT_TRUE(host.start());

    // Subkeys are enumerated in the order of their upper-cased names.
    EXPECT_EQ(monitorNames(), (std::vector<std::u16string>{u"Test Monitor A", u"Test Monitor B"}));
    EXPECT_EQ(host.stop(), 0);
}

TEST(SpoolerHost, RegistryCallbacksWorkBelowTheMonitorsKey)
{
    testsupport::TempRoot root;
    registerTestMonitor(u"Test Monitor A", {u"P1", u"P2"}, u"Described in the registry");
    SpoolerHost host;
    ASSERT_TRUE(host.start());

    // InitializePrintMonitor2 read its description and ports through fpQueryValue, fpOpenKey,
    // fpQueryInfoKey and fpEnumKey, and wrote with fpSetValue and fpCreateKey.
    EXPECT_EQ(readDword(monitorKey(u"Test Monitor A"), W("InitCount")), 1u);
    EXPECT_EQ(readDword(monitorKey(u"Test Monitor A") + u"\\State", W("Loaded")), 1u);
    DWORD needed = 0;
    DWORD count = 0;
    EnumPortsW(nullptr, 2, nullptr, 0, &needed, &count);
    std::vector<BYTE> buffer(needed);
    ASSERT_TRUE(EnumPortsW(nullptr, 2, buffer.data(), needed, &needed, &count));
    ASSERT_EQ(count, 2u);
    auto* ports = reinterpret_cast<PORT_INFO_2W*>(buffer.data());
    EXPECT_EQ(std::u16string(ports[0].pPortName), u"P1");
    EXPECT_EQ(std::u16string(ports[1].pPortName), u"P2");
    EXPECT_EQ(std::u16string(ports[0].pDescription), u"Described in the registry");

    // Shutdown is called when the host stops, while the callbacks still work.
    EXPECT_FALSE(readDword(monitorKey(u"Test Monitor A"), W("Shutdown")).has_value());
    EXPECT_EQ(host.stop(), 0);
    EXPECT_EQ(readDword(monitorKey(u"Test Monitor A"), W("Shutdown")), 1u);
}

TEST(SpoolerHost, MonitorsThatCannotLoadAreLeftOut)
{
    testsupport::TempRoot root;
    registerTestMonitor(u"Broken Init", {u"B1"});
    setDwordValue(monitorKey(u"Broken Init"), W("FailInit"), 1);
    setStringValue(monitorKey(u"Missing Module"), W("Driver"), u"NOSUCHMON.DLL");
    setDwordValue(monitorKey(u"No Driver Value"), W("Other"), 1);
    registerTestMonitor(u"Working", {u"W1"});
    SpoolerHost host;
    ASSERT_TRUE(host.start());

    EXPECT_EQ(monitorNames(), std::vector<std::u16string>{u"Working"});
    // The failed registrations stay in the registry, as they were.
    EXPECT_TRUE(keyExists(monitorKey(u"Missing Module")));
    EXPECT_EQ(host.stop(), 0);
}

TEST(SpoolerHost, WithoutAHostEveryCallFailsWith1722)
{
    testsupport::TempRoot root;
    DWORD needed = 0;
    DWORD count = 0;
    EXPECT_FALSE(EnumPortsW(nullptr, 1, nullptr, 0, &needed, &count));
    EXPECT_EQ(GetLastError(), DWORD(RPC_S_SERVER_UNAVAILABLE));
    EXPECT_FALSE(EnumMonitorsW(nullptr, 1, nullptr, 0, &needed, &count));
    EXPECT_EQ(GetLastError(), DWORD(RPC_S_SERVER_UNAVAILABLE));

    XcvHandle xcv(u",XcvMonitor Test Monitor A");
    EXPECT_FALSE(xcv.opened());
    EXPECT_EQ(xcv.error(), DWORD(RPC_S_SERVER_UNAVAILABLE));

    std::u16string name = u"M";
    std::u16string dll = u"TESTMON.DLL";
    MONITOR_INFO_2W info = {name.data(), nullptr, dll.data()};
    EXPECT_FALSE(AddMonitorW(nullptr, 2, reinterpret_cast<LPBYTE>(&info)));
    EXPECT_EQ(GetLastError(), DWORD(RPC_S_SERVER_UNAVAILABLE));
}

TEST(SpoolerHost, AfterTheHostStopsCallsFailWith1722Again)
{
    testsupport::TempRoot root;
    registerTestMonitor(u"Test Monitor A", {u"P1"});
    SpoolerHost host;
    ASSERT_TRUE(host.start());
    XcvHandle xcv(u",XcvPort P1");
    ASSERT_TRUE(xcv.opened());
    EXPECT_EQ(host.stop(), 0);

    // The open handle's connection is gone: the call fails, it does not hang.
    std::vector<BYTE> output(4);
    EXPECT_EQ(xcv.call(W("GrantedAccess"), {}, output), ~0u);
    EXPECT_EQ(GetLastError(), DWORD(RPC_S_CALL_FAILED));
    DWORD needed = 0;
    DWORD count = 0;
    EXPECT_FALSE(EnumPortsW(nullptr, 1, nullptr, 0, &needed, &count));
    EXPECT_EQ(GetLastError(), DWORD(RPC_S_SERVER_UNAVAILABLE));
}

std::u16string threadUser()
{
    WCHAR name[UNLEN + 1];
    DWORD size = UNLEN + 1;
    return GetUserNameW(name, &size) ? std::u16string(name) : std::u16string();
}

TEST(SpoolerHost, PrinterClientTokenIsHandedBackOnce)
{
    HANDLE token = RevertToPrinterSelf();
    ASSERT_NE(token, nullptr);
    EXPECT_TRUE(ImpersonatePrinterClient(token));
    EXPECT_FALSE(ImpersonatePrinterClient(token));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
}

TEST(SpoolerHost, RevertToPrinterSelfSuspendsTheThreadsUserUntilItIsImpersonatedAgain)
{
    const std::u16string self = threadUser();
    ASSERT_NE(self, u"dave");
    palSetThreadUserName(W("dave"));
    HANDLE token = RevertToPrinterSelf();
    EXPECT_EQ(threadUser(), self);
    // The token brings back its user, whatever the thread ran as since.
    palSetThreadUserName(W("erin"));
    EXPECT_TRUE(ImpersonatePrinterClient(token));
    EXPECT_EQ(threadUser(), u"dave");
    palSetThreadUserName(nullptr);
    // A thread that runs as itself stays so.
    token = RevertToPrinterSelf();
    EXPECT_TRUE(ImpersonatePrinterClient(token));
    EXPECT_EQ(threadUser(), self);
}

TEST(SpoolerHost, OneHostPerPlatformRoot)
{
    testsupport::TempRoot root;
    SpoolerHost first;
    ASSERT_TRUE(first.start());
    SpoolerHost second;
    EXPECT_FALSE(second.start());
    EXPECT_EQ(second.wait(), 1);
    EXPECT_EQ(first.stop(), 0);
}

TEST(SpoolerHost, CommandLine)
{
    testsupport::TempRoot root;
    ProgramResult help = runProgram({"spoolsv", "--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.output.find("usage: spoolsv"), std::string::npos);
    EXPECT_EQ(runProgram({"spoolsv", "--bogus"}).exitCode, 2);

    // --root names the platform root instead of PAL_ROOT.
    testsupport::TempRoot other;
    registerTestMonitor(u"Elsewhere", {u"E1"});
    unsetenv("PAL_ROOT");
    SpoolerHost host;
    ASSERT_TRUE(host.start({"--root", other.path()}));
    setenv("PAL_ROOT", other.path().c_str(), 1);
    EXPECT_EQ(monitorNames(), std::vector<std::u16string>{u"Elsewhere"});
    EXPECT_EQ(host.stop(), 0);
}

} // namespace
