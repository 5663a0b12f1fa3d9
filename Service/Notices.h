// Print-manager notices: the start and end notice of a job and the statuses sent in between.
#pragma once

#include <windows.h>

struct JTRKServiceContext;
struct _DevMsgRecord;

// SendStatus result: the print manager holds the job.
#define JTRK_PRINTMGR_PAUSED 1

// Each returns the print manager's result; -1 on failure.
int SendNoticeStart(LPCWSTR printer, DWORD jobId);
int SendStatus(JTRKServiceContext* context, LPCWSTR printer, DWORD jobId, DWORD status, const _DevMsgRecord* record);
int SendPrintStatus(JTRKServiceContext* context, LPCWSTR printer, DWORD jobId, DWORD nup);
int SendNoticeEnd(LPCWSTR printer, DWORD jobId);
