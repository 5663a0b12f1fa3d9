// The event log: every ReportEvent appends one record to the platform root's event log, shared by
// every process; palReadEventLog reads the records back (tools and tests).
#pragma once

#include <string>
#include <vector>

#include "pal/errors.h"
#include "pal/types.h"

#define EVENTLOG_SUCCESS 0x0000
#define EVENTLOG_ERROR_TYPE 0x0001
#define EVENTLOG_WARNING_TYPE 0x0002
#define EVENTLOG_INFORMATION_TYPE 0x0004
#define EVENTLOG_AUDIT_SUCCESS 0x0008
#define EVENTLOG_AUDIT_FAILURE 0x0010

typedef PVOID PSID;

// One record as palReadEventLog hands it out; the pointers are valid during the visit only.
typedef struct PAL_EVENTLOG_ENTRY {
    ULONGLONG timeMs;       // UTC, milliseconds since 1970-01-01
    LPCWSTR source;         // NUL-terminated
    const LPCWSTR* strings; // stringCount NUL-terminated strings
    const BYTE* data;       // dataSize bytes of raw data
    DWORD processId;
    DWORD eventId;
    DWORD dataSize;
    WORD eventType;
    WORD category;
    WORD stringCount;
} PAL_EVENTLOG_ENTRY;
static_assert(sizeof(void*) != 8 || (sizeof(PAL_EVENTLOG_ENTRY) == 56 && offsetof(PAL_EVENTLOG_ENTRY, source) == 8 &&
                                     offsetof(PAL_EVENTLOG_ENTRY, processId) == 32 &&
                                     offsetof(PAL_EVENTLOG_ENTRY, eventType) == 44 &&
                                     offsetof(PAL_EVENTLOG_ENTRY, stringCount) == 48),
              "PAL_EVENTLOG_ENTRY layout on 64-bit targets");

// Return FALSE to stop reading.
typedef BOOL (*PAL_EVENTLOG_VISITOR)(const PAL_EVENTLOG_ENTRY* entry, void* context);

extern "C" {
// lpUNCServerName must be NULL or empty (the local machine); other servers fail with 1722.
PAL_EXPORT HANDLE RegisterEventSourceW(LPCWSTR lpUNCServerName, LPCWSTR lpSourceName);
PAL_EXPORT HANDLE RegisterEventSourceA(LPCSTR lpUNCServerName, LPCSTR lpSourceName);
PAL_EXPORT BOOL DeregisterEventSource(HANDLE hEventLog);
// Appends one record (time, process, source, type, category, id, strings, raw data) in a single
// write, durable when the call returns. The user SID is not recorded.
PAL_EXPORT BOOL ReportEventW(HANDLE hEventLog, WORD wType, WORD wCategory, DWORD dwEventID, PSID lpUserSid,
                             WORD wNumStrings, DWORD dwDataSize, LPCWSTR* lpStrings, LPVOID lpRawData);
// The strings are converted from the ANSI code page.
PAL_EXPORT BOOL ReportEventA(HANDLE hEventLog, WORD wType, WORD wCategory, DWORD dwEventID, PSID lpUserSid,
                             WORD wNumStrings, DWORD dwDataSize, LPCSTR* lpStrings, LPVOID lpRawData);

// Visits every whole record of the event log of the current platform root, oldest first. A log
// that does not exist yet is empty. FALSE with the last error when the log cannot be read.
PAL_EXPORT BOOL palReadEventLog(PAL_EVENTLOG_VISITOR visitor, void* context);
// Empties the event log.
PAL_EXPORT BOOL palClearEventLog(void);
}

namespace pal {

struct EventLogEntry {
    ULONGLONG timeMs = 0;
    DWORD processId = 0;
    std::u16string source;
    WORD eventType = 0;
    WORD category = 0;
    DWORD eventId = 0;
    std::vector<std::u16string> strings;
    std::vector<BYTE> data;
};

// Every record of the event log, oldest first; empty when it cannot be read.
inline std::vector<EventLogEntry> readEventLog()
{
    std::vector<EventLogEntry> entries;
    palReadEventLog(
        [](const PAL_EVENTLOG_ENTRY* entry, void* context) -> BOOL {
            EventLogEntry copy;
            copy.timeMs = entry->timeMs;
            copy.processId = entry->processId;
            copy.source = entry->source;
            copy.eventType = entry->eventType;
            copy.category = entry->category;
            copy.eventId = entry->eventId;
            copy.strings.assign(entry->strings, entry->strings + entry->stringCount);
            copy.data.assign(entry->data, entry->data + entry->dataSize);
            static_cast<std::vector<EventLogEntry>*>(context)->push_back(std::move(copy));
            return TRUE;
        },
        &entries);
    return entries;
}

} // namespace pal
