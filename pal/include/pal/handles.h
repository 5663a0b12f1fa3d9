// Handles, events and waits.
#pragma once

#include "pal/errors.h"
#include "pal/types.h"

#define WAIT_OBJECT_0 0x00000000u
#define WAIT_ABANDONED 0x00000080u
#define WAIT_ABANDONED_0 0x00000080u
#define WAIT_IO_COMPLETION 0x000000C0u
#define WAIT_FAILED 0xFFFFFFFFu
#define MAXIMUM_WAIT_OBJECTS 64

#define SYNCHRONIZE 0x00100000L
#define EVENT_MODIFY_STATE 0x0002
#define EVENT_ALL_ACCESS 0x1F0003

extern "C" {
PAL_EXPORT BOOL CloseHandle(HANDLE hObject);

PAL_EXPORT HANDLE CreateEventW(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset, BOOL bInitialState,
                               LPCWSTR lpName);
PAL_EXPORT HANDLE CreateEventA(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset, BOOL bInitialState,
                               LPCSTR lpName);
PAL_EXPORT BOOL SetEvent(HANDLE hEvent);
PAL_EXPORT BOOL ResetEvent(HANDLE hEvent);

PAL_EXPORT DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds);
PAL_EXPORT DWORD WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll, DWORD dwMilliseconds);
}
#define CreateEvent CreateEventW
