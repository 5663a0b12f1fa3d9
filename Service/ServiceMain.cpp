#include "ServiceMain.h"
#include "WatchDevice.h"

#include <vector>

#include <winspool.h>

#include "ControlJob.h"
#include "JTRKCLIB.h"
#include "PipeServer.h"
#include "PrnComData.h"
#include "PrnJobData.h"
#include "PrnJobData4V2.h"
#include "ServiceEvents.h"
#include "ServiceTrace.h"

namespace {

const char kSource[] = "JTRKSVC2";

#define MAIN_TRACE(...) SVC_TRACE(kSource, "JTRKServiceMain", __VA_ARGS__)

#define START_WAIT_HINT_MS 6000
#define THREAD_WAIT_STEP_MS 2000
#define THREAD_WAIT_LIMIT_MS 30000
#define STOPPED_PAUSE_MS 5000

void writeStartFailed()
{
    WriteServiceEvent(EVENTLOG_ERROR_TYPE, JTRK_EVENT_START_FAILED, 0, nullptr);
}

// Clears the status text an earlier run left on the monitor's ports. The error when the spooler
// cannot even be asked, else 0.
DWORD resetMonitorPorts()
{
    DWORD needed = 0;
    DWORD count = 0;
    if (EnumPortsW(nullptr, 2, nullptr, 0, &needed, &count))
        return 0; // no port at all
    DWORD error = GetLastError();
    if (error != ERROR_INSUFFICIENT_BUFFER)
        return error;
    std::vector<BYTE> buffer(needed);
    if (!EnumPortsW(nullptr, 2, buffer.data(), needed, &needed, &count)) {
        MAIN_TRACE(W("EnumPorts Fail.[%d]"), GetLastError());
        return 0;
    }
    auto* ports = reinterpret_cast<PORT_INFO_2W*>(buffer.data());
    for (DWORD i = 0; i < count; ++i) {
        if (!ports[i].pDescription || lstrcmpW(ports[i].pDescription, JTRK_PORT_DESCRIPTION) != 0)
            continue;
        PORT_INFO_3W info = {0, nullptr, 0};
        if (SetPortW(nullptr, ports[i].pPortName, 3, reinterpret_cast<BYTE*>(&info)))
            MAIN_TRACE(W("Change Port Status[%s]"), ports[i].pPortName);
    }
    return 0;
}

HANDLE startThread(unsigned(__stdcall* procedure)(void*), JTRKServiceContext* context, DWORD* threadId)
{
    unsigned id = 0;
    HANDLE thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, procedure, context, 0, &id));
    if (thread && threadId)
        *threadId = id;
    return thread;
}

// What the start-up made, for the shutdown to undo.
struct ServiceRun {
    SERVICE_STATUS_HANDLE status = nullptr;
    JTRKServiceContext context{};
    HANDLE hWaitJob = nullptr;
    HANDLE hJobCtrThread = nullptr;
    BOOL comInitialized = FALSE;
    DWORD checkPoint = 2;
};

// Waits for a thread in steps, reporting STOP_PENDING with a rising checkpoint; TRUE once it ended.
BOOL waitForThread(ServiceRun& run, HANDLE thread)
{
    for (DWORD waited = 0; waited < THREAD_WAIT_LIMIT_MS; waited += THREAD_WAIT_STEP_MS) {
        if (WaitForSingleObject(thread, THREAD_WAIT_STEP_MS) == WAIT_OBJECT_0)
            return TRUE;
        JTRKReportStatus(&run.status, SERVICE_STOP_PENDING, ++run.checkPoint, START_WAIT_HINT_MS);
    }
    return FALSE;
}

void closeTraced(HANDLE* handle, const WCHAR* format)
{
    if (*handle) {
        MAIN_TRACE(format, SvcBoolText(CloseHandle(*handle)));
        *handle = nullptr;
    }
}

