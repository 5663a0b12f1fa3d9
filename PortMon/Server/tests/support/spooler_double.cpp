#include "spooler_double.h"

#include <chrono>
#include <cstring>
#include <thread>

namespace montest {

SpoolerDouble* SpoolerDouble::instance_ = nullptr;

SpoolerDouble::SpoolerDouble() : saved_(g_MonSys)
{
    instance_ = this;
    g_MonSys.pfnOpenPrinterW = &SpoolerDouble::openPrinter;
    g_MonSys.pfnClosePrinter = &SpoolerDouble::closePrinter;
    g_MonSys.pfnGetJobW = &SpoolerDouble::getJob;
    g_MonSys.pfnSetJobW = &SpoolerDouble::setJob;
    g_MonSys.pfnGetPrinterW = &SpoolerDouble::getPrinter;
    g_MonSys.pfnSleep = &SpoolerDouble::sleep;
    g_MonSys.pfnXcvDataW = &SpoolerDouble::xcvData;
    g_MonSys.pfnBind = &SpoolerDouble::bindLocal;
}

SpoolerDouble::~SpoolerDouble()
{
    g_MonSys = saved_;
    instance_ = nullptr;
}

void SpoolerDouble::addPrinter(const WString& name, DWORD attributes, DWORD status)
{
    std::lock_guard<std::mutex> lock(mutex_);
    printers_[name] = {attributes, status};
}

void SpoolerDouble::setJob(DWORD jobId, const Job& job)
{
    std::lock_guard<std::mutex> lock(mutex_);
    jobs_[jobId] = job;
}

void SpoolerDouble::setJobStatus(DWORD jobId, DWORD status)
{
    std::lock_guard<std::mutex> lock(mutex_);
    jobs_[jobId].status = status;
}

void SpoolerDouble::removeJob(DWORD jobId)
{
    std::lock_guard<std::mutex> lock(mutex_);
    jobs_.erase(jobId);
}

void SpoolerDouble::failOpens(int count)
{
    std::lock_guard<std::mutex> lock(mutex_);
    failOpens_ = count;
}

void SpoolerDouble::onSleep(std::function<void(DWORD)> hook)
{
    std::lock_guard<std::mutex> lock(mutex_);
    sleepHook_ = std::move(hook);
}

void SpoolerDouble::onJobQuery(std::function<void(DWORD, DWORD)> hook)
{
    std::lock_guard<std::mutex> lock(mutex_);
    jobQueryHook_ = std::move(hook);
}

void SpoolerDouble::setSleepDivisor(DWORD divisor)
{
    std::lock_guard<std::mutex> lock(mutex_);
    sleepDivisor_ = divisor;
}

void SpoolerDouble::setRealSleepLimit(DWORD milliseconds)
{
    std::lock_guard<std::mutex> lock(mutex_);
    realSleepLimit_ = milliseconds;
}

void SpoolerDouble::onXcv(XcvHandler handler)
{
    std::lock_guard<std::mutex> lock(mutex_);
    xcvHandler_ = std::move(handler);
}

void SpoolerDouble::failBind(USHORT port, int error)
{
    std::lock_guard<std::mutex> lock(mutex_);
    bindErrors_[port] = error;
}

std::vector<USHORT> SpoolerDouble::binds() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return binds_;
}

DWORD SpoolerDouble::jobStatus(DWORD jobId) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto job = jobs_.find(jobId);
    return job == jobs_.end() ? 0 : job->second.status;
}

std::vector<std::pair<DWORD, DWORD>> SpoolerDouble::commands() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return commands_;
}

std::vector<DWORD> SpoolerDouble::sleeps() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return sleeps_;
}

void SpoolerDouble::clearSleeps()
{
    std::lock_guard<std::mutex> lock(mutex_);
    sleeps_.clear();
}

int SpoolerDouble::openHandles() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return int(handles_.size());
}

int SpoolerDouble::opens() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return opens_;
}

bool SpoolerDouble::validHandle(HANDLE handle) const
{
    return handles_.count(handle) != 0;
}

BOOL WINAPI SpoolerDouble::openPrinter(LPWSTR name, LPHANDLE handle, LPPRINTER_DEFAULTSW)
{
    static const WString xcvPrefix = W(",Xcv");
    SpoolerDouble* self = instance_;
    std::lock_guard<std::mutex> lock(self->mutex_);
    if (name && WString(name).compare(0, xcvPrefix.size(), xcvPrefix) == 0) {
        *handle = (HANDLE)self->nextHandle_++;
        self->xcvHandles_[*handle] = WString(name).substr(xcvPrefix.size());
        return TRUE;
    }
    self->opens_++;
    if (self->failOpens_ > 0 || !name || !self->printers_.count(name)) {
        if (self->failOpens_ > 0)
            self->failOpens_--;
        SetLastError(ERROR_INVALID_PRINTER_NAME);
        return FALSE;
    }
    *handle = (HANDLE)self->nextHandle_++;
    self->handles_[*handle] = name;
    return TRUE;
}

