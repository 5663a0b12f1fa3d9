#include "ClientJobId.h"

#include <cstring>

#include "TraceLog.h"

namespace {

const char kSource[] = "ClientJobId";

void copyRecord(ClJobID* destination, const ClJobID* source)
{
    destination->Data1 = source->Data1;
    destination->Data2 = source->Data2;
    destination->Data3 = source->Data3;
    memcpy(destination->Data4, source->Data4, CLJOBID_DATA4_BYTES);
    memcpy(destination->JobText, source->JobText, CLJOBID_JOBTEXT_BYTES);
}

} // namespace

clClientJobId::clClientJobId()
{
    g_TraceLog.vTraceFunction(W(""), 2, TRACE_MARKER_FUNCTION_IN, kSource, "clClientJobId");
    g_TraceLog.vTraceFunction(W(""), 2, TRACE_MARKER_FUNCTION_OUT, kSource, "clClientJobId");
}

clClientJobId::~clClientJobId()
{
    g_TraceLog.vTraceFunction(W(""), 2, TRACE_MARKER_FUNCTION_IN, kSource, "~clClientJobId");
    g_TraceLog.vTraceFunction(W(""), 2, TRACE_MARKER_FUNCTION_OUT, kSource, "~clClientJobId");
}

void clClientJobId::Copy(const ClJobID* source, ClJobID* destination)
{
    g_TraceLog.vTraceFunction(W(""), 2, TRACE_MARKER_FUNCTION_IN, kSource, "Copy");
    if (source && destination)
        copyRecord(destination, source);
    g_TraceLog.vTraceFunction(W(""), 2, TRACE_MARKER_FUNCTION_OUT, kSource, "Copy");
}

void clClientJobId::Register(ClJobID* destination, const ClJobID* source)
{
    g_TraceLog.vTraceFunction(W(""), 2, TRACE_MARKER_FUNCTION_IN, kSource, "Register");
    if (source && destination)
        copyRecord(destination, source);
    g_TraceLog.vTraceFunction(W(""), 2, TRACE_MARKER_FUNCTION_OUT, kSource, "Register");
}

int clClientJobId::Identical(const ClJobID* first, const ClJobID* second)
{
    g_TraceLog.vTraceFunction(W(""), 2, TRACE_MARKER_FUNCTION_IN, kSource, "Identical");
    int identical = first && second && first->Data1 == second->Data1 && first->Data2 == second->Data2 &&
                    first->Data3 == second->Data3 &&
                    memcmp(first->Data4, second->Data4, CLJOBID_DATA4_BYTES) == 0 &&
                    memcmp(first->JobText, second->JobText, CLJOBID_JOBTEXT_BYTES) == 0;
    g_TraceLog.vTraceFunction(W(""), 2, TRACE_MARKER_FUNCTION_OUT, kSource, "Identical");
    return identical;
}
