// Add Port: dialog 108 and the AddPortUI entry.
#include <ws2tcpip.h>

#include "jtrkmnui.h"
#include "resource.h"

#define ADDRESS_LIMIT 15
#define PORTNAME_LIMIT 63
#define QUEUE_LIMIT 32
#define ADDRESS_ANSI_LEN 64
#define PROTOCOL_INDEX_LPR 1

void SetDefaultPortSettings(PPORT_DIALOG_DATA pData)
{
    pData->dwProtocol = JTRK_DEFAULT_PROTOCOL;
    pData->dwPortNumber = JTRK_DEFAULT_PORTNUMBER;
    StringCchCopyW(pData->szQueue, _countof(pData->szQueue), JTRK_DEFAULT_QUEUE);
    pData->dwTransferMode = JTRK_DEFAULT_TRANSFERMODE;
    pData->dwBanner = JTRK_DEFAULT_BANNER;
    pData->dwRetryInfinity = JTRK_DEFAULT_RETRYINFINITY;
    pData->dwRetryCount = JTRK_DEFAULT_RETRYCOUNT;
    pData->dwRetryInterval = JTRK_DEFAULT_RETRYINTERVAL;
    pData->dwLprRetryCount = JTRK_DEFAULT_LPRRETRYCOUNT;
    pData->dwLprRetryTimeout = JTRK_DEFAULT_LPRRETRYTIMEOUT;
    pData->dwWSAEventTimeout = JTRK_DEFAULT_WSAEVENTTIMEOUT;
    pData->dwLprSendInterval = JTRK_DEFAULT_LPRSENDINTERVAL;
    pData->dwLprRecvCount = JTRK_DEFAULT_LPRRECVCOUNT;
    pData->dwLprRecvInterval = JTRK_DEFAULT_LPRRECVINTERVAL;
    pData->dwLprCheckJobStatus = JTRK_DEFAULT_LPRCHECKJOBSTATUS;
}

// Runs for the first show and for every protocol the user chooses.
static void AddPortEnableFields(HWND hDlg, PPORT_DIALOG_DATA pData)
{
    LRESULT nIndex = SendDlgItemMessageW(hDlg, IDC_PROTOCOL, CB_GETCURSEL, 0, 0);
    BOOL bLpr = nIndex == PROTOCOL_INDEX_LPR;
    pData->dwPortNumber = JTRK_DEFAULT_PORTNUMBER;
    pData->dwTransferMode = JTRK_DEFAULT_TRANSFERMODE;
    pData->dwRetryInfinity = JTRK_DEFAULT_RETRYINFINITY;
    pData->dwRetryCount = JTRK_DEFAULT_RETRYCOUNT;
    pData->dwRetryInterval = JTRK_DEFAULT_RETRYINTERVAL;
    SendDlgItemMessageW(hDlg, IDC_ADDRESS, EM_LIMITTEXT, ADDRESS_LIMIT, 0);
    SendDlgItemMessageW(hDlg, IDC_PORTNAME, EM_LIMITTEXT, PORTNAME_LIMIT, 0);
    SendDlgItemMessageW(hDlg, IDC_QUEUE, EM_LIMITTEXT, QUEUE_LIMIT, 0);
    SetDlgItemTextW(hDlg, IDC_ADDRESS, W(""));
    SetDlgItemTextW(hDlg, IDC_PORTNAME, W(""));
    SetDlgItemTextW(hDlg, IDC_QUEUE, JTRK_DEFAULT_QUEUE);
    ShowWindow(GetDlgItem(hDlg, IDC_QUEUE_LABEL), bLpr ? SW_SHOW : SW_HIDE);
    ShowWindow(GetDlgItem(hDlg, IDC_QUEUE), bLpr ? SW_SHOW : SW_HIDE);
    pData->dwProtocol = bLpr ? PROTOCOL_LPR_TYPE : PROTOCOL_RAWTCP_TYPE;
}

