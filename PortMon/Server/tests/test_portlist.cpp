// Loading the port list from the registry, EnumPorts, OpenPort, ClosePort and Shutdown.
#include <cstring>

#include <gtest/gtest.h>

#include "TempRoot.h"
#include "monitor_harness.h"
#include "pal/eventlog.h"

using namespace montest;

namespace {

// A REG_SZ value of count characters and no terminator.
void writeUnterminated(const std::u16string& key, const std::u16string& value, size_t count)
{
    std::u16string text(count, u'1');
    HKEY handle = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_ALL_ACCESS, &handle), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExW(handle, value.c_str(), 0, REG_SZ, (const BYTE*)text.data(), DWORD(count * 2)),
              ERROR_SUCCESS);
    RegCloseKey(handle);
}

class MonPortList : public ::testing::Test {
protected:
    testsupport::TempRoot root;
    LoadedMonitor monitor;
};

TEST_F(MonPortList, LoadsEveryPortWithItsSettings)
{
    PortConfigData raw = defaultConfig(u"RAW1", u"127.0.0.5");
    raw.dwPortNumber = 9200;
    raw.dwRetryInterval = 7;
    writePortKeys(raw);
    PortConfigData lpr = defaultConfig(u"Lpr1", u"127.0.0.6");
    lpr.dwProtocol = 2;
    lpr.dwTransferMode = 1;
    lpr.dwLprRetryCount = 3;
    lpr.dwLprRetryTimeout = 4;
    lpr.dwWSAEventTimeout = 250;
    lpr.dwLprSendInterval = 20;
    setField(lpr.sztQueue, _countof(lpr.sztQueue), u"queue");
    writePortKeys(lpr);
    writeDword(portKey(u"Lpr1", true), u"LprRecvCount", 7);
    writeDword(portKey(u"Lpr1", true), u"LprRecvInterval", 8);
    writeDword(portKey(u"Lpr1", true), u"LprCheckJobStatus", 0);

    ASSERT_TRUE(monitor.load());
    PMonitorContext context = monitor.context();
    EXPECT_EQ(context->dwMagic, 0x4A544D58u);
    EXPECT_EQ(context->pMonitorInit, monitor.init());
    // Registry order: subkeys by their upper-cased names.
    ASSERT_NE(context->pPortList, nullptr);
    EXPECT_EQ(std::u16string(context->pPortList->pszPortName), u"Lpr1");
    ASSERT_NE(context->pPortList->pNext, nullptr);
    EXPECT_EQ(std::u16string(context->pPortList->pNext->pszPortName), u"RAW1");
    EXPECT_EQ(context->pPortList->pNext->pNext, nullptr);

    PPortEntry rawEntry = monitor.port(u"RAW1");
    EXPECT_EQ(std::u16string(rawEntry->pszServerName), u"127.0.0.5");
    EXPECT_EQ(rawEntry->dwProtocolFlags, 0u);
    EXPECT_EQ(rawEntry->pszQueue, nullptr);
    EXPECT_EQ(rawEntry->dwPortNumber, 9200u);
    EXPECT_EQ(rawEntry->dwRetryInterval, 7u);
    EXPECT_EQ(rawEntry->dwSavedRetryInterval, 7u);
    EXPECT_EQ(rawEntry->dwState, 1u);
    EXPECT_EQ(rawEntry->dwJobId, 0u);
    EXPECT_EQ(rawEntry->hPrinter, INVALID_HANDLE_VALUE);
    EXPECT_EQ(rawEntry->hSocket, INVALID_SOCKET);
    EXPECT_EQ(rawEntry->cbSize, sizeof(PortEntry) + 5 * sizeof(WCHAR));
    EXPECT_EQ((void*)rawEntry->pszPortName, (void*)(rawEntry + 1));
    EXPECT_EQ(rawEntry->pMonitor, context);

    PPortEntry lprEntry = monitor.port(u"Lpr1");
    EXPECT_EQ(lprEntry->dwProtocolFlags, 0x10000u);
    EXPECT_EQ(std::u16string(lprEntry->pszQueue), u"queue");
    EXPECT_EQ(lprEntry->dwTransferMode, 1u);
    EXPECT_EQ(lprEntry->bBanner, FALSE);
    EXPECT_EQ(lprEntry->dwLprRetryCount, 3u);
    EXPECT_EQ(lprEntry->dwLprRetryTimeout, 4u);
    EXPECT_EQ(lprEntry->dwWSAEventTimeout, 250u);
    EXPECT_EQ(lprEntry->dwLprSendInterval, 20u);
    EXPECT_EQ(lprEntry->dwLprRecvCount, 7u);
    EXPECT_EQ(lprEntry->dwLprRecvInterval, 8u);
    EXPECT_EQ(lprEntry->dwLprCheckJobStatus, 0u);
}

