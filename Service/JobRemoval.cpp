// Removing a job at the device: through the client library, or through JCSDK for SDK printers.
#include <shared_mutex>
#include <string>

#include "ControlJob.h"
#include "JobUtilities.h"
#include "JCSDK.h"
#include "Notices.h"
#include "PrnJobData.h"
#include "PrnComData.h"
#include "PrnJobData4V2.h"
#include "SendMsg.h"
#include "ServiceStrings.h"
#include "ServiceTrace.h"

namespace {

const char kSource[] = "JobUtilities";

#define CANCEL_STATUS_SUCCESS 1
#define CANCEL_STATUS_DELETED 2
#define CANCEL_STATUS_NO_JOB 8
#define CANCEL_STATUS_TIMEOUT 20
#define MSG_DELETE_FAILED 1019
#define MSG_TYPE_CHOICES 2
#define IDS_DELETE_FAILED_TEXT 322

// The device no longer has the job the service did not delete itself: the user is told that the
// data sent may have been printed.
void tellDeleteFailed(JTRKServiceContext* context, LPCWSTR printer, DWORD jobId)
{
    clPrnJobData4V2& jobs = *context->pPrnJobData4V2;
    MsgJobInfo info = {};
    jobs.GetMessageJobInfo(printer, jobId, &info);
    if (info.PrtName && info.MachineName && info.Document && info.UserName)
        SVC_TRACE(kSource, "CancelJob", W("PrtName:[%hs] MachineName:[%hs] Document:[%hs] UserName:[%hs]"), info.PrtName,
                  info.MachineName, info.Document, info.UserName);
    if (info.PrtName) {
        jobs.WhileTracked(printer, jobId, [&] {
            LONG result = SendMsg(printer, jobId, MSG_DELETE_FAILED, MSG_TYPE_CHOICES, IDS_DELETE_FAILED_TEXT, &info);
            SVC_TRACE(kSource, "CancelJob", W("SendMsg lRetMsg:[%ld]"), result);
        });
    }
    jobs.DelMessageJobInfo(&info);
}

// Ends the job here: last impressions, print manager, spooler, table; nothing when another thread
// ends it.
void endJob(JTRKServiceContext* context, LPCWSTR printer, DWORD jobId, const ClJobID& clJobId, WORD status,
            const WString& port)
{
    if (!context->pPrnJobData4V2->BeginJobEnd(printer, &clJobId))
        return;
    if (context->GetPageCount && status != CANCEL_STATUS_TIMEOUT) {
        BYTE traceByte = DMLLIB_TRACE_FAILED;
        DoTraceJob(context, printer, clJobId, &traceByte, jobId);
    }
    if (SendStatus(context, printer, jobId, PMSTATUS_PRINTING, nullptr) == JTRK_PRINTMGR_PAUSED) {
        SetPrintJobInfoOnCommand(printer, jobId, JOB_CONTROL_PAUSE, port.c_str());
        SetPrintJobInfoOnCommand(printer, jobId, JOB_CONTROL_RESTART, port.c_str());
    }
    context->pPrnJobData4V2->RemoveJobData(printer, &clJobId);
    SendNoticeEnd(printer, jobId);
}

// The SDK printer's job: deleted through JCSDK when the SDK table knows it, then ended here.
void removeSdkJob(JTRKServiceContext* context, IJCSDKSpooler* spooler, LPCWSTR printer, LPCWSTR port, DWORD jobId)
{
    clPrnJobData& sdkJobs = *context->pPrnJobData;
    _bstr_t deviceJobId = sdkJobs.GetDeviceJobId(printer, jobId);
    if (deviceJobId.length() != 0) {
        try {
            if (ControlDeviceJob(spooler, deviceJobId, JCSDK_COMMAND_DELETE) == S_OK)
                sdkJobs.SetDelSuccess(printer, jobId);
        } catch (const _com_error& error) {
            _bstr_t source = error.Source(), description = error.Description();
            SVC_TRACE(kSource, "RemovePrintJob", W("ControlDeviceJob Error Code[%08lx] Mean[%s] Source[%s] Descritption[%s]"),
                      static_cast<DWORD>(error.Error()), error.ErrorMessage(),
                      source.length() ? static_cast<const WCHAR*>(source) : W(""),
                      description.length() ? static_cast<const WCHAR*>(description) : W(""));
            DWORD reset = 0;
            sdkJobs.GetResetFlg(printer, jobId, &reset);
            if (reset != JOB_RESET_DATA && reset != JOB_RESET_POWER) {
                MsgJobInfo info = {};
                sdkJobs.GetMessageJobInfo(printer, jobId, &info);
                LONG result = SendMsg(printer, jobId, MSG_DELETE_FAILED, MSG_TYPE_CHOICES, IDS_DELETE_FAILED_TEXT, &info);
                SVC_TRACE(kSource, "RemovePrintJob", W("SendMsg lRet:[%ld]"), result);
                sdkJobs.DelMessageJobInfo(&info);
            }
        }
    }
    if (SendStatus(context, printer, jobId, PMSTATUS_PRINTING, nullptr) == JTRK_PRINTMGR_PAUSED) {
        SetPrintJobInfoOnCommand(printer, jobId, JOB_CONTROL_PAUSE, port);
        SetPrintJobInfoOnCommand(printer, jobId, JOB_CONTROL_RESTART, port);
    }
    sdkJobs.RemoveJobData(printer, deviceJobId);
    SendNoticeEnd(printer, jobId);
}

} // namespace

