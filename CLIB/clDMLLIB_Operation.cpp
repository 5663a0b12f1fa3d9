#include "clDMLLIB_Operation.h"

#include <cstring>

#include "ClibTrace.h"
#include "DmlpEntries.h"

namespace {

const DWORD kPauseBeforeTraceMs = 1500;
const uint32_t kSubscribeReserved = 2;
const uint32_t kSubscribeExtra = 0x01000000;

// The 64 bytes of a decoded attribute 280, compared field by field with the wanted id.
bool sameClientJobId(const void* value, const ClJobID* wanted)
{
    ClJobID got;
    memcpy(&got, value, sizeof got);
    clClientJobId ids;
    return ids.Identical(&got, wanted) == 1;
}

} // namespace

const DmlpGet2Object* ClibObjectOf(const DmlpGet2Result* lpReply, DWORD hObject)
{
    for (uint16_t i = 0; lpReply->objects && i < lpReply->count; ++i)
        if (lpReply->objects[i].handle == hObject)
            return &lpReply->objects[i];
    return nullptr;
}

clDMLLIB_Operation::clDMLLIB_Operation(DmlpInstance hAplh, const WCHAR* lpPortName)
    : clDMLLIB(hAplh, lpPortName), m_lpCallback(nullptr), m_byMode(DMLP_MODE_SYNC), m_RequestId{0, 0}
{
}

WORD clDMLLIB_Operation::rtnBind()
{
    WORD rtnRet = clDMLLIB::rtnBind();
    CLIB_TRACE(W("Return Value rtnRet = [%ld]"), static_cast<LONG>(rtnRet));
    return rtnRet;
}

WORD clDMLLIB_Operation::rtnRequest(const char* lpWrapper, BYTE byPhase, DmlpRequestExport lpExport,
                                    const void* lpRequest, void* lpResult)
{
    WORD rtnRet = DMLPLIBERR_NOT_CALLED;
    if (lpRequest && lpResult) {
        vSetPhase(byPhase);
        rtnRet = lpExport(m_byMode, m_lpCallback, m_hBind, m_RequestId, lpRequest, lpResult);
    }
    g_TraceLog.vPrintMessage(__FILE__, lpWrapper, W("Return Value rtnRet = [%ld]"), static_cast<LONG>(rtnRet));
    return rtnRet;
}

WORD clDMLLIB_Operation::rtnGet2(const DmlpGet2Params* lpRequest, DmlpGet2Result* lpResult)
{
    return rtnRequest(__func__, DMLLIB_PHASE_GET2, g_DmlpEntries.Get2, lpRequest, lpResult);
}

WORD clDMLLIB_Operation::rtnListObjects2(const DmlpListObjects2Params* lpRequest, DmlpListObjects2Result* lpResult)
{
    return rtnRequest(__func__, DMLLIB_PHASE_LISTOBJECTS2, g_DmlpEntries.ListObjects2, lpRequest, lpResult);
}

WORD clDMLLIB_Operation::rtnTraceJob(const DmlpTraceJobParams* lpRequest, DmlpTraceJobResult* lpResult,
                                     BOOL bPause)
{
    // The device files a finished job in its log a moment after the job object goes away.
    if (bPause && lpRequest && lpResult)
        Sleep(kPauseBeforeTraceMs);
    return rtnRequest(__func__, DMLLIB_PHASE_TRACEJOB, g_DmlpEntries.TraceJob, lpRequest, lpResult);
}

WORD clDMLLIB_Operation::rtnCancelJob(const DmlpCancelJobParams* lpRequest, DmlpCancelJobResult* lpResult)
{
    return rtnRequest(__func__, DMLLIB_PHASE_CANCELJOB, g_DmlpEntries.CancelJob, lpRequest, lpResult);
}

