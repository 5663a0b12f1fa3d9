// Device binding: the device address asked from the port monitor through the spooler host, the
// binding properties from the host program's INI file, and the rebinding after an ICMP echo from
// a local address found by walking the routes.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <iphlpapi.h>

#include "FakeDmlp.h"
#include "JTRKCLIB.h"
#include "Road.h"
#include "TempRoot.h"
#include "clDMLLIB.h"
#include "test_spooler_host.h"

#include "pal/testhooks.h"

using namespace clibtest;

namespace {

const WCHAR kPort[] = W("JT_127.0.0.5");
const DmlpInstance kInstance = 0x1234;
const char kProgram[] = "C:\\Vexil\\JTRKSVC2.exe";

void writeFile(const std::string& path, const std::string& text)
{
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path) << text;
}

DWORD ipv4(BYTE a, BYTE b, BYTE c, BYTE d)
{
    const BYTE bytes[4] = {a, b, c, d};
    DWORD address;
    memcpy(&address, bytes, 4);
    return address;
}

class Binding : public ::testing::Test {
protected:
    void SetUp() override
    {
        palSetModuleFileName(W("C:\\Vexil\\JTRKSVC2.exe"));
        ASSERT_TRUE(host.start());
        ASSERT_TRUE(road::addMonitor());
        ASSERT_EQ(road::addPort(road::rawPort(u"JT_127.0.0.5", u"127.0.0.5", 9100)), 0u);
    }
    void TearDown() override
    {
        EXPECT_EQ(host.stop(), 0);
        palSetModuleFileName(nullptr);
    }

    void ini(const std::string& text) { writeFile(root.file("drive_c/Vexil/JTRKSVC2.ini"), "[JTRKCLIB]\n" + text); }

    DmlpEPProperty boundWith(const std::string& settings)
    {
        ini(settings);
        DmlpBinding binding = nullptr;
        EXPECT_EQ(DMLLIB_SubscribeEvent(kInstance, kPort, 0, nullptr, &binding, nullptr, 0), 0x000A0006u);
        EXPECT_EQ(binding, FakeDmlp::newBinding());
        auto binds = fake.callsOf(kBind);
        return binds.empty() ? DmlpEPProperty{} : binds.back().property;
    }

    testsupport::TempRoot root;
    spoolertest::SpoolerHost host;
    FakeDmlp fake;
};

TEST_F(Binding, ModeZeroBindsToTheMonitorsAddressOnTheDevicePort)
{
    DmlpBinding binding = nullptr;
    fake.reply(kGet2, DMLP_TIMEOUT);
    EXPECT_EQ(DMLLIB_SubscribeEvent(kInstance, kPort, 0, nullptr, &binding, nullptr, 0), 0x000A0006u)
        << "bound; the support check timed out and without a callback nothing is subscribed";
    EXPECT_EQ(binding, FakeDmlp::newBinding());
    auto binds = fake.callsOf(kBind);
    ASSERT_EQ(binds.size(), 1u);
    EXPECT_EQ(binds[0].peer.kind, DMLP_ADDRESS_UDP);
    EXPECT_EQ(binds[0].peer.u.inet.address[0], 127);
    EXPECT_EQ(binds[0].peer.u.inet.address[3], 5);
    EXPECT_EQ(binds[0].peer.u.inet.port, 47545);
    EXPECT_FALSE(binds[0].hasLocal);
    EXPECT_EQ(binds[0].property.timeout, 5000u);
    EXPECT_EQ(binds[0].property.transmissions, 2);
}

TEST_F(Binding, PropertiesFromTheIniFile)
{
    EXPECT_EQ(boundWith("Timeout=1200\nRetry=4\n").timeout, 1200u);
    EXPECT_EQ(boundWith("Timeout=1200\nRetry=4\n").transmissions, 4);
    EXPECT_EQ(boundWith("Timeout=0\nRetry=0\n").timeout, 5000u);
    EXPECT_EQ(boundWith("Retry=0\n").transmissions, 2);
    EXPECT_EQ(boundWith("Retry=256\n").transmissions, 2);
    EXPECT_EQ(boundWith("Retry=-1\n").transmissions, 2);
    EXPECT_EQ(boundWith("Retry=255\n").transmissions, 255);
    EXPECT_EQ(boundWith("Timeout=-1\n").timeout, 5000u) << "beyond the engine's 32-bit deadlines";
    EXPECT_EQ(boundWith("Timeout=2147483648\n").timeout, 5000u);
    EXPECT_EQ(boundWith("Timeout=2147483647\n").timeout, 2147483647u);
}

