// Port configuration: the port list, the registry layout of each port and the event-log helper.
#include <cstdlib>
#include <cstring>

#include "jtrkmon.h"
#include "portsettings.h"

// The registry home of every setting of a port, in the order AddPort writes them.
#define SETTING(value, timeouts, field, type, writers, read, def) \
    {W(value), timeouts, offsetof(PortConfigData, field), sizeof(PortConfigData::field), type, writers, read, def}
const PortSetting g_PortSettings[] = {
    SETTING("ServerName", FALSE, sztServerName, REG_SZ, SETTING_ADDPORT, SETTING_READ_REQUIRED, 0),
    SETTING("Protocol", FALSE, dwProtocol, REG_DWORD, SETTING_ADDPORT, SETTING_READ_REQUIRED, 0),
    SETTING("PortNumber", FALSE, dwPortNumber, REG_DWORD, SETTING_ADDPORT | SETTING_CONFIGPORT, SETTING_READ_REQUIRED, 0),
    SETTING("Queue", FALSE, sztQueue, REG_SZ, SETTING_ADDPORT, SETTING_READ_REQUIRED, 0),
    SETTING("TransferMode", FALSE, dwTransferMode, REG_DWORD, SETTING_ADDPORT | SETTING_CONFIGPORT,
            SETTING_READ_REQUIRED, 0),
    SETTING("Banner", FALSE, dwBanner, REG_DWORD, SETTING_ADDPORT, SETTING_NOT_READ, 0),
    SETTING("Original PortNname", FALSE, sztOriginalPortName, REG_SZ, SETTING_ADDPORT_WHEN_SET, SETTING_NOT_READ, 0),
    SETTING("RetryInfinity", TRUE, dwRetryInfinity, REG_DWORD, SETTING_ADDPORT | SETTING_CONFIGPORT,
            SETTING_READ_REQUIRED, 0),
    SETTING("RetryCount", TRUE, dwRetryCount, REG_DWORD, SETTING_ADDPORT | SETTING_CONFIGPORT, SETTING_READ_REQUIRED, 0),
    SETTING("RetryInterval", TRUE, dwRetryInterval, REG_DWORD, SETTING_ADDPORT | SETTING_CONFIGPORT,
            SETTING_READ_REQUIRED, 0),
    SETTING("LprRetryCount", TRUE, dwLprRetryCount, REG_DWORD, SETTING_ADDPORT, SETTING_READ_REQUIRED, 0),
    SETTING("LprRetryTimeout", TRUE, dwLprRetryTimeout, REG_DWORD, SETTING_ADDPORT, SETTING_READ_REQUIRED, 0),
    SETTING("WSAEventTimeout", TRUE, dwWSAEventTimeout, REG_DWORD, SETTING_ADDPORT, SETTING_READ_REQUIRED, 0),
    SETTING("LprSendInterval", TRUE, dwLprSendInterval, REG_DWORD, SETTING_ADDPORT, SETTING_READ_REQUIRED, 0),
    SETTING("LprRecvCount", TRUE, dwLprRecvCount, REG_DWORD, 0, SETTING_READ_OPTIONAL, JTRK_DEFAULT_LPRRECVCOUNT),
    SETTING("LprRecvInterval", TRUE, dwLprRecvInterval, REG_DWORD, 0, SETTING_READ_OPTIONAL,
            JTRK_DEFAULT_LPRRECVINTERVAL),
    SETTING("LprCheckJobStatus", TRUE, dwLprCheckJobStatus, REG_DWORD, 0, SETTING_READ_OPTIONAL,
            JTRK_DEFAULT_LPRCHECKJOBSTATUS),
};
#undef SETTING
const size_t g_cPortSettings = _countof(g_PortSettings);

DWORD* SettingDword(PortConfigData* pConfig, const PortSetting* pSetting)
{
    return (DWORD*)((BYTE*)pConfig + pSetting->cbOffset);
}

