// Internal declarations of the port monitor JTRKMON2: the monitor context, the port list, the
// Xcv contexts, the TCP layer, the RAW protocol and the job flow.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <iphlpapi.h>
#include <icmpapi.h>
#include <lmcons.h>
#include <strsafe.h>
#include <winspool.h>
#include <winsplp.h>

#include "jtrkplatform.h"
#include "jtrkjobevent.h"
#include "jtrkportcfg.h"

#define JTMX_MONITOR_MAGIC 0x4A544D58

// Longest port name a port entry holds, in characters.
#define JTMX_MAX_PORT_NAME 247
#define JTMX_MAX_PRINTER_NAME 220
#define JTMX_SEND_BUFFER_SIZE 65536
#define JTMX_CONTROL_FILE_SIZE 1024
#define JTMX_TMP_PATH_LEN 520  // longest temporary-file path, in characters
#define JTMX_LABEL_BYTES 24
#define JTMX_CLIENT_JOB_ID_BYTES 64

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
    DWORD dwState;  // changed under csPortList
    DWORD dwJobId;
    char szPauName[JTMX_LABEL_BYTES];
    BYTE ClientJobId[JTMX_CLIENT_JOB_ID_BYTES];
    DWORD dwNup;
    LPBYTE pHeaderBuf;  // job bytes held back until the header is complete
    DWORD cbHeaderBuf;
    BOOL bHeaderParsed;  // this job's header was parsed complete
    BOOL bPausedFlag;  // read and written under csPortList
    DWORD dwPausedJobId;
    BOOL bStartDocFailed;
    BOOL bRequeued;  // this delivery of the job was already paused and restarted

    // Connection.
    SOCKET hSocket;  // INVALID_SOCKET when none
    WSAEVENT SockEvent;
    BOOL bConnectReady;  // the connect already reported the socket writable
    BOOL bSendBlocked;  // the last send would have blocked: FD_WRITE tells when to go on
    LONG lNetworkEvents;  // events seen on the current socket
    ULONGLONG ullSpooledBytes;  // bytes of the job taken; a job may pass 4 GiB
    DWORD dwJobBufSize;

    // LPR transfer.
    int nLpStat;
    HANDLE hTmpFile;
    WCHAR wszTmpFile[JTMX_TMP_PATH_LEN + 1];
    BYTE SendBuf[JTMX_SEND_BUFFER_SIZE];  // staged bytes of the current step
    DWORD cSendReqLen;
    DWORD dwSendReqOffset;  // staged bytes already sent
    LPBYTE pTmpSplBuf;  // 64 KB streaming buffer, kept for the port's lifetime
    DWORD dwTmpSplBufLen;
    ULONGLONG ullSendFileSize;
    DWORD dwLprRetryCounter;  // refused acknowledgements in a row
    DWORD dwCtrlFileLen;
    char szCtrlFile[JTMX_CONTROL_FILE_SIZE];
    BOOL bRestartDecided;

    DWORD dwSavedRetryInterval;
    LONG countdown;  // open connections

    // ConfigPort's settings, taken over by the next job (the running job keeps its own).
    DWORD dwConfigPortNumber;
    DWORD dwConfigTransferMode;
    DWORD dwConfigRetryInfinity;
    DWORD dwConfigRetryCount;
    DWORD dwConfigRetryInterval;

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

