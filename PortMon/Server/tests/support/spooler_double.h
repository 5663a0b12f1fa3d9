// A spooler test double for the job path: printers and jobs held in memory behind OpenPrinterW,
// GetJobW, SetJobW, GetPrinterW and ClosePrinter, and the monitor's sleeps recorded. It takes the
// place of the real calls in g_MonSys while it lives.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "jtrkmon.h"

namespace montest {

class SpoolerDouble {
public:
    struct Job {
        DWORD status = 0;
        DWORD size = 1;
        std::u16string document = u"doc";
    };

    SpoolerDouble();
    ~SpoolerDouble();
    SpoolerDouble(const SpoolerDouble&) = delete;
    SpoolerDouble& operator=(const SpoolerDouble&) = delete;

    void addPrinter(const std::u16string& name, DWORD attributes = 0, DWORD status = 0);
    void setJob(DWORD jobId, const Job& job);
    void setJobStatus(DWORD jobId, DWORD status);
    void removeJob(DWORD jobId);
    // OpenPrinterW fails this many times before it succeeds.
    void failOpens(int count);
    // Called (outside the double's lock) after each recorded sleep.
    void onSleep(std::function<void(DWORD)> hook);
    // Sleeps take real time: their length divided by this (0: no real sleep).
    void setSleepDivisor(DWORD divisor);

    // SetJobW calls as (job id, command), in order.
    std::vector<std::pair<DWORD, DWORD>> commands() const;
    std::vector<DWORD> sleeps() const;
    void clearSleeps();
    int openHandles() const;
    int opens() const;

private:
    static SpoolerDouble* instance_;
    static BOOL WINAPI openPrinter(LPWSTR name, LPHANDLE handle, LPPRINTER_DEFAULTSW defaults);
    static BOOL WINAPI closePrinter(HANDLE handle);
    static BOOL WINAPI getJob(HANDLE handle, DWORD jobId, DWORD level, LPBYTE job, DWORD size, LPDWORD needed);
    static BOOL WINAPI setJob(HANDLE handle, DWORD jobId, DWORD level, LPBYTE job, DWORD command);
    static BOOL WINAPI getPrinter(HANDLE handle, DWORD level, LPBYTE printer, DWORD size, LPDWORD needed);
    static void WINAPI sleep(DWORD milliseconds);
    bool validHandle(HANDLE handle) const;

    struct Printer {
        DWORD attributes;
        DWORD status;
    };

    MonitorSystemCalls saved_;
    mutable std::mutex mutex_;
    std::map<std::u16string, Printer> printers_;
    std::map<HANDLE, std::u16string> handles_;
    std::map<DWORD, Job> jobs_;
    std::vector<std::pair<DWORD, DWORD>> commands_;
    std::vector<DWORD> sleeps_;
    std::function<void(DWORD)> sleepHook_;
    DWORD sleepDivisor_ = 100;
    int failOpens_ = 0;
    int opens_ = 0;
    uintptr_t nextHandle_ = 0x1000;
};

} // namespace montest
