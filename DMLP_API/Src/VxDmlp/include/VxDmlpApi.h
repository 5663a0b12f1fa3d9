// VxDmlpApi: the exported DMLP_* functions of VxDmlp.so. Every export returns a DmlpStatus.
// Callers import by name, or by ordinal through GetProcAddress: the rows below give the ordinals
// (the module-definition file of the Windows build, the ordinal table over the platform layer).
#pragma once

#include <stdint.h>

#include "VxDmlp.h"
#include "VxDmlpParams.h"
#include "VxDmlpResults.h"

// On Windows the module-definition file names the exports.
#ifdef _WIN32
#define VXDMLP_VISIBLE
#else
#define VXDMLP_VISIBLE __attribute__((visibility("default")))
#endif
#ifdef __cplusplus
#define VXDMLP_API extern "C" VXDMLP_VISIBLE
#else
#define VXDMLP_API VXDMLP_VISIBLE
#endif

// The only interface version DMLP_Initialize accepts.
#define DMLP_INTERFACE_VERSION 16

// Request modes.
#define DMLP_MODE_SYNC 1
#define DMLP_MODE_ASYNC 2

// DMLP_GetEPAddress: which address of the binding.
#define DMLP_EP_PEER 1
#define DMLP_EP_LOCAL 2

// ---- Library, bindings, memory -------------------------------------------------------------------

VXDMLP_API DmlpStatus DMLP_Initialize(uint8_t version, void* reserved, DmlpInstance* instance);
VXDMLP_API DmlpStatus DMLP_Terminate(DmlpInstance instance);

// local may be null. DMLP_Bind waits for the connection; the handle is written before the
// worker sees the request and is NULL again when the bind fails.
VXDMLP_API DmlpStatus DMLP_Bind(DmlpInstance instance, const DmlpAddress* peer, const DmlpAddress* local,
                                const DmlpEPProperty* property, DmlpBinding* binding);
// The outcome comes through callback (kind 10) with method 0.
VXDMLP_API DmlpStatus DMLP_BindAsync(const DmlpCallback* callback, DmlpInstance instance, const DmlpAddress* peer,
                                     const DmlpAddress* local, const DmlpEPProperty* property,
                                     DmlpBinding* binding);
VXDMLP_API DmlpStatus DMLP_Unbind(DmlpBinding binding);
VXDMLP_API DmlpStatus DMLP_UnbindAsync(const DmlpCallback* callback, DmlpBinding binding);

VXDMLP_API DmlpStatus DMLP_FreeMemory(DmlpBuffer* buffer);
VXDMLP_API DmlpStatus DMLP_AllocMemory(uint32_t size, DmlpBuffer* buffer);
// Releases what a callback handed out (a DmlpParamBlock's handed-out part).
VXDMLP_API DmlpStatus DMLP_ReleaseParam(void* param);

// which: DMLP_EP_PEER or DMLP_EP_LOCAL.
VXDMLP_API DmlpStatus DMLP_GetEPAddress(DmlpBinding binding, uint8_t which, DmlpAddress* address);
VXDMLP_API DmlpStatus DMLP_GetEPProperty(DmlpBinding binding, DmlpEPProperty* property);
VXDMLP_API DmlpStatus DMLP_SetEPProperty(DmlpBinding binding, const DmlpEPProperty* property);
// Datagram bindings only; size 0 becomes 1, above 32 becomes 32.
VXDMLP_API DmlpStatus DMLP_ResizeWindow(DmlpBinding binding, uint32_t size);

// ---- Events and discovery --------------------------------------------------------------------------

// The plain variants register through AppendToList / DeleteFromList, the "2" variants through
// SetListElement. eventCallback is kind 10 with a DmlpEventCallback.
VXDMLP_API DmlpStatus DMLP_SubscribeEvent(DmlpBinding binding, const uint32_t objectRef[2], uint32_t reserved,
                                          uint32_t value, const DmlpEventList* events, uint32_t extra,
                                          const DmlpCallback* eventCallback);
VXDMLP_API DmlpStatus DMLP_SubscribeEvent2(DmlpBinding binding, const uint32_t objectRef[2], uint32_t reserved,
                                           uint32_t value, const DmlpEventList* events, uint32_t extra,
                                           const DmlpCallback* eventCallback);
VXDMLP_API DmlpStatus DMLP_SubscribeEventAsync(const DmlpCallback* resultCallback, DmlpBinding binding,
                                               const uint32_t objectRef[2], uint32_t reserved, uint32_t value,
                                               const DmlpEventList* events, uint32_t extra,
                                               const DmlpCallback* eventCallback);
VXDMLP_API DmlpStatus DMLP_SubscribeEventAsync2(const DmlpCallback* resultCallback, DmlpBinding binding,
                                                const uint32_t objectRef[2], uint32_t reserved, uint32_t value,
                                                const DmlpEventList* events, uint32_t extra,
                                                const DmlpCallback* eventCallback);
