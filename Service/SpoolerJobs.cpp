// Reading and steering spooler jobs.
#include "JobUtilities.h"

#include "ServiceTrace.h"

namespace {

const char kSource[] = "JobUtilities";

HANDLE openPrinter(LPCWSTR printer, const char* function)
{
    PRINTER_DEFAULTSW defaults = {nullptr, nullptr, PRINTER_ALL_ACCESS};
    HANDLE handle = nullptr;
    if (!printer || !OpenPrinterW(const_cast<LPWSTR>(printer), &handle, &defaults)) {
        SVC_ERROR(SVC_ERROR_GENERAL, kSource, function);
        return nullptr;
    }
    return handle;
}

// GetJobW or GetJobA at the level into a LocalAlloc buffer.
template <typename GetJob>
int readJob(LPCWSTR printer, DWORD jobId, DWORD level, BYTE** out, GetJob getJob, const char* function)
{
    HANDLE handle = openPrinter(printer, function);
    if (!handle)
        return JOBREAD_FAILED;
    int result = JOBREAD_FAILED;
    BYTE* buffer = nullptr;
    DWORD size = 0;
    for (;;) {
        DWORD needed = 0;
        if (getJob(handle, jobId, level, buffer, size, &needed)) {
            result = JOBREAD_FOUND;
            break;
        }
        DWORD error = GetLastError();
        if (error == ERROR_INVALID_PARAMETER) {
            result = JOBREAD_UNKNOWN;
            break;
        }
        LocalFree(buffer);
        buffer = nullptr;
        if (error != ERROR_INSUFFICIENT_BUFFER || needed == 0)
            break;
        buffer = static_cast<BYTE*>(LocalAlloc(LPTR, needed));
        if (!buffer) {
            SVC_ERROR(TRACE_ERROR_MEMORY, kSource, function);
            break;
        }
        size = needed;
    }
    ClosePrinter(handle);
    if (result == JOBREAD_FOUND)
        *out = buffer;
    else
        LocalFree(buffer);
    SVC_TRACE(kSource, function, W("return:[%d] SysJobID:[%d]"), result, jobId);
    return result;
}

BOOL getJobW(HANDLE handle, DWORD jobId, DWORD level, BYTE* buffer, DWORD size, DWORD* needed)
{
    return GetJobW(handle, jobId, level, buffer, size, needed);
}

BOOL getJobA(HANDLE handle, DWORD jobId, DWORD level, BYTE* buffer, DWORD size, DWORD* needed)
{
    return GetJobA(handle, jobId, level, buffer, size, needed);
}

} // namespace

int GetPrintJobInfo(LPCWSTR printer, DWORD jobId, JOB_INFO_1W** info)
{
    return readJob(printer, jobId, 1, reinterpret_cast<BYTE**>(info), getJobW, "GetPrintJobInfo");
}

int GetPrintJobInfo2(LPCWSTR printer, DWORD jobId, JOB_INFO_2W** info)
{
    return readJob(printer, jobId, 2, reinterpret_cast<BYTE**>(info), getJobW, "GetPrintJobInfo2");
}

int GetPrintJobInfoA(LPCWSTR printer, DWORD jobId, JOB_INFO_1A** info)
{
    return readJob(printer, jobId, 1, reinterpret_cast<BYTE**>(info), getJobA, "GetPrintJobInfoA");
}

SpoolerJobA::SpoolerJobA(LPCWSTR printer, DWORD jobId)
    : read(GetPrintJobInfoA(printer, jobId, &info)), printer_(printer), jobId_(jobId)
{
}

SpoolerJobA::~SpoolerJobA()
{
    LocalFree(info);
    LocalFree(details_);
}

const JOB_INFO_2W* SpoolerJobA::Details() const
{
    if (!detailsRead_ && GetPrintJobInfo2(printer_.c_str(), jobId_, &details_) != JOBREAD_FOUND)
        details_ = nullptr;
    detailsRead_ = true;
    return details_;
}

int IsCompletePrintJob(DWORD status)
{
    return (status & JOB_STATUS_COMPLETE) ? 1 : 0;
}

BOOL IsPrintingPrintJob(DWORD status)
{
    return (status & (JOB_STATUS_PRINTED | JOB_STATUS_PRINTING | JOB_STATUS_COMPLETE)) != 0;
}

BOOL IsRemovePrintJob(DWORD status)
{
    return (status & (JOB_STATUS_DELETING | JOB_STATUS_RESTART)) != 0;
}

int SetPrintJobInfoOnCommand(LPCWSTR printer, DWORD jobId, DWORD command, LPCWSTR port)
{
    if (!port || !port[0])
        SVC_TRACE(kSource, "SetPrintJobInfoOnCommand", W("PORTNAME NOT FOUND"));
    HANDLE handle = openPrinter(printer, "SetPrintJobInfoOnCommand");
    if (!handle)
        return -1;
    int result = 0;
    if (!SetJobW(handle, jobId, 0, nullptr, command)) {
        SVC_TRACE(kSource, "SetPrintJobInfoOnCommand", W("SetJob Fail JobID:[%ld] Command:[%ld] ErrorCode:[%ld]"), jobId,
                  command, GetLastError());
        SVC_ERROR(SVC_ERROR_GENERAL, kSource, "SetPrintJobInfoOnCommand");
        result = -1;
    } else {
        SVC_TRACE(kSource, "SetPrintJobInfoOnCommand", W("SetJob Success JobID:[%ld] Command:[%ld]"), jobId, command);
    }
    ClosePrinter(handle);
    return result;
}
