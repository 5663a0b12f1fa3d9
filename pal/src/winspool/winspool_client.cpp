// The winspool functions: each call becomes a request to the spooler host (winspool_wire.h),
// served in-process inside the host and over its socket everywhere else.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <optional>

#include "threads/object.h"
#include "pal/codepage.h"
#include "pal/system.h"
#include "pal/winspool.h"
#include "files/root.h"
#include "winspool/winspool_local.h"
#include "winspool/winspool_ports.h"
#include "winspool/winspool_pack.h"

namespace pal::spool {

namespace {

std::atomic<LocalServer*> localServer{nullptr};

class Channel {
public:
    virtual ~Channel() = default;
    // Sends one request and waits for its reply; false with the last error set when the host
    // cannot be reached.
    virtual bool call(const Bytes& request, Bytes& reply) = 0;
    // True when the channel's end ends the host's session, which closes the handles opened on it.
    virtual bool endsSession() const = 0;
};

class LocalChannel : public Channel {
public:
    explicit LocalChannel(LocalServer* server) : server_(server) {}
    bool call(const Bytes& request, Bytes& reply) override
    {
        reply = server_->serve(request);
        return true;
    }
    bool endsSession() const override { return false; }

private:
    LocalServer* server_;
};

class SocketChannel : public Channel {
public:
    explicit SocketChannel(int fd) : fd_(fd) {}
    ~SocketChannel() override { ::close(fd_); }
    bool call(const Bytes& request, Bytes& reply) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (sendFrame(fd_, request) && receiveFrame(fd_, reply))
            return true;
        SetLastError(RPC_S_CALL_FAILED);
        return false;
    }
    bool endsSession() const override { return true; }

private:
    std::mutex mutex_;
    const int fd_;
};

int connectToHost()
{
    std::string root = rootPath();
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::string path = root + "/run/" + kSocketName;
    if (root.empty() || path.size() >= sizeof address.sun_path)
        return -1;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    int result;
    do
        result = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    while (result < 0 && errno == EINTR);
    if (result < 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// The host in this process when there is one, else a new connection to the host's socket.
std::shared_ptr<Channel> openChannel()
{
    if (LocalServer* server = localServer.load())
        return std::make_shared<LocalChannel>(server);
    int fd = connectToHost();
    if (fd < 0) {
        SetLastError(RPC_S_SERVER_UNAVAILABLE);
        return nullptr;
    }
    return std::make_shared<SocketChannel>(fd);
}

// One request and its reply. result() 0 means failure, with the last error set; outputs() reads
// what follows the reply's head.
class Call {
public:
    Call(Channel* channel, const Writer& request) : outputs_(reply_)
    {
        if (!channel || !channel->call(request.bytes(), reply_))
            return; // the channel has set the last error
        outputs_ = Reader(reply_);
        result_ = outputs_.u32();
        uint32_t error = outputs_.u32();
        if (outputs_.failed()) {
            result_ = 0;
            error = RPC_X_BAD_STUB_DATA;
        }
        if (result_ == 0)
            SetLastError(error);
    }
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;

    uint32_t result() const { return result_; }
    Reader& outputs() { return outputs_; }

private:
    Bytes reply_;
    Reader outputs_;
    uint32_t result_ = 0;
};

// A call that needs no handle, on a connection of its own.
BOOL callHost(const Writer& request)
{
    std::shared_ptr<Channel> channel = openChannel();
    return Call(channel.get(), request).result() ? TRUE : FALSE;
}

Writer request(Op op)
{
    Writer writer;
    writer.u32(static_cast<uint32_t>(op));
    return writer;
}

class PrinterHandle : public Object {
public:
    PrinterHandle(std::shared_ptr<Channel> channel, uint32_t id, HandleKind kind)
        : channel(std::move(channel)), id(id), kind(kind)
    {
    }
    const std::shared_ptr<Channel> channel;
    const uint32_t id;
    const HandleKind kind;
    // Set once a document was started on the handle: its close then ends the document at the host.
    std::atomic<bool> hadDocument{false};

    // A GetJob that found the caller's buffer too small keeps the record for a moment, so that the
    // call that follows with a buffer of the size it was told gets that same record without asking
    // the host again.
    void keepSizedJob(DWORD jobId, JobRecord job)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        sizedJob_ = std::move(job);
        sizedJobId_ = jobId;
        sizedJobUntil_ = GetTickCount64() + kSizedJobLifeMs;
    }
    bool takeSizedJob(DWORD jobId, JobRecord& job)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        bool kept = sizedJob_ && sizedJobId_ == jobId && GetTickCount64() < sizedJobUntil_;
        if (kept)
            job = std::move(*sizedJob_);
        sizedJob_.reset();
        return kept;
    }

private:
    static constexpr ULONGLONG kSizedJobLifeMs = 100;
    std::mutex mutex_;
    std::optional<JobRecord> sizedJob_;
    DWORD sizedJobId_ = 0;
    ULONGLONG sizedJobUntil_ = 0;
};

std::shared_ptr<PrinterHandle> lookupPrinter(HANDLE handle)
{
    std::shared_ptr<PrinterHandle> printer = lookup<PrinterHandle>(handle);
    if (!printer)
        SetLastError(ERROR_INVALID_HANDLE);
    return printer;
}

// The token RevertToPrinterSelf hands out: the user the thread ran as (GetUserNameW), whom
// ImpersonatePrinterClient makes it run as again.
class PrinterClientToken : public Object {
public:
    std::u16string client;
};

bool validListArguments(LPBYTE buffer, DWORD cbBuf, LPDWORD pcbNeeded, LPDWORD pcReturned)
{
    if (!pcbNeeded || !pcReturned) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    if (!buffer && cbBuf > 0) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return false;
    }
    return true;
}