VXDMLP_API DmlpStatus DMLP_UnsubscribeEvent(DmlpBinding binding, const uint32_t objectRef[2], uint32_t value);
VXDMLP_API DmlpStatus DMLP_UnsubscribeEvent2(DmlpBinding binding, const uint32_t objectRef[2], uint32_t value);
VXDMLP_API DmlpStatus DMLP_UnsubscribeEventAsync(const DmlpCallback* resultCallback, DmlpBinding binding,
                                                 const uint32_t objectRef[2], uint32_t value);
VXDMLP_API DmlpStatus DMLP_UnsubscribeEventAsync2(const DmlpCallback* resultCallback, DmlpBinding binding,
                                                  const uint32_t objectRef[2], uint32_t value);

// Echo to a UDP (kind 2) or IPX (kind 3) address; the device list comes through callback
// (kind 10) with method 1. local may be null.
VXDMLP_API DmlpStatus DMLP_DiscoverAsync(const DmlpCallback* callback, const DmlpAddress* target, uint32_t timeout,
                                         const DmlpAddress* local);

// ---- Requests ---------------------------------------------------------------------------------------

// Every request export has this form. mode 1 (DMLP_MODE_SYNC): waits for the reply; result is the
// method's result record (its size below), zeroed first. mode 2 (DMLP_MODE_ASYNC): returns once
// queued; the outcome comes through callback->function.result with the decoded result in a
// DmlpParamBlock (release it with DMLP_ReleaseParam); callback may be null. objectRef goes into
// the header's object words; params is the method's record of VxDmlpParams.h.
typedef DmlpStatus (*DmlpRequestExport)(uint8_t mode, const DmlpCallback* callback, DmlpBinding binding,
                                        const uint32_t objectRef[2], const void* params, void* result);

// The request exports: X(name, ordinal, class, method, result bytes). Class 2 requests open, feed
// or close a device-side work object.
#define DMLP_REQUEST_EXPORTS(X)                  \
    X(AcquireRecords, 300, 2, 77, 48)            \
    X(AcquireRecords2, 301, 2, 110, 40)          \
    X(AcquireResource, 310, 2, 49, 48)           \
    X(AddUser, 320, 1, 12, 8)                    \
    X(AppendToList, 340, 1, 8, 8)                \
    X(AppendToListEx, 350, 1, 57, 48)            \
    X(Awake, 360, 1, 40, 4)                      \
    X(BinderEnd, 370, 2, 22, 4)                  \
    X(BinderStart, 380, 2, 20, 4)                \
    X(CancelJob, 390, 1, 31, 4)                  \
    X(CheckFileBoxPassword, 392, 1, 70, 8)       \
    X(CheckUserPassword, 394, 1, 80, 8)          \
    X(ChangeFileBoxPassword, 400, 1, 71, 8)      \
    X(ChangeUserPassword, 410, 1, 14, 4)         \
    X(Continue, 440, 1, 37, 8)                   \
    X(CopyFile, 460, 1, 72, 48)                  \
    X(CopyFiles, 462, 1, 93, 40)                 \
    X(CreateFile, 480, 1, 73, 12)                \
    X(Delete, 482, 1, 11, 4)                     \
    X(DeleteFile, 490, 1, 74, 8)                 \
    X(DeleteFiles, 495, 1, 95, 40)               \
    X(DeleteFromList, 500, 1, 9, 8)              \
    X(DeleteFromListEx, 510, 1, 58, 48)          \
    X(DeleteUser, 520, 1, 13, 4)                 \
    X(Disable, 530, 1, 39, 4)                    \
    X(DocumentEnd, 540, 2, 25, 4)                \
    X(DocumentStart, 550, 2, 23, 4)              \
    X(Echo, 560, 1, 1, 48)                       \
    X(Enable, 570, 1, 38, 4)                     \
    X(ExecuteFile, 580, 1, 68, 16)               \
    X(ExecuteFile2, 585, 1, 112, 12)             \
    X(ExecuteMethod, 590, 1, 29, 48)             \
    X(FileStart, 600, 2, 76, 8)                  \
    X(FileModify, 605, 2, 92, 4)                 \
    X(Get, 610, 1, 4, 40)                        \
    X(Get2, 611, 1, 102, 40)                     \
    X(GetByUser, 620, 1, 60, 48)                 \
    X(GetDateTime, 630, 1, 16, 12)               \
    X(GetEx, 640, 1, 55, 56)                     \
    X(GetFromFileBox, 645, 1, 87, 40)            \
    X(GetListElement, 648, 1, 103, 48)           \
    X(InitializeRecord, 650, 1, 81, 4)           \
    X(Interact, 670, 1, 36, 8)                   \
    X(InterruptJob, 690, 1, 35, 4)               \
    X(JobEnd, 700, 2, 19, 8)                     \
    X(JobStart, 710, 2, 17, 12)                  \
    X(JobStart2, 715, 2, 107, 48)                \
    X(KeepAlive, 720, 1, 85, 8)                  \
    X(List, 730, 1, 5, 48)                       \
    X(ListAttributes, 740, 1, 6, 48)             \
    X(ListEx, 750, 1, 56, 64)                    \
    X(ListFiles, 760, 1, 69, 48)                 \
    X(ListHandleAttributes, 770, 1, 84, 40)      \
    X(ListJobAttributes, 780, 1, 83, 48)         \
    X(ListJobs, 790, 1, 82, 56)                  \
    X(ListObjectAttributes, 800, 1, 53, 40)      \
    X(ListObjects, 810, 1, 7, 48)                \
    X(ListObjects2, 812, 1, 114, 56)             \
    X(ListSubPages, 815, 1, 88, 48)              \
    X(MaintainOff, 820, 1, 79, 4)                \
    X(MaintainOn, 830, 1, 78, 4)                 \
    X(MoveFile, 840, 1, 44, 12)                  \
    X(MoveFiles, 842, 1, 94, 40)                 \
    X(PauseJob, 850, 1, 32, 4)                   \
    X(PromoteJob, 860, 1, 34, 8)                 \
    X(ReplaceFile, 862, 1, 96, 48)               \
    X(ReplaceFiles, 864, 1, 97, 40)              \
    X(Reserve, 870, 1, 2, 40)                    \
    X(Reset, 880, 1, 42, 8)                      \
    X(ResourceEnd, 890, 2, 51, 4)                \
    X(ResourceModify, 900, 2, 48, 4)             \
    X(ResourceStart, 910, 2, 46, 4)              \
    X(ResourceStart2, 911, 2, 111, 40)           \
    X(ResumeJob, 920, 1, 33, 4)                  \
    X(ResumeJobWithPassword, 930, 1, 64, 4)      \
    X(Send, 950, 2, 26, 8)                       \
    X(SendRequest, 960, 2, 27, 64)               \
    X(Set, 970, 1, 3, 40)                        \
    X(Set2, 975, 1, 105, 40)                     \
    X(SetBinder, 980, 2, 21, 40)                 \
    X(SetByUser, 990, 1, 59, 48)                 \
    X(SetDateTime, 1000, 1, 15, 12)              \
    X(SetDocument, 1010, 2, 24, 40)              \
    X(SetEx, 1020, 1, 54, 56)                    \
    X(SetListElement, 1021, 1, 106, 8)           \
    X(SetToFileBox, 1025, 1, 86, 40)             \
    X(SetJob, 1030, 2, 18, 40)                   \
    X(SetResource, 1040, 2, 50, 40)              \
    X(Shutdown, 1050, 1, 43, 8)                  \
    X(Sleep, 1060, 1, 41, 4)                     \
    X(TraceJob, 1065, 1, 109, 56)                \
    X(Trigger, 1070, 1, 28, 8)                   \
    X(Unreserve, 1080, 1, 63, 32)

