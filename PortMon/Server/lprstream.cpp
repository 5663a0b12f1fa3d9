// Streaming LPR: the first write opens the connection and announces a data file of a large fixed
// size; the job's bytes then go out through a 64 KB buffer as they come, and the close ends the file.
#include <cstring>

#include "lpr.h"

// The connection was closed after a refused acknowledgement: open it again from the start.
#define STREAM_REOPEN 2

typedef int (*RetryRule)(PPortEntry pPort, LPDWORD pdwCounter, int nError);

// Sends every byte; the retry rule decides after each incomplete round. LPR_ERR_GO_ON when all went
// out, else the rule's result with the error.
static int StreamSend(PPortEntry pPort, const BYTE* pData, DWORD cbData, RetryRule pfnRule, int* pError)
{
    DWORD dwCounter = 0;
    while (cbData > 0) {
        int nError = 0;
        int nEvent = FD_WRITE;
        if (pPort->bConnectReady)
            pPort->bConnectReady = FALSE;
        else
            nEvent = GetLprSendSockEvent(pPort, &nError, LprEventRound(pPort));
        if (nEvent == -1 || nEvent == FD_CLOSE) {
            AbortClose(pPort);
            *pError = WSAECONNABORTED;
            return LPR_ERR_RETRY_OVER;
        }
        int cbSent = 0;
        if (nEvent == FD_WRITE) {
            cbSent = send(pPort->hSocket, (const char*)pData, (int)cbData, 0);
            nError = cbSent == SOCKET_ERROR ? WSAGetLastError() : 0;
            pPort->bSendBlocked = nError == WSAEWOULDBLOCK;
        }
        if (cbSent > 0) {
            pData += cbSent;
            cbData -= (DWORD)cbSent;
            if (cbData == 0)
                break;
        }
        int nCode = pfnRule(pPort, &dwCounter, nError);
        if (nCode != LPR_ERR_GO_ON) {
            *pError = nError;
            return nCode;
        }
    }
    return LPR_ERR_GO_ON;
}

static int LprSend(PPortEntry pPort, const BYTE* pData, DWORD cbData, int* pError)
{
    MonTraceIn(W("LprSend"));
    return (int)MonTraceOutCode(W("LprSend"), (DWORD)StreamSend(pPort, pData, cbData, LprError, pError));
}

// Closes our side and drops what the device still sends, without waiting for its close.
static void AbortClose2(PPortEntry pPort)
{
    int nError = 0;
    if (pPort->hSocket == INVALID_SOCKET)
        return;
    ShutdownAndDrain(pPort, &nError);
    CloseSocketRetrying(pPort);
}

static int FailAck(PPortEntry pPort, int nError, int* pError)
{
    AbortClose2(pPort);
    *pError = nError;
    return LPR_ERR_RETRY_OVER;
}

// The device's answer to a command or file. The socket is read in every round, so an answer that
// arrives together with the device's close is still taken.
static int CheckAck(PPortEntry pPort, int* pError)
{
    DWORD dwCounter = 0;
    for (DWORD dwRound = 1;; dwRound++) {
        int nError = 0;
        int nEvents = GetLprSockEvent(pPort, &nError, LprEventRound(pPort));
        if (nEvents == -1 && nError != WSAEWOULDBLOCK && nError != WSAETIMEDOUT)
            return FailAck(pPort, nError, pError);
        char answer[LPR_ACK_READ_BYTES];
        int cbRead = recv(pPort->hSocket, answer, sizeof(answer), 0);
        if (cbRead > 0 && answer[0] == 0)
            return LPR_ERR_GO_ON;
        int nCode = LPR_ERR_GO_ON;
        if (cbRead > 0) {
            *pError = answer[0] == 1 ? LPD_NO_SPOOL_SPACE : answer[0] == 2 ? LPD_ERROR : LPD_OTHER_REFUSAL;
            nCode = LprRetryDecision(pPort);
            return nCode == LPR_ERR_GO_ON ? STREAM_REOPEN : nCode;
        }
        if (cbRead == 0 || (nEvents > 0 && (nEvents & FD_CLOSE)))
            return FailAck(pPort, WSAECONNABORTED, pError);
        nError = WSAGetLastError();
        if (nError != WSAEWOULDBLOCK) {
            nCode = LprError(pPort, &dwCounter, nError);
            if (nCode != LPR_ERR_GO_ON) {
                *pError = nError;
                return nCode;
            }
        }
        if (pPort->dwLprCheckJobStatus) {
            if (IsPrinterGone(pPort))
                return LPR_ERR_CANCEL;
            if (LprJobStatus(pPort) & JOB_STATUS_PAUSED)
                return LPR_ERR_PAUSED;
        }
        if (pPort->dwLprRecvCount) {
            if (dwRound > pPort->dwLprRecvCount)
                return FailAck(pPort, WSAECONNABORTED, pError);
            MonSleep(pPort->dwLprRecvInterval);
        }
    }
}

