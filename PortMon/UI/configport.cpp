// Configure Port: dialog 110 and the ConfigurePortUI entry.
#include "jtrkmnui.h"
#include "resource.h"

#define PORTNUMBER_LIMIT 6
#define RETRY_LIMIT 2
#define RETRYINTERVAL_MIN 2
#define RETRYINTERVAL_MAX 60
#define RETRYCOUNT_MIN 0
#define RETRYCOUNT_MAX 10
#define PORTNUMBER_MAX 65535
#define NUMBER_TEXT_LEN 16

static void EnableRetryFields(HWND hDlg, BOOL bEnable)
{
    EnableWindow(GetDlgItem(hDlg, IDC_RETRYINTERVAL), bEnable);
    EnableWindow(GetDlgItem(hDlg, IDC_RETRYCOUNT), bEnable);
}

static void ConfigPortInitDlg(HWND hDlg, PPORT_DIALOG_DATA pData)
{
    WCHAR szNumber[NUMBER_TEXT_LEN];
    if (pData->dwProtocol == PROTOCOL_LPR_TYPE) {
        ShowWindow(GetDlgItem(hDlg, IDC_PORTNUMBER_LABEL), SW_HIDE);
        ShowWindow(GetDlgItem(hDlg, IDC_PORTNUMBER), SW_HIDE);
    } else {
        ShowWindow(GetDlgItem(hDlg, IDC_BYTECOUNT), SW_HIDE);
    }
    SendDlgItemMessageW(hDlg, IDC_PORTNUMBER, EM_LIMITTEXT, PORTNUMBER_LIMIT, 0);
    SendDlgItemMessageW(hDlg, IDC_RETRYINTERVAL, EM_LIMITTEXT, RETRY_LIMIT, 0);
    SendDlgItemMessageW(hDlg, IDC_RETRYCOUNT, EM_LIMITTEXT, RETRY_LIMIT, 0);
    SendDlgItemMessageW(hDlg, IDC_RETRYINTERVAL_SPIN, UDM_SETRANGE32, RETRYINTERVAL_MIN, RETRYINTERVAL_MAX);
    SendDlgItemMessageW(hDlg, IDC_RETRYCOUNT_SPIN, UDM_SETRANGE32, RETRYCOUNT_MIN, RETRYCOUNT_MAX);
    SendDlgItemMessageW(hDlg, IDC_RETRYINTERVAL_SPIN, UDM_SETPOS32, 0, (LPARAM)pData->dwRetryInterval);
    SendDlgItemMessageW(hDlg, IDC_RETRYCOUNT_SPIN, UDM_SETPOS32, 0, (LPARAM)pData->dwRetryCount);
    SendDlgItemMessageW(hDlg, IDC_BYTECOUNT, BM_SETCHECK,
                        pData->dwTransferMode == TRANSFER_BYTECOUNT ? BST_CHECKED : BST_UNCHECKED, 0);
    SendDlgItemMessageW(hDlg, IDC_RETRYINFINITY, BM_SETCHECK, pData->dwRetryInfinity ? BST_CHECKED : BST_UNCHECKED, 0);
    _snwprintf_s(szNumber, _countof(szNumber), _TRUNCATE, W("%d"), (int)pData->dwPortNumber);
    SetDlgItemTextW(hDlg, IDC_PORTNUMBER, szNumber);
    if (pData->dwRetryInfinity == 1)
        EnableRetryFields(hDlg, FALSE);
}

// A retry value read from its up-down control. When the control flags an error the edit's text
// decides what is wrong: it is not a number, or a number outside the range.
typedef struct _RETRY_VALUE {
    BOOL bEmpty;
    BOOL bNotNumber;
    BOOL bOutOfRange;
    DWORD dwValue;
} RETRY_VALUE;

static RETRY_VALUE ReadRetryValue(HWND hDlg, int nEdit, int nSpin, DWORD dwMin, DWORD dwMax)
{
    RETRY_VALUE value = {FALSE, FALSE, FALSE, 0};
    WCHAR szText[NUMBER_TEXT_LEN];
    BOOL bError = FALSE;
    GetDlgItemTextW(hDlg, nEdit, szText, _countof(szText));
    LONG nPosition = (LONG)SendDlgItemMessageW(hDlg, nSpin, UDM_GETPOS32, 0, (LPARAM)&bError);
    value.bEmpty = !szText[0];
    value.bNotNumber = bError && !bIsNumberText(szText);
    value.bOutOfRange = bError || nPosition < (LONG)dwMin || nPosition > (LONG)dwMax;
    value.dwValue = (DWORD)nPosition;
    return value;
}