// Exports that are not supported: they read no argument and return 7. X(name, ordinal).
#define DMLP_STUB_EXPORTS(X) \
    X(Alias, 330)            \
    X(CleanJob, 420)         \
    X(CleanResource, 430)    \
    X(Copy, 450)             \
    X(CopyPage, 465)         \
    X(Create, 470)           \
    X(DeletePage, 515)       \
    X(InitialValueStart, 660) \
    X(Interrupt, 680)        \
    X(MovePage, 845)         \
    X(Revert, 940)

// The library-level exports: X(name, ordinal).
#define DMLP_LIBRARY_EXPORTS(X)         \
    X(Initialize, 100)                  \
    X(Terminate, 110)                   \
    X(Bind, 120)                        \
    X(BindAsync, 130)                   \
    X(Unbind, 140)                      \
    X(UnbindAsync, 150)                 \
    X(FreeMemory, 160)                  \
    X(AllocMemory, 170)                 \
    X(ReleaseParam, 180)                \
    X(SubscribeEvent, 190)              \
    X(SubscribeEventAsync, 200)         \
    X(SubscribeEvent2, 203)             \
    X(SubscribeEventAsync2, 205)        \
    X(UnsubscribeEvent, 210)            \
    X(UnsubscribeEventAsync, 220)       \
    X(UnsubscribeEvent2, 223)           \
    X(UnsubscribeEventAsync2, 225)      \
    X(GetEPAddress, 230)                \
    X(GetEPProperty, 250)               \
    X(SetEPProperty, 260)               \
    X(DiscoverAsync, 270)               \
    X(ResizeWindow, 280)

#define DMLP_DECLARE_REQUEST_EXPORT(name, ordinal, cls, method, size)                                  \
    VXDMLP_API DmlpStatus DMLP_##name(uint8_t mode, const DmlpCallback* callback, DmlpBinding binding, \
                                      const uint32_t objectRef[2], const void* params, void* result);
DMLP_REQUEST_EXPORTS(DMLP_DECLARE_REQUEST_EXPORT)
#undef DMLP_DECLARE_REQUEST_EXPORT

#define DMLP_DECLARE_STUB_EXPORT(name, ordinal) VXDMLP_API DmlpStatus DMLP_##name(void);
DMLP_STUB_EXPORTS(DMLP_DECLARE_STUB_EXPORT)
#undef DMLP_DECLARE_STUB_EXPORT
