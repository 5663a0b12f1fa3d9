// Ports and monitors through the spooler host: EnumPortsW / EnumMonitorsW packing, SetPortW,
// DeletePortW, AddMonitorW and DeleteMonitorW, with and without administrator rights.
#include "test_spooler_host.h"

#include "TempRoot.h"

using namespace spoolertest;

namespace {

// Size of a string packed with its terminator.
size_t packed(const std::u16string& text)
{
    return (text.size() + 1) * sizeof(WCHAR);
}

class SpoolerPorts : public ::testing::Test {
protected:
    void SetUp() override
    {
        registerTestMonitor(u"Test Monitor A", {u"P1", u"PORT22"}, u"Alpha");
        registerTestMonitor(u"Test Monitor B", {u"Q1"}, u"Beta");
        ASSERT_TRUE(host_.start(hostOptions()));
    }
    void TearDown() override { EXPECT_EQ(host_.stop(), 0); }
    virtual std::vector<std::string> hostOptions() const { return {}; }

    testsupport::TempRoot root_;
    SpoolerHost host_;
};

class SpoolerPortsNonAdmin : public SpoolerPorts {
protected:
    std::vector<std::string> hostOptions() const override { return {"--non-admin"}; }
};

TEST_F(SpoolerPorts, EnumPortsLevel1PacksRecordsFirstAndStringsFromTheEnd)
{
    const DWORD expected = 3 * sizeof(PORT_INFO_1W) + packed(u"P1") + packed(u"PORT22") + packed(u"Q1");
    DWORD needed = 0;
    DWORD count = 99;
    EXPECT_FALSE(EnumPortsW(nullptr, 1, nullptr, 0, &needed, &count));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(needed, expected);
    EXPECT_EQ(count, 0u);

    // One byte short: the same answer, and the buffer is left alone.
    std::vector<BYTE> buffer(expected + 16, 0xEE);
    needed = 0;
    EXPECT_FALSE(EnumPortsW(nullptr, 1, buffer.data(), expected - 1, &needed, &count));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(needed, expected);
    EXPECT_EQ(buffer[0], 0xEE);

    ASSERT_TRUE(EnumPortsW(nullptr, 1, buffer.data(), expected, &needed, &count));
    EXPECT_EQ(count, 3u);
    BYTE* base = buffer.data();
    auto* ports = reinterpret_cast<PORT_INFO_1W*>(base);
    // First record's string sits at the very end of the caller's size, the next below it.
    EXPECT_EQ(reinterpret_cast<BYTE*>(ports[0].pName), base + expected - packed(u"P1"));
    EXPECT_EQ(reinterpret_cast<BYTE*>(ports[1].pName), base + expected - packed(u"P1") - packed(u"PORT22"));
    EXPECT_EQ(reinterpret_cast<BYTE*>(ports[2].pName), base + 3 * sizeof(PORT_INFO_1W));
    // Byte-exact tail: "P1" and its terminator in UTF-16LE, nothing written past the size.
    const BYTE tail[] = {'P', 0, '1', 0, 0, 0};
    EXPECT_EQ(std::memcmp(base + expected - sizeof tail, tail, sizeof tail), 0);
    EXPECT_EQ(buffer[expected], 0xEE);
    EXPECT_EQ(std::u16string(ports[1].pName), u"PORT22");
    EXPECT_EQ(std::u16string(ports[2].pName), u"Q1");
}

TEST_F(SpoolerPorts, EnumPortsLevel2CarriesMonitorDescriptionAndType)
{
    const DWORD expected = 3 * sizeof(PORT_INFO_2W) + packed(u"P1") + packed(u"PORT22") + packed(u"Q1") +
                           3 * packed(u"TESTMON.DLL") + 2 * packed(u"Alpha") + packed(u"Beta");
    DWORD needed = 0;
    DWORD count = 0;
    EXPECT_FALSE(EnumPortsW(nullptr, 2, nullptr, 0, &needed, &count));
    EXPECT_EQ(needed, expected);

    // A larger buffer: strings are packed from its end, not from the needed size.
    std::vector<BYTE> buffer(expected + 64, 0xEE);
    ASSERT_TRUE(EnumPortsW(nullptr, 2, buffer.data(), DWORD(buffer.size()), &needed, &count));
    EXPECT_EQ(needed, expected);
    ASSERT_EQ(count, 3u);
    BYTE* end = buffer.data() + buffer.size();
    auto* ports = reinterpret_cast<PORT_INFO_2W*>(buffer.data());
    EXPECT_EQ(reinterpret_cast<BYTE*>(ports[0].pPortName), end - packed(u"P1"));
    EXPECT_EQ(reinterpret_cast<BYTE*>(ports[0].pMonitorName), end - packed(u"P1") - packed(u"TESTMON.DLL"));
    EXPECT_EQ(reinterpret_cast<BYTE*>(ports[0].pDescription),
              end - packed(u"P1") - packed(u"TESTMON.DLL") - packed(u"Alpha"));
    for (DWORD i = 0; i < count; ++i) {
        EXPECT_EQ(std::u16string(ports[i].pMonitorName), u"TESTMON.DLL");
        EXPECT_EQ(ports[i].fPortType, DWORD(PORT_TYPE_WRITE));
        EXPECT_EQ(ports[i].Reserved, 0u);
    }
    EXPECT_EQ(std::u16string(ports[2].pPortName), u"Q1");
    EXPECT_EQ(std::u16string(ports[2].pDescription), u"Beta");
}

TEST_F(SpoolerPorts, EnumPortsArgumentErrors)
{
    DWORD needed = 0;
    DWORD count = 0;
    BYTE buffer[64];
    EXPECT_FALSE(EnumPortsW(nullptr, 3, buffer, sizeof buffer, &needed, &count));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_LEVEL));
    EXPECT_FALSE(EnumPortsW(nullptr, 1, nullptr, 100, &needed, &count));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_USER_BUFFER));
    EXPECT_FALSE(EnumPortsW(nullptr, 1, buffer, sizeof buffer, nullptr, &count));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    std::u16string server = u"\\\\anyhost";
    needed = 0;
    EXPECT_FALSE(EnumPortsW(server.data(), 1, nullptr, 0, &needed, &count));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_GT(needed, 0u);
    std::u16string badServer = u"nobackslashes";
    EXPECT_FALSE(EnumPortsW(badServer.data(), 1, nullptr, 0, &needed, &count));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_NAME));
}