BOOL CancelJob(JTRKServiceContext* context, LPCWSTR printer, DWORD jobId, BOOL* done, LPCWSTR port)
{
    if (done)
        *done = 1;
    if (!context || context->hAplh.load() == 0 || !printer || jobId == 0)
        return 0;
    clPrnJobData4V2& jobs = *context->pPrnJobData4V2;
    DWORD handle = 0;
    if (!jobs.GetJobHANDLE(printer, jobId, &handle))
        return 0; // the table does not know the job: nothing to cancel or to end
    DWORD resetFlg = 0;
    jobs.GetResetFlg(printer, jobId, &resetFlg);
    ClJobID clJobId = {};
    BOOL result = jobs.GetDeviceJobId(printer, jobId, &clJobId);
    WString portName = port ? port : W("");
    WORD status = 0;
    if (result) {
        DWORD address = 0;
        DmlpBinding binding = nullptr;
        result = context->pPrnComData->GetIPAddress2(portName.c_str(), &address);
        DMLLIB_RESULTCODE code;
        {
            // The binding stays while the cancel uses it: a rebind or release waits.
            std::shared_lock<std::shared_mutex> guard(context->pPrnComData->GetAddressLock(address));
            if (result && address != 0)
                result = context->pPrnComData->GetClibEpHandle2(address, &binding);
            code = DMLLIB_CancelJob(context->hAplh.load(), portName.c_str(), &clJobId, binding);
        }
        status = DMLLIB_RESULT_STATUS(code);
        if (status == CANCEL_STATUS_SUCCESS) {
            jobs.SetDelSuccess(printer, jobId);
            return result;
        }
        if (status != CANCEL_STATUS_TIMEOUT && resetFlg != JOB_RESET_DATA && resetFlg != JOB_RESET_POWER) {
            OutputClibErrEventLog(printer, code, IDS_API_CANCELJOB, jobId);
            if (status == CANCEL_STATUS_NO_JOB && jobs.GetDelSuccess(printer, jobId) != 1)
                tellDeleteFailed(context, printer, jobId);
        }
        if (status == CANCEL_STATUS_DELETED) {
            jobs.SetDelSuccess(printer, jobId);
            return result;
        }
    }
    if (status == CANCEL_STATUS_NO_JOB && jobs.GetDelSuccess(printer, jobId) == 1)
        return result;
    endJob(context, printer, jobId, clJobId, status, portName);
    if (status == CANCEL_STATUS_TIMEOUT && done)
        *done = 0;
    return result;
}

BOOL RemovePrintJob(JTRKServiceContext* context, LPCWSTR printer, LPCWSTR port, DWORD jobId, BOOL* doCancel)
{
    if (!context || !printer || !doCancel)
        return FALSE;
    if (context->pPrnComData->GetSDKUse(port, printer)) {
        IJCSDKSpooler* spooler = context->pPrnComData->GetVxSpoolerPointer(port, printer);
        if (!spooler) {
            SVC_ERROR(TRACE_ERROR_PARAMETER, kSource, "RemovePrintJob");
            return FALSE;
        }
        removeSdkJob(context, spooler, printer, port, jobId);
        spooler->Release();
        return TRUE;
    }
    SVC_TRACE(kSource, "RemovePrintJob", W("pbDoCancelJob = [ %ls ]"), SvcBoolText(*doCancel));
    if (*doCancel) {
        BOOL done = TRUE;
        BOOL result = CancelJob(context, printer, jobId, &done, port);
        *doCancel = done;
        return result;
    }
    clPrnJobData4V2& jobs = *context->pPrnJobData4V2;
    ClJobID clJobId = {};
    BOOL result = jobs.GetDeviceJobId(printer, jobId, &clJobId);
    if (!jobs.BeginJobEnd(printer, &clJobId))
        return result;
    jobs.RemoveJobData(printer, &clJobId);
    SendNoticeEnd(printer, jobId);
    return result;
}
