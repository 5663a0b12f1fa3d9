#include "clDMLLIB_TraceJob.h"

#include <algorithm>
#include <cstring>

#include "ClibTrace.h"

namespace {

// With the count option a listed job's impressions come with its state: a job found completed on
// the device gives its last count even when the device's event of it was lost.
const WORD kJobAttributes[] = {CLIB_ATTR_CLIENT_JOB_ID, CLIB_ATTR_JOB_STATE2, CLIB_ATTR_IMPRESSIONS};
const uint8_t kLogRequestKind = 2;
const uint8_t kLogResultKind = 2;
const BYTE kNoCompletionId = 255;
const BYTE kCompletionDone = 1;
const BYTE kCompletionCancelled = 6;
const BYTE kJobStateFailed = 1;
const BYTE kJobStateCompleted = 9;
const DmlpStatus kUnknownObject = 8;
// Objects asked for in one attribute request: their reply (about 100 bytes each) fits a datagram.
const size_t kObjectsPerRequest = 64;

} // namespace

clDMLLIB_TraceJob::clDMLLIB_TraceJob(DmlpInstance hAplh, const WCHAR* lpPortName, const ClJobID* lpClJobID,
                                     int nCountOption)
    : clDMLLIB_Operation(hAplh, lpPortName), m_ClJobID{}, m_byRtnTrace(DMLLIB_TRACE_FAILED),
      m_nCountOption(nCountOption)
{
    clClientJobId ids;
    ids.Copy(lpClJobID, &m_ClJobID);
}

WORD clDMLLIB_TraceJob::rtnSearchObjects(const DWORD* lpHandles, WORD wHandles, BYTE* lpbyState,
                                         DWORD* lpImprCompCnt)
{
    DmlpGet2Result reply;
    const WORD attributes = m_nCountOption ? 3 : 2;
    WORD rtnRet = rtnGet2Objects(0, lpHandles, wHandles, kJobAttributes, attributes, &reply);
    if (rtnRet == DMLP_SUCCESS) {
        // Object by object, as if each had been asked for alone.
        for (uint16_t i = 0; *lpbyState == 0 && reply.objects && i < reply.count; ++i) {
            DmlpGet2Result one = reply;
            one.objects = &reply.objects[i];
            one.count = 1;
            DWORD matched = 0;
            if (bGetMatchedObjectHandle(&one, &m_ClJobID, &matched)) {
                auto* state = static_cast<const ClibJobState2*>(
                    ClibAttributeValue(one.objects->attributes, one.objects->count, CLIB_ATTR_JOB_STATE2));
                *lpbyState = state ? state->State : 0;
                CLIB_TRACE(W("Return Value byRtn = [%ld]"), static_cast<LONG>(*lpbyState));
                if (m_nCountOption && *lpbyState == kJobStateCompleted)
                    bGetJobOutputCnt(one.objects, lpImprCompCnt);
            }
        }
        if (*lpbyState == 0)
            rtnRet = DMLPLIBERR_OTHER_ERROR;
    }
    return rtnFreeMemory(rtnRet, &reply.buffer);
}

// The listed objects are asked for many at a time (a device keeps done jobs listed for a while, so
// the list of a busy device is long); when such a request fails (an object left the device
// meanwhile, or the reply did not come whole), its objects are asked for one by one. The search
// goes on past time-outs and incomplete replies; when no object matched, such a reply is what is
// reported, since the job may have been the object that did not answer.
WORD clDMLLIB_TraceJob::rtnDoGet2(BYTE* lpbyState, DWORD* lpImprCompCnt)
{
    WORD rtnRet = DMLP_SUCCESS;
    WORD transient = DMLP_SUCCESS;
    *lpbyState = 0;
    auto note = [&](WORD status) {
        if (status == DMLP_TIMEOUT || status == DMLP_INCOMPLETE_REPLY)
            transient = status;
    };
    for (size_t first = 0; *lpbyState == 0 && first < m_Handles.size(); first += kObjectsPerRequest) {
        const WORD count = static_cast<WORD>(std::min(kObjectsPerRequest, m_Handles.size() - first));
        rtnRet = rtnSearchObjects(&m_Handles[first], count, lpbyState, lpImprCompCnt);
        bool requestFailed = rtnRet != DMLP_SUCCESS && rtnRet != DMLPLIBERR_OTHER_ERROR;
        if (count == 1 || !requestFailed) {
            note(rtnRet);
            continue;
        }
        for (size_t i = first; *lpbyState == 0 && i < first + count; ++i) {
            rtnRet = rtnSearchObjects(&m_Handles[i], 1, lpbyState, lpImprCompCnt);
            note(rtnRet);
        }
    }
    bool noMatch = rtnRet == DMLPLIBERR_OTHER_ERROR || rtnRet == kUnknownObject;
    return noMatch && transient != DMLP_SUCCESS ? transient : rtnRet;
}