TEST_F(SpoolerPorts, EnumMonitorsLevels1And2)
{
    const DWORD expected = 2 * sizeof(MONITOR_INFO_2W) + packed(u"Test Monitor A") + packed(u"Test Monitor B") +
                           2 * packed(u"Windows x64") + 2 * packed(u"TESTMON.DLL");
    DWORD needed = 0;
    DWORD count = 0;
    EXPECT_FALSE(EnumMonitorsW(nullptr, 2, nullptr, 0, &needed, &count));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(needed, expected);
    std::vector<BYTE> buffer(expected);
    ASSERT_TRUE(EnumMonitorsW(nullptr, 2, buffer.data(), expected, &needed, &count));
    ASSERT_EQ(count, 2u);
    auto* monitors = reinterpret_cast<MONITOR_INFO_2W*>(buffer.data());
    EXPECT_EQ(reinterpret_cast<BYTE*>(monitors[0].pName), buffer.data() + expected - packed(u"Test Monitor A"));
    EXPECT_EQ(std::u16string(monitors[1].pName), u"Test Monitor B");
    EXPECT_EQ(std::u16string(monitors[1].pEnvironment), u"Windows x64");
    EXPECT_EQ(std::u16string(monitors[1].pDLLName), u"TESTMON.DLL");

    EXPECT_FALSE(EnumMonitorsW(nullptr, 1, nullptr, 0, &needed, &count));
    EXPECT_EQ(needed, 2 * sizeof(MONITOR_INFO_1W) + packed(u"Test Monitor A") + packed(u"Test Monitor B"));
    EXPECT_FALSE(EnumMonitorsW(nullptr, 3, nullptr, 0, &needed, &count));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_LEVEL));
}

