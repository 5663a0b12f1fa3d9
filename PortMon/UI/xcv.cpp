// Xcv object names and calls: every configuration goes through the monitor's Xcv methods.
#include "jtrkmnui.h"

// "[server\],XcvMonitor M" or "[server\],XcvPort P".
static BOOL bGetXcvName(LPCWSTR pszServer, LPCWSTR pszKind, LPCWSTR pszObject, LPWSTR pszName, size_t cchName)
{
    pszName[0] = W('\0');
    if (pszServer && FAILED(StringCchCopyW(pszName, cchName, pszServer)))
        return FALSE;
    if (pszServer && FAILED(StringCchCatW(pszName, cchName, W("\\"))))
        return FALSE;
    return SUCCEEDED(StringCchCatW(pszName, cchName, W(","))) && SUCCEEDED(StringCchCatW(pszName, cchName, pszKind)) &&
           SUCCEEDED(StringCchCatW(pszName, cchName, W(" "))) && SUCCEEDED(StringCchCatW(pszName, cchName, pszObject));
}

BOOL bGetXcvMonitorName(LPCWSTR pszServer, LPCWSTR pszMonitor, LPWSTR pszName, size_t cchName)
{
    return bGetXcvName(pszServer, W("XcvMonitor"), pszMonitor, pszName, cchName);
}

BOOL bGetXcvPortName(LPCWSTR pszServer, LPCWSTR pszPort, LPWSTR pszName, size_t cchName)
{
    return bGetXcvName(pszServer, W("XcvPort"), pszPort, pszName, cchName);
}

HANDLE OpenXcv(LPCWSTR pszObject)
{
    PRINTER_DEFAULTSW defaults = {NULL, NULL, SERVER_ACCESS_ADMINISTER};
    HANDLE hXcv = NULL;
    if (!OpenPrinterW((LPWSTR)pszObject, &hXcv, &defaults))
        return NULL;
    return hXcv;
}

DWORD XcvCall(HANDLE hXcv, LPCWSTR pszMethod, PVOID pInput, DWORD cbInput, PVOID pOutput, DWORD cbOutput)
{
    DWORD cbNeeded = 0;
    DWORD dwStatus = ERROR_SUCCESS;
    if (!XcvDataW(hXcv, pszMethod, (PBYTE)pInput, cbInput, (PBYTE)pOutput, cbOutput, &cbNeeded, &dwStatus))
        return GetLastError() ? GetLastError() : ERROR_GEN_FAILURE;
    return dwStatus;
}

BOOL PortExistOn(LPCWSTR pszXcvMonitor, LPCWSTR pszPort)
{
    HANDLE hXcv = OpenXcv(pszXcvMonitor);
    if (!hXcv)
        return FALSE;
    DWORD dwExists = FALSE;
    DWORD cbName = (DWORD)((lstrlenW(pszPort) + 1) * sizeof(WCHAR));
    DWORD dwStatus = XcvCall(hXcv, JTRK_XCV_PORTEXIST, (PVOID)pszPort, cbName, &dwExists, sizeof(dwExists));
    ClosePrinter(hXcv);
    return dwStatus == ERROR_SUCCESS && dwExists;
}

BOOL PortExist(LPCWSTR pszServer, LPCWSTR pszPort)
{
    WCHAR szXcv[XCV_NAME_LEN];
    if (!bGetXcvMonitorName(pszServer, JTRK_PORT_TYPE_NAME, szXcv, _countof(szXcv)))
        return FALSE;
    return PortExistOn(szXcv, pszPort);
}

BOOL bHasBackslash(LPCWSTR pszText)
{
    return wcschr(pszText, W('\\')) != NULL;
}

BOOL bOnlyBlanks(LPCWSTR pszText)
{
    for (; *pszText; pszText++)
        if (*pszText != W(' ') && *pszText != 0x3000)
            return FALSE;
    return TRUE;
}

BOOL bIsNumberText(LPCWSTR pszText)
{
    if (*pszText == W('-'))
        pszText++;
    if (!*pszText)
        return FALSE;
    for (; *pszText; pszText++)
        if (*pszText < W('0') || *pszText > W('9'))
            return FALSE;
    return TRUE;
}

UINT XcvFailureMessage(DWORD dwStatus, UINT uBadName, UINT uBusy, UINT uDenied, UINT uFailed)
{
    if (dwStatus == ERROR_BAD_PATHNAME && uBadName)
        return uBadName;
    if (dwStatus == ERROR_BUSY && uBusy)
        return uBusy;
    if (dwStatus == ERROR_ACCESS_DENIED && uDenied)
        return uDenied;
    return uFailed;
}
