// The install, reinstall and uninstall actions.
#include "jtrkutil.h"

#define UI_NAME_MAX 261

// Asks the UI module's name and converts the printers; failures are only recorded (3).
static void ConvertPrinters(MSIHANDLE session, LPCWSTR monitorName)
{
    WCHAR uiName[UI_NAME_MAX] = {};
    UtilLog(session, W("dwGetMonitorUiName start."));
    DWORD error = UtilGetMonitorUiName(monitorName, uiName, UI_NAME_MAX);
    if (error != ERROR_SUCCESS) {
        UtilLog(session, W("dwGetMonitorUiName failed. ErrorCode = %ld"), (long)error);
        UtilWriteResultCode(session, 3);
        return;
    }
    UtilLog(session, W("JTMXToSecialPort start."));
    error = JTMXToSecialPort(session, uiName);
    if (error != ERROR_SUCCESS) {
        UtilLog(session, W("JTMXToSecialPort failed. ErrorCode = %ld"), (long)error);
        UtilWriteResultCode(session, 3);
    }
}

// Message 101: yes keeps the partial state (0); otherwise printers go back and the monitor goes.
static UINT AskToContinue(MSIHANDLE session, LPCWSTR action, LPCWSTR monitorName)
{
    if (UtilShowMessage(session, IDS_MONITOR_ADD_FAILED, UTIL_MSG_ASK_YESNO) == IDYES) {
        UtilLog(session, W("%ls was continued."), action);
        return ERROR_SUCCESS;
    }
    UtilLog(session, W("%ls was canceled."), action);
    JTMXToOriginalPort();
    if (monitorName[0] && JTMXIsMonitorExists(monitorName))
        JTMXDeleteMonitor(monitorName);
    return ERROR_INSTALL_USEREXIT;
}

static UINT Install(MSIHANDLE session, LPCWSTR action, BOOL addMonitor)
{
    WCHAR monitorName[UTIL_MONITOR_NAME_MAX], monitorDll[UTIL_MONITOR_DLL_MAX];
    UtilLog(session, W("dwGetPortMonitorInfo start."));
    DWORD error = UtilGetPortMonitorInfo(session, monitorName, monitorDll);
    if (error != ERROR_SUCCESS) {
        UtilLog(session, W("dwGetPortMonitorInfo failed. ErrorCode = %ld"), (long)error);
        UtilWriteResultCode(session, 1);
        UtilLog(session, W("FUNC_END start."));
        return AskToContinue(session, action, W(""));
    }
    UtilLog(session, W("MonitorName is %ls, DriverName is %ls"), monitorName, monitorDll);
    if (addMonitor) {
        UtilLog(session, W("JTMXAddMonitor start."));
        error = JTMXAddMonitor(monitorName, monitorDll);
        if (error != ERROR_SUCCESS) {
            UtilLog(session, W("JTMXAddMonitor failed. ErrorCode = %ld"), (long)error);
            UtilWriteResultCode(session, 2);
            UtilLog(session, W("FUNC_END start."));
            return AskToContinue(session, action, monitorName);
        }
    }
    ConvertPrinters(session, monitorName);
    UtilLog(session, W("FUNC_END start."));
    UtilLog(session, W("%ls success."), action);
    return ERROR_SUCCESS;
}

UINT WINAPI JTMXInstallPort(MSIHANDLE session)
{
    return Install(session, W("JTMXPortInstall"), TRUE);
}

UINT WINAPI JTMXInstallPortforReInst(MSIHANDLE session)
{
    UtilLog(session, W("JTMXInstallPortforReInst IN."));
    return Install(session, W("JTMXInstallPortforReInst"), FALSE);
}

UINT WINAPI JTMXUninstallPort(MSIHANDLE session)
{
    WCHAR monitorName[UTIL_MONITOR_NAME_MAX], monitorDll[UTIL_MONITOR_DLL_MAX];
    BOOL failed = FALSE;
    DWORD error = UtilGetPortMonitorInfo(session, monitorName, monitorDll);
    if (error != ERROR_SUCCESS) {
        UtilLog(session, W("dwGetPortMonitorInfo failed. ErrorCode = %ld"), (long)error);
        failed = TRUE;
    }
    error = JTMXToOriginalPort();
    if (error != ERROR_SUCCESS) {
        UtilLog(session, W("JTMXToOriginalPort failed. ErrorCode = %ld"), (long)error);
        failed = TRUE;
    }
    error = UtilDeleteSpecialPorts();
    if (error != ERROR_SUCCESS) {
        UtilLog(session, W("JTMXDeleteSpecialPort failed. ErrorCode = %ld"), (long)error);
        failed = TRUE;
    }
    if (failed) {
        UtilShowMessage(session, IDS_PORT_DELETE_FAILED, UTIL_MSG_ERROR);
        return ERROR_INSTALL_USEREXIT;
    }
    if (JTMXIsMonitorExists(monitorName)) {
        error = JTMXDeleteMonitor(monitorName);
        if (error != ERROR_SUCCESS) {
            UtilLog(session, W("JTMXDeleteMonitor failed. ErrorCode = %ld"), (long)error);
            UtilShowMessage(session, IDS_MONITOR_DELETE_FAILED, UTIL_MSG_ERROR);
            return ERROR_INSTALL_USEREXIT;
        }
    }
    UtilLog(session, W("JTMXUninstallPort success."));
    return ERROR_SUCCESS;
}
