// The winspool functions: each call becomes a request to the spooler host (winspool_wire.h),
// served in-process inside the host and over its socket everywhere else.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstring>
#include <memory>
#include <mutex>

#include "object.h"
#include "pal/winspool.h"
#include "root.h"
#include "winspool_local.h"
#include "winspool_pack.h"

namespace pal::spool {

namespace {

std::atomic<LocalServer*> localServer{nullptr};

class Channel {
public:
    virtual ~Channel() = default;
    // Sends one request and waits for its reply; false with the last error set when the host
    // cannot be reached.
    virtual bool call(const Bytes& request, Bytes& reply) = 0;
};

class LocalChannel : public Channel {
public:
    explicit LocalChannel(LocalServer* server) : server_(server) {}
    bool call(const Bytes& request, Bytes& reply) override
    {
        reply = server_->serve(request);
        return true;
    }

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
};

std::shared_ptr<PrinterHandle> lookupPrinter(HANDLE handle)
{
    std::shared_ptr<PrinterHandle> printer = lookup<PrinterHandle>(handle);
    if (!printer)
        SetLastError(ERROR_INVALID_HANDLE);
    return printer;
}

// The token RevertToPrinterSelf hands out; this platform has no impersonation to undo.
class PrinterClientToken : public Object {};

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
        return {{{offsetof(PORT_INFO_1W, pName), name}}, {}};
    return {{{offsetof(PORT_INFO_2W, pPortName), name},
             {offsetof(PORT_INFO_2W, pMonitorName), monitor},
             {offsetof(PORT_INFO_2W, pDescription), description}},
            {{offsetof(PORT_INFO_2W, fPortType), type}}};
}

FlatRecord monitorRecord(Reader& reader, DWORD level)
{
    std::u16string name = reader.requiredString();
    std::u16string environment = reader.requiredString();
    std::u16string dll = reader.requiredString();
    if (level == 1)
        return {{{offsetof(MONITOR_INFO_1W, pName), name}}, {}};
    return {{{offsetof(MONITOR_INFO_2W, pName), name},
             {offsetof(MONITOR_INFO_2W, pEnvironment), environment},
             {offsetof(MONITOR_INFO_2W, pDLLName), dll}},
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

// Printers and jobs are not served by this host yet.
template <class Result>
Result printersNotServed(Result failure)
{
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return failure;
}

template <class Result>
Result onPrinterHandle(HANDLE hPrinter, Result failure)
{
    if (!lookupPrinter(hPrinter))
        return failure;
    // An Xcv handle is not a printer.
    SetLastError(ERROR_INVALID_HANDLE);
    return failure;
}

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
    Writer open = request(Op::OpenPrinter);
    open.string(pPrinterName)
        .u32(pDefault ? 1 : 0)
        .string(pDefault ? pDefault->pDatatype : nullptr)
        .u32(pDefault ? pDefault->DesiredAccess : 0);
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

BOOL WINAPI DeletePortW(LPWSTR pName, HWND, LPWSTR pPortName)
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

HANDLE WINAPI AddPrinterW(LPWSTR, DWORD, LPBYTE)
{
    return printersNotServed<HANDLE>(nullptr);
}

BOOL WINAPI EnumPrintersW(DWORD, LPWSTR, DWORD, LPBYTE, DWORD, LPDWORD, LPDWORD)
{
    return printersNotServed<BOOL>(FALSE);
}

BOOL WINAPI GetPrinterW(HANDLE hPrinter, DWORD, LPBYTE, DWORD, LPDWORD)
{
    return onPrinterHandle<BOOL>(hPrinter, FALSE);
}

BOOL WINAPI SetPrinterW(HANDLE hPrinter, DWORD, LPBYTE, DWORD)
{
    return onPrinterHandle<BOOL>(hPrinter, FALSE);
}

BOOL WINAPI GetJobW(HANDLE hPrinter, DWORD, DWORD, LPBYTE, DWORD, LPDWORD)
{
    return onPrinterHandle<BOOL>(hPrinter, FALSE);
}

BOOL WINAPI GetJobA(HANDLE hPrinter, DWORD, DWORD, LPBYTE, DWORD, LPDWORD)
{
    return onPrinterHandle<BOOL>(hPrinter, FALSE);
}

BOOL WINAPI SetJobW(HANDLE hPrinter, DWORD, DWORD, LPBYTE, DWORD)
{
    return onPrinterHandle<BOOL>(hPrinter, FALSE);
}

BOOL WINAPI EnumJobsW(HANDLE hPrinter, DWORD, DWORD, DWORD, LPBYTE, DWORD, LPDWORD, LPDWORD)
{
    return onPrinterHandle<BOOL>(hPrinter, FALSE);
}

DWORD WINAPI StartDocPrinterW(HANDLE hPrinter, DWORD, LPBYTE)
{
    return onPrinterHandle<DWORD>(hPrinter, 0);
}

BOOL WINAPI WritePrinter(HANDLE hPrinter, LPVOID, DWORD, LPDWORD)
{
    return onPrinterHandle<BOOL>(hPrinter, FALSE);
}

BOOL WINAPI EndDocPrinter(HANDLE hPrinter)
{
    return onPrinterHandle<BOOL>(hPrinter, FALSE);
}

HANDLE WINAPI RevertToPrinterSelf(void)
{
    return pal::insertHandle(std::make_shared<PrinterClientToken>());
}

BOOL WINAPI ImpersonatePrinterClient(HANDLE hToken)
{
    if (!pal::lookup<PrinterClientToken>(hToken) || !pal::removeHandle(hToken)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

} // extern "C"
