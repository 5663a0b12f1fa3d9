// The job slots of a port: StartDocPort, WritePort and EndDocPort. They test that the device
// answers, run the port's protocol, read the job messages and report the job, and turn network
// failures into a paused and restarted spooler job, so that the spooler sends it again later.
#include <cstdlib>
#include <cstring>

#include "jtrkmon.h"

#define XCV_PORT_PREFIX W(",XcvPort ")
#define XCV_OBJECT_LEN (9 + JTMX_MAX_PORT_NAME + 1)
#define XCV_ADDRESS_OUTPUT_SIZE 30

#define ECHO_ATTEMPTS 6
#define ECHO_TIMEOUT_MS 5000
static const char g_EchoData[] = "Data Buffer";  // sent with its NUL
// One reply, the echoed data and room for an ICMP error message.
#define ECHO_REPLY_SIZE (sizeof(ICMP_ECHO_REPLY) + sizeof(g_EchoData) + 8)

// Send errors after which the job is sent again from its start.
#define ERROR_AGAIN_IF_RESTARTING 63

void SetPortState(PPortEntry pPort, DWORD dwState)
{
    EnterCriticalSection(&csPortList);
    pPort->dwState = dwState;
    LeaveCriticalSection(&csPortList);
}

static DWORD PortState(PPortEntry pPort)
{
    EnterCriticalSection(&csPortList);
    DWORD dwState = pPort->dwState;
    LeaveCriticalSection(&csPortList);
    return dwState;
}

// ---- StartDocPort

// An idle port takes the job: it leaves state 1 at once, so that neither DeletePort nor ConfigPort
// changes it under the job, and the job runs with the settings ConfigPort left. A pause request is
// dropped: it was for the send in progress when the service made it, and a held job that the user
// resumes must print, even though it is the same spooler job.
static BOOL ClaimPortForJob(PPortEntry pPort)
{
    EnterCriticalSection(&csPortList);
    BOOL bIdle = pPort->dwState == PORT_STATE_IDLE;
    if (bIdle) {
        pPort->dwState = PORT_STATE_DOC_STARTED;
        pPort->bPausedFlag = FALSE;
        pPort->dwPausedJobId = 0;
        ApplyConfiguredSettings(pPort);
    }
    LeaveCriticalSection(&csPortList);
    return bIdle;
}

// The device address through the monitor's own Xcv method. FALSE when the Xcv object cannot be
// opened; the address stays 0 when the method fails.
static BOOL OpenPortXcv(const PortEntry* pPort, PHANDLE phXcv)
{
    WCHAR szObject[XCV_OBJECT_LEN];
    if (StringCchCopyW(szObject, _countof(szObject), XCV_PORT_PREFIX) != S_OK ||
        StringCchCatW(szObject, _countof(szObject), pPort->pszPortName) != S_OK)
        return FALSE;
    return g_MonSys.pfnOpenPrinterW(szObject, phXcv, NULL);
}

static DWORD QueryDeviceAddress(HANDLE hXcv)
{
    BYTE output[XCV_ADDRESS_OUTPUT_SIZE];
    memset(output, 0, sizeof(output));
    DWORD cbNeeded = 0;
    DWORD dwStatus = ERROR_SUCCESS;
    if (!g_MonSys.pfnXcvDataW(hXcv, JTRK_XCV_GETIPADDRESS, NULL, 0, output, sizeof(output), &cbNeeded, &dwStatus) ||
        dwStatus != ERROR_SUCCESS)
        return 0;
    DWORD dwAddress;
    memcpy(&dwAddress, output, sizeof(dwAddress));
    return dwAddress;
}

