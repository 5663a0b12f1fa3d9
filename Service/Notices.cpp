#include "Notices.h"

#include <algorithm>
#include <string>
#include <vector>

#include "DevMsgTable.h"
#include "JobUtilities.h"
#include "NoticeJobState.h"
#include "OutsideTexts.h"
#include "ServiceEvents.h"
#include "TraceLog.h"
#include "resource.h"

namespace {

const char kSource[] = "PrintMgrNotice";
const WCHAR kUnknownReason[] = W("Unknown Reason");
// The document the print manager may rewrite: at least a path's worth of characters.
constexpr size_t kDocumentChars = 260;
// Attribute record of SendPrintStatus: count 4, six DWORDs.
constexpr DWORD kAttributeCount = 4;
constexpr DWORD kPageCountSlotBytes = 8;

// Frees a JOB_INFO record of the spooler readers at the end of the scope.
template <class Info>
struct JobInfo {
    Info* info = nullptr;
    ~JobInfo() { LocalFree(info); }
};

WString decimal(long long value)
{
    WCHAR text[24];
    swprintf_s(text, W("%I64d"), value);
    return text;
}

WString wideOf(LPCSTR ansi)
{
    int length = ansi ? MultiByteToWideChar(CP_ACP, 0, ansi, -1, nullptr, 0) : 0;
    if (length <= 1)
        return {};
    WString wide(static_cast<size_t>(length), W('\0'));
    MultiByteToWideChar(CP_ACP, 0, ansi, -1, wide.data(), length);
    wide.resize(static_cast<size_t>(length) - 1);
    return wide;
}

void writeError(DWORD eventId, const std::vector<WString>& texts)
{
    std::vector<LPCWSTR> strings;
    for (const WString& text : texts)
        strings.push_back(text.c_str());
    WriteServiceEvent(EVENTLOG_ERROR_TYPE, eventId, static_cast<WORD>(strings.size()), strings.data());
}

WString refusalReason(int result)
{
    UINT id = result == -2   ? IDS_PRINTMGR_NOT_RUNNING
              : result == -3 ? IDS_PRINTMGR_NO_PRINTER
              : result == -4 ? IDS_PRINTMGR_NO_JOB
              : result == -5 ? IDS_PRINTMGR_NO_DOCUMENT
                             : 0;
    WCHAR text[256];
    int length = id ? LoadStringW(GetModuleHandleW(nullptr), id, text, 256) : 0;
    return length > 0 ? WString(text, static_cast<size_t>(length)) : WString(kUnknownReason);
}

// A start notice the print manager did not take.
void reportStartFailure(int result, DWORD error, LPCWSTR printer, DWORD jobId, LPCWSTR document)
{
    if (result == -1)
        writeError(JTRK_EVENT_NOTICE_FAILED, {decimal(error), printer, decimal(jobId), document});
    else
        writeError(JTRK_EVENT_NOTICE_REFUSED, {printer, decimal(jobId), document, refusalReason(result)});
}

struct Devmode {
    DWORD copies = 1;
    DWORD collate = 0;
    DWORD duplex = 0;
    DWORD color = 0;
    bool read = false;
};

// The job's print settings; copies 1, collate 0 and the rest 0 without job information or DEVMODE.
Devmode devmodeOf(const JOB_INFO_2W* job)
{
    Devmode settings;
    if (!job || !job->pDevMode)
        return settings;
    const DEVMODEW* devmode = job->pDevMode;
    settings.copies = static_cast<DWORD>(devmode->dmCopies);
    settings.collate = static_cast<DWORD>(devmode->dmCollate);
    settings.duplex = static_cast<DWORD>(devmode->dmDuplex);
    settings.color = static_cast<DWORD>(static_cast<LONG>(devmode->dmColor));
    settings.read = true;
    return settings;
}

Devmode readDevmode(LPCWSTR printer, DWORD jobId)
{
    JobInfo<JOB_INFO_2W> job;
    return devmodeOf(GetPrintJobInfo2(printer, jobId, &job.info) == JOBREAD_FOUND ? job.info : nullptr);
}


// Impressions as pages: a collated job of several copies reports 0, an uncollated one the count
// per copy.
DWORD pagesOf(DWORD impressions, const Devmode& settings)
{
    if (settings.copies <= 1)
        return impressions;
    return settings.collate == 1 ? 0 : impressions / settings.copies;
}

// ExternSendStatus; the print settings come from the job's record when one is given.
int externSendStatus(JTRKServiceContext* context, LPCWSTR printer, DWORD jobId, DWORD status, PrNoticeInfo* notice,
                     LPCSTR text, const SpoolerJobA* job)
{
    g_TraceLog.vTraceFunction(W(""), 2, TRACE_MARKER_FUNCTION_IN, kSource, "ExternSendStatus");
    WString port = NoticeJobPort(context, jobId);
    bool sdk = context && NoticeSdkMode(context, port.c_str(), printer);
    DWORD pageSlot[kPageCountSlotBytes / sizeof(DWORD)] = {}; // the count in a zeroed 8-byte slot
    DWORD extCount = 0;
    if (context && context->GetPageCount && !sdk) {
        Devmode settings = job ? devmodeOf(job->Details()) : readDevmode(printer, jobId);
        ULONG jobs = NoticeJobCount(context, printer);
        g_TraceLog.vPrintMessage(kSource, "ExternSendStatus", W("SDKNoUse PrnName:[%ls] JobCnt:[%ld]"), printer, jobs);
        DWORD impressions = 0;
        if (jobs > 0 && NoticeImpressionCount(context, printer, jobId, &impressions)) {
            pageSlot[0] = pagesOf(impressions, settings);
            extCount = 1;
            g_TraceLog.vPrintMessage(kSource, "ExternSendStatus",
                                     W("SDKNoUse PrnName:[%ls] SysJobID:[%08d] ImprCompCnt:[%ld]"), printer, jobId,
                                     pageSlot[0]);
        }
    } else if (!sdk) {
        g_TraceLog.vPrintMessage(kSource, "ExternSendStatus",
                                 W("Not PageCount PrnName:[%ls] SysJobID:[%08d] ImprCompCnt:[-]"), printer, jobId);
    }
    int result = PrStatusSendExD(printer, jobId, status, extCount, extCount ? pageSlot : nullptr,
                                 extCount ? kPageCountSlotBytes : 0, notice, text);
    g_TraceLog.vPrintMessage(kSource, "ExternSendStatus", W("Return Value:[%ld]"), result);
    g_TraceLog.vTraceFunction(W(""), 2, TRACE_MARKER_FUNCTION_OUT, kSource, "ExternSendStatus");
    return result;
}

} // namespace

