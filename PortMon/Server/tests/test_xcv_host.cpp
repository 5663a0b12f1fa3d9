// The monitor inside the spooler host, configured from this process through the spooler's Xcv calls.
#include <cstring>

#include "TempRoot.h"
#include "monitor_harness.h"
#include "test_spooler_host.h"

using namespace montest;
using spoolertest::SpoolerHost;
using spoolertest::XcvHandle;

namespace {

const std::u16string kMonitor = u"TALLY-DESK Output Beacon Port2";
const std::u16string kXcvMonitor = u",XcvMonitor " + kMonitor;

std::vector<std::u16string> portsOfMonitor(const std::u16string& monitorDll)
{
    DWORD needed = 0;
    DWORD count = 0;
    EnumPortsW(nullptr, 2, nullptr, 0, &needed, &count);
    std::vector<uint64_t> storage(needed / 8 + 1);
    std::vector<std::u16string> names;
    if (!EnumPortsW(nullptr, 2, (LPBYTE)storage.data(), needed, &needed, &count))
        return names;
    auto* ports = reinterpret_cast<PORT_INFO_2W*>(storage.data());
    for (DWORD i = 0; i < count; i++) {
        if (monitorDll == ports[i].pMonitorName) {
            names.push_back(ports[i].pPortName);
            EXPECT_EQ(std::u16string(ports[i].pDescription), kMonitor);
        }
    }
    return names;
}

std::vector<BYTE> recordBytes(const PortConfigData& config)
{
    return bytesOf(&config, sizeof(config));
}

std::vector<BYTE> deleteBytes(const std::u16string& name)
{
    DELETE_PORT_DATA_1 data = {};
    setField(data.psztPortName, _countof(data.psztPortName), name);
    data.dwVersion = 1;
    return bytesOf(&data, sizeof(data));
}

void registerMonitorByHand()
{
    writeString(kMonitorKey, u"Driver", u"JTRKMON2.DLL");
}

bool addMonitor()
{
    MONITOR_INFO_2W info = {(LPWSTR)kMonitor.c_str(), nullptr, (LPWSTR)u"JTRKMON2.DLL"};
    return AddMonitorW(nullptr, 2, (LPBYTE)&info);
}

TEST(MonHost, LoadsItsPortsFromTheRegistry)
{
    testsupport::TempRoot root;
    registerMonitorByHand();
    writePortKeys(defaultConfig(u"JT_A", u"127.0.0.5"));
    writePortKeys(defaultConfig(u"JT_B", u"127.0.0.6"));
    SpoolerHost host;
    ASSERT_TRUE(host.start());
    EXPECT_EQ(portsOfMonitor(u"JTRKMON2.DLL"), (std::vector<std::u16string>{u"JT_A", u"JT_B"}));
    EXPECT_EQ(host.stop(), 0);
}

TEST(MonHost, ABrokenPortKeepsTheMonitorOut)
{
    testsupport::TempRoot root;
    registerMonitorByHand();
    writePortKeys(defaultConfig(u"JT_A", u"127.0.0.5"));
    deleteValue(portKey(u"JT_A", true), u"RetryCount");
    SpoolerHost host;
    ASSERT_TRUE(host.start());
    EXPECT_TRUE(portsOfMonitor(u"JTRKMON2.DLL").empty());
    XcvHandle xcv(kXcvMonitor);
    EXPECT_FALSE(xcv.opened());
    EXPECT_EQ(host.stop(), 0);
}

TEST(MonHost, PortsAreConfiguredThroughXcvFromAnotherProcess)
{
    testsupport::TempRoot root;
    SpoolerHost host;
    ASSERT_TRUE(host.start());
    ASSERT_TRUE(addMonitor()) << GetLastError();

    XcvHandle monitorXcv(kXcvMonitor);
    ASSERT_TRUE(monitorXcv.opened()) << monitorXcv.error();
    std::vector<BYTE> none;
    std::vector<BYTE> exists(4, 0xFF);
    DWORD needed = 0;
    EXPECT_EQ(monitorXcv.call(W("PortExist"), spoolertest::bytesOf(u"JT_A"), exists, &needed), 0u);
    EXPECT_EQ(exists, (std::vector<BYTE>{0, 0, 0, 0}));

    PortConfigData config = defaultConfig(u"JT_A", u"127.0.0.5");
    setField(config.sztOriginalPortName, 64, u"IP_127.0.0.5");
    EXPECT_EQ(monitorXcv.call(W("AddPort"), recordBytes(config), none), 0u);
    EXPECT_EQ(monitorXcv.call(W("AddPort"), recordBytes(config), none), (DWORD)ERROR_ALREADY_EXISTS);
    EXPECT_EQ(portsOfMonitor(u"JTRKMON2.DLL"), std::vector<std::u16string>{u"JT_A"});
    EXPECT_EQ(monitorXcv.call(W("PortExist"), spoolertest::bytesOf(u"jt_a"), exists, &needed), 0u);
    EXPECT_EQ(exists, (std::vector<BYTE>{1, 0, 0, 0}));
    EXPECT_EQ(needed, 4u);

    std::vector<BYTE> ui(28);
    EXPECT_EQ(monitorXcv.call(W("MonitorUI"), none, ui, &needed), 0u);
    EXPECT_EQ(std::u16string((const char16_t*)ui.data()), u"JTRKMNUI2.DLL");

    config.dwPortNumber = 9200;
    config.dwRetryCount = 1;
    EXPECT_EQ(monitorXcv.call(W("ConfigPort"), recordBytes(config), none), 0u);
    std::vector<BYTE> info(sizeof(PortConfigData));
    EXPECT_EQ(monitorXcv.call(W("GetConfigInfo"), recordBytes(config), info, &needed), 0u);
    EXPECT_EQ(needed, 508u);
    PortConfigData read;
    std::memcpy(&read, info.data(), sizeof(read));
    EXPECT_EQ(read.dwPortNumber, 9200u);
    EXPECT_EQ(read.dwRetryCount, 1u);
    EXPECT_EQ(std::u16string(read.sztServerName), u"127.0.0.5");

    std::vector<BYTE> original(64);
    EXPECT_EQ(monitorXcv.call(W("GetOriginalPortName"), recordBytes(config), original, &needed), 0u);
    EXPECT_EQ(std::u16string((const char16_t*)original.data()), u"IP_127.0.0.5");

    {
        XcvHandle portXcv(u",XcvPort JT_A", std::nullopt);  // no access asked: the service's way
        ASSERT_TRUE(portXcv.opened()) << portXcv.error();
        std::vector<BYTE> address(30, 0);
        EXPECT_EQ(portXcv.call(W("GetIPAddress"), none, address, &needed), 0u);
        EXPECT_EQ(std::vector<BYTE>(address.begin(), address.begin() + 4), (std::vector<BYTE>{127, 0, 0, 5}));
        EXPECT_EQ(portXcv.call(W("SetPausedFlag"), {0x2A, 0, 0, 0}, none), 0u);
        EXPECT_EQ(portXcv.call(W("Restart"), none, none), (DWORD)ERROR_NOT_SUPPORTED);
        // Configuration needs administer access.
        EXPECT_EQ(portXcv.call(W("ConfigPort"), recordBytes(config), none), (DWORD)ERROR_ACCESS_DENIED);
    }

    EXPECT_EQ(monitorXcv.call(W("DeletePort"), deleteBytes(u"JT_A"), none), 0u);
    EXPECT_TRUE(portsOfMonitor(u"JTRKMON2.DLL").empty());
    EXPECT_FALSE(keyExists(portKey(u"JT_A")));
    EXPECT_EQ(host.stop(), 0);
}

TEST(MonHost, PortsOutliveARestartAndDeletePortWorks)
{
    testsupport::TempRoot root;
    {
        SpoolerHost host;
        ASSERT_TRUE(host.start());
        ASSERT_TRUE(addMonitor());
        XcvHandle xcv(kXcvMonitor);
        std::vector<BYTE> none;
        EXPECT_EQ(xcv.call(W("AddPort"), recordBytes(defaultConfig(u"JT_A", u"127.0.0.5")), none), 0u);
        EXPECT_EQ(xcv.call(W("AddPort"), recordBytes(defaultConfig(u"JT_B", u"127.0.0.6")), none), 0u);
    }
    SpoolerHost host;
    ASSERT_TRUE(host.start());
    EXPECT_EQ(portsOfMonitor(u"JTRKMON2.DLL"), (std::vector<std::u16string>{u"JT_A", u"JT_B"}));
    EXPECT_TRUE(DeletePortW(nullptr, nullptr, (LPWSTR)u"JT_B")) << GetLastError();
    EXPECT_EQ(portsOfMonitor(u"JTRKMON2.DLL"), std::vector<std::u16string>{u"JT_A"});
    EXPECT_EQ(host.stop(), 0);
}

TEST(MonHost, NonAdministratorsCannotChangePorts)
{
    testsupport::TempRoot root;
    registerMonitorByHand();
    writePortKeys(defaultConfig(u"JT_A", u"127.0.0.5"));
    SpoolerHost host;
    ASSERT_TRUE(host.start({"--non-admin"}));
    XcvHandle xcv(kXcvMonitor);
    ASSERT_TRUE(xcv.opened());
    std::vector<BYTE> none;
    EXPECT_EQ(xcv.call(W("AddPort"), recordBytes(defaultConfig(u"JT_B", u"127.0.0.6")), none),
              (DWORD)ERROR_ACCESS_DENIED);
    EXPECT_EQ(xcv.call(W("DeletePort"), deleteBytes(u"JT_A"), none), (DWORD)ERROR_ACCESS_DENIED);
    std::vector<BYTE> info(sizeof(PortConfigData));
    EXPECT_EQ(xcv.call(W("GetConfigInfo"), recordBytes(defaultConfig(u"JT_A", u"")), info), 0u);
    EXPECT_EQ(host.stop(), 0);
}

} // namespace