FlatRecord portRecord(Reader& reader, DWORD level)
{
    std::u16string name = reader.requiredString();
    std::u16string monitor = reader.requiredString();
    std::u16string description = reader.requiredString();
    DWORD type = reader.u32();
    if (level == 1)
        return {{{offsetof(PORT_INFO_1W, pName), name}}, {}, {}, {}};
    return {{{offsetof(PORT_INFO_2W, pPortName), name},
             {offsetof(PORT_INFO_2W, pMonitorName), monitor},
             {offsetof(PORT_INFO_2W, pDescription), description}},
            {{offsetof(PORT_INFO_2W, fPortType), type}},
            {},
            {}};
}

FlatRecord monitorRecord(Reader& reader, DWORD level)
{
    std::u16string name = reader.requiredString();
    std::u16string environment = reader.requiredString();
    std::u16string dll = reader.requiredString();
    if (level == 1)
        return {{{offsetof(MONITOR_INFO_1W, pName), name}}, {}, {}, {}};
    return {{{offsetof(MONITOR_INFO_2W, pName), name},
             {offsetof(MONITOR_INFO_2W, pEnvironment), environment},
             {offsetof(MONITOR_INFO_2W, pDLLName), dll}},
            {},
            {},
            {}};
}

// EnumPortsW and EnumMonitorsW: the host sends every field, the level picks the record.
BOOL enumerate(const Writer& request, DWORD level, size_t recordSize, FlatRecord (*readRecord)(Reader&, DWORD),
               LPBYTE buffer, DWORD cbBuf, LPDWORD pcbNeeded, LPDWORD pcReturned)
{
    if (!validListArguments(buffer, cbBuf, pcbNeeded, pcReturned))
        return FALSE;
    *pcReturned = 0;
    std::shared_ptr<Channel> channel = openChannel();
    Call call(channel.get(), request);
    if (!call.result())
        return FALSE;
    Reader& reader = call.outputs();
    uint32_t count = reader.u32();
    std::vector<FlatRecord> records;
    for (uint32_t i = 0; i < count && !reader.failed(); ++i)
        records.push_back(readRecord(reader, level));
    if (reader.failed()) {
        SetLastError(RPC_X_BAD_STUB_DATA);
        return FALSE;
    }
    return packRecords(recordSize, records, buffer, cbBuf, pcbNeeded, pcReturned);
}

// A printer handle (not an Xcv one).
std::shared_ptr<PrinterHandle> lookupQueue(HANDLE handle)
{
    std::shared_ptr<PrinterHandle> printer = lookup<PrinterHandle>(handle);
    if (!printer || printer->kind != HandleKind::Printer) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return printer;
}

bool validBuffer(LPBYTE buffer, DWORD cbBuf, LPDWORD pcbNeeded)
{
    DWORD returned = 0;
    return validListArguments(buffer, cbBuf, pcbNeeded, &returned);
}

bool validLevel(DWORD level, std::initializer_list<DWORD> levels)
{
    if (std::find(levels.begin(), levels.end(), level) != levels.end())
        return true;
    SetLastError(ERROR_INVALID_LEVEL);
    return false;
}

