// The monitor exports, the monitor information of JTRKMON2.INF, the UI module's name and the
// removal of the special ports.
#include "jtrkutil.h"

#define INF_FILE_NAME W("JTRKMON2.INF")
#define INF_SECTION W("PortMonitors")
#define INF_DLL_KEY W("PortMonitorDll")
#define UI_MONITOR_NAME_MAX 63

DWORD WINAPI JTMXIsMonitorExists(LPCWSTR monitorName)
{
    if (monitorName == NULL || monitorName[0] == 0)
        return 0;
    MONITOR_INFO_2W* monitors = NULL;
    DWORD needed = 0, count = 0;
    if (!EnumMonitorsW(NULL, 2, NULL, 0, &needed, &count) && GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        return 0;
    monitors = (MONITOR_INFO_2W*)LocalAlloc(LPTR, needed ? needed : 1);
    if (monitors == NULL)
        return 0;
    DWORD found = 0;
    if (EnumMonitorsW(NULL, 2, (LPBYTE)monitors, needed, &needed, &count))
        for (DWORD i = 0; i < count && !found; ++i)
            found = UtilSameName(monitors[i].pName, monitorName) ? 1 : 0;
    LocalFree(monitors);
    return found;
}

DWORD WINAPI JTMXAddMonitor(LPCWSTR monitorName, LPCWSTR monitorDll)
{
    if (monitorName == NULL || monitorDll == NULL)
        return ERROR_INVALID_PARAMETER;
    if (JTMXIsMonitorExists(monitorName))
        return ERROR_SUCCESS;
    MONITOR_INFO_2W info = {(LPWSTR)monitorName, (LPWSTR)UTIL_ENVIRONMENT, (LPWSTR)monitorDll};
    return AddMonitorW(NULL, 2, (LPBYTE)&info) ? ERROR_SUCCESS : GetLastError();
}

DWORD WINAPI JTMXDeleteMonitor(LPCWSTR monitorName)
{
    if (monitorName == NULL)
        return ERROR_INVALID_PARAMETER;
    if (!JTMXIsMonitorExists(monitorName))
        return ERROR_SUCCESS;
    return DeleteMonitorW(NULL, (LPWSTR)UTIL_ENVIRONMENT, (LPWSTR)monitorName) ? ERROR_SUCCESS : GetLastError();
}

static void RemoveQuotes(LPWSTR text)
{
    LPWSTR out = text;
    for (LPCWSTR in = text; *in; ++in)
        if (*in != W('"'))
            *out++ = *in;
    *out = 0;
}

static DWORD ReadInf(LPCWSTR path, LPWSTR monitorName, LPWSTR monitorDll)
{
    if (GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES)
        return GetLastError();
    WCHAR keys[UTIL_MONITOR_NAME_MAX + 2] = {};
    GetPrivateProfileStringW(INF_SECTION, NULL, W(""), keys, UTIL_MONITOR_NAME_MAX + 2, path);
    WCHAR section[UTIL_MONITOR_NAME_MAX] = {};
    if (keys[0])
        GetPrivateProfileStringW(INF_SECTION, keys, W(""), section, UTIL_MONITOR_NAME_MAX, path);
    if (section[0])
        GetPrivateProfileStringW(section, INF_DLL_KEY, W(""), monitorDll, UTIL_MONITOR_DLL_MAX, path);
    RemoveQuotes(keys);
    lstrcpynW(monitorName, keys, UTIL_MONITOR_NAME_MAX);
    return monitorName[0] && section[0] && monitorDll[0] ? ERROR_SUCCESS : ERROR_BAD_FORMAT;
}

DWORD UtilGetPortMonitorInfo(MSIHANDLE session, LPWSTR monitorName, LPWSTR monitorDll)
{
    monitorName[0] = 0;
    monitorDll[0] = 0;
    WCHAR folder[UTIL_FOLDER_MAX + 1];
    UtilCustomActionField(session, 1, folder, UTIL_FOLDER_MAX + 1);
    DWORD length = (DWORD)lstrlenW(folder);
    if (length == 0 || length >= UTIL_FOLDER_MAX)
        return ERROR_INVALID_PARAMETER;
    WCHAR path[UTIL_FOLDER_MAX + 16];
    LPCWSTR separator = folder[length - 1] == W('\\') ? W("") : W("\\");
    StringCchPrintfW(path, UTIL_FOLDER_MAX + 16, W("%ls%ls%ls"), folder, separator, INF_FILE_NAME);
    DWORD error = ReadInf(path, monitorName, monitorDll);
    DeleteFileW(path);
    return error;
}

DWORD UtilGetMonitorUiName(LPCWSTR monitorName, LPWSTR uiName, DWORD size)
{
    if (monitorName == NULL || lstrlenW(monitorName) > UI_MONITOR_NAME_MAX)
        return ERROR_INVALID_PARAMETER;
    WCHAR xcvName[UI_MONITOR_NAME_MAX + 16];
    StringCchPrintfW(xcvName, UI_MONITOR_NAME_MAX + 16, W(",XcvMonitor %ls"), monitorName);
    PRINTER_DEFAULTSW defaults = {NULL, NULL, SERVER_ACCESS_ADMINISTER};
    HANDLE xcv = NULL;
    if (!OpenPrinterW(xcvName, &xcv, &defaults))
        return GetLastError();
    DWORD needed = 0, status = 0;
    DWORD error = ERROR_SUCCESS;
    if (!XcvDataW(xcv, W("MonitorUI"), NULL, 0, NULL, 0, &needed, &status))
        error = GetLastError();
    else if (status != ERROR_INSUFFICIENT_BUFFER)
        error = status ? status : ERROR_INVALID_DATA;
    else if (needed > size * sizeof(WCHAR) || needed < sizeof(WCHAR))
        error = ERROR_INSUFFICIENT_BUFFER;
    else if (!XcvDataW(xcv, W("MonitorUI"), NULL, 0, (PBYTE)uiName, needed, &needed, &status))
        error = GetLastError();
    else if (status != ERROR_SUCCESS)
        error = status;
    else
        uiName[needed / sizeof(WCHAR) - 1] = 0;
    ClosePrinter(xcv);
    return error;
}

DWORD UtilDeleteSpecialPorts(void)
{
    PORT_INFO_2W* ports = NULL;
    DWORD count = 0;
    DWORD error = UtilEnumPorts(&ports, &count);
    for (DWORD i = 0; i < count && error == ERROR_SUCCESS; ++i)
        if (UtilStartsWith(ports[i].pMonitorName, UTIL_SPECIAL_MONITOR_PREFIX) &&
            !DeletePortW(NULL, NULL, ports[i].pPortName))
            error = GetLastError();
    LocalFree(ports);
    return error;
}
