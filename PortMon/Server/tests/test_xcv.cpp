// The Xcv methods in the monitor's own process: the error-code contract and the round trips.
#include <atomic>
#include <cstring>
#include <functional>
#include <thread>

#include <gtest/gtest.h>

#include "TempRoot.h"
#include "monitor_harness.h"

using namespace montest;

namespace {

const std::u16string kMonitor = u"TALLY-DESK Output Beacon Port2";
constexpr DWORD kAnyNeeded = 0xFFFFFFFF;

class MonXcv : public ::testing::Test {
protected:
    void SetUp() override
    {
        writePortKeys(defaultConfig(u"P1", u"127.0.0.5"));
        writeString(portKey(u"P1"), u"Original PortNname", u"OLD1");
        ASSERT_TRUE(monitor.load());
    }

    DWORD addPort(const PortConfigData& config)
    {
        return monitor.xcv(kMonitor, W("AddPort"), &config, sizeof(config), nullptr, 0);
    }

    DWORD deletePort(const std::u16string& name)
    {
        DELETE_PORT_DATA_1 data = {};
        setField(data.psztPortName, _countof(data.psztPortName), name);
        data.dwVersion = 1;
        return monitor.xcv(kMonitor, W("DeletePort"), &data, sizeof(data), nullptr, 0);
    }

    DWORD getConfigInfo(const std::u16string& name, PortConfigData& output)
    {
        PortConfigData input = {};
        setField(input.sztPortName, _countof(input.sztPortName), name);
        DWORD needed = 0;
        return monitor.xcv(kMonitor, W("GetConfigInfo"), &input, sizeof(input), &output, sizeof(output), &needed);
    }