BOOL packOne(size_t recordSize, FlatRecord record, LPBYTE buffer, DWORD cbBuf, LPDWORD pcbNeeded)
{
    DWORD returned = 0;
    return packRecords(recordSize, {std::move(record)}, buffer, cbBuf, pcbNeeded, &returned);
}

// Reads records of a reply with readRecord; false (RPC_X_BAD_STUB_DATA) when the reply is short.
template <class Record>
bool readRecords(Reader& reader, Record (*readRecord)(Reader&), std::vector<Record>& records)
{
    uint32_t count = reader.u32();
    for (uint32_t i = 0; i < count && !reader.failed(); ++i)
        records.push_back(readRecord(reader));
    if (!reader.failed())
        return true;
    SetLastError(RPC_X_BAD_STUB_DATA);
    return false;
}

std::u16string textOf(const OptString& text)
{
    return text.value_or(std::u16string());
}

size_t printerInfoSize(DWORD level)
{
    return level == 5 ? sizeof(PRINTER_INFO_5W) : sizeof(PRINTER_INFO_2W);
}

// PRINTER_INFO_2W or PRINTER_INFO_5W; pServerName, pDevMode and pSecurityDescriptor stay NULL.
FlatRecord printerInfo(const PrinterRecord& printer, DWORD level)
{
    const PrinterFields& fields = printer.fields;
    if (level == 5)
        return {{{offsetof(PRINTER_INFO_5W, pPrinterName), textOf(fields.name)},
                 {offsetof(PRINTER_INFO_5W, pPortName), textOf(fields.port)}},
                {{offsetof(PRINTER_INFO_5W, Attributes), fields.attributes},
                 {offsetof(PRINTER_INFO_5W, DeviceNotSelectedTimeout), printer.notSelectedTimeout},
                 {offsetof(PRINTER_INFO_5W, TransmissionRetryTimeout), printer.retryTimeout}},
                {},
                {}};
    return {{{offsetof(PRINTER_INFO_2W, pPrinterName), textOf(fields.name)},
             {offsetof(PRINTER_INFO_2W, pShareName), textOf(fields.share)},
             {offsetof(PRINTER_INFO_2W, pPortName), textOf(fields.port)},
             {offsetof(PRINTER_INFO_2W, pDriverName), textOf(fields.driver)},
             {offsetof(PRINTER_INFO_2W, pComment), textOf(fields.comment)},
             {offsetof(PRINTER_INFO_2W, pLocation), textOf(fields.location)},
             {offsetof(PRINTER_INFO_2W, pSepFile), textOf(fields.separatorFile)},
             {offsetof(PRINTER_INFO_2W, pPrintProcessor), textOf(fields.printProcessor)},
             {offsetof(PRINTER_INFO_2W, pDatatype), textOf(fields.datatype)},
             {offsetof(PRINTER_INFO_2W, pParameters), textOf(fields.parameters)}},
            {{offsetof(PRINTER_INFO_2W, Attributes), fields.attributes},
             {offsetof(PRINTER_INFO_2W, Priority), fields.priority},
             {offsetof(PRINTER_INFO_2W, DefaultPriority), fields.defaultPriority},
             {offsetof(PRINTER_INFO_2W, StartTime), fields.startTime},
             {offsetof(PRINTER_INFO_2W, UntilTime), fields.untilTime},
             {offsetof(PRINTER_INFO_2W, Status), printer.status},
             {offsetof(PRINTER_INFO_2W, cJobs), printer.jobs}},
            {},
            {}};
}

PrinterFields fieldsOf(const PRINTER_INFO_2W& info)
{
    auto text = [](LPCWSTR value) { return value ? OptString(value) : std::nullopt; };
    PrinterFields fields;
    fields.name = text(info.pPrinterName);
    fields.share = text(info.pShareName);
    fields.port = text(info.pPortName);
    fields.driver = text(info.pDriverName);
    fields.comment = text(info.pComment);
    fields.location = text(info.pLocation);
    fields.separatorFile = text(info.pSepFile);
    fields.printProcessor = text(info.pPrintProcessor);
    fields.datatype = text(info.pDatatype);
    fields.parameters = text(info.pParameters);
    fields.attributes = info.Attributes;
    fields.priority = info.Priority;
    fields.defaultPriority = info.DefaultPriority;
    fields.startTime = info.StartTime;
    fields.untilTime = info.UntilTime;
    return fields;
}

void addOptionalString(FlatRecord& record, size_t offset, const OptString& text)
{
    if (text)
        record.strings.emplace_back(offset, *text);
}

