// The event-driven TCP layer of a port entry and the spooler queries of the job path.
#include <clocale>
#include <cstdlib>
#include <cstring>

#include "jtrkmon.h"

#define SERVER_NAME_MAX_CHARS 2050
#define SERVER_NAME_MAX_BYTES 1024

void MonSleep(DWORD dwMilliseconds)
{
    g_MonSys.pfnSleep(dwMilliseconds);
}

// ---- Network start and clean-up, balanced per port entry

int TcpStartup(PPortEntry pPort)
{
    if (pPort->bNetworkStarted)
        return 0;
    WSADATA wsaData;
    int nError = WSAStartup(MAKEWORD(2, 2), &wsaData);
    if (nError != 0)
        return nError;
    pPort->SockEvent = WSACreateEvent();
    if (pPort->SockEvent == WSA_INVALID_EVENT) {
        nError = WSAGetLastError();
        WSACleanup();
        return nError ? nError : WSAENOBUFS;
    }
    pPort->bNetworkStarted = TRUE;
    return 0;
}

void TcpCleanup(PPortEntry pPort)
{
    if (!pPort->bNetworkStarted)
        return;
    if (pPort->hSocket != INVALID_SOCKET)
        AbortClose(pPort);
    if (pPort->SockEvent != WSA_INVALID_EVENT) {
        WSACloseEvent(pPort->SockEvent);
        pPort->SockEvent = WSA_INVALID_EVENT;
    }
    WSACleanup();
    pPort->bNetworkStarted = FALSE;
}

// OpenPort's network start of a RAW or LPR port, traced under the caller's name.
BOOL StartPortNetwork(PPortEntry pPort, LPCWSTR pszTraceName)
{
    MonTraceIn(pszTraceName);
    if (TcpStartup(pPort) != 0) {
        SetLastError(ERROR_UNEXP_NET_ERR);
        return MonTraceOutBool(pszTraceName, FALSE);
    }
    return MonTraceOutBool(pszTraceName, TRUE);
}

BOOL StopPortNetwork(PPortEntry pPort, LPCWSTR pszTraceName)
{
    MonTraceIn(pszTraceName);
    TcpCleanup(pPort);
    return MonTraceOutBool(pszTraceName, TRUE);
}

// ---- Addresses

// ServerName must be a dotted IPv4 address: host names are not resolved.
BOOL GetServerAddress(LPCWSTR pszServerName, struct sockaddr_in* pAddress)
{
    WCHAR wszName[SERVER_NAME_MAX_CHARS + 1];
    char szName[SERVER_NAME_MAX_BYTES + 1];
    if (!pszServerName || StringCchCopyW(wszName, _countof(wszName), pszServerName) != S_OK)
        return FALSE;
    _locale_t locale = _create_locale(LC_ALL, MON_TEXT_LOCALE);
    if (!locale)
        return FALSE;
    size_t cbName = _wcstombs_l(szName, wszName, SERVER_NAME_MAX_BYTES, locale);
    _free_locale(locale);
    if (cbName == (size_t)-1 || cbName >= SERVER_NAME_MAX_BYTES)
        return FALSE;
    szName[cbName] = '\0';
    memset(pAddress, 0, sizeof(*pAddress));
    pAddress->sin_family = AF_INET;
    return inet_pton(AF_INET, szName, &pAddress->sin_addr) == 1;
}

// ---- Event waits

// Waits on the port's socket event and takes the recorded network events; FALSE (with the error)
// when the wait or the enumeration fails. *pbTimedOut tells a wait that ran out.
static BOOL WaitSockEvent(PPortEntry pPort, DWORD dwTimeout, WSANETWORKEVENTS* pEvents, BOOL* pbTimedOut,
                          int* pError)
{
    memset(pEvents, 0, sizeof(*pEvents));
    DWORD dwWait = WSAWaitForMultipleEvents(1, &pPort->SockEvent, FALSE, dwTimeout, FALSE);
    *pbTimedOut = dwWait == WSA_WAIT_TIMEOUT;
    if (dwWait == WSA_WAIT_FAILED) {
        *pError = WSAGetLastError();
        return FALSE;
    }
    if (WSAEnumNetworkEvents(pPort->hSocket, pPort->SockEvent, pEvents) == SOCKET_ERROR) {
        *pError = WSAGetLastError();
        return FALSE;
    }
    pPort->lNetworkEvents |= pEvents->lNetworkEvents;
    return TRUE;
}

typedef struct _EventOrder {
    LONG lEvent;
    int nBit;
} EventOrder;

