// Byte-count LPR: the job's file goes to the device in one transfer at EndDocPort, driven by a
// state machine (nLpStat) whose every step can be repeated until it is done.
#include <cstring>

#include "lpr.h"

#define SIZE_UNKNOWN (~(ULONGLONG)0)

// ---- Sending a step's bytes

// One attempt at the staged bytes: 0 or the error.
static int SendLprBuff(PPortEntry pPort)
{
    int nEvent = FD_WRITE;
    int nError = 0;
    if (pPort->bConnectReady)
        pPort->bConnectReady = FALSE;
    else
        nEvent = GetLprSendSockEvent(pPort, &nError, LprEventRound(pPort));
    if (nEvent == -1 || nEvent == FD_CLOSE) {
        AbortClose(pPort);
        return WSAECONNABORTED;
    }
    if (nEvent != FD_WRITE)
        return 0;
    DWORD cbLeft = pPort->cSendReqLen - pPort->dwSendReqOffset;
    int cbSent = send(pPort->hSocket, (const char*)pPort->SendBuf + pPort->dwSendReqOffset, (int)cbLeft, 0);
    if (cbSent == SOCKET_ERROR) {
        nError = WSAGetLastError();
        pPort->bSendBlocked = nError == WSAEWOULDBLOCK;
        return nError;
    }
    pPort->bSendBlocked = FALSE;
    pPort->dwSendReqOffset += (DWORD)cbSent;
    if (pPort->dwSendReqOffset == pPort->cSendReqLen) {
        pPort->cSendReqLen = 0;
        pPort->dwSendReqOffset = 0;
    }
    return 0;
}

// Stages the bytes (unless a rest of earlier ones is still staged) and sends what the socket takes.
static int SendLpr(PPortEntry pPort, const BYTE* pData, DWORD cbData, int* pError)
{
    if (pPort->hSocket == INVALID_SOCKET)
        return LPR_STEP_CANCEL;
    if (pPort->bRestartDecided)
        return LPR_STEP_DONE;
    if (pPort->cSendReqLen == 0) {
        if (cbData > JTMX_SEND_BUFFER_SIZE)
            return LPR_STEP_RETRY_OVER;
        memcpy(pPort->SendBuf, pData, cbData);
        pPort->cSendReqLen = cbData;
        pPort->dwSendReqOffset = 0;
    }
    for (DWORD dwAttempt = 0; dwAttempt <= pPort->dwRetryCount; dwAttempt++) {
        int nError = SendLprBuff(pPort);
        if (nError == 0)
            return pPort->cSendReqLen == 0 ? LPR_STEP_DONE : LPR_STEP_AGAIN;
        if (nError == WSAEWOULDBLOCK)
            return LPR_STEP_AGAIN;
        *pError = nError;
        if (pPort->hSocket == INVALID_SOCKET)
            break;
    }
    LprGracefulClose(pPort);
    if (!pPort->dwRetryInfinity)
        return LPR_STEP_ERROR;
    pPort->bRestartDecided = TRUE;
    return LPR_STEP_RETRY;
}

static void PaceSend(const PortEntry* pPort)
{
    if (pPort->dwLprSendInterval)
        MonSleep(pPort->dwLprSendInterval);
}

// Sends the bytes of a step (formatted only when nothing is staged) and moves on when all went out.
static int SendStep(PPortEntry pPort, const void* pData, DWORD cbData, int nNextState, int* pError)
{
    int nResult = SendLpr(pPort, (const BYTE*)pData, cbData, pError);
    if (nResult == LPR_STEP_DONE)
        pPort->nLpStat = nNextState;
    return nResult;
}

static int TextFailed(int* pError)
{
    *pError = ERROR_INVALID_DATA;
    return LPR_STEP_ERROR;
}

// ---- The steps