TEST_F(Binding, NoAddressMeansNoBindingAndNoTraffic)
{
    DmlpBinding binding = nullptr;
    EXPECT_EQ(DMLLIB_SubscribeEvent(kInstance, W("JT_UNKNOWN"), 0, nullptr, &binding, nullptr, 0), 0x0003FFF0u);
    ASSERT_EQ(road::addPort(road::rawPort(u"JT_NAMED", u"printer.example", 9100)), 0u);
    EXPECT_EQ(DMLLIB_SubscribeEvent(kInstance, W("JT_NAMED"), 0, nullptr, &binding, nullptr, 0), 0x0003FFF0u);
    EXPECT_EQ(binding, nullptr);
    EXPECT_TRUE(fake.calls().empty());
}

TEST_F(Binding, ARefusedBindLeavesNoBinding)
{
    fake.answer(kBind, DMLP_TRANSPORT_FAILURE);
    DmlpBinding binding = nullptr;
    EXPECT_EQ(DMLLIB_SubscribeEvent(kInstance, kPort, 0, nullptr, &binding, nullptr, 0), 0x00038001u);
    EXPECT_EQ(binding, nullptr);
    EXPECT_EQ(fake.calls().size(), 1u) << "nothing after the bind";
}

TEST_F(Binding, ASilentDeviceKeepsTheBinding)
{
    palSetTimeScale(0.001);
    writeFile(root.file("config/icmp"), "127.0.0.5 silent\n");
    DmlpBinding binding = FakeDmlp::binding();
    EXPECT_EQ(DMLLIB_ResetBind(kInstance, kPort, &binding, 47616), 0u);
    EXPECT_EQ(binding, FakeDmlp::binding());
    EXPECT_TRUE(fake.calls().empty());
    palSetTimeScale(1.0);
}

TEST_F(Binding, AnUnreachableReplyIsNoAnswer)
{
    writeFile(root.file("config/icmp"), "127.0.0.5 unreachable\n");
    DmlpBinding binding = FakeDmlp::binding();
    EXPECT_EQ(DMLLIB_ResetBind(kInstance, kPort, &binding, 47616), 0u);
    EXPECT_EQ(binding, FakeDmlp::binding());
    EXPECT_TRUE(fake.calls().empty());
}

TEST_F(Binding, AnAnsweringDeviceIsBoundAgainFromTheLocalAddressAndPort)
{
    writeFile(root.file("config/icmp"), "127.0.0.5 reply\n");
    writeFile(root.file("config/routes"), "127.0.0.5/32 direct 127.0.0.9\n");
    DmlpBinding binding = FakeDmlp::binding();
    EXPECT_EQ(DMLLIB_ResetBind(kInstance, kPort, &binding, 47616), 1u);
    EXPECT_EQ(binding, FakeDmlp::newBinding());
    auto calls = fake.calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].method, kUnbind);
    EXPECT_EQ(calls[0].binding, FakeDmlp::binding());
    ASSERT_EQ(calls[1].method, kBind);
    ASSERT_TRUE(calls[1].hasLocal);
    EXPECT_EQ(calls[1].local.kind, DMLP_ADDRESS_UDP);
    DWORD local;
    memcpy(&local, calls[1].local.u.inet.address, 4);
    EXPECT_EQ(local, ipv4(127, 0, 0, 9));
    EXPECT_EQ(calls[1].local.u.inet.port, 47616) << "the number, host order";
    EXPECT_EQ(calls[1].peer.u.inet.port, 47545);
}

