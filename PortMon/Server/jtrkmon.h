// Internal declarations of the port monitor JTRKMON2: the monitor context, the port list, the
// Xcv contexts, the TCP layer and the RAW protocol.
#pragma once

#include <windows.h>
#include <winsock2.h>
#include <winspool.h>
#include <winsplp.h>

#include "pal/version.h"

#include "jtrkportcfg.h"

#define JTMX_MONITOR_MAGIC 0x4A544D58

// Longest port name a port entry holds, in characters.
#define JTMX_MAX_PORT_NAME 247
#define JTMX_MAX_PRINTER_NAME 220
#define JTMX_SEND_BUFFER_SIZE 65536
#define JTMX_CONTROL_FILE_SIZE 1024

#define JTMX_EVENT_SOURCE W("OutputBeaconPort2")
#define JTMX_EVENT_PORT_FAILED 0xC0000011
#define JTMX_EVENT_PIPE_FAILED 0xC0000012

// Protocol flags of a port entry.
#define PORT_FLAG_LPR 0x10000

// Connection flags (dwFlags) of a port entry.
#define CONN_OPENED 0x1  // a connection was opened for the current job
#define CONN_ESTABLISHED 0x2  // it was established (RAW)

// Port states.
#define PORT_STATE_IDLE 1
#define PORT_STATE_DOC_STARTED 2
#define PORT_STATE_HEADER_INCOMPLETE 3
#define PORT_STATE_HEADER_DONE 4

// Result codes of the retry rule and of the RAW steps.
#define RAW_JOB_CANCELLED 0
#define RAW_RETRY 1
#define RAW_SUCCESS 3
#define RAW_BAD_ADDRESS 4
#define RAW_RETRY_OVER 5
#define RAW_JOB_PAUSED 6

// Socket events selected by the RAW connection.
#define RAW_EVENT_MASK (FD_WRITE | FD_CONNECT | FD_CLOSE)
#define TCP_SEND_BUFFER_SIZE 0x4000
#define TCP_CLOSE_CHUNK 256
#define RETRY_MIN_SLEEP_MS 30
#define REFUSED_CONNECT_SLEEP_MS 1000
#define OPEN_PRINTER_ATTEMPTS 60
#define OPEN_PRINTER_INTERVAL_MS 2000
#define PRINTER_INFO_5_BUFFER_SIZE 2080

struct _MonitorContext;
struct _PortEntry;

typedef struct _MonitorContext {
    DWORD dwMagic;
    PMONITORINIT pMonitorInit;
    struct _PortEntry* pPortList;
    struct _XcvContext* pXcvList;
} MonitorContext, *PMonitorContext;

// One configured port. The spooler holds it as the port handle between OpenPort and ClosePort.
// The name lies in the same allocation, after the record.
typedef struct _PortEntry {
    DWORD cbSize;
    LPWSTR pszPortName;
    LPWSTR pszServerName;
    DWORD dwIPAddress;  // network order
    DWORD dwProtocolFlags;  // PORT_FLAG_LPR
    DWORD dwFlags;  // CONN_OPENED, CONN_ESTABLISHED
    DWORD dwPortNumber;
    LPWSTR pszQueue;  // LPR only
    DWORD dwTransferMode;
    BOOL bBanner;

    DWORD dwRetryInfinity;
    DWORD dwRetryCount;
    DWORD dwRetryInterval;  // working copy, seconds; 0 while a connect loop runs
    DWORD dwLprRetryCount;
    DWORD dwLprRetryTimeout;
    DWORD dwWSAEventTimeout;
    DWORD dwLprSendInterval;
    DWORD dwLprRecvCount;
    DWORD dwLprRecvInterval;
    DWORD dwLprCheckJobStatus;

    // Current job.
    WCHAR wszPrinterName[JTMX_MAX_PRINTER_NAME + 1];
    HANDLE hPrinter;  // INVALID_HANDLE_VALUE when none
    DWORD dwState;
    DWORD dwJobId;
    char szPauName[24];
    BYTE ClientJobId[64];
    DWORD dwNup;
    LPBYTE pHeaderBuf;
    DWORD cbHeaderBuf;
    BOOL bPausedFlag;  // written by Xcv SetPausedFlag under csPortList
    DWORD dwPausedJobId;
    BOOL bStartDocFailed;

    // Connection.
    SOCKET hSocket;  // INVALID_SOCKET when none
    WSAEVENT SockEvent;
    BOOL bConnectReady;  // the connect already reported the socket writable
    LONG lNetworkEvents;  // events seen on the current socket
    DWORD dwSpooledBytes;
    DWORD dwJobBufSize;

    // LPR transfer.
    int nLpStat;
    HANDLE hTmpFile;
    WCHAR wszTmpFile[MAX_PATH];
    BYTE SendBuf[JTMX_SEND_BUFFER_SIZE];
    DWORD cSendReqLen;
    LPBYTE pTmpSplBuf;  // 64 KB streaming buffer, allocated for a job
    DWORD dwTmpSplBufLen;
    DWORD dwSendFileSize;
    DWORD dwLprErrorCount;
    DWORD dwLprRetryCounter;
    DWORD dwCtrlFileLen;
    char szCtrlFile[JTMX_CONTROL_FILE_SIZE];
    BOOL bRestartDecided;

    DWORD dwSavedRetryInterval;
    LONG countdown;  // open connections

    // Network start: WSAStartup and the socket event, balanced per entry.
    BOOL bNetworkStarted;
    DWORD dwOpenCount;  // OpenPort calls not yet closed

    PMonitorContext pMonitor;
    struct _PortEntry* pNext;
} PortEntry, *PPortEntry;

