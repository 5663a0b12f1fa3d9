// Entry and exit lines of the UI's functions on the debugger output.
#include "jtrkmnui.h"

#define TRACE_LINE_LEN 128

static void TraceLine(LPCWSTR pszFunction, LPCWSTR pszSuffix)
{
    WCHAR szLine[TRACE_LINE_LEN];
    StringCchCopyW(szLine, _countof(szLine), pszFunction);
    StringCchCatW(szLine, _countof(szLine), pszSuffix);
    OutputDebugStringW(szLine);
}

void UiTraceIn(LPCWSTR pszFunction)
{
    TraceLine(pszFunction, W(" IN"));
}

BOOL UiTraceOutBool(LPCWSTR pszFunction, BOOL bResult)
{
    TraceLine(pszFunction, bResult ? W(" OUT(TRUE)") : W(" OUT(FALSE)"));
    return bResult;
}
