// Windows, dialogs and message boxes: a dialog manager for modal dialogs made from the dialog
// templates of a module's resources (pal/resources.h), with the controls EDIT, COMBOBOX
// (drop-down list), BUTTON (push button, auto check box), STATIC and msctls_updown32, and the
// Windows notifications of those controls.
//
// A dialog runs in the calling thread. Its input comes from, in this order: a step callback set in
// the process (palSetDialogStepper, for tests), a script (palSetDialogScript, or a file named by
// palSetDialogScriptFile), else a terminal on standard input, where each dialog is drawn as a form
// and the same commands are read. With none of them DialogBoxParamW returns -1.
//
// Script commands, one a line ('#' starts a comment line):
//   type ID TEXT      replace the text of edit ID as a paste would (cut at its limit; one EN_UPDATE
//                     and one EN_CHANGE)
//   select ID INDEX   choose item INDEX of combo ID (CBN_SELCHANGE)
//   check ID / uncheck ID   set check box ID as a click would (BN_CLICKED when it changes)
//   click ID          click button ID (BN_CLICKED)
//   ok / cancel       IDOK / IDCANCEL to the dialog
//   answer ok|yes|no|cancel   the answer of the next message box
// A script that ends while a dialog is open cancels the dialog (IDCANCEL). Commands on hidden or
// disabled controls are refused: a script stops with an error line on standard error and the
// dialog is cancelled; on the terminal the line is refused and the form is drawn again.
//
// MessageBoxW records each box (palMessageBoxRecords), writes it to standard error (or the
// terminal) and answers with the script's pending "answer", the terminal user's, else IDOK.
#pragma once

#include "pal/errors.h"
#include "pal/resources.h"
#include "pal/types.h"

#define ERROR_CONTROL_ID_NOT_FOUND 1421L

// Window styles of dialog template items.
#define WS_VISIBLE 0x10000000u
#define WS_DISABLED 0x08000000u
#define WS_TABSTOP 0x00010000u
#define WS_GROUP 0x00020000u
#define BS_PUSHBUTTON 0x00000000u
#define BS_DEFPUSHBUTTON 0x00000001u
#define BS_AUTOCHECKBOX 0x00000003u
#define CBS_DROPDOWNLIST 0x00000003u
#define ES_AUTOHSCROLL 0x00000080u
#define ES_NUMBER 0x00002000u
#define UDS_SETBUDDYINT 0x0002u
#define UDS_ALIGNRIGHT 0x0004u
#define UDS_AUTOBUDDY 0x0010u
#define UDS_ARROWKEYS 0x0020u
#define UDS_NOTHOUSANDS 0x0080u

#define IDOK 1
#define IDCANCEL 2
#define IDABORT 3
#define IDRETRY 4
#define IDIGNORE 5
#define IDYES 6
#define IDNO 7

#define SW_HIDE 0
#define SW_SHOWNORMAL 1
#define SW_SHOW 5

#define DWLP_MSGRESULT 0
#define DWLP_DLGPROC 8
#define DWLP_USER 16
#define GWLP_ID (-12)

#define WM_INITDIALOG 0x0110u
#define WM_COMMAND 0x0111u
#define WM_CLOSE 0x0010u
#define WM_SETTEXT 0x000Cu
#define WM_GETTEXT 0x000Du
#define WM_GETTEXTLENGTH 0x000Eu

#define EM_LIMITTEXT 0x00C5u
#define EM_SETLIMITTEXT EM_LIMITTEXT
#define EM_GETLIMITTEXT 0x00D5u
#define EN_CHANGE 0x0300u
#define EN_UPDATE 0x0400u

#define CB_ERR (-1)
#define CB_ADDSTRING 0x0143u
#define CB_GETCOUNT 0x0146u
#define CB_GETCURSEL 0x0147u
#define CB_GETLBTEXT 0x0148u
#define CB_GETLBTEXTLEN 0x0149u
#define CB_RESETCONTENT 0x014Bu
#define CB_SETCURSEL 0x014Eu
#define CBN_SELCHANGE 1

#define BM_GETCHECK 0x00F0u
#define BM_SETCHECK 0x00F1u
#define BST_UNCHECKED 0
#define BST_CHECKED 1
#define BN_CLICKED 0

#define UDM_SETRANGE32 0x046Fu
#define UDM_GETRANGE32 0x0470u
#define UDM_SETPOS32 0x0471u
#define UDM_GETPOS32 0x0472u

#define MB_OK 0x00000000u
#define MB_OKCANCEL 0x00000001u
#define MB_YESNOCANCEL 0x00000003u
#define MB_YESNO 0x00000004u
#define MB_DEFBUTTON2 0x00000100u
#define MB_ICONERROR 0x00000010u
#define MB_ICONHAND MB_ICONERROR
#define MB_ICONQUESTION 0x00000020u
#define MB_ICONWARNING 0x00000030u
#define MB_ICONEXCLAMATION MB_ICONWARNING
#define MB_ICONINFORMATION 0x00000040u

