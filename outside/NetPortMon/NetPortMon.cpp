// Stand-in for the other port monitors on the machine (standard TCP/IP, LPR, PrintHub LAN and the
// earlier monitor of this system), so that printers can sit on their ports and be converted.
// One source built once per monitor: NETPORTMON_NAME is the monitor's name, NETPORTMON_DLL its
// module name.
//
// Its ports are the subkeys of Ports below its registry key, read afresh at every EnumPorts. It takes
// jobs and discards them. Its only Xcv method is "PortExist" (input: a port name; output: a DWORD,
// TRUE when the port is one of its own); any other method gives ERROR_NOT_SUPPORTED.
#include <cstring>
#include <string>
#include <vector>

#include "pal/files.h"
#include "pal/registry.h"
#include "pal/strings.h"
#include "pal/winspool.h"

#ifndef NETPORTMON_NAME
#error "NETPORTMON_NAME names the monitor"
#endif

namespace {

constexpr DWORD kMaxPortName = 256;

struct NetMonitor {
    PMONITORINIT init;
};

struct NetPort {
    NetMonitor* monitor;
    std::u16string name;
};

// The subkeys of Ports, in registry order.
std::vector<std::u16string> listPorts(NetMonitor* monitor)
{
    std::vector<std::u16string> ports;
    PMONITORREG reg = monitor->init->pMonitorReg;
    HANDLE spooler = monitor->init->hSpooler;
    HANDLE key = nullptr;
    if (reg->fpOpenKey(monitor->init->hckRegistryRoot, u"Ports", KEY_READ, &key, spooler) != ERROR_SUCCESS)
        return ports;
    for (DWORD index = 0;; ++index) {
        WCHAR name[kMaxPortName + 1];
        DWORD length = kMaxPortName + 1;
        if (reg->fpEnumKey(key, index, name, &length, nullptr, spooler) != ERROR_SUCCESS)
            break;
        ports.emplace_back(name, length);
    }
    reg->fpCloseKey(key, spooler);
    return ports;
}

bool ownsPort(NetMonitor* monitor, LPCWSTR name)
{
    for (const std::u16string& port : listPorts(monitor))
        if (lstrcmpiW(port.c_str(), name) == 0)
            return true;
    return false;
}

size_t bytesOf(const std::u16string& text)
{
    return (text.size() + 1) * sizeof(WCHAR);
}

// Records from the front of the buffer, strings packed from its end.
class PortPacker {
public:
    PortPacker(LPBYTE buffer, DWORD size) : buffer_(buffer), end_(buffer + size) {}
    LPWSTR put(const std::u16string& text)
    {
        end_ -= bytesOf(text);
        memcpy(end_, text.c_str(), bytesOf(text));
        return reinterpret_cast<LPWSTR>(end_);
    }

private:
    LPBYTE buffer_;
    LPBYTE end_;
};

BOOL WINAPI enumPorts(HANDLE hMonitor, LPWSTR, DWORD level, LPBYTE ports, DWORD size, LPDWORD needed, LPDWORD returned)
{
    auto* monitor = static_cast<NetMonitor*>(hMonitor);
    if (level != 1 && level != 2) {
        SetLastError(ERROR_INVALID_LEVEL);
        return FALSE;
    }
    const std::u16string dll = NETPORTMON_DLL, description = NETPORTMON_NAME;
    std::vector<std::u16string> names = listPorts(monitor);
    size_t total = 0;
    for (const std::u16string& name : names)
        total += level == 1 ? sizeof(PORT_INFO_1W) + bytesOf(name)
                            : sizeof(PORT_INFO_2W) + bytesOf(name) + bytesOf(dll) + bytesOf(description);
    *needed = static_cast<DWORD>(total);
    *returned = 0;
    if (total > size || (total && !ports)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    PortPacker packer(ports, size);
    for (size_t i = 0; i < names.size(); ++i) {
        if (level == 1) {
            reinterpret_cast<PORT_INFO_1W*>(ports)[i].pName = packer.put(names[i]);
            continue;
        }
        PORT_INFO_2W& info = reinterpret_cast<PORT_INFO_2W*>(ports)[i];
        info.pPortName = packer.put(names[i]);
        info.pMonitorName = packer.put(dll);
        info.pDescription = packer.put(description);
        info.fPortType = PORT_TYPE_WRITE;
        info.Reserved = 0;
    }
    *returned = static_cast<DWORD>(names.size());
    return TRUE;
}

BOOL WINAPI openPort(HANDLE hMonitor, LPWSTR name, PHANDLE port)
{
    auto* monitor = static_cast<NetMonitor*>(hMonitor);
    if (!name || !port || !ownsPort(monitor, name)) {
        SetLastError(ERROR_UNKNOWN_PORT);
        return FALSE;
    }
    *port = new NetPort{monitor, name};
    return TRUE;
}

BOOL WINAPI startDocPort(HANDLE, LPWSTR, DWORD, DWORD, LPBYTE)
{
    return TRUE;
}

BOOL WINAPI writePort(HANDLE, LPBYTE, DWORD size, LPDWORD written)
{
    *written = size; // taken and discarded
    return TRUE;
}

BOOL WINAPI endDocPort(HANDLE)
{
    return TRUE;
}

BOOL WINAPI closePort(HANDLE port)
{
    delete static_cast<NetPort*>(port);
    return TRUE;
}

BOOL WINAPI xcvOpenPort(HANDLE hMonitor, LPCWSTR, ACCESS_MASK, PHANDLE xcv)
{
    *xcv = hMonitor;
    return TRUE;
}

DWORD WINAPI xcvDataPort(HANDLE xcv, LPCWSTR method, PBYTE input, DWORD inputSize, PBYTE output, DWORD outputSize,
                         PDWORD needed)
{
    if (!method || lstrcmpW(method, u"PortExist") != 0)
        return ERROR_NOT_SUPPORTED;
    if (!input || inputSize < sizeof(WCHAR))
        return ERROR_INVALID_DATA;
    if (!output || outputSize < sizeof(DWORD)) {
        if (needed)
            *needed = sizeof(DWORD);
        return ERROR_INSUFFICIENT_BUFFER;
    }
    std::u16string name(reinterpret_cast<LPCWSTR>(input), inputSize / sizeof(WCHAR));
    name.resize(std::char_traits<char16_t>::length(name.c_str()));
    DWORD exists = ownsPort(static_cast<NetMonitor*>(xcv), name.c_str()) ? TRUE : FALSE;
    memcpy(output, &exists, sizeof exists);
    return ERROR_SUCCESS;
}

BOOL WINAPI xcvClosePort(HANDLE)
{
    return TRUE;
}

VOID WINAPI shutdown(HANDLE hMonitor)
{
    delete static_cast<NetMonitor*>(hMonitor);
}

MONITOR2 makeTable()
{
    MONITOR2 table{};
    table.cbSize = sizeof(MONITOR2);
    table.pfnEnumPorts = enumPorts;
    table.pfnOpenPort = openPort;
    table.pfnStartDocPort = startDocPort;
    table.pfnWritePort = writePort;
    table.pfnEndDocPort = endDocPort;
    table.pfnClosePort = closePort;
    table.pfnXcvOpenPort = xcvOpenPort;
    table.pfnXcvDataPort = xcvDataPort;
    table.pfnXcvClosePort = xcvClosePort;
    table.pfnShutdown = shutdown;
    return table;
}

MONITOR2 g_table = makeTable();

} // namespace

extern "C" PAL_EXPORT LPMONITOR2 WINAPI InitializePrintMonitor2(PMONITORINIT pMonitorInit, PHANDLE phMonitor)
{
    if (!pMonitorInit || !phMonitor)
        return nullptr;
    *phMonitor = new NetMonitor{pMonitorInit};
    return &g_table;
}