// The handle of an Xcv session: the monitor itself (no port name) or one port.
typedef struct _XcvContext {
    DWORD cbSize;
    LPWSTR pszPortName;  // NULL for the monitor
    ACCESS_MASK GrantedAccess;
    PMonitorContext pMonitor;
    struct _XcvContext* pNext;
} XcvContext, *PXcvContext;

// The spooler and timing calls of the job path. Tests replace them with doubles.
typedef struct _MonitorSystemCalls {
    BOOL(WINAPI* pfnOpenPrinterW)(LPWSTR pPrinterName, LPHANDLE phPrinter, LPPRINTER_DEFAULTSW pDefault);
    BOOL(WINAPI* pfnClosePrinter)(HANDLE hPrinter);
    BOOL(WINAPI* pfnGetJobW)(HANDLE hPrinter, DWORD JobId, DWORD Level, LPBYTE pJob, DWORD cbBuf, LPDWORD pcbNeeded);
    BOOL(WINAPI* pfnSetJobW)(HANDLE hPrinter, DWORD JobId, DWORD Level, LPBYTE pJob, DWORD Command);
    BOOL(WINAPI* pfnGetPrinterW)(HANDLE hPrinter, DWORD Level, LPBYTE pPrinter, DWORD cbBuf, LPDWORD pcbNeeded);
    void(WINAPI* pfnSleep)(DWORD dwMilliseconds);
    BOOL(WINAPI* pfnVerifyVersionInfoW)(LPOSVERSIONINFOEXW lpVersionInformation, DWORD dwTypeMask,
                                        DWORDLONG dwlConditionMask);
} MonitorSystemCalls;

extern MonitorSystemCalls g_MonSys;

// Locks (never nested): the port list and registry writes, the pipe calls, the job-header stamp.
extern CRITICAL_SECTION csPortList;
extern CRITICAL_SECTION csPipeCall;
extern CRITICAL_SECTION csJobHeader;

// ---- Debugger trace: "Name IN", "Name OUT(result)"
void MonTraceIn(LPCWSTR pszFunction);
BOOL MonTraceOutBool(LPCWSTR pszFunction, BOOL bResult);
DWORD MonTraceOutCode(LPCWSTR pszFunction, DWORD dwCode);

// ---- Port configuration (jtrkutil.cpp)
PPortEntry AddPortEntry(PMonitorContext pMonitor, LPCWSTR pszName, const PortConfigData* pConfig);
PPortEntry FindPortEntry(PPortEntry pList, LPCWSTR pszName);
DWORD UpdatePortEntry(PMonitorContext pMonitor, LPCWSTR pszName, const PortConfigData* pConfig);
DWORD RemovePortEntry(PMonitorContext pMonitor, LPCWSTR pszName);
void FreePortEntry(PPortEntry pEntry);
BOOL IsPortBusy(const PortEntry* pEntry);
DWORD ReadPortConfig(PMonitorContext pMonitor, LPCWSTR pszPortName, PortConfigData* pConfig);
LONG DeletePortKeys(PMonitorContext pMonitor, LPCWSTR pszPortName);
BOOL bConvertIPAddress(LPCWSTR pszText, LPBYTE pAddress, DWORD cbAddress);
BOOL bPortExists(LPCWSTR pszServer, LPCWSTR pszName, LPDWORD pdwError);
void JTMXReportEvent(LPCWSTR pszSource, WORD wType, WORD wCategory, DWORD dwEventId, WORD wNumStrings,
                     LPCWSTR* ppszStrings);
