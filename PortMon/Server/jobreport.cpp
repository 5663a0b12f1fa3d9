// Job reports to the tracking service over its named pipe.
#include <cstdlib>
#include <cstring>

#include "jtrkmon.h"

static void CopyWide(WCHAR* pszField, size_t cchField, LPCWSTR pszText)
{
    size_t cch = wcsnlen(pszText, cchField - 1);
    memcpy(pszField, pszText, cch * sizeof(WCHAR));
}

static void FillJobReport(const PortEntry* pPort, DWORD dwMessageId, JobEventRequest* pRequest)
{
    pRequest->dwSize = sizeof(JobEventRequest);
    pRequest->dwMessageID = dwMessageId;
    pRequest->dwFlags = JOBEVENT_FLAG_ALWAYS;
    CopyWide(pRequest->wszPrnName, _countof(pRequest->wszPrnName), pPort->wszPrinterName);
    pRequest->dwJobId = pPort->dwJobId;
    pRequest->dwNup = pPort->dwNup;
    if (dwMessageId != JOBEVENT_JOBSTART)
        return;
    memcpy(pRequest->szPauName, pPort->szPauName, sizeof(pRequest->szPauName) - 1);
    memcpy(pRequest->ClientJobId, pPort->ClientJobId, sizeof(pRequest->ClientJobId));
    CopyWide(pRequest->wszPortName, _countof(pRequest->wszPortName), pPort->pszPortName);
}

// The job's document name, read on a printer handle of its own; NULL when it cannot be read.
static LPWSTR ReadDocumentName(const PortEntry* pPort)
{
    HANDLE hPrinter = NULL;
    if (!g_MonSys.pfnOpenPrinterW((LPWSTR)pPort->wszPrinterName, &hPrinter, NULL))
        return NULL;
    LPWSTR pszDocument = NULL;
    LPBYTE pJob = QueryJob(hPrinter, pPort->dwJobId, 1);
    LPCWSTR pszName = pJob ? ((PJOB_INFO_1W)pJob)->pDocument : NULL;
    if (pszName) {
        size_t cb = (wcslen(pszName) + 1) * sizeof(WCHAR);
        pszDocument = (LPWSTR)malloc(cb);
        if (pszDocument)
            memcpy(pszDocument, pszName, cb);
    }
    free(pJob);
    g_MonSys.pfnClosePrinter(hPrinter);
    return pszDocument;
}

// Event 0xC0000012: error, operation, printer, job id and, when asked, the document name (empty
// when it cannot be read).
static void ReportPipeFailure(const PortEntry* pPort, DWORD dwError, LPCWSTR pszOperation, BOOL bWithDocument)
{
    WCHAR szError[16];
    WCHAR szJobId[16];
    swprintf_s(szError, _countof(szError), W("0x%08x"), dwError);
    swprintf_s(szJobId, _countof(szJobId), W("%d"), (int)pPort->dwJobId);
    LPWSTR pszDocument = bWithDocument ? ReadDocumentName(pPort) : NULL;
    LPCWSTR strings[5] = {szError, pszOperation, pPort->wszPrinterName, szJobId, pszDocument ? pszDocument : W("")};
    JTMXReportEvent(JTMX_EVENT_SOURCE, EVENTLOG_ERROR_TYPE, 0, JTMX_EVENT_PIPE_FAILED, bWithDocument ? 5 : 4,
                    strings);
    free(pszDocument);
}

BOOL SendJobReport(PPortEntry pPort, DWORD dwMessageId, LPCWSTR pszOperation, BOOL bWithDocument)
{
    MonTraceIn(W("SendJobReport"));
    // Without memory for them the report is skipped; the job goes on.
    JobEventRequest* pRequest = (JobEventRequest*)LocalAlloc(LPTR, sizeof(JobEventRequest));
    JobEventRequest* pReply = (JobEventRequest*)LocalAlloc(LPTR, sizeof(JobEventRequest));
    BOOL bSent = FALSE;
    if (pRequest && pReply) {
        FillJobReport(pPort, dwMessageId, pRequest);
        DWORD cbRead = 0;
        EnterCriticalSection(&csPipeCall);
        // The service's pipe has one instance, free again once the service has answered the
        // previous report: wait for it as long as the pipe says (a missing pipe fails at once).
        bSent = g_MonSys.pfnCallNamedPipeW(JTRK_SERVICE_PIPE_NAME, pRequest, sizeof(*pRequest), pReply,
                                           sizeof(*pReply), &cbRead, NMPWAIT_USE_DEFAULT_WAIT);
        DWORD dwError = bSent ? ERROR_SUCCESS : GetLastError();
        LeaveCriticalSection(&csPipeCall);
        if (!bSent)
            ReportPipeFailure(pPort, dwError, pszOperation, bWithDocument);
    }
    LocalFree(pRequest);
    LocalFree(pReply);
    return MonTraceOutBool(W("SendJobReport"), bSent);
}
