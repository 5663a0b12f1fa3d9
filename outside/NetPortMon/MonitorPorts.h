// The ports of a monitor kept as the subkeys of Ports below its registry key, listed and returned by
// EnumPorts: shared by the stand-in monitors and the UI tests' scripted monitor.
#pragma once

#include <string>
#include <vector>

#include "pal/winspool.h"

namespace netportmon {

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
