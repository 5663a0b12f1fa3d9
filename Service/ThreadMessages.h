// Messages between the service's threads and the records they carry. wParam is always the
// printer's name in storage that outlives the message; the receiver of a record frees it.
#pragma once

#include <windows.h>

#include "jtrkplatform.h"

#include "ClientJobId.h"

#define JTRK_MSG_STARTJOB 0x402       // to a watch thread: the printer has jobs
#define JTRK_MSG_ENDJOB 0x403         // to a watch thread: the printer's last job ended
#define JTRK_MSG_ENDTHREAD 0x404      // to a watch thread: end
#define JTRK_MSG_JOBEVENT 0x405       // to ControlJobThread: lParam JobEventInfo*
#define JTRK_MSG_TRACEJOB 0x406       // to ControlJobThread: lParam the event to set when the pass is done
#define JTRK_MSG_JOBIMPRESSCNT 0x407  // to ControlJobThread: lParam JobImpressCntInfo*
#define JTRK_MSG_JOBEXECUTING 0x408   // to ControlJobThread: lParam JobExecutingInfo*

struct JobEventInfo {
    ::_ClJobID ClJobID;
    BYTE Reason;      // the device's reason code of the job state
    DWORD ImprCompCnt; // impressions the device reported together with the job's end, else 0
};

struct JobExecutingInfo {
    DWORD hObj; // the device's job object handle
    ::_ClJobID ClJobID;
};

struct JobImpressCntInfo {
    DWORD hObj;
    DWORD ImprCompCnt;
};
