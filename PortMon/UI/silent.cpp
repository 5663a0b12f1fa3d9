// Silent add: a port of this monitor made from a port of the standard TCP/IP, LPR, PrintHub LAN or
// earlier monitor, without any dialog (used by the installer when it converts printers).
#include "jtrkmnui.h"

#define SOURCE_KIND_TCPMON 1
#define SOURCE_KIND_LPR 2
#define SOURCE_KIND_PHLAN 4
#define SOURCE_KIND_OLD 8
#define SOURCE_KEY_LEN 160
#define MONITORS_KEY W("SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\")

static LPCWSTR SourcePortsKey(DWORD dwKind)
{
    switch (dwKind) {
    case SOURCE_KIND_TCPMON:
        return MONITORS_KEY W("Standard TCP/IP Port\\Ports");
    case SOURCE_KIND_LPR:
        return MONITORS_KEY W("LPR Port\\Ports");
    case SOURCE_KIND_PHLAN:
        return MONITORS_KEY W("HARBOR PrintHub LAN Port\\Ports");
    default:
        return NULL;
    }
}

// A port listed by EnumPortsW level 2 whose monitor DLL is the standard TCP/IP monitor's.
static BOOL bIsTcpmonPort(LPCWSTR pszServer, LPCWSTR pszPort)
{
    DWORD cbNeeded = 0, cReturned = 0;
    if (EnumPortsW((LPWSTR)pszServer, 2, NULL, 0, &cbNeeded, &cReturned) || GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        return FALSE;
    PORT_INFO_2W* pPorts = (PORT_INFO_2W*)LocalAlloc(LPTR, cbNeeded);
    if (!pPorts)
        return FALSE;
    BOOL bFound = FALSE;
    if (EnumPortsW((LPWSTR)pszServer, 2, (LPBYTE)pPorts, cbNeeded, &cbNeeded, &cReturned))
        for (DWORD i = 0; i < cReturned && !bFound; i++)
            bFound = lstrcmpiW(pPorts[i].pPortName, pszPort) == 0 && pPorts[i].pMonitorName &&
                     lstrcmpiW(pPorts[i].pMonitorName, W("tcpmon.DLL")) == 0;
    LocalFree(pPorts);
    return bFound;
}

// A subkey of the monitor's Ports key named as the port (without regard to case).
static BOOL bIsRegistryPort(LPCWSTR pszPortsKey, LPCWSTR pszPort)
{
    HKEY hKey = NULL;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, pszPortsKey, 0, KEY_READ, &hKey) != ERROR_SUCCESS)
        return FALSE;
    DWORD cSubKeys = 0, cchMaxSubKey = 0;
    BOOL bFound = FALSE;
    if (RegQueryInfoKeyW(hKey, NULL, NULL, NULL, &cSubKeys, &cchMaxSubKey, NULL, NULL, NULL, NULL, NULL, NULL) ==
        ERROR_SUCCESS) {
        LPWSTR pszName = (LPWSTR)LocalAlloc(LPTR, (cchMaxSubKey + 1) * sizeof(WCHAR));
        for (DWORD i = 0; pszName && i < cSubKeys && !bFound; i++) {
            DWORD cchName = cchMaxSubKey + 1;
            if (RegEnumKeyExW(hKey, i, pszName, &cchName, NULL, NULL, NULL, NULL) == ERROR_SUCCESS)
                bFound = lstrcmpiW(pszName, pszPort) == 0;
        }
        LocalFree(pszName);
    }
    RegCloseKey(hKey);
    return bFound;
}

static BOOL bIsOldMonitorPort(LPCWSTR pszServer, LPCWSTR pszPort)
{
    WCHAR szXcv[XCV_NAME_LEN];
    return bGetXcvMonitorName(pszServer, JTRK_OLD_PORT_TYPE_NAME, szXcv, _countof(szXcv)) &&
           PortExistOn(szXcv, pszPort);
}