    testsupport::TempRoot root;
    LoadedMonitor monitor;
};

std::vector<BYTE> configBytes(const std::function<void(PortConfigData&)>& change)
{
    PortConfigData config = defaultConfig(u"NEW1", u"127.0.0.7");
    change(config);
    return bytesOf(&config, sizeof(config));
}

std::vector<BYTE> configBytesSized(size_t size)
{
    std::vector<BYTE> bytes = configBytes([](PortConfigData&) {});
    bytes.resize(size, 0);
    return bytes;
}

std::vector<BYTE> nameBytes(const std::u16string& name)
{
    PortConfigData config = {};
    setField(config.sztPortName, _countof(config.sztPortName), name);
    return bytesOf(&config, sizeof(config));
}

std::vector<BYTE> deleteBytes(const std::u16string& name, DWORD version, size_t size = sizeof(DELETE_PORT_DATA_1))
{
    DELETE_PORT_DATA_1 data = {};
    setField(data.psztPortName, _countof(data.psztPortName), name);
    data.dwVersion = version;
    std::vector<BYTE> bytes = bytesOf(&data, sizeof(data));
    bytes.resize(size, 0);
    return bytes;
}

std::vector<BYTE> textBytes(const std::u16string& text, bool terminated = true)
{
    std::vector<BYTE> bytes = bytesOf(text.c_str(), (text.size() + (terminated ? 1 : 0)) * sizeof(WCHAR));
    return bytes;
}

struct XcvCase {
    const char* what;
    std::u16string object;
    const char16_t* method;
    bool admin;
    std::vector<BYTE> input;
    bool nullInput;
    DWORD cbOutput;
    bool nullOutput;
    bool withNeeded;
    DWORD expected;
    DWORD expectedNeeded;
    bool zeroSize = false;  // input given with size 0
};

// Every error code of every method, and the input that leads to it.
TEST_F(MonXcv, ErrorCodeContract)
{
    const std::u16string P1 = u"P1";
    const std::vector<BYTE> none;
    const std::vector<BYTE> good = configBytes([](PortConfigData&) {});
    const std::vector<XcvCase> cases = {
        {"AddPort without input", kMonitor, u"AddPort", true, none, true, 0, true, true, 13, kAnyNeeded},
        {"AddPort 507 bytes", kMonitor, u"AddPort", true, configBytesSized(507), false, 0, true, true, 13, kAnyNeeded},
        {"AddPort 509 bytes", kMonitor, u"AddPort", true, configBytesSized(509), false, 0, true, true, 13, kAnyNeeded},
        {"AddPort without administer access", kMonitor, u"AddPort", false, good, false, 0, true, true, 5, kAnyNeeded},
        {"AddPort name filling its field", kMonitor, u"AddPort", true,
         configBytes([](PortConfigData& c) { std::fill_n(c.sztPortName, 64, u'N'); }), false, 0, true, true, 13,
         kAnyNeeded},
        {"AddPort server filling its field", kMonitor, u"AddPort", true,
         configBytes([](PortConfigData& c) { std::fill_n(c.sztServerName, 64, u'1'); }), false, 0, true, true, 13,
         kAnyNeeded},
        {"AddPort original name filling its field", kMonitor, u"AddPort", true,
         configBytes([](PortConfigData& c) { std::fill_n(c.sztOriginalPortName, 64, u'O'); }), false, 0, true, true,
         13, kAnyNeeded},
        {"AddPort queue filling its field", kMonitor, u"AddPort", true,
         configBytes([](PortConfigData& c) { std::fill_n(c.sztQueue, 33, u'q'); }), false, 0, true, true, 13,
         kAnyNeeded},
        {"AddPort empty name", kMonitor, u"AddPort", true,
         configBytes([](PortConfigData& c) { setField(c.sztPortName, 64, u""); }), false, 0, true, true, 161,
         kAnyNeeded},
        {"AddPort name with a backslash", kMonitor, u"AddPort", true,
         configBytes([](PortConfigData& c) { setField(c.sztPortName, 64, u"A\\B"); }), false, 0, true, true, 161,
         kAnyNeeded},
        {"AddPort empty server", kMonitor, u"AddPort", true,
         configBytes([](PortConfigData& c) { setField(c.sztServerName, 64, u""); }), false, 0, true, true, 13,
         kAnyNeeded},
        {"AddPort existing name in other case", kMonitor, u"AddPort", true,
         configBytes([](PortConfigData& c) { setField(c.sztPortName, 64, u"p1"); }), false, 0, true, true, 183,
         kAnyNeeded},
        {"AddPort protocol 3", kMonitor, u"AddPort", true,
         configBytes([](PortConfigData& c) { c.dwProtocol = 3; }), false, 0, true, true, 1287, kAnyNeeded},

        {"ConfigPort without input", kMonitor, u"ConfigPort", true, none, true, 0, true, true, 13, kAnyNeeded},
        {"ConfigPort 507 bytes", kMonitor, u"ConfigPort", true, configBytesSized(507), false, 0, true, true, 13,
         kAnyNeeded},
        {"ConfigPort without administer access", kMonitor, u"ConfigPort", false, nameBytes(P1), false, 0, true, true,
         5, kAnyNeeded},
        {"ConfigPort name filling its field", kMonitor, u"ConfigPort", true, nameBytes(std::u16string(64, u'N')),
         false, 0, true, true, 13, kAnyNeeded},
        {"ConfigPort unknown port", kMonitor, u"ConfigPort", true, nameBytes(u"NOPE"), false, 0, true, true, 1287,
         kAnyNeeded},

        {"DeletePort without input", kMonitor, u"DeletePort", true, none, true, 0, true, true, 13, kAnyNeeded},
        {"DeletePort 235 bytes", kMonitor, u"DeletePort", true, deleteBytes(P1, 1, 235), false, 0, true, true, 13,
         kAnyNeeded},
        {"DeletePort version 2", kMonitor, u"DeletePort", true, deleteBytes(P1, 2), false, 0, true, true, 124,
         kAnyNeeded},
        {"DeletePort version 2 is told before access", kMonitor, u"DeletePort", false, deleteBytes(P1, 2), false, 0,
         true, true, 124, kAnyNeeded},
        {"DeletePort without administer access", kMonitor, u"DeletePort", false, deleteBytes(P1, 1), false, 0, true,
         true, 5, kAnyNeeded},
        {"DeletePort name filling its field", kMonitor, u"DeletePort", true,
         deleteBytes(std::u16string(64, u'N'), 1), false, 0, true, true, 13, kAnyNeeded},
        {"DeletePort unknown port", kMonitor, u"DeletePort", true, deleteBytes(u"NOPE", 1), false, 0, true, true,
         1287, kAnyNeeded},

        {"GetConfigInfo without input", kMonitor, u"GetConfigInfo", false, none, true, 508, false, true, 13,
         kAnyNeeded},
        {"GetConfigInfo 509 bytes", kMonitor, u"GetConfigInfo", false, configBytesSized(509), false, 508, false, true,
         13, kAnyNeeded},
        {"GetConfigInfo without output", kMonitor, u"GetConfigInfo", false, nameBytes(P1), false, 508, true, true, 87,
         kAnyNeeded},
        {"GetConfigInfo output 507 bytes", kMonitor, u"GetConfigInfo", false, nameBytes(P1), false, 507, false, true,
         122, 508},
        {"GetConfigInfo unknown port", kMonitor, u"GetConfigInfo", false, nameBytes(u"NOPE"), false, 508, false, true,
         1287, kAnyNeeded},
        {"GetConfigInfo", kMonitor, u"GetConfigInfo", false, nameBytes(P1), false, 508, false, true, 0, 508},

        {"MonitorUI without needed size", kMonitor, u"MonitorUI", false, none, true, 28, false, false, 13, kAnyNeeded},
        {"MonitorUI output 27 bytes", kMonitor, u"MonitorUI", false, none, true, 27, false, true, 122, 28},
        {"MonitorUI without output", kMonitor, u"MonitorUI", false, none, true, 28, true, true, 87, 28},
        {"MonitorUI", kMonitor, u"MonitorUI", false, none, true, 28, false, true, 0, 28},

        {"GetOriginalPortName without input", kMonitor, u"GetOriginalPortName", false, none, true, 64, false, true, 13,
         kAnyNeeded},
        {"GetOriginalPortName of a port without one", kMonitor, u"GetOriginalPortName", false, nameBytes(u"NOPE"),
         false, 64, false, true, 1287, kAnyNeeded},
        {"GetOriginalPortName without output", kMonitor, u"GetOriginalPortName", false, nameBytes(P1), false, 64, true,
         true, 87, 10},
        {"GetOriginalPortName output too small", kMonitor, u"GetOriginalPortName", false, nameBytes(P1), false, 9,
         false, true, 122, 10},
        {"GetOriginalPortName output too small, no needed size", kMonitor, u"GetOriginalPortName", false,
         nameBytes(P1), false, 9, false, false, 87, kAnyNeeded},
        {"GetOriginalPortName", kMonitor, u"GetOriginalPortName", false, nameBytes(P1), false, 64, false, true, 0, 10},

        {"PortExist without input", kMonitor, u"PortExist", false, none, true, 4, false, true, 13, kAnyNeeded},
        {"PortExist empty input", kMonitor, u"PortExist", false, textBytes(u"P1"), false, 4, false, true, 13,
         kAnyNeeded, true},
        {"PortExist name without terminator", kMonitor, u"PortExist", false, textBytes(u"P1", false), false, 4, false,
         true, 13, kAnyNeeded},
        {"PortExist output 3 bytes", kMonitor, u"PortExist", false, textBytes(u"P1"), false, 3, false, true, 122, 4},
        {"PortExist output 3 bytes, no needed size", kMonitor, u"PortExist", false, textBytes(u"P1"), false, 3, false,
         false, 87, kAnyNeeded},
        {"PortExist without output", kMonitor, u"PortExist", false, textBytes(u"P1"), false, 4, true, true, 87,
         kAnyNeeded},
        {"PortExist with no spooler to ask", kMonitor, u"PortExist", false, textBytes(u"P1"), false, 4, false, true,
         1287, kAnyNeeded},

        {"GetIPAddress on the monitor", kMonitor, u"GetIPAddress", false, none, true, 4, false, true, 13, kAnyNeeded},
        {"GetIPAddress without output", P1, u"GetIPAddress", false, none, true, 4, true, true, 87, kAnyNeeded},
        {"GetIPAddress output 3 bytes", P1, u"GetIPAddress", false, none, true, 3, false, true, 122, 4},
        {"GetIPAddress output 3 bytes, no needed size", P1, u"GetIPAddress", false, none, true, 3, false, false, 87,
         kAnyNeeded},
        {"GetIPAddress", P1, u"GetIPAddress", false, none, true, 4, false, true, 0, kAnyNeeded},
        {"GetIPAddress into 30 bytes", P1, u"GetIPAddress", false, none, true, 30, false, true, 0, kAnyNeeded},

        {"SetPausedFlag on the monitor", kMonitor, u"SetPausedFlag", false, none, true, 0, true, true, 13, kAnyNeeded},
        {"SetPausedFlag", P1, u"SetPausedFlag", false, none, true, 0, true, true, 0, kAnyNeeded},

        {"method names are case-sensitive", kMonitor, u"addport", true, good, false, 0, true, true, 50, kAnyNeeded},
        {"unknown method", P1, u"Restart", true, none, true, 0, true, true, 50, kAnyNeeded},
    };
    for (const XcvCase& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<BYTE> input = c.input;
        std::vector<BYTE> output(c.cbOutput + 8, 0);
        DWORD needed = kAnyNeeded;
        DWORD result =
            monitor.xcv(c.object, (LPCWSTR)c.method, c.nullInput ? nullptr : input.data(),
                        c.zeroSize ? 0 : DWORD(input.size()),
                        c.nullOutput ? nullptr : output.data(), c.cbOutput, c.withNeeded ? &needed : nullptr,
                        c.admin ? SERVER_ACCESS_ADMINISTER : 0);
        EXPECT_EQ(result, c.expected);
        if (c.expectedNeeded != kAnyNeeded) {
            EXPECT_EQ(needed, c.expectedNeeded);
        }
    }
    // None of the refused calls changed the list.
    EXPECT_NE(monitor.port(u"P1"), nullptr);
    EXPECT_EQ(monitor.port(u"NEW1"), nullptr);
    EXPECT_FALSE(keyExists(portKey(u"NEW1")));
}

TEST_F(MonXcv, NullHandleIsAnInvalidHandle)
{
    BYTE output[4];
    DWORD needed = 0;
    EXPECT_EQ(JTMXXcvDataPort(nullptr, W("MonitorUI"), nullptr, 0, output, sizeof(output), &needed),
              (DWORD)ERROR_INVALID_HANDLE);
}

TEST_F(MonXcv, OpensContextsForTheMonitorAndItsPortsOnly)
{
    HANDLE xcv = nullptr;
    EXPECT_TRUE(JTMXXcvOpenPort(monitor.handle(), W("tally-desk output beacon port2"), 0, &xcv));
    ASSERT_NE(xcv, nullptr);
    EXPECT_EQ(((PXcvContext)xcv)->pszPortName, nullptr);
    EXPECT_TRUE(JTMXXcvClosePort(xcv));
    EXPECT_TRUE(JTMXXcvOpenPort(monitor.handle(), W("p1"), SERVER_ACCESS_ADMINISTER, &xcv));
    EXPECT_EQ(std::u16string(((PXcvContext)xcv)->pszPortName), u"p1");
    EXPECT_EQ(((PXcvContext)xcv)->GrantedAccess, (ACCESS_MASK)SERVER_ACCESS_ADMINISTER);
    EXPECT_EQ(monitor.context()->pXcvList, (PXcvContext)xcv);
    EXPECT_TRUE(JTMXXcvClosePort(xcv));
    EXPECT_EQ(monitor.context()->pXcvList, nullptr);
    xcv = (HANDLE)1;
    EXPECT_FALSE(JTMXXcvOpenPort(monitor.handle(), W("NOPE"), 0, &xcv));
    EXPECT_EQ(xcv, nullptr);
}

TEST_F(MonXcv, MethodCallsAreTraced)
{
    TraceCapture trace;
    BYTE output[28];
    DWORD needed = 0;
    EXPECT_EQ(monitor.xcv(kMonitor, W("MonitorUI"), nullptr, 0, output, sizeof(output), &needed), 0u);
    EXPECT_EQ(trace.lines(), (std::vector<std::u16string>{u"JTMXXcvOpenPort IN", u"JTMXXcvOpenPort OUT(TRUE)",
                                                           u"JTMXXcvDataPort IN", u"MonitorUI IN", u"MonitorUI OUT(0)",
                                                           u"JTMXXcvDataPort OUT(0)", u"JTMXXcvClosePort IN",
                                                           u"JTMXXcvClosePort OUT(TRUE)"}));
    EXPECT_EQ(std::u16string((const char16_t*)output), u"JTRKMNUI2.DLL");
}

// ---- AddPort

TEST_F(MonXcv, AddPortWritesTheRegistryAndAddsTheEntry)
{
    PortConfigData config = defaultConfig(u"NEW1", u"127.0.0.7");
    setField(config.sztOriginalPortName, 64, u"IP_127.0.0.7");
    setField(config.sztQueue, 33, u"q1");
    config.dwProtocol = 2;
    config.dwPortNumber = 9101;
    config.dwTransferMode = 1;
    config.dwBanner = 1;
    config.dwRetryInfinity = 0;
    config.dwRetryCount = 6;
    config.dwRetryInterval = 7;
    config.dwLprRetryCount = 8;
    config.dwLprRetryTimeout = 9;
    config.dwWSAEventTimeout = 10;
    config.dwLprSendInterval = 11;
    config.dwLprRecvCount = 12;
    ASSERT_EQ(addPort(config), 0u);

    DWORD type = 0;
    std::vector<BYTE> data;
    ASSERT_TRUE(readValue(portKey(u"NEW1"), u"ServerName", type, data));
    EXPECT_EQ(type, (DWORD)REG_SZ);
    EXPECT_EQ(data, textBytes(u"127.0.0.7"));
    ASSERT_TRUE(readValue(portKey(u"NEW1"), u"Queue", type, data));
    EXPECT_EQ(data, textBytes(u"q1"));
    ASSERT_TRUE(readValue(portKey(u"NEW1"), u"Original PortNname", type, data));
    EXPECT_EQ(type, (DWORD)REG_SZ);
    EXPECT_EQ(data, textBytes(u"IP_127.0.0.7"));
    const std::pair<const char16_t*, DWORD> portValues[] = {
        {u"Protocol", 2}, {u"PortNumber", 9101}, {u"TransferMode", 1}, {u"Banner", 1}};
    for (const auto& [name, expected] : portValues) {
        DWORD value = 0;
        EXPECT_TRUE(readDword(portKey(u"NEW1"), name, value));
        EXPECT_EQ(value, expected);
    }
    const std::pair<const char16_t*, DWORD> timeoutValues[] = {
        {u"RetryInfinity", 0}, {u"RetryCount", 6},       {u"RetryInterval", 7},  {u"LprRetryCount", 8},
        {u"LprRetryTimeout", 9}, {u"WSAEventTimeout", 10}, {u"LprSendInterval", 11}};
    for (const auto& [name, expected] : timeoutValues) {
        DWORD value = 0;
        EXPECT_TRUE(readDword(portKey(u"NEW1", true), name, value));
        EXPECT_EQ(value, expected);
    }
    // Never written by AddPort.
    EXPECT_FALSE(readValue(portKey(u"NEW1", true), u"LprRecvCount", type, data));
    EXPECT_FALSE(readValue(portKey(u"NEW1", true), u"LprRecvInterval", type, data));
    EXPECT_FALSE(readValue(portKey(u"NEW1", true), u"LprCheckJobStatus", type, data));

    PPortEntry entry = monitor.port(u"NEW1");
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(std::u16string(entry->pszServerName), u"127.0.0.7");
    EXPECT_EQ(std::u16string(entry->pszQueue), u"q1");
    EXPECT_EQ(entry->dwProtocolFlags, 0x10000u);
    EXPECT_EQ(entry->bBanner, FALSE);
    EXPECT_EQ(entry->dwRetryCount, 6u);
    EXPECT_EQ(entry->dwLprRecvCount, 12u);
    // Appended at the tail.
    EXPECT_EQ(monitor.context()->pPortList->pNext, entry);
}

TEST_F(MonXcv, AddedPortIsLoadedAgainAfterARestart)
{
    PortConfigData config = defaultConfig(u"NEW1", u"127.0.0.7");
    config.dwRetryCount = 9;
    ASSERT_EQ(addPort(config), 0u);
    monitor.shutdown();
    ASSERT_TRUE(monitor.load());
    PortConfigData read = {};
    ASSERT_EQ(getConfigInfo(u"NEW1", read), 0u);
    config.dwLprRecvCount = 30000;
    config.dwLprRecvInterval = 10;
    config.dwLprCheckJobStatus = 1;
    // The reader fills all but the name, the original name and the banner.
    setField(config.sztPortName, 64, u"");
    EXPECT_EQ(bytesOf(&read, sizeof(read)), bytesOf(&config, sizeof(config)));
    EXPECT_EQ(monitor.port(u"NEW1")->dwRetryCount, 9u);
}

TEST_F(MonXcv, EmptyOriginalPortNameIsNotWritten)
{
    ASSERT_EQ(addPort(defaultConfig(u"NEW1", u"127.0.0.7")), 0u);
    DWORD type = 0;
    std::vector<BYTE> data;
    EXPECT_FALSE(readValue(portKey(u"NEW1"), u"Original PortNname", type, data));
}

TEST_F(MonXcv, ExistingNameIsRefusedWithoutTouchingTheRegistry)
{
    ASSERT_EQ(addPort(defaultConfig(u"p1", u"127.0.0.9")), (DWORD)ERROR_ALREADY_EXISTS);
    DWORD type = 0;
    std::vector<BYTE> data;
    ASSERT_TRUE(readValue(portKey(u"P1"), u"ServerName", type, data));
    EXPECT_EQ(data, textBytes(u"127.0.0.5"));
}

TEST_F(MonXcv, FailedAddPortLeavesNoKeyItCreated)
{
    PortConfigData bad = defaultConfig(u"NEW1", u"127.0.0.7");
    bad.dwProtocol = 3;
    EXPECT_EQ(addPort(bad), 1287u);
    EXPECT_FALSE(keyExists(portKey(u"NEW1")));
    EXPECT_TRUE(keyExists(portKey(u"P1", true)));

    // Keys that were there before the call stay.
    writeDword(portKey(u"STALE", true), u"RetryCount", 1);
    PortConfigData stale = defaultConfig(u"STALE", u"127.0.0.7");
    stale.dwProtocol = 0;
    EXPECT_EQ(addPort(stale), 1287u);
    DWORD value = 0;
    EXPECT_TRUE(readDword(portKey(u"STALE", true), u"RetryCount", value));
    EXPECT_EQ(monitor.port(u"STALE"), nullptr);
}

TEST_F(MonXcv, FailedFirstAddPortRemovesThePortsKeyItCreated)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kMonitorKey.c_str(), 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteTreeW(key, u"Ports"), ERROR_SUCCESS);
    RegCloseKey(key);
    PortConfigData bad = defaultConfig(u"NEW1", u"127.0.0.7");
    bad.dwProtocol = 3;
    EXPECT_EQ(addPort(bad), 1287u);
    EXPECT_FALSE(keyExists(kMonitorKey + u"\\Ports"));
}

