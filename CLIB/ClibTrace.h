// Trace lines of the client library, written through its module's g_TraceLog.
#pragma once

#include "TraceLog.h"

// Error kind of a plain "Error." line.
#define CLIB_ERROR_GENERAL 0

#define CLIB_TRACE(...) g_TraceLog.vPrintMessage(__FILE__, __func__, __VA_ARGS__)
#define CLIB_ERROR(kind) g_TraceLog.vPrintError((kind), __FILE__, __func__)

inline const WCHAR* ClibBoolText(BOOL value)
{
    return value ? W("TRUE") : W("FALSE");
}