DWORD NupCode(DWORD nup)
{
    switch (nup) {
    case 2: return 1;
    case 3: return 2;
    case 4: return 4;
    case 5: return 8;
    case 6: return 9;
    case 7: return 16;
    case 9: return 6;
    default: return 0;
    }
}

int SendNoticeStart(LPCWSTR printer, DWORD jobId)
{
    g_TraceLog.vTraceFunction(W(""), 2, TRACE_MARKER_FUNCTION_IN, kSource, "SendNoticeStart");
    JobInfo<JOB_INFO_1W> job;
    if (!printer || jobId == 0 || GetPrintJobInfo(printer, jobId, &job.info) != JOBREAD_FOUND)
        return -1;
    LPCWSTR given = job.info->pDocument ? job.info->pDocument : W("");
    std::vector<WCHAR> document(std::max<size_t>(lstrlenW(given) + 1, kDocumentChars), 0);
    std::copy(given, given + lstrlenW(given), document.begin());
    HANDLE notice = nullptr;
    int result = PrStatusNoticeStartExD(printer, jobId, 1, document.data(), static_cast<DWORD>(document.size()), 7,
                                        &notice);
    DWORD error = GetLastError();
    if (result < 0)
        reportStartFailure(result, error, printer, jobId, document.data());
    g_TraceLog.vPrintMessage(kSource, "SendNoticeStart", W("Printer Name:[%ls] JobID:[%ld] Document Name:[%ls]"),
                             printer, jobId, document.data());
    LocalFree(notice); // no handle is kept between the start and the end notice
    g_TraceLog.vTraceFunction(W(""), 2, TRACE_MARKER_FUNCTION_OUT, kSource, "SendNoticeStart");
    return result;
}

int SendStatus(JTRKServiceContext* context, LPCWSTR printer, DWORD jobId, DWORD status, const DevMsgRecord* record)
{
    if (!printer || jobId == 0 || status == 0)
        return -1;
    SpoolerJobA job(printer, jobId);
    return SendStatusOfJob(context, printer, jobId, status, record, job);
}

