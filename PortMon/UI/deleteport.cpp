// Delete Port: the DeletePortUI entry (no dialog, no confirmation).
#include "jtrkmnui.h"
#include "resource.h"

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
    MonUiMessageBox(hWnd, XcvFailureMessage(dwStatus, 0, IDS_DELETE_BUSY, IDS_DELETE_DENIED, IDS_DELETE_FAILED));
    return UiTraceOutBool(W("DeletePortUI"), UiCancelled());
}