TEST_F(MonPortList, MissingOptionalValuesTakeTheirDefaults)
{
    writePortKeys(defaultConfig(u"P1", u"127.0.0.5"));
    ASSERT_TRUE(monitor.load());
    PPortEntry entry = monitor.port(u"P1");
    EXPECT_EQ(entry->dwLprRecvCount, 30000u);
    EXPECT_EQ(entry->dwLprRecvInterval, 10u);
    EXPECT_EQ(entry->dwLprCheckJobStatus, 1u);
}

TEST_F(MonPortList, NoPortsKeyLoadsNoPorts)
{
    ASSERT_TRUE(monitor.load());
    EXPECT_EQ(monitor.context()->pPortList, nullptr);
}

TEST_F(MonPortList, NullArgumentsFailInitialisation)
{
    HANDLE handle = nullptr;
    MONITORINIT init = {};
    EXPECT_EQ(InitializePrintMonitor2(nullptr, &handle), nullptr);
    EXPECT_EQ(InitializePrintMonitor2(&init, nullptr), nullptr);
}

// A port the monitor cannot read keeps the whole monitor from loading.
TEST_F(MonPortList, BrokenPortFailsTheLoad)
{
    struct Case {
        const char* what;
        void (*breakIt)();
        DWORD error;
    } cases[] = {
        {"missing RetryCount", [] { deleteValue(portKey(u"P1", true), u"RetryCount"); }, ERROR_FILE_NOT_FOUND},
        {"missing ServerName", [] { deleteValue(portKey(u"P1"), u"ServerName"); }, ERROR_FILE_NOT_FOUND},
        {"RetryCount as text", [] { writeString(portKey(u"P1", true), u"RetryCount", u"5"); }, ERROR_INVALID_DATA},
        {"LprRecvCount as text", [] { writeString(portKey(u"P1", true), u"LprRecvCount", u"5"); },
         ERROR_INVALID_DATA},
        {"ServerName of 128 bytes without terminator", [] { writeUnterminated(portKey(u"P1"), u"ServerName", 64); },
         ERROR_INVALID_DATA},
        {"ServerName longer than its field",
         [] { writeString(portKey(u"P1"), u"ServerName", std::u16string(64, u'1')); }, ERROR_MORE_DATA},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        writePortKeys(defaultConfig(u"P1", u"127.0.0.5"));
        c.breakIt();
        EXPECT_FALSE(monitor.load());
        EXPECT_EQ(monitor.error(), c.error);
        HKEY key = nullptr;
        ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kMonitorKey.c_str(), 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
        EXPECT_EQ(RegDeleteTreeW(key, u"Ports"), ERROR_SUCCESS);
        RegCloseKey(key);
    }
}

TEST_F(MonPortList, StringAtTheFullFieldWithTerminatorLoads)
{
    PortConfigData config = defaultConfig(u"P1", u"127.0.0.5");
    writePortKeys(config);
    // 63 characters and the NUL fill the 128-byte field exactly.
    std::u16string server(63, u'7');
    writeString(portKey(u"P1"), u"ServerName", server);
    ASSERT_TRUE(monitor.load());
    EXPECT_EQ(std::u16string(monitor.port(u"P1")->pszServerName), server);
}

TEST_F(MonPortList, PortNameLongerThan247CharactersFailsTheLoad)
{
    std::u16string longName(248, u'N');
    writeString(portKey(longName), u"ServerName", u"127.0.0.5");
    writeDword(portKey(longName), u"Protocol", 1);
    writeDword(portKey(longName), u"PortNumber", 9100);
    writeString(portKey(longName), u"Queue", u"lp");
    writeDword(portKey(longName), u"TransferMode", 0);
    for (const char16_t* value : {u"RetryInfinity", u"RetryCount", u"RetryInterval", u"LprRetryCount",
                                  u"LprRetryTimeout", u"WSAEventTimeout", u"LprSendInterval"})
        writeDword(portKey(longName, true), value, 1);
    EXPECT_FALSE(monitor.load());
    EXPECT_EQ(monitor.error(), (DWORD)ERROR_INVALID_NAME);
}