TEST_F(Binding, AFailedNewBindGivesItsStatusAndNoBinding)
{
    writeFile(root.file("config/icmp"), "127.0.0.5 reply\n");
    fake.answer(kBind, DMLP_TRANSPORT_FAILURE);
    DmlpBinding binding = FakeDmlp::binding();
    EXPECT_EQ(DMLLIB_ResetBind(kInstance, kPort, &binding, 47616), 0x8001u);
    EXPECT_EQ(binding, nullptr);
    EXPECT_EQ(fake.callsOf(kUnbind).size(), 1u);
}

// The port's device address changes to a name the monitor cannot give as an address while the
// old binding is dropped: the new binding is built from what was gathered before.
DmlpStatus unbindWhileThePortChanges(DmlpBinding binding)
{
    HKEY key = nullptr;
    const WCHAR path[] =
        W("SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\TALLY-DESK Output Beacon Port2\\Ports\\JT_127.0.0.5");
    const WCHAR name[] = W("printer.example");
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
        RegSetValueExW(key, W("ServerName"), 0, REG_SZ, reinterpret_cast<const BYTE*>(name), sizeof name);
        RegCloseKey(key);
    }
    Call call;
    call.method = kUnbind;
    call.binding = binding;
    return FakeDmlp::current->status(kUnbind, call);
}

TEST_F(Binding, TheNewBindingNeedsNoSecondAddressLookup)
{
    writeFile(root.file("config/icmp"), "127.0.0.5 reply\n");
    g_DmlpEntries.Unbind = unbindWhileThePortChanges;
    DmlpBinding binding = FakeDmlp::binding();
    EXPECT_EQ(DMLLIB_ResetBind(kInstance, kPort, &binding, 47616), 1u);
    EXPECT_EQ(binding, FakeDmlp::newBinding());
    ASSERT_EQ(fake.callsOf(kBind).size(), 1u);
    EXPECT_EQ(fake.callsOf(kBind)[0].peer.u.inet.address[3], 5);
    DmlpBinding none = nullptr;
    EXPECT_EQ(DMLLIB_SubscribeEvent(kInstance, kPort, 0, nullptr, &none, nullptr, 0), 0x0003FFF0u)
        << "the port no longer gives an address";
}

// ---- Route walk ---------------------------------------------------------------------------------

class RouteWalk : public ::testing::Test {
protected:
    DWORD localFor(const std::string& routes)
    {
        writeFile(root.file("config/routes"), routes);
        const ClibIPv4 device = {10, 1, 2, 3};
        return ClibLocalAddressFor(device);
    }
    DWORD firstTableAddress()
    {
        ULONG size = 0;
        GetIpAddrTable(nullptr, &size, FALSE);
        std::vector<BYTE> room(size);
        auto* table = reinterpret_cast<MIB_IPADDRTABLE*>(room.data());
        return GetIpAddrTable(table, &size, FALSE) == NO_ERROR && table->dwNumEntries ? table->table[0].dwAddr : 0;
    }
    testsupport::TempRoot root;
};

TEST_F(RouteWalk, DirectRouteNamesTheInterface)
{
    EXPECT_EQ(localFor("10.1.0.0/16 direct 10.1.0.7\n"), ipv4(10, 1, 0, 7));
}

TEST_F(RouteWalk, TwoHopsEndAtTheInterfaceTowardsTheFirstRouter)
{
    EXPECT_EQ(localFor("10.1.0.0/16 via 10.2.0.1\n10.2.0.1/32 via 10.3.0.1\n10.3.0.0/16 direct 10.3.0.9\n"),
              ipv4(10, 3, 0, 9));
}

TEST_F(RouteWalk, LoopsLongWalksAndNoRouteFallBackToTheAddressTable)
{
    DWORD fallback = firstTableAddress();
    EXPECT_EQ(localFor("10.1.0.0/16 via 10.2.0.1\n10.2.0.1/32 via 10.1.0.1\n"), fallback) << "a loop";
    EXPECT_EQ(localFor("10.0.0.0/8 none\n"), fallback) << "no route";
    std::string chain;
    for (int i = 1; i <= 9; ++i)
        chain += "10." + std::to_string(i) + ".0.0/16 via 10." + std::to_string(i + 1) + ".0.1\n";
    chain += "10.10.0.0/16 direct 10.10.0.5\n";
    EXPECT_EQ(localFor(chain), fallback) << "more than eight steps";
}

} // namespace
