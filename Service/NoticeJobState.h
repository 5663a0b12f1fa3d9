// What the print-manager notices read of the service's printer data and job table. The service's
// printer data and job table provide these; the notices take nothing else from them.
#pragma once

#include <string>

#include <windows.h>

#include "jtrkplatform.h"

#include "ServiceContext.h"

// The port of the first job table record of the job (any printer); empty when there is none.
WString NoticeJobPort(JTRKServiceContext* context, DWORD jobId);
// TRUE when the printer on that port is driven through the job-control SDK.
BOOL NoticeSdkMode(JTRKServiceContext* context, LPCWSTR port, LPCWSTR printer);
// The number of the printer's jobs in the job table.
ULONG NoticeJobCount(JTRKServiceContext* context, LPCWSTR printer);
// The impressions the device reported completed for the job; FALSE when the table has no record.
BOOL NoticeImpressionCount(JTRKServiceContext* context, LPCWSTR printer, DWORD jobId, DWORD* count);
