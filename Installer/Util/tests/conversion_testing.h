// The conversion fixture: the spooler host with the stand-in network monitors, their ports and
// the maker's printers on them, JTRKMON2 and its UI JTRKMNUI2.
#pragma once

#include "test_spooler_host.h"
#include "util_testing.h"

namespace utiltest {

const std::u16string kTcp = u"Standard TCP/IP Port", kLpr = u"LPR Port", kHub = u"HARBOR PrintHub LAN Port",
                     kObv1 = u"TALLY-DESK Output Beacon Port", kPort2 = u"TALLY-DESK Output Beacon Port2";
const char16_t* const kData = u",C:\\JTRK";

inline std::u16string portKey(const std::u16string& monitor, const std::u16string& port)
{
    return spoolertest::monitorKey(monitor) + u"\\Ports\\" + port;
}

// The printer's port, or "(none)".
inline std::u16string portOf(const std::u16string& name)
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

class Installer : public UtilRoot {
protected:
    void SetUp() override
    {
        UtilRoot::SetUp();
        spoolertest::setStringValue(spoolertest::monitorKey(kTcp), u"Driver", u"tcpmon.dll");
    }
    void tcpPort(const std::u16string& name, const std::u16string& host)
    {
        std::u16string key = portKey(kTcp, name);
        spoolertest::setStringValue(key, u"HostName", host);
        spoolertest::setDwordValue(key, u"Protocol", 1);
        spoolertest::setDwordValue(key, u"PortNumber", 9100);
    }
    // The monitors of LPR, PrintHub LAN and the earlier monitor registered beside TCP/IP.
    void otherMonitors()
    {
        spoolertest::setStringValue(spoolertest::monitorKey(kLpr), u"Driver", u"lprmon.dll");
        spoolertest::setStringValue(spoolertest::monitorKey(kHub), u"Driver", u"phlanmon.dll");
        spoolertest::setStringValue(spoolertest::monitorKey(kObv1), u"Driver", u"obv1mon.dll");
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
    UINT run(const char* action, Session& session)
    {
        session.set(u"CustomActionData", kData);
        return util.action(action, session.handle);
    }
    DWORD exists(const char16_t* name)
    {
        return util.entry<DWORD(WINAPI*)(LPCWSTR)>("JTMXIsMonitorExists")(name);
    }
    DWORD addMonitor()
    {
        return util.entry<DWORD(WINAPI*)(LPCWSTR, LPCWSTR)>("JTMXAddMonitor")(kPort2.c_str(), u"JTRKMON2.DLL");
    }
    // The conversion alone, with JTRKMNUI2 as the UI module.
    DWORD toSpecialPort(Session& session)
    {
        return util.entry<DWORD(WINAPI*)(MSIHANDLE, LPCWSTR)>("JTMXToSecialPort")(session.handle, u"JTRKMNUI2.dll");
    }
    // A port of the monitor as EnumPorts lists it (name compared without case).
    bool portListed(const std::u16string& name)
    {
        DWORD needed = 0, count = 0;
        EnumPortsW(nullptr, 2, nullptr, 0, &needed, &count);
        std::vector<BYTE> buffer(needed + 1);
        if (!EnumPortsW(nullptr, 2, buffer.data(), needed, &needed, &count))
            return false;
        auto* ports = reinterpret_cast<PORT_INFO_2W*>(buffer.data());
        for (DWORD i = 0; i < count; ++i)
            if (lstrcmpiW(ports[i].pPortName, name.c_str()) == 0)
                return true;
        return false;
    }
    bool keyExists(const std::u16string& path)
    {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
            return false;
        RegCloseKey(key);
        return true;
    }
    std::u16string stringValue(const std::u16string& path, const char16_t* name)
    {
        WCHAR text[256] = {};
        DWORD size = sizeof(text) - sizeof(WCHAR);
        RegGetValueW(HKEY_LOCAL_MACHINE, path.c_str(), name, RRF_RT_REG_SZ, nullptr, text, &size);
        return text;
    }
    DWORD dwordValue(const std::u16string& path, const char16_t* name)
    {
        DWORD value = 0, size = sizeof(value);
        RegGetValueW(HKEY_LOCAL_MACHINE, path.c_str(), name, RRF_RT_REG_DWORD, nullptr, &value, &size);
        return value;
    }

    spoolertest::SpoolerHost host;
};

} // namespace utiltest