BOOL GetSourcePortMonitor(LPCWSTR pszServer, LPCWSTR pszPort, LPDWORD pdwKind)
{
    if (bIsTcpmonPort(pszServer, pszPort))
        *pdwKind = SOURCE_KIND_TCPMON;
    else if (bIsRegistryPort(SourcePortsKey(SOURCE_KIND_LPR), pszPort))
        *pdwKind = SOURCE_KIND_LPR;
    else if (bIsRegistryPort(SourcePortsKey(SOURCE_KIND_PHLAN), pszPort))
        *pdwKind = SOURCE_KIND_PHLAN;
    else if (bIsOldMonitorPort(pszServer, pszPort))
        *pdwKind = SOURCE_KIND_OLD;
    else
        return FALSE;
    return TRUE;
}

static void ResetPortSettings(PPortConfigData pConfig)
{
    pConfig->dwPortNumber = JTRK_DEFAULT_PORTNUMBER;
    pConfig->dwTransferMode = JTRK_DEFAULT_TRANSFERMODE;
    pConfig->dwBanner = JTRK_DEFAULT_BANNER;
    pConfig->dwRetryInfinity = JTRK_DEFAULT_RETRYINFINITY;
    pConfig->dwRetryCount = JTRK_DEFAULT_RETRYCOUNT;
    pConfig->dwRetryInterval = JTRK_DEFAULT_RETRYINTERVAL;
    pConfig->dwLprRetryCount = JTRK_DEFAULT_LPRRETRYCOUNT;
    pConfig->dwLprRetryTimeout = JTRK_DEFAULT_LPRRETRYTIMEOUT;
    pConfig->dwWSAEventTimeout = JTRK_DEFAULT_WSAEVENTTIMEOUT;
    pConfig->dwLprSendInterval = JTRK_DEFAULT_LPRSENDINTERVAL;
    pConfig->dwLprRecvCount = JTRK_DEFAULT_LPRRECVCOUNT;
    pConfig->dwLprRecvInterval = JTRK_DEFAULT_LPRRECVINTERVAL;
    pConfig->dwLprCheckJobStatus = JTRK_DEFAULT_LPRCHECKJOBSTATUS;
}

static BOOL bReadDword(HKEY hKey, LPCWSTR pszValue, LPDWORD pdwValue)
{
    DWORD dwType = 0, dwValue = 0, cbValue = sizeof(dwValue);
    if (RegQueryValueExW(hKey, pszValue, NULL, &dwType, (LPBYTE)&dwValue, &cbValue) != ERROR_SUCCESS ||
        dwType != REG_DWORD || cbValue != sizeof(dwValue))
        return FALSE;
    *pdwValue = dwValue;
    return TRUE;
}

// Reads a string value into a field of cchField characters: at most cchField - 1 characters and a
// terminator. A longer value, or one of another type, counts as unreadable and leaves the field.
static BOOL bReadString(HKEY hKey, LPCWSTR pszValue, LPWSTR pszField, size_t cchField)
{
    WCHAR szValue[JTRK_MAX_SERVERNAME_LEN + 1];
    DWORD dwType = 0, cbValue = (DWORD)(cchField * sizeof(WCHAR));
    if (cchField > JTRK_MAX_SERVERNAME_LEN ||
        RegQueryValueExW(hKey, pszValue, NULL, &dwType, (LPBYTE)szValue, &cbValue) != ERROR_SUCCESS ||
        (dwType != REG_SZ && dwType != REG_EXPAND_SZ))
        return FALSE;
    size_t cchValue = cbValue / sizeof(WCHAR);
    while (cchValue > 0 && szValue[cchValue - 1] == W('\0'))
        cchValue--;
    if (cchValue > cchField - 1)
        return FALSE;
    szValue[cchValue] = W('\0');
    return SUCCEEDED(StringCchCopyW(pszField, cchField, szValue));
}

