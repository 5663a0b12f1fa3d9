// The device-watch thread: its idle loop and subscription, the polling loop, the device status
// update and the dialogs on device errors.
#include "WatchDevice.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <vector>

#include "ControlJob.h"
#include "DeviceEvents.h"
#include "JobUtilities.h"
#include "MsgMgr.h"
#include "Notices.h"
#include "PrnComData.h"
#include "PrnJobData4V2.h"
#include "SendMsg.h"
#include "ServiceEvents.h"
#include "ServiceStrings.h"
#include "ServiceTrace.h"
#include "ThreadMessages.h"
#include "resource.h"

namespace {

const char kSource[] = "WatchDevice";
#define WD_TRACE(function, ...) SVC_TRACE(kSource, function, __VA_ARGS__)

LPWSTR copyName(LPCWSTR name)
{
    size_t chars = static_cast<size_t>(lstrlenW(name)) + 1;
    LPWSTR copy = new WCHAR[chars];
    memcpy(copy, name, chars * sizeof(WCHAR));
    return copy;
}

std::mutex g_retiredLock;
std::vector<SubscribeContext*> g_retired;

clPrnComData& printersOf(const DeviceThreadParam* param)
{
    return *param->pContext->pPrnComData;
}

clPrnJobData4V2& jobsOf(const DeviceThreadParam* param)
{
    return *param->pContext->pPrnJobData4V2;
}

bool stopping(const JTRKServiceContext* context)
{
    return WaitForSingleObject(context->hSvcEvent, 0) == WAIT_OBJECT_0;
}

// Waits the time unless the service stops first; true when it stops.
bool restUntilStop(const JTRKServiceContext* context, DWORD milliseconds)
{
    return WaitForSingleObject(context->hSvcEvent, milliseconds) == WAIT_OBJECT_0;
}

DWORD clampedSetting(LPCWSTR section, LPCWSTR key, int fallback, int low, int high, LPCWSTR iniPath)
{
    int value = static_cast<int>(GetPrivateProfileIntW(section, key, fallback, iniPath));
    if (value < low)
        return static_cast<DWORD>(low);
    return static_cast<DWORD>(value > high ? high : value);
}

ULONGLONG pollDeadline(DWORD pollingTime)
{
    DWORD seconds = pollingTime < WATCH_POLLING_MIN ? WATCH_POLLING_MIN : pollingTime;
    return GetTickCount64() + static_cast<ULONGLONG>(seconds) * 1000;
}

// Removes the JTRK_MSG_ENDJOB messages at the head of the queue, then takes one message.
bool takeMessage(MSG* msg)
{
    while (PeekMessageW(msg, nullptr, 0, 0, PM_NOREMOVE) && msg->message == JTRK_MSG_ENDJOB)
        PeekMessageW(msg, nullptr, JTRK_MSG_ENDJOB, JTRK_MSG_ENDJOB, PM_REMOVE);
    return PeekMessageW(msg, nullptr, 0, 0, PM_REMOVE) != FALSE;
}

DevMsgRecord* noAnswerRecord()
{
    StatusInfo status{};
    status.byOnline = 1;
    status.lStatusCode = DEVSTATUS_NO_ANSWER;
    return GetStatusRecordCLIB(&status);
}

DWORD powerOffFlag(const DeviceThreadParam* param, DWORD jobId)
{
    DWORD flag = 0;
    jobsOf(param).GetDevPowOffErrFlg(param->lpPrinterName, jobId, &flag);
    return flag;
}

void setErrSent(const DeviceThreadParam* param, DWORD value)
{
    printersOf(param).ChangeDeviceThreadErrSent(param->lpPortName, param->lpPrinterName, value);
}

void setJob(const DeviceThreadParam* param, DWORD jobId, DWORD command)
{
    SetPrintJobInfoOnCommand(param->lpPrinterName, jobId, command, param->lpPortName);
}

// A status of a job that this thread ends itself.
int sendStatus(const DeviceThreadParam* param, DWORD jobId, DWORD status, const DevMsgRecord* record)
{
    return SendStatus(param->pContext, param->lpPrinterName, jobId, status, record);
}

// A status of a job that another thread may be ending: sent only while the job is tracked and its
// end has not begun, so that it cannot follow the end notice. -1 when it was not sent.
int sendWhileTracked(const DeviceThreadParam* param, DWORD jobId, DWORD status, const DevMsgRecord* record)
{
    int result = -1;
    jobsOf(param).WhileTracked(param->lpPrinterName, jobId, [&] { result = sendStatus(param, jobId, status, record); });
    return result;
}

using StatusSender = int (*)(const DeviceThreadParam*, DWORD, DWORD, const DevMsgRecord*);

// Pauses and restarts the job and tells the print manager it is held; a print manager that holds
// the job itself gets the pause once more.
void holdInSpooler(const DeviceThreadParam* param, DWORD jobId, StatusSender send)
{
    setJob(param, jobId, JOB_CONTROL_PAUSE);
    setJob(param, jobId, JOB_CONTROL_RESTART);
    int held = send(param, jobId, PMSTATUS_HELD, nullptr);
    WD_TRACE("holdInSpooler", W("lRetPause [%d]"), held);
    if (held == JTRK_PRINTMGR_PAUSED) {
        setJob(param, jobId, JOB_CONTROL_PAUSE);
        setJob(param, jobId, JOB_CONTROL_RESTART);
        WD_TRACE("holdInSpooler", W("SetJob(JOB_CONTROL_PAUSE&JOB_CONTROL_RESTART) [%d]"), jobId);
    }
}

// The no-answer dialog for a job of a silent device. ErrSent is the no-answer status first, so that
// the answer is carried out as for a device that is off.
void offerNoAnswer(DeviceThreadParam* param, DWORD jobId, HANDLE msgmEvent)
{
    DevMsgRecord* record = noAnswerRecord();
    setErrSent(param, record->dwStatusCode);
    NoticeParleyMessage(param, jobId, record, msgmEvent);
}

// Takes the ending of the job for this thread; false when the table does not know the job or
// another thread ends it.
bool beginEnd(const DeviceThreadParam* param, DWORD jobId, ClJobID* clJobId)
{
    memset(clJobId, 0, sizeof *clJobId);
    return jobsOf(param).GetDeviceJobId(param->lpPrinterName, jobId, clJobId) &&
           jobsOf(param).BeginJobEnd(param->lpPrinterName, clJobId);
}

// Asks the job-control thread to trace the printer's jobs and waits until it has; false when the
// service stops meanwhile. A failed post has nobody to wait for.
bool traceJobsFirst(const DeviceThreadParam* param, HANDLE traceDone)
{
    JTRKServiceContext* context = param->pContext;
    ResetEvent(traceDone);
    LPCWSTR name = context->IPAddrMap ? context->IPAddrMap->Intern(param->lpPrinterName) : nullptr;
    BOOL posted = name && PostThreadMessageW(context->dwControlJobThreadId, JTRK_MSG_TRACEJOB,
                                             reinterpret_cast<WPARAM>(name), reinterpret_cast<LPARAM>(traceDone));
    WD_TRACE("DoWatchDevice", posted ? W("PostThreadMessage: JTRK_MSG_TRACEJOB Success")
                                     : W("PostThreadMessage: JTRK_MSG_TRACEJOB Fail"));
    if (!posted)
        return true;
    HANDLE handles[2] = {traceDone, context->hSvcEvent};
    DWORD result = WaitForMultipleObjects(2, handles, FALSE, INFINITE);
    WD_TRACE("DoWatchDevice", W("return WaitForSingleObject"));
    return result == WAIT_OBJECT_0;
}

void retire(SubscribeContext* subscriber)
{
    if (!subscriber)
        return;
    std::lock_guard<std::mutex> guard(g_retiredLock);
    g_retired.push_back(subscriber);
}

// Ends the thread's subscription when it is the last user of the device's binding; the binding
// goes with it.
void leaveDevice(DeviceThreadParam* param, SubscribeContext* subscriber)
{
    if (!subscriber || subscriber->dwIPAddress == 0)
        return;
    clPrnComData& printers = printersOf(param);
    DWORD address = subscriber->dwIPAddress;
    std::unique_lock<std::shared_mutex> guard(printers.GetAddressLock(address));
    if (printers.RemoveAddressUser(address) != 0)
        return;
    DmlpBinding handle = nullptr;
    printers.GetClibEpHandle2(address, &handle);
    UnSubscribeEvent(param->pContext->hAplh.load(), param->lpPrinterName, handle, param->lpPortName);
    printers.RemoveClibEpHandle2(address);
}

// The printer will not be watched: the jobs reported so far are ended here, and the pipe thread
// announces no more, both under the printer's critical section.
void stopWatching(DeviceThreadParam* param)
{
    clPrnComData& printers = printersOf(param);
    LPCRITICAL_SECTION lock = printers.GetCriticalObj(param->lpPortName, param->lpPrinterName);
    if (!lock)
        return;
    EnterCriticalSection(lock);
    printers.SetPrinterUnwatched(param->lpPortName, param->lpPrinterName);
    WD_TRACE("WatchDeviceThreadEx", W("PrnName:[%ls] not watched"), param->lpPrinterName);
    DWORD* list = nullptr;
    DWORD count = jobsOf(param).GetJobListForDevice(param->lpPrinterName, &list);
    for (DWORD i = 0; i < count; ++i) {
        ClJobID clJobId;
        if (!beginEnd(param, list[i], &clJobId))
            continue;
        jobsOf(param).RemoveJobData(param->lpPrinterName, &clJobId);
        SendNoticeEnd(param->lpPrinterName, list[i]);
    }
    delete[] list;
    LeaveCriticalSection(lock);
}

struct WatchThread {
    DeviceThreadParam* param;
    HANDLE handles[2]; // stop, message-manager event
    SubscribeContext* subscriber;
    DWORD setEventCount;
    bool sdk;
    WCHAR iniPath[MAX_PATH];

