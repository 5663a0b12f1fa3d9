// LPR ports: the entries the job flow calls, for byte-count and streaming transfers.
#include <cstdlib>
#include <cstring>

#include "lpr.h"

BOOL IsLprPort(const PortEntry* pEntry)
{
    return (pEntry->dwProtocolFlags & PORT_FLAG_LPR) != 0;
}

BOOL IsByteCountPort(const PortEntry* pEntry)
{
    return IsLprPort(pEntry) && pEntry->dwTransferMode == TRANSFER_BYTECOUNT;
}

BOOL LPROpenPort(PPortEntry pPort)
{
    return StartPortNetwork(pPort, W("LPROpenPort"));
}

BOOL LPRClosePort(PPortEntry pPort)
{
    return StopPortNetwork(pPort, W("LPRClosePort"));
}

// ---- The job's temporary file (byte count)

static BOOL CreateJobFile(PPortEntry pPort)
{
    WCHAR szDir[JTMX_TMP_PATH_LEN + 1];
    DWORD cchDir = GetTempPathW(_countof(szDir), szDir);
    if (cchDir == 0 || cchDir >= _countof(szDir) ||
        swprintf_s(pPort->wszTmpFile, _countof(pPort->wszTmpFile), W("%s%05d.tmp"), szDir, (int)pPort->dwJobId) < 0) {
        pPort->wszTmpFile[0] = W('\0');
        SetLastError(ERROR_BUFFER_OVERFLOW);
        return FALSE;
    }
    pPort->hTmpFile = CreateFileW(pPort->wszTmpFile, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, NULL,
                                  CREATE_ALWAYS, FILE_FLAG_SEQUENTIAL_SCAN | FILE_ATTRIBUTE_NORMAL, NULL);
    return pPort->hTmpFile != INVALID_HANDLE_VALUE;
}

static void CloseJobFile(PPortEntry pPort)
{
    if (pPort->hTmpFile == INVALID_HANDLE_VALUE)
        return;
    CloseHandle(pPort->hTmpFile);
    pPort->hTmpFile = INVALID_HANDLE_VALUE;
}

static void DeleteJobFile(PPortEntry pPort)
{
    CloseJobFile(pPort);
    if (pPort->wszTmpFile[0])
        DeleteFileW(pPort->wszTmpFile);
    pPort->wszTmpFile[0] = W('\0');
}

// ---- Job start and release

// Releases what the job holds on the port: its connection, file and buffered bytes; the printer
// handle only when asked.
static void ReleaseLprJob(PPortEntry pPort, BOOL bSentToPrinter, BOOL bClosePrinter)
{
    if (bSentToPrinter && pPort->hPrinter != INVALID_HANDLE_VALUE)
        g_MonSys.pfnSetJobW(pPort->hPrinter, pPort->dwJobId, 0, NULL, JOB_CONTROL_SENT_TO_PRINTER);
    LprGracefulClose(pPort);
    if (pPort->dwFlags & CONN_OPENED) {
        pPort->countdown--;
        pPort->dwFlags &= ~(DWORD)CONN_OPENED;
    }
    DeleteJobFile(pPort);
    pPort->dwTmpSplBufLen = 0;
    pPort->cSendReqLen = 0;
    pPort->dwSendReqOffset = 0;
    if (bClosePrinter && pPort->hPrinter != INVALID_HANDLE_VALUE) {
        g_MonSys.pfnClosePrinter(pPort->hPrinter);
        pPort->hPrinter = INVALID_HANDLE_VALUE;
    }
}

// complete: the job is marked sent to the printer and its printer handle closed.
void LPRJobDelete(PPortEntry pPort, BOOL bComplete)
{
    MonTraceIn(W("LPRJobDelete"));
    ReleaseLprJob(pPort, bComplete, bComplete);
    MonTraceOutBool(W("LPRJobDelete"), TRUE);
}

static DWORD PrepareLprJob(PPortEntry pPort, LPCWSTR pszPrinterName)
{
    pPort->hPrinter = OpenJobPrinter(pszPrinterName);
    if (pPort->hPrinter == INVALID_HANDLE_VALUE || IsDirectPrinter(pPort->hPrinter))
        return ERROR_INVALID_PARAMETER;
    if (IsByteCountPort(pPort) && !CreateJobFile(pPort))
        return GetLastError();
    if (!IsTrueJob(pPort->hPrinter, pPort->dwJobId))
        return ERROR_INVALID_PARAMETER;
    if (!pPort->pTmpSplBuf)
        pPort->pTmpSplBuf = (LPBYTE)malloc(LPR_STREAM_BUFFER_SIZE);
    if (!pPort->pTmpSplBuf)
        return ERROR_NOT_ENOUGH_MEMORY;
    pPort->dwTmpSplBufLen = 0;
    return ERROR_SUCCESS;
}

