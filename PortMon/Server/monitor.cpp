// The monitor's entry point, its function table and the port slots that are not job calls.
#include <cstdlib>
#include <cstring>

#include "jtrkmon.h"
#include "portsettings.h"

#define LOCK_SPIN_COUNT 0x80000000

CRITICAL_SECTION csPortList;
CRITICAL_SECTION csPipeCall;
CRITICAL_SECTION csJobHeader;

MonitorSystemCalls g_MonSys = {
    OpenPrinterW,   ClosePrinter,         GetJobW,         SetJobW,
    GetPrinterW,    Sleep,                VerifyVersionInfoW, XcvDataW,
    IcmpCreateFile, IcmpCloseHandle,      IcmpSendEcho,    CallNamedPipeW,
    RevertToPrinterSelf, ImpersonatePrinterClient, GetComputerNameW, GetUserNameW,
    bind,
};

// The module's constructor and destructor stand for DllMain's attach and detach.
__attribute__((constructor)) static void MonitorProcessAttach(void)
{
    InitializeCriticalSectionAndSpinCount(&csPortList, LOCK_SPIN_COUNT);
    InitializeCriticalSectionAndSpinCount(&csPipeCall, LOCK_SPIN_COUNT);
    InitializeCriticalSectionAndSpinCount(&csJobHeader, LOCK_SPIN_COUNT);
}

__attribute__((destructor)) static void MonitorProcessDetach(void)
{
    DeleteCriticalSection(&csJobHeader);
    DeleteCriticalSection(&csPipeCall);
    DeleteCriticalSection(&csPortList);
}

// The functions this monitor has; the others stay NULL. Set by name: the headers' tables end at
// different members (PowerEvent is missing from older ones).
static MONITOR2 MakeMonitor2(void)
{
    MONITOR2 m = {};
    m.cbSize = sizeof(MONITOR2);
    m.pfnEnumPorts = JTMXEnumPorts;
    m.pfnOpenPort = JTMXOpenPort;
    m.pfnStartDocPort = JTMXStartDocPort;
    m.pfnWritePort = JTMXWritePort;
    m.pfnReadPort = JTMXReadPort;
    m.pfnEndDocPort = JTMXEndDocPort;
    m.pfnClosePort = JTMXClosePort;
    m.pfnXcvOpenPort = JTMXXcvOpenPort;
    m.pfnXcvDataPort = JTMXXcvDataPort;
    m.pfnXcvClosePort = JTMXXcvClosePort;
    m.pfnShutdown = JTMXShutdown;
    return m;
}

static MONITOR2 g_Monitor2 = MakeMonitor2();

// Windows 2000 spoolers know the table only up to Shutdown.
#define MONITOR2_SIZE_WIN2000 148

static BOOL IsWindows2000(void)
{
    OSVERSIONINFOEXW osvi;
    memset(&osvi, 0, sizeof(osvi));
    osvi.dwOSVersionInfoSize = sizeof(osvi);
    osvi.dwMajorVersion = 5;
    osvi.dwMinorVersion = 0;
    DWORDLONG dwlCondition = 0;
    dwlCondition = VerSetConditionMask(dwlCondition, VER_MAJORVERSION, VER_EQUAL);
    dwlCondition = VerSetConditionMask(dwlCondition, VER_MINORVERSION, VER_EQUAL);
    return g_MonSys.pfnVerifyVersionInfoW(&osvi, VER_MAJORVERSION | VER_MINORVERSION, dwlCondition);
}

static void FreePortList(PMonitorContext pMonitor)
{
    while (pMonitor->pPortList) {
        PPortEntry pEntry = pMonitor->pPortList;
        pMonitor->pPortList = pEntry->pNext;
        FreePortEntry(pEntry);
    }
}

static DWORD LoadPort(PMonitorContext pMonitor, LPCWSTR pszName)
{
    PortConfigData* pConfig = (PortConfigData*)calloc(1, sizeof(PortConfigData));
    if (!pConfig)
        return ERROR_NOT_ENOUGH_MEMORY;
    DWORD dwError = ReadPortConfig(pMonitor, pszName, pConfig);
    if (dwError == ERROR_SUCCESS && !AddPortEntry(pMonitor, pszName, pConfig))
        dwError = GetLastError();
    free(pConfig);
    return dwError;
}