WORD clDMLLIB_Operation::rtnSubscribe(const char* lpWrapper, BYTE byPhase, decltype(&DMLP_SubscribeEvent) lpExport,
                                      DWORD dwObjectClass, const DmlpEventList* lpEvents,
                                      const DmlpCallback* lpCallback)
{
    WORD rtnRet = DMLPLIBERR_NOT_CALLED;
    if (dwObjectClass != 0 && lpEvents && lpCallback) {
        vSetPhase(byPhase);
        rtnRet = lpExport(m_hBind, m_RequestId, kSubscribeReserved, dwObjectClass, lpEvents, kSubscribeExtra,
                          lpCallback);
    }
    g_TraceLog.vPrintMessage(__FILE__, lpWrapper, W("Return Value rtnRet = [%ld]"), static_cast<LONG>(rtnRet));
    return rtnRet;
}

WORD clDMLLIB_Operation::rtnSubscribeEvent(DWORD dwObjectClass, const DmlpEventList* lpEvents,
                                           const DmlpCallback* lpCallback)
{
    return rtnSubscribe(__func__, DMLLIB_PHASE_SUBSCRIBE, g_DmlpEntries.SubscribeEvent, dwObjectClass, lpEvents,
                        lpCallback);
}

WORD clDMLLIB_Operation::rtnSubscribeEvent2(DWORD dwObjectClass, const DmlpEventList* lpEvents,
                                            const DmlpCallback* lpCallback)
{
    return rtnSubscribe(__func__, DMLLIB_PHASE_SUBSCRIBE2, g_DmlpEntries.SubscribeEvent2, dwObjectClass, lpEvents,
                        lpCallback);
}

WORD clDMLLIB_Operation::rtnUnsubscribe(const char* lpWrapper, BYTE byPhase, decltype(&DMLP_UnsubscribeEvent) lpExport,
                                        DWORD dwObjectClass)
{
    WORD rtnRet = DMLPLIBERR_NOT_CALLED;
    if (dwObjectClass != 0) {
        vSetPhase(byPhase);
        rtnRet = lpExport(m_hBind, m_RequestId, dwObjectClass);
    }
    g_TraceLog.vPrintMessage(__FILE__, lpWrapper, W("Return Value rtnRet = [%ld]"), static_cast<LONG>(rtnRet));
    return rtnRet;
}

WORD clDMLLIB_Operation::rtnUnsubscribeEvent(DWORD dwObjectClass)
{
    return rtnUnsubscribe(__func__, DMLLIB_PHASE_UNSUBSCRIBE, g_DmlpEntries.UnsubscribeEvent, dwObjectClass);
}

WORD clDMLLIB_Operation::rtnUnsubscribeEvent2(DWORD dwObjectClass)
{
    return rtnUnsubscribe(__func__, DMLLIB_PHASE_UNSUBSCRIBE2, g_DmlpEntries.UnsubscribeEvent2, dwObjectClass);
}

WORD clDMLLIB_Operation::rtnReleaseParam(WORD wStatusBefore, void* lpParam)
{
    WORD released = lpParam ? g_DmlpEntries.ReleaseParam(lpParam) : DMLP_SUCCESS;
    WORD rtnRet = wStatusBefore;
    if (wStatusBefore == DMLP_SUCCESS) {
        vSetPhase(DMLLIB_PHASE_RELEASEPARAM);
        rtnRet = released;
    }
    CLIB_TRACE(W("Return Value rtnRet = [%ld]"), static_cast<LONG>(rtnRet));
    return rtnRet;
}

WORD clDMLLIB_Operation::rtnFreeMemory(WORD wStatusBefore, DmlpBuffer* lpBuffer)
{
    bool libraryBlock = lpBuffer && (lpBuffer->flags & DMLP_BUFFER_LIBRARY);
    WORD freed = libraryBlock ? g_DmlpEntries.FreeMemory(lpBuffer) : DMLP_SUCCESS;
    WORD rtnRet = wStatusBefore;
    if (wStatusBefore == DMLP_SUCCESS) {
        vSetPhase(DMLLIB_PHASE_FREEMEMORY);
        rtnRet = freed;
    }
    CLIB_TRACE(W("Return Value rtnRet = [%ld]"), static_cast<LONG>(rtnRet));
    return rtnRet;
}