TEST_F(MonPortList, TableOffersTheMonitorSlots)
{
    ASSERT_TRUE(monitor.load());
    LPMONITOR2 table = monitor.table();
    EXPECT_EQ(table->cbSize, 184u);
    EXPECT_EQ(table->pfnEnumPorts, &JTMXEnumPorts);
    EXPECT_EQ(table->pfnOpenPort, &JTMXOpenPort);
    EXPECT_EQ(table->pfnOpenPortEx, nullptr);
    EXPECT_EQ(table->pfnReadPort, &JTMXReadPort);
    EXPECT_EQ(table->pfnClosePort, &JTMXClosePort);
    EXPECT_EQ(table->pfnAddPort, nullptr);
    EXPECT_EQ(table->pfnAddPortEx, nullptr);
    EXPECT_EQ(table->pfnConfigurePort, nullptr);
    EXPECT_EQ(table->pfnDeletePort, nullptr);
    EXPECT_EQ(table->pfnGetPrinterDataFromPort, nullptr);
    EXPECT_EQ(table->pfnSetPortTimeOuts, nullptr);
    EXPECT_EQ(table->pfnXcvOpenPort, &JTMXXcvOpenPort);
    EXPECT_EQ(table->pfnXcvDataPort, &JTMXXcvDataPort);
    EXPECT_EQ(table->pfnXcvClosePort, &JTMXXcvClosePort);
    EXPECT_EQ(table->pfnShutdown, &JTMXShutdown);
    EXPECT_EQ(table->pfnSendRecvBidiDataFromPort, nullptr);
    EXPECT_EQ(table->pfnNotifyUsedPorts, nullptr);
    EXPECT_EQ(table->pfnNotifyUnusedPorts, nullptr);
    EXPECT_EQ(table->pfnPowerEvent, nullptr);
    BYTE buffer[4];
    DWORD read = 0;
    EXPECT_FALSE(table->pfnReadPort(monitor.port(u"P1"), buffer, sizeof(buffer), &read));
}

BOOL WINAPI windows2000(LPOSVERSIONINFOEXW version, DWORD typeMask, DWORDLONG)
{
    return typeMask == (VER_MAJORVERSION | VER_MINORVERSION) && version->dwMajorVersion == 5 &&
           version->dwMinorVersion == 0;
}

TEST_F(MonPortList, Windows2000GetsTheShortTable)
{
    MonitorSystemCalls saved = g_MonSys;
    g_MonSys.pfnVerifyVersionInfoW = windows2000;
    ASSERT_TRUE(monitor.load());
    EXPECT_EQ(monitor.table()->cbSize, 148u);
    g_MonSys = saved;
    monitor.shutdown();
    ASSERT_TRUE(monitor.load());
    EXPECT_EQ(monitor.table()->cbSize, 184u);
}

// ---- EnumPorts

class MonEnumPorts : public MonPortList {
protected:
    void SetUp() override
    {
        writePortKeys(defaultConfig(u"P1", u"127.0.0.5"));
        writePortKeys(defaultConfig(u"PORT22", u"127.0.0.6"));
        ASSERT_TRUE(monitor.load());
    }

    BOOL enumPorts(DWORD level, LPBYTE buffer, DWORD size, DWORD& needed, DWORD& returned)
    {
        return monitor.table()->pfnEnumPorts(monitor.handle(), nullptr, level, buffer, size, &needed, &returned);
    }
};

TEST_F(MonEnumPorts, Level1PacksRecordsInFrontAndStringsBackwardsFromTheEnd)
{
    // Two PORT_INFO_1 (8 bytes each), "P1" (6 bytes) and "PORT22" (14 bytes).
    alignas(8) BYTE buffer[36];
    std::memset(buffer, 0xEE, sizeof(buffer));
    DWORD needed = 0;
    DWORD returned = 0;
    ASSERT_TRUE(enumPorts(1, buffer, sizeof(buffer), needed, returned));
    EXPECT_EQ(needed, 36u);
    EXPECT_EQ(returned, 2u);
    PORT_INFO_1W* info = reinterpret_cast<PORT_INFO_1W*>(buffer);
    EXPECT_EQ((BYTE*)info[0].pName, buffer + 30);
    EXPECT_EQ((BYTE*)info[1].pName, buffer + 16);
    const BYTE strings[] = {'P', 0, 'O', 0, 'R', 0, 'T', 0, '2', 0, '2', 0, 0, 0, 'P', 0, '1', 0, 0, 0};
    EXPECT_EQ(bytesOf(buffer + 16, 20), bytesOf(strings, sizeof(strings)));
}

