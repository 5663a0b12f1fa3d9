// A monitor whose ports are the subkeys of Ports below its registry key: its handle, the calls every
// such monitor makes alike, the ports listed and returned by EnumPorts. Shared by the stand-in
// monitors and the UI tests' scripted monitor.
#pragma once

#include <string>
#include <vector>

#include "pal/winspool.h"

namespace netportmon {

// The monitor's handle: what InitializePrintMonitor2 was given.
struct Monitor {
    PMONITORINIT init;
};

// The calls these monitors share (an Xcv handle is the monitor itself; Shutdown frees the monitor);
// the caller adds its own.
MONITOR2 sharedTable();
// InitializePrintMonitor2: a new Monitor in *phMonitor, and table; NULL for a missing argument.
LPMONITOR2 initialize(PMONITORINIT init, PHANDLE phMonitor, MONITOR2* table);

// The subkeys of Ports, in registry order, read afresh at every call.
std::vector<std::u16string> listPorts(const MONITORINIT& init);
// Whether name is one of those ports, in any case.
bool ownsPort(const MONITORINIT& init, LPCWSTR name);
// EnumPorts at level 1 or 2: the records from the front of the buffer, their strings packed from its
// end; every port named dll and described as description. Other levels fail with ERROR_INVALID_LEVEL.
BOOL enumPorts(const std::vector<std::u16string>& names, const std::u16string& dll,
               const std::u16string& description, DWORD level, LPBYTE ports, DWORD size, LPDWORD needed,
               LPDWORD returned);

} // namespace netportmon
