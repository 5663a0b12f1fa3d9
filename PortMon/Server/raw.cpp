// RAW sending: one TCP connection per job, the job's bytes sent as the spooler writes them.
#include <cstdlib>
#include <cstring>

#include "jtrkmon.h"

// After a send that would block: until the socket's event says it takes more, at most the shortest
// pause. Anything else that is no error (a partial send) goes on at once.
static void PauseForSocket(PPortEntry pPort)
{
    if (!pPort->bSendBlocked)
        return;
    if (WSAWaitForMultipleEvents(1, &pPort->SockEvent, FALSE, RETRY_MIN_SLEEP_MS, FALSE) == WSA_WAIT_FAILED)
        MonSleep(RETRY_MIN_SLEEP_MS);
}

// The retry rule after every failed or incomplete round. A real error counts against RetryCount
// and waits RetryInterval; a blocked send waits for the socket, at most the shortest pause.
int OnOccurError(LPDWORD pdwCounter, int nError, PPortEntry pPort)
{
    BOOL bRealError = pPort->hSocket == INVALID_SOCKET || (nError != 0 && nError != WSAEWOULDBLOCK);
    DWORD dwSleep = RETRY_MIN_SLEEP_MS;
    if (!bRealError)
        PauseForSocket(pPort);
    else if (*pdwCounter < pPort->dwRetryCount)
        (*pdwCounter)++;
    else if (pPort->dwRetryInfinity == 0)
        return RAW_RETRY_OVER;
    else
        *pdwCounter = 0;
    DWORD dwStatus = GetJobStatus(pPort->hPrinter, pPort->dwJobId);
    if (bRealError) {
        // The counter before this round (0 after a wrap) is below RetryCount unless RetryCount is 0.
        if (pPort->dwRetryCount > 0 && pPort->dwRetryInterval * 1000 > dwSleep)
            dwSleep = pPort->dwRetryInterval * 1000;
        MonSleep(dwSleep);
    }
    if (dwStatus & JOB_STATUS_DELETING)
        return RAW_JOB_CANCELLED;
    if (dwStatus & JOB_STATUS_PAUSED)
        return RAW_JOB_PAUSED;
    return RAW_RETRY;
}

// The RAW connect loop. Connect attempts do not wait RetryInterval between them: each already waits
// up to that long for its connect event.
BOOL Open(PPortEntry pPort, int* pCode, int* pError)
{
    struct sockaddr_in address;
    if (!GetServerAddress(pPort->pszServerName, &address)) {
        *pCode = RAW_BAD_ADDRESS;
        return FALSE;
    }
    pPort->dwRetryInterval = 0;
    DWORD dwCounter = 0;
    int nCode;
    do {
        int nError = 0;
        pPort->dwIPAddress = address.sin_addr.s_addr;
        address.sin_port = htons((USHORT)pPort->dwPortNumber);
        if (TcpOpen(pPort, &address, &nError) != INVALID_SOCKET) {
            nCode = RAW_SUCCESS;
            break;
        }
        *pError = nError;
        nCode = OnOccurError(&dwCounter, nError, pPort);
    } while (nCode == RAW_RETRY);
    pPort->dwRetryInterval = pPort->dwSavedRetryInterval;
    *pCode = nCode;
    if (nCode != RAW_SUCCESS)
        return FALSE;
    int cbSendBuffer = TCP_SEND_BUFFER_SIZE;
    setsockopt(pPort->hSocket, SOL_SOCKET, SO_SNDBUF, (const char*)&cbSendBuffer, sizeof(cbSendBuffer));
    return TRUE;
}

// Waits until the socket takes data: TRUE to send, else FALSE with the retry rule's decision.
static BOOL AwaitWritable(PPortEntry pPort, LPDWORD pdwCounter, int* pCode, int* pError)
{
    if (pPort->bConnectReady) {
        pPort->bConnectReady = FALSE;
        return TRUE;
    }
    int nError = 0;
    int nEvent = GetRawSendSockEvent(pPort, &nError, pPort->dwWSAEventTimeout);
    if (nEvent == FD_WRITE)
        return TRUE;
    if (nEvent == -1 || nEvent == FD_CLOSE) {
        AbortClose(pPort);
        *pError = WSAECONNABORTED;
        *pCode = RAW_RETRY_OVER;
        return FALSE;
    }
    *pError = nError;
    *pCode = OnOccurError(pdwCounter, nError, pPort);
    return FALSE;
}

// The RAW send loop: sends every byte, the retry rule deciding after each incomplete round.
BOOL SendData(const BYTE* pData, DWORD cbData, int* pCode, int* pError, PPortEntry pPort)
{
    DWORD dwCounter = 0;
    int nCode;
    do {
        if (!AwaitWritable(pPort, &dwCounter, &nCode, pError))
            continue;
        int cbSent = send(pPort->hSocket, (const char*)pData, (int)cbData, 0);
        pPort->bSendBlocked = cbSent == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK;
        if (cbSent == SOCKET_ERROR) {
            *pError = WSAGetLastError();
            nCode = OnOccurError(&dwCounter, *pError, pPort);
        } else if ((DWORD)cbSent == cbData) {
            nCode = RAW_SUCCESS;
        } else {
            pData += cbSent;
            cbData -= (DWORD)cbSent;
            nCode = OnOccurError(&dwCounter, 0, pPort);
        }
    } while (nCode == RAW_RETRY);
    *pCode = nCode;
    return nCode == RAW_SUCCESS;
}