static BOOL bFillFromTcpmon(HKEY hKey, PPortConfigData pConfig)
{
    if (!bReadDword(hKey, W("Protocol"), &pConfig->dwProtocol))
        pConfig->dwProtocol = PROTOCOL_RAWTCP_TYPE;
    if (pConfig->dwProtocol & PROTOCOL_LPR_TYPE) {
        bReadDword(hKey, W("Double Spool"), &pConfig->dwTransferMode);
        if (!bReadString(hKey, W("Queue"), pConfig->sztQueue, _countof(pConfig->sztQueue)))
            StringCchCopyW(pConfig->sztQueue, _countof(pConfig->sztQueue), JTRK_DEFAULT_QUEUE);
    } else {
        bReadDword(hKey, W("PortNumber"), &pConfig->dwPortNumber);
    }
    return bReadString(hKey, W("HostName"), pConfig->sztServerName, _countof(pConfig->sztServerName));
}

static BOOL bFillFromLpr(HKEY hKey, PPortConfigData pConfig)
{
    pConfig->dwProtocol = PROTOCOL_LPR_TYPE;
    BOOL bQueue = bReadString(hKey, W("Printer Name"), pConfig->sztQueue, _countof(pConfig->sztQueue));
    if (!bQueue)
        StringCchCopyW(pConfig->sztQueue, _countof(pConfig->sztQueue), JTRK_DEFAULT_QUEUE);
    BOOL bAddress = bReadString(hKey, W("Server Name"), pConfig->sztServerName, _countof(pConfig->sztServerName));
    return bQueue && bAddress;
}

static BOOL bFillFromPrintHub(HKEY hKey, PPortConfigData pConfig)
{
    pConfig->dwProtocol = PROTOCOL_LPR_TYPE;
    if (!bReadString(hKey, W("Printer Queue Name"), pConfig->sztQueue, _countof(pConfig->sztQueue)))
        StringCchCopyW(pConfig->sztQueue, _countof(pConfig->sztQueue), JTRK_DEFAULT_QUEUE);
    return bReadString(hKey, W("Server Address"), pConfig->sztServerName, _countof(pConfig->sztServerName));
}

// A port of the earlier monitor: its kind is looked up again; its name becomes the original name.
static BOOL bFillFromOldMonitor(LPCWSTR pszServer, LPCWSTR pszPort, PPortConfigData pConfig)
{
    DWORD dwKind = 0;
    if (!GetSourcePortMonitor(pszServer, pszPort, &dwKind))
        return FALSE;
    pConfig->dwProtocol = dwKind;
    if (!pConfig->sztOriginalPortName[0])
        StringCchCopyW(pConfig->sztOriginalPortName, _countof(pConfig->sztOriginalPortName), pszPort);
    return TRUE;
}

BOOL FillPortConfigFromSource(LPCWSTR pszServer, LPCWSTR pszPort, PPortConfigData pConfig)
{
    DWORD dwKind = pConfig->dwProtocol;
    LPCWSTR pszPortsKey = SourcePortsKey(dwKind);
    if (!pszPortsKey && dwKind != SOURCE_KIND_OLD)
        return FALSE;
    ResetPortSettings(pConfig);
    if (dwKind == SOURCE_KIND_OLD)
        return bFillFromOldMonitor(pszServer, pszPort, pConfig);

    WCHAR szKey[SOURCE_KEY_LEN + JTRK_MAX_PORTNAME_LEN];
    HKEY hKey = NULL;
    if (FAILED(StringCchCopyW(szKey, _countof(szKey), pszPortsKey)) || FAILED(StringCchCatW(szKey, _countof(szKey), W("\\"))) ||
        FAILED(StringCchCatW(szKey, _countof(szKey), pszPort)) ||
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, szKey, 0, KEY_ALL_ACCESS, &hKey) != ERROR_SUCCESS)
        return FALSE;
    BOOL bResult = dwKind == SOURCE_KIND_TCPMON ? bFillFromTcpmon(hKey, pConfig)
                   : dwKind == SOURCE_KIND_LPR  ? bFillFromLpr(hKey, pConfig)
                                                : bFillFromPrintHub(hKey, pConfig);
    RegCloseKey(hKey);
    return bResult;
}