TEST_F(MonEnumPorts, Level2NamesTheMonitorAndThePortType)
{
    DWORD needed = 0;
    DWORD returned = 0;
    EXPECT_FALSE(enumPorts(2, nullptr, 0, needed, returned));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INSUFFICIENT_BUFFER);
    // Per port: PORT_INFO_2 (32), the name, "JTRKMON2.DLL" (26) and the port type name (62).
    EXPECT_EQ(needed, 2 * (32u + 26 + 62) + 6 + 14);
    std::vector<uint64_t> storage((needed + 7) / 8);
    LPBYTE buffer = reinterpret_cast<LPBYTE>(storage.data());
    ASSERT_TRUE(enumPorts(2, buffer, needed, needed, returned));
    ASSERT_EQ(returned, 2u);
    PORT_INFO_2W* info = reinterpret_cast<PORT_INFO_2W*>(buffer);
    EXPECT_EQ(std::u16string(info[0].pPortName), u"P1");
    EXPECT_EQ(std::u16string(info[1].pPortName), u"PORT22");
    for (int i = 0; i < 2; i++) {
        EXPECT_EQ(std::u16string(info[i].pMonitorName), u"JTRKMON2.DLL");
        EXPECT_EQ(std::u16string(info[i].pDescription), u"TALLY-DESK Output Beacon Port2");
        EXPECT_EQ(info[i].fPortType, 1u);
        EXPECT_EQ(info[i].Reserved, 0u);
    }
    // The last string ends at the buffer's end.
    EXPECT_EQ((BYTE*)info[0].pPortName + 6, buffer + needed);
}

TEST_F(MonEnumPorts, OneByteShortFailsWithTheExactSize)
{
    for (DWORD level : {1u, 2u}) {
        DWORD needed = 0;
        DWORD returned = 7;
        enumPorts(level, nullptr, 0, needed, returned);
        std::vector<uint64_t> storage(needed / 8 + 1);
        DWORD exact = needed;
        EXPECT_FALSE(enumPorts(level, reinterpret_cast<LPBYTE>(storage.data()), exact - 1, needed, returned));
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_INSUFFICIENT_BUFFER);
        EXPECT_EQ(needed, exact);
        EXPECT_EQ(returned, 0u);
    }
}

TEST_F(MonEnumPorts, OtherLevelsFail)
{
    DWORD needed = 0;
    DWORD returned = 0;
    BYTE buffer[512];
    for (DWORD level : {0u, 3u}) {
        EXPECT_FALSE(enumPorts(level, buffer, sizeof(buffer), needed, returned));
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_LEVEL);
    }
}

TEST_F(MonEnumPorts, OddBufferSizeKeepsStringsAligned)
{
    DWORD needed = 0;
    DWORD returned = 0;
    alignas(8) BYTE buffer[37];
    ASSERT_TRUE(enumPorts(1, buffer, sizeof(buffer), needed, returned));
    PORT_INFO_1W* info = reinterpret_cast<PORT_INFO_1W*>(buffer);
    EXPECT_EQ((BYTE*)info[0].pName, buffer + 30);
    EXPECT_EQ(std::u16string(info[1].pName), u"PORT22");
}

// ---- OpenPort, ClosePort, Shutdown

class MonOpenClose : public MonPortList {
protected:
    void SetUp() override
    {
        writePortKeys(defaultConfig(u"PORT1", u"127.0.0.5"));
        PortConfigData lpr = defaultConfig(u"LPR1", u"127.0.0.5");
        lpr.dwProtocol = 2;
        writePortKeys(lpr);
        ASSERT_TRUE(monitor.load());
    }
};

TEST_F(MonOpenClose, OpenPortFindsThePortWithoutRegardToCase)
{
    HANDLE port = nullptr;
    ASSERT_TRUE(monitor.table()->pfnOpenPort(monitor.handle(), (LPWSTR)u"port1", &port));
    EXPECT_EQ(port, monitor.port(u"PORT1"));
    EXPECT_TRUE(monitor.port(u"PORT1")->bNetworkStarted);
    EXPECT_NE(monitor.port(u"PORT1")->SockEvent, WSA_INVALID_EVENT);
    EXPECT_TRUE(monitor.table()->pfnClosePort(port));
    EXPECT_FALSE(monitor.port(u"PORT1")->bNetworkStarted);
    EXPECT_EQ(monitor.port(u"PORT1")->SockEvent, WSA_INVALID_EVENT);
}

