// Trace lines of the service, written through g_TraceLog with the source name of the file and the
// qualified name of the operation.
#pragma once

#include <cstdlib>
#include <cstring>

#include "TraceLog.h"

// Error kind of a plain "Error." line.
#define SVC_ERROR_GENERAL 0

#define SVC_TRACE(source, function, ...) g_TraceLog.vPrintMessage((source), (function), __VA_ARGS__)
#define SVC_ERROR(kind, source, function) g_TraceLog.vPrintError((kind), (source), (function))

inline const WCHAR* SvcBoolText(BOOL value)
{
    return value ? W("TRUE") : W("FALSE");
}

inline const WCHAR* SvcSuccessText(BOOL value)
{
    return value ? W("success") : W("error");
}

inline const WCHAR* SvcOnOffText(BOOL value)
{
    return value ? W("ON") : W("OFF");
}

// JobInfo1 (the first 8 characters of the job text) read as a hexadecimal number, for trace lines.
inline DWORD JobInfo1Number(const BYTE* jobText)
{
    char digits[9];
    memcpy(digits, jobText, 8);
    digits[8] = 0;
    return static_cast<DWORD>(strtoul(digits, nullptr, 16));
}