static void MakeDefaultPortName(HWND hDlg)
{
    WCHAR szAddress[JTRK_MAX_SERVERNAME_LEN];
    WCHAR szName[JTRK_MAX_PORTNAME_LEN];
    GetDlgItemTextW(hDlg, IDC_ADDRESS, szAddress, _countof(szAddress));
    _snwprintf_s(szName, _countof(szName), _TRUNCATE, W("KPX2_%s"), szAddress);
    SetDlgItemTextW(hDlg, IDC_PORTNAME, szName);
}

// The address must be a dotted IPv4 address of four parts.
static BOOL bIsIPv4Address(LPCWSTR pszAddress)
{
    char szAnsi[ADDRESS_ANSI_LEN];
    IN_ADDR address;
    int cbAnsi = WideCharToMultiByte(CP_ACP, 0, pszAddress, -1, szAnsi, sizeof(szAnsi) - 1, NULL, NULL);
    if (cbAnsi <= 0)
        return FALSE;
    szAnsi[cbAnsi] = '\0';
    int nDots = 0;
    for (const char* p = szAnsi; *p; p++)
        nDots += *p == '.';
    return inet_pton(AF_INET, szAnsi, &address) == 1 && nDots == 3;
}

UINT AddPortCommandOK(HWND hDlg, PPORT_DIALOG_DATA pData)
{
    WCHAR szAddress[JTRK_MAX_SERVERNAME_LEN];
    WCHAR szName[JTRK_MAX_PORTNAME_LEN];
    WCHAR szQueue[JTRK_MAX_QUEUENAME_LEN];
    GetDlgItemTextW(hDlg, IDC_ADDRESS, szAddress, _countof(szAddress));
    GetDlgItemTextW(hDlg, IDC_PORTNAME, szName, _countof(szName));
    GetDlgItemTextW(hDlg, IDC_QUEUE, szQueue, _countof(szQueue));
    if (!szAddress[0])
        return IDS_NO_ADDRESS;
    if (!szName[0])
        return IDS_NO_PORTNAME;
    if (!szQueue[0])
        return IDS_NO_QUEUE;
    if (bHasBackslash(szAddress))
        return IDS_BAD_ADDRESS;
    if (bOnlyBlanks(szAddress))
        return IDS_NO_ADDRESS;
    if (bHasBackslash(szName))
        return IDS_BAD_PORTNAME;
    if (bOnlyBlanks(szName))
        return IDS_NO_PORTNAME;
    if (bHasBackslash(szQueue) || bOnlyBlanks(szQueue))
        return IDS_NO_QUEUE;
    if (!bIsIPv4Address(szAddress))
        return IDS_BAD_ADDRESS;
    if (PortExist(NULL, szName))
        return IDS_PORT_EXISTS;
    StringCchCopyW(pData->szAddress, _countof(pData->szAddress), szAddress);
    StringCchCopyW(pData->szPortName, _countof(pData->szPortName), szName);
    StringCchCopyW(pData->szQueue, _countof(pData->szQueue), szQueue);
    pData->pszServer = NULL;
    return 0;
}

static INT_PTR CALLBACK AddPortDlgProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    PPORT_DIALOG_DATA pData = (PPORT_DIALOG_DATA)GetWindowLongPtrW(hDlg, DWLP_USER);
    if (uMsg == WM_INITDIALOG) {
        pData = (PPORT_DIALOG_DATA)lParam;
        SetWindowLongPtrW(hDlg, DWLP_USER, lParam);
        SendDlgItemMessageW(hDlg, IDC_PROTOCOL, CB_ADDSTRING, 0, (LPARAM)W("RAW"));
        SendDlgItemMessageW(hDlg, IDC_PROTOCOL, CB_ADDSTRING, 0, (LPARAM)W("LPR"));
        SendDlgItemMessageW(hDlg, IDC_PROTOCOL, CB_SETCURSEL, pData->dwProtocol == PROTOCOL_LPR_TYPE ? 1 : 0, 0);
        AddPortEnableFields(hDlg, pData);
        return TRUE;
    }
    if (uMsg != WM_COMMAND || !pData)
        return FALSE;
    switch (LOWORD(wParam)) {
    case IDC_PROTOCOL:
        if (HIWORD(wParam) == CBN_SELCHANGE)
            AddPortEnableFields(hDlg, pData);
        return TRUE;
    case IDC_ADDRESS:
        if (HIWORD(wParam) == EN_UPDATE)
            MakeDefaultPortName(hDlg);
        return TRUE;
    case IDC_CONFIGURE:
        ShowConfigPortDialog(hDlg, pData);
        return TRUE;
    default:
        return PortDialogEndCommand(hDlg, LOWORD(wParam), AddPortCommandOK, pData);
    }
}

