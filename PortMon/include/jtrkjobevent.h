// The job report that the port monitor sends to the tracking service over its named pipe.
// Little-endian, 1028 bytes, every unused byte zero.
#pragma once

#include <cstddef>

#include <windows.h>

#include "jtrkplatform.h"

#define JTRK_SERVICE_PIPE_NAME W("\\\\.\\pipe\\vexil_jtrksvc2")

#define JOBEVENT_JOBSTART 1  // the job's header was read: start tracking it
#define JOBEVENT_REQUEUED 2  // sending failed; the job was paused and restarted

#define JOBEVENT_FLAG_ALWAYS 0x1

#define JOBEVENT_PRINTER_NAME_CHARS 221  // at most 220 characters and NUL
#define JOBEVENT_PAU_NAME_BYTES 24  // at most 23 bytes and NUL
#define JOBEVENT_CLIENT_JOB_ID_BYTES 64
#define JOBEVENT_PORT_NAME_CHARS 64  // at most 63 characters and NUL

typedef struct _JobEventRequest {
    DWORD dwSize;  // sizeof(JobEventRequest)
    DWORD dwMessageID;  // JOBEVENT_JOBSTART or JOBEVENT_REQUEUED
    DWORD dwFlags;  // JOBEVENT_FLAG_ALWAYS
    WCHAR wszPrnName[JOBEVENT_PRINTER_NAME_CHARS];
    WORD wPadding;
    DWORD dwJobId;  // spooler job id
    char szPauName[JOBEVENT_PAU_NAME_BYTES];  // JOBEVENT_JOBSTART only
    BYTE ClientJobId[JOBEVENT_CLIENT_JOB_ID_BYTES];  // host order; JOBEVENT_JOBSTART only
    WCHAR wszPortName[JOBEVENT_PORT_NAME_CHARS];  // JOBEVENT_JOBSTART only
    DWORD dwNup;
    BYTE Reserved[348];
} JobEventRequest;

static_assert(sizeof(JobEventRequest) == 1028, "JobEventRequest is 1028 bytes");
static_assert(offsetof(JobEventRequest, dwMessageID) == 4);
static_assert(offsetof(JobEventRequest, dwFlags) == 8);
static_assert(offsetof(JobEventRequest, wszPrnName) == 12);
static_assert(offsetof(JobEventRequest, wPadding) == 454);
static_assert(offsetof(JobEventRequest, dwJobId) == 456);
static_assert(offsetof(JobEventRequest, szPauName) == 460);
static_assert(offsetof(JobEventRequest, ClientJobId) == 484);
static_assert(offsetof(JobEventRequest, wszPortName) == 548);
static_assert(offsetof(JobEventRequest, dwNup) == 676);
static_assert(offsetof(JobEventRequest, Reserved) == 680);
