// Print-manager notices: the start and end notice of a job and the statuses sent in between, with
// page counts and print attributes. Failures are written to the event log and returned.
#pragma once

#include <windows.h>

#include "jtrkplatform.h"

#include "PrintMgr.h"

struct JTRKServiceContext;
struct _DevMsgRecord;
struct SpoolerJobA;

// Status values of the print manager beside a row's dwPrtStatus.
#define JTRK_PRTSTATUS_ERROR 2
#define JTRK_PRTSTATUS_PRINTING 0x400 // also asks whether the print manager holds the job
#define JTRK_PRTSTATUS_GONE 0x1000
#define JTRK_PRTSTATUS_COMPLETED 0x10000000
#define JTRK_PRTSTATUS_QUERY 0x80000000
// SendStatus result: the print manager holds the job.
#define JTRK_PRINTMGR_PAUSED 1

// Each returns the print manager's result; -1 on failure.
int SendNoticeStart(LPCWSTR printer, DWORD jobId);
// record may be NULL; a notice row (ERRACT_NOTICE) also sends its text, filled with the job's names.
int SendStatus(JTRKServiceContext* context, LPCWSTR printer, DWORD jobId, DWORD status, const _DevMsgRecord* record);
// As SendStatus, with the job's record read before.
int SendStatusOfJob(JTRKServiceContext* context, LPCWSTR printer, DWORD jobId, DWORD status,
                    const _DevMsgRecord* record, const SpoolerJobA& job);
int ExternSendStatus(JTRKServiceContext* context, LPCWSTR printer, DWORD jobId, DWORD status, PrNoticeInfo* notice,
                     LPCSTR text);
int SendPrintStatus(JTRKServiceContext* context, LPCWSTR printer, DWORD jobId, DWORD nup);
int SendNoticeEnd(LPCWSTR printer, DWORD jobId);

// The print manager's N-up code of a job report's N-up value.
DWORD NupCode(DWORD nup);
