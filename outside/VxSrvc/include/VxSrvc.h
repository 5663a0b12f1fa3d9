// VxSrvc: the runtime library under the protocol library: start and stop, memory, one-shot timers,
// message threads, the instance id, the tick, data files, INI integers, service ports, byte order.
// The protocol library imports these calls by ordinal on Windows; here they are exported by name
// and linked directly. Ordinals, for reference:
//   300 VxSrvcStartup          301 VxSrvcCleanup          310 VxSrvcAlloc          311 VxSrvcFree
//   321 VxSrvcStartTimer       322 VxSrvcCancelTimer      330 VxSrvcCreateMsgThread
//   331 VxSrvcDestroyMsgThread 334 VxSrvcPostMessage      335 VxSrvcGetInstanceId
//   364 VxSrvcFindDataFile     365 VxSrvcReadIniInt       421 VxSrvcHostToNet16
//   422 VxSrvcNetToHost16      423 VxSrvcHostToNet32      424 VxSrvcNetToHost32
//   435 VxSrvcGetTick          461 VxSrvcGetServicePort
// Results of type int32_t are 0 on success and negative on failure (VXSRVC_E_*).
#pragma once

#include <stddef.h>
#include <stdint.h>

#if !defined(_WIN32)
#define VXSRVC_API extern "C" __attribute__((visibility("default")))
#elif defined(VXSRVC_BUILD)
#define VXSRVC_API extern "C" __declspec(dllexport)
#else
#define VXSRVC_API extern "C"
#endif

#define VXSRVC_OK 0
#define VXSRVC_E_BAD_PARAMETER ((int32_t)0xC0100001u)
#define VXSRVC_E_NO_MEMORY ((int32_t)0xC0100002u)
#define VXSRVC_E_NOT_FOUND ((int32_t)0xC0100003u)  // unknown timer, thread or service
#define VXSRVC_E_TOO_LATE ((int32_t)0xC0100004u)   // the timer's callback has already started
#define VXSRVC_E_NO_THREAD ((int32_t)0xC0100005u)  // a thread could not be started

// ---- Start and stop

// application: the caller's global record (tagged "APPI"); kept, not read. Startup draws a fresh
// instance id. Cleanup cancels the timers not yet fired; message threads are the caller's to destroy.
// <root>/config/vxsrvc-startup scripts the start for tests: "fail" gives VXSRVC_E_NOT_FOUND, as a
// runtime that is not installed; "delay MS" waits MS milliseconds of the platform's clock first.
VXSRVC_API int32_t VxSrvcStartup(void* application);
VXSRVC_API void VxSrvcCleanup(void);

// ---- Memory

// Allocates size bytes (not zeroed). flags, reserved and context are 0 / null in every call.
VXSRVC_API void* VxSrvcAlloc(uint32_t flags, uint32_t size, uint32_t reserved, void* context);
VXSRVC_API void VxSrvcFree(void* block);

// ---- One-shot timers

// Timer handles are never 0 and never reused within a process.
typedef uint32_t VxSrvcTimer;
typedef void (*VxSrvcTimerProc)(VxSrvcTimer timer, uintptr_t parameter);

// Calls function(*timer, parameter) once, on the timer thread, delay ticks from now (0: at once).
// *timer is written before the callback can run.
VXSRVC_API int32_t VxSrvcStartTimer(VxSrvcTimer* timer, uint32_t delay, VxSrvcTimerProc function,
                                    uintptr_t parameter);
// Never blocks. VXSRVC_E_TOO_LATE once the callback has started (it then runs to its end),
// VXSRVC_E_NOT_FOUND for a handle that is unknown, cancelled or finished.
VXSRVC_API int32_t VxSrvcCancelTimer(VxSrvcTimer timer);

// ---- Message threads

typedef struct VxSrvcMsgThread* VxSrvcThread;
// Called on the thread for each posted message, in the order they were posted.
typedef intptr_t (*VxSrvcMsgProc)(VxSrvcThread thread, uint32_t message, uintptr_t wparam, void* record);

