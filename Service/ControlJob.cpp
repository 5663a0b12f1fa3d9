#include "ControlJob.h"

#include <cstring>
#include <shared_mutex>
#include <string>

#include "JobUtilities.h"
#include "MsgMgr.h"
#include "Notices.h"
#include "PrnComData.h"
#include "PrnJobData4V2.h"
#include "ServiceStrings.h"
#include "ServiceTrace.h"
#include "ThreadMessages.h"
#include "WatchDevice.h"

namespace {

const char kSource[] = "ControlJob";

#define CJ_TRACE(function, ...) SVC_TRACE(kSource, function, __VA_ARGS__)

clPrnJobData4V2& jobsOf(JTRKServiceContext* context)
{
    return *context->pPrnJobData4V2;
}

void spoolerCommand(LPCWSTR printer, DWORD jobId, DWORD command, const WString& port)
{
    SetPrintJobInfoOnCommand(printer, jobId, command, port.c_str());
}

// The print manager holds the job: the spooler job goes back to the start and the monitor pauses
// it when it comes back to the port.
void holdAgain(JTRKServiceContext* context, LPCWSTR printer, DWORD jobId, const WString& port)
{
    spoolerCommand(printer, jobId, JOB_CONTROL_PAUSE, port);
    spoolerCommand(printer, jobId, JOB_CONTROL_RESTART, port);
    context->pPrnComData->SetPausedFlag(printer, jobId);
}

// The spooler's status of the job: JOBREAD_FOUND with *status, or the reader's other result.
int spoolerStatus(LPCWSTR printer, DWORD jobId, DWORD* status, const char* function)
{
    JOB_INFO_1W* info = nullptr;
    int read = GetPrintJobInfo(printer, jobId, &info);
    if (read == JOBREAD_FOUND) {
        *status = info->Status;
        LocalFree(info);
        CJ_TRACE(function, W("pJobInfo->Status:[%ld]"), *status);
    }
    return read;
}

// Acts on one job's trace byte; FALSE when the byte stops the pass.
bool actOnTrace(JTRKServiceContext* context, LPCWSTR printer, DWORD jobId, const ClJobID* work, BYTE traceByte,
                DMLLIB_RESULTCODE code)
{
    clPrnJobData4V2& jobs = jobsOf(context);
    switch (traceByte) {
    case DMLLIB_TRACE_COMPLETED:
        JobCompSuccess(context, printer, jobId, work);
        return true;
    case DMLLIB_TRACE_CANCELLED: {
        DWORD status = 0;
        if (jobs.GetDelSuccess(printer, jobId) == 1 ||
            (spoolerStatus(printer, jobId, &status, "ControlJobThread") == JOBREAD_FOUND && IsCompletePrintJob(status)))
            JobCompCancel(context, printer, jobId, work);
        else
            jobs.SetResetFlg(printer, jobId, JOB_RESET_DATA, context->MaxResetCount);
        return true;
    }
    case DMLLIB_TRACE_UNKNOWN: {
        DWORD handle = 0;
        if (jobs.GetJobHANDLE(printer, jobId, &handle) && handle != 0)
            jobs.SetResetFlg(printer, jobId, JOB_RESET_POWER, context->MaxResetCount);
        return true;
    }
    case DMLLIB_TRACE_FAILED:
        TraceJobError(context, printer, jobId, work, code);
        return true;
    default:
        return false;
    }
}

// One pass over the job list; a pass of a device event handles one job only.
void runPass(JTRKServiceContext* context, LPCWSTR printer, const DWORD* list, DWORD count, ClJobID* work, BOOL done,
             bool singleJob)
{
    clPrnJobData4V2& jobs = jobsOf(context);
    for (DWORD i = 0; i < count; ++i) {
        DWORD jobId = list[i];
        CJ_TRACE("ControlJobThread", W("ControlJobThread (JobID?) : %ld"), jobId);
        if (jobId == 0 || context->hAplh.load() == 0)
            continue;
        if (i > 0) {
            memset(work, 0, sizeof *work);
            jobs.GetDeviceJobId(printer, jobId, work);
        }
        BYTE traceByte = DMLLIB_TRACE_FAILED;
        DMLLIB_RESULTCODE code = 0;
        if (done) {
            traceByte = DMLLIB_TRACE_COMPLETED;
        } else {
            DWORD reset = 0;
            jobs.GetResetFlg(printer, jobId, &reset);
            if (reset == JOB_RESET_DATA || reset == JOB_RESET_POWER)
                continue; // the watch thread asks the user first
            code = DoTraceJob(context, printer, *work, &traceByte, jobId);
            CJ_TRACE("ControlJobThread", W("DoTraceJob JobStatus: %d"), traceByte);
        }
        if (!actOnTrace(context, printer, jobId, work, traceByte, code) || singleJob)
            return;
    }
}

void endStep(JTRKServiceContext* context, LPCWSTR printer, HANDLE passDone)
{
    if (printer && jobsOf(context).GetJobCountForDevice(printer) == 0)
        context->pPrnComData->AvailablePrinter(printer);
    if (passDone)
        CJ_TRACE("ControlJobThread", W("Return Value SetEvent = [%ls]"), SvcBoolText(SetEvent(passDone)));
}

void onJobEvent(JTRKServiceContext* context, LPCWSTR printer, JobEventInfo* info)
{
    clPrnJobData4V2& jobs = jobsOf(context);
    CJ_TRACE("ControlJobThread", W("[%s]CLIENTJOBID : %08lx REASON : %d"), printer, info->ClJobID.Data1, info->Reason);
    ClJobID work = info->ClJobID;
    DWORD jobId = jobs.GetSystemJobId(printer, &work);
    BOOL done = context->SkipTrace && info->Reason == TRACE_REASON_COMPLETED;
    if (context->MaxResetCount > 0)
        jobs.InitResetCount(printer, jobId);
    if (context->GetPageCount && info->ImprCompCnt != 0)
        jobs.UpdateImpressionCompletedCnt(printer, &work, info->ImprCompCnt);
    delete info;
    runPass(context, printer, &jobId, 1, &work, done, true);
    endStep(context, printer, nullptr);
}

void onTraceJob(JTRKServiceContext* context, LPCWSTR printer, HANDLE passDone)
{
    clPrnJobData4V2& jobs = jobsOf(context);
    CJ_TRACE("ControlJobThread", W("HANDLE : %08lx"), static_cast<DWORD>(reinterpret_cast<uintptr_t>(passDone)));
    ClJobID work;
    memset(&work, 0, sizeof work);
    DWORD* list = nullptr;
    DWORD count = 0;
    if (printer) {
        jobs.GetDeviceJobId(printer, jobs.GetSystemJobId(printer), &work);
        count = jobs.GetJobListForDevice(printer, &list);
    }
    runPass(context, printer, list, count, &work, FALSE, false);
    CJ_TRACE("ControlJobThread", W("delete pSysJobIdList"));
    delete[] list;
    endStep(context, printer, passDone);
}

void onJobExecuting(JTRKServiceContext* context, LPCWSTR printer, JobExecutingInfo* info)
{
    clPrnJobData4V2& jobs = jobsOf(context);
    DWORD count = jobs.GetJobCountForDevice(printer);
    CJ_TRACE("ControlJobThread", W("PrnName:[%ls] JobCnt:[%ld]"), printer, count);
    ClJobID known;
    if (count > 0 && !jobs.GetDeviceJobId2(printer, info->hObj, &known)) {
        CJ_TRACE("ControlJobThread", W("PrntName:[%ls] hObj:[%08x] ClJobID.JobInfo1:[%08d]"), printer, info->hObj,
                 JobInfo1Number(info->ClJobID.JobText));
        jobs.SetJobHANDLE(printer, info->hObj, &info->ClJobID);
    }
    if (context->MaxResetCount > 0)
        jobs.InitResetCount(printer, jobs.GetSystemJobId(printer, &info->ClJobID));
    delete info;
    CJ_TRACE("ControlJobThread", W("delete(lpJobExecuting)"));
}

void onImpressions(JTRKServiceContext* context, LPCWSTR printer, JobImpressCntInfo* info)
{
    clPrnJobData4V2& jobs = jobsOf(context);
    if (context->GetPageCount) {
        CJ_TRACE("ControlJobThread", W("PageCount ON."));
        ClJobID found;
        memset(&found, 0, sizeof found);
        if (jobs.GetJobCountForDevice(printer) > 0) {
            if (jobs.GetDeviceJobId2(printer, info->hObj, &found)) {
                CJ_TRACE("ControlJobThread", W("PrntName:[%ls] ClJobID.JobInfo1:[%08d] ImprCompCnt:[%ld]"), printer,
                         JobInfo1Number(found.JobText), info->ImprCompCnt);
                jobs.UpdateImpressionCompletedCnt(printer, &found, info->ImprCompCnt);
                if (context->MaxResetCount > 0)
                    jobs.InitResetCount(printer, jobs.GetSystemJobId(printer, &found));
            } else {
                CJ_TRACE("ControlJobThread", W("PrntName:[%ls] hObj:[%08x] ClientJobID unmatch!!"), printer, info->hObj);
            }
        }
    }
    delete info;
    CJ_TRACE("ControlJobThread", W("delete(lpJobImpressCnt)"));
}

void handleMessage(JTRKServiceContext* context, const MSG& msg)
{
    CJ_TRACE("ControlJobThread", W("msg.message : %ld"), msg.message);
    auto printer = reinterpret_cast<LPCWSTR>(msg.wParam);
    switch (msg.message) {
    case JTRK_MSG_JOBEVENT:
        if (printer && msg.lParam)
            onJobEvent(context, printer, reinterpret_cast<JobEventInfo*>(msg.lParam));
        break;
    case JTRK_MSG_TRACEJOB:
        onTraceJob(context, printer, reinterpret_cast<HANDLE>(msg.lParam));
        break;
    case JTRK_MSG_JOBEXECUTING:
        if (printer && msg.lParam)
            onJobExecuting(context, printer, reinterpret_cast<JobExecutingInfo*>(msg.lParam));
        break;
    case JTRK_MSG_JOBIMPRESSCNT:
        if (printer && msg.lParam)
            onImpressions(context, printer, reinterpret_cast<JobImpressCntInfo*>(msg.lParam));
        break;
    default:
        break;
    }
}

// Messages left when the thread ends: records are freed, a waiting watch thread is released.
void dropQueued()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        switch (msg.message) {
        case JTRK_MSG_JOBEVENT:
            delete reinterpret_cast<JobEventInfo*>(msg.lParam);
            break;
        case JTRK_MSG_JOBEXECUTING:
            delete reinterpret_cast<JobExecutingInfo*>(msg.lParam);
            break;
        case JTRK_MSG_JOBIMPRESSCNT:
            delete reinterpret_cast<JobImpressCntInfo*>(msg.lParam);
            break;
        case JTRK_MSG_TRACEJOB:
            if (msg.lParam)
                SetEvent(reinterpret_cast<HANDLE>(msg.lParam));
            break;
        default:
            break;
        }
    }
}

} // namespace

