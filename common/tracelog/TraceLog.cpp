#include "TraceLog.h"

#include <cstdarg>
#include <cstring>
#include <string>

namespace {

const WCHAR kSection[] = W("LogOutput");
const WCHAR kMissingLogFile[] = W("Error");
const WCHAR kOverCapText[] = W("--- Over MaxFileSize ---\n");
// Time stamp (16) and the longest marker (9), with room to spare, as the line buffer has always had.
const size_t kLinePrefixChars = 27;
const size_t kSplitChars = 256;
const size_t kDriveChars = 3;
const BYTE kHighestLevel = 3;
const DWORD kDefaultMaxFileSizeKB = 1024;

const WCHAR* markerText(BYTE marker)
{
    switch (marker) {
    case TRACE_MARKER_FUNCTION_IN: return W("--->[FNC]");
    case TRACE_MARKER_FUNCTION_OUT: return W("<---[FNC]");
    case TRACE_MARKER_EOF: return W("[EOF]");
    case TRACE_MARKER_ERROR: return W("[ERR]");
    case TRACE_MARKER_MESSAGE: return W("[CSM]");
    default: return nullptr;
    }
}

const WCHAR* errorText(BYTE kind)
{
    switch (kind) {
    case TRACE_ERROR_MEMORY: return W("Memory Allocate Error.");
    case TRACE_ERROR_EXCEPTION: return W("Exception Error.");
    case TRACE_ERROR_PARAMETER: return W("Check Parameter Error.");
    default: return W("Error.");
    }
}

bool appendAnsi(WString& out, const char* text)
{
    int chars = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (chars <= 0)
        return false;
    WString wide(static_cast<size_t>(chars), W('\0'));
    if (MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), chars) != chars)
        return false;
    wide.resize(static_cast<size_t>(chars) - 1);
    out += wide;
    return true;
}

// The file name after the last folder separator: the compiler's __FILE__ carries '/' here and
// '\\' on Windows.
const char* baseName(const char* path)
{
    const char* slash = strrchr(path, '\\');
    const char* forward = strrchr(path, '/');
    if (!slash || (forward && forward > slash))
        slash = forward;
    return slash ? slash + 1 : path;
}

// "function(file.cpp) message\r\n"; false when a conversion fails.
bool buildText(WString& text, const char* sourceFile, const char* function, const WCHAR* message)
{
    if (!appendAnsi(text, function))
        return false;
    text += W('(');
    if (!appendAnsi(text, baseName(sourceFile)))
        return false;
    text += W(')');
    if (message && message[0]) {
        text += W(' ');
        text += message;
    }
    text += W("\r\n");
    return true;
}

WString timeStamp()
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    WCHAR stamp[17];
    if (_snwprintf_s(stamp, 17, _TRUNCATE, W("[%02u/%02u %02u:%02u:%02u]"), now.wMonth, now.wDay, now.wHour,
                     now.wMinute, now.wSecond) < 0)
        return {};
    return stamp;
}

bool writeAnsi(HANDLE file, const WString& line)
{
    int length = static_cast<int>(line.size());
    int bytes = WideCharToMultiByte(CP_ACP, 0, line.data(), length, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0)
        return false;
    std::string ansi(static_cast<size_t>(bytes), '\0');
    if (WideCharToMultiByte(CP_ACP, 0, line.data(), length, ansi.data(), bytes, nullptr, nullptr) != bytes)
        return false;
    DWORD written = 0;
    return WriteFile(file, ansi.data(), static_cast<DWORD>(bytes), &written, nullptr) && written == DWORD(bytes);
}

ULONGLONG fileSize(HANDLE file)
{
    DWORD high = 0;
    DWORD low = GetFileSize(file, &high);
    return (static_cast<ULONGLONG>(high) << 32) | low;
}

} // namespace

clTraceLog g_TraceLog;

clTraceLog::clTraceLog() : Level(0), Out(0), LogFile{}, MaxFileSize(0), m_dwEnabled(0)
{
    if (bReadSetting() && Level != 0)
        m_dwEnabled = 1;
}

clTraceLog::~clTraceLog() = default;

