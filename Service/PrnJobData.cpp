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

LPSTR copyText(const std::string& text)
{
    LPSTR copy = new char[text.size() + 1];
    memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

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

_bstr_t clPrnJobData::GetDeviceJobId(LPCWSTR printer, DWORD sysJobId)
{
    if (!printer || sysJobId == 0)
        return _bstr_t();
    Lock lock(&m_cs);
    SVC_TRACE(kSource, "clPrnJobData::GetDeviceJobId", W("PrntName:[%ls] SysJobID:[%08d]"), printer, sysJobId);
    PrnJobRecord* record = find(printer, sysJobId);
    return record ? record->DeviceJobId : _bstr_t();
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
    Lock lock(&m_cs);
    PrnJobRecord* record = find(printer, sysJobId);
    if (record)
        record->DelSuccess = 1;
    return record != nullptr;
}

BOOL clPrnJobData::SetDevPowOffErrFlg(LPCWSTR printer, DWORD sysJobId, DWORD flag)
{
    if (!printer)
        return FALSE;
    Lock lock(&m_cs);
    PrnJobRecord* record = find(printer, sysJobId);
    if (record)
        record->DevPowOffErrFlg = flag;
    return record != nullptr;
}

BOOL clPrnJobData::GetResetFlg(LPCWSTR printer, DWORD sysJobId, DWORD* flag)
{
    if (!printer || sysJobId == 0 || !flag)
        return FALSE;
    Lock lock(&m_cs);
    PrnJobRecord* record = find(printer, sysJobId);
    if (record)
        *flag = record->ResetFlg;
    SVC_TRACE(kSource, "clPrnJobData::GetResetFlg", W("Return Value bReturn:[%ls] SysJobID:[%d] pFlgPos:[%d]"),
              SvcSuccessText(record != nullptr), sysJobId, record ? record->ResetFlg : 0);
    return record != nullptr;
}

BOOL clPrnJobData::GetMessageJobInfo(LPCWSTR printer, DWORD sysJobId, MsgJobInfo* info)
{
    if (!printer || sysJobId == 0 || !info)
        return FALSE;
    Lock lock(&m_cs);
    PrnJobRecord* record = find(printer, sysJobId);
    if (!record)
        return FALSE;
    info->PrtName = copyText(record->MsgTexts[0]);
    info->MachineName = copyText(record->MsgTexts[1]);
    info->Document = copyText(record->MsgTexts[2]);
    info->UserName = copyText(record->MsgTexts[3]);
    return TRUE;
}

BOOL clPrnJobData::DelMessageJobInfo(MsgJobInfo* info)
{
    if (!info)
        return FALSE;
    for (LPSTR* text : {&info->PrtName, &info->MachineName, &info->Document, &info->UserName}) {
        delete[] *text;
        *text = nullptr;
    }
    return TRUE;
}
