// The Xcv configuration channel: contexts, the method table and the method handlers.
#include <cstdlib>
#include <cstring>

#include "jtrkmon.h"
#include "portsettings.h"

#define XCV_IP_TEXT_LEN 30

typedef DWORD (*XcvMethodHandler)(const BYTE* pInputData, DWORD cbInputData, PBYTE pOutputData, DWORD cbOutputData,
                                  PDWORD pcbOutputNeeded, PXcvContext pContext);

static BOOL HasAdministerAccess(const XcvContext* pContext)
{
    return (pContext->GrantedAccess & SERVER_ACCESS_ADMINISTER) != 0;
}

static BOOL AreStringsInFields(const PortConfigData* pConfig)
{
    return IsStringInField(pConfig->sztPortName, _countof(pConfig->sztPortName)) &&
           IsStringInField(pConfig->sztServerName, _countof(pConfig->sztServerName)) &&
           IsStringInField(pConfig->sztOriginalPortName, _countof(pConfig->sztOriginalPortName)) &&
           IsStringInField(pConfig->sztQueue, _countof(pConfig->sztQueue));
}

// Takes a PortConfigData input into an aligned copy; FALSE when its size is wrong.
static BOOL TakeConfigInput(const BYTE* pInputData, DWORD cbInputData, PortConfigData* pConfig)
{
    if (!pInputData || cbInputData != sizeof(PortConfigData))
        return FALSE;
    memcpy(pConfig, pInputData, sizeof(PortConfigData));
    return TRUE;
}

static BOOL HasPortName(const PortConfigData* pConfig)
{
    return IsStringInField(pConfig->sztPortName, _countof(pConfig->sztPortName));
}

// ---- AddPort

typedef struct _NewPortKeys {
    HANDLE hPortsKey;
    HANDLE hPortKey;
    HANDLE hTimeoutsKey;
    BOOL bPortsCreated;
    BOOL bPortCreated;
    BOOL bTimeoutsCreated;
} NewPortKeys;

static LONG CreateSubKey(const XcvContext* pContext, HANDLE hParent, LPCWSTR pszName, REGSAM samDesired,
                         PHANDLE phKey, BOOL* pbCreated)
{
    DWORD dwDisposition = 0;
    LONG lError = MonitorReg(pContext->pMonitor)->fpCreateKey(hParent, pszName, REG_OPTION_NON_VOLATILE, samDesired, NULL,
                                                    phKey, &dwDisposition, MonitorSpooler(pContext->pMonitor));
    *pbCreated = lError == ERROR_SUCCESS && dwDisposition == REG_CREATED_NEW_KEY;
    return lError;
}

static LONG WriteSetting(const XcvContext* pContext, HANDLE hKey, const PortSetting* pSetting,
                         PortConfigData* pConfig)
{
    PMONITORREG pReg = MonitorReg(pContext->pMonitor);
    if (pSetting->dwType == REG_DWORD) {
        DWORD dwValue = *SettingDword(pConfig, pSetting);
        if (pSetting->cbOffset == offsetof(PortConfigData, dwProtocol) && dwValue != PROTOCOL_RAWTCP_TYPE &&
            dwValue != PROTOCOL_LPR_TYPE)
            return ERROR_INVALID_DATA;
        return pReg->fpSetValue(hKey, pSetting->pszValue, REG_DWORD, (const BYTE*)&dwValue, sizeof(dwValue),
                                MonitorSpooler(pContext->pMonitor));
    }
    const WCHAR* pszText = SettingString(pConfig, pSetting);
    if ((pSetting->dwWriters & SETTING_ADDPORT_WHEN_SET) && pszText[0] == W('\0'))
        return ERROR_SUCCESS;
    return pReg->fpSetValue(hKey, pSetting->pszValue, REG_SZ, (const BYTE*)pszText,
                            (DWORD)((wcslen(pszText) + 1) * sizeof(WCHAR)), MonitorSpooler(pContext->pMonitor));
}

