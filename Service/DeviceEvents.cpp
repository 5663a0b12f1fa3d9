#include "DeviceEvents.h"

#include <cstring>
#include <vector>

#include "JTRKCLIB.h"
#include "JobUtilities.h"
#include "ServiceStrings.h"
#include "ServiceTrace.h"
#include "ThreadMessages.h"
#include "VxDmlpResults.h"
#include "WatchDevice.h"

namespace {

const char kSource[] = "WatchDevice";

#define CB_TRACE(...) SVC_TRACE(kSource, "CBSubEvent", __VA_ARGS__)

const WCHAR* messageName(UINT message)
{
    switch (message) {
    case JTRK_MSG_JOBEVENT:
        return W("JTRK_MSG_JOBEVENT");
    case JTRK_MSG_JOBEXECUTING:
        return W("JTRK_MSG_JOBEXECUTING");
    default:
        return W("JTRK_MSG_JOBIMPRESSCNT");
    }
}

// Posts the record to ControlJobThread once for every printer on the device, each with its own
// copy; the names posted are stored in the service's address map and live until shutdown.
template <typename Record>
void fanOut(const SubscribeContext* subscriber, UINT message, Record* record)
{
    IPAddressPrinterMap* map = subscriber->pContext ? subscriber->pContext->IPAddrMap : nullptr;
    std::vector<LPCWSTR> names;
    if (map)
        names = map->Names(subscriber->dwIPAddress);
    if (!names.empty()) {
        CB_TRACE(W("Find Same IPAddress Printer"));
        for (LPCWSTR name : names) {
            Record* copy = new Record(*record);
            BOOL posted = PostThreadMessageW(subscriber->dwControlJobThreadId, message, reinterpret_cast<WPARAM>(name),
                                             reinterpret_cast<LPARAM>(copy));
            CB_TRACE(posted ? W("PostThreadMessage[%s]: %ls Success") : W("PostThreadMessage[%s]: %ls Fail"), name,
                     messageName(message));
            if (!posted)
                delete copy;
        }
        delete record;
        return;
    }
    LPCWSTR name = map ? map->Intern(subscriber->wszPrinterName) : nullptr;
    BOOL posted = name && PostThreadMessageW(subscriber->dwControlJobThreadId, message, reinterpret_cast<WPARAM>(name),
                                             reinterpret_cast<LPARAM>(record));
    CB_TRACE(posted ? W("PostThreadMessage: %ls Success") : W("PostThreadMessage: %ls Fail"), messageName(message));
    if (!posted)
        delete record;
}

// A job's end that comes with the job's impression count carries the count: the end is handled
// (and the job may be ended) before the count's own message is.
void postJobState(const SubscribeContext* subscriber, const JobState3* state, const DmlpImpressionEvent* impressions)
{
    CB_TRACE(W("lpJobState3->Job: [%08x]"), state->Job);
    CB_TRACE(W("lpJobState3->State: [%d]"), state->State);
    CB_TRACE(W("lpJobState3->Reason: [%d]"), state->Reason);
    CB_TRACE(W("lpJobState3->HintPriorityCode: [%d]"), state->HintPriorityCode);
    if (state->State == JOBSTATE_COMPLETED) {
        auto* info = new JobEventInfo();
        memcpy(&info->ClJobID, &state->clJobId, sizeof info->ClJobID);
        info->Reason = state->Reason;
        if (impressions && impressions->Job == state->Job)
            info->ImprCompCnt = impressions->ImprCompCnt;
        CB_TRACE(W("PostThreadMessage(JTRK_MSG_JOBEVENT)"));
        CB_TRACE(W("[%s]CLIENTJOBID : %08lx REASON : %d"), subscriber->wszPrinterName, info->ClJobID.Data1, info->Reason);
        fanOut(subscriber, JTRK_MSG_JOBEVENT, info);
    } else if (state->State == JOBSTATE_PROCESSING || state->State == JOBSTATE_PENDING) {
        auto* info = new JobExecutingInfo();
        info->hObj = state->Job;
        memcpy(&info->ClJobID, &state->clJobId, sizeof info->ClJobID);
        CB_TRACE(W("PostThreadMessage(JTRK_MSG_JOBEXECUTING)"));
        CB_TRACE(W("PrntName:[%ls] hObj:[%08x] ClJobID.JobInfo1:[%08d]"), subscriber->wszPrinterName, info->hObj,
                 JobInfo1Number(info->ClJobID.JobText));
        fanOut(subscriber, JTRK_MSG_JOBEXECUTING, info);
    }
}

void postImpressions(const SubscribeContext* subscriber, const DmlpImpressionEvent* impressions)
{
    auto* info = new JobImpressCntInfo();
    info->hObj = impressions->Job;
    info->ImprCompCnt = impressions->ImprCompCnt;
    CB_TRACE(W("PostThreadMessage(JTRK_MSG_JOBIMPRESSCNT)"));
    CB_TRACE(W("PrntName:[%ls] hObj:[%08x] ImprCompCnt:[%ld]"), subscriber->wszPrinterName, info->hObj,
             info->ImprCompCnt);
    fanOut(subscriber, JTRK_MSG_JOBIMPRESSCNT, info);
}

void release(const SubscribeContext* subscriber, void* event)
{
    if (!subscriber || subscriber->hAplh == 0)
        return;
    DMLLIB_RESULTCODE code = DMLLIB_ReleaseBuff(subscriber->hAplh, subscriber->wszPrinterName, event);
    if (DMLLIB_RESULT_STATUS(code) != 1)
        OutputClibErrEventLog(subscriber->wszPrinterName, code, IDS_API_RELEASEBUFF, 0);
}

} // namespace

void CBSubEvent(const DmlpAddress* sender, void* context, void* event)
{
    auto* subscriber = static_cast<const SubscribeContext*>(context);
    if (!sender || !subscriber || !event) {
        SVC_ERROR(TRACE_ERROR_PARAMETER, kSource, "CBSubEvent");
        return; // nothing can be given back without the printer's handle
    }
    auto* record = static_cast<const DmlpEventRecord*>(event);
    const JobState3* state = nullptr;
    const DmlpImpressionEvent* impressions = nullptr;
    if (record->entries) {
        for (uint8_t i = 0; i < record->count; ++i) {
            const DmlpEventEntry& entry = record->entries[i];
            if (!entry.body)
                continue;
            if (entry.id == DEVICE_EVENT_JOBSTATE)
                state = static_cast<const JobState3*>(entry.body);
            else if (entry.id == DEVICE_EVENT_IMPRESSIONS)
                impressions = static_cast<const DmlpImpressionEvent*>(entry.body);
        }
    }
    if (!state && !impressions) {
        SVC_ERROR(SVC_ERROR_GENERAL, kSource, "CBSubEvent");
    } else if (subscriber->dwControlJobThreadId == 0 || subscriber->hAplh == 0) {
        SVC_ERROR(TRACE_ERROR_PARAMETER, kSource, "CBSubEvent");
    } else {
        if (state)
            postJobState(subscriber, state, impressions);
        if (impressions)
            postImpressions(subscriber, impressions);
    }
    release(subscriber, event);
}