static DWORD LoadPortsOfKey(PMonitorContext pMonitor, HANDLE hPortsKey)
{
    PMONITORREG pReg = MonitorReg(pMonitor);
    HANDLE hSpooler = MonitorSpooler(pMonitor);
    DWORD cSubKeys = 0;
    DWORD cchMaxSubKey = 0;
    LONG lError = pReg->fpQueryInfoKey(hPortsKey, &cSubKeys, &cchMaxSubKey, NULL, NULL, NULL, NULL, NULL, hSpooler);
    if (lError != ERROR_SUCCESS)
        return (DWORD)lError;
    LPWSTR pszName = (LPWSTR)calloc(cchMaxSubKey + 1, sizeof(WCHAR));
    if (!pszName)
        return ERROR_NOT_ENOUGH_MEMORY;
    DWORD dwError = ERROR_SUCCESS;
    for (DWORD i = 0; i < cSubKeys && dwError == ERROR_SUCCESS; i++) {
        DWORD cchName = cchMaxSubKey + 1;
        dwError = (DWORD)pReg->fpEnumKey(hPortsKey, i, pszName, &cchName, NULL, hSpooler);
        if (dwError == ERROR_SUCCESS)
            dwError = LoadPort(pMonitor, pszName);
    }
    free(pszName);
    return dwError;
}

// Builds the port list from Ports\<port> below the monitor's key; no Ports key means no ports.
static DWORD LoadPortList(PMonitorContext pMonitor)
{
    PMONITORREG pReg = MonitorReg(pMonitor);
    if (!pReg || !pReg->fpOpenKey || !pReg->fpCloseKey || !pReg->fpQueryInfoKey || !pReg->fpEnumKey ||
        !pReg->fpQueryValue)
        return 1;
    HANDLE hPortsKey = NULL;
    LONG lError = pReg->fpOpenKey(MonitorRoot(pMonitor), JTMX_PORTS_KEY, KEY_READ, &hPortsKey, MonitorSpooler(pMonitor));
    if (lError == ERROR_FILE_NOT_FOUND)
        return ERROR_SUCCESS;
    if (lError != ERROR_SUCCESS)
        return (DWORD)lError;
    DWORD dwError = LoadPortsOfKey(pMonitor, hPortsKey);
    pReg->fpCloseKey(hPortsKey, MonitorSpooler(pMonitor));
    return dwError;
}

extern "C" JTRK_EXPORT LPMONITOR2 WINAPI InitializePrintMonitor2(PMONITORINIT pMonitorInit, PHANDLE phMonitor)
{
    MonTraceIn(W("InitializePrintMonitor2"));
    if (!pMonitorInit || !phMonitor) {
        SetLastError(ERROR_INVALID_PARAMETER);
        MonTraceOutBool(W("InitializePrintMonitor2"), FALSE);
        return NULL;
    }
    PMonitorContext pMonitor = (PMonitorContext)calloc(1, sizeof(MonitorContext));
    if (!pMonitor) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        MonTraceOutBool(W("InitializePrintMonitor2"), FALSE);
        return NULL;
    }
    pMonitor->dwMagic = JTMX_MONITOR_MAGIC;
    pMonitor->pMonitorInit = pMonitorInit;

    EnterCriticalSection(&csPortList);
    DWORD dwError = LoadPortList(pMonitor);
    LeaveCriticalSection(&csPortList);
    if (dwError != ERROR_SUCCESS) {
        FreePortList(pMonitor);
        free(pMonitor);
        SetLastError(dwError);
        MonTraceOutBool(W("InitializePrintMonitor2"), FALSE);
        return NULL;
    }
    *phMonitor = (HANDLE)pMonitor;
    g_Monitor2.cbSize = IsWindows2000() ? MONITOR2_SIZE_WIN2000 : sizeof(MONITOR2);
    MonTraceOutBool(W("InitializePrintMonitor2"), TRUE);
    return &g_Monitor2;
}