INT_PTR ShowAddPortDialog(HWND hWnd, PPORT_DIALOG_DATA pData)
{
    return DialogBoxParamW(UiModule(), MAKEINTRESOURCEW(IDD_ADDPORT), hWnd, AddPortDlgProc, (LPARAM)pData);
}

static BOOL bBuildAddPortConfig(const PORT_DIALOG_DATA* pData, PPortConfigData pConfig)
{
    ZeroMemory(pConfig, sizeof(*pConfig));
    if (FAILED(StringCchCopyW(pConfig->sztPortName, _countof(pConfig->sztPortName), pData->szPortName)) ||
        FAILED(StringCchCopyW(pConfig->sztServerName, _countof(pConfig->sztServerName), pData->szAddress)) ||
        FAILED(StringCchCopyW(pConfig->sztQueue, _countof(pConfig->sztQueue), pData->szQueue)))
        return FALSE;
    pConfig->dwProtocol = pData->dwProtocol;
    pConfig->dwPortNumber = pData->dwPortNumber;
    pConfig->dwTransferMode = pData->dwTransferMode;
    pConfig->dwBanner = pData->dwBanner;
    pConfig->dwRetryInfinity = pData->dwRetryInfinity;
    pConfig->dwRetryCount = pData->dwRetryCount;
    pConfig->dwRetryInterval = pData->dwRetryInterval;
    pConfig->dwLprRetryCount = pData->dwLprRetryCount;
    pConfig->dwLprRetryTimeout = pData->dwLprRetryTimeout;
    pConfig->dwWSAEventTimeout = pData->dwWSAEventTimeout;
    pConfig->dwLprSendInterval = pData->dwLprSendInterval;
    pConfig->dwLprRecvCount = pData->dwLprRecvCount;
    pConfig->dwLprRecvInterval = pData->dwLprRecvInterval;
    pConfig->dwLprCheckJobStatus = pData->dwLprCheckJobStatus;
    return TRUE;
}

BOOL WINAPI AddPortUI(PCWSTR pszServer, HWND hWnd, PCWSTR pszMonitorNameIn, PWSTR* ppszPortNameOut)
{
    UiTraceIn(W("AddPortUI"));
    if (ppszPortNameOut)
        *ppszPortNameOut = NULL;
    if (!hWnd || !pszMonitorNameIn)
        return UiTraceOutBool(W("AddPortUI"), UiCancelled());

    PORT_DIALOG_DATA data;
    ZeroMemory(&data, sizeof(data));
    SetDefaultPortSettings(&data);
    if (ShowAddPortDialog(hWnd, &data) != IDOK)
        return UiTraceOutBool(W("AddPortUI"), UiCancelled());

    PortConfigData config;
    WCHAR szXcv[XCV_NAME_LEN];
    if (!bBuildAddPortConfig(&data, &config) || !bGetXcvMonitorName(pszServer, pszMonitorNameIn, szXcv, _countof(szXcv)))
        return UiTraceOutBool(W("AddPortUI"), UiCancelled());
    HANDLE hXcv = OpenXcv(szXcv);
    if (!hXcv)
        return UiTraceOutBool(W("AddPortUI"), UiCancelled());
    DWORD dwStatus = XcvCall(hXcv, JTRK_XCV_ADDPORT, &config, sizeof(config), NULL, 0);
    ClosePrinter(hXcv);
    if (dwStatus == ERROR_SUCCESS)
        return UiTraceOutBool(W("AddPortUI"), TRUE);
    MonUiMessageBox(hWnd, XcvFailureMessage(dwStatus, IDS_BAD_PORTNAME, 0, IDS_ADD_DENIED, IDS_ADD_FAILED));
    return UiTraceOutBool(W("AddPortUI"), UiCancelled());
}