// An empty Ports key that was there before a failed AddPort stays: only what the call created goes.
TEST_F(MonXcv, FailedAddPortKeepsAnEmptyPortsKeyThatWasThere)
{
    ASSERT_EQ(deletePort(u"P1"), 0u);
    ASSERT_TRUE(keyExists(kMonitorKey + u"\\Ports"));
    PortConfigData bad = defaultConfig(u"NEW1", u"127.0.0.7");
    bad.dwProtocol = 3;
    EXPECT_EQ(addPort(bad), 1287u);
    EXPECT_FALSE(keyExists(portKey(u"NEW1")));
    EXPECT_TRUE(keyExists(kMonitorKey + u"\\Ports"));
}

// ---- GetConfigInfo and ConfigPort

TEST_F(MonXcv, GetConfigInfoLeavesTheFieldsItDoesNotRead)
{
    writeString(portKey(u"P1"), u"ServerName", u"127.0.0.8");  // the registry, not the entry
    PortConfigData output;
    std::memset(&output, 0xAB, sizeof(output));
    ASSERT_EQ(getConfigInfo(u"P1", output), 0u);
    EXPECT_EQ(std::u16string(output.sztServerName), u"127.0.0.8");
    EXPECT_EQ(output.sztServerName[63], 0);  // the rest of the field is cleared
    EXPECT_EQ(std::u16string(output.sztQueue), u"lp");
    EXPECT_EQ(output.dwBanner, 0xABABABABu);
    EXPECT_EQ(output.sztPortName[0], 0xABAB);
    EXPECT_EQ(output.sztOriginalPortName[0], 0xABAB);
    EXPECT_EQ(output.dwLprRecvCount, 30000u);
}