static BOOL bValidPortName(LPCWSTR pszName)
{
    int cchName = lstrlenW(pszName);
    return cchName >= 1 && cchName < JTRK_MAX_PORTNAME_LEN;
}

// An earlier monitor's port that replaced a port of kind 1, 2 or 4: the record comes from that
// original port, whose name it keeps.
static BOOL bFillFromReplacedPort(LPCWSTR pszServer, LPCWSTR pszOriginalPort, PPortConfigData pConfig)
{
    DWORD dwKind = 0;
    if (!pszOriginalPort || lstrlenW(pszOriginalPort) <= 1 || !GetSourcePortMonitor(pszServer, pszOriginalPort, &dwKind) ||
        dwKind == SOURCE_KIND_OLD)
        return FALSE;
    pConfig->dwProtocol = dwKind;
    FillPortConfigFromSource(pszServer, pszOriginalPort, pConfig);
    StringCchCopyW(pConfig->sztOriginalPortName, _countof(pConfig->sztOriginalPortName), pszOriginalPort);
    return TRUE;
}

// A failure that names no error of its own: the caller's last error is given back as it was.
static BOOL SilentFailure(DWORD dwCallersError)
{
    SetLastError(dwCallersError);
    return UiTraceOutBool(W("JTMXAddPortSilent"), FALSE);
}

BOOL WINAPI JTMXAddPortSilent(LPCWSTR pszServer, LPCWSTR pszSourcePort, LPCWSTR pszNewPort, LPCWSTR pszOriginalPort)
{
    DWORD dwCallersError = GetLastError();
    UiTraceIn(W("JTMXAddPortSilent"));
    if (!pszSourcePort || !pszNewPort)
        return SilentFailure(dwCallersError);
    if (bHasBackslash(pszNewPort)) {
        SetLastError(ERROR_BAD_PATHNAME);
        return UiTraceOutBool(W("JTMXAddPortSilent"), FALSE);
    }
    if (PortExist(pszServer, pszNewPort)) {
        SetLastError(ERROR_ALREADY_EXISTS);
        return UiTraceOutBool(W("JTMXAddPortSilent"), FALSE);
    }
    if (!bValidPortName(pszNewPort) || !bValidPortName(pszSourcePort))
        return SilentFailure(dwCallersError);

    PortConfigData config;
    ZeroMemory(&config, sizeof(config));
    StringCchCopyW(config.sztPortName, _countof(config.sztPortName), pszNewPort);
    StringCchCopyW(config.sztServerName, _countof(config.sztServerName), pszSourcePort);
    DWORD dwKind = 0;
    if (!GetSourcePortMonitor(pszServer, pszSourcePort, &dwKind))
        return SilentFailure(dwCallersError);
    config.dwProtocol = dwKind;
    if (dwKind != SOURCE_KIND_OLD || !bFillFromReplacedPort(pszServer, pszOriginalPort, &config)) {
        if (pszOriginalPort && lstrlenW(pszOriginalPort) > 1)
            FillPortConfigFromSource(pszServer, pszOriginalPort, &config);
        FillPortConfigFromSource(pszServer, pszSourcePort, &config);
    }
    StringCchCopyW(config.sztPortName, _countof(config.sztPortName), pszNewPort);

    WCHAR szXcv[XCV_NAME_LEN];
    if (!bGetXcvMonitorName(pszServer, JTRK_PORT_TYPE_NAME, szXcv, _countof(szXcv)))
        return SilentFailure(dwCallersError);
    HANDLE hXcv = OpenXcv(szXcv);
    if (!hXcv)
        return UiTraceOutBool(W("JTMXAddPortSilent"), FALSE);
    DWORD dwStatus = XcvCall(hXcv, JTRK_XCV_ADDPORT, &config, sizeof(config), NULL, 0);
    ClosePrinter(hXcv);
    if (dwStatus != ERROR_SUCCESS) {
        SetLastError(dwStatus);
        return UiTraceOutBool(W("JTMXAddPortSilent"), FALSE);
    }
    return UiTraceOutBool(W("JTMXAddPortSilent"), TRUE);
}