TEST_F(SpoolerPorts, SetPortLevel3)
{
    std::u16string port = u"port22"; // port names compare without regard to case
    std::u16string text = u"Paper jam";
    PORT_INFO_3W status = {PORT_STATUS_PAPER_JAM, text.data(), PORT_STATUS_TYPE_ERROR};
    EXPECT_TRUE(SetPortW(nullptr, port.data(), 3, reinterpret_cast<LPBYTE>(&status)));
    PORT_INFO_3W cleared = {0, nullptr, 0};
    EXPECT_TRUE(SetPortW(nullptr, port.data(), 3, reinterpret_cast<LPBYTE>(&cleared)));

    std::u16string unknown = u"NOPE";
    EXPECT_FALSE(SetPortW(nullptr, unknown.data(), 3, reinterpret_cast<LPBYTE>(&status)));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_UNKNOWN_PORT));
    EXPECT_FALSE(SetPortW(nullptr, port.data(), 1, reinterpret_cast<LPBYTE>(&status)));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_LEVEL));
}

TEST_F(SpoolerPorts, DeletePortGoesThroughTheMonitorsXcvDeletePort)
{
    std::u16string port = u"PORT22";
    ASSERT_TRUE(keyExists(monitorKey(u"Test Monitor A") + u"\\Ports\\PORT22"));
    EXPECT_TRUE(DeletePortW(nullptr, nullptr, port.data()));
    EXPECT_FALSE(keyExists(monitorKey(u"Test Monitor A") + u"\\Ports\\PORT22"));
    DWORD needed = 0;
    DWORD count = 0;
    EnumPortsW(nullptr, 1, nullptr, 0, &needed, &count);
    EXPECT_EQ(needed, 2 * sizeof(PORT_INFO_1W) + packed(u"P1") + packed(u"Q1"));

    EXPECT_FALSE(DeletePortW(nullptr, nullptr, port.data()));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_UNKNOWN_PORT));
    // The monitor's own Xcv handle for the deletion was closed again.
    EXPECT_EQ(readDword(monitorKey(u"Test Monitor A"), W("OpenXcv")), 0u);
}

TEST_F(SpoolerPorts, AddMonitorRegistersAndLoadsIt)
{
    std::u16string name = u"Added Later";
    std::u16string environment = u"Windows x64";
    std::u16string dll = u"TESTMON.DLL";
    setDwordValue(monitorKey(name) + u"\\Ports\\N1", W("Unused"), 0); // settings may predate it
    MONITOR_INFO_2W info = {name.data(), environment.data(), dll.data()};
    ASSERT_TRUE(AddMonitorW(nullptr, 2, reinterpret_cast<LPBYTE>(&info)));

    // Driver is REG_SZ with its terminator, byte for byte.
    DWORD type = 0;
    BYTE data[64] = {};
    DWORD size = sizeof data;
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, monitorKey(name).c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
    ASSERT_EQ(RegQueryValueExW(key, W("Driver"), nullptr, &type, data, &size), ERROR_SUCCESS);
    RegCloseKey(key);
    const BYTE expected[] = {'T', 0, 'E', 0, 'S', 0, 'T', 0, 'M', 0, 'O', 0, 'N', 0,
                             '.', 0, 'D', 0, 'L', 0, 'L', 0, 0,   0};
    EXPECT_EQ(type, DWORD(REG_SZ));
    ASSERT_EQ(size, sizeof expected);
    EXPECT_EQ(std::memcmp(data, expected, size), 0);
    EXPECT_EQ(readDword(monitorKey(name), W("InitCount")), 1u);
    XcvHandle xcv(u",XcvPort N1");
    EXPECT_TRUE(xcv.opened());

    EXPECT_FALSE(AddMonitorW(nullptr, 2, reinterpret_cast<LPBYTE>(&info)));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_PRINT_MONITOR_ALREADY_INSTALLED));
    std::u16string otherName = u"Other";
    std::u16string wrongEnvironment = u"Windows NT x86";
    MONITOR_INFO_2W wrong = {otherName.data(), wrongEnvironment.data(), dll.data()};
    EXPECT_FALSE(AddMonitorW(nullptr, 2, reinterpret_cast<LPBYTE>(&wrong)));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_ENVIRONMENT));
    EXPECT_FALSE(AddMonitorW(nullptr, 1, reinterpret_cast<LPBYTE>(&info)));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_LEVEL));
}