#define MAKEWPARAM(l, h) ((WPARAM)(DWORD)MAKELONG(l, h))
#define MAKELPARAM(l, h) ((LPARAM)(DWORD)MAKELONG(l, h))

typedef INT_PTR(CALLBACK* DLGPROC)(HWND, UINT, WPARAM, LPARAM);

// One message box as MessageBoxW received it.
typedef struct _PAL_MESSAGE_BOX_RECORD {
    HWND parent;
    WCHAR caption[128];
    WCHAR text[512];
    UINT type;
    int answer;
} PAL_MESSAGE_BOX_RECORD;

// Called by a running dialog whenever it waits for input: the test reads the controls and acts
// (SetDlgItemTextW, palDialogType, palDialogClick, EndDialog ...). `depth` is 1 for the outer dialog.
// Returning FALSE cancels the dialog.
typedef BOOL (*PalDialogStepper)(HWND dialog, UINT templateId, int depth, void* context);

extern "C" {
PAL_EXPORT INT_PTR DialogBoxParamW(HINSTANCE hInstance, LPCWSTR lpTemplateName, HWND hWndParent,
                                   DLGPROC lpDialogFunc, LPARAM dwInitParam);
PAL_EXPORT BOOL EndDialog(HWND hDlg, INT_PTR nResult);
PAL_EXPORT HWND GetDlgItem(HWND hDlg, int nIDDlgItem);
PAL_EXPORT int GetDlgCtrlID(HWND hWnd);
PAL_EXPORT LONG_PTR GetWindowLongPtrW(HWND hWnd, int nIndex);
PAL_EXPORT LONG_PTR SetWindowLongPtrW(HWND hWnd, int nIndex, LONG_PTR dwNewLong);
PAL_EXPORT LRESULT SendMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);
PAL_EXPORT LRESULT SendDlgItemMessageW(HWND hDlg, int nIDDlgItem, UINT Msg, WPARAM wParam, LPARAM lParam);
PAL_EXPORT BOOL SetDlgItemTextW(HWND hDlg, int nIDDlgItem, LPCWSTR lpString);
PAL_EXPORT UINT GetDlgItemTextW(HWND hDlg, int nIDDlgItem, LPWSTR lpString, int cchMax);
PAL_EXPORT UINT GetDlgItemInt(HWND hDlg, int nIDDlgItem, BOOL* lpTranslated, BOOL bSigned);
PAL_EXPORT BOOL SetDlgItemInt(HWND hDlg, int nIDDlgItem, UINT uValue, BOOL bSigned);
PAL_EXPORT BOOL SetWindowTextW(HWND hWnd, LPCWSTR lpString);
PAL_EXPORT int GetWindowTextW(HWND hWnd, LPWSTR lpString, int nMaxCount);
PAL_EXPORT BOOL ShowWindow(HWND hWnd, int nCmdShow);
PAL_EXPORT BOOL IsWindowVisible(HWND hWnd);
PAL_EXPORT BOOL EnableWindow(HWND hWnd, BOOL bEnable);
PAL_EXPORT BOOL IsWindowEnabled(HWND hWnd);
PAL_EXPORT BOOL IsWindow(HWND hWnd);
PAL_EXPORT HWND GetDesktopWindow(void);
PAL_EXPORT int MessageBoxW(HWND hWnd, LPCWSTR lpText, LPCWSTR lpCaption, UINT uType);

// Input of the dialogs. The script is copied; NULL ends it. The file is read when the first dialog
// or message box needs input (FALSE when it cannot be opened).
PAL_EXPORT void palSetDialogScript(const char* script);
PAL_EXPORT BOOL palSetDialogScriptFile(const char* path);
PAL_EXPORT void palSetDialogStepper(PalDialogStepper stepper, void* context);
// Whether a terminal may be used when there is neither stepper nor script (default TRUE).
PAL_EXPORT void palSetDialogTerminal(BOOL allowed);
// For steppers: one command of the script language, run on the open dialog as the script would.
PAL_EXPORT BOOL palDialogCommand(HWND dialog, const char* command);

// The message boxes shown since the last clear, oldest first.
PAL_EXPORT UINT palMessageBoxCount(void);
PAL_EXPORT BOOL palMessageBoxRecord(UINT index, PAL_MESSAGE_BOX_RECORD* record);
PAL_EXPORT void palClearMessageBoxes(void);
}

#define DialogBoxParam DialogBoxParamW
#define SendMessage SendMessageW
#define SendDlgItemMessage SendDlgItemMessageW
#define SetDlgItemText SetDlgItemTextW
#define GetDlgItemText GetDlgItemTextW
#define GetWindowLongPtr GetWindowLongPtrW
#define SetWindowLongPtr SetWindowLongPtrW
#define MessageBox MessageBoxW
#define MAKEINTRESOURCE MAKEINTRESOURCEW