WCHAR* SettingString(PortConfigData* pConfig, const PortSetting* pSetting)
{
    return (WCHAR*)((BYTE*)pConfig + pSetting->cbOffset);
}

BOOL IsStringInField(const WCHAR* pszField, size_t cchField)
{
    return wcsnlen(pszField, cchField) < cchField;
}

// "Ports\<port>" or "Ports\<port>\Timeouts" below the monitor's key.
BOOL BuildPortKeyPath(LPCWSTR pszPortName, BOOL bTimeouts, LPWSTR pszPath, size_t cchPath)
{
    if (wcscpy_s(pszPath, cchPath, JTMX_PORTS_KEY W("\\")) != 0 || wcscat_s(pszPath, cchPath, pszPortName) != 0)
        return FALSE;
    return !bTimeouts || wcscat_s(pszPath, cchPath, W("\\") JTMX_TIMEOUTS_KEY) == 0;
}

PMONITORREG MonitorReg(PMonitorContext pMonitor)
{
    return pMonitor->pMonitorInit->pMonitorReg;
}

HANDLE MonitorSpooler(PMonitorContext pMonitor)
{
    return pMonitor->pMonitorInit->hSpooler;
}

HANDLE MonitorRoot(PMonitorContext pMonitor)
{
    return (HANDLE)pMonitor->pMonitorInit->hckRegistryRoot;
}

LONG OpenPortKey(PMonitorContext pMonitor, LPCWSTR pszPortName, BOOL bTimeouts, REGSAM samDesired, PHANDLE phKey)
{
    WCHAR szPath[JTMX_PORT_KEY_PATH_LEN];
    PMONITORREG pReg = MonitorReg(pMonitor);
    if (!pReg->fpOpenKey)
        return ERROR_INVALID_FUNCTION;
    if (!BuildPortKeyPath(pszPortName, bTimeouts, szPath, _countof(szPath)))
        return ERROR_INVALID_NAME;
    return pReg->fpOpenKey(MonitorRoot(pMonitor), szPath, samDesired, phKey, MonitorSpooler(pMonitor));
}

void ClosePortKey(PMonitorContext pMonitor, HANDLE hKey)
{
    MonitorReg(pMonitor)->fpCloseKey(hKey, MonitorSpooler(pMonitor));
}

// The one reader of a port's string values: REG_SZ, an even size, terminated inside the field. The
// field is zeroed first, so that a value shorter than the field needs no NUL of its own.
LONG ReadPortString(PMonitorContext pMonitor, HANDLE hKey, LPCWSTR pszValue, LPWSTR pszField, DWORD cchField,
                    LPDWORD pcbData)
{
    memset(pszField, 0, cchField * sizeof(WCHAR));
    DWORD dwType = REG_NONE;
    DWORD cbData = cchField * sizeof(WCHAR);
    LONG lError =
        MonitorReg(pMonitor)->fpQueryValue(hKey, pszValue, &dwType, (PBYTE)pszField, &cbData, MonitorSpooler(pMonitor));
    if (lError != ERROR_SUCCESS)
        return lError;
    if (dwType != REG_SZ || cbData % sizeof(WCHAR) != 0 || !IsStringInField(pszField, cchField))
        return ERROR_INVALID_DATA;
    if (pcbData)
        *pcbData = cbData;
    return ERROR_SUCCESS;
}

LONG ReadPortKeyString(PMonitorContext pMonitor, LPCWSTR pszPortName, LPCWSTR pszValue, LPWSTR pszField,
                       DWORD cchField, LPDWORD pcbData)
{
    PMONITORREG pReg = MonitorReg(pMonitor);
    if (!pReg->fpQueryValue || !pReg->fpCloseKey)
        return ERROR_INVALID_FUNCTION;
    HANDLE hKey = NULL;
    LONG lError = OpenPortKey(pMonitor, pszPortName, FALSE, KEY_QUERY_VALUE, &hKey);
    if (lError != ERROR_SUCCESS)
        return lError;
    lError = ReadPortString(pMonitor, hKey, pszValue, pszField, cchField, pcbData);
    ClosePortKey(pMonitor, hKey);
    return lError;
}