    // TRUE when the thread must end.
    BOOL runJob()
    {
        SubscribeEvent(param->pContext, param->lpPrinterName, subscriber, param->lpPortName);
        return DoWatchDevice(param, handles, GetPollingTime(iniPath), subscriber);
    }

    // TRUE when the thread must end.
    BOOL dispatch(const MSG& msg, const WCHAR* startTrace, const WCHAR* endTrace)
    {
        WD_TRACE("WatchDeviceThreadEx", W("msg.message : %ld"), static_cast<long>(msg.message));
        if (msg.message == JTRK_MSG_STARTJOB) {
            WD_TRACE("WatchDeviceThreadEx", startTrace);
            return runJob();
        }
        if (msg.message == JTRK_MSG_ENDTHREAD) {
            WD_TRACE("WatchDeviceThreadEx", endTrace);
            return TRUE;
        }
        return FALSE;
    }

    void idle()
    {
        DWORD count = 0;
        MSG msg;
        for (;;) {
            DWORD result = MsgWaitForMultipleObjects(1, handles, FALSE, WATCH_IDLE_WAIT_MS, QS_ALLINPUT);
            if (result == WAIT_OBJECT_0) {
                WD_TRACE("WatchDeviceThreadEx", W("Stop Service Signal"));
                return;
            }
            if (result == WAIT_TIMEOUT) {
                ++count;
                if (takeMessage(&msg)) {
                    if (dispatch(msg, W("Timeout---PeekMessage JTRK_MSG_STARTJOB"),
                                 W("Timeout---PeekMessage JTRK_MSG_ENDTHREAD")))
                        return;
                    if (msg.message == JTRK_MSG_STARTJOB)
                        count = 0;
                }
                if (count >= setEventCount) {
                    WD_TRACE("WatchDeviceThreadEx", W("nCount >= nSetEventCount nCount:%ld"), static_cast<long>(count));
                    if (!sdk && subscriber) {
                        WD_TRACE("WatchDeviceThreadEx", W("Timeout---Set Event"));
                        SubscribeEvent(param->pContext, param->lpPrinterName, subscriber, param->lpPortName);
                    }
                    count = 0;
                }
            } else if (result == WAIT_OBJECT_0 + 1) {
                count = 0;
                if (!takeMessage(&msg))
                    continue;
                if (sdk)
                    return;
                if (dispatch(msg, W("PeekMessage JTRK_MSG_STARTJOB"), W("PeekMessage JTRK_MSG_ENDTHREAD")))
                    return;
            } else if (result == WAIT_FAILED) {
                return; // nothing to wait on: waiting again would spin
            }
        }
    }
};

} // namespace

DeviceThreadParam* NewDeviceThreadParam(LPCWSTR printer, LPCWSTR port, JTRKServiceContext* context)
{
    auto* param = new DeviceThreadParam{copyName(printer), copyName(port), context, 0};
    return param;
}

void FreeDeviceThreadParam(DeviceThreadParam* param)
{
    if (!param)
        return;
    delete[] param->lpPrinterName;
    delete[] param->lpPortName;
    delete param;
}

void FreeRetiredSubscribeContexts()
{
    std::lock_guard<std::mutex> guard(g_retiredLock);
    for (SubscribeContext* subscriber : g_retired)
        free(subscriber);
    g_retired.clear();
}

DWORD GetEventInterval(LPCWSTR iniPath)
{
    return clampedSetting(W("Event"), W("Interval"), WATCH_INTERVAL_DEFAULT, WATCH_INTERVAL_MIN, WATCH_INTERVAL_MAX,
                          iniPath);
}