static LONG WriteSettingsOfKey(const XcvContext* pContext, HANDLE hKey, BOOL bTimeouts, PortConfigData* pConfig)
{
    LONG lError = ERROR_SUCCESS;
    for (size_t i = 0; i < g_cPortSettings && lError == ERROR_SUCCESS; i++) {
        const PortSetting* pSetting = &g_PortSettings[i];
        if (pSetting->bTimeouts == bTimeouts && (pSetting->dwWriters & (SETTING_ADDPORT | SETTING_ADDPORT_WHEN_SET)))
            lError = WriteSetting(pContext, hKey, pSetting, pConfig);
    }
    return lError;
}

static LONG WritePortKeys(const XcvContext* pContext, PortConfigData* pConfig, NewPortKeys* pKeys)
{
    HANDLE hRoot = MonitorRoot(pContext->pMonitor);
    LONG lError = CreateSubKey(pContext, hRoot, JTMX_PORTS_KEY, KEY_CREATE_SUB_KEY, &pKeys->hPortsKey,
                               &pKeys->bPortsCreated);
    if (lError == ERROR_SUCCESS)
        lError = CreateSubKey(pContext, pKeys->hPortsKey, pConfig->sztPortName, KEY_ALL_ACCESS, &pKeys->hPortKey,
                              &pKeys->bPortCreated);
    if (lError == ERROR_SUCCESS)
        lError = WriteSettingsOfKey(pContext, pKeys->hPortKey, FALSE, pConfig);
    if (lError == ERROR_SUCCESS)
        lError = CreateSubKey(pContext, pKeys->hPortKey, JTMX_TIMEOUTS_KEY, KEY_ALL_ACCESS, &pKeys->hTimeoutsKey,
                              &pKeys->bTimeoutsCreated);
    if (lError == ERROR_SUCCESS)
        lError = WriteSettingsOfKey(pContext, pKeys->hTimeoutsKey, TRUE, pConfig);
    return lError;
}

static void CloseNewPortKeys(const XcvContext* pContext, NewPortKeys* pKeys)
{
    HANDLE handles[3] = {pKeys->hTimeoutsKey, pKeys->hPortKey, pKeys->hPortsKey};
    for (size_t i = 0; i < _countof(handles); i++) {
        if (handles[i])
            MonitorReg(pContext->pMonitor)->fpCloseKey(handles[i], MonitorSpooler(pContext->pMonitor));
    }
}

// Removes the keys this AddPort created, and only those.
static void RemoveNewPortKeys(const XcvContext* pContext, LPCWSTR pszPortName, const NewPortKeys* pKeys)
{
    PMONITORREG pReg = MonitorReg(pContext->pMonitor);
    HANDLE hSpooler = MonitorSpooler(pContext->pMonitor);
    HANDLE hRoot = MonitorRoot(pContext->pMonitor);
    if (pKeys->bTimeoutsCreated)
        pReg->fpDeleteKey(pKeys->hPortKey, JTMX_TIMEOUTS_KEY, hSpooler);
    HANDLE hPortsKey = NULL;
    if (pKeys->bPortCreated && pReg->fpOpenKey(hRoot, JTMX_PORTS_KEY, KEY_ALL_ACCESS, &hPortsKey, hSpooler) == 0) {
        pReg->fpDeleteKey(hPortsKey, pszPortName, hSpooler);
        pReg->fpCloseKey(hPortsKey, hSpooler);
    }
    if (pKeys->bPortsCreated)
        pReg->fpDeleteKey(hRoot, JTMX_PORTS_KEY, hSpooler);
}

static DWORD AddConfiguredPort(PXcvContext pContext, PortConfigData* pConfig)
{
    PMONITORREG pReg = MonitorReg(pContext->pMonitor);
    if (!pReg->fpCreateKey || !pReg->fpSetValue || !pReg->fpCloseKey || !pReg->fpDeleteKey || !pReg->fpOpenKey)
        return ERROR_UNIDENTIFIED_ERROR;
    NewPortKeys keys;
    memset(&keys, 0, sizeof(keys));
    BOOL bAdded = WritePortKeys(pContext, pConfig, &keys) == ERROR_SUCCESS &&
                  AddPortEntry(pContext->pMonitor, pConfig->sztPortName, pConfig) != NULL;
    if (!bAdded)
        RemoveNewPortKeys(pContext, pConfig->sztPortName, &keys);
    CloseNewPortKeys(pContext, &keys);
    return bAdded ? ERROR_SUCCESS : ERROR_UNIDENTIFIED_ERROR;
}