TEST_F(MonXcv, ConfigPortRewritesFiveValuesAndTheEntry)
{
    PortConfigData config = defaultConfig(u"P1", u"127.0.0.99");
    config.dwPortNumber = 9300;
    config.dwTransferMode = 1;
    config.dwRetryInfinity = 0;
    config.dwRetryCount = 2;
    config.dwRetryInterval = 3;
    config.dwLprRetryCount = 44;
    config.dwWSAEventTimeout = 55;
    ASSERT_EQ(monitor.xcv(kMonitor, W("ConfigPort"), &config, sizeof(config), nullptr, 0), 0u);

    PortConfigData read = {};
    ASSERT_EQ(getConfigInfo(u"P1", read), 0u);
    EXPECT_EQ(read.dwPortNumber, 9300u);
    EXPECT_EQ(read.dwTransferMode, 1u);
    EXPECT_EQ(read.dwRetryInfinity, 0u);
    EXPECT_EQ(read.dwRetryCount, 2u);
    EXPECT_EQ(read.dwRetryInterval, 3u);
    EXPECT_EQ(std::u16string(read.sztServerName), u"127.0.0.5");
    EXPECT_EQ(read.dwLprRetryCount, 0u);
    EXPECT_EQ(read.dwWSAEventTimeout, 0u);

    PPortEntry entry = monitor.port(u"P1");
    EXPECT_EQ(entry->dwPortNumber, 9300u);
    EXPECT_EQ(entry->dwTransferMode, 1u);
    EXPECT_EQ(entry->dwRetryInfinity, 0u);
    EXPECT_EQ(entry->dwRetryCount, 2u);
    EXPECT_EQ(entry->dwRetryInterval, 3u);
    EXPECT_EQ(entry->dwSavedRetryInterval, 3u);
    EXPECT_EQ(std::u16string(entry->pszServerName), u"127.0.0.5");
    EXPECT_EQ(entry->dwLprRetryCount, 0u);
}