// A command or file and its acknowledgement.
static int SendWithAck(PPortEntry pPort, const void* pData, DWORD cbData, RetryRule pfnRule, int* pError)
{
    int nCode = StreamSend(pPort, (const BYTE*)pData, cbData, pfnRule, pError);
    return nCode == LPR_ERR_GO_ON ? CheckAck(pPort, pError) : nCode;
}

static int TextFailed(int* pError)
{
    *pError = ERROR_INVALID_DATA;
    return LPR_ERR_RETRY_OVER;
}

// Connects, retrying as LprError says.
static int ConnectStream(PPortEntry pPort, int* pError)
{
    struct sockaddr_in address;
    if (!LpGetServerAddress2(pPort, &address)) {
        *pError = WSAEINVAL;
        return LPR_ERR_BAD_ADDRESS;
    }
    pPort->dwRetryInterval = 0;
    DWORD dwCounter = 0;
    int nCode = LPR_ERR_GO_ON;
    while (LpTcpOpen(pPort, &address, pError) == INVALID_SOCKET) {
        nCode = LprError(pPort, &dwCounter, *pError);
        if (nCode != LPR_ERR_GO_ON)
            break;
    }
    pPort->dwRetryInterval = pPort->dwSavedRetryInterval;
    if (nCode == LPR_ERR_GO_ON)
        LprSetSendBuffer(pPort);
    return nCode;
}

// The receive-job command, the control file and the data-file command of unknown size.
static int AnnounceStream(PPortEntry pPort, int* pError)
{
    WCHAR szComputer[LPR_COMPUTER_NAME_CHARS + 1];
    WCHAR szSizeText[LPR_SIZE_TEXT_CHARS];
    LprCommand receiveJob;
    LprCommand controlFile;
    LprCommand dataFile;
    ReadComputerName(szComputer, _countof(szComputer));
    ReadNoByteCountMax(szSizeText, _countof(szSizeText));
    if (!MakeReceiveJobCommand(pPort, &receiveJob) || !PrepareControlFile(pPort) ||
        !MakeControlFileCommand(pPort, szComputer, &controlFile) ||
        !MakeDataFileCommand(0, szSizeText, pPort, szComputer, &dataFile))
        return TextFailed(pError);
    int nCode = SendWithAck(pPort, receiveJob.bytes, receiveJob.cb, LprErrorCmd, pError);
    if (nCode == LPR_ERR_GO_ON)
        nCode = SendWithAck(pPort, controlFile.bytes, controlFile.cb, LprErrorCmd, pError);
    if (nCode == LPR_ERR_GO_ON)
        nCode = SendWithAck(pPort, pPort->szCtrlFile, pPort->dwCtrlFileLen + 1, LprError, pError);
    if (nCode == LPR_ERR_GO_ON)
        nCode = SendWithAck(pPort, dataFile.bytes, dataFile.cb, LprErrorCmd, pError);
    return nCode;
}

// A refused acknowledgement closes the connection; when the retry rule says go on, the job is
// announced again on a new connection (no job data has gone out yet).
static int OpenStream(PPortEntry pPort, int* pError)
{
    int nCode;
    do {
        nCode = ConnectStream(pPort, pError);
        if (nCode == LPR_ERR_GO_ON)
            nCode = AnnounceStream(pPort, pError);
    } while (nCode == STREAM_REOPEN);
    return nCode;
}