// Unreachable only when echoes went out and none was answered; when no echo can be sent, the TCP
// connect decides.
static BOOL IsDeviceUnreachable(DWORD dwAddress)
{
    if (dwAddress == 0 || dwAddress == INADDR_NONE)
        return FALSE;
    HANDLE hIcmp = g_MonSys.pfnIcmpCreateFile();
    if (hIcmp == INVALID_HANDLE_VALUE)
        return FALSE;
    BYTE reply[ECHO_REPLY_SIZE];
    BOOL bSent = FALSE;
    BOOL bAnswered = FALSE;
    for (int i = 0; i < ECHO_ATTEMPTS && !bAnswered; i++) {
        char data[sizeof(g_EchoData)];
        memcpy(data, g_EchoData, sizeof(data));
        DWORD cReplies = g_MonSys.pfnIcmpSendEcho(hIcmp, dwAddress, data, sizeof(data), NULL, reply, sizeof(reply),
                                                  ECHO_TIMEOUT_MS);
        if (cReplies > 0) {
            ICMP_ECHO_REPLY echoReply;
            memcpy(&echoReply, reply, sizeof(echoReply));
            bSent = TRUE;
            bAnswered = echoReply.Status == IP_SUCCESS;
        } else if (GetLastError() == IP_REQ_TIMED_OUT) {
            bSent = TRUE;
        }
    }
    g_MonSys.pfnIcmpCloseHandle(hIcmp);
    return bSent && !bAnswered;
}

static void PrepareJob(PPortEntry pPort, DWORD dwJobId)
{
    pPort->dwJobId = dwJobId;
    ClearJobHeaderResults(pPort);
    FreeHeaderBuffer(pPort);
    pPort->bHeaderParsed = FALSE;
    pPort->bRequeued = FALSE;
    pPort->dwJobBufSize = 0;
}

static BOOL StartProtocol(PPortEntry pPort, LPCWSTR pszPrinterName, DWORD dwJobId, BOOL bReachable)
{
    if (bReachable)
        return IsLprPort(pPort) ? LPRStartDocPort(pPort, pszPrinterName, dwJobId)
                                : RawStartDocPort(pPort, pszPrinterName, dwJobId);
    pPort->hPrinter = INVALID_HANDLE_VALUE;
    pPort->dwFlags = 0;
    pPort->ullSpooledBytes = 0;
    return FALSE;
}

BOOL WINAPI JTMXStartDocPort(HANDLE hPort, LPWSTR pPrinterName, DWORD JobId, DWORD Level, LPBYTE pDocInfo)
{
    (void)Level;
    (void)pDocInfo;
    MonTraceIn(W("JTMXStartDocPort"));
    PPortEntry pPort = (PPortEntry)hPort;
    if (!pPort || !pPrinterName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return MonTraceOutBool(W("JTMXStartDocPort"), FALSE);
    }
    if (!ClaimPortForJob(pPort)) {
        SetLastError(ERROR_BUSY);
        return MonTraceOutBool(W("JTMXStartDocPort"), FALSE);
    }
    HANDLE hXcv = NULL;
    if (!OpenPortXcv(pPort, &hXcv)) {
        SetPortState(pPort, PORT_STATE_IDLE);
        return MonTraceOutBool(W("JTMXStartDocPort"), FALSE);
    }
    pPort->dwIPAddress = QueryDeviceAddress(hXcv);
    BOOL bReachable = !IsDeviceUnreachable(pPort->dwIPAddress);
    g_MonSys.pfnClosePrinter(hXcv);

    PrepareJob(pPort, JobId);
    BOOL bStarted = StartProtocol(pPort, pPrinterName, JobId, bReachable);
    memset(pPort->wszPrinterName, 0, sizeof(pPort->wszPrinterName));
    memcpy(pPort->wszPrinterName, pPrinterName, wcsnlen(pPrinterName, JTMX_MAX_PRINTER_NAME) * sizeof(WCHAR));
    pPort->bStartDocFailed = !bStarted;
    if (!bStarted)
        ReportPortFailure(pPort, W("StartDoc"));
    return MonTraceOutBool(W("JTMXStartDocPort"), TRUE);
}

// ---- Re-queueing

static BOOL IsRequeueError(int nError)
{
    return nError == WSAECONNABORTED || nError == WSAETIMEDOUT || nError == WSAEHOSTUNREACH;
}

// Errors that re-queue only a job that the spooler is already restarting.
static BOOL IsRequeueIfRestartingError(int nError)
{
    return nError == WSAEWOULDBLOCK || nError == ERROR_AGAIN_IF_RESTARTING;
}