DWORD GetPollingTime(LPCWSTR iniPath)
{
    return clampedSetting(W("Device"), W("PollingTime"), WATCH_POLLING_DEFAULT, WATCH_POLLING_MIN, WATCH_POLLING_MAX,
                          iniPath);
}

unsigned __stdcall WatchDeviceThreadEx(void* argument)
{
    auto* param = static_cast<DeviceThreadParam*>(argument);
    // The queue exists before anyone is told of the thread, so a first JTRK_MSG_STARTJOB is kept.
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
    WatchThread thread{param, {param->pContext->hSvcEvent, nullptr}, nullptr, 0, false, {}};
    if (!GetModuleIniPath(thread.iniPath, MAX_PATH))
        thread.iniPath[0] = 0;

    HANDLE msgmEvent = nullptr;
    int created = MsgmiCreateNamedEvent_d(&msgmEvent, &param->ullMsgmEvent);
    if (created != 0)
        WD_TRACE("WatchDeviceThreadEx", W("MsgmCreateNamedEvent Error!! ret:[%d] ErrorCode:[%d]"), created,
                 GetLastError());
    if (!msgmEvent)
        WD_TRACE("WatchDeviceThreadEx", W("Failed to CreateEvent API()."));
    thread.handles[1] = msgmEvent;
    thread.setEventCount = GetEventInterval(thread.iniPath) / 2;

    thread.sdk = printersOf(param).GetSDKUse(param->lpPortName, param->lpPrinterName) != FALSE;
    if (!thread.sdk) {
        thread.subscriber = static_cast<SubscribeContext*>(calloc(1, sizeof(SubscribeContext)));
        SubscribeEvent(param->pContext, param->lpPrinterName, thread.subscriber, param->lpPortName);
    }
    // Without the message manager's event no answer could ever arrive: the thread ends, and the
    // printer's jobs with it.
    if (msgmEvent)
        thread.idle();
    else
        stopWatching(param);

    if (!thread.sdk)
        leaveDevice(param, thread.subscriber);
    retire(thread.subscriber);
    if (msgmEvent) {
        ResetEvent(msgmEvent);
        CloseHandle(msgmEvent);
    }
    FreeDeviceThreadParam(param);
    return 0;
}

void SubscribeEvent(JTRKServiceContext* context, LPCWSTR printer, SubscribeContext* subscriber, LPCWSTR port)
{
    if (!context || !printer || !subscriber || context->hAplh.load() == 0 || !context->pPrnComData || !port) {
        SVC_ERROR(TRACE_ERROR_PARAMETER, kSource, "SubscribeEvent");
        return;
    }
    clPrnComData& printers = *context->pPrnComData;
    DWORD address = 0;
    printers.GetIPAddress(port, &address);
    if (subscriber->dwIPAddress == 0) {
        size_t chars = static_cast<size_t>(lstrlenW(printer));
        if (chars >= SUBSCRIBE_PRINTER_CHARS) {
            SVC_ERROR(TRACE_ERROR_PARAMETER, kSource, "SubscribeEvent");
            return;
        }
        memcpy(subscriber->wszPrinterName, printer, (chars + 1) * sizeof(WCHAR));
        subscriber->dwControlJobThreadId = context->dwControlJobThreadId;
        subscriber->hAplh = context->hAplh.load();
        subscriber->pContext = context;
        subscriber->dwIPAddress = address;
        if (address != 0)
            printers.AddAddressUser(address);
    }
    DmlpCallback callback;
    memset(&callback, 0, sizeof callback);
    callback.kind = DMLP_CALLBACK_KIND;
    callback.function.event = CBSubEvent;
    callback.context = subscriber;

    DMLLIB_RESULTCODE code;
    {
        std::unique_lock<std::shared_mutex> guard(printers.GetAddressLock(address));
        DWORD known = 0;
        bool storeAddress = !(printers.GetIPAddress2(port, &known) && known != 0 && known == address);
        DmlpBinding handle = nullptr;
        bool storeHandle = !(printers.GetClibEpHandle2(address, &handle) && handle);
        code = DMLLIB_SubscribeEvent(context->hAplh.load(), port, DMLLIB_EVENT_SUBSCRIBE, &callback, &handle, nullptr,
                                     context->GetPageCount);
        if (storeHandle)
            printers.SetClibEpHandle2(address, handle);
        if (storeAddress)
            printers.SetIPAddress2(port, address);
    }
    if (code == printers.GetClibRetValue(port, printer))
        return;
    WORD low = LOWORD(code);
    if (low == 1 || low == 20)
        OutputClibSuccessEventLog(printer, JTRK_EVENT_SUBSCRIBED_AGAIN);
    else
        OutputClibErrEventLog(printer, code, IDS_API_SUBSCRIBEEVENT, 0);
    printers.SetClibRetValue(port, printer, code);
}

void UnSubscribeEvent(DmlpInstance hAplh, LPCWSTR printer, DmlpBinding handle, LPCWSTR port)
{
    if (hAplh == 0 || !printer || !handle || !port) {
        SVC_ERROR(TRACE_ERROR_PARAMETER, kSource, "UnSubscribeEvent");
        return;
    }
    DMLLIB_RESULTCODE code = DMLLIB_SubscribeEvent(hAplh, port, DMLLIB_EVENT_UNSUBSCRIBE, nullptr, &handle, nullptr, 0);
    WORD low = LOWORD(code);
    if (low != 1 && low != 20)
        OutputClibErrEventLog(printer, code, IDS_API_SUBSCRIBEEVENT, 0);
}