BOOL LPRStartDocPort(PPortEntry pPort, LPCWSTR pszPrinterName, DWORD dwJobId)
{
    MonTraceIn(W("LPRStartDocPort"));
    pPort->dwFlags = 0;
    pPort->ullSpooledBytes = 0;
    pPort->dwJobId = dwJobId;
    pPort->dwLprRetryCounter = 0;
    pPort->cSendReqLen = 0;
    pPort->dwSendReqOffset = 0;
    DWORD dwError = PrepareLprJob(pPort, pszPrinterName);
    if (dwError == ERROR_SUCCESS)
        return MonTraceOutBool(W("LPRStartDocPort"), TRUE);
    LPRJobDelete(pPort, TRUE);
    SetLastError(dwError);
    return MonTraceOutBool(W("LPRStartDocPort"), FALSE);
}

// ---- Writing and ending

// Byte count: the bytes go to the job's file; what was written is counted.
static BOOL WriteJobFile(PPortEntry pPort, const BYTE* pData, DWORD cbData, LPDWORD pcbWritten, int* pError)
{
    DWORD cbWritten = 0;
    BOOL bWritten = WriteFile(pPort->hTmpFile, pData, cbData, &cbWritten, NULL);
    *pcbWritten = cbWritten;
    pPort->ullSpooledBytes += cbWritten;
    if (!bWritten)
        *pError = (int)GetLastError();
    return bWritten;
}

BOOL LPRWritePort(PPortEntry pPort, const BYTE* pData, DWORD cbData, LPDWORD pcbWritten, int* pError)
{
    MonTraceIn(W("LPRWritePort"));
    BOOL bResult = IsByteCountPort(pPort) ? WriteJobFile(pPort, pData, cbData, pcbWritten, pError)
                                          : LprStreamWrite(pPort, pData, cbData, pcbWritten, pError);
    return MonTraceOutBool(W("LPRWritePort"), bResult);
}

// The job's state before the transfer: 0 to go on, else the stop code it ends with.
static int StopCodeOfJob(PPortEntry pPort)
{
    if (IsPrinterGone(pPort))
        return LPR_STOP_CANCEL;
    DWORD dwStatus = LprJobStatus(pPort);
    if (dwStatus & JOB_STATUS_PAUSED)
        return LPR_STOP_PAUSED;
    if (dwStatus & JOB_STATUS_RESTART)
        return LPR_STOP_RESTARTING;
    return 0;
}

static BOOL RunTransfer(PPortEntry pPort, int* pStopCode, int* pError)
{
    if (!IsByteCountPort(pPort))
        return LprStreamEnd(pPort, pStopCode, pError);
    pPort->countdown++;
    BOOL bResult = StartTrans(pPort, pStopCode, pError);
    pPort->countdown--;
    return bResult;
}

// A stopped transfer: a cancelled job counts as done, a paused one is restarted so that its data is
// sent when it is resumed, an error goes back to the job flow.
static BOOL SettleStop(PPortEntry pPort, int* pStopCode)
{
    switch (*pStopCode) {
    case LPR_STOP_CANCEL:
        return TRUE;
    case LPR_STOP_PAUSED:
        g_MonSys.pfnSetJobW(pPort->hPrinter, pPort->dwJobId, 0, NULL, JOB_CONTROL_RESTART);
        return TRUE;
    case LPR_STOP_ERROR:
        return FALSE;
    default:
        *pStopCode = LPR_STOP_OTHER;
        return TRUE;
    }
}

BOOL LPREndDocPort(PPortEntry pPort, int* pStopCode, int* pError)
{
    MonTraceIn(W("LPREndDocPort"));
    *pStopCode = 0;
    if (pPort->dwJobId == 0) {
        *pStopCode = LPR_STOP_OTHER;
        SetLastError(ERROR_INVALID_PARAMETER);
        return MonTraceOutBool(W("LPREndDocPort"), FALSE);
    }
    if (pPort->ullSpooledBytes == 0) {
        LPRJobDelete(pPort, TRUE);
        return MonTraceOutBool(W("LPREndDocPort"), TRUE);
    }
    *pStopCode = StopCodeOfJob(pPort);
    if (*pStopCode == LPR_STOP_RESTARTING) {
        // The spooler sends the job again: everything is released, but the job is not completed.
        ReleaseLprJob(pPort, FALSE, TRUE);
        return MonTraceOutBool(W("LPREndDocPort"), TRUE);
    }
    BOOL bResult = *pStopCode == 0 ? RunTransfer(pPort, pStopCode, pError) : FALSE;
    if (!bResult)
        bResult = SettleStop(pPort, pStopCode);
    CloseJobFile(pPort);
    if (bResult)
        LPRJobDelete(pPort, TRUE);
    return MonTraceOutBool(W("LPREndDocPort"), bResult);
}