// State 1: connect, from the start of the job's file.
static int LPRStart(PPortEntry pPort, int* pError)
{
    pPort->cSendReqLen = 0;
    pPort->dwSendReqOffset = 0;
    LARGE_INTEGER size;
    pPort->ullSendFileSize = GetFileSizeEx(pPort->hTmpFile, &size) ? (ULONGLONG)size.QuadPart : SIZE_UNKNOWN;
    SetFilePointer(pPort->hTmpFile, 0, NULL, FILE_BEGIN);
    struct sockaddr_in address;
    if (!LpGetServerAddress2(pPort, &address)) {
        *pError = WSAEINVAL;
        return LPR_STEP_ERROR;
    }
    pPort->dwRetryInterval = 0;
    DWORD dwLeft = pPort->dwRetryCount + 1;
    int nResult = LPR_STEP_DONE;
    while (LpTcpOpen(pPort, &address, pError) == INVALID_SOCKET) {
        AbortClose(pPort);
        // A connect that fails at once (a bind error) must not make the loop spin.
        MonSleep(LPR_MIN_WAIT_MS);
        if (--dwLeft == 0) {
            if (!pPort->dwRetryInfinity) {
                nResult = LPR_STEP_ERROR;
                break;
            }
            dwLeft = pPort->dwRetryCount + 1;
        }
        if (IsPrinterGone(pPort)) {
            nResult = LPR_STEP_CANCEL;
            break;
        }
        if (LprJobStatus(pPort) & JOB_STATUS_PAUSED) {
            nResult = LPR_STEP_PAUSED;
            break;
        }
    }
    pPort->dwRetryInterval = pPort->dwSavedRetryInterval;
    if (nResult == LPR_STEP_DONE) {
        LprSetSendBuffer(pPort);
        pPort->bRestartDecided = FALSE;
        pPort->nLpStat = LPSTAT_PRINT_JOB;
    }
    return nResult;
}

static int SendPrintJob(PPortEntry pPort, int* pError)
{
    PaceSend(pPort);
    LprCommand command = {};
    if (pPort->cSendReqLen == 0 && !MakeReceiveJobCommand(pPort, &command))
        return TextFailed(pError);
    return SendStep(pPort, command.bytes, command.cb, LPSTAT_PRINT_JOB_ACK, pError);
}

static int SendCtrlFileCmd(PPortEntry pPort, int* pError)
{
    PaceSend(pPort);
    WCHAR szComputer[LPR_COMPUTER_NAME_CHARS + 1];
    LprCommand command = {};
    if (pPort->cSendReqLen == 0) {
        ReadComputerName(szComputer, _countof(szComputer));
        if (!PrepareControlFile(pPort) || !MakeControlFileCommand(pPort, szComputer, &command))
            return TextFailed(pError);
    }
    return SendStep(pPort, command.bytes, command.cb, LPSTAT_CTRL_FILE_CMD_ACK, pError);
}

// The control file and its NUL.
static int SendCtrlFile(PPortEntry pPort, int* pError)
{
    PaceSend(pPort);
    return SendStep(pPort, pPort->szCtrlFile, pPort->dwCtrlFileLen + 1, LPSTAT_CTRL_FILE_ACK, pError);
}

static int SendDataFileCmd(PPortEntry pPort, int* pError)
{
    PaceSend(pPort);
    WCHAR szComputer[LPR_COMPUTER_NAME_CHARS + 1];
    WCHAR szSizeText[LPR_SIZE_TEXT_CHARS];
    LprCommand command = {};
    if (pPort->cSendReqLen == 0) {
        ReadComputerName(szComputer, _countof(szComputer));
        BOOL bUnknown = pPort->ullSendFileSize == SIZE_UNKNOWN;
        if (bUnknown)
            ReadNoByteCountMax(szSizeText, _countof(szSizeText));
        if (!MakeDataFileCommand(pPort->ullSendFileSize, bUnknown ? szSizeText : NULL, pPort, szComputer, &command))
            return TextFailed(pError);
    }
    return SendStep(pPort, command.bytes, command.cb, LPSTAT_DATA_FILE_CMD_ACK, pError);
}

