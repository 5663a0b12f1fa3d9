// The tracking service JTRKSVC2: its service main with the ordered start-up and shutdown, the
// control handler and status reports.
#pragma once

#include <windows.h>

#include "jtrkplatform.h"

#include "ServiceContext.h"

#define JTRK_PORT_DESCRIPTION W("TALLY-DESK Output Beacon Port2")

void WINAPI JTRKServiceMain(DWORD argc, LPWSTR* argv);
DWORD WINAPI JTRKServiceCtrlHandlerEx(DWORD control, DWORD eventType, LPVOID eventData, LPVOID context);
BOOL JTRKReportStatus(SERVICE_STATUS_HANDLE* status, DWORD state, DWORD checkPoint, DWORD waitHint);

// The program's entry: the dispatcher table {"JTRKSVC2", JTRKServiceMain}; a failed dispatcher
// writes 0xC0000001. Always 0.
int JTRKServiceEntry();
