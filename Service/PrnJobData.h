// The job table of printers driven through the job-control SDK: jobs keyed by the SDK's device job
// id. No path of the service adds a record; the lookups serve the SDK branches of job removal.
#pragma once

#include <string>
#include <vector>

#include <windows.h>
#include <comdef.h>

#include "jtrkplatform.h"

#include "MsgJobInfo.h"

struct PrnJobRecord {
    WString PrntName;
    _bstr_t DeviceJobId;
    DWORD SysJobID;
    std::string MsgTexts[4]; // PrtName, MachineName, Document, UserName
    DWORD DelSuccess;
    DWORD DevPowOffErrFlg;
    DWORD ResetFlg;
};

class clPrnJobData {
public:
    clPrnJobData();
    // Sends the end notice of every job still in the table.
    ~clPrnJobData();
    clPrnJobData(const clPrnJobData&) = delete;
    clPrnJobData& operator=(const clPrnJobData&) = delete;

    // The record's device job id (shared); empty when none.
    _bstr_t GetDeviceJobId(LPCWSTR printer, DWORD sysJobId);
    BOOL RemoveJobData(LPCWSTR printer, _bstr_t deviceJobId);
    BOOL SetDelSuccess(LPCWSTR printer, DWORD sysJobId);
    BOOL SetDevPowOffErrFlg(LPCWSTR printer, DWORD sysJobId, DWORD flag);
    BOOL GetResetFlg(LPCWSTR printer, DWORD sysJobId, DWORD* flag);
    BOOL GetMessageJobInfo(LPCWSTR printer, DWORD sysJobId, MsgJobInfo* info);
    BOOL DelMessageJobInfo(MsgJobInfo* info);

private:
    PrnJobRecord* find(LPCWSTR printer, DWORD sysJobId);
    // Runs action on the printer's record with that id, under the lock; FALSE when none matches.
    template <typename Action>
    BOOL withRecord(LPCWSTR printer, DWORD sysJobId, Action action);

    std::vector<PrnJobRecord> JobArray;
    CRITICAL_SECTION m_cs;
};