void shutdown(ServiceRun& run)
{
    JTRKServiceContext& context = run.context;
    if (!JTRKReportStatus(&run.status, SERVICE_STOP_PENDING, run.checkPoint, START_WAIT_HINT_MS))
        MAIN_TRACE(W("Failed to JTRKReportStatus(SERVICE_STOP_PENDING)."));
    if (context.hSvcEvent)
        SetEvent(context.hSvcEvent);
    // ControlJobThread stays in GetMessageW once messages came: WM_QUIT ends it.
    if (run.hJobCtrThread)
        PostThreadMessageW(context.dwControlJobThreadId, WM_QUIT, 0, 0);
    BOOL ended = TRUE;
    if (run.hWaitJob) {
        if (waitForThread(run, run.hWaitJob))
            closeTraced(&run.hWaitJob, W("Return Value CloseHandle(hWaitJob) = [%ls]"));
        else
            ended = FALSE;
    }
    if (run.hJobCtrThread) {
        if (waitForThread(run, run.hJobCtrThread))
            closeTraced(&run.hJobCtrThread, W("Return Value CloseHandle(hJobCtrThread) = [%ls]"));
        else
            ended = FALSE;
    }
    if (context.pPrnComData)
        context.pPrnComData->TerminatePrinterInstance();
    if (context.pPrnComData && context.pPrnComData->WatchThreadsRunning())
        ended = FALSE;
    if (!ended) {
        // A thread that did not end can still reach the context's objects: they are left to the
        // process's end. The jobs tracked still get their end notice.
        MAIN_TRACE(W("Threads still running: the service's objects are not freed."));
        if (context.pPrnJobData4V2)
            context.pPrnJobData4V2->EndTracking();
    } else {
        closeTraced(&context.hPipe, W("Return Value CloseHandle(hPipe) = [%ls]"));
        closeTraced(&context.hSvcEvent, W("Return Value CloseHandle(hSvcEvent) = [%ls]"));
        delete context.pPrnComData;
        context.pPrnComData = nullptr;
        delete context.pPrnJobData;
        context.pPrnJobData = nullptr;
        delete context.pPrnJobData4V2;
        context.pPrnJobData4V2 = nullptr;
    }
    DmlpInstance aplh = context.hAplh.exchange(0);
    if (aplh != 0 && !DMLLIB_Terminate(aplh)) {
        MAIN_TRACE(W("Failed to DMLLIB_Terminate."));
        WriteServiceEvent(EVENTLOG_ERROR_TYPE, JTRK_EVENT_CLIB_TERM_FAILED, 0, nullptr);
    }
    // The library's notification thread can no longer call back into the watch threads' contexts.
    FreeRetiredSubscribeContexts();
    if (ended) {
        delete context.IPAddrMap;
        context.IPAddrMap = nullptr;
    }
    if (run.comInitialized)
        CoUninitialize();
    Sleep(STOPPED_PAUSE_MS);
    if (!JTRKReportStatus(&run.status, SERVICE_STOPPED, 0, 0))
        MAIN_TRACE(W("Failed to JTRKReportStatus(SERVICE_STOPPED)."));
}

// Steps 3 to 13 of the start-up; FALSE after a failure that has written its event.
BOOL startUp(ServiceRun& run)
{
    JTRKServiceContext& context = run.context;
    if (!JTRKReportStatus(&run.status, SERVICE_START_PENDING, 1, START_WAIT_HINT_MS)) {
        MAIN_TRACE(W("Failed to JTRKReportStatus()."));
        writeStartFailed();
        return FALSE;
    }
    run.comInitialized = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    if (!run.comInitialized) {
        MAIN_TRACE(W("Failed to CoInitializeEx API()."));
        writeStartFailed();
        return FALSE;
    }
    WCHAR iniPath[MAX_PATH];
    ReadServiceSettings(&context, GetModuleIniPath(iniPath, MAX_PATH) ? iniPath : nullptr);
    context.pPrnComData = new (std::nothrow) clPrnComData;
    context.pPrnJobData = new (std::nothrow) clPrnJobData;
    context.pPrnJobData4V2 = new (std::nothrow) clPrnJobData4V2;
    context.IPAddrMap = new (std::nothrow) IPAddressPrinterMap;
    if (!context.pPrnComData || !context.pPrnJobData || !context.pPrnJobData4V2 || !context.IPAddrMap) {
        SVC_ERROR(TRACE_ERROR_MEMORY, kSource, "JTRKServiceMain");
        writeStartFailed();
        return FALSE;
    }
    context.pPrnComData->SetContext(&context);
    context.hSvcEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!context.hSvcEvent) {
        MAIN_TRACE(W("Failed to CreateEvent API()."));
        writeStartFailed();
        return FALSE;
    }
    DWORD controlJobThreadId = 0;
    run.hJobCtrThread = startThread(ControlJobThread, &context, &controlJobThreadId);
    context.dwControlJobThreadId = controlJobThreadId;
    if (!run.hJobCtrThread) {
        MAIN_TRACE(W("Failed to _beginthreadex API(ControlJobThread)."));
        writeStartFailed();
        return FALSE;
    }
    context.hPipe = CreateJobPipe();
    if (context.hPipe == INVALID_HANDLE_VALUE) {
        context.hPipe = nullptr;
        DWORD error = GetLastError();
        MAIN_TRACE(W("Failed to CreateNamedPipe API()."));
        WCHAR number[16];
        swprintf_s(number, 16, W("%lu"), error);
        LPCWSTR strings[1] = {number};
        WriteServiceEvent(EVENTLOG_ERROR_TYPE, JTRK_EVENT_PIPE_FAILED, 1, strings);
        return FALSE;
    }
    if (!context.hPipe) {
        writeStartFailed();
        return FALSE;
    }
    run.hWaitJob = startThread(WaitJobThread, &context, nullptr);
    if (!run.hWaitJob) {
        MAIN_TRACE(W("Failed to _beginthreadex API(WaitJobThread)."));
        writeStartFailed();
        return FALSE;
    }
    DmlpInstance aplh = 0;
    if (!DMLLIB_Initialize(&aplh)) {
        MAIN_TRACE(W("Failed to DMLLIB_Initialize."));
        WriteServiceEvent(EVENTLOG_ERROR_TYPE, JTRK_EVENT_CLIB_INIT_FAILED, 0, nullptr);
    }
    context.hAplh = aplh;
    if (!context.pPrnComData->InitializePrinterInstance()) {
        MAIN_TRACE(W("Failed to pPrnComData->InitializePrinterInstance()."));
        writeStartFailed();
        return FALSE;
    }
    if (!JTRKReportStatus(&run.status, SERVICE_RUNNING, 0, 0)) {
        MAIN_TRACE(W("Failed to JTRKReportStatus(SERVICE_RUNNING)."));
        writeStartFailed();
        return FALSE;
    }
    return TRUE;
}

} // namespace