// A device mode whose public part reaches at least dmCollate and at most the whole record.
bool validDevMode(const DEVMODEW& devMode)
{
    return devMode.dmSize >= offsetof(DEVMODEW, dmFormName) && devMode.dmSize <= sizeof(DEVMODEW);
}

// The bytes of a device mode: its public part and the driver's bytes after it.
uint32_t devModeBytes(const DEVMODEW& devMode)
{
    return uint32_t(devMode.dmSize) + devMode.dmDriverExtra;
}

FlatRecord jobInfo1(const JobRecord& job)
{
    FlatRecord record;
    record.strings = {{offsetof(JOB_INFO_1W, pPrinterName), job.printer},
                      {offsetof(JOB_INFO_1W, pMachineName), job.machine},
                      {offsetof(JOB_INFO_1W, pUserName), job.user}};
    addOptionalString(record, offsetof(JOB_INFO_1W, pDocument), job.document);
    record.strings.emplace_back(offsetof(JOB_INFO_1W, pDatatype), job.datatype);
    addOptionalString(record, offsetof(JOB_INFO_1W, pStatus), job.statusText);
    record.dwords = {{offsetof(JOB_INFO_1W, JobId), job.id},
                     {offsetof(JOB_INFO_1W, Status), job.status},
                     {offsetof(JOB_INFO_1W, Priority), job.priority},
                     {offsetof(JOB_INFO_1W, Position), job.position},
                     {offsetof(JOB_INFO_1W, TotalPages), job.totalPages},
                     {offsetof(JOB_INFO_1W, PagesPrinted), job.pagesPrinted}};
    addSystemTime(record, offsetof(JOB_INFO_1W, Submitted), job.submitted);
    return record;
}

// pDevMode is the job's device mode (NULL without one), pSecurityDescriptor stays NULL; the notify
// name is the owner.
FlatRecord jobInfo2(const JobRecord& job)
{
    FlatRecord record;
    record.strings = {{offsetof(JOB_INFO_2W, pPrinterName), job.printer},
                      {offsetof(JOB_INFO_2W, pMachineName), job.machine},
                      {offsetof(JOB_INFO_2W, pUserName), job.user}};
    addOptionalString(record, offsetof(JOB_INFO_2W, pDocument), job.document);
    record.strings.insert(record.strings.end(), {{offsetof(JOB_INFO_2W, pNotifyName), job.user},
                                                 {offsetof(JOB_INFO_2W, pDatatype), job.datatype},
                                                 {offsetof(JOB_INFO_2W, pPrintProcessor), job.printProcessor},
                                                 {offsetof(JOB_INFO_2W, pParameters), job.parameters},
                                                 {offsetof(JOB_INFO_2W, pDriverName), job.driver}});
    addOptionalString(record, offsetof(JOB_INFO_2W, pStatus), job.statusText);
    record.dwords = {{offsetof(JOB_INFO_2W, JobId), job.id},
                     {offsetof(JOB_INFO_2W, Status), job.status},
                     {offsetof(JOB_INFO_2W, Priority), job.priority},
                     {offsetof(JOB_INFO_2W, Position), job.position},
                     {offsetof(JOB_INFO_2W, TotalPages), job.totalPages},
                     {offsetof(JOB_INFO_2W, Size), job.size},
                     {offsetof(JOB_INFO_2W, Time), job.time},
                     {offsetof(JOB_INFO_2W, PagesPrinted), job.pagesPrinted}};
    addSystemTime(record, offsetof(JOB_INFO_2W, Submitted), job.submitted);
    if (job.devMode)
        record.blobs.emplace_back(offsetof(JOB_INFO_2W, pDevMode), *job.devMode);
    return record;
}

// The same record with its strings in the ANSI code page (JOB_INFO_1A has JOB_INFO_1W's layout).
FlatRecord toAnsi(FlatRecord record)
{
    for (const auto& [offset, text] : record.strings) {
        int size = WideCharToMultiByte(CP_ACP, 0, text.c_str(), int(text.size()), nullptr, 0, nullptr, nullptr);
        std::string narrow(size_t(size > 0 ? size : 0), '\0');
        if (size > 0)
            WideCharToMultiByte(CP_ACP, 0, text.c_str(), int(text.size()), narrow.data(), size, nullptr, nullptr);
        record.narrowStrings.emplace_back(offset, std::move(narrow));
    }
    record.strings.clear();
    return record;
}