static DWORD XcvAddPort(const BYTE* pInputData, DWORD cbInputData, PBYTE pOutputData, DWORD cbOutputData,
                        PDWORD pcbOutputNeeded, PXcvContext pContext)
{
    (void)pOutputData;
    (void)cbOutputData;
    (void)pcbOutputNeeded;
    PortConfigData config;
    if (!TakeConfigInput(pInputData, cbInputData, &config))
        return ERROR_INVALID_DATA;
    if (!HasAdministerAccess(pContext))
        return ERROR_ACCESS_DENIED;
    if (!AreStringsInFields(&config))
        return ERROR_INVALID_DATA;
    if (config.sztPortName[0] == W('\0') || wcschr(config.sztPortName, W('\\')))
        return ERROR_BAD_PATHNAME;
    if (config.sztServerName[0] == W('\0'))
        return ERROR_INVALID_DATA;

    // The check and the additions are one step, so that two callers cannot add the same name.
    EnterCriticalSection(&csPortList);
    DWORD dwResult = FindPortEntry(pContext->pMonitor->pPortList, config.sztPortName)
                         ? (DWORD)ERROR_ALREADY_EXISTS
                         : AddConfiguredPort(pContext, &config);
    LeaveCriticalSection(&csPortList);
    return dwResult;
}

// ---- ConfigPort

// Rewrites a stored 4-byte REG_DWORD; any other stored form fails.
static LONG RewriteDword(HKEY hKey, LPCWSTR pszValue, DWORD dwValue)
{
    DWORD dwType = REG_NONE;
    DWORD cbData = 0;
    LONG lError = RegQueryValueExW(hKey, pszValue, NULL, &dwType, NULL, &cbData);
    if (lError != ERROR_SUCCESS)
        return lError;
    if (dwType != REG_DWORD || cbData != sizeof(DWORD))
        return ERROR_INVALID_DATA;
    return RegSetValueExW(hKey, pszValue, 0, dwType, (const BYTE*)&dwValue, cbData);
}

static LONG OpenAbsolutePortKey(LPCWSTR pszPortName, BOOL bTimeouts, PHKEY phKey)
{
    WCHAR szPortPath[JTMX_PORT_KEY_PATH_LEN];
    WCHAR szPath[_countof(JTMX_MONITOR_KEY_PATH) + JTMX_PORT_KEY_PATH_LEN];
    if (!BuildPortKeyPath(pszPortName, bTimeouts, szPortPath, _countof(szPortPath)) ||
        wcscpy_s(szPath, JTMX_MONITOR_KEY_PATH W("\\")) != 0 || wcscat_s(szPath, szPortPath) != 0)
        return ERROR_INVALID_NAME;
    return RegOpenKeyExW(HKEY_LOCAL_MACHINE, szPath, 0, KEY_ALL_ACCESS, phKey);
}

static LONG RewriteConfigSettings(PortConfigData* pConfig)
{
    HKEY hKeys[2] = {NULL, NULL};  // Ports\<port>, Ports\<port>\Timeouts
    LONG lError = OpenAbsolutePortKey(pConfig->sztPortName, FALSE, &hKeys[0]);
    if (lError == ERROR_SUCCESS)
        lError = OpenAbsolutePortKey(pConfig->sztPortName, TRUE, &hKeys[1]);
    for (size_t i = 0; i < g_cPortSettings && lError == ERROR_SUCCESS; i++) {
        const PortSetting* pSetting = &g_PortSettings[i];
        if (pSetting->dwWriters & SETTING_CONFIGPORT)
            lError = RewriteDword(hKeys[pSetting->bTimeouts ? 1 : 0], pSetting->pszValue,
                                  *SettingDword(pConfig, pSetting));
    }
    for (size_t i = 0; i < _countof(hKeys); i++) {
        if (hKeys[i])
            RegCloseKey(hKeys[i]);
    }
    return lError;
}