void ReportPortFailure(const PortEntry* pEntry, LPCWSTR pszOperation);
BOOL IsStringInField(const WCHAR* pszField, size_t cchField);

// ---- Monitor slots (monitor.cpp)
extern "C" PAL_EXPORT LPMONITOR2 WINAPI InitializePrintMonitor2(PMONITORINIT pMonitorInit, PHANDLE phMonitor);
BOOL WINAPI JTMXEnumPorts(HANDLE hMonitor, LPWSTR pName, DWORD Level, LPBYTE pPorts, DWORD cbBuf, LPDWORD pcbNeeded,
                          LPDWORD pcReturned);
BOOL WINAPI JTMXOpenPort(HANDLE hMonitor, LPWSTR pName, PHANDLE pHandle);
BOOL WINAPI JTMXReadPort(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuffer, LPDWORD pcbRead);
BOOL WINAPI JTMXClosePort(HANDLE hPort);
VOID WINAPI JTMXShutdown(HANDLE hMonitor);

// ---- Xcv (xcv.cpp)
BOOL WINAPI JTMXXcvOpenPort(HANDLE hMonitor, LPCWSTR pszObject, ACCESS_MASK GrantedAccess, PHANDLE phXcv);
DWORD WINAPI JTMXXcvDataPort(HANDLE hXcv, LPCWSTR pszDataName, PBYTE pInputData, DWORD cbInputData,
                             PBYTE pOutputData, DWORD cbOutputData, PDWORD pcbOutputNeeded);
BOOL WINAPI JTMXXcvClosePort(HANDLE hXcv);

// ---- TCP layer (tcp.cpp)
int TcpStartup(PPortEntry pPort);
void TcpCleanup(PPortEntry pPort);
BOOL StartPortNetwork(PPortEntry pPort, LPCWSTR pszTraceName);
BOOL StopPortNetwork(PPortEntry pPort, LPCWSTR pszTraceName);
BOOL GetServerAddress(LPCWSTR pszServerName, struct sockaddr_in* pAddress);
int GetRawSockEvent(PPortEntry pPort, int* pError, DWORD dwTimeout);
int GetRawSendSockEvent(PPortEntry pPort, int* pError, DWORD dwTimeout);
SOCKET TcpOpen(PPortEntry pPort, const struct sockaddr_in* pAddress, int* pError);
int Close(int* pError, PPortEntry pPort);
void AbortClose(PPortEntry pPort);
DWORD GetJobStatus(HANDLE hPrinter, DWORD dwJobId);
DWORD GetJobSize(HANDLE hPrinter, DWORD dwJobId);
DWORD GetPrinterStatus(HANDLE hPrinter);
BOOL IsTrueJob(HANDLE hPrinter, DWORD dwJobId);
void MonSleep(DWORD dwMilliseconds);

// ---- RAW (raw.cpp)
int OnOccurError(LPDWORD pdwCounter, int nError, PPortEntry pPort);
BOOL Open(PPortEntry pPort, int* pCode, int* pError);
BOOL SendData(const BYTE* pData, DWORD cbData, int* pCode, int* pError, PPortEntry pPort);
void JobDelete(PPortEntry pPort, BOOL bComplete);
BOOL RawOpenPort(PPortEntry pPort);
BOOL RawStartDocPort(PPortEntry pPort, LPCWSTR pszPrinterName, DWORD dwJobId);
BOOL RawWritePort(PPortEntry pPort, const BYTE* pData, DWORD cbData, LPDWORD pcbWritten, int* pError);
BOOL RawEndDocPort(PPortEntry pPort);
BOOL RawClosePort(PPortEntry pPort);

// ---- LPR (lpr.cpp)
BOOL LPROpenPort(PPortEntry pPort);
BOOL LPRClosePort(PPortEntry pPort);