// An LPR port hides its port number, so the user can neither see nor correct it: only its text is
// tested, and the stored number is kept.
static UINT CheckPortNumber(HWND hDlg, const PORT_DIALOG_DATA* pData)
{
    WCHAR szText[NUMBER_TEXT_LEN];
    BOOL bTranslated = FALSE;
    GetDlgItemTextW(hDlg, IDC_PORTNUMBER, szText, _countof(szText));
    if (!szText[0])
        return IDS_NO_PORTNUMBER;
    if (pData->dwProtocol == PROTOCOL_LPR_TYPE)
        return 0;
    UINT uPort = GetDlgItemInt(hDlg, IDC_PORTNUMBER, &bTranslated, FALSE);
    if (!bTranslated || uPort == 0 || uPort > PORTNUMBER_MAX)
        return IDS_BAD_PORTNUMBER;
    return 0;
}

UINT ConfigPortCommandOK(HWND hDlg, PPORT_DIALOG_DATA pData)
{
    UINT uMessageId = CheckPortNumber(hDlg, pData);
    if (uMessageId)
        return uMessageId;
    RETRY_VALUE interval =
        ReadRetryValue(hDlg, IDC_RETRYINTERVAL, IDC_RETRYINTERVAL_SPIN, RETRYINTERVAL_MIN, RETRYINTERVAL_MAX);
    RETRY_VALUE count = ReadRetryValue(hDlg, IDC_RETRYCOUNT, IDC_RETRYCOUNT_SPIN, RETRYCOUNT_MIN, RETRYCOUNT_MAX);
    BOOL bInfinity = SendDlgItemMessageW(hDlg, IDC_RETRYINFINITY, BM_GETCHECK, 0, 0) == BST_CHECKED;
    if (bInfinity) {
        if (interval.bEmpty || interval.bOutOfRange)
            interval.dwValue = JTRK_DEFAULT_RETRYINTERVAL;
        if (count.bEmpty || count.bOutOfRange)
            count.dwValue = JTRK_DEFAULT_RETRYCOUNT;
    } else {
        if (interval.bEmpty)
            return IDS_NO_RETRYINTERVAL;
        if (count.bEmpty)
            return IDS_NO_RETRYCOUNT;
        if (interval.bNotNumber)
            return IDS_BAD_RETRYINTERVAL;
        if (interval.bOutOfRange)
            return IDS_RETRYINTERVAL_RANGE;
        if (count.bNotNumber)
            return IDS_BAD_RETRYCOUNT;
        if (count.bOutOfRange)
            return IDS_RETRYCOUNT_RANGE;
    }
    if (pData->dwProtocol != PROTOCOL_LPR_TYPE)
        pData->dwPortNumber = GetDlgItemInt(hDlg, IDC_PORTNUMBER, NULL, FALSE);
    pData->dwTransferMode = SendDlgItemMessageW(hDlg, IDC_BYTECOUNT, BM_GETCHECK, 0, 0) == BST_CHECKED ? TRANSFER_BYTECOUNT : 0;
    pData->dwRetryInfinity = bInfinity ? 1 : 0;
    pData->dwRetryInterval = interval.dwValue;
    pData->dwRetryCount = count.dwValue;
    return 0;
}

static INT_PTR CALLBACK ConfigPortDlgProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    PPORT_DIALOG_DATA pData = (PPORT_DIALOG_DATA)GetWindowLongPtrW(hDlg, DWLP_USER);
    if (uMsg == WM_INITDIALOG) {
        SetWindowLongPtrW(hDlg, DWLP_USER, lParam);
        ConfigPortInitDlg(hDlg, (PPORT_DIALOG_DATA)lParam);
        return TRUE;
    }
    if (uMsg != WM_COMMAND || !pData)
        return FALSE;
    switch (LOWORD(wParam)) {
    case IDC_RETRYINFINITY:
        if (HIWORD(wParam) == BN_CLICKED)
            EnableRetryFields(hDlg, SendDlgItemMessageW(hDlg, IDC_RETRYINFINITY, BM_GETCHECK, 0, 0) != BST_CHECKED);
        return TRUE;
    default:
        return PortDialogEndCommand(hDlg, LOWORD(wParam), ConfigPortCommandOK, pData);
    }
}

INT_PTR ShowConfigPortDialog(HWND hWnd, PPORT_DIALOG_DATA pData)
{
    return DialogBoxParamW(UiModule(), MAKEINTRESOURCEW(IDD_CONFIGPORT), hWnd, ConfigPortDlgProc, (LPARAM)pData);
}

