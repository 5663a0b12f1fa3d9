// Debugger output.
//
// OutputDebugString goes nowhere unless a sink is switched on:
// - the environment variable PAL_DEBUG_OUTPUT names a Linux file that every string is appended to
//   ("-" means standard error);
// - otherwise, when the file <root>/debug-output.log exists in the platform root, strings are
//   appended to it (create the empty file to switch the whole installation's output on);
// - a capture set with palSetDebugOutputCapture receives every string as well.
// Files get each string in UTF-8, followed by a line feed unless it ends in one, in one write, so
// that strings of several processes never mix.
#pragma once

#include "pal/types.h"

typedef void (*PalDebugOutputCapture)(LPCWSTR text, void* context);

extern "C" {
PAL_EXPORT void OutputDebugStringW(LPCWSTR lpOutputString);
// Converted from the ANSI code page.
PAL_EXPORT void OutputDebugStringA(LPCSTR lpOutputString);

// Test hook: capture receives each string, as given to OutputDebugStringW, until replaced; NULL
// stops the capture. Calls are serialised; once this returns the previous capture is no longer
// called.
PAL_EXPORT void palSetDebugOutputCapture(PalDebugOutputCapture capture, void* context);
}

#define OutputDebugString OutputDebugStringW