unsigned __stdcall ControlJobThread(void* argument)
{
    auto* context = static_cast<JTRKServiceContext*>(argument);
    HANDLE stop = context->hSvcEvent;
    for (;;) {
        DWORD result = MsgWaitForMultipleObjects(1, &stop, FALSE, INFINITE, QS_ALLINPUT);
        if (result != WAIT_OBJECT_0 + 1)
            break;
        MSG msg;
        BOOL got;
        while ((got = GetMessageW(&msg, nullptr, 0, 0)) != 0 && got != -1)
            handleMessage(context, msg);
        if (got == 0)
            break; // WM_QUIT from the service main's shutdown
    }
    dropQueued();
    return 0;
}

DMLLIB_RESULTCODE DoTraceJob(JTRKServiceContext* context, LPCWSTR printer, ClJobID clJobId, BYTE* traceByte,
                             DWORD jobId)
{
    if (!context || !printer || clJobId.JobText[0] == 0 || !traceByte || jobId == 0)
        return 0;
    WString port = jobsOf(context).GetPortName(jobId);
    DWORD address = 0;
    DmlpBinding binding = nullptr;
    context->pPrnComData->GetIPAddress2(port.c_str(), &address);
    DWORD impressions = 0;
    DMLLIB_RESULTCODE code;
    {
        // The binding stays while the trace uses it: a rebind or release waits.
        std::shared_lock<std::shared_mutex> guard(context->pPrnComData->GetAddressLock(address));
        if (address != 0)
            context->pPrnComData->GetClibEpHandle2(address, &binding);
        code = DMLLIB_TraceJob(context->hAplh.load(), port.c_str(), &clJobId, traceByte, binding, &impressions,
                               context->GetPageCount);
    }
    if (context->GetPageCount) {
        CJ_TRACE("DoTraceJob", W("PrntName:[%ls] SysJobID:[%08d] ImprCompCnt:[%ld]"), printer, jobId, impressions);
        jobsOf(context).UpdateImpressionCompletedCnt(printer, &clJobId, impressions);
    } else {
        CJ_TRACE("DoTraceJob", W("Not PageCount"));
    }
    return code;
}

