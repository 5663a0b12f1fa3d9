// Event-log entries made of client-library results.
#include "JobUtilities.h"

#include <string>

#include "ServiceEvents.h"
#include "ServiceStrings.h"
#include "ServiceTrace.h"

namespace {

WString loadText(UINT id, const WCHAR* fallback)
{
    WCHAR text[SERVICE_TEXT_CHARS];
    return id && LoadStringW(nullptr, id, text, SERVICE_TEXT_CHARS) > 0 ? WString(text) : WString(fallback);
}

WString hexCode(DWORD code)
{
    WCHAR text[16];
    swprintf_s(text, 16, W("0x%08x"), code);
    return text;
}

WString decimal(DWORD value)
{
    WCHAR text[16];
    swprintf_s(text, 16, W("%lu"), value);
    return text;
}

void write(WORD type, DWORD eventId, std::initializer_list<const WString*> strings)
{
    LPCWSTR texts[4];
    WORD count = 0;
    for (const WString* text : strings)
        texts[count++] = text->c_str();
    WriteServiceEvent(type, eventId, count, texts);
}

} // namespace

void OutputInitTrackEventLog(LPCWSTR printer, WORD status)
{
    UINT reasonId = status == 0xFFF0 ? IDS_REASON_NO_ADDRESS
                    : status == 0xFFF1 ? IDS_REASON_NO_ANSWER
                    : status == 0xFFF2 ? IDS_REASON_NOT_SUPPORTED
                                       : 0;
    UINT actionId = status == 0xFFF0 ? IDS_ACTION_CHECK_PORT
                    : (status == 0xFFF1 || status == 0xFFF2) ? IDS_ACTION_CHECK_PRINTER
                                                             : 0;
    WString name = printer, reason = loadText(reasonId, W("Unknown Reason"));
    WString action = loadText(actionId, W("Unknown Action"));
    write(EVENTLOG_WARNING_TYPE, JTRK_EVENT_NOT_TRACKED, {&name, &reason, &action});
}

void OutputInitTrackFailedLog(LPCWSTR printer, DMLLIB_RESULTCODE code)
{
    WString name = printer, action = loadText(IDS_ACTION_SUBSCRIBE_AGAIN, W("Unknown Action"));
    WString text = hexCode(code);
    write(EVENTLOG_ERROR_TYPE, JTRK_EVENT_SUBSCRIBE_FAILED, {&name, &action, &text});
}

void OutputGet2EventLog(LPCWSTR printer, DMLLIB_RESULTCODE code)
{
    WString name = printer, text = hexCode(code);
    write(EVENTLOG_ERROR_TYPE, JTRK_EVENT_STATUS_ERROR, {&name, &text});
}

void OutputCnclTrcEventLog(LPCWSTR printer, DMLLIB_RESULTCODE code, DWORD jobId, DWORD eventId)
{
    WString name = printer, job = decimal(jobId), document, text = hexCode(code);
    JOB_INFO_1W* info = nullptr;
    if (GetPrintJobInfo(printer, jobId, &info) == JOBREAD_FOUND) {
        if (info->pDocument)
            document = info->pDocument;
        LocalFree(info);
    }
    write(EVENTLOG_ERROR_TYPE, eventId, {&name, &job, &document, &text});
}

void OutputInternalErrEventLog(LPCWSTR printer, DMLLIB_RESULTCODE code, UINT apiId)
{
    WString name = printer, api = loadText(apiId, W("Unknown API")), text = hexCode(code);
    write(EVENTLOG_ERROR_TYPE, JTRK_EVENT_CLIB_ERROR, {&name, &api, &text});
}

void OutputClibSuccessEventLog(LPCWSTR printer, DWORD eventId)
{
    WString name = printer;
    write(EVENTLOG_INFORMATION_TYPE, eventId, {&name});
}

void OutputClibErrEventLog(LPCWSTR printer, DMLLIB_RESULTCODE code, UINT apiId, DWORD jobId)
{
    if (!printer || code == 0 || apiId == 0)
        return;
    WORD status = DMLLIB_RESULT_STATUS(code);
    DWORD phase = code >> 16;
    if (status == 0xFFF0 || status == 0xFFF1 || status == 0xFFF2) {
        OutputInitTrackEventLog(printer, status);
        return;
    }
    switch (apiId) {
    case IDS_API_CHECKDEVICE:
    case IDS_API_RELEASEBUFF:
        return;
    case IDS_API_GETSTATUSINFO:
    case IDS_API_GETCLIENTJOBID:
        if (phase == DMLLIB_PHASE_GET2)
            OutputGet2EventLog(printer, code);
        else
            OutputInternalErrEventLog(printer, code, apiId);
        return;
    case IDS_API_TRACEJOB:
        if (jobId == 0)
            return;
        if (phase == DMLLIB_PHASE_TRACEJOB)
            OutputCnclTrcEventLog(printer, code, jobId, JTRK_EVENT_TRACE_ERROR);
        else
            OutputInternalErrEventLog(printer, code, apiId);
        return;
    case IDS_API_CANCELJOB:
        if (jobId == 0)
            return;
        if (phase >= DMLLIB_PHASE_CANCELJOB && phase <= DMLLIB_PHASE_LISTOBJECTS2)
            OutputCnclTrcEventLog(printer, code, jobId, JTRK_EVENT_CANCEL_ERROR);
        else
            OutputInternalErrEventLog(printer, code, apiId);
        return;
    case IDS_API_SUBSCRIBEEVENT:
        if (phase == DMLLIB_PHASE_SUBSCRIBE || phase == DMLLIB_PHASE_SUBSCRIBE2)
            OutputInitTrackFailedLog(printer, code);
        else
            OutputInternalErrEventLog(printer, code, apiId);
        return;
    default:
        return;
    }
}