// Releases the job's hold on the port; complete marks the job sent and closes its printer handle.
void JobDelete(PPortEntry pPort, BOOL bComplete)
{
    if (bComplete && pPort->hPrinter != INVALID_HANDLE_VALUE)
        g_MonSys.pfnSetJobW(pPort->hPrinter, pPort->dwJobId, 0, NULL, JOB_CONTROL_SENT_TO_PRINTER);
    if (pPort->dwFlags & CONN_OPENED) {
        if (pPort->countdown > 0)
            pPort->countdown--;
        pPort->dwFlags &= ~(DWORD)(CONN_OPENED | CONN_ESTABLISHED);
    }
    if (bComplete && pPort->hPrinter != INVALID_HANDLE_VALUE) {
        g_MonSys.pfnClosePrinter(pPort->hPrinter);
        pPort->hPrinter = INVALID_HANDLE_VALUE;
    }
}

BOOL RawOpenPort(PPortEntry pPort)
{
    return StartPortNetwork(pPort, W("RawOpenPort"));
}

BOOL RawClosePort(PPortEntry pPort)
{
    return StopPortNetwork(pPort, W("RawClosePort"));
}

BOOL RawStartDocPort(PPortEntry pPort, LPCWSTR pszPrinterName, DWORD dwJobId)
{
    MonTraceIn(W("RawStartDocPort"));
    if (pPort->dwFlags != 0)
        return MonTraceOutBool(W("RawStartDocPort"), FALSE);
    pPort->dwFlags = 0;
    pPort->ullSpooledBytes = 0;
    pPort->dwJobId = dwJobId;
    pPort->hPrinter = OpenJobPrinter(pszPrinterName);
    if (pPort->hPrinter != INVALID_HANDLE_VALUE && !IsDirectPrinter(pPort->hPrinter) &&
        IsTrueJob(pPort->hPrinter, dwJobId))
        return MonTraceOutBool(W("RawStartDocPort"), TRUE);
    int nError = 0;
    Close(&nError, pPort);
    JobDelete(pPort, TRUE);
    SetLastError(ERROR_INVALID_PARAMETER);
    return MonTraceOutBool(W("RawStartDocPort"), FALSE);
}

// dwJobBufSize follows the larger of the job's size and the bytes sent.
static void UpdateJobBufSize(PPortEntry pPort)
{
    DWORD dwJobSize = GetJobSize(pPort->hPrinter, pPort->dwJobId);
    if (pPort->dwJobBufSize < dwJobSize)
        pPort->dwJobBufSize = dwJobSize;
    else if (pPort->dwJobBufSize < pPort->ullSpooledBytes)
        pPort->dwJobBufSize = (DWORD)(pPort->ullSpooledBytes < 0xFFFFFFFF ? pPort->ullSpooledBytes : 0xFFFFFFFF);
}

// Connects at the job's first write, then sends.
static BOOL ConnectAndSend(PPortEntry pPort, const BYTE* pData, DWORD cbData, int* pCode, int* pError)
{
    if (!(pPort->dwFlags & CONN_OPENED)) {
        pPort->dwFlags |= CONN_OPENED;
        pPort->countdown++;
        if (!Open(pPort, pCode, pError))
            return FALSE;
        pPort->dwFlags |= CONN_ESTABLISHED;
    }
    return SendData(pData, cbData, pCode, pError, pPort);
}

BOOL RawWritePort(PPortEntry pPort, const BYTE* pData, DWORD cbData, LPDWORD pcbWritten, int* pError)
{
    MonTraceIn(W("RawWritePort"));
    UpdateJobBufSize(pPort);
    int nCode = RAW_RETRY_OVER;
    int nError = 0;
    if (ConnectAndSend(pPort, pData, cbData, &nCode, &nError)) {
        *pcbWritten = cbData;
        pPort->ullSpooledBytes += cbData;
        return MonTraceOutBool(W("RawWritePort"), TRUE);
    }
    *pcbWritten = 0;
    int nCloseError = 0;
    Close(&nCloseError, pPort);
    if (nCode == RAW_JOB_PAUSED)
        g_MonSys.pfnSetJobW(pPort->hPrinter, pPort->dwJobId, 0, NULL, JOB_CONTROL_RESTART);
    JobDelete(pPort, FALSE);
    if (nCode == RAW_JOB_CANCELLED || nCode == RAW_JOB_PAUSED)
        return MonTraceOutBool(W("RawWritePort"), TRUE);
    *pError = nError;
    return MonTraceOutBool(W("RawWritePort"), FALSE);
}

BOOL RawEndDocPort(PPortEntry pPort)
{
    MonTraceIn(W("RawEndDocPort"));
    if (pPort->dwJobId == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return MonTraceOutBool(W("RawEndDocPort"), FALSE);
    }
    DWORD dwPrinterStatus = GetPrinterStatus(pPort->hPrinter);
    DWORD dwJobStatus = GetJobStatus(pPort->hPrinter, pPort->dwJobId);
    if (!(dwPrinterStatus & PRINTER_STATUS_PENDING_DELETION) &&
        !(dwJobStatus & (JOB_STATUS_DELETING | JOB_STATUS_DELETED | JOB_STATUS_PAUSED | JOB_STATUS_RESTART)))
        UpdateJobBufSize(pPort);
    int nError = 0;
    Close(&nError, pPort);
    JobDelete(pPort, TRUE);
    return MonTraceOutBool(W("RawEndDocPort"), TRUE);
}