// The first event of the order that is present: its value, or -1 with its error.
static int FirstEvent(const WSANETWORKEVENTS* pEvents, const EventOrder* pOrder, size_t cOrder, int* pError)
{
    for (size_t i = 0; i < cOrder; i++) {
        if (!(pEvents->lNetworkEvents & pOrder[i].lEvent))
            continue;
        if (pEvents->iErrorCode[pOrder[i].nBit] != 0) {
            *pError = pEvents->iErrorCode[pOrder[i].nBit];
            return -1;
        }
        return (int)pOrder[i].lEvent;
    }
    return 0;
}

int GetRawSockEvent(PPortEntry pPort, int* pError, DWORD dwTimeout)
{
    static const EventOrder order[] = {
        {FD_READ, FD_READ_BIT}, {FD_CONNECT, FD_CONNECT_BIT}, {FD_CLOSE, FD_CLOSE_BIT}, {FD_WRITE, FD_WRITE_BIT}};
    WSANETWORKEVENTS events;
    BOOL bTimedOut = FALSE;
    if (!WaitSockEvent(pPort, dwTimeout, &events, &bTimedOut, pError))
        return -1;
    return FirstEvent(&events, order, _countof(order), pError);
}

// The send waits of RAW and LPR differ only in the order in which they report the events.
static int SendSockEvent(PPortEntry pPort, int* pError, DWORD dwTimeout, const EventOrder* pOrder, size_t cOrder)
{
    if (pPort->hSocket == INVALID_SOCKET) {
        *pError = WSAEINVAL;
        return -1;
    }
    WSANETWORKEVENTS events;
    BOOL bTimedOut = FALSE;
    if (!WaitSockEvent(pPort, dwTimeout, &events, &bTimedOut, pError))
        return -1;
    int nEvent = FirstEvent(&events, pOrder, cOrder, pError);
    // With nothing to report, a wait that ran out means the socket can take more.
    if (nEvent == 0 && bTimedOut)
        return FD_WRITE;
    return nEvent;
}

int GetRawSendSockEvent(PPortEntry pPort, int* pError, DWORD dwTimeout)
{
    static const EventOrder order[] = {
        {FD_CONNECT, FD_CONNECT_BIT}, {FD_CLOSE, FD_CLOSE_BIT}, {FD_WRITE, FD_WRITE_BIT}};
    return SendSockEvent(pPort, pError, dwTimeout, order, _countof(order));
}

int GetLprSendSockEvent(PPortEntry pPort, int* pError, DWORD dwTimeout)
{
    static const EventOrder order[] = {
        {FD_CONNECT, FD_CONNECT_BIT}, {FD_WRITE, FD_WRITE_BIT}, {FD_CLOSE, FD_CLOSE_BIT}};
    return SendSockEvent(pPort, pError, dwTimeout, order, _countof(order));
}

// Every event seen, or -1 with the first error among the events present.
int GetLprSockEvent(PPortEntry pPort, int* pError, DWORD dwTimeout)
{
    static const EventOrder order[] = {
        {FD_CONNECT, FD_CONNECT_BIT}, {FD_READ, FD_READ_BIT}, {FD_WRITE, FD_WRITE_BIT}, {FD_CLOSE, FD_CLOSE_BIT}};
    WSANETWORKEVENTS events;
    BOOL bTimedOut = FALSE;
    if (!WaitSockEvent(pPort, dwTimeout, &events, &bTimedOut, pError))
        return -1;
    for (size_t i = 0; i < _countof(order); i++) {
        if ((events.lNetworkEvents & order[i].lEvent) && events.iErrorCode[order[i].nBit] != 0) {
            *pError = events.iErrorCode[order[i].nBit];
            return -1;
        }
    }
    return (int)events.lNetworkEvents;
}

// ---- Connect

BOOL IsJobStopping(const PortEntry* pPort)
{
    return (GetJobStatus(pPort->hPrinter, pPort->dwJobId) & (JOB_STATUS_DELETING | JOB_STATUS_PAUSED)) != 0;
}

// Closes the socket of a connect that did not complete.
static SOCKET FailConnect(PPortEntry pPort)
{
    AbortClose(pPort);
    return INVALID_SOCKET;
}

// Waits for the connect to complete, watching the job between rounds.
static SOCKET AwaitConnect(PPortEntry pPort, int* pError)
{
    // A zero interval would poll without pause; a round then lasts the retry rule's shortest sleep.
    DWORD dwRound = pPort->dwSavedRetryInterval ? pPort->dwSavedRetryInterval * 1000 : RETRY_MIN_SLEEP_MS;
    for (;;) {
        int nError = 0;
        int nEvent = GetRawSockEvent(pPort, &nError, dwRound);
        if (nEvent == FD_WRITE || nEvent == FD_CONNECT) {
            pPort->bConnectReady = TRUE;
            return pPort->hSocket;
        }
        if (nEvent == -1 && nError != WSAEWOULDBLOCK) {
            *pError = nError;
            // A refusal that arrives through FD_CONNECT pauses like an immediate one.
            if (nError == WSAECONNREFUSED)
                MonSleep(REFUSED_CONNECT_SLEEP_MS);
            return FailConnect(pPort);
        }
        if (IsJobStopping(pPort))
            return FailConnect(pPort);
    }
}

