// Hooks of the platform layer for tests; the system's own code never calls them.
//
// Injected clock:
//   palSetTestClock(&time)       GetLocalTime, GetSystemTime and GetSystemTimeAsFileTime return
//                                `time` (the test clock has no time-zone offset: local = UTC) and
//                                stand still until advanced. FALSE for an invalid SYSTEMTIME.
//   palSetTestTickCount(ticks)   GetTickCount64 returns `ticks` (GetTickCount its low 32 bits) and
//                                stands still until advanced.
//   palAdvanceTestClock(ms)      Moves the injected wall clock and tick count forward by ms.
//   palResetTestClock()          Back to the real clocks.
// Sleeps and waits are not affected: they keep taking real (scaled) time.
//
// Time scale:
//   palSetTimeScale(scale)       Replaces PAL_TIME_SCALE for this process (scale > 0, else FALSE).
//                                Tick counts continue from their current value at the new rate.
// Temporary folder:
//   palSetTempPath(path)         GetTempPath returns `path` (a Windows path ending in a backslash,
//                                created when asked for); NULL goes back to the default.
//
// Network events:
//   palReportCloseWithRead(enable)  While enabled, WSAEnumNetworkEvents reports a peer's close
//                                together with the FD_READ of the data still unread before it
//                                (normally FD_CLOSE waits until that data has been read).
//   palFailSends(error)          Every send() fails with the Windows Sockets error `error`, until
//                                called again with 0.
#pragma once

#include "pal/types.h"

extern "C" {
PAL_EXPORT BOOL palSetTestClock(const SYSTEMTIME* time);
PAL_EXPORT void palSetTestTickCount(ULONGLONG ticks);
PAL_EXPORT void palAdvanceTestClock(DWORD milliseconds);
PAL_EXPORT void palResetTestClock(void);
PAL_EXPORT BOOL palSetTimeScale(double scale);
PAL_EXPORT void palReportCloseWithRead(BOOL enable);
PAL_EXPORT void palFailSends(INT error);
PAL_EXPORT void palSetTempPath(LPCWSTR path);
}
