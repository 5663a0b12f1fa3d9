// JTMXAddPortSilent: ports of the other monitors (the NetPortMon stand-ins) become ports of this
// monitor; the record it sends is read from the scriptable monitor's journal.
#include "ui_testing.h"

using namespace uitest;
using spoolertest::monitorKey;
using spoolertest::setDwordValue;
using spoolertest::setStringValue;

namespace {

const std::u16string kTcp = u"Standard TCP/IP Port", kLpr = u"LPR Port", kHub = u"HARBOR PrintHub LAN Port",
                     kOld = u"TALLY-DESK Output Beacon Port";

std::u16string portKey(const std::u16string& monitor, const std::u16string& port)
{
    return monitorKey(monitor) + u"\\Ports\\" + port;
}

void setRawString(const std::u16string& path, LPCWSTR name, const std::u16string& text, bool terminated)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    DWORD bytes = DWORD((text.size() + (terminated ? 1 : 0)) * sizeof(WCHAR));
    ASSERT_EQ(RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()), bytes), ERROR_SUCCESS);
    RegCloseKey(key);
}

class SilentAdd : public UiHost {
protected:
    void SetUp() override
    {
        UiHost::SetUp();
        setStringValue(monitorKey(kTcp), u"Driver", u"tcpmon.dll");
        setStringValue(monitorKey(kLpr), u"Driver", u"lprmon.dll");
        setStringValue(monitorKey(kHub), u"Driver", u"phlanmon.dll");
        setStringValue(monitorKey(kOld), u"Driver", u"obv1mon.dll");
        addFakePort(u"EXISTING");
    }
    void start() { startWith(u"UIFAKEMON.DLL"); }
    std::vector<BYTE> sent()
    {
        auto calls = callsOf("AddPort");
        EXPECT_EQ(calls.size(), 1u);
        return calls.empty() ? std::vector<BYTE>(508) : calls.back();
    }
};

TEST_F(SilentAdd, StandardTcpIpLprPortKeepsQueueModeAndHost)
{
    std::u16string key = portKey(kTcp, u"IP_10.0.0.5");
    setDwordValue(key, u"Protocol", 2);
    setStringValue(key, u"Queue", u"q1");
    setDwordValue(key, u"Double Spool", 1);
    setStringValue(key, u"HostName", u"10.0.0.5");
    start();
    ASSERT_TRUE(JTMXAddPortSilent(nullptr, u"IP_10.0.0.5", u"NEW1", nullptr));
    auto record = sent();
    EXPECT_EQ(textAt(record, 0, 64), u"NEW1");
    EXPECT_EQ(textAt(record, 128, 64), u"10.0.0.5");
    EXPECT_EQ(dwordAt(record, 384), 2u);
    EXPECT_EQ(textAt(record, 392, 33), u"q1");
    EXPECT_EQ(dwordAt(record, 460), 1u);
}

TEST_F(SilentAdd, StandardTcpIpRawPortKeepsItsPortNumberAndTakesDefaults)
{
    std::u16string key = portKey(kTcp, u"IP_10.0.0.6");
    setDwordValue(key, u"Protocol", 1);
    setDwordValue(key, u"PortNumber", 9101);
    setStringValue(key, u"HostName", u"10.0.0.6");
    start();
    ASSERT_TRUE(JTMXAddPortSilent(nullptr, u"ip_10.0.0.6", u"NEW2", nullptr)) << "names compare without case";
    auto record = sent();
    EXPECT_EQ(dwordAt(record, 384), 1u);
    EXPECT_EQ(dwordAt(record, 388), 9101u);
    const DWORD defaults[] = {0, 0, 1, 5, 5, 0, 10, 0, 0, 30000, 10, 1};
    for (size_t i = 0; i < 12; ++i)
        EXPECT_EQ(dwordAt(record, 460 + 4 * i), defaults[i]) << "setting " << i;
}

TEST_F(SilentAdd, LprAndPrintHubPorts)
{
    setStringValue(portKey(kLpr, u"LPR1"), u"Printer Name", u"lpq");
    setStringValue(portKey(kLpr, u"LPR1"), u"Server Name", u"10.0.0.7");
    setStringValue(portKey(kHub, u"HUB1"), u"Server Address", u"10.0.0.8");
    start();
    ASSERT_TRUE(JTMXAddPortSilent(nullptr, u"LPR1", u"NEW3", nullptr));
    ASSERT_TRUE(JTMXAddPortSilent(nullptr, u"HUB1", u"NEW4", nullptr));
    auto calls = callsOf("AddPort");
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(dwordAt(calls[0], 384), 2u);
    EXPECT_EQ(textAt(calls[0], 392, 33), u"lpq");
    EXPECT_EQ(textAt(calls[0], 128, 64), u"10.0.0.7");
    EXPECT_EQ(dwordAt(calls[1], 384), 2u);
    EXPECT_EQ(textAt(calls[1], 392, 33), u"lp") << "no queue value: lp";
    EXPECT_EQ(textAt(calls[1], 128, 64), u"10.0.0.8");
}