TEST_F(MonXcv, ConfigPortFindsTheEntryWhateverTheCaseOfTheName)
{
    PortConfigData config = defaultConfig(u"p1", u"127.0.0.5");
    config.dwPortNumber = 9300;
    EXPECT_EQ(monitor.xcv(kMonitor, W("ConfigPort"), &config, sizeof(config), nullptr, 0), 0u);
    EXPECT_EQ(monitor.port(u"P1")->dwPortNumber, 9300u);
}

TEST_F(MonXcv, ConfigPortStopsAtTheFirstValueItCannotRewrite)
{
    deleteValue(portKey(u"P1", true), u"RetryCount");
    PortConfigData config = defaultConfig(u"P1", u"127.0.0.5");
    config.dwPortNumber = 9300;
    config.dwRetryInfinity = 0;
    config.dwRetryInterval = 8;
    EXPECT_EQ(monitor.xcv(kMonitor, W("ConfigPort"), &config, sizeof(config), nullptr, 0), 1287u);
    DWORD value = 0;
    EXPECT_TRUE(readDword(portKey(u"P1"), u"PortNumber", value));
    EXPECT_EQ(value, 9300u);
    EXPECT_TRUE(readDword(portKey(u"P1", true), u"RetryInfinity", value));
    EXPECT_EQ(value, 0u);
    EXPECT_TRUE(readDword(portKey(u"P1", true), u"RetryInterval", value));
    EXPECT_EQ(value, 5u);
    EXPECT_EQ(monitor.port(u"P1")->dwPortNumber, 9100u);
}