// The job's file in 64 KB chunks, watching the job between them.
static int SendDataFile(PPortEntry pPort, int* pError)
{
    PaceSend(pPort);
    for (;;) {
        if (IsPrinterGone(pPort)) {
            LprGracefulClose(pPort);
            return LPR_STEP_CANCEL;
        }
        if (LprJobStatus(pPort) & JOB_STATUS_PAUSED) {
            LprGracefulClose(pPort);
            return LPR_STEP_PAUSED;
        }
        DWORD cbRead = 0;
        if (pPort->cSendReqLen == 0) {
            if (!ReadFile(pPort->hTmpFile, pPort->pTmpSplBuf, LPR_FILE_CHUNK, &cbRead, NULL)) {
                *pError = (int)GetLastError();
                return LPR_STEP_ERROR;
            }
            if (cbRead == 0)
                break;
        }
        int nResult = SendLpr(pPort, pPort->pTmpSplBuf, cbRead, pError);
        if (nResult != LPR_STEP_DONE && nResult != LPR_STEP_AGAIN)
            return nResult;
        if (pPort->bRestartDecided)
            break;
    }
    pPort->nLpStat = LPSTAT_DATA_EOFSEND;
    return LPR_STEP_DONE;
}

static int SendDataFileEOF(PPortEntry pPort, int* pError)
{
    static const BYTE eof = 0;
    PaceSend(pPort);
    return SendStep(pPort, &eof, sizeof(eof), LPSTAT_DATA_EOF_ACK, pError);
}

// ---- Acknowledgements

static int AckCode(BYTE bAck)
{
    switch (bAck) {
    case 1:
        return LPD_NO_SPOOL_SPACE;
    case 2:
        return LPD_ERROR;
    default:
        return ERROR_ACCESS_DENIED;
    }
}

// A refusal: an LPD error retries at once, others after LprRetryDecision's wait.
static int OnRefusedAck(PPortEntry pPort, BYTE bAck, int* pError)
{
    *pError = AckCode(bAck);
    if (*pError == LPD_ERROR) {
        LprGracefulClose(pPort);
        return LPR_STEP_RETRY;
    }
    switch (LprRetryDecision(pPort)) {
    case LPR_ERR_CANCEL:
        return LPR_STEP_CANCEL;
    case LPR_ERR_GO_ON:
        return LPR_STEP_RETRY;
    case LPR_ERR_PAUSED:
        return LPR_STEP_PAUSED;
    default:
        return LPR_STEP_ERROR;
    }
}

// After the read failures allowed by RetryCount.
static int OnAckReadFailures(PPortEntry pPort, int nError, int* pError)
{
    *pError = nError;
    if (!pPort->dwRetryInfinity)
        return LPR_STEP_ERROR;
    if (nError == WSAECONNABORTED || nError == WSAECONNRESET || nError == WSAEDISCON) {
        LprGracefulClose(pPort);
        pPort->bRestartDecided = TRUE;
        return LPR_STEP_RETRY;
    }
    return LPR_STEP_NO_ACK;
}

static int AbortForAck(PPortEntry pPort, int nError, int* pError)
{
    AbortClose(pPort);
    *pError = nError;
    return LPR_STEP_ERROR;
}

