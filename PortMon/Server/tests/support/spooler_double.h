// A spooler test double for the job path: printers and jobs held in memory behind OpenPrinterW,
// GetJobW, SetJobW, GetPrinterW and ClosePrinter, Xcv objects (",XcvPort NAME") whose XcvDataW calls
// go to a handler, and the monitor's sleeps and local-port binds recorded. It takes the place of the
// real calls in g_MonSys while it lives.
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
        WString document = W("doc");
    };

    SpoolerDouble();
    ~SpoolerDouble();
    SpoolerDouble(const SpoolerDouble&) = delete;
    SpoolerDouble& operator=(const SpoolerDouble&) = delete;

    void addPrinter(const WString& name, DWORD attributes = 0, DWORD status = 0);
    void setJob(DWORD jobId, const Job& job);
    void setJobStatus(DWORD jobId, DWORD status);
    void removeJob(DWORD jobId);
    // OpenPrinterW fails this many times before it succeeds.
    void failOpens(int count);
    // Called (outside the double's lock) after each recorded sleep.
    void onSleep(std::function<void(DWORD)> hook);
    // Called (outside the double's lock) before each GetJobW, with the job id and level.
    void onJobQuery(std::function<void(DWORD, DWORD)> hook);
    // Sleeps take real time: their length divided by this (0: no real sleep).
    void setSleepDivisor(DWORD divisor);
    // Sleeps of at most this many ms take their full length, whatever the divisor: pacing sleeps
    // that bound a wait for a peer then bound it in real time, not in loop rounds.
    void setRealSleepLimit(DWORD milliseconds);

    // XcvDataW on an Xcv object: (object name after ",Xcv", method, output, its size, needed) -> status.
    using XcvHandler = std::function<DWORD(const WString& object, const WString& method, PBYTE output,
                                           DWORD cbOutput, PDWORD needed)>;
    void onXcv(XcvHandler handler);
    // Local-port binds: the error to fail a bind to this port with (0: bind). A bound reserved port
    // is taken as asked but bound to an ephemeral port, so that tests never hold the machine's
    // reserved ports.
    void failBind(USHORT port, int error);
    std::vector<USHORT> binds() const;

    // SetJobW calls as (job id, command), in order.
    std::vector<std::pair<DWORD, DWORD>> commands() const;
    std::vector<DWORD> sleeps() const;
    void clearSleeps();
    // Printer handles open (Xcv handles not counted).
    int openHandles() const;
    int opens() const;
    // The status the job has now.
    DWORD jobStatus(DWORD jobId) const;

private:
    static SpoolerDouble* instance_;
    static BOOL WINAPI openPrinter(LPWSTR name, LPHANDLE handle, LPPRINTER_DEFAULTSW defaults);
    static BOOL WINAPI closePrinter(HANDLE handle);
    static BOOL WINAPI getJob(HANDLE handle, DWORD jobId, DWORD level, LPBYTE job, DWORD size, LPDWORD needed);
    static BOOL WINAPI setJob(HANDLE handle, DWORD jobId, DWORD level, LPBYTE job, DWORD command);
    static BOOL WINAPI getPrinter(HANDLE handle, DWORD level, LPBYTE printer, DWORD size, LPDWORD needed);
    static void WINAPI sleep(DWORD milliseconds);
    static BOOL WINAPI xcvData(HANDLE handle, PCWSTR method, PBYTE input, DWORD cbInput, PBYTE output, DWORD cbOutput,
                               PDWORD needed, PDWORD status);
    static INT WINAPI bindLocal(SOCKET socket, const struct sockaddr* name, INT length);
    bool validHandle(HANDLE handle) const;

    struct Printer {
        DWORD attributes;
        DWORD status;
    };

    MonitorSystemCalls saved_;
    mutable std::mutex mutex_;
    std::map<WString, Printer> printers_;
    std::map<HANDLE, WString> handles_;
    std::map<HANDLE, WString> xcvHandles_;
    XcvHandler xcvHandler_;
    std::map<USHORT, int> bindErrors_;
    std::vector<USHORT> binds_;
    std::map<DWORD, Job> jobs_;
    std::vector<std::pair<DWORD, DWORD>> commands_;
    std::vector<DWORD> sleeps_;
    std::function<void(DWORD)> sleepHook_;
    std::function<void(DWORD, DWORD)> jobQueryHook_;
    DWORD sleepDivisor_ = 100;
    DWORD realSleepLimit_ = 0;
    int failOpens_ = 0;
    int opens_ = 0;
    uintptr_t nextHandle_ = 0x1000;
};

} // namespace montest
