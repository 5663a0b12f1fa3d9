// clDMLLIB_Operation: the call context of every protocol request and one wrapper per protocol
// call, each setting the phase of the result code; plus the job-object search that the status,
// trace and cancel flows share.
#pragma once

#include <vector>

#include "DecodedValues.h"
#include "DmlpEntries.h"
#include "clDMLLIB.h"

#define CLIB_JOB_CLASS 501

class clDMLLIB_Operation : public clDMLLIB {
public:
    clDMLLIB_Operation(DmlpInstance hAplh, const WCHAR* lpPortName);

    WORD rtnBind() override;

    WORD rtnGet2(const DmlpGet2Params* lpRequest, DmlpGet2Result* lpResult);
    WORD rtnListObjects2(const DmlpListObjects2Params* lpRequest, DmlpListObjects2Result* lpResult);
    // With bPause, after the pause that gives the device time to file a job that just left it.
    WORD rtnTraceJob(const DmlpTraceJobParams* lpRequest, DmlpTraceJobResult* lpResult, BOOL bPause);
    WORD rtnCancelJob(const DmlpCancelJobParams* lpRequest, DmlpCancelJobResult* lpResult);
    WORD rtnSubscribeEvent(DWORD dwObjectClass, const DmlpEventList* lpEvents, const DmlpCallback* lpCallback);
    WORD rtnSubscribeEvent2(DWORD dwObjectClass, const DmlpEventList* lpEvents, const DmlpCallback* lpCallback);
    WORD rtnUnsubscribeEvent(DWORD dwObjectClass);
    WORD rtnUnsubscribeEvent2(DWORD dwObjectClass);
    WORD rtnReleaseParam(WORD wStatusBefore, void* lpParam);
    WORD rtnFreeMemory(WORD wStatusBefore, DmlpBuffer* lpBuffer);
    BOOL bSetEndPointHandle(DmlpBinding hBind);

protected:
    // One attribute request (Get2) for a single object.
    WORD rtnGet2Object(WORD wClass, DWORD hObject, const WORD* lpAttributes, WORD wCount, DmlpGet2Result* lpResult);
    // One attribute request for several objects; the reply lists them in the order asked.
    WORD rtnGet2Objects(WORD wClass, const DWORD* lpHandles, WORD wHandles, const WORD* lpAttributes, WORD wCount,
                        DmlpGet2Result* lpResult);
    // Lists the device's job objects into m_Handles.
    WORD rtnDoListObjects2();
    // The handle of the first object of the reply whose attribute 280 equals lpWanted.
    BOOL bGetMatchedObjectHandle(const DmlpGet2Result* lpReply, const ClJobID* lpWanted, DWORD* lphObject);
    // The impressions completed (attribute 277) of a job object; FALSE when it has none.
    BOOL bGetJobOutputCnt(const DmlpGet2Object* lpObject, DWORD* lpImprCompCnt);

    std::vector<DWORD> m_Handles;

private:
    // Each wrapper's call, traced under the wrapper's name.
    WORD rtnRequest(const char* lpWrapper, BYTE byPhase, DmlpRequestExport lpExport, const void* lpRequest,
                    void* lpResult);
    WORD rtnSubscribe(const char* lpWrapper, BYTE byPhase, decltype(&DMLP_SubscribeEvent) lpExport, DWORD dwObjectClass,
                      const DmlpEventList* lpEvents, const DmlpCallback* lpCallback);
    WORD rtnUnsubscribe(const char* lpWrapper, BYTE byPhase, decltype(&DMLP_UnsubscribeEvent) lpExport,
                        DWORD dwObjectClass);

    const DmlpCallback* m_lpCallback;
    BYTE m_byMode;
    uint32_t m_RequestId[2];
};

// The matched object's entry in a Get2 reply; NULL when the handle is not in it.
const DmlpGet2Object* ClibObjectOf(const DmlpGet2Result* lpReply, DWORD hObject);