TEST_F(MonXcv, ConfigPortRefusesAStoredValueThatIsNotAFourByteDword)
{
    writeString(portKey(u"P1"), u"TransferMode", u"0");
    PortConfigData config = defaultConfig(u"P1", u"127.0.0.5");
    EXPECT_EQ(monitor.xcv(kMonitor, W("ConfigPort"), &config, sizeof(config), nullptr, 0), 1287u);
    DWORD type = 0;
    std::vector<BYTE> data;
    ASSERT_TRUE(readValue(portKey(u"P1"), u"TransferMode", type, data));
    EXPECT_EQ(type, (DWORD)REG_SZ);
}

// ---- DeletePort

TEST_F(MonXcv, DeletePortRemovesTheKeysAndTheEntry)
{
    ASSERT_EQ(addPort(defaultConfig(u"NEW1", u"127.0.0.7")), 0u);
    ASSERT_EQ(deletePort(u"P1"), 0u);
    EXPECT_FALSE(keyExists(portKey(u"P1")));
    EXPECT_EQ(monitor.port(u"P1"), nullptr);
    EXPECT_TRUE(keyExists(portKey(u"NEW1", true)));
    EXPECT_EQ(monitor.context()->pPortList, monitor.port(u"NEW1"));
    // A port whose keys are gone already is still taken off the list.
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, (kMonitorKey + u"\\Ports").c_str(), 0, KEY_ALL_ACCESS, &key), 0);
    ASSERT_EQ(RegDeleteTreeW(key, u"NEW1"), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(deletePort(u"NEW1"), 0u);
    EXPECT_EQ(monitor.context()->pPortList, nullptr);
}