BOOL JTRKReportStatus(SERVICE_STATUS_HANDLE* status, DWORD state, DWORD checkPoint, DWORD waitHint)
{
    SERVICE_STATUS report = {};
    report.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    report.dwCurrentState = state;
    report.dwControlsAccepted = state == SERVICE_START_PENDING ? 0 : SERVICE_ACCEPT_STOP;
    report.dwCheckPoint = checkPoint;
    report.dwWaitHint = waitHint;
    BOOL reported = SetServiceStatus(*status, &report);
    SVC_TRACE(kSource, "JTRKReportStatus", W("Report Status [%ld]"), state);
    SVC_TRACE(kSource, "JTRKReportStatus", W("Return Value SetServiceStatus = [%ls]"), SvcBoolText(reported));
    return reported;
}

DWORD WINAPI JTRKServiceCtrlHandlerEx(DWORD control, DWORD, LPVOID, LPVOID context)
{
    SVC_TRACE(kSource, "JTRKServiceCtrlHandlerEx", W("Change dwCtrlCode [%ld]"), control);
    HANDLE* stopEvent = static_cast<HANDLE*>(context);
    if (control == SERVICE_CONTROL_STOP && stopEvent && *stopEvent)
        SetEvent(*stopEvent);
    return NO_ERROR;
}

void WINAPI JTRKServiceMain(DWORD, LPWSTR*)
{
    ServiceRun run;
    DWORD spoolerError = resetMonitorPorts();
    run.status = RegisterServiceCtrlHandlerExW(JTRK_SERVICE_NAME, JTRKServiceCtrlHandlerEx, &run.context.hSvcEvent);
    if (!run.status) {
        writeStartFailed();
        MAIN_TRACE(W("Failed to RegisterServiceCtrlHandlerEx API()."));
        return;
    }
    if (spoolerError != 0) {
        // Without the spooler nothing can be tracked: the service stops at once with the error.
        writeStartFailed();
        SERVICE_STATUS report = {SERVICE_WIN32_OWN_PROCESS, SERVICE_STOPPED, 0, spoolerError, 0, 0, 0};
        SetServiceStatus(run.status, &report);
        return;
    }
    if (startUp(run))
        WaitForSingleObject(run.context.hSvcEvent, INFINITE);
    shutdown(run);
}

int JTRKServiceEntry()
{
    SERVICE_TABLE_ENTRYW table[] = {{const_cast<LPWSTR>(JTRK_SERVICE_NAME), JTRKServiceMain}, {nullptr, nullptr}};
    if (!StartServiceCtrlDispatcherW(table))
        writeStartFailed();
    return 0;
}