// Reads one setting into the record; a value of the wrong type or size is invalid data.
static LONG QuerySetting(PMonitorContext pMonitor, HANDLE hKey, const PortSetting* pSetting, PortConfigData* pConfig)
{
    if (pSetting->dwType == REG_SZ)
        return ReadPortString(pMonitor, hKey, pSetting->pszValue, SettingString(pConfig, pSetting),
                              pSetting->cbField / sizeof(WCHAR), NULL);
    DWORD dwType = REG_NONE;
    DWORD cbData = pSetting->cbField;
    LONG lError = MonitorReg(pMonitor)->fpQueryValue(hKey, pSetting->pszValue, &dwType,
                                                     (PBYTE)SettingDword(pConfig, pSetting), &cbData,
                                                     MonitorSpooler(pMonitor));
    if (lError != ERROR_SUCCESS)
        return lError;
    return dwType == REG_DWORD && cbData == sizeof(DWORD) ? ERROR_SUCCESS : ERROR_INVALID_DATA;
}

static LONG ReadSettingsOfKey(PMonitorContext pMonitor, LPCWSTR pszPortName, BOOL bTimeouts, PortConfigData* pConfig)
{
    HANDLE hKey = NULL;
    LONG lError = OpenPortKey(pMonitor, pszPortName, bTimeouts, KEY_QUERY_VALUE, &hKey);
    if (lError != ERROR_SUCCESS)
        return lError;
    for (size_t i = 0; i < g_cPortSettings && lError == ERROR_SUCCESS; i++) {
        const PortSetting* pSetting = &g_PortSettings[i];
        if (pSetting->bTimeouts != bTimeouts || pSetting->nRead == SETTING_NOT_READ)
            continue;
        lError = QuerySetting(pMonitor, hKey, pSetting, pConfig);
        if (lError == ERROR_FILE_NOT_FOUND && pSetting->nRead == SETTING_READ_OPTIONAL) {
            *SettingDword(pConfig, pSetting) = pSetting->dwDefault;
            lError = ERROR_SUCCESS;
        }
    }
    ClosePortKey(pMonitor, hKey);
    return lError;
}

DWORD ReadPortConfig(PMonitorContext pMonitor, LPCWSTR pszPortName, PortConfigData* pConfig)
{
    PMONITORREG pReg = MonitorReg(pMonitor);
    if (!pReg->fpOpenKey || !pReg->fpQueryValue || !pReg->fpCloseKey)
        return 1;
    LONG lError = ReadSettingsOfKey(pMonitor, pszPortName, FALSE, pConfig);
    if (lError == ERROR_SUCCESS)
        lError = ReadSettingsOfKey(pMonitor, pszPortName, TRUE, pConfig);
    return (DWORD)lError;
}

// Deletes Ports\<port>\Timeouts and Ports\<port>; a port without keys counts as deleted.
LONG DeletePortKeys(PMonitorContext pMonitor, LPCWSTR pszPortName)
{
    PMONITORREG pReg = MonitorReg(pMonitor);
    HANDLE hPortKey = NULL;
    if (!pReg->fpDeleteKey || !pReg->fpCloseKey)
        return ERROR_INVALID_FUNCTION;
    LONG lError = OpenPortKey(pMonitor, pszPortName, FALSE, KEY_ALL_ACCESS, &hPortKey);
    if (lError == ERROR_FILE_NOT_FOUND)
        return ERROR_SUCCESS;
    if (lError != ERROR_SUCCESS)
        return lError;
    lError = pReg->fpDeleteKey(hPortKey, JTMX_TIMEOUTS_KEY, MonitorSpooler(pMonitor));
    ClosePortKey(pMonitor, hPortKey);
    if (lError != ERROR_SUCCESS && lError != ERROR_FILE_NOT_FOUND)
        return lError;

    HANDLE hPortsKey = NULL;
    lError = pReg->fpOpenKey(MonitorRoot(pMonitor), JTMX_PORTS_KEY, KEY_ALL_ACCESS, &hPortsKey,
                             MonitorSpooler(pMonitor));
    if (lError != ERROR_SUCCESS)
        return lError;
    lError = pReg->fpDeleteKey(hPortsKey, pszPortName, MonitorSpooler(pMonitor));
    ClosePortKey(pMonitor, hPortsKey);
    return lError;
}