BOOL WINAPI SpoolerDouble::closePrinter(HANDLE handle)
{
    SpoolerDouble* self = instance_;
    std::lock_guard<std::mutex> lock(self->mutex_);
    if (!self->handles_.erase(handle) && !self->xcvHandles_.erase(handle)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

namespace {

// Copies a record and its one string into the caller's buffer, as the spooler packs it.
template <class Record>
BOOL packRecord(Record record, LPWSTR Record::*text, const WString& value, LPBYTE buffer, DWORD size,
                LPDWORD needed)
{
    DWORD required = DWORD(sizeof(Record) + (value.size() + 1) * sizeof(WCHAR));
    *needed = required;
    if (!buffer || size < required) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    LPWSTR string = (LPWSTR)(buffer + sizeof(Record));
    std::memcpy(string, value.c_str(), (value.size() + 1) * sizeof(WCHAR));
    record.*text = string;
    std::memcpy(buffer, &record, sizeof(Record));
    return TRUE;
}

} // namespace

BOOL WINAPI SpoolerDouble::getJob(HANDLE handle, DWORD jobId, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed)
{
    SpoolerDouble* self = instance_;
    std::function<void(DWORD, DWORD)> hook;
    {
        std::lock_guard<std::mutex> lock(self->mutex_);
        hook = self->jobQueryHook_;
    }
    if (hook)
        hook(jobId, level);
    std::lock_guard<std::mutex> lock(self->mutex_);
    auto job = self->jobs_.find(jobId);
    if (!self->validHandle(handle) || job == self->jobs_.end()) {
        *needed = 0;
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (level == 1) {
        JOB_INFO_1W info = {};
        info.JobId = jobId;
        info.Status = job->second.status;
        return packRecord(info, &JOB_INFO_1W::pDocument, job->second.document, buffer, size, needed);
    }
    JOB_INFO_2W info = {};
    info.JobId = jobId;
    info.Status = job->second.status;
    info.Size = job->second.size;
    return packRecord(info, &JOB_INFO_2W::pDocument, job->second.document, buffer, size, needed);
}

BOOL WINAPI SpoolerDouble::setJob(HANDLE handle, DWORD jobId, DWORD, LPBYTE, DWORD command)
{
    SpoolerDouble* self = instance_;
    std::lock_guard<std::mutex> lock(self->mutex_);
    auto job = self->jobs_.find(jobId);
    if (!self->validHandle(handle) || job == self->jobs_.end()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    self->commands_.emplace_back(jobId, command);
    if (command == JOB_CONTROL_PAUSE)
        job->second.status |= JOB_STATUS_PAUSED;
    else if (command == JOB_CONTROL_RESUME)
        job->second.status &= ~DWORD(JOB_STATUS_PAUSED);
    return TRUE;
}

BOOL WINAPI SpoolerDouble::getPrinter(HANDLE handle, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed)
{
    SpoolerDouble* self = instance_;
    std::lock_guard<std::mutex> lock(self->mutex_);
    if (!self->validHandle(handle)) {
        *needed = 0;
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    const WString& name = self->handles_[handle];
    const Printer& printer = self->printers_[name];
    if (level == 5) {
        PRINTER_INFO_5W info = {};
        info.Attributes = printer.attributes;
        return packRecord(info, &PRINTER_INFO_5W::pPrinterName, name, buffer, size, needed);
    }
    PRINTER_INFO_2W info = {};
    info.Attributes = printer.attributes;
    info.Status = printer.status;
    return packRecord(info, &PRINTER_INFO_2W::pPrinterName, name, buffer, size, needed);
}

BOOL WINAPI SpoolerDouble::xcvData(HANDLE handle, PCWSTR method, PBYTE, DWORD, PBYTE output, DWORD cbOutput,
                                   PDWORD needed, PDWORD status)
{
    SpoolerDouble* self = instance_;
    WString object;
    XcvHandler handler;
    {
        std::lock_guard<std::mutex> lock(self->mutex_);
        auto xcv = self->xcvHandles_.find(handle);
        if (xcv == self->xcvHandles_.end()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        object = xcv->second;
        handler = self->xcvHandler_;
    }
    *status = handler ? handler(object, method, output, cbOutput, needed) : ERROR_INVALID_FUNCTION;
    return TRUE;
}

INT WINAPI SpoolerDouble::bindLocal(SOCKET socket, const struct sockaddr* name, INT length)
{
    SpoolerDouble* self = instance_;
    struct sockaddr_in address;
    std::memcpy(&address, name, sizeof(address));
    USHORT port = ntohs(address.sin_port);
    int error = 0;
    {
        std::lock_guard<std::mutex> lock(self->mutex_);
        self->binds_.push_back(port);
        auto failure = self->bindErrors_.find(port);
        error = failure == self->bindErrors_.end() ? 0 : failure->second;
    }
    if (error) {
        WSASetLastError(error);
        return SOCKET_ERROR;
    }
    address.sin_port = 0;
    return bind(socket, (const struct sockaddr*)&address, length);
}

void WINAPI SpoolerDouble::sleep(DWORD milliseconds)
{
    SpoolerDouble* self = instance_;
    std::function<void(DWORD)> hook;
    DWORD real;
    {
        std::lock_guard<std::mutex> lock(self->mutex_);
        self->sleeps_.push_back(milliseconds);
        hook = self->sleepHook_;
        real = milliseconds <= self->realSleepLimit_ ? milliseconds
               : self->sleepDivisor_                 ? milliseconds / self->sleepDivisor_
                                                     : 0;
    }
    if (real)
        std::this_thread::sleep_for(std::chrono::milliseconds(real));
    if (hook)
        hook(milliseconds);
}

} // namespace montest
