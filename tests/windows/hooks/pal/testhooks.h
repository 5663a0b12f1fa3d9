// The platform layer's test hooks that the tests' Windows build uses, over Windows itself: the
// test programs built for Windows include this in place of the platform layer's header.
//
//   palSetTestClock(&time)     GetLocalTime returns `time` and stands still; FALSE for an invalid
//                              SYSTEMTIME.
//   palResetTestClock()        Back to the real clock.
//   palSetDebugOutputCapture(capture, context)
//                              capture receives each string given to OutputDebugString, until
//                              replaced; NULL stops the capture. Calls are serialised; once this
//                              returns the previous capture is no longer called.
//   palSetModuleFileName(path) The path GetModuleFileNameW gives for the executable ("" makes it
//                              fail); NULL restores the real path.
//
// The clock and the module name reach the code under test through the test program's import
// table (that code is linked into the program): only calls made from the program itself see them.
// The debugger output is caught as the exception OutputDebugString raises for a debugger.
#pragma once

#include <windows.h>

typedef void (*PalDebugOutputCapture)(LPCWSTR text, void* context);

BOOL palSetTestClock(const SYSTEMTIME* time);
void palResetTestClock(void);
void palSetDebugOutputCapture(PalDebugOutputCapture capture, void* context);
void palSetModuleFileName(LPCWSTR path);