// ---- Port list

static LPWSTR DuplicateField(const WCHAR* pszField, size_t cchField)
{
    size_t cch = wcsnlen(pszField, cchField - 1);
    LPWSTR pszCopy = (LPWSTR)calloc(cch + 1, sizeof(WCHAR));
    if (pszCopy)
        memcpy(pszCopy, pszField, cch * sizeof(WCHAR));
    return pszCopy;
}

// The settings ConfigPort may change. A running job keeps the ones it started with.
static void CopyConfiguredSettings(PPortEntry pEntry, const PortConfigData* pConfig)
{
    pEntry->dwConfigPortNumber = pConfig->dwPortNumber;
    pEntry->dwConfigTransferMode = pConfig->dwTransferMode;
    pEntry->dwConfigRetryInfinity = pConfig->dwRetryInfinity;
    pEntry->dwConfigRetryCount = pConfig->dwRetryCount;
    pEntry->dwConfigRetryInterval = pConfig->dwRetryInterval;
}

void ApplyConfiguredSettings(PPortEntry pEntry)
{
    pEntry->dwPortNumber = pEntry->dwConfigPortNumber;
    pEntry->dwTransferMode = pEntry->dwConfigTransferMode;
    pEntry->dwRetryInfinity = pEntry->dwConfigRetryInfinity;
    pEntry->dwRetryCount = pEntry->dwConfigRetryCount;
    pEntry->dwRetryInterval = pEntry->dwConfigRetryInterval;
    pEntry->dwSavedRetryInterval = pEntry->dwConfigRetryInterval;
}

static PPortEntry NewPortEntry(LPCWSTR pszName, size_t cchName, const PortConfigData* pConfig)
{
    DWORD cbSize = (DWORD)(sizeof(PortEntry) + (cchName + 1) * sizeof(WCHAR));
    PPortEntry pEntry = (PPortEntry)calloc(1, cbSize);
    if (!pEntry)
        return NULL;
    pEntry->cbSize = cbSize;
    pEntry->pszPortName = (LPWSTR)(pEntry + 1);
    memcpy(pEntry->pszPortName, pszName, cchName * sizeof(WCHAR));
    pEntry->pszServerName = DuplicateField(pConfig->sztServerName, _countof(pConfig->sztServerName));
    if (pConfig->dwProtocol & PROTOCOL_LPR_TYPE) {
        pEntry->dwProtocolFlags = PORT_FLAG_LPR;
        pEntry->pszQueue = DuplicateField(pConfig->sztQueue, _countof(pConfig->sztQueue));
    }
    if (!pEntry->pszServerName || ((pEntry->dwProtocolFlags & PORT_FLAG_LPR) && !pEntry->pszQueue)) {
        FreePortEntry(pEntry);
        return NULL;
    }
    CopyConfiguredSettings(pEntry, pConfig);
    ApplyConfiguredSettings(pEntry);
    pEntry->dwLprRetryCount = pConfig->dwLprRetryCount;
    pEntry->dwLprRetryTimeout = pConfig->dwLprRetryTimeout;
    pEntry->dwWSAEventTimeout = pConfig->dwWSAEventTimeout;
    pEntry->dwLprSendInterval = pConfig->dwLprSendInterval;
    pEntry->dwLprRecvCount = pConfig->dwLprRecvCount;
    pEntry->dwLprRecvInterval = pConfig->dwLprRecvInterval;
    pEntry->dwLprCheckJobStatus = pConfig->dwLprCheckJobStatus;
    pEntry->dwState = PORT_STATE_IDLE;
    pEntry->hPrinter = INVALID_HANDLE_VALUE;
    pEntry->hSocket = INVALID_SOCKET;
    pEntry->SockEvent = WSA_INVALID_EVENT;
    pEntry->hTmpFile = INVALID_HANDLE_VALUE;
    return pEntry;
}

