// Entry and exit lines of the monitor's functions on the debugger output.
#include "jtrkmon.h"

#define TRACE_LINE_LEN 128

static void TraceLine(LPCWSTR pszFunction, LPCWSTR pszSuffix, LPCWSTR pszResult)
{
    WCHAR szLine[TRACE_LINE_LEN];
    StringCchCopyW(szLine, _countof(szLine), pszFunction);
    StringCchCatW(szLine, _countof(szLine), pszSuffix);
    if (pszResult) {
        StringCchCatW(szLine, _countof(szLine), pszResult);
        StringCchCatW(szLine, _countof(szLine), W(")"));
    }
    OutputDebugStringW(szLine);
}

void MonTraceIn(LPCWSTR pszFunction)
{
    TraceLine(pszFunction, W(" IN"), NULL);
}

BOOL MonTraceOutBool(LPCWSTR pszFunction, BOOL bResult)
{
    TraceLine(pszFunction, W(" OUT("), bResult ? W("TRUE") : W("FALSE"));
    return bResult;
}

DWORD MonTraceOutCode(LPCWSTR pszFunction, DWORD dwCode)
{
    WCHAR szDigits[11];
    WCHAR* p = szDigits + _countof(szDigits) - 1;
    *p = W('\0');
    DWORD dwRest = dwCode;
    do {
        *--p = (WCHAR)(W('0') + dwRest % 10);
        dwRest /= 10;
    } while (dwRest);
    TraceLine(pszFunction, W(" OUT("), p);
    return dwCode;
}