WORD clDMLLIB_Operation::rtnGet2Object(WORD wClass, DWORD hObject, const WORD* lpAttributes, WORD wCount,
                                       DmlpGet2Result* lpResult)
{
    return rtnGet2Objects(wClass, &hObject, 1, lpAttributes, wCount, lpResult);
}

WORD clDMLLIB_Operation::rtnGet2Objects(WORD wClass, const DWORD* lpHandles, WORD wHandles, const WORD* lpAttributes,
                                        WORD wCount, DmlpGet2Result* lpResult)
{
    std::vector<uint32_t> handles(lpHandles, lpHandles + wHandles);
    DmlpGet2Params request = {};
    request.value1 = wClass;
    request.objectCount = wHandles;
    request.objects = handles.data();
    request.attributeIdCount = wCount;
    request.attributeIds = lpAttributes;
    *lpResult = DmlpGet2Result{};
    return rtnGet2(&request, lpResult);
}

WORD clDMLLIB_Operation::rtnDoListObjects2()
{
    DmlpListObjects2Params request = {};
    request.value4 = 201;
    request.value5 = 22;
    request.value6 = CLIB_JOB_CLASS;
    DmlpListObjects2Result result = {};
    m_Handles.clear();
    WORD rtnRet = rtnListObjects2(&request, &result);
    if (rtnRet == DMLP_SUCCESS && result.objects) {
        CLIB_TRACE(W("rtnListObjects2 sCount = [%d]"), result.count);
        m_Handles.assign(result.objects, result.objects + result.count);
        for (DWORD handle : m_Handles)
            if (handle != 0)
                CLIB_TRACE(W("rtnListObjects2 List = [%08lx]"), handle);
    }
    return rtnFreeMemory(rtnRet, &result.buffer);
}

BOOL clDMLLIB_Operation::bGetMatchedObjectHandle(const DmlpGet2Result* lpReply, const ClJobID* lpWanted,
                                                 DWORD* lphObject)
{
    BOOL bMatched = FALSE;
    for (uint16_t i = 0; !bMatched && lpReply->objects && i < lpReply->count; ++i) {
        const DmlpGet2Object& object = lpReply->objects[i];
        for (uint16_t a = 0; object.attributes && a < object.count; ++a) {
            const DmlpAttributeEntry& entry = object.attributes[a];
            if (entry.id != CLIB_ATTR_CLIENT_JOB_ID)
                continue;
            if (!entry.value || entry.length != 0)
                break;  // no decoded id: this object cannot match
            if (sameClientJobId(entry.value, lpWanted)) {
                *lphObject = object.handle;
                bMatched = TRUE;
                break;
            }
        }
    }
    CLIB_TRACE(W("Return Value bMatched = [%ls]"), ClibBoolText(bMatched));
    return bMatched;
}

BOOL clDMLLIB_Operation::bGetJobOutputCnt(const DmlpGet2Object* lpObject, DWORD* lpImprCompCnt)
{
    const void* value = ClibAttributeValue(lpObject->attributes, lpObject->count, CLIB_ATTR_IMPRESSIONS);
    if (!value)
        return FALSE;
    memcpy(lpImprCompCnt, value, sizeof *lpImprCompCnt);
    CLIB_TRACE(W("hObj:[%08x] ImprCompCnt:[%ld]"), lpObject->handle, *lpImprCompCnt);
    return TRUE;
}

BOOL clDMLLIB_Operation::bSetEndPointHandle(DmlpBinding hBind)
{
    BOOL bRet = hBind != nullptr;
    if (bRet) {
        m_hBind = hBind;
        m_bBind = TRUE;
    }
    CLIB_TRACE(W("Return bRet[%ls]"), ClibBoolText(bRet));
    return bRet;
}
