#include "PipeServer.h"

#include <cstring>
#include <string>

#include "JobUtilities.h"
#include "Notices.h"
#include "PrnComData.h"
#include "PrnJobData4V2.h"
#include "SendMsg.h"
#include "ServiceEvents.h"
#include "ServiceTrace.h"
#include "jtrkjobevent.h"

namespace {

const char kSource[] = "WaitJob";

#define PIPE_TRACE(...) SVC_TRACE(kSource, "WaitJobThread", __VA_ARGS__)

#define MSG_ATTRIBUTES_FAILED 1022
#define MSG_TYPE_CHOICES 2
#define IDS_ATTRIBUTES_FAILED_TEXT 325

// The fields of a request this thread reads, with both names terminated whatever the sender wrote.
struct JobReport {
    DWORD messageId;
    WCHAR printer[JOBEVENT_PRINTER_NAME_CHARS];
    WCHAR port[JOBEVENT_PORT_NAME_CHARS];
    DWORD jobId;
    ClJobID clJobId;
    DWORD nup;
};

void readReport(const JobEventRequest& request, JobReport* report)
{
    report->messageId = request.dwMessageID;
    memcpy(report->printer, request.wszPrnName, sizeof report->printer);
    report->printer[JOBEVENT_PRINTER_NAME_CHARS - 1] = 0;
    memcpy(report->port, request.wszPortName, sizeof report->port);
    report->port[JOBEVENT_PORT_NAME_CHARS - 1] = 0;
    report->jobId = request.dwJobId;
    memcpy(&report->clJobId, request.ClientJobId, sizeof report->clJobId);
    report->nup = request.dwNup;
}

// How an overlapped call on the pipe ended.
enum class Outcome { Done, ClientSilent, Stopping };

class PipeServer {
public:
    PipeServer(JTRKServiceContext* context, HANDLE event) : m_context(context), m_event(event) {}

    // One connection: connect, read, handle, reply, disconnect. FALSE when the thread must end.
    bool serveOne();

private:
    Outcome complete(BOOL done, DWORD limit);
    bool exchange();
    void handle(const JobReport& report);
    void startTracking(const JobReport& report);
    void track(const JobReport& report, DWORD send, const JOB_INFO_1A* info);
    void reject(const JobReport& report);