// A failed write releases the connection; a cancelled job counts as written, a paused one restarts.
static BOOL StreamFailed(PPortEntry pPort, int nCode, int nError, LPDWORD pcbWritten, int* pError)
{
    *pcbWritten = 0;
    if (nCode == LPR_ERR_PAUSED)
        g_MonSys.pfnSetJobW(pPort->hPrinter, pPort->dwJobId, 0, NULL, JOB_CONTROL_RESTART);
    LPRJobDelete(pPort, FALSE);
    if (nCode == LPR_ERR_CANCEL || nCode == LPR_ERR_PAUSED)
        return TRUE;
    *pError = nError;
    return FALSE;
}

static void RaiseJobBufSize(PPortEntry pPort)
{
    DWORD dwJobSize = GetJobSize(pPort->hPrinter, pPort->dwJobId);
    if (pPort->dwJobBufSize < dwJobSize)
        pPort->dwJobBufSize = dwJobSize;
}

// Buffers the bytes; a full buffer goes out first, and bytes that do not fit an empty buffer go out
// directly.
static int BufferOrSend(PPortEntry pPort, const BYTE* pData, DWORD cbData, int* pError)
{
    if (pPort->dwTmpSplBufLen + cbData > LPR_STREAM_BUFFER_SIZE) {
        if (pPort->dwTmpSplBufLen > 0) {
            int nCode = LprSend(pPort, pPort->pTmpSplBuf, pPort->dwTmpSplBufLen, pError);
            if (nCode != LPR_ERR_GO_ON)
                return nCode;
            pPort->dwTmpSplBufLen = 0;
        }
        if (cbData > LPR_STREAM_BUFFER_SIZE)
            return LprSend(pPort, pData, cbData, pError);
    }
    if (cbData)
        memcpy(pPort->pTmpSplBuf + pPort->dwTmpSplBufLen, pData, cbData);
    pPort->dwTmpSplBufLen += cbData;
    return LPR_ERR_GO_ON;
}

BOOL LprStreamWrite(PPortEntry pPort, const BYTE* pData, DWORD cbData, LPDWORD pcbWritten, int* pError)
{
    int nError = 0;
    if (!(pPort->dwFlags & CONN_OPENED)) {
        pPort->dwFlags |= CONN_OPENED;
        pPort->countdown++;
        int nCode = OpenStream(pPort, &nError);
        if (nCode != LPR_ERR_GO_ON)
            return StreamFailed(pPort, nCode, nError, pcbWritten, pError);
    }
    RaiseJobBufSize(pPort);
    int nCode = BufferOrSend(pPort, pData, cbData, &nError);
    if (nCode != LPR_ERR_GO_ON)
        return StreamFailed(pPort, nCode, nError, pcbWritten, pError);
    *pcbWritten = cbData;
    pPort->ullSpooledBytes += cbData;
    return TRUE;
}

// The buffered rest; the graceful close of the release then ends the data file.
BOOL LprStreamEnd(PPortEntry pPort, int* pStopCode, int* pError)
{
    RaiseJobBufSize(pPort);
    if (pPort->hPrinter == INVALID_HANDLE_VALUE || pPort->dwTmpSplBufLen == 0)
        return TRUE;
    switch (LprSend(pPort, pPort->pTmpSplBuf, pPort->dwTmpSplBufLen, pError)) {
    case LPR_ERR_GO_ON:
        return TRUE;
    case LPR_ERR_CANCEL:
        *pStopCode = LPR_STOP_CANCEL;
        return FALSE;
    case LPR_ERR_PAUSED:
        *pStopCode = LPR_STOP_PAUSED;
        return FALSE;
    case LPR_ERR_RETRY_OVER:
        *pStopCode = LPR_STOP_ERROR;
        return FALSE;
    default:
        *pStopCode = LPR_STOP_OTHER;
        return FALSE;
    }
}
