// The job table: every print job the service follows on a device, in the order the jobs were
// reported, keyed by printer and spooler job id, client job id or device object handle.
#pragma once

#include <deque>
#include <memory>
#include <shared_mutex>
#include <string>
#include <vector>

#include <windows.h>
#include <winspool.h>

#include "jtrkplatform.h"

#include "ClientJobId.h"
#include "MsgJobInfo.h"

// Values of a record's ResetFlg.
#define JOB_RESET_NONE 1
#define JOB_RESET_DATA 2  // the device deleted the job's data or was reset
#define JOB_RESET_POWER 3 // a power-off or reset of the device was detected

// What a report of a job's send did to the table (ReplaceJobData).
#define JOBSEND_NOT_TRACKED 0 // no record of the job: nothing changed
#define JOBSEND_REPLACED 1    // a new send of a tracked job took over its record
#define JOBSEND_DUPLICATE 2   // the send tracked already: nothing changed

// One job. Its texts (printer, port and the four message texts) share one block.
struct PrnJobRecord4V2 {
    ::_ClJobID ClJobID;
    DWORD SysJobID;
    DWORD ImprCompCnt;
    DWORD hObj;
    DWORD DelSuccess;
    DWORD DevPowOffErrFlg;
    DWORD ResetFlg;
    LONG SkipCount;
    DWORD Ending; // 1 once a thread has begun to end the job: what it sends is the job's last word
    std::unique_ptr<char[]> texts;
    DWORD portOffset; // byte offsets into texts; the printer name is at 0
    DWORD messageOffset[4];
    // Hashes of the printer name and of ClJobID, for quick looks through the table.
    size_t printerHash;
    size_t clJobIdHash;

    LPCWSTR PrntName() const { return reinterpret_cast<LPCWSTR>(texts.get()); }
    LPCWSTR PortName() const { return reinterpret_cast<LPCWSTR>(texts.get() + portOffset); }
    LPCSTR MessageText(int index) const { return texts.get() + messageOffset[index]; }
};

class clPrnJobData4V2 {
public:
    clPrnJobData4V2();
    // Ends the tracking of every job still in the table (EndTracking).
    ~clPrnJobData4V2();
    clPrnJobData4V2(const clPrnJobData4V2&) = delete;
    clPrnJobData4V2& operator=(const clPrnJobData4V2&) = delete;