void InitDeviceStatus(JTRKServiceContext* context, LPCWSTR printer, DWORD jobId)
{
    WString port = jobsOf(context).GetPortName(jobId);
    if (!printer || port.empty())
        return;
    clPrnComData& printers = *context->pPrnComData;
    LONG pending = printers.GetPrinterlRetParley(port.c_str(), printer);
    if (pending > 0) {
        if (printers.GetPrinterSysJobIdParley(port.c_str(), printer) != jobId)
            return;
        MsgmiCancelReplyV31_d(0, static_cast<DWORD>(pending));
        printers.ChangeDeviceThreadlRetParley(port.c_str(), printer, 0);
    }
    printers.ChangeDeviceThreadErrSent(port.c_str(), printer, ERRSENT_NONE);
}

void JobCompSuccess(JTRKServiceContext* context, LPCWSTR printer, DWORD jobId, const ClJobID* clJobId)
{
    if (!printer || jobId == 0 || !clJobId || !jobsOf(context).BeginJobEnd(printer, clJobId))
        return;
    InitDeviceStatus(context, printer, jobId);
    WString port = jobsOf(context).GetPortName(jobId);
    SpoolerJobA job(printer, jobId); // one read serves the ending's statuses and its decision
    if (SendStatusOfJob(context, printer, jobId, PMSTATUS_PRINTING, nullptr, job) == JTRK_PRINTMGR_PAUSED) {
        holdAgain(context, printer, jobId, port);
    } else {
        if (job.read == JOBREAD_FAILED) {
            jobsOf(context).CancelJobEnd(printer, clJobId);
            return;
        }
        if (job.read == JOBREAD_FOUND) {
            DWORD status = job.info->Status;
            CJ_TRACE("JobCompSuccess", W("pJobInfo->Status:[%ld]"), status);
            bool printed = (!IsRemovePrintJob(status) && IsPrintingPrintJob(status)) ||
                           ((status & JOB_STATUS_DELETING) && (status & JOB_STATUS_PRINTING));
            if (!printed) {
                jobsOf(context).CancelJobEnd(printer, clJobId); // still spooling: a later pass ends it
                return;
            }
            SendStatusOfJob(context, printer, jobId, PMSTATUS_PRINTING, nullptr, job);
            SendStatusOfJob(context, printer, jobId, PMSTATUS_COMPLETED, nullptr, job);
            SendNoticeEnd(printer, jobId);
            spoolerCommand(printer, jobId, JOB_CONTROL_SENT_TO_PRINTER, port);
            jobsOf(context).RemoveJobData(printer, clJobId);
            return;
        }
        SendStatusOfJob(context, printer, jobId, PMSTATUS_GONE, nullptr, job);
    }
    SendNoticeEnd(printer, jobId);
    jobsOf(context).RemoveJobData(printer, clJobId);
}

