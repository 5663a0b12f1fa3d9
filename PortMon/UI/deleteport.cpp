// Delete Port: the DeletePortUI entry (no dialog, no confirmation).
#include "jtrkmnui.h"
#include "resource.h"

static UINT DeletePortFailureMessage(DWORD dwStatus)
{
    if (dwStatus == ERROR_BUSY)
        return IDS_DELETE_BUSY;
    if (dwStatus == ERROR_ACCESS_DENIED)
        return IDS_DELETE_DENIED;
    return IDS_DELETE_FAILED;
}

BOOL WINAPI DeletePortUI(PCWSTR pszServer, HWND hWnd, PCWSTR pszPortName)
{
    UiTraceIn(W("DeletePortUI"));
    WCHAR szXcv[XCV_NAME_LEN];
    if (!pszPortName || lstrlenW(pszPortName) >= JTRK_MAX_PORTNAME_LEN ||
        !bGetXcvPortName(pszServer, pszPortName, szXcv, _countof(szXcv)))
        return UiTraceOutBool(W("DeletePortUI"), UiCancelled());
    HANDLE hXcv = OpenXcv(szXcv);
    if (!hXcv)
        return UiTraceOutBool(W("DeletePortUI"), UiCancelled());

    DELETE_PORT_DATA_1 data;
    ZeroMemory(&data, sizeof(data));
    StringCchCopyW(data.psztPortName, _countof(data.psztPortName), pszPortName);
    data.dwVersion = 1;
    DWORD dwStatus = XcvCall(hXcv, JTRK_XCV_DELETEPORT, &data, sizeof(data), NULL, 0);
    ClosePrinter(hXcv);
    if (dwStatus == ERROR_SUCCESS)
        return UiTraceOutBool(W("DeletePortUI"), TRUE);
    MonUiMessageBox(hWnd, DeletePortFailureMessage(dwStatus));
    return UiTraceOutBool(W("DeletePortUI"), UiCancelled());
}
