// Starting and stopping the tracking service named by the package.
#include "jtrkutil.h"

#define SERVICE_NAME_MAX 261
#define SERVICE_WAIT_LIMIT_MS 60000
#define SERVICE_POLL_MS 500

// Waits until the service reaches target. A service that falls back to STOPPED while starting
// has failed; a stop goes on through RUNNING and STOP_PENDING until STOPPED.
static DWORD WaitForState(SC_HANDLE service, DWORD target)
{
    DWORD start = GetTickCount();
    for (;;) {
        SERVICE_STATUS status = {};
        if (!QueryServiceStatus(service, &status))
            return GetLastError();
        if (status.dwCurrentState == target)
            return ERROR_SUCCESS;
        if (target == SERVICE_RUNNING && status.dwCurrentState == SERVICE_STOPPED)
            return status.dwWin32ExitCode ? status.dwWin32ExitCode : ERROR_PROCESS_ABORTED;
        if (GetTickCount() - start >= SERVICE_WAIT_LIMIT_MS)
            return ERROR_SERVICE_REQUEST_TIMEOUT;
        DWORD hint = status.dwWaitHint;
        Sleep(hint >= 1 && hint <= SERVICE_POLL_MS ? hint : SERVICE_POLL_MS);
    }
}

static DWORD StartAndWait(SC_HANDLE service)
{
    SERVICE_STATUS status = {};
    if (!QueryServiceStatus(service, &status))
        return GetLastError();
    if (status.dwCurrentState == SERVICE_RUNNING)
        return ERROR_SUCCESS;
    if (status.dwCurrentState != SERVICE_START_PENDING && !StartServiceW(service, 0, NULL))
        return GetLastError();
    return WaitForState(service, SERVICE_RUNNING);
}

static DWORD StopAndWait(SC_HANDLE service)
{
    SERVICE_STATUS status = {};
    if (!QueryServiceStatus(service, &status))
        return GetLastError();
    if (status.dwCurrentState == SERVICE_STOPPED)
        return ERROR_SUCCESS;
    if (status.dwCurrentState != SERVICE_STOP_PENDING && !ControlService(service, SERVICE_CONTROL_STOP, &status))
        return GetLastError();
    return WaitForState(service, SERVICE_STOPPED);
}

static void ServiceName(MSIHANDLE session, LPWSTR name)
{
    DWORD count = SERVICE_NAME_MAX;
    name[0] = 0;
    if (MsiGetPropertyW(session, W("JTRK_SERVICE_NAME"), name, &count) != ERROR_SUCCESS)
        name[0] = 0;
}

static SC_HANDLE OpenManager(void)
{
    return OpenSCManagerW(NULL, W("ServicesActive"), SC_MANAGER_ALL_ACCESS);
}

UINT WINAPI JTMXStartService(MSIHANDLE session)
{
    WCHAR name[SERVICE_NAME_MAX];
    ServiceName(session, name);
    UtilLog(session, W("ServiceName is %ls"), name);
    SC_HANDLE manager = OpenManager();
    if (manager == NULL) {
        UtilLog(session, W("dwGetSCManagerHandle failed. ErrorCode = %ld"), (long)GetLastError());
        UtilWriteResultCode(session, 4);
        UtilShowMessage(session, IDS_SERVICE_START_FAILED, UTIL_MSG_WARNING);
        return ERROR_SUCCESS;
    }
    SC_HANDLE service = OpenServiceW(manager, name, SERVICE_ALL_ACCESS);
    if (service == NULL) {
        UtilLog(session, W("OpenService failed. ErrorCode = %ld"), (long)GetLastError());
        UtilWriteResultCode(session, 5);
        UtilShowMessage(session, IDS_SERVICE_START_FAILED, UTIL_MSG_WARNING);
    } else {
        DWORD error = StartAndWait(service);
        if (error == ERROR_SUCCESS) {
            UtilLog(session, W("JTMXStartService success."));
            UtilWriteResultCode(session, 0);
        } else {
            UtilLog(session, W("dwStartService failed. ErrorCode = %ld"), (long)error);
            UtilWriteResultCode(session, 6);
            UtilShowMessage(session, IDS_SERVICE_START_FAILED, UTIL_MSG_WARNING);
        }
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return ERROR_SUCCESS;
}

UINT WINAPI JTMXStopService(MSIHANDLE session)
{
    WCHAR name[SERVICE_NAME_MAX];
    ServiceName(session, name);
    UtilLog(session, W("ServiceName is %ls"), name);
    SC_HANDLE manager = OpenManager();
    if (manager == NULL) {
        UtilLog(session, W("dwGetSCManagerHandle failed. ErrorCode = %ld"), (long)GetLastError());
        UtilShowMessage(session, IDS_SERVICE_STOP_FAILED, UTIL_MSG_ERROR);
        return ERROR_INSTALL_USEREXIT;
    }
    DWORD error = ERROR_SUCCESS;
    SC_HANDLE service = OpenServiceW(manager, name, SERVICE_ALL_ACCESS);
    if (service == NULL) {
        error = GetLastError();
        UtilLog(session, W("OpenService failed. ErrorCode = %ld"), (long)error);
        if (error == ERROR_SERVICE_DOES_NOT_EXIST)
            error = ERROR_SUCCESS;
    } else {
        error = StopAndWait(service);
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    if (error != ERROR_SUCCESS) {
        UtilLog(session, W("dwStopService failed. ErrorCode = %ld"), (long)error);
        UtilShowMessage(session, IDS_SERVICE_STOP_FAILED, UTIL_MSG_ERROR);
        return ERROR_INSTALL_USEREXIT;
    }
    UtilLog(session, W("JTMXStopService success."));
    return ERROR_SUCCESS;
}