static DWORD XcvConfigPort(const BYTE* pInputData, DWORD cbInputData, PBYTE pOutputData, DWORD cbOutputData,
                           PDWORD pcbOutputNeeded, PXcvContext pContext)
{
    (void)pOutputData;
    (void)cbOutputData;
    (void)pcbOutputNeeded;
    PortConfigData config;
    if (!TakeConfigInput(pInputData, cbInputData, &config))
        return ERROR_INVALID_DATA;
    if (!HasAdministerAccess(pContext))
        return ERROR_ACCESS_DENIED;
    if (!HasPortName(&config))
        return ERROR_INVALID_DATA;
    EnterCriticalSection(&csPortList);
    DWORD dwResult = RewriteConfigSettings(&config) == ERROR_SUCCESS &&
                             UpdatePortEntry(pContext->pMonitor, config.sztPortName, &config) == ERROR_SUCCESS
                         ? (DWORD)ERROR_SUCCESS
                         : (DWORD)ERROR_UNIDENTIFIED_ERROR;
    LeaveCriticalSection(&csPortList);
    return dwResult;
}

// ---- DeletePort

static DWORD DeleteConfiguredPort(PMonitorContext pMonitor, LPCWSTR pszPortName)
{
    PPortEntry pEntry = FindPortEntry(pMonitor->pPortList, pszPortName);
    if (pEntry && IsPortBusy(pEntry))
        return ERROR_BUSY;
    if (DeletePortKeys(pMonitor, pszPortName) != ERROR_SUCCESS)
        return ERROR_UNIDENTIFIED_ERROR;
    return RemovePortEntry(pMonitor, pszPortName) == ERROR_SUCCESS ? (DWORD)ERROR_SUCCESS
                                                                    : (DWORD)ERROR_UNIDENTIFIED_ERROR;
}

static DWORD XcvDeletePort(const BYTE* pInputData, DWORD cbInputData, PBYTE pOutputData, DWORD cbOutputData,
                           PDWORD pcbOutputNeeded, PXcvContext pContext)
{
    (void)pOutputData;
    (void)cbOutputData;
    (void)pcbOutputNeeded;
    DELETE_PORT_DATA_1 data;
    if (!pInputData || cbInputData < sizeof(data))
        return ERROR_INVALID_DATA;
    memcpy(&data, pInputData, sizeof(data));
    if (data.dwVersion != 1)
        return ERROR_INVALID_LEVEL;
    if (!HasAdministerAccess(pContext))
        return ERROR_ACCESS_DENIED;
    if (!IsStringInField(data.psztPortName, _countof(data.psztPortName)))
        return ERROR_INVALID_DATA;
    EnterCriticalSection(&csPortList);
    DWORD dwResult = DeleteConfiguredPort(pContext->pMonitor, data.psztPortName);
    LeaveCriticalSection(&csPortList);
    return dwResult;
}

// ---- GetConfigInfo, MonitorUI, GetOriginalPortName, PortExist

static DWORD XcvGetConfigInfo(const BYTE* pInputData, DWORD cbInputData, PBYTE pOutputData, DWORD cbOutputData,
                              PDWORD pcbOutputNeeded, PXcvContext pContext)
{
    PortConfigData input;
    if (!TakeConfigInput(pInputData, cbInputData, &input) || !HasPortName(&input))
        return ERROR_INVALID_DATA;
    if (!pOutputData)
        return ERROR_INVALID_PARAMETER;
    if (pcbOutputNeeded)
        *pcbOutputNeeded = sizeof(PortConfigData);
    if (cbOutputData < sizeof(PortConfigData))
        return ERROR_INSUFFICIENT_BUFFER;
    // The fields the reader does not fill stay as the caller supplied them.
    PortConfigData output;
    memcpy(&output, pOutputData, sizeof(output));
    EnterCriticalSection(&csPortList);
    DWORD dwError = ReadPortConfig(pContext->pMonitor, input.sztPortName, &output);
    LeaveCriticalSection(&csPortList);
    if (dwError != ERROR_SUCCESS)
        return ERROR_UNIDENTIFIED_ERROR;
    memcpy(pOutputData, &output, sizeof(output));
    return ERROR_SUCCESS;
}