// ---- EnumPorts

static DWORD PortInfoSize(const PortEntry* pEntry, DWORD Level)
{
    DWORD cbName = (DWORD)((wcslen(pEntry->pszPortName) + 1) * sizeof(WCHAR));
    if (Level == 1)
        return sizeof(PORT_INFO_1W) + cbName;
    return sizeof(PORT_INFO_2W) + cbName + sizeof(JTRK_MONITOR_DLL_NAME) + sizeof(JTRK_PORT_TYPE_NAME);
}

// Copies the string just below *ppEnd and moves *ppEnd down to it.
static LPWSTR PackString(LPBYTE* ppEnd, LPCWSTR pszText)
{
    size_t cb = (wcslen(pszText) + 1) * sizeof(WCHAR);
    *ppEnd -= cb;
    memcpy(*ppEnd, pszText, cb);
    return (LPWSTR)*ppEnd;
}

static void PackPortInfo(const PortEntry* pEntry, DWORD Level, LPBYTE pRecord, LPBYTE* ppEnd)
{
    if (Level == 1) {
        PPORT_INFO_1W pInfo = (PPORT_INFO_1W)pRecord;
        pInfo->pName = PackString(ppEnd, pEntry->pszPortName);
        return;
    }
    PPORT_INFO_2W pInfo = (PPORT_INFO_2W)pRecord;
    pInfo->pPortName = PackString(ppEnd, pEntry->pszPortName);
    pInfo->pMonitorName = PackString(ppEnd, JTRK_MONITOR_DLL_NAME);
    pInfo->pDescription = PackString(ppEnd, JTRK_PORT_TYPE_NAME);
    pInfo->fPortType = PORT_TYPE_WRITE;
    pInfo->Reserved = 0;
}

// Records from the front of the buffer in list order, their strings packed backwards from its end.
static BOOL EnumPortInfo(PMonitorContext pMonitor, DWORD Level, LPBYTE pPorts, DWORD cbBuf, LPDWORD pcbNeeded,
                         LPDWORD pcReturned)
{
    DWORD cbNeeded = 0;
    for (PPortEntry pEntry = pMonitor->pPortList; pEntry; pEntry = pEntry->pNext)
        cbNeeded += PortInfoSize(pEntry, Level);
    *pcbNeeded = cbNeeded;
    *pcReturned = 0;
    if (cbBuf < cbNeeded || (!pPorts && cbNeeded > 0)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    DWORD cbRecord = Level == 1 ? sizeof(PORT_INFO_1W) : sizeof(PORT_INFO_2W);
    LPBYTE pEnd = pPorts + (cbBuf & ~(DWORD)1);  // strings stay WCHAR-aligned
    DWORD cReturned = 0;
    for (PPortEntry pEntry = pMonitor->pPortList; pEntry; pEntry = pEntry->pNext, cReturned++)
        PackPortInfo(pEntry, Level, pPorts + cReturned * cbRecord, &pEnd);
    *pcReturned = cReturned;
    return TRUE;
}

BOOL WINAPI JTMXEnumPorts(HANDLE hMonitor, LPWSTR pName, DWORD Level, LPBYTE pPorts, DWORD cbBuf, LPDWORD pcbNeeded,
                          LPDWORD pcReturned)
{
    (void)pName;  // ports are local only
    MonTraceIn(W("JTMXEnumPorts"));
    if (Level != 1 && Level != 2) {
        SetLastError(ERROR_INVALID_LEVEL);
        return MonTraceOutBool(W("JTMXEnumPorts"), FALSE);
    }
    if (!hMonitor || !pcbNeeded || !pcReturned) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return MonTraceOutBool(W("JTMXEnumPorts"), FALSE);
    }
    EnterCriticalSection(&csPortList);
    BOOL bResult = EnumPortInfo((PMonitorContext)hMonitor, Level, pPorts, cbBuf, pcbNeeded, pcReturned);
    LeaveCriticalSection(&csPortList);
    return MonTraceOutBool(W("JTMXEnumPorts"), bResult);
}

