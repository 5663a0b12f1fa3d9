#include "PrnJobData4V2.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <string_view>

#include "Notices.h"
#include "ServiceTrace.h"

namespace {

const char kSource[] = "PrnJobData4V2";

#define JOB_TRACE(function, ...) SVC_TRACE(kSource, "clPrnJobData4V2::" function, __VA_ARGS__)

size_t printerHashOf(LPCWSTR printer)
{
    return std::hash<WStringView>()(WStringView(printer));
}

// A printer's name with its hash: a look through the whole table compares the hashes first, as
// every printer's watch thread counts its jobs every second.
struct PrinterKey {
    explicit PrinterKey(LPCWSTR printer) : name(printer), hash(printerHashOf(printer)) {}
    LPCWSTR name;
    size_t hash;
};

// Of the whole record: two ids are identical when every field is, and the record has no padding.
size_t clJobIdHashOf(const ClJobID* clJobId)
{
    return std::hash<std::string_view>()(std::string_view(reinterpret_cast<const char*>(clJobId), sizeof *clJobId));
}

bool samePrinter(const PrnJobRecord4V2& record, const PrinterKey& printer)
{
    return record.printerHash == printer.hash && lstrcmpW(record.PrntName(), printer.name) == 0;
}

size_t wideBytes(LPCWSTR text)
{
    return (static_cast<size_t>(lstrlenW(text)) + 1) * sizeof(WCHAR);
}

// A machine name is kept without the two backslashes of a UNC name.
LPCSTR machineNameOf(LPCSTR machine)
{
    return machine && machine[0] == '\\' && machine[1] == '\\' ? machine + 2 : machine;
}

std::string unknownText(LPCWSTR text)
{
    int size = WideCharToMultiByte(CP_THREAD_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string narrow(size > 0 ? size - 1 : 0, '\0');
    if (size > 1)
        WideCharToMultiByte(CP_THREAD_ACP, 0, text, -1, narrow.data(), size, nullptr, nullptr);
    return narrow;
}

// Lays out printer, port and the four message texts in one block.
void fillTexts(PrnJobRecord4V2& record, LPCWSTR printer, LPCWSTR port, const std::string (&messages)[4])
{
    size_t printerBytes = wideBytes(printer);
    size_t portBytes = wideBytes(port);
    size_t total = printerBytes + portBytes;
    for (const std::string& text : messages)
        total += text.size() + 1;
    record.texts.reset(new char[total]);
    char* out = record.texts.get();
    memcpy(out, printer, printerBytes);
    record.portOffset = static_cast<DWORD>(printerBytes);
    memcpy(out + printerBytes, port, portBytes);
    size_t at = printerBytes + portBytes;
    for (int i = 0; i < 4; ++i) {
        record.messageOffset[i] = static_cast<DWORD>(at);
        memcpy(out + at, messages[i].c_str(), messages[i].size() + 1);
        at += messages[i].size() + 1;
    }
}

} // namespace

class clPrnJobData4V2::Lock {
public:
    explicit Lock(CRITICAL_SECTION* cs) : m_cs(cs) { EnterCriticalSection(m_cs); }
    ~Lock() { LeaveCriticalSection(m_cs); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

private:
    CRITICAL_SECTION* m_cs;
};

clPrnJobData4V2::clPrnJobData4V2()
{
    InitializeCriticalSectionAndSpinCount(&m_cs, 0);
}

clPrnJobData4V2::~clPrnJobData4V2()
{
    EndTracking();
    DeleteCriticalSection(&m_cs);
}

void clPrnJobData4V2::EndTracking()
{
    std::deque<PrnJobRecord4V2> ended;
    {
        std::unique_lock<std::shared_mutex> notices(m_noticeLock);
        Lock lock(&m_cs);
        ended.swap(JobArray);
    }
    // The notices go out without the lock: a thread still running finds the table empty.
    for (const PrnJobRecord4V2& record : ended) {
        JOB_TRACE("EndTracking", W("PrntName:[%ls] SysJobID:[%08d]"), record.PrntName(), record.SysJobID);
        SendNoticeEnd(record.PrntName(), record.SysJobID);
    }
}

PrnJobRecord4V2* clPrnJobData4V2::findBySysJobId(LPCWSTR printer, DWORD sysJobId)
{
    const PrinterKey key(printer);
    for (PrnJobRecord4V2& record : JobArray) {
        if (record.SysJobID == sysJobId && samePrinter(record, key))
            return &record;
    }
    return nullptr;
}

PrnJobRecord4V2* clPrnJobData4V2::findByClJobId(LPCWSTR printer, const ClJobID* clJobId)
{
    const PrinterKey key(printer);
    const size_t clJobIdHash = clJobIdHashOf(clJobId);
    for (PrnJobRecord4V2& record : JobArray) {
        if (record.clJobIdHash == clJobIdHash && m_clientJobId.Identical(&record.ClJobID, clJobId) &&
            samePrinter(record, key))
            return &record;
    }
    return nullptr;
}

template <typename Key, typename Action>
BOOL clPrnJobData4V2::withRecord(PrnJobRecord4V2* (clPrnJobData4V2::*finder)(LPCWSTR, Key), LPCWSTR printer, Key key,
                                 Action action)
{
    Lock lock(&m_cs);
    PrnJobRecord4V2* record = (this->*finder)(printer, key);
    return record ? action(*record) : FALSE;
}

void clPrnJobData4V2::fillRecord(PrnJobRecord4V2& record, LPCWSTR printer, LPCWSTR port, const ClJobID* clJobId,
                                 DWORD sysJobId, const JOB_INFO_1A* info)
{
    std::string messages[4];
    if (info) {
        LPCSTR texts[4] = {info->pPrinterName, machineNameOf(info->pMachineName), info->pDocument, info->pUserName};
        for (int i = 0; i < 4; ++i)
            messages[i] = texts[i] ? texts[i] : "";
    } else {
        messages[0] = unknownText(W("Unknown Printer"));
        messages[1] = unknownText(W("Unknown MachineName"));
        messages[2] = unknownText(W("Unknown Document"));
        messages[3] = unknownText(W("Unknown UserName"));
    }
    // Only a missing port becomes "Unknown Port"; a port given is kept with or without job information.
    LPCWSTR portName = port ? port : W("Unknown Port");
    JOB_TRACE("AddJobData", W("PrtName:[%hs], MachineName:[%hs], Document:[%hs], UserName:[%hs]"), messages[0].c_str(),
              messages[1].c_str(), messages[2].c_str(), messages[3].c_str());
    m_clientJobId.Copy(clJobId, &record.ClJobID);
    record.SysJobID = sysJobId;
    record.ImprCompCnt = 0;
    record.hObj = 0;
    record.DelSuccess = 0;
    record.DevPowOffErrFlg = 0;
    record.ResetFlg = JOB_RESET_NONE;
    record.SkipCount = 0;
    record.Ending = 0;
    fillTexts(record, printer, portName, messages);
    record.printerHash = printerHashOf(printer);
    record.clJobIdHash = clJobIdHashOf(&record.ClJobID);
}

BOOL clPrnJobData4V2::AddJobData(LPCWSTR printer, LPCWSTR port, const ClJobID* clJobId, DWORD sysJobId,
                                 const JOB_INFO_1A* info)
{
    if (!printer || !clJobId || sysJobId == 0)
        return FALSE;
    JOB_TRACE("AddJobData", W("System Job ID:[%ld]"), sysJobId);
    PrnJobRecord4V2 record;
    fillRecord(record, printer, port, clJobId, sysJobId, info);
    Lock lock(&m_cs);
    JobArray.push_back(std::move(record));
    JOB_TRACE("AddJobData", W("JobArray.size:[%ld]"), static_cast<LONG>(JobArray.size()));
    return TRUE;
}

DWORD clPrnJobData4V2::ReplaceJobData(LPCWSTR printer, LPCWSTR port, const ClJobID* clJobId, DWORD sysJobId,
                                      const JOB_INFO_1A* info)
{
    if (!printer || !clJobId || sysJobId == 0)
        return JOBSEND_NOT_TRACKED;
    PrnJobRecord4V2 fresh;
    fillRecord(fresh, printer, port, clJobId, sysJobId, info);
    Lock lock(&m_cs);
    PrnJobRecord4V2* record = findBySysJobId(printer, sysJobId);
    if (!record)
        return JOBSEND_NOT_TRACKED;
    // A send the service cancelled or that failed is over: a report with its id is a new send
    // that started within the same second.
    bool over = record->DelSuccess != 0 || record->DevPowOffErrFlg != 0;
    if (!over && m_clientJobId.Identical(&record->ClJobID, clJobId)) {
        JOB_TRACE("ReplaceJobData", W("PrntName:[%ls] SysJobID:[%08d] reported again"), printer, sysJobId);
        return JOBSEND_DUPLICATE;
    }
    JOB_TRACE("ReplaceJobData", W("PrntName:[%ls] SysJobID:[%08d] ClJobID.JobInfo1:[%08d] sent again"), printer,
              sysJobId, JobInfo1Number(clJobId->JobText));
    *record = std::move(fresh);
    return JOBSEND_REPLACED;
}

BOOL clPrnJobData4V2::RemoveJobData(LPCWSTR printer, const ClJobID* clJobId)
{
    if (!printer || !clJobId)
        return FALSE;
    Lock lock(&m_cs);
    BOOL removed = FALSE;
    if (PrnJobRecord4V2* record = findByClJobId(printer, clJobId)) {
        JOB_TRACE("RemoveJobData", W("PrntName:[%ls] hObj:[%08x] ClJobID.JobInfo1:[%08d]"), printer, record->hObj,
                  JobInfo1Number(clJobId->JobText));
        JobArray.erase(std::find_if(JobArray.begin(), JobArray.end(),
                                    [record](const PrnJobRecord4V2& each) { return &each == record; }));
        removed = TRUE;
    }
    JOB_TRACE("RemoveJobData", W("JobArray.size:[%ld]"), static_cast<LONG>(JobArray.size()));
    JOB_TRACE("RemoveJobData", W("Return Value bRet = [%ls]"), SvcBoolText(removed));
    return removed;
}

BOOL clPrnJobData4V2::BeginJobEnd(LPCWSTR printer, const ClJobID* clJobId)
{
    if (!printer || !clJobId)
        return FALSE;
    std::unique_lock<std::shared_mutex> notices(m_noticeLock);
    BOOL begun = withRecord(&clPrnJobData4V2::findByClJobId, printer, clJobId, [](PrnJobRecord4V2& record) {
        if (record.Ending)
            return FALSE;
        record.Ending = 1;
        return TRUE;
    });
    JOB_TRACE("BeginJobEnd", W("PrntName:[%ls] ClJobID.JobInfo1:[%08d]"), printer, JobInfo1Number(clJobId->JobText));
    JOB_TRACE("BeginJobEnd", W("Return Value bRet = [%ls]"), SvcBoolText(begun));
    return begun;
}

BOOL clPrnJobData4V2::CancelJobEnd(LPCWSTR printer, const ClJobID* clJobId)
{
    if (!printer || !clJobId)
        return FALSE;
    return withRecord(&clPrnJobData4V2::findByClJobId, printer, clJobId, [](PrnJobRecord4V2& record) {
        record.Ending = 0;
        return TRUE;
    });
}

BOOL clPrnJobData4V2::IsTracked(LPCWSTR printer, DWORD sysJobId)
{
    if (!printer || sysJobId == 0)
        return FALSE;
    return withRecord(&clPrnJobData4V2::findBySysJobId, printer, sysJobId,
                      [](const PrnJobRecord4V2& record) { return record.Ending ? FALSE : TRUE; });
}

DWORD clPrnJobData4V2::GetSystemJobId(LPCWSTR printer)
{
    if (!printer)
        return 0;
    Lock lock(&m_cs);
    const PrinterKey key(printer);
    for (const PrnJobRecord4V2& record : JobArray) {
        if (samePrinter(record, key))
            return record.SysJobID;
    }
    return 0;
}

DWORD clPrnJobData4V2::GetSystemJobId(LPCWSTR printer, const ClJobID* clJobId)
{
    if (!printer || !clJobId)
        return 0;
    DWORD sysJobId = 0;
    withRecord(&clPrnJobData4V2::findByClJobId, printer, clJobId, [&](const PrnJobRecord4V2& record) {
        sysJobId = record.SysJobID;
        return TRUE;
    });
    return sysJobId;
}

BOOL clPrnJobData4V2::GetDeviceJobId(LPCWSTR printer, DWORD sysJobId, ClJobID* clJobId)
{
    if (!printer || sysJobId == 0 || !clJobId)
        return FALSE;
    return withRecord(&clPrnJobData4V2::findBySysJobId, printer, sysJobId, [&](const PrnJobRecord4V2& record) {
        m_clientJobId.Copy(&record.ClJobID, clJobId);
        return clJobId->JobText[0] != 0;
    });
}

BOOL clPrnJobData4V2::GetDeviceJobId2(LPCWSTR printer, DWORD hObj, ClJobID* clJobId)
{
    if (!printer || hObj == 0 || !clJobId)
        return FALSE;
    Lock lock(&m_cs);
    const PrinterKey key(printer);
    for (const PrnJobRecord4V2& record : JobArray) {
        if (record.hObj == hObj && samePrinter(record, key)) {
            m_clientJobId.Copy(&record.ClJobID, clJobId);
            return clJobId->JobText[0] != 0;
        }
    }
    return FALSE;
}

BOOL clPrnJobData4V2::GetJobHANDLE(LPCWSTR printer, DWORD sysJobId, DWORD* hObj)
{
    if (!printer || sysJobId == 0 || !hObj)
        return FALSE;
    return withRecord(&clPrnJobData4V2::findBySysJobId, printer, sysJobId, [&](const PrnJobRecord4V2& record) {
        *hObj = record.hObj;
        return TRUE;
    });
}

BOOL clPrnJobData4V2::SetJobHANDLE(LPCWSTR printer, DWORD hObj, const ClJobID* clJobId)
{
    if (!printer || hObj == 0 || !clJobId)
        return FALSE;
    return withRecord(&clPrnJobData4V2::findByClJobId, printer, clJobId, [&](PrnJobRecord4V2& record) {
        record.hObj = hObj;
        JOB_TRACE("SetJobHANDLE", W("PrntName:[%ls] hObj:[%08x] ClJobID.JobInfo1:[%08d]"), printer, hObj,
                  JobInfo1Number(clJobId->JobText));
        return TRUE;
    });
}

BOOL clPrnJobData4V2::GetImpressionCompletedCnt(LPCWSTR printer, DWORD sysJobId, DWORD* count)
{
    if (!printer || sysJobId == 0 || !count)
        return FALSE;
    return withRecord(&clPrnJobData4V2::findBySysJobId, printer, sysJobId, [&](const PrnJobRecord4V2& record) {
        *count = record.ImprCompCnt;
        return TRUE;
    });
}

BOOL clPrnJobData4V2::UpdateImpressionCompletedCnt(LPCWSTR printer, const ClJobID* clJobId, DWORD count)
{
    if (!printer || !clJobId)
        return FALSE;
    return withRecord(&clPrnJobData4V2::findByClJobId, printer, clJobId, [&](PrnJobRecord4V2& record) {
        JOB_TRACE("UpdateImpressionCompletedCnt", W("<BEFORE> PrntName:[%ls] SysJobID:[%08d] ImprCompCnt:[%ld]"),
                  printer, record.SysJobID, record.ImprCompCnt);
        JOB_TRACE("UpdateImpressionCompletedCnt", W("<UPDATE> PrntName:[%ls] SysJobID:[%08d] ImprCompCnt:[%ld]"),
                  printer, record.SysJobID, count);
        BOOL grew = record.ImprCompCnt < count;
        if (grew)
            record.ImprCompCnt = count;
        JOB_TRACE("UpdateImpressionCompletedCnt", W("< NEW  > PrntName:[%ls] SysJobID:[%08d] ImprCompCnt:[%ld]"),
                  printer, record.SysJobID, record.ImprCompCnt);
        return grew;
    });
}

DWORD clPrnJobData4V2::GetJobCountForDevice(LPCWSTR printer)
{
    if (!printer)
        return 0;
    Lock lock(&m_cs);
    DWORD count = 0;
    const PrinterKey key(printer);
    for (const PrnJobRecord4V2& record : JobArray)
        count += samePrinter(record, key) ? 1 : 0;
    return count;
}

DWORD clPrnJobData4V2::GetJobListForDevice(LPCWSTR printer, DWORD** list)
{
    if (!printer || !list) {
        SVC_ERROR(TRACE_ERROR_PARAMETER, kSource, "clPrnJobData4V2::GetJobListForDevice");
        return 0;
    }
    Lock lock(&m_cs);
    std::vector<DWORD> ids;
    const PrinterKey key(printer);
    for (const PrnJobRecord4V2& record : JobArray) {
        if (samePrinter(record, key))
            ids.push_back(record.SysJobID);
    }
    if (ids.empty())
        return 0;
    *list = new DWORD[ids.size()];
    memcpy(*list, ids.data(), ids.size() * sizeof(DWORD));
    return static_cast<DWORD>(ids.size());
}

BOOL clPrnJobData4V2::GetMessageJobInfo(LPCWSTR printer, DWORD sysJobId, MsgJobInfo* info)
{
    if (!printer || sysJobId == 0 || !info)
        return FALSE;
    return withRecord(&clPrnJobData4V2::findBySysJobId, printer, sysJobId, [&](const PrnJobRecord4V2& record) {
        const LPCSTR texts[4] = {record.MessageText(0), record.MessageText(1), record.MessageText(2),
                                 record.MessageText(3)};
        CopyMsgJobInfo(info, texts);
        return TRUE;
    });
}

BOOL clPrnJobData4V2::DelMessageJobInfo(MsgJobInfo* info)
{
    return FreeMsgJobInfo(info);
}

WString clPrnJobData4V2::GetPortName(DWORD sysJobId)
{
    if (sysJobId != 0) {
        Lock lock(&m_cs);
        for (const PrnJobRecord4V2& record : JobArray) {
            if (record.SysJobID == sysJobId)
                return record.PortName();
        }
    }
    SVC_ERROR(SVC_ERROR_GENERAL, kSource, "clPrnJobData4V2::GetPortName");
    return WString();
}

BOOL clPrnJobData4V2::GetResetFlg(LPCWSTR printer, DWORD sysJobId, DWORD* flag)
{
    if (!printer || sysJobId == 0 || !flag)
        return FALSE;
    BOOL found = withRecord(&clPrnJobData4V2::findBySysJobId, printer, sysJobId, [&](const PrnJobRecord4V2& record) {
        *flag = record.ResetFlg;
        return TRUE;
    });
    JOB_TRACE("GetResetFlg", W("Return Value bReturn:[%ls] SysJobID:[%d] pFlgPos:[%d]"), SvcSuccessText(found), sysJobId,
              found ? *flag : 0);
    return found;
}

BOOL clPrnJobData4V2::SetResetFlg(LPCWSTR printer, DWORD sysJobId, DWORD flag, int maxResetCount)
{
    if (!printer || sysJobId == 0)
        return FALSE;
    return withRecord(&clPrnJobData4V2::findBySysJobId, printer, sysJobId, [&](PrnJobRecord4V2& record) {
        if (flag == JOB_RESET_POWER && record.SkipCount < maxResetCount) {
            ++record.SkipCount;
            JOB_TRACE("SetResetFlg", W("Skip SetResetFlag: SysJobID:[%d] SkipCount:[%d]"), sysJobId, record.SkipCount);
        } else {
            record.ResetFlg = flag;
        }
        JOB_TRACE("SetResetFlg", W("Return Value bReturn:[%ls] SysJobID:[%d]"), SvcSuccessText(TRUE), sysJobId);
        return TRUE;
    });
}

BOOL clPrnJobData4V2::InitResetCount(LPCWSTR printer, DWORD sysJobId)
{
    if (!printer || sysJobId == 0)
        return FALSE;
    return withRecord(&clPrnJobData4V2::findBySysJobId, printer, sysJobId, [](PrnJobRecord4V2& record) {
        record.SkipCount = 0;
        return TRUE;
    });
}

DWORD clPrnJobData4V2::GetDelSuccess(LPCWSTR printer, DWORD sysJobId)
{
    if (!printer || sysJobId == 0)
        return 0;
    Lock lock(&m_cs);
    const PrinterKey key(printer);
    for (auto record = JobArray.rbegin(); record != JobArray.rend(); ++record) {
        if (record->SysJobID == sysJobId && samePrinter(*record, key))
            return record->DelSuccess;
    }
    return 0;
}

BOOL clPrnJobData4V2::SetDelSuccess(LPCWSTR printer, DWORD sysJobId)
{
    if (!printer || sysJobId == 0)
        return FALSE;
    Lock lock(&m_cs);
    BOOL marked = FALSE;
    const PrinterKey key(printer);
    for (PrnJobRecord4V2& record : JobArray) {
        if (record.SysJobID == sysJobId && samePrinter(record, key)) {
            record.DelSuccess = 1;
            marked = TRUE;
        }
    }
    JOB_TRACE("SetDelSuccess", W("Return Value bReturn:[%ls]"), SvcSuccessText(marked));
    return marked;
}

BOOL clPrnJobData4V2::GetDevPowOffErrFlg(LPCWSTR printer, DWORD sysJobId, DWORD* flag)
{
    if (!printer || sysJobId == 0 || !flag)
        return FALSE;
    return withRecord(&clPrnJobData4V2::findBySysJobId, printer, sysJobId, [&](const PrnJobRecord4V2& record) {
        *flag = record.DevPowOffErrFlg;
        return TRUE;
    });
}

BOOL clPrnJobData4V2::SetDevPowOffErrFlg(LPCWSTR printer, DWORD sysJobId, DWORD flag)
{
    if (!printer)
        return FALSE;
    return withRecord(&clPrnJobData4V2::findBySysJobId, printer, sysJobId, [&](PrnJobRecord4V2& record) {
        record.DevPowOffErrFlg = flag;
        return TRUE;
    });
}
