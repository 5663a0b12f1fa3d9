// Spooler job readers and commands, job removal at the device, and the event-log entries made of
// client-library results.
#pragma once

#include <windows.h>
#include <winspool.h>

#include "jtrkplatform.h"

#include "JTRKCLIB.h"
#include "ServiceContext.h"

// Results of the job readers.
#define JOBREAD_FOUND 0     // the buffer is the caller's (LocalFree)
#define JOBREAD_UNKNOWN 1   // the spooler does not know the job
#define JOBREAD_FAILED (-1)

int GetPrintJobInfo(LPCWSTR printer, DWORD jobId, JOB_INFO_1W** info);
int GetPrintJobInfo2(LPCWSTR printer, DWORD jobId, JOB_INFO_2W** info);
int GetPrintJobInfoA(LPCWSTR printer, DWORD jobId, JOB_INFO_1A** info);

// A job's spooler record (GetPrintJobInfoA), read once for the statuses sent while the job ends;
// its level-2 record (the print settings of the page counts) is read once too, when first asked for.
struct SpoolerJobA {
    SpoolerJobA(LPCWSTR printer, DWORD jobId);
    ~SpoolerJobA();
    SpoolerJobA(const SpoolerJobA&) = delete;
    SpoolerJobA& operator=(const SpoolerJobA&) = delete;

    // GetPrintJobInfo2 of the job; NULL when the spooler does not give it.
    const JOB_INFO_2W* Details() const;

    JOB_INFO_1A* info = nullptr; // with JOBREAD_FOUND
    int read;                    // the reader's result (JOBREAD_*)

private:
    WString printer_;
    DWORD jobId_;
    mutable JOB_INFO_2W* details_ = nullptr;
    mutable bool detailsRead_ = false;
};

int IsCompletePrintJob(DWORD status);
BOOL IsPrintingPrintJob(DWORD status);
BOOL IsRemovePrintJob(DWORD status);

// SetJobW with the command; 0 or -1. The port is only traced.
int SetPrintJobInfoOnCommand(LPCWSTR printer, DWORD jobId, DWORD command, LPCWSTR port);

// Cancels the job at the device (or ends it here); *done becomes 0 only when the device timed out.
// The result is the last lookup's (0 when the table does not know the job).
BOOL CancelJob(JTRKServiceContext* context, LPCWSTR printer, DWORD jobId, BOOL* done, LPCWSTR port);
// CancelJob when *doCancel, else the job only leaves the table; SDK printers go through JCSDK.
BOOL RemovePrintJob(JTRKServiceContext* context, LPCWSTR printer, LPCWSTR port, DWORD jobId, BOOL* doCancel);

void OutputClibErrEventLog(LPCWSTR printer, DMLLIB_RESULTCODE code, UINT apiId, DWORD jobId);
void OutputClibSuccessEventLog(LPCWSTR printer, DWORD eventId);
void OutputCnclTrcEventLog(LPCWSTR printer, DMLLIB_RESULTCODE code, DWORD jobId, DWORD eventId);
void OutputGet2EventLog(LPCWSTR printer, DMLLIB_RESULTCODE code);
void OutputInitTrackEventLog(LPCWSTR printer, WORD status);
void OutputInitTrackFailedLog(LPCWSTR printer, DMLLIB_RESULTCODE code);
void OutputInternalErrEventLog(LPCWSTR printer, DMLLIB_RESULTCODE code, UINT apiId);