    // Appends a job; port may be NULL, info may be NULL (then the texts say "Unknown ...").
    BOOL AddJobData(LPCWSTR printer, LPCWSTR port, const ClJobID* clJobId, DWORD sysJobId, const JOB_INFO_1A* info);
    // A new send of a job already tracked: the job's record is filled again as AddJobData fills a
    // new one, so that one spooler job has one record, of its latest send. The same send reported
    // again changes nothing, unless that send is over (cancelled at the device, or failed).
    DWORD ReplaceJobData(LPCWSTR printer, LPCWSTR port, const ClJobID* clJobId, DWORD sysJobId,
                         const JOB_INFO_1A* info);
    BOOL RemoveJobData(LPCWSTR printer, const ClJobID* clJobId);
    // The printer's first job; 0 when none.
    DWORD GetSystemJobId(LPCWSTR printer);
    DWORD GetSystemJobId(LPCWSTR printer, const ClJobID* clJobId);
    BOOL GetDeviceJobId(LPCWSTR printer, DWORD sysJobId, ClJobID* clJobId);
    BOOL GetDeviceJobId2(LPCWSTR printer, DWORD hObj, ClJobID* clJobId);
    BOOL GetJobHANDLE(LPCWSTR printer, DWORD sysJobId, DWORD* hObj);
    BOOL SetJobHANDLE(LPCWSTR printer, DWORD hObj, const ClJobID* clJobId);
    BOOL GetImpressionCompletedCnt(LPCWSTR printer, DWORD sysJobId, DWORD* count);
    // TRUE only when the stored count grew.
    BOOL UpdateImpressionCompletedCnt(LPCWSTR printer, const ClJobID* clJobId, DWORD count);
    DWORD GetJobCountForDevice(LPCWSTR printer);
    // The printer's spooler job ids in table order in a new[] array (caller delete[]s); none: 0, no array.
    DWORD GetJobListForDevice(LPCWSTR printer, DWORD** list);
    // Four fresh copies of the job's texts; free them with DelMessageJobInfo.
    BOOL GetMessageJobInfo(LPCWSTR printer, DWORD sysJobId, MsgJobInfo* info);
    BOOL DelMessageJobInfo(MsgJobInfo* info);
    // A copy of the port of the first job with that id, of any printer; empty when none.
    WString GetPortName(DWORD sysJobId);
    BOOL GetResetFlg(LPCWSTR printer, DWORD sysJobId, DWORD* flag);
    // Flag 3 is absorbed while fewer than maxResetCount requests were skipped.
    BOOL SetResetFlg(LPCWSTR printer, DWORD sysJobId, DWORD flag, int maxResetCount);
    BOOL InitResetCount(LPCWSTR printer, DWORD sysJobId);
    // The last record with that id decides.
    DWORD GetDelSuccess(LPCWSTR printer, DWORD sysJobId);
    // Marks every record with that id.
    BOOL SetDelSuccess(LPCWSTR printer, DWORD sysJobId);
    BOOL GetDevPowOffErrFlg(LPCWSTR printer, DWORD sysJobId, DWORD* flag);
    BOOL SetDevPowOffErrFlg(LPCWSTR printer, DWORD sysJobId, DWORD flag);
    // Takes the ending of the job for the caller: the record is marked ending once a notice about
    // the job in flight (WhileTracked) is out. FALSE when the table has no such record or another
    // thread ends the job already: the caller sends nothing more about it.
    BOOL BeginJobEnd(LPCWSTR printer, const ClJobID* clJobId);
    // Gives an ending back that left the job tracked (a later pass ends it).
    BOOL CancelJobEnd(LPCWSTR printer, const ClJobID* clJobId);
    // Runs notice, a status or a dialog about the job from a thread that does not end it, while the
    // job is tracked and nobody has begun to end it: nothing about a job follows its end notice.
    // FALSE when notice did not run.
    template <typename Notice>
    BOOL WhileTracked(LPCWSTR printer, DWORD sysJobId, Notice notice)
    {
        std::shared_lock<std::shared_mutex> guard(m_noticeLock);
        if (!IsTracked(printer, sysJobId))
            return FALSE;
        notice();
        return TRUE;
    }
    // Takes every job out of the table and sends its end notice, in table order: a stop that must
    // leave the table to threads still running ends the tracking all the same, and only once.
    void EndTracking();

private:
    class Lock;
    // TRUE when the job has a record that nobody has begun to end.
    BOOL IsTracked(LPCWSTR printer, DWORD sysJobId);
    void fillRecord(PrnJobRecord4V2& record, LPCWSTR printer, LPCWSTR port, const ClJobID* clJobId, DWORD sysJobId,
                    const JOB_INFO_1A* info);
    PrnJobRecord4V2* findBySysJobId(LPCWSTR printer, DWORD sysJobId);
    PrnJobRecord4V2* findByClJobId(LPCWSTR printer, const ClJobID* clJobId);
    // Runs action on the record the finder picks, under the lock; FALSE when none matches.
    template <typename Key, typename Action>
    BOOL withRecord(PrnJobRecord4V2* (clPrnJobData4V2::*finder)(LPCWSTR, Key), LPCWSTR printer, Key key,
                    Action action);

    // Jobs end about in the order they came: a deque leaves a job near the front without moving
    // the jobs behind it.
    std::deque<PrnJobRecord4V2> JobArray;
    CRITICAL_SECTION m_cs;
    // Held shared while a notice about a tracked job goes out, alone while an ending begins.
    std::shared_mutex m_noticeLock;
    clClientJobId m_clientJobId;
};