PPortEntry AddPortEntry(PMonitorContext pMonitor, LPCWSTR pszName, const PortConfigData* pConfig)
{
    size_t cchName = wcslen(pszName);
    if (cchName > JTMX_MAX_PORT_NAME) {
        SetLastError(ERROR_INVALID_NAME);
        return NULL;
    }
    PPortEntry pEntry = NewPortEntry(pszName, cchName, pConfig);
    if (!pEntry) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return NULL;
    }
    pEntry->pMonitor = pMonitor;
    EnterCriticalSection(&csPortList);
    PPortEntry* ppLink = &pMonitor->pPortList;
    while (*ppLink)
        ppLink = &(*ppLink)->pNext;
    *ppLink = pEntry;
    LeaveCriticalSection(&csPortList);
    return pEntry;
}

PPortEntry FindPortEntry(PPortEntry pList, LPCWSTR pszName)
{
    for (PPortEntry pEntry = pList; pEntry; pEntry = pEntry->pNext) {
        if (lstrcmpiW(pEntry->pszPortName, pszName) == 0)
            return pEntry;
    }
    return NULL;
}

// Port names compare without regard to case, as the registry keys that hold them do.
static PPortEntry* FindPortLink(PMonitorContext pMonitor, LPCWSTR pszName)
{
    PPortEntry* ppLink = &pMonitor->pPortList;
    while (*ppLink && lstrcmpiW((*ppLink)->pszPortName, pszName) != 0)
        ppLink = &(*ppLink)->pNext;
    return ppLink;
}

DWORD UpdatePortEntry(PMonitorContext pMonitor, LPCWSTR pszName, const PortConfigData* pConfig)
{
    if (wcslen(pszName) > JTMX_MAX_PORT_NAME)
        return ERROR_INVALID_NAME;
    PPortEntry pEntry = *FindPortLink(pMonitor, pszName);
    if (!pEntry)
        return ERROR_FILE_NOT_FOUND;
    CopyConfiguredSettings(pEntry, pConfig);
    if (pEntry->dwState == PORT_STATE_IDLE)
        ApplyConfiguredSettings(pEntry);
    return ERROR_SUCCESS;
}

DWORD RemovePortEntry(PMonitorContext pMonitor, LPCWSTR pszName)
{
    PPortEntry* ppLink = FindPortLink(pMonitor, pszName);
    PPortEntry pEntry = *ppLink;
    if (!pEntry)
        return ERROR_FILE_NOT_FOUND;
    *ppLink = pEntry->pNext;
    FreePortEntry(pEntry);
    return ERROR_SUCCESS;
}

void FreePortEntry(PPortEntry pEntry)
{
    if (pEntry->hTmpFile != INVALID_HANDLE_VALUE)
        CloseHandle(pEntry->hTmpFile);
    free(pEntry->pszServerName);
    free(pEntry->pszQueue);
    free(pEntry->pTmpSplBuf);
    free(pEntry->pHeaderBuf);
    free(pEntry);
}

// Open by the spooler, or carrying a job.
BOOL IsPortBusy(const PortEntry* pEntry)
{
    return pEntry->dwOpenCount > 0 || pEntry->dwState != PORT_STATE_IDLE;
}

// ---- Addresses and the spooler's port list