// Starts a thread with its own unbounded first-in first-out queue. threadId is non-zero and unique.
VXSRVC_API int32_t VxSrvcCreateMsgThread(VxSrvcThread* thread, uint32_t* threadId, VxSrvcMsgProc procedure);
// Stops the thread once the message it is handling (if any) is done and joins it; messages still
// queued are dropped (their records are the poster's concern). Called on the thread itself, it
// returns at once and the thread ends after the current message.
VXSRVC_API int32_t VxSrvcDestroyMsgThread(VxSrvcThread thread);
// Queues a message; never blocks. Fails only for a null thread or when memory runs out.
VXSRVC_API int32_t VxSrvcPostMessage(VxSrvcThread thread, uint32_t message, uintptr_t wparam, void* record);
// Lets the thread wait for a socket beside its messages, so that no other thread has to wake it
// for the socket's data: whenever the socket is readable (or has an error), the thread gets the
// message (message, wparam, null) once, and watches the socket again after its procedure has
// handled that message. Returns the watch (non-zero), or 0 when the socket cannot be watched.
VXSRVC_API uint32_t VxSrvcWatchSocket(VxSrvcThread thread, int socket, uint32_t message, uintptr_t wparam);
// Ends a watch, from any thread, before the socket is closed; a message of it that is already
// queued still comes. Nothing happens for a thread already destroyed or an unknown watch.
VXSRVC_API void VxSrvcUnwatchSocket(VxSrvcThread thread, uint32_t watch);

// ---- Identity, time, files

// A non-zero value, the same until VxSrvcCleanup; each VxSrvcStartup draws a new one.
VXSRVC_API int32_t VxSrvcGetInstanceId(uint64_t* id);
// Milliseconds of the platform's (scaled) tick count; wraps at 2^32.
VXSRVC_API uint32_t VxSrvcGetTick(void);
// Looks for fileName in <root>/config, then in the folder of the runtime module. Writes the path
// (terminated, at most size bytes) and returns non-zero when found; 0 when absent or too long.
VXSRVC_API int32_t VxSrvcFindDataFile(const char* fileName, char* path, uint32_t size);
// The integer value of key in [section] of the INI file at path (Windows INI rules), else def.
VXSRVC_API int32_t VxSrvcReadIniInt(const char* section, const char* key, int32_t def, const char* path);
// The port of a named service for protocol "tcp" or "udp", in network order. Looked up in
// <root>/config/services (services(5) format) when that file exists, else in the system's
// services database. Negative when unknown.
VXSRVC_API int32_t VxSrvcGetServicePort(const char* service, const char* protocol, uint16_t* port);

// ---- Byte order

VXSRVC_API uint16_t VxSrvcHostToNet16(uint16_t value);
VXSRVC_API uint16_t VxSrvcNetToHost16(uint16_t value);
VXSRVC_API uint32_t VxSrvcHostToNet32(uint32_t value);
VXSRVC_API uint32_t VxSrvcNetToHost32(uint32_t value);

// ---- Test hooks (never called by the system's own code)

// The count of blocks allocated and not yet freed, and a one-shot failure of the n-th allocation
// from now (1 = the next one; 0 disarms).
VXSRVC_API int64_t VxSrvcTestLiveBlocks(void);
VXSRVC_API void VxSrvcTestFailAllocation(uint32_t nth);
// Manual clock: the tick stands at `tick` until advanced; timers then fire only when an advance
// reaches their due time, on the advancing thread, in due order, before the advance returns.
VXSRVC_API void VxSrvcTestSetManualClock(uint32_t tick);
VXSRVC_API void VxSrvcTestAdvanceClock(uint32_t ticks);
// Back to the platform's tick; timers still pending keep their remaining delay.
VXSRVC_API void VxSrvcTestUseRealClock(void);
// Added to every tick the library reports (real or manual), to run near the 2^32 wrap.
VXSRVC_API void VxSrvcTestSetTickOffset(uint32_t offset);
// Timers started and neither fired, cancelled nor dropped by Cleanup.
VXSRVC_API uint32_t VxSrvcTestPendingTimers(void);
// While held, message threads created from now on keep their first message queued, unhandled,
// until VxSrvcTestReleaseHeldThreads (which also ends the hold).
VXSRVC_API void VxSrvcTestHoldNewThreads(void);
VXSRVC_API void VxSrvcTestReleaseHeldThreads(void);
// Message threads created and not yet destroyed.
VXSRVC_API uint32_t VxSrvcTestMsgThreads(void);
// Non-zero between VxSrvcStartup and VxSrvcCleanup.
VXSRVC_API int32_t VxSrvcTestStarted(void);
