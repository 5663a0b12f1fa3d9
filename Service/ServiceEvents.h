// The service's event-log entries: source "OutputBeaconService2", category 0.
#pragma once

#include <windows.h>

#include "jtrkplatform.h"

#define JTRK_EVENT_START_FAILED 0xC0000001u       // no strings
#define JTRK_EVENT_PIPE_FAILED 0xC0000008u        // error number
#define JTRK_EVENT_NOTICE_REFUSED 0xC000000Bu     // printer, job id, document, reason
#define JTRK_EVENT_NOTICE_FAILED 0xC000000Cu      // error number, printer, job id, document
#define JTRK_EVENT_STATUS_FAILED 0xC000000Du      // error number, printer, job id[, document]
#define JTRK_EVENT_NOTICE_END_FAILED 0xC000000Eu
#define JTRK_EVENT_REQUEST_REJECTED 0xC000000Fu   // printer, job id[, document]
#define JTRK_EVENT_CLIB_INIT_FAILED 0xC0000013u   // no strings
#define JTRK_EVENT_CLIB_TERM_FAILED 0xC0000014u   // no strings
#define JTRK_EVENT_CLIB_ERROR 0xC0000015u         // printer, API name, code
#define JTRK_EVENT_STATUS_ERROR 0xC0000016u       // printer, code
#define JTRK_EVENT_TRACE_ERROR 0xC0000017u        // printer, job id, document, code
#define JTRK_EVENT_CANCEL_ERROR 0xC0000018u       // printer, job id, document, code
#define JTRK_EVENT_NOT_TRACKED 0x80000002u        // printer, reason, action
#define JTRK_EVENT_SUBSCRIBE_FAILED 0x80000003u   // E: printer, action, code; W: printer, reason, error
#define JTRK_EVENT_REBOUND 0x80000019u
#define JTRK_EVENT_SUBSCRIBED_AGAIN 0x40000006u   // printer

// RegisterEventSourceW on the local machine, ReportEventW, DeregisterEventSource; nothing when the
// source cannot be registered.
void WriteEventLog(LPCWSTR source, WORD type, WORD category, DWORD eventId, WORD count, LPCWSTR* strings);

// WriteEventLog with the service's source and category 0.
void WriteServiceEvent(WORD type, DWORD eventId, WORD count, LPCWSTR* strings);