size_t jobInfoSize(DWORD level)
{
    return level == 1 ? sizeof(JOB_INFO_1W) : sizeof(JOB_INFO_2W);
}

FlatRecord jobInfo(const JobRecord& job, DWORD level)
{
    return level == 1 ? jobInfo1(job) : jobInfo2(job);
}

// The job's record from the host.
bool fetchJob(const PrinterHandle& printer, DWORD jobId, JobRecord& job)
{
    Writer getJob = request(Op::GetJob);
    getJob.u32(printer.id).u32(jobId);
    Call call(printer.channel.get(), getJob);
    if (!call.result())
        return false;
    job = readJob(call.outputs());
    if (!call.outputs().failed())
        return true;
    SetLastError(RPC_X_BAD_STUB_DATA);
    return false;
}

// GetJobW and GetJobA: the job's record, packed at the level asked for.
template <typename Pack>
BOOL getJob(HANDLE hPrinter, DWORD jobId, std::initializer_list<DWORD> levels, DWORD level, LPBYTE pJob, DWORD cbBuf,
            LPDWORD pcbNeeded, Pack pack)
{
    std::shared_ptr<PrinterHandle> printer = lookupQueue(hPrinter);
    if (!printer || !validLevel(level, levels) || !validBuffer(pJob, cbBuf, pcbNeeded))
        return FALSE;
    JobRecord job;
    if (!printer->takeSizedJob(jobId, job) && !fetchJob(*printer, jobId, job))
        return FALSE;
    if (pack(job))
        return TRUE;
    if (GetLastError() == ERROR_INSUFFICIENT_BUFFER)
        printer->keepSizedJob(jobId, std::move(job));
    return FALSE;
}

// A printer request whose reply is only its result.
BOOL callOnPrinter(HANDLE hPrinter, Op op, const std::function<void(Writer&)>& arguments)
{
    std::shared_ptr<PrinterHandle> printer = lookupQueue(hPrinter);
    if (!printer)
        return FALSE;
    Writer call = request(op);
    call.u32(printer->id);
    arguments(call);
    return Call(printer->channel.get(), call).result() ? TRUE : FALSE;
}

std::u16string callerUserName()
{
    WCHAR name[UNLEN + 1] = {};
    DWORD size = UNLEN + 1;
    return GetUserNameW(name, &size) ? std::u16string(name) : std::u16string();
}

std::u16string callerMachineName()
{
    WCHAR name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    return u"\\\\" + (GetComputerNameW(name, &size) ? std::u16string(name) : std::u16string());
}

// The host's data requests stay far below its frame limit.
constexpr DWORD kWriteChunk = 4u * 1024 * 1024;

} // namespace

void setLocalServer(LocalServer* server)
{
    localServer.store(server);
}

} // namespace pal::spool

using namespace pal::spool;

