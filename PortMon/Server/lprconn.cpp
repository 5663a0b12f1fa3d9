// The LPR connection: the connect from a reserved local port, the graceful close and the retry rules.
#include <cstring>

#include "lpr.h"

// ---- Job and printer state

DWORD LprJobStatus(PPortEntry pPort)
{
    return GetJobStatus(pPort->hPrinter, pPort->dwJobId);
}

// The job is being deleted or is gone, or its printer is being deleted.
BOOL IsPrinterGone(PPortEntry pPort)
{
    return (LprJobStatus(pPort) & (JOB_STATUS_DELETING | JOB_STATUS_DELETED)) ||
           (GetPrinterStatus(pPort->hPrinter) & PRINTER_STATUS_PENDING_DELETION);
}

// A wait of 0 ms is a poll; rounds that would otherwise spin wait for the event a little.
DWORD LprEventRound(const PortEntry* pPort)
{
    if (pPort->dwWSAEventTimeout == 0 && (pPort->bSendBlocked || pPort->dwLprRecvCount == 0))
        return LPR_MIN_WAIT_MS;
    return pPort->dwWSAEventTimeout;
}

// ---- Retry rules

static int ApplyRetryRule(PPortEntry pPort, LPDWORD pdwCounter, BOOL bRealError)
{
    if (bRealError) {
        if (*pdwCounter < pPort->dwRetryCount) {
            (*pdwCounter)++;
        } else {
            *pdwCounter = 0;
            if (pPort->dwRetryInfinity == 0)
                return LPR_ERR_RETRY_OVER;
        }
    }
    DWORD dwStatus = LprJobStatus(pPort);
    // The counter before this round (0 after a wrap) is below RetryCount unless RetryCount is 0.
    if (bRealError && pPort->dwRetryCount > 0)
        MonSleep(pPort->dwRetryInterval * 1000);
    if (dwStatus & JOB_STATUS_DELETING)
        return LPR_ERR_CANCEL;
    if (dwStatus & JOB_STATUS_PAUSED)
        return LPR_ERR_PAUSED;
    return LPR_ERR_GO_ON;
}

// Data and files: with a socket open, 0 and WSAEWOULDBLOCK are no real errors.
int LprError(PPortEntry pPort, LPDWORD pdwCounter, int nError)
{
    BOOL bReal = pPort->hSocket == INVALID_SOCKET || (nError != 0 && nError != WSAEWOULDBLOCK);
    return ApplyRetryRule(pPort, pdwCounter, bReal);
}

// Commands: 0, WSAEWOULDBLOCK and WSA_SELECTTIMEOUT are no real errors.
int LprErrorCmd(PPortEntry pPort, LPDWORD pdwCounter, int nError)
{
    BOOL bReal = nError != 0 && nError != WSAEWOULDBLOCK && nError != WSA_SELECTTIMEOUT;
    return ApplyRetryRule(pPort, pdwCounter, bReal);
}

// After a refused acknowledgement: the connection is closed and the job watched for LprRetryTimeout
// seconds. RetryInfinity set stops after LprRetryCount refusals in a row; 0 starts counting again.
int LprRetryDecision(PPortEntry pPort)
{
    MonTraceIn(W("LprRetryDecision"));
    LprGracefulClose(pPort);
    for (DWORD dwRound = 0; dwRound < (pPort->dwLprRetryTimeout + 1) / 2; dwRound++) {
        MonSleep(LPR_RETRY_ROUND_MS);
        if (IsPrinterGone(pPort))
            return (int)MonTraceOutCode(W("LprRetryDecision"), LPR_ERR_CANCEL);
        if (LprJobStatus(pPort) & JOB_STATUS_PAUSED)
            return (int)MonTraceOutCode(W("LprRetryDecision"), LPR_ERR_PAUSED);
    }
    if (++pPort->dwLprRetryCounter <= pPort->dwLprRetryCount)
        return (int)MonTraceOutCode(W("LprRetryDecision"), LPR_ERR_GO_ON);
    pPort->dwLprRetryCounter = 0;
    return (int)MonTraceOutCode(W("LprRetryDecision"), pPort->dwRetryInfinity ? LPR_ERR_RETRY_OVER : LPR_ERR_GO_ON);
}

// ---- Connect

BOOL LpGetServerAddress2(const PortEntry* pPort, struct sockaddr_in* pAddress)
{
    if (!GetServerAddress(pPort->pszServerName, pAddress))
        return FALSE;
    pAddress->sin_port = htons(LPR_SERVER_PORT);
    return TRUE;
}

void LprSetSendBuffer(PPortEntry pPort)
{
    int cbSendBuffer = TCP_SEND_BUFFER_SIZE;
    setsockopt(pPort->hSocket, SOL_SOCKET, SO_SNDBUF, (const char*)&cbSendBuffer, sizeof(cbSendBuffer));
}

typedef enum _LocalPortResult {
    LOCAL_CONNECTED,
    LOCAL_NEXT_PORT,  // busy: try the next reserved port
    LOCAL_EPHEMERAL,  // reserved ports refused for lack of privilege
    LOCAL_FAILED,
} LocalPortResult;

