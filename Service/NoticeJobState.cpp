// What the print-manager notices read of the printer data and the job table.
#include "NoticeJobState.h"

#include "PrnComData.h"
#include "PrnJobData4V2.h"

WString NoticeJobPort(JTRKServiceContext* context, DWORD jobId)
{
    return context && context->pPrnJobData4V2 ? context->pPrnJobData4V2->GetPortName(jobId) : WString();
}

BOOL NoticeSdkMode(JTRKServiceContext* context, LPCWSTR port, LPCWSTR printer)
{
    return context && context->pPrnComData ? context->pPrnComData->GetSDKUse(port, printer) : FALSE;
}

ULONG NoticeJobCount(JTRKServiceContext* context, LPCWSTR printer)
{
    return context && context->pPrnJobData4V2 ? context->pPrnJobData4V2->GetJobCountForDevice(printer) : 0;
}

BOOL NoticeImpressionCount(JTRKServiceContext* context, LPCWSTR printer, DWORD jobId, DWORD* count)
{
    return context && context->pPrnJobData4V2 ? context->pPrnJobData4V2->GetImpressionCompletedCnt(printer, jobId, count)
                                              : FALSE;
}
