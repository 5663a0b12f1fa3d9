// The job-control thread: it receives the device's job events and the watch threads' requests to
// trace a printer's jobs, asks the device for each job's state and ends jobs towards the spooler
// and the print manager. One thread ends the jobs of every printer.
#pragma once

#include <windows.h>

#include "jtrkplatform.h"

#include "JTRKCLIB.h"
#include "ServiceContext.h"

// Print-manager status values of a job's end.
#define PMSTATUS_PRINTING 0x400      // also asks whether the print manager holds the job
#define PMSTATUS_GONE 0x1000         // the job left the spooler or was deleted
#define PMSTATUS_COMPLETED 0x10000000
#define PMSTATUS_ERROR 2

#define TRACE_REASON_COMPLETED 21    // event reason that SkipTrace takes as completed

unsigned __stdcall ControlJobThread(void* context);

// DMLLIB_TraceJob for the job; 0 (and the byte untouched) when it cannot be asked.
DMLLIB_RESULTCODE DoTraceJob(JTRKServiceContext* context, LPCWSTR printer, ClJobID clJobId, BYTE* traceByte,
                             DWORD jobId);
void JobCompSuccess(JTRKServiceContext* context, LPCWSTR printer, DWORD jobId, const ClJobID* clJobId);
void JobCompCancel(JTRKServiceContext* context, LPCWSTR printer, DWORD jobId, const ClJobID* clJobId);
void TraceJobError(JTRKServiceContext* context, LPCWSTR printer, DWORD jobId, const ClJobID* clJobId,
                   DMLLIB_RESULTCODE code);
// Closes a dialog the printer has open about this job and clears the printer's reported error.
void InitDeviceStatus(JTRKServiceContext* context, LPCWSTR printer, DWORD jobId);