SOCKET TcpOpen(PPortEntry pPort, const struct sockaddr_in* pAddress, int* pError)
{
    if (IsJobStopping(pPort))
        return INVALID_SOCKET;
    SOCKET hSocket = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (hSocket == INVALID_SOCKET) {
        *pError = WSAGetLastError();
        return INVALID_SOCKET;
    }
    if (WSAEventSelect(hSocket, pPort->SockEvent, RAW_EVENT_MASK) == SOCKET_ERROR) {
        *pError = WSAGetLastError();
        closesocket(hSocket);
        return INVALID_SOCKET;
    }
    pPort->lNetworkEvents = 0;
    pPort->bConnectReady = FALSE;
    pPort->bSendBlocked = FALSE;
    if (connect(hSocket, (const struct sockaddr*)pAddress, sizeof(*pAddress)) == SOCKET_ERROR) {
        int nError = WSAGetLastError();
        if (nError != WSAEWOULDBLOCK) {
            *pError = nError;
            MonSleep(REFUSED_CONNECT_SLEEP_MS);
            closesocket(hSocket);
            return INVALID_SOCKET;
        }
    }
    pPort->hSocket = hSocket;
    return AwaitConnect(pPort, pError);
}

// ---- Close

void AbortClose(PPortEntry pPort)
{
    if (pPort->hSocket == INVALID_SOCKET)
        return;
    closesocket(pPort->hSocket);
    pPort->hSocket = INVALID_SOCKET;
}

// Waits for the device to close its side: until FD_CLOSE, a hard error or the job's cancel, the
// rounds bounded and paced by LprRecvCount and LprRecvInterval. TRUE when the job was cancelled
// meanwhile: a device that never reads would otherwise hold the port for all the rounds.
static BOOL AwaitPeerClose(PPortEntry pPort)
{
    DWORD dwRound = pPort->dwWSAEventTimeout;
    if (pPort->dwLprRecvCount == 0 && dwRound == 0)
        dwRound = RETRY_MIN_SLEEP_MS;  // unbounded rounds must not spin
    for (DWORD dwRounds = 0; !(pPort->lNetworkEvents & FD_CLOSE); dwRounds++) {
        int nError = 0;
        int nEvent = GetRawSockEvent(pPort, &nError, dwRound);
        if (nEvent == FD_CLOSE || (pPort->lNetworkEvents & FD_CLOSE))
            return FALSE;
        if (nEvent == -1 && nError != WSAEWOULDBLOCK && nError != WSAETIMEDOUT)
            return FALSE;
        if (IsJobCancelled(pPort))
            return TRUE;
        if (pPort->dwLprRecvCount != 0) {
            if (dwRounds + 1 > pPort->dwLprRecvCount)
                return FALSE;
            MonSleep(pPort->dwLprRecvInterval);
        }
    }
    return FALSE;
}

void CloseSocketRetrying(PPortEntry pPort)
{
    while (closesocket(pPort->hSocket) == SOCKET_ERROR) {
        int nError = WSAGetLastError();
        if (nError != WSAEWOULDBLOCK && nError != 0)
            break;
    }
    pPort->hSocket = INVALID_SOCKET;
}

// Our side of a graceful close: no more sends, unread data dropped. FALSE (with the error) when a
// shutdown fails; the socket then stays open.
BOOL ShutdownAndDrain(PPortEntry pPort, int* pError)
{
    if (shutdown(pPort->hSocket, SD_SEND) == SOCKET_ERROR) {
        *pError = WSAGetLastError();
        return FALSE;
    }
    char chunk[TCP_CLOSE_CHUNK];
    while (recv(pPort->hSocket, chunk, sizeof(chunk), 0) > 0) {
    }
    if (shutdown(pPort->hSocket, SD_BOTH) == SOCKET_ERROR) {
        *pError = WSAGetLastError();
        return FALSE;
    }
    return TRUE;
}

BOOL IsJobCancelled(const PortEntry* pPort)
{
    return (GetJobStatus(pPort->hPrinter, pPort->dwJobId) & (JOB_STATUS_DELETING | JOB_STATUS_DELETED)) != 0;
}

void ResetClose(PPortEntry pPort)
{
    struct linger reset = {1, 0};
    setsockopt(pPort->hSocket, SOL_SOCKET, SO_LINGER, (const char*)&reset, sizeof(reset));
    CloseSocketRetrying(pPort);
}