void clDMLLIB_TraceJob::vJudgeJobState(WORD* lpStatus, BYTE byState)
{
    switch (*lpStatus) {
    case DMLP_SUCCESS:
        m_byRtnTrace = byState == kJobStateFailed      ? DMLLIB_TRACE_FAILED
                       : byState == kJobStateCompleted ? DMLLIB_TRACE_COMPLETED
                                                       : DMLLIB_TRACE_PROCESSING;
        return;
    case DMLP_INCOMPLETE_REPLY:
        CLIB_TRACE(W("Imperfect rtnDoGet2."));
        m_byRtnTrace = DMLLIB_TRACE_INCOMPLETE;
        break;
    case DMLP_TIMEOUT:
        CLIB_TRACE(W("Time out rtnDoGet2."));
        m_byRtnTrace = DMLLIB_TRACE_PROCESSING;
        break;
    case DMLPLIBERR_OTHER_ERROR:
        CLIB_TRACE(W("Other error rtnDoGet2."));
        m_byRtnTrace = DMLLIB_TRACE_UNKNOWN;
        break;
    case kUnknownObject:
        CLIB_TRACE(W("Unknown Object rtnDoGet2."));
        m_byRtnTrace = DMLLIB_TRACE_UNKNOWN;
        break;
    default:
        CLIB_ERROR(CLIB_ERROR_GENERAL);
        CLIB_TRACE(W("Failed rtnDoGet2."));
        m_byRtnTrace = DMLLIB_TRACE_FAILED;
        return;
    }
    *lpStatus = DMLP_SUCCESS;
}

BYTE clDMLLIB_TraceJob::byGetJobCompIDinLog(const DmlpTraceJobResult* lpResult)
{
    BYTE byRet = kNoCompletionId;
    const void* value = ClibAttributeValue(lpResult->attributes, lpResult->count, CLIB_ATTR_JOB_COMPLETION);
    if (value)
        byRet = *static_cast<const BYTE*>(value);
    CLIB_TRACE(W("Return Value byRet = [%d]"), byRet);
    return byRet;
}

DWORD clDMLLIB_TraceJob::GetImprCompCnt(const DmlpTraceJobResult* lpResult)
{
    DWORD ImprCompCnt = 0;
    CLIB_TRACE(W("TraceJob List.Count:[%ld]"), static_cast<LONG>(lpResult->count));
    for (uint16_t i = 0; lpResult->attributes && i < lpResult->count; ++i) {
        const DmlpAttributeEntry& entry = lpResult->attributes[i];
        if (entry.id == CLIB_ATTR_IMPRESSIONS && entry.value && entry.length == 0)
            memcpy(&ImprCompCnt, entry.value, sizeof ImprCompCnt);
    }
    CLIB_TRACE(W("Return Value ImprCompCnt = [%ld]"), ImprCompCnt);
    return ImprCompCnt;
}

WORD clDMLLIB_TraceJob::rtnAskJobLog(const DmlpTraceJobParams* lpRequest, BOOL bPause, BYTE* lpbyJobCompID,
                                     DWORD* lpImprCompCnt, BOOL* lpbFiled)
{
    DmlpTraceJobResult result = {};
    WORD rtnRet = rtnTraceJob(lpRequest, &result, bPause);
    *lpbFiled = FALSE;
    if (rtnRet == DMLP_SUCCESS && result.kind == kLogResultKind) {
        *lpbFiled = ClibAttributeValue(result.attributes, result.count, CLIB_ATTR_JOB_COMPLETION) != nullptr;
        *lpbyJobCompID = byGetJobCompIDinLog(&result);
        *lpImprCompCnt = m_nCountOption ? GetImprCompCnt(&result) : 0;
    }
    return rtnFreeMemory(rtnRet, &result.buffer);
}

