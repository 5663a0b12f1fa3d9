#include "PrnJobData.h"

#include <cstring>

#include "Notices.h"
#include "ServiceTrace.h"

namespace {

const char kSource[] = "PrnJobData";

class Lock {
public:
    explicit Lock(CRITICAL_SECTION* cs) : m_cs(cs) { EnterCriticalSection(m_cs); }
    ~Lock() { LeaveCriticalSection(m_cs); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

private:
    CRITICAL_SECTION* m_cs;
};

} // namespace

clPrnJobData::clPrnJobData()
{
    InitializeCriticalSectionAndSpinCount(&m_cs, 0);
}

clPrnJobData::~clPrnJobData()
{
    for (const PrnJobRecord& record : JobArray)
        SendNoticeEnd(record.PrntName.c_str(), record.SysJobID);
    DeleteCriticalSection(&m_cs);
}

PrnJobRecord* clPrnJobData::find(LPCWSTR printer, DWORD sysJobId)
{
    for (PrnJobRecord& record : JobArray) {
        if (record.SysJobID == sysJobId && record.PrntName == printer)
            return &record;
    }
    return nullptr;
}

template <typename Action>
BOOL clPrnJobData::withRecord(LPCWSTR printer, DWORD sysJobId, Action action)
{
    Lock lock(&m_cs);
    PrnJobRecord* record = find(printer, sysJobId);
    return record ? action(*record) : FALSE;
}

_bstr_t clPrnJobData::GetDeviceJobId(LPCWSTR printer, DWORD sysJobId)
{
    if (!printer || sysJobId == 0)
        return _bstr_t();
    SVC_TRACE(kSource, "clPrnJobData::GetDeviceJobId", W("PrntName:[%ls] SysJobID:[%08d]"), printer, sysJobId);
    _bstr_t deviceJobId;
    withRecord(printer, sysJobId, [&](const PrnJobRecord& record) {
        deviceJobId = record.DeviceJobId;
        return TRUE;
    });
    return deviceJobId;
}

BOOL clPrnJobData::RemoveJobData(LPCWSTR printer, _bstr_t deviceJobId)
{
    if (!printer || deviceJobId.length() == 0)
        return FALSE;
    Lock lock(&m_cs);
    SVC_TRACE(kSource, "clPrnJobData::RemoveJobData", W("Device Job ID:[%ls]"), static_cast<const WCHAR*>(deviceJobId));
    for (auto record = JobArray.begin(); record != JobArray.end(); ++record) {
        if (record->PrntName == printer && record->DeviceJobId == deviceJobId) {
            JobArray.erase(record);
            SVC_TRACE(kSource, "clPrnJobData::RemoveJobData", W("JobArray.size:[%ld]"), static_cast<LONG>(JobArray.size()));
            return TRUE;
        }
    }
    return FALSE;
}

BOOL clPrnJobData::SetDelSuccess(LPCWSTR printer, DWORD sysJobId)
{
    if (!printer)
        return FALSE;
    return withRecord(printer, sysJobId, [](PrnJobRecord& record) {
        record.DelSuccess = 1;
        return TRUE;
    });
}

BOOL clPrnJobData::SetDevPowOffErrFlg(LPCWSTR printer, DWORD sysJobId, DWORD flag)
{
    if (!printer)
        return FALSE;
    return withRecord(printer, sysJobId, [&](PrnJobRecord& record) {
        record.DevPowOffErrFlg = flag;
        return TRUE;
    });
}

BOOL clPrnJobData::GetResetFlg(LPCWSTR printer, DWORD sysJobId, DWORD* flag)
{
    if (!printer || sysJobId == 0 || !flag)
        return FALSE;
    BOOL found = withRecord(printer, sysJobId, [&](const PrnJobRecord& record) {
        *flag = record.ResetFlg;
        return TRUE;
    });
    SVC_TRACE(kSource, "clPrnJobData::GetResetFlg", W("Return Value bReturn:[%ls] SysJobID:[%d] pFlgPos:[%d]"),
              SvcSuccessText(found), sysJobId, found ? *flag : 0);
    return found;
}

BOOL clPrnJobData::GetMessageJobInfo(LPCWSTR printer, DWORD sysJobId, MsgJobInfo* info)
{
    if (!printer || sysJobId == 0 || !info)
        return FALSE;
    return withRecord(printer, sysJobId, [&](const PrnJobRecord& record) {
        const LPCSTR texts[4] = {record.MsgTexts[0].c_str(), record.MsgTexts[1].c_str(), record.MsgTexts[2].c_str(),
                                 record.MsgTexts[3].c_str()};
        CopyMsgJobInfo(info, texts);
        return TRUE;
    });
}

BOOL clPrnJobData::DelMessageJobInfo(MsgJobInfo* info)
{
    return FreeMsgJobInfo(info);
}