// The spooler, system and timing calls of the job path. Tests replace them with doubles.
typedef struct _MonitorSystemCalls {
    BOOL(WINAPI* pfnOpenPrinterW)(LPWSTR pPrinterName, LPHANDLE phPrinter, LPPRINTER_DEFAULTSW pDefault);
    BOOL(WINAPI* pfnClosePrinter)(HANDLE hPrinter);
    BOOL(WINAPI* pfnGetJobW)(HANDLE hPrinter, DWORD JobId, DWORD Level, LPBYTE pJob, DWORD cbBuf, LPDWORD pcbNeeded);
    BOOL(WINAPI* pfnSetJobW)(HANDLE hPrinter, DWORD JobId, DWORD Level, LPBYTE pJob, DWORD Command);
    BOOL(WINAPI* pfnGetPrinterW)(HANDLE hPrinter, DWORD Level, LPBYTE pPrinter, DWORD cbBuf, LPDWORD pcbNeeded);
    void(WINAPI* pfnSleep)(DWORD dwMilliseconds);
    BOOL(WINAPI* pfnVerifyVersionInfoW)(LPOSVERSIONINFOEXW lpVersionInformation, DWORD dwTypeMask,
                                        DWORDLONG dwlConditionMask);
    BOOL(WINAPI* pfnXcvDataW)(HANDLE hXcv, PCWSTR pszDataName, PBYTE pInputData, DWORD cbInputData,
                              PBYTE pOutputData, DWORD cbOutputData, PDWORD pcbOutputNeeded, PDWORD pdwStatus);
    HANDLE(WINAPI* pfnIcmpCreateFile)(void);
    BOOL(WINAPI* pfnIcmpCloseHandle)(HANDLE IcmpHandle);
    DWORD(WINAPI* pfnIcmpSendEcho)(HANDLE IcmpHandle, IPAddr DestinationAddress, LPVOID RequestData,
                                   WORD RequestSize, PIP_OPTION_INFORMATION RequestOptions, LPVOID ReplyBuffer,
                                   DWORD ReplySize, DWORD Timeout);
    BOOL(WINAPI* pfnCallNamedPipeW)(LPCWSTR lpNamedPipeName, LPVOID lpInBuffer, DWORD nInBufferSize,
                                    LPVOID lpOutBuffer, DWORD nOutBufferSize, LPDWORD lpBytesRead, DWORD nTimeOut);
    HANDLE(WINAPI* pfnRevertToPrinterSelf)(void);
    BOOL(WINAPI* pfnImpersonatePrinterClient)(HANDLE hToken);
    BOOL(WINAPI* pfnGetComputerNameW)(LPWSTR lpBuffer, LPDWORD nSize);
    BOOL(WINAPI* pfnGetUserNameW)(LPWSTR lpBuffer, LPDWORD pcbBuffer);
    INT(WINAPI* pfnBind)(SOCKET s, const struct sockaddr* name, INT namelen);
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
// ConfigPort's settings reach an idle entry at once, a busy one at its next job.
DWORD UpdatePortEntry(PMonitorContext pMonitor, LPCWSTR pszName, const PortConfigData* pConfig);
void ApplyConfiguredSettings(PPortEntry pEntry);
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
extern "C" JTRK_EXPORT LPMONITOR2 WINAPI InitializePrintMonitor2(PMONITORINIT pMonitorInit, PHANDLE phMonitor);
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
// The C runtime locale of the monitor's multibyte texts (server names, LPR commands and control
// file): code page 932, named as every C runtime of Windows reads it. msvcrt.dll knows no locale
// names such as "ja-JP" (only the newer runtimes do): with one, every conversion would fail.
#define MON_TEXT_LOCALE "Japanese_Japan.932"
BOOL GetServerAddress(LPCWSTR pszServerName, struct sockaddr_in* pAddress);
int GetRawSockEvent(PPortEntry pPort, int* pError, DWORD dwTimeout);
int GetRawSendSockEvent(PPortEntry pPort, int* pError, DWORD dwTimeout);
int GetLprSockEvent(PPortEntry pPort, int* pError, DWORD dwTimeout);
int GetLprSendSockEvent(PPortEntry pPort, int* pError, DWORD dwTimeout);
SOCKET TcpOpen(PPortEntry pPort, const struct sockaddr_in* pAddress, int* pError);
int Close(int* pError, PPortEntry pPort);
BOOL ShutdownAndDrain(PPortEntry pPort, int* pError);
void CloseSocketRetrying(PPortEntry pPort);
void AbortClose(PPortEntry pPort);
// A deleted or cancelled job does not wait for the device's orderly close, which a device that
// never reads would hold up for LprRecvCount x LprRecvInterval: its connection is reset at once.
BOOL IsJobCancelled(const PortEntry* pPort);
void ResetClose(PPortEntry pPort);
BOOL IsJobStopping(const PortEntry* pPort);
// GetJobW at a level into an allocation of the needed size (the caller frees it); NULL on failure.
LPBYTE QueryJob(HANDLE hPrinter, DWORD dwJobId, DWORD dwLevel);
DWORD GetJobStatus(HANDLE hPrinter, DWORD dwJobId);
DWORD GetJobSize(HANDLE hPrinter, DWORD dwJobId);
DWORD GetPrinterStatus(HANDLE hPrinter);
BOOL IsTrueJob(HANDLE hPrinter, DWORD dwJobId);
HANDLE OpenJobPrinter(LPCWSTR pszPrinterName);
BOOL IsDirectPrinter(HANDLE hPrinter);
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

// ---- LPR (lpr*.cpp; internals in lpr.h)
BOOL LPROpenPort(PPortEntry pPort);
BOOL LPRClosePort(PPortEntry pPort);
BOOL LPRStartDocPort(PPortEntry pPort, LPCWSTR pszPrinterName, DWORD dwJobId);
BOOL LPRWritePort(PPortEntry pPort, const BYTE* pData, DWORD cbData, LPDWORD pcbWritten, int* pError);
BOOL LPREndDocPort(PPortEntry pPort, int* pStopCode, int* pError);
void LPRJobDelete(PPortEntry pPort, BOOL bComplete);
BOOL IsLprPort(const PortEntry* pEntry);
BOOL IsByteCountPort(const PortEntry* pEntry);

// Stop codes that LPREndDocPort hands to the job flow.
#define LPR_STOP_CANCEL 2  // job deleting or deleted, or printer pending deletion
#define LPR_STOP_RESTARTING 3
#define LPR_STOP_OTHER 5
#define LPR_STOP_ERROR 6  // stopped on an error, with a Windows Sockets error
#define LPR_STOP_PAUSED 7

// ---- Job messages and job reports (jobheader.cpp, jobreport.cpp)
#define JOBHEADER_END 0
#define JOBHEADER_NEED_MORE 1
#define JOBHEADER_UNTAGGED 2
// Gathering stops here: a longer run of job messages counts as untagged data.
#define JOBHEADER_GATHER_LIMIT (1024 * 1024)

int JobHeaderScan(const BYTE* pData, DWORD cbData);
// The bytes one WritePort call hands on: held-back bytes first (when any), then its own bytes
// (unless they joined the held ones).
typedef struct _HeaderGather {
    LPBYTE pHeld;  // owned by the port until FreeHeaderBuffer
    DWORD cbHeld;
    BOOL bSendCall;  // send the call's own bytes after the held ones
} HeaderGather;
int ParseJobHeader(PPortEntry pPort, LPBYTE pData, DWORD cbData, HeaderGather* pGather);
void StampJobHeader(LPBYTE pPayload, DWORD cbPayload);
void FreeHeaderBuffer(PPortEntry pPort);
void ClearJobHeaderResults(PPortEntry pPort);
// Sends one report; FALSE when it could not be sent (the event log says why).
BOOL SendJobReport(PPortEntry pPort, DWORD dwMessageId, LPCWSTR pszOperation, BOOL bWithDocument);

// ---- Job flow (jobflow.cpp)
BOOL WINAPI JTMXStartDocPort(HANDLE hPort, LPWSTR pPrinterName, DWORD JobId, DWORD Level, LPBYTE pDocInfo);
BOOL WINAPI JTMXWritePort(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuf, LPDWORD pcbWritten);
BOOL WINAPI JTMXEndDocPort(HANDLE hPort);
void SetPortState(PPortEntry pPort, DWORD dwState);