TEST_F(SpoolerPorts, AddMonitorThatCannotLoadLeavesNoRegistration)
{
    std::u16string name = u"Ghost";
    std::u16string dll = u"NOSUCHMON.DLL";
    MONITOR_INFO_2W info = {name.data(), nullptr, dll.data()};
    EXPECT_FALSE(AddMonitorW(nullptr, 2, reinterpret_cast<LPBYTE>(&info)));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_MOD_NOT_FOUND));
    EXPECT_FALSE(keyExists(monitorKey(name)));
}

TEST_F(SpoolerPorts, DeleteMonitorUnloadsAndUnregisters)
{
    std::u16string name = u"test monitor b";
    EXPECT_TRUE(DeleteMonitorW(nullptr, nullptr, name.data()));
    EXPECT_FALSE(keyExists(monitorKey(u"Test Monitor B")));
    DWORD needed = 0;
    DWORD count = 0;
    EnumMonitorsW(nullptr, 1, nullptr, 0, &needed, &count);
    EXPECT_EQ(needed, sizeof(MONITOR_INFO_1W) + packed(u"Test Monitor A"));
    XcvHandle gone(u",XcvPort Q1");
    EXPECT_FALSE(gone.opened());
    EXPECT_EQ(gone.error(), DWORD(ERROR_INVALID_PRINTER_NAME));

    EXPECT_FALSE(DeleteMonitorW(nullptr, nullptr, name.data()));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_UNKNOWN_PRINT_MONITOR));
}

TEST_F(SpoolerPorts, DeleteMonitorWaitsForOpenXcvHandlesBeforeShutdown)
{
    XcvHandle xcv(u",XcvPort Q1");
    ASSERT_TRUE(xcv.opened());
    std::u16string name = u"Test Monitor B";
    EXPECT_TRUE(DeleteMonitorW(nullptr, nullptr, name.data()));
    // The monitor is still there for the handle that was open.
    std::vector<BYTE> output(64);
    EXPECT_EQ(xcv.call(W("Object"), {}, output), 0u);
    EXPECT_EQ(std::u16string(reinterpret_cast<WCHAR*>(output.data())), u"Q1");
}

TEST_F(SpoolerPortsNonAdmin, ChangesNeedAdministratorRights)
{
    std::u16string port = u"P1";
    PORT_INFO_3W status = {PORT_STATUS_OFFLINE, nullptr, PORT_STATUS_TYPE_WARNING};
    EXPECT_FALSE(SetPortW(nullptr, port.data(), 3, reinterpret_cast<LPBYTE>(&status)));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(DeletePortW(nullptr, nullptr, port.data()));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    std::u16string name = u"Test Monitor A";
    EXPECT_FALSE(DeleteMonitorW(nullptr, nullptr, name.data()));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    std::u16string dll = u"TESTMON.DLL";
    std::u16string added = u"Added";
    MONITOR_INFO_2W info = {added.data(), nullptr, dll.data()};
    EXPECT_FALSE(AddMonitorW(nullptr, 2, reinterpret_cast<LPBYTE>(&info)));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));

    // Reading is allowed.
    DWORD needed = 0;
    DWORD count = 0;
    EXPECT_FALSE(EnumPortsW(nullptr, 1, nullptr, 0, &needed, &count));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
}

} // namespace