// Waits for the connect, watching the job between rounds.
static LocalPortResult AwaitLprConnect(PPortEntry pPort, DWORD dwRefusedSleep, int* pError)
{
    DWORD dwRound = pPort->dwSavedRetryInterval ? pPort->dwSavedRetryInterval * 1000 : LPR_MIN_WAIT_MS;
    for (;;) {
        int nError = 0;
        int nEvents = GetLprSockEvent(pPort, &nError, dwRound);
        if (nEvents > 0 && (nEvents & (FD_CONNECT | FD_WRITE))) {
            pPort->bConnectReady = TRUE;
            return LOCAL_CONNECTED;
        }
        if (nEvents == -1 && nError != WSAEWOULDBLOCK) {
            *pError = nError;
            AbortClose(pPort);
            if (nError == WSAEADDRINUSE)
                return LOCAL_NEXT_PORT;
            // A refusal that arrives through FD_CONNECT pauses like an immediate one.
            if (nError == WSAECONNREFUSED)
                MonSleep(dwRefusedSleep);
            return LOCAL_FAILED;
        }
        if (IsJobStopping(pPort)) {
            AbortClose(pPort);
            return LOCAL_FAILED;
        }
    }
}

// Connects the socket; a connect that fails at once closes it.
static LocalPortResult StartLprConnect(PPortEntry pPort, SOCKET hSocket, const struct sockaddr_in* pAddress,
                                       BOOL bReserved, int* pError)
{
    if (WSAEventSelect(hSocket, pPort->SockEvent, LPR_EVENT_MASK) == SOCKET_ERROR) {
        *pError = WSAGetLastError();
        closesocket(hSocket);
        return LOCAL_FAILED;
    }
    pPort->hSocket = hSocket;
    pPort->lNetworkEvents = 0;
    pPort->bConnectReady = FALSE;
    pPort->bSendBlocked = FALSE;
    DWORD dwFailSleep = bReserved ? LPR_BUSY_CONNECT_SLEEP_MS : pPort->dwSavedRetryInterval * 1000;
    if (connect(hSocket, (const struct sockaddr*)pAddress, sizeof(*pAddress)) == SOCKET_ERROR) {
        int nError = WSAGetLastError();
        if (nError != WSAEWOULDBLOCK) {
            *pError = nError;
            AbortClose(pPort);
            if (bReserved && nError == WSAEADDRINUSE)
                return LOCAL_NEXT_PORT;
            MonSleep(dwFailSleep);
            return LOCAL_FAILED;
        }
    }
    return AwaitLprConnect(pPort, dwFailSleep, pError);
}

static LocalPortResult ConnectFromReservedPort(PPortEntry pPort, USHORT usLocalPort,
                                               const struct sockaddr_in* pAddress, int* pError)
{
    SOCKET hSocket = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (hSocket == INVALID_SOCKET) {
        *pError = WSAGetLastError();
        return LOCAL_FAILED;
    }
    struct sockaddr_in local;
    memset(&local, 0, sizeof(local));
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = htons(usLocalPort);
    if (g_MonSys.pfnBind(hSocket, (const struct sockaddr*)&local, sizeof(local)) == SOCKET_ERROR) {
        *pError = WSAGetLastError();
        closesocket(hSocket);
        if (*pError == WSAEACCES)
            return LOCAL_EPHEMERAL;
        if (*pError != WSAEADDRINUSE || IsJobStopping(pPort))
            return LOCAL_FAILED;
        return LOCAL_NEXT_PORT;
    }
    return StartLprConnect(pPort, hSocket, pAddress, TRUE, pError);
}

static SOCKET ConnectFromEphemeralPort(PPortEntry pPort, const struct sockaddr_in* pAddress, int* pError)
{
    SOCKET hSocket = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (hSocket == INVALID_SOCKET) {
        *pError = WSAGetLastError();
        return INVALID_SOCKET;
    }
    return StartLprConnect(pPort, hSocket, pAddress, FALSE, pError) == LOCAL_CONNECTED ? pPort->hSocket
                                                                                       : INVALID_SOCKET;
}

// Connects from the first free local port of 721 to 731, as RFC 1179 asks; when all are busy, or the
// process may not bind them, from an ephemeral port.
SOCKET LpTcpOpen(PPortEntry pPort, const struct sockaddr_in* pAddress, int* pError)
{
    for (USHORT usPort = LPR_FIRST_LOCAL_PORT; usPort <= LPR_LAST_LOCAL_PORT; usPort++) {
        LocalPortResult result = ConnectFromReservedPort(pPort, usPort, pAddress, pError);
        if (result == LOCAL_CONNECTED)
            return pPort->hSocket;
        if (result == LOCAL_FAILED)
            return INVALID_SOCKET;
        if (result == LOCAL_EPHEMERAL)
            break;
    }
    return ConnectFromEphemeralPort(pPort, pAddress, pError);
}

// ---- Close

// Until the device answers our close with data or its own close, or the job is cancelled, bounded
// and paced by LprRecvCount and LprRecvInterval. TRUE when the job was cancelled meanwhile.
static BOOL AwaitLprPeerClose(PPortEntry pPort)
{
    DWORD dwRound = LprEventRound(pPort);
    for (DWORD dwRounds = 0; !(pPort->lNetworkEvents & FD_CLOSE); dwRounds++) {
        int nError = 0;
        int nEvents = GetLprSockEvent(pPort, &nError, dwRound);
        if (nEvents > 0 && (nEvents & (FD_READ | FD_CLOSE)))
            return FALSE;
        if (nEvents == -1 && nError != WSAEWOULDBLOCK && nError != WSAETIMEDOUT)
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

void LprGracefulClose(PPortEntry pPort)
{
    if (pPort->hSocket == INVALID_SOCKET)
        return;
    int nError = 0;
    if (IsJobCancelled(pPort) || (ShutdownAndDrain(pPort, &nError) && AwaitLprPeerClose(pPort)))
        ResetClose(pPort);
    else
        CloseSocketRetrying(pPort);
}
