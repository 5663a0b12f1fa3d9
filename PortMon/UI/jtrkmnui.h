// JTRKMNUI2: the UI of the port monitor "TALLY-DESK Output Beacon Port2". Its entries show the port
// dialogs, check the input and configure the monitor only through Xcv calls.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <strsafe.h>
#include <winspool.h>
#include <winsplp.h>

#include "jtrkplatform.h"

#include "jtrkportcfg.h"

#define JTRK_OLD_PORT_TYPE_NAME W("TALLY-DESK Output Beacon Port")

// The one record both dialogs work on (kept in the dialog's DWLP_USER slot).
typedef struct _PORT_DIALOG_DATA {
    LPCWSTR pszServer;
    WCHAR szPortName[JTRK_MAX_PORTNAME_LEN];
    WCHAR szUnused[JTRK_MAX_PORTNAME_LEN];
    WCHAR szAddress[JTRK_MAX_SERVERNAME_LEN];
    WCHAR szQueue[JTRK_MAX_QUEUENAME_LEN];
    DWORD dwProtocol;
    DWORD dwPortNumber;
    DWORD dwTransferMode;
    DWORD dwRetryInfinity;
    DWORD dwRetryCount;
    DWORD dwRetryInterval;
    DWORD dwBanner;
    DWORD dwLprRetryCount;
    DWORD dwLprRetryTimeout;
    DWORD dwWSAEventTimeout;
    DWORD dwLprSendInterval;
    DWORD dwLprRecvCount;
    DWORD dwLprRecvInterval;
    DWORD dwLprCheckJobStatus;
} PORT_DIALOG_DATA, *PPORT_DIALOG_DATA;

extern "C" {
JTRK_EXPORT PMONITORUI WINAPI InitializePrintMonitorUI(void);
JTRK_EXPORT BOOL WINAPI JTMXAddPortSilent(LPCWSTR pszServer, LPCWSTR pszSourcePort, LPCWSTR pszNewPort,
                                        LPCWSTR pszOriginalPort);
}

BOOL WINAPI AddPortUI(PCWSTR pszServer, HWND hWnd, PCWSTR pszMonitorNameIn, PWSTR* ppszPortNameOut);
BOOL WINAPI ConfigurePortUI(PCWSTR pszServer, HWND hWnd, PCWSTR pszPortName);
BOOL WINAPI DeletePortUI(PCWSTR pszServer, HWND hWnd, PCWSTR pszPortName);

// ---- Module
HINSTANCE UiModule(void);

// ---- Dialogs
INT_PTR ShowAddPortDialog(HWND hWnd, PPORT_DIALOG_DATA pData);
INT_PTR ShowConfigPortDialog(HWND hWnd, PPORT_DIALOG_DATA pData);
// The message id for the dialogs' input, or 0 when it is accepted (and stored in pData).
UINT AddPortCommandOK(HWND hDlg, PPORT_DIALOG_DATA pData);
UINT ConfigPortCommandOK(HWND hDlg, PPORT_DIALOG_DATA pData);
void SetDefaultPortSettings(PPORT_DIALOG_DATA pData);
// OK and Cancel of a port dialog: OK closes it once pfnCommandOK accepts the input, else shows the
// message it returns. FALSE for any other command.
BOOL PortDialogEndCommand(HWND hDlg, WORD wCommand, UINT (*pfnCommandOK)(HWND, PPORT_DIALOG_DATA),
                          PPORT_DIALOG_DATA pData);

// ---- Messages: the box of a message id, with its caption and icon (nothing without a window)
#define UI_NO_MESSAGE 0xFFFFFFFFu  // a failure that shows no box
void MonUiMessageBox(HWND hWnd, UINT uMessageId);
// Last error ERROR_CANCELLED and FALSE, the outcome of every failed entry.
BOOL UiCancelled(void);

// ---- Xcv
#define XCV_NAME_LEN (MAX_PATH + JTRK_MAX_PORTNAME_LEN + 16)
BOOL bGetXcvMonitorName(LPCWSTR pszServer, LPCWSTR pszMonitor, LPWSTR pszName, size_t cchName);
BOOL bGetXcvPortName(LPCWSTR pszServer, LPCWSTR pszPort, LPWSTR pszName, size_t cchName);
// OpenPrinterW of an Xcv object with server-management access; NULL on failure.
HANDLE OpenXcv(LPCWSTR pszObject);
// XcvDataW; the call's status, or its last error when the call itself fails.
DWORD XcvCall(HANDLE hXcv, LPCWSTR pszMethod, PVOID pInput, DWORD cbInput, PVOID pOutput, DWORD cbOutput);
// The message id of a failed Xcv call's status; 0 for a status the operation does not tell apart.
UINT XcvFailureMessage(DWORD dwStatus, UINT uBadName, UINT uBusy, UINT uDenied, UINT uFailed);
// Whether the monitor (given by its Xcv name) has the port; any failure counts as "no".
BOOL PortExistOn(LPCWSTR pszXcvMonitor, LPCWSTR pszPort);
BOOL PortExist(LPCWSTR pszServer, LPCWSTR pszPort);

// ---- Text helpers
BOOL bHasBackslash(LPCWSTR pszText);
BOOL bOnlyBlanks(LPCWSTR pszText);
// Decimal digits with an optional leading '-'.
BOOL bIsNumberText(LPCWSTR pszText);

// ---- Silent add
BOOL GetSourcePortMonitor(LPCWSTR pszServer, LPCWSTR pszPort, LPDWORD pdwKind);
BOOL FillPortConfigFromSource(LPCWSTR pszServer, LPCWSTR pszPort, PPortConfigData pConfig);

// ---- Debugger trace: "Name IN", "Name OUT(result)"
void UiTraceIn(LPCWSTR pszFunction);
BOOL UiTraceOutBool(LPCWSTR pszFunction, BOOL bResult);