TEST_F(MonXcv, DeletePortRefusesAnOpenPortBeforeTouchingTheRegistry)
{
    HANDLE port = nullptr;
    ASSERT_TRUE(monitor.table()->pfnOpenPort(monitor.handle(), (LPWSTR)u"P1", &port));
    EXPECT_EQ(deletePort(u"P1"), (DWORD)ERROR_BUSY);
    EXPECT_EQ(deletePort(u"p1"), (DWORD)ERROR_BUSY);
    EXPECT_TRUE(keyExists(portKey(u"P1", true)));
    ASSERT_TRUE(monitor.table()->pfnClosePort(port));

    monitor.port(u"P1")->dwState = PORT_STATE_DOC_STARTED;  // a job runs
    EXPECT_EQ(deletePort(u"P1"), (DWORD)ERROR_BUSY);
    monitor.port(u"P1")->dwState = PORT_STATE_IDLE;
    EXPECT_EQ(deletePort(u"P1"), 0u);
}

TEST_F(MonXcv, DeletePortWithTheNameInOtherCaseDeletesThePort)
{
    EXPECT_EQ(deletePort(u"p1"), 0u);
    EXPECT_EQ(monitor.context()->pPortList, nullptr);
    EXPECT_FALSE(keyExists(portKey(u"P1")));
}

// ---- GetOriginalPortName, GetIPAddress, SetPausedFlag

TEST_F(MonXcv, GetOriginalPortNameReadsTheValue)
{
    std::vector<BYTE> input = nameBytes(u"P1");
    WCHAR output[64] = {};
    DWORD needed = 0;
    ASSERT_EQ(monitor.xcv(u"P1", W("GetOriginalPortName"), input.data(), DWORD(input.size()), output,
                          sizeof(output), &needed),
              0u);
    EXPECT_EQ(std::u16string(output), u"OLD1");
    EXPECT_EQ(needed, 10u);
}

TEST_F(MonXcv, GetIPAddressGivesTheRegistryAddressInNetworkOrder)
{
    BYTE output[30];
    std::memset(output, 0xEE, sizeof(output));
    DWORD needed = 0;
    writeString(portKey(u"P1"), u"ServerName", u"192.168.10.200");
    ASSERT_EQ(monitor.xcv(u"P1", W("GetIPAddress"), nullptr, 0, output, sizeof(output), &needed), 0u);
    const BYTE expected[] = {192, 168, 10, 200, 0xEE};
    EXPECT_EQ(bytesOf(output, 5), bytesOf(expected, 5));
}

TEST_F(MonXcv, GetIPAddressRefusesWhatIsNotADottedAddress)
{
    for (const char16_t* server : {u"printer.local", u"", u"1.2.3", u"1.2.3.256"}) {
        SCOPED_TRACE(std::string(server, server + std::char_traits<char16_t>::length(server)));
        writeString(portKey(u"P1"), u"ServerName", server);
        DWORD address = 0;
        EXPECT_EQ(monitor.xcv(u"P1", W("GetIPAddress"), nullptr, 0, &address, sizeof(address)), 1287u);
    }
    deleteValue(portKey(u"P1"), u"ServerName");
    DWORD address = 0;
    EXPECT_EQ(monitor.xcv(u"P1", W("GetIPAddress"), nullptr, 0, &address, sizeof(address)), 1287u);
}

