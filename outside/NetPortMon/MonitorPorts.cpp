#include "MonitorPorts.h"

#include <cstring>

#include "pal/registry.h"
#include "pal/strings.h"

namespace netportmon {

namespace {

constexpr DWORD kMaxPortName = 256;

size_t bytesOf(const std::u16string& text)
{
    return (text.size() + 1) * sizeof(WCHAR);
}

// Records from the front of the buffer, strings packed from its end.
class PortPacker {
public:
    PortPacker(LPBYTE buffer, DWORD size) : end_(buffer + size) {}
    LPWSTR put(const std::u16string& text)
    {
        end_ -= bytesOf(text);
        memcpy(end_, text.c_str(), bytesOf(text));
        return reinterpret_cast<LPWSTR>(end_);
    }

private:
    LPBYTE end_;
};

BOOL WINAPI xcvOpenPort(HANDLE hMonitor, LPCWSTR, ACCESS_MASK, PHANDLE xcv)
{
    *xcv = hMonitor;
    return TRUE;
}

BOOL WINAPI xcvClosePort(HANDLE)
{
    return TRUE;
}

VOID WINAPI shutdown(HANDLE hMonitor)
{
    delete static_cast<Monitor*>(hMonitor);
}

} // namespace

MONITOR2 sharedTable()
{
    MONITOR2 table{};
    table.cbSize = sizeof(MONITOR2);
    table.pfnXcvOpenPort = xcvOpenPort;
    table.pfnXcvClosePort = xcvClosePort;
    table.pfnShutdown = shutdown;
    return table;
}

LPMONITOR2 initialize(PMONITORINIT init, PHANDLE phMonitor, MONITOR2* table)
{
    if (!init || !phMonitor)
        return nullptr;
    *phMonitor = new Monitor{init};
    return table;
}

std::vector<std::u16string> listPorts(const MONITORINIT& init)
{
    std::vector<std::u16string> ports;
    PMONITORREG reg = init.pMonitorReg;
    HANDLE key = nullptr;
    if (reg->fpOpenKey(init.hckRegistryRoot, u"Ports", KEY_READ, &key, init.hSpooler) != ERROR_SUCCESS)
        return ports;
    for (DWORD index = 0;; ++index) {
        WCHAR name[kMaxPortName + 1];
        DWORD length = kMaxPortName + 1;
        if (reg->fpEnumKey(key, index, name, &length, nullptr, init.hSpooler) != ERROR_SUCCESS)
            break;
        ports.emplace_back(name, length);
    }
    reg->fpCloseKey(key, init.hSpooler);
    return ports;
}

bool ownsPort(const MONITORINIT& init, LPCWSTR name)
{
    for (const std::u16string& port : listPorts(init))
        if (lstrcmpiW(port.c_str(), name) == 0)
            return true;
    return false;
}

BOOL enumPorts(const std::vector<std::u16string>& names, const std::u16string& dll,
               const std::u16string& description, DWORD level, LPBYTE ports, DWORD size, LPDWORD needed,
               LPDWORD returned)
{
    if (level != 1 && level != 2) {
        SetLastError(ERROR_INVALID_LEVEL);
        return FALSE;
    }
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

} // namespace netportmon
