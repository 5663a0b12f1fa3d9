// Threads, critical sections, interlocked operations, time and thread message queues.
#pragma once

#include "pal/errors.h"
#include "pal/handles.h"
#include "pal/types.h"

// ---- Threads

#define STILL_ACTIVE 259
#define STACK_SIZE_PARAM_IS_A_RESERVATION 0x00010000

typedef DWORD(WINAPI* LPTHREAD_START_ROUTINE)(LPVOID lpThreadParameter);
typedef LPTHREAD_START_ROUTINE PTHREAD_START_ROUTINE;

// A thread handle is signalled when the thread ends; closing it leaves the thread running. Thread
// ids are unique in the process and never 0. Creation flags other than
// STACK_SIZE_PARAM_IS_A_RESERVATION (e.g. CREATE_SUSPENDED) are refused with
// ERROR_INVALID_PARAMETER. ExitThread and _endthreadex unwind the calling thread's stack.
extern "C" {
PAL_EXPORT HANDLE CreateThread(LPSECURITY_ATTRIBUTES lpThreadAttributes, SIZE_T dwStackSize,
                               LPTHREAD_START_ROUTINE lpStartAddress, LPVOID lpParameter, DWORD dwCreationFlags,
                               LPDWORD lpThreadId);
// 0 on failure, with errno set.
PAL_EXPORT uintptr_t _beginthreadex(void* security, unsigned stack_size, unsigned(__stdcall* start_address)(void*),
                                    void* arglist, unsigned initflag, unsigned* thrdaddr);
[[noreturn]] PAL_EXPORT void _endthreadex(unsigned retval);
[[noreturn]] PAL_EXPORT void ExitThread(DWORD dwExitCode);
PAL_EXPORT DWORD GetCurrentThreadId(void);
// The pseudo handle (HANDLE)-2, understood by GetExitCodeThread.
PAL_EXPORT HANDLE GetCurrentThread(void);
PAL_EXPORT DWORD GetCurrentProcessId(void);
PAL_EXPORT BOOL GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode);
}

// ---- Critical sections (recursive) and interlocked operations

// Holds the recursive mutex itself, so a section may be embedded anywhere and needs no allocation.
// Like the Windows record it must not be copied or moved while initialised.
typedef struct _RTL_CRITICAL_SECTION {
    alignas(8) BYTE Opaque[40];
} CRITICAL_SECTION, *PCRITICAL_SECTION, *LPCRITICAL_SECTION, RTL_CRITICAL_SECTION;
static_assert(sizeof(CRITICAL_SECTION) == 40, "CRITICAL_SECTION has its Windows size");

extern "C" {
PAL_EXPORT void InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
// The spin count is accepted and ignored; always TRUE.
PAL_EXPORT BOOL InitializeCriticalSectionAndSpinCount(LPCRITICAL_SECTION lpCriticalSection, DWORD dwSpinCount);
PAL_EXPORT void EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
PAL_EXPORT BOOL TryEnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
PAL_EXPORT void LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
PAL_EXPORT void DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
}