// Graceful close: our side first, then the device's; a cancelled job's connection is reset.
int Close(int* pError, PPortEntry pPort)
{
    if (pPort->hSocket == INVALID_SOCKET)
        return 0;
    if (IsJobCancelled(pPort)) {
        ResetClose(pPort);
        return 0;
    }
    if (!ShutdownAndDrain(pPort, pError))
        return -1;
    if (AwaitPeerClose(pPort))
        ResetClose(pPort);
    else
        CloseSocketRetrying(pPort);
    return 0;
}

// ---- Spooler queries

// GetJobW at a level into a buffer of the needed size; NULL when it fails.
LPBYTE QueryJob(HANDLE hPrinter, DWORD dwJobId, DWORD dwLevel)
{
    DWORD cbNeeded = 0;
    g_MonSys.pfnGetJobW(hPrinter, dwJobId, dwLevel, NULL, 0, &cbNeeded);
    if (cbNeeded == 0)
        return NULL;
    LPBYTE pJob = (LPBYTE)malloc(cbNeeded);
    if (pJob && !g_MonSys.pfnGetJobW(hPrinter, dwJobId, dwLevel, pJob, cbNeeded, &cbNeeded)) {
        free(pJob);
        return NULL;
    }
    return pJob;
}

DWORD GetJobStatus(HANDLE hPrinter, DWORD dwJobId)
{
    if (hPrinter == INVALID_HANDLE_VALUE)
        return 0;
    LPBYTE pJob = QueryJob(hPrinter, dwJobId, 1);
    DWORD dwStatus = pJob ? ((PJOB_INFO_1W)pJob)->Status : 0;
    free(pJob);
    return dwStatus;
}

DWORD GetJobSize(HANDLE hPrinter, DWORD dwJobId)
{
    DWORD cbNeeded = 0;
    g_MonSys.pfnGetJobW(hPrinter, dwJobId, 2, NULL, 0, &cbNeeded);
    LPBYTE pJob = cbNeeded ? (LPBYTE)malloc(cbNeeded) : NULL;
    if (!pJob)
        return 0;
    DWORD dwSize = g_MonSys.pfnGetJobW(hPrinter, dwJobId, 2, pJob, cbNeeded, &cbNeeded) ? ((PJOB_INFO_2W)pJob)->Size
                                                                                        : 0xFFFFFFFF;
    free(pJob);
    return dwSize;
}

DWORD GetPrinterStatus(HANDLE hPrinter)
{
    DWORD cbNeeded = 0;
    g_MonSys.pfnGetPrinterW(hPrinter, 2, NULL, 0, &cbNeeded);
    LPBYTE pInfo = cbNeeded ? (LPBYTE)malloc(cbNeeded) : NULL;
    if (!pInfo)
        return 0;
    DWORD dwStatus = g_MonSys.pfnGetPrinterW(hPrinter, 2, pInfo, cbNeeded, &cbNeeded) ? ((PPRINTER_INFO_2W)pInfo)->Status
                                                                                    : 0;
    free(pInfo);
    return dwStatus;
}

// A job the spooler still holds, not being deleted, with data and a document name.
BOOL IsTrueJob(HANDLE hPrinter, DWORD dwJobId)
{
    LPBYTE pJob = QueryJob(hPrinter, dwJobId, 2);
    if (!pJob)
        return FALSE;
    PJOB_INFO_2W pInfo = (PJOB_INFO_2W)pJob;
    BOOL bTrue = !(pInfo->Status & JOB_STATUS_DELETING) && pInfo->Size != 0 && pInfo->pDocument != NULL;
    free(pJob);
    return bTrue;
}

// The job's printer, opened for the job's lifetime; INVALID_HANDLE_VALUE when every attempt failed.
HANDLE OpenJobPrinter(LPCWSTR pszPrinterName)
{
    for (int nAttempt = 1;; nAttempt++) {
        HANDLE hPrinter = NULL;
        if (g_MonSys.pfnOpenPrinterW((LPWSTR)pszPrinterName, &hPrinter, NULL))
            return hPrinter;
        if (nAttempt == OPEN_PRINTER_ATTEMPTS)
            return INVALID_HANDLE_VALUE;
        MonSleep(OPEN_PRINTER_INTERVAL_MS);
    }
}

// A printer that prints directly to the port bypasses the spooled job this monitor follows.
BOOL IsDirectPrinter(HANDLE hPrinter)
{
    BYTE info[PRINTER_INFO_5_BUFFER_SIZE];
    DWORD cbNeeded = 0;
    if (!g_MonSys.pfnGetPrinterW(hPrinter, 5, info, sizeof(info), &cbNeeded))
        return FALSE;
    PRINTER_INFO_5W printerInfo;
    memcpy(&printerInfo, info, sizeof(printerInfo));
    return (printerInfo.Attributes & PRINTER_ATTRIBUTE_DIRECT) != 0;
}