static BOOL ShouldRequeue(int nError, DWORD dwJobStatus)
{
    return IsRequeueError(nError) || (IsRequeueIfRestartingError(nError) && (dwJobStatus & JOB_STATUS_RESTART));
}

// A printer handle of the job flow's own, for job control beside the protocol's handle.
static HANDLE OpenFlowPrinter(const PortEntry* pPort)
{
    HANDLE hPrinter = NULL;
    return g_MonSys.pfnOpenPrinterW((LPWSTR)pPort->wszPrinterName, &hPrinter, NULL) ? hPrinter : NULL;
}

static void ControlJob(HANDLE hPrinter, DWORD dwJobId, DWORD dwCommand)
{
    if (hPrinter)
        g_MonSys.pfnSetJobW(hPrinter, dwJobId, 0, NULL, dwCommand);
}

static void ClosePrinterIfOpen(HANDLE hPrinter)
{
    if (hPrinter)
        g_MonSys.pfnClosePrinter(hPrinter);
}

static DWORD FlowJobStatus(HANDLE hPrinter, DWORD dwJobId)
{
    return hPrinter ? GetJobStatus(hPrinter, dwJobId) : 0;
}

// The spooler sends the job again from its start once it is resumed; the service is told.
static void RequeueJob(PPortEntry pPort, HANDLE hPrinter, LPCWSTR pszOperation, BOOL bWithDocument)
{
    ControlJob(hPrinter, pPort->dwJobId, JOB_CONTROL_PAUSE);
    ControlJob(hPrinter, pPort->dwJobId, JOB_CONTROL_RESTART);
    pPort->bRequeued = TRUE;
    SendJobReport(pPort, JOBEVENT_REQUEUED, pszOperation, bWithDocument);
}

// ---- WritePort

// One piece of the job through the port's protocol; FALSE (with the error) when the protocol failed.
// *pcbSent tells how many bytes were taken.
static BOOL WritePiece(PPortEntry pPort, const BYTE* pData, DWORD cbData, int* pError, LPDWORD pcbSent)
{
    *pcbSent = 0;
    BOOL bResult = IsLprPort(pPort) ? LPRWritePort(pPort, pData, cbData, pcbSent, pError)
                                    : RawWritePort(pPort, pData, cbData, pcbSent, pError);
    if (!bResult || *pcbSent > cbData)
        *pcbSent = bResult ? cbData : 0;
    return bResult;
}

// The held bytes that went out leave the buffer; the rest stays held for the next try.
static void DropSentHeldBytes(PPortEntry pPort, DWORD cbSent)
{
    if (cbSent >= pPort->cbHeaderBuf) {
        FreeHeaderBuffer(pPort);
        return;
    }
    memmove(pPort->pHeaderBuf, pPort->pHeaderBuf + cbSent, pPort->cbHeaderBuf - cbSent);
    pPort->cbHeaderBuf -= cbSent;
}

// The call's own bytes joined the held ones but were not sent: they go back to the spooler's buffer
// (with the stamp the parse wrote into them) and count as not written, so that the spooler hands
// them in again. A job that ended before its header keeps them held.
static void ReturnCallBytes(PPortEntry pPort, LPBYTE pData, DWORD cbData)
{
    if (cbData == 0 || cbData > pPort->cbHeaderBuf)
        return;
    pPort->cbHeaderBuf -= cbData;
    memcpy(pData, pPort->pHeaderBuf + pPort->cbHeaderBuf, cbData);
    if (pPort->cbHeaderBuf == 0)
        FreeHeaderBuffer(pPort);
}