static void CopyConfigToDialog(const PortConfigData* pConfig, PPORT_DIALOG_DATA pData)
{
    StringCchCopyW(pData->szPortName, _countof(pData->szPortName), pConfig->sztPortName);
    StringCchCopyW(pData->szQueue, _countof(pData->szQueue), pConfig->sztQueue);
    StringCchCopyW(pData->szAddress, _countof(pData->szAddress), pConfig->sztServerName);
    pData->dwProtocol = pConfig->dwProtocol;
    pData->dwPortNumber = pConfig->dwPortNumber;
    pData->dwTransferMode = pConfig->dwTransferMode;
    pData->dwBanner = pConfig->dwBanner;
    pData->dwRetryInfinity = pConfig->dwRetryInfinity;
    pData->dwRetryCount = pConfig->dwRetryCount;
    pData->dwRetryInterval = pConfig->dwRetryInterval;
    pData->dwLprRetryCount = pConfig->dwLprRetryCount;
    pData->dwLprRetryTimeout = pConfig->dwLprRetryTimeout;
    pData->dwWSAEventTimeout = pConfig->dwWSAEventTimeout;
    pData->dwLprSendInterval = pConfig->dwLprSendInterval;
    pData->dwLprRecvCount = pConfig->dwLprRecvCount;
    pData->dwLprRecvInterval = pConfig->dwLprRecvInterval;
    pData->dwLprCheckJobStatus = pConfig->dwLprCheckJobStatus;
}

// Reads the port's configuration; the message id of a failure, or 0.
static UINT GetPortConfig(LPCWSTR pszXcv, LPCWSTR pszServer, PPortConfigData pConfig)
{
    HANDLE hXcv = OpenXcv(pszXcv);
    if (!hXcv)
        return UI_NO_MESSAGE;
    UINT uMessageId = 0;
    if (!PortExist(pszServer, pConfig->sztPortName)) {
        uMessageId = IDS_CONFIG_NOPORT;
    } else {
        DWORD dwStatus = XcvCall(hXcv, JTRK_XCV_GETCONFIGINFO, pConfig, sizeof(*pConfig), pConfig, sizeof(*pConfig));
        if (dwStatus == ERROR_BUSY)
            uMessageId = IDS_CONFIG_BUSY;
        else if (dwStatus != ERROR_SUCCESS)
            uMessageId = IDS_GETCONFIG_FAILED;
    }
    ClosePrinter(hXcv);
    return uMessageId;
}

BOOL WINAPI ConfigurePortUI(PCWSTR pszServer, HWND hWnd, PCWSTR pszPortName)
{
    UiTraceIn(W("ConfigurePortUI"));
    WCHAR szXcv[XCV_NAME_LEN];
    if (!hWnd || !pszPortName || lstrlenW(pszPortName) >= JTRK_MAX_PORTNAME_LEN ||
        !bGetXcvPortName(pszServer, pszPortName, szXcv, _countof(szXcv)))
        return UiTraceOutBool(W("ConfigurePortUI"), UiCancelled());

    PortConfigData config;
    ZeroMemory(&config, sizeof(config));
    StringCchCopyW(config.sztPortName, _countof(config.sztPortName), pszPortName);
    UINT uMessageId = GetPortConfig(szXcv, pszServer, &config);
    if (uMessageId) {
        MonUiMessageBox(hWnd, uMessageId);
        return UiTraceOutBool(W("ConfigurePortUI"), UiCancelled());
    }

    PORT_DIALOG_DATA data;
    ZeroMemory(&data, sizeof(data));
    data.pszServer = pszServer;
    CopyConfigToDialog(&config, &data);
    if (ShowConfigPortDialog(hWnd, &data) != IDOK)
        return UiTraceOutBool(W("ConfigurePortUI"), UiCancelled());

    if (!PortExist(pszServer, pszPortName)) {
        MonUiMessageBox(hWnd, IDS_CONFIG_NOPORT);
        return UiTraceOutBool(W("ConfigurePortUI"), UiCancelled());
    }
    config.dwPortNumber = data.dwPortNumber;
    config.dwTransferMode = data.dwTransferMode;
    config.dwRetryInfinity = data.dwRetryInfinity;
    config.dwRetryInterval = data.dwRetryInterval;
    config.dwRetryCount = data.dwRetryCount;
    HANDLE hXcv = OpenXcv(szXcv);
    if (!hXcv)
        return UiTraceOutBool(W("ConfigurePortUI"), UiCancelled());
    DWORD dwStatus = XcvCall(hXcv, JTRK_XCV_CONFIGPORT, &config, sizeof(config), NULL, 0);
    ClosePrinter(hXcv);
    if (dwStatus == ERROR_SUCCESS)
        return UiTraceOutBool(W("ConfigurePortUI"), TRUE);
    MonUiMessageBox(hWnd, XcvFailureMessage(dwStatus, IDS_BAD_PORTNAME, IDS_CONFIG_BUSY, IDS_CONFIG_DENIED, IDS_CONFIG_FAILED));
    return UiTraceOutBool(W("ConfigurePortUI"), UiCancelled());
}