// States 3, 5, 7, 9 and 12: the device's one-byte answer. The socket is read in every round, so an
// answer that arrives together with the device's close is still taken.
static int ReadAck(PPortEntry pPort, int* pError)
{
    if (pPort->bRestartDecided) {
        pPort->nLpStat++;
        return LPR_STEP_DONE;
    }
    DWORD dwFailures = 0;
    for (DWORD dwRound = 1;; dwRound++) {
        int nError = 0;
        int nEvents = GetLprSockEvent(pPort, &nError, LprEventRound(pPort));
        if (nEvents == -1 && nError != WSAEWOULDBLOCK && nError != WSAETIMEDOUT)
            return AbortForAck(pPort, nError, pError);
        BYTE bAck = 0;
        int cbRead = recv(pPort->hSocket, (char*)&bAck, 1, 0);
        if (cbRead == 1 && bAck == 0) {
            pPort->nLpStat++;
            return LPR_STEP_DONE;
        }
        if (cbRead == 1)
            return OnRefusedAck(pPort, bAck, pError);
        if (cbRead == 0 || (nEvents > 0 && (nEvents & FD_CLOSE)))
            return AbortForAck(pPort, WSAECONNABORTED, pError);
        nError = WSAGetLastError();
        if (nError != WSAEWOULDBLOCK && ++dwFailures > pPort->dwRetryCount)
            return OnAckReadFailures(pPort, nError, pError);
        if (pPort->dwLprCheckJobStatus) {
            if (IsPrinterGone(pPort))
                return LPR_STEP_CANCEL;
            if (LprJobStatus(pPort) & JOB_STATUS_PAUSED)
                return LPR_STEP_PAUSED;
        }
        if (pPort->dwLprRecvCount) {
            if (dwRound > pPort->dwLprRecvCount)
                return AbortForAck(pPort, WSAECONNABORTED, pError);
            MonSleep(pPort->dwLprRecvInterval);
        }
    }
}

// ---- The state machine

typedef int (*LprStep)(PPortEntry pPort, int* pError);

static const LprStep g_LprSteps[LPSTAT_DONE] = {
    NULL,  // states count from 1
    LPRStart,  // LPSTAT_START
    SendPrintJob,  // LPSTAT_PRINT_JOB
    ReadAck,  // LPSTAT_PRINT_JOB_ACK
    SendCtrlFileCmd,  // LPSTAT_CTRL_FILE_CMD
    ReadAck,  // LPSTAT_CTRL_FILE_CMD_ACK
    SendCtrlFile,  // LPSTAT_CTRL_FILE
    ReadAck,  // LPSTAT_CTRL_FILE_ACK
    SendDataFileCmd,  // LPSTAT_DATA_FILE_CMD
    ReadAck,  // LPSTAT_DATA_FILE_CMD_ACK
    SendDataFile,  // LPSTAT_DATA_FILE
    SendDataFileEOF,  // LPSTAT_DATA_EOFSEND
    ReadAck,  // LPSTAT_DATA_EOF_ACK
};

// The job's state before each round: 0 to go on, else the step result it stops with.
static int CheckJobForTransfer(PPortEntry pPort)
{
    if (IsPrinterGone(pPort))
        return LPR_STEP_CANCEL;
    if (LprJobStatus(pPort) & JOB_STATUS_PAUSED)
        return LPR_STEP_PAUSED;
    return -1;
}

// Ends the transfer with a stop code.
static BOOL StopTransfer(PPortEntry pPort, int nStopCode, int* pStopCode)
{
    pPort->nLpStat = LPSTAT_DONE;
    *pStopCode = nStopCode;
    return FALSE;
}

BOOL StartTrans(PPortEntry pPort, int* pStopCode, int* pError)
{
    MonTraceIn(W("StartTrans"));
    pPort->nLpStat = LPSTAT_START;
    BOOL bResult = TRUE;
    while (pPort->nLpStat != LPSTAT_DONE) {
        int nResult = CheckJobForTransfer(pPort);
        if (nResult < 0)
            nResult = g_LprSteps[pPort->nLpStat](pPort, pError);
        switch (nResult) {
        case LPR_STEP_CANCEL:
            bResult = StopTransfer(pPort, LPR_STOP_CANCEL, pStopCode);
            break;
        case LPR_STEP_RETRY:
            LprGracefulClose(pPort);
            pPort->nLpStat = LPSTAT_START;
            break;
        case LPR_STEP_RETRY_OVER:
        case LPR_STEP_ERROR:
            bResult = StopTransfer(pPort, LPR_STOP_ERROR, pStopCode);
            break;
        case LPR_STEP_PAUSED:
            bResult = StopTransfer(pPort, LPR_STOP_PAUSED, pStopCode);
            break;
        default:
            break;
        }
    }
    LprGracefulClose(pPort);
    return MonTraceOutBool(W("StartTrans"), bResult);
}
