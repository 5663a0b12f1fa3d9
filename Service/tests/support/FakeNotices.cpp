#include "FakeNotices.h"

#include "Notices.h"

FakeNotices& FakeNotices::instance()
{
    static FakeNotices notices;
    return notices;
}

void FakeNotices::reset()
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_calls.clear();
    startResult = printResult = pausedAnswer = statusResult = 0;
}

std::vector<NoticeCall> FakeNotices::calls()
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_calls;
}

void FakeNotices::record(const char* kind, LPCWSTR printer, DWORD jobId, DWORD value)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_calls.push_back({kind, printer ? printer : W(""), jobId, value});
}

int SendNoticeStart(LPCWSTR printer, DWORD jobId)
{
    FakeNotices::instance().record("start", printer, jobId, 0);
    return FakeNotices::instance().startResult;
}

int SendStatus(JTRKServiceContext*, LPCWSTR printer, DWORD jobId, DWORD status, const _DevMsgRecord*)
{
    FakeNotices::instance().record("status", printer, jobId, status);
    return status == 0x400 ? FakeNotices::instance().pausedAnswer : FakeNotices::instance().statusResult;
}

int SendStatusOfJob(JTRKServiceContext* context, LPCWSTR printer, DWORD jobId, DWORD status,
                    const _DevMsgRecord* record, const SpoolerJobA&)
{
    return SendStatus(context, printer, jobId, status, record);
}

int SendPrintStatus(JTRKServiceContext*, LPCWSTR printer, DWORD jobId, DWORD nup)
{
    FakeNotices::instance().record("print", printer, jobId, nup);
    return FakeNotices::instance().printResult;
}

int SendNoticeEnd(LPCWSTR printer, DWORD jobId)
{
    FakeNotices::instance().record("end", printer, jobId, 0);
    return 0;
}
