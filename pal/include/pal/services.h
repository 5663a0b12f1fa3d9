// Services: the service control manager's calls and the service process's side.
//
// Services are registered under HKLM\SYSTEM\CurrentControlSet\Services\<name> (values Type,
// Start, ErrorControl, ImagePath, DisplayName; a key without Type is no service). There is no
// manager process: StartServiceW launches the image detached, with the platform root, its output
// appended to <root>/run/services/<name>.log, and returns once the process has called
// StartServiceCtrlDispatcherW (ERROR_SERVICE_REQUEST_TIMEOUT after 30 s, or at once when the
// process ends first). The running service keeps its status in <root>/run/services/<name>.status,
// locked for as long as the process lives and has not reported SERVICE_STOPPED; a service whose
// process ended without reporting it reads SERVICE_STOPPED with ERROR_PROCESS_ABORTED. Controls
// reach the handler over <root>/run/services/<name>.ctl, on the dispatcher's thread.
//
// ImagePath: a Windows path (C:\... below the root's drive_c, ".exe" optional on disk) or an
// absolute Linux path, quoted when it holds blanks, then the program's arguments. The service's
// own arguments (StartServiceW's) reach its ServiceMain after the service name.
//
// Access: callers act as administrators unless PAL_NON_ADMIN is set to 1 in their environment;
// a non-administrator may connect, enumerate and query, nothing more (ERROR_ACCESS_DENIED).
// Time-outs follow the platform's time scale (PAL_TIME_SCALE).
#pragma once

#include "pal/errors.h"
#include "pal/types.h"

#define ERROR_INVALID_SERVICE_CONTROL 1052L
#define ERROR_PROCESS_ABORTED 1067L
#define ERROR_SERVICE_MARKED_FOR_DELETE 1072L
#define ERROR_SERVICE_NEVER_STARTED 1077L
#define ERROR_SERVICE_NOT_IN_EXE 1083L
#define ERROR_DATABASE_DOES_NOT_EXIST 1065L

#define SERVICES_ACTIVE_DATABASEW W("ServicesActive")

// Manager access.
#define SC_MANAGER_CONNECT 0x0001
#define SC_MANAGER_CREATE_SERVICE 0x0002
#define SC_MANAGER_ENUMERATE_SERVICE 0x0004
#define SC_MANAGER_LOCK 0x0008
#define SC_MANAGER_QUERY_LOCK_STATUS 0x0010
#define SC_MANAGER_MODIFY_BOOT_CONFIG 0x0020
#define SC_MANAGER_ALL_ACCESS 0xF003F

// Service access.
#define SERVICE_QUERY_CONFIG 0x0001
#define SERVICE_CHANGE_CONFIG 0x0002
#define SERVICE_QUERY_STATUS 0x0004
#define SERVICE_ENUMERATE_DEPENDENTS 0x0008
#define SERVICE_START 0x0010
#define SERVICE_STOP 0x0020
#define SERVICE_PAUSE_CONTINUE 0x0040
#define SERVICE_INTERROGATE 0x0080
#define SERVICE_USER_DEFINED_CONTROL 0x0100
#define SERVICE_ALL_ACCESS 0xF01FF
#define DELETE 0x00010000u

// Types, start types, error control.
#define SERVICE_WIN32_OWN_PROCESS 0x00000010
#define SERVICE_WIN32_SHARE_PROCESS 0x00000020
#define SERVICE_BOOT_START 0x00000000
#define SERVICE_SYSTEM_START 0x00000001
#define SERVICE_AUTO_START 0x00000002
#define SERVICE_DEMAND_START 0x00000003
#define SERVICE_DISABLED 0x00000004
#define SERVICE_ERROR_IGNORE 0x00000000
#define SERVICE_ERROR_NORMAL 0x00000001
#define SERVICE_NO_CHANGE 0xFFFFFFFF

// States.
#define SERVICE_STOPPED 0x00000001
#define SERVICE_START_PENDING 0x00000002
#define SERVICE_STOP_PENDING 0x00000003
#define SERVICE_RUNNING 0x00000004
#define SERVICE_CONTINUE_PENDING 0x00000005
#define SERVICE_PAUSE_PENDING 0x00000006
#define SERVICE_PAUSED 0x00000007