// Full barriers, like the Windows functions. Each returns what Windows returns: the new value for
// increment and decrement, the old value for exchange, compare-exchange and exchange-add.
inline LONG InterlockedIncrement(LONG volatile* addend)
{
    return __atomic_add_fetch(addend, 1, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedDecrement(LONG volatile* addend)
{
    return __atomic_sub_fetch(addend, 1, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedExchange(LONG volatile* target, LONG value)
{
    return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedCompareExchange(LONG volatile* destination, LONG exchange, LONG comparand)
{
    __atomic_compare_exchange_n(destination, &comparand, exchange, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
    return comparand;
}
inline LONG InterlockedExchangeAdd(LONG volatile* addend, LONG value)
{
    return __atomic_fetch_add(addend, value, __ATOMIC_SEQ_CST);
}
inline LONGLONG InterlockedIncrement64(LONGLONG volatile* addend)
{
    return __atomic_add_fetch(addend, 1, __ATOMIC_SEQ_CST);
}
inline PVOID InterlockedExchangePointer(PVOID volatile* target, PVOID value)
{
    return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST);
}
inline PVOID InterlockedCompareExchangePointer(PVOID volatile* destination, PVOID exchange, PVOID comparand)
{
    __atomic_compare_exchange_n(destination, &comparand, exchange, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
    return comparand;
}

// ---- Time
// Sleeps and wait time-outs are multiplied by the platform's time scale (environment variable
// PAL_TIME_SCALE, default 1); tick counts advance 1/scale times as fast as real time, so elapsed
// ticks agree with scaled sleeps. Wall-clock time and the performance counter stay real.
// Tests may fix the clocks through pal/testhooks.h.

extern "C" {
PAL_EXPORT void Sleep(DWORD dwMilliseconds);
// No asynchronous procedure calls exist here: always returns 0.
PAL_EXPORT DWORD SleepEx(DWORD dwMilliseconds, BOOL bAlertable);
PAL_EXPORT DWORD GetTickCount(void);
PAL_EXPORT ULONGLONG GetTickCount64(void);
PAL_EXPORT void GetLocalTime(LPSYSTEMTIME lpSystemTime);
PAL_EXPORT void GetSystemTime(LPSYSTEMTIME lpSystemTime);
PAL_EXPORT void GetSystemTimeAsFileTime(LPFILETIME lpSystemTimeAsFileTime);
// wDayOfWeek is ignored on input; an invalid date or time fails with ERROR_INVALID_PARAMETER.
PAL_EXPORT BOOL SystemTimeToFileTime(const SYSTEMTIME* lpSystemTime, LPFILETIME lpFileTime);
PAL_EXPORT BOOL FileTimeToSystemTime(const FILETIME* lpFileTime, LPSYSTEMTIME lpSystemTime);
PAL_EXPORT BOOL QueryPerformanceCounter(LARGE_INTEGER* lpPerformanceCount);
PAL_EXPORT BOOL QueryPerformanceFrequency(LARGE_INTEGER* lpFrequency);
}

// ---- Thread message queues
// A thread's queue exists from its first PeekMessage, GetMessage or MsgWaitForMultipleObjects call
// and is freed when the thread ends. Only thread messages exist here (hwnd NULL): a window filter
// other than NULL or (HWND)-1 fails with ERROR_INVALID_WINDOW_HANDLE.

#define WM_NULL 0x0000
#define WM_QUIT 0x0012
#define WM_TIMER 0x0113
#define WM_USER 0x0400
#define WM_APP 0x8000

#define PM_NOREMOVE 0x0000
#define PM_REMOVE 0x0001
#define PM_NOYIELD 0x0002

#define QS_KEY 0x0001
#define QS_MOUSEMOVE 0x0002
#define QS_MOUSEBUTTON 0x0004
#define QS_POSTMESSAGE 0x0008
#define QS_TIMER 0x0010
#define QS_PAINT 0x0020
#define QS_SENDMESSAGE 0x0040
#define QS_HOTKEY 0x0080
#define QS_ALLPOSTMESSAGE 0x0100
#define QS_RAWINPUT 0x0400
#define QS_MOUSE (QS_MOUSEMOVE | QS_MOUSEBUTTON)
#define QS_INPUT (QS_MOUSE | QS_KEY | QS_RAWINPUT)
#define QS_ALLEVENTS (QS_INPUT | QS_POSTMESSAGE | QS_TIMER | QS_PAINT | QS_HOTKEY)
#define QS_ALLINPUT (QS_ALLEVENTS | QS_SENDMESSAGE)

#define MWMO_WAITALL 0x0001
#define MWMO_ALERTABLE 0x0002
#define MWMO_INPUTAVAILABLE 0x0004

// At most this many posted messages wait in one queue; a further post fails with
// ERROR_NOT_ENOUGH_QUOTA.
#define PAL_MESSAGE_QUEUE_LIMIT 10000

typedef struct tagMSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
} MSG, *PMSG, *LPMSG;
static_assert(sizeof(void*) != 8 || sizeof(MSG) == 48, "MSG has its Windows x64 size");

extern "C" {
PAL_EXPORT BOOL PostThreadMessageW(DWORD idThread, UINT Msg, WPARAM wParam, LPARAM lParam);
PAL_EXPORT BOOL PostThreadMessageA(DWORD idThread, UINT Msg, WPARAM wParam, LPARAM lParam);
// Blocks until a message in the range (0, 0 = all) is there; WM_QUIT passes every range. Returns 0
// for WM_QUIT, -1 on error, else non-zero.
PAL_EXPORT BOOL GetMessageW(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax);
PAL_EXPORT BOOL GetMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax);
PAL_EXPORT BOOL PeekMessageW(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax, UINT wRemoveMsg);
PAL_EXPORT BOOL PeekMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax, UINT wRemoveMsg);
// WM_QUIT (wParam = nExitCode) comes once no other message is waiting.
PAL_EXPORT void PostQuitMessage(int nExitCode);
// WAIT_OBJECT_0 + nCount when input of the wake mask arrived that is new since the thread last
// called PeekMessage or GetMessage. With bWaitAll the wait ends only when all handles are signalled
// and such input is there (WAIT_OBJECT_0). At most MAXIMUM_WAIT_OBJECTS - 1 handles.
PAL_EXPORT DWORD MsgWaitForMultipleObjects(DWORD nCount, const HANDLE* pHandles, BOOL fWaitAll,
                                           DWORD dwMilliseconds, DWORD dwWakeMask);
// dwFlags: MWMO_WAITALL, MWMO_ALERTABLE (no effect), MWMO_INPUTAVAILABLE (any waiting input counts).
PAL_EXPORT DWORD MsgWaitForMultipleObjectsEx(DWORD nCount, const HANDLE* pHandles, DWORD dwMilliseconds,
                                             DWORD dwWakeMask, DWORD dwFlags);
}

#define PostThreadMessage PostThreadMessageW
#define GetMessage GetMessageW
#define PeekMessage PeekMessageW