TEST_F(MonOpenClose, UnknownPortOrNullArgumentsFail)
{
    HANDLE port = nullptr;
    EXPECT_FALSE(monitor.table()->pfnOpenPort(monitor.handle(), (LPWSTR)u"NOPE", &port));
    EXPECT_FALSE(monitor.table()->pfnOpenPort(nullptr, (LPWSTR)u"PORT1", &port));
    EXPECT_FALSE(monitor.table()->pfnOpenPort(monitor.handle(), nullptr, &port));
    EXPECT_FALSE(monitor.table()->pfnClosePort(nullptr));
}

// Each entry starts Winsock once and cleans up once, so another user of Winsock in the process
// keeps its start-up through any order of opens and closes.
TEST_F(MonOpenClose, WinsockStartAndCleanupStayBalanced)
{
    WSADATA data;
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    SOCKET own = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    ASSERT_NE(own, INVALID_SOCKET);

    HANDLE raw = nullptr;
    HANDLE rawAgain = nullptr;
    HANDLE lpr = nullptr;
    ASSERT_TRUE(monitor.table()->pfnOpenPort(monitor.handle(), (LPWSTR)u"PORT1", &raw));
    ASSERT_TRUE(monitor.table()->pfnOpenPort(monitor.handle(), (LPWSTR)u"PORT1", &rawAgain));
    ASSERT_TRUE(monitor.table()->pfnOpenPort(monitor.handle(), (LPWSTR)u"LPR1", &lpr));
    EXPECT_EQ(raw, rawAgain);
    WSAEVENT event = monitor.port(u"PORT1")->SockEvent;
    EXPECT_TRUE(monitor.table()->pfnClosePort(raw));
    // The second open still holds the network and its event.
    EXPECT_EQ(monitor.port(u"PORT1")->SockEvent, event);
    EXPECT_TRUE(monitor.table()->pfnClosePort(rawAgain));
    EXPECT_TRUE(monitor.table()->pfnClosePort(rawAgain));  // one close too many changes nothing
    EXPECT_TRUE(monitor.table()->pfnClosePort(lpr));
    EXPECT_TRUE(monitor.table()->pfnClosePort(lpr));

    struct sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(bind(own, (struct sockaddr*)&address, sizeof(address)), 0) << WSAGetLastError();
    EXPECT_EQ(closesocket(own), 0);
    EXPECT_EQ(WSACleanup(), 0);
}

TEST_F(MonOpenClose, ShutdownClosesOpenPortsAndFreesTheMonitor)
{
    WSADATA data;
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    HANDLE port = nullptr;
    ASSERT_TRUE(monitor.table()->pfnOpenPort(monitor.handle(), (LPWSTR)u"PORT1", &port));
    HANDLE xcv = monitor.xcvOpen(u"PORT1");  // left open: Shutdown frees it too
    ASSERT_NE(xcv, nullptr);
    monitor.shutdown();
    // Our own start-up is still counted: a socket can be made.
    SOCKET own = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    EXPECT_NE(own, INVALID_SOCKET);
    closesocket(own);
    EXPECT_EQ(WSACleanup(), 0);
}

TEST_F(MonOpenClose, SlotsTraceTheirEntryAndExit)
{
    TraceCapture trace;
    HANDLE port = nullptr;
    ASSERT_TRUE(monitor.table()->pfnOpenPort(monitor.handle(), (LPWSTR)u"PORT1", &port));
    EXPECT_FALSE(monitor.table()->pfnOpenPort(monitor.handle(), (LPWSTR)u"NOPE", &port));
    EXPECT_EQ(trace.lines(), (std::vector<std::u16string>{u"JTMXOpenPort IN", u"RawOpenPort IN",
                                                           u"RawOpenPort OUT(TRUE)", u"JTMXOpenPort OUT(TRUE)",
                                                           u"JTMXOpenPort IN", u"JTMXOpenPort OUT(FALSE)"}));
    EXPECT_TRUE(monitor.table()->pfnClosePort(port));
}

TEST_F(MonOpenClose, PortFailureIsReportedToTheEventLog)
{
    palClearEventLog();
    ReportPortFailure(monitor.port(u"PORT1"), W("OpenPort"));
    std::vector<pal::EventLogEntry> entries = pal::readEventLog();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].source, u"OutputBeaconPort2");
    EXPECT_EQ(entries[0].eventType, EVENTLOG_ERROR_TYPE);
    EXPECT_EQ(entries[0].category, 0);
    EXPECT_EQ(entries[0].eventId, 0xC0000011u);
    EXPECT_EQ(entries[0].strings, (std::vector<std::u16string>{u"PORT1", u"OpenPort"}));
}

} // namespace
