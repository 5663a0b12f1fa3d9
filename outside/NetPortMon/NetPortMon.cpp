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

#include "pal/strings.h"
#include "pal/winspool.h"

#include "MonitorPorts.h"

#ifndef NETPORTMON_NAME
#error "NETPORTMON_NAME names the monitor"
#endif

namespace {

struct NetPort {
    netportmon::Monitor* monitor;
    std::u16string name;
};

BOOL WINAPI enumPorts(HANDLE hMonitor, LPWSTR, DWORD level, LPBYTE ports, DWORD size, LPDWORD needed, LPDWORD returned)
{
    const MONITORINIT& init = *static_cast<netportmon::Monitor*>(hMonitor)->init;
    return netportmon::enumPorts(netportmon::listPorts(init), NETPORTMON_DLL, NETPORTMON_NAME, level, ports, size,
                                 needed, returned);
}

BOOL WINAPI openPort(HANDLE hMonitor, LPWSTR name, PHANDLE port)
{
    auto* monitor = static_cast<netportmon::Monitor*>(hMonitor);
    if (!name || !port || !netportmon::ownsPort(*monitor->init, name)) {
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
    DWORD exists = netportmon::ownsPort(*static_cast<netportmon::Monitor*>(xcv)->init, name.c_str()) ? TRUE : FALSE;
    memcpy(output, &exists, sizeof exists);
    return ERROR_SUCCESS;
}

MONITOR2 makeTable()
{
    MONITOR2 table = netportmon::sharedTable();
    table.pfnEnumPorts = enumPorts;
    table.pfnOpenPort = openPort;
    table.pfnStartDocPort = startDocPort;
    table.pfnWritePort = writePort;
    table.pfnEndDocPort = endDocPort;
    table.pfnClosePort = closePort;
    table.pfnXcvDataPort = xcvDataPort;
    return table;
}

MONITOR2 g_table = makeTable();

} // namespace

extern "C" PAL_EXPORT LPMONITOR2 WINAPI InitializePrintMonitor2(PMONITORINIT pMonitorInit, PHANDLE phMonitor)
{
    return netportmon::initialize(pMonitorInit, phMonitor, &g_table);
}