BOOL bConvertIPAddress(LPCWSTR pszText, LPBYTE pAddress, DWORD cbAddress)
{
    if (cbAddress <= 3)
        return FALSE;
    BYTE bytes[4];
    const WCHAR* p = pszText;
    for (int nPart = 0; nPart < 4; nPart++) {
        DWORD dwValue = 0;
        int cDigits = 0;
        for (; *p >= W('0') && *p <= W('9'); p++, cDigits++) {
            dwValue = dwValue * 10 + (DWORD)(*p - W('0'));
            if (dwValue > 255)
                return FALSE;
        }
        if (cDigits == 0)
            return FALSE;
        bytes[nPart] = (BYTE)dwValue;
        WCHAR chEnd = nPart < 3 ? W('.') : W('\0');
        if (*p != chEnd)
            return FALSE;
        p++;
    }
    memcpy(pAddress, bytes, sizeof(bytes));
    return TRUE;
}

typedef BOOL(WINAPI* PFN_EnumPortsW)(LPWSTR pName, DWORD Level, LPBYTE pPorts, DWORD cbBuf, LPDWORD pcbNeeded,
                                     LPDWORD pcReturned);

static BOOL FindInPortList(PFN_EnumPortsW pfnEnumPorts, LPCWSTR pszServer, LPCWSTR pszName, LPDWORD pdwError)
{
    DWORD cbNeeded = 0;
    DWORD cReturned = 0;
    if (!pfnEnumPorts((LPWSTR)pszServer, 1, NULL, 0, &cbNeeded, &cReturned) &&
        GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        *pdwError = GetLastError();
        return FALSE;
    }
    LPBYTE pPorts = (LPBYTE)malloc(cbNeeded ? cbNeeded : 1);
    if (!pPorts) {
        *pdwError = ERROR_NOT_ENOUGH_MEMORY;
        return FALSE;
    }
    BOOL bFound = FALSE;
    if (pfnEnumPorts((LPWSTR)pszServer, 1, pPorts, cbNeeded, &cbNeeded, &cReturned)) {
        PPORT_INFO_1W pInfo = (PPORT_INFO_1W)pPorts;
        for (DWORD i = 0; i < cReturned && !bFound; i++)
            bFound = lstrcmpiW(pInfo[i].pName, pszName) == 0;
    } else {
        *pdwError = GetLastError();
    }
    free(pPorts);
    return bFound;
}

// TRUE when the spooler knows the port; *pdwError is 0 unless the list could not be read.
BOOL bPortExists(LPCWSTR pszServer, LPCWSTR pszName, LPDWORD pdwError)
{
    *pdwError = ERROR_SUCCESS;
    HMODULE hSpoolss = LoadLibraryW(W("SPOOLSS.DLL"));
    if (!hSpoolss) {
        *pdwError = GetLastError();
        return FALSE;
    }
    BOOL bFound = FALSE;
    PFN_EnumPortsW pfnEnumPorts = (PFN_EnumPortsW)(void*)GetProcAddress(hSpoolss, "EnumPortsW");
    if (pfnEnumPorts)
        bFound = FindInPortList(pfnEnumPorts, pszServer, pszName, pdwError);
    else
        *pdwError = GetLastError();
    FreeLibrary(hSpoolss);
    return bFound;
}

// ---- Event log

void JTMXReportEvent(LPCWSTR pszSource, WORD wType, WORD wCategory, DWORD dwEventId, WORD wNumStrings,
                     LPCWSTR* ppszStrings)
{
    HANDLE hEventLog = RegisterEventSourceW(NULL, pszSource);
    if (!hEventLog)
        return;
    ReportEventW(hEventLog, wType, wCategory, dwEventId, NULL, wNumStrings, 0, ppszStrings, NULL);
    DeregisterEventSource(hEventLog);
}

void ReportPortFailure(const PortEntry* pEntry, LPCWSTR pszOperation)
{
    LPCWSTR strings[2] = {pEntry->pszPortName, pszOperation};
    JTMXReportEvent(JTMX_EVENT_SOURCE, EVENTLOG_ERROR_TYPE, 0, JTMX_EVENT_PORT_FAILED, 2, strings);
}