TEST_F(SilentAdd, NameRulesAndUnknownSources)
{
    setStringValue(portKey(kLpr, u"LPR1"), u"Server Name", u"10.0.0.7");
    start();
    SetLastError(12345);
    EXPECT_FALSE(JTMXAddPortSilent(nullptr, u"LPR1", u"EXISTING", nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
    EXPECT_FALSE(JTMXAddPortSilent(nullptr, u"LPR1", u"A\\B", nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_BAD_PATHNAME));
    SetLastError(12345);
    EXPECT_FALSE(JTMXAddPortSilent(nullptr, u"NOWHERE", u"NEW5", nullptr));
    EXPECT_EQ(GetLastError(), 12345u) << "an unknown source keeps the last error";
    EXPECT_FALSE(JTMXAddPortSilent(nullptr, nullptr, u"NEW5", nullptr));
    EXPECT_FALSE(JTMXAddPortSilent(nullptr, u"LPR1", std::u16string(64, u'n').c_str(), nullptr));
    EXPECT_FALSE(JTMXAddPortSilent(nullptr, u"LPR1", u"", nullptr));
    EXPECT_EQ(GetLastError(), 12345u);
    EXPECT_TRUE(callsOf("AddPort").empty());
}

TEST_F(SilentAdd, AddPortStatusBecomesTheLastError)
{
    setStringValue(portKey(kLpr, u"LPR1"), u"Server Name", u"10.0.0.7");
    setStatus(u"AddPort", 1287);
    start();
    EXPECT_FALSE(JTMXAddPortSilent(nullptr, u"LPR1", u"NEW6", nullptr));
    EXPECT_EQ(GetLastError(), 1287u);
}

TEST_F(SilentAdd, RegistryStringsAreBoundedByTheirFields)
{
    std::u16string full(64, u'h'), fits(63, u'h');
    setDwordValue(portKey(kTcp, u"IP_A"), u"Protocol", 1);
    setRawString(portKey(kTcp, u"IP_A"), u"HostName", full, false);
    setDwordValue(portKey(kTcp, u"IP_B"), u"Protocol", 2);
    setRawString(portKey(kTcp, u"IP_B"), u"HostName", fits, false);
    setRawString(portKey(kTcp, u"IP_B"), u"Queue", std::u16string(33, u'q'), false);
    start();
    ASSERT_TRUE(JTMXAddPortSilent(nullptr, u"IP_A", u"NEW7", nullptr));
    ASSERT_TRUE(JTMXAddPortSilent(nullptr, u"IP_B", u"NEW8", nullptr));
    auto calls = callsOf("AddPort");
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(textAt(calls[0], 128, 64), u"IP_A") << "a value longer than the field is unreadable";
    EXPECT_EQ(textAt(calls[1], 128, 64), fits) << "63 characters without a terminator fit";
    EXPECT_EQ(calls[1][128 + 126], 0);
    EXPECT_EQ(calls[1][128 + 127], 0);
    EXPECT_EQ(textAt(calls[1], 392, 33), u"lp") << "a 33-character queue does not fit its field";
}

TEST_F(SilentAdd, EarlierMonitorPortTakesItsOriginalPortsSettings)
{
    spoolertest::setDwordValue(portKey(kOld, u"OLD1"), u"Unused", 0);
    std::u16string original = u"IP_10.0.0.9_with_a_rather_long_port_name_of_40"; // 46 characters
    setDwordValue(portKey(kTcp, original), u"Protocol", 1);
    setDwordValue(portKey(kTcp, original), u"PortNumber", 9102);
    setStringValue(portKey(kTcp, original), u"HostName", u"10.0.0.9");
    start();
    ASSERT_TRUE(JTMXAddPortSilent(nullptr, u"OLD1", u"NEW9", original.c_str()));
    auto record = sent();
    EXPECT_EQ(dwordAt(record, 384), 1u);
    EXPECT_EQ(dwordAt(record, 388), 9102u);
    EXPECT_EQ(textAt(record, 128, 64), u"10.0.0.9");
    EXPECT_EQ(textAt(record, 256, 64), original) << "the whole name, not 33 characters of it";
}

TEST_F(SilentAdd, EarlierMonitorPortWithoutOriginalKeepsItsKind)
{
    const std::u16string old = u"OLD_port_with_a_name_longer_than_33_chars"; // 41 characters
    spoolertest::setDwordValue(portKey(kOld, old), u"Unused", 0);
    setStatus(u"AddPort", 1287);
    start();
    EXPECT_FALSE(JTMXAddPortSilent(nullptr, old.c_str(), u"NEW10", nullptr));
    EXPECT_EQ(GetLastError(), 1287u) << "the monitor refuses kind 8";
    auto record = sent();
    EXPECT_EQ(dwordAt(record, 384), 8u);
    EXPECT_EQ(textAt(record, 256, 64), old) << "the original name keeps up to 63 characters";
    EXPECT_EQ(textAt(record, 128, 64), old) << "no address was read";
}

TEST_F(SilentAdd, FillWithAKindOfNoMonitorTouchesNothing)
{
    start();
    PortConfigData config{};
    config.dwProtocol = 3;
    config.dwPortNumber = 77;
    EXPECT_FALSE(FillPortConfigFromSource(nullptr, u"ANY", &config));
    EXPECT_EQ(config.dwPortNumber, 77u) << "the settings were not reset";
    EXPECT_EQ(config.dwProtocol, 3u);
}

} // namespace
