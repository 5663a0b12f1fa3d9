// JTRKCLIB: the printer client library. Ten exports turn questions about a printer (device state,
// the fate of a job, cancelling a job, job events) into DMLP request sequences through VxDmlp.
// Every export runs synchronously on the caller's thread and keeps no state between calls; the
// protocol-library instance and the device binding are the caller's and are passed in each time.
#pragma once

#include <stddef.h>

#include <windows.h>

#include "jtrkplatform.h"

#include "ClientJobId.h"
#include "VxDmlp.h"

#ifndef JTRKCLIB_API
#define JTRKCLIB_API JTRK_EXPORT
#endif

// ---- Result codes ---------------------------------------------------------------------------------

// (phase << 16) | status: the status is the DmlpStatus of the last step (1 is success) or one of
// the library's own statuses below; the phase names the step that produced it.
typedef DWORD DMLLIB_RESULTCODE;

#define DMLLIB_MAKE_RESULT(phase, status) ((DMLLIB_RESULTCODE)(((DWORD)(phase) << 16) | (WORD)(status)))
#define DMLLIB_RESULT_PHASE(code) ((BYTE)((DWORD)(code) >> 16))
#define DMLLIB_RESULT_STATUS(code) ((WORD)((DWORD)(code) & 0xFFFF))

typedef enum DMLLIB_PHASE {
    DMLLIB_PHASE_START = 1,           // object created, nothing sent
    DMLLIB_PHASE_BIND = 3,
    DMLLIB_PHASE_UNBIND = 4,
    DMLLIB_PHASE_RELEASEPARAM = 5,    // release of an event parameter block
    DMLLIB_PHASE_FREEMEMORY = 6,      // release of a result's memory
    DMLLIB_PHASE_ECHO = 7,
    DMLLIB_PHASE_TRACEJOB = 8,
    DMLLIB_PHASE_CANCELJOB = 9,
    DMLLIB_PHASE_GET2 = 10,
    DMLLIB_PHASE_LISTOBJECTS2 = 11,
    DMLLIB_PHASE_SUBSCRIBE = 12,
    DMLLIB_PHASE_SUBSCRIBE2 = 13,
    DMLLIB_PHASE_UNSUBSCRIBE = 14,
    DMLLIB_PHASE_UNSUBSCRIBE2 = 15,
} DMLLIB_PHASE;

// Statuses of the library's own making.
#define DMLPLIBERR_OTHER_ERROR 0xFFFF  // a reply lacks what was asked for, or no matching job object
#define DMLPLIBERR_NO_BINDING 0xFFF0   // no binding: the printer's device address could not be obtained,
                                       // or the flow was given none
#define DMLPLIBERR_NOT_CALLED 6        // a protocol wrapper whose request or result was missing

// Whole result codes with a fixed meaning.
#define DMLLIB_RESULT_NO_INSTANCE 0x0000FFFFu   // hAplh missing
#define DMLLIB_RESULT_BAD_ARGUMENT 0x0001FFFFu  // another required argument missing, or no operation object
#define DMLLIB_RESULT_EXCEPTION 0x0000FFFEu     // an exception was caught inside the export
#define DMLLIB_RESULT_NOT_BOUND 0x0001FFF0u     // a flow that needs a binding was given none; nothing sent
#define DMLLIB_RESULT_CHECKED 0x00010001u       // DMLLIB_CheckDevice: the object's start code

// ---- Trace result byte (DMLLIB_TraceJob) --------------------------------------------------------------

#define DMLLIB_TRACE_FAILED 0       // failure, or the device reports job state 1
#define DMLLIB_TRACE_COMPLETED 1    // device job state 9, or the job log says completion id 1
#define DMLLIB_TRACE_CANCELLED 2    // the job log says completion id 6
#define DMLLIB_TRACE_PROCESSING 3   // still in progress at the device, or the device did not answer in time
#define DMLLIB_TRACE_UNKNOWN 4      // unknown at the device and not in its job log
#define DMLLIB_TRACE_INCOMPLETE 5   // inside the flow only; reported as DMLLIB_TRACE_PROCESSING

// ---- DMLLIB_SubscribeEvent modes --------------------------------------------------------------------