// A string value of the wrong type, an odd size or without a terminator inside its field is
// refused with 1287 by every method that reads it (AddressSanitizer saw reads past the value).
TEST_F(MonXcv, StringValuesOfABadShapeAreRefused)
{
    const std::u16string address = u"127.0.0.5";
    const std::vector<BYTE> text = bytesOf(address.c_str(), (address.size() + 1) * sizeof(WCHAR));
    struct Case {
        const char* what;
        DWORD type;
        std::vector<BYTE> data;
    } cases[] = {
        {"odd size", REG_SZ, {'1', 0, '0'}},
        {"odd size, binary", REG_BINARY, {'1', 0, '0'}},
        {"a sound text stored as binary", REG_BINARY, text},
        {"one byte past the terminator", REG_SZ, [&] { std::vector<BYTE> d = text; d.push_back('7'); return d; }()},
        {"no terminator in the field", REG_SZ, std::vector<BYTE>(256, '1')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        HKEY key = nullptr;
        ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, portKey(u"P1").c_str(), 0, KEY_ALL_ACCESS, &key), 0);
        ASSERT_EQ(RegSetValueExW(key, u"ServerName", 0, c.type, c.data.data(), DWORD(c.data.size())), 0);
        ASSERT_EQ(RegSetValueExW(key, u"Original PortNname", 0, c.type, c.data.data(), DWORD(c.data.size())), 0);
        RegCloseKey(key);
        DWORD output[16] = {};
        EXPECT_EQ(monitor.xcv(u"P1", W("GetIPAddress"), nullptr, 0, output, sizeof(output)), 1287u);
        std::vector<BYTE> input = nameBytes(u"P1");
        DWORD needed = 0;
        EXPECT_EQ(monitor.xcv(u"P1", W("GetOriginalPortName"), input.data(), DWORD(input.size()), output,
                              sizeof(output), &needed),
                  1287u);
    }
}

TEST_F(MonXcv, SetPausedFlagStoresTheJobIdOfItsInput)
{
    struct Case {
        std::vector<BYTE> input;
        bool nullInput;
        DWORD size;
        DWORD jobId;
    } cases[] = {
        {{}, true, 0, 0},
        {{0x78, 0x56, 0x34, 0x12}, false, 4, 0x12345678},
        {{0x34, 0x12}, false, 2, 0x1234},
        {{0x01, 0x02, 0x03, 0x04, 0x05, 0x06}, false, 6, 0x04030201},
        {{0x09}, false, 0, 0},  // a size of 0 stores no job id
    };
    for (const Case& c : cases) {
        PPortEntry entry = monitor.port(u"P1");
        entry->bPausedFlag = FALSE;
        entry->dwPausedJobId = 0xFFFF;
        EXPECT_EQ(monitor.xcv(u"P1", W("SetPausedFlag"), c.nullInput ? nullptr : c.input.data(), c.size, nullptr, 0),
                  0u);
        EXPECT_TRUE(entry->bPausedFlag);
        EXPECT_EQ(entry->dwPausedJobId, c.jobId);
    }
    // The entry is found by the context's exact name.
    EXPECT_EQ(monitor.xcv(u"p1", W("SetPausedFlag"), nullptr, 0, nullptr, 0), 13u);
}

// Configuration calls from several threads at once keep the list whole.
TEST_F(MonXcv, ConcurrentCallsKeepTheListConsistent)
{
    constexpr int kThreads = 4;
    constexpr int kRounds = 20;
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; t++) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kRounds; i++) {
                std::u16string name = u"T" + narrowToWide(std::to_string(t)) + u"_" + narrowToWide(std::to_string(i));
                if (addPort(defaultConfig(name, u"127.0.0.7")) != 0)
                    failures++;
                if (monitor.xcv(u"P1", W("SetPausedFlag"), nullptr, 0, nullptr, 0) != 0)
                    failures++;
                DWORD needed = 0;
                DWORD returned = 0;
                monitor.table()->pfnEnumPorts(monitor.handle(), nullptr, 1, nullptr, 0, &needed, &returned);
                if (i % 2 == 0 && deletePort(name) != 0)
                    failures++;
            }
        });
    }
    // The same name from two threads: exactly one wins.
    std::atomic<int> added{0};
    std::thread a([&] { added += addPort(defaultConfig(u"SAME", u"127.0.0.7")) == 0; });
    std::thread b([&] { added += addPort(defaultConfig(u"SAME", u"127.0.0.7")) == 0; });
    a.join();
    b.join();
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(added.load(), 1);
    int count = 0;
    for (PPortEntry entry = monitor.context()->pPortList; entry; entry = entry->pNext)
        count++;
    EXPECT_EQ(count, 1 + 1 + kThreads * kRounds / 2);
}

} // namespace