void JobCompCancel(JTRKServiceContext* context, LPCWSTR printer, DWORD jobId, const ClJobID* clJobId)
{
    if (!printer || jobId == 0 || !clJobId || !jobsOf(context).BeginJobEnd(printer, clJobId))
        return;
    InitDeviceStatus(context, printer, jobId);
    WString port = jobsOf(context).GetPortName(jobId);
    SpoolerJobA job(printer, jobId); // one read serves the ending's statuses and its decision
    if (job.read == JOBREAD_FOUND)
        CJ_TRACE("JobCompCancel", W("pJobInfo->Status:[%ld]"), job.info->Status);
    if (job.read == JOBREAD_FOUND && IsRemovePrintJob(job.info->Status)) {
        if (SendStatusOfJob(context, printer, jobId, PMSTATUS_PRINTING, nullptr, job) == JTRK_PRINTMGR_PAUSED)
            holdAgain(context, printer, jobId, port);
        SendNoticeEnd(printer, jobId);
        jobsOf(context).RemoveJobData(printer, clJobId);
        return;
    }
    int r = SendStatusOfJob(context, printer, jobId, PMSTATUS_PRINTING, nullptr, job);
    if (r != JTRK_PRINTMGR_PAUSED)
        r = SendStatusOfJob(context, printer, jobId, PMSTATUS_GONE, nullptr, job);
    SendNoticeEnd(printer, jobId);
    spoolerCommand(printer, jobId, r == JTRK_PRINTMGR_PAUSED ? JOB_CONTROL_RESTART : JOB_CONTROL_DELETE, port);
    jobsOf(context).RemoveJobData(printer, clJobId);
}

void TraceJobError(JTRKServiceContext* context, LPCWSTR printer, DWORD jobId, const ClJobID* clJobId,
                   DMLLIB_RESULTCODE code)
{
    if (!context || !printer || jobId == 0 || !clJobId || code == 0 || !jobsOf(context).BeginJobEnd(printer, clJobId))
        return;
    OutputClibErrEventLog(printer, code, IDS_API_TRACEJOB, jobId);
    InitDeviceStatus(context, printer, jobId);
    SendStatus(context, printer, jobId, PMSTATUS_ERROR, nullptr);
    SendNoticeEnd(printer, jobId);
    jobsOf(context).RemoveJobData(printer, clJobId);
}
