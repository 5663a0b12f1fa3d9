#include "ServiceEvents.h"

#include "ServiceContext.h"

void WriteEventLog(LPCWSTR source, WORD type, WORD category, DWORD eventId, WORD count, LPCWSTR* strings)
{
    HANDLE log = RegisterEventSourceW(nullptr, source);
    if (!log)
        return;
    ReportEventW(log, type, category, eventId, nullptr, count, 0, strings, nullptr);
    DeregisterEventSource(log);
}

void WriteServiceEvent(WORD type, DWORD eventId, WORD count, LPCWSTR* strings)
{
    WriteEventLog(JTRK_EVENT_SOURCE, type, 0, eventId, count, strings);
}