#define DMLLIB_EVENT_SUBSCRIBE 0    // bind when the binding pointer holds NULL, then subscribe
#define DMLLIB_EVENT_UNSUBSCRIBE 1  // unsubscribe, then unbind
#define DMLLIB_EVENT_RELEASE 2      // release an event block (the pointer the callback received)

// ---- Device status record (DMLLIB_GetStatusInfo) -------------------------------------------------

typedef struct _StatusInfo {
    BYTE byOnline;      // the device's online value; 3 = offline
    DWORD lStatusCode;  // the status code chosen for the device and the job
    DWORD ImprCompCnt;  // impressions completed of the job with the count option, else 0
} StatusInfo;
static_assert(sizeof(StatusInfo) == 12, "StatusInfo is 12 bytes");
static_assert(offsetof(StatusInfo, byOnline) == 0 && offsetof(StatusInfo, lStatusCode) == 4 &&
                  offsetof(StatusInfo, ImprCompCnt) == 8,
              "StatusInfo offsets");

// ---- Exports (by name; ordinals in alphabetical order) ---------------------------------------------
//   1 DMLLIB_CancelJob        2 DMLLIB_CheckDevice     3 DMLLIB_GetClientJobID
//   4 DMLLIB_GetStatusInfo    5 DMLLIB_Initialize      6 DMLLIB_ReleaseBuff
//   7 DMLLIB_ResetBind        8 DMLLIB_SubscribeEvent  9 DMLLIB_Terminate
//  10 DMLLIB_TraceJob
//
// lpPrinterName is the name of the printer's port as the port monitor knows it. A count option
// (nCountOption non-zero) asks for the impression count as well.

#ifdef __cplusplus
extern "C" {
#endif

JTRKCLIB_API DMLLIB_RESULTCODE DMLLIB_CancelJob(DmlpInstance hAplh, const WCHAR* lpPrinterName, const ClJobID* pClJobID,
                                                DmlpBinding hBind);
JTRKCLIB_API DMLLIB_RESULTCODE DMLLIB_CheckDevice(DmlpInstance hAplh, const WCHAR* lpPrinterName);
JTRKCLIB_API DMLLIB_RESULTCODE DMLLIB_GetClientJobID(DmlpInstance hAplh, const WCHAR* lpPrinterName, DWORD hObject,
                                                     ClJobID* ClientJobID, DmlpBinding hBind);
JTRKCLIB_API DMLLIB_RESULTCODE DMLLIB_GetStatusInfo(DmlpInstance hAplh, const WCHAR* lpPrinterName,
                                                    const ClJobID* pClJobID, StatusInfo* lpstStatusInfo,
                                                    DmlpBinding hBind, int nCountOption);
JTRKCLIB_API BOOL DMLLIB_Initialize(DmlpInstance* phAplh);
// pReleaseParamBuff: the event pointer the callback received (the handed-out part of the block).
JTRKCLIB_API DMLLIB_RESULTCODE DMLLIB_ReleaseBuff(DmlpInstance hAplh, const WCHAR* lpPrinterName,
                                                  void* pReleaseParamBuff);
// Bare status: 1 rebound, 0 binding untouched (device silent or address not obtained), other: the
// DMLP_Bind status (the binding written back is then NULL). wLocalPort: the local UDP port number.
JTRKCLIB_API DWORD DMLLIB_ResetBind(DmlpInstance hAplh, const WCHAR* lpPrinterName, DmlpBinding* phBind,
                                    WORD wLocalPort);
JTRKCLIB_API DMLLIB_RESULTCODE DMLLIB_SubscribeEvent(DmlpInstance hAplh, const WCHAR* lpPrinterName, BYTE byMode,
                                                     const DmlpCallback* pCallback, DmlpBinding* phBind,
                                                     void* pReleaseParamBuff, int nCountOption);
JTRKCLIB_API BOOL DMLLIB_Terminate(DmlpInstance hAplh);
JTRKCLIB_API DMLLIB_RESULTCODE DMLLIB_TraceJob(DmlpInstance hAplh, const WCHAR* lpPrinterName, const ClJobID* pClJobID,
                                               BYTE* pbyRtnTrace, DmlpBinding hBind, DWORD* ImprCompCnt,
                                               int nCountOption);

#ifdef __cplusplus
}
#endif