int SendStatusOfJob(JTRKServiceContext* context, LPCWSTR printer, DWORD jobId, DWORD status,
                    const DevMsgRecord* record, const SpoolerJobA& job)
{
    g_TraceLog.vTraceFunction(W(""), 2, TRACE_MARKER_FUNCTION_IN, kSource, "SendStatus");
    if (!printer || jobId == 0 || status == 0 || job.read == JOBREAD_FAILED)
        return -1;
    bool sent = true;
    int result;
    DWORD error = 0;
    if (!job.info || !record || record->uErrAction != ERRACT_NOTICE) {
        g_TraceLog.vPrintMessage(kSource, "SendStatus", W("call ExternSendStatus"));
        result = externSendStatus(context, printer, jobId, status, nullptr, nullptr, &job);
        error = GetLastError();
    } else {
        LPSTR text = FormatDeviceText(GetDevMsgTextId(record), job.info->pPrinterName, job.info->pDocument,
                                      job.info->pUserName);
        LPSTR sender = text ? AllocSenderName() : nullptr;
        sent = sender != nullptr;
        result = -1;
        if (sent) {
            PrNoticeInfo notice = {LOWORD(record->dwMsgNo), LOWORD(record->dwMsgType), 0, sender};
            g_TraceLog.vPrintMessage(kSource, "SendStatus", W("call ExternSendStatus [PARLEY]"));
            result = externSendStatus(context, printer, jobId, status, &notice, text, &job);
        }
        error = GetLastError();
        LocalFree(text);
        FreeSenderName(sender);
    }
    WString document = job.info ? wideOf(job.info->pDocument) : WString();
    if (result == -1 || !sent) {
        std::vector<WString> strings = {decimal(error), printer, decimal(jobId)};
        if (job.info)
            strings.push_back(document);
        writeError(JTRK_EVENT_STATUS_FAILED, strings);
        result = -1;
    }
    if (job.info)
        g_TraceLog.vPrintMessage(kSource, "SendStatus",
                                 W("Printer Name:[%ls] JobID:[%ld] Status:[%08d] lRet:[%ld] Document Name:[%ls]"),
                                 printer, jobId, status, result, document.c_str());
    else
        g_TraceLog.vPrintMessage(kSource, "SendStatus",
                                 W("Printer Name:[%ls] JobID:[%ld] Status:[%08d] lRet:[%ld] Document Name:Unknown"),
                                 printer, jobId, status, result);
    g_TraceLog.vTraceFunction(W(""), 2, TRACE_MARKER_FUNCTION_OUT, kSource, "SendStatus");
    return result;
}

int ExternSendStatus(JTRKServiceContext* context, LPCWSTR printer, DWORD jobId, DWORD status, PrNoticeInfo* notice,
                     LPCSTR text)
{
    return externSendStatus(context, printer, jobId, status, notice, text, nullptr);
}

int SendPrintStatus(JTRKServiceContext* context, LPCWSTR printer, DWORD jobId, DWORD nup)
{
    g_TraceLog.vTraceFunction(W(""), 2, TRACE_MARKER_FUNCTION_IN, kSource, "SendPrintStatus");
    WString port = NoticeJobPort(context, jobId);
    if (context && NoticeSdkMode(context, port.c_str(), printer))
        return 0;
    Devmode settings = readDevmode(printer, jobId);
    DWORD attributes[6] = {1, NupCode(nup), 0, 0, 0, 0};
    if (settings.read) {
        attributes[2] = settings.duplex;
        attributes[3] = settings.copies;
        attributes[5] = settings.color;
    }
    g_TraceLog.vPrintMessage(kSource, "SendPrintStatus", W("Nup = %d"), attributes[1]);
    int result = PrStatusSendExD(printer, jobId, 0, kAttributeCount, attributes, sizeof attributes, nullptr, nullptr);
    g_TraceLog.vTraceFunction(W(""), 2, TRACE_MARKER_FUNCTION_OUT, kSource, "SendPrintStatus");
    return result;
}

int SendNoticeEnd(LPCWSTR printer, DWORD jobId)
{
    g_TraceLog.vTraceFunction(W(""), 2, TRACE_MARKER_FUNCTION_IN, kSource, "SendNoticeEnd");
    if (!printer || jobId == 0)
        return -1;
    int result = PrStatusNoticeEndD(printer, jobId);
    if (result == -1) {
        std::vector<WString> strings = {decimal(GetLastError()), printer, decimal(jobId)};
        JobInfo<JOB_INFO_1W> job;
        if (GetPrintJobInfo(printer, jobId, &job.info) == JOBREAD_FOUND)
            strings.push_back(job.info->pDocument ? job.info->pDocument : W(""));
        writeError(JTRK_EVENT_NOTICE_END_FAILED, strings);
    }
    g_TraceLog.vPrintMessage(kSource, "SendNoticeEnd", W("Printer Name:[%ls] JobID:[%ld]"), printer, jobId);
    g_TraceLog.vTraceFunction(W(""), 2, TRACE_MARKER_FUNCTION_OUT, kSource, "SendNoticeEnd");
    return result;
}
