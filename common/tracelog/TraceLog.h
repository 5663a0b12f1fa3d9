// The debug trace of the service and the client library: settings from section [LogOutput] of the
// host program's INI file, lines to the debugger output or appended to a capped log file.
#pragma once

#include <windows.h>

#include "jtrkplatform.h"

enum TraceMarker : BYTE {
    TRACE_MARKER_FUNCTION_IN = 1,
    TRACE_MARKER_FUNCTION_OUT = 2,
    TRACE_MARKER_EOF = 3,
    TRACE_MARKER_ERROR = 4,
    TRACE_MARKER_MESSAGE = 5,
};

// Kinds of vPrintError.
enum TraceErrorKind : BYTE {
    TRACE_ERROR_MEMORY = 1,
    TRACE_ERROR_EXCEPTION = 2,
    TRACE_ERROR_PARAMETER = 3,
};

#define TRACELOG_PATH_CHARS 260
#define TRACELOG_MESSAGE_CHARS 1024

class clTraceLog {
public:
    clTraceLog();
    ~clTraceLog();
    clTraceLog(const clTraceLog&) = delete;
    clTraceLog& operator=(const clTraceLog&) = delete;

    // An information line (level 3).
    void vPrintMessage(const char* sourceFile, const char* function, const WCHAR* format, ...);
    // An error line, at any enabled level.
    void vPrintError(BYTE kind, const char* sourceFile, const char* function);
    // Function entry/exit hook: built without the hook, so it writes nothing.
    void vTraceFunction(const WCHAR* message, BYTE level, BYTE kind, const char* sourceFile, const char* function);

    BOOL bEnabled() const { return m_dwEnabled != 0; }

private:
    BOOL bReadSetting();
    void vWriteLine(BYTE marker, const char* sourceFile, const char* function, const WCHAR* message);
    void vWriteFileLine(BYTE marker, const WCHAR* text);

    BYTE Level;
    BYTE Out;
    WCHAR LogFile[TRACELOG_PATH_CHARS];
    DWORD MaxFileSize;
    DWORD m_dwEnabled;
};

// The INI path of the host program: its executable's path with the extension ".ini".
BOOL GetModuleIniPath(WCHAR* path, DWORD size);

extern clTraceLog g_TraceLog;