// Sends what the header gathering hands on: the held bytes, then the call's own. Held bytes live
// until they are sent or the job ends; the call's bytes count as written only once sent or held.
static BOOL SendGathered(PPortEntry pPort, const HeaderGather* pGather, LPBYTE pData, DWORD cbData,
                         LPDWORD pcbWritten, int* pError)
{
    *pcbWritten = 0;
    if (pGather->cbHeld > 0) {
        DWORD cbSent = 0;
        BOOL bResult = WritePiece(pPort, pGather->pHeld, pGather->cbHeld, pError, &cbSent);
        BOOL bAll = bResult && cbSent == pGather->cbHeld;
        if (!bAll && !pGather->bSendCall && pData)
            ReturnCallBytes(pPort, pData, cbData);
        DropSentHeldBytes(pPort, cbSent);
        if (!bAll)
            return bResult;
    }
    if (!pGather->bSendCall || cbData == 0) {
        *pcbWritten = cbData;
        return TRUE;
    }
    DWORD cbSent = 0;
    BOOL bResult = WritePiece(pPort, pData, cbData, pError, &cbSent);
    *pcbWritten = cbSent;
    return bResult;
}

// The send step of WritePort (and of EndDocPort for bytes still held): the job's bytes go out, or
// after a failed start the job is re-queued, once. A failed send leaves the job to the re-queue rule
// and the event log; the spooler goes on either way. Bytes handed on to a job that is re-queued are
// dropped: it starts again from its first byte.
static void WriteJobBytes(PPortEntry pPort, const HeaderGather* pGather, LPBYTE pData, DWORD cbData,
                          LPDWORD pcbWritten)
{
    if (pPort->bStartDocFailed) {
        *pcbWritten = cbData;
        if (pGather->pHeld)
            FreeHeaderBuffer(pPort);
        if (!pPort->bRequeued) {
            HANDLE hPrinter = OpenFlowPrinter(pPort);
            RequeueJob(pPort, hPrinter, W("WritePort"), FALSE);
            ClosePrinterIfOpen(hPrinter);
        }
        return;
    }
    int nError = 0;
    if (SendGathered(pPort, pGather, pData, cbData, pcbWritten, &nError))
        return;
    BOOL bRequeued = FALSE;
    if (!IsByteCountPort(pPort) && (IsRequeueError(nError) || IsRequeueIfRestartingError(nError))) {
        HANDLE hPrinter = OpenFlowPrinter(pPort);
        bRequeued = ShouldRequeue(nError, FlowJobStatus(hPrinter, pPort->dwJobId));
        if (bRequeued)
            RequeueJob(pPort, hPrinter, W("WritePort"), FALSE);
        ClosePrinterIfOpen(hPrinter);
    }
    ReportPortFailure(pPort, W("WritePort"));
    if (bRequeued) {
        *pcbWritten = cbData;
        FreeHeaderBuffer(pPort);
    }
}

BOOL WINAPI JTMXWritePort(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuf, LPDWORD pcbWritten)
{
    MonTraceIn(W("JTMXWritePort"));
    PPortEntry pPort = (PPortEntry)hPort;
    if (!pPort || !pcbWritten || (!pBuffer && cbBuf > 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return MonTraceOutBool(W("JTMXWritePort"), FALSE);
    }
    DWORD dwState = PortState(pPort);
    if (dwState < PORT_STATE_DOC_STARTED) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return MonTraceOutBool(W("JTMXWritePort"), FALSE);
    }
    HeaderGather gather = {pPort->pHeaderBuf, pPort->cbHeaderBuf, TRUE};  // what a failed send kept
    if (dwState != PORT_STATE_HEADER_DONE) {
        if (ParseJobHeader(pPort, pBuffer, cbBuf, &gather) == 1 &&
            (pPort->bStartDocFailed || !IsByteCountPort(pPort)))
            SendJobReport(pPort, JOBEVENT_JOBSTART, W("WritePort"), TRUE);
        if (PortState(pPort) == PORT_STATE_HEADER_INCOMPLETE && !pPort->bStartDocFailed) {
            *pcbWritten = cbBuf;  // held until the header is complete
            return MonTraceOutBool(W("JTMXWritePort"), TRUE);
        }
    }
    WriteJobBytes(pPort, &gather, pBuffer, cbBuf, pcbWritten);
    return MonTraceOutBool(W("JTMXWritePort"), TRUE);
}

// ---- EndDocPort