// The log is asked at once: a job that left the device a while ago is filed, and a trace that
// waited first would hold up the caller (the service's one job-control thread, for every printer).
// Only a job the log does not hold yet is asked for again, after the pause in which the device
// files a job that has just left it.
WORD clDMLLIB_TraceJob::rtnDoTraceJob(BYTE* lpbyJobCompID, DWORD* lpImprCompCnt)
{
    static const uint16_t withCount[] = {CLIB_ATTR_JOB_COMPLETION, CLIB_ATTR_IMPRESSIONS};
    DmlpTraceJobParams request = {};
    request.value1 = CLIB_JOB_CLASS;
    request.value2 = kLogRequestKind;
    memcpy(&request.clJobId, &m_ClJobID, sizeof request.clJobId);
    request.attributeIdCount = m_nCountOption ? 2 : 1;
    request.attributeIds = withCount;
    BOOL bFiled = FALSE;
    WORD rtnRet = rtnAskJobLog(&request, FALSE, lpbyJobCompID, lpImprCompCnt, &bFiled);
    bool notYetFiled = (rtnRet == DMLP_SUCCESS && !bFiled) || rtnRet == kUnknownObject;
    if (notYetFiled)
        rtnRet = rtnAskJobLog(&request, TRUE, lpbyJobCompID, lpImprCompCnt, &bFiled);
    return rtnRet;
}

WORD clDMLLIB_TraceJob::rtnExecute(WORD wStartStatus, DWORD* lpImprCompCnt)
{
    if (!bCheckBind()) {
        m_byRtnTrace = DMLLIB_TRACE_FAILED;
        return rtnNotBound(wStartStatus);
    }
    WORD rtnRet = rtnDoListObjects2();
    if (rtnRet == DMLP_SUCCESS && m_Handles.empty()) {
        CLIB_TRACE(W("rtnDoListObjects2 no Objects."));
        m_byRtnTrace = DMLLIB_TRACE_UNKNOWN;
    } else if (rtnRet == DMLP_SUCCESS) {
        BYTE state = 0;
        rtnRet = rtnDoGet2(&state, lpImprCompCnt);
        vJudgeJobState(&rtnRet, state);
    } else if (rtnRet == DMLP_TIMEOUT) {
        CLIB_TRACE(W("Time out rtnDoListObjects2."));
        rtnRet = DMLP_SUCCESS;
        m_byRtnTrace = DMLLIB_TRACE_PROCESSING;
    } else {
        CLIB_ERROR(CLIB_ERROR_GENERAL);
        CLIB_TRACE(W("Failed rtnDoListObjects2."));
        m_byRtnTrace = DMLLIB_TRACE_FAILED;
    }

    if (m_byRtnTrace == DMLLIB_TRACE_UNKNOWN || m_byRtnTrace == DMLLIB_TRACE_INCOMPLETE) {
        BYTE byJobCompID = kNoCompletionId;
        WORD logged = rtnDoTraceJob(&byJobCompID, lpImprCompCnt);
        CLIB_TRACE(W("rtnDoTraceJob rtnRet:[%d] byJobCompID:[%d]"), logged, byJobCompID);
        if (logged == DMLP_SUCCESS && byJobCompID == kCompletionDone)
            m_byRtnTrace = DMLLIB_TRACE_COMPLETED;
        else if (logged == DMLP_SUCCESS && byJobCompID == kCompletionCancelled)
            m_byRtnTrace = DMLLIB_TRACE_CANCELLED;
        else if (logged != DMLP_SUCCESS && logged != kUnknownObject)
            m_byRtnTrace = DMLLIB_TRACE_PROCESSING; // a log that did not answer tells nothing of the job
        rtnRet = DMLP_SUCCESS;
        if (m_byRtnTrace == DMLLIB_TRACE_INCOMPLETE)
            m_byRtnTrace = DMLLIB_TRACE_PROCESSING;
    }
    CLIB_TRACE(W("Return Value rtnRet = [%ld]"), static_cast<LONG>(rtnRet));
    return rtnRet;
}
