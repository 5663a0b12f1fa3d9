// AddPortW, ConfigurePortW and DeletePortW: the monitor names its UI module through its Xcv method
// "MonitorUI"; the module is loaded in the caller's process, its InitializePrintMonitorUI table
// gives the entry that runs the dialogs, and the module is freed again. A monitor without a UI
// keeps the host's DeletePort; adding or configuring its ports is not supported.
#include <string>

#include "pal/files.h"
#include "pal/winspool.h"
#include "winspool/winspool_ports.h"

namespace {

constexpr DWORD kMonitorUiSize = 32; // the three entries after the size
constexpr DWORD kUiNameBytes = MAX_PATH * sizeof(WCHAR);

enum class UiLookup { Found, NoUi, Failed };

std::u16string xcvObject(LPCWSTR server, const char16_t* kind, LPCWSTR name)
{
    std::u16string object;
    if (server && server[0])
        object = std::u16string(server) + u"\\";
    return object + u"," + kind + u" " + name;
}

// The module name the monitor gives for its UI. Failed: the object cannot be opened (last error).
UiLookup monitorUiName(const std::u16string& object, std::u16string& moduleName)
{
    PRINTER_DEFAULTSW defaults{nullptr, nullptr, SERVER_ACCESS_ADMINISTER};
    HANDLE xcv = nullptr;
    if (!OpenPrinterW(const_cast<LPWSTR>(object.c_str()), &xcv, &defaults))
        return UiLookup::Failed;
    WCHAR name[MAX_PATH + 1] = {};
    DWORD needed = 0, status = ERROR_SUCCESS;
    BOOL called = XcvDataW(xcv, u"MonitorUI", nullptr, 0, reinterpret_cast<PBYTE>(name), kUiNameBytes, &needed, &status);
    ClosePrinter(xcv);
    if (!called || status != ERROR_SUCCESS || !name[0])
        return UiLookup::NoUi;
    moduleName = name;
    return UiLookup::Found;
}

// Loads the UI module and runs one of its entries; the module is freed afterwards with the entry's
// last error kept.
template <class Entry>
BOOL runMonitorUi(const std::u16string& moduleName, Entry entry)
{
    HMODULE module = LoadLibraryW(moduleName.c_str());
    if (!module)
        return FALSE;
    auto initialize = reinterpret_cast<PFN_InitializePrintMonitorUI>(GetProcAddress(module, "InitializePrintMonitorUI"));
    PMONITORUI table = initialize ? initialize() : nullptr;
    BOOL result = FALSE;
    DWORD error = ERROR_PROC_NOT_FOUND;
    if (table && table->dwMonitorUISize >= kMonitorUiSize) {
        result = entry(*table);
        error = GetLastError();
    } else if (initialize) {
        error = ERROR_INVALID_DATA;
    }
    FreeLibrary(module);
    SetLastError(error);
    return result;
}

template <class Entry>
BOOL withMonitorUi(const std::u16string& object, Entry entry)
{
    std::u16string moduleName;
    switch (monitorUiName(object, moduleName)) {
    case UiLookup::Found:
        return runMonitorUi(moduleName, entry);
    case UiLookup::NoUi:
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    default:
        return FALSE;
    }
}

} // namespace

extern "C" {

BOOL WINAPI AddPortW(LPWSTR pName, HWND hWnd, LPWSTR pMonitorName)
{
    if (!pMonitorName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return withMonitorUi(xcvObject(pName, u"XcvMonitor", pMonitorName), [&](const MONITORUI& ui) {
        return ui.pfnAddPortUI && ui.pfnAddPortUI(pName, hWnd, pMonitorName, nullptr);
    });
}

BOOL WINAPI ConfigurePortW(LPWSTR pName, HWND hWnd, LPWSTR pPortName)
{
    if (!pPortName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return withMonitorUi(xcvObject(pName, u"XcvPort", pPortName), [&](const MONITORUI& ui) {
        return ui.pfnConfigurePortUI && ui.pfnConfigurePortUI(pName, hWnd, pPortName);
    });
}

BOOL WINAPI DeletePortW(LPWSTR pName, HWND hWnd, LPWSTR pPortName)
{
    if (!pPortName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::u16string moduleName;
    if (monitorUiName(xcvObject(pName, u"XcvPort", pPortName), moduleName) != UiLookup::Found)
        return deletePortOnHost(pName, pPortName);
    return runMonitorUi(moduleName, [&](const MONITORUI& ui) {
        return ui.pfnDeletePortUI && ui.pfnDeletePortUI(pName, hWnd, pPortName);
    });
}

} // extern "C"