BOOL clTraceLog::bReadSetting()
{
    WCHAR iniPath[MAX_PATH];
    if (!GetModuleIniPath(iniPath, MAX_PATH))
        return FALSE;

    UINT level = GetPrivateProfileIntW(kSection, W("Level"), 0, iniPath);
    if (level < 1 || level > kHighestLevel)
        return FALSE;
    UINT out = GetPrivateProfileIntW(kSection, W("Out"), 0, iniPath);
    if (out == 0) {
        Level = static_cast<BYTE>(level);
        Out = 0;
        return TRUE;
    }
    if (out != 1)
        return FALSE;

    WCHAR logFile[TRACELOG_PATH_CHARS];
    DWORD copied = GetPrivateProfileStringW(kSection, W("LogFile"), kMissingLogFile, logFile, TRACELOG_PATH_CHARS,
                                            iniPath);
    if (copied == 0 || copied >= TRACELOG_PATH_CHARS - 1 || lstrcmpiW(logFile, kMissingLogFile) == 0)
        return FALSE;
    UINT maxFileSize = GetPrivateProfileIntW(kSection, W("MaxFileSize"), kDefaultMaxFileSizeKB, iniPath);
    if (maxFileSize == 0)
        return FALSE;

    lstrcpynW(LogFile, logFile, TRACELOG_PATH_CHARS);
    Level = static_cast<BYTE>(level);
    Out = 1;
    MaxFileSize = maxFileSize;
    return TRUE;
}

void clTraceLog::vPrintMessage(const char* sourceFile, const char* function, const WCHAR* format, ...)
{
    if (!m_dwEnabled || Level < kHighestLevel || !sourceFile || !function || !format)
        return;
    WCHAR message[TRACELOG_MESSAGE_CHARS];
    va_list args;
    va_start(args, format);
    int length = _vsnwprintf_s(message, TRACELOG_MESSAGE_CHARS, _TRUNCATE, format, args);
    va_end(args);
    if (length < 0)
        return; // too long or malformed: the whole line is dropped
    vWriteLine(TRACE_MARKER_MESSAGE, sourceFile, function, message);
}

void clTraceLog::vPrintError(BYTE kind, const char* sourceFile, const char* function)
{
    if (!m_dwEnabled || !sourceFile || !function)
        return;
    vWriteLine(TRACE_MARKER_ERROR, sourceFile, function, errorText(kind));
}

void clTraceLog::vTraceFunction(const WCHAR*, BYTE, BYTE, const char*, const char*)
{
}

void clTraceLog::vWriteLine(BYTE marker, const char* sourceFile, const char* function, const WCHAR* message)
{
    const WCHAR* markerString = markerText(marker);
    if (!markerString)
        return;
    WString text;
    if (!buildText(text, sourceFile, function, message))
        return;
    if (Out == 0) {
        WString line = markerString + text;
        OutputDebugStringW(line.c_str());
        return;
    }
    vWriteFileLine(marker, text.c_str());
}

// One open per line; the file is opened for appending so that lines of several writers (threads,
// modules, processes) never overwrite each other.
void clTraceLog::vWriteFileLine(BYTE marker, const WCHAR* text)
{
    HANDLE file = CreateFileW(LogFile, FILE_APPEND_DATA, FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    const ULONGLONG cap = static_cast<ULONGLONG>(MaxFileSize) * 1024;
    const ULONGLONG sizeBefore = fileSize(file);
    if (sizeBefore < cap) {
        WString stamp = timeStamp();
        size_t textChars = std::char_traits<WCHAR>::length(text) + 1;
        if (!stamp.empty() && writeAnsi(file, stamp + markerText(marker) + text) &&
            sizeBefore + textChars + kLinePrefixChars >= cap)
            writeAnsi(file, stamp + markerText(TRACE_MARKER_EOF) + kOverCapText);
    }
    CloseHandle(file);
}

BOOL GetModuleIniPath(WCHAR* path, DWORD size)
{
    if (!path)
        return FALSE;
    WCHAR modulePath[MAX_PATH];
    if (GetModuleFileNameW(nullptr, modulePath, MAX_PATH) == 0)
        return FALSE;
    WCHAR drive[kDriveChars], directory[kSplitChars], fileName[kSplitChars], extension[kSplitChars];
    if (_wsplitpath_s(modulePath, drive, kDriveChars, directory, kSplitChars, fileName, kSplitChars, extension,
                      kSplitChars) != 0)
        return FALSE;
    return _wmakepath_s(path, size, drive, directory, fileName, W(".ini")) == 0;
}