// ---- OpenPort, ClosePort, ReadPort, Shutdown

// The first OpenPort of an entry starts its network; later ones share it.
static BOOL OpenPortEntry(PPortEntry pEntry)
{
    if (pEntry->dwOpenCount == 0) {
        BOOL bOpened = IsLprPort(pEntry) ? LPROpenPort(pEntry) : RawOpenPort(pEntry);
        if (!bOpened)
            return FALSE;
    }
    pEntry->dwOpenCount++;
    return TRUE;
}

BOOL WINAPI JTMXOpenPort(HANDLE hMonitor, LPWSTR pName, PHANDLE pHandle)
{
    MonTraceIn(W("JTMXOpenPort"));
    if (!hMonitor || !pName || !pHandle) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return MonTraceOutBool(W("JTMXOpenPort"), FALSE);
    }
    PMonitorContext pMonitor = (PMonitorContext)hMonitor;
    EnterCriticalSection(&csPortList);
    BOOL bResult = FALSE;
    PPortEntry pEntry = FindPortEntry(pMonitor->pPortList, pName);
    if (!pEntry) {
        SetLastError(ERROR_UNKNOWN_PORT);
    } else if (OpenPortEntry(pEntry)) {
        *pHandle = (HANDLE)pEntry;
        bResult = TRUE;
    } else {
        ReportPortFailure(pEntry, W("OpenPort"));
    }
    LeaveCriticalSection(&csPortList);
    return MonTraceOutBool(W("JTMXOpenPort"), bResult);
}

// Stops the entry's network: its socket event and its Winsock start.
static BOOL ClosePortEntry(PPortEntry pEntry)
{
    return IsLprPort(pEntry) ? LPRClosePort(pEntry) : RawClosePort(pEntry);
}

BOOL WINAPI JTMXClosePort(HANDLE hPort)
{
    MonTraceIn(W("JTMXClosePort"));
    if (!hPort) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return MonTraceOutBool(W("JTMXClosePort"), FALSE);
    }
    PPortEntry pEntry = (PPortEntry)hPort;
    BOOL bResult = TRUE;
    EnterCriticalSection(&csPortList);
    if (pEntry->dwOpenCount > 0 && --pEntry->dwOpenCount == 0)
        bResult = ClosePortEntry(pEntry);
    LeaveCriticalSection(&csPortList);
    if (!bResult)
        ReportPortFailure(pEntry, W("ClosePort"));
    return MonTraceOutBool(W("JTMXClosePort"), bResult);
}

BOOL WINAPI JTMXReadPort(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuffer, LPDWORD pcbRead)
{
    (void)hPort;
    (void)pBuffer;
    (void)cbBuffer;
    (void)pcbRead;
    MonTraceIn(W("JTMXReadPort"));
    SetLastError(ERROR_NOT_SUPPORTED);
    return MonTraceOutBool(W("JTMXReadPort"), FALSE);
}

static void FreeXcvContexts(PMonitorContext pMonitor)
{
    while (pMonitor->pXcvList) {
        PXcvContext pContext = pMonitor->pXcvList;
        pMonitor->pXcvList = pContext->pNext;
        free(pContext);
    }
}

VOID WINAPI JTMXShutdown(HANDLE hMonitor)
{
    MonTraceIn(W("JTMXShutdown"));
    PMonitorContext pMonitor = (PMonitorContext)hMonitor;
    if (!pMonitor) {
        MonTraceOutBool(W("JTMXShutdown"), FALSE);
        return;
    }
    while (pMonitor->pPortList) {
        PPortEntry pEntry = pMonitor->pPortList;
        if (pEntry->bNetworkStarted && !ClosePortEntry(pEntry))
            ReportPortFailure(pEntry, W("ClosePort"));
        pMonitor->pPortList = pEntry->pNext;
        FreePortEntry(pEntry);
    }
    FreeXcvContexts(pMonitor);
    free(pMonitor);
    MonTraceOutBool(W("JTMXShutdown"), TRUE);
}