// The pause the service asked for through SetPausedFlag, consumed by that job's end.
static BOOL TakePauseRequest(PPortEntry pPort)
{
    EnterCriticalSection(&csPortList);
    BOOL bRequested = pPort->bPausedFlag && pPort->dwPausedJobId == pPort->dwJobId;
    if (bRequested) {
        pPort->bPausedFlag = FALSE;
        pPort->dwPausedJobId = 0;
    }
    LeaveCriticalSection(&csPortList);
    return bRequested;
}

// Bytes still held because the job ended before its header did, or kept by a failed send.
static void FlushHeldBytes(PPortEntry pPort)
{
    if (pPort->pHeaderBuf) {
        HeaderGather gather = {pPort->pHeaderBuf, pPort->cbHeaderBuf, FALSE};
        DWORD cbWritten = 0;
        WriteJobBytes(pPort, &gather, NULL, 0, &cbWritten);
    }
    FreeHeaderBuffer(pPort);
}

// After the protocol's end: keep the job paused when it was paused while it was sent, mark an LPR
// job that was paused as sent, and pause it when the service asked for it.
static void SettleJobState(PPortEntry pPort, HANDLE hPrinter, BOOL bWasPaused, BOOL bPauseRequested)
{
    DWORD dwStatus = FlowJobStatus(hPrinter, pPort->dwJobId);
    BOOL bPaused = (dwStatus & JOB_STATUS_PAUSED) != 0;
    if (bWasPaused && !bPaused)
        ControlJob(hPrinter, pPort->dwJobId, JOB_CONTROL_PAUSE);
    if (IsLprPort(pPort) && (bWasPaused || bPaused) && (dwStatus & JOB_STATUS_PRINTING))
        ControlJob(hPrinter, pPort->dwJobId, JOB_CONTROL_SENT_TO_PRINTER);
    if (bPauseRequested && !bPaused && !bWasPaused)
        ControlJob(hPrinter, pPort->dwJobId, JOB_CONTROL_PAUSE);
}

// An LPR transfer that stopped on an error: re-queued when the error calls for it, else logged; the
// job is released as sent either way.
static void EndStoppedLprJob(PPortEntry pPort, HANDLE hPrinter, int nError)
{
    if (ShouldRequeue(nError, FlowJobStatus(hPrinter, pPort->dwJobId)))
        RequeueJob(pPort, hPrinter, W("EndDoc"), TRUE);
    else
        ReportPortFailure(pPort, W("EndDoc"));
    LPRJobDelete(pPort, TRUE);
}

BOOL WINAPI JTMXEndDocPort(HANDLE hPort)
{
    MonTraceIn(W("JTMXEndDocPort"));
    PPortEntry pPort = (PPortEntry)hPort;
    if (!pPort || PortState(pPort) < PORT_STATE_DOC_STARTED) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return MonTraceOutBool(W("JTMXEndDocPort"), FALSE);
    }
    FlushHeldBytes(pPort);
    if (IsByteCountPort(pPort) && !pPort->bStartDocFailed && pPort->bHeaderParsed)
        SendJobReport(pPort, JOBEVENT_JOBSTART, W("EndDoc"), TRUE);
    HANDLE hPrinter = OpenFlowPrinter(pPort);
    BOOL bWasPaused = (FlowJobStatus(hPrinter, pPort->dwJobId) & JOB_STATUS_PAUSED) != 0;
    int nStopCode = 0;
    int nError = 0;
    BOOL bResult = TRUE;
    if (IsLprPort(pPort))
        LPREndDocPort(pPort, &nStopCode, &nError);
    else
        bResult = RawEndDocPort(pPort);
    BOOL bPauseRequested = TakePauseRequest(pPort);
    if (nStopCode == LPR_STOP_ERROR)
        EndStoppedLprJob(pPort, hPrinter, nError);
    else
        SettleJobState(pPort, hPrinter, bWasPaused, bPauseRequested);
    ClosePrinterIfOpen(hPrinter);
    if (bResult) {
        pPort->dwJobId = 0;
        memset(pPort->wszPrinterName, 0, sizeof(pPort->wszPrinterName));
    } else {
        ReportPortFailure(pPort, W("EndDoc"));
    }
    SetPortState(pPort, PORT_STATE_IDLE);
    return MonTraceOutBool(W("JTMXEndDocPort"), TRUE);
}
