// Log lines, user messages, the result file and the small helpers every action shares.
#include <cstdarg>

#include "jtrkutil.h"

#define RESULT_FILE_NAME W("JTRKSetup.ini")
#define RESULT_FOLDER_MAX 1024

void UtilLog(MSIHANDLE session, LPCWSTR format, ...)
{
    if (session == 0)
        return;
    WCHAR text[1024];
    va_list args;
    va_start(args, format);
    StringCchVPrintfW(text, 1024, format, args);
    va_end(args);
    MSIHANDLE record = MsiCreateRecord(0);
    MsiRecordSetStringW(record, 0, text);
    MsiProcessMessage(session, INSTALLMESSAGE_INFO, record);
    MsiCloseHandle(record);
}

int UtilShowMessage(MSIHANDLE session, UINT id, INSTALLMESSAGE type)
{
    WCHAR text[1024] = {};
    HMODULE module = NULL;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       (LPCWSTR)(void*)&UtilShowMessage, &module);
    LoadStringW(module, id, text, 1024);
    MSIHANDLE record = MsiCreateRecord(0);
    MsiRecordSetStringW(record, 0, text);
    int answer = MsiProcessMessage(session, type, record);
    MsiCloseHandle(record);
    return answer;
}

// TEMP, else TMP (each at most 1023 characters); FALSE when neither names a folder.
static BOOL ResultFilePath(LPWSTR path, DWORD size)
{
    WCHAR folder[RESULT_FOLDER_MAX];
    DWORD length = GetEnvironmentVariableW(W("TEMP"), folder, RESULT_FOLDER_MAX);
    if (length == 0 || length >= RESULT_FOLDER_MAX)
        length = GetEnvironmentVariableW(W("TMP"), folder, RESULT_FOLDER_MAX);
    if (length == 0 || length >= RESULT_FOLDER_MAX)
        return FALSE;
    LPCWSTR separator = folder[length - 1] == W('\\') ? W("") : W("\\");
    return SUCCEEDED(StringCchPrintfW(path, size, W("%ls%ls%ls"), folder, separator, RESULT_FILE_NAME));
}

void UtilWriteResult(MSIHANDLE session, LPCWSTR section, LPCWSTR key, int value)
{
    WCHAR path[RESULT_FOLDER_MAX + 16];
    if (!ResultFilePath(path, RESULT_FOLDER_MAX + 16))
        return;
    if (GetPrivateProfileIntW(section, key, 0, path) != 0)
        return;
    WCHAR digit[2] = {(WCHAR)(W('0') + value), 0};
    if (WritePrivateProfileStringW(section, key, digit, path))
        UtilLog(session, W("<%ls> %ls=%ls"), path, key, digit);
}

void UtilWriteResultCode(MSIHANDLE session, int value)
{
    UtilWriteResult(session, W("ResponseResult"), W("ResultCode"), value);
}

void UtilCustomActionField(MSIHANDLE session, int index, LPWSTR field, DWORD size)
{
    WCHAR data[UTIL_CUSTOM_ACTION_DATA_MAX] = {};
    DWORD count = UTIL_CUSTOM_ACTION_DATA_MAX;
    field[0] = 0;
    if (MsiGetPropertyW(session, W("CustomActionData"), data, &count) != ERROR_SUCCESS)
        return;
    LPCWSTR start = data;
    for (int i = 0; i < index; ++i) {
        while (*start && *start != W(','))
            ++start;
        if (*start == 0)
            return;
        ++start;
    }
    DWORD length = 0;
    while (start[length] && start[length] != W(','))
        ++length;
    if (length >= size)
        return;
    for (DWORD i = 0; i < length; ++i)
        field[i] = start[i];
    field[length] = 0;
}

static WCHAR AsciiUpper(WCHAR c)
{
    return c >= W('a') && c <= W('z') ? (WCHAR)(c - 32) : c;
}

BOOL UtilStartsWith(LPCWSTR text, LPCWSTR prefix)
{
    if (text == NULL || prefix == NULL)
        return FALSE;
    for (; *prefix; ++prefix, ++text)
        if (AsciiUpper(*text) != AsciiUpper(*prefix))
            return FALSE;
    return TRUE;
}

BOOL UtilSameName(LPCWSTR a, LPCWSTR b)
{
    return a && b && UtilStartsWith(a, b) && a[lstrlenW(b)] == 0;
}

// Size query, then the call into a LocalAlloc block.
template <typename Call>
static DWORD EnumInto(Call call, LPBYTE* buffer, DWORD* count)
{
    DWORD needed = 0;
    *buffer = NULL;
    *count = 0;
    if (call(NULL, 0, &needed, count))
        return ERROR_SUCCESS;
    DWORD error = GetLastError();
    if (error != ERROR_INSUFFICIENT_BUFFER)
        return error;
    *buffer = (LPBYTE)LocalAlloc(LPTR, needed);
    if (*buffer == NULL)
        return ERROR_NOT_ENOUGH_MEMORY;
    if (call(*buffer, needed, &needed, count))
        return ERROR_SUCCESS;
    error = GetLastError();
    LocalFree(*buffer);
    *buffer = NULL;
    *count = 0;
    return error;
}

DWORD UtilEnumPorts(PORT_INFO_2W** ports, DWORD* count)
{
    return EnumInto([](LPBYTE b, DWORD s, LPDWORD n, LPDWORD c) { return EnumPortsW(NULL, 2, b, s, n, c); },
                    (LPBYTE*)ports, count);
}

DWORD UtilEnumPrinters(PRINTER_INFO_2W** printers, DWORD* count)
{
    return EnumInto(
        [](LPBYTE b, DWORD s, LPDWORD n, LPDWORD c) { return EnumPrintersW(PRINTER_ENUM_LOCAL, NULL, 2, b, s, n, c); },
        (LPBYTE*)printers, count);
}

BOOL UtilIsSpecialPort(const PORT_INFO_2W* ports, DWORD count, LPCWSTR name)
{
    for (DWORD i = 0; i < count; ++i)
        if (UtilSameName(ports[i].pPortName, name) && UtilStartsWith(ports[i].pMonitorName, UTIL_SPECIAL_MONITOR_PREFIX))
            return TRUE;
    return FALSE;
}