    JTRKServiceContext* m_context;
    HANDLE m_event;
    OVERLAPPED m_overlapped{};
    BOOL m_v1 = FALSE; // the latest start request came from a device of the first protocol version
};

void armOverlapped(OVERLAPPED* overlapped, HANDLE event)
{
    memset(overlapped, 0, sizeof *overlapped);
    overlapped->hEvent = event;
    ResetEvent(event);
}

// Waits up to limit for an overlapped call that did not complete at once. A call cut short by the
// stop or the limit is cancelled and waited for: it must not outlive its buffer.
Outcome PipeServer::complete(BOOL done, DWORD limit)
{
    if (done || GetLastError() != ERROR_IO_PENDING)
        return Outcome::Done;
    HANDLE handles[2] = {m_context->hSvcEvent, m_event};
    DWORD woke = WaitForMultipleObjects(2, handles, FALSE, limit);
    if (woke == WAIT_OBJECT_0 + 1)
        return Outcome::Done;
    CancelIoEx(m_context->hPipe, &m_overlapped);
    DWORD moved = 0;
    BOOL finished = GetOverlappedResult(m_context->hPipe, &m_overlapped, &moved, TRUE);
    if (woke != WAIT_TIMEOUT)
        return Outcome::Stopping;
    return finished ? Outcome::Done : Outcome::ClientSilent;
}

// The request of a connected client and its reply. A client that sends nothing, or takes no reply,
// within the pipe's time-out is let go: the pipe has one instance, and the monitor's next report
// waits for it. FALSE when the thread must end.
bool PipeServer::exchange()
{
    HANDLE pipe = m_context->hPipe;
    armOverlapped(&m_overlapped, m_event);
    JobEventRequest request;
    memset(&request, 0, sizeof request);
    DWORD read = 0;
    Outcome received = complete(ReadFile(pipe, &request, sizeof request, &read, &m_overlapped), JTRK_PIPE_TIMEOUT_MS);
    if (received == Outcome::ClientSilent) {
        PIPE_TRACE(W("No request within the time-out: the client is disconnected."));
        return true;
    }
    if (received == Outcome::Done && request.dwSize == sizeof(JobEventRequest) && request.dwMessageID != 0) {
        JobReport report;
        readReport(request, &report);
        handle(report);
    }
    armOverlapped(&m_overlapped, m_event);
    DWORD written = 0;
    Outcome replied = complete(WriteFile(pipe, nullptr, 0, &written, &m_overlapped), JTRK_PIPE_TIMEOUT_MS);
    return received == Outcome::Done && replied != Outcome::Stopping;
}

bool PipeServer::serveOne()
{
    armOverlapped(&m_overlapped, m_event);
    bool keepOn = complete(ConnectNamedPipe(m_context->hPipe, &m_overlapped), INFINITE) == Outcome::Done && exchange();
    DisconnectNamedPipe(m_context->hPipe);
    return keepOn;
}

void PipeServer::handle(const JobReport& report)
{
    PIPE_TRACE(W("MessageID:[%d]"), report.messageId);
    bool named = report.printer[0] != 0 && report.jobId != 0;
    // A job is traced by the job text of its client job id: a report of a current device without
    // one would be tracked and never ended. First-version reports carry no id at all.
    bool traceable = report.clJobId.Data1 == 0 || report.clJobId.JobText[0] != 0;
    if (report.messageId == JOBEVENT_JOBSTART && named && traceable) {
        startTracking(report);
    } else if (report.messageId == JOBEVENT_REQUEUED && named) {
        // The job was requeued after a send error, whatever device sent it before.
        m_context->pPrnJobData4V2->SetDevPowOffErrFlg(report.printer, report.jobId, TRUE);
    } else {
        reject(report);
    }
}

void PipeServer::startTracking(const JobReport& report)
{
    clPrnComData& printers = *m_context->pPrnComData;
    m_v1 = report.clJobId.Data1 == 0;
    PIPE_TRACE(W("DMLPV1:[%ls]"), SvcBoolText(m_v1));
    DWORD state = printers.GetPortPrinterStatus(report.port, report.printer);
    if ((state == 0 || state == SDKSTATE_NOTAVAILABLE) && !printers.SetPrinterActive(report.printer, report.port, m_v1))
        return;
    if (m_v1)
        return;
    // Without its watch thread nobody would end a job of the printer: it is not announced.
    if (printers.GetPrinterUnwatched(report.port, report.printer)) {
        PIPE_TRACE(W("PrnName:[%ls] not watched"), report.printer);
        return;
    }
    JOB_INFO_1A* info = nullptr;
    GetPrintJobInfoA(report.printer, report.jobId, &info);
    // A job sent again (restarted, resumed, re-queued) is tracked by its latest send and stays
    // announced; the same send reported twice is tracked once.
    DWORD send = m_context->pPrnJobData4V2->ReplaceJobData(report.printer, report.port, &report.clJobId,
                                                           report.jobId, info);
    if (send != JOBSEND_DUPLICATE)
        track(report, send, info);
    LocalFree(info);
}

// Announces a job not tracked yet and enters it into the table, or goes on with the record of the
// job's earlier send; wakes the printer's watch thread.
void PipeServer::track(const JobReport& report, DWORD send, const JOB_INFO_1A* info)
{
    clPrnComData& printers = *m_context->pPrnComData;
    clPrnJobData4V2& jobs = *m_context->pPrnJobData4V2;
    if (send == JOBSEND_NOT_TRACKED && SendNoticeStart(report.printer, report.jobId) != 0)
        return;
    int nupResult = SendPrintStatus(m_context, report.printer, report.jobId, report.nup);
    if (SendStatus(m_context, report.printer, report.jobId, 0x400, nullptr) != 0)
        return;
    LPCRITICAL_SECTION lock = printers.GetCriticalObj(report.port, report.printer);
    if (lock)
        EnterCriticalSection(lock);
    BOOL added = FALSE;
    if (send == JOBSEND_REPLACED)
        added = TRUE;
    else if (printers.GetPrinterUnwatched(report.port, report.printer))
        SendNoticeEnd(report.printer, report.jobId); // the watch thread ended while the job was announced
    else
        added = jobs.AddJobData(report.printer, report.port, &report.clJobId, report.jobId, info);
    if (nupResult < 0) {
        MsgJobInfo texts = {};
        jobs.GetMessageJobInfo(report.printer, report.jobId, &texts);
        SendMsg(report.printer, report.jobId, MSG_ATTRIBUTES_FAILED, MSG_TYPE_CHOICES, IDS_ATTRIBUTES_FAILED_TEXT, &texts);
        jobs.DelMessageJobInfo(&texts);
        PIPE_TRACE(W("SetPrintStatus Failed!!"));
    }
    if (added && printers.GetPortPrinterStatus(report.port, report.printer) != SDKSTATE_PRINTING)
        printers.ChangeDeviceThreadStatus(report.port, SDKSTATE_PRINTING, report.printer);
    if (lock)
        LeaveCriticalSection(lock);
}

void PipeServer::reject(const JobReport& report)
{
    if (m_v1)
        return;
    WCHAR job[16];
    swprintf_s(job, 16, W("%lu"), report.jobId);
    WString document;
    JOB_INFO_1W* info = nullptr;
    bool haveDocument = GetPrintJobInfo(report.printer, report.jobId, &info) == JOBREAD_FOUND;
    if (haveDocument) {
        if (info->pDocument)
            document = info->pDocument;
        LocalFree(info);
    }
    LPCWSTR strings[3] = {report.printer, job, document.c_str()};
    WriteServiceEvent(EVENTLOG_ERROR_TYPE, JTRK_EVENT_REQUEST_REJECTED, haveDocument ? 3 : 2, strings);
    SVC_ERROR(TRACE_ERROR_PARAMETER, kSource, "WaitJobThread");
}

} // namespace

HANDLE CreateJobPipe()
{
    SECURITY_DESCRIPTOR descriptor;
    if (!InitializeSecurityDescriptor(&descriptor, 1)) {
        SVC_TRACE(kSource, "JTRKServiceMain", W("Failed to InitializeSecurityDescriptor API()."));
        return nullptr;
    }
    if (!SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE)) {
        SVC_TRACE(kSource, "JTRKServiceMain", W("Failed to SetSecurityDescriptorDacl API()."));
        return nullptr;
    }
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, &descriptor, FALSE};
    return CreateNamedPipeW(JTRK_SERVICE_PIPE_NAME, PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                            PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 0, 0, JTRK_PIPE_TIMEOUT_MS,
                            &attributes);
}

unsigned __stdcall WaitJobThread(void* argument)
{
    auto* context = static_cast<JTRKServiceContext*>(argument);
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!event) {
        PIPE_TRACE(W("Failed to CreateEvent API()."));
        return 1;
    }
    {
        PipeServer server(context, event);
        while (server.serveOne()) {
        }
    }
    CloseHandle(event);
    return 0;
}