static DWORD XcvMonitorUI(const BYTE* pInputData, DWORD cbInputData, PBYTE pOutputData, DWORD cbOutputData,
                          PDWORD pcbOutputNeeded, PXcvContext pContext)
{
    (void)pInputData;
    (void)cbInputData;
    (void)pContext;
    if (!pcbOutputNeeded)
        return ERROR_INVALID_DATA;
    *pcbOutputNeeded = sizeof(JTRK_MONITOR_UI_DLL_NAME);
    if (cbOutputData < sizeof(JTRK_MONITOR_UI_DLL_NAME))
        return ERROR_INSUFFICIENT_BUFFER;
    if (!pOutputData)
        return ERROR_INVALID_PARAMETER;
    memcpy(pOutputData, JTRK_MONITOR_UI_DLL_NAME, sizeof(JTRK_MONITOR_UI_DLL_NAME));
    return ERROR_SUCCESS;
}

static DWORD XcvGetOriginalPortName(const BYTE* pInputData, DWORD cbInputData, PBYTE pOutputData,
                                    DWORD cbOutputData, PDWORD pcbOutputNeeded, PXcvContext pContext)
{
    PortConfigData input;
    if (!TakeConfigInput(pInputData, cbInputData, &input) || !HasPortName(&input))
        return ERROR_INVALID_DATA;
    WCHAR szOriginal[_countof(input.sztOriginalPortName)];
    DWORD cbValue = 0;
    if (ReadPortKeyString(pContext->pMonitor, input.sztPortName, JTMX_ORIGINAL_PORT_NAME_VALUE, szOriginal,
                          _countof(szOriginal), &cbValue) != ERROR_SUCCESS ||
        cbValue == 0)
        return ERROR_UNIDENTIFIED_ERROR;
    if (!pOutputData || cbOutputData < cbValue) {
        if (!pcbOutputNeeded)
            return ERROR_INVALID_PARAMETER;
        *pcbOutputNeeded = cbValue;
        return pOutputData ? ERROR_INSUFFICIENT_BUFFER : ERROR_INVALID_PARAMETER;
    }
    memcpy(pOutputData, szOriginal, cbValue);
    if (pcbOutputNeeded)
        *pcbOutputNeeded = cbValue;
    return ERROR_SUCCESS;
}

static DWORD XcvPortExist(const BYTE* pInputData, DWORD cbInputData, PBYTE pOutputData, DWORD cbOutputData,
                          PDWORD pcbOutputNeeded, PXcvContext pContext)
{
    (void)pContext;
    if (!pInputData || cbInputData == 0)
        return ERROR_INVALID_DATA;
    size_t cchInput = cbInputData / sizeof(WCHAR);
    LPWSTR pszName = (LPWSTR)malloc(cchInput * sizeof(WCHAR) + sizeof(WCHAR));
    if (!pszName)
        return ERROR_NOT_ENOUGH_MEMORY;
    memcpy(pszName, pInputData, cchInput * sizeof(WCHAR));
    DWORD dwResult = ERROR_SUCCESS;
    if (!IsStringInField(pszName, cchInput)) {
        dwResult = ERROR_INVALID_DATA;
    } else if (cbOutputData < sizeof(DWORD) && pcbOutputNeeded) {
        *pcbOutputNeeded = sizeof(DWORD);
        dwResult = ERROR_INSUFFICIENT_BUFFER;
    } else if (!pOutputData || cbOutputData < sizeof(DWORD)) {
        dwResult = ERROR_INVALID_PARAMETER;
    } else {
        DWORD dwError = ERROR_SUCCESS;
        DWORD dwExists = bPortExists(NULL, pszName, &dwError) ? TRUE : FALSE;
        if (dwError != ERROR_SUCCESS) {
            dwResult = ERROR_UNIDENTIFIED_ERROR;
        } else {
            memcpy(pOutputData, &dwExists, sizeof(dwExists));
            if (pcbOutputNeeded)
                *pcbOutputNeeded = sizeof(dwExists);
        }
    }
    free(pszName);
    return dwResult;
}

// ---- GetIPAddress, SetPausedFlag

// The dotted address of ServerName as four bytes in written (network) order.
static BOOL ServerNameToBytes(LPCWSTR pszServerName, LPBYTE pAddress, DWORD cbAddress)
{
    struct sockaddr_in address;
    char szText[INET_ADDRSTRLEN];
    WCHAR wszText[XCV_IP_TEXT_LEN];
    return GetServerAddress(pszServerName, &address) &&
           inet_ntop(AF_INET, &address.sin_addr, szText, sizeof(szText)) != NULL &&
           MultiByteToWideChar(CP_ACP, 0, szText, -1, wszText, _countof(wszText)) != 0 &&
           bConvertIPAddress(wszText, pAddress, cbAddress);
}