BOOL DoWatchDevice(DeviceThreadParam* param, const HANDLE* handles, DWORD pollingTime, SubscribeContext* subscriber)
{
    clPrnComData& printers = printersOf(param);
    IJCSDKDevice* device = printers.GetVxDevicePointer(param->lpPortName, param->lpPrinterName);
    bool sdk = printers.GetSDKUse(param->lpPortName, param->lpPrinterName) != FALSE;
    HANDLE traceDone = sdk ? nullptr : CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE msgmEvent = handles[1];
    ResetEvent(msgmEvent);

    ULONGLONG deadline = pollDeadline(pollingTime);
    WD_TRACE("DoWatchDevice", W("tDoUpdateDevice:[ %llu ] nPollingTime:[ %d ]"), deadline, pollingTime);
    WD_TRACE("DoWatchDevice", W("bDoUpdateDevice ON."));
    bool update = true;
    bool forced = true;
    BOOL result = FALSE;
    bool running = !(sdk && !device);
    while (running) {
        DWORD wait = MsgWaitForMultipleObjects(2, handles, FALSE, WATCH_BUSY_WAIT_MS, QS_ALLINPUT);
        if (wait == WAIT_OBJECT_0) {
            WD_TRACE("DoWatchDevice", W("Stop Service Signal"));
            result = TRUE;
            running = false;
        } else if (wait == WAIT_OBJECT_0 + 1) {
            WD_TRACE("DoWatchDevice", W("Parley Receive"));
            ResetEvent(msgmEvent);
            DoParleyMessage(param, device, msgmEvent);
            WD_TRACE("DoWatchDevice", W("bDoUpdateDevice ON."));
            update = forced = true;
        } else if (wait == WAIT_OBJECT_0 + 2) {
            MSG msg;
            if (!PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
                continue;
            WD_TRACE("DoWatchDevice", W("msg.message : %ld"), static_cast<long>(msg.message));
            if (msg.message == JTRK_MSG_ENDJOB) {
                WD_TRACE("DoWatchDevice", W("PeekMessage JTRK_MSG_ENDJOB"));
                running = false;
            } else if (msg.message == JTRK_MSG_ENDTHREAD) {
                WD_TRACE("DoWatchDevice", W("PeekMessage JTRK_MSG_ENDTHREAD"));
                result = TRUE;
                running = false;
            }
        } else if (wait == WAIT_TIMEOUT) {
            if (deadline > GetTickCount64() && !update) {
                UpdateSpool(param, device, msgmEvent, subscriber);
            } else {
                if (!sdk && !forced && !traceJobsFirst(param, traceDone)) {
                    result = TRUE;
                    break;
                }
                UpdateDevice(param, device, msgmEvent, subscriber);
                deadline = pollDeadline(pollingTime);
                WD_TRACE("DoWatchDevice", W("tDoUpdateDevice:[ %llu ]"), deadline);
                if (update)
                    WD_TRACE("DoWatchDevice", W("bDoUpdateDevice OFF."));
                update = false;
            }
            forced = false;
        } else {
            running = false;
        }
    }
    if (traceDone) {
        ResetEvent(traceDone);
        CloseHandle(traceDone);
    }
    if (device)
        device->Release();
    return result;
}

BOOL UpdateSpool(DeviceThreadParam* param, IJCSDKDevice*, HANDLE msgmEvent, SubscribeContext*)
{
    clPrnComData& printers = printersOf(param);
    clPrnJobData4V2& jobs = jobsOf(param);
    LPCWSTR printer = param->lpPrinterName;
    DWORD oldStatus = printers.GetPrinterErrSent(param->lpPortName, printer);
    if (printers.GetSDKUse(param->lpPortName, printer))
        return FALSE;
    DWORD* list = nullptr;
    DWORD count = jobs.GetJobListForDevice(printer, &list);
    WD_TRACE("UpdateSpool", W("ulJobNum (%d)"), count);
    if (count == 0 || !list) {
        if (count != 0)
            WD_TRACE("UpdateSpool", W("SysJobIdList is NULL"));
        delete[] list;
        return FALSE;
    }
    DWORD firstReset = 0;
    jobs.GetResetFlg(printer, list[0], &firstReset);
    if ((firstReset == JOB_RESET_DATA || firstReset == JOB_RESET_POWER) &&
        printers.GetPrinterResetFlgParley(param->lpPortName, printer) == 0)
        count = 1;
    BOOL doCancel = TRUE;
    for (DWORD i = 0; i < count; ++i) {
        DWORD jobId = list[i];
        if (jobId == 0)
            continue;
        // A job the device has deleted is ended by the trace pass.
        if (jobs.GetDelSuccess(printer, jobId) != 0)
            continue;
        DWORD powerOff = powerOffFlag(param, jobId);
        JOB_INFO_1W* info = nullptr;
        int read = GetPrintJobInfo(printer, jobId, &info);
        WD_TRACE("UpdateSpool", W("GetPrintJobInfo(%d) = %d"), jobId, read);
        if (read == JOBREAD_UNKNOWN) {
            CancelPrintJob(param, jobId, &doCancel);
            if (oldStatus == DEVSTATUS_NO_ANSWER) {
                DWORD next = jobs.GetSystemJobId(printer);
                JOB_INFO_1W* nextInfo = nullptr;
                if (next != 0 && GetPrintJobInfo(printer, next, &nextInfo) != JOBREAD_UNKNOWN) {
                    offerNoAnswer(param, next, msgmEvent);
                    jobs.SetDevPowOffErrFlg(printer, next, 1);
                }
                LocalFree(nextInfo);
            }
        } else if (read == JOBREAD_FOUND) {
            DWORD status = info->Status;
            if (IsRemovePrintJob(status) && !powerOff) {
                if (doCancel) {
                    CancelPrintJob(param, jobId, &doCancel);
                    DWORD next = jobs.GetSystemJobId(printer);
                    if (oldStatus == DEVSTATUS_NO_ANSWER && next != 0 && powerOffFlag(param, next) &&
                        printers.GetPrinterSysJobIdParley(param->lpPortName, printer) != next)
                        offerNoAnswer(param, next, msgmEvent);
                }
            } else if ((status & JOB_STATUS_PAUSED) && !(status & JOB_STATUS_SPOOLING) && !powerOff) {
                setJob(param, jobId, JOB_CONTROL_RESTART);
            }
        }
        LocalFree(info);
        if (!param->pContext->StraightDelete)
            break;
    }
    delete[] list;
    WD_TRACE("UpdateSpool", W("Return Value:[%ls]"), SvcBoolText(FALSE));
    return FALSE;
}

void GetStatusInfo(JTRKServiceContext* context, LPCWSTR printer, StatusInfo* out, const ClJobID* clJobId, LPCWSTR port)
{
    if (!context || !printer || !out || !clJobId || clJobId->JobText[0] == 0 || !port)
        return;
    // Without a client library there is nothing to ask.
    DmlpInstance aplh = context->hAplh.load();
    if (aplh == 0)
        return;
    clPrnComData& printers = *context->pPrnComData;
    DWORD address = 0;
    printers.GetIPAddress2(port, &address);
    auto ask = [&]() {
        std::shared_lock<std::shared_mutex> guard(printers.GetAddressLock(address));
        DmlpBinding handle = nullptr;
        if (address != 0)
            printers.GetClibEpHandle2(address, &handle);
        ClJobID copy = *clJobId;
        return DMLLIB_GetStatusInfo(aplh, port, &copy, out, handle, context->GetPageCount);
    };
    DMLLIB_RESULTCODE code = ask();
    if (LOWORD(code) == 1)
        return;
    if (LOWORD(code) == 20) {
        if (restUntilStop(context, WATCH_RETRY_STATUS_MS))
            return;
        code = ask();
        if (LOWORD(code) == 1)
            return;
        if (LOWORD(code) == 20) {
            out->byOnline = 1;
            out->lStatusCode = DEVSTATUS_NO_ANSWER;
            return;
        }
    }
    // A status that cannot be read is reported, also when the retry fails this way.
    out->byOnline = 1;
    out->lStatusCode = DEVSTATUS_UNREADABLE;
    OutputClibErrEventLog(printer, code, IDS_API_GETSTATUSINFO, 0);
}

DevMsgRecord* GetStatusRecordCLIB(const StatusInfo* status)
{
    if (!status)
        return nullptr;
    WD_TRACE("GetStatusRecordCLIB", W("pStatusInfo->lStatusCode [%08lx] "), status->lStatusCode);
    WD_TRACE("GetStatusRecordCLIB", W("pStatusInfo->byOnline    [%ld] "), static_cast<long>(status->byOnline));
    DevMsgRecord* record = GetDevMsgRecordCLIB(static_cast<LONG>(status->lStatusCode));
    WD_TRACE("GetStatusRecordCLIB", W("pStatusInfo->dwMsgNo     [%d] "), record->dwMsgNo);
    WD_TRACE("GetStatusRecordCLIB", W("pStatusInfo->dwStatusCode [%08lx] "), record->dwStatusCode);
    WD_TRACE("GetStatusRecordCLIB", W("pStatusInfo->uErrAction  [%d] "), record->uErrAction);
    WD_TRACE("GetStatusRecordCLIB", W("pStatusInfo->dwPrtStatus [%08lx] "), record->dwPrtStatus);
    WD_TRACE("GetStatusRecordCLIB", W("pStatusInfo->uMsgId      [%d] "), GetDevMsgTextId(record));
    if (record->uErrAction != ERRACT_NOTICE && status->byOnline == 3)
        record = GetOfflineRecordCLIB();
    return record;
}

int SendDeviceStatus(JTRKServiceContext* context, LPCWSTR printer, DWORD jobId, DevMsgRecord* record,
                     const JOB_INFO_1W* info, DWORD rawStatus)
{
    WString port = context->pPrnJobData4V2->GetPortName(jobId);
    BOOL sdk = context->pPrnComData->GetSDKUse(port.c_str(), printer);
    DWORD status = 0;
    const DevMsgRecord* sent = nullptr;
    if (record->uErrAction == ERRACT_NOTICE || !info) {
        status = record->dwPrtStatus;
        sent = record;
    } else if ((info->Status & (JOB_STATUS_PRINTING | JOB_STATUS_PRINTED)) && !sdk) {
        BYTE top = static_cast<BYTE>(rawStatus >> 24);
        if (record->dwStatusCode != 0 && top != 1 && top != 2) {
            status = record->dwPrtStatus;
            sent = record;
        } else {
            status = PMSTATUS_ANSWERED;
        }
    }
    // The job-control thread may be ending the job meanwhile: nothing goes out after its end.
    int result = -1;
    context->pPrnJobData4V2->WhileTracked(printer, jobId,
                                          [&] { result = SendStatus(context, printer, jobId, status, sent); });
    return result;
}

void SetDeviceOffErrMessage(LPCWSTR printer, DWORD jobId, DevMsgRecord* record)
{
    WD_TRACE("SetDeviceOffErrMessage", W("SetDeviceOffErrMessage Printer[%ls] Jobid[%d]"), printer, jobId);
    JOB_INFO_1W* info = nullptr;
    if (GetPrintJobInfo(printer, jobId, &info) != JOBREAD_FOUND || !info) {
        LocalFree(info);
        return;
    }
    DWORD status = info->Status;
    LocalFree(info);
    WD_TRACE("SetDeviceOffErrMessage", W("SetDeviceOffErrMessage Status[%08x]"), status);
    if ((status & (JOB_STATUS_PAUSED | JOB_STATUS_RESTART)) && !(status & JOB_STATUS_PRINTED)) {
        SetDevMsgTextId(record, IDS_WIM_DEVICEPOWEROFF_HOLD);
        WD_TRACE("SetDeviceOffErrMessage", W("pMsgTable->uMsgId = IDS_WIM_DEVICEPOWEROFF_HOLD"));
    } else {
        SetDevMsgTextId(record, IDS_WIM_DEVICEPOWEROFF);
        WD_TRACE("SetDeviceOffErrMessage", W("pMsgTable->uMsgId = IDS_WIM_DEVICEPOWEROFF"));
    }
}

void ResetPrinterStatusAndParley(DeviceThreadParam* param, LONG messageId, DWORD jobId)
{
    clPrnComData& printers = printersOf(param);
    if (messageId > 0) {
        DWORD dialogJob = printers.GetPrinterSysJobIdParley(param->lpPortName, param->lpPrinterName);
        WD_TRACE("ResetPrinterStatusAndParley", W("MessageID:[%ld] SysJobID:[%ld]"), static_cast<long>(dialogJob),
                 static_cast<long>(jobId));
        if (dialogJob != jobId)
            return;
        int closed = MsgmiCancelReplyV31_d(0, static_cast<DWORD>(messageId));
        WD_TRACE("ResetPrinterStatusAndParley", W("MsgmCancelMessage:[%ld]"), static_cast<long>(closed));
        printers.ChangeDeviceThreadlRetParley(param->lpPortName, param->lpPrinterName, 0);
    }
    setErrSent(param, ERRSENT_NONE);
}

namespace {

// The job's status from the device, mapped to its table row.
DevMsgRecord* readDeviceStatus(DeviceThreadParam* param, const ClJobID& clJobId, StatusInfo* status)
{
    memset(status, 0, sizeof *status);
    GetStatusInfo(param->pContext, param->lpPrinterName, status, &clJobId, param->lpPortName);
    return GetStatusRecordCLIB(status);
}

// Binds the port's device again; true when the library made a new binding.
bool rebind(DeviceThreadParam* param)
{
    clPrnComData& printers = printersOf(param);
    DWORD address = 0;
    DmlpBinding handle = nullptr;
    if (!printers.GetIPAddress2(param->lpPortName, &address) || address == 0 ||
        !printers.GetClibEpHandle2(address, &handle) || !handle)
        return false;
    WORD port = printers.GetPort();
    DWORD result;
    {
        std::unique_lock<std::shared_mutex> guard(printers.GetAddressLock(address));
        printers.GetClibEpHandle2(address, &handle);
        DmlpBinding before = handle;
        result = DMLLIB_ResetBind(param->pContext->hAplh.load(), param->lpPortName, &handle, port);
        // The library may have released or replaced the binding even when it failed.
        if (handle != before) {
            if (handle)
                printers.SetClibEpHandle2(address, handle);
            else
                printers.RemoveClibEpHandle2(address);
        }
    }
    if (result != 1)
        return false;
    WCHAR portText[16];
    wsprintfW(portText, W("%u"), static_cast<unsigned>(port));
    LPCWSTR strings[2] = {param->lpPrinterName, portText};
    WriteServiceEvent(EVENTLOG_WARNING_TYPE, JTRK_EVENT_REBOUND, 2, strings);
    WD_TRACE("UpdateDevice", W("ReBind Printer(DMLPAPI) Printer[%ls] Port[%d]"), param->lpPrinterName, port);
    return true;
}

// Holds the printer's other jobs while its device does not answer.
void holdOtherJobs(DeviceThreadParam* param)
{
    DWORD* list = nullptr;
    DWORD count = jobsOf(param).GetJobListForDevice(param->lpPrinterName, &list);
    WD_TRACE("UpdateDevice", W("JobCnt:[%d]"), count);
    for (DWORD i = 1; i < count && list; ++i) {
        JOB_INFO_1W* info = nullptr;
        if (GetPrintJobInfo(param->lpPrinterName, list[i], &info) != JOBREAD_FOUND) {
            LocalFree(info);
            continue;
        }
        DWORD status = info->Status;
        LocalFree(info);
        WD_TRACE("UpdateDevice", W("Before GetJob Status == [%d]"), status);
        if (status & JOB_STATUS_PRINTING) {
            WD_TRACE("UpdateDevice", W("SetJob() Skip."));
            restUntilStop(param->pContext, WATCH_HELD_PRINTING_MS);
            break;
        }
        holdInSpooler(param, list[i], sendWhileTracked);
        jobsOf(param).SetDevPowOffErrFlg(param->lpPrinterName, list[i], 1);
    }
    delete[] list;
}

// A dialog whose message the message manager no longer knows (it was started again) is forgotten,
// with the status it was about, so that this poll offers it again.
void forgetUnknownDialog(DeviceThreadParam* param)
{
    clPrnComData& printers = printersOf(param);
    LONG messageId = printers.GetPrinterlRetParley(param->lpPortName, param->lpPrinterName);
    if (messageId <= 0)
        return;
    MsgmReply reply;
    memset(&reply, 0, sizeof reply);
    if (MsgmiReceiveMessage_d(static_cast<DWORD>(messageId), &reply) != MSGM_UNKNOWN_MESSAGE)
        return;
    WD_TRACE("UpdateDevice", W("MessageID:[%ld] unknown to the message manager"), static_cast<long>(messageId));
    printers.ChangeDeviceThreadlRetParley(param->lpPortName, param->lpPrinterName, 0);
    setErrSent(param, ERRSENT_NONE);
}

// The reset notice of a job whose data the device lost or reset.
void noticeReset(DeviceThreadParam* param, DWORD jobId, DWORD resetFlag, HANDLE msgmEvent)
{
    clPrnComData& printers = printersOf(param);
    ResetPrinterStatusAndParley(param, printers.GetPrinterlRetParley(param->lpPortName, param->lpPrinterName), jobId);
    DevMsgRecord record = {resetFlag == JOB_RESET_DATA ? DWORD(WIM_DATARESET) : DWORD(WIM_POWERRESET),
                           0,
                           0,
                           ERRACT_NOTICE,
                           0,
                           0,
                           resetFlag == JOB_RESET_DATA ? DWORD(IDS_WIM_DATARESET) : DWORD(IDS_WIM_POWERRESET)};
    sendWhileTracked(param, jobId, PMSTATUS_RESET, &record);
    NoticeParleyMessage(param, jobId, &record, msgmEvent);
    if (printers.GetPrinterSysJobIdParley(param->lpPortName, param->lpPrinterName) == jobId)
        printers.ChangeDeviceThreadResetFlgParley(param->lpPortName, param->lpPrinterName, 1);
}

} // namespace

void UpdateDevice(DeviceThreadParam* param, IJCSDKDevice*, HANDLE msgmEvent, SubscribeContext* subscriber)
{
    JTRKServiceContext* context = param->pContext;
    clPrnComData& printers = printersOf(param);
    clPrnJobData4V2& jobs = jobsOf(param);
    LPCWSTR printer = param->lpPrinterName;
    LPCWSTR port = param->lpPortName;
    forgetUnknownDialog(param);
    DWORD oldStatus = printers.GetPrinterErrSent(port, printer);
    if (printers.GetSDKUse(port, printer))
        return;
    DWORD jobId = jobs.GetSystemJobId(printer);
    if (printers.GetPrinterResetFlgParley(port, printer) == 1)
        return;
    DWORD resetFlag = 0;
    jobs.GetResetFlg(printer, jobId, &resetFlag);
    if (resetFlag == JOB_RESET_DATA || resetFlag == JOB_RESET_POWER) {
        noticeReset(param, jobId, resetFlag, msgmEvent);
        return;
    }

    ClJobID clJobId;
    memset(&clJobId, 0, sizeof clJobId);
    jobs.GetDeviceJobId(printer, jobId, &clJobId);
    StatusInfo status;
    DevMsgRecord* record = readDeviceStatus(param, clJobId, &status);
    DWORD rawStatus = status.lStatusCode;
    if (stopping(context))
        return;

    DWORD hObj = 0;
    jobs.GetJobHANDLE(printer, jobId, &hObj);
    if (record->uErrAction != ERRACT_NOTICE && hObj == 0) {
        if (restUntilStop(context, context->Sleep))
            return;
        BYTE traced = 0;
        DoTraceJob(context, printer, clJobId, &traced, jobId);
        WD_TRACE("UpdateDevice", W("DoTraceJob byState: %d"), traced);
        if (traced == DMLLIB_TRACE_UNKNOWN) {
            jobs.SetResetFlg(printer, jobId, JOB_RESET_POWER, context->MaxResetCount);
            WD_TRACE("UpdateDevice", W("UpdateDevice END."));
            return;
        }
    }
    DWORD jobCount = jobs.GetJobCountForDevice(printer);
    WD_TRACE("UpdateDevice", W("PrnName:[%ls] JobCnt:[%ld]"), printer, static_cast<long>(jobCount));
    if (jobCount != 0 && context->GetPageCount)
        jobs.UpdateImpressionCompletedCnt(printer, &clJobId, status.ImprCompCnt);

    if (rawStatus == DEVSTATUS_NO_ANSWER && rebind(param)) {
        if (subscriber) {
            printers.SetPort(static_cast<WORD>(printers.GetPort() + 1));
            SubscribeEvent(context, printer, subscriber, port);
        }
        record = readDeviceStatus(param, clJobId, &status);
        rawStatus = status.lStatusCode;
        if (stopping(context))
            return;
    }

    if (rawStatus == DEVSTATUS_NO_ANSWER) {
        if (record->dwMsgNo == WIM_DEVICEPOWEROFF) {
            WD_TRACE("UpdateDevice", W("pStatusRecord->dwMsgNo == WIM_DEVICEPOWEROFF"));
            SetDeviceOffErrMessage(printer, jobId, record);
        }
        if (oldStatus != DEVSTATUS_NO_ANSWER && GetDevMsgTextId(record) == IDS_WIM_DEVICEPOWEROFF_HOLD &&
            powerOffFlag(param, jobId)) {
            WD_TRACE("UpdateDevice", W("pStatusRecord->uMsgId == IDS_WIM_DEVICEPOWEROFF_HOLD"));
            holdInSpooler(param, jobId, sendWhileTracked);
            SetDevMsgTextId(record, IDS_WIM_DEVICEPOWEROFF);
            jobs.SetDevPowOffErrFlg(printer, jobId, 1);
            setErrSent(param, record->uErrAction == ERRACT_NOTICE ? record->dwStatusCode : ERRSENT_NONE);
            NoticeParleyMessage(param, jobId, record, msgmEvent);
            return;
        }
        WD_TRACE("UpdateDevice", W("pStatusRecord->uMsgId != IDS_WIM_DEVICEPOWEROFF_HOLD"));
    }

    if (record->dwStatusCode != oldStatus) {
        if (oldStatus == DEVSTATUS_NO_ANSWER) {
            WD_TRACE("UpdateDevice", W("dwOldStatus != pStatusRecord->dwStatusCode\x3000&& dwOldStatus == POWEROFF "));
            if (subscriber)
                SubscribeEvent(context, printer, subscriber, port);
        } else {
            WD_TRACE("UpdateDevice", W("dwOldStatus != pStatusRecord->dwStatusCode\x3000&& dwOldStatus != POWEROFF "));
            setErrSent(param, record->uErrAction == ERRACT_NOTICE ? record->dwStatusCode : ERRSENT_NONE);
            LONG open = printers.GetPrinterlRetParley(port, printer);
            if (open > 0) {
                MsgmiCancelReplyV31_d(0, static_cast<DWORD>(open));
                printers.ChangeDeviceThreadlRetParley(port, printer, 0);
            }
        }
    }

    JOB_INFO_1W* info = nullptr;
    int read = GetPrintJobInfo(printer, jobId, &info);
    DWORD powerOff = powerOffFlag(param, jobId);
    WD_TRACE("UpdateDevice", W("GetPrintJobInfo(%d) = %d"), jobId, read);
    if (read == JOBREAD_UNKNOWN) {
        BOOL doCancel = TRUE;
        CancelPrintJob(param, jobId, &doCancel);
        DWORD next = jobs.GetSystemJobId(printer);
        if (oldStatus == DEVSTATUS_NO_ANSWER && next != 0 && powerOffFlag(param, next))
            offerNoAnswer(param, next, msgmEvent);
        return;
    }
    if (read != JOBREAD_FOUND || !info) {
        LocalFree(info);
        return;
    }
    DWORD jobStatus = info->Status;
    if (!powerOff && (IsRemovePrintJob(jobStatus) || (jobStatus & JOB_STATUS_PAUSED))) {
        // A cancel or a restart ends the poll: the job's next poll reports its new state. A job
        // the service has cancelled at the device (a held one) is ended by the trace pass.
        if (IsRemovePrintJob(jobStatus)) {
            BOOL doCancel = TRUE;
            if (jobs.GetDelSuccess(printer, jobId) == 0)
                CancelPrintJob(param, jobId, &doCancel);
        } else if (!(jobStatus & JOB_STATUS_SPOOLING)) {
            setJob(param, jobId, JOB_CONTROL_RESTART);
        }
        LocalFree(info);
        return;
    }

    if (GetDevMsgTextId(record) == IDS_WIM_DEVICEPOWEROFF_HOLD)
        SetDevMsgTextId(record, IDS_WIM_DEVICEPOWEROFF);
    WD_TRACE("UpdateDevice", W("SendDeviceStatus Printer(%ls) JobID(%d) RawStatus(%d)"), printer, jobId, rawStatus);
    int sent = SendDeviceStatus(context, printer, jobId, record, info, rawStatus);
    LocalFree(info);
    if (record->uErrAction != ERRACT_NOTICE)
        return;
    WD_TRACE("UpdateDevice", W("ERRACT_NOTICE == pStatusRecord->uErrAction"));
    if (record->dwStatusCode == oldStatus || sent == JTRK_PRINTMGR_PAUSED) {
        WD_TRACE("UpdateDevice", W("(dwOldStatus == pStatusRecord->dwStatusCode) || (JTRK_PRINTMGR_PAUSED == lRet)"));
        return;
    }
    WD_TRACE("UpdateDevice", W("(dwOldStatus != pStatusRecord->dwStatusCode) && (JTRK_PRINTMGR_PAUSED != lRet)"));
    if (oldStatus != DEVSTATUS_NO_ANSWER && !powerOff)
        NoticeParleyMessage(param, jobId, record, msgmEvent);
    if (record->dwStatusCode == DEVSTATUS_NO_ANSWER) {
        WD_TRACE("UpdateDevice", W("!bSDK && (dwOldStatus == 0x08) || (bSDK && dwOldStatus == 0xffffffff)"));
        holdOtherJobs(param);
    } else {
        WD_TRACE("UpdateDevice", W("Not(!bSDK && (pStatusRecord->dwStatusCode == 0x08) || (bSDK && "
                                   "pStatusRecord->dwStatusCode == 0xffffffff))"));
    }
}

void NoticeParleyMessage(DeviceThreadParam* param, DWORD jobId, DevMsgRecord* record, HANDLE msgmEvent)
{
    clPrnComData& printers = printersOf(param);
    LPCWSTR printer = param->lpPrinterName;
    if (!record || printers.GetPrinterlRetParley(param->lpPortName, printer) >= 1)
        return;
    if (printers.GetSDKUse(param->lpPortName, printer))
        return;
    // The dialog is recorded before an ending can begin, so that the ending closes it.
    jobsOf(param).WhileTracked(printer, jobId, [&] {
        MsgJobInfo info = {};
        BOOL got = jobsOf(param).GetMessageJobInfo(printer, jobId, &info);
        WD_TRACE("NoticeParleyMessage", W("Return Value bGet = [%ls]"), SvcBoolText(got));
        LONG id = SendMsg(printer, jobId, static_cast<WORD>(record->dwMsgNo), static_cast<WORD>(record->dwMsgType),
                          GetDevMsgTextId(record), got ? &info : nullptr);
        if (got)
            jobsOf(param).DelMessageJobInfo(&info);
        WD_TRACE("NoticeParleyMessage", W("SendMsg Return Value:[%ld]"), static_cast<long>(id));
        if (id >= 1) {
            ResetEvent(msgmEvent);
            MsgmiEventSelect_d(static_cast<DWORD>(id), param->ullMsgmEvent);
            WD_TRACE("NoticeParleyMessage", W("MessageID:[%ld]"), static_cast<long>(id));
            printers.ChangeDeviceThreadlRetParley(param->lpPortName, printer, id);
            printers.ChangeDeviceThreadSysJobIdParley(param->lpPortName, printer, jobId);
        } else if (id < 0) {
            setErrSent(param, ERRSENT_NONE);
        }
    });
}

namespace {

void parleyContinue(DeviceThreadParam* param, LONG messageId, DWORD jobId, DWORD errSent, HANDLE msgmEvent)
{
    WD_TRACE("DoParleyMessage", W("Parley Message Select CONTINUE"));
    ClJobID clJobId;
    memset(&clJobId, 0, sizeof clJobId);
    jobsOf(param).GetDeviceJobId(param->lpPrinterName, jobId, &clJobId);
    StatusInfo status;
    DevMsgRecord* record = readDeviceStatus(param, clJobId, &status);
    if (record->dwMsgNo == WIM_DEVICEPOWEROFF)
        SetDevMsgTextId(record, IDS_WIM_DEVICEPOWEROFF);
    if (record->dwStatusCode == errSent) {
        sendWhileTracked(param, jobId, record->dwPrtStatus, record);
        NoticeParleyMessage(param, jobId, record, msgmEvent);
    } else {
        setErrSent(param, ERRSENT_NONE);
        sendWhileTracked(param, jobId, PMSTATUS_ANSWERED, nullptr);
        ResetPrinterStatusAndParley(param, messageId, jobId);
    }
}

void parleyDelete(DeviceThreadParam* param, DWORD jobId, bool deviceOff)
{
    WD_TRACE("DoParleyMessage", W("Parley Message Select DELETE"));
    if (!deviceOff) {
        sendWhileTracked(param, jobId, PMSTATUS_DELETED, nullptr);
        setJob(param, jobId, JOB_CONTROL_DELETE);
        BOOL doCancel = TRUE;
        CancelPrintJob(param, jobId, &doCancel);
        return;
    }
    ClJobID clJobId;
    if (!beginEnd(param, jobId, &clJobId))
        return; // the job has ended meanwhile
    sendStatus(param, jobId, PMSTATUS_DELETED, nullptr);
    sendStatus(param, jobId, PMSTATUS_ANSWERED, nullptr);
    jobsOf(param).RemoveJobData(param->lpPrinterName, &clJobId);
    setJob(param, jobId, JOB_CONTROL_DELETE);
    SendNoticeEnd(param->lpPrinterName, jobId);
}

void parleyHold(DeviceThreadParam* param, DWORD jobId, bool deviceOff)
{
    WD_TRACE("DoParleyMessage", W("Parley Message Select HOLD"));
    if (!deviceOff) {
        setJob(param, jobId, JOB_CONTROL_PAUSE);
        setJob(param, jobId, JOB_CONTROL_RESTART);
        BOOL doCancel = TRUE;
        CancelPrintJob(param, jobId, &doCancel);
        printersOf(param).SetPausedFlag(param->lpPrinterName, jobId);
        return;
    }
    ClJobID clJobId;
    if (!beginEnd(param, jobId, &clJobId))
        return; // the job has ended meanwhile
    sendStatus(param, jobId, PMSTATUS_ANSWERED, nullptr);
    jobsOf(param).RemoveJobData(param->lpPrinterName, &clJobId);
    holdInSpooler(param, jobId, sendStatus);
    SendNoticeEnd(param->lpPrinterName, jobId);
}

} // namespace

void DoParleyMessage(DeviceThreadParam* param, IJCSDKDevice*, HANDLE msgmEvent)
{
    clPrnComData& printers = printersOf(param);
    LPCWSTR printer = param->lpPrinterName;
    LPCWSTR port = param->lpPortName;
    LONG messageId = printers.GetPrinterlRetParley(port, printer);
    if (messageId <= 0)
        return;
    MsgmReply reply;
    memset(&reply, 0, sizeof reply);
    if (MsgmiReceiveMessage_d(static_cast<DWORD>(messageId), &reply) < 0)
        return;
    DWORD select = reply.dwSelect;
    WD_TRACE("DoParleyMessage", W("Select No:[%ld]"), static_cast<long>(select));
    if (printers.GetSDKUse(port, printer))
        return;
    DWORD jobId = jobsOf(param).GetSystemJobId(printer);
    if (jobId == 0)
        return;
    DWORD errSent = printers.GetPrinterErrSent(port, printer);
    bool deviceOff = errSent == DEVSTATUS_NO_ANSWER;
    if (select == PARLEY_CONTINUE && (deviceOff || printers.GetPrinterResetFlgParley(port, printer) == 1))
        select = PARLEY_HOLD;
    switch (select) {
    case PARLEY_CONTINUE:
        parleyContinue(param, messageId, jobId, errSent, msgmEvent);
        break;
    case PARLEY_DELETE:
        parleyDelete(param, jobId, deviceOff);
        break;
    case PARLEY_HOLD:
        parleyHold(param, jobId, deviceOff);
        break;
    default:
        break;
    }
    if (select >= PARLEY_CONTINUE && select <= PARLEY_HOLD && printers.GetPrinterSysJobIdParley(port, printer) == jobId)
        printers.ChangeDeviceThreadlRetParley(port, printer, 0);
    if (deviceOff) {
        DWORD next = jobsOf(param).GetSystemJobId(printer);
        if (next != 0 && powerOffFlag(param, next))
            offerNoAnswer(param, next, msgmEvent);
    }
}

void CancelPrintJob(DeviceThreadParam* param, DWORD jobId, BOOL* doCancel)
{
    clPrnComData& printers = printersOf(param);
    LPCWSTR printer = param->lpPrinterName;
    LPCWSTR port = param->lpPortName;
    ResetPrinterStatusAndParley(param, printers.GetPrinterlRetParley(port, printer), jobId);
    RemovePrintJob(param->pContext, printer, port, jobId, doCancel);
    LPCRITICAL_SECTION lock = printers.GetCriticalObj(port, printer);
    if (!lock)
        return;
    EnterCriticalSection(lock);
    if (!printers.GetSDKUse(port, printer) && jobsOf(param).GetJobCountForDevice(printer) == 0 &&
        printers.GetPortPrinterStatus(port, printer) != SDKSTATE_AVAILABLE)
        printers.ChangeDeviceThreadStatus(port, SDKSTATE_AVAILABLE, printer);
    LeaveCriticalSection(lock);
}