extern "C" {

BOOL WINAPI OpenPrinterW(LPWSTR pPrinterName, LPHANDLE phPrinter, LPPRINTER_DEFAULTSW pDefault)
{
    if (!phPrinter) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *phPrinter = nullptr;
    std::shared_ptr<Channel> channel = openChannel();
    const DEVMODEW* devMode = pDefault ? pDefault->pDevMode : nullptr;
    if (devMode && !validDevMode(*devMode)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    Writer open = request(Op::OpenPrinter);
    open.string(pPrinterName)
        .u32(pDefault ? 1 : 0)
        .string(pDefault ? pDefault->pDatatype : nullptr)
        .u32(pDefault ? pDefault->DesiredAccess : 0)
        .blob(devMode, devMode ? devModeBytes(*devMode) : 0);
    Call call(channel.get(), open);
    if (!call.result())
        return FALSE;
    uint32_t id = call.outputs().u32();
    auto kind = static_cast<HandleKind>(call.outputs().u32());
    if (call.outputs().failed()) {
        SetLastError(RPC_X_BAD_STUB_DATA);
        return FALSE;
    }
    *phPrinter = pal::insertHandle(std::make_shared<PrinterHandle>(channel, id, kind));
    return TRUE;
}

BOOL WINAPI ClosePrinter(HANDLE hPrinter)
{
    std::shared_ptr<PrinterHandle> printer = lookupPrinter(hPrinter);
    if (!printer || !pal::removeHandle(hPrinter)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    // A printer handle without a document holds nothing at the host but its session: ending the
    // connection closes it there, without waiting for a reply.
    if (printer->kind == HandleKind::Printer && !printer->hadDocument && printer->channel->endsSession())
        return TRUE;
    Writer close = request(Op::ClosePrinter);
    close.u32(printer->id);
    return Call(printer->channel.get(), close).result() ? TRUE : FALSE;
}

BOOL WINAPI XcvDataW(HANDLE hXcv, PCWSTR pszDataName, PBYTE pInputData, DWORD cbInputData, PBYTE pOutputData,
                     DWORD cbOutputData, PDWORD pcbOutputNeeded, PDWORD pdwStatus)
{
    std::shared_ptr<PrinterHandle> printer = lookupPrinter(hXcv);
    if (!printer)
        return FALSE;
    if (!pdwStatus) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    Writer xcv = request(Op::XcvData);
    xcv.u32(printer->id)
        .string(pszDataName)
        .blob(pInputData, cbInputData)
        .u32(cbInputData)
        .u32(cbOutputData)
        .blob(pOutputData, cbOutputData)
        .u32(pcbOutputNeeded ? 1 : 0);
    if (xcv.bytes().size() > kMaxFrame) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    Call call(printer->channel.get(), xcv);
    if (!call.result())
        return FALSE;
    OptBlob output = call.outputs().blob();
    uint32_t needed = call.outputs().u32();
    uint32_t status = call.outputs().u32();
    if (call.outputs().failed()) {
        SetLastError(RPC_X_BAD_STUB_DATA);
        return FALSE;
    }
    if (output && pOutputData)
        std::memcpy(pOutputData, output->data(), std::min<size_t>(output->size(), cbOutputData));
    if (pcbOutputNeeded)
        *pcbOutputNeeded = needed;
    *pdwStatus = status;
    return TRUE;
}

BOOL WINAPI EnumPortsW(LPWSTR pName, DWORD Level, LPBYTE pPorts, DWORD cbBuf, LPDWORD pcbNeeded, LPDWORD pcReturned)
{
    Writer enumPorts = request(Op::EnumPorts);
    enumPorts.string(pName).u32(Level);
    size_t recordSize = Level == 1 ? sizeof(PORT_INFO_1W) : sizeof(PORT_INFO_2W);
    return enumerate(enumPorts, Level, recordSize, portRecord, pPorts, cbBuf, pcbNeeded, pcReturned);
}

BOOL WINAPI EnumMonitorsW(LPWSTR pName, DWORD Level, LPBYTE pMonitor, DWORD cbBuf, LPDWORD pcbNeeded,
                          LPDWORD pcReturned)
{
    Writer enumMonitors = request(Op::EnumMonitors);
    enumMonitors.string(pName).u32(Level);
    size_t recordSize = Level == 1 ? sizeof(MONITOR_INFO_1W) : sizeof(MONITOR_INFO_2W);
    return enumerate(enumMonitors, Level, recordSize, monitorRecord, pMonitor, cbBuf, pcbNeeded, pcReturned);
}

BOOL WINAPI SetPortW(LPWSTR pName, LPWSTR pPortName, DWORD dwLevel, LPBYTE pPortInfo)
{
    if (!pPortName || !pPortInfo) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (dwLevel != 3) {
        SetLastError(ERROR_INVALID_LEVEL);
        return FALSE;
    }
    const PORT_INFO_3W* info = reinterpret_cast<const PORT_INFO_3W*>(pPortInfo);
    Writer setPort = request(Op::SetPort);
    setPort.string(pName).string(pPortName).u32(dwLevel).u32(info->dwStatus).string(info->pszStatus).u32(
        info->dwSeverity);
    return callHost(setPort);
}

BOOL deletePortOnHost(LPWSTR pName, LPWSTR pPortName)
{
    if (!pPortName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    Writer deletePort = request(Op::DeletePort);
    deletePort.string(pName).string(pPortName);
    return callHost(deletePort);
}

BOOL WINAPI AddMonitorW(LPWSTR pName, DWORD Level, LPBYTE pMonitors)
{
    if (!pMonitors) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (Level != 2) {
        SetLastError(ERROR_INVALID_LEVEL);
        return FALSE;
    }
    const MONITOR_INFO_2W* info = reinterpret_cast<const MONITOR_INFO_2W*>(pMonitors);
    Writer addMonitor = request(Op::AddMonitor);
    addMonitor.string(pName).u32(Level).string(info->pName).string(info->pEnvironment).string(info->pDLLName);
    return callHost(addMonitor);
}

BOOL WINAPI DeleteMonitorW(LPWSTR pName, LPWSTR pEnvironment, LPWSTR pMonitorName)
{
    Writer deleteMonitor = request(Op::DeleteMonitor);
    deleteMonitor.string(pName).string(pEnvironment).string(pMonitorName);
    return callHost(deleteMonitor);
}

HANDLE WINAPI AddPrinterW(LPWSTR pName, DWORD Level, LPBYTE pPrinter)
{
    if (!validLevel(Level, {2}))
        return nullptr;
    if (!pPrinter) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::shared_ptr<Channel> channel = openChannel();
    Writer add = request(Op::AddPrinter);
    add.string(pName);
    writePrinterFields(add, fieldsOf(*reinterpret_cast<const PRINTER_INFO_2W*>(pPrinter)));
    Call call(channel.get(), add);
    if (!call.result())
        return nullptr;
    uint32_t id = call.outputs().u32();
    auto kind = static_cast<HandleKind>(call.outputs().u32());
    if (call.outputs().failed()) {
        SetLastError(RPC_X_BAD_STUB_DATA);
        return nullptr;
    }
    return pal::insertHandle(std::make_shared<PrinterHandle>(channel, id, kind));
}

BOOL WINAPI EnumPrintersW(DWORD Flags, LPWSTR Name, DWORD Level, LPBYTE pPrinterEnum, DWORD cbBuf, LPDWORD pcbNeeded,
                          LPDWORD pcReturned)
{
    if (!validListArguments(pPrinterEnum, cbBuf, pcbNeeded, pcReturned) || !validLevel(Level, {2, 5}))
        return FALSE;
    *pcReturned = 0;
    Writer enumPrinters = request(Op::EnumPrinters);
    enumPrinters.u32(Flags).string(Name);
    std::shared_ptr<Channel> channel = openChannel();
    Call call(channel.get(), enumPrinters);
    std::vector<PrinterRecord> printers;
    if (!call.result() || !readRecords(call.outputs(), readPrinterRecord, printers))
        return FALSE;
    std::vector<FlatRecord> records;
    for (const PrinterRecord& printer : printers)
        records.push_back(printerInfo(printer, Level));
    return packRecords(printerInfoSize(Level), records, pPrinterEnum, cbBuf, pcbNeeded, pcReturned);
}

BOOL WINAPI GetPrinterW(HANDLE hPrinter, DWORD Level, LPBYTE pPrinter, DWORD cbBuf, LPDWORD pcbNeeded)
{
    std::shared_ptr<PrinterHandle> printer = lookupQueue(hPrinter);
    if (!printer || !validLevel(Level, {2, 5}) || !validBuffer(pPrinter, cbBuf, pcbNeeded))
        return FALSE;
    Writer getPrinter = request(Op::GetPrinter);
    getPrinter.u32(printer->id);
    Call call(printer->channel.get(), getPrinter);
    if (!call.result())
        return FALSE;
    PrinterRecord record = readPrinterRecord(call.outputs());
    if (call.outputs().failed()) {
        SetLastError(RPC_X_BAD_STUB_DATA);
        return FALSE;
    }
    return packOne(printerInfoSize(Level), printerInfo(record, Level), pPrinter, cbBuf, pcbNeeded);
}

BOOL WINAPI SetPrinterW(HANDLE hPrinter, DWORD Level, LPBYTE pPrinter, DWORD Command)
{
    if (!validLevel(Level, {0, 2, 5}))
        return FALSE;
    if (Level != 0 && !pPrinter) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return callOnPrinter(hPrinter, Op::SetPrinter, [&](Writer& call) {
        call.u32(Level).u32(Command);
        if (Level == 2)
            writePrinterFields(call, fieldsOf(*reinterpret_cast<const PRINTER_INFO_2W*>(pPrinter)));
        if (Level == 5) {
            const auto* info = reinterpret_cast<const PRINTER_INFO_5W*>(pPrinter);
            call.u32(info->Attributes).u32(info->DeviceNotSelectedTimeout).u32(info->TransmissionRetryTimeout);
        }
    });
}

BOOL WINAPI GetJobW(HANDLE hPrinter, DWORD JobId, DWORD Level, LPBYTE pJob, DWORD cbBuf, LPDWORD pcbNeeded)
{
    return getJob(hPrinter, JobId, {1, 2}, Level, pJob, cbBuf, pcbNeeded, [&](const JobRecord& job) {
        return packOne(jobInfoSize(Level), jobInfo(job, Level), pJob, cbBuf, pcbNeeded);
    });
}

BOOL WINAPI GetJobA(HANDLE hPrinter, DWORD JobId, DWORD Level, LPBYTE pJob, DWORD cbBuf, LPDWORD pcbNeeded)
{
    return getJob(hPrinter, JobId, {1}, Level, pJob, cbBuf, pcbNeeded, [&](const JobRecord& job) {
        return packOne(sizeof(JOB_INFO_1A), toAnsi(jobInfo1(job)), pJob, cbBuf, pcbNeeded);
    });
}

BOOL WINAPI SetJobW(HANDLE hPrinter, DWORD JobId, DWORD Level, LPBYTE, DWORD Command)
{
    return callOnPrinter(hPrinter, Op::SetJob, [&](Writer& call) { call.u32(JobId).u32(Level).u32(Command); });
}

BOOL WINAPI EnumJobsW(HANDLE hPrinter, DWORD FirstJob, DWORD NoJobs, DWORD Level, LPBYTE pJob, DWORD cbBuf,
                      LPDWORD pcbNeeded, LPDWORD pcReturned)
{
    std::shared_ptr<PrinterHandle> printer = lookupQueue(hPrinter);
    if (!printer || !validListArguments(pJob, cbBuf, pcbNeeded, pcReturned) || !validLevel(Level, {1, 2}))
        return FALSE;
    *pcReturned = 0;
    Writer enumJobs = request(Op::EnumJobs);
    enumJobs.u32(printer->id).u32(FirstJob).u32(NoJobs);
    Call call(printer->channel.get(), enumJobs);
    std::vector<JobRecord> jobs;
    if (!call.result() || !readRecords(call.outputs(), readJob, jobs))
        return FALSE;
    std::vector<FlatRecord> records;
    for (const JobRecord& job : jobs)
        records.push_back(jobInfo(job, Level));
    return packRecords(jobInfoSize(Level), records, pJob, cbBuf, pcbNeeded, pcReturned);
}

DWORD WINAPI StartDocPrinterW(HANDLE hPrinter, DWORD Level, LPBYTE pDocInfo)
{
    std::shared_ptr<PrinterHandle> printer = lookupQueue(hPrinter);
    if (!printer || !validLevel(Level, {1}))
        return 0;
    if (!pDocInfo) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const auto* info = reinterpret_cast<const DOC_INFO_1W*>(pDocInfo);
    printer->hadDocument = true;
    Writer startDoc = request(Op::StartDocPrinter);
    startDoc.u32(printer->id)
        .string(info->pDocName)
        .string(info->pOutputFile)
        .string(info->pDatatype)
        .string(callerUserName())
        .string(callerMachineName());
    return Call(printer->channel.get(), startDoc).result();
}

BOOL WINAPI WritePrinter(HANDLE hPrinter, LPVOID pBuf, DWORD cbBuf, LPDWORD pcWritten)
{
    std::shared_ptr<PrinterHandle> printer = lookupQueue(hPrinter);
    if (!printer)
        return FALSE;
    if (!pcWritten || (!pBuf && cbBuf > 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *pcWritten = 0;
    static const BYTE kNothing = 0;
    const BYTE* data = pBuf ? static_cast<const BYTE*>(pBuf) : &kNothing;
    DWORD offset = 0;
    do {
        DWORD length = std::min(cbBuf - offset, kWriteChunk);
        Writer write = request(Op::WritePrinter);
        write.u32(printer->id).blob(data + offset, length);
        Call call(printer->channel.get(), write);
        if (!call.result())
            return FALSE;
        DWORD written = call.outputs().u32();
        if (call.outputs().failed() || written > length) {
            SetLastError(RPC_X_BAD_STUB_DATA);
            return FALSE;
        }
        offset += written;
        *pcWritten = offset;
        if (written < length)
            break;
    } while (offset < cbBuf);
    return TRUE;
}

BOOL WINAPI EndDocPrinter(HANDLE hPrinter)
{
    return callOnPrinter(hPrinter, Op::EndDocPrinter, [](Writer&) {});
}

HANDLE WINAPI RevertToPrinterSelf(void)
{
    auto token = std::make_shared<PrinterClientToken>();
    token->client = callerUserName();
    palSetThreadUserName(nullptr);
    return pal::insertHandle(std::move(token));
}

BOOL WINAPI ImpersonatePrinterClient(HANDLE hToken)
{
    std::shared_ptr<PrinterClientToken> token = pal::lookup<PrinterClientToken>(hToken);
    if (!token || !pal::removeHandle(hToken)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    palSetThreadUserName(token->client.c_str());
    return TRUE;
}

} // extern "C"