static DWORD XcvGetIPAddress(const BYTE* pInputData, DWORD cbInputData, PBYTE pOutputData, DWORD cbOutputData,
                             PDWORD pcbOutputNeeded, PXcvContext pContext)
{
    (void)pInputData;
    (void)cbInputData;
    if (!pContext->pszPortName)
        return ERROR_INVALID_DATA;
    if (!pOutputData)
        return ERROR_INVALID_PARAMETER;
    if (cbOutputData < sizeof(DWORD)) {
        if (!pcbOutputNeeded)
            return ERROR_INVALID_PARAMETER;
        *pcbOutputNeeded = sizeof(DWORD);
        return ERROR_INSUFFICIENT_BUFFER;
    }
    WCHAR szServerName[sizeof(PortConfigData::sztServerName) / sizeof(WCHAR)];
    if (ReadPortKeyString(pContext->pMonitor, pContext->pszPortName, JTMX_SERVER_NAME_VALUE, szServerName,
                          _countof(szServerName), NULL) != ERROR_SUCCESS ||
        szServerName[0] == W('\0') || !ServerNameToBytes(szServerName, pOutputData, cbOutputData))
        return ERROR_UNIDENTIFIED_ERROR;
    if (pcbOutputNeeded)
        *pcbOutputNeeded = sizeof(DWORD);
    return ERROR_SUCCESS;
}

// Little-endian job id from the first bytes (at most 4) of the input; 0 without input.
static DWORD PausedJobIdOf(const BYTE* pInputData, DWORD cbInputData)
{
    DWORD dwJobId = 0;
    if (!pInputData)
        return 0;
    for (DWORD i = 0; i < cbInputData && i < sizeof(DWORD); i++)
        dwJobId |= (DWORD)pInputData[i] << (8 * i);
    return dwJobId;
}

static DWORD XcvSetPausedFlag(const BYTE* pInputData, DWORD cbInputData, PBYTE pOutputData, DWORD cbOutputData,
                              PDWORD pcbOutputNeeded, PXcvContext pContext)
{
    (void)pOutputData;
    (void)cbOutputData;
    (void)pcbOutputNeeded;
    if (!pContext->pszPortName)
        return ERROR_INVALID_DATA;
    DWORD dwResult = ERROR_INVALID_DATA;
    EnterCriticalSection(&csPortList);
    for (PPortEntry pEntry = pContext->pMonitor->pPortList; pEntry; pEntry = pEntry->pNext) {
        if (lstrcmpW(pEntry->pszPortName, pContext->pszPortName) == 0) {
            pEntry->bPausedFlag = TRUE;
            pEntry->dwPausedJobId = PausedJobIdOf(pInputData, cbInputData);
            dwResult = ERROR_SUCCESS;
            break;
        }
    }
    LeaveCriticalSection(&csPortList);
    return dwResult;
}

// ---- Contexts and dispatch

typedef struct _XcvMethod {
    LPCWSTR pszMethod;
    XcvMethodHandler pfnHandler;
} XcvMethod;

static const XcvMethod g_XcvMethods[] = {
    {JTRK_XCV_ADDPORT, XcvAddPort},
    {JTRK_XCV_CONFIGPORT, XcvConfigPort},
    {JTRK_XCV_DELETEPORT, XcvDeletePort},
    {JTRK_XCV_GETCONFIGINFO, XcvGetConfigInfo},
    {JTRK_XCV_MONITORUI, XcvMonitorUI},
    {JTRK_XCV_GETORIGINALPORTNAME, XcvGetOriginalPortName},
    {JTRK_XCV_PORTEXIST, XcvPortExist},
    {JTRK_XCV_GETIPADDRESS, XcvGetIPAddress},
    {JTRK_XCV_SETPAUSEDFLAG, XcvSetPausedFlag},
};

