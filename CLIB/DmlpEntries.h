// The protocol library as the client library reaches it: one table of VxDmlp's entry points and
// the allocator of the operation objects. The library's own table points at VxDmlp.so's exports;
// tests replace single entries to make faults that a real device cannot produce.
#pragma once

#include <cstddef>

#include "VxDmlpApi.h"

struct DmlpEntryPoints {
    decltype(&DMLP_Initialize) Initialize;
    decltype(&DMLP_Terminate) Terminate;
    decltype(&DMLP_Bind) Bind;
    decltype(&DMLP_Unbind) Unbind;
    decltype(&DMLP_FreeMemory) FreeMemory;
    decltype(&DMLP_ReleaseParam) ReleaseParam;
    decltype(&DMLP_SubscribeEvent) SubscribeEvent;
    decltype(&DMLP_SubscribeEvent2) SubscribeEvent2;
    decltype(&DMLP_UnsubscribeEvent) UnsubscribeEvent;
    decltype(&DMLP_UnsubscribeEvent2) UnsubscribeEvent2;
    DmlpRequestExport Get2;
    DmlpRequestExport ListObjects2;
    DmlpRequestExport TraceJob;
    DmlpRequestExport CancelJob;
    // Memory of the operation objects; NULL when there is none.
    void* (*AllocateObject)(size_t size);
    void (*FreeObject)(void* object);
};

extern DmlpEntryPoints g_DmlpEntries;