// Controls accepted.
#define SERVICE_ACCEPT_STOP 0x00000001
#define SERVICE_ACCEPT_PAUSE_CONTINUE 0x00000002
#define SERVICE_ACCEPT_SHUTDOWN 0x00000004

// Controls.
#define SERVICE_CONTROL_STOP 0x00000001
#define SERVICE_CONTROL_PAUSE 0x00000002
#define SERVICE_CONTROL_CONTINUE 0x00000003
#define SERVICE_CONTROL_INTERROGATE 0x00000004
#define SERVICE_CONTROL_SHUTDOWN 0x00000005

typedef struct SC_HANDLE__* SC_HANDLE;
typedef SC_HANDLE* LPSC_HANDLE;
typedef struct SERVICE_STATUS_HANDLE__* SERVICE_STATUS_HANDLE;

typedef struct _SERVICE_STATUS {
    DWORD dwServiceType;
    DWORD dwCurrentState;
    DWORD dwControlsAccepted;
    DWORD dwWin32ExitCode;
    DWORD dwServiceSpecificExitCode;
    DWORD dwCheckPoint;
    DWORD dwWaitHint;
} SERVICE_STATUS, *LPSERVICE_STATUS;

typedef void(WINAPI* LPSERVICE_MAIN_FUNCTIONW)(DWORD dwNumServicesArgs, LPWSTR* lpServiceArgVectors);
typedef DWORD(WINAPI* LPHANDLER_FUNCTION_EX)(DWORD dwControl, DWORD dwEventType, LPVOID lpEventData,
                                              LPVOID lpContext);

typedef struct _SERVICE_TABLE_ENTRYW {
    LPWSTR lpServiceName;
    LPSERVICE_MAIN_FUNCTIONW lpServiceProc;
} SERVICE_TABLE_ENTRYW, *LPSERVICE_TABLE_ENTRYW;

extern "C" {
PAL_EXPORT SC_HANDLE OpenSCManagerW(LPCWSTR lpMachineName, LPCWSTR lpDatabaseName, DWORD dwDesiredAccess);
PAL_EXPORT SC_HANDLE CreateServiceW(SC_HANDLE hSCManager, LPCWSTR lpServiceName, LPCWSTR lpDisplayName,
                                    DWORD dwDesiredAccess, DWORD dwServiceType, DWORD dwStartType,
                                    DWORD dwErrorControl, LPCWSTR lpBinaryPathName, LPCWSTR lpLoadOrderGroup,
                                    LPDWORD lpdwTagId, LPCWSTR lpDependencies, LPCWSTR lpServiceStartName,
                                    LPCWSTR lpPassword);
PAL_EXPORT SC_HANDLE OpenServiceW(SC_HANDLE hSCManager, LPCWSTR lpServiceName, DWORD dwDesiredAccess);
PAL_EXPORT BOOL DeleteService(SC_HANDLE hService);
PAL_EXPORT BOOL StartServiceW(SC_HANDLE hService, DWORD dwNumServiceArgs, LPCWSTR* lpServiceArgVectors);
PAL_EXPORT BOOL ControlService(SC_HANDLE hService, DWORD dwControl, LPSERVICE_STATUS lpServiceStatus);
PAL_EXPORT BOOL QueryServiceStatus(SC_HANDLE hService, LPSERVICE_STATUS lpServiceStatus);
PAL_EXPORT BOOL CloseServiceHandle(SC_HANDLE hSCObject);

PAL_EXPORT BOOL StartServiceCtrlDispatcherW(const SERVICE_TABLE_ENTRYW* lpServiceStartTable);
PAL_EXPORT SERVICE_STATUS_HANDLE RegisterServiceCtrlHandlerExW(LPCWSTR lpServiceName,
                                                               LPHANDLER_FUNCTION_EX lpHandlerProc,
                                                               LPVOID lpContext);
PAL_EXPORT BOOL SetServiceStatus(SERVICE_STATUS_HANDLE hServiceStatus, LPSERVICE_STATUS lpServiceStatus);
}

#define OpenSCManager OpenSCManagerW
#define CreateService CreateServiceW
#define OpenService OpenServiceW
#define StartService StartServiceW
#define StartServiceCtrlDispatcher StartServiceCtrlDispatcherW
#define RegisterServiceCtrlHandlerEx RegisterServiceCtrlHandlerExW
#define SERVICE_TABLE_ENTRY SERVICE_TABLE_ENTRYW