static PXcvContext NewXcvContext(PMonitorContext pMonitor, LPCWSTR pszPortName, ACCESS_MASK GrantedAccess)
{
    size_t cchName = pszPortName ? wcslen(pszPortName) + 1 : 0;
    DWORD cbSize = (DWORD)(sizeof(XcvContext) + cchName * sizeof(WCHAR));
    PXcvContext pContext = (PXcvContext)calloc(1, cbSize);
    if (!pContext)
        return NULL;
    pContext->cbSize = cbSize;
    if (pszPortName) {
        pContext->pszPortName = (LPWSTR)(pContext + 1);
        memcpy(pContext->pszPortName, pszPortName, cchName * sizeof(WCHAR));
    }
    pContext->GrantedAccess = GrantedAccess;
    pContext->pMonitor = pMonitor;
    return pContext;
}

// A context for the monitor itself or for one of its ports; NULL for anything else.
static PXcvContext OpenXcvContext(PMonitorContext pMonitor, LPCWSTR pszObject, ACCESS_MASK GrantedAccess)
{
    if (lstrcmpiW(pszObject, JTRK_PORT_TYPE_NAME) == 0)
        return NewXcvContext(pMonitor, NULL, GrantedAccess);
    if (FindPortEntry(pMonitor->pPortList, pszObject))
        return NewXcvContext(pMonitor, pszObject, GrantedAccess);
    SetLastError(ERROR_UNKNOWN_PORT);
    return NULL;
}

BOOL WINAPI JTMXXcvOpenPort(HANDLE hMonitor, LPCWSTR pszObject, ACCESS_MASK GrantedAccess, PHANDLE phXcv)
{
    MonTraceIn(W("JTMXXcvOpenPort"));
    if (!phXcv || !hMonitor || !pszObject) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return MonTraceOutBool(W("JTMXXcvOpenPort"), FALSE);
    }
    *phXcv = NULL;
    PMonitorContext pMonitor = (PMonitorContext)hMonitor;
    EnterCriticalSection(&csPortList);
    PXcvContext pContext = OpenXcvContext(pMonitor, pszObject, GrantedAccess);
    if (pContext) {
        PXcvContext* ppLink = &pMonitor->pXcvList;
        while (*ppLink)
            ppLink = &(*ppLink)->pNext;
        *ppLink = pContext;
        *phXcv = (HANDLE)pContext;
    }
    LeaveCriticalSection(&csPortList);
    return MonTraceOutBool(W("JTMXXcvOpenPort"), pContext != NULL);
}

DWORD WINAPI JTMXXcvDataPort(HANDLE hXcv, LPCWSTR pszDataName, PBYTE pInputData, DWORD cbInputData,
                             PBYTE pOutputData, DWORD cbOutputData, PDWORD pcbOutputNeeded)
{
    MonTraceIn(W("JTMXXcvDataPort"));
    if (!hXcv)
        return MonTraceOutCode(W("JTMXXcvDataPort"), ERROR_INVALID_HANDLE);
    for (size_t i = 0; i < _countof(g_XcvMethods); i++) {
        if (lstrcmpW(g_XcvMethods[i].pszMethod, pszDataName) == 0) {
            MonTraceIn(g_XcvMethods[i].pszMethod);
            DWORD dwResult = g_XcvMethods[i].pfnHandler(pInputData, cbInputData, pOutputData, cbOutputData,
                                                        pcbOutputNeeded, (PXcvContext)hXcv);
            MonTraceOutCode(g_XcvMethods[i].pszMethod, dwResult);
            return MonTraceOutCode(W("JTMXXcvDataPort"), dwResult);
        }
    }
    return MonTraceOutCode(W("JTMXXcvDataPort"), ERROR_NOT_SUPPORTED);
}

BOOL WINAPI JTMXXcvClosePort(HANDLE hXcv)
{
    MonTraceIn(W("JTMXXcvClosePort"));
    PXcvContext pContext = (PXcvContext)hXcv;
    if (!pContext)
        return MonTraceOutBool(W("JTMXXcvClosePort"), FALSE);
    EnterCriticalSection(&csPortList);
    PXcvContext* ppLink = &pContext->pMonitor->pXcvList;
    while (*ppLink && *ppLink != pContext)
        ppLink = &(*ppLink)->pNext;
    BOOL bFound = *ppLink != NULL;
    if (bFound)
        *ppLink = pContext->pNext;
    LeaveCriticalSection(&csPortList);
    if (bFound)
        free(pContext);
    return MonTraceOutBool(W("JTMXXcvClosePort"), bFound);
}
